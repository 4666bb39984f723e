// TXeloGroup: one OPC group of a server component, with its items; and
// TxDefaultGroup, the settings a server component gives its new groups.
//
// A group lives in two states. Defined: a description only (name, active
// flag, update rate, dead band, locale, time bias, items); setters store.
// On the server (GetItemMgt() set): the group exists on the OPC server with
// its items and one data subscription; setters go to the server first and
// store only what the server accepted (UpdateRate takes the server's
// revised rate). The server component moves its groups between the states
// when it connects and disconnects; definitions survive any number of
// cycles.
//
// The server knows the group by its client handle, the collection ID
// (stable for the group's lifetime, unlike its index).
//
// Thread: the main thread.
#pragma once

#include "xelo/com/ComPtr.h"
#include "xelo/core/XeloItem.h"
#include "xelo/framework/Collection.h"
#include "xelo/opc/OpcDa.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace xelo {

class TXeloAdviseSink;
class TXeloDataCallback;
class TXeloItemList;
class TXeloItems;
class TXeloServer;

// The bounds of a group's settings, which come from configuration files as
// often as from code. UpdateRate is 0..2147483647 milliseconds (the server
// takes an unsigned rate, 0 for its fastest; a negative one would reach it
// as some 49 days). DeadBand is a percentage, 0..kMaxDeadBand. TimeBias is
// the minutes of the group's time zone from UTC, -kMaxTimeBias..kMaxTimeBias
// (no zone is a day away). LocaleId is the server's to judge.
inline constexpr float kMaxDeadBand = 100.0f;
inline constexpr std::int32_t kMaxTimeBias = 1440;

// The settings every new group of a server component starts with. Values
// out of bounds raise EPropertyError as in TXeloGroup; the setting stays.
class TxDefaultGroup : public TPersistent {
  XELO_CLASS(TxDefaultGroup, TPersistent)

 public:
  TxDefaultGroup() = default;

  bool GetIsActive() const { return isActive_; }
  void SetIsActive(bool value) { isActive_ = value; }
  std::int32_t GetUpdateRate() const { return updateRate_; }
  void SetUpdateRate(std::int32_t value);
  float GetDeadBand() const { return deadBand_; }
  void SetDeadBand(float value);
  std::int32_t GetLocaleId() const { return localeId_; }
  void SetLocaleId(std::int32_t value) { localeId_ = value; }
  std::int32_t GetTimeBias() const { return timeBias_; }
  void SetTimeBias(std::int32_t value);

  void Assign(const TPersistent* source) override;

 private:
  bool isActive_ = true;
  std::int32_t localeId_ = 0;
  std::int32_t timeBias_ = 0;
  std::int32_t updateRate_ = 1000;
  float deadBand_ = 0.0f;
};

// A group's state as the server reports it.
struct tGroupStateRec {
  std::uint32_t UpdateRate = 0;
  bool Active = false;
  std::string Name;
  std::int32_t TimeBias = 0;
  float DeadBand = 0.0f;
  std::uint32_t LocaleId = 0;
  std::uint32_t ClientHandle = 0;
  std::uint32_t ServerHandle = 0;
};

class TXeloGroup : public TCollectionItem {
  XELO_CLASS(TXeloGroup, TCollectionItem)

 public:
  // Joins `collection` (the TXeloGroups of a server component) with the
  // server component's default settings, named "TXeloGroup<n>" with n the
  // new count minus one. In a designer, with the server connected, the
  // group goes to the server at once.
  explicit TXeloGroup(TCollection* collection);
  // Leaves the server first when the group is there.
  ~TXeloGroup() override;

  // ---- published ----
  const std::string& GetName() const { return name_; }
  // On the server the new name goes there first; a refusal raises and the
  // old name stays.
  void SetName(const std::string& value);
  bool GetIsActive() const { return isActive_; }
  void SetIsActive(bool value);
  std::int32_t GetUpdateRate() const { return updateRate_; }
  // On the server the rate becomes the server's revised rate. A value out
  // of its bounds (above TxDefaultGroup) raises EPropertyError from these
  // setters before anything goes to the server, and the setting stays.
  void SetUpdateRate(std::int32_t value);
  float GetDeadBand() const { return deadBand_; }
  void SetDeadBand(float value);
  std::int32_t GetLocaleId() const { return localeId_; }
  void SetLocaleId(std::int32_t value);
  std::int32_t GetTimeBias() const { return timeBias_; }
  void SetTimeBias(std::int32_t value);
  TxDefaultItem* GetDefaultItem() const { return defaultItem_.get(); }
  TXeloItems* GetOPCItems() const { return opcItems_.get(); }

  // EPropertyError "Value <v> is out of range for property <Name>
  // (<bounds>)" for a value out of the setting's bounds.
  static void CheckUpdateRate(std::int64_t value);
  static void CheckDeadBand(double value);
  static void CheckTimeBias(std::int64_t value);

  // ---- kept for the application only; never sent to the server ----
  bool GetIsPublic() const { return isPublic_; }
  void SetIsPublic(bool value) { isPublic_ = value; }
  bool GetIsSubscribed() const { return isSubscribed_; }
  void SetIsSubscribed(bool value) { isSubscribed_ = value; }

