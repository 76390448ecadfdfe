// The query component over real engine statements: parameters parsed from
// the text and bound by number, the statement and its options, cursors read
// as datasets, statements without rows, connections by component or path.
#include <cstdlib>

#include "checker/kivquery.h"
#include "checker/kivtable.h"
#include "test_support.h"

using namespace checker;
using namespace checker::testing;
using namespace kivds;

namespace {

class QueryTest : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    MakePeople("people", KIV_TABLE_KDT, {"Ada", "Bea", "Cid", "Dan"});
    cn.SetConnectPath(dir.path());
  }
  void SetText(TKivQuery& q, const std::string& text) {
    TStringList lines;
    lines.SetText(text);
    q.SetSQL(lines);
  }
  static std::vector<std::string> Column(TKivDataSet& ds, const char* name) {
    std::vector<std::string> out;
    for (ds.First(); !ds.Eof(); ds.Next()) out.push_back(ds.FieldByName(name)->AsString());
    return out;
  }
  // Opens "people" by name descending (Dan, Cid, Bea, Ada) and makes an
  // index BYAGE on the query's cursor; answers the index.
  KIVHANDLE OpenByNameDescendingWithAnAgeIndex(TKivQuery& q) {
    q.SetKivConnection(&cn);
    SetText(q, "select name, age from people order by name desc");
    q.Open();
    KIVHANDLE index = 0;
    EXPECT_EQ(KivCreateIndex(q.BaseHandle(), nullptr, "BYAGE", "AGE", nullptr, nullptr, 0, &index), KIV_OK);
    return index;
  }
  TKivConnection cn{nullptr};
};

TEST_F(QueryTest, NamedParametersAreParsedBoundAndKeptAcrossTextChanges) {
  TKivQuery q(nullptr);
  q.SetKivConnection(&cn);
  SetText(q, "select name, age from people\nwhere age > :low and age < :high order by name");
  ASSERT_EQ(q.Params().Count(), 2);
  EXPECT_EQ(q.Params()[0]->Name(), "low");
  q.ParamByName("low")->SetAsInteger(10);
  q.ParamByName("high")->SetAsInteger(40);
  q.Open();  // connects
  EXPECT_TRUE(cn.IsConnected());
  EXPECT_EQ(Column(q, "NAME"), (std::vector<std::string>{"Bea", "Cid"}));
  EXPECT_TRUE(q.ReadOnly());

  // A new text closes the query; "high" keeps its value, "low" is gone.
  SetText(q, "select name from people where age >= :high order by name");
  EXPECT_FALSE(q.Active());
  ASSERT_EQ(q.Params().Count(), 1);
  EXPECT_EQ(q.ParamByName("high")->AsInteger(), 40);
  q.Open();
  EXPECT_EQ(Column(q, "NAME"), (std::vector<std::string>{"Dan"}));

  // The same text leaves the open query alone.
  SetText(q, "select name from people where age >= :high order by name");
  EXPECT_TRUE(q.Active());

  q.Close();
  q.SetParamCheck(false);
  SetText(q, "select name from people where age = :age");
  EXPECT_EQ(q.Params().Count(), 1);  // not parsed again
  EXPECT_EQ(q.Params()[0]->Name(), "high");
}

TEST_F(QueryTest, OneStatementServesEveryOpenAndItsOptionsComeFirst) {
  TKivQuery q(nullptr);
  q.SetKivConnection(&cn);
  SetText(q, "select name from people");
  CallRecorder calls;
  q.Open();
  q.Close();
  q.Open();
  const std::vector<std::string> log = calls.Take();
  EXPECT_EQ(CountOf(log, "KivCreateSQLStatement"), 1);
  EXPECT_EQ(CountOf(log, "KivPrepareSQL"), 2);
  EXPECT_EQ(CountOf(log, "KivExecuteSQL"), 2);
  const std::vector<std::string> options = {"KivStmtSetTableLockType", "KivStmtSetTableCharType",
                                            "KivStmtSetTableRights",   "KivStmtSetTableReadOnly",
                                            "KivStmtSetTableType",     "KivStmtConstrainUpdates",
                                            "KivStmtReadAllColumns",   "KivPrepareSQL"};
  auto first = std::find(log.begin(), log.end(), options[0]);
  ASSERT_NE(first, log.end());
  EXPECT_EQ(std::vector<std::string>(first, first + static_cast<long>(options.size())), options);
  EXPECT_TRUE(q.Prepared());
  q.Close();
  EXPECT_FALSE(q.Prepared());
}

