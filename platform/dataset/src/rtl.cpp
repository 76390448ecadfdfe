#include "kivds/rtl.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "kivds/classes.h"
#include "kivwin/win.h"

namespace kivds {

void DatabaseError(const std::string& message, const TComponent* component) {
  if (component != nullptr && !component->Name().empty())
    throw EDatabaseError(component->Name() + ": " + message);
  throw EDatabaseError(message);
}

// ---- Text ----------------------------------------------------------------

namespace {
char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }
bool IsTrimmed(char c) { return static_cast<unsigned char>(c) <= ' '; }
}  // namespace

int CompareText(std::string_view a, std::string_view b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    int x = static_cast<unsigned char>(AsciiUpper(a[i]));
    int y = static_cast<unsigned char>(AsciiUpper(b[i]));
    if (x != y) return x - y;
  }
  return static_cast<int>(a.size()) - static_cast<int>(b.size());
}

bool SameText(std::string_view a, std::string_view b) { return CompareText(a, b) == 0; }

std::string UpperCase(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = AsciiUpper(c);
  return out;
}

std::string AnsiUpperCase(std::string_view s) { return kivwin::AnsiUpperCase(s); }

std::string Trim(std::string_view s) {
  while (!s.empty() && IsTrimmed(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsTrimmed(s.back())) s.remove_suffix(1);
  return std::string(s);
}

std::string TrimRight(std::string_view s) {
  while (!s.empty() && IsTrimmed(s.back())) s.remove_suffix(1);
  return std::string(s);
}

int ExtractStrings(std::string_view separators, std::string_view whiteSpace,
                   std::string_view content, std::vector<std::string>& out) {
  if (content.empty()) return 0;
  int added = 0;
  size_t pos = 0;
  while (true) {
    while (pos < content.size() && whiteSpace.find(content[pos]) != std::string_view::npos) ++pos;
    size_t end = content.find_first_of(separators, pos);
    out.emplace_back(content.substr(pos, end == std::string_view::npos ? std::string_view::npos
                                                                       : end - pos));
    ++added;
    if (end == std::string_view::npos) break;
    pos = end + 1;
  }
  return added;
}

// ---- Numbers -------------------------------------------------------------

TFormatSettings& FormatSettings() {
  static TFormatSettings settings;
  return settings;
}

std::string IntToStr(int64_t value) { return std::to_string(value); }

namespace {

std::string_view TrimView(std::string_view s) {
  while (!s.empty() && IsTrimmed(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsTrimmed(s.back())) s.remove_suffix(1);
  return s;
}

bool ParseInt64(std::string_view s, int64_t& value) {
  s = TrimView(s);
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  if (s.empty()) return false;
  auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  return ec == std::errc() && ptr == s.data() + s.size();
}

[[noreturn]] void NotValid(std::string_view s, const char* what) {
  throw EConvertError("'" + std::string(s) + "' is not a valid " + what);
}

// Replaces the locale separator by '.' so that from_chars can read the text.
std::string ToDotted(std::string_view s) {
  std::string out(TrimView(s));
  const char sep = FormatSettings().DecimalSeparator;
  if (sep != '.')
    for (char& c : out)
      if (c == sep) c = '.';
  return out;
}

std::string FromDotted(std::string s) {
  const char sep = FormatSettings().DecimalSeparator;
  for (char& c : s)
    if (c == '.') c = sep;
  return s;
}

// Rounds a plain decimal text (digits with an optional '.', no sign) to
// `decimals` places, half away from zero, and pads with zeros.
std::string RoundDecimalText(const std::string& text, int decimals) {
  size_t dot = text.find('.');
  std::string intPart = text.substr(0, dot);
  std::string frac = dot == std::string::npos ? "" : text.substr(dot + 1);
  if (intPart.empty()) intPart = "0";
  bool up = static_cast<int>(frac.size()) > decimals && frac[decimals] >= '5';
  if (static_cast<int>(frac.size()) > decimals) frac.resize(decimals);
  while (static_cast<int>(frac.size()) < decimals) frac += '0';
  std::string digits = intPart + frac;
  if (up) {
    int i = static_cast<int>(digits.size()) - 1;
    for (; i >= 0; --i) {
      if (digits[i] == '9') {
        digits[i] = '0';
      } else {
        ++digits[i];
        break;
      }
    }
    if (i < 0) digits.insert(digits.begin(), '1');
  }
  std::string whole = digits.substr(0, digits.size() - decimals);
  return decimals > 0 ? whole + "." + digits.substr(digits.size() - decimals) : whole;
}

bool IsAllZero(const std::string& text) {
  for (char c : text)
    if (c != '0' && c != '.') return false;
  return true;
}

}  // namespace

bool TryStrToInt(std::string_view s, int& value) {
  int64_t v = 0;
  if (!ParseInt64(s, v) || v < INT32_MIN || v > INT32_MAX) return false;
  value = static_cast<int>(v);
  return true;
}

int StrToInt(std::string_view s) {
  int v = 0;
  if (!TryStrToInt(s, v)) NotValid(s, "integer value");
  return v;
}

int StrToIntDef(std::string_view s, int fallback) {
  int v = 0;
  return TryStrToInt(s, v) ? v : fallback;
}

int64_t StrToInt64(std::string_view s) {
  int64_t v = 0;
  if (!ParseInt64(s, v)) NotValid(s, "integer value");
  return v;
}

bool TryStrToFloat(std::string_view s, double& value) {
  std::string text = ToDotted(s);
  std::string_view v(text);
  if (!v.empty() && v.front() == '+') v.remove_prefix(1);
  if (v.empty()) return false;
  auto [ptr, ec] = std::from_chars(v.data(), v.data() + v.size(), value);
  return ec == std::errc() && ptr == v.data() + v.size() && std::isfinite(value);
}

double StrToFloat(std::string_view s) {
  double v = 0;
  if (!TryStrToFloat(s, v)) NotValid(s, "floating point value");
  return v;
}

std::string FloatToStrF(double value, TFloatFormat format, int precision, int digits) {
  precision = std::clamp(precision, 1, 17);
  digits = std::clamp(digits, 0, 18);
  if (!std::isfinite(value)) return std::isnan(value) ? "NAN" : (value > 0 ? "INF" : "-INF");
  char buf[64];
  if (format == TFloatFormat::ffGeneral) {
    auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, precision);
    std::string s(buf, r.ptr);
    size_t e = s.find('e');
    if (e != std::string::npos) {  // 1.5e+20 -> 1.5E20, 1e-07 -> 1E-7
      std::string mant = s.substr(0, e);
      int exp = std::stoi(s.substr(e + 1));
      s = mant + "E" + std::to_string(exp);
    }
    return FromDotted(s);
  }
  // Round to `precision` significant digits first, half away from zero.
  auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, 17);
  std::string sci(buf, r.ptr);
  size_t e = sci.find('e');
  int exp = std::stoi(sci.substr(e + 1));
  const bool negative = sci[0] == '-';
  std::string mantDigits;
  for (size_t i = negative ? 1 : 0; i < e; ++i)
    if (sci[i] != '.') mantDigits += sci[i];
  const bool up = mantDigits[precision] >= '5';
  mantDigits.resize(precision);
  if (up) {
    int i = precision - 1;
    for (; i >= 0 && mantDigits[i] == '9'; --i) mantDigits[i] = '0';
    if (i >= 0) {
      ++mantDigits[i];
    } else {
      mantDigits.insert(mantDigits.begin(), '1');
      mantDigits.pop_back();
      ++exp;
    }
  }
  if (format == TFloatFormat::ffExponent || exp + 1 > precision) {
    std::string mant = (negative ? "-" : "") + mantDigits.substr(0, 1);
    if (precision > 1) mant += "." + mantDigits.substr(1);
    char sign = exp < 0 ? '-' : '+';
    char ebuf[16];
    std::snprintf(ebuf, sizeof ebuf, "%c%03d", sign, exp < 0 ? -exp : exp);
    return FromDotted(mant + "E" + ebuf);
  }
  // Place the decimal point.
  std::string plain;
  if (exp >= 0) {
    plain = mantDigits.substr(0, exp + 1);
    while (static_cast<int>(plain.size()) < exp + 1) plain += '0';
    if (static_cast<int>(mantDigits.size()) > exp + 1) plain += "." + mantDigits.substr(exp + 1);
  } else {
    plain = "0." + std::string(-exp - 1, '0') + mantDigits;
  }
  std::string fixed = RoundDecimalText(plain, digits);
  if (negative && !IsAllZero(fixed)) fixed = "-" + fixed;
  return FromDotted(fixed);
}

