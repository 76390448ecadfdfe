#include "rowxpp/odbc_calls.h"

#include <array>
#include <atomic>
#include <mutex>

#include "xpp/native.h"

namespace rowxpp {
namespace {

std::array<std::atomic<int64_t>, kOdbcCallCount + 1> calls{};

std::mutex decoratorLock;
OdbcCallDecorator decorator;

}  // namespace

namespace detail {
std::array<std::atomic<void*>, kOdbcCallCount + 1> odbcAddresses{};
std::atomic<bool> odbcDecorated{false};
}  // namespace detail

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
        detail::odbcAddresses[i] = call == 0 ? nullptr : xpp::DllCallAddress(call);
    }
}

int64_t OdbcCallEntry(int index) {
    return index >= 1 && index <= kOdbcCallCount ? calls[index].load() : 0;
}

OdbcCallDecorator SetOdbcCallDecorator(OdbcCallDecorator next) {
    std::lock_guard<std::mutex> guard(decoratorLock);
    std::swap(decorator, next);
    detail::odbcDecorated = static_cast<bool>(decorator);
    return next;
}

namespace detail {

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
