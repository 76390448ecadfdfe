// What every Qt front end of the product shares: Windows-1252 text to Qt and
// back, the check whether Qt can reach a display, and the Qt message box.
// Depends on the Windows-services stand-in and Qt only.
#ifndef KIVQT_QT_H
#define KIVQT_QT_H

#include <QString>
#include <string>

namespace kivqt {

// Windows-1252 bytes to Qt and back; a character outside the code page
// comes back as "?".
QString ToQ(const std::string& ansi);
std::string FromQ(const QString& text);

// Whether the environment names a real display (X11 or Wayland).
bool HasDisplay();
// Whether Qt can start on the platform it would choose: the one that
// QT_QPA_PLATFORM names (offscreen and the like always can), else a real
// display. Qt aborts the process when its platform cannot reach a display,
// so look before creating the application.
bool PlatformAvailable();
// Makes Qt start offscreen when no display is there (before the
// application is created); true when it did.
bool UseOffscreenWithoutDisplay();

// The Qt message box: title, text, the icon and the buttons of Windows
// MessageBox flags (kivwin::MB_...); answers kivwin::IDOK, IDCANCEL, IDYES
// or IDNO. Needs a QApplication and runs on its thread.
int MessageBox(const std::string& text, const std::string& caption, unsigned flags);

}  // namespace kivqt

#endif
