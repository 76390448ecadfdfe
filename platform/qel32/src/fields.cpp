#include "fields.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "dates.h"
#include "errors.h"
#include "paths.h"

namespace qel32 {

namespace {

struct TypeName {
    const char* name;
    uint16_t code;
};

// Order matters: a word names the first type it is a prefix of.
constexpr TypeName kTypeNames[] = {
    {"CHARACTER", KIV_FT_CHARACTER}, {"CICHARACTER", KIV_FT_CICHARACTER},
    {"CURDOUBLE", KIV_FT_CURDOUBLE}, {"DATE", KIV_FT_DATE},
    {"DOUBLE", KIV_FT_DOUBLE},       {"LOGICAL", KIV_FT_LOGICAL},
    {"MEMO", KIV_FT_MEMO},           {"MONEY", KIV_FT_MONEY},
    {"MODTIME", KIV_FT_MODTIME},     {"NUMERIC", KIV_FT_NUMERIC},
    {"TIME", KIV_FT_TIME},           {"TIMESTAMP", KIV_FT_TIMESTAMP},
    {"INTEGER", KIV_FT_INTEGER},     {"IMAGE", KIV_FT_IMAGE},
    {"SHORTINT", KIV_FT_SHORTINT},   {"SHORTDATE", KIV_FT_COMPACTDATE},
    {"BINARY", KIV_FT_BINARY},       {"BLOB", KIV_FT_BINARY},
    {"RAW", KIV_FT_RAW},             {"AUTOINC", KIV_FT_AUTOINC},
    {"VARCHAR", KIV_FT_VARCHAR},     {"ROWVERSION", KIV_FT_ROWVERSION},
    {"GENERAL", KIV_FT_GENERAL},     {"PICTURE", KIV_FT_PICTURE},
};

std::string Trimmed(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return std::string(s.substr(b, e - b));
}

std::vector<std::string> Split(std::string_view s, char sep) {
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        const size_t pos = s.find(sep, start);
        out.emplace_back(s.substr(start, pos == std::string_view::npos ? std::string_view::npos : pos - start));
        if (pos == std::string_view::npos) break;
        start = pos + 1;
    }
    return out;
}

bool ParseUnsigned(const std::string& text, uint32_t& out) {
    if (text.empty()) return false;
    auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && p == text.data() + text.size();
}

[[noreturn]] void BadDef(const std::string& text) { Throw(KIV_ERR_BAD_FIELD_DEF, text); }

uint32_t LE32(const uint8_t* p) { uint32_t v; std::memcpy(&v, p, 4); return v; }
void PutLE32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

bool BlankOrZero(const uint8_t* p, uint32_t n, bool zeroMeansEmpty) {
    for (uint32_t i = 0; i < n; ++i)
        if (!(p[i] == ' ' || (zeroMeansEmpty && p[i] == 0))) return false;
    return true;
}

bool AllZero(const uint8_t* p, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i)
        if (p[i]) return false;
    return true;
}

std::string TrimBoth(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\0')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\0')) --e;
    return std::string(s.substr(b, e - b));
}

bool ParseDouble(std::string_view text, double& out) {
    size_t b = 0, e = text.size();
    while (b < e && (text[b] == ' ' || text[b] == '\0')) ++b;
    while (e > b && (text[e - 1] == ' ' || text[e - 1] == '\0')) --e;
    if (b < e && text[b] == '+') ++b;
    if (b == e) return false;
    // Numeric fields hold plain decimals: read them as a scaled integer, which
    // rounds exactly like a full parse (one division by an exact power of ten).
    static constexpr double kPow10[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10,
                                        1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18};
    {
        size_t i = b;
        const bool negative = text[i] == '-';
        if (negative) ++i;
        uint64_t mantissa = 0;
        int digits = 0, scale = -1;
        bool plain = i < e;
        for (; i < e && plain; ++i) {
            const char c = text[i];
            if (c >= '0' && c <= '9') {
                if (++digits > 15) plain = false;
                mantissa = mantissa * 10 + static_cast<uint64_t>(c - '0');
                if (scale >= 0) ++scale;
            } else if (c == '.' && scale < 0) {
                scale = 0;
            } else {
                plain = false;
            }
        }
        if (plain && digits > 0) {
            const double value = static_cast<double>(mantissa) / kPow10[scale < 0 ? 0 : scale];
            out = negative ? -value : value;
            return true;
        }
    }
    const char* first = text.data() + b;
    const char* last = text.data() + e;
    auto [p, ec] = std::from_chars(first, last, out);
    return ec == std::errc() && p == last && std::isfinite(out);
}

bool ParseInt64(std::string_view text, int64_t& out) {
    const std::string t = TrimBoth(text);
    if (t.empty()) return false;
    const char* b = t.data();
    if (*b == '+') ++b;
    auto [p, ec] = std::from_chars(b, t.data() + t.size(), out);
    if (ec == std::errc() && p == t.data() + t.size()) return true;
    // Accept a whole number written with a fraction of zeros ("12.00").
    double d;
    if (ParseDouble(t, d) && d == std::floor(d) && std::fabs(d) < 9.2e18) {
        out = static_cast<int64_t>(d);
        return true;
    }
    return false;
}

