// An ODBC 3 environment and connection through the driver manager, freed when they go.
#ifndef KIV_ODBC_TESTING_TESTS_ODBC_SESSION_H
#define KIV_ODBC_TESTING_TESTS_ODBC_SESSION_H

#include <sql.h>
#include <sqlext.h>

#include <string>

#include "kiv_odbc_testing/admin_connection.h"

namespace kivodbc::testing {

class OdbcSession {
 public:
  OdbcSession() {
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_);
    SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_);
  }
  ~OdbcSession() {
    if (connected_) SQLDisconnect(dbc_);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    SQLFreeHandle(SQL_HANDLE_ENV, env_);
  }
  OdbcSession(const OdbcSession&) = delete;
  OdbcSession& operator=(const OdbcSession&) = delete;

  SQLRETURN Connect(const std::string& dsn) {
    const SQLRETURN rc = SQLConnect(dbc_, Text(dsn), SQL_NTS, nullptr, 0, nullptr, 0);
    connected_ = SQL_SUCCEEDED(rc);
    return rc;
  }
  SQLRETURN DriverConnect(const std::string& text, SQLHWND window, SQLUSMALLINT completion) {
    SQLCHAR out[1024] = {};
    SQLSMALLINT length = 0;
    const SQLRETURN rc = SQLDriverConnect(dbc_, window, Text(text), SQL_NTS, out, sizeof out, &length, completion);
    connected_ = SQL_SUCCEEDED(rc);
    completed_ = reinterpret_cast<char*>(out);
    return rc;
  }
  std::string Info(SQLUSMALLINT type) {
    SQLCHAR value[256] = {};
    SQLSMALLINT length = 0;
    SQLGetInfo(dbc_, type, value, sizeof value, &length);
    return reinterpret_cast<char*>(value);
  }
  std::string Why() const { return DiagnosticText(SQL_HANDLE_DBC, dbc_); }
  SQLHDBC dbc() const { return dbc_; }
  const std::string& Completed() const { return completed_; }

 private:
  static SQLCHAR* Text(const std::string& s) { return reinterpret_cast<SQLCHAR*>(const_cast<char*>(s.c_str())); }

  SQLHENV env_ = SQL_NULL_HENV;
  SQLHDBC dbc_ = SQL_NULL_HDBC;
  bool connected_ = false;
  std::string completed_;
};

}  // namespace kivodbc::testing

#endif
