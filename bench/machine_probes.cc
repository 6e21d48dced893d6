// Probes of one machine's shared objects, run beside the host processes of
// a reliability run:
//
//   hold-mutex NAME MS [abandon]
//       takes the named mutex (waiting as long as that takes), prints
//       "HELD", keeps it for MS milliseconds, then releases it and prints
//       "RELEASED"; with "abandon" it prints "ABANDONED" and ends the process
//       still owning it, as a writer that dies in the middle of a store.
//   find-server MS
//       asks for the machine's server instance the way a new instance does
//       (a ServerQuery broadcast) and prints "SERVER window=W pid=P" for each
//       instance that answers within MS, then "SERVERS n=N".
//   ring-check
//       walks the text ring from its first record to the position of the
//       next store, holding the writers' mutex so that no store runs
//       meanwhile, and prints "RING next=N records=R consistent=1|0
//       locked=1|0": consistent when the records since the last wrap lie
//       back to back, each ending with its only NUL, up to exactly N.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <set>

#include "base/little_endian.h"
#include "base/unique_handle_win.h"
#include "bench_modes.h"
#include "common/win_handles.h"
#include "contract/instance_message.h"
#include "contract/machine_objects.h"
#include "registry/ring_layout.h"

namespace zanvor {
namespace {

constexpr char kProbeClass[] = "ZanvorBenchProbe";

void PrintNow(const char* line) {
  std::printf("%s\n", line);
  std::fflush(stdout);
}

}  // namespace

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
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = DefWindowProcA;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = kProbeClass;
  RegisterClassA(&windowClass);
  // Message-only: the server's answer is posted to it directly, and the
  // probe's own broadcast does not come back to it.
  UniqueWindow window(CreateWindowExA(0, kProbeClass, kProbeClass, 0, 0, 0, 0, 0, HWND_MESSAGE,
                                      nullptr, windowClass.hInstance, nullptr));
  if (!window) {
    std::fprintf(stderr, "find-server: CreateWindowExA failed: error %lu\n", GetLastError());
    return 1;
  }
  const UINT instanceMessage = RegisterWindowMessageA(kInstanceMessageName);
  const uint32_t self = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(window.get()));
  PostMessageA(HWND_BROADCAST, instanceMessage, MakeWParam(kServerQuery), self);
  std::set<uint32_t> servers;
  const ULONGLONG deadline = GetTickCount64() + milliseconds;
  for (;;) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message != instanceMessage ||
          CodeOf(static_cast<uint32_t>(message.wParam)) != kServerReply) {
        DispatchMessageA(&message);
        continue;
      }
      const uint32_t server = static_cast<uint32_t>(message.lParam);
      if (!servers.insert(server).second) continue;
      DWORD pid = 0;
      GetWindowThreadProcessId(reinterpret_cast<HWND>(static_cast<uintptr_t>(server)), &pid);
      std::printf("SERVER window=%u pid=%lu\n", server, pid);
    }
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline) break;
    MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(deadline - now), QS_ALLINPUT,
                                MWMO_INPUTAVAILABLE);
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

}  // namespace zanvor
