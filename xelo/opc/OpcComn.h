// OPC Common: the interfaces every OPC server shares (locale, error text,
// client name, the shutdown notice) and the server browser that lists the
// OPC servers of a computer by category (OpcEnum, CLSID_OPCServerList).
//
// Memory follows COM, as in OpcDa.h: strings and arrays handed back through
// out pointers come from the task allocator and are freed by the caller;
// the text passed to IOPCShutdown belongs to the server.
#pragma once

#include "xelo/com/Enumerators.h"
#include "xelo/com/Unknown.h"

inline constexpr IID IID_IOPCShutdown{0xF31DFDE1, 0x07B6, 0x11D2, {0xB2, 0xD8, 0x00, 0x60, 0x08, 0x3B, 0xA1, 0xFB}};
inline constexpr IID IID_IOPCCommon{0xF31DFDE2, 0x07B6, 0x11D2, {0xB2, 0xD8, 0x00, 0x60, 0x08, 0x3B, 0xA1, 0xFB}};
inline constexpr IID IID_IOPCServerList{0x13486D50, 0x4821, 0x11D2,
                                        {0xA4, 0x94, 0x3C, 0xB3, 0x06, 0xC1, 0x00, 0x00}};
inline constexpr IID IID_IOPCServerList2{0x9DD0B56C, 0xAD9E, 0x43EE,
                                         {0x83, 0x05, 0x48, 0x7F, 0x31, 0x88, 0xBF, 0x7A}};
inline constexpr IID IID_IOPCEnumGUID{0x55C382C8, 0x21C7, 0x4E88, {0x96, 0xC1, 0xBE, 0xCF, 0xB1, 0xE3, 0xF4, 0x83}};

// The type library of these interfaces.
inline constexpr GUID LIBID_OPCCOMN{0xB28EEDB1, 0xAC6F, 0x11D1, {0x84, 0xD5, 0x00, 0x60, 0x8C, 0xB8, 0xA7, 0xE9}};

// The server browser, created on the computer whose servers are wanted.
inline constexpr CLSID CLSID_OPCServerList{0x13486D51, 0x4821, 0x11D2,
                                           {0xA4, 0x94, 0x3C, 0xB3, 0x06, 0xC1, 0x00, 0x00}};

namespace xelo::opc {
// ProgID of CLSID_OPCServerList.
inline constexpr char kServerListProgId[] = "OPC.ServerList.1";
}  // namespace xelo::opc

// Implemented by the client, connected to the server object's connection
// point: the server is about to go down and asks its clients to let go.
struct IOPCShutdown : public IUnknown {
  STDMETHOD(ShutdownRequest)(LPCWSTR szReason) PURE;
};
XELO_DECLARE_IID(IOPCShutdown);

struct IOPCCommon : public IUnknown {
  STDMETHOD(SetLocaleID)(LCID dwLcid) PURE;
  STDMETHOD(GetLocaleID)(LCID* pdwLcid) PURE;
  STDMETHOD(QueryAvailableLocaleIDs)(DWORD* pdwCount, LCID** pdwLcid) PURE;
  STDMETHOD(GetErrorString)(HRESULT dwError, LPWSTR* ppString) PURE;
  STDMETHOD(SetClientName)(LPCWSTR szName) PURE;
};
XELO_DECLARE_IID(IOPCCommon);

// The classes that implement every category of rgcatidImpl and all of
// rgcatidReq. The enumerator is the standard IEnumGUID.
struct IOPCServerList : public IUnknown {
  STDMETHOD(EnumClassesOfCategories)(ULONG cImplemented, CATID rgcatidImpl[], ULONG cRequired,
                                     CATID rgcatidReq[], IEnumGUID** ppenumClsid) PURE;
  STDMETHOD(GetClassDetails)(REFCLSID clsid, LPOLESTR* ppszProgID, LPOLESTR* ppszUserType) PURE;
  STDMETHOD(CLSIDFromProgID)(LPCOLESTR szProgId, LPCLSID clsid) PURE;
};
XELO_DECLARE_IID(IOPCServerList);

// The same shape as IEnumGUID under an identifier of its own: the browser
// relies on OPC's own marshalling support only, not on the system's.
struct IOPCEnumGUID : public IUnknown {
  STDMETHOD(Next)(ULONG celt, GUID* rgelt, ULONG* pceltFetched) PURE;
  STDMETHOD(Skip)(ULONG celt) PURE;
  STDMETHOD(Reset)() PURE;
  STDMETHOD(Clone)(IOPCEnumGUID** ppenum) PURE;
};
XELO_DECLARE_IID(IOPCEnumGUID);

// The later browser interface. It derives from IUnknown, not from
// IOPCServerList, so its slots are its own; GetClassDetails adds the
// version-independent ProgID.
struct IOPCServerList2 : public IUnknown {
  STDMETHOD(EnumClassesOfCategories)(ULONG cImplemented, CATID rgcatidImpl[], ULONG cRequired,
                                     CATID rgcatidReq[], IOPCEnumGUID** ppenumClsid) PURE;
  STDMETHOD(GetClassDetails)(REFCLSID clsid, LPOLESTR* ppszProgID, LPOLESTR* ppszUserType,
                             LPOLESTR* ppszVerIndProgID) PURE;
  STDMETHOD(CLSIDFromProgID)(LPCOLESTR szProgId, LPCLSID clsid) PURE;
};
XELO_DECLARE_IID(IOPCServerList2);
