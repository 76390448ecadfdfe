// index_bench: random seeks in an engine order against the same lookups
// through a SQLite index, on one set of records. Prints both rates and their
// ratio. Then seeks for 5 seconds in a shared open, alone and while a second
// process locks a random record every 100 ms, changes its AMOUNT, writes it
// and unlocks it: prints both seek rates, their ratio (goal: at least 0.5)
// and the writer's number of updates (goal: 50).
//
//   index_bench [records] [seeks]      (defaults 1000000 and 100000)
#include <signal.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

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

// Seeks random keys in a shared open for the given seconds; the rate.
double SharedSeekRate(const std::string& dir, uint32_t n, double seconds) {
    KIVHANDLE conn = 0, t = 0, ix = 0;
    Check(KivConnect(dir.c_str(), &conn), "KivConnect");
    Check(KivOpenTable(conn, "bench.dbf", nullptr, KIV_TABLE_CDX, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE,
                       KIV_RIGHTS_NO_CHECK, KIV_OPEN_SHARED, &t),
          "KivOpenTable");
    Check(KivGetIndexHandle(t, "BYCODE", &ix), "KivGetIndexHandle");
    std::mt19937 rng(7);
    uint64_t done = 0;
    const auto start = Clock::now();
    while (Seconds(start) < seconds) {
        const std::string key = KeyOf(1 + rng() % n);
        uint16_t found = 0;
        Check(KivSeek(ix, key.c_str(), static_cast<uint32_t>(key.size()), KIV_KEY_TEXT, KIV_SEEK_HARD, &found), "KivSeek");
        if (!found) Fail("a seek missed its record");
        ++done;
    }
    const double rate = static_cast<double>(done) / Seconds(start);
    Check(KivCloseTable(t), "KivCloseTable");
    Check(KivDisconnect(conn), "KivDisconnect");
    return rate;
}

// A second process that every 100 ms locks a random record, sets its AMOUNT,
// writes and unlocks it, until it is stopped; it ends with its number of
// updates as its exit status.
pid_t StartWriter(const std::string& dir, uint32_t n) {
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    static volatile sig_atomic_t stop = 0;
    ::signal(SIGTERM, [](int) { stop = 1; });
    KIVHANDLE conn = 0, t = 0;
    if (KivConnect(dir.c_str(), &conn) ||
        KivOpenTable(conn, "bench.dbf", nullptr, KIV_TABLE_CDX, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE,
                     KIV_RIGHTS_NO_CHECK, KIV_OPEN_SHARED, &t))
        ::_exit(255);
    std::mt19937 rng(11);
    int updates = 0;
    while (!stop) {
        const auto start = Clock::now();
        const uint32_t recno = 1 + rng() % n;
        if (KivLockRecord(t, recno) == KIV_OK) {
            if (KivGotoRecord(t, recno) == KIV_OK && KivSetDouble(t, "AMOUNT", updates + 0.5) == KIV_OK &&
                KivWriteRecord(t) == KIV_OK)
                ++updates;
            KivUnlockRecord(t, recno);
        }
        const double left = 0.1 - Seconds(start);
        if (left > 0 && !stop) ::usleep(static_cast<useconds_t>(left * 1e6));
    }
    KivCloseTable(t);
    ::_exit(updates > 254 ? 254 : updates);
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

    // Seeks in a shared open, alone and beside a writing process.
    const double alone = SharedSeekRate(dir, n, 5.0);
    const pid_t writer = StartWriter(dir, n);
    const double beside = SharedSeekRate(dir, n, 5.0);
    ::kill(writer, SIGTERM);
    int status = 0;
    ::waitpid(writer, &status, 0);
    const int updates = WIFEXITED(status) ? WEXITSTATUS(status) : -1;

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
    std::printf("shared seeks/s, alone   %10.0f\n", alone);
    std::printf("shared seeks/s, writer  %10.0f  (another process updates a record every 100 ms)\n", beside);
    std::printf("seek ratio with/without writer %5.2f  (goal: at least 0.5)\n", beside / alone);
    std::printf("writer updates in 5 s   %10d  (goal: 50)\n", updates);
    return 0;
}
