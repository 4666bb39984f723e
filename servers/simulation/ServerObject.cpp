#include "servers/simulation/ServerObject.h"

#include "servers/simulation/ComGuard.h"
#include "servers/simulation/GroupObject.h"
#include "servers/simulation/ItemProperties.h"
#include "servers/simulation/LoanCheck.h"
#include "servers/simulation/SimulationRuntime.h"
#include "servers/simulation/StringEnumerator.h"
#include "servers/simulation/TaskArray.h"
#include "servers/simulation/TimeSource.h"
#include "xelo/com/EnumeratorImpl.h"
#include "xelo/com/WideText.h"

#include <cmath>
#include <string_view>

namespace xelo::sim {
namespace {

using xelo::com::ComPtr;

constexpr LCID kLocaleNeutral = 0x0000;
constexpr LCID kLocaleEnglishUS = 0x0409;
constexpr LCID kLocaleSystemDefault = 0x0800;

SimulationRuntime& Runtime() { return SimulationRuntime::Instance(); }

com::OleString Text(const OLECHAR* text) { return text != nullptr ? com::OleString(text) : com::OleString(); }

}  // namespace

ServerObject::ServerObject(ServerFlavour flavour)
    : flavour_(flavour),
      points_(static_cast<IConnectionPointContainer*>(this)),
      browser_(Runtime().Space(), flavour == ServerFlavour::Flat) {
  shutdown_ = points_.Add(IID_IOPCShutdown);
  runtimeId_ = Runtime().AddServer(this);
}

ServerObject::~ServerObject() {
  // Sinks go first: one might call back into us while it is released.
  points_.DetachAll();
  for (auto& [handle, group] : groups_) group->Detach();
  groups_.clear();
  Runtime().RemoveServer(runtimeId_);
}
HRESULT ServerObject::QueryInterface(REFIID riid, void** ppvObject) {
  if (FAILED(killed_) && !(riid == IID_IUnknown)) {
    // Only what the client's side answers by itself still works.
    if (ppvObject == nullptr) return E_POINTER;
    *ppvObject = nullptr;
    Runtime().NoteKilledCall();
    return killed_;
  }
  if (flavour_ == ServerFlavour::DA1Only && riid == IID_IConnectionPointContainer) {
    if (ppvObject == nullptr) return E_POINTER;
    *ppvObject = nullptr;
    return E_NOINTERFACE;
  }
  return ComObject::QueryInterface(riid, ppvObject);
}

// ---- helpers for groups and the runtime ----

std::optional<HRESULT> ServerObject::Enter(std::string_view method, CallArguments args) {
  if (FAILED(killed_)) {
    Runtime().NoteKilledCall();
    return killed_;
  }
  return Runtime().Enter(method, std::move(args));
}

void ServerObject::Kill(HRESULT code) {
  killed_ = code;
  Runtime().Abandon(shutdown_->TakeSinks());
}

bool ServerObject::NameInUse(com::OleStringView name) const {
  for (const auto& [handle, group] : groups_) {
    if (group->Name() == name) return true;
  }
  return false;
}

com::OleString ServerObject::UniqueGroupName() {
  for (;;) {
    com::OleString name = OLESTR("Group ") + xelo::com::ToUtf16(std::to_string(++generatedNames_));
    if (!NameInUse(name)) return name;
  }
}

ComPtr<GroupObject> ServerObject::CreateGroup(const GroupSettings& settings) {
  const OPCHANDLE handle = nextGroupHandle_++;
  auto group = xelo::com::MakeComObject<GroupObject>(this, flavour_, handle, settings);
  groups_.emplace(handle, group);
  return group;
}

void ServerObject::NoteUpdateSent() { lastUpdate_ = TimeSource::Now(); }

void ServerObject::DeliverShutdown(const com::OleString& reason) {
  for (const auto& sink : shutdown_->Sinks<IOPCShutdown>()) {
    LoanCheck loan("IOPCShutdown::ShutdownRequest");
    loan.LendText("szReason", reason.c_str());
    sink->ShutdownRequest(reason.c_str());
    loan.Verify();
  }
}

bool ServerObject::LocaleSupported(LCID lcid) {
  return lcid == kLocaleNeutral || lcid == kLocaleEnglishUS || lcid == kLocaleSystemDefault;
}

HRESULT ServerObject::ErrorText(HRESULT code, LPWSTR* text) {
  const std::string message = xelo::com::KnownSystemMessageText(code);
  if (message.empty()) return E_INVALIDARG;
  *text = HandOver(TaskString(xelo::com::ToUtf16(message)), "*ppString");
  return S_OK;
}

// ---- IOPCServer ----

HRESULT ServerObject::AddGroup(LPCWSTR szName, BOOL bActive, DWORD dwRequestedUpdateRate, OPCHANDLE hClientGroup,
                               LONG* pTimeBias, FLOAT* pPercentDeadband, DWORD dwLCID, OPCHANDLE* phServerGroup,
                               DWORD* pRevisedUpdateRate, REFIID riid, LPUNKNOWN* ppUnk) {
  return Guarded([&]() -> HRESULT {
    if (ppUnk != nullptr) *ppUnk = nullptr;
    if (auto injected = Enter("IOPCServer::AddGroup", CallArguments().Set(&CallArguments::requestedRate, dwRequestedUpdateRate).Set(&CallArguments::locale, dwLCID).Set(&CallArguments::flag, bActive).Set(&CallArguments::text, Text(szName)))) {
      return *injected;
    }
    if (phServerGroup == nullptr || pRevisedUpdateRate == nullptr || ppUnk == nullptr) return E_INVALIDARG;
    GroupSettings settings;
    if (pPercentDeadband != nullptr) {
      if (!(*pPercentDeadband >= 0.0f && *pPercentDeadband <= 100.0f)) return E_INVALIDARG;
      settings.percentDeadband = *pPercentDeadband;
    }
    settings.name = Text(szName);
    if (settings.name.empty()) {
      settings.name = UniqueGroupName();
    } else if (NameInUse(settings.name)) {
      return OPC_E_DUPLICATENAME;
    }
    settings.active = bActive != FALSE;
    settings.updateRate = GroupObject::ReviseRate(dwRequestedUpdateRate);
    settings.clientHandle = hClientGroup;
    settings.timeBias = pTimeBias != nullptr ? *pTimeBias : TimeSource::LocalBiasMinutes();
    settings.lcid = dwLCID;
    ComPtr<GroupObject> group = CreateGroup(settings);
    const HRESULT hr = group->QueryInterface(riid, reinterpret_cast<void**>(ppUnk));
    if (FAILED(hr)) {
      groups_.erase(group->ServerHandle());
      group->Detach();
      return hr;
    }
    *phServerGroup = group->ServerHandle();
    *pRevisedUpdateRate = settings.updateRate;
    return settings.updateRate != dwRequestedUpdateRate ? OPC_S_UNSUPPORTEDRATE : S_OK;
  });
}

HRESULT ServerObject::GetErrorString(HRESULT dwError, LCID dwLocale, LPWSTR* ppString) {
  return Guarded([&]() -> HRESULT {
    if (ppString != nullptr) *ppString = nullptr;
    if (auto injected = Enter("IOPCServer::GetErrorString", CallArguments().Set(&CallArguments::locale, dwLocale).Set(&CallArguments::code, dwError))) {
      return *injected;
    }
    if (ppString == nullptr || !LocaleSupported(dwLocale)) return E_INVALIDARG;
    return ErrorText(dwError, ppString);
  });
}

HRESULT ServerObject::GetGroupByName(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) {
  return Guarded([&]() -> HRESULT {
    if (ppUnk != nullptr) *ppUnk = nullptr;
    if (auto injected = Enter("IOPCServer::GetGroupByName", CallArguments().Set(&CallArguments::text, Text(szName)))) return *injected;
    if (szName == nullptr || ppUnk == nullptr) return E_INVALIDARG;
    for (const auto& [handle, group] : groups_) {
      if (group->Name() == szName) return group->QueryInterface(riid, reinterpret_cast<void**>(ppUnk));
    }
    return E_INVALIDARG;
  });
}

HRESULT ServerObject::GetStatus(OPCSERVERSTATUS** ppServerStatus) {
  return Guarded([&]() -> HRESULT {
    if (ppServerStatus != nullptr) *ppServerStatus = nullptr;
    if (auto injected = Enter("IOPCServer::GetStatus")) return *injected;
    if (ppServerStatus == nullptr) return E_INVALIDARG;
    const auto& fields = Runtime().Status();
    TaskArray<OPCSERVERSTATUS> status(1);
    status[0].ftStartTime = fields.startTime;
    status[0].ftCurrentTime = TimeSource::Now();
    status[0].ftLastUpdateTime = lastUpdate_;
    status[0].dwServerState = fields.state;
    status[0].dwGroupCount = static_cast<DWORD>(groups_.size());
    status[0].dwBandWidth = fields.bandWidth;
    status[0].wMajorVersion = fields.majorVersion;
    status[0].wMinorVersion = fields.minorVersion;
    status[0].wBuildNumber = fields.buildNumber;
    status[0].szVendorInfo = TaskString(fields.vendorInfo);
    *ppServerStatus = status.Release("ppServerStatus");
    return S_OK;
  });
}

HRESULT ServerObject::RemoveGroup(OPCHANDLE hServerGroup, BOOL bForce) {
  return Guarded([&]() -> HRESULT {
    if (auto injected = Enter("IOPCServer::RemoveGroup", CallArguments().Set(&CallArguments::flag, bForce).Set(&CallArguments::handle, hServerGroup))) {
      return *injected;
    }
    const auto it = groups_.find(hServerGroup);
    if (it == groups_.end()) return E_FAIL;
    ComPtr<GroupObject> group = std::move(it->second);
    groups_.erase(it);
    group->Detach();
    // Our own reference and the local one are ours; anything beyond is
    // the client's.
    const bool inUse = group->References() > 1;
    return inUse && bForce == FALSE ? OPC_S_INUSE : S_OK;
  });
}

HRESULT ServerObject::CreateGroupEnumerator(OPCENUMSCOPE dwScope, REFIID riid, LPUNKNOWN* ppUnk) {
  return Guarded([&]() -> HRESULT {
    if (ppUnk != nullptr) *ppUnk = nullptr;
    if (auto injected = Enter("IOPCServer::CreateGroupEnumerator", {})) return *injected;
    if (ppUnk == nullptr) return E_INVALIDARG;
    bool privateGroups = false;
    switch (dwScope) {
      case OPC_ENUM_PRIVATE_CONNECTIONS:
      case OPC_ENUM_PRIVATE:
      case OPC_ENUM_ALL_CONNECTIONS:
      case OPC_ENUM_ALL:
        privateGroups = true;
        break;
      case OPC_ENUM_PUBLIC_CONNECTIONS:
      case OPC_ENUM_PUBLIC:
        break;
      default:
        return E_INVALIDARG;
    }
    std::size_t count = 0;
    if (riid == IID_IEnumString) {
      std::vector<com::OleString> names;
      if (privateGroups) {
        for (const auto& [handle, group] : groups_) names.push_back(group->Name());
      }
      count = names.size();
      *ppUnk = MakeStringEnumerator(std::move(names)).Detach();
    } else if (riid == IID_IEnumUnknown) {
      std::vector<ComPtr<IUnknown>> objects;
      if (privateGroups) {
        for (const auto& [handle, group] : groups_) objects.emplace_back(group->GetUnknown());
      }
      count = objects.size();
      *ppUnk = xelo::com::MakeUnknownEnumerator(std::move(objects)).Detach();
    } else {
      return E_NOINTERFACE;
    }
    return count > 0 ? S_OK : S_FALSE;
  });
}

// ---- IOPCCommon ----

HRESULT ServerObject::SetLocaleID(LCID dwLcid) {
  return Guarded([&]() -> HRESULT {
    if (auto injected = Enter("IOPCCommon::SetLocaleID", CallArguments().Set(&CallArguments::locale, dwLcid))) return *injected;
    if (!LocaleSupported(dwLcid)) return E_INVALIDARG;
    locale_ = dwLcid;
    return S_OK;
  });
}

HRESULT ServerObject::GetLocaleID(LCID* pdwLcid) {
  return Guarded([&]() -> HRESULT {
    if (auto injected = Enter("IOPCCommon::GetLocaleID")) return *injected;
    if (pdwLcid == nullptr) return E_INVALIDARG;
    *pdwLcid = locale_;
    return S_OK;
  });
}

HRESULT ServerObject::QueryAvailableLocaleIDs(DWORD* pdwCount, LCID** pdwLcid) {
  return Guarded([&]() -> HRESULT {
    if (pdwCount != nullptr) *pdwCount = 0;
    if (pdwLcid != nullptr) *pdwLcid = nullptr;
    if (auto injected = Enter("IOPCCommon::QueryAvailableLocaleIDs")) return *injected;
    if (pdwCount == nullptr || pdwLcid == nullptr) return E_INVALIDARG;
    TaskArray<LCID> locales(3);
    locales[0] = kLocaleSystemDefault;
    locales[1] = kLocaleEnglishUS;
    locales[2] = kLocaleNeutral;
    *pdwCount = 3;
    *pdwLcid = locales.Release("pdwLcid");
    return S_OK;
  });
}

HRESULT ServerObject::GetErrorString(HRESULT dwError, LPWSTR* ppString) {
  return Guarded([&]() -> HRESULT {
    if (ppString != nullptr) *ppString = nullptr;
    if (auto injected = Enter("IOPCCommon::GetErrorString", CallArguments().Set(&CallArguments::locale, locale_).Set(&CallArguments::code, dwError))) {
      return *injected;
    }
    if (ppString == nullptr) return E_INVALIDARG;
    return ErrorText(dwError, ppString);
  });
}

HRESULT ServerObject::SetClientName(LPCWSTR szName) {
  return Guarded([&]() -> HRESULT {
    if (auto injected = Enter("IOPCCommon::SetClientName", CallArguments().Set(&CallArguments::text, Text(szName)))) return *injected;
    if (szName == nullptr) return E_INVALIDARG;
    clientName_ = szName;
    return S_OK;
  });
}

// ---- IConnectionPointContainer ----

HRESULT ServerObject::EnumConnectionPoints(IEnumConnectionPoints** ppEnum) {
  return Guarded([&]() -> HRESULT {
    if (ppEnum != nullptr) *ppEnum = nullptr;
    if (auto injected = Enter("IConnectionPointContainer::EnumConnectionPoints")) return *injected;
    return points_.EnumConnectionPoints(ppEnum);
  });
}

HRESULT ServerObject::FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) {
  return Guarded([&]() -> HRESULT {
    if (ppCP != nullptr) *ppCP = nullptr;
    if (auto injected = Enter("IConnectionPointContainer::FindConnectionPoint")) return *injected;
    return points_.FindConnectionPoint(riid, ppCP);
  });
}

