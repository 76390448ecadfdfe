// Plays an Xbase++ program for tests that need a process of their own.
//
//   xpp_child errorblock   a runtime error reaches the default error block
//   xpp_child break        a BREAK without a recovery sequence
//   xpp_child normal       the program returns from main
//   xpp_child threadbreak  a BREAK without a recovery sequence in a runtime thread
//   xpp_child fopen FILE   FOpen(FILE, 33); exit 0 when refused by sharing, 2 when opened
#include <cstdio>
#include <cstring>

#include "xpp/xpp.h"

namespace {

void DeclareLibraries() {
    // two libraries, each with its EXIT procedure
    xpp::DeclareModule("FIRSTLIB", [] { std::printf("INIT FIRSTLIB\n"); },
                       [] { std::printf("EXIT FIRSTLIB byError=%d\n", xpp::AppEndedByError() ? 1 : 0); });
    xpp::DeclareModule("SECONDLIB", [] { std::printf("INIT SECONDLIB\n"); },
                       [] { std::printf("EXIT SECONDLIB byError=%d\n", xpp::AppEndedByError() ? 1 : 0); });
    xpp::InitModules();
    xpp::ThreadObject()->atEnd(xpp::Block([](xpp::Args&) {
        std::printf("ATEND main\n");
        return xpp::Value();
    }));
    std::fflush(stdout);
}

void Level2(const char* mode) {
    XPP_FRAME("LEVEL2");
    XPP_LINE();
    if (std::strcmp(mode, "errorblock") == 0) xpp::Array{1}.Get(3);
    else xpp::Break("no one recovers");
    std::printf("not reached\n");
}

void Level1(const char* mode) {
    XPP_FRAME("LEVEL1");
    XPP_LINE();
    Level2(mode);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 3;
    std::string mode = argv[1];
    if (mode == "fopen" && argc > 2) {
        int64_t h = xpp::FOpen(argv[2], xpp::FO_WRITE | xpp::FO_DENYWRITE);
        if (h >= 0) return 2;
        return xpp::DosError() == xpp::DOSERR_SHARING_VIOLATION ? 0 : 4;
    }
    DeclareLibraries();
    if (mode == "normal") return 0;
    if (mode == "threadbreak") {
        auto thread = xpp::Thread::New();
        thread->start(xpp::Block([](xpp::Args&) -> xpp::Value {
            XPP_FRAME("WORKER");
            xpp::Break("from the worker");
        }));
        thread->synchronize();
        return 6;
    }
    Level1(mode.c_str());
    return 5;
}
