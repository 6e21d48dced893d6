#include "messaging/packet.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace zanvor {
namespace {

using Bytes = std::vector<uint8_t>;

const Bytes kId = {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7,
                   0xA8, 0xA9, 0xAA, 0xAB, 0xAC, 0xAD, 0xAE, 0xAF};

Bytes Pack(const Bytes& payload, uint32_t ticks, const Bytes& id = kId) {
  Bytes packet(payload.size() + kPacketOverhead + 8, 0xEE);
  CMsgPack packer;
  const int32_t size = packer.Pack(payload.data(), static_cast<int32_t>(payload.size()),
                                   packet.data(), packet.size(), id.data(), ticks);
  EXPECT_EQ(static_cast<size_t>(size), payload.size() + kPacketOverhead);
  packet.resize(static_cast<size_t>(size));
  return packet;
}

// Unpacks a whole packet into a separate buffer of exactly size - 16 bytes
// (so ASan sees any write past it). *out receives that buffer.
int32_t UnPack(const Bytes& packet, Bytes* out) {
  const int32_t length = static_cast<int32_t>(packet.size()) - kPacketIdSize;
  out->assign(static_cast<size_t>(length), 0xCC);
  CMsgUnPack unpacker;
  return unpacker.UnPack(packet.data() + kPacketIdSize, length, out->data());
}

// The first `count` key bytes for a seed: the scrambled bytes of a zero payload.
Bytes KeyStream(uint32_t ticks, size_t count) {
  const Bytes packet = Pack(Bytes(count, 0), ticks);
  return Bytes(packet.begin() + 20, packet.begin() + 20 + static_cast<long>(count));
}

Bytes AllByteValues() {
  Bytes payload;
  for (int i = 0; i < 256; ++i) payload.push_back(static_cast<uint8_t>(i));
  return payload;
}

TEST(PacketLayoutTest, PacketIsIdTicksScrambledPayloadAndCheckByte) {
  const Bytes payload(37, 'q');
  const Bytes packet = Pack(payload, 0x12345678);
  ASSERT_EQ(packet.size(), 37u + 21u);
  EXPECT_EQ(Bytes(packet.begin(), packet.begin() + 16), kId);
  EXPECT_EQ(packet[16], 0x78);
  EXPECT_EQ(packet[17], 0x56);
  EXPECT_EQ(packet[18], 0x34);
  EXPECT_EQ(packet[19], 0x12);
}

TEST(PacketLayoutTest, PackWritesNothingForAnEmptyPayload) {
  Bytes out(32, 0xEE);
  CMsgPack packer;
  EXPECT_EQ(packer.Pack(nullptr, 0, out.data(), out.size(), kId.data(), 1), 0);
  EXPECT_EQ(packer.Pack(nullptr, -3, out.data(), out.size(), kId.data(), 1), 0);
  EXPECT_EQ(out, Bytes(32, 0xEE));
}

// The buffer is exactly as large as the capacity given, so ASan sees any
// write past it.
TEST(PacketLayoutTest, PackRefusesAPacketLargerThanItsBuffer) {
  CMsgPack packer;
  const Bytes payload(kPacketBufferSize - kPacketOverhead + 1, 'p');
  Bytes out(kPacketBufferSize, 0xEE);
  EXPECT_EQ(packer.Pack(payload.data(), static_cast<int32_t>(payload.size()), out.data(),
                        out.size(), kId.data(), 1),
            0);
  EXPECT_EQ(out, Bytes(kPacketBufferSize, 0xEE));
  EXPECT_EQ(packer.Pack(payload.data(), static_cast<int32_t>(payload.size()) - 1, out.data(),
                        out.size(), kId.data(), 1),
            kPacketBufferSize);
  for (const size_t capacity : {0, 1, 20, 21}) {
    Bytes small(capacity, 0xEE);
    EXPECT_EQ(packer.Pack(payload.data(), 1, small.data(), capacity, kId.data(), 1), 0) << capacity;
    EXPECT_EQ(small, Bytes(capacity, 0xEE)) << capacity;
  }
  Bytes exact(22, 0xEE);
  EXPECT_EQ(packer.Pack(payload.data(), 1, exact.data(), exact.size(), kId.data(), 1), 22);
}

// Packets pinned byte for byte. The same expectations run natively and as an
// i686 program under Wine, which proves both builds round identically.
TEST(PacketGoldenTest, KnownPacketsAreReproducedExactly) {
  EXPECT_EQ(Pack({'n', 'e', 'w', 's', ':', 'h', 'e', 'l', 'l', 'o'}, 123456),
            (Bytes{0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9, 0xAA,
                   0xAB, 0xAC, 0xAD, 0xAE, 0xAF, 0x40, 0xE2, 0x01, 0x00, 0xFC, 0x3F,
                   0xE1, 0xEF, 0x33, 0x79, 0xC7, 0x0A, 0x39, 0x5C, 0x38}));
  const std::string orders = "Orders:Ship #42 today";
  EXPECT_EQ(
      Pack(Bytes(orders.begin(), orders.end()), 4294967295u),
      (Bytes{0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9, 0xAA, 0xAB, 0xAC, 0xAD,
             0xAE, 0xAF, 0xFF, 0xFF, 0xFF, 0xFF, 0x91, 0xF3, 0x56, 0x84, 0xC4, 0xB1, 0xA2, 0x91,
             0xF8, 0x5F, 0x56, 0x2C, 0x6B, 0x68, 0x9F, 0x03, 0xAD, 0x73, 0x38, 0xCE, 0x2A, 0x74}));
  EXPECT_EQ(Pack({'x', ':'}, 0, Bytes(16, 0)),
            (Bytes{0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                   0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x17, 0xC1, 0x49}));
  EXPECT_EQ(Pack({'a', 'l', 'e', 'r', 't', ':', 0x00, 0xFF, ':', 0x80}, 668052),
            (Bytes{0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9, 0xAA,
                   0xAB, 0xAC, 0xAD, 0xAE, 0xAF, 0x94, 0x31, 0x0A, 0x00, 0x61, 0xD2,
                   0x3C, 0x0E, 0x96, 0x87, 0x3D, 0x66, 0xEF, 0x5A, 0xD1}));
}

// A digest of 3000 key streams of 365 bytes over seeds spread across the
// tick range; the value was computed natively and by an independent
// double-precision model of the generator.
TEST(PacketGoldenTest, KeyStreamDigestIsPinned) {
  uint64_t hash = 1469598103934665603ull;
  const Bytes zeros(365, 0);
  for (uint32_t t = 0; t < 3000; ++t) {
    const uint32_t ticks = t * 1431655u + 7u * (t & 15);
    const Bytes packet = Pack(zeros, ticks);
    for (size_t i = 20; i < 20 + 365; ++i) {
      hash ^= packet[i];
      hash *= 1099511628211ull;
    }
  }
  EXPECT_EQ(hash, 0x14D6688BE3357A34ull);
}

TEST(PacketRoundTripTest, EveryByteValueSurvives) {
  const Bytes payload = AllByteValues();
  for (uint32_t ticks : {0u, 1u, 5u, 47u, 123456789u, 4294967295u}) {
    Bytes out;
    ASSERT_EQ(UnPack(Pack(payload, ticks), &out), 256) << "ticks " << ticks;
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 256), payload) << "ticks " << ticks;
  }
}

