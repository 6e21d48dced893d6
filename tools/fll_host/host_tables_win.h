// The host's side of the value-handle contract: the HandleTable and SlotTable
// it hands to the library with dispatch code 0, and the movable global memory
// behind the handles. The library reads and updates both tables in place, so
// their memory never moves while a library is loaded.
//
// This is written from the byte layout alone and shares no code with the
// library's reading of it, so that the two sides meeting on one table (the
// host taking some indices, the library others) shows any disagreement:
//
//   HandleTable  u16 nextFree, u16 capacity, then capacity u32 block handles
//   SlotTable    u16 nextFree, u16 usedCount, u16 capacity, then capacity u32
//
// An entry of 0 is free, and index 0 means "no handle", so it is never
// handed out. Both sides search upward from nextFree, leave nextFree on the
// index they took and lower it to an index they free. A block is a movable
// global-memory object: a 16-bit header word, then the data.
#ifndef ZANVOR_TOOLS_FLL_HOST_HOST_TABLES_WIN_H_
#define ZANVOR_TOOLS_FLL_HOST_HOST_TABLES_WIN_H_

#include <cstdint>
#include <vector>

namespace zanvor {

// One thread's pair of tables. The host calls the library on its main thread
// only, so it keeps one pair.
class HostTables {
 public:
  static constexpr uint16_t kDefaultCapacity = 1024;

  // Capacities count entry 0, which is never used.
  explicit HostTables(uint16_t handleCapacity = kDefaultCapacity,
                      uint16_t slotCapacity = kDefaultCapacity);
  // Frees every block still in the table.
  ~HostTables();
  HostTables(const HostTables&) = delete;
  HostTables& operator=(const HostTables&) = delete;

  uint8_t* handle_table() { return handleTable_.data(); }
  uint8_t* slot_table() { return slotTable_.data(); }

  // A new handle whose block holds `headerWord` and `size` zero bytes; 0
  // when the table is full (nothing is allocated then) or memory is out.
  uint32_t AllocHandle(uint32_t size, uint16_t headerWord);
  // Frees a live handle's block; 0, out-of-range and free handles are
  // ignored.
  void FreeHandle(uint32_t handle);
  // The global-memory handle in a handle's entry, 0 for a free or invalid
  // handle.
  uint32_t Block(uint32_t handle) const;
  // The data address of a live handle (its block's address + 2), or null. It
  // stays valid until the block is resized or freed.
  uint8_t* Data(uint32_t handle) const;
  // Data bytes of a live handle's block (its size less the header word), or
  // 0 for a free or invalid handle.
  uint32_t DataSize(uint32_t handle) const;
  // Number of live blocks (for leak checks between calls).
  int LiveBlocks() const;

  // A new slot holding `value`, or 0 when the table is full.
  uint32_t AllocSlot(uint32_t value);
  // Frees an occupied slot; 0, out-of-range and free slots are ignored.
  void FreeSlot(uint32_t index);
  // The value in a slot, 0 for a free or invalid one.
  uint32_t SlotValue(uint32_t index) const;
  // The table's own count of occupied slots.
  uint16_t UsedSlots() const;

 private:
  std::vector<uint8_t> handleTable_;
  std::vector<uint8_t> slotTable_;
};

}  // namespace zanvor

#endif  // ZANVOR_TOOLS_FLL_HOST_HOST_TABLES_WIN_H_
