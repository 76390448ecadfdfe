// Lost PostgreSQL connections through psqlODBC: a backend ended by the
// administrator, a server stopped and started again under a live
// connection; Reconnect on live connections and in a transaction; a first
// connect that fails.
#include <gtest/gtest.h>

#include <filesystem>
#include <algorithm>
#include <functional>

#include "error_support.h"
#include "kiv_odbc_testing/admin_connection.h"
#include "kiv_odbc_testing/postgres_server.h"
#include "rowxpp/sql_statement.h"
#include "statement_support.h"
#include "xpp/functions.h"

using namespace rowxpp;
using kivodbc::testing::AdminConnection;
using kivodbc::testing::BackendPidOf;
using kivodbc::testing::PostgresServer;
using kivodbc::testing::TestDataSources;
using rowxpp_test::CallLog;
using rowxpp_test::Connected;
using rowxpp_test::Count;
using rowxpp_test::ErrorLogTest;
using rowxpp_test::Gone;
using rowxpp_test::LoseConnection;

namespace {

const char* const kInsert = "INSERT INTO lost_t (a, b) VALUES (?, ?)";

xpp::Args Row(int a, const char* b) { return xpp::Args{xpp::Array{a, b}}; }

const char* Word(int n) { return n == 2 ? "two" : "three"; }

// Executes `insert` with {2, "two"}, and when that fails, with {3, "three"}:
// the handler reconnects on the first call that meets the loss and runs the
// statement again, so the second is there only to show what went wrong.
// Answers the value of "a" of the call that reconnected.
template <class LogText>
int LostExecute(SQLConnection& c, SQLStatement& insert, LogText log, xpp::testing::TestClock& clock) {
    int64_t first = insert.Execute(Row(2, "two"));
    if (first == 1) return 2;
    EXPECT_EQ(first, kExecFailed);
    std::string text = log();
    EXPECT_EQ(Count(text, "= SQL ERROR ="), 1u);
    EXPECT_NE(text.find(std::string("SQLString: ") + kInsert + "\r\nParamList: " + xpp::Var2Char(xpp::Array{2, "two"})),
              std::string::npos);
    EXPECT_EQ(Count(text, "TO RECONNECT"), 0u) << text;
    EXPECT_FALSE(c.isConnected());
    EXPECT_TRUE(clock.Sleeps().empty());
    EXPECT_EQ(insert.Execute(Row(3, "three")), 1);
    return 3;
}

class Reconnection : public ErrorLogTest {
public:
    std::string Log() { return Read(); }
    // A new log and no flashes, for the next case of a test.
    void Restart() {
        std::filesystem::remove(folder_ / "SQLError.LOG");
        flashed.clear();
    }
    AdminConnection& Admin() { return TestDataSources::Get().Admin(); }
};

// A server of the test's own with the table lost_t; a connection to it
// holding the prepared insert (time-out 20) run once with {1, "one"} and a
// query never prepared (time-out 30).
struct OwnServer {
    std::unique_ptr<PostgresServer> server = PostgresServer::Create();
    std::string database = server->CreateDatabase();
    std::shared_ptr<SQLConnection> c;
    std::shared_ptr<SQLStatement> insert, plain;
    const char* query = "SELECT count(*) FROM lost_t";

