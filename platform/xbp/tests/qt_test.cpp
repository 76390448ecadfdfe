// The Qt side: widgets that follow the model, Qt input as queued events,
// SLEEP that keeps painting, the message boxes, offscreen.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QComboBox>
#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFocusEvent>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QListWidget>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTreeView>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <atomic>
#include <cstdlib>
#include <optional>
#include <thread>

#include "test_support.h"
#include "xbp/testing.h"
#include "xbp/xbp.h"
#include "xpp/testing.h"

using namespace xbp;
namespace xt = xbp::testing;
using xpp::Args;
using xpp::Array;
using xpp::Ref;
using xpp::Value;
using xbptest::Got;
using xbptest::Next;

namespace {

// A private folder for the pictures, removed with the object.
class PictureDir {
public:
    PictureDir() {
        std::string pattern = ::testing::TempDir() + "xbpqt.XXXXXX";
        path_ = mkdtemp(pattern.data()) ? pattern : "";
    }
    ~PictureDir() {
        if (!path_.empty()) std::system(("rm -rf '" + path_ + "'").c_str());
    }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// The dialog of the flash window: titled, border 9, no system menu.
std::shared_ptr<XbpBaseDialog> FlashDialog(int w = 300, int h = 200) {
    auto d = New<XbpBaseDialog>(Args{Value(), Value(), Array{100, 100}, Array{w, h}, Value(), false});
    d->border = 9;
    d->moveWithOwner = true;
    d->sysMenu = false;
    d->titleBar = true;
    d->title = "Flash \x80";
    d->create();
    return d;
}

constexpr QRgb kYellow = 0xFFFF00;

}  // namespace

TEST(XbpQt, TheApplicationRunsOffscreenAsAGuiApplication) {
    EXPECT_TRUE(QtRunning());
    EXPECT_EQ(QGuiApplication::platformName(), "offscreen");
    EXPECT_EQ(xpp::AppType(), xpp::APPTYPE_PM);
    // starting again changes nothing but the application window
    auto d = FlashDialog();
    Value old = xpp::SetAppWindow();
    EXPECT_TRUE(StartApplication(Value(d)));
    EXPECT_EQ(xpp::SetAppWindow().Obj(), d);
    xpp::SetAppWindow(old);
    // another thread cannot be Qt's
    bool elsewhere = true;
    std::thread([&] { elsewhere = StartApplication(); }).join();
    EXPECT_FALSE(elsewhere);
    d->destroy();
}

TEST(XbpQt, AFlashDialogIsGrabbedWithItsStaticTwentyPixelsAboveTheBottom) {
    auto d = FlashDialog();
    // the client area is 33 pixels lower than the frame
    Array client = d->calcClientRect(Array{0, 0, 300, 200});
    EXPECT_EQ(client.Get(4).Int(), 200 - 33);
    const int cw = static_cast<int>(client.Get(3).Int()), ch = static_cast<int>(client.Get(4).Int());
    d->drawingArea()->setColorBG(GRA_CLR_YELLOW);
    d->drawingArea()->setFontCompoundName(xpp::NationMsg(118));
    auto s = New<XbpBaseStatic>(Args{Value(d->drawingArea()), Value(), Array{10, 20}, Array{100, 30}});
    s->setColorBG(GRA_CLR_YELLOW);
    s->caption = "Morvane";
    s->create();

    // shown, then grabbed while the program sleeps (the test clock runs the
    // grab at the first sleep)
    PictureDir dir;
    const std::string png = dir.File("flash.png");
    xpp::testing::TestClock clock(2460000, 0);
    xpp::testing::Clock* before = xpp::testing::SetClock(&clock);
    bool grabbed = false;
    clock.AtSleep(1, [&] { grabbed = xt::GrabToPng(d, png); });
    d->Show();
    xpp::Sleep(100);
    xpp::testing::SetClock(before);
    ASSERT_TRUE(grabbed);
    EXPECT_EQ(clock.Sleeps(), std::vector<int64_t>{100});

    // the widgets follow the model
    QWidget* dw = xt::WidgetOf(d);
    ASSERT_NE(dw, nullptr);
    EXPECT_TRUE(dw->isWindow());
    EXPECT_EQ(dw->windowTitle(), QString::fromUtf8("Flash \xe2\x82\xac"));
    EXPECT_FALSE(dw->windowFlags() & Qt::WindowCloseButtonHint);
    auto* label = qobject_cast<QLabel*>(xt::WidgetOf(s));
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->text(), "Morvane");
    EXPECT_EQ(label->geometry(), QRect(10, ch - 20 - 30, 100, 30));

