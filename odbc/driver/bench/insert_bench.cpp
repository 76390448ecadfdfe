// insert_bench: loads rows with a prepared, parameterised INSERT in one
// transaction through unixODBC, once through this driver into an engine
// table and once through the SQLite ODBC driver into a SQLite database.
// Prints the time of each quarter of the load (a load that is linear takes
// about as long for each) and the ratio of the two totals.
//
//   insert_bench [rows]      (default 200000)
#include <sql.h>
#include <sqlext.h>
#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "odbc_bench.h"

namespace {

namespace fs = std::filesystem;
using bench::Clock;
using bench::Fail;
using bench::Seconds;

void Must(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle, const char* what) {
    if (!SQL_SUCCEEDED(rc)) bench::FailOdbc(type, handle, what);
}

// Loads n rows; returns the seconds of each quarter of them and of the commit.
std::vector<double> Load(const std::string& connection, uint32_t n, uint32_t& counted) {
    SQLHENV env = nullptr;
    SQLHDBC dbc = nullptr;
    SQLHSTMT stmt = nullptr;
    bench::ConnectBench(connection, env, dbc);
    SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt);
    Must(SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>(
                                 "CREATE TABLE load (ID INTEGER, NAME CHAR(20), AMOUNT NUMERIC(12,2), DAY DATE, FLAG INTEGER)")),
                       SQL_NTS),
         SQL_HANDLE_STMT, stmt, "create");
    Must(SQLSetConnectAttr(dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0),
         SQL_HANDLE_DBC, dbc, "autocommit off");
    Must(SQLPrepare(stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>("INSERT INTO load VALUES (?, ?, ?, ?, ?)")),
                    SQL_NTS),
         SQL_HANDLE_STMT, stmt, "prepare");
    SQLINTEGER id = 0, flag = 0;
    SQLCHAR name[24] = {};
    double amount = 0;
    SQL_DATE_STRUCT day{};
    SQLLEN nameLength = 0, zero = 0;
    Must(SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &id, 0, &zero), SQL_HANDLE_STMT,
         stmt, "bind");
    Must(SQLBindParameter(stmt, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_CHAR, 20, 0, name, sizeof name, &nameLength),
         SQL_HANDLE_STMT, stmt, "bind");
    Must(SQLBindParameter(stmt, 3, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE, 0, 0, &amount, 0, &zero),
         SQL_HANDLE_STMT, stmt, "bind");
    Must(SQLBindParameter(stmt, 4, SQL_PARAM_INPUT, SQL_C_TYPE_DATE, SQL_TYPE_DATE, 10, 0, &day, 0, &zero),
         SQL_HANDLE_STMT, stmt, "bind");
    Must(SQLBindParameter(stmt, 5, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &flag, 0, &zero), SQL_HANDLE_STMT,
         stmt, "bind");
    std::vector<double> times;
    auto start = Clock::now();
    for (uint32_t i = 1; i <= n; ++i) {
        const bench::Values v = bench::ValuesOf(i);
        id = v.id;
        std::memcpy(name, v.name, v.nameLength + 1);
        nameLength = v.nameLength;
        amount = v.amount;
        const uint32_t days = static_cast<uint32_t>(v.julian - bench::kFirstDay);
        day.year = static_cast<SQLSMALLINT>(2000 + days / 365 % 10);
        day.month = static_cast<SQLUSMALLINT>(1 + days / 28 % 12);
        day.day = static_cast<SQLUSMALLINT>(1 + days % 28);
        flag = v.flag ? 1 : 0;
        Must(SQLExecute(stmt), SQL_HANDLE_STMT, stmt, "insert");
        if (i % (n / 4 == 0 ? 1 : n / 4) == 0 && times.size() < 4) {
            times.push_back(Seconds(start));
            start = Clock::now();
        }
    }
    Must(SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_COMMIT), SQL_HANDLE_DBC, dbc, "commit");
    times.push_back(Seconds(start));
    SQLFreeStmt(stmt, SQL_CLOSE);
    Must(SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>("SELECT COUNT(*) FROM load")), SQL_NTS),
         SQL_HANDLE_STMT, stmt, "count");
    SQLINTEGER rows = 0;
    SQLFetch(stmt);
    SQLGetData(stmt, 1, SQL_C_SLONG, &rows, 0, nullptr);
    counted = static_cast<uint32_t>(rows);
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    SQLDisconnect(dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    return times;
}

double Report(const char* who, const std::vector<double>& times) {
    double total = 0;
    std::printf("%-20s", who);
    for (double t : times) {
        std::printf(" %7.2f", t);
        total += t;
    }
    std::printf("   total %.2f s\n", total);
    return total;
}

}  // namespace

int main(int argc, char** argv) {
    const uint32_t n = argc > 1 ? static_cast<uint32_t>(std::strtoul(argv[1], nullptr, 10)) : 200000u;
    const std::string dir = bench::RegisterBenchDrivers("insert_bench");
    std::printf("%u rows in one transaction; seconds per quarter of the rows, then the commit:\n", n);
    uint32_t ourRows = 0, theirRows = 0;
    const double ours = Report("this driver", Load("DRIVER={KivBench};DefaultType=FoxPro;DataDirectory=" + dir, n, ourRows));
    const double theirs = Report("SQLite ODBC driver", Load("DRIVER={SqliteBench};Database=" + dir + "/load.db", n, theirRows));
    fs::remove_all(dir);
    if (ourRows != n || theirRows != n) Fail("the loads did not keep every row");
    std::printf("time ratio (this/SQLite): %.2f (goal: at most 2)\n", ours / theirs);
    return 0;
}
