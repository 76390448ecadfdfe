#include "kivwin/win.h"

#include <array>

namespace kivwin {
namespace {

// Code page 850, bytes 0x80..0xFF.
constexpr std::array<char16_t, 128> kOem = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00F8, 0x00A3, 0x00D8, 0x00D7, 0x0192,
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,
    0x00BF, 0x00AE, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x00C1, 0x00C2, 0x00C0,
    0x00A9, 0x2563, 0x2551, 0x2557, 0x255D, 0x00A2, 0x00A5, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x00E3, 0x00C3,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x00A4,
    0x00F0, 0x00D0, 0x00CA, 0x00CB, 0x00C8, 0x0131, 0x00CD, 0x00CE,
    0x00CF, 0x2518, 0x250C, 0x2588, 0x2584, 0x00A6, 0x00CC, 0x2580,
    0x00D3, 0x00DF, 0x00D4, 0x00D2, 0x00F5, 0x00D5, 0x00B5, 0x00FE,
    0x00DE, 0x00DA, 0x00DB, 0x00D9, 0x00FD, 0x00DD, 0x00AF, 0x00B4,
    0x00AD, 0x00B1, 0x2017, 0x00BE, 0x00B6, 0x00A7, 0x00F7, 0x00B8,
    0x00B0, 0x00A8, 0x00B7, 0x00B9, 0x00B3, 0x00B2, 0x25A0, 0x00A0,
};

// Windows-1252, bytes 0x80..0x9F; 0xA0..0xFF equal their code points. The
// five unassigned bytes keep their own value.
constexpr std::array<char16_t, 32> kAnsiLow = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

unsigned char FromUnicode(char32_t u, bool toOem) {
  if (u < 0x80) return static_cast<unsigned char>(u);
  for (int b = 0x80; b < 0x100; ++b) {
    char32_t v = toOem ? OemToUnicode(static_cast<unsigned char>(b))
                       : AnsiToUnicode(static_cast<unsigned char>(b));
    if (v == u) return static_cast<unsigned char>(b);
  }
  return '?';
}

// Byte-to-byte tables, built once.
struct Conversion {
  std::array<unsigned char, 256> oemToAnsi{};
  std::array<unsigned char, 256> ansiToOem{};
  Conversion() {
    for (int b = 0; b < 256; ++b) {
      auto c = static_cast<unsigned char>(b);
      oemToAnsi[b] = FromUnicode(OemToUnicode(c), false);
      ansiToOem[b] = FromUnicode(AnsiToUnicode(c), true);
    }
  }
};

const Conversion& Tables() {
  static const Conversion tables;
  return tables;
}

std::string Map(std::string_view text, const std::array<unsigned char, 256>& table) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(table[static_cast<unsigned char>(c)]);
  return out;
}

unsigned char AnsiLowerChar(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c + 32;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
  switch (c) {
    case 0x8A: return 0x9A;  // S caron
    case 0x8C: return 0x9C;  // OE
    case 0x8E: return 0x9E;  // Z caron
    case 0x9F: return 0xFF;  // Y diaeresis
    default: return c;
  }
}

}  // namespace

char32_t OemToUnicode(unsigned char c) { return c < 0x80 ? c : kOem[c - 0x80]; }

char32_t AnsiToUnicode(unsigned char c) {
  return (c < 0x80 || c >= 0xA0) ? c : kAnsiLow[c - 0x80];
}

std::string OemToAnsi(std::string_view text) { return Map(text, Tables().oemToAnsi); }
std::string AnsiToOem(std::string_view text) { return Map(text, Tables().ansiToOem); }

unsigned char AnsiUpperChar(unsigned char c) {
  if (c >= 'a' && c <= 'z') return c - 32;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 32;
  switch (c) {
    case 0x9A: return 0x8A;
    case 0x9C: return 0x8C;
    case 0x9E: return 0x8E;
    case 0xFF: return 0x9F;
    default: return c;
  }
}

std::string AnsiUpperCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(AnsiUpperChar(static_cast<unsigned char>(c)));
  return out;
}

std::string AnsiLowerCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(AnsiLowerChar(static_cast<unsigned char>(c)));
  return out;
}

int CompareStringA(unsigned /*locale*/, unsigned flags, std::string_view a, std::string_view b) {
  const bool fold = (flags & NORM_IGNORECASE) != 0;
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (fold) {
      x = AnsiUpperChar(x);
      y = AnsiUpperChar(y);
    }
    if (x != y) return x < y ? CSTR_LESS_THAN : CSTR_GREATER_THAN;
  }
  if (a.size() == b.size()) return CSTR_EQUAL;
  return a.size() < b.size() ? CSTR_LESS_THAN : CSTR_GREATER_THAN;
}

}  // namespace kivwin