// ---- IOPCBrowseServerAddressSpace ----

HRESULT ServerObject::QueryOrganization(OPCNAMESPACETYPE* pNameSpaceType) {
  return Guarded([&]() -> HRESULT {
    if (auto injected = Enter("IOPCBrowseServerAddressSpace::QueryOrganization")) return *injected;
    if (pNameSpaceType == nullptr) return E_INVALIDARG;
    *pNameSpaceType = browser_.Organization();
    return S_OK;
  });
}

HRESULT ServerObject::ChangeBrowsePosition(OPCBROWSEDIRECTION dwBrowseDirection, LPCWSTR szString) {
  return Guarded([&]() -> HRESULT {
    if (auto injected = Enter("IOPCBrowseServerAddressSpace::ChangeBrowsePosition",
                                        CallArguments().Set(&CallArguments::browseDirection, dwBrowseDirection).Set(&CallArguments::text, Text(szString)))) {
      return *injected;
    }
    return browser_.ChangePosition(dwBrowseDirection, Text(szString));
  });
}

HRESULT ServerObject::BrowseOPCItemIDs(OPCBROWSETYPE dwBrowseFilterType, LPCWSTR szFilterCriteria,
                                       VARTYPE vtDataTypeFilter, DWORD dwAccessRightsFilter,
                                       LPENUMSTRING* ppIEnumString) {
  return Guarded([&]() -> HRESULT {
    if (ppIEnumString != nullptr) *ppIEnumString = nullptr;
    if (auto injected = Enter("IOPCBrowseServerAddressSpace::BrowseOPCItemIDs",
                                        CallArguments().Set(&CallArguments::browseType, dwBrowseFilterType).Set(&CallArguments::dataTypeFilter, vtDataTypeFilter).Set(&CallArguments::accessMask, dwAccessRightsFilter).Set(&CallArguments::text, Text(szFilterCriteria)))) {
      return *injected;
    }
    if (ppIEnumString == nullptr) return E_INVALIDARG;
    std::vector<com::OleString> names;
    const HRESULT hr =
        browser_.Browse(dwBrowseFilterType, Text(szFilterCriteria), vtDataTypeFilter, dwAccessRightsFilter, names);
    if (FAILED(hr)) return hr;
    *ppIEnumString = MakeStringEnumerator(std::move(names)).Detach();
    return hr;
  });
}

