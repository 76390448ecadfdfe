// The handle table: engine objects are handed out as small 32-bit numbers.
// A handle is the slot number (low 16 bits, 1-based) and the slot's
// generation (high 16 bits), so a handle whose object was closed is refused
// even after its slot has been reused.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "errors.h"

namespace qel32 {

enum class Kind : uint16_t {
    Table = KIV_HT_TABLE,
    Index = KIV_HT_INDEX,
    Cursor = KIV_HT_CURSOR,
    Statement = KIV_HT_STATEMENT,
    Connection = KIV_HT_CONNECTION,
    DDConnection = KIV_HT_DD_CONNECTION,
    Find = KIV_HT_FIND,
    Management = KIV_HT_MANAGEMENT,
};

class Object {
public:
    explicit Object(Kind kind) : kind_(kind) {}
    virtual ~Object() = default;
    Kind kind() const { return kind_; }
    KIVHANDLE handle() const { return handle_; }

private:
    friend class HandleTable;
    Kind kind_;
    KIVHANDLE handle_ = 0;
};

class HandleTable {
public:
    static HandleTable& Instance();

    KIVHANDLE Add(std::shared_ptr<Object> object);
    // The object behind a live handle, or null.
    std::shared_ptr<Object> Find(KIVHANDLE handle);
    // Takes the object out of the table; null when the handle is not live.
    std::shared_ptr<Object> Remove(KIVHANDLE handle);

private:
    struct Slot {
        std::shared_ptr<Object> object;
        uint16_t generation = 1;
    };
    std::mutex mutex_;
    std::vector<Slot> slots_;
    std::vector<uint16_t> free_;
};

// The object of the given type behind a handle; throws KIV_ERR_INVALID_HANDLE.
template <class T>
std::shared_ptr<T> Lookup(KIVHANDLE handle) {
    auto object = std::dynamic_pointer_cast<T>(HandleTable::Instance().Find(handle));
    if (!object) Throw(KIV_ERR_INVALID_HANDLE, "Invalid handle " + std::to_string(handle));
    return object;
}

}  // namespace qel32
