// SQLDataSet: a client-side copy of one result set. It owns a read-only,
// forward-only cursor, copies its rows into the array DataSet in one pass,
// drops the statement and serves field access and navigation from memory,
// with computed and cache-only columns, child data sets that follow the
// current row, row and time limits, a row filter, and cancellation of a
// running fill from another thread.
//
// A cached row has FCount + 2 elements: the field values, the row state
// (1 fetched and unchanged, -1 fetched and changed, 0 added in the cache)
// and the cursor row's values as fetched (NIL for an added row).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "rowxpp/sql_select.h"
#include "xpp/object.h"
#include "xpp/value.h"

namespace rowxpp {

class SQLDataSet : public xpp::Object {
public:
    static xpp::Class& ClassObject();
    xpp::Class& classObject() const override { return ClassObject(); }
    // new(xSQL, oConnection, xParameters, xPrimaryKey, nMaxRows, aFields,
    //     bFilter, lTrimmed, lDateTimeAsDate)
    static std::shared_ptr<SQLDataSet> New(const xpp::Value& sql = xpp::Value(),
                                           const xpp::Value& connection = xpp::Value(),
                                           const xpp::Value& parameters = xpp::Value(),
                                           const xpp::Value& primaryKey = xpp::Value(),
                                           const xpp::Value& maxRows = xpp::Value(),
                                           const xpp::Value& fields = xpp::Value(),
                                           const xpp::Value& filter = xpp::Value(),
                                           const xpp::Value& trimmed = xpp::Value(),
                                           const xpp::Value& dateTimeAsDate = xpp::Value());

    SQLDataSet& Init(const xpp::Value& sql, const xpp::Value& connection, const xpp::Value& parameters,
                     const xpp::Value& primaryKey, const xpp::Value& maxRows, const xpp::Value& fields,
                     const xpp::Value& filter, const xpp::Value& trimmed, const xpp::Value& dateTimeAsDate);
    SQLDataSet& Destroy();
    bool Close();
    // Not serialised: stops a fill running in another thread.
    bool Cancel();

    // ---- filling
    // The number of rows cached; -1 when skipped for unchanged parameters;
    // 0 without cursor. Only `force` exactly .F. allows the skip.
    int64_t FetchData(const xpp::Value& force = xpp::Value());
    // Without an argument marks the cache stale (no lock taken) and answers
    // -1; with one fills a stale cache.
    int64_t Refresh(const xpp::Value& x = xpp::Value());
    xpp::Value SetPrimaryKey(const xpp::Value& key, const xpp::Value& second = xpp::Value());

    // ---- relations
    SQLDataSet& SetRelation(const xpp::Value& child);
    SQLDataSet& ClearRelation();
    SQLDataSet& RefreshChildren();
    const xpp::Array& ChildRelations() const { return ChildRelations_; }

    // ---- column schema
    SQLDataSet& AddColumn(const xpp::Value& name, const xpp::Value& block = xpp::Value());
    SQLDataSet& DelColumn(const xpp::Value& field);
    SQLDataSet& DelEmptyColumns();

    // ---- field and record access
    int64_t FieldPos(const xpp::Value& field, const xpp::Value& raise = xpp::Value());
    std::string FieldName(const xpp::Value& field);
    xpp::Value FieldGet(const xpp::Value& field, const xpp::Value& row = xpp::Value());
    xpp::Value FastFieldGet(const xpp::Value& position, const xpp::Value& row = xpp::Value());
    xpp::Value FieldPut(const xpp::Value& field, const xpp::Value& value, const xpp::Value& row = xpp::Value());
    xpp::Value RecordGet(const xpp::Value& row = xpp::Value());
    xpp::Value RecordPut(const xpp::Value& values, const xpp::Value& row = xpp::Value());
    xpp::Array GetColumnData(const xpp::Value& field);
    bool isColumnEmpty(const xpp::Value& field);

    // ---- editing the cache and writing it back
    // The data: NIL or a count of blank rows, an array of records, one
    // record, or another data set of the same FCount.
    SQLDataSet& Append(const xpp::Value& data = xpp::Value());
    bool Insert(const xpp::Value& row = xpp::Value(), const xpp::Value& data = xpp::Value());
    bool Delete(const xpp::Value& row = xpp::Value());
    // Writes the deleted rows, then each added and changed row in cache
    // order, through the cursor's write statement.
    bool Commit();
    // Gives a changed row back its values as fetched; drops an added row.
    SQLDataSet& CancelUpdate(const xpp::Value& row = xpp::Value());
    // Re-reads the row a cursor of the same layout stands on into the
    // cache by the first key field: replaces the row of that key or adds
    // it; drops it when asked, deleted or refused by CustomFilter.
    SQLDataSet& RefreshRow(const xpp::Value& cursor, const xpp::Value& drop = xpp::Value());

