// The built driver as applications meet it: registered in a private
// odbcinst.ini and driven through unixODBC's driver manager.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <string>

#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using kivodbc::testing::Diag;
using kivodbc::testing::FirstDiag;
using kivodbc::testing::OdbcConfig;

const char* const kDrivers =
    "[Morvane Rivulet ODBC]\n"
    "Driver=" KIVODBC_DRIVER_PATH "\n"
    "[Morvane Without Engine]\n"
    "Driver=@ROOT@/noengine/libKIVODBC.so\n";

const char* const kSources =
    "[KivData]\nDriver=Morvane Rivulet ODBC\nDataDirectory=@DATA@\n"
    "[KivMissing]\nDriver=Morvane Rivulet ODBC\nDataDirectory=@ROOT@/none\n"
    "[KivNoEngine]\nDriver=Morvane Without Engine\nDataDirectory=@DATA@\n";

// One configuration for the whole program: the driver manager reads it once.
OdbcConfig& Config() {
  static OdbcConfig* config = [] {
    auto* c = new OdbcConfig(kDrivers, kSources);
    fs::create_directories(c->Root() / "noengine");
    fs::copy_file(KIVODBC_DRIVER_PATH, c->Root() / "noengine" / "libKIVODBC.so");
    return c;
  }();
  return *config;
}

SQLRETURN ConnectTo(SQLHDBC dbc, const char* dsn) {
  return SQLConnect(dbc, reinterpret_cast<SQLCHAR*>(const_cast<char*>(dsn)), SQL_NTS, nullptr, 0, nullptr, 0);
}

void AllocateOdbc3Connection(SQLHENV* env, SQLHDBC* dbc) {
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, env), SQL_SUCCESS);
  ASSERT_EQ(SQLSetEnvAttr(*env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0), SQL_SUCCESS);
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, *env, dbc), SQL_SUCCESS);
}

class DriverManager : public ::testing::Test {
 protected:
  void SetUp() override { Config(); }
};

// Allocates environment, connection and statements as an application of the
// given ODBC version and reads each statement's four descriptors.
void AllocateReadAndFree(intptr_t version) {
  SQLHENV env = nullptr;
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env), SQL_SUCCESS);
  ASSERT_EQ(SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(version), 0), SQL_SUCCESS);
  SQLHDBC dbc = nullptr;
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc), SQL_SUCCESS);
  // An ODBC 3.80 application is warned by the driver manager while the driver
  // does not report its ODBC version through SQLGetInfo.
  ASSERT_TRUE(SQL_SUCCEEDED(ConnectTo(dbc, "KivData"))) << FirstDiag(SQL_HANDLE_DBC, dbc).message;
  SQLHSTMT stmts[2] = {};
  for (SQLHSTMT& stmt : stmts) {
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt), SQL_SUCCESS) << FirstDiag(SQL_HANDLE_DBC, dbc).message;
    std::set<SQLHDESC> descriptors;
    for (SQLINTEGER attribute : {SQL_ATTR_APP_ROW_DESC, SQL_ATTR_APP_PARAM_DESC, SQL_ATTR_IMP_ROW_DESC,
                                 SQL_ATTR_IMP_PARAM_DESC}) {
      SQLHDESC desc = nullptr;
      EXPECT_EQ(SQLGetStmtAttr(stmt, attribute, &desc, sizeof desc, nullptr), SQL_SUCCESS) << attribute;
      EXPECT_NE(desc, nullptr);
      descriptors.insert(desc);
    }
    EXPECT_EQ(descriptors.size(), 4u);
  }
  // A driver error on the statement reads back with the version's SQLSTATE.
  SQLINTEGER output = 0;
  EXPECT_EQ(SQLBindParameter(stmts[0], 1, SQL_PARAM_OUTPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &output, 0, nullptr),
            SQL_ERROR);
  const Diag d = FirstDiag(SQL_HANDLE_STMT, stmts[0]);
  EXPECT_EQ(d.state, version == SQL_OV_ODBC2 ? "S1C00" : "HYC00");
  EXPECT_EQ(d.native, 2177);
  EXPECT_EQ(d.message, "[Kestrane][Morvane ODBC Driver]Optional feature not implemented.");

  EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_STMT, stmts[0]), SQL_SUCCESS);
  EXPECT_EQ(SQLDisconnect(dbc), SQL_SUCCESS);  // frees the other statement
  EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_DBC, dbc), SQL_SUCCESS);
  EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_ENV, env), SQL_SUCCESS);
}

TEST_F(DriverManager, Odbc3ApplicationAllocatesStatementsAndReadsDescriptors) {
  AllocateReadAndFree(SQL_OV_ODBC3);
}

TEST_F(DriverManager, Odbc380ApplicationIsServedAsOdbc3) { AllocateReadAndFree(SQL_OV_ODBC3_80); }

TEST_F(DriverManager, Odbc2ApplicationGetsOdbc2States) { AllocateReadAndFree(SQL_OV_ODBC2); }

