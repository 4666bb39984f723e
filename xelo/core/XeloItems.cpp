#include "xelo/core/XeloItems.h"

#include "xelo/com/TaskPtr.h"
#include "xelo/com/WideText.h"
#include "xelo/core/ItemCodes.h"
#include "xelo/core/XeloErrors.h"
#include "xelo/core/XeloGroup.h"
#include "xelo/core/XeloItemList.h"
#include "xelo/core/XeloServer.h"
#include "xelo/core/XeloStrings.h"
#include "xelo/framework/SysUtils.h"

#include <exception>
#include <string_view>
#include <vector>

namespace xelo {

namespace {

// The OPCITEMDEF array of a list with the wide strings it points to, all
// in one buffer: a batch of 100,000 items costs two allocations, not
// 200,000.
class ItemDefinitions {
 public:
  explicit ItemDefinitions(const TXeloItemList& list) {
    const int count = list.GetCount();
    defs_.resize(static_cast<std::size_t>(count));
    std::vector<std::size_t> offsets;
    offsets.reserve(static_cast<std::size_t>(count) * 2);
    std::size_t units = 0;
    for (const TXeloItem* item : list.Entries()) units += item->GetAccessPath().size() + item->GetItemID().size() + 2;
    text_.reserve(units);  // UTF-8 never takes fewer units than UTF-16
    std::size_t i = 0;
    for (const TXeloItem* entry : list.Entries()) {
      const TXeloItem& item = *entry;
      offsets.push_back(Append(item.GetAccessPath()));
      offsets.push_back(Append(item.GetItemID()));
      OPCITEMDEF& def = defs_[i++];
      def.bActive = item.GetIsActive() ? -1 : 0;  // TRUE goes out as all bits set
      def.hClient = item.GetClientHandle();
      def.dwBlobSize = 0;
      def.pBlob = nullptr;
      def.vtRequestedDataType = item.GetRequestDatatype();
      def.wReserved = 0;
    }
    // The buffer no longer grows: the pointers stay valid.
    for (std::size_t i = 0; i < defs_.size(); ++i) {
      defs_[i].szAccessPath = text_.data() + offsets[2 * i];
      defs_[i].szItemID = text_.data() + offsets[2 * i + 1];
    }
  }
  OPCITEMDEF* Data() { return defs_.data(); }

 private:
  std::size_t Append(const std::string& value) {
    const std::size_t offset = text_.size();
    com::AppendUtf16(text_, value);
    text_.push_back(OLESTR('\0'));
    return offset;
  }
  com::OleString text_;
  std::vector<OPCITEMDEF> defs_;
};

// The OPCITEMRESULT array of an add or validate, freed with its blobs.
class ItemResults {
 public:
  explicit ItemResults(std::size_t count) : count_(count) {}
  ~ItemResults() {
    for (std::size_t i = 0; results_ && i < count_; ++i) ::CoTaskMemFree(results_[i].pBlob);
  }
  ItemResults(const ItemResults&) = delete;
  ItemResults& operator=(const ItemResults&) = delete;
  OPCITEMRESULT** Put() { return results_.Put(); }
  const OPCITEMRESULT* Get() const { return results_.Get(); }

