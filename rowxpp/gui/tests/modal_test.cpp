// Modal runs: scripted events and handler actions against the result,
// ModalResult, IsModal, the visibility and the order of the calls.
#include <gtest/gtest.h>

#include "gui_test_support.h"

namespace {

constexpr int kUserEvent = 2000;

// The windows of a run: the application's main window (the dialog's
// parent, and the focus holder before the run), another owner, the dialog
// and an edit on it.
struct Scene {
    std::shared_ptr<XbpDialog> main, owner;
    std::shared_ptr<ScriptDialog> dlg;
    std::shared_ptr<XbpSLE> sle;

    explicit Scene(bool ownerIsParent = false) {
        main = xbp::New<XbpDialog>(Args{Value(), Value(), Array{0, 0}, Array{640, 480}});
        main->create();
        main->Show();
        owner = xbp::New<XbpDialog>(Args{Value(), Value(), Array{0, 0}, Array{100, 100}});
        dlg = xbp::New<ScriptDialog>(Args{Value(main), Value(ownerIsParent ? main : owner), Array{10, 10},
                                           Array{300, 200}, Value(), false});
        dlg->create();
        dlg->Hide();
        sle = xbp::New<XbpSLE>(Args{Value(dlg->drawingArea()), Value(), Array{10, 10}, Array{100, 20}});
        sle->create();
        xbp::SetAppFocus(Value(main));
    }
    ~Scene() {
        main->destroy();
        owner->destroy();
    }

    std::string Name(const Value& v) const {
        if (v.IsNil()) return "NIL";
        auto o = v.Obj();
        if (o == main) return "main";
        if (o == owner) return "owner";
        if (o == dlg) return "dlg";
        if (o == sle) return "sle";
        return xpp::Var2Char(v);
    }

    // The run's Show, Hide and SetModalState of the dialog and every
    // SetAppFocus, in order.
    std::vector<std::string> Journal() const {
        std::vector<std::string> out;
        for (auto& c : xt::Journal()) {
            bool mine = c.self.lock() == dlg;
            if (c.what == "XbpBaseDialog:Show" && mine) out.push_back("Show");
            else if (c.what == "XbpBaseDialog:Hide" && mine) out.push_back("Hide");
            else if (c.what == "XbpBaseDialog:SetModalState" && mine)
                out.push_back("SetModalState " + xpp::Var2Char(c.args.Get(1)));
            else if (c.what == "SetAppFocus") out.push_back("SetAppFocus " + Name(c.args.Get(1)));
        }
        return out;
    }
};

// Ends a run that ran out of script: a failure, and a close to stop it.
class WaitGuard {
public:
    explicit WaitGuard(std::shared_ptr<xbp::Window> dlg) {
        xt::SetWaitHook([dlg] {
            ADD_FAILURE() << "the modal run waited for an event no script posted";
            xbp::PostAppEvent(kCloseEvent, Value(), Value(), Value(dlg));
            return true;
        });
    }
    ~WaitGuard() { xt::SetWaitHook(nullptr); }
};

struct Step {
    const char* target;  // "dlg" or "main"
    int event;
    std::function<void(ScriptDialog&)> action;
};

struct Case {
    const char* name;
    bool visibleBefore;
    bool ownerIsParent;
    Value focus;  // "sle" for the edit, anything else as it is
    std::vector<Step> steps;
    Value result;
    std::vector<std::string> byHandlers;  // journal entries the actions make
};

void SetResult(ScriptDialog& d, Value v) { d.ModalResult = std::move(v); }

std::string Text(const Value& v) { return std::string(1, v.Type()) + " " + xpp::Var2Char(v); }

}  // namespace

