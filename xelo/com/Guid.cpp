#include "xelo/com/Guid.h"

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
