// Where the record pointer of the current work area stands: the record
// number, the ends of the file, the found flag of the last seek or locate,
// the record count and length, and the position in percent.
//
// Record-level questions go to the table handle (WA_TABLE); counts and
// positions follow the controlling order (WA_NAVHANDLE).
#include "current.h"

namespace qelxpp {

using namespace detail;

namespace detail {

Value PositionOf(ThreadRow& row, const xpp::Array& rec) {
    uint32_t keyNum = 0, keyCount = 0;
    KIV_UNRECORDED(row, KivGetKeyNum, NavOf(rec), uint16_t{2}, &keyNum);
    KIV_UNRECORDED(row, KivGetKeyCount, NavOf(rec), uint16_t{2}, &keyCount);
    if (keyCount == 0) return 0;
    return xpp::Divide(Value(static_cast<int64_t>(keyNum) * 100), Value(static_cast<int64_t>(keyCount)));
}

}  // namespace detail

Value BOF() {
    return Flag("_BOF", InUse::Silent, true, true,
                [](ThreadRow& row, KIVHANDLE h, uint16_t* f) { return KIV(row, KivAtBOF, h, f); });
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
    return Flag("_FOUND", InUse::Reported, false, false,
                [](ThreadRow& row, KIVHANDLE h, uint16_t* f) { return KIV(row, KivIsFound, h, f); });
}

Value RECNO() {
    return OnCurrentArea("_RECNO", InUse::Silent, 0, 0, [](ThreadRow& row, const xpp::Array& rec, Value& result) {
        uint32_t n = 0;
        int64_t r = KIV(row, KivGetRecordNum, TableOf(rec), uint16_t{2}, &n);
        result = static_cast<int64_t>(n);
        return r;
    });
}

// Asked of the engine each time.
Value RECSIZE() {
    return OnCurrentArea("_RECSIZE", InUse::Silent, 0, 0, [](ThreadRow& row, const xpp::Array& rec, Value& result) {
        uint32_t n = 0;
        int64_t r = KIV(row, KivGetRecordLength, TableOf(rec), &n);
        result = static_cast<int64_t>(n);
        return r;
    });
}

Value LASTREC() {
    return OnCurrentArea("_LASTREC", InUse::None, 0, 0, [](ThreadRow& row, const xpp::Array& rec, Value& result) {
        uint32_t n = 0;
        int64_t r = KIV(row, KivGetRecordCount, NavOf(rec), uint16_t{2}, &n);
        result = static_cast<int64_t>(n);
        return r;
    });
}

Value RECCOUNT() {
    xpp::Frame frame("_RECCOUNT", 0);
    return LASTREC();
}

// Key number * 100 / key count, unrounded; 0 when no key is counted.
Value DBPOSITION() {
    Entry e("_DBPOSITION");
    if (!e.Ok()) return 0;
    xpp::Array rec;
    if (!RecordOrError(e.Row(), rec)) return 0;
    return PositionOf(e.Row(), rec);
}

}  // namespace qelxpp
