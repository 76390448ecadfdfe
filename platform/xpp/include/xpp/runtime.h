// Call stack, threads, time, settings, application services and module
// hooks of the runtime.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "xpp/object.h"
#include "xpp/value.h"

namespace xpp {

// ---------------------------------------------------------------- call stack
// A frame of the calling thread's procedure stack, pushed for the life of
// the guard. Each library routine that reports itself through ProcName()
// opens one on entry:
//     XPP_FRAME("SQLCONNECTION:DRIVERCONNECT");
//     ...
//     XPP_LINE();   // the line ProcLine() reports from here on
class Frame;
namespace detail {
// The calling thread's innermost frame (null: none). The runtime library is
// loaded with the program, so its thread-local data has a fixed place and a
// push or pop is a plain store.
extern __thread Frame* innermostFrame __attribute__((tls_model("initial-exec")));
}  // namespace detail

class Frame {
public:
    // A frame named by a character array (a string literal) keeps the name
    // by reference: the array holds it for the frame's life.
    template <size_t N>
    Frame(const char (&name)[N], int line) noexcept
        : name_(name, N - 1), line_(line), outer_(detail::innermostFrame) {
        detail::innermostFrame = this;
    }
    // Any other name is copied.
    Frame(std::string_view name, int line);
    ~Frame() { detail::innermostFrame = outer_; }
    Frame(const Frame&) = delete;
    Frame& operator=(const Frame&) = delete;
    // Sets the current line of the innermost frame of the calling thread.
    static void Line(int line);

    std::string_view Name() const { return name_; }
    int CurrentLine() const { return line_; }
    // The frame of the caller; null for the outermost.
    const Frame* Outer() const { return outer_; }

private:
    std::string_view name_;
    int line_;
    Frame* outer_;
    std::unique_ptr<std::string> copied_;
};
#define XPP_FRAME(name) ::xpp::Frame xppFrame_(name, __LINE__)
#define XPP_LINE() ::xpp::Frame::Line(__LINE__)

// PROCNAME(n): level 0 is the routine asking, 1 its caller, and on; "" past
// the outermost frame.
std::string ProcName(int level = 0);
// PROCLINE(n): the current line of that level; 0 past the outermost frame.
int ProcLine(int level = 0);

// ------------------------------------------------------------------ threads
// THREADID(): 1 for the main thread, then increasing in order of first use;
// never reused within a process. Threads of the runtime and foreign threads
// (a plain std::thread) alike.
int ThreadID();

// A thread object. The runtime's threads are started through it; a foreign
// thread gets one on its first ThreadObject() call. Its atEnd block runs
// once when the thread ends, before the thread's runtime state (error
// block, settings, frames) is taken down; the main thread's runs at program
// end, before the EXIT procedures.
class Thread : public Object {
public:
    static Class& ClassObject();
    Class& classObject() const override { return ClassObject(); }
    static std::shared_ptr<Thread> New();
    ~Thread() override;

    // Starts a new thread evaluating `block` with `args`. False when this
    // object already runs a thread.
    bool start(Block block, Args args = {});
    // Waits for the started thread to end (its atEnd included).
    void synchronize();
    // The id of the thread this object stands for (0 before it started).
    int threadID() const { return id_.load(); }

