// Operators, number, text and date functions.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "internal.h"
#include "kivwin/win.h"
#include "xpp/error.h"
#include "xpp/functions.h"
#include "xpp/runtime.h"

namespace xpp {

namespace {

// ------------------------------------------------------------- comparisons

enum class Cmp { Eq, ExactEq, Lt, Le, Gt, Ge };

struct OpInfo {
    const char* name;
    int subCode;
};
OpInfo Info(Cmp op) {
    switch (op) {
        case Cmp::Eq: return {"=", 1071};
        case Cmp::ExactEq: return {"==", 1070};
        case Cmp::Lt: return {"<", 1073};
        case Cmp::Le: return {"<=", 1074};
        case Cmp::Gt: return {">", 1075};
        default: return {">=", 1076};
    }
}

bool MismatchError(Cmp op, const Value& a, const Value& b) {
    OpInfo info = Info(op);
    Value r = RuntimeError(EG_ARG, info.subCode, info.name, Array{a, b});
    return r.IsLogical() && r.Log();
}

bool Holds(Cmp op, int c) {
    switch (op) {
        case Cmp::Eq:
        case Cmp::ExactEq: return c == 0;
        case Cmp::Lt: return c < 0;
        case Cmp::Le: return c <= 0;
        case Cmp::Gt: return c > 0;
        default: return c >= 0;
    }
}

int CompareBytes(std::string_view a, std::string_view b) {
    size_t n = std::min(a.size(), b.size());
    int c = n ? std::memcmp(a.data(), b.data(), n) : 0;
    if (c != 0) return c < 0 ? -1 : 1;
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

std::string_view TrimRightBlanks(std::string_view s) {
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
}

// Texts: == is byte-exact. Otherwise with EXACT on, trailing blanks do not
// count; with EXACT off, the left text is cut to the length of the right
// one first (so "CUSTOMER" = "CUST", and anything = "").
int CompareText(Cmp op, std::string_view a, std::string_view b) {
    if (op == Cmp::ExactEq) return CompareBytes(a, b);
    if (Set(SET_EXACT).Log()) return CompareBytes(TrimRightBlanks(a), TrimRightBlanks(b));
    if (a.size() > b.size()) a = a.substr(0, b.size());
    return CompareBytes(a, b);
}

int CompareNumbers(const Number& a, const Number& b) {
    if (a.IsExact() && b.IsExact()) {
        // both to the places of the one with more decimals
        int places = std::max(a.Decimals(), b.Decimals());
        __int128 x = static_cast<__int128>(a.Units()) * detail::TenTo(places - a.Decimals());
        __int128 y = static_cast<__int128>(b.Units()) * detail::TenTo(places - b.Decimals());
        return x < y ? -1 : (x > y ? 1 : 0);
    }
    if (!a.IsInteger() && !b.IsInteger()) {
        // an exact decimal beside a double compares as its nearest double
        double x = a.AsDouble(), y = b.AsDouble();
        return x < y ? -1 : (x > y ? 1 : 0);
    }
    long double x = a.IsInteger() ? static_cast<long double>(a.AsInt()) : a.AsDouble();
    long double y = b.IsInteger() ? static_cast<long double>(b.AsInt()) : b.AsDouble();
    return x < y ? -1 : (x > y ? 1 : 0);
}

const void* IdentityOf(const Value& v) { return v.Identity(); }

bool Compare(Cmp op, const Value& a, const Value& b) {
    char ta = a.Type(), tb = b.Type();
    bool equality = op == Cmp::Eq || op == Cmp::ExactEq;
    if (ta != tb) {
        if (equality && (ta == 'U' || tb == 'U')) return false;
        return MismatchError(op, a, b);
    }
    switch (ta) {
        case 'U':
            if (equality) return true;
            return MismatchError(op, a, b);
        case 'C': return Holds(op, CompareText(op, a.Str(), b.Str()));
        case 'N': return Holds(op, CompareNumbers(a.Num(), b.Num()));
        case 'D': {
            int32_t x = a.Dat().Julian(), y = b.Dat().Julian();
            return Holds(op, x < y ? -1 : (x > y ? 1 : 0));
        }
        case 'L': return Holds(op, static_cast<int>(a.Log()) - static_cast<int>(b.Log()));
        case 'A':
        case 'O':
            if (equality) return IdentityOf(a) == IdentityOf(b);
            return MismatchError(op, a, b);
        case 'B':
            if (equality) return a.Blk().Same(b.Blk());
            return MismatchError(op, a, b);
    }
    return false;
}

// --------------------------------------------------------------- numbers

Number MakeDouble(double d, int decimals) { return Number::Double(d, decimals); }

// The digits of units / 10^decimals.
std::string DecimalText(int64_t units, int decimals) {
    uint64_t magnitude = units < 0 ? 0 - static_cast<uint64_t>(units) : static_cast<uint64_t>(units);
    std::string text = std::to_string(magnitude);
    if (decimals > 0) {
        if (text.size() <= static_cast<size_t>(decimals)) text.insert(0, static_cast<size_t>(decimals) + 1 - text.size(), '0');
        text.insert(text.size() - static_cast<size_t>(decimals), ".");
    }
    if (units < 0) text.insert(0, "-");
    return text;
}

// A double rounded to `decimals` places (negative: tens, hundreds, ...) as
// it is written: its shortest text that reads back as the same double,
// rounded half away from zero. `text` is the rounded number when `changed`;
// a double with no more places than asked is left as it is.
struct AsWritten {
    bool changed = false;
    std::string text;
};

AsWritten RoundAsWritten(double x, int decimals) {
    AsWritten out;
    if (!std::isfinite(x) || x == 0) return out;
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, std::fabs(x), std::chars_format::scientific);
    if (ec != std::errc()) return out;
    // d.ddde±x: the significant digits and the power of ten of the first
    std::string_view sci(buf, static_cast<size_t>(end - buf));
    size_t e = sci.find('e');
    std::string digits;
    for (char c : sci.substr(0, e))
        if (c != '.') digits += c;
    int exponent = std::atoi(std::string(sci.substr(e + 1)).c_str());
    int places = std::max(0, static_cast<int>(digits.size()) - 1 - exponent);
    if (places <= decimals) return out;
    out.changed = true;
    // the digits kept: those down to the asked place
    int keep = exponent + 1 + decimals;
    uint64_t units = 0;
    for (int i = 0; i < keep; ++i) units = units * 10 + static_cast<uint64_t>(digits[static_cast<size_t>(i)] - '0');
    if (keep >= 0 && digits[static_cast<size_t>(keep)] >= '5') ++units;
    auto count = static_cast<int64_t>(units);  // at most 17 digits
    out.text = DecimalText(x < 0 ? -count : count, std::max(decimals, 0));
    if (decimals < 0 && units != 0) out.text.append(static_cast<size_t>(-decimals), '0');
    return out;
}

double RoundHalfAway(double d, int decimals) {
    AsWritten r = RoundAsWritten(d, decimals);
    return r.changed ? std::strtod(r.text.c_str(), nullptr) : d;
}

// An exact decimal's units at fewer places `to` (negative: tens, ...),
// rounded half away from zero; the result counts units of 10^-to.
int64_t RoundUnits(int64_t units, int from, int to) {
    int drop = from - to;
    if (drop > 18) return 0;  // every 64-bit count is below half of 10^19
    int64_t scale = detail::TenTo(drop);
    int64_t q = units / scale, r = units % scale;
    if (r < 0) r = -r;
    if (r >= scale - r) q += units < 0 ? -1 : 1;
    return q;
}

std::string FormatNumber(const Number& n, int decimals) {
    if (n.IsExact()) {
        int places = n.Decimals();
        if (decimals >= places) {
            std::string s = DecimalText(n.Units(), places);
            if (decimals > places) {
                if (places == 0) s += '.';
                s.append(static_cast<size_t>(decimals - places), '0');
            }
            return s;
        }
        return DecimalText(RoundUnits(n.Units(), places, decimals), decimals);
    }
    AsWritten r = RoundAsWritten(n.AsDouble(), decimals);
    if (r.changed) return r.text;
    char buf[400];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, n.AsDouble());
    std::string s = buf;
    if (s == "-0" || (s.rfind("-0.", 0) == 0 && s.find_first_not_of("0.", 1) == std::string::npos))
        s.erase(0, 1);  // no negative zero
    return s;
}

Value ArithError(int subCode, const char* op, const Value& a, const Value& b) {
    return RuntimeError(EG_ARG, subCode, op, Array{a, b});
}

}  // namespace

