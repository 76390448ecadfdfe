// SQLSelect: a cursor over one ODBC result set, with its described columns
// (SQLColumn), the tables its statement reads (SQLTable), the current row
// (SQLRow), fetching, navigation and field access by name or number,
// writing the current row back, and Seek and Locate.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "rowxpp/sql_connection.h"
#include "rowxpp/sql_statement.h"
#include "xpp/object.h"
#include "xpp/value.h"

namespace rowxpp {

// ------------------------------------------------------------------ SQLColumn

class SQLColumn : public xpp::Object {
public:
    static xpp::Class& ClassObject();
    xpp::Class& classObject() const override { return ClassObject(); }
    // new(no, label, type, size, decimals, display, nullable, datesFlag)
    static std::shared_ptr<SQLColumn> New(const xpp::Value& no, const xpp::Value& label, const xpp::Value& sqlType,
                                          const xpp::Value& size, const xpp::Value& decimals,
                                          const xpp::Value& display, const xpp::Value& nullable,
                                          const xpp::Value& datesFlag);
    SQLColumn& Init(const xpp::Value& no, const xpp::Value& label, const xpp::Value& sqlType, const xpp::Value& size,
                    const xpp::Value& decimals, const xpp::Value& display, const xpp::Value& nullable,
                    const xpp::Value& datesFlag);
    // The value of type ValType that `text` denotes.
    xpp::Value String2Usual(const std::string& text) const;

    std::string Name;
    int64_t Index = 0;
    int64_t Length = 0;
    int64_t Decimals = 0;
    std::string AliasName;
    xpp::Value TableName;
    xpp::Value CatalogName;
    int64_t DisplaySize = 0;
    int64_t BufferSize = 0;
    bool isAutoUnique = false;
    bool isUpdatable = false;
    bool isSearchable = false;
    bool isNullable = false;
    bool isSigned = false;
    int64_t SQLType = 0;
    std::string ValType = "C";
    int64_t TargetType = 1;
    int64_t NullSize = 1;
    xpp::Value DefValue;
    xpp::Value Cargo;
};

xpp::Class& SQLCOLUMN();

// --------------------------------------------------------------------- SQLRow

class SQLRow : public xpp::Object {
public:
    static xpp::Class& ClassObject();
    xpp::Class& classObject() const override { return ClassObject(); }
    // new(aColumns): aColumns is an array of SQLColumn objects or NIL.
    static std::shared_ptr<SQLRow> New(const xpp::Value& columns = xpp::Value());

    SQLRow& Init(const xpp::Value& columns = xpp::Value());
    SQLRow& Clear();
    SQLRow& CancelUpdate();
    SQLRow& SetUpdated();
    SQLRow& SetPhantom();
    SQLRow& SetAppendMode();
    SQLRow& ForceModified(const xpp::Value& originals, const xpp::Value& buffer);

    xpp::Array Buffer;
    xpp::Array Original;
    xpp::Array Blank;
    xpp::Array isModified;
    bool isRowModified = false;
    bool isDeleted = false;
    bool isReallyDeleted = false;
    bool isAppend = false;
};

xpp::Class& SQLROW();

// ------------------------------------------------------------------- SQLTable

// One table named in a statement's FROM list.
class SQLTable : public xpp::Object {
public:
    static xpp::Class& ClassObject();
    xpp::Class& classObject() const override { return ClassObject(); }
    // new(cName, cWritten)
    static std::shared_ptr<SQLTable> New(const xpp::Value& name = xpp::Value(),
                                         const xpp::Value& written = xpp::Value());
    SQLTable& Init(const xpp::Value& name, const xpp::Value& written);
    // NIL or a position <= 0 empties the key list; another position is
    // appended unless it is there already.
    SQLTable& SetKeyColumn(const xpp::Value& position);

