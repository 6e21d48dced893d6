#include "host/value_handles.h"

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace zanvor {
namespace {

// Blocks as byte vectors keyed by a fake handle; can be told to refuse.
class FakeBlocks : public BlockMemory {
 public:
  uint32_t Alloc(uint32_t bytes) override {
    if (failAlloc) return 0;
    blocks_[next_] = std::vector<uint8_t>(bytes, 0);
    ++allocations;
    return next_++;
  }
  bool ReAlloc(uint32_t block, uint32_t bytes) override {
    if (failReAlloc) return false;
    blocks_[block].resize(bytes, 0);
    return true;
  }
  void Free(uint32_t block) override { blocks_.erase(block); }
  uint8_t* Lock(uint32_t block) override { return failLock ? nullptr : blocks_[block].data(); }
  void Unlock(uint32_t) override {}
  size_t Size(uint32_t block) { return blocks_[block].size(); }
  size_t Live() const { return blocks_.size(); }

  bool failAlloc = false;
  bool failReAlloc = false;
  bool failLock = false;
  int allocations = 0;

 private:
  std::map<uint32_t, std::vector<uint8_t>> blocks_;
  uint32_t next_ = 0x1000;
};

class ValueHandlesTest : public ::testing::Test {
 protected:
  ValueHandlesTest() : handleTable(4 + 4 * 8, 0), slotTable(6 + 4 * 6, 0) {
    StoreU16(handleTable.data(), 1);
    StoreU16(handleTable.data() + 2, 8);
    StoreU16(slotTable.data(), 1);
    StoreU16(slotTable.data() + 4, 6);
  }
  ValueHandles Handles() { return ValueHandles(blocks, handleTable.data(), slotTable.data()); }
  uint16_t NextFree() { return LoadU16(handleTable.data()); }
  uint32_t BlockAt(uint32_t i) { return LoadU32(handleTable.data() + 4 + 4 * i); }

  FakeBlocks blocks;
  std::vector<uint8_t> handleTable;
  std::vector<uint8_t> slotTable;
};

TEST_F(ValueHandlesTest, AllocationStepsPastTakenSlotsAndReusesTheLowestFreed) {
  ValueHandles h = Handles();
  EXPECT_EQ(h.AllocValueHandle(4, 0), 1u);
  EXPECT_EQ(h.AllocValueHandle(4, 0), 2u);
  EXPECT_EQ(h.AllocValueHandle(4, 0), 3u);
  StoreU16(handleTable.data(), 1);  // nextFree behind the taken slots
  EXPECT_EQ(h.AllocValueHandle(4, 0), 4u);
  h.FreeValueHandle(2);
  EXPECT_EQ(NextFree(), 2);
  EXPECT_EQ(BlockAt(2), 0u);
  EXPECT_EQ(h.AllocValueHandle(4, 0), 2u);
  EXPECT_EQ(h.AllocValueHandle(4, 0), 5u);
}

TEST_F(ValueHandlesTest, AFullTableAllocatesNoMemory) {
  ValueHandles h = Handles();
  for (uint32_t i = 1; i < 8; ++i) EXPECT_EQ(h.AllocValueHandle(1, 0), i);
  const int before = blocks.allocations;
  EXPECT_EQ(h.AllocValueHandle(1, 0), 0u);
  EXPECT_EQ(blocks.allocations, before);
  for (uint32_t i = 1; i < 6; ++i) EXPECT_EQ(h.AllocSlot(i), i);
  EXPECT_EQ(h.AllocSlot(99), 0u);
  EXPECT_EQ(LoadU16(slotTable.data() + 2), 5);
}

TEST_F(ValueHandlesTest, AFailedAllocationLeavesTheSlotFree) {
  ValueHandles h = Handles();
  blocks.failAlloc = true;
  EXPECT_EQ(h.AllocValueHandle(1, 0), 0u);
  EXPECT_EQ(BlockAt(1), 0u);
  blocks.failAlloc = false;
  EXPECT_EQ(h.AllocValueHandle(1, 0), 1u);
}

TEST_F(ValueHandlesTest, AHandleWithDataIsFreedAgainWhenItsBlockCannotBeLocked) {
  ValueHandles h = Handles();
  const uint8_t text[] = "ab";
  blocks.failLock = true;
  EXPECT_EQ(h.AllocValueHandleWith(text, 3, 16), 0u);
  EXPECT_EQ(blocks.Live(), 0u);
  EXPECT_EQ(BlockAt(1), 0u);
  EXPECT_EQ(NextFree(), 1);
  blocks.failLock = false;
  const uint32_t handle = h.AllocValueHandleWith(text, 3, 16);
  ASSERT_EQ(handle, 1u);
  EXPECT_STREQ(reinterpret_cast<char*>(h.ValueHandleData(handle)), "ab");
  EXPECT_EQ(LoadU16(h.ValueHandleData(handle) - 2), 16);
}

TEST_F(ValueHandlesTest, BadHandlesAreRejectedByEveryOperation) {
  ValueHandles h = Handles();
  for (uint32_t bad : {0u, 8u, 9u, 0xFFFFu, 3u /* free */}) {
    h.FreeValueHandle(bad);
    EXPECT_EQ(h.ValueHandleData(bad), nullptr) << bad;
    EXPECT_FALSE(h.ResizeValueHandle(bad, 4)) << bad;
    EXPECT_EQ(h.SlotValue(bad), 0u);
  }
  EXPECT_EQ(NextFree(), 1);
}

TEST_F(ValueHandlesTest, BlocksCarryTheHeaderWordAndResizeKeepsData) {
  ValueHandles h = Handles();
  const uint32_t empty = h.AllocValueHandle(0, 16);
  EXPECT_EQ(blocks.Size(BlockAt(empty)), 2u);
  EXPECT_EQ(LoadU16(h.ValueHandleData(empty) - 2), 16);

  const uint32_t handle = h.AllocValueHandle(4, 0xBEEF);
  uint8_t* data = h.ValueHandleData(handle);
  memcpy(data, "abcd", 4);
  ASSERT_TRUE(h.ResizeValueHandle(handle, 2));
  data = h.ValueHandleData(handle);
  EXPECT_EQ(LoadU16(data - 2), 0xBEEF);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data), 2), "ab");
  ASSERT_TRUE(h.ResizeValueHandle(handle, 5));
  data = h.ValueHandleData(handle);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data), 5), std::string("ab\0\0\0", 5));
}

