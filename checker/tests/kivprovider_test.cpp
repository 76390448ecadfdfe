// Provider support of the table and query components over real engine
// tables and a real data dictionary: statements and transactions through the
// linked connection, the default order, index definitions and key fields,
// parameters as ranges, and the reset of the provider state.
#include <string>
#include <vector>

#include "checker/kivquery.h"
#include "checker/kivtable.h"
#include "test_support.h"

using namespace checker;
using namespace checker::testing;
using namespace kivds;

namespace {

std::vector<std::string> Column(TDataSet& ds, const char* name) {
  std::vector<std::string> out;
  for (ds.First(); !ds.Eof(); ds.Next()) out.push_back(ds.FieldByName(name)->AsString());
  return out;
}

// people (KDT): ID N(4), NAME C(10), AGE N(3); orders BYID (unique), BYNAME,
// BYAGE (descending). A dictionary names it PEOPLE with BYID as its primary
// key and BYNAME as its default index.
class ProviderTest : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    MakeTable("people", KIV_TABLE_KDT, "ID,N,4;NAME,C,10;AGE,N,3", [](KIVHANDLE t) {
      const char* names[] = {"Dee", "Ada", "Eve", "Bea"};
      for (int i = 0; i < 4; ++i) {
        KIV_ASSERT_OK(KivAppendRecord(t));
        KIV_ASSERT_OK(KivSetLong(t, "ID", i + 1));
        KIV_ASSERT_OK(KivSetString(t, "NAME", names[i], 3));
        KIV_ASSERT_OK(KivSetLong(t, "AGE", 10 * (i + 1)));
        KIV_ASSERT_OK(KivWriteRecord(t));
      }
      KIVHANDLE index = 0;
      KIV_ASSERT_OK(KivCreateIndex(t, nullptr, "BYID", "ID", nullptr, nullptr, KIV_INDEX_UNIQUE, &index));
      KIV_ASSERT_OK(KivCreateIndex(t, nullptr, "BYNAME", "NAME", nullptr, nullptr, 0, &index));
      KIV_ASSERT_OK(KivCreateIndex(t, nullptr, "BYAGE", "AGE", nullptr, nullptr, KIV_INDEX_DESCENDING, &index));
    });
    kdd = dir.path() + "/app.kdd";
    KIV_ASSERT_OK(KivDDCreate(kdd.c_str(),
                              "table PEOPLE people.kdt\nproperty PEOPLE 202 BYID\nproperty PEOPLE 213 BYNAME\n"));
    cn.SetConnectPath(dir.path());
    SetDictionaryLogin(dictionary, kdd);
  }

  int StoredAge(const char* name) { return StoredAgeOf(conn, "people", name); }

  std::string kdd;
  TKivConnection cn{nullptr};
  TKivConnection dictionary{nullptr};
};

// ---- statements and transactions ------------------------------------------------

TEST_F(ProviderTest, ExecuteStatementHandsBackTheRowsOfASelect) {
  TKivTable tb(nullptr);
  tb.SetKivConnection(&cn);
  tb.SetTableName("people");
  TParams params;
  params.CreateParam(ftInteger, "low", ptInput)->SetAsInteger(15);
  std::unique_ptr<TDataSet> rows;
  EXPECT_EQ(tb.PSExecuteStatement("select name from people where age > :low order by name", &params, &rows), 0);
  ASSERT_NE(rows, nullptr);
  ASSERT_NE(dynamic_cast<TKivQuery*>(rows.get()), nullptr);
  EXPECT_TRUE(rows->Active());
  EXPECT_EQ(Column(*rows, "name"), (std::vector<std::string>{"Ada", "Bea", "Eve"}));
  const KIVHANDLE cursor = static_cast<TKivQuery*>(rows.get())->BaseHandle();
  rows.reset();  // the query closes the cursor it was given
  uint16_t type = 0;
  EXPECT_NE(KivGetHandleType(cursor, &type), KIV_OK);

  // Without a wanted result the answer is the number of rows changed.
  EXPECT_EQ(tb.PSExecuteStatement("update people set age = age + 1 where age >= 30", nullptr, nullptr), 2);
  EXPECT_EQ(StoredAge("Eve"), 31);
  EXPECT_EQ(StoredAge("Dee"), 10);
  // A failing text raises the engine's error and hands nothing back.
  rows.reset();
  EXPECT_THROW(tb.PSExecuteStatement("select nothing from nowhere", nullptr, &rows), EKIVDatabaseError);
  EXPECT_EQ(rows, nullptr);
}

