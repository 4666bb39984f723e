#include "xelo/framework/List.h"

#include "support/Expectations.h"
#include "xelo/framework/Exceptions.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

using namespace xelo;
using xelo::testing::MessageOf;

// Entries point into a fixed array so that tests can name them.
int cells[6] = {0, 1, 2, 3, 4, 5};
void* P(int i) { return &cells[i]; }

std::vector<int> Contents(const TList& list) {
  std::vector<int> out;
  for (void* p : list) out.push_back(p == nullptr ? -1 : *static_cast<int*>(p));
  return out;
}

TEST(TListBasics, KeepsOrderThroughAddInsertDeleteRemoveAndExtract) {
  TList list;
  EXPECT_EQ(list.Add(P(1)), 0);
  EXPECT_EQ(list.Add(P(3)), 1);
  list.Insert(1, P(2));
  list.Insert(0, P(0));
  list.Insert(list.Count(), P(4));  // inserting at Count appends
  EXPECT_EQ(Contents(list), (std::vector<int>{0, 1, 2, 3, 4}));
  list.Delete(2);
  EXPECT_EQ(Contents(list), (std::vector<int>{0, 1, 3, 4}));
  EXPECT_EQ(list.Remove(P(3)), 2);
  EXPECT_EQ(list.Remove(P(3)), -1);
  EXPECT_EQ(Contents(list), (std::vector<int>{0, 1, 4}));
  EXPECT_EQ(list.Get(2), P(4));
  list.Put(1, P(5));
  EXPECT_EQ((std::vector<void*>{list.First(), list[1], list.Last()}), (std::vector<void*>{P(0), P(5), P(4)}));
  // Of equal entries the first is extracted.
  list.Add(P(0));
  EXPECT_EQ(list.Extract(P(0)), P(0));
  EXPECT_EQ(Contents(list), (std::vector<int>{5, 4, 0}));
  EXPECT_EQ(list.IndexOf(P(1)), -1);
  EXPECT_EQ(list.Extract(P(1)), nullptr);
}

TEST(TListBasics, ExchangesMovesPacksAndSorts) {
  TList list;
  for (int i : {0, 1, 2, 3, 4}) list.Add(P(i));
  list.Exchange(0, 4);
  EXPECT_EQ(Contents(list), (std::vector<int>{4, 1, 2, 3, 0}));
  list.Move(0, 3);
  EXPECT_EQ(Contents(list), (std::vector<int>{1, 2, 3, 4, 0}));
  list.Move(4, 1);
  EXPECT_EQ(Contents(list), (std::vector<int>{1, 0, 2, 3, 4}));

  list.Put(1, nullptr);
  list.SetCount(7);  // grows with null entries
  EXPECT_EQ(Contents(list), (std::vector<int>{1, -1, 2, 3, 4, -1, -1}));
  list.Pack();
  EXPECT_EQ(Contents(list), (std::vector<int>{1, 2, 3, 4}));

  // Sorting descending by value; equal keys (odd/even here) keep their order.
  list.Sort([](void* a, void* b) { return *static_cast<int*>(b) % 2 - *static_cast<int*>(a) % 2; });
  EXPECT_EQ(Contents(list), (std::vector<int>{1, 3, 2, 4}));

  TList copy;
  copy.Add(P(5));
  copy.Assign(list);
  EXPECT_EQ(Contents(copy), (std::vector<int>{1, 3, 2, 4}));
}

TEST(TListBasics, RaisesListErrorsForBadIndexes) {
  TList list;
  const auto errorOf = [&list](void (*call)(TList&)) { return MessageOf<EListError>([&] { call(list); }); };
  EXPECT_EQ(errorOf([](TList& l) { l.First(); }), "List index out of bounds (0)");
  EXPECT_EQ(errorOf([](TList& l) { l.Last(); }), "List index out of bounds (-1)");
  list.Add(P(0));
  list.Add(P(1));
  EXPECT_EQ(errorOf([](TList& l) { l.Get(2); }), "List index out of bounds (2)");
  EXPECT_EQ(errorOf([](TList& l) { l.Insert(3, nullptr); }), "List index out of bounds (3)");
  EXPECT_EQ(errorOf([](TList& l) { l.Delete(5); }), "List index out of bounds (5)");
  EXPECT_EQ(errorOf([](TList& l) { l.Exchange(0, 2); }), "List index out of bounds (2)");
  EXPECT_EQ(errorOf([](TList& l) { l.Move(2, 0); }), "List index out of bounds (2)");
  EXPECT_EQ(errorOf([](TList& l) { l.SetCount(-1); }), "List count out of bounds (-1)");
  EXPECT_EQ(errorOf([](TList& l) { l.SetCapacity(1); }), "List capacity out of bounds (1)");
  EXPECT_EQ(Contents(list), (std::vector<int>{0, 1}));  // a failed call changes nothing
}

// Records what Notify reports, as an owning list would act on it.
class RecordingList : public TList {
 public:
  std::vector<std::pair<int, TListNotification>> events;

 protected:
  void Notify(void* item, TListNotification action) override {
    events.emplace_back(*static_cast<int*>(item), action);
  }
};

TEST(TListBasics, NotifiesEveryNonNullEntryEnteringOrLeaving) {
  RecordingList list;
  list.Add(P(1));
  list.Insert(0, P(2));
  list.Add(nullptr);
  list.Put(0, P(3));  // replaces 2
  list.Extract(P(1));
  list.Delete(0);
  list.Add(P(4));
  list.Add(P(5));
  list.Clear();
  using E = std::pair<int, TListNotification>;
  const std::vector<E> expected = {
      {1, lnAdded},   {2, lnAdded},   {2, lnDeleted}, {3, lnAdded},   {1, lnExtracted},
      {3, lnDeleted}, {4, lnAdded},   {5, lnAdded},   {5, lnDeleted}, {4, lnDeleted},
  };
  EXPECT_EQ(list.events, expected);
}

}  // namespace
