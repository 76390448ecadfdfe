#include "rowxpp/odbc_calls.h"

#include <array>
#include <atomic>
#include <mutex>

#include "xpp/native.h"

namespace rowxpp {
namespace {

std::array<std::atomic<int64_t>, kOdbcCallCount + 1> calls{};
std::array<std::atomic<void*>, kOdbcCallCount + 1> addresses{};

std::mutex decoratorLock;
OdbcCallDecorator decorator;
std::atomic<bool> decorated{false};

}  // namespace

const std::vector<std::string>& OdbcCallNames() {
#define ROWXPP_ODBC_NAME(n, name) #name,
    static const std::vector<std::string> names{ROWXPP_ODBC_CALLS(ROWXPP_ODBC_NAME)};
#undef ROWXPP_ODBC_NAME
    return names;
}

void PrepareOdbcCalls(int64_t hDll) {
    const auto& names = OdbcCallNames();
    for (int i = 1; i <= kOdbcCallCount; ++i) {
        int64_t call = hDll == 0 ? 0 : xpp::DllPrepareCall(hDll, xpp::DLL_SYSTEM, names[i - 1]);
        calls[i] = call;
        addresses[i] = call == 0 ? nullptr : xpp::DllCallAddress(call);
    }
}

int64_t OdbcCallEntry(int index) {
    return index >= 1 && index <= kOdbcCallCount ? calls[index].load() : 0;
}

OdbcCallDecorator SetOdbcCallDecorator(OdbcCallDecorator next) {
    std::lock_guard<std::mutex> guard(decoratorLock);
    std::swap(decorator, next);
    decorated = static_cast<bool>(decorator);
    return next;
}

namespace detail {

void* OdbcCallAddress(int index) {
    return index >= 1 && index <= kOdbcCallCount ? addresses[index].load() : nullptr;
}

bool HasDecorator() { return decorated.load(); }

std::optional<int64_t> Decorate(int index, const std::vector<int64_t>& arguments) {
    OdbcCallDecorator current;
    {
        std::lock_guard<std::mutex> guard(decoratorLock);
        current = decorator;
    }
    return current ? current(index, arguments) : std::nullopt;
}

}  // namespace detail
}  // namespace rowxpp
