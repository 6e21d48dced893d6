#include "commands/host_commands.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "fake_machine.h"

namespace zanvor {
namespace {

// The user error a command raised; thrown so that the command ends there, as
// the host's error escape ends it.
struct Raised {
  std::string text;
};

class FakeHostCall : public HostCall {
 public:
  explicit FakeHostCall(std::vector<std::string> parameters) : parameters_(std::move(parameters)) {}
  std::string ParameterText(int index) override { return parameters_.at(index - 1); }
  [[noreturn]] void RaiseError(const std::string& text) override { throw Raised{text}; }
  void ReturnString(const std::string& text) override { result = text; }
  std::string result;

 private:
  std::vector<std::string> parameters_;
};

// The error text the command raised, or "" when it returned.
template <typename Command>
std::string ErrorOf(std::vector<std::string> parameters, Command command) {
  FakeHostCall call(std::move(parameters));
  try {
    command(call);
  } catch (const Raised& raised) {
    return raised.text;
  }
  return std::string();
}

constexpr char kColon[] = "Subscription name cannot contain a colon.";
constexpr char kBusy[] = "Unable to post the message. The message buffer is busy.";

class HostCommandsTest : public ::testing::Test {
 protected:
  HostCommandsTest() : s_(m_.Load()) { m_.Pump(); }
  std::string Subscribe(const std::string& name, const std::string& handler) {
    return ErrorOf({name, handler}, [&](HostCall& c) { SubscribeCommand(c, m_[s_], nullptr); });
  }
  std::string PostLocal(const std::string& name, const std::string& message) {
    return ErrorOf({name, message}, [&](HostCall& c) { PostLocalCommand(c, m_[s_]); });
  }

  FakeMachine m_;
  int s_;
};

TEST_F(HostCommandsTest, SubscribeAndPostsRefuseANameWithAColon) {
  EXPECT_EQ(Subscribe("a:b", "DO x WITH <Msg>"), kColon);
  EXPECT_EQ(Subscribe("a:b", "no keyword"), kColon);  // the name is checked first
  EXPECT_EQ(PostLocal("a:b", "m"), kColon);
  EXPECT_EQ(ErrorOf({"a:b", "m"}, [](HostCall& c) { CheckedPostText(c); }), kColon);
  EXPECT_EQ(m_[s_].ListSubscriptions(), "");
  EXPECT_EQ(m_.CountPosts(kPostLocalText), 0);
  EXPECT_EQ(ErrorOf({"a:b"}, [&](HostCall& c) { UnsubscribeCommand(c, m_[s_]); }), "");
}

// A name ending in a lead byte and a message with a ":" in it: the message
// counts whole, and nothing of it reaches the ring.
TEST_F(HostCommandsTest, ALocalPostOfALongMessageIsRefusedWhateverItsName) {
  const std::string message = std::string(700, 'm') + ":" + std::string(299, 'm');
  EXPECT_EQ(PostLocal("A\x81", message), "Message is too long. 300 chars is max.");
  EXPECT_EQ(PostLocal("A\x81", std::string(301, 'm')), "Message is too long. 300 chars is max.");
  EXPECT_EQ(m_.CountPosts(kPostLocalText), 0);
  EXPECT_EQ(PostLocal("A\x81", std::string(300, 'm')), "");
  EXPECT_EQ(m_.CountPosts(kPostLocalText), 1);
}

TEST_F(HostCommandsTest, ALocalPostThatWasNotStoredRaisesTheBusyError) {
  EXPECT_EQ(Subscribe("x", "DO x WITH <Msg>"), "");
  m_.storesFail = true;
  EXPECT_EQ(PostLocal("x", "lost"), kBusy);
  EXPECT_EQ(m_.CountPosts(kPostLocalText), 0);
  m_.storesFail = false;
  EXPECT_EQ(PostLocal("x", "kept"), "");
  m_.Pump();
  EXPECT_EQ(m_.Executed(s_), std::vector<std::string>{"DO x WITH \"kept\""});
}

// A host without a main window (a COM server): its SUBSCRIBE and
// ZANVOR_LOCAL say so, after the argument checks, and change nothing.
TEST_F(HostCommandsTest, AnInstanceThatHasNotJoinedRefusesSubscribeAndLocalPosts) {
  const int w = m_.LoadUnjoined(false);
  const auto subscribe = [&](HostCall& c) { SubscribeCommand(c, m_[w], nullptr); };
  const auto postLocal = [&](HostCall& c) { PostLocalCommand(c, m_[w]); };
  EXPECT_EQ(ErrorOf({"x", "DO x WITH <Msg>"}, subscribe), kNotJoinedText);
  EXPECT_EQ(ErrorOf({"x", "m"}, postLocal), kNotJoinedText);
  EXPECT_EQ(ErrorOf({"a:b", "m"}, postLocal), kColon);
  EXPECT_EQ(ErrorOf({"x"}, [&](HostCall& c) { UnsubscribeCommand(c, m_[w]); }), "");
  EXPECT_EQ(m_[w].ListSubscriptions(), "");
  m_.Pump();
  EXPECT_EQ(m_.mutexOwner, s_);
  for (const FakePost& post : m_.posts) EXPECT_NE(post.from, w);
}

}  // namespace
}  // namespace zanvor
