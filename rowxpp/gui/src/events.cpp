// What the library's windows do with the runtime's events: drag positions
// of CRT windows in rows and columns, the spin button's padding on leaving
// and the menu bar's accelerator keys.
#include <cmath>

#include "rowxpp/gui.h"

namespace rowxpp {

namespace {

bool IsDragEvent(int event) {
    return event == xbp::xbeP_DragEnter || event == xbp::xbeP_DragMotion || event == xbp::xbeP_DragDrop;
}

bool IsTrue(const xpp::Value& v) { return v.IsLogical() && v.Log(); }

// Int(a / b); a itself when b is no number other than 0.
xpp::Value IntDiv(const xpp::Value& a, const xpp::Value& b) {
    if (!b.IsNum() || b.Dbl() == 0) return a;
    return static_cast<int64_t>(std::trunc(a.Dbl() / b.Dbl()));
}

}  // namespace

xpp::Value XbpCrt::HandleEvent(int nEvent, const xpp::Value& mp1, const xpp::Value& mp2) {
    if (IsDragEvent(nEvent)) {
        if (!xbp::SetMouse()) return 0;
        // the drag state's second element is the pointer position {x, y}
        // in pixels, y from the bottom edge; a state of another shape goes
        // on as it came
        if (MouseMode.IsNum() && MouseMode.Int() == 1 && mp1.IsArray() && mp1.Arr().Len() >= 2 &&
            mp1.Arr().Get(2).IsArray() && mp1.Arr().Get(2).Arr().Len() >= 2) {
            xpp::Array state = mp1.Arr();
            xpp::Array pos = xpp::AClone(state.Get(2).Arr());
            state.Set(2, pos);
            xpp::Value x = pos.Get(1), y = pos.Get(2);
            if (x.IsNum() && x.Dbl() > 0) pos.Set(1, IntDiv(x, FontWidth));
            if (y.IsNum() && y.Dbl() > 0) {
                xpp::Value rows = IntDiv(y, FontHeight);
                if (rows.IsNum()) pos.Set(2, MaxRow() - rows.Int());
            }
            xpp::Value column = pos.Get(1);
            pos.Set(1, pos.Get(2));
            pos.Set(2, column);
        }
    }
    return xbp::XbpBaseCrt::HandleEvent(nEvent, mp1, mp2);
}

xpp::Value XbpSpinButton::KillInputFocus() {
    if (!IsTrue(PadWithZeros)) return xbp::XbpBaseSpinbutton::KillInputFocus();
    xpp::Value cText = xbp::XbpBaseSLE::EditBuffer();
    const std::string& text = cText.Str();
    if (text.empty() || text[0] != '0') SetData(EditBuffer());
    return xbp::XbpBaseSpinbutton::KillInputFocus();
}

xpp::Value XbpMenuBar::OnMenuKey(xpp::Ref nKey, const xpp::Value& /*xUnused*/) {
    for (int64_t i = 1; i <= NumItems(); ++i) {
        xpp::Value item = GetItem(i);
        if (!item.IsArray() || item.Arr().Len() < 4) continue;
        xpp::Array aItem = item.Arr();
        xpp::Value attributes = aItem.Get(4);
        if (!attributes.IsNum() || xpp::BAnd(attributes.Int(), kAcceleratorItem) == 0) continue;
        xpp::Value caption = aItem.Get(1);
        if (caption.IsObject()) {
            auto menu = caption.As<xbp::XbpBaseMenu>();
            caption = menu ? menu->title : xpp::Send(caption, "title");
        }
        if (!caption.IsChar()) continue;
        const std::string& text = caption.Str();
        size_t pos = xpp::At("~", text);
        if (pos == 0) pos = xpp::At("&", text);
        // a marker at the very end marks no key
        if (pos == 0 || pos >= text.size()) continue;
        xpp::Value key = nKey.Get();
        if (!key.IsNum()) continue;
        if (xpp::Upper(text.substr(pos, 1)) == xpp::Upper(xpp::Chr(key.Int()))) {
            nKey.Set(i);
            return 2;
        }
    }
    return 0;
}

}  // namespace rowxpp
