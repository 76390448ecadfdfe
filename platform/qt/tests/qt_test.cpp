// Text conversion, the display check and the message box of the shared Qt
// layer.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <cstdlib>
#include <optional>

#include "kivqt/qt.h"
#include "kivwin/win.h"

namespace {

using namespace kivqt;

TEST(AnsiText, Windows1252CrossesToQtAndBack) {
  const std::string ansi = "Stra\xdf" "e \x80 \x93q\x94 \xe9";
  QString q = ToQ(ansi);
  EXPECT_EQ(q, QString::fromUtf8("Stra\xc3\x9f" "e \xe2\x82\xac \xe2\x80\x9cq\xe2\x80\x9d \xc3\xa9"));
  EXPECT_EQ(FromQ(q), ansi);
  EXPECT_EQ(FromQ(QString::fromUtf8("\xe2\x98\x83")), "?");
}

// Sets the three variables for the life of the object and puts the old
// values back.
class Environment {
 public:
  Environment(const char* platform, const char* display, const char* wayland) {
    Save("QT_QPA_PLATFORM", platform);
    Save("DISPLAY", display);
    Save("WAYLAND_DISPLAY", wayland);
  }
  ~Environment() {
    for (auto& [name, value] : saved_)
      if (value) setenv(name.c_str(), value->c_str(), 1);
      else unsetenv(name.c_str());
  }

 private:
  void Save(const char* name, const char* value) {
    const char* old = std::getenv(name);
    saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    if (value) setenv(name, value, 1);
    else unsetenv(name);
  }
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST(Display, WhetherQtCanStartAndWhenItGoesOffscreen) {
  struct Case {
    const char* platform;
    const char* display;
    const char* wayland;
    bool hasDisplay, available;
  } cases[] = {
      {nullptr, nullptr, nullptr, false, false},
      {nullptr, ":0", nullptr, true, true},
      {nullptr, nullptr, "wayland-0", true, true},
      {nullptr, "", "", false, false},  // empty counts as unset
      {"offscreen", nullptr, nullptr, false, true},
      {"minimal", nullptr, nullptr, false, true},
      {"xcb", nullptr, "wayland-0", true, false},
      {"xcb", ":1", nullptr, true, true},
      {"wayland", ":1", nullptr, true, false},
      {"wayland-egl", nullptr, "wayland-0", true, true},
      {"", ":0", nullptr, true, true},
  };
  for (const auto& c : cases) {
    Environment env(c.platform, c.display, c.wayland);
    SCOPED_TRACE(std::string(c.platform ? c.platform : "(unset)") + " " + (c.display ? c.display : "-") + " " +
                 (c.wayland ? c.wayland : "-"));
    EXPECT_EQ(HasDisplay(), c.hasDisplay);
    EXPECT_EQ(PlatformAvailable(), c.available);
    EXPECT_EQ(UseOffscreenWithoutDisplay(), !c.available);
    // afterwards Qt can always start
    EXPECT_TRUE(PlatformAvailable());
    if (!c.available) {
      EXPECT_STREQ(std::getenv("QT_QPA_PLATFORM"), "offscreen");
    }
  }
}

TEST(MessageBox, ShowsTitleTextIconAndButtonsAndAnswersTheButtonPressed) {
  struct Case {
    unsigned flags;
    QMessageBox::Icon icon;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton press;
    int answer;
  } cases[] = {
      {kivwin::MB_OK, QMessageBox::NoIcon, QMessageBox::Ok, QMessageBox::Ok, kivwin::IDOK},
      {kivwin::MB_OK | kivwin::MB_ICONERROR, QMessageBox::Critical, QMessageBox::Ok, QMessageBox::Ok, kivwin::IDOK},
      {kivwin::MB_OKCANCEL | kivwin::MB_ICONWARNING, QMessageBox::Warning, QMessageBox::Ok | QMessageBox::Cancel,
       QMessageBox::Cancel, kivwin::IDCANCEL},
      {kivwin::MB_YESNO | kivwin::MB_ICONQUESTION, QMessageBox::Question, QMessageBox::Yes | QMessageBox::No,
       QMessageBox::No, kivwin::IDNO},
      {kivwin::MB_YESNOCANCEL | kivwin::MB_ICONINFORMATION, QMessageBox::Information,
       QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Yes, kivwin::IDYES},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.flags);
    QString title, text;
    std::optional<QMessageBox::Icon> icon;
    QMessageBox::StandardButtons buttons;
    QTimer::singleShot(0, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box) return;
      title = box->windowTitle();
      text = box->text();
      icon = box->icon();
      buttons = box->standardButtons();
      box->button(c.press)->click();
    });
    EXPECT_EQ(MessageBox("Gr\xfc\xdf" "e", "Caption \x80", c.flags), c.answer);
    EXPECT_EQ(title, QString::fromUtf8("Caption \xe2\x82\xac"));
    EXPECT_EQ(text, QString::fromUtf8("Gr\xc3\xbc\xc3\x9f" "e"));
    EXPECT_EQ(icon, c.icon);
    EXPECT_EQ(buttons, c.buttons);
  }
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
