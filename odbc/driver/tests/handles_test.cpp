#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "api.h"
#include "api/diagnostics.h"
#include "util/engine.h"
#include "handles/messages.h"
#include "qel32_test.h"
#include "handles/records.h"
#include "driver_fixture.h"
#include "test_support.h"

namespace kivodbc {
namespace {

std::string StateOf(SQLSMALLINT type, SQLHANDLE handle) {
  SQLCHAR state[6] = {};
  SQLINTEGER native = 0;
  GetDiagRec(type, handle, 1, state, &native, nullptr, 0, nullptr);
  return reinterpret_cast<char*>(state);
}

std::string MessageOf(SQLSMALLINT type, SQLHANDLE handle) {
  SQLCHAR message[600] = {};
  SQLSMALLINT length = 0;
  GetDiagRec(type, handle, 1, nullptr, nullptr, message, sizeof message, &length);
  return reinterpret_cast<char*>(message);
}

// An environment allocated as an ODBC 3 application does, freed at the end.
class Handles : public testing::DriverTest {
 protected:
  static int CountDescriptors(SQLHDBC conn) {
    int n = 0;
    for (DescRecord* d = AsConn(conn)->firstDesc; d != nullptr; d = d->next) ++n;
    return n;
  }
};

TEST_F(Handles, EnvironmentVersionDependsOnTheAllocatingCall) {
  EXPECT_EQ(AsEnv(env_)->version, SQL_OV_ODBC3);
  SQLHENV old = nullptr;
  ASSERT_EQ(AllocEnv(&old), SQL_SUCCESS);
  EXPECT_EQ(AsEnv(old)->version, SQL_OV_ODBC2);
  EXPECT_EQ(AsEnv(old)->hostFlag, 0);
  EXPECT_EQ(FreeEnv(old), SQL_SUCCESS);
}

TEST_F(Handles, ConnectionAndStatementDefaults) {
  SQLHDBC conn = NewConnection();
  ConnRecord* c = AsConn(conn);
  EXPECT_EQ(c->isolation, -1);
  EXPECT_EQ(c->concurrency, 1);
  EXPECT_EQ(c->cursorType, 0);
  EXPECT_EQ(c->retrieveData, 1);
  EXPECT_EQ(c->useBookmarks, 0);
  EXPECT_STREQ(c->dataSource, "");
  EXPECT_EQ(AsEnv(env_)->firstConn, c);

  SQLHSTMT stmt = NewStatement(conn);
  StmtRecord* s = AsStmt(stmt);
  EXPECT_STREQ(s->cursorName, "");
  EXPECT_EQ(s->kind, 0);
  EXPECT_EQ(s->catalogRow, -2);
  EXPECT_EQ(s->position, -1);
  EXPECT_EQ(s->cursorRowCount, -1);
  EXPECT_EQ(s->fetchState, -1);
  EXPECT_EQ(s->enableAutoIpd, 1);
  EXPECT_EQ(s->ard, &s->builtIn[kArd]);
  EXPECT_EQ(s->apd, &s->builtIn[kApd]);
  EXPECT_EQ(s->builtIn[kIrd].stmt, s);
  EXPECT_EQ(s->builtIn[kIpd].stmt, s);
  EXPECT_EQ(s->builtIn[kArd].stmt, nullptr);
  for (DescRecord& d : s->builtIn) {
    EXPECT_EQ(d.allocKind, kDescBuiltIn);
    EXPECT_EQ(d.bindOffsetPtr, &d.zeroOffset);
  }
  EXPECT_EQ(CountDescriptors(conn), 4);
}

TEST_F(Handles, StatementAllocationReportsItsDescriptorsAtFullWidth) {
  SQLHSTMT stmt = NewStatement(NewConnection());
  const SQLINTEGER attributes[] = {SQL_ATTR_APP_ROW_DESC, SQL_ATTR_APP_PARAM_DESC, SQL_ATTR_IMP_ROW_DESC,
                                   SQL_ATTR_IMP_PARAM_DESC};
  const int slots[] = {kArd, kApd, kIrd, kIpd};
  for (int i = 0; i < 4; ++i) {
    SQLHDESC desc;
    std::memset(&desc, 0xAB, sizeof desc);
    SQLINTEGER length = 0;
    ASSERT_EQ(GetStmtAttr(stmt, attributes[i], &desc, sizeof desc, &length), SQL_SUCCESS);
    EXPECT_EQ(desc, &AsStmt(stmt)->builtIn[slots[i]]);
    EXPECT_EQ(length, static_cast<SQLINTEGER>(sizeof(SQLHDESC)));
  }
}

TEST_F(Handles, UnknownHandleTypeFailsAndAllocatesNothing) {
  SQLHANDLE out = reinterpret_cast<SQLHANDLE>(0x1234);
  EXPECT_EQ(AllocHandle(9, env_, &out), SQL_ERROR);
  EXPECT_EQ(out, reinterpret_cast<SQLHANDLE>(0x1234));
  EXPECT_EQ(StateOf(SQL_HANDLE_ENV, env_), "HY092");
  EXPECT_EQ(AllocHandle(9, nullptr, &out), SQL_ERROR);
}

TEST_F(Handles, BuiltInDescriptorCannotBeFreed) {
  SQLHSTMT stmt = NewStatement(NewConnection());
  SQLHDESC ard = AsStmt(stmt)->ard;
  EXPECT_EQ(FreeHandle(SQL_HANDLE_DESC, ard), SQL_ERROR);
  EXPECT_EQ(StateOf(SQL_HANDLE_DESC, ard), "HY017");
  EXPECT_EQ(AsStmt(stmt)->ard, ard);
  EXPECT_EQ(FreeHandle(SQL_HANDLE_STMT, stmt), SQL_SUCCESS);
}

TEST_F(Handles, FreeingAnExplicitDescriptorPointsStatementsBack) {
  SQLHDBC conn = NewConnection();
  SQLHSTMT first = NewStatement(conn);
  SQLHSTMT second = NewStatement(conn);
  SQLHDESC desc = nullptr;
  ASSERT_EQ(AllocHandle(SQL_HANDLE_DESC, conn, &desc), SQL_SUCCESS);
  EXPECT_EQ(AsDesc(desc)->allocKind, kDescExplicit);
  EXPECT_EQ(CountDescriptors(conn), 9);
  AsStmt(first)->ard = AsDesc(desc);
  AsStmt(second)->apd = AsDesc(desc);
  ASSERT_NE(FindDescItem(AsDesc(desc), 1, CreateItem{}), nullptr);
  EXPECT_EQ(FreeHandle(SQL_HANDLE_DESC, desc), SQL_SUCCESS);
  EXPECT_EQ(AsStmt(first)->ard, &AsStmt(first)->builtIn[kArd]);
  EXPECT_EQ(AsStmt(second)->apd, &AsStmt(second)->builtIn[kApd]);
  EXPECT_EQ(CountDescriptors(conn), 8);
}

TEST_F(Handles, DroppingAStatementUnlinksItsDescriptors) {
  SQLHDBC conn = NewConnection();
  SQLHSTMT first = NewStatement(conn);
  SQLHSTMT second = NewStatement(conn);
  ASSERT_NE(FindDescItem(AsStmt(first)->ard, 2, CreateItem{}), nullptr);
  EXPECT_EQ(FreeStmt(first, SQL_DROP), SQL_SUCCESS);
  EXPECT_EQ(CountDescriptors(conn), 4);
  for (DescRecord* d = AsConn(conn)->firstDesc; d != nullptr; d = d->next) {
    EXPECT_GE(reinterpret_cast<char*>(d), reinterpret_cast<char*>(AsStmt(second)));
    EXPECT_LT(reinterpret_cast<char*>(d), reinterpret_cast<char*>(AsStmt(second)) + sizeof(StmtRecord));
  }
  EXPECT_EQ(AsConn(conn)->firstStmt, AsStmt(second));
}

TEST_F(Handles, FreeStmtOptions) {
  SQLHSTMT stmt = NewStatement(NewConnection());
  ASSERT_NE(FindDescItem(AsStmt(stmt)->ard, 1, CreateItem{}), nullptr);
  ASSERT_NE(FindDescItem(AsStmt(stmt)->apd, 1, CreateItem{}), nullptr);
  AsStmt(stmt)->kind = 5;
  EXPECT_EQ(FreeStmt(stmt, SQL_CLOSE), SQL_SUCCESS);
  EXPECT_EQ(AsStmt(stmt)->kind, 0);
  EXPECT_EQ(FreeStmt(stmt, SQL_UNBIND), SQL_SUCCESS);
  EXPECT_EQ(AsStmt(stmt)->ard->firstItem, nullptr);
  EXPECT_NE(AsStmt(stmt)->apd->firstItem, nullptr);
  EXPECT_EQ(FreeStmt(stmt, SQL_RESET_PARAMS), SQL_SUCCESS);
  EXPECT_EQ(AsStmt(stmt)->apd->firstItem, nullptr);
  EXPECT_EQ(FreeStmt(stmt, 42), SQL_ERROR);
  EXPECT_EQ(StateOf(SQL_HANDLE_STMT, stmt), "HY092");
}

TEST_F(Handles, DescriptorItemsByNumber) {
  SQLHSTMT stmt = NewStatement(NewConnection());
  DescRecord* desc = AsStmt(stmt)->ard;
  DescItem* one = FindDescItem(desc, 1, CreateItem{});
  DescItem* three = FindDescItem(desc, 3, CreateItem{});
  ASSERT_NE(one, nullptr);
  ASSERT_NE(three, nullptr);
  EXPECT_EQ(desc->firstItem, three);  // new items go to the head
  EXPECT_EQ(three->cType, kDescItemDefaultCType);
  EXPECT_EQ(three->attribute, 24);
  EXPECT_EQ(three->lastValue, -1);
  EXPECT_EQ(FindDescItem(desc, 1, CreateItem{}), one);
  EXPECT_EQ(FindDescItem(desc, 1), one);

  const DescItem* gap = FindDescItem(desc, 2);
  ASSERT_NE(gap, nullptr);
  EXPECT_EQ(gap->cType, kDescItemDefaultCType);
  EXPECT_EQ(gap->dataPtr, nullptr);
  EXPECT_EQ(FindDescItem(desc, 2), gap);  // one shared empty item
  EXPECT_EQ(desc->code, 0);

  EXPECT_EQ(FindDescItem(desc, 4), nullptr);
  EXPECT_EQ(StateOf(SQL_HANDLE_DESC, desc), "07009");
}

TEST_F(Handles, FreeEnvironmentReleasesEveryChild) {
  for (int i = 0; i < 3; ++i) {
    SQLHDBC conn = NewConnection();
    NewStatement(conn);
    NewStatement(conn);
    SQLHDESC desc = nullptr;
    ASSERT_EQ(AllocDesc(conn, &desc), SQL_SUCCESS);
    ASSERT_NE(FindDescItem(AsDesc(desc), 1, CreateItem{}), nullptr);
  }
  EXPECT_EQ(FreeEnv(env_), SQL_SUCCESS);
  env_ = nullptr;  // leak checkers see whether everything went
}

TEST_F(Handles, OdbcVersionAttribute) {
  struct Case {
    intptr_t value;
    SQLRETURN rc;
    int version;
  } cases[] = {{SQL_OV_ODBC2, SQL_SUCCESS, 2}, {SQL_OV_ODBC3_80, SQL_SUCCESS, 3}, {SQL_OV_ODBC3, SQL_SUCCESS, 3},
               {7, SQL_SUCCESS_WITH_INFO, 3}};
  for (const Case& c : cases) {
    EXPECT_EQ(SetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(c.value), 0), c.rc) << c.value;
    SQLINTEGER version = 0;
    EXPECT_EQ(GetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, &version, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(version, c.version) << c.value;
  }
  // An unknown version leaves the version as it was, with a warning.
  EXPECT_EQ(SetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(7), 0), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(StateOf(SQL_HANDLE_ENV, env_), "01S02");
  // Once a connection exists the version is fixed.
  NewConnection();
  EXPECT_EQ(SetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC2), 0), SQL_ERROR);
  EXPECT_EQ(StateOf(SQL_HANDLE_ENV, env_), "HY010");
}