TEST(PacketRoundTripTest, ZeroBytesAndColonsSurviveAtEveryLength) {
  for (size_t length = 1; length <= 394; ++length) {
    Bytes payload(length);
    for (size_t i = 0; i < length; ++i) payload[i] = (i % 3 == 0) ? 0 : (i % 3 == 1) ? ':' : 0xFF;
    const uint32_t ticks = static_cast<uint32_t>(length * 2654435761u);
    Bytes out;
    ASSERT_EQ(UnPack(Pack(payload, ticks), &out), static_cast<int32_t>(length));
    EXPECT_EQ(Bytes(out.begin(), out.begin() + static_cast<long>(length)), payload);
  }
}

TEST(PacketRoundTripTest, UnpacksInPlaceOverTheReceiveBuffer) {
  const std::string text = "channel:payload with : colons";
  Bytes buffer = Pack(Bytes(text.begin(), text.end()), 987654);
  CMsgUnPack unpacker;
  // Over the start of the packet, as the receiver does it.
  const int32_t n =
      unpacker.UnPack(buffer.data() + 16, static_cast<int32_t>(buffer.size()) - 16, buffer.data());
  ASSERT_EQ(n, static_cast<int32_t>(text.size()));
  EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + n), text);

  // Right over the body itself: output byte j after input byte j + 4.
  Bytes again = Pack(Bytes(text.begin(), text.end()), 987654);
  ASSERT_EQ(unpacker.UnPack(again.data() + 16, static_cast<int32_t>(again.size()) - 16,
                            again.data() + 16),
            n);
  EXPECT_EQ(std::string(again.begin() + 16, again.begin() + 16 + n), text);
}

