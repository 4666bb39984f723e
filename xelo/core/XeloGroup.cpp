#include "xelo/core/XeloGroup.h"

#include "xelo/com/TaskMemory.h"
#include "xelo/com/WideText.h"
#include "xelo/core/ServerBuffers.h"
#include "xelo/core/XeloAdviseSink.h"
#include "xelo/core/XeloDataCallback.h"
#include "xelo/core/XeloErrors.h"
#include "xelo/core/XeloGroups.h"
#include "xelo/core/XeloItemList.h"
#include "xelo/core/XeloItems.h"
#include "xelo/core/XeloServer.h"
#include "xelo/core/XeloStrings.h"
#include "xelo/framework/Exceptions.h"
#include "xelo/framework/SysUtils.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

namespace xelo {

// ---- bounds -------------------------------------------------------------------------

namespace {

[[noreturn]] void OutOfRange(const char* property, const std::string& value, const std::string& bounds) {
  throw EPropertyError("Value " + value + " is out of range for property " + property + " (" + bounds + ")");
}

// A dead band set from code came as a float and reads as that float (100.1,
// not the 100.09999847412109 its double is).
std::string DeadBandText(double value) {
  if (std::isfinite(value) && std::fabs(value) <= std::numeric_limits<float>::max() &&
      static_cast<double>(static_cast<float>(value)) == value) {
    return FloatToStr(static_cast<float>(value));
  }
  return FloatToStr(value);
}

// What a server answers as the revised rate is unsigned; beyond the
// setting's bounds it would read back negative.
std::int32_t StoredRate(DWORD revised) {
  return static_cast<std::int32_t>(std::min<DWORD>(revised, std::numeric_limits<std::int32_t>::max()));
}

}  // namespace

void TXeloGroup::CheckUpdateRate(std::int64_t value) {
  if (value < 0 || value > std::numeric_limits<std::int32_t>::max()) {
    OutOfRange("UpdateRate", std::to_string(value),
               "0.." + std::to_string(std::numeric_limits<std::int32_t>::max()) + " milliseconds");
  }
}

void TXeloGroup::CheckDeadBand(double value) {
  // Written so that NAN fails too.
  if (!(value >= 0 && value <= kMaxDeadBand)) OutOfRange("DeadBand", DeadBandText(value), "0..100 percent");
}

void TXeloGroup::CheckTimeBias(std::int64_t value) {
  if (value < -kMaxTimeBias || value > kMaxTimeBias) {
    OutOfRange("TimeBias", std::to_string(value),
               std::to_string(-kMaxTimeBias) + ".." + std::to_string(kMaxTimeBias) + " minutes");
  }
}

// ---- TxDefaultGroup ----------------------------------------------------------------

TClass TxDefaultGroup::StaticClass() {
  using T = TxDefaultGroup;
  static const TMetaClass meta = TClassBuilder<T>("TxDefaultGroup")
                                     .Boolean("IsActive", &T::GetIsActive, &T::SetIsActive)
                                     .Integer("UpdateRate", &T::GetUpdateRate, &T::SetUpdateRate)
                                     .Float("DeadBand", &T::GetDeadBand, &T::SetDeadBand, FloatType::Single)
                                     .Integer("LocaleId", &T::GetLocaleId, &T::SetLocaleId)
                                     .Integer("TimeBias", &T::GetTimeBias, &T::SetTimeBias)
                                     .Build();
  return &meta;
}

void TxDefaultGroup::SetUpdateRate(std::int32_t value) {
  TXeloGroup::CheckUpdateRate(value);
  updateRate_ = value;
}

void TxDefaultGroup::SetDeadBand(float value) {
  TXeloGroup::CheckDeadBand(value);
  deadBand_ = value;
}

void TxDefaultGroup::SetTimeBias(std::int32_t value) {
  TXeloGroup::CheckTimeBias(value);
  timeBias_ = value;
}

void TxDefaultGroup::Assign(const TPersistent* source) {
  const auto* other = dynamic_cast<const TxDefaultGroup*>(source);
  if (other == nullptr) return TPersistent::Assign(source);
  isActive_ = other->isActive_;
  localeId_ = other->localeId_;
  timeBias_ = other->timeBias_;
  updateRate_ = other->updateRate_;
  deadBand_ = other->deadBand_;
}

// ---- TXeloGroup: construction ----------------------------------------------------------

namespace {
TXeloServer* OwningServer(TCollection* collection) {
  const auto* groups = dynamic_cast<TXeloGroups*>(collection);
  return groups != nullptr ? groups->GetServer() : nullptr;
}
}  // namespace

TXeloGroup::TXeloGroup(TCollection* collection) : TCollectionItem(collection), server_(OwningServer(collection)) {
  if (server_ != nullptr) {
    // Not on the server yet: the setters would only store.
    const TxDefaultGroup& defaults = *server_->GetOPCGroupDefault();
    isActive_ = defaults.GetIsActive();
    updateRate_ = defaults.GetUpdateRate();
    deadBand_ = defaults.GetDeadBand();
    localeId_ = defaults.GetLocaleId();
    timeBias_ = defaults.GetTimeBias();
  }
  // Not checked for uniqueness: Add renames the group at once.
  name_ = ClassName() + IntToStr(collection != nullptr ? collection->GetCount() - 1 : 0);
  defaultItem_ = std::make_unique<TxDefaultItem>();
  opcItems_ = std::make_unique<TXeloItems>(this);
  if (server_ != nullptr && server_->GetComponentState().Contains(csDesigning) && server_->Connected()) {
    // A designer shows the server's view of the group at once.
    try {
      OPCAddGroup();
    } catch (...) {
      OPCRemoveGroup();
      throw;
    }
  }
}

TXeloGroup::~TXeloGroup() {
  try {
    if (IsOnServer()) OPCRemoveGroup();
  } catch (...) {
    // Only reachable when the server component lost its connection and an
    // error handler raises: the group is gone from the client regardless.
  }
  opcItems_.reset();
  defaultItem_.reset();
}

TClass TXeloGroup::StaticClass() {
  using T = TXeloGroup;
  static const TMetaClass meta = TClassBuilder<T>("TXeloGroup")
                                     .String("Name", &T::GetName, &T::SetName)
                                     .Boolean("IsActive", &T::GetIsActive, &T::SetIsActive)
                                     .Integer("UpdateRate", &T::GetUpdateRate, &T::SetUpdateRate)
                                     .Float("DeadBand", &T::GetDeadBand, &T::SetDeadBand, FloatType::Single)
                                     .Integer("LocaleId", &T::GetLocaleId, &T::SetLocaleId)
                                     .Integer("TimeBias", &T::GetTimeBias, &T::SetTimeBias)
                                     .Object("DefaultItem", &T::GetDefaultItem)
                                     .Object("OPCItems", &T::GetOPCItems)
                                     .Build();
  return &meta;
}

namespace {
const bool registered = [] {
  RegisterClasses({TxDefaultGroup::StaticClass(), TXeloGroup::StaticClass()});
  return true;
}();
}  // namespace

// ---- on and off the server ------------------------------------------------------------------

void TXeloGroup::OPCAddGroup() {
  com::ComPtr<IOPCServer> server = server_ != nullptr ? server_->GetOPCServer() : nullptr;
  if (!server) return;
  serverHandle_ = kNoServerHandle;
  taskId_ = 0;
  itemMgt_ = nullptr;

  const com::OleString name = StringToWide(name_);
  LONG timeBias = timeBias_;
  FLOAT deadBand = deadBand_;
  OPCHANDLE serverHandle = kNoServerHandle;
  DWORD revisedRate = 0;
  com::ComPtr<IOPCItemMgt> itemMgt;
  const HRESULT hr = server->AddGroup(name.c_str(), isActive_ ? TRUE : FALSE, static_cast<DWORD>(updateRate_),
                                      GetClientHandle(), &timeBias, &deadBand, static_cast<DWORD>(localeId_),
                                      &serverHandle, &revisedRate, IID_IOPCItemMgt,
                                      reinterpret_cast<LPUNKNOWN*>(itemMgt.Put()));
  // A success code such as "rate not supported, revised" passes.
  CheckResult(hr);
  if (!itemMgt) OPCCheck(E_NOINTERFACE);  // a server claiming success without a group
  itemMgt_ = std::move(itemMgt);
  serverHandle_ = serverHandle;

  // Optional interfaces: a refusal leaves the reference null.
  itemMgt_.As(groupStateMgt_);
  itemMgt_.As(syncIO_);
  if (FAILED(itemMgt_.As(asyncIO2_))) itemMgt_.As(asyncIO_);

  opcItems_->OPCAddAllItems();
  updateRate_ = StoredRate(revisedRate);
  Subscribe();
}

void TXeloGroup::OPCRemoveGroup() {
  if (!itemMgt_) {
    serverHandle_ = kNoServerHandle;
    return;
  }
  syncIO_ = nullptr;
  asyncIO_ = nullptr;
  asyncIO2_ = nullptr;
  groupStateMgt_ = nullptr;
  Unsubscribe();
  try {
    opcItems_->OPCRemoveAllItems();
  } catch (...) {
    // The group leaves the server below, and its items with it.
  }
  itemMgt_ = nullptr;
  if (serverHandle_ != kNoServerHandle) {
    const OPCHANDLE handle = serverHandle_;
    serverHandle_ = kNoServerHandle;
    com::ComPtr<IOPCServer> server = server_ != nullptr ? server_->GetOPCServer() : nullptr;
    if (server) server->RemoveGroup(handle, FALSE);  // the group is gone for us whatever the answer
  }
  serverHandle_ = kNoServerHandle;
}

void TXeloGroup::OPCAbandonGroup() {
  syncIO_ = nullptr;
  asyncIO_ = nullptr;
  asyncIO2_ = nullptr;
  groupStateMgt_ = nullptr;
  // Detached without unadvising: whatever the dead server still holds of
  // the sinks can no longer reach this group.
  if (dataCallback_) dataCallback_->Detach();
  dataCallback_ = nullptr;
  if (adviseSink_) adviseSink_->Detach();
  adviseSink_ = nullptr;
  opcItems_->AbandonAllItems();
  itemMgt_ = nullptr;
  serverHandle_ = kNoServerHandle;
  taskId_ = 0;
  transactionId_ = 0;
}

void TXeloGroup::CheckResult(HRESULT hr) const {
  if (server_ != nullptr) server_->NoteCallResult(hr);
  OPCCheck(hr);
}

void TXeloGroup::Subscribe() {
  if (server_->Version2()) {
    com::ComPtr<TXeloDataCallback> callback = TXeloDataCallback::Create(this);
    if (callback->GetAdviseResult() == S_OK) {
      dataCallback_ = std::move(callback);
      return;
    }
    callback->Detach();  // whatever the server kept of it stays harmless
  }
  com::ComPtr<TXeloAdviseSink> sink = TXeloAdviseSink::Create(this);
  const HRESULT result = sink->GetAdviseResult();
  if (result != S_OK) {
    sink->Detach();
    OleError(result);
  }
  adviseSink_ = std::move(sink);
}

void TXeloGroup::Unsubscribe() {
  // The OPC DA 2.0 subscription ends with the server's group; detached, the
  // callback ignores whatever the server still sends until then.
  if (dataCallback_) dataCallback_->Detach();
  dataCallback_ = nullptr;
  if (adviseSink_) {
    adviseSink_->UnAdvise();
    adviseSink_->Detach();
  }
  adviseSink_ = nullptr;
}

DWORD TXeloGroup::AdviseConnection() const { return adviseSink_ ? adviseSink_->GetCookie() : 0; }

// ---- settings -----------------------------------------------------------------------------------

std::string TXeloGroup::GetDisplayName() const {
  if (!Trim(name_).empty()) return name_;
  return TCollectionItem::GetDisplayName();
}

void TXeloGroup::SetName(const std::string& value) {
  if (value == name_) return;
  if (groupStateMgt_) {
    const com::OleString wide = StringToWide(value);
    CheckResult(groupStateMgt_->SetName(wide.c_str()));
  }
  name_ = value;
}

void TXeloGroup::SendState(bool active, float deadBand, std::int32_t localeId, std::int32_t timeBias) {
  // The stored rate goes along and comes back as the server revised it.
  SetState(updateRate_, active, timeBias, deadBand, localeId, static_cast<std::int32_t>(GetClientHandle()));
}

void TXeloGroup::SetIsActive(bool value) {
  if (value == isActive_) return;
  SendState(value, deadBand_, localeId_, timeBias_);
  isActive_ = value;
}

void TXeloGroup::SetDeadBand(float value) {
  CheckDeadBand(value);
  if (value == deadBand_) return;
  SendState(isActive_, value, localeId_, timeBias_);
  deadBand_ = value;
}

void TXeloGroup::SetLocaleId(std::int32_t value) {
  if (value == localeId_) return;
  SendState(isActive_, deadBand_, value, timeBias_);
  localeId_ = value;
}

void TXeloGroup::SetTimeBias(std::int32_t value) {
  CheckTimeBias(value);
  if (value == timeBias_) return;
  SendState(isActive_, deadBand_, localeId_, value);
  timeBias_ = value;
}

void TXeloGroup::SetUpdateRate(std::int32_t value) {
  CheckUpdateRate(value);
  if (value == updateRate_) return;
  std::int32_t rate = value;
  SetState(rate, isActive_, timeBias_, deadBand_, localeId_, static_cast<std::int32_t>(GetClientHandle()));
  updateRate_ = rate;
}

void TXeloGroup::SetState(std::int32_t& UpdateRate, bool Active, std::int32_t TimeBias, float DeadBand,
                          std::int32_t LocaleId, std::int32_t ClientHandle) {
  CheckUpdateRate(UpdateRate);
  CheckDeadBand(DeadBand);
  CheckTimeBias(TimeBias);
  if (!groupStateMgt_) return;
  DWORD requested = static_cast<DWORD>(UpdateRate);
  DWORD revised = 0;
  BOOL active = Active ? TRUE : FALSE;
  LONG timeBias = TimeBias;
  FLOAT deadBand = DeadBand;
  DWORD locale = static_cast<DWORD>(LocaleId);
  OPCHANDLE client = static_cast<OPCHANDLE>(ClientHandle);
  CheckResult(groupStateMgt_->SetState(&requested, &revised, &active, &timeBias, &deadBand, &locale, &client));
  UpdateRate = StoredRate(revised);
}

void TXeloGroup::GetState(tGroupStateRec& State) {
  if (!groupStateMgt_) {
    if (server_ != nullptr) server_->Fault(_STR_NOTACTIVE);
    return;
  }
  DWORD rate = 0;
  BOOL active = FALSE;
  ReturnedText name;
  LONG timeBias = 0;
  FLOAT deadBand = 0;
  DWORD locale = 0;
  OPCHANDLE client = 0;
  OPCHANDLE server = 0;
  const HRESULT hr = groupStateMgt_->GetState(&rate, &active, name.Put(), &timeBias, &deadBand, &locale, &client, &server);
  CheckResult(hr);
  std::string text = name.Text();
  State.UpdateRate = rate;
  State.Active = active != FALSE;
  State.Name = std::move(text);
  State.TimeBias = timeBias;
  State.DeadBand = deadBand;
  State.LocaleId = locale;
  State.ClientHandle = client;
  State.ServerHandle = server;
}

TXeloItemList* TXeloGroup::ListOrAllItems(TXeloItemList* List, const TXeloItems& Items,
                                          std::unique_ptr<TXeloItemList>& Built) {
  if (List != nullptr) return List;
  Built = std::make_unique<TXeloItemList>(Items);
  return Built.get();
}

}  // namespace xelo
