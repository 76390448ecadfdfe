// Reading numbers out of record images (little-endian, unaligned).
#pragma once

#include <cstdint>
#include <cstring>

namespace checker {

template <class T>
T ReadImage(const uint8_t* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

}  // namespace checker
