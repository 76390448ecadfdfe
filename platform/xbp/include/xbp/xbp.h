// The Xbp GUI base classes of the Xbase++ runtime stand-in: an in-memory
// window model (tree, positions, visibility, focus, modal state) and the
// per-thread application event queue. Every query is answered from the
// model, so window logic runs without a display.
//
// Positions are pixels with the origin at the bottom left of the parent.
// Fractional positions are kept as given.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "xpp/xpp.h"

class QImage;

namespace xbp {

// Event codes. Close and the three drag events are the runtime's fixed
// numbers; the others are our own.
enum Event : int {
    xbeP_None = 0,
    xbeP_Close = 1048632,
    xbeP_DragEnter = 1048650,
    xbeP_DragMotion = 1048651,
    xbeP_DragDrop = 1048653,
    xbeP_KillInputFocus = 1049000,  // our own: an edit control lost the input focus
    xbeP_MenuKey = 1049001,         // our own: a key on an active menu bar, mp1 the key
};

class Window;
using WindowRef = std::shared_ptr<Window>;

// The general window: every Xbp window class derives from it.
class Window : public xpp::Object {
public:
    ~Window() override;

    // init(parent, owner, position, size, ...) as reached through new():
    // records the exact arguments received and takes the parent (an
    // object), owner, position and size given.
    virtual void init(xpp::Args& args);

    // SetParent([o]) / SetOwner([o]): without argument the query; with one,
    // sets it and answers the previous one. AppDesktop()'s parent is NIL.
    xpp::Value SetParent();
    xpp::Value SetParent(const xpp::Value& parent);
    xpp::Value SetOwner();
    xpp::Value SetOwner(const xpp::Value& owner);

    // {x, y}, relative to the parent's bottom-left corner.
    bool SetPos(const xpp::Value& pos);
    xpp::Array CurrentPos() const;
    bool SetSize(const xpp::Value& size);
    // Sets position and size without a journal entry (arrays only).
    void Place(const xpp::Value& pos, const xpp::Value& size);
    xpp::Array CurrentSize() const;  // {width, height}

    bool IsVisible() const;
    bool Show();
    bool Hide();
    bool IsCreated() const;
    // Configuration set before create() takes effect here.
    virtual Window& create();
    // Releases the window and its children (they are detached from the tree).
    virtual Window& destroy();

    // The base dispatch: close → close(), drag events → DragEnter/
    // DragMotion/DragDrop, focus loss → KillInputFocus(), a menu key →
    // OnMenuKey() (a menu then opens the item whose position OnMenuKey
    // answered 2 with). Anything else is ignored. Answers the callback's result.
    virtual xpp::Value HandleEvent(int event, const xpp::Value& mp1, const xpp::Value& mp2);

    // A position in this window's terms, in `other`'s terms (NIL: the
    // desktop's).
    xpp::Array MapPoint(const xpp::Value& other, const xpp::Value& pos) const;

    bool setColorBG(const xpp::Value& colour);
    xpp::Value ColorBG() const;
    bool setFontCompoundName(const std::string& name);
    std::string FontCompoundName() const;

    // Dialogs and CRT windows: 2 starts a modal state, 1 ends it; answers
    // the previous state.
    int SetModalState(int state);
    int ModalState() const;

    // The id of the thread that made the window: its events go there.
    int OwnerThread() const { return thread_; }
    // A number of the window's own, never reused within the process.
    uint64_t Serial() const { return serial_; }
    // The client area {x, y, w, h} in the window's own terms (a dialog's
    // frame and title bar excluded): what its children are placed in.
    virtual void ClientArea(double& x, double& y, double& w, double& h) const;

    // Callbacks that an application overrides in a subclass.
    virtual xpp::Value close(const xpp::Value& mp1, const xpp::Value& mp2);
    virtual xpp::Value DragEnter(const xpp::Value& state, const xpp::Value& data);
    virtual xpp::Value DragMotion(const xpp::Value& state, const xpp::Value& data);
    virtual xpp::Value DragDrop(const xpp::Value& state, const xpp::Value& data);
    virtual xpp::Value KillInputFocus();
    virtual xpp::Value OnMenuKey(xpp::Ref key, const xpp::Value& unused);

