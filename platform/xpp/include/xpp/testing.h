// Test hooks of the runtime. Production code never includes this header.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "xpp/runtime.h"

namespace xpp::testing {

// The clock behind SLEEP, SECONDS, DATE and TIME.
class Clock {
public:
    virtual ~Clock() = default;
    // The current date (Julian day) and milliseconds since midnight.
    virtual void Now(int32_t& julianDay, int64_t& msSinceMidnight) = 0;
    virtual void Sleep(int64_t hundredths) = 0;
    // Milliseconds from an arbitrary start that only time passing moves:
    // setting the date or the time of day leaves it as it was.
    virtual int64_t MonotonicMs() = 0;
};
// Installs a clock (null: the system clock); answers the one before.
Clock* SetClock(Clock* clock);

// A clock that returns from Sleep at once, moves its time on by the
// duration, records every duration, and can run a function at the k-th
// sleep (1-based), once.
class TestClock : public Clock {
public:
    TestClock(int32_t julianDay, int64_t msSinceMidnight) : jd_(julianDay), ms_(msSinceMidnight) {}
    void Now(int32_t& julianDay, int64_t& msSinceMidnight) override;
    void Sleep(int64_t hundredths) override;
    int64_t MonotonicMs() override;
    std::vector<int64_t> Sleeps() const;
    void AtSleep(int k, std::function<void()> fn);
    // Time passing: the date, the time of day and the monotonic reading
    // move on together.
    void Advance(int64_t ms);
    // The date and time of day set anew, as a user or the network does;
    // the monotonic reading does not move.
    void SetWall(int32_t julianDay, int64_t msSinceMidnight);

private:
    mutable std::mutex lock_;
    int32_t jd_;
    int64_t ms_;
    int64_t monotonic_ = 0;
    std::vector<int64_t> sleeps_;
    std::map<int, std::function<void()>> at_;
};

// Sets what APPNAME(.T.) answers ("" goes back to the real path).
void SetAppName(const std::string& fullPath);
// The screen model of DevPos/DevOut/QOut: the text of a row (0-based), and
// a reset to blanks. Printing of a console program can be switched off.
std::string ScreenRow(int row);
void ClearScreen();
void SetScreenEcho(bool echo);
// Takes back the INIT/EXIT bookkeeping so a test can declare and run
// modules afresh (EXIT procedures registered so far are dropped).
void ResetModules();
// Runs what the program end runs (main thread's atEnd, EXIT procedures)
// without ending the process; `byError` sets AppEndedByError().
void RunProgramEnd(bool byError);

}  // namespace xpp::testing
