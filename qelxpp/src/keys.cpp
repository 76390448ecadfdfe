// Keys of the controlling order: its expression, condition and length, key
// positions, the key value of the current record, and seeking.
#include "current.h"

namespace qelxpp {

using namespace detail;

namespace {

// Element `element` of the current order's entry, or `none` in natural
// order and on a free area.
Value CurrentOrderElement(ThreadRow& row, int element, Value none) {
    xpp::Array rec;
    if (!CurrentRecord(row, rec)) return none;
    int64_t n = rec.Get(WA_ORDER).Int();
    if (n <= 0) return none;
    return rec.Get(WA_ORDERS).Arr().Get(static_cast<size_t>(n)).Arr().Get(element);
}

// KivGetKeyNum and KivGetKeyCount: neither recorded nor reported.
template <class Call>
Value KeyPosition(std::string_view procName, Call&& call) {
    Entry e(procName);
    if (!e.Ok()) return 0;
    xpp::Array rec;
    if (!CurrentRecord(e.Row(), rec)) return 0;
    uint32_t n = 0;
    call(e.Row(), NavOf(rec), &n);
    return n;
}

// The key text of a seek by the value's type. Dates are "YYYYMMDD", the
// form of the engine's date keys.
std::string SeekText(const Value& x) {
    if (x.IsChar()) return x.Str();
    if (x.IsNum()) return xpp::Str(x);
    if (x.IsLogical()) return x.Log() ? "T" : "F";
    if (x.IsDate()) return xpp::DToS(x.Dat());
    return "";
}

}  // namespace

Value ORDKEY() {
    Entry e("_ORDKEY");
    if (!e.Ok()) return "";
    return CurrentOrderElement(e.Row(), ORD_KEY, "");
}

Value ORDFOR() {
    Entry e("_ORDFOR");
    if (!e.Ok()) return "";
    return CurrentOrderElement(e.Row(), ORD_FOR, "");
}

Value ORDKEYLENGTH() {
    Entry e("_ORDKEYLENGTH");
    if (!e.Ok()) return 0;
    return CurrentOrderElement(e.Row(), ORD_KEYLEN, 0);
}

Value ORDKEYNO() {
    return KeyPosition("_ORDKEYNO", [](ThreadRow& row, KIVHANDLE nav, uint32_t* n) {
        KIV_UNRECORDED(row, KivGetKeyNum, nav, uint16_t{2}, n);
    });
}

Value ORDKEYCOUNT() {
    return KeyPosition("_ORDKEYCOUNT", [](ThreadRow& row, KIVHANDLE nav, uint32_t* n) {
        KIV_UNRECORDED(row, KivGetKeyCount, nav, uint16_t{2}, n);
    });
}

// The key value of the current record: NIL on a free area, in natural
// order, at end of file and when the engine cannot give it.
Value ORDKEYVAL() {
    Entry e("_ORDKEYVAL");
    if (!e.Ok()) return {};
    ThreadRow& row = e.Row();
    xpp::Array rec;
    if (!CurrentRecord(row, rec) || rec.Get(WA_ORDER).Int() == 0 || EOF_().Log()) return {};
    xpp::Array entry = rec.Get(WA_ORDERS).Arr().Get(static_cast<size_t>(rec.Get(WA_ORDER).Int())).Arr();
    const int64_t type = entry.Get(ORD_KEYTYPE).Int();
    const std::string key = entry.Get(ORD_KEY).Str();
    if (type == KIV_KEY_NUMERIC) {
        // The key is read as a field name; an expression names no field.
        Value pos = FIELDPOS(key);
        return pos.Int() > 0 ? FIELDGET(pos) : Value();
    }
    std::string text;
    int64_t r = type == KIV_KEY_DATE
                    ? ReadText(row, 255, text,
                               [&](char* b, uint32_t* l) { return KIV(row, KivEvalStringExpr, TableOf(rec), key.c_str(), b, l); })
                    : ReadText(row, 255, text, [&](char* b, uint32_t* l) { return KIV(row, KivExtractKey, NavOf(rec), b, l); });
    if (r != 0) return {};
    if (type == KIV_KEY_LOGICAL) return xpp::Left(text, 1) == "T";
    if (type == KIV_KEY_DATE) return xpp::SToD(text);
    return text;
}

Value DBSEEK(const Value& xKey, const Value& lSoftSeek, const Value& lLast) {
    Entry e("_DBSEEK");
    if (!e.Ok()) return false;
    ThreadRow& row = e.Row();
    xpp::Array rec;
    if (NoOrders(row, rec)) return false;
    if (rec.Get(WA_ORDER).Int() == 0) {
        QELSHOWERROR(-999, "Can't do SEEK (order is set to 0)");
        return false;
    }
    const std::string key = SeekText(xKey);
    const auto len = static_cast<uint32_t>(key.size());
    uint16_t found = 0;
    int64_t r = LeaveRow(row, rec);
    if (r == 0)
        r = lLast.IsLogical() && lLast.Log()
                    ? KIV(row, KivSeekLast, NavOf(rec), key.data(), len, uint16_t{2}, &found)
                    : KIV(row, KivSeek, NavOf(rec), key.data(), len, uint16_t{2},
                          static_cast<uint16_t>(lSoftSeek.IsLogical() && lSoftSeek.Log() ? 1 : 2), &found);
    if (r != 0) {
        ReportFailure(r);
        return false;
    }
    return found != 0;
}

}  // namespace qelxpp
