#include "xelo/framework/Variant.h"

#include "xelo/com/BStr.h"
#include "xelo/com/HResult.h"
#include "xelo/com/OleDate.h"
#include "xelo/com/VariantConversion.h"
#include "xelo/framework/Exceptions.h"
#include "xelo/framework/Persistent.h"
#include "xelo/framework/SysUtils.h"
#include "xelo/framework/TypInfo.h"

#include <any>
#include <cmath>
#include <cstring>
#include <iterator>
#include <limits>
#include <new>
#include <utility>

namespace xelo {
namespace {

__extension__ typedef __int128 Int128;

constexpr std::uint64_t kMaxArrayBytes = 0xFFFFFFFFu;  // SAFEARRAY sizes are ULONGs
constexpr std::size_t kMaxQuotedText = 80;

std::string TypeName(VARTYPE vt) {
  if (vt == varString) return "String";
  if (vt & VT_ARRAY) return "Array of " + TypeName(static_cast<VARTYPE>(vt & ~VT_ARRAY));
  if (vt & VT_BYREF) return "Reference to " + TypeName(static_cast<VARTYPE>(vt & ~VT_BYREF));
  static const char* const kNames[] = {"Empty", "Null",    "I2",    "I4",      "R4",      "R8",  "CY",  "DATE",
                                       "BSTR",  "DISPATCH", "ERROR", "BOOL",    "VARIANT", "UNKNOWN", "DECIMAL",
                                       nullptr, "I1",      "UI1",   "UI2",     "UI4",     "I8",  "UI8", "INT",
                                       "UINT"};
  if (static_cast<std::size_t>(vt) < std::size(kNames) && kNames[vt] != nullptr) return kNames[vt];
  return "0x" + IntToHex(vt, 4);
}

bool IsText(VARTYPE vt) { return vt == varString || vt == VT_BSTR; }

// Error messages quote the offending text; a long text is cut at a
// character boundary so that a megabyte item value does not become a
// megabyte message.
std::string QuoteForMessage(const std::string& text) {
  if (text.size() <= kMaxQuotedText) return QuotedStr(text);
  std::size_t cut = kMaxQuotedText;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return QuotedStr(text.substr(0, cut)) + "...";
}

[[noreturn]] void ThrowConvertError(const Variant& source, VARTYPE target, HRESULT hr) {
  if (hr == E_OUTOFMEMORY) throw std::bad_alloc();
  const std::string to = TypeName(target);
  const std::string what = IsText(source.VarType()) ? "the text " + QuoteForMessage(VarToStr(source))
                                                     : "a variant of type " + TypeName(source.VarType());
  if (hr == DISP_E_OVERFLOW) throw EConvertError("Overflow while converting " + what + " to type " + to);
  if (hr == DISP_E_TYPEMISMATCH) throw EConvertError("Could not convert " + what + " to type " + to);
  if (hr == DISP_E_BADVARTYPE) throw EConvertError("Invalid variant type code 0x" + IntToHex(target, 4));
  throw EConvertError("Could not convert " + what + " to type " + to + ": " + com::SystemMessageText(hr));
}

// The one place where values change type: COM's conversion in the
// invariant locale, arrays element by element, with Booleans as
// "True"/"False" so that a Boolean turned into text reads the same as
// VarToStr shows it.
Variant Convert(const Variant& source, VARTYPE target) {
  VARIANT out;
  VariantInit(&out);
  const HRESULT hr = com::ChangeVariantType(&out, &source.AsVARIANT(), VARIANT_ALPHABOOL, target);
  if (FAILED(hr)) ThrowConvertError(source, target, hr);
  return Variant::Attach(out);
}

bool IsArrayElementType(VARTYPE vt) {
  switch (vt) {
    case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_I4: case VT_UI4: case VT_I8: case VT_UI8:
    case VT_INT: case VT_UINT: case VT_R4: case VT_R8: case VT_CY: case VT_DATE: case VT_BSTR: case VT_BOOL:
    case VT_ERROR: case VT_VARIANT: case VT_UNKNOWN: case VT_DISPATCH: case VT_DECIMAL:
      return true;
    default:
      return false;
  }
}

ULONG ElementSize(VARTYPE vt) {
  switch (vt) {
    case VT_I1: case VT_UI1: return 1;
    case VT_I2: case VT_UI2: case VT_BOOL: return 2;
    case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_R4: case VT_ERROR: return 4;
    case VT_I8: case VT_UI8: case VT_R8: case VT_CY: case VT_DATE: return 8;
    case VT_BSTR: case VT_UNKNOWN: case VT_DISPATCH: return sizeof(void*);
    case VT_VARIANT: return sizeof(VARIANT);
    case VT_DECIMAL: return sizeof(DECIMAL);
    default: return 0;
  }
}

// The array inside `value` after checking that it is one whose elements we
// can read and write without guessing: arrays from servers are trusted only
// as far as their descriptor agrees with the VARIANT's type code.
SAFEARRAY* ArrayOf(const Variant& value) {
  if (!value.IsArray()) throw EConvertError("A variant of type " + TypeName(value.VarType()) + " is not an array");
  return value.AsVARIANT().parray;
}

VARTYPE CheckedElementType(const Variant& value, SAFEARRAY* psa) {
  const auto elementType = static_cast<VARTYPE>(value.VarType() & VT_TYPEMASK);
  VARTYPE recorded = VT_EMPTY;
  const bool mismatch = SafeArrayGetElemsize(psa) != ElementSize(elementType) ||
                        (SUCCEEDED(SafeArrayGetVartype(psa, &recorded)) && recorded != elementType);
  if (mismatch) {
    throw EConvertError("The elements of the variant array do not match its type " + TypeName(value.VarType()));
  }
  return elementType;
}

[[noreturn]] void ThrowBadDimension(int dim, UINT dims) {
  throw EListError("Variant array dimension " + IntToStr(dim) + " out of range (1.." + IntToStr(dims) + ")");
}

// Checks the count of indices (EConvertError) and each index against its
// dimension's bounds (EListError) before the array is touched.
void CheckIndices(SAFEARRAY* psa, std::span<const LONG> indices) {
  const UINT dims = SafeArrayGetDim(psa);
  if (indices.size() != dims) {
    throw EConvertError("The variant array has " + IntToStr(dims) + " dimension(s), but " +
                        IntToStr(indices.size()) + " index(es) were given");
  }
  for (UINT d = 1; d <= dims; ++d) {
    LONG low = 0;
    LONG high = 0;
    SafeArrayGetLBound(psa, d, &low);
    SafeArrayGetUBound(psa, d, &high);
    const LONG index = indices[d - 1];
    if (index < low || index > high) {
      throw EListError("Variant array index " + IntToStr(index) + " out of bounds (" + IntToStr(low) + ".." +
                       IntToStr(high) + ") in dimension " + IntToStr(d));
    }
  }
}

[[noreturn]] void ThrowElementError(HRESULT hr) {
  if (hr == E_OUTOFMEMORY) throw std::bad_alloc();
  // The bounds were checked before; an index refused here means an empty
  // dimension whose upper bound could not be expressed as a LONG.
  if (hr == DISP_E_BADINDEX) throw EListError("Variant array index out of bounds");
  throw EConvertError("Variant array element access failed: " + com::SystemMessageText(hr));
}

// --- Comparison --------------------------------------------------------------

enum class Kind { Empty, Null, Text, Integer, Real, Error, Interface, Array, Other };

Kind KindOf(VARTYPE vt) {
  if (vt & VT_ARRAY) return Kind::Array;
  switch (vt) {
    case VT_EMPTY: return Kind::Empty;
    case VT_NULL: return Kind::Null;
    case varString: case VT_BSTR: return Kind::Text;
    case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_I4: case VT_UI4: case VT_I8: case VT_UI8:
    case VT_INT: case VT_UINT: case VT_BOOL:
      return Kind::Integer;
    case VT_R4: case VT_R8: case VT_DATE: case VT_CY: case VT_DECIMAL: return Kind::Real;
    case VT_ERROR: return Kind::Error;
    case VT_UNKNOWN: case VT_DISPATCH: return Kind::Interface;
    default: return Kind::Other;
  }
}

Int128 IntegerOf(const VARIANT& v) {
  switch (v.vt) {
    case VT_I1: return static_cast<signed char>(v.cVal);
    case VT_UI1: return v.bVal;
    case VT_I2: return v.iVal;
    case VT_UI2: return v.uiVal;
    case VT_I4: return v.lVal;
    case VT_UI4: return v.ulVal;
    case VT_I8: return v.llVal;
    case VT_UI8: return v.ullVal;
    case VT_INT: return v.intVal;
    case VT_UINT: return v.uintVal;
    case VT_BOOL: return v.boolVal != VARIANT_FALSE ? -1 : 0;  // COM's true is -1
    default: return 0;
  }
}

double RealOf(const Variant& value) {
  const VARIANT& v = value.AsVARIANT();
  switch (v.vt) {
    case VT_R4: return v.fltVal;
    case VT_R8: return v.dblVal;
    case VT_DATE: return v.date;
    case VT_CY: return static_cast<double>(v.cyVal.int64) / 10000.0;
    default: return Convert(value, VT_R8).AsVARIANT().dblVal;  // DECIMAL, text
  }
}

// Exact: a double equals an integer only when it is that very integer.
bool IntegerEqualsDouble(Int128 integer, double d) {
  if (!std::isfinite(d) || d != std::trunc(d) || std::fabs(d) >= 0x1p100) return false;
  return static_cast<Int128>(d) == integer;
}

bool NumbersEqual(const Variant& a, const Variant& b) {
  const VARIANT& va = a.AsVARIANT();
  const VARIANT& vb = b.AsVARIANT();
  const Kind ka = KindOf(va.vt);
  const Kind kb = KindOf(vb.vt);
  if (ka == Kind::Integer && kb == Kind::Integer) return IntegerOf(va) == IntegerOf(vb);
  if (ka == Kind::Integer || kb == Kind::Integer) {
    const VARIANT& integer = ka == Kind::Integer ? va : vb;
    const Variant& real = ka == Kind::Integer ? b : a;
    // Currency is a scaled integer: compare it exactly.
    if (real.AsVARIANT().vt == VT_CY) return Int128{real.AsVARIANT().cyVal.int64} == IntegerOf(integer) * 10000;
    return IntegerEqualsDouble(IntegerOf(integer), RealOf(real));
  }
  if (va.vt == vb.vt) {
    switch (va.vt) {
      case VT_R4: return va.fltVal == vb.fltVal;
      case VT_CY: return va.cyVal.int64 == vb.cyVal.int64;
      case VT_DECIMAL:
        // COM writes a DECIMAL as its exact text without trailing zeros, a
        // canonical form that compares exactly.
        return com::BstrView(Convert(a, VT_BSTR).AsVARIANT().bstrVal) ==
               com::BstrView(Convert(b, VT_BSTR).AsVARIANT().bstrVal);
      default: break;
    }
  }
  return RealOf(a) == RealOf(b);
}

bool ArraysEqual(const Variant& a, const Variant& b) {
  if (a.VarType() != b.VarType()) return false;
  SAFEARRAY* pa = a.AsVARIANT().parray;
  SAFEARRAY* pb = b.AsVARIANT().parray;
  if (pa == nullptr || pb == nullptr) return pa == pb;
  const UINT dims = SafeArrayGetDim(pa);
  if (SafeArrayGetDim(pb) != dims) return false;
  std::vector<LONG> index(dims);
  std::vector<std::int64_t> high(dims);
  bool empty = false;
  for (UINT d = 1; d <= dims; ++d) {
    LONG lowA = 0, lowB = 0, highA = 0, highB = 0;
    SafeArrayGetLBound(pa, d, &lowA);
    SafeArrayGetLBound(pb, d, &lowB);
    SafeArrayGetUBound(pa, d, &highA);
    SafeArrayGetUBound(pb, d, &highB);
    if (lowA != lowB || highA != highB) return false;
    if (highA < lowA) empty = true;
    index[d - 1] = lowA;
    high[d - 1] = highA;
  }
  if (empty) return true;  // same shape, no elements to differ
  // Walk every element, the first dimension varying fastest.
  for (;;) {
    if (!(a.GetElement(index) == b.GetElement(index))) return false;
    UINT d = 0;
    while (d < dims && index[d] == high[d]) {
      LONG low = 0;
      SafeArrayGetLBound(pa, d + 1, &low);
      index[d] = low;
      ++d;
    }
    if (d == dims) return true;
    ++index[d];
  }
}

}  // namespace

// --- Construction --------------------------------------------------------------

Variant::Variant(float value) noexcept {
  VariantInit(&v_);
  v_.vt = VT_R4;
  v_.fltVal = value;
}

Variant::Variant(double value) noexcept {
  VariantInit(&v_);
  v_.vt = VT_R8;
  v_.dblVal = value;
}

Variant::Variant(std::string_view text) {
  VariantInit(&v_);
  AssignString(std::string(text));
}

Variant::Variant(const std::string& text) {
  VariantInit(&v_);
  AssignString(text);
}

Variant::Variant(const char* text) {
  VariantInit(&v_);
  AssignString(text != nullptr ? std::string(text) : std::string());
}

Variant::Variant(com::OleStringView text) {
  VariantInit(&v_);
  BSTR bstr = com::AllocBstr(text);
  if (bstr == nullptr) throw std::bad_alloc();
  v_.vt = VT_BSTR;
  v_.bstrVal = bstr;
}

Variant::Variant(const com::OleString& text) : Variant(com::OleStringView(text)) {}

Variant::Variant(const OLECHAR* text)
    : Variant(text != nullptr ? com::OleStringView(text) : com::OleStringView()) {}

Variant::Variant(const VARIANT& value) {
  VariantInit(&v_);
  // Following references keeps the promise that a Variant owns its value:
  // a copied VT_BYREF would point into memory that someone else frees.
  const HRESULT hr = VariantCopyInd(&v_, com::Lent(&value));
  if (hr == E_OUTOFMEMORY) throw std::bad_alloc();
  if (FAILED(hr)) {
    throw EConvertError("Cannot copy a VARIANT of type " + TypeName(value.vt) + ": " + com::SystemMessageText(hr));
  }
}

Variant::Variant(const Variant& other) : text_(other.text_), isString_(other.isString_) {
  VariantInit(&v_);
  // The source is always a valid VARIANT, so the only possible failure is
  // memory.
  if (FAILED(VariantCopy(&v_, com::Lent(&other.v_)))) throw std::bad_alloc();
}

Variant::Variant(Variant&& other) noexcept
    : v_(other.v_), text_(std::move(other.text_)), isString_(other.isString_) {
  VariantInit(&other.v_);
  other.text_.clear();
  other.isString_ = false;
}

Variant& Variant::operator=(const Variant& other) {
  if (this != &other) {
    Variant copy(other);
    swap(copy);
  }
  return *this;
}

Variant& Variant::operator=(Variant&& other) noexcept {
  if (this != &other) {
    Clear();
    swap(other);
  }
  return *this;
}

Variant::~Variant() { VariantClear(&v_); }

void Variant::swap(Variant& other) noexcept {
  std::swap(v_, other.v_);
  text_.swap(other.text_);
  std::swap(isString_, other.isString_);
}

void Variant::AssignString(std::string text) {
  BSTR bstr = com::AllocBstrUtf8(text);
  if (bstr == nullptr) throw std::bad_alloc();
  Clear();
  v_.vt = VT_BSTR;
  v_.bstrVal = bstr;
  text_ = std::move(text);
  isString_ = true;
}

namespace {

// Types whose VARIANT owns nothing and is copied as it stands.
bool IsPlainNumber(VARTYPE vt) {
  switch (vt) {
    case VT_EMPTY:
    case VT_NULL:
    case VT_I2:
    case VT_I4:
    case VT_R4:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
    case VT_ERROR:
    case VT_BOOL:
    case VT_I1:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_I8:
    case VT_UI8:
    case VT_INT:
    case VT_UINT:
      return true;
    default:
      return false;
  }
}

}  // namespace

void Variant::CopyFrom(const VARIANT& value) {
  if (!isString_ && IsPlainNumber(v_.vt) && IsPlainNumber(value.vt)) {
    v_ = value;
    return;
  }
  Variant copy(value);
  swap(copy);
}

Variant Variant::Attach(VARIANT& source) {
  if (source.vt & VT_BYREF) {
    Variant result(source);  // the referenced value, copied
    VariantInit(&source);
    return result;
  }
  if (!com::IsValidVariantType(source.vt)) {
    throw EConvertError("Cannot take over a VARIANT of invalid type " + TypeName(source.vt));
  }
  Variant result;
  result.v_ = source;
  VariantInit(&source);
  return result;
}

Variant Variant::Null() {
  Variant result;
  result.v_.vt = VT_NULL;
  return result;
}

Variant Variant::Date(DATE value) {
  Variant result;
  result.v_.vt = VT_DATE;
  result.v_.date = value;
  return result;
}

Variant Variant::Currency(CY value) {
  Variant result;
  result.v_.vt = VT_CY;
  result.v_.cyVal = value;
  return result;
}

Variant Variant::Currency(double value) { return Convert(Variant(value), VT_CY); }

Variant Variant::Error(SCODE code) {
  Variant result;
  result.v_.vt = VT_ERROR;
  result.v_.scode = code;
  return result;
}

Variant Variant::Array(VARTYPE elementType, LONG lowBound, LONG highBound) {
  const VarArrayBound bound{lowBound, highBound};
  return Array(elementType, std::span<const VarArrayBound>(&bound, 1));
}

Variant Variant::Array(VARTYPE elementType, std::initializer_list<VarArrayBound> bounds) {
  return Array(elementType, std::span<const VarArrayBound>(bounds.begin(), bounds.size()));
}

Variant Variant::Array(VARTYPE elementType, std::span<const VarArrayBound> bounds) {
  if (elementType == varString) elementType = VT_BSTR;
  if (!IsArrayElementType(elementType)) {
    throw EConvertError("A variant array cannot hold elements of type " + TypeName(elementType));
  }
  if (bounds.empty() || bounds.size() > 0xFFFF) {
    throw EConvertError("A variant array needs 1 to 65535 dimensions, not " + IntToStr(bounds.size()));
  }
  std::vector<SAFEARRAYBOUND> safeBounds;
  safeBounds.reserve(bounds.size());
  std::uint64_t bytes = ElementSize(elementType);
  bool empty = false;
  bool tooLarge = false;
  for (const VarArrayBound& b : bounds) {
    const std::int64_t count = std::int64_t{b.High} - b.Low + 1;
    if (count < 0) {
      throw EConvertError("Invalid variant array bounds " + IntToStr(b.Low) + ".." + IntToStr(b.High));
    }
    if (count == 0) {
      empty = true;
    } else if (bytes > kMaxArrayBytes / static_cast<std::uint64_t>(count)) {
      tooLarge = true;
    } else {
      bytes *= static_cast<std::uint64_t>(count);
    }
    safeBounds.push_back({static_cast<ULONG>(count), b.Low});
  }
  if (tooLarge && !empty) throw EConvertError("The variant array is too large");
  SAFEARRAY* psa = SafeArrayCreate(elementType, static_cast<UINT>(safeBounds.size()), safeBounds.data());
  if (psa == nullptr) throw std::bad_alloc();
  Variant result;
  result.v_.vt = static_cast<VARTYPE>(VT_ARRAY | elementType);
  result.v_.parray = psa;
  return result;
}

LONG detail::ArrayHighBound(LONG lowBound, std::size_t count) {
  const std::int64_t high = std::int64_t{lowBound} + static_cast<std::int64_t>(count) - 1;
  if (count > kMaxArrayBytes || high > std::numeric_limits<LONG>::max()) {
    throw EConvertError("Too many elements (" + IntToStr(count) + ") for a variant array from index " +
                        IntToStr(lowBound));
  }
  return static_cast<LONG>(high);
}

// --- Handing values over ---------------------------------------------------------

void Variant::ToVARIANT(VARIANT& out) const {
  VariantInit(&out);
  if (FAILED(VariantCopy(&out, com::Lent(&v_)))) throw std::bad_alloc();
}

void Variant::Detach(VARIANT& out) noexcept {
  out = v_;
  VariantInit(&v_);
  text_.clear();
  isString_ = false;
}

void Variant::Clear() noexcept {
  // Only a locked array makes VariantClear refuse; forgetting it then is
  // safer than keeping a value that someone else holds a lock on.
  if (FAILED(VariantClear(&v_))) VariantInit(&v_);
  text_.clear();
  isString_ = false;
}

// --- Conversions -------------------------------------------------------------------

double Variant::ToDouble() const {
  if (v_.vt == VT_R8) return v_.dblVal;
  return Convert(*this, VT_R8).v_.dblVal;
}

std::int32_t Variant::ToInt32() const {
  if (v_.vt == VT_I4) return v_.lVal;
  return Convert(*this, VT_I4).v_.lVal;
}

std::int64_t Variant::ToInt64() const {
  if (v_.vt == VT_I8) return v_.llVal;
  return Convert(*this, VT_I8).v_.llVal;
}

bool Variant::ToBool() const {
  if (v_.vt == VT_BOOL) return v_.boolVal != VARIANT_FALSE;
  return Convert(*this, VT_BOOL).v_.boolVal != VARIANT_FALSE;
}

Variant Variant::ChangeType(VARTYPE vt) const {
  if (vt == varString) return Variant(VarToStr(*this));
  if (vt == VarType()) return *this;
  return Convert(*this, vt);
}

std::string VarToStr(const Variant& value) {
  if (value.isString_) return value.text_;
  const VARIANT& v = value.v_;
  switch (v.vt) {
    case VT_EMPTY:
    case VT_NULL: return std::string();
    case VT_BSTR: return com::BstrToUtf8(v.bstrVal);
    case VT_I1: return IntToStr(static_cast<signed char>(v.cVal));
    case VT_UI1: return IntToStr(v.bVal);
    case VT_I2: return IntToStr(v.iVal);
    case VT_UI2: return IntToStr(v.uiVal);
    case VT_I4: return IntToStr(v.lVal);
    case VT_UI4: return IntToStr(v.ulVal);
    case VT_I8: return IntToStr(v.llVal);
    case VT_UI8: return IntToStr(v.ullVal);
    case VT_INT: return IntToStr(v.intVal);
    case VT_UINT: return IntToStr(v.uintVal);
    case VT_R4: return FloatToStr(v.fltVal);
    case VT_R8: return FloatToStr(v.dblVal);
    case VT_BOOL: return v.boolVal != VARIANT_FALSE ? "True" : "False";
    case VT_ERROR: return IntToStr(v.scode);
    case VT_CY:
    case VT_DECIMAL: return com::BstrToUtf8(Convert(value, VT_BSTR).AsVARIANT().bstrVal);
    case VT_DATE: {
      std::string text = com::DateToText(v.date);
      if (text.empty()) throw EConvertError("The date value " + FloatToStr(v.date) + " is outside the valid range");
      return text;
    }
    default:
      if (v.vt & VT_ARRAY) throw EConvertError("A variant array (" + TypeName(v.vt) + ") has no text");
      throw EConvertError("Could not convert a variant of type " + TypeName(v.vt) + " to text");
  }
}

// --- Arrays ------------------------------------------------------------------------

Variant Variant::GetElement(LONG index) const { return GetElement(std::span<const LONG>(&index, 1)); }

Variant Variant::GetElement(std::initializer_list<LONG> indices) const {
  return GetElement(std::span<const LONG>(indices.begin(), indices.size()));
}

Variant Variant::GetElement(std::span<const LONG> indices) const {
  SAFEARRAY* psa = ArrayOf(*this);
  CheckIndices(psa, indices);
  const VARTYPE elementType = CheckedElementType(*this, psa);
  HRESULT hr;
  if (elementType == VT_VARIANT) {
    VARIANT element;
    hr = SafeArrayGetElement(psa, com::Lent(indices.data()), &element);
    if (FAILED(hr)) ThrowElementError(hr);
    return Attach(element);
  }
  VARIANT element;
  VariantInit(&element);
  if (elementType == VT_DECIMAL) {
    DECIMAL decimal;
    hr = SafeArrayGetElement(psa, com::Lent(indices.data()), &decimal);
    element.decVal = decimal;
  } else {
    // Every other element (at most 8 bytes, a BSTR copy or an AddRef'd
    // interface included) lands at the start of the value union.
    element.llVal = 0;
    hr = SafeArrayGetElement(psa, com::Lent(indices.data()), &element.llVal);
  }
  if (FAILED(hr)) ThrowElementError(hr);
  element.vt = elementType;  // after the value: a DECIMAL overlays the type field
  return Attach(element);
}

void Variant::SetElement(LONG index, const Variant& value) { SetElement(std::span<const LONG>(&index, 1), value); }

void Variant::SetElement(std::initializer_list<LONG> indices, const Variant& value) {
  SetElement(std::span<const LONG>(indices.begin(), indices.size()), value);
}

void Variant::SetElement(std::span<const LONG> indices, const Variant& value) {
  SAFEARRAY* psa = ArrayOf(*this);
  CheckIndices(psa, indices);
  const VARTYPE elementType = CheckedElementType(*this, psa);
  HRESULT hr;
  if (elementType == VT_VARIANT) {
    hr = SafeArrayPutElement(psa, com::Lent(indices.data()), com::Lent(&value.v_));
  } else {
    const Variant converted = value.v_.vt == elementType ? Variant() : Convert(value, elementType);
    const VARIANT& v = value.v_.vt == elementType ? value.v_ : converted.v_;
    switch (elementType) {
      case VT_BSTR: hr = SafeArrayPutElement(psa, com::Lent(indices.data()), com::Lent(v.bstrVal)); break;
      case VT_UNKNOWN:
      case VT_DISPATCH: hr = SafeArrayPutElement(psa, com::Lent(indices.data()), com::Lent(v.punkVal)); break;
      case VT_DECIMAL: hr = SafeArrayPutElement(psa, com::Lent(indices.data()), com::Lent(&v.decVal)); break;
      default: hr = SafeArrayPutElement(psa, com::Lent(indices.data()), com::Lent(&v.llVal)); break;
    }
  }
  if (FAILED(hr)) ThrowElementError(hr);
}

int VarArrayDimCount(const Variant& value) {
  return value.IsArray() ? static_cast<int>(SafeArrayGetDim(value.AsVARIANT().parray)) : 0;
}

LONG VarArrayLowBound(const Variant& value, int dim) {
  SAFEARRAY* psa = ArrayOf(value);
  LONG bound = 0;
  if (dim < 1 || FAILED(SafeArrayGetLBound(psa, static_cast<UINT>(dim), &bound))) {
    ThrowBadDimension(dim, SafeArrayGetDim(psa));
  }
  return bound;
}

LONG VarArrayHighBound(const Variant& value, int dim) {
  SAFEARRAY* psa = ArrayOf(value);
  LONG bound = 0;
  if (dim < 1 || FAILED(SafeArrayGetUBound(psa, static_cast<UINT>(dim), &bound))) {
    ThrowBadDimension(dim, SafeArrayGetDim(psa));
  }
  return bound;
}

// --- Comparison ----------------------------------------------------------------------

bool operator==(const Variant& a, const Variant& b) {
  const Kind ka = KindOf(a.VarType());
  const Kind kb = KindOf(b.VarType());
  const auto numeric = [](Kind k) { return k == Kind::Integer || k == Kind::Real; };

  if (ka == Kind::Null || kb == Kind::Null) return ka == kb;
  if (ka == Kind::Empty || kb == Kind::Empty) {
    const Variant& other = ka == Kind::Empty ? b : a;
    switch (KindOf(other.VarType())) {
      case Kind::Empty: return true;
      case Kind::Text: return com::BstrView(other.AsVARIANT().bstrVal).empty();
      case Kind::Integer:
      case Kind::Real: return NumbersEqual(other, Variant(0));
      default: return false;
    }
  }
  if (ka == Kind::Text && kb == Kind::Text) {
    if (a.VarType() == varString && b.VarType() == varString) return VarToStr(a) == VarToStr(b);
    return com::BstrView(a.AsVARIANT().bstrVal) == com::BstrView(b.AsVARIANT().bstrVal);
  }
  if (numeric(ka) && numeric(kb)) return NumbersEqual(a, b);
  if (ka == Kind::Text && numeric(kb)) return NumbersEqual(Convert(a, VT_R8), b);
  if (numeric(ka) && kb == Kind::Text) return NumbersEqual(a, Convert(b, VT_R8));
  if (ka != kb) return false;
  switch (ka) {
    case Kind::Error: return a.AsVARIANT().scode == b.AsVARIANT().scode;
    case Kind::Interface: return a.AsVARIANT().punkVal == b.AsVARIANT().punkVal;
    case Kind::Array: return ArraysEqual(a, b);
    default: return false;
  }
}

// --- Published variant properties ---------------------------------------------------------

namespace {

const TPropInfo& VariantPropOf(const TPersistent& instance, const TPropInfo& prop) {
  if (!instance.InheritsFrom(prop.DeclaringClass())) {
    throw EPropertyError("Property " + prop.Name() + " does not belong to class " + instance.ClassName());
  }
  if (prop.Kind() != tkVariant) throw EPropertyError("Property " + prop.Name() + " is not a variant property");
  return prop;
}

const TPropInfo& VariantPropOf(const TPersistent& instance, std::string_view name) {
  const TPropInfo* prop = GetPropInfo(instance, name);
  if (prop == nullptr) throw EPropertyError("Property " + std::string(name) + " does not exist");
  return VariantPropOf(instance, *prop);
}

}  // namespace

Variant GetVariantProp(const TPersistent& instance, const TPropInfo& prop) {
  VariantPropOf(instance, prop);
  const std::any value = prop.Access().getVariant(instance);
  const Variant* variant = std::any_cast<Variant>(&value);
  if (variant == nullptr) throw EPropertyError("Property " + prop.Name() + " does not hold a Variant");
  return *variant;
}

Variant GetVariantProp(const TPersistent& instance, std::string_view name) {
  return GetVariantProp(instance, VariantPropOf(instance, name));
}

void SetVariantProp(TPersistent& instance, const TPropInfo& prop, const Variant& value) {
  VariantPropOf(instance, prop);
  if (prop.IsReadOnly()) throw EPropertyError("Property " + prop.Name() + " is read-only");
  prop.Access().setVariant(instance, std::any(value));
}

void SetVariantProp(TPersistent& instance, std::string_view name, const Variant& value) {
  SetVariantProp(instance, VariantPropOf(instance, name), value);
}

}  // namespace xelo
