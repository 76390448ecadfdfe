// Connection services against the real engine: transactions and savepoints
// with linked datasets, table lists, one-off SQL through the statement cache,
// server information and the user's groups.
#include <chrono>
#include <ctime>
#include <string>
#include <vector>

#include "checker/kivcnnct.h"
#include "checker/kivtable.h"
#include "test_support.h"

using namespace checker;
using namespace checker::testing;
using namespace kivds;

namespace {

std::vector<std::string> Lines(const TStrings& list) { return list.ToVector(); }

class ServicesTest : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    MakePeople("people", KIV_TABLE_KDT, {"Ada", "Bea", "Cy"});
    cn.SetConnectPath(dir.path());
  }

  int StoredAge(const char* name) { return StoredAgeOf(conn, "people", name); }

  // Sets AGE of the record of `name` through the dataset and posts it.
  static void SetAge(TKivTable& tb, const std::string& name, int age) {
    for (tb.First(); !tb.Eof(); tb.Next())
      if (tb.FieldByName("NAME")->AsString() == name) break;
    tb.Edit();
    tb.FieldByName("AGE")->SetAsInteger(age);
    tb.Post();
  }

  TKivConnection cn{nullptr};
};

// -- transactions ----------------------------------------------------------------

TEST_F(ServicesTest, RollbackCancelsPendingEditsFirstAndRestoresTheData) {
  TKivTable tb(nullptr);
  tb.SetKivConnection(&cn);
  tb.SetTableName("people");
  cn.Connect();
  tb.Open();
  std::vector<std::string> events;
  cn.BeforeRollback = [&](TComponent*) { events.push_back("before"); };
  cn.AfterRollback = [&](TComponent*) { events.push_back("after"); };

  cn.BeginTransaction();
  EXPECT_TRUE(cn.GetTransactionActive());
  SetAge(tb, "Ada", 11);
  SetAge(tb, "Bea", 22);
  tb.Edit();  // a pending edit of Bea
  tb.FieldByName("AGE")->SetAsInteger(99);
  cn.ExecuteSQL("UPDATE people SET AGE = 1 WHERE NAME = 'Cy'", nullptr, true, nullptr);
  EXPECT_EQ(cn.CachedStatementCount(), 1);

  CallRecorder calls;
  cn.Rollback();
  const auto log = calls.Take();
  EXPECT_EQ(events, (std::vector<std::string>{"before", "after"}));
  EXPECT_EQ(cn.CachedStatementCount(), 0);
  EXPECT_FALSE(cn.GetTransactionActive());
  // The dataset's edit was cancelled before the engine rolled back.
  const auto cancel = std::find(log.begin(), log.end(), "KivCancelUpdate");
  const auto rollback = std::find(log.begin(), log.end(), "KivRollbackTransaction");
  ASSERT_NE(cancel, log.end());
  ASSERT_NE(rollback, log.end());
  EXPECT_LT(cancel, rollback);
  EXPECT_EQ(tb.State(), dsBrowse);
  // The data is as before the transaction, on disk and in the refreshed dataset.
  EXPECT_EQ(StoredAge("Ada"), 10);
  EXPECT_EQ(StoredAge("Bea"), 20);
  EXPECT_EQ(StoredAge("Cy"), 30);
  EXPECT_EQ(tb.FieldByName("AGE")->AsInteger(), 20);
}

TEST_F(ServicesTest, CommitKeepsTheChangesAndClosesCachedStatements) {
  TKivTable tb(nullptr);
  tb.SetKivConnection(&cn);
  tb.SetTableName("people");
  tb.Open();
  std::vector<std::string> events;
  cn.BeforeCommit = [&](TComponent*) { events.push_back("before"); };
  cn.AfterCommit = [&](TComponent*) { events.push_back("after"); };
  cn.BeginTransaction();
  SetAge(tb, "Cy", 33);
  cn.ExecuteSQL("UPDATE people SET AGE = 12 WHERE NAME = 'Ada'", nullptr, true, nullptr);
  cn.Commit();
  EXPECT_EQ(events, (std::vector<std::string>{"before", "after"}));
  EXPECT_EQ(cn.CachedStatementCount(), 0);
  EXPECT_FALSE(cn.GetTransactionActive());
  EXPECT_EQ(StoredAge("Ada"), 12);
  EXPECT_EQ(StoredAge("Cy"), 33);
}

