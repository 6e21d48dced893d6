// The record layout of the MessageBuffer, the machine-wide text ring in the
// named section "vfp_zanvor", as pure functions over bytes. The Windows side
// maps the views and holds the writers' mutex; everything that decides where
// a record goes and how far a read may look lives here.
//
// Section: bytes 0..3 hold nextPosition (u32 little-endian, 0 reads as 4).
// Records follow from offset 4, back to back: u16 length (NUL included),
// then the text and its NUL. A record never runs past kSectionSize; it may
// end exactly there. The ring wraps to kFirstRecord without marking it.
#ifndef ZANVOR_REGISTRY_RING_LAYOUT_H_
#define ZANVOR_REGISTRY_RING_LAYOUT_H_

#include <cstdint>
#include <string>

#include "contract/machine_objects.h"

namespace zanvor {

constexpr uint32_t kFirstRecord = 4;
constexpr uint32_t kRecordHeaderSize = 2;  // the u16 length in front of each text
// The longest text (NUL included) that fits the section at kFirstRecord.
constexpr uint32_t kMaxRecordText = kSectionSize - kFirstRecord - kRecordHeaderSize;

struct Reservation {
  uint32_t position;      // where the record goes
  uint32_t nextPosition;  // the header value to write back
};

// Decides where a text of `lengthWithNul` bytes goes, from the header value
// as read (0, a fresh section, reads as kFirstRecord; a value that could not
// have been written, below kFirstRecord or too close to the end, also starts
// over at kFirstRecord). Returns false, leaving *out alone, when the record
// cannot fit even at kFirstRecord or lengthWithNul is 0.
bool ReserveRecord(uint32_t rawNextPosition, uint32_t lengthWithNul, Reservation* out);

// Writes one record. REQUIRES: `section` is a view from offset 0 of at least
// position + 2 + lengthWithNul bytes, `text` holds lengthWithNul bytes and
// lengthWithNul >= 1. The last byte written is always a NUL.
void WriteRecord(uint8_t* section, uint32_t position, const char* text, uint16_t lengthWithNul);

// Reads the text at `position` from `view`, which holds `viewSize` bytes from
// section offset 0. Readers take no lock, so the record may have been
// overwritten: the text must end with a NUL inside its own length, clipped to
// the view and the section, or it reads as "". Positions below kFirstRecord
// (0 is what a failed store hands out) or not below kSectionSize read as "".
std::string ReadRecord(const uint8_t* view, uint32_t viewSize, uint32_t position);

// The length field of the record at `position`, or 0 when the field does not
// lie inside the view and the section (or the position cannot be a record).
uint16_t RecordLength(const uint8_t* view, uint32_t viewSize, uint32_t position);

// The check that travels with a delivered text so that a receiver can tell
// the posted text from one that later overwrote it: 32-bit FNV-1a over the
// bytes (no NUL), made 1 when that gives 0, because 0 means "not checked".
uint32_t TextCheck(const std::string& text);

}  // namespace zanvor

#endif  // ZANVOR_REGISTRY_RING_LAYOUT_H_
