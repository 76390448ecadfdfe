// The life of a statement handle: the engine statement behind it, the
// session's cache of engine statements, preparation (engine first, then the
// driver's own front end over the engine's result as a pseudo-table) and
// cursor names.
#ifndef KIVODBC_STATEMENT_H
#define KIVODBC_STATEMENT_H

#include <sql.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "data/enginetable.h"
#include "handles/messages.h"
#include "handles/records.h"

namespace kivodbc {

constexpr size_t kDescribeBufferSize = 65535;
constexpr size_t kMaxCursorNameLength = 18;

constexpr uint32_t kInvalidCursorName = 2104;
constexpr uint32_t kCursorNameInUse = 2105;
constexpr uint32_t kIsamMemoryError = 2008;
constexpr uint32_t kParameterTypeUnknown = 2154;

// The engine statement a driver statement runs on.
struct EngineRequest {
  char* text;                 // owned, NUL-terminated
  uint32_t statement;         // from the session's cache
  uint32_t cursor;            // 0 when no cursor is open
  void* describe;             // kDescribeBufferSize bytes while there is a result set
  uint16_t describeCount;     // result columns; 0 = no result set
  int16_t passwordsApplied;
  std::vector<EngineColumn>* columns;  // the result columns, as the pseudo-table shows them
};

// An entry of a session's engine-statement cache.
struct EngineStatementEntry {
  EngineStatementEntry* next;
  uint32_t handle;
  int32_t inUse;
};

// Engine-statement cache of a session.
uint32_t AcquireEngineStatement(EngineSession* session, uint32_t* handle);
uint32_t ReturnEngineStatement(EngineSession* session, EngineRequest* request);
uint32_t CloseIdleEngineStatements(EngineSession* session);
// Closes every cached engine statement and frees the cache and the password list.
void FreeSessionStatements(EngineSession* session);

uint32_t NewEngineRequest(EngineSession* session, EngineRequest** out);
// Frees the request and clears `*request` whatever the engine answers; the
// first engine failure is kept as the session's last error and returned.
uint32_t ReleaseEngineStatement(EngineRequest** request, EngineSession* session);

// SQL_DIAG_DYNAMIC_FUNCTION_CODE of a statement text.
int16_t ClassifyStatementText(const char* text);
// "{call name(args)}" as "execute procedure name(args)"; false (text left
// alone) when the text is no call escape.
bool RewriteCallEscape(const std::string& text, std::string* rewritten);
// Parameter markers ("?" and ":") outside quoted stretches.
int32_t CountParameterMarkers(const char* text);

// The engine side of a prepare: 0 with `*hexName` set to the pseudo-table
// name when the statement has a result set, or a code (2003: the engine
// leaves the text to the driver).
uint32_t PrepareEngineRequest(StmtRecord* stmt, const char* text, size_t length, std::string* hexName,
                              int32_t* markers);

// The table column a select item reads (and its table, when `table` is
// given); null for any other expression.
const EngineColumn* ColumnOfItem(const ParseNode* item, const EngineTable** table = nullptr);

// The pseudo-table of the statement's own engine result, for the front end.
DriverResult ResultOfStatement(const StmtRecord* stmt);

SQLRETURN Prepare(SQLHSTMT stmt, const SQLCHAR* text, SQLINTEGER length);
SQLRETURN SetCursorName(SQLHSTMT stmt, const SQLCHAR* name, SQLSMALLINT length);
SQLRETURN GetCursorName(SQLHSTMT stmt, SQLCHAR* buffer, SQLSMALLINT capacity, SQLSMALLINT* length);

// A stretch of a statement call that SQLCancel from another thread stops:
// the engine running the statement's SQL on `engineStatement` (interrupted
// by the cancel), or a row loop of the driver's own (engineStatement 0),
// which asks Requested() at each row and ends with kOperationCanceled.
// Outside such stretches a call is kBusy, and a cancel is declined.
class CancelWindow {
 public:
  explicit CancelWindow(StmtRecord* stmt, uint32_t engineStatement = 0) : state_(stmt->cancelState) {
    std::atomic_ref<uint32_t>(stmt->runningStatement).store(engineStatement, std::memory_order_relaxed);
    outer_ = state_.exchange(kRunning, std::memory_order_acq_rel);
  }
  CancelWindow(const CancelWindow&) = delete;
  CancelWindow& operator=(const CancelWindow&) = delete;
  ~CancelWindow() { Close(); }
  // Ends the stretch: whether SQLCancel asked it to stop.
  bool Close() {
    if (closed_) return false;
    closed_ = true;
    return state_.exchange(outer_, std::memory_order_acq_rel) == kCancelRequested;
  }

 private:
  std::atomic_ref<int32_t> state_;
  int32_t outer_ = kIdle;
  bool closed_ = false;
};

// Whether SQLCancel asked the statement's current stretch to stop: the check
// of a driver row loop, once per row.
inline bool CancelRequested(StmtRecord* stmt) {
  return std::atomic_ref<int32_t>(stmt->cancelState).load(std::memory_order_relaxed) == kCancelRequested;
}

// Runs `call`, an engine call running the statement's SQL on the engine
// statement `engineStatement`, so that SQLCancel from another thread can
// interrupt it: then a failure is kOperationCanceled.
template <typename Call>
uint32_t RunInterruptible(StmtRecord* stmt, uint32_t engineStatement, Call call) {
  CancelWindow window(stmt, engineStatement);
  const uint32_t code = call();
  const bool canceled = window.Close();
  return code != 0 && canceled ? kOperationCanceled : code;
}

// Gives up the statement's cursor name (when it has one).
void ReleaseCursorName(StmtRecord* stmt);
// Frees the connection's record of the cursor names in use.
void FreeCursorNames(ConnRecord* conn);

// Releases the parse tree and the engine request: 0 or the first failure.
uint32_t ReleaseStatementPreparation(StmtRecord* stmt);

}  // namespace kivodbc

#endif
