// The error flash window, and the library's INIT procedure that hands it to
// the default error handler.
#include <algorithm>
#include <cmath>

#include "rowxpp/flash_hook.h"
#include "rowxpp/gui.h"

namespace rowxpp {

namespace {

const char kCrLf[] = "\r\n";
constexpr double kMargin = 10;
constexpr double kLineHeight = 14;
constexpr double kCharWidth = 7;
constexpr double kMinWidth = 150;
constexpr double kFrameHeight = 33;  // title bar and frame of the dialog
constexpr int kYellow = xbp::GRA_CLR_YELLOW;

double Int(double d) { return std::trunc(d); }

// Destroys the flash dialog also when an error unwinds through the flash.
struct DestroyAtEnd {
    std::shared_ptr<XbpDialog> dialog;
    ~DestroyAtEnd() {
        if (dialog) dialog->destroy();
    }
};

void ShowDialog(const xpp::Value& appWindow, const std::vector<std::string>& lines, const xpp::Value& title) {
    size_t longest = 0;
    for (auto& l : lines) longest = std::max(longest, l.size());
    // the application window's size: a window of the library directly, any
    // other object by name
    const auto window = appWindow.As<xbp::Window>();
    const xpp::Value size = window ? xpp::Value(window->CurrentSize()) : xpp::Send(appWindow, "currentSize");
    if (!size.IsArray()) return;
    const xpp::Array parentSize = size.Arr();
    FlashFrame f = FlashFrameOf(lines.size(), longest, parentSize.Get(1).Dbl(), parentSize.Get(2).Dbl());

    DestroyAtEnd guard;
    guard.dialog = xbp::New<XbpDialog>(xpp::Args{appWindow, xpp::Value(), xpp::Array{f.x, f.y},
                                                 xpp::Array{f.width, f.height}, xpp::Value(), false});
    XbpDialog& dlg = *guard.dialog;
    dlg.border = 9;
    dlg.moveWithOwner = true;
    dlg.sysMenu = false;
    dlg.titleBar = true;
    dlg.title = title;
    dlg.create();

    xbp::WindowRef area = dlg.drawingArea();
    area->setColorBG(kYellow);
    area->setFontCompoundName(xpp::NationMsg(118));
    xpp::Array client = dlg.calcClientRect(xpp::Array{f.x, f.y, f.width, f.height});
    FlashLineLayout layout = FlashLinesIn(client, lines.size());
    for (size_t i = 0; i < lines.size(); ++i) {
        auto line = xbp::New<XbpStatic>(xpp::Args{xpp::Value(area), xpp::Value(),
                                                  xpp::Array{layout.positions[i].first, layout.positions[i].second},
                                                  xpp::Array{layout.lineWidth, layout.lineHeight}});
        line->setColorBG(kYellow);
        line->caption = lines[i];
        line->create();
    }
    dlg.Show();
    xpp::Sleep(100);
}

}  // namespace

std::vector<std::string> FlashLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 1;
    while (size_t p = xpp::At(kCrLf, text, start)) {
        lines.push_back(xpp::SubStr(text, static_cast<int64_t>(start), static_cast<int64_t>(p - start)));
        start = p + 2;
    }
    return lines;
}

FlashFrame FlashFrameOf(size_t lines, size_t longest, double parentWidth, double parentHeight) {
    FlashFrame f;
    f.width = std::max(static_cast<double>(longest) * kCharWidth + 2 * kMargin, kMinWidth);
    f.height = static_cast<double>(lines) * kLineHeight + 2 * kMargin + kFrameHeight;
    f.x = std::max(Int((parentWidth - f.width) / 2), 0.0);
    f.y = std::max(Int((parentHeight - f.height) / 2), 0.0);
    return f;
}

FlashLineLayout FlashLinesIn(const xpp::Array& clientRect, size_t lines) {
    FlashLineLayout l;
    double h = clientRect.Get(4).Dbl() - 2 * kMargin;
    size_t n = std::max<size_t>(lines, 1);
    l.lineHeight = std::max(1.0, Int(h / static_cast<double>(n)));
    l.lineWidth = clientRect.Get(3).Dbl() - kMargin;
    for (size_t i = 1; i <= lines; ++i)
        l.positions.emplace_back(kMargin, h + kMargin - static_cast<double>(i) * l.lineHeight);
    return l;
}

xpp::Value FLASH_(const xpp::Value& text, const xpp::Value& rc, const xpp::Value& title) {
    xpp::Value appWindow = xpp::SetAppWindow();
    if ((rc.IsNum() && rc.Dbl() == 1) || appWindow.IsNil()) return xpp::Value();
    // no text, nothing to show (the console's alert would wait for nothing)
    if (!text.IsChar()) return xpp::Value();
    const std::string& body = text.Str();
    if (xpp::AppType() == xpp::APPTYPE_PM) {
        std::vector<std::string> lines = FlashLines(body);
        // a text without CR LF has no line to show
        if (lines.empty()) return xpp::Value();
        ShowDialog(appWindow, lines, title);
    } else {
        xpp::Alert(xpp::StrTran(body, kCrLf, ";"));
    }
    return xpp::Value();
}

namespace {
// The library's INIT procedure: the default error handler shows its texts
// through the flash window.
struct ModuleDeclaration {
    ModuleDeclaration() {
        xpp::DeclareModule(
            "ROWXPP_GUI", [] { SetFlashHook(&FLASH_); }, [] {});
    }
} declaration;
}  // namespace

}  // namespace rowxpp
