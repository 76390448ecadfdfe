// Runtime basics the dataset components are written against: exceptions,
// text and number conversion, date/time, currency and BCD values, variants.
#ifndef KIVDS_RTL_H
#define KIVDS_RTL_H

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kivds {

// ---- Exceptions ----------------------------------------------------------

// Root of the library's exceptions; Message() is the text shown to users.
class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message), message_(message) {}
  const std::string& Message() const { return message_; }
  void SetMessage(std::string message) { message_ = std::move(message); }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

// A value outside the range of the type that must hold it.
class ERangeError : public Exception {
 public:
  ERangeError() : Exception("Range check error") {}
};

// Silent exception: ends an operation without an error display.
class EAbort : public Exception {
 public:
  EAbort() : Exception("Operation aborted") {}
};

class EDatabaseError : public Exception {
 public:
  using Exception::Exception;
};

class TComponent;
// Raises EDatabaseError; with a named component the text is "Name: message".
[[noreturn]] void DatabaseError(const std::string& message, const TComponent* component = nullptr);

// ---- Text ----------------------------------------------------------------

// ASCII-only comparison without case: <0, 0, >0.
int CompareText(std::string_view a, std::string_view b);
bool SameText(std::string_view a, std::string_view b);
std::string UpperCase(std::string_view s);            // ASCII letters only
std::string AnsiUpperCase(std::string_view s);        // Windows-1252 letters
std::string Trim(std::string_view s);                 // blanks and control characters
std::string TrimRight(std::string_view s);
// Splits `content` at any of `separators`; characters of `whiteSpace` at the
// start of a piece are skipped. Empty pieces are kept. Returns the count added.
int ExtractStrings(std::string_view separators, std::string_view whiteSpace,
                   std::string_view content, std::vector<std::string>& out);

// ---- Numbers -------------------------------------------------------------

struct TFormatSettings {
  char DecimalSeparator = '.';
  char DateSeparator = '/';
  char TimeSeparator = ':';
  std::string ShortDateFormat = "mm/dd/yyyy";  // tokens: yyyy yy mm m dd d
  std::string LongTimeFormat = "hh:nn:ss";     // tokens: hh h nn n ss s zzz
};
// Process-wide settings, as the locale gives them; tests may change them.
TFormatSettings& FormatSettings();

std::string IntToStr(int64_t value);
int StrToInt(std::string_view s);  // raises EConvertError
bool TryStrToInt(std::string_view s, int& value);
int StrToIntDef(std::string_view s, int fallback);
int64_t StrToInt64(std::string_view s);
double StrToFloat(std::string_view s);  // uses the locale decimal separator
bool TryStrToFloat(std::string_view s, double& value);

enum class TFloatFormat { ffGeneral, ffExponent, ffFixed };
// ffFixed: `precision` significant digits at most, `digits` decimals; a value
// that needs more than `precision` digits before the separator goes to
// exponent form. ffGeneral: shortest text of up to `precision` digits.
std::string FloatToStrF(double value, TFloatFormat format, int precision, int digits);
std::string FloatToStr(double value);  // ffGeneral, 15 digits

// ---- Date and time -------------------------------------------------------

// Days since 1899-12-30, the fraction is the time of day.
using TDateTime = double;
// Day 0 of TDateTime counted in days from 0001-01-01 = 1.
constexpr int DateDelta = 693594;
constexpr int64_t MSecsPerDay = 86400000;

TDateTime EncodeDate(int year, int month, int day);  // raises EConvertError
TDateTime EncodeTime(int hour, int min, int sec, int msec);
bool TryEncodeDate(int year, int month, int day, TDateTime& out);
void DecodeDate(TDateTime value, int& year, int& month, int& day);
void DecodeTime(TDateTime value, int& hour, int& min, int& sec, int& msec);
bool IsLeapYear(int year);

