// The simulated address space shared by every server object of the
// process. Item identifiers join branch names with "."; identifiers and
// names compare case-sensitively.
//
//   Channel 1.Device 1 / Channel 1.Device 2
//     Ramp     R8   read        analog 0..100 "%"   +1 per cycle, 99 -> 0
//     Random   I4   read                            0..999, seeded generator
//     Sine     R8   read        analog -1..1        sin(2 pi n / 40)
//     Counter  UI4  read                            +1 per cycle
//     Setpoint R8   read/write  analog 0..100 "%"
//     Switch   BOOL read/write
//     Text     BSTR read/write
//     Array    R8 array of 3, read/write (other lengths: OPC_E_RANGE)
//   Static
//     Int16 I2, Int32 I4, UInt32 UI4, Float R4 (analog -1000..1000),
//     Double R8 (analog -1000..1000), Bool BOOL, String BSTR, Date DATE:
//     read/write; ReadOnly I4 read; WriteOnly I4 write
//   Behaviour
//     Clamped   R8 read/write, analog 0..100: writes outside are clamped
//               and answered with OPC_S_CLAMP
//     Bad       I4 read, quality BAD (device failure, 0x0C)
//     Uncertain R8 read, analog 0..100, quality UNCERTAIN (last usable, 0x44)
//     Slow      I4 read/write: asynchronous completions arrive after 1 s
//
// Every analog item X also has the hidden items "X.HighEU" and "X.LowEU"
// (R8, read): the item identifiers of its properties 102 and 103. They can
// be added to groups and read, but browsing does not list them.
//
// Main thread only.
#pragma once

#include "servers/simulation/SimulatedItem.h"

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace xelo::sim {

class AddressSpace {
 public:
  static constexpr std::uint32_t kDefaultSeed = 20240601;

  AddressSpace();

  // Null for an unknown identifier. Pointers stay valid for the life of
  // the address space (items are never removed, only reset).
  SimulatedItem* Find(com::OleStringView id);

  // OPC_E_INVALIDITEMID when `id` breaks our syntax, S_OK otherwise (the
  // item may still be unknown). Valid: not empty, no control characters,
  // none of * ? [ ] ! " | < >, no empty segment (leading, trailing or
  // doubled ".").
  static HRESULT CheckSyntax(com::OleStringView id);

  bool BranchExists(com::OleStringView branch) const;
  // Direct child branch names of `branch`, in definition order.
  std::vector<com::OleString> ChildBranches(com::OleStringView branch) const;
  // Visible items directly in `branch`, or (deep) anywhere below it.
  std::vector<const SimulatedItem*> Leaves(com::OleStringView branch, bool deep) const;
  // Every visible item, in definition order.
  std::vector<const SimulatedItem*> AllVisible() const;

  // One update cycle: the signals move and their time stamps become now.
  void Advance();
  std::uint64_t Cycles() const { return cycles_; }

  // Writes `value` into a writable item: S_OK, OPC_S_CLAMP (clamped),
  // OPC_E_BADTYPE (cannot be converted to the canonical type), OPC_E_RANGE
  // (does not fit, or an array of the wrong length). Access rights are the
  // caller's business.
  HRESULT Write(SimulatedItem& item, const VARIANT& value);

  // Back to the initial values, qualities and time stamps; the random
  // generator restarts from `seed`.
  void Reset(std::uint32_t seed = kDefaultSeed);

 private:
  void Define(ItemDefinition def, OwnedVariant initial);
  void DefineBranch(com::OleStringView branch);

  std::vector<std::unique_ptr<SimulatedItem>> items_;
  std::unordered_map<com::OleString, SimulatedItem*> byId_;
  std::vector<com::OleString> branches_;  // full ids, definition order
  std::vector<OwnedVariant> initial_;     // parallel to items_
  std::mt19937 random_;
  std::uint64_t cycles_ = 0;
};

}  // namespace xelo::sim
