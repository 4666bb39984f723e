// What the out-of-process test server serves and the client expects: one
// table for both, so that every value the client checks has crossed the
// process boundary twice through the proxy/stub (request and reply) and is
// compared with the table, never with itself.
//
// Written against the Windows SDK (MinGW) and the headers widl generates
// from our IDL; no Xelo library code, so that this tests the DLL alone.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <ocidl.h>
#include <olectl.h>  // CONNECT_E_*

#include "OpcCommonInterfaces.h"
#include "OpcDaInterfaces.h"

#include <climits>
#include <cstring>
#include <cwchar>

namespace xelo_opc_proxy_test {

// {5E719345-4D99-479A-8195-CED29CCF39A0}
inline constexpr CLSID kServerClsid =
  {0x5E719345, 0x4D99, 0x479A, {0x81, 0x95, 0xCE, 0xD2, 0x9C, 0xCF, 0x39, 0xA0}};
inline constexpr wchar_t kServerClsidText[] = L"{5E719345-4D99-479A-8195-CED29CCF39A0}";
inline constexpr wchar_t kServerDescription[] = L"Xelo OPC proxy/stub test server";

// A second class in the same EXE: the server browser's interfaces
// (IOPCServerList, IOPCServerList2, IOPCEnumGUID).
// {EFA9444E-CD63-4B63-9368-DA4A2F68B593}
inline constexpr CLSID kServerListClsid =
  {0xEFA9444E, 0xCD63, 0x4B63, {0x93, 0x68, 0xDA, 0x4A, 0x2F, 0x68, 0xB5, 0x93}};
inline constexpr wchar_t kServerListClsidText[] = L"{EFA9444E-CD63-4B63-9368-DA4A2F68B593}";
inline constexpr wchar_t kServerListDescription[] = L"Xelo OPC proxy/stub test server list";
inline constexpr CLSID kCategoryDa10 =
  {0x63D5F430, 0xCFE4, 0x11D1, {0xB2, 0xC8, 0x00, 0x60, 0x08, 0x3B, 0xA1, 0xFB}};
inline constexpr CLSID kCategoryDa20 =
  {0x63D5F432, 0xCFE4, 0x11D1, {0xB2, 0xC8, 0x00, 0x60, 0x08, 0x3B, 0xA1, 0xFB}};
inline constexpr CLSID kListedClasses[] = {kServerClsid, kServerListClsid, kCategoryDa10};
inline constexpr ULONG kListedCount = 3;
inline constexpr wchar_t kProgId[] = L"Xelo.OpcProxyTest.1";
inline constexpr wchar_t kUserType[] = L"Xelo OPC proxy test · server";
inline constexpr wchar_t kVersionIndependentProgId[] = L"Xelo.OpcProxyTest";

// OPC result codes; the SDK has none of them.
inline constexpr HRESULT kInvalidHandle = static_cast<HRESULT>(0xC0040001);
inline constexpr HRESULT kUnknownItemId = static_cast<HRESULT>(0xC0040007);
inline constexpr HRESULT kInvalidPid = static_cast<HRESULT>(0xC0040203);
inline constexpr wchar_t kUnknownItemIdText[] =
  L"The item ID is not defined in the server address space or no longer exists in the server address space.";

// IOPCCommon
inline constexpr LCID kLocales[] = {0x0409, 0x0407, 0x0000};
inline constexpr wchar_t kClientName[] = L"proxy test client \u00FC";

// IOPCServer::GetStatus: the vendor text carries the server's process ID
// after this prefix, so the client can tell it ran elsewhere.
inline constexpr wchar_t kVendorPrefix[] = L"Xelo proxy test \u2013 process ";
inline constexpr WORD kMajorVersion = 2, kMinorVersion = 5, kBuildNumber = 0xBEEF;
inline constexpr FILETIME kStartTime = {0x89ABCDEF, 0x01DB0123};

// IOPCServer::AddGroup and IOPCGroupStateMgt::GetState
inline constexpr wchar_t kGroupName[] = L"Gruppe \u03B1";
inline constexpr OPCHANDLE kClientGroup = 0x5151;
inline constexpr OPCHANDLE kServerGroup = 0x7777;
inline constexpr LONG kTimeBias = -60;
inline constexpr DWORD kRequestedRate = 250;
inline constexpr DWORD kRevisedRate = 500;
inline constexpr DWORD kGroupLcid = 0x0409;

// IOPCItemMgt::AddItems: definitions in (strings, a NULL access path, blobs
// of odd sizes), results out (blobs of other sizes), one unknown item.
inline constexpr BYTE kBlobIn0[] = {0x01, 0x00, 0xFF, 0x7F, 0x80};
inline constexpr BYTE kBlobIn3[] = {0xEE, 0x00};
inline constexpr BYTE kBlobOut0[] = {0xB0, 0xB1, 0xB2};
inline constexpr BYTE kBlobOut1[] = {0xC0, 0x00, 0xC2, 0x00, 0xC4, 0xC5, 0xC6};
inline constexpr BYTE kBlobOut2[] = {0xD0};

struct Item {
  const wchar_t* accessPath;  // may be NULL
  const wchar_t* itemId;
  BOOL active;
  OPCHANDLE hClient;
  const BYTE* blobIn;
  DWORD blobInSize;
  VARTYPE requested;
  // What the server answers
  HRESULT error;
  OPCHANDLE hServer;
  VARTYPE canonical;
  DWORD rights;
  const BYTE* blobOut;
  DWORD blobOutSize;
};
inline constexpr Item kItems[] = {
  {nullptr, L"Plant.Tank1.Level", TRUE, 11, kBlobIn0, sizeof kBlobIn0, VT_R8,
   S_OK, 1001, VT_R8, OPC_READABLE | OPC_WRITEABLE, kBlobOut0, sizeof kBlobOut0},
  {L"", L"Plant.Tank1.State", FALSE, 12, nullptr, 0, VT_EMPTY,
   S_OK, 1002, VT_BSTR, OPC_READABLE | OPC_WRITEABLE, kBlobOut1, sizeof kBlobOut1},
  {L"Line \u00C4", L"Plant.Tank1.Profile", TRUE, 13, nullptr, 0, VT_EMPTY,
   S_OK, 1003, VT_ARRAY | VT_I4, OPC_READABLE, kBlobOut2, sizeof kBlobOut2},
  {L"Line \u00C4", L"Plant.Nowhere", TRUE, 14, kBlobIn3, sizeof kBlobIn3, VT_I4,
   kUnknownItemId, 0, VT_EMPTY, 0, nullptr, 0},
};
inline constexpr DWORD kItemCount = sizeof kItems / sizeof kItems[0];

// IOPCSyncIO::Read: the three items and a handle the server does not know.
inline constexpr OPCHANDLE kReadHandles[] = {1001, 1002, 1003, 0xDEAD};
inline constexpr DWORD kReadCount = sizeof kReadHandles / sizeof kReadHandles[0];
inline constexpr WORD kReadQualities[] = {OPC_QUALITY_GOOD, OPC_QUALITY_LAST_USABLE | OPC_LIMIT_HIGH,
                                          OPC_QUALITY_LOCAL_OVERRIDE, OPC_QUALITY_BAD};
inline constexpr HRESULT kReadErrors[] = {S_OK, S_OK, S_OK, kInvalidHandle};
inline constexpr double kLevel = 12.5;
inline constexpr wchar_t kState[] = L"L\u00E4uft \u2013 running";
inline constexpr LONG kProfile[] = {1, -2, 300000, LONG_MIN};
inline FILETIME ReadTimestamp(DWORD index) { return FILETIME{0x10000000u + index * 0x1111u, 0x01DB4321}; }

// IOPCSyncIO::Write: a BSTR with an embedded NUL and a BSTR array, one
// unknown handle.
inline constexpr OPCHANDLE kWriteHandles[] = {1002, 1003, 0xDEAD};
inline constexpr DWORD kWriteCount = sizeof kWriteHandles / sizeof kWriteHandles[0];
inline constexpr wchar_t kWrittenState[] = L"neu \u00DF\0 nach NUL";
inline constexpr UINT kWrittenStateLength = sizeof kWrittenState / sizeof(wchar_t) - 1;
inline constexpr const wchar_t* kWrittenNames[] = {L"eins", L"", L"\u0434\u0432\u0430"};
inline constexpr HRESULT kWriteErrors[] = {S_OK, S_OK, kInvalidHandle};

// IOPCDataCallback: the data change the server sends after Refresh2, and
// the read completion it sends from inside IOPCAsyncIO2::Read.
inline constexpr DWORD kRefreshTransaction = 0x4242;
inline constexpr DWORD kReadTransaction = 0x1717;
inline constexpr DWORD kCancelId = 0x3030;
inline constexpr OPCHANDLE kCallbackHandles[] = {12, 13};
inline constexpr DWORD kCallbackCount = 2;
inline constexpr WORD kCallbackQualities[] = {OPC_QUALITY_GOOD, OPC_QUALITY_UNCERTAIN};
inline constexpr HRESULT kCallbackErrors[] = {S_OK, S_OK};
inline constexpr wchar_t kCallbackText[] = L"R\u00FCckmeldung \U0001F600";
inline constexpr double kCallbackArray[] = {1.5, -2.25, 1e300, 0.0};
inline FILETIME CallbackTimestamp(DWORD index) { return FILETIME{0x20000000u + index, 0x01DB5555}; }

// IOPCBrowseServerAddressSpace
inline constexpr wchar_t kBrowseFilter[] = L"Plant.*";
inline constexpr const wchar_t* kBrowseItems[] = {
  L"Plant.Tank1.Level", L"Plant.Tank1.State", L"Plant.Tank1.Profile", L"Plant.\u00DCberlauf"};
inline constexpr ULONG kBrowseCount = sizeof kBrowseItems / sizeof kBrowseItems[0];
inline constexpr wchar_t kBrowsePosition[] = L"Plant.Tank1";
inline constexpr wchar_t kItemDataId[] = L"Level";
inline constexpr wchar_t kFullItemId[] = L"Plant.Tank1.Level";

// IOPCItemProperties
inline constexpr DWORD kLookupIds[] = {100, 101, 5};
inline constexpr DWORD kLookupCount = 3;
inline constexpr const wchar_t* kLookupItemIds[] = {L"Plant.Tank1.Level.EU", L"Plant.Tank1.Level.Description", nullptr};
inline constexpr HRESULT kLookupErrors[] = {S_OK, S_OK, kInvalidPid};
inline constexpr DWORD kPropertyIds[] = {1, 2, 5, 100, 101};
inline constexpr const wchar_t* kPropertyDescriptions[] = {
  L"Item Canonical Data Type", L"Item Value", L"Item Access Rights", L"EU Units", L"Item Description"};
inline constexpr VARTYPE kPropertyTypes[] = {VT_I2, VT_VARIANT, VT_I4, VT_BSTR, VT_BSTR};
inline constexpr DWORD kPropertyCount = 5;

// Item attributes (IEnumOPCItemAttributes): the EU information per item.
inline constexpr double kAnalogRange[] = {0.0, 100.0};
inline constexpr const wchar_t* kEnumeratedStates[] = {L"stopped", L"running \u2713"};

// Builders shared by server and client --------------------------------------

inline SAFEARRAY* MakeArray(VARTYPE vt, ULONG count, const void* elements) {
  SAFEARRAY* array = SafeArrayCreateVector(vt, 0, count);
  if (!array) return nullptr;
  for (LONG i = 0; i < static_cast<LONG>(count); ++i) {
    HRESULT hr;
    if (vt == VT_BSTR) {
      BSTR text = SysAllocString(static_cast<const wchar_t* const*>(elements)[i]);
      hr = SafeArrayPutElement(array, &i, text);  // copies the string
      SysFreeString(text);
    } else if (vt == VT_I4) {
      LONG value = static_cast<const LONG*>(elements)[i];
      hr = SafeArrayPutElement(array, &i, &value);
    } else {
      double value = static_cast<const double*>(elements)[i];
      hr = SafeArrayPutElement(array, &i, &value);
    }
    if (FAILED(hr)) {
      SafeArrayDestroy(array);
      return nullptr;
    }
  }
  return array;
}

// The value the server holds for an item handle (VT_EMPTY for unknown ones).
inline void ItemValue(OPCHANDLE hServer, VARIANT* value) {
  VariantInit(value);
  switch (hServer) {
    case 1001: value->vt = VT_R8; value->dblVal = kLevel; break;
    case 1002: value->vt = VT_BSTR; value->bstrVal = SysAllocString(kState); break;
    case 1003: value->vt = VT_ARRAY | VT_I4; value->parray = MakeArray(VT_I4, 4, kProfile); break;
    default: break;
  }
}

// The EU information of an item attribute.
inline void EuInfo(OPCHANDLE hServer, OPCEUTYPE* type, VARIANT* info) {
  VariantInit(info);
  *type = OPC_NOENUM;
  if (hServer == 1001) {
    *type = OPC_ANALOG;
    info->vt = VT_ARRAY | VT_R8;
    info->parray = MakeArray(VT_R8, 2, kAnalogRange);
  } else if (hServer == 1002) {
    *type = OPC_ENUMERATED;
    info->vt = VT_ARRAY | VT_BSTR;
    info->parray = MakeArray(VT_BSTR, 2, kEnumeratedStates);
  }
}

// The values of the data change callback and of the write request.
inline void CallbackValue(DWORD index, VARIANT* value) {
  VariantInit(value);
  if (index == 0) {
    value->vt = VT_BSTR;
    value->bstrVal = SysAllocString(kCallbackText);
  } else {
    value->vt = VT_ARRAY | VT_R8;
    value->parray = MakeArray(VT_R8, 4, kCallbackArray);
  }
}

inline void WriteValue(DWORD index, VARIANT* value) {
  VariantInit(value);
  if (index == 0) {
    value->vt = VT_BSTR;
    value->bstrVal = SysAllocStringLen(kWrittenState, kWrittenStateLength);
  } else if (index == 1) {
    value->vt = VT_ARRAY | VT_BSTR;
    value->parray = MakeArray(VT_BSTR, 3, kWrittenNames);
  } else {
    value->vt = VT_I2;
    value->iVal = -7;
  }
}

// Whether two VARIANTs hold the same value: type, and for strings and
// one-dimensional arrays of I4/R8/BSTR every element, bit for bit.
inline bool SameBstr(BSTR a, BSTR b) {
  UINT length = SysStringByteLen(a);
  return length == SysStringByteLen(b) && (length == 0 || std::memcmp(a, b, length) == 0);
}

inline bool SameVariant(const VARIANT& a, const VARIANT& b) {
  if (a.vt != b.vt) return false;
  switch (a.vt) {
    case VT_EMPTY: return true;
    case VT_I2: return a.iVal == b.iVal;
    case VT_I4: return a.lVal == b.lVal;
    case VT_R8: return std::memcmp(&a.dblVal, &b.dblVal, sizeof(double)) == 0;
    case VT_BSTR: return SameBstr(a.bstrVal, b.bstrVal);
    default: break;
  }
  if (!(a.vt & VT_ARRAY) || !a.parray || !b.parray) return false;
  if (SafeArrayGetDim(a.parray) != 1 || SafeArrayGetDim(b.parray) != 1) return false;
  VARTYPE ta = VT_EMPTY, tb = VT_EMPTY;
  if (FAILED(SafeArrayGetVartype(a.parray, &ta)) || FAILED(SafeArrayGetVartype(b.parray, &tb)) || ta != tb)
    return false;
  if (a.parray->rgsabound[0].cElements != b.parray->rgsabound[0].cElements ||
      a.parray->rgsabound[0].lLbound != b.parray->rgsabound[0].lLbound)
    return false;
  ULONG count = a.parray->rgsabound[0].cElements;
  if (count == 0) return true;
  if (ta == VT_BSTR) {
    for (ULONG i = 0; i < count; ++i)
      if (!SameBstr(static_cast<BSTR*>(a.parray->pvData)[i], static_cast<BSTR*>(b.parray->pvData)[i]))
        return false;
    return true;
  }
  if (a.parray->cbElements != b.parray->cbElements) return false;
  return std::memcmp(a.parray->pvData, b.parray->pvData, count * a.parray->cbElements) == 0;
}

inline bool SameText(const wchar_t* a, const wchar_t* b) {
  if (!a || !b) return a == b;
  return std::wcscmp(a, b) == 0;
}

inline bool SameBytes(const BYTE* a, DWORD sizeA, const BYTE* b, DWORD sizeB) {
  if (sizeA != sizeB) return false;
  if (sizeA == 0) return true;
  return a && b && std::memcmp(a, b, sizeA) == 0;
}

inline bool SameTime(const FILETIME& a, const FILETIME& b) {
  return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

}  // namespace xelo_opc_proxy_test
