// The table component, and the process-wide list of connections opened by
// path for datasets that name a folder instead of a TKivConnection.
#ifndef CHECKER_KIVTABLE_H
#define CHECKER_KIVTABLE_H

#include <cstdint>
#include <string>
#include <vector>

#include "checker/kivcnnct.h"
#include "checker/kivdata.h"
#include "checker/kivindex.h"
#include "kivds/classes.h"
#include "qel32.h"

namespace checker {

// ---- Connections opened by path -------------------------------------------

struct TDynamicConn {
  KIVHANDLE handle = 0;
  std::string path;
};

// One engine connection per distinct path (compared upper-cased), in the
// order they were opened. Find and add each hold the lock for their whole
// run, the engine connect included; the pair is not atomic.
class TDynamicConnList {
 public:
  TDynamicConnList() = default;
  // Disconnects every entry, first to last; never throws.
  ~TDynamicConnList();
  TDynamicConnList(const TDynamicConnList&) = delete;
  TDynamicConnList& operator=(const TDynamicConnList&) = delete;

  // The handle opened for `path`, 0 when there is none.
  KIVHANDLE FindConnection(const std::string& path);
  // Connects to `path` and keeps the connection; an engine failure raises.
  KIVHANDLE AddConnection(const std::string& path);
  size_t Count();

 private:
  std::vector<TDynamicConn> connections_;
  kivds::TCriticalSection lock_;
};

// The process's list; its connections are disconnected when the program ends.
TDynamicConnList& DynamicConnections();

// ---- The table component ---------------------------------------------------

enum TIndexCollationMismatchOptions { icmError, icmIgnore, icmReindex };

// What the table hands to KivOpenTable.
struct TKivOpenTableArguments {
  KIVHANDLE connection = 0;
  std::string path;
  uint16_t tableType = 0;
  uint16_t charType = 0;
  uint16_t lockType = 0;
  uint16_t rights = 0;
  uint32_t options = 0;
};

class TKivTable : public TKivDataSet {
 public:
  explicit TKivTable(kivds::TComponent* owner);
  ~TKivTable() override;

  const std::string& TableName() const { return tableName_; }
  // Only while closed. Outside form reading a new name empties IndexFiles;
  // the dictionary's default index of the table is looked up, and the index
  // definitions are marked out of date.
  void SetTableName(const std::string& name);
  std::string GetTableName() override { return tableName_; }
  TKivTableTypes TableType() const { return SourceTableType(); }
  void SetTableType(TKivTableTypes type) { SetSourceTableType(type); }
  void SetExclusive(bool value);  // only while closed
  void SetReadOnly(bool value);   // only while closed
  TIndexCollationMismatchOptions IndexCollationMismatch() const { return collationMismatch_; }
  void SetIndexCollationMismatch(TIndexCollationMismatchOptions value);  // only while closed
  const std::string& EncryptionPassword() const { return encryptionPassword_; }
  void SetEncryptionPassword(const std::string& password) { encryptionPassword_ = password; }
  const std::string& InfoExpression() const { return infoExpression_; }
  void SetInfoExpression(const std::string& text) { infoExpression_ = text; }
  bool StoreDefs() const { return storeDefs_; }
  void SetStoreDefs(bool value) { storeDefs_ = value; }
  // Index files opened with the table, below the database path, in order;
  // adding (deleting) one while the table is open opens (closes) it.
  TKivIndexFiles& IndexFiles() { return indexFiles_; }

  int GetLastAutoIncValue() override;

  // -- provider support
  // TableName without a four-character extension (".dbf").
  std::string PSGetTableName() override;
  void PSSetCommandText(const std::string& text) override;
  // The order of IndexName or IndexFieldNames, else the primary key, else the
  // first unique index, whose fields all are fields of the dataset; nullptr
  // when there is none.
  std::unique_ptr<kivds::TIndexDef> PSGetDefaultOrder() override;
  std::unique_ptr<kivds::TIndexDefs> PSGetIndexDefs(unsigned indexTypes) override;
  // With parameters: opens and shows the range of records whose key is
  // the parameters' values (a named parameter sets its field, an unnamed one
  // the field of the active index's segment of its place). Without: an open
  // table's range is cancelled. Then the provider state is reset.
  void PSSetParams(const kivds::TParams& params) override;
  // The fields of the first unique index whose fields the dataset has (all
  // of them when the dataset has no fields yet); "" when none.
  std::string PSGetKeyFields() override;
  // The master's fields of MasterFields and the fields of the index that
  // IndexName or IndexFieldNames chooses.
  void GetDetailLinkFields(std::vector<kivds::TField*>& masterFields,
                           std::vector<kivds::TField*>& detailFields) override;

 protected:
  KIVHANDLE OpenEngineCursor() override;
  void TableRenamed(const std::string& newName) override { tableName_ = newName; }
  // The engine open; the single place KivOpenTable is called.
  virtual KIVRESULT EngineOpenTable(const TKivOpenTableArguments& args, KIVHANDLE* table);

 private:
  // The index definition IndexName (the default index for "KIV_DEFAULT")
  // or IndexFieldNames chooses; nullptr when none.
  kivds::TIndexDef* ChosenIndexDef();
  // The steps after the engine open: table type, character type,
  // encryption and index files.
  void SetUpOpenedTable(KIVHANDLE table, bool dictionary, const std::string& databasePath);

  std::string tableName_;
  TIndexCollationMismatchOptions collationMismatch_ = icmError;
  std::string encryptionPassword_;
  std::string infoExpression_;
  bool storeDefs_ = false;
  TKivIndexFiles indexFiles_{this};
};

}  // namespace checker

#endif