    QImage image(QString::fromStdString(png));
    ASSERT_FALSE(image.isNull());
    ASSERT_EQ(image.size(), QSize(cw, ch));
    // yellow background; the text's pixels all inside the static's
    // rectangle, whose bottom edge is 20 pixels above the dialog's
    const QRect statik(10, ch - 20 - 30, 100, 30);
    int text = 0, outside = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            if ((image.pixel(x, y) & 0xFFFFFF) == kYellow) continue;
            if (statik.contains(x, y)) ++text;
            else ++outside;
        }
    EXPECT_GT(text, 20);
    EXPECT_EQ(outside, 0);
    EXPECT_EQ(image.pixel(0, 0) & 0xFFFFFF, kYellow);
    EXPECT_EQ(image.pixel(cw - 1, ch - 1) & 0xFFFFFF, kYellow);
    d->destroy();
    EXPECT_EQ(xt::WidgetOf(d), nullptr);
    EXPECT_EQ(xt::WidgetOf(s), nullptr);
}

TEST(XbpQt, ACloseRequestIsRefusedAndQueued) {
    auto d = FlashDialog();
    d->Show();
    QWidget* w = xt::WidgetOf(d);
    ASSERT_NE(w, nullptr);
    ASSERT_TRUE(w->isVisible());
    EXPECT_FALSE(w->close());  // a real close request
    EXPECT_TRUE(w->isVisible());
    Got g = Next();
    EXPECT_EQ(g.event, xbeP_Close);
    EXPECT_EQ(g.target.Obj(), d);
    EXPECT_TRUE(w->isVisible());  // until the model hides it
    d->Hide();
    EXPECT_FALSE(w->isVisible());
    d->destroy();
}

