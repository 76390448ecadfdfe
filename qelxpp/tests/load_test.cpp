// Loading the engine, the module's hooks, errors and the log, connections and
// transactions, through the real engine libqel32.so.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utime.h>

#include <atomic>
#include <functional>
#include <thread>

#include "support.h"

using namespace qelxpp;
using qeltest::QelTest;
using xpp::Value;
namespace qt = qelxpp::testing;

namespace {

TEST_F(QelTest, RuntimeLoadsTheModuleAndBindsTheEngineOnce) {
    ASSERT_TRUE(xpp::LoadModule(QELXPP_LIBRARY));
    EXPECT_GT(qt::EngineDll(), 0);
    EXPECT_TRUE(qt::EngineCallsPrepared());
    std::vector<std::string> names = qt::EngineCallNames();
    ASSERT_EQ(names.size(), 87u);
    EXPECT_EQ(names.front(), "KivAppendRecord");
    EXPECT_EQ(names[39], "KivOpenTable");
    EXPECT_EQ(names[62], "KivMgConnect");
    EXPECT_EQ(names.back(), "KivSetEmpty");
    EXPECT_TRUE(qt::ConnHandle().Int() > 0);
    EXPECT_EQ(xpp::Set(xpp::SET_COLLATION).Int(), 2);  // "USA"
    EXPECT_TRUE(errors.empty());

    KivTestRecordCalls(1);
    EXPECT_TRUE(QELLOADDLL().Log());
    EXPECT_EQ(CallLog(), "");
    KivTestRecordCalls(0);

    EXPECT_EQ(QELSETSERVERTYPE().Int(), 3);
    uint32_t len = 255;
    std::string expected(255, ' ');
    ASSERT_EQ(KivMgGetInstallInfo(static_cast<KIVHANDLE>(qt::MgmtHandle()), expected.data(), &len), 0u);
    EXPECT_EQ(QELINSTALLINFO().Str(), expected.substr(0, len));
    EXPECT_FALSE(QELINSTALLINFO().Str().empty());
    xpp::testing::ResetModules();
}

TEST_F(QelTest, MissingEngineIsReportedAndLoggedAndNothingIsCalled) {
    std::string engine = xpp::MappedLibrary("QEL32.DLL");
    xpp::MapLibrary("QEL32.DLL", dir_ + "/missing/libqel32.so");
    {
        xpp::Frame main("MAIN", 12);
        xpp::Frame start("APPSTART", 34);
        EXPECT_FALSE(QELLOADDLL().Log());
    }
    ASSERT_EQ(errors.size(), 1u);
    const xpp::Error& e = *errors[0];
    EXPECT_EQ(e.description.Str(), "QEL_-999, Can't open QEL32.DLL");
    EXPECT_EQ(e.severity.Int(), 2);
    EXPECT_EQ(e.subSystem.Str(), "QEL");
    EXPECT_EQ(e.genCode.Int(), 59);
    EXPECT_EQ(e.subCode.Int(), -999);
    EXPECT_EQ(e.thread.Int(), xpp::ThreadID());
    EXPECT_FALSE(e.canRetry.Log());
    EXPECT_EQ(Log(), "= ERROR OBJECT ===============\r\n"
                     "Date: " + xpp::DToS(xpp::Today()) + ", Time: 13:14:15\r\n"
                     "App: C:\\APP\\SHOP.EXE, Thread: " + std::to_string(xpp::ThreadID()) + "\r\n"
                     "QEL_-999, Can't open QEL32.DLL\r\n"
                     "Called from QELLOADDLL(0)\r\n"
                     "Called from APPSTART(34)\r\n"
                     "Called from MAIN(12)\r\n"
                     "\r\n");

    // Engine-backed functions report and call nothing.
    errors.clear();
    KivTestRecordCalls(1);
    Value refused = QELSETSERVERTYPE();
    EXPECT_TRUE(refused.IsLogical() && !refused.Log());
    EXPECT_EQ(QELINSTALLINFO().Str(), "");
    EXPECT_EQ(QELCONNECT().Int(), -1);
    EXPECT_EQ(CallLog(), "");
    KivTestRecordCalls(0);
    ASSERT_EQ(errors.size(), 3u);
    for (auto& err : errors) EXPECT_EQ(err->description.Str(), "QEL_-999, QEL32.DLL not loaded");

    xpp::MapLibrary("QEL32.DLL", engine);
    errors.clear();
    EXPECT_TRUE(QELLOADDLL().Log());
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(QELSETSERVERTYPE(2).Int(), 2);
}

TEST_F(QelTest, FailedSetUpIsRepeatedByTheNextLoad) {
    KivTestFailCall("KivMgConnect", 5024, "connection gone", 1);
    EXPECT_FALSE(QELLOADDLL().Log());
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0]->subCode.Int(), 5024);
    EXPECT_EQ(errors[0]->description.Str(), "QEL_5024, connection gone");
    EXPECT_GT(qt::EngineDll(), 0);
    EXPECT_TRUE(qt::ConnHandle().IsNil());

    EXPECT_TRUE(QELLOADDLL().Log());
    EXPECT_GT(qt::ConnHandle().Int(), 0);
    EXPECT_GT(qt::MgmtHandle(), 0);
}

