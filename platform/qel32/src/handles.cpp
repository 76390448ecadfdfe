#include "handles.h"

namespace qel32 {

namespace {
constexpr uint32_t kMaxGeneration = 0x7FFF;
}  // namespace

HandleTable::HandleTable() : slots_(new Slot[kSlots]) {}

HandleTable& HandleTable::Instance() {
    static HandleTable* table = new HandleTable;  // lives until the process ends
    return *table;
}

KIVHANDLE HandleTable::Add(std::shared_ptr<Object> object) {
    std::lock_guard lock(mutex_);
    uint32_t index;
    if (!free_.empty()) {
        index = free_.back();
        free_.pop_back();
    } else {
        if (used_ >= kSlots) Throw(KIV_ERR_OUT_OF_MEMORY, "Too many open handles");
        index = used_++;
    }
    Slot& slot = slots_[index];
    const KIVHANDLE handle = (slot.generation.load() << 16) | (index + 1u);
    object->handle_ = handle;
    slot.object.store(object.get(), std::memory_order_release);
    slot.owner = std::move(object);
    return handle;
}

std::shared_ptr<Object> HandleTable::Remove(KIVHANDLE handle) {
    const uint32_t index = handle & 0xFFFF;
    std::lock_guard lock(mutex_);
    if (index == 0 || index > used_) return nullptr;
    Slot& slot = slots_[index - 1];
    if (slot.generation.load() != (handle >> 16) || !slot.owner) return nullptr;
    std::shared_ptr<Object> object = std::move(slot.owner);
    slot.owner.reset();
    slot.object.store(nullptr, std::memory_order_release);
    const uint32_t generation = slot.generation.load();
    slot.generation.store(generation >= kMaxGeneration ? 1 : generation + 1, std::memory_order_release);
    free_.push_back(index - 1);
    return object;
}

}  // namespace qel32
