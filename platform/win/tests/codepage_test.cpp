#include <iconv.h>

#include <gtest/gtest.h>

#include "kivwin/win.h"

namespace {

// Converts one byte with the C library's iconv; nullopt when the target page
// has no such character.
std::optional<unsigned char> IconvByte(const char* to, const char* from, unsigned char in) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  char src = static_cast<char>(in);
  char dst = 0;
  char* pin = &src;
  char* pout = &dst;
  size_t inLeft = 1, outLeft = 1;
  size_t r = iconv(cd, &pin, &inLeft, &pout, &outLeft);
  iconv_close(cd);
  if (r == static_cast<size_t>(-1) || outLeft != 0) return std::nullopt;
  return static_cast<unsigned char>(dst);
}

TEST(CodePage, EveryByteAgreesWithTheSystemConverter) {
  if (!IconvByte("CP1252", "CP850", 'A')) GTEST_SKIP() << "iconv lacks CP850/CP1252";
  for (int b = 0; b < 256; ++b) {
    const auto c = static_cast<unsigned char>(b);
    SCOPED_TRACE(b);
    auto ansi = IconvByte("CP1252", "CP850", c);
    EXPECT_EQ(static_cast<unsigned char>(kivwin::OemToAnsi(std::string(1, char(c)))[0]),
              ansi.value_or('?'));
    auto oem = IconvByte("CP850", "CP1252", c);
    // The five bytes that Windows-1252 leaves unassigned have no counterpart.
    EXPECT_EQ(static_cast<unsigned char>(kivwin::AnsiToOem(std::string(1, char(c)))[0]),
              oem.value_or('?'));
  }
}

TEST(CodePage, RoundTripKeepsLettersOfBothPages) {
  const std::string ansi = "M\xfcller, \xc9t\xe9, Stra\xdf" "e \xc5";
  EXPECT_EQ(kivwin::AnsiToOem(ansi), "M\x81ller, \x90t\x82, Stra\xe1" "e \x8f");
  EXPECT_EQ(kivwin::OemToAnsi(kivwin::AnsiToOem(ansi)), ansi);
}

TEST(AnsiCase, UpperAndLowerCoverAccentedLetters) {
  struct Case { const char* in; const char* upper; const char* lower; };
  const Case cases[] = {
      {"abc XYZ 123", "ABC XYZ 123", "abc xyz 123"},
      {"\xe9\xe0\xfc\xf1", "\xc9\xc0\xdc\xd1", "\xe9\xe0\xfc\xf1"},
      {"\x9a\x9c\x9e\xff", "\x8a\x8c\x8e\x9f", "\x9a\x9c\x9e\xff"},
      // multiplication and division signs and sharp s have no case partner
      {"\xd7\xf7\xdf", "\xd7\xf7\xdf", "\xd7\xf7\xdf"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(kivwin::AnsiUpperCase(c.in), c.upper) << c.in;
    EXPECT_EQ(kivwin::AnsiLowerCase(c.upper), c.lower) << c.in;
  }
}

TEST(CompareString, IgnoreCaseFlagDecidesEquality) {
  using kivwin::CompareStringA;
  const unsigned loc = kivwin::LOCALE_USER_DEFAULT;
  EXPECT_EQ(CompareStringA(loc, kivwin::NORM_IGNORECASE, "select * from T", "SELECT * FROM t"),
            kivwin::CSTR_EQUAL);
  EXPECT_EQ(CompareStringA(loc, kivwin::NORM_IGNORECASE, "\xe9t\xe9", "\xc9T\xc9"),
            kivwin::CSTR_EQUAL);
  EXPECT_EQ(CompareStringA(loc, 0, "abc", "ABC"), kivwin::CSTR_GREATER_THAN);
  EXPECT_EQ(CompareStringA(loc, kivwin::NORM_IGNORECASE, "abc", "abcd"), kivwin::CSTR_LESS_THAN);
  EXPECT_EQ(CompareStringA(loc, kivwin::NORM_IGNORECASE, "b", "A"), kivwin::CSTR_GREATER_THAN);
}

}  // namespace
