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
// What opening kNetworkMailslotName fails with where remote mailslots are
// switched off (Windows 11 24H2, Windows Server 2025):
// ERROR_REMOTE_MAILSLOTS_DEPRECATED, newer than mingw's headers.
constexpr uint32_t kRemoteMailslotsOffError = 3025;

// The start of the error ZANVOR raises when neither path sent its datagram;
// "\nError: N\n" with the mailslot's error code follows.
constexpr char kSendErrorText[] = "Unable to send the message.";

// The sizes of datagram a receiver hands to the codec; anything outside
// [kMinReceivedDatagram, kMaxReceivedDatagram] is dropped unread. The largest
// packet a sender makes (64-byte name, colon, 300-byte message, 21 bytes of
// overhead) is 386 bytes, inside the window.
constexpr int32_t kMinReceivedDatagram = 17;
constexpr int32_t kMaxReceivedDatagram = 415;

// The UDP path beside the mailslot: each post is also sent as one datagram
// with the same bytes to this port on every adapter's broadcast address and
// on the loopback address; every server instance listens on it.
constexpr uint16_t kUdpPort = 38217;

// Not part of the wire: what every receiver on that port (the server
// instance, the native tool) asks the kernel to buffer, room for a burst of
// several hundred datagrams.
constexpr int kUdpReceiveBufferBytes = 1 << 20;

// The library's own window message on which Winsock tells the server
// instance that datagrams wait on its UDP socket.
constexpr char kUdpNotifyMessageName[] = "VFP_Zanvor_Datagram";

}  // namespace zanvor

#endif  // ZANVOR_CONTRACT_NETWORK_H_
