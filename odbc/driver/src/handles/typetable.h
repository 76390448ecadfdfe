// The data types the driver offers: one table for the engine's own table
// type and dictionary connections, one for the DBF-based table types. The
// table of a connection is chosen at connect; it answers SQLGetTypeInfo and
// gives every column its type entry. Also the sizes and default C type of
// a column of an SQL type.
#ifndef KIVODBC_TYPETABLE_H
#define KIVODBC_TYPETABLE_H

#include <sql.h>
#include <sqlext.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "handles/records.h"

namespace kivodbc {

constexpr int16_t kNoValue = -1;

struct TypeEntry {
  int32_t listed;  // 1 when SQLGetTypeInfo shows the entry
  const char* typeName;
  int16_t sqlType;  // 9, 10, 11 for date, time, timestamp
  int32_t columnSize;
  const char* literalPrefix;  // null: none
  const char* literalSuffix;
  const char* createParams;
  int16_t nullable;
  int16_t caseSensitive;
  int16_t searchable;
  int16_t unsignedAttribute;  // -1: no value
  int16_t fixedPrecScale;
  int16_t autoUniqueValue;  // -1: no value
  const char* localTypeName;
  int16_t minimumScale;  // -1: no value
  int16_t maximumScale;
};

// The two tables (26 and 25 entries).
const TypeEntry* OwnTypeTable(size_t* count);
const TypeEntry* OtherTypeTable(size_t* count);

// Puts the table that fits the session's table type and connection kind in force.
void SelectTypeTable(EngineSession* session);

// The session's table; the own table when there is no session.
const TypeEntry* TypeTableOf(const EngineSession* session, size_t* count);

// 9/10/11 and 91/92/93 between the ODBC numberings: a statement of an ODBC 2
// environment gets 9/10/11, everything else (no statement too) 91/92/93.
int16_t MapDateTimeTypeCode(const StmtRecord* stmt, int16_t type);

// The type entry of a column with this SQL type and engine field type: the
// first entry of the same SQL type that suits the engine type; null when none.
const TypeEntry* TypeEntryFor(const EngineSession* session, int16_t sqlType, uint16_t engineType);

// The entries SQLGetTypeInfo lists for `requested` (0: all), in table order.
std::vector<const TypeEntry*> ListedTypes(const StmtRecord* stmt, const EngineSession* session, int16_t requested);

// The column size and the octet length of a column of this SQL type and
// declared size; -1 for a type without one.
SQLLEN TypePrecision(int16_t sqlType, int32_t size);
SQLLEN TypeOctetLength(int16_t sqlType, int32_t size, bool isUnsigned);

// The C type a column of this SQL type is read as by default; 0 when none.
int16_t DefaultColumnCType(int16_t sqlType, bool isUnsigned);

}  // namespace kivodbc

#endif
