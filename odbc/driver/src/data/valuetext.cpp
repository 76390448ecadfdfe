#include "data/valuetext.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <limits>
#include <string>
#include <string_view>

#include "handles/messages.h"

namespace kivodbc {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

std::string_view TextOf(const char* text, SQLLEN length) {
  return text == nullptr ? std::string_view() : std::string_view(text, ResolveLength(text, length));
}

// Reads a literal from the front of a text.
class Reader {
 public:
  explicit Reader(std::string_view text) : s_(text) {}
  bool AtEnd() const { return s_.empty(); }
  char Peek() const { return s_.empty() ? 0 : s_.front(); }
  void SkipBlanks() {
    while (!s_.empty() && s_.front() == ' ') s_.remove_prefix(1);
  }
  // A keyword or punctuation, letters without regard to case.
  bool Accept(std::string_view word) {
    if (s_.size() < word.size()) return false;
    for (size_t i = 0; i < word.size(); ++i)
      if (Upper(s_[i]) != Upper(word[i])) return false;
    s_.remove_prefix(word.size());
    return true;
  }
  bool Digits(int count, int* value) {
    if (s_.size() < static_cast<size_t>(count)) return false;
    int v = 0;
    for (int i = 0; i < count; ++i) {
      if (!IsDigit(s_[i])) return false;
      v = v * 10 + (s_[i] - '0');
    }
    s_.remove_prefix(count);
    *value = v;
    return true;
  }

 private:
  std::string_view s_;
};

struct DateTimeValue {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  unsigned long fraction = 0;
};

enum class Kind { kDate, kTime, kTimestamp };

bool ReadDate(Reader& r, DateTimeValue& v) {
  return r.Digits(4, &v.year) && r.Accept("-") && r.Digits(2, &v.month) && r.Accept("-") &&
         r.Digits(2, &v.day);
}

bool ReadTime(Reader& r, DateTimeValue& v, bool escaped) {
  if (!(r.Digits(2, &v.hour) && r.Accept(":") && r.Digits(2, &v.minute))) return false;
  if (r.Accept(":")) {
    if (!r.Digits(2, &v.second)) return false;
  } else if (escaped) {
    return false;
  }
  if (escaped) return true;
  // The plain form may end in an AM or PM marker.
  r.SkipBlanks();
  const char marker = Upper(r.Peek());
  if (marker != 'A' && marker != 'P') return true;
  r.Accept(std::string_view(&marker, 1));
  if (!r.Accept("M")) r.Accept(" ");
  if (marker == 'A') {
    if (v.hour == 12) v.hour = 0;
  } else {
    if (v.hour == 0) return false;
    if (v.hour < 12) v.hour += 12;
  }
  return true;
}

bool ReadTimestamp(Reader& r, DateTimeValue& v) {
  if (!(ReadDate(r, v) && r.Accept(" ") && r.Digits(2, &v.hour) && r.Accept(":") && r.Digits(2, &v.minute) &&
        r.Accept(":") && r.Digits(2, &v.second)))
    return false;
  if (!r.Accept(".")) return true;
  int digits = 0;
  unsigned long fraction = 0;
  while (digits < 9 && IsDigit(r.Peek())) {
    int d = 0;
    r.Digits(1, &d);
    fraction = fraction * 10 + d;
    ++digits;
  }
  for (int i = digits; i < 9; ++i) fraction *= 10;
  v.fraction = fraction;
  return true;
}

bool ReadBody(Reader& r, Kind kind, bool escaped, DateTimeValue& v) {
  switch (kind) {
    case Kind::kDate: return ReadDate(r, v);
    case Kind::kTime: return ReadTime(r, v, escaped);
    case Kind::kTimestamp: return ReadTimestamp(r, v);
  }
  return false;
}

bool ReadLiteral(std::string_view text, Kind kind, DateTimeValue& v) {
  Reader r(text);
  r.SkipBlanks();
  const std::string_view letters = kind == Kind::kDate ? "d" : kind == Kind::kTime ? "t" : "ts";
  bool ok = false;
  if (r.Accept("{")) {
    r.SkipBlanks();
    ok = r.Accept(letters);
    r.SkipBlanks();
    ok = ok && r.Accept("'") && ReadBody(r, kind, true, v) && r.Accept("'");
    r.SkipBlanks();
    ok = ok && r.Accept("}");
  } else if (r.Accept("--(*")) {
    static const std::string_view kWords[] = {"vendor", "(", "Microsoft", ")", ",", "product", "(", "ODBC", ")"};
    ok = true;
    for (std::string_view word : kWords) {
      r.SkipBlanks();
      ok = ok && r.Accept(word);
    }
    r.SkipBlanks();
    ok = ok && r.Accept(letters);
    r.SkipBlanks();
    ok = ok && r.Accept("'") && ReadBody(r, kind, true, v) && r.Accept("'");
    r.SkipBlanks();
    ok = ok && r.Accept("*)--");
  } else {
    ok = ReadBody(r, kind, false, v);
  }
  r.SkipBlanks();
  return ok && r.AtEnd();
}

int DaysInMonth(int year, int month) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month == 2 && (year % 400 == 0 || (year % 4 == 0 && year % 100 != 0))) return 29;
  return kDays[month - 1];
}

