// qel32_bench: appends records of five fields to a CDX table opened
// exclusively and scans them back with skip and field reads, then scans them
// again in a shared open; then does the same through SQLite's C API (one
// transaction of prepared inserts, one full-scan query). Prints the rates
// and the engine/SQLite ratios, and what one open of the table with an index
// on it costs in time and memory. Then 500,000 appends of a shared open in
// transactions of 100 (the rates of the first and the last 100,000). Last, 2,000 one-row transactions through
// both, each durable at its commit (SQLite with its default synchronous
// setting).
//
//   qel32_bench [records]      (default 1000000)
//
// Both stores write a file in the same temporary folder and neither syncs it
// to disk (SQLite runs with synchronous=OFF, as the engine does not fsync
// appends). Both scans add up every value read; the sums must agree.
#include <malloc.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "bench_support.h"
#include "qel32.h"

namespace {

using bench::Check;
using bench::CheckSql;
using bench::Clock;
using bench::Fail;
using bench::Seconds;
using bench::Values;
using bench::ValuesOf;

// What a scan adds up; equal sums mean both stores gave back the same data.
struct Sums {
    int64_t ids = 0, nameBytes = 0, cents = 0, days = 0, flags = 0, records = 0;
    bool operator==(const Sums&) const = default;
};

struct Rates {
    double write, scan;
};

// Reads every record with skip and field reads, adding up the values.
void ScanValues(KIVHANDLE t, Sums& sums) {
    uint16_t eof = 0;
    char name[32];
    Check(KivGotoTop(t), "KivGotoTop");
    for (Check(KivAtEOF(t, &eof), "KivAtEOF"); !eof; Check(KivAtEOF(t, &eof), "KivAtEOF")) {
        int32_t id = 0, julian = 0;
        double amount = 0;
        uint16_t flag = 0;
        uint32_t len = sizeof name;
        Check(KivGetLong(t, "ID", &id), "KivGetLong");
        Check(KivGetField(t, "NAME", name, &len, 1), "KivGetField");
        Check(KivGetDouble(t, "AMOUNT", &amount), "KivGetDouble");
        Check(KivGetJulian(t, "DAY", &julian), "KivGetJulian");
        Check(KivGetLogical(t, "FLAG", &flag), "KivGetLogical");
        sums.ids += id;
        sums.nameBytes += len;
        sums.cents += static_cast<int64_t>(amount * 100.0 + 0.5);
        sums.days += julian;
        sums.flags += flag ? 1 : 0;
        ++sums.records;
        Check(KivSkip(t, 1), "KivSkip");
    }
}

// The table the engine run left, opened shared as several users would, and
// scanned the same way: records/s.
double RunEngineSharedScan(const std::string& dir, Sums& sums) {
    KIVHANDLE conn = 0, t = 0;
    Check(KivConnect(dir.c_str(), &conn), "KivConnect");
    Check(KivOpenTable(conn, "bench.dbf", nullptr, KIV_TABLE_CDX, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE,
                       KIV_RIGHTS_NO_CHECK, KIV_OPEN_SHARED, &t),
          "KivOpenTable");
    const auto start = Clock::now();
    ScanValues(t, sums);
    const double seconds = Seconds(start);
    Check(KivCloseTable(t), "KivCloseTable");
    Check(KivDisconnect(conn), "KivDisconnect");
    return static_cast<double>(sums.records) / seconds;
}

Rates RunEngine(const std::string& dir, uint32_t n, Sums& sums) {
    KIVHANDLE conn = 0;
    Check(KivConnect(dir.c_str(), &conn), "KivConnect");
    const KIVHANDLE t = bench::CreateValuesTable(conn);

    auto start = Clock::now();
    bench::AppendValues(t, n);
    const double writeSeconds = Seconds(start);

    start = Clock::now();
    ScanValues(t, sums);
    const double scanSeconds = Seconds(start);
    Check(KivCloseTable(t), "KivCloseTable");
    Check(KivDisconnect(conn), "KivDisconnect");
    return {n / writeSeconds, static_cast<double>(sums.records) / scanSeconds};
}

Rates RunSqlite(const std::string& dir, uint32_t n, Sums& sums) {
    sqlite3* db = nullptr;
    if (sqlite3_open((dir + "/bench.db").c_str(), &db) != SQLITE_OK) Fail("sqlite3_open failed");
    CheckSql(db, sqlite3_exec(db, "PRAGMA synchronous=OFF", nullptr, nullptr, nullptr), SQLITE_OK, "PRAGMA");
    CheckSql(db,
             sqlite3_exec(db, "CREATE TABLE bench(id INTEGER, name TEXT, amount REAL, day INTEGER, flag INTEGER)",
                          nullptr, nullptr, nullptr),
             SQLITE_OK, "CREATE TABLE");

    auto start = Clock::now();
    sqlite3_stmt* insert = nullptr;
    CheckSql(db, sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), SQLITE_OK, "BEGIN");
    CheckSql(db, sqlite3_prepare_v2(db, "INSERT INTO bench VALUES(?,?,?,?,?)", -1, &insert, nullptr), SQLITE_OK,
             "prepare INSERT");
    for (uint32_t i = 1; i <= n; ++i) {
        const Values v = ValuesOf(i);
        sqlite3_bind_int(insert, 1, v.id);
        sqlite3_bind_text(insert, 2, v.name, static_cast<int>(v.nameLength), SQLITE_TRANSIENT);
        sqlite3_bind_double(insert, 3, v.amount);
        sqlite3_bind_int(insert, 4, v.julian);
        sqlite3_bind_int(insert, 5, v.flag ? 1 : 0);
        CheckSql(db, sqlite3_step(insert), SQLITE_DONE, "INSERT");
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    CheckSql(db, sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK, "COMMIT");
    const double writeSeconds = Seconds(start);

    start = Clock::now();
    sqlite3_stmt* select = nullptr;
    CheckSql(db, sqlite3_prepare_v2(db, "SELECT id, name, amount, day, flag FROM bench", -1, &select, nullptr),
             SQLITE_OK, "prepare SELECT");
    int rc;
    while ((rc = sqlite3_step(select)) == SQLITE_ROW) {
        sums.ids += sqlite3_column_int(select, 0);
        sqlite3_column_text(select, 1);
        sums.nameBytes += sqlite3_column_bytes(select, 1);
        sums.cents += static_cast<int64_t>(sqlite3_column_double(select, 2) * 100.0 + 0.5);
        sums.days += sqlite3_column_int(select, 3);
        sums.flags += sqlite3_column_int(select, 4);
        ++sums.records;
    }
    CheckSql(db, rc, SQLITE_DONE, "SELECT");
    sqlite3_finalize(select);
    const double scanSeconds = Seconds(start);
    sqlite3_close(db);
    return {n / writeSeconds, static_cast<double>(sums.records) / scanSeconds};
}

// ------------------------------------------------------------ opening with an index

// Opening a table reads its whole index into memory: the time of one open of
// the benchmark table with an order on ID in its production index, and the
// memory that open keeps (heap in use before and after, in MB).
struct OpenCost {
    double milliseconds, megabytes;
};

double HeapMegabytes() {
    const struct mallinfo2 m = mallinfo2();
    return static_cast<double>(m.uordblks + m.hblkhd) / 1048576.0;
}

OpenCost MeasureIndexedOpen(const std::string& dir) {
    KIVHANDLE conn = 0, t = 0, index = 0;
    Check(KivConnect(dir.c_str(), &conn), "KivConnect");
    auto open = [&](uint32_t options) {
        Check(KivOpenTable(conn, "bench.dbf", nullptr, KIV_TABLE_CDX, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE,
                           KIV_RIGHTS_NO_CHECK, options, &t),
              "KivOpenTable");
    };
    open(KIV_OPEN_EXCLUSIVE);
    Check(KivCreateIndex(t, "bench.cdx", "ID", "ID", "", "", 0, &index), "KivCreateIndex");
    Check(KivCloseTable(t), "KivCloseTable");
    constexpr int kOpens = 5;
    double seconds = 0, megabytes = 0;
    for (int i = 0; i < kOpens; ++i) {
        const double before = HeapMegabytes();
        const auto start = Clock::now();
        open(KIV_OPEN_SHARED);
        seconds += Seconds(start);
        megabytes += HeapMegabytes() - before;
        Check(KivCloseTable(t), "KivCloseTable");
    }
    Check(KivDisconnect(conn), "KivDisconnect");
    return {seconds * 1000.0 / kOpens, megabytes / kOpens};
}

// ------------------------------------------------------------ appends in transactions

// A new table of the benchmark's fields, opened shared.
KIVHANDLE CreateShared(KIVHANDLE conn, const char* name) {
    KIVHANDLE t = 0;
    Check(KivCreateTable(conn, name, nullptr, KIV_TABLE_CDX, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE, KIV_RIGHTS_NO_CHECK, 0,
                         "ID,N,10;NAME,C,20;AMOUNT,N,12,2;DAY,D;FLAG,L", &t),
          "KivCreateTable");
    Check(KivCloseTable(t), "KivCloseTable");
    Check(KivOpenTable(conn, name, nullptr, KIV_TABLE_CDX, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE, KIV_RIGHTS_NO_CHECK,
                       KIV_OPEN_SHARED, &t),
          "KivOpenTable");
    return t;
}

// 500,000 appends in a shared open, in transactions of 100, the records kept
// locked (no unlock between them): the rates of the first and the last
// 100,000, which stay alike when a commit costs the same however many
// records the handle holds.
struct HeldRates {
    double first, last;
};

HeldRates RunTransactionAppends(const std::string& dir) {
    constexpr uint32_t kTotal = 500000, kBatch = 100, kSlice = 100000;
    KIVHANDLE conn = 0;
    Check(KivConnect(dir.c_str(), &conn), "KivConnect");
    const KIVHANDLE t = CreateShared(conn, "held.dbf");
    HeldRates rates{0, 0};
    auto slice = Clock::now();
    for (uint32_t i = 1; i <= kTotal; ++i) {
        if (i % kBatch == 1) Check(KivBeginTransaction(conn), "KivBeginTransaction");
        const Values v = ValuesOf(i);
        Check(KivAppendRecord(t), "KivAppendRecord");
        Check(KivSetLong(t, "ID", v.id), "KivSetLong");
        Check(KivSetString(t, "NAME", v.name, v.nameLength), "KivSetString");
        if (i % kBatch == 0) Check(KivCommitTransaction(conn), "KivCommitTransaction");
        if (i == kSlice) rates.first = kSlice / Seconds(slice);
        if (i == kTotal - kSlice) slice = Clock::now();
    }
    rates.last = kSlice / Seconds(slice);
    Check(KivCloseTable(t), "KivCloseTable");
    Check(KivDisconnect(conn), "KivDisconnect");
    return rates;
}

// ------------------------------------------------------------ durable commits

// One-row transactions, each durable when its commit returns: through the
// engine (a shared open, an append per transaction) and through SQLite with
// its default synchronous setting. Rates in transactions per second.
constexpr uint32_t kOneRowTransactions = 2000;

double RunEngineCommits(const std::string& dir) {
    KIVHANDLE conn = 0;
    Check(KivConnect(dir.c_str(), &conn), "KivConnect");
    const KIVHANDLE t = CreateShared(conn, "commits.dbf");
    const auto start = Clock::now();
    for (uint32_t i = 1; i <= kOneRowTransactions; ++i) {
        const Values v = ValuesOf(i);
        Check(KivBeginTransaction(conn), "KivBeginTransaction");
        Check(KivAppendRecord(t), "KivAppendRecord");
        Check(KivSetLong(t, "ID", v.id), "KivSetLong");
        Check(KivSetString(t, "NAME", v.name, v.nameLength), "KivSetString");
        Check(KivSetDouble(t, "AMOUNT", v.amount), "KivSetDouble");
        Check(KivWriteRecord(t), "KivWriteRecord");
        Check(KivCommitTransaction(conn), "KivCommitTransaction");
        Check(KivUnlockRecord(t, 0), "KivUnlockRecord");
    }
    const double rate = kOneRowTransactions / Seconds(start);
    Check(KivCloseTable(t), "KivCloseTable");
    Check(KivDisconnect(conn), "KivDisconnect");
    return rate;
}

double RunSqliteCommits(const std::string& dir) {
    sqlite3* db = nullptr;
    if (sqlite3_open((dir + "/commits.db").c_str(), &db) != SQLITE_OK) Fail("sqlite3_open failed");
    CheckSql(db, sqlite3_exec(db, "CREATE TABLE commits(id INTEGER, name TEXT, amount REAL)", nullptr, nullptr, nullptr),
             SQLITE_OK, "CREATE TABLE");
    sqlite3_stmt* insert = nullptr;
    CheckSql(db, sqlite3_prepare_v2(db, "INSERT INTO commits VALUES(?,?,?)", -1, &insert, nullptr), SQLITE_OK,
             "prepare");
    const auto start = Clock::now();
    for (uint32_t i = 1; i <= kOneRowTransactions; ++i) {
        const Values v = ValuesOf(i);
        CheckSql(db, sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), SQLITE_OK, "BEGIN");
        sqlite3_bind_int(insert, 1, v.id);
        sqlite3_bind_text(insert, 2, v.name, static_cast<int>(v.nameLength), SQLITE_TRANSIENT);
        sqlite3_bind_double(insert, 3, v.amount);
        CheckSql(db, sqlite3_step(insert), SQLITE_DONE, "INSERT");
        sqlite3_reset(insert);
        CheckSql(db, sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK, "COMMIT");
    }
    const double rate = kOneRowTransactions / Seconds(start);
    sqlite3_finalize(insert);
    sqlite3_close(db);
    return rate;
}

