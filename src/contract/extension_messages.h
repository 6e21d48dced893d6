// Registered window messages of this library's own, beside InstanceMessage.
// An instance of an older build does not register them and hands them to the
// host's window procedure, which ignores them: nothing here changes what the
// instances of older builds send or expect.
#ifndef ZANVOR_CONTRACT_EXTENSION_MESSAGES_H_
#define ZANVOR_CONTRACT_EXTENSION_MESSAGES_H_

#include <cstddef>
#include <cstdint>

namespace zanvor {

// Server -> client, after each RegisterSubscriber and UnregisterSubscriber
// from that client's window: lParam TextCheck of the name it read (and
// registered or removed, when the name was valid); wParam
// MakeRegisterAck(code, position):
//   bits 0-15   the ring position it read the name from;
//   bits 16-31  what it did under that name: kRegisterSubscriber (registered)
//               or kUnregisterSubscriber (withdrew). Builds before this
//               field send 0 there, and read only bits 0-15 themselves.
// A client that gets no acknowledgement for the copy it stored at that
// position, or one whose check is not of the name it sent, sends the change
// again. When the server read another name from an overwritten record, the
// client sets right what that did to it: it registers again a name it holds
// that the server withdrew, and undoes (below) one it registered that the
// client does not hold.
constexpr char kRegisterAckMessageName[] = "VFP_Zanvor_RegisterAck";

// Client -> server: wParam a check acknowledged to this client that belongs
// to none of its names, lParam the client's main window. The server drops
// that window's entry under every name with that check: it read the name
// from a ring record that had been overwritten before it got there.
constexpr char kRegisterUndoMessageName[] = "VFP_Zanvor_RegisterUndo";

// Anyone -> an instance's main window: wParam kStatusRequest, lParam the
// window to answer. The instance stores its status text (see commands/status_report.h)
// in the ring and posts to that window wParam MakeStatusAnswer(position),
// lParam TextCheck of the text. Not reachable from FoxPro code.
constexpr char kStatusMessageName[] = "VFP_Zanvor_Status";

// Which of them; each is registered under its own name above.
enum class ExtensionMessage { kRegisterAck, kRegisterUndo, kStatus };

// Every one of them with the name it is registered under, in the order of
// ExtensionMessage, so that an instance keeps its registered ids in an array
// indexed by it. A message added here is registered and handled by every
// instance of this build.
struct ExtensionMessageName {
  ExtensionMessage message;
  const char* name;
};
constexpr ExtensionMessageName kExtensionMessages[] = {
    {ExtensionMessage::kRegisterAck, kRegisterAckMessageName},
    {ExtensionMessage::kRegisterUndo, kRegisterUndoMessageName},
    {ExtensionMessage::kStatus, kStatusMessageName},
};
constexpr size_t kExtensionMessageCount = sizeof kExtensionMessages / sizeof kExtensionMessages[0];

constexpr size_t IndexOf(ExtensionMessage message) { return static_cast<size_t>(message); }

constexpr bool InExtensionMessageOrder() {
  for (size_t i = 0; i < kExtensionMessageCount; ++i) {
    if (IndexOf(kExtensionMessages[i].message) != i) return false;
  }
  return true;
}
static_assert(InExtensionMessageOrder(), "kExtensionMessages is indexed by ExtensionMessage");

enum StatusCode : uint32_t {
  kStatusRequest = 0,
  kStatusAnswer = 1,
};

// `code` is the InstanceCode of the change the server read at `position`.
constexpr uint32_t MakeRegisterAck(uint32_t code, uint16_t position) {
  return (code << 16) | position;
}

constexpr uint32_t MakeStatusAnswer(uint16_t position) {
  return (static_cast<uint32_t>(kStatusAnswer) << 16) | position;
}

}  // namespace zanvor

#endif  // ZANVOR_CONTRACT_EXTENSION_MESSAGES_H_
