// The instance protocol of a whole machine: host processes that load, post,
// subscribe, unload, load again, lose their windows and die, while the
// window messages between them are delivered in any interleaving, the ring
// wraps under their texts, stores fail, and other programs send messages of
// their own. The fake machine runs the real protocol and the real ring.
//
// Checked throughout: no crash, no message storm, and every handler that
// runs was given a text somebody really posted under that name, at most
// once per subscribing host. Checked once things have settled (every window
// that was destroyed has had its process end, every host has made one more
// call and the registration timers have run): exactly one server, known to
// every loaded host, and the server's tables hold exactly the names each
// loaded host holds, under that host's window, also after the server read
// a registration or withdrawal from a record another writer had overwritten
// with another name. Messages forged by another program may mislead hosts
// about the server or the tables, so after one of those only the first
// checks apply; an older build never acknowledges or undoes a registration,
// so a name it read from an overwritten record may stay in its table, and
// the tables are then checked for the names that should be there only, or
// not at all once a name record was overwritten with another name (a
// withdrawal read as a name the host holds cannot be set right then).
//
// Input: a byte whose low five bits mark the host slots of an older build,
// then records, each an op byte (kind op % 16, argument op / 16) and data:
//   0  a new host process loads (at most kMaxHosts)
//   1  host arg SUBSCRIBEs name byte          2  ... UNSUBSCRIBEs name byte
//   3  host arg ZANVOR_LOCALs under name byte a fresh message, padded by
//      a length byte
//   4  every queue delivered until all are empty
//   5  host arg's queue delivered until empty; the others wait
//   6  host arg takes (byte % 8) + 1 messages from its queue
//   7  host arg's process is killed          8  host arg unloads
//   9  host arg loads again                  10 host arg's window is destroyed
//   11 the settle timers fire, and the registration timers (the first
//      kMaxTimerFires times only)
//   12 arg 0..7: another writer stores (arg + 1) * 12 texts of 200 bytes in
//      the ring; arg 8..15: another writer's record of the same size lands
//      on the record of one of the last four name changes posted (byte % 4
//      back), holding name byte when the sizes allow
//   13 stores start or stop failing (the buffer mutex held elsewhere)
//   14 the server receives a network text under name byte, padded as for 3
//   15 another program posts to host arg: a code byte, a 2-byte position, a
//      parameter byte (host window, 0 or 4 raw bytes); codes 12..15 of the
//      code byte send the library's own messages, 12 a status request
// The text codes (DeliverText, PostLocalText) are never forged: a forger
// that guesses the 32-bit check of a stored text is the documented limit.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "fuzz/fuzz_input.h"

#define ZANVOR_FAKE_FAILURE(what) ::zanvor::fuzz::Check(false, what)
#include "commands/handler_command.h"
#include "registry/ring_layout.h"
#include "unit/fake_machine.h"

namespace {

using zanvor::ExtensionMessage;
using zanvor::FakeMachine;
using zanvor::InstanceCode;
using zanvor::fuzz::Check;
using zanvor::fuzz::Reader;

constexpr int kMaxHosts = 5;
// Below kRegisterRetries, so that no registration has run out of retries
// before the settling rounds fire the timers again.
constexpr int kMaxTimerFires = zanvor::kRegisterRetries - 1;
constexpr uint32_t kStatusReplyWindow = 0x7000;
const char* const kNames[] = {"a", "b", "C", "long-name-of-the-orders-queue"};
constexpr char kProbeName[] = "probe";  // nobody subscribes it

std::string NameOf(uint8_t byte) { return kNames[byte % 4]; }
std::string HandlerOf(const std::string& name) { return "DO H_" + name + " WITH <Msg>"; }

class World {
 public:
  explicit World(uint8_t olderMask) : olderMask_(olderMask) {}

  void Run(Reader& in) {
    while (!in.AtEnd()) {
      Step(in);
      CheckDeliveries();
    }
    Settle();
    CheckDeliveries();
    CheckSettled();
  }

 private:
  struct Host {
    bool loaded = false;
    bool windowGone = false;
    size_t seen = 0;  // commands of this host checked so far
  };

  int Hosts() const { return static_cast<int>(hosts_.size()); }
  bool Alive(int i) const { return m_.instances[i].alive; }
  bool Loaded(int i) const { return hosts_[i].loaded && Alive(i); }
  // Loaded, and its window receives.
  bool Receiving(int i) const { return Loaded(i) && !hosts_[i].windowGone; }

  void Load() {
    if (Hosts() == kMaxHosts) return;
    const int index = static_cast<int>(hosts_.size());
    if (olderMask_ & (1u << index)) m_.olderBuilds.insert(index);
    hosts_.push_back(Host{true});
    m_.Load();
  }

