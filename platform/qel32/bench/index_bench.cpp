// index_bench: random seeks in an engine order against the same lookups
// through a SQLite index, on one set of records. Prints both rates and their
// ratio.
//
//   index_bench [records] [seeks]      (defaults 1000000 and 100000)
#include <sqlite3.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "bench_support.h"
#include "qel32.h"

namespace {

using bench::Check;
using bench::Clock;
using bench::Fail;
using bench::Seconds;


// The key of record i: a code that does not follow the record order.
std::string KeyOf(uint32_t i) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "K%09u", (i * 2654435761u) % 1000000007u);
    return buf;
}

}  // namespace

int main(int argc, char** argv) {
    const uint32_t n = argc > 1 ? static_cast<uint32_t>(std::strtoul(argv[1], nullptr, 10)) : 1000000;
    const uint32_t seeks = argc > 2 ? static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10)) : 100000;
    std::string dir = (std::filesystem::temp_directory_path() / "indexbench-XXXXXX").string();
    if (!mkdtemp(dir.data())) Fail("cannot make a temporary folder");
    std::mt19937 rng(42);
    std::vector<uint32_t> wanted(seeks);
    for (auto& w : wanted) w = 1 + rng() % n;

    KIVHANDLE conn, t, ix;
    Check(KivConnect(dir.c_str(), &conn), "KivConnect");
    Check(KivCreateTable(conn, "bench.dbf", nullptr, KIV_TABLE_CDX, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE,
                         KIV_RIGHTS_NO_CHECK, 0, "CODE,C,10;AMOUNT,N,10,2", &t),
          "KivCreateTable");
    for (uint32_t i = 1; i <= n; ++i) {
        const std::string key = KeyOf(i);
        Check(KivAppendRecord(t), "KivAppendRecord");
        Check(KivSetString(t, "CODE", key.c_str(), static_cast<uint32_t>(key.size())), "KivSetString");
    }
    Check(KivCreateIndex(t, nullptr, "BYCODE", "CODE", nullptr, nullptr, 0, &ix), "KivCreateIndex");
    uint32_t engineHits = 0;
    auto start = Clock::now();
    for (uint32_t w : wanted) {
        const std::string key = KeyOf(w);
        uint16_t found = 0;
        Check(KivSeek(ix, key.c_str(), static_cast<uint32_t>(key.size()), KIV_KEY_TEXT, KIV_SEEK_HARD, &found), "KivSeek");
        uint32_t recno = 0;
        Check(KivGetRecordNum(t, 2, &recno), "KivGetRecordNum");
        engineHits += found && recno == w;
    }
    const double engine = Seconds(start);
    Check(KivCloseTable(t), "KivCloseTable");
    Check(KivDisconnect(conn), "KivDisconnect");

    sqlite3* db = nullptr;
    if (sqlite3_open((dir + "/bench.sqlite").c_str(), &db) != SQLITE_OK) Fail("cannot open SQLite");
    sqlite3_exec(db, "PRAGMA synchronous=OFF; CREATE TABLE bench(code TEXT, amount REAL); BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* ins = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO bench(rowid, code) VALUES(?, ?)", -1, &ins, nullptr);
    for (uint32_t i = 1; i <= n; ++i) {
        const std::string key = KeyOf(i);
        sqlite3_bind_int(ins, 1, static_cast<int>(i));
        sqlite3_bind_text(ins, 2, key.c_str(), -1, SQLITE_TRANSIENT);
        if (sqlite3_step(ins) != SQLITE_DONE) Fail(sqlite3_errmsg(db));
        sqlite3_reset(ins);
    }
    sqlite3_finalize(ins);
    sqlite3_exec(db, "COMMIT; CREATE INDEX bycode ON bench(code)", nullptr, nullptr, nullptr);
    sqlite3_stmt* q = nullptr;
    sqlite3_prepare_v2(db, "SELECT rowid FROM bench WHERE code = ?", -1, &q, nullptr);
    uint32_t sqliteHits = 0;
    start = Clock::now();
    for (uint32_t w : wanted) {
        const std::string key = KeyOf(w);
        sqlite3_bind_text(q, 1, key.c_str(), -1, SQLITE_TRANSIENT);
        if (sqlite3_step(q) == SQLITE_ROW && static_cast<uint32_t>(sqlite3_column_int(q, 0)) == w) ++sqliteHits;
        sqlite3_reset(q);
    }
    const double sqlite = Seconds(start);
    sqlite3_finalize(q);
    sqlite3_close(db);
    std::filesystem::remove_all(dir);
    if (engineHits != seeks || sqliteHits != seeks) Fail("a lookup missed its record");
    std::printf("records                 %10u\n", n);
    std::printf("engine seeks/s          %10.0f\n", seeks / engine);
    std::printf("sqlite lookups/s        %10.0f\n", seeks / sqlite);
    std::printf("rate ratio engine/sqlite %9.2f  (goal: at least 1)\n", sqlite / engine);
    return 0;
}
