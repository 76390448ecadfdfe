// The setup dialog on its own: filling it from a record and back, its
// change rules, the login variant, and its buttons.
#include <QImage>
#include <QLineEdit>
#include <QTest>
#include <dlfcn.h>

#include <filesystem>
#include <fstream>

#include "setupform.h"
#include "testenv.h"

namespace kivset::test {
namespace {

namespace fs = std::filesystem;

class FormTest : public SetupTest {
 protected:
  void SetUp() override {
    SetupTest::SetUp();
    form = CreateSetupForm();
    InitDSNInfo(info);
    info.DSN = "Sales";
    info.DataDirectory = "/srv/sales";
  }
  std::vector<std::string> Items(TComboBox* combo) { return combo->Items().ToVector(); }

  std::unique_ptr<TForm1> form;
  TDSNInfo info;
};

TEST_F(FormTest, TheListsAndTheDefaultsAreShown) {
  EXPECT_EQ(form->Caption(), "Morvane Rivulet ODBC Driver Setup");
  EXPECT_EQ(Items(form->ComboIndexType), (std::vector<std::string>{"Morvane", "FoxPro", "Clipper"}));
  EXPECT_EQ(Items(form->ComboLockType), (std::vector<std::string>{"Record", "File"}));
  EXPECT_EQ(Items(form->ComboMorvaneLocking), (std::vector<std::string>{"Proprietary", "Compatible"}));
  EXPECT_EQ(Items(form->ComboCharSet), (std::vector<std::string>{"ANSI", "OEM"}));
  EXPECT_EQ(Items(form->ComboCompression), (std::vector<std::string>{" ", "Internet", "Always", "Never"}));

  ASSERT_EQ(form->SetFormFromDSNInfo(info), 0);
  EXPECT_EQ(form->ComboIndexType->Text(), "Morvane");
  EXPECT_EQ(form->ComboLockType->Text(), "Record");
  EXPECT_EQ(form->ComboMorvaneLocking->Text(), "Proprietary");
  EXPECT_EQ(form->ComboCharSet->Text(), "ANSI");
  EXPECT_EQ(form->ComboCompression->Text(), " ");
  EXPECT_EQ(form->EditMBSize->Text(), "64");
  EXPECT_EQ(form->EditFileCache->Text(), "5");
  EXPECT_TRUE(form->CheckBoxRemote->Checked());
  EXPECT_FALSE(form->CheckBoxLocal->Checked());
  EXPECT_TRUE(form->CheckBoxKIS->Checked());
  EXPECT_TRUE(form->ButtonOK->Enabled());

  // Taken back unchanged, the record is the same.
  TDSNInfo back;
  form->GetDSNInfoFromForm(back);
  EXPECT_EQ(back.DSN, "Sales");
  EXPECT_EQ(back.DataDirectory, "/srv/sales");
  EXPECT_EQ(back.DefaultType, "Morvane");
  EXPECT_EQ(back.MorvaneLocking, "ON");
  EXPECT_EQ(back.Compression, " ");
  EXPECT_EQ(back.MemoBlockSize, 64);
  EXPECT_EQ(back.MaxTableCloseCache, 5);
  EXPECT_EQ(back.ServerTypes, 6);
}

TEST_F(FormTest, CombosSelectWithoutRegardToCaseElseTheFirstItem) {
  struct Case {
    std::string TDSNInfo::*field;
    const char* value;
    TComboBox* TForm1::*combo;
    const char* shown;
  } cases[] = {
      {&TDSNInfo::CharSet, "oem", &TForm1::ComboCharSet, "OEM"},
      {&TDSNInfo::CharSet, " ", &TForm1::ComboCharSet, "ANSI"},
      {&TDSNInfo::DefaultType, "clipper", &TForm1::ComboIndexType, "Clipper"},
      {&TDSNInfo::DefaultType, "dBase", &TForm1::ComboIndexType, "Morvane"},
      {&TDSNInfo::Locking, "FILE", &TForm1::ComboLockType, "File"},
      {&TDSNInfo::Compression, "always", &TForm1::ComboCompression, "Always"},
      {&TDSNInfo::Compression, "", &TForm1::ComboCompression, " "},
  };
  for (const Case& c : cases) {
    auto fresh = CreateSetupForm();
    TDSNInfo record = info;
    record.*c.field = c.value;
    fresh->SetFormFromDSNInfo(record);
    EXPECT_EQ((fresh.get()->*c.combo)->Text(), c.shown) << "'" << c.value << "'";
  }
}

TEST_F(FormTest, EngineLockingShowsCompatibleOnlyForOffAndNeverWithMorvaneTables) {
  struct Case {
    const char* type;
    const char* locking;
    const char* shown;
    const char* back;
  } cases[] = {
      {"FoxPro", "OFF", "Compatible", "OFF"},
      {"FoxPro", "off", "Compatible", "OFF"},
      {"FoxPro", "ON", "Proprietary", "ON"},
      {"FoxPro", "anything", "Proprietary", "ON"},
      {"Clipper", " ", "Proprietary", "ON"},
      {"Morvane", "OFF", "Proprietary", "ON"},
  };
  for (const Case& c : cases) {
    auto fresh = CreateSetupForm();
    TDSNInfo record = info;
    record.DefaultType = c.type;
    record.MorvaneLocking = c.locking;
    fresh->SetFormFromDSNInfo(record);
    EXPECT_EQ(fresh->ComboMorvaneLocking->Text(), c.shown) << c.type << "/" << c.locking;
    TDSNInfo back;
    fresh->GetDSNInfoFromForm(back);
    EXPECT_EQ(back.MorvaneLocking, c.back) << c.type << "/" << c.locking;
  }

  // A user's choice: with Morvane tables "Compatible" jumps back.
  form->SetFormFromDSNInfo(info);
  form->ComboMorvaneLocking->SetItemIndex(1);
  EXPECT_EQ(form->ComboMorvaneLocking->Text(), "Proprietary");
  form->ComboIndexType->SetItemIndex(1);  // FoxPro
  form->ComboMorvaneLocking->SetItemIndex(1);
  EXPECT_EQ(form->ComboMorvaneLocking->Text(), "Compatible") << "FoxPro allows it";
  form->ComboIndexType->SetItemIndex(0);  // back to Morvane
  EXPECT_EQ(form->ComboMorvaneLocking->Text(), "Proprietary");
}

TEST_F(FormTest, ServerTypesTickBoxesAndNeverUntickThem) {
  struct Case {
    int types;
    bool remote, local, internet;
  } cases[] = {
      {0, true, false, true},  {1, false, true, false}, {2, true, false, false},
      {3, true, true, false},  {4, false, false, true}, {5, false, true, true},
      {6, true, false, true},  {7, true, true, true},   {8, true, false, true},
      {-1, true, false, true},
  };
  for (const Case& c : cases) {
    auto fresh = CreateSetupForm();
    TDSNInfo record = info;
    record.ServerTypes = c.types;
    fresh->SetFormFromDSNInfo(record);
    EXPECT_EQ(fresh->CheckBoxRemote->Checked(), c.remote) << c.types;
    EXPECT_EQ(fresh->CheckBoxLocal->Checked(), c.local) << c.types;
    EXPECT_EQ(fresh->CheckBoxKIS->Checked(), c.internet) << c.types;
    TDSNInfo back;
    fresh->GetDSNInfoFromForm(back);
    EXPECT_EQ(back.ServerTypes, (c.remote ? 2 : 0) + (c.local ? 1 : 0) + (c.internet ? 4 : 0));
  }
  form->CheckBoxLocal->SetChecked(true);
  info.ServerTypes = 2;
  form->SetFormFromDSNInfo(info);
  EXPECT_TRUE(form->CheckBoxLocal->Checked());
}

TEST_F(FormTest, NumbersThatDoNotConvertComeBackAsTheirDefaults) {
  form->SetFormFromDSNInfo(info);
  struct Case {
    const char* mb;
    const char* cache;
    int mbBack, cacheBack;
  } cases[] = {{"1x", "7", 64, 7}, {"128", "ab", 128, 5}, {"-1", "251", -1, 251}, {"", "", 64, 5}};
  for (const Case& c : cases) {
    form->EditMBSize->SetText(c.mb);
    form->EditFileCache->SetText(c.cache);
    TDSNInfo back;
    form->GetDSNInfoFromForm(back);
    EXPECT_EQ(back.MemoBlockSize, c.mbBack) << c.mb;
    EXPECT_EQ(back.MaxTableCloseCache, c.cacheBack) << c.cache;
  }
}

TEST_F(FormTest, OkNeedsNamePathAndBothNumbers) {
  form->SetFormFromDSNInfo(info);
  ASSERT_TRUE(form->ButtonOK->Enabled());
  for (TEdit* edit : {form->EditDSN, form->EditDir, form->EditMBSize, form->EditFileCache}) {
    const std::string kept = edit->Text();
    edit->SetText("");
    EXPECT_FALSE(form->ButtonOK->Enabled());
    edit->SetText(kept);
    EXPECT_TRUE(form->ButtonOK->Enabled());
  }
  form->EditMBSize->SetText("");
  form->EditDir->SetText("");
  form->EditMBSize->SetText("9");
  EXPECT_FALSE(form->ButtonOK->Enabled()) << "the path is still empty";
  form->EditDesc->SetText("");
  form->EditDir->SetText("/x");
  EXPECT_TRUE(form->ButtonOK->Enabled()) << "the description is not needed";

  // Filling with an empty name leaves OK disabled even when the edits held
  // no text before.
  auto fresh = CreateSetupForm();
  info.DSN = "";
  fresh->SetFormFromDSNInfo(info);
  EXPECT_FALSE(fresh->ButtonOK->Enabled());
}

TEST_F(FormTest, TheLoginPromptRelabelsAndMasks) {
  form->MakeLoginPrompt();
  EXPECT_EQ(form->DSNLabel->Caption(), "User &Name:");
  EXPECT_EQ(form->DescriptionLabel->Caption(), "Passwor&d:");
  EXPECT_EQ(form->DSNLabel->Left() + form->DSNLabel->Width(), form->EditDSN->Left() - 12);
  EXPECT_EQ(form->DescriptionLabel->Left() + form->DescriptionLabel->Width(),
            form->EditDesc->Left() - 12);
  EXPECT_EQ(static_cast<QLineEdit*>(form->EditDesc->Widget())->echoMode(), QLineEdit::Password);
  info.DSN = "";
  form->SetFormFromDSNInfo(info);
  EXPECT_TRUE(form->ButtonOK->Enabled()) << "no user name is needed to connect";
  form->EditDir->SetText("");
  EXPECT_FALSE(form->ButtonOK->Enabled());
}

TEST_F(FormTest, HelpOpensTheHelpFileContents) {
  std::vector<std::pair<int, intptr_t>> requests;
  kivforms::Application->OnHelp = [&](int command, intptr_t data) {
    requests.emplace_back(command, data);
    return true;
  };
  QTest::mouseClick(form->ButtonHelp->Widget(), Qt::LeftButton);
  EXPECT_EQ(kivforms::Application->HelpFile, "KIVODBC.HLP");
  EXPECT_EQ(requests, (std::vector<std::pair<int, intptr_t>>{{11, 0}}));
}

TEST_F(FormTest, BrowseOpensADictionaryFileWhenDataDictionaryIsTicked) {
  form->SetFormFromDSNInfo(info);
  form->CheckBoxDD->SetChecked(true);
  form->EditDir->SetText("/srv/dict/");
  std::string seenName, seenDir, seenFilter;
  kivforms::SetOpenDialogHook([&](TOpenDialog& d) {
    seenName = d.FileName;
    seenDir = d.InitialDir;
    seenFilter = d.Filter;
    d.FileName = "/srv/dict/sales.kdd";
    return true;
  });
  form->ButtonBrowse->Click();
  EXPECT_EQ(seenName, "/srv/dict");
  EXPECT_EQ(seenDir, "/srv/dict");
  EXPECT_EQ(seenFilter, "Data Dictionary Files (*.kdd)|*.kdd;*.KDD|All Files (*.*)|*");
  EXPECT_EQ(form->EditDir->Text(), "/srv/dict/sales.kdd");

  kivforms::SetOpenDialogHook([](TOpenDialog& d) {
    d.FileName = "/elsewhere.kdd";
    return false;
  });
  form->ButtonBrowse->Click();
  EXPECT_EQ(form->EditDir->Text(), "/srv/dict/sales.kdd") << "a cancelled dialog changes nothing";
}

TEST_F(FormTest, BrowseChoosesAFolderAndCreatesItOnlyWhenTheUserAgrees) {
  const fs::path base = fs::path(ConfigFolder()) / "browse";
  fs::create_directories(base / "exists");
  form->SetFormFromDSNInfo(info);
  std::string offered;
  std::string answer;
  kivforms::SetSelectDirectoryHook([&](const std::string&, std::string& dir) {
    offered = dir;
    dir = answer;
    return true;
  });

  answer = (base / "exists").string();
  form->ButtonBrowse->Click();
  EXPECT_EQ(offered, "/srv/sales");
  EXPECT_EQ(form->EditDir->Text(), answer);
  EXPECT_TRUE(boxes_.empty());

  const std::string before = form->EditDir->Text();
  answer = (base / "new" / "deeper").string();
  Answer({kivwin::IDNO});
  form->ButtonBrowse->Click();
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].flags, kivwin::MB_YESNO | kivwin::MB_ICONQUESTION);
  EXPECT_FALSE(fs::exists(answer));
  EXPECT_EQ(form->EditDir->Text(), before);

