#include "results/positioned.h"

#include <cstring>
#include <string_view>
#include <type_traits>

#include "api.h"
#include "data/convert.h"
#include "data/enginetable.h"
#include "results/fetch.h"
#include "sql/keyset.h"
#include "handles/messages.h"
#include "sql/paramconvert.h"
#include "results/parameters.h"
#include "sql/parsetree.h"
#include "sql/statement.h"
#include "data/tablerecord.h"

namespace kivodbc {
namespace {

constexpr int32_t kNoPositionedRow = -1;
constexpr int32_t kUpdateRow = 0;
// The row number and bookmark of a row added without a keyset.
constexpr int32_t kAddedRowNumber = -3;

// What a column binding holds for a positioned update or add, in its owned
// block. A value type of 0 leaves the column as it is.
struct PositionedValue {
  ParameterValue value;
  int32_t dataAtExecution;
};
static_assert(std::is_trivially_copyable_v<PositionedValue>);

PositionedValue* ExistingValue(const DescItem* item) {
  if (item->owned == 0 || item->ownedSize != sizeof(PositionedValue)) return nullptr;
  return static_cast<PositionedValue*>(item->ownedData);
}

// The binding's value block, made on first use; null when memory runs out.
PositionedValue* ValueOf(DescItem* item) {
  if (PositionedValue* value = ExistingValue(item)) return value;
  void* block = DrvAlloc(sizeof(PositionedValue));
  if (block == nullptr) return nullptr;
  ReleaseItemOwned(item);
  std::memset(block, 0, sizeof(PositionedValue));
  item->ownedData = block;
  item->ownedSize = sizeof(PositionedValue);
  item->owned = 1;
  item->releaseOwned = [](void* owned) { ReleaseParameterValue(&static_cast<PositionedValue*>(owned)->value); };
  return static_cast<PositionedValue*>(block);
}

// Every binding back to "leave the column alone", grown buffers freed.
void ClearValues(StmtRecord* stmt) {
  for (DescItem* item = stmt->ard->firstItem; item != nullptr; item = item->next) {
    if (PositionedValue* value = ExistingValue(item)) {
      ReleaseParameterValue(&value->value);
      std::memset(static_cast<void*>(value), 0, sizeof *value);
    }
  }
}

template <typename T>
T* Shifted(T* pointer, SQLLEN bytes) {
  return pointer == nullptr ? nullptr : reinterpret_cast<T*>(reinterpret_cast<char*>(pointer) + bytes);
}

// The addresses of one row's element of a column binding. Rows count from
// 1; the current row of an update (0) is the first element.
struct Element {
  SQLPOINTER data;
  SQLLEN* length;
  SQLLEN* indicator;
};

Element ElementOf(const DescRecord* ard, const DescItem* item, int32_t row) {
  const SQLLEN index = row > 1 ? row - 1 : 0;
  const SQLLEN offset = ard->bindOffsetPtr != nullptr ? *ard->bindOffsetPtr : 0;
  if (ard->bindType != SQL_BIND_BY_COLUMN) {
    const SQLLEN step = static_cast<SQLLEN>(ard->bindType) * index + offset;
    return {Shifted(item->dataPtr, step), Shifted(item->octetLengthPtr, step), Shifted(item->indicatorPtr, step)};
  }
  const SQLLEN lengthStep = static_cast<SQLLEN>(sizeof(SQLLEN)) * index + offset;
  return {Shifted(item->dataPtr, item->octetLength * index + offset), Shifted(item->octetLengthPtr, lengthStep),
          Shifted(item->indicatorPtr, lengthStep)};
}

// The length of the element's value: SQL_NULL_DATA from the indicator, else
// the length, else what a value without length has.
SQLLEN LengthOf(const Element& element, int16_t cType) {
  if (element.indicator != nullptr && *element.indicator == SQL_NULL_DATA) return SQL_NULL_DATA;
  if (element.length != nullptr) return *element.length;
  return UnboundParameterLength(cType);
}

bool IsDataAtExecution(SQLLEN length) { return length == SQL_DATA_AT_EXEC || length <= SQL_LEN_DATA_AT_EXEC_OFFSET; }

void SetRowStatus(StmtRecord* stmt, SQLUSMALLINT status) {
  if (stmt->rowStatusPtr != nullptr) stmt->rowStatusPtr[0] = status;
  if (SQLUSMALLINT* statuses = stmt->builtIn[kIrd].arrayStatusPtr) statuses[0] = status;
}

void SetRowsProcessed(StmtRecord* stmt, SQLULEN rows) {
  if (SQLULEN* target = stmt->builtIn[kIrd].rowsProcessedPtr) *target = rows;
}

// A failed operation on the row: its status says so, the code is posted.
SQLRETURN RowFailure(StmtRecord* stmt, uint32_t code, std::string_view argument = {}) {
  SetRowStatus(stmt, SQL_ROW_ERROR);
  return PostStatementError(stmt, code, argument);
}

// Whether a binding is still one of the statement's: the bindings may be
// dropped while a value is awaited.
bool IsBinding(const StmtRecord* stmt, const DescItem* binding) {
  for (const DescItem* item = stmt->ard->firstItem; item != nullptr; item = item->next)
    if (item == binding) return true;
  return false;
}

void AbandonChange(StmtRecord* stmt) {
  stmt->cursor.needData = 0;
  stmt->putOffset = -1;
  stmt->positionedRow = kNoPositionedRow;
  stmt->positionedItem = nullptr;
  ClearValues(stmt);
}

// The column reference a binding writes to; null when the select item is
// something else.
const ParseNode* ColumnReferenceOf(ParseNode* item) {
  const ParseNode* value = item != nullptr ? item->left : nullptr;
  return value != nullptr && value->kind == kNodeColumnRef ? value : nullptr;
}

// The lock mode of the handle a change is written through: none, which
// leaves it every right the table gives (a delete and an add also write).
constexpr int kLockNone = 0;

// The table a change is written through. The select reads its table through
// a handle opened for reading only, so a change goes through a second handle
// of the same table, opened for writing (the engine shares the records
// between the two). The pseudo-table of an engine result has no table behind
// it to open: the change goes to it as it is.
class WriteHandle {
 public:
  WriteHandle(StmtRecord* stmt, ParseNode* select)
      : session_(stmt->conn->session), select_(select), reading_(FirstFromTable(select)) {}
  ~WriteHandle() {
    if (owned_ != nullptr) CloseEngineTable(session_, owned_);
  }
  WriteHandle(const WriteHandle&) = delete;
  WriteHandle& operator=(const WriteHandle&) = delete;

