// Receive ticks over a mailslot filled from the input, checked against a
// plain model of the tick rules.
//
// Input: one flags byte, then records, each an op byte and its data:
//   op % 4 == 0  raw datagram: 2-byte little-endian length (mod 700), then bytes
//   op % 4 == 1  packed text: id byte, ticks byte, payload length byte, payload
//   op % 4 == 2  the previous datagram again
//   op % 4 == 3  packed text as for 1, then one byte flipped at (op / 4)
// Flags: bit 0 starts with read errors already reported; bit 1 drops the
// mailslot; bits 2-3 pick the tick whose reads fail (with bit 4: in ReadFile
// rather than GetMailslotInfo).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "messaging/packet.h"
#include "messaging/receive_tick.h"
#include "unit/fake_mailslot.h"

namespace {

using zanvor::fuzz::Bytes;
using Texts = std::vector<std::pair<std::string, std::string>>;

using zanvor::fuzz::Check;
using zanvor::fuzz::Reader;

std::vector<Bytes> ParseDatagrams(Reader& in) {
  std::vector<Bytes> datagrams;
  while (!in.AtEnd()) {
    const uint8_t op = in.Byte();
    if (op % 4 == 0) {
      const size_t low = in.Byte();
      const size_t length = (low | static_cast<size_t>(in.Byte()) << 8) % 700;
      datagrams.push_back(in.Take(length));
    } else if (op % 4 == 2) {
      if (!datagrams.empty()) datagrams.push_back(datagrams.back());
    } else {
      const uint32_t id = in.Byte();
      const uint32_t ticks = in.Byte() * 7919u;
      const Bytes payload = in.Take(in.Byte() + 1u);
      if (payload.empty()) break;  // the input ended inside the record
      Bytes packet = zanvor::PackDatagram(zanvor::TestId(id),
                                          std::string(payload.begin(), payload.end()), ticks);
      if (op % 4 == 3) packet[(op / 4u) % packet.size()] ^= 0x5A;
      datagrams.push_back(std::move(packet));
    }
  }
  return datagrams;
}

// The tick rules written plainly, over a copy of the queue. The clock stands
// still and an input holds far fewer ids than the filter does, so every id
// that passed its check byte stays seen.
class Model {
 public:
  // One tick with working reads; returns what it should dispatch.
  Texts Tick(std::deque<Bytes>& queue) {
    Texts texts;
    for (int i = 0; i < zanvor::kDatagramsPerTick && !queue.empty(); ++i) {
      Bytes d = std::move(queue.front());
      queue.pop_front();
      if (d.size() > static_cast<size_t>(zanvor::kPacketBufferSize)) continue;
      if (d.size() < 17 || d.size() > 415) continue;
      const Bytes id(d.begin(), d.begin() + 16);
      Bytes plain(d.size() - 16);
      zanvor::CMsgUnPack unpacker;
      const int32_t n =
          unpacker.UnPack(d.data() + 16, static_cast<int32_t>(plain.size()), plain.data());
      if (n == 0) continue;  // a bad check byte: not recorded
      bool seen = false;
      for (const Bytes& old : ids_) seen = seen || old == id;
      if (seen) continue;
      ids_.push_back(id);
      const std::string payload(plain.begin(), plain.begin() + n);
      const size_t colon = payload.find(':');
      if (colon == std::string::npos) continue;
      const std::string name = payload.substr(0, colon);
      const std::string message = payload.substr(colon + 1);
      texts.emplace_back(name.substr(0, name.find('\0')), message.substr(0, message.find('\0')));
    }
    return texts;
  }

 private:
  std::vector<Bytes> ids_;
};

class CheckingSink : public zanvor::ReceiveSink {
 public:
  void DispatchReceived(const std::string& name, const std::string& message) override {
    Check(name.find(':') == std::string::npos, "name holds a colon");
    Check(name.find('\0') == std::string::npos, "name holds a NUL");
    Check(message.find('\0') == std::string::npos, "message holds a NUL");
    Check(name.size() + 1 + message.size() <= 415 - 21, "text longer than any packet holds");
    texts.emplace_back(name, message);
  }
  void ShowErrorBox(const std::string& text) override { boxes.push_back(text); }
  uint32_t LastError() override {
    ++lastErrorCalls;
    return 31;
  }

  Texts texts;
  std::vector<std::string> boxes;
  int lastErrorCalls = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Reader in(data, size);
  const uint8_t flags = in.Byte();
  const std::vector<Bytes> datagrams = ParseDatagrams(in);

  zanvor::FakeMailslot mailslot;
  std::deque<Bytes> modelQueue;
  for (const Bytes& d : datagrams) {
    mailslot.Push(d);
    modelQueue.push_back(d);
  }
  mailslot.hasMailslot = (flags & 2) == 0;
  const int failingTick = (flags >> 2) & 3;
  const bool failInRead = (flags & 16) != 0;

  zanvor::ReceiveState state;
  state.reportReadErrors = (flags & 1) == 0;
  const bool reportedAtStart = state.reportReadErrors;
  CheckingSink sink;
  Model model;

  const size_t maxTicks = datagrams.size() + 5;
  for (size_t tick = 0; tick < maxTicks; ++tick) {
    const bool failing = !mailslot.hasMailslot || static_cast<int>(tick) == failingTick;
    mailslot.failNextSize = failing && !failInRead && mailslot.hasMailslot;
    mailslot.failRead = failing && failInRead;
    const size_t waitingBefore = mailslot.Waiting();
    const int readsBefore = mailslot.readCalls;
    sink.texts.clear();
    zanvor::RunReceiveTick(mailslot, 4711u, sink, state);

    if (failing && (!failInRead || !mailslot.hasMailslot || waitingBefore == 0)) {
      // GetMailslotInfo failed, no mailslot, or nothing to read: nothing moves.
      Check(sink.texts.empty(), "a failed tick dispatched");
      Check(mailslot.Waiting() == waitingBefore, "a failed tick consumed a datagram");
    } else if (failing) {
      Check(sink.texts.empty(), "a failed read dispatched");
      Check(mailslot.readCalls == readsBefore + 1, "a failed read did not end the tick");
      Check(mailslot.Waiting() == waitingBefore, "a failed read consumed a datagram");
    } else {
      Check(sink.texts == model.Tick(modelQueue), "tick differs from the model");
      Check(mailslot.Waiting() == modelQueue.size(), "tick consumed a different count");
      Check(waitingBefore - mailslot.Waiting() <= zanvor::kDatagramsPerTick,
            "more than a hundred datagrams in one tick");
    }
    if (mailslot.Waiting() == 0 && static_cast<int>(tick) >= failingTick) break;
  }

  Check(sink.boxes.size() <= 1, "more than one error box per load");
  Check(sink.lastErrorCalls <= 1, "error code fetched more than once");
  if (!reportedAtStart) Check(sink.boxes.empty(), "box shown after errors were reported");
  if (sink.boxes.size() == 1) {
    const std::string& box = sink.boxes[0];
    Check(box == "GetMailslotInfo error." || box == "ReadFile error." ||
              box == "Unable to read data. Error: 31.",
          "unexpected error box text");
    Check((box == "Unable to read data. Error: 31.") == (sink.lastErrorCalls == 1),
          "the timer's text without the error code, or the code without its text");
  }
  if (!mailslot.hasMailslot) Check(mailslot.nextSizeCalls == 0, "asked a missing mailslot");
  return 0;
}
