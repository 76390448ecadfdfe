// Where the ODBC drivers of Debian's packages keep their libraries.
#ifndef KIV_ODBC_TESTING_DRIVER_LIBRARIES_H
#define KIV_ODBC_TESTING_DRIVER_LIBRARIES_H

#include <string>

namespace kivodbc::testing {

// The path of an installed ODBC driver library named `file`, looked for in
// the driver folders of the usual architectures; "" when there is none.
std::string FindOdbcDriverLibrary(const std::string& file);

// The SQLite ODBC driver (package libsqliteodbc); "" when not installed.
std::string SqliteOdbcDriverPath();

// The ANSI PostgreSQL ODBC driver (package odbc-postgresql); "" when not installed.
std::string PostgresOdbcDriverPath();

}  // namespace kivodbc::testing

#endif
