#include <windows.h>

#include "base/unique_handle_win.h"
#include "gtest/gtest.h"
#include "messaging/packet_id_win.h"

namespace zanvor {
namespace {

bool IsOpen(HANDLE h) {
  DWORD flags = 0;
  return GetHandleInformation(h, &flags) != FALSE;
}

TEST(UniqueHandle, MoveAssignmentClosesTheOldHandleAndTakesTheNew) {
  HANDLE a = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  HANDLE b = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  UniqueHandle first(a);
  UniqueHandle second(b);
  first = std::move(second);
  EXPECT_FALSE(IsOpen(a));
  EXPECT_EQ(first.get(), b);
  EXPECT_FALSE(second.valid());
  first = std::move(first);  // self-move keeps the handle
  EXPECT_TRUE(IsOpen(b));
  {
    UniqueHandle moved(std::move(first));
    EXPECT_EQ(moved.get(), b);
  }
  EXPECT_FALSE(IsOpen(b));
}

TEST(UniqueHandle, ClosingKeepsTheLastError) {
  UniqueHandle h(CreateEventA(nullptr, FALSE, FALSE, nullptr));
  SetLastError(12345);
  h.reset();
  EXPECT_EQ(GetLastError(), 12345u);
}

TEST(UniqueHandle, FileHandlesUseInvalidHandleValue) {
  UniqueFile none;
  EXPECT_FALSE(none.valid());
  EXPECT_EQ(none.get(), INVALID_HANDLE_VALUE);
  UniqueFile slot(CreateMailslotA("\\\\.\\mailslot\\zanvor\\unique_handle_test", 0, 0, nullptr));
  ASSERT_TRUE(slot.valid());
  HANDLE raw = slot.get();
  slot.reset();
  EXPECT_FALSE(IsOpen(raw));
}

HRESULT WINAPI FailingGuid(GUID*) { return E_FAIL; }

TEST(PacketId, AFailingGuidSourceStillGivesADistinctIdPerPost) {
  uint8_t first[16], second[16], third[16];
  PacketIdSource failing(FailingGuid);
  failing.MakePacketId(1000, first);
  failing.MakePacketId(1000, second);
  failing.MakePacketId(1001, third);
  EXPECT_NE(memcmp(first, second, 16), 0);
  EXPECT_NE(memcmp(second, third, 16), 0);
  uint8_t guid1[16], guid2[16];
  PacketIdSource guids;
  guids.MakePacketId(5, guid1);
  guids.MakePacketId(5, guid2);
  EXPECT_NE(memcmp(guid1, guid2, 16), 0);
}

}  // namespace
}  // namespace zanvor
