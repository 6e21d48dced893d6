// An in-memory server mailslot that fails the way Windows does, and helpers
// to build datagrams. Shared by the messaging tests and fuzzers.
#ifndef ZANVOR_TESTS_UNIT_FAKE_MAILSLOT_H_
#define ZANVOR_TESTS_UNIT_FAKE_MAILSLOT_H_

#include <cstdint>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "messaging/mailslot_read.h"
#include "messaging/packet.h"

namespace zanvor {

class FakeMailslot : public MailslotOps {
 public:
  static constexpr uint32_t kErrorSemTimeout = 121;          // read of an empty mailslot
  static constexpr uint32_t kErrorInsufficientBuffer = 122;  // read shorter than the datagram

  void Push(std::vector<uint8_t> datagram) { queue_.push_back(std::move(datagram)); }
  size_t Waiting() const { return queue_.size(); }
  const std::vector<uint8_t>& Head() const { return queue_.front(); }

  bool HasMailslot() override { return hasMailslot; }

  bool NextSize(uint32_t* nextSize) override {
    ++nextSizeCalls;
    if (failNextSize) {
      lastError = failCode;
      return false;
    }
    *nextSize = queue_.empty() ? kMailslotNoMessage : static_cast<uint32_t>(queue_.front().size());
    return true;
  }

  bool Read(uint8_t* buffer, uint32_t request, uint32_t* bytesRead) override {
    ++readCalls;
    *bytesRead = 0;
    if (failRead) {
      lastError = failCode;
      return false;
    }
    if (queue_.empty()) {
      lastError = kErrorSemTimeout;
      return false;
    }
    const std::vector<uint8_t>& head = queue_.front();
    if (request < head.size()) {
      lastError = kErrorInsufficientBuffer;  // and the datagram stays at the head
      return false;
    }
    if (!head.empty()) std::memcpy(buffer, head.data(), head.size());
    *bytesRead = static_cast<uint32_t>(head.size());
    queue_.pop_front();
    return true;
  }

  bool hasMailslot = true;
  bool failNextSize = false;
  bool failRead = false;
  uint32_t failCode = 5;
  uint32_t lastError = 0;
  int nextSizeCalls = 0;
  int readCalls = 0;

 private:
  std::deque<std::vector<uint8_t>> queue_;
};

// A packet id whose 16 bytes all derive from `n` (distinct n, distinct ids;
// never all zero).
inline std::vector<uint8_t> TestId(uint32_t n) {
  std::vector<uint8_t> id(kPacketIdSize);
  for (int i = 0; i < kPacketIdSize; ++i) {
    id[i] = static_cast<uint8_t>((n >> (8 * (i % 4))) + i + 1);
  }
  return id;
}

// The datagram CMsgPack makes for `payload` (at least one byte).
inline std::vector<uint8_t> PackDatagram(const std::vector<uint8_t>& id, const std::string& payload,
                                         uint32_t ticks) {
  std::vector<uint8_t> packet(payload.size() + kPacketOverhead);
  CMsgPack packer;
  const int32_t size = packer.Pack(reinterpret_cast<const uint8_t*>(payload.data()),
                                   static_cast<int32_t>(payload.size()), packet.data(),
                                   packet.size(), id.data(), ticks);
  packet.resize(static_cast<size_t>(size));
  return packet;
}

}  // namespace zanvor

#endif  // ZANVOR_TESTS_UNIT_FAKE_MAILSLOT_H_
