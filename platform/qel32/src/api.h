// The frame every C entry point runs in: failures become the thread's last
// error and a result code; test hooks can make a named function fail.
#pragma once

#include <atomic>

#include "errors.h"
#include "handles.h"

namespace qel32 {

extern std::atomic<bool> gTestHooksActive;
// Returns a planted failure for the named function (and records the call).
KIVRESULT TestHookEnter(const char* function, bool setLastError = true);

template <class Body>
KIVRESULT Api(const char* function, Body&& body) noexcept {
    if (gTestHooksActive.load(std::memory_order_relaxed)) {
        if (KIVRESULT planted = TestHookEnter(function)) return planted;
    }
    try {
        const KIVRESULT rc = body();
        if (rc != KIV_OK) SetLastError(rc, CodeText(rc));
        return rc;
    } catch (const EngineError& e) {
        return SetLastError(e.code(), e.what());
    } catch (const std::bad_alloc&) {
        return SetLastError(KIV_ERR_OUT_OF_MEMORY, CodeText(KIV_ERR_OUT_OF_MEMORY));
    } catch (const std::exception& e) {
        return SetLastError(KIV_ERR_IO, e.what());
    } catch (...) {
        return SetLastError(KIV_ERR_IO, "Unexpected engine failure");
    }
}

// Checks an out pointer.
template <class T>
T* Out(T* p) {
    if (!p) Throw(KIV_ERR_INVALID_ARGUMENT, "Missing output argument");
    return p;
}

inline std::string Text(const char* p) { return p ? std::string(p) : std::string(); }

}  // namespace qel32
