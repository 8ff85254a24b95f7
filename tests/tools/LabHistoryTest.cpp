// The Lab's back and forward list.
#include "tools/LabHistory.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const LabHistoryEntry A{0, 1}, B{1, 2}, C{2, 3}, D{3, 0};

std::vector<LabHistoryEntry> Entries(const LabHistory& history) {
  std::vector<LabHistoryEntry> entries;
  for (int i = 0; i < history.GetCount(); ++i) entries.push_back(*history.At(i));
  return entries;
}

TEST(LabHistoryTest, BackAndForwardStopAtTheEnds) {
  LabHistory history;
  for (const auto& entry : {A, B, C}) history.Add(entry);
  EXPECT_EQ(history.GetCurrentIndex(), 2);
  for (const auto& expected : {B, A, A}) EXPECT_EQ(history.Back(), expected);
  EXPECT_FALSE(history.CanBack());
  EXPECT_TRUE(history.CanForward());
  for (const auto& expected : {B, C, C}) EXPECT_EQ(history.Forward(), expected);
  EXPECT_TRUE(history.CanBack());
  EXPECT_FALSE(history.CanForward());
}

TEST(LabHistoryTest, AddingDropsLaterEntriesExceptFromTheFirst) {
  struct Case {
    int backs;
    std::vector<LabHistoryEntry> after;
    int current;
  };
  for (const Case& c : {Case{0, {A, B, C, D}, 3}, Case{1, {A, B, D}, 2}, Case{2, {A, B, C, D}, 3}}) {
    LabHistory history;
    for (const auto& entry : {A, B, C}) history.Add(entry);
    for (int i = 0; i < c.backs; ++i) history.Back();
    EXPECT_EQ(history.Add(D), c.current) << c.backs;
    EXPECT_EQ(Entries(history), c.after) << c.backs;
  }
}

TEST(LabHistoryTest, EmptyAndSingleHistoriesGoNowhere) {
  LabHistory history;
  EXPECT_FALSE(history.CanBack());
  EXPECT_FALSE(history.CanForward());
  EXPECT_FALSE(history.Back());
  EXPECT_FALSE(history.Forward());
  EXPECT_FALSE(history.At(0));
  EXPECT_EQ(history.GetCurrentIndex(), -1);

  history.Add(A);
  history.Add(A);  // the same view twice is two entries
  history.Back();
  EXPECT_FALSE(history.CanBack());
  EXPECT_TRUE(history.CanForward());
  EXPECT_FALSE(history.At(2));
  EXPECT_FALSE(history.At(-1));
}

}  // namespace
