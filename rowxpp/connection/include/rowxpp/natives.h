// Native memory functions of the library: raw blocks, packed strings and
// strings read from memory. An address is a pointer-sized number.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "xpp/value.h"

namespace rowxpp {

// The low 16 bits of the integer part as an unsigned number (-1 gives
// 65535, -2 gives 65534).
inline int64_t LoWord_(int64_t n) { return n & 0xFFFF; }
xpp::Value LoWord_(const xpp::Value& n);
// The address of a new block of `size` bytes; 0 when not numeric or when
// allocation fails.
xpp::Value MemAlloc_(const xpp::Value& size);
// Releases the block; answers its address, 0 when not numeric.
xpp::Value MemRelease_(const xpp::Value& address);
// One block holding the strings back to back, without terminators; the
// addresses of the pieces (element 1 is the block). NIL when an element is
// not a string or allocation fails (nothing stays allocated then).
xpp::Value PackStrings_(const xpp::Value& strings);
// The same for pieces already at hand.
xpp::Value PackPieces_(const std::vector<std::string_view>& pieces);
// Releases the block of a __PackStrings result; answers its address, 0 when
// the array or its first element is missing or not numeric.
xpp::Value FreePacked_(const xpp::Value& packed);
// NIL when `address` is not numeric, "" for 0, `length` bytes when numeric,
// else up to the first zero byte.
xpp::Value Mem2Str_(const xpp::Value& address, const xpp::Value& length = xpp::Value());

}  // namespace rowxpp
