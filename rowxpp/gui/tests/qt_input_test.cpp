// Qt input on shown windows, queued as the runtime's events and handed to
// the windows as a program's loop does: drops on a CRT and on the edits, a
// spin button left after typing, and a key on a menu bar.
#include <gtest/gtest.h>

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLineEdit>
#include <QMenuBar>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QTest>
#include <QUrl>

#include "drop_support.h"
#include "qt_support.h"

namespace {

// An application's CRT window that notes the positions its drops bring.
class DropCrt : public XbpCrt {
public:
    static xpp::Class& ClassObject() {
        static xpp::ClassSlot slot;
        return slot.Get("DropCrt", &XBPCRT());
    }
    xpp::Class& classObject() const override { return ClassObject(); }
    std::vector<std::string> drops;
    Value DragDrop(const Value& state, const Value&) override {
        drops.push_back(xpp::Var2Char(state.Arr().Get(2)));
        return 1;
    }

protected:
    template <class T>
    friend std::shared_ptr<T> xbp::New(Args);
    DropCrt() = default;
};

// A drag that enters `widget` at `at` and is dropped there, as Qt delivers it.
void DragAndDrop(QWidget* widget, const QMimeData& mime, QPoint at = QPoint(5, 5)) {
    QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &enter);
    QDropEvent drop(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &drop);
}

std::shared_ptr<XbpDialog> ShownDialog() {
    auto d = xbp::New<XbpDialog>(Args{Value(), Value(), Array{60, 60}, Array{320, 240}});
    d->create();
    return d;
}

}  // namespace

TEST(InputOnScreen, ADropOnACrtArrivesInTheRowAndColumnOfItsPixel) {
    MouseGuard mouse;
    auto crt = xbp::New<DropCrt>(Args{Value(), Value(), Array{40, 40}, 25, 80, "CRT", true});
    crt->MouseMode = 1;
    crt->create();
    ASSERT_EQ(crt->MaxRow(), 24);
    QWidget* widget = xt::WidgetOf(crt);
    ASSERT_NE(widget, nullptr);
    const int fw = static_cast<int>(crt->FontWidth.Int()), fh = static_cast<int>(crt->FontHeight.Int());
    ASSERT_EQ(widget->size(), QSize(80 * fw, 25 * fh));
    const QPoint centre(10 * fw + fw / 2, 5 * fh + fh / 2);  // row 5, column 10, counted from the top left
    QMimeData mime;
    mime.setText("t");
    for (bool on : {true, false}) {
        SCOPED_TRACE(on ? "mouse on" : "mouse off");
        xbp::SetMouse(on);
        crt->drops.clear();
        DragAndDrop(widget, mime, centre);
        auto handled = DispatchQueued();
        if (on) {
            EXPECT_EQ(crt->drops, std::vector<std::string>{"{5, 10}"});
            EXPECT_EQ(ResultsOf(handled, xbp::xbeP_DragDrop), std::vector<int64_t>{1});
        } else {
            EXPECT_TRUE(crt->drops.empty());
            EXPECT_EQ(ResultsOf(handled, xbp::xbeP_DragDrop), std::vector<int64_t>{0});
        }
    }
    crt->destroy();
}

