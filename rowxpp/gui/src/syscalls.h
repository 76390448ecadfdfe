// The module's wrappers of system calls: each loads its library, calls the
// function with the wrapper's arguments in order and unloads the library
// again, on every call. Nothing is cached; the library handle is not tested
// before the call. Answer: the function's result (NIL when it cannot be
// reached).
#pragma once

#include "xpp/xpp.h"

namespace rowxpp::gui {

// "GDI32.DLL" SetTextAlign(hDC, flags).
xpp::Value SETTEXTALIGN(const xpp::Value& hdc, const xpp::Value& flags);
// "USER32.DLL" DrawTextA(hDC, text, length, rectangle, format).
xpp::Value DRAWTEXTA(const xpp::Value& hdc, const xpp::Value& text, const xpp::Value& length,
                     const xpp::Value& rect, const xpp::Value& format);
// "KERNEL32.DLL" GetModuleHandleA(name): the handle of a module already
// loaded in the process, 0 when it is not.
xpp::Value GETMODULEHANDLEA(const xpp::Value& moduleName);

}  // namespace rowxpp::gui
