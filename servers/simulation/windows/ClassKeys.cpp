#include "servers/simulation/windows/ClassKeys.h"

#include "servers/simulation/SimulationServer.h"
#include "xelo/com/ClassRegistry.h"
#include "xelo/com/Guid.h"
#include "xelo/com/WideText.h"

#include <string>

namespace xelo::sim {
namespace {

// Where the class keys of a scope live.
struct ClassesRoot {
  HKEY key;
  std::wstring prefix;
};

ClassesRoot RootOf(RegistrationScope scope) {
  if (scope == RegistrationScope::User) return {HKEY_CURRENT_USER, L"Software\\Classes\\"};
  return {HKEY_CLASSES_ROOT, L""};
}

bool IsSimulationClass(REFCLSID clsid) {
  return clsid == CLSID_XeloSim || clsid == CLSID_XeloSimDA1 || clsid == CLSID_XeloSimFlat ||
         clsid == CLSID_XeloSimAE;
}

// Creates `path` under the user's classes and sets its default value (none
// when `value` is null).
HRESULT SetKey(const ClassesRoot& root, const std::wstring& path, const wchar_t* value) {
  HKEY key = nullptr;
  const std::wstring full = root.prefix + path;
  LONG rc = RegCreateKeyExW(root.key, full.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                            nullptr, &key, nullptr);
  if (rc == ERROR_SUCCESS && value != nullptr) {
    rc = RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                        static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t)));
  }
  if (key != nullptr) RegCloseKey(key);
  return rc == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(rc);
}

HRESULT SetValue(const ClassesRoot& root, const std::wstring& path, const wchar_t* name, const wchar_t* value) {
  HKEY key = nullptr;
  const std::wstring full = root.prefix + path;
  LONG rc = RegOpenKeyExW(root.key, full.c_str(), 0, KEY_WRITE, &key);
  if (rc == ERROR_SUCCESS) {
    rc = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                        static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
  }
  return rc == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(rc);
}

HRESULT DeleteTree(const ClassesRoot& root, const std::wstring& path) {
  const std::wstring full = root.prefix + path;
  const LONG rc = RegDeleteTreeW(root.key, full.c_str());
  return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(rc);
}

HRESULT WriteClassKeys(const ClassesRoot& root, const com::ClassRegistration& c, ServerModule kind,
                       const std::wstring& module) {
  const std::wstring clsid = com::ToUtf16(com::GuidToString(c.clsid));
  const std::wstring progId = com::ToUtf16(c.progId);
  const std::wstring typeName = com::ToUtf16(c.userTypeName);
  const std::wstring classKey = L"CLSID\\" + clsid;
  const std::wstring serverKey =
      classKey + (kind == ServerModule::LocalServer ? L"\\LocalServer32" : L"\\InprocServer32");
  // A path with blanks is quoted for LocalServer32, which is a command line.
  const std::wstring command = kind == ServerModule::LocalServer ? L"\"" + module + L"\"" : module;
  // The other module's key would make COM pick whichever it prefers.
  const std::wstring otherKey =
      classKey + (kind == ServerModule::LocalServer ? L"\\InprocServer32" : L"\\LocalServer32");
  HRESULT hr = DeleteTree(root, otherKey);
  if (SUCCEEDED(hr)) hr = SetKey(root, classKey, typeName.c_str());
  if (SUCCEEDED(hr)) hr = SetKey(root, serverKey, command.c_str());
  if (SUCCEEDED(hr) && kind == ServerModule::InprocServer) hr = SetValue(root, serverKey, L"ThreadingModel", L"Apartment");
  if (SUCCEEDED(hr)) hr = SetKey(root, classKey + L"\\ProgID", progId.c_str());
  for (const auto& category : c.categories) {
    if (SUCCEEDED(hr)) {
      hr = SetKey(root, classKey + L"\\Implemented Categories\\" + com::ToUtf16(com::GuidToString(category)), nullptr);
    }
  }
  if (SUCCEEDED(hr)) hr = SetKey(root, progId, typeName.c_str());
  if (SUCCEEDED(hr)) hr = SetKey(root, progId + L"\\CLSID", clsid.c_str());
  if (SUCCEEDED(hr) && c.hasOpcKey) hr = SetKey(root, progId + L"\\OPC", nullptr);
  return hr;
}

}  // namespace

HRESULT RegisterSimulationClasses(RegistrationScope scope, ServerModule kind, std::wstring_view module) {
  const ClassesRoot root = RootOf(scope);
  HRESULT result = S_OK;
  for (const auto& registration : com::ClassRegistry::Instance().All()) {
    if (!IsSimulationClass(registration.clsid)) continue;
    const HRESULT hr = WriteClassKeys(root, registration, kind, std::wstring(module));
    if (FAILED(hr) && SUCCEEDED(result)) result = hr;
  }
  return result;
}

HRESULT UnregisterSimulationClasses(RegistrationScope scope) {
  const ClassesRoot root = RootOf(scope);
  HRESULT result = S_OK;
  for (const auto& registration : com::ClassRegistry::Instance().All()) {
    if (!IsSimulationClass(registration.clsid)) continue;
    for (const std::wstring& key : {L"CLSID\\" + com::ToUtf16(com::GuidToString(registration.clsid)),
                                    com::ToUtf16(registration.progId)}) {
      const HRESULT hr = DeleteTree(root, key);
      if (FAILED(hr) && SUCCEEDED(result)) result = hr;
    }
  }
  return result;
}

std::wstring ModuleFileName(HMODULE module) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);  // truncated: try a longer buffer
  }
}

}  // namespace xelo::sim
