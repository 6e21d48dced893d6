// The UDP path's receive step: datagrams as recv hands them over, each
// through ReceiveDatagram, sharing one ReceiveState (and so one duplicate
// filter) with the mailslot's receive ticks, as the server instance does.
// Every outcome, and the receive counters, are checked against a plain
// model: a queue of the ids that passed their check byte, each with its
// time, from which those kRememberMs old go and, beyond kCapacity, the
// oldest.
//
// Input: records, each an op byte and its data:
//   op % 8 == 0  junk: 2-byte little-endian length (mod 600), then bytes
//   op % 8 == 1  a packet made by the codec: id, ticks byte, length byte, payload
//   op % 8 == 2  an earlier datagram again: index byte, below 0x80 counting
//                back from the last one, from 0x80 on forward from the first
//   op % 8 == 3  a packet as for 1, then one byte flipped at (op / 8)
//   op % 8 == 4  (op / 8) even: a flood: ((byte % 8) + 1) * 160 good packets
//                under fresh ids (the filter's storage grows past its first
//                size); the first flood of an input only, so that one input
//                stays cheap. (op / 8) odd: the clock moves on by byte * 250 ms
//   op % 8 == 5  a packet as for 1 under the all-zero id
//   op % 8 == 6  the next record's datagram is also queued on the mailslot
//   op % 8 == 7  one receive tick on the mailslot
// An id is an id byte: below 0x80 a test id of that number (ids repeat
// often), otherwise 16 raw id bytes follow. A datagram larger than the
// receive buffer never reaches the step (recv fails with WSAEMSGSIZE).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "contract/network.h"
#include "fuzz/fuzz_input.h"
#include "messaging/packet.h"
#include "messaging/receive_counters.h"
#include "messaging/receive_tick.h"
#include "messaging/recent_id_ring.h"
#include "unit/fake_mailslot.h"

namespace {

using zanvor::fuzz::Bytes;
// An id as two words: compared without memcmp, which libFuzzer's hooks make
// the model's costliest step.
using Id = std::pair<uint64_t, uint64_t>;
using Text = std::pair<std::string, std::string>;

using zanvor::fuzz::Check;
using zanvor::fuzz::Reader;

// A datagram, and the text it carries when the codec made it (so that the
// round trip is checked end to end); junk is unpacked by the model itself.
struct Datagram {
  Bytes bytes;
  bool made = false;
  std::string payload;
};

// The text a payload is delivered as: split at its first colon, name and
// message each cut at a NUL. False without a colon.
bool TextOf(const std::string& payload, Text* text) {
  const size_t colon = payload.find(':');
  if (colon == std::string::npos) return false;
  const std::string name = payload.substr(0, colon);
  const std::string message = payload.substr(colon + 1);
  *text = Text(name.substr(0, name.find('\0')), message.substr(0, message.find('\0')));
  return true;
}

struct IdHash {
  size_t operator()(const Id& id) const {
    return static_cast<size_t>(id.first * 0x9E3779B97F4A7C15u ^ id.second);
  }
};

class Model {
 public:
  // What the step should do with `d` at nowMs: false to drop it, else *text.
  bool Receive(const Datagram& d, uint32_t nowMs, Text* text) {
    const Fate fate = FateOf(d, nowMs, text);
    ++(fate == Fate::kDelivered   ? counters.delivered
       : fate == Fate::kDuplicate ? counters.duplicates
                                  : counters.bad);
    return fate == Fate::kDelivered;
  }

  // The figures the receive state should show.
  zanvor::ReceiveCounters counters;

 private:
  enum class Fate { kDelivered, kDuplicate, kBad };

