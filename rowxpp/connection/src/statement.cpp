// SQLStatement: creation on a connection, the handle's lifecycle and
// attributes, execution with parameters, data at execution; the
// statement members of SQLConnection; SQLValue.
#include "rowxpp/sql_statement.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
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

// Ten zero bytes: the time part of a timestamp buffer.
const std::string kZeroTime(10, '\0');

// The SQLSTATE of diagnostic record 1 of a statement handle.
std::string FirstState(int64_t handle) {
    return GETDIAGFIELD_(SQL_HANDLE_STMT, handle, 1, SQL_DIAG_SQLSTATE, true).Str();
}

bool DataAtExecution(int64_t indicator) {
    return indicator == SQL_DATA_AT_EXEC || indicator <= SQL_LEN_DATA_AT_EXEC_OFFSET;
}

// The members of a typed parameter: an SQLValue's own, or what any other
// object answers to the same messages.
struct Typed {
    xpp::Value value, sqlType, cType, precision, scale, bytes;
};

Typed TypedOf(const xpp::Value& object) {
    if (auto v = object.As<SQLValue>()) return {v->Value, v->SQLType, v->CType, v->Precision, v->Scale, v->Bytes};
    return {xpp::Send(object, "Value"),     xpp::Send(object, "SQLType"), xpp::Send(object, "CType"),
            xpp::Send(object, "Precision"), xpp::Send(object, "Scale"),   xpp::Send(object, "Bytes")};
}

// One parameter as it is bound.
struct Binding {
    int64_t cType = SQL_C_CHAR;
    int64_t sqlType = SQL_CHAR;
    int64_t size = 1;
    int64_t digits = 0;
    int64_t bufferLength = 1;
    // The value bytes: the parameter's own text, else bytes made here (an
    // object's Value that is not text cannot be packed).
    const std::string* text = nullptr;
    xpp::Value bytes = std::string(1, '\0');
    int64_t indicator = SQL_NULL_DATA;
};

std::string NumberText(const xpp::Number& n) {
    if (n.IsInteger()) return std::to_string(n.AsInt());
    char text[400];
    std::snprintf(text, sizeof text, "%.0f", n.AsDouble());
    return text;
}

Binding Bind(const xpp::Value& param) {
    Binding b;
    switch (param.Type()) {
        case 'C': {
            const std::string& text = param.Str();
            int64_t len = static_cast<int64_t>(text.size());
            if (len == 0) {
                b.indicator = 0;
            } else {
                b.sqlType = len > 255 ? SQL_LONGVARCHAR : SQL_CHAR;
                b.size = b.bufferLength = b.indicator = len;
                b.text = &text;
            }
            break;
        }
        case 'N': {
            xpp::Number n = param.Num();
            double d = n.AsDouble();
            bool integral = n.IsInteger() || (std::isfinite(d) && d == std::trunc(d));
            if (!integral) {
                b.cType = SQL_C_DOUBLE;
                b.sqlType = SQL_DOUBLE;
                b.size = 10;
                b.bufferLength = b.indicator = 8;
                b.bytes = xpp::F2Bin(d);
            } else if (d >= -32768 && d <= 32767) {
                b.cType = SQL_C_SHORT;
                b.sqlType = SQL_SMALLINT;
                b.size = 5;
                b.bufferLength = b.indicator = 2;
                b.bytes = xpp::L2Bin(n.AsInt());
            } else if (d >= -2147483648.0 && d <= 2147483647.0) {
                b.cType = SQL_C_LONG;
                b.sqlType = SQL_INTEGER;
                b.size = 10;
                b.bufferLength = b.indicator = 4;
                b.bytes = xpp::L2Bin(n.AsInt());
            } else {
                std::string text = NumberText(n);
                b.size = b.bufferLength = b.indicator = static_cast<int64_t>(text.size());
                b.bytes = text;
            }
            break;
        }
        case 'D': {
            xpp::Date date = param.Dat();
            b.cType = b.sqlType = SQL_TIMESTAMP;
            b.size = b.bufferLength = 16;
            if (date.IsEmpty()) {
                b.bytes = kZeroTime + kZeroTime;
                b.indicator = SQL_NULL_DATA;
            } else {
                b.bytes = xpp::I2Bin(date.Year()) + xpp::I2Bin(date.Month()) + xpp::I2Bin(date.Day()) + kZeroTime;
                b.indicator = 16;
            }
            break;
        }
        case 'L':
            b.sqlType = SQL_BIT;
            b.bufferLength = b.indicator = 1;
            b.bytes = param.Log() ? "1" : "0";
            break;
        case 'O': {
            Typed t = TypedOf(param);
            int64_t len = static_cast<int64_t>(xpp::Len(t.value));
            b.cType = t.cType.Int();
            b.sqlType = t.sqlType.Int();
            b.size = t.precision.IsNil() ? len : t.precision.Int();
            b.digits = t.scale.IsNil() ? 0 : t.scale.Int();
            // A NULL or data-at-execution indicator is no buffer length, and
            // the packed piece carries no terminator for SQL_NTS.
            if (t.bytes.IsNil() || t.bytes.Int() == SQL_NTS) {
                b.bufferLength = b.indicator = len;
            } else if (t.bytes.Int() < 0) {
                b.bufferLength = len;
                b.indicator = t.bytes.Int();
            } else {
                b.bufferLength = b.indicator = t.bytes.Int();
            }
            b.bytes = t.value;  // not character: packing fails
            break;
        }
        default:  // NIL, arrays, code blocks: NULL
            break;
    }
    return b;
}

