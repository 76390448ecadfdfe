#include "dsninfo.h"

#include <odbcinst.h>

#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "kivds/rtl.h"
#include "kivforms/forms.h"
#include "kivwin/win.h"

namespace kivset {

namespace {

// The keys in the order WriteDSNInfo writes them.
constexpr const char* kDescription = "Description";
constexpr const char* kDataDirectory = "DataDirectory";
constexpr const char* kDefaultTypeKey = "DefaultType";
constexpr const char* kLocking = "Locking";
constexpr const char* kMorvaneLocking = "MorvaneLocking";
constexpr const char* kCharSet = "CharSet";
constexpr const char* kCompression = "Compression";
constexpr const char* kMemoBlockSize = "MemoBlockSize";
constexpr const char* kMaxTableCloseCache = "MaxTableCloseCache";
constexpr const char* kDataDictionary = "DataDictionary";
constexpr const char* kRows = "Rows";
constexpr const char* kTrimTrailingSpaces = "TrimTrailingSpaces";
constexpr const char* kServerTypes = "ServerTypes";

void ShowMemoryError(const std::exception& e) {
  kivforms::MessageDlg(std::string("Memory Error:  ") + e.what(), kivforms::mtError,
                       kivforms::mbOK);
}

// One profile read with the default " ": the count the installer returns and
// the text.
struct ProfileValue {
  int count;
  std::string text;
};

class ProfileReader {
 public:
  explicit ProfileReader(const std::string& section)
      : section_(section), buffer_(kProfileBufferSize) {}
  ProfileValue Get(const char* key) {
    buffer_[0] = '\0';
    int count = Installer().GetPrivateProfileString(section_.c_str(), key, " ", buffer_.data(),
                                                    kProfileBufferSize, kProfileFile);
    buffer_.back() = '\0';
    return {count, std::string(buffer_.data())};
  }

