#include "servers/simulation/AddressSpace.h"

#include "servers/simulation/TimeSource.h"
#include "xelo/com/SafeArray.h"
#include "xelo/opc/OpcError.h"

#include <cmath>
#include <numbers>
#include <utility>

namespace xelo::sim {
namespace {

constexpr std::u16string_view kIllegalCharacters = u"*?[]!\"|<>";
constexpr int kSinePeriodCycles = 40;
constexpr std::size_t kArrayLength = 3;

std::u16string Join(std::u16string_view branch, std::u16string_view name) {
  std::u16string id(branch);
  if (!id.empty()) id += u'.';
  id += name;
  return id;
}

ItemDefinition Item(std::u16string_view branch, std::u16string_view name, VARTYPE type, DWORD access,
                    std::u16string_view description) {
  ItemDefinition def;
  def.branch = std::u16string(branch);
  def.name = std::u16string(name);
  def.id = Join(branch, name);
  def.type = type;
  def.access = access;
  def.description = std::u16string(description);
  return def;
}

ItemDefinition Analog(ItemDefinition def, double low, double high, std::u16string_view units) {
  def.analog = true;
  def.lowEU = low;
  def.highEU = high;
  def.units = std::u16string(units);
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
  for (const std::u16string_view device : {u"Device 1", u"Device 2"}) {
    const std::u16string branch = Join(u"Channel 1", device);
    Define(Analog(WithSignal(Item(branch, u"Ramp", VT_R8, kRead, u"Ramp 0..99, +1 per update cycle"), Signal::Ramp),
                  0, 100, u"%"),
           OwnedVariant::R8(0));
    Define(WithSignal(Item(branch, u"Random", VT_I4, kRead, u"Random value 0..999"), Signal::Random),
           OwnedVariant::I4(0));
    Define(Analog(WithSignal(Item(branch, u"Sine", VT_R8, kRead, u"Sine wave, 40 update cycles per period"),
                             Signal::Sine),
                  -1, 1, u""),
           OwnedVariant::R8(0));
    Define(WithSignal(Item(branch, u"Counter", VT_UI4, kRead, u"Update cycle counter"), Signal::Counter),
           OwnedVariant::UI4(0));
    Define(Analog(Item(branch, u"Setpoint", VT_R8, kReadWrite, u"Setpoint"), 0, 100, u"%"), OwnedVariant::R8(50));
    Define(Item(branch, u"Switch", VT_BOOL, kReadWrite, u"Switch"), OwnedVariant::Bool(false));
    Define(Item(branch, u"Text", VT_BSTR, kReadWrite, u"Text"), OwnedVariant::Text(device));
    Define(Item(branch, u"Array", VT_ARRAY | VT_R8, kReadWrite, u"Three numbers"),
           OwnedVariant::R8Array({1.0, 2.0, 3.0}));
  }
  const std::u16string_view s = u"Static";
  Define(Item(s, u"Int16", VT_I2, kReadWrite, u"16-bit integer"), OwnedVariant::I2(16));
  Define(Item(s, u"Int32", VT_I4, kReadWrite, u"32-bit integer"), OwnedVariant::I4(32));
  Define(Item(s, u"UInt32", VT_UI4, kReadWrite, u"32-bit unsigned integer"), OwnedVariant::UI4(3000000000u));
  Define(Analog(Item(s, u"Float", VT_R4, kReadWrite, u"Single precision number"), -1000, 1000, u""),
         OwnedVariant::R4(1.5f));
  Define(Analog(Item(s, u"Double", VT_R8, kReadWrite, u"Double precision number"), -1000, 1000, u""),
         OwnedVariant::R8(2.25));
  Define(Item(s, u"Bool", VT_BOOL, kReadWrite, u"Boolean"), OwnedVariant::Bool(true));
  Define(Item(s, u"String", VT_BSTR, kReadWrite, u"Text"), OwnedVariant::Text(u"Hello"));
  Define(Item(s, u"Date", VT_DATE, kReadWrite, u"Date and time"), OwnedVariant::Date(43831.5));  // 2020-01-01 12:00
  Define(Item(s, u"ReadOnly", VT_I4, kRead, u"Read-only integer"), OwnedVariant::I4(42));
  Define(Item(s, u"WriteOnly", VT_I4, kWrite, u"Write-only integer"), OwnedVariant::I4(0));
  const std::u16string_view b = u"Behaviour";
  ItemDefinition clamped = Analog(Item(b, u"Clamped", VT_R8, kReadWrite, u"Writes clamped to 0..100"), 0, 100, u"%");
  clamped.clamp = true;
  Define(std::move(clamped), OwnedVariant::R8(50));
  ItemDefinition bad = Item(b, u"Bad", VT_I4, kRead, u"Always of bad quality");
  bad.fixedQuality = OPC_QUALITY_BAD | OPC_QUALITY_DEVICE_FAILURE;
  Define(std::move(bad), OwnedVariant::I4(0));
  ItemDefinition uncertain = Analog(Item(b, u"Uncertain", VT_R8, kRead, u"Always of uncertain quality"), 0, 100, u"");
  uncertain.fixedQuality = OPC_QUALITY_LAST_USABLE;
  Define(std::move(uncertain), OwnedVariant::R8(1));
  ItemDefinition slow = Item(b, u"Slow", VT_I4, kReadWrite, u"Asynchronous access takes a second");
  slow.slow = true;
  Define(std::move(slow), OwnedVariant::I4(7));

  // The property items of the analog items, after all visible ones so that
  // listings keep their natural order.
  std::vector<const SimulatedItem*> analog;
  for (const auto& item : items_) {
    if (item->def.analog) analog.push_back(item.get());
  }
  for (const SimulatedItem* owner : analog) {
    for (const auto& [suffix, pid] : {std::pair{u"HighEU", OPC_PROPERTY_HIGH_EU}, std::pair{u"LowEU", OPC_PROPERTY_LOW_EU}}) {
      ItemDefinition def = Item(owner->def.id, suffix, VT_R8, kRead, std::u16string(suffix) + u" of " + owner->def.id);
      def.hidden = true;
      def.propertyId = pid;
      Define(std::move(def), OwnedVariant::R8(pid == OPC_PROPERTY_HIGH_EU ? owner->def.highEU : owner->def.lowEU));
    }
  }
  Reset();
}

void AddressSpace::DefineBranch(std::u16string_view branch) {
  if (branch.empty()) return;
  for (const auto& known : branches_) {
    if (known == branch) return;
  }
  const std::size_t dot = branch.rfind(u'.');
  if (dot != std::u16string_view::npos) DefineBranch(branch.substr(0, dot));
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

SimulatedItem* AddressSpace::Find(std::u16string_view id) {
  const auto it = byId_.find(std::u16string(id));
  return it != byId_.end() ? it->second : nullptr;
}

HRESULT AddressSpace::CheckSyntax(std::u16string_view id) {
  if (id.empty() || id.front() == u'.' || id.back() == u'.') return OPC_E_INVALIDITEMID;
  if (id.find(u"..") != std::u16string_view::npos) return OPC_E_INVALIDITEMID;
  for (const char16_t c : id) {
    if (c < 0x20 || c == 0x7F || kIllegalCharacters.find(c) != std::u16string_view::npos) return OPC_E_INVALIDITEMID;
  }
  return S_OK;
}

bool AddressSpace::BranchExists(std::u16string_view branch) const {
  if (branch.empty()) return true;
  for (const auto& known : branches_) {
    if (known == branch) return true;
  }
  return false;
}

std::vector<std::u16string> AddressSpace::ChildBranches(std::u16string_view branch) const {
  std::vector<std::u16string> children;
  for (const auto& known : branches_) {
    const std::size_t dot = known.rfind(u'.');
    const std::u16string_view parent = dot == std::u16string::npos ? std::u16string_view() : std::u16string_view(known).substr(0, dot);
    if (parent == branch) children.push_back(dot == std::u16string::npos ? known : known.substr(dot + 1));
  }
  return children;
}

std::vector<const SimulatedItem*> AddressSpace::Leaves(std::u16string_view branch, bool deep) const {
  std::vector<const SimulatedItem*> leaves;
  for (const auto& item : items_) {
    if (item->def.hidden) continue;
    const std::u16string& where = item->def.branch;
    const bool inside = where == branch ||
                        (deep && (branch.empty() || (where.size() > branch.size() && where.starts_with(branch) &&
                                                     where[branch.size()] == u'.')));
    if (inside) leaves.push_back(item.get());
  }
  return leaves;
}

std::vector<const SimulatedItem*> AddressSpace::AllVisible() const { return Leaves(u"", true); }

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
