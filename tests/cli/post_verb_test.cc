#include "cli/post_verb.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "cli/recording_output.h"

namespace zanvor {
namespace {

struct ListedMessages final : MessageSource {
  explicit ListedMessages(std::deque<std::string> m) : messages(std::move(m)) {}
  bool Next(std::string* message) override {
    if (messages.empty()) return false;
    *message = messages.front();
    messages.pop_front();
    return true;
  }
  std::deque<std::string> messages;
};

// Takes every post until the one with the text "refused".
struct RecordingPoster final : MessagePoster {
  bool Post(const std::string& name, const std::string& message, std::string* error) override {
    if (message == "refused") {
      *error = "Unable to post the message. The message buffer is busy.";
      return false;
    }
    posts.push_back(name + ":" + message);
    return true;
  }
  std::vector<std::string> posts;
};

TEST(PostVerbTest, LinesArePostedInOrderUntilTheFirstFailure) {
  VerbOptions options;
  options.name = "orders";
  options.messageFromInput = options.lines = options.json = options.local = true;
  ListedMessages input({"1", "", "refused", "4"});
  RecordingPoster poster;
  RecordingOutput output;
  EXPECT_EQ(PostMessages(options, input, poster, output), kExitFailure);
  EXPECT_EQ(poster.posts, (std::vector<std::string>{"orders:1", "orders:"}));
  EXPECT_EQ(output.out, (std::vector<std::string>{
                            "{\"name\": \"orders\", \"message\": \"1\", \"scope\": \"local\"}",
                            "{\"name\": \"orders\", \"message\": \"\", \"scope\": \"local\"}"}));
  EXPECT_EQ(output.err, (std::vector<std::string>{
                            "zanvor: post failed: line 3: Unable to post the message. The "
                            "message buffer is busy."}));
}

TEST(PostVerbTest, TheWholeInputLosesOneFinalLineEnd) {
  EXPECT_EQ(WholeInputMessage("hello\n"), "hello");
  EXPECT_EQ(WholeInputMessage("hello\r\n"), "hello");
  EXPECT_EQ(WholeInputMessage("two\n\n"), "two\n");
  EXPECT_EQ(WholeInputMessage("as is"), "as is");
}

TEST(PostVerbTest, ArgumentsAreCheckedAsTheLibraryChecksThem) {
  VerbOptions options;
  options.name = "a:b";
  options.message = "m";
  EXPECT_EQ(CheckPostArguments(options), "Subscription name cannot contain a colon.");
  options.name = "news";
  options.message = std::string(301, 'x');
  EXPECT_EQ(CheckPostArguments(options), "Message is too long. 300 chars is max.");
  options.messageFromInput = true;  // the input's messages are checked as they come
  EXPECT_EQ(CheckPostArguments(options), "");
  options.name = "";
  EXPECT_EQ(CheckPostArguments(options), "Subscription name is empty.");
}

}  // namespace
}  // namespace zanvor
