// The order list of a work area over the engine's index files, its
// controlling order, the file extensions by table type, and index
// creation with the thread's stored conditions.
//
// Every function keeps the invariant of the work-area record: WA_ORDER is 0
// and WA_NAVHANDLE is WA_TABLE, or WA_NAVHANDLE is the ORD_HANDLE of order
// WA_ORDER. The engine holds no current order for the library: the focus
// only decides which handle navigation and seeks pass.
#include "current.h"

namespace qelxpp {

using namespace detail;

namespace {

// Makes order n current (0: natural order).
void Select(const xpp::Array& rec, int64_t n) {
    rec.Set(WA_NAVHANDLE, n == 0 ? rec.Get(WA_TABLE) : rec.Get(WA_ORDERS).Arr().Get(static_cast<size_t>(n)).Arr().Get(ORD_HANDLE));
    rec.Set(WA_ORDER, n);
}

// Reads the entry of engine order n: its handle, tag, key, condition, key
// length and type. False at the first failing call.
bool ReadOrder(ThreadRow& row, KIVHANDLE table, size_t n, xpp::Array& entry) {
    KIVHANDLE h = 0;
    if (KIV(row, KivGetIndexHandleByOrder, table, static_cast<uint16_t>(n), &h) != 0) return false;
    entry.Set(ORD_HANDLE, static_cast<int64_t>(h));
    std::string text;
    if (ReadText(row, 255, text, [&](char* b, uint32_t* l) { return KIV(row, KivGetIndexName, h, b, l); }) != 0)
        return false;
    entry.Set(ORD_TAG, text);
    if (ReadText(row, 255, text, [&](char* b, uint32_t* l) { return KIV(row, KivGetIndexExpr, h, b, l); }) != 0)
        return false;
    entry.Set(ORD_KEY, text);
    if (ReadText(row, 255, text, [&](char* b, uint32_t* l) { return KIV(row, KivGetIndexCondition, h, b, l); }) != 0)
        return false;
    entry.Set(ORD_FOR, text);
    uint16_t length = 0;
    if (KIV(row, KivGetKeyLength, h, &length) != 0) return false;
    entry.Set(ORD_KEYLEN, static_cast<int>(length));
    uint16_t type = length;
    if (KIV(row, KivGetKeyType, h, &type) != 0) return false;
    entry.Set(ORD_KEYTYPE, static_cast<int>(type));
    return true;
}

// Opens index file `name` and appends its orders to the list, the first
// of them current. A file the engine cannot open is reported; the new
// orders join the list only when every one of them was read, and a file
// that brings no order changes nothing.
bool OpenIndexFile(ThreadRow& row, const xpp::Array& rec, const std::string& name) {
    uint16_t count = 0;
    int64_t r = KIV(row, KivOpenIndex, TableOf(rec), name.c_str(), nullptr, &count);
    if (r != 0) {
        ReportFailure(r);
        return false;
    }
    if (count == 0) return false;
    xpp::Array orders = rec.Get(WA_ORDERS).Arr();
    std::vector<Value> fresh;
    for (size_t i = 1; i <= count; ++i) {
        xpp::Array entry(ORD_SIZE);
        if (!ReadOrder(row, TableOf(rec), orders.Len() + i, entry)) {
            ReportFailure(row.lastResult.Int());
            return false;
        }
        fresh.emplace_back(entry);
    }
    for (Value& entry : fresh) orders.Add(entry);
    Select(rec, 1);
    rec.Set(WA_INDEXFILE, name);
    return true;
}

int64_t TableTypeHere(ThreadRow& row) {
    xpp::Array rec;
    return CurrentRecord(row, rec) ? rec.Get(WA_TABLETYPE).Int() : State().nTableType.load();
}

}  // namespace

// Opens an index file into the order list. A CDX or KDI file takes the
// place of the one listed before; when it fails, the file before is opened
// again with its order current: the list stays as it was.
Value ORDLISTADD(const Value& cIndexFile, const Value& xOrder) {
    Entry e("_ORDLISTADD");
    if (!e.Ok()) return false;
    ThreadRow& row = e.Row();
    if (QelNotUsed(row, true, CurrentArea(row))) return false;
    xpp::Array rec;
    CurrentRecord(row, rec);
    const std::string name =
        cIndexFile.IsNil() ? rec.Get(WA_TABLENAME).Str() : xpp::AllTrim(xpp::Upper(cIndexFile.Str()));
    const Value before = rec.Get(WA_INDEXFILE);
    const bool replace = !before.IsNil() && rec.Get(WA_TABLETYPE).Int() != 1;
    const int64_t focus = rec.Get(WA_ORDER).Int();
    if (replace && !ORDLISTCLEAR().Log()) return false;
    if (!OpenIndexFile(row, rec, name)) {
        if (replace && OpenIndexFile(row, rec, before.Str()))
            Select(rec, std::min<int64_t>(focus, static_cast<int64_t>(rec.Get(WA_ORDERS).Arr().Len())));
        return false;
    }
    ORDSETFOCUS(xOrder);
    return true;
}

Value ORDLISTCLEAR() {
    Entry e("_ORDLISTCLEAR");
    if (!e.Ok()) return false;
    ThreadRow& row = e.Row();
    xpp::Array rec;
    if (!CurrentRecord(row, rec)) return true;
    int64_t r = KIV(row, KivCloseAllIndexes, TableOf(rec));
    if (r != 0) {
        ReportFailure(r);
        return false;
    }
    rec.Set(WA_ORDERS, xpp::Array());
    Select(rec, 0);
    rec.Set(WA_INDEXFILE, Value());
    return true;
}

Value ORDSETFOCUS(const Value& xOrder) {
    Entry e("_ORDSETFOCUS");
    if (!e.Ok()) return "";
    xpp::Array rec;
    if (!CurrentRecord(e.Row(), rec)) return "";
    xpp::Array orders = rec.Get(WA_ORDERS).Arr();
    if (orders.Len() == 0) return "";
    const int64_t current = rec.Get(WA_ORDER).Int();
    Value previous = current == 0 ? Value("") : orders.Get(static_cast<size_t>(current)).Arr().Get(ORD_TAG);
    int64_t n = -1;
    if (xOrder.IsNum()) {
        if (xOrder.Dbl() == static_cast<double>(xOrder.Int())) n = xOrder.Int();
    } else if (xOrder.IsChar()) {
        n = ORDNUMBER(xOrder).Int();
        if (n == 0) n = -1;
    }
    if (n >= 0 && static_cast<size_t>(n) <= orders.Len()) Select(rec, n);
    return previous;
}

// The tag of order n (NIL or 0: the current one); "" for anything else.
Value ORDNAME(const Value& nOrder) {
    Entry e("_ORDNAME");
    if (!e.Ok()) return "";
    xpp::Array rec;
    if (NoOrders(e.Row(), rec)) return "";
    if (!nOrder.IsNil() && !nOrder.IsNum()) return "";
    int64_t n = nOrder.IsNil() || nOrder.Int() == 0 ? rec.Get(WA_ORDER).Int() : nOrder.Int();
    xpp::Array orders = rec.Get(WA_ORDERS).Arr();
    if (n < 1 || static_cast<size_t>(n) > orders.Len()) return "";
    return orders.Get(static_cast<size_t>(n)).Arr().Get(ORD_TAG);
}

// The number of the order with tag cTag. The stored tag is compared as the
// engine gave it.
Value ORDNUMBER(const Value& cTag) {
    Entry e("_ORDNUMBER");
    if (!e.Ok()) return 0;
    xpp::Array rec;
    if (NoOrders(e.Row(), rec)) return 0;
    if (xpp::Empty(cTag)) return rec.Get(WA_ORDER);
    if (!cTag.IsChar()) return 0;
    const std::string wanted = xpp::Upper(xpp::AllTrim(cTag.Str()));
    xpp::Array orders = rec.Get(WA_ORDERS).Arr();
    for (size_t i = 1; i <= orders.Len(); ++i)
        if (orders.Get(i).Arr().Get(ORD_TAG).Str() == wanted) return i;
    return 0;
}

Value ORDBAGNAME() {
    Entry e("_ORDBAGNAME");
    if (!e.Ok()) return "";
    xpp::Array rec;
    if (!CurrentRecord(e.Row(), rec) || rec.Get(WA_INDEXFILE).IsNil()) return "";
    return rec.Get(WA_INDEXFILE);
}

Value ORDBAGEXT() {
    Entry e("_ORDBAGEXT");
    if (!e.Ok()) return ".CDX";
    int64_t type = TableTypeHere(e.Row());
    return type == 2 ? ".CDX" : type == 3 ? ".KDI" : ".NTX";
}

Value QELTABLEEXT() {
    Entry e("QELTABLEEXT");
    if (!e.Ok()) return ".DBF";
    return TableTypeHere(e.Row()) == 3 ? ".KDT" : ".DBF";
}

Value INDEXEXT() {
    xpp::Frame frame("_INDEXEXT", 0);
    return ORDBAGEXT();
}

// The key of the current order, whatever x says.
Value INDEXKEY(const Value&) {
    xpp::Frame frame("_INDEXKEY", 0);
    return ORDKEY();
}

Value INDEXORD() {
    xpp::Frame frame("_INDEXORD", 0);
    return ORDNUMBER();
}

// ------------------------------------------------------------ index creation

Value ORDCONDSET(const Value& cFor, const Value&, const Value&, const Value& cWhile, const Value&, const Value&,
                 const Value&, const Value&, const Value&, const Value&, const Value& lDescend) {
    Entry e("_ORDCONDSET");
    if (!e.Ok()) return {};
    e.Row().ordConditions = xpp::Array{lDescend.IsNil() ? Value(false) : lDescend, cFor.IsNil() ? Value("") : cFor,
                                       cWhile.IsNil() ? Value("") : cWhile};
    return {};
}

// Creates an order for the current area's table. The stored conditions go
// with the first call that reaches the engine; the new order does not join
// the order list.
Value ORDCREATE(const Value& cIndexFile, const Value& cTag, const Value& cKey, const Value&, const Value& lUnique) {
    Entry e("_ORDCREATE");
    if (!e.Ok()) return false;
    ThreadRow& row = e.Row();
    if (QelNotUsed(row, true, CurrentArea(row))) return false;
    xpp::Array rec;
    CurrentRecord(row, rec);
    const std::string file =
        cIndexFile.IsNil() ? rec.Get(WA_TABLENAME).Str() : xpp::AllTrim(xpp::Upper(cIndexFile.Str()));
    uint32_t options = 2;
    Value tag;  // NIL: no tag (a null text)
    if (cTag.IsNil()) {
        if (rec.Get(WA_TABLETYPE).Int() == 1)
            options = 0;
        else
            tag = "TAG" + NumText(static_cast<int64_t>(rec.Get(WA_ORDERS).Arr().Len()) + 1);
    } else {
        tag = xpp::AllTrim(xpp::Upper(cTag.Str()));
    }
    if (row.ordConditions.IsNil()) row.ordConditions = xpp::Array{Value(false), Value(""), Value("")};
    xpp::Array conditions = row.ordConditions.Arr();
    const Value descend = conditions.Get(OC_DESCEND), forText = conditions.Get(OC_FOR),
                whileText = conditions.Get(OC_WHILE);
    if (descend.IsLogical() && descend.Log()) options += 8;
    if (lUnique.IsLogical() && lUnique.Log()) options += 1;
    KIVHANDLE h = 0;
    int64_t r = KIV(row, KivCreateIndex, TableOf(rec), file.c_str(), CText(tag), CText(cKey), CText(forText),
                    CText(whileText), options, &h);
    row.ordConditions = xpp::Array{Value(false), Value(""), Value("")};
    if (r != 0) {
        ReportFailure(r);
        return false;
    }
    return {};
}

}  // namespace qelxpp