  Answer({kivwin::IDYES});
  form->ButtonBrowse->Click();
  EXPECT_TRUE(fs::is_directory(answer));
  EXPECT_EQ(form->EditDir->Text(), answer);
}

TEST(CheckDLLs, ListsWhatIsFoundBesideTheLibraryThenWhereTheLoaderLooks) {
  const fs::path folder = fs::path(ConfigFolder()) / "dlls";
  fs::create_directories(folder);
  for (const char* name : {"libKIVODBC.so", "libqel32.so"}) std::ofstream(folder / name) << "x";
  const std::string message = CheckDLLsMessage(folder.string());
  const std::string prefix = (folder / "libKIVODBC.so").string() + "\r" +
                             (folder / "libqel32.so").string() + "\r";
  EXPECT_EQ(message.substr(0, prefix.size()), prefix);
  EXPECT_NE(message.find("/libodbc.so.2\r"), std::string::npos) << message;
  EXPECT_NE(message.find("/libodbcinst.so.2\r"), std::string::npos) << message;
  EXPECT_EQ(message.find("WARNING"), std::string::npos) << "all found";
  const std::string tail =
      "\rThe following DLL(s) are not used on this platform\r"
      "tunrel32.dll\rkivloc32.dll\rodbcint.dll\rwsock32.dll\r";
  ASSERT_GE(message.size(), tail.size());
  EXPECT_EQ(message.substr(message.size() - tail.size()), tail);

  fs::remove(folder / "libqel32.so");
  fs::remove(folder / "libKIVODBC.so");
  const std::string missing = CheckDLLsMessage(folder.string());
  if (dlopen("libqel32.so", RTLD_LAZY | RTLD_NOLOAD) == nullptr &&
      !fs::exists("/usr/lib/libqel32.so")) {
    EXPECT_NE(missing.find("\rWARNING: The following DLL(s) were not found\r"), std::string::npos)
        << missing;
    EXPECT_NE(missing.find("\rlibqel32.so\r"), std::string::npos) << missing;
  }
}

