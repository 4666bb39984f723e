#include "xelo/com/WideText.h"

namespace xelo::com {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one code point starting at `pos` and advances `pos` past it; an
// invalid sequence consumes its longest valid prefix (at least one byte).
char32_t DecodeUtf8(std::string_view s, std::size_t& pos) {
  const auto lead = static_cast<unsigned char>(s[pos++]);
  if (lead < 0x80) return lead;
  int length = 0;
  char32_t cp = 0;
  char32_t min = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, cp = lead & 0x1F, min = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, cp = lead & 0x0F, min = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, cp = lead & 0x07, min = 0x10000;
  } else {
    return kReplacement;
  }
  for (int i = 1; i < length; ++i) {
    if (pos >= s.size()) return kReplacement;
    const auto next = static_cast<unsigned char>(s[pos]);
    if ((next & 0xC0) != 0x80) return kReplacement;
    cp = (cp << 6) | (next & 0x3F);
    ++pos;
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return kReplacement;
  return cp;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace

OleString ToUtf16(std::string_view utf8) {
  OleString out;
  AppendUtf16(out, utf8);
  return out;
}

void AppendUtf16(OleString& out, std::string_view utf8) {
  // A UTF-8 text never needs more UTF-16 units than it has bytes: grow once,
  // write in place, trim at the end.
  const std::size_t start = out.size();
  out.resize(start + utf8.size());
  OLECHAR* next = out.data() + start;
  std::size_t pos = 0;
  while (pos < utf8.size()) {
    const auto byte = static_cast<unsigned char>(utf8[pos]);
    if (byte < 0x80) {  // the common case of identifiers: plain ASCII
      *next++ = byte;
      ++pos;
      continue;
    }
    const char32_t cp = DecodeUtf8(utf8, pos);
    if (cp >= 0x10000) {
      *next++ = static_cast<OLECHAR>(0xD800 + ((cp - 0x10000) >> 10));
      *next++ = static_cast<OLECHAR>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      *next++ = static_cast<OLECHAR>(cp);
    }
  }
  out.resize(static_cast<std::size_t>(next - out.data()));
}

std::string ToUtf8(OleStringView utf16) {
  std::string out;
  out.reserve(utf16.size());
  for (std::size_t i = 0; i < utf16.size(); ++i) {
    const OLECHAR unit = utf16[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
        utf16[i + 1] <= 0xDFFF) {
      AppendUtf8(out, 0x10000 + ((char32_t{unit} - 0xD800) << 10) + (utf16[i + 1] - 0xDC00));
      ++i;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      AppendUtf8(out, kReplacement);
    } else {
      AppendUtf8(out, unit);
    }
  }
  return out;
}

std::string ToUtf8(const OLECHAR* utf16) {
  return utf16 == nullptr ? std::string() : ToUtf8(OleStringView(utf16));
}

}  // namespace xelo::com
