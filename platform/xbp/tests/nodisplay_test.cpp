// The Xbp application started where there is no display (run with
// DISPLAY, WAYLAND_DISPLAY and QT_QPA_PLATFORM empty): Qt runs offscreen,
// and APPTYPE() turns from the console value to a GUI application's.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>

#include "xbp/testing.h"
#include "xbp/xbp.h"

TEST(XbpNoDisplay, StartsOffscreenAndDeclaresAGuiApplication) {
    ASSERT_EQ(QCoreApplication::instance(), nullptr);
    EXPECT_EQ(xpp::AppType(), xpp::APPTYPE_VIO);
    EXPECT_FALSE(xbp::QtRunning());
    ASSERT_TRUE(xbp::StartApplication());
    EXPECT_TRUE(xbp::QtRunning());
    EXPECT_EQ(QGuiApplication::platformName(), "offscreen");
    EXPECT_EQ(xpp::AppType(), xpp::APPTYPE_PM);
    // windows get their widgets
    auto d = xbp::New<xbp::XbpBaseDialog>(
        xpp::Args{xpp::Value(), xpp::Value(), xpp::Array{0, 0}, xpp::Array{120, 80}, xpp::Value(), true});
    d->create();
    EXPECT_NE(xbp::testing::WidgetOf(d), nullptr);
    EXPECT_FALSE(xbp::testing::Grab(d).isNull());
    d->destroy();
}
