#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "cli/command_line.h"
#include "cli/listen_session.h"
#include "cli/recording_output.h"
#include "cli/udp_datagrams.h"

namespace zanvor {
namespace {

constexpr int64_t kArrival = 951782400123;  // 2000-02-29T00:00:00.123Z

std::vector<uint8_t> Datagram(const std::string& name, const std::string& message, uint8_t idByte) {
  uint8_t id[kPacketIdSize];
  std::memset(id, idByte, sizeof id);
  std::vector<uint8_t> datagram;
  std::string error;
  EXPECT_TRUE(MakePostDatagram(name, message, id, 123456, &datagram, &error)) << error;
  return datagram;
}

struct ListenTest : ::testing::Test {
  void Receive(std::vector<uint8_t> datagram) {
    const uint32_t size = static_cast<uint32_t>(datagram.size());
    datagram.resize(kPacketBufferSize);  // the receive buffer, unpacked in place
    listener.OnDatagram(datagram.data(), size);
  }

  RecordingOutput output;
  ListenSession session{{"news", "orders"}, 0, false, output};
  DatagramListener listener{session, [] { return kArrival; }};
};

TEST_F(ListenTest, DatagramsUnderItsNamesArePrintedOnceEachAndTheRestIsDropped) {
  Receive(Datagram("news", "say \"hi\"\r\n", 1));
  Receive(Datagram("news", "say \"hi\"\r\n", 1));  // the same id: a copy on another path
  Receive(Datagram("sports", "not ours", 2));
  Receive(Datagram("orders", "a:b", 3));
  std::vector<uint8_t> flipped = Datagram("orders", "flipped", 4);
  flipped[kPacketIdSize + 6] ^= 0x01;  // fails its check byte
  Receive(flipped);
  EXPECT_EQ(output.out, (std::vector<std::string>{"news\tsay \\\"hi\\\"\\r\\n", "orders\ta:b"}));
  EXPECT_TRUE(output.err.empty());
}

TEST(ListenSessionTest, CountEndsItAndTheExitCodeTellsATimeoutBeforeTheCount) {
  RecordingOutput output;
  ListenSession session({"news"}, 2, true, output);
  EXPECT_TRUE(session.OnMessage(0, "one", kArrival));
  EXPECT_FALSE(session.done());
  EXPECT_TRUE(session.OnMessage(0, "two", kArrival));
  EXPECT_TRUE(session.done());
  EXPECT_FALSE(session.OnMessage(0, "three", kArrival));  // a burst's tail is not printed
  EXPECT_EQ(output.out,
            (std::vector<std::string>{"{\"name\": \"news\", \"message\": \"one\", \"arrived\": "
                                      "\"2000-02-29T00:00:00.123Z\"}",
                                      "{\"name\": \"news\", \"message\": \"two\", \"arrived\": "
                                      "\"2000-02-29T00:00:00.123Z\"}"}));
  EXPECT_EQ(session.Finish(true, 1.5), kExitSuccess);

  ListenSession short_of_count({"news"}, 2, false, output);
  short_of_count.OnMessage(0, "one", kArrival);
  EXPECT_EQ(short_of_count.Finish(true, 1.5), kExitFailure);
  EXPECT_EQ(output.err.back(),
            "zanvor: listen timed out after 1.5 s with 1 of 2 messages; check the posters with "
            "zanvor status, or give a longer --timeout");
  ListenSession unlimited({"news"}, 0, false, output);
  EXPECT_EQ(unlimited.Finish(true, 1.5), kExitSuccess);
}

TEST(ListenSessionTest, AWarningComesEachTimeTheRingLostMoreTexts) {
  RecordingOutput output;
  ListenSession session({"news"}, 0, false, output);
  session.OnTextsDropped(0);
  session.OnTextsDropped(3);
  session.OnTextsDropped(3);
  session.OnTextsDropped(4);
  ASSERT_EQ(output.err.size(), 2u);
  EXPECT_EQ(output.err[0].rfind("zanvor: warning: 3 texts for this listener were overwritten", 0),
            0u);
  EXPECT_NE(output.err[1].find("1 text for this listener"), std::string::npos);
  EXPECT_NE(output.err[1].find("(4 since it started)"), std::string::npos);
}

TEST(UdpDatagramsTest, APostIsRefusedWithTheLibrarysTexts) {
  const uint8_t id[kPacketIdSize] = {1};
  std::vector<uint8_t> datagram;
  std::string error;
  EXPECT_FALSE(MakePostDatagram("a:b", "m", id, 1, &datagram, &error));
  EXPECT_EQ(error, "Subscription name cannot contain a colon.");
  EXPECT_FALSE(MakePostDatagram("news", std::string(301, 'x'), id, 1, &datagram, &error));
  EXPECT_EQ(error, "Message is too long. 300 chars is max.");
  EXPECT_TRUE(MakePostDatagram("news", std::string(300, 'x'), id, 1, &datagram, &error));
  EXPECT_EQ(datagram.size(), 4 + 1 + 300 + static_cast<size_t>(kPacketOverhead));
}

}  // namespace
}  // namespace zanvor