    std::string Name;
    std::string DelName;
    xpp::Array KeyColumns;
};

xpp::Class& SQLTABLE();

// SQLLIST2ARRAY(cList, cDelimiters): splits a list of names such as a FROM
// or ORDER BY list; answers {names, written names}. The list ends at the
// first name followed by anything but a comma. Tabs and line breaks count
// as blanks.
xpp::Array SQLLIST2ARRAY(const xpp::Value& list, const xpp::Value& delimiters);

// __GETRESTOFDATA(hStmt, nColumn, nCType, nNullSize): what is left of one
// column's data, read with SQLGetData in pieces of 32766 bytes; "" when
// nothing could be read. Errors are not reported.
std::string GETRESTOFDATA_(int64_t handle, int64_t column, int64_t cType, int64_t nullSize);

// ------------------------------------------------------------------ SQLSelect

class SQLSelect : public SQLStatement {
public:
    static xpp::Class& ClassObject();
    xpp::Class& classObject() const override { return ClassObject(); }
    // new(cSQL, oConnection, nConcurrency, nCursorType); defaults 4 and 2.
    static std::shared_ptr<SQLSelect> New(const xpp::Value& sql = xpp::Value(),
                                          const xpp::Value& connection = xpp::Value(),
                                          const xpp::Value& concurrency = xpp::Value(),
                                          const xpp::Value& cursorType = xpp::Value());

    SQLSelect() = default;
    ~SQLSelect() override;

    SQLSelect& Init(const xpp::Value& sql, const xpp::Value& connection, const xpp::Value& concurrency,
                    const xpp::Value& cursorType);
    SQLStatement& Init(const xpp::Value& sql, const xpp::Value& connection) override;

    // ---- life cycle
    int64_t Execute(const xpp::Args& args = {}) override;
    bool Close();
    bool MoreResults();
    // NIL or .T.: the full reset; .F.: the partial one.
    SQLStatement& Reset_(const xpp::Value& all = xpp::Value()) override;
    // The result set went with the handle: the cursor is closed.
    void HandleLost_() override;
    xpp::Value Destroy() override;
    virtual int64_t Refresh();
    bool Prepare(const xpp::Value& sql = xpp::Value()) override;
    // Writes a pending change (raising "Can not write the changed row!"
    // when it cannot), then commits the connection's transaction.
    bool CommitTransaction();
    bool Commit() { return UpdateRow(); }
    virtual SQLSelect& CancelUpdate();

    // ---- writing rows back
    // SetPrimaryKey(keys, table): an array replaces the key of the table
    // (the first one when `table` is empty), a single name or number is
    // added to it; names are labels, else base column names.
    virtual bool SetPrimaryKey(const xpp::Value& keys = xpp::Value(), const xpp::Value& table = xpp::Value());
    // Delete and Append mark the row; both answer the cursor.
    virtual xpp::Value Delete();
    virtual xpp::Value Append();
    // Writes the marked row to the first table: .T. when nothing needed
    // writing or the write succeeded; the marks stay after a failure.
    virtual bool UpdateRow(const xpp::Value& force = xpp::Value());
    // Loads the values as fetched and the buffer into the row (either NIL)
    // and writes it with UpdateRow(.T.).
    bool ForceRowUpdate_(const xpp::Value& originals, const xpp::Value& buffer);

    // ---- seeking and locating
    // Binary search of a result sorted on `fields` (default: its ORDER BY
    // columns) for the first row equal to `key`.
    bool Seek(const xpp::Value& key, const xpp::Value& fields = xpp::Value(), const xpp::Value& soft = xpp::Value(),
              const xpp::Value& first = xpp::Value(), const xpp::Value& last = xpp::Value());
    // Scans forward for a row satisfying a block, a field value, or arrays
    // of both.
    bool Locate(const xpp::Value& condition, const xpp::Value& field = xpp::Value(),
                const xpp::Value& continueFlag = xpp::Value(), const xpp::Value& maximum = xpp::Value());

