// SQLStatement against the real data sources through unixODBC: the
// lifecycle, execution and its results, the deadlock retry, cancellation
// and the statement members of SQLConnection.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "kiv_odbc_testing/admin_connection.h"
#include "kiv_odbc_testing/data_sources.h"
#include "rowxpp/sql_error.h"
#include "statement_support.h"
#include "xpp/functions.h"
#include "xpp/testing.h"

using namespace rowxpp;
using kivodbc::testing::AdminConnection;
using kivodbc::testing::TestDataSources;
using rowxpp_test::CallLog;
using rowxpp_test::Connected;
using rowxpp_test::Loaded;
using rowxpp_test::Shown;

namespace {

// ------------------------------------------------------------------ lifecycle

TEST(StatementLifecycle, AttributesAreRecordedOnceAndAppliedAgainByReset) {
    auto c = Connected("PostgreSQL");
    auto s = c->NewStatement("SELECT 1");
    ASSERT_NE(s->Handle, 0);
    EXPECT_EQ(c->ActiveStatements(), 1u);
    EXPECT_EQ(s->Connection, c);
    EXPECT_EQ(s->ErrorCode, 0);
    EXPECT_FALSE(s->isPrepared);
    EXPECT_TRUE(s->ParamList.IsNil());
    EXPECT_FALSE(s->isHidden_);
    EXPECT_EQ(s->RecCount(), -1);

    ASSERT_TRUE(s->SetAttribute(SQL_ATTR_QUERY_TIMEOUT, 5));
    ASSERT_TRUE(s->SetAttribute(SQL_ATTR_QUERY_TIMEOUT, 10));
    ASSERT_TRUE(s->SetAttribute(SQL_ATTR_MAX_ROWS, 50));
    EXPECT_EQ(xpp::Var2Char(s->Attributes), "{{0, 10}, {1, 50}}");
    ASSERT_TRUE(s->SetAttribute(SQL_ATTR_QUERY_TIMEOUT, 7.9));
    EXPECT_EQ(xpp::Var2Char(s->Attributes), "{{0, 7}, {1, 50}}");
    EXPECT_EQ(s->GetAttribute(SQL_ATTR_QUERY_TIMEOUT).Int(), 7);

    ASSERT_TRUE(s->Prepare());
    EXPECT_TRUE(s->isPrepared);
    CallLog log;
    s->Reset("SELECT 2   ");
    EXPECT_EQ(s->SQLString(), "SELECT 2");
    EXPECT_FALSE(s->isPrepared);
    EXPECT_NE(s->Handle, 0);
    // the attributes were set again on the new handle, in their order
    auto sets = log.ArgumentsOf(14);
    ASSERT_EQ(sets.size(), 2u);
    EXPECT_EQ(sets[0][0], s->Handle);
    EXPECT_EQ(sets[0][1], SQL_ATTR_QUERY_TIMEOUT);
    EXPECT_EQ(sets[0][2], 7);
    EXPECT_EQ(sets[1][1], SQL_ATTR_MAX_ROWS);
    EXPECT_EQ(s->GetAttribute(SQL_ATTR_QUERY_TIMEOUT).Int(), 7);
    EXPECT_EQ(s->GetAttribute(SQL_ATTR_MAX_ROWS).Int(), 50);
    EXPECT_EQ(xpp::Var2Char(s->Attributes), "{{0, 7}, {1, 50}}");

    s->Reset(xpp::Value(), true);
    EXPECT_EQ(s->SQLString(), "");
    EXPECT_EQ(s->Attributes.Len(), 0u);
    EXPECT_EQ(s->GetAttribute(SQL_ATTR_QUERY_TIMEOUT).Int(), 0);

    s->SQLString("SELECT 3  ");
    EXPECT_EQ(s->SQLString(), "SELECT 3");
    s->SQLString(5);
    EXPECT_EQ(s->SQLString(), "SELECT 3");
    // A prepared statement given a new text is reset: not prepared any more.
    ASSERT_TRUE(s->Prepare());
    s->SQLString("SELECT 4");
    EXPECT_FALSE(s->isPrepared);
    EXPECT_EQ(s->SQLString(), "SELECT 4");

    EXPECT_EQ(c->ActiveStatements(), 1u);
    s->Destroy();
    EXPECT_EQ(c->ActiveStatements(), 0u);
    EXPECT_EQ(s->Handle, 0);
    EXPECT_EQ(s->SQLString(), "");
    c->Destroy();
}

TEST(StatementLifecycle, WithoutAHandleNothingIsCalled) {
    Loaded();
    auto unconnected = SQLConnection::New();
    auto s = SQLStatement::New("SELECT 1", xpp::Value(unconnected));
    EXPECT_EQ(s->Handle, 0);
    EXPECT_EQ(s->Connection, unconnected);
    EXPECT_EQ(unconnected->ActiveStatements(), 0u);
    CallLog log;
    EXPECT_TRUE(s->Cancel());
    EXPECT_FALSE(s->SetAttribute(SQL_ATTR_QUERY_TIMEOUT, 1));
    EXPECT_TRUE(s->GetAttribute(SQL_ATTR_QUERY_TIMEOUT).IsNil());
    EXPECT_FALSE(s->Prepare());
    EXPECT_EQ(log.Total(), 0u);
    unconnected->Destroy();
}

TEST(StatementLifecycle, AThreadWithoutAConnectionConnectsToTheDefaultSource) {
    Loaded();
    std::string dataSource, dbms;
    int64_t handle = 0;
    size_t listed = 0;
    std::thread([&] {
        auto s = SQLStatement::New("SELECT 1");
        handle = s->Handle;
        dataSource = s->Connection->DataSource.Str();
        dbms = s->Connection->DbmsName.Str();
        listed = s->Connection->ActiveStatements();
        // another statement of the thread takes the same connection
        auto t = SQLStatement::New("SELECT 2");
        EXPECT_EQ(t->Connection, s->Connection);
        s->Connection->Destroy();
    }).join();
    EXPECT_NE(handle, 0);
    EXPECT_EQ(dataSource, "DEFAULT");
    EXPECT_EQ(dbms, "SQLite");
    EXPECT_EQ(listed, 1u);
}

TEST(StatementLifecycle, TheConnectionRunsOneShotStatementsAndDisconnectDestroysItsOwn) {
    auto c = Connected("SQLite");
    auto kept = c->NewStatement("SELECT 1");
    EXPECT_EQ(c->ActiveStatements(), 1u);
    c->AddStatement(xpp::Value(kept));
    EXPECT_EQ(c->ActiveStatements(), 1u);
    c->Execute("DROP TABLE oneshot");
    EXPECT_EQ(c->Execute("CREATE TABLE oneshot (a INTEGER, b TEXT)"), 0);
    EXPECT_EQ(c->Execute("INSERT INTO oneshot VALUES (?, ?)", xpp::Array{1, "one"}), 1);
    EXPECT_EQ(c->Execute("UPDATE oneshot SET b = 'x' WHERE a = ?", 1), 1);
    EXPECT_EQ(c->ActiveStatements(), 1u);
    auto other = c->NewStatement("SELECT 2");
    EXPECT_EQ(c->ActiveStatements(), 2u);
    ASSERT_TRUE(c->Disconnect());
    EXPECT_EQ(c->ActiveStatements(), 0u);
    EXPECT_EQ(kept->Handle, 0);
    EXPECT_EQ(other->Handle, 0);
    EXPECT_EQ(kept->SQLString(), "");
    c->Destroy();
}

// One-shot statements: each runs on the connection asked, reports through
// that connection's onError under the class's DisplayErrors of the moment,
// and a statement the error handler still holds after its Execute is never
// handed to a later one.
TEST(StatementLifecycle, OneShotStatementsBelongToTheirCallAlone) {
    auto lite = Connected("SQLite");
    auto pg = Connected("PostgreSQL");
    lite->Execute("DROP TABLE IF EXISTS oneshot_owner");
    pg->Execute("DROP TABLE IF EXISTS oneshot_owner");
    ASSERT_EQ(lite->Execute("CREATE TABLE oneshot_owner (a INTEGER)"), 0);
    SQLCONNECTION().SetVar("DisplayErrors", true);
    std::vector<std::string> liteSeen, pgSeen;
    std::shared_ptr<SQLStatement> held;
    lite->onError = xpp::Block([&](xpp::Args& a) {
        liteSeen.push_back(a[2].Str());
        held = a[1].As<SQLStatement>();
        return xpp::Value();
    });
    pg->onError = xpp::Block([&](xpp::Args& a) {
        pgSeen.push_back(a[2].Str());
        return xpp::Value();
    });
    // the table exists on SQLite only: each statement must run where asked
    EXPECT_EQ(lite->Execute("INSERT INTO oneshot_owner VALUES (?)", 1), 1);
    EXPECT_EQ(pg->Execute("INSERT INTO oneshot_owner VALUES (?)", 2), kExecFailed);
    EXPECT_EQ(lite->Execute("INSERT INTO oneshot_owner VALUES (?)", 3), 1);
    EXPECT_EQ(pgSeen.size(), 1u);
    EXPECT_TRUE(liteSeen.empty());

    // a failure on SQLite: its handler keeps the statement
    EXPECT_EQ(lite->Execute("INSERT INTO no_such_table VALUES (?)", 4), kExecFailed);
    ASSERT_EQ(liteSeen.size(), 1u);
    ASSERT_TRUE(held);
    EXPECT_EQ(pgSeen.size(), 1u);
    EXPECT_EQ(held->Handle, 0);
    EXPECT_EQ(held->SQLString(), "");
    EXPECT_EQ(held->Connection, lite);
    // later executions leave the held statement as its drop left it
    for (int i = 5; i <= 6; ++i) EXPECT_EQ(lite->Execute("INSERT INTO oneshot_owner VALUES (?)", i), 1);
    EXPECT_EQ(held->Handle, 0);
    EXPECT_EQ(held->SQLString(), "");
    EXPECT_TRUE(held->ParamList.IsNil());
    EXPECT_EQ(held->Connection, lite);
    held.reset();
    EXPECT_EQ(lite->ActiveStatements(), 0u);

    // DisplayErrors of the class as it is at each Execute
    xpp::Class& cls = SQLCONNECTION();
    cls.SetVar("DisplayErrors", false);
    EXPECT_EQ(lite->Execute("INSERT INTO no_such_table VALUES (1)"), kExecFailed);
    EXPECT_EQ(liteSeen.size(), 1u);
    cls.SetVar("DisplayErrors", true);
    EXPECT_EQ(lite->Execute("INSERT INTO no_such_table VALUES (1)"), kExecFailed);
    EXPECT_EQ(liteSeen.size(), 2u);

    auto rows = kivodbc::testing::QueryOn(rowxpp::ToHandle(lite->Handle), "SELECT a FROM oneshot_owner ORDER BY a");
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[3][0].value_or(""), "6");
    lite->Execute("DROP TABLE oneshot_owner");
    pg->Destroy();
    lite->Destroy();
}

