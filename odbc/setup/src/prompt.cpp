// PromptForConnectInfo: the connect prompt the driver shows when it needs
// connection settings from the user.
#include <cstring>
#include <exception>
#include <string>

#include "dsninfo.h"
#include "kivds/rtl.h"
#include "kivset.h"
#include "kivwin/win.h"
#include "library.h"
#include "setupform.h"

namespace kivset {

namespace {

// The caller's text, read no further than its buffer.
std::string In(const char* buffer, size_t size) {
  if (buffer == nullptr) return {};
  return std::string(buffer, strnlen(buffer, size - 1));
}

void Out(char* buffer, size_t size, const std::string& value) {
  if (buffer == nullptr) return;
  const size_t n = std::min(value.size(), size - 1);
  std::memcpy(buffer, value.data(), n);
  buffer[n] = '\0';
}

void OverrideText(const char* buffer, size_t size, std::string& field) {
  std::string v = In(buffer, size);
  if (!v.empty()) field = v;
}

void OverrideFlag(const char* buffer, bool& field) {
  std::string v = In(buffer, KIVSET_OPTION_SIZE);
  if (!v.empty()) field = IsTrueText(v);
}

void OverrideNumber(const char* buffer, int32_t& field) {
  std::string v = In(buffer, KIVSET_OPTION_SIZE);
  int n = 0;
  if (!v.empty() && kivds::TryStrToInt(v, n)) field = n;
}

unsigned short Prompt(const char* dsn, char* dataDirectory, char* defaultType, char* locking,
                      char* morvaneLocking, char* charSet, char* rows, char* memoBlockSize,
                      char* maxTableCloseCache, char* serverTypes, char* compression,
                      char* trimTrailingSpaces, char* user, char* password) {
  if (!EnsureApplication()) return 0;  // no display: as if cancelled
  auto form = CreateSetupForm();
  TDSNInfo info;
  InitDSNInfo(info);
  form->MakeLoginPrompt();

  info.DSN = In(dsn, KIVSET_DSN_SIZE);
  if (!info.DSN.empty() && ReadDSNInfo(info) != kDSNOk) {
    ShowDSNError(kDSNReadError);
    return 0;
  }
  info.DSN = In(user, KIVSET_USER_SIZE);
  info.Description = In(password, KIVSET_PASSWORD_SIZE);

  OverrideText(dataDirectory, KIVSET_DATADIRECTORY_SIZE, info.DataDirectory);
  OverrideText(defaultType, KIVSET_OPTION_SIZE, info.DefaultType);
  OverrideText(locking, KIVSET_OPTION_SIZE, info.Locking);
  OverrideText(morvaneLocking, KIVSET_OPTION_SIZE, info.MorvaneLocking);
  OverrideText(charSet, KIVSET_OPTION_SIZE, info.CharSet);
  OverrideFlag(rows, info.Rows);
  OverrideNumber(memoBlockSize, info.MemoBlockSize);
  OverrideNumber(maxTableCloseCache, info.MaxTableCloseCache);
  OverrideNumber(serverTypes, info.ServerTypes);
  OverrideText(compression, KIVSET_OPTION_SIZE, info.Compression);
  OverrideFlag(trimTrailingSpaces, info.TrimTrailingSpaces);

  if (form->SetFormFromDSNInfo(info) != 0) {
    ShowDSNError(kDSNInvalidEntry);
    return 0;
  }
  while (true) {
    if (form->ShowModal() != kivforms::mrOk) return 0;
    form->GetDSNInfoFromForm(info);
    if (CheckRanges(info)) break;
  }

  auto flag = [](bool b) { return b ? "True" : "False"; };
  Out(user, KIVSET_USER_SIZE, info.DSN);
  Out(password, KIVSET_PASSWORD_SIZE, info.Description);
  Out(dataDirectory, KIVSET_DATADIRECTORY_SIZE, info.DataDirectory);
  Out(defaultType, KIVSET_OPTION_SIZE, info.DefaultType);
  Out(locking, KIVSET_OPTION_SIZE, info.Locking);
  Out(morvaneLocking, KIVSET_OPTION_SIZE, info.MorvaneLocking);
  Out(charSet, KIVSET_OPTION_SIZE, info.CharSet);
  Out(rows, KIVSET_OPTION_SIZE, flag(info.Rows));
  Out(memoBlockSize, KIVSET_OPTION_SIZE, std::to_string(info.MemoBlockSize));
  Out(maxTableCloseCache, KIVSET_OPTION_SIZE, std::to_string(info.MaxTableCloseCache));
  Out(serverTypes, KIVSET_OPTION_SIZE, std::to_string(info.ServerTypes));
  Out(compression, KIVSET_OPTION_SIZE, info.Compression);
  Out(trimTrailingSpaces, KIVSET_OPTION_SIZE, flag(info.TrimTrailingSpaces));
  return 1;
}

}  // namespace

}  // namespace kivset

extern "C" unsigned short PromptForConnectInfo(const char* dsn, char* dataDirectory,
                                               char* defaultType, char* locking,
                                               char* morvaneLocking, char* charSet, char* rows,
                                               char* memoBlockSize, char* maxTableCloseCache,
                                               char* serverTypes, char* compression,
                                               char* trimTrailingSpaces, char* user,
                                               char* password) {
  try {
    return kivset::Prompt(dsn, dataDirectory, defaultType, locking, morvaneLocking, charSet, rows,
                          memoBlockSize, maxTableCloseCache, serverTypes, compression,
                          trimTrailingSpaces, user, password);
  } catch (const std::exception& e) {
    kivwin::MessageBox(e.what(), "Morvane Rivulet ODBC Driver Setup",
                       kivwin::MB_OK | kivwin::MB_ICONERROR);
  } catch (...) {
  }
  return 0;
}
