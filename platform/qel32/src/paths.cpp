#include "paths.h"

#include "kivwin/win.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <vector>

namespace qel32 {

bool EqualsNoCase(std::string_view a, std::string_view b) { return kivwin::EqualsNoCase(a, b); }

std::string Upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

bool FileExists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string MapPath(std::string_view raw, const std::string& base) { return kivwin::MapPath(raw, base); }

std::string Extension(std::string_view path) {
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) return "";
    return std::string(path.substr(dot));
}

std::string StripExtension(std::string_view path) {
    return std::string(path.substr(0, path.size() - Extension(path).size()));
}

std::string DirectoryPart(std::string_view path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash == 0 ? 1 : slash));
}

std::string FilePart(std::string_view path) {
    const size_t slash = path.find_last_of('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string FindWithExtension(const std::string& stem, std::string_view ext) {
    const std::string dir = DirectoryPart(stem);
    const std::string found = kivwin::FindEntry(dir, FilePart(stem) + std::string(ext));
    if (found.empty()) return found;
    return dir.empty() ? found : (dir == "/" ? "/" : dir + "/") + found;
}

}  // namespace qel32
