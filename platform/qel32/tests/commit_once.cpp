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

using systest::CallFailed;
using systest::MarkStep;

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
    if (KivConnect(argv[1], &conn)) return CallFailed("KivConnect");
    if (KivCreateTable(conn, "r", nullptr, type, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE, KIV_RIGHTS_NO_CHECK, 0,
                       "NAME,C,20;NOTE,M", &t))
        return CallFailed("KivCreateTable");
    for (const char* name : {"orig1", "orig2", "orig3"})
        if (KivAppendRecord(t) || SetText(t, "NAME", name)) return CallFailed("KivAppendRecord");
    if (KivCloseTable(t)) return CallFailed("KivCloseTable");
    if (KivOpenTable(conn, "r", nullptr, type, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE, KIV_RIGHTS_NO_CHECK,
                     KIV_OPEN_SHARED, &t))
        return CallFailed("KivOpenTable");
    if (KivBeginTransaction(conn)) return CallFailed("KivBeginTransaction");
    if (KivGotoRecord(t, 1) || KivLockRecord(t, 1) || SetText(t, "NAME", "committed") ||
        SetText(t, "NOTE", "a memo of the transaction"))
        return CallFailed("changing record 1");
    MarkStep("WRITE");
    if (KivWriteRecord(t) || KivUnlockRecord(t, 1)) return CallFailed("KivWriteRecord");
    MarkStep("COMMIT");
    if (KivCommitTransaction(conn)) return CallFailed("KivCommitTransaction");
    MarkStep("DONE");
    if (KivCloseTable(t) || KivDisconnect(conn)) return CallFailed("closing");
    return 0;
}
