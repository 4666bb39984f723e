#include "servers/simulation/LoanCheck.h"

#include "servers/simulation/OwnershipLedger.h"
#include "xelo/com/BStr.h"
#include "xelo/com/SafeArray.h"
#include "xelo/com/TaskMemory.h"

#include <cstddef>
#include <utility>

namespace xelo::sim {
namespace {

// A BSTR's length lies in the four bytes before its first character.
constexpr std::size_t kBstrPrefix = sizeof(std::uint32_t);

std::vector<unsigned char> BytesAt(const unsigned char* address, std::size_t size) {
  return std::vector<unsigned char>(address, address + size);
}

}  // namespace

LoanCheck::LoanCheck(std::string_view method) : active_(OwnershipLedger::Instance().Strict()), method_(method) {}

std::string LoanCheck::Element(std::string_view argument, std::size_t index) {
  return std::string(argument) + "[" + std::to_string(index) + "]";
}

void LoanCheck::AddMemory(std::string what, std::string_view argument, std::size_t index, const void* address,
                          std::size_t size) {
  Piece piece{.what = std::move(what), .argument = std::string(argument), .index = index};
  piece.address = static_cast<const unsigned char*>(address);
  if (const auto block = xelo::com::FindTaskBlock(address)) piece.serial = block->serial;
  piece.bytes = BytesAt(piece.address, size);
  pieces_.push_back(std::move(piece));
}

void LoanCheck::LendValues(std::string_view argument, const VARIANT* values, std::size_t count) {
  Lend(argument, values, count);
  for (std::size_t i = 0; active_ && values != nullptr && i < count; ++i) {
    AddContents(Element(argument, i), argument, i, values[i]);
  }
}

void LoanCheck::AddContents(const std::string& of, std::string_view argument, std::size_t index,
                            const VARIANT& value) {
  // A by-reference value points into the lender's own memory; we never
  // lend those, and nothing of them is the client's to free.
  if ((value.vt & VT_BYREF) != 0) return;
  if (value.vt == VT_BSTR) {
    AddString("the string of " + of, argument, index, value.bstrVal);
  } else if ((value.vt & VT_ARRAY) != 0) {
    AddArray(of, argument, index, value.parray, static_cast<VARTYPE>(value.vt & VT_TYPEMASK));
  }
}

void LoanCheck::AddString(std::string what, std::string_view argument, std::size_t index, BSTR text) {
  if (text == nullptr) return;
  const auto* start = reinterpret_cast<const unsigned char*>(text) - kBstrPrefix;
  AddMemory(std::move(what), argument, index, start, kBstrPrefix + SysStringByteLen(text) + sizeof(OLECHAR));
}

void LoanCheck::AddArray(const std::string& of, std::string_view argument, std::size_t index,
                         const SAFEARRAY* array, VARTYPE elementType) {
  if (array == nullptr) return;
  const SAFEARRAYBOUND* bounds = array->rgsabound;
  AddMemory("the array of " + of, argument, index, array,
            offsetof(SAFEARRAY, rgsabound) + std::size_t{array->cDims} * sizeof(SAFEARRAYBOUND));
  std::size_t count = array->cDims > 0 ? 1 : 0;
  for (USHORT d = 0; d < array->cDims; ++d) count *= bounds[d].cElements;
  if (array->pvData == nullptr || count == 0) return;
  AddMemory("the elements of " + of, argument, index, array->pvData, count * array->cbElements);
  for (std::size_t k = 0; k < count; ++k) {
    const std::string element = "element " + std::to_string(k) + " of " + of;
    if (elementType == VT_BSTR) {
      AddString("the string of " + element, argument, index, static_cast<const BSTR*>(array->pvData)[k]);
    } else if (elementType == VT_VARIANT) {
      AddContents(element, argument, index, static_cast<const VARIANT*>(array->pvData)[k]);
    }
  }
}

void LoanCheck::LendText(std::string_view argument, const OLECHAR* text) {
  if (!active_ || text == nullptr) return;
  std::size_t length = 0;
  while (text[length] != 0) ++length;
  AddMemory(std::string(argument), argument, 0, text, (length + 1) * sizeof(OLECHAR));
}

void LoanCheck::LendGlobal(std::string_view argument, HGLOBAL block) {
  if (!active_ || block == nullptr) return;
  Piece piece{.what = "the data of " + std::string(argument), .argument = std::string(argument), .global = block};
  if (auto bytes = Current(piece)) piece.bytes = std::move(*bytes);
  pieces_.push_back(std::move(piece));
}

std::optional<std::vector<unsigned char>> LoanCheck::Current(const Piece& piece) {
  if (piece.global != nullptr) {
    const auto* data = static_cast<const unsigned char*>(GlobalLock(piece.global));
    if (data == nullptr) return std::nullopt;
    auto bytes = BytesAt(data, GlobalSize(piece.global));
    GlobalUnlock(piece.global);
    return bytes;
  }
  if (piece.serial && !xelo::com::IsLiveTaskBlock(piece.address, *piece.serial)) return std::nullopt;
  return BytesAt(piece.address, piece.bytes.size());
}

void LoanCheck::Verify() {
  for (Piece& piece : pieces_) {
    const auto now = Current(piece);
    if (!now) {
      piece.freed = true;
      OwnershipLedger::Instance().Report(method_ + ": the client freed " + piece.what);
    } else if (*now != piece.bytes) {
      OwnershipLedger::Instance().Report(method_ + ": the client changed " + piece.what);
    }
  }
}

bool LoanCheck::Freed(std::string_view argument, std::size_t index) const {
  for (const Piece& piece : pieces_) {
    if (piece.freed && piece.argument == argument && piece.index == index) return true;
  }
  return false;
}

}  // namespace xelo::sim
