#ifndef ZANVOR_MESSAGING_PACKET_ID_WIN_H_
#define ZANVOR_MESSAGING_PACKET_ID_WIN_H_

#include <objbase.h>
#include <windows.h>

#include <cstdint>

namespace zanvor {

using GuidSource = HRESULT(WINAPI*)(GUID*);

// Fresh packet ids: a GUID, or when CoCreateGuid fails an id made of the
// tick count, the process id and a counter of this source, so that every
// post still carries its own id and the receivers' duplicate filter keeps
// working. One source lives as long as the library is loaded.
class PacketIdSource {
 public:
  explicit PacketIdSource(GuidSource createGuid = CoCreateGuid) : createGuid_(createGuid) {}
  void MakePacketId(uint32_t ticks, uint8_t id[16]);

 private:
  GuidSource createGuid_;
  uint32_t fallbackCounter_ = 0;
};

}  // namespace zanvor

#endif  // ZANVOR_MESSAGING_PACKET_ID_WIN_H_
