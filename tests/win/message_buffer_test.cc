// The text ring on a real section and mutex, as the instances of a machine
// use it.
#include <windows.h>

#include <cstring>
#include <string>
#include <thread>

#include "base/unique_handle_win.h"
#include "gtest/gtest.h"
#include "registry/message_buffer_win.h"

namespace zanvor {
namespace {

class MessageBufferTest : public ::testing::Test {
 protected:
  MessageBufferTest()
      : section(
            CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 16384, nullptr)),
        mutex(CreateMutexA(nullptr, FALSE, nullptr)) {}

  std::string Bytes(uint32_t offset, uint32_t count) {
    UniqueMappedView view(MapViewOfFile(section.get(), FILE_MAP_READ, 0, 0, 16384));
    return std::string(static_cast<const char*>(view.get()) + offset, count);
  }
  uint32_t NextPosition() {
    std::string b = Bytes(0, 4);
    uint32_t v;
    memcpy(&v, b.data(), 4);
    return v;
  }

  // Runs `body` on another thread and waits for it.
  template <typename F>
  static void OnOtherThread(F body) {
    std::thread(body).join();
  }

  UniqueHandle section;
  UniqueHandle mutex;
};

TEST_F(MessageBufferTest, StoresAtTheFrontOfAFreshSectionAndReadsBack) {
  EXPECT_EQ(StoreText(section.get(), mutex.get(), "abc"), 4);
  EXPECT_EQ(Bytes(4, 6), std::string("\x04\x00"
                                     "abc\0",
                                     6));
  EXPECT_EQ(NextPosition(), 10u);
  EXPECT_EQ(StoreText(section.get(), mutex.get(), "orders:42"), 10);
  EXPECT_EQ(ReadText(section.get(), 4), "abc");
  EXPECT_EQ(ReadText(section.get(), 10), "orders:42");
  EXPECT_EQ(ReadText(section.get(), 0), "");
}

TEST_F(MessageBufferTest, WrapsToTheFrontWhenARecordWouldPassTheEnd) {
  const std::string big(16384 - 4 - 2 - 100 - 1, 'x');  // leaves 100 bytes after it
  EXPECT_EQ(StoreText(section.get(), mutex.get(), big), 4);
  const std::string exact(100 - 2 - 1, 'y');  // ends exactly at 16384
  const uint16_t at = StoreText(section.get(), mutex.get(), exact);
  EXPECT_EQ(at, 16384 - 100);
  EXPECT_EQ(NextPosition(), 16384u);
  EXPECT_EQ(ReadText(section.get(), at), exact);
  EXPECT_EQ(StoreText(section.get(), mutex.get(), "z"), 4);
  EXPECT_EQ(ReadText(section.get(), 4), "z");
}

TEST_F(MessageBufferTest, ATextThatCannotFitIsRefusedAndTouchesNothing) {
  EXPECT_EQ(StoreText(section.get(), mutex.get(), "abc"), 4);
  EXPECT_EQ(StoreText(section.get(), mutex.get(), std::string(16384 - 6, 'x')), 0);
  EXPECT_EQ(NextPosition(), 10u);
  EXPECT_EQ(StoreText(section.get(), mutex.get(), std::string(16384 - 7, 'x')), 4);
}

TEST_F(MessageBufferTest, AWriterHoldingTheMutexTooLongMakesTheStoreFail) {
  HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE held = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE m = mutex.get();
  std::thread holder([m, held, release] {
    WaitForSingleObject(m, INFINITE);
    SetEvent(held);
    WaitForSingleObject(release, INFINITE);
    ReleaseMutex(m);
  });
  WaitForSingleObject(held, INFINITE);
  EXPECT_EQ(StoreText(section.get(), mutex.get(), "abc"), 0);
  EXPECT_EQ(NextPosition(), 0u);
  SetEvent(release);
  holder.join();
  CloseHandle(held);
  CloseHandle(release);
  EXPECT_EQ(StoreText(section.get(), mutex.get(), "abc"), 4);
}

TEST_F(MessageBufferTest, AnAbandonedMutexIsTakenOverAndGivenBack) {
  HANDLE m = mutex.get();
  OnOtherThread([m] { WaitForSingleObject(m, INFINITE); });  // exits owning it
  EXPECT_EQ(StoreText(section.get(), mutex.get(), "abc"), 4);
  DWORD other = WAIT_FAILED;
  OnOtherThread([m, &other] {
    other = WaitForSingleObject(m, 0);
    if (other == WAIT_OBJECT_0) ReleaseMutex(m);
  });
  EXPECT_EQ(other, static_cast<DWORD>(WAIT_OBJECT_0));  // not left owned by the store
}

TEST_F(MessageBufferTest, AnOverwrittenRecordWithoutTerminatorReadsEmpty) {
  EXPECT_EQ(StoreText(section.get(), mutex.get(), "hello"), 4);
  UniqueMappedView view(MapViewOfFile(section.get(), FILE_MAP_WRITE, 0, 0, 16384));
  auto* bytes = static_cast<uint8_t*>(view.get());
  bytes[11] = 'X';  // the NUL of "hello" (text at 6..10) is gone
  EXPECT_EQ(ReadText(section.get(), 4), "");
  bytes[4] = 0xFF;  // and a length that runs past the end of the section
  bytes[5] = 0xFF;
  memset(bytes + 6, 'q', 16384 - 6);
  EXPECT_EQ(ReadText(section.get(), 4), "");
  EXPECT_EQ(ReadText(section.get(), 16383), "");
}

TEST_F(MessageBufferTest, WithoutSectionOrMutexNothingIsStored) {
  EXPECT_EQ(StoreText(nullptr, mutex.get(), "abc"), 0);
  EXPECT_EQ(StoreText(section.get(), nullptr, "abc"), 0);
  EXPECT_EQ(ReadText(nullptr, 4), "");
}

}  // namespace
}  // namespace zanvor
