// Locks, commits, pack, the older index functions and the structure of the
// current work area. The engine holds the locks per table handle; the one
// rule kept here is that a table opened exclusive counts as locked.
#include "current.h"

namespace qelxpp {

using namespace detail;

namespace {

// A lock on the current area's table: .T. on an exclusive table without an
// engine call; a refusal gives .F. without a report, its code recorded.
template <class Call>
Value Lock(std::string_view procName, InUse test, Call&& call) {
    Entry e(procName);
    if (!e.Ok()) return false;
    ThreadRow& row = e.Row();
    xpp::Array rec;
    if (test == InUse::Reported && QelNotUsed(row, true, CurrentArea(row))) return false;
    if (!CurrentRecord(row, rec)) return false;
    if (rec.Get(WA_EXCLUSIVE).Log()) return true;
    return call(row, TableOf(rec)) == 0;
}

}  // namespace

Value FLOCK() {
    return Lock("_FLOCK", InUse::Reported, [](ThreadRow& row, KIVHANDLE h) { return KIV(row, KivLockTable, h); });
}

// NIL asks for the current record (0). A record number that is not a
// number raises the runtime's argument error and locks nothing; one the
// engine cannot hold is no record: .F. without a report.
Value DBRLOCK(const Value& nRecord) {
    return Lock("_DBRLOCK", InUse::Silent, [&](ThreadRow& row, KIVHANDLE h) -> int64_t {
        if (!nRecord.IsNil() && !nRecord.IsNum()) {
            xpp::RuntimeError(xpp::EG_ARG, 1001, "DBRLOCK", xpp::Array{nRecord});
            return kRaised;
        }
        if (nRecord.IsNil() || nRecord.Int() == 0) return KIV(row, KivLockRecord, h, uint32_t{0});
        const uint32_t n = RecordNumberOf(nRecord);
        if (n == 0) {
            row.lastResult = static_cast<int64_t>(KIV_ERR_NO_SUCH_RECORD);
            return row.lastResult.Int();
        }
        return KIV(row, KivLockRecord, h, n);
    });
}

Value RLOCK() {
    xpp::Frame frame("_RLOCK", 0);
    return DBRLOCK(0);
}

// Releases the whole table, whatever the argument.
Value DBRUNLOCK(const Value&) {
    xpp::Frame frame("_DBRUNLOCK", 0);
    return DBUNLOCK();
}

// DBUNLOCK in every shared area of the thread, in slot order; exclusive
// areas are passed by. The current area is the one before.
Value DBUNLOCKALL() {
    Entry e("_DBUNLOCKALL");
    if (!e.Ok()) return false;
    ThreadRow& row = e.Row();
    const Value saved = row.currentArea;
    for (int i = 1; i <= kMaxAreas; ++i) {
        const Value& slot = row.areas[i - 1];
        if (slot.IsNil() || slot.Arr().Get(WA_EXCLUSIVE).Log()) continue;
        row.currentArea = i;
        DBUNLOCK();
    }
    row.currentArea = saved;
    return true;
}

// Writes the current record; a free area has nothing to write.
Value DBCOMMIT() {
    return Action("_DBCOMMIT", InUse::Silent, true,
                  [](ThreadRow& row, const xpp::Array& rec) { return KIV(row, KivWriteRecord, TableOf(rec)); });
}

// Writes the records of every table the thread has open.
Value DBCOMMITALL() {
    Entry e("_DBCOMMITALL");
    if (!e.Ok()) return false;
    int64_t r = KIV(e.Row(), KivWriteAllRecords);
    if (r != 0) {
        ReportFailure(r);
        return false;
    }
    return true;
}

// Removes the deleted records; the engine packs only a table opened
// exclusive. Packing numbers the records anew: a replicated table's rows
// are sent again whole under their new numbers.
Value DBPACK() {
    return Action("_DBPACK", InUse::Reported, false, [](ThreadRow& row, const xpp::Array& rec) {
        if (const int64_t w = LeaveRow(row, rec)) return w;
        int64_t r = KIV(row, KivPackTable, TableOf(rec));
        if (r == 0) {
            SendRecords(row, rec, 1, true);
            row.lastResult = r;
        }
        return r;
    });
}

Value DBSETINDEX(const Value& cIndexFile) {
    xpp::Frame frame("_DBSETINDEX", 0);
    return ORDLISTADD(cIndexFile);
}

Value DBCLEARINDEX() {
    xpp::Frame frame("_DBCLEARINDEX", 0);
    return ORDLISTCLEAR();
}

// A copy of the structure rows (name, type, length, decimals, position,
// engine type), which the caller may change freely.
Value DBSTRUCT() {
    Entry e("_DBSTRUCT");
    if (!e.Ok()) return xpp::Array();
    xpp::Array rec;
    if (!CurrentRecord(e.Row(), rec)) return xpp::Array();
    return xpp::AClone(rec.Get(WA_STRUCT).Arr());
}

}  // namespace qelxpp
