#include "registry/machine_objects_win.h"

namespace zanvor {

namespace {

HANDLE OpenOrCreateSection(const char* name, uint32_t size) {
  const HANDLE section = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name);
  if (section != nullptr) return section;
  return CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size, name);
}

}  // namespace

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
  h.section.reset(OpenOrCreateSection(names.section, kSectionSize));
  if (!h.section) return {JoinStep::kSection, GetLastError()};
  h.recentIdsSection.reset(OpenOrCreateSection(names.recentIdsSection, kRecentIdsSectionSize));
  return {};
}

}  // namespace zanvor
