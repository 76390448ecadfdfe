// Application services, the presentation sink, the screen model, module
// hooks and the program end (in child processes).
#include <dlfcn.h>
#include <gtest/gtest.h>

#include "test_support.h"
#include "xpp/testing.h"
#include "xpp/xpp.h"

using namespace xpp;

namespace {

class Recorder : public PresentationSink {
public:
    int ConfirmBox(const Value& owner, const std::string& text, const std::string& title, int buttons,
                   int style) override {
        log.push_back("confirm " + Var2Char(owner) + "|" + text + "|" + title + "|" + std::to_string(buttons) +
                      "|" + std::to_string(style));
        return XBMB_RET_YES;
    }
    int Alert(const std::string& text, const Array& options) override {
        log.push_back("alert " + text + "|" + Var2Char(options));
        return 2;
    }
    std::vector<std::string> log;
};

TEST(Presentation, AlertAndConfirmBoxReachTheSink) {
    Recorder recorder;
    PresentationSink* old = SetPresentationSink(&recorder);
    EXPECT_EQ(ConfirmBox(Value(), "Lost connection", "SQLError", 1, 48), XBMB_RET_YES);
    EXPECT_EQ(Alert("Reconnect?", Array{"Yes", "No"}), 2);
    SetPresentationSink(old);
    EXPECT_EQ(recorder.log,
              (std::vector<std::string>{"confirm NIL|Lost connection|SQLError|1|48", "alert Reconnect?|{Yes, No}"}));
}

TEST(Presentation, AConsoleProgramPrintsToStandardError) {
    ::testing::internal::CaptureStderr();
    int answer = ConfirmBox(Value(), "The text", "The title");
    int alert = Alert("Alert text");
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(answer, XBMB_RET_OK);
    EXPECT_EQ(alert, 1);
    EXPECT_NE(err.find("The title: The text"), std::string::npos);
    EXPECT_NE(err.find("Alert text"), std::string::npos);
}

TEST(Screen, DevPosDevOutAndQOutFillTheModel) {
    xpp::testing::SetScreenEcho(false);
    xpp::testing::ClearScreen();
    DevPos(2, 5);
    DevOut("Import", "W+/B");
    DevOut(42);
    QOut({"next", 1, true});
    EXPECT_EQ(xpp::testing::ScreenRow(2).substr(0, 13), "     Import42");
    EXPECT_EQ(RTrim(xpp::testing::ScreenRow(3)), "next 1 .T.");
    xpp::testing::ClearScreen();
    xpp::testing::SetScreenEcho(true);
}

TEST(Application, NamesVersionsAndWindow) {
    EXPECT_NE(AppName(true).find("xpp_tests"), std::string::npos);
    EXPECT_EQ(AppName(), "xpp_tests");
    xpp::testing::SetAppName("/opt/app/PROGRAM.EXE");
    EXPECT_EQ(AppName(true), "/opt/app/PROGRAM.EXE");
    EXPECT_EQ(AppName(), "PROGRAM.EXE");
    xpp::testing::SetAppName("");
    EXPECT_EQ(OS().rfind("Linux", 0), 0u);
    EXPECT_EQ(Version(1) + "." + Version(2) + "." + Version(3), Version());
    EXPECT_EQ(AppType(), APPTYPE_VIO);
    SetAppType(APPTYPE_PM);
    EXPECT_EQ(AppType(), 3);
    SetAppType(APPTYPE_VIO);
    EXPECT_TRUE(SetAppWindow().IsNil());
    auto window = Error::New();  // any object stands for a window here
    EXPECT_TRUE(SetAppWindow(window).IsNil());
    EXPECT_EQ(SetAppWindow().Obj(), window);
    SetAppWindow(Value());
    EXPECT_FALSE(NationMsg(118).empty());
    for (int id : {1, 2, 3, 28, 41, 96, 104}) EXPECT_TRUE(LoadResource(id, 4294967295LL).IsChar()) << id;
    EXPECT_TRUE(LoadResource(5, 4294967295LL).IsNil());
    EXPECT_EQ(CurDrive(), "C");
}

TEST(Modules, InitOnceExitInReverseOrder) {
    xpp::testing::ResetModules();
    std::vector<std::string> log;
    DeclareModule("QELXPP", [&] { log.push_back("init qel"); }, [&] { log.push_back("exit qel"); });
    DeclareModule("ROWXPP", [&] { log.push_back("init row"); },
                  [&] { log.push_back(AppEndedByError() ? "exit row by error" : "exit row"); });
    EXPECT_TRUE(log.empty());  // declaring runs nothing
    EXPECT_TRUE(InitModule("rowxpp"));
    EXPECT_TRUE(InitModule("ROWXPP"));  // once
    EXPECT_FALSE(InitModule("NOSUCH"));
    InitModules();
    AddExitProcedure([&] { log.push_back("exit direct"); });
    xpp::testing::RunProgramEnd(false);
    xpp::testing::RunProgramEnd(false);  // once
    EXPECT_EQ(log, (std::vector<std::string>{"init row", "init qel", "exit direct", "exit qel", "exit row"}));
    xpp::testing::ResetModules();
}

TEST(Modules, TwoLibrariesDeclaringOneNameBothComeUpOnce) {
    xpp::testing::ResetModules();
    std::vector<std::string> log;
    DeclareModule("ROWXPP", [&] { log.push_back("init a"); }, nullptr);
    DeclareModule("ROWXPP", [&] { log.push_back("init b"); }, nullptr);
    InitModules();  // used to spin for ever on the second one
    EXPECT_TRUE(InitModule("ROWXPP"));
    EXPECT_EQ(log, (std::vector<std::string>{"init a", "init b"}));
    xpp::testing::ResetModules();
}

TEST(Modules, LoadModuleRunsTheInitProceduresOfTheLibrary) {
    EXPECT_FALSE(LoadModule("/nonexistent/libnothing.so"));
    ASSERT_TRUE(LoadModule(XPP_TEST_MODULE));
    auto* inits = static_cast<int*>(dlsym(RTLD_DEFAULT, "xpp_test_module_inits"));
    ASSERT_NE(inits, nullptr);
    EXPECT_EQ(*inits, 1);
    ASSERT_TRUE(LoadModule(XPP_TEST_MODULE));  // loaded again: not initialised again
    EXPECT_EQ(*inits, 1);
}

// A program ended by an error: exit code 1, the report with its "Called
// from" lines on standard error, then the main thread's atEnd and the two
// EXIT procedures in reverse order of registration.
TEST(ProgramEnd, AnErrorEndReportsRunsExitProceduresAndEndsWithOne) {
    struct Case {
        const char* mode;
        std::vector<std::string> report;  // in this order
    } cases[] = {
        {"errorblock",
         {"Error BASE/1132  Bound error", "Operation: array access", "genCode: 2", "Called from LEVEL2(",
          "Called from LEVEL1("}},
        {"break", {"Break without a recovery sequence: no one recovers", "Called from LEVEL2(", "Called from LEVEL1("}},
        {"threadbreak", {"Break without a recovery sequence: from the worker", "Called from WORKER("}},
    };
    for (const auto& c : cases) {
        auto r = xpptest::RunChild(c.mode);
        EXPECT_EQ(r.exitCode, 1) << c.mode;
        size_t at = 0;
        for (const std::string& line : c.report) {
            at = r.err.find(line, at);
            ASSERT_NE(at, std::string::npos) << c.mode << ": " << line << "\n" << r.err;
        }
        EXPECT_EQ(r.out, "INIT FIRSTLIB\nINIT SECONDLIB\nATEND main\nEXIT SECONDLIB byError=1\nEXIT FIRSTLIB byError=1\n")
            << c.mode;
    }
}

TEST(ProgramEnd, ANormalEndRunsAtEndThenExitProcedures) {
    auto r = xpptest::RunChild("normal");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out,
              "INIT FIRSTLIB\nINIT SECONDLIB\nATEND main\nEXIT SECONDLIB byError=0\nEXIT FIRSTLIB byError=0\n");
}

}  // namespace
