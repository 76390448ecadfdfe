// Parameter value conversion: a table of cases per value type, SQLPutData
// pieces, NULL and SQL_DEFAULT_PARAM.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "data/convert.h"
#include "sql/paramconvert.h"
#include "value_builders.h"

namespace kivodbc {
namespace {

// A parameter node's value, zero-filled like the node, released at the end.
struct Param {
  std::unique_ptr<ParameterValue> value = std::make_unique<ParameterValue>();
  Param(int16_t valueType, int16_t sqlType, int32_t capacity = 0, int16_t scale = 0) {
    std::memset(value.get(), 0, sizeof *value);
    value->valueType = valueType;
    value->sqlType = sqlType;
    value->textCapacity = capacity;
    value->scale = scale;
  }
  ~Param() { ReleaseParameterValue(value.get()); }
  ParameterValue* operator->() { return value.get(); }
  std::string Text() const { return ParameterBuffer(value.get()); }
  std::string Binary() const {
    return std::string(reinterpret_cast<const char*>(ParameterBytes(value.get())), ParameterByteCount(value.get()));
  }
};

const ParameterSigns kSigned{};

// What a case stores, read back by value type.
std::string Stored(Param& p) {
  switch (p->valueType) {
    case kValueText:
    case kValueNumeric: return p.Text();
    case kValueInteger:
    case kValueDouble: return Bytes(p->number);
    case kValueDate: return Bytes(p->date);
    case kValueTime: return Bytes(p->time);
    case kValueTimestamp: return Bytes(p->timestamp);
    default: return p.Binary();
  }
}

struct Case {
  const char* name;
  int16_t valueType;
  int16_t sqlType;
  int32_t capacity;
  int16_t scale;
  int16_t cType;
  std::string value;
  SQLLEN length;
  int code;
  std::string stored;  // checked when the code is 0 or 2102
};

const std::vector<Case>& Cases() {
  static const std::vector<Case> cases = {
      // Text.
      {"text from char", kValueText, SQL_VARCHAR, 0, 0, SQL_C_CHAR, "hello", 5, 0, "hello"},
      {"text from nts", kValueText, SQL_VARCHAR, 0, 0, SQL_C_CHAR, std::string("hi\0x", 4), SQL_NTS, 0, "hi"},
      {"text from a negative length is refused", kValueText, SQL_VARCHAR, 0, 0, SQL_C_CHAR, "hi", -7, 2199, ""},
      {"binary from a negative length is refused", kValueBinary, SQL_BINARY, 0, 0, SQL_C_BINARY, "hi", -77, 2199, ""},
      {"text from binary", kValueText, SQL_CHAR, 0, 0, SQL_C_BINARY, "ab", 2, 0, "ab"},
      {"text from default", kValueText, SQL_CHAR, 0, 0, SQL_C_DEFAULT, "ab", 2, 0, "ab"},
      {"text from date", kValueText, SQL_CHAR, 0, 0, SQL_C_TYPE_DATE, Bytes(Date(1999, 12, 31)), 0, 0,
       "1999-12-31"},
      {"text from bad date", kValueText, SQL_CHAR, 0, 0, SQL_C_DATE, Bytes(Date(10000, 1, 1)), 0, 2111, ""},
      {"text from time", kValueText, SQL_CHAR, 0, 0, SQL_C_TIME, Bytes(Time(1, 2, 3)), 0, 0, "01:02:03"},
      {"text from timestamp", kValueText, SQL_CHAR, 0, 0, SQL_C_TIMESTAMP, Bytes(Stamp(2001, 2, 3, 4, 5, 6, 7000000)),
       0, 0, "2001-02-03 04:05:06.007"},
      {"text from utinyint", kValueText, SQL_CHAR, 0, 0, SQL_C_UTINYINT, Bytes(uint8_t{200}), 0, 0, "200"},
      {"text from stinyint", kValueText, SQL_CHAR, 0, 0, SQL_C_STINYINT, Bytes(int8_t{-56}), 0, 0, "-56"},
      {"text from bit", kValueText, SQL_CHAR, 0, 0, SQL_C_BIT, Bytes(uint8_t{1}), 0, 0, "1"},
      {"text from ulong", kValueText, SQL_CHAR, 0, 0, SQL_C_ULONG, Bytes(uint32_t{4294967295u}), 0, 0, "4294967295"},
      {"text from slong", kValueText, SQL_CHAR, 0, 0, SQL_C_SLONG, Bytes(int32_t{-2147483647 - 1}), 0, 0,
       "-2147483648"},
      {"text from ushort", kValueText, SQL_CHAR, 0, 0, SQL_C_USHORT, Bytes(uint16_t{65535}), 0, 0, "65535"},
      {"text from sshort", kValueText, SQL_CHAR, 0, 0, SQL_C_SSHORT, Bytes(int16_t{-1}), 0, 0, "-1"},
      {"text from ubigint", kValueText, SQL_CHAR, 0, 0, SQL_C_UBIGINT, Bytes(UINT64_MAX), 0, 0,
       "18446744073709551615"},
      {"text from sbigint", kValueText, SQL_CHAR, 0, 0, SQL_C_SBIGINT, Bytes(INT64_MIN), 0, 0,
       "-9223372036854775808"},
      {"text from numeric", kValueText, SQL_CHAR, 0, 0, SQL_C_NUMERIC, Bytes(Numeric(4, 2, false, 1234)), 0, 0,
       "-12.34"},
      {"text from double", kValueText, SQL_CHAR, 0, 0, SQL_C_DOUBLE, Bytes(2.5), 0, 0, "2.5"},
      {"text from float", kValueText, SQL_CHAR, 0, 0, SQL_C_FLOAT, Bytes(0.25f), 0, 0, "0.25"},
      {"text from unknown c type", kValueText, SQL_CHAR, 0, 0, 1234, "x", 1, 2103, ""},
      // Decimal text.
      {"decimal cut", kValueNumeric, SQL_DECIMAL, 5, 2, SQL_C_CHAR, "123.456", 7, 2102, "123.45"},
      {"decimal overflow", kValueNumeric, SQL_DECIMAL, 5, 2, SQL_C_CHAR, "1234567", 7, 2232, ""},
      {"decimal malformed", kValueNumeric, SQL_DECIMAL, 5, 2, SQL_C_CHAR, "12a", 3, 2116, ""},
      {"decimal exponent is malformed", kValueNumeric, SQL_DECIMAL, 5, 2, SQL_C_CHAR, "1e3", 3, 2116, ""},
      {"decimal blanks and sign", kValueNumeric, SQL_NUMERIC, 5, 2, SQL_C_CHAR, " -1.5 ", 6, 0, "-1.50"},
      {"decimal empty", kValueNumeric, SQL_NUMERIC, 5, 2, SQL_C_CHAR, "", 0, 0, "0.00"},
      {"decimal no wrap", kValueNumeric, SQL_NUMERIC, 20, 0, SQL_C_CHAR, "18446744073709551619", 20, 0,
       "18446744073709551619"},
      {"decimal default of bigint", kValueNumeric, SQL_BIGINT, 19, 0, SQL_C_DEFAULT, "42", 2, 0, "42"},
      {"decimal from slong", kValueNumeric, SQL_DECIMAL, 5, 2, SQL_C_LONG, Bytes(int32_t{-123}), 0, 0, "-123.00"},
      {"decimal from slong overflow", kValueNumeric, SQL_DECIMAL, 5, 2, SQL_C_LONG, Bytes(int32_t{1234}), 0, 2232,
       ""},
      {"decimal from ubigint", kValueNumeric, SQL_DECIMAL, 20, 0, SQL_C_UBIGINT, Bytes(UINT64_MAX), 0, 0,
       "18446744073709551615"},
      {"decimal from numeric", kValueNumeric, SQL_DECIMAL, 6, 3, SQL_C_NUMERIC, Bytes(Numeric(4, 2, true, 1234)), 0,
       0, "12.340"},
      {"decimal from double", kValueNumeric, SQL_DECIMAL, 5, 1, SQL_C_DOUBLE, Bytes(2.25), 0, 2102, "2.2"},
      {"decimal from double too large", kValueNumeric, SQL_DECIMAL, 5, 1, SQL_C_DOUBLE, Bytes(123456.0), 0, 2232,
       ""},
      {"decimal from huge double", kValueNumeric, SQL_DECIMAL, 5, 1, SQL_C_DOUBLE, Bytes(1e300), 0, 2232, ""},
      {"decimal from binary numeric", kValueNumeric, SQL_NUMERIC, 6, 2, SQL_C_BINARY,
       Bytes(Numeric(3, 1, false, 125)), 19, 0, "-12.50"},
      {"decimal from short binary numeric", kValueNumeric, SQL_NUMERIC, 6, 2, SQL_C_BINARY, "\x01\x02", 2, 2111, ""},
      {"decimal from binary bigint", kValueNumeric, SQL_BIGINT, 20, 0, SQL_C_BINARY, Bytes(int64_t{-5}), 8, 0, "-5"},
      {"decimal from binary of char type", kValueNumeric, SQL_CHAR, 5, 0, SQL_C_BINARY, "12", 2, 2119, ""},
      {"decimal from date", kValueNumeric, SQL_DECIMAL, 5, 0, SQL_C_TYPE_DATE, Bytes(Date(2000, 1, 1)), 0, 2109, ""},
      {"decimal from unknown", kValueNumeric, SQL_DECIMAL, 5, 0, 1234, "1", 1, 2103, ""},
      // Numbers held as a double.
      {"double from text", kValueDouble, SQL_DOUBLE, 0, 0, SQL_C_CHAR, "-2.5", 4, 0, Bytes(-2.5)},
      {"double from text no fraction check", kValueInteger, SQL_INTEGER, 0, 0, SQL_C_CHAR, "12.5", 4, 0, Bytes(12.5)},
      {"double from big text", kValueDouble, SQL_DOUBLE, 0, 0, SQL_C_CHAR, "18446744073709551619", 20, 0,
       Bytes(18446744073709551619.0)},
      {"double from text out of range", kValueDouble, SQL_DOUBLE, 0, 0, SQL_C_CHAR, "1e309", 5, 2111, ""},
      {"double from bad text", kValueDouble, SQL_DOUBLE, 0, 0, SQL_C_CHAR, "x1", 2, 2112, ""},
      {"double from numeric", kValueDouble, SQL_DOUBLE, 0, 0, SQL_C_NUMERIC, Bytes(Numeric(3, 1, false, 125)), 0, 0,
       Bytes(-12.5)},
      {"double from ubigint", kValueDouble, SQL_DOUBLE, 0, 0, SQL_C_UBIGINT, Bytes(uint64_t{1} << 63), 0, 0,
       Bytes(9223372036854775808.0)},
      {"double from sbigint", kValueDouble, SQL_DOUBLE, 0, 0, SQL_C_SBIGINT, Bytes(int64_t{-3}), 0, 0, Bytes(-3.0)},
      {"double from float", kValueDouble, SQL_REAL, 0, 0, SQL_C_FLOAT, Bytes(0.5f), 0, 0, Bytes(0.5)},
      {"integer from ulong", kValueInteger, SQL_INTEGER, 0, 0, SQL_C_ULONG, Bytes(uint32_t{4294967295u}), 0, 0,
       Bytes(4294967295.0)},
      {"integer from stinyint", kValueInteger, SQL_TINYINT, 0, 0, SQL_C_STINYINT, Bytes(int8_t{-1}), 0, 0,
       Bytes(-1.0)},
      {"integer from bit", kValueInteger, SQL_BIT, 0, 0, SQL_C_BIT, Bytes(uint8_t{1}), 0, 0, Bytes(1.0)},
      {"integer from signed short", kValueInteger, SQL_SMALLINT, 0, 0, SQL_C_SHORT, Bytes(uint16_t{65535}), 0, 0,
       Bytes(-1.0)},
      {"integer default of integer", kValueInteger, SQL_INTEGER, 0, 0, SQL_C_DEFAULT, Bytes(int32_t{-9}), 0, 0,
       Bytes(-9.0)},
      {"integer from binary", kValueInteger, SQL_INTEGER, 0, 0, SQL_C_BINARY, Bytes(int32_t{-9}), 4, 0, Bytes(-9.0)},
      {"integer from short binary", kValueInteger, SQL_INTEGER, 0, 0, SQL_C_BINARY, "\x01\x02", 2, 2111, ""},
      {"double from binary", kValueDouble, SQL_DOUBLE, 0, 0, SQL_C_BINARY, Bytes(0.75), 8, 0, Bytes(0.75)},
      {"double from binary of char type", kValueDouble, SQL_CHAR, 0, 0, SQL_C_BINARY, Bytes(0.75), 8, 2119, ""},
      {"double from date", kValueDouble, SQL_DOUBLE, 0, 0, SQL_C_DATE, Bytes(Date(2000, 1, 1)), 0, 2109, ""},
      {"double from unknown", kValueDouble, SQL_DOUBLE, 0, 0, 1234, "1", 1, 2103, ""},
      // Dates.
      {"date from date", kValueDate, SQL_TYPE_DATE, 0, 0, SQL_C_TYPE_DATE, Bytes(Date(1999, 12, 31)), 0, 0,
       Bytes(Date(1999, 12, 31))},
      {"date from timestamp", kValueDate, SQL_DATE, 0, 0, SQL_C_TIMESTAMP, Bytes(Stamp(1999, 12, 31, 1, 2, 3, 4)), 0,
       0, Bytes(Date(1999, 12, 31))},
      {"date from text", kValueDate, SQL_DATE, 0, 0, SQL_C_CHAR, "1999-12-31", 10, 0, Bytes(Date(1999, 12, 31))},
      {"date from timestamp text", kValueDate, SQL_DATE, 0, 0, SQL_C_CHAR, "1999-12-31 10:00:00", SQL_NTS, 0,
       Bytes(Date(1999, 12, 31))},
      {"date from bad text", kValueDate, SQL_DATE, 0, 0, SQL_C_CHAR, "31/12/1999 x", SQL_NTS, 2109, ""},
      {"date from binary", kValueDate, SQL_DATE, 0, 0, SQL_C_BINARY, Bytes(Date(2000, 2, 29)), 6, 0,
       Bytes(Date(2000, 2, 29))},
      {"date from short binary", kValueDate, SQL_DATE, 0, 0, SQL_C_BINARY, "\x01\x02\x03\x04\x05", 5, 2111, ""},
      {"date from time", kValueDate, SQL_DATE, 0, 0, SQL_C_TIME, Bytes(Time(1, 2, 3)), 0, 2109, ""},
      {"date from number", kValueDate, SQL_DATE, 0, 0, SQL_C_SLONG, Bytes(int32_t{1}), 0, 2109, ""},
      // Times.
      {"time from time", kValueTime, SQL_TIME, 0, 0, SQL_C_TYPE_TIME, Bytes(Time(23, 59, 58)), 0, 0,
       Bytes(Time(23, 59, 58))},
      {"time from timestamp drops fraction", kValueTime, SQL_TIME, 0, 0, SQL_C_TYPE_TIMESTAMP,
       Bytes(Stamp(1999, 12, 31, 1, 2, 3, 4)), 0, 0, Bytes(Time(1, 2, 3))},
      {"time from text", kValueTime, SQL_TIME, 0, 0, SQL_C_CHAR, "10:20:30", 8, 0, Bytes(Time(10, 20, 30))},
      {"time from bad text", kValueTime, SQL_TIME, 0, 0, SQL_C_CHAR, "25:00:00", 8, 2109, ""},
      {"time from binary", kValueTime, SQL_TIME, 0, 0, SQL_C_BINARY, Bytes(Time(1, 2, 3)), 6, 0,
       Bytes(Time(1, 2, 3))},
      {"time from short binary", kValueTime, SQL_TIME, 0, 0, SQL_C_BINARY, "\x01", 1, 2111, ""},
      {"time from date", kValueTime, SQL_TIME, 0, 0, SQL_C_DATE, Bytes(Date(2000, 1, 1)), 0, 2109, ""},
      {"time from number", kValueTime, SQL_TIME, 0, 0, SQL_C_DOUBLE, Bytes(1.0), 0, 2109, ""},
      // Timestamps.
      {"timestamp from timestamp", kValueTimestamp, SQL_TIMESTAMP, 0, 0, SQL_C_TIMESTAMP,
       Bytes(Stamp(1999, 12, 31, 1, 2, 3, 4)), 0, 0, Bytes(Stamp(1999, 12, 31, 1, 2, 3, 4))},
      {"timestamp from date", kValueTimestamp, SQL_TIMESTAMP, 0, 0, SQL_C_DATE, Bytes(Date(1999, 12, 31)), 0, 0,
       Bytes(Stamp(1999, 12, 31, 0, 0, 0, 0))},
      {"timestamp from text", kValueTimestamp, SQL_TIMESTAMP, 0, 0, SQL_C_CHAR, "2001-02-03 04:05:06", SQL_NTS, 0,
       Bytes(Stamp(2001, 2, 3, 4, 5, 6, 0))},
      {"timestamp from bad text", kValueTimestamp, SQL_TIMESTAMP, 0, 0, SQL_C_CHAR, "soon", SQL_NTS, 2109, ""},
      {"timestamp from binary", kValueTimestamp, SQL_TIMESTAMP, 0, 0, SQL_C_BINARY,
       Bytes(Stamp(1999, 12, 31, 1, 2, 3, 4)), 16, 0, Bytes(Stamp(1999, 12, 31, 1, 2, 3, 4))},
      {"timestamp from short binary", kValueTimestamp, SQL_TIMESTAMP, 0, 0, SQL_C_BINARY, Bytes(Date(1999, 12, 31)),
       6, 2111, ""},
      {"timestamp from number", kValueTimestamp, SQL_TIMESTAMP, 0, 0, SQL_C_UBIGINT, Bytes(uint64_t{1}), 0, 2109,
       ""},
      // Binary.
      {"binary from hex", kValueBinary, SQL_BINARY, 0, 0, SQL_C_CHAR, "0aff", 4, 0, "\x0A\xFF"},
      {"binary from upper hex", kValueBinary, SQL_BINARY, 0, 0, SQL_C_CHAR, "0AFF", SQL_NTS, 0, "\x0A\xFF"},
      {"binary from odd hex", kValueBinary, SQL_BINARY, 0, 0, SQL_C_CHAR, "0AF", 3, 2102, "\x0A"},
      {"binary from bad hex", kValueBinary, SQL_BINARY, 0, 0, SQL_C_CHAR, "0G", 2, 2109, ""},
      {"binary from bytes", kValueBinary, SQL_VARBINARY, 0, 0, SQL_C_BINARY, std::string("\0\1\2", 3), 3, 0,
       std::string("\0\1\2", 3)},
      {"binary from long", kValueBinary, SQL_BINARY, 0, 0, SQL_C_SLONG, Bytes(int32_t{7}), 0, 0, Bytes(int32_t{7})},
      {"binary from numeric", kValueBinary, SQL_BINARY, 0, 0, SQL_C_NUMERIC, Bytes(Numeric(1, 0, true, 7)), 0, 0,
       Bytes(Numeric(1, 0, true, 7))},
      {"binary from timestamp", kValueBinary, SQL_BINARY, 0, 0, SQL_C_TIMESTAMP, Bytes(Stamp(1, 2, 3, 4, 5, 6, 7)), 0,
       0, Bytes(Stamp(1, 2, 3, 4, 5, 6, 7))},
      {"binary from bit", kValueBinary, SQL_BINARY, 0, 0, SQL_C_BIT, Bytes(uint8_t{1}), 0, 0, "\x01"},
      {"binary from unknown", kValueBinary, SQL_BINARY, 0, 0, 1234, "1", 1, 2103, ""},
      // Defaults and value types the driver does not have.
      {"default of unknown sql type", kValueText, SQL_GUID, 0, 0, SQL_C_DEFAULT, "x", 1, 2103, ""},
      {"unknown value type", 3, SQL_CHAR, 0, 0, SQL_C_CHAR, "x", 1, 2103, ""},
      {"default param", kValueText, SQL_CHAR, 0, 0, SQL_C_CHAR, "x", SQL_DEFAULT_PARAM, 2103, ""},
  };
  return cases;
}

TEST(ConvertParameterValue, Cases) {
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.name);
    Param p(c.valueType, c.sqlType, c.capacity, c.scale);
    char argument[1026] = "stale";
    const int code = ConvertParameterValue(p.value.get(), kSigned, nullptr, c.cType, c.value.data(), c.length,
                                           argument, sizeof argument);
    EXPECT_EQ(code, c.code);
    EXPECT_EQ(p->isNull, 0);
    if (code == 0 || code == 2102) {
      EXPECT_EQ(Stored(p), c.stored);
    }
    if (code == 2116) {
      EXPECT_STREQ(argument, c.value.c_str());
    }
    if (code == 2232) {
      EXPECT_STREQ(argument, "");
    }
  }
}

