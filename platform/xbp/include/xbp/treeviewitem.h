// The item of a tree view: a forwarding class like the other simple
// controls (init, initClass and the general members).
#pragma once

#include "xbp/xbp.h"

namespace xbp {

class XbpBaseTreeViewItem : public Window {
    XBP_WINDOW_CLASS_BODY(XbpBaseTreeViewItem)
};

}  // namespace xbp
