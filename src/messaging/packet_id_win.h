#ifndef ZANVOR_MESSAGING_PACKET_ID_WIN_H_
#define ZANVOR_MESSAGING_PACKET_ID_WIN_H_

#include <objbase.h>
#include <windows.h>

#include <cstdint>

namespace zanvor {

// A fresh packet id: a GUID, or when CoCreateGuid fails an id made of the
// tick count, the process id and a per-process counter, so that every post
// still carries its own id and the receivers' duplicate filter keeps working.
using GuidSource = HRESULT(WINAPI*)(GUID*);
void MakePacketId(uint32_t ticks, uint8_t id[16], GuidSource createGuid = CoCreateGuid);

}  // namespace zanvor

#endif  // ZANVOR_MESSAGING_PACKET_ID_WIN_H_
