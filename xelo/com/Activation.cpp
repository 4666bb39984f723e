#include "xelo/com/Activation.h"

#include "xelo/com/ClassRegistry.h"
#include "xelo/com/WideText.h"
#include "xelo/platform/Platform.h"

#include <algorithm>
#include <atomic>
#include <climits>

namespace xelo::com {
namespace {

std::atomic<RemoteActivator*> gRemoteActivator{nullptr};
std::atomic<bool> gSecurityInitialised{false};

OleString Lower(OleStringView text) {
  OleString lower(text);
  for (auto& c : lower) {
    if (c >= OLESTR('A') && c <= OLESTR('Z')) c = static_cast<OLECHAR>(c - OLESTR('A') + OLESTR('a'));
  }
  return lower;
}

OleStringView TrimBlanks(OleStringView text) {
  while (!text.empty() && text.front() <= OLESTR(' ')) text.remove_prefix(1);
  while (!text.empty() && text.back() <= OLESTR(' ')) text.remove_suffix(1);
  return text;
}

HRESULT CreateLocal(REFCLSID clsid, IUnknown* outer, REFIID riid, void** ppv) {
  const auto registration = ClassRegistry::Instance().Find(clsid);
  if (!registration || !registration->factory) return REGDB_E_CLASSNOTREG;
  return registration->factory->CreateInstance(outer, riid, ppv);
}

OleStringView ServerName(const COSERVERINFO* serverInfo) {
  return serverInfo == nullptr || serverInfo->pwszName == nullptr ? OleStringView()
                                                                  : OleStringView(serverInfo->pwszName);
}

// Creates the object on the computer `computer` names.
HRESULT Create(REFCLSID clsid, IUnknown* outer, OleStringView computer, REFIID riid, void** ppv) {
  if (IsLocalComputerName(computer)) return CreateLocal(clsid, outer, riid, ppv);
  if (outer != nullptr) return CLASS_E_NOAGGREGATION;  // aggregation never crosses computers
  RemoteActivator* activator = gRemoteActivator.load();
  if (activator == nullptr) return HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE);
  return activator->CreateInstance(computer, clsid, riid, ppv);
}

}  // namespace

bool IsLocalComputerName(OleStringView name) {
  name = TrimBlanks(name);
  if (name.starts_with(OLESTR("\\\\"))) name.remove_prefix(2);
  if (name.empty()) return true;
  const OleString lower = Lower(name);
  if (lower == OLESTR("localhost") || lower == OLESTR("127.0.0.1") || lower == OLESTR("::1")) return true;
  const std::string host = platform::HostName();
  if (host.empty()) return false;
  const OleString hostName = Lower(ToUtf16(host));
  if (lower == hostName) return true;
  // The short name of a fully qualified host name names this computer too.
  const auto dot = hostName.find(OLESTR('.'));
  return dot != OleString::npos && lower == hostName.substr(0, dot);
}

void SetRemoteActivator(RemoteActivator* activator) { gRemoteActivator = activator; }

}  // namespace xelo::com

HRESULT CoGetClassObject(REFCLSID clsid, DWORD, COSERVERINFO* serverInfo, REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (!xelo::com::IsLocalComputerName(xelo::com::ServerName(serverInfo))) return HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE);
  const auto registration = xelo::com::ClassRegistry::Instance().Find(clsid);
  if (!registration || !registration->factory) return REGDB_E_CLASSNOTREG;
  return registration->factory->QueryInterface(riid, ppv);
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* pUnkOuter, DWORD, REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  return xelo::com::CreateLocal(clsid, pUnkOuter, riid, ppv);
}

HRESULT CoCreateInstanceEx(REFCLSID clsid, IUnknown* pUnkOuter, DWORD, COSERVERINFO* serverInfo, DWORD count,
                           MULTI_QI* results) {
  if (count == 0) return E_INVALIDARG;
  if (results == nullptr) return E_POINTER;
  for (DWORD i = 0; i < count; ++i) {
    if (results[i].pIID == nullptr) return E_INVALIDARG;
    results[i].pItf = nullptr;
    results[i].hr = E_NOINTERFACE;
  }
  xelo::com::ComPtr<IUnknown> object;
  const HRESULT created =
      xelo::com::Create(clsid, pUnkOuter, xelo::com::ServerName(serverInfo), IID_IUnknown, object.PutVoid());
  if (FAILED(created)) {
    for (DWORD i = 0; i < count; ++i) results[i].hr = created;
    return created;
  }
  DWORD obtained = 0;
  for (DWORD i = 0; i < count; ++i) {
    results[i].hr = object->QueryInterface(*results[i].pIID, reinterpret_cast<void**>(&results[i].pItf));
    if (SUCCEEDED(results[i].hr)) ++obtained;
  }
  if (obtained == count) return S_OK;
  return obtained == 0 ? E_NOINTERFACE : CO_S_NOTALLINTERFACES;
}

HRESULT CoInitializeSecurity(void*, LONG, void*, void*, DWORD, DWORD, void*, DWORD, void*) {
  bool expected = false;
  return xelo::com::gSecurityInitialised.compare_exchange_strong(expected, true) ? S_OK : RPC_E_TOO_LATE;
}
