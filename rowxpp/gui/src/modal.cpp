// Modal runs of dialogs and CRT windows: the application's event loop run
// inside the call until the window is finished.
#include "rowxpp/gui.h"

namespace rowxpp {

namespace {

// "Not equal" without the runtime's error for values of two types.
bool Differ(const xpp::Value& a, const xpp::Value& b) { return a.Type() != b.Type() || !xpp::ExactEq(a, b); }

// The window and its modal members when `oDlg` is a dialog or CRT window of
// these classes (or of an application's subclass of them).
struct ModalTarget {
    std::shared_ptr<xbp::Window> window;
    ModalWindow* modal = nullptr;
};

ModalTarget Target(const xpp::Value& oDlg) {
    ModalTarget t;
    if (!oDlg.IsObject()) return t;
    xpp::ObjectRef o = oDlg.Obj();
    // IsDerivedFrom("XbpCrt") is only asked when the first answer is .F.
    if (!o->isDerivedFrom("XbpDialog") && !o->isDerivedFrom("XbpCrt")) return t;
    auto window = std::dynamic_pointer_cast<xbp::Window>(o);
    auto* modal = dynamic_cast<ModalWindow*>(o.get());
    if (window && modal) {
        t.window = std::move(window);
        t.modal = modal;
    }
    return t;
}

// oXbp:HandleEvent(nEvent, mp1, mp2), sent without looking: a window of
// the library directly, any other target by name (a target that does not
// answer it raises the runtime's error).
void Dispatch(const xpp::Value& target, int event, const xpp::Value& mp1, const xpp::Value& mp2) {
    if (auto w = target.As<xbp::Window>()) {
        w->HandleEvent(event, mp1, mp2);
        return;
    }
    xpp::Send(target, "HandleEvent", xpp::Args{event, mp1, mp2});
}

xpp::Value ShowModalOf(ModalWindow& self, const xpp::Value& me, const xpp::Value& oFocus) {
    self.IsModal = true;
    DISPLAYMODALDLG(me, oFocus);
    self.IsModal = false;
    return self.ModalResult;
}

}  // namespace

xpp::Value DISPLAYMODALDLG(const xpp::Value& oDlg, const xpp::Value& oFocus) {
    xpp::Value oldFocus = xbp::SetAppFocus();
    ModalTarget t = Target(oDlg);
    if (!t.window) return -1;
    xbp::Window& dlg = *t.window;
    ModalWindow& m = *t.modal;

    if (!dlg.IsVisible()) dlg.Show();
    xbp::SetAppFocus(oDlg);
    if (oFocus.IsObject()) xbp::SetAppFocus(oFocus);
    if (Differ(dlg.SetOwner(), dlg.SetParent())) dlg.SetModalState(2);

    m.ModalResult = 0;
    m.IsModal = true;
    bool goOn = true;
    xpp::Value result;
    while (goOn) {
        xpp::Ref mp1, mp2, oXbp;
        int event = xbp::AppEvent(mp1, mp2, oXbp);
        xpp::Value handler = xbp::SetAppEvent(event);
        if (!handler.IsNil()) xpp::Eval(handler, xpp::Args{mp1.Get(), mp2.Get(), oXbp.Get()});
        Dispatch(oXbp.Get(), event, mp1.Get(), mp2.Get());
        // all three tests run in every pass; the last one that holds wins
        if (event == kCloseEvent) {
            result = 2;
            goOn = false;
        }
        if (!dlg.IsVisible()) {
            result = 2;
            goOn = false;
        }
        if (!m.ModalResult.IsNum() || m.ModalResult.Dbl() != 0) {
            result = m.ModalResult;
            goOn = false;
        }
    }

    if (Differ(m.ModalResult, result)) m.ModalResult = result;
    if (Differ(dlg.SetOwner(), dlg.SetParent())) {
        dlg.SetModalState(1);
        xbp::SetAppFocus(dlg.SetOwner());
    }
    m.IsModal = false;
    if (Differ(oldFocus, oDlg)) xbp::SetAppFocus(oldFocus);
    dlg.Hide();
    return result;
}

xpp::Value XbpDialog::ShowModal(const xpp::Value& oFocus) {
    return ShowModalOf(*this, xpp::Value(shared_from_this()), oFocus);
}

xpp::Value XbpCrt::ShowModal(const xpp::Value& oFocus) {
    return ShowModalOf(*this, xpp::Value(shared_from_this()), oFocus);
}

}  // namespace rowxpp