    // The children in order of creation (a snapshot).
    std::vector<WindowRef> Children() const;
    // The window's own name for the test journal ("XbpBaseDialog", ...).
    virtual std::string BaseName() const = 0;

protected:
    Window();
    // The window's parent as a window (null for the desktop or none).
    WindowRef ParentWindow() const;
    // The absolute origin of the window's client area in desktop terms.
    virtual void ClientOrigin(double& x, double& y) const;
    void Journal(const std::string& what, xpp::Args args) const;
    // The visible argument of new(): anything but .F. shows the window at
    // create().
    void ShowAtCreate(const xpp::Value& visible);

private:
    friend struct WindowAccess;
    void Detach();

    std::weak_ptr<Window> parent_;
    xpp::Value owner_;
    std::vector<WindowRef> children_;
    double x_ = 0, y_ = 0, w_ = 0, h_ = 0;
    bool visible_ = false;
    bool created_ = false;
    xpp::Value colorBG_;
    std::string font_;
    int thread_ = 0;
    int modal_ = 1;
    uint64_t serial_ = 0;
    bool showAtCreate_ = true;
};

// Constructs a window of class T and runs its init with the caller's exact
// argument list (new()).
template <class T>
std::shared_ptr<T> New(xpp::Args args = {}) {
    T::ClassObject();
    std::shared_ptr<T> w(new T());
    w->init(args);
    return w;
}

// The desktop: the root window, parent of top-level windows.
class Desktop : public Window {
public:
    static xpp::Class& ClassObject();
    xpp::Class& classObject() const override { return ClassObject(); }
    std::string BaseName() const override { return "AppDesktop"; }
    xpp::Value HandleEvent(int, const xpp::Value&, const xpp::Value&) override { return xpp::Value(); }

protected:
    friend WindowRef AppDesktop();
    Desktop();
};
WindowRef AppDesktop();

#define XBP_WINDOW_CLASS_BODY(Name)                                           \
public:                                                                       \
    static xpp::Class& ClassObject();                                         \
    xpp::Class& classObject() const override { return ClassObject(); }       \
    std::string BaseName() const override { return #Name; }                  \
    /* The class initialisation: run once when the class object is made. */ \
    static void initClass(xpp::Class& cls);                                   \
                                                                              \
protected:                                                                    \
    template <class T>                                                        \
    friend std::shared_ptr<T> New(xpp::Args);                                 \
    Name() = default;

// A dialog: a top-level frame window with a drawing area.
class XbpBaseDialog : public Window {
    XBP_WINDOW_CLASS_BODY(XbpBaseDialog)
public:
    // new(parent, owner, position, size, presentation parameters, visible)
    void init(xpp::Args& args) override;
    Window& create() override;
    Window& destroy() override;

    xpp::Value border = 0;
    xpp::Value moveWithOwner = false;
    xpp::Value sysMenu = true;
    xpp::Value titleBar = true;
    xpp::Value title = "";

    // The child window covering the client area: parent of the controls.
    WindowRef drawingArea() const { return drawingArea_; }
    // The client rectangle {x, y, w, h} of a frame rectangle {x, y, w, h},
    // by the frame metrics of the current border and title bar.
    xpp::Array calcClientRect(const xpp::Value& frame) const;

    void ClientArea(double& x, double& y, double& w, double& h) const override;

protected:
    void ClientOrigin(double& x, double& y) const override;

private:
    WindowRef drawingArea_;
};

// Frame metrics of our own: pixels taken by the frame on each side and by
// the title bar.
struct FrameMetrics {
    int left = 0, right = 0, bottom = 0, top = 0;
};
FrameMetrics DialogFrame(int border, bool titleBar);

// The drawing area of a dialog.
class XbpDrawingArea : public Window {
    XBP_WINDOW_CLASS_BODY(XbpDrawingArea)
};

class XbpBaseStatic : public Window {
    XBP_WINDOW_CLASS_BODY(XbpBaseStatic)
public:
    xpp::Value caption = "";
};

// A single-line edit. The buffer holds the raw text; user edits (the Qt
// adaptor) reach it through SetText before the next event is delivered.
class XbpBaseSLE : public Window {
    XBP_WINDOW_CLASS_BODY(XbpBaseSLE)
public:
    // The raw text of the entry.
    virtual xpp::Value EditBuffer() const;
    // {characters before the selection, characters up to the selection's
    // end}; a caret at p without a selection gives {p, p}.
    xpp::Array QueryMarked() const;
    // Shows `data` (a text); the caret goes to its end.
    virtual bool SetData(const xpp::Value& data);
    // The user's edit: the entry's text and its selection (caret = end).
    void SetText(const std::string& text);
    void SetMarked(size_t from, size_t to);
    std::string Text() const;

private:
    std::string text_;
    size_t markFrom_ = 0, markTo_ = 0;
};

// A spin button: an entry holding a number between limits.
class XbpBaseSpinbutton : public XbpBaseSLE {
    XBP_WINDOW_CLASS_BODY(XbpBaseSpinbutton)
public:
    xpp::Value PadWithZeros = false;
    // The value limits; SetData clamps into them.
    bool SetNumLimits(int64_t lower, int64_t upper);
    void NumLimits(int64_t& lower, int64_t& upper) const;
    // The value: the entry's text read as a number (XbpBaseSLE's
    // EditBuffer gives the text itself).
    xpp::Value EditBuffer() const override;
    // Shows the number; with PadWithZeros .T. padded with zeros to the
    // width of the upper limit ("007" for 7 with 999).
    bool SetData(const xpp::Value& data) override;

private:
    int64_t lower_ = 0, upper_ = 100;
};

// A multi-line edit.
class XbpBaseMLE : public Window {
    XBP_WINDOW_CLASS_BODY(XbpBaseMLE)
public:
    xpp::Value EditBuffer() const;
    // Inserts `text` with `pos` characters before it (NIL: at the insertion
    // point); the insertion point moves behind the inserted text.
    bool Insert(const xpp::Value& pos, const std::string& text);
    // The user's edit: the text and the insertion point.
    void SetText(const std::string& text, size_t caret);
    size_t Caret() const;

private:
    std::string text_;
    size_t caret_ = 0;
};

// What a menu and a menu bar hold: items {caption or menu object, block,
// style, attribute word}.
class MenuItems : public Window {
public:
    // AddItem(aItem): answers the number of items.
    int64_t AddItem(const xpp::Value& item);
    int64_t NumItems() const;
    // GetItem(i) (1-based): a new array of four elements; NIL out of range.
    xpp::Value GetItem(int64_t i) const;
    // Opens item i (selects it on the screen); false out of range. The base
    // dispatch opens the item OnMenuKey names when it answers 2.
    bool OpenItem(int64_t i);
    // The item opened last (0: none) and the number of openings so far.
    int64_t OpenedItem(uint64_t* openings = nullptr) const;

private:
    std::vector<xpp::Array> items_;
    int64_t opened_ = 0;
    uint64_t openings_ = 0;
};

class XbpBaseMenubar : public MenuItems {
    XBP_WINDOW_CLASS_BODY(XbpBaseMenubar)
};

class XbpBaseMenu : public MenuItems {
    XBP_WINDOW_CLASS_BODY(XbpBaseMenu)
public:
    xpp::Value title = "";
};

// The drag data of a drop: format 1 text (Windows-1252 bytes), format 15 a
// list of path names.
class DragData : public xpp::Object {
public:
    static xpp::Class& ClassObject();
    xpp::Class& classObject() const override { return ClassObject(); }
    static std::shared_ptr<DragData> New(std::optional<std::string> text, std::vector<std::string> files);
    // {{1}, {15}, ...}: one entry per offered format.
    xpp::Array GetFormats() const;
    // The data of a format: the text, a new array of paths on every call,
    // NIL for a format not offered.
    xpp::Value GetData(int format) const;

private:
    std::optional<std::string> text_;
    std::optional<std::vector<std::string>> files_;
};
enum DragFormat : int { XBPCLPBRD_TEXT = 1, XBPCLPBRD_FILELIST = 15 };

// The graphic colour table of our own: the 16 usual colours, 0..15 (6 is
// yellow). 0xRRGGBB; -1 for a number outside the table.
int64_t GraColorRGB(int64_t colour);
enum GraColor : int {
    GRA_CLR_BACKGROUND = 0, GRA_CLR_BLUE, GRA_CLR_RED, GRA_CLR_PINK, GRA_CLR_GREEN, GRA_CLR_CYAN,
    GRA_CLR_YELLOW, GRA_CLR_NEUTRAL, GRA_CLR_DARKGRAY, GRA_CLR_DARKBLUE, GRA_CLR_DARKRED,
    GRA_CLR_DARKPINK, GRA_CLR_DARKGREEN, GRA_CLR_DARKCYAN, GRA_CLR_BROWN, GRA_CLR_PALEGRAY
};
// A font compound name "size.family" split; false when it has no size.
bool ParseFontCompoundName(const std::string& name, int& points, std::string& family);

// A presentation space: a device (a window, or an image of its own) and a
// font. Device coordinates count y from the top.
class XbpBasePresSpace : public xpp::Object {
public:
    XbpBasePresSpace();
    ~XbpBasePresSpace() override;
    static xpp::Class& ClassObject();
    xpp::Class& classObject() const override { return ClassObject(); }
    static void initClass(xpp::Class& cls);
    virtual void init(xpp::Args& args);
    // create(oDevice, aSize): a window, or NIL for an image of aSize.
    XbpBasePresSpace& create(const xpp::Value& device = {}, const xpp::Value& size = {});
    bool HasDevice() const;
    // {width, height} of the device.
    xpp::Array DeviceSize() const;
    // MapPoint(aPoint, .T., .T.): device x = x, device y = device height - y.
    xpp::Array MapPoint(const xpp::Value& point, bool toDevice = true, bool pixels = true) const;
    // lockHDC(n, @hDC): a lock id (0 when the space has no device); the
    // device context handle comes back in hDC. Locks nest with a count.
    // `n` is recorded and otherwise unused.
    int64_t lockHDC(const xpp::Value& n, const xpp::Ref& hDC);
    // UnlockHDC(nLock, hDC): .T. when the handle was locked here.
    bool UnlockHDC(const xpp::Value& lock, const xpp::Value& hDC);
    // The space a device context handle stands for while locked; null for
    // a stale or unknown handle.
    static std::shared_ptr<XbpBasePresSpace> FromHDC(int64_t hDC);
    std::string FontCompoundName() const;
    bool SetFontCompoundName(const std::string& name);
    // The device's pixels: an image of the device's size, white at first
    // (a copy; a null image before create).
    QImage Image() const;
    // Runs `paint` on the device's image under the space's lock (it must
    // not call the space's members); false without a device.
    bool Paint(const std::function<void(QImage&)>& paint);
    // The text alignment of SetTextAlign (kept, as drawing ignores it).
    uint32_t TextAlign() const;
    uint32_t SetTextAlign(uint32_t align);  // answers the previous one

protected:
    template <class T>
    friend std::shared_ptr<T> New(xpp::Args);

private:
    mutable std::mutex lock_;
    std::weak_ptr<Window> window_;
    double w_ = 0, h_ = 0;
    bool created_ = false;
    int64_t hdc_ = 0;
    int locks_ = 0;
    std::string font_;
    std::unique_ptr<QImage> image_;
    uint32_t align_ = 0;
};

// GraQueryTextBox(oPS, cText): the box of the text in the space's font,
// relative to its start point on the base line: {upper left, lower left,
// upper right, lower right, concatenation point}. Point 3 minus point 2 is
// {width, height}.
xpp::Value GraQueryTextBox(const xpp::Value& ps, const std::string& text);  // NIL for a non-space

// A CRT window: rows x columns of fixed-pitch cells, with its own
// presentation space.
class XbpBaseCrt : public Window {
    XBP_WINDOW_CLASS_BODY(XbpBaseCrt)
public:
    // new(parent, owner, position, rows, columns, title, visible)
    void init(xpp::Args& args) override;
    xpp::Value MouseMode = 0;
    xpp::Value FontWidth = 8;
    xpp::Value FontHeight = 16;
    xpp::Value title = "";
    int64_t MaxRow() const;  // rows - 1
    int64_t MaxCol() const;  // columns - 1
    Window& create() override;
    // The window's own presentation space: the same object every time.
    std::shared_ptr<XbpBasePresSpace> presSpace();
    bool InvalidateRect(const xpp::Value& rect);

private:
    int64_t rows_ = 25, cols_ = 80;
    std::shared_ptr<XbpBasePresSpace> ps_;
};
// The class a CRT makes its presentation space of (XbpBasePresSpace by
// default): a factory that answers a new, un-initialised space. Null
// restores the default.
void SetCrtPresSpaceFactory(std::function<std::shared_ptr<XbpBasePresSpace>()> factory);

// The classes that only forward: init, initClass and the general members.
#define XBP_FORWARDING_CLASS(Name) \
    class Name : public Window {   \
        XBP_WINDOW_CLASS_BODY(Name) \
    };
XBP_FORWARDING_CLASS(XbpBaseCombobox)
XBP_FORWARDING_CLASS(XbpBaseListBox)
XBP_FORWARDING_CLASS(XbpBasePushButton)
XBP_FORWARDING_CLASS(XbpBaseTreeView)
XBP_FORWARDING_CLASS(XbpBase3State)
XBP_FORWARDING_CLASS(XbpBaseTabPage)
XBP_FORWARDING_CLASS(XbpBaseScrollBar)
XBP_FORWARDING_CLASS(XbpBaseCheckBox)
XBP_FORWARDING_CLASS(XbpBaseRadioButton)
// An item of a tree view: no widget of its own.
XBP_FORWARDING_CLASS(XbpBaseTreeViewItem)
#undef XBP_FORWARDING_CLASS

// Class functions: the class object, made once.
xpp::Class& XBPBASEDIALOG();
xpp::Class& XBPBASESTATIC();

// ------------------------------------------------------ application events
// AppEvent(@mp1, @mp2, @oXbp): waits for the calling thread's next event and
// answers its code; the three references are set. Every event has a target
// object: one posted without goes to AppDesktop(). When the queue is empty
// the wait hook runs (tests), else the Qt pump; with neither it raises a
// runtime error instead of blocking for ever.
int AppEvent(const xpp::Ref& mp1, const xpp::Ref& mp2, const xpp::Ref& oXbp);
// PostAppEvent(nEvent, mp1, mp2, oXbp): queues an event for the thread that
// made `oXbp` (the calling thread without a window target).
bool PostAppEvent(int event, const xpp::Value& mp1 = {}, const xpp::Value& mp2 = {},
                  const xpp::Value& target = {});
// SetAppEvent(nEvent [, bBlock]): the block registered for the code, or NIL;
// with a block, registers it and answers the previous one.
xpp::Value SetAppEvent(int event);
xpp::Value SetAppEvent(int event, const xpp::Value& block);
// SetAppFocus([oXbp]): the window with the focus; an object argument takes
// the focus and the previous holder is answered; any other argument changes
// nothing.
xpp::Value SetAppFocus();
xpp::Value SetAppFocus(const xpp::Value& window);
// SetAppWindow() is the runtime's own (xpp::SetAppWindow).
// SetMouse([l]): whether mouse (drag) events are delivered; answers the
// previous setting (default .T.).
bool SetMouse();
bool SetMouse(bool on);

// ------------------------------------------------------------ the Qt side
// Starts the Xbp application: a Qt application when none exists yet
// (offscreen when there is no display), the widgets of created windows
// from then on, the pump behind AppEvent, SLEEP that keeps the windows
// painting, Qt message boxes for ConfirmBox and Alert (unless a sink is
// installed already), and APPTYPE() 3. An object `appWindow` becomes the
// application window (SetAppWindow). Runs on the thread that is to be Qt's;
// false when Qt cannot run here (another thread holds it, or only a
// QCoreApplication exists). An application made here lasts as long as the
// process (Qt cannot be taken down at exit); a program that wants it gone
// before the end (a test main under the leak checker) makes the
// QApplication itself first and deletes it after its last window: the Qt
// side then stops.
bool StartApplication(const xpp::Value& appWindow = {});
// Whether the Qt side runs.
bool QtRunning();

namespace detail {
// The pump the Qt adaptor installs: on the Qt thread it processes Qt events
// until something happens and answers true; on any other thread it answers
// false at once, and AppEvent waits for the thread's queue instead. `wake`
// is called after an event was queued for the Qt thread. Null while no Qt
// application runs.
using Pump = std::function<bool()>;
void SetPump(Pump pump, std::function<void()> wake = nullptr);
}  // namespace detail

}  // namespace xbp
