// Text on presentation spaces: DrawTextA and SetTextAlign reached through
// DllCall as a program reaches them, and GraQueryTextBox.
#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QImage>

#include "../src/qtside.h"
#include "xbp/native.h"
#include "xbp/testing.h"
#include "xbp/xbp.h"

using namespace xbp;
namespace xt = xbp::testing;
using xpp::Array;
using xpp::Ref;
using xpp::Value;

namespace {

// A RECT as the program builds it: four little-endian 32-bit integers.
std::string Rect(int left, int top, int right, int bottom) {
    std::string r;
    for (int v : {left, top, right, bottom}) r += xpp::L2Bin(v);
    return r;
}

Value DrawText(int64_t hDC, const std::string& text, const std::string& rect, int64_t format) {
    return xpp::DllCall("USER32.DLL", xpp::DLL_STDCALL, "DrawTextA",
                        {hDC, text, static_cast<int64_t>(text.size()), rect, format});
}

// The box around the pixels that are not white; empty when all are.
QRect Inked(const QImage& image) {
    QRect box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if ((image.pixel(x, y) & 0xFFFFFF) != 0xFFFFFF) box |= QRect(x, y, 1, 1);
    return box;
}

// An image space of 200 x 60 with a locked device context.
struct Locked {
    std::shared_ptr<XbpBasePresSpace> ps = New<XbpBasePresSpace>();
    Ref hDC;
    int64_t lock = 0;
    Locked() {
        ps->create(Value(), Array{200, 60});
        lock = ps->lockHDC(4, hDC);
    }
    ~Locked() {
        if (lock) ps->UnlockHDC(lock, hDC.Get());
    }
    int64_t Hdc() const { return hDC.Get().Int(); }
    QImage Drawn(const std::string& text, int64_t format, const std::string& rect) {
        ps->Paint([](QImage& i) { i.fill(Qt::white); });
        DrawText(Hdc(), text, rect, format);
        return ps->Image();
    }
};

}  // namespace

TEST(XbpDraw, DrawTextAThroughDllCallDrawsInsideTheRectangleAndAnswersTheLineHeight) {
    Locked l;
    ASSERT_NE(l.lock, 0);
    const int height = QFontMetrics(QtFont(l.ps->FontCompoundName())).height();
    xt::ClearJournal();
    Value drawn = DrawText(l.Hdc(), "Flash text", Rect(20, 10, 150, 40), DT_CENTER | DT_SINGLELINE);
    EXPECT_EQ(drawn.Int(), height);
    QRect ink = Inked(l.ps->Image());
    ASSERT_FALSE(ink.isEmpty());
    EXPECT_TRUE(QRect(20, 10, 130, 30).contains(ink)) << ink.x() << "," << ink.y() << " " << ink.width() << "x"
                                                      << ink.height();
    // centred: about as much room on the left as on the right
    EXPECT_LE(std::abs((ink.left() - 20) - (149 - ink.right())), 3);
    // the call is in the journal with its arguments
    bool seen = false;
    for (auto& c : xt::Journal())
        if (c.what == "DrawTextA") {
            seen = true;
            EXPECT_EQ(c.args.Get(2).Str(), "Flash text");
            EXPECT_EQ(xpp::Var2Char(c.args.Get(4)), "{20, 10, 150, 40}");
            EXPECT_EQ(c.args.Get(5).Int(), 33);
        }
    EXPECT_TRUE(seen);

    // a text longer than the rectangle is cut at its edges
    l.ps->Paint([](QImage& i) { i.fill(Qt::white); });
    DrawText(l.Hdc(), std::string(60, 'W'), Rect(30, 20, 60, 35), DT_SINGLELINE);
    ink = Inked(l.ps->Image());
    EXPECT_TRUE(QRect(30, 20, 30, 15).contains(ink));
}