TEST_F(QueryTest, LiveCursorsFollowRequestLiveAndTheConnectionsReadOnly) {
  TKivQuery q(nullptr);
  q.SetKivConnection(&cn);
  SetText(q, "select * from people");
  q.SetRequestLive(true);
  q.Open();
  EXPECT_FALSE(q.ReadOnly());
  EXPECT_TRUE(q.CanModify());
  q.Close();
  q.SetRequestLive(false);
  q.Open();
  EXPECT_TRUE(q.ReadOnly());  // a query once live does not stay so
  q.Close();
  cn.Disconnect();
  cn.SetReadOnly(true);
  q.SetRequestLive(true);
  q.Open();
  EXPECT_TRUE(q.ReadOnly());
  EXPECT_FALSE(q.CanModify());
}

TEST_F(QueryTest, StatementsWithoutRowsRunWithExecSQLOnly) {
  TKivQuery q(nullptr);
  q.SetKivConnection(&cn);
  SetText(q, "insert into people (name, age) values (:name, 99)");
  q.ParamByName("name")->SetAsString("Eve");
  EXPECT_EQ(MessageOf([&] { q.Open(); }),
            "The SQL statement did not generate a cursor handle.  Use TKivQuery.ExecSQL to execute SQL statements "
            "that are not SELECT statements");
  EXPECT_FALSE(q.Active());
  q.ParamByName("name")->SetAsString("Fay");
  EXPECT_EQ(q.ExecSQL(), -1);
  EXPECT_EQ(q.RowsAffected(), 1);

  SetText(q, "select name from people where age = 99 order by name");
  q.Open();
  EXPECT_EQ(Column(q, "NAME"), (std::vector<std::string>{"Eve", "Fay"}));  // the refused Open still ran it
  q.Close();
  EXPECT_EQ(q.ExecSQL(), 0);  // a cursor it yields is closed again
}

TEST_F(QueryTest, OpenOnlyOperationsAndMissingSettingsAreRefused) {
  TKivQuery q(nullptr);
  SetText(q, "select name from people");
  EXPECT_EQ(MessageOf([&] { q.Open(); }), "The DatabaseName property has not been assigned a value.");
  q.SetKivConnection(&cn);
  q.Open();
  const std::string open = "Cannot perform this operation on an open dataset";
  EXPECT_EQ(MessageOf([&] { q.Prepare(); }), open);
  EXPECT_EQ(MessageOf([&] { q.UnPrepare(); }), open);
  EXPECT_EQ(MessageOf([&] { q.FreeStatement(); }), open);
  EXPECT_EQ(MessageOf([&] { q.ExecSQL(); }), open);
  q.Close();
  EXPECT_EQ(MessageOf([&] { q.SetSourceTableType(ttKivNTX); }),
            "The TKivQuery component does not support the NTX table type");
  q.SetSourceTableType(ttKivCDX);
  EXPECT_EQ(q.SourceTableType(), ttKivCDX);

  const std::string kdd = dir.path() + "/app.kdd";
  KIV_ASSERT_OK(KivDDCreate(kdd.c_str(), "table PEOPLE people.kdt\n"));
  TKivConnection dd(nullptr);
  dd.SetConnectPath(kdd);
  dd.SetLoginPrompt(false);
  dd.SetUsername("KIVSYS");
  TKivQuery onDictionary(nullptr);
  onDictionary.SetKivConnection(&dd);
  onDictionary.SetSourceTableType(ttKivNTX);
  EXPECT_EQ(onDictionary.SourceTableType(), ttKivNTX);
}

