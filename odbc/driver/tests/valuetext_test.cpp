#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "data/valuetext.h"

namespace kivodbc {
namespace {

std::string Date(const DATE_STRUCT& d) {
  return std::to_string(d.year) + "-" + std::to_string(d.month) + "-" + std::to_string(d.day);
}

TEST(ValueText, DateLiterals) {
  struct Case {
    const char* text;
    int code;
    const char* date;
  } cases[] = {
      {"2000-02-29", 0, "2000-2-29"},
      {"1900-02-29", 2109, nullptr},
      {"2004-02-29", 0, "2004-2-29"},
      {"2001-02-29", 2109, nullptr},
      {"0000-00-00", 0, "0-0-0"},
      {"2001-13-01", 2109, nullptr},
      {"2001-04-31", 2109, nullptr},
      {"2001-00-10", 2109, nullptr},
      {"{d '1999-12-31'}", 0, "1999-12-31"},
      {"{ D'1999-12-31' }", 0, "1999-12-31"},
      {"--(*vendor(Microsoft),product(ODBC) d '1999-12-31' *)--", 0, "1999-12-31"},
      {"  --(* VENDOR ( microsoft ) , product(odbc) D '1999-12-31'*)--  ", 0, "1999-12-31"},
      {"  1999-12-31  ", 0, "1999-12-31"},
      {"1999-1-31", 2109, nullptr},
      {"1999-12-31x", 2109, nullptr},
      {"{d '1999-12-31'", 2109, nullptr},
      {"{t '1999-12-31'}", 2109, nullptr},
      {"", 2109, nullptr},
  };
  for (const Case& c : cases) {
    DATE_STRUCT d{};
    EXPECT_EQ(ParseDateText(c.text, SQL_NTS, &d), c.code) << c.text;
    if (c.date != nullptr) { EXPECT_EQ(Date(d), c.date) << c.text; }
  }
}

TEST(ValueText, DateLengthLimitsTheText) {
  DATE_STRUCT d{};
  EXPECT_EQ(ParseDateText("1999-12-31garbage", 10, &d), 0);
  EXPECT_EQ(Date(d), "1999-12-31");
}

TEST(ValueText, TimeLiterals) {
  struct Case {
    const char* text;
    int code;
    int hour, minute, second;
  } cases[] = {
      {"12:30", 0, 12, 30, 0},
      {"12:30:15", 0, 12, 30, 15},
      {"{t '12:30'}", 2109, 0, 0, 0},
      {"{t '12:30:01'}", 0, 12, 30, 1},
      {"--(*vendor(Microsoft),product(ODBC) t '08:00:00' *)--", 0, 8, 0, 0},
      {"01:15:00 PM", 0, 13, 15, 0},
      {"01:15 pm", 0, 13, 15, 0},
      {"12:00 am", 0, 0, 0, 0},
      {"12:00 PM", 0, 12, 0, 0},
      {"11:59 a", 0, 11, 59, 0},
      {"00:10 pm", 2109, 0, 0, 0},
      {"{t '01:15:00 PM'}", 2109, 0, 0, 0},
      {"24:00:00", 2109, 0, 0, 0},
      {"23:60", 2109, 0, 0, 0},
      {"23:59:60", 2109, 0, 0, 0},
      {"1:15", 2109, 0, 0, 0},
      {"01:15 PMX", 2109, 0, 0, 0},
  };
  for (const Case& c : cases) {
    TIME_STRUCT t{};
    EXPECT_EQ(ParseTimeText(c.text, SQL_NTS, &t), c.code) << c.text;
    if (c.code == 0) {
      EXPECT_EQ(t.hour, c.hour) << c.text;
      EXPECT_EQ(t.minute, c.minute) << c.text;
      EXPECT_EQ(t.second, c.second) << c.text;
    }
  }
}

TEST(ValueText, TimestampLiterals) {
  struct Case {
    const char* text;
    int code;
    unsigned fraction;
  } cases[] = {
      {"1999-12-31 23:59:59", 0, 0},
      {"1999-12-31 23:59:59.5", 0, 500000000},
      {"1999-12-31 23:59:59.123456789", 0, 123456789},
      {"1999-12-31 23:59:59.1234567891", 2109, 0},
      {"1999-12-31 23:59", 2109, 0},
      {"{ts '1999-12-31 23:59:59.25'}", 0, 250000000},
      {"--(*vendor(Microsoft),product(ODBC) ts '1999-12-31 00:00:00' *)--", 0, 0},
      {"0000-00-00 00:00:00", 0, 0},
      {"0000-00-00 00:00:01", 2109, 0},
      {"1999-02-30 10:00:00", 2109, 0},
      {"1999-12-31  23:59:59", 2109, 0},
      {"{d '1999-12-31 23:59:59'}", 2109, 0},
  };
  for (const Case& c : cases) {
    TIMESTAMP_STRUCT ts{};
    EXPECT_EQ(ParseTimestampText(c.text, SQL_NTS, &ts), c.code) << c.text;
    if (c.code == 0) { EXPECT_EQ(ts.fraction, c.fraction) << c.text; }
  }
}

TEST(ValueText, FormatsDatesTimesAndTimestamps) {
  char out[32];
  EXPECT_EQ(FormatDateText(DATE_STRUCT{1999, 1, 5}, out, sizeof out), 0);
  EXPECT_STREQ(out, "1999-01-05");
  EXPECT_EQ(FormatDateText(DATE_STRUCT{10000, 1, 5}, out, sizeof out), 2111);
  EXPECT_EQ(FormatDateText(DATE_STRUCT{-1, 1, 5}, out, sizeof out), 2111);
  EXPECT_EQ(FormatTimeText(TIME_STRUCT{7, 5, 9}, out, sizeof out), 0);
  EXPECT_STREQ(out, "07:05:09");
  EXPECT_EQ(FormatTimeText(TIME_STRUCT{100, 5, 9}, out, sizeof out), 2111);
  TIMESTAMP_STRUCT ts{1999, 12, 31, 23, 59, 59, 123456789};
  EXPECT_EQ(FormatTimestampText(ts, out, sizeof out), 0);
  EXPECT_STREQ(out, "1999-12-31 23:59:59.123");
  ts.fraction = 1000000000;
  EXPECT_EQ(FormatTimestampText(ts, out, sizeof out), 2111);
}

TEST(ValueText, FormattersNeverWritePastTheBuffer) {
  char out[8];
  std::memset(out, 'x', sizeof out);
  EXPECT_EQ(FormatTimestampText(TIMESTAMP_STRUCT{1999, 12, 31, 23, 59, 59, 0}, out, 5), 0);
  EXPECT_STREQ(out, "1999");
  EXPECT_EQ(out[5], 'x');
}

TEST(ValueText, ParsesNumbersWithRanges) {
  struct Case {
    const char* text;
    bool fractionCheck;
    double minimum, maximum;
    int code;
    double value;
  } cases[] = {
      {"42", true, -2147483648.0, 2147483647.0, 0, 42},
      {"  -17  ", true, -2147483648.0, 2147483647.0, 0, -17},
      {"+5", true, 0, 255, 0, 5},
      {"1.50", true, -32768, 32767, 2102, 1.5},
      {"1.00", true, -32768, 32767, 0, 1},
      {"1.5", false, -1.7e308, 1.7e308, 0, 1.5},
      {"2.5e3", false, -1.7e308, 1.7e308, 0, 2500},
      {"25E-1", false, -1.7e308, 1.7e308, 0, 2.5},
      {"256", true, 0, 255, 2111, 256},
      {"-1", true, 0, 65535, 2111, -1},
      {"300.5", true, -128, 127, 2111, 300.5},  // out of range wins over truncation
      {"", true, 0, 1, 0, 0},
      {"   ", true, 0, 1, 0, 0},
      {"1.2.3", false, -1e9, 1e9, 2112, 0},
      {"E5", false, -1e9, 1e9, 2112, 0},
      {"5E", false, -1e9, 1e9, 2112, 0},
      {"5E+", false, -1e9, 1e9, 2112, 0},
      {"12 3", false, -1e9, 1e9, 2112, 0},
      {"12a", false, -1e9, 1e9, 2112, 0},
      {"1e999", false, -1.7e308, 1.7e308, 2111, 0},
  };
  for (const Case& c : cases) {
    double value = -99;
    EXPECT_EQ(ParseNumberText(c.text, SQL_NTS, c.fractionCheck, c.minimum, c.maximum, &value), c.code) << c.text;
    if (c.code == 0 || c.code == 2102) { EXPECT_DOUBLE_EQ(value, c.value) << c.text; }
  }
}

TEST(ValueText, FormatsDoubles) {
  struct Case {
    double value;
    bool exponent;
    size_t buffer;
    int result;
    const char* text;
  } cases[] = {
      {1.5, true, 32, 0, "1.5"},
      {100.0, true, 32, 0, "100"},
      {-0.25, true, 32, 0, "-0.25"},
      {0.0, true, 32, 0, "0"},
      {1e-9, true, 32, 0, "1.000000E-09"},
      {1e-9, false, 32, 0, "0"},
      {123456.5, false, 4, 1, "1234"},
      {1e30, true, 20, 0, "1.000000E+30"},
  };
  for (const Case& c : cases) {
    char out[64] = {};
    EXPECT_EQ(FormatDoubleText(c.value, c.exponent, out, c.buffer), c.result) << c.value;
    EXPECT_EQ(std::string(out, std::strlen(c.text)), c.text) << c.value;
  }
}

std::string Magnitude(const SQL_NUMERIC_STRUCT& n) {
  uint64_t m = 0;
  for (int b = 7; b >= 0; --b) m = (m << 8) | n.val[b];
  return std::to_string(m);
}

TEST(ValueText, ParsesNumericStructs) {
  struct Case {
    const char* text;
    int code;
    int sign, precision, scale;
    const char* magnitude;
  } cases[] = {
      {"-0012.3400", 0, 0, 6, 4, "123400"},
      {"0.05", 0, 1, 1, 2, "5"},
      {"  42  ", 0, 1, 2, 0, "42"},
      {"0", 0, 1, 1, 0, "0"},
      {"18446744073709551615", 2102, 1, 19, -1, "1844674407370955161"},
      {"1.23x", 2112, 1, 0, 0, nullptr},
      {"1.2.3", 2112, 1, 0, 0, nullptr},
      {"12.34567890123456789012345", 2102, 1, 20, 18, "12345678901234567890"},
  };
  for (const Case& c : cases) {
    SQL_NUMERIC_STRUCT n{};
    EXPECT_EQ(ParseNumericText(c.text, SQL_NTS, &n), c.code) << c.text;
    if (c.magnitude == nullptr) continue;
    EXPECT_EQ(n.sign, c.sign) << c.text;
    EXPECT_EQ(n.precision, c.precision) << c.text;
    EXPECT_EQ(n.scale, c.scale) << c.text;
    EXPECT_EQ(Magnitude(n), c.magnitude) << c.text;
    for (int b = 8; b < 16; ++b) EXPECT_EQ(n.val[b], 0) << c.text;
  }
  // Digits beyond the 64-bit magnitude lower the scale; far too many are out of range.
  EXPECT_EQ(ParseNumericText(std::string(200, '9').c_str(), SQL_NTS, nullptr), 2111);
}

SQL_NUMERIC_STRUCT Numeric(uint64_t magnitude, int scale, int sign) {
  SQL_NUMERIC_STRUCT n{};
  n.scale = static_cast<SQLSCHAR>(scale);
  n.sign = static_cast<SQLCHAR>(sign);
  for (int b = 0; b < 8; ++b) n.val[b] = static_cast<SQLCHAR>(magnitude >> (8 * b));
  return n;
}

TEST(ValueText, FormatsNumericStructs) {
  struct Case {
    uint64_t magnitude;
    int scale, sign;
    size_t buffer;
    int code;
    const char* text;
  } cases[] = {
      {5, 2, 1, 32, 0, ".05"},
      {12345, 2, 0, 32, 0, "-123.45"},
      {12345, 2, 0, 7, 2102, "-123.4"},
      {12345, 2, 0, 6, 2102, "-123"},
      {12345, 2, 0, 5, 2102, "-123"},
      {12345, 2, 0, 4, 2112, nullptr},
      {12, -3, 1, 32, 0, "12000"},
      {0, 0, 1, 32, 0, "0"},
      {std::numeric_limits<uint64_t>::max(), 0, 1, 32, 0, "18446744073709551615"},
  };
  for (const Case& c : cases) {
    char out[40];
    std::memset(out, 'x', sizeof out);
    EXPECT_EQ(FormatNumericText(Numeric(c.magnitude, c.scale, c.sign), out, c.buffer), c.code) << c.magnitude;
    if (c.text != nullptr) { EXPECT_STREQ(out, c.text) << c.magnitude; } else { EXPECT_EQ(out[0], 'x'); }
  }
}

TEST(ValueText, NumericAndDoubleRoundTrip) {
  double d = 0;
  EXPECT_EQ(NumericToDouble(Numeric(12345, 2, 0), &d), 0);
  EXPECT_DOUBLE_EQ(d, -123.45);
  EXPECT_EQ(NumericToDouble(Numeric(12, -2, 1), &d), 0);
  EXPECT_DOUBLE_EQ(d, 1200);
  SQL_NUMERIC_STRUCT n{};
  EXPECT_EQ(DoubleToNumeric(-2.5, &n), 0);
  EXPECT_EQ(n.sign, 0);
  EXPECT_EQ(n.scale, 6);  // six decimals printed, trailing zeros kept
  EXPECT_EQ(Magnitude(n), "2500000");
}

TEST(ValueText, BigintTexts) {
  struct Case {
    const char* text;
    int code;
    int64_t value;
  } cases[] = {
      {"  -9223372036854775808 ", 0, std::numeric_limits<int64_t>::min()},
      {"9223372036854775807", 0, std::numeric_limits<int64_t>::max()},
      {"9223372036854775808", 2111, 0},
      {"12.0", 0, 12},
      {"12.5", 2102, 12},
      {"12x", 2112, 0},
      {"99999999999999999999999", 2111, 0},
  };
  for (const Case& c : cases) {
    int64_t v = 0;
    EXPECT_EQ(ParseBigintText(c.text, SQL_NTS, &v), c.code) << c.text;
    if (c.code == 0 || c.code == 2102) { EXPECT_EQ(v, c.value) << c.text; }
  }
  uint64_t u = 0;
  EXPECT_EQ(ParseUbigintText("18446744073709551615", SQL_NTS, &u), 0);
  EXPECT_EQ(u, std::numeric_limits<uint64_t>::max());
  EXPECT_EQ(ParseUbigintText("-1", SQL_NTS, &u), 2112);

  char out[32];
  EXPECT_EQ(FormatUbigintText(std::numeric_limits<uint64_t>::max(), out, sizeof out), 0);
  EXPECT_STREQ(out, "18446744073709551615");
  EXPECT_EQ(FormatUbigintText(12345678901ull, out, sizeof out), 0);
  EXPECT_STREQ(out, "12345678901");
  EXPECT_EQ(FormatUbigintText(123, out, 3), 2112);
  EXPECT_EQ(FormatBigintText(std::numeric_limits<int64_t>::min(), out, sizeof out), 0);
  EXPECT_STREQ(out, "-9223372036854775808");
  EXPECT_EQ(FormatBigintText(-5, out, 1), 2112);
  EXPECT_EQ(FormatBigintText(-5, out, 3), 0);
  EXPECT_STREQ(out, "-5");
}

TEST(ValueText, BigintAndDoubleConversions) {
  double d = 0;
  UnsignedBigintToDouble(std::numeric_limits<uint64_t>::max(), &d);
  EXPECT_DOUBLE_EQ(d, 18446744073709551616.0);
  int64_t v = 0;
  DoubleToBigint(-2.9, &v);
  EXPECT_EQ(v, -2);
  DoubleToBigint(1e300, &v);
  EXPECT_EQ(v, std::numeric_limits<int64_t>::max());
  DoubleToBigint(std::nan(""), &v);
  EXPECT_EQ(v, 0);
}

TEST(ValueText, CopyOutString) {
  struct Case {
    const char* text;
    SQLSMALLINT buffer;
    int code;
    const char* copied;  // null: the buffer is left alone
  } cases[] = {
      {"abcdef", 4, 2102, "abc"}, {"abcdef", 7, 0, "abcdef"}, {"abcdef", 6, 2102, "abcde"},
      // A negative length is refused: neither the buffer nor the length is written.
      {"abcdef", 0, 2102, nullptr}, {"abcdef", -1, 2199, nullptr}, {"", 1, 0, ""},
  };
  for (const Case& c : cases) {
    char out[16];
    std::memset(out, '#', sizeof out);
    SQLSMALLINT length = -7;
    EXPECT_EQ(CopyOutString(out, c.buffer, &length, c.text), c.code) << c.text << " " << c.buffer;
    EXPECT_EQ(length, c.code == 2199 ? -7 : static_cast<SQLSMALLINT>(std::strlen(c.text)));
    if (c.copied != nullptr) { EXPECT_STREQ(out, c.copied); } else { EXPECT_EQ(out[0], '#'); }
  }
  SQLSMALLINT length = 0;
  EXPECT_EQ(CopyOutString(nullptr, 0, &length, "abc"), 0);
  EXPECT_EQ(length, 3);
  SQLINTEGER longLength = 0;
  char out[4];
  EXPECT_EQ(CopyOutStringLong(out, 4, &longLength, "abcdef"), 2102);
  EXPECT_STREQ(out, "abc");
  EXPECT_EQ(longLength, 6);
}

TEST(ValueText, ArgumentLength) {
  EXPECT_EQ(ArgumentLength(nullptr, SQL_NTS, 10), 0u);
  EXPECT_EQ(ArgumentLength("abc", SQL_NTS, 10), 3u);
  EXPECT_EQ(ArgumentLength("abcdef", SQL_NTS, 4), 4u);
  EXPECT_EQ(ArgumentLength("abcdef", 20, 8), 8u);
  EXPECT_EQ(ArgumentLength("abc", -5, 10), 0u);
  EXPECT_EQ(ArgumentLength("abc", 2, 10), 2u);
}

TEST(ValueText, StoredNumbersScaledAsPrintfWould) {
  struct Case {
    const char* stored;
    int scale;
    bool quick;  // false: left for printf
  };
  const Case cases[] = {
      {"    123.45", 2, true}, {"       123", 0, true}, {"  -12.5", 2, true},  {"   .5", 1, true},
      {"-.5", 3, true},       {"0", 2, true},          {"-0.00", 2, true},    {"+7", 1, true},
      {"12.345", 2, false},   {"1e5", 2, false},       {"007", 0, false},     {"   ", 2, false},
      {"-", 0, false},        {"12a", 0, false},       {"1.", 0, true},       {"", 2, false},
  };
  for (const Case& c : cases) {
    char text[40];
    std::snprintf(text, sizeof text, "%s", c.stored);
    EXPECT_EQ(ScaleDecimalText(text, sizeof text, c.scale), c.quick) << c.stored;
    if (!c.quick) {
      EXPECT_STREQ(text, c.stored) << "left alone";
      continue;
    }
    char expected[40];
    std::snprintf(expected, sizeof expected, "%.*f", c.scale, std::strtod(c.stored, nullptr));
    EXPECT_STREQ(text, expected) << c.stored;
  }
  // Zero as a full parse of the text reads it.
  for (const char* text : {"0", "  0.00", "-0", "   ", "", "0e5", "1e-400", "  12", "0.01", "-3", "2e1"}) {
    EXPECT_EQ(NumberTextIsZero(text, std::strlen(text)), std::strtod(text, nullptr) == 0.0) << text;
  }
  EXPECT_FALSE(NumberTextIsZero("0010", 4));
  EXPECT_TRUE(NumberTextIsZero("0010", 2));
  // The result must fit the caller's buffer with its terminator.
  char tight[8] = "1234.5";
  EXPECT_FALSE(ScaleDecimalText(tight, 7, 2));
  EXPECT_STREQ(tight, "1234.5");
  EXPECT_TRUE(ScaleDecimalText(tight, 8, 2));
  EXPECT_STREQ(tight, "1234.50");
}

}  // namespace
}  // namespace kivodbc
