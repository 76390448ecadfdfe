// What the library's windows do with the runtime's events: CRT drag
// positions, spin-button padding and menu-bar accelerators.
#include <gtest/gtest.h>

#include "gui_test_support.h"

namespace {

// An application's CRT window: its drag callbacks note the position they
// received and answer numbers of their own.
class AppCrt : public XbpCrt {
public:
    static xpp::Class& ClassObject() {
        static xpp::ClassSlot slot;
        return slot.Get("AppCrt", &XBPCRT());
    }
    xpp::Class& classObject() const override { return ClassObject(); }
    std::vector<std::string> seen;
    Value DragEnter(const Value& s, const Value&) override { return Note("enter", s, 11); }
    Value DragMotion(const Value& s, const Value&) override { return Note("motion", s, 12); }
    Value DragDrop(const Value& s, const Value&) override { return Note("drop", s, 13); }

protected:
    template <class T>
    friend std::shared_ptr<T> xbp::New(Args);
    AppCrt() = default;

private:
    Value Note(const char* what, const Value& state, int answer) {
        seen.push_back(std::string(what) + " " + xpp::Var2Char(state.Arr().Get(2)));
        return answer;
    }
};

std::vector<xt::Call> Calls(const std::string& what) {
    std::vector<xt::Call> out;
    for (auto& c : xt::Journal())
        if (c.what == what) out.push_back(c);
    return out;
}

// Takes the next queued event and hands it to its window, as the loop does.
Value DispatchNext() {
    xpp::Ref mp1, mp2, oXbp;
    int event = xbp::AppEvent(mp1, mp2, oXbp);
    return oXbp.Get().As<xbp::Window>()->HandleEvent(event, mp1.Get(), mp2.Get());
}

}  // namespace

TEST(CrtEvents, ADropArrivesInRowAndColumnThroughTheQueue) {
    MouseGuard mouse;
    auto crt = xbp::New<AppCrt>();
    crt->MouseMode = 1;
    crt->create();
    ASSERT_EQ(crt->MaxRow(), 24);
    // the centre pixel of row 5, column 10; pixel y counts from the bottom
    int64_t fw = crt->FontWidth.Int(), fh = crt->FontHeight.Int();
    int64_t x = 10 * fw + fw / 2;
    int64_t y = crt->CurrentSize().Get(2).Int() - (5 * fh + fh / 2);
    auto data = xbp::DragData::New(std::string("t"), {});
    for (bool on : {true, false}) {
        SCOPED_TRACE(on ? "mouse on" : "mouse off");
        xbp::SetMouse(on);
        crt->seen.clear();
        xbp::PostAppEvent(xbp::xbeP_DragDrop, Array{0, Array{x, y}}, Value(data), Value(crt));
        Value r = DispatchNext();
        if (on) {
            EXPECT_EQ(r.Int(), 13);
            EXPECT_EQ(crt->seen, std::vector<std::string>{"drop {5, 10}"});
        } else {
            EXPECT_EQ(r.Int(), 0);
            EXPECT_TRUE(crt->seen.empty());
        }
    }
    crt->destroy();
}

TEST(CrtEvents, DragPositionsByMouseAndMode) {
    MouseGuard mouse;
    auto crt = xbp::New<AppCrt>();
    crt->create();
    crt->FontWidth = 8;
    crt->FontHeight = 16;
    ASSERT_EQ(crt->MaxRow(), 24);
    struct Position {
        Array pixels;
        const char* converted;
    };
    const std::vector<Position> positions = {
        {Array{16, 0}, "{0, 2}"}, {Array{0, 0}, "{0, 0}"}, {Array{0, 40}, "{22, 0}"}, {Array{17, 41}, "{22, 2}"}};
    const std::vector<std::pair<int, int>> events = {
        {xbp::xbeP_DragEnter, 11}, {xbp::xbeP_DragMotion, 12}, {xbp::xbeP_DragDrop, 13}};
    for (auto [event, answer] : events) {
        for (bool on : {true, false}) {
            for (int mode : {1, 0, 2}) {
                for (const Position& p : positions) {
                    std::string sent = xpp::Var2Char(p.pixels);
                    SCOPED_TRACE(std::to_string(event) + (on ? " on " : " off ") + std::to_string(mode) + " " + sent);
                    xbp::SetMouse(on);
                    crt->MouseMode = mode;
                    xt::ClearJournal();
                    Array pos = xpp::AClone(p.pixels);
                    Array state{7, pos};
                    Value r = crt->HandleEvent(event, state, Value());
                    EXPECT_EQ(xpp::Var2Char(pos), sent) << "the sender's position array is unchanged";
                    auto base = Calls("XbpBaseCrt:HandleEvent");
                    if (!on) {
                        EXPECT_EQ(r.Int(), 0);
                        EXPECT_TRUE(base.empty());
                        continue;
                    }
                    EXPECT_EQ(r.Int(), answer);
                    ASSERT_EQ(base.size(), 1u);
                    std::string expected = mode == 1 ? p.converted : sent;
                    EXPECT_EQ(xpp::Var2Char(base[0].args.Get(2).Arr().Get(2)), expected);
                    EXPECT_EQ(base[0].args.Get(1).Int(), event);
                }
            }
        }
    }
    // any other event reaches the base also with the mouse off
    xbp::SetMouse(false);
    xt::ClearJournal();
    crt->HandleEvent(xbp::xbeP_Close, Value(), Value());
    EXPECT_EQ(Calls("XbpBaseCrt:HandleEvent").size(), 1u);
    crt->destroy();
}

