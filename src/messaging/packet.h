// The datagram that carries one posted text between machines, and the
// scrambler that hides it.
//
// MessagePacket, L = payload length (the text name:message, no NUL):
//   [0, 16)        packet id, 16 bytes, copied as given (a GUID in memory order)
//   [16, 20)       seed ticks, uint32 little-endian
//   [20, 20 + L)   payload XOR key stream
//   20 + L         (sum of plain bytes mod 256) XOR the last key byte
// There is no length field: the datagram's own size delimits the packet.
//
// Sender and receiver derive the key stream from the seed ticks alone, so the
// generator's arithmetic is part of the wire format: every operation is one
// IEEE double rounding, with no wider intermediates and no fused multiply-add.
#ifndef ZANVOR_MESSAGING_PACKET_H_
#define ZANVOR_MESSAGING_PACKET_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zanvor {

constexpr int32_t kPacketIdSize = 16;
constexpr int32_t kPacketOverhead = 21;     // id, seed ticks and check byte
constexpr int32_t kPacketBufferSize = 512;  // send and receive buffers

class CPackBase {
 public:
  // Scales a tick count (an unsigned 32-bit value converted to double) into
  // the generator's seed in [0, 1] by dividing by 10 while it exceeds 1.
  // Powers of ten therefore all give exactly 1.0.
  double ScaleSeed(double t);
};

// Packs one text. Holds no state; make one per packet.
class CMsgPack : public CPackBase {
 public:
  // The generator: frac(17.31 * x + 2.436019581372554), in [0, 1) for x in [0, 1].
  virtual double NextValue(double x);

  // Writes the packet for data[0, length) to `out`, a buffer of `capacity`
  // bytes, and returns its size, length + kPacketOverhead. `id` becomes the
  // packet id, `ticks` the seed.
  // A length below 1, or a packet larger than `capacity`, gives no packet:
  // nothing is written and 0 is returned.
  // REQUIRES: out does not overlap data.
  int32_t Pack(const uint8_t* data, int32_t length, uint8_t* out, size_t capacity,
               const uint8_t id[kPacketIdSize], uint32_t ticks);
};

// Unpacks one received packet. Holds no state; make one per packet.
class CMsgUnPack : public CPackBase {
 public:
  // The same generator as CMsgPack's.
  virtual double NextValue(double x);

  // `body` is the packet from its seed ticks on (packet offset 16) and
  // `length` its size minus 16. Writes the plain payload to `out` and returns
  // its length (length - 5). No NUL is written.
  // Returns 0 when length < 6 (out untouched) or when the check byte does
  // not match (out zeroed over `length` bytes).
  // REQUIRES: out holds `length` bytes. out may alias body at or before it
  // (out <= body): output byte j is written only after body[j + 4] was read,
  // so the receiver unpacks over the start of its own receive buffer.
  int32_t UnPack(const uint8_t* body, int32_t length, uint8_t* out);
};

// The packet of `text` (name:message) as a datagram of its own size, for
// the senders that are not bound to kPacketBufferSize; empty when CMsgPack
// makes none (an empty text).
std::vector<uint8_t> PackTextDatagram(const std::string& text, const uint8_t id[kPacketIdSize],
                                      uint32_t ticks);

// A packet id for when the system cannot make a GUID: ticks, processId and
// counter little-endian in bytes 0..11, then a fixed 4-byte marker. Distinct
// inputs give distinct ids, and no input gives the all-zero id.
void FallbackPacketId(uint32_t ticks, uint32_t processId, uint32_t counter,
                      uint8_t out[kPacketIdSize]);

}  // namespace zanvor

#endif  // ZANVOR_MESSAGING_PACKET_H_