bool Eq(const Value& a, const Value& b) { return Compare(Cmp::Eq, a, b); }
bool ExactEq(const Value& a, const Value& b) { return Compare(Cmp::ExactEq, a, b); }
bool Ne(const Value& a, const Value& b) { return !Compare(Cmp::Eq, a, b); }
bool Lt(const Value& a, const Value& b) { return Compare(Cmp::Lt, a, b); }
bool Le(const Value& a, const Value& b) { return Compare(Cmp::Le, a, b); }
bool Gt(const Value& a, const Value& b) { return Compare(Cmp::Gt, a, b); }
bool Ge(const Value& a, const Value& b) { return Compare(Cmp::Ge, a, b); }

bool Contains(const Value& part, const Value& whole) {
    if (!part.IsChar() || !whole.IsChar()) {
        Value r = RuntimeError(EG_ARG, 1109, "$", Array{part, whole});
        return r.IsLogical() && r.Log();
    }
    return whole.Str().find(part.Str()) != std::string::npos;
}

Value Plus(const Value& a, const Value& b) {
    if (a.IsChar() && b.IsChar()) return a.Str() + b.Str();
    if (a.IsNum() && b.IsNum()) {
        Number x = a.Num(), y = b.Num();
        int64_t r;
        if (x.IsInteger() && y.IsInteger() && !__builtin_add_overflow(x.AsInt(), y.AsInt(), &r)) return r;
        return MakeDouble(x.AsDouble() + y.AsDouble(), std::max(x.Decimals(), y.Decimals()));
    }
    if (a.IsDate() && b.IsNum()) return Date::FromJulian(a.Dat().Julian() + static_cast<int32_t>(b.Int()));
    if (a.IsNum() && b.IsDate()) return Date::FromJulian(b.Dat().Julian() + static_cast<int32_t>(a.Int()));
    return ArithError(1081, "+", a, b);
}

