// The OPC Data Access interfaces (DA 1.0a and 2.0), in published vtable
// order with the published parameter types, each tied to its IID.
//
// Object model: a server object (IOPCServer, optionally
// IOPCServerPublicGroups, IOPCBrowseServerAddressSpace, IOPCItemProperties)
// hands out group objects (IOPCGroupStateMgt, IOPCItemMgt, IOPCSyncIO and
// IOPCAsyncIO2 or the DA 1.0 IOPCAsyncIO); IOPCDataCallback is implemented
// by the client and connected to a group's connection point.
//
// Memory, as everywhere in COM: `in` data stays the caller's. Every array,
// string and structure a method hands back through an out pointer comes
// from the task allocator and is freed by the caller with CoTaskMemFree,
// members included (strings, blobs); returned VARIANTs are cleared with
// VariantClear. Methods with a per-item error array answer S_OK when every
// item succeeded and S_FALSE when at least one failed; the arrays exist in
// both cases and in neither case on a failure code. The arrays a server
// passes to IOPCDataCallback belong to the server; a sink copies what it
// keeps.
//
// No C++ exception may leave an implementation of these methods.
#pragma once

#include "xelo/com/Enumerators.h"
#include "xelo/com/Unknown.h"
#include "xelo/com/Variant.h"
#include "xelo/opc/OpcTypes.h"

// --- Interface identifiers ----------------------------------------------------

inline constexpr IID IID_IOPCServer{0x39C13A4D, 0x011E, 0x11D0, {0x96, 0x75, 0x00, 0x20, 0xAF, 0xD8, 0xAD, 0xB3}};
inline constexpr IID IID_IOPCServerPublicGroups{0x39C13A4E, 0x011E, 0x11D0,
                                                {0x96, 0x75, 0x00, 0x20, 0xAF, 0xD8, 0xAD, 0xB3}};
inline constexpr IID IID_IOPCBrowseServerAddressSpace{0x39C13A4F, 0x011E, 0x11D0,
                                                      {0x96, 0x75, 0x00, 0x20, 0xAF, 0xD8, 0xAD, 0xB3}};
inline constexpr IID IID_IOPCGroupStateMgt{0x39C13A50, 0x011E, 0x11D0,
                                           {0x96, 0x75, 0x00, 0x20, 0xAF, 0xD8, 0xAD, 0xB3}};
inline constexpr IID IID_IOPCPublicGroupStateMgt{0x39C13A51, 0x011E, 0x11D0,
                                                 {0x96, 0x75, 0x00, 0x20, 0xAF, 0xD8, 0xAD, 0xB3}};
inline constexpr IID IID_IOPCSyncIO{0x39C13A52, 0x011E, 0x11D0, {0x96, 0x75, 0x00, 0x20, 0xAF, 0xD8, 0xAD, 0xB3}};
inline constexpr IID IID_IOPCAsyncIO{0x39C13A53, 0x011E, 0x11D0, {0x96, 0x75, 0x00, 0x20, 0xAF, 0xD8, 0xAD, 0xB3}};
inline constexpr IID IID_IOPCItemMgt{0x39C13A54, 0x011E, 0x11D0, {0x96, 0x75, 0x00, 0x20, 0xAF, 0xD8, 0xAD, 0xB3}};
inline constexpr IID IID_IEnumOPCItemAttributes{0x39C13A55, 0x011E, 0x11D0,
                                                {0x96, 0x75, 0x00, 0x20, 0xAF, 0xD8, 0xAD, 0xB3}};
inline constexpr IID IID_IOPCDataCallback{0x39C13A70, 0x011E, 0x11D0,
                                          {0x96, 0x75, 0x00, 0x20, 0xAF, 0xD8, 0xAD, 0xB3}};
inline constexpr IID IID_IOPCAsyncIO2{0x39C13A71, 0x011E, 0x11D0, {0x96, 0x75, 0x00, 0x20, 0xAF, 0xD8, 0xAD, 0xB3}};
inline constexpr IID IID_IOPCItemProperties{0x39C13A72, 0x011E, 0x11D0,
                                            {0x96, 0x75, 0x00, 0x20, 0xAF, 0xD8, 0xAD, 0xB3}};

