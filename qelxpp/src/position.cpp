// Where the record pointer of the current work area stands: the record
// number, end of file and the found flag of the last seek.
#include "current.h"

namespace qelxpp {

using namespace detail;

Value RECNO() {
    Entry e("_RECNO");
    if (!e.Ok()) return 0;
    ThreadRow& row = e.Row();
    xpp::Array rec;
    if (!CurrentRecord(row, rec)) return 0;
    uint32_t n = 0;
    int64_t r = KIV(row, KivGetRecordNum, TableOf(rec), uint16_t{2}, &n);
    if (r != 0) {
        ReportFailure(r);
        return 0;
    }
    return n;
}

// A failing engine answers end of file, so that loops up to the end stop;
// nothing is reported.
Value EOF_() {
    Entry e("_EOF");
    if (!e.Ok()) return true;
    ThreadRow& row = e.Row();
    xpp::Array rec;
    if (!CurrentRecord(row, rec)) return true;
    uint16_t eof = 0;
    if (KIV(row, KivAtEOF, TableOf(rec), &eof) != 0) return true;
    return eof != 0;
}

Value FOUND() {
    Entry e("_FOUND");
    if (!e.Ok()) return false;
    ThreadRow& row = e.Row();
    if (QelNotUsed(row, true, CurrentArea(row))) return false;
    xpp::Array rec;
    CurrentRecord(row, rec);
    uint16_t found = 0;
    int64_t r = KIV(row, KivIsFound, TableOf(rec), &found);
    if (r != 0) {
        ReportFailure(r);
        return false;
    }
    return found != 0;
}

}  // namespace qelxpp