void PrintSharedScan(double shared, double sqlite) {
    std::printf("engine scan, shared open %12.0f records/s\n", shared);
    std::printf("shared scan ratio engine/sqlite %5.2f\n", shared / sqlite);
}

}  // namespace

int main(int argc, char** argv) {
    uint32_t n = 1000000;
    if (argc > 1) {
        char* end = nullptr;
        const unsigned long v = std::strtoul(argv[1], &end, 10);
        if (!*argv[1] || *end || v == 0 || v > 100000000) Fail("usage: qel32_bench [records, 1 to 100000000]");
        n = static_cast<uint32_t>(v);
    }
    std::string dir = (std::filesystem::temp_directory_path() / "qel32-bench-XXXXXX").string();
    if (!mkdtemp(dir.data())) Fail("cannot create a temporary folder");

    Sums engineSums, sharedSums, sqliteSums;
    const Rates engine = RunEngine(dir, n, engineSums);
    const double sharedScan = RunEngineSharedScan(dir, sharedSums);
    const Rates sqlite = RunSqlite(dir, n, sqliteSums);
    const OpenCost indexedOpen = MeasureIndexedOpen(dir);
    const HeldRates held = RunTransactionAppends(dir);
    const double engineCommits = RunEngineCommits(dir);
    const double sqliteCommits = RunSqliteCommits(dir);
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);

    std::printf("records                  %12u\n", n);
    std::printf("engine append            %12.0f records/s\n", engine.write);
    std::printf("engine scan              %12.0f records/s\n", engine.scan);
    std::printf("sqlite insert            %12.0f records/s\n", sqlite.write);
    std::printf("sqlite scan              %12.0f records/s\n", sqlite.scan);
    std::printf("append ratio engine/sqlite %10.2f\n", engine.write / sqlite.write);
    std::printf("scan ratio engine/sqlite   %10.2f\n", engine.scan / sqlite.scan);
    PrintSharedScan(sharedScan, sqlite.scan);
    std::printf("open with index          %12.2f ms, %.1f MB\n", indexedOpen.milliseconds, indexedOpen.megabytes);
    std::printf("shared appends in transactions of 100, first 100,000 %10.0f records/s\n", held.first);
    std::printf("shared appends in transactions of 100, last 100,000  %10.0f records/s\n", held.last);
    std::printf("last/first ratio         %12.2f\n", held.last / held.first);
    std::printf("engine one-row commits   %12.0f transactions/s (%u, durable)\n", engineCommits, kOneRowTransactions);
    std::printf("sqlite one-row commits   %12.0f transactions/s (default synchronous)\n", sqliteCommits);
    std::printf("commit ratio engine/sqlite %10.2f\n", engineCommits / sqliteCommits);
    if (!(engineSums == sqliteSums) || engineSums.records != n) Fail("the two scans read different data");
    if (!(sharedSums == sqliteSums)) Fail("the shared scan read different data");
    return 0;
}
