// Engine connections, transactions and the default table type.
#include "state.h"

namespace qelxpp {

using namespace detail;

namespace {
Value DrivePath(const Value& cPath) { return cPath.IsNil() ? Value(xpp::CurDrive() + ":") : cPath; }

KIVHANDLE HandleOr(const Value& nHandle) {
    return static_cast<KIVHANDLE>((nHandle.IsNil() ? QELFINDCONNECTION() : nHandle).Int());
}
}  // namespace

namespace detail {
int64_t Connect(ThreadRow& row, const Value& cPath, KIVHANDLE& h) {
    Value path = DrivePath(cPath);
    return KIV(row, KivConnect, CText(path), &h);
}
}  // namespace detail

Value QELCONNECT(const Value& cPath) {
    Entry e("QELCONNECT");
    if (!e.Ok()) return -1;
    KIVHANDLE h = 0;
    int64_t r = Connect(e.Row(), cPath, h);
    if (r != 0) {
        ReportFailure(r);
        return -1;
    }
    return static_cast<int64_t>(h);
}

Value QELFINDCONNECTION(const Value& cPath) {
    Entry e("QELFINDCONNECTION");
    if (!e.Ok()) return 0;
    if (cPath.IsNil() && !e.Row().connHandle.IsNil()) return e.Row().connHandle;
    Value path = DrivePath(cPath);
    KIVHANDLE h = 0;
    KIV_UNRECORDED(e.Row(), KivFindConnection, CText(path), &h);
    return static_cast<int64_t>(h);
}

Value QELDISCONNECT(const Value& nHandle) {
    Entry e("QELDISCONNECT");
    if (!e.Ok()) return {};
    DBCLOSEALL();
    KIVHANDLE h = HandleOr(nHandle);
    KIV_UNRECORDED(e.Row(), KivDisconnect, h);
    e.Row().connHandle = Value();
    return {};
}

// Transactions record the engine's answer and return .F. when it refused,
// without a report.
Value QELBEGINTRANSACTION(const Value& nHandle) {
    Entry e("QELBEGINTRANSACTION");
    if (!e.Ok()) return false;
    return KIV(e.Row(), KivBeginTransaction, HandleOr(nHandle)) == 0;
}

Value QELCOMMITTRANSACTION(const Value& nHandle) {
    Entry e("QELCOMMITTRANSACTION");
    if (!e.Ok()) return false;
    return KIV(e.Row(), KivCommitTransaction, HandleOr(nHandle)) == 0;
}

Value QELROLLBACKTRANSACTION(const Value& nHandle) {
    Entry e("QELROLLBACKTRANSACTION");
    if (!e.Ok()) return false;
    return KIV(e.Row(), KivRollbackTransaction, HandleOr(nHandle)) == 0;
}

Value QELINTRANSACTION(const Value& nHandle) {
    Entry e("QELINTRANSACTION");
    if (!e.Ok()) return false;
    uint16_t flag = 0;
    KIV(e.Row(), KivInTransaction, HandleOr(nHandle), &flag);
    return flag == 1;
}

// A thread the library does not serve is refused, and the setting stays.
Value QELSETTABLETYPE(const Value& xType) {
    xpp::Frame frame("QELSETTABLETYPE", 0);
    ModuleState& s = State();
    if (!CheckedRow()) return s.nTableType.load();
    if (xType.IsNum()) {
        s.nTableType = xType.Int();
    } else if (xType.IsChar()) {
        const std::string& t = xType.Str();
        s.nTableType = t.find("CDX") != std::string::npos ? 2 : t.find("NTX") != std::string::npos ? 1 : 3;
    }
    return s.nTableType.load();
}

Value QELCONVERTTABLE(const Value& nTypeIn) {
    Entry e("QELCONVERTTABLE");
    if (!e.Ok()) return false;
    int64_t nType = nTypeIn.IsNil() ? 3 : nTypeIn.Int();
    ThreadRow& row = e.Row();
    int area = CurrentArea(row);
    if (QelNotUsed(row, true, area)) return false;
    xpp::Array r = row.areas[area - 1].Arr();
    if (r.Get(WA_TABLETYPE).Int() == nType) return true;
    std::string name = r.Get(WA_TABLENAME).Str();
    int64_t result = KIV(row, KivConvertTable, static_cast<KIVHANDLE>(r.Get(WA_TABLE).Int()), uint16_t{1},
                         name.c_str(), static_cast<uint16_t>(nType));
    if (result != 0) {
        ReportFailure(result);
        return false;
    }
    return true;
}

Value QELDBOPEN(const Value& aListIn) {
    xpp::Frame frame("QELDBOPEN", 0);
    ThreadRow* own = CheckedRow();
    if (!own) return false;
    if (!aListIn.IsNil() && !aListIn.IsArray()) {
        xpp::RuntimeError(xpp::EG_ARG, 1001, "QELDBOPEN", xpp::Array{aListIn});
        return false;
    }
    ModuleState& s = State();
    for (bool expected = false; !s.lDbOpenBusy.compare_exchange_strong(expected, true); expected = false)
        xpp::Sleep(100);
    // The flag is cleared on every exit, a non-local one from an error block included.
    struct Clear {
        std::atomic<bool>& flag;
        ~Clear() { flag = false; }
    } clear{s.lDbOpenBusy};
    {
        std::lock_guard<std::recursive_mutex> g(own->lock);
        KIV_UNRECORDED(*own, KivSetDateFormat, "YYYYMMDD");
    }
    xpp::Array list;
    if (aListIn.IsNil()) {
        std::lock_guard<std::recursive_mutex> g(s.rows[0].lock);
        for (const Value& slot : s.rows[0].areas)
            if (!slot.IsNil()) list.Add(xpp::Array{slot.Arr().Get(WA_FILE), slot.Arr().Get(WA_ALIAS)});
    } else {
        list = aListIn.Arr();
    }
    for (const Value& x : list.Items()) {
        Value file = x.IsArray() ? x.Arr().Get(1) : x;
        Value alias = x.IsArray() ? x.Arr().Get(2) : x;
        if (!DBUSEAREA(true, Value(), file, alias, true, false, true).Log()) return false;
    }
    return true;
}

Value DBCLOSEAREA() {
    Entry e("_DBCLOSEAREA");
    if (!e.Ok()) return false;
    return CloseArea(e.Row(), CurrentArea(e.Row()));
}

Value DBCLOSEALL() {
    Entry e("_DBCLOSEALL");
    if (!e.Ok()) return {};
    CloseAllAreas(e.Row());
    return {};
}

namespace detail {

// A record the engine refuses to write is dropped by the close: the change
// is in neither the table nor the replica, and the close says so.
bool CloseArea(ThreadRow& row, int area) {
    if (area < 1 || area > kMaxAreas) return true;
    Value& slot = row.areas[area - 1];
    if (slot.IsNil()) return true;
    xpp::Array r = slot.Arr();
    const int64_t written = FlushPending(row, r, false);
    const int64_t closed = KIV(row, KivCloseTable, static_cast<KIVHANDLE>(r.Get(WA_TABLE).Int()));
    slot = Value();
    const int64_t failed = written != 0 ? written : closed;
    if (failed == 0) return true;
    row.lastResult = failed;
    if (IsOwnRow(row)) ReportFailure(failed);
    return false;
}

void CloseAllAreas(ThreadRow& row) {
    for (int i = 1; i <= kMaxAreas; ++i) {
        row.currentArea = i;
        CloseArea(row, i);
    }
    row.currentArea = 1;
    row.lastResult = 0;
}

}  // namespace detail

}  // namespace qelxpp
