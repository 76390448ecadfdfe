// PromptForConnectInfo called as the driver calls it: the library loaded by
// file name, the entry found by name, buffers of the documented sizes.
#include <QLineEdit>
#include <QTest>
#include <dlfcn.h>

#include <array>
#include <cstring>

#include "kivset.h"
#include "setupform.h"
#include "testenv.h"

namespace kivset::test {
namespace {

using kivforms::mrCancel;
using kivforms::mrNone;
using kivforms::mrOk;

// The driver's side of the call: one buffer per argument.
struct ConnectBuffers {
  char dsn[KIVSET_DSN_SIZE] = "";
  char dataDirectory[KIVSET_DATADIRECTORY_SIZE] = "";
  char defaultType[KIVSET_OPTION_SIZE] = "";
  char locking[KIVSET_OPTION_SIZE] = "";
  char morvaneLocking[KIVSET_OPTION_SIZE] = "";
  char charSet[KIVSET_OPTION_SIZE] = "";
  char rows[KIVSET_OPTION_SIZE] = "";
  char memoBlockSize[KIVSET_OPTION_SIZE] = "";
  char maxTableCloseCache[KIVSET_OPTION_SIZE] = "";
  char serverTypes[KIVSET_OPTION_SIZE] = "";
  char compression[KIVSET_OPTION_SIZE] = "";
  char trimTrailingSpaces[KIVSET_OPTION_SIZE] = "";
  char user[KIVSET_USER_SIZE] = "";
  char password[KIVSET_PASSWORD_SIZE] = "";
};

class PromptTest : public SetupTest {
 protected:
  void SetUp() override {
    SetupTest::SetUp();
    library_ = dlopen(KIVSET_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library_, nullptr) << dlerror();
    prompt_ = reinterpret_cast<KivsetPromptForConnectInfoProc>(
        dlsym(library_, KIVSET_PROMPT_FUNCTION_NAME));
    ASSERT_NE(prompt_, nullptr);
  }
  void TearDown() override {
    if (library_ != nullptr) dlclose(library_);
    SetupTest::TearDown();
  }
  unsigned short Prompt(ConnectBuffers& b) {
    return prompt_(b.dsn, b.dataDirectory, b.defaultType, b.locking, b.morvaneLocking, b.charSet,
                   b.rows, b.memoBlockSize, b.maxTableCloseCache, b.serverTypes, b.compression,
                   b.trimTrailingSpaces, b.user, b.password);
  }

