#include "library.h"

#include <QApplication>
#include <QCoreApplication>

#include <cstdlib>
#include <cstring>
#include <string_view>

#include "kivforms/forms.h"

namespace kivset {

// Kept in the file so that tools can tell the library's version.
[[gnu::used]] const char kVersionMarker[] = "KvRmQ!@# 9.10.0.0";

namespace {

bool EnvironmentSet(const char* name) {
  const char* v = std::getenv(name);
  return v != nullptr && *v != '\0';
}

// Qt aborts the process when its platform cannot reach a display, so look
// before creating the application.
bool DisplayAvailable() {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (platform != nullptr && *platform != '\0') {
    std::string_view p(platform);
    if (p.starts_with("xcb")) return EnvironmentSet("DISPLAY");
    if (p.starts_with("wayland")) return EnvironmentSet("WAYLAND_DISPLAY");
    return true;  // offscreen, minimal, vnc, ...
  }
  return EnvironmentSet("DISPLAY") || EnvironmentSet("WAYLAND_DISPLAY");
}

}  // namespace

bool EnsureApplication() {
  if (kivforms::Application != nullptr)
    return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
  if (QCoreApplication::instance() != nullptr) {
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) return false;
  } else if (!DisplayAvailable()) {
    return false;
  }
  // The application object lives as long as the process: the library is
  // never unloaded (it is linked with -z nodelete), and Qt cannot be torn
  // down and set up again safely.
  static int argc = 1;
  static char name[] = "kivset";
  static char* argv[] = {name, nullptr};
  auto* app = new kivforms::TApplication(argc, argv);
  app->Title = "Morvane Rivulet ODBC Driver Setup";
  return true;
}

}  // namespace kivset
