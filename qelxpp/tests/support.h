// The fixture of QELXPP's tests: a fresh folder as the current folder, a
// fresh module state, an injected clock and application name, and an error
// block that records what it receives.
#pragma once

#include <gtest/gtest.h>
#include <qel32_test.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <xpp/testing.h>
#include <xpp/xpp.h>

#include "qelxpp/qelxpp.h"
#include "qelxpp/testing.h"

namespace qeltest {

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class QelTest : public ::testing::Test {
protected:
    void SetUp() override {
        char cwd[4096];
        ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
        oldDir_ = cwd;
        std::string pattern = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") + "/qelxpp.XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        ASSERT_EQ(chdir(dir_.c_str()), 0);
        today_ = xpp::Today().Julian();
        clock_ = std::make_unique<xpp::testing::TestClock>(today_, 13 * 3600000LL + 14 * 60000 + 15000);
        xpp::testing::SetClock(clock_.get());
        xpp::testing::SetAppName("C:\\APP\\SHOP.EXE");
        qelxpp::testing::ResetState();
        oldBlock_ = xpp::ErrorBlock(xpp::Block([this](xpp::Args& a) {
            errors.push_back(a.Get(1).As<xpp::Error>());
            return xpp::Value();
        }));
        KivTestClearFaults();
        KivTestRecordCalls(0);
        KivTestClearCallLog();
    }
    void TearDown() override {
        qelxpp::QELUNLOADDLL();
        KivTestClearFaults();
        KivTestRecordCalls(0);
        xpp::ThreadObject()->atEnd(xpp::Value());
        xpp::ErrorBlock(oldBlock_);
        xpp::testing::SetClock(nullptr);
        xpp::testing::SetAppName("");
        if (chdir(oldDir_.c_str()) != 0) ADD_FAILURE();
        std::system(("rm -rf '" + dir_ + "'").c_str());
    }
    std::string CallLog() {
        std::string buf(1 << 16, '\0');
        uint32_t n = KivTestGetCallLog(buf.data(), static_cast<uint32_t>(buf.size()));
        buf.resize(std::min<size_t>(n, buf.size()));
        return buf;
    }
    std::string Log() { return ReadFile(dir_ + "/QEL_ERR.TXT"); }

    std::vector<std::shared_ptr<xpp::Error>> errors;
    std::string dir_;
    int32_t today_ = 0;
    std::unique_ptr<xpp::testing::TestClock> clock_;

private:
    std::string oldDir_;
    xpp::Block oldBlock_;
};

// Runs `fn` in a new runtime thread and waits for its end.
inline void InThread(std::function<void()> fn) {
    auto t = xpp::Thread::New();
    t->start(xpp::Block([fn](xpp::Args&) {
        fn();
        return xpp::Value();
    }));
    t->synchronize();
}

}  // namespace qeltest