std::string FloatToStr(double value) {
  return FloatToStrF(value, TFloatFormat::ffGeneral, 15, 0);
}

// ---- Date and time -------------------------------------------------------

namespace {

// Days since 1970-01-01 of a civil date and back (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t yy = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yy + (m <= 2));
}

constexpr int64_t kUnixDay0 = 25569;  // 1970-01-01 as TDateTime

int DaysInMonth(int y, int m) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return (m == 2 && IsLeapYear(y)) ? 29 : days[m - 1];
}

// Reads the numbers of a date or time text; any non-digit separates.
std::vector<int> Numbers(std::string_view s, std::string* rest = nullptr) {
  std::vector<int> out;
  size_t i = 0;
  while (i < s.size()) {
    if (s[i] >= '0' && s[i] <= '9') {
      int v = 0;
      size_t start = i;
      while (i < s.size() && s[i] >= '0' && s[i] <= '9' && i - start < 9) v = v * 10 + (s[i++] - '0');
      out.push_back(v);
    } else if (s[i] == ' ' || s[i] == FormatSettings().DateSeparator ||
               s[i] == FormatSettings().TimeSeparator || s[i] == '.' || s[i] == '-' ||
               s[i] == '/' || s[i] == ':') {
      ++i;
    } else {
      if (rest) *rest = std::string(s.substr(i));
      break;
    }
  }
  return out;
}

