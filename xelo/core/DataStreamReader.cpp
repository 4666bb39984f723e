#include "xelo/core/DataStreamReader.h"

#include "xelo/com/BStr.h"
#include "xelo/com/HResult.h"
#include "xelo/com/SafeArray.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

namespace xelo {
namespace {

// The block is little-endian and we copy its numbers and packed array
// elements byte for byte.
static_assert(std::endian::native == std::endian::little);

constexpr std::size_t kGroupHeaderSize = 20;
constexpr std::size_t kTimedItemHeaderSize = 20;
constexpr std::size_t kItemHeaderSize = 12;
constexpr std::size_t kVariantSize32 = 16;
constexpr std::size_t kSafeArraySize32 = 24;
constexpr std::size_t kTextCountSize = 4;
constexpr std::size_t kTextNulSize = 2;

// Bytes one array element of type `vt` occupies in the block's 32-bit
// layout, i.e. the cbElements the descriptor must state; 0 for a type we do
// not accept as an element.
std::size_t ElementSize32(VARTYPE vt) {
  switch (vt) {
    case VT_BSTR:
      return 4;  // a pointer slot in 32-bit COM; the text itself is stored inline
    case VT_VARIANT:
      return kVariantSize32;
    case VT_UNKNOWN:
    case VT_DISPATCH:
      // Interface pointers have no meaning in another process and no
      // defined stored form; refusing them is the only sound choice.
      return 0;
    default:
      return com::VarTypeSize(vt);  // numbers have one size on every ABI
  }
}

// The fewest block bytes one element can take: what bounds an element count
// by the bytes that are left. A string element is at least its count and
// its NUL; a VARIANT element at least its 16-byte head.
std::size_t MinimumElementBytes(VARTYPE vt) {
  if (vt == VT_BSTR) return kTextCountSize + kTextNulSize;
  return ElementSize32(vt);
}

bool ValidDecimal(const DECIMAL& d) { return d.scale <= 28 && (d.sign & ~DECIMAL_NEG) == 0; }

// Owns a SAFEARRAY while it is being filled, so that an element that turns
// out bad (or an allocation that fails) frees what was already built.
class ArrayGuard {
 public:
  explicit ArrayGuard(SAFEARRAY* array) noexcept : array_(array) {}
  ArrayGuard(const ArrayGuard&) = delete;
  ArrayGuard& operator=(const ArrayGuard&) = delete;
  ~ArrayGuard() { SafeArrayDestroy(array_); }
  SAFEARRAY* Get() const noexcept { return array_; }
  SAFEARRAY* Release() noexcept { return std::exchange(array_, nullptr); }

 private:
  SAFEARRAY* array_;
};

// Reads values out of one block. Every read is preceded by a range check
// against the block's end; positions are std::size_t, and a range is tested
// as "start <= end && length <= end - start", which cannot overflow.
class ValueDecoder {
 public:
  ValueDecoder(const std::uint8_t* data, std::size_t size) noexcept : data_(data), size_(size) {}

  bool Has(std::size_t at, std::size_t length) const noexcept { return at <= size_ && length <= size_ - at; }

  template <class T>
  T Load(std::size_t at) const noexcept {  // the caller has checked Has(at, sizeof(T))
    T value;
    std::memcpy(&value, data_ + at, sizeof value);
    return value;
  }

