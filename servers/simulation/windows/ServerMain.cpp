// The simulation server as a program of its own (a LocalServer32 EXE), for
// clients on Windows' COM in other processes, or on other computers:
//
//   xelo_simulation_server.exe /RegServer           registers the classes for all users
//   xelo_simulation_server.exe /RegServerPerUser    ... for this user only
//   xelo_simulation_server.exe /UnregServer[PerUser] removes them
//   xelo_simulation_server.exe -Embedding    what COM starts to create an object
//
// The main thread is a single-threaded apartment pumped by the framework's
// application loop: COM delivers the clients' calls as window messages, and
// the server's update cycles and callbacks run on the same loop's timers.
// The program ends when no server object has been alive for a few seconds.
#include "servers/simulation/SimulationControl.h"
#include "servers/simulation/SimulationServer.h"
#include "servers/simulation/windows/ClassKeys.h"
#include "xelo/com/ClassRegistry.h"
#include "xelo/com/HResult.h"
#include "xelo/framework/Application.h"

#include <chrono>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;

// How long the program waits for its first object, and for the next one once
// the last is gone.
constexpr auto kFirstObjectWait = 60s;
constexpr auto kIdleEnd = 5s;

bool IsSwitch(const wchar_t* argument, const wchar_t* name) {
  return (argument[0] == L'/' || argument[0] == L'-') && _wcsicmp(argument + 1, name) == 0;
}

int Report(const char* what, HRESULT hr) {
  if (SUCCEEDED(hr)) return 0;
  std::fprintf(stderr, "xelo_simulation_server: %s: %s\n", what, xelo::com::SystemMessageText(hr).c_str());
  return 1;
}

int Serve() {
  xelo::TApplication& application = xelo::Application();  // the apartment and its loop
  CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_NONE, RPC_C_IMP_LEVEL_IDENTIFY, nullptr,
                       EOAC_NONE, nullptr);
  // The classes are offered to other processes instead of this one.
  auto& registry = xelo::com::ClassRegistry::Instance();
  registry.WithdrawClassObjects();
  std::vector<DWORD> cookies;
  auto revokeAll = [&cookies] {
    for (const DWORD cookie : cookies) CoRevokeClassObject(cookie);
    cookies.clear();
  };
  for (const CLSID& clsid : {xelo::sim::CLSID_XeloSim, xelo::sim::CLSID_XeloSimDA1, xelo::sim::CLSID_XeloSimFlat,
                             xelo::sim::CLSID_XeloSimAE}) {
    const auto registration = registry.Find(clsid);
    if (!registration || !registration->factory) continue;
    DWORD cookie = 0;
    const HRESULT hr = CoRegisterClassObject(clsid, registration->factory.Get(), CLSCTX_LOCAL_SERVER,
                                             REGCLS_MULTIPLEUSE, &cookie);
    if (FAILED(hr)) {
      revokeAll();
      return Report("cannot offer its classes", hr);
    }
    cookies.push_back(cookie);
  }

  // Ending takes two steps, a timer tick apart: first no new activation is
  // taken (COM starts another process for the next client), then the
  // program ends if the activations already on their way created nothing.
  // Ending at once would leave a client that had just been handed the class
  // object calling a process that no longer answers.
  auto idleSince = std::chrono::steady_clock::now();
  auto allowedIdle = std::chrono::steady_clock::duration(kFirstObjectWait);
  application.StartTimer(1s, [&] {
    const auto now = std::chrono::steady_clock::now();
    if (xelo::sim::SimulationControl::Live().servers != 0) {
      idleSince = now;
      allowedIdle = kIdleEnd;
    } else if (cookies.empty()) {
      application.Terminate();
    } else if (now - idleSince >= allowedIdle) {
      revokeAll();
    }
  });
  application.Run();
  revokeAll();
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  using xelo::sim::RegistrationScope;
  for (int i = 1; i < argc; ++i) {
    for (const auto scope : {RegistrationScope::Machine, RegistrationScope::User}) {
      const bool user = scope == RegistrationScope::User;
      if (IsSwitch(argv[i], user ? L"RegServerPerUser" : L"RegServer")) {
        return Report("registration failed", xelo::sim::RegisterSimulationClasses(
                                                   scope, xelo::sim::ServerModule::LocalServer, xelo::sim::ModuleFileName(nullptr)));
      }
      if (IsSwitch(argv[i], user ? L"UnregServerPerUser" : L"UnregServer")) {
        return Report("unregistration failed", xelo::sim::UnregisterSimulationClasses(scope));
      }
    }
  }
  return Serve();
}
