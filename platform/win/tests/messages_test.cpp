#include <gtest/gtest.h>

#include "kivwin/win.h"

namespace {

TEST(StringTable, LoadStringCutsToTheBufferAndReportsUnknownIds) {
  const kivwin::StringTable table{{2000, "01000General warning"}, {2001, "x"}};
  char buf[8];
  EXPECT_EQ(table.LoadString(2000, buf, sizeof buf), 7);
  EXPECT_STREQ(buf, "01000Ge");
  EXPECT_EQ(table.LoadString(2001, buf, sizeof buf), 1);
  EXPECT_STREQ(buf, "x");
  EXPECT_EQ(table.LoadString(1999, buf, sizeof buf), 0);
  EXPECT_STREQ(buf, "");
  EXPECT_EQ(table.Find(2000), "01000General warning");
}

TEST(MessageBoxSink, InstalledSinkAnswersAndRestoringBringsTheDefaultBack) {
  std::vector<std::string> seen;
  auto previous = kivwin::SetMessageBoxSink(
      [&](const std::string& text, const std::string& caption, unsigned flags) {
        seen.push_back(caption + "|" + text + "|" + std::to_string(flags));
        return kivwin::IDNO;
      });
  EXPECT_EQ(kivwin::MessageBox("Overwrite?", "DSN Name Exists", kivwin::MB_YESNO), kivwin::IDNO);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0], "DSN Name Exists|Overwrite?|4");

  kivwin::SetMessageBoxSink(previous);
  testing::internal::CaptureStderr();
  EXPECT_EQ(kivwin::MessageBox("Overwrite?", "Q", kivwin::MB_YESNO), kivwin::IDYES);
  EXPECT_EQ(kivwin::MessageBox("Done", "Q", kivwin::MB_OK), kivwin::IDOK);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("Q: Overwrite?"), std::string::npos);
  EXPECT_EQ(seen.size(), 1u);
}

}  // namespace
