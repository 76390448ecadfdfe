// Windows services the product relies on, as small functions of our own.
//
// Text is bytes throughout. The "ANSI" side is Windows-1252, the "OEM" side
// code page 850. Nothing here touches a display: message boxes go to a sink
// that the GUI layer (or a test) installs.
#ifndef KIVWIN_WIN_H
#define KIVWIN_WIN_H

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kivwin {

// ---- Code pages and case -------------------------------------------------

// Unicode code point of one byte in the given code page.
char32_t AnsiToUnicode(unsigned char c);
char32_t OemToUnicode(unsigned char c);

// Convert between the OEM (850) and ANSI (1252) sides. A character that the
// target page lacks becomes '?'. Bytes below 0x80 pass unchanged.
std::string OemToAnsi(std::string_view text);
std::string AnsiToOem(std::string_view text);

// Upper/lower casing of Windows-1252 text, accented letters included.
unsigned char AnsiUpperChar(unsigned char c);
std::string AnsiUpperCase(std::string_view text);
std::string AnsiLowerCase(std::string_view text);

// Locale comparison. Results and flags follow the system's conventions so
// that callers read like the code they replace.
constexpr unsigned LOCALE_USER_DEFAULT = 0x400;
constexpr unsigned NORM_IGNORECASE = 1;
constexpr int CSTR_LESS_THAN = 1;
constexpr int CSTR_EQUAL = 2;
constexpr int CSTR_GREATER_THAN = 3;
// Compares two Windows-1252 texts; with NORM_IGNORECASE letters compare
// without regard to case (accented ones too). Order is by upper-cased byte.
int CompareStringA(unsigned locale, unsigned flags, std::string_view a, std::string_view b);

// ---- Files ---------------------------------------------------------------

// Folder of the running program, without a trailing separator.
std::string ExecutableDir();
// Full file name of the shared object (or program) that holds `address`.
std::string ModuleFileName(const void* address);

// Looks for a file. With a non-empty `folder`, only there. Otherwise in the
// program's folder, the current folder, then each folder of PATH. A name
// holding a '/' is checked as it is. Returns the full path when found.
std::optional<std::string> SearchPath(const std::string& fileName, const std::string& folder = {});

// Maps a path in Windows form onto the file system: a backslash is a
// separator; a drive letter maps through the environment variable
// KIV_DRIVE_<letter> ("C:CUST" and "C:\CUST" are CUST in that folder; with
// no mapping, "C:CUST" is CUST in the current folder and "C:\CUST" is
// "/CUST"); a name without a drive or root is relative to `base` (the current
// folder when empty); each existing component is found without regard to
// case, the rest kept as given. Trailing blanks are dropped.
std::string MapPath(std::string_view path, const std::string& base = std::string());
// Equal texts when ASCII letters compare without regard to case.
bool EqualsNoCase(std::string_view a, std::string_view b);

// The names in `folder` ("" is the current folder; "." and ".." left out),
// empty when it cannot be read. While a FolderSnapshot lives on the calling
// thread, each folder is read once and later calls (MapPath and FindEntry
// too) answer from that reading: one operation then costs at most one read
// of a large folder.
std::vector<std::string> FolderEntries(const std::string& folder);
// The names in `folder` as they are now, snapshot or not.
std::vector<std::string> ReadFolder(const std::string& folder);
// The name of the entry of `folder` equal to `name` without regard to case,
// "" when there is none. A name that exists as given is taken without
// reading the folder.
std::string FindEntry(const std::string& folder, const std::string& name);

class FolderSnapshot {
 public:
  FolderSnapshot();
  ~FolderSnapshot();
  FolderSnapshot(const FolderSnapshot&) = delete;
  FolderSnapshot& operator=(const FolderSnapshot&) = delete;

 private:
  friend const std::vector<std::string>& Listing(const std::string&, std::vector<std::string>&);
  const std::vector<std::string>& Reading(const std::string& folder);
  bool active_ = false;  // false when an outer snapshot serves
  std::map<std::string, std::vector<std::string>> read_;
};

// Folder for temporary files (TMPDIR or /tmp), ending in '/'.
std::string GetTempPath();
// Creates a new empty file "<folder>/<prefix up to 3 chars><hex>.TMP" that no
// other caller gets, and returns its path; empty on failure.
std::string GetTempFileName(const std::string& folder, std::string_view prefix);

// ---- INI files -----------------------------------------------------------

// An INI file read once. Section and key names compare without regard to
// case; the first occurrence of a section or key wins; blanks around names
// and values are trimmed and one pair of enclosing quotes is removed.
class IniFile {
 public:
  explicit IniFile(const std::string& path);
  bool Loaded() const { return loaded_; }
  std::optional<std::string> Find(std::string_view section, std::string_view key) const;
  std::string ReadString(std::string_view section, std::string_view key,
                         const std::string& defaultValue) const;

 private:
  bool loaded_ = false;
  // sections in file order; each holds its keys in file order
  std::vector<std::pair<std::string, std::vector<std::pair<std::string, std::string>>>> sections_;
};

// One-shot read, as GetPrivateProfileString does it (missing file: default).
std::string GetPrivateProfileString(std::string_view section, std::string_view key,
                                    const std::string& defaultValue, const std::string& path);

// ---- String resources ----------------------------------------------------

class StringTable {
 public:
  StringTable() = default;
  StringTable(std::initializer_list<std::pair<const uint32_t, std::string>> entries)
      : entries_(entries) {}
  void Add(uint32_t id, std::string text) { entries_[id] = std::move(text); }
  std::optional<std::string> Find(uint32_t id) const;
  // Copies at most size - 1 bytes and a NUL; returns the bytes copied, 0 when
  // the id is unknown (the buffer then holds an empty text).
  int LoadString(uint32_t id, char* buffer, int size) const;

 private:
  std::map<uint32_t, std::string> entries_;
};

// ---- Message boxes -------------------------------------------------------

constexpr unsigned MB_OK = 0x0;
constexpr unsigned MB_OKCANCEL = 0x1;
constexpr unsigned MB_YESNOCANCEL = 0x3;
constexpr unsigned MB_YESNO = 0x4;
constexpr unsigned MB_ICONERROR = 0x10;
constexpr unsigned MB_ICONQUESTION = 0x20;
constexpr unsigned MB_ICONWARNING = 0x30;
constexpr unsigned MB_ICONINFORMATION = 0x40;
constexpr unsigned MB_TYPEMASK = 0xF;
constexpr unsigned MB_ICONMASK = 0xF0;
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

using MessageBoxSink =
    std::function<int(const std::string& text, const std::string& caption, unsigned flags)>;

// Installs the sink every message box goes to; returns the one it replaces.
// An empty sink restores the default, which writes the box to stderr and
// answers with the first button (IDOK or IDYES).
MessageBoxSink SetMessageBoxSink(MessageBoxSink sink);
int MessageBox(const std::string& text, const std::string& caption, unsigned flags);

}  // namespace kivwin

#endif
