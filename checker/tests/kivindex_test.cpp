// Orders, index definitions, ranges, text scopes and the master-detail link
// against the real engine.
#include <string>
#include <vector>

#include "checker/kivindex.h"
#include "people_support.h"

namespace checker::testing {
namespace {

using namespace kivds;

class IndexTest : public PeopleFixture {
 protected:
  static void SetRange(TKivDataSet& ds, const std::string& from, const std::string& to, bool exclusiveStart = false) {
    ds.SetRangeStart();
    ds.FieldByName("NAME")->SetAsString(from);
    ds.SetKeyExclusive(exclusiveStart);
    ds.SetRangeEnd();
    ds.FieldByName("NAME")->SetAsString(to);
    ds.ApplyRange();
  }
};

TEST_F(IndexTest, OrdersFollowIndexNameAndIndexFieldNames) {
  MakeIndexedPeople({"Dee", "Ada", "Eve", "Bea"});
  TestTable ds(nullptr, conn, "people");
  ds.Open();
  EXPECT_EQ(Names(ds), "Dee,Ada,Eve,Bea");
  ds.SetIndexFieldNames(" NAME ");
  EXPECT_EQ(ds.IndexFieldNames(), "NAME");
  EXPECT_EQ(ds.ActiveIndexKind(), 2);
  EXPECT_EQ(Names(ds), "Ada,Bea,Dee,Eve");
  ds.SetIndexName("byage");
  EXPECT_EQ(ds.IndexFieldNames(), "");
  EXPECT_EQ(Names(ds), "Bea,Eve,Ada,Dee") << "descending ages 40, 30, 20, 10";
  ds.SetIndexName("");
  EXPECT_EQ(ds.ActiveIndexKind(), 0);
  EXPECT_EQ(Names(ds), "Dee,Ada,Eve,Bea");
}

TEST_F(IndexTest, FieldNamesNoIndexCoversRaiseAndKeepTheOldOrder) {
  MakeIndexedPeople({"Dee", "Ada", "Eve", "Bea"});
  TestTable ds(nullptr, conn, "people");
  ds.Open();
  ds.SetIndexFieldNames("NAME");
  ds.First();
  ds.Next();
  EXPECT_EQ(MessageOf<EKIVDatabaseError>([&] { ds.SetIndexFieldNames("AGE;NAME"); }),
            "Not a valid index field name:AGE;NAME");
  EXPECT_EQ(ds.IndexFieldNames(), "NAME");
  EXPECT_EQ(ds.ActiveIndexKind(), 2);
  EXPECT_EQ(ds.FieldByName("NAME")->AsString(), "Bea") << "the cursor stays";
  EXPECT_EQ(Names(ds), "Ada,Bea,Dee,Eve");
  // A failing name keeps the order as well.
  EXPECT_NE(MessageOf<EKIVDatabaseError>([&] { ds.SetIndexName("NOSUCH"); }), "(nothing raised)");
  EXPECT_EQ(ds.IndexFieldNames(), "NAME");
  EXPECT_EQ(Names(ds), "Ada,Bea,Dee,Eve");
}

TEST_F(IndexTest, IndexDefsDescribeTheEngineIndexes) {
  MakeIndexedPeople({"Ada"});
  TestTable ds(nullptr, conn, "people");
  ds.Open();
  TIndexDefs& defs = ds.IndexDefs();
  ASSERT_EQ(defs.Count(), 2);
  EXPECT_EQ(defs[0]->Name(), "BYNAME");
  EXPECT_EQ(defs[0]->Fields(), "NAME");
  EXPECT_EQ(defs[0]->Options(), 0u);
  EXPECT_EQ(defs[1]->Name(), "BYAGE");
  EXPECT_EQ(defs[1]->Fields(), "AGE");
  EXPECT_EQ(defs[1]->Options(), unsigned{ixDescending});
  EXPECT_TRUE(ds.GetIsIndexField(ds.FieldByName("NAME")) == false) << "natural order";
  ds.SetIndexName("BYNAME");
  EXPECT_TRUE(ds.GetIsIndexField(ds.FieldByName("NAME")));
  EXPECT_FALSE(ds.GetIsIndexField(ds.FieldByName("AGE")));
}

TEST_F(IndexTest, RangesRestrictRowsAndApplyingTheSameRangeAgainTouchesNoEngineScope) {
  MakeIndexedPeople({"Dee", "Ada", "Eve", "Bea", "Cy"});
  TestTable ds(nullptr, conn, "people");
  ds.Open();
  EXPECT_EQ(MessageOf<EKIVDatabaseError>([&] { ds.SetRangeStart(); }), "Index is not set.");
  ds.SetIndexName("BYNAME");
  SetRange(ds, "Bea", "Dee");
  EXPECT_EQ(Names(ds), "Bea,Cy,Dee");
  {
    CallRecorder calls;
    ds.ApplyRange();
    const std::vector<std::string> log = calls.Take();
    EXPECT_EQ(CountOf(log, "KivSetScope"), 0);
    EXPECT_EQ(CountOf(log, "KivBuildRawKey"), 0);
  }
  EXPECT_EQ(Names(ds), "Bea,Cy,Dee");

  // A cancelled key edit keeps the applied range.
  ds.SetRangeStart();
  ds.FieldByName("NAME")->SetAsString("Ada");
  ds.Cancel();
  EXPECT_EQ(ds.State(), dsBrowse);
  {
    CallRecorder calls;
    ds.ApplyRange();
    EXPECT_EQ(CountOf(calls.Take(), "KivSetScope"), 0);
  }

  SetRange(ds, "Bea", "Dee", true);
  EXPECT_EQ(Names(ds), "Cy,Dee") << "an exclusive start leaves its own key out";
  ds.CancelRange();
  EXPECT_EQ(Names(ds), "Ada,Bea,Cy,Dee,Eve");
}

TEST_F(IndexTest, ARangeAndAScopeExcludeEachOther) {
  MakeIndexedPeople({"Dee", "Ada", "Eve", "Bea", "Cy"});
  TestTable ds(nullptr, conn, "people");
  ds.Open();
  EXPECT_EQ(MessageOf<EKIVDatabaseError>([&] { ds.SetScoped(true); }),
            "Cannot activate scope when there is no active index.");
  EXPECT_FALSE(ds.Scoped());
  ds.SetIndexName("BYNAME");
  SetRange(ds, "Bea", "Cy");
  EXPECT_EQ(MessageOf<EKIVDatabaseError>([&] { ds.SetScoped(true); }),
            "Cannot activate scope when there is an active range.");
  EXPECT_FALSE(ds.Scoped());
  ds.CancelRange();

  ds.SetScopeBegin("B");
  ds.SetScopeEnd("Dz");
  ds.SetScoped(true);
  EXPECT_EQ(Names(ds), "Bea,Cy,Dee");
  EXPECT_EQ(MessageOf<EKIVDatabaseError>([&] { SetRange(ds, "Ada", "Eve"); }),
            "Cannot set range on table when there is an active scope.");
  ds.SetScoped(false);
  EXPECT_EQ(Names(ds), "Ada,Bea,Cy,Dee,Eve");
  // Switching the order turns the scope off.
  ds.SetScoped(true);
  ds.SetIndexName("BYAGE");
  EXPECT_FALSE(ds.Scoped());
  EXPECT_EQ(Names(ds), "Cy,Bea,Eve,Ada,Dee");
}

TEST_F(IndexTest, ScopeTextsHoldTheEnginesScopeLimit) {
  MakeIndexedPeople({"Ada"});
  TestTable ds(nullptr, conn, "people");
  const std::string longest(4082, 'A');
  ds.SetScopeBegin(longest);
  ds.SetScopeEnd(longest);
  EXPECT_EQ(ds.ScopeBegin().size(), 4082u);
  for (const std::string& text : {std::string(4083, 'A'), std::string(5000, 'A')}) {
    EXPECT_EQ(MessageOf<EKIVDatabaseError>([&] { ds.SetScopeBegin(text); }), "Scope text length exceeded 4082");
    EXPECT_EQ(MessageOf<EKIVDatabaseError>([&] { ds.SetScopeEnd(text); }), "Scope text length exceeded 4082");
  }
  EXPECT_EQ(ds.ScopeBegin(), longest) << "a refused text leaves the old one";
  // The longest text is one the engine takes as a scope.
  ds.Open();
  ds.SetIndexName("BYNAME");
  ds.SetScoped(true);
  EXPECT_TRUE(ds.Scoped());
  EXPECT_EQ(Names(ds), "") << "no name sorts between 4082 A's and itself";
}

class MasterDetailTest : public IndexTest {
 protected:
  void SetUp() override {
    IndexTest::SetUp();
    MakeTable("owners", KIV_TABLE_KDT, "NAME,C,10", [](KIVHANDLE t) {
      for (const char* n : {"Ada", "Bea", "Cy"}) {
        KIV_ASSERT_OK(KivAppendRecord(t));
        KIV_ASSERT_OK(KivSetString(t, "NAME", n, static_cast<uint32_t>(strlen(n))));
        KIV_ASSERT_OK(KivWriteRecord(t));
      }
    });
    MakeTable("pets", KIV_TABLE_KDT, "OWNER,C,10;NAME,C,10", [](KIVHANDLE t) {
      const char* rows[][2] = {{"Bea", "Rex"}, {"Ada", "Tom"}, {"Bea", "Kit"}, {"Ada", "Bo"}, {"Dee", "Max"}};
      for (auto& row : rows) {
        KIV_ASSERT_OK(KivAppendRecord(t));
        KIV_ASSERT_OK(KivSetString(t, "OWNER", row[0], static_cast<uint32_t>(strlen(row[0]))));
        KIV_ASSERT_OK(KivSetString(t, "NAME", row[1], static_cast<uint32_t>(strlen(row[1]))));
        KIV_ASSERT_OK(KivWriteRecord(t));
      }
      KIVHANDLE index = 0;
      KIV_ASSERT_OK(KivCreateIndex(t, nullptr, "BYOWNER", "OWNER", nullptr, nullptr, 0, &index));
    });
  }
};

TEST_F(MasterDetailTest, TheDetailShowsTheRowsOfTheCurrentMasterRecord) {
  TestTable master(nullptr, conn, "owners");
  TestTable detail(nullptr, conn, "pets");
  TDataSource source(nullptr);
  source.SetDataSet(&master);
  detail.SetIndexFieldNames("OWNER");
  detail.SetMasterSource(&source);
  detail.SetMasterFields("NAME");
  EXPECT_EQ(detail.MasterFields(), "NAME");
  master.Open();
  detail.Open();
  EXPECT_EQ(Names(detail), "Tom,Bo");
  master.Next();
  EXPECT_EQ(Names(detail), "Rex,Kit");
  master.Next();
  EXPECT_EQ(Names(detail), "") << "Cy has no pets";
  master.First();
  EXPECT_EQ(Names(detail), "Tom,Bo");
  // Without a master the detail shows every row again.
  master.Close();
  EXPECT_EQ(Names(detail), "Tom,Bo,Rex,Kit,Max");
}

TEST_F(MasterDetailTest, AMasterSourceLinkedToTheDetailIsRefused) {
  TestTable detail(nullptr, conn, "pets");
  TDataSource own(nullptr);
  own.SetDataSet(&detail);
  EXPECT_EQ(MessageOf<EKIVDatabaseError>([&] { detail.SetMasterSource(&own); }), "Circular Data Link");
  EXPECT_EQ(detail.MasterSource(), nullptr);
}

TEST_F(IndexTest, IndexFilesNeedAnOwnerAndOpenWithAnActiveTable) {
  EXPECT_EQ(MessageOf<EKIVDatabaseError>([] { TKivIndexFiles files(nullptr); }),
            "TKivIndexFiles instances require a non-nil owner");
  MakePeople("people", KIV_TABLE_CDX, {"Bea", "Ada"});
  {
    KIVHANDLE t = 0, index = 0;
    KIV_ASSERT_OK(KivOpenTable(conn, "people", nullptr, KIV_TABLE_CDX, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE,
                               KIV_RIGHTS_NO_CHECK, KIV_OPEN_EXCLUSIVE, &t));
    KIV_ASSERT_OK(KivCreateIndex(t, (dir.path() + "/names.cdx").c_str(), "BYNAME", "NAME", "", "", 0, &index));
    KIV_ASSERT_OK(KivCloseTable(t));
  }
  TestTable ds(nullptr, conn, (dir.path() + "/people").c_str());
  ds.SetSourceTableType(ttKivCDX);
  TKivIndexFiles files(&ds);
  EXPECT_EQ(MessageOf<EKIVDatabaseError>([&] { ds.OpenIndexFile("names.cdx"); }), "Table must be Active.");
  ds.Open();
  EXPECT_EQ(ds.IndexDefs().Count(), 0);
  files.Add(dir.path() + "/names.cdx");
  files.Add(dir.path() + "/names.cdx");
  EXPECT_EQ(files.Count(), 1) << "duplicates are ignored";
  ds.IndexDefs().Update();
  ASSERT_EQ(ds.IndexDefs().Count(), 1);
  ds.SetIndexName("BYNAME");
  EXPECT_EQ(Names(ds), "Ada,Bea");
  files.Clear();
  EXPECT_EQ(ds.IndexName(), "") << "closing the file of the order leaves the order";
  EXPECT_EQ(Names(ds), "Bea,Ada");
  ds.IndexDefs().Update();
  EXPECT_EQ(ds.IndexDefs().Count(), 0);
}

}  // namespace
}  // namespace checker::testing
