#include "gateway/gateway_run_posix.h"

#include <arpa/inet.h>
#include <mosquitto.h>
#include <mqtt_protocol.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "common/exit_codes.h"
#include "contract/network.h"
#include "gateway/backoff.h"
#include "gateway/bridge.h"
#include "gateway/lan.h"
#include "gateway/report.h"
#include "messaging/udp_path_posix.h"

namespace zanvor {
namespace {

constexpr int kKeepAliveSeconds = 30;
constexpr int64_t kInterfaceListingMs = 2000;  // interfaces coming and going
constexpr char kIdProperty[] = "zanvor-id";

volatile sig_atomic_t g_stop = 0;
volatile sig_atomic_t g_statsWanted = 0;

void OnStop(int) { g_stop = 1; }
void OnStats(int) { g_statsWanted = 1; }

// Without SA_RESTART, so that a signal wakes poll at once.
void CatchSignals() {
  struct sigaction action {};
  sigemptyset(&action.sa_mask);
  action.sa_handler = &OnStop;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  action.sa_handler = &OnStats;
  sigaction(SIGUSR1, &action, nullptr);
  // A broker that goes away mid-write must not end the process.
  signal(SIGPIPE, SIG_IGN);
}

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::string Join(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : ",") + item;
  return text;
}

// The broker host's addresses, for the plain-MQTT check.
bool Resolve(const std::string& host, std::vector<IpAddress>* addresses, std::string* error) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  const int rc = getaddrinfo(host.c_str(), nullptr, &hints, &list);
  if (rc != 0) {
    *error = gai_strerror(rc);
    return false;
  }
  for (const addrinfo* a = list; a != nullptr; a = a->ai_next) {
    IpAddress address;
    if (a->ai_family == AF_INET) {
      std::memcpy(address.bytes, &reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr, 4);
    } else if (a->ai_family == AF_INET6) {
      address.v6 = true;
      std::memcpy(address.bytes, &reinterpret_cast<const sockaddr_in6*>(a->ai_addr)->sin6_addr, 16);
    } else {
      continue;
    }
    addresses->push_back(address);
  }
  freeaddrinfo(list);
  return true;
}

// The library's client, destroyed with its owner.
struct MosquittoDestroy {
  void operator()(mosquitto* m) const { mosquitto_destroy(m); }
};
using UniqueMosquitto = std::unique_ptr<mosquitto, MosquittoDestroy>;

class Gateway {
 public:
  Gateway(const GatewayOptions& options, bool json, const LineWriter& out, const LineWriter& err,
          Charset& charset, UniqueFd socket, std::string site, std::string password)
      : options_(options),
        json_(json),
        out_(out),
        err_(err),
        socket_(std::move(socket)),
        site_(std::move(site)),
        password_(std::move(password)),
        bridge_(options.topicPrefix, options.names, charset, &MakePacketId) {}

  int Run();

 private:
  // libmosquitto's callbacks, on this thread (inside its loop calls). They
  // are C frames: an exception (out of memory) is caught at the edge and
  // thrown again by the loop, in our own frames, once libmosquitto returns.
  template <typename Step>
  static void AtCallbackEdge(void* self, Step step) noexcept {
    Gateway* gateway = static_cast<Gateway*>(self);
    try {
      step(*gateway);
    } catch (...) {
      if (!gateway->thrown_) gateway->thrown_ = std::current_exception();
    }
  }
  static void OnConnect(mosquitto*, void* self, int rc, int, const mosquitto_property*) {
    AtCallbackEdge(self, [rc](Gateway& g) { g.Connected(rc); });
  }
  static void OnDisconnect(mosquitto*, void* self, int rc, const mosquitto_property*) {
    AtCallbackEdge(self, [rc](Gateway& g) { g.Disconnected(rc); });
  }
  static void OnMessage(mosquitto*, void* self, const mosquitto_message* message,
                        const mosquitto_property* properties) {
    AtCallbackEdge(self, [&](Gateway& g) { g.FromBroker(*message, properties); });
  }
  static void OnLog(mosquitto*, void* self, int level, const char* text) {
    if ((level & MOSQ_LOG_ERR) == 0 || text == nullptr) return;
    AtCallbackEdge(self, [text](Gateway& g) { g.lastLog_ = text; });
  }
  void RethrowFromCallback() {
    if (thrown_) std::rethrow_exception(std::exchange(thrown_, nullptr));
  }