 private:
  std::string section_;
  std::vector<char> buffer_;
};

int NumberOr(const ProfileValue& v, int fallback) {
  return v.count != 0 ? kivds::StrToIntDef(v.text, fallback) : fallback;
}

}  // namespace

void InitDSNInfo(TDSNInfo& info) {
  info = TDSNInfo{};
  info.DefaultType = kDefaultType;
  info.Locking = kDefaultLocking;
  info.MorvaneLocking = kDefaultMorvaneLocking;
  info.CharSet = kDefaultCharSet;
  info.MemoBlockSize = kDefaultMemoBlockSize;
  info.MaxTableCloseCache = kDefaultMaxTableCloseCache;
  info.ServerTypes = kDefaultServerTypes;
  info.Compression = kDefaultCompression;
}

bool SplitAttribute(std::string_view attribute, std::string& key, std::string& value) {
  const size_t eq = attribute.find('=');
  if (eq == std::string_view::npos) {
    key.clear();
    value.clear();
    return false;
  }
  key = kivds::Trim(attribute.substr(0, eq));
  for (char& c : key)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  value = std::string(attribute.substr(eq + 1));
  return true;
}

bool IsTrueText(std::string_view text) {
  return text.size() >= 4 && kivds::SameText(text.substr(0, 4), "True");
}

void ParseAttributes(const char* attributes, TDSNInfo& info) {
  if (attributes == nullptr) return;
  std::string key, value;
  for (const char* p = attributes; *p != '\0'; p += std::strlen(p) + 1) {
    if (!SplitAttribute(p, key, value)) continue;
    auto number = [&](int32_t& field) {
      int v = 0;
      if (kivds::TryStrToInt(value, v)) field = v;
    };
    if (key == "dsn") info.DSN = value;
    else if (key == "description") info.Description = value;
    else if (key == "datadirectory") info.DataDirectory = value;
    else if (key == "charset") info.CharSet = value;
    else if (key == "defaulttype") info.DefaultType = value;
    else if (key == "morvanelocking") info.MorvaneLocking = value;
    else if (key == "locking") info.Locking = value;
    else if (key == "compression") info.Compression = value;
    else if (key == "memoblocksize") number(info.MemoBlockSize);
    else if (key == "maxtableclosecache") number(info.MaxTableCloseCache);
    else if (key == "servertypes") number(info.ServerTypes);
    else if (key == "rows") info.Rows = IsTrueText(value);
    else if (key == "datadictionary") info.DataDictionary = IsTrueText(value);
    else if (key == "trimtrailingspaces") info.TrimTrailingSpaces = IsTrueText(value);
  }
}

int ReadDSNInfo(TDSNInfo& info) {
  std::unique_ptr<ProfileReader> reader;
  try {
    reader = std::make_unique<ProfileReader>(info.DSN);
  } catch (const std::bad_alloc& e) {
    ShowMemoryError(e);
    return kDSNAllocation;
  }
  ProfileValue v = reader->Get(kDescription);
  if (v.count > 0) info.Description = v.text;
  info.DataDirectory = reader->Get(kDataDirectory).text;

  auto option = [&](const char* key, std::string& field, const char* fallback) {
    ProfileValue o = reader->Get(key);
    field = o.count != 0 ? o.text : fallback;
  };
  option(kDefaultTypeKey, info.DefaultType, kDefaultType);
  option(kLocking, info.Locking, kDefaultLocking);
  option(kMorvaneLocking, info.MorvaneLocking, kDefaultMorvaneLocking);
  option(kCharSet, info.CharSet, kDefaultCharSet);
  option(kCompression, info.Compression, kDefaultCompression);

  info.MemoBlockSize = NumberOr(reader->Get(kMemoBlockSize), kDefaultMemoBlockSize);
  info.MaxTableCloseCache = NumberOr(reader->Get(kMaxTableCloseCache), kDefaultMaxTableCloseCache);
  v = reader->Get(kDataDictionary);
  info.DataDictionary = v.count != 0 && IsTrueText(v.text);
  info.Rows = IsTrueText(reader->Get(kRows).text);
  info.TrimTrailingSpaces = IsTrueText(reader->Get(kTrimTrailingSpaces).text);
  info.ServerTypes = NumberOr(reader->Get(kServerTypes), kDefaultServerTypes);
  return kDSNOk;
}

int WriteDSNInfo(const TDSNInfo& info) {
  auto flag = [](bool b) { return b ? "True" : "False"; };
  const std::pair<const char*, std::string> keys[] = {
      {kDescription, info.Description},
      {kDataDirectory, info.DataDirectory},
      {kDefaultTypeKey, info.DefaultType},
      {kLocking, info.Locking},
      {kMorvaneLocking, info.MorvaneLocking},
      {kCharSet, info.CharSet},
      {kCompression, info.Compression},
      {kMemoBlockSize, std::to_string(info.MemoBlockSize)},
      {kMaxTableCloseCache, std::to_string(info.MaxTableCloseCache)},
      {kDataDictionary, flag(info.DataDictionary)},
      {kRows, flag(info.Rows)},
      {kTrimTrailingSpaces, flag(info.TrimTrailingSpaces)},
      {kServerTypes, std::to_string(info.ServerTypes)},
  };
  for (const auto& [key, value] : keys)
    if (!Installer().WritePrivateProfileString(info.DSN.c_str(), key, value.c_str(), kProfileFile))
      return kDSNWriteError;
  return kDSNOk;
}

int ValidateAndCreateDSN(const std::string& dsn, const std::string& driver, bool& declined,
                         bool silent) {
  declined = false;
  if (!Installer().ValidDSN(dsn.c_str())) return kDSNInvalidName;
  std::unique_ptr<ProfileReader> reader;
  try {
    reader = std::make_unique<ProfileReader>(dsn);
  } catch (const std::bad_alloc& e) {
    if (!silent) ShowMemoryError(e);
    return kDSNAllocation;
  }
  bool overwrite = true;
  if (!silent) {
    ProfileValue v = reader->Get("Driver");
    const bool exists = v.count >= 2 && !v.text.empty() && v.text[0] != ' ';
    if (exists)
      overwrite = kivwin::MessageBox(
                      "The DSN name specified already exists\rWould you like to overwrite it?",
                      "DSN Name Exists", kivwin::MB_YESNO) == kivwin::IDYES;
  }
  if (!overwrite) {
    declined = true;
    return kDSNOk;
  }
  if (!Installer().WriteDSNToIni(dsn.c_str(), driver.c_str())) return kDSNWriteError;
  return kDSNOk;
}

void ShowDSNError(int code) {
  const char* text = "Unknown Error";
  const char* caption = "Unknown Error";
  switch (code) {
    case kDSNOk: return;
    case kDSNInvalidName:
      text = "The DSN name specified is invalid";
      caption = "DSN Name Invalid";
      break;
    case kDSNAllocation:
      text = "Memory allocation failed";
      caption = "Allocation Failure";
      break;
    case kDSNWriteError:
      text = "There was an error writing DSN information\rto the registry";
      caption = "DSN Write Error";
      break;
    case kDSNDeleteError:
      text = "There was an error deleting DSN information";
      caption = "DSN Delete Error";
      break;
    case kDSNReadError:
      text = "There was an error reading DSN information\rfrom the registry";
      caption = "DSN Read Error";
      break;
    case kDSNInvalidEntry:
      text = "There was an invalid registry entry for this\rDSN";
      caption = "Invalid Registry Entry";
      break;
    default: break;
  }
  kivwin::MessageBox(text, caption, kivwin::MB_OK);
}

InstallerFunctions RealInstaller() {
  InstallerFunctions f;
  f.ValidDSN = [](const char* dsn) { return SQLValidDSN(dsn) != 0; };
  f.WriteDSNToIni = [](const char* dsn, const char* driver) {
    return SQLWriteDSNToIni(dsn, driver) != 0;
  };
  f.RemoveDSNFromIni = [](const char* dsn) { return SQLRemoveDSNFromIni(dsn) != 0; };
  f.WritePrivateProfileString = [](const char* section, const char* key, const char* value,
                                   const char* file) {
    return SQLWritePrivateProfileString(section, key, value, file) != 0;
  };
  f.GetPrivateProfileString = [](const char* section, const char* key, const char* fallback,
                                 char* buffer, int size, const char* file) {
    return SQLGetPrivateProfileString(section, key, fallback, buffer, size, file);
  };
  return f;
}

InstallerFunctions& Installer() {
  static InstallerFunctions functions = RealInstaller();
  return functions;
}

}  // namespace kivset
