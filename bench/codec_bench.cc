// The datagram codec's cost per byte, beside the bare arithmetic of its key
// stream over the same number of bytes: the ratio is what the codec adds
// (the virtual generator call, the check byte, the copying).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "messaging/packet.h"

namespace {

constexpr int32_t kPayloadLength = 365;  // the longest text a post can make

std::vector<uint8_t> Payload() {
  std::vector<uint8_t> payload(kPayloadLength);
  for (int32_t i = 0; i < kPayloadLength; ++i) payload[i] = static_cast<uint8_t>('a' + i % 26);
  payload[6] = ':';
  return payload;
}

const uint8_t kId[zanvor::kPacketIdSize] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

void BM_Pack(benchmark::State& state) {
  const std::vector<uint8_t> payload = Payload();
  uint8_t packet[zanvor::kPacketBufferSize];
  uint32_t ticks = 1234567;
  for (auto _ : state) {
    zanvor::CMsgPack packer;
    benchmark::DoNotOptimize(
        packer.Pack(payload.data(), kPayloadLength, packet, sizeof packet, kId, ticks++));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kPayloadLength);
}
BENCHMARK(BM_Pack);

void BM_UnPack(benchmark::State& state) {
  const std::vector<uint8_t> payload = Payload();
  uint8_t packet[zanvor::kPacketBufferSize];
  zanvor::CMsgPack packer;
  const int32_t size =
      packer.Pack(payload.data(), kPayloadLength, packet, sizeof packet, kId, 1234567);
  uint8_t out[zanvor::kPacketBufferSize];
  for (auto _ : state) {
    zanvor::CMsgUnPack unpacker;
    const int32_t n =
        unpacker.UnPack(packet + zanvor::kPacketIdSize, size - zanvor::kPacketIdSize, out);
    if (n != kPayloadLength) state.SkipWithError("the packet did not unpack");
    benchmark::DoNotOptimize(n);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kPayloadLength);
}
BENCHMARK(BM_UnPack);

// The same steps as one key byte of the codec, written inline: generator,
// six-decimal rounding, key byte. Nothing else.
void BM_KeyStreamArithmetic(benchmark::State& state) {
  uint32_t ticks = 1234567;
  for (auto _ : state) {
    double x = static_cast<double>(ticks++ % 1000000) / 1000000.0;
    uint8_t key = 0;
    for (int32_t i = 0; i < kPayloadLength; ++i) {
      double y = 17.31 * x;
      y = y + 2.436019581372554;
      const double whole = std::trunc(y);
      const double next = y - whole;
      const double scaled = next * 1000000.0;
      const double shifted = scaled + 0.5;
      const int32_t n = static_cast<int32_t>(shifted);
      x = static_cast<double>(n) / 1000000.0;
      const double k = x * 256.0;
      key ^= static_cast<uint8_t>(static_cast<int32_t>(k) & 0xFF);
    }
    benchmark::DoNotOptimize(key);
  }
  state.SetBytesProcessed(state.iterations() * kPayloadLength);
}
BENCHMARK(BM_KeyStreamArithmetic);

}  // namespace

BENCHMARK_MAIN();