  bool SetUp();
  void Report(const std::string& event, const std::vector<ReportField>& fields) {
    (json_ ? out_ : err_)(EventReport(json_, event, fields));
  }
  void Stats() { (json_ ? out_ : err_)(StatsReport(json_, bridge_.counters())); }
  void Connect();
  void Connected(int rc);
  void Disconnected(int rc);
  void AttemptFailed(const std::string& cause);
  void Fatal(const std::string& cause) {
    fatal_ = true;
    Fail(cause);
  }
  void FromBroker(const mosquitto_message& message, const mosquitto_property* properties);
  void FromLan();
  void ListInterfaces(int64_t now);
  std::string Cause(int rc) const;

  void Fail(const std::string& text) { err_("zanvor: " + text); }

  const GatewayOptions& options_;
  const bool json_;
  const LineWriter& out_;
  const LineWriter& err_;
  UniqueFd socket_;
  const std::string site_;
  const std::string password_;
  GatewayBridge bridge_;
  mosquitto* mosq_ = nullptr;

  ReconnectBackoff backoff_;
  bool connecting_ = false;  // a try is under way
  bool tcpPending_ = false;  // its socket is not connected yet
  bool connected_ = false;   // the broker accepted us
  bool everConnected_ = false;
  bool tried_ = false;  // mosquitto_connect_async was called once
  bool fatal_ = false;
  std::string lastLog_;
  std::exception_ptr thrown_;  // from a callback, for the loop to throw again

  std::vector<uint32_t> targets_;       // the LAN's broadcast addresses and 127.0.0.1
  std::set<unsigned> acceptedIndexes_;  // interfaces whose datagrams count as the LAN's
  std::vector<std::string> waiting_;    // --lan interfaces not up yet
  int64_t listedAtMs_ = 0;
};

std::string Gateway::Cause(int rc) const {
  std::string cause = mosquitto_strerror(rc);
  if (rc == MOSQ_ERR_ERRNO) cause = std::strerror(errno);
  if ((rc == MOSQ_ERR_TLS || rc == MOSQ_ERR_TLS_HANDSHAKE) && !lastLog_.empty()) {
    cause += " (" + lastLog_ + ")";
  }
  return cause;
}

void Gateway::ListInterfaces(int64_t now) {
  listedAtMs_ = now;
  const std::vector<InterfaceAddress> all = ListInterfaceAddresses();
  const std::vector<InterfaceAddress> lan = LanAddresses(all, options_.lan);
  std::vector<AdapterAddress> addresses;
  acceptedIndexes_.clear();
  for (const InterfaceAddress& a : all) {
    if (a.loopback) acceptedIndexes_.insert(a.index);
  }
  for (const InterfaceAddress& a : lan) {
    addresses.push_back(a.address);
    acceptedIndexes_.insert(a.index);
  }
  targets_ = BroadcastTargets(addresses);
  const std::vector<std::string> waiting = LanInterfacesWaiting(all, options_.lan);
  for (const std::string& name : waiting) {
    if (std::find(waiting_.begin(), waiting_.end(), name) == waiting_.end()) {
      Report("lan_waiting", {{"interface", name}, {"cause", "down or without an IPv4 address"}});
    }
  }
  for (const std::string& name : waiting_) {
    if (std::find(waiting.begin(), waiting.end(), name) == waiting.end()) {
      Report("lan_up", {{"interface", name}});
    }
  }
  waiting_ = waiting;
}

