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
#define ROWXPP_FORWARDING_MEMBERS(Name, Base)                               \
    ROWXPP_GUI_CLASS_BODY(Name)                                             \
public:                                                                     \
    void init(xpp::Args& args) override { INIT(args); }                     \
    xpp::Value INIT(xpp::Args& args) {                                      \
        xbp::Base::init(args);                                              \
        return xpp::Value(shared_from_this());                              \
    }
#define ROWXPP_FORWARDING_CLASS(Name, Base)                                 \
    class Name : public xbp::Base {                                         \
        ROWXPP_FORWARDING_MEMBERS(Name, Base)                               \
    };

ROWXPP_FORWARDING_CLASS(XbpCombobox, XbpBaseCombobox)
ROWXPP_FORWARDING_CLASS(XbpListBox, XbpBaseListBox)
ROWXPP_FORWARDING_CLASS(XbpPushButton, XbpBasePushButton)
ROWXPP_FORWARDING_CLASS(XbpMenu, XbpBaseMenu)
ROWXPP_FORWARDING_CLASS(XbpTreeView, XbpBaseTreeView)
ROWXPP_FORWARDING_CLASS(XbpTreeViewItem, XbpBaseTreeViewItem)
ROWXPP_FORWARDING_CLASS(Xbp3State, XbpBase3State)
ROWXPP_FORWARDING_CLASS(XbpTabPage, XbpBaseTabPage)
ROWXPP_FORWARDING_CLASS(XbpScrollBar, XbpBaseScrollBar)
ROWXPP_FORWARDING_CLASS(XbpCheckBox, XbpBaseCheckBox)
ROWXPP_FORWARDING_CLASS(XbpRadioButton, XbpBaseRadioButton)
ROWXPP_FORWARDING_CLASS(XbpStatic, XbpBaseStatic)
#undef ROWXPP_FORWARDING_CLASS

// A spin button that shows its value padded with zeros again when the user
// leaves it after typing an unpadded number.
class XbpSpinButton : public xbp::XbpBaseSpinbutton {
    ROWXPP_FORWARDING_MEMBERS(XbpSpinButton, XbpBaseSpinbutton)
public:
    // With PadWithZeros .T. and an entry that is empty or does not start
    // with "0": SetData(EditBuffer()) first. Then the base's KillInputFocus.
    xpp::Value KillInputFocus() override;
};

// A menu bar whose items carrying attribute bit 131072 open by the key
// after their "~" (or, without one, "&") marker.
class XbpMenuBar : public xbp::XbpBaseMenubar {
    ROWXPP_FORWARDING_MEMBERS(XbpMenuBar, XbpBaseMenubar)
public:
    static constexpr int64_t kAcceleratorItem = 131072;
    // 2 with nKey := the position of the first matching item; 0 when none.
    xpp::Value OnMenuKey(xpp::Ref nKey, const xpp::Value& xUnused) override;
};

// Edit controls that take dropped text, or the text of the first dropped
// ".TXT" file (directly or through a ".LNK" link).
class XbpSLE : public xbp::XbpBaseSLE {
    ROWXPP_FORWARDING_MEMBERS(XbpSLE, XbpBaseSLE)
public:
    // 1 when the drop can be taken, else 0.
    xpp::Value DragEnter(const xpp::Value& aState, const xpp::Value& oData) override;
    // 1 when the text replaced the marked range (or went in at the caret).
    xpp::Value DragDrop(const xpp::Value& aState, const xpp::Value& oData) override;
};

class XbpMLE : public xbp::XbpBaseMLE {
    ROWXPP_FORWARDING_MEMBERS(XbpMLE, XbpBaseMLE)
public:
    xpp::Value DragEnter(const xpp::Value& aState, const xpp::Value& oData) override;
    // 1 when the text was inserted at the insertion point.
    xpp::Value DragDrop(const xpp::Value& aState, const xpp::Value& oData) override;
};

// What a drop offers as text: GetData(1) when text is offered, else the
// whole content of the first ".TXT" path among the dropped files (".LNK"
// paths resolved in place first); NIL when there is none or it cannot be
// opened.
xpp::Value DroppedText(const xpp::Value& oData);
// 1 when a drop offers text or a ".TXT" file (links resolved), else 0.
xpp::Value DropAcceptable(const xpp::Value& oData);

// Its class function also makes CRT windows take their presentation space
// of this class.
class XbpPresSpace : public xbp::XbpBasePresSpace {
    ROWXPP_FORWARDING_MEMBERS(XbpPresSpace, XbpBasePresSpace)
public:
    // DrawCaptionStr(aStart [, aEnd], cText [, nFormat] [, nTabWidth]): a
    // one-line caption; the end point from the text's box when NIL, the
    // format or-ed with DT_SINGLELINE + DT_EXPANDTABS (100 when NIL).
    xpp::Value DrawCaptionStr(xpp::Args args);
    // DrawFormattedStr(aStart, aEnd, cText, nFormat [, nTabWidth]): draws
    // through DrawTextA into the rectangle of the two points. .T. when a
    // text height above 0 came back; .F. when nothing was drawn, the device
    // context could not be locked or an argument check failed.
    xpp::Value DrawFormattedStr(xpp::Args args);
};
#undef ROWXPP_FORWARDING_MEMBERS

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
    // Drag events: none while SetMouse() is .F. (answers 0); with MouseMode
    // 1 the pixel position in mp1[2] becomes {row, column} in a copy. Then
    // the base's HandleEvent, which every other event reaches directly.
    xpp::Value HandleEvent(int nEvent, const xpp::Value& mp1, const xpp::Value& mp2) override;
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
