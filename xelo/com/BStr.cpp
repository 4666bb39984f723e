#include "xelo/com/BStr.h"

#include "xelo/com/WideText.h"

#include <limits>

namespace xelo::com {

BSTR AllocBstr(OleStringView text) {
  if (text.size() > std::numeric_limits<UINT>::max() / sizeof(OLECHAR) - 16) return nullptr;
  return SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

BSTR AllocBstrUtf8(std::string_view utf8) { return AllocBstr(ToUtf16(utf8)); }

OleStringView BstrView(BSTR text) {
  return text == nullptr ? OleStringView() : OleStringView(text, SysStringLen(text));
}

std::string BstrToUtf8(BSTR text) { return ToUtf8(BstrView(text)); }

}  // namespace xelo::com