TEST_F(QueryTest, AFolderPathOpensOneSharedConnectionAndADriveGetsItsBackslash) {
  TKivQuery a(nullptr), b(nullptr);
  a.SetDatabaseName(dir.path());
  b.SetDatabaseName(dir.path());
  SetText(a, "select name from people where age = 10");
  SetText(b, "select name from people where age = 20");
  const size_t before = DynamicConnections().Count();
  a.Open();
  b.Open();
  EXPECT_EQ(DynamicConnections().Count(), before + 1);
  EXPECT_EQ(a.DynamicConnectionHandle(), b.DynamicConnectionHandle());
  EXPECT_EQ(Column(b, "NAME"), std::vector<std::string>{"Bea"});

  setenv("KIV_DRIVE_C", dir.path().c_str(), 1);
  TKivQuery c(nullptr);
  c.SetDatabaseName("c:");
  SetText(c, "select name from people where age = 30");
  c.Open();
  unsetenv("KIV_DRIVE_C");
  EXPECT_EQ(Column(c, "NAME"), std::vector<std::string>{"Cid"});
  EXPECT_EQ(DynamicConnections().FindConnection("c:\\"), c.DynamicConnectionHandle());
}

TEST_F(QueryTest, TheStatementEndsWithItsConnectionItsFailureOrTheQuery) {
  SetText(*std::make_unique<TKivQuery>(nullptr), "select 1");  // nothing to end
  KIVHANDLE statement = 0;
  {
    TKivQuery q(nullptr);
    q.SetKivConnection(&cn);
    SetText(q, "select name from people");
    q.Open();
    statement = q.StatementHandle();
    cn.Disconnect();  // closes the query and forgets its statement
    EXPECT_FALSE(q.Active());
    EXPECT_EQ(q.StatementHandle(), kClosedHandle);
    q.Open();  // a new statement on the new connection
    EXPECT_NE(q.StatementHandle(), kClosedHandle);
    statement = q.StatementHandle();

    q.Close();
    KivTestFailCall("KivExecuteSQL", KIV_ERR_SQL_STATEMENT, "Error 7209: the statement is unusable", 1);
    EXPECT_NE(MessageOf([&] { q.Open(); }).find("7209"), std::string::npos);
    EXPECT_EQ(q.StatementHandle(), kClosedHandle);
    uint16_t type = 0;
    EXPECT_NE(KivGetHandleType(statement, &type), KIV_OK);  // freed
    q.Open();
    statement = q.StatementHandle();
  }
  uint16_t type = 0;
  EXPECT_NE(KivGetHandleType(statement, &type), KIV_OK);  // closed by the destructor
}

TEST_F(QueryTest, ADetailQueryFollowsItsMasterThroughItsParameters) {
  MakeTable("orders", KIV_TABLE_KDT, "NAME,C,10;ITEM,C,10", [](KIVHANDLE t) {
    for (auto [name, item] : {std::pair{"Ada", "hinge"}, {"Bea", "shelf"}, {"Ada", "bolt"}}) {
      KIV_ASSERT_OK(KivAppendRecord(t));
      KIV_ASSERT_OK(KivSetString(t, "NAME", name, static_cast<uint32_t>(strlen(name))));
      KIV_ASSERT_OK(KivSetString(t, "ITEM", item, static_cast<uint32_t>(strlen(item))));
      KIV_ASSERT_OK(KivWriteRecord(t));
    }
  });
  TKivQuery master(nullptr), detail(nullptr);
  master.SetKivConnection(&cn);
  detail.SetKivConnection(&cn);
  SetText(master, "select name from people order by name");
  SetText(detail, "select item from orders where name = :name order by item");
  TDataSource source(nullptr);
  source.SetDataSet(&master);
  detail.SetDataSource(&source);
  EXPECT_EQ(MessageOf([&] { master.SetDataSource(&source); }), "Circular Data Link");

  master.Open();
  detail.Open();
  EXPECT_EQ(Column(detail, "ITEM"), (std::vector<std::string>{"bolt", "hinge"}));
  master.Next();  // Bea
  EXPECT_EQ(Column(detail, "ITEM"), std::vector<std::string>{"shelf"});
  master.Next();  // Cid
  EXPECT_TRUE(detail.IsEmpty());
  EXPECT_FALSE(detail.Params()[0]->Bound());  // taken from the master each time

  // The link: the master's field of each parameter, and the detail's field
  // of that name when the detail has one.
  std::vector<TField*> masterFields, detailFields;
  detail.GetDetailLinkFields(masterFields, detailFields);
  EXPECT_EQ(masterFields, std::vector<TField*>{master.FieldByName("NAME")});
  EXPECT_TRUE(detailFields.empty());
  SetText(detail, "select item, name from orders where name = :name order by item");
  detail.Open();
  detail.GetDetailLinkFields(masterFields, detailFields);
  EXPECT_EQ(masterFields, std::vector<TField*>{master.FieldByName("NAME")});
  EXPECT_EQ(detailFields, std::vector<TField*>{detail.FieldByName("NAME")});
}

