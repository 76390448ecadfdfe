#include "rowxpp/sql_connection.h"

#include <atomic>
#include <mutex>

#include "messages.h"
#include "rowxpp/odbc_calls.h"
#include "rowxpp/sql_error.h"
#include "written.h"
#include "xpp/native.h"
#include "xpp/runtime.h"

namespace rowxpp {
namespace {

std::atomic<bool> initialized{false};

const char* const kCopyright =
    "RowXpp - ODBC connections and statements for Xbase++\r\n"
    "Version 3.1.24\r\n"
    "All rights reserved";

// The library's EXIT procedure is registered once per process, when the
// class is first made.
void RegisterExit() {
    static std::once_flag once;
    std::call_once(once, [] { xpp::AddExitProcedure(&SQLEXIT); });
}

template <int N>
xpp::Array List(SQLSMALLINT firstSize, SQLSMALLINT secondSize) {
    xpp::Array result;
    SQLHENV env = ToHandle(SQLConnection::hEnv());
    std::string first(static_cast<size_t>(firstSize) + 1, ' ');
    std::string second(static_cast<size_t>(secondSize) + 1, ' ');
    SQLUSMALLINT direction = SQL_FETCH_FIRST;
    for (;;) {
        SQLSMALLINT firstLength = 0, secondLength = 0;
        int64_t rc = OdbcCall<N>(env, direction, reinterpret_cast<SQLCHAR*>(first.data()), firstSize,
                                 &firstLength, reinterpret_cast<SQLCHAR*>(second.data()), secondSize,
                                 &secondLength);
        // Only results with data go on: an environment the driver manager
        // does not know (65534) would otherwise be asked for ever.
        if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) return result;
        // A text longer than the buffer arrives cut at what was written.
        result.Add(xpp::Array{Written(first, firstLength, static_cast<size_t>(firstSize)),
                              Written(second, secondLength, static_cast<size_t>(secondSize))});
        direction = SQL_FETCH_NEXT;
    }
}

}  // namespace

xpp::Class& SQLConnection::ClassObject() {
    static xpp::ClassSlot slot;
    return slot.Get("SQLConnection", nullptr, [](xpp::Class& c) {
        c.AddSharedVar("hDll", xpp::Value());
        c.AddSharedVar("aConnections", xpp::Array());
        c.AddSharedVar("isDriverLoaded", false);
        c.AddSharedVar("hEnv", 0);
        c.AddSharedVar("Copyright", kCopyright);
        c.AddSharedVar("Version", kVersion);
        c.AddSharedVar("LoginTimeout", 15);
        c.AddClassVar("DisplayErrors", true);
        c.AddMessage("destroy", [](xpp::Object& o, xpp::Args&) -> xpp::Value {
            return static_cast<SQLConnection&>(o).Destroy();
        });
        c.AddMessage("disconnect", [](xpp::Object& o, xpp::Args&) -> xpp::Value {
            return static_cast<SQLConnection&>(o).Disconnect();
        });
        AddConnectionMessages(c);
        RegisterExit();
        initClass();
    });
}

xpp::Class& SQLConnection::initClass(const xpp::Value& fileName) {
    xpp::Class& cls = ClassObject();
    ISINITIALIZED(true);
    // isDriverLoaded is left to LoadDriver, which unloads a driver manager
    // loaded before: cleared here, a second run would keep the old library
    // and its environment loaded and drop its connections from the registry
    // without closing them.
    cls.SetVar("LoginTimeout", 15);
    cls.SetVar("DisplayErrors", true);
    cls.SetVar("Version", kVersion);
    cls.SetVar("Copyright", kCopyright);
    LoadDriver(fileName);
    return cls;
}

xpp::Class& SQLCONNECTION() { return SQLConnection::ClassObject(); }

int64_t SQLConnection::hDll() { return ClassObject().Var("hDll").Int(); }
int64_t SQLConnection::hEnv() { return ClassObject().Var("hEnv").Int(); }
bool SQLConnection::isDriverLoaded() { return ClassObject().Var("isDriverLoaded").Log(); }
xpp::Array SQLConnection::aConnections() { return ClassObject().Var("aConnections").Arr(); }

