#include "registry/machine_objects_win.h"

namespace zanvor {

JoinResult MachineObjects::Open(const MachineNames& names) {
  Close();
  handles_ = std::make_unique<Handles>();
  Handles& h = *handles_;
  h.serverMutex.reset(CreateMutexA(nullptr, FALSE, names.serverMutex));
  if (!h.serverMutex) return {JoinStep::kServerMutex, GetLastError()};
  messages.instance = RegisterWindowMessageA(names.instanceMessage);
  for (const ExtensionMessageName& m : kExtensionMessages) {
    messages.extension[IndexOf(m.message)] = RegisterWindowMessageA(m.name);
  }
  h.bufferMutex.reset(CreateMutexA(nullptr, FALSE, names.bufferMutex));
  if (!h.bufferMutex) return {JoinStep::kBufferMutex, GetLastError()};
  h.section.reset(OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, names.section));
  if (!h.section) {
    h.section.reset(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                       kSectionSize, names.section));
  }
  if (!h.section) return {JoinStep::kSection, GetLastError()};
  return {};
}

}  // namespace zanvor
