// Finding the OPC servers of a computer.
//
// GetOPCServers scans this computer's class registrations: every ProgID
// whose key carries an "OPC" subkey, in registry order. It needs no running
// service and reports nothing.
//
// TxeloServerBrowser asks the OPC server enumerator (CLSID_OPCServerList) of
// this or another computer for the servers of the categories in Servertype
// and keeps one TxeloServerItem per server, keyed by its class identifier.
// A server found under several categories is listed once, at the place of
// its first finding (DA 1.0, then DA 2.0, then AE 1.0), with every category
// it was found under.
//
// Errors: creating the enumerator (an unreachable computer, no enumerator
// installed, no IOPCServerList) and failing enumerator calls raise
// EOleSysError with the result code; entries found before a failure stay.
//
// Thread: the main thread.
#pragma once

#include "xelo/framework/Component.h"
#include "xelo/opc/Opc.h"

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace xelo {

class TStrings;

// The server categories of the enumerator. The ordinals are the bit
// numbers of tXeloServerSet.
enum tXeloServerType { svr_DA20, svr_DA10, svr_AE10 };

// A set of server categories, one byte: bit 0 svr_DA20, bit 1 svr_DA10,
// bit 2 svr_AE10.
class tXeloServerSet {
 public:
  constexpr tXeloServerSet() = default;
  constexpr tXeloServerSet(std::initializer_list<tXeloServerType> types) {
    for (tXeloServerType t : types) Include(t);
  }
  // Bits above bit 2 are dropped.
  static constexpr tXeloServerSet FromBits(std::uint8_t bits) {
    tXeloServerSet s;
    s.bits_ = static_cast<std::uint8_t>(bits & kAll);
    return s;
  }
  constexpr std::uint8_t Bits() const { return bits_; }
  constexpr bool Contains(tXeloServerType t) const { return (bits_ & Bit(t)) != 0; }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr tXeloServerSet& Include(tXeloServerType t) {
    bits_ = static_cast<std::uint8_t>(bits_ | Bit(t));
    return *this;
  }
  constexpr tXeloServerSet& Exclude(tXeloServerType t) {
    bits_ = static_cast<std::uint8_t>(bits_ & ~Bit(t));
    return *this;
  }
  friend constexpr tXeloServerSet operator|(tXeloServerSet a, tXeloServerSet b) {
    return FromBits(static_cast<std::uint8_t>(a.bits_ | b.bits_));
  }
  friend constexpr tXeloServerSet operator&(tXeloServerSet a, tXeloServerSet b) {
    return FromBits(static_cast<std::uint8_t>(a.bits_ & b.bits_));
  }
  friend constexpr tXeloServerSet operator-(tXeloServerSet a, tXeloServerSet b) {
    return FromBits(static_cast<std::uint8_t>(a.bits_ & ~b.bits_));
  }
  friend constexpr bool operator==(tXeloServerSet a, tXeloServerSet b) = default;

 private:
  static constexpr std::uint8_t kAll = 0x07;
  static constexpr std::uint8_t Bit(tXeloServerType t) { return static_cast<std::uint8_t>(1u << t); }
  std::uint8_t bits_ = 0;
};
static_assert(sizeof(tXeloServerSet) == 1);

// The enumeration type "tXeloServerType" of the Servertype property.
const TTypeInfoPtr& tXeloServerTypeInfo();

// Clears `List` and adds the ProgID of every OPC server registered on this
// computer. Never raises: keys that cannot be read are skipped, a failing
// enumeration ends the list.
void GetOPCServers(TStrings& List);

// One server found by a TxeloServerBrowser; owned by the browser.
class TxeloServerItem {
 public:
  TxeloServerItem() = default;
  TxeloServerItem(std::string computer, std::string userType, std::string progID, std::string classID)
      : Computer(std::move(computer)),
        UserType(std::move(userType)),
        ProgID(std::move(progID)),
        ClassID(std::move(classID)) {}

  std::string Computer;  // the browser's ComputerName when the entry was made
  std::string UserType;  // the server's description
  std::string ProgID;
  std::string ClassID;   // "{...}" upper case; empty when it could not be formatted
  tXeloServerSet ServerTypes;  // every category the server was found under
};

class TxeloServerBrowser : public TComponent {
  XELO_CLASS(TxeloServerBrowser, TComponent)

 public:
  explicit TxeloServerBrowser(TComponent* owner);
  ~TxeloServerBrowser() override;

  // ---- published properties: plain values, used by the next Execute ----
  // Empty: this computer.
  const std::string& GetComputerName() const { return computerName_; }
  void SetComputerName(const std::string& value) { computerName_ = value; }
  tXeloServerSet GetServertype() const { return servertype_; }
  void SetServertype(tXeloServerSet value) { servertype_ = value; }

  // Clears the entries and asks the enumerator of ComputerName anew.
  void Execute();
  // ComputerName := Computer (for good), then Execute.
  void GetOPCServers(const std::string& Computer);
  // Enumerates one category of `ServerList` and merges what it finds under
  // `Types`.
  void GetServers(IOPCServerList& ServerList, REFGUID Category, tXeloServerSet Types);
  // Merges one server: a new entry (stamped with the current ComputerName)
  // unless one with `ClassID` exists; either way Types joins its ServerTypes.
  void AddServer(const std::string& UserType, const std::string& ProgID, const std::string& ClassID,
                 tXeloServerSet Types);
  // The entry whose ClassID equals `ClassID` exactly (case-sensitive); the
  // last such entry when there are several; null for none.
  TxeloServerItem* GetServer(const std::string& ClassID) const;
  // Frees every entry, the last first.
  void Clear();

  int GetCount() const { return static_cast<int>(items_.size()); }
  // EListError "List index out of bounds (%d)" for a bad index.
  TxeloServerItem* GetItems(int Index) const;
  // Puts `Entry` (not null, else std::invalid_argument) at `Index`; the
  // browser owns it from now on. The entry it replaces is handed back.
  std::unique_ptr<TxeloServerItem> SetItems(int Index, std::unique_ptr<TxeloServerItem> Entry);

 private:
  void CheckIndex(int index) const;

  std::string computerName_;
  tXeloServerSet servertype_{svr_DA20, svr_DA10, svr_AE10};
  std::vector<std::unique_ptr<TxeloServerItem>> items_;
};

}  // namespace xelo
