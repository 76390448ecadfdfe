#include "catalog/catalogrows.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "catalog/catalog.h"
#include "connect/connstring.h"
#include "data/convert.h"
#include "util/engine.h"
#include "data/enginetable.h"
#include "util/helpers.h"
#include "sql/like.h"
#include "handles/messages.h"
#include "data/tablerecord.h"
#include "handles/typetable.h"
#include "qel32.h"
#include "sql/statement.h"

namespace kivodbc {

// What the listings of relations, procedures and table privileges keep
// between fetches. Names live in strings: a long name is never cut or
// written past a fixed block.
struct CatalogListing {
  // SQLForeignKeys: one relation of the dictionary between two tables.
  struct Relation {
    std::string name;
    std::string parentTable;
    std::string childTable;
    std::vector<std::string> parentColumns;
    std::vector<std::string> childColumns;
    int16_t updateRule = -1;
    int16_t deleteRule = -1;
  };
  bool relationsRead = false;
  std::vector<Relation> relations;           // every relation of the dictionary
  std::vector<const Relation*> ofTable;       // those of the current table, in listing order
  size_t nextOfTable = 0;
  const Relation* relation = nullptr;         // the current one
  std::string primaryKeyName;                 // of its parent table
  int16_t keySequence = 0;                    // the key column reached in it, from 1
  bool tableTaken = false;                    // the listing for one table has taken it

  // SQLProcedures and SQLProcedureColumns.
  struct Parameter {
    std::string name;
    std::string typeName;  // as written
    int32_t length = 0;
    int16_t decimals = 0;
    int16_t columnType = SQL_PARAM_INPUT;
    int32_t position = 0;  // in its list, from 1
  };
  uint32_t find = 0;      // the engine's open enumeration, 0 when none
  bool findStarted = false;
  std::string procedure;
  std::string description;
  std::vector<Parameter> parameters;  // of the current procedure
  size_t nextParameter = 0;
  const Parameter* parameter = nullptr;

