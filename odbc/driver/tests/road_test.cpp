// The whole road: applications (this program through libodbc, isql, pyodbc)
// through unixODBC to the built driver and the engine, over the sample data
// and a data source written by the setup library.
#include <gtest/gtest.h>
#include <odbcinst.h>
#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "qel32.h"
#include "qel32_test.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using kivodbc::testing::OdbcConfig;

const char* const kDriver = "Morvane Rivulet ODBC";

// The driver and its setup library registered; the data sources are written
// by the setup library in SetUpTestSuite.
OdbcConfig& Config() {
  static OdbcConfig* config = new OdbcConfig(
      "[Morvane Rivulet ODBC]\nDriver=" KIVODBC_DRIVER_PATH "\nSetup=" KIVSET_LIBRARY_PATH "\n", "");
  return *config;
}

std::string SampleFolder() { return (Config().Root() / "sample").string(); }

struct Outcome {
  int status;
  std::string output;
};

#ifndef KIVODBC_CHILD_ENVIRONMENT
#define KIVODBC_CHILD_ENVIRONMENT ""
#endif

// Runs a program with `input` on its standard input; output and errors together.
Outcome RunCommand(const std::string& command, const std::string& input = "") {
  Outcome o{-1, {}};
  const std::string line = "echo '" + input + "' | env " KIVODBC_CHILD_ENVIRONMENT " " + command + " 2>&1";
  FILE* pipe = ::popen(line.c_str(), "r");
  if (pipe == nullptr) return o;
  std::array<char, 512> chunk;
  while (std::fgets(chunk.data(), chunk.size(), pipe) != nullptr) o.output += chunk.data();
  o.status = ::pclose(pipe);
  return o;
}

std::string DiagText(SQLSMALLINT type, SQLHANDLE handle, std::string* state = nullptr, SQLINTEGER* native = nullptr) {
  SQLCHAR s[6] = {};
  SQLCHAR message[600] = {};
  SQLINTEGER n = 0;
  SQLGetDiagRec(type, handle, 1, s, &n, message, sizeof message, nullptr);
  if (state != nullptr) *state = reinterpret_cast<char*>(s);
  if (native != nullptr) *native = n;
  return reinterpret_cast<char*>(message);
}

class Road : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Config().Activate();
    fs::create_directories(SampleFolder());
    ASSERT_EQ(RunCommand(std::string(KIVDEMO_PATH) + " " + SampleFolder()).status, 0);
    // The data sources as the setup library writes them (no window: no dialog).
    auto attributes = [](const std::string& dsn, const std::string& directory) {
      std::string list = "DSN=" + dsn;
      list += '\0';
      list += "DataDirectory=" + directory;
      list += std::string(2, '\0');
      return list;
    };
    for (const std::string& list : {attributes("KivSample", SampleFolder()),
                                    attributes("KivSampleDictionary", SampleFolder() + "/sample.kdd")})
      ASSERT_TRUE(SQLConfigDataSource(nullptr, ODBC_ADD_DSN, kDriver, list.c_str()));
  }
  void SetUp() override {
    Config().Activate();
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_), SQL_SUCCESS);
    ASSERT_EQ(SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0), SQL_SUCCESS);
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_), SQL_SUCCESS);
  }
  void TearDown() override {
    KivTestClearFaults();
    SQLDisconnect(dbc_);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    SQLFreeHandle(SQL_HANDLE_ENV, env_);
  }
  SQLRETURN DriverConnect(const std::string& text) {
    return SQLDriverConnect(dbc_, nullptr, reinterpret_cast<SQLCHAR*>(const_cast<char*>(text.c_str())), SQL_NTS,
                            nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
  }
  SQLHENV env_ = nullptr;
  SQLHDBC dbc_ = nullptr;
};

// The engine connection the driver opened on the folder, found through the
// engine itself (the driver loads the very library this program links).
KIVHANDLE EngineConnectionOn(const std::string& folder) {
  KIVHANDLE found = 0;
  EXPECT_EQ(KivFindConnection(folder.c_str(), &found), 0u);
  return found;
}

void RunSql(KIVHANDLE engine, const std::string& sql) {
  KIVHANDLE statement = 0, cursor = 0;
  ASSERT_EQ(KivCreateSQLStatement(engine, &statement), 0u);
  ASSERT_EQ(KivExecuteSQLDirect(statement, sql.c_str(), &cursor), 0u) << sql;
  KivCloseSQLStatement(statement);
}

uint32_t CountRows(KIVHANDLE engine, const std::string& table) {
  KIVHANDLE statement = 0, cursor = 0;
  uint32_t count = 0;
  EXPECT_EQ(KivCreateSQLStatement(engine, &statement), 0u);
  EXPECT_EQ(KivExecuteSQLDirect(statement, ("SELECT * FROM " + table).c_str(), &cursor), 0u);
  EXPECT_EQ(KivGetRecordCount(cursor, KIV_COUNT_IGNORE_FILTERS, &count), 0u);
  KivCloseSQLStatement(statement);
  return count;
}

TEST_F(Road, ConnectReadInfoAndRunTransactions) {
  // Autocommit off before the connect is kept by the driver manager and the driver.
  ASSERT_EQ(SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0),
            SQL_SUCCESS);
  ASSERT_TRUE(SQL_SUCCEEDED(DriverConnect("DSN=KivSample"))) << DiagText(SQL_HANDLE_DBC, dbc_);
  SQLUINTEGER autocommit = 1;
  ASSERT_EQ(SQLGetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT, &autocommit, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(autocommit, SQL_AUTOCOMMIT_OFF);

  char text[300] = {};
  SQLSMALLINT length = 0;
  ASSERT_EQ(SQLGetInfo(dbc_, SQL_DBMS_NAME, text, sizeof text, &length), SQL_SUCCESS);
  EXPECT_STREQ(text, "Morvane");
  ASSERT_EQ(SQLGetInfo(dbc_, SQL_DATABASE_NAME, text, sizeof text, &length), SQL_SUCCESS);
  EXPECT_EQ(text, SampleFolder());
  ASSERT_EQ(SQLGetInfo(dbc_, SQL_DESCRIBE_PARAMETER, text, sizeof text, &length), SQL_SUCCESS);
  EXPECT_STREQ(text, "N");
  SQLUSMALLINT capable = 0;
  ASSERT_EQ(SQLGetInfo(dbc_, SQL_TXN_CAPABLE, &capable, sizeof capable, nullptr), SQL_SUCCESS);
  EXPECT_EQ(capable, 1);
  // Answered by the driver manager itself.
  ASSERT_EQ(SQLGetInfo(dbc_, SQL_ODBC_VER, text, sizeof text, nullptr), SQL_SUCCESS);
  EXPECT_EQ(std::string(text).substr(0, 3), "03.");

  const KIVHANDLE engine = EngineConnectionOn(SampleFolder());
  ASSERT_NE(engine, 0u);
  RunSql(engine, "CREATE TABLE journal (amount INTEGER)");
  for (SQLSMALLINT completion : {SQL_ROLLBACK, SQL_COMMIT}) {
    ASSERT_EQ(KivBeginTransaction(engine), 0u);
    RunSql(engine, "INSERT INTO journal VALUES (5)");
    if (completion == SQL_ROLLBACK) {
      // Open work: the disconnect is refused.
      EXPECT_EQ(SQLDisconnect(dbc_), SQL_ERROR);
      std::string state;
      DiagText(SQL_HANDLE_DBC, dbc_, &state);
      EXPECT_EQ(state, "25000");
    }
    ASSERT_EQ(SQLEndTran(SQL_HANDLE_DBC, dbc_, completion), SQL_SUCCESS) << DiagText(SQL_HANDLE_DBC, dbc_);
    EXPECT_EQ(CountRows(engine, "journal"), completion == SQL_COMMIT ? 1u : 0u);
  }
  RunSql(engine, "DROP TABLE journal");
  EXPECT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS);
  EXPECT_EQ(EngineConnectionOn(SampleFolder()), 0u);
}

TEST_F(Road, DictionaryLoginAndAnOlderEngine) {
  // The sample dictionary's only user has no password.
  ASSERT_TRUE(SQL_SUCCEEDED(DriverConnect("DSN=KivSampleDictionary;UID=KIVSYS")))
      << DiagText(SQL_HANDLE_DBC, dbc_);
  char name[64] = {};
  ASSERT_EQ(SQLGetInfo(dbc_, SQL_USER_NAME, name, sizeof name, nullptr), SQL_SUCCESS);
  EXPECT_STREQ(name, "KIVSYS");
  ASSERT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS);

  EXPECT_EQ(DriverConnect("DSN=KivSampleDictionary;UID=KIVSYS;PWD=wrong"), SQL_ERROR);
  std::string state;
  SQLINTEGER native = 0;
  const std::string message = DiagText(SQL_HANDLE_DBC, dbc_, &state, &native);
  EXPECT_EQ(state, "HY000");
  EXPECT_EQ(native, static_cast<SQLINTEGER>(KIV_ERR_LOGIN));
  EXPECT_NE(message.find("[Kestrane][Morvane SQL][DAX] "), std::string::npos) << message;

  KivTestFailCall("KivGetLibraryVersion", KIV_ERR_NOT_AVAILABLE, "old", 1);
  ::testing::internal::CaptureStderr();
  const SQLRETURN rc = DriverConnect("DSN=KivSample");
  const std::string shown = ::testing::internal::GetCapturedStderr();
  // Through the driver manager: a warning of the connect, nothing on the
  // application's streams.
  EXPECT_EQ(rc, SQL_SUCCESS_WITH_INFO);
  const std::string warning = DiagText(SQL_HANDLE_DBC, dbc_, &state, &native);
  EXPECT_EQ(state, "01000");
  EXPECT_EQ(native, 2235);
  EXPECT_NE(warning.find("The library libqel32.so is older than the ODBC Driver DLL.  Morvane DLLs must be of the "
                         "same version."),
            std::string::npos)
      << warning;
  EXPECT_EQ(shown, "");
}

TEST_F(Road, IsqlConnectsByDataSourceAndByConnectionString) {
  struct Case {
    std::string arguments;
  } cases[] = {
      {"-v KivSample"},
      {"-v KivSampleDictionary KIVSYS"},
      {"-v -k \"DRIVER={Morvane Rivulet ODBC};DataDirectory=" + SampleFolder() + "\""},
      {"-v -k \"DRIVER={Morvane Rivulet ODBC};DataDirectory=" + SampleFolder() + "/sample.kdd;UID=KIVSYS\""},
  };
  for (const Case& c : cases) {
    const Outcome o = RunCommand("isql " + c.arguments, "quit");
    EXPECT_EQ(o.status, 0) << c.arguments << "\n" << o.output;
    EXPECT_NE(o.output.find("Connected!"), std::string::npos) << c.arguments << "\n" << o.output;
  }
  const Outcome refused = RunCommand("isql -v KivSampleDictionary KIVSYS wrong", "quit");
  EXPECT_NE(refused.status, 0);
  EXPECT_NE(refused.output.find("[Kestrane][Morvane SQL][DAX]"), std::string::npos) << refused.output;
}

TEST_F(Road, PyodbcConnectsReadsInfoAndRunsTransactions) {
  if (!fs::exists("/usr/bin/python3") || RunCommand("/usr/bin/python3 -c 'import pyodbc'").status != 0)
    GTEST_SKIP() << "python3-pyodbc is not installed";
  const fs::path script = Config().Root() / "road.py";
  std::ofstream(script) << R"(
import ctypes, sys, pyodbc
folder, engine_path = sys.argv[1], sys.argv[2]
engine = ctypes.CDLL(engine_path)  # the library the driver loaded: one engine
c = pyodbc.connect('DSN=KivSample')
assert c.getinfo(pyodbc.SQL_DBMS_NAME) == 'Morvane'
assert c.getinfo(pyodbc.SQL_DRIVER_NAME) == 'KIVODBC.DLL'
assert c.getinfo(pyodbc.SQL_DATABASE_NAME) == folder
assert c.getinfo(pyodbc.SQL_TXN_CAPABLE) == 1
c.autocommit = False
assert c.autocommit is False
handle = ctypes.c_uint32(0)
assert engine.KivFindConnection(folder.encode(), ctypes.byref(handle)) == 0 and handle.value != 0
def sql(text):
    st, cur = ctypes.c_uint32(0), ctypes.c_uint32(0)
    assert engine.KivCreateSQLStatement(handle, ctypes.byref(st)) == 0
    assert engine.KivExecuteSQLDirect(st, text.encode(), ctypes.byref(cur)) == 0, text
    n = ctypes.c_uint32(0)
    if text.startswith('SELECT'):
        assert engine.KivGetRecordCount(cur, 2, ctypes.byref(n)) == 0
    engine.KivCloseSQLStatement(st)
    return n.value
sql('CREATE TABLE pyjournal (amount INTEGER)')
for finish, expected in ((c.rollback, 0), (c.commit, 1)):
    assert engine.KivBeginTransaction(handle) == 0
    sql('INSERT INTO pyjournal VALUES (1)')
    finish()
    assert sql('SELECT * FROM pyjournal') == expected, finish
sql('DROP TABLE pyjournal')
c.autocommit = True
c.close()
print('road ok')
)";
  const Outcome o = RunCommand("/usr/bin/python3 " + script.string() + " " + SampleFolder() + " " + KIVODBC_ENGINE_PATH);
  EXPECT_EQ(o.status, 0) << o.output;
  EXPECT_NE(o.output.find("road ok"), std::string::npos) << o.output;
}

}  // namespace

namespace {

SQLRETURN PrepareText(SQLHSTMT stmt, const char* text) {
  return SQLPrepare(stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>(text)), SQL_NTS);
}

std::string CursorNameOf(SQLHSTMT stmt) {
  SQLCHAR name[32] = {};
  SQLSMALLINT length = 0;
  EXPECT_EQ(SQLGetCursorName(stmt, name, sizeof name, &length), SQL_SUCCESS);
  return reinterpret_cast<char*>(name);
}