TEST(XbpQt, ADropOnAnSleArrivesAsDragEventsWithTextAndFiles) {
    auto d = FlashDialog();
    auto sle = New<XbpBaseSLE>(Args{Value(d->drawingArea()), Value(), Array{10, 10}, Array{200, 24}});
    sle->create();
    sle->SetData("keep");
    d->Show();
    auto* edit = qobject_cast<QLineEdit*>(xt::WidgetOf(sle));
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(edit->text(), "keep");

    QMimeData mime;
    mime.setText(QString::fromUtf8("dropped \xc3\xa9"));
    mime.setUrls({QUrl::fromLocalFile("/tmp/first file.txt"), QUrl::fromLocalFile("/tmp/second.txt"),
                  QUrl("https://example.invalid/not-local")});
    QDragEnterEvent enter(QPoint(5, 4), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(edit, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(7, 6), Qt::CopyAction, &mime, Qt::LeftButton, Qt::ShiftModifier);
    QApplication::sendEvent(edit, &drop);
    EXPECT_TRUE(drop.isAccepted());

    Got first = Next();
    EXPECT_EQ(first.event, xbeP_DragEnter);
    EXPECT_EQ(first.target.Obj(), sle);
    EXPECT_EQ(xpp::Var2Char(first.mp1.Arr().Get(2)), "{5, 19}");  // 24 pixels high: row 4 from the top
    // the base DragEnter answers 0; the drop comes all the same, and DragDrop decides
    EXPECT_EQ(sle->HandleEvent(first.event, first.mp1, first.mp2).Int(), 0);
    Got dropped = Next();
    EXPECT_EQ(dropped.event, xbeP_DragDrop);
    EXPECT_EQ(dropped.target.Obj(), sle);
    EXPECT_EQ(xpp::Var2Char(dropped.mp1), "{1, {7, 17}}");
    auto data = dropped.mp2.As<DragData>();
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(xpp::Var2Char(data->GetFormats()), "{{1}, {15}}");
    EXPECT_EQ(data->GetData(XBPCLPBRD_TEXT).Str(), "dropped \xe9");
    EXPECT_EQ(xpp::Var2Char(data->GetData(XBPCLPBRD_FILELIST)), "{/tmp/first file.txt, /tmp/second.txt}");
    // the line edit's own drop handling stayed out
    EXPECT_EQ(edit->text(), "keep");
    EXPECT_EQ(sle->EditBuffer().Str(), "keep");
    d->destroy();
}

TEST(XbpQt, TheSpinButtonKeepsWhatTheUserTypedAndPadsOnSetData) {
    auto d = FlashDialog();
    auto spin = New<XbpBaseSpinbutton>(Args{Value(d->drawingArea()), Value(), Array{10, 10}, Array{80, 24}});
    spin->PadWithZeros = true;
    spin->SetNumLimits(0, 999);
    spin->create();
    d->Show();
    auto* box = qobject_cast<QAbstractSpinBox*>(xt::WidgetOf(spin));
    ASSERT_NE(box, nullptr);
    QTest::keyClicks(box, "7");
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(box, &out);
    Got g = Next();
    EXPECT_EQ(g.event, xbeP_KillInputFocus);
    EXPECT_EQ(g.target.Obj(), spin);
    EXPECT_EQ(box->text(), "7");  // no formatting of its own
    EXPECT_EQ(spin->EditBuffer().Int(), 7);
    EXPECT_EQ(spin->XbpBaseSLE::EditBuffer().Str(), "7");
    spin->SetData(7);
    EXPECT_EQ(box->text(), "007");
    EXPECT_EQ(spin->XbpBaseSLE::EditBuffer().Str(), "007");
    d->destroy();
}

TEST(XbpQt, UserEditsReachTheBuffersBeforeTheNextEvent) {
    auto d = FlashDialog();
    auto sle = New<XbpBaseSLE>(Args{Value(d->drawingArea()), Value(), Array{10, 40}, Array{200, 24}});
    auto mle = New<XbpBaseMLE>(Args{Value(d->drawingArea()), Value(), Array{10, 70}, Array{200, 60}});
    sle->create();
    mle->create();
    d->Show();
    QWidget* e = xt::WidgetOf(sle);
    ASSERT_NE(e, nullptr);
    QTest::keyClicks(e, "abcd");
    QTest::keyClick(e, Qt::Key_Left, Qt::ShiftModifier);
    QTest::keyClick(e, Qt::Key_Left, Qt::ShiftModifier);
    QWidget* m = xt::WidgetOf(mle);
    ASSERT_NE(m, nullptr);
    QTest::keyClicks(m, "xy");
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(m, &out);
    Got g = Next();
    EXPECT_EQ(g.event, xbeP_KillInputFocus);
    EXPECT_EQ(g.target.Obj(), mle);
    EXPECT_EQ(sle->EditBuffer().Str(), "abcd");
    EXPECT_EQ(xpp::Var2Char(sle->QueryMarked()), "{2, 4}");
    EXPECT_EQ(mle->EditBuffer().Str(), "xy");
    mle->Insert(Value(), "z");
    EXPECT_EQ(mle->EditBuffer().Str(), "xyz");
    d->destroy();
}

TEST(XbpQt, ModalStateIsQtModality) {
    auto d = FlashDialog();
    d->Show();
    QWidget* w = xt::WidgetOf(d);
    ASSERT_NE(w, nullptr);
    EXPECT_FALSE(w->isModal());
    d->SetModalState(2);
    w = xt::WidgetOf(d);
    EXPECT_TRUE(w->isModal());
    EXPECT_TRUE(w->isVisible());  // shown again after the change
    EXPECT_EQ(QApplication::activeModalWidget(), w);
    d->SetModalState(1);
    EXPECT_FALSE(w->isModal());
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    d->destroy();
}

TEST(XbpQt, MovesAndFractionsAreTruncatedForQt) {
    auto d = FlashDialog();
    auto s = New<XbpBaseStatic>(Args{Value(d->drawingArea()), Value(), Array{10, 20}, Array{50, 10}});
    s->create();
    const int ch = static_cast<int>(d->drawingArea()->CurrentSize().Get(2).Int());
    struct Case {
        double x, y;
        QPoint qt;
    } cases[] = {{100.5, 85, {100, ch - 85 - 10}}, {0, 0, {0, ch - 10}}, {-3.7, 2.5, {-3, ch - 12}}};
    for (auto& c : cases) {
        s->SetPos(Array{c.x, c.y});
        EXPECT_EQ(xt::WidgetOf(s)->pos(), c.qt) << c.x << "," << c.y;
    }
    EXPECT_EQ(xpp::Var2Char(s->CurrentPos()), "{-3.7, 2.5}");  // the model keeps the fractions
    d->destroy();
}

TEST(XbpQt, SleepKeepsQtRunningUntilTheTimeIsUp) {
    int ran = 0;
    QTimer::singleShot(0, [&] { ++ran; });
    QTimer::singleShot(20, [&] { ++ran; });
    auto start = std::chrono::steady_clock::now();
    xpp::Sleep(10);  // the system clock: 100 ms
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(ran, 2);
    EXPECT_GE(ms, 95);
}

TEST(XbpQt, AlertAndConfirmBoxAreQtMessageBoxes) {
    struct Seen {
        QString title, text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
    };
    auto answer = [](Seen& seen, QMessageBox::StandardButton press) {
        QTimer::singleShot(0, [&seen, press] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) return;
            seen = {box->windowTitle(), box->text(), box->icon()};
            box->button(press)->click();
        });
    };
    Seen alert;
    answer(alert, QMessageBox::Ok);
    EXPECT_EQ(xpp::Alert("First line;Second line"), 1);
    EXPECT_EQ(alert.text, "First line\nSecond line");
    EXPECT_EQ(alert.icon, QMessageBox::Warning);

    Seen confirm;
    answer(confirm, QMessageBox::No);
    EXPECT_EQ(xpp::ConfirmBox(Value(), "Delete \x80?", "Question", 4 /* yes, no */, 0x20 /* question */),
              xpp::XBMB_RET_NO);
    EXPECT_EQ(confirm.title, "Question");
    EXPECT_EQ(confirm.text, QString::fromUtf8("Delete \xe2\x82\xac?"));
    EXPECT_EQ(confirm.icon, QMessageBox::Question);

    // a sink that a test installs takes over
    struct Recorder : xpp::PresentationSink {
        std::vector<std::string> seen;
        int ConfirmBox(const Value&, const std::string& text, const std::string&, int, int) override {
            seen.push_back(text);
            return xpp::XBMB_RET_OK;
        }
        int Alert(const std::string& text, const Array&) override {
            seen.push_back(text);
            return 1;
        }
    } recorder;
    xpp::PresentationSink* qt = xpp::SetPresentationSink(&recorder);
    EXPECT_TRUE(StartApplication());  // does not replace it
    xpp::Alert("Recorded");
    EXPECT_EQ(recorder.seen, std::vector<std::string>{"Recorded"});
    xpp::SetPresentationSink(qt);
}

