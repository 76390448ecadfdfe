// What the benchmark programs share: failing loudly, timing, and the rows
// of five fields that the engine and SQLite both store.
#pragma once

#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "qel32.h"

namespace bench {

using Clock = std::chrono::steady_clock;

[[noreturn]] inline void Fail(const std::string& what) {
    std::fprintf(stderr, "benchmark: %s\n", what.c_str());
    std::exit(1);
}

inline void Check(KIVRESULT rc, const char* call) {
    if (rc == KIV_OK) return;
    uint32_t code = 0;
    char text[600] = {};
    uint32_t len = sizeof text - 1;
    KivGetLastError(&code, text, &len);
    Fail(std::string(call) + " failed: " + std::to_string(code) + " " + text);
}

inline double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

inline void CheckSql(sqlite3* db, int rc, int expected, const char* what) {
    if (rc != expected) Fail(std::string(what) + " failed: " + sqlite3_errmsg(db));
}

// The values of record i (1-based), the same for every store.
struct Values {
    int32_t id;
    char name[24];
    uint32_t nameLength;
    double amount;
    int32_t julian;
    bool flag;
};

constexpr int32_t kFirstDay = 2451545;  // 2000-01-01

inline Values ValuesOf(uint32_t i) {
    Values v;
    v.id = static_cast<int32_t>(i);
    v.nameLength = static_cast<uint32_t>(std::snprintf(v.name, sizeof v.name, "customer %u", i));
    v.amount = static_cast<double>(i % 1000000) / 100.0;
    v.julian = kFirstDay + static_cast<int32_t>(i % 3650);
    v.flag = (i & 1) != 0;
    return v;
}

// A new table "bench.dbf" in the connection's folder for those values.
inline KIVHANDLE CreateValuesTable(KIVHANDLE conn) {
    KIVHANDLE t = 0;
    Check(KivCreateTable(conn, "bench.dbf", nullptr, KIV_TABLE_CDX, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE,
                         KIV_RIGHTS_NO_CHECK, 0, "ID,N,10;NAME,C,20;AMOUNT,N,12,2;DAY,D;FLAG,L", &t),
          "KivCreateTable");
    return t;
}

// Appends records 1 to n and writes the last.
inline void AppendValues(KIVHANDLE t, uint32_t n) {
    for (uint32_t i = 1; i <= n; ++i) {
        const Values v = ValuesOf(i);
        Check(KivAppendRecord(t), "KivAppendRecord");
        Check(KivSetLong(t, "ID", v.id), "KivSetLong");
        Check(KivSetString(t, "NAME", v.name, v.nameLength), "KivSetString");
        Check(KivSetDouble(t, "AMOUNT", v.amount), "KivSetDouble");
        Check(KivSetJulian(t, "DAY", v.julian), "KivSetJulian");
        Check(KivSetLogical(t, "FLAG", v.flag ? 1 : 0), "KivSetLogical");
    }
    Check(KivWriteRecord(t), "KivWriteRecord");
}

}  // namespace bench