bool ValidDate(const DateTimeValue& v) {
  return v.month >= 1 && v.month <= 12 && v.day >= 1 && v.day <= DaysInMonth(v.year, v.month);
}
bool ValidTime(const DateTimeValue& v) { return v.hour <= 23 && v.minute <= 59 && v.second <= 59; }

// Copies a formatted text of at most bufferLength - 1 characters and a NUL.
void CopyFormatted(const char* text, char* out, size_t bufferLength) {
  if (bufferLength == 0) return;
  const size_t n = std::min(std::strlen(text), bufferLength - 1);
  std::memcpy(out, text, n);
  out[n] = 0;
}

constexpr uint64_t kDigitLimit = (std::numeric_limits<uint64_t>::max() - 9) / 10;

}  // namespace

size_t ResolveLength(const char* text, SQLLEN length) {
  if (length == SQL_NTS) return text == nullptr ? 0 : std::strlen(text);
  return length < 0 ? 0 : static_cast<size_t>(length);
}

namespace {

// 10 to the power n (n >= 0); exact up to 10^22, from the table.
double PowerOfTen(long n) {
  static constexpr double kExact[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                      1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  if (n < static_cast<long>(std::size(kExact))) return kExact[n];
  return std::pow(10.0, static_cast<double>(n));
}

}  // namespace

bool NumberTextIsZero(const char* text, size_t length) {
  bool nonZeroDigit = false;
  for (size_t i = 0; i < length && text[i] != 0; ++i) {
    const char c = text[i];
    if (c >= '1' && c <= '9') {
      nonZeroDigit = true;
    } else if (c != '0' && c != ' ' && c != '.' && c != '-' && c != '+') {
      // Exponents and the like: the full parse decides.
      return std::strtod(std::string(text, ::strnlen(text, length)).c_str(), nullptr) == 0.0;
    }
  }
  return !nonZeroDigit;
}

int ParseNumberText(const char* text, SQLLEN length, bool fractionCheck, double minimum, double maximum,
                    double* out) {
  std::string_view s = TextOf(text, length);
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  bool negative = false;
  if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  double digits = 0;
  int fractionDigits = 0;
  bool inFraction = false;
  bool truncated = false;
  long exponent = 0;
  size_t i = 0;
  for (; i < s.size(); ++i) {
    const char c = s[i];
    if (IsDigit(c)) {
      digits = digits * 10 + (c - '0');
      if (inFraction) {
        ++fractionDigits;
        if (fractionCheck && c != '0') truncated = true;
      }
    } else if (c == '.') {
      if (inFraction) return kAssignmentError;
      inFraction = true;
    } else if ((c == 'E' || c == 'e') && i > 0) {
      ++i;
      bool negativeExponent = false;
      if (i < s.size() && (s[i] == '+' || s[i] == '-')) negativeExponent = s[i++] == '-';
      if (i >= s.size() || !IsDigit(s[i])) return kAssignmentError;
      for (; i < s.size() && IsDigit(s[i]); ++i) exponent = std::min(exponent * 10 + (s[i] - '0'), 100000L);
      if (negativeExponent) exponent = -exponent;
      break;
    } else if (c == ' ') {
      break;
    } else {
      return kAssignmentError;
    }
  }
  for (; i < s.size(); ++i)
    if (s[i] != ' ') return kAssignmentError;
  const long scale = exponent - fractionDigits;
  double value = scale >= 0 ? digits * PowerOfTen(scale) : digits / PowerOfTen(-scale);
  if (negative) value = -value;
  if (out != nullptr) *out = value;
  if (value < minimum || value > maximum) return kOutOfRange;
  return truncated ? kDataTruncated : 0;
}

int FormatDoubleText(double value, bool exponentAllowed, char* out, size_t bufferLength) {
  for (;;) {
    char text[400];
    std::snprintf(text, sizeof text, "%lf", value);
    if (std::strchr(text, '.') != nullptr) {
      size_t n = std::strlen(text);
      while (n > 0 && text[n - 1] == '0') text[--n] = 0;
      if (n > 0 && text[n - 1] == '.') text[--n] = 0;
    }
    const size_t n = std::strlen(text);
    const bool tooSmall = (std::strcmp(text, "0") == 0 || std::strcmp(text, "-0") == 0) && value != 0;
    if (n < bufferLength && !(tooSmall && exponentAllowed)) {
      std::memcpy(out, text, n + 1);
      return 0;
    }
    if (!exponentAllowed) {
      std::memcpy(out, text, std::min(n, bufferLength));
      return 1;
    }
    std::snprintf(text, sizeof text, "%lE", value);
    if (std::strlen(text) < bufferLength) {
      std::memcpy(out, text, std::strlen(text) + 1);
      return 0;
    }
    exponentAllowed = false;
  }
}

int ParseDateText(const char* text, SQLLEN length, DATE_STRUCT* out) {
  DateTimeValue v;
  if (!ReadLiteral(TextOf(text, length), Kind::kDate, v)) return kConversionError;
  const bool empty = v.year == 0 && v.month == 0 && v.day == 0;
  if (!empty && !ValidDate(v)) return kConversionError;
  out->year = static_cast<SQLSMALLINT>(v.year);
  out->month = static_cast<SQLUSMALLINT>(v.month);
  out->day = static_cast<SQLUSMALLINT>(v.day);
  return 0;
}

int ParseTimeText(const char* text, SQLLEN length, TIME_STRUCT* out) {
  DateTimeValue v;
  if (!ReadLiteral(TextOf(text, length), Kind::kTime, v) || !ValidTime(v)) return kConversionError;
  out->hour = static_cast<SQLUSMALLINT>(v.hour);
  out->minute = static_cast<SQLUSMALLINT>(v.minute);
  out->second = static_cast<SQLUSMALLINT>(v.second);
  return 0;
}

int ParseTimestampText(const char* text, SQLLEN length, TIMESTAMP_STRUCT* out) {
  DateTimeValue v;
  if (!ReadLiteral(TextOf(text, length), Kind::kTimestamp, v)) return kConversionError;
  const bool empty = v.year == 0 && v.month == 0 && v.day == 0 && v.hour == 0 && v.minute == 0 &&
                     v.second == 0 && v.fraction == 0;
  if (!empty && !(ValidDate(v) && ValidTime(v))) return kConversionError;
  out->year = static_cast<SQLSMALLINT>(v.year);
  out->month = static_cast<SQLUSMALLINT>(v.month);
  out->day = static_cast<SQLUSMALLINT>(v.day);
  out->hour = static_cast<SQLUSMALLINT>(v.hour);
  out->minute = static_cast<SQLUSMALLINT>(v.minute);
  out->second = static_cast<SQLUSMALLINT>(v.second);
  out->fraction = static_cast<SQLUINTEGER>(v.fraction);
  return 0;
}

int FormatDateText(const DATE_STRUCT& value, char* out, size_t bufferLength) {
  if (value.year < 0 || value.year > 9999 || value.month >= 100 || value.day >= 100) return kOutOfRange;
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u", value.year, value.month, value.day);
  CopyFormatted(text, out, bufferLength);
  return 0;
}

int FormatTimeText(const TIME_STRUCT& value, char* out, size_t bufferLength) {
  if (value.hour >= 100 || value.minute >= 100 || value.second >= 100) return kOutOfRange;
  char text[32];
  std::snprintf(text, sizeof text, "%02u:%02u:%02u", value.hour, value.minute, value.second);
  CopyFormatted(text, out, bufferLength);
  return 0;
}

int FormatTimestampText(const TIMESTAMP_STRUCT& value, char* out, size_t bufferLength) {
  if (value.year < 0 || value.year > 9999 || value.month >= 100 || value.day >= 100 || value.hour >= 100 ||
      value.minute >= 100 || value.second >= 100 || value.fraction > 999999999u)
    return kOutOfRange;
  char text[48];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u %02u:%02u:%02u.%03lu", value.year, value.month, value.day,
                value.hour, value.minute, value.second, static_cast<unsigned long>(value.fraction / 1000000));
  CopyFormatted(text, out, bufferLength);
  return 0;
}