TEST(XbpQt, AWorkersWindowsLeaveNoWidgetBehindWhileTheMainThreadWaitsInQt) {
    auto d = FlashDialog();
    d->Show();
    const int before = xt::WidgetCount();
    std::thread worker([&] {
        for (int i = 0; i < 100; ++i) {
            auto w = New<XbpBaseDialog>(Args{Value(), Value(d), Array{i, i}, Array{80, 60}, Value(), false});
            w->create();
            auto s = New<XbpBaseStatic>(Args{Value(w->drawingArea()), Value(), Array{1, 1}, Array{20, 10}});
            s->caption = "w";
            s->create();
            w->Show();
            w->SetPos(Array{i + 1, i});
            EXPECT_TRUE(w->IsVisible());  // the model answers at once
            w->destroy();
        }
        PostAppEvent(77, Value(), Value(), Value(d));  // to the thread that made d
    });
    EXPECT_EQ(Next().event, 77);  // the main thread waits in Qt's pump
    worker.join();
    EXPECT_EQ(xt::WidgetCount(), before);
    EXPECT_NE(xt::WidgetOf(d), nullptr);
    d->destroy();
    EXPECT_EQ(xt::WidgetCount(), before - 2);  // the dialog and its drawing area
}

TEST(XbpQt, ACrtShowsItsPresentationSpaceAndTakesDrops) {
    auto crt = New<XbpBaseCrt>(Args{Value(), Value(), Array{0, 0}, 2, 10, "CRT", true});
    crt->FontWidth = 8;
    crt->FontHeight = 16;
    crt->create();
    QWidget* w = xt::WidgetOf(crt);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->size(), QSize(80, 32));
    crt->presSpace()->Paint([](QImage& i) { i.fill(Qt::blue); });
    crt->InvalidateRect(Array{0, 0, 79, 31});
    EXPECT_EQ(xt::Grab(crt).pixel(40, 16) & 0xFFFFFF, 0x0000FFu);
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile("/tmp/a.dbf")});
    QDragEnterEvent enter(QPoint(8, 0), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &enter);
    Got g = Next();
    EXPECT_EQ(g.event, xbeP_DragEnter);
    EXPECT_EQ(g.target.Obj(), crt);
    EXPECT_EQ(xpp::Var2Char(g.mp1.Arr().Get(2)), "{8, 31}");  // the top row of pixels
    EXPECT_EQ(xpp::Var2Char(g.mp2.As<DragData>()->GetFormats()), "{{15}}");
    crt->destroy();
}

