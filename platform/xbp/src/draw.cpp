// Text on presentation spaces: GraQueryTextBox, and the native text
// functions a program reaches through DllCall ("USER32.DLL" DrawTextA,
// "GDI32.DLL" SetTextAlign), drawing into the space a locked device-context
// handle stands for.
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <cstring>

#include "kivqt/qt.h"
#include "kivwin/win.h"
#include "model.h"
#include "qtside.h"
#include "xbp/native.h"

namespace xbp {

namespace {

// Fonts need a Qt application.
bool CanMeasure() { return QGuiApplication::instance() != nullptr; }

QFont SpaceFont(const XbpBasePresSpace& ps) { return QtFont(ps.FontCompoundName()); }

// Text with tabs, drawn line by line: each tab moves to the first stop right
// of the text before it, the stops `stop` pixels apart from the left edge
// of `box`. Lines are single lines one line spacing apart, placed in the box
// as `flags` says vertically. Answers the height of the lines drawn.
int DrawWithTabStops(QPainter& p, const QRect& box, int flags, const QString& text, int stop) {
    const QFontMetrics fm(p.font());
    QStringList lines = text.split('\n');
    for (QString& l : lines)
        if (l.endsWith('\r')) l.chop(1);
    const int height = fm.lineSpacing() * static_cast<int>(lines.size());
    int y = box.top();
    if (flags & Qt::AlignBottom) y = box.bottom() + 1 - height;
    else if (flags & Qt::AlignVCenter) y = box.top() + (box.height() - height) / 2;
    const int lineFlags = (flags & Qt::TextShowMnemonic) | Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine;
    for (const QString& line : lines) {
        int x = box.left();
        const QStringList pieces = line.split('\t');
        for (qsizetype i = 0; i < pieces.size(); ++i) {
            if (i > 0) x = box.left() + ((x - box.left()) / stop + 1) * stop;
            QRect drawn;
            p.drawText(QRect(x, y, std::max(box.right() + 1 - x, 0), fm.lineSpacing()), lineFlags, pieces[i], &drawn);
            if (!pieces[i].isEmpty()) x = drawn.right() + 1;
        }
        y += fm.lineSpacing();
    }
    return height;
}

// The native library names that lead here.
const bool g_mapped = [] {
    std::string self = kivwin::ModuleFileName(reinterpret_cast<const void*>(&DrawTextA));
    if (!self.empty()) {
        xpp::MapLibrary("USER32.DLL", self);
        xpp::MapLibrary("GDI32.DLL", self);
    }
    return true;
}();

}  // namespace

xpp::Value GraQueryTextBox(const xpp::Value& ps, const std::string& text) {
    auto space = ps.As<XbpBasePresSpace>();
    if (!space || !CanMeasure()) return xpp::Value();
    QFontMetrics fm(SpaceFont(*space));
    int w = fm.horizontalAdvance(kivqt::ToQ(text));
    int up = fm.ascent(), down = fm.descent();
    return xpp::Array{xpp::Array{0, up}, xpp::Array{0, -down}, xpp::Array{w, up}, xpp::Array{w, -down},
                      xpp::Array{w, 0}};
}

}  // namespace xbp

using xbp::XbpBasePresSpace;

extern "C" {

int DrawTextA(int64_t hDC, const char* text, int length, const int32_t* rect, uint32_t format) {
    xpp::Array r{0, 0, 0, 0};
    if (rect)
        for (size_t i = 0; i < 4; ++i) r.Set(i + 1, static_cast<int64_t>(rect[i]));
    std::string bytes;
    if (text) bytes = length < 0 ? std::string(text) : std::string(text, static_cast<size_t>(length));
    auto ps = XbpBasePresSpace::FromHDC(hDC);
    xbp::JournalCall("DrawTextA", ps.get(), {hDC, bytes, length, r, static_cast<int64_t>(format)});
    if (!ps || !rect || !text || bytes.empty() || !xbp::CanMeasure()) return 0;

    const bool tabStop = format & DT_TABSTOP;
    int flags = 0;
    flags |= format & DT_CENTER ? Qt::AlignHCenter : format & DT_RIGHT ? Qt::AlignRight : Qt::AlignLeft;
    flags |= format & DT_VCENTER ? Qt::AlignVCenter : format & DT_BOTTOM ? Qt::AlignBottom : Qt::AlignTop;
    if (format & DT_SINGLELINE) flags |= Qt::TextSingleLine;
    else flags |= Qt::TextWordWrap * ((format & DT_WORDBREAK) != 0);
    // with DT_TABSTOP, bits 8 to 15 hold the tab width instead of flags
    if (tabStop || !(format & DT_NOPREFIX)) flags |= Qt::TextShowMnemonic;
    const bool clip = tabStop || !(format & DT_NOCLIP);

    const QString q = kivqt::ToQ(bytes);
    // tab stops every n average character widths of the space's font
    // (8 without DT_TABSTOP)
    int every = 0;
    if ((format & DT_EXPANDTABS) && q.contains('\t')) {
        every = tabStop ? static_cast<int>((format >> 8) & 0xFF) : 8;
        if (every <= 0) every = 8;
    }
    const QRect box(QPoint(rect[0], rect[1]), QPoint(rect[2] - 1, rect[3] - 1));
    const QFont font = xbp::SpaceFont(*ps);  // before Paint takes the space's lock
    int height = 0;
    ps->Paint([&](QImage& image) {
        QPainter p(&image);
        p.setFont(font);
        p.setPen(Qt::black);
        if (clip) p.setClipRect(box);
        if (every) {
            const int stop = std::max(1, every * QFontMetrics(font).averageCharWidth());
            height = xbp::DrawWithTabStops(p, box, flags, q, stop);
            return;
        }
        QRect drawn;
        p.drawText(box, flags, q, &drawn);
        height = drawn.height();
    });
    return height;
}

uint32_t SetTextAlign(int64_t hDC, uint32_t align) {
    auto ps = XbpBasePresSpace::FromHDC(hDC);
    xbp::JournalCall("SetTextAlign", ps.get(), {hDC, static_cast<int64_t>(align)});
    return ps ? ps->SetTextAlign(align) : GDI_ERROR;
}

}  // extern "C"
