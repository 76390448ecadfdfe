// SQLStatement: creation on a connection, the handle's lifecycle and
// attributes, execution with parameters, data at execution; the
// statement members of SQLConnection; SQLValue.
#include "rowxpp/sql_statement.h"

#include <algorithm>
#include <cstdint>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <typeinfo>
#include <utility>
#include <vector>

#include "rowxpp/natives.h"
#include "rowxpp/odbc_calls.h"
#include "rowxpp/sql_error.h"
#include "xpp/functions.h"
#include "xpp/runtime.h"

namespace rowxpp {
namespace {

bool Ok(int64_t rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

SQLHSTMT H(int64_t handle) { return ToHandle(handle); }

// The SQLSTATE of diagnostic record 1 of a statement handle.
std::string FirstState(int64_t handle) {
    return GETDIAGFIELD_(SQL_HANDLE_STMT, handle, 1, SQL_DIAG_SQLSTATE, true).Str();
}

bool DataAtExecution(int64_t indicator) {
    return indicator == SQL_DATA_AT_EXEC || indicator <= SQL_LEN_DATA_AT_EXEC_OFFSET;
}

// The members of a typed parameter that is not an SQLValue: what the
// object answers to the same messages.
struct Typed {
    xpp::Value value, sqlType, cType, precision, scale, bytes;
};

Typed TypedOf(const xpp::Value& object) {
    return {xpp::Send(object, "Value"),     xpp::Send(object, "SQLType"), xpp::Send(object, "CType"),
            xpp::Send(object, "Precision"), xpp::Send(object, "Scale"),   xpp::Send(object, "Bytes")};
}

// One parameter as it is bound. The value bytes are the parameter's own
// text, bytes made here (`made`), or the text of an object's Value (held in
// `held` while the binding lives).
struct Binding {
    int64_t cType = SQL_C_CHAR;
    int64_t sqlType = SQL_CHAR;
    int64_t size = 1;
    int64_t digits = 0;
    int64_t bufferLength = 1;
    int64_t indicator = SQL_NULL_DATA;
    const char* data = nullptr;  // null: the bytes in `made`
    size_t length = 1;           // of the value bytes
    bool packable = true;        // false: an object's Value that is not character
    char made[24] = {};          // one zero byte unless filled
    std::optional<xpp::Value> held;  // engaged only when used
    char* packed = nullptr;  // the piece in the packed block
    int64_t shortOf = 0;     // the width of a fixed C type the value falls short of

    std::string_view Piece() const { return {data != nullptr ? data : made, length}; }
    void Make(const void* bytes, size_t n) {
        std::memcpy(made, bytes, n);
        length = n;
    }
    void MakeInteger(int64_t n, size_t width) {  // little-endian, as L2BIN and I2BIN
        for (size_t i = 0; i < width; ++i) made[i] = static_cast<char>((static_cast<uint64_t>(n) >> (8 * i)) & 0xFF);
        length = width;
    }
    void Text(const std::string& text) {
        data = text.data();
        length = text.size();
    }
};

// The bytes a driver reads for a value of the C type `cType`; 0 for the
// types whose length is given (characters, binary).
int64_t FixedWidth(int64_t cType) {
    switch (cType) {
        case SQL_C_BIT: case SQL_C_TINYINT: case SQL_C_STINYINT: case SQL_C_UTINYINT: return 1;
        case SQL_C_SHORT: case SQL_C_SSHORT: case SQL_C_USHORT: return 2;
        case SQL_C_LONG: case SQL_C_SLONG: case SQL_C_ULONG: case SQL_C_FLOAT: return 4;
        case SQL_C_DOUBLE: case SQL_C_SBIGINT: case SQL_C_UBIGINT: return 8;
        case SQL_C_DATE: case SQL_C_TIME: case SQL_C_TYPE_DATE: case SQL_C_TYPE_TIME: return 6;
        case SQL_C_TIMESTAMP: case SQL_C_TYPE_TIMESTAMP: return static_cast<int64_t>(sizeof(SQL_TIMESTAMP_STRUCT));
        case SQL_C_NUMERIC: return static_cast<int64_t>(sizeof(SQL_NUMERIC_STRUCT));
        case SQL_C_GUID: return static_cast<int64_t>(sizeof(SQLGUID));
        default: return 0;
    }
}

// The bound parts of an object parameter: its members as sent, its Value
// text viewed in place.
void BindTyped(const xpp::Value& valueOf, const xpp::Value& sqlType, const xpp::Value& cType,
               const xpp::Value& precision, const xpp::Value& scale, const xpp::Value& bytes, Binding& b) {
    int64_t len = static_cast<int64_t>(xpp::Len(valueOf));
    b.cType = cType.Int();
    b.sqlType = sqlType.Int();
    b.size = precision.IsNil() ? len : precision.Int();
    b.digits = scale.IsNil() ? 0 : scale.Int();
    // A NULL or data-at-execution indicator is no buffer length, and the
    // packed piece carries no terminator for SQL_NTS.
    if (bytes.IsNil() || bytes.Int() == SQL_NTS) {
        b.bufferLength = b.indicator = len;
    } else if (bytes.Int() < 0) {
        b.bufferLength = len;
        b.indicator = bytes.Int();
    } else {
        // never more than the value holds: the driver would read past it
        b.bufferLength = b.indicator = std::min(bytes.Int(), len);
    }
    if (valueOf.IsChar()) b.Text(valueOf.Str());
    else b.packable = false;  // cannot be packed
    // A C type of fixed width is read whole, whatever the length says.
    int64_t width = FixedWidth(b.cType);
    if (valueOf.IsChar() && len < width && b.indicator != SQL_NULL_DATA && !DataAtExecution(b.indicator))
        b.shortOf = width;
}

// Fills `b` from the type table for `param`, which outlives the binding.
void Bind(const xpp::Value& param, Binding& b) {
    switch (param.Type()) {
        case 'C': {
            const std::string& text = param.Str();
            int64_t len = static_cast<int64_t>(text.size());
            if (len == 0) {
                b.indicator = 0;
            } else {
                b.sqlType = len > 255 ? SQL_LONGVARCHAR : SQL_CHAR;
                b.size = b.bufferLength = b.indicator = len;
                b.Text(text);
            }
            break;
        }
        case 'N': {
            xpp::Number n = param.Num();
            double d = n.AsDouble();
            // an exact decimal is whole when its decimals are zeros
            bool whole = n.IsExact() && xpp::ExactEq(xpp::Int(param), param);
            bool integral = n.IsInteger() || whole || (!n.IsExact() && std::isfinite(d) && d == std::trunc(d));
            if (!integral && !n.IsExact()) {
                b.cType = SQL_C_DOUBLE;
                b.sqlType = SQL_DOUBLE;
                b.size = 10;
                b.bufferLength = b.indicator = 8;
                b.Make(&d, sizeof d);  // F2BIN: the double's own bytes
            } else if (integral && d >= -32768 && d <= 32767) {
                b.cType = SQL_C_SHORT;
                b.sqlType = SQL_SMALLINT;
                b.size = 5;
                b.bufferLength = b.indicator = 2;
                b.MakeInteger(n.AsInt(), 4);
            } else if (integral && d >= -2147483648.0 && d <= 2147483647.0) {
                b.cType = SQL_C_LONG;
                b.sqlType = SQL_INTEGER;
                b.size = 10;
                b.bufferLength = b.indicator = 4;
                b.MakeInteger(n.AsInt(), 4);
            } else {
                // the decimal text: at most 20 characters for an integer or
                // an exact decimal, up to some 310 for a double
                char text[400];
                int written = 0;
                if (!integral)
                    written = std::snprintf(text, sizeof text, "%s", xpp::LTrim(xpp::Str(param, 40, n.Decimals())).c_str());
                else if (n.IsExact())
                    written = std::snprintf(text, sizeof text, "%lld", static_cast<long long>(n.AsInt()));
                else
                    written = std::snprintf(text, sizeof text, "%.0f", d);
                size_t len = static_cast<size_t>(std::clamp(written, 0, static_cast<int>(sizeof text) - 1));
                b.size = b.bufferLength = b.indicator = static_cast<int64_t>(len);
                if (len <= sizeof b.made) {
                    b.Make(text, len);
                } else {
                    b.held = std::string(text, len);
                    b.Text(b.held->Str());
                }
            }
            break;
        }
        case 'D': {
            xpp::Date date = param.Dat();
            b.cType = b.sqlType = SQL_TIMESTAMP;
            b.size = b.bufferLength = 16;
            if (date.IsEmpty()) {
                b.length = 20;  // the zero time twice; `made` is zeroed
                b.indicator = SQL_NULL_DATA;
            } else {
                // year, month and day (I2BIN each), then ten zero bytes of time
                b.MakeInteger(date.Year(), 2);
                b.made[2] = static_cast<char>(date.Month());
                b.made[3] = 0;
                b.made[4] = static_cast<char>(date.Day());
                b.made[5] = 0;
                b.length = 16;
                b.indicator = 16;
            }
            break;
        }
        case 'L':
            b.sqlType = SQL_BIT;
            b.bufferLength = b.indicator = 1;
            b.made[0] = param.Log() ? '1' : '0';
            break;
        case 'O':
            if (auto v = param.As<SQLValue>()) {
                // the object outlives the binding through the parameter list
                BindTyped(v->Value, v->SQLType, v->CType, v->Precision, v->Scale, v->Bytes, b);
            } else {
                Typed t = TypedOf(param);
                b.held = t.value;
                BindTyped(*b.held, t.sqlType, t.cType, t.precision, t.scale, t.bytes, b);
            }
            break;
        default:  // NIL, arrays, code blocks: NULL
            break;
    }
}

// Room for the bindings of one execution: in place for the usual few
// parameters, on the heap beyond.
class Bindings {
public:
    explicit Bindings(size_t n) : n_(n) {
        if (n > kInPlace) {
            heap_ = std::make_unique<Binding[]>(n);
            at_ = heap_.get();
        } else {
            at_ = reinterpret_cast<Binding*>(inPlace_);
            // default-initialised: the members' own initialisers, no
            // zeroing of the whole record first
            for (size_t i = 0; i < n; ++i) new (&at_[i]) Binding;
        }
    }
    ~Bindings() {
        if (!heap_)
            for (size_t i = 0; i < n_; ++i) at_[i].~Binding();
    }
    Bindings(const Bindings&) = delete;
    Bindings& operator=(const Bindings&) = delete;
    Binding& operator[](size_t i) { return at_[i]; }

private:
    static constexpr size_t kInPlace = 8;
    size_t n_;
    Binding* at_;
    alignas(Binding) unsigned char inPlace_[kInPlace * sizeof(Binding)];
    std::unique_ptr<Binding[]> heap_;
};

// Room for a snapshot of values, taken from `kept` and given back with its
// capacity (empty) when done; taken while in use, so a nested one starts
// with new room.
class Snapshot {
public:
    explicit Snapshot(std::vector<xpp::Value>& kept) : kept_(kept), list(std::move(kept)) {}
    ~Snapshot() { GiveBack(); }
    // Empties the snapshot and gives its room back before the end.
    void GiveBack() {
        list.clear();
        if (list.capacity() > kept_.capacity()) kept_ = std::move(list);
    }
    Snapshot(const Snapshot&) = delete;
    Snapshot& operator=(const Snapshot&) = delete;

private:
    std::vector<xpp::Value>& kept_;

public:
    std::vector<xpp::Value> list;
};

// The count of parameters that stands for all the list holds.
constexpr size_t kWholeList = SIZE_MAX;

// The parameter list of an execution without parameters; never changed.
const xpp::Array& NoParameters() {
    static const xpp::Array* none = new xpp::Array();
    return *none;
}

// Marks a running Execute for the error handler. Failed() answers the
// result of the handler's re-execution after a reconnect, else -2.
class ExecutionMark {
public:
    explicit ExecutionMark(SQLStatement& s) : s_(s) {
        ++s_.executing_;
        if (!s_.reexecuted_.IsNil()) s_.reexecuted_ = xpp::Value();
    }
    ~ExecutionMark() { --s_.executing_; }
    int64_t Failed() {
        xpp::Value again = std::exchange(s_.reexecuted_, xpp::Value());
        return again.IsNum() ? again.Int() : kExecFailed;
    }

private:
    SQLStatement& s_;
};

}  // namespace

// ============================================================ SQLStatement

xpp::Class& SQLStatement::ClassObject() {
    static xpp::ClassSlot slot;
    return slot.Get("SQLStatement", nullptr, [](xpp::Class& c) {
        c.AddMessage("destroy", [](xpp::Object& o, xpp::Args&) -> xpp::Value {
            return static_cast<SQLStatement&>(o).Destroy();
        });
        c.AddMessage("__reset", [](xpp::Object& o, xpp::Args& a) -> xpp::Value {
            static_cast<SQLStatement&>(o).Reset_(a[1]);
            return xpp::Value(std::static_pointer_cast<xpp::Object>(o.shared_from_this()));
        });
        c.AddMessage("execute", [](xpp::Object& o, xpp::Args& a) -> xpp::Value {
            return static_cast<SQLStatement&>(o).Execute(a);
        });
        c.AddMessage("prepare", [](xpp::Object& o, xpp::Args& a) -> xpp::Value {
            return static_cast<SQLStatement&>(o).Prepare(a[1]);
        });
    });
}

xpp::Class& SQLSTATEMENT() { return SQLStatement::ClassObject(); }

std::shared_ptr<SQLStatement> SQLStatement::New(const xpp::Value& sql, const xpp::Value& connection) {
    ClassObject();
    auto statement = std::make_shared<SQLStatement>();
    statement->Init(sql, connection);
    return statement;
}

SQLStatement::~SQLStatement() {
    // Memory of bindings still held (an Execute left by a Break).
    FreeBindings_();
    std::free(spareMemory_);
}

xpp::Value SQLStatement::Self() { return xpp::Value(shared_from_this()); }

SQLStatement& SQLStatement::Init(const xpp::Value& sql, const xpp::Value& connection) {
    return InitOn_(sql, connection.IsObject() ? connection.As<SQLConnection>() : nullptr);
}

SQLStatement& SQLStatement::InitOn_(const xpp::Value& sql, std::shared_ptr<SQLConnection> given, bool fresh) {
    XPP_FRAME("SQLSTATEMENT:INIT");
    if (!fresh) {
        LastBoundCol = -1;
        // new empty lists (those of a new object are new already)
        if (apColBuffer.Len() > 0) apColBuffer = xpp::Array();
        if (apColSize.Len() > 0) apColSize = xpp::Array();
        FreeBindings_();
        SQLStatement::Reset_();
    }
    if (sql.IsChar() && !sql.Str().empty()) cStatement = sql.Str();
    std::shared_ptr<SQLConnection> chosen;
    if (given && given->isDerivedFrom(SQLConnection::ClassObject())) chosen = std::move(given);
    if (!chosen) {
        chosen = SQLConnection::FindConnection();
        if (!chosen) {
            chosen = SQLConnection::New();
            chosen->DriverConnect();
        } else if (!chosen->isConnected()) {
            chosen->DriverConnect();
        }
    }
    isHidden_ = false;
    Connection = std::move(chosen);
    onError = Connection->onError;
    DisplayErrors = Connection->DisplayErrors_();
    // A statement made while its connection is lost waits, listed, for the
    // reconnection that gives it its handle.
    if (AllocHandle_() || (Connection->Handle != 0 && !Connection->isConnected())) {
        if (fresh) Connection->ListStatement_(Self());
        else Connection->AddStatement(Self());
    }
    return *this;
}

bool SQLStatement::AllocHandle_() {
    XPP_FRAME("SQLSTATEMENT:__ALLOCHANDLE");
    if (Handle != 0) return true;
    if (!Connection || !Connection->isConnected()) return false;
    SQLHANDLE out = SQL_NULL_HANDLE;
    ErrorCode = OdbcCall<1>(static_cast<SQLSMALLINT>(SQL_HANDLE_STMT), ToHandle(Connection->Handle), &out);
    if (!Ok(ErrorCode)) {
        DisplayError_(ErrorCode, SQL_HANDLE_DBC, Connection->Handle);
        RAISEERROR_(0, "Unable to allocate an SQL statement handle");
        return false;
    }
    Handle = FromHandle(out);
    return true;
}

bool SQLStatement::FreeStmt_(const xpp::Value& option) { return FreeStmt_(option.IsNum() ? option.Int() : SQL_CLOSE); }

bool SQLStatement::FreeStmt_(int64_t opt) {
    XPP_FRAME("SQLSTATEMENT:__FREESTMT");
    if (Handle == 0) return true;
    if (opt == SQL_DROP) {
        OdbcCall<55>(H(Handle), static_cast<SQLUSMALLINT>(SQL_RESET_PARAMS));
        if (LastBoundCol > 0) {
            OdbcCall<55>(H(Handle), static_cast<SQLUSMALLINT>(SQL_UNBIND));
            for (size_t i = apColBuffer.Len(); i >= 1; --i) {
                MemRelease_(apColBuffer.Get(i));
                if (i <= apColSize.Len()) MemRelease_(apColSize.Get(i));
            }
            LastBoundCol = -1;
            apColBuffer.Resize(0);
            apColSize.Resize(0);
        }
        OdbcCall<55>(H(Handle), static_cast<SQLUSMALLINT>(SQL_CLOSE));
    }
    ErrorCode = OdbcCall<55>(H(Handle), static_cast<SQLUSMALLINT>(opt));
    if (Ok(ErrorCode)) {
        if (opt == SQL_DROP) SQLStatement::Reset_();
        return true;
    }
    DisplayError_();
    return false;
}

SQLStatement& SQLStatement::Reset_(const xpp::Value&) {
    FreeBindings_();
    ParamList = xpp::Value();
    if (Attributes.Len() > 0) Attributes = xpp::Array();  // a new list: Reset keeps the old one
    Handle = 0;
    ErrorCode = 0;
    nRowCount = -1;
    isPrepared = false;
    cStatement.clear();
    return *this;
}

SQLStatement& SQLStatement::Reset(const xpp::Value& sql, const xpp::Value& keepAttributes) {
    XPP_FRAME("SQLSTATEMENT:RESET");
    bool display = DisplayErrors;
    xpp::Array saved = Attributes;
    FreeStmt_(SQL_DROP);
    AllocHandle_();
    cStatement = sql.IsChar() ? xpp::Trim(sql.Str()) : std::string();
    isPrepared = false;
    if (!(keepAttributes.IsLogical() && keepAttributes.Log())) {
        DisplayErrors = false;
        for (const xpp::Value& pair : saved.Items()) SetAttribute(pair.Arr().Get(1).Int(), pair.Arr().Get(2));
        DisplayErrors = display;
    }
    return *this;
}

const std::string& SQLStatement::SQLString(const xpp::Value& text) {
    if (text.IsChar()) {
        if (isPrepared) Reset(text);
        else cStatement = xpp::Trim(text.Str());
    }
    return cStatement;
}

bool SQLStatement::SetAttribute(int64_t attribute, const xpp::Value& value) {
    XPP_FRAME("SQLSTATEMENT:SETATTRIBUTE");
    if (Handle == 0) return false;
    xpp::Value recorded;
    if (value.IsChar()) {
        std::string text = value.Str();
        ErrorCode = OdbcCall<14>(H(Handle), static_cast<SQLINTEGER>(attribute), static_cast<SQLPOINTER>(text.data()),
                                 static_cast<SQLINTEGER>(text.size()));
        recorded = value;
    } else {
        int64_t n = value.Int();
        ErrorCode = OdbcCall<14>(H(Handle), static_cast<SQLINTEGER>(attribute),
                                 reinterpret_cast<SQLPOINTER>(static_cast<intptr_t>(n)),
                                 static_cast<SQLINTEGER>(SQL_IS_INTEGER));
        recorded = n;
    }
    if (!Ok(ErrorCode)) {
        DisplayError_();
        return false;
    }
    for (const xpp::Value& pair : Attributes.Items()) {
        if (pair.Arr().Get(1).Int() == attribute) {
            pair.Arr().Set(2, recorded);
            return true;
        }
    }
    Attributes.Add(xpp::Array{attribute, recorded});
    return true;
}

xpp::Value SQLStatement::GetAttribute(int64_t attribute, const xpp::Value& asText) {
    XPP_FRAME("SQLSTATEMENT:GETATTRIBUTE");
    if (Handle == 0) return xpp::Value();
    SQLINTEGER length = 0;
    xpp::Value result;
    if (asText.IsLogical() && asText.Log()) {
        std::string buffer(255, ' ');
        ErrorCode = OdbcCall<15>(H(Handle), static_cast<SQLINTEGER>(attribute), static_cast<SQLPOINTER>(buffer.data()),
                                 static_cast<SQLINTEGER>(254), &length);
        result = buffer.substr(0, static_cast<size_t>(std::clamp<SQLINTEGER>(length, 0, 254)));
    } else {
        // an 8-byte cell: several statement attributes are SQLULEN wide
        uint64_t cell = 0;
        ErrorCode = OdbcCall<15>(H(Handle), static_cast<SQLINTEGER>(attribute), static_cast<SQLPOINTER>(&cell),
                                 static_cast<SQLINTEGER>(sizeof cell), &length);
        result = static_cast<int64_t>(cell);
    }
    if (!Ok(ErrorCode)) {
        DisplayError_();
        return xpp::Value();
    }
    return result;
}

bool SQLStatement::Cancel() {
    XPP_FRAME("SQLSTATEMENT:CANCEL");
    int64_t handle = Handle;
    if (handle == 0) return true;
    int64_t rc = OdbcCall<57>(H(handle));
    if (rc != SQL_SUCCESS && DisplayErrors) DISPLAYERROR_(rc, SQL_HANDLE_STMT, handle, true, onError, Self());
    return Ok(rc);
}

SQLStatement& SQLStatement::DisplayError_(const xpp::Value& returnCode, const xpp::Value& handleType,
                                          const xpp::Value& handle) {
    XPP_FRAME("SQLSTATEMENT:__DISPLAYERROR");
    if (DisplayErrors) {
        DISPLAYERROR_(returnCode.IsNil() ? xpp::Value(ErrorCode) : returnCode,
                      handleType.IsNil() ? xpp::Value(SQL_HANDLE_STMT) : handleType,
                      handle.IsNil() ? xpp::Value(Handle) : handle, true, onError, Self());
    }
    return *this;
}

std::string SQLStatement::ErrorMessage() {
    return DISPLAYERROR_(ErrorCode, SQL_HANDLE_STMT, Handle, false, xpp::Value(), Self());
}

xpp::Value SQLStatement::Destroy() {
    XPP_FRAME("SQLSTATEMENT:DESTROY");
    if (!Connection) return xpp::Value();
    Connection->DropStatement(Self());
    return xpp::Value(Connection);
}

// --------------------------------------------------------------- execution

bool SQLStatement::Prepare(const xpp::Value& sql) {
    XPP_FRAME("SQLSTATEMENT:PREPARE");
    if (!AllocHandle_()) return false;
    if (sql.IsChar() && !sql.Str().empty()) SQLString(sql);
    ErrorCode = OdbcCall<20>(H(Handle), reinterpret_cast<SQLCHAR*>(cStatement.data()),
                             static_cast<SQLINTEGER>(cStatement.size()));
    if (ErrorCode == SQL_SUCCESS || ErrorCode == SQL_SUCCESS_WITH_INFO) {
        isPrepared = true;
        if (ErrorCode == SQL_SUCCESS_WITH_INFO) DisplayError_();
        return true;
    }
    DisplayError_();
    return false;
}

SQLStatement& SQLStatement::Execute_() {
    if (isPrepared) {
        ErrorCode = OdbcCall<25>(H(Handle));
    } else {
        // the text is followed by its zero byte; the length leaves it out
        ErrorCode = OdbcCall<26>(H(Handle), reinterpret_cast<SQLCHAR*>(cStatement.data()),
                                 static_cast<SQLINTEGER>(cStatement.size()));
    }
    return *this;
}

SQLStatement& SQLStatement::CheckDeadlock_() {
    if (ErrorCode == 65535 && Connection->RetryDeadlockVictim && FirstState(Handle) == "40001" &&
        !Connection->inTransaction()) {
        int64_t now = std::llround(xpp::Seconds().Dbl() * 100);
        xpp::Sleep(now % 400 + 40);
        Execute_();
        // The retry sends no data at execution: a statement left waiting for
        // it would refuse every later call.
        if (ErrorCode == SQL_NEED_DATA) OdbcCall<57>(H(Handle));
    }
    return *this;
}

int64_t SQLStatement::Execute(const xpp::Args& args) {
    size_t n = args.PCount();
    if (n == 1) return ExecuteWith_(args[1]);
    if (n == 0) return Run_(xpp::Value(), NoParameters(), 0);
    std::vector<xpp::Value> items;
    items.reserve(n);
    for (const xpp::Arg& a : args.Items()) items.push_back(a.Get());
    const xpp::Array list(std::move(items));
    return Run_(list, list, n);
}

int64_t SQLStatement::ExecuteWith_(const xpp::Value& params) {
    if (params.IsNil()) return Run_(params, NoParameters(), 0);
    // as many parameters as the list holds when it is read
    if (const xpp::Array* list = params.ArrIf()) return Run_(params, *list, kWholeList);
    const xpp::Array list{params};
    return Run_(list, list, 1);
}

int64_t SQLStatement::Run_(const xpp::Value& params, const xpp::Array& list, size_t n) {
    XPP_FRAME("SQLSTATEMENT:EXECUTE");
    ExecutionMark mark(*this);
    nRowCount = -1;
    if (Handle == 0) {
        // Nothing to bind to or run on: reported (a lost connection is
        // regained and the statement run again by the error handler).
        ParamList = n == 0 ? xpp::Value() : params;
        ErrorCode = SQL_INVALID_HANDLE & 0xFFFF;
        DisplayError_();
        return mark.Failed();
    }
    // A snapshot of the parameters, into room the statement keeps (an
    // execution nested in this one makes its own).
    Snapshot items(paramRoom_);
    if (n != 0) list.ItemsInto(items.list);
    if (n == kWholeList) n = items.list.size();
    if (n == 0) {
        items.GiveBack();
        ParamList = xpp::Value();
        Execute_();
        CheckDeadlock_();
    } else {
        FreeBindings_();
        ParamList = params;
        bool bound = SetParameters_(list, items.list, static_cast<int64_t>(n));
        items.GiveBack();
        if (!bound) return mark.Failed();
        Execute_();
        if (ErrorCode == SQL_NEED_DATA) {
            xpp::Array pieces;
            for (size_t i = 0; i < aMemLock.count; ++i)
                pieces.Add(static_cast<int64_t>(reinterpret_cast<intptr_t>(aMemLock.Pieces()[i])));
            ErrorCode = PUTRESTOFDATA_(Handle, list, pieces);
        }
        CheckDeadlock_();
        FreeBindings_();
    }
    switch (ErrorCode) {
        case SQL_SUCCESS: return GetRowCount();
        case SQL_SUCCESS_WITH_INFO: {
            if (ReportsInfo_()) DisplayError_();
            int64_t r = GetRowCount();
            return r >= 0 ? r : kExecInfoNoCount;
        }
        case SQL_NO_DATA: nRowCount = 0; return 0;
        default: break;
    }
    if (ErrorCode == 65535 && isHidden_ && FirstState(Handle) == "34000") return kExecHidden34000;
    DisplayError_();
    return mark.Failed();
}

bool SQLStatement::MoreResults() {
    XPP_FRAME("SQLSTATEMENT:MORERESULTS");
    ErrorCode = OdbcCall<42>(H(Handle));
    switch (ErrorCode) {
        case SQL_SUCCESS: GetRowCount(); return true;
        case SQL_SUCCESS_WITH_INFO: DisplayError_(); GetRowCount(); return true;
        case SQL_NO_DATA: nRowCount = 0; return false;
        default: nRowCount = -1; DisplayError_(); return false;
    }
}

int64_t SQLStatement::GetRowCount() {
    SQLLEN count = 0;
    int64_t rc = OdbcCall<32>(H(Handle), &count);
    nRowCount = Ok(rc) ? static_cast<int64_t>(count) : -1;
    return nRowCount;
}

// ----------------------------------------------------------------- binding

static_assert(sizeof(SQLLEN) == sizeof(int64_t), "indicator cells are 8 bytes");

// The largest memory of bindings a statement keeps for its next ones.
constexpr size_t kKeptBindingMemory = 4096;

bool SQLStatement::SetParameters_(const xpp::Array& params, const std::vector<xpp::Value>& items, int64_t n) {
    XPP_FRAME("SQLSTATEMENT:__SETPARAMETERS");
    if (!FreeStmt_(SQL_RESET_PARAMS)) return false;
    if (n <= 0) return true;
    const size_t count = static_cast<size_t>(n);
    Bindings bound(count);
    size_t total = 0;
    bool packable = true;
    for (size_t i = 0; i < count; ++i) {
        if (i < items.size()) Bind(items[i], bound[i]);
        packable = packable && bound[i].packable;
        total += bound[i].length;
    }
    for (size_t i = 0; i < count; ++i) {
        if (bound[i].shortOf == 0) continue;
        RAISEERROR_(0, "Param: " + std::to_string(i + 1) + ", CType: " + std::to_string(bound[i].cType) +
                           ", Value of " + std::to_string(bound[i].length) + " bytes, the C type reads " +
                           std::to_string(bound[i].shortOf),
                    xpp::Var2Char(xpp::Value(cStatement)) + "\r\n" + xpp::Var2Char(xpp::Value(params)));
        // The error block returned: nothing is bound.
        return false;
    }
    // The indicator cells and the value pieces, packed into one block each;
    // both blocks (with the list of the pieces' addresses between them) are
    // taken as one piece of memory.
    const size_t cellBytes = count * sizeof(SQLLEN);
    const size_t size = 2 * cellBytes + total;
    char* memory = nullptr;
    size_t capacity = size;
    if (packable) {
        if (spareMemory_ != nullptr && spareSize_ >= size) {
            memory = std::exchange(spareMemory_, nullptr);
            capacity = std::exchange(spareSize_, 0);
        } else {
            memory = static_cast<char*>(std::malloc(size));
        }
    }
    if (memory == nullptr) {
        RAISEERROR_(0, "Failed to allocate memory");
        // The error block returned: nothing is bound.
        return false;
    }
    char* cellBlock = memory;
    char** pieces = reinterpret_cast<char**>(memory + cellBytes);
    // The pieces lie back to back from the start of each block.
    char* at = memory + 2 * cellBytes;
    for (size_t i = 0; i < count; ++i) {
        std::string_view piece = bound[i].Piece();
        if (!piece.empty()) std::memcpy(at, piece.data(), piece.size());
        bound[i].packed = pieces[i] = at;
        at += piece.size();
        SQLLEN cell = static_cast<SQLLEN>(bound[i].indicator);
        std::memcpy(cellBlock + i * sizeof(SQLLEN), &cell, sizeof cell);
    }
    // aMemLock holds both blocks until the execution ends.
    aMemLock.memory = memory;
    aMemLock.count = count;
    aMemLock.size = capacity;
    SQLHSTMT handle = H(Handle);
    for (size_t i = 1; i <= count; ++i) {
        const Binding& b = bound[i - 1];
        SQLPOINTER valuePiece = b.packed;
        SQLLEN* cellPiece = reinterpret_cast<SQLLEN*>(cellBlock + (i - 1) * sizeof(SQLLEN));
        int64_t rc = OdbcCall<21>(
            handle, static_cast<SQLUSMALLINT>(i), static_cast<SQLSMALLINT>(SQL_PARAM_INPUT),
            static_cast<SQLSMALLINT>(b.cType), static_cast<SQLSMALLINT>(b.sqlType), static_cast<SQLULEN>(b.size),
            static_cast<SQLSMALLINT>(b.digits), valuePiece, static_cast<SQLLEN>(b.bufferLength), cellPiece);
        if (Ok(rc)) continue;
        ErrorCode = rc;
        FreeBindings_();
        DisplayError_();
        xpp::Value param = params.Get(i);
        std::string description =
            Connection->isConnected()
                ? "Param: " + std::to_string(i) + ", Type: " + xpp::ValType(param) + ", SQLType: " +
                      std::to_string(b.sqlType) + ", Size: " + std::to_string(b.size) +
                      ", Value: " + xpp::Left(xpp::Var2Char(param), 50)
                : std::string("No connection to datasource");
        RAISEERROR_(static_cast<int>(rc), description,
                    xpp::Var2Char(xpp::Value(cStatement)) + "\r\n" + xpp::Var2Char(xpp::Value(params)));
        return false;
    }
    return true;
}

void SQLStatement::FreeBindings_() {
    char* memory = std::exchange(aMemLock.memory, nullptr);
    size_t size = std::exchange(aMemLock.size, 0);
    aMemLock.count = 0;
    if (memory == nullptr) return;
    // Kept for the next bindings while small, the larger of two.
    if (size <= kKeptBindingMemory && size > spareSize_) {
        std::free(spareMemory_);
        spareMemory_ = memory;
        spareSize_ = size;
    } else {
        std::free(memory);
    }
}

xpp::Array SQLStatement::MemLock() const {
    xpp::Array held;
    if (aMemLock.memory == nullptr) return held;
    xpp::Array values, cells;
    for (size_t i = 0; i < aMemLock.count; ++i) {
        values.Add(static_cast<int64_t>(reinterpret_cast<intptr_t>(aMemLock.Pieces()[i])));
        cells.Add(static_cast<int64_t>(reinterpret_cast<intptr_t>(aMemLock.memory + i * sizeof(SQLLEN))));
    }
    held.Add(values);
    held.Add(cells);
    return held;
}

void MEMFREE_(const xpp::Array& list) {
    for (const xpp::Value& item : list.Items()) {
        xpp::Value freed = item.IsArray() ? FreePacked_(item) : MemRelease_(item);
        if (freed.Int() == 0) RAISEERROR_(0, "Failed to free allocated memory");
    }
    list.Resize(0);
}

// ------------------------------------------------------- data at execution

int64_t PUTRESTOFDATA_(int64_t hStmt, const xpp::Array& params, const xpp::Array& pieces) {
    std::vector<xpp::Value> items = params.Items();
    std::vector<xpp::Value> addresses = pieces.Items();
    std::vector<bool> sent(addresses.size(), false);
    for (;;) {
        SQLPOINTER token = nullptr;
        int64_t rc = OdbcCall<30>(H(hStmt), &token);
        if (rc != SQL_NEED_DATA) return rc;
        // The token is the address of a bound piece. An empty piece shares
        // its address with the next one: a data-at-execution parameter not
        // yet sent goes first.
        int64_t address = static_cast<int64_t>(reinterpret_cast<intptr_t>(token));
        size_t found = 0, fallback = 0;
        for (size_t i = 0; i < addresses.size() && i < items.size(); ++i) {
            if (!addresses[i].IsNum() || addresses[i].Int() != address) continue;
            if (fallback == 0) fallback = i + 1;
            auto value = items[i].As<SQLValue>();
            if (!sent[i] && value && value->Bytes.IsNum() && DataAtExecution(value->Bytes.Int())) {
                found = i + 1;
                break;
            }
        }
        if (found == 0) found = fallback;
        if (found == 0) {
            // Not one of ours: nothing sensible can be sent.
            OdbcCall<57>(H(hStmt));
            return 65535;
        }
        sent[found - 1] = true;
        const xpp::Value& element = items[found - 1];
        std::string data;
        if (auto value = element.As<SQLValue>()) data = value->Value.IsChar() ? value->Value.Str() : xpp::Var2Char(value->Value);
        else data = xpp::Var2Char(element);
        // An empty value still goes as one piece of no bytes: a driver
        // manager refuses the next SQLParamData when nothing was put.
        for (size_t position = 0; position < data.size() || position == 0; position += kPutDataPiece) {
            size_t length = std::min<size_t>(kPutDataPiece, data.size() - position);
            rc = OdbcCall<31>(H(hStmt), static_cast<SQLPOINTER>(data.data() + position), static_cast<SQLLEN>(length));
            if (!Ok(rc)) break;
        }
    }
}

// ======================================================= the connection side

namespace {

// The position of `statement` in `list`, 0 when absent: an object by
// identity, any other value as AScan compares it.
size_t Position(const xpp::Array& list, const xpp::Value& statement) {
    if (statement.IsObject()) return list.FindSame(statement.Identity(), 0, SIZE_MAX);
    return xpp::AScan(list, statement);
}

// The statement of a finished SQLConnection:Execute that nothing else
// holds, kept for the thread's next one.
thread_local std::shared_ptr<SQLStatement> spareStatement;

}  // namespace

SQLConnection& SQLConnection::AddStatement(const xpp::Value& statement) {
    xpp::Sync sync(*this);
    if (Position(aStatements, statement) == 0) aStatements.Add(statement);
    return *this;
}

void SQLConnection::ListStatement_(xpp::Value statement) {
    xpp::Sync sync(*this);
    aStatements.Add(std::move(statement));
}

SQLConnection& SQLConnection::DropStatement(const xpp::Value& statement) {
    return DropStatement_(statement, statement.As<SQLStatement>().get());
}

SQLConnection& SQLConnection::DropStatement_(const xpp::Value& statement, SQLStatement* s) {
    XPP_FRAME("SQLCONNECTION:DROPSTATEMENT");
    xpp::Sync sync(*this);
    size_t at = s != nullptr ? aStatements.FindSame(static_cast<xpp::Object*>(s), 0, SIZE_MAX)
                             : Position(aStatements, statement);
    if (at > 0) aStatements.Remove(at);
    if (s != nullptr) {
        // A handle dropped without failure has reset the statement already;
        // the class's own flagged reset follows where a subclass has one.
        bool dropped = s->Handle != 0 && s->FreeStmt_(SQL_DROP);
        if (!dropped) s->SQLStatement::Reset_();
        if (typeid(*s) != typeid(SQLStatement)) s->Reset_(false);
    }
    return *this;
}

int64_t SQLConnection::Execute(const xpp::Value& text, const xpp::Value& params) {
    XPP_FRAME("SQLCONNECTION:EXECUTE");
    std::shared_ptr<SQLStatement> statement = std::move(spareStatement);
    if (statement) statement->InitOn_(text, std::static_pointer_cast<SQLConnection>(shared_from_this()), true);
    else statement = NewStatement(text);
    // the statement is an SQLStatement: its Execute with the one argument
    int64_t result = statement->ExecuteWith_(params);
    DropStatement_(xpp::Value(), statement.get());
    // Kept when nothing else holds it (an error handler may have kept it)
    // and its drop left it cleared. It holds nothing while it waits: not its
    // connection (which then closes when the program lets it go, as it would
    // without the kept statement), nor what the program or a handler left.
    if (statement.use_count() == 1 && statement->Handle == 0) {
        statement->Connection.reset();
        if (!statement->onError.IsNil()) statement->onError = xpp::Value();
        if (!statement->Cargo.IsNil()) statement->Cargo = xpp::Value();
        if (!statement->Cargo_.IsNil()) statement->Cargo_ = xpp::Value();
        if (!statement->reexecuted_.IsNil()) statement->reexecuted_ = xpp::Value();
        spareStatement = std::move(statement);
    }
    return result;
}

bool SQLConnection::DisplayErrors_() { return classObject().VarLog(displayErrors_); }

std::shared_ptr<SQLStatement> SQLConnection::NewStatement(const xpp::Value& text) {
    SQLStatement::ClassObject();
    auto statement = std::make_shared<SQLStatement>();
    statement->InitOn_(text, std::static_pointer_cast<SQLConnection>(shared_from_this()), true);
    return statement;
}

// ================================================================ SQLValue

xpp::Class& SQLValue::ClassObject() {
    static xpp::ClassSlot slot;
    return slot.Get("SQLValue", nullptr, [](xpp::Class& c) {
        c.AddMessage("Value", [](xpp::Object& o, xpp::Args&) { return static_cast<SQLValue&>(o).Value; });
        c.AddMessage("SQLType", [](xpp::Object& o, xpp::Args&) { return static_cast<SQLValue&>(o).SQLType; });
        c.AddMessage("CType", [](xpp::Object& o, xpp::Args&) { return static_cast<SQLValue&>(o).CType; });
        c.AddMessage("Precision", [](xpp::Object& o, xpp::Args&) { return static_cast<SQLValue&>(o).Precision; });
        c.AddMessage("Scale", [](xpp::Object& o, xpp::Args&) { return static_cast<SQLValue&>(o).Scale; });
        c.AddMessage("Bytes", [](xpp::Object& o, xpp::Args&) { return static_cast<SQLValue&>(o).Bytes; });
        c.AddMessage("cargo", [](xpp::Object& o, xpp::Args&) { return static_cast<SQLValue&>(o).cargo; });
    });
}

xpp::Class& SQLVALUE() { return SQLValue::ClassObject(); }

std::shared_ptr<SQLValue> SQLValue::New(const xpp::Value& value, const xpp::Value& sqlType, const xpp::Value& cType,
                                        const xpp::Value& precision, const xpp::Value& scale,
                                        const xpp::Value& bytes) {
    ClassObject();
    auto v = std::make_shared<SQLValue>();
    v->Init(value, sqlType, cType, precision, scale, bytes);
    return v;
}

SQLValue& SQLValue::Init(const xpp::Value& value, const xpp::Value& sqlType, const xpp::Value& cType,
                         const xpp::Value& precision, const xpp::Value& scale, const xpp::Value& bytes) {
    Value = value;
    SQLType = sqlType;
    CType = cType;
    Precision = precision;
    Scale = scale;
    Bytes = bytes;
    return *this;
}

}  // namespace rowxpp
