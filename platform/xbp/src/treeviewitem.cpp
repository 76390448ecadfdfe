// The tree view item's class object.
#include "model.h"
#include "xbp/treeviewitem.h"

namespace xbp {

xpp::Class& XbpBaseTreeViewItem::ClassObject() {
    static xpp::ClassSlot slot;
    return slot.Get("XbpBaseTreeViewItem", nullptr, [](xpp::Class& c) { XbpBaseTreeViewItem::initClass(c); });
}

void XbpBaseTreeViewItem::initClass(xpp::Class& c) { JournalCall("XbpBaseTreeViewItem:initClass", &c, {}); }

}  // namespace xbp
