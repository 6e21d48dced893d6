// zanvor_relay.exe --port P [--peer Q]... [--twice] [--mailslot NAME]
//                  [--verbose]
#include <string>
#include <vector>

#include "relay.h"

namespace {

void WriteTo(DWORD which, const std::string& line) {
  const std::string data = line + "\n";
  DWORD wrote = 0;
  WriteFile(GetStdHandle(which), data.data(), static_cast<DWORD>(data.size()), &wrote, nullptr);
}

// Built when asked for, inside main's try, since it allocates.
std::string Usage() {
  return std::string(
             "Usage: zanvor_relay.exe --port PORT [--peer [ADDR:]PORT]... [--twice]\n"
             "                        [--mailslot NAME] [--verbose]\n"
             "\n"
             "One emulated machine's relay: receives datagrams on UDP PORT (every address),\n"
             "writes each to the machine's mailslot (default\n") +
         zanvor::kServerMailslotName +
         "; dropped when it does not exist), and\n"
         "forwards those from this machine's hosts to every peer relay.\n"
         "--twice delivers every datagram twice; --verbose logs each one as\n"
         "RELAY {\"from\": \"host\"|\"peer\", \"bytes\": N, \"delivered\": N}.";
}

int Run(const std::vector<std::string>& args) {
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    WriteTo(STD_OUTPUT_HANDLE, Usage());
    return 0;
  }
  zanvor::RelayOptions options;
  std::string error;
  if (!zanvor::ParseRelayOptions(args, &options, &error)) {
    WriteTo(STD_ERROR_HANDLE, "zanvor_relay: " + error + " (see --help)");
    return 2;
  }
  WSADATA wsa;
  if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) {
    WriteTo(STD_ERROR_HANDLE, "zanvor_relay: WSAStartup failed");
    return 1;
  }
  const uint16_t port = options.port;
  zanvor::Relay relay(std::move(options));
  if (!relay.Open(&error)) {
    WriteTo(STD_ERROR_HANDLE, "zanvor_relay: " + error);
    return 1;
  }
  WriteTo(STD_OUTPUT_HANDLE, "RELAY READY " + std::to_string(port));
  int socketError = 0;
  while (relay.HandleOne(&socketError)) {
  }
  WriteTo(STD_ERROR_HANDLE, "zanvor_relay: receive failed: error " + std::to_string(socketError));
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(std::vector<std::string>(argv + 1, argv + argc));
  } catch (...) {
    WriteTo(STD_ERROR_HANDLE, "zanvor_relay: out of memory");
    return 3;
  }
}
