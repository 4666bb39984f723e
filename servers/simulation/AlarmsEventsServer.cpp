#include "servers/simulation/AlarmsEventsServer.h"

#include "servers/simulation/ComGuard.h"
#include "servers/simulation/TaskArray.h"
#include "xelo/com/WideText.h"

namespace xelo::sim {

HRESULT AlarmsEventsServer::SetLocaleID(LCID dwLcid) {
  if (dwLcid != 0 && dwLcid != 0x0409 && dwLcid != 0x0800) return E_INVALIDARG;
  locale_ = dwLcid;
  return S_OK;
}

HRESULT AlarmsEventsServer::GetLocaleID(LCID* pdwLcid) {
  if (pdwLcid == nullptr) return E_INVALIDARG;
  *pdwLcid = locale_;
  return S_OK;
}

HRESULT AlarmsEventsServer::QueryAvailableLocaleIDs(DWORD* pdwCount, LCID** pdwLcid) {
  return Guarded([&]() -> HRESULT {
    OwnershipLedger::Instance().Calling("IOPCCommon::QueryAvailableLocaleIDs");
    if (pdwCount == nullptr || pdwLcid == nullptr) return E_INVALIDARG;
    TaskArray<LCID> locales(3);
    locales[0] = 0x0800;
    locales[1] = 0x0409;
    locales[2] = 0;
    *pdwCount = 3;
    *pdwLcid = locales.Release("pdwLcid");
    return S_OK;
  });
}

HRESULT AlarmsEventsServer::GetErrorString(HRESULT dwError, LPWSTR* ppString) {
  return Guarded([&]() -> HRESULT {
    OwnershipLedger::Instance().Calling("IOPCCommon::GetErrorString");
    if (ppString == nullptr) return E_INVALIDARG;
    *ppString = nullptr;
    const std::string text = xelo::com::KnownSystemMessageText(dwError);
    if (text.empty()) return E_INVALIDARG;
    *ppString = HandOver(TaskString(xelo::com::ToUtf16(text)), "*ppString");
    return S_OK;
  });
}

HRESULT AlarmsEventsServer::SetClientName(LPCWSTR szName) {
  return Guarded([&]() -> HRESULT {
    if (szName == nullptr) return E_INVALIDARG;
    clientName_ = szName;
    return S_OK;
  });
}

}  // namespace xelo::sim