TEST(ConvertParameterValue, UnsignedTypeTableReadsShortsUnsigned) {
  const ParameterSigns unsignedShorts{false, true, false, false};
  Param p(kValueInteger, SQL_SMALLINT);
  const uint16_t value = 65535;
  EXPECT_EQ(ConvertParameterValue(p.value.get(), unsignedShorts, nullptr, SQL_C_SHORT, &value, 0, nullptr, 0), 0);
  EXPECT_EQ(p->number, 65535.0);
  EXPECT_EQ(ConvertParameterValue(p.value.get(), kSigned, nullptr, SQL_C_SHORT, &value, 0, nullptr, 0), 0);
  EXPECT_EQ(p->number, -1.0);
}

TEST(ConvertParameterValue, SignsComeFromTheFirstEntryOfEachType) {
  TypeEntry entries[4]{};
  entries[0].sqlType = SQL_INTEGER;
  entries[0].unsignedAttribute = 1;
  entries[1].sqlType = SQL_INTEGER;
  entries[1].unsignedAttribute = 0;
  entries[2].sqlType = SQL_TINYINT;
  entries[2].unsignedAttribute = -1;
  entries[3].sqlType = SQL_BIGINT;
  entries[3].unsignedAttribute = 1;
  const ParameterSigns signs = SignsOfTypeTable(entries, 4);
  EXPECT_TRUE(signs.integerUnsigned);
  EXPECT_FALSE(signs.smallintUnsigned);
  EXPECT_FALSE(signs.tinyintUnsigned);
  EXPECT_TRUE(signs.bigintUnsigned);
}

