// ConfigDSN through unixODBC's SQLConfigDataSource, which loads the library
// named by the Setup key of the test driver, and directly where a failure
// must be injected.
#include <odbcinst.h>

#include <QImage>
#include <QTest>

#include <filesystem>

#include "setupform.h"
#include "testenv.h"

namespace kivset::test {
namespace {

using kivforms::mrCancel;
using kivforms::mrOk;

class ConfigDSNTest : public SetupTest {
 protected:
  // A window record as unixODBC's own tools pass it: any non-null handle
  // asks for the dialog.
  HWND Window() { return reinterpret_cast<HWND>(&window_); }

  bool Config(HWND window, WORD request, const std::vector<std::string>& attributes) {
    const std::string list = AttributeList(attributes);
    return SQLConfigDataSource(window, request, kDriverName, list.data()) != 0;
  }

  // Runs `script` for each showing of the dialog; its result ends that
  // showing (mrNone: what the clicks decided).

  std::map<std::string, std::string> Keys(const std::string& dsn) {
    auto keys = SectionMap(dsn);
    EXPECT_TRUE(keys) << "no section " << dsn;
    return keys ? *keys : std::map<std::string, std::string>{};
  }

 private:
  ODBCINSTWND window_{};
};

TEST_F(ConfigDSNTest, SilentAddWritesEveryKeyWithItsDefault) {
  ASSERT_TRUE(Config(nullptr, ODBC_ADD_DSN, {"DSN=Silent", "DataDirectory=/srv/data"}));
  const std::map<std::string, std::string> expected = {
      {"Driver", kDriverName},   {"Description", ""},        {"DataDirectory", "/srv/data"},
      {"DefaultType", "Morvane"}, {"Locking", "Record"},      {"MorvaneLocking", "ON"},
      {"CharSet", "ANSI"},       {"Compression", ""},        {"MemoBlockSize", "64"},
      {"MaxTableCloseCache", "5"}, {"DataDictionary", "False"}, {"Rows", "False"},
      {"TrimTrailingSpaces", "False"}, {"ServerTypes", "6"},
  };
  EXPECT_EQ(Keys("Silent"), expected);
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(ConfigDSNTest, SilentAddRefusesIncompleteOrInvalidAttributes) {
  const struct {
    std::vector<std::string> attributes;
    const char* dsn;
  } cases[] = {
      {{"DSN=NoPath"}, "NoPath"},
      {{"DSN=EmptyPath", "DataDirectory="}, "EmptyPath"},
      {{"DataDirectory=/srv/data"}, nullptr},
      {{"DSN=bad[name]", "DataDirectory=/srv/data"}, "bad[name]"},
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(Config(nullptr, ODBC_ADD_DSN, c.attributes)) << c.attributes[0];
    if (c.dsn != nullptr) {
      EXPECT_FALSE(ReadSection(c.dsn)) << c.dsn;
    }
  }
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(ConfigDSNTest, SilentAddOverwritesAnExistingDataSourceWithoutAsking) {
  WriteSection("Twice", {{"DataDirectory", "/old"}, {"Language", "German"}});
  ASSERT_TRUE(Config(nullptr, ODBC_ADD_DSN, {"DSN=Twice", "DataDirectory=/new", "Rows=true"}));
  auto keys = Keys("Twice");
  EXPECT_EQ(keys["DataDirectory"], "/new");
  EXPECT_EQ(keys["Rows"], "True");
  EXPECT_EQ(keys.count("Language"), 0u) << "the section was written afresh";
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(ConfigDSNTest, ConfigureWithoutAWindowChangesTheNamedKeys) {
  ASSERT_TRUE(Config(nullptr, ODBC_ADD_DSN, {"DSN=Quiet", "DataDirectory=/a", "CharSet=OEM"}));
  ASSERT_TRUE(Config(nullptr, ODBC_CONFIG_DSN, {"DSN=Quiet", "Locking=File", "MemoBlockSize=512"}));
  auto keys = Keys("Quiet");
  EXPECT_EQ(keys["Locking"], "File");
  EXPECT_EQ(keys["MemoBlockSize"], "512");
  EXPECT_EQ(keys["CharSet"], "OEM") << "keys not named stay";
  EXPECT_EQ(keys["DataDirectory"], "/a");
  EXPECT_EQ(keys["Driver"], kDriverName);

  EXPECT_FALSE(Config(nullptr, ODBC_CONFIG_DSN, {"DSN=Quiet", "MaxTableCloseCache=251"}));
  EXPECT_EQ(Keys("Quiet")["MaxTableCloseCache"], "5");
  EXPECT_FALSE(Config(nullptr, ODBC_CONFIG_DSN, {"DSN=Nowhere", "Locking=File"}));
  EXPECT_FALSE(ReadSection("Nowhere")) << "no section is made up";
}

TEST_F(ConfigDSNTest, RemoveDeletesTheSectionAndReportsAFailure) {
  ASSERT_TRUE(Config(nullptr, ODBC_ADD_DSN, {"DSN=Doomed", "DataDirectory=/a"}));
  ASSERT_TRUE(Config(nullptr, ODBC_ADD_DSN, {"DSN=Kept", "DataDirectory=/b"}));
  ASSERT_TRUE(Config(nullptr, ODBC_REMOVE_DSN, {"DSN=Doomed"}));
  EXPECT_FALSE(ReadSection("Doomed"));
  EXPECT_TRUE(ReadSection("Kept"));

  Installer().RemoveDSNFromIni = [](const char*) { return false; };
  const std::string list = AttributeList({"DSN=Kept"});
  EXPECT_FALSE(ConfigDSN(nullptr, ODBC_REMOVE_DSN, kDriverName, list.data()));
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].caption, "DSN Delete Error");
}

TEST_F(ConfigDSNTest, OtherRequestsDoNothing) {
  const std::string list = AttributeList({"DSN=Other", "DataDirectory=/a"});
  EXPECT_TRUE(ConfigDSN(nullptr, 4, kDriverName, list.data()));
  EXPECT_TRUE(ConfigDSN(nullptr, 7, kDriverName, list.data()));
  EXPECT_FALSE(ReadSection("Other"));
}

// The dialog on an existing data source: it shows the keys, takes the
// user's changes on OK and changes nothing on Cancel.
TEST_F(ConfigDSNTest, ConfigureShowsTheDataSourceAndWritesTheChanges) {
  ASSERT_TRUE(Config(nullptr, ODBC_ADD_DSN,
                     {"DSN=Shown", "DataDirectory=/srv/shown", "Description=Shown data",
                      "CharSet=OEM", "ServerTypes=1", "MemoBlockSize=128"}));
  const auto before = Keys("Shown");

  OnDialog([](TForm1& f, int) {
    EXPECT_TRUE(f.Widget()->isVisible());
    f.ComboIndexType->SetItemIndex(2);  // Clipper
    f.ComboMorvaneLocking->SetItemIndex(1);
    return static_cast<int>(mrCancel);
  });
  EXPECT_TRUE(Config(Window(), ODBC_CONFIG_DSN, {"DSN=Shown"})) << "cancel is no failure";
  EXPECT_EQ(Keys("Shown"), before);

  const std::string png = (std::filesystem::path(ConfigFolder()) / "configure.png").string();
  OnDialog([&](TForm1& f, int) {
    EXPECT_EQ(f.EditDSN->Text(), "Shown");
    EXPECT_FALSE(f.EditDSN->ReadOnly());
    EXPECT_EQ(f.EditDesc->Text(), "Shown data");
    EXPECT_EQ(f.EditDir->Text(), "/srv/shown");
    EXPECT_EQ(f.ComboIndexType->Text(), "Morvane");
    EXPECT_EQ(f.ComboCharSet->Text(), "OEM");
    EXPECT_EQ(f.EditMBSize->Text(), "128");
    EXPECT_FALSE(f.CheckBoxRemote->Checked());
    EXPECT_TRUE(f.CheckBoxLocal->Checked());
    EXPECT_FALSE(f.CheckBoxKIS->Checked());
    EXPECT_TRUE(f.GrabToPng(png));

    f.ComboMorvaneLocking->SetItemIndex(1);
    EXPECT_EQ(f.ComboMorvaneLocking->Text(), "Proprietary") << "not with Morvane tables";
    f.ComboIndexType->SetItemIndex(1);  // FoxPro
    f.ComboMorvaneLocking->SetItemIndex(1);
    f.ComboLockType->SetItemIndex(1);
    f.CheckBoxShowDeleted->SetChecked(true);
    f.EditFileCache->SetText("17");
    QTest::mouseClick(f.ButtonOK->Widget(), Qt::LeftButton);
    return static_cast<int>(kivforms::mrNone);
  });
  EXPECT_TRUE(Config(Window(), ODBC_CONFIG_DSN, {"DSN=Shown"}));
  auto after = Keys("Shown");
  EXPECT_EQ(after["DefaultType"], "FoxPro");
  EXPECT_EQ(after["MorvaneLocking"], "OFF");
  EXPECT_EQ(after["Locking"], "File");
  EXPECT_EQ(after["Rows"], "True");
  EXPECT_EQ(after["MaxTableCloseCache"], "17");
  EXPECT_EQ(after["CharSet"], "OEM");
  EXPECT_EQ(after["Driver"], kDriverName);
  EXPECT_FALSE(QImage(QString::fromStdString(png)).isNull());
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(ConfigDSNTest, ARenameKeepsTheKeysUnderTheNewName) {
  ASSERT_TRUE(Config(nullptr, ODBC_ADD_DSN,
                     {"DSN=OldName", "DataDirectory=/srv/r", "Compression=Always", "Rows=True"}));
  OnDialog([](TForm1& f, int) {
    f.EditDSN->SetText("NewName");
    return static_cast<int>(mrOk);
  });
  ASSERT_TRUE(Config(Window(), ODBC_CONFIG_DSN, {"DSN=OldName"}));
  EXPECT_FALSE(ReadSection("OldName"));
  auto keys = Keys("NewName");
  EXPECT_EQ(keys["Driver"], kDriverName);
  EXPECT_EQ(keys["DataDirectory"], "/srv/r");
  EXPECT_EQ(keys["Compression"], "Always");
  EXPECT_EQ(keys["Rows"], "True");
}

TEST_F(ConfigDSNTest, ARenameOntoATakenNameAsksAndComesBackWhenDeclined) {
  ASSERT_TRUE(Config(nullptr, ODBC_ADD_DSN, {"DSN=Mine", "DataDirectory=/mine"}));
  ASSERT_TRUE(Config(nullptr, ODBC_ADD_DSN, {"DSN=Theirs", "DataDirectory=/theirs"}));
  Answer({kivwin::IDNO});
  OnDialog([](TForm1& f, int showing) {
    if (showing == 1) {
      f.EditDSN->SetText("Theirs");
      return static_cast<int>(mrOk);
    }
    EXPECT_EQ(f.EditDSN->Text(), "Theirs") << "the new name is still there";
    return static_cast<int>(mrCancel);
  });
  EXPECT_TRUE(Config(Window(), ODBC_CONFIG_DSN, {"DSN=Mine"}));
  EXPECT_EQ(showings_, 2);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].caption, "DSN Name Exists");
  EXPECT_EQ(Keys("Mine")["DataDirectory"], "/mine");
  EXPECT_EQ(Keys("Theirs")["DataDirectory"], "/theirs");
}

TEST_F(ConfigDSNTest, AFailedRenameNeverLosesTheDataSource) {
  ASSERT_TRUE(Config(nullptr, ODBC_ADD_DSN, {"DSN=Safe", "DataDirectory=/safe"}));
  Installer().WritePrivateProfileString = [](const char* s, const char* k, const char* v,
                                             const char* f) {
    if (std::string(s) == "Moved" && std::string(k) == "Locking") return false;
    return RealInstaller().WritePrivateProfileString(s, k, v, f);
  };
  OnDialog([](TForm1& f, int) {
    f.EditDSN->SetText("Moved");
    return static_cast<int>(mrOk);
  });
  const std::string list = AttributeList({"DSN=Safe"});
  EXPECT_FALSE(ConfigDSN(Window(), ODBC_CONFIG_DSN, kDriverName, list.data()));
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].caption, "DSN Write Error");
  EXPECT_EQ(Keys("Safe")["DataDirectory"], "/safe");
  EXPECT_EQ(Keys("Safe")["Driver"], kDriverName);
}

