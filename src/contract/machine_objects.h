// The named objects every instance of one machine (one session) shares. Any
// instance, of any build, opens them by these names and relies on these
// sizes, so they never change.
#ifndef ZANVOR_CONTRACT_MACHINE_OBJECTS_H_
#define ZANVOR_CONTRACT_MACHINE_OBJECTS_H_

#include <cstdint>

namespace zanvor {

// Owned by the server instance's thread for as long as it holds the role.
constexpr char kServerMutexName[] = "VFPZanvor";
// Serialises writers of the text ring; readers take no lock.
constexpr char kBufferMutexName[] = "vfp_zanvor_mu";
constexpr uint32_t kBufferMutexWaitMs = 1000;
// The section that holds the text ring, and its size.
constexpr char kSectionName[] = "vfp_zanvor";
constexpr uint32_t kSectionSize = 16384;
// The section where the server keeps the newest packet ids it took in, for
// the instance that holds the role next. Instances of builds before it
// neither make nor read it; a machine works without it, as they did.
constexpr char kRecentIdsSectionName[] = "vfp_zanvor_ids";
constexpr uint32_t kRecentIdsSectionSize = 81928;

}  // namespace zanvor

#endif  // ZANVOR_CONTRACT_MACHINE_OBJECTS_H_
