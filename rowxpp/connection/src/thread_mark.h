// Holds the calling thread's id in a slot for the life of a scope.
#pragma once

#include <atomic>

#include "xpp/runtime.h"

namespace rowxpp {

class ThreadMark {
public:
    explicit ThreadMark(std::atomic<int>& slot) : slot_(slot) { slot_ = xpp::ThreadID(); }
    ~ThreadMark() { slot_ = 0; }
    ThreadMark(const ThreadMark&) = delete;
    ThreadMark& operator=(const ThreadMark&) = delete;

private:
    std::atomic<int>& slot_;
};

}  // namespace rowxpp
