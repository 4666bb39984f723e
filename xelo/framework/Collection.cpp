#include "xelo/framework/Collection.h"

#include "xelo/framework/Exceptions.h"

#include <algorithm>
#include <iterator>

namespace xelo {

namespace {

[[noreturn]] void IndexError(int index) {
  throw EListError("List index out of bounds (" + std::to_string(index) + ")");
}

// Ends an update on every way out of a scope.
class UpdateScope {
 public:
  explicit UpdateScope(TCollection& c) : c_(c) { c_.BeginUpdate(); }
  ~UpdateScope() { c_.EndUpdate(); }
  UpdateScope(const UpdateScope&) = delete;
  UpdateScope& operator=(const UpdateScope&) = delete;

 private:
  TCollection& c_;
};

}  // namespace

// --- TCollectionItem -----------------------------------------------------------

TClass TCollectionItem::StaticClass() {
  static const TMetaClass meta = TClassBuilder<TCollectionItem>("TCollectionItem").Build();
  return &meta;
}

TCollectionItem::TCollectionItem(TCollection* collection) {
  // No class check here: during this constructor the object is only a
  // TCollectionItem; the C++ type and the factories make the fit certain.
  if (collection != nullptr) collection->InsertItem(*this);
}

TCollectionItem::~TCollectionItem() {
  if (collection_ != nullptr) collection_->RemoveItem(*this);
}

void TCollectionItem::SetCollection(TCollection* value) {
  if (value == collection_) return;
  if (value != nullptr && !InheritsFrom(value->ItemClass())) {
    throw EInvalidOperation("A " + ClassName() + " cannot be an item of a collection of " +
                            value->ItemClass()->ClassName());
  }
  if (collection_ != nullptr) collection_->RemoveItem(*this);
  if (value != nullptr) value->InsertItem(*this);
}

int TCollectionItem::GetIndex() const {
  if (collection_ == nullptr) return -1;
  const auto& items = collection_->items_;
  return static_cast<int>(std::find(items.begin(), items.end(), this) - items.begin());
}

void TCollectionItem::SetIndex(int value) {
  if (collection_ == nullptr) return;
  auto& items = collection_->items_;
  if (value < 0 || value >= static_cast<int>(items.size())) IndexError(value);
  const int current = GetIndex();
  if (current == value) return;
  items.erase(items.begin() + current);
  items.insert(items.begin() + value, this);
  Changed(true);
}

std::string TCollectionItem::GetDisplayName() const { return ClassName(); }

std::string TCollectionItem::GetNamePath() const {
  if (collection_ == nullptr) return ClassName();
  return collection_->GetNamePath() + "[" + std::to_string(GetIndex()) + "]";
}

TPersistent* TCollectionItem::GetOwner() const { return collection_; }

void TCollectionItem::Changed(bool allItems) {
  if (collection_ != nullptr) collection_->ItemChanged(allItems ? nullptr : this);
}

// --- TCollection -----------------------------------------------------------------

TClass TCollection::StaticClass() {
  static const TMetaClass meta = TClassBuilder<TCollection>("TCollection").Build();
  return &meta;
}

TCollection::TCollection(TPersistent* owner, TClass itemClass) : owner_(owner), itemClass_(itemClass) {
  if (itemClass == nullptr || !itemClass->InheritsFrom(TCollectionItem::StaticClass())) {
    throw EInvalidOperation("A collection needs a collection item class");
  }
}

TCollection::~TCollection() {
  destroying_ = true;
  while (!items_.empty()) delete items_.back();  // each item leaves items_ in its destructor
}

TCollectionItem* TCollection::Add() {
  // The insertion is reported when the item is complete, not from inside
  // its base constructor.
  UpdateScope scope(*this);
  return itemClass_->CreateItem(*this);
}

TCollectionItem* TCollection::Insert(int index) {
  if (index < 0 || index > GetCount()) IndexError(index);
  UpdateScope scope(*this);
  TCollectionItem* item = Add();
  item->SetIndex(index);
  return item;
}

void TCollection::Delete(int index) { delete GetItem(index); }

void TCollection::Clear() {
  if (items_.empty()) return;
  UpdateScope scope(*this);
  while (!items_.empty()) delete items_.back();
}

TCollectionItem* TCollection::GetItem(int index) const {
  if (index < 0 || index >= GetCount()) IndexError(index);
  return items_[static_cast<std::size_t>(index)];
}

TCollectionItem* TCollection::FindItemID(int id) const {
  for (TCollectionItem* item : items_) {
    if (item->id_ == id) return item;
  }
  return nullptr;
}

void TCollection::BeginUpdate() { ++updateCount_; }

void TCollection::EndUpdate() {
  if (updateCount_ == 0) return;
  if (--updateCount_ == 0 && changePending_) {
    changePending_ = false;
    Update(nullptr);
  }
}

void TCollection::Assign(const TPersistent* source) {
  const auto* other = dynamic_cast<const TCollection*>(source);
  if (other == nullptr) {
    TPersistent::Assign(source);
    return;
  }
  if (other == this) return;
  UpdateScope scope(*this);
  Clear();
  for (const TCollectionItem* item : other->items_) Add()->Assign(item);
}

std::string TCollection::GetNamePath() const {
  if (owner_ == nullptr) return ClassName();
  const std::string ownerPath = owner_->GetNamePath();
  const std::string prop = GetPropName();
  if (ownerPath.empty() || prop.empty()) return ClassName();
  return ownerPath + "." + prop;
}

std::string TCollection::GetPropName() const {
  if (owner_ == nullptr) return {};
  for (const TPropInfo* p : GetPropList(*owner_)) {
    if (p->Kind() == tkClass && p->Access().getObj(*owner_) == this) return p->Name();
  }
  return {};
}

void TCollection::Update(TCollectionItem* /*item*/) {}

void TCollection::Changed() { ItemChanged(nullptr); }

void TCollection::InsertItem(TCollectionItem& item) {
  items_.push_back(&item);
  item.collection_ = this;
  item.id_ = nextId_++;
  ItemChanged(nullptr);
}

void TCollection::RemoveItem(TCollectionItem& item) {
  // Searched from the end: clearing and destruction delete the last item
  // first, which makes emptying a large collection linear, not quadratic.
  const auto last = std::find(items_.rbegin(), items_.rend(), &item);
  if (last == items_.rend()) return;
  items_.erase(std::next(last).base());
  item.collection_ = nullptr;
  ItemChanged(nullptr);
}

void TCollection::ItemChanged(TCollectionItem* item) {
  if (destroying_) return;
  if (updateCount_ > 0) {
    changePending_ = true;
    return;
  }
  Update(item);
}

}  // namespace xelo
