// How a dataset finds its data: the DatabaseName (a connection's name, an
// alias of "kiv.ini" or a path), the table type that goes with it, the link
// to a TKivConnection, renaming dictionary tables, the provider support and
// the version text.
#include <thread>

#include "checker/kivcnnct.h"
#include "checker/kivdata.h"
#include "checker/kivquery.h"
#include "kivwin/win.h"

namespace checker {

using namespace kivds;

namespace {

std::string Upper(std::string_view s) { return kivwin::AnsiUpperCase(s); }

bool HasSeparator(const std::string& s) { return s.find_first_of("/\\") != std::string::npos; }

// The type an alias's table type (0 none, 1 CDX, 2 NTX, 3 KDT) stands for.
bool TableTypeOfAliasType(int aliasType, TKivTableTypes& type) {
  switch (aliasType) {
    case 1: type = ttKivCDX; return true;
    case 2: type = ttKivNTX; return true;
    case 3: type = ttKivKDT; return true;
    default: return false;
  }
}

// The first connection named `name`: of this owner and thread, then of this
// thread, then of this owner, then any (also as "Owner.Name").
TKivConnection* FindConnectionNamed(const std::string& name, const TComponent* owner) {
  const std::string wanted = Upper(name);
  const std::thread::id self = std::this_thread::get_id();
  auto& list = KivConnectionList();
  std::vector<TKivConnection*>& items = list.LockList();
  auto named = [&](const TKivConnection* c) { return c != nullptr && Upper(c->Name()) == wanted; };
  auto fullyNamed = [&](const TKivConnection* c) {
    return c != nullptr && c->Owner() != nullptr && Upper(c->Owner()->Name() + "." + c->Name()) == wanted;
  };
  const std::function<bool(const TKivConnection*)> passes[] = {
      [&](const TKivConnection* c) { return named(c) && c->Owner() == owner && c->CreatorThread() == self; },
      [&](const TKivConnection* c) { return named(c) && c->CreatorThread() == self; },
      [&](const TKivConnection* c) { return named(c) && c->Owner() == owner; },
      [&](const TKivConnection* c) { return named(c) || fullyNamed(c); },
  };
  TKivConnection* hit = nullptr;
  for (const auto& pass : passes) {
    for (TKivConnection* c : items)
      if (pass(c)) {
        hit = c;
        break;
      }
    if (hit != nullptr) break;
  }
  list.UnlockList();
  return hit;
}

}  // namespace

bool FindAliasPath(const std::string& alias, std::string& path, TKivTableTypes& type) {
  const TKivAliasEntry entry = ReadAliasEntry(alias);
  path = entry.path;
  type = entry.typeLetter == 'N' ? ttKivNTX : entry.typeLetter == 'C' ? ttKivCDX : ttKivKDT;
  return entry.Found();
}

std::string KivVersionText(uint16_t major, uint16_t minor, char letter) {
  static const std::string kMarker = "KvRmQ!@# 8.10";
  std::string engine = "QEL " + std::to_string(major) + (minor > 9 ? "." : ".0") + std::to_string(minor);
  // A blank (or no letter at all) adds nothing.
  if (letter != ' ' && letter != '\0') engine += letter;
  return kMarker.substr(9) + " (" + engine + ")";
}

// ---- DatabaseName and the database path ----------------------------------

void TKivDataSet::SetDatabaseName(const std::string& name) {
  if (Active()) KivDataSetError(this, "Cannot perform this operation on an open dataset");
  if (name.empty()) {
    databaseName_.clear();
    aliasPath_.clear();
    GetDatabasePath();  // for the table type of the linked connection's alias
    return;
  }
  if (TKivConnection* connection = FindConnectionNamed(name, Owner())) {
    databaseName_ = name;
    aliasPath_.clear();
    SetKivConnection(connection);
    return;
  }
  databaseName_ = name;
  aliasPath_.clear();
  if (HasSeparator(name)) return;
  std::string path;
  TKivTableTypes type = ttKivKDT;
  if (FindAliasPath(name, path, type)) {
    aliasPath_ = path;
    SetSourceTableType(type);
  }
}

std::string TKivDataSet::GetDatabasePath() {
  std::string path;
  const bool namesConnection =
      databaseName_.empty() ||
      (kivConnection_ != nullptr &&
       (Upper(databaseName_) == Upper(kivConnection_->Name()) ||
        (kivConnection_->Owner() != nullptr &&
         Upper(databaseName_) == Upper(kivConnection_->Owner()->Name() + "." + kivConnection_->Name()))));
  TKivTableTypes aliasType = ttKivKDT;
  if (!aliasPath_.empty()) {
    path = aliasPath_;
  } else if (namesConnection) {
    if (kivConnection_ != nullptr) {
      path = kivConnection_->GetConnectDirectory();
      if (TableTypeOfAliasType(kivConnection_->GetAliasTableType(), aliasType) && aliasType != tableType_)
        StoreTableType(aliasType);
    }
  } else {
    path = databaseName_;
    std::string aliasPath;
    if (!HasSeparator(databaseName_) && FindAliasPath(databaseName_, aliasPath, aliasType)) {
      aliasPath_ = aliasPath;
      path = aliasPath;
      if (aliasType != tableType_) StoreTableType(aliasType);
    }
  }
  if (path.size() > 1 && (path.back() == '/' || path.back() == '\\')) path.pop_back();
  return path;
}

// ---- Table type and connection -------------------------------------------

void TKivDataSet::SetSourceTableType(TKivTableTypes type) {
  if (Active()) KivDataSetError(this, "Cannot perform this operation on an open dataset");
  static const char* const kMismatch =
      "The table type must remain identical to the table type associated with the alias.";
  if (!databaseName_.empty() && !HasSeparator(databaseName_)) {
    std::string path;
    TKivTableTypes aliasType = ttKivKDT;
    if (FindAliasPath(databaseName_, path, aliasType) && aliasType != type) KivDataSetError(this, kMismatch);
  }
  TKivTableTypes connectionType = ttKivKDT;
  if (kivConnection_ != nullptr && TableTypeOfAliasType(kivConnection_->GetAliasTableType(), connectionType) &&
      connectionType != type)
    KivDataSetError(this, kMismatch);
  StoreTableType(type);
}

void TKivDataSet::StoreTableType(TKivTableTypes type) {
  tableType_ = type;
  engineOpenType_ = type == ttKivCDX ? KIV_TABLE_CDX : type == ttKivNTX ? KIV_TABLE_NTX : KIV_TABLE_KDT;
}

void TKivDataSet::SetKivConnection(TKivConnection* connection) {
  if (Active()) KivDataSetError(this, "Table must not be Active.");
  if (connection != kivConnection_) {
    if (kivConnection_ != nullptr) kivConnection_->RemoveDataSet(this);
    if (connection != nullptr) connection->AddDataSet(this);
    kivConnection_ = connection;
  }
  GetDatabasePath();
}

// ---- Other operations ------------------------------------------------------

void TKivDataSet::RenameTable(const std::string& newName) {
  if (kivConnection_ == nullptr || !kivConnection_->IsDictionaryConnection())
    KivDataSetError(this, "The method RenameTable in TKivDataSet is not supported on free tables.");
  CheckInactive();
  CheckQELResult(this, KivDDRenameObject(kivConnection_->ConnectionHandle(), GetTableName().c_str(),
                                         newName.c_str(), KIV_DD_OBJ_TABLE, 0));
  TableRenamed(newName);
}

void TKivDataSet::BatchMove(TDataSet*, int) {
  KivDataSetError(this, "The method BatchMove in TKivDataSet is not supported.");
}

std::string TKivDataSet::Version() {
  uint16_t major = 0;
  uint16_t minor = 0;
  char letter = ' ';
  uint32_t length = 0;
  CheckQELResult(this, KivGetVersion(&major, &minor, &letter, nullptr, &length));
  return KivVersionText(major, minor, letter);
}

// ---- Provider support ------------------------------------------------------

void TKivDataSet::PSReset() {
  TDataSet::PSReset();
  if (!Active()) return;
  CheckQELResult(this, KivGotoTop(baseHandle_));
  CursorPosChanged();
}

bool TKivDataSet::PSUpdateRecord(TUpdateKind kind, TDataSet* delta) {
  if (!OnUpdateRecord) return false;
  TUpdateAction action = uaFail;
  OnUpdateRecord(delta, kind, action);
  return action == uaApplied;
}

int TKivDataSet::PSExecuteStatement(const std::string& sql, TParams* params, std::unique_ptr<TDataSet>* resultSet) {
  if (kivConnection_ == nullptr)
    KivDataSetError(this,
                    "A TKivConnection component is required for TClientDataSet/IProvider support. Use either the "
                    "KivConnection  property or the Database property to specify a TKivConnection instance.");
  TKivSQLOptions options;
  options.lockType = tableOptions_.KivLockType() == TKivLockTypes::Proprietary ? KIV_LOCK_PROPRIETARY
                                                                                 : KIV_LOCK_COMPATIBLE;
  options.charType = tableOptions_.KivCharType() == TKivCharTypes::ANSI ? KIV_CHAR_ANSI : KIV_CHAR_OEM;
  options.rights = tableOptions_.KivRightsCheck() ? KIV_RIGHTS_CHECK : KIV_RIGHTS_NO_CHECK;
  options.tableType = engineOpenType_;
  KIVHANDLE cursor = 0;
  const int result =
      kivConnection_->ExecuteSQLWithOptions(options, sql, params, false, resultSet != nullptr ? &cursor : nullptr);
  if (resultSet != nullptr) {
    // The query owns the cursor from here on and closes it with itself.
    std::unique_ptr<TKivQuery> query;
    try {
      query = std::make_unique<TKivQuery>(nullptr);
      query->OpenOnCursor(cursor);
    } catch (...) {
      if (cursor != 0) KivCloseTable(cursor);
      throw;
    }
    *resultSet = std::move(query);
  }
  return result;
}

bool TKivDataSet::PSInTransaction() {
  return kivConnection_ != nullptr && kivConnection_->IsConnected() && kivConnection_->GetTransactionActive();
}

void TKivDataSet::PSStartTransaction() {
  if (kivConnection_ != nullptr) kivConnection_->BeginTransaction();
}

void TKivDataSet::PSEndTransaction(bool commit) {
  if (kivConnection_ == nullptr) return;
  if (commit) kivConnection_->Commit();
  else kivConnection_->Rollback();
}

}  // namespace checker
