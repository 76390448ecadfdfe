#include "catalogrows.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "catalog.h"
#include "connstring.h"
#include "convert.h"
#include "engine.h"
#include "enginetable.h"
#include "fetch.h"
#include "like.h"
#include "messages.h"
#include "tablerecord.h"
#include "typetable.h"
#include "qel32.h"

namespace kivodbc {
namespace {

constexpr uint32_t kEndOfRows = 100;
const char* const kTableTypes[] = {"TABLE", "VIEW", "SYSTEM TABLE", "LOCAL TEMPORARY"};
constexpr int32_t kTableTypeCount = 4;

// A catalog value before conversion: null, text, or a 32- or 16-bit integer.
struct Value {
  enum Kind { kNull, kText, kLong, kShort } kind = kNull;
  std::string text;
  int32_t number = 0;
};
Value Null() { return {}; }
Value Text(std::string text) { return {Value::kText, std::move(text), 0}; }
Value TextOrNull(const std::string& text) { return text.empty() ? Null() : Text(text); }
Value Long(int32_t n) { return {Value::kLong, {}, n}; }
Value Short(int32_t n) { return {Value::kShort, {}, n}; }

// The next matching table of the request: 0, kEndOfRows, or a failure.
uint32_t NextTable(StmtRecord* stmt) {
  auto* request = static_cast<CatalogRequest*>(stmt->catalogRequest);
  if (request == nullptr) return kEndOfRows;
  const uint32_t code = NextCatalogTable(request, stmt->catalogTable, stmt->catalogQualifier);
  return code == kNoData ? kEndOfRows : code;
}

uint32_t AdvanceTables(StmtRecord* stmt) {
  if (stmt->catalogSubKind == kSubKindTableTypes) return stmt->catalogRow < kTableTypeCount ? 0 : kEndOfRows;
  return NextTable(stmt);
}

bool ColumnMatches(const char* pattern, const EngineColumn& column) {
  return MatchLikeValue('\\', column.name.c_str(), static_cast<SQLLEN>(column.name.size()), pattern,
                        static_cast<SQLLEN>(std::strlen(pattern)), false);
}

uint32_t AdvanceColumns(StmtRecord* stmt) {
  EngineSession* session = stmt->conn->session;
  for (;;) {
    EngineTable* table = stmt->engineTable;
    if (table != nullptr) {
      while (static_cast<size_t>(stmt->catalogRow) < table->columns.size()) {
        if (ColumnMatches(stmt->patterns[0], table->columns[static_cast<size_t>(stmt->catalogRow)])) return 0;
        ++stmt->catalogRow;
      }
    }
    if (uint32_t code = NextTable(stmt)) return code;
    if (table != nullptr) CloseEngineTable(session, table);
    stmt->engineTable = nullptr;
    EngineTable* opened = nullptr;
    if (OpenEngineTable(session, stmt->catalogQualifier, stmt->catalogTable, kLockRead, false, nullptr, &opened) != 0)
      opened = nullptr;  // a table that cannot be opened is skipped
    stmt->engineTable = opened;
    stmt->catalogRow = 0;
  }
}

bool IsDateType(int16_t t) { return t == SQL_DATE || t == SQL_TYPE_DATE; }
bool IsTimeType(int16_t t) { return t == SQL_TIME || t == SQL_TYPE_TIME; }
bool IsTimestampType(int16_t t) { return t == SQL_TIMESTAMP || t == SQL_TYPE_TIMESTAMP; }

int32_t ColumnSize(int16_t t, int32_t size) { return static_cast<int32_t>(std::max<SQLLEN>(TypePrecision(t, size), 0)); }

int32_t BufferLength(int16_t t, int32_t size, bool isUnsigned) {
  return static_cast<int32_t>(std::max<SQLLEN>(TypeOctetLength(t, size, isUnsigned), 0));
}

// The catalog text of TABLE_CAT: the table's qualifier, or the connection's data path.
Value CatalogText(const StmtRecord* stmt) {
  if (stmt->catalogQualifier[0] != 0) return Text(stmt->catalogQualifier);
  return TextOrNull(stmt->conn->session->connectPath);
}

uint32_t TablesValue(const StmtRecord* stmt, SQLUSMALLINT column, Value* v) {
  const bool types = stmt->catalogSubKind == kSubKindTableTypes;
  switch (column) {
    case 1: *v = types ? Null() : CatalogText(stmt); return 0;
    case 2: case 5: *v = Null(); return 0;
    case 3: *v = types ? Null() : Text(stmt->catalogTable); return 0;
    case 4: *v = Text(types ? kTableTypes[stmt->catalogRow] : "TABLE"); return 0;
    default: return kInvalidColumnNumber;
  }
}

uint32_t ColumnsValue(StmtRecord* stmt, SQLUSMALLINT column, SQLSMALLINT cType, SQLLEN bufferLength, Value* v) {
  const EngineTable* table = stmt->engineTable;
  if (table == nullptr || static_cast<size_t>(stmt->catalogRow) >= table->columns.size()) return kInvalidCursorState;
  const EngineColumn& c = table->columns[static_cast<size_t>(stmt->catalogRow)];
  if (column > 18) return kInvalidColumnNumber;
  const TypeEntry* entry = TypeEntryFor(stmt->conn->session, c.sqlType, c.engineType);
  if (entry == nullptr && column >= 5) return kNoTypeEntry;
  const int16_t mapped = entry != nullptr ? MapDateTimeTypeCode(stmt, entry->sqlType) : 0;
  const int16_t t = entry != nullptr ? entry->sqlType : 0;
  const bool isUnsigned = entry != nullptr && entry->unsignedAttribute == 1;
  switch (column) {
    case 1: *v = CatalogText(stmt); return 0;
    case 2: *v = Null(); return 0;
    case 3: *v = Text(stmt->catalogTable); return 0;
    case 4: *v = Text(c.name); return 0;
    case 5: *v = Short(mapped); return 0;
    case 6: *v = Text(entry->typeName); return 0;
    case 7: *v = Long(ColumnSize(t, c.columnSize)); return 0;
    case 8: *v = Long(BufferLength(t, c.columnSize, isUnsigned)); return 0;
    case 9: *v = Short(c.digits); return 0;
    case 10:
      *v = (t >= 2 && t <= 8) || t == SQL_TINYINT || t == SQL_BIGINT ? Short(10) : Null();
      return 0;
    case 11: *v = Short(c.nullable); return 0;
    case 12: *v = Null(); return 0;  // the engine keeps no remarks for a field
    case 13:
      if (cType != SQL_C_CHAR) {
        *v = Null();
      } else {
        *v = Text("NULL");
        if (bufferLength > 0 && static_cast<SQLLEN>(v->text.size()) >= bufferLength) v->text = "TRUNCATED";
      }
      return 0;
    case 14: *v = Short(IsDateType(t) || IsTimeType(t) || IsTimestampType(t) ? 9 : mapped); return 0;
    case 15:
      *v = IsDateType(t) ? Short(1) : IsTimeType(t) ? Short(2) : IsTimestampType(t) ? Short(3) : Null();
      return 0;
    case 16:
      *v = t == SQL_CHAR || t == SQL_VARCHAR || (t >= -4 && t <= -1) ? Long(c.columnSize) : Null();
      return 0;
    case 17: *v = Long(stmt->catalogRow + 1); return 0;
    case 18: *v = c.nullable == 0 ? Text("NO") : c.nullable == 1 ? Text("YES") : Null(); return 0;
    default: return kInvalidColumnNumber;
  }
}

// The index rows of SQLStatistics: which index and which key column a row is.
bool IndexRow(const StmtRecord* stmt, const EngineIndex** index, size_t* key) {
  int32_t row = stmt->catalogRow - 1;
  for (const EngineIndex& candidate : stmt->engineTable->indexes) {
    if (stmt->catalogSubKind == kSubKindUniqueIndexes && (candidate.flags & 1) == 0) continue;
    if (row < static_cast<int32_t>(candidate.fields.size())) {
      *index = &candidate;
      *key = static_cast<size_t>(row);
      return true;
    }
    row -= static_cast<int32_t>(candidate.fields.size());
  }
  return false;
}

Value RecordCount(const EngineTable* table) {
  auto count = EngineBinding::Instance().Function<decltype(&KivGetRecordCount)>(84);
  uint32_t records = 0;
  if (count == nullptr || count(table->handle, KIV_COUNT_IGNORE_FILTERS, &records) != 0) return Null();
  return Long(static_cast<int32_t>(records));
}

uint32_t StatisticsValue(const StmtRecord* stmt, SQLUSMALLINT column, Value* v) {
  const EngineTable* table = stmt->engineTable;
  if (table == nullptr) return kInvalidCursorState;
  if (column > 13) return kInvalidColumnNumber;
  const EngineIndex* index = nullptr;
  size_t key = 0;
  const bool indexRow = stmt->catalogRow > 0;
  if (indexRow && !IndexRow(stmt, &index, &key)) return kInvalidCursorState;
  switch (column) {
    case 1: *v = TextOrNull(stmt->patterns[1]); return 0;
    case 3: *v = Text(table->name); return 0;
    case 4: *v = indexRow ? Short((index->flags & 1) != 0 ? 0 : 1) : Null(); return 0;
    case 6: *v = indexRow ? Text(index->name) : Null(); return 0;
    case 7: *v = Short(indexRow ? SQL_INDEX_OTHER : SQL_TABLE_STAT); return 0;
    case 8: *v = indexRow ? Short(static_cast<int32_t>(key) + 1) : Null(); return 0;
    case 9: {
      if (!indexRow) {
        *v = Null();
        return 0;
      }
      const size_t field = index->fields[key];
      if (field == 0 || field > table->columns.size()) return kNoTypeEntry;
      *v = Text(table->columns[field - 1].name);
      return 0;
    }
    case 10: *v = indexRow ? Text("A") : Null(); return 0;
    case 11: *v = indexRow ? Null() : RecordCount(table); return 0;
    default: *v = Null(); return 0;
  }
}

// The column of the table's n-th key column (from 0); null when none.
const EngineColumn* KeyColumn(const StmtRecord* stmt, int32_t n) {
  if (stmt->engineTable == nullptr) return nullptr;
  for (const EngineColumn& c : stmt->engineTable->columns)
    if (c.primaryKey && n-- == 0) return &c;
  return nullptr;
}

uint32_t SpecialColumnsValue(const StmtRecord* stmt, SQLUSMALLINT column, Value* v) {
  if (column > 8) return kInvalidColumnNumber;
  const EngineColumn* c = KeyColumn(stmt, stmt->catalogRow);
  if (c == nullptr) return kNoTypeEntry;
  const TypeEntry* entry = TypeEntryFor(stmt->conn->session, c->sqlType, c->engineType);
  if (entry == nullptr) return kNoTypeEntry;
  switch (column) {
    case 1: *v = Short(SQL_SCOPE_SESSION); return 0;
    case 2: *v = Text(c->name); return 0;
    case 3: *v = Short(MapDateTimeTypeCode(stmt, entry->sqlType)); return 0;
    case 4: *v = Text(entry->typeName); return 0;
    case 5: *v = Long(ColumnSize(entry->sqlType, c->columnSize)); return 0;
    case 6: *v = Long(BufferLength(entry->sqlType, c->columnSize, entry->unsignedAttribute == 1)); return 0;
    case 7: *v = Short(c->digits); return 0;
    default: *v = Short(SQL_PC_NOT_PSEUDO); return 0;  // a stored column is never a pseudo column
  }
}

uint32_t PrimaryKeysValue(const StmtRecord* stmt, SQLUSMALLINT column, Value* v) {
  if (column > 6) return kInvalidColumnNumber;
  const EngineColumn* c = KeyColumn(stmt, stmt->catalogRow);
  if (c == nullptr) return kNoTypeEntry;
  switch (column) {
    case 1: *v = TextOrNull(stmt->patterns[1]); return 0;
    case 3: *v = Text(stmt->engineTable->name); return 0;
    case 4: *v = Text(c->name); return 0;
    case 5: *v = Short(stmt->catalogRow + 1); return 0;
    default: *v = Null(); return 0;
  }
}

// The type entry of the current SQLGetTypeInfo row; null past the last.
const TypeEntry* TypeInfoEntry(const StmtRecord* stmt) {
  const std::vector<const TypeEntry*> listed = ListedTypes(stmt, stmt->conn->session, stmt->typeInfoType);
  const auto row = static_cast<size_t>(stmt->catalogRow);
  return row < listed.size() ? listed[row] : nullptr;
}

Value OptionalText(const char* text) { return text != nullptr ? Text(text) : Null(); }
Value OptionalShort(int16_t n) { return n == kNoValue ? Null() : Short(n); }

uint32_t TypeInfoValue(const StmtRecord* stmt, SQLUSMALLINT column, Value* v) {
  if (column > 19) return kInvalidColumnNumber;
  const TypeEntry* e = TypeInfoEntry(stmt);
  if (e == nullptr) return kInvalidCursorState;
  const int16_t t = e->sqlType;
  const bool dated = IsDateType(t) || IsTimeType(t) || IsTimestampType(t);
  switch (column) {
    case 1: *v = Text(e->typeName); return 0;
    case 2: *v = Short(MapDateTimeTypeCode(stmt, t)); return 0;
    case 3: *v = Long(e->columnSize); return 0;
    case 4: *v = OptionalText(e->literalPrefix); return 0;
    case 5: *v = OptionalText(e->literalSuffix); return 0;
    case 6: *v = OptionalText(e->createParams); return 0;
    case 7: *v = Short(e->nullable); return 0;
    case 8: *v = Short(e->caseSensitive); return 0;
    case 9: *v = Short(e->searchable); return 0;
    case 10: *v = OptionalShort(e->unsignedAttribute); return 0;
    case 11: *v = Short(e->fixedPrecScale); return 0;
    case 12: *v = OptionalShort(e->autoUniqueValue); return 0;
    case 13: *v = OptionalText(e->localTypeName); return 0;
    case 14: *v = OptionalShort(e->minimumScale); return 0;
    case 15: *v = OptionalShort(e->maximumScale); return 0;
    case 16: *v = Short(dated ? 9 : MapDateTimeTypeCode(stmt, t)); return 0;
    case 17: *v = IsDateType(t) ? Short(1) : IsTimeType(t) ? Short(2) : IsTimestampType(t) ? Short(3) : Null(); return 0;
    case 18:
      *v = (t >= 2 && t <= 5) || t == SQL_TINYINT || t == SQL_BIGINT ? Long(10) : t >= 6 && t <= 8 ? Long(2) : Null();
      return 0;
    default: *v = Null(); return 0;
  }
}

// SQLColumnPrivileges: position p is privilege step p % 3 of column p / 3.
struct ColumnPrivilege {
  uint8_t bit;
  const char* name;
};
constexpr ColumnPrivilege kColumnPrivileges[] = {{1, "SELECT"}, {4, "INSERT"}, {2, "UPDATE"}};
constexpr int32_t kColumnPrivilegeSteps = 3;

uint32_t AdvanceColumnPrivileges(StmtRecord* stmt) {
  const EngineTable* table = stmt->engineTable;
  if (table == nullptr) return kEndOfRows;
  for (;; ++stmt->catalogRow) {
    const auto column = static_cast<size_t>(stmt->catalogRow / kColumnPrivilegeSteps);
    if (column >= table->columns.size()) return kEndOfRows;
    const EngineColumn& c = table->columns[column];
    if (!ColumnMatches(stmt->columnPattern, c)) {
      stmt->catalogRow = static_cast<int32_t>(column + 1) * kColumnPrivilegeSteps - 1;
      continue;
    }
    if ((c.permissions & kColumnPrivileges[stmt->catalogRow % kColumnPrivilegeSteps].bit) != 0) return 0;
  }
}

Value Grantable(const StmtRecord* stmt) {
  return Text(EqualsIgnoreCase(stmt->conn->session->userName, "KIVSYS") ? "YES" : "NO");
}

uint32_t ColumnPrivilegesValue(const StmtRecord* stmt, SQLUSMALLINT column, Value* v) {
  if (column > 8) return kInvalidColumnNumber;
  const EngineTable* table = stmt->engineTable;
  if (table == nullptr) return kInvalidCursorState;
  switch (column) {
    case 1: *v = TextOrNull(stmt->patterns[1]); return 0;
    case 2: *v = Null(); return 0;
    case 3: *v = Text(table->name); return 0;
    case 4: *v = Text(table->columns[static_cast<size_t>(stmt->catalogRow / kColumnPrivilegeSteps)].name); return 0;
    case 5: *v = Text("KIVSYS"); return 0;
    case 6: *v = Text(stmt->conn->session->userName); return 0;
    case 7: *v = Text(kColumnPrivileges[stmt->catalogRow % kColumnPrivilegeSteps].name); return 0;
    default: *v = Grantable(stmt); return 0;
  }
}

}  // namespace

uint32_t AdvanceCatalogRow(StmtRecord* stmt) {
  if (stmt->catalogRow == -2) return kEndOfRows;
  ++stmt->catalogRow;
  uint32_t code = kEndOfRows;
  switch (stmt->kind) {
    case kKindTables: code = AdvanceTables(stmt); break;
    case kKindColumns: code = AdvanceColumns(stmt); break;
    case kKindStatistics:
      code = stmt->engineTable != nullptr && stmt->catalogRow < stmt->cursorRowCount ? 0 : kEndOfRows;
      break;
    case kKindColumnPrivileges: code = AdvanceColumnPrivileges(stmt); break;
    case kKindTypeInfo: code = TypeInfoEntry(stmt) != nullptr ? 0 : kEndOfRows; break;
    case kKindSpecialColumns:
    case kKindPrimaryKeys: code = KeyColumn(stmt, stmt->catalogRow) != nullptr ? 0 : kEndOfRows; break;
    default: --stmt->catalogRow; return kFeatureNotImplemented;
  }
  if (code != 0) stmt->catalogRow = -2;
  return code;
}

uint32_t CatalogColumnData(StmtRecord* stmt, SQLUSMALLINT column, SQLSMALLINT cType, SQLPOINTER target,
                           SQLLEN bufferLength, SQLLEN* length, SQLLEN* indicator) {
  SQLLEN* lengthTarget = length != nullptr ? length : indicator;
  Value v;
  uint32_t code = kFeatureNotImplemented;
  switch (stmt->kind) {
    case kKindTables: code = TablesValue(stmt, column, &v); break;
    case kKindColumns: code = ColumnsValue(stmt, column, cType, bufferLength, &v); break;
    case kKindStatistics: code = StatisticsValue(stmt, column, &v); break;
    case kKindTypeInfo: code = TypeInfoValue(stmt, column, &v); break;
    case kKindColumnPrivileges: code = ColumnPrivilegesValue(stmt, column, &v); break;
    case kKindSpecialColumns: code = SpecialColumnsValue(stmt, column, &v); break;
    case kKindPrimaryKeys: code = PrimaryKeysValue(stmt, column, &v); break;
    default: break;
  }
  if (code != 0) return code;
  if (stmt->getDataColumn != static_cast<int32_t>(column)) {
    stmt->getDataColumn = column;
    stmt->getDataOffset = 0;
    stmt->getDataDone = 0;
  }
  if (stmt->getDataDone != 0) return kNoDataFound;
  if (v.kind == Value::kNull) {
    if (indicator == nullptr) return kIndicatorRequired;
    *indicator = SQL_NULL_DATA;
    stmt->getDataDone = 1;
    return 0;
  }
  int16_t sourceType = SQL_CHAR;
  const void* source = v.text.data();
  SQLLEN sourceLength = static_cast<SQLLEN>(v.text.size());
  const auto shortValue = static_cast<int16_t>(v.number);
  if (v.kind == Value::kLong) {
    sourceType = SQL_INTEGER;
    source = &v.number;
    sourceLength = sizeof v.number;
  } else if (v.kind == Value::kShort) {
    sourceType = SQL_SMALLINT;
    source = &shortValue;
    sourceLength = sizeof shortValue;
  }
  if (cType == SQL_C_DEFAULT) cType = DefaultColumnCType(sourceType, false);
  if (indicator != nullptr && indicator != lengthTarget) *indicator = 0;
  const int result = ConvertColumnValue(sourceType, false, source, sourceLength, &stmt->getDataOffset, cType, target,
                                        bufferLength, lengthTarget);
  if (result == 0) stmt->getDataDone = 1;
  return static_cast<uint32_t>(result);
}

}  // namespace kivodbc
