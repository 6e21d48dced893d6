// The host's side of the value-handle contract: the HandleTable and SlotTable
// it hands to the library with dispatch code 0, and the movable global memory
// behind the handles. The library reads and updates both tables in place, so
// their memory never moves while a library is loaded.
#ifndef ZANVOR_TOOLS_STAND_IN_HOST_HOST_TABLES_WIN_H_
#define ZANVOR_TOOLS_STAND_IN_HOST_HOST_TABLES_WIN_H_

#include <cstdint>
#include <vector>

#include "host/global_memory_win.h"
#include "host/value_handles.h"

namespace zanvor {

// One thread's pair of tables. The host calls the library on its main thread
// only, so it keeps one pair.
class HostTables {
 public:
  static constexpr uint16_t kCapacity = 1024;

  HostTables();
  // Frees every block still in the table.
  ~HostTables();
  HostTables(const HostTables&) = delete;
  HostTables& operator=(const HostTables&) = delete;

  uint8_t* handle_table() { return handleTable_.data(); }
  uint8_t* slot_table() { return slotTable_.data(); }
  ValueHandles& handles() { return handles_; }

  // Number of live blocks (for leak checks between calls).
  int LiveBlocks() const;
  // Data bytes of a live handle's block (its size less the header word), or
  // 0 for a free or invalid handle.
  uint32_t DataSize(uint32_t handle) const;

 private:
  std::vector<uint8_t> handleTable_;
  std::vector<uint8_t> slotTable_;
  GlobalBlockMemory memory_;  // the same movable blocks the library uses
  ValueHandles handles_;
};

}  // namespace zanvor

#endif  // ZANVOR_TOOLS_STAND_IN_HOST_HOST_TABLES_WIN_H_