bool ParseLogical(std::string_view text, bool& out, bool& empty) {
    std::string t = Upper(TrimBoth(text));
    empty = false;
    if (t.empty() || t == "?") { empty = true; return true; }
    if (t.size() > 2 && t.front() == '.' && t.back() == '.') t = t.substr(1, t.size() - 2);
    if (t == "T" || t == "Y" || t == "TRUE" || t == "YES" || t == "1") { out = true; return true; }
    if (t == "F" || t == "N" || t == "FALSE" || t == "NO" || t == "0") { out = false; return true; }
    return false;
}

[[noreturn]] void NoConvert(const FieldDef& f, std::string_view what) {
    Throw(KIV_ERR_CONVERSION, "Cannot convert " + std::string(what) + " for field " + f.name);
}

[[noreturn]] void DoesNotFit(const FieldDef& f) {
    Throw(KIV_ERR_INT_RANGE, "Value does not fit field " + f.name);
}

[[noreturn]] void Damaged(const FieldDef& f) {
    Throw(KIV_ERR_CORRUPT_FILE, "The stored value of field " + f.name + " is damaged");
}

// Days and times of day as given to a field: a day within the calendar
// (0 and below mean no date) and a time within the day.
void CheckDay(const FieldDef& f, int32_t jd) {
    if (jd > 0 && !ValidJulian(jd))
        Throw(KIV_ERR_CONVERSION, "Day " + std::to_string(jd) + " is not a date of years 1 to 9999 for field " + f.name);
}

void CheckTimeOfDay(const FieldDef& f, int32_t ms) {
    if (ms < 0 || ms >= kMsPerDay)
        Throw(KIV_ERR_CONVERSION, std::to_string(ms) + " milliseconds is not a time of day for field " + f.name);
}

std::string FormatNumeric(const FieldDef& f, double v) {
    // Most values are formatted here from a scaled integer; values close to a
    // rounding boundary or too large for it go through printf's exact rounding.
    static constexpr double kScale[] = {1, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9};
    if (f.decimals < 10 && std::fabs(v) < 1e15) {
        const double x = std::fabs(v) * kScale[f.decimals];
        const double frac = x - std::floor(x);
        if (std::fabs(frac - 0.5) > 1e-6 && x < 9e15) {
            uint64_t n = static_cast<uint64_t>(std::llround(x));
            char digits[32];
            int len = 0;
            do {
                digits[len++] = static_cast<char>('0' + n % 10);
                n /= 10;
            } while (n || len <= f.decimals);
            std::string out;
            if (v < 0 && !(len == 1 && digits[0] == '0') && std::llround(x) != 0) out += '-';
            for (int i = len - 1; i >= 0; --i) {
                out += digits[i];
                if (i == f.decimals && f.decimals) out += '.';
            }
            if (out.size() > f.length) DoesNotFit(f);
            return std::string(f.length - out.size(), ' ') + out;
        }
    }
    char buf[400];
    const int n = std::snprintf(buf, sizeof buf, "%*.*f", static_cast<int>(f.length), f.decimals, v);
    if (n < 0 || static_cast<uint32_t>(n) > f.length) DoesNotFit(f);
    return std::string(buf, n);
}

namespace {

// A plain decimal number ("-12.345", "1.5e-3") rounded half away from zero
// to `decimals` places, as "-12.35"; false when the text is no such number.
bool RoundDecimalText(std::string_view text, uint16_t decimals, std::string& out) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    std::string digits;
    long point = -1;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c >= '0' && c <= '9') digits += c;
        else if (c == '.' && point < 0) point = static_cast<long>(digits.size());
        else break;
    }
    if (digits.empty()) return false;
    if (point < 0) point = static_cast<long>(digits.size());
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        size_t at = i + 1;
        if (at < text.size() && text[at] == '+') ++at;
        long exponent = 0;
        const auto [end, ec] = std::from_chars(text.data() + at, text.data() + text.size(), exponent);
        if (ec != std::errc() || end != text.data() + text.size() || std::labs(exponent) > 400) return false;
        point += exponent;
        i = text.size();
    }
    if (i != text.size()) return false;
    // The digits with the point `point` places from their start.
    if (point < 0) {
        digits.insert(0, static_cast<size_t>(-point), '0');
        point = 0;
    }
    if (static_cast<long>(digits.size()) < point + decimals) digits.resize(static_cast<size_t>(point + decimals), '0');
    const size_t keep = static_cast<size_t>(point + decimals);
    const bool up = digits.size() > keep && digits[keep] >= '5';
    digits.resize(keep);
    if (up) {
        size_t k = keep;
        while (k > 0 && digits[k - 1] == '9') digits[--k] = '0';
        if (k == 0) {
            digits.insert(0, 1, '1');
            ++point;
        } else {
            ++digits[k - 1];
        }
    }
    std::string whole = digits.substr(0, static_cast<size_t>(point));
    whole.erase(0, std::min(whole.find_first_not_of('0'), whole.size()));
    if (whole.empty()) whole = "0";
    const std::string fraction = digits.substr(static_cast<size_t>(point));
    const bool zero = whole == "0" && fraction.find_first_not_of('0') == std::string::npos;
    out = (negative && !zero ? "-" : "") + whole + (decimals ? "." + fraction : "");
    return true;
}

}  // namespace

std::string ShortestDouble(double v) {
    char buf[64];
    auto [p, ec] = std::to_chars(buf, buf + sizeof buf, v);
    return ec == std::errc() ? std::string(buf, p) : std::string("0");
}

