// The error handler's flash hook.
#include "rowxpp/flash_hook.h"

#include <mutex>

namespace rowxpp {

namespace {
struct HookState {
    std::mutex lock;
    FlashHook hook;
};
HookState& State() {
    static HookState s;
    return s;
}
}  // namespace

FlashHook SetFlashHook(FlashHook hook) {
    std::lock_guard g(State().lock);
    FlashHook old = std::move(State().hook);
    State().hook = std::move(hook);
    return old;
}

void Flash(const xpp::Value& text, const xpp::Value& rc, const xpp::Value& title) {
    FlashHook hook;
    {
        std::lock_guard g(State().lock);
        hook = State().hook;
    }
    // called outside the lock: the flash window runs for a second and may
    // raise through the error block
    if (hook) hook(text, rc, title);
}

}  // namespace rowxpp
