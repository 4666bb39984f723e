#include "xelo/core/XeloItem.h"

#include "xelo/core/XeloErrors.h"
#include "xelo/core/XeloGroup.h"
#include "xelo/core/XeloItemList.h"
#include "xelo/core/XeloItems.h"
#include "xelo/core/XeloServer.h"
#include "xelo/core/XeloStrings.h"
#include "xelo/framework/SysUtils.h"

#include <cstdint>
#include <deque>
#include <vector>

namespace xelo {

namespace {

// The client handles of the live items: a dense table, so that the data
// path turns a handle back into its item with one index and one compare.
//
// A handle holds a slot number (low 24 bits, from 1) and the slot's
// generation (high 8 bits), which moves on each time the slot is given to
// a new item: a stale handle from a late server callback then finds
// nothing rather than the slot's next item. Freed slots are reused oldest
// first and only once enough of them wait, so such a mix-up would need
// hundreds of thousands of items made and destroyed while one callback is
// late. A handle is never 0 nor kNoServerHandle.
class ClientHandleTable {
 public:
  OPCHANDLE Register(TXeloItem* item) {
    std::uint32_t slot = 0;
    const bool full = slots_.size() > kMaxSlot;
    if (free_.size() > kReuseAfter || (full && !free_.empty())) {
      slot = free_.front();
      free_.pop_front();
    } else {
      if (full) throw EOPCException("too many OPC items in this process");
      slot = static_cast<std::uint32_t>(slots_.size());
      slots_.push_back(Slot{});
    }
    Slot& entry = slots_[slot];
    entry.item = item;
    return entry.generation << kSlotBits | slot;
  }
  void Unregister(OPCHANDLE handle) {
    const std::uint32_t slot = handle & kSlotMask;
    if (Find(handle) == nullptr) return;
    slots_[slot].item = nullptr;
    slots_[slot].generation = (slots_[slot].generation + 1) & kGenerationMask;
    free_.push_back(slot);
  }
  TXeloItem* Find(OPCHANDLE handle) const {
    const std::uint32_t slot = handle & kSlotMask;
    if (slot >= slots_.size()) return nullptr;
    const Slot& entry = slots_[slot];
    return entry.generation == handle >> kSlotBits ? entry.item : nullptr;
  }

 private:
  static constexpr unsigned kSlotBits = 24;
  static constexpr std::uint32_t kSlotMask = (1u << kSlotBits) - 1;
  static constexpr std::uint32_t kGenerationMask = 0xFF;
  // The last slot would make generation 255 of it kNoServerHandle.
  static constexpr std::size_t kMaxSlot = kSlotMask - 1;
  static constexpr std::size_t kReuseAfter = 1024;
  struct Slot {
    TXeloItem* item = nullptr;
    std::uint32_t generation = 0;
  };

