#include "catalog/catalog.h"

#include <cstring>
#include <string>

#include "api.h"
#include "catalog/catalogrows.h"
#include "data/enginetable.h"
#include "util/helpers.h"
#include "sql/like.h"
#include "handles/messages.h"
#include "connect/session.h"
#include "data/valuetext.h"

namespace kivodbc {
namespace {

constexpr uint32_t kIsamError = 2004;
constexpr uint32_t kIsamPathTooLong = 2009;
constexpr size_t kNameMaximum = 255;
constexpr size_t kColumnMaximum = 128;

// A string argument: its ODBC length honoured, cut to `maximum`, without trailing blanks.
std::string Argument(const SQLCHAR* text, SQLSMALLINT length, size_t maximum) {
  const char* chars = reinterpret_cast<const char*>(text);
  std::string value(chars != nullptr ? chars : "", ArgumentLength(chars, length, maximum));
  while (!value.empty() && value.back() == ' ') value.pop_back();
  return value;
}

// A search pattern: empty becomes "%" ("" when names are identifiers), and
// identifiers are escaped so that '%' and '_' in them match themselves.
std::string Pattern(const StmtRecord* stmt, std::string value) {
  if (stmt->metadataId == 0) return value.empty() ? std::string("%") : value;
  char escaped[kPatternSize] = {};
  CopyField(escaped, kNameMaximum + 1, value);
  EscapeCatalogPattern(escaped, kNameMaximum);
  return escaped;
}

void Store(char* field, const std::string& value) { CopyField(field, kPatternSize, value); }

// The checks every catalog call starts with. Null: go on.
StmtRecord* BeginCatalogCall(SQLHSTMT handle, SQLRETURN* rc) {
  StmtRecord* stmt = AsStmt(handle);
  if (stmt == nullptr) {
    *rc = SQL_INVALID_HANDLE;
    return nullptr;
  }
  stmt->code = 0;
  stmt->rowCount = 0;
  if (stmt->kind != kKindNone || stmt->cursor.needData != 0) {
    *rc = PostStatementError(stmt, kInvalidCursorState);
    return nullptr;
  }
  if (stmt->cursor.open != 0) FreeStmt(stmt, SQL_CLOSE);
  if (stmt->conn == nullptr || stmt->conn->session == nullptr) {
    *rc = PostStatementError(stmt, kFunctionSequenceError);
    return nullptr;
  }
  *rc = SQL_SUCCESS;
  return stmt;
}

SQLRETURN FinishCatalogCall(StmtRecord* stmt, int32_t kind, int32_t subKind, SQLLEN rows = -1) {
  stmt->kind = kind;
  stmt->catalogSubKind = subKind;
  stmt->catalogRow = -1;
  stmt->cursorRowCount = rows;
  if (stmt->rowsFetchedPtr != nullptr) *stmt->rowsFetchedPtr = static_cast<SQLULEN>(rows);
  stmt->currentRow = 0;
  stmt->fetchState = -1;
  if (stmt->conn->session->catalogFlag != 0) stmt->transactionTouched = 1;
  return SQL_SUCCESS;
}

// Prepares the table walk of a catalog call; a failure is posted with the engine text.
SQLRETURN StartRequest(StmtRecord* stmt, const std::string& qualifier, const std::string& table) {
  CatalogRequest* request = nullptr;
  EngineSession* session = stmt->conn->session;
  // The list is read again so that tables made since the connection are
  // seen, unless another statement is still walking it.
  bool walking = false;
  for (const StmtRecord* other = stmt->conn->firstStmt; other != nullptr; other = other->next)
    walking = walking || (other != stmt && other->catalogRequest != nullptr);
  if (session->engineConnection != 0 && !walking) {
    FreeRightsList(session);
    if (uint32_t code = LoadRightsList(session)) {
      const SQLRETURN rc = PostStatementError(stmt, code);
      BuildDiagnosticText(session, stmt->engineText);
      return rc;
    }
  }
  if (uint32_t code = NewCatalogRequest(session, qualifier.c_str(), qualifier.size(), table.c_str(), table.size(),
                                        &request)) {
    const SQLRETURN rc = PostStatementError(stmt, code);
    BuildDiagnosticText(session, stmt->engineText);
    return rc;
  }
  stmt->catalogRequest = request;
  return SQL_SUCCESS;
}

// Keeps the table name and qualifier of a call on one table and, when `open`,
// opens the table; a table that cannot be opened leaves none.
uint32_t OpenCatalogTable(StmtRecord* stmt, const SQLCHAR* qualifierText, SQLSMALLINT qualifierLength,
                          const SQLCHAR* tableText, SQLSMALLINT tableLength, bool open = true) {
  const std::string qualifier = Argument(qualifierText, qualifierLength, kNameMaximum);
  const std::string table = Argument(tableText, tableLength, kNameMaximum);
  Store(stmt->patterns[0], table);
  Store(stmt->patterns[1], qualifier);
  if (!open) return 0;
  if (table.empty()) return kNoData;
  EngineTable* opened = nullptr;
  const uint32_t code =
      OpenEngineTable(stmt->conn->session, qualifier.c_str(), table.c_str(), kLockRead, false, nullptr, &opened);
  stmt->engineTable = opened;
  return code;
}

bool EndsWithExtension(const char* pattern, size_t length) { return length >= 4 && pattern[length - 4] == '.'; }

}  // namespace

uint32_t NewCatalogRequest(EngineSession* session, const char* qualifier, size_t qualifierLength, const char* table,
                           size_t tableLength, CatalogRequest** out) {
  *out = nullptr;
  auto* request = static_cast<CatalogRequest*>(DrvAlloc(sizeof(CatalogRequest)));
  if (request == nullptr) {
    session->lastError = kIsamError;
    return kIsamError;
  }
  request->position = -1;
  qualifierLength = std::min(qualifierLength, kNameMaximum);
  tableLength = std::min(tableLength, kNameMaximum);
  std::memcpy(request->qualifierPattern, qualifier, qualifierLength);
  request->qualifierPatternLength = static_cast<uint16_t>(qualifierLength);
  std::memcpy(request->tablePattern, table, tableLength);
  request->tablePatternLength = static_cast<uint16_t>(tableLength);
  request->next = session->accessibleTables;
  request->session = session;
  *out = request;
  return 0;
}

void FreeCatalogRequest(CatalogRequest* request) {
  if (request == nullptr) return;
  FreeCatalogListing(request->session, request->listing);
  request->session->lastError = 0;
  DrvFree(request);
}

uint32_t NextCatalogTable(CatalogRequest* request, char* table, char* qualifier) {
  const bool keepExtension = EndsWithExtension(request->tablePattern, request->tablePatternLength);
  for (auto* entry = static_cast<RightsEntry*>(request->next); entry != nullptr;
       entry = static_cast<RightsEntry*>(request->next)) {
    request->next = entry->next;
    ++request->position;
    // On a dictionary connection an entry's name is the name the dictionary
    // knows the table by: that is the table's name, and it has no qualifier.
    const bool named = request->session->dictionary != 0 && entry->name[0] != 0;
    std::string file = named ? entry->name : entry->file;
    const size_t cut = named ? std::string::npos : file.find_last_of("/:\\");
    if (cut != std::string::npos) file.erase(0, cut + 1);
    if (!keepExtension && !named) {
      const size_t dot = file.find_last_of('.');
      if (dot != std::string::npos) file.erase(dot);
    }
    if (!MatchLikeValue('\\', file.c_str(), static_cast<SQLLEN>(file.size()), request->tablePattern,
                        request->tablePatternLength, false))
      continue;
    const char* name = named ? "" : entry->name;
    if (!MatchLikeValue('\\', name, SQL_NTS, request->qualifierPattern, request->qualifierPatternLength, false)) {
      if (name[0] != 0) continue;
      if (!MatchLikeValue('\\', request->session->connectPath, SQL_NTS, request->qualifierPattern,
                          request->qualifierPatternLength, false))
        continue;
    }
    if (file.size() >= 256 || std::strlen(name) >= 256) return kIsamPathTooLong;
    CopyField(table, 256, file);
    CopyField(qualifier, 256, name);
    return 0;
  }
  return kNoData;
}

void ReleaseCatalogState(StmtRecord* stmt) {
  FreeCatalogRequest(static_cast<CatalogRequest*>(stmt->catalogRequest));
  stmt->catalogRequest = nullptr;
  if (stmt->engineTable != nullptr) {
    CloseEngineTable(stmt->conn != nullptr ? stmt->conn->session : nullptr, stmt->engineTable);
    stmt->engineTable = nullptr;
  }
}

SQLRETURN Tables(SQLHSTMT handle, const SQLCHAR* qualifierText, SQLSMALLINT qualifierLength,
                 const SQLCHAR* ownerText, SQLSMALLINT ownerLength, const SQLCHAR* tableText,
                 SQLSMALLINT tableLength, const SQLCHAR* typeText, SQLSMALLINT typeLength) {
  SQLRETURN rc;
  StmtRecord* stmt = BeginCatalogCall(handle, &rc);
  if (stmt == nullptr) return rc;
  const std::string owner = Argument(ownerText, ownerLength, kNameMaximum);
  if (!owner.empty() && owner != "%") return PostStatementError(stmt, kFeatureNotImplemented);
  const std::string qualifier = Argument(qualifierText, qualifierLength, kNameMaximum);
  const std::string table = Argument(tableText, tableLength, kNameMaximum);
  if (qualifier.empty() && owner.empty() && table.empty() && Argument(typeText, typeLength, kNameMaximum) == "%")
    return FinishCatalogCall(stmt, kKindTables, kSubKindTableTypes);
  const std::string qualifierPattern = Pattern(stmt, qualifier);
  const std::string tablePattern = Pattern(stmt, table);
  if ((rc = StartRequest(stmt, qualifierPattern, tablePattern)) != SQL_SUCCESS) return rc;
  Store(stmt->patterns[0], tablePattern);
  Store(stmt->patterns[1], qualifierPattern);
  return FinishCatalogCall(stmt, kKindTables, kSubKindTableList);
}

SQLRETURN Columns(SQLHSTMT handle, const SQLCHAR* qualifierText, SQLSMALLINT qualifierLength, const SQLCHAR*,
                  SQLSMALLINT, const SQLCHAR* tableText, SQLSMALLINT tableLength, const SQLCHAR* columnText,
                  SQLSMALLINT columnLength) {
  SQLRETURN rc;
  StmtRecord* stmt = BeginCatalogCall(handle, &rc);
  if (stmt == nullptr) return rc;
  const std::string qualifier = Pattern(stmt, Argument(qualifierText, qualifierLength, kNameMaximum));
  const std::string table = Pattern(stmt, Argument(tableText, tableLength, kNameMaximum));
  const std::string column = Pattern(stmt, Argument(columnText, columnLength, kColumnMaximum));
  if ((rc = StartRequest(stmt, qualifier, table)) != SQL_SUCCESS) return rc;
  Store(stmt->patterns[0], column);
  return FinishCatalogCall(stmt, kKindColumns, 0);
}

SQLRETURN Statistics(SQLHSTMT handle, const SQLCHAR* qualifierText, SQLSMALLINT qualifierLength, const SQLCHAR*,
                     SQLSMALLINT, const SQLCHAR* tableText, SQLSMALLINT tableLength, SQLUSMALLINT unique,
                     SQLUSMALLINT) {
  SQLRETURN rc;
  StmtRecord* stmt = BeginCatalogCall(handle, &rc);
  if (stmt == nullptr) return rc;
  const bool uniqueOnly = unique == SQL_INDEX_UNIQUE;
  SQLLEN rows = 0;
  if (OpenCatalogTable(stmt, qualifierText, qualifierLength, tableText, tableLength) == 0) {
    rows = 1;
    for (const EngineIndex& index : stmt->engineTable->indexes)
      if (!uniqueOnly || (index.flags & 1) != 0) rows += static_cast<SQLLEN>(index.fields.size());
  }
  return FinishCatalogCall(stmt, kKindStatistics, uniqueOnly ? kSubKindUniqueIndexes : kSubKindAllIndexes, rows);
}

SQLRETURN SpecialColumns(SQLHSTMT handle, SQLUSMALLINT identifierType, const SQLCHAR* qualifierText,
                         SQLSMALLINT qualifierLength, const SQLCHAR*, SQLSMALLINT, const SQLCHAR* tableText,
                         SQLSMALLINT tableLength, SQLUSMALLINT, SQLUSMALLINT) {
  SQLRETURN rc;
  StmtRecord* stmt = BeginCatalogCall(handle, &rc);
  if (stmt == nullptr) return rc;
  if (identifierType != SQL_BEST_ROWID && identifierType != SQL_ROWVER)
    return PostStatementError(stmt, kNotSupported);
  OpenCatalogTable(stmt, qualifierText, qualifierLength, tableText, tableLength, identifierType == SQL_BEST_ROWID);
  return FinishCatalogCall(stmt, kKindSpecialColumns, identifierType);
}

SQLRETURN PrimaryKeys(SQLHSTMT handle, const SQLCHAR* qualifierText, SQLSMALLINT qualifierLength, const SQLCHAR*,
                      SQLSMALLINT, const SQLCHAR* tableText, SQLSMALLINT tableLength) {
  SQLRETURN rc;
  StmtRecord* stmt = BeginCatalogCall(handle, &rc);
  if (stmt == nullptr) return rc;
  OpenCatalogTable(stmt, qualifierText, qualifierLength, tableText, tableLength);
  return FinishCatalogCall(stmt, kKindPrimaryKeys, 0);
}

SQLRETURN ForeignKeys(SQLHSTMT handle, const SQLCHAR*, SQLSMALLINT, const SQLCHAR*, SQLSMALLINT,
                      const SQLCHAR* pkTableText, SQLSMALLINT pkTableLength, const SQLCHAR*, SQLSMALLINT,
                      const SQLCHAR*, SQLSMALLINT, const SQLCHAR* fkTableText, SQLSMALLINT fkTableLength) {
  SQLRETURN rc;
  StmtRecord* stmt = BeginCatalogCall(handle, &rc);
  if (stmt == nullptr) return rc;
  const std::string pkTable = Argument(pkTableText, pkTableLength, kNameMaximum);
  const std::string fkTable = Argument(fkTableText, fkTableLength, kNameMaximum);
  if ((pkTable.empty() || fkTable.empty()) && (rc = StartRequest(stmt, "%", "%")) != SQL_SUCCESS) return rc;
  Store(stmt->keyTables[0], pkTable);
  Store(stmt->keyTables[1], fkTable);
  const int32_t subKind = !pkTable.empty() && !fkTable.empty() ? kSubKindBothKeyTables
                          : !pkTable.empty()                   ? kSubKindPrimaryKeyTable
                                                               : kSubKindForeignKeyTable;
  return FinishCatalogCall(stmt, kKindForeignKeys, subKind);
}

SQLRETURN Procedures(SQLHSTMT handle, const SQLCHAR*, SQLSMALLINT, const SQLCHAR*, SQLSMALLINT,
                     const SQLCHAR* procedureText, SQLSMALLINT procedureLength) {
  SQLRETURN rc;
  StmtRecord* stmt = BeginCatalogCall(handle, &rc);
  if (stmt == nullptr) return rc;
  Store(stmt->patterns[0], Pattern(stmt, Argument(procedureText, procedureLength, kNameMaximum)));
  return FinishCatalogCall(stmt, kKindProcedures, 0);
}

SQLRETURN ProcedureColumns(SQLHSTMT handle, const SQLCHAR*, SQLSMALLINT, const SQLCHAR*, SQLSMALLINT,
                           const SQLCHAR* procedureText, SQLSMALLINT procedureLength, const SQLCHAR* columnText,
                           SQLSMALLINT columnLength) {
  SQLRETURN rc;
  StmtRecord* stmt = BeginCatalogCall(handle, &rc);
  if (stmt == nullptr) return rc;
  Store(stmt->patterns[1], Pattern(stmt, Argument(procedureText, procedureLength, kNameMaximum)));
  Store(stmt->patterns[0], Pattern(stmt, Argument(columnText, columnLength, kColumnMaximum)));
  return FinishCatalogCall(stmt, kKindProcedureColumns, 0);
}

SQLRETURN ColumnPrivileges(SQLHSTMT handle, const SQLCHAR* qualifierText, SQLSMALLINT qualifierLength,
                           const SQLCHAR*, SQLSMALLINT, const SQLCHAR* tableText, SQLSMALLINT tableLength,
                           const SQLCHAR* columnText, SQLSMALLINT columnLength) {
  SQLRETURN rc;
  StmtRecord* stmt = BeginCatalogCall(handle, &rc);
  if (stmt == nullptr) return rc;
  if (Argument(tableText, tableLength, kNameMaximum).empty()) return SQL_ERROR;
  Store(stmt->columnPattern, Pattern(stmt, Argument(columnText, columnLength, kColumnMaximum)));
  if (uint32_t code = OpenCatalogTable(stmt, qualifierText, qualifierLength, tableText, tableLength)) {
    PostStatementError(stmt, code);
    return SQL_ERROR;
  }
  return FinishCatalogCall(stmt, kKindColumnPrivileges, 0);
}

SQLRETURN TablePrivileges(SQLHSTMT handle, const SQLCHAR* qualifierText, SQLSMALLINT qualifierLength,
                          const SQLCHAR*, SQLSMALLINT, const SQLCHAR* tableText, SQLSMALLINT tableLength) {
  SQLRETURN rc;
  StmtRecord* stmt = BeginCatalogCall(handle, &rc);
  if (stmt == nullptr) return rc;
  const std::string qualifier = Argument(qualifierText, qualifierLength, kNameMaximum);
  const std::string table = Pattern(stmt, Argument(tableText, tableLength, kNameMaximum));
  if ((rc = StartRequest(stmt, Pattern(stmt, qualifier), table)) != SQL_SUCCESS) return rc;
  Store(stmt->patterns[1], qualifier);  // the catalog text of the rows
  return FinishCatalogCall(stmt, kKindTablePrivileges, 0);
}

// ---- Result columns

namespace {

constexpr int16_t kNullable = 1;
constexpr int16_t kCase = 1;

constexpr CatalogColumn V128(const char* name, int16_t nullable = 0, int16_t caseSensitive = 0) {
  return {name, SQL_VARCHAR, "VARCHAR", 128, 128, 128, nullable, caseSensitive};
}
constexpr CatalogColumn V254(const char* name, int16_t nullable = 0, int16_t caseSensitive = 0) {
  return {name, SQL_VARCHAR, "VARCHAR", 254, 254, 254, nullable, caseSensitive};
}
constexpr CatalogColumn S(const char* name, int16_t nullable = 0) {
  return {name, SQL_SMALLINT, "SMALLINT", 5, 2, 5, nullable, 0};
}
constexpr CatalogColumn I(const char* name, int16_t nullable = 0) {
  return {name, SQL_INTEGER, "INTEGER", 10, 4, 10, nullable, 0};
}
constexpr CatalogColumn C1(const char* name, int16_t nullable = 0, int16_t caseSensitive = 0) {
  return {name, SQL_CHAR, "CHAR", 1, 1, 1, nullable, caseSensitive};
}

constexpr CatalogColumn kTablesColumns[] = {V128("QUALIFIERNAME", kNullable), V128("OWNERNAME", kNullable),
                                            V128("TABLENAME"), V128("TYPENAME"),
                                            V254("REMARKS", kNullable, kCase)};
constexpr CatalogColumn kColumnsColumns[] = {
    V128("QUALIFIERNAME", kNullable), V128("OWNERNAME", kNullable), V128("TABLENAME"), V128("COLUMNNAME"),
    S("TYPE"), V128("TYPENAME"), I("PRECISION", kNullable), I("LENGTH", kNullable), S("SCALE", kNullable),
    S("RADIX", kNullable), S("NULLABLE"), V254("REMARKS", kNullable, kCase), V254("DEFAULT", kNullable, kCase),
    S("DATATYPE"), S("DATETIME_SUBTYPE", kNullable), I("OCTET_LENGTH", kNullable), I("ORDINAL_POSITION"),
    V254("IS_NULLABLE", kNullable, kCase)};
constexpr CatalogColumn kStatisticsColumns[] = {
    V128("QUALIFIERNAME", kNullable), V128("OWNERNAME", kNullable), V128("TABLENAME"), S("NONUNIQUE", kNullable),
    V128("INDEXQUALIFIERNAME", kNullable), V128("INDEXNAME", kNullable), S("TYPE"), S("SEQININDEX", kNullable),
    V128("COLUMNNAME", kNullable), C1("COLLATION", kNullable, kCase), I("CARDINALITY", kNullable),
    I("PAGES", kNullable), V128("FILTER", kNullable)};
constexpr CatalogColumn kSpecialColumnsColumns[] = {
    S("SCOPE", kNullable), V128("COLUMNNAME"), S("TYPE"), V128("TYPENAME"), I("PRECISION", kNullable),
    I("LENGTH", kNullable), S("SCALE", kNullable), S("PSEUDO", kNullable)};
constexpr CatalogColumn kTypeInfoColumns[] = {
    V128("TYPENAME"), S("TYPE"), I("PRECISION", kNullable), V128("PREFIX", kNullable), V128("SUFFIX", kNullable),
    V128("PARAMS", kNullable), S("NULLABLE"), S("CASESENSITIVE"), S("SEARCHABLE"), S("UNSIGNED", kNullable),
    S("MONEY"), S("AUTOINCREMENT", kNullable), V128("LOCALTYPENAME", kNullable), S("MINSCALE", kNullable),
    S("MAXSCALE", kNullable), S("SQL_DATA_TYPE"), S("SQL_DATETIME_SUB", kNullable), I("NUM_PREC_RADIX", kNullable),
    S("INTERVAL_PRECISION", kNullable)};
constexpr CatalogColumn kPrimaryKeysColumns[] = {V128("QUALIFIERNAME", kNullable), V128("OWNERNAME", kNullable),
                                                 V128("TABLENAME"), V128("COLUMNNAME"), S("KEYSEQ"),
                                                 V254("PKNAME", kNullable)};
constexpr CatalogColumn kForeignKeysColumns[] = {
    V128("PKQUALIFIERNAME", kNullable), V128("PKOWNERNAME", kNullable), V128("PKTABLENAME"), V128("PKCOLUMNNAME"),
    V128("FKQUALIFIERNAME", kNullable), V128("FKOWNERNAME", kNullable), V128("FKTABLENAME"), V128("FKCOLUMNNAME"),
    S("KEYSEQ"), S("UPDATERULE", kNullable), S("DELETERULE", kNullable), V254("FKNAME", kNullable),
    V254("PKNAME", kNullable)};
constexpr CatalogColumn kProceduresColumns[] = {
    V128("QUALIFIERNAME", kNullable), V128("OWNERNAME", kNullable), V128("PROCEDURE_NAME"),
    I("NUM_INPUT_PARAMS", kNullable), I("NUM_OUTPUT_PARAMS", kNullable), I("NUM_RESULT_SETS", kNullable),
    V254("REMARKS", kNullable, kCase), S("TYPE")};
constexpr CatalogColumn kProcedureColumnsColumns[] = {
    V128("QUALIFIERNAME", kNullable), V128("OWNERNAME", kNullable), V128("PROCEDURE_NAME"), V128("COLUMN_NAME"),
    S("COLUMN_TYPE"), S("DATA_TYPE"), V128("TYPE_NAME"), I("COLUMN_SIZE", kNullable), I("BUFFER_LENGTH", kNullable),
    S("DECIMAL_DIGITS", kNullable), S("NUM_PREC_RADIX", kNullable), S("NULLABLE"), V254("REMARKS", kNullable, kCase),
    V254("COLUMN_DEF", kNullable, kCase), S("SQL_DATA_TYPE"), S("SQL_DATETIME_SUB", kNullable),
    I("CHAR_OCTET_LENGTH", kNullable), I("ORDINAL_POSITION"), V254("IS_NULLABLE", kNullable, kCase)};
constexpr CatalogColumn kColumnPrivilegesColumns[] = {
    V128("TABLE_CAT", kNullable), V128("TABLE_SCHEM", kNullable), V128("TABLE_NAME"), V128("COLUMN_NAME"),
    V128("GRANTOR"), V128("GRANTEE"), V128("PRIVILEGE"), V128("IS_GRANTABLE")};
constexpr CatalogColumn kTablePrivilegesColumns[] = {V128("TABLE_CAT", kNullable), V128("TABLE_SCHEM", kNullable),
                                                     V128("TABLE_NAME"), V128("GRANTOR"), V128("GRANTEE"),
                                                     V128("PRIVILEGE"), V128("IS_GRANTABLE")};

template <size_t N>
const CatalogColumn* Columns(const CatalogColumn (&table)[N], int* count) {
  *count = static_cast<int>(N);
  return table;
}

}  // namespace

const CatalogColumn* CatalogResultColumns(int32_t kind, int* count) {
  switch (kind) {
    case kKindTables: return Columns(kTablesColumns, count);
    case kKindColumns: return Columns(kColumnsColumns, count);
    case kKindStatistics: return Columns(kStatisticsColumns, count);
    case kKindSpecialColumns: return Columns(kSpecialColumnsColumns, count);
    case kKindTypeInfo: return Columns(kTypeInfoColumns, count);
    case kKindPrimaryKeys: return Columns(kPrimaryKeysColumns, count);
    case kKindForeignKeys: return Columns(kForeignKeysColumns, count);
    case kKindProcedures: return Columns(kProceduresColumns, count);
    case kKindProcedureColumns: return Columns(kProcedureColumnsColumns, count);
    case kKindColumnPrivileges: return Columns(kColumnPrivilegesColumns, count);
    case kKindTablePrivileges: return Columns(kTablePrivilegesColumns, count);
    default: *count = 0; return nullptr;
  }
}

}  // namespace kivodbc
