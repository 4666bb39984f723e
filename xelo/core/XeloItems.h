// TXeloItems: the items of one group, and the batch operations that send
// many of them to the server in one call.
//
// Every batch operation takes a TXeloItemList, checks it in a fixed order
// (in a designer adding is skipped; an empty list does nothing; every entry
// must be off the server for add and validate and on it for the others,
// else EOPCException names the first wrong entry; a group that is not on
// the server sends nothing), makes exactly one call of the group's
// IOPCItemMgt for the whole list and writes each entry's outcome into the
// entry: its LastError and, on success, what the operation changes. The
// result is true when the call was made and every entry succeeded. A
// failing call raises through OPCCheck and changes no entry (except remove,
// which takes every entry off the server whatever the server answered).
// Every buffer the server returns is freed, also when a step raises.
//
// Thread: the main thread.
#pragma once

#include "xelo/core/XeloItem.h"
#include "xelo/framework/Collection.h"
#include "xelo/opc/OpcDa.h"

#include <string>

namespace xelo {

class TXeloGroup;
class TXeloItemList;

class TXeloItems : public TCollection {
  XELO_CLASS(TXeloItems, TCollection)

 public:
  explicit TXeloItems(TXeloGroup* group);
  ~TXeloItems() override;

  TXeloGroup* GetGroup() const { return group_; }
  TXeloItem* GetItem(int index) const { return static_cast<TXeloItem*>(TCollection::GetItem(index)); }
  // The collection's item assignment.
  void SetItem(int index, TXeloItem* item);

  // A new item at the end with the group's default configuration and
  // ItemID; then added to the server (outside batch mode, while active).
  // A failed add leaves the item in the collection, off the server, and
  // raises.
  virtual TXeloItem* AddItem(const std::string& ItemID);
  // The first item with that server handle, or null.
  TXeloItem* GetOPCItem(OPCHANDLE Handle) const;
  // The first item whose ItemID equals ItemID exactly, or null.
  TXeloItem* LocateOPCItem(const std::string& ItemID) const;
  // Removes every item from the server, then destroys them all.
  void RemoveAll();

  // ---- batch operations ----
  // DoAdd: AddItems (not in a designer); otherwise ValidateItems.
  bool OPCAddItems(TXeloItemList* List, bool DoAdd);
  bool OPCValidateItems(TXeloItemList* List);
  // Every entry is off the server afterwards, whatever the server answered.
  bool OPCRemoveItems(TXeloItemList* List);
  bool OPCActiveItems(TXeloItemList* List, bool Active);
  bool OPCSetDataTypes(TXeloItemList* List);
  // Adds (validates, in a designer) every item that is off the server and
  // shows the failures in a message box; raises nothing for item errors.
  void OPCAddAllItems();
  // Removes every item that is on the server; failures stay in LastError.
  void OPCRemoveAllItems();
  // The server died: every item is off it, nothing is asked of it.
  void AbandonAllItems();

 private:
  enum class Placement { OffServer, OnServer };
  // The checks every batch operation starts with; the group's item
  // management interface, or null when nothing is to be sent.
  IOPCItemMgt* PrepareBatch(const TXeloItemList* list, Placement required, bool skipInDesigner) const;
  bool Designing() const;

  TXeloGroup* group_;
};

}  // namespace xelo
