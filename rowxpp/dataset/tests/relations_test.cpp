// Child data sets that follow their parent, closing and cancelling down the
// tree, cancellation of running fills from another thread, the query
// time-out on every re-fill, and a parent and child used by two threads.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <future>
#include <thread>

#include "dataset_support.h"
#include "xpp/functions.h"
#include "xpp/testing.h"

using namespace rowxpp;
using namespace rowxpp_test;

namespace {

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

// Customers 1 and 2 share the group 1, customer 3 has group 2; each group
// has its orders.
std::shared_ptr<SQLConnection> WithCustomers(const char* dsn) {
    auto c = Connected(dsn);
    if (c->Handle == 0) return c;
    c->Execute("DROP TABLE dsord");
    c->Execute("DROP TABLE dscust");
    c->Execute("CREATE TABLE dscust (id INTEGER" + KeyClause(dsn) + ", name VARCHAR(10), grp INTEGER)");
    c->Execute("CREATE TABLE dsord (id INTEGER" + KeyClause(dsn) + ", grp INTEGER, amount INTEGER)");
    c->Execute("INSERT INTO dscust VALUES (1, 'a', 1)");
    c->Execute("INSERT INTO dscust VALUES (2, 'b', 1)");
    c->Execute("INSERT INTO dscust VALUES (3, 'c', 2)");
    c->Execute("INSERT INTO dsord VALUES (10, 1, 100)");
    c->Execute("INSERT INTO dsord VALUES (11, 1, 110)");
    c->Execute("INSERT INTO dsord VALUES (20, 2, 200)");
    return c;
}

void DropCustomers(const std::shared_ptr<SQLConnection>& c) {
    c->Execute("DROP TABLE dsord");
    c->Execute("DROP TABLE dscust");
    c->Destroy();
}

const char* kCustomers = "SELECT id, name, grp FROM dscust ORDER BY id";
const char* kOrders = "SELECT id, amount FROM dsord WHERE grp = ? ORDER BY id";

// The orders of the parent's current customer.
std::shared_ptr<SQLDataSet> OrdersOf(const std::shared_ptr<SQLConnection>& c, SQLDataSet* parent) {
    return SQLDataSet::New(kOrders, c, xpp::Block([parent](xpp::Args&) -> xpp::Value {
                               return xpp::Array{parent->FieldGet("grp")};
                           }));
}

int Executions(const CallLog& log) { return log.Count(25) + log.Count(26); }

TEST(DataSetRelations, ChildFollowsItsParentOnSQLiteAndPostgreSQL) {
    for (const char* dsn : {"SQLite", "PostgreSQL"}) {
        SCOPED_TRACE(dsn);
        auto c = WithCustomers(dsn);
        ASSERT_NE(c->Handle, 0);
        auto parent = SQLDataSet::New(kCustomers, c);
        EXPECT_EQ(parent->FetchData(), 3);
        auto child = OrdersOf(c, parent.get());
        parent->SetRelation(child);
        EXPECT_EQ(Ids(*child), (std::vector<int64_t>{10, 11}));
        {
            CallLog log;
            parent->GoTo(2);  // the same group
            EXPECT_TRUE(child->isRefreshNeeded());
            EXPECT_EQ(child->RecCount(), 2);
            EXPECT_EQ(Executions(log), 0);
        }
        {
            CallLog log;
            parent->GoTo(3);
            EXPECT_EQ(Ids(*child), (std::vector<int64_t>{20}));
            EXPECT_EQ(Executions(log), 1);
            EXPECT_EQ(child->RecCount(), 1);
            EXPECT_EQ(Executions(log), 1);
        }
        // a child made on customer 1 and first read after the parent moved
        parent->GoTo(1);
        auto late = OrdersOf(c, parent.get());
        parent->SetRelation(late);
        parent->GoTo(3);
        EXPECT_EQ(Ids(*late), (std::vector<int64_t>{20}));
        // a change of the parent marks the children before it is stored
        late->GoTop();
        EXPECT_FALSE(late->isRefreshNeeded());
        parent->FieldPut("name", "z");
        EXPECT_TRUE(late->isRefreshNeeded());

        // Close reaches the grandchild
        auto grandchild = SQLDataSet::New(kCustomers, c);
        EXPECT_EQ(grandchild->FetchData(), 3);
        child->SetRelation(grandchild);
        child->GoTop();
        parent->Close();
        EXPECT_EQ(child->DataSet.Len(), 0u);
        EXPECT_EQ(grandchild->DataSet.Len(), 0u);
        EXPECT_TRUE(grandchild->isCursorClosed());
        EXPECT_TRUE(grandchild->Bof() && grandchild->Eof());
        // without the relation the former children stay filled
        EXPECT_EQ(parent->FetchData(), 3);
        EXPECT_EQ(child->RecCount(), 2);
        parent->ClearRelation();
        parent->Close();
        EXPECT_EQ(child->DataSet.Len(), 2u);
        EXPECT_EQ(c->ActiveStatements(), 0u);
        child->ClearRelation();
        for (auto& ds : {parent, child, late, grandchild}) ds->Destroy();
        DropCustomers(c);
    }
}

TEST(DataSetRelations, CycleClosesCancelsAndSetsOnce) {
    auto c = WithCustomers("SQLite");
    ASSERT_NE(c->Handle, 0);
    xpp::testing::TestClock clock(2460000, 1000);
    auto kept = xpp::testing::SetClock(&clock);
    auto a = SQLDataSet::New(kCustomers, c);
    auto b = SQLDataSet::New(kCustomers, c);
    a->SetRelation(b);
    b->SetRelation(a);
    EXPECT_TRUE(ISEQUAL(a->QueryTimeout(7), 7));
    EXPECT_EQ(b->nQueryTimeout, 7);
    EXPECT_EQ(a->Cursor()->nQueryTimeout, 7);
    EXPECT_EQ(b->Cursor()->nQueryTimeout, 7);
    EXPECT_TRUE(ISEQUAL(a->QueryTimeout("x"), 7));
    EXPECT_TRUE(ISEQUAL(a->DisplayErrors(false), false));
    EXPECT_FALSE(b->Cursor()->DisplayErrors);
    EXPECT_TRUE(a->Cancel());
    EXPECT_TRUE(b->isCancelled);
    EXPECT_TRUE(clock.Sleeps().empty());  // neither executes: no wait
    EXPECT_TRUE(a->Close());
    EXPECT_TRUE(b->isCursorClosed());
    xpp::testing::SetClock(kept);
    a->ClearRelation();
    b->ClearRelation();
    DropCustomers(c);
}

TEST(DataSetCancel, MillionRowFillStoppedFromAnotherThread) {
    auto c = Connected("SQLite");
    ASSERT_NE(c->Handle, 0);
    std::promise<void> latch;
    std::atomic<int64_t> seen{0};
    auto ds = SQLDataSet::New(
        "WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n WHERE x < 1000000) SELECT x FROM n", c, {},
        {}, {}, {}, xpp::Block([&](xpp::Args&) -> xpp::Value {
            if (++seen == 10000) latch.set_value();
            return true;
        }));
    std::thread canceller([&] {
        latch.get_future().wait();
        ds->Cancel();
    });
    int64_t n = ds->FetchData();
    canceller.join();
    EXPECT_GE(n, 10000);
    EXPECT_LT(n, 1000000);
    EXPECT_TRUE(ds->isTruncated());
    EXPECT_TRUE(ds->isCancelled);
    EXPECT_EQ(c->ActiveStatements(), 0u);
    ds->Destroy();
    c->Destroy();
}

TEST(DataSetCancel, SleepingStatementCancelledOnTheServer) {
    auto c = Connected("PostgreSQL");
    ASSERT_NE(c->Handle, 0);
    int sleep = 0;
    auto ds = SQLDataSet::New("SELECT pg_sleep(?)", c, xpp::Block([&sleep](xpp::Args&) -> xpp::Value {
                                  return xpp::Array{sleep};
                              }));
    States states;
    ds->onError(states.Block());
    EXPECT_EQ(ds->FetchData(), 1);
    sleep = 10;
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ds->Cancel();
    });
    auto t0 = Clock::now();
    EXPECT_EQ(ds->FetchData(), 0);
    double took = Since(t0);
    canceller.join();
    EXPECT_LT(took, 3.0);
    EXPECT_TRUE(states.Has("57014"));
    EXPECT_TRUE(ds->isTruncated());
    EXPECT_EQ(c->ActiveStatements(), 0u);
    ds->Destroy();
    c->Destroy();
}