// The statement a one-shot execution keeps for the thread's next one does
// not keep its connection alive.
TEST(StatementLifecycle, AConnectionLetGoAfterAOneShotStatementIsFreed) {
    std::weak_ptr<SQLConnection> let;
    {
        auto c = Connected("SQLite");
        c->Execute("SELECT 1");
        let = c;
        c->Destroy();
    }
    EXPECT_TRUE(let.expired());
}

// ------------------------------------------------------------------ execution

TEST(StatementExecution, ResultsOnPostgres) {
    auto c = Connected("PostgreSQL");
    c->Execute("DROP TABLE IF EXISTS results");
    ASSERT_EQ(c->Execute("CREATE TABLE results (a INTEGER, b INTEGER)"), 0);
    auto s = c->NewStatement("INSERT INTO results VALUES (?, ?)");
    EXPECT_EQ(s->Execute({1, 2}), 1);
    EXPECT_EQ(s->RecCount(), 1);
    s->SQLString("UPDATE results SET b = 0 WHERE a = 99");
    EXPECT_EQ(s->Execute(), 0);
    EXPECT_EQ(s->ErrorCode, SQL_NO_DATA);
    EXPECT_EQ(s->RecCount(), 0);

    s->SQLString("select 1; select 2");
    EXPECT_GE(s->Execute(), -1);
    EXPECT_TRUE(s->MoreResults());
    EXPECT_FALSE(s->MoreResults());
    EXPECT_EQ(s->RecCount(), 0);
    s->Destroy();

    // Without parameters: none, NIL, an empty array.
    for (int form = 0; form < 3; ++form) {
        auto t = c->NewStatement("SELECT count(*) FROM results");
        t->ParamList = "before";
        CallLog log;
        if (form == 0) t->Execute();
        else if (form == 1) t->Execute({xpp::Value()});
        else t->Execute({xpp::Array()});
        EXPECT_TRUE(t->ParamList.IsNil()) << form;
        EXPECT_EQ(log.Count(21), 0) << form;
        EXPECT_EQ(log.Count(26), 1) << form;
        t->Destroy();
    }
    // One array and several values bind the same.
    std::vector<std::vector<int64_t>> binds[2];
    for (int form = 0; form < 2; ++form) {
        auto t = c->NewStatement("SELECT ? + ?");
        CallLog log;
        EXPECT_GE(form == 0 ? t->Execute({xpp::Array{1, 2}}) : t->Execute({1, 2}), -1);
        EXPECT_EQ(xpp::Var2Char(t->ParamList), "{1, 2}");
        for (const auto& b : log.Binds()) binds[form].push_back({b.number, b.cType, b.sqlType, b.size, b.indicator});
        t->Destroy();
    }
    EXPECT_EQ(binds[0].size(), 2u);
    EXPECT_EQ(binds[0], binds[1]);

    // A prepared statement runs with SQLExecute, again and again.
    auto p = c->NewStatement();
    ASSERT_TRUE(p->Prepare("INSERT INTO results VALUES (?, ?)"));
    {
        CallLog log;
        for (int i = 10; i < 13; ++i) EXPECT_EQ(p->Execute({i, i}), 1);
        EXPECT_EQ(log.Count(25), 3);
        EXPECT_EQ(log.Count(26), 0);
    }
    p->Destroy();
    EXPECT_EQ(c->Execute("DELETE FROM results"), 4);
    c->Execute("DROP TABLE results");
    c->Destroy();
}

