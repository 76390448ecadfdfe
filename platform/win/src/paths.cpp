// The Windows-form path rule shared by the engine and the runtime's file
// functions.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <vector>

#include "kivwin/win.h"

namespace kivwin {

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
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

}  // namespace kivwin
