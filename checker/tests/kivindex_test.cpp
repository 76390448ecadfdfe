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

TEST_F(IndexTest, ScopeTextsUpTo4083CharactersAreTakenAndTheEngineKeepsItsOwnLimit) {
  MakeIndexedPeople({"Ada"});
  TestTable ds(nullptr, conn, "people");
  struct Case {
    size_t length;
    bool taken;
  };
  const Case cases[] = {{4082, true}, {4083, true}, {4084, false}, {5000, false}};
  for (const Case& c : cases) {
    const std::string text(c.length, 'A');
    for (bool begin : {true, false}) {
      const std::string message = MessageOf<EKIVDatabaseError>([&] {
        if (begin) ds.SetScopeBegin(text);
        else ds.SetScopeEnd(text);
      });
      EXPECT_EQ(message, c.taken ? "(nothing raised)" : "Scope text length exceeded 4082") << c.length;
      EXPECT_EQ((begin ? ds.ScopeBegin() : ds.ScopeEnd()).size(), c.taken ? c.length : 4083u)
          << c.length << ": a refused text leaves the old one";
    }
  }
  // The engine takes scope keys of up to 4082 bytes: a 4083-character text
  // is refused when the scope is switched on, and the scope stays off.
  ds.Open();
  ds.SetIndexName("BYNAME");
  EXPECT_NE(MessageOf<EKIVDatabaseError>([&] { ds.SetScoped(true); }), "(nothing raised)");
  EXPECT_FALSE(ds.Scoped());
  ds.SetScopeBegin(std::string(4082, 'A'));
  ds.SetScopeEnd(std::string(4082, 'A'));
  ds.SetScoped(true);
  EXPECT_TRUE(ds.Scoped());
  EXPECT_EQ(Names(ds), "") << "no name sorts between 4082 A's and itself";
}

TEST_F(IndexTest, ExclusiveRangeStartsStepTheKeyOnlyOnTheEnginesOwnTables) {
  struct Case {
    uint16_t type;
    TKivTableTypes tableType;
    const char* names;
    int steps;
  };
  const Case cases[] = {
      {KIV_TABLE_KDT, ttKivKDT, "Cy,Dee", 1},
      {KIV_TABLE_CDX, ttKivCDX, "Bea,Cy,Dee", 0},
  };
  for (const Case& c : cases) {
    const std::string file = "people" + std::to_string(c.type);
    MakePeople(file.c_str(), c.type, {"Dee", "Ada", "Eve", "Bea", "Cy"});
    {
      KIVHANDLE t = 0, index = 0;
      KIV_ASSERT_OK(KivOpenTable(conn, file.c_str(), nullptr, c.type, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE,
                                 KIV_RIGHTS_NO_CHECK, KIV_OPEN_EXCLUSIVE, &t));
      KIV_ASSERT_OK(KivCreateIndex(t, nullptr, "BYNAME", "NAME", nullptr, nullptr, 0, &index));
      KIV_ASSERT_OK(KivCloseTable(t));
    }
    TestTable ds(nullptr, conn, file);
    ds.SetSourceTableType(c.tableType);
    ds.Open();
    ds.SetIndexName("BYNAME");
    CallRecorder calls;
    SetRange(ds, "Bea", "Dee", true);
    EXPECT_EQ(CountOf(calls.Take(), "KivStepIndexKey"), c.steps) << c.type;
    EXPECT_EQ(Names(ds), c.names) << c.type;
  }
}