    Value atEnd() const;
    void atEnd(Value block);

private:
    friend struct ThreadAccess;
    mutable std::mutex lock_;
    Value atEnd_;
    std::thread thread_;
    std::atomic<int> id_{0};
};

// THREADOBJECT(): the calling thread's thread object.
std::shared_ptr<Thread> ThreadObject();

// A library's notice of each thread's end: `fn(id)` runs in the ending
// thread after its atEnd block (which the application may have replaced),
// with the thread's own state still in place.
void AddThreadEndNotice(std::function<void(int)> fn);

// --------------------------------------------------------------------- time
// All through one clock that tests replace (xpp::testing::SetClock).
void Sleep(int64_t hundredths);  // SLEEP(n): n hundredths of a second
// What the GUI layer wraps around SLEEP, so that its windows keep painting
// while the program sleeps: it gets the duration, whether the clock is the
// system's own (false: a test clock, which returns at once), and the
// clock's sleep to call. Null removes it.
using SleepWrapper = std::function<void(int64_t hundredths, bool systemClock,
                                        const std::function<void(int64_t)>& sleep)>;
void SetSleepWrapper(SleepWrapper wrapper);
Value Seconds();                 // seconds since midnight, 2 decimals
// Seconds from an arbitrary start on a clock that setting the date or the
// time of day does not move: for time limits and intervals.
double MonotonicSeconds();
xpp::Date Today();               // DATE()
std::string Time();              // TIME(): "hh:mm:ss"

// ----------------------------------------------------------------- settings
// SET() identifiers of the per-thread settings table. A new thread starts
// with the defaults.
enum SetId : int {
    SET_EXACT = 1,          // logical, default .F.: = and != compare texts exactly
    SET_DATEFORMAT = 4,     // text, default "mm/dd/yyyy": DTOC/CTOD
    SET_EXCLUSIVE = 8,      // logical, default .T.
    SET_COLLATION = 41,     // numeric, default 0
    SET_CHARSET = 43,       // numeric, default 0 (ANSI); 1 means OEM text
    SET_CAPTIONTILDE = 46,  // logical, default .F.: "~" marks an accelerator in captions
};
Value Set(int id);                  // SET(id): the current value
Value Set(int id, Value newValue);  // SET(id, v): sets, answers the old value
bool NetErr();                      // NETERR(): the calling thread's flag
bool NetErr(bool newValue);         // NETERR(l): sets, answers the old value

// ------------------------------------------------------ application services
std::string AppName(bool fullPath = false);  // APPNAME(l)
std::string OS();                            // OS()
std::string Version(int part = 0);           // VERSION(n), n 1..3: the runtime's own version triple
int AppType();                               // APPTYPE(): 3 = GUI application
enum AppTypes : int { APPTYPE_VIO = 1, APPTYPE_PM = 3 };
void SetAppType(int type);                   // a program or the Xbp stand-in declares its type
Value SetAppWindow();                        // SETAPPWINDOW(): the application window, NIL when none
Value SetAppWindow(Value window);            // sets it, answers the old one
std::string NationMsg(int n);                // NATIONMSG(n); 118: font compound name of message text
Value LoadResource(int64_t id, int64_t module);  // the runtime's texts: 1, 2, 3, 28, 41, 96, 104; NIL otherwise

// Where ConfirmBox() and Alert() go. The default, for a console program,
// writes the text to standard error and answers OK. The GUI stand-in
// installs its dialogs; tests install a recorder.
class PresentationSink {
public:
    virtual ~PresentationSink() = default;
    virtual int ConfirmBox(const Value& owner, const std::string& text, const std::string& title,
                           int buttons, int style) = 0;
    virtual int Alert(const std::string& text, const Array& options) = 0;
};
// Installs a sink (null: the default) and answers the one before. The sink
// must outlive its installation.
PresentationSink* SetPresentationSink(PresentationSink* sink);

enum ConfirmBoxAnswer : int { XBMB_RET_OK = 1, XBMB_RET_CANCEL = 2, XBMB_RET_YES = 6, XBMB_RET_NO = 7 };
int ConfirmBox(const Value& owner, const std::string& text, const std::string& title = "",
               int buttons = 0, int style = 0);
int Alert(const std::string& text, const Array& options = Array());

// Screen output into the screen model (25 rows of 80 columns); a console
// program also prints it on standard output.
void DevPos(int row, int col);
void DevOut(const Value& value, const std::string& colour = "");
void QOut(Args values = {});  // a new line, then the values separated by a blank

// -------------------------------------------------------------- module hooks
// A library declares its INIT and EXIT procedures (from a static object of
// its own: declaring runs nothing). The program runs the INIT procedures of
// a library when it loads it through the runtime (LoadModule, InitModules);
// the EXIT procedures of every initialised library then run once at program
// end (normal end, Quit, or the default error block), in reverse order of
// registration.
void DeclareModule(std::string_view name, std::function<void()> init, std::function<void()> exit);
// Runs the INIT procedure of the declared module `name` once and registers
// its EXIT procedure; false when no such module is declared.
bool InitModule(std::string_view name);
// Runs the INIT procedures of every declared module not yet initialised.
void InitModules();
// Loads a shared library (dlopen) and initialises the modules it declares;
// false when it cannot be loaded.
bool LoadModule(const std::string& path);
// Registers an EXIT procedure directly.
void AddExitProcedure(std::function<void()> proc);
// True inside EXIT procedures when the program ends by an error.
bool AppEndedByError();
// QUIT: ends the program normally (atEnd of the main thread, EXIT
// procedures) with `exitCode`.
[[noreturn]] void Quit(int exitCode = 0);

}  // namespace xpp
