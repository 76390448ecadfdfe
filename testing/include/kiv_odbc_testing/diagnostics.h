// Readers of ODBC diagnostics through the driver manager.
#ifndef KIV_ODBC_TESTING_DIAGNOSTICS_H
#define KIV_ODBC_TESTING_DIAGNOSTICS_H

#include <sql.h>

#include <string>

namespace kivodbc::testing {

// The first diagnostic record of a handle, read through SQLGetDiagRec.
struct Diag {
  std::string state;
  SQLINTEGER native = 0;
  std::string message;
};

inline Diag FirstDiag(SQLSMALLINT type, SQLHANDLE handle) {
  SQLCHAR state[6] = {};
  SQLCHAR message[600] = {};
  Diag d;
  SQLGetDiagRec(type, handle, 1, state, &d.native, message, sizeof message, nullptr);
  d.state = reinterpret_cast<char*>(state);
  d.message = reinterpret_cast<char*>(message);
  return d;
}

inline Diag FirstDiag(SQLHSTMT stmt) { return FirstDiag(SQL_HANDLE_STMT, stmt); }

}  // namespace kivodbc::testing

#endif
