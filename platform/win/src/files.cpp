#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "kivwin/win.h"

namespace kivwin {
namespace fs = std::filesystem;

namespace {

bool IsRegularFile(const fs::path& p) {
  std::error_code ec;
  return fs::is_regular_file(p, ec);
}

std::string Absolute(const fs::path& p) {
  std::error_code ec;
  fs::path a = fs::absolute(p, ec);
  return (ec ? p : a.lexically_normal()).string();
}

}  // namespace

std::string ExecutableDir() {
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return ec ? std::string(".") : exe.parent_path().string();
}

std::string ModuleFileName(const void* address) {
  Dl_info info{};
  if (dladdr(address, &info) == 0 || info.dli_fname == nullptr || info.dli_fname[0] == 0)
    return {};
  return Absolute(info.dli_fname);
}

std::optional<std::string> SearchPath(const std::string& fileName, const std::string& folder) {
  if (fileName.empty()) return std::nullopt;
  if (fileName.find('/') != std::string::npos) {
    if (IsRegularFile(fileName)) return Absolute(fileName);
    return std::nullopt;
  }
  std::vector<fs::path> folders;
  if (!folder.empty()) {
    folders.emplace_back(folder);
  } else {
    folders.emplace_back(ExecutableDir());
    folders.emplace_back(".");
    if (const char* path = std::getenv("PATH")) {
      std::string_view rest(path);
      while (true) {
        size_t colon = rest.find(':');
        std::string_view part = rest.substr(0, colon);
        if (!part.empty()) folders.emplace_back(std::string(part));
        if (colon == std::string_view::npos) break;
        rest.remove_prefix(colon + 1);
      }
    }
  }
  for (const fs::path& dir : folders) {
    fs::path candidate = dir / fileName;
    if (IsRegularFile(candidate)) return Absolute(candidate);
  }
  return std::nullopt;
}

std::string GetTempPath() {
  const char* dir = std::getenv("TMPDIR");
  std::string path = (dir && *dir) ? dir : "/tmp";
  if (path.back() != '/') path += '/';
  return path;
}

std::string GetTempFileName(const std::string& folder, std::string_view prefix) {
  static std::atomic<unsigned> counter{0};
  std::string dir = folder.empty() ? std::string(".") : folder;
  if (dir.back() != '/') dir += '/';
  const std::string pre(prefix.substr(0, 3));
  // Start from a number that differs between processes so that two programs
  // rarely race for the same name; O_EXCL settles the races that remain.
  const unsigned base = static_cast<unsigned>(getpid()) * 7919u;
  for (unsigned attempt = 0; attempt < 0x10000; ++attempt) {
    unsigned unique = ((base + counter.fetch_add(1)) & 0xFFFFu);
    if (unique == 0) continue;
    char name[16];
    std::snprintf(name, sizeof name, "%X", unique);
    std::string path = dir + pre + name + ".TMP";
    int fd = ::open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY, 0600);
    if (fd >= 0) {
      ::close(fd);
      return path;
    }
    if (errno != EEXIST) return {};
  }
  return {};
}

}  // namespace kivwin
