// The connection component: one engine connection to a folder of tables or
// to a data dictionary (".KDD"), with the login, the connect and disconnect
// events in their order, aliases from "kiv.ini", the datasets linked to it
// and the cache of statements that ExecuteSQL reuses.
//
// Every live TKivConnection is in KivConnectionList(); datasets search it to
// resolve their DatabaseName.
#ifndef CHECKER_KIVCNNCT_H
#define CHECKER_KIVCNNCT_H

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "kivds/classes.h"
#include "kivds/rtl.h"
#include "qel32.h"

namespace kivds {
class TParams;
}

namespace checker {

class TKivDataSet;
class TKivConnection;

// ---- Exceptions ------------------------------------------------------------

// An engine failure of the connection: the message is the engine's last
// error text. When the engine cannot hand out its last error, the error is
// shown through KivShowError("Kiv Exception Error") and the message stays
// empty; when it kept no error for the call, the message names the call's
// code.
class KivError : public kivds::Exception {
 public:
  explicit KivError(KIVRESULT failedCode);
  KIVRESULT Code() const { return code_; }  // the engine's code of the error

 private:
  KIVRESULT code_ = 0;
};

// A refusal of the connection component itself, with a fixed message.
class KivConnectionError : public kivds::Exception {
 public:
  using kivds::Exception::Exception;
};

// ---- Property types ----------------------------------------------------------

enum TKivServerType { stKIV_REMOTE, stKIV_LOCAL, stKIV_KIS };

// A set of server types (bit 0 remote, bit 1 local, bit 2 internet server).
class TKivServerTypes {
 public:
  TKivServerTypes() = default;
  TKivServerTypes(std::initializer_list<TKivServerType> types) {
    for (TKivServerType t : types) Include(t);
  }
  void Include(TKivServerType t) { bits_ = static_cast<uint8_t>(bits_ | (1u << t)); }
  bool Contains(TKivServerType t) const { return (bits_ & (1u << t)) != 0; }
  bool Empty() const { return bits_ == 0; }
  friend bool operator==(TKivServerTypes a, TKivServerTypes b) { return a.bits_ == b.bits_; }

 private:
  uint8_t bits_ = 0;
};

enum TKivCompressionTypes {
  ccKivCompressionNotSet, ccKivCompressInternet, ccKivCompressAlways, ccKivCompressNever
};
enum TKivCommunicationType { ctKivDefault, ctKivUDPIP, ctKivIPX, ctKivTCPIP };

// Replaces the login dialog: fills user name and password.
using TKivDatabaseLoginEvent =
    std::function<void(TKivConnection* connection, std::string& username, std::string& password)>;

// The engine's server-type value of a set: remote 2, local 1, internet 4, ORed.
uint16_t EngineServerTypes(TKivServerTypes types);
// The engine's connect options: middle tier 1, stored procedures 2,
// compression (internet 0xC, always 4, never 8) and communication type
// (UDP/IP 0x20, IPX 0x40, TCP/IP 0x80), ORed.
uint32_t EngineConnectOptions(bool middleTier, bool storedProcedures, TKivCompressionTypes compression,
                              TKivCommunicationType communication);

// What the connection hands to KivConnect60.
struct TKivConnectArguments {
  std::string path;
  uint16_t serverTypes = 0;
  std::string username;
  std::string password;
  uint32_t options = 0;
};

// Longest connect path and longest user name or password the engine takes.
constexpr size_t kMaxConnectPath = 254;
constexpr size_t kMaxCredential = 260;

// ---- Aliases in "kiv.ini" --------------------------------------------------

// The full name of "kiv.ini" on the search path, else the bare name.
std::string FindIniFile();

// An alias's value from section "Databases" of "kiv.ini", split at its first
// ';': the path before it and the upper-cased character after it (0 when
// there is none).
struct TKivAliasEntry {
  std::string path;
  char typeLetter = 0;
  bool Found() const { return !path.empty(); }
};
TKivAliasEntry ReadAliasEntry(const std::string& alias);

// The connection's numbering of an alias's table type: 'N' 2 (NTX), 'C' 1
// (CDX), 'K' 3 (KDT), anything else 0 (none).
int AliasTableTypeOf(char typeLetter);

// ---- Statement cache -------------------------------------------------------

// One cached statement: the hash of its text, its engine statement (0 until
// prepared) and the text.
struct TStmtInfo {
  uint32_t hash = 0;
  KIVHANDLE handle = 0;
  std::string text;
};

// ---- One-off SQL -----------------------------------------------------------

// The table options ExecuteSQLWithOptions hands to the engine unchanged.
struct TKivSQLOptions {
  uint16_t lockType = 0;
  uint16_t charType = 0;
  uint16_t rights = 0;
  uint16_t tableType = 0;
};

// The pieces of `text` that a ';' ends, in order; what follows the last ';'
// is not a piece.
std::vector<std::string> SemicolonEndedPieces(std::string_view text);

// ---- The component -----------------------------------------------------------

class TKivConnection : public kivds::TComponent {
 public:
  explicit TKivConnection(kivds::TComponent* owner);
  // Never throws: with a live connection the linked datasets are closed, the
  // cached statements closed and the engine connection ended, ignoring
  // failures.
  ~TKivConnection() override;