 private:
  std::size_t count_;
  com::TaskPtr<OPCITEMRESULT> results_;
};

std::vector<OPCHANDLE> ServerHandles(const TXeloItemList& list) {
  std::vector<OPCHANDLE> handles;
  handles.reserve(static_cast<std::size_t>(list.GetCount()));
  for (const TXeloItem* item : list.Entries()) handles.push_back(item->GetServerHandle());
  return handles;
}

}  // namespace

// ---- collection -----------------------------------------------------------------------

TXeloItems::TXeloItems(TXeloGroup* group) : TCollection(group, TXeloItem::StaticClass()), group_(group) {}

TXeloItems::~TXeloItems() = default;

TClass TXeloItems::StaticClass() {
  static const TMetaClass meta = TClassBuilder<TXeloItems>("TXeloItems").Build();
  return &meta;
}

void TXeloItems::SetItem(int index, TXeloItem* item) { GetItem(index)->Assign(item); }

TXeloItem* TXeloItems::AddItem(const std::string& ItemID) {
  auto* item = static_cast<TXeloItem*>(Add());
  item->SetItemID(ItemID);
  item->OPCCommand(TXeloItem::cmdAdd);
  return item;
}

TXeloItem* TXeloItems::GetOPCItem(OPCHANDLE Handle) const {
  for (int i = 0; i < GetCount(); ++i) {
    if (GetItem(i)->GetServerHandle() == Handle) return GetItem(i);
  }
  return nullptr;
}

TXeloItem* TXeloItems::LocateOPCItem(const std::string& ItemID) const {
  for (int i = 0; i < GetCount(); ++i) {
    if (GetItem(i)->GetItemID() == ItemID) return GetItem(i);
  }
  return nullptr;
}

void TXeloItems::RemoveAll() {
  OPCRemoveAllItems();
  Clear();
}

// ---- batch operations --------------------------------------------------------------------

bool TXeloItems::Designing() const {
  const TXeloServer* server = group_ != nullptr ? group_->GetServer() : nullptr;
  return server != nullptr && server->GetComponentState().Contains(csDesigning);
}

IOPCItemMgt* TXeloItems::PrepareBatch(const TXeloItemList* list, Placement required, bool skipInDesigner) const {
  if (skipInDesigner && Designing()) return nullptr;
  if (list == nullptr || list->GetCount() == 0) return nullptr;
  for (const TXeloItem* entry : list->Entries()) {
    const TXeloItem& item = *entry;
    if (required == Placement::OffServer && item.IsOnServer()) {
      throw EOPCException(Format(_STR_HASSERVERHANDLE, item.GetItemID()));
    }
    if (required == Placement::OnServer && !item.IsOnServer()) {
      throw EOPCException(Format(_STR_NOSERVERHANDLE, item.GetItemID()));
    }
  }
  return group_ != nullptr ? group_->GetItemMgt() : nullptr;
}

bool TXeloItems::OPCAddItems(TXeloItemList* List, bool DoAdd) {
  IOPCItemMgt* itemMgt = PrepareBatch(List, Placement::OffServer, DoAdd);
  if (itemMgt == nullptr) return false;
  const auto count = static_cast<DWORD>(List->GetCount());
  ItemDefinitions defs(*List);
  ItemResults results(count);
  com::TaskPtr<HRESULT> errors;
  const HRESULT hr = DoAdd ? itemMgt->AddItems(count, defs.Data(), results.Put(), errors.Put())
                           : itemMgt->ValidateItems(count, defs.Data(), FALSE, results.Put(), errors.Put());
  group_->CheckResult(hr);
  // Without its result array a server has told nothing about the items:
  // every entry counts as failed rather than as added without a handle.
  const OPCITEMRESULT* result = results.Get();
  const HRESULT missing = result == nullptr ? E_FAIL : hr;
  return detail::ApplyItemCodes(*List, result != nullptr ? errors.Get() : nullptr, missing, [&](TXeloItem& item, std::size_t i) {
    if (DoAdd) item.StoreServerHandle(result[i].hServer);
    item.StoreItemAttributes(result[i].vtCanonicalDataType, result[i].dwAccessRights);
  });
}

bool TXeloItems::OPCValidateItems(TXeloItemList* List) { return OPCAddItems(List, false); }

bool TXeloItems::OPCRemoveItems(TXeloItemList* List) {
  IOPCItemMgt* itemMgt = PrepareBatch(List, Placement::OnServer, true);
  if (itemMgt == nullptr) return false;
  std::vector<OPCHANDLE> handles = ServerHandles(*List);
  com::TaskPtr<HRESULT> errors;
  const HRESULT hr = itemMgt->RemoveItems(static_cast<DWORD>(handles.size()), handles.data(), errors.Put());
  // Off the server whatever it answered: a handle the server refuses is
  // one it does not know (any more).
  for (int i = 0; i < List->GetCount(); ++i) List->GetItem(i)->StoreServerHandle(kNoServerHandle);
  return detail::ApplyItemCodes(*List, errors.Get(), hr, [](TXeloItem&, std::size_t) {});
}

bool TXeloItems::OPCActiveItems(TXeloItemList* List, bool Active) {
  IOPCItemMgt* itemMgt = PrepareBatch(List, Placement::OnServer, true);
  if (itemMgt == nullptr) return false;
  std::vector<OPCHANDLE> handles = ServerHandles(*List);
  com::TaskPtr<HRESULT> errors;
  const HRESULT hr =
      itemMgt->SetActiveState(static_cast<DWORD>(handles.size()), handles.data(), Active ? -1 : 0, errors.Put());
  group_->CheckResult(hr);
  return detail::ApplyItemCodes(*List, errors.Get(), hr, [Active](TXeloItem& item, std::size_t) { item.StoreIsActive(Active); });
}

bool TXeloItems::OPCSetDataTypes(TXeloItemList* List) {
  IOPCItemMgt* itemMgt = PrepareBatch(List, Placement::OnServer, true);
  if (itemMgt == nullptr) return false;
  std::vector<OPCHANDLE> handles = ServerHandles(*List);
  std::vector<VARTYPE> types;
  types.reserve(handles.size());
  for (int i = 0; i < List->GetCount(); ++i) types.push_back(List->GetItem(i)->GetRequestDatatype());
  com::TaskPtr<HRESULT> errors;
  const HRESULT hr =
      itemMgt->SetDatatypes(static_cast<DWORD>(handles.size()), handles.data(), types.data(), errors.Put());
  group_->CheckResult(hr);
  return detail::ApplyItemCodes(*List, errors.Get(), hr, [](TXeloItem&, std::size_t) {});
}

void TXeloItems::OPCAddAllItems() {
  TXeloItemList list;
  for (int i = 0; i < GetCount(); ++i) {
    if (!GetItem(i)->IsOnServer()) list.Add(GetItem(i));
  }
  std::exception_ptr failure;
  try {
    if (Designing()) {
      OPCValidateItems(&list);
    } else {
      OPCAddItems(&list, true);
    }
  } catch (...) {
    failure = std::current_exception();
  }
  list.CheckOPCErrors(_STR_ADDITEMSERROR, false);
  if (failure) std::rethrow_exception(failure);
}

void TXeloItems::AbandonAllItems() {
  for (int i = 0; i < GetCount(); ++i) GetItem(i)->StoreServerHandle(kNoServerHandle);
}

void TXeloItems::OPCRemoveAllItems() {
  TXeloItemList list;
  for (int i = 0; i < GetCount(); ++i) {
    if (GetItem(i)->IsOnServer()) list.Add(GetItem(i));
  }
  OPCRemoveItems(&list);
}

}  // namespace xelo
