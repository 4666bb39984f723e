#include "xelo/core/XeloItemProperties.h"

#include "xelo/com/TaskMemory.h"
#include "xelo/com/WideText.h"
#include "xelo/core/ItemPropertyCalls.h"
#include "xelo/core/ServerBuffers.h"
#include "xelo/core/XeloErrors.h"
#include "xelo/core/XeloFormat.h"
#include "xelo/core/XeloServer.h"
#include "xelo/framework/SysUtils.h"

#include <algorithm>
#include <new>
#include <stdexcept>

namespace xelo {

namespace detail {

namespace {

// The three arrays of an availability answer, freed with the descriptions
// they point to whichever way the caller leaves.
struct AvailableAnswer {
  DWORD count = 0;
  DWORD* ids = nullptr;
  LPWSTR* descriptions = nullptr;
  VARTYPE* types = nullptr;

  AvailableAnswer() = default;
  AvailableAnswer(const AvailableAnswer&) = delete;
  AvailableAnswer& operator=(const AvailableAnswer&) = delete;
  ~AvailableAnswer() {
    FreeReturnedTexts(descriptions, count);
    ::CoTaskMemFree(ids);
    ::CoTaskMemFree(types);
  }
  bool Complete() const { return ids != nullptr && descriptions != nullptr && types != nullptr; }
};

// The values and errors of a read answer. The values are cleared before
// their array goes back: a text or an array inside one is memory of its own.
struct ReadAnswer {
  DWORD count = 0;
  VARIANT* values = nullptr;
  HRESULT* errors = nullptr;

