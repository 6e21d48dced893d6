// Taking one datagram out of the server mailslot, over a seam so that the
// logic runs without Windows. The Windows edge implements MailslotOps on the
// server's mailslot handle.
#ifndef ZANVOR_MESSAGING_MAILSLOT_READ_H_
#define ZANVOR_MESSAGING_MAILSLOT_READ_H_

#include <cstdint>
#include <functional>
#include <string>

namespace zanvor {

// GetMailslotInfo's next size when no datagram waits (MAILSLOT_NO_MESSAGE).
constexpr uint32_t kMailslotNoMessage = 0xFFFFFFFFu;

class MailslotOps {
 public:
  virtual ~MailslotOps() = default;
  // True while the server mailslot is held (mailslotHandle not null).
  virtual bool HasMailslot() = 0;
  // The size of the datagram at the head of the queue, or kMailslotNoMessage.
  // False on failure; the edge keeps the error code for LastError.
  virtual bool NextSize(uint32_t* nextSize) = 0;
  // Reads the head datagram into buffer[0, request). Like ReadFile on a
  // mailslot: a request shorter than the head datagram fails and leaves it
  // queued. False on failure; the edge keeps the error code.
  virtual bool Read(uint8_t* buffer, uint32_t request, uint32_t* bytesRead) = 0;
};

enum class MailslotRead {
  kDatagram,  // one datagram is in the buffer, *size bytes
  kEmpty,     // nothing waits; *size is 0
  kDropped,   // the head datagram was larger than the buffer and is gone; *size is 0
  kError,     // no mailslot, or a failed call
};

// Takes at most one datagram out of the mailslot into buffer.
// size: in, the buffer's capacity; out, the bytes read: the datagram's size for
// kDatagram, 0 for kEmpty and kDropped, unchanged for kError.
// A failed GetMailslotInfo or ReadFile shows "GetMailslotInfo error." or
// "ReadFile error." through showError if *reportReadErrors is true, setting it
// false first (a box can pump messages and start another read). With no
// mailslot the result is kError with nothing shown.
// Nothing is ever written past buffer[*size in].
MailslotRead ReadMailslotMessage(MailslotOps& ops, uint8_t* buffer, uint32_t* size,
                                 bool* reportReadErrors,
                                 const std::function<void(const std::string&)>& showError);

}  // namespace zanvor

#endif  // ZANVOR_MESSAGING_MAILSLOT_READ_H_
