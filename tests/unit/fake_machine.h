// A whole machine in memory for the instance protocol: one shared ring (a
// byte vector driven by the real record layout), one FIFO queue of posted
// messages per window, a server mutex, and instances that load, unload or
// die. Nothing runs until Pump() delivers the queued messages.
#ifndef ZANVOR_TESTS_UNIT_FAKE_MACHINE_H_
#define ZANVOR_TESTS_UNIT_FAKE_MACHINE_H_

#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "commands/instance_protocol.h"
#include "registry/message_buffer.h"
#include "registry/ring_layout.h"
#include "unit/fake_expect.h"
#include "unit/fake_ring.h"

namespace zanvor {

struct FakePost {
  int from;         // instance index, -1 for the test itself
  uint32_t window;  // 0xFFFF for a broadcast
  uint32_t wParam;
  uint32_t lParam;
  bool extension = false;  // one of the library's own messages, not InstanceMessage
  ExtensionMessage which = ExtensionMessage::kStatus;
};

class FakeMachine;

class FakeInstanceEnv : public InstanceEnv {
 public:
  FakeInstanceEnv(FakeMachine& machine, int index) : machine_(machine), index_(index) {}
  uint16_t StoreText(const std::string& text) override;
  std::string ReadText(uint16_t position) override;
  std::string ReadName(uint16_t position) override;
  PostResult Post(uint32_t window, uint32_t wParam, uint32_t lParam) override;
  void Broadcast(uint32_t wParam, uint32_t lParam) override;
  bool ClaimServerRole() override;
  void ExecuteCommand(const std::string& command) override { executed.push_back(command); }
  void ShowErrorBox(const std::string& text) override { errorBoxes.push_back(text); }
  PostResult PostExtension(ExtensionMessage message, uint32_t window, uint32_t wParam,
                           uint32_t lParam) override;
  void ArmRetryTimer(uint32_t delayMs) override;
  void CancelRetryTimer() override { retryTimerMs = 0; }
  uint32_t NowMs() override;
  void AddMachineStatus(StatusReport* report) override {
    report->process = 1000 + static_cast<uint32_t>(index_);
  }
  bool ArmSettleTimer(uint32_t delayMs) override {
    settleTimerMs = delayMs;
    return settleTimerWorks;
  }
  void CancelSettleTimer() override { settleTimerMs = 0; }

  std::vector<std::string> executed;
  std::vector<std::string> errorBoxes;
  uint32_t retryTimerMs = 0;   // 0 while the retry timer is not armed
  uint32_t retryDueMs = 0;     // the machine's nowMs when it fires
  uint32_t settleTimerMs = 0;  // 0 while the settle timer is not armed
  bool settleTimerWorks = true;

 private:
  FakeMachine& machine_;
  int index_;
};

class FakeMachine {
 public:
  static constexpr uint32_t kBroadcast = 0xFFFF;

  struct Instance {
    uint32_t window = 0;
    bool subclassed = false;  // the window hands InstanceMessage to the protocol
    bool alive = true;        // the process runs (its window exists)
    std::unique_ptr<FakeInstanceEnv> env;
    std::unique_ptr<InstanceProtocol> protocol;
  };

  // ZANVOR_INIT of a new host process: returns its index.
  int Load() {
    const int index = static_cast<int>(instances.size());
    instances.emplace_back();
    Instance& instance = instances.back();
    instance.window = 0x10000 + 0x10 * static_cast<uint32_t>(index + 1);
    instance.env = std::make_unique<FakeInstanceEnv>(*this, index);
    instance.protocol = std::make_unique<InstanceProtocol>(*instance.env);
    instance.protocol->mainWindow = instance.window;
    instance.protocol->tables.ResetSubscribers();
    instance.subclassed = true;
    queues[instance.window];
    instance.protocol->Join();
    return index;
  }

  // ZANVOR_INIT in a host that has no main window (a COM server: window 0)
  // or whose window it never subclassed (a named object could not be
  // opened): Join is never called. Returns its index.
  int LoadUnjoined(bool withWindow) {
    const int index = static_cast<int>(instances.size());
    instances.emplace_back();
    Instance& instance = instances.back();
    instance.window = withWindow ? 0x10000 + 0x10 * static_cast<uint32_t>(index + 1) : 0;
    instance.env = std::make_unique<FakeInstanceEnv>(*this, index);
    instance.protocol = std::make_unique<InstanceProtocol>(*instance.env);
    instance.protocol->mainWindow = instance.window;
    instance.protocol->tables.ResetSubscribers();
    if (withWindow) queues[instance.window];
    return index;
  }

