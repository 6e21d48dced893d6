// Why an instance stayed outside its machine: the first step of ZANVOR_INIT
// that failed, and the error Windows gave for it. Portable, so that a status
// text can show it.
#ifndef ZANVOR_REGISTRY_JOIN_RESULT_H_
#define ZANVOR_REGISTRY_JOIN_RESULT_H_

#include <cstdint>

namespace zanvor {

// The steps of ZANVOR_INIT that can fail, in the order they are taken.
enum class JoinStep : uint8_t {
  kNone,         // every step was taken: the instance joined
  kServerMutex,  // kServerMutexName could not be created or opened
  kBufferMutex,  // kBufferMutexName could not be created or opened
  kSection,      // the ring's section could be neither opened nor created
  kMainWindow,   // the host has no main window (a COM server, a service)
  kSubclass,     // the main window could not be subclassed
};

struct JoinResult {
  JoinStep failed = JoinStep::kNone;
  uint32_t error = 0;  // GetLastError() of the failed step; 0 for kMainWindow
};

}  // namespace zanvor

#endif  // ZANVOR_REGISTRY_JOIN_RESULT_H_
