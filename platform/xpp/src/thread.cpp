// Per-thread runtime state, thread ids and thread objects, the procedure
// stack, the settings table and the clock.
#include <pthread.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "internal.h"
#include "xpp/error.h"
#include "xpp/functions.h"
#include "xpp/runtime.h"
#include "xpp/testing.h"

namespace xpp {

namespace {

std::atomic<int> g_nextId{1};
// initial-exec: a plain load, as for the frames
__thread detail::ThreadState* t_state __attribute__((tls_model("initial-exec"))) = nullptr;

void RunAtEnd(detail::ThreadState& st) {
    if (!st.threadObject) return;
    Value block = st.threadObject->atEnd();
    st.threadObject->atEnd(Value());
    if (!block.IsBlock()) return;
    try {
        Sequence([&] { block.Blk()(); }, [](const Value&) {});
    } catch (...) {
        std::fputs("xpp: an exception left a thread's atEnd block\n", stderr);
    }
}

std::mutex g_noticesLock;
std::vector<std::function<void(int)>>& Notices() {
    static auto* notices = new std::vector<std::function<void(int)>>;  // outlives every thread
    return *notices;
}

void RunThreadEndNotices(int id) {
    std::vector<std::function<void(int)>> notices;
    {
        std::lock_guard<std::mutex> g(g_noticesLock);
        notices = Notices();
    }
    for (auto& fn : notices) {
        try {
            Sequence([&] { fn(id); }, [](const Value&) {});
        } catch (...) {
            std::fputs("xpp: an exception left a thread-end notice\n", stderr);
        }
    }
}

void DestroyState(void* p) {
    auto* st = static_cast<detail::ThreadState*>(p);
    t_state = st;  // the atEnd block still sees the thread's own state
    RunAtEnd(*st);
    RunThreadEndNotices(st->id);
    std::shared_ptr<Thread> object = std::move(st->threadObject);
    t_state = nullptr;
    delete st;
    object.reset();
}

pthread_key_t& Key() {
    static pthread_key_t key = [] {
        pthread_key_t k;
        pthread_key_create(&k, DestroyState);
        return k;
    }();
    return key;
}

// The thread that loads the runtime (the main thread) is thread 1.
[[maybe_unused]] const int g_mainId = ThreadID();

}  // namespace

detail::ThreadState& detail::State() {
    if (!t_state) {
        pthread_key_t key = Key();
        auto* st = new ThreadState;
        st->id = g_nextId.fetch_add(1);
        t_state = st;
        pthread_setspecific(key, st);
    }
    return *t_state;
}

int ThreadID() { return detail::State().id; }

// ------------------------------------------------------------------ frames

__thread Frame* detail::innermostFrame = nullptr;

Frame::Frame(std::string_view name, int line)
    : line_(line), outer_(detail::innermostFrame), copied_(std::make_unique<std::string>(name)) {
    name_ = *copied_;
    detail::innermostFrame = this;
}

void Frame::Line(int line) {
    if (Frame* f = detail::innermostFrame) f->line_ = line;
}

namespace {
// The frame `level` steps out from the innermost; null past the outermost.
const Frame* FrameAt(int level) {
    if (level < 0) return nullptr;
    const Frame* f = detail::innermostFrame;
    for (; f != nullptr && level > 0; --level) f = f->Outer();
    return f;
}
}  // namespace

std::string ProcName(int level) {
    const Frame* f = FrameAt(level);
    return f != nullptr ? std::string(f->Name()) : std::string();
}

int ProcLine(int level) {
    const Frame* f = FrameAt(level);
    return f != nullptr ? f->CurrentLine() : 0;
}

std::string detail::CallStackReport() {
    std::string out;
    for (const Frame* f = innermostFrame; f != nullptr; f = f->Outer())
        out += "Called from " + std::string(f->Name()) + "(" + std::to_string(f->CurrentLine()) + ")\n";
    return out;
}

// ----------------------------------------------------------------- threads

Class& Thread::ClassObject() {
    static ClassSlot slot;
    return slot.Get("Thread", nullptr);
}

std::shared_ptr<Thread> Thread::New() { return std::make_shared<Thread>(); }

Thread::~Thread() {
    if (thread_.joinable()) {
        if (thread_.get_id() == std::this_thread::get_id()) thread_.detach();
        else thread_.join();
    }
}

Value Thread::atEnd() const {
    std::lock_guard<std::mutex> g(lock_);
    return atEnd_;
}

void Thread::atEnd(Value block) {
    std::lock_guard<std::mutex> g(lock_);
    std::swap(atEnd_, block);
}

struct ThreadAccess {
    static void SetId(Thread& t, int id) { t.id_.store(id); }
    static void Run(std::shared_ptr<Thread> self, Block block, Args args) {
        auto& st = detail::State();
        self->id_.store(st.id);
        st.threadObject = std::move(self);
        // No recovery sequence around the block: a Break that nothing
        // recovers ends the program from where it was raised, with its frames.
        try {
            block.Eval(args);
        } catch (const BreakException& b) {
            detail::EndByError("Break without a recovery sequence: " + Var2Char(b.value) + "\n");
        }
    }
};

bool Thread::start(Block block, Args args) {
    std::lock_guard<std::mutex> g(lock_);
    if (thread_.joinable()) return false;
    auto self = std::static_pointer_cast<Thread>(shared_from_this());
    thread_ = std::thread(&ThreadAccess::Run, std::move(self), std::move(block), std::move(args));
    return true;
}

void Thread::synchronize() {
    std::thread t;
    {
        std::lock_guard<std::mutex> g(lock_);
        if (!thread_.joinable() || thread_.get_id() == std::this_thread::get_id()) return;
        t = std::move(thread_);
    }
    t.join();
}

void AddThreadEndNotice(std::function<void(int)> fn) {
    std::lock_guard<std::mutex> g(g_noticesLock);
    Notices().push_back(std::move(fn));
}

std::shared_ptr<Thread> ThreadObject() {
    auto& st = detail::State();
    if (!st.threadObject) {
        st.threadObject = Thread::New();
        ThreadAccess::SetId(*st.threadObject, st.id);
    }
    return st.threadObject;
}

// ---------------------------------------------------------------- settings

namespace {
Value DefaultSetting(int id) {
    switch (id) {
        case SET_EXACT: return false;
        case SET_DATEFORMAT: return "mm/dd/yyyy";
        case SET_EXCLUSIVE: return true;
        case SET_COLLATION: return 0;
        case SET_CHARSET: return 0;
        case SET_CAPTIONTILDE: return false;
        default: return Value();
    }
}
}  // namespace

Value Set(int id) {
    auto& sets = detail::State().sets;
    auto it = sets.find(id);
    return it != sets.end() ? it->second : DefaultSetting(id);
}

Value Set(int id, Value newValue) {
    Value old = Set(id);
    detail::State().sets[id] = std::move(newValue);
    return old;
}

bool NetErr() { return detail::State().netErr; }

bool NetErr(bool newValue) {
    bool old = detail::State().netErr;
    detail::State().netErr = newValue;
    return old;
}

// ------------------------------------------------------------------- clock

namespace {

class SystemClock : public testing::Clock {
public:
    void Now(int32_t& julianDay, int64_t& msSinceMidnight) override {
        timespec ts;
        clock_gettime(CLOCK_REALTIME, &ts);
        tm local;
        localtime_r(&ts.tv_sec, &local);
        julianDay = Date::FromYMD(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday).Julian();
        msSinceMidnight = (local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec) * 1000LL +
                          ts.tv_nsec / 1000000;
    }
    void Sleep(int64_t hundredths) override {
        if (hundredths > 0) std::this_thread::sleep_for(std::chrono::milliseconds(hundredths * 10));
    }
    int64_t MonotonicMs() override {
        timespec ts;
        clock_gettime(CLOCK_MONOTONIC, &ts);
        return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
    }
};

SystemClock g_systemClock;
std::atomic<testing::Clock*> g_clock{nullptr};

testing::Clock& CurrentClock() {
    testing::Clock* c = g_clock.load();
    return c ? *c : g_systemClock;
}

}  // namespace

testing::Clock* testing::SetClock(Clock* clock) { return g_clock.exchange(clock); }

void testing::TestClock::Now(int32_t& julianDay, int64_t& msSinceMidnight) {
    std::lock_guard<std::mutex> g(lock_);
    julianDay = jd_;
    msSinceMidnight = ms_;
}

int64_t testing::TestClock::MonotonicMs() {
    std::lock_guard<std::mutex> g(lock_);
    return monotonic_;
}

void testing::TestClock::SetWall(int32_t julianDay, int64_t msSinceMidnight) {
    std::lock_guard<std::mutex> g(lock_);
    jd_ = julianDay;
    ms_ = msSinceMidnight;
}

void testing::TestClock::Advance(int64_t ms) {
    std::lock_guard<std::mutex> g(lock_);
    monotonic_ += ms;
    ms_ += ms;
    jd_ += static_cast<int32_t>(ms_ / 86400000);
    ms_ %= 86400000;
}

void testing::TestClock::Sleep(int64_t hundredths) {
    std::function<void()> fn;
    {
        std::lock_guard<std::mutex> g(lock_);
        sleeps_.push_back(hundredths);
        auto it = at_.find(static_cast<int>(sleeps_.size()));
        if (it != at_.end()) {
            fn = std::move(it->second);
            at_.erase(it);
        }
    }
    if (hundredths > 0) Advance(hundredths * 10);
    if (fn) fn();
}

std::vector<int64_t> testing::TestClock::Sleeps() const {
    std::lock_guard<std::mutex> g(lock_);
    return sleeps_;
}

void testing::TestClock::AtSleep(int k, std::function<void()> fn) {
    std::lock_guard<std::mutex> g(lock_);
    at_[k] = std::move(fn);
}

namespace {
std::mutex g_sleepLock;
std::shared_ptr<const SleepWrapper> g_sleepWrapper;
}  // namespace

void SetSleepWrapper(SleepWrapper wrapper) {
    std::lock_guard<std::mutex> g(g_sleepLock);
    g_sleepWrapper = wrapper ? std::make_shared<const SleepWrapper>(std::move(wrapper)) : nullptr;
}

void Sleep(int64_t hundredths) {
    std::shared_ptr<const SleepWrapper> wrapper;
    {
        std::lock_guard<std::mutex> g(g_sleepLock);
        wrapper = g_sleepWrapper;
    }
    testing::Clock* clock = g_clock.load();
    testing::Clock& c = clock ? *clock : g_systemClock;
    if (!wrapper) return c.Sleep(hundredths);
    (*wrapper)(hundredths, clock == nullptr, [&c](int64_t n) { c.Sleep(n); });
}

Value Seconds() {
    int32_t jd;
    int64_t ms;
    CurrentClock().Now(jd, ms);
    return Number::Double(static_cast<double>(ms / 10) / 100.0, 2);
}

double MonotonicSeconds() { return static_cast<double>(CurrentClock().MonotonicMs()) / 1000.0; }

Date Today() {
    int32_t jd;
    int64_t ms;
    CurrentClock().Now(jd, ms);
    return Date::FromJulian(jd);
}

std::string Time() {
    int32_t jd;
    int64_t ms;
    CurrentClock().Now(jd, ms);
    int64_t s = ms / 1000;
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", static_cast<int>(s / 3600 % 24),
                  static_cast<int>(s / 60 % 60), static_cast<int>(s % 60));
    return buf;
}

}  // namespace xpp