TEST_F(ProviderTest, ATransactionRolledBackLeavesTheTableAsItWasOneCommittedKeepsTheChange) {
  TKivTable tb(nullptr);
  tb.SetKivConnection(&cn);
  tb.SetTableName("people");
  EXPECT_FALSE(tb.PSInTransaction()) << "not connected";
  EXPECT_EQ(MessageOf([&] { tb.PSStartTransaction(); }), "No connection to Morvane server.");
  cn.Connect();
  EXPECT_FALSE(tb.PSInTransaction());
  tb.PSStartTransaction();
  EXPECT_TRUE(tb.PSInTransaction());
  EXPECT_TRUE(cn.GetTransactionActive());
  tb.PSExecuteStatement("update people set age = 99 where id = 2", nullptr, nullptr);
  tb.Open();
  tb.Locate("ID", Variant(4), 0);
  tb.Edit();
  tb.FieldByName("AGE")->SetAsInteger(77);
  tb.Post();
  EXPECT_EQ(StoredAge("Ada"), 99);
  tb.PSEndTransaction(false);
  EXPECT_FALSE(tb.PSInTransaction());
  EXPECT_EQ(StoredAge("Ada"), 20);
  EXPECT_EQ(StoredAge("Bea"), 40);
  tb.Locate("ID", Variant(4), 0);
  EXPECT_EQ(tb.FieldByName("AGE")->AsInteger(), 40) << "the rollback refreshed the open table";

  tb.PSStartTransaction();
  tb.PSExecuteStatement("update people set age = 99 where id = 2", nullptr, nullptr);
  tb.PSEndTransaction(true);
  EXPECT_FALSE(tb.PSInTransaction());
  EXPECT_EQ(StoredAge("Ada"), 99);

  // Without a connection there is no transaction to start or end.
  TestTable free(nullptr, conn, "people");
  free.PSStartTransaction();
  EXPECT_FALSE(free.PSInTransaction());
  free.PSEndTransaction(true);
}

TEST_F(ProviderTest, ResetGoesBackToTheTopAndUpdateRecordAsksTheEvent) {
  TKivTable tb(nullptr);
  tb.SetKivConnection(&cn);
  tb.SetTableName("people");
  tb.PSReset();  // closed: nothing to do
  tb.Open();
  tb.Last();
  EXPECT_EQ(tb.FieldByName("NAME")->AsString(), "Bea");
  tb.PSReset();
  uint32_t record = 0;
  KIV_EXPECT_OK(KivGetRecordNum(tb.BaseHandle(), 2, &record));
  EXPECT_EQ(record, 1u) << "the engine cursor is on the top record";

  EXPECT_FALSE(tb.PSUpdateRecord(ukModify, &tb)) << "no event: not applied";
  std::vector<std::pair<TDataSet*, TUpdateKind>> asked;
  tb.OnUpdateRecord = [&](TDataSet* delta, TUpdateKind kind, TUpdateAction& action) {
    asked.emplace_back(delta, kind);
    EXPECT_EQ(action, uaFail);
    if (kind == ukInsert) action = uaApplied;
  };
  EXPECT_TRUE(tb.PSUpdateRecord(ukInsert, &tb));
  EXPECT_FALSE(tb.PSUpdateRecord(ukDelete, nullptr));
  ASSERT_EQ(asked.size(), 2u);
  EXPECT_EQ(asked[0].first, &tb);
  EXPECT_EQ(asked[1].second, ukDelete);
}

// ---- orders, index definitions and key fields ---------------------------------------

