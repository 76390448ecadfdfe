// SQLCancel, and the mark of an exported call under way on a statement that
// it reads.
#include "api.h"

#include <atomic>

#include "api/diagnostics.h"
#include "handles/records.h"
#include "qel32.h"
#include "util/engine.h"

namespace kivodbc {
namespace {

constexpr uint16_t kOrdinalInterrupt = 424;

}  // namespace

StatementCall::StatementCall(SQLHSTMT handle) {
  StmtRecord* stmt = AsStmt(handle);
  if (stmt == nullptr) return;
  ForgetDeclinedCancel(stmt);
  int32_t idle = kIdle;
  if (std::atomic_ref<int32_t>(stmt->cancelState).compare_exchange_strong(idle, kBusy, std::memory_order_acq_rel))
    stmt_ = stmt;
}

StatementCall::~StatementCall() {
  if (stmt_ != nullptr) std::atomic_ref<int32_t>(stmt_->cancelState).store(kIdle, std::memory_order_release);
}

SQLRETURN Cancel(SQLHSTMT handle) {
  StmtRecord* stmt = AsStmt(handle);
  if (stmt == nullptr) return SQL_INVALID_HANDLE;
  ForgetDeclinedCancel(stmt);
  std::atomic_ref<int32_t> state(stmt->cancelState);
  std::atomic_ref<uint32_t> running(stmt->runningStatement);
  for (;;) {
    int32_t seen = state.load(std::memory_order_acquire);
    // A call on another thread with nothing to stop right now declines;
    // one asked to stop already has nothing more to do.
    if (seen == kBusy) return PostDeclinedCancel(stmt);
    if (seen == kCancelRequested) return SQL_SUCCESS;
    if (seen != kRunning) break;
    // A stretch that stops when asked: the engine's SQL is interrupted, a
    // driver row loop sees the request at its next row, and that call
    // answers HY008 with the statement usable.
    const uint32_t engineStatement = running.load(std::memory_order_relaxed);
    if (state.compare_exchange_strong(seen, kCancelRequested, std::memory_order_acq_rel)) {
      auto interrupt = Engine<decltype(&KivInterruptSQL)>(kOrdinalInterrupt);
      if (interrupt != nullptr && engineStatement != 0) interrupt(engineStatement);
      return SQL_SUCCESS;
    }
  }
  stmt->code = 0;
  if (stmt->cursor.needData == 0) return SQL_SUCCESS;
  if (stmt->positionedRow == -1) return FreeStmt(handle, SQL_CLOSE);
  stmt->putOffset = -1;
  stmt->positionedRow = -1;
  stmt->cursor.needData = 0;
  stmt->dataItem = nullptr;
  return SQL_SUCCESS;
}

}  // namespace kivodbc
