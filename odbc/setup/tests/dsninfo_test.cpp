// The data-source record: attribute parsing, the keys in "odbc.ini" with
// their defaults and count rules, validation and the error boxes.
#include <odbcinst.h>

#include <functional>

#include "testenv.h"

namespace kivset::test {
namespace {

TDSNInfo Defaults() {
  TDSNInfo info;
  InitDSNInfo(info);
  return info;
}

TEST(SplitAttribute, KeyIsTrimmedAndLowerCasedValueIsNot) {
  struct Case {
    const char* text;
    bool split;
    const char* key;
    const char* value;
  } cases[] = {
      {"DSN=Sales", true, "dsn", "Sales"},
      {" Description = x", true, "description", " x"},
      {"\tDataDIRECTORY\r=c:\\data ", true, "datadirectory", "c:\\data "},
      {"Rows=", true, "rows", ""},
      {"a=b=c", true, "a", "b=c"},
      {"=value", true, "", "value"},
      {"NoEquals", false, "", ""},
  };
  for (const Case& c : cases) {
    std::string key = "stale", value = "stale";
    EXPECT_EQ(SplitAttribute(c.text, key, value), c.split) << c.text;
    EXPECT_EQ(key, c.key) << c.text;
    EXPECT_EQ(value, c.value) << c.text;
  }
}

TEST(ParseAttributes, KnownKeysSetTheirFieldsWithoutRegardToCase) {
  struct Case {
    std::vector<std::string> attributes;
    std::function<bool(const TDSNInfo&)> holds;
    const char* what;
  } cases[] = {
      {{"DSN=Sales", "dataDIRECTORY=c:\\data", "rows=TRUEX"},
       [](const TDSNInfo& i) { return i.DSN == "Sales" && i.DataDirectory == "c:\\data" && i.Rows; },
       "mixed-case keys, a Boolean by its first four characters"},
      {{" Description = x"}, [](const TDSNInfo& i) { return i.Description == " x"; },
       "the value keeps its leading blank"},
      {{"MemoBlockSize=abc"}, [](const TDSNInfo& i) { return i.MemoBlockSize == 100; },
       "a number that does not convert leaves the field as it was"},
      {{"MemoBlockSize=-1", "MaxTableCloseCache=300", "ServerTypes=7"},
       [](const TDSNInfo& i) {
         return i.MemoBlockSize == -1 && i.MaxTableCloseCache == 300 && i.ServerTypes == 7;
       },
       "numbers are taken as they are; ranges are checked later"},
      {{"DSN=First", "dsn=Second"}, [](const TDSNInfo& i) { return i.DSN == "Second"; },
       "a key given twice takes its last value"},
      {{"Rows=Tru", "DataDictionary=true", "TrimTrailingSpaces=FALSE"},
       [](const TDSNInfo& i) { return !i.Rows && i.DataDictionary && !i.TrimTrailingSpaces; },
       "Booleans"},
      {{"Language=German", "NoEquals", "=x"},
       [](const TDSNInfo& i) {
         TDSNInfo d = Defaults();
         d.MemoBlockSize = 100;
         return i.DSN == d.DSN && i.DefaultType == d.DefaultType && i.MemoBlockSize == 100;
       },
       "unknown keys and texts without '=' are skipped"},
      {{"CharSet=oem", "DefaultType=Clipper", "Locking=File", "MorvaneLocking=OFF",
        "Compression=Never"},
       [](const TDSNInfo& i) {
         return i.CharSet == "oem" && i.DefaultType == "Clipper" && i.Locking == "File" &&
                i.MorvaneLocking == "OFF" && i.Compression == "Never";
       },
       "option texts are taken as they stand"},
  };
  for (const Case& c : cases) {
    TDSNInfo info = Defaults();
    info.MemoBlockSize = 100;
    const std::string list = AttributeList(c.attributes);
    ParseAttributes(list.data(), info);
    EXPECT_TRUE(c.holds(info)) << c.what;
  }
  TDSNInfo info = Defaults();
  ParseAttributes(nullptr, info);
  EXPECT_EQ(info.DefaultType, "Morvane") << "a null list is empty";
}

using KeysTest = SetupTest;

// The key table: names, texts written for the defaults, and their order.
TEST_F(KeysTest, WritingTheDefaultsWritesEveryKeyInOrder) {
  TDSNInfo info = Defaults();
  info.DSN = "Defaults";
  ASSERT_TRUE(SQLWriteDSNToIni("Defaults", kDriverName));
  ASSERT_EQ(WriteDSNInfo(info), kDSNOk);
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"Driver", kDriverName},
      {"Description", ""},
      {"DataDirectory", ""},
      {"DefaultType", "Morvane"},
      {"Locking", "Record"},
      {"MorvaneLocking", "ON"},
      {"CharSet", "ANSI"},
      {"Compression", ""},  // " " is written; the installer trims it away
      {"MemoBlockSize", "64"},
      {"MaxTableCloseCache", "5"},
      {"DataDictionary", "False"},
      {"Rows", "False"},
      {"TrimTrailingSpaces", "False"},
      {"ServerTypes", "6"},
  };
  EXPECT_EQ(ReadSection("Defaults"), expected);