bool Gateway::SetUp() {
  mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
  mosquitto_connect_v5_callback_set(mosq_, &OnConnect);
  mosquitto_disconnect_v5_callback_set(mosq_, &OnDisconnect);
  mosquitto_message_v5_callback_set(mosq_, &OnMessage);
  mosquitto_log_callback_set(mosq_, &OnLog);
  if (!options_.username.empty() || !options_.passwordFile.empty()) {
    const int rc = mosquitto_username_pw_set(
        mosq_, options_.username.empty() ? nullptr : options_.username.c_str(),
        options_.passwordFile.empty() ? nullptr : password_.c_str());
    if (rc != MOSQ_ERR_SUCCESS) {
      Fail("the user name or password was refused by the MQTT library: " + Cause(rc));
      return false;
    }
  }
  if (options_.broker.tls) {
    int rc = MOSQ_ERR_SUCCESS;
    if (options_.cafile.empty()) {
      rc = mosquitto_int_option(mosq_, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
      if (rc == MOSQ_ERR_SUCCESS)
        rc = mosquitto_tls_set(mosq_, nullptr, "/etc/ssl/certs", nullptr, nullptr, nullptr);
    } else {
      rc = mosquitto_tls_set(mosq_, options_.cafile.c_str(), nullptr, nullptr, nullptr, nullptr);
    }
    if (rc != MOSQ_ERR_SUCCESS) {
      Fail("TLS could not be set up" +
           (options_.cafile.empty() ? std::string() : " with --cafile " + options_.cafile) + ": " +
           Cause(rc));
      return false;
    }
  }
  return true;
}

void Gateway::Connect() {
  connecting_ = true;
  tcpPending_ = true;
  lastLog_.clear();
  const int rc = tried_ ? mosquitto_reconnect_async(mosq_)
                        : mosquitto_connect_async(mosq_, options_.broker.host.c_str(),
                                                  options_.broker.port, kKeepAliveSeconds);
  tried_ = true;
  if (rc == MOSQ_ERR_SUCCESS) return;
  if (rc == MOSQ_ERR_TLS || rc == MOSQ_ERR_TLS_HANDSHAKE) {
    Fatal("TLS to " + options_.brokerText + " failed: " + Cause(rc));
    return;
  }
  AttemptFailed(Cause(rc));
}

void Gateway::AttemptFailed(const std::string& cause) {
  connecting_ = false;
  const int64_t delay = backoff_.Failed(NowMs());
  Report("connect_failed", {{"broker", options_.brokerText},
                            {"cause", cause},
                            {"retry_in_ms", std::to_string(delay), true}});
}

void Gateway::Connected(int rc) {
  if (rc != 0) {
    // Refused by the broker: a wrong login never mends by trying again.
    if (rc == MQTT_RC_BAD_USERNAME_OR_PASSWORD || rc == MQTT_RC_NOT_AUTHORIZED ||
        rc == MQTT_RC_BAD_AUTHENTICATION_METHOD) {
      Fatal("the broker " + options_.brokerText +
            " refused the login: " + mosquitto_reason_string(rc));
    } else {
      AttemptFailed(std::string("the broker refused the connection: ") +
                    mosquitto_reason_string(rc));
    }
    mosquitto_disconnect(mosq_);
    return;
  }
  connecting_ = false;
  connected_ = true;
  if (everConnected_) ++bridge_.counters().reconnects;
  everConnected_ = true;
  backoff_.Connected();
  for (const std::string& filter : options_.names) {
    const std::string subscription = "$share/zanvor-" + site_ + "/" + options_.topicPrefix + filter;
    mosquitto_subscribe_v5(mosq_, nullptr, subscription.c_str(), 0, 0, nullptr);
  }
  Report("connected", {{"broker", options_.brokerText}, {"site", site_}});
}

void Gateway::Disconnected(int rc) {
  if (fatal_ || g_stop) {
    connecting_ = connected_ = false;
    return;
  }
  if (rc == MOSQ_ERR_TLS || rc == MOSQ_ERR_TLS_HANDSHAKE) {
    connecting_ = connected_ = false;
    Fatal("TLS to " + options_.brokerText + " failed: " + Cause(rc));
    return;
  }
  if (connected_) {
    connected_ = false;
    const int64_t delay = backoff_.Failed(NowMs());
    Report("disconnected", {{"broker", options_.brokerText},
                            {"cause", Cause(rc)},
                            {"retry_in_ms", std::to_string(delay), true}});
  } else if (connecting_) {
    AttemptFailed(Cause(rc));
  }
}

void Gateway::FromBroker(const mosquitto_message& message, const mosquitto_property* properties) {
  std::string id;
  bool hasId = false;
  // Each call finds the next user property from `from` on; from the one
  // found, the search goes on past it.
  bool skipFirst = false;
  for (const mosquitto_property* from = properties; from != nullptr; skipFirst = true) {
    char* name = nullptr;
    char* value = nullptr;
    from = mosquitto_property_read_string_pair(from, MQTT_PROP_USER_PROPERTY, &name, &value,
                                               skipFirst);
    if (from != nullptr && !hasId && name != nullptr && std::strcmp(name, kIdProperty) == 0) {
      id = value != nullptr ? value : "";
      hasId = true;
    }
    std::free(name);
    std::free(value);
  }
  const std::string topic = message.topic != nullptr ? message.topic : "";
  const std::string payload(
      static_cast<const char*>(message.payload),
      message.payload == nullptr ? 0 : static_cast<size_t>(message.payloadlen));
  std::vector<uint8_t> datagram;
  if (bridge_.FromBroker(topic, payload, hasId ? &id : nullptr, static_cast<uint32_t>(NowMs()),
                         TickCount(), &datagram) != Drop::kNone) {
    return;
  }
  std::string error;
  if (SendToTargets(socket_.get(), datagram, targets_, &error)) ++bridge_.counters().broadcast;
}

void Gateway::FromLan() {
  for (int i = 0; i < kDatagramsPerTick; ++i) {
    uint8_t buffer[kPacketBufferSize];
    sockaddr_in from{};
    char control[CMSG_SPACE(sizeof(in_pktinfo))];
    iovec io{buffer, sizeof buffer};
    msghdr header{};
    header.msg_name = &from;
    header.msg_namelen = sizeof from;
    header.msg_iov = &io;
    header.msg_iovlen = 1;
    header.msg_control = control;
    header.msg_controllen = sizeof control;
    // MSG_TRUNC: the real size, so that one too large is dropped as the
    // server drops it, not read cut short.
    const ssize_t n = recvmsg(socket_.get(), &header, MSG_TRUNC | MSG_DONTWAIT);
    if (n < 0) return;
    unsigned arrivedOn = 0;
    for (cmsghdr* c = CMSG_FIRSTHDR(&header); c != nullptr; c = CMSG_NXTHDR(&header, c)) {
      if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
        in_pktinfo info;
        std::memcpy(&info, CMSG_DATA(c), sizeof info);
        arrivedOn = static_cast<unsigned>(info.ipi_ifindex);
      }
    }
    // Only the LAN side (and this machine's own posts): a point-to-point
    // uplink or an interface --lan leaves out is not part of the segment.
    if (acceptedIndexes_.count(arrivedOn) == 0) continue;
    const uint32_t size = static_cast<size_t>(n) > sizeof buffer ? kMaxReceivedDatagram + 1
                                                                 : static_cast<uint32_t>(n);
    BrokerMessage message;
    if (bridge_.FromLan(buffer, size, ntohs(from.sin_port), static_cast<uint32_t>(NowMs()),
                        &message) != Drop::kNone) {
      continue;
    }
    if (!connected_) {
      bridge_.counters().Count(Drop::kDisconnected);
      continue;
    }
    mosquitto_property* properties = nullptr;
    mosquitto_property_add_string_pair(&properties, MQTT_PROP_USER_PROPERTY, kIdProperty,
                                       message.id.c_str());
    const int rc = mosquitto_publish_v5(mosq_, nullptr, message.topic.c_str(),
                                        static_cast<int>(message.payload.size()),
                                        message.payload.data(), 0, false, properties);
    mosquitto_property_free_all(&properties);
    if (rc == MOSQ_ERR_SUCCESS) {
      ++bridge_.counters().published;
    } else if (rc == MOSQ_ERR_MALFORMED_UTF8) {
      bridge_.counters().Count(Drop::kNotConvertible);
    } else {
      bridge_.counters().Count(Drop::kDisconnected);
    }
  }
}

