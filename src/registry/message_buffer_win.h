// The MessageBuffer on the machine's named section "vfp_zanvor" and the
// writers' mutex "vfp_zanvor_mu".
#ifndef ZANVOR_REGISTRY_MESSAGE_BUFFER_WIN_H_
#define ZANVOR_REGISTRY_MESSAGE_BUFFER_WIN_H_

#include <windows.h>

#include <cstdint>
#include <string>

#include "contract/machine_objects.h"
#include "registry/message_buffer.h"

namespace zanvor {

// REQUIRES: both handles outlive the object. A null handle makes every step
// fail, so the operations give their neutral results.
class WinRingAccess final : public RingAccess {
 public:
  WinRingAccess(HANDLE section, HANDLE mutex) : section_(section), mutex_(mutex) {}
  bool LockWriters() override;
  void UnlockWriters() override;
  uint8_t* MapFront(uint32_t bytes) override;
  void Unmap(uint8_t* view) override;

 private:
  HANDLE section_;
  HANDLE mutex_;
};

inline uint16_t StoreText(HANDLE section, HANDLE mutex, const std::string& text) {
  WinRingAccess ring(section, mutex);
  return StoreText(ring, text);
}

inline std::string ReadText(HANDLE section, uint16_t position, bool wholeRecord = false) {
  WinRingAccess ring(section, nullptr);
  return ReadText(ring, position, wholeRecord);
}

inline uint32_t ReadNextPosition(HANDLE section) {
  WinRingAccess ring(section, nullptr);
  return ReadNextPosition(ring);
}

}  // namespace zanvor

#endif  // ZANVOR_REGISTRY_MESSAGE_BUFFER_WIN_H_
