// What the library needs from its host process: an application object for
// its dialogs.
#ifndef KIVSET_LIBRARY_H
#define KIVSET_LIBRARY_H

namespace kivset {

extern const char kVersionMarker[];

// True when dialogs can be shown. Creates the library's application object
// when the process has none; false when there is no display to show a
// dialog on (or the process runs a Qt application without widgets).
bool EnsureApplication();

}  // namespace kivset

#endif
