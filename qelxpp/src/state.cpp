// Module state, the engine binding, loading and unloading, and the small
// engine queries.
#include "state.h"

#include <cstring>

#include "qelxpp/testing.h"

namespace qelxpp::detail {

namespace {

const char* const kEntryNames[kEngineCalls + 1] = {
    "",
#define QELXPP_NAME(name) #name,
    QELXPP_ENGINE_CALLS(QELXPP_NAME)
#undef QELXPP_NAME
};

std::unique_ptr<ModuleState>& Holder() {
    static std::unique_ptr<ModuleState> state = std::make_unique<ModuleState>();
    return state;
}

// The collation table of the runtime's SET(41) by engine language.
int CollationOf(const std::string& lang) {
    static const struct {
        const char* name;
        int value;
    } table[] = {{"USA", 2},       {"DANISH", 5},    {"DUTCH", 15},    {"FINNISH", 3},
                 {"FRENCH", 4},    {"GERMAN", 1},    {"GREEK437", 6},  {"GREEK851", 7},
                 {"ICELD850", 8},  {"ICELD861", 9},  {"ITALIAN", 10},  {"NORWEGN", 11},
                 {"PORTUGUE", 12}, {"SPANISH", 13},  {"SWEDISH", 14}};
    for (const auto& e : table)
        if (lang == e.name) return e.value;
    return 2;
}

// Erases a log older than three days.
void CleanUpLog() {
    if (!xpp::File("QEL_ERR.TXT")) return;
    xpp::Array entries = xpp::Directory("QEL_ERR.TXT");
    if (entries.Len() == 0) return;
    Value date = entries.Get(1).Arr().Get(3);
    if (xpp::Lt(date, xpp::Minus(Value(xpp::Today()), Value(3)))) xpp::FErase("QEL_ERR.TXT");
}

}  // namespace

ModuleState& State() { return *Holder(); }
const char* EntryName(int entry) { return entry >= 1 && entry <= kEngineCalls ? kEntryNames[entry] : ""; }

std::string NumText(int64_t n) { return std::to_string(n); }

uint64_t NextGeneration() {
    static std::atomic<uint64_t> last{0};
    return ++last;
}

namespace {
// The calling thread's row of the module state of that generation.
struct OwnRowCache {
    uint64_t generation = 0;
    ThreadRow* row = nullptr;
};
thread_local OwnRowCache t_ownRow;

int RowIndexOf(const ModuleState& s, int thread) {
    for (int i = 0; i < kMaxThreads; ++i)
        if (s.rowThread[i] == thread) return i;
    return -1;
}

// At a thread's end its row does what QELDISCONNECT does, ends its
// replication connection, forgets everything, and becomes free. The main
// thread's row stays its own.
void ReleaseRow(int thread) {
    if (!Holder()) return;  // the process is ending
    ModuleState& s = State();
    int index;
    {
        std::lock_guard<std::mutex> g(s.rowsLock);
        index = RowIndexOf(s, thread);
    }
    if (index <= 0) return;
    ThreadRow& row = s.rows[index];
    {
        std::lock_guard<std::recursive_mutex> lock(row.lock);
        DisconnectRow(row);
        row.currentArea = Value();
        row.areas.fill(Value());
        row.lastResult = Value();
        row.ordConditions = Value();
    }
    std::lock_guard<std::mutex> g(s.rowsLock);
    s.rowThread[index] = 0;
    t_ownRow = {};
}
}  // namespace

ThreadRow* RowOf(int thread) {
    ModuleState& s = State();
    std::lock_guard<std::mutex> g(s.rowsLock);
    int i = RowIndexOf(s, thread);
    return i < 0 ? nullptr : &s.rows[i];
}

int RowNumber(const ThreadRow& row) { return static_cast<int>(&row - State().rows.data()) + 1; }

bool IsOwnRow(const ThreadRow& row) { return RowOf(xpp::ThreadID()) == &row; }

ThreadRow* CheckedRow() {
    ModuleState& s = State();
    if (t_ownRow.generation == s.generation) return t_ownRow.row;
    const int thread = xpp::ThreadID();
    {
        std::lock_guard<std::mutex> g(s.rowsLock);
        int i = RowIndexOf(s, thread);
        if (i < 0 && (i = RowIndexOf(s, 0)) >= 0) s.rowThread[i] = thread;
        if (i >= 0) {
            t_ownRow = {s.generation, &s.rows[i]};
            return t_ownRow.row;
        }
    }
    QELSHOWERROR(-999, "Thread id out of range:[" + NumText(thread) + "]");
    return nullptr;
}

void DisconnectRow(ThreadRow& row) {
    CloseAllAreas(row);
    if (!row.connHandle.IsNil() && State().hEngineDll.load() > 0)
        KIV_UNRECORDED(row, KivDisconnect, static_cast<KIVHANDLE>(row.connHandle.Int()));
    row.connHandle = Value();
    DropReplication(row);
}

Entry::Entry(std::string_view procName) : frame_(procName, 0) {
    ThreadRow* row = CheckedRow();
    if (!row) return;
    lock_ = std::unique_lock<std::recursive_mutex>(row->lock);
    row_ = row;
}

void* EntryAddress(int entry) {
    ModuleState& s = State();
    void* address = s.hEngineDll.load() > 0 ? xpp::DllCallAddress(s.prepared[entry].load()) : nullptr;
    if (!address) QELSHOWERROR(-999, "QEL32.DLL not loaded");
    return address;
}

void ReportFailure(int64_t result) {
    if (result != kNotLoaded) QELSHOWERROR();
}

// The block disconnects the thread it was installed for. The program's end
// may run the main thread's block in another thread (an error nobody
// handles there ends the program): the block then works on its owner's row,
// not on the running thread's, and only when the owner is not inside a
// function of the library; otherwise the process's end is left to do it.
void InstallDisconnectAtEnd() {
    auto thread = xpp::ThreadObject();
    if (!thread->atEnd().IsNil()) return;
    const int owner = xpp::ThreadID();
    thread->atEnd(xpp::Block([owner](xpp::Args&) -> Value {
        if (xpp::ThreadID() == owner) {
            QELDISCONNECT();
            if (ThreadRow* own = RowOf(owner)) {
                std::lock_guard<std::recursive_mutex> lock(own->lock);
                DropReplication(*own);
            }
            return {};
        }
        ThreadRow* row = RowOf(owner);
        if (!row) return {};
        std::unique_lock<std::recursive_mutex> lock(row->lock, std::try_to_lock);
        if (!lock.owns_lock()) return {};
        DisconnectRow(*row);
        return {};
    }));
}

int CurrentArea(ThreadRow& row) {
    if (row.currentArea.IsNil()) row.currentArea = 1;
    return static_cast<int>(row.currentArea.Int());
}

}  // namespace qelxpp::detail

