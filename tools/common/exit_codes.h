// The tool's exit codes, on every platform and for every verb (zanvor run
// included): kExitSuccess, kExitFailure (the operation failed), kExitUsage
// (the command line was wrong; nothing was done).
#ifndef ZANVOR_TOOLS_COMMON_EXIT_CODES_H_
#define ZANVOR_TOOLS_COMMON_EXIT_CODES_H_

namespace zanvor {

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

}  // namespace zanvor

#endif  // ZANVOR_TOOLS_COMMON_EXIT_CODES_H_
