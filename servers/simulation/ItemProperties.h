// The item properties of IOPCItemProperties over the address space.
//
// Every item has properties 1-6 and 101 (description); analog items also
// have 100 (units), 102 (high EU) and 103 (low EU). Properties 102 and 103
// have item identifiers of their own ("<item>.HighEU", "<item>.LowEU",
// readable items of the address space); the others have none
// (OPC_E_INVALID_PID from LookupItemIDs). Property 2 reads like a device
// read, so a write-only item answers OPC_E_BADRIGHTS for it. Property 6 is
// the server's update period, 100 ms. Main thread only.
#pragma once

#include "servers/simulation/AddressSpace.h"
#include "servers/simulation/OwnedVariant.h"

#include <string>
#include <vector>

namespace xelo::sim {

class ItemProperties {
 public:
  struct Available {
    DWORD id;
    const OLECHAR* description;
    VARTYPE type;
  };

  // The item for `itemId`: OPC_E_INVALIDITEMID (syntax, or null) or
  // OPC_E_UNKNOWNITEMID, S_OK with `item` set.
  static HRESULT Resolve(AddressSpace& space, const OLECHAR* itemId, SimulatedItem*& item);

  static std::vector<Available> List(const SimulatedItem& item);
  // S_OK, OPC_E_INVALID_PID (not a property of this item), OPC_E_BADRIGHTS.
  static HRESULT Value(const SimulatedItem& item, DWORD id, OwnedVariant& value);
  // S_OK with the id, or OPC_E_INVALID_PID.
  static HRESULT ItemIdOf(const SimulatedItem& item, DWORD id, com::OleString& itemId);
};

}  // namespace xelo::sim
