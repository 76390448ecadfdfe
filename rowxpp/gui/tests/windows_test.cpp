// The window functions and the system-call wrappers.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include "gui_test_support.h"
#include "syscalls.h"

namespace {

// The dlopen handle of a library already in the process (0 when it is not):
// the number DllLoad answers for it.
int64_t InProcess(const std::string& file) {
    void* h = dlopen(file.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!h) return 0;
    dlclose(h);
    return static_cast<int64_t>(reinterpret_cast<intptr_t>(h));
}

// True while the runtime counts at least one DllLoad of the library.
bool HeldByTheRuntime(int64_t handle, const char* symbol) { return xpp::DllPrepareCall(handle, 32, symbol) != 0; }

std::shared_ptr<XbpDialog> Dialog(const Value& parent, Array pos, Array size) {
    auto d = xbp::New<XbpDialog>(Args{parent, Value(), pos, size});
    d->create();
    return d;
}

std::vector<xt::Call> Calls(const std::string& what, const xpp::Object* self = nullptr) {
    std::vector<xt::Call> out;
    for (auto& c : xt::Journal())
        if (c.what == what && (!self || c.self.lock().get() == self)) out.push_back(c);
    return out;
}

}  // namespace

TEST(ParentForm, TheNearestDialogOrCrtAboveTheWindow) {
    auto outer = Dialog(Value(), Array{0, 0}, Array{400, 300});
    auto tab = xbp::New<XbpTabPage>(Args{Value(outer->drawingArea()), Value(), Array{0, 0}, Array{300, 200}});
    auto button = xbp::New<XbpPushButton>(Args{Value(tab), Value(), Array{5, 5}, Array{80, 24}});
    auto inner = Dialog(Value(outer->drawingArea()), Array{10, 10}, Array{200, 100});
    auto crt = xbp::New<XbpCrt>();
    crt->create();
    auto onCrt = xbp::New<XbpStatic>(Args{Value(crt), Value(), Array{0, 0}, Array{10, 10}});
    // a dialog of the runtime's base class is no form of this library
    auto base = xbp::New<xbp::XbpBaseDialog>(Args{Value(), Value(), Array{0, 0}, Array{100, 100}});
    base->create();
    auto onBase = xbp::New<XbpStatic>(Args{Value(base->drawingArea()), Value(), Array{0, 0}, Array{10, 10}});

    EXPECT_EQ(GETPARENTFORM(Value(button)).Obj(), outer);
    EXPECT_EQ(GETPARENTFORM(Value(onCrt)).Obj(), crt);
    EXPECT_TRUE(GETPARENTFORM(Value(onBase)).IsNil());
    EXPECT_TRUE(GETPARENTFORM(5).IsNil());
    EXPECT_TRUE(GETPARENTFORM(Value()).IsNil());
    EXPECT_EQ(GETPARENTFORM(Value(inner)).Obj(), outer) << "the search starts above the window itself";
    EXPECT_TRUE(GETPARENTFORM(Value(outer)).IsNil());
    for (auto& w : std::vector<std::shared_ptr<xbp::Window>>{outer, crt, base}) w->destroy();
}