  explicit ReadAnswer(DWORD n) : count(n) {}
  ReadAnswer(const ReadAnswer&) = delete;
  ReadAnswer& operator=(const ReadAnswer&) = delete;
  ~ReadAnswer() {
    if (values != nullptr) {
      for (DWORD i = 0; i < count; ++i) ::VariantClear(&values[i]);
    }
    ::CoTaskMemFree(values);
    ::CoTaskMemFree(errors);
  }
};

}  // namespace

std::vector<AvailableProperty> QueryProperties(IOPCItemProperties& properties, const std::string& itemId) {
  com::OleString wide = StringToWide(itemId);  // the interface takes a mutable string
  AvailableAnswer answer;
  const HRESULT hr =
      properties.QueryAvailableProperties(wide.data(), &answer.count, &answer.ids, &answer.descriptions, &answer.types);
  OPCCheck(hr);
  std::vector<AvailableProperty> result;
  // A server that claims properties without handing out their arrays has
  // told us nothing we could use.
  if (!answer.Complete()) return result;
  result.reserve(answer.count);
  for (DWORD i = 0; i < answer.count; ++i) {
    result.push_back(AvailableProperty{answer.ids[i], com::ToUtf8(answer.descriptions[i]), answer.types[i]});
  }
  return result;
}

bool ReadProperties(IOPCItemProperties& properties, const std::string& itemId, std::span<const DWORD> ids,
                    std::vector<Variant>& values, std::vector<HRESULT>& errors) {
  values.clear();
  errors.clear();
  if (ids.empty()) return false;
  const auto count = static_cast<DWORD>(ids.size());
  auto* idArray = static_cast<DWORD*>(::CoTaskMemAlloc(count * sizeof(DWORD)));
  if (idArray == nullptr) throw std::bad_alloc();
  std::copy(ids.begin(), ids.end(), idArray);
  com::OleString wide = StringToWide(itemId);
  ReadAnswer answer(count);
  const HRESULT hr = properties.GetItemProperties(wide.data(), count, idArray, &answer.values, &answer.errors);
  ::CoTaskMemFree(idArray);
  if (FAILED(hr) || answer.values == nullptr || answer.errors == nullptr) return false;
  values.resize(count);
  errors.assign(answer.errors, answer.errors + count);
  for (DWORD i = 0; i < count; ++i) {
    if (errors[i] != S_OK) continue;
    try {
      values[i] = TakeReturnedValue(answer.values[i]);
    } catch (const EConvertError&) {
      // A value no VARIANT can hold is as good as no value.
      errors[i] = E_FAIL;
    }
  }
  return true;
}

std::string PropertyLine(DWORD id, std::string_view description, VARTYPE type) {
  std::string line = std::to_string(id);  // DWORD: ids with the top bit set stay positive
  line += ",\"";
  line += description;
  line += "\",";
  line += std::to_string(type);
  return line;
}

}  // namespace detail

namespace {

// The item-properties interface of a connected server component. Only a
// connected component is asked: asking one that is not would go through
// its Fault, and property queries are silent without a connection.
com::ComPtr<IOPCItemProperties> ItemPropertiesOf(TXeloServer* server) {
  return server != nullptr && server->Connected() ? server->GetItemPropIF() : nullptr;
}

}  // namespace

// ---- construction ------------------------------------------------------------

TXeloItemProperties::TXeloItemProperties() = default;

TXeloItemProperties::TXeloItemProperties(TXeloServer* Server, const std::string& ItemId) : itemId_(ItemId) {
  SetOPCServer(Server);
}

TXeloItemProperties::~TXeloItemProperties() { Clear(); }

// ---- records -----------------------------------------------------------------

void TXeloItemProperties::CheckIndex(int index) const {
  if (index < 0 || index >= GetCount()) throw EListError(Format("List index out of bounds (%d)", index));
}

TXeloItemProperty* TXeloItemProperties::GetItem(int Index) const {
  CheckIndex(Index);
  return items_[static_cast<std::size_t>(Index)].get();
}

std::unique_ptr<TXeloItemProperty> TXeloItemProperties::SetItem(int Index,
                                                                std::unique_ptr<TXeloItemProperty> Property) {
  CheckIndex(Index);
  if (!Property) throw std::invalid_argument("TXeloItemProperties::SetItem: no property");
  items_[static_cast<std::size_t>(Index)].swap(Property);
  return Property;
}

void TXeloItemProperties::Clear() {
  while (!items_.empty()) items_.pop_back();
}

// ---- item and server -----------------------------------------------------------

void TXeloItemProperties::SetItemId(const std::string& Value) {
  if (Value == itemId_) return;
  itemId_ = Value;
  Refresh();
}

void TXeloItemProperties::SetOPCServer(TXeloServer* Value) {
  if (Value == server_) return;
  server_ = Value;
  Refresh();
}

// ---- queries -------------------------------------------------------------------

void TXeloItemProperties::QueryAvailableProperties() {
  Clear();
  if (itemId_.empty()) return;
  const com::ComPtr<IOPCItemProperties> properties = ItemPropertiesOf(server_);
  if (!properties) return;
  for (detail::AvailableProperty& available : detail::QueryProperties(*properties, itemId_)) {
    auto record = std::make_unique<TXeloItemProperty>();
    record->PropertyID = available.id;
    record->Description = std::move(available.description);
    record->DataType = available.type;
    items_.push_back(std::move(record));
  }
}

bool TXeloItemProperties::GetItemProperties() {
  if (items_.empty() || itemId_.empty()) return false;
  const com::ComPtr<IOPCItemProperties> properties = ItemPropertiesOf(server_);
  if (!properties) return false;
  std::vector<DWORD> ids;
  ids.reserve(items_.size());
  for (const auto& record : items_) ids.push_back(record->PropertyID);
  std::vector<Variant> values;
  std::vector<HRESULT> errors;
  if (!detail::ReadProperties(*properties, itemId_, ids, values, errors)) return false;
  bool result = true;
  for (std::size_t i = 0; i < items_.size(); ++i) {
    items_[i]->Value.Clear();
    if (errors[i] == S_OK) {
      items_[i]->Value = std::move(values[i]);
    } else {
      result = false;
    }
  }
  return result;
}

bool TXeloItemProperties::Refresh() {
  QueryAvailableProperties();
  return GetItemProperties();
}

}  // namespace xelo
