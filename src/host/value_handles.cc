#include "host/value_handles.h"

#include <cstring>

namespace zanvor {
namespace {

constexpr int kHandleBlocks = 4;  // offset of blocks[0] in the HandleTable
constexpr int kSlotValues = 6;    // offset of slots[0] in the SlotTable

}  // namespace

uint32_t ValueHandles::BlockOf(uint32_t handle) const {
  if (handles_ == nullptr || handle == 0 || handle >= LoadU16(handles_ + 2)) return 0;
  return LoadU32(handles_ + kHandleBlocks + 4 * handle);
}

uint32_t ValueHandles::AllocValueHandle(uint32_t size, uint16_t headerWord) {
  if (handles_ == nullptr || size > 0xFFFFFFFFu - 2) return 0;
  uint16_t next = LoadU16(handles_);
  const uint16_t capacity = LoadU16(handles_ + 2);
  while (next < capacity && LoadU32(handles_ + kHandleBlocks + 4 * next) != 0) ++next;
  StoreU16(handles_, next);
  if (next >= capacity) return 0;
  const uint32_t block = memory_.Alloc(size + 2);
  if (block == 0) return 0;
  StoreU32(handles_ + kHandleBlocks + 4 * next, block);
  uint8_t* p = memory_.Lock(block);
  if (p != nullptr) {
    StoreU16(p, headerWord);
    memory_.Unlock(block);
  }
  return next;
}

uint32_t ValueHandles::AllocValueHandleWith(const uint8_t* bytes, uint32_t size,
                                            uint16_t headerWord) {
  const uint32_t handle = AllocValueHandle(size, headerWord);
  if (handle == 0) return 0;
  uint8_t* data = ValueHandleData(handle);
  if (data == nullptr) {
    FreeValueHandle(handle);
    return 0;
  }
  std::memcpy(data, bytes, size);
  return handle;
}

void ValueHandles::FreeValueHandle(uint32_t handle) {
  const uint32_t block = BlockOf(handle);
  if (block == 0) return;
  memory_.Free(block);
  StoreU32(handles_ + kHandleBlocks + 4 * handle, 0);
  if (handle < LoadU16(handles_)) StoreU16(handles_, static_cast<uint16_t>(handle));
}

uint8_t* ValueHandles::ValueHandleData(uint32_t handle) {
  const uint32_t block = BlockOf(handle);
  if (block == 0) return nullptr;
  uint8_t* p = memory_.Lock(block);
  if (p == nullptr) return nullptr;
  memory_.Unlock(block);
  return p + 2;
}

bool ValueHandles::ResizeValueHandle(uint32_t handle, uint32_t size) {
  const uint32_t block = BlockOf(handle);
  if (block == 0 || size > 0xFFFFFFFFu - 2) return false;
  return memory_.ReAlloc(block, size + 2);
}

uint32_t ValueHandles::AllocSlot(uint32_t value) {
  if (slots_ == nullptr) return 0;
  uint16_t next = LoadU16(slots_);
  const uint16_t capacity = LoadU16(slots_ + 4);
  while (next < capacity && LoadU32(slots_ + kSlotValues + 4 * next) != 0) ++next;
  StoreU16(slots_, next);
  if (next >= capacity) return 0;
  StoreU16(slots_ + 2, static_cast<uint16_t>(LoadU16(slots_ + 2) + 1));
  StoreU32(slots_ + kSlotValues + 4 * next, value);
  return next;
}

void ValueHandles::FreeSlot(uint32_t index) {
  if (slots_ == nullptr || index == 0 || index >= LoadU16(slots_ + 4)) return;
  if (LoadU32(slots_ + kSlotValues + 4 * index) == 0) return;
  StoreU16(slots_ + 2, static_cast<uint16_t>(LoadU16(slots_ + 2) - 1));
  StoreU32(slots_ + kSlotValues + 4 * index, 0);
  if (index < LoadU16(slots_)) StoreU16(slots_, static_cast<uint16_t>(index));
}

uint32_t ValueHandles::SlotValue(uint32_t index) {
  if (slots_ == nullptr || index == 0 || index >= LoadU16(slots_ + 4)) return 0;
  return LoadU32(slots_ + kSlotValues + 4 * index);
}

bool ValueHandles::TerminateParameter(const HostValue& parameter) {
  if (parameter.textLength == 0xFFFFFFFFu) return false;
  if (!ResizeValueHandle(parameter.textHandle, parameter.textLength + 1)) return false;
  uint8_t* data = ValueHandleData(parameter.textHandle);
  if (data == nullptr) return false;
  data[parameter.textLength] = 0;
  return true;
}

}  // namespace zanvor