TEST(CenterControl, CentresByPlainDivisionOverTheParent) {
    struct Case {
        Array parent, control, expected;
    };
    const std::vector<Case> cases = {
        {Array{301, 200}, Array{100, 30}, Array{100.5, 85}},
        {Array{300, 200}, Array{100, 30}, Array{100, 85}},
        {Array{301, 200}, Array{400, 301}, Array{-49.5, -50.5}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(xpp::Var2Char(c.parent) + " " + xpp::Var2Char(c.control));
        auto parent = Dialog(Value(), Array{0, 0}, Array{500, 500});
        auto area = parent->drawingArea();
        area->SetSize(c.parent);
        auto button = xbp::New<XbpPushButton>(Args{Value(area), Value(), Array{0, 0}, c.control});
        xt::ClearJournal();
        EXPECT_TRUE(CENTERCONTROL(Args{Value(button)}).IsNil());
        auto setPos = Calls("XbpBasePushButton:SetPos", button.get());
        ASSERT_EQ(setPos.size(), 1u);
        EXPECT_EQ(xpp::Var2Char(setPos[0].args.Get(1)), xpp::Var2Char(c.expected));
        EXPECT_EQ(xpp::Var2Char(button->CurrentPos()), xpp::Var2Char(c.expected));
        EXPECT_TRUE(Calls("XbpDrawingArea:MapPoint").empty());
        EXPECT_TRUE(Calls("XbpBaseDialog:MapPoint").empty());
        // the own parent named as the reference: the same, still no MapPoint
        xt::ClearJournal();
        CENTERCONTROL(Args{Value(button), Value(area)});
        EXPECT_EQ(xpp::Var2Char(button->CurrentPos()), xpp::Var2Char(c.expected));
        EXPECT_TRUE(Calls("XbpDrawingArea:MapPoint").empty());
        parent->destroy();
    }
}

TEST(CenterControl, OverAnotherWindowThePositionIsMappedIntoTheRealParent) {
    auto parent = Dialog(Value(), Array{0, 0}, Array{600, 400});
    auto panel = xbp::New<XbpStatic>(Args{Value(parent->drawingArea()), Value(), Array{50, 40}, Array{200, 100}});
    auto other = xbp::New<XbpStatic>(Args{Value(parent->drawingArea()), Value(), Array{300, 200}, Array{201, 150}});
    auto button = xbp::New<XbpPushButton>(Args{Value(panel), Value(), Array{0, 0}, Array{100, 30}});
    xt::ClearJournal();
    EXPECT_TRUE(CENTERCONTROL(Args{Value(button), Value(other)}).IsNil());
    auto mapped = Calls("XbpBaseStatic:MapPoint", other.get());
    ASSERT_EQ(mapped.size(), 1u);
    EXPECT_EQ(mapped[0].args.Get(1).Obj(), panel);
    EXPECT_EQ(xpp::Var2Char(mapped[0].args.Get(2)), xpp::Var2Char(Array{50.5, 60}));
    // {50.5, 60} over `other` is {350.5, 260} in the drawing area, {300.5, 220} in the panel
    EXPECT_EQ(xpp::Var2Char(button->CurrentPos()), xpp::Var2Char(Array{300.5, 220}));
    parent->destroy();
}

TEST(CenterControl, ABadArgumentRaisesThroughXbpExceptionThenEndsTheCallWithNilMovingNothing) {
    auto parent = Dialog(Value(), Array{0, 0}, Array{500, 500});
    auto button = xbp::New<XbpPushButton>(Args{Value(parent->drawingArea()), Value(), Array{7, 8}, Array{100, 30}});
    auto orphan = xbp::New<XbpPushButton>(Args{Value(), Value(), Array{7, 8}, Array{100, 30}});
    Value notAWindow(xpp::Error::New());
    struct Case {
        const char* name;
        Args args;
        std::vector<int> codes;  // the genCodes raised, in order
        Value reported;          // the one element of every error's args
    };
    const std::vector<Case> cases = {
        {"no argument", Args{}, {3, 2}, Value()},
        {"NIL", Args{Value()}, {2}, Value()},
        {"a number", Args{5}, {2}, 5},
        {"an object that is no window", Args{notAWindow}, {2}, notAWindow},
        {"a button and 5", Args{Value(button), 5}, {2}, Value(button)},
        {"a button and a text", Args{Value(button), "x"}, {2}, Value(button)},
        {"a window without parent", Args{Value(orphan)}, {2}, Value(orphan)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CapturedErrors errors;
        xt::ClearJournal();
        EXPECT_TRUE(CENTERCONTROL(c.args).IsNil());
        EXPECT_TRUE(Calls("XbpBasePushButton:SetPos").empty());
        ASSERT_EQ(errors.errors.size(), c.codes.size());
        for (size_t i = 0; i < c.codes.size(); ++i) {
            const xpp::Error& e = *errors.errors[i];
            EXPECT_EQ(e.genCode.Int(), c.codes[i]);
            EXPECT_EQ(e.subSystem.Str(), "XBP");
            EXPECT_EQ(e.operation.Str(), "CENTERCONTROL");
            ASSERT_TRUE(e.args.IsArray());
            ASSERT_EQ(e.args.Arr().Len(), 1u);
            EXPECT_EQ(xpp::Var2Char(e.args.Arr().Get(1)), xpp::Var2Char(c.reported));
            if (c.reported.IsObject()) {
                EXPECT_EQ(e.args.Arr().Get(1).Obj(), c.reported.Obj());
            }
        }
    }
    EXPECT_EQ(xpp::Var2Char(button->CurrentPos()), xpp::Var2Char(Array{7, 8}));
    parent->destroy();
}

TEST(CenterControl, AnErrorBlockThatBreaksOutLeavesTheCallAtTheFirstRaise) {
    int raised = 0;
    xpp::Block kept = xpp::ErrorBlock(xpp::Block([&](Args& a) -> Value {
        ++raised;
        xpp::Break(a.Get(1));
    }));
    Value broken;
    xpp::Sequence([] { CENTERCONTROL(Args{}); }, [&](const Value& v) { broken = v; });
    xpp::ErrorBlock(kept);
    EXPECT_EQ(raised, 1);
    auto e = broken.As<xpp::Error>();
    ASSERT_TRUE(e);
    EXPECT_EQ(e->genCode.Int(), 3);
}

TEST(SystemCalls, EachWrapperCallsItsFunctionWithItsArgumentsAndLeavesTheLoadCounts) {
    MapGuard map;
    map.Map("GDI32.DLL", STUB_SYSCALLS);
    map.Map("USER32.DLL", STUB_SYSCALLS);
    map.Map("KERNEL32.DLL", STUB_SYSCALLS);
    std::string rect = xpp::L2Bin(1) + xpp::L2Bin(2) + xpp::L2Bin(30) + xpp::L2Bin(40);
    struct Case {
        const char* name;
        std::function<Value()> call;
        std::string logged;
        int64_t result;
    };
    const std::vector<Case> cases = {
        {"SETTEXTALIGN", [] { return gui::SETTEXTALIGN(65536, 24); }, "SetTextAlign 65536 24\n", 24},
        {"DRAWTEXTA", [&] { return gui::DRAWTEXTA(65537, "Hello", 5, rect, 2085); },
         "DrawTextA 65537 Hello 5 1,2,30,40 2085\n", 17},
        {"GETMODULEHANDLEA", [] { return gui::GETMODULEHANDLEA("no-such-module.dll"); },
         "GetModuleHandleA no-such-module.dll\n", 0},
    };
    for (bool held : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (held ? ", library held" : ""));
            int64_t mine = held ? xpp::DllLoad(STUB_SYSCALLS) : 0;
            StubClear();
            Value r = c.call();
            EXPECT_EQ(StubLog(), c.logged);
            EXPECT_TRUE(xpp::ExactEq(r, c.result));
            int64_t handle = InProcess(STUB_SYSCALLS);
            ASSERT_NE(handle, 0);
            EXPECT_EQ(HeldByTheRuntime(handle, "StubLog"), held);
            if (held) {
                xpp::DllUnload(mine);
                EXPECT_FALSE(HeldByTheRuntime(handle, "StubLog")) << "the wrapper kept a load";
            }
        }
    }
}

