// The Xbp tests run with the Xbp application started, offscreen, so that
// they run without a display.
#include <gtest/gtest.h>

#include <cstdlib>

#include "xbp/xbp.h"

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::testing::InitGoogleTest(&argc, argv);
    if (!xbp::StartApplication()) return 2;
    return RUN_ALL_TESTS();
}
