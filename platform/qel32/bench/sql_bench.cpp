// sql_bench: a SELECT ... WHERE over a 100,000-record table through the
// engine's SQL, against the same query on the same rows in plain SQLite;
// then a self-join of 3,072 records in three groups (3,145,728 rows): the
// time to its first row and to its last, through the engine and SQLite.
// Prints the rates, the times and their ratios.
//
//   sql_bench [records] [runs] [join records]   (defaults 100000, 20 and 3072)
#include <sqlite3.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "bench_support.h"
#include "qel32.h"

namespace {

using bench::Check;
using bench::Clock;
using bench::Fail;
using bench::Seconds;


constexpr const char* kQuery = "SELECT id, name, amount FROM bench WHERE amount > 990 AND flag = 1";

double RunEngine(const std::string& dir, uint32_t n, int runs, uint32_t& rows) {
    KIVHANDLE conn, t;
    Check(KivConnect(dir.c_str(), &conn), "KivConnect");
    Check(KivCreateTable(conn, "bench.dbf", nullptr, KIV_TABLE_CDX, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE,
                         KIV_RIGHTS_NO_CHECK, 0, "ID,N,10;NAME,C,20;AMOUNT,N,12,2;DAY,D;FLAG,L", &t),
          "KivCreateTable");
    for (uint32_t i = 1; i <= n; ++i) {
        Check(KivAppendRecord(t), "KivAppendRecord");
        Check(KivSetLong(t, "ID", static_cast<int32_t>(i)), "KivSetLong");
        const std::string name = "customer " + std::to_string(i);
        Check(KivSetString(t, "NAME", name.c_str(), static_cast<uint32_t>(name.size())), "KivSetString");
        Check(KivSetDouble(t, "AMOUNT", static_cast<double>(i % 100000) / 100.0), "KivSetDouble");
        Check(KivSetJulian(t, "DAY", 2451545 + static_cast<int32_t>(i % 3650)), "KivSetJulian");
        Check(KivSetLogical(t, "FLAG", i & 1), "KivSetLogical");
    }
    Check(KivCloseTable(t), "KivCloseTable");
    KIVHANDLE st;
    Check(KivCreateSQLStatement(conn, &st), "KivCreateSQLStatement");
    Check(KivPrepareSQL(st, kQuery), "KivPrepareSQL");
    const auto start = Clock::now();
    for (int r = 0; r < runs; ++r) {
        KIVHANDLE cursor = 0;
        Check(KivExecuteSQL(st, &cursor), "KivExecuteSQL");
        Check(KivGetRecordCount(cursor, KIV_COUNT_IGNORE_FILTERS, &rows), "KivGetRecordCount");
        Check(KivCloseTable(cursor), "KivCloseTable");
    }
    const double seconds = Seconds(start);
    Check(KivCloseSQLStatement(st), "KivCloseSQLStatement");
    Check(KivDisconnect(conn), "KivDisconnect");
    return seconds;
}

double RunSqlite(const std::string& dir, uint32_t n, int runs, uint32_t& rows) {
    sqlite3* db = nullptr;
    if (sqlite3_open((dir + "/bench.sqlite").c_str(), &db) != SQLITE_OK) Fail("cannot open SQLite");
    sqlite3_exec(db, "PRAGMA synchronous=OFF; CREATE TABLE bench(id INTEGER, name TEXT, amount REAL, day TEXT, flag INTEGER);"
                     "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* ins = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO bench VALUES(?, ?, ?, ?, ?)", -1, &ins, nullptr);
    for (uint32_t i = 1; i <= n; ++i) {
        const std::string name = "customer " + std::to_string(i);
        sqlite3_bind_int(ins, 1, static_cast<int>(i));
        sqlite3_bind_text(ins, 2, name.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_double(ins, 3, static_cast<double>(i % 100000) / 100.0);
        sqlite3_bind_text(ins, 4, "2000-01-01", -1, SQLITE_STATIC);
        sqlite3_bind_int(ins, 5, static_cast<int>(i & 1));
        if (sqlite3_step(ins) != SQLITE_DONE) Fail(sqlite3_errmsg(db));
        sqlite3_reset(ins);
    }
    sqlite3_finalize(ins);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_stmt* q = nullptr;
    sqlite3_prepare_v2(db, kQuery, -1, &q, nullptr);
    const auto start = Clock::now();
    for (int r = 0; r < runs; ++r) {
        rows = 0;
        while (sqlite3_step(q) == SQLITE_ROW) {
            sqlite3_column_int(q, 0);
            sqlite3_column_text(q, 1);
            sqlite3_column_double(q, 2);
            ++rows;
        }
        sqlite3_reset(q);
    }
    const double seconds = Seconds(start);
    sqlite3_finalize(q);
    sqlite3_close(db);
    return seconds;
}

// The self-join: each record meets every record of its group.
constexpr const char* kJoin = "SELECT a.id, b.id, a.name FROM pairs a JOIN pairs b ON a.grp = b.grp";

struct JoinTimes {
    double firstRow = 0;
    double allRows = 0;
    uint64_t rows = 0;
};

JoinTimes JoinEngine(const std::string& dir, uint32_t n) {
    KIVHANDLE conn, t;
    Check(KivConnect(dir.c_str(), &conn), "KivConnect");
    Check(KivCreateTable(conn, "pairs.dbf", nullptr, KIV_TABLE_CDX, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE,
                         KIV_RIGHTS_NO_CHECK, 0, "ID,N,10;GRP,N,2;NAME,C,20", &t),
          "KivCreateTable");
    for (uint32_t i = 1; i <= n; ++i) {
        Check(KivAppendRecord(t), "KivAppendRecord");
        Check(KivSetLong(t, "ID", static_cast<int32_t>(i)), "KivSetLong");
        Check(KivSetLong(t, "GRP", static_cast<int32_t>(i % 3)), "KivSetLong");
        const std::string name = "customer " + std::to_string(i);
        Check(KivSetString(t, "NAME", name.c_str(), static_cast<uint32_t>(name.size())), "KivSetString");
    }
    Check(KivCloseTable(t), "KivCloseTable");
    KIVHANDLE st;
    Check(KivCreateSQLStatement(conn, &st), "KivCreateSQLStatement");
    Check(KivPrepareSQL(st, kJoin), "KivPrepareSQL");
    JoinTimes times;
    const auto start = Clock::now();
    KIVHANDLE cursor = 0;
    Check(KivExecuteSQL(st, &cursor), "KivExecuteSQL");
    Check(KivGotoTop(cursor), "KivGotoTop");
    int32_t id = 0;
    uint16_t eof = 0;
    Check(KivAtEOF(cursor, &eof), "KivAtEOF");
    if (!eof) Check(KivGetLong(cursor, KIV_FIELD(1), &id), "KivGetLong");
    times.firstRow = Seconds(start);
    for (; Check(KivAtEOF(cursor, &eof), "KivAtEOF"), !eof; Check(KivSkip(cursor, 1), "KivSkip")) {
        Check(KivGetLong(cursor, KIV_FIELD(2), &id), "KivGetLong");
        ++times.rows;
    }
    times.allRows = Seconds(start);
    Check(KivCloseTable(cursor), "KivCloseTable");
    Check(KivCloseSQLStatement(st), "KivCloseSQLStatement");
    Check(KivDisconnect(conn), "KivDisconnect");
    return times;
}

JoinTimes JoinSqlite(const std::string& dir, uint32_t n) {
    sqlite3* db = nullptr;
    if (sqlite3_open((dir + "/pairs.sqlite").c_str(), &db) != SQLITE_OK) Fail("cannot open SQLite");
    sqlite3_exec(db, "PRAGMA synchronous=OFF; CREATE TABLE pairs(id INTEGER, grp INTEGER, name TEXT); BEGIN", nullptr,
                 nullptr, nullptr);
    sqlite3_stmt* ins = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO pairs VALUES(?, ?, ?)", -1, &ins, nullptr);
    for (uint32_t i = 1; i <= n; ++i) {
        const std::string name = "customer " + std::to_string(i);
        sqlite3_bind_int(ins, 1, static_cast<int>(i));
        sqlite3_bind_int(ins, 2, static_cast<int>(i % 3));
        sqlite3_bind_text(ins, 3, name.c_str(), -1, SQLITE_TRANSIENT);
        if (sqlite3_step(ins) != SQLITE_DONE) Fail(sqlite3_errmsg(db));
        sqlite3_reset(ins);
    }
    sqlite3_finalize(ins);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    JoinTimes times;
    const auto start = Clock::now();
    sqlite3_stmt* q = nullptr;
    sqlite3_prepare_v2(db, kJoin, -1, &q, nullptr);
    int rc = sqlite3_step(q);
    if (rc == SQLITE_ROW) sqlite3_column_int(q, 0);
    times.firstRow = Seconds(start);
    for (; rc == SQLITE_ROW; rc = sqlite3_step(q)) {
        sqlite3_column_int(q, 1);
        ++times.rows;
    }
    times.allRows = Seconds(start);
    sqlite3_finalize(q);
    sqlite3_close(db);
    return times;
}

}  // namespace

int main(int argc, char** argv) {
    const uint32_t n = argc > 1 ? static_cast<uint32_t>(std::strtoul(argv[1], nullptr, 10)) : 100000;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 20;
    const uint32_t joinRecords = argc > 3 ? static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 10)) : 3072;
    std::string dir = (std::filesystem::temp_directory_path() / "sqlbench-XXXXXX").string();
    if (!mkdtemp(dir.data())) Fail("cannot make a temporary folder");
    uint32_t engineRows = 0, sqliteRows = 0;
    const double engine = RunEngine(dir, n, runs, engineRows);
    const double sqlite = RunSqlite(dir, n, runs, sqliteRows);
    const JoinTimes engineJoin = JoinEngine(dir, joinRecords);
    const JoinTimes sqliteJoin = JoinSqlite(dir, joinRecords);
    std::filesystem::remove_all(dir);
    if (engineRows != sqliteRows) Fail("the two stores found different rows");
    if (engineJoin.rows != sqliteJoin.rows) Fail("the two stores joined different rows");
    std::printf("records                %10u\n", n);
    std::printf("rows per query         %10u\n", engineRows);
    std::printf("engine SQL queries/s   %10.1f\n", runs / engine);
    std::printf("sqlite queries/s       %10.1f\n", runs / sqlite);
    std::printf("time ratio engine/sqlite %8.2f  (goal: at most 1.0)\n", engine / sqlite);
    std::printf("join records           %10u\n", joinRecords);
    std::printf("join rows              %10llu\n", static_cast<unsigned long long>(engineJoin.rows));
    std::printf("engine first row s     %10.4f\n", engineJoin.firstRow);
    std::printf("sqlite first row s     %10.4f\n", sqliteJoin.firstRow);
    std::printf("first row ratio engine/sqlite %8.2f  (goal: at most 10)\n", engineJoin.firstRow / sqliteJoin.firstRow);
    std::printf("engine all rows s      %10.4f\n", engineJoin.allRows);
    std::printf("sqlite all rows s      %10.4f\n", sqliteJoin.allRows);
    std::printf("all rows ratio engine/sqlite  %8.2f\n", engineJoin.allRows / sqliteJoin.allRows);
    return 0;
}