namespace {

// A menu bar on `d` with "~File" and "~Edit" (the second opened by its
// marked key), the dialog shown.
template <class Bar>
std::shared_ptr<Bar> FileEditBar(const std::shared_ptr<XbpBaseDialog>& d) {
    auto bar = New<Bar>(Args{Value(d->drawingArea()), Value(), Array{0, 140}, Array{292, 24}});
    bar->AddItem(Array{"~File", Value(), 0, 0});
    bar->AddItem(Array{"~Edit", Value(), 0, 0x20000});
    bar->create();
    d->Show();
    return bar;
}

}  // namespace

TEST(XbpQt, AKeyOnTheMenuBarIsQueuedForOnMenuKey) {
    struct AppMenubar : XbpBaseMenubar {
        int64_t key = 0;
        Value OnMenuKey(Ref k, const Value&) override {
            key = k.Get().Int();
            k.Set(1);
            return 2;
        }
    };
    auto d = FlashDialog();
    auto bar = FileEditBar<AppMenubar>(d);
    auto* w = qobject_cast<QMenuBar*>(xt::WidgetOf(bar));
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->actions().size(), 2);
    QTest::keyClick(w, 'e');
    Got g = Next();
    EXPECT_EQ(g.event, xbeP_MenuKey);
    EXPECT_EQ(g.target.Obj(), bar);
    EXPECT_EQ(g.mp1.Int(), 'e');
    EXPECT_EQ(g.target.As<Window>()->HandleEvent(g.event, g.mp1, g.mp2).Int(), 2);
    EXPECT_EQ(bar->key, 'e');
    EXPECT_EQ(w->activeAction(), w->actions()[0]) << "the item it named is open";
    d->destroy();
}

