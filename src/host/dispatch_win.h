// The library's one export, DispatchAPI, hands out the function table that
// the library installs when it is loaded.
#ifndef ZANVOR_HOST_DISPATCH_WIN_H_
#define ZANVOR_HOST_DISPATCH_WIN_H_

#include "contract/host_abi.h"

namespace zanvor {

// REQUIRES: `table` stays valid while the library is loaded. Until a table
// is installed, codes 0 and 14 hand out address 0.
void InstallLibraryTable(const LibraryTable* table);

}  // namespace zanvor

#endif  // ZANVOR_HOST_DISPATCH_WIN_H_