TEST_F(Handles, ConnectOpensTheDataDirectoryAndRefusesASecondConnect) {
  SQLHDBC conn = NewConnection();
  ASSERT_EQ(Connect(conn, reinterpret_cast<const SQLCHAR*>("KivData"), SQL_NTS, nullptr, 0, nullptr, 0), SQL_SUCCESS)
      << MessageOf(SQL_HANDLE_DBC, conn);
  ConnRecord* c = AsConn(conn);
  EXPECT_STREQ(c->dataSource, "KivData");
  ASSERT_NE(c->session, nullptr);
  EXPECT_EQ(std::string(c->session->connectPath), config_.DataDirectory().string());
  EXPECT_STREQ(c->session->userName, "Anonymous");
  EXPECT_EQ(c->autocommit, 1);
  EXPECT_EQ(Connect(conn, reinterpret_cast<const SQLCHAR*>("KivData"), SQL_NTS, nullptr, 0, nullptr, 0), SQL_ERROR);
  EXPECT_EQ(StateOf(SQL_HANDLE_DBC, conn), "08002");
  EXPECT_EQ(Disconnect(conn), SQL_SUCCESS);
  EXPECT_STREQ(c->dataSource, "");
  EXPECT_EQ(c->session, nullptr);
}

TEST_F(Handles, ConnectFailureCarriesTheEngineText) {
  SQLHDBC conn = NewConnection();
  EXPECT_EQ(Connect(conn, reinterpret_cast<const SQLCHAR*>("KivMissing"), SQL_NTS, nullptr, 0, nullptr, 0),
            SQL_ERROR);
  SQLINTEGER native = 0;
  SQLCHAR state[6] = {};
  SQLCHAR message[600] = {};
  ASSERT_EQ(GetDiagRec(SQL_HANDLE_DBC, conn, 1, state, &native, message, sizeof message, nullptr), SQL_SUCCESS);
  EXPECT_STREQ(reinterpret_cast<char*>(state), "HY000");
  EXPECT_EQ(native, static_cast<SQLINTEGER>(KIV_ERR_FILE_NOT_FOUND));
  const std::string text = reinterpret_cast<char*>(message);
  EXPECT_EQ(text.rfind("[Kestrane][Morvane SQL][DAX] ", 0), 0u) << text;
  EXPECT_NE(text.find("not found"), std::string::npos) << text;
  EXPECT_EQ(AsConn(conn)->session, nullptr);
}

