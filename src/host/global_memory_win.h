// Value-handle blocks as movable global memory, the way the host keeps them.
#ifndef ZANVOR_HOST_GLOBAL_MEMORY_WIN_H_
#define ZANVOR_HOST_GLOBAL_MEMORY_WIN_H_

#include "host/value_handles.h"

namespace zanvor {

class GlobalBlockMemory final : public BlockMemory {
 public:
  uint32_t Alloc(uint32_t bytes) override;
  bool ReAlloc(uint32_t block, uint32_t bytes) override;
  void Free(uint32_t block) override;
  uint8_t* Lock(uint32_t block) override;
  void Unlock(uint32_t block) override;
};

}  // namespace zanvor

#endif  // ZANVOR_HOST_GLOBAL_MEMORY_WIN_H_