TEST(XbpDraw, FlagsMnemonicsTabsAndTheCodePage) {
    Locked l;
    const std::string rect = Rect(0, 0, 200, 60);
    // "&" underlines the mnemonic; "&&" is a plain ampersand
    QImage plain = l.Drawn("Window", DT_SINGLELINE, rect);
    QImage marked = l.Drawn("&Window", DT_SINGLELINE, rect);
    EXPECT_NE(plain, marked);
    EXPECT_GT(Inked(marked).bottom(), Inked(plain).bottom());  // the underline sits below the letters
    QImage literal = l.Drawn("&Window", DT_SINGLELINE | DT_NOPREFIX, rect);  // shows the ampersand
    EXPECT_NE(literal, marked);
    EXPECT_GT(Inked(literal).right(), Inked(plain).right() + 3);
    EXPECT_EQ(l.Drawn("&&Window", DT_SINGLELINE, rect), literal);
    // vertically centred text sits lower than top-aligned text
    EXPECT_GT(Inked(l.Drawn("Mid", DT_SINGLELINE | DT_VCENTER, rect)).top(),
              Inked(l.Drawn("Mid", DT_SINGLELINE, rect)).top() + 10);
    // tab stops every n average characters (n in bits 8 to 15)
    const int64_t tabs = DT_SINGLELINE | DT_EXPANDTABS | DT_TABSTOP;
    int two = Inked(l.Drawn("\tX", tabs | (2 << 8), rect)).left();
    int ten = Inked(l.Drawn("\tX", tabs | (10 << 8), rect)).left();
    EXPECT_GT(ten, two + 15);
    // an OEM text converted to ANSI draws as the ANSI one: 0x81 is "ü" in 850
    std::string ansi = xpp::ConvToAnsiCP("Gr\x81" "n");
    EXPECT_EQ(ansi, "Gr\xfc" "n");
    EXPECT_EQ(l.Drawn(ansi, DT_SINGLELINE, rect), l.Drawn("Gr\xfc" "n", DT_SINGLELINE, rect));
}

TEST(XbpDraw, StaleAndUnknownHandlesDrawNothing) {
    auto ps = New<XbpBasePresSpace>();
    ps->create(Value(), Array{100, 40});
    Ref hDC;
    xt::ClearJournal();
    int64_t lock = ps->lockHDC(4, hDC);
    ASSERT_NE(lock, 0);
    ASSERT_FALSE(xt::Journal().empty());
    EXPECT_EQ(xt::Journal().front().what, "XbpBasePresSpace:lockHDC");  // the argument is kept
    EXPECT_EQ(xt::Journal().front().args.Get(1).Int(), 4);
    EXPECT_EQ(xpp::DllCall("GDI32.DLL", xpp::DLL_STDCALL, "SetTextAlign", {hDC.Get(), 24}).Int(), 0);
    EXPECT_EQ(xpp::DllCall("GDI32.DLL", xpp::DLL_STDCALL, "SetTextAlign", {hDC.Get(), 0}).Int(), 24);
    EXPECT_TRUE(ps->UnlockHDC(lock, hDC.Get()));
    EXPECT_EQ(xt::LockedDeviceContexts(), 0);
    EXPECT_EQ(DrawText(hDC.Get().Int(), "Stale", Rect(0, 0, 100, 40), DT_SINGLELINE).Int(), 0);
    EXPECT_EQ(DrawText(12345, "Unknown", Rect(0, 0, 100, 40), DT_SINGLELINE).Int(), 0);
    EXPECT_EQ(static_cast<uint32_t>(
                  xpp::DllCall("GDI32.DLL", xpp::DLL_STDCALL, "SetTextAlign", {hDC.Get(), 0}).Int()),
              GDI_ERROR);
    EXPECT_TRUE(Inked(ps->Image()).isEmpty());
}

TEST(XbpDraw, User32StillGivesTheRuntimesDesktopWindow) {
    EXPECT_NE(xpp::MappedLibrary("USER32.DLL").find("libxbp"), std::string::npos);
    EXPECT_EQ(xpp::MappedLibrary("GDI32.DLL"), xpp::MappedLibrary("USER32.DLL"));
    EXPECT_EQ(xpp::DllCall("USER32.DLL", xpp::DLL_STDCALL, "GetDesktopWindow").Int(),
              static_cast<int64_t>(reinterpret_cast<intptr_t>(GetDesktopWindow())));
}

