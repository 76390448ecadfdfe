#include "handles.h"

namespace qel32 {

namespace {
constexpr uint16_t kMaxGeneration = 0x7FFF;
constexpr size_t kMaxSlots = 0xFFFF;
}  // namespace

HandleTable& HandleTable::Instance() {
    static HandleTable* table = new HandleTable;  // lives until the process ends
    return *table;
}

KIVHANDLE HandleTable::Add(std::shared_ptr<Object> object) {
    std::lock_guard lock(mutex_);
    uint16_t index;
    if (!free_.empty()) {
        index = free_.back();
        free_.pop_back();
    } else {
        if (slots_.size() >= kMaxSlots) Throw(KIV_ERR_OUT_OF_MEMORY, "Too many open handles");
        slots_.emplace_back();
        index = static_cast<uint16_t>(slots_.size() - 1);
    }
    Slot& slot = slots_[index];
    const KIVHANDLE handle = (static_cast<uint32_t>(slot.generation) << 16) | (index + 1u);
    object->handle_ = handle;
    slot.object = std::move(object);
    return handle;
}

std::shared_ptr<Object> HandleTable::Find(KIVHANDLE handle) {
    const uint32_t index = (handle & 0xFFFF);
    const uint32_t generation = handle >> 16;
    std::lock_guard lock(mutex_);
    if (index == 0 || index > slots_.size()) return nullptr;
    Slot& slot = slots_[index - 1];
    if (slot.generation != generation) return nullptr;
    return slot.object;
}

std::shared_ptr<Object> HandleTable::Remove(KIVHANDLE handle) {
    const uint32_t index = (handle & 0xFFFF);
    const uint32_t generation = handle >> 16;
    std::lock_guard lock(mutex_);
    if (index == 0 || index > slots_.size()) return nullptr;
    Slot& slot = slots_[index - 1];
    if (slot.generation != generation || !slot.object) return nullptr;
    std::shared_ptr<Object> object = std::move(slot.object);
    slot.object.reset();
    slot.generation = slot.generation >= kMaxGeneration ? 1 : slot.generation + 1;
    free_.push_back(static_cast<uint16_t>(index - 1));
    return object;
}

}  // namespace qel32