// Splits "date time" text into its parts.
bool ParseStampText(std::string_view text, int32_t& jd, int32_t& ms) {
    std::string t = TrimBoth(text);
    if (t.empty()) { jd = 0; ms = 0; return true; }
    // A "T" separates a time only when a date stands before it.
    size_t split = t.find(' ');
    if (split == std::string::npos) split = t.find('T');
    if (split == 0) return false;
    std::string datePart = split == std::string::npos ? t : t.substr(0, split);
    std::string timePart = split == std::string::npos ? "" : TrimBoth(t.substr(split + 1));
    auto d = ParseDate(datePart);
    if (!d) return false;
    jd = *d;
    ms = 0;
    if (!timePart.empty()) {
        auto m = ParseTime(timePart);
        if (!m) return false;
        ms = *m;
    }
    return true;
}

}  // namespace

uint16_t FieldTypeFromName(std::string_view rawWord, uint16_t tableType) {
    const std::string word = Upper(Trimmed(rawWord));
    if (word.empty()) return 0;
    for (const auto& t : kTypeNames)
        if (word == t.name) return t.code;
    if (word == "SHORT") return KIV_FT_SHORTINT;
    if (word == "CHAR") return KIV_FT_CHARACTER;
    if (word == "B") return KIV_FT_DOUBLE;  // as in DBF headers, not a prefix of BINARY
    for (const auto& t : kTypeNames)
        if (std::strncmp(t.name, word.c_str(), word.size()) == 0) return t.code;
    if (word.size() == 1) {
        switch (word[0]) {
            case 'F': return IsDbfType(tableType) ? KIV_FT_NUMERIC : KIV_FT_DOUBLE;
            case 'Y': return KIV_FT_CURDOUBLE;
            case 'X': return KIV_FT_RAW;
            case 'O': case 'W': return KIV_FT_BINARY;
            case 'G': return KIV_FT_IMAGE;
        }
    }
    return 0;
}

char DbfLetter(uint16_t type) {
    switch (type) {
        case KIV_FT_LOGICAL: return 'L';
        case KIV_FT_NUMERIC: return 'N';
        case KIV_FT_DATE: return 'D';
        case KIV_FT_CHARACTER: return 'C';
        case KIV_FT_MEMO: return 'M';
        // Varchar and binary values live in the memo file as memos do: they
        // take the memo letters other DBF readers know (a text memo, a
        // picture); the descriptor's reserved bytes keep the engine's type.
        case KIV_FT_BINARY: return 'P';
        case KIV_FT_IMAGE: return 'G';
        case KIV_FT_VARCHAR: return 'M';
        case KIV_FT_DOUBLE: return 'B';
        case KIV_FT_INTEGER: return 'I';
        case KIV_FT_TIMESTAMP: return 'T';
        case KIV_FT_MONEY: return 'Y';
        default: return 0;
    }
}

uint16_t TypeFromDbfLetter(char letter) {
    switch (letter) {
        case 'L': return KIV_FT_LOGICAL;
        case 'N': case 'F': return KIV_FT_NUMERIC;
        case 'D': return KIV_FT_DATE;
        case 'C': return KIV_FT_CHARACTER;
        case 'M': return KIV_FT_MEMO;
        case 'W': return KIV_FT_BINARY;  // tables of older versions of the engine
        case 'G': case 'P': return KIV_FT_IMAGE;
        case 'V': return KIV_FT_VARCHAR;  // tables of older versions of the engine
        case 'B': return KIV_FT_DOUBLE;
        case 'I': return KIV_FT_INTEGER;
        case 'T': return KIV_FT_TIMESTAMP;
        case 'Y': return KIV_FT_MONEY;
        case '0': return KIV_FT_RAW;  // the null flags of version 0x30 tables
        default: return 0;
    }
}

