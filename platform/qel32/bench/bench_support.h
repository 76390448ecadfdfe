// What the benchmark programs share: failing loudly and timing.
#pragma once

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "qel32.h"

namespace bench {

using Clock = std::chrono::steady_clock;

[[noreturn]] inline void Fail(const std::string& what) {
    std::fprintf(stderr, "benchmark: %s\n", what.c_str());
    std::exit(1);
}

inline void Check(KIVRESULT rc, const char* call) {
    if (rc == KIV_OK) return;
    uint32_t code = 0;
    char text[600] = {};
    uint32_t len = sizeof text - 1;
    KivGetLastError(&code, text, &len);
    Fail(std::string(call) + " failed: " + std::to_string(code) + " " + text);
}

inline double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

}  // namespace bench
