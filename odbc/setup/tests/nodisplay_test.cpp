// A host with no display and no Qt application: every dialog counts as
// cancelled, and nothing aborts the process.
#include <gtest/gtest.h>
#include <odbcinst.h>

#include <string>

#include "kivset.h"

namespace {

TEST(NoDisplay, DialogsCountAsCancelled) {
  ODBCINSTWND window{};
  const char attributes[] = "DSN=Headless\0DataDirectory=/srv/h\0";
  HWND hwnd = reinterpret_cast<HWND>(&window);
  EXPECT_FALSE(ConfigDSN(hwnd, ODBC_ADD_DSN, "Morvane Rivulet Test", attributes));
  EXPECT_TRUE(ConfigDSN(hwnd, ODBC_CONFIG_DSN, "Morvane Rivulet Test", attributes))
      << "a cancelled configure changes nothing and is no failure";

  char dir[KIVSET_DATADIRECTORY_SIZE] = "/srv/h";
  char user[KIVSET_USER_SIZE] = "u";
  EXPECT_EQ(PromptForConnectInfo("", dir, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                 nullptr, nullptr, nullptr, nullptr, user, nullptr),
            0);
  EXPECT_STREQ(dir, "/srv/h");
  EXPECT_STREQ(user, "u");
}

}  // namespace