TEST(StatementExecution, AHiddenStatementKeepsAnInvalidCursorNameQuiet) {
    auto c = Connected("PostgreSQL");
    for (bool hidden : {true, false}) {
        SCOPED_TRACE(hidden);
        auto s = c->NewStatement("CLOSE nosuch");
        Shown shown;
        shown.Catch(s->onError);
        s->isHidden_ = hidden;
        EXPECT_EQ(s->Execute(), hidden ? kExecHidden34000 : kExecFailed);
        if (hidden) {
            EXPECT_TRUE(shown.states.empty());
        } else {
            ASSERT_EQ(shown.states.size(), 1u);
            EXPECT_EQ(shown.states[0], "34000");
        }
        s->Destroy();
    }
    c->Destroy();
}

TEST(StatementExecution, ErrorsAreShownOnceAndTheMessageReadsTheLastOne) {
    auto c = Connected("SQLite");
    auto s = c->NewStatement("SELECT * FROM no_such_table");
    Shown shown;
    shown.Catch(s->onError);
    EXPECT_EQ(s->Execute(), kExecFailed);
    ASSERT_EQ(shown.states.size(), 1u);
    EXPECT_NE(shown.reports[0].find("no_such_table"), std::string::npos);
    EXPECT_NE(s->ErrorMessage().find("no_such_table"), std::string::npos);
    EXPECT_EQ(shown.states.size(), 1u);
    s->DisplayErrors = false;
    EXPECT_EQ(s->Execute(), kExecFailed);
    EXPECT_EQ(shown.states.size(), 1u);
    s->Destroy();
    // A statement without handle gets SQL_INVALID_HANDLE from the driver manager.
    auto u = SQLConnection::New();
    auto n = SQLStatement::New("SELECT 1", xpp::Value(u));
    n->DisplayErrors = false;
    EXPECT_EQ(n->Execute(), kExecFailed);
    EXPECT_EQ(n->ErrorCode, 65534);
    u->Destroy();
    c->Destroy();
}

