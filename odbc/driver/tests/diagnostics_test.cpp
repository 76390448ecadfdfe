#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "api.h"
#include "api/diagnostics.h"
#include "util/engine.h"
#include "handles/messages.h"
#include "qel32.h"
#include "handles/records.h"

namespace kivodbc {
namespace {

TEST(MessageTable, TextsStatesAndPrefixes) {
  struct Case {
    uint32_t code;
    const char* source;
  } cases[] = {
      {2101, "S1001 HY001 [Kestrane][Morvane ODBC Driver]Memory allocation error"},
      {2005, "S0000 S0000 [Kestrane][Morvane ODBC Driver][ISAM]ISAM communication error"},
      {2110, "S1C00 IM001 [Kestrane][Morvane ODBC Driver]Driver not capable"},
      {2112, "22005 22018 [Kestrane][Morvane ODBC Driver]Assignment error"},
      {2117, "37000 42000 [Kestrane][Morvane ODBC Driver]Unexpected token: %s"},
      {2153, "S1096 22012 [Kestrane][Morvane ODBC Driver]Division by zero"},
      {2169, "01S02 01S02 [Kestrane][Morvane ODBC Driver]Option value changed."},
      {2179, "S1010 HY010 [Kestrane][Morvane ODBC Driver]Function sequence error."},
      {2184, "S1009 HY092 [Kestrane][Morvane ODBC Driver]Invalid attribute identifier."},
      {2212, "S0000 HY000 [Kestrane][Morvane ODBC DRIVER]Aggregate function cannot be nested: %s"},
      {2232, "S1096 22012 [Kestrane][Morvane ODBC DRIVER]Evaluation of numeric expression resulted in overflow "
             "error: %s"},
      {2233, "S1008 HY008 [Kestrane][Morvane ODBC DRIVER]Operation canceled"},
      {2234, "70100 HY018 [Kestrane][Morvane ODBC DRIVER]Server declined cancel request"},
      {2235,
       "01000 01000 [Kestrane][Morvane ODBC DRIVER]The library libqel32.so is older than the ODBC Driver DLL.  Morvane "
       "DLLs must be of the same version."},
  };
  for (const Case& c : cases) EXPECT_EQ(DriverMessageSource(c.code), c.source) << c.code;
  EXPECT_EQ(LoadDriverString(0), "00000 00000 ");
  EXPECT_EQ(LoadDriverString(5000), "Setup");
  EXPECT_EQ(LoadDriverString(5001), "Data source already exists.  OK to overwrite it?");
  EXPECT_EQ(LoadDriverString(5002), "Sunday");
  EXPECT_EQ(LoadDriverString(5008), "Saturday");
  EXPECT_EQ(LoadDriverString(5009), "January");
  EXPECT_EQ(LoadDriverString(5020), "December");
}

TEST(MessageTable, EveryDriverCodeHasAWellFormedSource) {
  for (uint32_t code = 2000; code <= 2300; ++code) {
    const std::string source = DriverMessageSource(code);
    ASSERT_GT(source.size(), 12u) << code;
    EXPECT_EQ(source[5], ' ') << code;
    EXPECT_EQ(source[11], ' ') << code;
    const bool hasText = (code >= 2001 && code <= 2015) || (code >= 2101 && code <= 2235);
    EXPECT_EQ(!LoadDriverString(code).empty(), hasText) << code;
    if (!hasText) { EXPECT_EQ(source, "S1000 HY000 [Kestrane][Morvane ODBC Driver]Internal error") << code; }
  }
}

// Handles of every type under one environment.
class Diagnostics : public ::testing::Test {
 protected:
  void SetUp() override {
    EngineBinding::Instance().UseLibraryForTesting(KIVODBC_ENGINE_PATH);
    ASSERT_EQ(AllocHandle(SQL_HANDLE_ENV, nullptr, &env_), SQL_SUCCESS);
    ASSERT_EQ(AllocHandle(SQL_HANDLE_DBC, env_, &conn_), SQL_SUCCESS);
    ASSERT_EQ(AllocHandle(SQL_HANDLE_STMT, conn_, &stmt_), SQL_SUCCESS);
    ASSERT_EQ(AllocHandle(SQL_HANDLE_DESC, conn_, &desc_), SQL_SUCCESS);
  }
  void TearDown() override { EXPECT_EQ(FreeEnv(env_), SQL_SUCCESS); }

  void UseVersion(int version) { AsEnv(env_)->version = version; }

