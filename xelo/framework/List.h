// TList: an ordered list of untyped pointers.
//
// Contract: the list never owns what its entries point to; deleting an entry
// only forgets the pointer. Subclasses that do own their entries override
// Notify, which is called after each entry enters or leaves the list (but not
// from the destructor: a subclass that must release entries clears the list in
// its own destructor). Not thread-safe; used on one thread at a time.
// Errors: an index outside 0..Count-1 raises EListError
// "List index out of bounds (%d)"; a negative count or capacity raises
// EListError "List count out of bounds (%d)" / "List capacity out of bounds (%d)".
#pragma once

#include <functional>
#include <vector>

namespace xelo {

enum class TListNotification { lnAdded, lnExtracted, lnDeleted };
inline constexpr TListNotification lnAdded = TListNotification::lnAdded;
inline constexpr TListNotification lnExtracted = TListNotification::lnExtracted;
inline constexpr TListNotification lnDeleted = TListNotification::lnDeleted;

// Returns < 0 when a sorts before b, 0 when equal, > 0 after.
using TListSortCompare = std::function<int(void* a, void* b)>;

class TList {
 public:
  TList() = default;
  virtual ~TList() = default;
  TList(const TList&) = delete;
  TList& operator=(const TList&) = delete;

  // Appends and returns the new entry's index.
  int Add(void* item);
  // Inserts before `index`; `index` == Count appends.
  void Insert(int index, void* item);
  void Delete(int index);
  // Deletes the first entry equal to `item`; returns its former index or -1.
  int Remove(void* item);
  // Removes the first entry equal to `item` without "deleting" it (Notify
  // reports lnExtracted); returns the item, or null when it is not listed.
  void* Extract(void* item);
  int IndexOf(void* item) const;
  void Clear();

  int GetCount() const { return static_cast<int>(items_.size()); }
  int Count() const { return GetCount(); }
  // Growing appends null entries; shrinking deletes from the end.
  void SetCount(int count);
  int GetCapacity() const { return static_cast<int>(items_.capacity()); }
  void SetCapacity(int capacity);

  void* Get(int index) const;
  void Put(int index, void* item);
  void* Items(int index) const { return Get(index); }
  void* operator[](int index) const { return Get(index); }

  void Exchange(int index1, int index2);
  // Moves the entry at `curIndex` so that it ends up at `newIndex`.
  void Move(int curIndex, int newIndex);
  void* First() const;
  void* Last() const;
  // Removes all null entries.
  void Pack();
  // Stable sort by `compare`.
  void Sort(const TListSortCompare& compare);
  // Makes this list a copy of `source`.
  void Assign(const TList& source);

  std::vector<void*>::const_iterator begin() const { return items_.begin(); }
  std::vector<void*>::const_iterator end() const { return items_.end(); }

 protected:
  virtual void Notify(void* item, TListNotification action);
  [[noreturn]] static void Error(const char* format, int value);

 private:
  void CheckIndex(int index) const;
  std::vector<void*> items_;
};

}  // namespace xelo
