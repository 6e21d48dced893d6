// The machine's named objects as one instance holds them: the server mutex,
// the ring's mutex and section, and the registered window messages every
// instance uses. Opened by ZANVOR_INIT, closed by ZANVOR_EXIT; touched only
// on the host's main thread.
#ifndef ZANVOR_REGISTRY_MACHINE_OBJECTS_WIN_H_
#define ZANVOR_REGISTRY_MACHINE_OBJECTS_WIN_H_

#include <windows.h>

#include <array>
#include <memory>

#include "base/unique_handle_win.h"
#include "contract/extension_messages.h"
#include "contract/instance_message.h"
#include "contract/machine_objects.h"
#include "registry/join_result.h"

namespace zanvor {

// The names Open uses. Tests pass null object names (anonymous objects, no
// other process can meet them) and a message name of their own.
struct MachineNames {
  const char* serverMutex;
  const char* bufferMutex;
  const char* section;
  const char* instanceMessage;
  const char* recentIdsSection;
};
constexpr MachineNames kMachineNames = {kServerMutexName, kBufferMutexName, kSectionName,
                                        kInstanceMessageName, kRecentIdsSectionName};

// The ids RegisterWindowMessageA gave; 0 is a message nobody handles (not
// registered yet, or registration failed).
struct RegisteredMessages {
  UINT instance = 0;
  std::array<UINT, kExtensionMessageCount> extension{};
  UINT Extension(ExtensionMessage message) const { return extension[IndexOf(message)]; }
};

// The ring's writers' mutex. Every store gives its count back; should one
// ever be left (a store cut short), closing gives it back too, rather than
// leave the others a mutex that is abandoned only when this thread ends.
struct RingMutexTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle h) {
    ReleaseMutex(h);
    CloseHandle(h);
  }
};
using UniqueRingMutex = UniqueResource<RingMutexTraits>;

class MachineObjects {
 public:
  MachineObjects() = default;
  MachineObjects(const MachineObjects&) = delete;
  MachineObjects& operator=(const MachineObjects&) = delete;

  // Closes what is open, then opens in this order, stopping at the first
  // step that fails: the server mutex, the registered messages (they do not
  // fail the open), the ring's mutex, the ring's section (opened, or created
  // when no instance has made it yet), and last the section of recent ids
  // (opened or created the same way; without it the instance joins all the
  // same, and a server it becomes keeps no ids for the next). Returns that
  // step with its error, or JoinStep::kNone; what was opened before it stays
  // open until Close.
  JoinResult Open(const MachineNames& names = kMachineNames);
  // Closes the handles in the reverse order of their opening. The message
  // ids stay: a registration is the session's, not this instance's.
  void Close() { handles_.reset(); }

  // Null while not open.
  HANDLE serverMutex() const { return handles_ ? handles_->serverMutex.get() : nullptr; }
  HANDLE bufferMutex() const { return handles_ ? handles_->bufferMutex.get() : nullptr; }
  HANDLE section() const { return handles_ ? handles_->section.get() : nullptr; }
  HANDLE recentIdsSection() const { return handles_ ? handles_->recentIdsSection.get() : nullptr; }

  RegisteredMessages messages;

 private:
  // In the order Open takes them.
  struct Handles {
    UniqueHandle serverMutex;
    UniqueRingMutex bufferMutex;
    UniqueHandle section;
    UniqueHandle recentIdsSection;
  };
  std::unique_ptr<Handles> handles_;  // null while closed
};

}  // namespace zanvor

#endif  // ZANVOR_REGISTRY_MACHINE_OBJECTS_WIN_H_
