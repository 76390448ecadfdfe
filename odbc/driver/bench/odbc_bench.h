// What the driver's benchmark programs share: a private ODBC configuration
// that registers this driver as "KivBench" and the SQLite ODBC driver as
// "SqliteBench", and failing with an ODBC handle's diagnostic.
#pragma once

#include <sql.h>
#include <sqlext.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "bench_support.h"
#include "kiv_odbc_testing/driver_libraries.h"

namespace bench {

// A new temporary folder (named after `program`) holding the configuration,
// which the driver manager is pointed at.
inline std::string RegisterBenchDrivers(const std::string& program) {
    const std::string sqliteDriver = kivodbc::testing::SqliteOdbcDriverPath();
    if (sqliteDriver.empty()) Fail("the SQLite ODBC driver (Debian package libsqliteodbc) is not installed");
    std::string pattern = "/tmp/" + program + ".XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) Fail("no temporary folder");
    std::ofstream(pattern + "/odbcinst.ini") << "[KivBench]\nDriver=" KIVODBC_DRIVER_PATH "\n\n[SqliteBench]\nDriver="
                                             << sqliteDriver << "\n";
    std::ofstream(pattern + "/odbc.ini") << "";
    setenv("ODBCSYSINI", pattern.c_str(), 1);
    setenv("ODBCINI", (pattern + "/odbc.ini").c_str(), 1);
    return pattern;
}

[[noreturn]] inline void FailOdbc(SQLSMALLINT type, SQLHANDLE handle, const char* what) {
    SQLCHAR state[6] = {}, text[512] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    SQLGetDiagRec(type, handle, 1, state, &native, text, sizeof text, &length);
    Fail(std::string(what) + " failed: " + reinterpret_cast<char*>(state) + " " + reinterpret_cast<char*>(text));
}

// An ODBC 3 environment and a connection made with `connection`.
inline void ConnectBench(const std::string& connection, SQLHENV& env, SQLHDBC& dbc) {
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
    std::string text = connection;
    if (!SQL_SUCCEEDED(SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS, nullptr, 0,
                                        nullptr, SQL_DRIVER_NOPROMPT)))
        FailOdbc(SQL_HANDLE_DBC, dbc, ("connect " + connection).c_str());
}

}  // namespace bench
