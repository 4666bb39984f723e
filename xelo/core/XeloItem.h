// TXeloItem: one OPC item of a group, and TxDefaultItem, the settings a
// group gives its new items.
//
// An item has a configuration (ItemID, AccessPath, IsActive,
// RequestDatatype), which is streamed, and a run-time state from the server
// (ServerHandle, value, quality, time stamp, canonical type, access rights,
// last error), which is not. While the server component is connected and
// not in batch mode, changing IsActive or RequestDatatype sends the change
// for this item alone at once, and destroying an item removes it from the
// server; in batch mode the application uses the batch operations of
// TXeloItems instead.
//
// Client handles: the server knows an item by a 32-bit number that is
// unique among the live items of the process and stays the same for the
// item's lifetime; FindItemByClientHandle turns it back into the item and
// answers null for the handle of an item that no longer exists.
//
// Thread: the main thread (the data sinks run there too).
#pragma once

#include "xelo/core/XeloFormat.h"
#include "xelo/framework/Collection.h"
#include "xelo/framework/List.h"
#include "xelo/framework/Variant.h"
#include "xelo/opc/OpcTypes.h"

#include <cstdint>
#include <memory>
#include <string>

namespace xelo {

class TXeloGroup;
class TXeloItems;
class TXeloItemList;

// The server handle of an item or group that is not on the server.
inline constexpr OPCHANDLE kNoServerHandle = 0xFFFFFFFFu;

// The configuration every new item of a group starts with.
class TxDefaultItem : public TPersistent {
  XELO_CLASS(TxDefaultItem, TPersistent)

 public:
  TxDefaultItem() = default;

  bool GetIsActive() const { return isActive_; }
  void SetIsActive(bool value) { isActive_ = value; }
  const std::string& GetAccessPath() const { return accessPath_; }
  void SetAccessPath(const std::string& value) { accessPath_ = value; }
  OPCADatatype GetRequestDataType() const { return requestDataType_; }
  void SetRequestDataType(OPCADatatype value) { requestDataType_ = value; }

  void Assign(const TPersistent* source) override;

 private:
  bool isActive_ = true;
  std::string accessPath_;
  OPCADatatype requestDataType_ = vtEMPTY;
};

class TXeloItem;

// What an entry of an item's GUIList is: a binding that shows the item, told
// when the item goes so that it never keeps a destroyed item.
class TXeloItemBinding {
 public:
  // The item is being destroyed; its GUIList is about to go.
  virtual void XeloItemDestroyed(TXeloItem* item) = 0;

 protected:
  ~TXeloItemBinding() = default;
};

class TXeloItem : public TCollectionItem {
  XELO_CLASS(TXeloItem, TCollectionItem)

 public:
  // Item commands: which batch operation OPCCommand runs for this item.
  enum Command : int {
    cmdRemove = 0,
    cmdAdd = 1,
    cmdSetActive = 2,
    cmdValidate = 3,
    cmdSetDataType = 4,
  };

  // Joins `collection` (a TXeloItems) with the configuration of the
  // group's DefaultItem; nothing is sent to the server.
  explicit TXeloItem(TCollection* collection);
  // Removes the item from the server when it is there (not in batch mode),
  // then leaves the collection. A failed removal is not reported: the item
  // is gone either way.
  ~TXeloItem() override;

  // ---- configuration (published) ----
  const std::string& GetItemID() const { return itemID_; }
  // EOPCException "not possible if connected to OPC Server" while the item
  // is on the server. In a designer the new identifier is validated.
  void SetItemID(const std::string& value);
  const std::string& GetAccessPath() const { return accessPath_; }
  void SetAccessPath(const std::string& value);
  bool GetIsActive() const { return isActive_; }
  // Stored first; then, connected and outside batch mode, sent at once.
  void SetIsActive(bool value);
  OPCADatatype GetRequestDatatype() const { return requestDatatype_; }
  void SetRequestDatatype(OPCADatatype value);

