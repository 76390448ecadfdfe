#include "kivqt/qt.h"

#include <QMessageBox>
#include <cstdlib>
#include <string_view>

#include "kivwin/win.h"

namespace kivqt {

QString ToQ(const std::string& ansi) {
  QString out;
  out.reserve(static_cast<qsizetype>(ansi.size()));
  for (char c : ansi) out.append(QChar(static_cast<char16_t>(kivwin::AnsiToUnicode(static_cast<unsigned char>(c)))));
  return out;
}

std::string FromQ(const QString& text) {
  std::string out;
  out.reserve(static_cast<size_t>(text.size()));
  for (QChar qc : text) {
    const char16_t u = qc.unicode();
    if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) {
      out += static_cast<char>(u);
      continue;
    }
    char mapped = '?';
    for (int b = 0x80; b < 0xA0; ++b)
      if (kivwin::AnsiToUnicode(static_cast<unsigned char>(b)) == u) mapped = static_cast<char>(b);
    out += mapped;
  }
  return out;
}

namespace {

bool EnvironmentSet(const char* name) {
  const char* v = std::getenv(name);
  return v != nullptr && *v != '\0';
}

}  // namespace

bool HasDisplay() { return EnvironmentSet("DISPLAY") || EnvironmentSet("WAYLAND_DISPLAY"); }

bool PlatformAvailable() {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (platform != nullptr && *platform != '\0') {
    std::string_view p(platform);
    if (p.starts_with("xcb")) return EnvironmentSet("DISPLAY");
    if (p.starts_with("wayland")) return EnvironmentSet("WAYLAND_DISPLAY");
    return true;  // offscreen, minimal, vnc, ...
  }
  return HasDisplay();
}

bool UseOffscreenWithoutDisplay() {
  if (PlatformAvailable()) return false;
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  return true;
}

int MessageBox(const std::string& text, const std::string& caption, unsigned flags) {
  QMessageBox box;
  box.setWindowTitle(ToQ(caption));
  box.setText(ToQ(text));
  switch (flags & kivwin::MB_ICONMASK) {
    case kivwin::MB_ICONERROR: box.setIcon(QMessageBox::Critical); break;
    case kivwin::MB_ICONQUESTION: box.setIcon(QMessageBox::Question); break;
    case kivwin::MB_ICONWARNING: box.setIcon(QMessageBox::Warning); break;
    case kivwin::MB_ICONINFORMATION: box.setIcon(QMessageBox::Information); break;
    default: break;
  }
  switch (flags & kivwin::MB_TYPEMASK) {
    case kivwin::MB_OKCANCEL: box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel); break;
    case kivwin::MB_YESNO: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No); break;
    case kivwin::MB_YESNOCANCEL:
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
      break;
    default: box.setStandardButtons(QMessageBox::Ok); break;
  }
  switch (box.exec()) {
    case QMessageBox::Yes: return kivwin::IDYES;
    case QMessageBox::No: return kivwin::IDNO;
    case QMessageBox::Cancel: return kivwin::IDCANCEL;
    default: return kivwin::IDOK;
  }
}

}  // namespace kivqt
