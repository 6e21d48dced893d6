#include "messaging/mailslot_read.h"

#include <memory>
#include <new>

namespace zanvor {
namespace {

MailslotRead Fail(const char* text, bool* reportReadErrors,
                  const std::function<void(const std::string&)>& showError) {
  if (*reportReadErrors) {
    *reportReadErrors = false;
    showError(text);
  }
  return MailslotRead::kError;
}

}  // namespace

MailslotRead ReadMailslotMessage(MailslotOps& ops, uint8_t* buffer, uint32_t* size,
                                 bool* reportReadErrors,
                                 const std::function<void(const std::string&)>& showError) {
  const uint32_t capacity = *size;
  if (!ops.HasMailslot()) return MailslotRead::kError;
  uint32_t nextSize = 0;
  if (!ops.NextSize(&nextSize)) return Fail("GetMailslotInfo error.", reportReadErrors, showError);
  if (nextSize == kMailslotNoMessage) {
    *size = 0;
    return MailslotRead::kEmpty;
  }
  uint32_t bytesRead = 0;
  if (nextSize > capacity) {
    // API oddity: ReadFile with a buffer shorter than the head datagram fails
    // with ERROR_INSUFFICIENT_BUFFER and leaves the datagram at the head, so
    // a short read would fail on every later tick. Take it out whole into
    // scratch space and drop it: no datagram this large is ever dispatched.
    std::unique_ptr<uint8_t[]> scratch(new (std::nothrow) uint8_t[nextSize]);
    if (!scratch) return Fail("ReadFile error.", reportReadErrors, showError);
    if (!ops.Read(scratch.get(), nextSize, &bytesRead)) {
      return Fail("ReadFile error.", reportReadErrors, showError);
    }
    *size = 0;
    return MailslotRead::kDropped;
  }
  if (!ops.Read(buffer, nextSize, &bytesRead)) {
    return Fail("ReadFile error.", reportReadErrors, showError);
  }
  *size = bytesRead;
  return MailslotRead::kDatagram;
}

}  // namespace zanvor
