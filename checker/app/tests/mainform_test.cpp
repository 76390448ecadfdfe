// The checker's main window, driven offscreen as a user drives it: Connect
// (the login dialog answered), Check, and the log read back line for line,
// over a real data dictionary made by the engine.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFontInfo>
#include <QFontMetrics>
#include <QImage>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "kivds/db.h"
#include "kivforms/forms.h"
#include "kivwin/win.h"
#include "mainform.h"
#include "qel32.h"
#include "qel32_test.h"
#include "test_support.h"

using namespace checker;
using namespace kivforms;
using checker::testing::TempDir;

namespace {

// A dictionary over three tables: GOOD agrees with its file, DIFF's
// catalogue gives CODE another type and length, LACK's catalogue lacks NAME.
class MainFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    KIVHANDLE conn = 0;
    KIV_ASSERT_OK(KivConnect(dir.path().c_str(), &conn));
    MakeTable(conn, "good.dbf", KIV_TABLE_CDX, "ID,N,6;NAME,C,20");
    MakeTable(conn, "diff.kdt", KIV_TABLE_KDT, "CODE,C,10;AMOUNT,N,10,2");
    MakeTable(conn, "lack.dbf", KIV_TABLE_NTX, "ID,N,6;NAME,C,20;NOTE,C,30");
    KIV_ASSERT_OK(KivDisconnect(conn));
    kdd = dir.path() + "/app.kdd";
    KIV_ASSERT_OK(KivDDCreate(kdd.c_str(),
                              "table GOOD good.dbf\n"
                              "table DIFF diff.kdt\n"
                              "table LACK lack.dbf\n"
                              "column DIFF 1 CODE 20 12 0\n"
                              "drop-column LACK NAME\n"));

    previousSink = kivwin::SetMessageBoxSink([this](const std::string& text, const std::string&, unsigned) {
      messages.push_back(text);
      return kivwin::IDOK;
    });
    previousModal = SetModalHook([this](TForm& dialog) {
      auto* login = dynamic_cast<TLoginDialog*>(&dialog);
      if (login == nullptr) return static_cast<int>(mrCancel);
      logins.push_back(login->UserName->Text() + "/" + login->Password->Text());
      return static_cast<int>(mrOk);
    });
    previousHandler = kivds::ApplicationExceptionHandler();
    kivds::ApplicationExceptionHandler() = [this](std::exception_ptr error, kivds::TComponent*) {
      try {
        std::rethrow_exception(error);
      } catch (const std::exception& e) {
        displayed.push_back(e.what());
      }
    };
    form = std::make_unique<TForm1>(nullptr);
    form->DoCreate();
  }

  void TearDown() override {
    form.reset();
    KivTestClearFaults();
    kivds::ApplicationExceptionHandler() = previousHandler;
    SetModalHook(previousModal);
    kivwin::SetMessageBoxSink(previousSink);
  }

  static void MakeTable(KIVHANDLE conn, const char* file, uint16_t type, const char* defs) {
    KIVHANDLE t = 0;
    KIV_ASSERT_OK(KivCreateTable(conn, file, nullptr, type, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE,
                                 KIV_RIGHTS_NO_CHECK, 0, defs, &t));
    KIV_ASSERT_OK(KivCloseTable(t));
  }

  std::vector<std::string> Log() const { return form->memLog->Lines().ToVector(); }
  std::vector<std::string> Tables() const { return form->clbTables->Items().ToVector(); }

  void ConnectTo(const std::string& path) {
    form->edConnectPath->SetText(path);
    form->btnConnect->Click();
  }

  TempDir dir;
  std::string kdd;
  std::unique_ptr<TForm1> form;
  std::vector<std::string> messages, logins, displayed;
  kivwin::MessageBoxSink previousSink;
  TModalHook previousModal;
  kivds::TApplicationExceptionHandler previousHandler;
};