TEST(XbpDraw, GraQueryTextBoxMeasuresInTheSpacesFont) {
    auto ps = New<XbpBasePresSpace>();
    ps->create(Value(), Array{100, 40});
    struct Case {
        std::string font, text;
    } cases[] = {{"", "Hello"}, {"8.DejaVu Sans", "Morvane \xfc"}, {"14.DejaVu Sans Mono", "Wide text"},
                 {"10.No Such Family", "Falls back"}};
    for (auto& c : cases) {
        ps->SetFontCompoundName(c.font);
        Value box = GraQueryTextBox(Value(ps), c.text);
        ASSERT_TRUE(box.IsArray());
        ASSERT_EQ(box.Arr().Len(), 5u);
        QFontMetrics fm(QtFont(c.font));
        auto pt = [&](size_t i) { return box.Arr().Get(i).Arr(); };
        EXPECT_EQ(pt(3).Get(1).Int() - pt(2).Get(1).Int(), fm.horizontalAdvance(QString::fromLatin1(c.text.c_str())))
            << c.font;
        EXPECT_EQ(pt(3).Get(2).Int() - pt(2).Get(2).Int(), fm.height()) << c.font;
        EXPECT_EQ(xpp::Var2Char(pt(5)), "{" + std::to_string(pt(3).Get(1).Int()) + ", 0}");
    }
    EXPECT_EQ(QtFont("10.No Such Family").family(), "DejaVu Sans");
    EXPECT_EQ(QtFont("14.DejaVu Sans Mono").pointSize(), 14);
    EXPECT_TRUE(GraQueryTextBox(Value(42), "x").IsNil());
}

// Tab stops are pixel stops every n average character widths of the
// space's font: the column after a tab starts at the same x whatever the
// widths of the text before it.
TEST(XbpDraw, TabStopsLineColumnsUpInPixels) {
    Locked l;
    const std::string rect = Rect(0, 0, 200, 60);
    const int avg = QFontMetrics(QtFont(l.ps->FontCompoundName())).averageCharWidth();
    ASSERT_GT(avg, 0);
    const int64_t width8 = DT_SINGLELINE | DT_EXPANDTABS | DT_TABSTOP | (8 << 8);
    const int stop = 8 * avg;
    // the part right of the stop is pixel-equal after narrow and wide text
    const QImage narrow = l.Drawn("iiii\tCity", width8, rect);
    const QImage wide = l.Drawn("WWWW\tCity", width8, rect);
    const QRect right(stop, 0, 200 - stop, 60);
    EXPECT_EQ(narrow.copy(right), wide.copy(right));
    EXPECT_EQ(Inked(narrow.copy(right)).left() + stop, Inked(l.Drawn("\tCity", width8, rect)).left());
    EXPECT_FALSE(Inked(narrow.copy(right)).isEmpty());
    // a first column wider than a stop goes on to the next one
    const QImage longer = l.Drawn("WWWWWWWWWW\tCity", width8, rect);
    const int wideText = QFontMetrics(QtFont(l.ps->FontCompoundName())).horizontalAdvance("WWWWWWWWWW");
    ASSERT_GT(wideText, stop);
    const int next = (wideText / stop + 1) * stop;
    EXPECT_EQ(longer.copy(QRect(next, 0, 200 - next, 60)), l.Drawn("\tCity", width8, rect).copy(QRect(stop, 0, 200 - next, 60)));
    // DT_EXPANDTABS alone: stops every 8 widths
    EXPECT_EQ(l.Drawn("iiii\tCity", DT_SINGLELINE | DT_EXPANDTABS, rect), narrow);
    // two lines: both columns start at the stop
    const QImage lines = l.Drawn("iiii\tCity\nWWWW\tCity", DT_EXPANDTABS | DT_TABSTOP | (8 << 8), rect);
    const int lineSpacing = QFontMetrics(QtFont(l.ps->FontCompoundName())).lineSpacing();
    EXPECT_EQ(lines.copy(QRect(stop, 0, 200 - stop, lineSpacing)),
              lines.copy(QRect(stop, lineSpacing, 200 - stop, lineSpacing)));
}
