// The error flash window: its geometry, the dialog it shows for a second,
// the cases that show nothing, the console's alert, and the error
// handler's hook.
#include <gtest/gtest.h>

#include "flash_support.h"
#include "gui_test_support.h"
#include "rowxpp/flash_hook.h"

namespace {

std::string Str(const Array& a) { return xpp::Var2Char(a); }

// What the shown flash dialog looks like, read from the window model.
struct Seen {
    bool shown = false;
    std::string title, position, size, font;
    int64_t border = 0, colour = -1;
    bool moveWithOwner = false, sysMenu = true, titleBar = false;
    std::vector<std::string> captions, positions, sizes;
    std::vector<int64_t> colours;
    std::weak_ptr<xbp::Window> dialog;
};

Seen Look(const std::shared_ptr<XbpDialog>& app) {
    Seen s;
    auto dialogs = Dialogs(app);
    if (dialogs.size() != 1) return s;
    auto dlg = dialogs[0];
    s.dialog = dlg;
    s.shown = dlg->IsVisible();
    s.title = dlg->title.Str();
    s.position = Str(dlg->CurrentPos());
    s.size = Str(dlg->CurrentSize());
    s.border = dlg->border.Int();
    s.moveWithOwner = dlg->moveWithOwner.Log();
    s.sysMenu = dlg->sysMenu.Log();
    s.titleBar = dlg->titleBar.Log();
    auto area = dlg->drawingArea();
    s.colour = area->ColorBG().Int();
    s.font = area->FontCompoundName();
    for (auto& k : area->Children()) {
        auto line = std::dynamic_pointer_cast<XbpStatic>(k);
        if (!line) continue;
        s.captions.push_back(line->caption.Str());
        s.positions.push_back(Str(line->CurrentPos()));
        s.sizes.push_back(Str(line->CurrentSize()));
        s.colours.push_back(line->ColorBG().Int());
    }
    return s;
}

}  // namespace

TEST(FlashGeometry, SizesPositionsAndLines) {
    struct Case {
        size_t lines, longest;
        double pw, ph;
        double w, h, x, y;
    };
    const std::vector<Case> frames = {
        {2, 40, 640, 480, 300, 81, 170, 199},  // two lines of 10 and 40 characters
        {1, 5, 640, 480, 150, 67, 245, 206},   // one short line: the minimum width
        {2, 40, 200, 60, 300, 81, 0, 0},       // larger than the application window
        {3, 18, 301, 300, 150, 95, 75, 102},   // odd differences: whole pixels
    };
    for (const Case& c : frames) {
        SCOPED_TRACE(std::to_string(c.lines) + " lines of at most " + std::to_string(c.longest));
        FlashFrame f = FlashFrameOf(c.lines, c.longest, c.pw, c.ph);
        EXPECT_EQ(f.width, c.w);
        EXPECT_EQ(f.height, c.h);
        EXPECT_EQ(f.x, c.x);
        EXPECT_EQ(f.y, c.y);
    }
    // The client rectangle of a titled dialog with border 9 of 300 x 81:
    // 8 pixels narrower, 33 lower. h = 48 - 20, line height 14.
    auto dlg = xbp::New<XbpDialog>();
    dlg->border = 9;
    dlg->titleBar = true;
    Array client = dlg->calcClientRect(Array{170, 199, 300, 81});
    FlashLineLayout two = FlashLinesIn(client, 2);
    EXPECT_EQ(two.lineWidth, 282);
    EXPECT_EQ(two.lineHeight, 14);
    ASSERT_EQ(two.positions.size(), 2u);
    EXPECT_EQ(two.positions[0], std::make_pair(10.0, 24.0));  // line 1 on top
    EXPECT_EQ(two.positions[1], std::make_pair(10.0, 10.0));
    // {10, h + 10 - i * line height} with a line height cut to whole pixels
    FlashLineLayout three = FlashLinesIn(Array{0, 0, 142, 63}, 3);
    EXPECT_EQ(three.lineHeight, 14);  // INT(43 / 3)
    EXPECT_EQ(three.positions[0], std::make_pair(10.0, 39.0));
    EXPECT_EQ(three.positions[2], std::make_pair(10.0, 11.0));
    // a client area too low for its lines still gives lines one pixel high
    EXPECT_EQ(FlashLinesIn(Array{0, 0, 100, 10}, 4).lineHeight, 1);

    const std::vector<std::pair<std::string, std::vector<std::string>>> splits = {
        {"a\r\nbb\r\nccc", {"a", "bb"}},
        {"no line break", {}},
        {"", {}},
        {"\r\n", {""}},
        {"a\r\n\r\nb\r\n", {"a", "", "b"}},
        {"a\nb\r\r\n", {"a\nb\r"}},
    };
    for (auto& [text, lines] : splits) EXPECT_EQ(FlashLines(text), lines) << xpp::Var2Char(text);
}