// Runs `fn` in a child process and gives what it returned. A child that
// has not ended within `seconds` is killed: "hung".
std::string WithinSeconds(int seconds, const std::function<std::string()>& fn) {
    int fds[2];
    if (pipe(fds) != 0) return "no pipe";
    pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        std::string out = fn();
        ssize_t written = write(fds[1], out.data(), out.size());
        _exit(written == static_cast<ssize_t>(out.size()) ? 0 : 1);
    }
    close(fds[1]);
    int status = 0;
    bool ended = false;
    for (int waited = 0; waited < seconds * 20 && !ended; ++waited) {
        ended = waitpid(child, &status, WNOHANG) == child;
        if (!ended) usleep(50000);
    }
    if (!ended) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        close(fds[0]);
        return "hung";
    }
    std::string out;
    char buf[4096];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) out.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? out : "child failed";
}

std::string Yes(bool b) { return b ? ".T." : ".F."; }

// An error block may load or unload the engine again from inside a load
// that reports: the inner call does its work, the outer one answers its own
// failure, and the engine is left as the inner call left it.
TEST_F(QelTest, ErrorBlockThatLoadsOrUnloadsAgain) {
    const std::string engine = xpp::MappedLibrary("QEL32.DLL");
    const std::string missing = dir_ + "/missing/libqel32.so";
    EXPECT_EQ(WithinSeconds(30,
                            [&] {
                                xpp::MapLibrary("QEL32.DLL", missing);
                                std::string seen;
                                xpp::ErrorBlock(xpp::Block([&](xpp::Args& a) {
                                    seen += a.Get(1).As<xpp::Error>()->description.Str() + "; ";
                                    xpp::MapLibrary("QEL32.DLL", engine);
                                    seen += "inner " + Yes(QELLOADDLL().Log()) + "; ";
                                    return Value();
                                }));
                                seen += "outer " + Yes(QELLOADDLL().Log()) + "; ";
                                KivTestRecordCalls(1);
                                seen += "again " + Yes(QELLOADDLL().Log()) + " [" + CallLog() + "]; ";
                                KivTestRecordCalls(0);
                                QELSETTABLETYPE(2);
                                xpp::Array st{Value(xpp::Array{Value("NAME"), Value("C"), Value(5), Value(0)})};
                                seen += "open " + Yes(DBCREATE("T.DBF", st).Log() && DBUSEAREA(true, Value(), "T.DBF").Log());
                                return seen;
                            }),
              "QEL_-999, Can't open QEL32.DLL; inner .T.; outer .F.; again .T. []; open .T.");
    EXPECT_EQ(WithinSeconds(30,
                            [&] {
                                KivTestFailCall("KivMgConnect", 5024, "connection gone", 1);
                                std::string seen;
                                xpp::ErrorBlock(xpp::Block([&](xpp::Args& a) {
                                    seen += a.Get(1).As<xpp::Error>()->description.Str() + "; ";
                                    seen += "inner " + Yes(QELUNLOADDLL().Log()) + "; ";
                                    return Value();
                                }));
                                seen += "outer " + Yes(QELLOADDLL().Log()) + "; ";
                                seen += "unloaded " + Yes(qt::EngineDll() == 0);
                                return seen;
                            }),
              "QEL_5024, connection gone; inner .T.; outer .F.; unloaded .T.");
}