std::string Pad(int v, int width) {
  std::string s = std::to_string(v);
  while (static_cast<int>(s.size()) < width) s.insert(s.begin(), '0');
  return s;
}

// Expands the tokens of a date or time format.
std::string FormatWith(const std::string& format, TDateTime value) {
  int y, mo, d, h, mi, s, ms;
  DecodeDate(value, y, mo, d);
  DecodeTime(value, h, mi, s, ms);
  std::string out;
  for (size_t i = 0; i < format.size();) {
    auto starts = [&](const char* tok) { return SameText(format.substr(i, std::strlen(tok)), tok); };
    if (starts("yyyy")) { out += Pad(y, 4); i += 4; }
    else if (starts("yy")) { out += Pad(y % 100, 2); i += 2; }
    else if (starts("mm")) { out += Pad(mo, 2); i += 2; }
    else if (starts("m")) { out += std::to_string(mo); i += 1; }
    else if (starts("dd")) { out += Pad(d, 2); i += 2; }
    else if (starts("d")) { out += std::to_string(d); i += 1; }
    else if (starts("hh")) { out += Pad(h, 2); i += 2; }
    else if (starts("h")) { out += std::to_string(h); i += 1; }
    else if (starts("nn")) { out += Pad(mi, 2); i += 2; }
    else if (starts("n")) { out += std::to_string(mi); i += 1; }
    else if (starts("ss")) { out += Pad(s, 2); i += 2; }
    else if (starts("s")) { out += std::to_string(s); i += 1; }
    else if (starts("zzz")) { out += Pad(ms, 3); i += 3; }
    else if (format[i] == '/') { out += FormatSettings().DateSeparator; ++i; }
    else if (format[i] == ':') { out += FormatSettings().TimeSeparator; ++i; }
    else out += format[i++];
  }
  return out;
}

}  // namespace

bool IsLeapYear(int year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

bool TryEncodeDate(int year, int month, int day, TDateTime& out) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month))
    return false;
  out = static_cast<double>(DaysFromCivil(year, month, day) + kUnixDay0);
  return true;
}

TDateTime EncodeDate(int year, int month, int day) {
  TDateTime v = 0;
  if (!TryEncodeDate(year, month, day, v)) throw EConvertError("Invalid argument to date encode");
  return v;
}

TDateTime EncodeTime(int hour, int min, int sec, int msec) {
  if (hour < 0 || hour > 23 || min < 0 || min > 59 || sec < 0 || sec > 59 || msec < 0 ||
      msec > 999)
    throw EConvertError("Invalid argument to time encode");
  return ((hour * 3600000.0) + min * 60000.0 + sec * 1000.0 + msec) / MSecsPerDay;
}

void DecodeDate(TDateTime value, int& year, int& month, int& day) {
  CivilFromDays(static_cast<int64_t>(std::trunc(value)) - kUnixDay0, year, month, day);
}

