// The application event queue: one per thread, and the application
// functions around it.
#include <condition_variable>
#include <deque>
#include <map>

#include "model.h"
#include "xbp/testing.h"

namespace xbp {

namespace {

struct Posted {
    int event;
    xpp::Value mp1, mp2, target;
};

struct Queues {
    std::mutex lock;
    std::map<int, std::deque<Posted>> byThread;
    std::map<int, xpp::Value> handlers;
    std::function<bool()> hook;
    detail::Pump pump;
    std::function<void()> wake;
    std::condition_variable posted;  // a thread that Qt does not serve waits here
    xpp::Value focus;
    bool mouse = true;
};
Queues& Q() {
    static Queues q;
    return q;
}

void RaiseNoEventSource() {
    auto e = xpp::Error::New();
    e->subSystem = "XBP";
    e->operation = "AppEvent";
    e->description = "AppEvent(): no event can come (no Qt application runs and no wait hook is installed)";
    e->canDefault = true;
    xpp::RaiseError(e);
}

}  // namespace

namespace detail {
void SetPump(Pump pump, std::function<void()> wake) {
    {
        std::lock_guard g(Q().lock);
        Q().pump = std::move(pump);
        Q().wake = std::move(wake);
    }
    Q().posted.notify_all();
}
}  // namespace detail

namespace testing {
void SetWaitHook(std::function<bool()> hook) {
    {
        std::lock_guard g(Q().lock);
        Q().hook = std::move(hook);
    }
    Q().posted.notify_all();
}
}  // namespace testing

int AppEvent(const xpp::Ref& mp1, const xpp::Ref& mp2, const xpp::Ref& oXbp) {
    const int me = xpp::ThreadID();
    Posted next{xbeP_None, {}, {}, {}};
    for (;;) {
        std::function<bool()> hook;
        detail::Pump pump;
        {
            std::lock_guard g(Q().lock);
            auto& q = Q().byThread[me];
            if (!q.empty()) {
                next = std::move(q.front());
                q.pop_front();
                break;
            }
            hook = Q().hook;
            pump = Q().pump;
        }
        if (hook) {
            if (!hook()) break;
        } else if (pump) {
            if (!pump()) {
                // not the Qt thread: wait until something is posted here
                std::unique_lock g(Q().lock);
                Q().posted.wait(g, [&] { return !Q().byThread[me].empty() || !Q().pump || Q().hook; });
            }
        } else {
            RaiseNoEventSource();
            break;
        }
    }
    if (!next.target.IsObject()) next.target = xpp::Value(AppDesktop());
    mp1.Set(next.mp1);
    mp2.Set(next.mp2);
    oXbp.Set(next.target);
    return next.event;
}

bool PostAppEvent(int event, const xpp::Value& mp1, const xpp::Value& mp2, const xpp::Value& target) {
    int thread = xpp::ThreadID();
    if (auto w = target.As<Window>()) thread = w->OwnerThread();
    std::function<void()> wake;
    {
        std::lock_guard g(Q().lock);
        Q().byThread[thread].push_back(Posted{event, mp1, mp2, target});
        wake = Q().wake;
    }
    Q().posted.notify_all();
    if (wake) wake();
    return true;
}

xpp::Value SetAppEvent(int event) {
    std::lock_guard g(Q().lock);
    auto it = Q().handlers.find(event);
    return it == Q().handlers.end() ? xpp::Value() : it->second;
}

xpp::Value SetAppEvent(int event, const xpp::Value& block) {
    std::lock_guard g(Q().lock);
    xpp::Value old;
    if (auto it = Q().handlers.find(event); it != Q().handlers.end()) old = it->second;
    if (block.IsBlock()) Q().handlers[event] = block;
    else Q().handlers.erase(event);
    return old;
}

xpp::Value SetAppFocus() {
    std::lock_guard g(Q().lock);
    return Q().focus;
}

xpp::Value SetAppFocus(const xpp::Value& window) {
    JournalCall("SetAppFocus", nullptr, {window});
    xpp::Value old;
    {
        std::lock_guard g(Q().lock);
        old = Q().focus;
        if (window.IsObject()) Q().focus = window;
    }
    if (auto w = window.As<Window>()) Focused(*w);
    return old;
}

bool SetMouse() {
    std::lock_guard g(Q().lock);
    return Q().mouse;
}

bool SetMouse(bool on) {
    std::lock_guard g(Q().lock);
    bool old = Q().mouse;
    Q().mouse = on;
    return old;
}

}  // namespace xbp