TEST_F(MainFormTest, StartsDisconnectedWithItsControlsAndTexts) {
  EXPECT_EQ(Log(), std::vector<std::string>{"Disconnected"});
  EXPECT_EQ(form->Caption(), "Kiv Consistency Check");
  EXPECT_EQ(form->ClientWidth(), 480);
  EXPECT_EQ(form->ClientHeight(), 378);
  EXPECT_EQ(form->Label1->Caption(), "Connectpath");
  EXPECT_EQ(form->Label2->Caption(), "Servertype");
  EXPECT_EQ(form->Label3->Caption(), "Tables");
  EXPECT_EQ(form->RadioGroup1->Items().ToVector(), (std::vector<std::string>{"Remote", "Local", "KIS"}));
  EXPECT_EQ(form->RadioGroup1->Columns(), 3);
  EXPECT_EQ(form->RadioGroup1->ItemIndex(), 0);
  EXPECT_EQ(form->btnBrowse->Caption(), "Browse");
  EXPECT_EQ(form->btnConnect->Caption(), "Connect");
  EXPECT_EQ(form->btnCheck->Caption(), "Check");
  EXPECT_FALSE(form->btnCheck->Enabled());
  EXPECT_TRUE(form->memLog->ReadOnly());
  EXPECT_TRUE(Tables().empty());
  EXPECT_EQ(form->cn->Username(), "KIVSYS");
  EXPECT_TRUE(form->cn->LoginPrompt());
  EXPECT_EQ(form->tb->KivConnection(), form->cn);
  EXPECT_EQ(form->qu->KivConnection(), form->cn);
  EXPECT_EQ(form->OpenDialog1->Filter, "Morvane Data Dictionaries|*.kdd");
  EXPECT_EQ(form->OpenDialog1->Title, "Open Data Dictionary");
  EXPECT_EQ(form->OpenDialog1->DefaultExt, "*.kdd");
}

TEST_F(MainFormTest, EveryLabelShowsItsWholeTextWhateverFontStandsInAndOnlyBrowseFollowsTheRightEdge) {
  struct Room {
    TLabel* label;
    TControl* next;  // the control at the label's right
  };
  for (const Room& r : {Room{form->Label1, form->edConnectPath}, Room{form->Label2, form->RadioGroup1},
                        Room{form->Label3, form->clbTables}}) {
    const QFontMetrics metrics(r.label->Widget()->font());
    const int text = metrics.horizontalAdvance(QString::fromStdString(r.label->Caption()));
    EXPECT_LT(text, r.next->Left() - r.label->Left())
        << r.label->Caption() << " in " << r.label->Widget()->font().family().toStdString() << " "
        << r.label->Widget()->font().pixelSize() << "px";
    EXPECT_GE(r.label->Width(), text) << r.label->Caption();
    EXPECT_LE(metrics.height(), r.label->Height()) << r.label->Caption();
  }
  // Tahoma when the machine has it, at the form's size.
  if (QFontInfo(form->Widget()->font()).family() == "Tahoma") {
    EXPECT_EQ(form->Widget()->font().pixelSize(), 11);
  }

  EXPECT_EQ(form->btnBrowse->Anchors(), unsigned{akTop | akRight});
  for (TControl* c : {static_cast<TControl*>(form->btnConnect), static_cast<TControl*>(form->btnCheck),
                      static_cast<TControl*>(form->Label1), static_cast<TControl*>(form->RadioGroup1)}) {
    EXPECT_EQ(c->Anchors(), unsigned{akLeft | akTop}) << c->Name();
  }
  EXPECT_EQ(form->edConnectPath->Anchors(), unsigned{akLeft | akTop | akRight});
  EXPECT_EQ(form->clbTables->Anchors(), unsigned{akLeft | akTop | akRight});
  EXPECT_EQ(form->memLog->Anchors(), unsigned{akLeft | akTop | akRight | akBottom});
}

TEST_F(MainFormTest, ConnectAndCheckLogEveryTickedTableLineForLine) {
  ConnectTo(kdd);
  EXPECT_TRUE(messages.empty()) << messages.front();
  EXPECT_EQ(logins, std::vector<std::string>{"KIVSYS/"});
  EXPECT_EQ(form->btnConnect->Caption(), "Disconnect");
  EXPECT_TRUE(form->btnCheck->Enabled());
  ASSERT_EQ(Tables(), (std::vector<std::string>{"DIFF", "GOOD", "LACK"}));
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(form->clbTables->Checked(i));

  form->btnCheck->Click();
  EXPECT_EQ(Log(), (std::vector<std::string>{
                       "Disconnected",
                       "Connected to " + kdd + " with Remote",
                       "DIFF ... error: ",
                       "   CODE : [Field Type different] [Field Length different]",
                       "GOOD ... ok",
                       "LACK ... error: ",
                       "   NAME : [Field not in dictionary]",
                   }));
  EXPECT_TRUE(messages.empty());
  EXPECT_TRUE(displayed.empty());
  EXPECT_FALSE(form->tb->Active());
  EXPECT_FALSE(form->qu->Active());

  form->btnConnect->Click();  // disconnects
  EXPECT_EQ(Log().back(), "Disconnected");
  EXPECT_EQ(form->btnConnect->Caption(), "Connect");
  EXPECT_FALSE(form->btnCheck->Enabled());
  EXPECT_TRUE(Tables().empty());
  EXPECT_FALSE(form->cn->IsConnected());
}