  std::string Message(Reader& in) {
    return "p" + std::to_string(posted_.size()) + std::string(in.Byte(), 'x');
  }

  // Records what the handler of `name` runs for `message`.
  void Expect(const std::string& name, const std::string& message) {
    std::string command;
    Check(zanvor::BuildHandlerCommand(HandlerOf(name), message, &command), "handler builds");
    posted_.emplace(command, static_cast<int>(posted_.size()));
  }

  void Step(Reader& in) {
    const uint8_t op = in.Byte();
    const int kind = op % 16;
    // ZANVOR_FUZZ_TRACE=1 prints the ops of a crash input as they run.
    static const bool trace = std::getenv("ZANVOR_FUZZ_TRACE") != nullptr;
    if (trace && !hosts_.empty()) {
      std::fprintf(stderr, "op %d host %d\n", kind, (op / 16) % Hosts());
    }
    if (kind == 0) return Load();
    if (kind == 4) return m_.Pump();
    if (kind == 11) {
      // A new server's settle may end while messages are still on their way.
      m_.FireSettleTimers();
      if (timerFires_++ < kMaxTimerFires) m_.FireRetryTimers();
      return;
    }
    if (kind == 12) {
      if (op / 16 >= 8) return OverwriteNameRecord(in.Byte(), in.Byte());
      for (int i = 0; i < (op / 16 + 1) * 12; ++i) m_.Store(std::string(200, 'w'));
      return;
    }
    if (kind == 13) {
      m_.storesFail = !m_.storesFail;
      return;
    }
    if (kind == 14) {
      const std::string name = NameOf(in.Byte());
      const std::string message = Message(in);
      for (int i = 0; i < Hosts(); ++i) {
        if (!Loaded(i) || !m_[i].IsServer()) continue;
        Expect(name, message);
        m_[i].DispatchReceived(name, message);
      }
      return;
    }
    if (hosts_.empty()) return;
    const int i = (op / 16) % Hosts();
    switch (kind) {
      case 1:
        if (Loaded(i)) {
          const std::string name = NameOf(in.Byte());
          m_[i].Subscribe(name, HandlerOf(name));
        }
        break;
      case 2:
        if (Loaded(i)) m_[i].Unsubscribe(NameOf(in.Byte()));
        break;
      case 3:
        if (Loaded(i)) {
          const std::string name = NameOf(in.Byte());
          const std::string message = Message(in);
          Expect(name, message);
          m_[i].PostLocal(name + ":" + message);
        }
        break;
      case 5:
        m_.PumpOnly(i);
        break;
      case 6:
        for (int n = in.Byte() % 8; n >= 0; --n) m_.DeliverOne(i);
        break;
      case 7:
        if (Alive(i)) m_.Kill(i);
        break;
      case 8:
        if (Loaded(i)) {
          m_.Unload(i);
          hosts_[i].loaded = false;
        }
        break;
      case 9:
        if (Alive(i) && !hosts_[i].loaded && !hosts_[i].windowGone) {
          hosts_[i].loaded = true;
          m_.LoadAgain(i);
        }
        break;
      case 10:
        if (Alive(i) && !hosts_[i].windowGone) {
          m_.DestroyWindow(i);
          hosts_[i].windowGone = true;
        }
        break;
      case 15:
        Forge(in, i);
        break;
    }
  }

  void Forge(Reader& in, int to) {
    const uint8_t code = in.Byte() % 16;
    const uint16_t position = static_cast<uint16_t>(in.Byte() | in.Byte() << 8);
    const uint8_t pick = in.Byte();
    uint32_t parameter = 0;
    if (pick % 4 == 1) parameter = m_.Window(pick / 4 % Hosts());
    if (pick % 4 == 2) {
      for (int b = 0; b < 4; ++b) parameter = parameter << 8 | in.Byte();
    }
    if (code == zanvor::kDeliverText || code == zanvor::kPostLocalText) return;
    if (code == 12) {
      m_.queues[kStatusReplyWindow];
      m_.PostExtension(-1, ExtensionMessage::kStatus, m_.Window(to), zanvor::kStatusRequest,
                       kStatusReplyWindow);
      return;
    }
    forged_ = true;
    if (code == 13 || code == 14) {
      const ExtensionMessage which =
          code == 13 ? ExtensionMessage::kRegisterAck : ExtensionMessage::kRegisterUndo;
      m_.PostExtension(-1, which, m_.Window(to), position, parameter);
      return;
    }
    m_.Post(-1, m_.Window(to), static_cast<uint32_t>(code) << 16 | position, parameter);
  }