TEST(ConvertParameterValue, NullStoresAnEmptyValue) {
  const int16_t types[] = {kValueText, kValueNumeric, kValueInteger, kValueDouble,
                           kValueDate, kValueTime,    kValueTimestamp, kValueBinary};
  for (int16_t type : types) {
    SCOPED_TRACE(type);
    Param p(type, SQL_CHAR);
    std::memset(p->fixed, 'x', sizeof p->fixed);
    p->number = 5;
    p->date = Date(1, 1, 1);
    p->time = Time(1, 1, 1);
    p->timestamp = Stamp(1, 1, 1, 1, 1, 1, 1);
    EXPECT_EQ(ConvertParameterValue(p.value.get(), kSigned, nullptr, SQL_C_CHAR, "x", SQL_NULL_DATA, nullptr, 0), 0);
    EXPECT_EQ(p->isNull, 1);
    const std::string stored = Stored(p);
    EXPECT_EQ(stored, type == kValueText || type == kValueNumeric || type == kValueBinary
                          ? std::string()
                          : std::string(stored.size(), '\0'));
  }
  Param other(3, SQL_CHAR);
  EXPECT_EQ(ConvertParameterValue(other.value.get(), kSigned, nullptr, SQL_C_CHAR, "x", SQL_NULL_DATA, nullptr, 0),
            2103);
}