TEST(DataSetCancel, QueryTimeoutHoldsForEveryRefill) {
    auto c = Connected("PostgreSQL");
    ASSERT_NE(c->Handle, 0);
    int sleep = 0;
    auto ds = SQLDataSet::New("SELECT pg_sleep(?)", c, xpp::Block([&sleep](xpp::Args&) -> xpp::Value {
                                  return xpp::Array{sleep};
                              }));
    States states;
    ds->onError(states.Block());
    EXPECT_TRUE(ISEQUAL(ds->QueryTimeout(1), 1));
    sleep = 3;
    for (int fill = 1; fill <= 3; ++fill) {
        SCOPED_TRACE(fill);
        states.seen->clear();
        auto t0 = Clock::now();
        EXPECT_EQ(ds->FetchData(), 0);
        double took = Since(t0);
        EXPECT_GT(took, 0.5);
        EXPECT_LT(took, 2.5);
        EXPECT_FALSE(states.seen->empty());
        EXPECT_TRUE(ds->isRefreshNeeded());
    }
    ds->Destroy();
    c->Destroy();
}

// Fills of 2,000 rows while another thread cancels over and over, its
// wait made instant by the test clock: every fill ends clean, with the
// driver manager's own SQLCancel, and leaves no statement behind.
TEST(DataSetCancel, FillsRacedByCancelStayClean) {
    const char* counting =
        "WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n WHERE x < 2000) SELECT x FROM n";
    for (const char* dsn : {"PostgreSQL", "SQLite"}) {
        SCOPED_TRACE(dsn);
        auto c = Connected(dsn);
        ASSERT_NE(c->Handle, 0);
        xpp::testing::TestClock clock(2460000, 1000);
        auto kept = xpp::testing::SetClock(&clock);
        auto ds = SQLDataSet::New(counting, c);
        States states;
        ds->onError(states.Block());
        std::atomic<bool> done{false};
        std::atomic<int> cancels{0};
        std::thread canceller([&] {
            while (!done) {
                ds->Cancel();
                ++cancels;
                std::this_thread::yield();
            }
        });
        int fills = 0;
        while ((fills < 50 || cancels.load() < 500) && fills < 100000) {
            ds->isCancelled = false;
            int64_t n = ds->FetchData();
            EXPECT_GE(n, 0);
            EXPECT_LE(n, 2000);
            ++fills;
        }
        done = true;
        canceller.join();
        xpp::testing::SetClock(kept);
        EXPECT_GE(cancels.load(), 500);
        EXPECT_EQ(c->ActiveStatements(), 0u);
        // the data set goes on as before
        ds->isCancelled = false;
        EXPECT_EQ(ds->FetchData(), 2000);
        EXPECT_EQ(c->ActiveStatements(), 0u);
        ds->Destroy();
        c->Destroy();
    }
}

