// The modes of zanvor_bench.exe beside the latency baseline: floods of
// datagrams a server instance must reject or take once (junk_flood.cc). The
// probes of a machine's shared objects are zanvor_probe.exe's
// (tools/emulation). Each returns the
// process's exit code; the usage lines are in post_baseline.cc.
#ifndef ZANVOR_BENCH_BENCH_MODES_H_
#define ZANVOR_BENCH_BENCH_MODES_H_

#include <cstdint>
#include <string>

namespace zanvor {

// path: "mailslot" or "udp"; perSecond 0: as fast as the path takes them.
int RunJunk(const std::string& path, uint64_t count, uint64_t perSecond, uint32_t seed);

}  // namespace zanvor

#endif  // ZANVOR_BENCH_BENCH_MODES_H_