int ParseNumericText(const char* text, SQLLEN length, SQL_NUMERIC_STRUCT* out) {
  std::string_view s = TextOf(text, length);
  size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  int sign = 1;
  if (i < s.size() && s[i] == '-') {
    sign = 0;
    ++i;
  }
  while (i < s.size() && s[i] == '0') ++i;
  uint64_t magnitude = 0;
  int precision = 0;
  int scale = 0;
  bool truncated = false;
  bool inFraction = false;
  auto store = [&](int code) {
    if (out != nullptr) {
      std::memset(out, 0, sizeof *out);
      out->precision = static_cast<SQLCHAR>(precision == 0 ? 1 : precision);
      out->scale = static_cast<SQLSCHAR>(scale);
      out->sign = static_cast<SQLCHAR>(sign);
      for (int b = 0; b < 8; ++b) out->val[b] = static_cast<SQLCHAR>(magnitude >> (8 * b));
    }
    return code;
  };
  if (i < s.size() && s[i] == '.') {
    inFraction = true;
    ++i;
    while (i < s.size() && s[i] == '0') {
      if (scale == 127) {
        magnitude = 0;
        precision = 1;
        scale = 0;
        sign = 1;
        return store(kDataTruncated);
      }
      ++scale;
      ++i;
    }
  }
  for (; i < s.size(); ++i) {
    const char c = s[i];
    if (c == '.') {
      if (inFraction) break;
      inFraction = true;
      continue;
    }
    if (!IsDigit(c)) break;
    const int digit = c - '0';
    if (inFraction && scale == 127) {
      if (digit != 0) truncated = true;
      continue;
    }
    if (magnitude <= kDigitLimit) {
      magnitude = magnitude * 10 + digit;
      ++precision;
      if (inFraction) ++scale;
    } else if (inFraction) {
      if (digit != 0) truncated = true;
    } else {
      if (--scale < -128) return kOutOfRange;
      truncated = true;
    }
  }
  for (; i < s.size(); ++i)
    if (s[i] != ' ') return kAssignmentError;
  return store(truncated ? kDataTruncated : 0);
}

