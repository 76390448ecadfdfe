// Stands in for the system libraries behind SetTextAlign, DrawTextA and
// GetModuleHandleA: records every call in a log the test reads, and
// answers numbers of its own.
#include <dlfcn.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "xpp/native.h"

namespace {
std::mutex lock;
std::string log;
void Record(const std::string& line) {
    std::lock_guard g(lock);
    log += line + "\n";
}
}  // namespace

extern "C" {

__attribute__((visibility("default"))) int64_t SetTextAlign(int64_t hdc, int64_t flags) {
    Record("SetTextAlign " + std::to_string(hdc) + " " + std::to_string(flags));
    return 24;
}

// The rectangle is 16 bytes: four 32-bit numbers.
__attribute__((visibility("default"))) int64_t DrawTextA(int64_t hdc, const char* text, int64_t length,
                                                         const char* rect, int64_t format) {
    std::string r;
    for (int i = 0; i < 4; ++i) {
        int32_t v;
        std::memcpy(&v, rect + 4 * i, 4);
        r += (i ? "," : "") + std::to_string(v);
    }
    Record("DrawTextA " + std::to_string(hdc) + " " + std::string(text, static_cast<size_t>(length)) + " " +
           std::to_string(length) + " " + r + " " + std::to_string(format));
    return length > 0 ? 17 : 0;  // the height of the text drawn; nothing drawn, 0
}

// The handle of a library the runtime has loaded under `name` (its map
// applied), 0 when it is not in the process.
__attribute__((visibility("default"))) void* GetModuleHandleA(const char* name) {
    Record(std::string("GetModuleHandleA ") + name);
    void* h = dlopen(xpp::MappedLibrary(name).c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!h) return nullptr;
    dlclose(h);
    return h;
}

// The log so far, and a fresh start.
__attribute__((visibility("default"))) const char* StubLog() {
    static std::string copy;
    std::lock_guard g(lock);
    copy = log;
    return copy.c_str();
}
__attribute__((visibility("default"))) void StubClear() {
    std::lock_guard g(lock);
    log.clear();
}
}
