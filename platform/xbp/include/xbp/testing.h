// Test hooks of the Xbp stand-in. Production code never includes this header.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "xbp/xbp.h"

namespace xbp::testing {

// One base call as the journal keeps it.
struct Call {
    std::string what;  // "XbpBaseDialog:init", "Show", ...
    std::weak_ptr<xpp::Object> self;
    xpp::Args args;    // the exact arguments received
};
std::vector<Call> Journal();
void ClearJournal();

// Runs when AppEvent finds the queue empty: it may post events; it answers
// false to say that nothing more will come. Null removes it.
void SetWaitHook(std::function<bool()> hook);

// The number of device contexts locked now (all spaces, nested locks each).
int LockedDeviceContexts();

}  // namespace xbp::testing