  Fate FateOf(const Datagram& d, uint32_t nowMs, Text* text) {
    const Bytes& b = d.bytes;
    if (b.size() < static_cast<size_t>(zanvor::kMinReceivedDatagram) ||
        b.size() > static_cast<size_t>(zanvor::kMaxReceivedDatagram)) {
      return Fate::kBad;
    }
    std::string payload;
    if (d.made) {
      payload = d.payload;
    } else {
      Bytes plain(b.size() - zanvor::kPacketIdSize);
      zanvor::CMsgUnPack unpacker;
      const int32_t n = unpacker.UnPack(b.data() + zanvor::kPacketIdSize,
                                        static_cast<int32_t>(plain.size()), plain.data());
      if (n == 0) return Fate::kBad;  // a bad check byte records nothing
      payload.assign(plain.begin(), plain.begin() + n);
    }
    Id id;
    for (int i = 0; i < 8; ++i) {
      id.first = id.first << 8 | b[i];
      id.second = id.second << 8 | b[8 + i];
    }
    while (!ids_.empty() && nowMs - ids_.front().second >= zanvor::RecentIdRing::kRememberMs) {
      ForgetOldest();
    }
    if (held_.count(id) > 0) return Fate::kDuplicate;
    if (ids_.size() == static_cast<size_t>(zanvor::RecentIdRing::kCapacity)) ForgetOldest();
    ids_.emplace_back(id, nowMs);
    held_.insert(id);
    return TextOf(payload, text) ? Fate::kDelivered : Fate::kBad;
  }

  void ForgetOldest() {
    held_.erase(ids_.front().first);
    ids_.pop_front();
  }

  std::deque<std::pair<Id, uint32_t>> ids_;  // oldest first, with their times
  std::unordered_set<Id, IdHash> held_;      // the ids in ids_
};

class RecordingSink : public zanvor::ReceiveSink {
 public:
  void DispatchReceived(const std::string& name, const std::string& message) override {
    texts.emplace_back(name, message);
  }
  void ShowErrorBox(const std::string&) override { ++boxes; }
  uint32_t LastError() override { return 0; }

  std::vector<Text> texts;
  int boxes = 0;
};

class Harness {
 public:
  // A datagram arriving on the UDP socket.
  void ArriveOverUdp(const Datagram& d) {
    if (d.bytes.size() > static_cast<size_t>(zanvor::kPacketBufferSize)) return;
    // Exactly the datagram's bytes, so that ASan sees any access beyond them.
    Bytes buffer = d.bytes;
    sink_.texts.clear();
    const bool delivered = zanvor::ReceiveDatagram(
        buffer.data(), static_cast<uint32_t>(buffer.size()), nowMs_, sink_, state_);
    Expect(d, delivered);
  }

  void QueueOnMailslot(const Datagram& d) {
    mailslot_.Push(d.bytes);
    mailslotQueue_.push_back(d);
  }

  void MailslotTick() {
    sink_.texts.clear();
    zanvor::RunReceiveTick(mailslot_, nowMs_, sink_, state_);
    std::vector<Text> expected;
    for (int i = 0; i < zanvor::kDatagramsPerTick && !mailslotQueue_.empty(); ++i) {
      Text text;
      const Datagram& d = mailslotQueue_.front();
      ++model_.counters.mailslotDatagrams;
      if (d.bytes.size() > static_cast<size_t>(zanvor::kPacketBufferSize)) {
        ++model_.counters.bad;  // read out whole and dropped
      } else if (model_.Receive(d, nowMs_, &text)) {
        expected.push_back(text);
      }
      mailslotQueue_.pop_front();
    }
    Check(sink_.texts == expected, "a mailslot tick delivered other texts than the model");
    Check(mailslot_.Waiting() == mailslotQueue_.size(), "a tick took another count");
  }

  void Drain() {
    while (mailslot_.Waiting() > 0) MailslotTick();
  }

  void CheckIndex() const { Check(state_.recentIds.IndexIsConsistent(), "the id index broke"); }
  void CheckCounters() const {
    const zanvor::ReceiveCounters& have = state_.counters;
    const zanvor::ReceiveCounters& want = model_.counters;
    Check(have.mailslotDatagrams == want.mailslotDatagrams, "mailslot datagrams miscounted");
    Check(have.udpDatagrams == 0, "the portable step counted UDP reads");
    Check(have.delivered == want.delivered, "deliveries miscounted");
    Check(have.duplicates == want.duplicates, "duplicates miscounted");
    Check(have.bad == want.bad, "bad datagrams miscounted");
  }
  // After the 1st, 2nd, 4th, 8th ... record: a full check costs more than
  // many datagrams, and a broken link stays broken until its entry is
  // overwritten.
  void CheckIndexNow() {
    ++records_;
    if ((records_ & (records_ - 1)) != 0) return;
    CheckIndex();
  }
  int boxes() const { return sink_.boxes; }
  void AdvanceClock(uint32_t ms) { nowMs_ += ms; }