  // -- published properties
  const std::string& AliasName() const { return aliasName_; }
  virtual void SetAliasName(const std::string& alias);
  bool IsConnected() const { return connected_; }
  // The state machine: connects or disconnects, with the events in order.
  virtual void SetIsConnected(bool value);
  const std::string& ConnectPath() const { return connectPath_; }
  virtual void SetConnectPath(const std::string& path);
  virtual std::string ServerName();
  KIVHANDLE ConnectionHandle() const { return connected_ ? handle_ : 0; }
  TKivServerTypes KivServerTypes() const { return serverTypes_; }
  void SetKivServerTypes(TKivServerTypes types) { serverTypes_ = types; }
  bool LoginPrompt() const { return loginPrompt_; }
  void SetLoginPrompt(bool v) { loginPrompt_ = v; }
  const std::string& Username() const { return username_; }
  void SetUsername(const std::string& v) { username_ = v; }
  const std::string& Password() const { return password_; }
  void SetPassword(const std::string& v) { password_ = v; }
  bool MiddleTierConnection() const { return middleTier_; }
  void SetMiddleTierConnection(bool v) { middleTier_ = v; }
  bool StoreConnected() const { return storeConnected_; }
  void SetStoreConnected(bool v) { storeConnected_ = v; }
  bool StoredProcedureConnection() const { return storedProcedures_; }
  void SetStoredProcedureConnection(bool v) { storedProcedures_ = v; }
  TKivCompressionTypes Compression() const { return compression_; }
  void SetCompression(TKivCompressionTypes v) { compression_ = v; }
  TKivCommunicationType CommunicationType() const { return communication_; }
  void SetCommunicationType(TKivCommunicationType v) { communication_ = v; }
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool v) { readOnly_ = v; }

  kivds::TNotifyEvent AfterCommit, BeforeCommit, AfterRollback, BeforeRollback, OnConnect, OnDisconnect,
      AfterConnect, BeforeConnect, AfterDisconnect, BeforeDisconnect;
  TKivDatabaseLoginEvent OnLogin;

  // -- operations
  void Connect() { SetIsConnected(true); }
  void Disconnect() { SetIsConnected(false); }
  bool IsDictionaryConnection() const { return dictionary_; }
  // "Local", "Remote", "Internet" or empty (also when not connected).
  virtual std::string GetConnectionType();
  // ConnectPath when set, else the alias path.
  std::string GetConnectString() const { return connectPath_.empty() ? aliasPath_ : connectPath_; }
  // The connect string without a dictionary's file name.
  std::string GetConnectDirectory() const;
  // 0 none, 1 CDX, 2 NTX, 3 KDT.
  int GetAliasTableType() const { return aliasTableType_; }
  std::thread::id CreatorThread() const { return creatorThread_; }

  // -- linked datasets
  void AddDataSet(TKivDataSet* dataSet) { dataSets_.push_back(dataSet); }
  void RemoveDataSet(TKivDataSet* dataSet);  // its first occurrence
  TKivDataSet* GetDataSet(int index) const { return dataSets_.at(static_cast<size_t>(index)); }
  int GetDataSetCount() const { return static_cast<int>(dataSets_.size()); }

  // -- statement cache
  // The hash of a statement text (37-fold over every byte for short texts,
  // 39-fold over eight samples for texts of 16 characters or more).
  static uint32_t StatementHash(std::string_view text);
  // The cached entry of exactly this text (compared byte for byte), or a
  // new entry without a statement.
  TStmtInfo& FindCachedStatement(const std::string& text);
  // Drops an entry (one whose statement could not be made or prepared),
  // closing its statement when it has one.
  void RemoveCachedStatement(const TStmtInfo& entry);
  int CachedStatementCount() const { return static_cast<int>(statements_.size()); }
  // Closes every cached statement and empties the cache; entries without a
  // statement are skipped. The first failure is raised once all are closed.
  virtual void CloseCachedStatements();

  // Renames and carries the new name into the DatabaseName of the datasets
  // that named this connection.
  void SetName(const std::string& name) override;

