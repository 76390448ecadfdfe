#include <unistd.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "kivwin/win.h"

namespace {

class IniFixture : public ::testing::Test {
 protected:
  void Write(const std::string& text) { std::ofstream(path_, std::ios::binary) << text; }
  void TearDown() override { std::filesystem::remove(path_); }
  std::string path_ = std::filesystem::temp_directory_path() /
                      ("kivwin-ini-" + std::to_string(getpid()) + ".ini");
};

TEST_F(IniFixture, SectionsAndKeysIgnoreCaseAndKeepSemicolonsInValues) {
  Write("; aliases\r\n[Databases]\r\nSales = c:\\data\\sales;N\r\nEmpty=\r\n"
        "  Quoted = \"a b \" \r\n[other]\r\nSales=elsewhere\r\n");
  kivwin::IniFile ini(path_);
  ASSERT_TRUE(ini.Loaded());
  struct Case { const char* section; const char* key; const char* expected; };
  const Case cases[] = {
      {"Databases", "Sales", "c:\\data\\sales;N"},
      {"DATABASES", "sAlEs", "c:\\data\\sales;N"},
      {"databases", "Empty", ""},
      {"Databases", "quoted", "a b "},
      {"Other", "SALES", "elsewhere"},
      {"Databases", "missing", "<default>"},
      {"Nowhere", "Sales", "<default>"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ini.ReadString(c.section, c.key, "<default>"), c.expected)
        << c.section << "/" << c.key;
}

TEST_F(IniFixture, FirstOccurrenceWinsAndRepeatedSectionsMerge) {
  Write("[Databases]\nA=1\nA=2\n[x]\nB=3\n[DATABASES]\nA=4\nC=5\n");
  kivwin::IniFile ini(path_);
  EXPECT_EQ(ini.ReadString("Databases", "A", ""), "1");
  EXPECT_EQ(ini.ReadString("Databases", "C", ""), "5");
  EXPECT_FALSE(ini.Find("x", "A").has_value());
}

TEST_F(IniFixture, KeysBeforeAnySectionAndLinesWithoutEqualsAreIgnored) {
  Write("A=0\n[s]\nnot a pair\nA=1\n");
  EXPECT_EQ(kivwin::GetPrivateProfileString("s", "A", "", path_), "1");
  EXPECT_EQ(kivwin::GetPrivateProfileString("s", "not a pair", "d", path_), "d");
}

TEST_F(IniFixture, MissingFileGivesTheDefault) {
  kivwin::IniFile ini(path_ + ".absent");
  EXPECT_FALSE(ini.Loaded());
  EXPECT_EQ(kivwin::GetPrivateProfileString("Databases", "x", "dflt", path_ + ".absent"), "dflt");
}

}  // namespace