  // SQLTablePrivileges.
  uint8_t privileges = 0;
  bool dictionaryRights = false;  // the byte holds the dictionary's rights bits
  int step = 4;                   // the next privilege step of the current table
  int currentStep = 0;
};

namespace {

constexpr uint32_t kEndOfRows = 100;
constexpr uint32_t kIsamError = 2004;
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
  // SQLCancel from another thread ends a fetch that walks many tables.
  if (CancelRequested(stmt)) return kOperationCanceled;
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

// ---- Engine texts of the dictionary

template <typename F>
F EngineCall(uint16_t ordinal) {
  return EngineBinding::Instance().Function<F>(ordinal);
}

// A text the engine hands out after a probe for its length: 0 with the text,
// KIV_ERR_DD_NO_PROPERTY when it has none, or a failure.
template <typename Read>
uint32_t ReadEngineText(Read read, std::string* out) {
  out->clear();
  uint32_t length = 0;
  uint32_t code = read(nullptr, &length);
  if (code == 0) return 0;
  if (code != KIV_ERR_BUFFER_TOO_SMALL) return code;
  std::vector<char> buffer(static_cast<size_t>(length) + 1, 0);
  length += 1;
  if ((code = read(buffer.data(), &length)) != 0) return code;
  out->assign(buffer.data(), std::min<size_t>(length, buffer.size() - 1));
  return 0;
}

// A property of a field in the dictionary's column catalogue (317): its
// comment or its default value. Empty without a dictionary, for a field the
// catalogue does not hold, and when it has no such property.
std::string FieldPropertyText(const StmtRecord* stmt, const std::string& field, uint16_t property) {
  const EngineSession* session = stmt->conn->session;
  if (session->dictionary == 0) return {};
  auto get = EngineCall<decltype(&KivDDGetFieldProperty)>(317);
  std::string text;
  if (get == nullptr || ReadEngineText(
                            [&](char* buffer, uint32_t* length) {
                              return get(session->engineConnection, stmt->catalogTable, field.c_str(), property,
                                         buffer, length);
                            },
                            &text) != 0)
    text.clear();
  return text;
}

// REMARKS and COLUMN_DEF are texts only for a character request; a text that
// does not fit the buffer reads as "TRUNCATED".
Value CatalogNote(SQLSMALLINT cType, SQLLEN bufferLength, const std::string& text) {
  if (cType != SQL_C_CHAR) return Null();
  Value v = Text(text);
  if (bufferLength > 0 && static_cast<SQLLEN>(text.size()) >= bufferLength) v.text = "TRUNCATED";
  return v;
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
    case 12: {
      const std::string remarks = FieldPropertyText(stmt, c.name, KIV_DD_PROP_FIELD_COMMENT);
      *v = remarks.empty() ? Null() : CatalogNote(cType, bufferLength, remarks);
      return 0;
    }
    case 13: {
      const std::string given = FieldPropertyText(stmt, c.name, KIV_DD_PROP_FIELD_DEFAULT_VALUE);
      *v = CatalogNote(cType, bufferLength, given.empty() ? std::string("NULL") : given);
      return 0;
    }
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

// The table's cardinality: the engine's count of its records, or its
// smaller count when that one is smaller.
Value RecordCount(const EngineTable* table) {
  auto count = EngineBinding::Instance().Function<decltype(&KivGetRecordCount)>(84);
  uint32_t records = 0;
  if (count == nullptr || count(table->handle, KIV_COUNT_CARDINALITY, &records) != 0) return Null();
  uint32_t small = 0;
  if (count(table->handle, KIV_COUNT_CARDINALITY_SMALL, &small) == 0 && small < records) records = small;
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
    case 10:
      *v = !indexRow ? Null() : key < index->descending.size() && index->descending[key] != 0 ? Text("D") : Text("A");
      return 0;
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
    default:
      *v = Short(c == &stmt->engineTable->columns.back() ? SQL_PC_PSEUDO : SQL_PC_UNKNOWN);
      return 0;
  }
}

std::string PrimaryKeyName(const EngineSession* session, const std::string& table);

uint32_t PrimaryKeysValue(const StmtRecord* stmt, SQLUSMALLINT column, Value* v) {
  if (column > 6) return kInvalidColumnNumber;
  const EngineColumn* c = KeyColumn(stmt, stmt->catalogRow);
  if (c == nullptr) return kNoTypeEntry;
  switch (column) {
    case 1: *v = TextOrNull(stmt->patterns[1]); return 0;
    case 3: *v = Text(stmt->engineTable->name); return 0;
    case 4: *v = Text(c->name); return 0;
    case 5: *v = Short(stmt->catalogRow + 1); return 0;
    case 6: *v = TextOrNull(PrimaryKeyName(stmt->conn->session, stmt->engineTable->name)); return 0;
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

// A property of a dictionary object (ordinal 358); an absent property is empty.
uint32_t ObjectProperty(const EngineSession* session, const std::string& object, uint16_t property,
                        std::string* out) {
  auto get = EngineCall<decltype(&KivDDGetObjectProperty)>(358);
  if (get == nullptr) return kIsamError;
  const uint32_t code = ReadEngineText(
      [&](char* buffer, uint32_t* length) {
        return get(session->engineConnection, object.c_str(), property, buffer, length);
      },
      out);
  return code == KIV_ERR_DD_NO_PROPERTY ? 0 : code;
}

// The names of the dictionary's objects of one type, through the engine's
// enumeration (319, 320, 321) with a 256-character name buffer.
uint32_t NextObjectName(const EngineSession* session, uint16_t type, uint32_t* find, bool* started,
                        std::string* name) {
  auto first = EngineCall<decltype(&KivDDFindFirstObject)>(319);
  auto next = EngineCall<decltype(&KivDDFindNextObject)>(320);
  auto close = EngineCall<decltype(&KivDDFindClose)>(321);
  if (first == nullptr || next == nullptr || close == nullptr) return kIsamError;
  char buffer[256] = {};
  uint32_t length = sizeof buffer - 1;  // room for the NUL the engine may leave out
  const uint32_t code =
      *started ? next(*find, buffer, &length) : first(session->engineConnection, type, "", buffer, &length, find);
  *started = true;
  if (code == KIV_ERR_DD_NO_MORE_OBJECTS) {
    if (*find != 0) close(*find);
    *find = 0;
    return kEndOfRows;
  }
  if (code != 0) return code;
  *name = buffer;
  return 0;
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) return parts;
    start = end + 1;
  }
}

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::string CaseFolded(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

bool NameMatches(const char* pattern, const std::string& name) {
  return MatchLikeValue('\\', name.c_str(), static_cast<SQLLEN>(name.size()), pattern,
                        static_cast<SQLLEN>(std::strlen(pattern)), false);
}

// The listing state of a catalog statement, made at its first fetch.
uint32_t ListingOf(StmtRecord* stmt, CatalogListing** out) {
  auto* request = static_cast<CatalogRequest*>(stmt->catalogRequest);
  if (request == nullptr) {
    if (uint32_t code = NewCatalogRequest(stmt->conn->session, "", 0, "", 0, &request)) return code;
    request->next = nullptr;  // walks no tables
    stmt->catalogRequest = request;
  }
  if (request->listing == nullptr) request->listing = new (std::nothrow) CatalogListing;
  if (request->listing == nullptr) return kMemoryError;
  *out = request->listing;
  return 0;
}

// The listing state of a statement after its first fetch; null before.
const CatalogListing* ListingOf(const StmtRecord* stmt) {
  const auto* request = static_cast<const CatalogRequest*>(stmt->catalogRequest);
  return request != nullptr ? request->listing : nullptr;
}

bool NamesCurrentTable(const StmtRecord* stmt, const std::string& name) {
  return EqualsIgnoreCase(name, stmt->catalogTable);
}

// ---- SQLForeignKeys

int16_t RuleCode(const std::string& word) {
  static const struct {
    const char* word;
    int16_t code;
  } kRules[] = {{"CASCADE", SQL_CASCADE},
                {"RESTRICT", SQL_RESTRICT},
                {"SETNULL", SQL_SET_NULL},
                {"NOACTION", SQL_NO_ACTION},
                {"SETDEFAULT", SQL_SET_DEFAULT}};
  for (const auto& rule : kRules)
    if (EqualsIgnoreCase(word, rule.word)) return rule.code;
  return -1;
}

// Every relation of a dictionary connection; a free connection has none.
uint32_t ReadRelations(const EngineSession* session, std::vector<CatalogListing::Relation>* relations) {
  if (session->dictionary == 0) return 0;
  uint32_t find = 0;
  bool started = false;
  std::vector<std::string> names;
  for (;;) {
    std::string name;
    const uint32_t code = NextObjectName(session, KIV_DD_OBJ_RELATION, &find, &started, &name);
    if (code == kEndOfRows) break;
    if (code != 0) {
      if (find != 0) EngineCall<decltype(&KivDDFindClose)>(321)(find);
      return code;
    }
    names.push_back(name);
  }
  for (const std::string& name : names) {
    CatalogListing::Relation r;
    r.name = name;
    std::string parentColumns, childColumns, updateRule, deleteRule;
    for (auto [property, text] : {std::pair{KIV_DD_PROP_RI_PARENT_TABLE, &r.parentTable},
                                  {KIV_DD_PROP_RI_CHILD_TABLE, &r.childTable},
                                  {KIV_DD_PROP_RI_PARENT_COLUMNS, &parentColumns},
                                  {KIV_DD_PROP_RI_CHILD_COLUMNS, &childColumns},
                                  {KIV_DD_PROP_RI_UPDATE_RULE, &updateRule},
                                  {KIV_DD_PROP_RI_DELETE_RULE, &deleteRule}}) {
      if (uint32_t code = ObjectProperty(session, name, static_cast<uint16_t>(property), text)) return code;
    }
    r.parentColumns = Split(parentColumns, ';');
    r.childColumns = Split(childColumns, ';');
    r.updateRule = RuleCode(updateRule);
    r.deleteRule = RuleCode(deleteRule);
    relations->push_back(std::move(r));
  }
  return 0;
}

size_t KeyColumnCount(const CatalogListing::Relation& r) {
  return std::min(r.parentColumns.size(), r.childColumns.size());
}

// The primary-key name of a dictionary table (316 with 202); empty when none
// or without a dictionary.
std::string PrimaryKeyName(const EngineSession* session, const std::string& table) {
  if (session->dictionary == 0) return {};
  auto get = EngineCall<decltype(&KivDDGetTableProperty)>(316);
  std::string name;
  if (get == nullptr || ReadEngineText(
                            [&](char* buffer, uint32_t* length) {
                              return get(session->engineConnection, table.c_str(), KIV_DD_PROP_PRIMARY_KEY,
                                         buffer, length);
                            },
                            &name) != 0)
    name.clear();
  return name;
}

// Takes the relations of the current table (it is their foreign-key table)
// that point at the asked primary-key table; those of a foreign-key table
// are listed by primary-key table.
void TakeRelationsOfTable(const StmtRecord* stmt, CatalogListing* l) {
  const std::string pkTable = stmt->keyTables[0];
  l->ofTable.clear();
  l->nextOfTable = 0;
  for (const CatalogListing::Relation& r : l->relations)
    if (NamesCurrentTable(stmt, r.childTable) && (pkTable.empty() || EqualsIgnoreCase(r.parentTable, pkTable)))
      l->ofTable.push_back(&r);
  std::stable_sort(l->ofTable.begin(), l->ofTable.end(), [](const auto* a, const auto* b) {
    return CaseFolded(a->parentTable) < CaseFolded(b->parentTable);
  });
}

uint32_t AdvanceForeignKeys(StmtRecord* stmt) {
  CatalogListing* l = nullptr;
  if (uint32_t code = ListingOf(stmt, &l)) return code;
  if (!l->relationsRead) {
    l->relationsRead = true;
    if (uint32_t code = ReadRelations(stmt->conn->session, &l->relations)) return code;
  }
  for (;;) {
    if (l->relation != nullptr && static_cast<size_t>(l->keySequence) < KeyColumnCount(*l->relation)) {
      ++l->keySequence;
      return 0;
    }
    if (l->nextOfTable < l->ofTable.size()) {
      l->relation = l->ofTable[l->nextOfTable++];
      l->keySequence = 0;
      l->primaryKeyName = PrimaryKeyName(stmt->conn->session, l->relation->parentTable);
      continue;
    }
    l->relation = nullptr;
    if (stmt->catalogSubKind == kSubKindBothKeyTables) {
      if (l->tableTaken) return kEndOfRows;
      l->tableTaken = true;
      CopyField(stmt->catalogTable, sizeof stmt->catalogTable, stmt->keyTables[1]);
      stmt->catalogQualifier[0] = 0;
    } else {
      if (uint32_t code = NextTable(stmt)) return code;
      if (stmt->keyTables[1][0] != 0 && !NamesCurrentTable(stmt, stmt->keyTables[1])) continue;
    }
    TakeRelationsOfTable(stmt, l);
  }
}

Value Rule(int16_t rule) { return rule == -1 ? Null() : Short(rule); }

uint32_t ForeignKeysValue(const StmtRecord* stmt, SQLUSMALLINT column, Value* v) {
  if (column > 14) return kInvalidColumnNumber;
  const CatalogListing* l = ListingOf(stmt);
  if (l == nullptr || l->relation == nullptr || l->keySequence < 1) return kInvalidCursorState;
  const CatalogListing::Relation& r = *l->relation;
  const auto key = static_cast<size_t>(l->keySequence - 1);
  switch (column) {
    case 3: *v = Text(r.parentTable); return 0;
    case 4: *v = Text(r.parentColumns[key]); return 0;
    case 7: *v = Text(stmt->catalogTable); return 0;
    case 8: *v = Text(r.childColumns[key]); return 0;
    case 9: *v = Short(l->keySequence); return 0;
    case 10: *v = Rule(r.updateRule); return 0;
    case 11: *v = Rule(r.deleteRule); return 0;
    case 12: *v = TextOrNull(r.name); return 0;
    case 13: *v = TextOrNull(l->primaryKeyName); return 0;
    default: *v = Null(); return 0;  // catalogs, schemas and the deferrability are not kept
  }
}

// ---- SQLProcedures and SQLProcedureColumns

// The next procedure of the dictionary whose name matches `pattern`.
uint32_t NextProcedure(StmtRecord* stmt, CatalogListing* l, const char* pattern) {
  for (;;) {
    if (CancelRequested(stmt)) return kOperationCanceled;
    if (uint32_t code = NextObjectName(stmt->conn->session, KIV_DD_OBJ_PROCEDURE, &l->find, &l->findStarted,
                                       &l->procedure))
      return code;
    if (NameMatches(pattern, l->procedure)) return 0;
  }
}

uint32_t AdvanceProcedures(StmtRecord* stmt) {
  if (stmt->conn->session->dictionary == 0) return kEndOfRows;
  CatalogListing* l = nullptr;
  if (uint32_t code = ListingOf(stmt, &l)) return code;
  if (uint32_t code = NextProcedure(stmt, l, stmt->patterns[0])) return code;
  return ObjectProperty(stmt->conn->session, l->procedure, KIV_DD_PROP_PROC_DESCRIPTION, &l->description);
}

// The entries of a parameter list: "name,type,length,decimals" joined by ';'.
void AddParameters(const std::string& list, int16_t columnType, std::vector<CatalogListing::Parameter>* out) {
  int32_t position = 0;
  for (const std::string& entry : Split(list, ';')) {
    if (Trimmed(entry).empty()) continue;
    const std::vector<std::string> fields = Split(entry, ',');
    CatalogListing::Parameter p;
    p.name = Trimmed(fields[0]);
    p.typeName = fields.size() > 1 ? Trimmed(fields[1]) : std::string();
    p.length = fields.size() > 2 ? static_cast<int32_t>(std::strtol(fields[2].c_str(), nullptr, 10)) : 0;
    p.decimals = fields.size() > 3 ? static_cast<int16_t>(std::strtol(fields[3].c_str(), nullptr, 10)) : 0;
    p.columnType = columnType;
    p.position = ++position;
    out->push_back(std::move(p));
  }
}

uint32_t AdvanceProcedureColumns(StmtRecord* stmt) {
  if (stmt->conn->session->dictionary == 0) return kEndOfRows;
  CatalogListing* l = nullptr;
  if (uint32_t code = ListingOf(stmt, &l)) return code;
  for (;;) {
    while (l->nextParameter < l->parameters.size()) {
      l->parameter = &l->parameters[l->nextParameter++];
      if (NameMatches(stmt->patterns[0], l->parameter->name)) return 0;
    }
    l->parameter = nullptr;
    if (uint32_t code = NextProcedure(stmt, l, stmt->patterns[1])) return code;
    l->parameters.clear();
    l->nextParameter = 0;
    std::string input, output;
    if (uint32_t code = ObjectProperty(stmt->conn->session, l->procedure, KIV_DD_PROP_PROC_INPUT, &input))
      return code;
    if (uint32_t code = ObjectProperty(stmt->conn->session, l->procedure, KIV_DD_PROP_PROC_OUTPUT, &output))
      return code;
    AddParameters(input, SQL_PARAM_INPUT, &l->parameters);
    AddParameters(output, SQL_RESULT_COL, &l->parameters);
  }
}

uint32_t ProceduresValue(const StmtRecord* stmt, SQLUSMALLINT column, Value* v) {
  if (column > 8) return kInvalidColumnNumber;
  const CatalogListing* l = ListingOf(stmt);
  if (l == nullptr) return kInvalidCursorState;
  switch (column) {
    case 3: *v = Text(l->procedure); return 0;
    case 4: case 5: case 6: *v = Long(0); return 0;
    case 7: *v = TextOrNull(l->description); return 0;
    case 8: *v = Short(SQL_PT_FUNCTION); return 0;
    default: *v = Null(); return 0;
  }
}

// How a parameter's engine type is reported: its SQL type, a fixed size (0:
// the entry's length), and whether it has an octet length and a radix.
struct ParameterType {
  uint16_t engineType;
  int16_t sqlType;
  int32_t size;
  bool octets;
  bool radix;
};
constexpr ParameterType kParameterTypes[] = {
    {KIV_FT_LOGICAL, SQL_BIT, 1, false, false},
    {KIV_FT_NUMERIC, SQL_NUMERIC, 0, true, true},
    {KIV_FT_DATE, SQL_DATE, 4, false, false},
    {KIV_FT_CHARACTER, SQL_CHAR, 0, true, false},
    {KIV_FT_MEMO, SQL_LONGVARCHAR, 0x7FFFFFF8, true, false},
    {KIV_FT_BINARY, SQL_LONGVARBINARY, 0x7FFFFFFF, true, false},
    {KIV_FT_IMAGE, SQL_LONGVARBINARY, 0x7FFFFFFF, true, false},
    {KIV_FT_VARCHAR, SQL_VARCHAR, 64000, true, false},
    {KIV_FT_DOUBLE, SQL_DOUBLE, 8, false, true},
    {KIV_FT_INTEGER, SQL_INTEGER, 4, false, true},
    {KIV_FT_SHORTINT, SQL_SMALLINT, 2, false, true},
    {KIV_FT_TIME, SQL_TIME, 4, false, false},
    {KIV_FT_TIMESTAMP, SQL_TIMESTAMP, 8, false, false},
    {KIV_FT_AUTOINC, SQL_INTEGER, 4, false, true},
    {KIV_FT_RAW, SQL_BINARY, 0, true, false},
    {KIV_FT_CURDOUBLE, SQL_DOUBLE, 8, false, true},
    {KIV_FT_MONEY, SQL_NUMERIC, 8, false, true},
    {KIV_FT_CICHARACTER, SQL_CHAR, 0, true, false},
    {KIV_FT_ROWVERSION, SQL_NUMERIC, 8, false, true},
    {KIV_FT_MODTIME, SQL_TIMESTAMP, 8, false, false},
};

const ParameterType* ParameterTypeOf(const std::string& typeName) {
  const uint16_t engineType = FieldTypeFromName(CaseFolded(typeName).c_str());
  for (const ParameterType& t : kParameterTypes)
    if (t.engineType == engineType) return &t;
  return nullptr;
}

uint32_t ProcedureColumnsValue(const StmtRecord* stmt, SQLUSMALLINT column, Value* v) {
  if (column > 19) return kInvalidColumnNumber;
  const CatalogListing* l = ListingOf(stmt);
  if (l == nullptr || l->parameter == nullptr) return kInvalidCursorState;
  const CatalogListing::Parameter& p = *l->parameter;
  const ParameterType* type = ParameterTypeOf(p.typeName);
  if (type == nullptr && column >= 6) return kNoTypeEntry;
  const int16_t t = type != nullptr ? type->sqlType : 0;
  const int32_t size = type != nullptr && type->size != 0 ? type->size : p.length;
  const bool autoinc = type != nullptr && type->engineType == KIV_FT_AUTOINC;
  switch (column) {
    case 3: *v = Text(l->procedure); return 0;
    case 4: *v = Text(p.name); return 0;
    case 5: *v = Short(p.columnType); return 0;
    case 6: *v = Short(MapDateTimeTypeCode(stmt, t)); return 0;
    case 7: *v = Text(p.typeName.empty() ? "char" : p.typeName); return 0;
    case 8: case 9: *v = Long(size); return 0;
    case 10: *v = type->engineType == KIV_FT_NUMERIC ? Short(p.decimals) : Null(); return 0;
    case 11: *v = type->radix ? Short(10) : Null(); return 0;
    case 12: *v = Short(autoinc ? SQL_NO_NULLS : SQL_NULLABLE); return 0;
    case 14: *v = Text("NULL"); return 0;
    case 15: *v = Short(IsDateType(t) || IsTimeType(t) || IsTimestampType(t) ? 9 : MapDateTimeTypeCode(stmt, t)); return 0;
    case 16:
      *v = IsDateType(t) ? Short(1) : IsTimeType(t) ? Short(2) : IsTimestampType(t) ? Short(3) : Null();
      return 0;
    case 17: *v = type->octets ? Long(size) : Null(); return 0;
    case 18: *v = Long(p.position); return 0;
    case 19: *v = Text(autoinc ? "NO" : "YES"); return 0;
    default: *v = Null(); return 0;  // catalog, schema and remarks
  }
}

// ---- SQLTablePrivileges: four steps per table, each with its bit in the
// privileges of an opened table and in the dictionary's rights byte.
struct TablePrivilege {
  uint8_t tableBit;
  uint8_t dictionaryBit;
  const char* name;
};
constexpr TablePrivilege kTablePrivileges[] = {{KIV_OPEN_DRV_READ, KIV_DD_RIGHT_SELECT, "SELECT"},
                                               {KIV_OPEN_DRV_INSERT, KIV_DD_RIGHT_INSERT, "INSERT"},
                                               {KIV_OPEN_DRV_UPDATE, KIV_DD_RIGHT_UPDATE, "UPDATE"},
                                               {KIV_OPEN_DRV_DELETE, KIV_DD_RIGHT_DELETE, "DELETE"}};
constexpr int kTablePrivilegeSteps = 4;
constexpr int kLockNone = 0;

// The privileges of the current table: the dictionary's rights (392) when the
// connection has a dictionary and no catalog text was given, else those of
// the table opened with nothing asked (393).
uint32_t ReadTablePrivileges(const StmtRecord* stmt, CatalogListing* l) {
  EngineSession* session = stmt->conn->session;
  l->dictionaryRights = session->dictionary != 0 && stmt->patterns[1][0] == 0;
  if (l->dictionaryRights) {
    auto rights = EngineCall<decltype(&KivDDGetTableRights)>(392);
    if (rights == nullptr) return kIsamError;
    return rights(session->engineConnection, stmt->catalogTable, &l->privileges);
  }
  auto privileges = EngineCall<decltype(&KivGetTablePrivileges)>(393);
  if (privileges == nullptr) return kIsamError;
  EngineTable* table = nullptr;
  if (uint32_t code =
          OpenEngineTable(session, stmt->catalogQualifier, stmt->catalogTable, kLockNone, false, nullptr, &table))
    return code;
  const uint32_t code = privileges(table->handle, &l->privileges);
  CloseEngineTable(session, table);
  return code;
}

uint32_t AdvanceTablePrivileges(StmtRecord* stmt) {
  CatalogListing* l = nullptr;
  if (uint32_t code = ListingOf(stmt, &l)) return code;
  for (;;) {
    while (l->step < kTablePrivilegeSteps) {
      const TablePrivilege& p = kTablePrivileges[l->step++];
      if ((l->privileges & (l->dictionaryRights ? p.dictionaryBit : p.tableBit)) != 0) {
        l->currentStep = l->step - 1;
        return 0;
      }
    }
    if (uint32_t code = NextTable(stmt)) return code;
    const uint32_t code = ReadTablePrivileges(stmt, l);
    if (code == KIV_ERR_NO_PRIVILEGE) continue;  // a table this user may not open is left out
    if (code != 0) return code;
    l->step = 0;
  }
}

uint32_t TablePrivilegesValue(const StmtRecord* stmt, SQLUSMALLINT column, Value* v) {
  if (column > 7) return kInvalidColumnNumber;
  const CatalogListing* l = ListingOf(stmt);
  if (l == nullptr) return kInvalidCursorState;
  switch (column) {
    case 1: *v = TextOrNull(stmt->patterns[1]); return 0;
    case 3: *v = Text(stmt->catalogTable); return 0;
    case 4: *v = Text("KIVSYS"); return 0;
    case 5: *v = Text(stmt->conn->session->userName); return 0;
    case 6: *v = Text(kTablePrivileges[l->currentStep].name); return 0;
    case 7: *v = Grantable(stmt); return 0;
    default: *v = Null(); return 0;
  }
}

}  // namespace

void FreeCatalogListing(EngineSession*, CatalogListing* listing) {
  if (listing == nullptr) return;
  if (listing->find != 0) {
    if (auto close = EngineCall<decltype(&KivDDFindClose)>(321)) close(listing->find);
  }
  delete listing;
}

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
    case kKindForeignKeys: code = AdvanceForeignKeys(stmt); break;
    case kKindProcedures: code = AdvanceProcedures(stmt); break;
    case kKindProcedureColumns: code = AdvanceProcedureColumns(stmt); break;
    case kKindTablePrivileges: code = AdvanceTablePrivileges(stmt); break;
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
    case kKindForeignKeys: code = ForeignKeysValue(stmt, column, &v); break;
    case kKindProcedures: code = ProceduresValue(stmt, column, &v); break;
    case kKindProcedureColumns: code = ProcedureColumnsValue(stmt, column, &v); break;
    case kKindTablePrivileges: code = TablePrivilegesValue(stmt, column, &v); break;
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