void LayoutFields(std::vector<FieldDef>& fields, uint16_t tableType) {
    const bool dbf = IsDbfType(tableType);
    const size_t nameLimit = dbf ? 10 : 128;
    uint32_t offset = 1;
    for (size_t i = 0; i < fields.size(); ++i) {
        FieldDef& f = fields[i];
        if (f.name.empty()) BadDef("Field " + std::to_string(i + 1) + " has no name");
        if (f.name.size() > nameLimit)
            BadDef("Field name " + f.name + " is longer than " + std::to_string(nameLimit) + " characters");
        for (char c : f.name)
            if (c == ',' || c == ';' || static_cast<unsigned char>(c) < 0x20)
                BadDef("Field name " + f.name + " holds an invalid character");
        for (size_t j = 0; j < i; ++j)
            if (EqualsNoCase(fields[j].name, f.name)) BadDef("Duplicate field name " + f.name);
        if (dbf && !DbfLetter(f.type) && f.letter != '0')
            BadDef("Field type of " + f.name + " is not supported by this table type");
        if (f.type == 19 || f.type == 0 || (f.type > KIV_FT_MODTIME && !IsBlobType(f.type)))
            BadDef("Unknown field type for " + f.name);
        switch (f.type) {
            case KIV_FT_LOGICAL: f.length = 1; f.decimals = 0; break;
            case KIV_FT_NUMERIC:
                if (f.maxLength < 1 || f.maxLength > 32)
                    BadDef("Length of numeric field " + f.name + " must be 1 to 32");
                if (f.decimals && f.decimals + 2u > f.maxLength)
                    BadDef("Decimals of numeric field " + f.name + " do not fit its length");
                f.length = f.maxLength;
                break;
            case KIV_FT_DATE: f.length = dbf ? 8 : 4; f.decimals = 0; break;
            case KIV_FT_CHARACTER:
            case KIV_FT_CICHARACTER:
                if (f.maxLength < 1 || f.maxLength > (dbf ? 254u : 65000u))
                    BadDef("Length of character field " + f.name + " is out of range");
                f.length = f.maxLength;
                f.decimals = 0;
                break;
            case KIV_FT_RAW:
                if (f.maxLength < 1 || f.maxLength > 65000u) BadDef("Length of raw field " + f.name + " is out of range");
                f.length = f.maxLength;
                f.decimals = 0;
                break;
            case KIV_FT_VARCHAR:
                if (f.maxLength < 1 || f.maxLength > 65000u)
                    BadDef("Length of varchar field " + f.name + " is out of range");
                f.length = dbf ? (f.length == 4 ? 4 : 10) : 8;
                f.decimals = 0;
                break;
            case KIV_FT_COMPACTDATE: f.length = 3; f.decimals = 0; break;
            case KIV_FT_DOUBLE: case KIV_FT_CURDOUBLE: f.length = 8; break;
            case KIV_FT_INTEGER: case KIV_FT_AUTOINC: case KIV_FT_TIME: f.length = 4; f.decimals = 0; break;
            case KIV_FT_SHORTINT: f.length = 2; f.decimals = 0; break;
            case KIV_FT_TIMESTAMP: case KIV_FT_MODTIME: case KIV_FT_ROWVERSION: f.length = 8; f.decimals = 0; break;
            case KIV_FT_MONEY: f.length = 8; f.decimals = 4; break;
            default:  // blobs: a block number (4 bytes binary in version 0x30 tables)
                f.length = dbf ? (f.length == 4 ? 4 : 10) : 8;
                f.decimals = 0;
                break;
        }
        if (f.type != KIV_FT_VARCHAR && f.type != KIV_FT_NUMERIC && f.type != KIV_FT_CHARACTER &&
            f.type != KIV_FT_CICHARACTER && f.type != KIV_FT_RAW)
            f.maxLength = f.length;
        f.letter = !dbf ? 0 : f.letter == '0' ? '0' : DbfLetter(f.type);
        f.offset = offset;
        offset += f.length;
        if (offset > 65535) BadDef("Record is longer than 65535 bytes");
    }
}

uint32_t RecordLength(const std::vector<FieldDef>& fields) {
    uint32_t n = 1;
    for (const auto& f : fields) n += f.length;
    return n;
}

std::vector<FieldDef> ParseFieldDefs(std::string_view text, uint16_t tableType) {
    std::vector<FieldDef> fields;
    if (Trimmed(text).empty()) return fields;
    const auto entries = Split(text, ';');
    for (size_t i = 0; i < entries.size(); ++i) {
        if (Trimmed(entries[i]).empty()) {
            if (i + 1 == entries.size()) break;  // tolerate a trailing ';'
            BadDef("Empty field definition at position " + std::to_string(i + 1));
        }
        auto parts = Split(entries[i], ',');
        for (auto& p : parts) p = Trimmed(p);
        if (parts.size() < 2) BadDef("Field definition \"" + entries[i] + "\" has no type");
        FieldDef f;
        f.name = parts[0];
        f.type = FieldTypeFromName(parts[1], tableType);
        if (!f.type) BadDef("Unknown field type \"" + parts[1] + "\" for " + f.name);
        std::vector<uint32_t> nums;
        for (size_t k = 2; k < parts.size(); ++k) {
            uint32_t n;
            if (!ParseUnsigned(parts[k], n)) BadDef("Invalid number \"" + parts[k] + "\" for " + f.name);
            nums.push_back(n);
        }
        auto need = [&](size_t min, size_t max) {
            if (nums.size() < min || nums.size() > max)
                BadDef("Wrong number of sizes for field " + f.name);
        };
        switch (f.type) {
            case KIV_FT_CHARACTER: case KIV_FT_CICHARACTER: case KIV_FT_RAW: case KIV_FT_VARCHAR:
                need(1, 1);
                f.maxLength = nums[0];
                break;
            case KIV_FT_NUMERIC:
                need(1, 2);
                f.maxLength = nums[0];
                f.decimals = static_cast<uint16_t>(nums.size() > 1 ? nums[1] : 0);
                break;
            case KIV_FT_DOUBLE: case KIV_FT_CURDOUBLE:
                need(0, 1);
                f.decimals = static_cast<uint16_t>(nums.empty() ? 0 : nums[0]);
                if (f.decimals > 20) BadDef("Too many decimals for field " + f.name);
                break;
            default:
                need(0, 0);
                break;
        }
        fields.push_back(std::move(f));
    }
    LayoutFields(fields, tableType);
    return fields;
}

void SetEmptyImage(const FieldDef& f, uint8_t* image, uint16_t tableType) {
    uint8_t* p = image + f.offset;
    if (IsDbfType(tableType)) {
        std::memset(p, IsDbfBinaryField(f) ? 0 : ' ', f.length);
        return;
    }
    switch (f.type) {
        case KIV_FT_LOGICAL: p[0] = ' '; break;
        case KIV_FT_DOUBLE: case KIV_FT_CURDOUBLE:
            PutLE32(p, 0x00000020u); PutLE32(p + 4, 0x80000000u); break;
        case KIV_FT_INTEGER: PutLE32(p, 0x80000000u); break;
        case KIV_FT_SHORTINT: p[0] = 0x00; p[1] = 0x80; break;
        case KIV_FT_TIME: case KIV_FT_AUTOINC: PutLE32(p, 0xFFFFFFFFu); break;
        case KIV_FT_TIMESTAMP: case KIV_FT_MODTIME: PutLE32(p, 0); PutLE32(p + 4, 0xFFFFFFFFu); break;
        case KIV_FT_MONEY: case KIV_FT_ROWVERSION: PutLE32(p, 0); PutLE32(p + 4, 0x80000000u); break;
        default: std::memset(p, 0, f.length); break;
    }
}

