// Column value conversion: the matrix as a table of cases, partial reads and
// the NULL value.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "data/convert.h"
#include "kivwin/win.h"
#include "value_builders.h"

namespace kivodbc {
namespace {

std::string Text(const char* text) { return std::string(text, std::strlen(text) + 1); }

constexpr SQLLEN kUnset = -999;
constexpr unsigned char kFill = 0xCC;

struct Case {
  const char* name;
  int16_t sourceType;
  bool isUnsigned;
  std::string source;  // the stored value's bytes
  SQLLEN sourceLength;
  int16_t targetType;
  SQLLEN targetLength;
  int code;
  std::string expected;  // bytes written from the start of the buffer; empty: none
  SQLLEN indicator;      // kUnset: left alone
};

const std::vector<Case>& Cases() {
  static const std::vector<Case> cases = {
      // Character source.
      {"text to char", SQL_VARCHAR, false, "hello", 5, SQL_C_CHAR, 10, 0, Text("hello"), 5},
      {"nts text to char", SQL_CHAR, false, Text("abc"), SQL_NTS, SQL_C_CHAR, 10, 0, Text("abc"), 3},
      {"text cut", SQL_CHAR, false, "abcdef", 6, SQL_C_CHAR, 4, 2102, Text("abc"), 6},
      {"text exactly fills", SQL_CHAR, false, "abc", 3, SQL_C_CHAR, 4, 0, Text("abc"), 3},
      {"text into zero length", SQL_CHAR, false, "abc", 3, SQL_C_CHAR, 0, 2102, "", 3},
      {"text into negative length", SQL_CHAR, false, "abc", 3, SQL_C_CHAR, -5, 2102, "", 3},
      {"text default", SQL_LONGVARCHAR, false, "xy", 2, SQL_C_DEFAULT, 10, 0, Text("xy"), 2},
      {"text to binary", SQL_CHAR, false, "abcdef", 6, SQL_C_BINARY, 4, 2102, "abcd", 6},
      {"text to binary fits", SQL_CHAR, false, "abcd", 4, SQL_C_BINARY, 4, 0, "abcd", 4},
      {"text 12.5 to long", SQL_CHAR, false, "12.5", 4, SQL_C_LONG, 0, 2102, Bytes(int32_t{12}), 4},
      {"text 12.0 to long", SQL_CHAR, false, "12.0", 4, SQL_C_LONG, 0, 0, Bytes(int32_t{12}), 4},
      {"text 1e3 to long", SQL_CHAR, false, "1e3", 3, SQL_C_SLONG, 0, 0, Bytes(int32_t{1000}), 4},
      {"text abc to long", SQL_CHAR, false, "abc", 3, SQL_C_LONG, 0, 2112, "", kUnset},
      {"text three thousand million", SQL_CHAR, false, "3000000000", 10, SQL_C_LONG, 0, 2111, "", kUnset},
      {"text -1 to ulong", SQL_CHAR, false, "-1", 2, SQL_C_ULONG, 0, 2111, "", kUnset},
      {"text 4294967295 to ulong", SQL_CHAR, false, "4294967295", 10, SQL_C_ULONG, 0, 0,
       Bytes(uint32_t{4294967295u}), 4},
      {"text -32768 to short", SQL_CHAR, false, "-32768", 6, SQL_C_SHORT, 0, 0, Bytes(int16_t{-32768}), 2},
      {"text 32768 to short", SQL_CHAR, false, "32768", 5, SQL_C_SSHORT, 0, 2111, "", kUnset},
      {"text 65535 to ushort", SQL_CHAR, false, "65535", 5, SQL_C_USHORT, 0, 0, Bytes(uint16_t{65535}), 2},
      {"text 256 to utinyint", SQL_CHAR, false, "256", 3, SQL_C_UTINYINT, 0, 2111, "", kUnset},
      {"text -128 to tinyint", SQL_CHAR, false, "-128", 4, SQL_C_STINYINT, 0, 0, Bytes(int8_t{-128}), 1},
      {"text 2 to bit", SQL_CHAR, false, "2", 1, SQL_C_BIT, 0, 2111, "", kUnset},
      {"text 1 to bit", SQL_CHAR, false, "1", 1, SQL_C_BIT, 0, 0, Bytes(uint8_t{1}), 1},
      {"text to double keeps fraction", SQL_CHAR, false, "2.5", 3, SQL_C_DOUBLE, 0, 0, Bytes(2.5), 8},
      {"text to float", SQL_CHAR, false, "0.5", 3, SQL_C_FLOAT, 0, 0, Bytes(0.5f), 4},
      {"text 1e39 to float", SQL_CHAR, false, "1e39", 4, SQL_C_FLOAT, 0, 2111, "", kUnset},
      {"text to sbigint", SQL_CHAR, false, "-9223372036854775808", 20, SQL_C_SBIGINT, 0, 0,
       Bytes(INT64_MIN), 8},
      {"text past sbigint", SQL_CHAR, false, "9223372036854775808", 19, SQL_C_SBIGINT, 0, 2111, "", kUnset},
      {"text to ubigint", SQL_CHAR, false, "18446744073709551615", 20, SQL_C_UBIGINT, 0, 0, Bytes(UINT64_MAX), 8},
      {"text past ubigint does not wrap", SQL_CHAR, false, "18446744073709551619", 20, SQL_C_UBIGINT, 0, 2111, "",
       kUnset},
      {"text far past ubigint", SQL_CHAR, false, "184467440737095516190", 21, SQL_C_UBIGINT, 0, 2111, "", kUnset},
      {"text ubigint fraction", SQL_CHAR, false, "7.5", 3, SQL_C_UBIGINT, 0, 2102, Bytes(uint64_t{7}), 8},
      {"text to numeric", SQL_CHAR, false, "-12.34", 6, SQL_C_NUMERIC, 0, 0, Bytes(Numeric(4, 2, false, 1234)),
       19},
      {"text to date", SQL_CHAR, false, "1999-12-31", 10, SQL_C_TYPE_DATE, 0, 0, Bytes(Date(1999, 12, 31)), 6},
      {"bad date", SQL_CHAR, false, "1999-13-31", 10, SQL_C_DATE, 0, 2109, "", kUnset},
      {"text to time", SQL_CHAR, false, "10:20:30", 8, SQL_C_TIME, 0, 0, Bytes(Time(10, 20, 30)), 6},
      {"text to timestamp", SQL_CHAR, false, "2001-02-03 04:05:06", 19, SQL_C_TYPE_TIMESTAMP, 0, 0,
       Bytes(Stamp(2001, 2, 3, 4, 5, 6, 0)), 16},
      {"text to unknown c type", SQL_CHAR, false, "1", 1, 1234, 10, 2109, "", kUnset},
      // 32-bit integers.
      {"long to char", SQL_INTEGER, false, Bytes(int32_t{-42}), 4, SQL_C_CHAR, 10, 0, Text("-42"), 3},
      {"unsigned long to char", SQL_INTEGER, true, Bytes(uint32_t{4294967295u}), 4, SQL_C_CHAR, 20, 0,
       Text("4294967295"), 10},
      {"long digits do not fit", SQL_INTEGER, false, Bytes(int32_t{12345}), 4, SQL_C_CHAR, 5, 2111, "", kUnset},
      {"long just fits", SQL_INTEGER, false, Bytes(int32_t{12345}), 4, SQL_C_CHAR, 6, 0, Text("12345"), 5},
      {"long into zero length", SQL_INTEGER, false, Bytes(int32_t{12345}), 4, SQL_C_CHAR, 0, 2102, "", 5},
      {"unsigned max to slong", SQL_INTEGER, true, Bytes(uint32_t{4294967295u}), 4, SQL_C_SLONG, 0, 2111, "",
       kUnset},
      {"unsigned max to ulong", SQL_INTEGER, true, Bytes(uint32_t{4294967295u}), 4, SQL_C_ULONG, 0, 0,
       Bytes(uint32_t{4294967295u}), 4},
      {"negative to ulong", SQL_INTEGER, false, Bytes(int32_t{-1}), 4, SQL_C_ULONG, 0, 2111, "", kUnset},
      {"long to short range", SQL_INTEGER, false, Bytes(int32_t{40000}), 4, SQL_C_SHORT, 0, 2111, "", kUnset},
      {"long to short", SQL_INTEGER, false, Bytes(int32_t{-300}), 4, SQL_C_SHORT, 0, 0, Bytes(int16_t{-300}), 2},
      {"long to ushort", SQL_INTEGER, false, Bytes(int32_t{65535}), 4, SQL_C_USHORT, 0, 0,
       Bytes(uint16_t{65535}), 2},
      {"long to tinyint", SQL_INTEGER, false, Bytes(int32_t{128}), 4, SQL_C_TINYINT, 0, 2111, "", kUnset},
      {"long to bit", SQL_INTEGER, false, Bytes(int32_t{1}), 4, SQL_C_BIT, 0, 0, Bytes(uint8_t{1}), 1},
      {"long 2 to bit", SQL_INTEGER, false, Bytes(int32_t{2}), 4, SQL_C_BIT, 0, 2111, "", kUnset},
      {"long to double", SQL_INTEGER, true, Bytes(uint32_t{3000000000u}), 4, SQL_C_DOUBLE, 0, 0,
       Bytes(3000000000.0), 8},
      {"long to float", SQL_INTEGER, false, Bytes(int32_t{-7}), 4, SQL_C_FLOAT, 0, 0, Bytes(-7.0f), 4},
      {"long to sbigint", SQL_INTEGER, false, Bytes(int32_t{-7}), 4, SQL_C_SBIGINT, 0, 0, Bytes(int64_t{-7}), 8},
      {"negative long to ubigint", SQL_INTEGER, false, Bytes(int32_t{-7}), 4, SQL_C_UBIGINT, 0, 2111, "", kUnset},
      {"long to numeric", SQL_INTEGER, false, Bytes(int32_t{-25}), 4, SQL_C_NUMERIC, 0, 0,
       Bytes(Numeric(2, 0, false, 25)), 19},
      {"long to date", SQL_INTEGER, false, Bytes(int32_t{1}), 4, SQL_C_DATE, 0, 2109, "", kUnset},
      {"long to binary", SQL_INTEGER, false, Bytes(int32_t{0x01020304}), 4, SQL_C_BINARY, 4, 0,
       Bytes(int32_t{0x01020304}), 4},
      {"long into small binary", SQL_INTEGER, false, Bytes(int32_t{1}), 4, SQL_C_BINARY, 3, 2111, "", kUnset},
      {"long default", SQL_INTEGER, false, Bytes(int32_t{77}), 4, SQL_C_DEFAULT, 4, 0, Bytes(int32_t{77}), 4},
      {"long default no room", SQL_INTEGER, false, Bytes(int32_t{77}), 4, SQL_C_DEFAULT, 0, 2111, "", kUnset},
      // 16-bit integers.
      {"short to char", SQL_SMALLINT, false, Bytes(int16_t{-5}), 2, SQL_C_CHAR, 10, 0, Text("-5"), 2},
      {"unsigned short to char", SQL_SMALLINT, true, Bytes(uint16_t{65535}), 2, SQL_C_CHAR, 10, 0, Text("65535"),
       5},
      {"unsigned short to sshort", SQL_SMALLINT, true, Bytes(uint16_t{40000}), 2, SQL_C_SSHORT, 0, 2111, "",
       kUnset},
      {"signed short widened", SQL_SMALLINT, false, Bytes(int16_t{-2}), 2, SQL_C_LONG, 0, 0, Bytes(int32_t{-2}), 4},
      {"unsigned short widened", SQL_SMALLINT, true, Bytes(uint16_t{65534}), 2, SQL_C_LONG, 0, 0,
       Bytes(int32_t{65534}), 4},
      {"short to binary", SQL_SMALLINT, false, Bytes(int16_t{9}), 2, SQL_C_BINARY, 8, 0, Bytes(int16_t{9}), 2},
      // Tiny integers and bits.
      {"tinyint signed to char", SQL_TINYINT, false, Bytes(int8_t{-1}), 1, SQL_C_CHAR, 10, 0, Text("-1"), 2},
      {"tinyint unsigned to char", SQL_TINYINT, true, Bytes(uint8_t{255}), 1, SQL_C_CHAR, 10, 0, Text("255"), 3},
      {"tinyint unsigned to stinyint", SQL_TINYINT, true, Bytes(uint8_t{200}), 1, SQL_C_STINYINT, 0, 2111, "",
       kUnset},
      {"tinyint negative to utinyint", SQL_TINYINT, false, Bytes(int8_t{-3}), 1, SQL_C_UTINYINT, 0, 2111, "",
       kUnset},
      {"tinyint 5 to bit", SQL_TINYINT, false, Bytes(int8_t{5}), 1, SQL_C_BIT, 0, 2111, "", kUnset},
      {"tinyint default", SQL_TINYINT, false, Bytes(int8_t{-3}), 1, SQL_C_DEFAULT, 1, 0, Bytes(int8_t{-3}), 1},
      {"bit to char", SQL_BIT, false, Bytes(uint8_t{7}), 1, SQL_C_CHAR, 10, 0, Text("1"), 1},
      {"bit to long", SQL_BIT, false, Bytes(uint8_t{1}), 1, SQL_C_LONG, 0, 0, Bytes(int32_t{1}), 4},
      {"bit to double", SQL_BIT, false, Bytes(uint8_t{0}), 1, SQL_C_DOUBLE, 0, 0, Bytes(0.0), 8},
      {"bit to binary", SQL_BIT, false, Bytes(uint8_t{9}), 1, SQL_C_BINARY, 1, 0, Bytes(uint8_t{1}), 1},
      {"bit to time", SQL_BIT, false, Bytes(uint8_t{1}), 1, SQL_C_TIME, 0, 2109, "", kUnset},
      // Floating sources.
      {"double to char", SQL_DOUBLE, false, Bytes(12.5), 8, SQL_C_CHAR, 20, 0, Text("12.5"), 4},
      {"double exponent when plain does not fit", SQL_DOUBLE, false, Bytes(1e20), 8, SQL_C_CHAR, 16, 0,
       Text("1.000000E+20"), 12},
      {"double fraction cut", SQL_DOUBLE, false, Bytes(3.141593), 8, SQL_C_CHAR, 5, 2102, Text("3.14"), 8},
      {"double integer digits do not fit", SQL_DOUBLE, false, Bytes(12345.5), 8, SQL_C_CHAR, 4, 2111, "", kUnset},
      {"double into zero length", SQL_DOUBLE, false, Bytes(12.5), 8, SQL_C_CHAR, 0, 2102, "", 4},
      {"double to long truncates", SQL_DOUBLE, false, Bytes(-12.7), 8, SQL_C_LONG, 0, 2102, Bytes(int32_t{-12}), 4},
      {"double whole to long", SQL_FLOAT, false, Bytes(12.0), 8, SQL_C_LONG, 0, 0, Bytes(int32_t{12}), 4},
      {"double to long range", SQL_DOUBLE, false, Bytes(3e9), 8, SQL_C_LONG, 0, 2111, "", kUnset},
      {"double to ulong", SQL_DOUBLE, false, Bytes(3e9), 8, SQL_C_ULONG, 0, 0, Bytes(uint32_t{3000000000u}), 4},
      {"double to sbigint", SQL_DOUBLE, false, Bytes(-1e18), 8, SQL_C_SBIGINT, 0, 0,
       Bytes(int64_t{-1000000000000000000}), 8},
      {"double past sbigint", SQL_DOUBLE, false, Bytes(1e19), 8, SQL_C_SBIGINT, 0, 2111, "", kUnset},
      {"double to ubigint", SQL_DOUBLE, false, Bytes(1e19), 8, SQL_C_UBIGINT, 0, 0,
       Bytes(uint64_t{10000000000000000000u}), 8},
      {"double past ubigint", SQL_DOUBLE, false, Bytes(2e19), 8, SQL_C_UBIGINT, 0, 2111, "", kUnset},
      {"double to float range", SQL_DOUBLE, false, Bytes(1e39), 8, SQL_C_FLOAT, 0, 2111, "", kUnset},
      {"double to float", SQL_DOUBLE, false, Bytes(0.25), 8, SQL_C_FLOAT, 0, 0, Bytes(0.25f), 4},
      {"real to double", SQL_REAL, false, Bytes(0.5f), 4, SQL_C_DOUBLE, 0, 0, Bytes(0.5), 8},
      {"real to binary", SQL_REAL, false, Bytes(0.5f), 4, SQL_C_BINARY, 4, 0, Bytes(0.5f), 4},
      {"double to binary no room", SQL_DOUBLE, false, Bytes(0.5), 8, SQL_C_BINARY, 4, 2111, "", kUnset},
      {"double to numeric", SQL_DOUBLE, false, Bytes(1.5), 8, SQL_C_NUMERIC, 0, 0,
       Bytes(Numeric(7, 6, true, 1500000)), 19},
      {"double to date", SQL_DOUBLE, false, Bytes(1.5), 8, SQL_C_DATE, 0, 2109, "", kUnset},
      // Dates, times, timestamps.
      {"date to char", SQL_TYPE_DATE, false, Bytes(Date(2024, 2, 29)), 6, SQL_C_CHAR, 11, 0, Text("2024-02-29"),
       10},
      {"date to char cut", SQL_DATE, false, Bytes(Date(2024, 2, 29)), 6, SQL_C_CHAR, 5, 2102, Text("2024"), 10},
      {"date to date", SQL_DATE, false, Bytes(Date(2024, 2, 29)), 6, SQL_C_TYPE_DATE, 0, 0,
       Bytes(Date(2024, 2, 29)), 6},
      {"date to timestamp", SQL_DATE, false, Bytes(Date(2024, 2, 29)), 6, SQL_C_TIMESTAMP, 0, 0,
       Bytes(Stamp(2024, 2, 29, 0, 0, 0, 0)), 16},
      {"date to time", SQL_DATE, false, Bytes(Date(2024, 2, 29)), 6, SQL_C_TIME, 0, 2109, "", kUnset},
      {"date to long", SQL_DATE, false, Bytes(Date(2024, 2, 29)), 6, SQL_C_LONG, 0, 2109, "", kUnset},
      {"date out of range as text", SQL_DATE, false, Bytes(Date(12000, 1, 1)), 6, SQL_C_CHAR, 20, 2111, "", kUnset},
      {"time to char", SQL_TYPE_TIME, false, Bytes(Time(7, 8, 9)), 6, SQL_C_CHAR, 20, 0, Text("07:08:09"), 8},
      {"time to time", SQL_TIME, false, Bytes(Time(7, 8, 9)), 6, SQL_C_TYPE_TIME, 0, 0, Bytes(Time(7, 8, 9)), 6},
      {"time to date", SQL_TIME, false, Bytes(Time(7, 8, 9)), 6, SQL_C_DATE, 0, 2109, "", kUnset},
      {"time default", SQL_TIME, false, Bytes(Time(7, 8, 9)), 6, SQL_C_DEFAULT, 6, 0, Bytes(Time(7, 8, 9)), 6},
      {"time default no room", SQL_TIME, false, Bytes(Time(7, 8, 9)), 6, SQL_C_DEFAULT, 5, 2111, "", kUnset},
      {"timestamp to char", SQL_TIMESTAMP, false, Bytes(Stamp(2001, 2, 3, 4, 5, 6, 789000000)), 16, SQL_C_CHAR, 40,
       0, Text("2001-02-03 04:05:06.789"), 23},
      {"timestamp to date", SQL_TYPE_TIMESTAMP, false, Bytes(Stamp(2001, 2, 3, 4, 5, 6, 7)), 16, SQL_C_TYPE_DATE,
       0, 0, Bytes(Date(2001, 2, 3)), 6},
      {"timestamp to time drops fraction", SQL_TIMESTAMP, false, Bytes(Stamp(2001, 2, 3, 4, 5, 6, 7)), 16,
       SQL_C_TIME, 0, 0, Bytes(Time(4, 5, 6)), 6},
      {"timestamp to timestamp", SQL_TIMESTAMP, false, Bytes(Stamp(2001, 2, 3, 4, 5, 6, 7)), 16, SQL_C_TIMESTAMP, 0,
       0, Bytes(Stamp(2001, 2, 3, 4, 5, 6, 7)), 16},
      {"timestamp to binary no room", SQL_TIMESTAMP, false, Bytes(Stamp(2001, 2, 3, 4, 5, 6, 7)), 16, SQL_C_BINARY,
       15, 2111, "", kUnset},
      {"timestamp to double", SQL_TIMESTAMP, false, Bytes(Stamp(2001, 2, 3, 4, 5, 6, 7)), 16, SQL_C_DOUBLE, 0,
       2109, "", kUnset},
      // Binary source.
      {"binary as hex", SQL_BINARY, false, "\x0A\xFF", 2, SQL_C_CHAR, 10, 0, Text("0AFF"), 4},
      {"binary as hex cut", SQL_VARBINARY, false, "\x0A\xFF", 2, SQL_C_CHAR, 4, 2102, Text("0AF"), 4},
      {"binary as hex into zero", SQL_VARBINARY, false, "\x0A\xFF", 2, SQL_C_CHAR, 0, 2102, "", 4},
      {"binary to binary", SQL_LONGVARBINARY, false, std::string("\x00\x01\x02", 3), 3, SQL_C_BINARY, 8, 0,
       std::string("\x00\x01\x02", 3), 3},
      {"binary to binary cut", SQL_BINARY, false, "\x01\x02\x03", 3, SQL_C_DEFAULT, 2, 2102, "\x01\x02", 3},
      {"binary to long", SQL_BINARY, false, Bytes(int32_t{-9}), 4, SQL_C_LONG, 0, 0, Bytes(int32_t{-9}), 4},
      {"short binary to long", SQL_BINARY, false, "\x01\x02", 2, SQL_C_LONG, 0, 2111, "", kUnset},
      {"binary to timestamp", SQL_BINARY, false, Bytes(Stamp(2001, 2, 3, 4, 5, 6, 7)), 16, SQL_C_TIMESTAMP, 0, 0,
       Bytes(Stamp(2001, 2, 3, 4, 5, 6, 7)), 16},
      {"short binary to timestamp", SQL_BINARY, false, Bytes(Date(2001, 2, 3)), 6, SQL_C_TIMESTAMP, 0, 2111, "",
       kUnset},
      {"binary to date", SQL_BINARY, false, Bytes(Date(2001, 2, 3)), 6, SQL_C_DATE, 0, 0, Bytes(Date(2001, 2, 3)),
       6},
      {"binary to numeric", SQL_BINARY, false, Bytes(Numeric(3, 1, true, 123)), 19, SQL_C_NUMERIC, 0, 0,
       Bytes(Numeric(3, 1, true, 123)), 19},
      // Source types the driver does not hold.
      {"numeric source", SQL_NUMERIC, false, "1", 1, SQL_C_CHAR, 10, 2110, "", kUnset},
      {"bigint source", SQL_BIGINT, false, Bytes(int64_t{1}), 8, SQL_C_SBIGINT, 0, 2110, "", kUnset},
      // NULL.
      {"null char", SQL_CHAR, false, "x", SQL_NULL_DATA, SQL_C_CHAR, 4, 0, Text(""), SQL_NULL_DATA},
      {"null char no room", SQL_CHAR, false, "x", SQL_NULL_DATA, SQL_C_CHAR, 0, 0, "", SQL_NULL_DATA},
      {"null long", SQL_INTEGER, false, Bytes(int32_t{5}), SQL_NULL_DATA, SQL_C_LONG, 0, 0, Bytes(int32_t{0}),
       SQL_NULL_DATA},
      {"null numeric", SQL_DOUBLE, false, Bytes(5.0), SQL_NULL_DATA, SQL_C_NUMERIC, 0, 0,
       Bytes(Numeric(1, 0, true, 0)), SQL_NULL_DATA},
      {"null timestamp default", SQL_TIMESTAMP, false, Bytes(Stamp(2001, 2, 3, 4, 5, 6, 7)), SQL_NULL_DATA,
       SQL_C_DEFAULT, 0, 0, std::string(16, '\0'), SQL_NULL_DATA},
      {"null binary", SQL_BINARY, false, "\x01", SQL_NULL_DATA, SQL_C_BINARY, 4, 0, "", SQL_NULL_DATA},
      {"null default of unknown type", SQL_GUID, false, "", SQL_NULL_DATA, SQL_C_DEFAULT, 4, 2110, "",
       SQL_NULL_DATA},
      {"null to unknown c type", SQL_CHAR, false, "", SQL_NULL_DATA, 1234, 4, 2109, "", SQL_NULL_DATA},
  };
  return cases;
}

TEST(ConvertColumnValue, MatrixCases) {
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.name);
    unsigned char buffer[64];
    std::memset(buffer, kFill, sizeof buffer);
    SQLLEN indicator = kUnset;
    SQLLEN offset = 0;
    const int code = ConvertColumnValue(c.sourceType, c.isUnsigned, c.source.data(), c.sourceLength, &offset,
                                        c.targetType, buffer, c.targetLength, &indicator);
    EXPECT_EQ(code, c.code);
    EXPECT_EQ(indicator, c.indicator);
    ASSERT_LT(c.expected.size(), sizeof buffer);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer), c.expected.size()), c.expected);
    // Nothing beyond what is expected is written.
    EXPECT_EQ(buffer[c.expected.size()], kFill);
  }
}

