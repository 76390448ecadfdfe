// The settings of one data source and their road to and from "odbc.ini",
// the installer's attribute list, and the message boxes that report
// failures.
#ifndef KIVSET_DSNINFO_H
#define KIVSET_DSNINFO_H

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace kivset {

struct TDSNInfo {
  std::string DSN;
  std::string Description;
  std::string DataDirectory;
  std::string DefaultType;
  std::string Locking;
  std::string MorvaneLocking;
  std::string CharSet;
  bool Rows = false;
  bool DataDictionary = false;
  int32_t MemoBlockSize = 0;
  int32_t MaxTableCloseCache = 0;
  int32_t ServerTypes = 0;
  std::string Compression;
  bool TrimTrailingSpaces = false;
};

inline constexpr const char* kProfileFile = "odbc.ini";
inline constexpr int kProfileBufferSize = 261;
inline constexpr int kMemoBlockSizeLimit = 1024;
inline constexpr int kTableCloseCacheLimit = 250;

inline constexpr const char* kDefaultType = "Morvane";
inline constexpr const char* kDefaultLocking = "Record";
inline constexpr const char* kDefaultMorvaneLocking = "ON";
inline constexpr const char* kDefaultCharSet = "ANSI";
inline constexpr const char* kDefaultCompression = " ";
inline constexpr int kDefaultMemoBlockSize = 64;
inline constexpr int kDefaultMaxTableCloseCache = 5;
inline constexpr int kDefaultServerTypes = 6;

// Result codes of the routines below; ShowDSNError shows the box of each.
enum : int {
  kDSNOk = 0,
  kDSNInvalidName = 1000,
  kDSNAllocation = 1001,
  kDSNWriteError = 1002,
  kDSNDeleteError = 1003,
  kDSNReadError = 1004,
  kDSNInvalidEntry = 1005,
};

void InitDSNInfo(TDSNInfo& info);

// "key=value": the key trimmed of blanks and control characters and lower-
// cased, the value as it stands. Without '=' the key is empty and there is no
// value (false).
bool SplitAttribute(std::string_view attribute, std::string& key, std::string& value);

// Applies a list of zero-terminated "key=value" texts ended by an empty text
// (a null list is empty). Keys match without regard to case; unknown keys
// are skipped.
void ParseAttributes(const char* attributes, TDSNInfo& info);

// True when the first four characters are "True" in any case.
bool IsTrueText(std::string_view text);

int ReadDSNInfo(TDSNInfo& info);
int WriteDSNInfo(const TDSNInfo& info);
// Checks the name, asks before overwriting an existing data source (unless
// silent) and writes the section with its "Driver" key. `declined` is set
// when the user answered No; the result is then 0 with nothing written.
int ValidateAndCreateDSN(const std::string& dsn, const std::string& driver, bool& declined,
                         bool silent);
void ShowDSNError(int code);

// The installer functions every routine goes through. They are the ones of
// libodbcinst; tests replace single entries to make them fail.
struct InstallerFunctions {
  std::function<bool(const char* dsn)> ValidDSN;
  std::function<bool(const char* dsn, const char* driver)> WriteDSNToIni;
  std::function<bool(const char* dsn)> RemoveDSNFromIni;
  std::function<bool(const char* section, const char* key, const char* value, const char* file)>
      WritePrivateProfileString;
  std::function<int(const char* section, const char* key, const char* fallback, char* buffer,
                    int size, const char* file)>
      GetPrivateProfileString;
};
InstallerFunctions& Installer();
// The real functions of libodbcinst.
InstallerFunctions RealInstaller();

}  // namespace kivset

#endif