TEST_F(ConfigDSNTest, AChangeOfCaseOnlyKeepsTheDataSource) {
  ASSERT_TRUE(Config(nullptr, ODBC_ADD_DSN, {"DSN=Cased", "DataDirectory=/cased"}));
  OnDialog([](TForm1& f, int) {
    f.EditDSN->SetText("CASED");
    f.EditDesc->SetText("still here");
    return static_cast<int>(mrOk);
  });
  ASSERT_TRUE(Config(Window(), ODBC_CONFIG_DSN, {"DSN=Cased"}));
  auto keys = Keys("Cased");
  EXPECT_EQ(keys["DataDirectory"], "/cased");
  EXPECT_EQ(keys["Description"], "still here");
  EXPECT_EQ(keys["Driver"], kDriverName);
}

TEST_F(ConfigDSNTest, AddWithAWindowChecksRangesAndNames) {
  // A name given by the attributes cannot be edited.
  OnDialog([](TForm1& f, int showing) {
    EXPECT_TRUE(f.EditDSN->ReadOnly());
    if (showing == 1) {
      EXPECT_FALSE(f.ButtonOK->Enabled()) << "no path yet";
    }
    f.EditDir->SetText("/srv/w");
    EXPECT_TRUE(f.ButtonOK->Enabled());
    f.EditMBSize->SetText(showing == 1 ? "1025" : showing == 2 ? "-1" : "1024");
    f.EditFileCache->SetText(showing == 3 ? "251" : "250");
    return static_cast<int>(mrOk);
  });
  ASSERT_TRUE(Config(Window(), ODBC_ADD_DSN, {"DSN=Windowed"}));
  EXPECT_EQ(showings_, 4);
  ASSERT_EQ(boxes_.size(), 3u);
  EXPECT_EQ(boxes_[0].text, "Error:  Memo Block Size must be between 0 and 1024");
  EXPECT_EQ(boxes_[0].flags, kivwin::MB_OK | kivwin::MB_ICONERROR);
  EXPECT_EQ(boxes_[1].text, boxes_[0].text);
  EXPECT_EQ(boxes_[2].text, "Error:  Open File Cache must be between 0 and 250");
  auto keys = Keys("Windowed");
  EXPECT_EQ(keys["MemoBlockSize"], "1024");
  EXPECT_EQ(keys["MaxTableCloseCache"], "250");
  EXPECT_EQ(keys["DataDirectory"], "/srv/w");

  // Same name again, fixed by the attributes: No to the overwrite ends it.
  showings_ = 0;
  boxes_.clear();
  Answer({kivwin::IDNO});
  OnDialog([](TForm1& f, int) {
    f.EditDir->SetText("/elsewhere");
    return static_cast<int>(mrOk);
  });
  EXPECT_FALSE(Config(Window(), ODBC_ADD_DSN, {"DSN=Windowed"}));
  EXPECT_EQ(showings_, 1);
  EXPECT_EQ(Keys("Windowed")["DataDirectory"], "/srv/w");
}

