// Builders for the values the conversion tests pass: the raw bytes of a
// value, and the ODBC date, time, timestamp and numeric structures.
#ifndef KIVODBC_TESTS_VALUE_BUILDERS_H
#define KIVODBC_TESTS_VALUE_BUILDERS_H

#include <sql.h>
#include <sqlext.h>

#include <cstdint>
#include <string>

namespace kivodbc {

template <typename T>
std::string Bytes(const T& value) {
  return std::string(reinterpret_cast<const char*>(&value), sizeof value);
}

inline DATE_STRUCT Date(int year, int month, int day) {
  DATE_STRUCT d{};
  d.year = static_cast<SQLSMALLINT>(year);
  d.month = static_cast<SQLUSMALLINT>(month);
  d.day = static_cast<SQLUSMALLINT>(day);
  return d;
}

inline TIME_STRUCT Time(int hour, int minute, int second) {
  TIME_STRUCT t{};
  t.hour = static_cast<SQLUSMALLINT>(hour);
  t.minute = static_cast<SQLUSMALLINT>(minute);
  t.second = static_cast<SQLUSMALLINT>(second);
  return t;
}

inline TIMESTAMP_STRUCT Stamp(int year, int month, int day, int hour, int minute, int second, unsigned fraction) {
  TIMESTAMP_STRUCT t{};
  t.year = static_cast<SQLSMALLINT>(year);
  t.month = static_cast<SQLUSMALLINT>(month);
  t.day = static_cast<SQLUSMALLINT>(day);
  t.hour = static_cast<SQLUSMALLINT>(hour);
  t.minute = static_cast<SQLUSMALLINT>(minute);
  t.second = static_cast<SQLUSMALLINT>(second);
  t.fraction = fraction;
  return t;
}

inline SQL_NUMERIC_STRUCT Numeric(int precision, int scale, bool positive, uint64_t magnitude) {
  SQL_NUMERIC_STRUCT n{};
  n.precision = static_cast<SQLCHAR>(precision);
  n.scale = static_cast<SQLSCHAR>(scale);
  n.sign = positive ? 1 : 0;
  for (int b = 0; b < 8; ++b) n.val[b] = static_cast<SQLCHAR>(magnitude >> (8 * b));
  return n;
}

}  // namespace kivodbc

#endif