TEST(ConvertParameterValue, TextPiecesAppend) {
  Param p(kValueText, SQL_LONGVARCHAR);
  SQLLEN offset = 0;
  for (const char* piece : {"ab", "cd", "ef"})
    EXPECT_EQ(ConvertParameterValue(p.value.get(), kSigned, &offset, SQL_C_CHAR, piece, SQL_NTS, nullptr, 0), 0);
  EXPECT_EQ(p.Text(), "abcdef");
  EXPECT_EQ(offset, 6);
  // A new execution starts afresh.
  offset = 0;
  EXPECT_EQ(ConvertParameterValue(p.value.get(), kSigned, &offset, SQL_C_CHAR, "z", SQL_NTS, nullptr, 0), 0);
  EXPECT_EQ(p.Text(), "z");
}

// A piece that exactly fills the fixed buffer still gets its terminator.
TEST(ConvertParameterValue, TextOfTheBufferSizeKeepsItsTerminator) {
  Param p(kValueText, SQL_LONGVARCHAR);
  const std::string text(kParameterBufferSize, 'r');
  EXPECT_EQ(ConvertParameterValue(p.value.get(), kSigned, nullptr, SQL_C_CHAR, text.data(), text.size(), nullptr, 0),
            0);
  EXPECT_EQ(p.Text(), text);
  EXPECT_GT(ParameterBufferSize(p.value.get()), kParameterBufferSize);
}

