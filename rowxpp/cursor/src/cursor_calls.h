// Small helpers of the cursor's ODBC calls.
#pragma once

#include <cstdint>

#include "rowxpp/odbc_calls.h"

namespace rowxpp::cursor {

inline bool Ok(int64_t rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

inline SQLHSTMT H(int64_t handle) { return ToHandle(handle); }

// The memory at a block address.
template <class T>
T* At(int64_t address) {
    return reinterpret_cast<T*>(static_cast<intptr_t>(address));
}

}  // namespace rowxpp::cursor
