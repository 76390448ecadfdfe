// SQLConnection: connections to ODBC data sources through the driver
// manager, which the class loads when it is first used.
#pragma once

#include <cstdint>
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

class SQLConnection : public xpp::Object {
public:
    // The class object; its first use loads the driver manager (initClass).
    static xpp::Class& ClassObject();
    xpp::Class& classObject() const override { return ClassObject(); }

    // ---- class methods of the driver binding
    // Loads the driver manager (default "ODBC32.DLL"), prepares the call
    // table and allocates the environment. Answers the class object.
    static xpp::Class& LoadDriver(const xpp::Value& fileName = xpp::Value());
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

    // ---- class variables
    static int64_t hDll();
    static int64_t hEnv();
    static bool isDriverLoaded();
    static xpp::Array aConnections();
};

// SQLCONNECTION(): the class object.
xpp::Class& SQLCONNECTION();

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