  // And what was written reads back as the record it came from.
  TDSNInfo back;
  back.DSN = "Defaults";
  ASSERT_EQ(ReadDSNInfo(back), kDSNOk);
  EXPECT_EQ(back.DefaultType, "Morvane");
  EXPECT_EQ(back.Compression, " ");
  EXPECT_EQ(back.MemoBlockSize, 64);
  EXPECT_EQ(back.MaxTableCloseCache, 5);
  EXPECT_EQ(back.ServerTypes, 6);
}

TEST_F(KeysTest, ValuesRoundTripThroughTheFile) {
  TDSNInfo info = Defaults();
  info.DSN = "RoundTrip";
  info.Description = "Sales data";
  info.DataDirectory = "/srv/data/sales.kdd";
  info.DefaultType = "FoxPro";
  info.Locking = "File";
  info.MorvaneLocking = "OFF";
  info.CharSet = "OEM";
  info.Rows = info.DataDictionary = info.TrimTrailingSpaces = true;
  info.MemoBlockSize = 1024;
  info.MaxTableCloseCache = 0;
  info.ServerTypes = 1;
  info.Compression = "Internet";
  ASSERT_TRUE(SQLWriteDSNToIni("RoundTrip", kDriverName));
  ASSERT_EQ(WriteDSNInfo(info), kDSNOk);
  TDSNInfo back;
  back.DSN = "RoundTrip";
  ASSERT_EQ(ReadDSNInfo(back), kDSNOk);
  EXPECT_EQ(back.Description, info.Description);
  EXPECT_EQ(back.DataDirectory, info.DataDirectory);
  EXPECT_EQ(back.DefaultType, "FoxPro");
  EXPECT_EQ(back.Locking, "File");
  EXPECT_EQ(back.MorvaneLocking, "OFF");
  EXPECT_EQ(back.CharSet, "OEM");
  EXPECT_TRUE(back.Rows && back.DataDictionary && back.TrimTrailingSpaces);
  EXPECT_EQ(back.MemoBlockSize, 1024);
  EXPECT_EQ(back.MaxTableCloseCache, 0);
  EXPECT_EQ(back.ServerTypes, 1);
  EXPECT_EQ(back.Compression, "Internet");
}