  // ---- run-time ----
  TXeloServer* GetServer() const { return server_; }
  // The group's interfaces while it is on the server; null otherwise (and
  // for interfaces the server does not offer).
  IOPCItemMgt* GetItemMgt() const { return itemMgt_.Get(); }
  IOPCGroupStateMgt* GetGroupStateMgt() const { return groupStateMgt_.Get(); }
  IOPCSyncIO* GetSyncIO() const { return syncIO_.Get(); }
  IOPCAsyncIO2* GetAsyncIO2() const { return asyncIO2_.Get(); }
  IOPCAsyncIO* GetAsyncIO() const { return asyncIO_.Get(); }
  bool IsOnServer() const { return static_cast<bool>(itemMgt_); }
  // The group's data subscription while it is on the server: the OPC DA
  // 2.0 callback, or the OPC DA 1.0 stream sink when the server offers no
  // callback (or refused it).
  TXeloDataCallback* GetDataCallback() const { return dataCallback_.Get(); }
  TXeloAdviseSink* GetAdviseSink() const { return adviseSink_.Get(); }
  OPCHANDLE GetServerHandle() const { return serverHandle_; }
  // The client handle the server knows the group by.
  OPCHANDLE GetClientHandle() const { return static_cast<OPCHANDLE>(GetID()); }
  // The pending asynchronous call, 0 when none: the server's cancel id on
  // OPC DA 2.0 (what CancelLastAsyncCall needs), its transaction id on
  // OPC DA 1.0.
  DWORD GetTaskId() const { return taskId_; }
  void SetTaskId(DWORD value) { taskId_ = value; }
  // The transaction id the pending OPC DA 2.0 call was started with (what
  // its completion carries); 0 on OPC DA 1.0 and when none is pending.
  DWORD GetTransactionId() const { return transactionId_; }
  // A completion of transaction `id` arrived: when it is the pending call,
  // nothing is pending any more.
  void TransactionCompleted(DWORD id);

  // ---- server operations ----
  // Creates the group on the server with its items and subscribes for its
  // data. Not connected: "not connected to server" through the server
  // component's Fault. A refused AddGroup raises and leaves the group
  // defined.
  void OPCAddGroup();
  // Takes the group and its items off the server; the definitions stay.
  void OPCRemoveGroup();
  // The same for a server that died: the group's references to it and its
  // sinks are let go and every item is off the server, but nothing is
  // asked of the server (a dead one answers nothing, only slowly).
  void OPCAbandonGroup();
  // OPCCheck of the answer of a call of this group's interfaces, after
  // telling the server component (which watches for a lost connection).
  void CheckResult(HRESULT hr) const;

  // `Name` unless it is blank, else the class name.
  std::string GetDisplayName() const override;

  // Sends all settings at once (when on the server) and takes the server's
  // revised rate into UpdateRate. A refusal raises; nothing is stored.
  // Settings out of bounds raise EPropertyError first, also off the server.
  void SetState(std::int32_t& UpdateRate, bool Active, std::int32_t TimeBias, float DeadBand, std::int32_t LocaleId,
                std::int32_t ClientHandle);
  // The state as the server reports it; the group's own fields are left
  // alone. Off the server: "not connected to server" through the server
  // component's Fault, and State is left unchanged.
  void GetState(tGroupStateRec& State);

  // `List` when given; otherwise a new list of all items of `Items`, held
  // by `Built` for the caller.
  static TXeloItemList* ListOrAllItems(TXeloItemList* List, const TXeloItems& Items,
                                       std::unique_ptr<TXeloItemList>& Built);

  // ---- reads, writes, refresh: true when every item succeeded ----
  bool SyncWrite(TXeloItemList* List);
  bool AsyncWrite(TXeloItemList* List);
  bool SyncRead(TXeloItemList* List, bool FromCache);
  bool AsyncRead(TXeloItemList* List);
  void Refresh(bool FromCache);
  void CancelLastAsyncCall();

 private:
  // Sends the state with one setting changed (the caller has put it into
  // the arguments); stores nothing.
  void SendState(bool active, float deadBand, std::int32_t localeId, std::int32_t timeBias);
  // The data subscription of a group that has just gone to the server, and
  // its end when the group leaves.
  void Subscribe();
  void Unsubscribe();
  // The DA 1.0 connection number of the group's data subscription.
  DWORD AdviseConnection() const;
  // The first checks of the item reads and writes: the list to work on
  // (all items when `list` is null), or null when there is nothing to do.
  TXeloItemList* PrepareIO(TXeloItemList* list, bool hasInterface, std::unique_ptr<TXeloItemList>& built) const;
  // The next transaction id for an asynchronous call, remembered as the
  // pending one on OPC DA 2.0.
  DWORD StartTransaction();
  // Runs an OPC DA 2.0 asynchronous call started as `transaction` and
  // keeps its cancel id as the pending call unless it completed during the
  // call. `forgetPending`: the previous pending call is forgotten even when
  // this one fails to start.
  HRESULT StartDA2Call(DWORD transaction, bool forgetPending, const std::function<HRESULT(DWORD* cancelId)>& call);

  com::ComPtr<IOPCItemMgt> itemMgt_;
  com::ComPtr<IOPCGroupStateMgt> groupStateMgt_;
  com::ComPtr<IOPCSyncIO> syncIO_;
  com::ComPtr<IOPCAsyncIO2> asyncIO2_;
  com::ComPtr<IOPCAsyncIO> asyncIO_;
  com::ComPtr<TXeloDataCallback> dataCallback_;
  com::ComPtr<TXeloAdviseSink> adviseSink_;
  OPCHANDLE serverHandle_ = kNoServerHandle;
  bool isPublic_ = false;
  bool isActive_ = true;
  bool isSubscribed_ = false;
  std::int32_t timeBias_ = 0;
  std::int32_t localeId_ = 0;
  std::int32_t updateRate_ = 1000;
  float deadBand_ = 0.0f;
  std::string name_;
  TXeloServer* server_ = nullptr;
  std::unique_ptr<TxDefaultItem> defaultItem_;
  std::unique_ptr<TXeloItems> opcItems_;
  DWORD taskId_ = 0;
  DWORD transactionId_ = 0;
};

}  // namespace xelo
