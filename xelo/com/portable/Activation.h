// The portable back end's declarations for xelo/com/Activation.h, with the SDK's
// names, values and layouts; include that header, not this one.
#pragma once

#include "xelo/com/ClassFactory.h"

#include <string_view>

inline constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
inline constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
inline constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
inline constexpr DWORD CLSCTX_REMOTE_SERVER = 0x10;
inline constexpr DWORD CLSCTX_SERVER = 0x15;
inline constexpr DWORD CLSCTX_ALL = 0x17;

struct COAUTHINFO;  // authentication details; not interpreted here

struct COSERVERINFO {
  DWORD dwReserved1;
  LPWSTR pwszName;  // computer name; null or a name of this computer = local
  COAUTHINFO* pAuthInfo;
  DWORD dwReserved2;
};

struct MULTI_QI {
  const IID* pIID;
  IUnknown* pItf;
  HRESULT hr;
};

HRESULT CoGetClassObject(REFCLSID clsid, DWORD clsContext, COSERVERINFO* serverInfo, REFIID riid,
                         void** ppv);
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* pUnkOuter, DWORD clsContext, REFIID riid,
                         void** ppv);
// Creates the object once and queries every requested interface. S_OK when
// all were obtained, CO_S_NOTALLINTERFACES when some, E_NOINTERFACE when
// none; on a creation failure every entry carries the failure code.
HRESULT CoCreateInstanceEx(REFCLSID clsid, IUnknown* pUnkOuter, DWORD clsContext,
                           COSERVERINFO* serverInfo, DWORD count, MULTI_QI* results);

inline constexpr HRESULT CO_S_NOTALLINTERFACES = 0x00080012;

inline constexpr DWORD COINIT_MULTITHREADED = 0x0;
inline constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;
inline constexpr DWORD COINIT_DISABLE_OLE1DDE = 0x4;
inline constexpr DWORD COINIT_SPEED_OVER_MEMORY = 0x8;

// Enters the calling thread into COM, as Windows counts it: S_OK the first
// time, S_FALSE for every nested call, RPC_E_CHANGED_MODE when the thread
// already runs the other threading model (and that call is not counted).
// Each successful call is balanced by one CoUninitialize. The portable
// runtime needs no apartment; the calls keep code written for Windows' COM
// correct here.
HRESULT CoInitializeEx(void* reserved, DWORD coInit);
HRESULT CoInitialize(void* reserved);
void CoUninitialize();

inline constexpr DWORD RPC_C_AUTHN_LEVEL_DEFAULT = 0;
inline constexpr DWORD RPC_C_AUTHN_LEVEL_NONE = 1;
inline constexpr DWORD RPC_C_AUTHN_LEVEL_CONNECT = 2;
inline constexpr DWORD RPC_C_IMP_LEVEL_ANONYMOUS = 1;
inline constexpr DWORD RPC_C_IMP_LEVEL_IDENTIFY = 2;
inline constexpr DWORD RPC_C_IMP_LEVEL_IMPERSONATE = 3;
inline constexpr DWORD RPC_C_IMP_LEVEL_DELEGATE = 4;
inline constexpr DWORD EOAC_NONE = 0;

// Succeeds once per process; every later call answers RPC_E_TOO_LATE, as
// COM does once security is initialised. The arguments are not interpreted
// while objects are only created in process.
HRESULT CoInitializeSecurity(void* pSecDesc, LONG cAuthSvc, void* asAuthSvc, void* pReserved1,
                             DWORD dwAuthnLevel, DWORD dwImpLevel, void* pAuthList,
                             DWORD dwCapabilities, void* pReserved3);

namespace xelo::com {

// The hook a remote transport installs to create objects on other
// computers. Called on the main thread.
class RemoteActivator {
 public:
  virtual ~RemoteActivator() = default;
  virtual HRESULT CreateInstance(OleStringView computer, REFCLSID clsid, REFIID riid,
                                 void** ppv) = 0;
};
// Installs `activator` (not owned; null removes it).
void SetRemoteActivator(RemoteActivator* activator);

}  // namespace xelo::com
