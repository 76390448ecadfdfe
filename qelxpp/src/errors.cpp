// Reporting: Error objects of subsystem "QEL", the log "QEL_ERR.TXT" and the
// guards with which the database functions start.
#include "state.h"

namespace qelxpp {

using namespace detail;

namespace {
const char* const kCrLf = "\r\n";
const char* const kLogName = "QEL_ERR.TXT";

// The engine's last error of the calling thread, read without recording.
bool EngineLastError(int64_t& code, std::string& text) {
    ModuleState& s = State();
    if (s.hEngineDll.load() <= 0) return false;
    auto fn = reinterpret_cast<decltype(::KivGetLastError)*>(xpp::DllCallAddress(s.prepared[E_KivGetLastError].load()));
    if (!fn) return false;
    uint32_t engineCode = static_cast<uint32_t>(code);
    std::string buf(255, ' ');
    uint32_t len = 255;
    uint32_t r = fn(&engineCode, buf.data(), &len);
    if (TextRead(r) != 0) return false;
    code = engineCode;
    text = buf.substr(0, std::min<uint32_t>(len, 255));
    return true;
}
}  // namespace

Value QELSHOWERROR(const Value& nCodeIn, const Value& cTextIn, const Value& lLogOnly) {
    xpp::Frame frame("QELSHOWERROR", 0);
    int thread = xpp::ThreadID();
    ThreadRow* row = RowOf(thread);
    int64_t code = nCodeIn.IsNil() ? (row ? row->lastResult.Int() : 0) : nCodeIn.Int();
    std::string text = cTextIn.IsNil() ? std::string("Warning") : xpp::Var2Char(cTextIn);
    if (code > 0) {
        if (!EngineLastError(code, text)) text = "Can't get KIV Error String";
        if (code == 5087) return {};
    }
    text = "QEL_" + NumText(code) + ", " + text;
    bool logOnly = lLogOnly.IsLogical() && lLogOnly.Log();
    std::shared_ptr<xpp::Error> error;
    if (!logOnly) {
        error = xpp::Error::New();
        error->description = text;
        error->severity = code == 0 ? 1 : 2;
        error->subSystem = "QEL";
        error->genCode = 59;
        error->subCode = code;
        error->thread = thread;
        error->canRetry = false;
    }
    for (int n = 1; n <= 15; ++n) {
        std::string name = xpp::ProcName(n);
        if (name.empty()) break;
        text += kCrLf + ("Called from " + name + "(" + NumText(xpp::ProcLine(n)) + ")");
    }
    text = std::string("= ERROR OBJECT ===============") + kCrLf + "Date: " + xpp::DToS(xpp::Today()) +
           ", Time: " + xpp::Time() + kCrLf + "App: " + xpp::AppName(true) + ", Thread: " + NumText(thread) +
           kCrLf + text + kCrLf;
    QELERRORLOG(text);
    if (!logOnly) xpp::Eval(Value(xpp::ErrorBlock()), xpp::Args{Value(error)});
    return {};
}

Value QELERRORLOG(const Value& cText) {
    xpp::Frame frame("QELERRORLOG", 0);
    if (!cText.IsChar()) return {};
    // Opened or created in one step, never cut, and no other writer while
    // the text goes in: writers that find no log at once lose no line.
    int64_t handle = -1;
    for (int attempts = 0;;) {
        handle = xpp::FOpen(kLogName, xpp::FO_WRITE | xpp::FO_DENYWRITE | xpp::FO_CREATE);
        if (handle >= 0) break;
        if (++attempts > 5) return {};
        xpp::Sleep(20);
    }
    xpp::FSeek(handle, 0, xpp::FS_END);
    xpp::FWrite(handle, cText.Str() + kCrLf);
    xpp::FClose(handle);
    return {};
}

namespace detail {

bool QelNotUsed(ThreadRow& row, bool show, int area) {
    if (area >= 1 && area <= kMaxAreas && !row.areas[area - 1].IsNil()) return false;
    if (show) QELSHOWERROR(-999, "Work area is not in use:[" + NumText(area) + "]");
    return true;
}

bool QelNotIndexed(ThreadRow& row, int area) {
    if (QelNotUsed(row, true, area)) return true;
    const Value orders = row.areas[area - 1].Arr().Get(WA_ORDERS);
    return !orders.IsArray() || orders.Arr().Len() == 0;
}

}  // namespace detail

}  // namespace qelxpp
