// What the runtime's own sources share; not part of the public interface.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "xpp/runtime.h"
#include "xpp/value.h"

namespace xpp::detail {

// The runtime state of one thread, made on first use and taken down when
// the thread ends (after its atEnd block).
struct ThreadState {
    int id = 0;
    Block errorBlock;  // unset: the default error block
    std::map<int, Value> sets;
    bool netErr = false;
    int dosError = 0;
    int sequenceDepth = 0;
    std::shared_ptr<Thread> threadObject;
};

ThreadState& State();

// The "Called from NAME(line)" lines of the calling thread, innermost first.
std::string CallStackReport();
// Ends the program as by an unhandled error: `report` to standard error,
// EXIT procedures, exit code 1.
[[noreturn]] void EndByError(const std::string& report);
// The main thread's atEnd, then the EXIT procedures, once per process.
void RunProgramEnd(bool byError);

std::string UpperAscii(std::string_view s);

// 10^n for n in 0..18, the places of an exact decimal.
inline int64_t TenTo(int n) {
    int64_t p = 1;
    for (int i = 0; i < n; ++i) p *= 10;
    return p;
}

}  // namespace xpp::detail
