// kivdict: writes a data dictionary from a description file, after making
// the indexes the description asks for on its tables' files.
//
//   kivdict <dictionary> <description file>
//
// A line "index FILE TAG EXPRESSION [unique]" makes an index tag on a table
// file named relative to the dictionary's folder; every other line belongs
// to the dictionary's own description (see KivDDCreate in qel32.h).
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "qel32.h"

namespace {

int Fail(const char* what) {
    uint32_t code = 0;
    char text[600] = {};
    uint32_t len = sizeof text - 1;
    KivGetLastError(&code, text, &len);
    std::fprintf(stderr, "kivdict: %s failed: %u %s\n", what, code, text);
    return 1;
}

std::string Folder(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: kivdict <dictionary> <description file>\n");
        return 2;
    }
    std::ifstream in(argv[2]);
    if (!in) {
        std::perror(argv[2]);
        return 1;
    }
    KIVHANDLE conn = 0;
    if (KivConnect(Folder(argv[1]).c_str(), &conn) != KIV_OK) return Fail("KivConnect");
    std::string description;
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::string kind, file, tag, expression, unique;
        words >> kind;
        if (kind != "index") {
            description += line + "\n";
            continue;
        }
        words >> file >> tag >> expression >> unique;
        KIVHANDLE table = 0;
        KIVHANDLE index = 0;
        if (KivOpenTable(conn, file.c_str(), nullptr, KIV_TABLE_DEFAULT, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE,
                         KIV_RIGHTS_NO_CHECK, KIV_OPEN_EXCLUSIVE, &table) != KIV_OK)
            return Fail("KivOpenTable");
        if (KivCreateIndex(table, nullptr, tag.c_str(), expression.c_str(), nullptr, nullptr,
                           unique == "unique" ? KIV_INDEX_UNIQUE : 0, &index) != KIV_OK)
            return Fail("KivCreateIndex");
        if (KivCloseTable(table) != KIV_OK) return Fail("KivCloseTable");
    }
    if (KivDisconnect(conn) != KIV_OK) return Fail("KivDisconnect");
    if (KivDDCreate(argv[1], description.c_str()) != KIV_OK) return Fail("KivDDCreate");
    return 0;
}