void DecodeTime(TDateTime value, int& hour, int& min, int& sec, int& msec) {
  double frac = std::fabs(value - std::trunc(value));
  int64_t ms = std::llround(frac * MSecsPerDay);
  if (ms >= MSecsPerDay) ms = MSecsPerDay - 1;
  hour = static_cast<int>(ms / 3600000);
  min = static_cast<int>(ms / 60000 % 60);
  sec = static_cast<int>(ms / 1000 % 60);
  msec = static_cast<int>(ms % 1000);
}

TDateTime StrToDate(std::string_view s) {
  std::vector<int> n = Numbers(s);
  if (n.size() != 3) NotValid(s, "date");
  // Order of year, month and day as the short format gives it.
  const std::string f = UpperCase(FormatSettings().ShortDateFormat);
  size_t py = f.find('Y'), pm = f.find('M'), pd = f.find('D');
  int y = 0, m = 0, d = 0;
  int order[3];
  int k = 0;
  for (size_t p = 0; p < f.size() && k < 3; ++p) {
    if (p == py) order[k++] = 0;
    else if (p == pm) order[k++] = 1;
    else if (p == pd) order[k++] = 2;
  }
  if (k != 3) NotValid(s, "date");
  for (int i = 0; i < 3; ++i) (order[i] == 0 ? y : order[i] == 1 ? m : d) = n[i];
  // A two-digit year is taken in a window around the year 2000.
  std::string yearText;
  if (y < 100) y += y < 50 ? 2000 : 1900;
  TDateTime v = 0;
  if (!TryEncodeDate(y, m, d, v)) NotValid(s, "date");
  return v;
}

TDateTime StrToTime(std::string_view s) {
  std::string rest;
  std::vector<int> n = Numbers(s, &rest);
  if (n.size() < 2 || n.size() > 4) NotValid(s, "time");
  int h = n[0];
  std::string suffix = UpperCase(Trim(rest));
  if (suffix == "PM" && h < 12) h += 12;
  else if (suffix == "AM" && h == 12) h = 0;
  else if (!suffix.empty() && suffix != "AM" && suffix != "PM") NotValid(s, "time");
  try {
    return EncodeTime(h, n[1], n.size() > 2 ? n[2] : 0, n.size() > 3 ? n[3] : 0);
  } catch (const EConvertError&) {
    NotValid(s, "time");
  }
}

TDateTime StrToDateTime(std::string_view s) {
  std::string text = Trim(s);
  size_t space = text.find(' ');
  if (space == std::string::npos) {
    if (text.find(FormatSettings().TimeSeparator) != std::string::npos &&
        text.find(FormatSettings().DateSeparator) == std::string::npos)
      return StrToTime(text);
    return StrToDate(text);
  }
  TDateTime date = StrToDate(text.substr(0, space));
  TDateTime time = StrToTime(text.substr(space + 1));
  return date >= 0 ? date + time : date - time;
}

std::string DateToStr(TDateTime value) { return FormatWith(FormatSettings().ShortDateFormat, value); }
std::string TimeToStr(TDateTime value) { return FormatWith(FormatSettings().LongTimeFormat, value); }

std::string DateTimeToStr(TDateTime value) {
  std::string s = DateToStr(value);
  if (value != std::trunc(value)) s += " " + TimeToStr(value);
  return s;
}

// ---- Currency ------------------------------------------------------------

Currency Currency::FromDouble(double v) {
  const double scaled = v * 10000.0;
  if (!(std::fabs(scaled) < 9.2e18)) throw EConvertError("Currency value out of range");
  return Currency{std::llround(scaled)};
}

std::string Currency::ToString() const { return BcdToStr(CurrencyToBcd(*this)); }

// ---- BCD -----------------------------------------------------------------

bool TryStrToBcd(std::string_view s, TBcd& out) {
  s = TrimView(s);
  TBcd b;
  if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
    b.Negative = s.front() == '-';
    s.remove_prefix(1);
  }
  std::string intDigits, fracDigits;
  bool seenSep = false, any = false;
  for (char c : s) {
    if (c >= '0' && c <= '9') {
      any = true;
      if (seenSep) fracDigits += c;
      else if (!(intDigits.empty() && c == '0')) intDigits += c;
    } else if (!seenSep && (c == FormatSettings().DecimalSeparator || c == '.')) {
      seenSep = true;
    } else {
      return false;
    }
  }
  if (!any || intDigits.size() + fracDigits.size() > sizeof b.Digits) return false;
  b.Precision = static_cast<uint8_t>(intDigits.size() + fracDigits.size());
  b.Scale = static_cast<uint8_t>(fracDigits.size());
  std::memcpy(b.Digits, (intDigits + fracDigits).data(), b.Precision);
  bool zero = true;
  for (int i = 0; i < b.Precision; ++i) zero = zero && b.Digits[i] == '0';
  if (zero) b.Negative = false;
  out = b;
  return true;
}