TEST_F(IndexTest, AScopeSwitchedOffStaysOnItsRecordGoesOnWhenItIsGoneAndStartsOverWhenItWasEmpty) {
  MakeIndexedPeople({"Dee", "Ada", "Eve", "Bea", "Cy"});
  struct Case {
    const char* scopeEnd;
    bool gone;          // the record's move answers 5022
    int skips, firsts;  // KivSkip (Next) and KivGotoBOF (First) calls
    const char* shown;
  };
  const Case cases[] = {
      {"Dz", false, 0, 0, "Cy"},  // back on the same record
      {"Dz", true, 1, 0, nullptr},  // Next, not First
      {"B", false, 1, 1, "Ada"},  // the scope held nothing: First
  };
  for (const Case& c : cases) {
    TestTable ds(nullptr, conn, "people");
    ds.Open();
    ds.SetIndexName("BYNAME");
    ds.SetScopeBegin(c.scopeEnd[1] == 'z' ? "B" : "Bz");
    ds.SetScopeEnd(c.scopeEnd);
    ds.SetScoped(true);
    ds.First();
    ds.Next();
    if (c.gone) KivTestFailCall("KivGotoRecord", KIV_ERR_NO_SUCH_RECORD, "Record 5 does not exist", 1);
    CallRecorder calls;
    ds.SetScoped(false);
    const std::vector<std::string> log = calls.Take();
    KivTestClearFaults();
    EXPECT_FALSE(ds.Scoped());
    EXPECT_EQ(CountOf(log, "KivSkip"), c.skips) << c.scopeEnd << c.gone;
    EXPECT_EQ(CountOf(log, "KivGotoBOF"), c.firsts) << c.scopeEnd << c.gone;
    if (c.shown != nullptr) {
      EXPECT_EQ(ds.FieldByName("NAME")->AsString(), c.shown);
    }
    EXPECT_EQ(Names(ds), "Ada,Bea,Cy,Dee,Eve");
  }
}

TEST_F(IndexTest, RecordNumbersWithAnActiveIndexArePositionsInItsOrder) {
  MakeIndexedPeople({"Dee", "Ada", "Eve", "Bea"});
  TestTable ds(nullptr, conn, "people");
  ds.Open();
  ds.SetIndexName("BYNAME");  // Ada, Bea, Dee, Eve
  struct Case {
    int recNo;
    const char* name;
  };
  // Record number n goes to the relative position n / count (at most 1.0,
  // the last key); the engine takes 0.0 as the first key and 1.0 as the last.
  const Case cases[] = {{0, "Ada"}, {2, "Dee"}, {4, "Eve"}, {9, "Eve"}};
  for (const Case& c : cases) {
    CallRecorder calls;
    ds.SetRecNoValue(c.recNo);
    const std::vector<std::string> log = calls.Take();
    EXPECT_EQ(CountOf(log, "KivSetRelKeyPos"), 1) << c.recNo;
    EXPECT_EQ(CountOf(log, "KivGotoRecord"), 0) << c.recNo;
    EXPECT_EQ(ds.FieldByName("NAME")->AsString(), c.name) << c.recNo;
  }
  // Sequenced, the record number is the position in the order.
  ds.SetSequenced(true);
  ds.SetSequencedLevel(slExact);
  ds.First();
  ds.Next();
  EXPECT_EQ(ds.RecNo(), 2);
  ds.SetIndexName("");
  ds.SetRecNoValue(2);
  EXPECT_EQ(ds.FieldByName("NAME")->AsString(), "Ada") << "natural order: record 2";
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

TEST_F(MasterDetailTest, ADetailRecordInsertedUnderAMasterCarriesTheMastersKeyOnDisk) {
  TestTable master(nullptr, conn, "owners");
  TestTable detail(nullptr, conn, "pets");
  TDataSource source(nullptr);
  source.SetDataSet(&master);
  detail.SetIndexName("BYOWNER");
  detail.SetMasterSource(&source);
  detail.SetMasterFields("NAME");
  master.Open();
  detail.Open();
  master.Next();  // Bea
  detail.Insert();
  EXPECT_EQ(detail.FieldByName("OWNER")->AsString(), "Bea") << "given before the user types";
  detail.FieldByName("NAME")->SetAsString("Fido");
  detail.Post();
  EXPECT_EQ(Names(detail), "Rex,Kit,Fido");

  // Read back through a handle of the test's own.
  KIVHANDLE t = 0;
  KIV_ASSERT_OK(KivOpenTable(conn, "pets", nullptr, KIV_TABLE_KDT, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE,
                             KIV_RIGHTS_NO_CHECK, KIV_OPEN_SHARED, &t));
  KIV_ASSERT_OK(KivGotoBottom(t));
  char owner[11] = {}, name[11] = {};
  uint32_t length = 10;
  KIV_EXPECT_OK(KivGetField(t, "OWNER", owner, &length, 1));
  length = 10;
  KIV_EXPECT_OK(KivGetField(t, "NAME", name, &length, 1));
  EXPECT_STREQ(owner, "Bea");
  EXPECT_STREQ(name, "Fido");
  KivCloseTable(t);

  // Without a master the new record's key stays empty.
  detail.SetMasterSource(nullptr);
  detail.Insert();
  EXPECT_EQ(detail.FieldByName("OWNER")->AsString(), "");
  detail.Cancel();
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
