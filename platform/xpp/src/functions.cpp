// Operators, number, text and date functions.
#include <cfloat>
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
    if (a.IsInteger() && b.IsInteger()) {
        int64_t x = a.AsInt(), y = b.AsInt();
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

double RoundHalfAway(double d, int decimals) {
    if (!std::isfinite(d)) return d;
    long double scale = std::pow(10.0L, decimals);
    long double r = static_cast<long double>(d) * scale;
    // a nudge of a few units in the last place, so that 2.675 rounds as written
    r += std::copysign(std::fabs(r) * 8 * static_cast<long double>(DBL_EPSILON), r);
    return static_cast<double>(std::round(r) / scale);
}

std::string FormatNumber(const Number& n, int decimals) {
    if (n.IsInteger()) {
        std::string s = std::to_string(n.AsInt());
        if (decimals > 0) s += "." + std::string(static_cast<size_t>(decimals), '0');
        return s;
    }
    double d = RoundHalfAway(n.AsDouble(), decimals);
    char buf[400];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, d);
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
    std::string all = (negative ? "-" : "") + (digits.empty() ? "0" : digits) + "." + fraction;
    return Number::Double(std::strtod(all.c_str(), nullptr), static_cast<int>(fraction.size()));
}

Value Int(const Value& n) {
    Number num = n.Num();
    if (num.IsInteger()) return num;
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