// Threads that load at once take turns: the engine is set up once.
TEST_F(QelTest, LoadsAtOnceTakeTurns) {
    std::atomic<int> loaded{0};
    std::atomic<bool> start{false};
    std::vector<std::shared_ptr<xpp::Thread>> loaders;
    KivTestRecordCalls(1);
    for (int k = 0; k < 4; ++k) {
        loaders.push_back(xpp::Thread::New());
        loaders.back()->start(xpp::Block([&](xpp::Args&) {
            while (!start.load()) std::this_thread::yield();
            if (QELLOADDLL().Log()) ++loaded;
            return Value();
        }));
    }
    start = true;
    for (auto& l : loaders) l->synchronize();
    KivTestRecordCalls(0);
    EXPECT_EQ(loaded.load(), 4);
    const std::string calls = CallLog();
    size_t connects = 0;
    for (size_t at = calls.find("KivMgConnect\n"); at != std::string::npos; at = calls.find("KivMgConnect\n", at + 1))
        ++connects;
    EXPECT_EQ(connects, 1u);
    EXPECT_GT(qt::EngineDll(), 0);
    EXPECT_TRUE(errors.empty());
}

// A set-up that failed after it had connected is repeated by the next
// load, which first closes the management handle and the connection it
// left behind.
TEST_F(QelTest, RepeatedSetUpClosesWhatTheFailedOneOpened) {
    KivTestFailCall("KivSetDateFormat", 5024, "x", 1);
    EXPECT_FALSE(QELLOADDLL().Log());
    ASSERT_EQ(errors.size(), 1u);
    errors.clear();
    const auto mgmt = static_cast<KIVHANDLE>(qt::MgmtHandle());
    const auto conn = static_cast<KIVHANDLE>(qt::ConnHandle().Int());
    ASSERT_GT(mgmt, 0u);
    ASSERT_GT(conn, 0u);
    uint16_t type = 0;
    ASSERT_EQ(KivGetConnectionType(conn, &type), 0u);
    KivTestRecordCalls(1);
    EXPECT_TRUE(QELLOADDLL().Log());
    KivTestRecordCalls(0);
    const std::string calls = CallLog();
    EXPECT_EQ(calls.substr(0, calls.find("KivMgConnect")), "KivMgDisconnect\nKivDisconnect\n");
    EXPECT_NE(KivGetConnectionType(conn, &type), 0u);
    std::string info(255, ' ');
    uint32_t len = 255;
    EXPECT_NE(KivMgGetInstallInfo(mgmt, info.data(), &len), 0u);
    EXPECT_GT(qt::ConnHandle().Int(), 0);
    EXPECT_NE(qt::ConnHandle().Int(), static_cast<int64_t>(conn));
    EXPECT_TRUE(errors.empty());
}