TEST_F(QueryTest, RecordNumbersAreRowNumbersOrPositionsInTheChosenOrder) {
  TKivQuery q(nullptr);
  ASSERT_NE(OpenByNameDescendingWithAnAgeIndex(q), 0u);
  auto recNos = [&] {
    std::vector<int> out;
    for (q.First(); !q.Eof(); q.Next()) out.push_back(q.RecNo());
    return out;
  };
  EXPECT_EQ(recNos(), (std::vector<int>{1, 2, 3, 4}));
  q.SetSequenced(true);
  EXPECT_EQ(recNos(), (std::vector<int>{1, 2, 3, 4})) << "natural order: the rows' numbers";
  q.SetIndexName("BYAGE");
  EXPECT_EQ(Column(q, "NAME"), (std::vector<std::string>{"Ada", "Bea", "Cid", "Dan"}));
  q.SetSequencedLevel(slExact);
  EXPECT_EQ(recNos(), (std::vector<int>{1, 2, 3, 4})) << "key numbers in the index";
  q.SetSequenced(false);
  EXPECT_EQ(recNos(), (std::vector<int>{4, 3, 2, 1})) << "not sequenced: the rows' numbers";
}

TEST_F(QueryTest, ProviderSupportReadsTheText) {
  TKivQuery q(nullptr);
  q.SetKivConnection(&cn);
  q.PSSetCommandText("select name from people where age > :age order by name");
  EXPECT_EQ(q.PSGetTableName(), "people");
  ASSERT_NE(q.PSGetParams(), nullptr);
  EXPECT_EQ(q.PSGetParams()->Count(), 1);
  TParams given;
  given.CreateParam(ftInteger, "age", ptInput)->SetAsInteger(25);
  q.PSSetParams(given);
  q.Open();
  EXPECT_EQ(Column(q, "NAME"), (std::vector<std::string>{"Cid", "Dan"}));
  auto order = q.PSGetDefaultOrder();
  ASSERT_NE(order, nullptr);
  EXPECT_EQ(order->Fields(), "name");
}

}  // namespace

// A sequenced query without an index name numbers its rows in the order its
// cursor was last moved through: here an index made on the cursor itself.
TEST_F(QueryTest, RecordNumbersFollowTheOrderTheCursorItselfWasMovedThrough) {
  TKivQuery q(nullptr);
  const KIVHANDLE index = OpenByNameDescendingWithAnAgeIndex(q);
  q.SetSequenced(true);
  struct Step {
    KIVRESULT (*move)(KIVHANDLE);
    TKivSequencedLevel level;
    const char* name;
    int recNo;
  };
  const Step steps[] = {
      {[](KIVHANDLE ix) { return KivGotoTop(ix); }, slExact, "Ada", 1},
      {[](KIVHANDLE ix) { return KivSkip(ix, 1); }, slExact, "Bea", 2},
      {[](KIVHANDLE ix) { return KivGotoBottom(ix); }, slStandard, "Dan", 4},
  };
  for (const Step& s : steps) {
    KIV_ASSERT_OK(s.move(index));
    q.SetSequencedLevel(s.level);
    q.Resync(0);
    EXPECT_EQ(q.FieldByName("NAME")->AsString(), s.name);
    EXPECT_EQ(q.RecNo(), s.recNo) << s.name;
  }
}
