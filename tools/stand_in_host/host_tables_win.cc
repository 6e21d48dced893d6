#include "stand_in_host/host_tables_win.h"

#include <windows.h>

#include <cstring>

namespace zanvor {
namespace {

HGLOBAL AsGlobal(uint32_t block) {
  return reinterpret_cast<HGLOBAL>(static_cast<uintptr_t>(block));
}

constexpr size_t kHandleBlocksOffset = 4;
constexpr size_t kSlotValuesOffset = 6;

}  // namespace

HostTables::HostTables()
    : handleTable_(kHandleBlocksOffset + 4u * kCapacity, 0),
      slotTable_(kSlotValuesOffset + 4u * kCapacity, 0),
      handles_(memory_, handleTable_.data(), slotTable_.data()) {
  // Index 0 means "no handle", so the search for a free slot starts at 1.
  StoreU16(handleTable_.data(), 1);
  StoreU16(handleTable_.data() + 2, kCapacity);
  StoreU16(slotTable_.data(), 1);
  StoreU16(slotTable_.data() + 2, 0);
  StoreU16(slotTable_.data() + 4, kCapacity);
}

HostTables::~HostTables() {
  for (uint32_t i = 1; i < kCapacity; ++i) handles_.FreeValueHandle(i);
}

int HostTables::LiveBlocks() const {
  int live = 0;
  for (uint32_t i = 1; i < kCapacity; ++i) {
    if (LoadU32(handleTable_.data() + kHandleBlocksOffset + 4 * i) != 0) ++live;
  }
  return live;
}

uint32_t HostTables::DataSize(uint32_t handle) const {
  if (handle == 0 || handle >= kCapacity) return 0;
  const uint32_t block = LoadU32(handleTable_.data() + kHandleBlocksOffset + 4 * handle);
  if (block == 0) return 0;
  const SIZE_T size = GlobalSize(AsGlobal(block));
  return size < 2 ? 0 : static_cast<uint32_t>(size - 2);
}

}  // namespace zanvor
