// An in-memory section and writers' mutex behind RingAccess, with faults to
// inject: fail the Nth view from now, or have the mutex time out. (An
// abandoned mutex is owned like a free one; the Windows edge maps it, and
// its tests show that on a real mutex.)
#ifndef ZANVOR_TESTS_UNIT_FAKE_RING_H_
#define ZANVOR_TESTS_UNIT_FAKE_RING_H_

#include <cstdint>
#include <vector>

#include "contract/machine_objects.h"
#include "registry/message_buffer.h"
#include "unit/fake_expect.h"

namespace zanvor {

class FakeRing final : public RingAccess {
 public:
  enum class Mutex { kFree, kTimesOut };

  FakeRing() : section(kSectionSize, 0) {}
  ~FakeRing() override {
    ZANVOR_FAKE_EXPECT(openViews == 0, "a view was not given back");
    ZANVOR_FAKE_EXPECT(!locked, "the writers' mutex was not released");
  }

  bool LockWriters() override {
    ++lockCalls;
    if (mutex == Mutex::kTimesOut) return false;
    locked = true;
    return true;
  }
  void UnlockWriters() override {
    ZANVOR_FAKE_EXPECT(locked, "released a mutex it did not own");
    locked = false;
  }
  uint8_t* MapFront(uint32_t bytes) override {
    ZANVOR_FAKE_EXPECT(bytes <= kSectionSize, "a view larger than the section");
    ++mapCalls;
    if (failMap > 0 && --failMap == 0) return nullptr;
    ++openViews;
    return section.data();
  }
  void Unmap(uint8_t*) override { --openViews; }

  std::vector<uint8_t> section;
  Mutex mutex = Mutex::kFree;
  int failMap = 0;  // 1: the next view fails, 2: the one after it, ...
  int mapCalls = 0;
  int lockCalls = 0;
  int openViews = 0;
  bool locked = false;
};

}  // namespace zanvor

#endif  // ZANVOR_TESTS_UNIT_FAKE_RING_H_