// Numbers the engine's 16-bit server type cannot hold, and arguments of the
// wrong type, are the runtime's argument error: .F., nothing sent or opened.
TEST_F(QelTest, ArgumentsOfTheWrongKindAreRefusedUnsent) {
    ASSERT_TRUE(QELLOADDLL().Log());
    for (Value type : {Value(65537), Value(-1), Value("x"), Value(true)}) {
        SCOPED_TRACE(xpp::Var2Char(type));
        KivTestClearCallLog();
        KivTestRecordCalls(1);
        EXPECT_EQ(xpp::ValType(QELSETSERVERTYPE(type)), "L");
        EXPECT_EQ(QELDBOPEN(type).Log(), false);
        KivTestRecordCalls(0);
        EXPECT_EQ(CallLog(), "");
        ASSERT_EQ(errors.size(), 2u);
        for (auto& e : errors) EXPECT_EQ(e->genCode.Int(), xpp::EG_ARG);
        errors.clear();
    }
    EXPECT_FALSE(QELDBOPEN("CUST.DBF").Log());
    errors.clear();
    EXPECT_TRUE(qt::WorkAreaRecord(1).IsNil());
    EXPECT_EQ(QELSETSERVERTYPE(65535).Int(), 65535);
    EXPECT_TRUE(QELDBOPEN(xpp::Array()).Log());  // the busy flag was cleared
    EXPECT_TRUE(errors.empty());
}

TEST_F(QelTest, ShowErrorOverCodesTextsAndLogOnly) {
    ASSERT_TRUE(QELLOADDLL().Log());
    struct Case {
        Value code, text, logOnly;
        const char* plantedText;  // engine last error planted for a positive code
        uint32_t plantedCode;
        const char* description;  // null: nothing at all
        int severity;
        bool objectExpected;
    } cases[] = {
        {0, {}, {}, nullptr, 0, "QEL_0, Warning", 1, true},
        {-999, "Mine", {}, nullptr, 0, "QEL_-999, Mine", 2, true},
        {7, "ignored", {}, "engine says", 5010, "QEL_5010, engine says", 2, true},
        {7, {}, {}, "quiet", 5087, nullptr, 0, false},
        {-1, "only logged", true, nullptr, 0, "QEL_-1, only logged", 2, false},
    };
    for (const Case& c : cases) {
        errors.clear();
        std::remove((dir_ + "/QEL_ERR.TXT").c_str());
        if (c.plantedText) KivSetLastError(c.plantedCode, c.plantedText);
        QELSHOWERROR(c.code, c.text, c.logOnly);
        SCOPED_TRACE(c.description ? c.description : "5087");
        if (!c.description) {
            EXPECT_TRUE(errors.empty());
            EXPECT_EQ(Log(), "");
            continue;
        }
        EXPECT_NE(Log().find(std::string("\r\n") + c.description + "\r\n"), std::string::npos);
        ASSERT_EQ(errors.size(), c.objectExpected ? 1u : 0u);
        if (c.objectExpected) {
            EXPECT_EQ(errors[0]->description.Str(), c.description);
            EXPECT_EQ(errors[0]->severity.Int(), c.severity);
        }
    }
}

TEST_F(QelTest, ErrorLogWritesTextsAndGivesUpOnAHeldFile) {
    QELERRORLOG(123);
    EXPECT_FALSE(xpp::File("QEL_ERR.TXT"));
    QELERRORLOG("");
    EXPECT_EQ(Log(), "\r\n");
    QELERRORLOG("two");
    EXPECT_EQ(Log(), "\r\ntwo\r\n");

    int64_t held = xpp::FOpen("QEL_ERR.TXT", xpp::FO_WRITE | xpp::FO_DENYWRITE);
    ASSERT_GE(held, 0);
    size_t sleepsBefore = clock_->Sleeps().size();
    QELERRORLOG("dropped");
    xpp::FClose(held);
    std::vector<int64_t> sleeps = clock_->Sleeps();
    EXPECT_EQ(std::vector<int64_t>(sleeps.begin() + sleepsBefore, sleeps.end()), std::vector<int64_t>(5, 20));
    EXPECT_EQ(Log(), "\r\ntwo\r\n");
}