// Marks a running Execute for the error handler. Failed() answers the
// result of the handler's re-execution after a reconnect, else -2.
class ExecutionMark {
public:
    explicit ExecutionMark(SQLStatement& s) : s_(s) {
        ++s_.executing_;
        s_.reexecuted_ = xpp::Value();
    }
    ~ExecutionMark() { --s_.executing_; }
    int64_t Failed() {
        xpp::Value again = s_.reexecuted_;
        s_.reexecuted_ = xpp::Value();
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
    MEMFREE_(aMemLock);
}

xpp::Value SQLStatement::Self() { return xpp::Value(std::static_pointer_cast<SQLStatement>(shared_from_this())); }

SQLStatement& SQLStatement::Init(const xpp::Value& sql, const xpp::Value& connection) {
    XPP_FRAME("SQLSTATEMENT:INIT");
    LastBoundCol = -1;
    // new empty lists (those of a new object are new already)
    if (apColBuffer.Len() > 0) apColBuffer = xpp::Array();
    if (apColSize.Len() > 0) apColSize = xpp::Array();
    if (aMemLock.Len() > 0) {
        MEMFREE_(aMemLock);
        aMemLock = xpp::Array();
    }
    SQLStatement::Reset_();
    cStatement = sql.IsChar() && !sql.Str().empty() ? sql.Str() : std::string();
    std::shared_ptr<SQLConnection> chosen;
    if (connection.IsObject() && connection.Obj()->isDerivedFrom("SQLConnection")) chosen = connection.As<SQLConnection>();
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
    Connection = chosen;
    onError = chosen->onError;
    DisplayErrors = chosen->classObject().Var("DisplayErrors").Log();
    if (AllocHandle_()) chosen->AddStatement(Self());
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

bool SQLStatement::FreeStmt_(const xpp::Value& option) {
    if (Handle == 0) return true;
    int64_t opt = option.IsNum() ? option.Int() : SQL_CLOSE;
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
    if (aMemLock.Len() > 0) MEMFREE_(aMemLock);
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
    XPP_FRAME("SQLSTATEMENT:EXECUTE");
    ExecutionMark mark(*this);
    nRowCount = -1;
    xpp::Value params;
    size_t n = args.PCount();
    if (n == 1) {
        params = args[1];
        if (params.IsNil()) n = 0;
        else if (params.IsArray()) n = params.Arr().Len();
        else params = xpp::Array{params};
    } else if (n > 1) {
        std::vector<xpp::Value> list;
        list.reserve(n);
        for (const xpp::Arg& a : args.Items()) list.push_back(a.Get());
        params = xpp::Array(std::move(list));
    }
    if (n == 0) {
        ParamList = xpp::Value();
        Execute_();
        CheckDeadlock_();
    } else {
        if (aMemLock.Len() > 0) MEMFREE_(aMemLock);
        ParamList = params;
        // the value and indicator lists, filled by the binding with the
        // addresses of their packed pieces
        xpp::Array values, lengths;
        if (!SetParameters_(params.Arr(), values, lengths, static_cast<int64_t>(n))) return mark.Failed();
        Execute_();
        if (ErrorCode == SQL_NEED_DATA) ErrorCode = PUTRESTOFDATA_(Handle, params.Arr(), values);
        CheckDeadlock_();
        MEMFREE_(aMemLock);
    }
    switch (ErrorCode) {
        case SQL_SUCCESS: return GetRowCount();
        case SQL_SUCCESS_WITH_INFO: {
            DisplayError_();
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

bool SQLStatement::SetParameters_(const xpp::Array& params, xpp::Array& values, xpp::Array& lengths, int64_t n) {
    if (!FreeStmt_(SQL_RESET_PARAMS)) return false;
    if (n <= 0) return true;
    // The value pieces and the indicator cells, packed into one block each.
    std::vector<xpp::Value> items = params.Items();
    std::vector<Binding> bound(static_cast<size_t>(n));
    std::vector<SQLLEN> cells(static_cast<size_t>(n));
    std::vector<std::string_view> valueViews, cellViews;
    valueViews.reserve(static_cast<size_t>(n));
    cellViews.reserve(static_cast<size_t>(n));
    bool packable = true;
    for (size_t i = 0; i < static_cast<size_t>(n); ++i) {
        if (i < items.size()) bound[i] = Bind(items[i]);
        const Binding& b = bound[i];
        if (b.text == nullptr && !b.bytes.IsChar()) packable = false;
        valueViews.emplace_back(b.text != nullptr ? std::string_view(*b.text) : std::string_view(b.bytes.Str()));
        cells[i] = static_cast<SQLLEN>(b.indicator);
        cellViews.emplace_back(reinterpret_cast<const char*>(&cells[i]), sizeof(SQLLEN));
    }
    xpp::Value valuePieces = packable ? PackPieces_(valueViews) : xpp::Value();
    xpp::Value lengthPieces = valuePieces.IsNil() ? xpp::Value() : PackPieces_(cellViews);
    if (lengthPieces.IsNil()) {
        if (!valuePieces.IsNil()) FreePacked_(valuePieces);
        RAISEERROR_(0, "Failed to allocate memory");
        // The error block returned: nothing is bound.
        return false;
    }
    // The lists are replaced by the addresses of their pieces.
    values = valuePieces.Arr();
    lengths = lengthPieces.Arr();
    aMemLock.Add(values);
    aMemLock.Add(lengths);
    // The pieces lie back to back from the start of each block.
    char* valueAt = reinterpret_cast<char*>(static_cast<intptr_t>(values.Get(1).Int()));
    char* cellAt = reinterpret_cast<char*>(static_cast<intptr_t>(lengths.Get(1).Int()));
    SQLHSTMT handle = H(Handle);
    for (size_t i = 1; i <= static_cast<size_t>(n); ++i) {
        const Binding& b = bound[i - 1];
        SQLPOINTER valuePiece = valueAt;
        SQLLEN* cellPiece = reinterpret_cast<SQLLEN*>(cellAt);
        valueAt += valueViews[i - 1].size();
        cellAt += sizeof(SQLLEN);
        int64_t rc = OdbcCall<21>(
            handle, static_cast<SQLUSMALLINT>(i), static_cast<SQLSMALLINT>(SQL_PARAM_INPUT),
            static_cast<SQLSMALLINT>(b.cType), static_cast<SQLSMALLINT>(b.sqlType), static_cast<SQLULEN>(b.size),
            static_cast<SQLSMALLINT>(b.digits), valuePiece, static_cast<SQLLEN>(b.bufferLength), cellPiece);
        if (Ok(rc)) continue;
        ErrorCode = rc;
        MEMFREE_(aMemLock);
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

SQLConnection& SQLConnection::AddStatement(const xpp::Value& statement) {
    xpp::Sync sync(*this);
    if (xpp::AScan(aStatements, statement) == 0) aStatements.Add(statement);
    return *this;
}

SQLConnection& SQLConnection::DropStatement(const xpp::Value& statement) {
    XPP_FRAME("SQLCONNECTION:DROPSTATEMENT");
    xpp::Sync sync(*this);
    size_t at = xpp::AScan(aStatements, statement);
    if (at > 0) aStatements.Remove(at);
    if (auto s = statement.As<SQLStatement>()) {
        s->FreeStmt_(SQL_DROP);
        s->SQLStatement::Reset_();
        s->Reset_(false);
    }
    return *this;
}

int64_t SQLConnection::Execute(const xpp::Value& text, const xpp::Value& params) {
    XPP_FRAME("SQLCONNECTION:EXECUTE");
    auto statement = NewStatement(text);
    int64_t result = statement->Execute(xpp::Args{params});
    DropStatement(xpp::Value(statement));
    return result;
}

std::shared_ptr<SQLStatement> SQLConnection::NewStatement(const xpp::Value& text) {
    return SQLStatement::New(text, xpp::Value(std::static_pointer_cast<SQLConnection>(shared_from_this())));
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
