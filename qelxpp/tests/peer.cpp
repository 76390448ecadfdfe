// A second program on the same tables, for the tests of locks between
// processes. It loads QELXPP as a program does, works in the folder given
// as its argument, and answers one line for every command line it reads:
//
//   use FILE shared|exclusive   DBUSEAREA in a new area
//   select N    close    goto N    rlock    dbrlock [N]    flock    unlock
//   append    commit    recno    get N    put N TEXT
//   replicate TABLE CONNECTION   the table named for replication into the
//                                ODBC database of the connection string
//
// The answer is the function's result, the last engine result, NETERR()
// and what reached the error block during the command:
//   "L:.F. last=5035 neterr=.F. errors=0"
#include <unistd.h>

#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include <xpp/xpp.h>

#include "qelxpp/qelxpp.h"
#include "qelxpp/testing.h"

using namespace qelxpp;
using xpp::Value;

namespace {

Value Run(const std::string& line) {
    std::istringstream in(line);
    std::string command, word;
    in >> command;
    std::vector<std::string> words;
    while (in >> word) words.push_back(word);
    auto number = [&](size_t i) { return i < words.size() ? Value(std::stoll(words[i])) : Value(); };
    if (command == "use")
        return DBUSEAREA(true, Value(), words.at(0), Value(), words.size() < 2 || words[1] != "exclusive");
    if (command == "select") return DBSELECTAREA(number(0));
    if (command == "close") return DBCLOSEALL();
    if (command == "goto") return DBGOTO(number(0));
    if (command == "rlock") return RLOCK();
    if (command == "dbrlock") return DBRLOCK(number(0));
    if (command == "flock") return FLOCK();
    if (command == "unlock") return DBUNLOCK();
    if (command == "append") return DBAPPEND();
    if (command == "commit") return DBCOMMIT();
    if (command == "recno") return RECNO();
    if (command == "get") return FIELDGET(number(0));
    if (command == "put") return FIELDPUT(number(0), words.size() > 1 ? Value(words[1]) : Value());
    if (command == "replicate") {
        std::string connect;
        for (size_t i = 1; i < words.size(); ++i) connect += (i > 1 ? " " : "") + words[i];
        QELSQLREPLICATE(words.at(0));
        return QELSQLREPLICATECONNECTION(connect);
    }
    return "unknown command";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 || chdir(argv[1]) != 0) return 2;
    std::vector<std::string> reported;
    xpp::ErrorBlock(xpp::Block([&](xpp::Args& a) {
        reported.push_back(a.Get(1).As<xpp::Error>()->description.Str());
        return Value();
    }));
    if (!xpp::LoadModule(QELXPP_LIBRARY) || !reported.empty()) return 3;
    for (std::string line; std::getline(std::cin, line) && line != "quit";) {
        reported.clear();
        xpp::NetErr(false);
        Value result = Run(line);
        std::cout << xpp::ValType(result) << ":" << xpp::Var2Char(result)
                  << " last=" << xpp::Var2Char(qelxpp::testing::LastResult())
                  << " neterr=" << (xpp::NetErr() ? ".T." : ".F.") << " errors=" << reported.size();
        for (const std::string& text : reported) std::cout << " [" << text << "]";
        std::cout << std::endl;
    }
    xpp::Quit(0);
}
