// Window functions and the system-call wrappers.
#include "rowxpp/gui.h"
#include "syscalls.h"

namespace rowxpp {

namespace gui {

namespace {

// One row of the wrapper family.
struct SystemCall {
    const char* library;
    const char* function;
};

xpp::Value CallSystem(const SystemCall& row, xpp::Args args) {
    int64_t library = xpp::DllLoad(row.library);
    xpp::Value result = xpp::DllCall(library, xpp::DLL_STDCALL, row.function, std::move(args));
    xpp::DllUnload(library);
    return result;
}

}  // namespace

xpp::Value SETTEXTALIGN(const xpp::Value& hdc, const xpp::Value& flags) {
    return CallSystem({"GDI32.DLL", "SetTextAlign"}, xpp::Args{hdc, flags});
}

xpp::Value DRAWTEXTA(const xpp::Value& hdc, const xpp::Value& text, const xpp::Value& length,
                     const xpp::Value& rect, const xpp::Value& format) {
    return CallSystem({"USER32.DLL", "DrawTextA"}, xpp::Args{hdc, text, length, rect, format});
}

xpp::Value GETMODULEHANDLEA(const xpp::Value& moduleName) {
    return CallSystem({"KERNEL32.DLL", "GetModuleHandleA"}, xpp::Args{moduleName});
}

}  // namespace gui

namespace {

bool IsForm(const xpp::Value& v) {
    xpp::ObjectRef o = v.Obj();
    return o && (o->isDerivedFrom("XbpDialog") || o->isDerivedFrom("XbpCrt"));
}

// A system function's BOOL or HRESULT: the low 32 bits of its result, 0 when
// it could not be called.
int32_t Result32(const xpp::Value& v) { return v.IsNum() ? static_cast<int32_t>(v.Int()) : 0; }

}  // namespace

xpp::Value GETPARENTFORM(const xpp::Value& oXbp) {
    auto w = oXbp.As<xbp::Window>();
    if (!w) return xpp::Value();
    xpp::Value parent = w->SetParent();
    while (!parent.IsNil() && !IsForm(parent)) {
        auto p = parent.As<xbp::Window>();
        parent = p ? p->SetParent() : xpp::Value();
    }
    return parent;
}

xpp::Value CENTERCONTROL(xpp::Args args) {
    XPP_FRAME("CENTERCONTROL");
    xpp::Value oXbp = args.Get(1);
    xpp::Value oParent = args.Get(2);
    if (args.PCount() < 1) XBPException().raiseParameterCount(xpp::Array{oXbp});
    // A window is needed: any other object has no parent to centre in.
    auto control = oXbp.As<xbp::Window>();
    if (!control) {
        XBPException().raiseParameterType(xpp::Array{oXbp});
        return xpp::Value();
    }
    xpp::Value realParent = control->SetParent();
    if (oParent.IsNil()) oParent = realParent;
    auto over = oParent.As<xbp::Window>();
    if (!over) {
        XBPException().raiseParameterType(xpp::Array{oXbp});
        return xpp::Value();
    }

    xpp::Array parentSize = over->CurrentSize();
    xpp::Array size = control->CurrentSize();
    xpp::Value pos = xpp::Array{(parentSize.Get(1).Dbl() - size.Get(1).Dbl()) / 2,
                                (parentSize.Get(2).Dbl() - size.Get(2).Dbl()) / 2};
    if (over != realParent.Obj()) pos = over->MapPoint(realParent, pos);
    control->SetPos(pos);
    return xpp::Value();
}

bool ISTHEMEACTIVE(const xpp::Value& lCheckApp) {
    bool checkApp = !(lCheckApp.IsLogical() && !lCheckApp.Log());
    xpp::Value theme = gui::GETMODULEHANDLEA("uxtheme.dll");
    if (!theme.IsNum() || theme.Int() == 0) return false;
    bool result = Result32(xpp::DllCall(theme, xpp::DLL_STDCALL, "IsThemeActive")) != 0;
    if (!result || !checkApp) return result;
    if (Result32(xpp::DllCall(theme, xpp::DLL_STDCALL, "IsAppThemed")) == 0) return false;

    // the version record of DllGetVersion: its size, then major, minor,
    // build and platform, 4 bytes each, little-endian
    xpp::Ref versionInfo(xpp::Value(xpp::L2Bin(20) + xpp::Replicate(std::string(1, '\0'), 16)));
    xpp::Value controls = gui::GETMODULEHANDLEA("comctl32.dll");
    if (!controls.IsNum() || controls.Int() == 0) return false;
    xpp::Value got = xpp::DllCall(controls, xpp::DLL_STDCALL, "DllGetVersion", xpp::Args{versionInfo});
    return got.IsNum() && Result32(got) == 0 && xpp::Bin2L(xpp::SubStr(versionInfo.Get().Str(), 5, 4)) > 5;
}

}  // namespace rowxpp
