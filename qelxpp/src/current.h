// Small helpers of the functions that work on the thread's current work
// area: its record, its handles and its structure rows.
#pragma once

#include <string>

#include "state.h"

namespace qelxpp::detail {

// The record of the thread's current work area; false when it is free.
bool CurrentRecord(ThreadRow& row, xpp::Array& rec);

// QELNOTINDEXED: the current area is not in use (reported) or has no
// orders (silent); otherwise `rec` is its record.
inline bool NoOrders(ThreadRow& row, xpp::Array& rec) {
    if (QelNotIndexed(row, CurrentArea(row))) return true;
    CurrentRecord(row, rec);
    return false;
}

// A numeric element of a record as an engine handle.
inline KIVHANDLE HandleOf(const xpp::Array& rec, int element) {
    return static_cast<KIVHANDLE>(rec.Get(element).Int());
}
inline KIVHANDLE TableOf(const xpp::Array& rec) { return HandleOf(rec, WA_TABLE); }
inline KIVHANDLE NavOf(const xpp::Array& rec) { return HandleOf(rec, WA_NAVHANDLE); }

// The structure row of field `n` of a record. A number outside 1 .. the
// field count raises the runtime's bound error (through the error block)
// and gives false: nothing outside the structure is read.
bool FieldRowOf(const xpp::Array& rec, const Value& n, xpp::Array& field);

// A text the engine writes into a buffer of `size` blanks with an in/out
// length: `call(buffer, &length)` gives the engine's result. The text is the
// first `length` characters; a cut text (5005) counts as read.
template <class Call>
int64_t ReadText(ThreadRow& row, size_t size, std::string& out, Call&& call) {
    std::string buf(size, ' ');
    uint32_t len = static_cast<uint32_t>(size);
    int64_t r = TextRead(call(buf.data(), &len));
    row.lastResult = r;
    out = r == 0 ? buf.substr(0, std::min<size_t>(len, size)) : std::string();
    return r;
}

}  // namespace qelxpp::detail