int FormatNumericText(const SQL_NUMERIC_STRUCT& value, char* out, size_t bufferLength) {
  uint64_t magnitude = 0;
  for (int b = 7; b >= 0; --b) magnitude = (magnitude << 8) | value.val[b];
  char digitText[24];
  FormatUbigintText(magnitude, digitText, sizeof digitText);
  std::string digits = magnitude == 0 ? std::string() : std::string(digitText);
  const int scale = value.scale;
  std::string integer;
  std::string fraction;
  if (scale <= 0) {
    integer = digits + std::string(static_cast<size_t>(-scale), '0');
    if (magnitude == 0) integer = "0";
  } else if (static_cast<size_t>(scale) < digits.size()) {
    integer = digits.substr(0, digits.size() - scale);
    fraction = digits.substr(digits.size() - scale);
  } else {
    fraction = std::string(scale - digits.size(), '0') + digits;
  }
  const std::string sign = value.sign != 1 ? "-" : "";
  auto compose = [&](size_t fractionDigits) {
    std::string text = sign + integer;
    if (fractionDigits > 0) text += "." + fraction.substr(0, fractionDigits);
    if (integer.empty() && fractionDigits == 0) text += "0";
    return text;
  };
  std::string text = compose(fraction.size());
  int result = 0;
  if (text.size() + 1 > bufferLength) {
    result = kAssignmentError;
    for (size_t keep = fraction.size(); keep-- > 0;) {
      std::string cut = compose(keep);
      if (cut.size() + 1 <= bufferLength) {
        text = cut;
        result = kDataTruncated;
        break;
      }
    }
    if (result == kAssignmentError) return result;
  }
  std::memcpy(out, text.c_str(), text.size() + 1);
  return result;
}

