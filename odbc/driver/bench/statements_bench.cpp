// statements_bench: opens many statements on one connection, each left open
// on a select of the same table, and prints the rate. Each statement gets a
// cursor name of its own at the select; the first one's must be
// SQL_CUR_00000 and the last one's SQL_CUR_ followed by its number.
//
//   statements_bench [statements]      (default 10000)
#include <sql.h>
#include <sqlext.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_support.h"
#include "odbc_bench.h"
#include "qel32.h"

namespace {

using bench::Check;
using bench::Clock;
using bench::Fail;
using bench::FailOdbc;
using bench::Seconds;

std::string CursorName(SQLHSTMT stmt) {
    SQLCHAR name[64] = {};
    SQLSMALLINT length = 0;
    if (!SQL_SUCCEEDED(SQLGetCursorName(stmt, name, sizeof name, &length)))
        FailOdbc(SQL_HANDLE_STMT, stmt, "SQLGetCursorName");
    return reinterpret_cast<char*>(name);
}

}  // namespace

int main(int argc, char** argv) {
    unsigned long n = 10000;
    if (argc > 1) {
        char* end = nullptr;
        n = std::strtoul(argv[1], &end, 10);
        if (argc > 2 || end == argv[1] || *end != 0 || n == 0 || n > 1000000ul) {
            std::printf("usage: statements_bench [STATEMENTS]\n"
                        "Opens STATEMENTS statements (default 10000) on one connection to this driver, each left\n"
                        "open on a select of one table, and prints the rate.\n");
            const bool help = std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0;
            return help ? 0 : 2;
        }
    }
    const std::string dir = bench::RegisterBenchDrivers("statements_bench");
    KIVHANDLE conn = 0, table = 0;
    Check(KivConnect(dir.c_str(), &conn), "KivConnect");
    Check(KivCreateTable(conn, "customer", nullptr, KIV_TABLE_CDX, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE,
                         KIV_RIGHTS_NO_CHECK, 0, "ID,N,6;NAME,C,30", &table),
          "KivCreateTable");
    for (int id = 1; id <= 3; ++id) {
        Check(KivAppendRecord(table), "KivAppendRecord");
        Check(KivSetLong(table, "ID", id), "KivSetLong");
        Check(KivWriteRecord(table), "KivWriteRecord");
    }
    Check(KivCloseTable(table), "KivCloseTable");
    Check(KivDisconnect(conn), "KivDisconnect");

    SQLHENV env = nullptr;
    SQLHDBC dbc = nullptr;
    bench::ConnectBench("DRIVER={KivBench};DefaultType=FoxPro;DataDirectory=" + dir, env, dbc);
    std::vector<SQLHSTMT> statements(n, nullptr);
    const auto start = Clock::now();
    for (unsigned long i = 0; i < n; ++i) {
        if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &statements[i])))
            FailOdbc(SQL_HANDLE_DBC, dbc, "SQLAllocHandle");
        SQLCHAR query[] = "SELECT ID FROM customer";
        if (!SQL_SUCCEEDED(SQLExecDirect(statements[i], query, SQL_NTS)))
            FailOdbc(SQL_HANDLE_STMT, statements[i], "SQLExecDirect");
    }
    const double seconds = Seconds(start);
    const std::string first = CursorName(statements.front());
    const std::string last = CursorName(statements.back());
    char expected[32];
    std::snprintf(expected, sizeof expected, "SQL_CUR_%05lu", n - 1);
    if (first != "SQL_CUR_00000" || last != expected) Fail("cursor names " + first + " ... " + last);
    for (SQLHSTMT stmt : statements) SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    SQLDisconnect(dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    std::filesystem::remove_all(dir);

    std::printf("%lu statements open on one connection in %.2f s: %.0f statements/s (names %s ... %s)\n", n, seconds,
                static_cast<double>(n) / seconds, first.c_str(), last.c_str());
    return 0;
}
