#include "sql/keyset.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "util/engine.h"
#include "handles/messages.h"
#include "qel32.h"
#include "data/tablerecord.h"
#include "data/tempfile.h"
#include "data/valuetext.h"
#include "sql/statement.h"

namespace kivodbc {
namespace {

constexpr uint16_t kOrdinalAtBof = 4;
constexpr uint16_t kOrdinalAtEof = 5;
constexpr uint16_t kOrdinalRecordNum = 85;
constexpr uint16_t kOrdinalBottom = 103;
constexpr uint16_t kOrdinalGoTo = 104;
constexpr uint16_t kOrdinalTop = 105;
constexpr uint16_t kOrdinalSkip = 158;
constexpr uint32_t kEngineUnbound = 2004;
constexpr uint32_t kKeySize = 4;

EngineSession* SessionOf(StmtRecord* stmt) { return stmt->conn != nullptr ? stmt->conn->session : nullptr; }

// A failure of the table layer: the message from the session's last error.
uint32_t Report(StmtRecord* stmt, uint32_t code) {
  if (code != 0 && code != kNoDataFound) {
    if (EngineSession* session = SessionOf(stmt)) session->lastError = code;
    BuildDiagnosticText(code, stmt->engineText);
  }
  return code;
}

bool WriteAll(int fd, const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = write(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// The engine moves of a dynamic cursor.
class DynamicMove {
 public:
  explicit DynamicMove(uint32_t handle) : handle_(handle) {}
  uint32_t Top() { return Call<decltype(&KivGotoTop)>(kOrdinalTop, handle_); }
  uint32_t Bottom() { return Call<decltype(&KivGotoBottom)>(kOrdinalBottom, handle_); }
  uint32_t GoTo(uint32_t record) {
    const uint32_t code = Call<decltype(&KivGotoRecord)>(kOrdinalGoTo, handle_, record);
    return code == KIV_ERR_NO_SUCH_RECORD ? 0 : code;
  }
  uint32_t Skip(SQLLEN count) { return Call<decltype(&KivSkip)>(kOrdinalSkip, handle_, static_cast<int32_t>(count)); }
  uint32_t Flag(uint16_t ordinal, bool* set) {
    uint16_t value = 0;
    const uint32_t code = Call<decltype(&KivAtEOF)>(ordinal, handle_, &value);
    *set = value != 0;
    return code;
  }
  uint32_t Ordinal(uint32_t* number) {
    return Call<decltype(&KivGetRecordNum)>(kOrdinalRecordNum, handle_, uint16_t{2}, number);
  }

 private:
  template <typename F, typename... Args>
  static uint32_t Call(uint16_t ordinal, Args... args) {
    auto function = Engine<F>(ordinal);
    return function != nullptr ? function(args...) : kEngineUnbound;
  }
  uint32_t handle_;
};

uint32_t PositionDynamic(StmtRecord* stmt, SelectExtension* state, EngineTable* table, SQLUSMALLINT orientation,
                         SQLLEN offset) {
  DynamicMove move(table->handle);
  const int32_t position = state->position;
  const bool outside = position < 0;
  const uint32_t current = static_cast<uint32_t>(position + 1);
  bool backwards = false;
  uint32_t code = 0;
  auto absolute = [&](SQLLEN n) -> uint32_t {
    if (n == 0) {
      state->position = kBeforeFirst;
      return kNoDataFound;
    }
    if (n < 0) {
      backwards = true;
      if (uint32_t c = move.Bottom()) return c;
      return move.Skip(n + 1);
    }
    if (uint32_t c = move.Top()) return c;
    return move.Skip(n - 1);
  };
  switch (orientation) {
    case SQL_FETCH_NEXT:
      if (position == kAfterLast) return kNoDataFound;
      if (position == kBeforeFirst) code = move.Top();
      else if ((code = move.GoTo(current)) == 0) code = move.Skip(1);
      break;
    case SQL_FETCH_FIRST: code = move.Top(); break;
    case SQL_FETCH_LAST: code = move.Bottom(); break;
    case SQL_FETCH_PRIOR:
      backwards = true;
      if (position == kBeforeFirst) return kNoDataFound;
      if (position == kAfterLast) code = move.Bottom();
      else if ((code = move.GoTo(current)) == 0) code = move.Skip(-1);
      break;
    case SQL_FETCH_ABSOLUTE:
      code = absolute(offset);
      if (code == kNoDataFound) return code;
      break;
    case SQL_FETCH_RELATIVE:
      if ((position == kBeforeFirst && offset > 0) || (position == kAfterLast && offset < 0)) {
        code = absolute(offset);
        if (code == kNoDataFound) return code;
      } else if (offset == 0) {
        if (outside) return kNoDataFound;
        code = move.GoTo(current);
      } else {
        backwards = offset < 0;
        if ((code = move.GoTo(current)) == 0) code = move.Skip(offset);
      }
      break;
    case SQL_FETCH_BOOKMARK: code = move.GoTo(static_cast<uint32_t>(offset)); break;
    default: return kFetchTypeOutOfRange;
  }
  if (code != 0) return Report(stmt, code);
  bool end = false;
  bool beginning = false;
  if ((code = move.Flag(kOrdinalAtEof, &end)) || (code = move.Flag(kOrdinalAtBof, &beginning)))
    return Report(stmt, code);
  if (end) {
    state->position = kAfterLast;
    return kNoDataFound;
  }
  if (backwards && beginning) {
    state->position = kBeforeFirst;
    return kNoDataFound;
  }
  uint32_t ordinal = 0;
  if ((code = move.Ordinal(&ordinal))) return Report(stmt, code);
  state->position = static_cast<int32_t>(ordinal) - 1;
  stmt->currentRow = static_cast<int32_t>(ordinal);
  return 0;
}

// The new keyset position for a move, or a code with the position set.
uint32_t KeysetTarget(SelectExtension* state, SQLUSMALLINT orientation, SQLLEN offset, int32_t* target) {
  const int64_t count = state->rowCount < 0 ? 0 : state->rowCount;
  const int64_t position = state->position;
  auto set = [&](int64_t value, uint32_t code) {
    *target = static_cast<int32_t>(value);
    if (code != 0) state->position = static_cast<int32_t>(value);
    return code;
  };
  auto absolute = [&](int64_t n) -> uint32_t {
    if (n == 0) return set(kBeforeFirst, kNoDataFound);
    if (n > 0) return n <= count ? set(n - 1, 0) : set(kAfterLast, kNoDataFound);
    return count + n >= 0 ? set(count + n, 0) : set(kBeforeFirst, kNoDataFound);
  };
  switch (orientation) {
    case SQL_FETCH_NEXT:
      if (position == kBeforeFirst) return count == 0 ? set(kAfterLast, kNoDataFound) : set(0, 0);
      if (position == kAfterLast || position + 1 >= count) return set(kAfterLast, kNoDataFound);
      return set(position + 1, 0);
    case SQL_FETCH_FIRST: return count == 0 ? set(kAfterLast, kNoDataFound) : set(0, 0);
    case SQL_FETCH_LAST: return count == 0 ? set(kBeforeFirst, kNoDataFound) : set(count - 1, 0);
    case SQL_FETCH_PRIOR:
      if (position == kAfterLast) return count == 0 ? set(kBeforeFirst, kNoDataFound) : set(count - 1, 0);
      if (position <= 0) return set(kBeforeFirst, kNoDataFound);
      return set(position - 1, 0);
    case SQL_FETCH_RELATIVE: {
      if (offset == 0) {
        if (position < 0) return kNoDataFound;
        return set(position, 0);
      }
      if ((position == kBeforeFirst && offset > 0) || (position == kAfterLast && offset < 0)) return absolute(offset);
      const int64_t next = position + offset;
      if (next < 0) return set(kBeforeFirst, kNoDataFound);
      if (next >= count) return set(kAfterLast, kNoDataFound);
      return set(next, 0);
    }
    case SQL_FETCH_ABSOLUTE: return absolute(offset);
    case SQL_FETCH_BOOKMARK:
      if (offset < 1 || offset > count) return kInvalidBookmark;
      return set(offset - 1, 0);
  }
  return kFetchTypeOutOfRange;
}

uint32_t PositionKeyset(StmtRecord* stmt, SelectExtension* state, EngineTable* table, SQLUSMALLINT orientation,
                        SQLLEN offset) {
  int32_t target = 0;
  if (uint32_t code = KeysetTarget(state, orientation, offset, &target)) return code;
  auto* reader = static_cast<TempFileReader*>(state->keysetReader);
  uint32_t record = 0;
  if (SeekTempFile(reader, static_cast<int64_t>(target) * kKeySize) < 0 ||
      ReadTempFile(reader, &record, kKeySize) != kKeySize)
    return kKeysetReadError;
  state->position = target;
  stmt->currentRow = target + 1;
  const uint32_t code = GoToRecord(table, record);
  return code == kRecordEdge ? code : Report(stmt, code);
}

}  // namespace

SelectExtension* SelectStateOf(ParseNode* select) {
  return select != nullptr && select->kind == kNodeSelect ? static_cast<SelectExtension*>(select->extension)
                                                          : nullptr;
}

EngineTable* FirstFromTable(ParseNode* select) {
  SelectExtension* state = SelectStateOf(select);
  if (state == nullptr || state->from == nullptr) return nullptr;
  const ParseNode* ref = state->from->kind == kNodeFromItem ? state->from->left : state->from;
  if (ref == nullptr || ref->kind != kNodeTableRef || ref->extension == nullptr) return nullptr;
  return static_cast<const TableRefExtension*>(ref->extension)->table;
}

uint32_t RewindScan(EngineTable* table) {
  ResetTableCursor(table);
  return 0;
}

namespace {

EngineTable* ScanTable(ParseNode* from) {
  const ParseNode* ref = from != nullptr ? from->left : nullptr;
  if (ref == nullptr || ref->kind != kNodeTableRef || ref->extension == nullptr) return nullptr;
  return static_cast<const TableRefExtension*>(ref->extension)->table;
}

uint32_t AdvanceScan(StmtRecord* stmt, EngineTable* table) {
  const uint32_t code = StepTableRecord(table);
  if (code == kRecordEdge) return kNoDataFound;
  return Report(stmt, code);
}

}  // namespace

uint32_t RewindFromList(StmtRecord* stmt, ParseNode* from) {
  if (from == nullptr || from->kind != kNodeFromItem) return kInternalError;
  EngineTable* table = ScanTable(from);
  if (table == nullptr) return kInternalError;
  RewindScan(table);
  if (from->next == nullptr) return 0;
  for (;;) {
    if (uint32_t code = AdvanceScan(stmt, table)) return code;
    const uint32_t code = RewindFromList(stmt, from->next);
    if (code == 0) {
      // The rest has a row: its first step delivers it.
      return 0;
    }
    if (code != kNoDataFound) return code;
  }
}

uint32_t AdvanceRowSource(StmtRecord* stmt, ParseNode* from) {
  if (from == nullptr || from->kind != kNodeFromItem) return kInternalError;
  EngineTable* table = ScanTable(from);
  if (table == nullptr) return kInternalError;
  if (from->next == nullptr) return AdvanceScan(stmt, table);
  for (;;) {
    const uint32_t code = AdvanceRowSource(stmt, from->next);
    if (code != kNoDataFound) return code;
    if (uint32_t own = AdvanceScan(stmt, table)) return own;
    if (uint32_t rewind = RewindFromList(stmt, from->next)) return rewind;
  }
}

uint32_t AdvanceUntil(StmtRecord* stmt, ParseNode* select, ParseNode* condition) {
  SelectExtension* state = SelectStateOf(select);
  if (state == nullptr) return kInternalError;
  // The accepted dialect has no conditions: every row holds.
  (void)condition;
  return AdvanceRowSource(stmt, state->from);
}

void ReleaseKeyset(ParseNode* select) {
  SelectExtension* state = SelectStateOf(select);
  if (state == nullptr) return;
  CloseTempFileReader(static_cast<TempFileReader*>(state->keysetReader), true);
  state->keysetReader = nullptr;
}

void ReleaseKeysets(ParseRoot* root) {
  if (root == nullptr) return;
  for (ParseNode* node = root->head; node != nullptr; node = node->created)
    if (node->kind == kNodeSelect) ReleaseKeyset(node);
}

uint32_t AppendKeysetRecord(ParseNode* select, uint32_t record) {
  SelectExtension* state = SelectStateOf(select);
  auto* reader = state != nullptr ? static_cast<TempFileReader*>(state->keysetReader) : nullptr;
  if (reader == nullptr || state->rowCount < 0) return kKeysetCreateError;
  const std::string path = reader->path;
  CloseTempFileReader(reader, false);
  state->keysetReader = nullptr;
  const int fd = open(path.c_str(), O_WRONLY);
  bool written = fd >= 0 && lseek(fd, static_cast<off_t>(state->rowCount) * kKeySize, SEEK_SET) >= 0 &&
                 WriteAll(fd, &record, kKeySize);
  if (fd >= 0 && close(fd) != 0) written = false;
  TempFileReader* reopened = nullptr;
  if (!written || OpenTempFileReader(path.c_str(), kKeySize, 0, &reopened) != 0) {
    unlink(path.c_str());
    return kKeysetCreateError;
  }
  state->keysetReader = reopened;
  ++state->rowCount;
  return 0;
}

uint32_t RewindSelect(StmtRecord* stmt, ParseNode* select) {
  SelectExtension* state = SelectStateOf(select);
  if (state == nullptr) return kInternalError;
  ReleaseKeyset(select);
  state->rowCount = -1;
  const uint32_t code = RewindFromList(stmt, state->from);
  if (code == kNoDataFound) {
    state->rowCount = 0;
    state->position = kAfterLast;
    return 0;
  }
  if (code != 0) return code;
  state->position = kBeforeFirst;
  return 0;
}

uint32_t BuildKeyset(StmtRecord* stmt, ParseNode* select) {
  SelectExtension* state = SelectStateOf(select);
  EngineTable* first = FirstFromTable(select);
  if (state == nullptr || first == nullptr) return kInternalError;
  std::string path;
  int fd = CreateSpoolFile(&path);
  if (fd < 0) return kKeysetCreateError;
  auto fail = [&](uint32_t code) {
    if (fd >= 0) close(fd);
    unlink(path.c_str());
    return code;
  };
  state->rowCount = 0;
  state->position = kBeforeFirst;
  // SQLCancel from another thread stops the walk at its next row.
  CancelWindow window(stmt);
  uint32_t code;
  while ((code = AdvanceUntil(stmt, select, nullptr)) == 0) {
    if (CancelRequested(stmt)) return fail(kOperationCanceled);
    ++state->position;
    ++state->rowCount;
    uint32_t record = 0;
    if (uint32_t failure = CurrentRecordNumber(first, &record)) return fail(Report(stmt, failure));
    if (!WriteAll(fd, &record, kKeySize)) return fail(kKeysetCreateError);
  }
  if (code != kNoDataFound) return fail(code);
  const int closed = close(fd);
  fd = -1;
  if (closed != 0) return fail(kKeysetCreateError);
  ReleaseKeyset(select);
  TempFileReader* reader = nullptr;
  if ((code = OpenTempFileReader(path.c_str(), kKeySize, 0, &reader)) != 0) return fail(code);
  state->keysetReader = reader;
  state->position = kBeforeFirst;
  return 0;
}

namespace {

constexpr int32_t kVariableLengthSize = 0x7FFFFFF8;

// Makes the node's buffer hold at least `size` bytes (from the parse arena).
bool ReserveNodeBuffer(ParseRoot* root, ParseNode* node, size_t size) {
  if (node->buffer != nullptr && node->bufferSize >= size) return true;
  auto* buffer = static_cast<char*>(ParseArenaAlloc(root, static_cast<ptrdiff_t>(size)));
  if (buffer == nullptr) return false;
  node->buffer = buffer;
  node->bufferSize = size;
  return true;
}

// The room for a binary value of `length` bytes in a column of `columnSize`.
size_t BinaryCapacity(uint32_t length, int32_t columnSize) {
  size_t room;
  if (length > 0xFFFFF) room = static_cast<size_t>(length) + 0x100000;
  else if (length > 0xFFFF) room = static_cast<size_t>(length) * 2;
  else room = static_cast<size_t>(std::min(std::max(columnSize, 0), 0x10000));
  return std::max<size_t>(room, length) + 4;
}

uint32_t LoadColumn(StmtRecord* stmt, ParseNode* node) {
  const ParseNode* ref = node->tableRef;
  const auto* ext = ref != nullptr ? static_cast<const TableRefExtension*>(ref->extension) : nullptr;
  EngineTable* table = ext != nullptr ? ext->table : nullptr;
  if (table == nullptr || node->columnIndex < 0 || static_cast<size_t>(node->columnIndex) >= table->columns.size())
    return kInternalError;
  const size_t field = static_cast<size_t>(node->columnIndex);
  const EngineColumn& column = table->columns[field];
  ParseRoot* root = stmt->parseTree;
  SQLLEN length = 0;
  int mark = 0;
  uint32_t code = 0;
  switch (node->category) {
    case kCategoryText:
    case kCategoryDecimal: {
      size_t size;
      if (node->category == kCategoryDecimal) {
        size = static_cast<size_t>(std::max(column.columnSize, 0)) + 3;
      } else if (column.columnSize == kVariableLengthSize) {
        uint32_t actual = 0;
        if ((code = FieldDataLength(table, field, &actual))) return Report(stmt, code);
        size = static_cast<size_t>(actual) + 1;
      } else {
        size = static_cast<size_t>(std::max(column.columnSize, 0)) + 1;
      }
      if (!ReserveNodeBuffer(root, node, size)) return kMemoryError;
      code = ReadTableField(table, field, 0, kValueText, node->buffer, static_cast<SQLLEN>(size), &length, &mark);
      if (code == 0 && length != SQL_NULL_DATA && node->category == kCategoryDecimal) {
        // Numeric text to the column's scale.
        const int scale = std::max<int>(node->resolvedScale, 0);
        if (!ScaleDecimalText(node->buffer, size, scale))
          std::snprintf(node->buffer, size, "%.*f", scale, std::strtod(node->buffer, nullptr));
        length = static_cast<SQLLEN>(std::strlen(node->buffer));
      }
      break;
    }
    case kCategoryInteger:
    case kCategoryFloating:
      code = ReadTableField(table, field, 0, kValueDouble, &node->number, sizeof node->number, &length, &mark);
      break;
    case kCategoryDate:
      code = ReadTableField(table, field, 0, kValueDate, node->value, 6, &length, &mark);
      break;
    case kCategoryTime:
      code = ReadTableField(table, field, 0, kValueTime, node->value, 6, &length, &mark);
      break;
    case kCategoryTimestamp:
      code = ReadTableField(table, field, 0, kValueTimestamp, node->value, sizeof node->value, &length, &mark);
      break;
    case kCategoryBinary: {
      uint32_t actual = 0;
      if ((code = FieldDataLength(table, field, &actual))) return Report(stmt, code);
      const size_t size = BinaryCapacity(actual, column.columnSize);
      if (!ReserveNodeBuffer(root, node, size)) return kMemoryError;
      code = ReadTableField(table, field, 0, kValueBinary, node->buffer + 4, static_cast<SQLLEN>(size - 4), &length,
                            &mark);
      const uint32_t stored = length == SQL_NULL_DATA ? 0 : static_cast<uint32_t>(length);
      std::memcpy(node->buffer, &stored, 4);
      break;
    }
    default: return kNotSupported;
  }
  if (code != 0) return Report(stmt, code);
  node->isNull = length == SQL_NULL_DATA;
  node->valueLength = length;
  return 0;
}

}  // namespace

uint32_t LoadNodeValue(StmtRecord* stmt, ParseNode* node) {
  if (node == nullptr) return kInternalError;
  if (node->kind == kNodeColumnRef) return LoadColumn(stmt, node);
  if (node->kind != kNodeLiteral) return kInternalError;
  node->isNull = false;
  if (node->sqlType == SQL_INTEGER || node->sqlType == SQL_DOUBLE || node->sqlType == SQL_FLOAT) {
    node->valueLength = sizeof node->number;  // the value is the node's number
  } else {
    node->buffer = const_cast<char*>(node->text);
    node->valueLength = node->text != nullptr ? static_cast<SQLLEN>(std::strlen(node->text)) : 0;
  }
  return 0;
}

uint32_t PositionCursor(StmtRecord* stmt, ParseNode* select, SQLUSMALLINT orientation, SQLLEN offset) {
  SelectExtension* state = SelectStateOf(select);
  EngineTable* table = FirstFromTable(select);
  if (state == nullptr || table == nullptr) return kInternalError;
  if (stmt->cursorType == SQL_CURSOR_DYNAMIC) return PositionDynamic(stmt, state, table, orientation, offset);
  if (state->keysetReader != nullptr) return PositionKeyset(stmt, state, table, orientation, offset);
  if (orientation == SQL_FETCH_RELATIVE && offset == 0) return state->position < 0 ? kNoDataFound : 0;
  if (orientation != SQL_FETCH_NEXT) return kInternalError;
  if (state->position == kAfterLast) return kNoDataFound;
  const uint32_t code = AdvanceUntil(stmt, select, nullptr);
  if (code == kNoDataFound) {
    state->position = kAfterLast;
    return code;
  }
  if (code != 0) return code;
  ++state->position;
  return 0;
}

}  // namespace kivodbc
