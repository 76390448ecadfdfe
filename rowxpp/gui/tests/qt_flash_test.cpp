// The error flash window on the screen: grabbed while it is shown, placed
// over the application window, gone afterwards.
#include <gtest/gtest.h>

#include "qt_flash_shot.h"

namespace {

// The outer rectangle of a dialog's widget (which covers its client area).
QRect Frame(const QRect& client, int border, bool titleBar) {
    xbp::FrameMetrics m = xbp::DialogFrame(border, titleBar);
    return client.adjusted(-m.left, -m.top, m.right, m.bottom);
}

}  // namespace

TEST(FlashOnScreen, AYellowDialogWithTheTwoLinesCentredOverTheApplicationWindowThenNothing) {
    FlashScene scene;
    scene.app->SetPos(Array{50, 40});  // off the screen's edges, which Qt keeps frames inside
    QWidget* app = xt::WidgetOf(scene.app);
    ASSERT_NE(app, nullptr);
    const int widgetsBefore = xt::WidgetCount();
    PictureDir dir;
    FlashShot shot;
    ShootAtSleep(scene, shot, dir.File("flash.png"));

    EXPECT_TRUE(FLASH_(kText, 65535, "SQLError.LOG").IsNil());

    ASSERT_TRUE(shot.taken);
    EXPECT_EQ(scene.Sleeps(), std::vector<int64_t>{100});
    EXPECT_TRUE(shot.window);
    EXPECT_TRUE(shot.visible);
    EXPECT_EQ(shot.title, "SQLError.LOG");

    // 300 x 81 at {170, 199} in the application window's client area,
    // counted from its bottom left: the client area of border 9 with a
    // title bar is 292 x 48, 4 pixels in from the left and bottom
    xbp::FrameMetrics m = xbp::DialogFrame(9, true);
    // (Qt's geometry: without the frame Qt puts around a top-level window)
    const QRect a = app->geometry();
    const QRect expected(a.x() + 170 + m.left, a.y() + a.height() - 199 - m.bottom - 48, 292, 48);
    EXPECT_EQ(shot.geometry, expected);
    const QRect outer = Frame(shot.geometry, 9, true), appOuter = Frame(app->geometry(), 0, true);
    EXPECT_EQ(outer.size(), QSize(300, 81));
    EXPECT_LE(std::abs(outer.center().x() - appOuter.center().x()), 1);
    EXPECT_LE(std::abs(outer.center().y() - appOuter.center().y()), 1);

    // the picture: the client area, yellow, the two lines from the top
    ASSERT_EQ(shot.picture.size(), QSize(292, 48));
    ASSERT_EQ(shot.captions, (std::vector<std::string>{kLine1, kLine2}));
    ASSERT_EQ(shot.lines.size(), 2u);
    EXPECT_LT(shot.lines[0].top(), shot.lines[1].top()) << "line 1 on top";
    ExpectTextOnlyInTheLines(shot);
    const Ink first = InkOf(shot.picture, kYellow, shot.lines[0]);
    const Ink second = InkOf(shot.picture, kYellow, shot.lines[1]);
    EXPECT_LT(first.box.width() * 2, second.box.width()) << "10 characters above 40";
    EXPECT_EQ(InkOf(shot.picture, kYellow, QRect(0, shot.lines[1].bottom() + 1, 292, 48)).count, 0)
        << "no third line";

    // afterwards: no flash window, no widget of it
    EXPECT_TRUE(Dialogs(scene.app).empty());
    EXPECT_TRUE(shot.widget.isNull());
    EXPECT_EQ(xt::WidgetCount(), widgetsBefore);
}

TEST(FlashOnScreen, InformationNoApplicationWindowOrNoLineShowNoWindowAndDoNotSleep) {
    struct Case {
        const char* name;
        bool window;
        Value text, rc;
    };
    const std::vector<Case> cases = {
        {"rc 1", true, kText, 1},
        {"no application window", false, kText, 65535},
        {"a text without CR LF", true, "one line only", 65535},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FlashScene scene(xpp::APPTYPE_PM, c.window);
        const int widgets = xt::WidgetCount();
        bool slept = false;
        scene.AtSleep([&] { slept = true; });
        EXPECT_TRUE(FLASH_(c.text, c.rc, "SQLError.LOG").IsNil());
        EXPECT_FALSE(slept);
        EXPECT_TRUE(scene.Sleeps().empty());
        EXPECT_EQ(xt::WidgetCount(), widgets);
    }
}
