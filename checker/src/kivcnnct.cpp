// TKivConnection: properties, connecting and disconnecting, aliases, linked
// datasets and the statement cache.
#include "checker/kivcnnct.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "checker/kivdata.h"
#include "checker/kiverror.h"
#include "kivds/db.h"
#include "kivwin/win.h"

namespace checker {

namespace {

std::string Upper(std::string_view s) { return kivwin::AnsiUpperCase(s); }

// Raises a connection error for a text the engine would have to cut.
void CheckLength(const std::string& text, size_t limit, const char* what) {
  if (text.size() > limit)
    throw KivConnectionError(std::string("The ") + what + " is longer than " + std::to_string(limit) +
                             " characters.");
}

// Holds a thread list's lock while it lives.
template <class T>
class ListLock {
 public:
  explicit ListLock(kivds::TThreadList<T>& list) : list_(list), items_(list.LockList()) {}
  ~ListLock() { list_.UnlockList(); }
  ListLock(const ListLock&) = delete;
  ListLock& operator=(const ListLock&) = delete;
  std::vector<T>& Items() { return items_; }

 private:
  kivds::TThreadList<T>& list_;
  std::vector<T>& items_;
};

}  // namespace

// ---- Exceptions ------------------------------------------------------------

KivError::KivError(KIVRESULT failedCode) : kivds::Exception(std::string()) {
  uint32_t code = 0;
  std::string text;
  if (!ReadLastEngineError(code, text)) {
    KivShowError("Kiv Exception Error");
    code_ = failedCode;
    return;
  }
  if (code == 0) {
    // The engine kept no error for the failed call: name the call's own code.
    code_ = failedCode;
    SetMessage(NoEngineErrorText(failedCode));
    return;
  }
  code_ = code;
  SetMessage(text);
}

// ---- Mappings --------------------------------------------------------------

uint16_t EngineServerTypes(TKivServerTypes types) {
  uint16_t value = 0;
  if (types.Contains(stKIV_REMOTE)) value |= KIV_SERVER_REMOTE;
  if (types.Contains(stKIV_LOCAL)) value |= KIV_SERVER_LOCAL;
  if (types.Contains(stKIV_KIS)) value |= KIV_SERVER_INTERNET;
  return value;
}

uint32_t EngineConnectOptions(bool middleTier, bool storedProcedures, TKivCompressionTypes compression,
                              TKivCommunicationType communication) {
  uint32_t options = 0;
  if (middleTier) options |= 1;
  if (storedProcedures) options |= 2;
  switch (compression) {
    case ccKivCompressInternet: options |= 0xC; break;
    case ccKivCompressAlways: options |= 4; break;
    case ccKivCompressNever: options |= 8; break;
    case ccKivCompressionNotSet: break;
  }
  switch (communication) {
    case ctKivUDPIP: options |= 0x20; break;
    case ctKivIPX: options |= 0x40; break;
    case ctKivTCPIP: options |= 0x80; break;
    case ctKivDefault: break;
  }
  return options;
}

std::string TrimBlanks(std::string_view text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  const size_t last = text.find_last_not_of(' ');
  return std::string(text.substr(first, last - first + 1));
}

// ---- Aliases ---------------------------------------------------------------

std::string FindIniFile() {
  const std::optional<std::string> found = kivwin::SearchPath("kiv.ini");
  return found ? *found : std::string("kiv.ini");
}

TKivAliasEntry ReadAliasEntry(const std::string& alias) {
  TKivAliasEntry entry;
  std::string value = kivwin::GetPrivateProfileString("Databases", alias, "", FindIniFile());
  const size_t semicolon = value.find(';');
  if (semicolon != std::string::npos) {
    if (semicolon + 1 < value.size())
      entry.typeLetter = static_cast<char>(kivwin::AnsiUpperChar(static_cast<unsigned char>(value[semicolon + 1])));
    value.resize(semicolon);
  }
  entry.path = value;
  return entry;
}

int AliasTableTypeOf(char typeLetter) {
  switch (typeLetter) {
    case 'N': return 2;
    case 'C': return 1;
    case 'K': return 3;
    default: return 0;
  }
}

// ---- Life cycle ------------------------------------------------------------

kivds::TThreadList<TKivConnection*>& KivConnectionList() {
  static auto* list = new kivds::TThreadList<TKivConnection*>;  // outlives every component
  return *list;
}

TKivConnection::TKivConnection(kivds::TComponent* owner)
    : kivds::TComponent(owner), creatorThread_(std::this_thread::get_id()) {
  KivConnectionList().Add(this);
}

TKivConnection::~TKivConnection() {
  Destroying();
  if (connected_) {
    const std::vector<TKivDataSet*> linked = dataSets_;
    for (TKivDataSet* ds : linked) {
      try {
        ds->Close();
      } catch (...) {
      }
      try {
        ds->ReleaseEngineCursor();
      } catch (...) {
      }
    }
    try {
      CloseCachedStatements();
    } catch (...) {
    }
    KivDisconnect(handle_);  // a failure cannot be reported from here
    connected_ = false;
    handle_ = 0;
    try {
      DoDisconnect();
    } catch (...) {
    }
  }
  for (TKivDataSet* ds : dataSets_)
    if (ds->kivConnection_ == this) ds->kivConnection_ = nullptr;
  dataSets_.clear();
  // Entries of statements that were never made are all that can be left.
  statements_.clear();
  KivConnectionList().Remove(this);
  KivConnectionList().Pack();
}

void TKivConnection::Loaded() {
  kivds::TComponent::Loaded();
  if (!connectAfterLoad_ || connected_) return;
  try {
    SetIsConnected(true);
  } catch (...) {
    if (!InState(kivds::csDesigning) || !kivds::ApplicationExceptionHandler()) throw;
    kivds::ApplicationExceptionHandler()(std::current_exception(), this);
  }
}

// ---- Properties ------------------------------------------------------------

void TKivConnection::SetConnectPath(const std::string& path) {
  if (connected_)
    throw KivConnectionError("The TKivConnection.ConnectPath may not be changed when IsConnected is TRUE");
  connectPath_ = path;
  dictionary_ = Upper(path).find(".KDD") != std::string::npos;
  aliasName_.clear();
  aliasPath_.clear();
  aliasTableType_ = 0;
}

void TKivConnection::SetAliasName(const std::string& alias) {
  if (connected_)
    throw KivConnectionError("The TKivConnection.AliasName may not be changed when IsConnected is TRUE");
  aliasValid_ = true;
  if (alias.empty()) {
    aliasName_.clear();
    aliasPath_.clear();
    aliasTableType_ = 0;
    return;
  }
  const TKivAliasEntry entry = ReadAliasEntry(alias);
  aliasName_ = alias;
  if (!entry.Found()) {
    // The error comes with the next connect.
    aliasValid_ = false;
    aliasPath_.clear();
    aliasTableType_ = 0;
    return;
  }
  connectPath_.clear();
  aliasPath_ = entry.path;
  aliasTableType_ = AliasTableTypeOf(entry.typeLetter);
  dictionary_ = Upper(aliasPath_).find(".KDD") != std::string::npos;
  PushAliasTableType();
}

void TKivConnection::PushAliasTableType() {
  if (Owner() == nullptr || aliasTableType_ == 0) return;
  const TKivTableTypes type = aliasTableType_ == 1 ? ttKivCDX : aliasTableType_ == 2 ? ttKivNTX : ttKivKDT;
  for (int i = 0; i < Owner()->ComponentCount(); ++i) {
    auto* ds = dynamic_cast<TKivDataSet*>(Owner()->Components(i));
    if (ds == nullptr || ds->KivConnection() != this) continue;
    if (ds->DatabaseName().empty() || ds->DatabaseName() == Name()) ds->SetSourceTableType(type);
  }
}

std::string TKivConnection::GetConnectDirectory() const {
  std::string path = GetConnectString();
  if (path.size() <= 4 || Upper(path.substr(path.size() - 4)) != ".KDD") return path;
  const size_t slash = path.rfind('/');
  if (slash != std::string::npos) return path.substr(0, slash);
  const size_t backslash = path.rfind('\\');
  if (backslash == std::string::npos) return ".\\";
  return path.substr(0, backslash);
}

std::string TKivConnection::GetConnectionType() {
  if (!connected_) return {};
  uint16_t type = 0;
  const KIVRESULT rc = KivGetConnectionType(handle_, &type);
  if (rc != KIV_OK) throw KivError(rc);
  switch (type) {
    case KIV_SERVER_LOCAL: return "Local";
    case KIV_SERVER_REMOTE: return "Remote";
    case KIV_SERVER_INTERNET: return "Internet";
    default: return {};
  }
}

std::string TKivConnection::ServerName() {
  if (!connected_) {
    if (InState(kivds::csDesigning)) return {};
    throw KivConnectionError("Must be connected to get Morvane server name.");
  }
  char name[256] = {};
  uint32_t len = 255;
  const KIVRESULT rc = KivGetServerName(handle_, name, &len);
  if (rc != KIV_OK) throw KivError(rc);
  return std::string(name, strnlen(name, 255));
}

void TKivConnection::RemoveDataSet(TKivDataSet* dataSet) {
  auto it = std::find(dataSets_.begin(), dataSets_.end(), dataSet);
  if (it != dataSets_.end()) dataSets_.erase(it);
}

// ---- Connecting and disconnecting -----------------------------------------

void TKivConnection::SetIsConnected(bool value) {
  if (value == connected_) return;
  if (InState(kivds::csReading) && value) {
    connectAfterLoad_ = true;
    return;
  }
  groupsRead_ = false;
  // A new or ended connection has no transaction of ours open.
  transactionActive_ = false;
  if (value)
    OpenConnection();
  else
    CloseConnection();
}

void TKivConnection::OpenConnection() {
  if (BeforeConnect) BeforeConnect(this);
  if (!aliasValid_) {
    SetAliasName(aliasName_);
    if (!aliasValid_) throw KivConnectionError("TKivConnection.AliasName is not valid");
  }
  const std::string path = GetConnectString();
  if (path.empty()) throw KivConnectionError("Must specify connection string before getting a server connection.");
  ConnectToServer(path);
  connected_ = true;
  if (dictionary_) {
    const std::vector<TKivDataSet*> linked = dataSets_;
    for (TKivDataSet* ds : linked) ds->ReadDefaultIndexFromDictionary();
  }
  DoConnect();
}

void TKivConnection::ConnectToServer(const std::string& path) {
  // An over-long path or credential is refused: cutting it would reach
  // another folder or fail a login for reasons the user cannot see.
  CheckLength(path, kMaxConnectPath, "connect path");
  std::string user = username_;
  std::string password = password_;
  if (loginPrompt_ && dictionary_) {
    if (OnLogin) {
      user.clear();
      password.clear();
      OnLogin(this, user, password);
    } else if (kivds::LoginDialogExProc()) {
      password.clear();
      if (!kivds::LoginDialogExProc()(Name(), user, password, false))
        kivds::DatabaseError("Cannot connect to database '" + Name() + "'");
    }
    username_ = user;
    if (!InState(kivds::csDesigning)) password_ = password;
  }
  TKivConnectArguments args;
  args.path = path;
  if (dictionary_) {
    CheckLength(user, kMaxCredential, "user name");
    CheckLength(password, kMaxCredential, "password");
    args.username = user;
    args.password = password;
  }
  args.serverTypes = EngineServerTypes(serverTypes_);
  args.options = EngineConnectOptions(middleTier_, storedProcedures_, compression_, communication_);
  KIVHANDLE handle = 0;
  CheckQELResult(nullptr, EngineConnect(args, &handle));
  handle_ = handle;
}

KIVRESULT TKivConnection::EngineConnect(const TKivConnectArguments& args, KIVHANDLE* handle) {
  return KivConnect60(args.path.c_str(), args.serverTypes, args.username.c_str(), args.password.c_str(),
                      args.options, handle);
}

void TKivConnection::CloseConnection() {
  if (BeforeDisconnect) BeforeDisconnect(this);
  const std::vector<TKivDataSet*> linked = dataSets_;
  for (TKivDataSet* ds : linked) {
    try {
      ds->Close();
    } catch (const std::exception&) {
    }
    ds->ReleaseEngineCursor();
  }
  CloseCachedStatements();
  std::exception_ptr failure;
  const KIVRESULT rc = KivDisconnect(handle_);
  if (rc != KIV_OK) failure = std::make_exception_ptr(KivError(rc));
  connected_ = false;
  handle_ = 0;
  DoDisconnect();
  if (failure) std::rethrow_exception(failure);
}

void TKivConnection::DoConnect() {
  if (AfterConnect) AfterConnect(this);
  if (OnConnect) OnConnect(this);
}

void TKivConnection::DoDisconnect() {
  if (AfterDisconnect) AfterDisconnect(this);
  if (OnDisconnect) OnDisconnect(this);
}

// ---- Renaming --------------------------------------------------------------

void TKivConnection::SetName(const std::string& name) {
  const std::string oldName = Name();
  kivds::TComponent::SetName(name);
  if (Owner() == nullptr) return;
  const std::string ownerName = Upper(Owner()->Name());
  ListLock<TKivDataSet*> lock(KivDataSetList());
  for (TKivDataSet* ds : lock.Items()) {
    if (ds == nullptr) continue;
    const bool ours = ds->KivConnection() == nullptr || ds->KivConnection() == this;
    if (!ours) continue;
    const std::string database = Upper(ds->DatabaseName());
    if (!oldName.empty()) {
      if (database == Upper(oldName))
        ds->databaseName_ = Name();
      else if (database == ownerName + "." + Upper(oldName))
        ds->databaseName_ = Owner()->Name() + "." + Name();
    }
    if (ds->Owner() != nullptr &&
        ownerName + "." + Upper(Name()) == Upper(ds->Owner()->Name()) + "." + Upper(ds->DatabaseName()))
      ds->databaseName_ = Name();
  }
}

// ---- Statement cache -------------------------------------------------------

uint32_t TKivConnection::StatementHash(std::string_view text) {
  // Byte `i` of the text, the terminating zero at `i == size`.
  auto at = [&](size_t i) -> uint32_t { return i < text.size() ? static_cast<unsigned char>(text[i]) : 0u; };
  uint32_t h = 0;
  const size_t length = text.size();
  if (length < 16) {
    for (size_t i = 1; i <= length; ++i) h = h * 37u + at(i);
    return h;
  }
  const size_t step = length / 8;
  size_t position = 1;
  for (int64_t left = static_cast<int64_t>(length) - 1; left >= 0; left -= static_cast<int64_t>(step)) {
    h = h * 39u + at(position);
    position += step;
  }
  return h;
}

TStmtInfo& TKivConnection::FindCachedStatement(const std::string& text) {
  const uint32_t hash = StatementHash(text);
  for (const auto& entry : statements_)
    if (entry->hash == hash && entry->text == text) return *entry;
  auto entry = std::make_unique<TStmtInfo>();
  entry->hash = hash;
  entry->text = text;
  statements_.push_back(std::move(entry));
  return *statements_.back();
}

void TKivConnection::RemoveCachedStatement(const TStmtInfo& entry) {
  auto it = std::find_if(statements_.begin(), statements_.end(), [&](const auto& e) { return e.get() == &entry; });
  if (it == statements_.end()) return;
  const KIVHANDLE handle = (*it)->handle;
  statements_.erase(it);
  if (handle != 0) CheckQELResult(nullptr, KivCloseSQLStatement(handle));
}

void TKivConnection::CloseCachedStatements() {
  std::vector<std::unique_ptr<TStmtInfo>> entries;
  entries.swap(statements_);
  std::exception_ptr failure;
  for (const auto& entry : entries) {
    if (entry->handle == 0) continue;  // never made: nothing to close
    const KIVRESULT rc = KivCloseSQLStatement(entry->handle);
    if (rc == KIV_OK || failure) continue;
    try {
      CheckQELResult(nullptr, rc);
    } catch (...) {
      failure = std::current_exception();
    }
  }
  if (failure) std::rethrow_exception(failure);
}

}  // namespace checker
