// Application services: names and versions, the application window, the
// presentation sink, the screen model, module hooks and the program end.
#include <dlfcn.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "internal.h"
#include "xpp/error.h"
#include "xpp/functions.h"
#include "xpp/runtime.h"
#include "xpp/testing.h"

namespace xpp {

namespace {

struct AppState {
    std::mutex lock;
    std::string appName;  // set by tests
    int appType = APPTYPE_VIO;
    Value appWindow;
};

AppState& App() {
    static auto* app = new AppState;  // lives through the EXIT procedures
    return *app;
}

}  // namespace

// ------------------------------------------------------------ names, types

std::string AppName(bool fullPath) {
    std::string path;
    {
        std::lock_guard<std::mutex> g(App().lock);
        path = App().appName;
    }
    if (path.empty()) {
        char buf[4096];
        ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
        if (n > 0) path.assign(buf, static_cast<size_t>(n));
    }
    if (fullPath) return path;
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

void testing::SetAppName(const std::string& fullPath) {
    std::lock_guard<std::mutex> g(App().lock);
    App().appName = fullPath;
}

std::string OS() {
    utsname u;
    if (uname(&u) != 0) return "Linux";
    return std::string(u.sysname) + " " + u.release;
}

std::string Version(int part) {
    static const char* kParts[] = {"1", "0", "0"};
    if (part >= 1 && part <= 3) return kParts[part - 1];
    return "1.0.0";
}

int AppType() {
    std::lock_guard<std::mutex> g(App().lock);
    return App().appType;
}

void SetAppType(int type) {
    std::lock_guard<std::mutex> g(App().lock);
    App().appType = type;
}

Value SetAppWindow() {
    std::lock_guard<std::mutex> g(App().lock);
    return App().appWindow;
}

Value SetAppWindow(Value window) {
    std::lock_guard<std::mutex> g(App().lock);
    std::swap(App().appWindow, window);
    return window;
}

std::string NationMsg(int n) { return n == 118 ? "8.DejaVu Sans" : ""; }

Value LoadResource(int64_t id, int64_t module) {
    if (module != 4294967295LL) return Value();
    switch (id) {
        case 1: return "Parameter has an invalid value";
        case 2: return "Parameter has a wrong data type";
        case 3: return "Incorrect number of parameters";
        case 28: return "Access to a member variable is not allowed";
        case 41: return "Invalid identifier of a system component";
        case 96: return "Duplicate key";
        case 104: return "Object is not in the right state for the operation";
        default: return Value();
    }
}

// ------------------------------------------------------- presentation sink

namespace {

class ConsoleSink : public PresentationSink {
public:
    int ConfirmBox(const Value&, const std::string& text, const std::string& title, int, int) override {
        std::fprintf(stderr, "%s%s%s\n", title.c_str(), title.empty() ? "" : ": ", text.c_str());
        return XBMB_RET_OK;
    }
    int Alert(const std::string& text, const Array&) override {
        std::fprintf(stderr, "%s\n", text.c_str());
        return 1;
    }
};

ConsoleSink g_consoleSink;
std::atomic<PresentationSink*> g_sink{nullptr};

PresentationSink& Sink() {
    PresentationSink* s = g_sink.load();
    return s ? *s : g_consoleSink;
}

}  // namespace

PresentationSink* SetPresentationSink(PresentationSink* sink) { return g_sink.exchange(sink); }

int ConfirmBox(const Value& owner, const std::string& text, const std::string& title, int buttons, int style) {
    return Sink().ConfirmBox(owner, text, title, buttons, style);
}

int Alert(const std::string& text, const Array& options) { return Sink().Alert(text, options); }

// ------------------------------------------------------------ screen model

namespace {

constexpr int kRows = 25;
constexpr int kCols = 80;

struct Screen {
    std::mutex lock;
    std::vector<std::string> rows = std::vector<std::string>(kRows, std::string(kCols, ' '));
    int row = 0;
    int col = 0;
    bool echo = true;

    void Write(const std::string& text) {
        for (char c : text) {
            if (col < kCols) rows[static_cast<size_t>(row)][static_cast<size_t>(col)] = c;
            ++col;
        }
    }
    void NewLine() {
        col = 0;
        if (++row >= kRows) {
            rows.erase(rows.begin());
            rows.emplace_back(kCols, ' ');
            row = kRows - 1;
        }
    }
};

Screen& TheScreen() {
    static auto* screen = new Screen;
    return *screen;
}

}  // namespace

void DevPos(int row, int col) {
    auto& s = TheScreen();
    std::lock_guard<std::mutex> g(s.lock);
    s.row = row < 0 ? 0 : (row >= kRows ? kRows - 1 : row);
    s.col = col < 0 ? 0 : col;
}

void DevOut(const Value& value, const std::string&) {
    std::string text = Var2Char(value);
    auto& s = TheScreen();
    std::lock_guard<std::mutex> g(s.lock);
    s.Write(text);
    if (s.echo) {
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fflush(stdout);
    }
}

void QOut(Args values) {
    std::string text;
    for (size_t i = 1; i <= values.PCount(); ++i) {
        if (i > 1) text += ' ';
        text += Var2Char(values.Get(i));
    }
    auto& s = TheScreen();
    std::lock_guard<std::mutex> g(s.lock);
    s.NewLine();
    s.Write(text);
    if (s.echo) {
        std::fputc('\n', stdout);
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fflush(stdout);
    }
}

std::string testing::ScreenRow(int row) {
    auto& s = TheScreen();
    std::lock_guard<std::mutex> g(s.lock);
    if (row < 0 || row >= kRows) return "";
    return s.rows[static_cast<size_t>(row)];
}

void testing::ClearScreen() {
    auto& s = TheScreen();
    std::lock_guard<std::mutex> g(s.lock);
    for (auto& r : s.rows) r.assign(kCols, ' ');
    s.row = s.col = 0;
}

void testing::SetScreenEcho(bool echo) {
    auto& s = TheScreen();
    std::lock_guard<std::mutex> g(s.lock);
    s.echo = echo;
}

// ------------------------------------------------- modules and program end

namespace {

struct Module {
    std::string name;
    std::function<void()> init;
    std::function<void()> exit;
    bool initialised = false;
};

struct EndState {
    std::mutex lock;  // guards the lists
    std::recursive_mutex running;  // one program end at a time
    std::vector<Module> modules;
    std::vector<std::function<void()>> exitProcs;
    bool ran = false;
    std::atomic<bool> byError{false};
};

EndState& End() {
    static auto* end = new EndState;
    return *end;
}

detail::ThreadState* g_mainState = &detail::State();  // the loading thread is the main thread

void AtExit() { detail::RunProgramEnd(false); }

void RunQuietly(const std::function<void()>& fn) {
    try {
        Sequence([&] { fn(); }, [](const Value&) {});
    } catch (...) {
        std::fputs("xpp: an exception left an EXIT procedure\n", stderr);
    }
}

}  // namespace

void AddExitProcedure(std::function<void()> proc) {
    {
        std::lock_guard<std::mutex> g(End().lock);
        End().exitProcs.push_back(std::move(proc));
    }
    // Registered after the caller's library has come up, so that the
    // program end runs before that library is taken down.
    std::atexit(AtExit);
}

void DeclareModule(std::string_view name, std::function<void()> init, std::function<void()> exit) {
    std::lock_guard<std::mutex> g(End().lock);
    End().modules.push_back(Module{std::string(name), std::move(init), std::move(exit), false});
}

bool InitModule(std::string_view name) {
    // Every module declared under the name comes up once, in the order
    // declared; two libraries may declare the same name.
    std::vector<std::pair<std::function<void()>, std::function<void()>>> pending;
    {
        std::lock_guard<std::mutex> g(End().lock);
        std::string key = detail::UpperAscii(name);
        bool found = false;
        for (auto& m : End().modules) {
            if (detail::UpperAscii(m.name) != key) continue;
            found = true;
            if (m.initialised) continue;
            m.initialised = true;
            pending.emplace_back(m.init, m.exit);
        }
        if (!found) return false;
    }
    for (auto& [init, exit] : pending) {
        if (init) init();
        if (exit) AddExitProcedure(std::move(exit));
    }
    return true;
}

void InitModules() {
    for (;;) {
        std::string next;
        {
            std::lock_guard<std::mutex> g(End().lock);
            for (auto& m : End().modules)
                if (!m.initialised) {
                    next = m.name;
                    break;
                }
        }
        if (next.empty()) return;
        InitModule(next);
    }
}

bool LoadModule(const std::string& path) {
    if (!dlopen(path.c_str(), RTLD_NOW | RTLD_GLOBAL)) return false;
    InitModules();
    return true;
}

bool AppEndedByError() { return End().byError.load(); }

void detail::RunProgramEnd(bool byError) {
    auto& end = End();
    std::lock_guard<std::recursive_mutex> running(end.running);
    std::vector<std::function<void()>> procs;
    {
        std::lock_guard<std::mutex> g(end.lock);
        if (end.ran) return;
        end.ran = true;
        procs.swap(end.exitProcs);
    }
    end.byError = byError;
    if (g_mainState && g_mainState->threadObject) {
        Value block = g_mainState->threadObject->atEnd();
        g_mainState->threadObject->atEnd(Value());
        if (block.IsBlock()) RunQuietly([&] { block.Blk()(); });
    }
    for (auto it = procs.rbegin(); it != procs.rend(); ++it) RunQuietly(*it);
}

void detail::EndByError(const std::string& report) {
    std::fflush(stdout);
    std::fputs(report.c_str(), stderr);
    std::fflush(stderr);
    RunProgramEnd(true);
    std::fflush(stdout);
    std::fflush(stderr);
    _exit(1);
}

void Quit(int exitCode) {
    detail::RunProgramEnd(false);
    std::fflush(stdout);
    std::exit(exitCode);
}

void testing::ResetModules() {
    std::lock_guard<std::mutex> g(End().lock);
    End().modules.clear();
    End().exitProcs.clear();
    End().ran = false;
    End().byError = false;
}

void testing::RunProgramEnd(bool byError) { detail::RunProgramEnd(byError); }

}  // namespace xpp
