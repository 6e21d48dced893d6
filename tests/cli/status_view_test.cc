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
            "\"name_changes_given_up\": 0, \"domain_mailslot\": {\"open\": false, \"error\": 3025, "
            "\"text\": \"remote mailslots "
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

  MachinePicture gaveUp = ServerPicture();
  gaveUp.report.instance.nameChangesGivenUp = 3;
  EXPECT_EQ(StatusLines(gaveUp)[2],
            "given up          3 name changes never acknowledged by its server");
  EXPECT_NE(StatusJson(gaveUp).find("\"name_changes_given_up\": 3"), std::string::npos);

  MachinePicture silent = ServerPicture();
  silent.reportRead = false;
  silent.waitSeconds = 3;
  const std::vector<std::string> silentLines = StatusLines(silent);
  EXPECT_EQ(silentLines[1],
            "status            the server did not answer the status request within 3 s (a "
            "zanvor.fll older than this tool?)");
  EXPECT_EQ(silentLines[2].rfind("domain mailslot", 0), 0u);
}

}  // namespace
}  // namespace zanvor