TEST(XbpQt, TheForwardingClassesGetTheirExactArgumentsAndTheMatchingWidget) {
    auto d = FlashDialog();
    Value area(d->drawingArea());
    auto widget = [&](auto window) {
        xt::ClearJournal();
        Args args{area, Value(), Array{5, 5}, Array{60, 20}, Value(), true, "extra"};
        auto w = New<typename decltype(window)::element_type>(args);
        std::vector<xt::Call> calls;
        for (auto& c : xt::Journal())
            if (c.what == w->BaseName() + ":init") calls.push_back(c);
        EXPECT_EQ(calls.size(), 1u);
        if (!calls.empty()) {
            EXPECT_EQ(calls[0].args.PCount(), 7u);
            EXPECT_EQ(calls[0].args.Get(7).Str(), "extra");
        }
        EXPECT_EQ(w->classObject().Name(), w->BaseName());
        w->create();
        QWidget* q = xt::WidgetOf(w);
        return std::make_pair(w, q);
    };
    d->Show();
    auto check = [](auto pair, bool matches, const char* name) {
        EXPECT_TRUE(matches) << name;
        if (pair.second) {
            EXPECT_EQ(pair.second->geometry().size(), QSize(60, 20)) << name;
        }
        pair.first->destroy();
    };
    auto combo = widget(std::shared_ptr<XbpBaseCombobox>());
    check(combo, qobject_cast<QComboBox*>(combo.second) != nullptr, "XbpBaseCombobox");
    auto list = widget(std::shared_ptr<XbpBaseListBox>());
    check(list, qobject_cast<QListWidget*>(list.second) != nullptr, "XbpBaseListBox");
    auto push = widget(std::shared_ptr<XbpBasePushButton>());
    check(push, qobject_cast<QPushButton*>(push.second) != nullptr, "XbpBasePushButton");
    auto tree = widget(std::shared_ptr<XbpBaseTreeView>());
    check(tree, qobject_cast<QTreeView*>(tree.second) != nullptr, "XbpBaseTreeView");
    auto three = widget(std::shared_ptr<XbpBase3State>());
    auto* tri = qobject_cast<QCheckBox*>(three.second);
    check(three, tri && tri->isTristate(), "XbpBase3State");
    auto page = widget(std::shared_ptr<XbpBaseTabPage>());
    check(page, page.second != nullptr, "XbpBaseTabPage");
    auto scroll = widget(std::shared_ptr<XbpBaseScrollBar>());
    check(scroll, qobject_cast<QScrollBar*>(scroll.second) != nullptr, "XbpBaseScrollBar");
    auto box = widget(std::shared_ptr<XbpBaseCheckBox>());
    check(box, qobject_cast<QCheckBox*>(box.second) && !qobject_cast<QCheckBox*>(box.second)->isTristate(),
          "XbpBaseCheckBox");
    auto radio = widget(std::shared_ptr<XbpBaseRadioButton>());
    check(radio, qobject_cast<QRadioButton*>(radio.second) != nullptr, "XbpBaseRadioButton");
    auto item = widget(std::shared_ptr<XbpBaseTreeViewItem>());
    check(item, item.second == nullptr, "XbpBaseTreeViewItem");  // an item, not a window
    d->destroy();
}

TEST(XbpQt, OlderPicturesFromAWorkerCannotBringBackADestroyedWidget) {
    const int before = xt::WidgetCount();
    std::shared_ptr<XbpBaseDialog> w;
    std::thread([&] {
        w = New<XbpBaseDialog>(Args{Value(), Value(), Array{0, 0}, Array{80, 60}, Value(), true});
        w->create();  // its pictures wait for the Qt thread
        w->SetPos(Array{5, 5});
    }).join();
    w->destroy();  // on the Qt thread, before they arrive
    EXPECT_EQ(xt::WidgetCount(), before);
    EXPECT_EQ(xt::WidgetOf(w), nullptr);
    // a window that goes away with its pictures still on their way leaves none either
    std::thread([&] {
        auto gone = New<XbpBaseDialog>(Args{Value(), Value(), Array{0, 0}, Array{80, 60}, Value(), true});
        gone->create();
        gone->destroy();
    }).join();
    EXPECT_EQ(xt::WidgetCount(), before);
}