TEST_F(Road, PreparedStatementsDescribeTheirResultsBeforeExecution) {
  ASSERT_TRUE(SQL_SUCCEEDED(DriverConnect("DSN=KivSample"))) << DiagText(SQL_HANDLE_DBC, dbc_);
  const KIVHANDLE engine = EngineConnectionOn(SampleFolder());
  ASSERT_NE(engine, 0u);
  const char* const select = "select ID, NAME, PRICE, WEIGHT, ADDED, DESCR from items";

  SQLHSTMT stmt = nullptr;
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt), SQL_SUCCESS);
  ASSERT_EQ(PrepareText(stmt, select), SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, stmt);

  // What the engine itself says about the same text.
  KIVHANDLE probe = 0;
  ASSERT_EQ(KivCreateSQLStatement(engine, &probe), 0u);
  KivColumnDescription expected[16] = {};
  uint32_t count = 16;
  ASSERT_EQ(KivPrepareSQLDescribe(probe, select, expected, sizeof expected, &count), 0u);
  KivCloseSQLStatement(probe);

  SQLSMALLINT columns = 0;
  ASSERT_EQ(SQLNumResultCols(stmt, &columns), SQL_SUCCESS);
  ASSERT_EQ(columns, static_cast<SQLSMALLINT>(count));
  const SQLSMALLINT types[] = {SQL_INTEGER, SQL_CHAR, SQL_NUMERIC, SQL_DOUBLE, SQL_TYPE_TIMESTAMP, SQL_LONGVARCHAR};
  for (SQLUSMALLINT i = 1; i <= count; ++i) {
    SQLCHAR name[200] = {};
    SQLSMALLINT nameLength = 0, type = 0, digits = 0, nullable = 0;
    SQLULEN size = 0;
    ASSERT_EQ(SQLDescribeCol(stmt, i, name, sizeof name, &nameLength, &type, &size, &digits, &nullable),
              SQL_SUCCESS)
        << DiagText(SQL_HANDLE_STMT, stmt);
    EXPECT_STREQ(reinterpret_cast<char*>(name), expected[i - 1].name);
    EXPECT_EQ(type, types[i - 1]) << expected[i - 1].name;
  }

  // An insert the engine refuses still prepares (its error belongs to execution).
  SQLHSTMT insert = nullptr;
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &insert), SQL_SUCCESS);
  EXPECT_EQ(PrepareText(insert, "insert into nowhere (A) values (?)"), SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, insert);
  ASSERT_EQ(SQLNumResultCols(insert, &columns), SQL_SUCCESS);
  EXPECT_EQ(columns, 0);

  // Cursor names: generated in order, limited in length, unique on the connection.
  SQLHSTMT second = nullptr;
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &second), SQL_SUCCESS);
  ASSERT_EQ(PrepareText(second, select), SQL_SUCCESS);
  EXPECT_EQ(CursorNameOf(stmt), "SQL_CUR_00000");
  EXPECT_EQ(CursorNameOf(second), "SQL_CUR_00001");
  std::string state;
  EXPECT_EQ(SQLSetCursorName(stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>("nineteen_characters")), SQL_NTS),
            SQL_ERROR);
  DiagText(SQL_HANDLE_STMT, stmt, &state);
  EXPECT_EQ(state, "34000");
  EXPECT_EQ(SQLSetCursorName(stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>("Sql_Cur_00001")), SQL_NTS),
            SQL_ERROR);
  DiagText(SQL_HANDLE_STMT, stmt, &state);
  EXPECT_EQ(state, "3C000");
  EXPECT_EQ(SQLSetCursorName(stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>("mine")), SQL_NTS), SQL_SUCCESS);
  EXPECT_EQ(CursorNameOf(stmt), "mine");

  for (SQLHSTMT h : {stmt, insert, second}) EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_STMT, h), SQL_SUCCESS);

  // A thousand statements prepared and freed leave the engine's statements as they were.
  KivTestClearCallLog();
  KivTestRecordCalls(1);
  for (int i = 0; i < 1000; ++i) {
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt), SQL_SUCCESS);
    ASSERT_EQ(PrepareText(stmt, select), SQL_SUCCESS);
    ASSERT_EQ(SQLFreeHandle(SQL_HANDLE_STMT, stmt), SQL_SUCCESS);
  }
  KivTestRecordCalls(0);
  std::string log(KivTestGetCallLog(nullptr, 0) + 1, '\0');
  KivTestGetCallLog(log.data(), static_cast<uint32_t>(log.size()));
  EXPECT_EQ(log.find("KivCreateSQLStatement\n"), std::string::npos);
  EXPECT_EQ(log.find("KivCloseSQLStatement\n"), std::string::npos);
  EXPECT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS);
}


SQLCHAR* Sql(const char* text) { return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text)); }

// Runs a text directly; the ODBC result.
SQLRETURN Direct(SQLHSTMT stmt, const std::string& text) {
  return SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>(text.c_str())), SQL_NTS);
}

// A folder of its own with the data source on it, for tests that write tables.
class RoadWriting : public Road {
 protected:
  void SetUp() override {
    Road::SetUp();
    folder_ = (Config().Root() / ::testing::UnitTest::GetInstance()->current_test_info()->name()).string();
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    ASSERT_TRUE(SQL_SUCCEEDED(DriverConnect("DRIVER={" + std::string(kDriver) + "};DataDirectory=" + folder_)))
        << DiagText(SQL_HANDLE_DBC, dbc_);
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt_), SQL_SUCCESS);
  }
  void TearDown() override {
    SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
    KivSetCurrentDatabase("");  // "use" chooses for the whole process
    Road::TearDown();
  }
  std::string folder_;
  SQLHSTMT stmt_ = nullptr;
};

TEST_F(RoadWriting, StatementsRunWithRowCountsAndParameters) {
  ASSERT_EQ(Direct(stmt_, "CREATE TABLE parts (code CHAR(8), qty INTEGER, info MEMO)"), SQL_SUCCESS)
      << DiagText(SQL_HANDLE_STMT, stmt_);
  // Parameters bound by value.
  ASSERT_EQ(SQLPrepare(stmt_, Sql("INSERT INTO parts (code, qty) VALUES (?, ?)"), SQL_NTS), SQL_SUCCESS)
      << DiagText(SQL_HANDLE_STMT, stmt_);
  char code[9] = {};
  SQLINTEGER qty = 0;
  SQLLEN codeLength = SQL_NTS;
  ASSERT_EQ(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_CHAR, 8, 0, code, sizeof code, &codeLength),
            SQL_SUCCESS);
  ASSERT_EQ(SQLBindParameter(stmt_, 2, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &qty, 0, nullptr),
            SQL_SUCCESS);
  for (int i = 1; i <= 3; ++i) {
    std::snprintf(code, sizeof code, "P%d", i);
    qty = i * 10;
    ASSERT_EQ(SQLExecute(stmt_), SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, stmt_);
    SQLLEN rows = 0;
    EXPECT_EQ(SQLRowCount(stmt_, &rows), SQL_SUCCESS);
    EXPECT_EQ(rows, 1);
  }
  EXPECT_EQ(SQLFreeStmt(stmt_, SQL_RESET_PARAMS), SQL_SUCCESS);

  struct Case {
    const char* text;
    SQLRETURN result;
    SQLLEN rows;
  };
  const Case cases[] = {
      {"UPDATE parts SET qty = qty + 1 WHERE qty >= 20", SQL_SUCCESS, 2},
      {"UPDATE parts SET qty = 0 WHERE code = 'none'", SQL_NO_DATA, 0},  // ODBC 3: no row is no data
      {"DELETE FROM parts WHERE code = 'P1'", SQL_SUCCESS, 1},
      {"DELETE FROM parts WHERE code = 'P1'", SQL_NO_DATA, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Direct(stmt_, c.text), c.result) << c.text << DiagText(SQL_HANDLE_STMT, stmt_);
    SQLLEN rows = -5;
    EXPECT_EQ(SQLRowCount(stmt_, &rows), SQL_SUCCESS);
    EXPECT_EQ(rows, c.rows) << c.text;
  }
  // A refused statement: the engine's error, and the statement is free again.
  EXPECT_EQ(Direct(stmt_, "INSERT INTO nowhere (A) VALUES (1)"), SQL_ERROR);
  EXPECT_FALSE(DiagText(SQL_HANDLE_STMT, stmt_).empty());
  EXPECT_EQ(Direct(stmt_, "DELETE FROM parts"), SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, stmt_);
  SQLLEN rows = 0;
  EXPECT_EQ(SQLRowCount(stmt_, &rows), SQL_SUCCESS);
  EXPECT_EQ(rows, 2);
}

TEST_F(RoadWriting, DataAtExecutionRunsTheStatementWhenTheLastValueIsIn) {
  ASSERT_EQ(Direct(stmt_, "CREATE TABLE parts (code CHAR(8), qty INTEGER, info MEMO)"), SQL_SUCCESS)
      << DiagText(SQL_HANDLE_STMT, stmt_);
  ASSERT_EQ(SQLPrepare(stmt_, Sql("INSERT INTO parts (code, info) VALUES (?, ?)"), SQL_NTS), SQL_SUCCESS);
  char tokens[2] = {};
  SQLLEN atExecution = SQL_DATA_AT_EXEC;
  SQLLEN longAtExecution = SQL_LEN_DATA_AT_EXEC(3000);
  ASSERT_EQ(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_CHAR, 8, 0, &tokens[0], 0, &atExecution),
            SQL_SUCCESS);
  ASSERT_EQ(SQLBindParameter(stmt_, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_LONGVARCHAR, 3000, 0, &tokens[1], 0,
                             &longAtExecution),
            SQL_SUCCESS);
  ASSERT_EQ(SQLExecute(stmt_), SQL_NEED_DATA) << DiagText(SQL_HANDLE_STMT, stmt_);
  SQLPOINTER token = nullptr;
  ASSERT_EQ(SQLParamData(stmt_, &token), SQL_NEED_DATA);
  EXPECT_EQ(token, &tokens[0]);
  ASSERT_EQ(SQLPutData(stmt_, Sql("LONG"), SQL_NTS), SQL_SUCCESS);
  ASSERT_EQ(SQLParamData(stmt_, &token), SQL_NEED_DATA);
  EXPECT_EQ(token, &tokens[1]);
  std::string pieces[3] = {std::string(1000, 'a'), std::string(1000, 'b'), std::string(1000, 'c')};
  for (std::string& p : pieces)
    ASSERT_EQ(SQLPutData(stmt_, p.data(), static_cast<SQLLEN>(p.size())), SQL_SUCCESS)
        << DiagText(SQL_HANDLE_STMT, stmt_);
  ASSERT_EQ(SQLParamData(stmt_, &token), SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, stmt_);
  SQLLEN rows = 0;
  EXPECT_EQ(SQLRowCount(stmt_, &rows), SQL_SUCCESS);
  EXPECT_EQ(rows, 1);

  // The engine holds the whole value.
  const KIVHANDLE engine = EngineConnectionOn(folder_);
  KIVHANDLE statement = 0, cursor = 0;
  ASSERT_EQ(KivCreateSQLStatement(engine, &statement), 0u);
  ASSERT_EQ(KivExecuteSQLDirect(statement, "SELECT code, info FROM parts", &cursor), 0u);
  ASSERT_EQ(KivGotoTop(cursor), 0u);
  uint32_t length = 0;
  EXPECT_EQ(KivGetMemoLength(cursor, KIV_FIELD(2), &length), 0u);
  EXPECT_EQ(length, 3000u);
  KivCloseSQLStatement(statement);

  // The same statement directly: the parse list lives on until the data is in.
  ASSERT_EQ(SQLFreeStmt(stmt_, SQL_CLOSE), SQL_SUCCESS);
  ASSERT_EQ(Direct(stmt_, "INSERT INTO parts (code, info) VALUES (?, ?)"), SQL_NEED_DATA)
      << DiagText(SQL_HANDLE_STMT, stmt_);
  ASSERT_EQ(SQLParamData(stmt_, &token), SQL_NEED_DATA);
  ASSERT_EQ(SQLPutData(stmt_, Sql("SHORT"), SQL_NTS), SQL_SUCCESS);
  ASSERT_EQ(SQLParamData(stmt_, &token), SQL_NEED_DATA);
  ASSERT_EQ(SQLPutData(stmt_, Sql("memo"), SQL_NTS), SQL_SUCCESS);
  ASSERT_EQ(SQLParamData(stmt_, &token), SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, stmt_);
  EXPECT_EQ(CountRows(engine, "parts"), 2u);
  // Nothing is left prepared.
  EXPECT_EQ(SQLExecute(stmt_), SQL_ERROR);
}


// A table of three rows for the fetch tests: codes, quantities and a null.
void FillParts(SQLHSTMT stmt) {
  ASSERT_EQ(Direct(stmt, "CREATE TABLE parts (code CHAR(10), qty INTEGER, price NUMERIC(8,2), seen DATE)"),
            SQL_SUCCESS)
      << DiagText(SQL_HANDLE_STMT, stmt);
  for (const char* row : {"INSERT INTO parts (code, qty, price, seen) VALUES ('ABCDEFGHIJ', 10, 1.5, '2024-02-29')",
                          "INSERT INTO parts (code, qty, price) VALUES ('SECOND', 20, 2.25)",
                          "INSERT INTO parts (qty) VALUES (30)"})
    ASSERT_EQ(Direct(stmt, row), SQL_SUCCESS) << row << DiagText(SQL_HANDLE_STMT, stmt);
}

TEST_F(RoadWriting, ParametersAreDescribedAndOneSetRuns) {
  ASSERT_EQ(Direct(stmt_, "CREATE TABLE parts (code CHAR(8), qty INTEGER)"), SQL_SUCCESS)
      << DiagText(SQL_HANDLE_STMT, stmt_);
  ASSERT_EQ(SQLPrepare(stmt_, Sql("INSERT INTO parts (code, qty) VALUES (?, ?)"), SQL_NTS), SQL_SUCCESS)
      << DiagText(SQL_HANDLE_STMT, stmt_);
  SQLSMALLINT count = 0;
  ASSERT_EQ(SQLNumParams(stmt_, &count), SQL_SUCCESS);
  EXPECT_EQ(count, 2);
  SQLSMALLINT type = 0, digits = -1, nullable = -1;
  SQLULEN size = 0;
  ASSERT_EQ(SQLDescribeParam(stmt_, 1, &type, &size, &digits, &nullable), SQL_SUCCESS)
      << DiagText(SQL_HANDLE_STMT, stmt_);
  EXPECT_EQ(type, SQL_VARCHAR);
  EXPECT_EQ(size, 1024u);
  EXPECT_EQ(digits, 0);
  EXPECT_EQ(nullable, SQL_NULLABLE_UNKNOWN);
  EXPECT_EQ(SQLDescribeParam(stmt_, 3, &type, &size, &digits, &nullable), SQL_ERROR);
  // Arrays of parameter sets are not taken: five asked, one set runs.
  SQLULEN processed = 99;
  EXPECT_EQ(SQLParamOptions(stmt_, 5, &processed), SQL_SUCCESS_WITH_INFO);
  std::string state;
  DiagText(SQL_HANDLE_STMT, stmt_, &state);
  EXPECT_EQ(state, "01S02");
  char code[9] = "P1";
  SQLINTEGER qty = 7;
  SQLLEN codeLength = SQL_NTS;
  ASSERT_EQ(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_CHAR, 8, 0, code, sizeof code, &codeLength),
            SQL_SUCCESS);
  ASSERT_EQ(SQLBindParameter(stmt_, 2, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &qty, 0, nullptr),
            SQL_SUCCESS);
  ASSERT_EQ(SQLExecute(stmt_), SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, stmt_);
  EXPECT_EQ(processed, 1u);
  SQLLEN rows = 0;
  EXPECT_EQ(SQLRowCount(stmt_, &rows), SQL_SUCCESS);
  EXPECT_EQ(rows, 1);
}