TEST_F(ServicesTest, SavepointsRollBackTheLaterChangesAndAnEmptyNameTheWholeTransaction) {
  TKivTable tb(nullptr);
  tb.SetKivConnection(&cn);
  tb.SetTableName("people");
  tb.Open();
  cn.BeginTransaction();
  SetAge(tb, "Ada", 11);
  cn.CreateSavepoint("sp");
  SetAge(tb, "Bea", 22);
  cn.RollbackToSavepoint("sp");
  EXPECT_TRUE(cn.GetTransactionActive());
  EXPECT_EQ(StoredAge("Bea"), 20);
  EXPECT_EQ(StoredAge("Ada"), 11);

  CallRecorder calls;
  cn.RollbackToSavepoint("");
  const auto log = calls.Take();
  EXPECT_EQ(CountOf(log, "KivRollbackTransaction"), 1);
  EXPECT_EQ(CountOf(log, "KivRollbackTransaction80"), 0);
  EXPECT_FALSE(cn.GetTransactionActive());
  EXPECT_EQ(StoredAge("Ada"), 10);
}

TEST_F(ServicesTest, TransactionsAndTableListsNeedAConnection) {
  TStringList list;
  const std::vector<std::pair<const char*, std::function<void()>>> calls = {
      {"GetTransactionActive", [&] { cn.GetTransactionActive(); }},
      {"BeginTransaction", [&] { cn.BeginTransaction(); }},
      {"Commit", [&] { cn.Commit(); }},
      {"Rollback", [&] { cn.Rollback(); }},
      {"CreateSavepoint", [&] { cn.CreateSavepoint("sp"); }},
      {"RollbackToSavepoint", [&] { cn.RollbackToSavepoint("sp"); }},
      {"RollbackToSavepoint empty", [&] { cn.RollbackToSavepoint(""); }},
      {"GetTableNames", [&] { cn.GetTableNames(&list, "*"); }},
      {"GetTableNames62", [&] { cn.GetTableNames62(&list, &list, "*"); }},
  };
  for (const auto& [name, call] : calls) {
    SCOPED_TRACE(name);
    EXPECT_EQ(MessageOf<KivConnectionError>(call), "No connection to Morvane server.");
  }
  EXPECT_FALSE(cn.IsConnectionAlive());
}

TEST_F(ServicesTest, AReconnectedConnectionHasNoTransactionOpen) {
  cn.Connect();
  cn.BeginTransaction();
  cn.Disconnect();
  cn.Connect();
  EXPECT_FALSE(cn.GetTransactionActive());
  EXPECT_TRUE(cn.IsConnectionAlive());
}

// -- table lists --------------------------------------------------------------------

TEST_F(ServicesTest, TableNamesFollowTheMaskOrTheAliasTableType) {
  MakeTable("b", KIV_TABLE_CDX, "X,C,1");
  MakeTable("a", KIV_TABLE_NTX, "X,C,1");
  WriteTextFile(dir.path() + "/kiv.ini", "[Databases]\nKDT=" + dir.path() + "/;K\nDBF=" + dir.path() + ";N\n");
  InFolder here(dir.path());
  struct Case {
    const char* alias;  // empty: the connect path with a trailing separator
    const char* mask;
    std::vector<std::string> names;
  };
  const Case cases[] = {
      {"", "*.dbf", {"a.dbf", "b.dbf"}},
      {"", "p*", {"people.kdt"}},
      {"KDT", "*.dbf", {"people.kdt"}},
      {"DBF", "*.kdt", {"a.dbf", "b.dbf"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.alias) + " " + c.mask);
    TKivConnection one(nullptr);
    if (*c.alias) one.SetAliasName(c.alias);
    else one.SetConnectPath(dir.path() + "/");
    one.Connect();
    TStringList list;
    one.GetTableNames(&list, c.mask);
    EXPECT_EQ(Lines(list), c.names);
    one.GetTableNames(nullptr, c.mask);  // nothing to fill: nothing done
  }
}

TEST_F(ServicesTest, TableNames62FillsEachGivenList) {
  cn.Connect();
  TStringList names, paths;
  cn.GetTableNames62(&names, &paths, "*.kdt");
  EXPECT_EQ(names.Count(), 1);
  ASSERT_EQ(paths.Count(), 1);
  EXPECT_NE(paths[0].find("people"), std::string::npos);
  TStringList only;
  cn.GetTableNames62(nullptr, &only, "*.kdt");
  EXPECT_EQ(Lines(only), Lines(paths));
}