namespace {

// The picture of a menu bar showing `captions`, 300 x 24 on a shown dialog.
QImage MenuBarPicture(const std::vector<std::string>& captions) {
    auto d = FlashDialog();
    auto bar = New<XbpBaseMenubar>(Args{Value(d->drawingArea()), Value(), Array{0, 140}, Array{292, 24}});
    for (auto& c : captions) bar->AddItem(Array{c, Value(), 0, 0});
    bar->create();
    d->Show();
    QImage picture = xt::Grab(bar);
    d->destroy();
    return picture;
}

}  // namespace

TEST(XbpQt, MenuCaptionsUnderlineTheirMarkedCharacterAndShowNoMarkers) {
    const QImage tilde = MenuBarPicture({"~File", "~Edit"});
    ASSERT_FALSE(tilde.isNull());
    EXPECT_EQ(tilde, MenuBarPicture({"&File", "&Edit"}));
    EXPECT_NE(tilde, MenuBarPicture({"File", "Edit"}));
    // with "~" an ampersand is shown as itself
    EXPECT_EQ(MenuBarPicture({"Save ~as & close"}), MenuBarPicture({"Save &as && close"}));
    EXPECT_NE(MenuBarPicture({"Save ~as & close"}), MenuBarPicture({"Save as & close"}));
}

TEST(XbpQt, AltWithAMarkedCharacterIsQueuedForOnMenuKeyOnly) {
    auto d = FlashDialog();
    auto bar = FileEditBar<XbpBaseMenubar>(d);
    auto* w = qobject_cast<QMenuBar*>(xt::WidgetOf(bar));
    ASSERT_NE(w, nullptr);
    w->window()->activateWindow();
    QApplication::setActiveWindow(w->window());
    QTest::keyClick(w->window(), Qt::Key_E, Qt::AltModifier);
    Got g = Next();
    EXPECT_EQ(g.event, xbeP_MenuKey);
    EXPECT_EQ(g.target.Obj(), bar);
    EXPECT_EQ(g.mp1.Int(), 'e');
    EXPECT_EQ(w->activeAction(), nullptr) << "Qt itself opens nothing";
    d->destroy();
}

TEST(XbpQt, AScrollBarIsHorizontalWhenWiderThanHigh) {
    auto d = FlashDialog();
    auto bar = New<XbpBaseScrollBar>(Args{Value(d->drawingArea()), Value(), Array{10, 10}, Array{200, 16}});
    bar->create();
    d->Show();
    auto* w = qobject_cast<QScrollBar*>(xt::WidgetOf(bar));
    ASSERT_NE(w, nullptr);
    auto same = [&](Qt::Orientation o, QSize size) {
        QScrollBar plain(o, w->parentWidget());
        plain.resize(size);
        plain.show();
        return xt::Grab(bar) == plain.grab().toImage();
    };
    EXPECT_EQ(w->orientation(), Qt::Horizontal);
    EXPECT_TRUE(same(Qt::Horizontal, QSize(200, 16)));
    bar->SetSize(Array{16, 100});
    xt::WidgetOf(bar);
    EXPECT_EQ(w->orientation(), Qt::Vertical);
    EXPECT_TRUE(same(Qt::Vertical, QSize(16, 100)));
    bar->SetSize(Array{120, 16});
    xt::WidgetOf(bar);
    EXPECT_EQ(w->orientation(), Qt::Horizontal);
    d->destroy();
}