HRESULT ServerObject::GetItemID(LPWSTR szItemDataID, LPWSTR* szItemID) {
  return Guarded([&]() -> HRESULT {
    if (szItemID != nullptr) *szItemID = nullptr;
    if (auto injected =
            Enter("IOPCBrowseServerAddressSpace::GetItemID", CallArguments().Set(&CallArguments::text, Text(szItemDataID)))) {
      return *injected;
    }
    if (szItemID == nullptr) return E_INVALIDARG;
    com::OleString id;
    const HRESULT hr = browser_.ItemId(Text(szItemDataID), id);
    if (FAILED(hr)) return hr;
    *szItemID = HandOver(TaskString(id), "*szItemID");
    return S_OK;
  });
}

HRESULT ServerObject::BrowseAccessPaths(LPCWSTR szItemID, LPENUMSTRING* ppIEnumString) {
  return Guarded([&]() -> HRESULT {
    if (ppIEnumString != nullptr) *ppIEnumString = nullptr;
    if (auto injected =
            Enter("IOPCBrowseServerAddressSpace::BrowseAccessPaths", CallArguments().Set(&CallArguments::text, Text(szItemID)))) {
      return *injected;
    }
    // Our items have no access paths.
    return E_NOTIMPL;
  });
}

// ---- IOPCItemProperties ----

