// A cursor on a PostgreSQL connection that is lost and reconnected by the
// default error handler: rebuilt through its own Prepare, run again once,
// its columns described once.
#include <gtest/gtest.h>

#include <filesystem>

#include "cursor_support.h"
#include "error_support.h"
#include "xpp/functions.h"

using namespace rowxpp;
using namespace rowxpp_test;
using kivodbc::testing::TestDataSources;

namespace {

class ReconnectCursor : public ErrorLogTest {
protected:
    void SetUp() override {
        ErrorLogTest::SetUp();
        c = WithKinds(Kinds()[1]);
        ASSERT_NE(c->Handle, 0);
        // the fixture's own DROP of a missing table is no part of the tests
        std::filesystem::remove(folder_ / "SQLError.LOG");
        flashed.clear();
    }
    void TearDown() override {
        if (c) c->Destroy();
        ErrorLogTest::TearDown();
    }
    std::shared_ptr<SQLConnection> c;
};

// SQLDescribeCol calls on the handle `handle`.
int DescribedOn(const CallLog& calls, int64_t handle) {
    int n = 0;
    for (const auto& args : calls.ArgumentsOf(34)) n += args.at(0) == handle;
    return n;
}

TEST_F(ReconnectCursor, APreparedCursorIsDescribedAgainByItsOwnPrepareAndRunOnce) {
    auto cursor = c->Cursor(kKindsSelect);
    ASSERT_TRUE(cursor->Prepare());
    ASSERT_NE(cursor->Execute(), kExecFailed);
    int64_t bound = cursor->BoundColumns();
    ASSERT_GT(bound, 0);
    int64_t concurrency = cursor->GetAttribute(SQL_ATTR_CONCURRENCY).Int();
    ASSERT_TRUE(cursor->Close());
    ASSERT_NO_FATAL_FAILURE(LoseConnection(TestDataSources::Get().Admin(), c->Handle));

    CallLog calls;
    EXPECT_NE(cursor->Execute(), kExecFailed);
    std::string log = Read();
    EXPECT_EQ(Count(log, "= SQL ERROR ="), 1u) << log;
    EXPECT_EQ(Count(log, "RECONNECTED SUCCESSFULLY"), 1u) << log;
    EXPECT_EQ(DescribedOn(calls, cursor->Handle), 11) << "described by the cursor's Prepare, once";
    EXPECT_EQ(calls.Count(20), 1);
    EXPECT_EQ(calls.Count(25), 2) << "the failed execution and the one after the reconnection";
    EXPECT_TRUE(cursor->isPrepared);
    EXPECT_TRUE(cursor->isCursorOpen);
    EXPECT_EQ(cursor->BoundColumns(), bound);
    EXPECT_EQ(cursor->FCount(), 11);
    EXPECT_EQ(cursor->FieldPos("LABEL"), 2);
    EXPECT_EQ(cursor->GetAttribute(SQL_ATTR_CONCURRENCY).Int(), concurrency);
    EXPECT_TRUE(cursor->Cargo_.IsNil());
    EXPECT_TRUE(cursor->Close());
    EXPECT_EQ(Count(Read(), "= SQL ERROR ="), 1u) << Read();
    EXPECT_NE(cursor->Execute(), kExecFailed);
}

TEST_F(ReconnectCursor, ACursorRunAgainWithoutPreparationDescribesItsColumnsOnce) {
    auto cursor = c->Cursor(kKindsSelect);
    ASSERT_NE(cursor->Execute(), kExecFailed);
    ASSERT_FALSE(cursor->isPrepared);
    int64_t bound = cursor->BoundColumns();
    ASSERT_TRUE(cursor->Close());
    ASSERT_NO_FATAL_FAILURE(LoseConnection(TestDataSources::Get().Admin(), c->Handle));

    CallLog calls;
    EXPECT_NE(cursor->Execute(), kExecFailed);
    EXPECT_EQ(Count(Read(), "RECONNECTED SUCCESSFULLY"), 1u) << Read();
    EXPECT_EQ(calls.Count(20), 0) << "never prepared, not prepared now";
    EXPECT_EQ(calls.Count(26), 2);
    EXPECT_EQ(DescribedOn(calls, cursor->Handle), 11) << "the columns of the new run, described once";
    EXPECT_FALSE(cursor->isPrepared);
    EXPECT_TRUE(cursor->isCursorOpen);
    EXPECT_EQ(cursor->BoundColumns(), bound);
    EXPECT_EQ(cursor->FCount(), 11);
}

// An open cursor is closed before it runs again; when the lost connection
// makes that close fail, the close is reported (and reconnects), and the
// cursor then runs once on the new connection instead of failing with an
// invalid cursor state.
TEST_F(ReconnectCursor, AnOpenCursorWhoseCloseMeetsTheLossRunsOnceOnTheNewConnection) {
    auto cursor = c->Cursor(kKindsSelect);
    ASSERT_NE(cursor->Execute(), kExecFailed);
    ASSERT_TRUE(cursor->isCursorOpen);
    ASSERT_NO_FATAL_FAILURE(LoseConnection(TestDataSources::Get().Admin(), c->Handle));

    CallLog calls;
    EXPECT_NE(cursor->Execute(), kExecFailed);
    std::string log = Read();
    EXPECT_EQ(Count(log, "= SQL ERROR ="), 1u) << log;
    EXPECT_EQ(Count(log, "RECONNECTED SUCCESSFULLY"), 1u) << log;
    EXPECT_EQ(log.find("24000"), std::string::npos) << log;
    EXPECT_EQ(calls.Count(26), 1) << "run once, on the new handle";
    EXPECT_EQ(DescribedOn(calls, cursor->Handle), 11);
    EXPECT_TRUE(cursor->isCursorOpen);
    EXPECT_EQ(cursor->FCount(), 11);
    EXPECT_EQ(cursor->RecNo(), 1);
}

TEST_F(ReconnectCursor, AnOpenCursorRebuiltForAnotherStatementIsClosed) {
    auto cursor = c->Cursor(kKindsSelect);
    ASSERT_NE(cursor->Execute(), kExecFailed);
    ASSERT_TRUE(cursor->isCursorOpen);
    auto other = c->NewStatement("SELECT 1");
    ASSERT_NO_FATAL_FAILURE(LoseConnection(TestDataSources::Get().Admin(), c->Handle));
    EXPECT_NE(other->Execute(), kExecFailed);
    ASSERT_EQ(Count(Read(), "RECONNECTED SUCCESSFULLY"), 1u) << Read();

    // its result set went with the old handle
    EXPECT_FALSE(cursor->isCursorOpen);
    EXPECT_EQ(cursor->SQLString(), kKindsSelect);
    EXPECT_TRUE(cursor->Close());
    EXPECT_EQ(Count(Read(), "= SQL ERROR ="), 1u) << Read();
    EXPECT_NE(cursor->Execute(), kExecFailed);
    EXPECT_TRUE(cursor->isCursorOpen);
    EXPECT_EQ(cursor->FCount(), 11);
    EXPECT_EQ(Count(Read(), "= SQL ERROR ="), 1u) << Read();
}

}  // namespace