// Every case also runs without a target: nothing is stored, the same code
// and indicator come back (a NULL zero value needs a target to be written).
TEST(ConvertColumnValue, NullTargetStoresNothing) {
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.name);
    SQLLEN indicator = kUnset;
    const int code = ConvertColumnValue(c.sourceType, c.isUnsigned, c.source.data(), c.sourceLength, nullptr,
                                        c.targetType, nullptr, c.targetLength, &indicator);
    if (c.sourceLength == SQL_NULL_DATA) {
      EXPECT_EQ(code, 0);
      EXPECT_EQ(indicator, SQL_NULL_DATA);
      continue;
    }
    if (c.code == 2109 || c.code == 2110 || c.code == 2112) {
      EXPECT_EQ(code, c.code);
    }
    // A text target's length then is the whole text's.
    if (c.code == 0 && c.targetType != SQL_C_CHAR) {
      EXPECT_EQ(indicator, c.indicator);
    }
  }
}

struct Read {
  const char* piece;
  SQLLEN indicator;
  int code;
};

// Reads one value as text through a 4-byte buffer, call after call.
void ExpectTextReads(int16_t sourceType, const char* bytes, SQLLEN length, const std::vector<Read>& reads) {
  SQLLEN offset = 0;
  for (const Read& r : reads) {
    SCOPED_TRACE(r.piece);
    char buffer[4];
    SQLLEN indicator = kUnset;
    EXPECT_EQ(ConvertColumnValue(sourceType, false, bytes, length, &offset, SQL_C_CHAR, buffer, sizeof buffer,
                                 &indicator),
              r.code);
    EXPECT_STREQ(buffer, r.piece);
    EXPECT_EQ(indicator, r.indicator);
  }
}

