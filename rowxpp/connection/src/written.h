// Text that a driver wrote into an output buffer.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>

namespace rowxpp {

// The text in `buffer`, offered to the driver as `offered` bytes, given the
// length the driver returned. A longer text arrives cut at the buffer,
// without the terminator the driver put at its end; a negative length (no
// data) gives "".
inline std::string Written(const std::string& buffer, int64_t length, size_t offered) {
    if (length <= 0) return "";
    size_t n = std::min({static_cast<size_t>(length), offered, buffer.size()});
    if (static_cast<size_t>(length) >= offered && n > 0 && buffer[n - 1] == '\0') --n;
    return buffer.substr(0, n);
}

}  // namespace rowxpp
