// Parameter value conversion: C type resolution, the conversion into each
// engine-side value type, and the appending of SQLPutData pieces.
#include "sql/paramconvert.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "data/convert.h"
#include "util/helpers.h"
#include "handles/messages.h"
#include "handles/records.h"
#include "data/valuetext.h"

namespace kivodbc {
namespace {

constexpr int kMalformedNumber = 2116;
constexpr size_t kMaxArgumentText = 1024;
constexpr uint32_t kCountSize = sizeof(uint32_t);

bool IsDateType(int16_t cType) { return cType == SQL_C_DATE || cType == SQL_C_TYPE_DATE; }
bool IsTimeType(int16_t cType) { return cType == SQL_C_TIME || cType == SQL_C_TYPE_TIME; }
bool IsTimestampType(int16_t cType) { return cType == SQL_C_TIMESTAMP || cType == SQL_C_TYPE_TIMESTAMP; }
bool IsDateTimeType(int16_t cType) { return IsDateType(cType) || IsTimeType(cType) || IsTimestampType(cType); }

// The 1-, 2- and 4-byte integer C types and SQL_C_BIT, resolved to a sign.
bool IsSmallInteger(int16_t cType) {
  switch (cType) {
    case SQL_C_SLONG:
    case SQL_C_ULONG:
    case SQL_C_SSHORT:
    case SQL_C_USHORT:
    case SQL_C_STINYINT:
    case SQL_C_UTINYINT:
    case SQL_C_BIT: return true;
    default: return false;
  }
}

bool IsNumberType(int16_t cType) {
  return IsSmallInteger(cType) || cType == SQL_C_NUMERIC || cType == SQL_C_FLOAT || cType == SQL_C_DOUBLE ||
         cType == SQL_C_SBIGINT || cType == SQL_C_UBIGINT;
}

// SQL_C_DEFAULT and the sign-neutral C types made definite; 0 when the SQL
// type has no default C type.
int16_t ResolveCType(int16_t cType, int16_t sqlType, const ParameterSigns& signs) {
  if (cType == SQL_C_DEFAULT) {
    switch (sqlType) {
      case SQL_CHAR:
      case SQL_VARCHAR:
      case SQL_LONGVARCHAR:
      case SQL_NUMERIC:
      case SQL_DECIMAL:
      case SQL_BIGINT: return SQL_C_CHAR;
      case SQL_INTEGER: cType = SQL_C_LONG; break;
      case SQL_SMALLINT: cType = SQL_C_SHORT; break;
      case SQL_TINYINT: cType = SQL_C_TINYINT; break;
      default: return DefaultCTypeOf(sqlType);
    }
  }
  switch (cType) {
    case SQL_C_LONG: return signs.integerUnsigned ? SQL_C_ULONG : SQL_C_SLONG;
    case SQL_C_SHORT: return signs.smallintUnsigned ? SQL_C_USHORT : SQL_C_SSHORT;
    case SQL_C_TINYINT: return signs.tinyintUnsigned ? SQL_C_UTINYINT : SQL_C_STINYINT;
    default: return cType;
  }
}

// A small integer C value, widened by its type's sign.
int64_t ReadSmallInteger(int16_t cType, const void* value) {
  switch (cType) {
    case SQL_C_SLONG: { int32_t v; std::memcpy(&v, value, sizeof v); return v; }
    case SQL_C_ULONG: { uint32_t v; std::memcpy(&v, value, sizeof v); return v; }
    case SQL_C_SSHORT: { int16_t v; std::memcpy(&v, value, sizeof v); return v; }
    case SQL_C_USHORT: { uint16_t v; std::memcpy(&v, value, sizeof v); return v; }
    case SQL_C_STINYINT: return *static_cast<const int8_t*>(value);
    default: return *static_cast<const uint8_t*>(value);  // SQL_C_UTINYINT, SQL_C_BIT
  }
}

template <typename T>
T ReadAs(const void* value) {
  T v;
  std::memcpy(&v, value, sizeof v);
  return v;
}

// A number C value as its decimal text; 0 or the formatting routine's code.
// A double takes the exponent form only when `exponentAllowed` and the plain
// one does not fit; a cut text keeps its terminator.
int NumberText(int16_t cType, const void* value, bool exponentAllowed, char* out, size_t size) {
  if (IsSmallInteger(cType)) {
    std::snprintf(out, size, "%lld", static_cast<long long>(ReadSmallInteger(cType, value)));
    return 0;
  }
  if (cType == SQL_C_UBIGINT) return FormatUbigintText(ReadAs<uint64_t>(value), out, size);
  if (cType == SQL_C_SBIGINT) return FormatBigintText(ReadAs<int64_t>(value), out, size);
  if (cType == SQL_C_NUMERIC) return FormatNumericText(ReadAs<SQL_NUMERIC_STRUCT>(value), out, size);
  const double number = cType == SQL_C_FLOAT ? ReadAs<float>(value) : ReadAs<double>(value);
  if (FormatDoubleText(number, exponentAllowed, out, size) != 0) out[size - 1] = 0;
  return 0;
}

// Makes room for `needed` bytes; the stored bytes stay.
int GrowParameterBuffer(ParameterValue* param, uint32_t needed) {
  const uint32_t size = ParameterBufferSize(param);
  if (needed <= size) return 0;
  const uint32_t newSize = NextBufferSize(size, needed);
  char* grown = static_cast<char*>(DrvAlloc(newSize));
  if (grown == nullptr) return kMemoryError;
  std::memcpy(grown, ParameterBuffer(param), size);
  DrvFree(param->grown);
  param->grown = grown;
  param->grownSize = newSize;
  return 0;
}

// Text appended at the append offset, always NUL-terminated.
int AppendText(ParameterValue* param, SQLLEN* appendOffset, const char* text, size_t length) {
  const size_t offset = appendOffset == nullptr ? 0 : static_cast<size_t>(*appendOffset);
  if (offset + length + 1 > UINT32_MAX) return kMemoryError;
  const int code = GrowParameterBuffer(param, static_cast<uint32_t>(offset + length + 1));
  if (code != 0) return code;
  char* buffer = ParameterBuffer(param);
  std::memcpy(buffer + offset, text, length);
  buffer[offset + length] = 0;
  if (appendOffset != nullptr) *appendOffset = static_cast<SQLLEN>(offset + length);
  return 0;
}

// Bytes appended after those stored; the byte count follows.
int AppendBytes(ParameterValue* param, SQLLEN* appendOffset, const unsigned char* bytes, size_t count) {
  const size_t offset = appendOffset == nullptr ? 0 : static_cast<size_t>(*appendOffset);
  if (kCountSize + offset + count > UINT32_MAX) return kMemoryError;
  const int code = GrowParameterBuffer(param, static_cast<uint32_t>(kCountSize + offset + count));
  if (code != 0) return code;
  char* buffer = ParameterBuffer(param);
  if (count > 0) std::memcpy(buffer + kCountSize + offset, bytes, count);
  const uint32_t total = static_cast<uint32_t>(offset + count);
  std::memcpy(buffer, &total, kCountSize);
  if (appendOffset != nullptr) *appendOffset = static_cast<SQLLEN>(total);
  return 0;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Hexadecimal text appended as bytes. A digit without its pair waits for the
// next piece when the value comes in pieces; else it is dropped (2102).
int AppendHex(ParameterValue* param, SQLLEN* appendOffset, const char* text, size_t length) {
  for (size_t i = 0; i < length; ++i)
    if (HexDigit(text[i]) < 0) return kConversionError;
  std::string bytes;
  bytes.reserve(length / 2 + 1);
  int high = param->pendingNibble != 0 ? (param->pendingNibble & 0x0F) : -1;
  for (size_t i = 0; i < length; ++i) {
    const int digit = HexDigit(text[i]);
    if (high < 0) {
      high = digit;
    } else {
      bytes.push_back(static_cast<char>(high << 4 | digit));
      high = -1;
    }
  }
  const int code =
      AppendBytes(param, appendOffset, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
  if (code != 0) return code;
  param->pendingNibble = 0;
  if (high < 0) return 0;
  if (appendOffset != nullptr) {
    param->pendingNibble = 0x10 | high;
    return 0;
  }
  return kDataTruncated;
}

bool IsBlank(char c) { return c == ' '; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Blanks, an optional "-", digits, optionally "." and digits, blanks.
bool IsDecimalText(const char* text, size_t length) {
  size_t i = 0;
  while (i < length && IsBlank(text[i])) ++i;
  if (i < length && text[i] == '-') ++i;
  while (i < length && IsDigit(text[i])) ++i;
  if (i < length && text[i] == '.') {
    ++i;
    while (i < length && IsDigit(text[i])) ++i;
  }
  while (i < length && IsBlank(text[i])) ++i;
  return i == length;
}

void SetArgument(char* argument, size_t argumentSize, const char* text, size_t length) {
  if (argument == nullptr || argumentSize == 0) return;
  const size_t n = std::min({length, kMaxArgumentText, argumentSize - 1});
  std::memcpy(argument, text, n);
  argument[n] = 0;
}

// A binary value read as the fixed-size C type it stands for, when it is
// long enough.
bool BinaryHolds(int16_t cType, const void* value, SQLLEN length) {
  return ResolveLength(static_cast<const char*>(value), length) >= FixedCTypeSize(cType);
}

int ConvertToText(ParameterValue* param, SQLLEN* appendOffset, int16_t cType, const void* value, SQLLEN length) {
  char* buffer = ParameterBuffer(param);
  const uint32_t size = ParameterBufferSize(param);
  if (IsDateType(cType)) return FormatDateText(ReadAs<DATE_STRUCT>(value), buffer, size);
  if (IsTimeType(cType)) return FormatTimeText(ReadAs<TIME_STRUCT>(value), buffer, size);
  if (IsTimestampType(cType)) return FormatTimestampText(ReadAs<TIMESTAMP_STRUCT>(value), buffer, size);
  if (IsNumberType(cType)) return NumberText(cType, value, true, buffer, size);
  if (cType == SQL_C_CHAR || cType == SQL_C_BINARY) {
    const char* text = static_cast<const char*>(value);
    return AppendText(param, appendOffset, text, ResolveLength(text, length));
  }
  return kNotSupported;
}

int ConvertToDecimal(ParameterValue* param, const ParameterSigns& signs, int16_t cType, const void* value,
                     SQLLEN length, char* argument, size_t argumentSize) {
  if (cType == SQL_C_BINARY) {
    if (param->sqlType == SQL_NUMERIC || param->sqlType == SQL_DECIMAL)
      cType = SQL_C_NUMERIC;
    else if (param->sqlType == SQL_BIGINT)
      cType = signs.bigintUnsigned ? SQL_C_UBIGINT : SQL_C_SBIGINT;
    else
      return kInternalError;
    if (!BinaryHolds(cType, value, length)) return kOutOfRange;
  }
  if (IsDateTimeType(cType)) return kConversionError;
  char scratch[400];
  const char* text = scratch;
  size_t textLength = 0;
  int formatCode = 0;
  if (cType == SQL_C_CHAR) {
    text = static_cast<const char*>(value);
    textLength = ResolveLength(text, length);
    if (!IsDecimalText(text, textLength)) {
      SetArgument(argument, argumentSize, text, textLength);
      return kMalformedNumber;
    }
  } else if (IsNumberType(cType)) {
    // The plain form, whole: the rescaling reads no exponent and must see
    // every integer digit to refuse a value too large.
    formatCode = NumberText(cType, value, false, scratch, sizeof scratch);
    if (formatCode != 0 && formatCode != kDataTruncated) return formatCode;
    textLength = std::strlen(scratch);
  } else {
    return kNotSupported;
  }
  const int status = RescaleNumericText(text, textLength, ParameterBuffer(param), ParameterBufferSize(param),
                                        param->textCapacity, param->scale);
  const int code = ConversionStatusToError(status, false);
  if (code == kNumericOverflow && argument != nullptr && argumentSize > 0) argument[0] = 0;
  return code != 0 ? code : formatCode;
}

int ConvertToDouble(ParameterValue* param, const ParameterSigns& signs, int16_t cType, const void* value,
                    SQLLEN length) {
  if (cType == SQL_C_BINARY) {
    switch (param->sqlType) {
      case SQL_INTEGER: cType = signs.integerUnsigned ? SQL_C_ULONG : SQL_C_SLONG; break;
      case SQL_SMALLINT: cType = signs.smallintUnsigned ? SQL_C_USHORT : SQL_C_SSHORT; break;
      case SQL_FLOAT:
      case SQL_DOUBLE: cType = SQL_C_DOUBLE; break;
      case SQL_REAL: cType = SQL_C_FLOAT; break;
      case SQL_BIT: cType = SQL_C_BIT; break;
      default: return kInternalError;
    }
    if (!BinaryHolds(cType, value, length)) return kOutOfRange;
  }
  if (cType == SQL_C_CHAR)
    return ParseNumberText(static_cast<const char*>(value), length, false, -1.7e308, 1.7e308, &param->number);
  if (IsSmallInteger(cType)) {
    param->number = static_cast<double>(ReadSmallInteger(cType, value));
    return 0;
  }
  switch (cType) {
    case SQL_C_NUMERIC: return NumericToDouble(ReadAs<SQL_NUMERIC_STRUCT>(value), &param->number);
    case SQL_C_UBIGINT: return UnsignedBigintToDouble(ReadAs<uint64_t>(value), &param->number);
    case SQL_C_SBIGINT: return SignedBigintToDouble(ReadAs<int64_t>(value), &param->number);
    case SQL_C_FLOAT: param->number = ReadAs<float>(value); return 0;
    case SQL_C_DOUBLE: param->number = ReadAs<double>(value); return 0;
    default: return IsDateTimeType(cType) ? kConversionError : kNotSupported;
  }
}

DATE_STRUCT DateOf(const TIMESTAMP_STRUCT& stamp) {
  DATE_STRUCT date{};
  date.year = stamp.year;
  date.month = stamp.month;
  date.day = stamp.day;
  return date;
}

int ConvertToDate(ParameterValue* param, int16_t cType, const void* value, SQLLEN length) {
  const char* text = static_cast<const char*>(value);
  if (cType == SQL_C_CHAR) {
    if (ParseDateText(text, length, &param->date) == 0) return 0;
    // A timestamp text gives its date.
    TIMESTAMP_STRUCT stamp{};
    const int code = ParseTimestampText(text, length, &stamp);
    if (code == 0) param->date = DateOf(stamp);
    return code;
  }
  if (cType == SQL_C_BINARY && !BinaryHolds(SQL_C_DATE, value, length)) return kOutOfRange;
  if (IsDateType(cType) || cType == SQL_C_BINARY) {
    param->date = ReadAs<DATE_STRUCT>(value);
    return 0;
  }
  if (IsTimestampType(cType)) {
    param->date = DateOf(ReadAs<TIMESTAMP_STRUCT>(value));
    return 0;
  }
  return IsTimeType(cType) || IsNumberType(cType) ? kConversionError : kNotSupported;
}

int ConvertToTime(ParameterValue* param, int16_t cType, const void* value, SQLLEN length) {
  if (cType == SQL_C_CHAR) return ParseTimeText(static_cast<const char*>(value), length, &param->time);
  if (cType == SQL_C_BINARY && !BinaryHolds(SQL_C_TIME, value, length)) return kOutOfRange;
  if (IsTimeType(cType) || cType == SQL_C_BINARY) {
    param->time = ReadAs<TIME_STRUCT>(value);
    return 0;
  }
  if (IsTimestampType(cType)) {
    // The fraction has no place in a time.
    const TIMESTAMP_STRUCT stamp = ReadAs<TIMESTAMP_STRUCT>(value);
    param->time.hour = stamp.hour;
    param->time.minute = stamp.minute;
    param->time.second = stamp.second;
    return 0;
  }
  return IsDateType(cType) || IsNumberType(cType) ? kConversionError : kNotSupported;
}

int ConvertToTimestamp(ParameterValue* param, int16_t cType, const void* value, SQLLEN length) {
  if (cType == SQL_C_CHAR) return ParseTimestampText(static_cast<const char*>(value), length, &param->timestamp);
  if (cType == SQL_C_BINARY && !BinaryHolds(SQL_C_TIMESTAMP, value, length)) return kOutOfRange;
  if (IsTimestampType(cType) || cType == SQL_C_BINARY) {
    param->timestamp = ReadAs<TIMESTAMP_STRUCT>(value);
    return 0;
  }
  if (IsDateType(cType) || IsTimeType(cType)) {
    const DATE_STRUCT date = IsDateType(cType) ? ReadAs<DATE_STRUCT>(value) : TodayLocalDate();
    TIMESTAMP_STRUCT stamp{};
    stamp.year = date.year;
    stamp.month = date.month;
    stamp.day = date.day;
    if (IsTimeType(cType)) {
      const TIME_STRUCT time = ReadAs<TIME_STRUCT>(value);
      stamp.hour = time.hour;
      stamp.minute = time.minute;
      stamp.second = time.second;
    }
    param->timestamp = stamp;
    return 0;
  }
  return IsNumberType(cType) ? kConversionError : kNotSupported;
}

int ConvertToBinary(ParameterValue* param, SQLLEN* appendOffset, int16_t cType, const void* value, SQLLEN length) {
  if (cType == SQL_C_CHAR) {
    const char* text = static_cast<const char*>(value);
    return AppendHex(param, appendOffset, text, ResolveLength(text, length));
  }
  if (cType == SQL_C_BINARY)
    return AppendBytes(param, appendOffset, static_cast<const unsigned char*>(value),
                       ResolveLength(static_cast<const char*>(value), length));
  const size_t size = FixedCTypeSize(cType);
  if (size == 0) return kNotSupported;
  return AppendBytes(param, nullptr, static_cast<const unsigned char*>(value), size);
}

// The empty value of a NULL parameter.
int StoreNull(ParameterValue* param) {
  switch (param->valueType) {
    case kValueText:
    case kValueNumeric:
      param->fixed[0] = 0;
      ParameterBuffer(param)[0] = 0;
      return 0;
    case kValueInteger:
    case kValueDouble: param->number = 0; return 0;
    case kValueDate: param->date = DATE_STRUCT{}; return 0;
    case kValueTime: param->time = TIME_STRUCT{}; return 0;
    case kValueTimestamp: param->timestamp = TIMESTAMP_STRUCT{}; return 0;
    case kValueBinary: {
      const uint32_t zero = 0;
      std::memcpy(ParameterBuffer(param), &zero, kCountSize);
      return 0;
    }
    default: return kNotSupported;
  }
}

// The value converted by the parameter's value type.
int ConvertByValueType(ParameterValue* param, const ParameterSigns& signs, int16_t cType, const void* value,
                       SQLLEN lengthOrIndicator, char* argument, size_t argumentSize, SQLLEN* appendOffset) {
  switch (param->valueType) {
    case kValueText: return ConvertToText(param, appendOffset, cType, value, lengthOrIndicator);
    case kValueNumeric:
      return ConvertToDecimal(param, signs, cType, value, lengthOrIndicator, argument, argumentSize);
    case kValueInteger:
    case kValueDouble: return ConvertToDouble(param, signs, cType, value, lengthOrIndicator);
    case kValueDate: return ConvertToDate(param, cType, value, lengthOrIndicator);
    case kValueTime: return ConvertToTime(param, cType, value, lengthOrIndicator);
    case kValueTimestamp: return ConvertToTimestamp(param, cType, value, lengthOrIndicator);
    case kValueBinary: return ConvertToBinary(param, appendOffset, cType, value, lengthOrIndicator);
    default: return kNotSupported;
  }
}

}  // namespace

ParameterSigns SignsOfTypeTable(const TypeEntry* entries, size_t count) {
  ParameterSigns signs{};
  // The first entry of each SQL type speaks for it.
  bool seen[4] = {false, false, false, false};
  bool* flags[4] = {&signs.integerUnsigned, &signs.smallintUnsigned, &signs.tinyintUnsigned, &signs.bigintUnsigned};
  const int16_t types[4] = {SQL_INTEGER, SQL_SMALLINT, SQL_TINYINT, SQL_BIGINT};
  for (size_t i = 0; i < count; ++i) {
    for (int t = 0; t < 4; ++t) {
      if (entries[i].sqlType != types[t] || seen[t]) continue;
      seen[t] = true;
      *flags[t] = entries[i].unsignedAttribute == 1;
    }
  }
  return signs;
}

char* ParameterBuffer(ParameterValue* param) { return param->grown != nullptr ? param->grown : param->fixed; }
const char* ParameterBuffer(const ParameterValue* param) {
  return param->grown != nullptr ? param->grown : param->fixed;
}
uint32_t ParameterBufferSize(const ParameterValue* param) {
  return param->grown != nullptr ? param->grownSize : kParameterBufferSize;
}

uint32_t ParameterByteCount(const ParameterValue* param) {
  uint32_t count = 0;
  std::memcpy(&count, ParameterBuffer(param), kCountSize);
  return count;
}

const unsigned char* ParameterBytes(const ParameterValue* param) {
  return reinterpret_cast<const unsigned char*>(ParameterBuffer(param)) + kCountSize;
}

void ReleaseParameterValue(ParameterValue* param) {
  DrvFree(param->grown);
  param->grown = nullptr;
  param->grownSize = 0;
}

SQLLEN UnboundParameterLength(int16_t cType) {
  const size_t size = FixedCTypeSize(cType);
  return size == 0 ? SQL_NTS : static_cast<SQLLEN>(size);
}

int ConvertParameterValue(ParameterValue* param, const ParameterSigns& signs, SQLLEN* appendOffset, int16_t cType,
                          const void* value, SQLLEN lengthOrIndicator, char* argument, size_t argumentSize) {
  if (lengthOrIndicator == SQL_NULL_DATA) {
    param->isNull = 1;
    param->pendingNibble = 0;
    return StoreNull(param);
  }
  if (lengthOrIndicator == SQL_DEFAULT_PARAM) return kNotSupported;
  param->isNull = 0;
  cType = ResolveCType(cType, param->sqlType, signs);
  if (cType == 0) return kNotSupported;
  const bool pieces = cType == SQL_C_CHAR || cType == SQL_C_BINARY;
  // A length below zero is one of the ODBC special values or a mistake.
  if (pieces && lengthOrIndicator < 0 && lengthOrIndicator != SQL_NTS) return kInvalidLength;
  if (appendOffset != nullptr && *appendOffset <= 0) {
    *appendOffset = 0;
    param->pendingNibble = 0;
  } else if (appendOffset != nullptr && !pieces) {
    // A value of a fixed-size C type comes in one piece only.
    return kDataInPieces;
  }
  if (value == nullptr) return kInternalError;
  const int code = ConvertByValueType(param, signs, cType, value, lengthOrIndicator, argument, argumentSize,
                                     appendOffset);
  if (appendOffset != nullptr && !pieces && (code == 0 || code == kDataTruncated)) *appendOffset = 1;  // the value is in
  return code;
}

int FinishParameterValue(ParameterValue* param) {
  const bool odd = param->pendingNibble != 0;
  param->pendingNibble = 0;
  return odd ? kDataTruncated : 0;
}

}  // namespace kivodbc
