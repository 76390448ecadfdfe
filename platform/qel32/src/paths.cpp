#include "paths.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <vector>

namespace qel32 {

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

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

namespace {

bool Exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

// The entry of dir whose name equals name without regard to case.
std::string MatchEntry(const std::string& dir, const std::string& name) {
    const std::string full = (dir.empty() ? std::string() : (dir == "/" ? dir : dir + "/")) + name;
    if (Exists(full.empty() ? std::string(".") : full)) return name;
    DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
    if (!d) return name;
    std::string found = name;
    while (dirent* e = ::readdir(d)) {
        if (EqualsNoCase(e->d_name, name)) {
            found = e->d_name;
            break;
        }
    }
    ::closedir(d);
    return found;
}

std::string CurrentDirectory() {
    char buf[4096];
    return ::getcwd(buf, sizeof buf) ? std::string(buf) : std::string(".");
}

}  // namespace

std::string MapPath(std::string_view raw, const std::string& base) {
    std::string p(raw);
    while (!p.empty() && (p.back() == ' ' || p.back() == '\0')) p.pop_back();
    for (char& c : p)
        if (c == '\\') c = '/';

    std::string root;  // directory the path is relative to, or "/" for absolute
    if (p.size() >= 2 && std::isalpha(static_cast<unsigned char>(p[0])) && p[1] == ':') {
        const std::string var = std::string("KIV_DRIVE_") + static_cast<char>(std::toupper(p[0]));
        const char* mapped = std::getenv(var.c_str());
        p.erase(0, 2);
        if (!p.empty() && p[0] == '/') {
            root = mapped && *mapped ? mapped : "/";
        } else {
            root = mapped && *mapped ? std::string(mapped) : CurrentDirectory();
        }
    } else if (p.size() >= 2 && p[0] == '/' && p[1] == '/') {
        root = "/";  // UNC names are taken as absolute paths of this machine
    } else if (!p.empty() && p[0] == '/') {
        root = "/";
    } else {
        root = base.empty() ? std::string() : base;
    }

    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= p.size()) {
        size_t end = p.find('/', start);
        if (end == std::string::npos) end = p.size();
        std::string part = p.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty() && parts.back() != "..") parts.pop_back();
            else parts.push_back(part);
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }

    std::string out = root;
    for (const std::string& part : parts) {
        const std::string name = part == ".." ? part : MatchEntry(out, part);
        if (out.empty()) out = name;
        else if (out.back() == '/') out += name;
        else out += "/" + name;
    }
    if (out.empty()) out = ".";
    return out;
}

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
    const std::string exact = stem + std::string(ext);
    if (FileExists(exact)) return exact;
    const std::string dir = DirectoryPart(stem);
    const std::string want = FilePart(stem) + std::string(ext);
    DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
    if (!d) return "";
    std::string found;
    while (dirent* e = ::readdir(d)) {
        if (EqualsNoCase(e->d_name, want)) {
            found = dir.empty() ? std::string(e->d_name) : (dir == "/" ? "/" : dir + "/") + e->d_name;
            break;
        }
    }
    ::closedir(d);
    return found;
}

}  // namespace qel32
