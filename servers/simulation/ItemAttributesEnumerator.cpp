#include "servers/simulation/ItemAttributesEnumerator.h"

#include "servers/simulation/ComGuard.h"
#include "servers/simulation/OwnedVariant.h"
#include "servers/simulation/TaskArray.h"

#include <algorithm>

namespace xelo::sim {

ItemAttributesEnumerator::ItemAttributesEnumerator(Snapshot items, std::size_t position)
    : items_(std::move(items)), position_(std::min(position, items_->size())) {}

HRESULT ItemAttributesEnumerator::Next(ULONG celt, OPCITEMATTRIBUTES** ppItemArray, ULONG* pceltFetched) {
  return Guarded([&]() -> HRESULT {
    OwnershipLedger::Instance().Calling("IEnumOPCItemAttributes::Next");
    if (ppItemArray != nullptr) *ppItemArray = nullptr;
    if (pceltFetched != nullptr) *pceltFetched = 0;
    if (ppItemArray == nullptr || pceltFetched == nullptr) return E_INVALIDARG;
    const std::size_t count = std::min<std::size_t>(celt, items_->size() - position_);
    TaskArray<OPCITEMATTRIBUTES> out(count);
    for (std::size_t i = 0; i < count; ++i) {
      const GroupItem& item = (*items_)[position_ + i];
      const ItemDefinition& def = item.item->def;
      OPCITEMATTRIBUTES& a = out[i];
      a.szAccessPath = TaskString(item.accessPath);
      a.szItemID = TaskString(def.id);
      a.bActive = item.active ? TRUE : FALSE;
      a.hClient = item.clientHandle;
      a.hServer = item.serverHandle;
      a.dwAccessRights = def.access;
      a.vtRequestedDataType = item.requestedType;
      a.vtCanonicalDataType = def.type;
      if (def.analog) {
        a.dwEUType = OPC_ANALOG;
        if (FAILED(OwnedVariant::R8Array({def.lowEU, def.highEU}).CopyTo(&a.vEUInfo))) throw std::bad_alloc();
      } else {
        a.dwEUType = OPC_NOENUM;
      }
    }
    position_ += count;
    *pceltFetched = static_cast<ULONG>(count);
    // Nothing fetched, nothing to free: the array stays null.
    if (count > 0) *ppItemArray = out.Release("ppItemArray");
    return count == celt ? S_OK : S_FALSE;
  });
}

HRESULT ItemAttributesEnumerator::Skip(ULONG celt) {
  const std::size_t count = std::min<std::size_t>(celt, items_->size() - position_);
  position_ += count;
  return count == celt ? S_OK : S_FALSE;
}

HRESULT ItemAttributesEnumerator::Reset() {
  position_ = 0;
  return S_OK;
}

HRESULT ItemAttributesEnumerator::Clone(IEnumOPCItemAttributes** ppEnumItemAttributes) {
  return Guarded([&]() -> HRESULT {
    if (ppEnumItemAttributes == nullptr) return E_INVALIDARG;
    *ppEnumItemAttributes = xelo::com::MakeComObject<ItemAttributesEnumerator>(items_, position_).Detach();
    return S_OK;
  });
}

}  // namespace xelo::sim
