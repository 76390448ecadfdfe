#include "util/engine.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "util/helpers.h"
#include "qel32.h"

namespace kivodbc {

EngineBinding& EngineBinding::Instance() {
  static EngineBinding binding;
  return binding;
}

std::string EngineBinding::LoadFailureText() {
  char text[300];
  std::snprintf(text, sizeof text, "Failed to load library %s.", kLibraryName);
  return text;
}

std::string EngineBinding::LibraryPath() const {
  if (!overridePath_.empty()) return overridePath_;
  const std::string driver = DriverModulePath();
  const size_t slash = driver.rfind('/');
  if (slash == std::string::npos) return kLibraryName;
  return driver.substr(0, slash + 1) + kLibraryName;
}

void EngineBinding::UseLibraryForTesting(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  overridePath_ = path;
  for (auto& function : functions_) function.store(nullptr);
  // The old library stays loaded: functions handed out earlier stay valid.
  library_ = nullptr;
}

std::string EngineBinding::LastFailure() {
  std::lock_guard<std::mutex> lock(mutex_);
  return lastFailure_;
}

void EngineBinding::ReportFailure(const std::string& reason) {
  // Kept for the caller's diagnostic: a driver writes nothing on its host's
  // streams.
  std::lock_guard<std::mutex> lock(mutex_);
  lastFailure_ = LoadFailureText() + (reason.empty() ? "" : " " + reason);
}

void* EngineBinding::Library(std::string* reason) {
  if (library_ != nullptr) return library_;
  const std::string beside = LibraryPath();
  library_ = dlopen(beside.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library_ != nullptr) return library_;
  const char* besideError = dlerror();
  *reason = besideError != nullptr ? besideError : "";
  // Not beside the driver: the loader searches on (LD_LIBRARY_PATH, its
  // cache, its folders). A file beside the driver that would not load keeps
  // its own reason.
  if (overridePath_.empty()) {
    library_ = dlopen(kLibraryName, RTLD_NOW | RTLD_LOCAL);
    const char* searchError = library_ == nullptr ? dlerror() : nullptr;
    if (searchError != nullptr && access(beside.c_str(), F_OK) != 0) *reason = searchError;
  }
  return library_;
}

void* EngineBinding::Resolve(uint16_t ordinal) {
  if (ordinal < kMaxOrdinal) {
    if (void* known = functions_[ordinal].load(std::memory_order_acquire)) return known;
  }
  const char* name = nullptr;
  for (const KivOrdinalEntry& entry : kivOrdinalTable) {
    if (entry.ordinal == ordinal) {
      name = entry.name;
      break;
    }
  }
  void* function = nullptr;
  std::string reason;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (name != nullptr && Library(&reason) != nullptr) function = dlsym(library_, name);
    if (function != nullptr && ordinal < kMaxOrdinal)
      functions_[ordinal].store(function, std::memory_order_release);
  }
  if (function == nullptr) ReportFailure(reason);
  return function;
}

void* EngineBinding::ResolveByName(const char* name) {
  void* function = nullptr;
  std::string reason;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (Library(&reason) != nullptr) function = dlsym(library_, name);
  }
  if (function == nullptr) ReportFailure(reason);
  return function;
}

}  // namespace kivodbc
