// zanvor_probe.exe: probes of one machine's shared objects, run beside the
// host processes of the whole-system tests and of a reliability run (test
// apparatus, not in the release):
//
//   hold-mutex NAME MS [abandon]
//       takes the named mutex (waiting as long as that takes), prints
//       "HELD", keeps it for MS milliseconds, then releases it and prints
//       "RELEASED"; with "abandon" it prints "ABANDONED" and ends the process
//       still owning it, as a writer that dies in the middle of a store.
//   find-server MS
//       asks for the machine's server instance the way a new instance does
//       (a ServerQuery broadcast, through the tool's own MachineProbe) and
//       prints "SERVER window=W pid=P" for each instance that answers within
//       MS, then "SERVERS n=N".
//   ring-check
//       walks the text ring from its first record to the position of the
//       next store, holding the writers' mutex so that no store runs
//       meanwhile, and prints "RING next=N records=R consistent=1|0
//       locked=1|0": consistent when the records since the last wrap lie
//       back to back, each ending with its only NUL, up to exactly N.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/little_endian.h"
#include "base/unique_handle_win.h"
#include "contract/machine_objects.h"
#include "fll_host/machine_probe_win.h"
#include "registry/ring_layout.h"

namespace zanvor {
namespace {

void PrintNow(const char* line) {
  std::printf("%s\n", line);
  std::fflush(stdout);
}

int RunHoldMutex(const std::string& name, uint32_t milliseconds, bool abandon) {
  UniqueHandle mutex(CreateMutexA(nullptr, FALSE, name.c_str()));
  if (!mutex) {
    std::fprintf(stderr, "hold-mutex: cannot open %s: error %lu\n", name.c_str(), GetLastError());
    return 1;
  }
  const DWORD r = WaitForSingleObject(mutex.get(), INFINITE);
  if (r != WAIT_OBJECT_0 && r != WAIT_ABANDONED) {
    std::fprintf(stderr, "hold-mutex: wait failed: error %lu\n", GetLastError());
    return 1;
  }
  PrintNow("HELD");
  Sleep(milliseconds);
  if (abandon) {
    PrintNow("ABANDONED");
    // The owning thread ends with the process; the mutex is left abandoned.
    ExitProcess(0);
  }
  ReleaseMutex(mutex.get());
  PrintNow("RELEASED");
  return 0;
}

int RunFindServer(uint32_t milliseconds) {
  std::string error;
  const std::unique_ptr<MachineProbe> probe = MachineProbe::Create(&error);
  if (probe == nullptr) {
    std::fprintf(stderr, "find-server: %s\n", error.c_str());
    return 1;
  }
  const std::vector<HWND> servers = probe->FindServers(milliseconds);
  for (const HWND server : servers) {
    std::printf("SERVER window=%u pid=%lu\n",
                static_cast<unsigned>(reinterpret_cast<uintptr_t>(server)),
                static_cast<unsigned long>(ProcessOfWindow(server)));
  }
  std::printf("SERVERS n=%u\n", static_cast<unsigned>(servers.size()));
  return 0;
}

int RunRingCheck() {
  UniqueHandle section(OpenFileMappingA(FILE_MAP_READ, FALSE, kSectionName));
  if (!section) {
    std::fprintf(stderr, "ring-check: no section %s: error %lu\n", kSectionName, GetLastError());
    return 1;
  }
  UniqueHandle mutex(CreateMutexA(nullptr, FALSE, kBufferMutexName));
  const DWORD r = mutex ? WaitForSingleObject(mutex.get(), kBufferMutexWaitMs) : WAIT_FAILED;
  const bool locked = r == WAIT_OBJECT_0 || r == WAIT_ABANDONED;
  UniqueMappedView view(MapViewOfFile(section.get(), FILE_MAP_READ, 0, 0, kSectionSize));
  if (!view) {
    if (locked) ReleaseMutex(mutex.get());
    std::fprintf(stderr, "ring-check: MapViewOfFile failed: error %lu\n", GetLastError());
    return 1;
  }
  const auto* bytes = static_cast<const uint8_t*>(view.get());
  const uint32_t raw = LoadU32(bytes);
  const uint32_t next = raw == 0 ? kFirstRecord : raw;
  uint32_t position = kFirstRecord;
  uint32_t records = 0;
  bool consistent = next <= kSectionSize;
  while (consistent && position < next) {
    const uint16_t length = RecordLength(bytes, kSectionSize, position);
    const uint32_t end = position + kRecordHeaderSize + length;
    // A text holds no NUL of its own: its one NUL is its last byte.
    consistent = length > 0 && end <= next && bytes[end - 1] == 0 &&
                 std::memchr(bytes + position + kRecordHeaderSize, 0, length - 1u) == nullptr;
    if (consistent) {
      position = end;
      ++records;
    }
  }
  consistent = consistent && position == next;
  if (locked) ReleaseMutex(mutex.get());
  std::printf("RING next=%u records=%u consistent=%d locked=%d\n", raw, records, consistent ? 1 : 0,
              locked ? 1 : 0);
  return consistent ? 0 : 1;
}

// A count of milliseconds: decimal digits only, at most 32 bits.
bool Milliseconds(const char* text, uint32_t* out) {
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text, &end, 10);
  if (end == text || *end != 0 || text[0] == '-' || value > UINT32_MAX) return false;
  *out = static_cast<uint32_t>(value);
  return true;
}

int RunProbe(const std::vector<std::string>& args) {
  uint32_t ms = 0;
  const size_t n = args.size();
  const std::string mode = n > 0 ? args[0] : std::string();
  if (mode == "hold-mutex" && (n == 3 || (n == 4 && args[3] == "abandon")) &&
      Milliseconds(args[2].c_str(), &ms)) {
    return RunHoldMutex(args[1], ms, n == 4);
  }
  if (mode == "find-server" && n == 2 && Milliseconds(args[1].c_str(), &ms)) {
    return RunFindServer(ms);
  }
  if (mode == "ring-check" && n == 1) return RunRingCheck();
  std::fprintf(stderr,
               "usage: zanvor_probe.exe hold-mutex NAME MS [abandon] | find-server MS | "
               "ring-check\n");
  return 2;
}

}  // namespace
}  // namespace zanvor

int main(int argc, char** argv) {
  // Nothing may escape into the C runtime's frames.
  try {
    return zanvor::RunProbe(std::vector<std::string>(argv + 1, argv + argc));
  } catch (...) {
    std::fputs("zanvor_probe: out of memory\n", stderr);
    return 3;
  }
}