TEST(FlashWindow, ShowsTheLinesCentredForASecondAndLeavesNothing) {
    FlashScene scene;
    Seen seen;
    scene.AtSleep([&] { seen = Look(scene.app); });
    EXPECT_TRUE(FLASH_(kText, 65535, "SQLError.LOG").IsNil());

    EXPECT_EQ(scene.Sleeps(), std::vector<int64_t>{100});
    EXPECT_TRUE(seen.shown);
    EXPECT_EQ(seen.title, "SQLError.LOG");
    EXPECT_EQ(seen.size, "{300, 81}");
    EXPECT_EQ(seen.position, "{170, 199}");
    EXPECT_EQ(seen.border, 9);
    EXPECT_TRUE(seen.moveWithOwner);
    EXPECT_FALSE(seen.sysMenu);
    EXPECT_TRUE(seen.titleBar);
    EXPECT_EQ(seen.colour, xbp::GRA_CLR_YELLOW);
    EXPECT_EQ(seen.font, xpp::NationMsg(118));
    EXPECT_EQ(seen.captions, (std::vector<std::string>{kLine1, kLine2}));
    EXPECT_EQ(seen.positions, (std::vector<std::string>{"{10, 24}", "{10, 10}"}));
    EXPECT_EQ(seen.sizes, (std::vector<std::string>{"{282, 14}", "{282, 14}"}));
    EXPECT_EQ(seen.colours, (std::vector<int64_t>{6, 6}));

    EXPECT_TRUE(Dialogs(scene.app).empty());
    xbp::testing::ClearJournal();  // the test journal keeps the arguments it saw
    EXPECT_TRUE(seen.dialog.expired()) << "the flash dialog outlived the call";
}

TEST(FlashWindow, ShowsNothingForInformationNoWindowOrNoLine) {
    struct Case {
        const char* name;
        int appType;
        bool window;
        Value text, rc;
    };
    const std::vector<Case> cases = {
        {"rc 1", xpp::APPTYPE_PM, true, kText, 1},
        {"rc 1 in a console", xpp::APPTYPE_VIO, true, kText, 1},
        {"no application window", xpp::APPTYPE_PM, false, kText, 65535},
        {"no application window in a console", xpp::APPTYPE_VIO, false, kText, 65535},
        {"a text without CR LF", xpp::APPTYPE_PM, true, "one line only", 65535},
        {"no text", xpp::APPTYPE_PM, true, Value(), 65535},
        {"no text in a console", xpp::APPTYPE_VIO, true, Value(), 65535},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AlertRecorder alerts;
        FlashScene scene(c.appType, c.window);
        EXPECT_TRUE(FLASH_(c.text, c.rc, "SQLError.LOG").IsNil());
        EXPECT_TRUE(scene.Sleeps().empty());
        EXPECT_TRUE(alerts.alerts.empty());
        EXPECT_TRUE(Dialogs(scene.app).empty());
    }
}

TEST(FlashWindow, AConsoleApplicationAlertsTheWholeText) {
    AlertRecorder alerts;
    FlashScene scene(xpp::APPTYPE_VIO);
    EXPECT_TRUE(FLASH_(kText, 65535, "SQLError.LOG").IsNil());
    EXPECT_EQ(alerts.alerts, std::vector<std::string>{kLine1 + ";" + kLine2 + ";the last line, not shown"});
    EXPECT_TRUE(scene.Sleeps().empty());
    EXPECT_TRUE(Dialogs(scene.app).empty());
}

TEST(FlashWindow, TheLibrarysInitHandsItToTheErrorHandlersHook) {
    FlashHook kept = SetFlashHook(nullptr);
    {
        FlashScene scene;
        Flash(kText, 65535, "SQLError.LOG");
        EXPECT_TRUE(scene.Sleeps().empty()) << "no hook, nothing shown";
    }
    ASSERT_TRUE(xpp::InitModule("ROWXPP_GUI"));
    {
        FlashScene scene;
        Seen seen;
        scene.AtSleep([&] { seen = Look(scene.app); });
        Flash(kText, 65535, "errors.log");
        EXPECT_EQ(seen.title, "errors.log");
        EXPECT_EQ(seen.captions, (std::vector<std::string>{kLine1, kLine2}));
        Flash(kText, 1, "errors.log");
        EXPECT_EQ(scene.Sleeps(), std::vector<int64_t>{100});
    }
    SetFlashHook(kept);
}