    // ---- fetching and navigation
    // Converts the row the driver stands on into RowBuffer and
    // Row:Original; answers RowBuffer.
    xpp::Array FetchRow();
    bool Skip(const xpp::Value& n = xpp::Value());
    bool GoTo(const xpp::Value& row);
    bool GoTop();
    bool GoBottom();
    // The number of rows really moved, with the sign of the direction.
    int64_t Skipper(const xpp::Value& n);
    // The number of rows of the result (never more than MaxRows), -1 when
    // the cursor cannot be opened or the rows cannot be counted (then asked
    // again on the next call).
    int64_t RecCount();

    // ---- columns and field access
    std::shared_ptr<SQLColumn> GetSQLColumn(const xpp::Value& field);
    bool isNull(const xpp::Value& field);
    int64_t FieldPos(const xpp::Value& field, const xpp::Value& raise = xpp::Value());
    std::string FieldName(const xpp::Value& field);
    xpp::Value FieldGet(const xpp::Value& field);
    virtual xpp::Value FieldPut(const xpp::Value& field, const xpp::Value& value);
    xpp::Array RecordGet();
    xpp::Value RecordPut(const xpp::Value& values);

    // ---- properties (a NIL argument reads)
    xpp::Value Concurrency(const xpp::Value& v = xpp::Value());
    xpp::Value CursorType(const xpp::Value& v = xpp::Value());
    std::string CursorName(const xpp::Value& v = xpp::Value());
    int64_t MaxRows(const xpp::Value& v = xpp::Value());
    int64_t QueryTimeout(const xpp::Value& v = xpp::Value());
    bool UsePositionDelete(const xpp::Value& v = xpp::Value());
    bool UsePositionUpdate(const xpp::Value& v = xpp::Value());
    bool DateTimeAsDate(const xpp::Value& v = xpp::Value());
    int64_t RecNo() const { return nRecNo; }
    bool Deleted() const;
    bool isRowModified() const;
    int64_t FCount();
    bool Bof() const { return Bof_; }
    bool Eof() const { return Eof_; }

    // ---- read-only views for programs and tests
    const std::shared_ptr<SQLRow>& Row() const { return Row_; }
    int64_t RowBufferSize() const { return RowBufferSize_; }
    const xpp::Array& ColInfo() const { return aColInfo; }
    const xpp::Value& SQLColumns() const { return aSQLColumns; }
    const xpp::Array& ColNames() const { return aColNames; }
    bool SimulateCursor() const { return lSimulateCursor; }
    bool Scrollable() const { return isScrollable; }
    int64_t RecCountMember() const { return nRecCount; }
    int64_t BoundColumns() const { return LastBoundCol; }
    int64_t RowsUpdated() const { return RowsUpdated_; }
    const xpp::Value& SQLTables() const { return aSQLTables; }

    // ---- exported members
    bool isRefresh = false;
    int64_t nColCount = -1;
    bool lUsePosDelete = false;
    bool lUsePosUpdate = false;
    bool lDateTimeAsDate = false;
    int64_t nMaxRows = 0;
    int64_t nQueryTimeout = 0;
    xpp::Array RowBuffer;
    bool isCursorOpen = false;
    bool isProcedure = false;
    int64_t OrderBy = 0;
    xpp::Array SortOrder;
    int64_t AutoUniqueColumn = 0;

protected:
    // Not when all the execution's records say the driver took other
    // cursor settings.
    bool ReportsInfo_() override;
    SQLSelect& DescribeColumns_();
    bool FetchNext_();
    // orientation: 1 NEXT, 2 FIRST, 3 LAST, 4 PRIOR, 5 ABSOLUTE, 6 RELATIVE.
    bool FetchScroll_(int64_t orientation, int64_t offset = 0);
    SQLSelect& GetTableName_();
    xpp::Value Self_();
    // The search clause of an UPDATE or DELETE; its values go into `params`.
    std::string CreateSearchExp_(bool positioned, const xpp::Array& params, const xpp::Array& keys,
                                 const std::string& quote);
    bool isPrevLower_(const xpp::Array& fields, const xpp::Array& key, size_t n);

