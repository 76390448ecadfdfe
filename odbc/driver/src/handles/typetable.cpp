#include "handles/typetable.h"

#include <sqlext.h>

#include <array>
#include <cstring>

#include "qel32.h"

namespace kivodbc {
namespace {

constexpr const char* kQuote = "'";

// One row of both tables: which table lists it, and whether the table of the
// DBF-based types has it at all.
struct TypeRow {
  TypeEntry entry;
  int32_t listedOther;  // -1: not in that table
};

constexpr TypeEntry Entry(int32_t listed, const char* name, int16_t sqlType, int32_t size, const char* quote,
                          const char* createParams, int16_t caseSensitive, int16_t searchable, int16_t unsignedAttr,
                          int16_t fixedScale, int16_t autoUnique, int16_t minScale, int16_t maxScale) {
  return TypeEntry{listed,    name,       sqlType,      size,       quote,      quote,    createParams, 1,
                   caseSensitive, searchable, unsignedAttr, fixedScale, autoUnique, name, minScale,     maxScale};
}

constexpr int16_t N = kNoValue;

constexpr TypeRow kRows[] = {
    {Entry(1, "LOGICAL", -7, 1, nullptr, nullptr, 0, 3, N, 0, N, N, N), 1},
    {Entry(0, "TINYINT", -6, 3, nullptr, nullptr, 0, 3, 0, 0, 0, N, N), 0},
    {Entry(0, "BIGINT", -5, 19, nullptr, nullptr, 0, 3, 0, 0, 0, N, N), 0},
    {Entry(1, "BLOB", -4, 2147483647, kQuote, nullptr, 0, 0, N, 0, N, N, N), 1},
    {Entry(0, "VARBINARY", -3, 255, kQuote, "max length", 0, 3, N, 0, N, N, N), 0},
    {Entry(1, "RAW", -2, 65535, nullptr, "max length", 0, 3, N, 0, N, N, N), 0},
    {Entry(1, "MEMO", -1, 2147483640, kQuote, nullptr, 1, 3, N, 0, N, N, N), 1},
    {Entry(0, "VARCHAR", -1, 64000, kQuote, "fixed length", 1, 3, N, 0, N, N, N), 0},
    {Entry(1, "CHAR", 1, 65535, kQuote, "max length", 1, 3, N, 0, N, N, N), 1},
    {Entry(1, "NUMERIC", 2, 15, nullptr, "precision, scale", 0, 3, N, 0, 0, 0, 15), 1},
    {Entry(0, "DECIMAL", 3, 15, nullptr, "precision, scale", 0, 3, N, 0, N, 0, 15), 0},
    {Entry(1, "INTEGER", 4, 10, nullptr, nullptr, 0, 3, 0, 0, 0, N, N), 1},
    {Entry(1, "AUTOINC", 4, 10, nullptr, nullptr, 0, 3, 0, 0, 1, N, N), 0},
    {Entry(1, "SHORT", 5, 5, nullptr, nullptr, 0, 3, 0, 0, 0, N, N), 0},
    {Entry(0, "FLOAT", 6, 15, nullptr, nullptr, 0, 3, N, 0, N, N, N), 0},
    {Entry(0, "REAL", 7, 7, nullptr, nullptr, 0, 3, N, 0, N, N, N), 0},
    {Entry(1, "DOUBLE", 8, 15, nullptr, "precision", 0, 3, N, 0, N, N, N), 1},
    {Entry(1, "CURDOUBLE", 8, 15, nullptr, "precision", 0, 3, N, 1, N, N, N), -1},
    {Entry(1, "DATE", 9, 10, nullptr, nullptr, 0, 3, N, 0, N, N, N), 1},
    {Entry(1, "TIME", 10, 8, nullptr, nullptr, 0, 3, N, 0, N, N, N), 0},
    {Entry(1, "TIMESTAMP", 11, 23, nullptr, nullptr, 0, 3, N, 0, 0, 3, 3), 0},
    {Entry(1, "VARCHAR", 12, 64000, kQuote, "fixed length", 1, 3, N, 0, N, N, N), 1},
    {Entry(1, "MONEY", 2, 22, nullptr, nullptr, 0, 3, N, 1, 0, 4, 4), 0},
    {Entry(1, "CICHAR", 1, 65535, kQuote, "max length", 0, 3, N, 0, N, N, N), 0},
    {Entry(1, "ROWVERSION", 2, 22, nullptr, nullptr, 0, 3, N, 0, 1, N, N), 0},
    {Entry(1, "MODTIME", 11, 23, nullptr, nullptr, 0, 3, N, 0, 1, 3, 3), 0},
};
constexpr size_t kRowCount = sizeof kRows / sizeof kRows[0];

constexpr std::array<TypeEntry, kRowCount> BuildOwnTable() {
  std::array<TypeEntry, kRowCount> table{};
  for (size_t i = 0; i < kRowCount; ++i) table[i] = kRows[i].entry;
  return table;
}

constexpr size_t CountOther() {
  size_t n = 0;
  for (const TypeRow& row : kRows) n += row.listedOther >= 0 ? 1 : 0;
  return n;
}

constexpr std::array<TypeEntry, CountOther()> BuildOtherTable() {
  std::array<TypeEntry, CountOther()> table{};
  size_t n = 0;
  for (const TypeRow& row : kRows) {
    if (row.listedOther < 0) continue;
    table[n] = row.entry;
    table[n].listed = row.listedOther;
    ++n;
  }
  return table;
}

constexpr auto kOwnTable = BuildOwnTable();
constexpr auto kOtherTable = BuildOtherTable();
static_assert(kOwnTable.size() == 26 && kOtherTable.size() == 25);

bool Suits(const TypeEntry& entry, uint16_t engineType) {
  switch (engineType) {
    case KIV_FT_AUTOINC:
    case KIV_FT_ROWVERSION:
    case KIV_FT_MODTIME: return entry.autoUniqueValue == 1;
    case KIV_FT_MONEY:
    case KIV_FT_CURDOUBLE: return entry.fixedPrecScale == 1;
    case KIV_FT_VARCHAR: return entry.createParams != nullptr;
    case KIV_FT_CICHARACTER: return std::strcmp(entry.typeName, "CICHAR") == 0;
  }
  return true;
}

}  // namespace

const TypeEntry* OwnTypeTable(size_t* count) {
  *count = kOwnTable.size();
  return kOwnTable.data();
}

const TypeEntry* OtherTypeTable(size_t* count) {
  *count = kOtherTable.size();
  return kOtherTable.data();
}

void SelectTypeTable(EngineSession* session) {
  size_t count = 0;
  const TypeEntry* table =
      session->tableType == 3 || session->dictionary ? OwnTypeTable(&count) : OtherTypeTable(&count);
  session->typeTable = table;
  session->typeCount = static_cast<uint16_t>(count);
}

const TypeEntry* TypeTableOf(const EngineSession* session, size_t* count) {
  if (session == nullptr || session->typeTable == nullptr) return OwnTypeTable(count);
  *count = session->typeCount;
  return static_cast<const TypeEntry*>(session->typeTable);
}

int16_t MapDateTimeTypeCode(const StmtRecord* stmt, int16_t type) {
  const bool odbc2 = stmt != nullptr && stmt->conn->env->version == SQL_OV_ODBC2;
  if (odbc2) {
    if (type >= SQL_TYPE_DATE && type <= SQL_TYPE_TIMESTAMP) return static_cast<int16_t>(type - 82);
  } else if (type >= SQL_DATE && type <= SQL_TIMESTAMP) {
    return static_cast<int16_t>(type + 82);
  }
  return type;
}

const TypeEntry* TypeEntryFor(const EngineSession* session, int16_t sqlType, uint16_t engineType) {
  size_t count = 0;
  const TypeEntry* table = TypeTableOf(session, &count);
  for (size_t i = 0; i < count; ++i)
    if (table[i].sqlType == sqlType && Suits(table[i], engineType)) return &table[i];
  return nullptr;
}

std::vector<const TypeEntry*> ListedTypes(const StmtRecord* stmt, const EngineSession* session, int16_t requested) {
  size_t count = 0;
  const TypeEntry* table = TypeTableOf(session, &count);
  std::vector<const TypeEntry*> rows;
  requested = MapDateTimeTypeCode(stmt, requested);
  for (size_t i = 0; i < count; ++i) {
    if (table[i].listed == 0) continue;
    if (requested != SQL_ALL_TYPES && MapDateTimeTypeCode(stmt, table[i].sqlType) != requested) continue;
    rows.push_back(&table[i]);
  }
  return rows;
}

SQLLEN TypeOctetLength(int16_t sqlType, int32_t size, bool isUnsigned) {
  switch (sqlType) {
    case SQL_CHAR: case SQL_VARCHAR: case SQL_LONGVARCHAR: case SQL_BINARY: case SQL_VARBINARY:
    case SQL_LONGVARBINARY: return size;
    case SQL_NUMERIC: case SQL_DECIMAL: return size + 2;
    case SQL_INTEGER: case SQL_REAL: return 4;
    case SQL_SMALLINT: return 2;
    case SQL_FLOAT: case SQL_DOUBLE: return 8;
    case SQL_DATE: case SQL_TIME: case SQL_TYPE_DATE: case SQL_TYPE_TIME: return 6;
    case SQL_TIMESTAMP: case SQL_TYPE_TIMESTAMP: return 16;
    case SQL_BIT: case SQL_TINYINT: return 1;
    case SQL_BIGINT: return size + (isUnsigned ? 0 : 1);
    default: return -1;
  }
}

SQLLEN TypePrecision(int16_t sqlType, int32_t size) {
  switch (sqlType) {
    case SQL_CHAR: case SQL_VARCHAR: case SQL_LONGVARCHAR: case SQL_BINARY: case SQL_VARBINARY:
    case SQL_LONGVARBINARY: case SQL_NUMERIC: case SQL_DECIMAL: case SQL_BIGINT: return size;
    case SQL_INTEGER: case SQL_DATE: case SQL_TYPE_DATE: return 10;
    case SQL_SMALLINT: return 5;
    case SQL_FLOAT: case SQL_DOUBLE: return 15;
    case SQL_REAL: return 7;
    case SQL_TIME: case SQL_TYPE_TIME: return 8;
    case SQL_TIMESTAMP: case SQL_TYPE_TIMESTAMP: return 23;
    case SQL_BIT: return 1;
    case SQL_TINYINT: return 3;
    default: return -1;
  }
}

int16_t DefaultColumnCType(int16_t sqlType, bool isUnsigned) {
  switch (sqlType) {
    case SQL_CHAR: case SQL_NUMERIC: case SQL_DECIMAL: case SQL_VARCHAR: case SQL_LONGVARCHAR: case SQL_BIGINT:
      return SQL_C_CHAR;
    case SQL_INTEGER: return isUnsigned ? SQL_C_ULONG : SQL_C_SLONG;
    case SQL_SMALLINT: return isUnsigned ? SQL_C_USHORT : SQL_C_SSHORT;
    case SQL_FLOAT: case SQL_DOUBLE: return SQL_C_DOUBLE;
    case SQL_REAL: return SQL_C_FLOAT;
    case SQL_BIT: return SQL_C_BIT;
    case SQL_TINYINT: return isUnsigned ? SQL_C_UTINYINT : SQL_C_STINYINT;
    case SQL_BINARY: case SQL_VARBINARY: case SQL_LONGVARBINARY: return SQL_C_BINARY;
    case SQL_DATE: case SQL_TYPE_DATE: return SQL_C_TYPE_DATE;
    case SQL_TIME: case SQL_TYPE_TIME: return SQL_C_TYPE_TIME;
    case SQL_TIMESTAMP: case SQL_TYPE_TIMESTAMP: return SQL_C_TYPE_TIMESTAMP;
    default: return 0;
  }
}

}  // namespace kivodbc
