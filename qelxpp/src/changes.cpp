// Record changes: append, delete, recall and unlock, and the row change
// each work area owes the replication. A change to the current row is
// remembered as its pending kind (WA_PENDING: 1 delete, 2 update, 3 insert)
// and sent when the program leaves the row by an append, releases its locks
// or closes the table.
#include "current.h"

namespace qelxpp {

using namespace detail;

namespace detail {

// The row sent is the record current now: RECNO() in the calling thread's
// own row. The end of a thread may close another thread's areas (the
// program's end run elsewhere): the number is then read without a report.
// Only what the engine has stored is sent: a change it refused to write
// (another handle holds the record) stays pending in its buffer. Without a
// current record there is no row to update or insert; a deleted record has
// no row: a change to it goes out as its deletion.
int64_t FlushPending(ThreadRow& row, const xpp::Array& rec, bool clear, bool written) {
    if (!rec.Get(WA_REPLICATE).Log() || rec.Get(WA_PENDING).Int() == 0) return 0;
    const KIVHANDLE table = TableOf(rec);
    if (!written) {
        const int64_t r = KIV(row, KivWriteRecord, table);
        if (r != 0) return r;
    }
    int64_t kind = rec.Get(WA_PENDING).Int();
    uint16_t atEnd = 0, deleted = 0;
    const bool noRecord = (kind == 2 || kind == 3) &&
                          (KIV_UNRECORDED(row, KivAtEOF, table, &atEnd) != 0 || atEnd != 0);
    if (!noRecord && kind != 1 && KIV_UNRECORDED(row, KivIsRecordDeleted, table, &deleted) == 0 && deleted != 0)
        kind = 1;
    if (!noRecord) {
        int64_t recNo = 0;
        if (IsOwnRow(row)) {
            recNo = RECNO().Int();
        } else {
            uint32_t n = 0;
            if (KIV_UNRECORDED(row, KivGetRecordNum, table, uint16_t{2}, &n) == 0) recNo = n;
        }
        REPLICATEROW(row, kind, rec.Get(WA_TABLENAME), recNo);
    }
    if (clear) rec.Set(WA_PENDING, 0);
    return 0;
}

}  // namespace detail

namespace {

// DBDELETE and DBRECALL: one engine call on the current record; the kind
// stored after it succeeded.
template <class Call>
Value MarkRecord(std::string_view procName, int kind, Call&& call) {
    Entry e(procName);
    if (!e.Ok()) return false;
    ThreadRow& row = e.Row();
    if (QelNotUsed(row, true, CurrentArea(row))) return false;
    xpp::Array rec;
    CurrentRecord(row, rec);
    int64_t r = call(row, TableOf(rec));
    if (r != 0) {
        ReportFailure(r);
        return false;
    }
    rec.Set(WA_PENDING, kind);
    return true;
}

}  // namespace

// A failed append sets NETERR() and keeps the kind of the row left; a row
// left that the engine refuses to write is reported and nothing appended.
Value DBAPPEND() {
    Entry e("_DBAPPEND");
    if (!e.Ok()) return false;
    ThreadRow& row = e.Row();
    if (QelNotUsed(row, true, CurrentArea(row))) {
        xpp::NetErr(true);
        return false;
    }
    xpp::Array rec;
    CurrentRecord(row, rec);
    int64_t r = FlushPending(row, rec, false);
    if (r == 0) r = KIV(row, KivAppendRecord, TableOf(rec));
    if (r != 0) {
        ReportFailure(r);
        xpp::NetErr(true);
        return false;
    }
    rec.Set(WA_PENDING, 3);
    return true;
}

Value DBDELETE() {
    return MarkRecord("_DBDELETE", 1, [](ThreadRow& row, KIVHANDLE h) { return KIV(row, KivDeleteRecord, h); });
}

Value DBRECALL() {
    return MarkRecord("_DBRECALL", 3, [](ThreadRow& row, KIVHANDLE h) { return KIV(row, KivRecallRecord, h); });
}

// Releases every lock of the area's table; an exclusive table has none to
// release, its record is written. The engine's 5087 and 9008 count as
// released. The unlock writes the buffered record first: a refusal (another
// handle holds the record) is reported, gives .F. and sends nothing; the
// change stays pending. The unlock's answer stays the last result, whatever
// the flush asked.
Value DBUNLOCK() {
    Entry e("_DBUNLOCK");
    if (!e.Ok()) return false;
    ThreadRow& row = e.Row();
    xpp::Array rec;
    if (!CurrentRecord(row, rec)) return false;
    if (rec.Get(WA_EXCLUSIVE).Log()) {
        const int64_t r = FlushPending(row, rec, true);
        if (r != 0) ReportFailure(r);
        return r == 0;
    }
    int64_t r = KIV(row, KivUnlockTable, TableOf(rec));
    if (r != 0 && r != 5087 && r != 9008) {
        ReportFailure(r);
        return false;
    }
    FlushPending(row, rec, true, true);
    row.lastResult = r;
    return true;
}

}  // namespace qelxpp
