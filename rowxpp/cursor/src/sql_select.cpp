// SQLSelect: creation, execution, further results, closing, refreshing and
// destruction of a cursor; describing and binding its result columns; its
// properties and field access.
#include "rowxpp/sql_select.h"

#include <algorithm>
#include <cmath>
#include <mutex>

#include "cursor_calls.h"
#include "rowxpp/natives.h"
#include "rowxpp/odbc_calls.h"
#include "rowxpp/sql_error.h"
#include "xpp/functions.h"
#include "xpp/runtime.h"

namespace rowxpp {
namespace {

using cursor::At;
using cursor::H;
using cursor::Ok;

std::mutex allocatorLock;
ColumnAllocator allocator;

int64_t Allocate(int64_t size) {
    ColumnAllocator current;
    {
        std::lock_guard<std::mutex> guard(allocatorLock);
        current = allocator;
    }
    if (current) return current(size);
    return MemAlloc_(size).Int();
}

// Releases the column buffers and length cells from the last entry down and
// empties both lists.
void ReleaseColumns(const xpp::Array& buffers, const xpp::Array& cells) {
    for (size_t i = std::max(buffers.Len(), cells.Len()); i >= 1; --i) {
        if (i <= buffers.Len() && buffers.Get(i).IsNum()) MemRelease_(buffers.Get(i));
        if (i <= cells.Len() && cells.Get(i).IsNum()) MemRelease_(cells.Get(i));
    }
    buffers.Resize(0);
    cells.Resize(0);
}

// Binds column i into new blocks of `size` bytes; the addresses go into
// entry i of both lists. On failure nothing stays allocated and both lists
// are cut to i - 1 entries. Answers the code (-1 for a failed allocation).
int64_t BindColumn(int64_t handle, size_t i, const SQLColumn& column, int64_t size, const xpp::Array& buffers,
                   const xpp::Array& cells) {
    int64_t buffer = Allocate(size);
    int64_t cell = Allocate(static_cast<int64_t>(sizeof(SQLLEN)));
    int64_t rc = -1;
    if (buffer == 0 || cell == 0) {
        if (buffer != 0) MemRelease_(buffer);
        if (cell != 0) MemRelease_(cell);
        buffer = cell = 0;
        std::string table = column.TableName.IsChar() ? column.TableName.Str() : std::string();
        RAISEERROR_(0, "Failed to allocate memory (" + table + "." + column.Name + ", " +
                           std::to_string(column.BufferSize) + ")");
    } else {
        buffers.Set(i, buffer);
        cells.Set(i, cell);
        rc = OdbcCall<36>(H(handle), static_cast<SQLUSMALLINT>(i), static_cast<SQLSMALLINT>(column.TargetType),
                          At<void>(buffer), static_cast<SQLLEN>(size), At<SQLLEN>(cell));
    }
    if (Ok(rc)) return rc;
    if (buffer != 0) MemRelease_(buffer);
    if (cell != 0) MemRelease_(cell);
    buffers.Resize(i - 1);
    cells.Resize(i - 1);
    return rc;
}

// A buffer size the driver does not know (0, SQL_NO_TOTAL) counts as wider
// than any limit.
bool Fits(int64_t size, int64_t limit) { return size >= 1 && size <= limit; }

// Switches EXACT on for the life of the guard; puts it back only when it
// was off.
class ExactOn {
public:
    ExactOn() : wasOff_(!xpp::Set(xpp::SET_EXACT).Log()) {
        if (wasOff_) xpp::Set(xpp::SET_EXACT, true);
    }
    ~ExactOn() {
        if (wasOff_) xpp::Set(xpp::SET_EXACT, false);
    }
    ExactOn(const ExactOn&) = delete;
    ExactOn& operator=(const ExactOn&) = delete;

private:
    bool wasOff_;
};


}  // namespace

ColumnAllocator SetColumnAllocator(ColumnAllocator a) {
    std::lock_guard<std::mutex> guard(allocatorLock);
    std::swap(a, allocator);
    return a;
}

// ================================================================ the class

xpp::Class& SQLSelect::ClassObject() {
    static xpp::ClassSlot slot;
    return slot.Get("SQLSelect", &SQLStatement::ClassObject(), [](xpp::Class& c) {
        auto self = [](xpp::Object& o) -> SQLSelect& { return static_cast<SQLSelect&>(o); };
        auto me = [](xpp::Object& o) { return xpp::Value(o.shared_from_this()); };
        c.AddMessage("execute", [self](xpp::Object& o, xpp::Args& a) -> xpp::Value { return self(o).Execute(a); });
        c.AddMessage("prepare", [self](xpp::Object& o, xpp::Args& a) -> xpp::Value { return self(o).Prepare(a[1]); });
        c.AddMessage("close", [self](xpp::Object& o, xpp::Args&) -> xpp::Value { return self(o).Close(); });
        c.AddMessage("moreresults", [self](xpp::Object& o, xpp::Args&) -> xpp::Value { return self(o).MoreResults(); });
        c.AddMessage("refresh", [self](xpp::Object& o, xpp::Args&) -> xpp::Value { return self(o).Refresh(); });
        c.AddMessage("__reset", [self, me](xpp::Object& o, xpp::Args& a) -> xpp::Value {
            self(o).Reset_(a[1]);
            return me(o);
        });
        c.AddMessage("destroy", [self](xpp::Object& o, xpp::Args&) -> xpp::Value { return self(o).Destroy(); });
        c.AddMessage("commit", [self](xpp::Object& o, xpp::Args&) -> xpp::Value { return self(o).Commit(); });
        c.AddMessage("committransaction",
                     [self](xpp::Object& o, xpp::Args&) -> xpp::Value { return self(o).CommitTransaction(); });
        c.AddMessage("updaterow", [self](xpp::Object& o, xpp::Args& a) -> xpp::Value { return self(o).UpdateRow(a[1]); });
        c.AddMessage("__forcerowupdate",
                     [self](xpp::Object& o, xpp::Args& a) -> xpp::Value { return self(o).ForceRowUpdate_(a[1], a[2]); });
        c.AddMessage("setprimarykey",
                     [self](xpp::Object& o, xpp::Args& a) -> xpp::Value { return self(o).SetPrimaryKey(a[1], a[2]); });
        c.AddMessage("delete", [self](xpp::Object& o, xpp::Args&) -> xpp::Value { return self(o).Delete(); });
        c.AddMessage("append", [self](xpp::Object& o, xpp::Args&) -> xpp::Value { return self(o).Append(); });
        c.AddMessage("seek", [self](xpp::Object& o, xpp::Args& a) -> xpp::Value {
            return self(o).Seek(a[1], a[2], a[3], a[4], a[5]);
        });
        c.AddMessage("locate", [self](xpp::Object& o, xpp::Args& a) -> xpp::Value {
            return self(o).Locate(a[1], a[2], a[3], a[4]);
        });
        c.AddMessage("cancelupdate", [self, me](xpp::Object& o, xpp::Args&) -> xpp::Value {
            self(o).CancelUpdate();
            return me(o);
        });
        c.AddMessage("getsqlcolumn",
                     [self](xpp::Object& o, xpp::Args& a) -> xpp::Value { return self(o).GetSQLColumn(a[1]); });
        c.AddMessage("isnull", [self](xpp::Object& o, xpp::Args& a) -> xpp::Value { return self(o).isNull(a[1]); });
        c.AddMessage("fieldpos",
                     [self](xpp::Object& o, xpp::Args& a) -> xpp::Value { return self(o).FieldPos(a[1], a[2]); });
        c.AddMessage("fieldname", [self](xpp::Object& o, xpp::Args& a) -> xpp::Value { return self(o).FieldName(a[1]); });
        c.AddMessage("fieldget", [self](xpp::Object& o, xpp::Args& a) -> xpp::Value { return self(o).FieldGet(a[1]); });
        c.AddMessage("fieldput",
                     [self](xpp::Object& o, xpp::Args& a) -> xpp::Value { return self(o).FieldPut(a[1], a[2]); });
        c.AddMessage("recordget", [self](xpp::Object& o, xpp::Args&) -> xpp::Value { return self(o).RecordGet(); });
        c.AddMessage("recordput", [self](xpp::Object& o, xpp::Args& a) -> xpp::Value { return self(o).RecordPut(a[1]); });
        c.AddMessage("concurrency",
                     [self](xpp::Object& o, xpp::Args& a) -> xpp::Value { return self(o).Concurrency(a[1]); });
        c.AddMessage("cursortype", [self](xpp::Object& o, xpp::Args& a) -> xpp::Value { return self(o).CursorType(a[1]); });
        c.AddMessage("cursorname", [self](xpp::Object& o, xpp::Args& a) -> xpp::Value { return self(o).CursorName(a[1]); });
        c.AddMessage("maxrows", [self](xpp::Object& o, xpp::Args& a) -> xpp::Value { return self(o).MaxRows(a[1]); });
        c.AddMessage("querytimeout",
                     [self](xpp::Object& o, xpp::Args& a) -> xpp::Value { return self(o).QueryTimeout(a[1]); });
        c.AddMessage("usepositiondelete",
                     [self](xpp::Object& o, xpp::Args& a) -> xpp::Value { return self(o).UsePositionDelete(a[1]); });
        c.AddMessage("usepositionupdate",
                     [self](xpp::Object& o, xpp::Args& a) -> xpp::Value { return self(o).UsePositionUpdate(a[1]); });
        c.AddMessage("datetimeasdate",
                     [self](xpp::Object& o, xpp::Args& a) -> xpp::Value { return self(o).DateTimeAsDate(a[1]); });
        c.AddMessage("recno", [self](xpp::Object& o, xpp::Args&) -> xpp::Value { return self(o).RecNo(); });
        c.AddMessage("deleted", [self](xpp::Object& o, xpp::Args&) -> xpp::Value { return self(o).Deleted(); });
        c.AddMessage("isrowmodified",
                     [self](xpp::Object& o, xpp::Args&) -> xpp::Value { return self(o).isRowModified(); });
        c.AddMessage("fcount", [self](xpp::Object& o, xpp::Args&) -> xpp::Value { return self(o).FCount(); });
        c.AddMessage("bof", [self](xpp::Object& o, xpp::Args&) -> xpp::Value { return self(o).Bof(); });
        c.AddMessage("eof", [self](xpp::Object& o, xpp::Args&) -> xpp::Value { return self(o).Eof(); });
        c.AddMessage("fetchrow", [self](xpp::Object& o, xpp::Args&) -> xpp::Value { return self(o).FetchRow(); });
        c.AddMessage("skip", [self](xpp::Object& o, xpp::Args& a) -> xpp::Value { return self(o).Skip(a[1]); });
        c.AddMessage("skipper", [self](xpp::Object& o, xpp::Args& a) -> xpp::Value { return self(o).Skipper(a[1]); });
        c.AddMessage("goto", [self](xpp::Object& o, xpp::Args& a) -> xpp::Value { return self(o).GoTo(a[1]); });
        c.AddMessage("gotop", [self](xpp::Object& o, xpp::Args&) -> xpp::Value { return self(o).GoTop(); });
        c.AddMessage("gobottom", [self](xpp::Object& o, xpp::Args&) -> xpp::Value { return self(o).GoBottom(); });
        c.AddMessage("reccount", [self](xpp::Object& o, xpp::Args&) -> xpp::Value { return self(o).RecCount(); });
        c.AddMessage("row", [self](xpp::Object& o, xpp::Args&) -> xpp::Value { return xpp::Value(self(o).Row()); });
    });
}

xpp::Class& SQLSELECT() { return SQLSelect::ClassObject(); }

std::shared_ptr<SQLSelect> SQLConnection::Cursor(const xpp::Value& sql, const xpp::Value& concurrency,
                                                 const xpp::Value& cursorType) {
    return SQLSelect::New(sql, xpp::Value(std::static_pointer_cast<SQLConnection>(shared_from_this())), concurrency,
                          cursorType);
}

std::shared_ptr<SQLSelect> SQLSelect::New(const xpp::Value& sql, const xpp::Value& connection,
                                          const xpp::Value& concurrency, const xpp::Value& cursorType) {
    ClassObject();
    auto cursor = std::make_shared<SQLSelect>();
    cursor->Init(sql, connection, concurrency, cursorType);
    return cursor;
}

SQLSelect::~SQLSelect() {
    // A cursor that was never handed back to its connection still owns the
    // blocks of its bound columns.
    if (LastBoundCol > 0) ReleaseColumns(apColBuffer, apColSize);
}

xpp::Value SQLSelect::Self_() { return xpp::Value(std::static_pointer_cast<SQLSelect>(shared_from_this())); }

SQLStatement& SQLSelect::Init(const xpp::Value& sql, const xpp::Value& connection) {
    return Init(sql, connection, xpp::Value(), xpp::Value());
}

SQLSelect& SQLSelect::Init(const xpp::Value& sql, const xpp::Value& connection, const xpp::Value& concurrency,
                           const xpp::Value& cursorType) {
    XPP_FRAME("SQLSELECT:INIT");
    int64_t nConcurrency = concurrency.IsNum() ? concurrency.Int() : SQL_CONCUR_VALUES;
    int64_t nCursorType = cursorType.IsNum() ? cursorType.Int() : SQL_CURSOR_DYNAMIC;
    SQLStatement::Init(sql, connection);
    bool display = DisplayErrors;
    DisplayErrors = false;
    SetAttribute(SQL_ATTR_CONCURRENCY, nConcurrency);
    SetAttribute(SQL_ATTR_CURSOR_TYPE, nCursorType);
    if (nConcurrency == SQL_CONCUR_READ_ONLY || Connection->isReadOnly) lSimulateCursor = false;
    else lSimulateCursor = SetAttribute(SQL_ATTR_SIMULATE_CURSOR, SQL_SC_UNIQUE);
    SetAttribute(SQL_ATTR_ROW_BIND_TYPE, SQL_BIND_BY_COLUMN);
    DateTimeAsDate(xpp::Value(Connection->DateTimeAsDate));
    lUsePosDelete = lSimulateCursor && Connection->isPosDeleteSupported.Log();
    lUsePosUpdate = lSimulateCursor && Connection->isPosUpdateSupported.Log();
    isScrollable = nCursorType != SQL_CURSOR_FORWARD_ONLY;
    Reset_(true);
    DisplayErrors = display;
    return *this;
}

SQLStatement& SQLSelect::Reset_(const xpp::Value& all) {
    bool full = !(all.IsLogical() && !all.Log());
    if (full) {
        ParamList = xpp::Value();
        nMaxRows = 0;
        nQueryTimeout = 0;
        isCursorOpen = false;
        isProcedure = false;
        isRefresh = false;
        nColCount = -1;
        OrderBy = 0;
        SortOrder = xpp::Array();
        aSQLColumns = xpp::Value();
        aSQLTables = xpp::Value();
        aColNames = xpp::Array();
        AutoUniqueColumn = 0;
        if (Row_) Row_->Init();
        else Row_ = SQLRow::New();
        RowBufferSize_ = 16;
        aColInfo = xpp::Array();
        RowBuffer = Row_->Buffer;
    }
    if (oSQLUpdate) {
        auto update = std::move(oSQLUpdate);
        update->Destroy();
    }
    if (!Row_) {
        Row_ = SQLRow::New();
        RowBuffer = Row_->Buffer;
    }
    Row_->Clear();
    nRecCount = -1;
    nRecNo = 0;
    RowsUpdated_ = 0;
    Bof_ = Eof_ = true;
    SearchExp = xpp::Value();
    return *this;
}

void SQLSelect::HandleLost_() {
    isCursorOpen = false;
    Reset_(false);
}

// ---------------------------------------------------------------- life cycle

int64_t SQLSelect::Execute(const xpp::Args& args) {
    XPP_FRAME("SQLSELECT:EXECUTE");
    Reset_(false);
    SQLSMALLINT resultColumns = 0;
    if (isCursorOpen) {
        isCursorOpen = false;
        // A cursor the driver cannot close cannot run again on this handle:
        // its report comes first (a lost connection is reconnected there, and
        // the execution below then runs on the new handle). A handle made
        // afresh since the last execution has no result set to close: the
        // driver manager answers HY010 when asked for its columns.
        bool fresh = !Ok(OdbcCall<33>(H(Handle), &resultColumns)) && FirstState_() == "HY010";
        int64_t closed = fresh ? SQL_SUCCESS : OdbcCall<56>(H(Handle));
        if (closed != SQL_SUCCESS && closed != SQL_SUCCESS_WITH_INFO) {
            ErrorCode = closed;
            DisplayError_();
        }
    }
    xpp::Args pass;
    if (args.PCount() == 1) {
        pass.Add(args[1]);
    } else if (args.PCount() > 1) {
        xpp::Array all;
        for (const xpp::Arg& a : args.Items()) all.Add(a.Get());
        pass.Add(xpp::Value(all));
    }
    int64_t result = SQLStatement::Execute(pass);
    if (result == kExecFailed) return result;
    if (!isPrepared) {
        if (isRefresh) {
            LastBoundCol =
                REBINDCOLUMNS_(Handle, apColBuffer, apColSize, aSQLColumns, Connection->BufferSize, LastBoundCol);
        } else {
            DescribeColumns_();
            GetTableName_();
        }
    }
    isCursorOpen = true;
    auto statementAttribute = [this](SQLINTEGER attribute) {
        // SQLULEN wide: the driver may write all eight bytes
        SQLULEN cell = 0;
        SQLINTEGER length = 0;
        OdbcCall<15>(H(Handle), attribute, static_cast<SQLPOINTER>(&cell), static_cast<SQLINTEGER>(sizeof cell),
                     &length);
        return static_cast<int64_t>(cell);
    };
    int64_t type = statementAttribute(SQL_ATTR_CURSOR_TYPE);
    isScrollable = type == SQL_CURSOR_STATIC || type == SQL_CURSOR_KEYSET_DRIVEN || type == SQL_CURSOR_DYNAMIC;
    if (!FetchNext_()) {
        nRecCount = 0;
    } else {
        // The rows are counted as the statement produced them: later
        // changes by others must not move the cursor's row numbers.
        int64_t kept = ErrorCode;
        RecCount();
        ErrorCode = kept;
    }
    if (lUsePosDelete || lUsePosUpdate) {
        int64_t concurrency = statementAttribute(SQL_ATTR_CONCURRENCY);
        lSimulateCursor = concurrency == SQL_CONCUR_LOCK || concurrency == SQL_CONCUR_ROWVER ||
                          concurrency == SQL_CONCUR_VALUES;
        lUsePosDelete = lSimulateCursor && lUsePosDelete;
        lUsePosUpdate = lSimulateCursor && lUsePosUpdate;
    }
    return result;
}

bool SQLSelect::ReportsInfo_() {
    // A driver that takes another concurrency or cursor type than asked
    // tells so (01S02) on each execution; the cursor reads what it took.
    xpp::Value records = GETDIAGFIELD_(SQL_HANDLE_STMT, Handle, 0, SQL_DIAG_NUMBER);
    if (!records.IsNum() || records.Int() < 1) return true;
    for (int64_t i = 1; i <= records.Int(); ++i) {
        xpp::Value state = GETDIAGFIELD_(SQL_HANDLE_STMT, Handle, i, SQL_DIAG_SQLSTATE, true);
        if (!state.IsChar() || state.Str() != "01S02") return true;
    }
    return false;
}

bool SQLSelect::MoreResults() {
    XPP_FRAME("SQLSELECT:MORERESULTS");
    if (!SQLStatement::MoreResults()) return false;
    DescribeColumns_();
    return true;
}

bool SQLSelect::Close() {
    XPP_FRAME("SQLSELECT:CLOSE");
    if (isCursorOpen) {
        isCursorOpen = false;
        ErrorCode = OdbcCall<56>(H(Handle));
        if (ErrorCode != SQL_SUCCESS) DisplayError_();
    }
    Reset_(false);
    return Ok(ErrorCode);
}

xpp::Value SQLSelect::Destroy() {
    XPP_FRAME("SQLSELECT:DESTROY");
    if (isCursorOpen) OdbcCall<56>(H(Handle));
    if (Connection) Connection->DropStatement(Self_());
    return Self_();
}

int64_t SQLSelect::Refresh() {
    XPP_FRAME("SQLSELECT:REFRESH");
    bool tables = aSQLTables.IsArray() && aSQLTables.Arr().Len() > 0;
    std::string dbms = Connection && Connection->DbmsName.IsChar() ? Connection->DbmsName.Str() : std::string();
    isRefresh = (isCursorOpen || tables) && dbms.find("MySQL") == std::string::npos;
    int64_t result = Execute(xpp::Args{ParamList});
    isRefresh = false;
    return result;
}

bool SQLSelect::Prepare(const xpp::Value& sql) {
    XPP_FRAME("SQLSELECT:PREPARE");
    if (!SQLStatement::Prepare(sql)) return false;
    DescribeColumns_();
    GetTableName_();
    return true;
}

bool SQLSelect::CommitTransaction() {
    XPP_FRAME("SQLSELECT:COMMITTRANSACTION");
    if (!UpdateRow()) RAISEERROR_(0, "Can not write the changed row!");
    return SQLStatement::CommitTransaction();
}

SQLSelect& SQLSelect::CancelUpdate() {
    Row_->CancelUpdate();
    return *this;
}

bool SQLSelect::OpenOrPrepared_() { return isCursorOpen || isPrepared || Prepare(); }

std::shared_ptr<SQLColumn> SQLSelect::GetSQLColumn(const xpp::Value& field) {
    XPP_FRAME("SQLSELECT:GETSQLCOLUMN");
    if (!OpenOrPrepared_()) return nullptr;
    int64_t n = FieldPos(field);
    if (n <= 0 || !aSQLColumns.IsArray()) return nullptr;
    return aSQLColumns.Arr().Get(static_cast<size_t>(n)).As<SQLColumn>();
}

bool SQLSelect::isNull(const xpp::Value& field) {
    int64_t n = FieldPos(field);
    if (n == 0) return false;
    return Row_->Original.Get(static_cast<size_t>(n)).IsNil();
}

// ------------------------------------------------------- describing, binding

xpp::Value GETCOLATTRIBUTE_(int64_t handle, int64_t column, int64_t field, bool asText) {
    SQLSMALLINT length = 0;
    SQLLEN number = 0;
    int64_t rc;
    xpp::Value value;
    if (asText) {
        std::string buffer(255, ' ');
        rc = OdbcCall<35>(H(handle), static_cast<SQLUSMALLINT>(column), static_cast<SQLUSMALLINT>(field),
                          static_cast<SQLPOINTER>(buffer.data()), static_cast<SQLSMALLINT>(254), &length, &number);
        value = buffer.substr(0, static_cast<size_t>(std::clamp<SQLSMALLINT>(length, 0, 254)));
    } else {
        rc = OdbcCall<35>(H(handle), static_cast<SQLUSMALLINT>(column), static_cast<SQLUSMALLINT>(field),
                          static_cast<SQLPOINTER>(nullptr), static_cast<SQLSMALLINT>(0), &length, &number);
        value = static_cast<int64_t>(number);
    }
    return Ok(rc) ? value : xpp::Value();
}

SQLSelect& SQLSelect::DescribeColumns_() {
    XPP_FRAME("SQLSELECT:__DESCRIBECOLUMNS");
    std::string name(255, ' ');
    int64_t limit = Connection->BufferSize;
    int64_t handle = Handle;
    if (LastBoundCol > 0) {
        OdbcCall<55>(H(handle), static_cast<SQLUSMALLINT>(SQL_UNBIND));
        ReleaseColumns(apColBuffer, apColSize);
    }
    SQLSMALLINT count = 0;
    OdbcCall<33>(H(handle), &count);
    size_t n = count > 0 ? static_cast<size_t>(count) : 0;
    nColCount = static_cast<int64_t>(n);
    // a result of other columns has its own auto-unique column, or none
    AutoUniqueColumn = 0;
    xpp::Array columns(n);
    aColNames = xpp::Array(n);
    xpp::Array info(n);
    LastBoundCol = 0;
    apColBuffer.Resize(0);
    apColSize.Resize(0);
    apColBuffer.Resize(n);
    apColSize.Resize(n);
    if (n == 0) {
        aSQLColumns = columns;
        Row_->Init();
        RowBuffer = Row_->Buffer;
        return *this;
    }
    int64_t scratch = 16;
    bool bind = true;
    size_t described = n;
    for (size_t i = 1; i <= n; ++i) {
        SQLSMALLINT nameLength = 0, type = 0, digits = 0, nullable = 0;
        SQLULEN size = 0;
        ErrorCode = OdbcCall<34>(H(handle), static_cast<SQLUSMALLINT>(i), reinterpret_cast<SQLCHAR*>(name.data()),
                                 static_cast<SQLSMALLINT>(254), &nameLength, &type, &size, &digits, &nullable);
        if (!Ok(ErrorCode)) {
            DisplayError_();
            described = i - 1;
            break;
        }
        std::string label = xpp::Trim(name.substr(0, static_cast<size_t>(std::clamp<SQLSMALLINT>(nameLength, 0, 253))));
        xpp::Value display = GETCOLATTRIBUTE_(handle, static_cast<int64_t>(i), SQL_DESC_DISPLAY_SIZE, false);
        auto column = SQLColumn::New(static_cast<int64_t>(i), label, static_cast<int64_t>(type),
                                     static_cast<int64_t>(size), static_cast<int64_t>(digits), display, nullable == 1,
                                     lDateTimeAsDate);
        xpp::Value base = GETCOLATTRIBUTE_(handle, static_cast<int64_t>(i), SQL_DESC_BASE_COLUMN_NAME, true);
        if (base.IsChar() && !xpp::Empty(base)) column->Name = base.Str();
        column->TableName = GETCOLATTRIBUTE_(handle, static_cast<int64_t>(i), SQL_DESC_TABLE_NAME, true);
        column->CatalogName = GETCOLATTRIBUTE_(handle, static_cast<int64_t>(i), SQL_DESC_CATALOG_NAME, true);
        xpp::Value autoUnique = GETCOLATTRIBUTE_(handle, static_cast<int64_t>(i), SQL_DESC_AUTO_UNIQUE_VALUE, false);
        column->isAutoUnique = autoUnique.IsNum() && autoUnique.Int() == 1;
        xpp::Value updatable = GETCOLATTRIBUTE_(handle, static_cast<int64_t>(i), SQL_DESC_UPDATABLE, false);
        column->isUpdatable = !column->isAutoUnique && !(updatable.IsNum() && updatable.Int() == 0);
        xpp::Value isUnsigned = GETCOLATTRIBUTE_(handle, static_cast<int64_t>(i), SQL_DESC_UNSIGNED, false);
        column->isSigned = !(isUnsigned.IsNum() && isUnsigned.Int() == 1);
        xpp::Value searchable = GETCOLATTRIBUTE_(handle, static_cast<int64_t>(i), SQL_DESC_SEARCHABLE, false);
        column->isSearchable =
            searchable.IsNum() && (searchable.Int() == SQL_PRED_SEARCHABLE || searchable.Int() == SQL_PRED_BASIC);
        int64_t bytes = column->BufferSize;
        if (column->isAutoUnique) AutoUniqueColumn = static_cast<int64_t>(i);
        columns.Set(i, xpp::Value(column));
        aColNames.Set(i, xpp::Upper(column->AliasName));
        if (!Fits(bytes, limit)) {
            bytes = limit;
            bind = false;
        }
        info.Set(i, xpp::Array{column->TargetType, bytes, column->ValType, column->Decimals, static_cast<int64_t>(type)});
        if (bind) {
            int64_t rc = BindColumn(handle, i, *column, bytes, apColBuffer, apColSize);
            if (Ok(rc)) {
                LastBoundCol = static_cast<int64_t>(i);
            } else {
                bind = false;
                scratch = std::max(scratch, bytes);
            }
        } else {
            scratch = std::max(scratch, bytes);
        }
    }
    if (described < n) {
        // Only the columns before the one that could not be described.
        nColCount = static_cast<int64_t>(described);
        columns.Resize(described);
        aColNames.Resize(described);
        info.Resize(described);
        if (apColBuffer.Len() > described) apColBuffer.Resize(described);
        if (apColSize.Len() > described) apColSize.Resize(described);
    }
    aSQLColumns = columns;
    Row_->Init(aSQLColumns);
    RowBuffer = Row_->Buffer;
    RowBufferSize_ = scratch;
    aColInfo = info;
    return *this;
}

int64_t REBINDCOLUMNS_(int64_t handle, const xpp::Array& buffers, const xpp::Array& cells, const xpp::Value& columns,
                       int64_t limit, int64_t last) {
    XPP_FRAME("__REBINDCOLUMNS");
    xpp::Array list = columns.IsArray() ? columns.Arr() : xpp::Array();
    size_t n = list.Len();
    if (last > 0) {
        OdbcCall<55>(H(handle), static_cast<SQLUSMALLINT>(SQL_UNBIND));
        ReleaseColumns(buffers, cells);
    }
    last = 0;
    buffers.Resize(0);
    cells.Resize(0);
    buffers.Resize(n);
    cells.Resize(n);
    for (size_t i = 1; i <= n; ++i) {
        auto column = list.Get(i).As<SQLColumn>();
        if (!column || !Fits(column->BufferSize, limit)) break;
        if (!Ok(BindColumn(handle, i, *column, column->BufferSize, buffers, cells))) break;
        last = static_cast<int64_t>(i);
    }
    return last;
}

// ----------------------------------------------------------------- properties

xpp::Value SQLSelect::Concurrency(const xpp::Value& v) {
    if (!v.IsNum()) return GetAttribute(SQL_ATTR_CONCURRENCY);
    SetAttribute(SQL_ATTR_CONCURRENCY, v);
    return v;
}

xpp::Value SQLSelect::CursorType(const xpp::Value& v) {
    if (!v.IsNum()) return GetAttribute(SQL_ATTR_CURSOR_TYPE);
    SetAttribute(SQL_ATTR_CURSOR_TYPE, v);
    return v;
}

std::string SQLSelect::CursorName(const xpp::Value& v) {
    XPP_FRAME("SQLSELECT:CURSORNAME");
    if (v.IsChar()) {
        std::string name = v.Str();
        ErrorCode = OdbcCall<23>(H(Handle), reinterpret_cast<SQLCHAR*>(name.data()),
                                 static_cast<SQLSMALLINT>(std::min<size_t>(name.size(), 32767)));
        if (ErrorCode == SQL_SUCCESS_WITH_INFO) DisplayError_();
        if (Ok(ErrorCode)) return name;
        DisplayError_();
        return "";
    }
    if (!OpenOrPrepared_()) return "";
    std::string buffer(255, ' ');
    SQLSMALLINT length = 0;
    ErrorCode = OdbcCall<22>(H(Handle), reinterpret_cast<SQLCHAR*>(buffer.data()), static_cast<SQLSMALLINT>(254),
                             &length);
    if (Ok(ErrorCode)) return buffer.substr(0, static_cast<size_t>(std::clamp<SQLSMALLINT>(length, 0, 253)));
    DisplayError_();
    return "";
}

int64_t SQLSelect::MaxRows(const xpp::Value& v) {
    if (v.IsNum() && SetAttribute(SQL_ATTR_MAX_ROWS, v)) {
        nMaxRows = v.Int();
        // a driver that took another limit says so: its own is in force
        if (ErrorCode == SQL_SUCCESS_WITH_INFO) {
            xpp::Value taken = GetAttribute(SQL_ATTR_MAX_ROWS);
            if (taken.IsNum()) nMaxRows = taken.Int();
        }
    }
    return nMaxRows;
}

int64_t SQLSelect::QueryTimeout(const xpp::Value& v) {
    if (v.IsNum()) {
        double d = v.Dbl();
        int64_t seconds = d > 0 && d < 1 ? 1 : v.Int();
        if (SetAttribute(SQL_ATTR_QUERY_TIMEOUT, seconds)) nQueryTimeout = seconds;
    }
    return nQueryTimeout;
}

bool SQLSelect::UsePositionDelete(const xpp::Value& v) {
    if (v.IsLogical()) lUsePosDelete = v.Log() && lSimulateCursor && Connection->isPosDeleteSupported.Log();
    return lUsePosDelete;
}

bool SQLSelect::UsePositionUpdate(const xpp::Value& v) {
    if (v.IsLogical()) lUsePosUpdate = v.Log() && lSimulateCursor && Connection->isPosUpdateSupported.Log();
    return lUsePosUpdate;
}

bool SQLSelect::DateTimeAsDate(const xpp::Value& v) {
    if (v.IsLogical()) lDateTimeAsDate = v.Log();
    return lDateTimeAsDate;
}

bool SQLSelect::Deleted() const { return Row_->isDeleted || Row_->isReallyDeleted; }

bool SQLSelect::isRowModified() const { return Row_->isRowModified; }

int64_t SQLSelect::FCount() { return OpenOrPrepared_() ? nColCount : -1; }

// --------------------------------------------------------------- field access

int64_t SQLSelect::FieldPos(const xpp::Value& field, const xpp::Value& raise) {
    XPP_FRAME("SQLSELECT:FIELDPOS");
    int64_t n = Lookup_(field);
    if (n == 0 && raise.IsLogical() && raise.Log()) RAISEERROR_(0, "Invalid Field: " + ASSTRING(field));
    return n;
}

int64_t SQLSelect::Lookup_(const xpp::Value& field) const {
    if (field.IsNum()) {
        double d = field.Dbl();
        if (d >= 1 && d < static_cast<double>(nColCount) + 1) return field.Int();
        return 0;
    }
    if (!field.IsChar()) return 0;
    xpp::Value key = xpp::Upper(xpp::Trim(field.Str()));
    ExactOn exact;
    std::vector<xpp::Value> names = aColNames.Items();
    for (size_t i = 0; i < names.size(); ++i) {
        if (names[i].IsChar() && xpp::Eq(names[i], key)) return static_cast<int64_t>(i + 1);
    }
    return 0;
}

std::string SQLSelect::FieldName(const xpp::Value& field) {
    int64_t n = Lookup_(field);
    if (n == 0 || !aSQLColumns.IsArray()) return "";
    auto column = aSQLColumns.Arr().Get(static_cast<size_t>(n)).As<SQLColumn>();
    return column ? column->AliasName : std::string();
}

xpp::Value SQLSelect::FieldGet(const xpp::Value& field) {
    XPP_FRAME("SQLSELECT:FIELDGET");
    int64_t n = Lookup_(field);
    if (n == 0) {
        RAISEERROR_(0, "Invalid Field: " + ASSTRING(field));
        return xpp::Value();
    }
    return RowBuffer.Get(static_cast<size_t>(n));
}

xpp::Value SQLSelect::FieldPut(const xpp::Value& field, const xpp::Value& value) {
    XPP_FRAME("SQLSELECT:FIELDPUT");
    int64_t n = FieldPos(field, true);
    if (n == 0) return xpp::Value();
    size_t at = static_cast<size_t>(n);
    xpp::Value original = Row_->Original.Get(at);
    bool change;
    if (value.IsObject() || original.Type() != value.Type()) change = true;
    else if (value.IsChar()) change = xpp::Trim(original.Str()) != xpp::Trim(value.Str());
    else if (value.IsArray() || value.IsBlock()) change = !xpp::ExactEq(original, value);
    else change = xpp::Ne(original, value);
    if (change) {
        Row_->isModified.Set(at, true);
        Row_->isRowModified = true;
    }
    Row_->Buffer.Set(at, value);
    return value;
}

xpp::Array SQLSelect::RecordGet() { return xpp::AClone(RowBuffer); }

xpp::Value SQLSelect::RecordPut(const xpp::Value& values) {
    XPP_FRAME("SQLSELECT:RECORDPUT");
    if (!values.IsArray() || static_cast<int64_t>(values.Arr().Len()) != nColCount) return xpp::Value();
    xpp::Array list = values.Arr();
    for (int64_t i = 1; i <= nColCount; ++i) FieldPut(i, list.Get(static_cast<size_t>(i)));
    return values;
}

}  // namespace rowxpp
