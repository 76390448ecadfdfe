// The class tree: one class object per class, made at the first call of its
// class function, and the Init of the two modal window classes.
#include <atomic>
#include <mutex>

#include "rowxpp/gui.h"

namespace rowxpp {

namespace {

// The finished class of one class function; never cleared.
struct GuiClassSlot {
    std::atomic<xpp::Class*> done{nullptr};
    xpp::ClassSlot slot;
};

// Makes a class once: under the class lock, the superclass's class function
// first, then the class under its name with that superclass, then its
// INITCLASS once, still under the lock. Later calls answer the stored class.
xpp::Class& MakeClass(GuiClassSlot& s, const char* name, xpp::Class& (*superclass)(),
                      xpp::Class& (*initClass)(xpp::Class&)) {
    if (xpp::Class* c = s.done.load(std::memory_order_acquire)) return *c;
    auto lock = xpp::ClassLock();
    if (xpp::Class* c = s.done.load(std::memory_order_acquire)) return *c;
    xpp::Class& parent = superclass();
    xpp::Class& made = s.slot.Get(name, &parent, [initClass](xpp::Class& c) { initClass(c); });
    s.done.store(&made, std::memory_order_release);
    return made;
}

// The first `count` arguments of `args`, NIL for the missing ones.
xpp::Args FirstArguments(const xpp::Args& args, size_t count) {
    xpp::Args out;
    for (size_t i = 1; i <= count; ++i) out.Add(args.Passed(i) ? args.Items()[i - 1] : xpp::Arg(xpp::Value()));
    return out;
}

}  // namespace

#define ROWXPP_CLASS_FUNCTION(Name, Base, FUNCTION)                                      \
    xpp::Class& Name::ClassObject() {                                                    \
        static GuiClassSlot slot;                                                        \
        return MakeClass(slot, #Name, &xbp::Base::ClassObject, &Name::INITCLASS);        \
    }                                                                                    \
    xpp::Class& Name::INITCLASS(xpp::Class& cls) {                                       \
        xbp::Base::initClass(cls);                                                       \
        return cls;                                                                      \
    }                                                                                    \
    xpp::Class& FUNCTION() { return Name::ClassObject(); }

// The modal members and run, sent by name ("_" + name assigns).
template <class W>
void AddModalMessages(xpp::Class& cls) {
    cls.AddMessage("ShowModal", [](xpp::Object& o, xpp::Args& a) { return static_cast<W&>(o).ShowModal(a.Get(1)); });
    cls.AddMessage("ModalResult", [](xpp::Object& o, xpp::Args&) { return static_cast<W&>(o).ModalResult; });
    cls.AddMessage("_ModalResult", [](xpp::Object& o, xpp::Args& a) { return static_cast<W&>(o).ModalResult = a.Get(1); });
    cls.AddMessage("IsModal", [](xpp::Object& o, xpp::Args&) { return static_cast<W&>(o).IsModal; });
    cls.AddMessage("_IsModal", [](xpp::Object& o, xpp::Args& a) { return static_cast<W&>(o).IsModal = a.Get(1); });
}

#define ROWXPP_MODAL_CLASS_FUNCTION(Name, Base, FUNCTION, Before)                        \
    xpp::Class& Name::ClassObject() {                                                    \
        static GuiClassSlot slot;                                                        \
        Before;                                                                          \
        return MakeClass(slot, #Name, &xbp::Base::ClassObject, &Name::INITCLASS);        \
    }                                                                                    \
    xpp::Class& Name::INITCLASS(xpp::Class& cls) {                                       \
        xbp::Base::initClass(cls);                                                       \
        AddModalMessages<Name>(cls);                                                     \
        return cls;                                                                      \
    }                                                                                    \
    xpp::Class& FUNCTION() { return Name::ClassObject(); }

ROWXPP_MODAL_CLASS_FUNCTION(XbpDialog, XbpBaseDialog, XBPDIALOG, (void)0)
// A CRT's space is made through the presentation space's class function,
// whichever class a program uses first.
ROWXPP_MODAL_CLASS_FUNCTION(XbpCrt, XbpBaseCrt, XBPCRT, XbpPresSpace::ClassObject())
ROWXPP_CLASS_FUNCTION(XbpCombobox, XbpBaseCombobox, XBPCOMBOBOX)
ROWXPP_CLASS_FUNCTION(XbpListBox, XbpBaseListBox, XBPLISTBOX)
ROWXPP_CLASS_FUNCTION(XbpPushButton, XbpBasePushButton, XBPPUSHBUTTON)
ROWXPP_CLASS_FUNCTION(XbpSpinButton, XbpBaseSpinbutton, XBPSPINBUTTON)
ROWXPP_CLASS_FUNCTION(XbpMenuBar, XbpBaseMenubar, XBPMENUBAR)
ROWXPP_CLASS_FUNCTION(XbpMenu, XbpBaseMenu, XBPMENU)
ROWXPP_CLASS_FUNCTION(XbpSLE, XbpBaseSLE, XBPSLE)
ROWXPP_CLASS_FUNCTION(XbpMLE, XbpBaseMLE, XBPMLE)
ROWXPP_CLASS_FUNCTION(XbpTreeView, XbpBaseTreeView, XBPTREEVIEW)
ROWXPP_CLASS_FUNCTION(XbpTreeViewItem, XbpBaseTreeViewItem, XBPTREEVIEWITEM)
ROWXPP_CLASS_FUNCTION(Xbp3State, XbpBase3State, XBP3STATE)
ROWXPP_CLASS_FUNCTION(XbpTabPage, XbpBaseTabPage, XBPTABPAGE)
ROWXPP_CLASS_FUNCTION(XbpScrollBar, XbpBaseScrollBar, XBPSCROLLBAR)
ROWXPP_CLASS_FUNCTION(XbpCheckBox, XbpBaseCheckBox, XBPCHECKBOX)
ROWXPP_CLASS_FUNCTION(XbpRadioButton, XbpBaseRadioButton, XBPRADIOBUTTON)
ROWXPP_CLASS_FUNCTION(XbpStatic, XbpBaseStatic, XBPSTATIC)
#undef ROWXPP_CLASS_FUNCTION

// The presentation space class: made like the others, and once made, the
// CRT windows take their presentation space of it. The factory is set
// outside the class lock: the window model takes its own lock to store it.
xpp::Class& XbpPresSpace::ClassObject() {
    static GuiClassSlot slot;
    static std::once_flag factory;
    xpp::Class& cls = MakeClass(slot, "XbpPresSpace", &xbp::XbpBasePresSpace::ClassObject, &XbpPresSpace::INITCLASS);
    std::call_once(factory, [] {
        xbp::SetCrtPresSpaceFactory([] { return std::shared_ptr<xbp::XbpBasePresSpace>(new XbpPresSpace()); });
    });
    return cls;
}
xpp::Class& XbpPresSpace::INITCLASS(xpp::Class& cls) {
    xbp::XbpBasePresSpace::initClass(cls);
    cls.AddMessage("DrawCaptionStr", [](xpp::Object& o, xpp::Args& a) {
        return static_cast<XbpPresSpace&>(o).DrawCaptionStr(a);
    });
    cls.AddMessage("DrawFormattedStr", [](xpp::Object& o, xpp::Args& a) {
        return static_cast<XbpPresSpace&>(o).DrawFormattedStr(a);
    });
    return cls;
}
xpp::Class& XBPPRESSPACE() { return XbpPresSpace::ClassObject(); }

// ------------------------------------------------------------- modal windows
namespace {
// The end of Init: modeless, no result yet; answers the window itself.
xpp::Value StartModeless(ModalWindow& window, xpp::ObjectRef self) {
    window.IsModal = false;
    window.ModalResult = 0;
    return xpp::Value(std::move(self));
}
}  // namespace

xpp::Value XbpDialog::Init(xpp::Args& args) {
    xpp::Args six = FirstArguments(args, 6);
    xbp::XbpBaseDialog::init(six);
    return StartModeless(*this, shared_from_this());
}

xpp::Value XbpCrt::Init(xpp::Args& args) {
    xpp::Args seven = FirstArguments(args, 7);
    xbp::XbpBaseCrt::init(seven);
    return StartModeless(*this, shared_from_this());
}

}  // namespace rowxpp