Value Minus(const Value& a, const Value& b) {
    if (a.IsChar() && b.IsChar()) {
        // the trailing blanks of the left text move to the end
        std::string left = RTrim(a.Str());
        return left + b.Str() + std::string(a.Str().size() - left.size(), ' ');
    }
    if (a.IsNum() && b.IsNum()) {
        Number x = a.Num(), y = b.Num();
        int64_t r;
        if (x.IsInteger() && y.IsInteger() && !__builtin_sub_overflow(x.AsInt(), y.AsInt(), &r)) return r;
        return MakeDouble(x.AsDouble() - y.AsDouble(), std::max(x.Decimals(), y.Decimals()));
    }
    if (a.IsDate() && b.IsNum()) return Date::FromJulian(a.Dat().Julian() - static_cast<int32_t>(b.Int()));
    if (a.IsDate() && b.IsDate()) return static_cast<int64_t>(a.Dat().Julian()) - b.Dat().Julian();
    return ArithError(1082, "-", a, b);
}

Value Times(const Value& a, const Value& b) {
    if (!a.IsNum() || !b.IsNum()) return ArithError(1083, "*", a, b);
    Number x = a.Num(), y = b.Num();
    int64_t r;
    if (x.IsInteger() && y.IsInteger() && !__builtin_mul_overflow(x.AsInt(), y.AsInt(), &r)) return r;
    return MakeDouble(x.AsDouble() * y.AsDouble(), std::min(15, x.Decimals() + y.Decimals()));
}

