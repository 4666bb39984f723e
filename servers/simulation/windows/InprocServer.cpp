// The simulation server as an in-process server DLL (InprocServer32, the
// apartment threading model), for clients on Windows' COM that do not link
// the simulation library: regsvr32 registers it for all users, COM loads it
// into the client and creates the classes through DllGetClassObject.
//
// The DLL has its own copy of the library and so its own apartment
// scheduler, which no client knows of: a thread timer on the client's
// thread runs it from the client's message loop (every Windows message loop
// dispatches timer messages).
#include "servers/simulation/windows/ClassKeys.h"
#include "xelo/com/Apartment.h"
#include "xelo/com/ClassRegistry.h"

#include <string>

namespace {

std::wstring ThisModulePath() {
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCWSTR>(&ThisModulePath), &module)) {
    return {};
  }
  return xelo::sim::ModuleFileName(module);
}

// Often enough for the shortest update rate (100 ms) and for prompt
// asynchronous completions.
constexpr UINT kSchedulerPeriodMs = 10;

void CALLBACK RunScheduler(HWND, UINT, UINT_PTR, DWORD) {
  xelo::com::DefaultScheduler::Process().ProcessPending();
}

// Once, on the thread that creates the first object: the apartment's.
void StartScheduler() {
  static const UINT_PTR timer = SetTimer(nullptr, 0, kSchedulerPeriodMs, RunScheduler);
  (void)timer;
}

}  // namespace

extern "C" {

HRESULT __stdcall DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  const auto registration = xelo::com::ClassRegistry::Instance().Find(clsid);
  if (!registration || !registration->factory) return CLASS_E_CLASSNOTAVAILABLE;
  StartScheduler();
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
