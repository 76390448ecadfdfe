#include "connect/prompt.h"

#include <dlfcn.h>
#include <odbcinst.h>

#include <mutex>

#include "util/helpers.h"
#include "kivset.h"
#include "kivwin/win.h"

namespace kivodbc {
namespace {

constexpr const char* kTitle = "Morvane ODBC Driver";

std::mutex gOverrideMutex;
std::string gOverridePath;

void* LoadSetupLibrary() {
  {
    std::lock_guard<std::mutex> lock(gOverrideMutex);
    if (!gOverridePath.empty()) return dlopen(gOverridePath.c_str(), RTLD_NOW | RTLD_LOCAL);
  }
  if (void* beside = dlopen((DriverFolder() + "/" + KIVSET_LIBRARY_NAME).c_str(), RTLD_NOW | RTLD_LOCAL))
    return beside;
  if (void* byName = dlopen(KIVSET_LIBRARY_NAME, RTLD_NOW | RTLD_LOCAL)) return byName;
  char setup[260] = {};
  SQLGetPrivateProfileString(kDriverSection, "Setup", "", setup, sizeof setup, "ODBCINST.INI");
  setup[sizeof setup - 1] = 0;
  if (setup[0] == 0) return nullptr;
  return dlopen(setup, RTLD_NOW | RTLD_LOCAL);
}

template <size_t N>
void Terminate(char (&field)[N]) {
  field[N - 1] = 0;
}

}  // namespace

void UsePromptLibraryForTesting(const std::string& path) {
  std::lock_guard<std::mutex> lock(gOverrideMutex);
  gOverridePath = path;
}

int RunConnectPrompt(SQLHWND, const std::string& dsn, ConnectBlock* block) {
  void* library = LoadSetupLibrary();
  if (library == nullptr) {
    kivwin::MessageBox("Unable to load the Morvane ODBC Setup DLL (kivset.dll).", kTitle, kivwin::MB_OK);
    return SQL_NO_DATA;
  }
  auto prompt = reinterpret_cast<KivsetPromptForConnectInfoProc>(dlsym(library, KIVSET_PROMPT_FUNCTION_NAME));
  if (prompt == nullptr) {
    kivwin::MessageBox(
        "Unable to retrieve the configuration function handle from the Morvane ODBC Setup DLL (kivset.dll).",
        kTitle, kivwin::MB_OK);
    dlclose(library);
    return SQL_NO_DATA;
  }
  static_assert(sizeof block->dataDirectory == KIVSET_DATADIRECTORY_SIZE &&
                sizeof block->defaultType == KIVSET_OPTION_SIZE && sizeof block->user == KIVSET_USER_SIZE &&
                sizeof block->password == KIVSET_PASSWORD_SIZE);
  char dsnBuffer[KIVSET_DSN_SIZE] = {};
  CopyField(dsnBuffer, sizeof dsnBuffer, dsn == " " ? "" : dsn);
  const unsigned short confirmed =
      prompt(dsnBuffer, block->dataDirectory, block->defaultType, block->locking, block->morvaneLocking,
             block->charSet, block->rows, block->memoBlockSize, block->maxTableCloseCache, block->serverTypes,
             block->compression, block->trimTrailingSpaces, block->user, block->password);
  dlclose(library);
  // The answers stay within their fields whatever the library wrote last.
  Terminate(block->dataDirectory);
  Terminate(block->defaultType);
  Terminate(block->locking);
  Terminate(block->morvaneLocking);
  Terminate(block->charSet);
  Terminate(block->rows);
  Terminate(block->memoBlockSize);
  Terminate(block->maxTableCloseCache);
  Terminate(block->serverTypes);
  Terminate(block->compression);
  Terminate(block->trimTrailingSpaces);
  Terminate(block->user);
  Terminate(block->password);
  return confirmed != 0 ? 0 : SQL_NO_DATA;
}

}  // namespace kivodbc