TEST(ModalRuns, ScriptedRunsEndAsTheirEventsAndHandlersSay) {
    const std::vector<Case> cases = {
        {"handler sets 1", false, false, "sle", {{"dlg", kUserEvent, [](ScriptDialog& d) { SetResult(d, 1); }}}, 1, {}},
        {"handler sets .T.", false, false, "sle", {{"dlg", kUserEvent, [](ScriptDialog& d) { SetResult(d, true); }}},
         true, {}},
        {"handler sets OK", false, false, "sle", {{"dlg", kUserEvent, [](ScriptDialog& d) { SetResult(d, "OK"); }}},
         "OK", {}},
        {"handler sets 0, then 1",
         false,
         false,
         "sle",
         {{"dlg", kUserEvent, [](ScriptDialog& d) { SetResult(d, 0); }},
          {"dlg", kUserEvent, [](ScriptDialog& d) { SetResult(d, 1); }}},
         1,
         {}},
        {"close event for the dialog", false, false, "sle", {{"dlg", kCloseEvent, nullptr}}, 2, {}},
        {"close event for another window", false, false, "sle", {{"main", kCloseEvent, nullptr}}, 2, {}},
        {"close event and a handler result in one pass",
         false,
         false,
         "sle",
         {{"dlg", kCloseEvent, [](ScriptDialog& d) { SetResult(d, "X"); }}},
         "X",
         {}},
        {"handler hides the window", false, false, "sle", {{"dlg", kUserEvent, [](ScriptDialog& d) { d.Hide(); }}}, 2,
         {"Hide"}},
        {"already visible", true, false, "sle", {{"dlg", kUserEvent, [](ScriptDialog& d) { SetResult(d, 1); }}}, 1,
         {}},
        {"owner equal to parent", false, true, "sle",
         {{"dlg", kUserEvent, [](ScriptDialog& d) { SetResult(d, 1); }}}, 1, {}},
        {"oFocus no object", false, false, 5, {{"dlg", kUserEvent, [](ScriptDialog& d) { SetResult(d, 1); }}}, 1, {}},
        {"oFocus NIL", false, false, Value(), {{"dlg", kUserEvent, [](ScriptDialog& d) { SetResult(d, 1); }}}, 1, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scene s(c.ownerIsParent);
        if (c.visibleBefore) s.dlg->Show();
        WaitGuard wait(s.dlg);
        bool focusSle = c.focus.IsChar() && c.focus.Str() == "sle";
        Value focus = focusSle ? Value(s.sle) : c.focus;
        for (size_t i = 0; i < c.steps.size(); ++i) {
            const Step& st = c.steps[i];
            Value target = std::string(st.target) == "dlg" ? Value(s.dlg) : Value(s.main);
            xbp::PostAppEvent(st.event, static_cast<int64_t>(i + 1), Value(), target);
            if (st.action) s.dlg->actions[static_cast<int64_t>(i + 1)] = st.action;
        }
        xt::ClearJournal();

        Value result = s.dlg->ShowModal(focus);

        EXPECT_EQ(Text(result), Text(c.result));
        EXPECT_EQ(Text(s.dlg->ModalResult), Text(c.result));
        EXPECT_TRUE(xpp::ExactEq(s.dlg->IsModal, false));
        EXPECT_FALSE(s.dlg->IsVisible());
        EXPECT_EQ(xbp::SetAppFocus().Obj(), s.main) << "the focus is back where it was";

        std::vector<std::string> expected;
        if (!c.visibleBefore) expected.push_back("Show");
        expected.push_back("SetAppFocus dlg");
        if (focus.IsObject()) expected.push_back("SetAppFocus sle");
        if (!c.ownerIsParent) expected.push_back("SetModalState 2");
        expected.insert(expected.end(), c.byHandlers.begin(), c.byHandlers.end());
        if (!c.ownerIsParent) {
            expected.push_back("SetModalState 1");
            expected.push_back("SetAppFocus owner");
        }
        expected.push_back("SetAppFocus main");
        expected.push_back("Hide");
        EXPECT_EQ(s.Journal(), expected);

        // during the run the dialog was modal and held the focus (or its edit)
        for (auto& m : s.dlg->modalSeen) EXPECT_TRUE(xpp::ExactEq(m, true));
        for (auto* f : s.dlg->focusSeen) EXPECT_EQ(f, focus.IsObject() ? focus.Obj().get() : s.dlg.get());
    }
}

TEST(ModalRuns, NotADialogOrCrtOfTheseClassesGivesMinusOneAndChangesNothing) {
    Scene s;
    auto label = xbp::New<XbpStatic>(Args{Value(s.main), Value(), Array{0, 0}, Array{50, 20}});
    auto baseDialog = xbp::New<xbp::XbpBaseDialog>(Args{Value(), Value(), Array{0, 0}, Array{50, 20}});
    for (const Value& v : {Value("x"), Value(), Value(label), Value(baseDialog)}) {
        SCOPED_TRACE(xpp::Var2Char(v));
        xt::ClearJournal();
        EXPECT_TRUE(xpp::ExactEq(DISPLAYMODALDLG(v, Value(s.sle)), -1));
        EXPECT_TRUE(xt::Journal().empty());
        EXPECT_EQ(xbp::SetAppFocus().Obj(), s.main);
    }
    EXPECT_FALSE(label->IsVisible());
}

TEST(ModalRuns, ASecondRunStartsAtZeroAndDisplayModalDlgAnswersTheResult) {
    Scene s;
    WaitGuard wait(s.dlg);
    s.dlg->actions[1] = [](ScriptDialog& d) { SetResult(d, "first"); };
    xbp::PostAppEvent(kUserEvent, 1, Value(), Value(s.dlg));
    EXPECT_EQ(DISPLAYMODALDLG(Value(s.dlg)).Str(), "first");
    EXPECT_EQ(s.dlg->ModalResult.Str(), "first");

    Value atStart;
    s.dlg->actions[2] = [&](ScriptDialog& d) {
        atStart = d.ModalResult;
        SetResult(d, 3);
    };
    xbp::PostAppEvent(kUserEvent, 2, Value(), Value(s.dlg));
    EXPECT_TRUE(xpp::ExactEq(s.dlg->ShowModal(), 3));
    EXPECT_EQ(Text(atStart), "N 0");
}

TEST(ModalRuns, TheRegisteredBlockRunsBeforeHandleEventWithTheEventsValues) {
    Scene s;
    WaitGuard wait(s.dlg);
    std::vector<std::string> order;
    Value old = xbp::SetAppEvent(kUserEvent + 1, xpp::Block([&](Args& a) -> Value {
                                     order.push_back("block " + xpp::Var2Char(a.Get(1)) + " " +
                                                     xpp::Var2Char(a.Get(2)) + " " + s.Name(a.Get(3)));
                                     return Value();
                                 }));
    s.dlg->actions[7] = [&](ScriptDialog& d) {
        order.push_back("handle");
        SetResult(d, 1);
    };
    xbp::PostAppEvent(kUserEvent + 1, 7, "two", Value(s.dlg));
    EXPECT_TRUE(xpp::ExactEq(s.dlg->ShowModal(), 1));
    EXPECT_EQ(order, (std::vector<std::string>{"block 7 two dlg", "handle"}));

    // run again: a block that sets the result ends the run with it
    xbp::SetAppEvent(kUserEvent + 1, xpp::Block([&](Args&) -> Value {
                         s.dlg->ModalResult = "OK";
                         return Value();
                     }));
    xbp::PostAppEvent(kUserEvent + 1, 8, Value(), Value(s.dlg));
    EXPECT_EQ(s.dlg->ShowModal().Str(), "OK");
    EXPECT_EQ(s.dlg->ModalResult.Str(), "OK");
    EXPECT_FALSE(s.dlg->IsVisible());
    xbp::SetAppEvent(kUserEvent + 1, old);
}

TEST(ModalRuns, AHandlerRunsANestedModalDialogAndTheOuterRunGoesOn) {
    Scene s;
    WaitGuard wait(s.dlg);
    auto inner = xbp::New<ScriptDialog>(Args{Value(s.dlg), Value(s.dlg), Array{0, 0}, Array{100, 50}});
    inner->create();
    inner->Hide();
    inner->actions[1] = [](ScriptDialog& d) { SetResult(d, 7); };
    Value innerResult;
    bool outerModalDuringInner = false;
    s.dlg->actions[1] = [&](ScriptDialog& d) {
        xbp::PostAppEvent(kUserEvent, 1, Value(), Value(inner));
        innerResult = inner->ShowModal();
        outerModalDuringInner = d.IsModal.Log();
        xbp::PostAppEvent(kUserEvent, 2, Value(), Value(s.dlg));
    };
    s.dlg->actions[2] = [](ScriptDialog& d) { SetResult(d, 1); };
    xbp::PostAppEvent(kUserEvent, 1, Value(), Value(s.dlg));
    EXPECT_TRUE(xpp::ExactEq(s.dlg->ShowModal(Value(s.sle)), 1));
    EXPECT_TRUE(xpp::ExactEq(innerResult, 7));
    EXPECT_TRUE(outerModalDuringInner);
    EXPECT_FALSE(inner->IsVisible());
    EXPECT_FALSE(s.dlg->IsVisible());
    EXPECT_EQ(xbp::SetAppFocus().Obj(), s.main);
}

TEST(ModalRuns, ACrtRunsModallyToo) {
    auto crt = xbp::New<XbpCrt>();
    crt->create();
    WaitGuard wait(crt);
    xbp::PostAppEvent(kCloseEvent, Value(), Value(), Value(crt));
    EXPECT_TRUE(xpp::ExactEq(crt->ShowModal(), 2));
    EXPECT_TRUE(xpp::ExactEq(crt->ModalResult, 2));
    EXPECT_FALSE(crt->IsVisible());
}

TEST(ModalRuns, AnEventWithoutAWindowGoesToTheDesktopAndTheRunGoesOn) {
    Scene s;
    WaitGuard wait(s.dlg);
    s.dlg->actions[2] = [](ScriptDialog& d) { SetResult(d, 1); };
    xbp::PostAppEvent(kUserEvent, 1);  // no target: the desktop takes it, answering nothing
    xbp::PostAppEvent(kUserEvent, 2, Value(), Value(s.dlg));
    EXPECT_TRUE(xpp::ExactEq(s.dlg->ShowModal(), 1));
    EXPECT_EQ(s.dlg->seen, std::vector<std::string>{"handle " + std::to_string(kUserEvent)});
}

TEST(ModalRuns, AnErrorThatUnwindsOutOfTheRunRestoresNothing) {
    Scene s;
    WaitGuard wait(s.dlg);
    s.dlg->actions[1] = [](ScriptDialog&) { xpp::Break("out"); };
    xbp::PostAppEvent(kUserEvent, 1, Value(), Value(s.dlg));
    xt::ClearJournal();
    Value broken;
    xpp::Sequence([&] { s.dlg->ShowModal(Value(s.sle)); }, [&](const Value& v) { broken = v; });
    EXPECT_EQ(broken.Str(), "out");
    // left as the run had it: modal, shown, the edit focused
    EXPECT_TRUE(xpp::ExactEq(s.dlg->IsModal, true));
    EXPECT_TRUE(s.dlg->IsVisible());
    EXPECT_EQ(s.dlg->ModalState(), 2);
    EXPECT_EQ(xbp::SetAppFocus().Obj(), s.sle);
    EXPECT_EQ(s.Journal(), (std::vector<std::string>{"Show", "SetAppFocus dlg", "SetAppFocus sle", "SetModalState 2"}));
    s.dlg->SetModalState(1);
}

namespace {

// An object of the program's that is no window of the library but answers
// HandleEvent by name, as a program's own event target does.
class EventSink : public xpp::Object {
public:
    static xpp::Class& ClassObject() {
        static xpp::ClassSlot slot;
        return slot.Get("EventSink", nullptr, [](xpp::Class& c) {
            c.AddMessage("HandleEvent", [](xpp::Object& o, xpp::Args& a) {
                auto& sink = static_cast<EventSink&>(o);
                sink.seen.push_back(std::to_string(a.Get(1).Int()) + " " + xpp::Var2Char(a.Get(2)));
                if (sink.onEvent) sink.onEvent();
                return Value();
            });
        });
    }
    xpp::Class& classObject() const override { return ClassObject(); }
    std::vector<std::string> seen;
    std::function<void()> onEvent;
};

}  // namespace

TEST(ModalRuns, AnEventForAnObjectThatIsNoWindowIsSentToItByName) {
    Scene s;
    WaitGuard wait(s.dlg);
    EventSink::ClassObject();
    auto sink = std::make_shared<EventSink>();
    sink->onEvent = [&] { s.dlg->ModalResult = 5; };
    xbp::PostAppEvent(kUserEvent, "to the sink", Value(), Value(sink));
    EXPECT_TRUE(xpp::ExactEq(s.dlg->ShowModal(), 5));
    EXPECT_EQ(sink->seen, std::vector<std::string>{std::to_string(kUserEvent) + " to the sink"});
}
