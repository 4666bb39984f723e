#include "servers/simulation/ServerList.h"

#include "servers/simulation/ComGuard.h"
#include "servers/simulation/SimulationRuntime.h"
#include "servers/simulation/TaskArray.h"
#include "xelo/com/ClassRegistry.h"
#include "xelo/com/EnumeratorImpl.h"
#include "xelo/com/WideText.h"

#include <algorithm>
#include <cctype>

namespace xelo::sim {
namespace {

constexpr ULONG kAllCategories = static_cast<ULONG>(-1);

bool Implements(const xelo::com::ClassRegistration& r, const CATID& category) {
  return std::find(r.categories.begin(), r.categories.end(), category) != r.categories.end();
}

std::string VersionIndependent(const std::string& progId) {
  const std::size_t dot = progId.rfind('.');
  if (dot == std::string::npos || dot + 1 == progId.size()) return progId;
  for (std::size_t i = dot + 1; i < progId.size(); ++i) {
    if (std::isdigit(static_cast<unsigned char>(progId[i])) == 0) return progId;
  }
  return progId.substr(0, dot);
}

}  // namespace

std::vector<CLSID> ServerList::Matching(ULONG cImplemented, const CATID* implemented, ULONG cRequired,
                                        const CATID* required) {
  const bool anyImplemented = cImplemented == 0 || cImplemented == kAllCategories || implemented == nullptr;
  const bool noneRequired = cRequired == 0 || cRequired == kAllCategories || required == nullptr;
  std::vector<CLSID> result;
  for (const auto& r : xelo::com::ClassRegistry::Instance().All()) {
    bool ok = anyImplemented;
    for (ULONG i = 0; !ok && i < cImplemented; ++i) ok = Implements(r, implemented[i]);
    for (ULONG i = 0; ok && !noneRequired && i < cRequired; ++i) ok = Implements(r, required[i]);
    if (ok) result.push_back(r.clsid);
  }
  return result;
}

HRESULT ServerList::EnumClassesOfCategories(ULONG cImplemented, CATID rgcatidImpl[], ULONG cRequired,
                                            CATID rgcatidReq[], IEnumGUID** ppenumClsid) {
  return Guarded([&]() -> HRESULT {
    if (ppenumClsid != nullptr) *ppenumClsid = nullptr;
    if (auto injected = SimulationRuntime::Instance().Enter("IOPCServerList::EnumClassesOfCategories",
                                                            CallArguments().Set(&CallArguments::count, cImplemented))) {
      return *injected;
    }
    if (ppenumClsid == nullptr) return E_INVALIDARG;
    *ppenumClsid =
        xelo::com::MakeGuidEnumerator<IEnumGUID>(Matching(cImplemented, rgcatidImpl, cRequired, rgcatidReq)).Detach();
    return S_OK;
  });
}

HRESULT ServerList::EnumClassesOfCategories(ULONG cImplemented, CATID rgcatidImpl[], ULONG cRequired,
                                            CATID rgcatidReq[], IOPCEnumGUID** ppenumClsid) {
  return Guarded([&]() -> HRESULT {
    if (ppenumClsid != nullptr) *ppenumClsid = nullptr;
    if (auto injected = SimulationRuntime::Instance().Enter("IOPCServerList2::EnumClassesOfCategories",
                                                            CallArguments().Set(&CallArguments::count, cImplemented))) {
      return *injected;
    }
    if (ppenumClsid == nullptr) return E_INVALIDARG;
    *ppenumClsid =
        xelo::com::MakeGuidEnumerator<IOPCEnumGUID>(Matching(cImplemented, rgcatidImpl, cRequired, rgcatidReq))
            .Detach();
    return S_OK;
  });
}

HRESULT ServerList::GetClassDetails(REFCLSID clsid, LPOLESTR* ppszProgID, LPOLESTR* ppszUserType) {
  return GetClassDetails(clsid, ppszProgID, ppszUserType, nullptr);
}

HRESULT ServerList::GetClassDetails(REFCLSID clsid, LPOLESTR* ppszProgID, LPOLESTR* ppszUserType,
                                    LPOLESTR* ppszVerIndProgID) {
  return Guarded([&]() -> HRESULT {
    if (ppszProgID != nullptr) *ppszProgID = nullptr;
    if (ppszUserType != nullptr) *ppszUserType = nullptr;
    if (ppszVerIndProgID != nullptr) *ppszVerIndProgID = nullptr;
    if (auto injected = SimulationRuntime::Instance().Enter("IOPCServerList::GetClassDetails")) return *injected;
    if (ppszProgID == nullptr || ppszUserType == nullptr) return E_INVALIDARG;
    const auto registration = xelo::com::ClassRegistry::Instance().Find(clsid);
    if (!registration) return REGDB_E_CLASSNOTREG;
    TaskArray<LPWSTR> texts(3);
    texts[0] = TaskString(xelo::com::ToUtf16(registration->progId));
    texts[1] = TaskString(xelo::com::ToUtf16(registration->userTypeName));
    if (ppszVerIndProgID != nullptr) {
      texts[2] = TaskString(xelo::com::ToUtf16(VersionIndependent(registration->progId)));
      *ppszVerIndProgID = HandOver(std::exchange(texts[2], nullptr), "*ppszVerIndProgID");
    }
    *ppszProgID = HandOver(std::exchange(texts[0], nullptr), "*ppszProgID");
    *ppszUserType = HandOver(std::exchange(texts[1], nullptr), "*ppszUserType");
    return S_OK;
  });
}

HRESULT ServerList::CLSIDFromProgID(LPCOLESTR szProgId, LPCLSID clsid) {
  return Guarded([&]() -> HRESULT {
    if (auto injected = SimulationRuntime::Instance().Enter("IOPCServerList::CLSIDFromProgID")) return *injected;
    if (szProgId == nullptr || clsid == nullptr) return E_INVALIDARG;
    return ::CLSIDFromProgID(szProgId, clsid);
  });
}

}  // namespace xelo::sim
