#include "StreamTestClasses.h"
#include "support/Expectations.h"

#include "xelo/framework/Collection.h"

#include <gtest/gtest.h>

#include <utility>

namespace xelo::test {
namespace {

using xelo::testing::MessageOf;

std::vector<int> Ids(const TTestEntries& entries) {
  std::vector<int> ids;
  for (int i = 0; i < entries.GetCount(); ++i) ids.push_back(entries.GetItem(i)->GetID());
  return ids;
}

TEST(CollectionItems, IdsAreStableAcrossDeletesAndMovesAndNeverReused) {
  TTestEntries entries(nullptr);
  for (int i = 0; i < 4; ++i) entries.Add();
  EXPECT_EQ(Ids(entries), (std::vector<int>{0, 1, 2, 3}));
  TTestEntry* third = entries.GetItem(2);
  entries.Delete(1);
  EXPECT_EQ(Ids(entries), (std::vector<int>{0, 2, 3}));
  third->SetIndex(0);
  EXPECT_EQ(Ids(entries), (std::vector<int>{2, 0, 3}));
  EXPECT_EQ(third->GetIndex(), 0);
  entries.Add();
  EXPECT_EQ(Ids(entries), (std::vector<int>{2, 0, 3, 4}));  // 1 is not given out again
  entries.Clear();
  EXPECT_EQ(entries.Add()->GetID(), 5);
  EXPECT_EQ(entries.FindItemID(5), entries.GetItem(0));
  EXPECT_EQ(entries.FindItemID(1), nullptr);
}

TEST(CollectionItems, InsertDeleteBadIndexesAndDestroyingAnItemOrTheCollection) {
  const int before = TTestEntry::liveCount;
  {
    TTestEntries entries(nullptr);
    entries.Add();
    entries.Add();
    auto* b = static_cast<TTestEntry*>(entries.Insert(1));
    EXPECT_EQ(entries.GetItem(1), b);
    entries.Insert(3)->SetIndex(0);
    EXPECT_EQ(MessageOf<EListError>([&] { entries.GetItem(4); }), "List index out of bounds (4)");
    xelo::testing::ExpectEachRaises<EListError>(
        {[&] { entries.Delete(4); }, [&] { entries.Insert(5); }, [&] { b->SetIndex(4); }});
    EXPECT_EQ(entries.GetCount(), 4);
    EXPECT_EQ(b->GetIndex(), 2);
    delete entries.GetItem(0);  // leaves its collection
    EXPECT_EQ(entries.GetCount(), 3);
    EXPECT_EQ(entries.GetItem(1), b);
    EXPECT_EQ(TTestEntry::liveCount, before + 3);
  }
  EXPECT_EQ(TTestEntry::liveCount, before);
}

TEST(CollectionItems, MovingBetweenCollections) {
  TTestEntries first(nullptr);
  TTestEntries second(nullptr);
  second.Add();
  second.Add();
  TTestEntry* item = first.Add();
  item->SetCollection(&second);
  EXPECT_EQ(first.GetCount(), 0);
  ASSERT_EQ(second.GetCount(), 3);
  EXPECT_EQ(second.GetItem(2), item);
  EXPECT_EQ(item->GetID(), 2);  // the new collection's next ID
  item->SetCollection(nullptr);
  EXPECT_EQ((std::vector<int>{second.GetCount(), item->GetIndex()}), (std::vector<int>{2, -1}));
  std::unique_ptr<TTestEntry> own(item);  // now the caller's

  // An item of a class that does not fit the collection is refused.
  TCollection plain(nullptr, TCollectionItem::StaticClass());
  TCollectionItem* generic = plain.Add();
  EXPECT_THROW(generic->SetCollection(&first), EInvalidOperation);
  EXPECT_EQ(generic->GetCollection(), &plain);
  EXPECT_THROW(TCollection(nullptr, TComponent::StaticClass()), EInvalidOperation);
}

TEST(CollectionUpdates, EachChangeIsReportedOnceUpdatesEnd) {
  TTestEntries entries(nullptr);
  TTestEntry* a = entries.Add();
  TTestEntry* b = entries.Add();
  // Each Add reported the new set of items once, after the item was built.
  EXPECT_EQ(std::exchange(entries.updates, {}), (std::vector<TCollectionItem*>{nullptr, nullptr}));

  a->SetValue(1);  // an item's own change names the item
  EXPECT_EQ(std::exchange(entries.updates, {}), std::vector<TCollectionItem*>{a});

  entries.BeginUpdate();
  a->SetValue(2);
  b->SetValue(3);
  entries.BeginUpdate();
  entries.Add();
  entries.EndUpdate();
  EXPECT_TRUE(entries.updates.empty());
  entries.Delete(0);
  EXPECT_TRUE(entries.updates.empty());
  entries.EndUpdate();
  EXPECT_EQ(std::exchange(entries.updates, {}), std::vector<TCollectionItem*>{nullptr});

  entries.BeginUpdate();  // nothing changes: nothing is reported
  entries.EndUpdate();
  entries.EndUpdate();  // unmatched: ignored
  EXPECT_TRUE(entries.updates.empty());

  b->SetIndex(1);
  EXPECT_EQ(std::exchange(entries.updates, {}), std::vector<TCollectionItem*>{nullptr});
  entries.Clear();
  EXPECT_EQ(std::exchange(entries.updates, {}), std::vector<TCollectionItem*>{nullptr});
  entries.Clear();  // already empty
  EXPECT_TRUE(entries.updates.empty());
}

TEST(CollectionAssign, CopiesItemsThroughTheirAssign) {
  TTestEntries source(nullptr);
  TTestEntries dest(nullptr);
  source.Add()->SetText("one");
  source.Add()->SetText("two");
  source.GetItem(1)->SetValue(2);
  dest.Add()->SetText("old");
  dest.updates.clear();
  dest.Assign(&source);
  ASSERT_EQ(dest.GetCount(), 2);
  EXPECT_EQ(dest.GetItem(1)->GetText() + std::to_string(dest.GetItem(1)->GetValue()), "two2");
  EXPECT_NE(dest.GetItem(0), source.GetItem(0));
  EXPECT_EQ(dest.updates, std::vector<TCollectionItem*>{nullptr});
  // Items without an Assign of their own cannot be copied.
  TCollection plainSource(nullptr, TCollectionItem::StaticClass());
  TCollection plainDest(nullptr, TCollectionItem::StaticClass());
  plainSource.Add();
  TTestSettings settings;
  xelo::testing::ExpectEachRaises<EConvertError>({[&] { plainDest.Assign(&plainSource); }, [&] { dest.Assign(&settings); }});
  EXPECT_EQ(dest.GetCount(), 2);
}

TEST(CollectionNames, NamePathsAndDisplayNames) {
  TTestComponent owner(nullptr);
  owner.SetName("Comp1");
  TTestEntries* entries = owner.GetEntries();
  EXPECT_EQ(entries->GetNamePath(), "Comp1.Entries");
  entries->Add();
  TTestEntry* second = entries->Add();
  const std::string before = second->GetNamePath() + " " + second->GetDisplayName();
  second->SetText("Shown");
  second->SetIndex(0);
  EXPECT_EQ(before + " | " + second->GetNamePath() + " " + second->GetDisplayName(), "Comp1.Entries[1] TTestEntry | Comp1.Entries[0] Shown");
  // An owner without a name, or no owner: the class name.
  owner.SetName("");
  TTestEntry loose(nullptr);
  EXPECT_EQ(entries->GetNamePath() + " " + loose.GetNamePath(), "TTestEntries TTestEntry");
}

}  // namespace
}  // namespace xelo::test