int NumericToDouble(const SQL_NUMERIC_STRUCT& value, double* out) {
  uint64_t magnitude = 0;
  for (int b = 7; b >= 0; --b) magnitude = (magnitude << 8) | value.val[b];
  double result = static_cast<double>(magnitude);
  if (value.scale > 0) result /= std::pow(10.0, value.scale);
  if (value.scale < 0) result *= std::pow(10.0, -value.scale);
  *out = value.sign != 1 ? -result : result;
  return 0;
}

int DoubleToNumeric(double value, SQL_NUMERIC_STRUCT* out) {
  char text[400];
  std::snprintf(text, sizeof text, "%lf", value);
  return ParseNumericText(text, SQL_NTS, out);
}

namespace {

int ParseIntegerText(const char* text, SQLLEN length, bool allowSign, bool* negative, uint64_t* magnitude) {
  std::string_view s = TextOf(text, length);
  size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  *negative = false;
  if (allowSign && i < s.size() && s[i] == '-') {
    *negative = true;
    ++i;
  }
  uint64_t value = 0;
  bool overflow = false;
  for (; i < s.size() && IsDigit(s[i]); ++i) {
    const uint64_t digit = static_cast<uint64_t>(s[i] - '0');
    if (value > (std::numeric_limits<uint64_t>::max() - digit) / 10) overflow = true;
    value = value * 10 + digit;
  }
  bool truncated = false;
  if (i < s.size() && s[i] == '.') {
    for (++i; i < s.size() && IsDigit(s[i]); ++i)
      if (s[i] != '0') truncated = true;
  }
  for (; i < s.size(); ++i)
    if (s[i] != ' ') return kAssignmentError;
  if (overflow) return kOutOfRange;
  *magnitude = value;
  return truncated ? kDataTruncated : 0;
}

}  // namespace

int ParseBigintText(const char* text, SQLLEN length, int64_t* out) {
  bool negative = false;
  uint64_t magnitude = 0;
  const int code = ParseIntegerText(text, length, true, &negative, &magnitude);
  if (code != 0 && code != kDataTruncated) return code;
  const uint64_t limit = negative ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1;
  if (magnitude > limit) return kOutOfRange;
  if (out != nullptr)
    *out = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
  return code;
}

int ParseUbigintText(const char* text, SQLLEN length, uint64_t* out) {
  bool negative = false;
  uint64_t magnitude = 0;
  const int code = ParseIntegerText(text, length, false, &negative, &magnitude);
  if ((code == 0 || code == kDataTruncated) && out != nullptr) *out = magnitude;
  return code;
}

int FormatUbigintText(uint64_t value, char* out, size_t bufferLength) {
  char text[32];
  const uint64_t high = value / 10000000000ull;
  const uint64_t low = value % 10000000000ull;
  if (high != 0)
    std::snprintf(text, sizeof text, "%lu%010lu", static_cast<unsigned long>(high), static_cast<unsigned long>(low));
  else
    std::snprintf(text, sizeof text, "%lu", static_cast<unsigned long>(low));
  const size_t n = std::strlen(text);
  if (n >= bufferLength) return kAssignmentError;
  std::memcpy(out, text, n + 1);
  return 0;
}

