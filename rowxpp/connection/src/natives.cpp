#include "rowxpp/natives.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace rowxpp {
namespace {

void* AsPointer(int64_t address) { return reinterpret_cast<void*>(static_cast<intptr_t>(address)); }
int64_t AsAddress(const void* p) { return static_cast<int64_t>(reinterpret_cast<intptr_t>(p)); }

}  // namespace

xpp::Value LoWord_(const xpp::Value& n) { return LoWord_(n.Int()); }

xpp::Value MemAlloc_(const xpp::Value& size) {
    if (!size.IsNum() || size.Int() < 0) return 0;
    // a block of 0 bytes still gets an address of its own
    void* p = std::malloc(static_cast<size_t>(size.Int()) + (size.Int() == 0 ? 1 : 0));
    return AsAddress(p);
}

xpp::Value MemRelease_(const xpp::Value& address) {
    if (!address.IsNum()) return 0;
    std::free(AsPointer(address.Int()));
    return address.Int();
}

xpp::Value PackStrings_(const xpp::Value& strings) {
    if (!strings.IsArray()) return xpp::Value();
    std::vector<xpp::Value> items = strings.Arr().Items();
    std::vector<std::string_view> pieces;
    pieces.reserve(items.size());
    for (const xpp::Value& item : items) {
        if (!item.IsChar()) return xpp::Value();
        pieces.emplace_back(item.Str());
    }
    return PackPieces_(pieces);
}

xpp::Value PackPieces_(const std::vector<std::string_view>& pieces) {
    size_t total = 0;
    for (std::string_view piece : pieces) total += piece.size();
    char* block = static_cast<char*>(std::malloc(total == 0 ? 1 : total));
    if (block == nullptr) return xpp::Value();
    std::vector<xpp::Value> addresses;
    addresses.reserve(pieces.size());
    size_t offset = 0;
    for (std::string_view piece : pieces) {
        if (!piece.empty()) std::memcpy(block + offset, piece.data(), piece.size());
        addresses.emplace_back(AsAddress(block + offset));
        offset += piece.size();
    }
    if (pieces.empty()) std::free(block);  // nothing to point at
    return xpp::Array(std::move(addresses));
}

xpp::Value FreePacked_(const xpp::Value& packed) {
    if (!packed.IsArray() || packed.Arr().Len() == 0) return 0;
    xpp::Value first = packed.Arr().Get(1);
    if (!first.IsNum()) return 0;
    std::free(AsPointer(first.Int()));
    return first.Int();
}

xpp::Value Mem2Str_(const xpp::Value& address, const xpp::Value& length) {
    if (!address.IsNum()) return xpp::Value();
    if (address.Int() == 0) return "";
    const char* p = static_cast<const char*>(AsPointer(address.Int()));
    if (length.IsNum()) return std::string(p, static_cast<size_t>(std::max<int64_t>(length.Int(), 0)));
    return std::string(p);
}

}  // namespace rowxpp
