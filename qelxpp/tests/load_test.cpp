// Loading the engine, the module's hooks, errors and the log, connections and
// transactions, through the real engine libqel32.so.
#include <sys/stat.h>
#include <utime.h>

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
