// The host contract passes addresses as 32-bit values (the library is a
// 32-bit DLL). These two helpers are the only place that converts between a
// pointer and such a value; natively built tests never hand one to a host.
#ifndef ZANVOR_BASE_ADDRESS_H_
#define ZANVOR_BASE_ADDRESS_H_

#include <cstdint>

namespace zanvor {

inline uint32_t AddressOf(const void* p) {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
}

// A pointer (to data or to a function) from a 32-bit address value.
template <typename T>
T FromAddress(uint32_t address) {
  return reinterpret_cast<T>(static_cast<uintptr_t>(address));
}

}  // namespace zanvor

#endif  // ZANVOR_BASE_ADDRESS_H_