class PacketCorruptionTest : public ::testing::Test {
 protected:
  void ExpectRejected(const Bytes& packet) {
    Bytes out;
    EXPECT_EQ(UnPack(packet, &out), 0);
    EXPECT_EQ(out, Bytes(packet.size() - 16, 0)) << "output not zeroed over length";
  }

  const std::string text_ = "prices:EUR 1.0842";
  const Bytes packet_ = Pack(Bytes(text_.begin(), text_.end()), 3141592);
};

TEST_F(PacketCorruptionTest, AnyFlippedPayloadByteIsDetected) {
  for (size_t i = 20; i < packet_.size() - 1; ++i) {
    for (uint8_t mask : {0x01, 0x80, 0xFF}) {
      Bytes bad = packet_;
      bad[i] ^= mask;
      SCOPED_TRACE(testing::Message() << "byte " << i << " mask " << int{mask});
      ExpectRejected(bad);
    }
  }
}

TEST_F(PacketCorruptionTest, AnyFlippedCheckBitIsDetected) {
  for (int bit = 0; bit < 8; ++bit) {
    Bytes bad = packet_;
    bad.back() ^= static_cast<uint8_t>(1 << bit);
    ExpectRejected(bad);
  }
}

TEST_F(PacketCorruptionTest, ZeroingOnRejectCoversOnlyLength) {
  Bytes bad = packet_;
  bad.back() ^= 1;
  const int32_t length = static_cast<int32_t>(bad.size()) - 16;
  Bytes out(static_cast<size_t>(length) + 4, 0xCC);
  CMsgUnPack unpacker;
  EXPECT_EQ(unpacker.UnPack(bad.data() + 16, length, out.data()), 0);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + length), Bytes(static_cast<size_t>(length), 0));
  EXPECT_EQ(Bytes(out.begin() + length, out.end()), Bytes(4, 0xCC));
}

TEST(PacketShortTest, TwentyOneBytesOrFewerGiveNothingAndLeaveOutputAlone) {
  const Bytes full = Pack({'a', ':', 'b'}, 77);
  CMsgUnPack unpacker;
  for (int32_t length = 0; length <= 5; ++length) {
    Bytes out(8, 0xCC);
    EXPECT_EQ(unpacker.UnPack(full.data() + 16, length, out.data()), 0) << "length " << length;
    EXPECT_EQ(out, Bytes(8, 0xCC)) << "length " << length;
  }
  // 22 bytes, a payload of one byte, is the shortest packet that unpacks.
  Bytes out;
  EXPECT_EQ(UnPack(Pack({'z'}, 77), &out), 1);
  EXPECT_EQ(out[0], 'z');
}

TEST(PacketSeedTest, ScaleSeedFollowsTheDivideByTenRule) {
  CPackBase base;
  EXPECT_EQ(base.ScaleSeed(0), 0.0);
  EXPECT_EQ(base.ScaleSeed(5), 0.5);
  EXPECT_EQ(base.ScaleSeed(1), 1.0);
  EXPECT_EQ(base.ScaleSeed(10), 1.0);
  EXPECT_EQ(base.ScaleSeed(1000000), 1.0);
  EXPECT_EQ(base.ScaleSeed(-5), 0.5);
  EXPECT_NEAR(base.ScaleSeed(47), 0.47, 1e-15);
  EXPECT_EQ(base.ScaleSeed(11), 11.0 / 10.0 / 10.0);  // 1.1 is still above 1
  for (double t : {2.0, 99.0, 101.0, 65535.0, 4294967295.0}) {
    const double seed = base.ScaleSeed(t);
    EXPECT_GT(seed, 0.0) << t;
    EXPECT_LE(seed, 1.0) << t;
  }
}

