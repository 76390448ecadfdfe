#include "library.h"

#include <QApplication>
#include <QCoreApplication>

#include "kivforms/forms.h"
#include "kivqt/qt.h"

namespace kivset {

// Kept in the file so that tools can tell the library's version.
[[gnu::used]] const char kVersionMarker[] = "KvRmQ!@# 9.10.0.0";

bool EnsureApplication() {
  if (kivforms::Application != nullptr)
    return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
  if (QCoreApplication::instance() != nullptr) {
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) return false;
  } else if (!kivqt::PlatformAvailable()) {
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