TEST_F(ServicesTest, ASearchWithoutMatchesGivesAnEmptyList) {
  cn.Connect();
  TStringList list;
  CallRecorder calls;
  cn.GetTableNames(&list, "*.none");
  EXPECT_EQ(list.Count(), 0);
}

TEST_F(ServicesTest, DictionaryTableNamesAreTheDictionarysTablesOnly) {
  MakePeople("orders", KIV_TABLE_KDT, {"x"});
  const std::string kdd = dir.path() + "/app.kdd";
  KIV_ASSERT_OK(KivDDCreate(kdd.c_str(),
                            "user KIVSYS secret\ntable PEOPLE people.kdt\ntable ORDERS orders.kdt\n"
                            "procedure Recalc\n"));
  TKivConnection dd(nullptr);
  dd.SetConnectPath(kdd);
  dd.SetLoginPrompt(false);
  dd.SetUsername("KIVSYS");
  dd.SetPassword("secret");
  TStringList list;
  dd.GetDictionaryTableNames(&list);  // connects first
  EXPECT_TRUE(dd.IsConnected());
  std::vector<std::string> names = Lines(list);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"ORDERS", "PEOPLE"}));

  TStringList none;
  cn.GetDictionaryTableNames(&none);  // a folder has no dictionary
  EXPECT_EQ(none.Count(), 0);
}

// -- one-off SQL ------------------------------------------------------------------------

TEST_F(ServicesTest, ExecuteSQLReturnsTheRowsChangedAndReusesAKeptStatement) {
  CallRecorder calls;
  EXPECT_EQ(cn.ExecuteSQL("UPDATE people SET AGE = 5 WHERE AGE > 10", nullptr, true, nullptr), 2);  // connects
  EXPECT_EQ(cn.ExecuteSQL("UPDATE people SET AGE = 5 WHERE AGE > 10", nullptr, true, nullptr), 0);
  auto log = calls.Take();
  EXPECT_EQ(CountOf(log, "KivPrepareSQL"), 1);
  EXPECT_EQ(CountOf(log, "KivCreateSQLStatement"), 1);
  EXPECT_EQ(CountOf(log, "KivCloseSQLStatement"), 0);
  EXPECT_EQ(cn.CachedStatementCount(), 1);
  EXPECT_EQ(StoredAge("Cy"), 5);

  // Without the keep flag every call has a statement of its own.
  EXPECT_EQ(cn.ExecuteSQL("UPDATE people SET AGE = 7", nullptr, false, nullptr), 3);
  EXPECT_EQ(cn.ExecuteSQL("UPDATE people SET AGE = 7", nullptr, false, nullptr), 3);
  log = calls.Take();
  EXPECT_EQ(CountOf(log, "KivPrepareSQL"), 2);
  EXPECT_EQ(CountOf(log, "KivCloseSQLStatement"), 2);
  EXPECT_EQ(cn.CachedStatementCount(), 1);
}

TEST_F(ServicesTest, ExecuteSQLWithParametersBindsThem) {
  TParams params;
  params.CreateParam(ftInteger, "age", ptInput)->SetAsInteger(44);
  params.CreateParam(ftString, "name", ptInput)->SetAsString("Bea");
  EXPECT_EQ(cn.ExecuteSQL("UPDATE people SET AGE = ? WHERE NAME = ?", &params, false, nullptr), 1);
  EXPECT_EQ(StoredAge("Bea"), 44);
}

TEST_F(ServicesTest, AStatementWithoutRowCountIsZeroOnlyForExecuteSQL) {
  EXPECT_EQ(cn.ExecuteSQL("CREATE TABLE extra (X CHAR(2))", nullptr, false, nullptr), 0);
  TKivSQLOptions options;
  options.tableType = KIV_TABLE_KDT;
  options.charType = KIV_CHAR_ANSI;
  options.rights = KIV_RIGHTS_NO_CHECK;
  CallRecorder calls;
  try {
    cn.ExecuteSQLWithOptions(options, "CREATE TABLE more (X CHAR(2))", nullptr, false, nullptr);
    ADD_FAILURE() << "nothing raised";
  } catch (const EKIVDatabaseError& e) {
    EXPECT_EQ(e.EngineErrorCode, KIV_ERR_NO_ROW_COUNT);
  }
  const auto log = calls.Take();
  EXPECT_EQ(CountOf(log, "KivStmtSetTableType"), 1);
  EXPECT_EQ(CountOf(log, "KivStmtSetTableRights"), 1);
  EXPECT_EQ(CountOf(log, "KivCloseSQLStatement"), 1);  // closed although it failed
  EXPECT_EQ(cn.ExecuteSQLWithOptions(options, "DELETE FROM people WHERE NAME = 'Cy'", nullptr, false, nullptr), 1);
}

