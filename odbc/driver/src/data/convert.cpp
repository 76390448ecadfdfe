// Column value conversion: the source x C-type matrix, its range checks and
// the partial reads of SQLGetData.
#include "data/convert.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

#include "kivwin/win.h"
#include "handles/messages.h"
#include "data/valuetext.h"

namespace kivodbc {
namespace {

// Room for a formatted number, date, time or timestamp.
constexpr size_t kScratchSize = 32;

void SetIndicator(SQLLEN* indicator, SQLLEN value) {
  if (indicator != nullptr) *indicator = value;
}

bool IsCharacterType(int16_t type) { return type == SQL_CHAR || type == SQL_VARCHAR || type == SQL_LONGVARCHAR; }
bool IsBinaryType(int16_t type) {
  return type == SQL_BINARY || type == SQL_VARBINARY || type == SQL_LONGVARBINARY;
}
bool IsDateTarget(int16_t type) { return type == SQL_C_DATE || type == SQL_C_TYPE_DATE; }
bool IsTimeTarget(int16_t type) { return type == SQL_C_TIME || type == SQL_C_TYPE_TIME; }
bool IsTimestampTarget(int16_t type) { return type == SQL_C_TIMESTAMP || type == SQL_C_TYPE_TIMESTAMP; }

// The range of the integer and floating C types; false for other types.
bool RangeOf(int16_t cType, double* minimum, double* maximum) {
  switch (cType) {
    case SQL_C_LONG:
    case SQL_C_SLONG: *minimum = -2147483648.0; *maximum = 2147483647.0; return true;
    case SQL_C_ULONG: *minimum = 0; *maximum = 4294967295.0; return true;
    case SQL_C_SHORT:
    case SQL_C_SSHORT: *minimum = -32768; *maximum = 32767; return true;
    case SQL_C_USHORT: *minimum = 0; *maximum = 65535; return true;
    case SQL_C_TINYINT:
    case SQL_C_STINYINT: *minimum = -128; *maximum = 127; return true;
    case SQL_C_UTINYINT: *minimum = 0; *maximum = 255; return true;
    case SQL_C_BIT: *minimum = 0; *maximum = 1; return true;
    case SQL_C_FLOAT: *minimum = -3.4e38; *maximum = 3.4e38; return true;
    case SQL_C_DOUBLE: *minimum = -1.7e308; *maximum = 1.7e308; return true;
    default: return false;
  }
}

bool IsSmallIntegerTarget(int16_t cType) {
  double minimum = 0;
  double maximum = 0;
  return cType != SQL_C_FLOAT && cType != SQL_C_DOUBLE && RangeOf(cType, &minimum, &maximum);
}

template <typename T>
int StoreFixed(const T& value, void* target, SQLLEN* indicator) {
  if (target != nullptr) std::memcpy(target, &value, sizeof value);
  SetIndicator(indicator, static_cast<SQLLEN>(sizeof value));
  return 0;
}

// Stores an in-range number, truncated toward zero, as an integer C type.
int StoreInteger(double value, int16_t cType, void* target, SQLLEN* indicator) {
  const double whole = std::trunc(value);
  switch (cType) {
    case SQL_C_LONG:
    case SQL_C_SLONG: return StoreFixed(static_cast<int32_t>(whole), target, indicator);
    case SQL_C_ULONG: return StoreFixed(static_cast<uint32_t>(whole), target, indicator);
    case SQL_C_SHORT:
    case SQL_C_SSHORT: return StoreFixed(static_cast<int16_t>(whole), target, indicator);
    case SQL_C_USHORT: return StoreFixed(static_cast<uint16_t>(whole), target, indicator);
    case SQL_C_TINYINT:
    case SQL_C_STINYINT: return StoreFixed(static_cast<int8_t>(whole), target, indicator);
    case SQL_C_UTINYINT:
    case SQL_C_BIT: return StoreFixed(static_cast<uint8_t>(whole), target, indicator);
    default: return kConversionError;
  }
}

// A number into a numeric C type other than SQL_C_NUMERIC: range check,
// then the value stored; a fraction dropped for an integer target gives 2102
// when `reportFraction` is set. `exactFloat` skips the float range check (a
// float source always fits).
int StoreNumber(double value, int16_t cType, bool reportFraction, bool exactFloat, void* target,
                SQLLEN* indicator) {
  if (std::isnan(value)) return kOutOfRange;
  if (cType == SQL_C_SBIGINT) {
    if (value < -9223372036854775808.0 || value >= 9223372036854775808.0) return kOutOfRange;
    StoreFixed(static_cast<int64_t>(value), target, indicator);
  } else if (cType == SQL_C_UBIGINT) {
    if (value <= -1.0 || value >= 18446744073709551616.0) return kOutOfRange;
    StoreFixed(static_cast<uint64_t>(value), target, indicator);
  } else if (cType == SQL_C_FLOAT) {
    double minimum = 0;
    double maximum = 0;
    RangeOf(cType, &minimum, &maximum);
    if (!exactFloat && (value < minimum || value > maximum)) return kOutOfRange;
    return StoreFixed(static_cast<float>(value), target, indicator);
  } else if (cType == SQL_C_DOUBLE) {
    return StoreFixed(value, target, indicator);
  } else {
    double minimum = 0;
    double maximum = 0;
    if (!RangeOf(cType, &minimum, &maximum)) return kConversionError;
    if (value < minimum || value > maximum) return kOutOfRange;
    StoreInteger(value, cType, target, indicator);
  }
  return reportFraction && std::trunc(value) != value ? kDataTruncated : 0;
}

// A raw copy of a fixed-size value into a binary or SQL_C_DEFAULT target:
// only when the buffer holds it.
int CopyRaw(const void* bytes, size_t size, void* target, SQLLEN targetLength, SQLLEN* indicator) {
  if (target != nullptr) {
    if (targetLength < 0 || static_cast<size_t>(targetLength) < size) return kOutOfRange;
    std::memcpy(target, bytes, size);
  }
  SetIndicator(indicator, static_cast<SQLLEN>(size));
  return 0;
}

// One piece of a text or byte value from `*offset` on: with `terminate` the
// piece ends in a NUL character, which takes room in the buffer. Text comes in
// characters of `unit` bytes (2 for wide text); a piece holds whole ones.
int ReadPiece(const char* bytes, size_t total, SQLLEN* offset, bool terminate, void* target, SQLLEN targetLength,
              SQLLEN* indicator, size_t unit = 1) {
  const size_t done = offset == nullptr || *offset < 0 ? 0 : std::min(static_cast<size_t>(*offset), total);
  const size_t remaining = total - done;
  const SQLLEN units = targetLength / static_cast<SQLLEN>(unit);
  const SQLLEN room = terminate ? (units - 1) * static_cast<SQLLEN>(unit) : targetLength;
  size_t count = 0;
  if (target != nullptr && units >= 1) {
    count = std::min(remaining, static_cast<size_t>(room));
    std::memcpy(target, bytes + done, count);
    if (terminate) std::memset(static_cast<char*>(target) + count, 0, unit);
  }
  SetIndicator(indicator, static_cast<SQLLEN>(remaining));
  if (offset != nullptr) *offset = static_cast<SQLLEN>(done + count);
  return static_cast<SQLLEN>(remaining) > room ? kDataTruncated : 0;
}

// Binary read as text: two upper-case hexadecimal digits per byte, high
// nibble first; the offset counts digits, so a read may resume mid-byte.
int ReadHexPiece(const unsigned char* bytes, size_t byteCount, SQLLEN* offset, void* target, SQLLEN targetLength,
                 SQLLEN* indicator) {
  static const char kDigits[] = "0123456789ABCDEF";
  const size_t total = byteCount * 2;
  const size_t done = offset == nullptr || *offset < 0 ? 0 : std::min(static_cast<size_t>(*offset), total);
  const size_t remaining = total - done;
  size_t count = 0;
  if (target != nullptr && targetLength >= 1) {
    char* out = static_cast<char*>(target);
    count = std::min(remaining, static_cast<size_t>(targetLength) - 1);
    for (size_t i = 0; i < count; ++i) {
      const size_t digit = done + i;
      const unsigned char byte = bytes[digit / 2];
      out[i] = kDigits[digit % 2 == 0 ? byte >> 4 : byte & 0x0F];
    }
    out[count] = 0;
  }
  SetIndicator(indicator, static_cast<SQLLEN>(remaining));
  if (offset != nullptr) *offset = static_cast<SQLLEN>(done + count);
  return static_cast<SQLLEN>(remaining) >= targetLength ? kDataTruncated : 0;
}

// A number's text for SQL_C_CHAR: all of it, or 2111 when the buffer is too
// small for it (its digits are all integer digits). A buffer below one byte
// takes nothing and only learns the length.
int ReadNumberText(const char* text, SQLLEN* offset, void* target, SQLLEN targetLength, SQLLEN* indicator) {
  const size_t length = std::strlen(text);
  const bool fresh = offset == nullptr || *offset <= 0;
  if (fresh && target != nullptr && targetLength >= 1 && static_cast<size_t>(targetLength) <= length)
    return kOutOfRange;
  return ReadPiece(text, length, offset, true, target, targetLength, indicator);
}

// A floating value as SQL_C_CHAR: the exponent form is used when the plain
// form does not fit; a cut may only drop fraction digits.
int ReadDoubleText(double value, void* target, SQLLEN targetLength, SQLLEN* indicator) {
  // Without a buffer the length is that of the text a 32-byte buffer gets.
  char scratch[kScratchSize];
  FormatDoubleText(value, true, scratch, sizeof scratch);
  if (target == nullptr || targetLength < 1) {
    SetIndicator(indicator, static_cast<SQLLEN>(std::strlen(scratch)));
    return target == nullptr ? 0 : kDataTruncated;
  }
  char plain[400];
  FormatDoubleText(value, false, plain, sizeof plain);
  const size_t room = static_cast<size_t>(std::min<SQLLEN>(targetLength, sizeof plain));
  char piece[400];
  if (FormatDoubleText(value, true, piece, room) == 0) {
    const size_t length = std::strlen(piece);
    std::memcpy(target, piece, length + 1);
    SetIndicator(indicator, static_cast<SQLLEN>(length));
    return 0;
  }
  const size_t integerDigits = std::strcspn(plain, ".");
  if (integerDigits > room - 1) return kOutOfRange;
  std::memcpy(target, plain, room - 1);
  static_cast<char*>(target)[room - 1] = 0;
  SetIndicator(indicator, static_cast<SQLLEN>(std::strlen(plain)));
  return kDataTruncated;
}

// A date, time or timestamp read as text: its formatted text, in pieces.
template <typename T>
int ReadFormatted(int (*format)(const T&, char*, size_t), const T& value, SQLLEN* offset, void* target,
                  SQLLEN targetLength, SQLLEN* indicator) {
  char text[kScratchSize];
  const int code = format(value, text, sizeof text);
  if (code != 0) return code;
  return ReadPiece(text, std::strlen(text), offset, true, target, targetLength, indicator);
}

// Writes the zero value of a NULL column.
int StoreZero(int16_t cType, void* target, SQLLEN targetLength) {
  if (cType == SQL_C_CHAR) {
    if (targetLength >= 1) static_cast<char*>(target)[0] = 0;
    return 0;
  }
  if (cType == SQL_C_WCHAR) {
    if (targetLength >= static_cast<SQLLEN>(sizeof(SQLWCHAR))) std::memset(target, 0, sizeof(SQLWCHAR));
    return 0;
  }
  if (cType == SQL_C_BINARY) return 0;
  if (cType == SQL_C_NUMERIC) {
    SQL_NUMERIC_STRUCT zero{};
    zero.precision = 1;
    zero.sign = 1;
    std::memcpy(target, &zero, sizeof zero);
    return 0;
  }
  const size_t size = FixedCTypeSize(cType);
  if (size == 0) return kConversionError;
  std::memset(target, 0, size);
  return 0;
}

// Character source.
int ConvertText(const char* text, SQLLEN sourceLength, SQLLEN* offset, int16_t targetType, void* target,
                SQLLEN targetLength, SQLLEN* indicator) {
  const SQLLEN length = static_cast<SQLLEN>(ResolveLength(text, sourceLength));
  switch (targetType) {
    case SQL_C_CHAR:
    case SQL_C_DEFAULT:
      return ReadPiece(text, static_cast<size_t>(length), offset, true, target, targetLength, indicator);
    case SQL_C_BINARY:
      return ReadPiece(text, static_cast<size_t>(length), offset, false, target, targetLength, indicator);
    case SQL_C_NUMERIC: {
      SQL_NUMERIC_STRUCT value{};
      const int code = ParseNumericText(text, length, &value);
      if (code != 0 && code != kDataTruncated) return code;
      StoreFixed(value, target, indicator);
      return code;
    }
    case SQL_C_SBIGINT: {
      int64_t value = 0;
      const int code = ParseBigintText(text, length, &value);
      if (code != 0 && code != kDataTruncated) return code;
      StoreFixed(value, target, indicator);
      return code;
    }
    case SQL_C_UBIGINT: {
      uint64_t value = 0;
      const int code = ParseUbigintText(text, length, &value);
      if (code != 0 && code != kDataTruncated) return code;
      StoreFixed(value, target, indicator);
      return code;
    }
    case SQL_C_DATE:
    case SQL_C_TYPE_DATE: {
      DATE_STRUCT value{};
      if (ParseDateText(text, length, &value) != 0) return kConversionError;
      return StoreFixed(value, target, indicator);
    }
    case SQL_C_TIME:
    case SQL_C_TYPE_TIME: {
      TIME_STRUCT value{};
      if (ParseTimeText(text, length, &value) != 0) return kConversionError;
      return StoreFixed(value, target, indicator);
    }
    case SQL_C_TIMESTAMP:
    case SQL_C_TYPE_TIMESTAMP: {
      TIMESTAMP_STRUCT value{};
      if (ParseTimestampText(text, length, &value) != 0) return kConversionError;
      return StoreFixed(value, target, indicator);
    }
    default: break;
  }
  double minimum = 0;
  double maximum = 0;
  if (!RangeOf(targetType, &minimum, &maximum)) return kConversionError;
  const bool integer = IsSmallIntegerTarget(targetType);
  double value = 0;
  const int code = ParseNumberText(text, length, integer, minimum, maximum, &value);
  if (code != 0 && code != kDataTruncated) return code;
  StoreNumber(value, targetType, false, true, target, indicator);
  return code;
}

// Integer, tiny integer and bit sources, already widened.
int ConvertInteger(int64_t value, const void* stored, size_t storedSize, SQLLEN* offset,
                   int16_t targetType, void* target, SQLLEN targetLength, SQLLEN* indicator) {
  // Only the text targets need the digits.
  char text[kScratchSize];
  if (targetType == SQL_C_CHAR || targetType == SQL_C_NUMERIC)
    *std::to_chars(text, text + sizeof text - 1, value).ptr = 0;
  switch (targetType) {
    case SQL_C_CHAR: return ReadNumberText(text, offset, target, targetLength, indicator);
    case SQL_C_NUMERIC: return ConvertText(text, SQL_NTS, offset, targetType, target, targetLength, indicator);
    case SQL_C_DEFAULT:
    case SQL_C_BINARY: return CopyRaw(stored, storedSize, target, targetLength, indicator);
    default: return StoreNumber(static_cast<double>(value), targetType, false, false, target, indicator);
  }
}

int ConvertFloating(double value, bool isReal, const void* stored, int16_t targetType, void* target,
                    SQLLEN targetLength, SQLLEN* indicator) {
  switch (targetType) {
    case SQL_C_CHAR: return ReadDoubleText(value, target, targetLength, indicator);
    case SQL_C_NUMERIC: {
      SQL_NUMERIC_STRUCT number{};
      const int code = DoubleToNumeric(value, &number);
      if (code != 0 && code != kDataTruncated) return code == kAssignmentError ? kOutOfRange : code;
      StoreFixed(number, target, indicator);
      return code;
    }
    case SQL_C_DEFAULT:
    case SQL_C_BINARY:
      return CopyRaw(stored, isReal ? sizeof(float) : sizeof(double), target, targetLength, indicator);
    default: return StoreNumber(value, targetType, true, isReal, target, indicator);
  }
}

int ConvertDate(const DATE_STRUCT& value, SQLLEN* offset, int16_t targetType, void* target, SQLLEN targetLength,
                SQLLEN* indicator) {
  if (targetType == SQL_C_CHAR) return ReadFormatted(FormatDateText, value, offset, target, targetLength, indicator);
  if (IsDateTarget(targetType)) return StoreFixed(value, target, indicator);
  if (targetType == SQL_C_DEFAULT || targetType == SQL_C_BINARY)
    return CopyRaw(&value, sizeof value, target, targetLength, indicator);
  if (IsTimestampTarget(targetType)) {
    TIMESTAMP_STRUCT stamp{};
    stamp.year = value.year;
    stamp.month = value.month;
    stamp.day = value.day;
    return StoreFixed(stamp, target, indicator);
  }
  return kConversionError;
}

int ConvertTime(const TIME_STRUCT& value, SQLLEN* offset, int16_t targetType, void* target, SQLLEN targetLength,
                SQLLEN* indicator) {
  if (targetType == SQL_C_CHAR) return ReadFormatted(FormatTimeText, value, offset, target, targetLength, indicator);
  if (IsTimeTarget(targetType)) return StoreFixed(value, target, indicator);
  if (targetType == SQL_C_DEFAULT || targetType == SQL_C_BINARY)
    return CopyRaw(&value, sizeof value, target, targetLength, indicator);
  if (IsTimestampTarget(targetType)) {
    const DATE_STRUCT today = TodayLocalDate();
    TIMESTAMP_STRUCT stamp{};
    stamp.year = today.year;
    stamp.month = today.month;
    stamp.day = today.day;
    stamp.hour = value.hour;
    stamp.minute = value.minute;
    stamp.second = value.second;
    return StoreFixed(stamp, target, indicator);
  }
  return kConversionError;
}

int ConvertTimestamp(const TIMESTAMP_STRUCT& value, SQLLEN* offset, int16_t targetType, void* target,
                     SQLLEN targetLength, SQLLEN* indicator) {
  if (targetType == SQL_C_CHAR) return ReadFormatted(FormatTimestampText, value, offset, target, targetLength, indicator);
  if (IsDateTarget(targetType)) {
    DATE_STRUCT date{};
    date.year = value.year;
    date.month = value.month;
    date.day = value.day;
    return StoreFixed(date, target, indicator);
  }
  if (IsTimeTarget(targetType)) {
    // The fraction has no place in a time; it goes without a warning.
    TIME_STRUCT time{};
    time.hour = value.hour;
    time.minute = value.minute;
    time.second = value.second;
    return StoreFixed(time, target, indicator);
  }
  if (IsTimestampTarget(targetType)) return StoreFixed(value, target, indicator);
  if (targetType == SQL_C_DEFAULT || targetType == SQL_C_BINARY)
    return CopyRaw(&value, sizeof value, target, targetLength, indicator);
  return kConversionError;
}

int ConvertBinary(const unsigned char* bytes, SQLLEN sourceLength, SQLLEN* offset, int16_t targetType, void* target,
                  SQLLEN targetLength, SQLLEN* indicator) {
  const size_t length = sourceLength < 0 ? 0 : static_cast<size_t>(sourceLength);
  if (targetType == SQL_C_CHAR) return ReadHexPiece(bytes, length, offset, target, targetLength, indicator);
  if (targetType == SQL_C_BINARY || targetType == SQL_C_DEFAULT)
    return ReadPiece(reinterpret_cast<const char*>(bytes), length, offset, false, target, targetLength, indicator);
  // Fixed-size targets take the first bytes unchanged, when there are enough.
  const size_t size = FixedCTypeSize(targetType);
  if (size == 0) return kConversionError;
  if (length < size) return kOutOfRange;
  if (target != nullptr) std::memcpy(target, bytes, size);
  SetIndicator(indicator, static_cast<SQLLEN>(size));
  return 0;
}

}  // namespace

int16_t DefaultCTypeOf(int16_t sqlType) {
  switch (sqlType) {
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_LONGVARCHAR: return SQL_C_CHAR;
    case SQL_NUMERIC:
    case SQL_DECIMAL: return SQL_C_NUMERIC;
    case SQL_INTEGER: return SQL_C_LONG;
    case SQL_SMALLINT: return SQL_C_SHORT;
    case SQL_FLOAT:
    case SQL_DOUBLE: return SQL_C_DOUBLE;
    case SQL_REAL: return SQL_C_FLOAT;
    case SQL_DATE:
    case SQL_TYPE_DATE:
    case SQL_TIME:
    case SQL_TYPE_TIME:
    case SQL_TIMESTAMP:
    case SQL_TYPE_TIMESTAMP: return sqlType;
    case SQL_BIT: return SQL_C_BIT;
    case SQL_TINYINT: return SQL_C_TINYINT;
    case SQL_BIGINT: return SQL_C_SBIGINT;
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY: return SQL_C_BINARY;
    default: return 0;
  }
}

size_t FixedCTypeSize(int16_t cType) {
  switch (cType) {
    case SQL_C_NUMERIC: return sizeof(SQL_NUMERIC_STRUCT);
    case SQL_C_LONG:
    case SQL_C_SLONG:
    case SQL_C_ULONG:
    case SQL_C_FLOAT: return 4;
    case SQL_C_SHORT:
    case SQL_C_SSHORT:
    case SQL_C_USHORT: return 2;
    case SQL_C_DOUBLE:
    case SQL_C_SBIGINT:
    case SQL_C_UBIGINT: return 8;
    case SQL_C_DATE:
    case SQL_C_TYPE_DATE:
    case SQL_C_TIME:
    case SQL_C_TYPE_TIME: return 6;
    case SQL_C_TIMESTAMP:
    case SQL_C_TYPE_TIMESTAMP: return 16;
    case SQL_C_TINYINT:
    case SQL_C_STINYINT:
    case SQL_C_UTINYINT:
    case SQL_C_BIT: return 1;
    default: return 0;
  }
}

DATE_STRUCT TodayLocalDate() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  DATE_STRUCT today{};
  today.year = static_cast<SQLSMALLINT>(local.tm_year + 1900);
  today.month = static_cast<SQLUSMALLINT>(local.tm_mon + 1);
  today.day = static_cast<SQLUSMALLINT>(local.tm_mday);
  return today;
}

