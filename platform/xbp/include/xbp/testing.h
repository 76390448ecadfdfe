// Test hooks of the Xbp stand-in. Production code never includes this header.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "xbp/xbp.h"

class QWidget;

namespace xbp::testing {

// One base call as the journal keeps it.
struct Call {
    std::string what;  // "XbpBaseDialog:init", "Show", ...
    std::weak_ptr<xpp::Object> self;
    xpp::Args args;    // the exact arguments received
};
// Nothing is recorded until a test switches the journal on.
std::vector<Call> Journal();
void ClearJournal();
void SetJournalling(bool on);

// Runs when AppEvent finds the queue empty: it may post events; it answers
// false to say that nothing more will come. Null removes it.
void SetWaitHook(std::function<bool()> hook);

// The number of device contexts locked now (all spaces, nested locks each).
int LockedDeviceContexts();

// The Qt side (on the Qt thread). Changes made on other threads are
// applied first. The picture of a window's widget (a dialog's: its client
// area); a null image when it has none.
QImage Grab(const WindowRef& window);
bool GrabToPng(const WindowRef& window, const std::string& path);
// The widget of a window (null when it has none) and the number of
// widgets the adaptor holds.
QWidget* WidgetOf(const WindowRef& window);
int WidgetCount();

}  // namespace xbp::testing