TEST_F(MainFormTest, UntickedTablesAreSkippedAndNoTickLogsNothing) {
  form->RadioGroup1->SetItemIndex(1);
  ConnectTo(kdd);
  EXPECT_EQ(Log().back(), "Connected to " + kdd + " with Local");
  form->clbTables->SetChecked(0, false);
  form->clbTables->SetChecked(2, false);
  form->btnCheck->Click();
  EXPECT_EQ(Log().back(), "GOOD ... ok");
  EXPECT_EQ(Log().size(), 3u);

  form->clbTables->SetChecked(1, false);
  form->btnCheck->Click();
  EXPECT_EQ(Log().size(), 3u);
}

TEST_F(MainFormTest, AFolderConnectionIsRefusedLoggedShownAndClosed) {
  ConnectTo(dir.path());
  EXPECT_EQ(Log(), (std::vector<std::string>{"Disconnected", "Connected to " + dir.path() + " with Remote",
                                             "Disconnected", "Only Dictionary Connections are allowed!"}));
  EXPECT_EQ(messages, std::vector<std::string>{"Only Dictionary Connections are allowed!"});
  EXPECT_TRUE(logins.empty());  // no login for a folder
  EXPECT_FALSE(form->cn->IsConnected());
  EXPECT_EQ(form->btnConnect->Caption(), "Connect");
  EXPECT_FALSE(form->btnCheck->Enabled());
}

TEST_F(MainFormTest, AFailingTableListIsLoggedAndShown) {
  // On a dictionary the connection stays; a folder connection is closed
  // whatever happened while listing.
  KivTestFailCall("KivExecuteSQL", KIV_ERR_SQL, "listing failed", 1);
  ConnectTo(kdd);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].find("listing failed"), std::string::npos);
  EXPECT_EQ(Log().back(), messages[0]);
  EXPECT_TRUE(form->cn->IsConnected());
  EXPECT_EQ(form->btnConnect->Caption(), "Disconnect");
  form->btnConnect->Click();
  EXPECT_FALSE(form->cn->IsConnected());

  messages.clear();
  KivTestFailCall("KivExecuteSQL", KIV_ERR_SQL, "listing failed", 1);
  ConnectTo(dir.path());
  EXPECT_FALSE(form->cn->IsConnected());
  EXPECT_EQ(messages, std::vector<std::string>{"Only Dictionary Connections are allowed!"});
  EXPECT_EQ(Log().back(), "Only Dictionary Connections are allowed!");
  EXPECT_EQ(form->btnConnect->Caption(), "Connect");
}

TEST_F(MainFormTest, AFailedLoginOrPathIsLoggedAndShownAndStaysDisconnected) {
  SetModalHook([](TForm&) { return static_cast<int>(mrCancel); });
  ConnectTo(kdd);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(Log().back(), messages[0]);
  EXPECT_FALSE(form->cn->IsConnected());

  messages.clear();
  ConnectTo(dir.path() + "/missing/none.kdd");
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(Log().back(), messages[0]);
  EXPECT_FALSE(form->cn->IsConnected());
  EXPECT_EQ(form->btnConnect->Caption(), "Connect");
}

TEST_F(MainFormTest, AFailureDuringTheCheckEndsItAndGoesToTheExceptionDisplay) {
  ConnectTo(kdd);
  std::filesystem::remove(dir.path() + "/good.dbf");
  form->btnCheck->Click();
  const std::vector<std::string> log = Log();
  ASSERT_EQ(log.size(), 4u);  // DIFF's lines, then nothing of GOOD or LACK
  EXPECT_EQ(log[2], "DIFF ... error: ");
  ASSERT_EQ(displayed.size(), 1u);
  EXPECT_TRUE(messages.empty());
  EXPECT_TRUE(form->btnConnect->Enabled());
  EXPECT_TRUE(form->btnCheck->Enabled());
}

TEST_F(MainFormTest, ConnectAndCheckAreDisabledWhileACheckRuns) {
  ConnectTo(kdd);
  std::vector<bool> seen;
  form->qu->AfterOpen = [&](kivds::TDataSet*) {
    seen.push_back(form->btnConnect->Enabled() || form->btnCheck->Enabled());
    form->btnConnect->Click();  // a user's click while the log pumps events
    form->btnCheckClick(nullptr);
  };
  form->btnCheck->Click();
  form->qu->AfterOpen = nullptr;
  EXPECT_EQ(seen, (std::vector<bool>{false, false, false}));
  EXPECT_TRUE(form->cn->IsConnected());
  EXPECT_EQ(Log().size(), 7u);  // each table once
  EXPECT_TRUE(form->btnConnect->Enabled());
  EXPECT_TRUE(form->btnCheck->Enabled());
}

