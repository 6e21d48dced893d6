#include "host/global_memory_win.h"

#include <windows.h>

#include <cstring>

namespace zanvor {
namespace {

HGLOBAL AsGlobal(uint32_t block) {
  return reinterpret_cast<HGLOBAL>(static_cast<uintptr_t>(block));
}

}  // namespace

uint32_t GlobalBlockMemory::Alloc(uint32_t bytes) {
  return static_cast<uint32_t>(
      reinterpret_cast<uintptr_t>(GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes)));
}

bool GlobalBlockMemory::ReAlloc(uint32_t block, uint32_t bytes) {
  // A movable block keeps its handle when it is resized, so the table entry
  // stays valid; only data addresses taken before become stale.
  const SIZE_T oldSize = GlobalSize(AsGlobal(block));
  if (GlobalReAlloc(AsGlobal(block), bytes, GMEM_MOVEABLE | GMEM_ZEROINIT) == nullptr) return false;
  // GlobalSize may report a rounded-up size, so the added bytes are cleared
  // here rather than trusting GMEM_ZEROINIT to cover exactly that range.
  if (bytes > oldSize) {
    uint8_t* p = static_cast<uint8_t*>(GlobalLock(AsGlobal(block)));
    if (p != nullptr) {
      memset(p + oldSize, 0, bytes - oldSize);
      GlobalUnlock(AsGlobal(block));
    }
  }
  return true;
}

void GlobalBlockMemory::Free(uint32_t block) { GlobalFree(AsGlobal(block)); }

uint8_t* GlobalBlockMemory::Lock(uint32_t block) {
  return static_cast<uint8_t*>(GlobalLock(AsGlobal(block)));
}

void GlobalBlockMemory::Unlock(uint32_t block) { GlobalUnlock(AsGlobal(block)); }

}  // namespace zanvor