TEST_F(DriverManager, Odbc2CallsAllocateAndFree) {
  SQLHENV env = nullptr;
  SQLHDBC dbc = nullptr;
  SQLHSTMT stmt = nullptr;
  ASSERT_EQ(SQLAllocEnv(&env), SQL_SUCCESS);
  ASSERT_EQ(SQLAllocConnect(env, &dbc), SQL_SUCCESS);
  ASSERT_EQ(ConnectTo(dbc, "KivData"), SQL_SUCCESS);
  ASSERT_EQ(SQLAllocStmt(dbc, &stmt), SQL_SUCCESS);
  SQLINTEGER output = 0;
  EXPECT_EQ(SQLBindParameter(stmt, 1, SQL_PARAM_OUTPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &output, 0, nullptr),
            SQL_ERROR);
  SQLCHAR state[6] = {};
  SQLCHAR message[300] = {};
  SQLINTEGER native = 0;
  EXPECT_EQ(SQLError(env, dbc, stmt, state, &native, message, sizeof message, nullptr), SQL_SUCCESS);
  EXPECT_STREQ(reinterpret_cast<char*>(state), "S1C00");
  EXPECT_EQ(native, 2177);
  EXPECT_EQ(SQLError(env, dbc, stmt, state, &native, message, sizeof message, nullptr), SQL_NO_DATA);
  EXPECT_EQ(SQLFreeStmt(stmt, SQL_DROP), SQL_SUCCESS);
  EXPECT_EQ(SQLDisconnect(dbc), SQL_SUCCESS);
  EXPECT_EQ(SQLFreeConnect(dbc), SQL_SUCCESS);
  EXPECT_EQ(SQLFreeEnv(env), SQL_SUCCESS);
}

TEST_F(DriverManager, CatalogCallsCheckTheirRequests) {
  SQLHENV env = nullptr;
  SQLHDBC dbc = nullptr;
  ASSERT_NO_FATAL_FAILURE(AllocateOdbc3Connection(&env, &dbc));
  ASSERT_TRUE(SQL_SUCCEEDED(ConnectTo(dbc, "KivData"))) << FirstDiag(SQL_HANDLE_DBC, dbc).message;
  SQLHSTMT stmt = nullptr;
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt), SQL_SUCCESS);
  auto text = [](const char* t) { return reinterpret_cast<SQLCHAR*>(const_cast<char*>(t)); };
  EXPECT_EQ(SQLTables(stmt, nullptr, 0, text("dbo"), SQL_NTS, text("%"), SQL_NTS, nullptr, 0), SQL_ERROR);
  Diag d = FirstDiag(SQL_HANDLE_STMT, stmt);
  EXPECT_EQ(d.state, "HYC00");
  EXPECT_EQ(d.native, 2177);
  EXPECT_EQ(SQLTables(stmt, nullptr, 0, text("%"), SQL_NTS, text("%"), SQL_NTS, nullptr, 0), SQL_SUCCESS);
  EXPECT_EQ(SQLColumns(stmt, nullptr, 0, nullptr, 0, text("%"), SQL_NTS, nullptr, 0), SQL_ERROR);
  EXPECT_EQ(FirstDiag(SQL_HANDLE_STMT, stmt).state, "24000");
  EXPECT_EQ(SQLFreeStmt(stmt, SQL_CLOSE), SQL_SUCCESS);
  // A table that is not there gives an empty result, not an error.
  EXPECT_EQ(SQLStatistics(stmt, nullptr, 0, nullptr, 0, text("nosuch"), SQL_NTS, SQL_INDEX_ALL, SQL_QUICK),
            SQL_SUCCESS);
  EXPECT_EQ(SQLCloseCursor(stmt), SQL_SUCCESS);
  EXPECT_EQ(SQLPrimaryKeys(stmt, nullptr, 0, nullptr, 0, text("nosuch"), SQL_NTS), SQL_SUCCESS);
  EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_STMT, stmt), SQL_SUCCESS);
  EXPECT_EQ(SQLDisconnect(dbc), SQL_SUCCESS);
  EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_DBC, dbc), SQL_SUCCESS);
  EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_ENV, env), SQL_SUCCESS);
}

TEST_F(DriverManager, EngineFailureAtConnectReadsAsDiagnostic) {
  SQLHENV env = nullptr;
  SQLHDBC dbc = nullptr;
  ASSERT_NO_FATAL_FAILURE(AllocateOdbc3Connection(&env, &dbc));
  EXPECT_EQ(ConnectTo(dbc, "KivMissing"), SQL_ERROR);
  const Diag d = FirstDiag(SQL_HANDLE_DBC, dbc);
  EXPECT_EQ(d.state, "HY000");
  EXPECT_EQ(d.native, 5006);
  EXPECT_EQ(d.message.rfind("[unixODBC][Kestrane][Morvane SQL][DAX] ", 0), 0u) << d.message;
  EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_DBC, dbc), SQL_SUCCESS);
  EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_ENV, env), SQL_SUCCESS);
}

