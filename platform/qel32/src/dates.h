// Calendar arithmetic on Julian day numbers (2415019 = 1899-12-30), the
// canonical "YYYYMMDD" text, the per-thread date format for text forms, and
// times as milliseconds since midnight.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qel32 {

// The days a date may name: 0001-01-01 to 9999-12-31.
constexpr int32_t kFirstJulian = 1721426;
constexpr int32_t kLastJulian = 5373484;
inline bool ValidJulian(int64_t julian) { return julian >= kFirstJulian && julian <= kLastJulian; }
constexpr int32_t kMsPerDay = 86400000;

int32_t JulianFromYmd(int year, int month, int day);
void YmdFromJulian(int32_t julian, int& year, int& month, int& day);
bool ValidYmd(int year, int month, int day);

// "YYYY-MM-DD"; "" for day 0.
std::string IsoFromJulian(int32_t julian);

// "YYYYMMDD"; 8 blanks for day 0.
std::string CompactFromJulian(int32_t julian);
// Parses "YYYYMMDD"; blank text gives 0; nullopt when the text is no date.
std::optional<int32_t> JulianFromCompact(std::string_view text);

// The calling thread's date format ("MM/DD/YYYY" until set).
void SetThreadDateFormat(std::string_view format);
const std::string& ThreadDateFormat();

// Formats a day in the thread's format; day 0 gives blanks of the format's width.
std::string FormatDate(int32_t julian);
// Parses a date in the thread's format, or ISO "YYYY-MM-DD", or "YYYYMMDD".
// Blank text gives 0; nullopt when the text is no date.
std::optional<int32_t> ParseDate(std::string_view text);

// "HH:MM:SS" or "HH:MM:SS.mmm" when there are milliseconds.
std::string FormatTime(int32_t ms);
// Parses "HH:MM[:SS[.fff]]"; nullopt when the text is no time.
std::optional<int32_t> ParseTime(std::string_view text);

// Three-byte compact date: y = b0*128 + b1/2, m = (b1&1)*8 + b2/32, d = b2&31.
void EncodeCompactDate3(int32_t julian, uint8_t out[3]);
int32_t DecodeCompactDate3(const uint8_t in[3]);

// Milliseconds since midnight of the local wall clock, and today's Julian day.
int32_t NowMilliseconds();
int32_t TodayJulian();

}  // namespace qel32