  uint32_t Open() {
    if (reading_ == nullptr || session_ == nullptr) return kInternalError;
    if (reading_->resultCursor) {
      table_ = reading_;
      return 0;
    }
    const ParseNode* from = SelectStateOf(select_)->from;
    const ParseNode* ref = from->kind == kNodeFromItem ? from->left : from;
    if (ref == nullptr || ref->kind != kNodeTableRef) return kInternalError;
    if (const uint32_t code = OpenEngineTable(session_, ref->qualifier, ref->name, kLockNone, false, nullptr, &owned_))
      return code;
    owned_->trim = reading_->trim;
    table_ = owned_;
    return 0;
  }
  EngineTable* table() const { return table_; }
  EngineTable* reading() const { return reading_; }
  bool separate() const { return table_ != reading_; }

 private:
  EngineSession* session_;
  ParseNode* select_;
  EngineTable* reading_;
  EngineTable* owned_ = nullptr;
  EngineTable* table_ = nullptr;
};

// The record number of the row the select's cursor is on.
uint32_t CursorRecord(const WriteHandle& writer, uint32_t* record) {
  *record = 0;
  return writer.separate() ? CurrentRecordNumber(writer.reading(), record) : 0;
}

bool HasValueType(int16_t category) {
  switch (category) {
    case kValueText: case kValueNumeric: case kValueInteger: case kValueDouble: case kValueDate: case kValueTime:
    case kValueTimestamp: case kValueBinary: return true;
    default: return false;
  }
}

// Writes one prepared value into its field of the current record.
uint32_t WriteValue(EngineTable* table, size_t field, uint16_t engineType, const ParameterValue& value) {
  if (value.isNull != 0) return SetTableField(table, field, engineType, value.valueType, "", SQL_NULL_DATA);
  switch (value.valueType) {
    case kValueText:
    case kValueNumeric: {
      const char* text = ParameterBuffer(&value);
      const auto length = static_cast<SQLLEN>(strnlen(text, ParameterBufferSize(&value)));
      return SetTableField(table, field, engineType, kValueText, text, length);
    }
    case kValueInteger:
    case kValueDouble:
      return SetTableField(table, field, engineType, kValueDouble, &value.number, sizeof value.number);
    case kValueDate: return SetTableField(table, field, engineType, kValueDate, &value.date, sizeof value.date);
    case kValueTime: return SetTableField(table, field, engineType, kValueTime, &value.time, sizeof value.time);
    case kValueTimestamp:
      return SetTableField(table, field, engineType, kValueTimestamp, &value.timestamp, sizeof value.timestamp);
    case kValueBinary:
      return SetTableField(table, field, engineType, kValueBinary, ParameterBytes(&value),
                           static_cast<SQLLEN>(ParameterByteCount(&value)));
  }
  return kNotSupported;
}

// Puts a new row's bookmark into the bound bookmark column, if any.
void StoreNewBookmark(StmtRecord* stmt, int32_t row, int32_t bookmark) {
  for (DescItem* item = stmt->ard->firstItem; item != nullptr; item = item->next) {
    if (item->number != 0 || item->dataPtr == nullptr) continue;
    const Element element = ElementOf(stmt->ard, item, row);
    SQLLEN* lengthTarget = element.length != nullptr ? element.length : element.indicator;
    const int16_t cType = item->cType == SQL_C_DEFAULT ? SQL_C_SLONG : item->cType;
    ConvertColumnValue(SQL_INTEGER, false, &bookmark, sizeof bookmark, nullptr, cType, element.data,
                       item->octetLength, lengthTarget);
    if (element.indicator != nullptr && element.indicator != lengthTarget) *element.indicator = 0;
  }
}

// Records the row an add made: in the keyset when there is one, else as
// the cursor's row number. 0 or 2170.
uint32_t RecordAddedRow(StmtRecord* stmt, ParseNode* select, EngineTable* table, int32_t row) {
  SelectExtension* state = SelectStateOf(select);
  int32_t bookmark = kAddedRowNumber;
  uint32_t code = 0;
  if (state->keysetReader != nullptr) {
    uint32_t record = 0;
    code = CurrentRecordNumber(table, &record);
    if (code == 0) code = AppendKeysetRecord(select, record);
    if (code != 0) {
      ReleaseKeyset(select);
      return kKeysetCreateError;
    }
    bookmark = state->rowCount;
  } else if (stmt->cursorType == SQL_CURSOR_DYNAMIC) {
    uint32_t record = 0;
    if (CurrentRecordNumber(table, &record) == 0) bookmark = static_cast<int32_t>(record);
  } else {
    stmt->currentRow = kAddedRowNumber;
  }
  StoreNewBookmark(stmt, row, bookmark);
  return code;
}

// Writes the prepared values into the fields of the current record: 0 or
// the failure; `*cut` is set when a value did not fit whole.
uint32_t WriteValues(StmtRecord* stmt, ParseNode* select, EngineTable* table, bool* cut) {
  for (DescItem* item = stmt->ard->firstItem; item != nullptr; item = item->next) {
    const PositionedValue* value = ExistingValue(item);
    if (value == nullptr || value->value.valueType == 0) continue;
    ParseNode* selectItem = SelectItem(select, static_cast<SQLUSMALLINT>(item->number));
    const ParseNode* reference = ColumnReferenceOf(selectItem);
    const EngineColumn* column = selectItem != nullptr ? ColumnOfItem(selectItem) : nullptr;
    if (reference == nullptr || column == nullptr) return kInternalError;
    const uint32_t code =
        WriteValue(table, static_cast<size_t>(reference->columnIndex), column->engineType, value->value);
    if (code == kValueTruncated) *cut = true;
    else if (code != 0) return code;
  }
  return 0;
}

// Takes the values of an update (row 0) or an add (row 1) from the column
// bindings; writes them at once, or waits for those sent at execution.
SQLRETURN StartPositionedChange(StmtRecord* stmt, ParseNode* select, int32_t row) {
  stmt->positionedRow = row;
  stmt->positionedItem = nullptr;
  stmt->cursor.needData = 0;
  stmt->putOffset = -1;
  stmt->truncated = 0;
  SetRowsProcessed(stmt, 1);
  SetRowStatus(stmt, SQL_ROW_SUCCESS);
  ClearValues(stmt);
  const ParameterSigns signs = SignsOfStatement(stmt);
  for (DescItem* item = stmt->ard->firstItem; item != nullptr; item = item->next) {
    if (item->number == 0) continue;  // the bookmark is no column of the table
    const Element element = ElementOf(stmt->ard, item, row);
    const SQLLEN length = LengthOf(element, item->cType);
    if (length == SQL_IGNORE) continue;
    const bool atExecution = IsDataAtExecution(length);
    // A record without a buffer has nothing to write.
    if (element.data == nullptr && length != SQL_NULL_DATA && !atExecution) continue;
    ParseNode* selectItem = SelectItem(select, static_cast<SQLUSMALLINT>(item->number));
    if (selectItem == nullptr) {
      AbandonChange(stmt);
      return RowFailure(stmt, kInvalidColumnNumber);
    }
    const ParseNode* reference = ColumnReferenceOf(selectItem);
    const EngineColumn* column = ColumnOfItem(selectItem);
    if (reference == nullptr || column == nullptr) {
      AbandonChange(stmt);
      return RowFailure(stmt, kExpressionNotAssignable);
    }
    if (!HasValueType(reference->category)) {
      AbandonChange(stmt);
      return RowFailure(stmt, kNotSupported);
    }
    PositionedValue* value = ValueOf(item);
    if (value == nullptr) {
      AbandonChange(stmt);
      return RowFailure(stmt, kMemoryError);
    }
    value->value.valueType = reference->category;
    value->value.sqlType = column->sqlType;
    value->value.textCapacity = reference->resolvedPrecision;
    value->value.scale = reference->resolvedScale;
    if (atExecution) {
      value->dataAtExecution = 1;
      stmt->cursor.needData = 1;
      stmt->putOffset = 0;
      continue;
    }
    char argument[kArgumentSize] = {};
    const int code =
        ConvertParameterValue(&value->value, signs, nullptr, item->cType, element.data, length, argument, sizeof argument);
    if (code == kDataTruncated) {
      stmt->truncated = 1;
      SetRowStatus(stmt, SQL_ROW_SUCCESS_WITH_INFO);
    } else if (code != 0) {
      AbandonChange(stmt);
      return RowFailure(stmt, static_cast<uint32_t>(code), argument);
    }
  }
  if (stmt->cursor.needData != 0) return SQL_NEED_DATA;
  return ApplyPositionedChange(stmt);
}

// Puts the cursor back on the current row: 0, or the code with the failure
// posted and the row status set.
SQLRETURN Reposition(StmtRecord* stmt, ParseNode* select, SQLUSMALLINT deletedStatus) {
  const uint32_t code = PositionCursor(stmt, select, SQL_FETCH_RELATIVE, 0);
  if (code == 0) return SQL_SUCCESS;
  if (code == kRecordEdge) {
    SetRowStatus(stmt, deletedStatus);
    return PostStatementError(stmt, kDeletedRow);
  }
  return RowFailure(stmt, code == kNoDataFound ? kInvalidCursorState : code);
}

// The bound columns of the row just reached.
SQLRETURN TransferRow(StmtRecord* stmt) {
  SetRowsProcessed(stmt, 1);
  const uint32_t moved = TransferBindings(stmt);
  if (moved == 0) {
    SetRowStatus(stmt, SQL_ROW_SUCCESS);
    return SQL_SUCCESS;
  }
  if (moved == kDataTruncated) {
    SetRowStatus(stmt, SQL_ROW_SUCCESS_WITH_INFO);
    return PostStatementError(stmt, moved);
  }
  return RowFailure(stmt, moved);
}

// Deletes the record the cursor is on.
SQLRETURN DeleteCurrentRecord(StmtRecord* stmt, ParseNode* select) {
  SetRowsProcessed(stmt, 1);
  WriteHandle writer(stmt, select);
  uint32_t record = 0;
  uint32_t code = writer.Open();
  if (code == 0 && writer.separate()) {
    code = CursorRecord(writer, &record);
    if (code == 0) code = GoToRecord(writer.table(), record);
    if (code == kRecordEdge) code = kDeletedRow;
  }
  if (code == 0) code = DeleteTableRecord(writer.table());
  if (code != 0) return RowFailure(stmt, code);
  // The cursor sees the record gone.
  if (writer.separate()) GoToRecord(writer.reading(), record);
  stmt->affectedRows = 1;
  SetRowStatus(stmt, SQL_ROW_DELETED);
  return SQL_SUCCESS;
}

// Checks shared by the calls that change rows: 0 or the refusal.
uint32_t ChangeRefusal(const StmtRecord* stmt, ParseNode* select, uint32_t readOnlyCode) {
  if (stmt->concurrency == SQL_CONCUR_READ_ONLY) return readOnlyCode;
  const SelectExtension* state = SelectStateOf(select);
  // Only a select of one table has rows to change.
  if (state->from == nullptr || state->from->next != nullptr || FirstFromTable(select) == nullptr)
    return kDriverNotCapable;
  return 0;
}

// The select of a statement that can take a positioned call, or null with
// the refusal posted.
ParseNode* PositionableSelect(StmtRecord* stmt) {
  if (stmt->kind != kKindSelect) {
    PostStatementError(stmt, kNotSupported);
    return nullptr;
  }
  if (stmt->cursor.needData != 0 || stmt->dataItem != nullptr) {
    PostStatementError(stmt, kInvalidCursorState);
    return nullptr;
  }
  ParseNode* select = StatementSelect(stmt);
  if (select == nullptr || SelectStateOf(select) == nullptr) {
    PostStatementError(stmt, kInternalError);
    return nullptr;
  }
  return select;
}

// Moves to the row the bound bookmark names.
SQLRETURN PositionOnBookmark(StmtRecord* stmt, ParseNode* select) {
  DescItem* mark = nullptr;
  for (DescItem* item = stmt->ard->firstItem; item != nullptr && mark == nullptr; item = item->next)
    if (item->number == 0) mark = item;
  if (mark == nullptr) return PostStatementError(stmt, kInvalidAttribute);
  const Element element = ElementOf(stmt->ard, mark, 1);
  if (element.data == nullptr || (element.indicator != nullptr && *element.indicator == SQL_NULL_DATA))
    return PostStatementError(stmt, kInvalidAttribute);
  ParameterValue bookmark;
  std::memset(static_cast<void*>(&bookmark), 0, sizeof bookmark);
  bookmark.valueType = kValueInteger;
  bookmark.sqlType = SQL_INTEGER;
  const int converted = ConvertParameterValue(&bookmark, SignsOfStatement(stmt), nullptr, mark->cType, element.data,
                                              LengthOf(element, mark->cType), nullptr, 0);
  ReleaseParameterValue(&bookmark);
  if (converted != 0) return PostStatementError(stmt, kInvalidAttribute);
  if (bookmark.number == kAddedRowNumber) return PostStatementError(stmt, kAddedRowBookmark);
  // Bookmarks count rows from 1.
  if (bookmark.number < 1 || bookmark.number > 0x7FFFFFFF) return PostStatementError(stmt, kInvalidBookmark);
  const uint32_t code = PositionCursor(stmt, select, SQL_FETCH_BOOKMARK, static_cast<SQLLEN>(bookmark.number));
  if (code == 0) return SQL_SUCCESS;
  if (code == kRecordEdge) {
    SetRowsProcessed(stmt, 1);
    SetRowStatus(stmt, SQL_ROW_DELETED);
    PostStatementError(stmt, kDeletedRow);
    return SQL_ERROR;
  }
  return PostStatementError(stmt, code == kNoDataFound ? kInvalidBookmark : code);
}

}  // namespace

SQLRETURN ApplyPositionedChange(StmtRecord* stmt) {
  const int32_t row = stmt->positionedRow;
  stmt->positionedRow = kNoPositionedRow;
  stmt->positionedItem = nullptr;
  ParseNode* select = StatementSelect(stmt);
  if (FirstFromTable(select) == nullptr || row == kNoPositionedRow) {
    ClearValues(stmt);
    return RowFailure(stmt, kInternalError);
  }
  const bool add = row != kUpdateRow;
  if (!add) {
    if (const SQLRETURN placed = Reposition(stmt, select, SQL_ROW_DELETED); placed != SQL_SUCCESS) {
      ClearValues(stmt);
      return placed;
    }
  }
  WriteHandle writer(stmt, select);
  uint32_t record = 0;
  uint32_t failure = writer.Open();
  EngineTable* table = writer.table();
  if (failure == 0 && add) {
    failure = AppendBlankRecord(table);
  } else if (failure == 0 && writer.separate()) {
    failure = CursorRecord(writer, &record);
    if (failure == 0) failure = GoToRecord(table, record);
    if (failure == kRecordEdge) {
      ClearValues(stmt);
      SetRowStatus(stmt, SQL_ROW_DELETED);
      return PostStatementError(stmt, kDeletedRow);
    }
  }
  if (failure != 0) {
    ClearValues(stmt);
    return RowFailure(stmt, failure);
  }
  bool cut = stmt->truncated != 0;
  failure = WriteValues(stmt, select, table, &cut);
  ClearValues(stmt);
  if (failure == 0) failure = WriteTableRecord(table);
  if (failure != 0) {
    const SQLRETURN result = RowFailure(stmt, failure);
    // Nothing of a failed change stays behind: neither the fields already
    // set nor the record appended for it.
    DiscardRecordChanges(table);
    if (add) DeleteTableRecord(table);
    return result;
  }
  stmt->affectedRows = 1;
  SetRowStatus(stmt, cut ? SQL_ROW_SUCCESS_WITH_INFO : add ? SQL_ROW_ADDED : SQL_ROW_UPDATED);
  if (add) {
    if (const uint32_t recorded = RecordAddedRow(stmt, select, table, row)) return PostStatementError(stmt, recorded);
  } else if (writer.separate()) {
    // The cursor reads the record as it is now.
    GoToRecord(writer.reading(), record);
  }
  return cut ? PostStatementError(stmt, kDataTruncated) : SQL_SUCCESS;
}

SQLRETURN PositionedParamData(StmtRecord* stmt, SQLPOINTER* token) {
  if (stmt->positionedItem != nullptr && stmt->putOffset == -1) return PostStatementError(stmt, kInvalidCursorState);
  if (stmt->positionedItem != nullptr && !IsBinding(stmt, stmt->positionedItem)) {
    AbandonChange(stmt);
    return RowFailure(stmt, kInvalidCursorState);
  }
  DescItem* item = stmt->positionedItem != nullptr ? stmt->positionedItem->next : stmt->ard->firstItem;
  for (; item != nullptr; item = item->next) {
    const PositionedValue* value = ExistingValue(item);
    if (value != nullptr && value->dataAtExecution != 0) break;
  }
  if (item != nullptr) {
    if (token != nullptr) *token = ElementOf(stmt->ard, item, stmt->positionedRow).data;
    stmt->positionedItem = item;
    stmt->putOffset = -1;
    return SQL_NEED_DATA;
  }
  // Every value is in: the change is written.
  stmt->cursor.needData = 0;
  stmt->putOffset = -1;
  for (item = stmt->ard->firstItem; item != nullptr; item = item->next) {
    PositionedValue* value = ExistingValue(item);
    if (value != nullptr && value->dataAtExecution != 0 && FinishParameterValue(&value->value) == kDataTruncated) {
      stmt->truncated = 1;
      SetRowStatus(stmt, SQL_ROW_SUCCESS_WITH_INFO);
    }
  }
  return ApplyPositionedChange(stmt);
}

SQLRETURN PositionedPutData(StmtRecord* stmt, SQLPOINTER data, SQLLEN length) {
  DescItem* item = stmt->positionedItem;
  if (item == nullptr) return PostStatementError(stmt, kInvalidCursorState);
  PositionedValue* value = IsBinding(stmt, item) ? ExistingValue(item) : nullptr;
  if (value == nullptr) {
    AbandonChange(stmt);
    return RowFailure(stmt, kInvalidCursorState);
  }
  if (stmt->putOffset == -1) stmt->putOffset = 0;
  char argument[kArgumentSize] = {};
  const int code = ConvertParameterValue(&value->value, SignsOfStatement(stmt), &stmt->putOffset, item->cType, data,
                                         length, argument, sizeof argument);
  if (code == 0) return SQL_SUCCESS;
  if (code == kDataTruncated) {
    stmt->truncated = 1;
    SetRowStatus(stmt, SQL_ROW_SUCCESS_WITH_INFO);
    return PostStatementError(stmt, kDataTruncated);
  }
  AbandonChange(stmt);
  return RowFailure(stmt, static_cast<uint32_t>(code), argument);
}

SQLRETURN SetPos(SQLHSTMT handle, SQLSETPOSIROW row, SQLUSMALLINT operation, SQLUSMALLINT lockType) {
  StmtRecord* stmt = AsStmt(handle);
  if (stmt == nullptr) return SQL_INVALID_HANDLE;
  stmt->code = 0;
  stmt->affectedRows = 0;
  if (lockType != SQL_LOCK_NO_CHANGE) return PostStatementError(stmt, kDriverNotCapable);
  ParseNode* select = PositionableSelect(stmt);
  if (select == nullptr) return SQL_ERROR;
  if (operation != SQL_ADD && row == 0) {
    const SQLUSMALLINT* operations = stmt->ard->arrayStatusPtr;
    if (operations != nullptr && operations[0] != SQL_ROW_PROCEED && operations[0] != SQL_ROW_ADDED &&
        operations[0] != SQL_ROW_SUCCESS_WITH_INFO) {
      // The only row is to be left alone.
      SetRowsProcessed(stmt, 1);
      SetRowStatus(stmt, SQL_ROW_SUCCESS);
      return SQL_SUCCESS;
    }
  }
  if (operation <= SQL_DELETE) {
    if (stmt->currentRow == 0) return PostStatementError(stmt, kInvalidCursorState);
    if (stmt->currentRow == kAddedRowNumber) return PostStatementError(stmt, kAddedRowBookmark);
  }
  // The rowset has one row: there is no element beyond the first.
  if (operation <= SQL_ADD && row > 1) return PostStatementError(stmt, kRowOutOfRange);
  if (operation >= SQL_UPDATE && operation <= SQL_ADD)
    if (const uint32_t refusal = ChangeRefusal(stmt, select, kCursorReadOnly)) return PostStatementError(stmt, refusal);
  switch (operation) {
    case SQL_POSITION:
      SetRowsProcessed(stmt, 1);
      SetRowStatus(stmt, SQL_ROW_SUCCESS);
      return SQL_SUCCESS;
    case SQL_REFRESH: {
      SetRowsProcessed(stmt, 1);
      const uint32_t code = PositionCursor(stmt, select, SQL_FETCH_RELATIVE, 0);
      if (code == kRecordEdge) {
        stmt->currentRow = SelectStateOf(select)->position + 1;
        SetRowStatus(stmt, SQL_ROW_DELETED);
        PostStatementError(stmt, kDeletedRow);
        return SQL_SUCCESS_WITH_INFO;
      }
      if (code != 0) return RowFailure(stmt, code == kNoDataFound ? kInvalidCursorState : code);
      return TransferRow(stmt);
    }
    case SQL_DELETE: {
      SetRowsProcessed(stmt, 1);
      if (const SQLRETURN placed = Reposition(stmt, select, SQL_ROW_ERROR); placed != SQL_SUCCESS) return placed;
      return DeleteCurrentRecord(stmt, select);
    }
    case SQL_UPDATE: return StartPositionedChange(stmt, select, kUpdateRow);
    case SQL_ADD: return StartPositionedChange(stmt, select, 1);
  }
  return PostStatementError(stmt, kDriverNotCapable);
}

SQLRETURN BulkOperations(SQLHSTMT handle, SQLSMALLINT operation) {
  StmtRecord* stmt = AsStmt(handle);
  if (stmt == nullptr) return SQL_INVALID_HANDLE;
  stmt->code = 0;
  stmt->affectedRows = 0;
  ParseNode* select = PositionableSelect(stmt);
  if (select == nullptr) return SQL_ERROR;
  if (operation < SQL_ADD || operation > SQL_FETCH_BY_BOOKMARK) return PostStatementError(stmt, kDriverNotCapable);
  const bool byBookmark = operation != SQL_ADD;
  if (byBookmark && SelectStateOf(select)->keysetReader == nullptr && stmt->cursorType != SQL_CURSOR_DYNAMIC)
    return PostStatementError(stmt, kInvalidAttribute);
  if (operation != SQL_FETCH_BY_BOOKMARK) {
    if (const uint32_t refusal = ChangeRefusal(stmt, select, kInvalidAttribute)) return PostStatementError(stmt, refusal);
    if (stmt->conn->session != nullptr && stmt->conn->session->readOnly != 0)
      return PostStatementError(stmt, kDriverNotCapable);
  }
  if (byBookmark)
    if (const SQLRETURN placed = PositionOnBookmark(stmt, select); placed != SQL_SUCCESS) return placed;
  switch (operation) {
    case SQL_ADD: return StartPositionedChange(stmt, select, 1);
    case SQL_UPDATE_BY_BOOKMARK: return StartPositionedChange(stmt, select, kUpdateRow);
    case SQL_DELETE_BY_BOOKMARK: return DeleteCurrentRecord(stmt, select);
    default: return TransferRow(stmt);
  }
}

SQLRETURN SetScrollOptions(SQLHSTMT handle, SQLUSMALLINT concurrency, SQLLEN keyset, SQLUSMALLINT rowset) {
  StmtRecord* stmt = AsStmt(handle);
  if (stmt == nullptr) return SQL_INVALID_HANDLE;
  SQLUSMALLINT keysetOption = SQL_CURSOR_TYPE;
  SQLULEN keysetValue = 0;
  switch (keyset) {
    case SQL_SCROLL_STATIC: keysetValue = SQL_CURSOR_STATIC; break;
    case SQL_SCROLL_DYNAMIC: keysetValue = SQL_CURSOR_DYNAMIC; break;
    case SQL_SCROLL_KEYSET_DRIVEN: keysetValue = SQL_CURSOR_KEYSET_DRIVEN; break;
    case SQL_SCROLL_FORWARD_ONLY: keysetValue = SQL_CURSOR_FORWARD_ONLY; break;
    default:
      keysetOption = SQL_KEYSET_SIZE;
      keysetValue = static_cast<SQLULEN>(keyset);
  }
  const struct {
    SQLUSMALLINT option;
    SQLULEN value;
  } steps[] = {{SQL_CONCURRENCY, concurrency}, {keysetOption, keysetValue}, {SQL_ROWSET_SIZE, rowset}};
  uint16_t warning = 0;
  for (const auto& step : steps) {
    const SQLRETURN result = SetStmtOption(handle, step.option, step.value);
    if (!SQL_SUCCEEDED(result)) return result;
    if (result == SQL_SUCCESS_WITH_INFO) warning = stmt->code;
  }
  // A later step clears the code of an earlier one: the change is reported at the end.
  return warning != 0 ? PostStatementError(stmt, warning) : SQL_SUCCESS;
}

}  // namespace kivodbc