// DA 3.0 interfaces. We neither call nor implement them; the identifiers
// are here so that a tool looking at a server can tell what it offers.
inline constexpr IID IID_IOPCItemDeadbandMgt{0x5946DA93, 0x8B39, 0x4EC8,
                                             {0xAB, 0x3D, 0xAA, 0x73, 0xDF, 0x5B, 0xC8, 0x6F}};
inline constexpr IID IID_IOPCItemSamplingMgt{0x3E22D313, 0xF08B, 0x41A5,
                                             {0x86, 0xC8, 0x95, 0xE9, 0x5C, 0xB4, 0x9F, 0xFC}};
inline constexpr IID IID_IOPCBrowse{0x39227004, 0xA18F, 0x4B57, {0x8B, 0x0A, 0x52, 0x35, 0x67, 0x0F, 0x44, 0x68}};
inline constexpr IID IID_IOPCItemIO{0x85C0B427, 0x2893, 0x4CBC, {0xBD, 0x78, 0xE5, 0xFC, 0x51, 0x46, 0xF0, 0x8F}};
inline constexpr IID IID_IOPCSyncIO2{0x730F5F0F, 0x55B1, 0x4C81, {0x9E, 0x18, 0xFF, 0x8A, 0x09, 0x04, 0xE1, 0xFA}};
inline constexpr IID IID_IOPCAsyncIO3{0x0967B97B, 0x36EF, 0x423E, {0xB6, 0xF8, 0x6B, 0xFF, 0x1E, 0x40, 0xD3, 0x9D}};
inline constexpr IID IID_IOPCGroupStateMgt2{0x8E368666, 0xD72E, 0x4F78,
                                            {0x87, 0xED, 0x64, 0x76, 0x11, 0xC6, 0x1C, 0x9F}};

// --- Server object ----------------------------------------------------------------

struct IOPCServer : public IUnknown {
  // An empty or null name lets the server make one up. pTimeBias and
  // pPercentDeadband may be null (server defaults). OPC_S_UNSUPPORTEDRATE
  // when *pRevisedUpdateRate differs from the requested rate.
  STDMETHOD(AddGroup)(LPCWSTR szName, BOOL bActive, DWORD dwRequestedUpdateRate, OPCHANDLE hClientGroup,
                      LONG* pTimeBias, FLOAT* pPercentDeadband, DWORD dwLCID, OPCHANDLE* phServerGroup,
                      DWORD* pRevisedUpdateRate, REFIID riid, LPUNKNOWN* ppUnk) PURE;
  STDMETHOD(GetErrorString)(HRESULT dwError, LCID dwLocale, LPWSTR* ppString) PURE;
  STDMETHOD(GetGroupByName)(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) PURE;
  STDMETHOD(GetStatus)(OPCSERVERSTATUS** ppServerStatus) PURE;
  STDMETHOD(RemoveGroup)(OPCHANDLE hServerGroup, BOOL bForce) PURE;
  // riid is IID_IEnumString (names) or IID_IEnumUnknown (groups); S_FALSE
  // with an empty enumerator when there is nothing to list.
  STDMETHOD(CreateGroupEnumerator)(OPCENUMSCOPE dwScope, REFIID riid, LPUNKNOWN* ppUnk) PURE;
};
XELO_DECLARE_IID(IOPCServer);

struct IOPCServerPublicGroups : public IUnknown {
  STDMETHOD(GetPublicGroupByName)(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) PURE;
  STDMETHOD(RemovePublicGroup)(OPCHANDLE hServerGroup, BOOL bForce) PURE;
};
XELO_DECLARE_IID(IOPCServerPublicGroups);

