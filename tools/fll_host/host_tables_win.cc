#include "fll_host/host_tables_win.h"

#include <windows.h>

#include "base/address.h"
#include "base/little_endian.h"

namespace zanvor {
namespace {

// HandleTable fields.
constexpr size_t kHandleNextFree = 0;
constexpr size_t kHandleCapacity = 2;
constexpr size_t kHandleEntries = 4;
// SlotTable fields.
constexpr size_t kSlotNextFree = 0;
constexpr size_t kSlotUsedCount = 2;
constexpr size_t kSlotCapacity = 4;
constexpr size_t kSlotEntries = 6;
// Bytes in front of a block's data.
constexpr uint32_t kHeaderBytes = 2;

HGLOBAL AsGlobal(uint32_t block) { return FromAddress<HGLOBAL>(block); }

// The first free entry at or above the table's nextFree, stored back as the
// new nextFree; `capacity` when there is none.
uint16_t FindFree(uint8_t* table, size_t nextFreeField, size_t entries, uint16_t capacity) {
  uint16_t index = LoadU16(table + nextFreeField);
  while (index < capacity && LoadU32(table + entries + 4u * index) != 0) ++index;
  StoreU16(table + nextFreeField, index);
  return index;
}

void LowerNextFree(uint8_t* table, size_t nextFreeField, uint32_t freed) {
  if (freed < LoadU16(table + nextFreeField)) {
    StoreU16(table + nextFreeField, static_cast<uint16_t>(freed));
  }
}

}  // namespace

HostTables::HostTables(uint16_t handleCapacity, uint16_t slotCapacity)
    : handleTable_(kHandleEntries + 4u * handleCapacity, 0),
      slotTable_(kSlotEntries + 4u * slotCapacity, 0) {
  // Index 0 means "no handle", so the search for a free entry starts at 1.
  StoreU16(&handleTable_[kHandleNextFree], 1);
  StoreU16(&handleTable_[kHandleCapacity], handleCapacity);
  StoreU16(&slotTable_[kSlotNextFree], 1);
  StoreU16(&slotTable_[kSlotCapacity], slotCapacity);
}

HostTables::~HostTables() {
  const uint16_t capacity = LoadU16(&handleTable_[kHandleCapacity]);
  for (uint32_t i = 1; i < capacity; ++i) FreeHandle(i);
}

uint32_t HostTables::AllocHandle(uint32_t size, uint16_t headerWord) {
  if (size > UINT32_MAX - kHeaderBytes) return 0;
  uint8_t* table = handleTable_.data();
  const uint16_t capacity = LoadU16(table + kHandleCapacity);
  const uint16_t index = FindFree(table, kHandleNextFree, kHandleEntries, capacity);
  if (index >= capacity) return 0;
  const HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size + kHeaderBytes);
  if (block == nullptr) return 0;
  auto* p = static_cast<uint8_t*>(GlobalLock(block));
  if (p == nullptr) {
    GlobalFree(block);
    return 0;
  }
  StoreU16(p, headerWord);
  GlobalUnlock(block);
  StoreU32(table + kHandleEntries + 4u * index, AddressOf(block));
  return index;
}

void HostTables::FreeHandle(uint32_t handle) {
  const uint32_t block = Block(handle);
  if (block == 0) return;
  GlobalFree(AsGlobal(block));
  StoreU32(&handleTable_[kHandleEntries + 4u * handle], 0);
  LowerNextFree(handleTable_.data(), kHandleNextFree, handle);
}

uint32_t HostTables::Block(uint32_t handle) const {
  if (handle == 0 || handle >= LoadU16(&handleTable_[kHandleCapacity])) return 0;
  return LoadU32(&handleTable_[kHandleEntries + 4u * handle]);
}

uint8_t* HostTables::Data(uint32_t handle) const {
  const uint32_t block = Block(handle);
  if (block == 0) return nullptr;
  auto* p = static_cast<uint8_t*>(GlobalLock(AsGlobal(block)));
  if (p == nullptr) return nullptr;
  GlobalUnlock(AsGlobal(block));
  return p + kHeaderBytes;
}

uint32_t HostTables::DataSize(uint32_t handle) const {
  const uint32_t block = Block(handle);
  if (block == 0) return 0;
  const SIZE_T size = GlobalSize(AsGlobal(block));
  return size < kHeaderBytes ? 0 : static_cast<uint32_t>(size - kHeaderBytes);
}

int HostTables::LiveBlocks() const {
  const uint16_t capacity = LoadU16(&handleTable_[kHandleCapacity]);
  int live = 0;
  for (uint32_t i = 1; i < capacity; ++i) {
    if (Block(i) != 0) ++live;
  }
  return live;
}

uint32_t HostTables::AllocSlot(uint32_t value) {
  uint8_t* table = slotTable_.data();
  const uint16_t capacity = LoadU16(table + kSlotCapacity);
  const uint16_t index = FindFree(table, kSlotNextFree, kSlotEntries, capacity);
  if (index >= capacity) return 0;
  StoreU16(table + kSlotUsedCount, static_cast<uint16_t>(LoadU16(table + kSlotUsedCount) + 1));
  StoreU32(table + kSlotEntries + 4u * index, value);
  return index;
}

void HostTables::FreeSlot(uint32_t index) {
  if (SlotValue(index) == 0) return;
  uint8_t* table = slotTable_.data();
  StoreU16(table + kSlotUsedCount, static_cast<uint16_t>(LoadU16(table + kSlotUsedCount) - 1));
  StoreU32(table + kSlotEntries + 4u * index, 0);
  LowerNextFree(table, kSlotNextFree, index);
}

uint32_t HostTables::SlotValue(uint32_t index) const {
  if (index == 0 || index >= LoadU16(&slotTable_[kSlotCapacity])) return 0;
  return LoadU32(&slotTable_[kSlotEntries + 4u * index]);
}

uint16_t HostTables::UsedSlots() const { return LoadU16(&slotTable_[kSlotUsedCount]); }

}  // namespace zanvor