int Gateway::Run() {
  mosquitto_lib_init();
  UniqueMosquitto client(
      mosquitto_new(options_.clientId.empty() ? nullptr : options_.clientId.c_str(), true, this));
  mosq_ = client.get();
  if (mosq_ == nullptr) {
    Fail(std::string("the MQTT client could not be made: ") + std::strerror(errno));
    return kExitFailure;
  }
  if (!SetUp()) return kExitFailure;
  const int64_t start = NowMs();
  Report("start", {{"broker", options_.brokerText},
                   {"site", site_},
                   {"prefix", options_.topicPrefix},
                   {"names", Join(options_.names)},
                   {"lan", options_.lan.empty() ? "*" : Join(options_.lan)},
                   {"charset", options_.charset}});
  ListInterfaces(start);
  int64_t statsDueMs = start + int64_t{options_.statsIntervalSeconds} * 1000;
  while (!g_stop && !fatal_) {
    RethrowFromCallback();
    int64_t now = NowMs();
    if (!connected_ && !connecting_ && backoff_.Due(now)) Connect();
    if (fatal_) break;
    if (now - listedAtMs_ >= kInterfaceListingMs) ListInterfaces(now);
    if (g_statsWanted || now >= statsDueMs) {
      g_statsWanted = 0;
      Stats();
      if (now >= statsDueMs) statsDueMs = now + int64_t{options_.statsIntervalSeconds} * 1000;
    }
    // Between tries the socket of a failed one may still be open (the next
    // try closes it): it is not watched then.
    const bool trying = connected_ || connecting_;
    pollfd fds[2] = {{socket_.get(), POLLIN, 0}, {trying ? mosquitto_socket(mosq_) : -1, 0, 0}};
    if (fds[1].fd >= 0) {
      fds[1].events = POLLIN;
      // A connection under way is done (or failed) when its socket turns
      // writable; over TLS nothing is queued to write before that.
      if (mosquitto_want_write(mosq_) || tcpPending_) fds[1].events |= POLLOUT;
    }
    int64_t wait = std::min<int64_t>(1000, statsDueMs - now);
    if (!connected_ && !connecting_) wait = std::min(wait, backoff_.WaitMs(now));
    const int ready =
        poll(fds, fds[1].fd >= 0 ? 2 : 1, static_cast<int>(std::max<int64_t>(wait, 0)));
    if (ready < 0 && errno != EINTR) {
      Fail(std::string("poll failed: ") + std::strerror(errno));
      return kExitFailure;
    }
    if (ready > 0 && (fds[0].revents & POLLIN) != 0) FromLan();
    // A refused connection shows as POLLHUP or POLLERR; only the write step
    // looks at a connection under way, and so reports it: it goes first.
    const bool writable =
        ready > 0 && fds[1].fd >= 0 && (fds[1].revents & (POLLOUT | POLLHUP | POLLERR)) != 0;
    if (writable && tcpPending_ && (fds[1].revents & (POLLHUP | POLLERR)) != 0) {
      // The TCP connect failed (refused, unreachable). Over TLS libmosquitto
      // 2.0 neither reports it nor closes the socket: the next try does.
      int error = 0;
      socklen_t length = sizeof error;
      getsockopt(fds[1].fd, SOL_SOCKET, SO_ERROR, &error, &length);
      tcpPending_ = false;
      AttemptFailed(std::strerror(error != 0 ? error : ECONNREFUSED));
      continue;
    }
    if (writable) tcpPending_ = false;
    int rc = MOSQ_ERR_SUCCESS;
    if (trying && mosquitto_socket(mosq_) >= 0 && (mosquitto_want_write(mosq_) || writable)) {
      rc = mosquitto_loop_write(mosq_, 1);
    }
    if (rc == MOSQ_ERR_SUCCESS && ready > 0 && fds[1].fd >= 0 && mosquitto_socket(mosq_) >= 0 &&
        (fds[1].revents & (POLLIN | POLLHUP)) != 0) {
      rc = mosquitto_loop_read(mosq_, 1);
    }
    // libmosquitto 2.0 closes the socket of a try that failed in the TLS
    // handshake or in the TCP connect without always calling the disconnect
    // callback: the try is judged here by what the loop returned.
    if (connecting_ && !fatal_ && mosquitto_socket(mosq_) < 0) {
      if (rc == MOSQ_ERR_TLS || rc == MOSQ_ERR_TLS_HANDSHAKE) {
        Fatal("TLS to " + options_.brokerText + " failed: " + Cause(rc));
        break;
      }
      AttemptFailed(Cause(rc == MOSQ_ERR_SUCCESS ? MOSQ_ERR_CONN_LOST : rc));
    }
    mosquitto_loop_misc(mosq_);
  }
  RethrowFromCallback();
  if (fatal_) return kExitFailure;
  if (connected_) {
    mosquitto_disconnect(mosq_);
    mosquitto_loop_write(mosq_, 1);
    RethrowFromCallback();
  }
  Report("stop", {{"broker", options_.brokerText}});
  Stats();
  return kExitSuccess;
}

}  // namespace

