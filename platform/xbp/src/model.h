// Internals shared by the model's sources.
#pragma once

#include <mutex>
#include <string>

#include "xbp/xbp.h"

namespace xbp {
// The one lock that guards the window tree.
std::recursive_mutex& TreeLock();
// The Qt side's view of the model: told after a window changed (on the
// thread that changed it) and when a window object goes away.
class Observer {
public:
    virtual ~Observer() = default;
    virtual void Changed(const Window& w) = 0;
    virtual void Gone(uint64_t serial) = 0;
    // The window took the application's focus (SetAppFocus).
    virtual void Focused(const Window&) {}
};
void SetObserver(Observer* observer);
void Changed(const Window& w);
void Focused(const Window& w);

// Adds a call to the test journal.
void JournalCall(const std::string& what, const xpp::Object* self, xpp::Args args);

// Element i (1-based) of a coordinate array as a number; 0 when missing.
inline double Coord(const xpp::Value& pair, size_t i) {
    return pair.IsArray() && pair.Arr().Len() >= i ? pair.Arr().Get(i).Dbl() : 0.0;
}
// A coordinate as a value: whole numbers stay integers.
inline xpp::Value Number(double d) {
    return d == static_cast<double>(static_cast<int64_t>(d)) ? xpp::Value(static_cast<int64_t>(d)) : xpp::Value(d);
}
}  // namespace xbp
