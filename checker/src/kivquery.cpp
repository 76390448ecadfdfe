// TKivQuery: SQL texts with parameters, prepared and executed on an engine
// statement, read as a dataset over the cursor they return.
#include "checker/kivquery.h"

#include "checker/kiverror.h"
#include "checker/kivparams.h"
#include "checker/kivtable.h"

namespace checker {

using namespace kivds;

namespace {

constexpr const char* kOpenDataSet = "Cannot perform this operation on an open dataset";

}  // namespace

// ---- The master link -------------------------------------------------------

TDataSet* TKivQueryDataLink::GetDetailDataSet() { return query_; }

void TKivQueryDataLink::ActiveChanged() {
  if (query_->Active()) query_->RefreshFromMaster();
}

void TKivQueryDataLink::RecordChanged(TField* field) {
  if (field == nullptr && query_->Active()) query_->RefreshFromMaster();
}

void TKivQueryDataLink::CheckBrowseMode() {
  if (query_->Active()) query_->CheckBrowseMode();
}

// ---- Life cycle --------------------------------------------------------------

TKivQuery::TKivQuery(TComponent* owner) : TKivDataSet(owner), params_(std::make_unique<TParams>()) {
  sql_.OnChange = [this](TStringList*) { QueryChanged(); };
}

TKivQuery::~TKivQuery() {
  Destroying();
  sql_.OnChange = nullptr;
  try {
    Close();
  } catch (...) {
    // The base's destructor frees what is left.
  }
  CloseStatementQuietly();
}

void TKivQuery::CloseStatementQuietly() {
  // A statement of a connection that ended was forgotten then
  // (ReleaseEngineCursor); what is left is still the engine's.
  if (statement_ != kClosedHandle) KivCloseSQLStatement(statement_);  // nothing to report to
  statement_ = kClosedHandle;
  dynamicConnection_ = kClosedHandle;
}

// ---- Properties ----------------------------------------------------------------

void TKivQuery::SetSQL(const TStrings& lines) {
  if (sql_.Text() == lines.Text()) return;
  Close();
  UnPrepare();
  sql_.Assign(lines);  // one change for all lines
}

void TKivQuery::QueryChanged() {
  const std::string text = sql_.Text();
  CheckQELResult(this, KivGetSQLStmtParams(text.c_str()));
  if (InState(csReading)) return;
  Close();
  UnPrepare();
  if (paramCheck_ || InState(csDesigning)) {
    auto parsed = std::make_unique<TParams>();
    parsed->ParseSQL(text, true);
    parsed->AssignValues(*params_);
    params_ = std::move(parsed);
  }
  DataEvent(dePropertyChange, 0);
}

void TKivQuery::SetDataSource(TDataSource* source) {
  if (source != nullptr && source->IsLinkedTo(this)) KivDataSetError(this, "Circular Data Link");
  dataLink_.SetDataSource(source);
}

void TKivQuery::SetDatabaseName(const std::string& name) {
  if (Active()) KivDataSetError(this, kOpenDataSet);
  const std::string previous = DatabaseName();
  SetKivConnection(nullptr);
  TKivDataSet::SetDatabaseName(name);
  if (previous != DatabaseName() && dynamicConnection_ != kClosedHandle) {
    const KIVHANDLE statement = statement_;
    statement_ = kClosedHandle;
    dynamicConnection_ = kClosedHandle;
    if (statement != kClosedHandle) CheckQELResult(this, KivCloseSQLStatement(statement));
  }
}

void TKivQuery::SetSourceTableType(TKivTableTypes type) {
  if (type == ttKivNTX && (KivConnection() == nullptr || !KivConnection()->IsDictionaryConnection()))
    KivDataSetError(this, "The TKivQuery component does not support the NTX table type");
  TKivDataSet::SetSourceTableType(type);
}

// ---- Preparing and the statement -------------------------------------------------

void TKivQuery::Prepare() {
  if (Active()) KivDataSetError(this, kOpenDataSet);
  rowsAffected_ = -1;
  prepared_ = true;
}

void TKivQuery::UnPrepare() {
  if (Active()) KivDataSetError(this, kOpenDataSet);
  prepared_ = false;
}

void TKivQuery::FreeStatement() {
  if (Active()) KivDataSetError(this, kOpenDataSet);
  const KIVHANDLE statement = statement_;
  statement_ = kClosedHandle;
  dynamicConnection_ = kClosedHandle;
  if (statement == kClosedHandle) return;
  const KIVRESULT rc = KivCloseSQLStatement(statement);
  if (rc != KIV_ERR_STATEMENT_CLOSED) CheckQELResult(this, rc);
}

void TKivQuery::ReleaseEngineCursor() {
  prepared_ = false;
  statement_ = kClosedHandle;
  dynamicConnection_ = kClosedHandle;
}

void TKivQuery::EnsureStatement() {
  if (statement_ != kClosedHandle) {
    uint16_t type = 0;
    if (KivGetHandleType(statement_, &type) == KIV_OK && type == KIV_HT_STATEMENT) return;
    statement_ = kClosedHandle;
  }
  TKivConnection* connection = KivConnection();
  if (DatabaseName().empty() && connection == nullptr)
    KivDataSetError(this, "The DatabaseName property has not been assigned a value.");

  KIVHANDLE handle = 0;
  if (connection != nullptr) {
    if (!connection->IsConnected()) connection->Connect();
    handle = connection->ConnectionHandle();
  } else if (dynamicConnection_ != kClosedHandle) {
    // The connection opened by path earlier still serves this query.
    handle = dynamicConnection_;
  } else {
    std::string path = GetDatabasePath();
    if (path.size() == 2 && path[1] == ':') path += "\\";
    handle = DynamicConnections().FindConnection(path);
    if (handle == 0) handle = DynamicConnections().AddConnection(path);
    dynamicConnection_ = handle;
  }
  if (handle == kClosedHandle || handle == 0) KivDataSetError(this, "Internal Error: invalid connection handle.");
  KIVHANDLE statement = 0;
  CheckQELResult(this, KivCreateSQLStatement(handle, &statement));
  statement_ = statement;
}

void TKivQuery::ApplyStatementOptions() {
  TKivTableOptions& options = KivTableOptions();
  CheckQELResult(this, KivStmtSetTableLockType(statement_, options.KivLockType() == TKivLockTypes::Compatible
                                                                ? KIV_LOCK_COMPATIBLE
                                                                : KIV_LOCK_PROPRIETARY));
  CheckQELResult(this, KivStmtSetTableCharType(statement_, options.KivCharType() == TKivCharTypes::OEM
                                                                ? KIV_CHAR_OEM
                                                                : KIV_CHAR_ANSI));
  CheckQELResult(this, KivStmtSetTableRights(statement_, options.KivRightsCheck() ? KIV_RIGHTS_CHECK
                                                                                  : KIV_RIGHTS_NO_CHECK));
  CheckQELResult(this, KivStmtSetTableReadOnly(statement_, requestLive_ ? 2 : 1));
  if (KivConnection() != nullptr && KivConnection()->ReadOnly())
    CheckQELResult(this, KivStmtSetTableReadOnly(statement_, 1));
  const TKivTableTypes type = SourceTableType();
  CheckQELResult(this, KivStmtSetTableType(statement_, type == ttKivKDT   ? KIV_TABLE_KDT
                                                       : type == ttKivCDX ? KIV_TABLE_CDX
                                                                          : KIV_TABLE_NTX));
  CheckQELResult(this, KivStmtConstrainUpdates(statement_, constrained_ ? 1 : 2));
  CheckQELResult(this, KivStmtReadAllColumns(statement_, readAllColumns_ ? 1 : 2));
}

// ---- Executing -----------------------------------------------------------------------

KIVHANDLE TKivQuery::ExecuteQuery() {
  CheckInactive();
  EnsureStatement();
  ApplyStatementOptions();
  Prepare();
  CheckQELResult(this, KivPrepareSQL(statement_, sql_.Text().c_str()));
  if (DataSource() != nullptr) CopyMasterParams();
  BindParamsToStatement(statement_, *params_, this);

  KIVHANDLE cursor = 0;
  try {
    CheckQELResult(this, KivExecuteSQL(statement_, &cursor));
  } catch (const EKIVDatabaseError& e) {
    if (e.EngineErrorCode == KIV_ERR_SQL_STATEMENT || e.Message().find("7209") != std::string::npos) FreeStatement();
    throw;
  }

  KIVHANDLE result = kClosedHandle;
  if (cursor != 0) {
    try {
      uint16_t live = 0;
      CheckQELResult(this, KivSqlPeekStatement(cursor, &live));
      SetReadOnlyFlag(live == 0);
      if (live == 1) {
        uint16_t charType = 0;
        CheckQELResult(this, KivGetTableCharType(cursor, &charType));
        KivTableOptions().SetKivCharType(charType == KIV_CHAR_OEM ? TKivCharTypes::OEM : TKivCharTypes::ANSI);
      }
    } catch (...) {
      KivCloseTable(cursor);
      throw;
    }
    result = cursor;
  }
  uint32_t count = 0;
  const KIVRESULT rc = KivGetRecordCount(statement_, KIV_COUNT_IGNORE_FILTERS, &count);
  if (rc == KIV_ERR_NO_ROW_COUNT) {
    rowsAffected_ = -1;
  } else {
    if (rc != KIV_OK && result != kClosedHandle) KivCloseTable(result);
    CheckQELResult(this, rc);
    rowsAffected_ = static_cast<int>(count);
  }
  return result;
}

int TKivQuery::ExecSQL() {
  const KIVHANDLE cursor = ExecuteQuery();
  if (cursor == kClosedHandle) return -1;
  CheckQELResult(this, KivCloseTable(cursor));
  return 0;
}

KIVHANDLE TKivQuery::OpenEngineCursor() {
  const KIVHANDLE cursor = ExecuteQuery();
  if (cursor == kClosedHandle)
    KivDataSetError(this,
                    "The SQL statement did not generate a cursor handle.  Use TKivQuery.ExecSQL to execute SQL "
                    "statements that are not SELECT statements");
  try {
    uint16_t type = 0;
    CheckQELResult(this, KivGetTableType(cursor, &type));
    SetEngineTableType(type);
    if (indexFiles_.Count() > 0) {
      const std::string databasePath = GetDatabasePath();
      for (int i = 0; i < indexFiles_.Count(); ++i) {
        const std::string path = databasePath + "\\" + indexFiles_[i];
        KIVHANDLE indexes[50] = {};
        uint16_t count = 50;
        CheckQELResult(this, KivOpenIndex(cursor, path.c_str(), indexes, &count));
      }
    }
  } catch (...) {
    KivCloseTable(cursor);
    throw;
  }
  return cursor;
}

void TKivQuery::InternalClose() {
  TKivDataSet::InternalClose();
  prepared_ = false;
  if (InState(csDesigning)) CloseStatementQuietly();
}

int TKivQuery::GetLastAutoIncValue() { return LastAutoIncOf(HasBaseHandle() ? BaseHandle() : statement_); }

int TKivQuery::GetCursorRecNo() {
  KIVHANDLE index = 0;
  if (!IndexName().empty() || !IndexFieldNames().empty()) {
    index = ActiveHandle();
  } else if (Sequenced()) {
    // The order the cursor itself is in; natural order means none.
    const KIVRESULT rc = KivGetIndexHandle(BaseHandle(), nullptr, &index);
    if (rc == KIV_ERR_NOT_APPLICABLE) index = 0;
    else CheckQELResult(this, rc);
  }
  if (!Sequenced() || index == 0 || index == kClosedHandle || index == BaseHandle()) {
    uint32_t number = 0;
    CheckQELResult(this, KivGetRecordNum(BaseHandle(), 2, &number));
    return static_cast<int>(number);
  }
  return RecNoInOrder(index);
}

// ---- Master and detail -------------------------------------------------------------

void TKivQuery::GetDetailLinkFields(std::vector<TField*>& masterFields, std::vector<TField*>& detailFields) {
  masterFields.clear();
  detailFields.clear();
  TDataSet* master = DataSource() != nullptr ? DataSource()->DataSet() : nullptr;
  if (master == nullptr) return;
  for (int i = 0; i < params_->Count(); ++i) {
    TField* field = master->FindField((*params_)[i]->Name());
    if (field == nullptr) continue;
    masterFields.push_back(field);
    if (TField* own = FindField((*params_)[i]->Name())) detailFields.push_back(own);
  }
}

void TKivQuery::CopyMasterParams() {
  TDataSet* master = DataSource() != nullptr ? DataSource()->DataSet() : nullptr;
  if (master == nullptr) return;
  master->FieldDefs().Update();
  for (int i = 0; i < params_->Count(); ++i) {
    TParam* param = (*params_)[i];
    if (param->Bound()) continue;
    const TField* field = master->FieldByName(param->Name());
    param->AssignFieldValue(*field, field->Value());
    param->SetBound(false);
  }
}

void TKivQuery::RefreshFromMaster() {
  DisableControls();
  try {
    TDataSet* master = DataSource() != nullptr ? DataSource()->DataSet() : nullptr;
    if (master != nullptr && master->Active() && master->State() != dsSetKey) {
      Close();
      Open();
    }
  } catch (...) {
    EnableControls();
    throw;
  }
  EnableControls();
}

// ---- Provider support ------------------------------------------------------------------

std::unique_ptr<TIndexDef> TKivQuery::PSGetDefaultOrder() {
  if (auto order = TKivDataSet::PSGetDefaultOrder()) return order;
  return GetIndexForOrderBy(sql_.Text(), this);
}

void TKivQuery::PSSetParams(const TParams& params) {
  if (params.Count() > 0) params_->Assign(params);
  Close();
}

std::string TKivQuery::PSGetTableName() { return GetTableNameFromSQL(sql_.Text()); }

void TKivQuery::PSSetCommandText(const std::string& text) {
  if (!text.empty()) sql_.SetText(text);
}

}  // namespace checker
