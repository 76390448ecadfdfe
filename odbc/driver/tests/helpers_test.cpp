#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

#include "util/helpers.h"
#include "handles/records.h"

namespace kivodbc {
namespace {

TEST(Helpers, NextBufferSize) {
  EXPECT_EQ(NextBufferSize(100, 150), 200u);
  EXPECT_EQ(NextBufferSize(100, 300), 1324u);
  EXPECT_EQ(NextBufferSize(0x10000, 0x30000), 0x36000u);
  EXPECT_EQ(NextBufferSize(0x80000, 0x200000), 0x280000u);
  EXPECT_EQ(NextBufferSize(0, 1), 1025u);
}

TEST(Helpers, FieldTypeFromNameMatchesPrefixesInTableOrder) {
  struct Case {
    const char* name;
    uint16_t type;
  } cases[] = {
      {"CHARACTER", 4}, {"CHAR", 4}, {"", 4},          {"T", 13},        {"TIMESTAMP", 14}, {"MO", 18},
      {"M", 5},         {"D", 3},    {"DO", 10},       {"CI", 20},       {"C", 4},          {"SHORTD", 9},
      {"char", 0},      {"CHARACTERS", 0}, {"XYZ", 0}, {"MODTIME", 22},  {"GENERAL", 51},   {"PICTURE", 52},
  };
  for (const Case& c : cases) EXPECT_EQ(FieldTypeFromName(c.name), c.type) << c.name;
}

TEST(Helpers, EscapeCatalogPattern) {
  struct Case {
    const char* text;
    size_t capacity;
    const char* escaped;
  } cases[] = {
      {"A_B%", 40, "A\\_B\\%"},
      {"a\\b", 40, "a\\\\b"},
      {"plain", 40, "plain"},
      {"ab_", 4, "ab\\_"},
      {"a_bc", 4, "a\\_b"},
      {"__", 3, "\\_\\"},  // the cut keeps the walk going from the end
  };
  for (const Case& c : cases) {
    char buffer[64];
    std::strcpy(buffer, c.text);
    EscapeCatalogPattern(buffer, c.capacity);
    EXPECT_STREQ(buffer, c.escaped) << c.text;
    EXPECT_LE(std::strlen(buffer), c.capacity);
  }
}

TEST(Helpers, RescaleNumericText) {
  struct Case {
    const char* text;
    size_t capacity;
    int precision, scale;
    int status;
    const char* out;
  } cases[] = {
      {"-0.00", 32, 10, 2, 0, "0.00"},
      {"12.345", 32, 10, 2, 1, "12.34"},
      {"123", 32, 4, 2, 2, ""},
      {"  -0042.5  ", 32, 10, 3, 0, "-42.500"},
      {"7.25", 32, 10, 0, 1, "7"},
      {".5", 32, 10, 2, 0, "0.50"},
      {"0", 32, 10, 0, 0, "0"},
      {"12.5000", 32, 10, 1, 0, "12.5"},
      {"12.34", 5, 10, 2, 1, "12.3"},
      {"12.34", 3, 10, 2, 1, "12"},
      {"-12", 3, 10, 0, 2, ""},
      {"12", 3, 10, 0, 0, "12"},
  };
  for (const Case& c : cases) {
    char out[40];
    std::memset(out, 'x', sizeof out);
    EXPECT_EQ(RescaleNumericText(c.text, std::strlen(c.text), out, c.capacity, c.precision, c.scale), c.status)
        << c.text;
    EXPECT_STREQ(out, c.out) << c.text;
    EXPECT_EQ(out[c.capacity], 'x') << c.text;
  }
}

TEST(Helpers, ConversionStatusToError) {
  const int statuses[] = {0, 1, 2, 3, 4, 9};
  const int driver[] = {0, 2102, 2232, 2119, 2153, 2119};
  const int engine[] = {0, 5071, 5005, -1, 2153, 5048};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(ConversionStatusToError(statuses[i], false), driver[i]) << statuses[i];
    EXPECT_EQ(ConversionStatusToError(statuses[i], true), engine[i]) << statuses[i];
  }
}

TEST(Helpers, HostFlagReadsTheHostFileName) {
  EXPECT_EQ(HostFlagFor("/opt/office/MsQry32.exe"), 1);
  EXPECT_EQ(HostFlagFor("C:\\Programs\\msqry32.EXE"), 1);
  EXPECT_EQ(HostFlagFor("/usr/bin/isql"), 0);
  EXPECT_EQ(HostFlagFor(""), 0);
}

TEST(Helpers, SearchDriverFileLooksBesideTheDriverThenAtKivIniPath) {
  namespace fs = std::filesystem;
  // Inside the test program the "driver" is the program itself.
  const fs::path own = fs::path(DriverModulePath());
  ASSERT_TRUE(fs::exists(own));
  const auto found = SearchDriverFile(nullptr, own.filename().string());
  ASSERT_TRUE(found.has_value());
  EXPECT_TRUE(fs::equivalent(*found, own));

  const fs::path folder = fs::temp_directory_path() / ("kivodbc-ini-" + std::to_string(::getpid()));
  fs::create_directories(folder);
  std::ofstream(folder / "kiv.ini") << "[Databases]\n";
  ::setenv("kivini_path", folder.c_str(), 1);
  const auto ini = SearchDriverFile(nullptr, "kiv", ".ini");
  ::unsetenv("kivini_path");
  const auto iniWithout = SearchDriverFile(nullptr, "kiv.ini");
  fs::remove_all(folder);
  ASSERT_TRUE(ini.has_value());
  EXPECT_EQ(fs::path(*ini).parent_path(), folder);
  EXPECT_FALSE(iniWithout.has_value() && fs::path(*iniWithout).parent_path() == folder);
}

}  // namespace
}  // namespace kivodbc
