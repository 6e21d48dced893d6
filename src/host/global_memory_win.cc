#include "host/global_memory_win.h"

#include <windows.h>

namespace zanvor {
namespace {

HGLOBAL AsGlobal(uint32_t block) { return reinterpret_cast<HGLOBAL>(static_cast<uintptr_t>(block)); }

}  // namespace

uint32_t GlobalBlockMemory::Alloc(uint32_t bytes) {
  return static_cast<uint32_t>(
      reinterpret_cast<uintptr_t>(GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes)));
}

bool GlobalBlockMemory::ReAlloc(uint32_t block, uint32_t bytes) {
  // A movable block keeps its handle when it is resized, so the table entry
  // stays valid; only data addresses taken before become stale.
  return GlobalReAlloc(AsGlobal(block), bytes, GMEM_MOVEABLE | GMEM_ZEROINIT) != nullptr;
}

void GlobalBlockMemory::Free(uint32_t block) { GlobalFree(AsGlobal(block)); }

uint8_t* GlobalBlockMemory::Lock(uint32_t block) {
  return static_cast<uint8_t*>(GlobalLock(AsGlobal(block)));
}

void GlobalBlockMemory::Unlock(uint32_t block) { GlobalUnlock(AsGlobal(block)); }

}  // namespace zanvor
