// The replication of changed rows into the ODBC database named by the
// program. Each thread keeps one connection and one reusable statement (in
// the connection's Cargo); a row change goes out as a DELETE, an UPDATE or
// an INSERT keyed by the column "_RECNO", character and memo values bound
// as parameters. No failure here changes the result of the database
// function that sent the row; each change that could not be sent leaves
// its line in the log.
#include <rowxpp/sql_connection.h>
#include <rowxpp/sql_error.h>
#include <rowxpp/sql_statement.h>

#include "current.h"
#include "qelxpp/testing.h"

namespace qelxpp {

using namespace detail;

namespace detail {

namespace {

const char* const kCrLf = "\r\n";
// A failed connect is tried again on a change made this long after it; so
// is a failed reconnection of a lost connection.
constexpr double kConnectRetrySeconds = 5;
// The wait before a lost connection is connected again, in the runtime's
// 1/100 s, and the longest the attempt may take, in seconds: together
// about 5 s.
constexpr int kReconnectPause = 300;
constexpr int64_t kReconnectTimeout = 2;

// Per row of the module state (per connection): whether the statement
// running met a lost connection, and when the last reconnection of the
// connection failed.
struct Loss {
    bool met = false;
    bool failedBefore = false;
    double failedAt = 0;
};
Loss& LossOf(int rowNumber) {
    static std::array<Loss, kMaxThreads> losses;
    return losses[static_cast<size_t>(std::clamp(rowNumber, 1, kMaxThreads) - 1)];
}

testing::ReplicationStatementMaker& StatementMaker() {
    static testing::ReplicationStatementMaker maker;
    return maker;
}

// Seconds on the runtime's clock, across midnight.
double ClockSeconds() { return static_cast<double>(xpp::Today().Julian()) * 86400 + xpp::Seconds().Dbl(); }

const char* KindWord(int64_t kind) {
    switch (kind) {
        case 1: return "DELETE";
        case 2: return "UPDATE";
        case 3: return "INSERT";
        case 4: return "ZAP";
        default: return "?";
    }
}

// The line of a change that was not sent.
void LogUnsent(const Value& cTable, int64_t kind, const std::string& recNo, const std::string& why) {
    QELERRORLOG(xpp::Var2Char(cTable) + " " + KindWord(kind) + " RecNo: " + recNo + kCrLf + why);
}

// A lost connection: a connection exception, or the server's end of the
// session (an administrator's shutdown or a terminated backend, which
// psqlODBC reports on the first statement after it).
bool IsLostConnection(const Value& errors) {
    for (const Value& e : errors.Arr().Items()) {
        auto error = e.As<rowxpp::SQLError>();
        if (!error || !error->SQLState.IsChar()) continue;
        const std::string state = error->SQLState.Str();
        if (xpp::Left(state, 2) == "08" || state == "57P01") return true;
    }
    return false;
}

// One attempt to connect a lost connection again, unless one failed less
// than kConnectRetrySeconds ago; the attempt and its lines in the log. The
// program is never held longer than the pause and one bounded attempt.
bool ReconnectOnce(rowxpp::SQLConnection& conn, int rowNumber, bool pause) {
    Loss& loss = LossOf(rowNumber);
    if (loss.failedBefore && ClockSeconds() - loss.failedAt < kConnectRetrySeconds) return false;
    const std::string appLine = std::string("App: ") + xpp::AppName(true) + ", Thread: " + NumText(xpp::ThreadID()) + kCrLf;
    conn.ShowConnErrors = false;
    QELERRORLOG(std::string("*** ATTEMPTING TO RECONNECT ***") + kCrLf);
    if (pause) xpp::Sleep(kReconnectPause);
    // The login of the attempt is bounded as well: the class's login
    // timeout is the attempt's for its duration.
    xpp::Class& cls = rowxpp::SQLConnection::ClassObject();
    const Value loginTimeout = cls.Var("LoginTimeout");
    cls.SetVar("LoginTimeout", kReconnectTimeout);
    const bool ok = conn.Reconnect(true, kReconnectTimeout);
    cls.SetVar("LoginTimeout", loginTimeout);
    conn.ShowConnErrors = true;
    loss.failedBefore = !ok;
    if (!ok) {
        loss.failedAt = ClockSeconds();
        QELERRORLOG(std::string("*** RECONNECT FAILED *** Date: ") + xpp::DToS(xpp::Today()) + ", Time: " + xpp::Time() +
                    kCrLf + appLine);
        return false;
    }
    QELERRORLOG(std::string("*** RECONNECTED SUCCESSFULLY *** Date: ") + xpp::DToS(xpp::Today()) +
                ", Time: " + xpp::Time() + kCrLf + appLine);
    return true;
}

// The error handler of the replication connection and its statement: the
// error goes to the log; a lost connection is connected again once, and
// the statement whose execution met the loss runs once more. A failed
// attempt leaves the connection without a handle: the next change makes
// the next attempt (REPLICATEROW), not this handler.
void ReplicationErrorHandler(const std::shared_ptr<rowxpp::SQLConnection>& conn, int rowNumber, const Value& owner,
                             const Value& error, const Value& errors) {
    std::string text = error.IsChar() ? error.Str() : xpp::Var2Char(error);
    auto stmt = owner.As<rowxpp::SQLStatement>();
    if (stmt) text += kCrLf + stmt->SQLString();
    const std::string appLine = std::string("App: ") + xpp::AppName(true) + ", Thread: " + NumText(xpp::ThreadID()) + kCrLf;
    QELERRORLOG(std::string("= REPLICATION ERROR ==========") + kCrLf + "Date: " + xpp::DToS(xpp::Today()) +
                ", Time: " + xpp::Time() + kCrLf + appLine + text + kCrLf);
    if (!conn || !errors.IsArray() || !IsLostConnection(errors)) return;
    LossOf(rowNumber).met = true;
    // Nothing to reconnect on a connection that never had a handle, nor
    // inside this thread's own reconnection of it.
    if (conn->Handle == 0 || conn->ReconnectRunsHere_()) return;
    if (!ReconnectOnce(*conn, rowNumber, true)) return;
    if (stmt && stmt->executing_ > 0) stmt->reexecuted_ = stmt->Execute(xpp::Args{stmt->ParamList});
}

// The thread's connection and statement, made on its first change. A
// failed connect is reported once per process and tried again on a change
// made at least kConnectRetrySeconds later.
std::shared_ptr<rowxpp::SQLConnection> ConnectionOf(ThreadRow& row, std::string& why) {
    if (auto conn = row.replConnection.As<rowxpp::SQLConnection>()) return conn;
    ModuleState& s = State();
    {
        std::lock_guard<std::mutex> g(s.replLock);
        if (s.lReplConnectFailed && ClockSeconds() - s.replFailedAt < kConnectRetrySeconds) {
            why = "Can't connect to ODBC replication database!";
            return nullptr;
        }
    }
    rowxpp::SQLConnection::ClassObject().SetVar("DisplayErrors", false);
    auto conn = rowxpp::SQLConnection::New();
    conn->DriverConnect(Value(), s.cReplConnString, 0);
    if (!conn->isConnected()) {
        bool first = false;
        {
            std::lock_guard<std::mutex> g(s.replLock);
            first = !s.replErrorShown;
            s.replErrorShown = true;
            s.lReplConnectFailed = true;
            s.replFailedAt = ClockSeconds();
        }
        if (first) QELSHOWERROR(-800, "Can't connect to ODBC replication database!");
        conn->Destroy();
        why = "Can't connect to ODBC replication database!";
        return nullptr;
    }
    std::weak_ptr<rowxpp::SQLConnection> weak = conn;
    const int rowNumber = RowNumber(row);
    conn->onError = xpp::Block([weak, rowNumber](xpp::Args& a) -> Value {
        ReplicationErrorHandler(weak.lock(), rowNumber, a[1], a[2], a[4]);
        return {};
    });
    auto stmt = StatementMaker() ? StatementMaker()(conn) : rowxpp::SQLStatement::New(Value(), Value(conn));
    // The class-wide switch keeps the connection silent; the statement's
    // own errors reach the handler above, which logs them and reconnects.
    stmt->DisplayErrors = true;
    conn->Cargo = Value(stmt);
    row.replConnection = Value(conn);
    std::lock_guard<std::mutex> g(s.replLock);
    s.lReplConnectFailed = false;
    if (s.cQuoteChar.IsNil()) s.cQuoteChar = conn->IdentifierQuoteChar;
    return conn;
}

// The text of one field of the current record that stands for it in a
// statement: a literal, NULL, or "?" with the value appended to `params`.
bool FIELDGETSPECIAL(ThreadRow& row, KIVHANDLE table, const std::string& name, const std::string& type,
                     int64_t engType, int64_t fieldLen, xpp::Array& params, std::string& value) {
    value = "NULL";
    uint32_t len = static_cast<uint32_t>(fieldLen);
    if (engType == KIV_FT_MEMO || engType == KIV_FT_VARCHAR) {
        if (KIV_UNRECORDED(row, KivGetMemoLength, table, name.c_str(), &len) != 0) return false;
    } else if (engType == KIV_FT_BINARY || engType == KIV_FT_IMAGE) {
        if (KIV_UNRECORDED(row, KivGetBinaryLength, table, name.c_str(), &len) != 0) return false;
    }
    std::string buf(static_cast<size_t>(len) + 32, ' ');
    len = static_cast<uint32_t>(buf.size());
    if (KIV_UNRECORDED(row, KivGetField, table, name.c_str(), buf.data(), &len, uint16_t{0}) != 0) return false;
    const std::string text = buf.substr(0, std::min<size_t>(len, buf.size()));
    const bool empty = xpp::Empty(Value(text));
    if (type == "C" || type == "V") {
        if (empty) return false;
        params.Add(Value(xpp::Trim(text)));
        value = "?";
    } else if (type == "M") {
        if (empty) return false;
        const int64_t n = static_cast<int64_t>(text.size());
        params.Add(Value(rowxpp::SQLValue::New(text, -1, 1, n, 0, n)));
        value = "?";
    } else if (type == "N" || type == "F" || type == "I" || type == "R" || type == "Y" || type == "A") {
        value = empty ? std::string("0") : xpp::LTrim(text);
    } else if (type == "L") {
        value = text == "T" ? "1" : "0";
    } else if (type == "D") {
        if (empty) return false;
        value = "{d '" + text.substr(0, 4) + "-" + text.substr(4, 2) + "-" + xpp::Right(text, 2) + "'}";
    } else {
        return false;
    }
    return true;
}

// The UPDATE and the INSERT of the current row, in one pass over the
// structure; both carry the "?" markers of the same fields in one order.
void BUILDSQLSTATEMENT(ThreadRow& row, KIVHANDLE table, const std::string& cTable, const xpp::Array& aStruct,
                       const std::string& q, const std::string& cRecNo, xpp::Array& params, std::string& cUpdate,
                       std::string& cInsert) {
    cInsert = "INSERT INTO " + q + cTable + q + "(" + q + "_RECNO" + q;
    std::string cValues = ") VALUES (" + cRecNo;
    cUpdate = "UPDATE " + q + cTable + q + " SET ";
    std::string sep;
    for (const Value& f : aStruct.Items()) {
        xpp::Array field = f.Arr();
        const std::string name = field.Get(FLD_NAME).Str();
        std::string value;
        if (FIELDGETSPECIAL(row, table, name, field.Get(FLD_TYPE).Str(), field.Get(FLD_ENGTYPE).Int(),
                            field.Get(FLD_LEN).Int(), params, value)) {
            cInsert += "," + q + name + q;
            cValues += "," + value;
        }
        cUpdate += sep + q + name + q + "=" + value;
        sep = ",";
    }
    cUpdate += " WHERE " + q + "_RECNO" + q + "=" + cRecNo;
    cInsert += cValues + ")";
}

}  // namespace

Value REPLICATEROW(int nThread, int64_t nKind, const Value& cTable, int64_t nRecNo) {
    ThreadRow* row = RowOf(nThread);
    return row ? REPLICATEROW(*row, nKind, cTable, nRecNo) : Value(false);
}

Value REPLICATEROW(ThreadRow& row, int64_t nKind, const Value& cTable, int64_t nRecNo) {
    const int rowNumber = RowNumber(row);
    std::lock_guard<std::recursive_mutex> hold(row.lock);
    const std::string cRecNo = NumText(nRecNo);
    if (nKind < 1 || nKind > 4) return false;
    std::string why;
    auto conn = ConnectionOf(row, why);
    if (!conn) {
        LogUnsent(cTable, nKind, cRecNo, why);
        return false;
    }
    auto stmt = conn->Cargo.As<rowxpp::SQLStatement>();
    if (!stmt) return false;
    // A connection whose reconnection failed has no handle: this change
    // makes the next attempt when one is due, else it is logged at once.
    if (conn->Handle == 0 && !ReconnectOnce(*conn, rowNumber, false)) {
        LogUnsent(cTable, nKind, cRecNo, "The connection to the replication database is lost");
        return false;
    }
    std::string q;
    {
        std::lock_guard<std::mutex> g(State().replLock);
        q = State().cQuoteChar.IsChar() ? State().cQuoteChar.Str() : std::string();
    }
    const std::string table = xpp::Var2Char(cTable);
    const std::string cDelete = "DELETE FROM " + q + table + q + " WHERE " + q + "_RECNO" + q + "=" + cRecNo;
    // A failure is logged with the change it belongs to; the statement gets
    // a fresh handle for the next one.
    auto failed = [&](int64_t kind) {
        LogUnsent(cTable, kind, cRecNo, stmt->ErrorMessage());
        stmt->Reset();
        return Value(false);
    };
    xpp::Array params;
    Loss& loss = LossOf(rowNumber);
    // One execution; `lost` tells whether it met a lost connection (and
    // then ran again after a reconnection, unless it failed).
    bool lost = false;
    auto run = [&](const std::string& sql, bool withParams) {
        stmt->SQLString(Value(sql));
        loss.met = false;
        const int64_t r = withParams ? stmt->Execute(xpp::Args{Value(params)}) : stmt->Execute();
        lost = loss.met;
        loss.met = false;
        return r;
    };
    // A statement that failed on a lost connection ends the change: what
    // the server did with it is not known.
    auto endedByLoss = [&](int64_t r) { return r == rowxpp::kExecFailed && lost; };
    if (nKind == 1 || nKind == 4) {
        return run(nKind == 1 ? cDelete : "DELETE FROM " + q + table + q, false) == rowxpp::kExecFailed ? failed(nKind)
                                                                                                        : Value(true);
    }
    std::string cUpdate, cInsert;
    const Value& slot = row.areas[CurrentArea(row) - 1];
    if (slot.IsNil()) return false;
    xpp::Array area = slot.Arr();
    int64_t kind = nKind;
    if (nKind == 2) {
        BUILDSQLSTATEMENT(row, TableOf(area), table, area.Get(WA_STRUCT).Arr(), q, cRecNo, params, cUpdate, cInsert);
        int64_t r = run(cUpdate, true);
        if (r > 0) return true;
        if (endedByLoss(r)) return failed(kind);
        // Success without a row count says nothing about the row: it is
        // sent whole, as a new row replacing any with its number.
        if ((r == rowxpp::kExecNoCount || r == rowxpp::kExecInfoNoCount) && endedByLoss(run(cDelete, false)))
            return failed(kind);
    } else {
        if (endedByLoss(run(cDelete, false))) return failed(kind);
        BUILDSQLSTATEMENT(row, TableOf(area), table, area.Get(WA_STRUCT).Arr(), q, cRecNo, params, cUpdate, cInsert);
    }
    if (run(cInsert, true) == rowxpp::kExecFailed) return failed(kind);
    // An insert run again after a reconnection may have been stored by the
    // server already: the row is sent once more behind the delete of its
    // number.
    if (lost && (run(cDelete, false) == rowxpp::kExecFailed || run(cInsert, true) == rowxpp::kExecFailed))
        return failed(kind);
    return true;
}

void SendRecords(ThreadRow& row, const xpp::Array& rec, int64_t from, bool zapFirst) {
    if (!rec.Get(WA_REPLICATE).Log()) return;
    const KIVHANDLE table = TableOf(rec);
    uint32_t count = 0, current = 0;
    if (KIV_UNRECORDED(row, KivGetRecordCount, table, uint16_t{2}, &count) != 0) return;
    KIV_UNRECORDED(row, KivGetRecordNum, table, uint16_t{2}, &current);
    if (zapFirst) REPLICATEROW(row, 4, rec.Get(WA_TABLENAME), 0);
    // A deleted record (hidden, the pointer then at end of file, or shown)
    // has no row in the replica.
    for (int64_t n = std::max<int64_t>(from, 1); n <= count; ++n) {
        if (KIV_UNRECORDED(row, KivGotoRecord, table, static_cast<uint32_t>(n)) != 0) continue;
        uint16_t atEnd = 0, deleted = 0;
        const bool live = KIV_UNRECORDED(row, KivAtEOF, table, &atEnd) == 0 && atEnd == 0 &&
                          KIV_UNRECORDED(row, KivIsRecordDeleted, table, &deleted) == 0 && deleted == 0;
        REPLICATEROW(row, live ? 3 : 1, rec.Get(WA_TABLENAME), n);
    }
    if (current >= 1 && current <= count)
        KIV_UNRECORDED(row, KivGotoRecord, table, current);
    else
        KIV_UNRECORDED(row, KivGotoTop, NavOf(rec));
}

// Ends the thread's replication connection (at the thread's end, after its
// tables were closed and their changes sent).
void DropReplication(ThreadRow& row) {
    if (auto conn = row.replConnection.As<rowxpp::SQLConnection>()) {
        conn->onError = Value();
        conn->Cargo = Value();
        conn->Destroy();
    }
    row.replConnection = Value();
    LossOf(RowNumber(row)) = Loss();
}

}  // namespace detail

Value QELSQLREPLICATE(const Value& cName) {
    xpp::Frame frame("QELSQLREPLICATE", 0);
    xpp::Array& list = State().aReplAliases;
    if (cName.IsChar()) {
        const std::string name = xpp::Upper(xpp::AllTrim(cName.Str()));
        bool found = false;
        for (const Value& v : list.Items()) found = found || (v.IsChar() && v.Str() == name);
        if (!found) list.Add(Value(name));
    }
    return Value(list);
}

Value QELSQLREPLICATECONNECTION(const Value& cConnect) {
    xpp::Frame frame("QELSQLREPLICATECONNECTION", 0);
    if (cConnect.IsChar()) State().cReplConnString = cConnect;
    return State().cReplConnString;
}

namespace testing {

void SetReplicationStatementMaker(ReplicationStatementMaker maker) { StatementMaker() = std::move(maker); }

}  // namespace testing

}  // namespace qelxpp
