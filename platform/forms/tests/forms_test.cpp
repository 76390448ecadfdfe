#include <QImage>
#include <QLineEdit>
#include <QTest>
#include <filesystem>

#include <gtest/gtest.h>

#include "kivds/db.h"
#include "kivforms/forms.h"
#include "kivwin/win.h"

using namespace kivforms;

namespace {

// A small form wired like the product's main window: a path edit, a
// server-type group, a table list, a button that logs, and a log memo.
class LogForm : public TForm {
 public:
  explicit LogForm(TComponent* owner) : TForm(owner) {
    SetName("Form1");
    SetCaption("Kiv Consistency Check");
    SetClientSize(480, 378);
    SetPosition(poScreenCenter);
    SetFont("Tahoma", -11);
    edPath = new TEdit(this, this);
    edPath->SetBounds(76, 8, 318, 21);
    edPath->SetAnchors(akLeft | akTop | akRight);
    group = new TRadioGroup(this, this);
    group->SetBounds(76, 35, 225, 38);
    group->SetColumns(3);
    for (const char* s : {"Remote", "Local", "KIS"}) group->Items().Add(s);
    group->SetItemIndex(0);
    tables = new TCheckListBox(this, this);
    tables->SetBounds(76, 86, 318, 124);
    btnCheck = new TButton(this, this);
    btnCheck->SetCaption("Check");
    btnCheck->SetBounds(402, 86, 70, 25);
    btnCheck->SetAnchors(akTop | akRight);
    btnCheck->OnClick = [this](TComponent*) { CheckClick(); };
    log = new TMemo(this, this);
    log->SetBounds(8, 216, 464, 154);
    log->SetAnchors(akLeft | akTop | akRight | akBottom);
    log->SetReadOnly(true);
    log->SetScrollBars(ssVertical);
    OnCreate = [this](TComponent*) { log->Lines().Add("Disconnected"); };
  }

  void CheckClick() {
    for (int i = 0; i < tables->Items().Count(); ++i)
      if (tables->Checked(i)) log->Lines().Add(tables->Items()[i] + " ... ok");
    if (edPath->Text().empty()) ShowMessage("No path given!");
  }

  TEdit* edPath;
  TRadioGroup* group;
  TCheckListBox* tables;
  TButton* btnCheck;
  TMemo* log;
};

struct Box {
  std::string text, caption;
  unsigned flags;
};

// Records every message box and answers with a chosen button.
class BoxFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = kivwin::SetMessageBoxSink(
        [this](const std::string& text, const std::string& caption, unsigned flags) {
          boxes_.push_back({text, caption, flags});
          return answer_;
        });
  }
  void TearDown() override {
    kivwin::SetMessageBoxSink(previous_);
    SetModalHook(nullptr);
  }
  std::vector<Box> boxes_;
  int answer_ = kivwin::IDOK;
  kivwin::MessageBoxSink previous_;
};

TEST_F(BoxFixture, ClickingTheButtonLogsTickedItemsAndAsksThroughTheHook) {
  LogForm* form = Application->CreateForm<LogForm>();
  form->Show();
  EXPECT_EQ(form->log->Lines().ToVector(), (std::vector<std::string>{"Disconnected"}));
  for (const char* t : {"CUSTOMER", "ORDERS", "ITEMS"}) form->tables->Items().Add(t);
  form->tables->SetChecked(0, true);
  form->tables->SetChecked(2, true);
  EXPECT_FALSE(form->tables->Checked(1));

  QTest::mouseClick(form->btnCheck->Widget(), Qt::LeftButton);
  EXPECT_EQ(form->log->Lines().ToVector(),
            (std::vector<std::string>{"Disconnected", "CUSTOMER ... ok", "ITEMS ... ok"}));
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, "No path given!");
  EXPECT_EQ(boxes_[0].caption, "Forms Test");

  // A disabled button ignores the click.
  form->btnCheck->SetEnabled(false);
  QTest::mouseClick(form->btnCheck->Widget(), Qt::LeftButton);
  form->btnCheck->Click();
  EXPECT_EQ(form->log->Lines().Count(), 3);

  const std::string png =
      (std::filesystem::temp_directory_path() / "kivforms-grab.png").string();
  ASSERT_TRUE(form->GrabToPng(png));
  QImage image(QString::fromStdString(png));
  EXPECT_EQ(image.width(), 480);
  EXPECT_EQ(image.height(), 378);
  std::filesystem::remove(png);
  delete form;
}

TEST_F(BoxFixture, AnchoredControlsFollowTheFormSize) {
  LogForm form(nullptr);
  form.Show();
  form.SetClientSize(580, 478);
  Application->ProcessMessages();
  EXPECT_EQ(form.edPath->Width(), 418) << "left and right anchors stretch";
  EXPECT_EQ(form.btnCheck->Left(), 502) << "a right anchor moves";
  EXPECT_EQ(form.btnCheck->Width(), 70);
  EXPECT_EQ(form.log->Height(), 254);
  EXPECT_EQ(form.tables->Width(), 318) << "left and top only: unchanged";
}