struct IOPCBrowseServerAddressSpace : public IUnknown {
  STDMETHOD(QueryOrganization)(OPCNAMESPACETYPE* pNameSpaceType) PURE;
  // UP ignores szString, DOWN takes a child branch name, TO a fully
  // qualified branch ("" or null: the root).
  STDMETHOD(ChangeBrowsePosition)(OPCBROWSEDIRECTION dwBrowseDirection, LPCWSTR szString) PURE;
  // VT_EMPTY and 0 mean "no filter". S_FALSE with an empty enumerator (which
  // the caller still releases) when nothing matches.
  STDMETHOD(BrowseOPCItemIDs)(OPCBROWSETYPE dwBrowseFilterType, LPCWSTR szFilterCriteria,
                              VARTYPE vtDataTypeFilter, DWORD dwAccessRightsFilter,
                              LPENUMSTRING* ppIEnumString) PURE;
  STDMETHOD(GetItemID)(LPWSTR szItemDataID, LPWSTR* szItemID) PURE;
  STDMETHOD(BrowseAccessPaths)(LPCWSTR szItemID, LPENUMSTRING* ppIEnumString) PURE;
};
XELO_DECLARE_IID(IOPCBrowseServerAddressSpace);

struct IOPCItemProperties : public IUnknown {
  STDMETHOD(QueryAvailableProperties)(LPWSTR szItemID, DWORD* pdwCount, DWORD** ppPropertyIDs,
                                      LPWSTR** ppDescriptions, VARTYPE** ppvtDataTypes) PURE;
  STDMETHOD(GetItemProperties)(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs, VARIANT** ppvData,
                               HRESULT** ppErrors) PURE;
  STDMETHOD(LookupItemIDs)(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs, LPWSTR** ppszNewItemIDs,
                           HRESULT** ppErrors) PURE;
};
XELO_DECLARE_IID(IOPCItemProperties);

// --- Group object -----------------------------------------------------------------

struct IOPCGroupStateMgt : public IUnknown {
  STDMETHOD(GetState)(DWORD* pUpdateRate, BOOL* pActive, LPWSTR* ppName, LONG* pTimeBias,
                      FLOAT* pPercentDeadband, DWORD* pLCID, OPCHANDLE* phClientGroup,
                      OPCHANDLE* phServerGroup) PURE;
  // A null `in` pointer leaves that setting unchanged.
  STDMETHOD(SetState)(DWORD* pRequestedUpdateRate, DWORD* pRevisedUpdateRate, BOOL* pActive, LONG* pTimeBias,
                      FLOAT* pPercentDeadband, DWORD* pLCID, OPCHANDLE* phClientGroup) PURE;
  STDMETHOD(SetName)(LPCWSTR szName) PURE;
  STDMETHOD(CloneGroup)(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) PURE;
};
XELO_DECLARE_IID(IOPCGroupStateMgt);

struct IOPCPublicGroupStateMgt : public IUnknown {
  STDMETHOD(GetState)(BOOL* pPublic) PURE;
  STDMETHOD(MoveToPublic)() PURE;
};
XELO_DECLARE_IID(IOPCPublicGroupStateMgt);

struct IOPCSyncIO : public IUnknown {
  STDMETHOD(Read)(OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer, OPCITEMSTATE** ppItemValues,
                  HRESULT** ppErrors) PURE;
  STDMETHOD(Write)(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues, HRESULT** ppErrors) PURE;
};
XELO_DECLARE_IID(IOPCSyncIO);

// DA 1.0 asynchronous access. dwConnection is the token the group's
// IDataObject::DAdvise returned for the stream format the result arrives
// in; the server's *pTransactionID reappears in that stream's header.
struct IOPCAsyncIO : public IUnknown {
  STDMETHOD(Read)(DWORD dwConnection, OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer,
                  DWORD* pTransactionID, HRESULT** ppErrors) PURE;
  STDMETHOD(Write)(DWORD dwConnection, DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                   DWORD* pTransactionID, HRESULT** ppErrors) PURE;
  STDMETHOD(Refresh)(DWORD dwConnection, OPCDATASOURCE dwSource, DWORD* pTransactionID) PURE;
  STDMETHOD(Cancel)(DWORD dwTransactionID) PURE;
};
XELO_DECLARE_IID(IOPCAsyncIO);

struct IEnumOPCItemAttributes;

