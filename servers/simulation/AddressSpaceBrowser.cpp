#include "servers/simulation/AddressSpaceBrowser.h"

#include "servers/simulation/BrowseFilter.h"
#include "servers/simulation/TypeConversion.h"
#include "xelo/opc/OpcError.h"

namespace xelo::sim {
namespace {

com::OleString Join(com::OleStringView branch, com::OleStringView name) {
  com::OleString id(branch);
  if (!id.empty()) id += OLESTR('.');
  id += name;
  return id;
}

}  // namespace

HRESULT AddressSpaceBrowser::ChangePosition(OPCBROWSEDIRECTION direction, com::OleStringView name) {
  switch (direction) {
    case OPC_BROWSE_UP: {
      if (position_.empty()) return E_FAIL;
      const std::size_t dot = position_.rfind(OLESTR('.'));
      position_ = dot == com::OleString::npos ? com::OleString() : position_.substr(0, dot);
      return S_OK;
    }
    case OPC_BROWSE_DOWN: {
      if (flat_ || name.empty()) return E_INVALIDARG;
      com::OleString child = Join(position_, name);
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
      position_ = com::OleString(name);
      return S_OK;
  }
  return E_INVALIDARG;
}

bool AddressSpaceBrowser::LeafPasses(const SimulatedItem& item, VARTYPE dataType, DWORD access) const {
  if ((item.def.access & access) != access) return false;
  return dataType == VT_EMPTY || TypeConversion::Convertible(item.def.type, dataType);
}

HRESULT AddressSpaceBrowser::Browse(OPCBROWSETYPE type, com::OleStringView filter, VARTYPE dataType, DWORD access,
                                    std::vector<com::OleString>& names) const {
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
    for (const SimulatedItem* item : space_.Leaves(flat_ ? com::OleStringView() : position_, deep)) {
      const com::OleString& shown = (flat_ || type == OPC_FLAT) ? item->def.id : item->def.name;
      if (match.Matches(shown) && LeafPasses(*item, dataType, access)) names.push_back(shown);
    }
  }
  return names.empty() ? S_FALSE : S_OK;
}

HRESULT AddressSpaceBrowser::ItemId(com::OleStringView name, com::OleString& id) const {
  if (name.empty()) {
    id = position_;
    return S_OK;
  }
  if (!flat_) {
    com::OleString joined = Join(position_, name);
    if (space_.Find(joined) != nullptr || space_.BranchExists(joined)) {
      id = std::move(joined);
      return S_OK;
    }
  }
  if (space_.Find(name) != nullptr || (!flat_ && space_.BranchExists(name))) {
    id = com::OleString(name);
    return S_OK;
  }
  return E_INVALIDARG;
}

}  // namespace xelo::sim