// How each key reads when it is missing (the installer returns the default
// " ", count 1), present but empty (count 0) or holds an odd text.
TEST_F(KeysTest, ReadingFollowsTheCountRules) {
  struct Case {
    const char* key;
    std::optional<std::string> stored;  // nullopt: key missing
    std::function<std::string(const TDSNInfo&)> field;
    std::string expected;
  };
  auto text = [](std::string TDSNInfo::*m) {
    return [m](const TDSNInfo& i) { return i.*m; };
  };
  auto number = [](int32_t TDSNInfo::*m) {
    return [m](const TDSNInfo& i) { return std::to_string(i.*m); };
  };
  auto flag = [](bool TDSNInfo::*m) {
    return [m](const TDSNInfo& i) { return std::string(i.*m ? "true" : "false"); };
  };
  const Case cases[] = {
      {"Description", std::nullopt, text(&TDSNInfo::Description), " "},
      {"Description", "", text(&TDSNInfo::Description), "before"},
      {"Description", "Sales", text(&TDSNInfo::Description), "Sales"},
      {"DataDirectory", std::nullopt, text(&TDSNInfo::DataDirectory), " "},
      {"DataDirectory", "", text(&TDSNInfo::DataDirectory), ""},
      {"DefaultType", std::nullopt, text(&TDSNInfo::DefaultType), " "},
      {"DefaultType", "", text(&TDSNInfo::DefaultType), "Morvane"},
      {"DefaultType", "Clipper", text(&TDSNInfo::DefaultType), "Clipper"},
      {"Locking", "", text(&TDSNInfo::Locking), "Record"},
      {"MorvaneLocking", "", text(&TDSNInfo::MorvaneLocking), "ON"},
      {"CharSet", "", text(&TDSNInfo::CharSet), "ANSI"},
      {"CharSet", std::nullopt, text(&TDSNInfo::CharSet), " "},
      {"Compression", "", text(&TDSNInfo::Compression), " "},
      {"Compression", "Always", text(&TDSNInfo::Compression), "Always"},
      {"MemoBlockSize", std::nullopt, number(&TDSNInfo::MemoBlockSize), "64"},
      {"MemoBlockSize", "", number(&TDSNInfo::MemoBlockSize), "64"},
      {"MemoBlockSize", "abc", number(&TDSNInfo::MemoBlockSize), "64"},
      {"MemoBlockSize", "512", number(&TDSNInfo::MemoBlockSize), "512"},
      {"MaxTableCloseCache", "x1", number(&TDSNInfo::MaxTableCloseCache), "5"},
      {"MaxTableCloseCache", "0", number(&TDSNInfo::MaxTableCloseCache), "0"},
      {"ServerTypes", std::nullopt, number(&TDSNInfo::ServerTypes), "6"},
      {"ServerTypes", "3", number(&TDSNInfo::ServerTypes), "3"},
      {"DataDictionary", "", flag(&TDSNInfo::DataDictionary), "false"},
      {"DataDictionary", "TRUEX", flag(&TDSNInfo::DataDictionary), "true"},
      {"Rows", "true", flag(&TDSNInfo::Rows), "true"},
      {"Rows", "Tru", flag(&TDSNInfo::Rows), "false"},
      {"TrimTrailingSpaces", "True", flag(&TDSNInfo::TrimTrailingSpaces), "true"},
      {"TrimTrailingSpaces", std::nullopt, flag(&TDSNInfo::TrimTrailingSpaces), "false"},
  };
  int n = 0;
  for (const Case& c : cases) {
    const std::string dsn = "Count" + std::to_string(n++);
    if (c.stored) WriteSection(dsn, {{c.key, *c.stored}});
    else WriteSection(dsn, {});
    TDSNInfo info = Defaults();
    info.DSN = dsn;
    info.Description = "before";
    ASSERT_EQ(ReadDSNInfo(info), kDSNOk);
    EXPECT_EQ(c.field(info), c.expected)
        << c.key << " stored as " << (c.stored ? "'" + *c.stored + "'" : "missing");
  }
}