TEST_F(RoadWriting, BoundColumnsAndGetDataReadEveryRow) {
  ASSERT_NO_FATAL_FAILURE(FillParts(stmt_));
  ASSERT_EQ(Direct(stmt_, "SELECT code, qty, price, seen FROM parts"), SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, stmt_);
  SQLSMALLINT columns = 0;
  ASSERT_EQ(SQLNumResultCols(stmt_, &columns), SQL_SUCCESS);
  EXPECT_EQ(columns, 4);
  char code[11] = {};
  SQLINTEGER qty = 0;
  double price = 0;
  SQL_DATE_STRUCT seen = {};
  SQLLEN codeInd = 0, qtyInd = 0, priceInd = 0, seenInd = 0;
  ASSERT_EQ(SQLBindCol(stmt_, 1, SQL_C_CHAR, code, sizeof code, &codeInd), SQL_SUCCESS);
  ASSERT_EQ(SQLBindCol(stmt_, 2, SQL_C_SLONG, &qty, 0, &qtyInd), SQL_SUCCESS);
  ASSERT_EQ(SQLBindCol(stmt_, 3, SQL_C_DOUBLE, &price, 0, &priceInd), SQL_SUCCESS);
  ASSERT_EQ(SQLBindCol(stmt_, 4, SQL_C_TYPE_DATE, &seen, 0, &seenInd), SQL_SUCCESS);
  struct Row {
    const char* code;  // null: a null value
    SQLINTEGER qty;
    double price;
    bool dated;
  };
  // Character columns keep their blanks.
  const Row rows[] = {{"ABCDEFGHIJ", 10, 1.5, true}, {"SECOND    ", 20, 2.25, false}, {nullptr, 30, 0, false}};
  for (const Row& row : rows) {
    ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, stmt_);
    if (row.code == nullptr) {
      EXPECT_EQ(codeInd, SQL_NULL_DATA);
    } else {
      EXPECT_STREQ(code, row.code);
      EXPECT_EQ(codeInd, static_cast<SQLLEN>(std::strlen(row.code)));
    }
    EXPECT_EQ(qty, row.qty);
    if (row.code != nullptr) {
      EXPECT_DOUBLE_EQ(price, row.price);
    }
    if (row.dated) {
      EXPECT_EQ(seen.year, 2024);
      EXPECT_EQ(seen.month, 2);
      EXPECT_EQ(seen.day, 29);
    } else {
      EXPECT_EQ(seenInd, SQL_NULL_DATA);
    }
    // The same value again through SQLGetData, as text.
    char text[16] = {};
    SQLLEN length = 0;
    ASSERT_EQ(SQLGetData(stmt_, 2, SQL_C_CHAR, text, sizeof text, &length), SQL_SUCCESS);
    EXPECT_EQ(std::string(text), std::to_string(row.qty));
  }
  EXPECT_EQ(SQLFetch(stmt_), SQL_NO_DATA);
  std::string state;
  char text[16] = {};
  SQLLEN length = 0;
  EXPECT_EQ(SQLGetData(stmt_, 2, SQL_C_CHAR, text, sizeof text, &length), SQL_ERROR);
  DiagText(SQL_HANDLE_STMT, stmt_, &state);
  EXPECT_EQ(state, "24000");
  // The cursor stays open until it is closed; SQLMoreResults closes it.
  EXPECT_EQ(Direct(stmt_, "SELECT code FROM parts"), SQL_ERROR);
  DiagText(SQL_HANDLE_STMT, stmt_, &state);
  EXPECT_EQ(state, "24000");
  EXPECT_EQ(SQLMoreResults(stmt_), SQL_NO_DATA);
  EXPECT_EQ(SQLFetch(stmt_), SQL_ERROR);
}

TEST_F(RoadWriting, GetDataReadsALongValueInPiecesAndRefusesANullWithoutIndicator) {
  ASSERT_NO_FATAL_FAILURE(FillParts(stmt_));
  ASSERT_EQ(Direct(stmt_, "SELECT code, qty FROM parts"), SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, stmt_);
  ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS);
  struct Piece {
    SQLRETURN result;
    const char* text;
    SQLLEN length;
  };
  const Piece pieces[] = {{SQL_SUCCESS_WITH_INFO, "ABC", 10}, {SQL_SUCCESS_WITH_INFO, "DEF", 7},
                          {SQL_SUCCESS_WITH_INFO, "GHI", 4},  {SQL_SUCCESS, "J", 1},
                          {SQL_NO_DATA, nullptr, 0}};
  for (const Piece& p : pieces) {
    char buffer[4] = {};
    SQLLEN length = -7;
    ASSERT_EQ(SQLGetData(stmt_, 1, SQL_C_CHAR, buffer, sizeof buffer, &length), p.result)
        << DiagText(SQL_HANDLE_STMT, stmt_);
    if (p.text == nullptr) continue;
    EXPECT_STREQ(buffer, p.text);
    EXPECT_EQ(length, p.length);
    if (p.result == SQL_SUCCESS_WITH_INFO) {
      std::string state;
      DiagText(SQL_HANDLE_STMT, stmt_, &state);
      EXPECT_EQ(state, "01004");
    }
  }
  // Another column, then the first again: it starts over.
  SQLINTEGER qty = 0;
  ASSERT_EQ(SQLGetData(stmt_, 2, SQL_C_SLONG, &qty, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(qty, 10);
  char buffer[4] = {};
  SQLLEN length = 0;
  ASSERT_EQ(SQLGetData(stmt_, 1, SQL_C_CHAR, buffer, sizeof buffer, &length), SQL_SUCCESS_WITH_INFO);
  EXPECT_STREQ(buffer, "ABC");
  // Beyond the last column.
  std::string state;
  EXPECT_EQ(SQLGetData(stmt_, 3, SQL_C_CHAR, buffer, sizeof buffer, &length), SQL_ERROR);
  DiagText(SQL_HANDLE_STMT, stmt_, &state);
  EXPECT_EQ(state, "07009");

  // The third row's code is null: without an indicator that is an error.
  ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS);
  ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS);
  char value[16] = {};
  for (SQLSMALLINT type : {SQL_C_CHAR, SQL_C_BINARY}) {
    EXPECT_EQ(SQLGetData(stmt_, 1, type, value, sizeof value, nullptr), SQL_ERROR) << type;
    DiagText(SQL_HANDLE_STMT, stmt_, &state);
    EXPECT_EQ(state, "22002") << type;
  }
  // With one, the null reads once; after it there is nothing more.
  SQLLEN nullIndicator = 0;
  EXPECT_EQ(SQLGetData(stmt_, 1, SQL_C_CHAR, value, sizeof value, &nullIndicator), SQL_SUCCESS);
  EXPECT_EQ(nullIndicator, SQL_NULL_DATA);
  EXPECT_EQ(SQLGetData(stmt_, 1, SQL_C_CHAR, value, sizeof value, &nullIndicator), SQL_NO_DATA);
  // A bound null column without an indicator fails the row.
  ASSERT_EQ(SQLFreeStmt(stmt_, SQL_CLOSE), SQL_SUCCESS);
  char code[11] = {};
  ASSERT_EQ(SQLBindCol(stmt_, 1, SQL_C_CHAR, code, sizeof code, nullptr), SQL_SUCCESS);
  ASSERT_EQ(Direct(stmt_, "SELECT code FROM parts"), SQL_SUCCESS);
  EXPECT_EQ(SQLFetch(stmt_), SQL_SUCCESS);
  EXPECT_EQ(SQLFetch(stmt_), SQL_SUCCESS);
  EXPECT_EQ(SQLFetch(stmt_), SQL_ERROR);
  DiagText(SQL_HANDLE_STMT, stmt_, &state);
  EXPECT_EQ(state, "22002");
}

TEST_F(RoadWriting, KeysetCursorsScrollAndCountTheirRows) {
  ASSERT_NO_FATAL_FAILURE(FillParts(stmt_));
  ASSERT_EQ(SQLFreeStmt(stmt_, SQL_CLOSE), SQL_SUCCESS);
  ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_CURSOR_TYPE, reinterpret_cast<SQLPOINTER>(SQL_CURSOR_KEYSET_DRIVEN), 0),
            SQL_SUCCESS)
      << DiagText(SQL_HANDLE_STMT, stmt_);
  // With a condition the engine runs the select and the cursor is its result.
  ASSERT_EQ(Direct(stmt_, "SELECT qty FROM parts WHERE qty > 0"), SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, stmt_);
  SQLLEN count = 0;
  EXPECT_EQ(SQLRowCount(stmt_, &count), SQL_SUCCESS);
  EXPECT_EQ(count, 3);
  SQLINTEGER qty = 0;
  SQLLEN indicator = 0;
  ASSERT_EQ(SQLBindCol(stmt_, 1, SQL_C_SLONG, &qty, 0, &indicator), SQL_SUCCESS);
  SQLUSMALLINT status = 99;
  SQLULEN fetched = 0;
  ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_STATUS_PTR, &status, 0), SQL_SUCCESS);
  ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0), SQL_SUCCESS);
  struct Move {
    SQLSMALLINT orientation;
    SQLLEN offset;
    SQLRETURN result;
    SQLINTEGER qty;
  };
  const Move moves[] = {{SQL_FETCH_LAST, 0, SQL_SUCCESS, 30},     {SQL_FETCH_PRIOR, 0, SQL_SUCCESS, 20},
                        {SQL_FETCH_FIRST, 0, SQL_SUCCESS, 10},    {SQL_FETCH_ABSOLUTE, 2, SQL_SUCCESS, 20},
                        {SQL_FETCH_RELATIVE, 1, SQL_SUCCESS, 30}, {SQL_FETCH_NEXT, 0, SQL_NO_DATA, 0},
                        {SQL_FETCH_PRIOR, 0, SQL_SUCCESS, 30}};
  for (const Move& m : moves) {
    qty = 0;
    ASSERT_EQ(SQLFetchScroll(stmt_, m.orientation, m.offset), m.result)
        << m.orientation << DiagText(SQL_HANDLE_STMT, stmt_);
    if (m.result != SQL_SUCCESS) continue;
    EXPECT_EQ(qty, m.qty) << m.orientation;
    EXPECT_EQ(status, SQL_ROW_SUCCESS);
    EXPECT_EQ(fetched, 1u);
  }
  // The engine's result is a snapshot: a row deleted meanwhile still reads.
  SQLHSTMT other = nullptr;
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &other), SQL_SUCCESS);
  ASSERT_EQ(Direct(other, "DELETE FROM parts WHERE qty = 20"), SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, other);
  EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_STMT, other), SQL_SUCCESS);
  EXPECT_EQ(SQLFetchScroll(stmt_, SQL_FETCH_ABSOLUTE, 2), SQL_SUCCESS);
  EXPECT_EQ(qty, 20);
  ASSERT_EQ(SQLFreeStmt(stmt_, SQL_CLOSE), SQL_SUCCESS);

  // A plain select of the table is the driver's own keyset over the table's
  // records: a row deleted meanwhile reports deleted.
  ASSERT_EQ(Direct(stmt_, "SELECT qty FROM parts"), SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, stmt_);
  EXPECT_EQ(SQLRowCount(stmt_, &count), SQL_SUCCESS);
  EXPECT_EQ(count, 2);
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &other), SQL_SUCCESS);
  ASSERT_EQ(Direct(other, "DELETE FROM parts WHERE qty = 30"), SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, other);
  EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_STMT, other), SQL_SUCCESS);
  qty = 0;
  EXPECT_EQ(SQLFetchScroll(stmt_, SQL_FETCH_ABSOLUTE, 1), SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, stmt_);
  EXPECT_EQ(qty, 10);
  EXPECT_EQ(SQLFetchScroll(stmt_, SQL_FETCH_ABSOLUTE, 2), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(status, SQL_ROW_DELETED);
  ASSERT_EQ(SQLFreeStmt(stmt_, SQL_CLOSE), SQL_SUCCESS);

  // A forward-only cursor moves forward only.
  ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_CURSOR_TYPE, reinterpret_cast<SQLPOINTER>(SQL_CURSOR_FORWARD_ONLY), 0),
            SQL_SUCCESS);
  ASSERT_EQ(Direct(stmt_, "SELECT qty FROM parts"), SQL_SUCCESS);
  EXPECT_EQ(SQLRowCount(stmt_, &count), SQL_SUCCESS);
  EXPECT_EQ(count, -1);
  // ODBC 2's extended fetch: one row per call with its status, forward only here.
  SQLULEN rowCount = 0;
  SQLUSMALLINT statuses[1] = {99};
  EXPECT_EQ(SQLExtendedFetch(stmt_, SQL_FETCH_PRIOR, 0, &rowCount, statuses), SQL_ERROR);
  std::string state;
  DiagText(SQL_HANDLE_STMT, stmt_, &state);
  EXPECT_EQ(state, "HY106");
  EXPECT_EQ(SQLExtendedFetch(stmt_, SQL_FETCH_NEXT, 0, &rowCount, statuses), SQL_SUCCESS)
      << DiagText(SQL_HANDLE_STMT, stmt_);
  EXPECT_EQ(rowCount, 1u);
  EXPECT_EQ(statuses[0], SQL_ROW_SUCCESS);
  EXPECT_EQ(qty, 10);
}

TEST_F(RoadWriting, ColumnAttributesAndBookmarks) {
  ASSERT_NO_FATAL_FAILURE(FillParts(stmt_));
  ASSERT_EQ(SQLPrepare(stmt_, Sql("SELECT code, qty FROM parts"), SQL_NTS), SQL_SUCCESS);
  struct Case {
    SQLUSMALLINT column;
    SQLUSMALLINT id;
    SQLRETURN result;
    SQLLEN number;
    const char* text;  // null: a number
    const char* state;
  };
  const Case cases[] = {
      {1, SQL_COLUMN_COUNT, SQL_SUCCESS, 2, nullptr, ""},
      {1, SQL_COLUMN_NAME, SQL_SUCCESS, 0, "code", ""},
      {1, SQL_COLUMN_TYPE, SQL_SUCCESS, SQL_CHAR, nullptr, ""},
      {1, SQL_COLUMN_LENGTH, SQL_SUCCESS, 10, nullptr, ""},
      {1, SQL_COLUMN_DISPLAY_SIZE, SQL_SUCCESS, 10, nullptr, ""},
      {2, SQL_COLUMN_TYPE, SQL_SUCCESS, SQL_INTEGER, nullptr, ""},
      {2, SQL_COLUMN_PRECISION, SQL_SUCCESS, 10, nullptr, ""},
      {2, SQL_COLUMN_DISPLAY_SIZE, SQL_SUCCESS, 11, nullptr, ""},
      {2, SQL_COLUMN_UPDATABLE, SQL_SUCCESS, SQL_ATTR_READWRITE_UNKNOWN, nullptr, ""},
      {3, SQL_COLUMN_TYPE, SQL_ERROR, 0, nullptr, "07009"},
      {1, 1500, SQL_ERROR, 0, nullptr, "HY091"},  // an unknown id
      {1, 500, SQL_ERROR, 0, nullptr, "HY091"},   // no ODBC 2 column attribute either
      {1, 19, SQL_ERROR, 0, nullptr, "HY091"},
  };
  for (const Case& c : cases) {
    char text[64] = {};
    SQLSMALLINT textLength = 0;
    SQLLEN number = -1;
    EXPECT_EQ(SQLColAttributes(stmt_, c.column, c.id, text, sizeof text, &textLength, &number), c.result)
        << c.column << "/" << c.id << DiagText(SQL_HANDLE_STMT, stmt_);
    if (c.result == SQL_ERROR) {
      std::string state;
      DiagText(SQL_HANDLE_STMT, stmt_, &state);
      EXPECT_EQ(state, c.state) << c.column << "/" << c.id;
    } else if (c.text != nullptr) {
      EXPECT_STREQ(text, c.text) << c.id;
    } else {
      EXPECT_EQ(number, c.number) << c.column << "/" << c.id;
    }
  }

  // Bookmarks: column 0 is the row number when they are on.
  ASSERT_EQ(SQLExecute(stmt_), SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, stmt_);
  ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS);
  SQLINTEGER bookmark = 0;
  SQLLEN indicator = 0;
  EXPECT_EQ(SQLGetData(stmt_, 0, SQL_C_SLONG, &bookmark, 0, &indicator), SQL_ERROR);
  std::string state;
  DiagText(SQL_HANDLE_STMT, stmt_, &state);
  EXPECT_EQ(state, "07009");
  SQLHSTMT marked = nullptr;
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &marked), SQL_SUCCESS);
  ASSERT_EQ(SQLSetStmtAttr(marked, SQL_ATTR_USE_BOOKMARKS, reinterpret_cast<SQLPOINTER>(SQL_UB_ON), 0), SQL_SUCCESS)
      << DiagText(SQL_HANDLE_STMT, marked);
  ASSERT_EQ(Direct(marked, "SELECT code, qty FROM parts"), SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, marked);
  char typeName[16] = {};
  EXPECT_EQ(SQLColAttributes(marked, 0, SQL_COLUMN_TYPE_NAME, typeName, sizeof typeName, nullptr, nullptr),
            SQL_SUCCESS);
  EXPECT_STREQ(typeName, "BOOKMARK");
  for (SQLINTEGER row = 1; row <= 2; ++row) {
    ASSERT_EQ(SQLFetch(marked), SQL_SUCCESS);
    EXPECT_EQ(SQLGetData(marked, 0, SQL_C_SLONG, &bookmark, 0, &indicator), SQL_SUCCESS)
        << DiagText(SQL_HANDLE_STMT, marked);
    EXPECT_EQ(bookmark, row);
  }
  EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_STMT, marked), SQL_SUCCESS);
}