  // What a busy server meets when the ring wrapped under a name change: the
  // record holds another text of the same size, which it reads as the name.
  void OverwriteNameRecord(uint8_t back, uint8_t nameByte) {
    int skip = back % 4;
    for (auto post = m_.posts.rbegin(); post != m_.posts.rend(); ++post) {
      const uint32_t code = zanvor::CodeOf(post->wParam);
      if (post->from < 0 || post->extension ||
          (code != zanvor::kRegisterSubscriber && code != zanvor::kUnregisterSubscriber)) {
        continue;
      }
      if (skip-- > 0) continue;
      const uint16_t position = zanvor::PositionOf(post->wParam);
      const uint16_t length =
          zanvor::RecordLength(m_.ring.data(), static_cast<uint32_t>(m_.ring.size()), position);
      // Only a record that could still hold a name: another writer's text
      // may have covered it already.
      if (length < 2 || length > zanvor::kMaxNameLength + 1 ||
          position + zanvor::kRecordHeaderSize + length > m_.ring.size()) {
        return;
      }
      std::string text = NameOf(nameByte);
      if (text.size() + 1 != length) text = std::string(length - 1, 'w');
      zanvor::WriteRecord(m_.ring.data(), position, text.c_str(), length);
      overwritten_ = true;
      return;
    }
  }

  void CheckDeliveries() {
    for (int i = 0; i < Hosts(); ++i) {
      const std::vector<std::string>& executed = m_.Executed(i);
      for (; hosts_[i].seen < executed.size(); ++hosts_[i].seen) {
        const auto post = posted_.find(executed[hosts_[i].seen]);
        Check(post != posted_.end(), "a handler ran for a text nobody posted under its name");
        Check(delivered_.insert({i, post->second}).second, "a text reached one host twice");
      }
    }
  }

  // What a machine comes to when its hosts go on working: processes without
  // windows end, and every host calls into the library again.
  void Settle() {
    for (int i = 0; i < Hosts(); ++i) {
      if (Alive(i) && hosts_[i].windowGone) m_.Kill(i);
    }
    m_.storesFail = false;
    for (int round = 0; round < 8; ++round) {
      m_.Pump();
      for (int i = 0; i < Hosts(); ++i) {
        if (Loaded(i)) m_[i].PostLocal(std::string(kProbeName) + ":settle");
      }
      m_.Pump();
      m_.FireRetryTimers();
      m_.Pump();
    }
  }

  // In-use names of `tables` that have an entry for `window`.
  static std::set<std::string> NamesOf(const zanvor::SubscriptionTables& tables, uint32_t window) {
    std::set<std::string> names;
    for (int slot = 0; slot < zanvor::SubscriptionTables::kRecordCount; ++slot) {
      if (tables.records[slot].inUse == 1 && tables.FindSubscriber(slot, window) >= 0) {
        names.insert(tables.records[slot].name);
      }
    }
    return names;
  }

  void CheckSettled() {
    if (forged_) return;
    int server = -1;
    for (int i = 0; i < Hosts(); ++i) {
      if (!Receiving(i) || !m_[i].IsServer()) continue;
      Check(server < 0, "two loaded hosts hold the server role");
      server = i;
    }
    bool anyLoaded = false;
    for (int i = 0; i < Hosts(); ++i) anyLoaded |= Receiving(i);
    if (!anyLoaded) return;
    Check(server >= 0, "loaded hosts and no server");
    Check(m_.mutexOwner == server, "the server does not own the mutex");
    const zanvor::SubscriptionTables& table = m_[server].tables;
    for (int i = 0; i < Hosts(); ++i) {
      if (!Receiving(i) || i == server) continue;
      Check(m_[i].serverWindow == m_.Window(server), "a loaded host does not know the server");
      const std::set<std::string> own = NamesOf(m_[i].tables, m_.Window(i));
      const std::set<std::string> held = NamesOf(table, m_.Window(i));
      const bool older = m_.olderBuilds.count(i) != 0 || m_.olderBuilds.count(server) != 0;
      if (older && overwritten_) continue;
      for (const std::string& name : own) {
        Check(held.count(name) != 0, "the server lacks a name a host subscribed");
      }
      if (!older) Check(held == own, "the server holds a host under a name it never subscribed");
    }
  }

  FakeMachine m_;
  std::vector<Host> hosts_;
  const uint8_t olderMask_;
  std::map<std::string, int> posted_;  // handler command -> post number
  std::set<std::pair<int, int>> delivered_;
  int timerFires_ = 0;
  bool forged_ = false;
  bool overwritten_ = false;  // a name record was overwritten by OverwriteNameRecord
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Reader in(data, size);
  World world(in.Byte());
  world.Run(in);
  return 0;
}
