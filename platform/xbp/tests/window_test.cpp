// The window model: class objects, init arguments, geometry, the tree and
// the base event dispatch.
#include <gtest/gtest.h>

#include "xbp/testing.h"
#include "xbp/xbp.h"

using namespace xbp;
namespace xt = xbp::testing;
using xpp::Args;
using xpp::Array;
using xpp::Value;

namespace {

std::vector<xt::Call> CallsNamed(const std::string& what) {
    std::vector<xt::Call> out;
    for (auto& c : xt::Journal())
        if (c.what == what) out.push_back(c);
    return out;
}

std::pair<double, double> Pt(const Array& a) { return {a.Get(1).Dbl(), a.Get(2).Dbl()}; }

// An application's dialog that overrides the callbacks.
class AppDialog : public XbpBaseDialog {
public:
    std::vector<std::string> seen;
    Value close(const Value&, const Value&) override {
        seen.push_back("close");
        return 7;
    }
    Value DragEnter(const Value& st, const Value&) override {
        seen.push_back("enter " + xpp::Var2Char(st));
        return 1;
    }
    Value DragDrop(const Value&, const Value& data) override {
        seen.push_back("drop " + xpp::Var2Char(data));
        return 1;
    }
    Value KillInputFocus() override {
        seen.push_back("kill");
        return Value();
    }
    Value OnMenuKey(xpp::Ref key, const Value&) override {
        seen.push_back("menu " + xpp::Var2Char(key.Get()));
        key.Set(3);
        return 2;
    }
};

}  // namespace

TEST(XbpWindow, ClassObjectsAreMadeOnceAndInitGetsTheExactArguments) {
    xt::ClearJournal();
    xpp::Class& a = XBPBASEDIALOG();
    xpp::Class& b = XBPBASEDIALOG();
    EXPECT_EQ(&a, &b);
    EXPECT_EQ(a.Name(), "XbpBaseDialog");
    auto d = New<XbpBaseDialog>(Args{Value(), Value(), Array{10, 20}, Array{300, 200}, Value(), false});
    auto s = New<XbpBaseStatic>(Args{d->drawingArea() ? Value(d->drawingArea()) : Value(d)});
    auto inits = CallsNamed("XbpBaseDialog:init");
    ASSERT_EQ(inits.size(), 1u);
    EXPECT_EQ(inits[0].args.PCount(), 6u);
    EXPECT_TRUE(inits[0].args.Get(5).IsNil());
    EXPECT_EQ(xpp::Var2Char(inits[0].args.Get(3)), "{10, 20}");
    auto sinits = CallsNamed("XbpBaseStatic:init");
    ASSERT_EQ(sinits.size(), 1u);
    EXPECT_EQ(sinits[0].args.PCount(), 1u);
    EXPECT_LE(CallsNamed("XbpBaseDialog:initClass").size(), 1u);
    EXPECT_TRUE(d->isDerivedFrom("XbpBaseDialog"));
    // A dialog without a parent lives under the desktop, whose parent is NIL.
    EXPECT_EQ(d->SetParent().Obj(), AppDesktop());
    EXPECT_TRUE(AppDesktop()->SetParent().IsNil());
    EXPECT_EQ(Pt(d->CurrentSize()), std::make_pair(300.0, 200.0));
    d->destroy();
}

TEST(XbpWindow, CalcClientRectTakesTheFrameAndTitleBar) {
    auto d = New<XbpBaseDialog>(Args{Value(), Value(), Array{0, 0}, Array{300, 200}, Value(), false});
    d->border = 9;
    d->titleBar = true;
    Array r = d->calcClientRect(Array{0, 0, 300, 200});
    EXPECT_EQ(r.Get(4).Int(), 200 - 33);
    EXPECT_LT(r.Get(3).Int(), 300);
    EXPECT_GT(r.Get(3).Int(), 290);
    d->titleBar = false;
    EXPECT_GT(d->calcClientRect(Array{0, 0, 300, 200}).Get(4).Int(), 200 - 33);
    // The drawing area covers the client area as configured at create().
    d->create();
    Array untitled = d->calcClientRect(Array{0, 0, 300, 200});
    EXPECT_EQ(Pt(d->drawingArea()->CurrentSize()), std::make_pair(untitled.Get(3).Dbl(), untitled.Get(4).Dbl()));
    d->destroy();
}

