// Column value conversion: one column value, as the driver holds it after
// reading it from the engine or building a catalog row, turned into the C
// type the application asked for (SQLBindCol, SQLGetData). Every fetch path
// converts through ConvertColumnValue, once per column and row.
#ifndef KIVODBC_CONVERT_H
#define KIVODBC_CONVERT_H

#include <sql.h>
#include <sqlext.h>

#include <cstddef>
#include <cstdint>

namespace kivodbc {

// The C type SQL_C_DEFAULT stands for with a column of `sqlType`; 0 when the
// driver has none for that type.
int16_t DefaultCTypeOf(int16_t sqlType);

// The byte size of a fixed-size C type; 0 for SQL_C_CHAR, SQL_C_BINARY and
// types the driver does not know.
size_t FixedCTypeSize(int16_t cType);

// Today's date from the local clock (a time read as a timestamp carries it).
DATE_STRUCT TodayLocalDate();

// Converts one column value.
//
// `sourceType` is the SQL type of the value as held: character (1, 12, -1:
// bytes of text), SQL_INTEGER (32-bit), SQL_SMALLINT (16-bit), SQL_TINYINT
// and SQL_BIT (one byte), SQL_FLOAT/SQL_DOUBLE (double), SQL_REAL (float),
// date, time and timestamp structures (ODBC 2 and 3 codes), binary (-2, -3,
// -4: raw bytes). `isUnsigned` reads the integers as unsigned.
// `sourceLength` is the byte length, SQL_NTS for NUL-terminated text, or
// SQL_NULL_DATA; a null `source` is a missing value.
// `offset` (may be null) counts what earlier calls for the same column
// returned: bytes, or hexadecimal digits for binary read as text; it is
// advanced by what this call delivers. The statement resets it when the
// column or the row changes.
// `target` may be null: nothing is stored, the indicator is still set.
// `targetLength` is the buffer size for text and binary targets, and the
// room checked before a raw copy into a binary or SQL_C_DEFAULT target.
// `indicator` (may be null) receives the length or SQL_NULL_DATA.
//
// Returns 0; 2102 when the value was delivered cut (SQL_SUCCESS_WITH_INFO);
// or an error: 2109 pair outside the matrix or text that is no date/time,
// 2110 unknown source type, 2111 value out of the target's range or a raw
// copy that does not fit, 2112 text that is no number, 2186 NULL without an
// indicator. Nothing is stored on an error.
int ConvertColumnValue(int16_t sourceType, bool isUnsigned, const void* source, SQLLEN sourceLength,
                       SQLLEN* offset, int16_t targetType, void* target, SQLLEN targetLength,
                       SQLLEN* indicator);

}  // namespace kivodbc

#endif