TEST(ConvertColumnValue, PartialReadsOfText) {
  ExpectTextReads(SQL_CHAR, "abcdefghij", 10,
                  {{"abc", 10, 2102}, {"def", 7, 2102}, {"ghi", 4, 2102}, {"j", 1, 0}, {"", 0, 0}});
}

TEST(ConvertColumnValue, PartialReadsOfHexResumeMidByte) {
  ExpectTextReads(SQL_BINARY, "\x12\x34\xAB", 3, {{"123", 6, 2102}, {"4AB", 3, 0}});
}

TEST(ConvertColumnValue, WideTextIsTheTextInTwoByteUnitsReadInPieces) {
  struct Case {
    int16_t sourceType;
    const void* source;
    SQLLEN length;
    const char* text;
  };
  const double number = 2.5;
  const int32_t whole = -42;
  const DATE_STRUCT day{2024, 2, 29};
  const Case cases[] = {{SQL_CHAR, "-3.14", 5, "-3.14"},
                        {SQL_CHAR, "caf\xE9", 4, "caf\xE9"},
                        {SQL_CHAR, "\x80\x9F\xFF", 3, "\x80\x9F\xFF"},
                        {SQL_DOUBLE, &number, 8, "2.5"},
                        {SQL_INTEGER, &whole, 4, "-42"},
                        {SQL_TYPE_DATE, &day, 6, "2024-02-29"},
                        {SQL_BINARY, "\x12\xAB", 2, "12AB"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    SQLWCHAR buffer[16];
    SQLLEN indicator = kUnset;
    ASSERT_EQ(ConvertColumnValue(c.sourceType, false, c.source, c.length, nullptr, SQL_C_WCHAR, buffer, sizeof buffer,
                                 &indicator),
              0);
    const size_t n = std::strlen(c.text);
    EXPECT_EQ(indicator, static_cast<SQLLEN>(n * sizeof(SQLWCHAR)));
    for (size_t i = 0; i <= n; ++i)
      EXPECT_EQ(buffer[i], kivwin::AnsiToUnicode(static_cast<unsigned char>(c.text[i]))) << i;
  }
  // The driver's texts are Windows-1252: the euro sign and the typographic
  // quotes are their own characters, not the control codes of the same numbers.
  SQLWCHAR quoted[8];
  SQLLEN quotedLength = kUnset;
  ASSERT_EQ(ConvertColumnValue(SQL_CHAR, false, "\x80\x93\x94\xE9", 4, nullptr, SQL_C_WCHAR, quoted, sizeof quoted,
                               &quotedLength),
            0);
  EXPECT_EQ(quotedLength, 8);
  EXPECT_EQ(std::u16string(quoted, quoted + 4), u"\u20AC\u201C\u201D\u00E9");
  // Through a buffer of three units: two characters and the terminator a call.
  SQLLEN offset = 0;
  const std::vector<std::pair<SQLLEN, int>> reads = {{10, 2102}, {6, 2102}, {2, 0}};
  std::string got;
  for (const auto& [indicator, code] : reads) {
    SQLWCHAR buffer[3];
    SQLLEN seen = kUnset;
    EXPECT_EQ(ConvertColumnValue(SQL_CHAR, false, "hello", 5, &offset, SQL_C_WCHAR, buffer, sizeof buffer, &seen), code);
    EXPECT_EQ(seen, indicator);
    for (size_t i = 0; i < 3 && buffer[i] != 0; ++i) got += static_cast<char>(buffer[i]);
  }
  EXPECT_EQ(got, "hello");
  SQLWCHAR buffer[3];
  SQLLEN seen = kUnset;
  EXPECT_EQ(ConvertColumnValue(SQL_CHAR, false, "hello", 5, &offset, SQL_C_WCHAR, buffer, sizeof buffer, &seen), 0);
  EXPECT_EQ(seen, 0);
  // A null reads as an empty wide string with its indicator.
  buffer[0] = 'x';
  EXPECT_EQ(ConvertColumnValue(SQL_CHAR, false, nullptr, SQL_NULL_DATA, nullptr, SQL_C_WCHAR, buffer, sizeof buffer,
                               &seen),
            0);
  EXPECT_EQ(seen, SQL_NULL_DATA);
  EXPECT_EQ(buffer[0], 0);
}

TEST(ConvertColumnValue, PartialReadsOfBinary) {
  const char bytes[] = "\x01\x02\x03\x04\x05";
  SQLLEN offset = 0;
  unsigned char buffer[2];
  SQLLEN indicator = kUnset;
  EXPECT_EQ(ConvertColumnValue(SQL_VARBINARY, false, bytes, 5, &offset, SQL_C_BINARY, buffer, 2, &indicator), 2102);
  EXPECT_EQ(indicator, 5);
  EXPECT_EQ(ConvertColumnValue(SQL_VARBINARY, false, bytes, 5, &offset, SQL_C_BINARY, buffer, 2, &indicator), 2102);
  EXPECT_EQ(indicator, 3);
  EXPECT_EQ(buffer[0], 3);
  EXPECT_EQ(ConvertColumnValue(SQL_VARBINARY, false, bytes, 5, &offset, SQL_C_BINARY, buffer, 2, &indicator), 0);
  EXPECT_EQ(indicator, 1);
  EXPECT_EQ(buffer[0], 5);
  EXPECT_EQ(offset, 5);
}

// A number's text is whole or not at all: a second read finds nothing left.
TEST(ConvertColumnValue, NumberTextIsReadOnce) {
  const int32_t value = 123;
  SQLLEN offset = 0;
  char buffer[8];
  SQLLEN indicator = kUnset;
  EXPECT_EQ(ConvertColumnValue(SQL_INTEGER, false, &value, 4, &offset, SQL_C_CHAR, buffer, 8, &indicator), 0);
  EXPECT_STREQ(buffer, "123");
  EXPECT_EQ(ConvertColumnValue(SQL_INTEGER, false, &value, 4, &offset, SQL_C_CHAR, buffer, 2, &indicator), 0);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(indicator, 0);
}

TEST(ConvertColumnValue, TimeAsTimestampCarriesToday) {
  const TIME_STRUCT time = Time(13, 14, 15);
  for (int attempt = 0; attempt < 2; ++attempt) {
    const DATE_STRUCT before = TodayLocalDate();
    TIMESTAMP_STRUCT stamp{};
    SQLLEN indicator = kUnset;
    ASSERT_EQ(ConvertColumnValue(SQL_TIME, false, &time, 6, nullptr, SQL_C_TYPE_TIMESTAMP, &stamp, 0, &indicator), 0);
    const DATE_STRUCT after = TodayLocalDate();
    if (std::memcmp(&before, &after, sizeof before) != 0) continue;  // midnight passed
    EXPECT_EQ(stamp.year, before.year);
    EXPECT_EQ(stamp.month, before.month);
    EXPECT_EQ(stamp.day, before.day);
    EXPECT_EQ(stamp.hour, 13);
    EXPECT_EQ(stamp.minute, 14);
    EXPECT_EQ(stamp.second, 15);
    EXPECT_EQ(stamp.fraction, 0u);
    EXPECT_EQ(indicator, 16);
    return;
  }
}

TEST(ConvertColumnValue, NullNeedsAnIndicator) {
  int32_t target = 5;
  EXPECT_EQ(ConvertColumnValue(SQL_INTEGER, false, nullptr, SQL_NULL_DATA, nullptr, SQL_C_LONG, &target, 0, nullptr),
            2186);
  EXPECT_EQ(target, 5);
}

TEST(ConvertColumnValue, MissingValueOnlySetsTheIndicator) {
  int32_t target = 5;
  SQLLEN indicator = kUnset;
  EXPECT_EQ(ConvertColumnValue(SQL_INTEGER, false, nullptr, 4, nullptr, SQL_C_LONG, &target, 0, &indicator), 0);
  EXPECT_EQ(target, 5);
  EXPECT_EQ(indicator, 4);
}

TEST(ConvertColumnValue, DefaultCTypes) {
  const struct {
    int16_t sqlType;
    int16_t cType;
  } rows[] = {{SQL_CHAR, SQL_C_CHAR},          {SQL_LONGVARCHAR, SQL_C_CHAR},   {SQL_NUMERIC, SQL_C_NUMERIC},
              {SQL_DECIMAL, SQL_C_NUMERIC},    {SQL_INTEGER, SQL_C_LONG},       {SQL_SMALLINT, SQL_C_SHORT},
              {SQL_FLOAT, SQL_C_DOUBLE},       {SQL_DOUBLE, SQL_C_DOUBLE},      {SQL_REAL, SQL_C_FLOAT},
              {SQL_DATE, SQL_C_DATE},          {SQL_TYPE_TIME, SQL_C_TYPE_TIME}, {SQL_BIT, SQL_C_BIT},
              {SQL_TINYINT, SQL_C_TINYINT},    {SQL_BIGINT, SQL_C_SBIGINT},     {SQL_VARBINARY, SQL_C_BINARY},
              {0, 0},                          {SQL_GUID, 0}};
  for (const auto& r : rows) EXPECT_EQ(DefaultCTypeOf(r.sqlType), r.cType) << r.sqlType;
}

}  // namespace
}  // namespace kivodbc