    // ---- ordering and searching the cache
    // By a field, an array of fields or a comparison block of two rows.
    SQLDataSet& Sort(const xpp::Value& order = xpp::Value(), const xpp::Value& ascending = xpp::Value());
    // Binary search over rows ordered by the fields (default SortOrder).
    bool Seek(const xpp::Value& value, const xpp::Value& fields = xpp::Value(), const xpp::Value& soft = xpp::Value(),
              const xpp::Value& low = xpp::Value(), const xpp::Value& high = xpp::Value());
    // The first row, from the top or from the current one, that matches;
    // a match the browse filter hides goes on to the next visible row.
    bool Locate(const xpp::Value& condition, const xpp::Value& fields = xpp::Value(),
                const xpp::Value& continueFlag = xpp::Value(), const xpp::Value& count = xpp::Value());

    // ---- navigation
    bool Bof();
    bool Eof();
    int64_t RecCount();
    bool GoTo(const xpp::Value& row);
    SQLDataSet& GoTop();
    SQLDataSet& GoBottom();
    bool Skip(const xpp::Value& n = xpp::Value());
    int64_t Skipper(const xpp::Value& n);

    // ---- forwarders and accessors
    std::shared_ptr<SQLColumn> GetSQLColumn(const xpp::Value& field);
    bool UpdateRow() { return Commit(); }
    int64_t Execute() { return FetchData(); }
    bool MoreResults() { return false; }
    int64_t FieldCount() const { return FCount_; }
    int64_t FCount() const { return FCount_; }
    int64_t RecNo() const { return RecNo_.load(); }
    bool Deleted() const { return false; }
    bool UsePositionDelete() const { return false; }
    bool UsePositionUpdate() const { return false; }
    // .F. when there is no current row.
    bool isRowModified();
    xpp::Value DateTimeAsDate();
    int64_t ErrorCode();
    std::string ErrorMessage();
    int64_t Concurrency() const { return 4; }
    int64_t CursorType() const { return 3; }
    int64_t Handle();

    // ---- settings that follow into the cursor and the children; without
    // cursor each answers NIL and stores nothing
    xpp::Value onError(const xpp::Value& block = xpp::Value());
    xpp::Value QueryTimeout(const xpp::Value& seconds = xpp::Value());
    xpp::Value DisplayErrors(const xpp::Value& display = xpp::Value());

    // ---- read-only views
    const xpp::Array& DataLinksGet() const { return DataLinksGet_; }
    const xpp::Array& DataLinksSet() const { return DataLinksSet_; }
    const xpp::Array& ColumnEmptiness() const { return isColumnEmpty_; }
    bool isCursorClosed() const { return isCursorClosed_; }
    bool isRefreshNeeded() const { return isRefreshNeeded_.load(); }
    const xpp::Value& CurParameters() const { return CurParameters_; }
    const xpp::Value& PrimaryKey() const { return PrimaryKey_; }
    const xpp::Value& lBof() const { return lBof_; }
    const xpp::Value& lEof() const { return lEof_; }
    bool lWholeCursor() const { return lWholeCursor_; }
    const xpp::Array& DeletedList() const { return DeletedList_; }
    const xpp::Array& FieldList() const { return FieldList_; }
    const xpp::Array& FieldListU() const { return FieldListU_; }
    const xpp::Array& FieldLen() const { return FieldLen_; }
    bool isTrimmed() const { return isTrimmed_; }
    bool isTruncated() const { return isTruncated_; }
    int64_t RowsUpdated() const { return RowsUpdated_; }
    const std::shared_ptr<SQLSelect>& Cursor() const { return Cursor_; }
    const std::shared_ptr<SQLConnection>& Connection() const { return Connection_; }