TEST(SpinButton, LeavingAfterAnUnpaddedNumberShowsItPaddedAgain) {
    auto dlg = xbp::New<XbpDialog>(Args{Value(), Value(), Array{0, 0}, Array{200, 100}});
    dlg->create();
    auto spin = xbp::New<XbpSpinButton>(Args{Value(dlg->drawingArea()), Value(), Array{10, 10}, Array{60, 20}});
    spin->PadWithZeros = true;
    spin->SetNumLimits(0, 999);
    spin->create();
    dlg->Show();
    for (const char* typed : {"7", "007"}) {
        SCOPED_TRACE(typed);
        spin->SetText(typed);
        xbp::PostAppEvent(xbp::xbeP_KillInputFocus, Value(), Value(), Value(spin));
        DispatchNext();
        EXPECT_EQ(spin->Text(), "007");
    }
    dlg->destroy();
}

TEST(SpinButton, KillInputFocusSetsTheValueOnlyWhenPaddingIsLost) {
    struct Case {
        bool pad;
        const char* text;
        const char* setData;  // the value set again, "" for none
    };
    const std::vector<Case> cases = {
        {false, "7", ""}, {true, "007", ""}, {true, "7", "7"}, {true, "123", "123"}, {true, "", "0"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.pad ? "padded " : "plain ") + c.text);
        auto spin = xbp::New<XbpSpinButton>();
        spin->PadWithZeros = c.pad;
        spin->SetNumLimits(0, 999);
        spin->SetText(c.text);
        xt::ClearJournal();
        spin->KillInputFocus();
        std::vector<std::string> calls;
        for (auto& call : xt::Journal())
            if (call.self.lock() == spin) calls.push_back(call.what + " " + xpp::Var2Char(call.args.Get(1)));
        std::vector<std::string> expected;
        if (*c.setData) expected.push_back(std::string("XbpBaseSpinbutton:SetData ") + c.setData);
        expected.push_back("XbpBaseSpinbutton:KillInputFocus NIL");
        EXPECT_EQ(calls, expected);
    }
}

TEST(MenuBar, AKeyOpensTheItemItMarks) {
    auto dlg = xbp::New<XbpDialog>(Args{Value(), Value(), Array{0, 0}, Array{200, 100}});
    dlg->create();
    auto bar = xbp::New<XbpMenuBar>(Args{Value(dlg)});
    bar->AddItem(Array{"~File", Value(), 0, XbpMenuBar::kAcceleratorItem});
    bar->AddItem(Array{"~Edit", Value(), 0, XbpMenuBar::kAcceleratorItem});
    xbp::PostAppEvent(xbp::xbeP_MenuKey, static_cast<int>('e'), Value(), Value(bar));
    EXPECT_EQ(DispatchNext().Int(), 2);
    xpp::Ref key(Value(static_cast<int>('e')));
    EXPECT_EQ(bar->OnMenuKey(key, Value()).Int(), 2);
    EXPECT_EQ(key.Get().Int(), 2) << "the item's position";
    dlg->destroy();
}

TEST(MenuBar, OnMenuKeyMatchesTheMarkedCharacterOfAcceleratorItems) {
    constexpr int64_t kBit = XbpMenuBar::kAcceleratorItem;
    auto edit = xbp::New<XbpMenu>();
    edit->title = "~Edit";
    struct Case {
        const char* name;
        std::vector<Array> items;
        char key;
        int64_t result, position;  // position: nKey afterwards
    };
    const std::vector<Case> cases = {
        {"~ lower", {Array{"~File", Value(), 0, kBit}}, 'f', 2, 1},
        {"~ upper", {Array{"~File", Value(), 0, kBit}}, 'F', 2, 1},
        {"& lower", {Array{"&File", Value(), 0, kBit}}, 'f', 2, 1},
        {"& upper", {Array{"&File", Value(), 0, kBit}}, 'F', 2, 1},
        {"bit absent", {Array{"~File", Value(), 0, 0}}, 'f', 0, 'f'},
        {"other bits only", {Array{"~File", Value(), 0, kBit - 1}}, 'f', 0, 'f'},
        {"element 4 NIL", {Array{"~File", Value(), 0, Value()}}, 'f', 0, 'f'},
        {"tilde before ampersand", {Array{"Save ~as & close", Value(), 0, kBit}}, 'a', 2, 1},
        {"ampersand ignored beside a tilde", {Array{"Save ~as & close", Value(), 0, kBit}}, 'c', 0, 'c'},
        {"no marker", {Array{"File", Value(), 0, kBit}}, 'f', 0, 'f'},
        {"object caption", {Array{Value(edit), Value(), 0, kBit}}, 'e', 2, 1},
        {"first of two matches",
         {Array{"~Edit", Value(), 0, kBit}, Array{"~File", Value(), 0, kBit}, Array{"~Find", Value(), 0, kBit}},
         'f', 2, 2},
        {"marker at the end", {Array{"File~", Value(), 0, kBit}}, 'f', 0, 'f'},
        {"marker at the end, key 0", {Array{"File~", Value(), 0, kBit}}, 0, 0, 0},
        {"caption of another type", {Array{5, Value(), 0, kBit}}, 'f', 0, 'f'},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto bar = xbp::New<XbpMenuBar>();
        for (auto& item : c.items) bar->AddItem(item);
        xpp::Ref key(Value(static_cast<int>(c.key)));
        EXPECT_EQ(bar->OnMenuKey(key, Value()).Int(), c.result);
        EXPECT_EQ(key.Get().Int(), c.position);
    }
}
