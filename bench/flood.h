// zanvor_bench.exe's datagram floods: valid packets of the protocol, written
// into the server mailslot of the bench's machine or sent to the library's
// UDP port, as fast as the path takes them.
//
// Packet i (1..N) carries "bench:<i>" under an id made from i alone, so that
// two floods of the same N, one per path, send the same packets: the
// server's duplicate filter lets each i through once, and a handler that
// runs for the same i twice is a double delivery.
//
// Each flood makes its packets, prints READY and waits for a line on its
// standard input before it sends, so that floods on both paths can be
// started together.
#ifndef ZANVOR_BENCH_FLOOD_H_
#define ZANVOR_BENCH_FLOOD_H_

#include <cstdint>

namespace zanvor {

// Writes N packets into this machine's server mailslot, each `copies` times
// back to back (a copy has the same bytes and id). Prints
//   wrote=<writes> failed=<writes> elapsed_us=<us> slowest_write_us=<us>
//   first_blocked=<packet>
// where first_blocked is the first packet whose write waited for room in the
// mailslot (0: none did). Returns the process exit code.
int RunMailslotFlood(uint64_t count, uint64_t copies);

// Sends N packets over UDP to `address` (dotted IPv4) on the library's port.
// Prints
//   sent=<n> failed=<n> elapsed_us=<us>
// Returns the process exit code.
int RunUdpFlood(uint64_t count, const char* address);

}  // namespace zanvor

#endif  // ZANVOR_BENCH_FLOOD_H_