TEST_F(DropFiles, DropsOnTheEditsOfAShownDialog) {
    auto dlg = ShownDialog();
    auto area = Value(dlg->drawingArea());
    auto sle = xbp::New<XbpSLE>(Args{area, Value(), Array{10, 180}, Array{200, 24}});
    auto shown = xbp::New<XbpSLE>(Args{area, Value(), Array{10, 140}, Array{200, 24}});  // for comparison
    auto mle = xbp::New<XbpMLE>(Args{area, Value(), Array{10, 10}, Array{200, 100}});
    sle->create();
    shown->create();
    mle->create();
    auto* edit = qobject_cast<QLineEdit*>(xt::WidgetOf(sle));
    ASSERT_NE(edit, nullptr);
    QMimeData text;
    text.setText("xy");

    // the caret after "AB", placed in Qt, the focus elsewhere
    xbp::SetAppFocus(Value(mle));
    QApplication::processEvents();  // the focus settled: a focus loss would clear a selection
    sle->SetData("ABCDE");
    edit->setCursorPosition(2);
    EXPECT_EQ(xpp::Var2Char(sle->QueryMarked()), "{2, 2}");
    DragAndDrop(edit, text);
    EXPECT_EQ(ResultsOf(DispatchQueued(), xbp::xbeP_DragDrop), std::vector<int64_t>{1});
    EXPECT_EQ(edit->text(), "ABxyCDE");
    shown->SetData("ABxyCDE");
    EXPECT_EQ(DifferenceOf(xt::Grab(sle), xt::Grab(shown)).count, 0) << "the grab shows ABxyCDE";
    PictureDir dir;
    EXPECT_TRUE(xt::GrabToPng(dlg, dir.File("drop.png")));

    // "BC" marked in Qt
    sle->SetData("ABCDE");
    edit->setSelection(1, 2);
    EXPECT_EQ(xpp::Var2Char(sle->QueryMarked()), "{1, 3}");
    DragAndDrop(edit, text);
    DispatchQueued();
    EXPECT_EQ(edit->text(), "AxyDE");
    EXPECT_EQ(sle->EditBuffer().Str(), "AxyDE");

    // files on the multi-line edit, typed into and its caret moved in Qt
    auto* lines = qobject_cast<QPlainTextEdit*>(xt::WidgetOf(mle));
    ASSERT_NE(lines, nullptr);
    QTest::keyClicks(lines, "one two");
    QTextCursor caret = lines->textCursor();
    caret.setPosition(4);
    lines->setTextCursor(caret);
    EXPECT_EQ(mle->Caret(), 4u);
    QMimeData link;
    link.setUrls({QUrl::fromLocalFile(QString::fromStdString(Path("b.lnk")))});
    DragAndDrop(lines->viewport(), link);
    auto handled = DispatchQueued();
    EXPECT_EQ(ResultsOf(handled, xbp::xbeP_DragEnter), std::vector<int64_t>{1});
    EXPECT_EQ(ResultsOf(handled, xbp::xbeP_DragDrop), std::vector<int64_t>{1});
    EXPECT_EQ(lines->toPlainText(), "one text of atwo");
    EXPECT_EQ(mle->EditBuffer().Str(), "one text of atwo");

    QMimeData doc;
    doc.setUrls({QUrl::fromLocalFile(QString::fromStdString(Path("c.doc")))});
    DragAndDrop(lines->viewport(), doc);
    handled = DispatchQueued();
    EXPECT_EQ(ResultsOf(handled, xbp::xbeP_DragEnter), std::vector<int64_t>{0});
    EXPECT_EQ(ResultsOf(handled, xbp::xbeP_DragDrop), std::vector<int64_t>{0});
    EXPECT_EQ(lines->toPlainText(), "one text of atwo");
    dlg->destroy();
}

TEST(InputOnScreen, ASpinButtonLeftAfterTypingShowsItsNumberPadded) {
    auto dlg = ShownDialog();
    auto area = Value(dlg->drawingArea());
    auto spin = xbp::New<XbpSpinButton>(Args{area, Value(), Array{10, 10}, Array{80, 24}});
    auto padded = xbp::New<XbpSpinButton>(Args{area, Value(), Array{10, 50}, Array{80, 24}});  // for comparison
    auto next = xbp::New<XbpSLE>(Args{area, Value(), Array{10, 90}, Array{80, 24}});
    for (auto& s : {spin, padded}) {
        s->PadWithZeros = true;
        s->SetNumLimits(0, 999);
        s->create();
    }
    next->create();
    padded->SetData(7);
    auto* box = xt::WidgetOf(spin);
    ASSERT_NE(box, nullptr);
    for (const char* typed : {"7", "007"}) {
        SCOPED_TRACE(typed);
        spin->SetText("");
        xbp::SetAppFocus(Value(spin));
        QApplication::processEvents();
        QTest::keyClicks(box, typed);
        EXPECT_EQ(spin->Text(), typed);
        xt::ClearJournal();
        xbp::SetAppFocus(Value(next));  // the focus leaves
        auto handled = DispatchQueued();
        int setData = 0;
        for (auto& c : xt::Journal()) setData += c.what == "XbpBaseSpinbutton:SetData" && c.self.lock() == spin;
        EXPECT_EQ(setData, std::string(typed) == "7" ? 1 : 0);
        EXPECT_EQ(spin->Text(), "007");
        EXPECT_EQ(DifferenceOf(xt::Grab(spin), xt::Grab(padded)).count, 0) << "the grab shows 007";
    }
    dlg->destroy();
}