  // Decodes the value whose VARIANT starts at `at` into `out` (treated as
  // uninitialised). On success `out` owns what it holds and `end` is the
  // first byte after the value's stored data. On failure `out` is VT_EMPTY
  // and owns nothing. `level` counts the arrays enclosing this value.
  bool ReadValue(std::size_t at, int level, VARIANT& out, std::size_t& end) {
    // All zero (VT_EMPTY): a scalar shorter than the value field must not
    // carry whatever the caller's memory held in the rest of it.
    std::memset(&out, 0, sizeof out);
    if (!Has(at, kVariantSize32)) return false;
    const auto vt = Load<VARTYPE>(at);
    if (!com::IsValidVariantType(vt)) return false;
    const std::size_t body = at + kVariantSize32;
    const std::size_t valueBytes = at + 8;
    if ((vt & VT_BYREF) != 0) {
      // The value lives in the server's memory; nothing of it is here.
      end = body;
      return true;
    }
    if ((vt & VT_ARRAY) != 0) return ReadArray(static_cast<VARTYPE>(vt & VT_TYPEMASK), body, level, out, end);
    end = body;
    switch (vt) {
      case VT_EMPTY:
      case VT_NULL:
        out.vt = vt;
        return true;
      case VT_UNKNOWN:
      case VT_DISPATCH:
        return true;  // stays VT_EMPTY, as a VT_BYREF value does
      case VT_BSTR: {
        BSTR text = nullptr;
        if (!ReadText(body, text, end)) return false;
        out.bstrVal = text;
        out.vt = VT_BSTR;
        return true;
      }
      case VT_BOOL:
        out.boolVal = Load<VARIANT_BOOL>(valueBytes) != 0 ? VARIANT_TRUE : VARIANT_FALSE;
        out.vt = VT_BOOL;
        return true;
      case VT_DECIMAL: {
        // A DECIMAL overlays the whole VARIANT, its first word being the
        // type code.
        const auto value = Load<DECIMAL>(at);
        if (!ValidDecimal(value)) return false;
        out.decVal = value;
        out.vt = VT_DECIMAL;  // after the value, which overlays the type
        return true;
      }
      default: {
        // The numeric types: their bytes at the start of the value field,
        // as in our own VARIANT.
        const std::size_t bytes = ElementSize32(vt);
        if (bytes == 0 || bytes > 8) return false;
        std::memcpy(&out.llVal, data_ + valueBytes, bytes);
        out.vt = vt;
        return true;
      }
    }
  }

 private:
  // A stored string at `at`: byte count, characters, NUL. A new BSTR in
  // `out` on success.
  bool ReadText(std::size_t at, BSTR& out, std::size_t& end) {
    if (!Has(at, kTextCountSize)) return false;
    const auto bytes = Load<DWORD>(at);
    if (bytes % 2 != 0) return false;  // UTF-16 text has whole characters
    const std::size_t chars = at + kTextCountSize;
    if (!Has(chars, bytes) || !Has(chars + bytes, kTextNulSize)) return false;
    // The terminator is what tells us the writer and we agree on where the
    // text ends; without it the count is not believed.
    if (Load<WORD>(chars + bytes) != 0) return false;
    out = SysAllocStringByteLen(reinterpret_cast<const char*>(data_ + chars), bytes);
    if (out == nullptr) throw std::bad_alloc();
    end = chars + bytes + kTextNulSize;
    return true;
  }

  // The descriptor at `at` and the elements after it.
  bool ReadArray(VARTYPE element, std::size_t at, int level, VARIANT& out, std::size_t& end) {
    if (level >= kMaxStreamArrayNesting) return false;
    if (!Has(at, kSafeArraySize32)) return false;
    const std::size_t cb = ElementSize32(element);
    if (cb == 0) return false;
    // The stored descriptor has room for the bounds of one dimension, and
    // writers of this format store one-dimensional arrays only.
    if (Load<WORD>(at) != 1) return false;
    if (Load<DWORD>(at + 4) != cb) return false;
    const auto count = Load<DWORD>(at + 16);
    const auto lower = Load<LONG>(at + 20);
    if (count > 0 && static_cast<std::int64_t>(lower) + count - 1 > std::numeric_limits<LONG>::max()) return false;
    const std::size_t first = at + kSafeArraySize32;
    // Each element takes at least this many bytes of what is left: a count
    // that cannot fit is refused before anything is allocated for it.
    if (count > (size_ - first) / MinimumElementBytes(element)) return false;
    if (static_cast<std::uint64_t>(count) * com::VarTypeSize(element) > std::numeric_limits<ULONG>::max()) {
      return false;  // the data of a SAFEARRAY is sized by a ULONG
    }
    ArrayGuard array(SafeArrayCreateVector(element, lower, count));
    if (array.Get() == nullptr) throw std::bad_alloc();  // the sizes were checked above
    std::size_t cursor = first;
    if (element == VT_BSTR) {
      auto* texts = static_cast<BSTR*>(array.Get()->pvData);
      for (DWORD i = 0; i < count; ++i) {
        if (!ReadText(cursor, texts[i], cursor)) return false;
      }
    } else if (element == VT_VARIANT) {
      auto* values = static_cast<VARIANT*>(array.Get()->pvData);
      for (DWORD i = 0; i < count; ++i) {
        if (!ReadValue(cursor, level + 1, values[i], cursor)) return false;
      }
    } else {
      // Fixed-size elements have the same size and layout here as in
      // 32-bit COM (checked against cb above).
      const std::size_t bytes = static_cast<std::size_t>(count) * cb;
      if (bytes > 0) std::memcpy(array.Get()->pvData, data_ + first, bytes);
      cursor = first + bytes;
      if (element == VT_BOOL) {
        auto* flags = static_cast<VARIANT_BOOL*>(array.Get()->pvData);
        for (DWORD i = 0; i < count; ++i) flags[i] = flags[i] != 0 ? VARIANT_TRUE : VARIANT_FALSE;
      } else if (element == VT_DECIMAL) {
        auto* numbers = static_cast<DECIMAL*>(array.Get()->pvData);
        for (DWORD i = 0; i < count; ++i) {
          if (!ValidDecimal(numbers[i])) return false;
        }
      }
    }
    out.parray = array.Release();
    out.vt = static_cast<VARTYPE>(VT_ARRAY | element);
    end = cursor;
    return true;
  }

