// What travels between machines: the mailslot names and the sizes of
// datagram a receiver looks at. The datagram's own layout is the codec's
// (messaging/packet.h).
#ifndef ZANVOR_CONTRACT_NETWORK_H_
#define ZANVOR_CONTRACT_NETWORK_H_

#include <cstdint>

namespace zanvor {

// The server side, created by the server instance of each machine.
constexpr char kServerMailslotName[] = "\\\\.\\mailslot\\VFP\\ZANVOR\\SERVER";
// The domain-wide name a post is written to: it reaches the server mailslot
// of every machine of the domain.
constexpr char kNetworkMailslotName[] = "\\\\*\\mailslot\\VFP\\ZANVOR\\SERVER";

// The sizes of datagram a receiver hands to the codec; anything outside
// [kMinReceivedDatagram, kMaxReceivedDatagram] is dropped unread. The largest
// packet a sender makes (64-byte name, colon, 300-byte message, 21 bytes of
// overhead) is 386 bytes, inside the window.
constexpr int32_t kMinReceivedDatagram = 17;
constexpr int32_t kMaxReceivedDatagram = 415;

}  // namespace zanvor

#endif  // ZANVOR_CONTRACT_NETWORK_H_
