// Reconnection: a new connection handle in place of a lost one, with every
// statement of the connection rebuilt on it.
#include "rowxpp/odbc_calls.h"
#include "rowxpp/sql_connection.h"
#include "rowxpp/sql_statement.h"
#include "xpp/runtime.h"

namespace rowxpp {
namespace {

bool Ok(int64_t rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

// An integer connection attribute on a handle; the result is not looked at.
void SetOn(SQLHANDLE dbc, int64_t attribute, int64_t value) {
    OdbcCall<10>(dbc, static_cast<SQLINTEGER>(attribute), reinterpret_cast<SQLPOINTER>(static_cast<intptr_t>(value)),
                 static_cast<SQLINTEGER>(0));
}

std::vector<std::shared_ptr<SQLStatement>> StatementsOf(const xpp::Array& list) {
    std::vector<std::shared_ptr<SQLStatement>> found;
    for (const xpp::Value& v : list.Items()) {
        if (auto s = v.As<SQLStatement>()) found.push_back(s);
    }
    return found;
}

}  // namespace

bool SQLConnection::ReconnectRunsHere_() const {
    int me = xpp::ThreadID();
    return reconnectThread_ == me || handlerLoopThread_ == me;
}

bool SQLConnection::Reconnect(const xpp::Value& force, const xpp::Value& timeout) {
    XPP_FRAME("SQLCONNECTION:RECONNECT");
    // One reconnection of a connection at a time: a second one (an error of
    // the rebuild reported back into the handler, another thread) would free
    // the statements that the first is rebuilding.
    int idle = 0;
    if (!reconnectThread_.compare_exchange_strong(idle, xpp::ThreadID())) return false;
    struct Release {
        std::atomic<int>& slot;
        ~Release() { slot = 0; }
    } release{reconnectThread_};

    bool forced = force.IsLogical() && force.Log();
    if (!forced && isConnected()) return true;
    // A connection never connected, or disconnected by the program, connects
    // anew. One whose reconnection is under way has its statements waiting.
    if (Handle == 0 && !reconnecting_) {
        xpp::Value readOnly = isReadOnly;
        return ConnectString.IsNil() ? Connect(xpp::Value(), xpp::Value(), xpp::Value(), readOnly)
                                     : DriverConnect(xpp::Value(), xpp::Value(), xpp::Value(), readOnly);
    }

    std::vector<std::shared_ptr<SQLStatement>> statements = StatementsOf(aStatements);
    for (const auto& s : statements) {
        if (!s->Cargo_.IsArray())
            s->Cargo_ = xpp::Array{s->isPrepared, s->SQLString(), s->Attributes, s->ParamList};
        s->FreeStmt_(SQL_DROP);
        // A handle the driver would not free goes with its connection.
        if (s->Handle != 0) s->SQLStatement::Reset_();
        // So does a cursor's result set: the cursor is closed.
        s->HandleLost_();
    }
    if (Handle != 0) {
        SQLHANDLE old = ToHandle(Handle);
        // The open work of a live session ends with it instead of waiting
        // for the server to notice the closed connection.
        if (manualCommit_ && isConnected())
            OdbcCall<58>(static_cast<SQLSMALLINT>(SQL_HANDLE_DBC), old, static_cast<SQLSMALLINT>(SQL_ROLLBACK_));
        OdbcCall<59>(old);
        OdbcCall<60>(static_cast<SQLSMALLINT>(SQL_HANDLE_DBC), old);
        Handle = 0;
    }
    reconnecting_ = true;

    SQLHANDLE dbc = SQL_NULL_HANDLE;
    ErrorCode = OdbcCall<1>(static_cast<SQLSMALLINT>(SQL_HANDLE_DBC), ToHandle(hEnv()), &dbc);
    if (!Ok(ErrorCode.Int())) {
        DisplayError_(ErrorCode, SQL_HANDLE_ENV, hEnv());
        return false;
    }
    if (timeout.IsNum()) SetOn(dbc, SQL_ATTR_CONNECTION_TIMEOUT, timeout.Int());
    int64_t loginTimeout = ClassObject().Var("LoginTimeout").Int();
    if (loginTimeout != 15) SetOn(dbc, SQL_ATTR_LOGIN_TIMEOUT, loginTimeout);
    if (ConnectString.IsNil()) {
        std::string source = DataSource.Str(), name = UserName.Str(), secret = Password.Str();
        ErrorCode = OdbcCall<2>(dbc, reinterpret_cast<SQLCHAR*>(source.data()), static_cast<SQLSMALLINT>(SQL_NTS),
                                reinterpret_cast<SQLCHAR*>(name.data()), static_cast<SQLSMALLINT>(SQL_NTS),
                                reinterpret_cast<SQLCHAR*>(secret.data()), static_cast<SQLSMALLINT>(SQL_NTS));
    } else {
        std::string text = ConnectString.IsChar() ? ConnectString.Str() : std::string();
        std::string out(1, '\0');
        SQLSMALLINT outLength = 0;
        ErrorCode = OdbcCall<3>(dbc, reinterpret_cast<SQLHWND>(static_cast<intptr_t>(GETDESKTOPHANDLE_())),
                                reinterpret_cast<SQLCHAR*>(text.data()), static_cast<SQLSMALLINT>(text.size()),
                                reinterpret_cast<SQLCHAR*>(out.data()), static_cast<SQLSMALLINT>(0), &outLength,
                                static_cast<SQLUSMALLINT>(SQL_DRIVER_NOPROMPT));
    }
    if (!Ok(ErrorCode.Int())) {
        DisplayError_(ErrorCode, SQL_HANDLE_DBC, FromHandle(dbc));
        // No half-made handle stays behind: the next attempt starts afresh.
        OdbcCall<60>(static_cast<SQLSMALLINT>(SQL_HANDLE_DBC), dbc);
        return false;
    }
    Handle = FromHandle(dbc);
    reconnecting_ = false;
    if (!nTxnIsolation.IsNil()) SetOn(dbc, SQL_ATTR_TXN_ISOLATION, nTxnIsolation.Int());
    if (isReadOnly) SetOn(dbc, SQL_ATTR_ACCESS_MODE, SQL_MODE_READ_ONLY);
    // A transaction goes on in manual-commit mode: what follows must not
    // commit statement by statement.
    if (manualCommit_) SetOn(dbc, SQL_ATTR_AUTOCOMMIT_, 0);

    // A connection lost again while its statements are rebuilt is no
    // reconnection: the statements not rebuilt keep their saved state for
    // the next attempt.
    bool lost = false;
    for (const auto& s : StatementsOf(aStatements)) {
        if (!s->Cargo_.IsArray() || lost) continue;
        xpp::Array saved = s->Cargo_.Arr();
        bool rebuilt = s->AllocHandle_();
        // The attributes go first: a cursor's type and concurrency can only
        // be set before the statement is prepared.
        bool display = s->DisplayErrors;
        s->DisplayErrors = false;
        if (saved.Get(3).IsArray()) {
            for (const xpp::Value& pair : saved.Get(3).Arr().Items())
                s->SetAttribute(pair.Arr().Get(1).Int(), pair.Arr().Get(2));
        }
        s->DisplayErrors = display;
        if (saved.Get(1).IsLogical() && saved.Get(1).Log()) rebuilt = s->Prepare(saved.Get(2)) && rebuilt;
        else s->SQLString(saved.Get(2));
        if (!rebuilt && !isConnected()) {
            lost = true;
            continue;
        }
        s->ParamList = saved.Get(4);
        s->Cargo_ = xpp::Value();
    }
    return !lost;
}

}  // namespace rowxpp
