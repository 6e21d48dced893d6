// What the server instance's receiving took in since the load, both paths
// together unless named: the figures `zanvor status` shows.
#ifndef ZANVOR_MESSAGING_RECEIVE_COUNTERS_H_
#define ZANVOR_MESSAGING_RECEIVE_COUNTERS_H_

#include <cstdint>

namespace zanvor {

struct ReceiveCounters {
  uint32_t mailslotDatagrams = 0;  // read from the mailslot, any size
  uint32_t udpDatagrams = 0;       // read from the UDP socket, any size
  uint32_t delivered = 0;          // handed on as name and message
  uint32_t duplicates = 0;         // ids seen before
  uint32_t bad = 0;                // wrong size, bad check byte or no colon
};

}  // namespace zanvor

#endif  // ZANVOR_MESSAGING_RECEIVE_COUNTERS_H_
