// The GUI classes of the library: the Xbp window classes an application
// uses (XbpDialog, XbpStatic, ...), each a subclass of the runtime's base
// class of the same kind (XbpBaseDialog, XbpBaseStatic, ...), the modal loop,
// a few window functions and the error flash window.
//
// Every class function makes its class once, under the runtime's class
// lock, and answers the same class object on every later call from any
// thread. Objects are made with xbp::New<T>(args), which runs the class's
// init with the caller's exact argument list.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "rowxpp/exception.h"
#include "xbp/treeviewitem.h"
#include "xbp/xbp.h"
#include "xpp/xpp.h"

namespace rowxpp {

// What every class of the tree declares. INITCLASS is the class
// initialisation: run once when the class is made, it hands on to the base
// class's initClass and answers the class object.
#define ROWXPP_GUI_CLASS_BODY(Name)                                         \
public:                                                                     \
    static xpp::Class& ClassObject();                                       \
    xpp::Class& classObject() const override { return ClassObject(); }     \
    static xpp::Class& INITCLASS(xpp::Class& cls);                          \
                                                                            \
protected:                                                                  \
    template <class T>                                                      \
    friend std::shared_ptr<T> xbp::New(xpp::Args);                          \
    Name() = default;

// A class that only forwards: its INIT hands the caller's arguments on to
// the base class's init unchanged (same count, same order, nothing added,
// defaulted or checked) and answers the new object itself.
#define ROWXPP_FORWARDING_CLASS(Name, Base)                                 \
    class Name : public xbp::Base {                                         \
        ROWXPP_GUI_CLASS_BODY(Name)                                         \
    public:                                                                 \
        void init(xpp::Args& args) override { INIT(args); }                 \
        xpp::Value INIT(xpp::Args& args) {                                  \
            xbp::Base::init(args);                                          \
            return xpp::Value(shared_from_this());                          \
        }                                                                   \
    };

ROWXPP_FORWARDING_CLASS(XbpCombobox, XbpBaseCombobox)
ROWXPP_FORWARDING_CLASS(XbpListBox, XbpBaseListBox)
ROWXPP_FORWARDING_CLASS(XbpPushButton, XbpBasePushButton)
ROWXPP_FORWARDING_CLASS(XbpSpinButton, XbpBaseSpinbutton)
ROWXPP_FORWARDING_CLASS(XbpMenuBar, XbpBaseMenubar)
ROWXPP_FORWARDING_CLASS(XbpMenu, XbpBaseMenu)
ROWXPP_FORWARDING_CLASS(XbpSLE, XbpBaseSLE)
ROWXPP_FORWARDING_CLASS(XbpMLE, XbpBaseMLE)
ROWXPP_FORWARDING_CLASS(XbpTreeView, XbpBaseTreeView)
ROWXPP_FORWARDING_CLASS(XbpTreeViewItem, XbpBaseTreeViewItem)
ROWXPP_FORWARDING_CLASS(Xbp3State, XbpBase3State)
ROWXPP_FORWARDING_CLASS(XbpTabPage, XbpBaseTabPage)
ROWXPP_FORWARDING_CLASS(XbpScrollBar, XbpBaseScrollBar)
ROWXPP_FORWARDING_CLASS(XbpCheckBox, XbpBaseCheckBox)
ROWXPP_FORWARDING_CLASS(XbpRadioButton, XbpBaseRadioButton)
ROWXPP_FORWARDING_CLASS(XbpStatic, XbpBaseStatic)
// Its class function also makes CRT windows take their presentation space
// of this class.
ROWXPP_FORWARDING_CLASS(XbpPresSpace, XbpBasePresSpace)
#undef ROWXPP_FORWARDING_CLASS

// The two members of a window that runs modally.
struct ModalWindow {
    // 0 while a modal run goes on; any other number, or a value of another
    // type, ends it and is the run's result. 0 after Init and at the start
    // of every run.
    xpp::Value ModalResult = 0;
    // .T. while the window runs modally.
    xpp::Value IsModal = false;
};

class XbpDialog : public xbp::XbpBaseDialog, public ModalWindow {
    ROWXPP_GUI_CLASS_BODY(XbpDialog)
public:
    void init(xpp::Args& args) override { Init(args); }
    // Hands exactly six arguments to the base class's init (the first six
    // given, NIL for missing ones), then IsModal := .F., ModalResult := 0.
    xpp::Value Init(xpp::Args& args);
    // Runs the dialog through DISPLAYMODALDLG and answers ModalResult.
    xpp::Value ShowModal(const xpp::Value& oFocus = xpp::Value());
};

class XbpCrt : public xbp::XbpBaseCrt, public ModalWindow {
    ROWXPP_GUI_CLASS_BODY(XbpCrt)
public:
    void init(xpp::Args& args) override { Init(args); }
    // As XbpDialog's, with exactly seven arguments.
    xpp::Value Init(xpp::Args& args);
    xpp::Value ShowModal(const xpp::Value& oFocus = xpp::Value());
};

// The class functions.
xpp::Class& XBPDIALOG();
xpp::Class& XBPCRT();
xpp::Class& XBPCOMBOBOX();
xpp::Class& XBPLISTBOX();
xpp::Class& XBPPUSHBUTTON();
xpp::Class& XBPSPINBUTTON();
xpp::Class& XBPMENUBAR();
xpp::Class& XBPMENU();
xpp::Class& XBPSLE();
xpp::Class& XBPMLE();
xpp::Class& XBPTREEVIEW();
xpp::Class& XBPTREEVIEWITEM();
xpp::Class& XBP3STATE();
xpp::Class& XBPTABPAGE();
xpp::Class& XBPSCROLLBAR();
xpp::Class& XBPCHECKBOX();
xpp::Class& XBPRADIOBUTTON();
xpp::Class& XBPSTATIC();
xpp::Class& XBPPRESSPACE();

// ------------------------------------------------------------- modal runs
// Event code of a close request; it ends a modal run with 2.
inline constexpr int kCloseEvent = xbp::xbeP_Close;

// Runs a dialog or CRT window of these classes modally: shows it, gives it
// (then oFocus, when that is an object) the focus, dispatches the
// application's events until a handler sets a ModalResult, a window is
// closed or the window is hidden, then hides it and answers the result.
// -1, with nothing changed, when oDlg is no such window.
xpp::Value DISPLAYMODALDLG(const xpp::Value& oDlg, const xpp::Value& oFocus = xpp::Value());

// ------------------------------------------------------- window functions
// The nearest dialog or CRT window above oXbp (oXbp itself never); NIL when
// there is none or oXbp is no window.
xpp::Value GETPARENTFORM(const xpp::Value& oXbp);
// CENTERCONTROL(oXbp [, oParent]): centres oXbp over oParent (default: its
// own parent), fractions and negative positions kept. Answers NIL; after a
// failed argument check it moves nothing.
xpp::Value CENTERCONTROL(xpp::Args args);
// Whether the application is drawn with visual styles (lCheckApp NIL: .T.,
// the application's own theming is asked too).
bool ISTHEMEACTIVE(const xpp::Value& lCheckApp = xpp::Value());

// ------------------------------------------------------ the flash window
// __FLASH(text, rc, title): shows an error text for a second. Nothing for
// rc 1 or without an application window; in a GUI application a yellow
// dialog with one line per CR LF-ended line of the text (the text after the
// last CR LF is not shown; a text without CR LF shows nothing); otherwise
// Alert() with CR LF turned into ";". Answers NIL.
xpp::Value FLASH_(const xpp::Value& text, const xpp::Value& rc, const xpp::Value& title);

// The lines the flash window shows: the pieces ended by CR LF.
std::vector<std::string> FlashLines(const std::string& text);

// The flash dialog's frame: its size and its position over the
// application window (pixels, origin bottom left).
struct FlashFrame {
    double width = 0, height = 0, x = 0, y = 0;
};
// `lines` lines, the longest `longest` characters, over an application
// window of parentWidth x parentHeight.
FlashFrame FlashFrameOf(size_t lines, size_t longest, double parentWidth, double parentHeight);

// Where the lines go inside the dialog's drawing area.
struct FlashLineLayout {
    double lineWidth = 0, lineHeight = 0;
    std::vector<std::pair<double, double>> positions;  // line 1 first, on top
};
// From the dialog's client rectangle {x, y, width, height}; `lines` >= 1.
FlashLineLayout FlashLinesIn(const xpp::Array& clientRect, size_t lines);

}  // namespace rowxpp
