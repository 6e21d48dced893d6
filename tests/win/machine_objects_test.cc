// Opening the machine's named objects on real kernel objects: the first
// step that fails is named with its error, and what opened before it stays
// open.
#include <windows.h>

#include <string>
#include <thread>

#include "gtest/gtest.h"
#include "registry/machine_objects_win.h"

namespace zanvor {
namespace {

class MachineObjectsTest : public ::testing::Test {
 protected:
  // Names of this process alone.
  static std::string Name(const char* what) {
    return std::string("zanvor_objects_test_") + std::to_string(GetCurrentProcessId()) + "_" + what;
  }
  const std::string serverMutex_ = Name("server");
  const std::string bufferMutex_ = Name("buffer");
  const std::string section_ = Name("section");
  const std::string ids_ = Name("ids");
  const MachineNames names_ = {serverMutex_.c_str(), bufferMutex_.c_str(), section_.c_str(),
                               "Zanvor test message", ids_.c_str()};

  // An event under `name`: a mutex or a section of that name cannot be made.
  UniqueHandle Squat(const std::string& name) {
    UniqueHandle event(CreateEventA(nullptr, TRUE, FALSE, name.c_str()));
    EXPECT_TRUE(event.valid());
    return event;
  }
};

TEST_F(MachineObjectsTest, EveryObjectOpensAndASecondInstanceSharesTheSection) {
  MachineObjects first;
  MachineObjects second;
  ASSERT_EQ(first.Open(names_).failed, JoinStep::kNone);
  ASSERT_EQ(second.Open(names_).failed, JoinStep::kNone);
  EXPECT_NE(first.messages.instance, 0u);
  for (const ExtensionMessageName& m : kExtensionMessages) {
    EXPECT_EQ(first.messages.Extension(m.message), RegisterWindowMessageA(m.name)) << m.name;
  }
  UniqueMappedView a(MapViewOfFile(first.section(), FILE_MAP_WRITE, 0, 0, kSectionSize));
  UniqueMappedView b(MapViewOfFile(second.section(), FILE_MAP_WRITE, 0, 0, kSectionSize));
  ASSERT_TRUE(a.valid() && b.valid());
  static_cast<char*>(a.get())[kSectionSize - 1] = 'z';
  EXPECT_EQ(static_cast<char*>(b.get())[kSectionSize - 1], 'z');
  UniqueMappedView c(
      MapViewOfFile(first.recentIdsSection(), FILE_MAP_WRITE, 0, 0, kRecentIdsSectionSize));
  UniqueMappedView d(
      MapViewOfFile(second.recentIdsSection(), FILE_MAP_WRITE, 0, 0, kRecentIdsSectionSize));
  ASSERT_TRUE(c.valid() && d.valid());
  static_cast<char*>(c.get())[kRecentIdsSectionSize - 1] = 'i';
  EXPECT_EQ(static_cast<char*>(d.get())[kRecentIdsSectionSize - 1], 'i');
  first.Close();
  EXPECT_EQ(first.serverMutex(), nullptr);
  EXPECT_EQ(first.section(), nullptr);
  EXPECT_NE(first.messages.instance, 0u) << "the ids are the session's";
}

TEST_F(MachineObjectsTest, TheFirstStepThatFailsIsReturnedWithItsError) {
  // What stays open is what opened before the failed step.
  struct Case {
    std::string squatted;
    JoinStep failed;
    bool serverMutexOpen;
    bool messagesRegistered;
    bool bufferMutexOpen;
  };
  const Case cases[] = {
      {serverMutex_, JoinStep::kServerMutex, false, false, false},
      {bufferMutex_, JoinStep::kBufferMutex, true, true, false},
      {section_, JoinStep::kSection, true, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.squatted);
    UniqueHandle squatter = Squat(c.squatted);
    MachineObjects objects;
    const JoinResult result = objects.Open(names_);
    EXPECT_EQ(result.failed, c.failed);
    EXPECT_EQ(result.error, static_cast<uint32_t>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(objects.serverMutex() != nullptr, c.serverMutexOpen);
    EXPECT_EQ(objects.messages.instance != 0, c.messagesRegistered);
    EXPECT_EQ(objects.bufferMutex() != nullptr, c.bufferMutexOpen);
    EXPECT_EQ(objects.section(), nullptr);
  }
}

// The recent ids only spare a new server a copy delivered twice: without
// their section the instance joins all the same.
TEST_F(MachineObjectsTest, AnInstanceJoinsWithoutTheSectionOfRecentIds) {
  UniqueHandle squatter = Squat(ids_);
  MachineObjects objects;
  EXPECT_EQ(objects.Open(names_).failed, JoinStep::kNone);
  EXPECT_NE(objects.section(), nullptr);
  EXPECT_EQ(objects.recentIdsSection(), nullptr);
}

// A count of the ring's mutex left by a store cut short is given back at
// the close, not left to be abandoned when the thread ends.
TEST_F(MachineObjectsTest, ClosingGivesBackACountOfTheRingMutexThisThreadHeld) {
  MachineObjects objects;
  ASSERT_EQ(objects.Open(names_).failed, JoinStep::kNone);
  ASSERT_EQ(WaitForSingleObject(objects.bufferMutex(), 0), static_cast<DWORD>(WAIT_OBJECT_0));
  UniqueHandle other(OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, bufferMutex_.c_str()));
  ASSERT_TRUE(other.valid());
  objects.Close();
  DWORD result = WAIT_FAILED;
  std::thread([&] {
    result = WaitForSingleObject(other.get(), 0);
    if (result == WAIT_OBJECT_0) ReleaseMutex(other.get());
  }).join();
  EXPECT_EQ(result, static_cast<DWORD>(WAIT_OBJECT_0));
}

}  // namespace
}  // namespace zanvor
