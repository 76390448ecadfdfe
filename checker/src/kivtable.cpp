// TKivTable: opening an engine table by name; the connections opened by path.
#include "checker/kivtable.h"

#include "kivwin/win.h"

namespace checker {

using namespace kivds;

// ---- Connections opened by path -------------------------------------------

TDynamicConnList::~TDynamicConnList() {
  for (const TDynamicConn& c : connections_) KivDisconnect(c.handle);  // nothing to report to at exit
}

KIVHANDLE TDynamicConnList::FindConnection(const std::string& path) {
  std::lock_guard<TCriticalSection> guard(lock_);
  try {
    const std::string wanted = kivwin::AnsiUpperCase(path);
    for (const TDynamicConn& c : connections_)
      if (kivwin::AnsiUpperCase(c.path) == wanted) return c.handle;
  } catch (const std::exception&) {
  }
  return 0;
}

KIVHANDLE TDynamicConnList::AddConnection(const std::string& path) {
  std::lock_guard<TCriticalSection> guard(lock_);
  KIVHANDLE handle = 0;
  CheckQELResult(nullptr, KivConnect(path.c_str(), &handle));
  try {
    connections_.push_back(TDynamicConn{handle, path});
  } catch (const std::exception&) {
    KivDisconnect(handle);
    return 0;
  }
  return handle;
}

size_t TDynamicConnList::Count() {
  std::lock_guard<TCriticalSection> guard(lock_);
  return connections_.size();
}

TDynamicConnList& DynamicConnections() {
  static TDynamicConnList list;
  return list;
}

namespace {
// Made before main, so that it is ended after everything the program made
// later (the engine's state among it).
[[maybe_unused]] TDynamicConnList& gMadeEarly = DynamicConnections();
}  // namespace

// ---- The table component ---------------------------------------------------

TKivTable::TKivTable(TComponent* owner) : TKivDataSet(owner) {}

TKivTable::~TKivTable() = default;

void TKivTable::SetTableName(const std::string& name) {
  if (Active()) KivDataSetError(this, "Cannot perform this operation on an open dataset");
  // The index files belong to the table they were given for.
  if (!InState(csReading) && name != tableName_) indexFiles_.Clear();
  tableName_ = name;
  ReadDefaultIndexFromDictionary();
  DataEvent(dePropertyChange, 0);
}

void TKivTable::SetExclusive(bool value) {
  CheckInactive();
  SetExclusiveFlag(value);
}

void TKivTable::SetReadOnly(bool value) {
  CheckInactive();
  SetReadOnlyFlag(value);
}

void TKivTable::SetIndexCollationMismatch(TIndexCollationMismatchOptions value) {
  if (Active()) KivDataSetError(this, "Cannot perform this operation on an open dataset");
  collationMismatch_ = value;
}

int TKivTable::GetLastAutoIncValue() { return LastAutoIncOf(BaseHandle()); }

std::string TKivTable::PSGetTableName() {
  if (tableName_.size() > 4 && tableName_[tableName_.size() - 4] == '.')
    return tableName_.substr(0, tableName_.size() - 4);
  return tableName_;
}

void TKivTable::PSSetCommandText(const std::string& text) {
  if (!text.empty()) SetTableName(text);
}

namespace {

// Whether every name of a ';'-separated field list is a field of the
// dataset; a dataset without fields has them all when `noFieldsHasAll`.
bool HasAllFields(const TDataSet& dataSet, const std::string& names, bool noFieldsHasAll) {
  if (noFieldsHasAll && dataSet.FieldCount() == 0) return true;
  std::vector<std::string> list;
  ExtractStrings(";", " ", names, list);
  for (const std::string& name : list)
    if (dataSet.FindField(Trim(name)) == nullptr) return false;
  return true;
}

std::unique_ptr<TIndexDef> CopyOf(const TIndexDef& def) {
  auto copy = std::make_unique<TIndexDef>(def.Name(), def.Fields(), def.Options());
  copy->SetDescFields(def.DescFields());
  return copy;
}

}  // namespace

TIndexDef* TKivTable::ChosenIndexDef() {
  IndexDefs().Update();
  if (!IndexName().empty()) {
    const std::string name = UpperCase(IndexName()) == "KIV_DEFAULT" ? DefaultIndexName() : IndexName();
    const int at = IndexDefs().IndexOf(name);
    return at < 0 ? nullptr : IndexDefs()[at];
  }
  if (!IndexFieldNames().empty()) return IndexDefs().GetIndexForFields(IndexFieldNames(), false);
  return nullptr;
}

std::unique_ptr<TIndexDef> TKivTable::PSGetDefaultOrder() {
  const TIndexDef* chosen = nullptr;
  try {
    chosen = ChosenIndexDef();
    if (chosen != nullptr && !HasAllFields(*this, chosen->Fields(), false)) chosen = nullptr;
  } catch (const std::exception&) {
    chosen = nullptr;
  }
  for (unsigned wanted : {unsigned{ixPrimary}, unsigned{ixUnique}}) {
    for (int i = 0; chosen == nullptr && i < IndexDefs().Count(); ++i) {
      const TIndexDef* def = IndexDefs()[i];
      if ((def->Options() & wanted) != 0 && HasAllFields(*this, def->Fields(), false)) chosen = def;
    }
  }
  return chosen == nullptr ? nullptr : CopyOf(*chosen);
}

std::unique_ptr<TIndexDefs> TKivTable::PSGetIndexDefs(unsigned indexTypes) {
  IndexDefs().Update();
  return GetIndexDefs(IndexDefs(), indexTypes);
}

void TKivTable::PSSetParams(const TParams& params) {
  if (params.Count() > 0) {
    Open();
    auto setKey = [&] {
      std::vector<std::string> segments;
      for (int i = 0; i < params.Count(); ++i) {
        const TParam* param = params[i];
        if (!param->Name().empty()) {
          FieldByName(param->Name())->SetValue(param->Value());
          continue;
        }
        if (segments.empty()) segments = ActiveIndexSegments();
        if (static_cast<size_t>(i) >= segments.size())
          KivDataSetError(this, "The active index has no segment " + std::to_string(i + 1));
        FieldByName(segments[static_cast<size_t>(i)])->SetValue(param->Value());
      }
    };
    SetRangeStart();
    setKey();
    SetRangeEnd();
    setKey();
    ApplyRange();
  } else if (Active()) {
    CancelRange();
  }
  PSReset();
}

std::string TKivTable::PSGetKeyFields() {
  std::string fields = TKivDataSet::PSGetKeyFields();
  if (!fields.empty()) return fields;
  IndexDefs().Update();
  for (int i = 0; i < IndexDefs().Count(); ++i) {
    const TIndexDef* def = IndexDefs()[i];
    if ((def->Options() & ixUnique) != 0 && HasAllFields(*this, def->Fields(), true)) return def->Fields();
  }
  return {};
}

void TKivTable::GetDetailLinkFields(std::vector<TField*>& masterFields, std::vector<TField*>& detailFields) {
  masterFields.clear();
  detailFields.clear();
  TDataSource* source = MasterSource();
  if (source == nullptr || source->DataSet() == nullptr || MasterFields().empty()) return;
  source->DataSet()->GetFieldList(masterFields, MasterFields());
  if (const TIndexDef* def = ChosenIndexDef()) GetFieldList(detailFields, def->Fields());
}

KIVRESULT TKivTable::EngineOpenTable(const TKivOpenTableArguments& args, KIVHANDLE* table) {
  return KivOpenTable(args.connection, args.path.c_str(), nullptr, args.tableType, args.charType, args.lockType,
                      args.rights, args.options, table);
}

KIVHANDLE TKivTable::OpenEngineCursor() {
  if (tableName_.empty()) KivDataSetError(this, "Missing TableName property");

  TKivOpenTableArguments args;
  args.options = Exclusive() && ReadOnly() ? 3 : Exclusive() ? KIV_OPEN_EXCLUSIVE : ReadOnly() ? KIV_OPEN_READ_ONLY : 0;
  TKivConnection* connection = KivConnection();
  if (connection != nullptr && connection->ReadOnly()) {
    args.options |= KIV_OPEN_READ_ONLY;
    if (!InState(csDesigning)) SetReadOnlyFlag(true);
  }
  TKivTableOptions& options = KivTableOptions();
  args.lockType = options.KivLockType() == TKivLockTypes::Proprietary ? KIV_LOCK_PROPRIETARY : KIV_LOCK_COMPATIBLE;
  args.charType = options.KivCharType() == TKivCharTypes::OEM ? KIV_CHAR_OEM : KIV_CHAR_ANSI;
  args.rights = options.KivRightsCheck() ? KIV_RIGHTS_CHECK : KIV_RIGHTS_NO_CHECK;

  const std::string databasePath = GetDatabasePath();
  if (databasePath.empty())
    KivDataSetError(this, "One of the DatabaseName property or the KivConnection property must have a value.");
  const std::string freeTablePath = databasePath + "\\" + tableName_;
  bool dictionary = connection != nullptr && connection->IsDictionaryConnection();

  if (connection != nullptr) {
    // Connecting may change whether this is a dictionary connection.
    if (!connection->IsConnected()) connection->Connect();
    dictionary = connection->IsDictionaryConnection();
    args.connection = connection->ConnectionHandle();
  } else {
    args.connection = DynamicConnections().FindConnection(databasePath);
    if (args.connection == 0) args.connection = DynamicConnections().AddConnection(databasePath);
  }
  if (args.connection == 0) KivDataSetError(this, "Internal Error: invalid connection handle.");

  args.path = dictionary ? tableName_ : freeTablePath;
  args.tableType = dictionary ? KIV_TABLE_DEFAULT : EngineOpenType();
  if (collationMismatch_ == icmIgnore) args.options += KIV_OPEN_IGNORE_COLLATION;
  if (collationMismatch_ == icmReindex) args.options += KIV_OPEN_REINDEX_ON_COLLATION;

  KIVHANDLE table = 0;
  KIVRESULT rc = EngineOpenTable(args, &table);
  if (rc == KIV_ERR_DD_UNKNOWN_NAME && dictionary) {
    // Not a dictionary table: a free table in the dictionary's folder.
    args.path = freeTablePath;
    args.tableType = EngineOpenType();
    rc = EngineOpenTable(args, &table);
  }
  CheckQELResult(this, rc);
  try {
    SetUpOpenedTable(table, dictionary, databasePath);
  } catch (...) {
    KivCloseTable(table);
    throw;
  }
  return table;
}

void TKivTable::SetUpOpenedTable(KIVHANDLE table, bool dictionary, const std::string& databasePath) {
  uint16_t type = 0;
  CheckQELResult(this, KivGetTableType(table, &type));
  SetEngineTableType(type);
  if (dictionary) {
    SetSourceTableType(type == KIV_TABLE_CDX ? ttKivCDX : type == KIV_TABLE_NTX ? ttKivNTX : ttKivKDT);
    if (TableType() == ttKivCDX || TableType() == ttKivNTX) {
      uint16_t charType = 0;
      CheckQELResult(this, KivGetTableCharType(table, &charType));
      KivTableOptions().SetKivCharType(charType == KIV_CHAR_OEM ? TKivCharTypes::OEM : TKivCharTypes::ANSI);
    }
  }

  if (!encryptionPassword_.empty()) {
    uint16_t encrypted = 0;
    CheckQELResult(this, KivIsTableEncrypted(table, &encrypted));
    if (encrypted == 1) {
      uint16_t enabled = 0;
      CheckQELResult(this, KivIsEncryptionEnabled(table, &enabled));
      if (enabled != 1) CheckQELResult(this, KivEnableEncryption(table, encryptionPassword_.c_str()));
    }
  }

  for (int i = 0; i < indexFiles_.Count(); ++i) {
    const std::string path = databasePath + "\\" + indexFiles_[i];
    KIVHANDLE indexes[50] = {};
    uint16_t count = 50;
    CheckQELResult(this, KivOpenIndex(table, path.c_str(), indexes, &count));
  }
}

}  // namespace checker
