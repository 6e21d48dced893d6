// The two role tests of an instance, from its own main window and the server
// instance's main window as it knows it (0 while unknown).
#ifndef ZANVOR_REGISTRY_INSTANCE_ROLE_H_
#define ZANVOR_REGISTRY_INSTANCE_ROLE_H_

#include <cstdint>

namespace zanvor {

// The server instance: serverWindow equals mainWindow (not 0).
constexpr bool IsServerInstance(uint32_t mainWindow, uint32_t serverWindow) {
  return serverWindow != 0 && serverWindow == mainWindow;
}

// A remote server is known: serverWindow is set and is not mainWindow.
constexpr bool RemoteServerKnown(uint32_t mainWindow, uint32_t serverWindow) {
  return serverWindow != 0 && serverWindow != mainWindow;
}

}  // namespace zanvor

#endif  // ZANVOR_REGISTRY_INSTANCE_ROLE_H_
