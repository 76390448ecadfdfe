// SQLConnection instances: the registry, connecting, driver information,
// attributes and transactions.
#include <algorithm>

#include "registry.h"
#include "rowxpp/odbc_calls.h"
#include "rowxpp/sql_connection.h"
#include "rowxpp/sql_error.h"
#include "written.h"
#include "xpp/functions.h"
#include "xpp/runtime.h"

namespace rowxpp {
namespace {

bool Ok(int64_t rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

SQLCHAR* Chars(std::string& s) { return reinterpret_cast<SQLCHAR*>(s.data()); }

bool DisplayErrorsOn() { return SQLConnection::ClassObject().Var("DisplayErrors").Log(); }

// Removes `connection` from the registry; false when it was not listed.
bool Unregister(const SQLConnection* connection) {
    std::lock_guard<std::mutex> guard(RegistryLock());
    xpp::Array list = SQLConnection::aConnections();
    std::vector<xpp::Value> items = list.Items();
    for (size_t i = 0; i < items.size(); ++i) {
        if (items[i].Obj().get() == connection) {
            list.Remove(i + 1);
            return true;
        }
    }
    return false;
}

std::vector<std::shared_ptr<SQLConnection>> ConnectionsOfThread(int thread) {
    std::lock_guard<std::mutex> guard(RegistryLock());
    std::vector<std::shared_ptr<SQLConnection>> found;
    for (const xpp::Value& v : SQLConnection::aConnections().Items()) {
        auto c = v.As<SQLConnection>();
        if (c && c->ThreadID == thread) found.push_back(c);
    }
    return found;
}

}  // namespace

std::mutex& RegistryLock() {
    static std::mutex lock;
    return lock;
}

std::shared_ptr<SQLConnection> SQLConnection::New(const xpp::Value& dsn, const xpp::Value& user,
                                                  const xpp::Value& password, const xpp::Value& readOnly) {
    ClassObject();
    auto connection = std::make_shared<SQLConnection>();
    connection->Init(dsn, user, password, readOnly);
    return connection;
}

void SQLConnection::Init(const xpp::Value& dsn, const xpp::Value& user, const xpp::Value& password,
                         const xpp::Value& readOnly) {
    XPP_FRAME("SQLCONNECTION:INIT");
    aStatements = xpp::Array();
    DataSource = UserName = Password = std::string(1, '\0');
    isReadOnly = false;
    BufferSize = 65535;
    DateTimeAsDate = false;
    ThreadID = xpp::ThreadID();
    ErrorLogFile = "SQLError.LOG";
    RetryDeadlockVictim = true;
    onError = xpp::Block([](xpp::Args& a) { return SQLERRORHANDLER(a[1], a[2], a[3], a[4]); });
    Reset_();
    {
        std::lock_guard<std::mutex> guard(RegistryLock());
        aConnections().Add(xpp::Value(std::static_pointer_cast<SQLConnection>(shared_from_this())));
    }
    if (dsn.IsChar()) xpp::Send(xpp::Value(shared_from_this()), "connect", {dsn, user, password, readOnly});
    auto thread = xpp::ThreadObject();
    if (thread->atEnd().IsNil()) {
        thread->atEnd(xpp::Block([](xpp::Args&) {
            SQLConnection::DestroyContext();
            return xpp::Value();
        }));
    }
}

void SQLConnection::Reset_() {
    ShowConnErrors = true;
    Handle = 0;
    IdentifierQuoteChar = "";
    MaxActiveStatements = MaxActiveConnections = MaxStatementLen = MaxCharLen = 0;
}

std::shared_ptr<SQLConnection> SQLConnection::FindConnection() {
    std::vector<std::shared_ptr<SQLConnection>> mine = ConnectionsOfThread(xpp::ThreadID());
    for (const auto& c : mine) {
        if (c->isConnected()) return c;
    }
    return mine.empty() ? nullptr : mine.back();
}

void SQLConnection::DestroyContext() {
    xpp::Sync sync(ClassObject());
    std::vector<std::shared_ptr<SQLConnection>> mine = ConnectionsOfThread(xpp::ThreadID());
    for (auto it = mine.rbegin(); it != mine.rend(); ++it) {
        // Some drivers roll an open transaction back silently on disconnect
        // (others refuse the disconnect and leave it to the library's end):
        // the thread's open work is ended as the program's end would end it.
        if ((*it)->Handle != 0 && (*it)->inTransaction())
            (*it)->EndTransaction_(xpp::AppEndedByError() ? SQL_ROLLBACK_ : SQL_COMMIT_);
        xpp::Send(xpp::Value(*it), "disconnect");
        Unregister(it->get());
    }
}

size_t SQLConnection::ActiveConnections() {
    std::lock_guard<std::mutex> guard(RegistryLock());
    return aConnections().Len();
}

bool SQLConnection::Destroy() {
    xpp::Sync sync(*this);
    Unregister(this);
    return Disconnect();
}

// The opening of every connect: no environment gives .F. at once; an open
// connection is closed; a new connection handle is allocated.
bool SQLConnection::OpenNewHandle_(SQLHANDLE& dbc) {
    if (hEnv() == 0) return false;
    Disconnect();
    manualCommit_ = false;
    ErrorCode = OdbcCall<1>(static_cast<SQLSMALLINT>(SQL_HANDLE_DBC), ToHandle(hEnv()), &dbc);
    if (!Ok(ErrorCode.Int())) {
        DisplayError_(ErrorCode, SQL_HANDLE_ENV, hEnv());
        return false;
    }
    return true;
}

// Sets an integer attribute on a handle not yet connected; a failure is
// reported and the connect goes on.
bool SQLConnection::SetOnNew_(SQLHANDLE dbc, int64_t attribute, int64_t value) {
    ErrorCode = OdbcCall<10>(dbc, static_cast<SQLINTEGER>(attribute),
                             reinterpret_cast<SQLPOINTER>(static_cast<intptr_t>(value)), static_cast<SQLINTEGER>(0));
    if (!Ok(ErrorCode.Int())) DisplayError_(ErrorCode, SQL_HANDLE_DBC, FromHandle(dbc));
    return Ok(ErrorCode.Int());
}

void SQLConnection::RequestReadOnly_(SQLHANDLE dbc, const xpp::Value& readOnly) {
    if (readOnly.IsLogical() && readOnly.Log()) isReadOnly = SetOnNew_(dbc, SQL_ATTR_ACCESS_MODE, SQL_MODE_READ_ONLY);
}

bool SQLConnection::Connect(const xpp::Value& dsn, const xpp::Value& user, const xpp::Value& password,
                            const xpp::Value& readOnly) {
    XPP_FRAME("SQLCONNECTION:CONNECT");
    SQLHANDLE dbc = SQL_NULL_HANDLE;
    if (!OpenNewHandle_(dbc)) return false;
    if (dsn.IsChar()) DataSource = dsn.Str() + std::string(1, '\0');
    if (user.IsChar()) UserName = user.Str() + std::string(1, '\0');
    if (password.IsChar()) Password = password.Str() + std::string(1, '\0');
    RequestReadOnly_(dbc, readOnly);
    int64_t loginTimeout = ClassObject().Var("LoginTimeout").Int();
    if (loginTimeout != 15) SetOnNew_(dbc, SQL_ATTR_LOGIN_TIMEOUT, loginTimeout);
    std::string source = DataSource.Str(), name = UserName.Str(), secret = Password.Str();
    ErrorCode = OdbcCall<2>(dbc, Chars(source), static_cast<SQLSMALLINT>(SQL_NTS), Chars(name),
                            static_cast<SQLSMALLINT>(SQL_NTS), Chars(secret), static_cast<SQLSMALLINT>(SQL_NTS));
    if (!Ok(ErrorCode.Int())) {
        DisplayError_(ErrorCode, SQL_HANDLE_DBC, FromHandle(dbc));
        OdbcCall<60>(static_cast<SQLSMALLINT>(SQL_HANDLE_DBC), dbc);
        return false;
    }
    Handle = FromHandle(dbc);
    GetDriverInfo_();
    return true;
}

bool SQLConnection::DriverConnect(const xpp::Value& window, const xpp::Value& connectString,
                                  const xpp::Value& completion, const xpp::Value& readOnly) {
    XPP_FRAME("SQLCONNECTION:DRIVERCONNECT");
    std::string out(1024, ' ');
    SQLSMALLINT outLength = 0;
    SQLHANDLE dbc = SQL_NULL_HANDLE;
    if (!OpenNewHandle_(dbc)) return false;
    int64_t parent = window.IsNum() && window.Int() != 0 ? window.Int() : GETDESKTOPHANDLE_();
    std::string text = connectString.IsChar() ? connectString.Str()
                       : ConnectString.IsChar() ? ConnectString.Str()
                                                : std::string();
    int64_t mode = completion.IsNum() ? completion.Int()
                   : text.empty()     ? SQL_DRIVER_PROMPT
                                      : SQL_DRIVER_COMPLETE_REQUIRED;
    RequestReadOnly_(dbc, readOnly);
    ErrorCode = OdbcCall<3>(dbc, reinterpret_cast<SQLHWND>(static_cast<intptr_t>(parent)), Chars(text),
                            static_cast<SQLSMALLINT>(text.size()), Chars(out), static_cast<SQLSMALLINT>(1023),
                            &outLength, static_cast<SQLUSMALLINT>(mode));
    if (!Ok(ErrorCode.Int())) {
        DisplayError_(ErrorCode, SQL_HANDLE_DBC, FromHandle(dbc));
        OdbcCall<60>(static_cast<SQLSMALLINT>(SQL_HANDLE_DBC), dbc);
        return false;
    }
    Handle = FromHandle(dbc);
    // A completed string longer than the buffer arrives cut at what was written.
    std::string completed = Written(out, outLength, 1023);
    ConnectString = completed;
    DataSource = GETCONNECTVALUE(completed, "DSN=");
    UserName = GETCONNECTVALUE(completed, "UID=");
    Password = GETCONNECTVALUE(completed, "PWD=");
    GetDriverInfo_();
    return true;
}

// The browse exchange: each answer 99 (SQL_NEED_DATA) hands the driver's
// list of what it still needs to `nextStep`, which stores the next request
// in its by-reference argument and answers .T., or gives up.
bool SQLConnection::BrowseConnect(const xpp::Value& connectString, const xpp::Value& nextStep,
                                  const xpp::Value& readOnly) {
    XPP_FRAME("SQLCONNECTION:BROWSECONNECT");
    std::string out(1024, ' ');
    SQLSMALLINT outLength = 0;
    SQLHANDLE dbc = SQL_NULL_HANDLE;
    if (!OpenNewHandle_(dbc)) return false;
    std::string text = connectString.IsChar() ? connectString.Str()
                       : ConnectString.IsChar() ? ConnectString.Str()
                                                : std::string();
    xpp::Value block = nextStep.IsBlock() ? nextStep : xpp::Value(xpp::Block([](xpp::Args&) { return xpp::Value(false); }));
    RequestReadOnly_(dbc, readOnly);
    // One request; false when the driver answered neither success nor 99
    // (the failure is then reported and the handle freed).
    auto browse = [&]() {
        ErrorCode = OdbcCall<4>(dbc, Chars(text), static_cast<SQLSMALLINT>(text.size()), Chars(out),
                                static_cast<SQLSMALLINT>(1023), &outLength);
        if (!Ok(ErrorCode.Int()) && ErrorCode.Int() != SQL_NEED_DATA) {
            DisplayError_(ErrorCode, SQL_HANDLE_DBC, FromHandle(dbc));
            OdbcCall<60>(static_cast<SQLSMALLINT>(SQL_HANDLE_DBC), dbc);
            return false;
        }
        text = Written(out, outLength, 1023);
        return true;
    };
    if (!browse()) return false;
    while (ErrorCode.Int() == SQL_NEED_DATA) {
        xpp::Ref variable{xpp::Value(text)};
        xpp::Value goOn = xpp::Eval(block, {variable});
        // Anything but .T. gives up: the handle goes without a report.
        if (!(goOn.IsLogical() && goOn.Log())) {
            OdbcCall<60>(static_cast<SQLSMALLINT>(SQL_HANDLE_DBC), dbc);
            return false;
        }
        text = variable.Get().IsChar() ? variable.Get().Str() : std::string();
        if (!browse()) return false;
    }
    Handle = FromHandle(dbc);
    ConnectString = text;
    DataSource = GETCONNECTVALUE(text, "DSN=");
    UserName = GETCONNECTVALUE(text, "UID=");
    Password = GETCONNECTVALUE(text, "PWD=");
    GetDriverInfo_();
    return true;
}

bool SQLConnection::Disconnect() {
    XPP_FRAME("SQLCONNECTION:DISCONNECT");
    if (Handle == 0 && !reconnecting_) return true;
    for (const xpp::Value& statement : aStatements.Items()) {
        if (!statement.IsNil()) xpp::Send(statement, "destroy");
    }
    aStatements.Clear();
    if (Handle == 0) {
        // A reconnection under way ends with its statements: the next
        // Reconnect connects anew.
        reconnecting_ = false;
        return true;
    }
    ErrorCode = OdbcCall<59>(ToHandle(Handle));
    if (Ok(ErrorCode.Int())) {
        ErrorCode = OdbcCall<60>(static_cast<SQLSMALLINT>(SQL_HANDLE_DBC), ToHandle(Handle));
        if (Ok(ErrorCode.Int())) {
            Reset_();
            return true;
        }
    }
    DisplayError_();
    return false;
}

std::string GETCONNECTVALUE(const std::string& connectString, const std::string& key) {
    size_t p = xpp::At(key, connectString);
    if (p == 0) return "";
    p += 4;
    size_t e = xpp::At(";", connectString, p);
    return e > 0 ? xpp::SubStr(connectString, static_cast<int64_t>(p), static_cast<int64_t>(e - p))
                 : xpp::SubStr(connectString, static_cast<int64_t>(p));
}

// ------------------------------------------------------- driver information

SQLConnection& SQLConnection::GetDriverInfo_() {
    ShowConnErrors = false;
    ThreadID = xpp::ThreadID();
    IdentifierQuoteChar = GetInfo(SQL_IDENTIFIER_QUOTE_CHAR);
    IdentifierCase = xpp::Bin2W(GetInfo(SQL_IDENTIFIER_CASE));
    MaxActiveStatements = xpp::Bin2W(GetInfo(SQL_MAX_CONCURRENT_ACTIVITIES));
    MaxActiveConnections = xpp::Bin2W(GetInfo(SQL_MAX_DRIVER_CONNECTIONS));
    MaxStatementLen = xpp::Bin2U(GetInfo(SQL_MAX_STATEMENT_LEN));
    MaxCharLen = xpp::Bin2U(GetInfo(SQL_MAX_CHAR_LITERAL_LEN));
    isTransactionCapable = xpp::Bin2W(GetInfo(SQL_TXN_CAPABLE)) != 0;
    DatabaseName = GetInfo(SQL_DATABASE_NAME);
    DbmsName = GetInfo(SQL_DBMS_NAME);
    DbmsVersion = GetInfo(SQL_DBMS_VER);
    CollationSequence = GetInfo(SQL_COLLATION_SEQ);
    MultipleResults = GetInfo(SQL_MULT_RESULT_SETS) == "Y";
    int64_t getData = xpp::Bin2U(GetInfo(SQL_GETDATA_EXTENSIONS));
    GetDataInOrder = !(getData < 16 && (getData & SQL_GD_ANY_ORDER) != 0);
    int64_t positioned = xpp::Bin2U(GetInfo(SQL_POSITIONED_STATEMENTS));
    isPosDeleteSupported = positioned > 0 && positioned != 2;
    isPosUpdateSupported = positioned > 0 && positioned != 1;
    ShowConnErrors = true;
    return *this;
}

std::string SQLConnection::GetInfo(int64_t type) {
    XPP_FRAME("SQLCONNECTION:GETINFO");
    std::string buffer(255, ' ');
    SQLSMALLINT length = 0;
    ErrorCode = OdbcCall<7>(ToHandle(Handle), static_cast<SQLUSMALLINT>(type), static_cast<SQLPOINTER>(buffer.data()),
                            static_cast<SQLSMALLINT>(254), &length);
    if (Ok(ErrorCode.Int())) return Written(buffer, length, 254);
    DisplayError_();
    return "";
}

xpp::Value SQLConnection::NativeSQL(const std::string& text, const xpp::Value& size) {
    XPP_FRAME("SQLCONNECTION:NATIVESQL");
    if (!isConnected()) return xpp::Value();
    int64_t offered = size.IsNum() ? std::max<int64_t>(size.Int(), 0) : 1024;
    std::string buffer(static_cast<size_t>(offered), ' ');
    std::string in = text;
    SQLINTEGER length = 0;
    ErrorCode = OdbcCall<27>(ToHandle(Handle), Chars(in), static_cast<SQLINTEGER>(in.size()), Chars(buffer),
                             static_cast<SQLINTEGER>(offered), &length);
    std::string result = Written(buffer, length, static_cast<size_t>(offered));
    if (!Ok(ErrorCode.Int())) DisplayError_();
    return result;
}

bool SQLConnection::SetAttribute(int64_t attribute, const xpp::Value& value) {
    XPP_FRAME("SQLCONNECTION:SETATTRIBUTE");
    if (Handle == 0) return false;
    std::string text;
    if (value.IsChar()) {
        text = value.Str();
        ErrorCode = OdbcCall<10>(ToHandle(Handle), static_cast<SQLINTEGER>(attribute),
                                 static_cast<SQLPOINTER>(text.data()), static_cast<SQLINTEGER>(text.size()));
    } else {
        ErrorCode = OdbcCall<10>(ToHandle(Handle), static_cast<SQLINTEGER>(attribute),
                                 reinterpret_cast<SQLPOINTER>(static_cast<intptr_t>(value.Int())),
                                 static_cast<SQLINTEGER>(0));
    }
    if (!Ok(ErrorCode.Int())) {
        DisplayError_();
        return false;
    }
    if (attribute == SQL_ATTR_AUTOCOMMIT_ && !value.IsChar()) manualCommit_ = value.Int() == 0;
    return true;
}

xpp::Value SQLConnection::GetAttribute(int64_t attribute, const xpp::Value& asString) {
    XPP_FRAME("SQLCONNECTION:GETATTRIBUTE");
    if (Handle == 0) return xpp::Value();
    SQLINTEGER length = 0;
    xpp::Value result;
    if (asString.IsLogical() && asString.Log()) {
        std::string buffer(255, ' ');
        ErrorCode = OdbcCall<11>(ToHandle(Handle), static_cast<SQLINTEGER>(attribute),
                                 static_cast<SQLPOINTER>(buffer.data()), static_cast<SQLINTEGER>(254), &length);
        result = Written(buffer, length, 254);
    } else {
        // an 8-byte cell: some attributes are SQLULEN wide
        uint64_t cell = 0;
        ErrorCode = OdbcCall<11>(ToHandle(Handle), static_cast<SQLINTEGER>(attribute), static_cast<SQLPOINTER>(&cell),
                                 static_cast<SQLINTEGER>(0), &length);
        result = static_cast<int64_t>(cell);
    }
    if (!Ok(ErrorCode.Int())) {
        DisplayError_();
        return xpp::Value();
    }
    return result;
}

// ------------------------------------------------- attributes, transactions

// An integer attribute read without a report: 0 when the driver refuses it.
int64_t SQLConnection::ReadAttribute_(int64_t attribute) {
    uint64_t cell = 0;
    SQLINTEGER length = 0;
    int64_t rc = OdbcCall<11>(ToHandle(Handle), static_cast<SQLINTEGER>(attribute), static_cast<SQLPOINTER>(&cell),
                              static_cast<SQLINTEGER>(0), &length);
    return Ok(rc) ? static_cast<int64_t>(cell) : 0;
}

int64_t SQLConnection::ConnectionTimeout(const xpp::Value& seconds) {
    if (Handle == 0) return 0;
    if (seconds.IsNum()) {
        OdbcCall<10>(ToHandle(Handle), static_cast<SQLINTEGER>(SQL_ATTR_CONNECTION_TIMEOUT),
                     reinterpret_cast<SQLPOINTER>(static_cast<intptr_t>(seconds.Int())), static_cast<SQLINTEGER>(0));
    }
    return ReadAttribute_(SQL_ATTR_CONNECTION_TIMEOUT);
}

int64_t SQLConnection::TransactionIsolation(const xpp::Value& level) {
    if (Handle == 0) return 0;
    if (level.IsNil()) return ReadAttribute_(SQL_ATTR_TXN_ISOLATION);
    int64_t rc = OdbcCall<10>(ToHandle(Handle), static_cast<SQLINTEGER>(SQL_ATTR_TXN_ISOLATION),
                              reinterpret_cast<SQLPOINTER>(static_cast<intptr_t>(level.Int())),
                              static_cast<SQLINTEGER>(0));
    if (!Ok(rc)) return 0;
    nTxnIsolation = level;
    return level.Int();
}

bool SQLConnection::isConnected() {
    // a driver that does not know the attribute leaves it 0: alive
    return Handle != 0 && ReadAttribute_(SQL_ATTR_CONNECTION_DEAD) == 0;
}

xpp::Value SQLConnection::isFunction(const xpp::Value& id) {
    XPP_FRAME("SQLCONNECTION:ISFUNCTION");
    // The driver manager answers 0 and 999 with a whole list of answers;
    // they, and what no list covers, name no function.
    if (!id.IsNum()) return false;
    int64_t function = id.Int();
    if (function <= 0 || function >= SQL_API_ODBC3_ALL_FUNCTIONS_SIZE * 16 || function == SQL_API_ODBC3_ALL_FUNCTIONS)
        return false;
    if (!isConnected()) return xpp::Value();
    // Room for the longest list all the same: a driver manager may take
    // any identifier as a request for one.
    SQLUSMALLINT supported[SQL_API_ODBC3_ALL_FUNCTIONS_SIZE] = {};
    ErrorCode = OdbcCall<8>(ToHandle(Handle), static_cast<SQLUSMALLINT>(function), supported);
    if (Ok(ErrorCode.Int())) return supported[0] != 0;
    DisplayError_();
    return xpp::Value();
}

bool SQLConnection::inTransaction() {
    xpp::Value autocommit = GetAttribute(SQL_ATTR_AUTOCOMMIT_);
    return autocommit.IsNum() && autocommit.Int() == 0;
}

bool SQLConnection::EndTransaction() {
    bool ok = EndTransaction_(SQL_COMMIT_);
    SetAttribute(SQL_ATTR_AUTOCOMMIT_, 1);
    return ok;
}

bool SQLConnection::EndTransaction_(int completionType) {
    XPP_FRAME("SQLCONNECTION:__ENDTRANSACTION");
    int64_t rc = OdbcCall<58>(static_cast<SQLSMALLINT>(SQL_HANDLE_DBC), ToHandle(Handle),
                              static_cast<SQLSMALLINT>(completionType));
    if (rc != SQL_SUCCESS) DisplayError_(rc);
    return Ok(rc);
}

// -------------------------------------------------------------- diagnostics

std::string SQLConnection::DisplayError_(const xpp::Value& returnCode, const xpp::Value& handleType,
                                         const xpp::Value& handle) {
    XPP_FRAME("SQLCONNECTION:__DISPLAYERROR");
    xpp::Value code = returnCode.IsNil() ? ErrorCode : returnCode;
    xpp::Value type = handleType.IsNil() ? xpp::Value(SQL_HANDLE_DBC) : handleType;
    xpp::Value h = handle.IsNil() ? xpp::Value(Handle) : handle;
    if (!ShowConnErrors || !DisplayErrorsOn()) return "";
    return DISPLAYERROR_(code, type, h, true, onError,
                         xpp::Value(std::static_pointer_cast<SQLConnection>(shared_from_this())));
}

std::string SQLConnection::ErrorMessage() {
    return DISPLAYERROR_(ErrorCode, SQL_HANDLE_DBC, Handle, false, xpp::Value(),
                         xpp::Value(std::static_pointer_cast<SQLConnection>(shared_from_this())));
}

}  // namespace rowxpp
