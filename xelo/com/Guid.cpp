#include "xelo/com/Guid.h"

#include "xelo/com/ClassRegistry.h"
#include "xelo/com/TaskMemory.h"
#include "xelo/com/WideText.h"

#include <cstring>

namespace xelo::com {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

int HexValue(char32_t c) {
  if (c >= '0' && c <= '9') return static_cast<int>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<int>(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') return static_cast<int>(c - 'A' + 10);
  return -1;
}

// Shared by the narrow and the wide parser: both forms are pure ASCII.
template <class Char>
std::optional<GUID> ParseBraced(std::basic_string_view<Char> text) {
  // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
  if (text.size() != 38 || text.front() != '{' || text.back() != '}') return std::nullopt;
  std::uint8_t bytes[16];
  int byteIndex = 0;
  for (std::size_t i = 1; i < 37;) {
    if (i == 9 || i == 14 || i == 19 || i == 24) {
      if (text[i] != '-') return std::nullopt;
      ++i;
      continue;
    }
    const int high = HexValue(static_cast<char32_t>(text[i]));
    const int low = HexValue(static_cast<char32_t>(text[i + 1]));
    if (high < 0 || low < 0) return std::nullopt;
    bytes[byteIndex++] = static_cast<std::uint8_t>(high * 16 + low);
    i += 2;
  }
  GUID guid{};
  guid.Data1 = (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
               (std::uint32_t{bytes[2]} << 8) | bytes[3];
  guid.Data2 = static_cast<std::uint16_t>((bytes[4] << 8) | bytes[5]);
  guid.Data3 = static_cast<std::uint16_t>((bytes[6] << 8) | bytes[7]);
  std::memcpy(guid.Data4, bytes + 8, 8);
  return guid;
}

void AppendHex(std::string& out, std::uint64_t value, int digits) {
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) out += kHexDigits[(value >> shift) & 0xF];
}

HRESULT AllocGuidString(REFGUID guid, LPOLESTR* text) {
  if (text == nullptr) return E_POINTER;
  *text = CoTaskMemStrDup(ToUtf16(GuidToString(guid)));
  return *text != nullptr ? S_OK : E_OUTOFMEMORY;
}

}  // namespace

std::string GuidToString(REFGUID guid) {
  std::string out;
  out.reserve(38);
  out += '{';
  AppendHex(out, guid.Data1, 8);
  out += '-';
  AppendHex(out, guid.Data2, 4);
  out += '-';
  AppendHex(out, guid.Data3, 4);
  out += '-';
  AppendHex(out, guid.Data4[0], 2);
  AppendHex(out, guid.Data4[1], 2);
  out += '-';
  for (int i = 2; i < 8; ++i) AppendHex(out, guid.Data4[i], 2);
  out += '}';
  return out;
}

std::optional<GUID> ParseGuid(std::string_view text) { return ParseBraced(text); }
std::optional<GUID> ParseGuid(OleStringView text) { return ParseBraced(text); }

std::size_t GuidHash::operator()(const GUID& guid) const noexcept {
  std::uint64_t halves[2];
  std::memcpy(halves, &guid, sizeof halves);
  return std::hash<std::uint64_t>{}(halves[0] * 0x9E3779B97F4A7C15ull ^ halves[1]);
}

}  // namespace xelo::com

int StringFromGUID2(REFGUID guid, LPOLESTR buffer, int cchMax) {
  if (buffer == nullptr || cchMax < 39) return 0;
  const std::string text = xelo::com::GuidToString(guid);
  for (std::size_t i = 0; i < text.size(); ++i) buffer[i] = static_cast<OLECHAR>(text[i]);
  buffer[text.size()] = 0;
  return 39;
}

HRESULT StringFromCLSID(REFCLSID clsid, LPOLESTR* text) {
  return xelo::com::AllocGuidString(clsid, text);
}

HRESULT StringFromIID(REFIID iid, LPOLESTR* text) { return xelo::com::AllocGuidString(iid, text); }

HRESULT CLSIDFromString(LPCOLESTR text, LPCLSID clsid) {
  if (clsid == nullptr) return E_POINTER;
  *clsid = CLSID_NULL;
  if (text == nullptr) return E_INVALIDARG;
  const xelo::com::OleStringView view(text);
  if (const auto guid = xelo::com::ParseGuid(view)) {
    *clsid = *guid;
    return S_OK;
  }
  if (!view.empty() && view.front() == OLESTR('{')) return CO_E_CLASSSTRING;
  return CLSIDFromProgID(text, clsid) == S_OK ? S_OK : CO_E_CLASSSTRING;
}

HRESULT IIDFromString(LPCOLESTR text, IID* iid) {
  if (iid == nullptr) return E_POINTER;
  *iid = IID_NULL;
  if (text == nullptr) return E_INVALIDARG;
  const auto guid = xelo::com::ParseGuid(xelo::com::OleStringView(text));
  if (!guid) return E_INVALIDARG;
  *iid = *guid;
  return S_OK;
}
