// Sends by name to SQLConnection: programs, error handlers and the other
// classes of the library reach a connection's members, and the class's, by
// their names (without regard to case).
#include "messages.h"

#include <string>
#include <type_traits>
#include <vector>

#include "rowxpp/sql_connection.h"
#include "rowxpp/sql_statement.h"
#include "xpp/error.h"

namespace rowxpp {
namespace {

using Args = xpp::Args;
using Value = xpp::Value;

// A message answered by connections only: sent to anything else (the class
// object, say) it is a message that object does not answer.
template <class F>
void OnConnection(xpp::Class& c, const std::string& name, F answer) {
    c.AddMessage(name, [name, answer](xpp::Object& o, Args& a) -> Value {
        auto* self = dynamic_cast<SQLConnection*>(&o);
        if (self == nullptr) return xpp::RuntimeError(xpp::EG_NOMETHOD, 1004, name, xpp::Array{Value(o.shared_from_this())});
        return answer(*self, a);
    });
}

// A class method: answered the same by the class object and by connections.
template <class F>
void OnClass(xpp::Class& c, const std::string& name, F answer) {
    c.AddMessage(name, [answer](xpp::Object&, Args& a) -> Value { return answer(a); });
}

template <class T>
bool Fits(const Value& v) {
    if constexpr (std::is_same_v<T, bool>) return v.IsLogical();
    else if constexpr (std::is_same_v<T, std::string>) return v.IsChar();
    else if constexpr (std::is_same_v<T, Value>) return true;
    else return v.IsNum();
}

template <class T>
T From(const Value& v) {
    if constexpr (std::is_same_v<T, bool>) return v.Log();
    else if constexpr (std::is_same_v<T, std::string>) return v.Str();
    else if constexpr (std::is_same_v<T, Value>) return v;
    else return static_cast<T>(v.Int());
}

// An instance variable: its name reads it; when `assignable`, "_" + name
// with one argument assigns it. A value of a type the variable cannot hold
// is refused with an argument error and the variable keeps its value.
template <class T>
void Variable(xpp::Class& c, const std::string& name, T SQLConnection::*member, bool assignable) {
    OnConnection(c, name, [member](SQLConnection& self, Args&) { return Value(self.*member); });
    if (!assignable) return;
    const std::string assign = "_" + name;
    OnConnection(c, assign, [member, assign](SQLConnection& self, Args& a) -> Value {
        Value v = a[1];
        if (!Fits<T>(v)) return xpp::RuntimeError(xpp::EG_ARG, 1001, assign, xpp::Array{v});
        self.*member = From<T>(v);
        return v;
    });
}

// A class variable, read and assigned through the receiver's class.
void ClassVariable(xpp::Class& c, const std::string& name, bool assignable) {
    c.AddMessage(name, [name](xpp::Object& o, Args&) { return o.classObject().Var(name); });
    if (!assignable) return;
    c.AddMessage("_" + name, [name](xpp::Object& o, Args& a) {
        o.classObject().SetVar(name, a[1]);
        return a[1];
    });
}

struct AddedMessage {
    std::string name;
    SQLConnection::Message_ answer;
};

// The messages the layers above add, and the class once made; both under
// the runtime's class lock.
std::vector<AddedMessage>& AddedMessages() {
    static std::vector<AddedMessage> added;
    return added;
}
xpp::Class*& MadeClass() {
    static xpp::Class* made = nullptr;
    return made;
}

}  // namespace

void SQLConnection::AddMessage_(std::string name, Message_ answer) {
    auto lock = xpp::ClassLock();
    if (MadeClass() != nullptr) OnConnection(*MadeClass(), name, answer);
    AddedMessages().push_back(AddedMessage{std::move(name), std::move(answer)});
}

Value ClassValue(xpp::Class& c) { return Value(c.shared_from_this()); }

void AddConnectionMessages(xpp::Class& c) {
    // ---- the class
    OnClass(c, "new", [](Args& a) { return Value(SQLConnection::New(a[1], a[2], a[3], a[4])); });
    OnClass(c, "LoadDriver", [](Args& a) { return ClassValue(SQLConnection::LoadDriver(a[1])); });
    OnClass(c, "UnloadDriver", [](Args&) { return Value(SQLConnection::UnloadDriver()); });
    OnClass(c, "Close", [](Args&) { return Value(SQLConnection::Close()); });
    OnClass(c, "GetDataSources", [](Args&) { return Value(SQLConnection::GetDataSources()); });
    OnClass(c, "GetDrivers", [](Args&) { return Value(SQLConnection::GetDrivers()); });
    OnClass(c, "FindConnection", [](Args&) { return Value(SQLConnection::FindConnection()); });
    OnClass(c, "DestroyContext", [](Args&) {
        SQLConnection::DestroyContext();
        return ClassValue(SQLConnection::ClassObject());
    });
    OnClass(c, "CommitAllTransactions", [](Args&) { return Value(SQLConnection::CommitAllTransactions()); });
    OnClass(c, "RollbackAllTransactions", [](Args&) { return Value(SQLConnection::RollbackAllTransactions()); });
    OnClass(c, "EnvHandle", [](Args&) { return Value(SQLConnection::EnvHandle()); });
    OnClass(c, "ActiveConnections", [](Args&) { return Value(SQLConnection::ActiveConnections()); });
    ClassVariable(c, "hEnv", false);
    ClassVariable(c, "Copyright", false);
    ClassVariable(c, "Version", false);
    ClassVariable(c, "LoginTimeout", true);
    ClassVariable(c, "DisplayErrors", true);

    // ---- connecting, information, attributes, transactions
    OnConnection(c, "Connect", [](SQLConnection& s, Args& a) { return Value(s.Connect(a[1], a[2], a[3], a[4])); });
    OnConnection(c, "DriverConnect",
                 [](SQLConnection& s, Args& a) { return Value(s.DriverConnect(a[1], a[2], a[3], a[4])); });
    OnConnection(c, "BrowseConnect",
                 [](SQLConnection& s, Args& a) { return Value(s.BrowseConnect(a[1], a[2], a[3])); });
    OnConnection(c, "Disconnect", [](SQLConnection& s, Args&) { return Value(s.Disconnect()); });
    OnConnection(c, "Destroy", [](SQLConnection& s, Args&) { return Value(s.Destroy()); });
    OnConnection(c, "GetInfo", [](SQLConnection& s, Args& a) { return Value(s.GetInfo(a[1].Int())); });
    OnConnection(c, "NativeSQL", [](SQLConnection& s, Args& a) { return s.NativeSQL(a[1].Str(), a[2]); });
    OnConnection(c, "SetAttribute", [](SQLConnection& s, Args& a) { return Value(s.SetAttribute(a[1].Int(), a[2])); });
    OnConnection(c, "GetAttribute", [](SQLConnection& s, Args& a) { return s.GetAttribute(a[1].Int(), a[2]); });
    OnConnection(c, "isFunction", [](SQLConnection& s, Args& a) { return s.isFunction(a[1]); });
    OnConnection(c, "ErrorMessage", [](SQLConnection& s, Args&) { return Value(s.ErrorMessage()); });
    OnConnection(c, "ConnectionTimeout", [](SQLConnection& s, Args&) { return Value(s.ConnectionTimeout()); });
    OnConnection(c, "_ConnectionTimeout",
                 [](SQLConnection& s, Args& a) { return Value(s.ConnectionTimeout(a[1])); });
    OnConnection(c, "TransactionIsolation", [](SQLConnection& s, Args&) { return Value(s.TransactionIsolation()); });
    OnConnection(c, "_TransactionIsolation",
                 [](SQLConnection& s, Args& a) { return Value(s.TransactionIsolation(a[1])); });
    OnConnection(c, "isConnected", [](SQLConnection& s, Args&) { return Value(s.isConnected()); });
    OnConnection(c, "inTransaction", [](SQLConnection& s, Args&) { return Value(s.inTransaction()); });
    OnConnection(c, "AddStatement", [](SQLConnection& s, Args& a) {
        s.AddStatement(a[1]);
        return Value(s.shared_from_this());
    });
    OnConnection(c, "DropStatement", [](SQLConnection& s, Args& a) {
        s.DropStatement(a[1]);
        return Value(s.shared_from_this());
    });
    OnConnection(c, "ActiveStatements",
                 [](SQLConnection& s, Args&) { return Value(static_cast<int64_t>(s.ActiveStatements())); });
    OnConnection(c, "Execute", [](SQLConnection& s, Args& a) { return Value(s.Execute(a[1], a[2])); });
    OnConnection(c, "NewStatement", [](SQLConnection& s, Args& a) { return Value(s.NewStatement(a[1])); });
    OnConnection(c, "BeginTransaction", [](SQLConnection& s, Args&) { return Value(s.BeginTransaction()); });
    OnConnection(c, "EndTransaction", [](SQLConnection& s, Args&) { return Value(s.EndTransaction()); });
    OnConnection(c, "CommitTransaction", [](SQLConnection& s, Args&) { return Value(s.CommitTransaction()); });
    OnConnection(c, "RollbackTransaction", [](SQLConnection& s, Args&) { return Value(s.RollbackTransaction()); });

    // ---- exported variables; the read-only ones answer reads only
    Variable(c, "Handle", &SQLConnection::Handle, false);
    Variable(c, "ShowConnErrors", &SQLConnection::ShowConnErrors, true);
    Variable(c, "ErrorCode", &SQLConnection::ErrorCode, false);
    Variable(c, "IdentifierQuoteChar", &SQLConnection::IdentifierQuoteChar, true);
    Variable(c, "IdentifierCase", &SQLConnection::IdentifierCase, false);
    Variable(c, "MaxActiveStatements", &SQLConnection::MaxActiveStatements, false);
    Variable(c, "MaxActiveConnections", &SQLConnection::MaxActiveConnections, false);
    Variable(c, "MaxStatementLen", &SQLConnection::MaxStatementLen, false);
    Variable(c, "MaxCharLen", &SQLConnection::MaxCharLen, false);
    Variable(c, "isTransactionCapable", &SQLConnection::isTransactionCapable, false);
    Variable(c, "isReadOnly", &SQLConnection::isReadOnly, false);
    Variable(c, "DataSource", &SQLConnection::DataSource, false);
    Variable(c, "UserName", &SQLConnection::UserName, false);
    Variable(c, "Password", &SQLConnection::Password, false);
    Variable(c, "ConnectString", &SQLConnection::ConnectString, false);
    Variable(c, "DatabaseName", &SQLConnection::DatabaseName, false);
    Variable(c, "DbmsName", &SQLConnection::DbmsName, false);
    Variable(c, "DbmsVersion", &SQLConnection::DbmsVersion, false);
    Variable(c, "CollationSequence", &SQLConnection::CollationSequence, false);
    Variable(c, "GetDataInOrder", &SQLConnection::GetDataInOrder, false);
    Variable(c, "isPosDeleteSupported", &SQLConnection::isPosDeleteSupported, false);
    Variable(c, "isPosUpdateSupported", &SQLConnection::isPosUpdateSupported, false);
    Variable(c, "MultipleResults", &SQLConnection::MultipleResults, false);
    Variable(c, "ThreadID", &SQLConnection::ThreadID, false);
    Variable(c, "BufferSize", &SQLConnection::BufferSize, true);
    Variable(c, "onError", &SQLConnection::onError, true);
    Variable(c, "DateTimeAsDate", &SQLConnection::DateTimeAsDate, true);
    Variable(c, "Cargo", &SQLConnection::Cargo, true);
    Variable(c, "ErrorLogFile", &SQLConnection::ErrorLogFile, true);
    Variable(c, "RetryDeadlockVictim", &SQLConnection::RetryDeadlockVictim, true);

    // ---- the messages of the layers above
    auto lock = xpp::ClassLock();
    for (const AddedMessage& m : AddedMessages()) OnConnection(c, m.name, m.answer);
    MadeClass() = &c;
}

}  // namespace rowxpp
