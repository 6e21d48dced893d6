// The checks of a post (ZANVOR, ZANVOR_LOCAL, zanvor post) and the packing
// of what they accept, over names and messages shaped by the lead bytes of
// the double-byte code pages of Windows. Whatever the code page, an accepted
// text respects the limits counted on the name and the message themselves,
// its packet fits the posting buffer, and the receivers' split at the first
// ":" gives back the name and the message. Pack never writes past the buffer
// it is given, and refuses a packet that does not fit.
//
// Input: the code page (byte % 5: single-byte, 932, 936, 949, 950), a flag
// byte (bit 0: the name ends in a lead byte without its trail, as LEFT()
// leaves a cut character; bit 1: the message holds a ":" at a position taken
// from the next byte), the name's length (byte % 81) and bytes, the message's
// length (two bytes little-endian, % 1201) and bytes, then the capacity of a
// second buffer (two bytes little-endian, % (kPacketBufferSize + 1)).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "commands/arg_checks.h"
#include "commands/multibyte_search.h"
#include "fuzz/fuzz_input.h"
#include "messaging/packet.h"

namespace {

using zanvor::LeadByteTest;
using zanvor::fuzz::Bytes;
using zanvor::fuzz::Check;

// The lead-byte ranges of the double-byte ANSI code pages of Windows.
bool Cp932LeadByte(uint8_t b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }
bool Cp936LeadByte(uint8_t b) { return b >= 0x81 && b <= 0xFE; }  // also 949 and 950

struct CodePage {
  LeadByteTest isLeadByte;
  uint8_t firstLead;
  uint8_t leadCount;
};

const CodePage kCodePages[] = {{nullptr, 0, 0},               // a single-byte code page
                               {Cp932LeadByte, 0x81, 0x1F},   // 932 (0x81..0x9F, and 0xE0..0xFC)
                               {Cp936LeadByte, 0x81, 0x7E},   // 936
                               {Cp936LeadByte, 0x81, 0x7E},   // 949
                               {Cp936LeadByte, 0x81, 0x7E}};  // 950

std::string Text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

uint16_t TakeU16(zanvor::fuzz::Reader& in) {
  const uint16_t low = in.Byte();
  return static_cast<uint16_t>(low | in.Byte() << 8);
}

// The check's verdict as the decided rules give it, in the check's order.
std::string ExpectedError(const std::string& name, const std::string& message) {
  if (name.empty()) return "Subscription name is empty.";
  if (name.size() > 64) return "Subscription name is too long. 64 chars is max.";
  if (name.find(':') != std::string::npos) return "Subscription name cannot contain a colon.";
  if (message.size() > 300) return "Message is too long. 300 chars is max.";
  return std::string();
}

// Packs `text` into a buffer of exactly `capacity` bytes (ASan sees any
// write past it); checks the result against the size rule and returns the
// packet, or nothing when it was refused.
Bytes PackInto(const std::string& text, size_t capacity) {
  Bytes buffer(capacity, 0xEE);
  const uint8_t id[zanvor::kPacketIdSize] = {1, 2, 3};
  zanvor::CMsgPack packer;
  const int32_t size =
      packer.Pack(reinterpret_cast<const uint8_t*>(text.data()), static_cast<int32_t>(text.size()),
                  buffer.data(), capacity, id, 0x01020304);
  const size_t needed = text.size() + zanvor::kPacketOverhead;
  if (text.empty() || needed > capacity) {
    Check(size == 0, "Pack made a packet that does not fit its buffer");
    Check(buffer == Bytes(capacity, 0xEE), "a refused Pack wrote to the buffer");
    return Bytes();
  }
  Check(size >= 0 && static_cast<size_t>(size) == needed, "Pack's size is not text + 21");
  Check(static_cast<size_t>(size) <= capacity, "the packed size exceeds the buffer");
  return buffer;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zanvor::fuzz::Reader in(data, size);
  const CodePage& page = kCodePages[in.Byte() % 5];
  const uint8_t flags = in.Byte();
  std::string name = Text(in.Take(in.Byte() % 81));
  if ((flags & 1) != 0 && page.isLeadByte != nullptr) {
    name += static_cast<char>(page.firstLead + in.Byte() % page.leadCount);
  }
  const size_t colonAt = in.Byte();
  std::string message = Text(in.Take(TakeU16(in) % 1201));
  if ((flags & 2) != 0) message.insert(colonAt * message.size() / 256, 1, ':');
  const size_t capacity = TakeU16(in) % (zanvor::kPacketBufferSize + 1);

  std::string text = "unchanged";
  const std::string error = zanvor::CheckPostText(name, message, &text);
  Check(error == ExpectedError(name, message), "the check's verdict is not the rules'");

  // Pack stays inside any buffer, the posting buffer included, whatever text
  // it is handed: what was refused here too.
  const std::string joined = name + ":" + message;
  PackInto(joined, capacity);
  const Bytes posted = PackInto(joined, zanvor::kPacketBufferSize);
  if (!error.empty()) {
    Check(text == "unchanged", "a refused post set the text");
    return 0;
  }

  Check(text == joined, "the text is not name:message");
  Check(text.size() <= zanvor::kMaxPostText, "an accepted text is longer than the limits allow");
  Check(!posted.empty(), "an accepted text does not fit the posting buffer");

  // The network receivers unpack it and split at the first ":" byte.
  const int32_t length =
      static_cast<int32_t>(text.size() + zanvor::kPacketOverhead) - zanvor::kPacketIdSize;
  Bytes plain(static_cast<size_t>(length));
  zanvor::CMsgUnPack unpacker;
  const int32_t n = unpacker.UnPack(posted.data() + zanvor::kPacketIdSize, length, plain.data());
  Check(n == static_cast<int32_t>(text.size()), "the posted packet does not unpack");
  const std::string received(plain.begin(), plain.begin() + n);
  const size_t colon = received.find(':');
  Check(colon != std::string::npos && received.substr(0, colon) == name &&
            received.substr(colon + 1) == message,
        "the network receivers' split does not give back the name and the message");

  // The local receivers split the same way, a name cut inside a character
  // included.
  std::string localName;
  std::string localMessage;
  zanvor::SplitNameMessage(text, &localName, &localMessage);
  Check(localName == name && localMessage == message,
        "the local receivers' split does not give back the name and the message");
  return 0;
}