TEST_F(RoadWriting, IsqlPrintsTheRowsOfASelect) {
  ASSERT_NO_FATAL_FAILURE(FillParts(stmt_));
  const Outcome o = RunCommand("isql -b -v -k \"DRIVER={" + std::string(kDriver) + "};DataDirectory=" + folder_ + "\"",
                               "SELECT code, qty FROM parts");
  EXPECT_NE(o.output.find("ABCDEFGHIJ"), std::string::npos) << o.output;
  EXPECT_NE(o.output.find("SECOND"), std::string::npos) << o.output;
  EXPECT_NE(o.output.find("30"), std::string::npos) << o.output;
  EXPECT_NE(o.output.find("3 rows fetched"), std::string::npos) << o.output;
}


TEST_F(RoadWriting, IsqlRunsAScriptWithRowCountsUseAndCall) {
  const fs::path other = fs::path(folder_) / "other";
  fs::create_directories(other);
  const fs::path script = fs::path(folder_) / "script.sql";
  std::ofstream(script) << "CREATE TABLE t (id INTEGER, name CHAR(10))\n"
                           "INSERT INTO t VALUES (1, 'one')\n"
                           "INSERT INTO t VALUES (2, 'two')\n"
                           "INSERT INTO t VALUES (3, 'three')\n"
                           "UPDATE t SET name = 'deux' WHERE id >= 2\n"
                           "DELETE FROM t WHERE id = 3\n"
                           "CREATE TABLE u (id INTEGER, qty INTEGER)\n"
                           "INSERT INTO u VALUES (1, 10)\n"
                           "INSERT INTO u VALUES (2, 20)\n"
                           "SELECT t.name, u.qty FROM t JOIN u ON u.id = t.id ORDER BY u.qty\n"
                           "use '" + other.string() + "'\n"
                           "CREATE TABLE t (id INTEGER)\n"
                           "INSERT INTO t VALUES (9)\n"
                           "call KivZap('t')\n"
                           "SELECT COUNT(*) AS n FROM t\n"
                           "call KivZap('nothing')\n";
  // -e: every line through SQLExecDirect, where the driver's own statements are seen.
  const Outcome o = RunCommand("isql -b -v -e -k \"DRIVER={" + std::string(kDriver) + "};DataDirectory=" + folder_ +
                               "\" < " + script.string());
  auto count = [&](const std::string& what) {
    size_t n = 0;
    for (size_t at = o.output.find(what); at != std::string::npos; at = o.output.find(what, at + 1)) ++n;
    return n;
  };
  // Three single inserts, the first folder's update of two rows and its delete of one, two more inserts, one more.
  EXPECT_EQ(count("SQLRowCount returns 1\n"), 7u) << o.output;
  EXPECT_EQ(count("SQLRowCount returns 2\n"), 1u) << o.output;
  // The join: one row a key, in quantity order.
  const size_t one = o.output.find("| one");
  const size_t deux = o.output.find("| deux");
  ASSERT_NE(one, std::string::npos) << o.output;
  ASSERT_NE(deux, std::string::npos) << o.output;
  EXPECT_LT(one, deux);
  EXPECT_EQ(o.output.find("three"), std::string::npos) << o.output;
  EXPECT_NE(o.output.find("2 rows fetched"), std::string::npos) << o.output;
  // The zap emptied the table of the folder that "use" chose, and only that one.
  EXPECT_NE(o.output.find("| 0 "), std::string::npos) << o.output;
  EXPECT_NE(o.output.find("other/nothing.kdt not found"), std::string::npos) << o.output;
  ASSERT_EQ(Direct(stmt_, "SELECT COUNT(*) FROM t"), SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, stmt_);
  SQLINTEGER rows = -1;
  ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS);
  ASSERT_EQ(SQLGetData(stmt_, 1, SQL_C_SLONG, &rows, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(rows, 2);
}

TEST_F(RoadWriting, PyodbcWritesAndReadsEveryFieldType) {
  if (!fs::exists("/usr/bin/python3") || RunCommand("/usr/bin/python3 -c 'import pyodbc'").status != 0)
    GTEST_SKIP() << "python3-pyodbc is not installed";
  // The table is made by the engine, with a field of every type the driver reads and writes.
  KIVHANDLE conn = 0, table = 0;
  ASSERT_EQ(KivConnect(folder_.c_str(), &conn), KIV_OK);
  ASSERT_EQ(KivCreateTable(conn, "kinds.kdt", nullptr, KIV_TABLE_KDT, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE,
                           KIV_RIGHTS_NO_CHECK, 0,
                           "L,LOGICAL;N,NUMERIC,8,2;D,DATE;C,CHAR,6;M,MEMO;B,BINARY;V,VARCHAR,20;SD,SHORTDATE;"
                           "F,DOUBLE,2;INT,INTEGER;SI,SHORTINT;TM,TIME;TS,TIMESTAMP;A,AUTOINC;CD,CURDOUBLE,2;"
                           "MO,MONEY;CI,CICHARACTER,5",
                           &table),
            KIV_OK);
  ASSERT_EQ(KivCloseTable(table), KIV_OK);
  const fs::path script = fs::path(folder_) / "kinds.py";
  std::ofstream(script) << R"(
import datetime, decimal, sys, pyodbc
driver, folder = sys.argv[1], sys.argv[2]
c = pyodbc.connect('DRIVER={%s};DataDirectory=%s' % (driver, folder), autocommit=True)
c.setencoding(encoding='latin-1')
c.setdecoding(pyodbc.SQL_CHAR, encoding='latin-1')
cur = c.cursor()
names = ['L', 'N', 'D', 'C', 'M', 'B', 'V', 'SD', 'F', 'INT', 'SI', 'TM', 'TS', 'CD', 'MO', 'CI']
row = [True, decimal.Decimal('-3.14'), datetime.date(2024, 2, 29), 'abc', 'line1\nline2', b'\x00\x1a\xffzz',
       'varying', datetime.date(1999, 12, 31), 2.5, -123456, -300, datetime.time(13, 14, 15),
       datetime.datetime(2024, 1, 1, 8, 0, 0, 500000), 19.99, decimal.Decimal('-1234.5678'), 'MiXeD']
cur.execute('INSERT INTO kinds (%s) VALUES (%s)' % (', '.join(names), ', '.join('?' * len(names))), row)
assert cur.rowcount == 1, cur.rowcount
row[3] = 'abc   '  # character fields keep their width
expected = dict(zip(names, row))
expected['A'] = 1
types = {'L': bool, 'N': decimal.Decimal, 'D': datetime.date, 'C': str, 'M': str, 'B': bytearray, 'V': str,
         'SD': datetime.date, 'F': float, 'INT': int, 'SI': int, 'TM': datetime.time, 'TS': datetime.datetime,
         'A': int, 'CD': float, 'MO': decimal.Decimal, 'CI': str}
# Read by the driver from the table, then by the engine's SQL with parameters.
for text, args in (('SELECT * FROM kinds', ()),
                   ('SELECT * FROM kinds WHERE INT = ? AND C = ? AND D = ?', (-123456, 'abc', datetime.date(2024, 2, 29)))):
    cur.execute(text, *args)
    described = [d[0] for d in cur.description]
    assert described == names[:13] + ['A'] + names[13:], described
    for d in cur.description:
        assert d[1] is types[d[0]], (text, d)
    got = cur.fetchall()
    assert len(got) == 1, (text, got)
    for name, value in zip(described, got[0]):
        assert value == expected[name], (text, name, value, expected[name])
    assert cur.description[1][5] == 2 and cur.description[15][5] == 4, cur.description
print('kinds ok')
)";
  const Outcome o = RunCommand("/usr/bin/python3 " + script.string() + " '" + std::string(kDriver) + "' " + folder_);
  EXPECT_EQ(o.status, 0) << o.output;
  EXPECT_NE(o.output.find("kinds ok"), std::string::npos) << o.output;
  EXPECT_EQ(KivDisconnect(conn), KIV_OK);
}

TEST_F(RoadWriting, UseAndCallRunInTheDriver) {
  ASSERT_NO_FATAL_FAILURE(FillParts(stmt_));
  ASSERT_EQ(SQLFreeStmt(stmt_, SQL_CLOSE), SQL_SUCCESS);
  // A second folder with a copy of the table.
  const fs::path other = fs::path(folder_) / "other";
  fs::create_directories(other);
  for (const auto& entry : fs::directory_iterator(folder_))
    if (entry.is_regular_file() && entry.path().stem() == "parts")
      fs::copy_file(entry.path(), other / entry.path().filename());
  const fs::path here = fs::path(folder_) / "parts.kdt";
  const fs::path there = other / "parts.kdt";
  ASSERT_TRUE(fs::exists(here));
  const auto full = fs::file_size(here);

  EXPECT_EQ(Direct(stmt_, "use '" + other.string() + "'"), SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, stmt_);
  EXPECT_EQ(Direct(stmt_, "call KivZap('parts')"), SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, stmt_);
  EXPECT_LT(fs::file_size(there), full);  // that folder's table is empty
  EXPECT_EQ(fs::file_size(here), full);   // this one is not
  KivSetCurrentDatabase("");
  EXPECT_EQ(Direct(stmt_, "{call KivReindex('parts')}"), SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, stmt_);
  EXPECT_EQ(fs::file_size(here), full);

  struct Case {
    const char* text;
    SQLINTEGER native;
  };
  const Case cases[] = {
      {"call KivPack('parts", static_cast<SQLINTEGER>(KIV_ERR_UNCLOSED_QUOTE)},
      {"call KivPack('')", static_cast<SQLINTEGER>(KIV_ERR_EMPTY_ARGUMENT)},
      {"CALL kivpack ( ' ' )", static_cast<SQLINTEGER>(KIV_ERR_EMPTY_ARGUMENT)},
      {"call KivEnableEncryption('parts')", static_cast<SQLINTEGER>(KIV_ERR_PASSWORD_MISSING)},
      {"use", static_cast<SQLINTEGER>(KIV_ERR_EMPTY_ARGUMENT)},
      {"use 'no such folder'", static_cast<SQLINTEGER>(KIV_ERR_FILE_NOT_FOUND)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Direct(stmt_, c.text), SQL_ERROR) << c.text;
    SQLINTEGER native = 0;
    DiagText(SQL_HANDLE_STMT, stmt_, nullptr, &native);
    EXPECT_EQ(native, c.native) << c.text;
  }
  // Another procedure word is no driver statement: the engine gets it.
  EXPECT_EQ(Direct(stmt_, "call KivNothing('parts')"), SQL_ERROR);
  EXPECT_EQ(fs::file_size(here), full);
}


TEST_F(RoadWriting, ADeletedPreparedStatementIsRunOnceMore) {
  const std::string text = "Prepared DDL statement deleted (due to commit) before it could be executed.";
  // Once: the second run succeeds and says so.
  KivTestFailCall("KivExecuteSQL", 2165, text.c_str(), 1);
  EXPECT_EQ(Direct(stmt_, "CREATE TABLE extra (a INTEGER)"), SQL_SUCCESS_WITH_INFO) << DiagText(SQL_HANDLE_STMT, stmt_);
  std::string state;
  SQLINTEGER native = 0;
  DiagText(SQL_HANDLE_STMT, stmt_, &state, &native);
  EXPECT_EQ(native, 2164);
  EXPECT_EQ(state, "01000");
  EXPECT_EQ(Direct(stmt_, "INSERT INTO extra (a) VALUES (1)"), SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, stmt_);

  // Always: exactly one more run, then the error.
  KivTestFailCall("KivExecuteSQL", 2165, text.c_str(), 0);
  KivTestClearCallLog();
  KivTestRecordCalls(1);
  EXPECT_EQ(Direct(stmt_, "INSERT INTO extra (a) VALUES (2)"), SQL_ERROR);
  KivTestRecordCalls(0);
  KivTestClearFaults();
  DiagText(SQL_HANDLE_STMT, stmt_, &state, &native);
  EXPECT_EQ(native, 2165);
  std::string log(KivTestGetCallLog(nullptr, 0) + 1, '\0');
  KivTestGetCallLog(log.data(), static_cast<uint32_t>(log.size()));
  size_t runs = 0;
  for (size_t at = log.find("KivExecuteSQL\n"); at != std::string::npos; at = log.find("KivExecuteSQL\n", at + 1))
    ++runs;
  EXPECT_EQ(runs, 2u) << log;
}