  // Slot 0 is never given out, so that no handle is 0.
  std::vector<Slot> slots_{Slot{}};
  std::deque<std::uint32_t> free_;
};

ClientHandleTable& Handles() {
  static ClientHandleTable table;
  return table;
}

TXeloGroup* OwningGroup(TCollection* collection) {
  return collection != nullptr ? dynamic_cast<TXeloGroup*>(collection->GetOwner()) : nullptr;
}

}  // namespace

TXeloItem* FindItemByClientHandle(OPCHANDLE handle) { return Handles().Find(handle); }

// ---- TxDefaultItem -------------------------------------------------------------

TClass TxDefaultItem::StaticClass() {
  using T = TxDefaultItem;
  static const TMetaClass meta = TClassBuilder<T>("TxDefaultItem")
                                     .Boolean("IsActive", &T::GetIsActive, &T::SetIsActive, Default(true))
                                     .String("AccessPath", &T::GetAccessPath, &T::SetAccessPath)
                                     .Enum("RequestDataType", &T::GetRequestDataType, &T::SetRequestDataType,
                                           OPCADatatypeInfo())
                                     .Build();
  return &meta;
}

void TxDefaultItem::Assign(const TPersistent* source) {
  const auto* other = dynamic_cast<const TxDefaultItem*>(source);
  if (other == nullptr) return TPersistent::Assign(source);
  isActive_ = other->isActive_;
  accessPath_ = other->accessPath_;
  requestDataType_ = other->requestDataType_;
}

// ---- TXeloItem: construction -----------------------------------------------------

TXeloItem::TXeloItem(TCollection* collection) : TCollectionItem(collection), group_(OwningGroup(collection)) {
  if (group_ != nullptr) {
    const TxDefaultItem& defaults = *group_->GetDefaultItem();
    isActive_ = defaults.GetIsActive();
    requestDatatype_ = defaults.GetRequestDataType();
    accessPath_ = defaults.GetAccessPath();
  }
  clientHandle_ = Handles().Register(this);
}

TXeloItem::~TXeloItem() {
  // An error left over from an earlier operation must not be reported by
  // the removal below as if it were the removal's.
  lastError_ = 0;
  if (guiList_) {
    // From a copy: a binding leaves the list when told.
    std::vector<void*> bindings;
    for (int i = 0; i < guiList_->GetCount(); ++i) bindings.push_back(guiList_->Get(i));
    for (void* binding : bindings) static_cast<TXeloItemBinding*>(binding)->XeloItemDestroyed(this);
    guiList_.reset();
  }
  try {
    OPCCommand(cmdRemove);
  } catch (...) {
    // The item goes away whatever the server answered; the server forgets
    // it with the group at the latest.
  }
  Handles().Unregister(clientHandle_);
}

TClass TXeloItem::StaticClass() {
  using T = TXeloItem;
  static const TMetaClass meta =
      TClassBuilder<T>("TXeloItem")
          .String("ItemID", &T::GetItemID, &T::SetItemID)
          .String("AccessPath", &T::GetAccessPath, &T::SetAccessPath)
          .Boolean("IsActive", &T::GetIsActive, &T::SetIsActive)
          .Enum("RequestDatatype", &T::GetRequestDatatype, &T::SetRequestDatatype, OPCADatatypeInfo())
          .Variant("Value", &T::GetValue)
          .Integer("Quality", &T::GetQuality)
          .Float("TimeStamp", &T::GetTimeStamp, FloatType::Double)
          .Integer("CanonicalDatatype", &T::GetCanonicalDatatype)
          .Integer("EUType", &T::GetEUType)
          .Variant("EUInfo", &T::GetEUInfo)
          .Build();
  return &meta;
}

namespace {
const bool registered = [] {
  RegisterClasses({TxDefaultItem::StaticClass(), TXeloItem::StaticClass()});
  return true;
}();
}  // namespace

// ---- configuration ------------------------------------------------------------------

bool TXeloItem::Designing() const {
  const TXeloServer* server = group_ != nullptr ? group_->GetServer() : nullptr;
  return server != nullptr && server->GetComponentState().Contains(csDesigning);
}

void TXeloItem::SetItemID(const std::string& value) {
  if (IsOnServer()) throw EOPCException(_STR_NOTPOSSIBLE);
  itemID_ = value;
  if (Designing()) OPCCommand(cmdValidate);
}

void TXeloItem::SetAccessPath(const std::string& value) {
  if (IsOnServer()) throw EOPCException(_STR_NOTPOSSIBLE);
  accessPath_ = value;
  if (Designing()) OPCCommand(cmdValidate);
}

void TXeloItem::SetIsActive(bool value) {
  if (value == isActive_) return;
  isActive_ = value;
  if (!Designing()) OPCCommand(cmdSetActive, value);
}

void TXeloItem::SetRequestDatatype(OPCADatatype value) {
  if (value == requestDatatype_) return;
  requestDatatype_ = value;
  if (!Designing()) OPCCommand(cmdSetDataType);
}

// ---- operations ---------------------------------------------------------------------

void TXeloItem::OPCCommand(int Command, bool Flag) {
  TXeloServer* server = group_ != nullptr ? group_->GetServer() : nullptr;
  // Nothing goes to a server that is being loaded either: its Active may
  // already read true while the connection is only made once loading ends.
  // (Checked before the cast: loading a configuration sets every item's
  // settings through here.)
  if (server == nullptr || server->GetBatchMode() || !server->GetActive() ||
      server->GetComponentState().Contains(csLoading)) {
    return;
  }
  auto* items = dynamic_cast<TXeloItems*>(GetCollection());
  if (items == nullptr) return;
  TXeloItemList list(this);
  switch (Command) {
    case cmdRemove:
      if (IsOnServer()) items->OPCRemoveItems(&list);
      break;
    case cmdAdd:
      items->OPCAddItems(&list, true);
      break;
    case cmdSetActive:
      items->OPCActiveItems(&list, Flag);
      break;
    case cmdValidate:
      items->OPCValidateItems(&list);
      break;
    case cmdSetDataType:
      items->OPCSetDataTypes(&list);
      break;
    default:
      break;
  }
  // Only reached when the operation did not raise. A batch operation that
  // raises has changed no item, so the item's LastError would be the one of
  // an earlier operation: reporting it instead of the actual exception
  // (say "item ... not exists on OPCServer" after a refused add) would
  // blame this command for an old failure.
  list.CheckOPCErrors(kTextOPCCommand, true);
}

const Variant& TXeloItem::GetEUInfo() const {
  static const Variant empty;
  return empty;
}

TList& TXeloItem::GUIList() {
  if (!guiList_) guiList_ = std::make_unique<TList>();
  return *guiList_;
}

std::string TXeloItem::GetDisplayName() const {
  if (!Trim(itemID_).empty()) return itemID_;
  return TCollectionItem::GetDisplayName();
}

std::string TXeloItem::GetLastErrorStr() const { return ItemErrorText(lastError_); }

std::string TXeloItem::ValueStr() const { return VarToAStr(value_); }

void TXeloItem::StoreTimeStamp(const FILETIME& stamp) {
  StoreTimeStamp(FileTimeToDateTime(stamp), FileTimeToDateTimeUTC(stamp));
}

bool TXeloItem::IsGoodQuality() const { return (quality_ & OPC_QUALITY_GOOD) == OPC_QUALITY_GOOD; }

void TXeloItem::WriteSync(const Variant& Value) { Write(Value, false); }

void TXeloItem::WriteAsync(const Variant& Value) { Write(Value, true); }

void TXeloItem::Write(const Variant& Value, bool async) {
  writeValue_ = Value;
  if (group_ == nullptr) return;
  TXeloItemList list(this);
  const bool written = async ? group_->AsyncWrite(&list) : group_->SyncWrite(&list);
  if (!written) list.CheckOPCErrors(_STR_WRITERROR, true);
}

}  // namespace xelo
