// Diagnostics: the display of a report through the runtime, the fields of
// the records, and the display texts of values.
#include <gtest/gtest.h>

#include "kiv_odbc_testing/admin_connection.h"
#include "rowxpp/odbc_calls.h"
#include "rowxpp/sql_connection.h"
#include "rowxpp/sql_error.h"
#include "rowxpp/sql_statement.h"
#include "error_support.h"
#include "test_support.h"
#include "xpp/functions.h"
#include "xpp/runtime.h"

using namespace rowxpp;
using rowxpp_test::Loaded;

namespace {

class RecordingSink : public xpp::PresentationSink {
public:
    int ConfirmBox(const xpp::Value&, const std::string& text, const std::string& title, int, int style) override {
        shown.push_back("ConfirmBox|" + title + "|" + std::to_string(style) + "|" + text);
        return xpp::XBMB_RET_OK;
    }
    int Alert(const std::string& text, const xpp::Array&) override {
        shown.push_back("Alert|" + text);
        return 1;
    }
    std::vector<std::string> shown;
};

struct DisplayCase {
    const char* name;
    int appType;
    bool appWindow;
    int64_t returnCode;
    const char* expectedStart;  // "" when nothing is shown
};

TEST(Diagnostics, AReportWithoutBlockIsShownAsTheProgramCan) {
    RecordingSink sink;
    xpp::PresentationSink* keptSink = xpp::SetPresentationSink(&sink);
    int keptType = xpp::AppType();
    for (const DisplayCase& c :
         {DisplayCase{"gui error", xpp::APPTYPE_PM, false, 65535, "ConfirmBox|SQL_ERROR results|16|NULL STMT handle\r\n"},
          DisplayCase{"gui info", xpp::APPTYPE_PM, false, 1, "ConfirmBox|SQL_SUCCESS_WITH_INFO results|64|NULL STMT handle"},
          DisplayCase{"text window", xpp::APPTYPE_VIO, true, 65535, "Alert|NULL STMT handle;;Thread ID "},
          DisplayCase{"nothing", xpp::APPTYPE_VIO, false, 65535, ""}}) {
        SCOPED_TRACE(c.name);
        sink.shown.clear();
        xpp::SetAppType(c.appType);
        xpp::Value keptWindow = xpp::SetAppWindow(c.appWindow ? xpp::Value(1) : xpp::Value());
        std::string report = DISPLAYERROR_(c.returnCode, SQL_HANDLE_STMT, 0);
        xpp::SetAppWindow(keptWindow);
        EXPECT_EQ(report.rfind("NULL STMT handle\r\n\r\nThread ID ", 0), 0u) << report;
        if (*c.expectedStart == '\0') {
            EXPECT_TRUE(sink.shown.empty());
        } else {
            ASSERT_EQ(sink.shown.size(), 1u);
            EXPECT_EQ(sink.shown[0].rfind(c.expectedStart, 0), 0u) << sink.shown[0];
            EXPECT_EQ(sink.shown[0].find('\r'), c.appWindow ? std::string::npos : sink.shown[0].find('\r'));
        }
    }
    xpp::SetAppType(keptType);
    xpp::SetPresentationSink(keptSink);
}

TEST(Diagnostics, ASqliteFailureIsReportedWithItsNativeError) {
    Loaded();
    auto c = SQLConnection::New("SQLite", "", "");
    ASSERT_NE(c->Handle, 0);
    SQLHSTMT stmt = rowxpp_test::FailedStatement(c->Handle, "SELECT * FROM no_such_table");
    ASSERT_NE(stmt, nullptr);
    std::vector<std::shared_ptr<rowxpp::SQLError>> errors;
    std::string report = DISPLAYERROR_(65535, SQL_HANDLE_STMT, FromHandle(stmt), false,
                                       xpp::Block([&errors](xpp::Args&) { return xpp::Value(); }), xpp::Value(c));
    EXPECT_EQ(report.find("Thread ID"), std::string::npos) << "not displayed: " << report;
    EXPECT_NE(report.find("no such table: no_such_table"), std::string::npos) << report;
    EXPECT_EQ(report.rfind("SQLState: HY000,  ErrorCode:", 0), 0u) << report;
    xpp::Value state = GETDIAGFIELD_(SQL_HANDLE_STMT, FromHandle(stmt), 1, SQL_DIAG_SQLSTATE, true);
    EXPECT_EQ(state.Str(), "HY000");
    xpp::Value native = GETDIAGFIELD_(SQL_HANDLE_STMT, FromHandle(stmt), 1, SQL_DIAG_NATIVE, xpp::Value());
    EXPECT_TRUE(native.IsNum());
    EXPECT_TRUE(GETDIAGFIELD_(SQL_HANDLE_STMT, FromHandle(stmt), 9, SQL_DIAG_NATIVE, xpp::Value()).IsNil());

    // the driver's own errors carry native error -1, which reads 65535
    std::string one = "SELECT 1";
    ASSERT_EQ(SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(one.data()), SQL_NTS), SQL_SUCCESS);
    SQLCHAR name[32];
    SQLSMALLINT nameLength = 0, type = 0, digits = 0, nullable = 0;
    SQLULEN size = 0;
    EXPECT_EQ(SQLDescribeCol(stmt, 9, name, sizeof name, &nameLength, &type, &size, &digits, &nullable), SQL_ERROR);
    DISPLAYERROR_(65535, SQL_HANDLE_STMT, FromHandle(stmt), true, xpp::Block([&errors](xpp::Args& a) {
                      for (const xpp::Value& e : a[4].Arr().Items()) errors.push_back(e.As<rowxpp::SQLError>());
                      return xpp::Value();
                  }));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0]->NativeError.Int(), 65535);
    EXPECT_EQ(errors[0]->ReturnCode.Int(), 65535);
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    c->Destroy();
}

