// One transaction, for a system call trace: makes table r in the folder
// given, then changes record 1 (name and memo) in a transaction of a shared
// open and commits it. Lines written to standard error mark the steps:
// "WRITE" before the record is written, "COMMIT" before the commit, "DONE"
// after it.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "system_support.h"

namespace {

void Mark(const char* step) {
    const std::string line = std::string(step) + "\n";
    if (::write(2, line.data(), line.size()) < 0) {
        // the trace shows the attempt all the same
    }
}

int Fail(const char* what) {
    std::fprintf(stderr, "%s failed: %s\n", what, systest::LastError().c_str());
    return 1;
}

KIVRESULT SetText(KIVHANDLE t, const char* field, const char* text) {
    return KivSetField(t, field, text, static_cast<uint32_t>(std::strlen(text)));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s folder table-type\n", argv[0]);
        return 2;
    }
    const auto type = static_cast<uint16_t>(std::stoi(argv[2]));
    KIVHANDLE conn = 0, t = 0;
    if (KivConnect(argv[1], &conn)) return Fail("KivConnect");
    if (KivCreateTable(conn, "r", nullptr, type, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE, KIV_RIGHTS_NO_CHECK, 0,
                       "NAME,C,20;NOTE,M", &t))
        return Fail("KivCreateTable");
    for (const char* name : {"orig1", "orig2", "orig3"})
        if (KivAppendRecord(t) || SetText(t, "NAME", name)) return Fail("KivAppendRecord");
    if (KivCloseTable(t)) return Fail("KivCloseTable");
    if (KivOpenTable(conn, "r", nullptr, type, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE, KIV_RIGHTS_NO_CHECK,
                     KIV_OPEN_SHARED, &t))
        return Fail("KivOpenTable");
    if (KivBeginTransaction(conn)) return Fail("KivBeginTransaction");
    if (KivGotoRecord(t, 1) || KivLockRecord(t, 1) || SetText(t, "NAME", "committed") ||
        SetText(t, "NOTE", "a memo of the transaction"))
        return Fail("changing record 1");
    Mark("WRITE");
    if (KivWriteRecord(t) || KivUnlockRecord(t, 1)) return Fail("KivWriteRecord");
    Mark("COMMIT");
    if (KivCommitTransaction(conn)) return Fail("KivCommitTransaction");
    Mark("DONE");
    if (KivCloseTable(t) || KivDisconnect(conn)) return Fail("closing");
    return 0;
}