TEST(ConvertParameterValue, BinaryPiecesAppendAndCarryAnOddDigit) {
  Param p(kValueBinary, SQL_LONGVARBINARY);
  SQLLEN offset = 0;
  for (const char* piece : {"0A", "F", "F1", "2"})
    EXPECT_EQ(ConvertParameterValue(p.value.get(), kSigned, &offset, SQL_C_CHAR, piece, SQL_NTS, nullptr, 0), 0);
  EXPECT_EQ(p.Binary(), "\x0A\xFF\x12");
  EXPECT_EQ(FinishParameterValue(p.value.get()), 0);

  offset = 0;
  for (const char* piece : {"AB", "C"})
    EXPECT_EQ(ConvertParameterValue(p.value.get(), kSigned, &offset, SQL_C_CHAR, piece, SQL_NTS, nullptr, 0), 0);
  EXPECT_EQ(p.Binary(), "\xAB");
  EXPECT_EQ(FinishParameterValue(p.value.get()), 2102);

  // A new execution forgets a digit left waiting.
  offset = 0;
  EXPECT_EQ(ConvertParameterValue(p.value.get(), kSigned, &offset, SQL_C_CHAR, "C", SQL_NTS, nullptr, 0), 0);
  offset = 0;
  EXPECT_EQ(ConvertParameterValue(p.value.get(), kSigned, &offset, SQL_C_CHAR, "12", SQL_NTS, nullptr, 0), 0);
  EXPECT_EQ(p.Binary(), "\x12");
  EXPECT_EQ(FinishParameterValue(p.value.get()), 0);
}