  // ---- run-time state (published read-only, never streamed) ----
  const Variant& GetValue() const { return value_; }
  std::int32_t GetQuality() const { return quality_; }
  // The server's time stamp of the value in local time, as the
  // application shows it; 0 while there is none.
  double GetTimeStamp() const { return timeStamp_; }
  // The same stamp in UTC, converted from the server's FILETIME on its own
  // (never back from the local value, which is ambiguous in the hour a
  // summer-time change repeats); 0 while there is none.
  double GetTimeStampUTC() const { return timeStampUTC_; }
  std::int32_t GetCanonicalDatatype() const { return canonicalDatatype_; }
  // Engineering-unit type and information: exposed for applications that
  // read them, but nothing in the library fills them; always 0 and empty.
  std::int32_t GetEUType() const { return 0; }
  const Variant& GetEUInfo() const;

  // ---- run-time fields ----
  OPCHANDLE GetServerHandle() const { return serverHandle_; }
  bool IsOnServer() const { return serverHandle_ != kNoServerHandle; }
  DWORD GetAccessRights() const { return accessRights_; }
  HRESULT GetLastError() const { return lastError_; }
  void SetLastError(HRESULT value) { lastError_ = value; }
  const Variant& GetWriteValue() const { return writeValue_; }
  // The value the next SyncWrite or AsyncWrite of a list with this item
  // sends, so that many items go out in one call; nothing is sent here.
  // (WriteSync and WriteAsync set it themselves.)
  void SetWriteValue(const Variant& value) { writeValue_ = value; }
  TXeloGroup* GetGroup() const { return group_; }
  // The GUI bindings that show this item, each a TXeloItemBinding*; not
  // owned by the item, which tells each of them when it is destroyed. (Made
  // on first use: most items are never bound.)
  TList& GUIList();

  // ---- operations ----
  // Runs one batch operation with this item alone (see Command; Flag is
  // the active state of cmdSetActive) and raises the item's error as
  // "OPC Command:" plus the item line; an operation that raises itself (a
  // precondition, a refused call) passes its own exception on. Does
  // nothing in batch mode or while the server component is not active.
  void OPCCommand(int Command, bool Flag = false);
  OPCHANDLE GetClientHandle() const { return clientHandle_; }
  // ItemID unless it is blank, else the class name.
  std::string GetDisplayName() const override;
  // Empty for LastError 0, else its OPC text or "unknown error : %d".
  std::string GetLastErrorStr() const;
  std::string ValueStr() const;
  // The OPC "good" quality class: (Quality & 0xC0) == 0xC0.
  bool IsGoodQuality() const;
  // Store Value as WriteValue and write it through the group; a failure
  // raises "cannot write Items:" plus the item line.
  void WriteSync(const Variant& Value);
  void WriteAsync(const Variant& Value);

  // ---- updates from the server (used by the batch operations, reads and
  // the data sinks) ----
  void StoreServerHandle(OPCHANDLE handle) { serverHandle_ = handle; }
  void StoreItemAttributes(VARTYPE canonical, DWORD rights) {
    canonicalDatatype_ = canonical;
    accessRights_ = rights;
  }
  void StoreIsActive(bool value) { isActive_ = value; }
  void StoreQuality(std::int32_t quality) { quality_ = quality; }
  // Both values of the server's stamp: converted here, or (where one stamp
  // serves many items) converted once by the caller with
  // FileTimeToDateTime and FileTimeToDateTimeUTC.
  void StoreTimeStamp(const FILETIME& stamp);
  void StoreTimeStamp(double local, double utc) {
    timeStamp_ = local;
    timeStampUTC_ = utc;
  }
  Variant& ValueRef() { return value_; }

 private:
  void Write(const Variant& Value, bool async);
  // True when the owning server component is in a designer.
  bool Designing() const;

  std::string itemID_;
  std::string accessPath_;
  bool isActive_ = true;
  OPCADatatype requestDatatype_ = vtEMPTY;
  Variant value_;
  std::int32_t quality_ = 0;
  double timeStamp_ = 0;
  double timeStampUTC_ = 0;
  std::int32_t canonicalDatatype_ = 0;
  OPCHANDLE serverHandle_ = kNoServerHandle;
  DWORD accessRights_ = 0;
  HRESULT lastError_ = 0;
  Variant writeValue_;
  TXeloGroup* group_ = nullptr;
  std::unique_ptr<TList> guiList_;
  OPCHANDLE clientHandle_ = 0;
};

// The live item with that client handle, or null.
TXeloItem* FindItemByClientHandle(OPCHANDLE handle);

}  // namespace xelo
