#include "servers/simulation/AddressSpace.h"

#include "servers/simulation/TimeSource.h"
#include "xelo/com/SafeArray.h"
#include "xelo/opc/OpcError.h"

#include <cmath>
#include <numbers>
#include <utility>

namespace xelo::sim {
namespace {

constexpr com::OleStringView kIllegalCharacters = OLESTR("*?[]!\"|<>");
constexpr int kSinePeriodCycles = 40;
constexpr std::size_t kArrayLength = 3;

com::OleString Join(com::OleStringView branch, com::OleStringView name) {
  com::OleString id(branch);
  if (!id.empty()) id += OLESTR('.');
  id += name;
  return id;
}

ItemDefinition Item(com::OleStringView branch, com::OleStringView name, VARTYPE type, DWORD access,
                    com::OleStringView description) {
  ItemDefinition def;
  def.branch = com::OleString(branch);
  def.name = com::OleString(name);
  def.id = Join(branch, name);
  def.type = type;
  def.access = access;
  def.description = com::OleString(description);
  return def;
}

ItemDefinition Analog(ItemDefinition def, double low, double high, com::OleStringView units) {
  def.analog = true;
  def.lowEU = low;
  def.highEU = high;
  def.units = com::OleString(units);
  return def;
}

ItemDefinition WithSignal(ItemDefinition def, Signal signal) {
  def.signal = signal;
  return def;
}

constexpr DWORD kRead = OPC_READABLE;
constexpr DWORD kWrite = OPC_WRITEABLE;
constexpr DWORD kReadWrite = OPC_READABLE | OPC_WRITEABLE;

}  // namespace

AddressSpace::AddressSpace() {
  for (const com::OleStringView device : {OLESTR("Device 1"), OLESTR("Device 2")}) {
    const com::OleString branch = Join(OLESTR("Channel 1"), device);
    Define(Analog(WithSignal(Item(branch, OLESTR("Ramp"), VT_R8, kRead, OLESTR("Ramp 0..99, +1 per update cycle")), Signal::Ramp),
                  0, 100, OLESTR("%")),
           OwnedVariant::R8(0));
    Define(WithSignal(Item(branch, OLESTR("Random"), VT_I4, kRead, OLESTR("Random value 0..999")), Signal::Random),
           OwnedVariant::I4(0));
    Define(Analog(WithSignal(Item(branch, OLESTR("Sine"), VT_R8, kRead, OLESTR("Sine wave, 40 update cycles per period")),
                             Signal::Sine),
                  -1, 1, OLESTR("")),
           OwnedVariant::R8(0));
    Define(WithSignal(Item(branch, OLESTR("Counter"), VT_UI4, kRead, OLESTR("Update cycle counter")), Signal::Counter),
           OwnedVariant::UI4(0));
    Define(Analog(Item(branch, OLESTR("Setpoint"), VT_R8, kReadWrite, OLESTR("Setpoint")), 0, 100, OLESTR("%")), OwnedVariant::R8(50));
    Define(Item(branch, OLESTR("Switch"), VT_BOOL, kReadWrite, OLESTR("Switch")), OwnedVariant::Bool(false));
    Define(Item(branch, OLESTR("Text"), VT_BSTR, kReadWrite, OLESTR("Text")), OwnedVariant::Text(device));
    Define(Item(branch, OLESTR("Array"), VT_ARRAY | VT_R8, kReadWrite, OLESTR("Three numbers")),
           OwnedVariant::R8Array({1.0, 2.0, 3.0}));
  }
  const com::OleStringView s = OLESTR("Static");
  Define(Item(s, OLESTR("Int16"), VT_I2, kReadWrite, OLESTR("16-bit integer")), OwnedVariant::I2(16));
  Define(Item(s, OLESTR("Int32"), VT_I4, kReadWrite, OLESTR("32-bit integer")), OwnedVariant::I4(32));
  Define(Item(s, OLESTR("UInt32"), VT_UI4, kReadWrite, OLESTR("32-bit unsigned integer")), OwnedVariant::UI4(3000000000u));
  Define(Analog(Item(s, OLESTR("Float"), VT_R4, kReadWrite, OLESTR("Single precision number")), -1000, 1000, OLESTR("")),
         OwnedVariant::R4(1.5f));
  Define(Analog(Item(s, OLESTR("Double"), VT_R8, kReadWrite, OLESTR("Double precision number")), -1000, 1000, OLESTR("")),
         OwnedVariant::R8(2.25));
  Define(Item(s, OLESTR("Bool"), VT_BOOL, kReadWrite, OLESTR("Boolean")), OwnedVariant::Bool(true));
  Define(Item(s, OLESTR("String"), VT_BSTR, kReadWrite, OLESTR("Text")), OwnedVariant::Text(OLESTR("Hello")));
  Define(Item(s, OLESTR("Date"), VT_DATE, kReadWrite, OLESTR("Date and time")), OwnedVariant::Date(43831.5));  // 2020-01-01 12:00
  Define(Item(s, OLESTR("ReadOnly"), VT_I4, kRead, OLESTR("Read-only integer")), OwnedVariant::I4(42));
  Define(Item(s, OLESTR("WriteOnly"), VT_I4, kWrite, OLESTR("Write-only integer")), OwnedVariant::I4(0));
  const com::OleStringView b = OLESTR("Behaviour");
  ItemDefinition clamped = Analog(Item(b, OLESTR("Clamped"), VT_R8, kReadWrite, OLESTR("Writes clamped to 0..100")), 0, 100, OLESTR("%"));
  clamped.clamp = true;
  Define(std::move(clamped), OwnedVariant::R8(50));
  ItemDefinition bad = Item(b, OLESTR("Bad"), VT_I4, kRead, OLESTR("Always of bad quality"));
  bad.fixedQuality = OPC_QUALITY_BAD | OPC_QUALITY_DEVICE_FAILURE;
  Define(std::move(bad), OwnedVariant::I4(0));
  ItemDefinition uncertain = Analog(Item(b, OLESTR("Uncertain"), VT_R8, kRead, OLESTR("Always of uncertain quality")), 0, 100, OLESTR(""));
  uncertain.fixedQuality = OPC_QUALITY_LAST_USABLE;
  Define(std::move(uncertain), OwnedVariant::R8(1));
  ItemDefinition slow = Item(b, OLESTR("Slow"), VT_I4, kReadWrite, OLESTR("Asynchronous access takes a second"));
  slow.slow = true;
  Define(std::move(slow), OwnedVariant::I4(7));

  // The property items of the analog items, after all visible ones so that
  // listings keep their natural order.
  std::vector<const SimulatedItem*> analog;
  for (const auto& item : items_) {
    if (item->def.analog) analog.push_back(item.get());
  }
  for (const SimulatedItem* owner : analog) {
    for (const auto& [suffix, pid] : {std::pair{OLESTR("HighEU"), OPC_PROPERTY_HIGH_EU}, std::pair{OLESTR("LowEU"), OPC_PROPERTY_LOW_EU}}) {
      ItemDefinition def = Item(owner->def.id, suffix, VT_R8, kRead, com::OleString(suffix) + OLESTR(" of ") + owner->def.id);
      def.hidden = true;
      def.propertyId = pid;
      Define(std::move(def), OwnedVariant::R8(pid == OPC_PROPERTY_HIGH_EU ? owner->def.highEU : owner->def.lowEU));
    }
  }
  Reset();
}

void AddressSpace::DefineBranch(com::OleStringView branch) {
  if (branch.empty()) return;
  for (const auto& known : branches_) {
    if (known == branch) return;
  }
  const std::size_t dot = branch.rfind(OLESTR('.'));
  if (dot != com::OleStringView::npos) DefineBranch(branch.substr(0, dot));
  branches_.emplace_back(branch);
}

void AddressSpace::Define(ItemDefinition def, OwnedVariant initial) {
  if (!def.hidden) DefineBranch(def.branch);
  auto item = std::make_unique<SimulatedItem>();
  item->def = std::move(def);
  byId_.emplace(item->def.id, item.get());
  items_.push_back(std::move(item));
  initial_.push_back(std::move(initial));
}

SimulatedItem* AddressSpace::Find(com::OleStringView id) {
  const auto it = byId_.find(com::OleString(id));
  return it != byId_.end() ? it->second : nullptr;
}

HRESULT AddressSpace::CheckSyntax(com::OleStringView id) {
  if (id.empty() || id.front() == OLESTR('.') || id.back() == OLESTR('.')) return OPC_E_INVALIDITEMID;
  if (id.find(OLESTR("..")) != com::OleStringView::npos) return OPC_E_INVALIDITEMID;
  for (const OLECHAR c : id) {
    if (c < 0x20 || c == 0x7F || kIllegalCharacters.find(c) != com::OleStringView::npos) return OPC_E_INVALIDITEMID;
  }
  return S_OK;
}

bool AddressSpace::BranchExists(com::OleStringView branch) const {
  if (branch.empty()) return true;
  for (const auto& known : branches_) {
    if (known == branch) return true;
  }
  return false;
}

std::vector<com::OleString> AddressSpace::ChildBranches(com::OleStringView branch) const {
  std::vector<com::OleString> children;
  for (const auto& known : branches_) {
    const std::size_t dot = known.rfind(OLESTR('.'));
    const com::OleStringView parent = dot == com::OleString::npos ? com::OleStringView() : com::OleStringView(known).substr(0, dot);
    if (parent == branch) children.push_back(dot == com::OleString::npos ? known : known.substr(dot + 1));
  }
  return children;
}

std::vector<const SimulatedItem*> AddressSpace::Leaves(com::OleStringView branch, bool deep) const {
  std::vector<const SimulatedItem*> leaves;
  for (const auto& item : items_) {
    if (item->def.hidden) continue;
    const com::OleString& where = item->def.branch;
    const bool inside = where == branch ||
                        (deep && (branch.empty() || (where.size() > branch.size() && where.starts_with(branch) &&
                                                     where[branch.size()] == OLESTR('.'))));
    if (inside) leaves.push_back(item.get());
  }
  return leaves;
}

std::vector<const SimulatedItem*> AddressSpace::AllVisible() const { return Leaves(OLESTR(""), true); }

void AddressSpace::Advance() {
  ++cycles_;
  const FILETIME now = TimeSource::Now();
  for (auto& item : items_) {
    VARIANT& v = const_cast<VARIANT&>(item->value.Get());
    switch (item->def.signal) {
      case Signal::None:
        continue;
      case Signal::Ramp:
        v.dblVal = v.dblVal + 1.0 >= 100.0 ? 0.0 : v.dblVal + 1.0;
        break;
      case Signal::Random:
        v.lVal = static_cast<LONG>(random_() % 1000u);
        break;
      case Signal::Sine:
        v.dblVal = std::sin(2.0 * std::numbers::pi * static_cast<double>(cycles_ % kSinePeriodCycles) /
                            kSinePeriodCycles);
        break;
      case Signal::Counter:
        v.ulVal = v.ulVal + 1;
        break;
    }
    item->timestamp = now;
  }
}

HRESULT AddressSpace::Write(SimulatedItem& item, const VARIANT& value) {
  const ItemDefinition& def = item.def;
  OwnedVariant converted;
  HRESULT result = S_OK;
  if (def.clamp) {
    // Convert through R8 so that any number can be compared with the range.
    OwnedVariant number;
    const HRESULT hr = OwnedVariant(value).ConvertTo(VT_R8, number);
    if (hr == DISP_E_OVERFLOW) return OPC_E_RANGE;
    if (FAILED(hr)) return OPC_E_BADTYPE;
    double x = number.Get().dblVal;
    if (std::isnan(x)) return OPC_E_RANGE;
    if (x < def.lowEU || x > def.highEU) {
      x = x < def.lowEU ? def.lowEU : def.highEU;
      result = OPC_S_CLAMP;
    }
    if (FAILED(OwnedVariant::R8(x).ConvertTo(def.type, converted))) return OPC_E_BADTYPE;
  } else {
    const HRESULT hr = OwnedVariant(value).ConvertTo(def.type, converted);
    if (hr == DISP_E_OVERFLOW) return OPC_E_RANGE;
    if (FAILED(hr)) return OPC_E_BADTYPE;
    if ((def.type & VT_ARRAY) != 0) {
      SAFEARRAY* array = converted.Get().parray;
      if (array == nullptr || array->cDims != 1 || array->rgsabound[0].cElements != kArrayLength) return OPC_E_RANGE;
    }
  }
  item.value = std::move(converted);
  item.timestamp = TimeSource::Now();
  item.quality = def.fixedQuality != 0 ? def.fixedQuality : OPC_QUALITY_GOOD;
  return result;
}

void AddressSpace::Reset(std::uint32_t seed) {
  random_.seed(seed);
  cycles_ = 0;
  const FILETIME now = TimeSource::Now();
  for (std::size_t i = 0; i < items_.size(); ++i) {
    SimulatedItem& item = *items_[i];
    item.value = initial_[i];
    item.quality = item.def.fixedQuality != 0 ? item.def.fixedQuality : OPC_QUALITY_GOOD;
    item.timestamp = now;
  }
}

}  // namespace xelo::sim