namespace qelxpp {

using namespace detail;

// Loading and unloading take turns under loadLock, but nothing is reported
// while it is held: an error block may load or unload again, and the call
// that reported then answers its own failure without touching the state.
Value QELLOADDLL(const Value& cPathIn) {
    Entry e("QELLOADDLL");
    if (!e.Ok()) return false;
    ThreadRow& row = e.Row();
    ModuleState& s = State();
    std::unique_lock<std::mutex> loading(s.loadLock);
    auto fail = [&loading](auto&& report) {
        loading.unlock();
        report();
        return Value(false);
    };
    auto engineFailure = [&](int64_t r) { return fail([r] { ReportFailure(r); }); };
    if (s.hEngineDll.load() > 0 && s.setUp.load()) return true;
    Value cPath = cPathIn.IsNil() ? Value(xpp::CurDrive() + ":") : cPathIn;

    if (s.hEngineDll.load() <= 0) {
        CleanUpLog();
        int64_t h = xpp::DllLoad("QEL32.DLL");
        if (h == 0) return fail([] { QELSHOWERROR(-999, "Can't open QEL32.DLL"); });
        s.hEngineDll = h;
    }
    for (int n = 1; n <= kEngineCalls; ++n) s.prepared[n] = xpp::DllPrepareCall(s.hEngineDll, 8, kEntryNames[n]);

    // What a set-up that failed half-way opened is closed first.
    if (s.hMgmt.load() != 0) KIV_UNRECORDED(row, KivMgDisconnect, static_cast<KIVHANDLE>(s.hMgmt.exchange(0)));
    if (s.hSetUpConn != 0) {
        KIV_UNRECORDED(row, KivDisconnect, static_cast<KIVHANDLE>(s.hSetUpConn));
        if (row.connHandle.IsNum() && row.connHandle.Int() == s.hSetUpConn) row.connHandle = Value();
        s.hSetUpConn = 0;
    }

    KIVHANDLE mgmt = 0;
    int64_t r = KIV(row, KivMgConnect, CText(cPath), nullptr, nullptr, &mgmt);
    if (r != 0) return engineFailure(r);
    s.hMgmt = mgmt;

    KIVHANDLE conn = 0;
    r = Connect(row, Value(), conn);
    if (r != 0) {
        return fail([r] {
            xpp::Frame frame("QELCONNECT", 0);
            ReportFailure(r);
        });
    }
    row.connHandle = static_cast<int64_t>(conn);
    s.hSetUpConn = static_cast<int64_t>(conn);
    InstallDisconnectAtEnd();

    r = KIV(row, KivSetDateFormat, "YYYYMMDD");
    if (r != 0) return engineFailure(r);
    char lang[51];
    std::memset(lang, ' ', 50);
    lang[50] = 0;
    uint32_t len = 50;
    r = TextRead(KIV(row, KivGetCollationLang, lang, &len));
    if (r != 0) {
        row.lastResult = r;
        return engineFailure(r);
    }
    row.lastResult = 0;
    xpp::Set(xpp::SET_COLLATION, CollationOf(std::string(lang, std::min<uint32_t>(len, 50))));
    s.hSetUpConn = 0;
    s.setUp = true;
    loading.unlock();
    DBCLOSEALL();
    return true;
}

Value QELUNLOADDLL() {
    Entry e("QELUNLOADDLL");
    if (!e.Ok()) return false;
    ModuleState& s = State();
    std::unique_lock<std::mutex> loading(s.loadLock);
    if (s.hEngineDll.load() <= 0) return true;
    loading.unlock();
    DBCLOSEALL();
    loading.lock();
    if (s.hEngineDll.load() <= 0) return true;  // unloaded meanwhile from an error block
    int64_t r = KIV(e.Row(), KivApplicationExit);
    if (r != 0) {
        loading.unlock();
        ReportFailure(r);
        return false;
    }
    if (!xpp::DllUnload(s.hEngineDll)) {
        loading.unlock();
        QELSHOWERROR(-999, "Unable to unload QEL32.DLL");
        return false;
    }
    s.hEngineDll = 0;
    s.hMgmt = 0;
    s.hSetUpConn = 0;
    s.setUp = false;
    return true;
}

Value QELSETSERVERTYPE(const Value& nTypeIn) {
    Entry e("QELSETSERVERTYPE");
    if (!e.Ok()) return false;
    Value nType = nTypeIn.IsNil() ? Value(3) : nTypeIn;
    // The engine takes a 16-bit number: anything else is refused unsent.
    if (!nType.IsNum() || xpp::Lt(nType, Value(0)) || xpp::Gt(nType, Value(65535))) {
        xpp::RuntimeError(xpp::EG_ARG, 1001, "QELSETSERVERTYPE", xpp::Array{nType});
        return false;
    }
    int64_t r = KIV(e.Row(), KivSetServerType, static_cast<uint16_t>(nType.Int()));
    if (r != 0) {
        ReportFailure(r);
        return false;
    }
    return nType;
}

Value QELGETCONNECTIONTYPE() {
    Entry e("QELGETCONNECTIONTYPE");
    if (!e.Ok()) return 0;
    uint16_t type = 0;
    int64_t r = KIV(e.Row(), KivGetConnectionType, static_cast<KIVHANDLE>(e.Row().connHandle.Int()), &type);
    if (r != 0) {
        ReportFailure(r);
        return 0;
    }
    return static_cast<int>(type);
}

Value QELINSTALLINFO() {
    Entry e("QELINSTALLINFO");
    if (!e.Ok()) return "";
    std::string buf(255, ' ');
    uint32_t len = 255;
    int64_t r = TextRead(KIV(e.Row(), KivMgGetInstallInfo, static_cast<KIVHANDLE>(State().hMgmt.load()), buf.data(), &len));
    e.Row().lastResult = r;
    if (r != 0) {
        ReportFailure(r);
        return "";
    }
    return buf.substr(0, std::min<uint32_t>(len, 255));
}

namespace {
// The module's INIT and EXIT procedures, run by the runtime when it loads
// the library and at application end.
struct ModuleDeclaration {
    ModuleDeclaration() {
        xpp::AddThreadEndNotice(ReleaseRow);
        xpp::DeclareModule(
            "QELXPP",
            [] {
                xpp::Frame frame("QELINIT", 0);
                QELLOADDLL();
            },
            [] {
                // The program's end may run in a thread without a row of the
                // module state: the engine is then left to the process's end.
                if (!RowOf(xpp::ThreadID())) return;
                xpp::Frame frame("QELEXIT", 0);
                QELUNLOADDLL();
            });
    }
} declaration;
}  // namespace

}  // namespace qelxpp

