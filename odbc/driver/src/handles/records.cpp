#include "handles/records.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_set>

#include "kivwin/win.h"
#include "handles/messages.h"

namespace kivodbc {

void* DrvAlloc(size_t size) { return std::calloc(1, size); }
void DrvFree(void* block) { std::free(block); }

namespace {

// Every live handle record by address. A handle is looked up here before
// anything is read through it, so a call on a freed or foreign handle is
// refused without touching the memory it names.
struct LiveHandles {
  std::mutex lock;
  std::unordered_set<const void*> records;
};

LiveHandles& Live() {
  static LiveHandles* live = new LiveHandles;  // outlives every static destructor
  return *live;
}

}  // namespace

void Register(const void* record) {
  LiveHandles& live = Live();
  std::lock_guard<std::mutex> guard(live.lock);
  live.records.insert(record);
}

void Unregister(const void* record) {
  LiveHandles& live = Live();
  std::lock_guard<std::mutex> guard(live.lock);
  live.records.erase(record);
}

namespace {

bool IsLive(const void* record) {
  LiveHandles& live = Live();
  std::lock_guard<std::mutex> guard(live.lock);
  return live.records.count(record) != 0;
}

template <typename Record>
Record* As(SQLHANDLE handle, int16_t type) {
  if (handle == nullptr || !IsLive(handle)) return nullptr;
  auto* record = static_cast<Record*>(handle);
  return record->handleType == type ? record : nullptr;
}

// The shared empty item that lookups of an unused record number below the
// highest one return. Callers only read it.
const DescItem kEmptyItem = {nullptr, 0, kDescItemDefaultCType, 0, 0, nullptr, 0, nullptr, nullptr,
                             24,      {0, 0, 0, 0, 1}, {0, 0}, -1, nullptr, 0, 0, nullptr};

}  // namespace

EnvRecord* AsEnv(SQLHANDLE handle) { return As<EnvRecord>(handle, kEnvHandle); }
ConnRecord* AsConn(SQLHANDLE handle) { return As<ConnRecord>(handle, kConnHandle); }
StmtRecord* AsStmt(SQLHANDLE handle) { return As<StmtRecord>(handle, kStmtHandle); }
DescRecord* AsDesc(SQLHANDLE handle) { return As<DescRecord>(handle, kDescHandle); }

EnvRecord* OwningEnv(SQLSMALLINT handleType, SQLHANDLE handle) {
  switch (handleType) {
    case SQL_HANDLE_ENV: return AsEnv(handle);
    case SQL_HANDLE_DBC:
      if (ConnRecord* conn = AsConn(handle)) return conn->env;
      break;
    case SQL_HANDLE_STMT:
      if (StmtRecord* stmt = AsStmt(handle)) return stmt->conn->env;
      break;
    case SQL_HANDLE_DESC:
      if (DescRecord* desc = AsDesc(handle)) return desc->conn->env;
      break;
  }
  return nullptr;
}

int32_t HostFlagFor(const char* hostFileName) {
  const std::string upper = kivwin::AnsiUpperCase(hostFileName != nullptr ? hostFileName : "");
  return upper.find("MSQRY32.EXE") != std::string::npos ? 1 : 0;
}

const DescItem* FindDescItem(DescRecord* desc, int16_t number) {
  bool higherExists = false;
  for (DescItem* item = desc->firstItem; item != nullptr; item = item->next) {
    if (item->number == number) return item;
    if (item->number > number) higherExists = true;
  }
  if (higherExists) return &kEmptyItem;
  PostDescError(desc, kInvalidDescriptorIndex);
  return nullptr;
}

DescItem* FindDescItem(DescRecord* desc, int16_t number, CreateItem) {
  for (DescItem* item = desc->firstItem; item != nullptr; item = item->next)
    if (item->number == number) return item;
  auto* item = NewRecord<DescItem>();
  if (item == nullptr) {
    PostDescError(desc, kMemoryError);
    return nullptr;
  }
  *item = kEmptyItem;
  item->number = number;
  item->next = desc->firstItem;
  desc->firstItem = item;
  return item;
}

void ReleaseItemOwned(DescItem* item) {
  if (item->owned == 0) return;
  if (item->releaseOwned != nullptr) item->releaseOwned(item->ownedData);
  DrvFree(item->ownedData);
  item->ownedData = nullptr;
  item->ownedSize = 0;
  item->owned = 0;
  item->releaseOwned = nullptr;
}

void FreeDescItems(DescRecord* desc) {
  for (DescItem* item = desc->firstItem; item != nullptr;) {
    DescItem* next = item->next;
    ReleaseItemOwned(item);
    DrvFree(item);
    item = next;
  }
  desc->firstItem = nullptr;
}

}  // namespace kivodbc
