// The in-memory record manager against a model: random inserts, updates and
// deletes with every step, record number and slot checked; the growth of
// the slot array; the live range; identifiers never reused before Clear.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>

#include "core/MemoryRecordManager.h"
#include "support/EngineError.h"
#include "support/RecordSteps.h"

namespace {

constexpr int32_t kSize = 12;

std::string Bytes(int32_t v) {
  std::string r(kSize, '\0');
  std::memcpy(r.data(), &v, sizeof v);
  return r;
}

struct Walker {
  TABSMemoryRecordManager& m;
  std::string buffer = std::string(kSize, '\0');
  TABSGetRecordRequest Step(TABSGetRecordMode mode, TABSRecordID from, bool beforeFirst, bool afterLast) {
    return StepRecords(m, buffer.data(), mode, from, beforeFirst, afterLast);
  }
  std::vector<int32_t> All(bool forward) {
    std::vector<int32_t> slots;
    TABSGetRecordRequest r = Step(forward ? grmNext : grmPrior, {}, forward, !forward);
    while (r.result == grrFound) {
      slots.push_back(r.recordID.pageNo);
      r = Step(forward ? grmNext : grmPrior, r.recordID, false, false);
    }
    return slots;
  }
};

TEST(MemoryRecordManagerTest, AgreesWithAModelThroughRandomChanges) {
  TABSMemoryRecordManager m(kSize, 7);  // a small step: many growths
  Walker w{m};
  std::map<int32_t, std::string> model;  // slot -> bytes
  std::mt19937 random(20261211);
  int32_t highestGiven = -1;
  for (int round = 0; round < 3000; ++round) {
    const int op = static_cast<int>(random() % 10);
    if (op < 5 || model.empty()) {
      TABSRecordID id;
      const std::string bytes = Bytes(round);
      ASSERT_TRUE(m.Insert(0, bytes.data(), id));
      ASSERT_GT(id.pageNo, highestGiven) << "a slot is never handed out twice";
      highestGiven = id.pageNo;
      model[id.pageNo] = bytes;
    } else {
      auto it = std::next(model.begin(), static_cast<long>(random() % model.size()));
      if (op < 7) {
        const std::string bytes = Bytes(-round);
        ASSERT_TRUE(m.Update(0, bytes.data(), {it->first, 0}));
        it->second = bytes;
      } else {
        ASSERT_TRUE(m.Delete(0, {it->first, 0}));
        EXPECT_FALSE(m.Delete(0, {it->first, 0})) << "a deleted slot is deleted once";
        EXPECT_FALSE(m.Update(0, Bytes(1).data(), {it->first, 0}));
        model.erase(it);
      }
    }
    ASSERT_EQ(m.RecordCount(), static_cast<int64_t>(model.size()));
    if (round % 97 != 0) continue;
    std::vector<int32_t> slots;
    for (const auto& [slot, bytes] : model) slots.push_back(slot);
    ASSERT_EQ(w.All(true), slots);
    std::vector<int32_t> back = w.All(false);
    std::reverse(back.begin(), back.end());
    ASSERT_EQ(back, slots);
    EXPECT_EQ(m.LowestLive(), slots.empty() ? 0 : slots.front());
    EXPECT_EQ(m.HighestLive(), slots.empty() ? 0 : slots.back());
    for (size_t n = 0; n < slots.size(); ++n) {
      ASSERT_EQ(m.RecNoOfSlot(slots[n]), static_cast<int64_t>(n) + 1);
      int32_t slot = -1;
      ASSERT_TRUE(m.SlotOfRecNo(static_cast<int64_t>(n) + 1, slot));
      ASSERT_EQ(slot, slots[n]);
      const TABSGetRecordRequest r = w.Step(grmCurrent, {slots[n], 0}, false, false);
      ASSERT_EQ(r.result, grrFound);
      ASSERT_EQ(w.buffer, model[slots[n]]);
    }
  }
}

TEST(MemoryRecordManagerTest, GrowthLiveRangeAndEnds) {
  TABSMemoryRecordManager m(kSize);
  Walker w{m};
  // Empty: both directions give after last; nothing is current.
  EXPECT_EQ(w.Step(grmNext, {}, true, false).result, grrEOF);
  EXPECT_EQ(w.Step(grmPrior, {}, false, true).result, grrEOF);
  EXPECT_EQ(w.Step(grmCurrent, {0, 0}, false, false).result, grrNotFound);

  // 1001 records grow the array once, from 1000 to 2000 slots.
  TABSRecordID id;
  for (int32_t i = 0; i < 1000; ++i) ASSERT_TRUE(m.Insert(0, Bytes(i).data(), id));
  EXPECT_EQ(m.Capacity(), 1000);
  ASSERT_TRUE(m.Insert(0, Bytes(1000).data(), id));
  EXPECT_EQ(m.Capacity(), 2000);
  m.Clear(0);
  EXPECT_EQ(m.Capacity(), 0);

  // Deleting slots 0 and 1 of three: the lowest live slot is 2, its number
  // 1, and the next insert takes slot 3.
  for (int32_t i = 0; i < 3; ++i) ASSERT_TRUE(m.Insert(0, Bytes(i).data(), id));
  ASSERT_TRUE(m.Delete(0, {0, 0}));
  ASSERT_TRUE(m.Delete(0, {1, 0}));
  EXPECT_EQ(m.LowestLive(), 2);
  EXPECT_EQ(m.RecNoOfSlot(2), 1);
  EXPECT_EQ(m.RecNoOfSlot(1), -1);
  EXPECT_EQ(w.Step(grmPrior, {2, 0}, false, false).result, grrBOF);
  EXPECT_EQ(w.Step(grmNext, {2, 0}, false, false).result, grrEOF);
  EXPECT_EQ(w.Step(grmPrior, {}, true, false).result, grrBOF);
  EXPECT_EQ(w.Step(grmNext, {}, false, true).result, grrEOF);
  ASSERT_TRUE(m.Insert(0, Bytes(3).data(), id));
  EXPECT_EQ(id.pageNo, 3);
  // Deleting every record empties the live range; the numbering goes on,
  // so an old identifier never names the new record. Clear restarts it.
  ASSERT_TRUE(m.Delete(0, {2, 0}));
  ASSERT_TRUE(m.Delete(0, {3, 0}));
  EXPECT_EQ(m.LowestLive(), 0);
  EXPECT_EQ(m.HighestLive(), 0);
  EXPECT_EQ(w.Step(grmNext, {}, true, false).result, grrEOF);
  ASSERT_TRUE(m.Insert(0, Bytes(4).data(), id));
  EXPECT_EQ(id.pageNo, 4);
  EXPECT_EQ(w.Step(grmCurrent, {3, 0}, false, false).result, grrNotFound);
  m.Clear(0);
  ASSERT_TRUE(m.Insert(0, Bytes(5).data(), id));
  EXPECT_EQ(id.pageNo, 0);

  // Record numbers outside the table, a slot far past the end.
  int32_t slot = -1;
  EXPECT_FALSE(m.SlotOfRecNo(0, slot));
  EXPECT_FALSE(m.SlotOfRecNo(2, slot));
  EXPECT_EQ(m.RecNoOfSlot(-1), -1);
  EXPECT_EQ(m.RecNoOfSlot(1 << 30), -1);
  EXPECT_FALSE(m.Update(0, Bytes(1).data(), {-1, 0}));
  EXPECT_EQ(NativeCodeOf([] { TABSMemoryRecordManager bad(0); }), 10011);
}

}  // namespace
