#include "cli/status_view.h"

#include "cli/text_output.h"
#include "common/text.h"
#include "contract/machine_objects.h"
#include "contract/network.h"
#include "registry/ring_layout.h"

namespace zanvor {
namespace {

// ERROR_REMOTE_MAILSLOTS_DEPRECATED, newer than mingw's headers.
constexpr uint32_t kPathNotFound = 3;
constexpr uint32_t kAccessDenied = 5;
constexpr uint32_t kBadNetPath = 53;

std::string Labelled(const char* label, const std::string& text) {
  std::string line = label;
  line.resize(18, ' ');
  return line + text;
}

std::string Plural(uint64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string DescribeUdpSocket(const std::string& state) {
  if (state == "open") return "open on port " + std::to_string(kUdpPort);
  if (state == "closed") return "closed: the server receives over the mailslot alone";
  if (state.empty()) return "not reported";
  return state + ": UDP port " + std::to_string(kUdpPort) +
         " could not be opened (another program may hold it exclusively)";
}

std::string ServerAbsence(const MachinePicture& picture) {
  if (picture.server == ServerSearch::kNoInstance) {
    return "none: no program has zanvor.fll loaded on this machine";
  }
  return "none: no instance answered within " + FormatNumber(picture.waitSeconds) +
         " s (one holds the server role but does not run its message loop?)";
}

std::string AdapterJson(const AdapterAddress& adapter) {
  return JsonObject()
      .Add("address", Ipv4Text(adapter.address))
      .AddNumber("prefix", adapter.prefixLength)
      .Add("broadcast", SubnetBroadcast(adapter.address, adapter.prefixLength) == 0
                            ? std::string()
                            : Ipv4Text(SubnetBroadcast(adapter.address, adapter.prefixLength)))
      .Text();
}

std::string InstanceLine(const InstanceStatus& instance) {
  const StatusReport& r = instance.report;
  std::string text = "window " + WindowText(r.window) + ", process " + std::to_string(r.process);
  if (!instance.program.empty()) text += " (" + instance.program + ")";
  if (r.isServer) {
    text += ": the server";
  } else if (r.serverWindow == 0) {
    text += ": knows no server";
  } else {
    text += ": client of " + WindowText(r.serverWindow);
  }
  text += "; " + Plural(r.ownNames, "name", "names") + ", " +
          Plural(r.instance.textsDropped, "text", "texts") + " dropped";
  // Shown only when there are any: with a server of this build they are rare.
  if (r.instance.nameChangesGivenUp != 0) {
    text +=
        ", " + Plural(r.instance.nameChangesGivenUp, "name change", "name changes") + " given up";
  }
  if (r.instance.postsRefused != 0) {
    text += ", " + Plural(r.instance.postsRefused, "post", "posts") + " refused by a full queue";
  }
  return Labelled("instance", text);
}

std::string InstanceJson(const InstanceStatus& instance) {
  const StatusReport& r = instance.report;
  return JsonObject()
      .AddNumber("window", r.window)
      .AddNumber("process", r.process)
      .Add("program", instance.program)
      .AddBool("server", r.isServer)
      .AddNumber("server_window", r.serverWindow)
      .AddNumber("own_names", r.ownNames)
      .AddNumber("texts_dropped", r.instance.textsDropped)
      .AddNumber("name_changes_given_up", r.instance.nameChangesGivenUp)
      .AddNumber("posts_refused", r.instance.postsRefused)
      .Text();
}

}  // namespace

std::string DescribeDomainMailslot(const MailslotOpenResult& result) {
  if (result.open) return "open";
  const std::string number = " (error " + std::to_string(result.error) + ")";
  switch (result.error) {
    case kRemoteMailslotsOffError:
      return "remote mailslots are switched off on this machine" + number;
    case kPathNotFound:
      return "this system has no domain-wide mailslots" + number;
    case kBadNetPath:
      return "the network path was not found, no client for mailslots runs" + number;
    case kAccessDenied:
      return "access to the mailslot was denied" + number;
    default:
      return "cannot be opened" + number;
  }
}

std::vector<std::string> StatusLines(const MachinePicture& picture) {
  std::vector<std::string> lines;
  const StatusReport& r = picture.report;
  if (picture.server == ServerSearch::kFound) {
    std::string server = "window " + WindowText(picture.serverWindow);
    if (picture.serverProcess != 0) {
      server += ", process " + std::to_string(picture.serverProcess);
      if (!picture.serverProgram.empty()) server += " (" + picture.serverProgram + ")";
    }
    lines.push_back(Labelled("server instance", server));
    if (!picture.reportRead) {
      lines.push_back(Labelled("status", "the server did not answer the status request within " +
                                             FormatNumber(picture.waitSeconds) +
                                             " s (a zanvor.fll older than this tool?)"));
    } else {
      lines.push_back(Labelled(
          "subscriptions", Plural(r.tableNames, "name, ", "names, ") +
                               Plural(r.tableEntries, "subscriber entry", "subscriber entries")));
      // A fresh section's header holds 0, which the ring reads as its first
      // record.
      lines.push_back(
          Labelled("message ring", r.ringNext == 0
                                       ? "next position " + std::to_string(kFirstRecord) + " of " +
                                             std::to_string(kSectionSize) + " (nothing stored yet)"
                                       : "next position " + std::to_string(r.ringNext) + " of " +
                                             std::to_string(kSectionSize)));
    }
  } else {
    lines.push_back(Labelled("server instance", ServerAbsence(picture)));
  }
  lines.push_back(Labelled("domain mailslot", DescribeDomainMailslot(picture.domainMailslot)));
  if (picture.server == ServerSearch::kFound && picture.reportRead) {
    lines.push_back(Labelled("UDP socket", DescribeUdpSocket(r.udpSocket)));
  }
  for (const AdapterAddress& adapter : picture.adapters) {
    const uint32_t broadcast = SubnetBroadcast(adapter.address, adapter.prefixLength);
    lines.push_back(
        Labelled("adapter", Ipv4Text(adapter.address) + "/" + std::to_string(adapter.prefixLength) +
                                (broadcast == 0 ? ", no broadcast address (a point-to-point link)"
                                                : ", broadcast " + Ipv4Text(broadcast))));
  }
  if (picture.adapters.empty()) {
    lines.push_back(Labelled("adapter", "none is up: posts reach this machine alone"));
  }
  lines.push_back(Labelled("loopback", Ipv4Text(kLoopbackAddress) + " (every post goes here too)"));
  if (picture.server == ServerSearch::kFound && picture.reportRead) {
    const ReceiveCounters& c = r.receive;
    lines.push_back(Labelled(
        "received", Plural(c.mailslotDatagrams, "mailslot datagram", "mailslot datagrams") + ", " +
                        Plural(c.udpDatagrams, "UDP datagram", "UDP datagrams") + "; " +
                        std::to_string(c.delivered) + " delivered, " +
                        Plural(c.duplicates, "duplicate", "duplicates") + ", " +
                        std::to_string(c.bad) + " bad"));
  }
  if (picture.instancesAsked) {
    for (const InstanceStatus& instance : picture.instances) {
      lines.push_back(InstanceLine(instance));
    }
    if (picture.instances.empty()) {
      lines.push_back(
          Labelled("instance", "none answered within " + FormatNumber(picture.waitSeconds) + " s"));
    }
    if (picture.unreadableAnswers != 0) {
      lines.push_back(
          Labelled("instance", Plural(picture.unreadableAnswers, "answer", "answers") +
                                   " not shown: the ring was written over before it was read"));
    }
  }
  return lines;
}

std::string StatusJson(const MachinePicture& picture) {
  const StatusReport& r = picture.report;
  JsonObject json;
  if (picture.server == ServerSearch::kFound) {
    JsonObject server;
    server.AddNumber("window", picture.serverWindow).AddNumber("process", picture.serverProcess);
    server.Add("program", picture.serverProgram).AddBool("answered", picture.reportRead);
    json.AddRaw("server", server.Text());
  } else {
    json.AddRaw("server", "null");
    json.Add("absent", picture.server == ServerSearch::kNoInstance ? "no instance" : "no answer");
  }
  if (picture.server == ServerSearch::kFound && picture.reportRead) {
    json.AddNumber("table_names", r.tableNames)
        .AddNumber("table_entries", r.tableEntries)
        .AddNumber("ring_next", r.ringNext);
  }
  JsonObject mailslot;
  mailslot.AddBool("open", picture.domainMailslot.open)
      .AddNumber("error", picture.domainMailslot.error)
      .Add("text", DescribeDomainMailslot(picture.domainMailslot));
  json.AddRaw("domain_mailslot", mailslot.Text());
  if (picture.server == ServerSearch::kFound && picture.reportRead) {
    json.Add("udp_socket", r.udpSocket);
  }
  std::string adapters = "[";
  for (const AdapterAddress& adapter : picture.adapters) {
    if (adapters.size() > 1) adapters += ", ";
    adapters += AdapterJson(adapter);
  }
  json.AddRaw("adapters", adapters + "]");
  if (picture.server == ServerSearch::kFound && picture.reportRead) {
    const ReceiveCounters& c = r.receive;
    json.AddRaw("counters", JsonObject()
                                .AddNumber("mailslot_datagrams", c.mailslotDatagrams)
                                .AddNumber("udp_datagrams", c.udpDatagrams)
                                .AddNumber("delivered", c.delivered)
                                .AddNumber("duplicates", c.duplicates)
                                .AddNumber("bad_datagrams", c.bad)
                                .Text());
  }
  if (picture.instancesAsked) {
    std::string instances = "[";
    for (const InstanceStatus& instance : picture.instances) {
      if (instances.size() > 1) instances += ", ";
      instances += InstanceJson(instance);
    }
    json.AddRaw("instances", instances + "]");
    json.AddNumber("unreadable_answers", picture.unreadableAnswers);
  }
  return json.Text();
}

}  // namespace zanvor