// ------------------------------------------------------- the deadlock retry

class SerializationFailure : public ::testing::Test {
protected:
    void SetUp() override {
        c_ = Connected("PostgreSQL");
        ASSERT_NE(c_->Handle, 0);
        c_->Execute("DROP TABLE IF EXISTS contested");
        ASSERT_EQ(c_->Execute("CREATE TABLE contested (id INTEGER PRIMARY KEY, v INTEGER)"), 0);
        ASSERT_EQ(c_->Execute("INSERT INTO contested VALUES (1, 0)"), 1);
        ASSERT_TRUE(c_->TransactionIsolation(SQL_TXN_SERIALIZABLE));
    }
    void TearDown() override {
        if (c_) {
            c_->Execute("DROP TABLE IF EXISTS contested");
            c_->Destroy();
        }
    }

    // Runs the UPDATE of `statement` while another session holds the row and
    // commits its own change as soon as the UPDATE waits for it.
    int64_t ExecuteAgainstACommittedChange(SQLStatement& statement) {
        TestDataSources& sources = TestDataSources::Get();
        AdminConnection blocker(sources.Server(), sources.PostgresDatabase());
        SQLSetConnectAttr(blocker.Handle(), SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0);
        blocker.Execute("UPDATE contested SET v = v + 1 WHERE id = 1");
        int pid = kivodbc::testing::BackendPidOf(ToHandle(c_->Handle));
        std::thread committer([&] {
            AdminConnection watcher(sources.Server(), sources.PostgresDatabase());
            for (int i = 0; i < 500; ++i) {
                auto rows = watcher.Query("SELECT wait_event_type FROM pg_stat_activity WHERE pid = ?",
                                          {std::to_string(pid)});
                if (!rows.empty() && rows[0][0] && *rows[0][0] == "Lock") break;
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            SQLEndTran(SQL_HANDLE_DBC, blocker.Handle(), SQL_COMMIT);
        });
        int64_t result = statement.Execute();
        committer.join();
        return result;
    }

    // What one UPDATE against a committed change came to.
    struct Outcome {
        int64_t result = 0;
        int executions = 0;
        std::vector<int64_t> pauses;
        std::vector<std::string> shown;
    };
    // Runs it with the runtime's clock at `msSinceMidnight`.
    Outcome Run(int64_t msSinceMidnight) {
        xpp::testing::TestClock clock(xpp::Date::FromYMD(2024, 5, 6).Julian(), msSinceMidnight);
        xpp::testing::Clock* kept = xpp::testing::SetClock(&clock);
        auto s = c_->NewStatement("UPDATE contested SET v = v + 10 WHERE id = 1");
        Shown shown;
        shown.Catch(s->onError);
        Outcome o;
        {
            CallLog log;
            o.result = ExecuteAgainstACommittedChange(*s);
            o.executions = log.Count(26);
        }
        xpp::testing::SetClock(kept);
        o.pauses = clock.Sleeps();
        o.shown = shown.states;
        s->Destroy();
        return o;
    }

    std::shared_ptr<SQLConnection> c_;
};

TEST_F(SerializationFailure, OutsideATransactionTheUpdateIsExecutedOnceMoreAfterAPause) {
    Outcome o = Run((10 * 3600 + 30 * 60 + 1) * 1000LL + 230);
    EXPECT_EQ(o.result, 1);
    EXPECT_EQ(o.executions, 2);
    // 10:30:01.23: 3780123 hundredths, mod 400 is 123, and 40 more
    EXPECT_EQ(o.pauses, std::vector<int64_t>{163});
    EXPECT_TRUE(o.shown.empty());
    EXPECT_EQ(kivodbc::testing::ScalarOn(ToHandle(c_->Handle), "SELECT v FROM contested"), "11");
}

TEST_F(SerializationFailure, InsideATransactionOrWithoutRetryItRunsOnce) {
    for (bool inTransaction : {true, false}) {
        SCOPED_TRACE(inTransaction);
        if (inTransaction) ASSERT_TRUE(c_->BeginTransaction());
        else c_->RetryDeadlockVictim = false;
        Outcome o = Run(0);
        EXPECT_EQ(o.result, kExecFailed);
        EXPECT_EQ(o.executions, 1);
        EXPECT_TRUE(o.pauses.empty());
        EXPECT_EQ(o.shown, std::vector<std::string>{"40001"});
        if (inTransaction) c_->RollbackTransaction(), c_->EndTransaction();
        c_->RetryDeadlockVictim = true;
    }
}

// A retry that the driver answers with SQL_NEED_DATA (seam: the first
// execution fails as a serialization victim, the second asks for data) is
// cancelled, not left waiting for data that never comes.
TEST(DeadlockRetry, ARetryLeftWaitingForDataIsCancelled) {
    auto c = Connected("SQLite");
    auto s = c->NewStatement("SELECT 1");
    s->DisplayErrors = false;
    xpp::testing::TestClock clock(xpp::Date::FromYMD(2024, 5, 6).Julian(), 0);
    xpp::testing::Clock* kept = xpp::testing::SetClock(&clock);
    int executions = 0;
    int64_t result = 0;
    int cancels = 0;
    {
        CallLog log([&executions](int index, const std::vector<int64_t>& args) -> std::optional<int64_t> {
            if (index == 26) return ++executions == 1 ? 65535 : SQL_NEED_DATA;
            if (index == 43 && args[3] == SQL_DIAG_SQLSTATE) {
                std::memcpy(reinterpret_cast<char*>(args[4]), "40001", 6);
                return SQL_SUCCESS;
            }
            return std::nullopt;
        });
        result = s->Execute();
        cancels = log.Count(57);
    }
    xpp::testing::SetClock(kept);
    EXPECT_EQ(executions, 2);
    EXPECT_EQ(cancels, 1);
    EXPECT_EQ(result, kExecFailed);
    EXPECT_EQ(clock.Sleeps().size(), 1u);
    // the statement is usable again
    EXPECT_GE(s->Execute(), -1);
    EXPECT_EQ(s->ErrorCode, SQL_SUCCESS);
    s->Destroy();
    c->Destroy();
}

// ------------------------------------------------------------ cancellation

struct CancelCase {
    const char* dsn;
    const char* sql;
    const char* state;
    const char* messagePart;
};

TEST(StatementCancel, ASecondThreadStopsALongStatement) {
    for (const CancelCase& k :
         {CancelCase{"PostgreSQL", "SELECT pg_sleep(10)", "57014", "cancel"},
          CancelCase{"SQLite",
                     "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 2000000000) "
                     "SELECT count(*) FROM n",
                     "HY000", "interrupted"}}) {
        SCOPED_TRACE(k.dsn);
        auto c = Connected(k.dsn);
        auto s = c->NewStatement(k.sql);
        Shown shown;
        shown.Catch(s->onError);
        std::atomic<bool> done{false};
        std::atomic<bool> cancelled{false};
        std::thread canceller([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            while (!done) {
                cancelled = s->Cancel();
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        });
        auto started = std::chrono::steady_clock::now();
        int64_t result = s->Execute();
        done = true;
        canceller.join();
        auto took = std::chrono::steady_clock::now() - started;
        EXPECT_LT(took, std::chrono::seconds(2));
        EXPECT_TRUE(cancelled);
        EXPECT_EQ(result, kExecFailed);
        ASSERT_FALSE(shown.states.empty());
        EXPECT_EQ(shown.states[0], k.state);
        EXPECT_NE(shown.reports[0].find(k.messagePart), std::string::npos) << shown.reports[0];
        s->Destroy();
        c->Destroy();
    }
}

}  // namespace
