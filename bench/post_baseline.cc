// zanvor_bench.exe: what the library's delivery paths are measured against.
//
//   sink N                 a hidden window that takes N stamped messages and
//                          prints "p50=<us> p99=<us> n=<N>" of their latency
//   hop                    a hidden window that re-posts every stamped
//                          message unchanged to the sink, until told to stop
//   source N intervalUs    posts N stamped messages to the hop, one every
//                          intervalUs on average, then tells the hop to stop
//   flood N                writes N valid datagrams to the server mailslot as
//                          fast as it can and prints how long that took, the
//                          slowest write and the first one that had to wait
//                          for room (0: none did)
//   hold-mutex, find-server, ring-check   probes of the machine's shared
//                          objects (machine_probes.cc)
//   junk mailslot|udp N RATE SEED         datagrams a server must reject or
//                          take once (junk_flood.cc)
//
// source -> hop -> sink is two process hops made of bare PostMessageA calls,
// the same hops a local post takes (poster -> server instance -> subscriber
// instance), with none of the library's work in between.
//
// A stamp is the low 32 bits of the performance counter in microseconds,
// carried in lParam; every process of one machine reads the same counter, so
// the receiver's reading minus the stamp (mod 2^32) is the latency.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_modes.h"
#include "common/counter_clock.h"
#include "common/win_handles.h"
#include "messaging/packet.h"

