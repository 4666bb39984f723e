#include "xelo/framework/List.h"

#include "xelo/framework/Exceptions.h"
#include "xelo/framework/SysUtils.h"

#include <algorithm>

namespace xelo {

void TList::Error(const char* format, int value) { throw EListError(Format(format, value)); }

void TList::CheckIndex(int index) const {
  if (index < 0 || index >= GetCount()) Error("List index out of bounds (%d)", index);
}

int TList::Add(void* item) {
  const int index = GetCount();
  items_.push_back(item);
  if (item != nullptr) Notify(item, lnAdded);
  return index;
}

void TList::Insert(int index, void* item) {
  if (index < 0 || index > GetCount()) Error("List index out of bounds (%d)", index);
  items_.insert(items_.begin() + index, item);
  if (item != nullptr) Notify(item, lnAdded);
}

void TList::Delete(int index) {
  CheckIndex(index);
  void* item = items_[static_cast<std::size_t>(index)];
  items_.erase(items_.begin() + index);
  if (item != nullptr) Notify(item, lnDeleted);
}

int TList::Remove(void* item) {
  const int index = IndexOf(item);
  if (index >= 0) Delete(index);
  return index;
}

void* TList::Extract(void* item) {
  const int index = IndexOf(item);
  if (index < 0) return nullptr;
  items_.erase(items_.begin() + index);
  if (item != nullptr) Notify(item, lnExtracted);
  return item;
}

int TList::IndexOf(void* item) const {
  const auto it = std::find(items_.begin(), items_.end(), item);
  return it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
}

void TList::Clear() {
  SetCount(0);
  // Give the memory back, as an emptied list is often kept for a long time.
  items_.shrink_to_fit();
}

void TList::SetCount(int count) {
  if (count < 0) Error("List count out of bounds (%d)", count);
  if (count >= GetCount()) {
    items_.resize(static_cast<std::size_t>(count), nullptr);
    return;
  }
  // Entries leave from the end one at a time so that Notify always sees a
  // consistent list.
  while (GetCount() > count) {
    void* item = items_.back();
    items_.pop_back();
    if (item != nullptr) Notify(item, lnDeleted);
  }
}

void TList::SetCapacity(int capacity) {
  if (capacity < GetCount()) Error("List capacity out of bounds (%d)", capacity);
  if (static_cast<std::size_t>(capacity) > items_.capacity()) {
    items_.reserve(static_cast<std::size_t>(capacity));
  } else {
    items_.shrink_to_fit();
  }
}

void* TList::Get(int index) const {
  CheckIndex(index);
  return items_[static_cast<std::size_t>(index)];
}

void TList::Put(int index, void* item) {
  CheckIndex(index);
  void* old = items_[static_cast<std::size_t>(index)];
  if (old == item) return;
  items_[static_cast<std::size_t>(index)] = item;
  if (old != nullptr) Notify(old, lnDeleted);
  if (item != nullptr) Notify(item, lnAdded);
}

void TList::Exchange(int index1, int index2) {
  CheckIndex(index1);
  CheckIndex(index2);
  std::swap(items_[static_cast<std::size_t>(index1)], items_[static_cast<std::size_t>(index2)]);
}

void TList::Move(int curIndex, int newIndex) {
  if (curIndex == newIndex) {
    CheckIndex(curIndex);
    return;
  }
  CheckIndex(curIndex);
  CheckIndex(newIndex);
  const auto first = items_.begin();
  if (curIndex < newIndex) {
    std::rotate(first + curIndex, first + curIndex + 1, first + newIndex + 1);
  } else {
    std::rotate(first + newIndex, first + curIndex, first + curIndex + 1);
  }
}

void* TList::First() const { return Get(0); }

void* TList::Last() const { return Get(GetCount() - 1); }

void TList::Pack() { std::erase(items_, nullptr); }

void TList::Sort(const TListSortCompare& compare) {
  std::stable_sort(items_.begin(), items_.end(), [&](void* a, void* b) { return compare(a, b) < 0; });
}

void TList::Assign(const TList& source) {
  if (&source == this) return;
  Clear();
  items_.reserve(source.items_.size());
  for (void* item : source.items_) Add(item);
}

void TList::Notify(void* /*item*/, TListNotification /*action*/) {}

}  // namespace xelo
