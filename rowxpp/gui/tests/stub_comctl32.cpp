// Stands in for the common-controls library: DllGetVersion fills the
// 20-byte version record (size, major, minor, build, platform; 4 bytes
// each, little-endian) with the version the test set, or fails.
#include <atomic>
#include <cstdint>
#include <cstring>

namespace {
std::atomic<int32_t> result{0}, major{6}, minor{0};

void Put(char* at, int32_t v) {
    auto u = static_cast<uint32_t>(v);
    for (int i = 0; i < 4; ++i) at[i] = static_cast<char>((u >> (8 * i)) & 0xFF);
}
int32_t GetLE(const char* at) {
    uint32_t u = 0;
    for (int i = 0; i < 4; ++i) u |= static_cast<uint32_t>(static_cast<unsigned char>(at[i])) << (8 * i);
    return static_cast<int32_t>(u);
}
}  // namespace

extern "C" {
// 0 on success; E_INVALIDARG for a record whose size field is not 20.
__attribute__((visibility("default"))) int32_t DllGetVersion(char* info) {
    if (GetLE(info) != 20) return static_cast<int32_t>(0x80070057u);
    if (result.load() != 0) return result.load();
    Put(info + 4, major.load());
    Put(info + 8, minor.load());
    Put(info + 12, 3790);
    Put(info + 16, 2);
    return 0;
}
__attribute__((visibility("default"))) int StubSetVersion(long long failure, long long majorVersion,
                                                         long long minorVersion) {
    result = static_cast<int32_t>(failure);
    major = static_cast<int32_t>(majorVersion);
    minor = static_cast<int32_t>(minorVersion);
    return 0;
}
}
