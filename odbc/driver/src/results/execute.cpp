#include "results/execute.h"

#include <atomic>
#include <algorithm>
#include <cstring>
#include <string>

#include "api.h"
#include "sql/driverstatement.h"
#include "util/engine.h"
#include "sql/keyset.h"
#include "handles/messages.h"
#include "sql/paramconvert.h"
#include "results/parameters.h"
#include "sql/parsetree.h"
#include "qel32.h"
#include "data/tablerecord.h"
#include "data/valuetext.h"

namespace kivodbc {
namespace {

constexpr uint16_t kOrdinalCloseCursor = 19;
constexpr uint16_t kOrdinalRecordCount = 84;
constexpr uint16_t kOrdinalSetBinary = 132;
constexpr uint16_t kOrdinalSetDateText = 134;
constexpr uint16_t kOrdinalSetDouble = 138;
constexpr uint16_t kOrdinalSetEmpty = 139;
constexpr uint16_t kOrdinalSetString = 155;
constexpr uint16_t kOrdinalClearLastError = 186;
constexpr uint16_t kOrdinalCacheRecords = 242;
constexpr uint16_t kOrdinalSetTimeText = 244;
constexpr uint16_t kOrdinalLastError = 74;
constexpr uint16_t kOrdinalCloseStatement = 262;
constexpr uint16_t kOrdinalCreateStatement = 263;
constexpr uint16_t kOrdinalVerify = 401;
constexpr uint16_t kOrdinalExecute = 264;
constexpr uint16_t kOrdinalSetTimestampText = 268;

constexpr uint32_t kEngineUnbound = 2004;
constexpr uint16_t kForwardOnlyCache = 100;
constexpr size_t kValueTextSize = 24;

constexpr int16_t kFunctionDelete = 19;
constexpr int16_t kFunctionInsert = 50;
constexpr int16_t kFunctionSelect = 85;
constexpr int16_t kFunctionUpdate = 82;

EngineSession* SessionOf(const StmtRecord* stmt) { return stmt->conn != nullptr ? stmt->conn->session : nullptr; }

bool IsOdbc3(const StmtRecord* stmt) {
  return stmt->conn != nullptr && stmt->conn->env != nullptr && stmt->conn->env->version == SQL_OV_ODBC3;
}

void SetRowsProcessed(StmtRecord* stmt, SQLLEN count) {
  if (SQLULEN* target = stmt->builtIn[kIrd].rowsProcessedPtr) *target = static_cast<SQLULEN>(count);
}

void SetParamsProcessed(StmtRecord* stmt, SQLLEN count) {
  if (SQLULEN* target = stmt->builtIn[kIpd].rowsProcessedPtr) *target = static_cast<SQLULEN>(count);
}

// A failure of the parameter hand-over: 2004 on the statement, the engine's
// own code kept as the session's last error and in the diagnostic text.
uint32_t ParameterFailure(StmtRecord* stmt, uint32_t engineCode) {
  stmt->code = kParameterPassingFailed;
  stmt->argument[0] = 0;
  BuildDiagnosticText(engineCode, stmt->engineText);
  if (EngineSession* session = SessionOf(stmt)) session->lastError = engineCode;
  return kParameterPassingFailed;
}

// A date, time or timestamp passed as its text.
template <typename F, typename Value>
uint32_t SetFormatted(uint16_t ordinal, uint32_t statement, KIVFIELD field, const Value& value,
                      int (*format)(const Value&, char*, size_t)) {
  auto set = Engine<F>(ordinal);
  if (set == nullptr) return kEngineUnbound;
  char text[kValueTextSize] = {};
  if (int code = format(value, text, sizeof text)) return static_cast<uint32_t>(code);
  return set(statement, field, text, static_cast<uint32_t>(std::strlen(text)));
}

// Hands one parameter node's value to the engine statement.
uint32_t SetEngineParameter(StmtRecord* stmt, uint32_t statement, const ParseNode* node) {
  if (uint32_t code = EnsureImplicitTransaction(SessionOf(stmt))) return code;
  const ParameterValue* value = node->parameterValue;
  const KIVFIELD field = KIV_FIELD(node->ordinal);
  if (value == nullptr || value->isNull != 0) {
    auto setEmpty = Engine<decltype(&KivSetEmpty)>(kOrdinalSetEmpty);
    return setEmpty != nullptr ? setEmpty(statement, field) : kEngineUnbound;
  }
  switch (value->valueType) {
    case kValueText:
    case kValueNumeric: {
      auto setString = Engine<decltype(&KivSetString)>(kOrdinalSetString);
      if (setString == nullptr) return kEngineUnbound;
      const char* data = ParameterBuffer(value);
      const size_t length = strnlen(data, ParameterBufferSize(value));
      return setString(statement, field, data, static_cast<uint32_t>(length));
    }
    case kValueInteger:
    case kValueDouble: {
      auto setDouble = Engine<decltype(&KivSetDouble)>(kOrdinalSetDouble);
      return setDouble != nullptr ? setDouble(statement, field, value->number) : kEngineUnbound;
    }
    case kValueDate:
      return SetFormatted<decltype(&KivSetDateText)>(kOrdinalSetDateText, statement, field, value->date,
                                                     FormatDateText);
    case kValueTime:
      return SetFormatted<decltype(&KivSetTimeText)>(kOrdinalSetTimeText, statement, field, value->time,
                                                     FormatTimeText);
    case kValueTimestamp:
      return SetFormatted<decltype(&KivSetTimeStampText)>(kOrdinalSetTimestampText, statement, field, value->timestamp,
                                                          FormatTimestampText);
    case kValueBinary: {
      auto setBinary = Engine<decltype(&KivSetBinary)>(kOrdinalSetBinary);
      if (setBinary == nullptr) return kEngineUnbound;
      const uint32_t count = ParameterByteCount(value);
      return setBinary(statement, field, KIV_BINARY_KIND, count, 0, ParameterBytes(value), count);
    }
    default:
      return kNotSupported;
  }
}

void PointPseudoTables(ParseNode* select, uint32_t cursor) {
  EngineTable* table = FirstFromTable(select);
  if (table != nullptr && table->resultCursor) table->handle = cursor;
}

void ClearGetDataProgress(StmtRecord* stmt) {
  stmt->getDataColumn = -1;
  stmt->getDataOffset = 0;
  stmt->getDataDone = 0;
}

// The part of a run both execution paths share once the statement is done
// with its preparation: the parse list and engine statement go, and the
// counters are reset.
void DropDirectPreparation(StmtRecord* stmt) {
  ReleaseStatementPreparation(stmt);
  stmt->cursor.needData = 0;
  stmt->dataItem = nullptr;
  stmt->putOffset = -1;
}

SQLRETURN ExecDirectOnce(SQLHSTMT handle, const SQLCHAR* text, SQLINTEGER length, bool repeated);

}  // namespace

uint32_t ExecuteEngineRequest(StmtRecord* stmt, EngineRequest* request, int16_t cursorType, SQLLEN* affected,
                              int16_t* function) {
  EngineSession* session = SessionOf(stmt);
  *affected = -1;
  *function = 0;
  if (uint32_t code = EnsureImplicitTransaction(session)) return code;
  *function = ClassifyStatementText(request->text);
  if (request->cursor != 0) {
    auto close = Engine<decltype(&KivCloseTable)>(kOrdinalCloseCursor);
    const uint32_t code = close != nullptr ? close(request->cursor) : kEngineUnbound;
    request->cursor = 0;
    if (code != 0) return code;
  }
  auto execute = Engine<decltype(&KivExecuteSQL)>(kOrdinalExecute);
  if (execute == nullptr) return kEngineUnbound;
  KIVHANDLE cursor = 0;
  if (uint32_t code = RunInterruptible(stmt, request->statement, [&] { return execute(request->statement, &cursor); }))
    return code;
  request->cursor = cursor;
  if (cursor != 0 && cursorType == SQL_CURSOR_FORWARD_ONLY) {
    if (auto cache = Engine<decltype(&KivCacheRecords)>(kOrdinalCacheRecords))
      if (uint32_t code = cache(cursor, kForwardOnlyCache)) return code;
  }
  if (*function == kFunctionDelete || *function == kFunctionInsert || *function == kFunctionUpdate) {
    auto count = Engine<decltype(&KivGetRecordCount)>(kOrdinalRecordCount);
    if (count == nullptr) return kEngineUnbound;
    uint32_t rows = 0;
    const uint32_t code = count(request->statement, KIV_COUNT_RESPECT_FILTERS, &rows);
    if (code == KIV_ERR_NO_ROW_COUNT) {
      if (auto clear = Engine<decltype(&KivClearLastError)>(kOrdinalClearLastError)) clear();
      return 0;
    }
    if (code != 0) return code;
    *affected = static_cast<SQLLEN>(rows);
  }
  return 0;
}

uint32_t ExecutePrepared(StmtRecord* stmt) {
  EngineSession* session = SessionOf(stmt);
  stmt->affectedRows = 0;
  stmt->rowCount = -1;
  SetRowsProcessed(stmt, -1);
  ParseRoot* root = stmt->parseTree;
  if (root == nullptr || root->statement == nullptr) return PostStatementError(stmt, kInternalError), kInternalError;
  if (root->parameters != nullptr) {
    if (stmt->request == nullptr) return PostStatementError(stmt, kInternalError), kInternalError;
    for (const ParseNode* node = root->parameters; node != nullptr; node = node->next)
      if (uint32_t code = SetEngineParameter(stmt, stmt->request->statement, node)) return ParameterFailure(stmt, code);
  }
  ParseNode* statement = root->statement;
  if (statement->kind == kNodeSelect) {
    SelectExtension* state = SelectStateOf(statement);
    SQLLEN affected = -1;
    if (stmt->request != nullptr) {
      int16_t function = 0;
      if (uint32_t code = ExecuteEngineRequest(stmt, stmt->request, stmt->cursorType, &affected, &function)) {
        PostStatementError(stmt, code);
        return code;
      }
      stmt->dynamicFunction = function;
      PointPseudoTables(statement, stmt->request->cursor);
    } else {
      stmt->dynamicFunction = kFunctionSelect;
    }
    state->rowCount = static_cast<int32_t>(affected);
    if (uint32_t code = RewindSelect(stmt, statement)) {
      PostStatementError(stmt, code);
      return code;
    }
    if (stmt->cursorType == SQL_CURSOR_KEYSET_DRIVEN) {
      if (uint32_t code = BuildKeyset(stmt, statement)) {
        ReleaseKeyset(statement);
        PostStatementError(stmt, code);
        return code;
      }
    }
    stmt->affectedRows = std::max(state->rowCount, 0);
    stmt->rowCount = state->rowCount;
    SetRowsProcessed(stmt, state->rowCount);
    stmt->kind = kKindSelect;
    stmt->cursor.open = 1;
    stmt->catalogRow = -2;
    ClearGetDataProgress(stmt);
    return 0;
  }
  if (statement->kind == kNodePseudoStatement) {
    // The engine's statement: without an engine request there is nothing to run.
    if (stmt->request == nullptr) return PostStatementError(stmt, kInternalError), kInternalError;
    SQLLEN affected = -1;
    int16_t function = 0;
    const uint32_t code = ExecuteEngineRequest(stmt, stmt->request, stmt->cursorType, &affected, &function);
    stmt->dynamicFunction = function;
    if (code != 0) {
      if (session != nullptr) session->lastError = code;
      PostStatementError(stmt, code);
      return code;
    }
    stmt->rowCount = affected;
    SetRowsProcessed(stmt, affected);
    SetParamsProcessed(stmt, affected);
    stmt->affectedRows = static_cast<int32_t>(std::max<SQLLEN>(affected, 0));
    return 0;
  }
  PostStatementError(stmt, kInternalError);
  return kInternalError;
}

SQLRETURN ExecutionResult(StmtRecord* stmt, uint32_t code) {
  const bool noRows = IsOdbc3(stmt) &&
                      (stmt->dynamicFunction == kFunctionDelete || stmt->dynamicFunction == kFunctionUpdate) &&
                      stmt->affectedRows == 0;
  if (code == 0 && stmt->truncated != 0) code = kDataTruncated;
  if (code == 0) return noRows ? SQL_NO_DATA : SQL_SUCCESS;
  if (code == kDataTruncated || code == 2163 || code == kDdlCommittedFirst) {
    PostStatementError(stmt, code);
    return noRows ? SQL_NO_DATA : SQL_SUCCESS_WITH_INFO;
  }
  return SQL_ERROR;
}

SQLRETURN ExecuteAfterData(StmtRecord* stmt) {
  const SQLRETURN result = ExecutionResult(stmt, ExecutePrepared(stmt));
  // A statement run directly keeps its parse list only for its cursor.
  if (stmt->prepared == 0 && stmt->kind != kKindSelect) DropDirectPreparation(stmt);
  return result;
}

SQLRETURN Execute(SQLHSTMT handle) {
  StmtRecord* stmt = AsStmt(handle);
  if (stmt == nullptr) return SQL_INVALID_HANDLE;
  stmt->code = 0;
  stmt->affectedRows = 0;
  stmt->truncated = 0;
  if (stmt->kind != kKindNone || stmt->cursor.needData != 0 || stmt->parseTree == nullptr)
    return PostStatementError(stmt, kInvalidCursorState);
  stmt->rowCount = -1;
  stmt->currentRow = 0;
  stmt->rowStatusPtr = nullptr;
  stmt->positionedRow = -1;
  const ParseNode* statement = stmt->parseTree->statement;
  if (statement == nullptr) return PostStatementError(stmt, kInternalError);
  const SQLUSMALLINT* operations = stmt->apd->arrayStatusPtr;
  if (operations != nullptr && operations[0] != 0 && operations[0] != 4 && operations[0] != 6) {
    // The only parameter set is skipped.
    if (statement->kind == kNodeSelect) stmt->dynamicFunction = kFunctionSelect;
    else if (statement->kind != kNodePseudoStatement) return PostStatementError(stmt, kInternalError);
    SetParamsProcessed(stmt, 1);
    if (SQLUSMALLINT* statuses = stmt->builtIn[kIpd].arrayStatusPtr) statuses[0] = SQL_PARAM_UNUSED;
    const bool noRows = IsOdbc3(stmt) &&
                        (stmt->dynamicFunction == kFunctionDelete || stmt->dynamicFunction == kFunctionUpdate);
    return noRows ? SQL_NO_DATA : SQL_SUCCESS;
  }
  const uint32_t bound = BindParameterValues(stmt);
  if (bound == kDataTruncated) stmt->truncated = 1;
  else if (bound != 0) return SQL_ERROR;
  if (stmt->cursor.needData != 0) {
    stmt->positionedRow = -1;
    return SQL_NEED_DATA;
  }
  return ExecutionResult(stmt, ExecutePrepared(stmt));
}

namespace {

SQLRETURN ExecDirectOnce(SQLHSTMT handle, const SQLCHAR* text, SQLINTEGER length, bool repeated) {
  StmtRecord* stmt = AsStmt(handle);
  stmt->code = 0;
  stmt->affectedRows = 0;
  SQLRETURN result = Prepare(handle, text, length);
  if (!SQL_SUCCEEDED(result)) return result;
  result = Execute(handle);
  switch (result) {
    case SQL_SUCCESS:
    case SQL_SUCCESS_WITH_INFO:
    case SQL_NEED_DATA:
    case SQL_NO_DATA:
      // A cursor or pending data keeps the parse list until it ends.
      if (stmt->kind == kKindSelect || stmt->cursor.needData != 0) stmt->prepared = 0;
      else DropDirectPreparation(stmt);
      return result;
    default:
      break;
  }
  if (result == SQL_ERROR && stmt->code == kDdlStatementDeleted && !repeated) {
    // The commit removed the prepared statement: one more run.
    const SQLRETURN again = ExecDirectOnce(handle, text, length, true);
    if (!SQL_SUCCEEDED(again)) return again;
    PostStatementError(stmt, kDdlCommittedFirst);
    return SQL_SUCCESS_WITH_INFO;
  }
  const uint16_t code = stmt->code;
  DropDirectPreparation(stmt);
  stmt->code = code;
  stmt->prepared = 0;
  stmt->affectedRows = 0;
  stmt->rowCount = -1;
  SetRowsProcessed(stmt, -1);
  SetParamsProcessed(stmt, -1);
  stmt->currentRow = 0;
  stmt->rowStatusPtr = nullptr;
  stmt->positionedRow = -1;
  return result;
}

}  // namespace

SQLRETURN ExecDirect(SQLHSTMT handle, const SQLCHAR* text, SQLINTEGER length) {
  StmtRecord* stmt = AsStmt(handle);
  if (stmt == nullptr) return SQL_INVALID_HANDLE;
  stmt->code = 0;
  stmt->affectedRows = 0;
  if (text != nullptr) {
    const char* chars = reinterpret_cast<const char*>(text);
    bool handled = false;
    const uint32_t code = ExecuteDriverStatement(std::string(chars, ResolveLength(chars, length)), stmt, &handled);
    if (code != 0) return PostStatementError(stmt, code);
    if (handled) return SQL_SUCCESS;
  }
  return ExecDirectOnce(handle, text, length, false);
}

namespace {

// The driver message id an engine SQL error names ("NativeError = nnnn"),
// with the text after the engine's name; 0 when it names none.
uint32_t NamedNativeError(const std::string& text, std::string* rest) {
  const std::string marker = "NativeError = ";
  const size_t at = text.find(marker);
  if (at == std::string::npos || at + marker.size() + 4 > text.size()) return 0;
  uint32_t id = 0;
  for (size_t i = at + marker.size(); i < at + marker.size() + 4; ++i) {
    if (text[i] < '0' || text[i] > '9') return 0;
    id = id * 10 + static_cast<uint32_t>(text[i] - '0');
  }
  const std::string engine = "[Morvane SQL Engine]";
  const size_t name = text.find(engine);
  *rest = name == std::string::npos ? text : text.substr(name + engine.size());
  return id;
}

}  // namespace

SQLRETURN NativeSql(SQLHDBC handle, const SQLCHAR* text, SQLINTEGER length, SQLCHAR* buffer, SQLINTEGER bufferLength,
                    SQLINTEGER* outLength) {
  ConnRecord* conn = AsConn(handle);
  if (conn == nullptr || conn->session == nullptr || conn->env == nullptr) return SQL_INVALID_HANDLE;
  conn->code = 0;
  conn->argument[0] = 0;
  if (length != SQL_NTS && length < 1) return PostConnError(conn, kOutOfRange);
  if (buffer != nullptr && bufferLength < 1) return PostConnError(conn, kOutOfRange);
  const char* chars = text != nullptr ? reinterpret_cast<const char*>(text) : "";
  const std::string copy(chars, ResolveLength(chars, length));
  EngineSession* session = conn->session;
  auto create = Engine<decltype(&KivCreateSQLStatement)>(kOrdinalCreateStatement);
  auto verify = Engine<decltype(&KivVerifySQL)>(kOrdinalVerify);
  auto close = Engine<decltype(&KivCloseSQLStatement)>(kOrdinalCloseStatement);
  if (create == nullptr || verify == nullptr || close == nullptr) return PostConnError(conn, kEngineUnbound);
  KIVHANDLE statement = 0;
  if (uint32_t code = create(session->engineConnection, &statement)) {
    session->lastError = code;
    return PostConnError(conn, code);
  }
  const uint32_t verified = verify(statement, copy.c_str());
  uint32_t code = 0;
  std::string message;
  if (verified == KIV_ERR_SQL) {
    // The engine's SQL error names the driver message it stands for.
    char text7200[kMessageSize] = {};
    uint32_t textLength = sizeof text7200;
    uint32_t last = 0;
    if (auto lastError = Engine<decltype(&KivGetLastError)>(kOrdinalLastError))
      lastError(&last, text7200, &textLength);
    code = NamedNativeError(text7200, &message);
    if (code == 0) code = verified;
  } else {
    code = verified;
  }
  close(statement);
  if (code != 0) {
    session->lastError = verified;
    const SQLRETURN result = PostConnError(conn, code);
    if (!message.empty()) SetArgumentText(conn->argument, message);
    return result;
  }
  if (outLength != nullptr) *outLength = static_cast<SQLINTEGER>(copy.size());
  if (buffer == nullptr) return SQL_SUCCESS;
  const size_t room = static_cast<size_t>(bufferLength) - 1;
  const size_t written = std::min(copy.size(), room);
  std::memcpy(buffer, copy.data(), written);
  buffer[written] = 0;
  return copy.size() >= static_cast<size_t>(bufferLength) ? PostConnError(conn, kDataTruncated) : SQL_SUCCESS;
}

SQLRETURN RowCount(SQLHSTMT handle, SQLLEN* count) {
  StmtRecord* stmt = AsStmt(handle);
  if (stmt == nullptr) return SQL_INVALID_HANDLE;
  stmt->code = 0;
  if (count != nullptr) *count = stmt->rowCount;
  return SQL_SUCCESS;
}

SQLRETURN MoreResults(SQLHSTMT handle) {
  StmtRecord* stmt = AsStmt(handle);
  if (stmt == nullptr) return SQL_INVALID_HANDLE;
  stmt->code = 0;
  const SQLRETURN closed = FreeStmt(handle, SQL_CLOSE);
  return closed == SQL_SUCCESS ? SQL_NO_DATA : closed;
}

}  // namespace kivodbc
