#include "messaging/packet_id_win.h"

#include <objbase.h>
#include <windows.h>

#include <cstring>

#include "messaging/packet.h"

namespace zanvor {

void MakePacketId(uint32_t ticks, uint8_t id[16], GuidSource createGuid) {
  static uint32_t fallbackCounter = 0;
  GUID guid;
  if (SUCCEEDED(createGuid(&guid))) {
    // The GUID's in-memory layout on a little-endian machine is exactly the
    // wire layout: Data1, Data2, Data3 little-endian, then Data4.
    memcpy(id, &guid, 16);
    return;
  }
  FallbackPacketId(ticks, GetCurrentProcessId(), ++fallbackCounter, id);
}

}  // namespace zanvor
