// SQLConnection against the real data sources through unixODBC: the
// registry, connecting, driver information, transactions and diagnostics.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <thread>

#include "kiv_odbc_testing/admin_connection.h"
#include "rowxpp/odbc_calls.h"
#include "rowxpp/sql_connection.h"
#include "rowxpp/sql_error.h"
#include "test_support.h"
#include "xpp/runtime.h"

using namespace rowxpp;
using kivodbc::testing::ExecuteOn;
using kivodbc::testing::TestDataSources;
using rowxpp_test::CaptureErrors;
using rowxpp_test::Loaded;
using rowxpp_test::Reported;

namespace {

const std::string kNul(1, '\0');

struct DriverCase {
    const char* dsn;
    const char* dbms;
    bool multipleResults;
    bool getDataInOrder;
};

TEST(Connection, EachDataSourceConnectsReadsItsDriverAndDisconnects) {
    Loaded();
    for (const DriverCase& c : {DriverCase{"PostgreSQL", "PostgreSQL", true, false},
                                DriverCase{"SQLite", "SQLite", false, false}, DriverCase{"KIVODBC", "", false, false}}) {
        SCOPED_TRACE(c.dsn);
        size_t before = SQLConnection::ActiveConnections();
        auto connection = SQLConnection::New(c.dsn, "", "");
        EXPECT_EQ(SQLConnection::ActiveConnections(), before + 1);
        ASSERT_NE(connection->Handle, 0);
        EXPECT_TRUE(connection->isConnected());
        EXPECT_EQ(connection->DataSource.Str(), c.dsn + kNul);
        EXPECT_EQ(connection->ThreadID, xpp::ThreadID());
        EXPECT_TRUE(connection->ShowConnErrors);
        if (std::string(c.dsn) == "KIVODBC") {
            EXPECT_EQ(connection->DbmsName.Str(), connection->GetInfo(SQL_DBMS_NAME));
        } else {
            EXPECT_EQ(connection->DbmsName.Str(), c.dbms);
            EXPECT_EQ(connection->MultipleResults.Log(), c.multipleResults);
            EXPECT_EQ(connection->GetDataInOrder.Log(), c.getDataInOrder);
        }
        if (std::string(c.dsn) == "PostgreSQL") {
            EXPECT_EQ(connection->IdentifierQuoteChar.Str(), "\"");
            EXPECT_FALSE(connection->isPosDeleteSupported.Log());
            EXPECT_FALSE(connection->isPosUpdateSupported.Log());
            EXPECT_EQ(connection->DatabaseName.Str(), TestDataSources::Get().PostgresDatabase());
        }
        EXPECT_TRUE(connection->Disconnect());
        EXPECT_EQ(connection->Handle, 0);
        EXPECT_FALSE(connection->isConnected());
        EXPECT_EQ(SQLConnection::ActiveConnections(), before + 1);  // still registered
        EXPECT_TRUE(connection->Destroy());
        EXPECT_EQ(SQLConnection::ActiveConnections(), before);
    }
}

TEST(Connection, DriverConnectKeepsTheCompletedString) {
    Loaded();
    auto c = SQLConnection::New();
    EXPECT_EQ(c->Handle, 0);
    EXPECT_EQ(c->DataSource.Str(), kNul);
    ASSERT_TRUE(c->DriverConnect(xpp::Value(), "DSN=PostgreSQL;UID=postgres"));
    const std::string completed = c->ConnectString.Str();
    EXPECT_NE(completed.find("DSN=PostgreSQL;"), std::string::npos) << completed;
    EXPECT_EQ(c->DataSource.Str(), "PostgreSQL");
    EXPECT_EQ(c->UserName.Str(), "postgres");
    EXPECT_EQ(c->Password.Str(), GETCONNECTVALUE(completed, "PWD="));
    EXPECT_EQ(c->DbmsName.Str(), "PostgreSQL");
    c->Destroy();
}

TEST(Connection, DriverConnectWithoutArgumentsReachesTheDefaultSource) {
    Loaded();
    auto c = SQLConnection::New();
    ASSERT_TRUE(c->DriverConnect());
    EXPECT_EQ(c->DataSource.Str(), "DEFAULT");
    EXPECT_EQ(c->DbmsName.Str(), "SQLite");
    c->Destroy();
}

TEST(Connection, AMissingPostgresDatabaseIsReportedToOnError) {
    Loaded();
    auto c = SQLConnection::New();
    Reported reported;
    CaptureErrors(*c, reported);
    EXPECT_FALSE(c->DriverConnect(xpp::Value(), "DSN=PostgreSQL;Database=no_such_database_here"));
    EXPECT_EQ(c->Handle, 0);
    ASSERT_EQ(reported.calls, 1);
    EXPECT_EQ(reported.returnCode, 65535);
    ASSERT_FALSE(reported.errors.empty());
    EXPECT_EQ(reported.errors[0]->SQLState.Str(), "08001");
    EXPECT_EQ(reported.errors[0]->ReturnCode.Int(), 65535);
    EXPECT_EQ(reported.errors[0]->Owner.Obj().get(), c.get());
    EXPECT_EQ(reported.errors[0]->Thread.Int(), xpp::ThreadID());
    EXPECT_EQ(reported.report.rfind("SQLState: 08001,  ErrorCode:", 0), 0u) << reported.report;
    EXPECT_NE(reported.report.find("no_such_database_here"), std::string::npos) << reported.report;
    EXPECT_NE(reported.report.find("\r\n\r\nThread ID " + std::to_string(xpp::ThreadID())), std::string::npos);
    c->Destroy();
}

TEST(Connection, ConnectStoresItsArgumentsAndConnectsAgainWithoutThem) {
    Loaded();
    auto c = SQLConnection::New();
    ASSERT_TRUE(c->Connect("SQLite", "someone", "secret"));
    EXPECT_EQ(c->DataSource.Str(), "SQLite" + kNul);
    EXPECT_EQ(c->UserName.Str(), "someone" + kNul);
    EXPECT_EQ(c->Password.Str(), "secret" + kNul);
    int64_t first = c->Handle;
    ASSERT_TRUE(c->Connect());
    EXPECT_NE(c->Handle, 0);
    EXPECT_EQ(c->DbmsName.Str(), "SQLite");
    (void)first;
    c->Destroy();
}

TEST(Connection, GetConnectValueFindsTheKeyAnywhere) {
    EXPECT_EQ(GETCONNECTVALUE("DSN=A;UID=B", "UID="), "B");
    EXPECT_EQ(GETCONNECTVALUE("DSN=A;UID=B", "PWD="), "");
    EXPECT_EQ(GETCONNECTVALUE("XUID=C", "UID="), "C");
    EXPECT_EQ(GETCONNECTVALUE("DSN=A;UID=B;", "DSN="), "A");
}

TEST(Connection, TransactionsOnPostgresAreSeenFromOutside) {
    Loaded();
    auto& admin = TestDataSources::Get().Admin();
    admin.Execute("DROP TABLE IF EXISTS txn_probe");
    admin.Execute("CREATE TABLE txn_probe (id INTEGER)");
    auto c = SQLConnection::New("PostgreSQL", "", "");
    auto d = SQLConnection::New("PostgreSQL", "", "");
    ASSERT_NE(c->Handle, 0);
    ASSERT_NE(d->Handle, 0);
    SQLHDBC dbc = ToHandle(c->Handle);

    EXPECT_FALSE(c->inTransaction());
    ASSERT_TRUE(c->BeginTransaction());
    EXPECT_TRUE(c->inTransaction());
    ExecuteOn(dbc, "INSERT INTO txn_probe VALUES (1)");
    EXPECT_TRUE(c->RollbackTransaction());
    EXPECT_EQ(admin.CountRows("txn_probe"), 0);

    ExecuteOn(dbc, "INSERT INTO txn_probe VALUES (2)");
    EXPECT_EQ(admin.CountRows("txn_probe"), 0);
    EXPECT_TRUE(c->CommitTransaction());
    EXPECT_EQ(admin.CountRows("txn_probe"), 1);
    EXPECT_TRUE(c->inTransaction());

    ExecuteOn(dbc, "INSERT INTO txn_probe VALUES (3)");
    EXPECT_TRUE(c->EndTransaction());
    EXPECT_EQ(admin.CountRows("txn_probe"), 2);
    EXPECT_FALSE(c->inTransaction());

    ASSERT_TRUE(c->BeginTransaction());
    ASSERT_TRUE(d->BeginTransaction());
    ExecuteOn(dbc, "INSERT INTO txn_probe VALUES (4)");
    ExecuteOn(ToHandle(d->Handle), "INSERT INTO txn_probe VALUES (5)");
    EXPECT_EQ(admin.CountRows("txn_probe"), 2);
    EXPECT_TRUE(SQLConnection::CommitAllTransactions());
    EXPECT_EQ(admin.CountRows("txn_probe"), 4);
    c->EndTransaction();
    d->EndTransaction();

    // isolation levels and the connection time-out
    EXPECT_EQ(c->TransactionIsolation(SQL_TXN_SERIALIZABLE), SQL_TXN_SERIALIZABLE);
    EXPECT_EQ(c->nTxnIsolation.Int(), SQL_TXN_SERIALIZABLE);
    EXPECT_EQ(c->TransactionIsolation(), SQL_TXN_SERIALIZABLE);
    EXPECT_EQ(c->TransactionIsolation(12345), 0);
    EXPECT_EQ(c->nTxnIsolation.Int(), SQL_TXN_SERIALIZABLE);
    int64_t timeout = c->ConnectionTimeout();
    EXPECT_EQ(c->ConnectionTimeout("x"), timeout);

    EXPECT_EQ(c->isFunction(SQL_API_SQLFETCHSCROLL).Log(), true);
    EXPECT_EQ(c->NativeSQL("SELECT 1").Str(), "SELECT 1");
    EXPECT_EQ(c->GetInfo(SQL_DBMS_NAME), "PostgreSQL");
    c->Destroy();
    d->Destroy();
    auto unconnected = SQLConnection::New();
    EXPECT_EQ(unconnected->TransactionIsolation(1), 0);
    EXPECT_EQ(unconnected->ConnectionTimeout(5), 0);
    EXPECT_TRUE(unconnected->isFunction(1).IsNil());
    EXPECT_TRUE(unconnected->NativeSQL("SELECT 1").IsNil());
    EXPECT_TRUE(unconnected->GetAttribute(102).IsNil());
    EXPECT_FALSE(unconnected->SetAttribute(102, 0));
    unconnected->Destroy();
}

TEST(Connection, ALongPostgresMessageArrivesCutAndTheNextRecordIsRead) {
    Loaded();
    auto c = SQLConnection::New("PostgreSQL", "", "");
    ASSERT_NE(c->Handle, 0);
    SQLHSTMT stmt = rowxpp_test::FailedStatement(c->Handle, "DO $$ BEGIN RAISE EXCEPTION '" + std::string(600, 'x') + "'; END $$");
    ASSERT_NE(stmt, nullptr);
    Reported reported;
    CaptureErrors(*c, reported);
    std::string report = DISPLAYERROR_(65535, SQL_HANDLE_STMT, FromHandle(stmt), true, c->onError, xpp::Value(c));
    ASSERT_GE(reported.errors.size(), 1u);
    const std::string message = reported.errors[0]->Message.Str();
    EXPECT_LT(message.size(), 600u);
    EXPECT_GT(message.size(), 400u);
    EXPECT_EQ(message.find('\0'), std::string::npos);
    EXPECT_EQ(message.back(), 'x');
    EXPECT_EQ(reported.errors[0]->SQLState.Str(), "P0001");
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    c->Destroy();
}

TEST(Connection, AConnectionWithoutHandleReportsTheMissingHandle) {
    Loaded();
    auto c = SQLConnection::New();
    std::string report = c->ErrorMessage();
    EXPECT_EQ(report.rfind("NULL DBC handle\r\n\r\nThread ID ", 0), 0u) << report;
    c->Destroy();
}

TEST(Registry, FindConnectionPrefersAConnectedOne) {
    Loaded();
    std::thread([] {
        EXPECT_EQ(SQLConnection::FindConnection(), nullptr);
        auto first = SQLConnection::New();
        auto second = SQLConnection::New("SQLite", "", "");
        EXPECT_EQ(SQLConnection::FindConnection(), second);
        second->Disconnect();
        EXPECT_EQ(SQLConnection::FindConnection(), second);
        first->Destroy();
        second->Destroy();
    }).join();
}

TEST(Registry, AThreadsEndDisconnectsAndUnregistersItsConnections) {
    Loaded();
    auto mine = SQLConnection::New("SQLite", "", "");
    size_t before = SQLConnection::ActiveConnections();
    std::vector<std::shared_ptr<SQLConnection>> theirs;
    auto thread = xpp::Thread::New();
    thread->start(xpp::Block([&theirs](xpp::Args&) {
        for (const char* dsn : {"SQLite", "PostgreSQL", "KIVODBC"}) theirs.push_back(SQLConnection::New(dsn, "", ""));
        return xpp::Value();
    }));
    thread->synchronize();
    ASSERT_EQ(theirs.size(), 3u);
    for (const auto& c : theirs) EXPECT_EQ(c->Handle, 0);
    EXPECT_EQ(SQLConnection::ActiveConnections(), before);
    EXPECT_NE(mine->Handle, 0);
    mine->Destroy();
}

TEST(Registry, ThreadsCreatingAndDestroyingLoseNoRegistration) {
    Loaded();
    size_t before = SQLConnection::ActiveConnections();
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([] {
            for (int i = 0; i < 50; ++i) SQLConnection::New()->Destroy();
        });
    }
    std::vector<std::shared_ptr<SQLConnection>> kept;
    for (int i = 0; i < 20; ++i) kept.push_back(SQLConnection::New());
    for (auto& t : threads) t.join();
    EXPECT_EQ(SQLConnection::ActiveConnections(), before + 20);
    for (auto& c : kept) c->Destroy();
    EXPECT_EQ(SQLConnection::ActiveConnections(), before);
}

}  // namespace

namespace {

TEST(ProgramEnd, AnOpenTransactionIsCommittedAtANormalEndAndRolledBackAtAnEndByError) {
    Loaded();
    auto& admin = TestDataSources::Get().Admin();
    struct Case {
        const char* mode;
        int exitCode;
        long long rows;
    };
    for (const Case& c : {Case{"normal", 0, 1}, Case{"error", 1, 0}}) {
        SCOPED_TRACE(c.mode);
        admin.Execute("DROP TABLE IF EXISTS end_probe");
        admin.Execute("CREATE TABLE end_probe (id INTEGER)");
        std::string command = std::string(ROWXPP_CHILD) + " " + c.mode + " end_probe 2>/dev/null";
        int status = std::system(command.c_str());
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), c.exitCode);
        EXPECT_EQ(admin.CountRows("end_probe"), c.rows);
    }
}

}  // namespace
