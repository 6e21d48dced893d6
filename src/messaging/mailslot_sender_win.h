// The client side of a network post: one datagram written to the domain-wide
// mailslot name, through a handle opened and closed within the post.
#ifndef ZANVOR_MESSAGING_MAILSLOT_SENDER_WIN_H_
#define ZANVOR_MESSAGING_MAILSLOT_SENDER_WIN_H_

#include <windows.h>

#include <cstdint>
#include <string>

#include "base/unique_handle_win.h"
#include "contract/network.h"

namespace zanvor {

constexpr char kDefaultSenderTarget[] = "\\\\*\\mailslot\\events";

class CMailslotSender {
 public:
  CMailslotSender() : target_(kDefaultSenderTarget) {}
  CMailslotSender(const CMailslotSender&) = delete;
  CMailslotSender& operator=(const CMailslotSender&) = delete;

  void SetTarget(const char* name) { target_ = name; }
  // True when the target is open for writing. On failure GetLastError()
  // still holds the platform's reason.
  bool Open();
  // True when the platform accepted the write.
  bool Write(const void* bytes, const uint32_t* count);

 private:
  std::string target_;
  UniqueFile handle_;
  SECURITY_ATTRIBUTES* securityAttributes_ = nullptr;
};

}  // namespace zanvor

#endif  // ZANVOR_MESSAGING_MAILSLOT_SENDER_WIN_H_
