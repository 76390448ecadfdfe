// fetch_bench: reads a million rows of five columns with bound columns and
// SQLFetch through unixODBC, once from this driver over an engine table and
// once from the SQLite ODBC driver over the same rows in a SQLite database.
// Prints both rates and their ratio.
//
//   fetch_bench [rows]      (default 1000000)
//
// Both drivers are registered in a private configuration in a temporary
// folder; both fetch loops add up every value read, and the sums must agree.
#include <sql.h>
#include <sqlext.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench_support.h"
#include "odbc_bench.h"
#include "qel32.h"

namespace {

namespace fs = std::filesystem;
using bench::Check;
using bench::CheckSql;
using bench::Clock;
using bench::Fail;
using bench::FailOdbc;
using bench::Seconds;

// Julian day number to a civil date (Fliegel and Van Flandern).
SQL_DATE_STRUCT CivilOf(int32_t julian) {
    int64_t l = julian + 68569;
    const int64_t n = 4 * l / 146097;
    l -= (146097 * n + 3) / 4;
    const int64_t i = 4000 * (l + 1) / 1461001;
    l = l - 1461 * i / 4 + 31;
    const int64_t j = 80 * l / 2447;
    SQL_DATE_STRUCT d;
    d.day = static_cast<SQLUSMALLINT>(l - 2447 * j / 80);
    l = j / 11;
    d.month = static_cast<SQLUSMALLINT>(j + 2 - 12 * l);
    d.year = static_cast<SQLSMALLINT>(100 * (n - 49) + i + l);
    return d;
}

struct Sums {
    int64_t ids = 0, nameBytes = 0, cents = 0, days = 0, flags = 0, rows = 0;
    bool operator==(const Sums&) const = default;
};

void WriteEngineTable(const std::string& dir, uint32_t n) {
    KIVHANDLE conn = 0;
    Check(KivConnect(dir.c_str(), &conn), "KivConnect");
    const KIVHANDLE t = bench::CreateValuesTable(conn);
    bench::AppendValues(t, n);
    Check(KivCloseTable(t), "KivCloseTable");
    Check(KivDisconnect(conn), "KivDisconnect");
}


void WriteSqliteTable(const std::string& file, uint32_t n) {
    sqlite3* db = nullptr;
    CheckSql(db, sqlite3_open(file.c_str(), &db), SQLITE_OK, "sqlite3_open");
    CheckSql(db, sqlite3_exec(db, "PRAGMA synchronous=OFF; BEGIN; CREATE TABLE bench(ID INTEGER, NAME VARCHAR(20), "
                                  "AMOUNT NUMERIC(12,2), DAY DATE, FLAG INTEGER)", nullptr, nullptr, nullptr),
             SQLITE_OK, "create");
    sqlite3_stmt* insert = nullptr;
    CheckSql(db, sqlite3_prepare_v2(db, "INSERT INTO bench VALUES(?,?,?,?,?)", -1, &insert, nullptr), SQLITE_OK,
             "prepare");
    for (uint32_t i = 1; i <= n; ++i) {
        const bench::Values r = bench::ValuesOf(i);
        const SQL_DATE_STRUCT d = CivilOf(r.julian);
        char day[32];
        std::snprintf(day, sizeof day, "%04d-%02u-%02u", d.year, d.month, d.day);
        sqlite3_bind_int(insert, 1, r.id);
        sqlite3_bind_text(insert, 2, r.name, static_cast<int>(r.nameLength), SQLITE_TRANSIENT);
        sqlite3_bind_double(insert, 3, r.amount);
        sqlite3_bind_text(insert, 4, day, -1, SQLITE_TRANSIENT);
        sqlite3_bind_int(insert, 5, r.flag);
        CheckSql(db, sqlite3_step(insert), SQLITE_DONE, "insert");
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    CheckSql(db, sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK, "commit");
    sqlite3_close(db);
}

// Connects with `connection`, selects the five columns, binds them and fetches
// every row; returns rows per second.
double FetchAll(const std::string& connection, Sums& sums) {
    SQLHENV env = nullptr;
    SQLHDBC dbc = nullptr;
    SQLHSTMT stmt = nullptr;
    bench::ConnectBench(connection, env, dbc);
    SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt);

    SQLINTEGER id = 0, flag = 0;
    SQLCHAR name[24];
    double amount = 0;
    SQL_DATE_STRUCT day{};
    SQLLEN idInd = 0, nameInd = 0, amountInd = 0, dayInd = 0, flagInd = 0;

    const auto start = Clock::now();
    SQLCHAR query[] = "SELECT ID, NAME, AMOUNT, DAY, FLAG FROM bench";
    if (!SQL_SUCCEEDED(SQLExecDirect(stmt, query, SQL_NTS))) FailOdbc(SQL_HANDLE_STMT, stmt, "select");
    const double executeSeconds = Seconds(start);
    SQLBindCol(stmt, 1, SQL_C_SLONG, &id, 0, &idInd);
    SQLBindCol(stmt, 2, SQL_C_CHAR, name, sizeof name, &nameInd);
    SQLBindCol(stmt, 3, SQL_C_DOUBLE, &amount, 0, &amountInd);
    SQLBindCol(stmt, 4, SQL_C_TYPE_DATE, &day, 0, &dayInd);
    SQLBindCol(stmt, 5, SQL_C_SLONG, &flag, 0, &flagInd);
    SQLRETURN rc;
    while ((rc = SQLFetch(stmt)) == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) {
        sums.ids += id;
        // Character fields come back padded to their width: count the text.
        size_t length = std::strlen(reinterpret_cast<char*>(name));
        while (length > 0 && name[length - 1] == ' ') --length;
        sums.nameBytes += static_cast<int64_t>(length);
        sums.cents += static_cast<int64_t>(amount * 100.0 + 0.5);
        sums.days += day.year * 10000 + day.month * 100 + day.day;
        sums.flags += flag;
        ++sums.rows;
    }
    if (rc != SQL_NO_DATA) FailOdbc(SQL_HANDLE_STMT, stmt, "fetch");
    const double seconds = Seconds(start);
    std::printf("  %-20s execute %.2f s, fetch %.2f s\n", connection.substr(0, connection.find(';')).c_str(),
                executeSeconds, seconds - executeSeconds);

    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    SQLDisconnect(dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    return static_cast<double>(sums.rows) / seconds;
}

}  // namespace

int main(int argc, char** argv) {
    uint32_t n = 1000000u;
    if (argc > 1) {
        char* end = nullptr;
        const unsigned long asked = std::strtoul(argv[1], &end, 10);
        if (argc > 2 || end == argv[1] || *end != 0 || asked == 0 || asked > 100000000ul) {
            std::printf("usage: fetch_bench [ROWS]\n"
                        "Writes ROWS rows (default 1000000) of five columns to an engine table and to a SQLite\n"
                        "database, fetches them through unixODBC from this driver and from the SQLite ODBC driver\n"
                        "with bound columns, and prints both rates and their ratio.\n");
            const bool help = std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0;
            return help ? 0 : 2;
        }
        n = static_cast<uint32_t>(asked);
    }
    const std::string dir = bench::RegisterBenchDrivers("fetch_bench");

    std::printf("writing %u rows to both stores...\n", n);
    WriteEngineTable(dir, n);
    WriteSqliteTable(dir + "/bench.db", n);

    Sums ours, theirs;
    const double ourRate = FetchAll("DRIVER={KivBench};DefaultType=FoxPro;DataDirectory=" + dir, ours);
    const double theirRate = FetchAll("DRIVER={SqliteBench};Database=" + dir + "/bench.db", theirs);
    fs::remove_all(dir);
    if (ours.rows != n || !(ours == theirs)) {
        const auto show = [](const char* who, const Sums& s) {
            std::fprintf(stderr, "%s: rows %lld ids %lld name bytes %lld cents %lld days %lld flags %lld\n", who,
                         static_cast<long long>(s.rows), static_cast<long long>(s.ids),
                         static_cast<long long>(s.nameBytes), static_cast<long long>(s.cents),
                         static_cast<long long>(s.days), static_cast<long long>(s.flags));
        };
        show("this driver", ours);
        show("SQLite ODBC driver", theirs);
        Fail("the two drivers read different rows");
    }

    std::printf("this driver:        %10.0f rows/s\n", ourRate);
    std::printf("SQLite ODBC driver: %10.0f rows/s\n", theirRate);
    std::printf("ratio (this/SQLite): %.2f (goal: at least 1)\n", ourRate / theirRate);
    return 0;
}