bool IsEmptyImage(const FieldDef& f, const uint8_t* image, uint16_t tableType) {
    const uint8_t* p = image + f.offset;
    if (IsDbfType(tableType)) {
        if (f.type == KIV_FT_INTEGER || f.type == KIV_FT_DOUBLE || f.type == KIV_FT_MONEY)
            return false;  // never empty
        return BlankOrZero(p, f.length, true);
    }
    switch (f.type) {
        case KIV_FT_LOGICAL: return p[0] == ' ' || p[0] == 0 || p[0] == '?';
        case KIV_FT_DOUBLE: case KIV_FT_CURDOUBLE:
            return LE32(p) == 0x00000020u && LE32(p + 4) == 0x80000000u;
        case KIV_FT_INTEGER: return LE32(p) == 0x80000000u;
        case KIV_FT_SHORTINT: return p[0] == 0x00 && p[1] == 0x80;
        case KIV_FT_TIME: case KIV_FT_AUTOINC: return LE32(p) == 0xFFFFFFFFu;
        case KIV_FT_TIMESTAMP: case KIV_FT_MODTIME: return LE32(p) == 0;
        case KIV_FT_MONEY: case KIV_FT_ROWVERSION: return LE32(p) == 0 && LE32(p + 4) == 0x80000000u;
        case KIV_FT_CHARACTER: case KIV_FT_CICHARACTER: return BlankOrZero(p, f.length, true);
        case KIV_FT_NUMERIC: return BlankOrZero(p, f.length, true);
        default:
            if (IsBlobType(f.type)) return LE32(p) == 0;
            return AllZero(p, f.length);
    }
}

Value DecodeField(const FieldDef& f, const uint8_t* image, uint16_t tableType) {
    if (IsEmptyImage(f, image, tableType)) {
        // Character data keeps its blanks; everything else is simply empty.
        if (f.type == KIV_FT_CHARACTER || f.type == KIV_FT_CICHARACTER) {
            Value v = Value::OfText(std::string(f.length, ' '));
            return v;
        }
        return Value::Empty();
    }
    const uint8_t* p = image + f.offset;
    const bool dbf = IsDbfType(tableType);
    switch (f.type) {
        case KIV_FT_LOGICAL: {
            const char c = static_cast<char>(std::toupper(p[0]));
            return Value::OfLogical(c == 'T' || c == 'Y');
        }
        case KIV_FT_NUMERIC: {
            Value v = Value::OfText(std::string(reinterpret_cast<const char*>(p), f.length));
            double d;
            if (!ParseDouble(v.text, d)) return Value::Empty();  // unreadable digits read as no value
            v.kind = Value::Kind::Number;
            v.number = d;
            return v;
        }
        case KIV_FT_DATE: {
            if (dbf) {
                auto jd = JulianFromCompact(std::string_view(reinterpret_cast<const char*>(p), 8));
                return jd && *jd ? Value::OfDate(*jd) : Value::Empty();
            }
            const auto jd = static_cast<int32_t>(LE32(p));
            if (!ValidJulian(jd)) Damaged(f);
            return Value::OfDate(jd);
        }
        case KIV_FT_COMPACTDATE: return Value::OfDate(DecodeCompactDate3(p));
        case KIV_FT_CHARACTER: case KIV_FT_CICHARACTER:
            return Value::OfText(std::string(reinterpret_cast<const char*>(p), f.length));
        case KIV_FT_RAW: return Value::OfBytes(std::string(reinterpret_cast<const char*>(p), f.length));
        case KIV_FT_DOUBLE: case KIV_FT_CURDOUBLE: {
            double d;
            std::memcpy(&d, p, 8);
            return Value::OfNumber(d);
        }
        case KIV_FT_INTEGER: case KIV_FT_AUTOINC: {
            int32_t i;
            std::memcpy(&i, p, 4);
            return Value::OfInteger(i);
        }
        case KIV_FT_SHORTINT: {
            int16_t i;
            std::memcpy(&i, p, 2);
            return Value::OfInteger(i);
        }
        case KIV_FT_TIME: {
            const auto ms = static_cast<int32_t>(LE32(p));
            if (ms < 0 || ms >= kMsPerDay) Damaged(f);
            return Value::OfTime(ms);
        }
        case KIV_FT_TIMESTAMP: case KIV_FT_MODTIME: {
            const auto jd = static_cast<int32_t>(LE32(p));
            const auto ms = static_cast<int32_t>(LE32(p + 4));
            if (!ValidJulian(jd) || ms >= kMsPerDay) Damaged(f);
            return Value::OfStamp(jd, ms < 0 ? 0 : ms);  // a date without a time
        }
        case KIV_FT_MONEY: case KIV_FT_ROWVERSION: {
            int64_t i;
            std::memcpy(&i, p, 8);
            return Value::OfInteger(i);
        }
        default: return Value::Empty();
    }
}

bool ParseNumericText(std::string_view text, double& out) { return ParseDouble(text, out); }

