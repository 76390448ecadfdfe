// The application event queue and the application functions.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "test_support.h"
#include "xbp/testing.h"
#include "xbp/xbp.h"

using namespace xbp;
namespace xt = xbp::testing;
using xpp::Args;
using xpp::Array;
using xpp::Ref;
using xpp::Value;
using xbptest::Got;
using xbptest::Next;

namespace {

// Removes the wait hook at the end of a test.
struct HookGuard {
    explicit HookGuard(std::function<bool()> h) { xt::SetWaitHook(std::move(h)); }
    ~HookGuard() { xt::SetWaitHook(nullptr); }
};

std::shared_ptr<XbpBaseDialog> Dialog() {
    return New<XbpBaseDialog>(Args{Value(), Value(), Array{0, 0}, Array{100, 100}, Value(), false});
}

}  // namespace

TEST(XbpEvents, PostedEventsComeBackInOrderAcrossANestedWait) {
    HookGuard h([] { return false; });
    auto d = Dialog();
    PostAppEvent(1, "a", 10, Value(d));
    PostAppEvent(2, "b", 20, Value(d));
    PostAppEvent(3, Value(), Value(), Value(d));
    Got first = Next();
    EXPECT_EQ(first.event, 1);
    EXPECT_EQ(first.mp1.Str(), "a");
    EXPECT_EQ(first.mp2.Int(), 10);
    EXPECT_EQ(first.target.Obj(), d);
    // A handler of the first event posts one more and waits itself.
    PostAppEvent(4, "d", 40, Value(d));
    Got nested = Next();
    EXPECT_EQ(nested.event, 2);
    EXPECT_EQ(nested.mp1.Str(), "b");
    EXPECT_EQ(Next().event, 3);
    Got last = Next();
    EXPECT_EQ(last.event, 4);
    EXPECT_EQ(last.mp2.Int(), 40);
}

TEST(XbpEvents, AnEventWithoutTargetArrivesForTheDesktop) {
    HookGuard h([] { return false; });
    PostAppEvent(xbeP_Close, 1, 2);
    Got g = Next();
    EXPECT_EQ(g.event, xbeP_Close);
    EXPECT_EQ(g.target.Obj(), AppDesktop());
    EXPECT_TRUE(g.target.As<Window>()->HandleEvent(g.event, g.mp1, g.mp2).IsNil());
}

TEST(XbpEvents, TheWaitHookFeedsTheQueueAndEndsIt) {
    int calls = 0;
    HookGuard h([&] {
        if (++calls > 2) return false;
        PostAppEvent(100 + calls);
        return true;
    });
    EXPECT_EQ(Next().event, 101);
    EXPECT_EQ(Next().event, 102);
    // Nothing more: no event, still a target.
    Got none = Next();
    EXPECT_EQ(none.event, xbeP_None);
    EXPECT_EQ(none.target.Obj(), AppDesktop());
}

TEST(XbpEvents, WithoutAnEventSourceAppEventRaisesAnError) {
    xt::SetWaitHook(nullptr);
    detail::SetPump(nullptr);  // as if no Qt application ran
    std::string description;
    xpp::Block old = xpp::ErrorBlock(xpp::Block([](Args& a) -> Value { xpp::Break(a.Get(1)); }));
    xpp::Sequence([] { Next(); },
                  [&](const Value& v) {
                      if (auto e = v.As<xpp::Error>()) description = e->description.Str();
                  });
    xpp::ErrorBlock(old);
    EXPECT_TRUE(StartApplication());  // the pump again
    EXPECT_NE(description.find("no event can come"), std::string::npos) << description;
}

TEST(XbpEvents, EventsForAWindowGoToTheThreadThatMadeIt) {
    HookGuard h([] { return false; });
    auto d = Dialog();
    std::shared_ptr<XbpBaseDialog> made;
    std::thread worker([&] {
        PostAppEvent(7, "from worker", Value(), Value(d));
        made = Dialog();
        PostAppEvent(8, Value(), Value(), Value(made));  // stays with the worker
    });
    worker.join();
    Got g = Next();
    EXPECT_EQ(g.event, 7);
    EXPECT_EQ(g.mp1.Str(), "from worker");
    EXPECT_EQ(Next().event, xbeP_None);
}

TEST(XbpEvents, ApplicationSettings) {
    // SetAppEvent: registered block or NIL.
    EXPECT_TRUE(SetAppEvent(555).IsNil());
    Value blk = xpp::Block([](Args&) -> Value { return 1; });
    EXPECT_TRUE(SetAppEvent(555, blk).IsNil());
    EXPECT_TRUE(SetAppEvent(555).Blk().Same(blk.Blk()));
    EXPECT_TRUE(SetAppEvent(555, Value()).IsBlock());
    EXPECT_TRUE(SetAppEvent(555).IsNil());
    // SetAppFocus: a non-object changes nothing.
    auto d = Dialog();
    SetAppFocus(Value(d));
    EXPECT_EQ(SetAppFocus().Obj(), d);
    EXPECT_EQ(SetAppFocus(Value()).Obj(), d);
    EXPECT_EQ(SetAppFocus().Obj(), d);
    // SetMouse.
    EXPECT_TRUE(SetMouse());
    EXPECT_TRUE(SetMouse(false));
    EXPECT_FALSE(SetMouse());
    SetMouse(true);
    // The application window is the runtime's slot.
    Value old = xpp::SetAppWindow(Value(d));
    EXPECT_EQ(xpp::SetAppWindow().Obj(), d);
    xpp::SetAppWindow(old);
}

TEST(XbpEvents, AWorkerMakesAndDestroysWindowsWhileTheMainThreadWaits) {
    auto d = Dialog();
    d->create();
    std::atomic<bool> done{false};
    std::thread worker([&] {
        for (int i = 0; i < 200; ++i) {
            auto w = New<XbpBaseDialog>(Args{Value(), Value(d), Array{i, i}, Array{50, 50}, Value(), false});
            w->create();
            auto s = New<XbpBaseStatic>(Args{Value(w->drawingArea()), Value(), Array{1, 1}, Array{5, 5}});
            s->create();
            w->Show();
            w->destroy();
        }
        PostAppEvent(77, Value(), Value(), Value(d));  // to the thread that made d
        done = true;
    });
    // The main thread waits in AppEvent, reading the tree meanwhile.
    HookGuard h([&] {
        for (auto& c : AppDesktop()->Children()) c->CurrentSize();
        std::this_thread::yield();
        return true;
    });
    EXPECT_EQ(Next().event, 77);
    worker.join();
    EXPECT_TRUE(done);
    // Nothing the worker made is left in the tree.
    for (auto& c : AppDesktop()->Children()) EXPECT_FALSE(c->SetOwner().Obj() == d && c != d);
    d->destroy();
}