TEST_F(ConfigDSNTest, AddWithAWindowLetsTheUserEditAnInvalidName) {
  OnDialog([](TForm1& f, int showing) {
    EXPECT_FALSE(f.EditDSN->ReadOnly());
    f.EditDSN->SetText(showing == 1 ? "no{good}" : "Good");
    f.EditDir->SetText("/srv/g");
    return static_cast<int>(mrOk);
  });
  ASSERT_TRUE(Config(Window(), ODBC_ADD_DSN, {}));
  EXPECT_EQ(showings_, 2);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, "The DSN name specified is not valid.\rWould you like to edit the DSN info?");
  EXPECT_EQ(boxes_[0].caption, "Invalid DSN Name");
  EXPECT_EQ(Keys("Good")["DataDirectory"], "/srv/g");

  // No to editing ends the call; Cancel too.
  Answer({kivwin::IDNO});
  OnDialog([](TForm1& f, int) {
    f.EditDSN->SetText("no{good}");
    f.EditDir->SetText("/srv/g");
    return static_cast<int>(mrOk);
  });
  EXPECT_FALSE(Config(Window(), ODBC_ADD_DSN, {}));
  OnDialog([](TForm1&, int) { return static_cast<int>(mrCancel); });
  EXPECT_FALSE(Config(Window(), ODBC_ADD_DSN, {"DSN=Cancelled", "DataDirectory=/c"}));
  EXPECT_FALSE(ReadSection("Cancelled"));
}

TEST_F(ConfigDSNTest, AFailedFinalWriteIsAFailure) {
  Installer().WritePrivateProfileString = [](const char*, const char*, const char*, const char*) {
    return false;
  };
  OnDialog([](TForm1&, int) { return static_cast<int>(mrOk); });
  const std::string list = AttributeList({"DSN=Unwritten", "DataDirectory=/u"});
  EXPECT_FALSE(ConfigDSN(Window(), ODBC_ADD_DSN, kDriverName, list.data()));
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].caption, "DSN Write Error");

  boxes_.clear();
  WriteSection("Unchanged", {{"DataDirectory", "/x"}});
  const std::string configure = AttributeList({"DSN=Unchanged"});
  EXPECT_FALSE(ConfigDSN(Window(), ODBC_CONFIG_DSN, kDriverName, configure.data()));
  EXPECT_EQ(boxes_.size(), 1u);
  EXPECT_FALSE(ConfigDSN(nullptr, ODBC_ADD_DSN, kDriverName, list.data()));
}

}  // namespace
}  // namespace kivset::test