  // -- services (kivcnnctsvc.cpp)
  // False when not connected; else whether the engine still has the
  // connection (a failing call raises KivError).
  bool IsConnectionAlive();
  // Whether BeginTransaction opened a transaction that is still open.
  bool GetTransactionActive() const;
  void BeginTransaction();
  // BeforeCommit, cached statements closed, the engine commit, AfterCommit.
  void Commit();
  // BeforeRollback, cached statements closed, pending edits of the linked
  // datasets cancelled, the engine rollback, the active linked datasets
  // refreshed, AfterRollback.
  void Rollback();
  void CreateSavepoint(const std::string& name);
  // An empty name rolls back the whole transaction (Rollback).
  void RollbackToSavepoint(const std::string& name);
  // The tables of the connected folder matching `mask` ("*.kdt" or "*.dbf"
  // when the alias names a table type); nothing on a dictionary connection.
  void GetTableNames(kivds::TStrings* list, const std::string& mask);
  // The same search; each match gives a name to each list that is not null.
  void GetTableNames62(kivds::TStrings* first, kivds::TStrings* second, const std::string& mask);
  // The tables of the data dictionary (connects first when needed).
  void GetDictionaryTableNames(kivds::TStrings* list);
  // Runs one SQL text (connects first when needed). With `keep` the
  // prepared statement stays in the statement cache for the next call with
  // exactly this text. With `cursor` the result cursor is handed out and 0
  // is returned; else the number of rows changed (0 when the statement
  // reports none).
  int ExecuteSQL(const std::string& sql, kivds::TParams* params, bool keep, KIVHANDLE* cursor);
  // The same with the table options of the statement's tables; a statement
  // without a row count raises.
  int ExecuteSQLWithOptions(const TKivSQLOptions& options, const std::string& sql, kivds::TParams* params,
                            bool keep, KIVHANDLE* cursor);
  int GetNumActiveLinks();
  // Adds the parts of the link's description, each ended by ';'.
  void GetActiveLinkInfo(uint16_t index, kivds::TStrings* list);
  // The server's date and time (connects first when needed).
  kivds::TDateTime GetServerTime();
  void CloseCachedTables();
  // The groups of the logged-in user in the data dictionary, read once per
  // connect.
  const kivds::TStringList& GetUserGroups();
  std::string GetUserGroupsText();

 protected:
  void Loaded() override;
  virtual void DoConnect();     // AfterConnect, then OnConnect
  virtual void DoDisconnect();  // AfterDisconnect, then OnDisconnect
  virtual void DoBeforeCommit() { if (BeforeCommit) BeforeCommit(this); }
  virtual void DoAfterCommit() { if (AfterCommit) AfterCommit(this); }
  virtual void DoBeforeRollback() { if (BeforeRollback) BeforeRollback(this); }
  virtual void DoAfterRollback() { if (AfterRollback) AfterRollback(this); }
  // Reads the user's groups from the dictionary into the list and the text.
  virtual void ReadUserGroups();
  virtual void ConnectToServer(const std::string& path);
  // The engine connect; the single place KivConnect60 is called.
  virtual KIVRESULT EngineConnect(const TKivConnectArguments& args, KIVHANDLE* handle);

 private:
  void OpenConnection();
  void CloseConnection();
  // Sets the source table type of this owner's datasets that use the alias.
  void PushAliasTableType();

  std::string aliasName_, aliasPath_, connectPath_;
  int aliasTableType_ = 0;
  bool aliasValid_ = true;
  bool dictionary_ = false;
  bool connected_ = false;
  KIVHANDLE handle_ = 0;
  bool connectAfterLoad_ = false;
  bool groupsRead_ = false;
  kivds::TStringList userGroups_;
  std::string userGroupsText_;
  bool transactionActive_ = false;
  void CheckConnected() const;
  int RunSQL(const TKivSQLOptions* options, const std::string& sql, kivds::TParams* params, bool keep,
             KIVHANDLE* cursor);
  TKivServerTypes serverTypes_;
  bool loginPrompt_ = true;
  std::string username_, password_;
  bool middleTier_ = false;
  bool storeConnected_ = true;
  bool storedProcedures_ = false;
  TKivCompressionTypes compression_ = ccKivCompressionNotSet;
  TKivCommunicationType communication_ = ctKivDefault;
  bool readOnly_ = false;
  std::thread::id creatorThread_;
  std::vector<TKivDataSet*> dataSets_;
  std::vector<std::unique_ptr<TStmtInfo>> statements_;
};

// Every live connection component.
kivds::TThreadList<TKivConnection*>& KivConnectionList();

// Strips leading and trailing blanks; an all-blank text becomes empty.
std::string TrimBlanks(std::string_view text);

}  // namespace checker

#endif