  // ZANVOR_INIT once more in a host that unloaded: the same main window, and
  // whatever was queued for it meanwhile, reaches a fresh protocol.
  void LoadAgain(int index) {
    Instance& instance = instances[index];
    instance.protocol = std::make_unique<InstanceProtocol>(*instance.env);
    instance.protocol->mainWindow = instance.window;
    instance.protocol->tables.ResetSubscribers();
    instance.subclassed = true;
    instance.protocol->Join();
  }

  // ZANVOR_EXIT: restore the window procedure, release an owned server
  // mutex, then the protocol's part. The process (and its window) goes on.
  void Unload(int index) {
    Instance& instance = instances[index];
    instance.subclassed = false;
    if (instance.protocol->serverWindow != 0 && mutexOwner == index) mutexOwner = -1;
    instance.protocol->Leave();
  }

  // The process ends without ZANVOR_EXIT: its window is gone, a mutex it
  // owned is abandoned.
  void Kill(int index) {
    Instance& instance = instances[index];
    instance.alive = false;
    instance.subclassed = false;
    queues.erase(instance.window);
  }

  // The host destroyed its main window while its process runs on: posts to
  // the window fail, and a server mutex it owns stays owned until Kill.
  void DestroyWindow(int index) {
    instances[index].subclassed = false;
    queues.erase(instances[index].window);
  }

  // Posts made to the null window: each succeeded and was lost.
  int PostsToNoWindow() const {
    int count = 0;
    for (const FakePost& post : posts) count += post.from >= 0 && post.window == 0;
    return count;
  }

  // Delivers queued messages, one per window in turn, until all queues are
  // empty; then, as time passes, the settle timers fire, and so on until
  // nothing is left to do. Fails the test on a message storm.
  void Pump() {
    for (int round = 0; round < 100; ++round) {
      PumpQueues();
      if (!FireSettleTimers()) return;
    }
    ZANVOR_FAKE_FAILURE("the settle timers never stopped");
  }

  // Pump without the settle timers: only a few milliseconds pass.
  void PumpQueues() {
    for (int round = 0; round < 10000; ++round) {
      bool delivered = false;
      for (size_t i = 0; i < instances.size(); ++i) delivered |= DeliverOne(static_cast<int>(i));
      if (!delivered) return;
    }
    ZANVOR_FAKE_FAILURE("the instances never went quiet");
  }

  // Fires every armed settle timer once; false when none was armed.
  bool FireSettleTimers() {
    bool fired = false;
    for (Instance& instance : instances) {
      if (!instance.alive || instance.env->settleTimerMs == 0) continue;
      fired = true;
      instance.protocol->OnSettleTimer();
    }
    return fired;
  }

  // Delivers the messages queued for one instance only (others wait).
  void PumpOnly(int index) {
    while (DeliverOne(index)) {
    }
  }

  bool DeliverOne(int index) {
    Instance& instance = instances[index];
    auto queue = queues.find(instance.window);
    if (queue == queues.end() || queue->second.empty()) return false;
    const FakePost message = queue->second.front();
    queue->second.pop_front();
    if (!instance.subclassed) return true;
    if (message.extension && olderBuilds.count(index) != 0) return true;  // not registered there
    if (message.extension) {
      instance.protocol->OnExtensionMessage(message.which, message.wParam, message.lParam);
    } else {
      instance.protocol->OnInstanceMessage(message.wParam, message.lParam);
    }
    return true;
  }

  InstanceProtocol& operator[](int index) { return *instances[index].protocol; }
  uint32_t Window(int index) const { return instances[index].window; }
  FakeInstanceEnv& Env(int index) { return *instances[index].env; }
  std::vector<std::string>& Executed(int index) { return instances[index].env->executed; }
  std::vector<std::string>& ErrorBoxes(int index) { return instances[index].env->errorBoxes; }

  // Posts the instances made so far with the given code (optionally to one
  // window).
  int CountPosts(InstanceCode code, uint32_t window = 0) const {
    int count = 0;
    for (const FakePost& post : posts) {
      if (post.from < 0 || post.extension || CodeOf(post.wParam) != code) continue;
      if (window == 0 || post.window == window) ++count;
    }
    return count;
  }

