// The portable back end's BSTRs: a 32-bit byte length, the characters and a
// terminating NUL in one heap block.
#include "xelo/com/BStr.h"

#include "xelo/com/TaskMemory.h"

#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

constexpr std::size_t kPrefix = sizeof(std::uint32_t);

// The length prefix sits directly before the characters, as in COM.
BSTR AllocateBytes(const void* bytes, std::size_t byteLength) {
  if (byteLength > std::numeric_limits<std::uint32_t>::max() - 16) return nullptr;
  auto* block = static_cast<unsigned char*>(std::malloc(kPrefix + byteLength + sizeof(OLECHAR)));
  if (block == nullptr) return nullptr;
  const auto prefix = static_cast<std::uint32_t>(byteLength);
  std::memcpy(block, &prefix, kPrefix);
  if (bytes != nullptr && byteLength != 0) {
    std::memcpy(block + kPrefix, bytes, byteLength);
  } else {
    std::memset(block + kPrefix, 0, byteLength);
  }
  // Terminator after the last whole character, plus one extra zero byte for
  // odd byte lengths so that the text is always NUL-terminated.
  block[kPrefix + byteLength] = 0;
  block[kPrefix + byteLength + 1] = 0;
  xelo::com::detail::CountBstr(+1);
  xelo::com::detail::TrackBlock(block, kPrefix + byteLength + sizeof(OLECHAR));
  return reinterpret_cast<BSTR>(block + kPrefix);
}

std::uint32_t ByteLength(BSTR text) {
  std::uint32_t length;
  std::memcpy(&length, reinterpret_cast<const unsigned char*>(text) - kPrefix, kPrefix);
  return length;
}

}  // namespace

BSTR SysAllocString(const OLECHAR* text) {
  if (text == nullptr) return nullptr;
  return xelo::com::AllocBstr(xelo::com::OleStringView(text));
}

BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
  if (length > std::numeric_limits<std::uint32_t>::max() / 2 - 16) return nullptr;
  return AllocateBytes(text, std::size_t{length} * sizeof(OLECHAR));
}

BSTR SysAllocStringByteLen(const char* bytes, UINT length) { return AllocateBytes(bytes, length); }

// Both copy before they free: `text` may be (part of) the old string.
INT SysReAllocString(BSTR* target, const OLECHAR* text) {
  if (target == nullptr) return FALSE;
  BSTR copy = SysAllocString(text);
  if (copy == nullptr && text != nullptr) return FALSE;
  SysFreeString(*target);
  *target = copy;
  return TRUE;
}

INT SysReAllocStringLen(BSTR* target, const OLECHAR* text, UINT length) {
  if (target == nullptr) return FALSE;
  BSTR copy = SysAllocStringLen(text, length);
  if (copy == nullptr) return FALSE;
  SysFreeString(*target);
  *target = copy;
  return TRUE;
}

void SysFreeString(BSTR text) {
  if (text == nullptr) return;
  xelo::com::detail::CountBstr(-1);
  unsigned char* block = reinterpret_cast<unsigned char*>(text) - kPrefix;
  xelo::com::detail::ForgetBlock(block);
  std::free(block);
}

UINT SysStringLen(BSTR text) { return text == nullptr ? 0 : ByteLength(text) / 2; }

UINT SysStringByteLen(BSTR text) { return text == nullptr ? 0 : ByteLength(text); }
