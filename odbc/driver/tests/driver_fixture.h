// A fixture for direct calls of the driver's functions: an ODBC 3
// environment, a private odbc.ini, the engine beside the test, message boxes
// collected instead of shown, and small readers of diagnostics.
#ifndef KIVODBC_DRIVER_FIXTURE_H
#define KIVODBC_DRIVER_FIXTURE_H

#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <string>
#include <vector>

#include "api.h"
#include "api/diagnostics.h"
#include "util/engine.h"
#include "kivwin/win.h"
#include "qel32.h"
#include "qel32_test.h"
#include "handles/records.h"
#include "test_support.h"

namespace kivodbc::testing {

struct Box {
  std::string text, caption;
};

// The first diagnostic record, read through the driver's own SQLGetDiagRec.
inline Diag DiagOf(SQLSMALLINT type, SQLHANDLE handle) {
  SQLCHAR state[6] = {};
  SQLCHAR message[600] = {};
  Diag d;
  if (GetDiagRec(type, handle, 1, state, &d.native, message, sizeof message, nullptr) != SQL_SUCCESS) return d;
  d.state = reinterpret_cast<char*>(state);
  d.message = reinterpret_cast<char*>(message);
  return d;
}

inline const SQLCHAR* Text(const std::string& s) { return reinterpret_cast<const SQLCHAR*>(s.c_str()); }

// The data sources every direct test may use. "@DATA@" is a folder of free
// tables; the dictionary "dict.kdd" is made there by the tests that need it.
inline OdbcConfig& SharedDriverConfig() {
  static auto* config = new OdbcConfig(
      "[Morvane Rivulet ODBC]\nDriver=libKIVODBC.so\n",
      "[KivData]\nDataDirectory=@DATA@\n"
      "[KivOptions]\nDataDirectory=@DATA@\nCharSet=OEM\nDefaultType=FoxPro\nCompression=Internet\n"
      "MaxTableCloseCache=7\nServerTypes=0\nMemoBlockSize=64\nTableExtension=ntx\nRightsChecking=OFF\n"
      "ReadOnly=True\nTrimTrailingSpaces=True\nMorvaneLocking=OFF\nLocking=Record\nUID=kept\nPWD=secret\n"
      "RemoteHost=far\n"
      "[KivMissing]\nDataDirectory=@ROOT@/none\n");
  return *config;
}

class DriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    config_.Activate();
    EngineBinding::Instance().UseLibraryForTesting(KIVODBC_ENGINE_PATH);
    previousSink_ = kivwin::SetMessageBoxSink([this](const std::string& text, const std::string& caption, unsigned) {
      boxes_.push_back({text, caption});
      return kivwin::IDOK;
    });
    ASSERT_EQ(AllocHandle(SQL_HANDLE_ENV, nullptr, &env_), SQL_SUCCESS);
  }
  void TearDown() override {
    KivTestClearFaults();
    if (env_ != nullptr) {
      EXPECT_EQ(FreeEnv(env_), SQL_SUCCESS);
    }
    kivwin::SetMessageBoxSink(previousSink_);
  }
  SQLHDBC NewConnection() {
    SQLHDBC conn = nullptr;
    EXPECT_EQ(AllocHandle(SQL_HANDLE_DBC, env_, &conn), SQL_SUCCESS);
    return conn;
  }
  SQLHSTMT NewStatement(SQLHDBC conn) {
    SQLHSTMT stmt = nullptr;
    EXPECT_EQ(AllocHandle(SQL_HANDLE_STMT, conn, &stmt), SQL_SUCCESS);
    return stmt;
  }
  // A connection made through SQLDriverConnect without prompting.
  SQLHDBC ConnectedBy(const std::string& connectionString) {
    SQLHDBC conn = NewConnection();
    const SQLRETURN rc =
        DriverConnect(conn, nullptr, Text(connectionString), SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
    EXPECT_TRUE(SQL_SUCCEEDED(rc)) << connectionString << ": " << DiagOf(SQL_HANDLE_DBC, conn).message;
    return conn;
  }
  std::string DataDirectory() const { return config_.DataDirectory().string(); }

  OdbcConfig& config_ = SharedDriverConfig();
  SQLHENV env_ = nullptr;
  std::vector<Box> boxes_;
  kivwin::MessageBoxSink previousSink_;
};

}  // namespace kivodbc::testing

#endif