TEST(SystemCalls, GetModuleHandleAAnswersTheHandleOfALoadedLibraryOnly) {
    MapGuard map;
    map.Map("KERNEL32.DLL", STUB_SYSCALLS);
    map.Map("uxtheme.dll", STUB_UXTHEME);
    int64_t h = xpp::DllLoad("uxtheme.dll");
    ASSERT_NE(h, 0);
    EXPECT_TRUE(xpp::ExactEq(gui::GETMODULEHANDLEA("UXTHEME.DLL"), h));
    xpp::DllUnload(h);
    map.Map("uxtheme.dll", "/nonexistent/libuxtheme.so");
    EXPECT_TRUE(xpp::ExactEq(gui::GETMODULEHANDLEA("uxtheme.dll"), 0));
}

TEST(ThemeActive, WithNothingMappedTheAnswerIsNoAndNothingIsLoaded) {
    EXPECT_FALSE(ISTHEMEACTIVE());
    EXPECT_FALSE(ISTHEMEACTIVE(true));
    EXPECT_FALSE(ISTHEMEACTIVE(false));
    {
        MapGuard map;
        map.Map("KERNEL32.DLL", STUB_SYSCALLS);
        StubClear();
        EXPECT_FALSE(ISTHEMEACTIVE());
        EXPECT_EQ(StubLog(), "GetModuleHandleA uxtheme.dll\n");
    }
    EXPECT_EQ(InProcess("uxtheme.dll"), 0);
    EXPECT_EQ(InProcess(xpp::MappedLibrary("uxtheme.dll")), 0);
}