using CheckDLLButton = FormTest;

TEST_F(CheckDLLButton, ShowsTheLibrariesBesideTheSetupLibrary) {
  form->ButtonCheckDLL->Click();
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].caption, "Morvane ODBC DLL Check");
  EXPECT_EQ(boxes_[0].flags, kivwin::MB_OK);
  const std::string engine = (fs::path(KIVSET_LIBRARY_PATH).parent_path() / "libqel32.so").string();
  if (fs::exists(engine)) {
    EXPECT_NE(boxes_[0].text.find(engine + "\r"), std::string::npos) << boxes_[0].text;
  }
}

TEST_F(FormTest, TheDialogCanBeGrabbed) {
  info.Description = "Sales figures";
  info.ServerTypes = 7;
  form->SetFormFromDSNInfo(info);
  form->Show();
  const std::string png = (fs::path(ConfigFolder()) / "setup-dialog.png").string();
  ASSERT_TRUE(form->GrabToPng(png));
  QImage image(QString::fromStdString(png));
  EXPECT_EQ(image.width(), form->Width());
  EXPECT_EQ(image.height(), form->Height());
  // Every control lies inside the form.
  for (kivforms::TControl* c : std::initializer_list<kivforms::TControl*>{form->GroupBox2, form->ButtonCheckDLL,
                                                      form->EditDSN, form->GroupBox1})
    EXPECT_LE(c->Left() + c->Width(), form->Width());
  EXPECT_LE(form->ButtonOK->Top() + form->ButtonOK->Height(), form->Height());
}

}  // namespace
}  // namespace kivset::test
