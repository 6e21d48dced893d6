// The machine's text ring in the named section "vfp_zanvor". Views are mapped
// for one step and unmapped at once; writers serialise on "vfp_zanvor_mu".
#ifndef ZANVOR_REGISTRY_MESSAGE_BUFFER_WIN_H_
#define ZANVOR_REGISTRY_MESSAGE_BUFFER_WIN_H_

#include <windows.h>

#include <cstdint>
#include <string>

#include "contract/machine_objects.h"

namespace zanvor {

// Stores `text` with its NUL; returns its position (4..16383) or 0 when
// nothing was stored (mutex timed out, a view failed, or the text cannot fit).
uint16_t StoreText(HANDLE section, HANDLE mutex, const std::string& text);
// The text at `position`, or "" (position 0, a failed view, a record with no
// terminator inside its bounds). Takes no lock.
std::string ReadText(HANDLE section, uint16_t position);

}  // namespace zanvor

#endif  // ZANVOR_REGISTRY_MESSAGE_BUFFER_WIN_H_