HRESULT ServerObject::QueryAvailableProperties(LPWSTR szItemID, DWORD* pdwCount, DWORD** ppPropertyIDs,
                                               LPWSTR** ppDescriptions, VARTYPE** ppvtDataTypes) {
  return Guarded([&]() -> HRESULT {
    if (pdwCount != nullptr) *pdwCount = 0;
    if (ppPropertyIDs != nullptr) *ppPropertyIDs = nullptr;
    if (ppDescriptions != nullptr) *ppDescriptions = nullptr;
    if (ppvtDataTypes != nullptr) *ppvtDataTypes = nullptr;
    if (auto injected =
            Enter("IOPCItemProperties::QueryAvailableProperties", CallArguments().Set(&CallArguments::text, Text(szItemID)))) {
      return *injected;
    }
    if (pdwCount == nullptr || ppPropertyIDs == nullptr || ppDescriptions == nullptr || ppvtDataTypes == nullptr) {
      return E_INVALIDARG;
    }
    SimulatedItem* item = nullptr;
    const HRESULT hr = ItemProperties::Resolve(Runtime().Space(), szItemID, item);
    if (FAILED(hr)) return hr;
    const auto list = ItemProperties::List(*item);
    TaskArray<DWORD> ids(list.size());
    TaskArray<LPWSTR> descriptions(list.size());
    TaskArray<VARTYPE> types(list.size());
    for (std::size_t i = 0; i < list.size(); ++i) {
      ids[i] = list[i].id;
      descriptions[i] = TaskString(list[i].description);
      types[i] = list[i].type;
    }
    *pdwCount = static_cast<DWORD>(list.size());
    *ppPropertyIDs = ids.Release("ppPropertyIDs");
    *ppDescriptions = descriptions.Release("ppDescriptions");
    *ppvtDataTypes = types.Release("ppvtDataTypes");
    return S_OK;
  });
}

