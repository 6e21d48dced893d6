#include "cli/udp_datagrams.h"

#include "commands/arg_checks.h"

namespace zanvor {

bool MakePostDatagram(const std::string& name, const std::string& message,
                      const uint8_t id[kPacketIdSize], uint32_t ticks,
                      std::vector<uint8_t>* datagram, std::string* error) {
  std::string text;
  *error = CheckPostText(name, message, &text);
  if (!error->empty()) return false;
  *datagram = PackTextDatagram(text, id, ticks);
  return true;
}

void DatagramListener::DispatchReceived(const std::string& name, const std::string& message) {
  const int index = session_.IndexOf(name);
  if (index >= 0) session_.OnMessage(static_cast<size_t>(index), message, clock_());
}

}  // namespace zanvor
