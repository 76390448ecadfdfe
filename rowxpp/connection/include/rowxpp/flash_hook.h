// Where the default error handler shows an error text on screen. The GUI
// part of the library installs its flash window here when the library
// starts; until then (or in a program that removed it) nothing is shown.
#pragma once

#include <functional>

#include "xpp/value.h"

namespace rowxpp {

// (text, return code, title): the handler's error report, the unsigned ODBC
// return code of the failed call and the error log's file name.
using FlashHook = std::function<void(const xpp::Value& text, const xpp::Value& rc, const xpp::Value& title)>;

// Installs the hook (null removes it) and answers the one before.
FlashHook SetFlashHook(FlashHook hook);
// Shows the text through the installed hook; nothing when none is.
void Flash(const xpp::Value& text, const xpp::Value& rc, const xpp::Value& title);

}  // namespace rowxpp
