// The portable back end's object creation: classes registered in this
// process, other computers through the installed remote activator.
#include "xelo/com/Activation.h"

#include "xelo/com/ClassRegistry.h"

#include <atomic>

namespace xelo::com {
namespace {

std::atomic<RemoteActivator*> gRemoteActivator{nullptr};
std::atomic<bool> gSecurityInitialised{false};

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

namespace {
// The calling thread's nesting depth and model (COINIT_APARTMENTTHREADED or
// not) while the depth is above zero.
thread_local int tComDepth = 0;
thread_local bool tApartmentThreaded = false;
}  // namespace

HRESULT CoInitializeEx(void*, DWORD coInit) {
  const bool apartment = (coInit & COINIT_APARTMENTTHREADED) != 0;
  if (tComDepth > 0 && apartment != tApartmentThreaded) return RPC_E_CHANGED_MODE;
  tApartmentThreaded = apartment;
  return ++tComDepth == 1 ? S_OK : S_FALSE;
}

HRESULT CoInitialize(void* reserved) { return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED); }

void CoUninitialize() {
  if (tComDepth > 0) --tComDepth;
}

HRESULT CoInitializeSecurity(void*, LONG, void*, void*, DWORD, DWORD, void*, DWORD, void*) {
  bool expected = false;
  return xelo::com::gSecurityInitialised.compare_exchange_strong(expected, true) ? S_OK : RPC_E_TOO_LATE;
}