TEST(ThemeActive, TheAnswersOfTheThemeAndCommonControlsLibraries) {
    struct Case {
        const char* name;
        int theme, app;
        bool controlsLoaded;
        int failure, major, minor;
        Value checkApp;
        bool expected;
    };
    const int kFail = static_cast<int>(0x80004005u);
    const std::vector<Case> cases = {
        {"all met, NIL", 1, 1, true, 0, 6, 0, Value(), true},
        {"all met, .T.", 1, 1, true, 0, 6, 0, true, true},
        {"all met, .F.", 1, 1, true, 0, 6, 0, false, true},
        {"any non-zero answer counts", 5, -1, true, 0, 6, 10, Value(), true},
        {"no theme", 0, 1, true, 0, 6, 0, Value(), false},
        {"no theme, .F.", 0, 1, true, 0, 6, 0, false, false},
        {"theme only, .F.", 1, 0, false, 0, 6, 0, false, true},
        {"application not themed", 1, 0, true, 0, 6, 0, Value(), false},
        {"application not themed, .T.", 1, 0, true, 0, 6, 0, true, false},
        {"common controls not loaded", 1, 1, false, 0, 6, 0, Value(), false},
        {"DllGetVersion fails", 1, 1, true, kFail, 6, 0, Value(), false},
        {"version 5.82", 1, 1, true, 0, 5, 82, Value(), false},
        {"version 6.0", 1, 1, true, 0, 6, 0, true, true},
    };
    MapGuard map;
    map.Map("KERNEL32.DLL", STUB_SYSCALLS);
    map.Map("uxtheme.dll", STUB_UXTHEME);
    int64_t theme = xpp::DllLoad("uxtheme.dll");
    ASSERT_NE(theme, 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        xpp::DllCall(theme, 32, "StubSetTheme", Args{c.theme, c.app});
        map.Map("comctl32.dll", c.controlsLoaded ? STUB_COMCTL32 : "/nonexistent/libcomctl32.so");
        int64_t controls = c.controlsLoaded ? xpp::DllLoad("comctl32.dll") : 0;
        if (c.controlsLoaded) xpp::DllCall(controls, 32, "StubSetVersion", Args{c.failure, c.major, c.minor});
        EXPECT_EQ(ISTHEMEACTIVE(c.checkApp), c.expected);
        if (controls) xpp::DllUnload(controls);
    }
    xpp::DllUnload(theme);
}

// Outside tests nothing is journalled, and a window the program destroyed
// and let go of is freed with its drawing area and children.
TEST(Journal, OffUnlessSwitchedOnAndADestroyedDialogLetGoIsFreed) {
    xt::SetJournalling(false);
    xt::ClearJournal();
    std::weak_ptr<xpp::Object> gone, child;
    {
        auto d = Dialog(Value(), Array{10, 10}, Array{300, 200});
        auto sle = xbp::New<XbpSLE>(Args{Value(d->drawingArea()), Value(), Array{5, 5}, Array{100, 20}});
        sle->create();
        d->Show();
        xbp::PostAppEvent(1049999, std::string(100, 'x'), Value(), Value(sle));
        xpp::Ref mp1, mp2, obj;
        const int event = xbp::AppEvent(mp1, mp2, obj);
        obj.Get().As<xbp::Window>()->HandleEvent(event, mp1.Get(), mp2.Get());
        gone = d;
        child = sle;
        d->destroy();
    }
    const bool empty = xt::Journal().empty();
    xt::SetJournalling(true);
    EXPECT_TRUE(empty);
    EXPECT_TRUE(gone.expired());
    EXPECT_TRUE(child.expired());
}
