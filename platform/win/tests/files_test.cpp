#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>

#include <gtest/gtest.h>

#include "kivwin/win.h"

namespace fs = std::filesystem;

namespace {

class FolderFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("kivwin-" + std::to_string(getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_ / "a");
    fs::create_directories(root_ / "b");
    fs::create_directories(root_ / "cwd");
    oldCwd_ = fs::current_path();
    fs::current_path(root_ / "cwd");
    if (const char* p = std::getenv("PATH")) oldPath_ = p;
  }
  void TearDown() override {
    fs::current_path(oldCwd_);
    setenv("PATH", oldPath_.c_str(), 1);
    fs::remove_all(root_);
  }
  void Touch(const fs::path& p) { std::ofstream(p) << "x"; }

  fs::path root_, oldCwd_;
  std::string oldPath_;
};

TEST_F(FolderFixture, SearchPathPrefersCurrentFolderOverPath) {
  Touch(root_ / "b" / "kiv.ini");
  setenv("PATH", ((root_ / "a").string() + ":" + (root_ / "b").string()).c_str(), 1);
  EXPECT_EQ(kivwin::SearchPath("kiv.ini"), (root_ / "b" / "kiv.ini").string());

  Touch(root_ / "cwd" / "kiv.ini");
  EXPECT_EQ(kivwin::SearchPath("kiv.ini"), (root_ / "cwd" / "kiv.ini").string());
}

TEST_F(FolderFixture, SearchPathInGivenFolderLooksNowhereElse) {
  Touch(root_ / "cwd" / "qel32.so");
  EXPECT_FALSE(kivwin::SearchPath("qel32.so", (root_ / "a").string()).has_value());
  Touch(root_ / "a" / "qel32.so");
  EXPECT_EQ(kivwin::SearchPath("qel32.so", (root_ / "a").string()),
            (root_ / "a" / "qel32.so").string());
}

TEST_F(FolderFixture, SearchPathMissesFoldersAndAbsentFiles) {
  fs::create_directories(root_ / "cwd" / "kiv.ini");  // a folder, not a file
  setenv("PATH", "", 1);
  EXPECT_FALSE(kivwin::SearchPath("kiv.ini").has_value());
  EXPECT_FALSE(kivwin::SearchPath("").has_value());
}

TEST_F(FolderFixture, TempFileNamesAreNewFilesWithThePrefix) {
  std::set<std::string> names;
  for (int i = 0; i < 50; ++i) {
    std::string name = kivwin::GetTempFileName((root_ / "a").string(), "LEMON");
    ASSERT_FALSE(name.empty());
    EXPECT_TRUE(fs::is_regular_file(name));
    EXPECT_EQ(fs::path(name).filename().string().rfind("LEM", 0), 0u) << name;
    EXPECT_EQ(fs::path(name).extension(), ".TMP");
    names.insert(name);
  }
  EXPECT_EQ(names.size(), 50u);
  EXPECT_TRUE(kivwin::GetTempFileName((root_ / "missing").string(), "LEM").empty());
}

TEST_F(FolderFixture, WindowsPathsMapThroughTheDriveFolderWithoutRegardToCase) {
  fs::create_directories(root_ / "Data" / "My.Dir");
  Touch(root_ / "Data" / "Cust.DBF");
  const char* old = std::getenv("KIV_DRIVE_C");
  const std::string saved = old ? old : "";
  const std::string r = root_.string(), cwd = (root_ / "cwd").string();
  unsetenv("KIV_DRIVE_C");
  EXPECT_EQ(kivwin::MapPath("C:"), cwd);
  EXPECT_EQ(kivwin::MapPath("c:cust.dbf"), cwd + "/cust.dbf");
  EXPECT_EQ(kivwin::MapPath("C:\\TMP"), "/tmp");
  setenv("KIV_DRIVE_C", r.c_str(), 1);
  EXPECT_EQ(kivwin::MapPath("C:"), r);
  EXPECT_EQ(kivwin::MapPath("c:\\DATA\\cust.dbf  "), r + "/Data/Cust.DBF");
  EXPECT_EQ(kivwin::MapPath("C:\\DATA\\MY.DIR\\NEW.DBF"), r + "/Data/My.Dir/NEW.DBF");  // a new name as given
  EXPECT_EQ(kivwin::MapPath("DATA\\CUST.DBF", r), r + "/Data/Cust.DBF");
  EXPECT_EQ(kivwin::MapPath("data/x/../cust.dbf", r), r + "/Data/Cust.DBF");
  EXPECT_EQ(kivwin::MapPath(r + "/DATA/CUST.DBF"), r + "/Data/Cust.DBF");
  if (old) setenv("KIV_DRIVE_C", saved.c_str(), 1);
  else unsetenv("KIV_DRIVE_C");
}

TEST(Module, FileNameOfThisProgramIsInItsFolder) {
  std::string self = kivwin::ModuleFileName(reinterpret_cast<const void*>(&kivwin::SearchPath));
  ASSERT_FALSE(self.empty());
  EXPECT_EQ(fs::path(self).parent_path().string(), kivwin::ExecutableDir());
}

}  // namespace