// Three pieces of text or bytes outgrow the fixed buffer and are all kept.
TEST(ConvertParameterValue, PiecesGrowPastTheFixedBuffer) {
  const struct {
    int16_t valueType;
    int16_t cType;
    size_t pieceSize;
  } rows[] = {{kValueText, SQL_C_CHAR, 1000}, {kValueBinary, SQL_C_BINARY, 700}, {kValueText, SQL_C_BINARY, 1023}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.pieceSize);
    Param p(r.valueType, r.valueType == kValueText ? SQL_LONGVARCHAR : SQL_LONGVARBINARY);
    SQLLEN offset = 0;
    const std::string piece(r.pieceSize, 'q');
    for (int i = 0; i < 3; ++i)
      EXPECT_EQ(ConvertParameterValue(p.value.get(), kSigned, &offset, r.cType, piece.data(),
                                      static_cast<SQLLEN>(piece.size()), nullptr, 0),
                0);
    EXPECT_EQ(r.valueType == kValueText ? p.Text() : p.Binary(), std::string(3 * r.pieceSize, 'q'));
    EXPECT_EQ(offset, static_cast<SQLLEN>(3 * r.pieceSize));
  }
}

TEST(ConvertParameterValue, TimeAsTimestampTakesToday) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    const DATE_STRUCT before = TodayLocalDate();
    Param p(kValueTimestamp, SQL_TIMESTAMP);
    const TIME_STRUCT time = Time(8, 9, 10);
    ASSERT_EQ(ConvertParameterValue(p.value.get(), kSigned, nullptr, SQL_C_TIME, &time, 0, nullptr, 0), 0);
    const DATE_STRUCT after = TodayLocalDate();
    if (std::memcmp(&before, &after, sizeof before) != 0) continue;  // midnight passed
    TIMESTAMP_STRUCT expected = Stamp(before.year, before.month, before.day, 8, 9, 10, 0);
    EXPECT_EQ(Bytes(p->timestamp), Bytes(expected));
    return;
  }
}

TEST(ConvertParameterValue, LengthOfAnUnboundIndicator) {
  EXPECT_EQ(UnboundParameterLength(SQL_C_CHAR), SQL_NTS);
  EXPECT_EQ(UnboundParameterLength(SQL_C_BINARY), SQL_NTS);
  EXPECT_EQ(UnboundParameterLength(SQL_C_SLONG), 4);
  EXPECT_EQ(UnboundParameterLength(SQL_C_DOUBLE), 8);
  EXPECT_EQ(UnboundParameterLength(SQL_C_TYPE_TIMESTAMP), 16);
  EXPECT_EQ(UnboundParameterLength(SQL_C_NUMERIC), 19);
  EXPECT_EQ(UnboundParameterLength(SQL_C_BIT), 1);
}

}  // namespace
}  // namespace kivodbc
