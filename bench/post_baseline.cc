// zanvor_bench.exe: what the library's delivery paths are measured against.
//
//   sink N [ring]          a hidden window that takes N stamped messages and
//                          prints "p50=<us> p99=<us> n=<N> bad=<n>" of their
//                          latency
//   hop [ring]             a hidden window that passes every stamped message
//                          on to the sink, until told to stop
//   source N intervalUs [ring]
//                          posts N stamped messages to the hop, one every
//                          intervalUs on average, then tells the hop to stop
//   flood N [copies]       writes N valid datagrams, each `copies` times, to
//                          the server mailslot as fast as it can (flood.h)
//   udpflood N ADDRESS     sends the same N datagrams over UDP to ADDRESS on
//                          the library's port as fast as it can
//   junk mailslot|udp N RATE SEED         datagrams a server must reject or
//                          take once (junk_flood.cc)
//
// source -> hop -> sink is two process hops, the same hops a local post takes
// (poster -> server instance -> subscriber instance). Without `ring` they are
// bare PostMessageA calls and the stamp travels in lParam. With `ring` they
// are the design's own floor: the source stores "bench:<stamp>" in a text
// ring and posts its position and check, the hop and the sink each read the
// text back and check it, the hop posts the same position on. That is one
// store and two reads, with the library's own ring code (a view mapped per
// step, the writers' mutex waited for), on a section and mutex of the
// bench's own names and the ring's size, so that the machine's real ring is
// never touched; none of the library's other work is done.
//
// A stamp is the low 32 bits of the performance counter in microseconds;
// every process of one machine reads the same counter, so the receiver's
// reading minus the stamp (mod 2^32) is the latency.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/counter_clock_win.h"
#include "base/unique_handle_win.h"
#include "bench_modes.h"
#include "contract/machine_objects.h"
#include "flood.h"
#include "registry/message_buffer_win.h"
#include "registry/ring_layout.h"

namespace zanvor {
namespace {

constexpr char kSinkClass[] = "ZanvorBenchSink";
constexpr char kHopClass[] = "ZanvorBenchHop";
constexpr UINT kStampMessage = WM_APP + 1;
constexpr UINT kStopMessage = WM_APP + 2;
// A sink or hop that hears nothing for this long gives up instead of
// waiting forever for a source that died.
constexpr DWORD kIdleLimitMs = 60000;

// The floor's ring: the library's size, names of the bench's own.
constexpr char kFloorSectionName[] = "ZanvorBenchRing";
constexpr char kFloorMutexName[] = "ZanvorBenchRingMutex";
constexpr char kFloorName[] = "bench";

bool ParseCount(const char* text, uint64_t* out) {
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text, &end, 10);
  if (end == text || *end != 0 || text[0] == '-') return false;
  *out = value;
  return true;
}

// The floor's section and writers' mutex, made or opened once per process
// as the library does at load.
class FloorRing {
 public:
  bool Open() {
    section_.reset(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                      kSectionSize, kFloorSectionName));
    if (!section_) {
      std::fprintf(stderr, "CreateFileMappingA failed: error %lu\n", GetLastError());
      return false;
    }
    mutex_.reset(CreateMutexA(nullptr, FALSE, kFloorMutexName));
    if (!mutex_) {
      std::fprintf(stderr, "CreateMutexA failed: error %lu\n", GetLastError());
      return false;
    }
    return true;
  }
  // Position 0: nothing was stored.
  uint16_t Store(const std::string& text) { return StoreText(section_.get(), mutex_.get(), text); }
  std::string Read(uint16_t position) { return ReadText(section_.get(), position); }

 private:
  UniqueHandle section_;
  UniqueHandle mutex_;
};

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

// The text a ring message points at, when it is the one that was posted.
bool ReadChecked(FloorRing& ring, const MSG& message, std::string* text) {
  *text = ring.Read(static_cast<uint16_t>(message.wParam));
  return TextCheck(*text) == static_cast<uint32_t>(message.lParam);
}

// The stamp a message carries: in lParam, or in the ring's text after the
// name and colon. False when a ring text is not the one posted.
bool StampOf(FloorRing* ring, const MSG& message, uint32_t* stamp) {
  if (ring == nullptr) {
    *stamp = static_cast<uint32_t>(message.lParam);
    return true;
  }
  std::string text;
  if (!ReadChecked(*ring, message, &text)) return false;
  const size_t colon = text.find(':');
  if (colon == std::string::npos) return false;
  *stamp = static_cast<uint32_t>(std::strtoul(text.c_str() + colon + 1, nullptr, 10));
  return true;
}

