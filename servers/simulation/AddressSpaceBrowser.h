// The browse position of one server object and the listings of
// IOPCBrowseServerAddressSpace, over the shared address space. A flat
// browser sees one level that holds every item under its full identifier.
//
// Choices: data type and access filters apply to leaves only (branches are
// always listed when their name matches); an OPC_FLAT listing matches the
// filter against the full item identifier, OPC_BRANCH and OPC_LEAF against
// the name within the current branch. Main thread only.
#pragma once

#include "servers/simulation/AddressSpace.h"
#include "xelo/opc/OpcTypes.h"

#include <string>
#include <string_view>
#include <vector>

namespace xelo::sim {

class AddressSpaceBrowser {
 public:
  AddressSpaceBrowser(AddressSpace& space, bool flat) : space_(space), flat_(flat) {}

  OPCNAMESPACETYPE Organization() const { return flat_ ? OPC_NS_FLAT : OPC_NS_HIERARCHIAL; }

  // UP at the root: E_FAIL; DOWN into an unknown branch or a leaf, TO an
  // unknown branch, an unknown direction: E_INVALIDARG. TO "" = the root.
  HRESULT ChangePosition(OPCBROWSEDIRECTION direction, com::OleStringView name);
  // S_OK with names, S_FALSE with none; E_INVALIDARG for an unknown browse
  // type, OPC_E_INVALIDFILTER for a malformed filter.
  HRESULT Browse(OPCBROWSETYPE type, com::OleStringView filter, VARTYPE dataType, DWORD access,
                 std::vector<com::OleString>& names) const;
  // A leaf or branch name at the current position gives its full id; a
  // full id gives itself; "" gives the current branch. E_INVALIDARG when
  // the name is none of these.
  HRESULT ItemId(com::OleStringView name, com::OleString& id) const;

  const com::OleString& Position() const { return position_; }

 private:
  bool LeafPasses(const SimulatedItem& item, VARTYPE dataType, DWORD access) const;

  AddressSpace& space_;
  bool flat_;
  com::OleString position_;  // "" = root
};

}  // namespace xelo::sim