TEST_F(DriverManager, DriverWithoutItsEngineFailsTheConnectWithAMessage) {
  SQLHENV env = nullptr;
  SQLHDBC dbc = nullptr;
  ASSERT_NO_FATAL_FAILURE(AllocateOdbc3Connection(&env, &dbc));
  // The loader finds an engine by name once one is loaded in the process
  // (these tests all in one process): then the driver alone connects.
  void* loaded = dlopen("libqel32.so", RTLD_NOW | RTLD_NOLOAD);
  ::testing::internal::CaptureStderr();
  const SQLRETURN rc = ConnectTo(dbc, "KivNoEngine");
  const std::string shown = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(shown, "");  // the driver writes nothing on its host's streams
  if (loaded != nullptr) {
    dlclose(loaded);
    EXPECT_EQ(rc, SQL_SUCCESS) << FirstDiag(SQL_HANDLE_DBC, dbc).message;
    EXPECT_EQ(SQLDisconnect(dbc), SQL_SUCCESS);
    EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_DBC, dbc), SQL_SUCCESS);
    EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_ENV, env), SQL_SUCCESS);
    return;
  }
  EXPECT_EQ(rc, SQL_ERROR);
  const Diag d = FirstDiag(SQL_HANDLE_DBC, dbc);
  EXPECT_EQ(d.state, "08001");
  // What failed, with the loader's reason.
  EXPECT_EQ(d.message.rfind("[unixODBC][Kestrane][Morvane ODBC Driver]Unable to connect: Failed to load library "
                            "libqel32.so. libqel32.so: cannot open shared object file",
                            0),
            0u)
      << d.message;
  EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_DBC, dbc), SQL_SUCCESS);
  EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_ENV, env), SQL_SUCCESS);
}

TEST(DriverLibrary, ExportsExactlyTheOdbcEntryPoints) {
  const std::set<std::string> expected = {
      "SQLAllocConnect", "SQLAllocEnv", "SQLAllocStmt", "SQLBindCol", "SQLCancel", "SQLColAttributes",
      "SQLConnect", "SQLDescribeCol", "SQLDisconnect", "SQLError", "SQLExecDirect", "SQLExecute", "SQLFetch",
      "SQLFreeConnect", "SQLFreeEnv", "SQLFreeStmt", "SQLGetCursorName", "SQLNumResultCols", "SQLPrepare",
      "SQLRowCount", "SQLSetCursorName", "SQLAllocHandle", "SQLTransact", "SQLBulkOperations", "SQLCloseCursor",
      "SQLColAttribute", "SQLCopyDesc", "SQLEndTran", "SQLFetchScroll", "SQLFreeHandle", "SQLGetConnectAttr",
      "SQLGetDescField", "SQLGetDescRec", "SQLGetDiagField", "SQLGetDiagRec", "SQLGetEnvAttr", "SQLGetStmtAttr",
      "SQLSetConnectAttr", "SQLSetDescField", "SQLColumns", "SQLDriverConnect", "SQLGetConnectOption",
      "SQLGetData", "SQLGetFunctions", "SQLGetInfo", "SQLGetStmtOption", "SQLGetTypeInfo", "SQLParamData",
      "SQLPutData", "SQLSetConnectOption", "SQLSetStmtOption", "SQLSpecialColumns", "SQLStatistics", "SQLTables",
      "SQLBrowseConnect", "SQLColumnPrivileges", "SQLSetDescRec", "SQLDescribeParam", "SQLExtendedFetch",
      "SQLForeignKeys", "SQLMoreResults", "SQLNativeSql", "SQLNumParams", "SQLParamOptions", "SQLPrimaryKeys",
      "SQLProcedureColumns", "SQLProcedures", "SQLSetPos", "SQLSetScrollOptions", "SQLTablePrivileges",
      "SQLSetEnvAttr", "SQLBindParameter", "SQLSetStmtAttr", "LoadByOrdinal"};
  ASSERT_EQ(expected.size(), 74u);
  // The dynamic symbol table, defined symbols only.
  FILE* pipe = ::popen("nm -D --defined-only " KIVODBC_DRIVER_PATH, "r");
  ASSERT_NE(pipe, nullptr);
  std::set<std::string> exported;
  char line[512];
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    std::string text = line;
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    const size_t space = text.rfind(' ');
    const std::string name = text.substr(space + 1);
    const std::string kind = space >= 2 ? text.substr(space - 1, 1) : "";
    if (kind == "A") continue;  // version nodes
    exported.insert(name.substr(0, name.find('@')));
  }
  ASSERT_EQ(::pclose(pipe), 0);
  EXPECT_EQ(exported, expected);

  void* driver = dlopen(KIVODBC_DRIVER_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(driver, nullptr) << dlerror();
  for (const std::string& name : expected) EXPECT_NE(dlsym(driver, name.c_str()), nullptr) << name;
  dlclose(driver);
}

}  // namespace
