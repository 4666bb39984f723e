// The OPC server list enumerator (CLSID_OPCServerList, "OPC.ServerList.1"):
// IOPCServerList and IOPCServerList2 over this computer's class registry.
//
// EnumClassesOfCategories follows the component category manager: a class
// qualifies when it implements at least one of the implemented categories
// (any class when that list is empty or its count is (ULONG)-1) and every
// one of the required categories (none required when that count is 0 or
// (ULONG)-1). Classes come in the registry's order (by ProgID). Strings are
// from the task allocator. Main thread only.
#pragma once

#include "xelo/com/ComObject.h"
#include "xelo/opc/OpcComn.h"

#include <vector>

namespace xelo::sim {

class ServerList final : public xelo::com::ComObject<IOPCServerList, IOPCServerList2> {
 public:
  // IOPCServerList
  STDMETHOD(EnumClassesOfCategories)(ULONG cImplemented, CATID rgcatidImpl[], ULONG cRequired, CATID rgcatidReq[],
                                     IEnumGUID** ppenumClsid) override;
  // REGDB_E_CLASSNOTREG for an unknown class.
  STDMETHOD(GetClassDetails)(REFCLSID clsid, LPOLESTR* ppszProgID, LPOLESTR* ppszUserType) override;
  // CO_E_CLASSSTRING for an unknown ProgID.
  STDMETHOD(CLSIDFromProgID)(LPCOLESTR szProgId, LPCLSID clsid) override;

  // IOPCServerList2
  STDMETHOD(EnumClassesOfCategories)(ULONG cImplemented, CATID rgcatidImpl[], ULONG cRequired, CATID rgcatidReq[],
                                     IOPCEnumGUID** ppenumClsid) override;
  // The version-independent ProgID is the ProgID without its trailing
  // ".<number>".
  STDMETHOD(GetClassDetails)(REFCLSID clsid, LPOLESTR* ppszProgID, LPOLESTR* ppszUserType,
                             LPOLESTR* ppszVerIndProgID) override;

  static std::vector<CLSID> Matching(ULONG cImplemented, const CATID* implemented, ULONG cRequired,
                                     const CATID* required);
};

}  // namespace xelo::sim