TEST_F(RoadWriting, NativeSqlReturnsTheTextOnceTheEngineVerifiesIt) {
  ASSERT_NO_FATAL_FAILURE(FillParts(stmt_));
  const std::string text = "SELECT {fn UCASE(code)} FROM parts";
  char out[128] = {};
  SQLINTEGER length = 0;
  ASSERT_EQ(SQLNativeSql(dbc_, Sql(text.c_str()), SQL_NTS, reinterpret_cast<SQLCHAR*>(out), sizeof out, &length),
            SQL_SUCCESS)
      << DiagText(SQL_HANDLE_DBC, dbc_);
  EXPECT_EQ(out, text);
  EXPECT_EQ(length, static_cast<SQLINTEGER>(text.size()));
  // Cut to the buffer.
  char small[10] = {};
  EXPECT_EQ(SQLNativeSql(dbc_, Sql(text.c_str()), SQL_NTS, reinterpret_cast<SQLCHAR*>(small), sizeof small, &length),
            SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(std::string(small), text.substr(0, 9));
  std::string state;
  DiagText(SQL_HANDLE_DBC, dbc_, &state);
  EXPECT_EQ(state, "01004");
  // A text the engine refuses gives the engine's error.
  SQLINTEGER native = 0;
  EXPECT_EQ(SQLNativeSql(dbc_, Sql("SELECT {fn"), SQL_NTS, reinterpret_cast<SQLCHAR*>(out), sizeof out, &length),
            SQL_ERROR);
  DiagText(SQL_HANDLE_DBC, dbc_, &state, &native);
  EXPECT_EQ(native, 2118);
}


TEST_F(RoadWriting, UnderOdbc2AnUpdateWithoutRowsSucceeds) {
  ASSERT_NO_FATAL_FAILURE(FillParts(stmt_));
  SQLHENV env = nullptr;
  SQLHDBC dbc = nullptr;
  SQLHSTMT stmt = nullptr;
  ASSERT_EQ(SQLAllocEnv(&env), SQL_SUCCESS);
  ASSERT_EQ(SQLAllocConnect(env, &dbc), SQL_SUCCESS);
  const std::string text = "DRIVER={" + std::string(kDriver) + "};DataDirectory=" + folder_;
  ASSERT_TRUE(SQL_SUCCEEDED(SQLDriverConnect(dbc, nullptr, Sql(text.c_str()), SQL_NTS, nullptr, 0, nullptr,
                                             SQL_DRIVER_NOPROMPT)));
  ASSERT_EQ(SQLAllocStmt(dbc, &stmt), SQL_SUCCESS);
  EXPECT_EQ(Direct(stmt, "UPDATE parts SET qty = 0 WHERE code = 'none'"), SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, stmt);
  SQLLEN rows = -5;
  EXPECT_EQ(SQLRowCount(stmt, &rows), SQL_SUCCESS);
  EXPECT_EQ(rows, 0);
  EXPECT_EQ(Direct(stmt, "DELETE FROM parts WHERE code = 'none'"), SQL_SUCCESS);
  EXPECT_EQ(SQLFreeStmt(stmt, SQL_DROP), SQL_SUCCESS);
  EXPECT_EQ(SQLDisconnect(dbc), SQL_SUCCESS);
  EXPECT_EQ(SQLFreeConnect(dbc), SQL_SUCCESS);
  EXPECT_EQ(SQLFreeEnv(env), SQL_SUCCESS);
}

// One column of the current row as text; "<null>" for a null value.
std::string TextColumn(SQLHSTMT stmt, SQLUSMALLINT column) {
  char value[300] = {};
  SQLLEN indicator = 0;
  const SQLRETURN rc = SQLGetData(stmt, column, SQL_C_CHAR, value, sizeof value, &indicator);
  if (!SQL_SUCCEEDED(rc)) return "<error " + DiagText(SQL_HANDLE_STMT, stmt) + ">";
  return indicator == SQL_NULL_DATA ? "<null>" : std::string(value);
}

// The rows of a result, each as its columns' texts joined with '|'.
std::vector<std::string> ResultRows(SQLHSTMT stmt, std::initializer_list<SQLUSMALLINT> columns) {
  std::vector<std::string> rows;
  SQLRETURN rc;
  while ((rc = SQLFetch(stmt)) == SQL_SUCCESS) {
    std::string row;
    for (SQLUSMALLINT column : columns) row += (row.empty() ? "" : "|") + TextColumn(stmt, column);
    rows.push_back(row);
  }
  EXPECT_EQ(rc, SQL_NO_DATA) << DiagText(SQL_HANDLE_STMT, stmt);
  return rows;
}

TEST_F(RoadWriting, TablesListsTheTablesAndTheTableTypes) {
  ASSERT_NO_FATAL_FAILURE(FillParts(stmt_));
  ASSERT_EQ(Direct(stmt_, "CREATE TABLE stock (place CHAR(4))"), SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, stmt_);
  ASSERT_EQ(SQLTables(stmt_, nullptr, 0, nullptr, 0, Sql("%"), SQL_NTS, nullptr, 0), SQL_SUCCESS);
  SQLSMALLINT columns = 0;
  ASSERT_EQ(SQLNumResultCols(stmt_, &columns), SQL_SUCCESS);
  EXPECT_EQ(columns, 5);
  char before[8] = {};
  SQLLEN length = 0;
  EXPECT_EQ(SQLGetData(stmt_, 3, SQL_C_CHAR, before, sizeof before, &length), SQL_ERROR);  // no row yet
  std::vector<std::string> rows = ResultRows(stmt_, {2, 3, 4, 5});
  std::sort(rows.begin(), rows.end());
  EXPECT_EQ(rows, (std::vector<std::string>{"<null>|parts|TABLE|<null>", "<null>|stock|TABLE|<null>"}));
  EXPECT_EQ(SQLCloseCursor(stmt_), SQL_SUCCESS);
  // A pattern picks one table; the catalog column names the folder.
  ASSERT_EQ(SQLTables(stmt_, nullptr, 0, nullptr, 0, Sql("st%"), SQL_NTS, nullptr, 0), SQL_SUCCESS);
  ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, stmt_);
  EXPECT_EQ(TextColumn(stmt_, 3), "stock");
  EXPECT_NE(TextColumn(stmt_, 1), "<null>");
  char wide[8] = {};
  EXPECT_EQ(SQLGetData(stmt_, 6, SQL_C_CHAR, wide, sizeof wide, &length), SQL_ERROR);  // beyond the result
  EXPECT_EQ(SQLFetch(stmt_), SQL_NO_DATA);
  EXPECT_EQ(SQLCloseCursor(stmt_), SQL_SUCCESS);
  // The table types: exactly four rows, without table names.
  ASSERT_EQ(SQLTables(stmt_, Sql(""), 0, Sql(""), 0, Sql(""), 0, Sql("%"), SQL_NTS), SQL_SUCCESS);
  EXPECT_EQ(ResultRows(stmt_, {3, 4}), (std::vector<std::string>{"<null>|TABLE", "<null>|VIEW",
                                                                 "<null>|SYSTEM TABLE", "<null>|LOCAL TEMPORARY"}));
  EXPECT_EQ(SQLFetch(stmt_), SQL_NO_DATA);
}

// Fetches the one row SQLColumns gives for a column of a table.
void FetchColumnRow(SQLHSTMT stmt, const char* table, const char* column) {
  ASSERT_EQ(SQLColumns(stmt, nullptr, 0, nullptr, 0, Sql(table), SQL_NTS, Sql(column), SQL_NTS), SQL_SUCCESS);
  ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, stmt);
}

// A catalog text that does not fit a buffer of `room` bytes reads as the word
// TRUNCATED, cut to the buffer, with its full length.
void ExpectCutWord(SQLHSTMT stmt, SQLUSMALLINT column, size_t room) {
  std::vector<char> small(room, 'x');
  SQLLEN length = 0;
  EXPECT_EQ(SQLGetData(stmt, column, SQL_C_CHAR, small.data(), static_cast<SQLLEN>(room), &length),
            SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(std::string(small.data()), std::string("TRUNCATED").substr(0, room - 1));
  EXPECT_EQ(length, 9);
}

TEST_F(RoadWriting, ColumnsGiveEachColumnsNameTypeAndSize) {
  ASSERT_NO_FATAL_FAILURE(FillParts(stmt_));
  ASSERT_EQ(Direct(stmt_, "CREATE TABLE stock (place CHAR(4), amount INTEGER)"), SQL_SUCCESS)
      << DiagText(SQL_HANDLE_STMT, stmt_);
  ASSERT_EQ(SQLColumns(stmt_, nullptr, 0, nullptr, 0, Sql("parts"), SQL_NTS, nullptr, 0), SQL_SUCCESS);
  SQLSMALLINT columns = 0;
  ASSERT_EQ(SQLNumResultCols(stmt_, &columns), SQL_SUCCESS);
  EXPECT_EQ(columns, 18);
  // name | type | size | length | digits | radix | nullable | default | sql type | sub | octets | ordinal | is nullable
  EXPECT_EQ(ResultRows(stmt_, {3, 4, 5, 7, 8, 9, 10, 13, 14, 15, 16, 17}),
            (std::vector<std::string>{
                "parts|code|1|10|10|0|<null>|NULL|1|<null>|10|1",
                "parts|qty|4|10|4|0|10|NULL|4|<null>|<null>|2",
                "parts|price|2|8|10|2|10|NULL|2|<null>|<null>|3",
                "parts|seen|91|10|6|0|<null>|NULL|9|1|<null>|4",
            }));
  EXPECT_EQ(SQLCloseCursor(stmt_), SQL_SUCCESS);
  // Over two tables the ordinal restarts; the column pattern picks columns.
  ASSERT_EQ(SQLColumns(stmt_, nullptr, 0, nullptr, 0, Sql("%"), SQL_NTS, Sql("%a%"), SQL_NTS), SQL_SUCCESS);
  std::vector<std::string> rows = ResultRows(stmt_, {3, 4, 17});
  std::sort(rows.begin(), rows.end());
  EXPECT_EQ(rows, (std::vector<std::string>{"stock|amount|2", "stock|place|1"}));
  EXPECT_EQ(SQLCloseCursor(stmt_), SQL_SUCCESS);
  // A missing default reads as the word NULL; into a small buffer as the cut word TRUNCATED.
  ASSERT_NO_FATAL_FAILURE(FetchColumnRow(stmt_, "stock", "place"));
  ExpectCutWord(stmt_, 13, 4);
  SQLINTEGER size = 0;
  EXPECT_EQ(SQLGetData(stmt_, 7, SQL_C_SLONG, &size, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(size, 4);
  char nothing[8] = {};
  EXPECT_EQ(SQLGetData(stmt_, 2, SQL_C_CHAR, nothing, sizeof nothing, nullptr), SQL_ERROR);  // a null, no indicator
  EXPECT_EQ(SQLFetch(stmt_), SQL_NO_DATA);
}

// On a dictionary connection REMARKS and COLUMN_DEF are the comment and the
// default value that the dictionary's column catalogue keeps for a field.
TEST_F(RoadWriting, ColumnsOfADictionaryTableCarryItsCommentsAndDefaults) {
  ASSERT_NO_FATAL_FAILURE(FillParts(stmt_));
  std::string file;
  for (const auto& entry : fs::directory_iterator(folder_))
    if (entry.path().stem() == "parts") file = entry.path().filename().string();
  ASSERT_FALSE(file.empty());
  const std::string kdd = folder_ + "/shop.kdd";
  const std::string description = "table PARTS " + file +
                                  "\n"
                                  "field-property PARTS CODE 1 The part number, as printed on the box\n"
                                  "field-property PARTS QTY 1400 1\n"
                                  "field-property PARTS SEEN 1400 CURRENT_DATE\n";
  ASSERT_EQ(KivDDCreate(kdd.c_str(), description.c_str()), 0u);
  SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
  ASSERT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS);
  ASSERT_TRUE(SQL_SUCCEEDED(DriverConnect("DRIVER={" + std::string(kDriver) + "};DataDirectory=" + kdd + ";UID=KIVSYS")))
      << DiagText(SQL_HANDLE_DBC, dbc_);
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt_), SQL_SUCCESS);
  ASSERT_EQ(SQLColumns(stmt_, nullptr, 0, nullptr, 0, Sql("PARTS"), SQL_NTS, nullptr, 0), SQL_SUCCESS)
      << DiagText(SQL_HANDLE_STMT, stmt_);
  EXPECT_EQ(ResultRows(stmt_, {4, 12, 13}), (std::vector<std::string>{
                                                "code|The part number, as printed on the box|NULL",
                                                "qty|<null>|1",
                                                "price|<null>|NULL",
                                                "seen|<null>|CURRENT_DATE",
                                            }));
  EXPECT_EQ(SQLCloseCursor(stmt_), SQL_SUCCESS);
  // A comment longer than the buffer reads as the cut word TRUNCATED; asked
  // for as another C type, both are null.
  ASSERT_NO_FATAL_FAILURE(FetchColumnRow(stmt_, "PARTS", "CODE"));
  ExpectCutWord(stmt_, 12, 8);
  SQLLEN length = 0;
  SQLCHAR binary[64] = {};
  EXPECT_EQ(SQLGetData(stmt_, 13, SQL_C_BINARY, binary, sizeof binary, &length), SQL_SUCCESS);
  EXPECT_EQ(length, SQL_NULL_DATA);
}

TEST_F(RoadWriting, IsqlHelpPrintsTheColumnsOfATable) {
  ASSERT_NO_FATAL_FAILURE(FillParts(stmt_));
  const Outcome o =
      RunCommand("isql -b -v -k \"DRIVER={" + std::string(kDriver) + "};DataDirectory=" + folder_ + "\"", "help parts");
  for (const char* expected : {"| code ", "| qty ", "| price ", "| seen ", "| CHAR ", "| INTEGER "})
    EXPECT_NE(o.output.find(expected), std::string::npos) << expected << "\n" << o.output;
  EXPECT_NE(o.output.find("4 rows fetched"), std::string::npos) << o.output;
  const Outcome tables =
      RunCommand("isql -b -v -k \"DRIVER={" + std::string(kDriver) + "};DataDirectory=" + folder_ + "\"", "help");
  EXPECT_NE(tables.output.find("parts"), std::string::npos) << tables.output;
}

// A table made by the engine with a unique and a plain index.
void MakeIndexedTable(const std::string& folder) {
  KIVHANDLE engine = 0;
  ASSERT_EQ(KivConnect(folder.c_str(), &engine), 0u);
  KIVHANDLE table = 0;
  ASSERT_EQ(KivCreateTable(engine, "items", nullptr, KIV_TABLE_KDT, KIV_CHAR_ANSI, 0, KIV_RIGHTS_NO_CHECK, 0,
                           "ID,INTEGER;NAME,CHAR,20;QTY,INTEGER", &table),
            0u);
  KIVHANDLE index = 0;
  ASSERT_EQ(KivCreateIndex(table, nullptr, "BYID", "ID", nullptr, nullptr, KIV_INDEX_UNIQUE, &index), 0u);
  ASSERT_EQ(KivCreateIndex(table, nullptr, "BYNAME", "NAME", nullptr, nullptr, 0, &index), 0u);
  ASSERT_EQ(KivCloseTable(table), 0u);
  ASSERT_EQ(KivDisconnect(engine), 0u);
}