    // ---- exported members
    xpp::Array DataSet;
    xpp::Array BlankRecord;
    int64_t OrderBy = 0;
    xpp::Array SortOrder;
    std::atomic<bool> isCancelled{false};
    xpp::Value CustomFilter;
    xpp::Value BrowseFilter;
    xpp::Value MaxRows;
    int64_t nQueryTimeout = 0;
    xpp::Value SQLParameters;
    std::string SQLString;
    xpp::Value Cargo;

private:
    using Visited = std::set<const SQLDataSet*>;
    SQLDataSet& AddField_(const xpp::Value& field);
    bool Close_(Visited& visited);
    void Cancel_(Visited& visited);
    xpp::Value onError_(const xpp::Value& block, Visited& visited);
    xpp::Value QueryTimeout_(const xpp::Value& seconds, Visited& visited);
    xpp::Value DisplayErrors_(const xpp::Value& display, Visited& visited);
    // The cursor's statement dropped under the handle lock.
    void DropCursor_();
    // FetchData(.F.) when a refresh is pending.
    void RefreshIfNeeded_();
    // The row array of a valid row number (NIL: the current row), else NIL.
    xpp::Value RowAt_(const xpp::Value& row, int64_t& number);
    xpp::Value Self_();
    void BlankOf_(int64_t position, const xpp::Value& block);
    // The records that `data` brings, one per row to add; a NIL entry
    // stands for a blank row.
    std::vector<xpp::Value> RowsOf_(const xpp::Value& data);
    // Writes one cached row; answers whether the database took it.
    // Removes row n as Delete does; `remember` keeps a fetched row's values
    // as fetched for the next commit's DELETE.
    bool RemoveRow_(int64_t n, bool remember);
    bool CommitRow_(const xpp::Array& row, const xpp::Array& buffer);
    // Walks with the browse filter; answers the signed count of visible
    // rows passed and sets `reached` when the full count was passed.
    int64_t FilteredWalk_(int64_t n, bool& reached);

    xpp::Array DataLinksGet_;
    xpp::Array DataLinksSet_;
    xpp::Array isColumnEmpty_;
    bool isCursorClosed_ = false;
    std::atomic<bool> isRefreshNeeded_{true};
    xpp::Value CurParameters_;
    xpp::Array ChildRelations_;
    xpp::Value PrimaryKey_;
    xpp::Value lBof_;
    xpp::Value lEof_;
    bool lWholeCursor_ = false;
    std::atomic<int64_t> RecNo_{0};
    xpp::Array DeletedList_;
    xpp::Array FieldList_;
    xpp::Array FieldListU_;
    int64_t FCount_ = 0;
    xpp::Array FieldLen_;
    // Per field, the cursor column it shows (0 for none, kRowComputed for
    // an AddColumn column, computed on each cached row through the data set).
    static constexpr int64_t kRowComputed = -1;
    xpp::Array FieldColumn_;
    bool isTrimmed_ = false;
    bool isTruncated_ = false;
    int64_t RowsUpdated_ = 0;
    std::shared_ptr<SQLSelect> Cursor_;
    std::shared_ptr<SQLConnection> Connection_;

    // The parameters of Init's execution, so that a first fill with other
    // parameters executes again.
    bool initExecuted_ = false;
    xpp::Value initParameters_;
    // Held while the cursor's handle changes or is dropped, while
    // `executing_` changes, and by Cancel around SQLCancel, so that
    // SQLCancel only reaches a statement while its execution runs.
    std::mutex handleLock_;
    bool executing_ = false;
    std::chrono::steady_clock::time_point executionStart_;
};

xpp::Class& SQLDATASET();

// ISEQUAL(x, y): deep equality; arrays element by element, other values
// by exact equality whatever EXACT says.
bool ISEQUAL(const xpp::Value& x, const xpp::Value& y);
// DEFVALUE(x): the blank of x's type: "", 0, the empty date, .F.; NIL for
// other types.
xpp::Value DEFVALUE(const xpp::Value& value);
// GETBLOCK(n, lTrim): a block of the cursor answering its RowBuffer element
// n, trimmed of trailing blanks with lTrim.
xpp::Block GETBLOCK(int64_t position, bool trim);
// SETBLOCK(n): a block of the cursor and a value storing the value into its
// RowBuffer element n; answers the value.
xpp::Block SETBLOCK(int64_t position);

// Row comparisons of Sort and Seek over field positions fields[start..n].
bool ISLT(const xpp::Value& x, const xpp::Value& y, const xpp::Array& fields, size_t start, size_t count);
bool ISGT(const xpp::Value& x, const xpp::Value& y, const xpp::Array& fields, size_t start, size_t count);
bool ISAROWEQ(const xpp::Value& row, const xpp::Array& fields, const xpp::Array& values, size_t count);
bool ISAROWLT(const xpp::Value& row, const xpp::Array& fields, const xpp::Array& values, size_t count);
bool ISAROWGTEQ(const xpp::Value& row, const xpp::Array& fields, const xpp::Array& values, size_t start,
                size_t count);
// {|a|a[position] = value}
xpp::Block ISCOLEQ(int64_t position, const xpp::Value& value);
// Binary search of `value` in `rows` (the element itself, its field
// `index`, or the fields of an array of positions); answers the first equal
// position and sets `found`, or with `soft` the next greater one, else 0.
int64_t ASEEK(const xpp::Array& rows, const xpp::Value& value, const xpp::Value& index, const xpp::Value& soft,
              const xpp::Value& low, const xpp::Value& high, bool& found);

}  // namespace rowxpp