TEST_F(Handles, FreeCascadeReleasesTheRestAndReportsTheFirstFailure) {
  std::vector<SQLHDBC> conns;
  for (int i = 0; i < 3; ++i) {
    SQLHDBC conn = NewConnection();
    ASSERT_EQ(Connect(conn, reinterpret_cast<const SQLCHAR*>("KivData"), SQL_NTS, nullptr, 0, nullptr, 0),
              SQL_SUCCESS)
        << MessageOf(SQL_HANDLE_DBC, conn);
    NewStatement(conn);
    conns.push_back(conn);
  }
  KivTestFailCall("KivDisconnect", KIV_ERR_CONNECTION_GONE, "the server went away", 1);
  EXPECT_EQ(FreeEnv(env_), SQL_ERROR);
  // The failing connection stays to be read; the others are gone.
  EnvRecord* env = AsEnv(env_);
  ASSERT_NE(env->firstConn, nullptr);
  EXPECT_EQ(env->firstConn->next, nullptr);
  EXPECT_EQ(env->firstConn->firstStmt, nullptr);
  EXPECT_EQ(env->firstConn->session, nullptr);
  EXPECT_EQ(env->code, KIV_ERR_CONNECTION_GONE);
  SQLINTEGER native = 0;
  SQLCHAR message[600] = {};
  EXPECT_EQ(Error(env_, nullptr, nullptr, nullptr, &native, message, sizeof message, nullptr), SQL_SUCCESS);
  EXPECT_EQ(native, static_cast<SQLINTEGER>(KIV_ERR_CONNECTION_GONE));
  EXPECT_STREQ(reinterpret_cast<char*>(message), "[Kestrane][Morvane SQL][DAX] the server went away");
  // A second free succeeds.
  EXPECT_EQ(FreeEnv(env_), SQL_SUCCESS);
  env_ = nullptr;
}

