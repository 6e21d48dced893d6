#include "registry/message_buffer_win.h"

namespace zanvor {

bool WinRingAccess::LockWriters() {
  if (mutex_ == nullptr) return false;
  const DWORD r = WaitForSingleObject(mutex_, kBufferMutexWaitMs);
  // WAIT_ABANDONED also makes this thread the owner; the release after the
  // store gives the mutex back either way.
  return r == WAIT_OBJECT_0 || r == WAIT_ABANDONED;
}

void WinRingAccess::UnlockWriters() { ReleaseMutex(mutex_); }

uint8_t* WinRingAccess::MapFront(uint32_t bytes) {
  if (section_ == nullptr) return nullptr;
  return static_cast<uint8_t*>(MapViewOfFile(section_, FILE_MAP_WRITE, 0, 0, bytes));
}

void WinRingAccess::Unmap(uint8_t* view) {
  // Keeps the caller's last error, like every handle owner of ours.
  const DWORD lastError = GetLastError();
  UnmapViewOfFile(view);
  SetLastError(lastError);
}

}  // namespace zanvor