  // The real store and read sequence on the machine's one section.
  uint16_t Store(const std::string& text) {
    if (storesFail) return 0;
    return StoreText(ringAccess, text);
  }

  std::string Read(uint16_t position, bool wholeRecord = false) {
    return ReadText(ringAccess, position, wholeRecord);
  }

  PostResult Post(int from, uint32_t window, uint32_t wParam, uint32_t lParam) {
    posts.push_back({from, window, wParam, lParam});
    // PostMessageA to a null window queues a thread message no window
    // procedure sees: it succeeds and is lost.
    if (window == 0) return PostResult::kPosted;
    auto queue = queues.find(window);
    if (queue == queues.end()) return PostResult::kWindowGone;
    queue->second.push_back({from, window, wParam, lParam});
    return PostResult::kPosted;
  }

  PostResult PostExtension(int from, ExtensionMessage which, uint32_t window, uint32_t wParam,
                           uint32_t lParam) {
    if (olderBuilds.count(from) != 0) return PostResult::kPosted;  // sent nothing
    const FakePost post{from, window, wParam, lParam, true, which};
    posts.push_back(post);
    auto queue = queues.find(window);
    if (queue == queues.end()) return PostResult::kWindowGone;
    queue->second.push_back(post);
    return PostResult::kPosted;
  }

  // Lets time pass until the last armed retry timer is due, then fires
  // every armed one once.
  void FireRetryTimers() {
    for (Instance& instance : instances) {
      if (!instance.alive || instance.env->retryTimerMs == 0) continue;
      if (static_cast<int32_t>(instance.env->retryDueMs - nowMs) > 0) {
        nowMs = instance.env->retryDueMs;
      }
    }
    for (Instance& instance : instances) {
      if (instance.alive && instance.env->retryTimerMs != 0) instance.protocol->OnRetryTimer();
    }
  }

  void Broadcast(int from, uint32_t wParam, uint32_t lParam) {
    posts.push_back({from, kBroadcast, wParam, lParam});
    for (auto& queue : queues) queue.second.push_back({from, kBroadcast, wParam, lParam});
  }

  // A zero-time wait on the server mutex; an abandoned mutex counts as won.
  bool Claim(int index) {
    if (mutexOwner == -1 || mutexOwner == index || !instances[mutexOwner].alive) {
      mutexOwner = index;
      return true;
    }
    return false;
  }

  FakeRing ringAccess;
  std::vector<uint8_t>& ring = ringAccess.section;
  std::map<uint32_t, std::deque<FakePost>> queues;  // one per existing window
  std::vector<Instance> instances;
  std::vector<FakePost> posts;
  int mutexOwner = -1;
  bool storesFail = false;
  uint32_t nowMs = 0;  // the machine's tick count; tests move it on
  // Instances of a build without the library's own messages: they send none
  // and their hosts ignore them.
  std::set<int> olderBuilds;
};

inline uint16_t FakeInstanceEnv::StoreText(const std::string& text) { return machine_.Store(text); }
inline std::string FakeInstanceEnv::ReadText(uint16_t position) { return machine_.Read(position); }
inline std::string FakeInstanceEnv::ReadName(uint16_t position) {
  return machine_.Read(position, true);
}
inline PostResult FakeInstanceEnv::Post(uint32_t window, uint32_t wParam, uint32_t lParam) {
  return machine_.Post(index_, window, wParam, lParam);
}
inline void FakeInstanceEnv::Broadcast(uint32_t wParam, uint32_t lParam) {
  machine_.Broadcast(index_, wParam, lParam);
}
inline bool FakeInstanceEnv::ClaimServerRole() { return machine_.Claim(index_); }
inline void FakeInstanceEnv::ArmRetryTimer(uint32_t delayMs) {
  retryTimerMs = delayMs;
  retryDueMs = machine_.nowMs + delayMs;
}
inline uint32_t FakeInstanceEnv::NowMs() { return machine_.nowMs; }
inline PostResult FakeInstanceEnv::PostExtension(ExtensionMessage message, uint32_t window,
                                                 uint32_t wParam, uint32_t lParam) {
  return machine_.PostExtension(index_, message, window, wParam, lParam);
}

}  // namespace zanvor

#endif  // ZANVOR_TESTS_UNIT_FAKE_MACHINE_H_