TEST_F(KeysTest, ReadingADataSourceThatDoesNotExistIsNoError) {
  TDSNInfo info = Defaults();
  info.DSN = "NeverWritten";
  EXPECT_EQ(ReadDSNInfo(info), kDSNOk);
  EXPECT_EQ(info.DataDirectory, " ");
  EXPECT_EQ(info.MemoBlockSize, 64);
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(KeysTest, WritingStopsAtTheFirstFailure) {
  WriteSection("Partial", {});
  std::vector<std::string> attempted;
  Installer().WritePrivateProfileString = [&](const char* s, const char* k, const char* v,
                                              const char* f) {
    attempted.push_back(k);
    if (std::string(k) == "MorvaneLocking") return false;
    return RealInstaller().WritePrivateProfileString(s, k, v, f);
  };
  TDSNInfo info = Defaults();
  info.DSN = "Partial";
  info.DataDirectory = "/data";
  EXPECT_EQ(WriteDSNInfo(info), kDSNWriteError);
  EXPECT_EQ(attempted, (std::vector<std::string>{"Description", "DataDirectory", "DefaultType",
                                                 "Locking", "MorvaneLocking"}));
  auto section = SectionMap("Partial");
  ASSERT_TRUE(section);
  EXPECT_EQ((*section)["DataDirectory"], "/data");
  EXPECT_EQ(section->count("CharSet"), 0u);
}

using ValidateTest = SetupTest;

TEST_F(ValidateTest, InvalidNamesAreRefusedWithNothingWritten) {
  for (const std::string& name :
       std::vector<std::string>{"", "a[b", "x=y", "semi;colon", std::string(33, 'n')}) {
    bool declined = true;
    EXPECT_EQ(ValidateAndCreateDSN(name, kDriverName, declined, false), kDSNInvalidName) << name;
    EXPECT_FALSE(declined);
    if (!name.empty()) {
      EXPECT_FALSE(ReadSection(name)) << name;
    }
  }
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(ValidateTest, AnExistingNameIsOverwrittenOnlyWhenTheUserSaysYes) {
  WriteSection("Existing", {{"DataDirectory", "/old"}});
  Answer({kivwin::IDNO});
  bool declined = false;
  EXPECT_EQ(ValidateAndCreateDSN("Existing", kDriverName, declined, false), kDSNOk);
  EXPECT_TRUE(declined);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, "The DSN name specified already exists\rWould you like to overwrite it?");
  EXPECT_EQ(boxes_[0].caption, "DSN Name Exists");
  EXPECT_EQ(boxes_[0].flags, kivwin::MB_YESNO);
  EXPECT_EQ((*SectionMap("Existing"))["DataDirectory"], "/old") << "nothing written";

  Answer({kivwin::IDYES});
  EXPECT_EQ(ValidateAndCreateDSN("Existing", kDriverName, declined, false), kDSNOk);
  EXPECT_FALSE(declined);
  EXPECT_EQ(ReadSection("Existing"),
            (std::vector<std::pair<std::string, std::string>>{{"Driver", kDriverName}}))
      << "the section starts afresh";

  // Silent: no question at all.
  WriteSection("Existing", {{"DataDirectory", "/old"}});
  boxes_.clear();
  EXPECT_EQ(ValidateAndCreateDSN("Existing", kDriverName, declined, true), kDSNOk);
  EXPECT_TRUE(boxes_.empty());
  EXPECT_EQ(SectionMap("Existing")->count("DataDirectory"), 0u);
}

TEST_F(ValidateTest, ANewNameIsCreatedWithoutAQuestionAndAFailedWriteIsReported) {
  bool declined = false;
  EXPECT_EQ(ValidateAndCreateDSN("Brand New", kDriverName, declined, false), kDSNOk);
  EXPECT_TRUE(boxes_.empty());
  EXPECT_EQ((*SectionMap("Brand New"))["Driver"], kDriverName);

  Installer().WriteDSNToIni = [](const char*, const char*) { return false; };
  EXPECT_EQ(ValidateAndCreateDSN("Other", kDriverName, declined, false), kDSNWriteError);
}

using ErrorBoxTest = SetupTest;

TEST_F(ErrorBoxTest, EachCodeHasItsTextAndCaption) {
  const struct {
    int code;
    const char* text;
    const char* caption;
  } cases[] = {
      {1000, "The DSN name specified is invalid", "DSN Name Invalid"},
      {1001, "Memory allocation failed", "Allocation Failure"},
      {1002, "There was an error writing DSN information\rto the registry", "DSN Write Error"},
      {1003, "There was an error deleting DSN information", "DSN Delete Error"},
      {1004, "There was an error reading DSN information\rfrom the registry", "DSN Read Error"},
      {1005, "There was an invalid registry entry for this\rDSN", "Invalid Registry Entry"},
      {1006, "Unknown Error", "Unknown Error"},
      {-1, "Unknown Error", "Unknown Error"},
  };
  for (const auto& c : cases) {
    boxes_.clear();
    ShowDSNError(c.code);
    ASSERT_EQ(boxes_.size(), 1u) << c.code;
    EXPECT_EQ(boxes_[0].text, c.text);
    EXPECT_EQ(boxes_[0].caption, c.caption);
    EXPECT_EQ(boxes_[0].flags, kivwin::MB_OK);
  }
  boxes_.clear();
  ShowDSNError(0);
  EXPECT_TRUE(boxes_.empty());
}

}  // namespace
}  // namespace kivset::test