bool DecodeNumber(const FieldDef& f, const uint8_t* image, uint16_t tableType, double& out) {
    const uint8_t* p = image + f.offset;
    out = 0;
    switch (f.type) {
        case KIV_FT_NUMERIC:
            // Blank (or zeroed) digits do not parse: the empty value reads as 0.
            if (!ParseDouble(std::string_view(reinterpret_cast<const char*>(p), f.length), out)) out = 0;
            return true;
        case KIV_FT_LOGICAL: {
            const char c = static_cast<char>(std::toupper(p[0]));
            out = (c == 'T' || c == 'Y') ? 1 : 0;
            return true;
        }
        case KIV_FT_DOUBLE: case KIV_FT_CURDOUBLE: case KIV_FT_INTEGER: case KIV_FT_AUTOINC: case KIV_FT_SHORTINT:
        case KIV_FT_MONEY: case KIV_FT_ROWVERSION: {
            if (IsEmptyImage(f, image, tableType)) return true;
            const Value v = DecodeField(f, image, tableType);
            if (v.kind == Value::Kind::Number) out = v.number;
            else if (f.type == KIV_FT_MONEY) out = static_cast<double>(v.integer) / 10000.0;
            else out = static_cast<double>(v.integer);
            return true;
        }
        default: return false;
    }
}

bool DecodeJulian(const FieldDef& f, const uint8_t* image, uint16_t tableType, int32_t& out) {
    const uint8_t* p = image + f.offset;
    out = 0;
    switch (f.type) {
        case KIV_FT_DATE:
            if (IsDbfType(tableType)) {
                int y = 0, m = 0, d = 0;
                for (int i = 0; i < 8; ++i) {
                    if (p[i] < '0' || p[i] > '9') return true;  // blank or damaged: no date
                    const int digit = p[i] - '0';
                    if (i < 4) y = y * 10 + digit;
                    else if (i < 6) m = m * 10 + digit;
                    else d = d * 10 + digit;
                }
                if (ValidYmd(y, m, d)) out = JulianFromYmd(y, m, d);
                return true;
            }
            out = static_cast<int32_t>(LE32(p));
            if (out && !ValidJulian(out)) Damaged(f);
            return true;
        case KIV_FT_COMPACTDATE: case KIV_FT_TIMESTAMP: case KIV_FT_MODTIME: {
            const Value v = DecodeField(f, image, tableType);
            out = v.kind == Value::Kind::Empty ? 0 : v.julian;
            return true;
        }
        default: return false;
    }
}

namespace {

// Integer ranges of the integral types.
void CheckRange(const FieldDef& f, int64_t v) {
    int64_t lo, hi;
    switch (f.type) {
        case KIV_FT_SHORTINT: lo = -32767; hi = 32767; break;  // -32768 is the empty value
        case KIV_FT_INTEGER: lo = -2147483647LL; hi = 2147483647LL; break;
        case KIV_FT_AUTOINC: lo = 0; hi = 0xFFFFFFFELL; break;
        default: return;
    }
    if (v < lo || v > hi) DoesNotFit(f);
}

bool ToInteger(const Value& v, int64_t& out) {
    switch (v.kind) {
        case Value::Kind::Integer: out = v.integer; return true;
        case Value::Kind::Number:
            if (!std::isfinite(v.number) || std::fabs(v.number) > 9.2e18) return false;
            out = std::llround(v.number);
            return true;
        case Value::Kind::Logical: out = v.logical ? 1 : 0; return true;
        case Value::Kind::Text: case Value::Kind::Bytes: return ParseInt64(v.text, out);
        default: return false;
    }
}

bool ToDate(const Value& v, int32_t& jd) {
    switch (v.kind) {
        case Value::Kind::Date: case Value::Kind::Stamp: jd = v.julian; return true;
        case Value::Kind::Text: case Value::Kind::Bytes: {
            int32_t ms;
            return ParseStampText(v.text, jd, ms);
        }
        default: return false;
    }
}

}  // namespace

bool ValueToDouble(const Value& v, double& out) {
    switch (v.kind) {
        case Value::Kind::Number: out = v.number; return true;
        case Value::Kind::Integer: out = static_cast<double>(v.integer); return true;
        case Value::Kind::Logical: out = v.logical ? 1 : 0; return true;
        case Value::Kind::Text: case Value::Kind::Bytes: return ParseDouble(v.text, out);
        case Value::Kind::Empty: out = 0; return true;
        default: return false;
    }
}

