#include "engine.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstring>

#include "helpers.h"
#include "kivwin/win.h"
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

void EngineBinding::ReportFailure() {
  kivwin::MessageBox(LoadFailureText(), "Error Loading DLL", kivwin::MB_OK | kivwin::MB_ICONERROR);
}

void* EngineBinding::Library() {
  if (library_ == nullptr) library_ = dlopen(LibraryPath().c_str(), RTLD_NOW | RTLD_LOCAL);
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
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (name != nullptr && Library() != nullptr) function = dlsym(library_, name);
    if (function != nullptr && ordinal < kMaxOrdinal)
      functions_[ordinal].store(function, std::memory_order_release);
  }
  // The message goes out without the lock: a sink may call back into the driver.
  if (function == nullptr) ReportFailure();
  return function;
}

void* EngineBinding::ResolveByName(const char* name) {
  void* function = nullptr;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (Library() != nullptr) function = dlsym(library_, name);
  }
  if (function == nullptr) ReportFailure();
  return function;
}

}  // namespace kivodbc