Value Divide(const Value& a, const Value& b) {
    if (!a.IsNum() || !b.IsNum()) return ArithError(1084, "/", a, b);
    Number x = a.Num(), y = b.Num();
    if (y.AsDouble() == 0) return RuntimeError(EG_ZERODIV, 1340, "/", Array{a, b});
    if (x.IsInteger() && y.IsInteger() && y.AsInt() != -1 && x.AsInt() % y.AsInt() == 0)
        return x.AsInt() / y.AsInt();
    return Number::FromDouble(x.AsDouble() / y.AsDouble());
}

// ------------------------------------------------------------------ numbers

std::string Str(const Value& n) {
    Number num = n.Num();
    int dec = num.Decimals();
    std::string s = FormatNumber(num, dec);
    size_t width = 10 + (dec > 0 ? static_cast<size_t>(dec) + 1 : 0);
    if (s.size() < width) s.insert(0, width - s.size(), ' ');
    return s;
}

std::string Str(const Value& n, int len, int dec) {
    if (len <= 0) return "";
    if (dec < 0) dec = 0;
    std::string s = FormatNumber(n.Num(), dec);
    if (s.size() > static_cast<size_t>(len)) return std::string(static_cast<size_t>(len), '*');
    s.insert(0, static_cast<size_t>(len) - s.size(), ' ');
    return s;
}

Value Val(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    std::string digits;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') digits += text[i++];
    bool point = i < text.size() && text[i] == '.';
    std::string fraction;
    if (point) {
        ++i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') fraction += text[i++];
    }
    if (digits.empty() && fraction.empty()) return 0;
    if (!point) {
        uint64_t v = 0;
        bool fits = true;
        for (char c : digits) {
            if (v > (UINT64_MAX - static_cast<uint64_t>(c - '0')) / 10) {
                fits = false;
                break;
            }
            v = v * 10 + static_cast<uint64_t>(c - '0');
        }
        if (fits && v <= (negative ? 9223372036854775808ULL : 9223372036854775807ULL))
            return negative ? static_cast<int64_t>(0 - v) : static_cast<int64_t>(v);
    }
    // a decimal text whose digits fit 64 bits is held exactly
    if (point && fraction.size() <= static_cast<size_t>(Number::kMaxDecimals)) {
        int64_t units = 0;
        bool fits = true;
        for (char c : digits + fraction) {
            if (__builtin_mul_overflow(units, 10, &units) || __builtin_add_overflow(units, c - '0', &units)) {
                fits = false;
                break;
            }
        }
        if (fits) return Number::Decimal(negative ? -units : units, static_cast<int>(fraction.size()));
    }
    std::string all = (negative ? "-" : "") + (digits.empty() ? "0" : digits) + "." + fraction;
    return Number::Double(std::strtod(all.c_str(), nullptr), static_cast<int>(fraction.size()));
}

Value Int(const Value& n) {
    Number num = n.Num();
    if (num.IsExact()) return num.AsInt();
    double t = std::trunc(num.AsDouble());
    if (std::fabs(t) < 9.2e18) return static_cast<int64_t>(t);
    return Number::Double(t, 0);
}