int RunSink(uint64_t count, FloorRing* ring) {
  UniqueWindow window = CreateNamedWindow(kSinkClass);
  if (!window) return 1;
  std::vector<uint32_t> latencies;
  latencies.reserve(count);
  uint64_t received = 0;
  AnnounceReady();
  MSG message;
  while (received < count) {
    if (!NextMessage(&message)) {
      std::fprintf(stderr, "sink: idle for %lu ms after %u messages\n", kIdleLimitMs,
                   static_cast<unsigned>(received));
      break;
    }
    if (message.message == kStampMessage) {
      ++received;
      uint32_t stamp = 0;
      if (StampOf(ring, message, &stamp)) {
        const uint32_t now = static_cast<uint32_t>(CounterMicroseconds());
        latencies.push_back(now - stamp);
      }
      continue;
    }
    if (message.message == WM_QUIT) break;
    DispatchMessageA(&message);
  }
  if (latencies.empty()) return 1;
  const uint64_t bad = received - latencies.size();
  std::sort(latencies.begin(), latencies.end());
  std::printf("p50=%u p99=%u n=%u bad=%llu\n", Percentile(latencies, 50), Percentile(latencies, 99),
              static_cast<unsigned>(latencies.size()), static_cast<unsigned long long>(bad));
  return latencies.size() == count ? 0 : 1;
}

int RunHop(FloorRing* ring) {
  UniqueWindow window = CreateNamedWindow(kHopClass);
  if (!window) return 1;
  const HWND sink = FindWindowA(kSinkClass, nullptr);
  if (sink == nullptr) {
    std::fprintf(stderr, "hop: no sink window\n");
    return 1;
  }
  AnnounceReady();
  uint64_t forwarded = 0;
  uint64_t bad = 0;
  MSG message;
  std::string text;
  for (;;) {
    if (!NextMessage(&message)) {
      std::fprintf(stderr, "hop: idle for %lu ms\n", kIdleLimitMs);
      return 1;
    }
    if (message.message == kStampMessage) {
      // As the server instance does with a local post: the text is read
      // and checked, and its position goes on unchanged.
      if (ring != nullptr && !ReadChecked(*ring, message, &text)) ++bad;
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
  std::printf("forwarded=%llu bad=%llu\n", static_cast<unsigned long long>(forwarded),
              static_cast<unsigned long long>(bad));
  return bad == 0 ? 0 : 1;
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

// Posts one stamped message to the hop: bare, or through the ring as a
// poster does (the text stored, its position and check posted).
bool PostStamp(HWND hop, uint64_t index, FloorRing* ring) {
  const uint32_t stamp = static_cast<uint32_t>(CounterMicroseconds());
  if (ring == nullptr) {
    return PostMessageA(hop, kStampMessage, static_cast<WPARAM>(index),
                        static_cast<LPARAM>(stamp)) != 0;
  }
  const std::string text = std::string(kFloorName) + ":" + std::to_string(stamp);
  const uint16_t position = ring->Store(text);
  if (position == 0) return false;
  return PostMessageA(hop, kStampMessage, position, static_cast<LPARAM>(TextCheck(text))) != 0;
}

int RunSource(uint64_t count, uint64_t intervalUs, FloorRing* ring) {
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
    if (!PostStamp(hop, i, ring)) ++failed;
  }
  const uint64_t elapsed = CounterMicroseconds() - start;
  PostMessageA(hop, kStopMessage, 0, 0);
  std::printf("sent=%llu failed=%llu elapsed_us=%llu\n",
              static_cast<unsigned long long>(count - failed),
              static_cast<unsigned long long>(failed), static_cast<unsigned long long>(elapsed));
  return failed == 0 ? 0 : 1;
}

int Usage() {
  std::fprintf(stderr,
               "usage: zanvor_bench.exe sink N [ring] | hop [ring] | source N intervalUs [ring]\n"
               "                        | flood N [copies] | udpflood N ADDRESS\n"
               "       | junk mailslot|udp N RATE SEED\n");
  return 2;
}

int Main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string mode = argv[1];
  uint64_t n = 0, value = 0;
  // The hops take "ring" as their last argument.
  const bool ring = argc > 2 && std::string(argv[argc - 1]) == "ring";
  const int args = ring ? argc - 1 : argc;
  FloorRing floor;
  if (ring && !floor.Open()) return 1;
  FloorRing* const through = ring ? &floor : nullptr;
  if (mode == "sink" && args == 3 && ParseCount(argv[2], &n) && n > 0) return RunSink(n, through);
  if (mode == "hop" && args == 2) return RunHop(through);
  if (mode == "source" && args == 4 && ParseCount(argv[2], &n) && ParseCount(argv[3], &value)) {
    return RunSource(n, value, through);
  }
  if (ring) return Usage();
  if (mode == "flood" && argc == 3 && ParseCount(argv[2], &n)) return RunMailslotFlood(n, 1);
  if (mode == "flood" && argc == 4 && ParseCount(argv[2], &n) && ParseCount(argv[3], &value) &&
      value > 0) {
    return RunMailslotFlood(n, value);
  }
  if (mode == "udpflood" && argc == 4 && ParseCount(argv[2], &n)) return RunUdpFlood(n, argv[3]);
  uint64_t seed = 0;
  if (mode == "junk" && argc == 6 && ParseCount(argv[3], &n) && ParseCount(argv[4], &value) &&
      ParseCount(argv[5], &seed)) {
    return RunJunk(argv[2], n, value, static_cast<uint32_t>(seed));
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
