// Tests that look at windows through Qt run with the Xbp application
// started, offscreen, so that they run without a display.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "xbp/testing.h"
#include "xbp/xbp.h"

// The QApplication is the test's own, so that it (and the font caches it
// holds) goes before the process ends.
int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    if (!xbp::StartApplication()) return 2;
    xbp::testing::SetJournalling(true);  // the tests read the base calls
    return RUN_ALL_TESTS();
}
