// The default error handler of connections and statements, and the error
// log it writes.
#include <string>

#include "rowxpp/flash_hook.h"
#include "rowxpp/sql_connection.h"
#include "rowxpp/sql_error.h"
#include "rowxpp/sql_statement.h"
#include "thread_mark.h"
#include "xpp/files.h"
#include "xpp/functions.h"
#include "xpp/runtime.h"

namespace rowxpp {
namespace {

const char* const kCrLf = "\r\n";

// Opens (or creates) the log file: up to 10 attempts 0.2 seconds apart.
template <class Open>
int64_t Tried(Open open) {
    for (int failures = 0;;) {
        int64_t handle = open();
        if (handle >= 0) return handle;
        if (++failures >= 10) return -1;
        xpp::Sleep(20);
    }
}

}  // namespace

bool SQLERRORLOG(const xpp::Value& text, const xpp::Value& file, const xpp::Value& append) {
    XPP_FRAME("SQLERRORLOG");
    std::string name = file.IsNil() ? std::string("SQLError.LOG") : xpp::Var2Char(file);
    bool appending = append.IsNil() || (append.IsLogical() && append.Log());
    if (!text.IsChar() || text.Str().empty()) return false;
    int64_t handle;
    if (appending && xpp::FExists(name, "-D-S")) {
        handle = Tried([&] { return xpp::FOpen(name, xpp::FO_WRITE | xpp::FO_DENYWRITE); });
        if (handle < 0) return false;
        xpp::FSeek(handle, 0, xpp::FS_END);
    } else {
        handle = Tried([&] { return xpp::FCreate(name); });
        if (handle < 0) return false;
    }
    xpp::FWrite(handle, appending ? text.Str() + kCrLf : text.Str());
    xpp::FClose(handle);
    return true;
}

xpp::Value SQLERRORHANDLER(const xpp::Value& owner, const xpp::Value& report, const xpp::Value& returnCode,
                           const xpp::Value& errors) {
    XPP_FRAME("SQLERRORHANDLER");
    const std::string appLine = xpp::AppName(true) + ", Thread: " + std::to_string(xpp::ThreadID()) + kCrLf;

    std::shared_ptr<SQLConnection> connection;
    std::shared_ptr<SQLStatement> statement;
    std::string statementLines;
    if (owner.IsObject() && owner.Obj()->isDerivedFrom("SQLConnection")) {
        connection = owner.As<SQLConnection>();
    } else if ((statement = owner.As<SQLStatement>())) {
        connection = statement->Connection;
        statementLines = std::string(kCrLf) + kCrLf + "SQLString: " + statement->SQLString();
        if (!xpp::Empty(statement->ParamList))
            statementLines += std::string(kCrLf) + "ParamList: " + xpp::Var2Char(statement->ParamList);
    }
    std::string logFile = connection ? connection->ErrorLogFile : std::string("SQLError.LOG");

    std::string entry = std::string("= SQL ERROR ===========") + kCrLf +
                        "Date: " + xpp::DToS(xpp::Today()) + " " + xpp::Time() + kCrLf + appLine + xpp::OS() +
                        ", RowXpp: " + SQLConnection::ClassObject().Var("Version").Str() +
                        ", Runtime: " + xpp::Version(1) + "." + xpp::Version(2) + "." + xpp::Version(3) + kCrLf +
                        (report.IsChar() ? report.Str() : xpp::Var2Char(report)) + statementLines + kCrLf;
    SQLERRORLOG(entry, logFile);
    Flash(report, returnCode, logFile);

    if (!connection || !errors.IsArray()) return xpp::Value();
    // A connection that had no handle failed to connect: there is nothing
    // to reconnect, and looping would never end. Nor does a loop start
    // inside this thread's own reconnection of the connection.
    if (connection->Handle == 0 || connection->ReconnectRunsHere_()) return xpp::Value();
    // The connection is lost when a record says so: class "08", or a
    // session ended by the server's administrator (57P01, met first by a
    // direct execution). A failure without such a record (a statement made
    // after the loss has no handle) counts when the connection is dead.
    bool lost = xpp::AScan(errors.Arr(), xpp::Block([](xpp::Args& a) -> xpp::Value {
                    auto error = a[1].As<SQLError>();
                    if (!error || !error->SQLState.IsChar()) return false;
                    const std::string& state = error->SQLState.Str();
                    return xpp::Left(state, 2) == "08" || state == "57P01";
                })) > 0;
    if (!lost && connection->isConnected()) return xpp::Value();
    // A transaction lost with its connection was rolled back by the server:
    // running its last statement alone would commit part of it.
    bool wasManual = connection->ManualCommit_();
    {
        ThreadMark mark(connection->handlerLoopThread_);
        connection->ShowConnErrors = false;
        SQLERRORLOG(std::string("*** ATTEMPTING TO RECONNECT ***") + kCrLf, logFile);
        xpp::Sleep(300);
        while (!connection->Reconnect(true)) xpp::Sleep(900);
        SQLERRORLOG(std::string("*** RECONNECTED SUCCESSFULLY *** Date: ") + xpp::DToS(xpp::Today()) +
                        ", Time: " + xpp::Time() + kCrLf + appLine,
                    logFile);
        if (statement && statement->executing_ > 0 && !wasManual) {
            // The execution alone runs again: the failed Execute is still
            // under way and does the rest of its own work (a cursor describes
            // and fetches) once, with this result.
            int64_t again = statement->SQLStatement::Execute(xpp::Args{statement->ParamList});
            statement->reexecuted_ = again;
        }
        connection->ShowConnErrors = true;
    }
    return xpp::Value();
}

}  // namespace rowxpp
