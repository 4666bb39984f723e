// GUID / IID / CLSID with the SDK's layout, comparison, hashing and the
// registry text form "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
#pragma once

#include "xelo/com/ComBackEnd.h"

#if XELO_COM_NATIVE
#include "xelo/com/WinTypes.h"  // Windows SDK
#else
#include "xelo/com/portable/Guid.h"
#endif

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace xelo::com {

// "{...}" in upper case, 38 characters.
std::string GuidToString(REFGUID guid);

// Parses exactly the braced form "{8-4-4-4-12}" with hexadecimal digits of
// either case; nothing before or after it.
std::optional<GUID> ParseGuid(std::string_view text);
std::optional<GUID> ParseGuid(OleStringView text);

struct GuidHash {
  std::size_t operator()(const GUID& guid) const noexcept;
};

}  // namespace xelo::com

template <>
struct std::hash<GUID> {
  std::size_t operator()(const GUID& guid) const noexcept { return xelo::com::GuidHash{}(guid); }
};
