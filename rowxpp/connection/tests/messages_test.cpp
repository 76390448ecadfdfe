// Sends by name to SQLConnection and to its class object, on connections to
// the real data sources.
#include <gtest/gtest.h>

#include "kiv_odbc_testing/admin_connection.h"
#include "rowxpp/odbc_calls.h"
#include "rowxpp/sql_connection.h"
#include "rowxpp/sql_error.h"
#include "test_support.h"
#include "xpp/object.h"

using namespace rowxpp;
using kivodbc::testing::TestDataSources;
using rowxpp_test::CapturedErrors;
using rowxpp_test::Loaded;
using xpp::Send;
using xpp::Value;

namespace {

Value ClassObjectValue() { return Value(SQLCONNECTION().shared_from_this()); }

TEST(Messages, TheClassObjectAnswersItsMethodsAndVariables) {
    Loaded();
    Value cls = ClassObjectValue();
    size_t before = SQLConnection::ActiveConnections();
    Value made = Send(cls, "new", {"SQLite", "", ""});
    auto c = made.As<SQLConnection>();
    ASSERT_NE(c, nullptr);
    EXPECT_NE(c->Handle, 0);
    EXPECT_EQ(Send(cls, "ActiveConnections").Int(), static_cast<int64_t>(before + 1));
    EXPECT_EQ(Send(cls, "FINDCONNECTION").Obj().get(), c.get());
    EXPECT_EQ(Send(cls, "EnvHandle").Int(), SQLConnection::hEnv());
    EXPECT_EQ(Send(cls, "hEnv").Int(), SQLConnection::hEnv());
    EXPECT_EQ(Send(cls, "Version").Str(), "3.1.24");
    EXPECT_FALSE(Send(cls, "Copyright").Str().empty());
    EXPECT_EQ(Send(cls, "GetDataSources").Arr().Len(), 4u);
    EXPECT_EQ(Send(cls, "GetDrivers").Arr().Len(), 3u);
    EXPECT_TRUE(Send(cls, "CommitAllTransactions").Log());
    EXPECT_TRUE(Send(cls, "RollbackAllTransactions").Log());
    // class variables a program may set, through the class or a connection
    EXPECT_EQ(Send(cls, "_LoginTimeout", {20}).Int(), 20);
    EXPECT_EQ(Send(made, "LoginTimeout").Int(), 20);
    Send(cls, "_LoginTimeout", {15});
    Send(cls, "_DisplayErrors", {false});
    EXPECT_FALSE(SQLCONNECTION().Var("DisplayErrors").Log());
    Send(made, "_DisplayErrors", {true});
    EXPECT_TRUE(Send(cls, "DisplayErrors").Log());

    // the thread's connections go, and the class object answers
    EXPECT_EQ(Send(cls, "DestroyContext").Obj().get(), &SQLCONNECTION());
    EXPECT_EQ(c->Handle, 0);
    EXPECT_EQ(SQLConnection::FindConnection(), nullptr);
}

TEST(Messages, AConnectionAnswersItsMethodsByName) {
    Loaded();
    auto& admin = TestDataSources::Get().Admin();
    admin.Execute("DROP TABLE IF EXISTS message_probe");
    admin.Execute("CREATE TABLE message_probe (id INTEGER)");
    Value c = Value(SQLConnection::New());
    EXPECT_TRUE(Send(c, "Connect", {"PostgreSQL", "", ""}).Log());
    EXPECT_TRUE(Send(c, "isConnected").Log());
    EXPECT_EQ(Send(c, "GetInfo", {SQL_DBMS_NAME}).Str(), "PostgreSQL");
    EXPECT_EQ(Send(c, "NativeSQL", {"SELECT 1"}).Str(), "SELECT 1");
    EXPECT_TRUE(Send(c, "isFunction", {SQL_API_SQLFETCHSCROLL}).Log());
    EXPECT_TRUE(Send(c, "SetAttribute", {SQL_ATTR_LOGIN_TIMEOUT, 7}).Log());
    EXPECT_EQ(Send(c, "GetAttribute", {SQL_ATTR_LOGIN_TIMEOUT}).Int(), 7);
    // psqlODBC keeps no connection time-out: the read-back answers
    EXPECT_EQ(Send(c, "_ConnectionTimeout", {9}).Int(), Send(c, "ConnectionTimeout").Int());
    EXPECT_EQ(Send(c, "_TransactionIsolation", {SQL_TXN_SERIALIZABLE}).Int(), SQL_TXN_SERIALIZABLE);
    EXPECT_EQ(Send(c, "TransactionIsolation").Int(), SQL_TXN_SERIALIZABLE);

    // a transaction by name, seen from outside
    SQLHDBC dbc = ToHandle(Send(c, "Handle").Int());
    EXPECT_TRUE(Send(c, "BeginTransaction").Log());
    EXPECT_TRUE(Send(c, "inTransaction").Log());
    kivodbc::testing::ExecuteOn(dbc, "INSERT INTO message_probe VALUES (1)");
    EXPECT_TRUE(Send(c, "RollbackTransaction").Log());
    EXPECT_EQ(admin.CountRows("message_probe"), 0);
    kivodbc::testing::ExecuteOn(dbc, "INSERT INTO message_probe VALUES (2)");
    EXPECT_TRUE(Send(c, "CommitTransaction").Log());
    EXPECT_EQ(admin.CountRows("message_probe"), 1);
    kivodbc::testing::ExecuteOn(dbc, "INSERT INTO message_probe VALUES (3)");
    EXPECT_TRUE(Send(c, "EndTransaction").Log());
    EXPECT_EQ(admin.CountRows("message_probe"), 2);
    EXPECT_FALSE(Send(c, "inTransaction").Log());

    // statements by name: a one-shot statement counts its rows, a new
    // statement is listed until it is dropped
    EXPECT_EQ(Send(c, "Execute", {"INSERT INTO message_probe VALUES (4)"}).Int(), 1);
    EXPECT_EQ(admin.CountRows("message_probe"), 3);
    const int64_t listed = Send(c, "ActiveStatements").Int();
    Value st = Send(c, "NewStatement", {"SELECT 1"});
    ASSERT_TRUE(st.IsObject());
    EXPECT_EQ(Send(c, "ActiveStatements").Int(), listed + 1);
    EXPECT_EQ(Send(c, "DropStatement", {st}).Obj().get(), c.Obj().get());
    EXPECT_EQ(Send(c, "ActiveStatements").Int(), listed);
    EXPECT_EQ(Send(c, "AddStatement", {st}).Obj().get(), c.Obj().get());
    EXPECT_EQ(Send(c, "ActiveStatements").Int(), listed + 1);
    Send(c, "DropStatement", {st});

    EXPECT_TRUE(Send(c, "DriverConnect", {Value(), "DSN=SQLite"}).Log());
    EXPECT_EQ(Send(c, "DbmsName").Str(), "SQLite");
    EXPECT_EQ(Send(c, "ConnectString").Str().rfind("DSN=SQLite;", 0), 0u);
    EXPECT_TRUE(Send(c, "Disconnect").Log());
    EXPECT_EQ(Send(c, "Handle").Int(), 0);
    EXPECT_EQ(Send(c, "ErrorMessage").Str().rfind("NULL DBC handle", 0), 0u);
    EXPECT_FALSE(Send(c, "BrowseConnect", {"DSN=SQLite"}).Log());
    size_t before = SQLConnection::ActiveConnections();
    EXPECT_TRUE(Send(c, "destroy").Log());
    EXPECT_EQ(SQLConnection::ActiveConnections(), before - 1);
}

TEST(Messages, EachExportedVariableReadsAsTheConnectionHoldsIt) {
    Loaded();
    auto c = SQLConnection::New("SQLite", "someone", "secret");
    ASSERT_NE(c->Handle, 0);
    Value v(c);
    struct Read {
        const char* name;
        Value held;
    };
    for (const Read& r : {Read{"Handle", c->Handle}, Read{"ShowConnErrors", c->ShowConnErrors},
                          Read{"ErrorCode", c->ErrorCode}, Read{"IdentifierQuoteChar", c->IdentifierQuoteChar},
                          Read{"IdentifierCase", c->IdentifierCase},
                          Read{"MaxActiveStatements", c->MaxActiveStatements},
                          Read{"MaxActiveConnections", c->MaxActiveConnections},
                          Read{"MaxStatementLen", c->MaxStatementLen}, Read{"MaxCharLen", c->MaxCharLen},
                          Read{"isTransactionCapable", c->isTransactionCapable}, Read{"isReadOnly", c->isReadOnly},
                          Read{"DataSource", c->DataSource}, Read{"UserName", c->UserName},
                          Read{"Password", c->Password}, Read{"ConnectString", c->ConnectString},
                          Read{"DatabaseName", c->DatabaseName}, Read{"DbmsName", c->DbmsName},
                          Read{"DbmsVersion", c->DbmsVersion}, Read{"CollationSequence", c->CollationSequence},
                          Read{"GetDataInOrder", c->GetDataInOrder},
                          Read{"isPosDeleteSupported", c->isPosDeleteSupported},
                          Read{"isPosUpdateSupported", c->isPosUpdateSupported},
                          Read{"MultipleResults", c->MultipleResults}, Read{"ThreadID", c->ThreadID},
                          Read{"BufferSize", c->BufferSize}, Read{"DateTimeAsDate", c->DateTimeAsDate},
                          Read{"Cargo", c->Cargo}, Read{"ErrorLogFile", c->ErrorLogFile},
                          Read{"RetryDeadlockVictim", c->RetryDeadlockVictim}}) {
        SCOPED_TRACE(r.name);
        Value got = Send(v, r.name);
        EXPECT_EQ(got.Type(), r.held.Type());
        EXPECT_EQ(ASSTRING(got), ASSTRING(r.held));
    }
    EXPECT_EQ(Send(v, "DataSource").Str(), std::string("SQLite") + '\0');
    EXPECT_EQ(Send(v, "DBMSNAME").Str(), "SQLite");
    EXPECT_TRUE(Send(v, "onError").IsBlock());
    c->Destroy();
}

TEST(Messages, OnlyTheVariablesAProgramMayChangeTakeAnAssignment) {
    Loaded();
    auto c = SQLConnection::New("SQLite", "", "");
    Value v(c);
    // assignable, with a value of the right type
    EXPECT_EQ(Send(v, "_Cargo", {"kept"}).Str(), "kept");
    EXPECT_EQ(c->Cargo.Str(), "kept");
    Send(v, "_ShowConnErrors", {false});
    EXPECT_FALSE(c->ShowConnErrors);
    Send(v, "_BufferSize", {4096});
    EXPECT_EQ(c->BufferSize, 4096);
    Send(v, "_ErrorLogFile", {"other.log"});
    EXPECT_EQ(c->ErrorLogFile, "other.log");
    Send(v, "_IdentifierQuoteChar", {"`"});
    EXPECT_EQ(c->IdentifierQuoteChar.Str(), "`");
    Send(v, "_DateTimeAsDate", {true});
    EXPECT_TRUE(c->DateTimeAsDate);
    Send(v, "_RetryDeadlockVictim", {false});
    EXPECT_FALSE(c->RetryDeadlockVictim);
    Send(v, "_onError", {Value()});
    EXPECT_TRUE(c->onError.IsNil());

    struct Refused {
        const char* message;
        Value value;
        int genCode;
    };
    const int64_t handle = c->Handle;
    for (const Refused& r : {Refused{"_Handle", 5, xpp::EG_NOMETHOD}, Refused{"_DataSource", "x", xpp::EG_NOMETHOD},
                             Refused{"_DbmsName", "x", xpp::EG_NOMETHOD}, Refused{"_ThreadID", 1, xpp::EG_NOMETHOD},
                             Refused{"_isReadOnly", true, xpp::EG_NOMETHOD}, Refused{"_Version", "9", xpp::EG_NOMETHOD},
                             Refused{"_hEnv", 1, xpp::EG_NOMETHOD}, Refused{"_BufferSize", "big", xpp::EG_ARG},
                             Refused{"_ShowConnErrors", 1, xpp::EG_ARG}}) {
        SCOPED_TRACE(r.message);
        CapturedErrors errors;
        Send(v, r.message, {r.value});
        ASSERT_EQ(errors.Errors().size(), 1u);
        EXPECT_EQ(errors.Errors()[0]->genCode.Int(), r.genCode);
    }
    EXPECT_EQ(c->Handle, handle);
    EXPECT_EQ(c->DataSource.Str(), std::string("SQLite") + '\0');
    EXPECT_EQ(c->BufferSize, 4096);
    EXPECT_FALSE(c->ShowConnErrors);
    EXPECT_EQ(SQLCONNECTION().Var("Version").Str(), "3.1.24");
    c->Destroy();
}

TEST(Messages, AConnectionsMessageSentToTheClassObjectIsAnError) {
    Loaded();
    Value cls = ClassObjectValue();
    for (const char* message : {"Connect", "destroy", "disconnect", "Handle", "_Cargo"}) {
        SCOPED_TRACE(message);
        CapturedErrors errors;
        EXPECT_TRUE(Send(cls, message, {"SQLite"}).IsNil());
        ASSERT_EQ(errors.Errors().size(), 1u);
        EXPECT_EQ(errors.Errors()[0]->genCode.Int(), xpp::EG_NOMETHOD);
    }
}

}  // namespace