namespace qelxpp::testing {

void ResetState() { detail::Holder() = std::make_unique<detail::ModuleState>(); }

std::vector<std::string> EngineCallNames() {
    std::vector<std::string> names;
    for (int n = 1; n <= detail::kEngineCalls; ++n) names.emplace_back(detail::kEntryNames[n]);
    return names;
}

bool EngineCallsPrepared() {
    for (int n = 1; n <= detail::kEngineCalls; ++n)
        if (detail::State().prepared[n].load() == 0) return false;
    return true;
}

int64_t EngineDll() { return detail::State().hEngineDll.load(); }
int64_t MgmtHandle() { return detail::State().hMgmt.load(); }

xpp::Value LastResult() {
    detail::ThreadRow* row = detail::RowOf(xpp::ThreadID());
    return row ? row->lastResult : xpp::Value();
}
xpp::Value ConnHandle() {
    detail::ThreadRow* row = detail::RowOf(xpp::ThreadID());
    return row ? row->connHandle : xpp::Value();
}
xpp::Value WorkAreaRecord(int n) {
    detail::ThreadRow* row = detail::RowOf(xpp::ThreadID());
    return row && n >= 1 && n <= kMaxAreas ? row->areas[n - 1] : xpp::Value();
}

void EndReplication() {
    if (detail::ThreadRow* row = detail::RowOf(xpp::ThreadID())) detail::DropReplication(*row);
}

xpp::Value ReplicationConnection() {
    detail::ThreadRow* row = detail::RowOf(xpp::ThreadID());
    return row ? row->replConnection : xpp::Value();
}

}  // namespace qelxpp::testing
