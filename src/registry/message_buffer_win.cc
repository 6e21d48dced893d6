#include "registry/message_buffer_win.h"

#include "base/unique_handle_win.h"
#include "registry/ring_layout.h"
#include "base/little_endian.h"

namespace zanvor {
namespace {

// Every view starts at offset 0 and ends right after the last byte the step
// touches; it is never longer than the section.
UniqueMappedView MapFront(HANDLE section, uint32_t bytes) {
  if (bytes > kSectionSize) bytes = kSectionSize;
  return UniqueMappedView(MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, bytes));
}

// Holds "vfp_zanvor_mu" for one store. WAIT_ABANDONED (a writer died while
// holding it) also makes this thread the owner: the ring may hold a half
// written record, which readers bound safely, so the store goes ahead, and
// the release below gives the mutex back either way.
class BufferLock {
 public:
  explicit BufferLock(HANDLE mutex) : mutex_(mutex) {
    const DWORD r = WaitForSingleObject(mutex_, kBufferMutexWaitMs);
    owned_ = (r == WAIT_OBJECT_0 || r == WAIT_ABANDONED);
  }
  ~BufferLock() {
    if (owned_) ReleaseMutex(mutex_);
  }
  BufferLock(const BufferLock&) = delete;
  BufferLock& operator=(const BufferLock&) = delete;
  bool owned() const { return owned_; }

 private:
  HANDLE mutex_;
  bool owned_ = false;
};

}  // namespace

uint16_t StoreText(HANDLE section, HANDLE mutex, const std::string& text) {
  if (section == nullptr || mutex == nullptr) return 0;
  const uint32_t lengthWithNul = static_cast<uint32_t>(text.size()) + 1;
  Reservation reservation{};
  // A text that cannot fit even at the front is refused before anything is
  // touched, so the section stays as it was.
  if (!ReserveRecord(0, lengthWithNul, &reservation)) return 0;

  BufferLock lock(mutex);
  if (!lock.owned()) return 0;
  {
    UniqueMappedView header = MapFront(section, 4);
    if (!header) return 0;
    auto* bytes = static_cast<uint8_t*>(header.get());
    if (!ReserveRecord(LoadU32(bytes), lengthWithNul, &reservation)) return 0;
    StoreU32(bytes, reservation.nextPosition);
  }
  UniqueMappedView record = MapFront(section, reservation.position + lengthWithNul + 2);
  // When this map fails the reserved bytes stay unwritten; their position
  // is never handed out, so no reader is sent there.
  if (!record) return 0;
  WriteRecord(static_cast<uint8_t*>(record.get()), reservation.position, text.c_str(),
              static_cast<uint16_t>(lengthWithNul));
  return static_cast<uint16_t>(reservation.position);
}

std::string ReadText(HANDLE section, uint16_t position) {
  if (section == nullptr || position < kFirstRecord) return std::string();
  uint16_t length = 0;
  {
    const uint32_t bytes = static_cast<uint32_t>(position) + 2;
    UniqueMappedView view = MapFront(section, bytes);
    if (!view) return std::string();
    length = RecordLength(static_cast<const uint8_t*>(view.get()), bytes, position);
  }
  uint32_t bytes = static_cast<uint32_t>(position) + 2 + length;
  if (bytes > kSectionSize) bytes = kSectionSize;
  UniqueMappedView view = MapFront(section, bytes);
  if (!view) return std::string();
  return ReadRecord(static_cast<const uint8_t*>(view.get()), bytes, position);
}

}  // namespace zanvor
