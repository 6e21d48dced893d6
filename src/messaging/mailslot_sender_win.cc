#include "messaging/mailslot_sender_win.h"

namespace zanvor {

bool CMailslotSender::Open() {
  handle_.reset();
  handle_.reset(CreateFileA(target_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, securityAttributes_,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return handle_.valid();
}

bool CMailslotSender::Write(const void* bytes, const uint32_t* count) {
  DWORD written = 0;
  return WriteFile(handle_.get(), bytes, *count, &written, nullptr) != FALSE;
}

}  // namespace zanvor