TEST_F(ValueHandlesTest, TerminateParameterGrowsByOneAndWritesTheNul) {
  ValueHandles h = Handles();
  HostValue value{};
  value.textHandle = h.AllocValueHandle(3, 0);
  value.textLength = 3;
  memcpy(h.ValueHandleData(value.textHandle), "xyz", 3);
  ASSERT_TRUE(h.TerminateParameter(value));
  EXPECT_EQ(blocks.Size(BlockAt(value.textHandle)), 2u + 4u);
  EXPECT_STREQ(reinterpret_cast<char*>(h.ValueHandleData(value.textHandle)), "xyz");

  HostValue empty{};
  empty.textHandle = h.AllocValueHandle(0, 0);
  ASSERT_TRUE(h.TerminateParameter(empty));
  EXPECT_STREQ(reinterpret_cast<char*>(h.ValueHandleData(empty.textHandle)), "");

  blocks.failReAlloc = true;
  EXPECT_FALSE(h.TerminateParameter(value));
  HostValue dangling{};
  dangling.textHandle = 7;
  blocks.failReAlloc = false;
  EXPECT_FALSE(h.TerminateParameter(dangling));
}

TEST_F(ValueHandlesTest, SlotsCountTheirUseAndReuseTheLowestFreed) {
  ValueHandles h = Handles();
  EXPECT_EQ(h.AllocSlot(10), 1u);
  EXPECT_EQ(h.AllocSlot(20), 2u);
  EXPECT_EQ(h.AllocSlot(30), 3u);
  h.FreeSlot(2);
  h.FreeSlot(2);  // already free: no change to the count
  EXPECT_EQ(LoadU16(slotTable.data() + 2), 2);
  EXPECT_EQ(h.AllocSlot(40), 2u);
  EXPECT_EQ(h.SlotValue(2), 40u);
  EXPECT_EQ(h.SlotValue(3), 30u);
}

TEST(ValueHandlesWithoutTables, EverythingFailsQuietly) {
  FakeBlocks blocks;
  ValueHandles h(blocks, nullptr, nullptr);
  EXPECT_EQ(h.AllocValueHandle(1, 0), 0u);
  EXPECT_EQ(h.AllocSlot(1), 0u);
  EXPECT_EQ(h.ValueHandleData(1), nullptr);
  EXPECT_EQ(blocks.Live(), 0u);
}

}  // namespace
}  // namespace zanvor