namespace zanvor {
namespace {

constexpr char kSinkClass[] = "ZanvorBenchSink";
constexpr char kHopClass[] = "ZanvorBenchHop";
constexpr UINT kStampMessage = WM_APP + 1;
constexpr UINT kStopMessage = WM_APP + 2;
constexpr char kServerMailslot[] = "\\\\.\\mailslot\\VFP\\ZANVOR\\SERVER";
// A sink or hop that hears nothing for this long gives up instead of
// waiting forever for a source that died.
constexpr DWORD kIdleLimitMs = 60000;
// A mailslot write that takes longer than this waited for room.
constexpr uint64_t kBlockedWriteUs = 10000;

bool ParseCount(const char* text, uint64_t* out) {
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text, &end, 10);
  if (end == text || *end != 0 || text[0] == '-') return false;
  *out = value;
  return true;
}

// A hidden top-level window of a class of our own, so that the other
// processes find it with FindWindowA. Its messages are taken straight from
// the queue by the loops below; the procedure only does the defaults.
UniqueWindow CreateNamedWindow(const char* className) {
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = DefWindowProcA;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = className;
  if (RegisterClassA(&windowClass) == 0) {
    std::fprintf(stderr, "RegisterClassA failed: error %lu\n", GetLastError());
    return UniqueWindow();
  }
  UniqueWindow window(CreateWindowExA(0, className, className, WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                      nullptr, nullptr, windowClass.hInstance, nullptr));
  if (!window) std::fprintf(stderr, "CreateWindowExA failed: error %lu\n", GetLastError());
  return window;
}

void AnnounceReady() {
  std::printf("READY\n");
  std::fflush(stdout);
}

// Takes the next message of this thread, waiting at most kIdleLimitMs.
// Returns false at the idle limit.
bool NextMessage(MSG* message) {
  for (;;) {
    if (PeekMessageA(message, nullptr, 0, 0, PM_REMOVE)) return true;
    const DWORD r =
        MsgWaitForMultipleObjectsEx(0, nullptr, kIdleLimitMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (r == WAIT_TIMEOUT) return false;
  }
}

// Nearest rank: the smallest sample with at least `percent` of the samples
// at or below it.
uint32_t Percentile(const std::vector<uint32_t>& sorted, int percent) {
  const size_t rank = (sorted.size() * percent + 99) / 100;
  return sorted[rank == 0 ? 0 : rank - 1];
}

int RunSink(uint64_t count) {
  UniqueWindow window = CreateNamedWindow(kSinkClass);
  if (!window) return 1;
  std::vector<uint32_t> latencies;
  latencies.reserve(count);
  AnnounceReady();
  MSG message;
  while (latencies.size() < count) {
    if (!NextMessage(&message)) {
      std::fprintf(stderr, "sink: idle for %lu ms after %u messages\n", kIdleLimitMs,
                   static_cast<unsigned>(latencies.size()));
      break;
    }
    if (message.message == kStampMessage) {
      const uint32_t now = static_cast<uint32_t>(CounterMicroseconds());
      latencies.push_back(now - static_cast<uint32_t>(message.lParam));
      continue;
    }
    if (message.message == WM_QUIT) break;
    DispatchMessageA(&message);
  }
  if (latencies.empty()) return 1;
  std::sort(latencies.begin(), latencies.end());
  std::printf("p50=%u p99=%u n=%u\n", Percentile(latencies, 50), Percentile(latencies, 99),
              static_cast<unsigned>(latencies.size()));
  return latencies.size() == count ? 0 : 1;
}

int RunHop() {
  UniqueWindow window = CreateNamedWindow(kHopClass);
  if (!window) return 1;
  const HWND sink = FindWindowA(kSinkClass, nullptr);
  if (sink == nullptr) {
    std::fprintf(stderr, "hop: no sink window\n");
    return 1;
  }
  AnnounceReady();
  uint64_t forwarded = 0;
  MSG message;
  for (;;) {
    if (!NextMessage(&message)) {
      std::fprintf(stderr, "hop: idle for %lu ms\n", kIdleLimitMs);
      return 1;
    }
    if (message.message == kStampMessage) {
      PostMessageA(sink, kStampMessage, message.wParam, message.lParam);
      ++forwarded;
      continue;
    }
    if (message.message == kStopMessage || message.message == WM_CLOSE ||
        message.message == WM_QUIT) {
      break;
    }
    DispatchMessageA(&message);
  }
  std::printf("forwarded=%llu\n", static_cast<unsigned long long>(forwarded));
  return 0;
}

// Waits until the counter reaches `deadline`, sleeping whole milliseconds
// while at least one remains and yielding for the rest, so that the sending
// process leaves the processor to the hop and the sink meanwhile.
void WaitUntil(uint64_t deadline) {
  for (;;) {
    const uint64_t now = CounterMicroseconds();
    if (now >= deadline) return;
    Sleep(static_cast<DWORD>((deadline - now) / 1000));
  }
}

int RunSource(uint64_t count, uint64_t intervalUs) {
  const HWND hop = FindWindowA(kHopClass, nullptr);
  if (hop == nullptr) {
    std::fprintf(stderr, "source: no hop window\n");
    return 1;
  }
  uint64_t failed = 0;
  const uint64_t start = CounterMicroseconds();
  for (uint64_t i = 0; i < count; ++i) {
    // An absolute schedule: a late wake-up shortens the next gap, so the
    // mean interval is intervalUs whatever the sleep granularity.
    WaitUntil(start + i * intervalUs);
    const uint32_t stamp = static_cast<uint32_t>(CounterMicroseconds());
    if (!PostMessageA(hop, kStampMessage, static_cast<WPARAM>(i), static_cast<LPARAM>(stamp))) {
      ++failed;
    }
  }
  const uint64_t elapsed = CounterMicroseconds() - start;
  PostMessageA(hop, kStopMessage, 0, 0);
  std::printf("sent=%llu failed=%llu elapsed_us=%llu\n",
              static_cast<unsigned long long>(count - failed),
              static_cast<unsigned long long>(failed), static_cast<unsigned long long>(elapsed));
  return failed == 0 ? 0 : 1;
}

int RunFlood(uint64_t count) {
  UniqueFile mailslot(CreateFileA(kServerMailslot, GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!mailslot) {
    std::fprintf(stderr, "flood: cannot open %s: error %lu\n", kServerMailslot, GetLastError());
    return 1;
  }
  const DWORD processId = GetCurrentProcessId();
  uint8_t packet[kPacketBufferSize];
  uint64_t failed = 0;
  DWORD firstError = 0;
  uint64_t slowestWrite = 0;
  uint64_t firstBlocked = 0;
  const uint64_t start = CounterMicroseconds();
  for (uint64_t seq = 1; seq <= count; ++seq) {
    const std::string payload = "bench:" + std::to_string(seq);
    const uint32_t ticks = GetTickCount();
    // Distinct counters give distinct ids, so the receiver's duplicate
    // filter lets every datagram through.
    uint8_t id[kPacketIdSize];
    FallbackPacketId(ticks, processId, static_cast<uint32_t>(seq), id);
    const int32_t size = CMsgPack().Pack(reinterpret_cast<const uint8_t*>(payload.data()),
                                         static_cast<int32_t>(payload.size()), packet, id, ticks);
    DWORD written = 0;
    const uint64_t before = CounterMicroseconds();
    if (!WriteFile(mailslot.get(), packet, static_cast<DWORD>(size), &written, nullptr)) {
      if (failed++ == 0) firstError = GetLastError();
    }
    // A write that takes this long waited for the reader: the mailslot was
    // full. Wine holds a bounded amount per mailslot (a socket buffer) and
    // then blocks the writer until the server's receive tick makes room.
    const uint64_t took = CounterMicroseconds() - before;
    if (took >= kBlockedWriteUs && firstBlocked == 0) firstBlocked = seq;
    slowestWrite = std::max(slowestWrite, took);
  }
  const uint64_t elapsed = CounterMicroseconds() - start;
  std::printf("wrote=%llu failed=%llu elapsed_us=%llu slowest_write_us=%llu first_blocked=%llu\n",
              static_cast<unsigned long long>(count - failed),
              static_cast<unsigned long long>(failed), static_cast<unsigned long long>(elapsed),
              static_cast<unsigned long long>(slowestWrite),
              static_cast<unsigned long long>(firstBlocked));
  if (failed != 0) std::fprintf(stderr, "flood: first failed write: error %lu\n", firstError);
  return failed == 0 ? 0 : 1;
}

int Usage() {
  std::fprintf(stderr,
               "usage: zanvor_bench.exe sink N | hop | source N intervalUs | flood N\n"
               "       | hold-mutex NAME MS [abandon] | find-server MS | ring-check\n"
               "       | junk mailslot|udp N RATE SEED\n");
  return 2;
}

int Main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string mode = argv[1];
  uint64_t n = 0, interval = 0;
  if (mode == "sink" && argc == 3 && ParseCount(argv[2], &n) && n > 0) return RunSink(n);
  if (mode == "hop" && argc == 2) return RunHop();
  if (mode == "source" && argc == 4 && ParseCount(argv[2], &n) && ParseCount(argv[3], &interval)) {
    return RunSource(n, interval);
  }
  if (mode == "flood" && argc == 3 && ParseCount(argv[2], &n)) return RunFlood(n);
  uint64_t seed = 0;
  if (mode == "hold-mutex" && (argc == 4 || (argc == 5 && std::string(argv[4]) == "abandon")) &&
      ParseCount(argv[3], &n)) {
    return RunHoldMutex(argv[2], static_cast<uint32_t>(n), argc == 5);
  }
  if (mode == "find-server" && argc == 3 && ParseCount(argv[2], &n)) {
    return RunFindServer(static_cast<uint32_t>(n));
  }
  if (mode == "ring-check" && argc == 2) return RunRingCheck();
  if (mode == "junk" && argc == 6 && ParseCount(argv[3], &n) && ParseCount(argv[4], &interval) &&
      ParseCount(argv[5], &seed)) {
    return RunJunk(argv[2], n, interval, static_cast<uint32_t>(seed));
  }
  return Usage();
}

}  // namespace
}  // namespace zanvor

int main(int argc, char** argv) {
  try {
    return zanvor::Main(argc, argv);
  } catch (...) {
    std::fprintf(stderr, "zanvor_bench: out of memory\n");
    return 3;
  }
}
