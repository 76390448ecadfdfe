// Modal runs on the screen: Qt's modality, the keyboard focus, and a close
// request made on the dialog's widget.
#include <gtest/gtest.h>

#include <QPointer>

#include "qt_support.h"

namespace {

// The application's main window (parent of the dialog), another owner, the
// dialog and an edit on it; the focus on the main window.
struct Windows {
    std::shared_ptr<XbpDialog> main, owner, dlg;
    std::shared_ptr<XbpSLE> sle;

    explicit Windows(bool ownerIsParent) {
        main = xbp::New<XbpDialog>(Args{Value(), Value(), Array{40, 40}, Array{640, 480}});
        main->create();
        owner = xbp::New<XbpDialog>(Args{Value(), Value(), Array{700, 40}, Array{200, 100}});
        owner->create();
        dlg = xbp::New<XbpDialog>(Args{Value(main), Value(ownerIsParent ? main : owner), Array{50, 50},
                                       Array{300, 200}, Value(), false});
        dlg->create();
        sle = xbp::New<XbpSLE>(Args{Value(dlg->drawingArea()), Value(), Array{10, 10}, Array{150, 24}});
        sle->create();
        xbp::SetAppFocus(Value(main));
        QApplication::processEvents();
    }
    ~Windows() {
        main->destroy();
        owner->destroy();
    }
};

// What the wait hook saw while the run waited for its first event.
struct DuringTheRun {
    bool seen = false;
    bool visible = false;
    Qt::WindowModality modality = Qt::NonModal;
    QWidget* activeModal = nullptr;
    QWidget* focus = nullptr;
    QImage picture, edit;
};

// At the first wait: notes what Qt shows, grabs the dialog to a PNG, and
// asks the dialog's widget to close as the user's close button does.
// A second wait means the close did not end the run: a failure, then a
// close event to stop it.
void CloseAtTheFirstWait(const Windows& w, DuringTheRun& during, const std::string& png) {
    xt::SetWaitHook([&w, &during, png] {
        QApplication::processEvents();
        if (during.seen) {
            ADD_FAILURE() << "the close request did not end the run";
            xbp::PostAppEvent(kCloseEvent, Value(), Value(), Value(w.dlg));
            return true;
        }
        during.seen = true;
        QWidget* dialog = xt::WidgetOf(w.dlg);
        if (!dialog) return false;
        during.visible = dialog->isVisible();
        during.modality = dialog->windowModality();
        during.activeModal = QApplication::activeModalWidget();
        during.focus = QApplication::focusWidget();
        if (xt::GrabToPng(w.dlg, png)) during.picture = QImage(QString::fromStdString(png));
        during.edit = xt::Grab(w.sle);
        dialog->close();  // refused by the widget, queued as the close event
        return true;
    });
}

}  // namespace

TEST(ModalOnScreen, TheDialogIsApplicationModalWithTheEditFocusedUntilARealCloseEndsTheRun) {
    Windows w(false);
    QWidget* mainWidget = xt::WidgetOf(w.main);
    ASSERT_NE(mainWidget, nullptr);
    ASSERT_EQ(QApplication::focusWidget(), mainWidget);
    PictureDir dir;
    DuringTheRun during;
    CloseAtTheFirstWait(w, during, dir.File("modal.png"));

    Value result = w.dlg->ShowModal(Value(w.sle));
    xt::SetWaitHook(nullptr);
    QApplication::processEvents();

    ASSERT_TRUE(during.seen);
    EXPECT_TRUE(during.visible);
    EXPECT_EQ(during.modality, Qt::ApplicationModal);
    EXPECT_EQ(during.activeModal, xt::WidgetOf(w.dlg));
    EXPECT_EQ(during.focus, xt::WidgetOf(w.sle));
    ASSERT_FALSE(during.picture.isNull());
    EXPECT_EQ(during.picture.size(), xt::WidgetOf(w.dlg)->size());
    // the edit looked focused then (frame and caret), and does not now
    EXPECT_GT(DifferenceOf(during.edit, xt::Grab(w.sle)).count, 0);

    EXPECT_TRUE(xpp::ExactEq(result, 2));
    EXPECT_TRUE(xpp::ExactEq(w.dlg->ModalResult, 2));
    EXPECT_TRUE(xpp::ExactEq(w.dlg->IsModal, false));
    QWidget* dialog = xt::WidgetOf(w.dlg);
    ASSERT_NE(dialog, nullptr);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->windowModality(), Qt::NonModal);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_EQ(xbp::SetAppFocus().Obj(), w.main);
    EXPECT_EQ(QApplication::focusWidget(), mainWidget) << "the focus is back where it was";

    // again, with the application's block for the close event setting the
    // result: the block's "OK" wins over the close
    Value kept = xbp::SetAppEvent(kCloseEvent, xpp::Block([&w](Args&) -> Value {
                                      w.dlg->ModalResult = "OK";
                                      return Value();
                                  }));
    DuringTheRun again;
    CloseAtTheFirstWait(w, again, dir.File("again.png"));
    result = w.dlg->ShowModal(Value(w.sle));
    xt::SetWaitHook(nullptr);
    xbp::SetAppEvent(kCloseEvent, kept);
    EXPECT_TRUE(again.seen);
    EXPECT_EQ(result.Str(), "OK");
    EXPECT_EQ(w.dlg->ModalResult.Str(), "OK");
    EXPECT_FALSE(xt::WidgetOf(w.dlg)->isVisible());
}

TEST(ModalOnScreen, OwnedByItsParentTheDialogIsNotQtModal) {
    Windows w(true);
    PictureDir dir;
    DuringTheRun during;
    CloseAtTheFirstWait(w, during, dir.File("modeless.png"));
    Value result = w.dlg->ShowModal(Value(w.sle));
    xt::SetWaitHook(nullptr);
    ASSERT_TRUE(during.seen);
    EXPECT_TRUE(during.visible);
    EXPECT_EQ(during.modality, Qt::NonModal);
    EXPECT_EQ(during.activeModal, nullptr);
    EXPECT_EQ(during.focus, xt::WidgetOf(w.sle));
    EXPECT_TRUE(xpp::ExactEq(result, 2));
}