TEST_F(MainFormTest, AFormDestroyedWhileConnectedEndsTheConnectionQuietly) {
  ConnectTo(kdd);
  const KIVHANDLE handle = form->cn->ConnectionHandle();
  ASSERT_NE(handle, 0u);
  form.reset();
  uint16_t type = 0;
  EXPECT_NE(KivGetHandleType(handle, &type), KIV_OK);
}

TEST_F(MainFormTest, BrowsePresetsTheDialogAndTakesTheChosenFile) {
  std::vector<std::string> presets;
  auto previous = SetOpenDialogHook([&](TOpenDialog& dialog) {
    presets.push_back(dialog.FileName);
    dialog.FileName = "/data/shop.kdd";
    return presets.size() == 1;
  });
  form->edConnectPath->SetText("/old.kdd");
  form->btnBrowse->Click();
  EXPECT_EQ(form->edConnectPath->Text(), "/data/shop.kdd");
  form->btnBrowse->Click();  // cancelled
  EXPECT_EQ(form->edConnectPath->Text(), "/data/shop.kdd");
  EXPECT_EQ(presets, (std::vector<std::string>{"/old.kdd", "/data/shop.kdd"}));
  SetOpenDialogHook(previous);
}

TEST_F(MainFormTest, TheWindowGrabbedToAPngShowsTheForm) {
  ConnectTo(kdd);
  form->btnCheck->Click();
  form->Show();
  const std::string png = dir.path() + "/window.png";
  ASSERT_TRUE(form->GrabToPng(png));
  QImage image(QString::fromStdString(png));
  ASSERT_FALSE(image.isNull());
  EXPECT_EQ(image.width(), 480);
  EXPECT_EQ(image.height(), 378);
  // The log area (white text field) and the form's face differ: controls are drawn.
  EXPECT_NE(image.pixel(20, 300), image.pixel(4, 4));
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  ::testing::InitGoogleTest(&argc, argv);
  kivforms::TApplication app(argc, argv);
  app.Title = "Kiv Consistency Check";
  return RUN_ALL_TESTS();
}

namespace {

// Answers the real file dialog Browse opens (and any message box it shows
// over itself): once the edit shows the file the dialog was given, types
// `name` and presses Open, then, when the dialog is still there, Cancel.
// Counts the message boxes it closed.
struct FileDialogDriver {
  std::string name, preselected;
  int boxes = 0;
  bool typed = false;
  QTimer timer;
  FileDialogDriver(std::string typed, std::string given) : name(std::move(typed)), preselected(std::move(given)) {
    timer.setInterval(20);
    QObject::connect(&timer, &QTimer::timeout, [this] { Step(); });
    timer.start();
  }
  void Step() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (auto* box = qobject_cast<QMessageBox*>(w); box != nullptr && box->isVisible()) {
        ++boxes;
        box->done(QMessageBox::Ok);
        return;
      }
    }
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr) return;
    if (!typed) {
      // the dialog lists its folder in the background and selects the file
      // it was given again when the list is in: type after that
      auto* edit = dialog->findChild<QLineEdit*>("fileNameEdit");
      auto* list = dialog->findChild<QListView*>("listView");
      if (edit == nullptr || list == nullptr || list->model() == nullptr) return;
      const bool listed = list->model()->rowCount(list->rootIndex()) > 0;
      if ((!listed || edit->text() != QString::fromStdString(preselected)) && ++shown < 250) return;
      if (++settled < 3) return;
      typed = true;
      edit->setText(QString::fromStdString(name));
      QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
      return;
    }
    // still open a while after Open: the name was refused
    if (++idle >= 10) dialog->reject();
  }
  int shown = 0, settled = 0, idle = 0;
};

}  // namespace

TEST_F(MainFormTest, BrowseTakesADictionaryTypedWithoutItsExtensionAndLeavesTheCurrentFolder) {
  const std::string folder = std::filesystem::canonical(dir.path()).string();
  const QString current = QDir::currentPath();
  form->edConnectPath->SetText(folder + "/");
  {
    FileDialogDriver driver("app", "");
    form->btnBrowse->Click();
    EXPECT_EQ(driver.boxes, 0);
  }
  EXPECT_EQ(form->edConnectPath->Text(), folder + "/app.kdd");
  EXPECT_EQ(QDir::currentPath(), current);

  // a name that is not there keeps the dialog open; cancelled, the path stays
  {
    FileDialogDriver driver("missing", "app.kdd");
    form->btnBrowse->Click();
    EXPECT_EQ(driver.boxes, 1);
  }
  EXPECT_EQ(form->edConnectPath->Text(), folder + "/app.kdd");
  EXPECT_EQ(QDir::currentPath(), current);
}