xpp::Class& SQLConnection::LoadDriver(const xpp::Value& fileName) {
    XPP_FRAME("SQLCONNECTION:LOADDRIVER");
    xpp::Class& cls = ClassObject();
    UnloadDriver();
    std::string name = fileName.IsChar() ? fileName.Str() : std::string("ODBC32.DLL");
    int64_t dll = xpp::DllLoad(name);
    cls.SetVar("hDll", dll);
    if (dll == 0) {
        // No environment either: the connect methods stop at their first
        // check instead of reporting through an empty call table.
        cls.SetVar("hEnv", 0);
        RAISEERROR_(0, "Unable to open " + name);
        // The program's error block returned: nothing is prepared and no
        // environment is made; calls through the empty table answer 65534.
        return cls;
    }
    PrepareOdbcCalls(dll);
    cls.SetVar("aConnections", xpp::Array());
    cls.SetVar("hEnv", 0);
    SQLHANDLE env = SQL_NULL_HANDLE;
    if (OdbcCall<1>(static_cast<SQLSMALLINT>(SQL_HANDLE_ENV), SQLHANDLE{}, &env) == SQL_SUCCESS) {
        cls.SetVar("hEnv", FromHandle(env));
        OdbcCall<12>(env, static_cast<SQLINTEGER>(SQL_ATTR_ODBC_VERSION),
                     reinterpret_cast<SQLPOINTER>(static_cast<intptr_t>(SQL_OV_ODBC3)),
                     static_cast<SQLINTEGER>(SQL_IS_INTEGER));
        OdbcCall<12>(env, static_cast<SQLINTEGER>(SQL_ATTR_OUTPUT_NTS),
                     reinterpret_cast<SQLPOINTER>(static_cast<intptr_t>(SQL_FALSE)),
                     static_cast<SQLINTEGER>(SQL_IS_INTEGER));
    }
    cls.SetVar("isDriverLoaded", true);
    return cls;
}

bool SQLConnection::UnloadDriver() {
    XPP_FRAME("SQLCONNECTION:UNLOADDRIVER");
    xpp::Class& cls = ClassObject();
    if (cls.Var("isDriverLoaded").Log()) {
        // Open work is committed at a normal end; a program ended by an
        // error leaves nothing half done behind.
        if (xpp::AppEndedByError()) RollbackAllTransactions();
        else CommitAllTransactions();
        for (const xpp::Value& connection : aConnections().Items()) {
            if (!connection.IsNil()) xpp::Send(connection, "destroy");
        }
        if (OdbcCall<60>(static_cast<SQLSMALLINT>(SQL_HANDLE_ENV), ToHandle(hEnv())) == SQL_SUCCESS) {
            cls.SetVar("aConnections", xpp::Array());
            if (xpp::DllUnload(hDll())) {
                PrepareOdbcCalls(0);
                cls.SetVar("hDll", 0);
                cls.SetVar("isDriverLoaded", false);
            }
        }
    }
    return !cls.Var("isDriverLoaded").Log();
}

bool SQLConnection::EndAllTransactions_(int completionType) {
    XPP_FRAME("SQLCONNECTION:__ENDALLTRANSACTIONS");
    int64_t rc = OdbcCall<58>(static_cast<SQLSMALLINT>(SQL_HANDLE_ENV), ToHandle(hEnv()),
                              static_cast<SQLSMALLINT>(completionType));
    // Shown straight away, never through a connection's onError.
    if (rc != SQL_SUCCESS && ClassObject().Var("DisplayErrors").Log())
        DISPLAYERROR_(rc, SQL_HANDLE_ENV, hEnv(), true, xpp::Value(), xpp::Value());
    return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO;
}

xpp::Array SQLConnection::GetDataSources() { return List<5>(254, 254); }
xpp::Array SQLConnection::GetDrivers() { return List<6>(254, 1023); }

bool ISINITIALIZED() { return initialized.load(); }
bool ISINITIALIZED(const xpp::Value&) {
    initialized = true;
    return true;
}

void SQLEXIT() {
    xpp::Block kept = xpp::ErrorBlock(xpp::Block([](xpp::Args&) -> xpp::Value { xpp::Break(); }));
    try {
        if (ISINITIALIZED()) xpp::Send(ClassValue(SQLCONNECTION()), "close");
    } catch (const xpp::BreakException&) {
    }
    xpp::ErrorBlock(kept);
}

int64_t GETDESKTOPHANDLE_() {
    static const int64_t desktop = xpp::DllCall("USER32.DLL", xpp::DLL_STDCALL, "GetDesktopWindow").Int();
    return desktop;
}

xpp::Value RAISEERROR_(int subCode, const std::string& description, const xpp::Value& operation, int severity) {
    XPP_FRAME("__RAISEERROR");
    auto e = xpp::Error::New();
    e->subSystem = kSubSystem;
    e->subCode = subCode;
    e->description = description;
    e->operation = operation.IsNil() ? xpp::Value(xpp::ProcName(1)) : operation;
    e->severity = severity;
    xpp::Eval(xpp::ErrorBlock(), {xpp::Value(e)});
    return xpp::Value();
}

}  // namespace rowxpp
