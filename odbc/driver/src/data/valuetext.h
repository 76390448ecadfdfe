// Value texts: numbers, dates, times, timestamps and SQL_NUMERIC_STRUCT to
// and from text, and the copying of text results back to the application.
// Pure functions on caller buffers; results are driver codes (0 = success).
#ifndef KIVODBC_VALUETEXT_H
#define KIVODBC_VALUETEXT_H

#include <sql.h>
#include <sqlext.h>

#include <cstddef>
#include <cstdint>

namespace kivodbc {

// Resolves an ODBC text length: SQL_NTS is the string length, any other
// negative length counts as 0.
size_t ResolveLength(const char* text, SQLLEN length);

int ParseNumberText(const char* text, SQLLEN length, bool fractionCheck, double minimum, double maximum,
                    double* out);
// True when a stored number's text (up to `length` characters or a NUL)
// reads as zero (as blanks alone do).
bool NumberTextIsZero(const char* text, size_t length);
// 0 when the text fitted, 1 when it was cut (then not terminated).
int FormatDoubleText(double value, bool exponentAllowed, char* out, size_t bufferLength);

int ParseDateText(const char* text, SQLLEN length, DATE_STRUCT* out);
int ParseTimeText(const char* text, SQLLEN length, TIME_STRUCT* out);
int ParseTimestampText(const char* text, SQLLEN length, TIMESTAMP_STRUCT* out);
int FormatDateText(const DATE_STRUCT& value, char* out, size_t bufferLength);
int FormatTimeText(const TIME_STRUCT& value, char* out, size_t bufferLength);
int FormatTimestampText(const TIMESTAMP_STRUCT& value, char* out, size_t bufferLength);

// Rewrites a stored number's text in place as "%.*f" with `scale` decimals
// prints its value: blanks dropped, missing decimals filled with zeros. False,
// leaving the text alone, when that needs more than the text (rounding off
// decimals, exponents, leading zeros, no digits) or more than `capacity`.
bool ScaleDecimalText(char* text, size_t capacity, int scale);

int ParseNumericText(const char* text, SQLLEN length, SQL_NUMERIC_STRUCT* out);
int FormatNumericText(const SQL_NUMERIC_STRUCT& value, char* out, size_t bufferLength);
int NumericToDouble(const SQL_NUMERIC_STRUCT& value, double* out);
int DoubleToNumeric(double value, SQL_NUMERIC_STRUCT* out);

int ParseBigintText(const char* text, SQLLEN length, int64_t* out);
int ParseUbigintText(const char* text, SQLLEN length, uint64_t* out);
int FormatBigintText(int64_t value, char* out, size_t bufferLength);
int FormatUbigintText(uint64_t value, char* out, size_t bufferLength);
int SignedBigintToDouble(int64_t value, double* out);
int UnsignedBigintToDouble(uint64_t value, double* out);
// Truncates toward zero; values beyond the 64-bit range are clamped, NaN gives 0.
int DoubleToBigint(double value, int64_t* out);

// Copies `text` for the application: the full length goes to `lengthOut`;
// a cut text (or a buffer length of 0 or less) gives 2102.
int CopyOutString(char* out, SQLSMALLINT bufferLength, SQLSMALLINT* lengthOut, const char* text);
int CopyOutStringLong(char* out, SQLINTEGER bufferLength, SQLINTEGER* lengthOut, const char* text);

// The usable length of a string argument, at most `maximum`.
size_t ArgumentLength(const char* text, SQLLEN length, size_t maximum);

}  // namespace kivodbc

#endif