namespace {

// A value as wide text: the text SQL_C_CHAR gives, each Windows-1252 byte one
// UTF-16 unit (every character of that page lies in the basic plane). The
// offset counts bytes of the wide text, so reads in pieces resume where the
// last stopped. Short values, the usual ones, need no heap.
int ConvertToWideText(int16_t sourceType, bool isUnsigned, const void* source, SQLLEN sourceLength,
                      SQLLEN* offset, void* target, SQLLEN targetLength, SQLLEN* indicator) {
  constexpr size_t kShort = 256;
  char shortText[kShort];
  std::vector<char> longText;
  char* text = shortText;
  SQLLEN capacity = static_cast<SQLLEN>(kShort);
  SQLLEN whole = 0;
  for (;;) {
    SQLLEN start = 0;
    const int code = ConvertColumnValue(sourceType, isUnsigned, source, sourceLength, &start, SQL_C_CHAR, text,
                                        capacity, &whole);
    if (code != 0 && code != kDataTruncated) return code;
    if (code == 0) break;
    longText.resize(static_cast<size_t>(whole) + 1);
    text = longText.data();
    capacity = static_cast<SQLLEN>(longText.size());
  }
  const size_t count = static_cast<size_t>(std::max<SQLLEN>(whole, 0));
  SQLWCHAR shortWide[kShort];
  std::vector<SQLWCHAR> longWide;
  SQLWCHAR* wide = shortWide;
  if (count > kShort) {
    longWide.resize(count);
    wide = longWide.data();
  }
  for (size_t i = 0; i < count; ++i)
    wide[i] = static_cast<SQLWCHAR>(kivwin::AnsiToUnicode(static_cast<unsigned char>(text[i])));
  return ReadPiece(reinterpret_cast<const char*>(wide), count * sizeof(SQLWCHAR), offset, true, target, targetLength,
                   indicator, sizeof(SQLWCHAR));
}

}  // namespace