 private:
  void* library_ = nullptr;
  KivsetPromptForConnectInfoProc prompt_ = nullptr;
};

TEST_F(PromptTest, AnEmptyCallShowsTheDefaultsAndReturnsThemAsTexts) {
  ConnectBuffers b;
  OnDialog([](TForm1& f, int) {
    EXPECT_EQ(f.DSNLabel->Caption(), "User &Name:");
    EXPECT_EQ(f.DescriptionLabel->Caption(), "Passwor&d:");
    EXPECT_EQ(static_cast<QLineEdit*>(f.EditDesc->Widget())->echoMode(), QLineEdit::Password);
    EXPECT_EQ(f.ComboIndexType->Text(), "Morvane");
    EXPECT_EQ(f.ComboLockType->Text(), "Record");
    EXPECT_EQ(f.ComboMorvaneLocking->Text(), "Proprietary");
    EXPECT_EQ(f.ComboCharSet->Text(), "ANSI");
    EXPECT_EQ(f.EditMBSize->Text(), "64");
    EXPECT_EQ(f.EditFileCache->Text(), "5");
    EXPECT_TRUE(f.CheckBoxRemote->Checked());
    EXPECT_FALSE(f.CheckBoxLocal->Checked());
    EXPECT_TRUE(f.CheckBoxKIS->Checked());
    // OK waits for a path, but not for a user name.
    EXPECT_FALSE(f.ButtonOK->Enabled());
    f.EditDir->SetText("/srv/local");
    EXPECT_TRUE(f.ButtonOK->Enabled());
    QTest::mouseClick(f.ButtonOK->Widget(), Qt::LeftButton);
    return static_cast<int>(mrNone);
  });
  ASSERT_EQ(Prompt(b), 1);
  EXPECT_STREQ(b.dataDirectory, "/srv/local");
  EXPECT_STREQ(b.defaultType, "Morvane");
  EXPECT_STREQ(b.locking, "Record");
  EXPECT_STREQ(b.morvaneLocking, "ON");
  EXPECT_STREQ(b.charSet, "ANSI");
  EXPECT_STREQ(b.rows, "False");
  EXPECT_STREQ(b.memoBlockSize, "64");
  EXPECT_STREQ(b.maxTableCloseCache, "5");
  EXPECT_STREQ(b.serverTypes, "6");
  EXPECT_STREQ(b.compression, " ");
  EXPECT_STREQ(b.trimTrailingSpaces, "False");
  EXPECT_STREQ(b.user, "");
  EXPECT_STREQ(b.password, "");
  EXPECT_STREQ(b.dsn, "");
}

TEST_F(PromptTest, TheDataSourcePreFillsAndTheArgumentsOverrideIt) {
  WriteSection("Prompted", {{"DataDirectory", "/srv/prompted"},
                            {"CharSet", "OEM"},
                            {"Locking", "File"},
                            {"MemoBlockSize", "256"},
                            {"ServerTypes", "1"},
                            {"TrimTrailingSpaces", "True"}});
  ConnectBuffers b;
  std::strcpy(b.dsn, "Prompted");
  std::strcpy(b.locking, "record");
  std::strcpy(b.rows, "true");
  std::strcpy(b.memoBlockSize, "abc");
  std::strcpy(b.maxTableCloseCache, "9");
  std::strcpy(b.user, "adm");
  std::strcpy(b.password, "secret");
  OnDialog([](TForm1& f, int) {
    EXPECT_EQ(f.EditDSN->Text(), "adm");
    EXPECT_EQ(f.EditDesc->Text(), "secret");
    EXPECT_EQ(f.EditDir->Text(), "/srv/prompted");
    EXPECT_EQ(f.ComboCharSet->Text(), "OEM");
    EXPECT_EQ(f.ComboLockType->Text(), "Record") << "the argument wins";
    EXPECT_TRUE(f.CheckBoxShowDeleted->Checked());
    EXPECT_EQ(f.EditMBSize->Text(), "256") << "a number that does not convert keeps the setting";
    EXPECT_EQ(f.EditFileCache->Text(), "9");
    EXPECT_TRUE(f.CheckBoxLocal->Checked());
    f.CheckBoxDD->SetChecked(true);  // not passed back
    f.EditDesc->SetText("changed");
    return static_cast<int>(mrOk);
  });
  ASSERT_EQ(Prompt(b), 1);
  EXPECT_STREQ(b.dsn, "Prompted") << "never written";
  EXPECT_STREQ(b.dataDirectory, "/srv/prompted");
  EXPECT_STREQ(b.charSet, "OEM");
  EXPECT_STREQ(b.locking, "Record");
  EXPECT_STREQ(b.rows, "True");
  EXPECT_STREQ(b.memoBlockSize, "256");
  EXPECT_STREQ(b.maxTableCloseCache, "9");
  EXPECT_STREQ(b.serverTypes, "1");
  EXPECT_STREQ(b.trimTrailingSpaces, "True");
  EXPECT_STREQ(b.user, "adm");
  EXPECT_STREQ(b.password, "changed");
}

TEST_F(PromptTest, CancelLeavesEveryBufferAsItWas) {
  ConnectBuffers b;
  std::strcpy(b.dataDirectory, "/srv/c");
  std::strcpy(b.user, "u");
  std::memset(b.charSet, 'Z', sizeof b.charSet - 1);
  ConnectBuffers before;
  std::memcpy(&before, &b, sizeof b);
  OnDialog([](TForm1& f, int) {
    f.EditDir->SetText("/changed");
    f.EditDSN->SetText("other");
    return static_cast<int>(mrCancel);
  });
  EXPECT_EQ(Prompt(b), 0);
  EXPECT_EQ(std::memcmp(&before, &b, sizeof b), 0);
}

TEST_F(PromptTest, LongValuesAreCutToTheirBuffers) {
  ConnectBuffers b;
  // An input that fills its buffer without a terminating zero is read no
  // further than the buffer.
  std::memset(b.defaultType, 'x', sizeof b.defaultType);
  const std::string longPath = "/" + std::string(300, 'p');
  OnDialog([&](TForm1& f, int) {
    f.EditDir->SetText(longPath);
    f.EditDSN->SetText(std::string(100, 'u'));
    return static_cast<int>(mrOk);
  });
  ASSERT_EQ(Prompt(b), 1);
  EXPECT_EQ(std::strlen(b.dataDirectory), 255u);
  EXPECT_EQ(std::string(b.dataDirectory), longPath.substr(0, 255));
  EXPECT_EQ(std::strlen(b.user), 63u);
  EXPECT_STREQ(b.defaultType, "Morvane") << "an unknown type shows the first item";
}

TEST_F(PromptTest, OutOfRangeNumbersShowTheDialogAgain) {
  ConnectBuffers b;
  std::strcpy(b.dataDirectory, "/srv/r");
  OnDialog([](TForm1& f, int showing) {
    f.EditMBSize->SetText(showing == 1 ? "2000" : "32");
    return static_cast<int>(mrOk);
  });
  ASSERT_EQ(Prompt(b), 1);
  EXPECT_EQ(showings_, 2);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, "Error:  Memo Block Size must be between 0 and 1024");
  EXPECT_STREQ(b.memoBlockSize, "32");
}

TEST_F(PromptTest, NullBuffersAreSkipped) {
  char dir[KIVSET_DATADIRECTORY_SIZE] = "/srv/n";
  char user[KIVSET_USER_SIZE] = "";
  OnDialog([](TForm1& f, int) {
    f.EditDSN->SetText("me");
    return static_cast<int>(mrOk);
  });
  ASSERT_EQ(PromptForConnectInfo(nullptr, dir, nullptr, nullptr, nullptr, nullptr, nullptr,
                                 nullptr, nullptr, nullptr, nullptr, nullptr, user, nullptr),
            1);
  EXPECT_STREQ(dir, "/srv/n");
  EXPECT_STREQ(user, "me");
}

}  // namespace
}  // namespace kivset::test