struct IOPCItemMgt : public IUnknown {
  STDMETHOD(AddItems)(DWORD dwCount, OPCITEMDEF* pItemArray, OPCITEMRESULT** ppAddResults,
                      HRESULT** ppErrors) PURE;
  STDMETHOD(ValidateItems)(DWORD dwCount, OPCITEMDEF* pItemArray, BOOL bBlobUpdate,
                           OPCITEMRESULT** ppValidationResults, HRESULT** ppErrors) PURE;
  STDMETHOD(RemoveItems)(DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors) PURE;
  STDMETHOD(SetActiveState)(DWORD dwCount, OPCHANDLE* phServer, BOOL bActive, HRESULT** ppErrors) PURE;
  STDMETHOD(SetClientHandles)(DWORD dwCount, OPCHANDLE* phServer, OPCHANDLE* phClient, HRESULT** ppErrors) PURE;
  STDMETHOD(SetDatatypes)(DWORD dwCount, OPCHANDLE* phServer, VARTYPE* pRequestedDatatypes,
                          HRESULT** ppErrors) PURE;
  // riid is IID_IEnumOPCItemAttributes.
  STDMETHOD(CreateEnumerator)(REFIID riid, LPUNKNOWN* ppUnk) PURE;
};
XELO_DECLARE_IID(IOPCItemMgt);

// Unlike the standard enumerators, Next allocates the array it returns; the
// caller frees it and, per element, szAccessPath, szItemID, pBlob and
// vEUInfo.
struct IEnumOPCItemAttributes : public IUnknown {
  STDMETHOD(Next)(ULONG celt, OPCITEMATTRIBUTES** ppItemArray, ULONG* pceltFetched) PURE;
  STDMETHOD(Skip)(ULONG celt) PURE;
  STDMETHOD(Reset)() PURE;
  STDMETHOD(Clone)(IEnumOPCItemAttributes** ppEnumItemAttributes) PURE;
};
XELO_DECLARE_IID(IEnumOPCItemAttributes);

// Implemented by the client. hGroup and the item handles are the client's
// own handles. dwTransid is 0 for subscription updates and the client's
// transaction id for completions of Read, Write, Refresh2 and Cancel2. The
// master quality is S_OK when every quality is good, the master error S_OK
// when every error is; S_FALSE otherwise.
struct IOPCDataCallback : public IUnknown {
  STDMETHOD(OnDataChange)(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality, HRESULT hrMastererror,
                          DWORD dwCount, OPCHANDLE* phClientItems, VARIANT* pvValues, WORD* pwQualities,
                          FILETIME* pftTimeStamps, HRESULT* pErrors) PURE;
  STDMETHOD(OnReadComplete)(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality, HRESULT hrMastererror,
                            DWORD dwCount, OPCHANDLE* phClientItems, VARIANT* pvValues, WORD* pwQualities,
                            FILETIME* pftTimeStamps, HRESULT* pErrors) PURE;
  STDMETHOD(OnWriteComplete)(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMastererr, DWORD dwCount,
                             OPCHANDLE* pClienthandles, HRESULT* pErrors) PURE;
  STDMETHOD(OnCancelComplete)(DWORD dwTransid, OPCHANDLE hGroup) PURE;
};
XELO_DECLARE_IID(IOPCDataCallback);

// DA 2.0 asynchronous access; results arrive through the IOPCDataCallback
// connected to the group (CONNECT_E_NOCONNECTION without one). Items that
// fail in ppErrors are left out of the completion.
struct IOPCAsyncIO2 : public IUnknown {
  STDMETHOD(Read)(DWORD dwCount, OPCHANDLE* phServer, DWORD dwTransactionID, DWORD* pdwCancelID,
                  HRESULT** ppErrors) PURE;
  STDMETHOD(Write)(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues, DWORD dwTransactionID,
                   DWORD* pdwCancelID, HRESULT** ppErrors) PURE;
  STDMETHOD(Refresh2)(OPCDATASOURCE dwSource, DWORD dwTransactionID, DWORD* pdwCancelID) PURE;
  STDMETHOD(Cancel2)(DWORD dwCancelID) PURE;
  // SetEnable(FALSE) stops subscription callbacks, not Refresh2 results.
  STDMETHOD(SetEnable)(BOOL bEnable) PURE;
  STDMETHOD(GetEnable)(BOOL* pbEnable) PURE;
};
XELO_DECLARE_IID(IOPCAsyncIO2);
