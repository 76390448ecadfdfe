// Opens of a table, for a system call trace: makes table r (a memo field
// and, for the types that have one, a production index) in the folder given,
// then opens and closes it and inserts a row through SQL. With a third
// argument "upper" the memo and index files are renamed to upper case before
// the open. Lines written to standard error mark the steps: "OPEN" before the
// open, "CLOSED" after the close, "INSERT" before a first INSERT, "INSERTED"
// after it and "AGAIN" after a second one.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "system_support.h"

using systest::CallFailed;
using systest::MarkStep;

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s folder table-type [upper]\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    const auto type = static_cast<uint16_t>(std::stoi(argv[2]));
    const bool upper = argc > 3 && std::string(argv[3]) == "upper";
    KIVHANDLE conn = 0, t = 0, ix = 0, st = 0;
    if (KivConnect(folder.c_str(), &conn)) return CallFailed("KivConnect");
    if (KivCreateTable(conn, "r", nullptr, type, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE, KIV_RIGHTS_NO_CHECK, 0,
                       "NAME,C,20;NOTE,M", &t))
        return CallFailed("KivCreateTable");
    if (KivAppendRecord(t) || KivSetField(t, "NAME", "Zo\xEB", 3) || KivSetField(t, "NOTE", "premi\xE8re note", 13) ||
        KivWriteRecord(t))
        return CallFailed("KivAppendRecord");
    if (type != KIV_TABLE_NTX && KivCreateIndex(t, nullptr, "BYNAME", "NAME", nullptr, nullptr, 0, &ix))
        return CallFailed("KivCreateIndex");
    if (KivCloseTable(t)) return CallFailed("KivCloseTable");
    if (upper) {
        for (const char* ext : {"dbt", "fpt", "kdm", "cdx", "kdi"}) {
            const std::string from = folder + "/r." + ext;
            std::string to = folder + "/R.";
            for (const char* c = ext; *c; ++c) to += static_cast<char>(*c - 'a' + 'A');
            if (::access(from.c_str(), F_OK) == 0 && std::rename(from.c_str(), to.c_str()) != 0) return CallFailed("rename");
        }
    }

    MarkStep("OPEN");
    if (KivOpenTable(conn, "r", nullptr, type, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE, KIV_RIGHTS_NO_CHECK,
                     KIV_OPEN_SHARED, &t))
        return CallFailed("KivOpenTable");
    char note[64] = {};
    uint32_t len = sizeof note;
    if (KivGotoTop(t) || KivGetField(t, "NOTE", note, &len, 0) || std::string(note, len) != "premi\xE8re note")
        return CallFailed("reading the memo");
    uint32_t keys = 0;
    if (type != KIV_TABLE_NTX && (KivGetIndexHandle(t, "BYNAME", &ix) || KivGetKeyCount(ix, KIV_COUNT_IGNORE_FILTERS, &keys) ||
                                  keys != 1))
        return CallFailed("the production index");
    if (KivCloseTable(t)) return CallFailed("KivCloseTable");
    MarkStep("CLOSED");

    if (KivCreateSQLStatement(conn, &st)) return CallFailed("KivCreateSQLStatement");
    MarkStep("INSERT");
    if (KivExecuteSQLDirect(st, "INSERT INTO r (NAME) VALUES ('\xC5sa')", nullptr)) return CallFailed("INSERT");
    MarkStep("INSERTED");
    if (KivExecuteSQLDirect(st, "INSERT INTO r (NAME) VALUES ('\xD8ystein')", nullptr)) return CallFailed("INSERT");
    MarkStep("AGAIN");
    if (KivCloseSQLStatement(st) || KivDisconnect(conn)) return CallFailed("closing");
    return 0;
}
