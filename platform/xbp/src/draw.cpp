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

// Tabs to blanks up to the next stop every `every` characters.
QString ExpandTabs(const QString& text, int every) {
    QString out;
    int column = 0;
    for (QChar c : text) {
        if (c == '\t') {
            int n = every - column % every;
            out.append(QString(n, ' '));
            column += n;
        } else {
            out.append(c);
            column = c == '\n' ? 0 : column + 1;
        }
    }
    return out;
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

    QString q = kivqt::ToQ(bytes);
    if (format & DT_EXPANDTABS) {
        int every = tabStop ? static_cast<int>((format >> 8) & 0xFF) : 8;
        q = xbp::ExpandTabs(q, every > 0 ? every : 8);
    }
    const QRect box(QPoint(rect[0], rect[1]), QPoint(rect[2] - 1, rect[3] - 1));
    const QFont font = xbp::SpaceFont(*ps);  // before Paint takes the space's lock
    int height = 0;
    ps->Paint([&](QImage& image) {
        QPainter p(&image);
        p.setFont(font);
        p.setPen(Qt::black);
        if (clip) p.setClipRect(box);
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