TBcd StrToBcd(std::string_view s) {
  TBcd b;
  if (!TryStrToBcd(s, b)) NotValid(s, "BCD value");
  return b;
}

namespace {
// "123.45" style text, '.' as the separator, all decimals kept.
std::string BcdPlain(const TBcd& bcd) {
  const int intCount = bcd.Precision - bcd.Scale;
  std::string ip(bcd.Digits, intCount > 0 ? intCount : 0);
  size_t nz = ip.find_first_not_of('0');
  ip = nz == std::string::npos ? "0" : ip.substr(nz);
  std::string fp(bcd.Digits + (intCount > 0 ? intCount : 0), bcd.Scale);
  return fp.empty() ? ip : ip + "." + fp;
}
}  // namespace

std::string BcdToStr(const TBcd& bcd) {
  std::string plain = BcdPlain(bcd);
  if (plain.find('.') != std::string::npos) {
    while (plain.back() == '0') plain.pop_back();
    if (plain.back() == '.') plain.pop_back();
  }
  if (bcd.Negative && !IsAllZero(plain)) plain = "-" + plain;
  return FromDotted(plain);
}

Currency BcdToCurrency(const TBcd& bcd) {
  std::string rounded = RoundDecimalText(BcdPlain(bcd), 4);
  __int128 v = 0;
  for (char c : rounded) {
    if (c == '.') continue;
    v = v * 10 + (c - '0');
    if (v > static_cast<__int128>(INT64_MAX)) throw EConvertError("BCD overflow");
  }
  return Currency{static_cast<int64_t>(bcd.Negative ? -v : v)};
}

TBcd CurrencyToBcd(Currency value, int precision, int scale) {
  scale = std::clamp(scale, 0, 4);
  const bool negative = value.scaled < 0;
  const uint64_t mag = negative ? 0 - static_cast<uint64_t>(value.scaled)
                                : static_cast<uint64_t>(value.scaled);
  std::string digits = std::to_string(mag);
  while (digits.size() < 5) digits.insert(digits.begin(), '0');
  std::string plain = digits.substr(0, digits.size() - 4) + "." + digits.substr(digits.size() - 4);
  std::string text = RoundDecimalText(plain, scale);
  TBcd b = StrToBcd(text);
  if (b.Precision > precision && precision > 0) throw EConvertError("BCD overflow");
  b.Negative = negative && !IsAllZero(text);
  return b;
}

double BcdToDouble(const TBcd& bcd) {
  std::string plain = BcdPlain(bcd);
  double v = 0;
  std::from_chars(plain.data(), plain.data() + plain.size(), v);
  return bcd.Negative ? -v : v;
}

TBcd DoubleToBcd(double value) {
  char buf[400];
  auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed);
  std::string text(buf, r.ptr);
  TBcd b;
  if (!TryStrToBcd(text, b)) {
    // More than 64 digits: keep the significant ones.
    r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, 0);
    b = StrToBcd(std::string(buf, r.ptr));
  }
  return b;
}

int BcdCompare(const TBcd& a, const TBcd& b) {
  std::string pa = BcdPlain(a), pb = BcdPlain(b);
  bool za = IsAllZero(pa), zb = IsAllZero(pb);
  const int sa = za ? 0 : (a.Negative ? -1 : 1);
  const int sb = zb ? 0 : (b.Negative ? -1 : 1);
  if (sa != sb) return sa < sb ? -1 : 1;
  auto split = [](const std::string& p, std::string& ip, std::string& fp) {
    size_t dot = p.find('.');
    ip = p.substr(0, dot);
    fp = dot == std::string::npos ? "" : p.substr(dot + 1);
  };
  std::string ia, fa, ib, fb;
  split(pa, ia, fa);
  split(pb, ib, fb);
  while (fa.size() < fb.size()) fa += '0';
  while (fb.size() < fa.size()) fb += '0';
  int c = ia.size() != ib.size() ? (ia.size() < ib.size() ? -1 : 1)
                                 : (ia + fa).compare(ib + fb);
  c = c < 0 ? -1 : (c > 0 ? 1 : 0);
  return sa < 0 ? -c : c;
}