TEST_F(Handles, DisconnectFailureIsReportedOnTheConnection) {
  SQLHDBC conn = NewConnection();
  ASSERT_EQ(Connect(conn, reinterpret_cast<const SQLCHAR*>("KivData"), SQL_NTS, nullptr, 0, nullptr, 0), SQL_SUCCESS);
  KivTestFailCall("KivDisconnect", KIV_ERR_CONNECTION_GONE, "gone", 1);
  EXPECT_EQ(FreeConnect(conn), SQL_ERROR);
  EXPECT_EQ(StateOf(SQL_HANDLE_DBC, conn), "HY000");
  EXPECT_EQ(FreeConnect(conn), SQL_SUCCESS);
}

TEST_F(Handles, WrongHandlesAreRejected) {
  SQLHDBC conn = NewConnection();
  SQLHSTMT stmt = nullptr;
  EXPECT_EQ(AllocStmt(env_, &stmt), SQL_INVALID_HANDLE);
  EXPECT_EQ(FreeStmt(conn, SQL_DROP), SQL_INVALID_HANDLE);
  EXPECT_EQ(FreeHandle(SQL_HANDLE_ENV, conn), SQL_INVALID_HANDLE);
  EXPECT_EQ(FreeHandle(SQL_HANDLE_DBC, nullptr), SQL_INVALID_HANDLE);
  EXPECT_EQ(FreeHandle(17, conn), SQL_ERROR);
}