KIVRESULT EncodeField(const FieldDef& f, uint8_t* image, uint16_t tableType, const Value& v) {
    uint8_t* p = image + f.offset;
    const bool dbf = IsDbfType(tableType);
    if (v.kind == Value::Kind::Empty) {
        SetEmptyImage(f, image, tableType);
        return KIV_OK;
    }
    switch (f.type) {
        case KIV_FT_LOGICAL: {
            bool b = false, empty = false;
            if (v.kind == Value::Kind::Logical) b = v.logical;
            else if (v.kind == Value::Kind::Text || v.kind == Value::Kind::Bytes) {
                if (!ParseLogical(v.text, b, empty)) NoConvert(f, "\"" + v.text + "\"");
            } else if (v.kind == Value::Kind::Integer) b = v.integer != 0;
            else if (v.kind == Value::Kind::Number) b = v.number != 0;
            else NoConvert(f, "the value");
            p[0] = empty ? ' ' : (b ? 'T' : 'F');
            return KIV_OK;
        }
        case KIV_FT_NUMERIC: {
            double d;
            if ((v.kind == Value::Kind::Text || v.kind == Value::Kind::Bytes) && TrimBoth(v.text).empty()) {
                SetEmptyImage(f, image, tableType);
                return KIV_OK;
            }
            // The value's decimal text is rounded, not its nearest double:
            // 1.005 stores as 1.01 in two places.
            std::string decimal;
            if (v.kind == Value::Kind::Text || v.kind == Value::Kind::Bytes) decimal = TrimBoth(v.text);
            else if (v.kind == Value::Kind::Number && std::isfinite(v.number)) decimal = ShortestDouble(v.number);
            else if (v.kind == Value::Kind::Integer) decimal = std::to_string(v.integer);
            std::string s;
            if (!decimal.empty() && RoundDecimalText(decimal, f.decimals, s)) {
                if (s.size() > f.length) DoesNotFit(f);
                s.insert(0, f.length - s.size(), ' ');
            } else {
                if (!ValueToDouble(v, d)) NoConvert(f, "\"" + v.text + "\"");
                s = FormatNumeric(f, d);
            }
            std::memcpy(p, s.data(), f.length);
            return KIV_OK;
        }
        case KIV_FT_DATE: case KIV_FT_COMPACTDATE: {
            int32_t jd;
            if (!ToDate(v, jd)) NoConvert(f, "\"" + v.text + "\" to a date");
            CheckDay(f, jd);
            if (jd <= 0) { SetEmptyImage(f, image, tableType); return KIV_OK; }
            if (f.type == KIV_FT_COMPACTDATE) EncodeCompactDate3(jd, p);
            else if (dbf) std::memcpy(p, CompactFromJulian(jd).data(), 8);
            else PutLE32(p, static_cast<uint32_t>(jd));
            return KIV_OK;
        }
        case KIV_FT_CHARACTER: case KIV_FT_CICHARACTER: case KIV_FT_RAW: {
            std::string s;
            if (v.kind == Value::Kind::Text || v.kind == Value::Kind::Bytes) s = v.text;
            else if (v.kind == Value::Kind::Number) s = ShortestDouble(v.number);
            else if (v.kind == Value::Kind::Integer) s = std::to_string(v.integer);
            else if (v.kind == Value::Kind::Logical) s = v.logical ? "T" : "F";
            else if (v.kind == Value::Kind::Date) s = FormatDate(v.julian);
            else NoConvert(f, "the value");
            const bool raw = f.type == KIV_FT_RAW;
            const size_t n = s.size() < f.length ? s.size() : f.length;
            std::memcpy(p, s.data(), n);
            std::memset(p + n, raw ? 0 : ' ', f.length - n);
            return s.size() > f.length ? KIV_ERR_VALUE_CUT : KIV_OK;
        }
        case KIV_FT_DOUBLE: case KIV_FT_CURDOUBLE: {
            double d;
            if (!ValueToDouble(v, d)) NoConvert(f, "\"" + v.text + "\"");
            std::memcpy(p, &d, 8);
            return KIV_OK;
        }
        case KIV_FT_INTEGER: case KIV_FT_AUTOINC: case KIV_FT_SHORTINT: {
            int64_t i;
            if (!ToInteger(v, i)) NoConvert(f, "\"" + v.text + "\"");
            CheckRange(f, i);
            if (f.type == KIV_FT_SHORTINT) {
                const int16_t s = static_cast<int16_t>(i);
                std::memcpy(p, &s, 2);
            } else {
                const uint32_t u = static_cast<uint32_t>(i);
                PutLE32(p, u);
            }
            return KIV_OK;
        }
        case KIV_FT_TIME: {
            int32_t ms;
            if (v.kind == Value::Kind::Time || v.kind == Value::Kind::Stamp) ms = v.ms;
            else if (v.kind == Value::Kind::Integer) ms = static_cast<int32_t>(v.integer);
            else if (v.kind == Value::Kind::Text || v.kind == Value::Kind::Bytes) {
                auto t = ParseTime(v.text);
                if (!t) NoConvert(f, "\"" + v.text + "\" to a time");
                ms = *t;
            } else NoConvert(f, "the value");
            if (ms < 0 || ms >= 86400000) DoesNotFit(f);
            PutLE32(p, static_cast<uint32_t>(ms));
            return KIV_OK;
        }
        case KIV_FT_TIMESTAMP: case KIV_FT_MODTIME: {
            int32_t jd = 0, ms = 0;
            if (v.kind == Value::Kind::Stamp) { jd = v.julian; ms = v.ms; }
            else if (v.kind == Value::Kind::Date) jd = v.julian;
            else if (v.kind == Value::Kind::Time) {
                // A time sets the time of day of the stored date.
                jd = static_cast<int32_t>(LE32(p));
                if (jd <= 0) NoConvert(f, "a time without a date");
                if (v.ms < 0 || v.ms >= 86400000) DoesNotFit(f);
                ms = v.ms;
            } else if (v.kind == Value::Kind::Text || v.kind == Value::Kind::Bytes) {
                if (!ParseStampText(v.text, jd, ms)) NoConvert(f, "\"" + v.text + "\" to a timestamp");
            } else NoConvert(f, "the value");
            CheckDay(f, jd);
            if (jd <= 0) { SetEmptyImage(f, image, tableType); return KIV_OK; }
            CheckTimeOfDay(f, ms);
            PutLE32(p, static_cast<uint32_t>(jd));
            PutLE32(p + 4, static_cast<uint32_t>(ms));
            return KIV_OK;
        }
        case KIV_FT_MONEY: {
            int64_t scaled;
            if (v.kind == Value::Kind::Text || v.kind == Value::Kind::Bytes) {
                if (!ParseScaled(v.text, 4, scaled)) NoConvert(f, "\"" + v.text + "\"");
            } else {
                double d;
                if (!ValueToDouble(v, d) || std::fabs(d) > 9.2e14) NoConvert(f, "the value");
                scaled = std::llround(d * 10000.0);
            }
            std::memcpy(p, &scaled, 8);
            return KIV_OK;
        }
        case KIV_FT_ROWVERSION: {
            int64_t i;
            if (!ToInteger(v, i)) NoConvert(f, "the value");
            std::memcpy(p, &i, 8);
            return KIV_OK;
        }
        default:
            NoConvert(f, "the value");
    }
}

