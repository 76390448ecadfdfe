// The in-memory window model.
#include <algorithm>
#include <atomic>

#include "model.h"
#include "xbp/testing.h"

namespace xbp {

namespace {

struct JournalStore {
    std::mutex lock;
    std::vector<testing::Call> calls;
};
// Never destroyed: windows it holds must not be let go from a static
// destructor at the process's end.
JournalStore& Store() {
    static JournalStore* s = new JournalStore;
    return *s;
}
std::atomic<bool> g_journalling{false};

}  // namespace

std::atomic<Observer*> g_observer{nullptr};
std::atomic<uint64_t> g_serial{0};

void SetObserver(Observer* observer) { g_observer = observer; }

void Focused(const Window& w) {
    if (Observer* o = g_observer.load()) o->Focused(w);
}

void Changed(const Window& w) {
    if (Observer* o = g_observer.load()) o->Changed(w);
}

std::recursive_mutex& TreeLock() {
    static std::recursive_mutex m;
    return m;
}

namespace testing {
std::vector<Call> Journal() {
    std::lock_guard g(Store().lock);
    return Store().calls;
}
void ClearJournal() {
    std::lock_guard g(Store().lock);
    Store().calls.clear();
}
void SetJournalling(bool on) { g_journalling = on; }
}  // namespace testing

void JournalCall(const std::string& what, const xpp::Object* self, xpp::Args args) {
    if (!g_journalling.load(std::memory_order_relaxed)) return;
    testing::Call c;
    c.what = what;
    if (self) c.self = const_cast<xpp::Object*>(self)->weak_from_this();
    c.args = std::move(args);
    std::lock_guard g(Store().lock);
    Store().calls.push_back(std::move(c));
}

Window::Window() : thread_(xpp::ThreadID()), serial_(++g_serial) {}

Window::~Window() {
    if (Observer* o = g_observer.load()) o->Gone(serial_);
}

void Window::ClientArea(double& x, double& y, double& w, double& h) const {
    std::lock_guard g(TreeLock());
    x = y = 0;
    w = w_;
    h = h_;
}

void Window::Journal(const std::string& what, xpp::Args args) const {
    JournalCall(BaseName() + ":" + what, this, std::move(args));
}

void Window::init(xpp::Args& args) {
    Journal("init", args);
    if (args.Get(1).IsObject()) SetParent(args.Get(1));
    SetOwner(args.Get(2));
    Place(args.Get(3), args.Get(4));
    ShowAtCreate(args.Get(6));
}

void Window::ShowAtCreate(const xpp::Value& visible) {
    std::lock_guard g(TreeLock());
    showAtCreate_ = !(visible.IsLogical() && !visible.Log());
}

void Window::Place(const xpp::Value& pos, const xpp::Value& size) {
    std::lock_guard g(TreeLock());
    if (pos.IsArray()) {
        x_ = Coord(pos, 1);
        y_ = Coord(pos, 2);
    }
    if (size.IsArray()) {
        w_ = Coord(size, 1);
        h_ = Coord(size, 2);
    }
    Changed(*this);
}

xpp::Value Window::SetParent() {
    std::lock_guard g(TreeLock());
    return xpp::Value(parent_.lock());
}

xpp::Value Window::SetParent(const xpp::Value& parent) {
    std::lock_guard g(TreeLock());
    xpp::Value old = xpp::Value(parent_.lock());
    auto p = parent.As<Window>();
    if (!p || p.get() == this) return old;
    Detach();
    parent_ = p;
    p->children_.push_back(std::static_pointer_cast<Window>(shared_from_this()));
    Changed(*this);
    return old;
}

xpp::Value Window::SetOwner() {
    std::lock_guard g(TreeLock());
    return owner_;
}

xpp::Value Window::SetOwner(const xpp::Value& owner) {
    std::lock_guard g(TreeLock());
    xpp::Value old = owner_;
    if (owner.IsObject()) owner_ = owner;
    return old;
}

void Window::Detach() {
    if (auto p = parent_.lock()) {
        auto& c = p->children_;
        c.erase(std::remove_if(c.begin(), c.end(), [this](const WindowRef& w) { return w.get() == this; }),
                c.end());
    }
    parent_.reset();
}

bool Window::SetPos(const xpp::Value& pos) {
    Journal("SetPos", {pos});
    if (!pos.IsArray()) return false;
    std::lock_guard g(TreeLock());
    x_ = Coord(pos, 1);
    y_ = Coord(pos, 2);
    Changed(*this);
    return true;
}

xpp::Array Window::CurrentPos() const {
    std::lock_guard g(TreeLock());
    return xpp::Array{Number(x_), Number(y_)};
}

bool Window::SetSize(const xpp::Value& size) {
    if (!size.IsArray()) return false;
    std::lock_guard g(TreeLock());
    w_ = Coord(size, 1);
    h_ = Coord(size, 2);
    Changed(*this);
    return true;
}

xpp::Array Window::CurrentSize() const {
    std::lock_guard g(TreeLock());
    return xpp::Array{Number(w_), Number(h_)};
}

bool Window::IsVisible() const {
    std::lock_guard g(TreeLock());
    return visible_;
}

bool Window::Show() {
    Journal("Show", {});
    std::lock_guard g(TreeLock());
    visible_ = true;
    Changed(*this);
    return true;
}

bool Window::Hide() {
    Journal("Hide", {});
    std::lock_guard g(TreeLock());
    visible_ = false;
    Changed(*this);
    return true;
}

bool Window::IsCreated() const {
    std::lock_guard g(TreeLock());
    return created_;
}

Window& Window::create() {
    std::lock_guard g(TreeLock());
    created_ = true;
    if (showAtCreate_) visible_ = true;
    Changed(*this);
    return *this;
}

Window& Window::destroy() {
    std::vector<WindowRef> kids;
    {
        std::lock_guard g(TreeLock());
        kids = children_;
    }
    for (auto& k : kids) k->destroy();
    std::lock_guard g(TreeLock());
    Detach();
    created_ = false;
    visible_ = false;
    Changed(*this);
    return *this;
}

xpp::Value Window::HandleEvent(int event, const xpp::Value& mp1, const xpp::Value& mp2) {
    Journal("HandleEvent", {event, mp1, mp2});
    switch (event) {
        case xbeP_Close: return close(mp1, mp2);
        case xbeP_DragEnter: return DragEnter(mp1, mp2);
        case xbeP_DragMotion: return DragMotion(mp1, mp2);
        case xbeP_DragDrop: return DragDrop(mp1, mp2);
        case xbeP_KillInputFocus: return KillInputFocus();
        case xbeP_MenuKey: {
            // 2 with the key turned into an item's position: a menu opens that item
            xpp::Ref key(mp1);
            xpp::Value result = OnMenuKey(key, xpp::Value());
            auto* menu = dynamic_cast<MenuItems*>(this);
            if (menu && result.IsNum() && result.Int() == 2 && key.Get().IsNum()) menu->OpenItem(key.Get().Int());
            return result;
        }
        default: return xpp::Value();
    }
}

WindowRef Window::ParentWindow() const {
    std::lock_guard g(TreeLock());
    return parent_.lock();
}

void Window::ClientOrigin(double& x, double& y) const {
    std::lock_guard g(TreeLock());
    double px = 0, py = 0;
    if (auto p = parent_.lock()) p->ClientOrigin(px, py);
    x = px + x_;
    y = py + y_;
}

xpp::Array Window::MapPoint(const xpp::Value& other, const xpp::Value& pos) const {
    Journal("MapPoint", {other, pos});
    double sx, sy, ox = 0, oy = 0;
    ClientOrigin(sx, sy);
    if (auto o = other.As<Window>()) o->ClientOrigin(ox, oy);
    return xpp::Array{Number(Coord(pos, 1) + sx - ox), Number(Coord(pos, 2) + sy - oy)};
}

bool Window::setColorBG(const xpp::Value& colour) {
    std::lock_guard g(TreeLock());
    colorBG_ = colour;
    Changed(*this);
    return true;
}

xpp::Value Window::ColorBG() const {
    std::lock_guard g(TreeLock());
    return colorBG_;
}

bool Window::setFontCompoundName(const std::string& name) {
    std::lock_guard g(TreeLock());
    font_ = name;
    Changed(*this);
    return true;
}

std::string Window::FontCompoundName() const {
    std::lock_guard g(TreeLock());
    return font_;
}

xpp::Value Window::close(const xpp::Value&, const xpp::Value&) { return xpp::Value(); }
xpp::Value Window::DragEnter(const xpp::Value&, const xpp::Value&) { return 0; }
xpp::Value Window::DragMotion(const xpp::Value&, const xpp::Value&) { return 0; }
xpp::Value Window::DragDrop(const xpp::Value&, const xpp::Value&) { return 0; }
xpp::Value Window::KillInputFocus() {
    Journal("KillInputFocus", {});
    return xpp::Value();
}
xpp::Value Window::OnMenuKey(xpp::Ref, const xpp::Value&) { return 0; }

std::vector<WindowRef> Window::Children() const {
    std::lock_guard g(TreeLock());
    return children_;
}

// ------------------------------------------------------------------ desktop
Desktop::Desktop() = default;

xpp::Class& Desktop::ClassObject() {
    static xpp::ClassSlot slot;
    return slot.Get("XbpDesktop", nullptr);
}

WindowRef AppDesktop() {
    static WindowRef desktop = [] {
        Desktop::ClassObject();
        std::shared_ptr<Desktop> d(new Desktop());
        d->create();
        d->Show();
        return d;
    }();
    return desktop;
}

// ------------------------------------------------------------ class objects
namespace {

Window& AsWindow(xpp::Object& o) { return dynamic_cast<Window&>(o); }

// What programs send any window by name.
void WindowMessages(xpp::Class& c) {
    c.AddMessage("HandleEvent", [](xpp::Object& o, xpp::Args& a) {
        return AsWindow(o).HandleEvent(static_cast<int>(a.Get(1).Int()), a.Get(2), a.Get(3));
    });
    c.AddMessage("SetParent", [](xpp::Object& o, xpp::Args& a) {
        return a.Passed(1) ? AsWindow(o).SetParent(a.Get(1)) : AsWindow(o).SetParent();
    });
    c.AddMessage("CurrentSize", [](xpp::Object& o, xpp::Args&) { return xpp::Value(AsWindow(o).CurrentSize()); });
    c.AddMessage("MapPoint", [](xpp::Object& o, xpp::Args& a) {
        return xpp::Value(AsWindow(o).MapPoint(a.Get(1), a.Get(2)));
    });
    c.AddMessage("SetPos", [](xpp::Object& o, xpp::Args& a) { return xpp::Value(AsWindow(o).SetPos(a.Get(1))); });
}

void CrtMessages(xpp::Class& c) {
    WindowMessages(c);
    c.AddMessage("presSpace", [](xpp::Object& o, xpp::Args&) {
        return xpp::Value(xpp::ObjectRef(dynamic_cast<XbpBaseCrt&>(o).presSpace()));
    });
    c.AddMessage("InvalidateRect", [](xpp::Object& o, xpp::Args& a) {
        return xpp::Value(dynamic_cast<XbpBaseCrt&>(o).InvalidateRect(a.Get(1)));
    });
}

void MenuMessages(xpp::Class& c) {
    WindowMessages(c);
    c.AddMessage("title", [](xpp::Object& o, xpp::Args&) { return dynamic_cast<XbpBaseMenu&>(o).title; });
    c.AddMessage("_title", [](xpp::Object& o, xpp::Args& a) {
        return dynamic_cast<XbpBaseMenu&>(o).title = a.Get(1);
    });
}

void NoMessages(xpp::Class&) {}

}  // namespace

#define XBP_CLASS_OBJECT(Name, Parent, Messages)                                 \
    xpp::Class& Name::ClassObject() {                                            \
        static xpp::ClassSlot slot;                                              \
        return slot.Get(#Name, Parent, [](xpp::Class& c) { Name::initClass(c); }); \
    }                                                                            \
    void Name::initClass(xpp::Class& c) {                                        \
        Messages(c);                                                             \
        JournalCall(#Name ":initClass", &c, {});                                 \
    }

XBP_CLASS_OBJECT(XbpBaseDialog, nullptr, WindowMessages)
XBP_CLASS_OBJECT(XbpDrawingArea, nullptr, WindowMessages)
XBP_CLASS_OBJECT(XbpBaseStatic, nullptr, WindowMessages)
XBP_CLASS_OBJECT(XbpBaseSLE, nullptr, WindowMessages)
XBP_CLASS_OBJECT(XbpBaseSpinbutton, &XbpBaseSLE::ClassObject(), NoMessages)
XBP_CLASS_OBJECT(XbpBaseMLE, nullptr, WindowMessages)
XBP_CLASS_OBJECT(XbpBaseCrt, nullptr, CrtMessages)
XBP_CLASS_OBJECT(XbpBasePresSpace, nullptr, NoMessages)
XBP_CLASS_OBJECT(XbpBaseMenubar, nullptr, WindowMessages)
XBP_CLASS_OBJECT(XbpBaseMenu, nullptr, MenuMessages)
XBP_CLASS_OBJECT(XbpBaseCombobox, nullptr, WindowMessages)
XBP_CLASS_OBJECT(XbpBaseListBox, nullptr, WindowMessages)
XBP_CLASS_OBJECT(XbpBasePushButton, nullptr, WindowMessages)
XBP_CLASS_OBJECT(XbpBaseTreeView, nullptr, WindowMessages)
XBP_CLASS_OBJECT(XbpBase3State, nullptr, WindowMessages)
XBP_CLASS_OBJECT(XbpBaseTabPage, nullptr, WindowMessages)
XBP_CLASS_OBJECT(XbpBaseScrollBar, nullptr, WindowMessages)
XBP_CLASS_OBJECT(XbpBaseCheckBox, nullptr, WindowMessages)
XBP_CLASS_OBJECT(XbpBaseRadioButton, nullptr, WindowMessages)
XBP_CLASS_OBJECT(XbpBaseTreeViewItem, nullptr, WindowMessages)

xpp::Class& XBPBASEDIALOG() { return XbpBaseDialog::ClassObject(); }
xpp::Class& XBPBASESTATIC() { return XbpBaseStatic::ClassObject(); }

// ------------------------------------------------------------------- dialog
FrameMetrics DialogFrame(int border, bool titleBar) {
    FrameMetrics m;
    int frame = border == 0 ? 0 : 4;
    m.left = m.right = m.bottom = m.top = frame;
    if (titleBar) m.top += 25;  // a titled dialog of border 9 loses 33 pixels of height
    return m;
}

void XbpBaseDialog::init(xpp::Args& args) {
    Window::init(args);
    if (!args.Get(1).IsObject()) SetParent(xpp::Value(AppDesktop()));
}

xpp::Array XbpBaseDialog::calcClientRect(const xpp::Value& frame) const {
    FrameMetrics m = DialogFrame(static_cast<int>(border.Int()), titleBar.Log());
    return xpp::Array{Number(Coord(frame, 1) + m.left), Number(Coord(frame, 2) + m.bottom),
                      Number(Coord(frame, 3) - m.left - m.right), Number(Coord(frame, 4) - m.bottom - m.top)};
}

void XbpBaseDialog::ClientArea(double& x, double& y, double& w, double& h) const {
    xpp::Array size = CurrentSize();
    xpp::Array client = calcClientRect(xpp::Array{0, 0, size.Get(1), size.Get(2)});
    x = client.Get(1).Dbl();
    y = client.Get(2).Dbl();
    w = client.Get(3).Dbl();
    h = client.Get(4).Dbl();
}

void XbpBaseDialog::ClientOrigin(double& x, double& y) const {
    Window::ClientOrigin(x, y);
    FrameMetrics m = DialogFrame(static_cast<int>(border.Int()), titleBar.Log());
    x += m.left;
    y += m.bottom;
}

Window& XbpBaseDialog::create() {
    Window::create();
    if (!drawingArea_) {
        drawingArea_ = New<XbpDrawingArea>(xpp::Args{xpp::Value(std::static_pointer_cast<Window>(shared_from_this()))});
    }
    xpp::Array size = CurrentSize();
    xpp::Array client = calcClientRect(xpp::Array{0, 0, size.Get(1), size.Get(2)});
    drawingArea_->Place(xpp::Array{0, 0}, xpp::Array{client.Get(3), client.Get(4)});
    drawingArea_->create();
    drawingArea_->Show();
    return *this;
}

Window& XbpBaseDialog::destroy() {
    Window::destroy();
    drawingArea_.reset();
    return *this;
}

int Window::ModalState() const {
    std::lock_guard g(TreeLock());
    return modal_;
}

int Window::SetModalState(int state) {
    Journal("SetModalState", {state});
    std::lock_guard g(TreeLock());
    int old = modal_;
    if (state == 1 || state == 2) modal_ = state;
    Changed(*this);
    return old;
}

}  // namespace xbp
