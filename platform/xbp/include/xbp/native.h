// The native text functions of libxbp.so, with C linkage so that DllCall
// finds them: the name map sends "USER32.DLL" and "GDI32.DLL" here.
// GetDesktopWindow stays reachable through the same handle (it lives in
// libxpp.so, which this library depends on).
#pragma once

#include <cstdint>

// DrawTextA format flags.
enum : uint32_t {
    DT_CENTER = 0x1,
    DT_RIGHT = 0x2,
    DT_VCENTER = 0x4,
    DT_BOTTOM = 0x8,
    DT_WORDBREAK = 0x10,
    DT_SINGLELINE = 0x20,
    DT_EXPANDTABS = 0x40,
    DT_TABSTOP = 0x80,  // the tab width in average characters in bits 8 to 15
    DT_NOCLIP = 0x100,
    DT_NOPREFIX = 0x800,
};
constexpr uint32_t GDI_ERROR = 0xFFFFFFFFu;

extern "C" {
// DrawTextA(hDC, text, length, rect, format): draws Windows-1252 text (-1:
// up to the terminating zero) into the rectangle {left, top, right, bottom}
// (four 32-bit integers, device coordinates) of the space that the locked
// device context `hDC` stands for; "&" marks an underlined mnemonic unless
// DT_NOPREFIX. Answers the height of the drawn text, 0 when nothing was
// drawn or `hDC` is not a locked device context.
int DrawTextA(int64_t hDC, const char* text, int length, const int32_t* rect, uint32_t format);
// SetTextAlign(hDC, align): answers the previous alignment, GDI_ERROR for a
// handle that is not a locked device context.
uint32_t SetTextAlign(int64_t hDC, uint32_t align);
}