  const std::uint8_t* data_;
  std::size_t size_;
};

}  // namespace

std::optional<StreamBlock> ReadDataStream(const std::uint8_t* data, std::size_t size, bool withTimeStamps) {
  if (data == nullptr || size < kGroupHeaderSize) return std::nullopt;
  ValueDecoder block(data, size);
  const auto declaredSize = block.Load<DWORD>(0);
  const auto itemCount = static_cast<std::int32_t>(block.Load<DWORD>(4));
  StreamBlock result;
  result.clientGroup = block.Load<OPCHANDLE>(8);
  result.transactionId = block.Load<DWORD>(12);
  result.status = block.Load<HRESULT>(16);
  if (declaredSize < kGroupHeaderSize) return std::nullopt;
  if (FAILED(result.status)) return result;
  if (itemCount < 0) return std::nullopt;

  // From here on only the bytes both the caller and the server vouch for.
  const std::size_t limit = std::min<std::size_t>(size, declaredSize);
  ValueDecoder bounded(data, limit);
  const std::size_t headerSize = withTimeStamps ? kTimedItemHeaderSize : kItemHeaderSize;
  const std::uint64_t headersEnd = kGroupHeaderSize + static_cast<std::uint64_t>(itemCount) * headerSize;
  if (headersEnd > limit) return std::nullopt;
  const auto valuesStart = static_cast<std::size_t>(headersEnd);

  result.items.reserve(static_cast<std::size_t>(itemCount));
  // Stored string and array data decoded so far. Items may point at the same
  // value; each one gets its own copy, so without this bound a few bytes of
  // headers could make us copy one large value over and over.
  std::size_t decoded = 0;
  for (std::int32_t i = 0; i < itemCount; ++i) {
    const std::size_t header = kGroupHeaderSize + static_cast<std::size_t>(i) * headerSize;
    StreamItem item;
    item.hClient = bounded.Load<OPCHANDLE>(header);
    const auto valueOffset = bounded.Load<DWORD>(header + 4);
    item.quality = bounded.Load<WORD>(header + 8);
    if (withTimeStamps) {
      item.timeStamp = bounded.Load<FILETIME>(header + 12);
      item.hasTimeStamp = true;
    }
    if (valueOffset < valuesStart) return std::nullopt;
    VARIANT value;
    std::size_t end = 0;
    if (!bounded.ReadValue(valueOffset, 0, value, end)) return std::nullopt;
    item.value = Variant::Attach(value);
    decoded += end - (valueOffset + kVariantSize32);
    if (decoded > limit) return std::nullopt;
    result.items.push_back(std::move(item));
  }
  return result;
}

}  // namespace xelo
