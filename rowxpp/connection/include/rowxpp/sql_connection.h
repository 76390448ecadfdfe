// SQLConnection: connections to ODBC data sources through the driver
// manager, which the class loads when it is first used.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "xpp/error.h"
#include "xpp/object.h"
#include "xpp/value.h"

namespace rowxpp {

// The library's name and version as runtime errors carry them.
inline constexpr const char* kSubSystem = "RowXpp 3.1.24";
inline constexpr const char* kVersion = "3.1.24";

// Completion types of SQLEndTran.
inline constexpr int SQL_COMMIT_ = 0;
inline constexpr int SQL_ROLLBACK_ = 1;

class SQLStatement;
class SQLSelect;
class SQLDataSet;

class SQLConnection : public xpp::Object {
public:
    // The class object; its first use loads the driver manager (initClass).
    static xpp::Class& ClassObject();
    xpp::Class& classObject() const override { return ClassObject(); }

    // ---- class methods of the driver binding
    // Loads the driver manager (default "ODBC32.DLL"), prepares the call
    // table and allocates the environment. Answers the class object.
    static xpp::Class& LoadDriver(const xpp::Value& fileName = xpp::Value());
    // The class initialisation: the library's start flag, the class
    // variables' first values, then LoadDriver with `fileName`. It runs when
    // the class is made; a later call loads the named driver manager in
    // place of the one loaded.
    static xpp::Class& initClass(const xpp::Value& fileName = xpp::Value());
    // Commits, destroys every connection, frees the environment and
    // unloads; .T. when no driver manager is loaded any more.
    static bool UnloadDriver();
    static bool Close() { return UnloadDriver(); }
    // {name, description} per data source.
    static xpp::Array GetDataSources();
    // {description, attributes} per installed driver; the attributes are
    // "key=value" pairs separated by a character of code 0.
    static xpp::Array GetDrivers();

    // Ends the transactions of every connection of the environment.
    static bool CommitAllTransactions() { return EndAllTransactions_(SQL_COMMIT_); }
    static bool RollbackAllTransactions() { return EndAllTransactions_(SQL_ROLLBACK_); }
    static bool EndAllTransactions_(int completionType);

    // ---- the registry of connections (all threads)
    // A new connection, registered; with a character `dsn` it connects.
    static std::shared_ptr<SQLConnection> New(const xpp::Value& dsn = xpp::Value(),
                                              const xpp::Value& user = xpp::Value(),
                                              const xpp::Value& password = xpp::Value(),
                                              const xpp::Value& readOnly = xpp::Value());
    // The calling thread's first connected connection, else its last one,
    // else null.
    static std::shared_ptr<SQLConnection> FindConnection();
    // Disconnects and unregisters every connection of the calling thread
    // (the thread's end action).
    static void DestroyContext();
    static int64_t EnvHandle() { return hEnv(); }
    // The number of registered connections (all threads).
    static size_t ActiveConnections();

    // ---- instance
    SQLConnection() = default;
    void Init(const xpp::Value& dsn, const xpp::Value& user, const xpp::Value& password,
              const xpp::Value& readOnly);
    void Reset_();
    // Unregisters and disconnects.
    bool Destroy();

    bool Connect(const xpp::Value& dsn = xpp::Value(), const xpp::Value& user = xpp::Value(),
                 const xpp::Value& password = xpp::Value(), const xpp::Value& readOnly = xpp::Value());
    bool DriverConnect(const xpp::Value& window = xpp::Value(), const xpp::Value& connectString = xpp::Value(),
                       const xpp::Value& completion = xpp::Value(), const xpp::Value& readOnly = xpp::Value());
    // Connects through the browse exchange: while the driver needs more,
    // `nextStep` is evaluated with the connection string by reference
    // (holding what the driver still needs) and answers .T. to go on.
    bool BrowseConnect(const xpp::Value& connectString = xpp::Value(), const xpp::Value& nextStep = xpp::Value(),
                       const xpp::Value& readOnly = xpp::Value());
    bool Disconnect();
    bool OpenNewHandle_(void*& dbc);
    bool SetOnNew_(void* dbc, int64_t attribute, int64_t value);
    void RequestReadOnly_(void* dbc, const xpp::Value& readOnly);