  struct Record {
    SQLRETURN rc;
    std::string state;
    SQLINTEGER native;
    std::string message;
    SQLSMALLINT length;
  };
  static Record ReadError(SQLHENV env, SQLHDBC conn, SQLHSTMT stmt, SQLSMALLINT capacity = 600) {
    SQLCHAR state[6] = {};
    SQLCHAR message[600] = {};
    Record r{};
    r.native = -1;
    r.rc = Error(env, conn, stmt, state, &r.native, message, capacity, &r.length);
    r.state = reinterpret_cast<char*>(state);
    r.message = reinterpret_cast<char*>(message);
    return r;
  }
  static Record ReadDiagRec(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT record = 1) {
    SQLCHAR state[6] = {};
    SQLCHAR message[600] = {};
    Record r{};
    r.rc = GetDiagRec(type, handle, record, state, &r.native, message, sizeof message, &r.length);
    r.state = reinterpret_cast<char*>(state);
    r.message = reinterpret_cast<char*>(message);
    return r;
  }
  static std::string TextField(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT field, SQLRETURN expected = SQL_SUCCESS) {
    char text[600] = {};
    SQLSMALLINT length = 0;
    EXPECT_EQ(GetDiagField(type, handle, 1, field, text, sizeof text, &length), expected) << field;
    return text;
  }