    std::shared_ptr<SQLStatement> oSQLUpdate;
    xpp::Value aSQLTables;
    xpp::Value aSQLColumns;
    xpp::Array aColNames;
    bool lSimulateCursor = false;
    int64_t nRecNo = 0;
    int64_t nRecCount = -1;
    bool isScrollable = false;
    xpp::Value SearchExp;

private:
    bool OpenOrPrepared_();
    // Writes a pending change before a move; false (after raising "Can not
    // write the changed row!") when it could not be written.
    bool WritePending_();
    // The number of rows `clause` selects from `table`, -1 when it cannot
    // be counted.
    int64_t CountRows_(const std::string& table, const std::string& clause, const xpp::Array& params);
    void MoveRecNo_(int64_t orientation, int64_t offset);
    // The first SQLSTATE of the statement's diagnostics, "" when none.
    std::string FirstState_();
    // Runs one count statement; -1 when it cannot be run.
    int64_t CountWith_(const std::string& text, const xpp::Value& params);
    int64_t Lookup_(const xpp::Value& field) const;
    // What FetchRow reads per column, taken from the column descriptions
    // and bindings; made again whenever any of them changed. Null when they
    // are not in the shape the description gives them.
    struct FetchPlan;
    const FetchPlan* FetchPlan_();
    std::shared_ptr<FetchPlan> plan_;
    // FetchRow's values on their way into the row, kept for their room
    std::vector<std::pair<size_t, xpp::Value>> toBuffer_;
    std::vector<std::pair<size_t, xpp::Value>> toOriginal_;

    int64_t RowBufferSize_ = 16;
    xpp::Array aColInfo;
    std::shared_ptr<SQLRow> Row_;
    int64_t RowsUpdated_ = 0;
    bool Bof_ = true;
    bool Eof_ = true;
    // The last search clause compared values only (no key, no auto-unique
    // column, not positioned).
    bool searchByValues_ = false;
};

xpp::Class& SQLSELECT();

// FORMATBUFFER(value, SQL type, params, NULL text, marker, prefix): the
// text of one value in a generated statement; a value that travels as a
// parameter is appended to `params` and answered by `marker`. In a search
// (`search`) an empty long text or binary value is compared as a value;
// written, it is NULL.
std::string FORMATBUFFER(const xpp::Value& value, int64_t sqlType, const xpp::Array& params,
                         const std::string& nullText, const std::string& marker, const std::string& prefix,
                         bool search = false);

// Row comparisons of Seek and Locate.
bool ISROWEQ(SQLSelect& cursor, const xpp::Array& fields, const xpp::Array& key, size_t n);
bool ISROWGTEQ(SQLSelect& cursor, const xpp::Array& fields, const xpp::Array& key, size_t i, size_t n);
// {|o|o:RowBuffer[position] = value}
xpp::Block ISFIELDEQ(int64_t position, const xpp::Value& value);
// .T. when each of the first `count` blocks answers .T. for (a, b).
bool EVALLIST(const xpp::Array& blocks, size_t count, const xpp::Value& a, const xpp::Value& b);

// __REBINDCOLUMNS(handle, buffers, cells, columns, limit, last): binds the
// columns of an earlier description again; answers the last bound column.
int64_t REBINDCOLUMNS_(int64_t handle, const xpp::Array& buffers, const xpp::Array& cells, const xpp::Value& columns,
                       int64_t limit, int64_t last);
// __GETCOLATTRIBUTE(handle, column, field, asText): one column attribute,
// NIL when the driver fails.
xpp::Value GETCOLATTRIBUTE_(int64_t handle, int64_t column, int64_t field, bool asText);

// The allocator of column buffers and length cells: answers the address
// of a block of `size` bytes, 0 on failure. Tests install one that fails;
// an empty function restores the native heap. Answers the one before.
using ColumnAllocator = std::function<int64_t(int64_t size)>;
ColumnAllocator SetColumnAllocator(ColumnAllocator allocator);

}  // namespace rowxpp
