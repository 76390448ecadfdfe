// folder_bench: opens and autocommit INSERTs of a table with a memo field
// and a production index, in a folder of its own and beside many other
// files. Prints the time of one open-and-close and of one INSERT in each.
//
//   folder_bench [other files] [opens] [inserts]      (defaults 5000, 2000 and 200)
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench_support.h"
#include "qel32.h"

namespace {

using bench::Check;
using bench::Clock;
using bench::Fail;
using bench::Seconds;

struct Times {
    double open;    // seconds per open and close
    double insert;  // seconds per INSERT
};

Times Run(uint32_t others, uint32_t opens, uint32_t inserts) {
    std::string dir = (std::filesystem::temp_directory_path() / "folderbench-XXXXXX").string();
    if (!mkdtemp(dir.data())) Fail("cannot make a temporary folder");
    for (uint32_t i = 0; i < others; ++i) std::ofstream(dir + "/other" + std::to_string(i) + ".txt") << i;
    KIVHANDLE conn = 0, t = 0, ix = 0, st = 0;
    Check(KivConnect(dir.c_str(), &conn), "KivConnect");
    Check(KivCreateTable(conn, "bench", nullptr, KIV_TABLE_CDX, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE, KIV_RIGHTS_NO_CHECK,
                         0, "ID,N,10;NAME,C,20;NOTE,M", &t),
          "KivCreateTable");
    Check(KivCreateIndex(t, nullptr, "BYID", "ID", nullptr, nullptr, 0, &ix), "KivCreateIndex");
    Check(KivCloseTable(t), "KivCloseTable");

    Times times{};
    auto start = Clock::now();
    for (uint32_t i = 0; i < opens; ++i) {
        Check(KivOpenTable(conn, "bench", nullptr, KIV_TABLE_CDX, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE, KIV_RIGHTS_NO_CHECK,
                           KIV_OPEN_SHARED, &t),
              "KivOpenTable");
        Check(KivCloseTable(t), "KivCloseTable");
    }
    times.open = Seconds(start) / opens;

    Check(KivCreateSQLStatement(conn, &st), "KivCreateSQLStatement");
    start = Clock::now();
    for (uint32_t i = 1; i <= inserts; ++i) {
        const std::string sql = "INSERT INTO bench (ID, NAME) VALUES (" + std::to_string(i) + ", 'customer " +
                                std::to_string(i) + "')";
        Check(KivExecuteSQLDirect(st, sql.c_str(), nullptr), "INSERT");
    }
    times.insert = Seconds(start) / inserts;
    Check(KivCloseSQLStatement(st), "KivCloseSQLStatement");
    Check(KivDisconnect(conn), "KivDisconnect");
    std::filesystem::remove_all(dir);
    return times;
}

}  // namespace

int main(int argc, char** argv) {
    const uint32_t others = argc > 1 ? static_cast<uint32_t>(std::stoul(argv[1])) : 5000;
    const uint32_t opens = argc > 2 ? static_cast<uint32_t>(std::stoul(argv[2])) : 2000;
    const uint32_t inserts = argc > 3 ? static_cast<uint32_t>(std::stoul(argv[3])) : 200;
    const Times alone = Run(0, opens, inserts);
    const Times beside = Run(others, opens, inserts);
    std::printf("open and close, own folder:           %8.1f us\n", alone.open * 1e6);
    std::printf("open and close, beside %6u files:   %8.1f us\n", others, beside.open * 1e6);
    std::printf("autocommit INSERT, own folder:        %8.1f us\n", alone.insert * 1e6);
    std::printf("autocommit INSERT, beside %6u files:%8.1f us\n", others, beside.insert * 1e6);
    return 0;
}
