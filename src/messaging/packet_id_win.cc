#include "messaging/packet_id_win.h"

#include <cstring>

#include "messaging/packet.h"

namespace zanvor {

void PacketIdSource::MakePacketId(uint32_t ticks, uint8_t id[16]) {
  GUID guid;
  if (SUCCEEDED(createGuid_(&guid))) {
    // The GUID's in-memory layout on a little-endian machine is exactly the
    // wire layout: Data1, Data2, Data3 little-endian, then Data4.
    memcpy(id, &guid, 16);
    return;
  }
  FallbackPacketId(ticks, GetCurrentProcessId(), ++fallbackCounter_, id);
}

}  // namespace zanvor
