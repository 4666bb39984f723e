// IEnumOPCItemAttributes over a snapshot of a group's items, taken when
// the enumerator is made (later changes of the group do not show). Unlike
// the standard enumerators, Next allocates the array it returns and every
// string, blob and EU info in it; the caller frees them all. Clones share
// the snapshot and copy the position. Main thread only.
#pragma once

#include "servers/simulation/GroupItem.h"
#include "xelo/com/ComObject.h"
#include "xelo/opc/OpcDa.h"

#include <memory>
#include <vector>

namespace xelo::sim {

class ItemAttributesEnumerator final : public xelo::com::ComObject<IEnumOPCItemAttributes> {
 public:
  using Snapshot = std::shared_ptr<const std::vector<GroupItem>>;
  explicit ItemAttributesEnumerator(Snapshot items, std::size_t position = 0);

  // S_OK when celt items came back, S_FALSE when fewer; *ppItemArray is
  // null when none came back. E_INVALIDARG for null out-parameters.
  STDMETHOD(Next)(ULONG celt, OPCITEMATTRIBUTES** ppItemArray, ULONG* pceltFetched) override;
  STDMETHOD(Skip)(ULONG celt) override;
  STDMETHOD(Reset)() override;
  STDMETHOD(Clone)(IEnumOPCItemAttributes** ppEnumItemAttributes) override;

 private:
  Snapshot items_;
  std::size_t position_;
};

}  // namespace xelo::sim
