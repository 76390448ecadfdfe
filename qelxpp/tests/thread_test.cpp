// Threads: ids beyond the 32 rows of the module state, the thread-end block
// of the library, and work of several threads at once.
#include <unistd.h>

#include <cstdio>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "state.h"
#include "support.h"

using namespace qelxpp;
using qeltest::QelTest;
using xpp::Value;
namespace qt = qelxpp::testing;

namespace {

using qeltest::InThread;

// Holds every row of the module state but the main thread's: workers that
// have each called the library wait until the holder goes. The next thread
// to call the library is the 33rd at once.
class AllRowsHeld {
public:
    AllRowsHeld() {
        for (int i = 1; i < kMaxThreads; ++i) {
            workers_.push_back(xpp::Thread::New());
            workers_.back()->start(xpp::Block([this](xpp::Args&) {
                SELECT();
                ++holding_;
                while (!release_.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
                return Value();
            }));
        }
        while (holding_.load() < kMaxThreads - 1) std::this_thread::yield();
    }
    ~AllRowsHeld() {
        release_ = true;
        for (auto& w : workers_) w->synchronize();
    }
    AllRowsHeld(const AllRowsHeld&) = delete;
    AllRowsHeld& operator=(const AllRowsHeld&) = delete;

private:
    std::vector<std::shared_ptr<xpp::Thread>> workers_;
    std::atomic<int> holding_{0};
    std::atomic<bool> release_{false};
};

// A test whose refusals end the program, or that leaves threads held, runs
// in a child process of its own. `body` answers what went wrong ("" when
// nothing did); the child's exit code carries it.
void InChildProcess(const std::function<std::string()>& body) {
    EXPECT_EXIT(
        {
            std::string problems = body();
            std::fputs(problems.c_str(), stderr);
            std::fflush(stderr);
            _exit(problems.empty() ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

// Notes a failed check in the child.
#define CHECK_IN_CHILD(cond) \
    if (!(cond)) problems += std::string("failed: ") + #cond + "\n"

xpp::Array Struct1() {
    return xpp::Array{Value(xpp::Array{Value("NAME"), Value("C"), Value(10), Value(0)})};
}

class ThreadTest : public QelTest {
protected:
    void SetUp() override {
        QelTest::SetUp();
        ASSERT_TRUE(QELLOADDLL().Log());
        QELSETTABLETYPE(2);
    }
};

TEST_F(ThreadTest, ThreadIdAboveThirtyTwoIsRefusedWithoutTouchingAnything) {
    ASSERT_TRUE(DBCREATE("T33.DBF", Struct1()).Log());
    ASSERT_TRUE(DBUSEAREA(true, Value(), "T33.DBF").Log());
    const int64_t handle = qt::WorkAreaRecord(1).Arr().Get(WA_TABLE).Int();
    InChildProcess([&] {
        std::string problems;
        AllRowsHeld held;
        struct Call {
            const char* name;
            std::function<Value()> fn;
            Value failure;
        };
        const std::vector<Call> calls = {
            {"QELLOADDLL", [] { return QELLOADDLL(); }, false},
            {"QELUNLOADDLL", [] { return QELUNLOADDLL(); }, false},
            {"QELSETSERVERTYPE", [] { return QELSETSERVERTYPE(); }, false},
            {"QELSETTABLETYPE", [] { return QELSETTABLETYPE(3); }, 2},  // the type stays
            {"QELGETCONNECTIONTYPE", [] { return QELGETCONNECTIONTYPE(); }, 0},
            {"QELINSTALLINFO", [] { return QELINSTALLINFO(); }, ""},
            {"QELCONNECT", [] { return QELCONNECT(); }, -1},
            {"QELFINDCONNECTION", [] { return QELFINDCONNECTION(); }, 0},
            {"QELDISCONNECT", [] { return QELDISCONNECT(); }, Value()},
            {"QELBEGINTRANSACTION", [] { return QELBEGINTRANSACTION(); }, false},
            {"QELCOMMITTRANSACTION", [] { return QELCOMMITTRANSACTION(); }, false},
            {"QELROLLBACKTRANSACTION", [] { return QELROLLBACKTRANSACTION(); }, false},
            {"QELINTRANSACTION", [] { return QELINTRANSACTION(); }, false},
            {"QELCONVERTTABLE", [] { return QELCONVERTTABLE(); }, false},
            {"QELDBOPEN", [] { return QELDBOPEN(); }, false},
            {"DBUSEAREA", [] { return DBUSEAREA(true, Value(), "T33.DBF"); }, false},
            {"DBCLOSEAREA", [] { return DBCLOSEAREA(); }, false},
            {"DBCLOSEALL", [] { return DBCLOSEALL(); }, Value()},
            {"DBSELECTAREA", [] { return DBSELECTAREA(1); }, false},
            {"SELECT", [] { return SELECT(); }, 0},
            {"ALIAS", [] { return ALIAS(1); }, ""},
            {"USED", [] { return USED(); }, false},
            {"USEDINDEX", [] { return USEDINDEX(); }, false},
            {"QELGETTABLEHANDLE", [] { return QELGETTABLEHANDLE("T33"); }, 0},
            {"QELCLOSETABLE", [handle] { return QELCLOSETABLE(handle); }, false},
            {"DBCREATE", [] { return DBCREATE("T34.DBF", Struct1()); }, false},
            {"DBZAP", [] { return DBZAP(); }, false},
            {"BOF", [] { return BOF(); }, true},
            {"DBGOTOP", [] { return DBGOTOP(); }, false},
            {"DBSKIP", [] { return DBSKIP(); }, false},
            {"LASTREC", [] { return LASTREC(); }, 0},
            {"DBSKIPPER", [] { return DBSKIPPER(1); }, 0},
            {"DBGOPOSITION", [] { return DBGOPOSITION(50); }, false},
            {"DBSETFILTER", [] { return DBSETFILTER(Value(), "NAME = 'A'"); }, false},
            {"DBFILTER", [] { return DBFILTER(); }, ""},
            {"FLOCK", [] { return FLOCK(); }, false},
            {"DBRLOCK", [] { return DBRLOCK(1); }, false},
            {"DBUNLOCKALL", [] { return DBUNLOCKALL(); }, false},
            {"DBCOMMIT", [] { return DBCOMMIT(); }, false},
            {"DBCOMMITALL", [] { return DBCOMMITALL(); }, false},
            {"DBSTRUCT", [] { return DBSTRUCT(); }, xpp::Array()},
            {"DBAPPEND", [] { return DBAPPEND(); }, false},
            {"DBDELETE", [] { return DBDELETE(); }, false},
            {"DBUNLOCK", [] { return DBUNLOCK(); }, false},
        };
        int id = 0;
        KivTestRecordCalls(1);
        InThread([&] {
            id = xpp::ThreadID();
            std::vector<std::shared_ptr<xpp::Error>> seen;
            xpp::ErrorBlock(xpp::Block([&](xpp::Args& a) {
                seen.push_back(a.Get(1).As<xpp::Error>());
                return Value();
            }));
            const std::string expected = "QEL_-999, Thread id out of range:[" + std::to_string(id) + "]";
            for (const Call& c : calls) {
                seen.clear();
                Value result = c.fn();
                if (xpp::ValType(result) != xpp::ValType(c.failure) || xpp::Var2Char(result) != xpp::Var2Char(c.failure))
                    problems += std::string(c.name) + " returned " + xpp::Var2Char(result) + "\n";
                if (seen.size() != 1 || seen[0]->description.Str() != expected || seen[0]->thread.Int() != id)
                    problems += std::string(c.name) + " reported " + std::to_string(seen.size()) + " errors\n";
            }
            CHECK_IN_CHILD(xpp::ThreadObject()->atEnd().IsNil());  // no thread-end block installed
        });
        KivTestRecordCalls(0);
        CHECK_IN_CHILD(id > kMaxThreads);
        CHECK_IN_CHILD(CallLog().empty());  // no engine call was made
        CHECK_IN_CHILD(QELSETTABLETYPE().Int() == 2);
        // The main thread's row is untouched.
        CHECK_IN_CHILD(USED().Log());
        CHECK_IN_CHILD(qt::WorkAreaRecord(1).Arr().Get(WA_TABLE).Int() == handle);
        CHECK_IN_CHILD(errors.empty());
        return problems;
    });
}

// A thread above 32 without an error block of its own: the default error
// block reports the refusal and ends the program, whose end (the main
// thread's atEnd block and the EXIT procedure, run in that thread) adds no
// report of its own.
TEST_F(ThreadTest, UnhandledRefusalInAThreadAboveThirtyTwoEndsTheProgramWithOneReport) {
    ASSERT_TRUE(DBCREATE("ONE.DBF", Struct1()).Log());
    ASSERT_TRUE(DBUSEAREA(true, Value(), "ONE.DBF").Log());
    EXPECT_EXIT(
        {
            xpp::LoadModule(QELXPP_LIBRARY);
            AllRowsHeld held;
            InThread([] { DBUSEAREA(true, Value(), "ONE.DBF"); });
            _exit(0);
        },
        ::testing::ExitedWithCode(1),
        "^Error QEL/-999  QEL_-999, Thread id out of range:\\[[0-9]+\\]\n"
        "Operation: \n"
        "genCode: 59  osCode: 0  severity: 2  thread: [0-9]+\n"
        "Called from QELSHOWERROR\\(0\\)\n"
        "Called from _DBUSEAREA\\(0\\)\n$");
}

// The program's end runs the main thread's atEnd block and the EXIT
// procedures in the thread that ends the program. Run in a thread above 32
// they report nothing (a report would re-enter the default error block in
// the middle of the program's end), and the block disconnects the main
// thread's row, not the running thread's; the row change the main thread
// still owes a replicated table goes out without a report either.
TEST_F(ThreadTest, ProgramEndInAThreadAboveThirtyTwoDisconnectsTheMainThread) {
    ASSERT_TRUE(DBCREATE("END.DBF", Struct1()).Log());
    InChildProcess([&] {
        std::string problems;
        CHECK_IN_CHILD(xpp::LoadModule(QELXPP_LIBRARY));
        CHECK_IN_CHILD(xpp::ThreadObject()->atEnd().IsBlock());
        qelxpp::detail::State().aReplAliases.Add(Value("END"));
        CHECK_IN_CHILD(DBUSEAREA(true, Value(), "END.DBF", Value(), false).Log());
        CHECK_IN_CHILD(DBAPPEND().Log());
        CHECK_IN_CHILD(qt::WorkAreaRecord(1).Arr().Get(WA_PENDING).Int() == 3);
        AllRowsHeld held;
        size_t reported = 99;
        InThread([&] {
            std::vector<std::shared_ptr<xpp::Error>> seen;
            xpp::ErrorBlock(xpp::Block([&](xpp::Args& a) {
                seen.push_back(a.Get(1).As<xpp::Error>());
                return Value();
            }));
            xpp::testing::RunProgramEnd(true);
            reported = seen.size();
        });
        // The row owed is sent at the end; with no replication database
        // named, the connect fails once and the row leaves its line.
        CHECK_IN_CHILD(reported == 1);
        CHECK_IN_CHILD(!USED().Log());
        CHECK_IN_CHILD(qt::ConnHandle().IsNil());
        CHECK_IN_CHILD(Log().find("END INSERT RecNo: 1\r\nCan't connect to ODBC replication database!") !=
                       std::string::npos);
        // The exclusive open went with the connection.
        CHECK_IN_CHILD(DBUSEAREA(true, Value(), "END.DBF", Value(), false).Log());
        CHECK_IN_CHILD(errors.empty());
        return problems;
    });
}

// Rows go back at a thread's end: a thousand workers one after another each
// open a table and write, half of them with an atEnd block of their own;
// every one works and none leaves its engine connection open. Of 33
// threads at once, the 33rd is refused, and served once a row is free.
TEST_F(ThreadTest, RowsOfEndedThreadsServeNewOnes) {
    ASSERT_TRUE(DBCREATE("MANY.DBF", Struct1()).Log());
    std::vector<KIVHANDLE> connections;
    int ownEnds = 0, worked = 0;
    for (int n = 1; n <= 1000; ++n) {
        InThread([&] {
            if (n % 2 == 0)
                xpp::ThreadObject()->atEnd(xpp::Block([&](xpp::Args&) {
                    ++ownEnds;
                    return Value();
                }));
            if (DBUSEAREA(true, Value(), "MANY.DBF", Value(), true).Log() && DBAPPEND().Log() &&
                FIELDPUT(1, "w" + std::to_string(n)).IsChar() && DBUNLOCK().Log())
                ++worked;
            connections.push_back(static_cast<KIVHANDLE>(qt::ConnHandle().Int()));
        });
    }
    EXPECT_EQ(worked, 1000);
    EXPECT_EQ(ownEnds, 500);
    uint16_t type = 0;
    int open = 0;
    for (KIVHANDLE h : connections) open += KivGetConnectionType(h, &type) == 0;
    EXPECT_EQ(open, 0);
    ASSERT_TRUE(DBUSEAREA(true, Value(), "MANY.DBF", Value(), true).Log());
    EXPECT_EQ(LASTREC().Int(), 1000);
    EXPECT_TRUE(errors.empty());
    DBCLOSEALL();

    InChildProcess([] {
        std::string problems;
        std::string refusal;
        int id = 0;
        {
            AllRowsHeld held;
            InThread([&] {
                id = xpp::ThreadID();
                xpp::ErrorBlock(xpp::Block([&](xpp::Args& a) {
                    refusal = a.Get(1).As<xpp::Error>()->description.Str();
                    return Value();
                }));
                CHECK_IN_CHILD(!DBUSEAREA(true, Value(), "MANY.DBF", Value(), true).Log());
            });
        }
        CHECK_IN_CHILD(refusal == "QEL_-999, Thread id out of range:[" + std::to_string(id) + "]");
        bool served = false;
        InThread([&] { served = DBUSEAREA(true, Value(), "MANY.DBF", Value(), true).Log(); });
        CHECK_IN_CHILD(served);
        return problems;
    });
}

// The default table type is set by one thread while others open and create
// tables with it.
TEST_F(ThreadTest, TableTypeSetWhileOtherThreadsOpen) {
    ASSERT_TRUE(DBCREATE("TYPE.DBF", Struct1()).Log());
    std::atomic<bool> done{false};
    std::atomic<int> opened{0};
    std::vector<std::shared_ptr<xpp::Thread>> workers;
    for (int k = 1; k <= 3; ++k) {
        workers.push_back(xpp::Thread::New());
        workers.back()->start(xpp::Block([&, k](xpp::Args&) {
            for (int n = 0; n < 50; ++n) {
                if (DBUSEAREA(true, Value(), "TYPE.DBF", Value(), true).Log()) ++opened;
                if (DBCREATE("T" + std::to_string(k) + "_" + std::to_string(n) + ".DBF", Struct1()).Log()) ++opened;
                DBCLOSEALL();
            }
            return Value();
        }));
    }
    std::thread setter([&] {
        xpp::Frame frame("SETTER", 0);
        while (!done.load()) QELSETTABLETYPE(2);
    });
    for (auto& w : workers) w->synchronize();
    done = true;
    setter.join();
    EXPECT_EQ(opened.load(), 300);
    EXPECT_TRUE(errors.empty());
}

// The same block run by another thread of the module leaves that thread's
// own row alone.
TEST_F(ThreadTest, MainThreadsEndBlockRunElsewhereLeavesTheRunningThreadAlone) {
    ASSERT_TRUE(DBCREATE("MAIN.DBF", Struct1()).Log());
    ASSERT_TRUE(DBCREATE("WORK.DBF", Struct1()).Log());
    ASSERT_TRUE(DBUSEAREA(true, Value(), "MAIN.DBF").Log());
    Value block = xpp::ThreadObject()->atEnd();
    ASSERT_TRUE(block.IsBlock());
    bool workerKept = false;
    Value workerConn;
    InThread([&] {
        DBUSEAREA(true, Value(), "WORK.DBF");
        block.Blk()();
        workerKept = USED().Log() && ALIAS().Str() == "WORK";
        workerConn = qt::ConnHandle();
        DBCLOSEALL();
    });
    EXPECT_TRUE(workerKept);
    EXPECT_FALSE(workerConn.IsNil());
    EXPECT_FALSE(USED().Log());
    EXPECT_TRUE(qt::ConnHandle().IsNil());
    EXPECT_TRUE(errors.empty());
}

// A close the engine refuses is reported to the thread that asked for it,
// also when the row that thread holds does not carry its id's number (a
// thread before it has used up an id and ended).
TEST_F(ThreadTest, RefusedCloseIsReportedToTheThreadWhateverRowItHolds) {
    ASSERT_TRUE(DBCREATE("SHUT.DBF", Struct1()).Log());
    InThread([] { SELECT(); });
    const struct {
        const char* name;
        std::function<void()> close;
    } cases[] = {
        {"DBCLOSEAREA", [] { EXPECT_FALSE(DBCLOSEAREA().Log()); }},
        {"DBCLOSEALL", [] { DBCLOSEALL(); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> seen;
        int rowNumber = 0, thread = 0;
        bool closed = false;
        InThread([&] {
            xpp::ErrorBlock(xpp::Block([&](xpp::Args& a) {
                seen.push_back(a.Get(1).As<xpp::Error>()->description.Str());
                return Value();
            }));
            if (!DBUSEAREA(true, Value(), "SHUT.DBF", Value(), true).Log()) return;
            thread = xpp::ThreadID();
            rowNumber = detail::RowNumber(*detail::RowOf(thread));
            KivTestFailCall("KivCloseTable", 5099, "planted", 1);
            c.close();
            closed = !USED().Log();
        });
        EXPECT_NE(rowNumber, thread);
        EXPECT_TRUE(closed);
        EXPECT_EQ(seen, std::vector<std::string>{"QEL_5099, planted"});
    }
    EXPECT_TRUE(errors.empty());
}

// Two workers calling QELDBOPEN at once: the second waits (SLEEP(100)
// polls) until the first has ended, even when the first is held inside its
// error block.
TEST_F(ThreadTest, TwoDbOpensAtOnceRunOneAfterTheOther) {
    ASSERT_TRUE(DBCREATE("ONE.DBF", Struct1()).Log());
    ASSERT_TRUE(DBCREATE("TWO.DBF", Struct1()).Log());
    std::atomic<int> phase{0};
    std::vector<std::string> order;
    std::mutex orderLock;
    auto note = [&](std::string what) {
        std::lock_guard<std::mutex> g(orderLock);
        order.push_back(std::move(what));
    };
    size_t sleepsBefore = clock_->Sleeps().size();
    Value firstResult;
    auto first = xpp::Thread::New();
    first->start(xpp::Block([&](xpp::Args&) {
        // The error block runs inside QELDBOPEN: it lets the second worker
        // start and holds until that one has polled the busy flag.
        xpp::ErrorBlock(xpp::Block([&](xpp::Args&) {
            phase = 1;
            while (clock_->Sleeps().size() < sleepsBefore + 3) std::this_thread::yield();
            note("first reported");
            return Value();
        }));
        KivTestFailCall("KivGetNumFields", 5009, "planted", 1);
        firstResult = QELDBOPEN(xpp::Array{Value("ONE.DBF"), Value("TWO.DBF")});
        return Value();
    }));
    while (phase.load() != 1) std::this_thread::yield();
    bool secondOk = false;
    InThread([&] {
        secondOk = QELDBOPEN(xpp::Array{Value("TWO.DBF")}).Log();
        note("second ended");
    });
    first->synchronize();
    EXPECT_TRUE(secondOk);
    EXPECT_TRUE(firstResult.IsLogical() && !firstResult.Log());
    EXPECT_EQ(order, (std::vector<std::string>{"first reported", "second ended"}));
    std::vector<int64_t> sleeps = clock_->Sleeps();
    ASSERT_GT(sleeps.size(), sleepsBefore);
    for (size_t i = sleepsBefore; i < sleeps.size(); ++i) EXPECT_EQ(sleeps[i], 100);
}

// Without any engine connection the transaction functions find none: the
// engine's answer is recorded, nothing is reported, .F.
TEST_F(ThreadTest, InTransactionWithoutAConnection) {
    QELDISCONNECT();
    ASSERT_TRUE(qt::ConnHandle().IsNil());
    EXPECT_EQ(QELFINDCONNECTION().Int(), 0);
    EXPECT_FALSE(QELINTRANSACTION().Log());
    EXPECT_NE(qt::LastResult().Int(), 0);
    EXPECT_FALSE(QELBEGINTRANSACTION().Log());
    EXPECT_FALSE(QELINTRANSACTION().Log());
    EXPECT_TRUE(errors.empty());

    // A worker that never connected finds the main thread's connection to
    // the same folder through the engine.
    ASSERT_TRUE(DBCREATE("TX.DBF", Struct1()).Log());  // connects the main thread again
    EXPECT_GT(qt::ConnHandle().Int(), 0);
    ASSERT_TRUE(QELBEGINTRANSACTION().Log());
    bool workerSees = false;
    Value workerConn = 1;
    InThread([&] {
        workerSees = QELINTRANSACTION().Log();
        workerConn = qt::ConnHandle();
    });
    EXPECT_TRUE(workerSees);
    EXPECT_TRUE(workerConn.IsNil());
    EXPECT_TRUE(QELROLLBACKTRANSACTION().Log());
}

}  // namespace
