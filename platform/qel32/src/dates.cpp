#include "dates.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <ctime>

namespace qel32 {

int32_t JulianFromYmd(int year, int month, int day) {
    // Fliegel and Van Flandern, proleptic Gregorian calendar.
    const int a = (14 - month) / 12;
    const int y = year + 4800 - a;
    const int m = month + 12 * a - 3;
    return day + (153 * m + 2) / 5 + 365 * y + y / 4 - y / 100 + y / 400 - 32045;
}

void YmdFromJulian(int32_t julian, int& year, int& month, int& day) {
    // Days outside the calendar's range never reach here from stored or
    // given values (they are refused); clamping keeps the arithmetic defined.
    const int64_t a = std::clamp<int64_t>(julian, kFirstJulian, kLastJulian) + 32044;
    const int64_t b = (4 * a + 3) / 146097;
    const int64_t c = a - 146097 * b / 4;
    const int64_t d = (4 * c + 3) / 1461;
    const int64_t e = c - 1461 * d / 4;
    const int64_t m = (5 * e + 2) / 153;
    day = static_cast<int>(e - (153 * m + 2) / 5 + 1);
    month = static_cast<int>(m + 3 - 12 * (m / 10));
    year = static_cast<int>(100 * b + d - 4800 + m / 10);
}

bool ValidYmd(int year, int month, int day) {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    const int limit = kDays[month - 1] + (month == 2 && leap ? 1 : 0);
    return day <= limit;
}

namespace {

bool AllBlank(std::string_view text) {
    for (char c : text)
        if (c != ' ' && c != '\0') return false;
    return true;
}

bool Digits(std::string_view text, size_t pos, size_t n, int& value) {
    if (pos + n > text.size()) return false;
    value = 0;
    for (size_t i = pos; i < pos + n; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

// Writes the last two digits of v at `out`; four digits, the last four.
void PutTwoDigits(char* out, int v) {
    out[0] = static_cast<char>('0' + v / 10 % 10);
    out[1] = static_cast<char>('0' + v % 10);
}

void PutFourDigits(char* out, int v) {
    PutTwoDigits(out, v / 100);
    PutTwoDigits(out + 2, v % 100);
}

std::string TwoDigits(int v) {
    std::string s(2, '0');
    PutTwoDigits(s.data(), v);
    return s;
}

std::string FourDigits(int v) {
    std::string s(4, '0');
    PutFourDigits(s.data(), v);
    return s;
}

// A date as YYYY MM DD with `separator` between the parts (none when 0);
// dates are read for every row, so this builds no pieces.
std::string DateDigits(int32_t julian, char separator) {
    int y, m, d;
    YmdFromJulian(julian, y, m, d);
    const size_t gap = separator ? 1 : 0;
    std::string s(8 + 2 * gap, separator);
    PutFourDigits(s.data(), y);
    PutTwoDigits(s.data() + 4 + gap, m);
    PutTwoDigits(s.data() + 6 + 2 * gap, d);
    return s;
}

std::string Trim(std::string_view text) {
    size_t b = 0, e = text.size();
    while (b < e && (text[b] == ' ' || text[b] == '\0')) ++b;
    while (e > b && (text[e - 1] == ' ' || text[e - 1] == '\0')) --e;
    return std::string(text.substr(b, e - b));
}

thread_local std::string tDateFormat = "MM/DD/YYYY";

}  // namespace

std::string CompactFromJulian(int32_t julian) {
    if (julian <= 0) return std::string(8, ' ');
    return DateDigits(julian, 0);
}

std::string IsoFromJulian(int32_t julian) {
    if (julian <= 0) return std::string();
    return DateDigits(julian, '-');
}

std::optional<int32_t> JulianFromCompact(std::string_view text) {
    if (text.size() > 8) text = text.substr(0, 8);
    if (AllBlank(text)) return 0;
    int y, m, d;
    if (!Digits(text, 0, 4, y) || !Digits(text, 4, 2, m) || !Digits(text, 6, 2, d)) return std::nullopt;
    if (!ValidYmd(y, m, d)) return std::nullopt;
    return JulianFromYmd(y, m, d);
}

void SetThreadDateFormat(std::string_view format) {
    std::string f;
    for (char c : format) f += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    tDateFormat = f.empty() ? "MM/DD/YYYY" : f;
}

const std::string& ThreadDateFormat() { return tDateFormat; }

std::string FormatDate(int32_t julian) {
    const std::string& f = tDateFormat;
    if (julian <= 0) return std::string(f.size(), ' ');
    int y, m, d;
    YmdFromJulian(julian, y, m, d);
    std::string out;
    for (size_t i = 0; i < f.size();) {
        if (f.compare(i, 4, "YYYY") == 0) { out += FourDigits(y); i += 4; }
        else if (f.compare(i, 2, "YY") == 0) { out += TwoDigits(y % 100); i += 2; }
        else if (f.compare(i, 2, "MM") == 0) { out += TwoDigits(m); i += 2; }
        else if (f.compare(i, 2, "DD") == 0) { out += TwoDigits(d); i += 2; }
        else out += f[i++];
    }
    return out;
}

std::optional<int32_t> ParseDate(std::string_view raw) {
    const std::string text = Trim(raw);
    if (text.empty()) return 0;
    int y = 0, m = 0, d = 0;
    // ISO first, then the compact form, then the thread's format.
    if (text.size() == 10 && text[4] == '-' && text[7] == '-' && Digits(text, 0, 4, y) &&
        Digits(text, 5, 2, m) && Digits(text, 8, 2, d)) {
        if (!ValidYmd(y, m, d)) return std::nullopt;
        return JulianFromYmd(y, m, d);
    }
    const std::string& f = tDateFormat;
    if (text.size() == 8 && f.size() != 8) {
        bool all = true;
        for (char c : text) all = all && std::isdigit(static_cast<unsigned char>(c));
        if (all) return JulianFromCompact(text);
    }
    if (text.size() != f.size()) {
        if (text.size() == 8) return JulianFromCompact(text);
        return std::nullopt;
    }
    bool haveY = false;
    for (size_t i = 0; i < f.size();) {
        if (f.compare(i, 4, "YYYY") == 0) {
            if (!Digits(text, i, 4, y)) return std::nullopt;
            haveY = true; i += 4;
        } else if (f.compare(i, 2, "YY") == 0) {
            if (!Digits(text, i, 2, y)) return std::nullopt;
            y += y < 50 ? 2000 : 1900;  // a century window for two-digit years
            haveY = true; i += 2;
        } else if (f.compare(i, 2, "MM") == 0) {
            if (!Digits(text, i, 2, m)) return std::nullopt;
            i += 2;
        } else if (f.compare(i, 2, "DD") == 0) {
            if (!Digits(text, i, 2, d)) return std::nullopt;
            i += 2;
        } else {
            ++i;  // separators are not checked
        }
    }
    if (!haveY || !ValidYmd(y, m, d)) return std::nullopt;
    return JulianFromYmd(y, m, d);
}

std::string FormatTime(int32_t ms) {
    if (ms < 0) ms = 0;
    const int h = ms / 3600000, mi = ms / 60000 % 60, s = ms / 1000 % 60, f = ms % 1000;
    std::string out = TwoDigits(h) + ":" + TwoDigits(mi) + ":" + TwoDigits(s);
    if (f) out += "." + std::to_string(f + 1000).substr(1);
    return out;
}

std::optional<int32_t> ParseTime(std::string_view raw) {
    const std::string text = Trim(raw);
    int h, m, s = 0, f = 0;
    if (!Digits(text, 0, 2, h) || text.size() < 5 || text[2] != ':' || !Digits(text, 3, 2, m))
        return std::nullopt;
    size_t pos = 5;
    if (pos < text.size()) {
        if (text[pos] != ':' || !Digits(text, pos + 1, 2, s)) return std::nullopt;
        pos += 3;
        if (pos < text.size()) {
            if (text[pos] != '.') return std::nullopt;
            ++pos;
            int scale = 100;
            for (; pos < text.size(); ++pos) {
                if (!std::isdigit(static_cast<unsigned char>(text[pos]))) return std::nullopt;
                f += (text[pos] - '0') * scale;
                scale /= 10;
            }
        }
    }
    if (h > 23 || m > 59 || s > 59) return std::nullopt;
    return ((h * 60 + m) * 60 + s) * 1000 + f;
}

void EncodeCompactDate3(int32_t julian, uint8_t out[3]) {
    if (julian <= 0) {
        out[0] = out[1] = out[2] = 0;
        return;
    }
    int y, m, d;
    YmdFromJulian(julian, y, m, d);
    out[0] = static_cast<uint8_t>(y / 128);
    out[1] = static_cast<uint8_t>((y % 128) * 2 + (m >> 3));
    out[2] = static_cast<uint8_t>(((m & 7) << 5) | d);
}

int32_t DecodeCompactDate3(const uint8_t in[3]) {
    if (!in[0] && !in[1] && !in[2]) return 0;
    const int y = in[0] * 128 + in[1] / 2;
    const int m = (in[1] & 1) * 8 + in[2] / 32;
    const int d = in[2] & 31;
    if (!ValidYmd(y, m, d)) return 0;
    return JulianFromYmd(y, m, d);
}

int32_t NowMilliseconds() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t t = system_clock::to_time_t(now);
    std::tm tm{};
    localtime_r(&t, &tm);
    const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    return ((tm.tm_hour * 60 + tm.tm_min) * 60 + tm.tm_sec) * 1000 + static_cast<int32_t>(ms);
}

int32_t TodayJulian() {
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    return JulianFromYmd(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
}

}  // namespace qel32