TEST(InputOnScreen, AKeyOnAMenuBarOpensTheItemItMarks) {
    auto dlg = ShownDialog();
    auto bar = xbp::New<XbpMenuBar>(Args{Value(dlg->drawingArea()), Value(), Array{0, 180}, Array{300, 24}});
    bar->AddItem(Array{"~File", Value(), 0, XbpMenuBar::kAcceleratorItem});
    bar->AddItem(Array{"~Edit", Value(), 0, XbpMenuBar::kAcceleratorItem});
    bar->create();
    auto* menu = qobject_cast<QMenuBar*>(xt::WidgetOf(bar));
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(menu->actions().size(), 2);
    QTest::keyClick(menu, 'x');  // no item marks it
    EXPECT_EQ(ResultsOf(DispatchQueued(), xbp::xbeP_MenuKey), std::vector<int64_t>{0});
    EXPECT_EQ(menu->activeAction(), nullptr);
    QTest::keyClick(menu, 'e');
    EXPECT_EQ(ResultsOf(DispatchQueued(), xbp::xbeP_MenuKey), std::vector<int64_t>{2});
    EXPECT_EQ(menu->activeAction(), menu->actions()[1]) << "the second item is open";
    EXPECT_EQ(bar->OpenedItem(), 2);
    dlg->destroy();
}

// Alt with a marked character reaches OnMenuKey through the queue as a key
// on the bar does: "~Edit" opens when it is opened by its marked key, and a
// bar whose items are not opens nothing, though the letters are underlined.
TEST(InputOnScreen, AltWithAMarkedKeyOpensOnlyAnItemOpenedByItsKey) {
    for (const bool byKey : {true, false}) {
        SCOPED_TRACE(byKey ? "items opened by their key" : "items without the attribute");
        auto dlg = ShownDialog();
        auto bar = xbp::New<XbpMenuBar>(Args{Value(dlg->drawingArea()), Value(), Array{0, 180}, Array{300, 24}});
        const Value attribute = byKey ? Value(XbpMenuBar::kAcceleratorItem) : Value(0);
        bar->AddItem(Array{"~File", Value(), 0, attribute});
        bar->AddItem(Array{"~Edit", Value(), 0, attribute});
        bar->create();
        auto* menu = qobject_cast<QMenuBar*>(xt::WidgetOf(bar));
        ASSERT_NE(menu, nullptr);
        menu->window()->activateWindow();
        QApplication::setActiveWindow(menu->window());
        QTest::keyClick(menu->window(), Qt::Key_E, Qt::AltModifier);
        EXPECT_EQ(ResultsOf(DispatchQueued(), xbp::xbeP_MenuKey), std::vector<int64_t>{byKey ? 2 : 0});
        if (byKey) {
            EXPECT_EQ(menu->activeAction(), menu->actions()[1]) << "the second item is open";
            EXPECT_EQ(bar->OpenedItem(), 2);
        } else {
            EXPECT_EQ(menu->activeAction(), nullptr);
            EXPECT_EQ(bar->OpenedItem(), 0);
        }
        dlg->destroy();
    }
}