std::string ValueToText(const FieldDef& f, const Value& v) {
    switch (v.kind) {
        case Value::Kind::Empty:
            if (f.type == KIV_FT_DATE || f.type == KIV_FT_COMPACTDATE) return FormatDate(0);
            if (f.type == KIV_FT_LOGICAL) return "F";
            return "";
        case Value::Kind::Text: case Value::Kind::Bytes: return v.text;
        case Value::Kind::Number:
            if (f.type == KIV_FT_DOUBLE || f.type == KIV_FT_CURDOUBLE) {
                if (f.decimals) {
                    char buf[400];
                    std::snprintf(buf, sizeof buf, "%.*f", f.decimals, v.number);
                    return buf;
                }
                return ShortestDouble(v.number);
            }
            return v.text;
        case Value::Kind::Integer:
            if (f.type == KIV_FT_MONEY) return FormatScaled(v.integer, 4);
            return std::to_string(v.integer);
        case Value::Kind::Date: return FormatDate(v.julian);
        case Value::Kind::Time: return FormatTime(v.ms);
        case Value::Kind::Stamp: return FormatDate(v.julian) + " " + FormatTime(v.ms);
        case Value::Kind::Logical: return v.logical ? "T" : "F";
    }
    return "";
}

BlobRef ReadBlobRef(const FieldDef& f, const uint8_t* image, uint16_t tableType) {
    const uint8_t* p = image + f.offset;
    BlobRef ref;
    if (IsDbfType(tableType) && f.length == 4) {
        ref.block = LE32(p);
        if (ref.block == 0x20202020u) ref.block = 0;  // blanks: no memo
        return ref;
    }
    if (IsDbfType(tableType)) {
        uint32_t n = 0;
        for (uint32_t i = 0; i < f.length; ++i) {
            if (p[i] >= '0' && p[i] <= '9') n = n * 10 + (p[i] - '0');
            else if (p[i] != ' ' && p[i] != 0) return BlobRef{};
        }
        ref.block = n;
        return ref;
    }
    ref.block = LE32(p);
    ref.length = LE32(p + 4);
    return ref;
}

void WriteBlobRef(const FieldDef& f, uint8_t* image, uint16_t tableType, BlobRef ref) {
    uint8_t* p = image + f.offset;
    if (IsDbfType(tableType) && f.length == 4) {
        PutLE32(p, ref.block);
        return;
    }
    if (IsDbfType(tableType)) {
        if (!ref.block) {
            std::memset(p, ' ', f.length);
            return;
        }
        char buf[16];
        std::snprintf(buf, sizeof buf, "%10u", ref.block);
        std::memcpy(p, buf, 10);
        return;
    }
    PutLE32(p, ref.block);
    PutLE32(p + 4, ref.block ? ref.length : 0);
}

bool ParseScaled(std::string_view raw, int scale, int64_t& out) {
    const std::string t = TrimBoth(raw);
    if (t.empty()) return false;
    size_t i = 0;
    bool neg = false;
    if (t[i] == '-' || t[i] == '+') neg = t[i++] == '-';
    __int128 v = 0;
    int frac = -1;
    bool digits = false;
    for (; i < t.size(); ++i) {
        const char c = t[i];
        if (c == '.' && frac < 0) { frac = 0; continue; }
        if (c < '0' || c > '9') return false;
        digits = true;
        if (frac >= 0) {
            if (frac == scale) continue;  // further digits are dropped
            ++frac;
        }
        v = v * 10 + (c - '0');
        if (v > static_cast<__int128>(std::numeric_limits<int64_t>::max())) return false;
    }
    if (!digits) return false;
    for (int k = frac < 0 ? 0 : frac; k < scale; ++k) {
        v *= 10;
        if (v > static_cast<__int128>(std::numeric_limits<int64_t>::max())) return false;
    }
    out = static_cast<int64_t>(neg ? -v : v);
    return true;
}

std::string FormatScaled(int64_t value, int scale) {
    const bool neg = value < 0;
    unsigned __int128 u = neg ? static_cast<unsigned __int128>(-static_cast<__int128>(value)) : value;
    std::string digits;
    do {
        digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(u % 10)));
        u /= 10;
    } while (u);
    while (digits.size() <= static_cast<size_t>(scale)) digits.insert(digits.begin(), '0');
    std::string out = digits.substr(0, digits.size() - scale);
    if (scale) out += "." + digits.substr(digits.size() - scale);
    return neg ? "-" + out : out;
}

}  // namespace qel32