 private:
  void Expect(const Datagram& d, bool delivered) {
    Text text;
    const bool expected = model_.Receive(d, nowMs_, &text);
    Check(delivered == expected, "delivered a duplicate or dropped a new text");
    Check(sink_.texts.size() == (delivered ? 1u : 0u), "return value and deliveries differ");
    if (delivered) Check(sink_.texts[0] == text, "delivered another text than was sent");
  }

  zanvor::ReceiveState state_;
  RecordingSink sink_;
  zanvor::FakeMailslot mailslot_;
  std::deque<Datagram> mailslotQueue_;
  Model model_;
  uint32_t records_ = 0;
  // Starts near the wrap, so that inputs that move it on cross it.
  uint32_t nowMs_ = 0xFFFF0000u;
};

Bytes ReadId(Reader& in) {
  const uint8_t selector = in.Byte();
  if (selector < 0x80) return zanvor::TestId(selector);
  Bytes id = in.Take(zanvor::kPacketIdSize);
  id.resize(zanvor::kPacketIdSize, 0);
  return id;
}

Datagram Made(const Bytes& id, const std::string& payload, uint32_t ticks) {
  Datagram d;
  d.bytes = zanvor::PackDatagram(id, payload, ticks);
  d.made = true;
  d.payload = payload;
  return d;
}

// A packet made by the codec; false when the input ended inside it.
bool ReadPacket(Reader& in, const Bytes& id, Datagram* d) {
  const uint32_t ticks = in.Byte() * 104729u;
  const Bytes payload = in.Take(in.Byte() + 1u);
  if (payload.empty()) return false;
  *d = Made(id, std::string(payload.begin(), payload.end()), ticks);
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Reader in(data, size);
  Harness harness;
  std::vector<Datagram> sent;  // every datagram so far, for repeats
  bool flooded = false;
  bool alsoMailslot = false;

  while (!in.AtEnd()) {
    const uint8_t op = in.Byte();
    std::vector<Datagram> batch;
    Datagram d;
    switch (op % 8) {
      case 0: {
        const size_t low = in.Byte();
        d.bytes = in.Take((low | static_cast<size_t>(in.Byte()) << 8) % 600);
        batch.push_back(d);
        break;
      }
      case 1:
      case 3:
        if (!ReadPacket(in, ReadId(in), &d)) break;
        if (op % 8 == 3) {
          d.bytes[(op / 8u) % d.bytes.size()] ^= 0x5A;
          d.made = false;
        }
        batch.push_back(d);
        break;
      case 2: {
        if (sent.empty()) break;
        const size_t index = in.Byte();
        batch.push_back(index < 0x80 ? sent[sent.size() - 1 - index % sent.size()]
                                     : sent[(index - 0x80) % sent.size()]);
        break;
      }
      case 4: {
        const uint8_t byte = in.Byte();
        if ((op / 8) % 2 == 1) {
          harness.AdvanceClock(byte * 250u);
          continue;
        }
        const int count = (byte % 8 + 1) * 160;
        if (flooded) break;
        flooded = true;
        for (int i = 0; i < count; ++i) {
          Bytes id(zanvor::kPacketIdSize);
          zanvor::FallbackPacketId(77u, 4242u, static_cast<uint32_t>(i), id.data());
          batch.push_back(Made(id, "flood:" + std::to_string(i), 4242u));
        }
        break;
      }
      case 5:
        if (ReadPacket(in, Bytes(zanvor::kPacketIdSize, 0), &d)) batch.push_back(d);
        break;
      case 6:
        alsoMailslot = true;
        continue;
      case 7:
        harness.MailslotTick();
        harness.CheckIndexNow();
        harness.CheckCounters();
        continue;
    }
    for (const Datagram& each : batch) {
      harness.ArriveOverUdp(each);
      if (alsoMailslot) harness.QueueOnMailslot(each);
      sent.push_back(each);
    }
    if (!batch.empty()) alsoMailslot = false;
    if (batch.size() > 1) {
      harness.CheckIndex();
    } else {
      harness.CheckIndexNow();
    }
    harness.CheckCounters();
  }
  harness.Drain();
  harness.CheckIndex();
  harness.CheckCounters();
  Check(harness.boxes() == 0, "an error box without a failed read");
  return 0;
}