TEST(XbpWindow, MapPointConvertsBetweenWindows) {
    auto d = New<XbpBaseDialog>(Args{Value(), Value(), Array{100, 50}, Array{300, 200}, Value(), false});
    d->border = 9;
    d->create();
    Value area(d->drawingArea());
    auto a = New<XbpBaseStatic>(Args{area, Value(), Array{10, 20}, Array{100, 30}});
    auto b = New<XbpBaseStatic>(Args{area, Value(), Array{110.5, 60}, Array{100, 30}});
    FrameMetrics m = DialogFrame(9, true);
    struct Case {
        const char* name;
        std::shared_ptr<Window> from;
        Value to;
        Array pos;
        std::pair<double, double> want;
    } cases[] = {
        {"sibling to sibling", a, Value(b), Array{0, 0}, {10 - 110.5, 20 - 60}},
        {"sibling back", b, Value(a), Array{5, 5}, {5 + 110.5 - 10, 5 + 60 - 20}},
        {"child to its dialog", a, Value(d), Array{1, 2}, {11, 22}},
        {"child to the desktop", a, Value(AppDesktop()), Array{0, 0}, {100 + m.left + 10, 50 + m.bottom + 20}},
        {"child to NIL (the desktop)", a, Value(), Array{0, 0}, {100 + m.left + 10, 50 + m.bottom + 20}},
    };
    for (auto& c : cases) EXPECT_EQ(Pt(c.from->MapPoint(c.to, c.pos)), c.want) << c.name;
    // Fractions are kept in the model.
    b->SetPos(Array{100.5, -3});
    EXPECT_EQ(Pt(b->CurrentPos()), std::make_pair(100.5, -3.0));
    d->destroy();
}

TEST(XbpWindow, DestroyReleasesTheWindowAndItsChildren) {
    auto d = New<XbpBaseDialog>(Args{Value(), Value(), Array{0, 0}, Array{300, 200}, Value(), false});
    d->create();
    auto s = New<XbpBaseStatic>(Args{Value(d->drawingArea())});
    s->create();
    EXPECT_FALSE(d->IsVisible());
    d->Show();
    EXPECT_TRUE(d->IsVisible());
    EXPECT_EQ(d->drawingArea()->Children().size(), 1u);
    d->destroy();
    EXPECT_FALSE(d->IsVisible());
    EXPECT_FALSE(s->IsCreated());
    EXPECT_TRUE(s->SetParent().IsNil());
    EXPECT_TRUE(d->SetParent().IsNil());
    EXPECT_EQ(d->drawingArea(), nullptr);
}

TEST(XbpWindow, ModalStateAndOwner) {
    auto owner = New<XbpBaseDialog>(Args{Value(), Value(), Array{0, 0}, Array{10, 10}, Value(), false});
    auto d = New<XbpBaseDialog>(Args{Value(), Value(owner), Array{0, 0}, Array{10, 10}, Value(), false});
    EXPECT_EQ(d->SetOwner().Obj(), owner);
    EXPECT_EQ(d->SetModalState(2), 1);
    EXPECT_EQ(d->SetModalState(1), 2);
    EXPECT_EQ(d->ModalState(), 1);
}

TEST(XbpWindow, BaseHandleEventDispatchesToTheCallbacks) {
    auto d = std::shared_ptr<AppDialog>(new AppDialog());
    Args none;
    d->init(none);
    Array state{Value(), Array{3, 4}};
    struct Case {
        int event;
        Value mp1, mp2;
        std::string seen;
        std::string result;
    } cases[] = {
        {xbeP_Close, Value(), Value(), "close", "7"},
        {xbeP_DragEnter, state, Value(), "enter {NIL, {3, 4}}", "1"},
        {xbeP_DragMotion, state, Value(), "", "0"},  // the base version answers 0
        {xbeP_DragDrop, state, "data", "drop data", "1"},
        {xbeP_KillInputFocus, Value(), Value(), "kill", "NIL"},
        {xbeP_MenuKey, 65, Value(), "menu 65", "2"},
        {12345, Value(), Value(), "", "NIL"},
    };
    for (auto& c : cases) {
        d->seen.clear();
        Value r = d->HandleEvent(c.event, c.mp1, c.mp2);
        EXPECT_EQ(xpp::Var2Char(r), c.result) << c.event;
        EXPECT_EQ(d->seen.empty() ? "" : d->seen[0], c.seen) << c.event;
    }
    // The desktop ignores everything.
    EXPECT_TRUE(AppDesktop()->HandleEvent(xbeP_Close, Value(), Value()).IsNil());
}
