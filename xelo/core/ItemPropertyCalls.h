// Internal to the core: the item property calls that the property list
// (TXeloItemProperties) and the server component's property queries share.
// Not installed; applications use those two classes.
#pragma once

#include "xelo/framework/Variant.h"
#include "xelo/opc/Opc.h"

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace xelo::detail {

struct AvailableProperty {
  DWORD id = 0;
  std::string description;
  VARTYPE type = VT_EMPTY;
};

// One IOPCItemProperties::QueryAvailableProperties call, in the server's
// order. A failure raises through OPCCheck. Every buffer of the answer is
// freed before returning or raising.
std::vector<AvailableProperty> QueryProperties(IOPCItemProperties& properties, const std::string& itemId);

// One IOPCItemProperties::GetItemProperties call for `ids` (sent as a task
// array). True when the call succeeded: then `values` and `errors` hold one
// entry per id, a value only where its error is exactly S_OK. False for a
// failed call or no ids. Never raises (except std::bad_alloc); every buffer
// of the answer is freed.
bool ReadProperties(IOPCItemProperties& properties, const std::string& itemId, std::span<const DWORD> ids,
                    std::vector<Variant>& values, std::vector<HRESULT>& errors);

// `id,"description",type`: the id unsigned, the description as it is
// (quotes inside are not escaped).
std::string PropertyLine(DWORD id, std::string_view description, VARTYPE type);

}  // namespace xelo::detail
