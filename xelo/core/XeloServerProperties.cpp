// The item-property queries of TXeloServer.
//
// They use the interface the component cached at activation. Without a
// connection they answer false or empty and report nothing: a property
// question to a server that is not there has no answer, it is no error.

#include "xelo/com/TaskMemory.h"
#include "xelo/com/WideText.h"
#include "xelo/core/ItemPropertyCalls.h"
#include "xelo/core/XeloErrors.h"
#include "xelo/core/XeloFormat.h"
#include "xelo/core/XeloItemProperties.h"
#include "xelo/core/XeloServer.h"
#include "xelo/framework/Strings.h"
#include "xelo/framework/Variant.h"

#include <array>

namespace xelo {

namespace {

// The identifiers and errors of a lookup answer, freed with the identifiers
// they point to whichever way the caller leaves.
struct LookupAnswer {
  LPWSTR* itemIds = nullptr;
  HRESULT* errors = nullptr;

  LookupAnswer() = default;
  LookupAnswer(const LookupAnswer&) = delete;
  LookupAnswer& operator=(const LookupAnswer&) = delete;
  ~LookupAnswer() {
    if (itemIds != nullptr) ::CoTaskMemFree(itemIds[0]);
    ::CoTaskMemFree(itemIds);
    ::CoTaskMemFree(errors);
  }
};

}  // namespace

bool TXeloServer::QueryAvailableProperties(const std::string& ItemID, TStrings& List) {
  List.Clear();
  // Only a connected component is asked; GetItemPropIF would report the
  // missing connection.
  const com::ComPtr<IOPCItemProperties> properties = server_ ? GetItemPropIF() : nullptr;
  if (!properties) return false;
  for (const detail::AvailableProperty& available : detail::QueryProperties(*properties, ItemID)) {
    List.Add(detail::PropertyLine(available.id, available.description, available.type));
  }
  return List.GetCount() > 0;
}

bool TXeloServer::GetItemProperty(const std::string& ItemID, std::int32_t PropID, Variant& Value) {
  Value.Clear();
  const com::ComPtr<IOPCItemProperties> properties = server_ ? GetItemPropIF() : nullptr;
  if (!properties) return false;
  // Property ids are unsigned on the wire; the bits go as they are.
  const std::array<DWORD, 1> ids{static_cast<DWORD>(PropID)};
  std::vector<Variant> values;
  std::vector<HRESULT> errors;
  if (!detail::ReadProperties(*properties, ItemID, ids, values, errors)) return false;
  // Only exactly S_OK delivers a value; a success code with a remark (a
  // clamped or substituted value) is no reliable answer to "what is it".
  if (errors[0] != S_OK) return false;
  Value = std::move(values[0]);
  return true;
}

std::string TXeloServer::LookupItemId(const std::string& ItemID, std::uint32_t PropID) {
  const com::ComPtr<IOPCItemProperties> properties = server_ ? GetItemPropIF() : nullptr;
  if (!properties) return {};
  com::OleString itemId = StringToWide(ItemID);  // the interface takes mutable arguments
  DWORD propertyId = PropID;
  LookupAnswer answer;
  const HRESULT hr = properties->LookupItemIDs(itemId.data(), 1, &propertyId, &answer.itemIds, &answer.errors);
  if (FAILED(hr) || answer.itemIds == nullptr || answer.errors == nullptr) return {};
  if (answer.errors[0] == S_OK) return com::ToUtf8(answer.itemIds[0]);
  // A property without an identifier of its own is the caller's mistake and
  // raises; a success code with a remark just leaves nothing to return.
  OPCCheck(answer.errors[0]);
  return {};
}

}  // namespace xelo