TEST(PacketSeedTest, PowersOfTenShareOneKeyStreamAndZeroHasItsOwn) {
  const Bytes one = KeyStream(1, 64);
  EXPECT_EQ(KeyStream(10, 64), one);
  EXPECT_EQ(KeyStream(1000000, 64), one);
  EXPECT_NE(KeyStream(2, 64), one);
  const Bytes zero = KeyStream(0, 64);
  EXPECT_NE(zero, one);
  // Seed 0: frac(2.436019581372554) = 0.436019..., six decimals 0.43602, key 111.
  EXPECT_EQ(zero[0], 111);
}

// A generator that records every state it is asked about.
class RecordingPack : public CMsgPack {
 public:
  double NextValue(double x) override {
    states.push_back(x);
    return CMsgPack::NextValue(x);
  }
  std::vector<double> states;
};

// The state 0.668052 is followed by 0.99999970137..., which six-decimal
// rounding takes to exactly 1.0. Tick 668052 seeds the stream just below it
// (0.66805199999999987) and reaches 1.0 on the first step.
TEST(PacketKeyStepTest, StepRoundingToOneGivesKeyByteZeroAndContinuesFromOne) {
  CMsgPack packer;
  const double next = packer.NextValue(0.668052);
  EXPECT_LT(next, 1.0);
  EXPECT_EQ(static_cast<int32_t>(next * 1000000.0 + 0.5), 1000000);

  RecordingPack recorder;
  const Bytes zeros(8, 0);
  Bytes packet(zeros.size() + kPacketOverhead);
  recorder.Pack(zeros.data(), 8, packet.data(), packet.size(), kId.data(), 668052);
  EXPECT_EQ(packet[20], 0) << "key byte of the step that reached 1.0";
  ASSERT_EQ(recorder.states.size(), 8u);
  EXPECT_EQ(recorder.states[1], 1.0);

  // From then on it is the key stream of seed 1.0 (tick 1), one step later.
  const Bytes afterOne = KeyStream(1, 7);
  EXPECT_EQ(Bytes(packet.begin() + 21, packet.begin() + 28), afterOne);
}

TEST(PacketKeyStepTest, UnPackCallsItsOwnGenerator) {
  class FixedUnPack : public CMsgUnPack {
   public:
    double NextValue(double) override { return 0.25; }  // key byte 64 every step
  };
  Bytes body = {0, 0, 0, 0, 'h' ^ 64, 'i' ^ 64, static_cast<uint8_t>(('h' + 'i') ^ 64)};
  Bytes out(body.size(), 0xCC);
  FixedUnPack unpacker;
  ASSERT_EQ(unpacker.UnPack(body.data(), static_cast<int32_t>(body.size()), out.data()), 2);
  EXPECT_EQ(out[0], 'h');
  EXPECT_EQ(out[1], 'i');
}

TEST(FallbackPacketIdTest, LaysOutTheNumbersLittleEndianThenAMarker) {
  uint8_t id[16];
  FallbackPacketId(0x04030201, 0x08070605, 0x0C0B0A09, id);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(id[i], i + 1) << i;
  uint8_t zero[16];
  FallbackPacketId(0, 0, 0, zero);
  EXPECT_NE(Bytes(zero, zero + 16), Bytes(16, 0)) << "the zero id counts as seen at load";
  EXPECT_EQ(Bytes(id + 12, id + 16), Bytes(zero + 12, zero + 16));
}

TEST(FallbackPacketIdTest, DistinctInputsGiveDistinctIds) {
  std::set<Bytes> ids;
  const uint32_t values[] = {0, 1, 0x100, 0x10000, 0x1000000, 0xFFFFFFFF};
  for (uint32_t ticks : values) {
    for (uint32_t pid : values) {
      for (uint32_t counter : values) {
        uint8_t id[16];
        FallbackPacketId(ticks, pid, counter, id);
        ids.insert(Bytes(id, id + 16));
      }
    }
  }
  EXPECT_EQ(ids.size(), 6u * 6u * 6u);
}

}  // namespace
}  // namespace zanvor
