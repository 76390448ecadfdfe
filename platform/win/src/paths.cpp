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

thread_local FolderSnapshot* tSnapshot = nullptr;

}  // namespace

std::vector<std::string> ReadFolder(const std::string& folder) {
    std::vector<std::string> names;
    DIR* d = ::opendir(folder.empty() ? "." : folder.c_str());
    if (!d) return names;
    while (const dirent* e = ::readdir(d)) {
        const std::string_view name = e->d_name;
        if (name != "." && name != "..") names.emplace_back(name);
    }
    ::closedir(d);
    return names;
}

FolderSnapshot::FolderSnapshot() {
    if (tSnapshot) return;
    tSnapshot = this;
    active_ = true;
}

FolderSnapshot::~FolderSnapshot() {
    if (active_) tSnapshot = nullptr;
}

const std::vector<std::string>& FolderSnapshot::Reading(const std::string& folder) {
    const std::string key = folder.empty() ? std::string(".") : folder;
    auto it = read_.find(key);
    if (it == read_.end()) it = read_.emplace(key, ReadFolder(folder)).first;
    return it->second;
}

// The snapshot's reading of folder, or a fresh one kept in scratch.
const std::vector<std::string>& Listing(const std::string& folder, std::vector<std::string>& scratch) {
    if (!tSnapshot) return scratch = ReadFolder(folder);
    return tSnapshot->Reading(folder);
}

std::vector<std::string> FolderEntries(const std::string& folder) {
    std::vector<std::string> scratch;
    return Listing(folder, scratch);
}

std::string FindEntry(const std::string& folder, const std::string& name) {
    const std::string full = (folder.empty() ? std::string() : (folder == "/" ? folder : folder + "/")) + name;
    if (Exists(full.empty() ? std::string(".") : full)) return name;
    std::vector<std::string> scratch;
    for (const std::string& entry : Listing(folder, scratch))
        if (EqualsNoCase(entry, name)) return entry;
    return std::string();
}

namespace {

// The entry of dir whose name equals name without regard to case (name
// itself when there is none).
std::string MatchEntry(const std::string& dir, const std::string& name) {
    const std::string found = FindEntry(dir, name);
    return found.empty() ? name : found;
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