TEST_F(RoadWriting, StatisticsGiveTheTableRowThenEachIndexKey) {
  ASSERT_NO_FATAL_FAILURE(MakeIndexedTable(folder_));
  ASSERT_EQ(SQLStatistics(stmt_, nullptr, 0, nullptr, 0, Sql("items"), SQL_NTS, SQL_INDEX_ALL, SQL_QUICK),
            SQL_SUCCESS)
      << DiagText(SQL_HANDLE_STMT, stmt_);
  SQLSMALLINT columns = 0;
  ASSERT_EQ(SQLNumResultCols(stmt_, &columns), SQL_SUCCESS);
  EXPECT_EQ(columns, 13);
  // table | non-unique | index | type | position | column | order | cardinality
  EXPECT_EQ(ResultRows(stmt_, {3, 4, 6, 7, 8, 9, 10, 11}),
            (std::vector<std::string>{"items|<null>|<null>|0|<null>|<null>|<null>|0",
                                      "items|0|BYID|3|1|ID|A|<null>", "items|1|BYNAME|3|1|NAME|A|<null>"}));
  EXPECT_EQ(SQLCloseCursor(stmt_), SQL_SUCCESS);
  ASSERT_EQ(SQLStatistics(stmt_, nullptr, 0, nullptr, 0, Sql("items"), SQL_NTS, SQL_INDEX_UNIQUE, SQL_QUICK),
            SQL_SUCCESS);
  EXPECT_EQ(ResultRows(stmt_, {6, 9}), (std::vector<std::string>{"<null>|<null>", "BYID|ID"}));
  EXPECT_EQ(SQLCloseCursor(stmt_), SQL_SUCCESS);
  // Without a primary key there are no key rows; a column beyond the result is refused.
  ASSERT_EQ(SQLPrimaryKeys(stmt_, nullptr, 0, nullptr, 0, Sql("items"), SQL_NTS), SQL_SUCCESS);
  ASSERT_EQ(SQLNumResultCols(stmt_, &columns), SQL_SUCCESS);
  EXPECT_EQ(columns, 6);
  EXPECT_EQ(SQLFetch(stmt_), SQL_NO_DATA);
  EXPECT_EQ(SQLCloseCursor(stmt_), SQL_SUCCESS);
  ASSERT_EQ(SQLSpecialColumns(stmt_, SQL_BEST_ROWID, nullptr, 0, nullptr, 0, Sql("items"), SQL_NTS, SQL_SCOPE_SESSION,
                              SQL_NULLABLE),
            SQL_SUCCESS);
  ASSERT_EQ(SQLNumResultCols(stmt_, &columns), SQL_SUCCESS);
  EXPECT_EQ(columns, 8);
  EXPECT_EQ(SQLFetch(stmt_), SQL_NO_DATA);
}

// The best row id of a dictionary table keyed on its last column is that
// column, marked as a pseudo column; a key column before the last is not.
TEST_F(RoadWriting, BestRowIdMarksTheLastColumnAsPseudo) {
  KIVHANDLE engine = 0;
  ASSERT_EQ(KivConnect(folder_.c_str(), &engine), 0u);
  for (const auto& [name, fields] : {std::pair<const char*, const char*>{"tail", "NAME,CHAR,10;ID,INTEGER"},
                                     std::pair<const char*, const char*>{"head", "ID,INTEGER;NAME,CHAR,10"}}) {
    KIVHANDLE table = 0, index = 0;
    ASSERT_EQ(KivCreateTable(engine, name, nullptr, KIV_TABLE_KDT, KIV_CHAR_ANSI, 0, KIV_RIGHTS_NO_CHECK, 0, fields,
                             &table),
              0u);
    ASSERT_EQ(KivCreateIndex(table, nullptr, "BYID", "ID", nullptr, nullptr, KIV_INDEX_UNIQUE, &index), 0u);
    ASSERT_EQ(KivCloseTable(table), 0u);
  }
  ASSERT_EQ(KivDisconnect(engine), 0u);
  const std::string kdd = folder_ + "/keys.kdd";
  ASSERT_EQ(KivDDCreate(kdd.c_str(), "table TAIL tail.kdt\nproperty TAIL 202 BYID\n"
                                     "table HEAD head.kdt\nproperty HEAD 202 BYID\n"),
            0u);
  SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
  ASSERT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS);
  ASSERT_TRUE(SQL_SUCCEEDED(DriverConnect("DRIVER={" + std::string(kDriver) + "};DataDirectory=" + kdd + ";UID=KIVSYS")))
      << DiagText(SQL_HANDLE_DBC, dbc_);
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt_), SQL_SUCCESS);
  for (const auto& [table, row] : {std::pair<const char*, const char*>{"TAIL", "2|ID|2"},
                                   std::pair<const char*, const char*>{"HEAD", "2|ID|0"}}) {
    SCOPED_TRACE(table);
    ASSERT_EQ(SQLSpecialColumns(stmt_, SQL_BEST_ROWID, nullptr, 0, nullptr, 0, Sql(table), SQL_NTS,
                                SQL_SCOPE_SESSION, SQL_NULLABLE),
              SQL_SUCCESS)
        << DiagText(SQL_HANDLE_STMT, stmt_);
    // scope | column | pseudo column
    EXPECT_EQ(ResultRows(stmt_, {1, 2, 8}), std::vector<std::string>{row});
    EXPECT_EQ(SQLCloseCursor(stmt_), SQL_SUCCESS);
  }
}

TEST_F(RoadWriting, TypeInfoListsEveryTypeOrTheOneAskedFor) {
  ASSERT_EQ(SQLGetTypeInfo(stmt_, SQL_ALL_TYPES), SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, stmt_);
  SQLSMALLINT columns = 0;
  ASSERT_EQ(SQLNumResultCols(stmt_, &columns), SQL_SUCCESS);
  EXPECT_EQ(columns, 19);
  const std::vector<std::string> all = ResultRows(stmt_, {1, 2});
  EXPECT_GT(all.size(), 5u);
  EXPECT_NE(std::find(all.begin(), all.end(), "INTEGER|4"), all.end());
  EXPECT_EQ(SQLCloseCursor(stmt_), SQL_SUCCESS);
  // Only the date entry, with its date-time code and subcode.
  ASSERT_EQ(SQLGetTypeInfo(stmt_, SQL_TYPE_DATE), SQL_SUCCESS);
  const std::vector<std::string> dates = ResultRows(stmt_, {2, 16, 17, 19});
  EXPECT_EQ(dates, (std::vector<std::string>{"91|9|1|<null>"}));
}

TEST_F(RoadWriting, TwoStatementsWalkTheTablesAtOnce) {
  ASSERT_NO_FATAL_FAILURE(FillParts(stmt_));
  ASSERT_EQ(Direct(stmt_, "CREATE TABLE stock (place CHAR(4))"), SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, stmt_);
  SQLHSTMT other = nullptr;
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &other), SQL_SUCCESS);
  ASSERT_EQ(SQLTables(stmt_, nullptr, 0, nullptr, 0, Sql("%"), SQL_NTS, nullptr, 0), SQL_SUCCESS);
  ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, stmt_);
  // The second walk leaves the first one's list in place.
  ASSERT_EQ(SQLTables(other, nullptr, 0, nullptr, 0, Sql("%"), SQL_NTS, nullptr, 0), SQL_SUCCESS);
  EXPECT_EQ(ResultRows(other, {3}).size(), 2u);
  ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, stmt_);
  EXPECT_EQ(SQLFetch(stmt_), SQL_NO_DATA);
  EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_STMT, other), SQL_SUCCESS);
}

// SQLCancel from another thread while a call runs on the statement. The
// engine's log of its calls shows when the call has reached the stretch
// under test; no test depends on how long anything takes.
class RoadCancel : public RoadWriting {
 protected:
  void TearDown() override {
    KivTestRecordCalls(0);
    KivTestClearCallLog();
    RoadWriting::TearDown();
  }
  // A free table of the connection's type, made through the engine's calls
  // (with two indexes when `indexed`); `rows` numbered rows are written
  // through the driver in one transaction.
  void MakeBigTable(const std::string& name, int rows, bool indexed) {
    const KIVHANDLE engine = EngineConnectionOn(folder_);
    ASSERT_NE(engine, 0u);
    KIVHANDLE table = 0, index = 0;
    ASSERT_EQ(KivCreateTable(engine, name.c_str(), nullptr, KIV_TABLE_KDT, KIV_CHAR_ANSI, 0, KIV_RIGHTS_NO_CHECK, 0,
                             "ID,INTEGER;NAME,CHAR,30", &table),
              0u);
    if (indexed) {
      ASSERT_EQ(KivCreateIndex(table, nullptr, "BYNAME", "NAME", nullptr, nullptr, 0, &index), 0u);
      ASSERT_EQ(KivCreateIndex(table, nullptr, "BYID", "ID", nullptr, nullptr, 0, &index), 0u);
    }
    ASSERT_EQ(KivCloseTable(table), 0u);
    ASSERT_EQ(SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0),
              SQL_SUCCESS);
    ASSERT_EQ(Direct(stmt_, "INSERT INTO " + name + " (ID, NAME) WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL "
                            "SELECT x + 1 FROM n WHERE x < " + std::to_string(rows) +
                            ") SELECT x, 'Zoë Ångström ' || x FROM n"),
              SQL_SUCCESS)
        << DiagText(SQL_HANDLE_STMT, stmt_);
    ASSERT_EQ(SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_COMMIT), SQL_SUCCESS) << DiagText(SQL_HANDLE_DBC, dbc_);
    ASSERT_EQ(SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0),
              SQL_SUCCESS);
  }
  // Starts the engine's call log afresh.
  static void StartCallLog() {
    KivTestRecordCalls(1);
    KivTestClearCallLog();
  }
  // Waits until the engine's log shows a call of `function`: the statement's
  // call has reached it on the other thread. False when `done` came first.
  static bool WaitForEngineCall(const std::string& function, const std::atomic<bool>& done) {
    const std::string line = function + "\n";
    while (!done.load()) {
      std::string log(KivTestGetCallLog(nullptr, 0) + 1, '\0');
      KivTestGetCallLog(log.data(), static_cast<uint32_t>(log.size()));
      if (log.find(line) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
  }
  // Runs `call` on this thread while another thread waits for `function`
  // in the engine's log and then cancels the statement once: the call's
  // result, with the cancel's result and diagnostic as that thread read them.
  struct Raced {
    SQLRETURN call = SQL_SUCCESS;
    SQLRETURN cancel = -99;
    kivodbc::testing::Diag cancelDiag;
  };
  template <typename Call>
  Raced CancelDuring(const std::string& function, Call call) {
    Raced raced;
    std::atomic<bool> done{false};
    StartCallLog();
    std::thread canceler([&] {
      if (!WaitForEngineCall(function, done)) return;
      raced.cancel = SQLCancel(stmt_);
      if (raced.cancel != SQL_SUCCESS) raced.cancelDiag = kivodbc::testing::FirstDiag(stmt_);
    });
    raced.call = call();
    done = true;
    canceler.join();
    KivTestRecordCalls(0);
    return raced;
  }
  // The first column of every row of the statement's result, without trailing blanks.
  std::vector<std::string> FirstColumn() {
    std::vector<std::string> values;
    char text[64] = {};
    SQLLEN length = 0;
    while (SQLFetch(stmt_) == SQL_SUCCESS) {
      EXPECT_TRUE(SQL_SUCCEEDED(SQLGetData(stmt_, 1, SQL_C_CHAR, text, sizeof text, &length)));
      std::string value = length == SQL_NULL_DATA ? "NULL" : text;
      value.erase(value.find_last_not_of(' ') + 1);
      values.push_back(value);
    }
    return values;
  }
};

// The keyset of a free table's plain select is the driver's own walk over
// every record: a cancel stops it, the execution answers HY008, and the
// statement runs the next query; the same statement cancelled while idle
// answers success and keeps what it holds.
TEST_F(RoadCancel, ACancelStopsTheKeysetWalkOfAFreeTable) {
  constexpr int kRows = 1000000;  // with the call log on, a walk of about a second
  ASSERT_NO_FATAL_FAILURE(MakeBigTable("big", kRows, false));
  ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_CURSOR_TYPE, reinterpret_cast<SQLPOINTER>(SQL_CURSOR_KEYSET_DRIVEN), 0),
            SQL_SUCCESS);
  // The walk steps the table record by record (KivSkip) only in that loop.
  const Raced raced = CancelDuring("KivSkip", [&] { return Direct(stmt_, "SELECT ID, NAME FROM big"); });
  EXPECT_EQ(raced.cancel, SQL_SUCCESS) << raced.cancelDiag.state << raced.cancelDiag.message;
  ASSERT_EQ(raced.call, SQL_ERROR);
  const kivodbc::testing::Diag canceled = kivodbc::testing::FirstDiag(stmt_);
  EXPECT_EQ(canceled.state, "HY008") << canceled.message;
  EXPECT_EQ(canceled.native, 2233);
  EXPECT_NE(canceled.message.find("Operation canceled"), std::string::npos) << canceled.message;

  // The statement is usable: a query through the engine, then the plain select whole.
  ASSERT_EQ(Direct(stmt_, "SELECT NAME FROM big WHERE ID IN (1, 1000000) ORDER BY ID"), SQL_SUCCESS)
      << DiagText(SQL_HANDLE_STMT, stmt_);
  EXPECT_EQ(FirstColumn(), (std::vector<std::string>{"Zo\xC3\xAB \xC3\x85ngstr\xC3\xB6m 1",
                                                     "Zo\xC3\xAB \xC3\x85ngstr\xC3\xB6m 1000000"}));
  ASSERT_EQ(SQLFreeStmt(stmt_, SQL_CLOSE), SQL_SUCCESS);
  ASSERT_EQ(Direct(stmt_, "SELECT ID FROM big"), SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, stmt_);
  SQLLEN count = 0;
  ASSERT_EQ(SQLRowCount(stmt_, &count), SQL_SUCCESS);
  EXPECT_EQ(count, kRows);
  // An idle cancel answers success, and the next query runs.
  ASSERT_EQ(SQLFreeStmt(stmt_, SQL_CLOSE), SQL_SUCCESS);
  EXPECT_EQ(SQLCancel(stmt_), SQL_SUCCESS);
  ASSERT_EQ(Direct(stmt_, "SELECT MAX(ID) FROM big"), SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, stmt_);
  EXPECT_EQ(FirstColumn(), std::vector<std::string>{std::to_string(kRows)});
}

// A catalog fetch that opens table after table looking for a column no table
// has: a cancel ends it with HY008 and closes the result, and the statement
// runs the next catalog call and query.
TEST_F(RoadCancel, ACancelStopsACatalogFetchOverManyTables) {
  const KIVHANDLE engine = EngineConnectionOn(folder_);
  ASSERT_NE(engine, 0u);
  for (int i = 0; i < 400; ++i) {
    KIVHANDLE table = 0;
    ASSERT_EQ(KivCreateTable(engine, ("t" + std::to_string(i)).c_str(), nullptr, KIV_TABLE_KDT, KIV_CHAR_ANSI, 0,
                             KIV_RIGHTS_NO_CHECK, 0, "ID,INTEGER;NAME,CHAR,4", &table),
              0u);
    ASSERT_EQ(KivCloseTable(table), 0u);
  }
  ASSERT_EQ(SQLColumns(stmt_, nullptr, 0, nullptr, 0, Sql("%"), SQL_NTS, Sql("NOSUCHCOLUMN"), SQL_NTS), SQL_SUCCESS)
      << DiagText(SQL_HANDLE_STMT, stmt_);
  // The fetch opens the tables one by one (KivOpenTable).
  const Raced raced = CancelDuring("KivOpenTable", [&] { return SQLFetch(stmt_); });
  EXPECT_EQ(raced.cancel, SQL_SUCCESS) << raced.cancelDiag.state << raced.cancelDiag.message;
  ASSERT_EQ(raced.call, SQL_ERROR);
  EXPECT_EQ(kivodbc::testing::FirstDiag(stmt_).state, "HY008");
  // The result is closed, as the driver manager takes it after a cancel:
  // the statement lists columns again.
  ASSERT_EQ(SQLColumns(stmt_, nullptr, 0, nullptr, 0, Sql("t399"), SQL_NTS, Sql("%"), SQL_NTS), SQL_SUCCESS)
      << DiagText(SQL_HANDLE_STMT, stmt_);
  char name[64] = {};
  SQLLEN length = 0;
  std::vector<std::string> columns;
  while (SQLFetch(stmt_) == SQL_SUCCESS) {
    ASSERT_EQ(SQLGetData(stmt_, 4, SQL_C_CHAR, name, sizeof name, &length), SQL_SUCCESS);
    columns.emplace_back(name);
  }
  EXPECT_EQ(columns.size(), 2u);
  ASSERT_EQ(SQLCloseCursor(stmt_), SQL_SUCCESS);
  ASSERT_EQ(Direct(stmt_, "SELECT COUNT(*) FROM t399"), SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, stmt_);
  EXPECT_EQ(FirstColumn(), std::vector<std::string>{"0"});
}

