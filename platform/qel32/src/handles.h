// The handle table: engine objects are handed out as small 32-bit numbers.
// A handle is the slot number (low 16 bits, 1-based) and the slot's
// generation (high 16 bits), so a handle whose object was closed is refused
// even after its slot has been reused.
//
// Looking a handle up takes no lock and no reference: an engine handle is
// used by one thread at a time (each thread works on its own connection), so
// the object cannot be closed under a call that is using it.
#pragma once

#include <atomic>
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
    Object* Find(KIVHANDLE handle) const {
        const uint32_t index = handle & 0xFFFF;
        if (index == 0 || index > kSlots) return nullptr;
        const Slot& slot = slots_[index - 1];
        if (slot.generation.load(std::memory_order_acquire) != (handle >> 16)) return nullptr;
        return slot.object.load(std::memory_order_acquire);
    }
    // Takes the object out of the table; null when the handle is not live.
    std::shared_ptr<Object> Remove(KIVHANDLE handle);

private:
    static constexpr uint32_t kSlots = 0xFFFF;
    struct Slot {
        std::atomic<Object*> object{nullptr};
        std::atomic<uint32_t> generation{1};
        std::shared_ptr<Object> owner;  // guarded by mutex_
    };
    HandleTable();
    std::mutex mutex_;
    std::unique_ptr<Slot[]> slots_;
    uint32_t used_ = 0;  // slots ever handed out
    std::vector<uint32_t> free_;
};

// The object of the given type behind a handle; throws KIV_ERR_INVALID_HANDLE.
template <class T>
T* Lookup(KIVHANDLE handle) {
    T* object = dynamic_cast<T*>(HandleTable::Instance().Find(handle));
    if (!object) Throw(KIV_ERR_INVALID_HANDLE, "Invalid handle " + std::to_string(handle));
    return object;
}

}  // namespace qel32