TEST(DataSetThreads, ParentMovedInOneThreadChildReadInAnother) {
    auto c = WithCustomers("SQLite");
    ASSERT_NE(c->Handle, 0);
    auto parent = SQLDataSet::New(kCustomers, c);
    ASSERT_EQ(parent->FetchData(), 3);
    auto child = OrdersOf(c, parent.get());
    parent->SetRelation(child);
    auto mover = std::async(std::launch::async, [&] {
        for (int i = 0; i < 1000; ++i) {
            parent->GoTo(1 + i % 3);
            std::string name = "n";
            name += std::to_string(i % 10);
            parent->FieldPut("name", name);
        }
    });
    auto reader = std::async(std::launch::async, [&] {
        int64_t rows = 0;
        for (int i = 0; i < 1000; ++i) {
            rows += child->RecCount();
            child->FieldGet("amount");
        }
        return rows;
    });
    auto deadline = Clock::now() + std::chrono::seconds(120);
    if (mover.wait_until(deadline) != std::future_status::ready ||
        reader.wait_until(deadline) != std::future_status::ready) {
        ADD_FAILURE() << "parent and child threads did not finish";
        std::abort();
    }
    mover.get();
    EXPECT_GE(reader.get(), 1000);
    parent->ClearRelation();
    parent->Destroy();
    child->Destroy();
    DropCustomers(c);
}

}  // namespace