// Rebuilding a table's indexes is one engine call that cannot be stopped: a
// cancel meanwhile answers HY018 on the cancelling thread, the rebuild ends
// as it would have, and the statement keeps its own diagnostics, a failure
// of the call included.
TEST_F(RoadCancel, ACancelOfACallThatCannotStopIsDeclined) {
  constexpr int kRows = 400000;
  ASSERT_NO_FATAL_FAILURE(MakeBigTable("big", kRows, true));
  const Raced raced = CancelDuring("KivReindex", [&] { return Direct(stmt_, "call KivReindex('big')"); });
  EXPECT_EQ(raced.call, SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, stmt_);
  EXPECT_EQ(raced.cancel, SQL_ERROR);
  EXPECT_EQ(raced.cancelDiag.state, "HY018") << raced.cancelDiag.message;
  EXPECT_EQ(raced.cancelDiag.native, 2234);
  EXPECT_NE(raced.cancelDiag.message.find("Server declined cancel request"), std::string::npos)
      << raced.cancelDiag.message;
  // This thread reads the statement's own state: nothing pending from the rebuild.
  SQLCHAR state[6] = {};
  EXPECT_EQ(SQLGetDiagRec(SQL_HANDLE_STMT, stmt_, 1, state, nullptr, nullptr, 0, nullptr), SQL_NO_DATA);
  // The statement goes on, and the rebuilt index finds the rows.
  ASSERT_EQ(Direct(stmt_, "SELECT ID FROM big WHERE NAME = 'Zo\xC3\xAB \xC3\x85ngstr\xC3\xB6m 123456'"), SQL_SUCCESS)
      << DiagText(SQL_HANDLE_STMT, stmt_);
  EXPECT_EQ(FirstColumn(), std::vector<std::string>{"123456"});
  ASSERT_EQ(SQLFreeStmt(stmt_, SQL_CLOSE), SQL_SUCCESS);
  // Idle: success, and nothing to read.
  EXPECT_EQ(SQLCancel(stmt_), SQL_SUCCESS);
  EXPECT_EQ(SQLGetDiagRec(SQL_HANDLE_STMT, stmt_, 1, state, nullptr, nullptr, 0, nullptr), SQL_NO_DATA);
  ASSERT_EQ(Direct(stmt_, "SELECT COUNT(*) FROM big"), SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, stmt_);
  EXPECT_EQ(FirstColumn(), std::vector<std::string>{std::to_string(kRows)});
  ASSERT_EQ(SQLFreeStmt(stmt_, SQL_CLOSE), SQL_SUCCESS);

  // A rebuild whose table then fails to close: the call's own failure is what
  // its thread reads, while the cancelling thread read HY018.
  KivTestFailCall("KivCloseTable", KIV_ERR_IO, "The disk went away", 1);
  const Raced failing = CancelDuring("KivReindex", [&] { return Direct(stmt_, "call KivReindex('big')"); });
  KivTestClearFaults();
  EXPECT_EQ(failing.cancel, SQL_ERROR);
  EXPECT_EQ(failing.cancelDiag.state, "HY018") << failing.cancelDiag.message;
  ASSERT_EQ(failing.call, SQL_ERROR);
  const kivodbc::testing::Diag own = kivodbc::testing::FirstDiag(stmt_);
  EXPECT_EQ(own.native, static_cast<SQLINTEGER>(KIV_ERR_IO)) << own.state << own.message;
  EXPECT_NE(own.message.find("The disk went away"), std::string::npos) << own.message;
}

}  // namespace

