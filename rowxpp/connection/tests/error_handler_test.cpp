// The error log on real files, the default handler's log entry and flash,
// and errors that are no lost connection (SQLite, a PostgreSQL
// serialization failure): logged and flashed, no reconnection.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <thread>

#include "error_support.h"
#include "kiv_odbc_testing/admin_connection.h"
#include "rowxpp/sql_statement.h"
#include "statement_support.h"
#include "xpp/functions.h"
#include "xpp/runtime.h"

using namespace rowxpp;
using kivodbc::testing::TestDataSources;
using rowxpp_test::Connected;
using rowxpp_test::Count;
using rowxpp_test::ErrorLogTest;

namespace {

const std::string CRLF = "\r\n";

// The fixed head of every entry under the test clock and application name.
std::string Head(const std::string& time = "12:34:56") {
    return "= SQL ERROR ===========\r\nDate: 20261210 " + time + "\r\n/opt/app/ledger, Thread: " +
           std::to_string(xpp::ThreadID()) + "\r\n" + xpp::OS() + ", RowXpp: 3.1.24, Runtime: " + xpp::Version(1) +
           "." + xpp::Version(2) + "." + xpp::Version(3) + "\r\n";
}

using ErrorLog = ErrorLogTest;

TEST_F(ErrorLog, WritesCreatesAppendsAndReplaces) {
    EXPECT_FALSE(SQLERRORLOG(""));
    EXPECT_FALSE(SQLERRORLOG(xpp::Value(42)));
    EXPECT_FALSE(std::filesystem::exists(folder_ / "SQLError.LOG"));

    ASSERT_TRUE(SQLERRORLOG("first"));
    EXPECT_EQ(Read(), "first\r\n");
    ASSERT_TRUE(SQLERRORLOG("second"));
    EXPECT_EQ(Read(), "first\r\nsecond\r\n");
    // append .F. empties the file and adds no line break
    ASSERT_TRUE(SQLERRORLOG("only", "SQLError.LOG", false));
    EXPECT_EQ(Read(), "only");
    // a file of another name, missing, made by an append
    ASSERT_TRUE(SQLERRORLOG("other", "Other.LOG", true));
    EXPECT_EQ(Read("Other.LOG"), "other\r\n");
    // the name keeps its case
    EXPECT_TRUE(std::filesystem::exists(folder_ / "SQLError.LOG"));
    EXPECT_TRUE(clock.Sleeps().empty());
}

TEST_F(ErrorLog, AFileHeldByAnotherProgramGivesUpAfterTenAttempts) {
    ASSERT_TRUE(SQLERRORLOG("before"));
    std::string path = (folder_ / "SQLError.LOG").string();
    std::FILE* holder = ::popen((std::string(ROWXPP_LOG_HOLDER) + " " + path).c_str(), "w");
    ASSERT_NE(holder, nullptr);
    for (int i = 0; i < 1000 && !std::filesystem::exists(path + ".held"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(std::filesystem::exists(path + ".held"));

    EXPECT_FALSE(SQLERRORLOG("while held"));
    EXPECT_EQ(clock.Sleeps(), std::vector<int64_t>(9, 20));
    EXPECT_EQ(::pclose(holder), 0);

    EXPECT_TRUE(SQLERRORLOG("after"));
    EXPECT_EQ(Read(), "before\r\nafter\r\n");
}

TEST_F(ErrorLog, AStatementErrorIsLoggedWithItsTextAndParametersAndFlashed) {
    auto c = Connected(TestDataSources::kSqlite);
    ASSERT_NE(c->Handle, 0);
    auto s = c->NewStatement("INSERT INTO no_such_table (a, b) VALUES (?, ?)");
    EXPECT_EQ(s->Execute(xpp::Args{xpp::Array{7, "seven"}}), kExecFailed);

    ASSERT_EQ(flashed.size(), 1u);
    EXPECT_EQ(flashed[0].rc, 65535);
    EXPECT_EQ(flashed[0].title, "SQLError.LOG");
    EXPECT_NE(flashed[0].text.find("HY000"), std::string::npos) << flashed[0].text;
    EXPECT_EQ(Read(), Head() + flashed[0].text + CRLF + CRLF + "SQLString: INSERT INTO no_such_table (a, b) VALUES (?, ?)" +
                          CRLF + "ParamList: " + xpp::Var2Char(xpp::Array{7, "seven"}) + CRLF + CRLF);

    // without parameters: no parameter line
    flashed.clear();
    std::filesystem::remove(folder_ / "SQLError.LOG");
    auto plain = c->NewStatement("SELECT * FROM no_such_table");
    EXPECT_EQ(plain->Execute(), kExecFailed);
    ASSERT_EQ(flashed.size(), 1u);
    EXPECT_EQ(Read(), Head() + flashed[0].text + CRLF + CRLF + "SQLString: SELECT * FROM no_such_table" + CRLF + CRLF);

    // no reconnection for HY000
    EXPECT_TRUE(clock.Sleeps().empty());
    EXPECT_EQ(Count(Read(), "RECONNECT"), 0u);
    EXPECT_TRUE(c->isConnected());
    c->Destroy();
}

TEST_F(ErrorLog, AConnectionErrorHasNoStatementLinesAndGoesToItsLogFile) {
    rowxpp_test::Loaded();
    auto c = SQLConnection::New();
    c->ErrorLogFile = "Conn.LOG";
    EXPECT_FALSE(c->DriverConnect(xpp::Value(), "DRIVER={No Such Driver}", SQL_DRIVER_NOPROMPT));
    ASSERT_EQ(flashed.size(), 1u);
    EXPECT_EQ(flashed[0].title, "Conn.LOG");
    EXPECT_EQ(Read("Conn.LOG"), Head() + flashed[0].text + CRLF + CRLF);
    EXPECT_FALSE(std::filesystem::exists(folder_ / "SQLError.LOG"));
    c->Destroy();
}

TEST_F(ErrorLog, WithoutAFlashHookTheErrorIsOnlyLogged) {
    auto c = Connected(TestDataSources::kSqlite);
    FlashHook kept = SetFlashHook(nullptr);
    auto s = c->NewStatement("SELECT * FROM no_such_table");
    EXPECT_EQ(s->Execute(), kExecFailed);
    SetFlashHook(kept);
    EXPECT_TRUE(flashed.empty());
    EXPECT_EQ(Count(Read(), "= SQL ERROR ="), 1u);
    c->Destroy();
}

TEST_F(ErrorLog, ASerializationFailureIsLoggedAndFlashedWithoutReconnecting) {
    auto& sources = TestDataSources::Get();
    auto& admin = sources.Admin();
    admin.Execute("CREATE TABLE serial_t (id integer PRIMARY KEY, v integer)");
    admin.Execute("INSERT INTO serial_t VALUES (1, 0)");

    auto c = Connected(TestDataSources::kPostgres);
    ASSERT_NE(c->Handle, 0);
    ASSERT_EQ(c->TransactionIsolation(SQL_TXN_SERIALIZABLE), SQL_TXN_SERIALIZABLE);
    ASSERT_TRUE(c->BeginTransaction());
    auto read = c->NewStatement("SELECT v FROM serial_t WHERE id = 1");
    EXPECT_GE(read->Execute(), -1);
    read->FreeStmt_(SQL_CLOSE);
    // the other session changes the row after this transaction's snapshot
    admin.Execute("UPDATE serial_t SET v = 5 WHERE id = 1");
    auto update = c->NewStatement("UPDATE serial_t SET v = 9 WHERE id = 1");
    EXPECT_EQ(update->Execute(), kExecFailed);

    ASSERT_EQ(flashed.size(), 1u);
    EXPECT_NE(flashed[0].text.find("40001"), std::string::npos) << flashed[0].text;
    EXPECT_EQ(flashed[0].rc, 65535);
    EXPECT_EQ(flashed[0].title, "SQLError.LOG");
    std::string log = Read();
    EXPECT_EQ(Count(log, "= SQL ERROR ="), 1u);
    EXPECT_NE(log.find("SQLString: UPDATE serial_t SET v = 9 WHERE id = 1"), std::string::npos);
    EXPECT_EQ(Count(log, "RECONNECT"), 0u);
    EXPECT_TRUE(clock.Sleeps().empty());
    EXPECT_TRUE(c->isConnected());
    EXPECT_TRUE(c->ShowConnErrors);
    c->RollbackTransaction();
    c->Destroy();
}

TEST_F(ErrorLog, ReadingTheTimeOutAndTheIsolationLevelReportsNothing) {
    for (const char* dsn : {"SQLite", "PostgreSQL", "KIVODBC"}) {
        SCOPED_TRACE(dsn);
        auto c = Connected(dsn);
        ASSERT_NE(c->Handle, 0);
        // what the driver answers to the same reads
        SQLUINTEGER level = 0, timeout = 0;
        SQLRETURN levelRead = SQLGetConnectAttr(ToHandle(c->Handle), SQL_ATTR_TXN_ISOLATION, &level, 0, nullptr);
        SQLRETURN timeoutRead = SQLGetConnectAttr(ToHandle(c->Handle), SQL_ATTR_CONNECTION_TIMEOUT, &timeout, 0, nullptr);
        EXPECT_EQ(c->TransactionIsolation(), SQL_SUCCEEDED(levelRead) ? static_cast<int64_t>(level) : 0);
        EXPECT_EQ(c->ConnectionTimeout(), SQL_SUCCEEDED(timeoutRead) ? static_cast<int64_t>(timeout) : 0);
        if (std::string(dsn) == "SQLite") {
            EXPECT_FALSE(SQL_SUCCEEDED(timeoutRead)) << "the SQLite driver refuses the time-out";
            EXPECT_EQ(c->ConnectionTimeout(), 0);
        }
        EXPECT_EQ(Read(), "");
        EXPECT_TRUE(flashed.empty());
        c->Destroy();
    }
}

}  // namespace
