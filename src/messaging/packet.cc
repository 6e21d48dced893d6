#include "messaging/packet.h"

#include <cmath>
#include <cstring>

#include "base/little_endian.h"

namespace zanvor {
namespace {

constexpr double kMultiplier = 17.31;
constexpr double kAddend = 2.436019581372554;
constexpr double kSixDecimals = 1000000.0;
constexpr int32_t kTicksOffset = 16;
constexpr int32_t kPayloadOffset = 20;
constexpr uint8_t kFallbackMarker[4] = {0x5A, 0x56, 0x46, 0x42};

// Each rounding point of the format is its own statement on a double
// variable. With SSE2 arithmetic and -ffp-contract=off (both set by the
// build) that is exactly one IEEE rounding per operation on every target;
// x87 or a fused multiply-add would change key bytes.
double Generator(double x) {
  double y = kMultiplier * x;
  y = y + kAddend;
  const double whole = std::trunc(y);
  return y - whole;
}

// One key step on the state *x, through the object's own (virtual) NextValue.
// The state carried on is x rounded to six decimals, which can be exactly 1.0;
// its key byte is then 256 mod 256 = 0.
template <typename Packer>
uint8_t NextKeyByte(Packer& packer, double* x) {
  const double next = packer.NextValue(*x);
  const double scaled = next * kSixDecimals;
  const double shifted = scaled + 0.5;
  const int32_t n = static_cast<int32_t>(shifted);
  const double rounded = static_cast<double>(n) / kSixDecimals;
  *x = rounded;
  const double key = rounded * 256.0;
  return static_cast<uint8_t>(static_cast<int32_t>(key) & 0xFF);
}

}  // namespace

double CPackBase::ScaleSeed(double t) {
  double v = std::fabs(t);
  while (v > 1.0) v = v / 10.0;
  return v;
}

double CMsgPack::NextValue(double x) { return Generator(x); }

double CMsgUnPack::NextValue(double x) { return Generator(x); }

int32_t CMsgPack::Pack(const uint8_t* data, int32_t length, uint8_t* out, size_t capacity,
                       const uint8_t id[kPacketIdSize], uint32_t ticks) {
  if (length < 1 || capacity < static_cast<size_t>(kPacketOverhead) ||
      static_cast<size_t>(length) > capacity - kPacketOverhead) {
    return 0;
  }
  std::memcpy(out, id, kPacketIdSize);
  StoreU32(out + kTicksOffset, ticks);
  double x = ScaleSeed(static_cast<double>(ticks));
  uint8_t sum = 0;
  uint8_t key = 0;
  for (int32_t i = 0; i < length; ++i) {
    key = NextKeyByte(*this, &x);
    sum = static_cast<uint8_t>(sum + data[i]);
    out[kPayloadOffset + i] = data[i] ^ key;
  }
  out[kPayloadOffset + length] = sum ^ key;
  return length + kPacketOverhead;
}

int32_t CMsgUnPack::UnPack(const uint8_t* body, int32_t length, uint8_t* out) {
  if (length < 6) return 0;
  // The ticks are read before anything is written: out may lie over body.
  double x = ScaleSeed(static_cast<double>(LoadU32(body)));
  uint8_t sum = 0;
  uint8_t key = 0;
  for (int32_t i = 4; i <= length - 2; ++i) {
    key = NextKeyByte(*this, &x);
    const uint8_t plain = body[i] ^ key;
    sum = static_cast<uint8_t>(sum + plain);
    out[i - 4] = plain;
  }
  const uint8_t check = body[length - 1] ^ key;
  if (check == sum) return length - 5;
  std::memset(out, 0, static_cast<size_t>(length));
  return 0;
}

std::vector<uint8_t> PackTextDatagram(const std::string& text, const uint8_t id[kPacketIdSize],
                                      uint32_t ticks) {
  std::vector<uint8_t> datagram(text.size() + kPacketOverhead, 0);
  CMsgPack packer;
  const int32_t size =
      packer.Pack(reinterpret_cast<const uint8_t*>(text.data()), static_cast<int32_t>(text.size()),
                  datagram.data(), datagram.size(), id, ticks);
  datagram.resize(static_cast<size_t>(size));
  return datagram;
}

void FallbackPacketId(uint32_t ticks, uint32_t processId, uint32_t counter,
                      uint8_t out[kPacketIdSize]) {
  StoreU32(out, ticks);
  StoreU32(out + 4, processId);
  StoreU32(out + 8, counter);
  std::memcpy(out + 12, kFallbackMarker, sizeof kFallbackMarker);
}

}  // namespace zanvor
