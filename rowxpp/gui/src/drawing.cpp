// Caption and formatted text drawing into a presentation space through
// DrawTextA of "USER32.DLL".
#include <algorithm>
#include <cmath>

#include "rowxpp/gui.h"
#include "syscalls.h"
#include "textbox.h"
#include "xbp/native.h"

namespace rowxpp {

namespace gui {

xpp::Array GraQueryTextBox(const xbp::XbpBasePresSpace& ps, const std::string& text) {
    xpp::Value measured = xbp::GraQueryTextBox(
xpp::Value(std::const_pointer_cast<xpp::Object>(ps.shared_from_this())), text);
    if (measured.IsArray()) return measured.Arr();
    int64_t w = static_cast<int64_t>(text.size()) * kCellWidth, h = kCellHeight;
    return xpp::Array{xpp::Array{0, h}, xpp::Array{0, 0}, xpp::Array{w, h}, xpp::Array{w, 0}, xpp::Array{w, 0}};
}

}  // namespace gui

namespace {

// The bits of DrawTextA's format that hold the tab width with DT_TABSTOP
// (the flags themselves come from xbp/native.h).
constexpr int64_t kTabWidthBits = 0xFF00;

bool IsPoint(const xpp::Value& v) { return v.IsArray() && v.Arr().Len() >= 2; }

// The raises of one argument check, through XBPException with the five
// parameters; false once a check has failed.
class ArgumentChecks {
public:
    explicit ArgumentChecks(const xpp::Args& args)
        : params_{args.Get(1), args.Get(2), args.Get(3), args.Get(4), args.Get(5)} {}
    void Count(bool failed) {
        if (failed) {
            ok_ = false;
            XBPException().raiseParameterCount(params_);
        }
    }
    void Type(bool failed) {
        if (failed) {
            ok_ = false;
            XBPException().raiseParameterType(params_);
        }
    }
    bool Ok() const { return ok_; }

private:
    xpp::Array params_;
    bool ok_ = true;
};

// Caption markers to DrawTextA's prefix character: a "~" that is last or
// not followed by another "~" becomes "&"; a "~~" pair stays as it is and
// the scan goes on behind it.
std::string CaptionToPrefix(std::string text) {
    size_t start = 1;
    while (size_t at = xpp::At("~", text, start)) {
        if (at == text.size() || text[at] != '~') {
            text[at - 1] = '&';
            start = at;
        } else {
            start = at + 2;
        }
    }
    return text;
}

int64_t Coordinate(const xpp::Array& point, size_t i) { return point.Get(i).Int(); }

}  // namespace

xpp::Value XbpPresSpace::DrawCaptionStr(xpp::Args args) {
    XPP_FRAME("XBPPRESSPACE:DRAWCAPTIONSTR");
    xpp::Value aStart = args.Get(1), aEnd = args.Get(2), cText = args.Get(3), nFormat = args.Get(4),
               nTabWidth = args.Get(5);
    ArgumentChecks check(args);
    check.Count(args.PCount() < 3);
    check.Type(!IsPoint(aStart));
    check.Type(aEnd.IsArray() && aEnd.Arr().Len() < 2);
    check.Type(!cText.IsChar());
    if (!check.Ok()) return false;

    if (aEnd.IsNil()) {
        xpp::Array box = gui::GraQueryTextBox(*this, cText.Str());
        xpp::Array p2 = box.Get(2).Arr(), p3 = box.Get(3).Arr();
        xpp::Array start = aStart.Arr();
        aEnd = xpp::Array{start.Get(1).Dbl() + (p3.Get(1).Dbl() - p2.Get(1).Dbl()),
                          start.Get(2).Dbl() + (p3.Get(2).Dbl() - p2.Get(2).Dbl())};
    }
    // or-ed in: a caller's single-line or tab flags stay what they are
    int64_t format = nFormat.IsNum() ? (nFormat.Int() | DT_SINGLELINE | DT_EXPANDTABS)
                                     : (DT_VCENTER | DT_SINGLELINE | DT_EXPANDTABS);
    return DrawFormattedStr(xpp::Args{aStart, aEnd, cText, format, nTabWidth});
}

xpp::Value XbpPresSpace::DrawFormattedStr(xpp::Args args) {
    XPP_FRAME("XBPPRESSPACE:DRAWFORMATTEDSTR");
    xpp::Value aStart = args.Get(1), aEnd = args.Get(2), cText = args.Get(3), nFormat = args.Get(4),
               nTabWidth = args.Get(5);
    ArgumentChecks check(args);
    check.Count(args.PCount() < 4);
    check.Type(!IsPoint(aStart));
    check.Type(!IsPoint(aEnd));
    check.Type(!cText.IsChar());
    check.Type(!nFormat.IsNum());
    if (!check.Ok()) return false;

    xpp::Array p1 = MapPoint(aStart, true, true), p2 = MapPoint(aEnd, true, true);
    // left the start's x, right the end's x; top above bottom
    std::string rect = xpp::L2Bin(Coordinate(p1, 1));
    if (p2.Get(2).Dbl() > p1.Get(2).Dbl())
        rect += xpp::L2Bin(Coordinate(p1, 2)) + xpp::L2Bin(Coordinate(p2, 1)) + xpp::L2Bin(Coordinate(p2, 2));
    else
        rect += xpp::L2Bin(Coordinate(p2, 2)) + xpp::L2Bin(Coordinate(p2, 1)) + xpp::L2Bin(Coordinate(p1, 2));

    int64_t format = nFormat.Int();
    if (nTabWidth.IsNum()) {
        int64_t width = std::clamp<int64_t>(nTabWidth.Int(), 0, 255);
        format = (format & ~kTabWidthBits) | DT_TABSTOP | (width << 8);
    }

    xpp::Ref hDC(xpp::Value(0));
    int64_t lock = lockHDC(4, hDC);
    if (lock == 0) return false;

    std::string text = cText.Str();
    xpp::Value tilde = xpp::Set(xpp::SET_CAPTIONTILDE);
    if (tilde.IsLogical() && tilde.Log()) text = CaptionToPrefix(std::move(text));
    xpp::Value charset = xpp::Set(xpp::SET_CHARSET);
    if (charset.IsNum() && charset.Int() == 1) text = xpp::ConvToAnsiCP(text);
    gui::SETTEXTALIGN(hDC.Get(), 0);
    xpp::Value height = gui::DRAWTEXTA(hDC.Get(), text, static_cast<int64_t>(text.size()), rect, format);

    // the application's own CRT window shows this space: redraw the
    // rectangle there (the points as given)
    xpp::Value appWindow = xpp::SetAppWindow();
    if (auto crt = appWindow.As<xbp::XbpBaseCrt>();
        crt && appWindow.Obj()->isDerivedFrom(XBPCRT()) && crt->presSpace().get() == this) {
        xpp::Array from = aStart.Arr(), to = aEnd.Arr();
        crt->InvalidateRect(xpp::Array{from.Get(1), from.Get(2), to.Get(1), to.Get(2)});
    }
    UnlockHDC(lock, hDC.Get());
    return height.IsNum() && static_cast<int32_t>(height.Int()) > 0;
}

}  // namespace rowxpp
