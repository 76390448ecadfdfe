// Holds a file open with write denied to others, as another program
// writing the error log would:
//   rowxpp_log_holder FILE
// opens FILE, creates FILE.held once it holds it, and keeps it open until
// its standard input ends.
#include <cstdio>
#include <string>

#include "xpp/files.h"

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    int64_t handle = xpp::FOpen(argv[1], xpp::FO_WRITE | xpp::FO_DENYWRITE);
    if (handle < 0) return 3;
    if (std::FILE* marker = std::fopen((std::string(argv[1]) + ".held").c_str(), "w")) std::fclose(marker);
    while (std::getchar() != EOF) {
    }
    xpp::FClose(handle);
    return 0;
}
