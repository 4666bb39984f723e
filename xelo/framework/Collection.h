// TCollection and TCollectionItem: an ordered list of items of one class,
// owned by a persistent object and streamed as one property of it.
//
// Ownership: a collection owns its items and destroys them with itself. An
// item constructed with a collection (`explicit TFoo(TCollection*)`, which is
// also how Add() and the stream create items) belongs to that collection; an
// item may be deleted directly and then leaves its collection. The
// collection itself is owned by whoever created it (usually its owner, as a
// member or a std::unique_ptr).
//
// IDs: each item receives an ID from its collection when it joins it,
// numbered from 0 upward and never reused within that collection; moves and
// deletes of other items do not change it. An item moved into another
// collection receives that collection's next ID.
//
// Updates: after each change the collection calls the virtual Update(item)
// with the changed item, or with null when the set of items or several
// items changed (adding, deleting, moving). Between BeginUpdate and the
// matching EndUpdate nothing is reported; EndUpdate then calls Update(null)
// once if anything changed. Items report their own changes with Changed().
// An item built with `new TFoo(collection)` reports its insertion from its
// base constructor, before its own constructor has run; Add() holds the
// report back until the item is complete.
//
// Errors: a bad index raises EListError "List index out of bounds (N)"; an
// item class that cannot be created or does not fit raises EInvalidOperation.
// Thread: the main thread.
#pragma once

#include "xelo/framework/Persistent.h"
#include "xelo/framework/TypInfo.h"

#include <string>
#include <vector>

namespace xelo {

class TCollection;

class TCollectionItem : public TPersistent {
  XELO_CLASS(TCollectionItem, TPersistent)

 public:
  explicit TCollectionItem(TCollection* collection);
  ~TCollectionItem() override;

  TCollection* GetCollection() const { return collection_; }
  // Moves the item to the end of `value` (or out of any collection, which
  // hands it to the caller). EInvalidOperation when the item's class does
  // not fit `value`.
  virtual void SetCollection(TCollection* value);
  // Position in the collection; -1 without one.
  int GetIndex() const;
  // Moves the item to `value`. EListError for a bad position.
  virtual void SetIndex(int value);
  int GetID() const { return id_; }
  // The text a design tool shows for the item; by default the class name.
  virtual std::string GetDisplayName() const;
  // "<collection path>[<index>]", or the class name without a collection.
  std::string GetNamePath() const override;
  // The collection.
  TPersistent* GetOwner() const override;

 protected:
  // Reports a change of this item (Update(this)) or, with allItems, of the
  // whole collection (Update(null)).
  void Changed(bool allItems);

 private:
  friend class TCollection;
  TCollection* collection_ = nullptr;
  int id_ = 0;
};

class TCollection : public TPersistent {
  XELO_CLASS(TCollection, TPersistent)

 public:
  // `itemClass` must be TCollectionItem or a class derived from it.
  TCollection(TPersistent* owner, TClass itemClass);
  ~TCollection() override;

  TPersistent* GetOwner() const override { return owner_; }
  TClass ItemClass() const { return itemClass_; }

  // A new item of the item class at the end.
  TCollectionItem* Add();
  // A new item at `index` (0..Count).
  TCollectionItem* Insert(int index);
  // Destroys the item at `index`.
  void Delete(int index);
  // Destroys all items.
  void Clear();
  int GetCount() const { return static_cast<int>(items_.size()); }
  TCollectionItem* GetItem(int index) const;
  // The item with that ID, or null.
  TCollectionItem* FindItemID(int id) const;

  void BeginUpdate();
  void EndUpdate();
  int UpdateCount() const { return updateCount_; }

  // From another collection: clears this one and adds a copy of each item
  // made by the new item's Assign (whose default raises EConvertError).
  void Assign(const TPersistent* source) override;
  // "<owner path>.<property name>", or the class name when the owner or the
  // property publishing this collection is unknown.
  std::string GetNamePath() const override;

 protected:
  // The change hook (see the file comment). The default does nothing.
  virtual void Update(TCollectionItem* item);
  // Reports a change of the whole collection.
  void Changed();
  // The name of the owner's published property that holds this collection,
  // or an empty text.
  std::string GetPropName() const;

 private:
  friend class TCollectionItem;
  void InsertItem(TCollectionItem& item);
  void RemoveItem(TCollectionItem& item);
  void ItemChanged(TCollectionItem* item);

  TPersistent* owner_;
  TClass itemClass_;
  std::vector<TCollectionItem*> items_;
  int nextId_ = 0;
  int updateCount_ = 0;
  bool changePending_ = false;
  bool destroying_ = false;
};

}  // namespace xelo