// Writers that find no log at once, threads of this process and another
// process, each keep their line: none cuts what another wrote.
TEST_F(QelTest, FirstLinesOfWritersAtOnceAreAllKept) {
    xpp::testing::SetClock(nullptr);  // the waits between attempts are real ones
    int lost = 0;
    for (int run = 0; run < 200 && lost == 0; ++run) {
        std::remove((dir_ + "/QEL_ERR.TXT").c_str());
        int go[2];
        ASSERT_EQ(pipe(go), 0);
        pid_t child = fork();
        if (child == 0) {
            close(go[1]);
            char c = 0;
            if (read(go[0], &c, 1) != 1) _exit(1);
            QELERRORLOG("process");
            _exit(0);
        }
        close(go[0]);
        std::atomic<bool> start{false};
        std::vector<std::shared_ptr<xpp::Thread>> writers;
        for (int k = 1; k <= 4; ++k) {
            writers.push_back(xpp::Thread::New());
            writers.back()->start(xpp::Block([&start, k](xpp::Args&) {
                while (!start.load()) std::this_thread::yield();
                QELERRORLOG("thread " + std::to_string(k));
                return Value();
            }));
        }
        ASSERT_EQ(write(go[1], "x", 1), 1);
        start = true;
        for (auto& w : writers) w->synchronize();
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        close(go[1]);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        const std::string log = Log();
        for (const char* line : {"process", "thread 1", "thread 2", "thread 3", "thread 4"}) {
            if (log.find(std::string(line) + "\r\n") == std::string::npos) {
                ADD_FAILURE() << "run " << run << " lost \"" << line << "\" in " << log;
                ++lost;
            }
        }
        EXPECT_EQ(log.size(), std::string("process\r\n").size() + 4 * std::string("thread 1\r\n").size());
    }
    xpp::testing::SetClock(clock_.get());
}

TEST_F(QelTest, OldLogIsErasedAtLoad) {
    for (int age : {3, 4}) {
        SCOPED_TRACE(age);
        QELERRORLOG("old");
        xpp::testing::TestClock later(today_ + age, 0);
        xpp::testing::SetClock(&later);
        qt::ResetState();
        EXPECT_TRUE(QELLOADDLL().Log());
        EXPECT_EQ(xpp::File("QEL_ERR.TXT"), age == 3);
        xpp::testing::SetClock(clock_.get());
        QELUNLOADDLL();
        std::remove((dir_ + "/QEL_ERR.TXT").c_str());
    }
}

TEST_F(QelTest, TransactionsOnARealConnection) {
    ASSERT_TRUE(QELLOADDLL().Log());
    EXPECT_FALSE(QELINTRANSACTION().Log());
    EXPECT_TRUE(QELBEGINTRANSACTION().Log());
    EXPECT_TRUE(QELINTRANSACTION().Log());
    EXPECT_TRUE(QELROLLBACKTRANSACTION().Log());
    EXPECT_FALSE(QELINTRANSACTION().Log());

    EXPECT_TRUE(QELBEGINTRANSACTION().Log());
    KivTestFailCall("KivCommitTransaction", 5024, "refused", 1);
    EXPECT_FALSE(QELCOMMITTRANSACTION().Log());
    EXPECT_EQ(qt::LastResult().Int(), 5024);
    EXPECT_TRUE(errors.empty());
    EXPECT_TRUE(QELCOMMITTRANSACTION().Log());
}

TEST_F(QelTest, TableTypeByNumberOrName) {
    struct {
        Value in;
        int64_t expected;
    } cases[] = {{1, 1}, {"DBFCDX", 2}, {"NTXCDX", 2}, {"DBFNTX", 1}, {"dbfcdx", 3}, {true, 3}, {7, 7}};
    for (auto& c : cases) EXPECT_EQ(QELSETTABLETYPE(c.in).Int(), c.expected);
}

}  // namespace
