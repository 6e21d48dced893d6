// Operations on the host's per-thread HandleTable and SlotTable. Both tables
// are host memory that the library reads and updates in place; the memory
// blocks behind value handles come from a BlockMemory (movable global memory
// on Windows, a fake in the unit tests).
//
// HandleTable: u16 nextFree, u16 capacity, then capacity u32 block handles.
// SlotTable:   u16 nextFree, u16 usedCount, u16 capacity, then capacity u32.
// A block is a 2-byte headerWord followed by the data.
#ifndef ZANVOR_HOST_VALUE_HANDLES_H_
#define ZANVOR_HOST_VALUE_HANDLES_H_

#include <cstdint>

#include "base/little_endian.h"
#include "contract/host_abi.h"

namespace zanvor {

// The movable-memory allocator behind value handles. Handles are 32-bit
// values that are never 0 for a live block.
class BlockMemory {
 public:
  virtual ~BlockMemory() = default;
  // A zero-filled block of `bytes`, or 0.
  virtual uint32_t Alloc(uint32_t bytes) = 0;
  // Resizes keeping the handle and the leading bytes; added bytes are zero.
  virtual bool ReAlloc(uint32_t block, uint32_t bytes) = 0;
  virtual void Free(uint32_t block) = 0;
  // Address of the block's first byte while it is locked.
  virtual uint8_t* Lock(uint32_t block) = 0;
  virtual void Unlock(uint32_t block) = 0;
};

class ValueHandles {
 public:
  // REQUIRES: handleTable and slotTable point at host tables laid out as
  // above, or are null (every operation then fails).
  ValueHandles(BlockMemory& memory, uint8_t* handleTable, uint8_t* slotTable)
      : memory_(memory), handles_(handleTable), slots_(slotTable) {}

  uint32_t AllocValueHandle(uint32_t size, uint16_t headerWord);
  // A new value handle whose data is the `size` bytes at `bytes`, or 0. A
  // handle whose block cannot be locked is freed again: nothing is left
  // allocated for the host to never hear of.
  uint32_t AllocValueHandleWith(const uint8_t* bytes, uint32_t size, uint16_t headerWord);
  void FreeValueHandle(uint32_t handle);
  // The data address (block + 2), or null. The block is left unlocked.
  uint8_t* ValueHandleData(uint32_t handle);
  bool ResizeValueHandle(uint32_t handle, uint32_t size);

  uint32_t AllocSlot(uint32_t value);
  void FreeSlot(uint32_t index);
  uint32_t SlotValue(uint32_t index);

  // Grows the parameter's block by one byte and writes the terminating NUL.
  // Returns false when the block cannot grow (the caller raises error 182).
  bool TerminateParameter(const HostValue& parameter);

 private:
  uint32_t BlockOf(uint32_t handle) const;  // 0 when not a live handle

  BlockMemory& memory_;
  uint8_t* handles_;
  uint8_t* slots_;
};

}  // namespace zanvor

#endif  // ZANVOR_HOST_VALUE_HANDLES_H_
