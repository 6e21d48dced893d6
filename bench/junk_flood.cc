// junk mailslot|udp N RATE SEED: N datagrams a server instance must reject
// or take once, RATE a second (0: as fast as the path takes them), on the
// local server mailslot or to UDP 127.0.0.1 port 38217. Kinds in turn:
//
//   short     1..16 random bytes (below the smallest packet)
//   long      416..600 random bytes (above the largest; past 512 they do not
//             fit the receive buffer)
//   random    17..415 random bytes: a plausible size, almost always a bad
//             check byte, so the duplicate filter does not record its id
//   badcheck  a packet of "replay:bad-SEED-I" with its check byte flipped
//   replay    a packet of "replay:SEED-K" under an id of its own; each K is
//             sent up to three times, the copies some 60 and 120 datagrams
//             apart, well inside the filter's memory
//
// Prints "JUNK sent=N failed=F short=.. long=.. random=.. badcheck=..
// replay_copies=.. replay_texts=K elapsed_us=E". A receiver subscribed to
// "replay" must run its handler exactly once for each "SEED-K", K < replay_texts,
// and never for a "bad-" text.
//
// clang-format off
// winsock2.h must come before windows.h.
#include "base/unique_socket_win.h"
// clang-format on

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/counter_clock_win.h"
#include "bench_modes.h"
#include "contract/network.h"
#include "messaging/packet.h"

namespace zanvor {
namespace {

enum Kind { kShort, kLong, kRandom, kBadCheck, kReplay, kKinds };
// How far back, in replay turns, the second and third copy of a text go.
constexpr uint64_t kReplayLag = 4;
constexpr uint32_t kReplayProcessTag = 0x4A554E4B;  // keeps the ids apart from real posts

class Rng {
 public:
  explicit Rng(uint32_t seed) : state_(seed == 0 ? 0x9E3779B9u : seed) {}
  uint32_t Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return state_;
  }
  uint32_t Between(uint32_t low, uint32_t high) { return low + Next() % (high - low + 1); }

 private:
  uint32_t state_;
};

class Sink {
 public:
  virtual ~Sink() = default;
  virtual bool Send(const uint8_t* data, uint32_t size) = 0;
};

class MailslotSink final : public Sink {
 public:
  bool Open() {
    file_.reset(CreateFileA(kServerMailslotName, GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file_.valid();
  }
  bool Send(const uint8_t* data, uint32_t size) override {
    DWORD written = 0;
    return WriteFile(file_.get(), data, size, &written, nullptr) && written == size;
  }

 private:
  UniqueFile file_;
};

class UdpSink final : public Sink {
 public:
  bool Open() {
    if (!session_.ok()) return false;
    socket_.reset(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    return socket_.valid();
  }
  bool Send(const uint8_t* data, uint32_t size) override {
    const sockaddr_in to = Ipv4Address(INADDR_LOOPBACK, kUdpPort);
    return sendto(socket_.get(), reinterpret_cast<const char*>(data), static_cast<int>(size), 0,
                  reinterpret_cast<const sockaddr*>(&to), sizeof to) == static_cast<int>(size);
  }

 private:
  WinsockSession session_;
  UniqueSocket socket_;
};

uint32_t PackText(const std::string& text, const uint8_t id[kPacketIdSize],
                  std::vector<uint8_t>* out) {
  return static_cast<uint32_t>(CMsgPack().Pack(reinterpret_cast<const uint8_t*>(text.data()),
                                               static_cast<int32_t>(text.size()), out->data(),
                                               out->size(), id, GetTickCount()));
}

void WaitUntil(uint64_t deadline) {
  for (;;) {
    const uint64_t now = CounterMicroseconds();
    if (now >= deadline) return;
    Sleep(static_cast<DWORD>((deadline - now) / 1000));
  }
}

}  // namespace

int RunJunk(const std::string& path, uint64_t count, uint64_t perSecond, uint32_t seed) {
  MailslotSink mailslot;
  UdpSink udp;
  Sink* sink = nullptr;
  if (path == "mailslot" && mailslot.Open()) sink = &mailslot;
  if (path == "udp" && udp.Open()) sink = &udp;
  if (sink == nullptr) {
    std::fprintf(stderr, "junk: cannot open the %s path: error %lu\n", path.c_str(),
                 GetLastError());
    return 1;
  }
  Rng rng(seed);
  uint64_t sent[kKinds] = {};
  uint64_t failed = 0;
  uint64_t replayTurns = 0;
  uint64_t replayTexts = 0;
  std::vector<uint8_t> datagram(600);
  const uint64_t start = CounterMicroseconds();
  for (uint64_t i = 0; i < count; ++i) {
    if (perSecond != 0) WaitUntil(start + i * 1000000 / perSecond);
    const Kind kind = static_cast<Kind>(i % kKinds);
    uint32_t size = 0;
    if (kind == kShort || kind == kLong || kind == kRandom) {
      size = kind == kShort  ? rng.Between(1, kMinReceivedDatagram - 1)
             : kind == kLong ? rng.Between(kMaxReceivedDatagram + 1, 600)
                             : rng.Between(kMinReceivedDatagram, kMaxReceivedDatagram);
      for (uint32_t b = 0; b < size; ++b) datagram[b] = static_cast<uint8_t>(rng.Next());
    } else if (kind == kBadCheck) {
      uint8_t id[kPacketIdSize];
      for (uint8_t& b : id) b = static_cast<uint8_t>(rng.Next());
      size =
          PackText("replay:bad-" + std::to_string(seed) + "-" + std::to_string(i), id, &datagram);
      datagram[size - 1] ^= 0x5A;
    } else {
      // Turn t sends text t, then t - lag, then t - 2 * lag, in rotation.
      const uint64_t turn = replayTurns++;
      const uint64_t back = (turn % 3) * kReplayLag;
      const uint64_t k = turn / 3 >= back ? turn / 3 - back : turn / 3;
      if (k + 1 > replayTexts) replayTexts = k + 1;
      uint8_t id[kPacketIdSize];
      FallbackPacketId(seed, kReplayProcessTag, static_cast<uint32_t>(k), id);
      size = PackText("replay:" + std::to_string(seed) + "-" + std::to_string(k), id, &datagram);
    }
    if (sink->Send(datagram.data(), size)) {
      ++sent[kind];
    } else {
      ++failed;
    }
  }
  const uint64_t elapsed = CounterMicroseconds() - start;
  std::printf(
      "JUNK sent=%llu failed=%llu short=%llu long=%llu random=%llu badcheck=%llu "
      "replay_copies=%llu replay_texts=%llu elapsed_us=%llu\n",
      static_cast<unsigned long long>(count - failed), static_cast<unsigned long long>(failed),
      static_cast<unsigned long long>(sent[kShort]), static_cast<unsigned long long>(sent[kLong]),
      static_cast<unsigned long long>(sent[kRandom]),
      static_cast<unsigned long long>(sent[kBadCheck]),
      static_cast<unsigned long long>(sent[kReplay]), static_cast<unsigned long long>(replayTexts),
      static_cast<unsigned long long>(elapsed));
  return failed == 0 ? 0 : 1;
}

}  // namespace zanvor
