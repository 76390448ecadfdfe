// Lazy binding of the client engine.
//
// The engine library is loaded from the driver's own folder at the first
// engine call (else wherever the loader finds it by name), and each engine
// operation is looked up by the role number the driver knows it by, through
// the engine header's table of names. A library or function that cannot be
// found yields a null function and keeps "Failed to load library %s." with
// the loader's reason (LastFailure); the caller then fails its ODBC call with
// a driver code and that text instead of taking the host process down.
#ifndef KIVODBC_ENGINE_H
#define KIVODBC_ENGINE_H

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

namespace kivodbc {

constexpr uint16_t kOrdinalDisconnect = 32;
constexpr uint16_t kOrdinalGetErrorString = 56;
constexpr uint16_t kOrdinalGetLastError = 74;
constexpr uint16_t kOrdinalConnect60 = 315;
constexpr uint16_t kOrdinalCommitTransaction = 20;
constexpr uint16_t kOrdinalInTransaction = 106;
constexpr uint16_t kOrdinalRollbackTransaction = 129;
constexpr uint16_t kOrdinalShowDeleted = 156;
constexpr uint16_t kOrdinalShowError = 157;
constexpr uint16_t kOrdinalFindClose = 170;
constexpr uint16_t kOrdinalSetConnectSetting = 191;
constexpr uint16_t kOrdinalSetServerType = 201;
constexpr uint16_t kOrdinalGetHandleType = 202;
constexpr uint16_t kOrdinalGetTransactionsDisabled = 209;
constexpr uint16_t kOrdinalGetPathPart = 243;
constexpr uint16_t kOrdinalCloseSQLStatement = 262;
constexpr uint16_t kOrdinalCacheOpenTables = 279;
constexpr uint16_t kOrdinalFindFirstTable62 = 402;
constexpr uint16_t kOrdinalFindNextTable62 = 403;
constexpr uint16_t kOrdinalGetConnectionPath = 423;

using EngineGetLastError = uint32_t (*)(uint32_t* code, char* buf, uint32_t* len);
using EngineGetErrorString = uint32_t (*)(uint32_t code, char* buf, uint32_t* len);
using EngineDisconnect = uint32_t (*)(uint32_t connection);
using EngineConnect60 = uint32_t (*)(const char* path, uint16_t serverTypes, const char* user,
                                     const char* password, uint32_t options, uint32_t* connection);

class EngineBinding {
 public:
  static constexpr const char* kLibraryName = "libqel32.so";
  static constexpr uint16_t kMaxOrdinal = 512;

  static EngineBinding& Instance();

  // The engine function with this role number; null (with the message shown)
  // when the library or the function cannot be found.
  void* Resolve(uint16_t ordinal);
  // An engine function bound by its name (the version function).
  void* ResolveByName(const char* name);

  template <typename F>
  F Function(uint16_t ordinal) {
    return reinterpret_cast<F>(Resolve(ordinal));
  }

  // "Failed to load library libqel32.so."
  static std::string LoadFailureText();
  // That text with the loader's reason, for the last library or function
  // that could not be bound; empty while none failed.
  std::string LastFailure();

  // The full path the library is loaded from: beside the driver's own file.
  std::string LibraryPath() const;
  // Tests point the binding at another file (empty: beside the driver again)
  // and forget what was bound.
  void UseLibraryForTesting(const std::string& path);

 private:
  EngineBinding() = default;
  // With mutex_ held; `reason` says why the library did not load.
  void* Library(std::string* reason);
  void ReportFailure(const std::string& reason);

  std::mutex mutex_;
  void* library_ = nullptr;
  std::string overridePath_;
  std::string lastFailure_;
  std::atomic<void*> functions_[kMaxOrdinal] = {};
};

// An engine function of the process's binding, by role or ordinal; null
// when it cannot be bound.
template <typename F>
F Engine(uint16_t ordinal) {
  return EngineBinding::Instance().Function<F>(ordinal);
}

}  // namespace kivodbc

#endif