    // Driver information and attributes.
    SQLConnection& GetDriverInfo_();
    std::string GetInfo(int64_t type);
    // The driver's native form of `text`; NIL when not connected.
    xpp::Value NativeSQL(const std::string& text, const xpp::Value& size = xpp::Value());
    bool SetAttribute(int64_t attribute, const xpp::Value& value);
    xpp::Value GetAttribute(int64_t attribute, const xpp::Value& asString = xpp::Value());

    // Attributes and transactions.
    int64_t ConnectionTimeout(const xpp::Value& seconds = xpp::Value());
    int64_t TransactionIsolation(const xpp::Value& level = xpp::Value());
    bool isConnected();
    int64_t ReadAttribute_(int64_t attribute);
    // .T./.F. whether the driver has the function `id` (an SQL_API_...
    // number); .F. for what names no function, NIL when not connected.
    xpp::Value isFunction(const xpp::Value& id);
    bool inTransaction();
    bool BeginTransaction() { return SetAttribute(SQL_ATTR_AUTOCOMMIT_, 0); }
    bool EndTransaction();
    bool CommitTransaction() { return EndTransaction_(SQL_COMMIT_); }
    bool RollbackTransaction() { return EndTransaction_(SQL_ROLLBACK_); }
    bool EndTransaction_(int completionType);

    // Reports the diagnostics of a failed call to `onError` while
    // ShowConnErrors and the class's DisplayErrors allow it. Without
    // arguments: ErrorCode on the connection handle.
    std::string DisplayError_(const xpp::Value& returnCode = xpp::Value(), const xpp::Value& handleType = xpp::Value(),
                              const xpp::Value& handle = xpp::Value());

    // The report of the last error without display (a connection without
    // handle shows the "NULL DBC handle" report).
    std::string ErrorMessage();

    // Statements (statement.cpp). AddStatement lists a statement once;
    // DropStatement unlists it, drops its handle and clears it; Execute runs
    // a one-shot statement with `params` (one value or an array) and drops it.
    SQLConnection& AddStatement(const xpp::Value& statement);
    // AddStatement for a statement known not to be listed (new, or kept
    // since its drop).
    void ListStatement_(xpp::Value statement);
    SQLConnection& DropStatement(const xpp::Value& statement);
    size_t ActiveStatements() const { return aStatements.Len(); }
    int64_t Execute(const xpp::Value& text, const xpp::Value& params = xpp::Value());
    std::shared_ptr<SQLStatement> NewStatement(const xpp::Value& text = xpp::Value());
    // The class variable DisplayErrors of this connection's class, which a
    // new statement takes.
    bool DisplayErrors_();
    // A cursor on this connection (concurrency 4 and cursor type 2 when
    // not numeric).
    std::shared_ptr<SQLSelect> Cursor(const xpp::Value& sql = xpp::Value(), const xpp::Value& concurrency = xpp::Value(),
                                      const xpp::Value& cursorType = xpp::Value());
    // A data set on this connection, not filled yet: DataSet(sql, params,
    // primaryKey, maxRows, fields, filter, trimmed, dateTimeAsDate).
    std::shared_ptr<SQLDataSet> DataSet(const xpp::Value& sql = xpp::Value(), const xpp::Value& parameters = xpp::Value(),
                                        const xpp::Value& primaryKey = xpp::Value(),
                                        const xpp::Value& maxRows = xpp::Value(), const xpp::Value& fields = xpp::Value(),
                                        const xpp::Value& filter = xpp::Value(), const xpp::Value& trimmed = xpp::Value(),
                                        const xpp::Value& dateTimeAsDate = xpp::Value());
    // A message of the connection answered by a part of the library above
    // it (the data set's "DataSet"), which adds it from a static object of
    // its own when the library loads. The class takes it when it is made
    // (at once when made already); sent to anything but a connection it is
    // a message that object does not answer.
    using Message_ = std::function<xpp::Value(SQLConnection&, xpp::Args&)>;
    static void AddMessage_(std::string name, Message_ answer);

    // Reconnection (reconnect.cpp): replaces the connection handle by a new
    // one connected with the stored values, never prompting, and rebuilds
    // every statement on it. Only `force` .T. reconnects a live connection;
    // a numeric `timeout` goes to the new handle's connection time-out.
    // Answers .T. when connected again; a connection lost again while its
    // statements are rebuilt answers .F., and the statements not rebuilt
    // keep their saved state for the next attempt.
    bool Reconnect(const xpp::Value& force = xpp::Value(), const xpp::Value& timeout = xpp::Value());
    // True between a failed reconnection attempt and the next success: the
    // statements keep their saved state and Handle is 0.
    bool Reconnecting_() const { return reconnecting_; }
    // True while this thread runs Reconnect or the error handler's loop for
    // this connection.
    bool ReconnectRunsHere_() const;
    // Manual-commit mode as set through SetAttribute (every connect starts
    // in autocommit).
    bool ManualCommit_() const { return manualCommit_; }