TEST(Diagnostics, AsStringGivesTheDisplayTextOfEveryType) {
    EXPECT_EQ(ASSTRING(12), "12");
    EXPECT_EQ(ASSTRING("abc"), "abc");
    EXPECT_EQ(ASSTRING(true), ".T.");
    EXPECT_EQ(ASSTRING(false), ".F.");
    EXPECT_EQ(ASSTRING(xpp::Value()), "NIL");
    EXPECT_EQ(ASSTRING(xpp::Array{1}), "{array}");
    EXPECT_EQ(ASSTRING(xpp::Value(SQLError::New(xpp::Value(), 0, "", 0, ""))), "Instance of: SQLError");
    EXPECT_EQ(ASSTRING(xpp::Block([](xpp::Args&) { return xpp::Value(); })), "");
}

// The procedure names of the "Called from" lines of a report, in order.
std::vector<std::string> Callers(const std::string& report) {
    std::vector<std::string> names;
    const std::string mark = "\r\nCalled from ";
    for (size_t at = report.find(mark); at != std::string::npos; at = report.find(mark, at + 1)) {
        size_t start = at + mark.size();
        names.push_back(report.substr(start, report.find('(', start) - start));
    }
    return names;
}

TEST(Diagnostics, TheCalledFromLinesStartAtTheMethodWhoseCallFailed) {
    Loaded();
    XPP_FRAME("MAIN");
    auto c = SQLConnection::New("SQLite", "", "");
    ASSERT_NE(c->Handle, 0);
    rowxpp_test::Reported reported;
    rowxpp_test::CaptureErrors(*c, reported);
    auto s = c->NewStatement("SELEC 1");
    [&] {
        XPP_FRAME("WORK");
        EXPECT_EQ(s->Execute(), -2);
    }();
    ASSERT_EQ(reported.calls, 1);
    EXPECT_EQ(Callers(reported.report), (std::vector<std::string>{"SQLSTATEMENT:EXECUTE", "WORK", "MAIN"}))
        << reported.report;
    s->Destroy();
    c->Destroy();

    auto unconnected = SQLConnection::New();
    rowxpp_test::CaptureErrors(*unconnected, reported);
    EXPECT_FALSE(unconnected->Connect("PostgreSQL", "no_such_role_here", "x"));
    ASSERT_EQ(reported.calls, 2);
    EXPECT_EQ(Callers(reported.report), (std::vector<std::string>{"SQLCONNECTION:CONNECT", "MAIN"})) << reported.report;
    unconnected->Destroy();
}

TEST(Diagnostics, AFailedCommitOfAllConnectionsIsShownOnlyWhileTheClassDisplaysErrors) {
    Loaded();
    auto& admin = kivodbc::testing::TestDataSources::Get().Admin();
    RecordingSink sink;
    xpp::PresentationSink* keptSink = xpp::SetPresentationSink(&sink);
    int keptType = xpp::AppType();
    xpp::SetAppType(xpp::APPTYPE_PM);
    for (bool display : {true, false}) {
        SCOPED_TRACE(display);
        sink.shown.clear();
        auto c = SQLConnection::New("PostgreSQL", "", "");
        ASSERT_NE(c->Handle, 0);
        rowxpp_test::Reported reported;
        rowxpp_test::CaptureErrors(*c, reported);
        ASSERT_TRUE(c->BeginTransaction());
        kivodbc::testing::ExecuteOn(ToHandle(c->Handle), "SELECT 1");
        int pid = kivodbc::testing::BackendPidOf(ToHandle(c->Handle));
        ASSERT_TRUE(admin.TerminateBackend(pid));
        ASSERT_TRUE(rowxpp_test::Gone(admin, pid));
        SQLConnection::ClassObject().SetVar("DisplayErrors", display);
        EXPECT_FALSE(SQLConnection::CommitAllTransactions());
        SQLConnection::ClassObject().SetVar("DisplayErrors", true);
        EXPECT_EQ(reported.calls, 0);
        if (display) {
            ASSERT_EQ(sink.shown.size(), 1u);
            EXPECT_EQ(sink.shown[0].rfind("ConfirmBox|SQL_ERROR results|16|", 0), 0u) << sink.shown[0];
        } else {
            EXPECT_TRUE(sink.shown.empty());
        }
        c->Destroy();
    }
    xpp::SetAppType(keptType);
    xpp::SetPresentationSink(keptSink);
}

}  // namespace
