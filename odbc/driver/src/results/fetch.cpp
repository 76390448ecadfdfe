#include "results/fetch.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "catalog/catalog.h"
#include "catalog/catalogrows.h"
#include "data/convert.h"
#include "data/enginetable.h"
#include "sql/keyset.h"
#include "handles/messages.h"
#include "sql/parsetree.h"
#include "sql/statement.h"
#include "data/tablerecord.h"
#include "handles/typetable.h"
#include "data/valuetext.h"

namespace kivodbc {
namespace {

bool IsCatalogKind(int32_t kind) { return kind >= 1 && kind <= 11; }

bool TypeIsUnsigned(const StmtRecord* stmt, int16_t sqlType) {
  size_t count = 0;
  const TypeEntry* entries = TypeTableOf(stmt->conn->session, &count);
  for (size_t i = 0; i < count; ++i)
    if (entries[i].sqlType == sqlType) return entries[i].unsignedAttribute == 1;
  return false;
}

void ClearProgress(StmtRecord* stmt) {
  stmt->getDataColumn = -1;
  stmt->getDataOffset = 0;
  stmt->getDataDone = 0;
}

template <typename T>
T* AtOffset(T* pointer, SQLLEN offset) {
  return pointer == nullptr ? nullptr
                            : reinterpret_cast<T*>(reinterpret_cast<char*>(pointer) + offset);
}

// Column 0: the row number, without the use-bookmarks option an error.
uint32_t BookmarkData(const StmtRecord* stmt, SQLSMALLINT cType, SQLPOINTER target, SQLLEN bufferLength,
                      SQLLEN* lengthTarget) {
  if (stmt->useBookmarks == SQL_UB_OFF) return kInvalidColumnNumber;
  const int32_t bookmark = stmt->currentRow;
  if (cType == SQL_C_DEFAULT) cType = SQL_C_SLONG;
  return static_cast<uint32_t>(ConvertColumnValue(SQL_INTEGER, false, &bookmark, sizeof bookmark, nullptr, cType,
                                                  target, bufferLength, lengthTarget));
}


void SetFirstRowStatus(SQLUSMALLINT* statuses, SQLUSMALLINT status) {
  if (statuses != nullptr) statuses[0] = status;
}

// The bound columns of a row just reached: the ODBC code with the row status.
SQLRETURN FinishRow(StmtRecord* stmt, SQLUSMALLINT* status, SQLULEN* rows) {
  *rows = 1;
  const uint32_t moved = TransferBindings(stmt);
  if (moved == 0) {
    *status = SQL_ROW_SUCCESS;
    return SQL_SUCCESS;
  }
  *status = moved == kDataTruncated ? SQL_ROW_SUCCESS_WITH_INFO : SQL_ROW_ERROR;
  return PostStatementError(stmt, moved);
}

// The next row of a catalog result.
SQLRETURN FetchCatalogRow(StmtRecord* stmt, SQLUSMALLINT orientation, SQLUSMALLINT* status, SQLULEN* rows) {
  // A catalog result is read forward only.
  if (orientation != SQL_FETCH_NEXT) return PostStatementError(stmt, kNotSupported);
  ClearProgress(stmt);
  // A row may be far on (many tables skipped): SQLCancel from another
  // thread ends the walk, and the result with it.
  CancelWindow window(stmt);
  const uint32_t code = AdvanceCatalogRow(stmt);
  window.Close();
  if (code == kOperationCanceled) {
    // As the driver manager takes it after the cancel: the result is closed.
    CloseStatement(stmt);
    return PostStatementError(stmt, code);
  }
  if (code == SQL_NO_DATA) {
    stmt->currentRow = 0;
    return SQL_NO_DATA;
  }
  if (code != 0) return PostStatementError(stmt, code);
  ++stmt->currentRow;
  return FinishRow(stmt, status, rows);
}

// One step of the cursor with the bound columns transferred. `*status` gets
// the row status; the result is an ODBC code with the error posted.
SQLRETURN FetchRow(StmtRecord* stmt, SQLUSMALLINT orientation, SQLLEN offset, SQLUSMALLINT* status,
                   SQLULEN* rows) {
  *status = SQL_ROW_NOROW;
  *rows = 0;
  if (stmt->kind == kKindNone) {
    stmt->currentRow = 0;
    return PostStatementError(stmt, kInvalidCursorState);
  }
  if (IsCatalogKind(stmt->kind)) return FetchCatalogRow(stmt, orientation, status, rows);
  if (stmt->kind != kKindSelect) return PostStatementError(stmt, kNotSupported);
  if (stmt->dataItem != nullptr || stmt->cursor.needData != 0) return PostStatementError(stmt, kInvalidCursorState);
  ParseNode* select = StatementSelect(stmt);
  SelectExtension* state = SelectStateOf(select);
  if (state == nullptr) return PostStatementError(stmt, kInternalError);
  // The bookmark of a row added without a keyset names no row, whatever the cursor.
  if (orientation == SQL_FETCH_BOOKMARK && offset == -3) return PostStatementError(stmt, kAddedRowBookmark);
  if (orientation != SQL_FETCH_NEXT && stmt->cursorType != SQL_CURSOR_KEYSET_DRIVEN &&
      stmt->cursorType != SQL_CURSOR_DYNAMIC)
    return PostStatementError(stmt, kFetchTypeOutOfRange);
  ClearProgress(stmt);
  // Moving onto rows the engine's result has not read yet runs the
  // statement's SQL on: SQLCancel from another thread interrupts it.
  const EngineRequest* request = stmt->request;
  const uint32_t code =
      request != nullptr && request->cursor != 0
          ? RunInterruptible(stmt, request->statement, [&] { return PositionCursor(stmt, select, orientation, offset); })
          : PositionCursor(stmt, select, orientation, offset);
  if (code == kNoDataFound) {
    stmt->currentRow = 0;
    return SQL_NO_DATA;
  }
  if (code == kRecordEdge) {
    // The keyset's record is gone.
    stmt->currentRow = state->position + 1;
    *rows = 1;
    *status = SQL_ROW_DELETED;
    PostStatementError(stmt, kDeletedRow);
    return SQL_SUCCESS_WITH_INFO;
  }
  if (code != 0) return PostStatementError(stmt, code);
  // The row number follows the cursor's position, also after a row added
  // without a keyset (row number -3) on a forward-only cursor.
  stmt->currentRow = state->position + 1;
  *rows = 1;
  const uint32_t moved = TransferBindings(stmt);
  if (moved == 0) {
    *status = SQL_ROW_SUCCESS;
    return SQL_SUCCESS;
  }
  if (moved == kDataTruncated) {
    *status = SQL_ROW_SUCCESS_WITH_INFO;
    return PostStatementError(stmt, moved);
  }
  *status = SQL_ROW_ERROR;
  return PostStatementError(stmt, moved);
}

}  // namespace

ParseNode* StatementSelect(const StmtRecord* stmt) {
  if (stmt->parseTree == nullptr || stmt->parseTree->statement == nullptr) return nullptr;
  ParseNode* statement = stmt->parseTree->statement;
  return statement->kind == kNodeSelect ? statement : nullptr;
}

ParseNode* SelectItem(ParseNode* select, SQLUSMALLINT column) {
  const SelectExtension* state = SelectStateOf(select);
  ParseNode* item = state != nullptr ? state->items : nullptr;
  for (SQLUSMALLINT i = 1; item != nullptr && i < column; ++i) item = item->next;
  return item;
}

uint32_t TransferBindings(StmtRecord* stmt) {
  uint32_t warning = 0;
  const SQLLEN offset = stmt->ard->bindOffsetPtr != nullptr ? *stmt->ard->bindOffsetPtr : 0;
  for (DescItem* item = stmt->ard->firstItem; item != nullptr; item = item->next) {
    if (item->dataPtr == nullptr && item->indicatorPtr == nullptr) continue;
    ClearProgress(stmt);
    const uint32_t code =
        GetColumnData(stmt, static_cast<SQLUSMALLINT>(item->number), item->cType, AtOffset(item->dataPtr, offset),
                      item->octetLength, AtOffset(item->octetLengthPtr, offset), AtOffset(item->indicatorPtr, offset));
    if (code == kDataTruncated) warning = code;
    else if (code != 0 && code != kNoDataFound) return code;
  }
  ClearProgress(stmt);
  return warning;
}

uint32_t GetColumnData(StmtRecord* stmt, SQLUSMALLINT column, SQLSMALLINT cType, SQLPOINTER target,
                       SQLLEN bufferLength, SQLLEN* length, SQLLEN* indicator) {
  if (IsCatalogKind(stmt->kind)) {
    if (stmt->catalogRow < 0) return kInvalidCursorState;
    if (column == 0) return BookmarkData(stmt, cType, target, bufferLength, length != nullptr ? length : indicator);
    return CatalogColumnData(stmt, column, cType, target, bufferLength, length, indicator);
  }
  ParseNode* select = StatementSelect(stmt);
  const SelectExtension* state = SelectStateOf(select);
  if (state == nullptr) return kInvalidCursorState;
  if (state->position < 0) return kInvalidCursorState;
  SQLLEN* lengthTarget = length != nullptr ? length : indicator;
  if (column == 0) return BookmarkData(stmt, cType, target, bufferLength, lengthTarget);
  ParseNode* item = SelectItem(select, column);
  if (item == nullptr) return kInvalidColumnNumber;
  if (stmt->getDataColumn != static_cast<int32_t>(column)) {
    stmt->getDataColumn = column;
    stmt->getDataOffset = 0;
    stmt->getDataDone = 0;
  }
  if (stmt->getDataDone != 0) return kNoDataFound;
  ParseNode* value = item->left;
  if (uint32_t code = LoadNodeValue(stmt, value)) return code;
  const EngineColumn* described = ColumnOfItem(item);
  const int16_t sqlType = described != nullptr ? described->sqlType : value->sqlType;
  if (value->isNull) {
    // A null needs an indicator, whatever the column's type.
    if (indicator == nullptr) return kIndicatorRequired;
    *indicator = SQL_NULL_DATA;
    stmt->getDataDone = 1;
    return 0;
  }
  int16_t sourceType = 0;
  const void* source = nullptr;
  SQLLEN sourceLength = 0;
  int32_t whole = 0;
  switch (value->category) {
    case kCategoryText:
    case kCategoryDecimal:
      sourceType = SQL_CHAR;
      source = value->buffer;
      sourceLength = value->buffer != nullptr ? value->valueLength : 0;
      if (value->category == kCategoryDecimal && sourceLength == 0) {
        source = "0";
        sourceLength = 1;
      }
      break;
    case kCategoryInteger:
      sourceType = SQL_INTEGER;
      whole = static_cast<int32_t>(value->number);
      source = &whole;
      sourceLength = sizeof whole;
      break;
    case kCategoryFloating:
      sourceType = SQL_DOUBLE;
      source = &value->number;
      sourceLength = sizeof value->number;
      break;
    case kCategoryDate:
      sourceType = SQL_TYPE_DATE;
      source = value->value;
      sourceLength = 6;
      break;
    case kCategoryTime:
      sourceType = SQL_TYPE_TIME;
      source = value->value;
      sourceLength = 6;
      break;
    case kCategoryTimestamp:
      sourceType = SQL_TYPE_TIMESTAMP;
      source = value->value;
      sourceLength = 16;
      break;
    case kCategoryBinary: {
      uint32_t count = 0;
      if (value->buffer != nullptr) std::memcpy(&count, value->buffer, 4);
      sourceType = SQL_BINARY;
      source = value->buffer != nullptr ? value->buffer + 4 : "";
      sourceLength = static_cast<SQLLEN>(count);
      break;
    }
    default:
      return kNotSupported;
  }
  // Signedness only matters to integers and to the default C type: the type
  // table is searched only then.
  const bool defaultType =
      cType == SQL_C_DEFAULT ||
      (cType == SQL_C_BINARY && (value->category == kCategoryDecimal || value->category == kCategoryInteger ||
                                 value->category == kCategoryFloating));
  const bool isUnsigned =
      (defaultType || value->category == kCategoryInteger) && TypeIsUnsigned(stmt, sqlType);
  if (defaultType) {
    cType = DefaultColumnCType(sqlType, isUnsigned);
    if (cType == 0) return kNotSupported;
  }
  if (indicator != nullptr && indicator != lengthTarget) *indicator = 0;
  const int code = ConvertColumnValue(sourceType, isUnsigned, source, sourceLength, &stmt->getDataOffset, cType,
                                      target, bufferLength, lengthTarget);
  if (code == 0) stmt->getDataDone = 1;
  return static_cast<uint32_t>(code);
}

SQLRETURN BindCol(SQLHSTMT handle, SQLUSMALLINT column, SQLSMALLINT cType, SQLPOINTER target, SQLLEN bufferLength,
                  SQLLEN* lengthOrIndicator) {
  StmtRecord* stmt = AsStmt(handle);
  if (stmt == nullptr) return SQL_INVALID_HANDLE;
  stmt->code = 0;
  if (stmt->cursor.needData != 0) return PostStatementError(stmt, kInvalidCursorState);
  DescRecord* ard = stmt->ard;
  const auto number = static_cast<int16_t>(column);
  if (target == nullptr) {
    for (DescItem** link = &ard->firstItem; *link != nullptr; link = &(*link)->next) {
      DescItem* item = *link;
      if (item->number != number) continue;
      *link = item->next;
      ReleaseItemOwned(item);
      DrvFree(item);
      break;
    }
    return SQL_SUCCESS;
  }
  DescItem* item = FindDescItem(ard, number, CreateItem{});
  if (item == nullptr) return PostStatementError(stmt, kMemoryError);
  item->cType = MapDateTimeTypeCode(stmt, cType);
  item->precision = cType == SQL_C_NUMERIC ? 15 : cType == SQL_C_SBIGINT ? 19 : cType == SQL_C_UBIGINT ? 20 : 0;
  item->scale = 0;
  item->dataPtr = target;
  item->octetLength = bufferLength;
  item->octetLengthPtr = lengthOrIndicator;
  item->indicatorPtr = lengthOrIndicator;
  return SQL_SUCCESS;
}

SQLRETURN Fetch(SQLHSTMT handle) {
  StmtRecord* stmt = AsStmt(handle);
  if (stmt == nullptr) return SQL_INVALID_HANDLE;
  stmt->code = 0;
  stmt->affectedRows = 0;
  stmt->rowStatusPtr = nullptr;
  stmt->positionedRow = -1;
  DescRecord& ird = stmt->builtIn[kIrd];
  if (ird.rowsProcessedPtr != nullptr) *ird.rowsProcessedPtr = 0;
  SetFirstRowStatus(ird.arrayStatusPtr, SQL_ROW_NOROW);
  SQLUSMALLINT status = SQL_ROW_NOROW;
  SQLULEN rows = 0;
  const SQLRETURN result = FetchRow(stmt, SQL_FETCH_NEXT, 0, &status, &rows);
  if (ird.rowsProcessedPtr != nullptr) *ird.rowsProcessedPtr = rows;
  if (rows != 0) SetFirstRowStatus(ird.arrayStatusPtr, status);
  return result;
}

SQLRETURN ExtendedFetch(SQLHSTMT handle, SQLUSMALLINT orientation, SQLLEN offset, SQLULEN* rowCount,
                        SQLUSMALLINT* rowStatus) {
  StmtRecord* stmt = AsStmt(handle);
  if (stmt == nullptr) return SQL_INVALID_HANDLE;
  stmt->code = 0;
  stmt->affectedRows = 0;
  if (rowCount != nullptr) *rowCount = 0;
  SetFirstRowStatus(rowStatus, SQL_ROW_NOROW);
  SQLUSMALLINT status = SQL_ROW_NOROW;
  SQLULEN rows = 0;
  SQLRETURN result = FetchRow(stmt, orientation, offset, &status, &rows);
  // A failed column leaves the row with its error status.
  if (result == SQL_ERROR && status == SQL_ROW_ERROR) result = SQL_SUCCESS_WITH_INFO;
  if (rowCount != nullptr) *rowCount = rows;
  if (rows != 0) SetFirstRowStatus(rowStatus, status);
  stmt->positionedRow = -1;
  stmt->rowStatusPtr = rowStatus;
  return result;
}

SQLRETURN FetchScroll(SQLHSTMT handle, SQLSMALLINT orientation, SQLLEN offset) {
  StmtRecord* stmt = AsStmt(handle);
  if (stmt == nullptr) return SQL_INVALID_HANDLE;
  if (orientation == SQL_FETCH_BOOKMARK) {
    const auto* bookmark = static_cast<const int32_t*>(stmt->fetchBookmarkPtr);
    if (bookmark == nullptr) return PostStatementError(stmt, kInvalidBookmark);
    offset += *bookmark;
  }
  DescRecord& ird = stmt->builtIn[kIrd];
  SQLULEN rows = 0;
  const SQLRETURN result =
      ExtendedFetch(handle, static_cast<SQLUSMALLINT>(orientation), offset, &rows, ird.arrayStatusPtr);
  if (ird.rowsProcessedPtr != nullptr) *ird.rowsProcessedPtr = rows;
  return result;
}

SQLRETURN GetData(SQLHSTMT handle, SQLUSMALLINT column, SQLSMALLINT cType, SQLPOINTER target, SQLLEN bufferLength,
                  SQLLEN* lengthOrIndicator) {
  StmtRecord* stmt = AsStmt(handle);
  if (stmt == nullptr) return SQL_INVALID_HANDLE;
  stmt->code = 0;
  if (stmt->kind != kKindSelect && !IsCatalogKind(stmt->kind)) return PostStatementError(stmt, kInvalidCursorState);
  if (cType == SQL_ARD_TYPE) {
    cType = SQL_C_DEFAULT;
    for (const DescItem* item = stmt->ard->firstItem; item != nullptr; item = item->next)
      if (item->number == static_cast<int16_t>(column)) cType = item->cType;
  }
  const uint32_t code =
      GetColumnData(stmt, column, cType, target, bufferLength, lengthOrIndicator, lengthOrIndicator);
  if (code == kNoDataFound) return SQL_NO_DATA;
  return PostStatementError(stmt, code);
}

namespace {

struct Attributes {
  const char* name = "";
  const char* tableName = "";
  int16_t sqlType = 0;
  int32_t size = 0;
  int16_t scale = 0;
  int16_t nullable = SQL_NULLABLE_UNKNOWN;
  const TypeEntry* entry = nullptr;
  bool caseSensitive = true;
};

SQLLEN LengthOf(const Attributes& a, bool isUnsigned) { return TypeOctetLength(a.sqlType, a.size, isUnsigned); }

SQLLEN PrecisionOf(const Attributes& a) { return TypePrecision(a.sqlType, a.size); }

SQLLEN DisplaySizeOf(const Attributes& a, bool isUnsigned) {
  switch (a.sqlType) {
    case SQL_CHAR: case SQL_VARCHAR: case SQL_LONGVARCHAR: return a.size;
    case SQL_NUMERIC: case SQL_DECIMAL: return a.size + 2;
    case SQL_INTEGER: return isUnsigned ? 10 : 11;
    case SQL_SMALLINT: return isUnsigned ? 5 : 6;
    case SQL_FLOAT: case SQL_DOUBLE: return 22;
    case SQL_REAL: return 13;
    case SQL_DATE: case SQL_TYPE_DATE: return 10;
    case SQL_TIME: case SQL_TYPE_TIME: return 8;
    case SQL_TIMESTAMP: case SQL_TYPE_TIMESTAMP: return 23;
    case SQL_BIT: return 1;
    case SQL_TINYINT: return isUnsigned ? 3 : 4;
    case SQL_BIGINT: return a.size + (isUnsigned ? 0 : 1);
    case SQL_BINARY: case SQL_VARBINARY: case SQL_LONGVARBINARY: return static_cast<SQLLEN>(a.size) * 2;
    default: return -1;
  }
}

SQLRETURN TextAttribute(StmtRecord* stmt, const char* value, SQLPOINTER text, SQLSMALLINT bufferLength,
                        SQLSMALLINT* textLength) {
  return PostStatementError(stmt, static_cast<uint32_t>(CopyOutString(static_cast<char*>(text), bufferLength,
                                                                      textLength, value)));
}

// An attribute of a catalog result column.
SQLRETURN CatalogColumnAttribute(StmtRecord* stmt, SQLUSMALLINT column, SQLUSMALLINT attribute, SQLPOINTER text,
                                 SQLSMALLINT bufferLength, SQLSMALLINT* textLength, SQLLEN* number) {
  int count = 0;
  const CatalogColumn* columns = CatalogResultColumns(stmt->kind, &count);
  if (attribute == SQL_COLUMN_COUNT) {
    if (number != nullptr) *number = count;
    return SQL_SUCCESS;
  }
  if (column == 0 || column > count) return PostStatementError(stmt, kInvalidColumnNumber);
  const CatalogColumn& c = columns[column - 1];
  SQLLEN value = 0;
  switch (attribute) {
    case SQL_COLUMN_NAME:
    case SQL_COLUMN_LABEL: return TextAttribute(stmt, c.name, text, bufferLength, textLength);
    case SQL_COLUMN_TYPE_NAME: return TextAttribute(stmt, c.typeName, text, bufferLength, textLength);
    case SQL_COLUMN_TABLE_NAME:
    case SQL_COLUMN_OWNER_NAME:
    case SQL_COLUMN_QUALIFIER_NAME: return TextAttribute(stmt, "", text, bufferLength, textLength);
    case SQL_COLUMN_TYPE: value = c.sqlType; break;
    case SQL_COLUMN_LENGTH: value = c.length; break;
    case SQL_COLUMN_PRECISION: value = c.precision; break;
    case SQL_COLUMN_DISPLAY_SIZE: value = c.displaySize; break;
    case SQL_COLUMN_NULLABLE: value = c.nullable; break;
    case SQL_COLUMN_CASE_SENSITIVE: value = c.caseSensitive; break;
    // Numbers of catalog results are signed (DATA_TYPE is -7 for a bit);
    // their texts are not.
    case SQL_COLUMN_UNSIGNED: value = c.sqlType == SQL_SMALLINT || c.sqlType == SQL_INTEGER ? SQL_FALSE : SQL_TRUE; break;
    default: value = 0; break;  // auto-increment, money, scale, searchable, updatable
  }
  if (number != nullptr) *number = value;
  return SQL_SUCCESS;
}

}  // namespace

SQLRETURN ColAttributes(SQLHSTMT handle, SQLUSMALLINT column, SQLUSMALLINT attribute, SQLPOINTER text,
                        SQLSMALLINT bufferLength, SQLSMALLINT* textLength, SQLLEN* number) {
  StmtRecord* stmt = AsStmt(handle);
  if (stmt == nullptr) return SQL_INVALID_HANDLE;
  stmt->code = 0;
  // Only the ODBC 2 ids 0 to 18 are column attributes here.
  if (attribute > SQL_COLUMN_LABEL) return PostStatementError(stmt, kDescriptorTypeOutOfRange);
  if (IsCatalogKind(stmt->kind)) return CatalogColumnAttribute(stmt, column, attribute, text, bufferLength, textLength, number);
  ParseNode* select = StatementSelect(stmt);
  if (select == nullptr) {
    if (attribute == SQL_COLUMN_COUNT) {
      if (number != nullptr) *number = 0;
      return SQL_SUCCESS;
    }
    return PostStatementError(stmt, stmt->parseTree == nullptr ? kInvalidCursorState : kInvalidColumnNumber);
  }
  if (attribute == SQL_COLUMN_COUNT) {
    SQLLEN n = 0;
    for (const ParseNode* item = SelectStateOf(select)->items; item != nullptr; item = item->next) ++n;
    if (number != nullptr) *number = n;
    return SQL_SUCCESS;
  }
  Attributes a;
  if (column == 0) {
    switch (attribute) {
      case SQL_COLUMN_TYPE: if (number) *number = SQL_BINARY; return SQL_SUCCESS;
      case SQL_COLUMN_LENGTH: case SQL_COLUMN_PRECISION: if (number) *number = 4; return SQL_SUCCESS;
      case SQL_COLUMN_DISPLAY_SIZE: if (number) *number = 8; return SQL_SUCCESS;
      case SQL_COLUMN_TYPE_NAME: return TextAttribute(stmt, "BOOKMARK", text, bufferLength, textLength);
      case SQL_COLUMN_NAME: case SQL_COLUMN_TABLE_NAME: case SQL_COLUMN_OWNER_NAME: case SQL_COLUMN_QUALIFIER_NAME:
      case SQL_COLUMN_LABEL:
        return TextAttribute(stmt, "", text, bufferLength, textLength);
      default: if (number) *number = 0; return SQL_SUCCESS;
    }
  }
  ParseNode* item = SelectItem(select, column);
  if (item == nullptr) return PostStatementError(stmt, kInvalidColumnNumber);
  const EngineTable* table = nullptr;
  const EngineColumn* described = ColumnOfItem(item, &table);
  if (described == nullptr) return PostStatementError(stmt, kNoTypeEntry);
  a.name = item->alias != nullptr ? item->alias : described->name.c_str();
  a.tableName = table->resultCursor ? "" : table->name.c_str();
  a.sqlType = described->sqlType;
  a.size = std::max(described->columnSize, 0);
  a.scale = std::max<int16_t>(described->digits, 0);
  a.nullable = described->nullable;
  a.entry = TypeEntryFor(stmt->conn->session, described->sqlType, described->engineType);
  if (a.entry == nullptr) return PostStatementError(stmt, kNoTypeEntry);
  const bool isUnsigned = a.entry->unsignedAttribute == 1;
  SQLLEN value = 0;
  switch (attribute) {
    case SQL_COLUMN_NAME:
    case SQL_COLUMN_LABEL: return TextAttribute(stmt, a.name, text, bufferLength, textLength);
    case SQL_COLUMN_TYPE_NAME: return TextAttribute(stmt, a.entry->typeName, text, bufferLength, textLength);
    case SQL_COLUMN_TABLE_NAME: return TextAttribute(stmt, a.tableName, text, bufferLength, textLength);
    case SQL_COLUMN_OWNER_NAME:
    case SQL_COLUMN_QUALIFIER_NAME: return TextAttribute(stmt, "", text, bufferLength, textLength);
    case SQL_COLUMN_TYPE: value = MapDateTimeTypeCode(stmt, a.entry->sqlType); break;
    case SQL_COLUMN_LENGTH: value = LengthOf(a, isUnsigned); break;
    case SQL_COLUMN_PRECISION: value = PrecisionOf(a); break;
    case SQL_COLUMN_SCALE: value = a.scale; break;
    case SQL_COLUMN_DISPLAY_SIZE: value = DisplaySizeOf(a, isUnsigned); break;
    case SQL_COLUMN_NULLABLE: value = a.nullable; break;
    case SQL_COLUMN_UNSIGNED: value = a.entry->unsignedAttribute == -1 ? 1 : a.entry->unsignedAttribute; break;
    case SQL_COLUMN_MONEY: value = a.entry->fixedPrecScale; break;
    case SQL_COLUMN_UPDATABLE: value = SQL_ATTR_READWRITE_UNKNOWN; break;
    case SQL_COLUMN_AUTO_INCREMENT: value = a.entry->autoUniqueValue == -1 ? 0 : a.entry->autoUniqueValue; break;
    case SQL_COLUMN_CASE_SENSITIVE: value = a.caseSensitive ? 1 : 0; break;
    case SQL_COLUMN_SEARCHABLE: value = a.entry->searchable; break;
    default: return SQL_SUCCESS;
  }
  // A size rule that knows no such type; SQL types themselves may be negative.
  if (value < 0 && attribute != SQL_COLUMN_TYPE) return PostStatementError(stmt, kNotSupported);
  if (number != nullptr) *number = value;
  return SQL_SUCCESS;
}

namespace {

// The resolved select items of a prepared or executed select; null otherwise.
const ParseNode* SelectItems(const StmtRecord* stmt, bool* isSelect) {
  *isSelect = false;
  if (stmt->parseTree == nullptr || stmt->parseTree->statement == nullptr) return nullptr;
  const ParseNode* select = stmt->parseTree->statement;
  if (select->kind != kNodeSelect) return nullptr;
  *isSelect = true;
  return static_cast<const SelectExtension*>(select->extension)->items;
}

}  // namespace

SQLRETURN NumResultCols(SQLHSTMT handle, SQLSMALLINT* count) {
  StmtRecord* stmt = AsStmt(handle);
  if (stmt == nullptr) return SQL_INVALID_HANDLE;
  stmt->code = 0;
  bool isSelect = false;
  SQLSMALLINT n = 0;
  int catalogCount = 0;
  if (CatalogResultColumns(stmt->kind, &catalogCount) != nullptr) {
    if (count != nullptr) *count = static_cast<SQLSMALLINT>(catalogCount);
    return SQL_SUCCESS;
  }
  for (const ParseNode* item = SelectItems(stmt, &isSelect); item != nullptr; item = item->next) ++n;
  if (count != nullptr) *count = n;
  return SQL_SUCCESS;
}

SQLRETURN DescribeCol(SQLHSTMT handle, SQLUSMALLINT column, SQLCHAR* name, SQLSMALLINT capacity,
                      SQLSMALLINT* nameLength, SQLSMALLINT* sqlType, SQLULEN* columnSize, SQLSMALLINT* digits,
                      SQLSMALLINT* nullable) {
  StmtRecord* stmt = AsStmt(handle);
  if (stmt == nullptr) return SQL_INVALID_HANDLE;
  stmt->code = 0;
  // Each output from the column's attributes, the name last; the first
  // failure ends the description.
  uint16_t warning = 0;
  auto step = [&](SQLUSMALLINT attribute, auto* out) -> SQLRETURN {
    if (out == nullptr) return SQL_SUCCESS;
    SQLLEN number = 0;
    const SQLRETURN rc = ColAttributes(stmt, column, attribute, nullptr, 0, nullptr, &number);
    if (rc == SQL_SUCCESS_WITH_INFO) warning = stmt->code;
    if (SQL_SUCCEEDED(rc)) *out = static_cast<std::remove_pointer_t<decltype(out)>>(number);
    return rc;
  };
  SQLRETURN rc = SQL_SUCCESS;
  if (!SQL_SUCCEEDED(rc = step(SQL_COLUMN_TYPE, sqlType))) return rc;
  if (!SQL_SUCCEEDED(rc = step(SQL_COLUMN_PRECISION, columnSize))) return rc;
  if (!SQL_SUCCEEDED(rc = step(SQL_COLUMN_SCALE, digits))) return rc;
  if (!SQL_SUCCEEDED(rc = step(SQL_COLUMN_NULLABLE, nullable))) return rc;
  if (name != nullptr || nameLength != nullptr) {
    rc = ColAttributes(stmt, column, SQL_COLUMN_NAME, name, capacity, nameLength, nullptr);
    if (!SQL_SUCCEEDED(rc)) return rc;
    if (rc == SQL_SUCCESS_WITH_INFO) warning = stmt->code;
  }
  return warning != 0 ? PostStatementError(stmt, warning) : SQL_SUCCESS;
}

SQLRETURN CloseStatement(StmtRecord* stmt) {
  ReleaseCatalogState(stmt);
  stmt->kind = kKindNone;
  stmt->catalogSubKind = 0;
  stmt->catalogRow = -2;
  stmt->cursor.open = 0;
  uint32_t code = 0;
  if (stmt->parseTree != nullptr && stmt->prepared == 0) {
    code = ReleaseStatementPreparation(stmt);
  } else if (stmt->parseTree != nullptr) {
    ReleaseKeysets(stmt->parseTree);
  }
  stmt->putOffset = -1;
  stmt->cursor.needData = 0;
  stmt->dataItem = nullptr;
  stmt->currentRow = 0;
  stmt->rowPtr = nullptr;
  return PostStatementError(stmt, code);
}

}  // namespace kivodbc
