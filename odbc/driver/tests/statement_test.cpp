// Statements allocated, prepared and freed over real engine statements:
// statement texts classified and rewritten, markers counted, engine results
// described as pseudo-tables, cursor names, and the engine-statement cache.
#include <string>
#include <vector>

#include "catalog/catalog.h"
#include "results/execute.h"
#include "results/fetch.h"
#include "handles/messages.h"
#include "sql/parsetree.h"
#include "sql/statement.h"
#include "table_fixture.h"
#include "data/tablerecord.h"

namespace kivodbc::testing {
namespace {

const SQLCHAR* S(const char* text) { return reinterpret_cast<const SQLCHAR*>(text); }

TEST(StatementText, Classification) {
  struct Case {
    const char* text;
    int16_t code;
  } cases[] = {
      {"", 0},
      {" \t\r\n", 0},
      {"SELECT * FROM x", 85},
      {"selectx", 85},  // a longer word that begins with the table's word
      {"\binsert into t values (1)", 50},
      {"Delete from t", 19},
      {"update t set a = 1", 82},
      {"alter table t", 4},
      {"execute procedure p()", 7},
      {"create table t (a int)", 77},
      {"create\vindex i on t (a)", -1},
      {"create uniquely i on t (a)", -1},
      {"create procedure p", 7},
      {"create view v as select 1", 84},
      {"create trigger x", 0},
      {"drop table t", 32},
      {"DROP INDEX i", -2},
      {"drop view v", 36},
      {"drop procedure p", 7},
      {"drop trigger x", 0},
      {"drop", 0},
      {"sel", 0},
      {"grant all", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(ClassifyStatementText(c.text), c.code) << '"' << c.text << '"';
}

TEST(StatementText, CallEscapeRewrite) {
  struct Case {
    const char* text;
    const char* rewritten;  // null: left alone
  } cases[] = {
      {"{call p}", "execute procedure p()"},
      {"  { \t CALL  p (1, 'a') }  ", "execute procedure  p (1, 'a')"},
      {"{call p(?)\n}", "execute procedure p(?)"},
      {"{call p(1) x}", "execute procedure p(1) x()"},
      {"{callp}", nullptr},
      {"call p", nullptr},
      {"{call p", nullptr},
      {"x{call p}", nullptr},
      {"{", nullptr},
      {"", nullptr},
  };
  for (const Case& c : cases) {
    std::string out = "untouched";
    EXPECT_EQ(RewriteCallEscape(c.text, &out), c.rewritten != nullptr) << c.text;
    EXPECT_EQ(out, c.rewritten != nullptr ? c.rewritten : "untouched") << c.text;
  }
}

TEST(StatementText, ParameterMarkers) {
  struct Case {
    const char* text;
    int32_t markers;
  } cases[] = {
      {"select * from t where a = ? and b = ?", 2},
      {"select '?' from t", 0},
      {"select [a?b] from t where x = ?", 1},
      {"select \"?\" from t", 0},
      {"select * from t where t = 12:30", 1},
      {"select 'it''s ?' from t where a = ?", 1},   // a doubled quote stays inside
      {"select \"a\"\"?\" from t", 0},
      {"select 'a\" ?' , \"b' ?\" from t where c = ?", 1},  // closers match their own openers
      {"select 'open ? where", 1},                  // no closer: not quoted
      {"select ] ? [", 1},
  };
  for (const Case& c : cases) EXPECT_EQ(CountParameterMarkers(c.text), c.markers) << c.text;
}

class StatementTest : public TableTest {
 protected:
  SQLRETURN PrepareText(SQLHSTMT stmt, const char* text) { return Prepare(stmt, S(text), SQL_NTS); }
  std::string CursorName(SQLHSTMT stmt) {
    SQLCHAR name[32] = {};
    SQLSMALLINT length = 0;
    EXPECT_EQ(GetCursorName(stmt, name, sizeof name, &length), SQL_SUCCESS);
    return reinterpret_cast<char*>(name);
  }
};

TEST_F(StatementTest, SelectPreparesOverThePseudoTableOfItsEngineResult) {
  ASSERT_EQ(PrepareText(stmt_, "select NAME, AMOUNT, BORN, QTY from items where QTY >= 0"), SQL_SUCCESS)
      << DiagOf(SQL_HANDLE_STMT, stmt_).message;
  StmtRecord* stmt = Stmt();
  ASSERT_NE(stmt->request, nullptr);
  EXPECT_EQ(stmt->dynamicFunction, 85);
  EXPECT_EQ(stmt->request->describeCount, 4);
  ASSERT_NE(stmt->parseTree, nullptr);
  ASSERT_EQ(stmt->parseTree->statement->kind, kNodeSelect);
  const std::string dump = DumpParseTree(stmt->parseTree->statement);
  EXPECT_NE(dump.find(PseudoTableName(reinterpret_cast<uintptr_t>(stmt->request))), std::string::npos) << dump;

  // The description comes from the engine before any execution.
  KIVHANDLE engine = Session()->engineConnection;
  KIVHANDLE probe = 0;
  ASSERT_EQ(KivCreateSQLStatement(engine, &probe), 0u);
  std::vector<KivColumnDescription> expected(8);
  uint32_t count = static_cast<uint32_t>(expected.size());
  ASSERT_EQ(KivPrepareSQLDescribe(probe, "select NAME, AMOUNT, BORN, QTY from items where QTY >= 0", expected.data(),
                                  static_cast<uint32_t>(expected.size() * sizeof(KivColumnDescription)), &count),
            0u);
  ASSERT_EQ(KivCloseSQLStatement(probe), 0u);
  SQLSMALLINT columns = 0;
  ASSERT_EQ(NumResultCols(stmt_, &columns), SQL_SUCCESS);
  ASSERT_EQ(columns, static_cast<SQLSMALLINT>(count));
  const int16_t types[] = {SQL_CHAR, SQL_NUMERIC, SQL_TYPE_DATE, SQL_INTEGER};
  for (SQLUSMALLINT i = 1; i <= count; ++i) {
    SQLCHAR name[64] = {};
    SQLSMALLINT nameLength = 0, type = 0, digits = 0, nullable = 0;
    SQLULEN size = 0;
    ASSERT_EQ(DescribeCol(stmt_, i, name, sizeof name, &nameLength, &type, &size, &digits, &nullable), SQL_SUCCESS);
    EXPECT_STREQ(reinterpret_cast<char*>(name), expected[i - 1].name);
    EXPECT_EQ(type, types[i - 1]) << i;
    EXPECT_EQ(digits, static_cast<SQLSMALLINT>(expected[i - 1].decimals)) << i;
  }
  SQLSMALLINT type = 0;
  EXPECT_EQ(DescribeCol(stmt_, 5, nullptr, 0, nullptr, &type, nullptr, nullptr, nullptr), SQL_ERROR);
  EXPECT_EQ(DiagOf(SQL_HANDLE_STMT, stmt_).state, "07009");
  EXPECT_EQ(CursorName(stmt_), "SQL_CUR_00000");
  EXPECT_EQ(Stmt()->prepared, 1);
}

TEST_F(StatementTest, OtherStatementsPrepareAsTheEnginePseudoStatement) {
  // The engine refuses the insert at preparation; the refusal waits for execution.
  ASSERT_EQ(PrepareText(stmt_, "insert into nowhere (A) values (1)"), SQL_SUCCESS)
      << DiagOf(SQL_HANDLE_STMT, stmt_).message;
  EXPECT_EQ(Stmt()->dynamicFunction, 50);
  EXPECT_EQ(Stmt()->parseTree->statement->kind, kNodePseudoStatement);
  EXPECT_EQ(Stmt()->request->describeCount, 0);
  SQLSMALLINT columns = -1;
  EXPECT_EQ(NumResultCols(stmt_, &columns), SQL_SUCCESS);
  EXPECT_EQ(columns, 0);
  EXPECT_EQ(Stmt()->cursorName[0], 0) << "only a select gets a cursor name at preparation";

  // A call escape reaches the engine as a procedure call; a procedure that
  // the engine cannot prepare fails the preparation with the engine's text.
  SQLRETURN rc = SQL_SUCCESS;
  const std::string calls = EngineCalls([&] { rc = PrepareText(stmt_, "{call nothing(1)}"); });
  EXPECT_EQ(rc, SQL_ERROR);
  EXPECT_EQ(Count(calls, "KivPrepareSQL"), 1u) << calls;
  EXPECT_EQ(Count(calls, "KivPrepareSQLDescribe"), 0u) << calls;
  EXPECT_EQ(Stmt()->dynamicFunction, 7);
  EXPECT_EQ(Stmt()->code, KIV_ERR_SQL);
  EXPECT_NE(DiagOf(SQL_HANDLE_STMT, stmt_).message.find("EXECUTE PROCEDURE"), std::string::npos)
      << DiagOf(SQL_HANDLE_STMT, stmt_).message;
  EXPECT_EQ(Stmt()->request, nullptr);
}

TEST_F(StatementTest, MarkersBecomeParameterNodesWithBuffers) {
  // A binding made before the prepare decides the node's type.
  DescItem* binary = FindDescItem(Stmt()->apd, 2, CreateItem{});
  ASSERT_NE(binary, nullptr);
  binary->cType = SQL_C_BINARY;
  DescItem* number = FindDescItem(Stmt()->apd, 3, CreateItem{});
  ASSERT_NE(number, nullptr);
  number->cType = SQL_C_DOUBLE;
  ASSERT_EQ(PrepareText(stmt_, "insert into items (NAME, PIC, RATE) values (?, ?, ?)"), SQL_SUCCESS)
      << DiagOf(SQL_HANDLE_STMT, stmt_).message;
  ParseRoot* root = Stmt()->parseTree;
  ASSERT_EQ(root->parameterCount, 3);
  struct Expect {
    int16_t sqlType;
    int16_t category;
    bool buffer;
  } expected[] = {{SQL_VARCHAR, kCategoryText, true}, {SQL_BINARY, kCategoryBinary, true},
                  {SQL_DOUBLE, kCategoryFloating, false}};
  int32_t i = 0;
  for (ParseNode* node = root->parameters; node != nullptr; node = node->next, ++i) {
    ASSERT_LT(i, 3);
    EXPECT_EQ(node->kind, kNodeParameter);
    EXPECT_EQ(node->ordinal, i + 1);
    EXPECT_EQ(node->sqlType, expected[i].sqlType) << i;
    EXPECT_EQ(node->category, expected[i].category) << i;
    EXPECT_EQ(node->buffer != nullptr, expected[i].buffer) << i;
    if (node->buffer != nullptr) node->buffer[1024] = 'x';  // the whole buffer is there (ASan checks)
  }
  EXPECT_EQ(i, 3);
}

TEST_F(StatementTest, PrepareRefusals) {
  // An open result refuses a new preparation and stays open.
  ASSERT_EQ(Tables(stmt_, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0), SQL_SUCCESS);
  const int32_t kind = Stmt()->kind;
  ASSERT_NE(kind, kKindNone);
  EXPECT_EQ(PrepareText(stmt_, "select NAME from items where QTY >= 0"), SQL_ERROR);
  EXPECT_EQ(Stmt()->code, kInvalidCursorState);
  EXPECT_EQ(DiagOf(SQL_HANDLE_STMT, stmt_).state, "24000");
  EXPECT_EQ(Stmt()->kind, kind);
  ASSERT_EQ(FreeStmt(stmt_, SQL_CLOSE), SQL_SUCCESS);

  // An engine failure leaves the statement unprepared, with the engine's text.
  KivTestFailCall("KivPrepareSQLDescribe", KIV_ERR_SQL, "no such column: WHAT", 1);
  EXPECT_EQ(PrepareText(stmt_, "select WHAT from items where QTY >= 0"), SQL_ERROR);
  EXPECT_EQ(Stmt()->code, KIV_ERR_SQL);
  EXPECT_NE(DiagOf(SQL_HANDLE_STMT, stmt_).message.find("no such column: WHAT"), std::string::npos);
  EXPECT_EQ(Stmt()->parseTree, nullptr);
  EXPECT_EQ(Stmt()->request, nullptr);
  EXPECT_EQ(Stmt()->prepared, 0);
  // The next prepare takes a new engine request.
  ASSERT_EQ(PrepareText(stmt_, "select NAME from items where QTY >= 0"), SQL_SUCCESS) << DiagOf(SQL_HANDLE_STMT, stmt_).message;
  EXPECT_NE(Stmt()->request, nullptr);
}

TEST_F(StatementTest, EngineLeavesPlainSelectsOfOneTableToTheDriver) {
  struct Case {
    const char* text;
    bool ownPath;
  };
  const Case cases[] = {
      {"SELECT NAME FROM items", true},
      {"select * from ITEMS", true},
      {"SELECT NAME FROM items;", false},
      {"SELECT NAME, QTY FROM items", true},
      {"SELECT NAME FROM items WHERE QTY > 1", false},
      {"SELECT NAME FROM items ORDER BY NAME", false},
      {"SELECT DISTINCT NAME FROM items", false},
      {"SELECT COUNT(*) FROM items", false},
      {"SELECT NAME FROM \"items\"", false},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(PrepareText(stmt_, c.text), SQL_SUCCESS) << c.text << ": " << DiagOf(SQL_HANDLE_STMT, stmt_).message;
    EXPECT_EQ(Stmt()->request == nullptr, c.ownPath) << c.text;
    ASSERT_EQ(FreeStmt(stmt_, SQL_CLOSE), SQL_SUCCESS);
  }
}

TEST_F(StatementTest, EngineLeavingTheTextToTheDriverParsesTheCallersText) {
  KivTestFailCall("KivCheckSQL", KIV_ERR_SQL_DECLINED, "declined", 1);
  ASSERT_EQ(PrepareText(stmt_, "SELECT NAME FROM items"), SQL_SUCCESS) << DiagOf(SQL_HANDLE_STMT, stmt_).message;
  EXPECT_EQ(Stmt()->request, nullptr);
  ASSERT_EQ(Stmt()->parseTree->statement->kind, kNodeSelect);
  EXPECT_NE(DumpParseTree(Stmt()->parseTree->statement).find("items"), std::string::npos);
  SQLSMALLINT columns = 0;
  EXPECT_EQ(NumResultCols(stmt_, &columns), SQL_SUCCESS);
  EXPECT_EQ(columns, 1);

  // The front end's own refusals carry its codes, and nothing stays behind.
  KivTestFailCall("KivCheckSQL", KIV_ERR_SQL_DECLINED, "declined", 1);
  EXPECT_EQ(PrepareText(stmt_, "SELECT NAME FROM missing"), SQL_ERROR);
  EXPECT_NE(Stmt()->code, 0);
  EXPECT_NE(DiagOf(SQL_HANDLE_STMT, stmt_).message.find("missing"), std::string::npos)
      << DiagOf(SQL_HANDLE_STMT, stmt_).message;
  EXPECT_EQ(Stmt()->parseTree, nullptr);
  EXPECT_EQ(Stmt()->prepared, 0);
}

TEST_F(StatementTest, CursorNames) {
  SQLHSTMT second = NewStatement(conn_);
  ASSERT_EQ(PrepareText(stmt_, "select NAME from items where QTY >= 0"), SQL_SUCCESS);
  ASSERT_EQ(PrepareText(second, "select NAME from items where QTY >= 0"), SQL_SUCCESS);
  EXPECT_EQ(CursorName(stmt_), "SQL_CUR_00000");
  EXPECT_EQ(CursorName(second), "SQL_CUR_00001");

  struct Case {
    const char* name;
    SQLSMALLINT length;
    SQLRETURN rc;
    const char* state;
  } cases[] = {
      {"orders", SQL_NTS, SQL_SUCCESS, ""},
      {"abcdefghijklmnopqr", SQL_NTS, SQL_SUCCESS, ""},  // 18 characters
      {"abcdefghijklmnopqrs", SQL_NTS, SQL_ERROR, "34000"},
      {"abc", 0, SQL_ERROR, "34000"},
      {"abc", -5, SQL_ERROR, "34000"},
      {"sql_cur_00001", SQL_NTS, SQL_ERROR, "3C000"},  // the other statement's, in other letters
      {"SQL_CUR_00000xyz", 13, SQL_SUCCESS, ""},      // its own name again, by length
      {"\0abc", 4, SQL_ERROR, "34000"},                // empty up to its NUL
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SetCursorName(stmt_, S(c.name), c.length), c.rc) << c.name;
    EXPECT_EQ(DiagOf(SQL_HANDLE_STMT, stmt_).state, c.state) << c.name;
  }
  EXPECT_EQ(CursorName(stmt_), "SQL_CUR_00000");

  SQLCHAR small[5] = {};
  SQLSMALLINT length = 0;
  EXPECT_EQ(GetCursorName(stmt_, small, sizeof small, &length), SQL_SUCCESS_WITH_INFO);
  EXPECT_STREQ(reinterpret_cast<char*>(small), "SQL_");
  EXPECT_EQ(length, 13);
  EXPECT_EQ(DiagOf(SQL_HANDLE_STMT, stmt_).state, "01004");

  // A statement without a name gets the first free one when asked.
  SQLHSTMT third = NewStatement(conn_);
  EXPECT_EQ(CursorName(third), "SQL_CUR_00002");
  ASSERT_EQ(FreeStmt(second, SQL_DROP), SQL_SUCCESS);
  SQLHSTMT fourth = NewStatement(conn_);
  EXPECT_EQ(CursorName(fourth), "SQL_CUR_00001");
}

TEST_F(StatementTest, EngineStatementsAreReusedAcrossPrepareAndFree) {
  ASSERT_EQ(FreeStmt(stmt_, SQL_DROP), SQL_SUCCESS);
  stmt_ = nullptr;
  const std::string log = EngineCalls([&] {
    for (int i = 0; i < 1000; ++i) {
      SQLHSTMT stmt = NewStatement(conn_);
      ASSERT_EQ(Prepare(stmt, S("select NAME from items where QTY >= 0"), SQL_NTS), SQL_SUCCESS);
      ASSERT_EQ(FreeStmt(stmt, SQL_DROP), SQL_SUCCESS);
    }
  });
  EXPECT_LE(Count(log, "KivCreateSQLStatement"), 1u);
  EXPECT_EQ(Count(log, "KivResetSQLStatement"), 1000u);
  EXPECT_EQ(Count(log, "KivCloseSQLStatement"), 0u);

  // Data definition closes the idle engine statements first.
  SQLHSTMT stmt = NewStatement(conn_);
  SQLHSTMT idle = NewStatement(conn_);
  ASSERT_EQ(FreeStmt(idle, SQL_DROP), SQL_SUCCESS);
  const std::string ddl = EngineCalls([&] { Prepare(stmt, S("create table fresh (A int)"), SQL_NTS); });
  EXPECT_EQ(Count(ddl, "KivCloseSQLStatement"), 1u) << ddl;
  EXPECT_EQ(FreeStmt(stmt, SQL_DROP), SQL_SUCCESS);
}

TEST_F(StatementTest, ReleaseFreesEverythingWhenTheEngineFails) {
  ASSERT_EQ(PrepareText(stmt_, "select NAME from items where QTY >= 0"), SQL_SUCCESS);
  const uint32_t engineStatement = Stmt()->request->statement;
  KivTestFailCall("KivResetSQLStatement", KIV_ERR_IO, "disk gone", 1);
  // The drop reports the failure on the connection, frees the statement and
  // leaves the connection's work alone.
  std::string log = EngineCalls([&] { EXPECT_EQ(FreeStmt(stmt_, SQL_DROP), SQL_ERROR); });
  stmt_ = nullptr;
  EXPECT_EQ(AsConn(conn_)->firstStmt, nullptr);
  EXPECT_EQ(AsConn(conn_)->code, KIV_ERR_IO);
  EXPECT_EQ(Count(log, "KivRollbackTransaction"), 0u);
  // The engine statement that could not be reset is closed, never handed out again.
  EXPECT_EQ(Count(log, "KivCloseSQLStatement"), 1u);
  SQLHSTMT next = NewStatement(conn_);
  EXPECT_NE(AsStmt(next)->request->statement, engineStatement);
}

TEST_F(StatementTest, AllocationFailsWhenTheEngineStatementCannotBeSetUp) {
  ASSERT_EQ(FreeStmt(stmt_, SQL_DROP), SQL_SUCCESS);
  stmt_ = nullptr;
  KivTestFailCall("KivStmtSetTableRights", KIV_ERR_INVALID_ARGUMENT, "bad rights", 1);
  SQLHSTMT stmt = reinterpret_cast<SQLHSTMT>(1);
  const std::string log = EngineCalls([&] { EXPECT_EQ(AllocStmt(conn_, &stmt), SQL_ERROR); });
  EXPECT_EQ(stmt, nullptr);
  EXPECT_EQ(AsConn(conn_)->firstStmt, nullptr);
  EXPECT_EQ(AsConn(conn_)->code, KIV_ERR_INVALID_ARGUMENT);
  // The options stop at the first failure.
  EXPECT_EQ(Count(log, "KivStmtSetTableType"), 0u) << log;
  // A statement that the engine reset and cleared goes back idle and is reused.
  SQLHSTMT again = NewStatement(conn_);
  EXPECT_NE(again, nullptr);
}

TEST_F(StatementTest, FreeStmtOptions) {
  ASSERT_EQ(PrepareText(stmt_, "select NAME from items where QTY >= 0"), SQL_SUCCESS);
  for (int16_t number : {0, 1, 2}) {
    FindDescItem(Stmt()->ard, number, CreateItem{});
    FindDescItem(Stmt()->apd, number, CreateItem{});
  }
  ASSERT_EQ(FreeStmt(stmt_, SQL_UNBIND), SQL_SUCCESS);
  ASSERT_NE(Stmt()->ard->firstItem, nullptr);
  EXPECT_EQ(Stmt()->ard->firstItem->number, 0);
  EXPECT_EQ(Stmt()->ard->firstItem->next, nullptr);

  Stmt()->cursor.needData = 1;
  EXPECT_EQ(FreeStmt(stmt_, SQL_RESET_PARAMS), SQL_ERROR);
  EXPECT_EQ(Stmt()->code, kInvalidCursorState);
  Stmt()->cursor.needData = 0;
  ASSERT_EQ(FreeStmt(stmt_, SQL_RESET_PARAMS), SQL_SUCCESS);
  ASSERT_NE(Stmt()->apd->firstItem, nullptr);
  EXPECT_EQ(Stmt()->apd->firstItem->number, 0);
  EXPECT_EQ(Stmt()->apd->firstItem->next, nullptr);

  // A prepared statement keeps its preparation across a close.
  ASSERT_EQ(FreeStmt(stmt_, SQL_CLOSE), SQL_SUCCESS);
  EXPECT_NE(Stmt()->parseTree, nullptr);
  EXPECT_NE(Stmt()->request, nullptr);
  EXPECT_EQ(Stmt()->prepared, 1);
}

TEST_F(StatementTest, TablePasswordsGoToEachEngineStatementOnce) {
  ASSERT_EQ(AddTablePassword(Session(), "items", "secret"), 0u);
  ASSERT_EQ(AddTablePassword(Session(), "orders", "other"), 0u);
  std::string log = EngineCalls([&] { ASSERT_EQ(PrepareText(stmt_, "select NAME from items where QTY >= 0"), SQL_SUCCESS); });
  EXPECT_EQ(Count(log, "KivSetStatementPassword"), 2u) << log;
  log = EngineCalls([&] { ASSERT_EQ(PrepareText(stmt_, "select NAME from items where QTY >= 0"), SQL_SUCCESS); });
  EXPECT_EQ(Count(log, "KivSetStatementPassword"), 2u) << "a new preparation takes a new engine request";

  KivTestFailCall("KivSetStatementPassword", KIV_ERR_PASSWORD_REQUIRED, "password refused", 1);
  EXPECT_EQ(PrepareText(stmt_, "select NAME from items where QTY >= 0"), SQL_ERROR);
  EXPECT_EQ(Stmt()->code, KIV_ERR_PASSWORD_REQUIRED);
  EXPECT_EQ(Stmt()->request, nullptr);
  // A returned engine statement forgets its passwords.
  log = EngineCalls([&] { ASSERT_EQ(FreeStmt(stmt_, SQL_DROP), SQL_SUCCESS); });
  stmt_ = nullptr;
  EXPECT_EQ(Count(log, "KivClearStatementPasswords"), 0u) << "nothing was prepared";
  SQLHSTMT stmt = NewStatement(conn_);
  ASSERT_EQ(Prepare(stmt, S("select NAME from items where QTY >= 0"), SQL_NTS), SQL_SUCCESS);
  log = EngineCalls([&] { ASSERT_EQ(FreeStmt(stmt, SQL_DROP), SQL_SUCCESS); });
  EXPECT_EQ(Count(log, "KivClearStatementPasswords"), 1u) << log;
}

TEST_F(StatementTest, DisconnectEndsThePreparationsOfItsStatements) {
  ASSERT_EQ(PrepareText(stmt_, "select NAME from items where QTY >= 0"), SQL_SUCCESS);
  const std::string log = EngineCalls([&] { ASSERT_EQ(Disconnect(conn_), SQL_SUCCESS); });
  // Tables and engine statements are closed while the engine connection lives.
  EXPECT_LT(log.find("KivCloseSQLStatement\n"), log.find("KivDisconnect\n")) << log;
  EXPECT_EQ(Stmt()->parseTree, nullptr);
  EXPECT_EQ(Stmt()->request, nullptr);
  EXPECT_EQ(Stmt()->prepared, 0);
  EXPECT_EQ(PrepareText(stmt_, "select NAME from items where QTY >= 0"), SQL_ERROR);

  ASSERT_TRUE(SQL_SUCCEEDED(
      DriverConnect(conn_, nullptr, S("DSN=KivData"), SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT)));
  ASSERT_EQ(PrepareText(stmt_, "select NAME from items where QTY >= 0"), SQL_SUCCESS) << DiagOf(SQL_HANDLE_STMT, stmt_).message;
  EXPECT_NE(Stmt()->request, nullptr);
}

}  // namespace

TEST_F(StatementTest, TheDriversOwnSelectReadsTheTableAndReportsDeletedKeys) {
  Stmt()->cursorType = SQL_CURSOR_KEYSET_DRIVEN;
  KivTestFailCall("KivCheckSQL", KIV_ERR_SQL_DECLINED, "declined", 1);
  ASSERT_EQ(PrepareText(stmt_, "SELECT NAME FROM items"), SQL_SUCCESS) << DiagOf(SQL_HANDLE_STMT, stmt_).message;
  ASSERT_EQ(Execute(stmt_), SQL_SUCCESS) << DiagOf(SQL_HANDLE_STMT, stmt_).message;
  SQLLEN rows = 0;
  EXPECT_EQ(RowCount(stmt_, &rows), SQL_SUCCESS);
  EXPECT_EQ(rows, 5);
  // A record deleted after the keyset was built.
  EngineTable* other = Open("items");
  ASSERT_NE(other, nullptr);
  ASSERT_EQ(GoToRecord(other, 2), 0u);
  ASSERT_EQ(DeleteTableRecord(other), 0u);
  ASSERT_EQ(CloseEngineTable(Session(), other), 0u);
  const char* const names[] = {"one", nullptr, "three", "four", "five"};
  for (const char* name : names) {
    SQLULEN count = 0;
    SQLUSMALLINT status = 99;
    if (name == nullptr) {
      EXPECT_EQ(ExtendedFetch(stmt_, SQL_FETCH_NEXT, 0, &count, &status), SQL_SUCCESS_WITH_INFO)
          << DiagOf(SQL_HANDLE_STMT, stmt_).message << Stmt()->code;
      EXPECT_EQ(status, SQL_ROW_DELETED);
      EXPECT_EQ(Stmt()->code, kDeletedRow);
      EXPECT_EQ(count, 1u);
      continue;
    }
    ASSERT_EQ(ExtendedFetch(stmt_, SQL_FETCH_NEXT, 0, &count, &status), SQL_SUCCESS)
        << DiagOf(SQL_HANDLE_STMT, stmt_).message;
    EXPECT_EQ(status, SQL_ROW_SUCCESS);
    char text[32] = {};
    SQLLEN length = 0;
    ASSERT_EQ(GetData(stmt_, 1, SQL_C_CHAR, text, sizeof text, &length), SQL_SUCCESS);
    std::string value = text;
    value.erase(value.find_last_not_of(' ') + 1);
    EXPECT_EQ(value, name);
  }
  SQLULEN count = 9;
  SQLUSMALLINT status = 99;
  EXPECT_EQ(ExtendedFetch(stmt_, SQL_FETCH_NEXT, 0, &count, &status), SQL_NO_DATA);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(status, SQL_ROW_NOROW);
  ASSERT_EQ(FreeStmt(stmt_, SQL_CLOSE), SQL_SUCCESS);

  // The engine's own statement without an engine statement behind it is refused.
  KivTestFailCall("KivCheckSQL", KIV_ERR_SQL_DECLINED, "declined", 1);
  ASSERT_EQ(PrepareText(stmt_, "SQL"), SQL_SUCCESS) << DiagOf(SQL_HANDLE_STMT, stmt_).message;
  EXPECT_EQ(Stmt()->request, nullptr);
  EXPECT_EQ(Execute(stmt_), SQL_ERROR);
  EXPECT_EQ(Stmt()->code, kInternalError);
}

}  // namespace kivodbc::testing