// The ODBC 3 description of a result: SQLColAttribute and the implementation
// row descriptor agree with SQLDescribeCol column by column.
TEST_F(RoadWriting, Odbc3DescriptionAgreesWithDescribeCol) {
  ASSERT_NO_FATAL_FAILURE(FillParts(stmt_));
  ASSERT_EQ(SQLPrepare(stmt_, Sql("SELECT code, qty, price, seen FROM parts"), SQL_NTS), SQL_SUCCESS)
      << DiagText(SQL_HANDLE_STMT, stmt_);
  SQLHDESC ird = nullptr;
  ASSERT_EQ(SQLGetStmtAttr(stmt_, SQL_ATTR_IMP_ROW_DESC, &ird, 0, nullptr), SQL_SUCCESS);
  SQLSMALLINT count = 0;
  ASSERT_EQ(SQLGetDescField(ird, 0, SQL_DESC_COUNT, &count, 0, nullptr), SQL_SUCCESS) << DiagText(SQL_HANDLE_DESC, ird);
  EXPECT_EQ(count, 4);
  SQLLEN number = 0;
  ASSERT_EQ(SQLColAttribute(stmt_, 1, SQL_DESC_COUNT, nullptr, 0, nullptr, &number), SQL_SUCCESS);
  EXPECT_EQ(number, 4);
  const char* const names[] = {"code", "qty", "price", "seen"};
  for (SQLUSMALLINT i = 1; i <= 4; ++i) {
    SCOPED_TRACE(names[i - 1]);
    SQLCHAR name[64] = {};
    SQLSMALLINT nameLength = 0, type = 0, digits = 0, nullable = 0;
    SQLULEN size = 0;
    ASSERT_EQ(SQLDescribeCol(stmt_, i, name, sizeof name, &nameLength, &type, &size, &digits, &nullable), SQL_SUCCESS)
        << DiagText(SQL_HANDLE_STMT, stmt_);
    EXPECT_STREQ(reinterpret_cast<char*>(name), names[i - 1]);
    struct Field {
      SQLUSMALLINT id;
      SQLLEN expected;
    };
    for (const Field& f : {Field{SQL_DESC_CONCISE_TYPE, type}, Field{SQL_DESC_PRECISION, static_cast<SQLLEN>(size)},
                           Field{SQL_DESC_LENGTH, static_cast<SQLLEN>(size)}, Field{SQL_DESC_SCALE, digits},
                           Field{SQL_DESC_NULLABLE, nullable}, Field{SQL_DESC_UNNAMED, SQL_NAMED}}) {
      number = -99;
      EXPECT_EQ(SQLColAttribute(stmt_, i, f.id, nullptr, 0, nullptr, &number), SQL_SUCCESS)
          << f.id << DiagText(SQL_HANDLE_STMT, stmt_);
      EXPECT_EQ(number, f.expected) << f.id;
    }
    SQLLEN octets = 0;
    EXPECT_EQ(SQLColAttributes(stmt_, i, SQL_COLUMN_LENGTH, nullptr, 0, nullptr, &octets), SQL_SUCCESS);
    EXPECT_EQ(SQLColAttribute(stmt_, i, SQL_DESC_OCTET_LENGTH, nullptr, 0, nullptr, &number), SQL_SUCCESS);
    EXPECT_EQ(number, octets);
    for (SQLUSMALLINT id : {SQL_DESC_NAME, SQL_DESC_BASE_COLUMN_NAME, SQL_DESC_LABEL}) {
      char text[64] = {};
      SQLSMALLINT textLength = 0;
      EXPECT_EQ(SQLColAttribute(stmt_, i, id, text, sizeof text, &textLength, nullptr), SQL_SUCCESS) << id;
      EXPECT_STREQ(text, names[i - 1]) << id;
      EXPECT_EQ(textLength, static_cast<SQLSMALLINT>(std::strlen(names[i - 1])));
    }
    char table[64] = {};
    EXPECT_EQ(SQLColAttribute(stmt_, i, SQL_DESC_BASE_TABLE_NAME, table, sizeof table, nullptr, nullptr), SQL_SUCCESS);
    EXPECT_STREQ(table, "parts");
    // The implementation row descriptor says the same, field by field and as a record.
    SQLSMALLINT concise = 0, verbose = 0, subtype = -1, precision = 0, scale = -1, recNullable = -1;
    SQLLEN length = 0;
    EXPECT_EQ(SQLGetDescField(ird, static_cast<SQLSMALLINT>(i), SQL_DESC_CONCISE_TYPE, &concise, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(concise, type);
    char recName[64] = {};
    SQLSMALLINT recNameLength = 0;
    ASSERT_EQ(SQLGetDescRec(ird, static_cast<SQLSMALLINT>(i), reinterpret_cast<SQLCHAR*>(recName), sizeof recName,
                            &recNameLength, &verbose, &subtype, &length, &precision, &scale, &recNullable),
              SQL_SUCCESS)
        << DiagText(SQL_HANDLE_DESC, ird);
    EXPECT_STREQ(recName, names[i - 1]);
    EXPECT_EQ(verbose, type == SQL_TYPE_DATE ? SQL_DATETIME : type);
    EXPECT_EQ(subtype, type == SQL_TYPE_DATE ? SQL_CODE_DATE : 0);
    EXPECT_EQ(length, octets);
    EXPECT_EQ(precision, static_cast<SQLSMALLINT>(size));
    EXPECT_EQ(scale, digits);
    EXPECT_EQ(recNullable, nullable);
  }
  // A record beyond the result holds nothing; an unknown field is refused.
  SQLSMALLINT type = 0;
  EXPECT_EQ(SQLGetDescRec(ird, 5, nullptr, 0, nullptr, &type, nullptr, nullptr, nullptr, nullptr, nullptr), SQL_NO_DATA);
  EXPECT_EQ(SQLColAttribute(stmt_, 1, 4711, nullptr, 0, nullptr, &number), SQL_ERROR);
  EXPECT_EQ(kivodbc::testing::FirstDiag(stmt_).state, "HY091");

  // SQLDescribeCol's states: a column beyond the result, a statement without one.
  EXPECT_EQ(SQLDescribeCol(stmt_, 5, nullptr, 0, nullptr, &type, nullptr, nullptr, nullptr), SQL_ERROR);
  EXPECT_EQ(kivodbc::testing::FirstDiag(stmt_).state, "07009");

  // A copy of the description: one record per column, with the C type that suits it.
  SQLHDESC copy = nullptr;
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DESC, dbc_, &copy), SQL_SUCCESS);
  ASSERT_EQ(SQLCopyDesc(ird, copy), SQL_SUCCESS) << DiagText(SQL_HANDLE_DESC, copy);
  ASSERT_EQ(SQLGetDescField(copy, 0, SQL_DESC_COUNT, &count, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(count, 4);
  const SQLSMALLINT cTypes[] = {SQL_C_CHAR, SQL_C_SLONG, SQL_C_CHAR, SQL_C_TYPE_DATE};
  for (SQLSMALLINT i = 1; i <= 4; ++i) {
    SQLSMALLINT cType = 0;
    EXPECT_EQ(SQLGetDescField(copy, i, SQL_DESC_CONCISE_TYPE, &cType, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(cType, cTypes[i - 1]) << i;
  }
  SQLLEN octets = 0;
  EXPECT_EQ(SQLGetDescField(copy, 1, SQL_DESC_OCTET_LENGTH, &octets, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(octets, 11);  // ten characters and the terminator
  EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_DESC, copy), SQL_SUCCESS);

  // The parameter descriptor describes the markers.
  ASSERT_EQ(SQLPrepare(stmt_, Sql("INSERT INTO parts (code, qty) VALUES (?, ?)"), SQL_NTS), SQL_SUCCESS);
  EXPECT_EQ(SQLDescribeCol(stmt_, 1, nullptr, 0, nullptr, &type, nullptr, nullptr, nullptr), SQL_ERROR);
  EXPECT_EQ(kivodbc::testing::FirstDiag(stmt_).state, "07009");
  SQLHDESC ipd = nullptr;
  ASSERT_EQ(SQLGetStmtAttr(stmt_, SQL_ATTR_IMP_PARAM_DESC, &ipd, 0, nullptr), SQL_SUCCESS);
  ASSERT_EQ(SQLGetDescField(ipd, 0, SQL_DESC_COUNT, &count, 0, nullptr), SQL_SUCCESS) << DiagText(SQL_HANDLE_DESC, ipd);
  EXPECT_EQ(count, 2);
  SQLSMALLINT parameterType = 0;
  EXPECT_EQ(SQLGetDescField(ipd, 2, SQL_DESC_TYPE, &type, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(type, SQL_VARCHAR);
  EXPECT_EQ(SQLGetDescField(ipd, 1, SQL_DESC_PARAMETER_TYPE, &parameterType, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(parameterType, SQL_PARAM_INPUT);
}

// A catalog result describes its columns with their fixed attributes and
// is read forward only.
TEST_F(RoadWriting, CatalogResultsAreDescribedAndReadForwardOnly) {
  ASSERT_NO_FATAL_FAILURE(FillParts(stmt_));
  ASSERT_EQ(SQLColumns(stmt_, nullptr, 0, nullptr, 0, Sql("parts"), SQL_NTS, nullptr, 0), SQL_SUCCESS);
  struct Case {
    SQLUSMALLINT column;
    SQLUSMALLINT id;
    SQLLEN expected;
  };
  // Texts are unsigned, numbers (DATA_TYPE) signed.
  for (const Case& c : {Case{3, SQL_DESC_SEARCHABLE, 0}, Case{3, SQL_DESC_UNSIGNED, 1}, Case{5, SQL_DESC_UNSIGNED, 0},
                        Case{5, SQL_DESC_UPDATABLE, 0}, Case{5, SQL_DESC_AUTO_UNIQUE_VALUE, 0},
                        Case{5, SQL_DESC_CONCISE_TYPE, SQL_SMALLINT}, Case{3, SQL_DESC_NULLABLE, SQL_NO_NULLS}}) {
    SQLLEN number = -99;
    EXPECT_EQ(SQLColAttribute(stmt_, c.column, c.id, nullptr, 0, nullptr, &number), SQL_SUCCESS) << c.id;
    EXPECT_EQ(number, c.expected) << c.column << "/" << c.id;
  }
  EXPECT_EQ(SQLFetchScroll(stmt_, SQL_FETCH_FIRST, 0), SQL_ERROR);
  EXPECT_EQ(kivodbc::testing::FirstDiag(stmt_).state, "IM001");
  SQLULEN rows = 0;
  SQLUSMALLINT status[1] = {};
  EXPECT_EQ(SQLExtendedFetch(stmt_, SQL_FETCH_ABSOLUTE, 2, &rows, status), SQL_ERROR);
  EXPECT_EQ(kivodbc::testing::FirstDiag(stmt_).native, 2103);
  EXPECT_EQ(SQLFetchScroll(stmt_, SQL_FETCH_NEXT, 0), SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, stmt_);
  EXPECT_EQ(TextColumn(stmt_, 4), "code");
}

// A catalog result on a statement set to scroll reads forward only, and
// says so while it is open; the statement scrolls again afterwards.
TEST_F(RoadWriting, CatalogResultsOfAScrollableStatementReportForwardOnly) {
  ASSERT_NO_FATAL_FAILURE(FillParts(stmt_));
  SQLFreeStmt(stmt_, SQL_CLOSE);
  ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_CURSOR_TYPE, reinterpret_cast<SQLPOINTER>(SQL_CURSOR_DYNAMIC), 0),
            SQL_SUCCESS)
      << DiagText(SQL_HANDLE_STMT, stmt_);
  auto expectCursor = [&](SQLULEN type, SQLULEN scrollable) {
    SQLULEN value = 99;
    EXPECT_EQ(SQLGetStmtAttr(stmt_, SQL_ATTR_CURSOR_TYPE, &value, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(value, type);
    EXPECT_EQ(SQLGetStmtAttr(stmt_, SQL_ATTR_CURSOR_SCROLLABLE, &value, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(value, scrollable);
  };
  ASSERT_EQ(SQLTables(stmt_, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0), SQL_SUCCESS)
      << DiagText(SQL_HANDLE_STMT, stmt_);
  expectCursor(SQL_CURSOR_FORWARD_ONLY, SQL_NONSCROLLABLE);
  std::vector<std::string> tables;
  while (SQLFetch(stmt_) == SQL_SUCCESS) tables.push_back(TextColumn(stmt_, 3));
  EXPECT_EQ(tables, (std::vector<std::string>{"parts"}));
  ASSERT_EQ(SQLCloseCursor(stmt_), SQL_SUCCESS);
  expectCursor(SQL_CURSOR_DYNAMIC, SQL_SCROLLABLE);
}

// A string buffer given with a negative length is refused (HY090) and
// nothing is written to it or to its length.
TEST_F(RoadWriting, NegativeBufferLengthsAreRefused) {
  ASSERT_NO_FATAL_FAILURE(FillParts(stmt_));
  ASSERT_EQ(Direct(stmt_, "SELECT code, qty FROM parts WHERE qty > 0"), SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, stmt_);
  char text[32] = "untouched";
  SQLSMALLINT shortLength = -7;
  EXPECT_EQ(SQLColAttribute(stmt_, 1, SQL_DESC_NAME, text, -3, &shortLength, nullptr), SQL_ERROR);
  EXPECT_EQ(kivodbc::testing::FirstDiag(stmt_).state, "HY090");
  EXPECT_STREQ(text, "untouched");
  EXPECT_EQ(shortLength, -7);
  EXPECT_EQ(SQLColAttribute(stmt_, 1, SQL_DESC_NAME, text, sizeof text, &shortLength, nullptr), SQL_SUCCESS);
  EXPECT_STREQ(text, "code");
  SQLINTEGER length = -7;
  std::strcpy(text, "untouched");
  EXPECT_EQ(SQLGetConnectAttr(dbc_, SQL_ATTR_CURRENT_CATALOG, text, -1, &length), SQL_ERROR);
  EXPECT_EQ(kivodbc::testing::FirstDiag(SQL_HANDLE_DBC, dbc_).state, "HY090");
  EXPECT_STREQ(text, "untouched");
  EXPECT_EQ(length, -7);
}

// SQL_DESC_ALLOC_TYPE tells a statement's own descriptors from one the
// application allocated.
TEST_F(RoadWriting, DescriptorsTellHowTheyWereAllocated) {
  SQLHDESC ard = nullptr, own = nullptr;
  ASSERT_EQ(SQLGetStmtAttr(stmt_, SQL_ATTR_APP_ROW_DESC, &ard, 0, nullptr), SQL_SUCCESS);
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DESC, dbc_, &own), SQL_SUCCESS);
  for (const auto& [desc, expected] : {std::pair{ard, SQL_DESC_ALLOC_AUTO}, std::pair{own, SQL_DESC_ALLOC_USER}}) {
    SQLSMALLINT type = 0;
    EXPECT_EQ(SQLGetDescField(desc, 0, SQL_DESC_ALLOC_TYPE, &type, 0, nullptr), SQL_SUCCESS)
        << DiagText(SQL_HANDLE_DESC, desc);
    EXPECT_EQ(type, expected);
  }
  EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_DESC, own), SQL_SUCCESS);
}

// Decisions on values that cannot be taken, and statements that cannot run.
TEST_F(RoadWriting, RefusedValuesAndStatements) {
  ASSERT_EQ(Direct(stmt_, "CREATE TABLE parts (code CHAR(8), qty INTEGER)"), SQL_SUCCESS)
      << DiagText(SQL_HANDLE_STMT, stmt_);
  // A number sent in two pieces: the second piece is refused, nothing is stored.
  ASSERT_EQ(SQLPrepare(stmt_, Sql("INSERT INTO parts (qty) VALUES (?)"), SQL_NTS), SQL_SUCCESS);
  SQLLEN atExecution = SQL_DATA_AT_EXEC;
  char token = 0;
  ASSERT_EQ(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &token, 0, &atExecution),
            SQL_SUCCESS);
  ASSERT_EQ(SQLExecute(stmt_), SQL_NEED_DATA);
  SQLPOINTER which = nullptr;
  ASSERT_EQ(SQLParamData(stmt_, &which), SQL_NEED_DATA);
  SQLINTEGER seven = 7, nine = 9;
  ASSERT_EQ(SQLPutData(stmt_, &seven, 0), SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, stmt_);
  EXPECT_EQ(SQLPutData(stmt_, &nine, 0), SQL_ERROR);
  EXPECT_EQ(kivodbc::testing::FirstDiag(stmt_).state, "HY019");
  const KIVHANDLE engine = EngineConnectionOn(folder_);
  EXPECT_EQ(CountRows(engine, "parts"), 0u);
  SQLCancel(stmt_);
  SQLFreeStmt(stmt_, SQL_RESET_PARAMS);

  // A character value with a negative length that ODBC does not define.
  ASSERT_EQ(SQLPrepare(stmt_, Sql("INSERT INTO parts (code) VALUES (?)"), SQL_NTS), SQL_SUCCESS);
  SQLLEN wrong = -77;
  ASSERT_EQ(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_CHAR, 8, 0, Sql("abc"), 4, &wrong),
            SQL_SUCCESS);
  EXPECT_EQ(SQLExecute(stmt_), SQL_ERROR);
  EXPECT_EQ(kivodbc::testing::FirstDiag(stmt_).state, "HY090");
  EXPECT_EQ(CountRows(engine, "parts"), 0u);
  SQLFreeStmt(stmt_, SQL_RESET_PARAMS);

  // More markers than a parameter number holds: refused at prepare.
  std::string many = "SELECT code FROM parts WHERE qty IN (?";
  for (int i = 1; i < 51000; ++i) many += ",?";
  many += ")";
  EXPECT_EQ(SQLPrepare(stmt_, Sql(many.c_str()), SQL_NTS), SQL_ERROR);
  EXPECT_EQ(kivodbc::testing::FirstDiag(stmt_).state, "07009");
  SQLSMALLINT params = -1;
  EXPECT_NE(SQLNumParams(stmt_, &params), SQL_SUCCESS);

  // A table name or password the session cannot keep is refused, not cut.
  const std::string longName = "call KivEnableEncryption('" + std::string(300, 'n') + "', 'pw')";
  const std::string longPassword = "call KivEnableEncryption('parts', " + std::string(70, 'p') + ")";
  for (const std::string& text : {longName, longPassword}) {
    EXPECT_EQ(Direct(stmt_, text), SQL_ERROR) << text.substr(0, 40);
    EXPECT_EQ(kivodbc::testing::FirstDiag(stmt_).state, "22003");
  }
}

// A table encrypted through the driver: read again with the password in a new
// session, refused without it, and decrypted.
TEST_F(RoadWriting, EncryptionRunsThroughTheDriver) {
  ASSERT_NO_FATAL_FAILURE(FillParts(stmt_));
  const fs::path file = fs::path(folder_) / "parts.kdt";
  auto fileText = [&] {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  ASSERT_NE(fileText().find("SECOND"), std::string::npos);
  // The procedure words in any letter case.
  ASSERT_EQ(Direct(stmt_, "call kivenableencryption('parts', secret)"), SQL_SUCCESS)
      << DiagText(SQL_HANDLE_STMT, stmt_);
  ASSERT_EQ(Direct(stmt_, "{call KIVENCRYPTTABLE('parts')}"), SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, stmt_);
  EXPECT_EQ(fileText().find("SECOND"), std::string::npos);  // the rows are not plain on disk

  auto reconnect = [&] {
    SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
    ASSERT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS) << DiagText(SQL_HANDLE_DBC, dbc_);
    ASSERT_TRUE(SQL_SUCCEEDED(DriverConnect("DRIVER={" + std::string(kDriver) + "};DataDirectory=" + folder_)));
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt_), SQL_SUCCESS);
  };
  auto columnNames = [&] {
    EXPECT_EQ(SQLColumns(stmt_, nullptr, 0, nullptr, 0, Sql("parts"), SQL_NTS, nullptr, 0), SQL_SUCCESS);
    std::vector<std::string> names = ResultRows(stmt_, {4});
    SQLCloseCursor(stmt_);
    return names;
  };
  // Without the password the table is not read.
  ASSERT_NO_FATAL_FAILURE(reconnect());
  EXPECT_TRUE(columnNames().empty());
  EXPECT_EQ(Direct(stmt_, "SELECT code FROM parts"), SQL_ERROR);
  SQLFreeStmt(stmt_, SQL_CLOSE);
  // With it, the columns and the rows are there.
  ASSERT_EQ(Direct(stmt_, "call KivEnableEncryption('parts', 'secret')"), SQL_SUCCESS)
      << DiagText(SQL_HANDLE_STMT, stmt_);
  EXPECT_EQ(columnNames(), (std::vector<std::string>{"code", "qty", "price", "seen"}));
  ASSERT_EQ(Direct(stmt_, "SELECT code FROM parts WHERE qty = 20"), SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, stmt_);
  EXPECT_EQ(ResultRows(stmt_, {1}), (std::vector<std::string>{"SECOND    "}));
  SQLFreeStmt(stmt_, SQL_CLOSE);
  // Decrypted, the table reads without a password again.
  ASSERT_EQ(Direct(stmt_, "call KivDecryptTable('parts')"), SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, stmt_);
  EXPECT_NE(fileText().find("SECOND"), std::string::npos);
  ASSERT_NO_FATAL_FAILURE(reconnect());
  EXPECT_EQ(columnNames().size(), 4u);
}

// NUMERIC and BIGINT values of up to 18 digits go to the file and come back
// with every digit, written as literals and as bound text, and an equality
// on a BIGINT beyond a double's exact integers finds its own row only; in
// the engine's own tables and in DBF tables.
TEST_F(RoadWriting, NumbersOfEighteenDigitsKeepEveryDigit) {
  for (const char* kind : {"kdt", "dbf"}) {
    SCOPED_TRACE(kind);
    const fs::path folder = fs::path(folder_) / kind;
    fs::create_directories(folder);
    SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
    ASSERT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS) << DiagText(SQL_HANDLE_DBC, dbc_);
    ASSERT_TRUE(SQL_SUCCEEDED(DriverConnect("DRIVER={" + std::string(kDriver) + "};DataDirectory=" + folder.string() +
                                            (std::string(kind) == "dbf" ? ";DefaultType=FoxPro" : ""))))
        << DiagText(SQL_HANDLE_DBC, dbc_);
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt_), SQL_SUCCESS);

    ASSERT_EQ(Direct(stmt_, "CREATE TABLE nk (id NUMERIC(18,8), b BIGINT)"), SQL_SUCCESS)
        << DiagText(SQL_HANDLE_STMT, stmt_);
    ASSERT_EQ(Direct(stmt_, "INSERT INTO nk VALUES (999999999.99999999, 9007199254740993)"), SQL_SUCCESS)
        << DiagText(SQL_HANDLE_STMT, stmt_);
    ASSERT_EQ(Direct(stmt_, "INSERT INTO nk VALUES (-0.00000001, 9007199254740992)"), SQL_SUCCESS)
        << DiagText(SQL_HANDLE_STMT, stmt_);
    // The same digits bound as text.
    ASSERT_EQ(SQLPrepare(stmt_, Sql("INSERT INTO nk VALUES (?, ?)"), SQL_NTS), SQL_SUCCESS);
    char id[32] = "-99999999.12345678", b[32] = "-999999999999999999";
    SQLLEN idLength = SQL_NTS, bLength = SQL_NTS;
    ASSERT_EQ(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_NUMERIC, 18, 8, id, sizeof id, &idLength),
              SQL_SUCCESS);
    ASSERT_EQ(SQLBindParameter(stmt_, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_BIGINT, 19, 0, b, sizeof b, &bLength),
              SQL_SUCCESS);
    ASSERT_EQ(SQLExecute(stmt_), SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, stmt_);
    EXPECT_EQ(SQLFreeStmt(stmt_, SQL_RESET_PARAMS), SQL_SUCCESS);
    SQLFreeStmt(stmt_, SQL_CLOSE);

    std::ifstream in(folder / ("nk." + std::string(kind)), std::ios::binary);
    const std::string file(std::istreambuf_iterator<char>(in), {});
    ASSERT_FALSE(file.empty());
    for (const char* digits : {" 999999999.99999999", " 9007199254740993", " -0.00000001", " 9007199254740992",
                               " -99999999.12345678", " -999999999999999999"})
      EXPECT_NE(file.find(digits), std::string::npos) << digits;

    ASSERT_EQ(Direct(stmt_, "SELECT id, b FROM nk"), SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, stmt_);
    EXPECT_EQ(ResultRows(stmt_, {1, 2}), (std::vector<std::string>{"999999999.99999999|9007199254740993",
                                                                    "-0.00000001|9007199254740992",
                                                                    "-99999999.12345678|-999999999999999999"}));
    SQLFreeStmt(stmt_, SQL_CLOSE);
    struct Case {
      const char* where;
      std::vector<std::string> ids;
    };
    const Case cases[] = {
        {"b = 9007199254740993", {"999999999.99999999"}},
        {"b = 9007199254740992", {"-0.00000001"}},
        {"b > 9007199254740992", {"999999999.99999999"}},
        {"b < 9007199254740993", {"-0.00000001", "-99999999.12345678"}},
        {"b = -999999999999999999", {"-99999999.12345678"}},
        {"b IN (1, 9007199254740993)", {"999999999.99999999"}},
        {"id = -99999999.12345678", {"-99999999.12345678"}},
        {"id = 999999999.99999999", {"999999999.99999999"}},
        {"id > 0", {"999999999.99999999"}},
        {"id < 0", {"-0.00000001", "-99999999.12345678"}},
        {"id - 999999999.99999999 = 0", {"999999999.99999999"}},
        {"id -1.0000000000000001 > 999999998", {"999999999.99999999"}},
        {"b > 0 AND -1.0000000000000001 < id", {"999999999.99999999", "-0.00000001"}},
    };
    for (const Case& c : cases) {
      ASSERT_EQ(Direct(stmt_, std::string("SELECT id FROM nk WHERE ") + c.where), SQL_SUCCESS)
          << c.where << DiagText(SQL_HANDLE_STMT, stmt_);
      EXPECT_EQ(ResultRows(stmt_, {1}), c.ids) << c.where;
      SQLFreeStmt(stmt_, SQL_CLOSE);
    }
  }
}