Value Round(const Value& n, int decimals) {
    Number num = n.Num();
    if (num.IsInteger()) {
        if (decimals >= 0) return num;
        int64_t scale = 1;
        for (int i = 0; i < -decimals && scale < 1000000000000000000LL; ++i) scale *= 10;
        int64_t v = num.AsInt();
        int64_t q = v / scale, r = v % scale;
        if (2 * (r < 0 ? -r : r) >= scale) q += v < 0 ? -1 : 1;
        return q * scale;
    }
    if (num.IsExact()) {
        if (decimals >= num.Decimals()) return num;
        int64_t units = RoundUnits(num.Units(), num.Decimals(), decimals);
        if (decimals > 0) return Number::Decimal(units, decimals);
        return units * detail::TenTo(-decimals);
    }
    double d = RoundHalfAway(num.AsDouble(), decimals);
    if (decimals <= 0 && std::fabs(d) < 9.2e18) return static_cast<int64_t>(d);
    return Number::Double(d, decimals < 0 ? 0 : decimals);
}

Value Abs(const Value& n) {
    Number num = n.Num();
    if (num.IsInteger()) {
        if (num.AsInt() >= 0) return num;
        if (num.AsInt() != INT64_MIN) return -num.AsInt();
        return Number::Double(9223372036854775808.0, 0);
    }
    if (num.IsExact()) return Number::Decimal(num.Units() < 0 ? -num.Units() : num.Units(), num.Decimals());
    return Number::Double(std::fabs(num.AsDouble()), num.Decimals());
}

Value Min(const Value& a, const Value& b) {
    if (a.Type() != b.Type() || !(a.IsNum() || a.IsDate()))
        return RuntimeError(EG_ARG, 1093, "MIN", Array{a, b});
    return Gt(a, b) ? b : a;
}

Value Max(const Value& a, const Value& b) {
    if (a.Type() != b.Type() || !(a.IsNum() || a.IsDate()))
        return RuntimeError(EG_ARG, 1092, "MAX", Array{a, b});
    return Lt(a, b) ? b : a;
}

// --------------------------------------------------------------------- text

std::string LTrim(std::string_view s) {
    size_t i = s.find_first_not_of(" \t\r\n");
    return i == std::string_view::npos ? std::string() : std::string(s.substr(i));
}

std::string RTrim(std::string_view s) { return std::string(TrimRightBlanks(s)); }

std::string AllTrim(std::string_view s) { return LTrim(RTrim(s)); }

std::string Upper(std::string_view s) { return kivwin::AnsiUpperCase(s); }
std::string Lower(std::string_view s) { return kivwin::AnsiLowerCase(s); }

std::string Left(std::string_view s, int64_t n) {
    if (n <= 0) return "";
    return std::string(s.substr(0, static_cast<size_t>(n)));
}

std::string Right(std::string_view s, int64_t n) {
    if (n <= 0) return "";
    if (static_cast<size_t>(n) >= s.size()) return std::string(s);
    return std::string(s.substr(s.size() - static_cast<size_t>(n)));
}

std::string SubStr(std::string_view s, int64_t start, int64_t count) {
    int64_t len = static_cast<int64_t>(s.size());
    if (start < 0) start = len + start + 1;
    if (start < 1) start = 1;
    if (start > len || count <= 0) return "";
    int64_t avail = len - start + 1;
    return std::string(s.substr(static_cast<size_t>(start - 1), static_cast<size_t>(std::min(count, avail))));
}

size_t At(std::string_view search, std::string_view s, size_t start) {
    if (search.empty() || start < 1 || start > s.size()) return 0;
    size_t p = s.find(search, start - 1);
    return p == std::string_view::npos ? 0 : p + 1;
}

size_t RAt(std::string_view search, std::string_view s) {
    if (search.empty()) return 0;
    size_t p = s.rfind(search);
    return p == std::string_view::npos ? 0 : p + 1;
}

std::string StrTran(std::string_view s, std::string_view search, std::string_view replace, size_t start,
                    size_t count) {
    if (search.empty() || count == 0) return std::string(s);
    if (start < 1) start = 1;
    std::string out;
    size_t pos = 0, match = 0, done = 0;
    for (;;) {
        size_t p = s.find(search, pos);
        if (p == std::string_view::npos) break;
        ++match;
        out.append(s.substr(pos, p - pos));
        if (match >= start && done < count) {
            out.append(replace);
            ++done;
        } else {
            out.append(search);
        }
        pos = p + search.size();
    }
    out.append(s.substr(pos));
    return out;
}

