// The OPC item properties of one item, as a list of records.
//
// A TXeloItemProperties asks a TXeloServer's server which properties the
// item ItemId has (QueryAvailableProperties) and reads their values
// (GetItemProperties); Refresh does both. Changing ItemId or OPCServer to
// another value refreshes at once, so the list always belongs to its
// current item and server: after a change to an empty ItemId or to a server
// component that is not connected the list is empty.
//
// The server component is referenced, not owned, and the list is no
// component: keep the server component alive while the list refers to it,
// or set OPCServer to none first.
//
// Errors: without a connection, or with a server that has no item
// properties, everything yields empty or false, silently. A failing
// availability query (an unknown item, say) raises through OPCCheck, also
// out of SetItemId, SetOPCServer and the constructor with a server; the new
// ItemId or OPCServer is kept, the list is empty. A failing value read
// gives false and raises nothing.
//
// Thread: the main thread.
#pragma once

#include "xelo/com/ComPtr.h"
#include "xelo/framework/Variant.h"
#include "xelo/opc/Opc.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace xelo {

class TXeloServer;

// One property of an item, filled by TXeloItemProperties.
class TXeloItemProperty {
 public:
  std::uint32_t PropertyID = 0;
  std::string Description;   // the server's description
  std::int32_t DataType = 0;  // the property's VARTYPE, zero-extended
  Variant Value;             // from the last read; empty when the read of it failed
};

class TXeloItemProperties {
 public:
  // Empty, no item, no server; nothing is asked.
  TXeloItemProperties();
  // Keeps `ItemId`, then binds `Server`, which queries and reads once when
  // `Server` is not none (and may raise as SetOPCServer does).
  TXeloItemProperties(TXeloServer* Server, const std::string& ItemId);
  // Frees the records, the last first.
  ~TXeloItemProperties();
  TXeloItemProperties(const TXeloItemProperties&) = delete;
  TXeloItemProperties& operator=(const TXeloItemProperties&) = delete;

  int GetCount() const { return static_cast<int>(items_.size()); }
  int Count() const { return GetCount(); }
  // EListError "List index out of bounds (%d)" for a bad index.
  TXeloItemProperty* GetItem(int Index) const;
  // Puts `Property` (not null, else std::invalid_argument) at `Index`; the
  // list owns it from now on. The record it replaces is not freed but
  // handed back.
  std::unique_ptr<TXeloItemProperty> SetItem(int Index, std::unique_ptr<TXeloItemProperty> Property);
  // Frees every record.
  void Clear();

  const std::string& GetItemId() const { return itemId_; }
  // Another identifier (compared exactly) is stored and refreshed.
  void SetItemId(const std::string& Value);
  TXeloServer* GetOPCServer() const { return server_; }
  // Another server component (by identity) is stored and refreshed.
  void SetOPCServer(TXeloServer* Value);

  // Rebuilds the records, in the server's order, with empty values.
  void QueryAvailableProperties();
  // Reads the values of all records in one call. True when every property
  // was read with exactly S_OK; the records that failed are left empty.
  // False without touching the records when the call itself fails or there
  // is nothing to read.
  bool GetItemProperties();
  // QueryAvailableProperties, then GetItemProperties' answer.
  bool Refresh();

 private:
  void CheckIndex(int index) const;

  std::vector<std::unique_ptr<TXeloItemProperty>> items_;
  std::string itemId_;
  TXeloServer* server_ = nullptr;
};

}  // namespace xelo