// Parsing and printing follow FormatSettings().
TDateTime StrToDate(std::string_view s);
TDateTime StrToTime(std::string_view s);
TDateTime StrToDateTime(std::string_view s);
std::string DateToStr(TDateTime value);
std::string TimeToStr(TDateTime value);
std::string DateTimeToStr(TDateTime value);  // the time part only when non-zero

// ---- Currency ------------------------------------------------------------

// Fixed point with four decimals, held as a 64-bit integer scaled by 10,000.
struct Currency {
  int64_t scaled = 0;
  static Currency FromScaled(int64_t v) { return Currency{v}; }
  static Currency FromDouble(double v);  // rounds half away from zero
  double ToDouble() const { return static_cast<double>(scaled) / 10000.0; }
  std::string ToString() const;  // shortest text, locale decimal separator
  friend bool operator==(Currency a, Currency b) { return a.scaled == b.scaled; }
};

// ---- BCD -----------------------------------------------------------------

// Decimal number of up to 64 digits; fixed size so that it can sit in a field
// buffer. Digits[0 .. Precision) are the digits, the last Scale of them are
// decimals. Zero has Precision 0 or all digits 0.
struct TBcd {
  uint8_t Precision = 0;
  uint8_t Scale = 0;
  bool Negative = false;
  char Digits[64] = {};
};

TBcd StrToBcd(std::string_view s);  // locale separator or '.'; raises EConvertError
bool TryStrToBcd(std::string_view s, TBcd& out);
std::string BcdToStr(const TBcd& bcd);  // locale separator, no trailing decimal zeros
Currency BcdToCurrency(const TBcd& bcd);  // rounds to 4 decimals; raises on overflow
TBcd CurrencyToBcd(Currency value, int precision = 20, int scale = 4);
double BcdToDouble(const TBcd& bcd);
TBcd DoubleToBcd(double value);
int BcdCompare(const TBcd& a, const TBcd& b);

// ---- Variants ------------------------------------------------------------

// A dynamically typed value: Unassigned, Null, or one of the scalar kinds,
// or an array of variants.
class Variant {
 public:
  enum class Kind { Empty, Null, Boolean, Integer, Float, Currency, Date, String, Array };

  Variant() = default;
  Variant(bool v) : kind_(Kind::Boolean), i_(v) {}
  Variant(int v) : kind_(Kind::Integer), i_(v) {}
  Variant(int64_t v) : kind_(Kind::Integer), i_(v) {}
  Variant(double v) : kind_(Kind::Float), d_(v) {}
  Variant(kivds::Currency v) : kind_(Kind::Currency), i_(v.scaled) {}
  Variant(const char* v) : kind_(Kind::String), s_(v) {}
  Variant(std::string v) : kind_(Kind::String), s_(std::move(v)) {}
  Variant(std::string_view v) : kind_(Kind::String), s_(v) {}
  static Variant Null();
  static Variant FromDate(TDateTime v);
  static Variant Array(std::vector<Variant> items);

  Kind kind() const { return kind_; }
  bool IsNull() const { return kind_ == Kind::Null; }
  bool IsEmpty() const { return kind_ == Kind::Empty; }
  bool IsNullOrEmpty() const { return IsNull() || IsEmpty(); }
  bool IsArray() const { return kind_ == Kind::Array; }
  const std::vector<Variant>& Items() const { return items_; }

  // Conversions; Null and Unassigned raise EConvertError except ToString
  // (empty text). Texts convert through the locale formats.
  std::string ToString() const;
  int64_t ToInt64() const;
  int ToInt() const;
  double ToDouble() const;
  bool ToBool() const;
  TDateTime ToDateTime() const;
  kivds::Currency ToCurrency() const;

  friend bool operator==(const Variant& a, const Variant& b);

 private:
  Kind kind_ = Kind::Empty;
  int64_t i_ = 0;
  double d_ = 0;
  std::string s_;
  std::vector<Variant> items_;
};

inline Variant VarArrayOf(std::vector<Variant> items) { return Variant::Array(std::move(items)); }
inline bool VarIsNull(const Variant& v) { return v.IsNull(); }

}  // namespace kivds

#endif