std::string Space(int64_t n) { return n > 0 ? std::string(static_cast<size_t>(n), ' ') : ""; }

std::string PadR(std::string_view s, int64_t n, char fill) {
    if (n <= 0) return "";
    std::string out(s.substr(0, static_cast<size_t>(n)));
    out.resize(static_cast<size_t>(n), fill);
    return out;
}

std::string Replicate(std::string_view s, int64_t n) {
    std::string out;
    for (int64_t i = 0; i < n; ++i) out.append(s);
    return out;
}

std::string Chr(int64_t code) { return std::string(1, static_cast<char>(static_cast<unsigned char>(code & 0xFF))); }

size_t Len(const Value& v) {
    if (v.IsChar()) return v.Str().size();
    if (v.IsArray()) return v.Arr().Len();
    return 0;
}

bool Empty(const Value& v) {
    switch (v.Type()) {
        case 'U': return true;
        case 'C': return v.Str().find_first_not_of(" \t\r\n") == std::string::npos;
        case 'N': return v.Num().AsDouble() == 0;
        case 'D': return v.Dat().IsEmpty();
        case 'L': return !v.Log();
        case 'A': return v.Arr().Len() == 0;
        default: return false;
    }
}

std::string ValType(const Value& v) { return std::string(1, v.Type()); }

std::string ConvToAnsiCP(std::string_view oem) { return kivwin::OemToAnsi(oem); }

// -------------------------------------------------------------------- dates

std::string DToS(const Date& d) {
    if (d.IsEmpty()) return std::string(8, ' ');
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d", d.Year(), d.Month(), d.Day());
    return buf;
}

Date SToD(std::string_view s) {
    if (s.size() != 8) return Date();
    for (char c : s)
        if (c < '0' || c > '9') return Date();
    auto num = [&](size_t at, size_t n) { return std::atoi(std::string(s.substr(at, n)).c_str()); };
    return Date::FromYMD(num(0, 4), num(4, 2), num(6, 2));
}

std::string DToC(const Date& d) {
    std::string format = Upper(Set(SET_DATEFORMAT).Str());
    std::string out = format;
    int y = d.Year(), m = d.Month(), day = d.Day();
    // fill each run of Y, M and D with the digits, right to left
    auto fill = [&](char letter, int value) {
        for (size_t i = out.size(); i-- > 0;) {
            if (format[i] != letter) continue;
            out[i] = d.IsEmpty() ? ' ' : static_cast<char>('0' + value % 10);
            value /= 10;
        }
    };
    fill('Y', y);
    fill('M', m);
    fill('D', day);
    return out;
}

Date CToD(std::string_view s) {
    std::string format = Upper(Set(SET_DATEFORMAT).Str());
    int y = 0, m = 0, d = 0, yDigits = 0;
    size_t n = std::min(format.size(), s.size());
    for (size_t i = 0; i < n; ++i) {
        char f = format[i];
        if (f != 'Y' && f != 'M' && f != 'D') continue;
        char c = s[i];
        if (c == ' ') continue;
        if (c < '0' || c > '9') return Date();
        int digit = c - '0';
        if (f == 'Y') {
            y = y * 10 + digit;
            ++yDigits;
        } else if (f == 'M') {
            m = m * 10 + digit;
        } else {
            d = d * 10 + digit;
        }
    }
    if (yDigits == 0) return Date();
    if (yDigits <= 2) y += y < 50 ? 2000 : 1900;  // two-digit years: 1950..2049
    return Date::FromYMD(y, m, d);
}

int Year(const Date& d) { return d.Year(); }
int Month(const Date& d) { return d.Month(); }
int Day(const Date& d) { return d.Day(); }

}  // namespace xpp
