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

// A field or record written: the row owes an update unless a delete or an
// insert is pending already.
inline void MarkUpdated(const xpp::Array& rec) {
    if (rec.Get(WA_PENDING).Int() == 0) rec.Set(WA_PENDING, 2);
}

// Before the pointer leaves the current row: its pending change goes out
// now, while the row is still the current record. A non-zero answer is the
// engine's refusal to write the record: the caller reports it and does not
// move.
inline int64_t LeaveRow(ThreadRow& row, const xpp::Array& rec) { return FlushPending(row, rec, true); }
inline int64_t LeaveCurrentRow(ThreadRow& row) {
    xpp::Array rec;
    return CurrentRecord(row, rec) ? LeaveRow(row, rec) : 0;
}

// A numeric element of a record as an engine handle.
inline KIVHANDLE HandleOf(const xpp::Array& rec, int element) {
    return static_cast<KIVHANDLE>(rec.Get(element).Int());
}
inline KIVHANDLE TableOf(const xpp::Array& rec) { return HandleOf(rec, WA_TABLE); }
inline KIVHANDLE NavOf(const xpp::Array& rec) { return HandleOf(rec, WA_NAVHANDLE); }

// A record number as the engine takes it: 0 (no record) for a number
// outside 1 .. 2^32 - 1, never one cut to another record.
inline uint32_t RecordNumberOf(const Value& n) {
    const double d = n.Dbl();
    return d >= 1 && d < 4294967296.0 ? static_cast<uint32_t>(d) : 0;
}

// The text of a number for a field, as FIELDPUT writes it.
std::string NumberText(const Value& x, const xpp::Array& field);

// The tables keep their text in code page 850; the program's is
// Windows-1252. A text holding a character that 850 lacks is reported
// ("Character not in code page 850") for the field named and refused:
// true then, and nothing may be written.
bool NotIn850(const std::string& text, const std::string& fieldName);

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

// How a function treats a free current work area: QELNOTUSED() reports it,
// the function answers a fixed value without a report, or the function has
// no test of its own (the access to the missing record raises the runtime's
// error).
enum class InUse { Reported, Silent, None };

// The record of the current area for a function without an in-use test: a
// free area raises the runtime's error for an element access on NIL
// (through the error block, nothing recorded) and gives false.
inline bool RecordOrError(ThreadRow& row, xpp::Array& rec) {
    if (CurrentRecord(row, rec)) return true;
    xpp::ArrayGet(row.areas[CurrentArea(row) - 1], WA_TABLE);
    return false;
}

// The position of the current key in percent, from the key number and
// count of the controlling order; neither call is recorded or reported.
Value PositionOf(ThreadRow& row, const xpp::Array& rec);

// The sequence of most functions on the current work area: the entry, the
// in-use test, one recorded engine call, and on a non-zero answer the
// report and `failure`. `call(row, rec, result)` makes the call, answers
// its code and leaves the success value in `result`. A free area gives
// `freeValue` (`failure` when the function has no test of its own), a
// thread without a row `failure`.
template <class Call>
Value OnCurrentArea(std::string_view procName, InUse test, const Value& freeValue, const Value& failure, Call&& call) {
    Entry e(procName);
    if (!e.Ok()) return failure;
    const Value& unused = test == InUse::None ? failure : freeValue;
    ThreadRow& row = e.Row();
    xpp::Array rec;
    if (test == InUse::Reported && QelNotUsed(row, true, CurrentArea(row))) return unused;
    if (test == InUse::None ? !RecordOrError(row, rec) : !CurrentRecord(row, rec)) return unused;
    Value result;
    int64_t r = call(row, rec, result);
    if (r != 0) {
        ReportFailure(r);
        return failure;
    }
    return result;
}

// A function whose engine call has no out-value: .T. once the engine has
// done it, .F. on failure. `call(row, rec)` answers the engine's code.
template <class Call>
Value Action(std::string_view procName, InUse test, bool freeValue, Call&& call) {
    return OnCurrentArea(procName, test, freeValue, false, [&](ThreadRow& row, const xpp::Array& rec, Value& result) {
        result = true;
        return call(row, rec);
    });
}

// A flag the engine sets through an out-value, asked of the table handle:
// `call(row, table, &flag)`.
template <class Call>
Value Flag(std::string_view procName, InUse test, bool freeValue, bool failure, Call&& call) {
    return OnCurrentArea(procName, test, freeValue, failure, [&](ThreadRow& row, const xpp::Array& rec, Value& result) {
        uint16_t flag = 0;
        int64_t r = call(row, TableOf(rec), &flag);
        result = flag != 0;
        return r;
    });
}

}  // namespace qelxpp::detail
