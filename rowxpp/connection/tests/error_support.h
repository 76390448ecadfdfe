// Helpers of the error handler and reconnection tests: a test clock, a
// fresh current folder for the error log, and the flash hook's calls.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "kiv_odbc_testing/admin_connection.h"
#include "rowxpp/flash_hook.h"
#include "rowxpp/sql_connection.h"
#include "test_support.h"
#include "xpp/testing.h"

namespace rowxpp_test {

// 2026-12-10 as a Julian day, and 12:34:56 in milliseconds.
inline constexpr int32_t kTestDay = 2461385;
inline constexpr int64_t kTestTime = (12 * 3600 + 34 * 60 + 56) * 1000LL;

// How often `what` occurs in `text`.
inline size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
    return n;
}

// Waits (up to ten seconds) until the backend `pid` has left the server.
inline bool Gone(kivodbc::testing::AdminConnection& admin, int pid) {
    for (int i = 0; i < 500; ++i) {
        auto pids = admin.BackendPids(admin.Database());
        if (std::find(pids.begin(), pids.end(), pid) == pids.end()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

// Ends the backend of the PostgreSQL connection handle `dbc` and lets a
// statement of its own (straight through unixODBC) meet the loss first, so
// that every later call on the connection fails with 08S01.
inline void LoseConnection(kivodbc::testing::AdminConnection& admin, int64_t dbc) {
    int pid = kivodbc::testing::BackendPidOf(rowxpp::ToHandle(dbc));
    ASSERT_TRUE(admin.TerminateBackend(pid));
    ASSERT_TRUE(Gone(admin, pid));
    SQLHSTMT first = FailedStatement(dbc, "SELECT 1");
    ASSERT_TRUE(first != SQL_NULL_HSTMT) << "the loss went unnoticed";
    SQLFreeHandle(SQL_HANDLE_STMT, first);
}

// What the flash hook was handed.
struct Flashed {
    std::string text, title;
    int64_t rc = 0;
};

// Each test runs in a new current folder with the test clock, a known
// application name and a recording flash hook.
class ErrorLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        kept_ = std::filesystem::current_path();
        folder_ = std::filesystem::temp_directory_path() /
                  ("rowxpp_errors_" + std::to_string(::getpid()) + "_" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_);
        std::filesystem::current_path(folder_);
        keptClock_ = xpp::testing::SetClock(&clock);
        xpp::testing::SetAppName("/opt/app/ledger");
        keptHook_ = rowxpp::SetFlashHook([this](const xpp::Value& text, const xpp::Value& rc, const xpp::Value& title) {
            flashed.push_back({text.Str(), title.Str(), rc.Int()});
        });
    }
    void TearDown() override {
        rowxpp::SetFlashHook(keptHook_);
        xpp::testing::SetAppName("");
        xpp::testing::SetClock(keptClock_);
        std::filesystem::current_path(kept_);
        std::filesystem::remove_all(folder_);
    }

    // The bytes of a file of the test folder, "" when missing.
    std::string Read(const std::string& name = "SQLError.LOG") const {
        std::ifstream in(folder_ / name, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    xpp::testing::TestClock clock{kTestDay, kTestTime};
    std::vector<Flashed> flashed;
    std::filesystem::path folder_;

private:
    std::filesystem::path kept_;
    xpp::testing::Clock* keptClock_ = nullptr;
    rowxpp::FlashHook keptHook_;
};

}  // namespace rowxpp_test
