// TKivConnection services: transactions and savepoints, table lists, one-off
// SQL through the statement cache, server and link information, and the
// user's groups in the data dictionary.
#include <cstring>
#include <exception>

#include "checker/kivcnnct.h"
#include "checker/kivdata.h"
#include "checker/kiverror.h"
#include "checker/kivparams.h"
#include "kivds/db.h"

namespace checker {

using namespace kivds;

namespace {

constexpr uint32_t kTableNameBuffer = 260;
constexpr uint32_t kObjectNameBuffer = 200;
constexpr uint32_t kLinkInfoBuffer = 664;
constexpr uint32_t kServerTimeBuffer = 69;

// The text an engine call wrote into a buffer of `capacity` bytes.
std::string TextOf(const char* buffer, uint32_t length, uint32_t capacity) {
  return std::string(buffer, strnlen(buffer, std::min(length, capacity)));
}

void CheckKiv(KIVRESULT rc) {
  if (rc != KIV_OK) throw KivError(rc);
}

// Keeps the error of a closing call, unless an earlier failure is kept.
void KeepFailure(std::exception_ptr& failure, KIVRESULT rc) {
  if (rc == KIV_OK || failure) return;
  try {
    CheckQELResult(nullptr, rc);
  } catch (...) {
    failure = std::current_exception();
  }
}

}  // namespace

std::vector<std::string> SemicolonEndedPieces(std::string_view text) {
  std::vector<std::string> pieces;
  size_t start = 0;
  for (size_t end = text.find(';'); end != std::string_view::npos; end = text.find(';', start)) {
    pieces.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  return pieces;
}

void TKivConnection::CheckConnected() const {
  if (!connected_) throw KivConnectionError("No connection to Morvane server.");
}

// ---- Connection state --------------------------------------------------------

bool TKivConnection::IsConnectionAlive() {
  if (!connected_) return false;
  uint16_t alive = 0;
  CheckKiv(KivIsConnectionAlive(handle_, &alive));
  return alive != 0;
}

bool TKivConnection::GetTransactionActive() const {
  CheckConnected();
  return transactionActive_;
}

// ---- Transactions and savepoints ---------------------------------------------

void TKivConnection::BeginTransaction() {
  CheckConnected();
  CheckKiv(KivBeginTransaction(handle_));
  transactionActive_ = true;
}

void TKivConnection::Commit() {
  CheckConnected();
  DoBeforeCommit();
  CloseCachedStatements();
  CheckKiv(KivCommitTransaction(handle_));
  transactionActive_ = false;
  DoAfterCommit();
}

void TKivConnection::Rollback() {
  CheckConnected();
  DoBeforeRollback();
  CloseCachedStatements();
  // Pending edits go first: the rollback restores the stored records, and a
  // later post must not write an edit of the rolled-back data.
  const std::vector<TKivDataSet*> linked = dataSets_;
  for (TKivDataSet* ds : linked) ds->Cancel();
  CheckKiv(KivRollbackTransaction(handle_));
  transactionActive_ = false;
  for (TKivDataSet* ds : linked)
    if (ds->Active()) ds->Refresh();
  DoAfterRollback();
}

void TKivConnection::CreateSavepoint(const std::string& name) {
  CheckConnected();
  CheckQELResult(nullptr, KivCreateSavepoint(handle_, name.c_str(), 0));
}

void TKivConnection::RollbackToSavepoint(const std::string& name) {
  if (name.empty()) {
    Rollback();
    return;
  }
  CheckConnected();
  CheckQELResult(nullptr, KivRollbackTransaction80(handle_, name.c_str(), 0));
}

// ---- Table lists -----------------------------------------------------------

namespace {

// What the table searches look for: everything the dictionary holds, or
// the tables of the connected folder that match the mask (a table type of
// the alias fixes the extension).
std::string TableSearchText(const TKivConnection& connection, const std::string& mask) {
  if (connection.IsDictionaryConnection()) return {};
  std::string directory = connection.GetConnectString();
  if (!directory.empty() && (directory.back() == '/' || directory.back() == '\\')) directory.pop_back();
  std::string pattern = mask;
  switch (connection.GetAliasTableType()) {
    case 3: pattern = "*.kdt"; break;
    case 1:
    case 2: pattern = "*.dbf"; break;
    default: break;
  }
  return directory + "\\" + pattern;
}

// Runs a table search: `first` starts it and hands out the find handle,
// `next` continues it; each reports its names through `take`. The end of
// the search ends it; any other failure raises. The search is closed in
// every case.
template <class First, class Next>
void RunTableSearch(First first, Next next) {
  KIVHANDLE find = 0;
  std::exception_ptr failure;
  try {
    KIVRESULT rc = first(&find);
    while (rc == KIV_OK) rc = next(find);
    if (rc != KIV_ERR_NO_MORE_TABLES) throw KivError(rc);
  } catch (...) {
    failure = std::current_exception();
  }
  if (find != 0) {
    const KIVRESULT rc = KivFindClose(find);
    if (rc != KIV_OK && !failure) failure = std::make_exception_ptr(KivError(rc));
  }
  if (failure) std::rethrow_exception(failure);
}

}  // namespace

void TKivConnection::GetTableNames(TStrings* list, const std::string& mask) {
  CheckConnected();
  if (list == nullptr) return;
  const std::string search = TableSearchText(*this, mask);
  char name[kTableNameBuffer + 1];
  uint32_t length = 0;
  auto take = [&](KIVRESULT rc) {
    if (rc == KIV_OK) list->Add(TextOf(name, length, kTableNameBuffer));
    return rc;
  };
  RunTableSearch(
      [&](KIVHANDLE* find) {
        length = kTableNameBuffer;
        std::memset(name, 0, sizeof name);
        return take(KivFindFirstTable(handle_, search.c_str(), name, &length, find));
      },
      [&](KIVHANDLE find) {
        length = kTableNameBuffer;
        std::memset(name, 0, sizeof name);
        return take(KivFindNextTable(find, name, &length));
      });
}

void TKivConnection::GetTableNames62(TStrings* first, TStrings* second, const std::string& mask) {
  CheckConnected();
  const std::string search = TableSearchText(*this, mask);
  char name[kTableNameBuffer + 1];
  char path[kTableNameBuffer + 1];
  uint32_t nameLength = 0, pathLength = 0;
  auto reset = [&] {
    nameLength = pathLength = kTableNameBuffer;
    std::memset(name, 0, sizeof name);
    std::memset(path, 0, sizeof path);
  };
  auto take = [&](KIVRESULT rc) {
    if (rc != KIV_OK) return rc;
    if (first != nullptr) first->Add(TextOf(name, nameLength, kTableNameBuffer));
    if (second != nullptr) second->Add(TextOf(path, pathLength, kTableNameBuffer));
    return rc;
  };
  RunTableSearch(
      [&](KIVHANDLE* find) {
        reset();
        return take(KivFindFirstTable62(handle_, search.c_str(), name, &nameLength, path, &pathLength, find));
      },
      [&](KIVHANDLE find) {
        reset();
        return take(KivFindNextTable62(find, name, &nameLength, path, &pathLength));
      });
}

void TKivConnection::GetDictionaryTableNames(TStrings* list) {
  if (!connected_) Connect();
  if (!dictionary_ || list == nullptr) return;
  char name[kObjectNameBuffer + 1];
  uint32_t length = 0;
  KIVHANDLE find = 0;
  std::exception_ptr failure;
  try {
    length = kObjectNameBuffer;
    std::memset(name, 0, sizeof name);
    KIVRESULT rc = KivDDFindFirstObject(handle_, KIV_DD_OBJ_TABLE, "", name, &length, &find);
    while (rc == KIV_OK) {
      list->Add(TextOf(name, length, kObjectNameBuffer));
      length = kObjectNameBuffer;
      std::memset(name, 0, sizeof name);
      rc = KivDDFindNextObject(find, name, &length);
    }
    if (rc != KIV_ERR_DD_NO_MORE_OBJECTS) CheckQELResult(nullptr, rc);
  } catch (...) {
    failure = std::current_exception();
  }
  if (find != 0) KeepFailure(failure, KivDDFindClose(find));
  if (failure) std::rethrow_exception(failure);
}

// ---- One-off SQL -----------------------------------------------------------

int TKivConnection::ExecuteSQL(const std::string& sql, TParams* params, bool keep, KIVHANDLE* cursor) {
  return RunSQL(nullptr, sql, params, keep, cursor);
}

int TKivConnection::ExecuteSQLWithOptions(const TKivSQLOptions& options, const std::string& sql, TParams* params,
                                          bool keep, KIVHANDLE* cursor) {
  return RunSQL(&options, sql, params, keep, cursor);
}

int TKivConnection::RunSQL(const TKivSQLOptions* options, const std::string& sql, TParams* params, bool keep,
                           KIVHANDLE* cursor) {
  if (!connected_) Connect();

  // The statement: a prepared one from the cache, else a new one.
  TStmtInfo* cached = keep ? &FindCachedStatement(sql) : nullptr;
  KIVHANDLE statement = cached != nullptr ? cached->handle : 0;
  if (statement == 0) {
    try {
      CheckQELResult(nullptr, KivCreateSQLStatement(handle_, &statement));
      if (cached != nullptr) cached->handle = statement;
      if (cursor != nullptr) CheckQELResult(nullptr, KivStmtSetTableReadOnly(statement, 1));
      if (options != nullptr) {
        CheckQELResult(nullptr, KivStmtSetTableType(statement, options->tableType));
        CheckQELResult(nullptr, KivStmtSetTableCharType(statement, options->charType));
        CheckQELResult(nullptr, KivStmtSetTableLockType(statement, options->lockType));
        CheckQELResult(nullptr, KivStmtSetTableRights(statement, options->rights));
      }
      CheckQELResult(nullptr, KivPrepareSQL(statement, sql.c_str()));
    } catch (...) {
      // A statement that could not be made or prepared is never reused.
      if (cached != nullptr) {
        try {
          RemoveCachedStatement(*cached);
        } catch (...) {
        }
      } else if (statement != 0) {
        KivCloseSQLStatement(statement);
      }
      throw;
    }
  }

  int rows = 0;
  std::exception_ptr failure;
  try {
    if (params != nullptr && params->Count() > 0) {
      BindParamsToStatement(statement, *params);
      CheckQELResult(nullptr, KivExecuteSQL(statement, cursor));
    } else {
      CheckQELResult(nullptr, KivExecuteSQLDirect(statement, sql.c_str(), cursor));
    }
    if (cursor == nullptr) {
      uint32_t count = 0;
      const KIVRESULT rc = KivGetRecordCount(statement, KIV_COUNT_IGNORE_FILTERS, &count);
      if (rc == KIV_ERR_NO_ROW_COUNT && options == nullptr) count = 0;
      else CheckQELResult(nullptr, rc);
      rows = static_cast<int>(count);
    }
  } catch (...) {
    failure = std::current_exception();
  }
  if (!keep) KeepFailure(failure, KivCloseSQLStatement(statement));
  if (failure) std::rethrow_exception(failure);
  return rows;
}

// ---- Server information ------------------------------------------------------

int TKivConnection::GetNumActiveLinks() {
  uint16_t count = 0;
  CheckQELResult(nullptr, KivGetNumActiveLinks(handle_, &count));
  return count;
}

void TKivConnection::GetActiveLinkInfo(uint16_t index, TStrings* list) {
  if (list == nullptr) return;
  char info[kLinkInfoBuffer + 1] = {};
  uint32_t length = kLinkInfoBuffer;
  CheckQELResult(nullptr, KivGetActiveLinkInfo(handle_, index, info, &length));
  for (const std::string& piece : SemicolonEndedPieces(TextOf(info, length, kLinkInfoBuffer))) list->Add(piece);
}

TDateTime TKivConnection::GetServerTime() {
  if (!connected_) Connect();
  char date[kServerTimeBuffer + 1] = {};
  char time[kServerTimeBuffer + 1] = {};
  uint32_t dateLength = kServerTimeBuffer, timeLength = kServerTimeBuffer, milliseconds = 0;
  CheckQELResult(nullptr, KivGetServerTime(handle_, date, &dateLength, time, &timeLength, &milliseconds));
  const std::string dateText = TextOf(date, dateLength, kServerTimeBuffer);
  double julian = 0;
  CheckQELResult(nullptr,
                 KivConvertDateToJulian(dateText.c_str(), static_cast<uint16_t>(dateText.size()), &julian));
  std::memset(date, 0, sizeof date);
  dateLength = kServerTimeBuffer;
  CheckQELResult(nullptr, KivConvertJulianToString(julian, date, &dateLength));
  const std::string ymd = TextOf(date, dateLength, kServerTimeBuffer);
  int year = 0, month = 0, day = 0;
  if (ymd.size() < 8 || !TryStrToInt(ymd.substr(0, 4), year) || !TryStrToInt(ymd.substr(4, 2), month) ||
      !TryStrToInt(ymd.substr(6, 2), day))
    KivDataSetError(nullptr, "The server date \"" + dateText + "\" cannot be read.");
  return EncodeDate(year, month, day) + static_cast<double>(milliseconds) / static_cast<double>(MSecsPerDay);
}

void TKivConnection::CloseCachedTables() {
  if (connected_) CheckQELResult(nullptr, KivCloseCachedTables(handle_));
}

// ---- User groups -----------------------------------------------------------

const TStringList& TKivConnection::GetUserGroups() {
  if (!groupsRead_) ReadUserGroups();
  return userGroups_;
}

std::string TKivConnection::GetUserGroupsText() {
  if (!groupsRead_) ReadUserGroups();
  return userGroupsText_;
}

void TKivConnection::ReadUserGroups() {
  userGroups_.Clear();
  userGroupsText_.clear();
  if (!connected_ || !dictionary_) return;
  uint16_t length = 0;
  const KIVRESULT rc = KivDDGetUserProperty(handle_, username_.c_str(), KIV_DD_PROP_USER_GROUPS, nullptr, &length);
  if (rc != KIV_OK && rc != KIV_ERR_BUFFER_TOO_SMALL && rc != KIV_ERR_DD_NO_PROPERTY) CheckQELResult(nullptr, rc);
  if (length == 0) return;
  // One byte more than the text: room for the terminating zero.
  std::string text(static_cast<size_t>(length) + 1, '\0');
  uint16_t capacity = static_cast<uint16_t>(std::min<size_t>(text.size(), 0xFFFF));
  CheckQELResult(nullptr,
                 KivDDGetUserProperty(handle_, username_.c_str(), KIV_DD_PROP_USER_GROUPS, text.data(), &capacity));
  text.resize(strnlen(text.data(), std::min<size_t>(capacity, text.size())));
  std::vector<std::string> groups;
  ExtractStrings(";", "", text, groups);
  userGroups_.AddStrings(groups);
  userGroupsText_ = text;
  groupsRead_ = true;
}

}  // namespace checker