TEST_F(ProviderTest, IndexDefinitionsComeFromTheEngineWithTheDictionarysPrimaryKey) {
  dictionary.Connect();
  TKivTable tb(nullptr);
  tb.SetKivConnection(&dictionary);
  tb.SetTableName("PEOPLE");
  TestTable free(nullptr, conn, "people");
  for (TKivDataSet* ds : {static_cast<TKivDataSet*>(&tb), static_cast<TKivDataSet*>(&free)}) {
    const bool inDictionary = ds == &tb;
    ds->IndexDefs().SetUpdated(false);
    ds->IndexDefs().Update();  // closed: through a cursor of its own
    ASSERT_EQ(ds->IndexDefs().Count(), 3);
    EXPECT_EQ(ds->IndexDefs()[0]->Options(), inDictionary ? unsigned{ixPrimary | ixUnique} : unsigned{ixUnique});
    EXPECT_EQ(ds->IndexDefs()[1]->Options(), 0u);
    EXPECT_EQ(ds->IndexDefs()[2]->Options(), unsigned{ixDescending});
  }

  std::unique_ptr<TIndexDefs> unique = tb.PSGetIndexDefs(ixUnique | ixDescending);
  ASSERT_EQ(unique->Count(), 2);
  EXPECT_EQ((*unique)[0]->Name(), "BYID");
  EXPECT_EQ((*unique)[1]->Name(), "BYAGE");
  EXPECT_EQ(tb.PSGetIndexDefs(ixPrimary)->Count(), 1);
  EXPECT_EQ(tb.PSGetIndexDefs(0)->Count(), 3) << "no types asked: all";
}

TEST_F(ProviderTest, TheDefaultOrderIsTheChosenIndexElseThePrimaryKeyElseAUniqueOne) {
  dictionary.Connect();
  TKivTable tb(nullptr);
  tb.SetKivConnection(&dictionary);
  tb.SetTableName("PEOPLE");
  EXPECT_EQ(tb.IndexName(), "KIV_DEFAULT") << "the dictionary's default index";
  tb.Open();
  auto name = [](const std::unique_ptr<TIndexDef>& def) { return def ? def->Name() : std::string("(none)"); };
  EXPECT_EQ(name(tb.PSGetDefaultOrder()), "BYNAME");
  tb.SetIndexName("BYAGE");
  EXPECT_EQ(name(tb.PSGetDefaultOrder()), "BYAGE");
  EXPECT_EQ(tb.PSGetDefaultOrder()->Options(), unsigned{ixDescending});
  tb.SetIndexName("");
  EXPECT_EQ(name(tb.PSGetDefaultOrder()), "BYID") << "the primary key";
  tb.SetIndexFieldNames("NAME");
  EXPECT_EQ(name(tb.PSGetDefaultOrder()), "BYNAME");

  // A free table has no primary key: the first unique index serves.
  TKivTable free(nullptr);
  free.SetKivConnection(&cn);
  free.SetTableName("people");
  free.Open();
  EXPECT_EQ(name(free.PSGetDefaultOrder()), "BYID");
  EXPECT_EQ(free.PSGetKeyFields(), "ID");
  // Without the ID field no index serves.
  free.Close();
  free.FieldDefs().Update();
  free.FieldDefs()[1]->CreateField(&free, &free);
  free.FieldDefs()[2]->CreateField(&free, &free);
  free.Open();
  EXPECT_EQ(name(free.PSGetDefaultOrder()), "(none)");
  EXPECT_EQ(free.PSGetKeyFields(), "");
}

TEST_F(ProviderTest, ParametersBecomeARangeOfTheActiveIndexAndNoneCancelIt) {
  TKivTable tb(nullptr);
  tb.SetKivConnection(&cn);
  tb.SetTableName("people");
  tb.SetIndexName("BYNAME");
  TParams byPlace;
  byPlace.CreateParam(ftString, "", ptInput)->SetAsString("Bea");
  tb.PSSetParams(byPlace);  // opens
  EXPECT_TRUE(tb.Active());
  EXPECT_EQ(Column(tb, "NAME"), std::vector<std::string>{"Bea"});

  TParams byName;
  byName.CreateParam(ftString, "NAME", ptInput)->SetAsString("Eve");
  tb.PSSetParams(byName);
  EXPECT_EQ(Column(tb, "NAME"), std::vector<std::string>{"Eve"});

  tb.PSSetParams(TParams());
  EXPECT_EQ(Column(tb, "NAME"), (std::vector<std::string>{"Ada", "Bea", "Dee", "Eve"}));

  TParams tooMany;
  tooMany.CreateParam(ftString, "", ptInput)->SetAsString("Eve");
  tooMany.CreateParam(ftString, "", ptInput)->SetAsString("x");
  EXPECT_EQ(MessageOf<EKIVDatabaseError>([&] { tb.PSSetParams(tooMany); }), "The active index has no segment 2");
}

}  // namespace