int RunGateway(const GatewayOptions& options, bool json, const LineWriter& out,
               const LineWriter& err) {
  const auto Fail = [&err](const std::string& text) { err("zanvor: " + text); };
  std::string error;
  std::unique_ptr<Charset> charset = OpenCharset(options.charset, &error);
  if (charset == nullptr) {
    Fail("--charset: " + error + " (see zanvor gateway --help)");
    return kExitUsage;
  }
  for (const std::string& name : options.lan) {
    if (!InterfaceExists(name)) {
      Fail("--lan: there is no interface " + name + " (see zanvor gateway --help)");
      return kExitUsage;
    }
  }
  if (!options.broker.tls && !options.insecure) {
    std::vector<IpAddress> addresses;
    if (!Resolve(options.broker.host, &addresses, &error)) {
      Fail("cannot tell where " + options.broker.host + " is (" + error +
           "): plain mqtt:// is allowed to loopback, private and link-local addresses only; "
           "use mqtts:// or --insecure");
      return kExitUsage;
    }
    if (PlainMqttNeedsInsecure(addresses)) {
      Fail("mqtt:// sends passwords and posts unencrypted, and " + options.broker.host +
           " is outside loopback, the private ranges and link-local: use mqtts:// or --insecure");
      return kExitUsage;
    }
  }
  std::string password;
  if (!options.passwordFile.empty() && !ReadPasswordFile(options.passwordFile, &password, &error)) {
    Fail(error);
    return kExitFailure;
  }
  std::string site = options.site;
  if (site.empty()) {
    site = DefaultSiteName(LanAddresses(ListInterfaceAddresses(), options.lan));
    if (site.empty()) {
      Fail(
          "no LAN interface is up to name the site after; give --site (see zanvor gateway "
          "--help)");
      return kExitUsage;
    }
  }
  UniqueFd socket = OpenListeningSocket(&error);
  if (!socket) {
    Fail(error + " (is another program holding the port exclusively?)");
    return kExitFailure;
  }
  const int on = 1;
  setsockopt(socket.get(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
  setsockopt(socket.get(), IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
  CatchSignals();
  Gateway gateway(options, json, out, err, *charset, std::move(socket), site, password);
  return gateway.Run();
}

}  // namespace zanvor
