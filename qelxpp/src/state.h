// The module state of QELXPP and the one road by which it calls the engine.
#pragma once

#include <qel32.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "qelxpp/qelxpp.h"

namespace qelxpp::detail {

// The engine-function table, entries 1..87 in order.
#define QELXPP_ENGINE_CALLS(X)                                                                      \
    X(KivAppendRecord) X(KivApplicationExit) X(KivAtBOF) X(KivAtEOF) X(KivCacheRecords)             \
    X(KivClearFilter) X(KivClearRelation) X(KivCloseAllTables) X(KivCloseAllIndexes) X(KivCloseIndex) \
    X(KivCloseTable) X(KivContinue) X(KivCopyTableContents) X(KivCreateIndex) X(KivCreateTable)     \
    X(KivDeleteRecord) X(KivGetField) X(KivGetFieldName) X(KivGetFieldType) X(KivGetFieldLength)    \
    X(KivGetFieldDecimals) X(KivGetFilter) X(KivGetIndexHandleByOrder) X(KivGetIndexName)           \
    X(KivGetIndexExpr) X(KivGetIndexCondition) X(KivGetNumFields) X(KivGetRecordNum)                \
    X(KivGetRecordLength) X(KivGetRecordCount) X(KivGetTableAlias) X(KivGotoBottom) X(KivGotoRecord) \
    X(KivGotoTop) X(KivIsFound) X(KivIsRecordDeleted) X(KivLocate) X(KivLockRecord) X(KivLockTable) \
    X(KivOpenTable) X(KivOpenIndex) X(KivPackTable) X(KivRecallRecord) X(KivSeek) X(KivSetField)    \
    X(KivSetFilter) X(KivSetServerType) X(KivSkip) X(KivUnlockTable) X(KivWriteAllRecords)          \
    X(KivWriteRecord) X(KivZapTable) X(KivExtractKey) X(KivGetKeyType) X(KivEvalStringExpr)         \
    X(KivEvalNumericExpr) X(KivGetDeleted) X(KivShowDeleted) X(KivGetRecord) X(KivSetRecord)        \
    X(KivGetErrorString) X(KivGetLastError) X(KivMgConnect) X(KivMgGetInstallInfo) X(KivMgDisconnect) \
    X(KivSetDateFormat) X(KivGetCollationLang) X(KivGetKeyNum) X(KivGetKeyCount) X(KivThreadExit)   \
    X(KivGetConnectionType) X(KivGetTableHandle) X(KivConnect) X(KivDisconnect) X(KivFindConnection) \
    X(KivBeginTransaction) X(KivCommitTransaction) X(KivRollbackTransaction) X(KivInTransaction)    \
    X(KivConvertTable) X(KivSeekLast) X(KivGetKeyLength) X(KivGetRelKeyPos) X(KivSetRelKeyPos)      \
    X(KivGetMemoLength) X(KivGetBinaryLength) X(KivSetEmpty)

enum EngineEntry : int {
    ENTRY_NONE_ = 0,
#define QELXPP_ENTRY(name) E_##name,
    QELXPP_ENGINE_CALLS(QELXPP_ENTRY)
#undef QELXPP_ENTRY
    ENTRY_COUNT_PLUS_ONE_
};
constexpr int kEngineCalls = ENTRY_COUNT_PLUS_ONE_ - 1;
static_assert(kEngineCalls == 87, "the engine-function table has 87 entries");

// One thread's row of the per-thread tables, with the lock that each
// function holds while it works on the row.
struct ThreadRow {
    std::recursive_mutex lock;
    Value connHandle;                     // aConnHandles
    Value currentArea;                    // aCurrentArea
    std::array<Value, kMaxAreas> areas;   // aWorkAreas
    Value replConnection;                 // aReplConnections
    Value lastResult;                     // aLastResult
    Value ordConditions;                  // aOrdConditions
};

uint64_t NextGeneration();

struct ModuleState {
    Value cReplConnString;
    xpp::Array aReplAliases;
    // The replication's shared values: the quote character fixed by the
    // first connection, and the last failed connect (retried later).
    std::mutex replLock;
    Value cQuoteChar;
    bool lReplConnectFailed = false;
    bool replErrorShown = false;          // -800 is raised once per process
    double replFailedAt = 0;
    std::array<ThreadRow, kMaxThreads> rows;
    // The runtime thread id holding each row, 0 for a free row. The main
    // thread keeps row 1; any other thread takes the lowest free row at its
    // first call and gives it back at its end.
    std::mutex rowsLock;
    std::array<int, kMaxThreads> rowThread{1};
    const uint64_t generation = NextGeneration();
    std::atomic<int64_t> hMgmt{0};
    std::atomic<int64_t> nTableType{2};   // read by every thread's DBUSEAREA and DBCREATE
    std::array<std::atomic<int64_t>, kEngineCalls + 1> prepared{};  // aEngineCalls column 2 (0 = NIL)
    std::atomic<int64_t> hEngineDll{0};
    std::atomic<bool> setUp{false};       // QELLOADDLL completed its set-up
    std::mutex loadLock;                  // QELLOADDLL and QELUNLOADDLL one at a time
    int64_t hSetUpConn = 0;               // the connection of a set-up that failed after it (under loadLock)
    std::atomic<bool> lDbOpenBusy{false};
};

ModuleState& State();
const char* EntryName(int entry);

// The code an engine call answers when no engine is loaded (reported at once).
constexpr int64_t kNotLoaded = -999;
// What a call that was not made answers once its error has been raised:
// like a missing engine, nothing more is reported.
constexpr int64_t kRaised = kNotLoaded;

// Entry guard of every exported function: the procedure frame, the check of
// the thread id, and the lock of the thread's row.
class Entry {
public:
    explicit Entry(std::string_view procName);
    bool Ok() const { return row_ != nullptr; }
    ThreadRow& Row() const { return *row_; }

private:
    xpp::Frame frame_;
    ThreadRow* row_ = nullptr;
    std::unique_lock<std::recursive_mutex> lock_;
};

// The row a thread holds, or null (nothing is reported).
ThreadRow* RowOf(int thread);
// The row's place among the rows, 1 for the main thread's. Rows go to
// threads in the order of their first calls: this is not the id of the
// thread holding it.
int RowNumber(const ThreadRow& row);
// Whether the row is the calling thread's own.
bool IsOwnRow(const ThreadRow& row);
// The calling thread's row, taken at its first call; a thread that finds
// every row held is reported ("Thread id out of range"), and null.
ThreadRow* CheckedRow();
// Closes a row's tables and its engine connection, and ends its
// replication connection.
void DisconnectRow(ThreadRow& row);

void* EntryAddress(int entry);  // null when not loaded (and then reported)

// Calls engine entry `entry` typed as its declaration `Fn`. Recorded calls
// store the result in the thread's last result.
template <class Fn, class... A>
int64_t CallEngine(ThreadRow& row, bool record, int entry, A&&... args) {
    void* address = EntryAddress(entry);
    if (!address) {
        if (record) row.lastResult = kNotLoaded;
        return kNotLoaded;
    }
    auto fn = reinterpret_cast<Fn*>(address);
    int64_t result = static_cast<int64_t>(fn(std::forward<A>(args)...));
    if (record) row.lastResult = result;
    return result;
}
// KIV(row, KivName, args...): a recorded call; KIV_UNRECORDED the other.
#define KIV(row, name, ...) ::qelxpp::detail::CallEngine<decltype(::name)>(row, true, ::qelxpp::detail::E_##name, ##__VA_ARGS__)
#define KIV_UNRECORDED(row, name, ...) \
    ::qelxpp::detail::CallEngine<decltype(::name)>(row, false, ::qelxpp::detail::E_##name, ##__VA_ARGS__)

// After a failed engine call: reports it, unless it was not made at all
// (no engine: reported already).
void ReportFailure(int64_t result);
// Engine text reads into fixed buffers: a cut text (5005) counts as success.
inline int64_t TextRead(int64_t result) { return result == KIV_ERR_BUFFER_TOO_SMALL ? 0 : result; }

// Texts passed to the engine: 0 or NIL is a null pointer.
inline const char* CText(const Value& v) { return v.IsChar() ? v.Str().c_str() : nullptr; }

std::string NumText(int64_t n);  // LTRIM(STR(n))

// Module functions.
bool QelNotUsed(ThreadRow& row, bool show, int area);
// QELNOTINDEXED: the area is not in use (reported) or has no orders.
bool QelNotIndexed(ThreadRow& row, int area);
int CurrentArea(ThreadRow& row);  // 1 from a thread's first use
// Closes the area's table, its pending change flushed first; false (and,
// in the calling thread's own row, reported) when the engine refused the
// write or the close: the area is free either way.
bool CloseArea(ThreadRow& row, int area);
void CloseAllAreas(ThreadRow& row);  // DBCLOSEALL on a row
// Sets the calling thread's atEnd block, when it has none, to one that
// disconnects this thread's row.
void InstallDisconnectAtEnd();
// KivConnect to the drive of cPath (NIL: the current drive); the engine's
// answer, recorded and not reported.
int64_t Connect(ThreadRow& row, const Value& cPath, KIVHANDLE& h);
std::string FieldDefinitions(const xpp::Array& aStruct, int tableType);
// REPLICATEROW(nThread, nKind, cTable, nRecNo): sends one row change of a
// replicated table over the connection of the row that thread nThread
// holds; .T. when it was sent.
Value REPLICATEROW(int nThread, int64_t nKind, const Value& cTable, int64_t nRecNo);
// The same over the connection of `row`, whichever thread holds it.
Value REPLICATEROW(ThreadRow& row, int64_t nKind, const Value& cTable, int64_t nRecNo);
// Sends records `from` .. LASTREC() of a replicated area as new rows
// (kind 3), after the deletion of every row when `zapFirst`; the pointer
// comes back to the record current before. Kind 2 and 3 read the thread's
// current area: `rec` must be it.
void SendRecords(ThreadRow& row, const xpp::Array& rec, int64_t from, bool zapFirst);
// Ends the thread's replication connection.
void DropReplication(ThreadRow& row);
// The flush of a work area's pending row change: when the table is
// replicated and a change is pending, the engine writes the record (unless
// `written`: the caller's own engine call has written it), then
// REPLICATEROW with the record current now; `clear` then sets the pending
// kind back to 0. A refused write sends nothing, keeps the pending kind and
// answers the engine's code (recorded, not reported); otherwise 0.
int64_t FlushPending(ThreadRow& row, const xpp::Array& rec, bool clear, bool written = false);

}  // namespace qelxpp::detail
