// Filters, locate and continue, and relations of the current work area.
// The engine filters and searches on the expression text the program hands
// over, unchanged; no code block is evaluated here. A condition that is not
// character reaches the engine as no text, which it refuses (5004).
#include "current.h"

namespace qelxpp {

using namespace detail;

// Only the text goes to the engine; the block is the program's.
Value DBSETFILTER(const Value&, const Value& cCondition) {
    return Action("_DBSETFILTER", InUse::Reported, false, [&](ThreadRow& row, const xpp::Array& rec) {
        return KIV(row, KivSetFilter, TableOf(rec), CText(cCondition));
    });
}

Value DBCLEARFILTER() {
    return Action("_DBCLEARFILTER", InUse::Silent, false,
                  [](ThreadRow& row, const xpp::Array& rec) { return KIV(row, KivClearFilter, TableOf(rec)); });
}

// The engine's filter text, at most 255 characters; "" when there is none,
// on any failure (never reported) and in a free area.
Value DBFILTER() {
    Entry e("_DBFILTER");
    if (!e.Ok()) return "";
    ThreadRow& row = e.Row();
    xpp::Array rec;
    if (!CurrentRecord(row, rec)) return "";
    std::string text;
    ReadText(row, 255, text, [&](char* b, uint32_t* l) { return KIV(row, KivGetFilter, TableOf(rec), b, l); });
    return text;
}

// Searches from the top of the current order for the first record that
// meets the condition text.
Value DBLOCATE(const Value& cCondition, const Value&, const Value&, const Value&, const Value&) {
    return Flag("_DBLOCATE", InUse::Reported, false, false, [&](ThreadRow& row, KIVHANDLE h, uint16_t* found) {
        if (const int64_t w = LeaveCurrentRow(row)) return w;
        return KIV(row, KivLocate, h, CText(cCondition), uint16_t{1}, found);
    });
}

Value DBCONTINUE() {
    return Flag("_DBCONTINUE", InUse::Reported, false, false,
                [](ThreadRow& row, KIVHANDLE h, uint16_t* found) {
                    if (const int64_t w = LeaveCurrentRow(row)) return w;
                    return KIV(row, KivContinue, h, found);
                });
}

// Relations between work areas are not kept: there is never one to tell.
Value DBRELATION(const Value&) {
    xpp::Frame frame("_DBRELATION", 0);
    return "";
}

Value DBCLEARRELATION() {
    return Action("_DBCLEARRELATION", InUse::Silent, true,
                  [](ThreadRow& row, const xpp::Array& rec) { return KIV(row, KivClearRelation, TableOf(rec)); });
}

}  // namespace qelxpp
