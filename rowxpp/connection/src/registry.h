// The one lock of the connection registry (aConnections): held only for an
// operation on the array, never across a disconnect.
#pragma once

#include <mutex>

namespace rowxpp {
std::mutex& RegistryLock();
}  // namespace rowxpp