TEST_F(Handles, FreedHandlesAreRefusedWithoutBeingRead) {
  SQLHDBC conn = NewConnection();
  SQLHSTMT stmt = NewStatement(conn);
  SQLHDESC desc = nullptr;
  ASSERT_EQ(AllocHandle(SQL_HANDLE_DESC, conn, &desc), SQL_SUCCESS);
  SQLHDESC ird = &AsStmt(stmt)->builtIn[kIrd];
  ASSERT_EQ(FreeHandle(SQL_HANDLE_STMT, stmt), SQL_SUCCESS);
  ASSERT_EQ(FreeHandle(SQL_HANDLE_DESC, desc), SQL_SUCCESS);
  // Under the address sanitizer a read through a freed handle would stop the test.
  EXPECT_EQ(FreeStmt(stmt, SQL_CLOSE), SQL_INVALID_HANDLE);
  EXPECT_EQ(FreeHandle(SQL_HANDLE_STMT, stmt), SQL_INVALID_HANDLE);
  EXPECT_EQ(GetStmtAttr(stmt, SQL_ATTR_ROW_NUMBER, nullptr, 0, nullptr), SQL_INVALID_HANDLE);
  EXPECT_EQ(GetDescField(ird, 0, SQL_DESC_COUNT, nullptr, 0, nullptr), SQL_INVALID_HANDLE);
  EXPECT_EQ(FreeHandle(SQL_HANDLE_DESC, desc), SQL_INVALID_HANDLE);
  SQLCHAR state[6] = {};
  EXPECT_EQ(GetDiagRec(SQL_HANDLE_STMT, stmt, 1, state, nullptr, nullptr, 0, nullptr), SQL_INVALID_HANDLE);
  // The handle just used, freed and used again at once, is refused too.
  SQLHSTMT again = NewStatement(conn);
  ASSERT_EQ(FreeStmt(again, SQL_CLOSE), SQL_SUCCESS);
  ASSERT_EQ(FreeHandle(SQL_HANDLE_STMT, again), SQL_SUCCESS);
  EXPECT_EQ(FreeStmt(again, SQL_CLOSE), SQL_INVALID_HANDLE);
  // A handle that never was one is refused the same way.
  int64_t stranger[64] = {kStmtHandle};
  EXPECT_EQ(FreeStmt(stranger, SQL_CLOSE), SQL_INVALID_HANDLE);
}

}  // namespace
}  // namespace kivodbc