// ---- Variants ------------------------------------------------------------

Variant Variant::Null() {
  Variant v;
  v.kind_ = Kind::Null;
  return v;
}

Variant Variant::FromDate(TDateTime value) {
  Variant v;
  v.kind_ = Kind::Date;
  v.d_ = value;
  return v;
}

Variant Variant::Array(std::vector<Variant> items) {
  Variant v;
  v.kind_ = Kind::Array;
  v.items_ = std::move(items);
  return v;
}

namespace {
[[noreturn]] void CannotConvert(Variant::Kind from, const char* to) {
  static const char* names[] = {"Empty", "Null", "Boolean", "Integer", "Double",
                                "Currency", "Date", "String", "Array"};
  throw EConvertError(std::string("Could not convert variant of type (") +
                      names[static_cast<int>(from)] + ") into type (" + to + ")");
}
}  // namespace

std::string Variant::ToString() const {
  switch (kind_) {
    case Kind::Empty:
    case Kind::Null: return {};
    case Kind::Boolean: return i_ ? "True" : "False";
    case Kind::Integer: return IntToStr(i_);
    case Kind::Float: return FloatToStr(d_);
    case Kind::Currency: return kivds::Currency{i_}.ToString();
    case Kind::Date: return DateTimeToStr(d_);
    case Kind::String: return s_;
    case Kind::Array: break;
  }
  CannotConvert(kind_, "String");
}

int64_t Variant::ToInt64() const {
  switch (kind_) {
    case Kind::Boolean:
    case Kind::Integer: return i_;
    case Kind::Float:
    case Kind::Date:
      if (!(std::fabs(d_) < 9.2e18)) CannotConvert(kind_, "Integer");
      return std::llrint(d_);
    case Kind::Currency: return std::llrint(static_cast<double>(i_) / 10000.0);
    case Kind::String: return StrToInt64(s_);
    default: CannotConvert(kind_, "Integer");
  }
}

int Variant::ToInt() const {
  int64_t v = ToInt64();
  if (v < INT32_MIN || v > INT32_MAX) throw EConvertError("Integer value out of range");
  return static_cast<int>(v);
}

double Variant::ToDouble() const {
  switch (kind_) {
    case Kind::Boolean:
    case Kind::Integer: return static_cast<double>(i_);
    case Kind::Float:
    case Kind::Date: return d_;
    case Kind::Currency: return static_cast<double>(i_) / 10000.0;
    case Kind::String: return StrToFloat(s_);
    default: CannotConvert(kind_, "Double");
  }
}

bool Variant::ToBool() const {
  switch (kind_) {
    case Kind::Boolean:
    case Kind::Integer:
    case Kind::Currency: return i_ != 0;
    case Kind::Float:
    case Kind::Date: return d_ != 0;
    case Kind::String:
      if (SameText(s_, "True")) return true;
      if (SameText(s_, "False")) return false;
      return StrToFloat(s_) != 0;
    default: CannotConvert(kind_, "Boolean");
  }
}

TDateTime Variant::ToDateTime() const {
  if (kind_ == Kind::String) return StrToDateTime(s_);
  if (kind_ == Kind::Null || kind_ == Kind::Empty || kind_ == Kind::Array)
    CannotConvert(kind_, "Date");
  return ToDouble();
}

Currency Variant::ToCurrency() const {
  switch (kind_) {
    case Kind::Currency: return kivds::Currency{i_};
    case Kind::Integer:
    case Kind::Boolean: return kivds::Currency{i_ * 10000};
    case Kind::String: return BcdToCurrency(StrToBcd(s_));
    default: return kivds::Currency::FromDouble(ToDouble());
  }
}

bool operator==(const Variant& a, const Variant& b) {
  using K = Variant::Kind;
  if (a.kind_ == b.kind_) {
    switch (a.kind_) {
      case K::Empty:
      case K::Null: return true;
      case K::Boolean:
      case K::Integer:
      case K::Currency: return a.i_ == b.i_;
      case K::Float:
      case K::Date: return a.d_ == b.d_;
      case K::String: return a.s_ == b.s_;
      case K::Array: return a.items_ == b.items_;
    }
  }
  auto numeric = [](K k) {
    return k == K::Integer || k == K::Float || k == K::Currency || k == K::Date;
  };
  if (numeric(a.kind_) && numeric(b.kind_)) return a.ToDouble() == b.ToDouble();
  return false;
}

}  // namespace kivds
