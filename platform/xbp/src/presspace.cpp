// Presentation spaces with their device-context handle table, and CRT
// windows.
#include <QImage>
#include <map>

#include "model.h"
#include "xbp/testing.h"

namespace xbp {

namespace {

// Device-context handles: numbers of our own, never pointers, never reused.
struct HdcTable {
    std::mutex lock;
    int64_t next = 0x10000;
    int locked = 0;
    std::map<int64_t, std::weak_ptr<XbpBasePresSpace>> spaces;
};
HdcTable& Hdcs() {
    static HdcTable t;
    return t;
}

std::function<std::shared_ptr<XbpBasePresSpace>()>& CrtFactory() {
    static std::function<std::shared_ptr<XbpBasePresSpace>()> f;
    return f;
}

}  // namespace

namespace testing {
int LockedDeviceContexts() {
    std::lock_guard g(Hdcs().lock);
    return Hdcs().locked;
}
}  // namespace testing

// ------------------------------------------------------- presentation space
XbpBasePresSpace::XbpBasePresSpace() = default;
XbpBasePresSpace::~XbpBasePresSpace() = default;

void XbpBasePresSpace::init(xpp::Args& args) { JournalCall("XbpBasePresSpace:init", this, args); }

XbpBasePresSpace& XbpBasePresSpace::create(const xpp::Value& device, const xpp::Value& size) {
    std::lock_guard g(lock_);
    if (auto w = device.As<Window>()) {
        window_ = w;
        xpp::Array s = size.IsArray() ? size.Arr() : w->CurrentSize();
        w_ = Coord(s, 1);
        h_ = Coord(s, 2);
    } else {
        window_.reset();
        w_ = Coord(size, 1);
        h_ = Coord(size, 2);
    }
    created_ = true;
    int w = std::max(0, static_cast<int>(w_)), h = std::max(0, static_cast<int>(h_));
    image_ = std::make_unique<QImage>(w, h, QImage::Format_ARGB32_Premultiplied);
    image_->fill(Qt::white);
    return *this;
}

bool XbpBasePresSpace::HasDevice() const {
    std::lock_guard g(lock_);
    return created_;
}

xpp::Array XbpBasePresSpace::DeviceSize() const {
    std::lock_guard g(lock_);
    return xpp::Array{Number(w_), Number(h_)};
}

xpp::Array XbpBasePresSpace::MapPoint(const xpp::Value& point, bool, bool) const {
    std::lock_guard g(lock_);
    return xpp::Array{Number(Coord(point, 1)), Number(h_ - Coord(point, 2))};
}

int64_t XbpBasePresSpace::lockHDC(const xpp::Value& n, const xpp::Ref& hDC) {
    JournalCall("XbpBasePresSpace:lockHDC", this, {n});
    std::lock_guard g(lock_);
    if (!created_) return 0;
    std::lock_guard t(Hdcs().lock);
    if (locks_ == 0) {
        hdc_ = Hdcs().next++;
        Hdcs().spaces[hdc_] = std::static_pointer_cast<XbpBasePresSpace>(shared_from_this());
    }
    ++locks_;
    ++Hdcs().locked;
    hDC.Set(hdc_);
    return locks_;
}

bool XbpBasePresSpace::UnlockHDC(const xpp::Value& lockId, const xpp::Value& hDC) {
    JournalCall("XbpBasePresSpace:UnlockHDC", this, {lockId, hDC});
    std::lock_guard g(lock_);
    if (locks_ == 0 || hDC.Int() != hdc_) return false;
    std::lock_guard t(Hdcs().lock);
    --locks_;
    --Hdcs().locked;
    if (locks_ == 0) {
        Hdcs().spaces.erase(hdc_);
        hdc_ = 0;
    }
    return true;
}

std::shared_ptr<XbpBasePresSpace> XbpBasePresSpace::FromHDC(int64_t hDC) {
    std::lock_guard t(Hdcs().lock);
    auto it = Hdcs().spaces.find(hDC);
    return it == Hdcs().spaces.end() ? nullptr : it->second.lock();
}

QImage XbpBasePresSpace::Image() const {
    std::lock_guard g(lock_);
    return image_ ? image_->copy() : QImage();
}

bool XbpBasePresSpace::Paint(const std::function<void(QImage&)>& paint) {
    std::lock_guard g(lock_);
    if (!image_ || image_->isNull()) return false;
    paint(*image_);
    return true;
}

uint32_t XbpBasePresSpace::TextAlign() const {
    std::lock_guard g(lock_);
    return align_;
}

uint32_t XbpBasePresSpace::SetTextAlign(uint32_t align) {
    std::lock_guard g(lock_);
    return std::exchange(align_, align);
}

std::string XbpBasePresSpace::FontCompoundName() const {
    std::lock_guard g(lock_);
    return font_;
}

bool XbpBasePresSpace::SetFontCompoundName(const std::string& name) {
    std::lock_guard g(lock_);
    font_ = name;
    return true;
}

// ---------------------------------------------------------------------- CRT
void SetCrtPresSpaceFactory(std::function<std::shared_ptr<XbpBasePresSpace>()> factory) {
    std::lock_guard g(TreeLock());
    CrtFactory() = std::move(factory);
}

void XbpBaseCrt::init(xpp::Args& args) {
    Window::init(args);
    if (!args.Get(1).IsObject()) SetParent(xpp::Value(AppDesktop()));
    std::lock_guard g(TreeLock());
    if (args.Get(4).IsNum() && args.Get(4).Int() > 0) rows_ = args.Get(4).Int();
    if (args.Get(5).IsNum() && args.Get(5).Int() > 0) cols_ = args.Get(5).Int();
    if (args.Get(6).IsChar()) title = args.Get(6);
    ShowAtCreate(args.Get(7));
}

int64_t XbpBaseCrt::MaxRow() const {
    std::lock_guard g(TreeLock());
    return rows_ - 1;
}

int64_t XbpBaseCrt::MaxCol() const {
    std::lock_guard g(TreeLock());
    return cols_ - 1;
}

Window& XbpBaseCrt::create() {
    int64_t rows, cols;
    {
        std::lock_guard g(TreeLock());
        rows = rows_;
        cols = cols_;
    }
    Place(xpp::Value(), xpp::Array{cols * FontWidth.Int(), rows * FontHeight.Int()});
    Window::create();
    auto ps = presSpace();
    ps->create(xpp::Value(std::static_pointer_cast<Window>(shared_from_this())));
    return *this;
}

std::shared_ptr<XbpBasePresSpace> XbpBaseCrt::presSpace() {
    std::lock_guard g(TreeLock());
    if (!ps_) {
        if (CrtFactory()) {
            ps_ = CrtFactory()();
        } else {
            ps_ = New<XbpBasePresSpace>();
        }
    }
    return ps_;
}

bool XbpBaseCrt::InvalidateRect(const xpp::Value& rect) {
    Journal("InvalidateRect", {rect});
    Changed(*this);
    return true;
}

}  // namespace xbp
