// Edit controls, spin buttons, menus, drag data, colours and font names.
#include <gtest/gtest.h>

#include "xbp/testing.h"
#include "xbp/xbp.h"

using namespace xbp;
using xpp::Args;
using xpp::Array;
using xpp::Value;

TEST(XbpControls, SleBufferSelectionAndSetData) {
    auto sle = New<XbpBaseSLE>();
    EXPECT_TRUE(sle->isDerivedFrom("XbpBaseSLE"));
    sle->SetText("hello world");
    EXPECT_EQ(sle->EditBuffer().Str(), "hello world");
    struct Case {
        size_t from, to;
        const char* want;
    } cases[] = {{6, 11, "{6, 11}"}, {11, 6, "{6, 11}"}, {3, 3, "{3, 3}"}, {40, 50, "{11, 11}"}};
    for (auto& c : cases) {
        sle->SetMarked(c.from, c.to);
        EXPECT_EQ(xpp::Var2Char(sle->QueryMarked()), c.want) << c.from << "-" << c.to;
    }
    sle->SetData("abc");
    EXPECT_EQ(sle->EditBuffer().Str(), "abc");
    EXPECT_EQ(xpp::Var2Char(sle->QueryMarked()), "{3, 3}");  // caret at the end
}

TEST(XbpControls, SpinButtonPadsOnlyOnSetData) {
    auto spin = New<XbpBaseSpinbutton>();
    EXPECT_TRUE(spin->isDerivedFrom("XbpBaseSLE"));
    EXPECT_TRUE(spin->isDerivedFrom("XbpBaseSpinbutton"));
    spin->SetNumLimits(0, 999);
    spin->PadWithZeros = true;
    // The user typed 7 and the focus left: the text is not re-formatted.
    spin->SetText("7");
    spin->HandleEvent(xbeP_KillInputFocus, Value(), Value());
    EXPECT_EQ(spin->Text(), "7");
    struct Case {
        bool pad;
        Value data;
        const char* shown;
        int64_t value;
    } cases[] = {{true, 7, "007", 7}, {true, 999, "999", 999}, {false, 7, "7", 7}, {true, 5000, "999", 999},
                 {true, -4, "000", 0}};
    for (auto& c : cases) {
        spin->PadWithZeros = c.pad;
        spin->SetData(c.data);
        EXPECT_EQ(spin->Text(), c.shown) << xpp::Var2Char(c.data);
        Value buf = spin->EditBuffer();
        EXPECT_TRUE(buf.IsNum());
        EXPECT_EQ(buf.Int(), c.value);
    }
    // The SLE level gives the raw text.
    spin->PadWithZeros = true;
    spin->SetData(7);
    EXPECT_EQ(spin->XbpBaseSLE::EditBuffer().Str(), "007");
    spin->SetText("7");
    EXPECT_EQ(spin->XbpBaseSLE::EditBuffer().Str(), "7");
    EXPECT_EQ(spin->EditBuffer().Int(), 7);
    EXPECT_FALSE(spin->SetNumLimits(5, 1));
}

TEST(XbpControls, MleInsertsAtAPositionOrTheInsertionPoint) {
    auto mle = New<XbpBaseMLE>();
    mle->SetText("abcdef", 2);
    struct Case {
        Value pos;
        const char* text;
        const char* want;
    } cases[] = {{Value(), "X", "abXcdef"},  // at the insertion point, which moves behind it
                 {Value(), "Y", "abXYcdef"},
                 {0, "<", "<abXYcdef"},
                 {100, ">", "<abXYcdef>"}};
    for (auto& c : cases) {
        mle->Insert(c.pos, c.text);
        EXPECT_EQ(mle->EditBuffer().Str(), c.want);
    }
}

TEST(XbpControls, MenuItemsComeBackAsNewArrays) {
    auto bar = New<XbpBaseMenubar>();
    auto menu = New<XbpBaseMenu>();
    menu->title = "~File";
    EXPECT_EQ(bar->AddItem(Array{"Open", Value(), 0, 0x20000}), 1);
    EXPECT_EQ(bar->AddItem(Array{Value(menu)}), 2);
    EXPECT_EQ(bar->NumItems(), 2);
    Value first = bar->GetItem(1);
    EXPECT_EQ(xpp::Var2Char(first), "{Open, NIL, 0, 131072}");
    EXPECT_FALSE(first.Arr().Same(bar->GetItem(1).Arr()));
    Value second = bar->GetItem(2);
    EXPECT_EQ(second.Arr().Len(), 4u);
    EXPECT_EQ(second.Arr().Get(1).As<XbpBaseMenu>()->title.Str(), "~File");
    EXPECT_TRUE(bar->GetItem(0).IsNil());
    EXPECT_TRUE(bar->GetItem(3).IsNil());
    // A key on the bar reaches OnMenuKey; the base version selects nothing.
    EXPECT_EQ(bar->HandleEvent(xbeP_MenuKey, 65, Value()).Int(), 0);
}

TEST(XbpControls, DragDataOffersItsFormats) {
    struct Case {
        std::optional<std::string> text;
        std::vector<std::string> files;
        const char* formats;
    } cases[] = {{"some text", {"/tmp/a b", "/tmp/c"}, "{{1}, {15}}"},
                 {"only text", {}, "{{1}}"},
                 {std::nullopt, {"/x"}, "{{15}}"},
                 {std::nullopt, {}, "{}"}};
    for (auto& c : cases) {
        auto d = DragData::New(c.text, c.files);
        EXPECT_EQ(xpp::Var2Char(d->GetFormats()), c.formats);
        Value t = d->GetData(1);
        if (c.text) EXPECT_EQ(t.Str(), *c.text);
        else EXPECT_TRUE(t.IsNil());
        Value f1 = d->GetData(15), f2 = d->GetData(15);
        if (!c.files.empty()) {
            ASSERT_TRUE(f1.IsArray());
            EXPECT_EQ(f1.Arr().Len(), c.files.size());
            EXPECT_EQ(f1.Arr().Get(1).Str(), c.files[0]);
            EXPECT_FALSE(f1.Arr().Same(f2.Arr()));
        } else {
            EXPECT_TRUE(f1.IsNil());
        }
        EXPECT_TRUE(d->GetData(2).IsNil());
    }
}

TEST(XbpControls, ColoursAndFontNames) {
    EXPECT_EQ(GraColorRGB(GRA_CLR_YELLOW), 0xFFFF00);
    EXPECT_EQ(GraColorRGB(6), 0xFFFF00);
    EXPECT_EQ(GraColorRGB(16), -1);
    EXPECT_EQ(GraColorRGB(-1), -1);
    struct Case {
        const char* name;
        bool ok;
        int points;
        const char* family;
    } cases[] = {{"8.Arial", true, 8, "Arial"},
                 {"10.DejaVu Sans Mono", true, 10, "DejaVu Sans Mono"},
                 {"Arial", false, 0, ""},
                 {".Arial", false, 0, ""},
                 {"x8.Arial", false, 0, ""}};
    for (auto& c : cases) {
        int points = 0;
        std::string family;
        EXPECT_EQ(ParseFontCompoundName(c.name, points, family), c.ok) << c.name;
        if (c.ok) {
            EXPECT_EQ(points, c.points);
            EXPECT_EQ(family, c.family);
        }
    }
}
