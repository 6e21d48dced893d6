// The codes of InstanceMessage, the registered window message through which
// the instances of one machine talk. wParam carries the code in its high word
// and, for codes that carry a text, the text's MessageBuffer position in its
// low word.
#ifndef ZANVOR_CONTRACT_INSTANCE_MESSAGE_H_
#define ZANVOR_CONTRACT_INSTANCE_MESSAGE_H_

#include <cstdint>

namespace zanvor {

// The registered window message every instance posts and handles.
constexpr char kInstanceMessageName[] = "VFP_Zanvor_Message";

enum InstanceCode : uint32_t {
  kServerAnnounce = 1,
  kRegisterSubscriber = 2,
  kUnregisterSubscriber = 3,
  kServerLeaving = 4,
  kServerReply = 5,
  kServerQuery = 6,
  kDeliverText = 8,
  kTableFull = 9,
  kPostLocalText = 10,
};

constexpr uint32_t MakeWParam(InstanceCode code, uint16_t position = 0) {
  return (static_cast<uint32_t>(code) << 16) | position;
}
constexpr uint32_t CodeOf(uint32_t wParam) { return wParam >> 16; }
constexpr uint16_t PositionOf(uint32_t wParam) { return static_cast<uint16_t>(wParam & 0xFFFF); }

}  // namespace zanvor

#endif  // ZANVOR_CONTRACT_INSTANCE_MESSAGE_H_
