// The ODBC call table: the 61 driver-manager functions, resolved once per
// load of the driver manager and called by fixed index with the ANSI
// prototypes of sql.h. sql.h and sqlext.h serve for types and constants
// only; the driver manager is never linked.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "rowxpp/natives.h"

namespace rowxpp {

// index, name
#define ROWXPP_ODBC_CALLS(X)                                                                          \
    X(1, SQLAllocHandle) X(2, SQLConnect) X(3, SQLDriverConnect) X(4, SQLBrowseConnect)               \
    X(5, SQLDataSources) X(6, SQLDrivers) X(7, SQLGetInfo) X(8, SQLGetFunctions) X(9, SQLGetTypeInfo) \
    X(10, SQLSetConnectAttr) X(11, SQLGetConnectAttr) X(12, SQLSetEnvAttr) X(13, SQLGetEnvAttr)       \
    X(14, SQLSetStmtAttr) X(15, SQLGetStmtAttr) X(16, SQLGetDescField) X(17, SQLGetDescRec)           \
    X(18, SQLSetDescField) X(19, SQLSetDescRec) X(20, SQLPrepare) X(21, SQLBindParameter)             \
    X(22, SQLGetCursorName) X(23, SQLSetCursorName) X(24, SQLSetScrollOptions) X(25, SQLExecute)      \
    X(26, SQLExecDirect) X(27, SQLNativeSql) X(28, SQLDescribeParam) X(29, SQLNumParams)              \
    X(30, SQLParamData) X(31, SQLPutData) X(32, SQLRowCount) X(33, SQLNumResultCols)                  \
    X(34, SQLDescribeCol) X(35, SQLColAttribute) X(36, SQLBindCol) X(37, SQLFetch)                    \
    X(38, SQLFetchScroll) X(39, SQLGetData) X(40, SQLSetPos) X(41, SQLBulkOperations)                 \
    X(42, SQLMoreResults) X(43, SQLGetDiagField) X(44, SQLGetDiagRec) X(45, SQLColumnPrivileges)      \
    X(46, SQLColumns) X(47, SQLForeignKeys) X(48, SQLPrimaryKeys) X(49, SQLProcedureColumns)          \
    X(50, SQLProcedures) X(51, SQLSpecialColumns) X(52, SQLStatistics) X(53, SQLTablePrivileges)      \
    X(54, SQLTables) X(55, SQLFreeStmt) X(56, SQLCloseCursor) X(57, SQLCancel) X(58, SQLEndTran)      \
    X(59, SQLDisconnect) X(60, SQLFreeHandle) X(61, SQLSetStmtOption)

constexpr int kOdbcCallCount = 61;

// The names of the table, in its order (element 0 is index 1).
const std::vector<std::string>& OdbcCallNames();

// Prepares every entry on the loaded library `hDll` (0: clears the table).
// An entry whose function is missing stays empty.
void PrepareOdbcCalls(int64_t hDll);
// The prepared call of entry `index` (1..61), 0 when empty.
int64_t OdbcCallEntry(int index);

// Test seam: a decorator around the table. It sees each call's index and
// arguments (pointer-sized numbers; pointers as their addresses) before the
// call and may answer a return code instead of calling.
using OdbcCallDecorator = std::function<std::optional<int64_t>(int index, const std::vector<int64_t>& arguments)>;
// Installs a decorator (empty: none) and answers the one before.
OdbcCallDecorator SetOdbcCallDecorator(OdbcCallDecorator decorator);

namespace detail {
template <int N>
struct OdbcProto;
#define ROWXPP_ODBC_PROTO(n, name)          \
    template <>                             \
    struct OdbcProto<n> {                   \
        using Fn = decltype(&::name);       \
    };
ROWXPP_ODBC_CALLS(ROWXPP_ODBC_PROTO)
#undef ROWXPP_ODBC_PROTO

// The table as every call reads it: the functions' addresses (element 0
// unused) and whether a decorator is installed. Written only while the
// driver manager is loaded or unloaded and when a decorator is installed.
extern std::array<std::atomic<void*>, kOdbcCallCount + 1> odbcAddresses;
extern std::atomic<bool> odbcDecorated;

std::optional<int64_t> Decorate(int index, const std::vector<int64_t>& arguments);

template <class T>
int64_t AsNumber(T v) {
    if constexpr (std::is_pointer_v<T>) return static_cast<int64_t>(reinterpret_cast<intptr_t>(v));
    else return static_cast<int64_t>(v);
}

template <int N, class... A>
int64_t CallEntry(A... args) {
    void* address = odbcAddresses[N].load(std::memory_order_acquire);
    if (address == nullptr) return SQL_INVALID_HANDLE & 0xFFFF;
    auto fn = reinterpret_cast<typename OdbcProto<N>::Fn>(address);
    return LoWord_(fn(args...));
}

// The road through the decorator, kept out of the callers' code.
template <int N, class... A>
[[gnu::noinline, gnu::cold]] int64_t DecoratedCall(A... args) {
    if (auto answer = Decorate(N, {AsNumber(args)...})) return LoWord_(*answer);
    return CallEntry<N>(args...);
}
}  // namespace detail

// Calls entry N with the arguments of its ODBC prototype and answers the
// result's low 16 bits (SQL_ERROR is 65535, SQL_INVALID_HANDLE 65534). An
// empty entry answers 65534 without calling anything.
template <int N, class... A>
inline int64_t OdbcCall(A... args) {
    static_assert(N >= 1 && N <= kOdbcCallCount, "an entry of the table");
    if (detail::odbcDecorated.load(std::memory_order_acquire)) [[unlikely]]
        return detail::DecoratedCall<N>(args...);
    return detail::CallEntry<N>(args...);
}

// Handles travel as pointer-sized numbers.
inline SQLHANDLE ToHandle(int64_t n) { return reinterpret_cast<SQLHANDLE>(static_cast<intptr_t>(n)); }
inline int64_t FromHandle(SQLHANDLE h) { return static_cast<int64_t>(reinterpret_cast<intptr_t>(h)); }

}  // namespace rowxpp
