// Edit controls, spin buttons, menus, drag data, colours and font names.
#include <algorithm>

#include "model.h"

namespace xbp {

// ---------------------------------------------------------------------- SLE
xpp::Value XbpBaseSLE::EditBuffer() const { return Text(); }

std::string XbpBaseSLE::Text() const {
    std::lock_guard g(TreeLock());
    return text_;
}

xpp::Array XbpBaseSLE::QueryMarked() const {
    std::lock_guard g(TreeLock());
    return xpp::Array{static_cast<int64_t>(markFrom_), static_cast<int64_t>(markTo_)};
}

bool XbpBaseSLE::SetData(const xpp::Value& data) {
    Journal("SetData", {data});
    SetText(data.IsChar() ? data.Str() : xpp::Var2Char(data));
    return true;
}

void XbpBaseSLE::SetText(const std::string& text) {
    std::lock_guard g(TreeLock());
    text_ = text;
    markFrom_ = markTo_ = text_.size();
    Changed(*this);
}

void XbpBaseSLE::SetMarked(size_t from, size_t to) {
    std::lock_guard g(TreeLock());
    markFrom_ = std::min({from, to, text_.size()});
    markTo_ = std::min(std::max(from, to), text_.size());
}

// -------------------------------------------------------------- spin button
bool XbpBaseSpinbutton::SetNumLimits(int64_t lower, int64_t upper) {
    if (lower > upper) return false;
    std::lock_guard g(TreeLock());
    lower_ = lower;
    upper_ = upper;
    Changed(*this);
    return true;
}

void XbpBaseSpinbutton::NumLimits(int64_t& lower, int64_t& upper) const {
    std::lock_guard g(TreeLock());
    lower = lower_;
    upper = upper_;
}

xpp::Value XbpBaseSpinbutton::EditBuffer() const { return xpp::Val(Text()); }

bool XbpBaseSpinbutton::SetData(const xpp::Value& data) {
    Journal("SetData", {data});
    int64_t lower, upper;
    {
        std::lock_guard g(TreeLock());
        lower = lower_;
        upper = upper_;
    }
    int64_t n = std::clamp<int64_t>(data.Int(), lower, upper);
    std::string digits = std::to_string(n < 0 ? -n : n);
    if (PadWithZeros.Log()) {
        size_t width = std::to_string(upper < 0 ? -upper : upper).size();
        if (digits.size() < width) digits.insert(0, width - digits.size(), '0');
    }
    SetText(n < 0 ? "-" + digits : digits);
    return true;
}

// ---------------------------------------------------------------------- MLE
xpp::Value XbpBaseMLE::EditBuffer() const {
    std::lock_guard g(TreeLock());
    return text_;
}

bool XbpBaseMLE::Insert(const xpp::Value& pos, const std::string& text) {
    std::lock_guard g(TreeLock());
    size_t at = pos.IsNum() ? static_cast<size_t>(std::max<int64_t>(0, pos.Int())) : caret_;
    at = std::min(at, text_.size());
    text_.insert(at, text);
    caret_ = at + text.size();
    Changed(*this);
    return true;
}

void XbpBaseMLE::SetText(const std::string& text, size_t caret) {
    std::lock_guard g(TreeLock());
    text_ = text;
    caret_ = std::min(caret, text_.size());
    Changed(*this);
}

size_t XbpBaseMLE::Caret() const {
    std::lock_guard g(TreeLock());
    return caret_;
}

// -------------------------------------------------------------------- menus
int64_t MenuItems::AddItem(const xpp::Value& item) {
    xpp::Array a(4);
    if (item.IsArray())
        for (size_t i = 1; i <= std::min<size_t>(4, item.Arr().Len()); ++i) a.Set(i, item.Arr().Get(i));
    std::lock_guard g(TreeLock());
    items_.push_back(a);
    Changed(*this);
    return static_cast<int64_t>(items_.size());
}

int64_t MenuItems::NumItems() const {
    std::lock_guard g(TreeLock());
    return static_cast<int64_t>(items_.size());
}

xpp::Value MenuItems::GetItem(int64_t i) const {
    std::lock_guard g(TreeLock());
    if (i < 1 || i > static_cast<int64_t>(items_.size())) return xpp::Value();
    return xpp::Array(items_[static_cast<size_t>(i - 1)].Items());
}

bool MenuItems::OpenItem(int64_t i) {
    Journal("OpenItem", {i});
    std::lock_guard g(TreeLock());
    if (i < 1 || i > static_cast<int64_t>(items_.size())) return false;
    opened_ = i;
    ++openings_;
    Changed(*this);
    return true;
}

int64_t MenuItems::OpenedItem(uint64_t* openings) const {
    std::lock_guard g(TreeLock());
    if (openings) *openings = openings_;
    return opened_;
}

// ---------------------------------------------------------------- drag data
xpp::Class& DragData::ClassObject() {
    static xpp::ClassSlot slot;
    return slot.Get("XbpDragData", nullptr, [](xpp::Class& c) {
        c.AddMessage("GetFormats", [](xpp::Object& o, xpp::Args&) {
            return xpp::Value(static_cast<DragData&>(o).GetFormats());
        });
        c.AddMessage("GetData", [](xpp::Object& o, xpp::Args& a) {
            return static_cast<DragData&>(o).GetData(static_cast<int>(a.Get(1).Int()));
        });
    });
}

std::shared_ptr<DragData> DragData::New(std::optional<std::string> text, std::vector<std::string> files) {
    ClassObject();
    auto d = std::make_shared<DragData>();
    d->text_ = std::move(text);
    if (!files.empty()) d->files_ = std::move(files);
    return d;
}

xpp::Array DragData::GetFormats() const {
    xpp::Array a;
    if (text_) a.Add(xpp::Array{static_cast<int>(XBPCLPBRD_TEXT)});
    if (files_) a.Add(xpp::Array{static_cast<int>(XBPCLPBRD_FILELIST)});
    return a;
}

xpp::Value DragData::GetData(int format) const {
    if (format == XBPCLPBRD_TEXT && text_) return *text_;
    if (format == XBPCLPBRD_FILELIST && files_) {
        xpp::Array a;
        for (auto& f : *files_) a.Add(f);
        return a;
    }
    return xpp::Value();
}

// ----------------------------------------------------- colours and fonts
int64_t GraColorRGB(int64_t colour) {
    static const int64_t table[16] = {0xFFFFFF, 0x0000FF, 0xFF0000, 0xFF00FF, 0x00FF00, 0x00FFFF,
                                      0xFFFF00, 0x000000, 0x808080, 0x000080, 0x800000, 0x800080,
                                      0x008000, 0x008080, 0x808000, 0xC0C0C0};
    return colour >= 0 && colour < 16 ? table[colour] : -1;
}

bool ParseFontCompoundName(const std::string& name, int& points, std::string& family) {
    size_t dot = name.find('.');
    if (dot == std::string::npos || dot == 0) return false;
    int n = 0;
    for (size_t i = 0; i < dot; ++i) {
        if (name[i] < '0' || name[i] > '9' || n > 1000) return false;
        n = n * 10 + (name[i] - '0');
    }
    points = n;
    family = name.substr(dot + 1);
    return true;
}

}  // namespace xbp