int ConvertColumnValue(int16_t sourceType, bool isUnsigned, const void* source, SQLLEN sourceLength,
                       SQLLEN* offset, int16_t targetType, void* target, SQLLEN targetLength,
                       SQLLEN* indicator) {
  if (targetType == SQL_C_WCHAR && sourceLength != SQL_NULL_DATA && source != nullptr)
    return ConvertToWideText(sourceType, isUnsigned, source, sourceLength, offset, target, targetLength, indicator);
  if (sourceLength == SQL_NULL_DATA || source == nullptr) {
    if (sourceLength == SQL_NULL_DATA && indicator == nullptr) return kIndicatorRequired;
    SetIndicator(indicator, sourceLength);
    if (sourceLength != SQL_NULL_DATA || target == nullptr) return 0;
    if (targetType == SQL_C_DEFAULT) {
      targetType = DefaultCTypeOf(sourceType);
      if (targetType == 0) return kDriverNotCapable;
    }
    return StoreZero(targetType, target, targetLength);
  }
  if (IsCharacterType(sourceType))
    return ConvertText(static_cast<const char*>(source), sourceLength, offset, targetType, target, targetLength,
                       indicator);
  if (IsBinaryType(sourceType))
    return ConvertBinary(static_cast<const unsigned char*>(source), sourceLength, offset, targetType, target,
                         targetLength, indicator);
  switch (sourceType) {
    case SQL_INTEGER: {
      int32_t value = 0;
      std::memcpy(&value, source, sizeof value);
      const int64_t wide = isUnsigned ? static_cast<int64_t>(static_cast<uint32_t>(value)) : value;
      return ConvertInteger(wide, source, sizeof value, offset, targetType, target, targetLength, indicator);
    }
    case SQL_SMALLINT: {
      int16_t value = 0;
      std::memcpy(&value, source, sizeof value);
      const int64_t wide = isUnsigned ? static_cast<int64_t>(static_cast<uint16_t>(value)) : value;
      return ConvertInteger(wide, source, sizeof value, offset, targetType, target, targetLength, indicator);
    }
    case SQL_TINYINT: {
      const unsigned char byte = *static_cast<const unsigned char*>(source);
      const int64_t wide = isUnsigned ? byte : static_cast<int8_t>(byte);
      return ConvertInteger(wide, source, 1, offset, targetType, target, targetLength, indicator);
    }
    case SQL_BIT: {
      const unsigned char bit = *static_cast<const unsigned char*>(source) != 0 ? 1 : 0;
      if (IsDateTarget(targetType) || IsTimeTarget(targetType) || IsTimestampTarget(targetType))
        return kConversionError;
      return ConvertInteger(bit, &bit, 1, offset, targetType, target, targetLength, indicator);
    }
    case SQL_FLOAT:
    case SQL_DOUBLE: {
      double value = 0;
      std::memcpy(&value, source, sizeof value);
      return ConvertFloating(value, false, source, targetType, target, targetLength, indicator);
    }
    case SQL_REAL: {
      float value = 0;
      std::memcpy(&value, source, sizeof value);
      return ConvertFloating(value, true, source, targetType, target, targetLength, indicator);
    }
    case SQL_DATE:
    case SQL_TYPE_DATE: {
      DATE_STRUCT value{};
      std::memcpy(&value, source, sizeof value);
      return ConvertDate(value, offset, targetType, target, targetLength, indicator);
    }
    case SQL_TIME:
    case SQL_TYPE_TIME: {
      TIME_STRUCT value{};
      std::memcpy(&value, source, sizeof value);
      return ConvertTime(value, offset, targetType, target, targetLength, indicator);
    }
    case SQL_TIMESTAMP:
    case SQL_TYPE_TIMESTAMP: {
      TIMESTAMP_STRUCT value{};
      std::memcpy(&value, source, sizeof value);
      return ConvertTimestamp(value, offset, targetType, target, targetLength, indicator);
    }
    default: return kDriverNotCapable;
  }
}

}  // namespace kivodbc
