// Thread ids, thread objects and their atEnd blocks, per-thread settings and
// the test testClock.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "xpp/testing.h"
#include "xpp/xpp.h"

using namespace xpp;

namespace {

TEST(Threads, TheMainThreadIsOne) { EXPECT_EQ(ThreadID(), 1); }

TEST(Threads, HundredThreadsInTurnGetHundredNewIds) {
    int previous = ThreadID();
    std::thread([&] { previous = ThreadID(); }).join();
    std::vector<int> ids;
    for (int i = 0; i < 100; ++i) {
        int id = 0;
        std::thread([&] { id = ThreadID(); }).join();
        ids.push_back(id);
    }
    for (size_t i = 0; i < ids.size(); ++i) {
        EXPECT_GT(ids[i], i == 0 ? previous : ids[i - 1]);  // never reused
    }
}

TEST(Threads, AtEndRunsOnceForARuntimeThreadAndAForeignThread) {
    std::atomic<int> runs{0};
    std::atomic<int> endedIn{0};
    auto atEnd = Block([&](Args&) {
        ++runs;
        endedIn = ThreadID();  // the thread's own state is still there
        return Value();
    });

    auto thread = Thread::New();
    int startedIn = 0;
    ASSERT_TRUE(thread->start(Block([&](Args& a) {
                                  startedIn = ThreadID();
                                  EXPECT_EQ(a.Get(1).Int(), 42);
                                  EXPECT_EQ(ThreadObject().get(), thread.get());
                                  if (ThreadObject()->atEnd().IsNil()) ThreadObject()->atEnd(atEnd);
                                  return Value();
                              }),
                              {42}));
    thread->synchronize();
    EXPECT_EQ(runs.load(), 1);
    EXPECT_EQ(endedIn.load(), startedIn);
    EXPECT_EQ(thread->threadID(), startedIn);
    EXPECT_NE(startedIn, 1);

    int foreignId = 0;
    std::thread([&] {
        foreignId = ThreadID();
        ThreadObject()->atEnd(atEnd);
        EXPECT_EQ(ThreadObject()->threadID(), foreignId);
    }).join();
    EXPECT_EQ(runs.load(), 2);
    EXPECT_EQ(endedIn.load(), foreignId);
}

// A library's thread-end notice runs in every ending thread after the
// atEnd block, whatever the application put there.
TEST(Threads, ThreadEndNoticesFollowTheAtEndBlock) {
    static std::mutex lock;
    static std::vector<std::string>* seen = new std::vector<std::string>;
    auto note = [](std::string what) {
        std::lock_guard<std::mutex> g(lock);
        seen->push_back(std::move(what));
    };
    AddThreadEndNotice([note](int id) { note("notice " + std::to_string(id) + " in " + std::to_string(ThreadID())); });
    int first = 0, second = 0;
    auto thread = Thread::New();
    ASSERT_TRUE(thread->start(Block([&](Args&) {
        first = ThreadID();
        ThreadObject()->atEnd(Block([&](Args&) {
            note("atEnd " + std::to_string(ThreadID()));
            return Value();
        }));
        return Value();
    })));
    thread->synchronize();
    std::thread([&] { second = ThreadID(); }).join();
    std::lock_guard<std::mutex> g(lock);
    const std::string a = std::to_string(first), b = std::to_string(second);
    EXPECT_EQ(*seen, (std::vector<std::string>{"atEnd " + a, "notice " + a + " in " + a, "notice " + b + " in " + b}));
}

TEST(Threads, SettingsBelongToTheThread) {
    Set(SET_EXACT, true);
    NetErr(true);
    Value otherExact;
    bool otherNetErr = true;
    std::thread([&] {
        otherExact = Set(SET_EXACT);
        otherNetErr = NetErr();
        Set(SET_DATEFORMAT, "dd.mm.yyyy");
    }).join();
    EXPECT_FALSE(otherExact.Log());
    EXPECT_FALSE(otherNetErr);
    EXPECT_EQ(Set(SET_DATEFORMAT).Str(), "mm/dd/yyyy");
    EXPECT_TRUE(Set(SET_EXACT, false).Log());  // answers the old value
    EXPECT_TRUE(NetErr(false));
    EXPECT_TRUE(Set(SET_EXCLUSIVE).Log());
    EXPECT_EQ(Set(SET_COLLATION).Int(), 0);
    EXPECT_EQ(Set(SET_CHARSET).Int(), 0);
    EXPECT_FALSE(Set(SET_CAPTIONTILDE).Log());
}

TEST(Clock, TheTestClockSleepsAtOnceAndRecords) {
    xpp::testing::TestClock testClock(Date::FromYMD(2024, 5, 6).Julian(), (10 * 3600 + 30 * 60) * 1000LL);
    xpp::testing::Clock* old = xpp::testing::SetClock(&testClock);
    double before = Seconds().Dbl();
    auto started = std::chrono::steady_clock::now();
    Sleep(300);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
    EXPECT_DOUBLE_EQ(Seconds().Dbl() - before, 3.0);
    EXPECT_EQ(testClock.Sleeps(), std::vector<int64_t>{300});
    EXPECT_EQ(Time(), "10:30:03");
    EXPECT_EQ(DToS(Today()), "20240506");
    EXPECT_EQ(Seconds().Num().Decimals(), 2);

    int runs = 0;
    testClock.AtSleep(3, [&] { ++runs; });  // the second sleep from here
    Sleep(20);
    EXPECT_EQ(runs, 0);
    Sleep(20);
    EXPECT_EQ(runs, 1);
    Sleep(20);
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(testClock.Sleeps(), (std::vector<int64_t>{300, 20, 20, 20}));
    xpp::testing::SetClock(old);
}

TEST(Clock, TheSleepWrapperGetsTheDurationAndTheClocksOwnSleep) {
    struct Seen {
        int64_t hundredths;
        bool systemClock;
    };
    std::vector<Seen> seen;
    SetSleepWrapper([&](int64_t n, bool system, const std::function<void(int64_t)>& sleep) {
        seen.push_back({n, system});
        sleep(n);
    });
    auto started = std::chrono::steady_clock::now();
    Sleep(2);  // the system clock: 20 ms
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(20));
    xpp::testing::TestClock testClock(Date::FromYMD(2024, 5, 6).Julian(), 0);
    xpp::testing::Clock* old = xpp::testing::SetClock(&testClock);
    Sleep(500);
    xpp::testing::SetClock(old);
    SetSleepWrapper(nullptr);
    Sleep(0);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].hundredths, 2);
    EXPECT_TRUE(seen[0].systemClock);
    EXPECT_EQ(seen[1].hundredths, 500);
    EXPECT_FALSE(seen[1].systemClock);
    EXPECT_EQ(testClock.Sleeps(), std::vector<int64_t>{500});  // the wrapper called the clock's sleep
}

TEST(Clock, TheSystemClockTellsTheTime) {
    std::string t = Time();
    ASSERT_EQ(t.size(), 8u);
    EXPECT_EQ(t[2], ':');
    EXPECT_FALSE(Today().IsEmpty());
    double s = Seconds().Dbl();
    EXPECT_GE(s, 0);
    EXPECT_LT(s, 86400.01);
}

}  // namespace