TEST_F(ServicesTest, ExecuteSQLHandsOutAReadOnlyCursor) {
  KIVHANDLE cursor = 0;
  CallRecorder calls;
  EXPECT_EQ(cn.ExecuteSQL("SELECT NAME FROM people WHERE AGE >= 20", nullptr, false, &cursor), 0);
  EXPECT_EQ(CountOf(calls.Take(), "KivStmtSetTableReadOnly"), 1);
  ASSERT_NE(cursor, 0u);
  uint32_t count = 0;
  KIV_EXPECT_OK(KivGetRecordCount(cursor, KIV_COUNT_IGNORE_FILTERS, &count));
  EXPECT_EQ(count, 2u);
  KivCloseTable(cursor);
}

TEST_F(ServicesTest, AKeptStatementThatFailsToPrepareLeavesTheCache) {
  EXPECT_NE(MessageOf<EKIVDatabaseError>([&] { cn.ExecuteSQL("UPDATE nowhere SET", nullptr, true, nullptr); }),
            "(nothing raised)");
  EXPECT_EQ(cn.CachedStatementCount(), 0);
  // Commit and disconnect do not trip over it.
  cn.BeginTransaction();
  cn.Commit();
  cn.Disconnect();
}

// -- server information and user groups ------------------------------------------------

TEST_F(ServicesTest, ServerTimeIsNowOnTheLocalServer) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  const TDateTime expected = EncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday) +
                             (local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec) / 86400.0;
  const TDateTime server = cn.GetServerTime();  // connects first
  EXPECT_TRUE(cn.IsConnected());
  EXPECT_NEAR(server, expected, 120.0 / 86400.0);
}

TEST_F(ServicesTest, LinksAndCachedTables) {
  cn.Connect();
  EXPECT_EQ(cn.GetNumActiveLinks(), 0);
  TStringList list;
  cn.GetActiveLinkInfo(0, nullptr);  // nothing asked
  EXPECT_THROW(cn.GetActiveLinkInfo(0, &list), EKIVDatabaseError);  // the local server has no links
  cn.CloseCachedTables();
}

TEST(LinkInfoPieces, OnlyPiecesEndedByASemicolonCount) {
  struct Case {
    const char* text;
    std::vector<std::string> pieces;
  };
  const Case cases[] = {
      {"a;b;c", {"a", "b"}}, {"a;b;", {"a", "b"}}, {"", {}}, {"abc", {}}, {";", {""}}, {"a;;b;", {"a", "", "b"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(SemicolonEndedPieces(c.text), c.pieces);
  }
}

TEST_F(ServicesTest, UserGroupsComeFromTheDictionary) {
  const std::string kdd = dir.path() + "/app.kdd";
  KIV_ASSERT_OK(KivDDCreate(kdd.c_str(),
                            "user KIVSYS secret\nuser ADA pw Sales;Admin\nuser BEA pw\ntable PEOPLE people.kdt\n"));
  struct Case {
    const char* user;
    const char* password;
    std::vector<std::string> groups;
    const char* text;
  };
  const Case cases[] = {{"ADA", "pw", {"Sales", "Admin"}, "Sales;Admin"}, {"BEA", "pw", {}, ""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.user);
    TKivConnection dd(nullptr);
    dd.SetConnectPath(kdd);
    dd.SetLoginPrompt(false);
    dd.SetUsername(c.user);
    dd.SetPassword(c.password);
    EXPECT_TRUE(Lines(dd.GetUserGroups()).empty());  // not connected: none
    dd.Connect();
    EXPECT_EQ(Lines(dd.GetUserGroups()), c.groups);
    EXPECT_EQ(dd.GetUserGroupsText(), c.text);
  }
  cn.Connect();
  EXPECT_TRUE(Lines(cn.GetUserGroups()).empty());  // a folder has no users
}

}  // namespace
