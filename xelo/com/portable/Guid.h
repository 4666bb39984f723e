// The portable back end's declarations for xelo/com/Guid.h, with the SDK's
// names, values and layouts; include that header, not this one.
#pragma once

#include "xelo/com/HResult.h"
#include "xelo/com/WinTypes.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

struct GUID {
  std::uint32_t Data1;
  std::uint16_t Data2;
  std::uint16_t Data3;
  std::uint8_t Data4[8];

  friend constexpr bool operator==(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i) {
      if (a.Data4[i] != b.Data4[i]) return false;
    }
    return true;
  }
};
static_assert(sizeof(GUID) == 16 && alignof(GUID) == 4);

using IID = GUID;
using CLSID = GUID;
using CATID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;
using LPCLSID = CLSID*;

inline constexpr GUID GUID_NULL{0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
inline constexpr IID IID_NULL = GUID_NULL;
inline constexpr CLSID CLSID_NULL = GUID_NULL;

inline bool IsEqualGUID(REFGUID a, REFGUID b) { return a == b; }
inline bool IsEqualIID(REFIID a, REFIID b) { return a == b; }
inline bool IsEqualCLSID(REFCLSID a, REFCLSID b) { return a == b; }

// Text form of a GUID in upper case with braces (38 characters), written into
// `buffer`; returns the number of characters written including the
// terminator, or 0 when `cchMax` is smaller than 39.
int StringFromGUID2(REFGUID guid, LPOLESTR buffer, int cchMax);

// Allocates the text form with the task allocator; the caller frees it with
// CoTaskMemFree. E_POINTER for a null out pointer, E_OUTOFMEMORY on failure.
HRESULT StringFromCLSID(REFCLSID clsid, LPOLESTR* text);
HRESULT StringFromIID(REFIID iid, LPOLESTR* text);

// Parses the braced registry form (either case). As COM does, a text that is
// not in that form is looked up as a ProgID in the class registry;
// CO_E_CLASSSTRING when neither works. E_INVALIDARG / E_POINTER for null
// arguments; *clsid is set to CLSID_NULL on failure.
HRESULT CLSIDFromString(LPCOLESTR text, LPCLSID clsid);
// Only the braced form; E_INVALIDARG otherwise.
HRESULT IIDFromString(LPCOLESTR text, IID* iid);
