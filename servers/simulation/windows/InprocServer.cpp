// The simulation server as an in-process server DLL (InprocServer32, the
// apartment threading model), for clients on Windows' COM that do not link
// the simulation library: regsvr32 registers it for all users, COM loads it
// into the client and creates the classes through DllGetClassObject. The
// server's update cycles then run on the client's apartment scheduler.
#include "servers/simulation/windows/ClassKeys.h"
#include "xelo/com/ClassRegistry.h"

#include <string>

namespace {

std::wstring ThisModulePath() {
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCWSTR>(&ThisModulePath), &module)) {
    return {};
  }
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

}  // namespace

extern "C" {

HRESULT __stdcall DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  const auto registration = xelo::com::ClassRegistry::Instance().Find(clsid);
  if (!registration || !registration->factory) return CLASS_E_CLASSNOTAVAILABLE;
  return registration->factory->QueryInterface(riid, ppv);
}

// The server's objects post work to the client's scheduler and keep state in
// statics of this module: it stays loaded for the life of the process.
HRESULT __stdcall DllCanUnloadNow() { return S_FALSE; }

HRESULT __stdcall DllRegisterServer() {
  const std::wstring path = ThisModulePath();
  if (path.empty()) return HRESULT_FROM_WIN32(GetLastError());
  return xelo::sim::RegisterSimulationClasses(xelo::sim::RegistrationScope::Machine,
                                              xelo::sim::ServerModule::InprocServer, path);
}

HRESULT __stdcall DllUnregisterServer() {
  return xelo::sim::UnregisterSimulationClasses(xelo::sim::RegistrationScope::Machine);
}

}  // extern "C"
