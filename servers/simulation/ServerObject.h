// The OPC DA server object of the simulation server (one per
// CoCreateInstance): IOPCServer, IOPCCommon, IConnectionPointContainer with
// the IOPCShutdown point, IOPCBrowseServerAddressSpace and
// IOPCItemProperties. The DA 1.0 flavour answers no
// IConnectionPointContainer.
//
// Ownership: the server holds one reference to each group in its name
// table; groups refer back without a reference and are detached (sinks
// released, no more back pointer) when they leave the table or the server
// goes away, so there is no cycle. Main thread only; no exception leaves a
// COM method.
//
// Killed (SimulationControl::KillServers), the object stands for a server
// whose process was ended: AddRef and Release still work (a client's COM
// answers them locally), QueryInterface for anything but IUnknown and
// every method answer the kill code, and the shutdown sinks it held are
// handed to the runtime unreleased.
//
// Choices: null required pointers answer E_INVALIDARG; RemoveGroup of an
// unknown handle answers E_FAIL; a forced RemoveGroup answers S_OK even
// while the client still holds the group; AddGroup accepts any LCID;
// CreateGroupEnumerator lists no public groups (there are none).
#pragma once

#include "servers/simulation/AddressSpaceBrowser.h"
#include "servers/simulation/GroupSettings.h"
#include "servers/simulation/SimulationControl.h"
#include "servers/simulation/SimulationServer.h"
#include "xelo/com/ComObject.h"
#include "xelo/com/ConnectionPoint.h"
#include "xelo/opc/Opc.h"

#include <map>
#include <optional>
#include <string_view>
#include <string>

namespace xelo::sim {

class GroupObject;

class ServerObject final : public xelo::com::ComObject<IOPCServer, IOPCCommon, IConnectionPointContainer,
                                                       IOPCBrowseServerAddressSpace, IOPCItemProperties> {
 public:
  explicit ServerObject(ServerFlavour flavour);
  ~ServerObject() override;

  STDMETHOD(QueryInterface)(REFIID riid, void** ppvObject) override;

  // IOPCServer
  STDMETHOD(AddGroup)(LPCWSTR szName, BOOL bActive, DWORD dwRequestedUpdateRate, OPCHANDLE hClientGroup,
                      LONG* pTimeBias, FLOAT* pPercentDeadband, DWORD dwLCID, OPCHANDLE* phServerGroup,
                      DWORD* pRevisedUpdateRate, REFIID riid, LPUNKNOWN* ppUnk) override;
  STDMETHOD(GetErrorString)(HRESULT dwError, LCID dwLocale, LPWSTR* ppString) override;
  STDMETHOD(GetGroupByName)(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) override;
  STDMETHOD(GetStatus)(OPCSERVERSTATUS** ppServerStatus) override;
  STDMETHOD(RemoveGroup)(OPCHANDLE hServerGroup, BOOL bForce) override;
  STDMETHOD(CreateGroupEnumerator)(OPCENUMSCOPE dwScope, REFIID riid, LPUNKNOWN* ppUnk) override;

  // IOPCCommon
  STDMETHOD(SetLocaleID)(LCID dwLcid) override;
  STDMETHOD(GetLocaleID)(LCID* pdwLcid) override;
  STDMETHOD(QueryAvailableLocaleIDs)(DWORD* pdwCount, LCID** pdwLcid) override;
  STDMETHOD(GetErrorString)(HRESULT dwError, LPWSTR* ppString) override;
  STDMETHOD(SetClientName)(LPCWSTR szName) override;

  // IConnectionPointContainer
  STDMETHOD(EnumConnectionPoints)(IEnumConnectionPoints** ppEnum) override;
  STDMETHOD(FindConnectionPoint)(REFIID riid, IConnectionPoint** ppCP) override;

  // IOPCBrowseServerAddressSpace
  STDMETHOD(QueryOrganization)(OPCNAMESPACETYPE* pNameSpaceType) override;
  STDMETHOD(ChangeBrowsePosition)(OPCBROWSEDIRECTION dwBrowseDirection, LPCWSTR szString) override;
  STDMETHOD(BrowseOPCItemIDs)(OPCBROWSETYPE dwBrowseFilterType, LPCWSTR szFilterCriteria, VARTYPE vtDataTypeFilter,
                              DWORD dwAccessRightsFilter, LPENUMSTRING* ppIEnumString) override;
  STDMETHOD(GetItemID)(LPWSTR szItemDataID, LPWSTR* szItemID) override;
  STDMETHOD(BrowseAccessPaths)(LPCWSTR szItemID, LPENUMSTRING* ppIEnumString) override;

  // IOPCItemProperties
  STDMETHOD(QueryAvailableProperties)(LPWSTR szItemID, DWORD* pdwCount, DWORD** ppPropertyIDs,
                                      LPWSTR** ppDescriptions, VARTYPE** ppvtDataTypes) override;
  STDMETHOD(GetItemProperties)(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs, VARIANT** ppvData,
                               HRESULT** ppErrors) override;
  STDMETHOD(LookupItemIDs)(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs, LPWSTR** ppszNewItemIDs,
                           HRESULT** ppErrors) override;

  // ---- for groups and the runtime ----
  ServerFlavour Flavour() const { return flavour_; }
  bool NameInUse(com::OleStringView name) const;
  // Adds a group to the name table (CloneGroup, AddGroup); the settings'
  // name must be free and not empty.
  xelo::com::ComPtr<GroupObject> CreateGroup(const GroupSettings& settings);
  com::OleString UniqueGroupName();
  void NoteUpdateSent();
  void DeliverShutdown(const com::OleString& reason);
  LCID Locale() const { return locale_; }
  // The server died; every later call answers `code`.
  void Kill(HRESULT code);
  bool Killed() const { return FAILED(killed_); }

 private:
  // The start of every method: the kill code for a killed server, else the
  // call recorder's answer (Runtime().Enter).
  std::optional<HRESULT> Enter(std::string_view method, CallArguments args = {});

  static bool LocaleSupported(LCID lcid);
  static HRESULT ErrorText(HRESULT code, LPWSTR* text);

  const ServerFlavour flavour_;
  DWORD runtimeId_ = 0;
  xelo::com::ConnectionPointList points_;
  xelo::com::ComPtr<xelo::com::ConnectionPoint> shutdown_;
  AddressSpaceBrowser browser_;
  std::map<OPCHANDLE, xelo::com::ComPtr<GroupObject>> groups_;
  OPCHANDLE nextGroupHandle_ = 1;
  DWORD generatedNames_ = 0;
  LCID locale_ = 0x0800;  // LOCALE_SYSTEM_DEFAULT
  com::OleString clientName_;
  FILETIME lastUpdate_{};
  HRESULT killed_ = S_OK;
};

}  // namespace xelo::sim