    xpp::Array aStatements;
    xpp::Value nTxnIsolation;
    int64_t Handle = 0;
    bool ShowConnErrors = true;
    xpp::Value ErrorCode;
    xpp::Value IdentifierQuoteChar = "";
    xpp::Value IdentifierCase;
    int64_t MaxActiveStatements = 0;
    int64_t MaxActiveConnections = 0;
    int64_t MaxStatementLen = 0;
    int64_t MaxCharLen = 0;
    xpp::Value isTransactionCapable;
    bool isReadOnly = false;
    xpp::Value DataSource = std::string(1, '\0');
    xpp::Value UserName = std::string(1, '\0');
    xpp::Value Password = std::string(1, '\0');
    xpp::Value ConnectString;
    xpp::Value DatabaseName;
    xpp::Value DbmsName;
    xpp::Value DbmsVersion;
    xpp::Value CollationSequence;
    xpp::Value GetDataInOrder;
    xpp::Value isPosDeleteSupported;
    xpp::Value isPosUpdateSupported;
    xpp::Value MultipleResults;
    int ThreadID = 0;
    int64_t BufferSize = 65535;
    xpp::Value onError;
    bool DateTimeAsDate = false;
    xpp::Value Cargo;
    std::string ErrorLogFile = "SQLError.LOG";
    bool RetryDeadlockVictim = true;

    static constexpr int SQL_ATTR_AUTOCOMMIT_ = 102;

    // The threads running Reconnect and the error handler's reconnect loop
    // for this connection (0: none).
    std::atomic<int> reconnectThread_{0};
    std::atomic<int> handlerLoopThread_{0};

private:
    bool reconnecting_ = false;
    bool manualCommit_ = false;
    // DropStatement with the statement at hand (null: `statement` is none).
    SQLConnection& DropStatement_(const xpp::Value& statement, SQLStatement* s);
    // The class's DisplayErrors, which every new statement reads.
    xpp::Class::VarHandle displayErrors_{"DisplayErrors"};

public:

    // ---- class variables
    static int64_t hDll();
    static int64_t hEnv();
    static bool isDriverLoaded();
    static xpp::Array aConnections();
};

// SQLCONNECTION(): the class object.
xpp::Class& SQLCONNECTION();

// GETCONNECTVALUE(): the value of `key` (with its "=") in a connection
// string, "" when absent.
std::string GETCONNECTVALUE(const std::string& connectString, const std::string& key);

// The library's default error handler; the default onError block calls it.
xpp::Value SQLERRORHANDLER(const xpp::Value& owner, const xpp::Value& report, const xpp::Value& returnCode,
                           const xpp::Value& errors);

// SQLERRORLOG(text, file, append): appends `text` and CR LF to `file`
// (default "SQLError.LOG"), or with `append` .F. replaces the file's
// content by the text alone. A busy file is tried 10 times 0.2 seconds
// apart. .T. when written; empty or non-character text gives .F.
bool SQLERRORLOG(const xpp::Value& text, const xpp::Value& file = xpp::Value(),
                 const xpp::Value& append = xpp::Value());

// ISINITIALIZED(): without an argument the library's start flag; with any
// argument sets it and answers .T.
bool ISINITIALIZED();
bool ISINITIALIZED(const xpp::Value& any);

// The EXIT procedure of the library: closes the driver binding when the
// class was initialised. Registered with the runtime when the class is
// first made.
void SQLEXIT();

// The desktop window as a number, asked of the system once per process.
int64_t GETDESKTOPHANDLE_();

// Raises a runtime error of the library (subSystem "RowXpp 3.1.24")
// through the calling thread's error block and answers NIL. `operation`
// defaults to the name of the calling routine.
xpp::Value RAISEERROR_(int subCode, const std::string& description,
                       const xpp::Value& operation = xpp::Value(), int severity = xpp::ES_ERROR);

}  // namespace rowxpp
