// Attributes and options of environments, connections and statements,
// descriptor fields, and transactions checked through the engine.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "driver_fixture.h"
#include "connect/session.h"

namespace kivodbc {
namespace {

using testing::DiagOf;
using testing::DriverTest;
using testing::Text;

SQLPOINTER P(intptr_t n) { return reinterpret_cast<SQLPOINTER>(n); }

class Attributes : public DriverTest {};

TEST_F(Attributes, EnvironmentAttributes) {
  struct Case {
    SQLINTEGER attribute;
    intptr_t value;
    SQLRETURN rc;
    std::string state;
  } cases[] = {
      {SQL_ATTR_CONNECTION_POOLING, 0, SQL_SUCCESS, ""},
      {SQL_ATTR_CONNECTION_POOLING, 1, SQL_SUCCESS_WITH_INFO, "01S02"},
      {SQL_ATTR_OUTPUT_NTS, SQL_TRUE, SQL_SUCCESS, ""},
      {SQL_ATTR_OUTPUT_NTS, SQL_FALSE, SQL_ERROR, "HYC00"},
      {12345, 0, SQL_ERROR, "HY092"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SetEnvAttr(env_, c.attribute, P(c.value), 0), c.rc) << c.attribute << "=" << c.value;
    EXPECT_EQ(DiagOf(SQL_HANDLE_ENV, env_).state, c.state) << c.attribute << "=" << c.value;
  }
  SQLINTEGER value = 0, length = 0;
  EXPECT_EQ(GetEnvAttr(env_, SQL_ATTR_OUTPUT_NTS, &value, 0, &length), SQL_SUCCESS);
  EXPECT_EQ(value, SQL_TRUE);
  EXPECT_EQ(length, 4);
}

// Set, then read back, on a connected handle: what is kept and what warns.
TEST_F(Attributes, ConnectionAttributeRoundTrips) {
  SQLHDBC conn = ConnectedBy("DSN=KivData");
  struct Case {
    SQLINTEGER attribute;
    intptr_t value;
    SQLRETURN rc;
    std::string state;
    SQLUINTEGER readBack;
  } cases[] = {
      {SQL_ATTR_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF, SQL_SUCCESS, "", 0},
      {SQL_ATTR_AUTOCOMMIT, SQL_AUTOCOMMIT_ON, SQL_SUCCESS, "", 1},
      {SQL_ATTR_AUTOCOMMIT, 7, SQL_ERROR, "IM001", 1},
      {SQL_ATTR_TXN_ISOLATION, SQL_TXN_READ_COMMITTED, SQL_SUCCESS, "", SQL_TXN_READ_COMMITTED},
      {SQL_ATTR_TXN_ISOLATION, SQL_TXN_SERIALIZABLE, SQL_ERROR, "S0000", SQL_TXN_READ_COMMITTED},
      {SQL_ATTR_ACCESS_MODE, SQL_MODE_READ_WRITE, SQL_SUCCESS, "", 0},
      {SQL_ATTR_ACCESS_MODE, SQL_MODE_READ_ONLY, SQL_SUCCESS_WITH_INFO, "01S02", 0},
      {SQL_ATTR_LOGIN_TIMEOUT, 30, SQL_SUCCESS, "", 0},
      {SQL_ATTR_TRACE, 1, SQL_SUCCESS_WITH_INFO, "01S02", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SetConnectAttr(conn, c.attribute, P(c.value), 0), c.rc) << c.attribute << "=" << c.value;
    EXPECT_EQ(DiagOf(SQL_HANDLE_DBC, conn).state, c.state) << c.attribute << "=" << c.value;
    unsigned char buffer[8];
    std::memset(buffer, 0xAB, sizeof buffer);
    SQLINTEGER length = 0;
    ASSERT_EQ(GetConnectAttr(conn, c.attribute, buffer, sizeof buffer, &length), SQL_SUCCESS) << c.attribute;
    SQLUINTEGER value = 0;
    std::memcpy(&value, buffer, sizeof value);
    EXPECT_EQ(value, c.readBack) << c.attribute;
    EXPECT_EQ(length, 4) << c.attribute;
    EXPECT_EQ(buffer[4], 0xAB) << c.attribute;
  }
  // Unknown attributes, and the ones read at full width.
  EXPECT_EQ(SetConnectAttr(conn, 4711, P(0), 0), SQL_ERROR);
  EXPECT_EQ(DiagOf(SQL_HANDLE_DBC, conn).state, "HY092");
  SQLULEN async = 99;
  SQLINTEGER length = 0;
  EXPECT_EQ(GetConnectAttr(conn, SQL_ATTR_ASYNC_ENABLE, &async, sizeof async, &length), SQL_SUCCESS);
  EXPECT_EQ(async, SQL_ASYNC_ENABLE_OFF);
  EXPECT_EQ(length, static_cast<SQLINTEGER>(sizeof(SQLULEN)));
  EXPECT_EQ(SetConnectAttr(conn, SQL_ATTR_ASYNC_ENABLE, P(SQL_ASYNC_ENABLE_ON), 0), SQL_ERROR);
  EXPECT_EQ(DiagOf(SQL_HANDLE_DBC, conn).state, "HYC00");
}

TEST_F(Attributes, CurrentCatalogIsTheConnectPathReadWithinTheBuffer) {
  SQLHDBC conn = ConnectedBy("DSN=KivData");
  const std::string path = DataDirectory();
  char buffer[8] = {};
  SQLINTEGER length = 0;
  EXPECT_EQ(GetConnectAttr(conn, SQL_ATTR_CURRENT_CATALOG, buffer, sizeof buffer, &length), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(std::string(buffer), path.substr(0, 7));
  EXPECT_EQ(length, static_cast<SQLINTEGER>(path.size()));
  // The same path (in another case) is accepted, another one is not.
  std::string upper = path;
  for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  EXPECT_EQ(SetConnectAttr(conn, SQL_ATTR_CURRENT_CATALOG, const_cast<char*>(upper.c_str()), SQL_NTS), SQL_SUCCESS);
  EXPECT_EQ(SetConnectAttr(conn, SQL_ATTR_CURRENT_CATALOG, const_cast<char*>("/elsewhere"), SQL_NTS), SQL_ERROR);
  EXPECT_EQ(GetConnectAttr(conn, SQL_ATTR_TRACEFILE, buffer, sizeof buffer, &length), SQL_SUCCESS);
  EXPECT_EQ(length, 0);
}

TEST_F(Attributes, StatementOptionsOnTheConnectionReachEveryStatement) {
  SQLHDBC conn = ConnectedBy("DSN=KivData");
  SQLHSTMT first = NewStatement(conn);
  EXPECT_EQ(SetConnectOption(conn, SQL_ROWSET_SIZE, 10), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(DiagOf(SQL_HANDLE_DBC, conn).state, "01S02");
  SQLULEN rowset = 0;
  EXPECT_EQ(GetStmtOption(first, SQL_ROWSET_SIZE, &rowset), SQL_SUCCESS);
  EXPECT_EQ(rowset, 1u);
  EXPECT_EQ(SetConnectOption(conn, SQL_CURSOR_TYPE, SQL_CURSOR_STATIC), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(SetConnectOption(conn, SQL_BIND_TYPE, 48), SQL_SUCCESS);
  SQLHSTMT second = NewStatement(conn);
  for (SQLHSTMT stmt : {first, second}) {
    SQLULEN type = 0, bind = 0;
    EXPECT_EQ(GetStmtAttr(stmt, SQL_ATTR_CURSOR_TYPE, &type, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(type, SQL_CURSOR_DYNAMIC);
    EXPECT_EQ(GetStmtAttr(stmt, SQL_ATTR_ROW_BIND_TYPE, &bind, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(bind, 48u);
  }
  // A statement with a result keeps its cursor type: the call fails on both handles.
  ASSERT_EQ(GetTypeInfo(first, SQL_ALL_TYPES), SQL_SUCCESS);
  EXPECT_EQ(SetConnectOption(conn, SQL_CURSOR_TYPE, SQL_CURSOR_FORWARD_ONLY), SQL_ERROR);
  EXPECT_EQ(DiagOf(SQL_HANDLE_DBC, conn).state, "24000");
  EXPECT_EQ(DiagOf(SQL_HANDLE_STMT, first).state, "24000");
  EXPECT_EQ(AsStmt(second)->cursorType, SQL_CURSOR_DYNAMIC);
  EXPECT_EQ(SetStmtAttr(first, SQL_ATTR_CURSOR_SCROLLABLE, P(SQL_NONSCROLLABLE), 0), SQL_ERROR);
  EXPECT_EQ(DiagOf(SQL_HANDLE_STMT, first).state, "24000");
}

TEST_F(Attributes, StatementAttributeRoundTrips) {
  SQLHDBC conn = ConnectedBy("DSN=KivData");
  SQLHSTMT stmt = NewStatement(conn);
  SQLULEN processed = 0;
  SQLUSMALLINT status[4] = {};
  SQLLEN offset = 0;
  struct Case {
    SQLINTEGER attribute;
    SQLPOINTER value;
    SQLRETURN rc;
    std::string state;
    SQLPOINTER readBack;
  } cases[] = {
      {SQL_ATTR_ROWS_FETCHED_PTR, &processed, SQL_SUCCESS, "", &processed},
      {SQL_ATTR_ROW_STATUS_PTR, status, SQL_SUCCESS, "", status},
      {SQL_ATTR_ROW_BIND_OFFSET_PTR, &offset, SQL_SUCCESS, "", &offset},
      {SQL_ATTR_ROW_BIND_OFFSET_PTR, nullptr, SQL_SUCCESS, "", nullptr},
      {SQL_ATTR_PARAM_BIND_OFFSET_PTR, &offset, SQL_SUCCESS, "", &offset},
      {SQL_ATTR_PARAMS_PROCESSED_PTR, &processed, SQL_SUCCESS, "", &processed},
      {SQL_ATTR_FETCH_BOOKMARK_PTR, &offset, SQL_SUCCESS, "", &offset},
      {SQL_ATTR_ROW_ARRAY_SIZE, P(5), SQL_SUCCESS_WITH_INFO, "01S02", P(1)},
      {SQL_ATTR_PARAMSET_SIZE, P(1), SQL_SUCCESS, "", P(1)},
      {SQL_ATTR_CURSOR_SCROLLABLE, P(SQL_SCROLLABLE), SQL_SUCCESS, "", P(SQL_SCROLLABLE)},
      {SQL_ATTR_CURSOR_SCROLLABLE, P(5), SQL_ERROR, "HY024", P(SQL_SCROLLABLE)},
      {SQL_ATTR_CURSOR_SENSITIVITY, P(SQL_INSENSITIVE), SQL_ERROR, "HYC00", P(SQL_UNSPECIFIED)},
      {SQL_ATTR_CONCURRENCY, P(SQL_CONCUR_ROWVER), SQL_SUCCESS_WITH_INFO, "01S02", P(SQL_CONCUR_LOCK)},
      {SQL_ATTR_MAX_ROWS, P(0), SQL_SUCCESS, "", P(0)},
      {SQL_ATTR_MAX_ROWS, P(10), SQL_SUCCESS_WITH_INFO, "01S02", P(0)},
      {SQL_ATTR_METADATA_ID, P(SQL_TRUE), SQL_SUCCESS, "", P(SQL_TRUE)},
      {SQL_ATTR_NOSCAN, P(SQL_NOSCAN_ON), SQL_ERROR, "HYC00", P(0)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SetStmtAttr(stmt, c.attribute, c.value, 0), c.rc) << c.attribute;
    EXPECT_EQ(DiagOf(SQL_HANDLE_STMT, stmt).state, c.state) << c.attribute;
    SQLPOINTER value = P(-1);
    SQLINTEGER length = 0;
    ASSERT_EQ(GetStmtAttr(stmt, c.attribute, &value, sizeof value, &length), SQL_SUCCESS) << c.attribute;
    EXPECT_EQ(value, c.readBack) << c.attribute;
    EXPECT_EQ(length, static_cast<SQLINTEGER>(sizeof(SQLPOINTER))) << c.attribute;
  }
  EXPECT_EQ(SetStmtAttr(stmt, SQL_ATTR_ROW_NUMBER + 100, nullptr, 0), SQL_ERROR);
  EXPECT_EQ(DiagOf(SQL_HANDLE_STMT, stmt).state, "HY092");
  EXPECT_EQ(GetStmtAttr(stmt, SQL_ATTR_ROW_NUMBER + 100, nullptr, 0, nullptr), SQL_ERROR);
}

TEST_F(Attributes, ApplicationDescriptorSwitching) {
  SQLHDBC conn = ConnectedBy("DSN=KivData");
  SQLHSTMT stmt = NewStatement(conn);
  SQLHSTMT other = NewStatement(conn);
  SQLHDESC explicitDesc = nullptr;
  ASSERT_EQ(AllocHandle(SQL_HANDLE_DESC, conn, &explicitDesc), SQL_SUCCESS);
  EXPECT_EQ(SetStmtAttr(stmt, SQL_ATTR_APP_ROW_DESC, explicitDesc, 0), SQL_SUCCESS);
  EXPECT_EQ(AsStmt(stmt)->ard, explicitDesc);
  EXPECT_EQ(SetStmtAttr(stmt, SQL_ATTR_APP_ROW_DESC, &AsStmt(other)->builtIn[kArd], 0), SQL_ERROR);
  EXPECT_EQ(DiagOf(SQL_HANDLE_STMT, stmt).state, "HY017");
  EXPECT_EQ(SetStmtAttr(stmt, SQL_ATTR_APP_PARAM_DESC, &AsStmt(stmt)->builtIn[kArd], 0), SQL_ERROR);
  EXPECT_EQ(AsStmt(stmt)->ard, explicitDesc);
  EXPECT_EQ(SetStmtAttr(stmt, SQL_ATTR_APP_ROW_DESC, nullptr, 0), SQL_SUCCESS);
  EXPECT_EQ(AsStmt(stmt)->ard, &AsStmt(stmt)->builtIn[kArd]);
}

TEST_F(Attributes, DescriptorFieldsOfAnApplicationDescriptor) {
  SQLHDBC conn = ConnectedBy("DSN=KivData");
  SQLHDESC desc = nullptr;
  ASSERT_EQ(AllocHandle(SQL_HANDLE_DESC, conn, &desc), SQL_SUCCESS);
  char data[16];
  SQLLEN octets = 0, indicator = 0;
  ASSERT_EQ(SetDescRec(desc, 2, SQL_C_CHAR, 0, sizeof data, 5, 1, data, &octets, &indicator), SQL_SUCCESS);
  ASSERT_EQ(SetDescField(desc, 3, SQL_DESC_CONCISE_TYPE, P(SQL_DATE), 0), SQL_SUCCESS);
  SQLPOINTER pointer = nullptr;
  EXPECT_EQ(GetDescField(desc, 2, SQL_DESC_DATA_PTR, &pointer, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(pointer, data);
  EXPECT_EQ(GetDescField(desc, 2, SQL_DESC_OCTET_LENGTH_PTR, &pointer, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(pointer, &octets);
  SQLSMALLINT type = 0, subtype = 0, precision = 0, scale = 0, count = 0;
  SQLLEN length = 0;
  EXPECT_EQ(GetDescRec(desc, 2, nullptr, 0, nullptr, &type, &subtype, &length, &precision, &scale, nullptr),
            SQL_SUCCESS);
  EXPECT_EQ(type, SQL_C_CHAR);
  EXPECT_EQ(length, static_cast<SQLLEN>(sizeof data));
  EXPECT_EQ(precision, 5);
  EXPECT_EQ(scale, 1);
  // The old date code is kept as the ODBC 3 one, a datetime with its subcode.
  EXPECT_EQ(GetDescRec(desc, 3, nullptr, 0, nullptr, &type, &subtype, nullptr, nullptr, nullptr, nullptr),
            SQL_SUCCESS);
  EXPECT_EQ(type, SQL_DATETIME);
  EXPECT_EQ(subtype, SQL_CODE_DATE);
  EXPECT_EQ(GetDescField(desc, 0, SQL_DESC_COUNT, &count, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(GetDescField(desc, 7, SQL_DESC_TYPE, &type, 0, nullptr), SQL_NO_DATA);
  EXPECT_EQ(SetDescField(desc, 0, SQL_DESC_COUNT, P(2), 0), SQL_SUCCESS);
  EXPECT_EQ(GetDescField(desc, 3, SQL_DESC_TYPE, &type, 0, nullptr), SQL_NO_DATA);
  EXPECT_EQ(SetDescField(desc, 0, SQL_DESC_ARRAY_SIZE, P(4), 0), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(SetDescField(desc, 0, 4711, P(0), 0), SQL_ERROR);
  EXPECT_EQ(DiagOf(SQL_HANDLE_DESC, desc).state, "HY091");
}

TEST_F(Attributes, ImplementationDescriptorsRefuseWhatTheyCannotTake) {
  SQLHDBC conn = ConnectedBy("DSN=KivData");
  SQLHSTMT stmt = NewStatement(conn);
  SQLHDESC ird = &AsStmt(stmt)->builtIn[kIrd];
  SQLHDESC ipd = &AsStmt(stmt)->builtIn[kIpd];
  SQLHDESC ard = AsStmt(stmt)->ard;
  SQLUSMALLINT status[2] = {};
  EXPECT_EQ(SetDescField(ird, 0, SQL_DESC_ARRAY_STATUS_PTR, status, 0), SQL_SUCCESS);
  for (SQLSMALLINT field : {SQL_DESC_TYPE, SQL_DESC_CONCISE_TYPE, SQL_DESC_DATA_PTR, SQL_DESC_PRECISION}) {
    EXPECT_EQ(SetDescField(ird, 1, field, P(SQL_C_CHAR), 0), SQL_ERROR) << field;
    EXPECT_EQ(DiagOf(SQL_HANDLE_DESC, ird).state, "HY016") << field;
  }
  EXPECT_EQ(CopyDesc(ard, ird), SQL_ERROR);
  EXPECT_EQ(DiagOf(SQL_HANDLE_DESC, ird).state, "HY016");
  EXPECT_EQ(CopyDesc(ard, ipd), SQL_SUCCESS);  // the parameter descriptor follows the bindings
  EXPECT_EQ(AsDesc(ipd)->firstItem, nullptr);
  EXPECT_EQ(CopyDesc(ird, ard), SQL_ERROR);  // nothing to describe yet
  EXPECT_EQ(DiagOf(SQL_HANDLE_DESC, ard).state, "HY007");
}

TEST_F(Attributes, CopyDescriptorKeepsOwnOffsetPointers) {
  SQLHDBC conn = ConnectedBy("DSN=KivData");
  SQLHDESC source = nullptr, target = nullptr;
  ASSERT_EQ(AllocHandle(SQL_HANDLE_DESC, conn, &source), SQL_SUCCESS);
  ASSERT_EQ(AllocHandle(SQL_HANDLE_DESC, conn, &target), SQL_SUCCESS);
  long value = 0;
  ASSERT_EQ(SetDescRec(source, 1, SQL_C_LONG, 0, 4, 0, 0, &value, nullptr, nullptr), SQL_SUCCESS);
  ASSERT_EQ(SetDescRec(target, 5, SQL_C_CHAR, 0, 4, 0, 0, nullptr, nullptr, nullptr), SQL_SUCCESS);
  ASSERT_EQ(CopyDesc(source, target), SQL_SUCCESS);
  SQLSMALLINT count = 0, type = 0;
  EXPECT_EQ(GetDescField(target, 0, SQL_DESC_COUNT, &count, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(GetDescField(target, 1, SQL_DESC_CONCISE_TYPE, &type, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(type, SQL_C_LONG);
  EXPECT_EQ(AsDesc(target)->bindOffsetPtr, &AsDesc(target)->zeroOffset);
  SQLLEN offset = 0;
  ASSERT_EQ(SetDescField(source, 0, SQL_DESC_BIND_OFFSET_PTR, &offset, 0), SQL_SUCCESS);
  ASSERT_EQ(CopyDesc(source, target), SQL_SUCCESS);
  EXPECT_EQ(AsDesc(target)->bindOffsetPtr, &offset);
  EXPECT_EQ(CopyDesc(source, source), SQL_SUCCESS);
  EXPECT_EQ(GetDescField(source, 1, SQL_DESC_CONCISE_TYPE, &type, 0, nullptr), SQL_SUCCESS);
}

// ---- Transactions, checked through the engine

class Transactions : public DriverTest {
 protected:
  void SetUp() override {
    DriverTest::SetUp();
    conn_ = ConnectedBy("DSN=KivData");
    engine_ = AsConn(conn_)->session->engineConnection;
    Run("CREATE TABLE ledger (amount INTEGER)");
  }
  void TearDown() override {
    KivRollbackTransaction(engine_);
    Run("DROP TABLE ledger");
    DriverTest::TearDown();
  }
  void Run(const std::string& sql) {
    KIVHANDLE statement = 0, cursor = 0;
    ASSERT_EQ(KivCreateSQLStatement(engine_, &statement), 0u);
    ASSERT_EQ(KivExecuteSQLDirect(statement, sql.c_str(), &cursor), 0u) << sql;
    KivCloseSQLStatement(statement);
  }
  uint32_t Rows() {
    KIVHANDLE statement = 0, cursor = 0;
    uint32_t count = 0;
    EXPECT_EQ(KivCreateSQLStatement(engine_, &statement), 0u);
    EXPECT_EQ(KivExecuteSQLDirect(statement, "SELECT * FROM ledger", &cursor), 0u);
    EXPECT_EQ(KivGetRecordCount(cursor, KIV_COUNT_IGNORE_FILTERS, &count), 0u);
    KivCloseSQLStatement(statement);
    return count;
  }
  // Work that the driver's statements would do with autocommit off.
  void OpenWork() {
    ASSERT_EQ(KivBeginTransaction(engine_), 0u);
    Run("INSERT INTO ledger VALUES (1)");
  }
  SQLHDBC conn_ = nullptr;
  KIVHANDLE engine_ = 0;
};

TEST_F(Transactions, CommitKeepsAndRollbackUndoes) {
  ASSERT_EQ(SetConnectAttr(conn_, SQL_ATTR_AUTOCOMMIT, P(SQL_AUTOCOMMIT_OFF), 0), SQL_SUCCESS);
  OpenWork();
  EXPECT_EQ(EndTran(SQL_HANDLE_DBC, conn_, SQL_ROLLBACK), SQL_SUCCESS);
  EXPECT_EQ(Rows(), 0u);
  OpenWork();
  EXPECT_EQ(EndTran(SQL_HANDLE_ENV, env_, SQL_COMMIT), SQL_SUCCESS);
  EXPECT_EQ(Rows(), 1u);
  // Nothing open: both are no-ops.
  EXPECT_EQ(Transact(nullptr, conn_, SQL_ROLLBACK), SQL_SUCCESS);
  EXPECT_EQ(Rows(), 1u);
}

TEST_F(Transactions, AutocommitOnCommitsOpenWork) {
  ASSERT_EQ(SetConnectAttr(conn_, SQL_ATTR_AUTOCOMMIT, P(SQL_AUTOCOMMIT_OFF), 0), SQL_SUCCESS);
  OpenWork();
  ASSERT_EQ(SetConnectAttr(conn_, SQL_ATTR_AUTOCOMMIT, P(SQL_AUTOCOMMIT_ON), 0), SQL_SUCCESS);
  uint16_t open = 1;
  ASSERT_EQ(KivInTransaction(engine_, &open), 0u);
  EXPECT_EQ(open, 0);
  KivRollbackTransaction(engine_);
  EXPECT_EQ(Rows(), 1u);
}

TEST_F(Transactions, InvalidCompletionAndHandleTypesFail) {
  OpenWork();
  EXPECT_EQ(EndTran(SQL_HANDLE_DBC, conn_, 5), SQL_ERROR);
  EXPECT_EQ(DiagOf(SQL_HANDLE_DBC, conn_).state, "HY092");
  EXPECT_EQ(Transact(env_, nullptr, 5), SQL_ERROR);
  SQLHSTMT stmt = NewStatement(conn_);
  EXPECT_EQ(EndTran(SQL_HANDLE_STMT, stmt, SQL_COMMIT), SQL_ERROR);
  EXPECT_EQ(DiagOf(SQL_HANDLE_STMT, stmt).state, "HY092");
  EXPECT_EQ(EndTran(9, conn_, SQL_COMMIT), SQL_ERROR);
  EXPECT_EQ(Transact(nullptr, nullptr, SQL_COMMIT), SQL_INVALID_HANDLE);
  // The work is still open and undone by a rollback.
  EXPECT_EQ(Transact(nullptr, conn_, SQL_ROLLBACK), SQL_SUCCESS);
  EXPECT_EQ(Rows(), 0u);
}

TEST_F(Transactions, DisconnectRefusesOpenWorkAndEngineFailuresReadBack) {
  OpenWork();
  EXPECT_EQ(Disconnect(conn_), SQL_ERROR);
  EXPECT_EQ(DiagOf(SQL_HANDLE_DBC, conn_).state, "25000");
  EXPECT_NE(AsConn(conn_)->session, nullptr);
  KivTestFailCall("KivCommitTransaction", KIV_ERR_IO, "disk full", 1);
  EXPECT_EQ(EndTran(SQL_HANDLE_ENV, env_, SQL_COMMIT), SQL_ERROR);
  SQLINTEGER native = 0;
  SQLCHAR message[200] = {};
  EXPECT_EQ(GetDiagRec(SQL_HANDLE_ENV, env_, 1, nullptr, &native, message, sizeof message, nullptr), SQL_SUCCESS);
  EXPECT_EQ(native, static_cast<SQLINTEGER>(KIV_ERR_IO));
  EXPECT_STREQ(reinterpret_cast<char*>(message), "[Kestrane][Morvane SQL][DAX] disk full");
  EXPECT_EQ(EndTran(SQL_HANDLE_DBC, conn_, SQL_ROLLBACK), SQL_SUCCESS);
  EXPECT_EQ(Disconnect(conn_), SQL_SUCCESS);
  AsConn(conn_)->session = nullptr;
  conn_ = ConnectedBy("DSN=KivData");
  engine_ = AsConn(conn_)->session->engineConnection;
}

TEST_F(Transactions, AutocommitSetBeforeTheConnectIsKept) {
  SQLHDBC conn = NewConnection();
  ASSERT_EQ(SetConnectAttr(conn, SQL_ATTR_AUTOCOMMIT, P(SQL_AUTOCOMMIT_OFF), 0), SQL_SUCCESS);
  ASSERT_EQ(DriverConnect(conn, nullptr, Text("DSN=KivData"), SQL_NTS, nullptr, 0, nullptr, 0), SQL_SUCCESS);
  SQLUINTEGER autocommit = 1;
  EXPECT_EQ(GetConnectAttr(conn, SQL_ATTR_AUTOCOMMIT, &autocommit, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(autocommit, SQL_AUTOCOMMIT_OFF);
  EXPECT_EQ(AsConn(conn)->session->autocommit, 0);
}

TEST_F(Transactions, CloseCursorNeedsAResult) {
  SQLHSTMT stmt = NewStatement(conn_);
  EXPECT_EQ(CloseCursor(stmt), SQL_ERROR);
  EXPECT_EQ(DiagOf(SQL_HANDLE_STMT, stmt).state, "24000");
  ASSERT_EQ(GetTypeInfo(stmt, SQL_ALL_TYPES), SQL_SUCCESS);
  EXPECT_EQ(CloseCursor(stmt), SQL_SUCCESS);
  EXPECT_EQ(AsStmt(stmt)->kind, kKindNone);
}

}  // namespace
}  // namespace kivodbc