HRESULT ServerObject::GetItemProperties(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs, VARIANT** ppvData,
                                        HRESULT** ppErrors) {
  return Guarded([&]() -> HRESULT {
    if (ppvData != nullptr) *ppvData = nullptr;
    if (ppErrors != nullptr) *ppErrors = nullptr;
    CallArguments args = CallArguments().Set(&CallArguments::count, dwCount).Set(&CallArguments::text, Text(szItemID));
    if (pdwPropertyIDs != nullptr) args.propertyIds.assign(pdwPropertyIDs, pdwPropertyIDs + dwCount);
    if (auto injected = Enter("IOPCItemProperties::GetItemProperties", std::move(args))) return *injected;
    if (dwCount == 0 || pdwPropertyIDs == nullptr || ppvData == nullptr || ppErrors == nullptr) return E_INVALIDARG;
    SimulatedItem* item = nullptr;
    const HRESULT hr = ItemProperties::Resolve(Runtime().Space(), szItemID, item);
    if (FAILED(hr)) return hr;
    TaskArray<VARIANT> values(dwCount);
    TaskArray<HRESULT> errors(dwCount);
    bool allOk = true;
    for (DWORD i = 0; i < dwCount; ++i) {
      OwnedVariant value;
      errors[i] = ItemProperties::Value(*item, pdwPropertyIDs[i], value);
      if (SUCCEEDED(errors[i]) && FAILED(value.CopyTo(&values[i]))) throw std::bad_alloc();
      if (errors[i] != S_OK) allOk = false;
    }
    *ppvData = values.Release("ppvData");
    *ppErrors = errors.Release("ppErrors");
    return allOk ? S_OK : S_FALSE;
  });
}

