// Moving the record pointer of the current work area: top, bottom, a
// record number, skips, and the two loops built from single skips.
//
// Top, bottom and skips follow the controlling order (WA_NAVHANDLE);
// DBGOTO addresses the physical record (WA_TABLE).
#include <algorithm>
#include <cmath>
#include <limits>

#include "current.h"

namespace qelxpp {

using namespace detail;

namespace {

// A numeric argument the function cannot do without: anything else raises
// the runtime's argument error (no engine call) and gives false.
bool NumberArgument(std::string_view function, const Value& n) {
    if (n.IsNum()) return true;
    xpp::RuntimeError(xpp::EG_ARG, 1001, std::string(function), xpp::Array{n});
    return false;
}

int32_t SkipCount(const Value& n) {
    const double d = std::clamp(n.Dbl(), static_cast<double>(std::numeric_limits<int32_t>::min()),
                                static_cast<double>(std::numeric_limits<int32_t>::max()));
    return static_cast<int32_t>(d);
}

// One record forward (1) or back (-1), nothing recorded or reported. A step
// that reaches the end (the beginning) of the file, or that the engine
// refuses, goes to the bottom (top) record instead and gives false.
bool Step(ThreadRow& row, const xpp::Array& rec, int32_t direction) {
    uint16_t end = 0;
    const bool forward = direction > 0;
    const bool atEnd = KIV_UNRECORDED(row, KivSkip, NavOf(rec), direction) != 0 ||
                       (forward ? KIV_UNRECORDED(row, KivAtEOF, TableOf(rec), &end)
                                : KIV_UNRECORDED(row, KivAtBOF, TableOf(rec), &end)) != 0 ||
                       end != 0;
    if (!atEnd) return true;
    if (forward)
        KIV_UNRECORDED(row, KivGotoBottom, NavOf(rec));
    else
        KIV_UNRECORDED(row, KivGotoTop, NavOf(rec));
    return false;
}

}  // namespace

Value DBGOTOP() {
    return Action("_DBGOTOP", InUse::Reported, false,
                [](ThreadRow& row, const xpp::Array& rec) {
                    if (const int64_t w = LeaveRow(row, rec)) return w;
                    return KIV(row, KivGotoTop, NavOf(rec));
                });
}

Value DBGOBOTTOM() {
    return Action("_DBGOBOTTOM", InUse::Reported, false,
                [](ThreadRow& row, const xpp::Array& rec) {
                    if (const int64_t w = LeaveRow(row, rec)) return w;
                    return KIV(row, KivGotoBottom, NavOf(rec));
                });
}

// A number outside 1 .. LASTREC() leaves the pointer at end of file, and
// the engine's refusal is reported. A number the engine cannot hold is no
// record either: it is asked for record 0, which never exists.
Value DBGOTO(const Value& nRecord) {
    return Action("_DBGOTO", InUse::Reported, false, [&](ThreadRow& row, const xpp::Array& rec) -> int64_t {
        if (!NumberArgument("DBGOTO", nRecord)) return kRaised;
        if (const int64_t w = LeaveRow(row, rec)) return w;
        return KIV(row, KivGotoRecord, TableOf(rec), RecordNumberOf(nRecord));
    });
}

Value DBSKIP(const Value& nSkip) {
    return Action("_DBSKIP", InUse::None, false, [&](ThreadRow& row, const xpp::Array& rec) -> int64_t {
        if (!nSkip.IsNil() && !NumberArgument("DBSKIP", nSkip)) return kRaised;
        if (const int64_t w = LeaveRow(row, rec)) return w;
        return KIV(row, KivSkip, NavOf(rec), nSkip.IsNil() ? int32_t{1} : SkipCount(nSkip));
    });
}

// Skips record by record and answers how many records it moved (negative
// backwards). A step that hits an end is not counted: the pointer stands on
// the bottom (top) record.
Value DBSKIPPER(const Value& nRecords) {
    Entry e("_DBSKIPPER");
    if (!e.Ok()) return 0;
    ThreadRow& row = e.Row();
    xpp::Array rec;
    if (!RecordOrError(row, rec) || !NumberArgument("DBSKIPPER", nRecords)) return 0;
    if (const int64_t w = LeaveRow(row, rec)) {
        ReportFailure(w);
        return 0;
    }
    const double wanted = nRecords.Dbl();
    int64_t skipped = 0;
    if (wanted == 0) {
        KIV_UNRECORDED(row, KivSkip, NavOf(rec), int32_t{0});
    } else if (wanted > 0) {
        while (skipped < wanted && Step(row, rec, 1)) ++skipped;
    } else {
        while (skipped > wanted && Step(row, rec, -1)) --skipped;
    }
    return skipped;
}

// Moves until the position is within 10 points of nPercent, one record at
// a time from the current one; above 90 and below 10 it jumps to the bottom
// or top. Always .T. once it has run.
Value DBGOPOSITION(const Value& nPercent) {
    Entry e("_DBGOPOSITION");
    if (!e.Ok()) return false;
    ThreadRow& row = e.Row();
    xpp::Array rec;
    if (!RecordOrError(row, rec) || !NumberArgument("DBGOPOSITION", nPercent)) return false;
    if (const int64_t w = LeaveRow(row, rec)) {
        ReportFailure(w);
        return false;
    }
    const double wanted = nPercent.Dbl();
    if (wanted > 90) {
        KIV_UNRECORDED(row, KivGotoBottom, NavOf(rec));
        return true;
    }
    if (wanted < 10) {
        KIV_UNRECORDED(row, KivGotoTop, NavOf(rec));
        return true;
    }
    auto position = [&] { return PositionOf(row, rec).Dbl(); };
    const double current = position();
    if (std::abs(wanted - current) < 10) return true;
    if (wanted > current) {
        while (wanted > position() + 10)
            if (!Step(row, rec, 1)) return true;
    } else {
        while (wanted < position() - 10)
            if (!Step(row, rec, -1)) return true;
    }
    return true;
}

Value DBREQUEST(const Value& xArea, const Value&, const Value&, const Value&) {
    xpp::Frame frame("_DBREQUEST", 0);
    return DBSELECTAREA(xArea);
}

Value DBRELEASE(const Value& xArea, const Value&) {
    xpp::Frame frame("_DBRELEASE", 0);
    return DBSELECTAREA(xArea);
}

}  // namespace qelxpp