TEST_F(BoxFixture, ListsBehaveAsStringLists) {
  LogForm form(nullptr);
  EXPECT_EQ(form.group->ItemIndex(), 0);
  form.group->SetItemIndex(2);
  EXPECT_EQ(form.group->ItemIndex(), 2);
  form.group->SetItemIndex(7);
  EXPECT_EQ(form.group->ItemIndex(), -1);

  TStrings& lines = form.log->Lines();
  lines.Clear();
  EXPECT_EQ(lines.Count(), 0);
  lines.Add("");
  EXPECT_EQ(lines.Count(), 1) << "an empty line still counts";
  lines.Add("b");
  lines.Insert(1, "a");
  lines.Delete(0);
  EXPECT_EQ(lines.ToVector(), (std::vector<std::string>{"a", "b"}));
  lines.SetText("x\r\ny");
  EXPECT_EQ(lines.Count(), 2);

  form.tables->Items().Add("T1");
  form.tables->Items().Clear();
  EXPECT_EQ(form.tables->Items().Count(), 0);
  EXPECT_THROW(form.tables->Checked(0), kivds::EStringListError);

  TComboBox combo(&form, &form);
  for (const char* s : {"ANSI", "OEM"}) combo.Items().Add(s);
  int changes = 0;
  combo.OnChange = [&](TComponent*) { ++changes; };
  combo.SetItemIndex(1);
  EXPECT_EQ(combo.Text(), "OEM");
  EXPECT_EQ(changes, 1);
}

TEST_F(BoxFixture, ShowModalEndsWithTheButtonsModalResult) {
  TLoginDialog dialog(nullptr);
  SetModalHook([](TForm& form) {
    auto& login = static_cast<TLoginDialog&>(form);
    EXPECT_TRUE(form.Widget()->isVisible());
    login.Password->SetText("secret");
    QTest::mouseClick(login.OKButton->Widget(), Qt::LeftButton);
    return mrNone;  // the click decided
  });
  EXPECT_EQ(dialog.ShowModal(), mrOk);
  EXPECT_FALSE(dialog.Widget()->isVisible());
  EXPECT_EQ(static_cast<QLineEdit*>(dialog.Password->Widget())->echoMode(), QLineEdit::Password);

  SetModalHook([](TForm& form) {
    QTest::keyClick(form.Widget(), Qt::Key_Escape);
    return mrNone;
  });
  EXPECT_EQ(dialog.ShowModal(), mrCancel);
}

TEST_F(BoxFixture, LoginPromptIsTheDatasetLayersHook) {
  ASSERT_TRUE(kivds::LoginDialogExProc());
  std::string user = "KIVSYS", password;
  SetModalHook([](TForm& form) {
    auto& login = static_cast<TLoginDialog&>(form);
    EXPECT_EQ(login.DatabaseName->Caption(), "cn");
    EXPECT_EQ(login.UserName->Text(), "KIVSYS");
    login.UserName->SetText("adm");
    login.Password->SetText("pw");
    return static_cast<int>(mrOk);
  });
  EXPECT_TRUE(kivds::LoginDialogExProc()("cn", user, password, false));
  EXPECT_EQ(user, "adm");
  EXPECT_EQ(password, "pw");

  SetModalHook([](TForm& form) {
    static_cast<TLoginDialog&>(form).UserName->SetText("ignored");
    return static_cast<int>(mrCancel);
  });
  EXPECT_FALSE(kivds::LoginDialogExProc()("cn", user, password, true));
  EXPECT_EQ(user, "adm") << "a cancelled prompt changes nothing";
}

TEST_F(BoxFixture, DialogsAndMessagesGoThroughTheirHooks) {
  TOpenDialog open(nullptr);
  open.FileName = "c:\\old.kdd";
  open.Filter = "Morvane Data Dictionaries|*.kdd";
  SetOpenDialogHook([](TOpenDialog& d) {
    EXPECT_EQ(d.FileName, "c:\\old.kdd");
    d.FileName = "/data/app.kdd";
    return true;
  });
  EXPECT_TRUE(open.Execute());
  EXPECT_EQ(open.FileName, "/data/app.kdd");
  SetOpenDialogHook([](TOpenDialog&) { return false; });
  EXPECT_FALSE(open.Execute());
  SetOpenDialogHook(nullptr);

  std::string dir = "/start";
  SetSelectDirectoryHook([](const std::string&, std::string& d) {
    d += "/picked";
    return true;
  });
  EXPECT_TRUE(SelectDirectory("Pick", dir));
  EXPECT_EQ(dir, "/start/picked");
  SetSelectDirectoryHook(nullptr);

  answer_ = kivwin::IDNO;
  EXPECT_EQ(MessageDlg("Overwrite?", mtConfirmation, mbYesNo), mrNo);
  EXPECT_EQ(boxes_.back().caption, "Confirm");
  EXPECT_EQ(boxes_.back().flags, kivwin::MB_ICONQUESTION | kivwin::MB_YESNO);
  EXPECT_EQ(Application->MessageBox("Found", "Morvane ODBC DLL Check", kivwin::MB_OK), kivwin::IDNO);
}

TEST_F(BoxFixture, EscapedExceptionsAreShownExceptAborts) {
  kivds::ApplicationExceptionHandler()(
      std::make_exception_ptr(kivds::EDatabaseError("tb: Table not found")), nullptr);
  kivds::ApplicationExceptionHandler()(std::make_exception_ptr(kivds::EAbort()), nullptr);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, "tb: Table not found.");
  EXPECT_EQ(boxes_[0].flags, kivwin::MB_OK | kivwin::MB_ICONERROR);

  TComponent* seenSender = nullptr;
  TComponent sender(nullptr);
  Application->OnException = [&](TComponent* s, std::exception_ptr) { seenSender = s; };
  kivds::ApplicationExceptionHandler()(std::make_exception_ptr(std::runtime_error("x")), &sender);
  Application->OnException = nullptr;
  EXPECT_EQ(seenSender, &sender);
  EXPECT_EQ(boxes_.size(), 1u);
}

}  // namespace
