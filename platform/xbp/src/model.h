// Internals shared by the model's sources.
#pragma once

#include <mutex>
#include <string>

#include "xbp/xbp.h"

namespace xbp {
// The one lock that guards the window tree.
std::recursive_mutex& TreeLock();
// Adds a call to the test journal.
void JournalCall(const std::string& what, const xpp::Object* self, xpp::Args args);
}  // namespace xbp
