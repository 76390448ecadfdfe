#include "sqlfunctions.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "dates.h"
#include "errors.h"
#include "paths.h"
#include "sqlsession.h"
#include "table.h"

namespace qel32 {

namespace {

// ------------------------------------------------------------------ values

void ResultText(sqlite3_context* ctx, const std::string& text) {
    sqlite3_result_text(ctx, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

std::string TextOf(sqlite3_value* v) {
    return std::string(reinterpret_cast<const char*>(sqlite3_value_text(v)), static_cast<size_t>(sqlite3_value_bytes(v)));
}

bool AnyNull(int argc, sqlite3_value** argv) {
    for (int i = 0; i < argc; ++i)
        if (sqlite3_value_type(argv[i]) == SQLITE_NULL) return true;
    return false;
}

// A point in time: a Julian day and milliseconds since its midnight.
struct Moment {
    int32_t julian = 0;
    int32_t ms = 0;
    int64_t Total() const { return static_cast<int64_t>(julian) * 86400000 + ms; }
    static Moment FromTotal(int64_t total) {
        Moment m;
        m.julian = static_cast<int32_t>(total >= 0 ? total / 86400000 : (total - 86399999) / 86400000);
        m.ms = static_cast<int32_t>(total - static_cast<int64_t>(m.julian) * 86400000);
        return m;
    }
};

// Reads "YYYY-MM-DD", "YYYY-MM-DD HH:MM:SS[.fff]" (or with a 'T') and
// "HH:MM:SS"; a time alone falls on day 0.
bool ParseMoment(std::string text, Moment& out) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
    size_t b = 0;
    while (b < text.size() && std::isspace(static_cast<unsigned char>(text[b]))) ++b;
    text = text.substr(b);
    if (text.empty()) return false;
    out = Moment{};
    const size_t split = text.find_first_of(" T", 1);
    std::string datePart = split == std::string::npos ? text : text.substr(0, split);
    std::string timePart = split == std::string::npos ? std::string() : text.substr(split + 1);
    if (datePart.find(':') != std::string::npos) {  // a time alone
        timePart = datePart;
        datePart.clear();
    }
    if (!datePart.empty()) {
        const auto jd = ParseDate(datePart);
        if (!jd || *jd == 0) return false;
        out.julian = *jd;
    }
    if (!timePart.empty()) {
        const auto ms = ParseTime(timePart);
        if (!ms) return false;
        out.ms = *ms;
    }
    return true;
}

std::string IsoStamp(const Moment& m) { return IsoFromJulian(m.julian) + " " + FormatTime(m.ms); }

// The moment of argument i; false (with the error set) when it is no date or time.
bool MomentArg(sqlite3_context* ctx, sqlite3_value* v, Moment& out) {
    if (sqlite3_value_type(v) == SQLITE_NULL) {
        sqlite3_result_null(ctx);
        return false;
    }
    const std::string text = TextOf(v);
    if (!ParseMoment(text, out)) {
        const std::string message = "Invalid date or time value: " + text;
        sqlite3_result_error(ctx, message.c_str(), -1);
        return false;
    }
    return true;
}

// ------------------------------------------------------------------ dates

void ToDate(sqlite3_context* ctx, int, sqlite3_value** argv) {
    Moment m;
    if (!MomentArg(ctx, argv[0], m)) return;
    if (m.julian == 0) {
        sqlite3_result_error(ctx, ("Invalid date value: " + TextOf(argv[0])).c_str(), -1);
        return;
    }
    ResultText(ctx, IsoFromJulian(m.julian));
}

void ToTime(sqlite3_context* ctx, int, sqlite3_value** argv) {
    Moment m;
    if (MomentArg(ctx, argv[0], m)) ResultText(ctx, FormatTime(m.ms));
}

void ToTimestamp(sqlite3_context* ctx, int, sqlite3_value** argv) {
    Moment m;
    if (!MomentArg(ctx, argv[0], m)) return;
    if (m.julian == 0) m.julian = TodayJulian();  // a time alone is today's
    ResultText(ctx, IsoStamp(m));
}

enum class Part { Year, Quarter, Month, Week, DayOfYear, DayOfMonth, DayOfWeek, Hour, Minute, Second, DayName, MonthName };

void DatePart(sqlite3_context* ctx, sqlite3_value* v, Part part) {
    Moment m;
    if (!MomentArg(ctx, v, m)) return;
    int y = 0, mo = 0, d = 0;
    YmdFromJulian(m.julian, y, mo, d);
    // Julian day 0 mod 7 is a Monday; ODBC counts Sunday as day 1.
    const int dow = static_cast<int>(((m.julian + 1) % 7 + 7) % 7) + 1;
    const int doy = m.julian - JulianFromYmd(y, 1, 1) + 1;
    static const char* const kDays[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
    static const char* const kMonths[] = {"January", "February", "March",     "April",   "May",      "June",
                                          "July",    "August",   "September", "October", "November", "December"};
    switch (part) {
        case Part::Year: sqlite3_result_int(ctx, y); break;
        case Part::Quarter: sqlite3_result_int(ctx, (mo + 2) / 3); break;
        case Part::Month: sqlite3_result_int(ctx, mo); break;
        case Part::Week: {
            const int jan1 = static_cast<int>(((JulianFromYmd(y, 1, 1) + 1) % 7 + 7) % 7);  // 0 Sunday
            sqlite3_result_int(ctx, (doy - 1 + jan1) / 7 + 1);
            break;
        }
        case Part::DayOfYear: sqlite3_result_int(ctx, doy); break;
        case Part::DayOfMonth: sqlite3_result_int(ctx, d); break;
        case Part::DayOfWeek: sqlite3_result_int(ctx, dow); break;
        case Part::Hour: sqlite3_result_int(ctx, m.ms / 3600000); break;
        case Part::Minute: sqlite3_result_int(ctx, m.ms / 60000 % 60); break;
        case Part::Second: sqlite3_result_int(ctx, m.ms / 1000 % 60); break;
        case Part::DayName: ResultText(ctx, kDays[dow - 1]); break;
        case Part::MonthName: ResultText(ctx, mo >= 1 && mo <= 12 ? kMonths[mo - 1] : ""); break;
    }
}

template <Part P>
void DatePartFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
    DatePart(ctx, argv[0], P);
}

// EXTRACT(field FROM value), rewritten to extract('field', value).
void Extract(sqlite3_context* ctx, int, sqlite3_value** argv) {
    const std::string field = Upper(TextOf(argv[0]));
    static const std::pair<const char*, Part> kFields[] = {{"YEAR", Part::Year},     {"MONTH", Part::Month},
                                                           {"DAY", Part::DayOfMonth}, {"HOUR", Part::Hour},
                                                           {"MINUTE", Part::Minute}, {"SECOND", Part::Second}};
    for (const auto& [name, part] : kFields)
        if (field == name) return DatePart(ctx, argv[1], part);
    sqlite3_result_error(ctx, ("Invalid EXTRACT field: " + field).c_str(), -1);
}

// The unit of an SQL_TSI_ interval in milliseconds, or 0 for months and
// -3 for quarters and -12 for years (counted in months).
bool IntervalUnit(const std::string& name, int64_t& ms, int& months) {
    std::string n = Upper(name);
    if (n.rfind("SQL_TSI_", 0) == 0) n = n.substr(8);
    ms = 0;
    months = 0;
    if (n == "FRAC_SECOND") ms = -1;  // billionths of a second
    else if (n == "SECOND") ms = 1000;
    else if (n == "MINUTE") ms = 60000;
    else if (n == "HOUR") ms = 3600000;
    else if (n == "DAY") ms = 86400000;
    else if (n == "WEEK") ms = 7LL * 86400000;
    else if (n == "MONTH") months = 1;
    else if (n == "QUARTER") months = 3;
    else if (n == "YEAR") months = 12;
    else return false;
    return true;
}

Moment AddMonths(Moment m, int64_t months) {
    int y = 0, mo = 0, d = 0;
    YmdFromJulian(m.julian, y, mo, d);
    const int64_t total = static_cast<int64_t>(y) * 12 + (mo - 1) + months;
    y = static_cast<int>(total >= 0 ? total / 12 : (total - 11) / 12);
    mo = static_cast<int>(total - static_cast<int64_t>(y) * 12) + 1;
    while (d > 28 && !ValidYmd(y, mo, d)) --d;
    m.julian = JulianFromYmd(y, mo, d);
    return m;
}

// The first and last day a date can hold: 0001-01-01 and 9999-12-31.
bool JulianInRange(int64_t julian) {
    static const int64_t first = JulianFromYmd(1, 1, 1), last = JulianFromYmd(9999, 12, 31);
    return julian >= first && julian <= last;
}

// The interval count of TIMESTAMPADD: a whole number within 64 bits.
bool IntervalCount(sqlite3_value* v, int64_t& n) {
    switch (sqlite3_value_numeric_type(v)) {
        case SQLITE_INTEGER: n = sqlite3_value_int64(v); return true;
        case SQLITE_FLOAT: {
            const double d = std::trunc(sqlite3_value_double(v));
            // 2^63 itself is out of range
            if (!(d >= -9223372036854775808.0 && d < 9223372036854775808.0)) return false;
            n = static_cast<int64_t>(d);
            return true;
        }
        default: return false;
    }
}

void TimestampAdd(sqlite3_context* ctx, int, sqlite3_value** argv) {
    if (AnyNull(3, argv)) return sqlite3_result_null(ctx);
    int64_t unit;
    int months;
    if (!IntervalUnit(TextOf(argv[0]), unit, months))
        return sqlite3_result_error(ctx, ("Invalid interval: " + TextOf(argv[0])).c_str(), -1);
    Moment m;
    if (!MomentArg(ctx, argv[2], m)) return;
    if (m.julian == 0) m.julian = TodayJulian();
    int64_t n = 0;
    if (!IntervalCount(argv[1], n))
        return sqlite3_result_error(ctx, ("TIMESTAMPADD: interval count out of range: " + TextOf(argv[1])).c_str(),
                                    -1);
    const auto outOfRange = [&] {
        sqlite3_result_error(ctx, "TIMESTAMPADD: result outside 0001-01-01 to 9999-12-31", -1);
    };
    if (months) {
        int64_t span = 0;
        // beyond 10,000 years in months the result is out of range anyway
        if (__builtin_mul_overflow(n, static_cast<int64_t>(months), &span) || span > 120000 || span < -120000)
            return outOfRange();
        m = AddMonths(m, span);
    } else {
        int64_t span = 0, total = 0;
        if (unit < 0) span = n / 1000000;
        else if (__builtin_mul_overflow(n, unit, &span)) return outOfRange();
        if (__builtin_add_overflow(m.Total(), span, &total)) return outOfRange();
        const int64_t day = total >= 0 ? total / 86400000 : (total - 86399999) / 86400000;
        if (!JulianInRange(day)) return outOfRange();
        m = Moment::FromTotal(total);
    }
    if (!JulianInRange(m.julian)) return outOfRange();
    ResultText(ctx, IsoStamp(m));
}

void TimestampDiff(sqlite3_context* ctx, int, sqlite3_value** argv) {
    if (AnyNull(3, argv)) return sqlite3_result_null(ctx);
    int64_t unit;
    int months;
    if (!IntervalUnit(TextOf(argv[0]), unit, months))
        return sqlite3_result_error(ctx, ("Invalid interval: " + TextOf(argv[0])).c_str(), -1);
    Moment a, b;
    if (!MomentArg(ctx, argv[1], a) || !MomentArg(ctx, argv[2], b)) return;
    if (months) {
        int ya, ma, da, yb, mb, db;
        YmdFromJulian(a.julian, ya, ma, da);
        YmdFromJulian(b.julian, yb, mb, db);
        int64_t diff = (static_cast<int64_t>(yb) * 12 + mb) - (static_cast<int64_t>(ya) * 12 + ma);
        // A month counts once the day and time of the month are reached.
        const int64_t restA = static_cast<int64_t>(da) * 86400000 + a.ms, restB = static_cast<int64_t>(db) * 86400000 + b.ms;
        if (diff > 0 && restB < restA) --diff;
        if (diff < 0 && restB > restA) ++diff;
        sqlite3_result_int64(ctx, diff / months);
        return;
    }
    const int64_t span = b.Total() - a.Total();
    int64_t billionths = 0;
    if (unit < 0 && __builtin_mul_overflow(span, int64_t{1000000}, &billionths))
        return sqlite3_result_error(ctx, "TIMESTAMPDIFF: result beyond 64 bits", -1);
    sqlite3_result_int64(ctx, unit < 0 ? billionths : span / unit);
}

void CurDate(sqlite3_context* ctx, int, sqlite3_value**) { ResultText(ctx, IsoFromJulian(TodayJulian())); }
void CurTime(sqlite3_context* ctx, int, sqlite3_value**) {
    const int32_t ms = NowMilliseconds();
    ResultText(ctx, FormatTime(ms - ms % 1000));
}
void Now(sqlite3_context* ctx, int, sqlite3_value**) {
    const int32_t ms = NowMilliseconds();
    ResultText(ctx, IsoFromJulian(TodayJulian()) + " " + FormatTime(ms - ms % 1000));
}

// ------------------------------------------------------------------ strings

void TextFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv, int (*conv)(int)) {
    if (argc < 1 || sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
    std::string s = TextOf(argv[0]);
    for (char& c : s) c = static_cast<char>(conv(static_cast<unsigned char>(c)));
    ResultText(ctx, s);
}

void Ucase(sqlite3_context* ctx, int argc, sqlite3_value** argv) { TextFunction(ctx, argc, argv, ::toupper); }
void Lcase(sqlite3_context* ctx, int argc, sqlite3_value** argv) { TextFunction(ctx, argc, argv, ::tolower); }

void Concat(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    std::string out;
    for (int i = 0; i < argc; ++i)
        if (sqlite3_value_type(argv[i]) != SQLITE_NULL) out += TextOf(argv[i]);
    ResultText(ctx, out);
}

void LeftRight(sqlite3_context* ctx, sqlite3_value** argv, bool left) {
    if (AnyNull(2, argv)) return sqlite3_result_null(ctx);
    std::string s = TextOf(argv[0]);
    const int64_t n = std::max<int64_t>(0, sqlite3_value_int64(argv[1]));
    if (static_cast<size_t>(n) < s.size()) s = left ? s.substr(0, static_cast<size_t>(n)) : s.substr(s.size() - static_cast<size_t>(n));
    ResultText(ctx, s);
}

void Left(sqlite3_context* ctx, int, sqlite3_value** argv) { LeftRight(ctx, argv, true); }
void Right(sqlite3_context* ctx, int, sqlite3_value** argv) { LeftRight(ctx, argv, false); }

void Ascii(sqlite3_context* ctx, int, sqlite3_value** argv) {
    if (AnyNull(1, argv)) return sqlite3_result_null(ctx);
    const std::string s = TextOf(argv[0]);
    if (s.empty()) return sqlite3_result_null(ctx);
    sqlite3_result_int(ctx, static_cast<unsigned char>(s[0]));
}

// LENGTH counts the characters without the trailing blanks; the others all
// of them (bytes: texts are single-byte).
void Length(sqlite3_context* ctx, int, sqlite3_value** argv) {
    if (AnyNull(1, argv)) return sqlite3_result_null(ctx);
    std::string s = TextOf(argv[0]);
    while (!s.empty() && s.back() == ' ') s.pop_back();
    sqlite3_result_int64(ctx, static_cast<int64_t>(s.size()));
}

template <int BitsPerChar>
void FullLength(sqlite3_context* ctx, int, sqlite3_value** argv) {
    if (AnyNull(1, argv)) return sqlite3_result_null(ctx);
    sqlite3_result_int64(ctx, static_cast<int64_t>(sqlite3_value_bytes(argv[0])) * BitsPerChar);
}

// LOCATE(needle, haystack[, start]): 1-based position, 0 when absent.
void Locate(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    if (AnyNull(argc, argv)) return sqlite3_result_null(ctx);
    const std::string needle = TextOf(argv[0]), hay = TextOf(argv[1]);
    const int64_t start = argc > 2 ? sqlite3_value_int64(argv[2]) : 1;
    if (start < 1 || static_cast<size_t>(start - 1) > hay.size()) return sqlite3_result_int(ctx, 0);
    const size_t at = hay.find(needle, static_cast<size_t>(start - 1));
    sqlite3_result_int64(ctx, at == std::string::npos ? 0 : static_cast<int64_t>(at) + 1);
}

// INSERT(text, start, length, other): length characters from start replaced.
void InsertText(sqlite3_context* ctx, int, sqlite3_value** argv) {
    if (AnyNull(4, argv)) return sqlite3_result_null(ctx);
    std::string s = TextOf(argv[0]);
    const int64_t start = sqlite3_value_int64(argv[1]), length = sqlite3_value_int64(argv[2]);
    if (start < 1 || length < 0 || static_cast<size_t>(start - 1) > s.size()) return ResultText(ctx, s);
    const size_t from = static_cast<size_t>(start - 1);
    s.replace(from, std::min<size_t>(static_cast<size_t>(length), s.size() - from), TextOf(argv[3]));
    ResultText(ctx, s);
}

constexpr int64_t kLongestText = 1000000000;

void Repeat(sqlite3_context* ctx, int, sqlite3_value** argv) {
    if (AnyNull(2, argv)) return sqlite3_result_null(ctx);
    const std::string s = TextOf(argv[0]);
    const int64_t n = std::max<int64_t>(0, sqlite3_value_int64(argv[1]));
    if (!s.empty() && n > kLongestText / static_cast<int64_t>(s.size())) return sqlite3_result_error_toobig(ctx);
    std::string out;
    out.reserve(s.size() * static_cast<size_t>(n));
    for (int64_t i = 0; i < n; ++i) out += s;
    ResultText(ctx, out);
}

void Space(sqlite3_context* ctx, int, sqlite3_value** argv) {
    if (AnyNull(1, argv)) return sqlite3_result_null(ctx);
    const int64_t n = std::max<int64_t>(0, sqlite3_value_int64(argv[0]));
    if (n > kLongestText) return sqlite3_result_error_toobig(ctx);
    ResultText(ctx, std::string(static_cast<size_t>(n), ' '));
}

std::string SoundexOf(const std::string& s) {
    static const char kCodes[] = "01230120022455012623010202";  // A..Z
    std::string out;
    char last = 0;
    for (char raw : s) {
        const int c = std::toupper(static_cast<unsigned char>(raw));
        if (c < 'A' || c > 'Z') continue;
        const char code = kCodes[c - 'A'];
        if (out.empty()) {
            out += static_cast<char>(c);
        } else if (code != '0' && code != last) {
            out += code;
            if (out.size() == 4) break;
        }
        if (c != 'H' && c != 'W') last = code;
    }
    if (out.empty()) return "?000";
    out.resize(4, '0');
    return out;
}

void Soundex(sqlite3_context* ctx, int, sqlite3_value** argv) {
    if (AnyNull(1, argv)) return sqlite3_result_null(ctx);
    ResultText(ctx, SoundexOf(TextOf(argv[0])));
}

// DIFFERENCE: how many of the four soundex characters agree (0 to 4).
void Difference(sqlite3_context* ctx, int, sqlite3_value** argv) {
    if (AnyNull(2, argv)) return sqlite3_result_null(ctx);
    const std::string a = SoundexOf(TextOf(argv[0])), b = SoundexOf(TextOf(argv[1]));
    int same = 0;
    for (size_t i = 0; i < 4; ++i) same += a[i] == b[i];
    sqlite3_result_int(ctx, same);
}

// ------------------------------------------------------------------ numbers

void Cot(sqlite3_context* ctx, int, sqlite3_value** argv) {
    if (AnyNull(1, argv)) return sqlite3_result_null(ctx);
    const double t = std::tan(sqlite3_value_double(argv[0]));
    if (t == 0) return sqlite3_result_null(ctx);
    sqlite3_result_double(ctx, 1.0 / t);
}

void NaturalLog(sqlite3_context* ctx, int, sqlite3_value** argv) {
    if (AnyNull(1, argv)) return sqlite3_result_null(ctx);
    const double x = sqlite3_value_double(argv[0]);
    if (x <= 0) return sqlite3_result_null(ctx);
    sqlite3_result_double(ctx, std::log(x));
}

void Rand(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    thread_local std::mt19937_64 engine{std::random_device{}()};
    if (argc > 0 && sqlite3_value_type(argv[0]) != SQLITE_NULL)
        engine.seed(static_cast<uint64_t>(sqlite3_value_int64(argv[0])));
    sqlite3_result_double(ctx, std::uniform_real_distribution<double>(0.0, 1.0)(engine));
}

// TRUNCATE(x, d): x cut (towards zero) to d decimals; d < 0 cuts digits
// before the point.
void Truncate(sqlite3_context* ctx, int, sqlite3_value** argv) {
    if (AnyNull(2, argv)) return sqlite3_result_null(ctx);
    const int64_t d = std::clamp<int64_t>(sqlite3_value_int64(argv[1]), -30, 30);
    if (sqlite3_value_numeric_type(argv[0]) == SQLITE_INTEGER && d >= 0)
        return sqlite3_result_int64(ctx, sqlite3_value_int64(argv[0]));
    const double x = sqlite3_value_double(argv[0]);
    const double scale = std::pow(10.0, static_cast<double>(d));
    // A little room for the binary form of decimals (2.675 is 2.67499...).
    const double scaled = x * scale;
    const double cut = std::trunc(scaled + (scaled >= 0 ? 1e-9 : -1e-9));
    sqlite3_result_double(ctx, cut / scale);
}

// ROUND(x [, d]) as ODBC has it: half away from zero, d below zero rounding
// to tens, hundreds...; integers stay integers.
void Round(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    if (AnyNull(argc, argv)) return sqlite3_result_null(ctx);
    const int64_t d = argc > 1 ? std::clamp<int64_t>(sqlite3_value_int64(argv[1]), -18, 30) : 0;
    if (sqlite3_value_numeric_type(argv[0]) == SQLITE_INTEGER) {
        const int64_t x = sqlite3_value_int64(argv[0]);
        if (d >= 0) return sqlite3_result_int64(ctx, x);
        int64_t unit = 1;
        for (int64_t i = 0; i < -d; ++i) unit *= 10;
        const int64_t rest = x % unit;
        int64_t rounded = x - rest;
        constexpr int64_t kMost = std::numeric_limits<int64_t>::max();
        if (rest >= (unit + 1) / 2 && rounded <= kMost - unit) rounded += unit;
        else if (rest <= -(unit + 1) / 2 && rounded >= -kMost + unit) rounded -= unit;
        return sqlite3_result_int64(ctx, rounded);
    }
    const double x = sqlite3_value_double(argv[0]);
    const double scale = std::pow(10.0, static_cast<double>(d));
    // The same room for the binary form of decimals as TRUNCATE's.
    const double scaled = x * scale;
    sqlite3_result_double(ctx, std::round(scaled + (scaled >= 0 ? 1e-9 : -1e-9)) / scale);
}

// ------------------------------------------------------------------ system and conversion

void Database(sqlite3_context* ctx, int, sqlite3_value**) {
    auto* session = static_cast<SqlSession*>(sqlite3_user_data(ctx));
    Connection& c = session->connection();
    ResultText(ctx, c.dictionary ? c.given() : c.tableFolder());
}

void User(sqlite3_context* ctx, int, sqlite3_value**) {
    auto* session = static_cast<SqlSession*>(sqlite3_user_data(ctx));
    ResultText(ctx, session->connection().user);
}

void LastAutoinc(sqlite3_context* ctx, int, sqlite3_value**) {
    auto* session = static_cast<SqlSession*>(sqlite3_user_data(ctx));
    sqlite3_result_int64(ctx, session->lastAutoinc);
}

// CONVERT(value, SQL_type), rewritten to convert(value, 'SQL_type').
void Convert(sqlite3_context* ctx, int, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
    std::string type = Upper(TextOf(argv[1]));
    if (type.rfind("SQL_", 0) == 0) type = type.substr(4);
    if (type.rfind("TYPE_", 0) == 0) type = type.substr(5);
    if (type == "INTEGER" || type == "SMALLINT" || type == "TINYINT" || type == "BIGINT" || type == "BIT") {
        const double d = sqlite3_value_double(argv[0]);
        if (sqlite3_value_numeric_type(argv[0]) == SQLITE_INTEGER) sqlite3_result_int64(ctx, sqlite3_value_int64(argv[0]));
        else sqlite3_result_int64(ctx, static_cast<int64_t>(std::trunc(d)));
    } else if (type == "DOUBLE" || type == "FLOAT" || type == "REAL" || type == "NUMERIC" || type == "DECIMAL") {
        sqlite3_result_double(ctx, sqlite3_value_double(argv[0]));
    } else if (type == "CHAR" || type == "VARCHAR" || type == "LONGVARCHAR" || type == "WCHAR" || type == "WVARCHAR" ||
               type == "WLONGVARCHAR") {
        ResultText(ctx, TextOf(argv[0]));
    } else if (type == "BINARY" || type == "VARBINARY" || type == "LONGVARBINARY") {
        sqlite3_result_blob(ctx, sqlite3_value_blob(argv[0]), sqlite3_value_bytes(argv[0]), SQLITE_TRANSIENT);
    } else if (type == "DATE") {
        ToDate(ctx, 1, argv);
    } else if (type == "TIME") {
        ToTime(ctx, 1, argv);
    } else if (type == "TIMESTAMP") {
        ToTimestamp(ctx, 1, argv);
    } else {
        sqlite3_result_error(ctx, ("Invalid type for CONVERT: " + TextOf(argv[1])).c_str(), -1);
    }
}

// ------------------------------------------------------------------ rewriting

bool WordChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// End of the quoted text or comment at i, or i when there is none there.
size_t SkipLiteral(std::string_view s, size_t i) {
    const char c = s[i];
    if (c == '\'' || c == '"' || c == '[' || c == '`') {
        const char close = c == '[' ? ']' : c;
        for (size_t k = i + 1; k < s.size(); ++k) {
            if (s[k] == close) {
                if (close != ']' && k + 1 < s.size() && s[k + 1] == close) {
                    ++k;
                    continue;
                }
                return k + 1;
            }
        }
        return s.size();
    }
    if (c == '/' && i + 1 < s.size() && s[i + 1] == '*') {
        const size_t end = s.find("*/", i + 2);
        return end == std::string_view::npos ? s.size() : end + 2;
    }
    if (c == '-' && i + 1 < s.size() && s[i + 1] == '-') return std::min(s.find('\n', i), s.size());
    return i;
}

size_t SkipSpace(std::string_view s, size_t i) {
    while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
    return i;
}

// The ')' closing the '(' at open, or npos.
size_t MatchingParen(std::string_view s, size_t open) {
    int depth = 0;
    for (size_t i = open; i < s.size();) {
        const size_t after = SkipLiteral(s, i);
        if (after != i) {
            i = after;
            continue;
        }
        if (s[i] == '(') ++depth;
        else if (s[i] == ')' && --depth == 0) return i;
        ++i;
    }
    return std::string_view::npos;
}

// The last place of a keyword at depth 0 of body (a word on its own), or npos.
size_t FindTopWord(std::string_view body, std::string_view word, bool last) {
    size_t found = std::string_view::npos;
    int depth = 0;
    for (size_t i = 0; i < body.size();) {
        const size_t after = SkipLiteral(body, i);
        if (after != i) {
            i = after;
            continue;
        }
        const char c = body[i];
        if (c == '(') ++depth;
        else if (c == ')') --depth;
        if (depth == 0 && WordChar(c) && (i == 0 || !WordChar(body[i - 1]))) {
            size_t j = i;
            while (j < body.size() && WordChar(body[j])) ++j;
            if (EqualsNoCase(body.substr(i, j - i), word)) {
                found = i;
                if (!last) return found;
            }
            i = j;
            continue;
        }
        ++i;
    }
    return found;
}

std::string Quote(std::string_view word) { return "'" + std::string(word) + "'"; }

const char* DateFunctionFor(std::string_view type) {
    const std::string t = Upper(type);
    if (t == "DATE" || t == "SQL_DATE" || t == "SQL_TYPE_DATE") return "kiv_date";
    if (t == "TIME" || t == "SQL_TIME" || t == "SQL_TYPE_TIME") return "kiv_time";
    if (t == "TIMESTAMP" || t == "DATETIME" || t == "SQL_TIMESTAMP" || t == "SQL_TYPE_TIMESTAMP") return "kiv_timestamp";
    return nullptr;
}

std::string TrimmedCopy(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return std::string(s.substr(b, e - b));
}

}  // namespace

std::string RewriteSqlForms(std::string_view s) {
    std::string out;
    out.reserve(s.size() + 16);
    size_t i = 0;
    while (i < s.size()) {
        const size_t after = SkipLiteral(s, i);
        if (after != i) {
            out.append(s.substr(i, after - i));
            i = after;
            continue;
        }
        const char c = s[i];
        if (!WordChar(c) || std::isdigit(static_cast<unsigned char>(c)) || (i > 0 && (WordChar(s[i - 1]) || s[i - 1] == '.'))) {
            out += c;
            ++i;
            continue;
        }
        size_t j = i;
        while (j < s.size() && WordChar(s[j])) ++j;
        const std::string_view word = s.substr(i, j - i);
        const std::string upper = Upper(word);
        const size_t next = SkipSpace(s, j);
        const bool call = next < s.size() && s[next] == '(';
        const size_t close = call ? MatchingParen(s, next) : std::string_view::npos;
        const std::string_view body = close != std::string_view::npos ? s.substr(next + 1, close - next - 1) : std::string_view();
        if (close != std::string_view::npos) {
            if (upper == "CAST") {
                const size_t as = FindTopWord(body, "AS", true);
                if (as != std::string_view::npos) {
                    const std::string type = TrimmedCopy(body.substr(as + 2));
                    if (const char* fn = DateFunctionFor(type)) {
                        out += std::string(fn) + "(" + RewriteSqlForms(body.substr(0, as)) + ")";
                        i = close + 1;
                        continue;
                    }
                }
            } else if (upper == "EXTRACT") {
                const size_t from = FindTopWord(body, "FROM", false);
                if (from != std::string_view::npos) {
                    out += "extract(" + Quote(TrimmedCopy(body.substr(0, from))) + ", " +
                           RewriteSqlForms(body.substr(from + 4)) + ")";
                    i = close + 1;
                    continue;
                }
            } else if (upper == "POSITION") {
                const size_t in = FindTopWord(body, "IN", false);
                if (in != std::string_view::npos) {
                    out += "locate(" + RewriteSqlForms(body.substr(0, in)) + ", " + RewriteSqlForms(body.substr(in + 2)) + ")";
                    i = close + 1;
                    continue;
                }
            } else if (upper == "CONVERT") {
                // CONVERT(value, SQL_type): the type is the text after the last top-level comma.
                size_t comma = std::string_view::npos;
                int depth = 0;
                for (size_t k = 0; k < body.size();) {
                    const size_t a = SkipLiteral(body, k);
                    if (a != k) { k = a; continue; }
                    if (body[k] == '(') ++depth;
                    else if (body[k] == ')') --depth;
                    else if (body[k] == ',' && depth == 0) comma = k;
                    ++k;
                }
                if (comma != std::string_view::npos) {
                    const std::string type = TrimmedCopy(body.substr(comma + 1));
                    const std::string value = RewriteSqlForms(body.substr(0, comma));
                    if (const char* fn = DateFunctionFor(type)) out += std::string(fn) + "(" + value + ")";
                    else if (!type.empty() && type[0] == '\'') out += "convert(" + value + ", " + type + ")";
                    else out += "convert(" + value + ", " + Quote(type) + ")";
                    i = close + 1;
                    continue;
                }
            } else if (upper == "LEFT" || upper == "RIGHT" || upper == "INSERT") {
                // Keywords to SQLite: as calls they take names of their own.
                out += upper == "LEFT" ? "kiv_left" : upper == "RIGHT" ? "kiv_right" : "kiv_insert";
                i = j;
                continue;
            } else if (upper == "CURRENT_DATE" || upper == "CURRENT_TIME" || upper == "CURRENT_TIMESTAMP") {
                if (TrimmedCopy(body).find_first_not_of("0123456789") == std::string::npos) {
                    out += upper == "CURRENT_DATE" ? "curdate()" : upper == "CURRENT_TIME" ? "curtime()" : "now()";
                    i = close + 1;
                    continue;
                }
            }
        }
        if (!call && (upper == "CURRENT_DATE" || upper == "CURRENT_TIME" || upper == "CURRENT_TIMESTAMP")) {
            // The local clock, as CURDATE, CURTIME and NOW read it.
            out += upper == "CURRENT_DATE" ? "curdate()" : upper == "CURRENT_TIME" ? "curtime()" : "now()";
            i = j;
            continue;
        }
        if ((upper == "DATE" || upper == "TIME" || upper == "TIMESTAMP") && next < s.size() && s[next] == '\'') {
            // A typed literal: DATE '2026-02-05'.
            const size_t end = SkipLiteral(s, next);
            out += std::string(DateFunctionFor(upper)) + "(" + std::string(s.substr(next, end - next)) + ")";
            i = end;
            continue;
        }
        if (upper.rfind("SQL_TSI_", 0) == 0) {
            out += Quote(upper);
            i = j;
            continue;
        }
        out.append(word);
        i = j;
    }
    return out;
}

uint16_t DateTypeOfItem(std::string_view item) {
    const std::string text = TrimmedCopy(item);
    size_t j = 0;
    while (j < text.size() && WordChar(text[j])) ++j;
    const size_t open = SkipSpace(text, j);
    if (j == 0 || open >= text.size() || text[open] != '(' || MatchingParen(text, open) != text.size() - 1) return 0;
    const std::string name = Upper(text.substr(0, j));
    if (name == "KIV_DATE" || name == "CURDATE") return KIV_FT_DATE;
    if (name == "KIV_TIME" || name == "CURTIME") return KIV_FT_TIME;
    if (name == "KIV_TIMESTAMP" || name == "NOW" || name == "TIMESTAMPADD") return KIV_FT_TIMESTAMP;
    return 0;
}

void RegisterSqlFunctions(sqlite3* db, SqlSession* session) {
    struct Fn {
        const char* name;
        int args;
        void (*fn)(sqlite3_context*, int, sqlite3_value**);
        bool deterministic;
    };
    static const Fn kFunctions[] = {
        // strings
        {"ucase", 1, Ucase, true}, {"lcase", 1, Lcase, true}, {"concat", -1, Concat, true},
        {"kiv_left", 2, Left, true}, {"kiv_right", 2, Right, true}, {"ascii", 1, Ascii, true},
        {"length", 1, Length, true}, {"char_length", 1, FullLength<1>, true},
        {"character_length", 1, FullLength<1>, true}, {"octet_length", 1, FullLength<1>, true},
        {"bit_length", 1, FullLength<8>, true}, {"locate", 2, Locate, true}, {"locate", 3, Locate, true},
        {"kiv_insert", 4, InsertText, true}, {"repeat", 2, Repeat, true}, {"space", 1, Space, true},
        {"soundex", 1, Soundex, true}, {"difference", 2, Difference, true},
        // numbers
        {"cot", 1, Cot, true}, {"log", 1, NaturalLog, true}, {"rand", 0, Rand, false}, {"rand", 1, Rand, false},
        {"truncate", 2, Truncate, true}, {"round", 1, Round, true}, {"round", 2, Round, true},
        // dates and times
        {"kiv_date", 1, ToDate, true}, {"kiv_time", 1, ToTime, true}, {"kiv_timestamp", 1, ToTimestamp, false},
        {"curdate", 0, CurDate, false}, {"curtime", 0, CurTime, false}, {"now", 0, Now, false},
        {"year", 1, DatePartFunction<Part::Year>, true}, {"quarter", 1, DatePartFunction<Part::Quarter>, true},
        {"month", 1, DatePartFunction<Part::Month>, true}, {"week", 1, DatePartFunction<Part::Week>, true},
        {"dayofyear", 1, DatePartFunction<Part::DayOfYear>, true},
        {"dayofmonth", 1, DatePartFunction<Part::DayOfMonth>, true},
        {"dayofweek", 1, DatePartFunction<Part::DayOfWeek>, true}, {"hour", 1, DatePartFunction<Part::Hour>, true},
        {"minute", 1, DatePartFunction<Part::Minute>, true}, {"second", 1, DatePartFunction<Part::Second>, true},
        {"dayname", 1, DatePartFunction<Part::DayName>, true},
        {"monthname", 1, DatePartFunction<Part::MonthName>, true}, {"extract", 2, Extract, true},
        {"timestampadd", 3, TimestampAdd, false}, {"timestampdiff", 3, TimestampDiff, true},
        // system and conversion
        {"database", 0, Database, false}, {"user", 0, User, false}, {"convert", 2, Convert, true},
        {"lastautoinc", -1, LastAutoinc, false},
    };
    for (const Fn& f : kFunctions)
        sqlite3_create_function(db, f.name, f.args, SQLITE_UTF8 | (f.deterministic ? SQLITE_DETERMINISTIC : 0), session,
                                f.fn, nullptr, nullptr);
}

}  // namespace qel32
