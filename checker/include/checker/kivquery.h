// The query component: runs an SQL text on the engine and presents the
// cursor it returns as a dataset. ":name" markers of the text become Params;
// the text itself reaches the engine unchanged, and the engine numbers the
// markers in order of first appearance, as Params does.
#ifndef CHECKER_KIVQUERY_H
#define CHECKER_KIVQUERY_H

#include <cstdint>
#include <memory>
#include <string>

#include "checker/kivcnnct.h"
#include "checker/kivdata.h"
#include "checker/kivindex.h"
#include "kivds/classes.h"
#include "kivds/db.h"
#include "qel32.h"

namespace checker {

class TKivQuery;

// Follows the master data source of a query whose parameters come from it.
class TKivQueryDataLink : public kivds::TDetailDataLink {
 public:
  explicit TKivQueryDataLink(TKivQuery* query) : query_(query) {}
  kivds::TDataSet* GetDetailDataSet() override;

 protected:
  void ActiveChanged() override;
  void RecordChanged(kivds::TField* field) override;
  void CheckBrowseMode() override;

 private:
  TKivQuery* query_;
};

class TKivQuery : public TKivDataSet {
 public:
  explicit TKivQuery(kivds::TComponent* owner);
  // Closes the engine statement when it is still valid; never throws.
  ~TKivQuery() override;

  // -- published properties
  bool ReadAllColumns() const { return readAllColumns_; }
  void SetReadAllColumns(bool v) { readAllColumns_ = v; }
  bool Constrained() const { return constrained_; }
  void SetConstrained(bool v) { constrained_ = v; }
  bool ParamCheck() const { return paramCheck_; }
  void SetParamCheck(bool v) { paramCheck_ = v; }
  bool RequestLive() const { return requestLive_; }
  void SetRequestLive(bool v) { requestLive_ = v; }
  // The SQL text. Changing it (through this list or SetSQL) closes and
  // unprepares the query and parses the text into Params again (when
  // ParamCheck is set), keeping the values of parameters that keep their
  // names.
  kivds::TStringList& SQL() { return sql_; }
  // Takes the lines unless the text is the same (case-sensitive).
  void SetSQL(const kivds::TStrings& lines);
  kivds::TParams& Params() { return *params_; }
  void SetParams(const kivds::TParams& params) { params_->AssignValues(params); }
  kivds::TParam* ParamByName(const std::string& name) { return params_->ParamByName(name); }
  kivds::TDataSource* DataSource() const { return dataLink_.DataSource(); }
  // Refuses a source whose dataset is this query or follows it ("Circular
  // Data Link").
  void SetDataSource(kivds::TDataSource* source);
  // Index files opened on the cursor, below the database path, in order;
  // adding (deleting) one while the query is open opens (closes) it.
  TKivIndexFiles& IndexFiles() { return indexFiles_; }
  void SetDatabaseName(const std::string& name) override;
  // ttKivNTX only on a dictionary connection.
  void SetSourceTableType(TKivTableTypes type) override;

  // -- operations
  void Prepare();    // closed only
  void UnPrepare();  // closed only
  bool Prepared() const { return prepared_; }
  // Runs a statement that yields no rows; a cursor it yields anyway is
  // closed. Returns -1 when no cursor came.
  int ExecSQL();
  // Rows changed by the last execution, -1 when unknown.
  int RowsAffected() const { return rowsAffected_; }
  // Closes the engine statement (closed only).
  void FreeStatement();
  // The connection is going: forget the statement, which ends with it.
  void ReleaseEngineCursor() override;
  KIVHANDLE StatementHandle() const { return statement_; }
  KIVHANDLE DynamicConnectionHandle() const { return dynamicConnection_; }
  int GetLastAutoIncValue() override;
  // The record number in the cursor's order: the index IndexName or
  // IndexFieldNames chose, else the order the cursor is in.
  int GetCursorRecNo() override;
  // For each parameter named like a field of the master: that master field,
  // and this query's field of the name when it has one.
  void GetDetailLinkFields(std::vector<kivds::TField*>& masterFields,
                           std::vector<kivds::TField*>& detailFields) override;
  // Closes and opens again when the master is active and not setting keys.
  void RefreshFromMaster();

  // -- provider support
  std::unique_ptr<kivds::TIndexDef> PSGetDefaultOrder() override;
  kivds::TParams* PSGetParams() override { return params_.get(); }
  void PSSetParams(const kivds::TParams& params) override;
  std::string PSGetTableName() override;
  void PSExecute() override { ExecSQL(); }
  void PSSetCommandText(const std::string& text) override;

 protected:
  KIVHANDLE OpenEngineCursor() override;
  void InternalClose() override;
  kivds::TDataSource* GetDataSource() override { return dataLink_.DataSource(); }
  // Prepares, binds and executes; the cursor, or -1 when the text made none.
  KIVHANDLE ExecuteQuery();

 private:
  void QueryChanged();
  void EnsureStatement();
  void ApplyStatementOptions();
  // Unbound parameters take the values of the master's same-named fields.
  void CopyMasterParams();
  void CloseStatementQuietly();

  kivds::TStringList sql_;
  std::unique_ptr<kivds::TParams> params_;
  TKivQueryDataLink dataLink_{this};
  TKivIndexFiles indexFiles_{this};
  KIVHANDLE statement_ = kClosedHandle;
  KIVHANDLE dynamicConnection_ = kClosedHandle;
  bool prepared_ = false;
  int rowsAffected_ = -1;
  bool readAllColumns_ = false;
  bool constrained_ = false;
  bool paramCheck_ = true;
  bool requestLive_ = false;
};

}  // namespace checker

#endif
