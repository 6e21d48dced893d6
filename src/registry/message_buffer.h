// The MessageBuffer's two operations over a seam: the section and the
// writers' mutex are reached through a RingAccess, so the whole sequence of a
// store (lock, read the header, reserve, write the header, write the record)
// runs natively against a fake that can fail any step. The record layout
// itself is in ring_layout.h; the Windows edge is message_buffer_win.h.
#ifndef ZANVOR_REGISTRY_MESSAGE_BUFFER_H_
#define ZANVOR_REGISTRY_MESSAGE_BUFFER_H_

#include <cstdint>
#include <string>

namespace zanvor {

class RingAccess {
 public:
  virtual ~RingAccess() = default;
  // Waits for the writers' mutex, at most kBufferMutexWaitMs. True when this
  // thread now owns it; an abandoned mutex (a writer died holding it) is
  // owned too: the ring may hold a half-written record, which readers bound
  // safely, so the store goes ahead.
  virtual bool LockWriters() = 0;
  // REQUIRES: LockWriters returned true.
  virtual void UnlockWriters() = 0;
  // A view of section bytes [0, bytes), bytes <= kSectionSize, for one step;
  // null when it cannot be mapped. Each view is given back with Unmap.
  virtual uint8_t* MapFront(uint32_t bytes) = 0;
  virtual void Unmap(uint8_t* view) = 0;
};

// Stores `text` with its NUL; returns its position (4..16383) or 0 when
// nothing was stored (the mutex was not had, a view failed, or the text
// cannot fit the section at all; in that case nothing is touched).
uint16_t StoreText(RingAccess& ring, const std::string& text);

// The text at `position`, or "" (position 0, a failed view, a record with no
// terminator inside its bounds). Takes no lock. With `wholeRecord` the text
// must also fill its record exactly, as every store writes it: a position
// that has come to lie inside a later, longer record then reads as "" rather
// than as that record's tail.
std::string ReadText(RingAccess& ring, uint16_t position, bool wholeRecord = false);

// The header's next position as stored (0 on a fresh section), or 0 when
// the view cannot be mapped; read without the writers' lock, for the status.
uint32_t ReadNextPosition(RingAccess& ring);

}  // namespace zanvor

#endif  // ZANVOR_REGISTRY_MESSAGE_BUFFER_H_
