#include "servers/simulation/AddressSpaceBrowser.h"

#include "servers/simulation/BrowseFilter.h"
#include "servers/simulation/TypeConversion.h"
#include "xelo/opc/OpcError.h"

namespace xelo::sim {
namespace {

std::u16string Join(std::u16string_view branch, std::u16string_view name) {
  std::u16string id(branch);
  if (!id.empty()) id += u'.';
  id += name;
  return id;
}

}  // namespace

HRESULT AddressSpaceBrowser::ChangePosition(OPCBROWSEDIRECTION direction, std::u16string_view name) {
  switch (direction) {
    case OPC_BROWSE_UP: {
      if (position_.empty()) return E_FAIL;
      const std::size_t dot = position_.rfind(u'.');
      position_ = dot == std::u16string::npos ? std::u16string() : position_.substr(0, dot);
      return S_OK;
    }
    case OPC_BROWSE_DOWN: {
      if (flat_ || name.empty()) return E_INVALIDARG;
      std::u16string child = Join(position_, name);
      if (!space_.BranchExists(child)) return E_INVALIDARG;
      position_ = std::move(child);
      return S_OK;
    }
    case OPC_BROWSE_TO:
      if (name.empty()) {
        position_.clear();
        return S_OK;
      }
      if (flat_ || !space_.BranchExists(name)) return E_INVALIDARG;
      position_ = std::u16string(name);
      return S_OK;
  }
  return E_INVALIDARG;
}

bool AddressSpaceBrowser::LeafPasses(const SimulatedItem& item, VARTYPE dataType, DWORD access) const {
  if ((item.def.access & access) != access) return false;
  return dataType == VT_EMPTY || TypeConversion::Convertible(item.def.type, dataType);
}

HRESULT AddressSpaceBrowser::Browse(OPCBROWSETYPE type, std::u16string_view filter, VARTYPE dataType, DWORD access,
                                    std::vector<std::u16string>& names) const {
  names.clear();
  if (type != OPC_BRANCH && type != OPC_LEAF && type != OPC_FLAT) return E_INVALIDARG;
  const BrowseFilter match(filter);
  if (!match.Valid()) return OPC_E_INVALIDFILTER;
  if (type == OPC_BRANCH) {
    if (!flat_) {
      for (auto& child : space_.ChildBranches(position_)) {
        if (match.Matches(child)) names.push_back(std::move(child));
      }
    }
  } else {
    const bool deep = flat_ || type == OPC_FLAT;
    for (const SimulatedItem* item : space_.Leaves(flat_ ? std::u16string_view() : position_, deep)) {
      const std::u16string& shown = (flat_ || type == OPC_FLAT) ? item->def.id : item->def.name;
      if (match.Matches(shown) && LeafPasses(*item, dataType, access)) names.push_back(shown);
    }
  }
  return names.empty() ? S_FALSE : S_OK;
}

HRESULT AddressSpaceBrowser::ItemId(std::u16string_view name, std::u16string& id) const {
  if (name.empty()) {
    id = position_;
    return S_OK;
  }
  if (!flat_) {
    std::u16string joined = Join(position_, name);
    if (space_.Find(joined) != nullptr || space_.BranchExists(joined)) {
      id = std::move(joined);
      return S_OK;
    }
  }
  if (space_.Find(name) != nullptr || (!flat_ && space_.BranchExists(name))) {
    id = std::u16string(name);
    return S_OK;
  }
  return E_INVALIDARG;
}

}  // namespace xelo::sim
