#include "cli/status_view.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zanvor {
namespace {

MachinePicture ServerPicture() {
  MachinePicture picture;
  picture.server = ServerSearch::kFound;
  picture.serverWindow = 0x1002E;
  picture.serverProcess = 212;
  picture.serverProgram = "vfp9.exe";
  picture.reportRead = true;
  picture.report.tableNames = 2;
  picture.report.tableEntries = 1;
  picture.report.ringNext = 4321;
  picture.report.udpSocket = "error 10048";
  picture.report.receive = {5, 7, 6, 1, 0};
  picture.domainMailslot = {false, 3025};
  picture.adapters = {{0x0A4D0001, 24}, {0xC0A80102, 32}};
  return picture;
}

TEST(StatusViewTest, AServerInstancesPictureInPlainLines) {
  EXPECT_EQ(StatusLines(ServerPicture()),
            (std::vector<std::string>{
                "server instance   window 0x0001002E, process 212 (vfp9.exe)",
                "subscriptions     2 names, 1 subscriber entry",
                "message ring      next position 4321 of 16384",
                "domain mailslot   remote mailslots are switched off on this machine (error 3025)",
                "UDP socket        error 10048: UDP port 38217 could not be opened (another "
                "program may hold it exclusively)",
                "adapter           10.77.0.1/24, broadcast 10.77.0.255",
                "adapter           192.168.1.2/32, no broadcast address (a point-to-point link)",
                "loopback          127.0.0.1 (every post goes here too)",
                "received          5 mailslot datagrams, 7 UDP datagrams; 6 delivered, 1 "
                "duplicate, 0 bad",
            }));
}

TEST(StatusViewTest, TheSamePictureAsOneJsonObject) {
  EXPECT_EQ(StatusJson(ServerPicture()),
            "{\"server\": {\"window\": 65582, \"process\": 212, \"program\": \"vfp9.exe\", "
            "\"answered\": true}, \"table_names\": 2, \"table_entries\": 1, \"ring_next\": 4321, "
            "\"domain_mailslot\": {\"open\": false, \"error\": 3025, \"text\": \"remote mailslots "
            "are switched off on this machine (error 3025)\"}, \"udp_socket\": \"error 10048\", "
            "\"adapters\": [{\"address\": \"10.77.0.1\", \"prefix\": 24, \"broadcast\": "
            "\"10.77.0.255\"}, {\"address\": \"192.168.1.2\", \"prefix\": 32, \"broadcast\": "
            "\"\"}], \"counters\": {\"mailslot_datagrams\": 5, \"udp_datagrams\": 7, "
            "\"delivered\": 6, \"duplicates\": 1, \"bad_datagrams\": 0}}");
}

TEST(StatusViewTest, NoServerAndAServerThatDoesNotReport) {
  MachinePicture none;
  none.domainMailslot = {true, 0};
  const std::vector<std::string> lines = StatusLines(none);
  EXPECT_EQ(lines[0], "server instance   none: no program has zanvor.fll loaded on this machine");
  EXPECT_EQ(lines[1], "domain mailslot   open");
  EXPECT_EQ(lines[2], "adapter           none is up: posts reach this machine alone");
  EXPECT_EQ(StatusJson(none).rfind("{\"server\": null, \"absent\": \"no instance\"", 0), 0u);

  MachinePicture fresh = ServerPicture();
  fresh.report.ringNext = 0;  // a section nothing was stored in yet
  EXPECT_EQ(StatusLines(fresh)[2],
            "message ring      next position 4 of 16384 (nothing stored yet)");

  MachinePicture silent = ServerPicture();
  silent.reportRead = false;
  silent.waitSeconds = 3;
  const std::vector<std::string> silentLines = StatusLines(silent);
  EXPECT_EQ(silentLines[1],
            "status            the server did not answer the status request within 3 s (a "
            "zanvor.fll older than this tool?)");
  EXPECT_EQ(silentLines[2].rfind("domain mailslot", 0), 0u);
}

// What docs/troubleshooting.md promises of every instance: its process,
// window, role, the server it knows, its names, its dropped texts and the
// name changes it gave up.
TEST(StatusViewTest, EveryInstanceWithItsNamesAndDroppedTexts) {
  MachinePicture picture = ServerPicture();
  picture.instancesAsked = true;
  InstanceStatus server;
  server.report.window = 0x1002E;
  server.report.process = 212;
  server.report.isServer = true;
  server.report.serverWindow = 0x1002E;
  server.report.ownNames = 1;
  server.program = "vfp9.exe";
  InstanceStatus client;
  client.report.window = 0x20040;
  client.report.process = 300;
  client.report.serverWindow = 0x1002E;
  client.report.ownNames = 2;
  client.report.instance.textsDropped = 17;
  client.report.instance.nameChangesGivenUp = 3;
  InstanceStatus lost;
  lost.report.window = 0x30050;
  lost.report.process = 301;
  lost.report.instance.textsDropped = 1;
  lost.report.instance.postsRefused = 2;
  picture.instances = {server, client, lost};
  picture.unreadableAnswers = 1;
  const std::vector<std::string> lines = StatusLines(picture);
  EXPECT_EQ(
      std::vector<std::string>(lines.end() - 4, lines.end()),
      (std::vector<std::string>{
          "instance          window 0x0001002E, process 212 (vfp9.exe): the server; 1 name, "
          "0 texts dropped",
          "instance          window 0x00020040, process 300: client of 0x0001002E; 2 names, "
          "17 texts dropped, 3 name changes given up",
          "instance          window 0x00030050, process 301: knows no server; 0 names, 1 text "
          "dropped, 2 posts refused by a full queue",
          "instance          1 answer not shown: the ring was written over before it was "
          "read",
      }));
  const std::string json = StatusJson(picture);
  EXPECT_NE(
      json.find(", \"instances\": [{\"window\": 65582, \"process\": 212, \"program\": "
                "\"vfp9.exe\", \"server\": true, \"server_window\": 65582, \"own_names\": "
                "1, \"texts_dropped\": 0, \"name_changes_given_up\": 0, \"posts_refused\": 0}, "
                "{\"window\": "
                "131136, \"process\": 300, \"program\": \"\", \"server\": false, "
                "\"server_window\": 65582, \"own_names\": 2, \"texts_dropped\": 17, "
                "\"name_changes_given_up\": 3, \"posts_refused\": 0}, {"),
      std::string::npos)
      << json;
  EXPECT_NE(json.find("\"unreadable_answers\": 1}"), std::string::npos) << json;
}

}  // namespace
}  // namespace zanvor