    void Open() {
        AdminConnection(*server, database).Execute("CREATE TABLE lost_t (a integer, b varchar(20))");
        rowxpp_test::Loaded();
        c = SQLConnection::New();
        ASSERT_TRUE(c->DriverConnect(xpp::Value(), server->ConnectionString(database)));
        insert = c->NewStatement(kInsert);
        ASSERT_TRUE(insert->Prepare());
        ASSERT_TRUE(insert->SetAttribute(SQL_ATTR_QUERY_TIMEOUT, 20));
        ASSERT_EQ(insert->Execute(Row(1, "one")), 1);
        plain = c->NewStatement(query);
        ASSERT_TRUE(plain->SetAttribute(SQL_ATTR_QUERY_TIMEOUT, 30));
    }
    // The values of "a" in lost_t, in order.
    std::string Rows() {
        return AdminConnection(*server, database).Scalar("SELECT string_agg(CAST(a AS text), ',' ORDER BY a) FROM lost_t");
    }
};

TEST_F(Reconnection, AnEndedBackendIsReportedThenTheNextErrorReconnectsAndRunsTheStatementOnce) {
    Admin().Execute("CREATE TABLE lost_t (a integer, b varchar(20))");
    auto c = Connected(TestDataSources::kPostgres);
    ASSERT_NE(c->Handle, 0);
    auto insert = c->NewStatement(kInsert);
    ASSERT_TRUE(insert->Prepare());
    auto second = c->NewStatement("SELECT count(*) FROM lost_t");
    ASSERT_TRUE(second->SetAttribute(SQL_ATTR_QUERY_TIMEOUT, 30));
    ASSERT_EQ(insert->Execute(Row(1, "one")), 1);

    int pid = BackendPidOf(ToHandle(c->Handle));
    ASSERT_TRUE(Admin().TerminateBackend(pid));
    ASSERT_TRUE(Gone(Admin(), pid));

    int rerun = LostExecute(*c, *insert, [&] { return Log(); }, clock);
    std::string log = Log();
    ASSERT_EQ(flashed.size(), static_cast<size_t>(rerun - 1));
    EXPECT_NE(flashed.back().text.find("08S01"), std::string::npos) << flashed.back().text;
    EXPECT_EQ(Count(log, "= SQL ERROR ="), flashed.size());
    EXPECT_NE(log.find(std::string("SQLString: ") + kInsert + "\r\nParamList: " +
                       xpp::Var2Char(xpp::Array{rerun, Word(rerun)}) + "\r\n\r\n*** ATTEMPTING TO RECONNECT ***\r\n\r\n"),
              std::string::npos)
        << log;
    EXPECT_EQ(Count(log, "ATTEMPTING TO RECONNECT"), 1u);
    EXPECT_EQ(Count(log, "*** RECONNECTED SUCCESSFULLY *** Date: 20261210, Time: 12:34:59\r\n/opt/app/ledger, Thread: " +
                             std::to_string(xpp::ThreadID()) + "\r\n\r\n"),
              1u)
        << log;
    EXPECT_EQ(Admin().Scalar("SELECT string_agg(CAST(a AS text), ',' ORDER BY a) FROM lost_t"),
              "1," + std::to_string(rerun));
    EXPECT_EQ(second->GetAttribute(SQL_ATTR_QUERY_TIMEOUT).Int(), 30);
    EXPECT_TRUE(insert->isPrepared);
    EXPECT_TRUE(c->ShowConnErrors);
    EXPECT_TRUE(c->isConnected());
    EXPECT_EQ(clock.Sleeps(), std::vector<int64_t>({300}));
    c->Destroy();
}

// psqlODBC reports a backend ended by the administrator to a direct
// execution without parameters as 57P01 (to one with parameters, prepared
// or not, at once as 08S01): the connection is lost all the same, and is
// regained at once.
TEST_F(Reconnection, AnEndedBackendMetByADirectExecutionReconnectsAndRunsItAgain) {
    Admin().Execute("CREATE TABLE ended_t (a integer, b varchar(20))");
    auto c = Connected(TestDataSources::kPostgres);
    auto insert = c->NewStatement("INSERT INTO ended_t (a, b) VALUES (?, ?)");
    ASSERT_TRUE(insert->Prepare());
    ASSERT_EQ(insert->Execute(Row(1, "one")), 1);
    const char* direct = "INSERT INTO ended_t (a, b) VALUES (5, 'five')";
    auto second = c->NewStatement("SELECT count(*) FROM ended_t");
    ASSERT_TRUE(second->SetAttribute(SQL_ATTR_QUERY_TIMEOUT, 30));
    int pid = BackendPidOf(ToHandle(c->Handle));
    ASSERT_TRUE(Admin().TerminateBackend(pid));
    ASSERT_TRUE(Gone(Admin(), pid));

    EXPECT_EQ(c->NewStatement(direct)->Execute(), 1);
    std::string log = Log();
    ASSERT_EQ(flashed.size(), 1u);
    EXPECT_NE(flashed[0].text.find("57P01"), std::string::npos) << flashed[0].text;
    EXPECT_EQ(Count(log, "= SQL ERROR ="), 1u);
    EXPECT_NE(log.find(std::string("\r\n\r\nSQLString: ") + direct + "\r\n\r\n*** ATTEMPTING TO RECONNECT ***\r\n"),
              std::string::npos)
        << log;
    EXPECT_EQ(Count(log, "RECONNECTED SUCCESSFULLY"), 1u) << log;
    EXPECT_EQ(clock.Sleeps(), std::vector<int64_t>({300}));
    EXPECT_TRUE(c->isConnected());
    EXPECT_TRUE(c->ShowConnErrors);
    EXPECT_EQ(second->GetAttribute(SQL_ATTR_QUERY_TIMEOUT).Int(), 30);

    EXPECT_EQ(insert->Execute(Row(2, "two")), 1);
    EXPECT_EQ(Count(Log(), "= SQL ERROR ="), 1u);
    EXPECT_EQ(Admin().Scalar("SELECT string_agg(CAST(a AS text), ',' ORDER BY a) FROM ended_t"), "1,2,5");
    c->Destroy();
}

TEST_F(Reconnection, AStoppedServerIsWaitedForWithoutPromptsAndEveryStatementComesBack) {
    OwnServer own;
    ASSERT_NO_FATAL_FAILURE(own.Open());
    auto& c = own.c;
    auto& insert = own.insert;
    auto& plain = own.plain;
    auto& server = own.server;
    const char* query = own.query;

    // between the failed attempts nothing half-made stays in the connection
    int64_t handleBetween = -1;
    bool connectedBetween = true;
    clock.AtSleep(2, [&] {
        handleBetween = c->Handle;
        connectedBetween = c->isConnected();
    });
    clock.AtSleep(3, [&] { server->Start(); });
    server->Stop("fast");

    CallLog calls;
    int rerun = LostExecute(*c, *insert, [&] { return Log(); }, clock);

    EXPECT_EQ(clock.Sleeps(), std::vector<int64_t>({300, 900, 900}));
    auto connects = calls.ArgumentsOf(3);
    ASSERT_EQ(connects.size(), 3u);
    for (const auto& args : connects) EXPECT_EQ(args.at(7), SQL_DRIVER_NOPROMPT);
    EXPECT_EQ(handleBetween, 0);
    EXPECT_FALSE(connectedBetween);
    std::string log = Log();
    EXPECT_EQ(Count(log, "ATTEMPTING TO RECONNECT"), 1u);
    EXPECT_EQ(Count(log, "RECONNECTED SUCCESSFULLY"), 1u);
    EXPECT_EQ(Count(log, "= SQL ERROR ="), static_cast<size_t>(rerun - 1)) << "the failed attempts are not reported";
    EXPECT_EQ(flashed.size(), static_cast<size_t>(rerun - 1));

    EXPECT_TRUE(insert->isPrepared);
    EXPECT_EQ(insert->SQLString(), kInsert);
    EXPECT_EQ(insert->GetAttribute(SQL_ATTR_QUERY_TIMEOUT).Int(), 20);
    EXPECT_EQ(xpp::Var2Char(insert->ParamList), xpp::Var2Char(xpp::Array{rerun, Word(rerun)}));
    EXPECT_FALSE(plain->isPrepared);
    EXPECT_EQ(plain->SQLString(), query);
    EXPECT_EQ(plain->GetAttribute(SQL_ATTR_QUERY_TIMEOUT).Int(), 30);
    EXPECT_TRUE(plain->ParamList.IsNil());
    EXPECT_TRUE(plain->Cargo_.IsNil());
    EXPECT_TRUE(c->isConnected());
    EXPECT_TRUE(c->ShowConnErrors);
    EXPECT_EQ(plain->Execute(), 1);
    EXPECT_EQ(own.Rows(), "1," + std::to_string(rerun));
    c->Destroy();
}

TEST_F(Reconnection, AProgramsOwnReconnectWhileTheServerIsDownIsReportedAndAnswersFalse) {
    OwnServer own;
    ASSERT_NO_FATAL_FAILURE(own.Open());
    own.server->Stop("fast");

    CallLog calls;
    EXPECT_FALSE(own.c->Reconnect(true));
    EXPECT_EQ(own.c->Handle, 0);
    EXPECT_FALSE(own.c->isConnected());
    std::string log = Log();
    EXPECT_EQ(Count(log, "= SQL ERROR ="), 1u) << log;
    EXPECT_NE(log.find("08001"), std::string::npos) << log;
    EXPECT_EQ(Count(log, "TO RECONNECT"), 0u) << log;
    EXPECT_EQ(flashed.size(), 1u);
    // not forced, still down: another attempt, again without a prompt
    EXPECT_FALSE(own.c->Reconnect());
    EXPECT_EQ(Count(Log(), "= SQL ERROR ="), 2u);
    EXPECT_TRUE(clock.Sleeps().empty());

    own.server->Start();
    EXPECT_TRUE(own.c->Reconnect());
    EXPECT_EQ(calls.Count(2), 0);
    auto connects = calls.ArgumentsOf(3);
    ASSERT_EQ(connects.size(), 3u);
    for (const auto& args : connects) EXPECT_EQ(args.at(7), SQL_DRIVER_NOPROMPT);
    EXPECT_EQ(Count(Log(), "= SQL ERROR ="), 2u);
    EXPECT_TRUE(own.insert->isPrepared);
    EXPECT_EQ(xpp::Var2Char(own.insert->ParamList), xpp::Var2Char(xpp::Array{1, "one"}));
    EXPECT_EQ(own.insert->GetAttribute(SQL_ATTR_QUERY_TIMEOUT).Int(), 20);
    EXPECT_EQ(own.plain->GetAttribute(SQL_ATTR_QUERY_TIMEOUT).Int(), 30);
    EXPECT_EQ(own.insert->Execute(Row(2, "two")), 1);
    EXPECT_EQ(own.Rows(), "1,2");
    own.c->Destroy();
}

TEST_F(Reconnection, ADisconnectEndsAReconnectionUnderWay) {
    OwnServer own;
    ASSERT_NO_FATAL_FAILURE(own.Open());
    own.server->Stop("fast");
    EXPECT_FALSE(own.c->Reconnect(true));
    ASSERT_TRUE(own.c->Reconnecting_());

    EXPECT_TRUE(own.c->Disconnect());
    EXPECT_FALSE(own.c->Reconnecting_());
    EXPECT_EQ(own.c->ActiveStatements(), 0u);
    EXPECT_TRUE(own.insert->SQLString().empty());

    // connected anew as a connection the program disconnected
    own.server->Start();
    CallLog calls;
    EXPECT_TRUE(own.c->Reconnect());
    auto connects = calls.ArgumentsOf(3);
    ASSERT_EQ(connects.size(), 1u);
    EXPECT_EQ(connects[0].at(7), SQL_DRIVER_COMPLETE_REQUIRED);
    EXPECT_TRUE(own.c->isConnected());
    EXPECT_EQ(own.c->ActiveStatements(), 0u);
    EXPECT_EQ(own.insert->Handle, 0);
    own.c->Destroy();
}

TEST_F(Reconnection, ALiveConnectionIsLeftAloneUnlessForced) {
    auto c = Connected(TestDataSources::kPostgres);
    {
        CallLog calls;
        EXPECT_TRUE(c->Reconnect());
        ASSERT_EQ(calls.Total(), 1u);
        ASSERT_EQ(calls.ArgumentsOf(11).size(), 1u);
        EXPECT_EQ(calls.ArgumentsOf(11)[0].at(1), SQL_ATTR_CONNECTION_DEAD);
    }
    int oldPid = BackendPidOf(ToHandle(c->Handle));
    // a Reconnect of the same connection while one runs answers .F. at
    // once, without a call
    bool nested = true;
    bool asked = false;
    size_t callsBefore = 0, callsAfter = 0;
    {
        rowxpp_test::RecordedCalls* recorded = nullptr;
        rowxpp_test::RecordedCalls calls([&](int index) -> std::optional<int64_t> {
            if (index == 59 && !asked) {
                asked = true;
                callsBefore = recorded->Indexes().size();
                nested = c->Reconnect(true);
                callsAfter = recorded->Indexes().size();
            }
            return std::nullopt;
        });
        recorded = &calls;
        EXPECT_TRUE(c->Reconnect(true));
    }
    EXPECT_TRUE(asked);
    EXPECT_FALSE(nested);
    EXPECT_EQ(callsAfter, callsBefore);
    {
        CallLog calls;
        EXPECT_TRUE(c->Reconnect(true, 7));
        EXPECT_NE(c->Handle, 0);
        EXPECT_EQ(calls.Count(59), 1);
        bool timeoutSet = false;
        for (const auto& args : calls.ArgumentsOf(10))
            timeoutSet |= args.at(0) == c->Handle && args.at(1) == SQL_ATTR_CONNECTION_TIMEOUT && args.at(2) == 7;
        EXPECT_TRUE(timeoutSet);
    }
    EXPECT_NE(BackendPidOf(ToHandle(c->Handle)), oldPid) << "a new session";
    EXPECT_TRUE(c->isConnected());
    c->Destroy();
}

TEST_F(Reconnection, AForcedReconnectInATransactionEndsTheOldSessionAndStaysInManualCommit) {
    Admin().Execute("CREATE TABLE txn_t (a integer)");
    auto c = Connected(TestDataSources::kPostgres);
    ASSERT_TRUE(c->BeginTransaction());
    auto insert = c->NewStatement("INSERT INTO txn_t VALUES (?)");
    ASSERT_TRUE(insert->Prepare());
    ASSERT_EQ(insert->Execute(xpp::Args{1}), 1);
    int old = BackendPidOf(ToHandle(c->Handle));

    ASSERT_TRUE(c->Reconnect(true));
    EXPECT_TRUE(Gone(Admin(), old));
    EXPECT_TRUE(c->inTransaction());
    EXPECT_EQ(Admin().CountRows("txn_t"), 0);
    EXPECT_EQ(insert->Execute(xpp::Args{2}), 1);
    EXPECT_EQ(Admin().CountRows("txn_t"), 0) << "nothing committed statement by statement";
    ASSERT_TRUE(c->EndTransaction());
    EXPECT_EQ(Admin().Scalar("SELECT string_agg(CAST(a AS text), ',') FROM txn_t"), "2");
    EXPECT_FALSE(c->inTransaction());
    EXPECT_TRUE(Log().empty());
    c->Destroy();
}

TEST_F(Reconnection, AStatementOfALostTransactionIsNotRunAgain) {
    Admin().Execute("CREATE TABLE lost_txn_t (a integer)");
    auto c = Connected(TestDataSources::kPostgres);
    ASSERT_TRUE(c->BeginTransaction());
    auto insert = c->NewStatement("INSERT INTO lost_txn_t VALUES (?)");
    ASSERT_EQ(insert->Execute(xpp::Args{1}), 1);
    int pid = BackendPidOf(ToHandle(c->Handle));
    ASSERT_TRUE(Admin().TerminateBackend(pid));
    ASSERT_TRUE(Gone(Admin(), pid));

    // reconnected, but not run again: the next statement opens the next
    // transaction
    EXPECT_EQ(insert->Execute(xpp::Args{2}), kExecFailed);
    EXPECT_EQ(Count(Log(), "RECONNECTED SUCCESSFULLY"), 1u);
    EXPECT_TRUE(c->isConnected());
    EXPECT_TRUE(c->inTransaction());
    EXPECT_EQ(Admin().CountRows("lost_txn_t"), 0);
    EXPECT_EQ(insert->Execute(xpp::Args{3}), 1);
    EXPECT_EQ(insert->Execute(xpp::Args{4}), 1);
    EXPECT_EQ(Admin().CountRows("lost_txn_t"), 0);
    ASSERT_TRUE(c->EndTransaction());
    EXPECT_EQ(Admin().Scalar("SELECT string_agg(CAST(a AS text), ',' ORDER BY a) FROM lost_txn_t"), "3,4");
    EXPECT_EQ(Count(Log(), "RECONNECTED SUCCESSFULLY"), 1u);
    c->Destroy();
}

TEST_F(Reconnection, AFirstConnectToAMissingDatabaseReportsOnceAndReturns) {
    auto& sources = TestDataSources::Get();
    rowxpp_test::Loaded();
    auto c = SQLConnection::New();
    EXPECT_FALSE(c->DriverConnect(xpp::Value(), sources.Server().ConnectionString("no_such_database_here")));
    EXPECT_EQ(c->Handle, 0);
    ASSERT_EQ(flashed.size(), 1u);
    EXPECT_NE(flashed[0].text.find("08001"), std::string::npos) << flashed[0].text;
    std::string log = Log();
    EXPECT_EQ(Count(log, "= SQL ERROR ="), 1u);
    EXPECT_EQ(Count(log, "TO RECONNECT"), 0u);
    EXPECT_EQ(log.find("SQLString: "), std::string::npos);
    EXPECT_TRUE(clock.Sleeps().empty());
    c->Destroy();
}

TEST_F(Reconnection, ANeverConnectedConnectionConnectsWithItsStoredValues) {
    rowxpp_test::Loaded();
    auto c = SQLConnection::New();
    c->DataSource = std::string(TestDataSources::kPostgres) + std::string(1, '\0');
    CallLog calls;
    EXPECT_TRUE(c->Reconnect());
    EXPECT_EQ(calls.Count(2), 1);
    EXPECT_EQ(calls.Count(3), 0);
    EXPECT_TRUE(c->isConnected());
    c->Destroy();
}

// A statement's call that meets a lost connection (08S01), with what it
// answers once the handler has reconnected.
struct FailingCall {
    const char* name;
    std::function<xpp::Value(SQLStatement&)> call;
    xpp::Value answer;
    const char* rows;  // of again_t afterwards
};

TEST_F(Reconnection, OnlyAFailedExecuteRunsTheStatementAgainAfterTheReconnection) {
    const std::vector<FailingCall> cases = {
        {"Prepare", [](SQLStatement& s) { return xpp::Value(s.Prepare()); }, false, "1"},
        {"MoreResults", [](SQLStatement& s) { return xpp::Value(s.MoreResults()); }, false, "1"},
        {"SetAttribute",
         [](SQLStatement& s) {
             // psqlODBC sets a statement attribute without asking the
             // server: the driver manager is left out, and the handle still
             // holds the 08S01 of the statement's last call.
             s.DisplayErrors = false;
             EXPECT_FALSE(s.MoreResults());
             s.DisplayErrors = true;
             bool refused = false;
             CallLog refuse([&](int index, const std::vector<int64_t>&) -> std::optional<int64_t> {
                 if (index != 14 || refused) return std::nullopt;
                 refused = true;
                 return SQL_ERROR;
             });
             return xpp::Value(s.SetAttribute(SQL_ATTR_QUERY_TIMEOUT, 5));
         },
         false, "1"},
        {"Execute", [](SQLStatement& s) { return xpp::Value(s.Execute(Row(2, "two"))); }, 1, "1,2"},
    };
    Admin().Execute("CREATE TABLE again_t (a integer, b varchar(20))");
    for (const FailingCall& k : cases) {
        SCOPED_TRACE(k.name);
        Admin().Execute("DELETE FROM again_t");
        std::filesystem::remove(folder_ / "SQLError.LOG");
        flashed.clear();
        size_t sleeps = clock.Sleeps().size();

        auto c = Connected(TestDataSources::kPostgres);
        auto insert = c->NewStatement("INSERT INTO again_t (a, b) VALUES (?, ?)");
        ASSERT_TRUE(insert->Prepare());
        ASSERT_EQ(insert->Execute(Row(1, "one")), 1);
        ASSERT_NO_FATAL_FAILURE(LoseConnection(Admin(), c->Handle));

        EXPECT_EQ(xpp::Var2Char(k.call(*insert)), xpp::Var2Char(k.answer));
        std::string log = Log();
        ASSERT_EQ(flashed.size(), 1u);
        EXPECT_NE(flashed[0].text.find("08S01"), std::string::npos) << flashed[0].text;
        EXPECT_EQ(Count(log, "ATTEMPTING TO RECONNECT"), 1u) << log;
        EXPECT_EQ(Count(log, "RECONNECTED SUCCESSFULLY"), 1u) << log;
        EXPECT_EQ(clock.Sleeps().size(), sleeps + 1);
        EXPECT_EQ(Admin().Scalar("SELECT coalesce(string_agg(CAST(a AS text), ',' ORDER BY a), '') FROM again_t"),
                  k.rows);
        EXPECT_TRUE(c->isConnected());
        EXPECT_TRUE(c->ShowConnErrors);
        EXPECT_TRUE(insert->isPrepared);
        EXPECT_EQ(insert->Execute(Row(3, "three")), 1) << "the rebuilt statement runs";
        c->Destroy();
    }
}

TEST_F(Reconnection, ARunAgainThatMeetsALostConnectionStartsNoSecondLoop) {
    Admin().Execute("CREATE TABLE twice_t (a integer, b varchar(20))");
    auto c = Connected(TestDataSources::kPostgres);
    auto insert = c->NewStatement("INSERT INTO twice_t (a, b) VALUES (?, ?)");
    ASSERT_TRUE(insert->Prepare());
    ASSERT_EQ(insert->Execute(Row(1, "one")), 1);
    ASSERT_NO_FATAL_FAILURE(LoseConnection(Admin(), c->Handle));
    {
        // the new session is lost just before the statement runs again
        int executions = 0;
        CallLog calls([&](int index, const std::vector<int64_t>&) -> std::optional<int64_t> {
            if (index == 25 && ++executions == 2) LoseConnection(Admin(), c->Handle);
            return std::nullopt;
        });
        EXPECT_EQ(insert->Execute(Row(2, "two")), kExecFailed);
        EXPECT_EQ(executions, 2);
    }
    std::string log = Log();
    EXPECT_EQ(Count(log, "= SQL ERROR ="), 2u) << log;
    EXPECT_EQ(Count(log, "ATTEMPTING TO RECONNECT"), 1u) << log;
    EXPECT_EQ(Count(log, "RECONNECTED SUCCESSFULLY"), 1u) << log;
    EXPECT_EQ(clock.Sleeps(), std::vector<int64_t>({300}));
    EXPECT_FALSE(c->isConnected());
    EXPECT_TRUE(c->ShowConnErrors);
    EXPECT_EQ(Admin().CountRows("twice_t"), 1);

    // the next failing Execute starts the next loop
    EXPECT_EQ(insert->Execute(Row(3, "three")), 1);
    EXPECT_EQ(Count(Log(), "RECONNECTED SUCCESSFULLY"), 2u);
    EXPECT_EQ(Admin().Scalar("SELECT string_agg(CAST(a AS text), ',' ORDER BY a) FROM twice_t"), "1,3");
    c->Destroy();
}

TEST_F(Reconnection, AConnectionLostAgainDuringTheRebuildIsNoReconnection) {
    auto c = Connected(TestDataSources::kPostgres);
    auto first = c->NewStatement("SELECT 1");
    ASSERT_TRUE(first->Prepare());
    auto second = c->NewStatement("SELECT 2");
    ASSERT_TRUE(second->Prepare());
    ASSERT_TRUE(second->SetAttribute(SQL_ATTR_QUERY_TIMEOUT, 30));
    auto plain = c->NewStatement("SELECT 3");

    // The new session is lost as soon as the rebuild prepares its first
    // statement, whose Prepare then fails with 08S01 inside the
    // reconnection: reported, with no reconnection of its own.
    bool lost = false;
    {
        CallLog calls([&](int index, const std::vector<int64_t>&) -> std::optional<int64_t> {
            if (index == 20 && !lost) {
                lost = true;
                LoseConnection(Admin(), c->Handle);
            }
            return std::nullopt;
        });
        EXPECT_FALSE(c->Reconnect(true));
        EXPECT_TRUE(lost);
        EXPECT_EQ(calls.Count(2), 1) << "one connect";
        EXPECT_EQ(calls.Count(20), 1) << "nothing more is rebuilt on the lost session";
    }
    std::string log = Log();
    EXPECT_EQ(Count(log, "= SQL ERROR ="), 1u);
    EXPECT_NE(log.find("08S01"), std::string::npos) << log;
    EXPECT_NE(log.find("SQLString: SELECT 1"), std::string::npos) << log;
    EXPECT_EQ(flashed.size(), 1u);
    EXPECT_EQ(Count(log, "TO RECONNECT"), 0u) << log;
    EXPECT_TRUE(clock.Sleeps().empty());
    EXPECT_FALSE(c->isConnected());
    for (const auto& s : {first, second, plain}) EXPECT_TRUE(s->Cargo_.IsArray()) << "kept for the next attempt";

    // the next failing Execute reconnects and brings every statement back
    // as it was before the first attempt
    EXPECT_NE(first->Execute(), kExecFailed) << Log();
    log = Log();
    EXPECT_EQ(Count(log, "ATTEMPTING TO RECONNECT"), 1u) << log;
    EXPECT_EQ(Count(log, "RECONNECTED SUCCESSFULLY"), 1u) << log;
    EXPECT_EQ(clock.Sleeps(), std::vector<int64_t>({300}));
    EXPECT_TRUE(c->isConnected());
    for (const auto& s : {first, second, plain}) {
        EXPECT_TRUE(s->Cargo_.IsNil()) << s->SQLString();
        EXPECT_NE(s->Handle, 0) << s->SQLString();
    }
    EXPECT_TRUE(first->isPrepared);
    EXPECT_TRUE(second->isPrepared);
    EXPECT_EQ(second->GetAttribute(SQL_ATTR_QUERY_TIMEOUT).Int(), 30);
    EXPECT_FALSE(plain->isPrepared);
    EXPECT_EQ(plain->SQLString(), "SELECT 3");
    EXPECT_NE(second->Execute(), kExecFailed);
    EXPECT_NE(plain->Execute(), kExecFailed);
    c->Destroy();
}

// ------------------------------------------------------ a statement per row

// A way of inserting the row `id` with one statement made for it; answers
// what its Execute answers and the statement it made (none for one-shot
// execution, whose statement is dropped).
struct PerRow {
    const char* name;
    std::function<std::pair<int64_t, std::shared_ptr<SQLStatement>>(SQLConnection&, const std::string& table, int id)>
        insert;
};

const std::vector<PerRow>& PerRowKinds() {
    static const std::vector<PerRow> kinds = {
        {"SQLConnection:Execute",
         [](SQLConnection& c, const std::string& table, int id) {
             return std::make_pair(
                 c.Execute("INSERT INTO " + table + " VALUES (" + std::to_string(id) + ", 'x')"),
                 std::shared_ptr<SQLStatement>());
         }},
        {"NewStatement",
         [](SQLConnection& c, const std::string& table, int id) {
             auto s = c.NewStatement("INSERT INTO " + table + " VALUES (" + std::to_string(id) + ", 'x')");
             return std::make_pair(s->Execute(), s);
         }},
        {"prepared with parameters",
         [](SQLConnection& c, const std::string& table, int id) {
             auto s = SQLStatement::New("INSERT INTO " + table + " VALUES (?, ?)", xpp::Value(c.shared_from_this()));
             s->Prepare();  // fails quietly on a connection already lost
             return std::make_pair(s->Execute(xpp::Args{id, "x"}), s);
         }},
    };
    return kinds;
}

// How the server goes away between rows 5 and 6.
struct Loss {
    const char* name;
    std::function<void(OwnServer&, SQLConnection&)> lose;
};

const std::vector<Loss>& Losses() {
    static const std::vector<Loss> losses = {
        {"server stopped and started",
         [](OwnServer& own, SQLConnection&) {
             own.server->Stop("fast");
             own.server->Start();
         }},
        {"backend ended",
         [](OwnServer& own, SQLConnection& c) {
             AdminConnection admin(*own.server, own.database);
             int pid = BackendPidOf(ToHandle(c.Handle));
             ASSERT_TRUE(admin.TerminateBackend(pid));
             ASSERT_TRUE(Gone(admin, pid));
         }},
    };
    return losses;
}

// Rows 1 to 10, one statement each, the server lost between 5 and 6: every
// row is stored once, through one reconnection. With `metBefore`, a statement
// that shows no errors meets the loss first, so that the statement of row 6
// is made on a connection that already answers isConnected .F.
void InsertTenRows(Reconnection& test, OwnServer& own, bool metBefore) {
    int n = 0;
    for (const Loss& loss : Losses()) {
        for (const PerRow& kind : PerRowKinds()) {
            SCOPED_TRACE(std::string(loss.name) + ", " + kind.name);
            const std::string table = "per_row_" + std::to_string(++n);
            AdminConnection(*own.server, own.database).Execute("CREATE TABLE " + table + " (a integer, b varchar(5))");
            test.Restart();
            auto c = SQLConnection::New();
            ASSERT_TRUE(c->DriverConnect(xpp::Value(), own.server->ConnectionString(own.database)));
            std::shared_ptr<SQLStatement> sixth;
            for (int id = 1; id <= 10; ++id) {
                if (id == 6) {
                    ASSERT_NO_FATAL_FAILURE(loss.lose(own, *c));
                    if (metBefore) {
                        auto probe = c->NewStatement("SELECT 1");
                        probe->DisplayErrors = false;
                        EXPECT_EQ(probe->Execute(), kExecFailed);
                        ASSERT_FALSE(c->isConnected());
                        probe->Destroy();
                    }
                }
                auto [answer, statement] = kind.insert(*c, table, id);
                EXPECT_EQ(answer, 1) << "row " << id << "\n" << test.Log();
                if (id == 6) sixth = statement;
            }
            std::string log = test.Log();
            EXPECT_EQ(Count(log, "ATTEMPTING TO RECONNECT"), 1u) << log;
            EXPECT_EQ(Count(log, "RECONNECTED SUCCESSFULLY"), 1u) << log;
            EXPECT_EQ(AdminConnection(*own.server, own.database)
                          .Scalar("SELECT string_agg(CAST(a AS text), ',' ORDER BY a) FROM " + table),
                      "1,2,3,4,5,6,7,8,9,10");
            EXPECT_TRUE(c->isConnected());
            if (sixth) {
                // listed with its connection, and rebuilt by the next reconnection
                std::vector<SQLStatement*> listed;
                for (const xpp::Value& v : c->aStatements.Items()) listed.push_back(v.As<SQLStatement>().get());
                EXPECT_NE(std::find(listed.begin(), listed.end(), sixth.get()), listed.end());
                const std::string text = sixth->SQLString();
                ASSERT_TRUE(c->Reconnect(true));
                EXPECT_NE(sixth->Handle, 0);
                EXPECT_EQ(sixth->SQLString(), text);
            }
            c->Destroy();
        }
    }
}

TEST_F(Reconnection, RowsInsertedAStatementEachAreAllStoredAcrossALostConnection) {
    OwnServer own;
    InsertTenRows(*this, own, false);
}

TEST_F(Reconnection, AStatementMadeOnAConnectionAlreadyLostWaitsForTheReconnection) {
    OwnServer own;
    InsertTenRows(*this, own, true);
}

// ------------------------------------------- what a new handle gets again

TEST_F(Reconnection, TheNewHandleGetsTheLoginTimeOutReadOnlyModeAndIsolationLevelAgain) {
    struct Road {
        const char* name;
        std::function<void(Reconnection&, SQLConnection&)> reconnect;
    };
    const std::vector<Road> roads = {
        {"Reconnect(.T.)", [](Reconnection&, SQLConnection& c) { ASSERT_TRUE(c.Reconnect(true)); }},
        {"the handler, after the backend was ended",
         [](Reconnection& test, SQLConnection& c) {
             int pid = BackendPidOf(ToHandle(c.Handle));
             ASSERT_TRUE(test.Admin().TerminateBackend(pid));
             ASSERT_TRUE(Gone(test.Admin(), pid));
             EXPECT_NE(c.NewStatement("SELECT 1")->Execute(), kExecFailed);
             EXPECT_EQ(Count(test.Log(), "RECONNECTED SUCCESSFULLY"), 1u) << test.Log();
         }},
    };
    rowxpp_test::Loaded();
    struct LoginTimeout {
        LoginTimeout() { SQLConnection::ClassObject().SetVar("LoginTimeout", 5); }
        ~LoginTimeout() { SQLConnection::ClassObject().SetVar("LoginTimeout", 15); }
    } loginTimeout;
    for (const Road& road : roads) {
        SCOPED_TRACE(road.name);
        Restart();
        auto c = SQLConnection::New(TestDataSources::kPostgres, "", "", true);
        ASSERT_NE(c->Handle, 0);
        EXPECT_TRUE(c->isReadOnly);
        ASSERT_EQ(c->TransactionIsolation(SQL_TXN_SERIALIZABLE), SQL_TXN_SERIALIZABLE);
        CallLog calls;
        ASSERT_NO_FATAL_FAILURE(road.reconnect(*this, *c));
        ASSERT_NE(c->Handle, 0);
        EXPECT_EQ(c->TransactionIsolation(), SQL_TXN_SERIALIZABLE);
        EXPECT_TRUE(c->isReadOnly);
        // on the new handle: the login time-out before its connect, the
        // access mode and the isolation level after it
        const int64_t handle = c->Handle;
        std::vector<std::string> onNew;
        for (const auto& [index, args] : calls.Calls()) {
            if (args.empty() || args[0] != handle) continue;
            if (index == 2) onNew.push_back("connect");
            if (index == 10) onNew.push_back(std::to_string(args[1]) + " := " + std::to_string(args[2]));
        }
        ASSERT_GE(onNew.size(), 4u);
        EXPECT_EQ(onNew[0], "103 := 5");
        EXPECT_EQ(onNew[1], "connect");
        std::vector<std::string> after(onNew.begin() + 2, onNew.end());
        EXPECT_NE(std::find(after.begin(), after.end(), "108 := 8"), after.end());
        EXPECT_NE(std::find(after.begin(), after.end(), "101 := 1"), after.end());
        c->Destroy();
    }
}

}  // namespace