  SQLHENV env_ = nullptr;
  SQLHDBC conn_ = nullptr;
  SQLHSTMT stmt_ = nullptr;
  SQLHDESC desc_ = nullptr;
};

TEST_F(Diagnostics, SqlErrorTakesThePendingCodeByOdbcVersion) {
  for (int version : {2, 3}) {
    UseVersion(version);
    PostStatementError(AsStmt(stmt_), kDriverNotCapable);
    Record r = ReadError(env_, conn_, stmt_);  // the statement wins over the connection
    EXPECT_EQ(r.rc, SQL_SUCCESS);
    EXPECT_EQ(r.state, version == 2 ? "S1C00" : "IM001");
    EXPECT_EQ(r.native, 2110);
    EXPECT_EQ(r.message, "[Kestrane][Morvane ODBC Driver]Driver not capable");
    EXPECT_EQ(r.length, static_cast<SQLSMALLINT>(r.message.size()));
    Record again = ReadError(env_, conn_, stmt_);
    EXPECT_EQ(again.rc, SQL_NO_DATA);
    EXPECT_EQ(again.state, "00000");
    EXPECT_EQ(again.native, 0);
    EXPECT_EQ(again.message, "00000 ");
  }
  EXPECT_EQ(ReadError(nullptr, nullptr, nullptr).rc, SQL_INVALID_HANDLE);
}

TEST_F(Diagnostics, SqlErrorOnEachHandleKind) {
  UseVersion(2);
  PostEnvError(AsEnv(env_), kMemoryError);
  PostConnError(AsConn(conn_), kConnectionInUse);
  EXPECT_EQ(ReadError(nullptr, conn_, nullptr).state, "08002");
  EXPECT_EQ(ReadError(env_, nullptr, nullptr).state, "S1001");
  EXPECT_EQ(ReadError(env_, nullptr, nullptr).rc, SQL_NO_DATA);
}

TEST_F(Diagnostics, ArgumentTextReplacesTheTrailingPlaceholder) {
  PostStatementError(AsStmt(stmt_), 2117, "FROM");
  EXPECT_EQ(ReadDiagRec(SQL_HANDLE_STMT, stmt_).message, "[Kestrane][Morvane ODBC Driver]Unexpected token: FROM");
  EXPECT_EQ(ReadError(nullptr, nullptr, stmt_).message, "[Kestrane][Morvane ODBC Driver]Unexpected token: FROM");
  // An environment has no argument text: the placeholder reads as empty.
  PostEnvError(AsEnv(env_), 2117);
  EXPECT_EQ(ReadError(env_, nullptr, nullptr).message, "[Kestrane][Morvane ODBC Driver]Unexpected token: ");
}

TEST_F(Diagnostics, ConnectionMessagesSkipAnArgumentThatRepeatsTheText) {
  PostConnError(AsConn(conn_), 2117, "Unexpected token: WHERE");
  EXPECT_EQ(TextField(SQL_HANDLE_DBC, conn_, SQL_DIAG_MESSAGE_TEXT),
            "[Kestrane][Morvane ODBC Driver]Unexpected token: WHERE");
  PostStatementError(AsStmt(stmt_), 2117, "Unexpected token: WHERE");
  EXPECT_EQ(TextField(SQL_HANDLE_STMT, stmt_, SQL_DIAG_MESSAGE_TEXT),
            "[Kestrane][Morvane ODBC Driver]Unexpected token: Unexpected token: WHERE");
}

TEST_F(Diagnostics, ComposedMessagesStayWithin511Characters) {
  PostStatementError(AsStmt(stmt_), 2117, std::string(2000, 'x'));
  EXPECT_EQ(std::strlen(AsStmt(stmt_)->argument), kArgumentSize - 1);
  EXPECT_EQ(ReadDiagRec(SQL_HANDLE_STMT, stmt_).message.size(), 511u);
  EXPECT_EQ(ReadError(nullptr, nullptr, stmt_).message.size(), 511u);
}

TEST_F(Diagnostics, CutMessagesWarnAndReportTheFullLength) {
  PostStatementError(AsStmt(stmt_), kMemoryError);
  Record r = ReadError(nullptr, nullptr, stmt_, 10);
  EXPECT_EQ(r.rc, SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(r.message, "[Kestrane");
  EXPECT_EQ(r.length, static_cast<SQLSMALLINT>(std::strlen("[Kestrane][Morvane ODBC Driver]Memory allocation error")));
  EXPECT_EQ(AsStmt(stmt_)->code, 0);
}

TEST_F(Diagnostics, GetDiagRecReadsWithoutClearing) {
  for (SQLSMALLINT type : {SQL_HANDLE_ENV, SQL_HANDLE_DBC, SQL_HANDLE_STMT, SQL_HANDLE_DESC}) {
    SQLHANDLE handle = type == SQL_HANDLE_ENV ? env_ : type == SQL_HANDLE_DBC ? conn_ : type == SQL_HANDLE_STMT ? stmt_ : desc_;
    EXPECT_EQ(ReadDiagRec(type, handle).rc, SQL_NO_DATA) << type;
    PostError(type, handle, kFunctionSequenceError);
    Record r = ReadDiagRec(type, handle);
    EXPECT_EQ(r.rc, SQL_SUCCESS) << type;
    EXPECT_EQ(r.state, "HY010") << type;
    EXPECT_EQ(r.native, 2179) << type;
    EXPECT_EQ(r.message, "[Kestrane][Morvane ODBC Driver]Function sequence error.") << type;
    EXPECT_EQ(ReadDiagRec(type, handle).rc, SQL_SUCCESS) << type;
    EXPECT_EQ(ReadDiagRec(type, handle, 2).rc, SQL_NO_DATA) << type;
    EXPECT_EQ(ReadDiagRec(type, handle, 0).rc, SQL_ERROR) << type;
  }
  EXPECT_EQ(ReadDiagRec(SQL_HANDLE_DBC, stmt_).rc, SQL_INVALID_HANDLE);
  EXPECT_EQ(ReadDiagRec(7, stmt_).rc, SQL_ERROR);
}

TEST_F(Diagnostics, HeaderFields) {
  SQLINTEGER number = -1;
  SQLSMALLINT length = 0;
  EXPECT_EQ(GetDiagField(SQL_HANDLE_DBC, conn_, 0, SQL_DIAG_NUMBER, &number, 0, &length), SQL_SUCCESS);
  EXPECT_EQ(number, 0);
  PostConnError(AsConn(conn_), kMemoryError);
  EXPECT_EQ(GetDiagField(SQL_HANDLE_DBC, conn_, 0, SQL_DIAG_NUMBER, &number, 0, &length), SQL_SUCCESS);
  EXPECT_EQ(number, 1);
  SQLRETURN returnCode = 5;
  EXPECT_EQ(GetDiagField(SQL_HANDLE_DBC, conn_, 0, SQL_DIAG_RETURNCODE, &returnCode, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(returnCode, 0);

  // Statement-only header fields, with the 64-bit counts at full width.
  AsStmt(stmt_)->rowCount = 0x100000001LL;
  SQLLEN count = 0;
  EXPECT_EQ(GetDiagField(SQL_HANDLE_STMT, stmt_, 0, SQL_DIAG_ROW_COUNT, &count, 0, &length), SQL_SUCCESS);
  EXPECT_EQ(count, 0x100000001LL);
  EXPECT_EQ(length, 8);
  EXPECT_EQ(GetDiagField(SQL_HANDLE_STMT, stmt_, 0, SQL_DIAG_CURSOR_ROW_COUNT, &count, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(count, -1);
  for (SQLSMALLINT field : {SQL_DIAG_ROW_COUNT, SQL_DIAG_CURSOR_ROW_COUNT, SQL_DIAG_DYNAMIC_FUNCTION,
                            SQL_DIAG_DYNAMIC_FUNCTION_CODE})
    EXPECT_EQ(GetDiagField(SQL_HANDLE_DBC, conn_, 0, field, &count, 8, nullptr), SQL_ERROR) << field;
  EXPECT_EQ(GetDiagField(SQL_HANDLE_STMT, stmt_, 0, 999, &count, 8, nullptr), SQL_ERROR);
}

TEST_F(Diagnostics, DynamicFunctionNames) {
  struct Case {
    int16_t code;
    const char* name;
  } cases[] = {{85, "SELECT CURSOR"}, {82, "UPDATE WHERE"}, {-1, "CREATE INDEX"}, {-2, "DROP INDEX"},
               {50, "INSERT"},        {19, "DELETE WHERE"}, {77, "CREATE TABLE"}, {0, ""}};
  for (const Case& c : cases) {
    AsStmt(stmt_)->dynamicFunction = c.code;
    char text[32] = {};
    SQLSMALLINT length = 0;
    EXPECT_EQ(GetDiagField(SQL_HANDLE_STMT, stmt_, 0, SQL_DIAG_DYNAMIC_FUNCTION, text, sizeof text, &length),
              SQL_SUCCESS);
    EXPECT_STREQ(text, c.name);
    SQLINTEGER code = 0;
    GetDiagField(SQL_HANDLE_STMT, stmt_, 0, SQL_DIAG_DYNAMIC_FUNCTION_CODE, &code, 0, nullptr);
    EXPECT_EQ(code, c.code);
  }
  AsStmt(stmt_)->dynamicFunction = 85;
  char small[4];
  EXPECT_EQ(GetDiagField(SQL_HANDLE_STMT, stmt_, 0, SQL_DIAG_DYNAMIC_FUNCTION, small, sizeof small, nullptr),
            SQL_SUCCESS_WITH_INFO);
}

TEST_F(Diagnostics, RecordFields) {
  struct Case {
    uint16_t code;
    const char* classOrigin;
    const char* subclassOrigin;
  } cases[] = {{2103, "ODBC 3.0", "ODBC 3.0"}, {2169, "ISO 9075", "ODBC 3.0"}, {2101, "ISO 9075", "ISO 9075"}};
  for (const Case& c : cases) {
    UseVersion(2);  // origins follow the ODBC 3 state whatever the version
    PostStatementError(AsStmt(stmt_), c.code);
    EXPECT_EQ(TextField(SQL_HANDLE_STMT, stmt_, SQL_DIAG_CLASS_ORIGIN), c.classOrigin) << c.code;
    EXPECT_EQ(TextField(SQL_HANDLE_STMT, stmt_, SQL_DIAG_SUBCLASS_ORIGIN), c.subclassOrigin) << c.code;
  }
  PostStatementError(AsStmt(stmt_), kMemoryError);
  EXPECT_EQ(TextField(SQL_HANDLE_STMT, stmt_, SQL_DIAG_SQLSTATE), "S1001");
  UseVersion(3);
  EXPECT_EQ(TextField(SQL_HANDLE_STMT, stmt_, SQL_DIAG_SQLSTATE), "HY001");
  EXPECT_EQ(TextField(SQL_HANDLE_STMT, stmt_, SQL_DIAG_CONNECTION_NAME), "");
  EXPECT_EQ(TextField(SQL_HANDLE_STMT, stmt_, SQL_DIAG_SERVER_NAME), "");
  std::strcpy(AsConn(conn_)->dataSource, "Sales");
  EXPECT_EQ(TextField(SQL_HANDLE_STMT, stmt_, SQL_DIAG_SERVER_NAME), "Sales");
  std::strcpy(AsConn(conn_)->dataSource, " ");
  EXPECT_EQ(TextField(SQL_HANDLE_STMT, stmt_, SQL_DIAG_SERVER_NAME), "");
  AsConn(conn_)->dataSource[0] = 0;

  SQLLEN row = 0;
  SQLINTEGER column = 0;
  EXPECT_EQ(GetDiagField(SQL_HANDLE_STMT, stmt_, 1, SQL_DIAG_ROW_NUMBER, &row, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(row, -2);
  EXPECT_EQ(GetDiagField(SQL_HANDLE_STMT, stmt_, 1, SQL_DIAG_COLUMN_NUMBER, &column, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(column, -1);
  SQLINTEGER native = 0;
  EXPECT_EQ(GetDiagField(SQL_HANDLE_STMT, stmt_, 2, SQL_DIAG_NATIVE, &native, 0, nullptr), SQL_NO_DATA);
  EXPECT_EQ(GetDiagField(SQL_HANDLE_STMT, stmt_, 0, SQL_DIAG_NATIVE, &native, 0, nullptr), SQL_ERROR);

  // Cut texts: a warning for the message, not for the state.
  char small[4];
  EXPECT_EQ(GetDiagField(SQL_HANDLE_STMT, stmt_, 1, SQL_DIAG_MESSAGE_TEXT, small, sizeof small, nullptr),
            SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(GetDiagField(SQL_HANDLE_STMT, stmt_, 1, SQL_DIAG_SQLSTATE, small, sizeof small, nullptr), SQL_SUCCESS);
  EXPECT_EQ(GetDiagField(SQL_HANDLE_STMT, stmt_, 1, SQL_DIAG_CONNECTION_NAME, small, 0, nullptr),
            SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(AsStmt(stmt_)->code, kMemoryError);

  AsStmt(stmt_)->code = 0;
  EXPECT_EQ(GetDiagField(SQL_HANDLE_STMT, stmt_, 1, SQL_DIAG_SQLSTATE, small, sizeof small, nullptr), SQL_NO_DATA);
}

TEST_F(Diagnostics, EngineCodesUseTheEngineText) {
  for (int version : {2, 3}) {
    UseVersion(version);
    KivSetLastError(KIV_ERR_RECORD_LOCKED, "Record 7 is locked by another user");
    PostStatementError(AsStmt(stmt_), KIV_ERR_RECORD_LOCKED);
    Record r = ReadDiagRec(SQL_HANDLE_STMT, stmt_);
    EXPECT_EQ(r.state, "HY000");
    EXPECT_EQ(r.native, static_cast<SQLINTEGER>(KIV_ERR_RECORD_LOCKED));
    EXPECT_EQ(r.message, "[Kestrane][Morvane SQL][DAX] Record 7 is locked by another user");
  }
  // When the engine's last error is another one, the text of the posted code is used.
  char expected[300] = {};
  uint32_t length = sizeof expected;
  ASSERT_EQ(KivGetErrorString(KIV_ERR_TABLE_LOCKED, expected, &length), 0u);
  KivSetLastError(KIV_ERR_RECORD_LOCKED, "Record 7 is locked by another user");
  char text[kMessageSize];
  BuildDiagnosticText(KIV_ERR_TABLE_LOCKED, text);
  EXPECT_EQ(std::string(text), std::string("HY000 HY000 [Kestrane][Morvane SQL][DAX] ") + expected);
  // A descriptor keeps no engine text.
  PostDescError(AsDesc(desc_), KIV_ERR_TABLE_LOCKED);
  Record d = ReadDiagRec(SQL_HANDLE_DESC, desc_);
  EXPECT_EQ(d.state, "HY000");
  EXPECT_EQ(d.message, "");
}

TEST_F(Diagnostics, EngineTextsAreCutAt511Characters) {
  KivSetLastError(KIV_ERR_IO, std::string(1000, 'e').c_str());
  char text[kMessageSize + 8];
  std::memset(text, 'z', sizeof text);
  BuildDiagnosticText(KIV_ERR_IO, text);
  EXPECT_EQ(std::strlen(text), kMessageSize - 1);
  BuildDiagnosticTextWithDetail(nullptr, AsStmt(stmt_), " Table name: ", "orders");
  EXPECT_LE(std::strlen(AsStmt(stmt_)->engineText), kMessageSize - 1);
}

TEST_F(Diagnostics, PostStatementErrorRecordsTheSessionsLastError) {
  EngineSession session{};
  AsConn(conn_)->session = &session;
  EXPECT_EQ(PostStatementError(AsStmt(stmt_), 0), SQL_SUCCESS);
  EXPECT_EQ(PostStatementError(AsStmt(stmt_), kOptionValueChanged), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(session.lastError, kOptionValueChanged);
  EXPECT_EQ(PostStatementError(AsStmt(stmt_), kInvalidCursorState), SQL_ERROR);
  EXPECT_EQ(session.lastError, kInvalidCursorState);
  AsConn(conn_)->session = nullptr;
}

}  // namespace
}  // namespace kivodbc