HRESULT ServerObject::LookupItemIDs(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs, LPWSTR** ppszNewItemIDs,
                                    HRESULT** ppErrors) {
  return Guarded([&]() -> HRESULT {
    if (ppszNewItemIDs != nullptr) *ppszNewItemIDs = nullptr;
    if (ppErrors != nullptr) *ppErrors = nullptr;
    CallArguments args = CallArguments().Set(&CallArguments::count, dwCount).Set(&CallArguments::text, Text(szItemID));
    if (pdwPropertyIDs != nullptr) args.propertyIds.assign(pdwPropertyIDs, pdwPropertyIDs + dwCount);
    if (auto injected = Enter("IOPCItemProperties::LookupItemIDs", std::move(args))) return *injected;
    if (dwCount == 0 || pdwPropertyIDs == nullptr || ppszNewItemIDs == nullptr || ppErrors == nullptr) {
      return E_INVALIDARG;
    }
    SimulatedItem* item = nullptr;
    const HRESULT hr = ItemProperties::Resolve(Runtime().Space(), szItemID, item);
    if (FAILED(hr)) return hr;
    TaskArray<LPWSTR> ids(dwCount);
    TaskArray<HRESULT> errors(dwCount);
    bool allOk = true;
    for (DWORD i = 0; i < dwCount; ++i) {
      com::OleString id;
      errors[i] = ItemProperties::ItemIdOf(*item, pdwPropertyIDs[i], id);
      if (SUCCEEDED(errors[i])) {
        ids[i] = TaskString(id);
      } else {
        allOk = false;
      }
    }
    *ppszNewItemIDs = ids.Release("ppszNewItemIDs");
    *ppErrors = errors.Release("ppErrors");
    return allOk ? S_OK : S_FALSE;
  });
}

}  // namespace xelo::sim
