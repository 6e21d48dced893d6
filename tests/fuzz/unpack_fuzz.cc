// UnPack on arbitrary bodies: into a separate buffer, over the start of a
// receive buffer and over the body itself. Every outcome must be one of the
// three the contract allows, and every accepted body must be exactly what
// Pack makes of the payload it yields.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "messaging/packet.h"

namespace {

using zanvor::fuzz::Check;

bool AllEqual(const uint8_t* p, size_t n, uint8_t value) {
  for (size_t i = 0; i < n; ++i) {
    if (p[i] != value) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using zanvor::CMsgPack;
  using zanvor::CMsgUnPack;
  using zanvor::kPacketIdSize;
  if (size > 4096) return 0;
  const int32_t length = static_cast<int32_t>(size);
  const std::vector<uint8_t> body(data, data + size);

  // Exactly `length` bytes of output, so ASan sees any write beyond it.
  std::vector<uint8_t> out(size, 0xCC);
  CMsgUnPack unpacker;
  const int32_t n = unpacker.UnPack(body.data(), length, out.data());
  if (length < 6) {
    Check(n == 0, "short body accepted");
    Check(AllEqual(out.data(), size, 0xCC), "short body wrote output");
  } else if (n == 0) {
    Check(AllEqual(out.data(), size, 0), "rejected body left output unzeroed");
  } else {
    Check(n == length - 5, "payload length is not length - 5");
    const uint8_t id[kPacketIdSize] = {};
    const uint32_t ticks = static_cast<uint32_t>(body[0]) | static_cast<uint32_t>(body[1]) << 8 |
                           static_cast<uint32_t>(body[2]) << 16 |
                           static_cast<uint32_t>(body[3]) << 24;
    std::vector<uint8_t> packet(static_cast<size_t>(n) + zanvor::kPacketOverhead);
    CMsgPack packer;
    Check(packer.Pack(out.data(), n, packet.data(), packet.size(), id, ticks) ==
              length + kPacketIdSize,
          "repacked size differs");
    Check(std::memcmp(packet.data() + kPacketIdSize, body.data(), size) == 0,
          "accepted body is not what Pack makes of its payload");
  }

  // In place, over the start of the buffer the packet arrived in.
  std::vector<uint8_t> received(kPacketIdSize + size);
  if (size > 0) std::memcpy(received.data() + kPacketIdSize, body.data(), size);
  CMsgUnPack again;
  Check(again.UnPack(received.data() + kPacketIdSize, length, received.data()) == n,
        "in-place result differs");
  if (n > 0) {
    Check(std::memcmp(received.data(), out.data(), static_cast<size_t>(n)) == 0,
          "in-place payload differs");
  }

  // In place, right over the body.
  std::vector<uint8_t> self = body;
  CMsgUnPack third;
  Check(third.UnPack(self.data(), length, self.data()) == n, "self-overlapping result differs");
  if (n > 0 || length >= 6) {
    Check(std::memcmp(self.data(), out.data(), n > 0 ? static_cast<size_t>(n) : size) == 0,
          "self-overlapping output differs");
  }
  return 0;
}
