// Calls into native libraries over dlopen.
//
// Handles and prepared calls are numbers, as in the language (pointer-sized
// here). Library names go through a name map without regard to case:
//   "ODBC32.DLL" -> unixODBC's libodbc.so.2
//   "QEL32.DLL"  -> the project's libqel32.so, found beside libxpp.so
//   "USER32.DLL" -> libxpp.so itself (GetDesktopWindow)
//   "KERNEL32.DLL" -> libxpp.so itself (GetModuleHandleA)
// and what other stand-ins add (MapLibrary). Any other name is opened as given.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "xpp/value.h"

namespace xpp {

// Calling-convention bits of DllPrepareCall/DllCall; they mean nothing on
// x86_64 and are only kept.
enum DllCallMode : int { DLL_CDECL = 8, DLL_STDCALL = 32, DLL_SYSTEM = 0x2020 };

// Maps a library name (any case) to the file to open.
void MapLibrary(std::string_view name, std::string file);
// The file a name maps to (the name itself when unmapped).
std::string MappedLibrary(std::string_view name);

int64_t DllLoad(std::string_view name);  // 0 on failure
// The handle of a library the process holds already under `name` (after
// the name map; "" is the program itself), else 0. It never loads a
// library. The handle works in DllPrepareCall and DllCall and needs no
// DllUnload. GetModuleHandleA of "KERNEL32.DLL" answers the same.
int64_t ModuleHandle(std::string_view name);
// Drops the handle and, with its last DllLoad, its prepared calls. The
// library's code stays mapped until the process ends.
bool DllUnload(int64_t handle);
// 0 when the handle is unknown or the symbol is missing.
int64_t DllPrepareCall(int64_t handle, int mode, std::string_view function);
// The address behind a prepared call (null for an unknown one). Callers
// that know the prototype call it typed:
//     auto fn = reinterpret_cast<SQLRETURN (*)(SQLSMALLINT, SQLHANDLE, SQLHANDLE*)>(
//         xpp::DllCallAddress(prepared));
void* DllCallAddress(int64_t prepared);
// Calls a prepared function without a prototype (at most 16 arguments):
// numbers as integers, logicals as 1 or 0, NIL as 0, texts as a pointer to
// their bytes (to the caller's own buffer when passed by reference, so the
// callee fills it in place), numbers passed by reference as 8-byte cells
// that carry the number in and are read back after the call. Answers the
// whole return register. A date, array, block or object argument raises
// EG_ARG and nothing is called. Functions with floating-point arguments
// take the typed road (DllCallAddress).
Value DllExecuteCall(int64_t prepared, Args args = {});
// DLLCALL(library name or handle, mode, function, ...): loads (when given
// a name), prepares, calls, unloads. NIL when the library or the function
// is missing.
Value DllCall(const Value& library, int mode, std::string_view function, Args args = {});

}  // namespace xpp

// The desktop window: one process-wide, zeroed record laid out as unixODBC's
// window handle (ODBCINSTWND). "USER32.DLL" resolves here.
extern "C" void* GetDesktopWindow(void);
// GetModuleHandleA(name): xpp::ModuleHandle as a native function.
extern "C" void* GetModuleHandleA(const char* name);
