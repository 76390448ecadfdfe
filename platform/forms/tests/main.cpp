#include <gtest/gtest.h>

#include <cstdlib>

#include "kivforms/forms.h"

// Qt needs its application object before any widget; the tests draw
// offscreen so that they run without a display.
int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  ::testing::InitGoogleTest(&argc, argv);
  kivforms::TApplication app(argc, argv);
  app.Title = "Forms Test";
  return RUN_ALL_TESTS();
}