int FormatBigintText(int64_t value, char* out, size_t bufferLength) {
  if (value >= 0) return FormatUbigintText(static_cast<uint64_t>(value), out, bufferLength);
  if (bufferLength < 2) return kAssignmentError;
  const int code = FormatUbigintText(0 - static_cast<uint64_t>(value), out + 1, bufferLength - 1);
  if (code == 0) out[0] = '-';
  return code;
}

int SignedBigintToDouble(int64_t value, double* out) {
  *out = static_cast<double>(value);
  return 0;
}

int UnsignedBigintToDouble(uint64_t value, double* out) {
  *out = static_cast<double>(value);
  return 0;
}

int DoubleToBigint(double value, int64_t* out) {
  if (std::isnan(value)) {
    *out = 0;
  } else if (value >= 9223372036854775808.0) {
    *out = std::numeric_limits<int64_t>::max();
  } else if (value < -9223372036854775808.0) {
    *out = std::numeric_limits<int64_t>::min();
  } else {
    *out = static_cast<int64_t>(value);
  }
  return 0;
}

namespace {

template <typename Length>
int CopyOut(char* out, Length bufferLength, Length* lengthOut, const char* text) {
  // A negative length for a buffer given is refused, and nothing is written.
  if (out != nullptr && bufferLength < 0) return kInvalidLength;
  if (text == nullptr) text = "";
  const size_t length = std::strlen(text);
  if (lengthOut != nullptr)
    *lengthOut = static_cast<Length>(std::min<size_t>(length, std::numeric_limits<Length>::max()));
  if (out == nullptr) return 0;
  if (bufferLength > 0 && length < static_cast<size_t>(bufferLength)) {
    std::memcpy(out, text, length + 1);
    return 0;
  }
  if (bufferLength <= 0) return kDataTruncated;
  std::memcpy(out, text, static_cast<size_t>(bufferLength) - 1);
  out[bufferLength - 1] = 0;
  return kDataTruncated;
}

}  // namespace

int CopyOutString(char* out, SQLSMALLINT bufferLength, SQLSMALLINT* lengthOut, const char* text) {
  return CopyOut<SQLSMALLINT>(out, bufferLength, lengthOut, text);
}

int CopyOutStringLong(char* out, SQLINTEGER bufferLength, SQLINTEGER* lengthOut, const char* text) {
  return CopyOut<SQLINTEGER>(out, bufferLength, lengthOut, text);
}

size_t ArgumentLength(const char* text, SQLLEN length, size_t maximum) {
  if (text == nullptr) return 0;
  return std::min(ResolveLength(text, length), maximum);
}

bool ScaleDecimalText(char* text, size_t capacity, int scale) {
  auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
  const char* p = text;
  while (*p == ' ') ++p;
  const bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  const char* whole = p;
  while (isDigit(*p)) ++p;
  const size_t wholeDigits = static_cast<size_t>(p - whole);
  const char* fraction = p;
  size_t fractionDigits = 0;
  if (*p == '.') {
    fraction = ++p;
    while (isDigit(*p)) ++p;
    fractionDigits = static_cast<size_t>(p - fraction);
  }
  while (*p == ' ') ++p;
  if (*p != 0 || scale < 0 || (wholeDigits == 0 && fractionDigits == 0) || fractionDigits > static_cast<size_t>(scale) ||
      (wholeDigits > 1 && *whole == '0'))
    return false;
  char out[64];
  size_t n = 0;
  const size_t needed = (negative ? 1 : 0) + std::max<size_t>(wholeDigits, 1) + (scale > 0 ? 1 + scale : 0);
  if (needed >= sizeof out || needed >= capacity) return false;
  if (negative) out[n++] = '-';
  if (wholeDigits == 0) out[n++] = '0';
  for (size_t i = 0; i < wholeDigits; ++i) out[n++] = whole[i];
  if (scale > 0) {
    out[n++] = '.';
    for (size_t i = 0; i < static_cast<size_t>(scale); ++i) out[n++] = i < fractionDigits ? fraction[i] : '0';
  }
  out[n] = 0;
  std::memcpy(text, out, n + 1);
  return true;
}

}  // namespace kivodbc
