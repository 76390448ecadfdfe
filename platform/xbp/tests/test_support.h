// What the Xbp tests share.
#pragma once

#include "xbp/xbp.h"

namespace xbptest {

// An event as AppEvent delivers it.
struct Got {
    int event;
    xpp::Value mp1, mp2, target;
};

inline Got Next() {
    xpp::Ref mp1, mp2, o;
    int e = xbp::AppEvent(mp1, mp2, o);
    return {e, mp1.Get(), mp2.Get(), o.Get()};
}

}  // namespace xbptest
