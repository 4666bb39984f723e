// xelo::Variant, the framework's value type: item values, write values,
// property values and everything the library shows as text travel in it.
//
// A Variant owns a COM VARIANT and additionally knows the framework's own
// string type, varString (0x100), which holds a UTF-8 std::string. A value
// has that type when the application assigns a text; when it goes to a
// server it is an OLE string (VT_BSTR). To make it impossible to hand a
// server a VARIANT that claims type 0x100, a varString keeps its text twice:
// as the UTF-8 text and as a BSTR in the VARIANT that AsVARIANT() shows.
// VarType() reports 0x100 for it; AsVARIANT().vt is VT_BSTR.
//
// Ownership: copies are deep (BSTRs and arrays copied, interfaces AddRef'd);
// the destructor clears the VARIANT, so nothing leaks. A Variant never holds
// a reference (VT_BYREF): a referencing VARIANT is copied as the value it
// refers to. Moving leaves the source empty.
//
// Errors: conversions raise EConvertError with a text naming the value or
// types (a text that is no number, a type that cannot be converted, an
// overflow, an array where a single value is needed); they never return a
// made-up value. Array access raises EConvertError when the value is not an
// array or the number of indices differs from the number of dimensions, and
// EListError for an index or a dimension number outside the bounds.
// Out of memory raises std::bad_alloc.
//
// Thread: a Variant is a value; distinct Variants may be used on distinct
// threads, one Variant on one thread at a time.
#pragma once

#include "xelo/com/Variant.h"

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace xelo {

class TPersistent;
class TPropInfo;

// The framework's own string type (UTF-8 text), beside COM's VT_ codes.
inline constexpr VARTYPE varString = 0x100;

// Bounds of one array dimension, both inclusive; High = Low - 1 makes an
// empty dimension.
struct VarArrayBound {
  LONG Low = 0;
  LONG High = -1;
};

// The integer types a Variant is built from. Character types are left out on
// purpose: whether 'A' means the text "A" or the number 65 is a guess we
// would rather not make silently.
template <class T>
concept VariantInteger =
    std::integral<T> && !std::same_as<T, char> && !std::same_as<T, wchar_t> && !std::same_as<T, char8_t> &&
    !std::same_as<T, OLECHAR> && !std::same_as<T, char32_t>;

class Variant {
 public:
  // VT_EMPTY.
  Variant() noexcept { VariantInit(&v_); }

  // bool → VT_BOOL (VARIANT_TRUE is -1); signed integers → VT_I1, VT_I2,
  // VT_I4, VT_I8 and unsigned ones → VT_UI1, VT_UI2, VT_UI4, VT_UI8 by their
  // size. Implicit, as a value type should be: `Variant v = 42;`.
  template <VariantInteger T>
  Variant(T value) noexcept {  // NOLINT(google-explicit-constructor)
    VariantInit(&v_);
    if constexpr (std::same_as<T, bool>) {
      v_.vt = VT_BOOL;
      v_.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    } else if constexpr (std::is_signed_v<T>) {
      static_assert(sizeof(T) <= 8);
      if constexpr (sizeof(T) == 1) {
        v_.vt = VT_I1;
        v_.cVal = static_cast<CHAR>(value);
      } else if constexpr (sizeof(T) == 2) {
        v_.vt = VT_I2;
        v_.iVal = value;
      } else if constexpr (sizeof(T) == 4) {
        v_.vt = VT_I4;
        v_.lVal = value;
      } else {
        v_.vt = VT_I8;
        v_.llVal = value;
      }
    } else {
      static_assert(sizeof(T) <= 8);
      if constexpr (sizeof(T) == 1) {
        v_.vt = VT_UI1;
        v_.bVal = value;
      } else if constexpr (sizeof(T) == 2) {
        v_.vt = VT_UI2;
        v_.uiVal = value;
      } else if constexpr (sizeof(T) == 4) {
        v_.vt = VT_UI4;
        v_.ulVal = value;
      } else {
        v_.vt = VT_UI8;
        v_.ullVal = value;
      }
    }
  }
  Variant(float value) noexcept;   // VT_R4
  Variant(double value) noexcept;  // VT_R8
  // varString. A null pointer is the empty text.
  Variant(std::string_view text);
  Variant(const std::string& text);
  Variant(const char* text);
  // VT_BSTR. A null pointer is the empty text.
  Variant(com::OleStringView text);
  Variant(const com::OleString& text);
  Variant(const OLECHAR* text);

  // A deep copy of `value` (VariantCopy; a VT_BYREF value is copied as what
  // it refers to). EConvertError for a VARIANT that is not valid (a type
  // code that cannot occur, a broken reference).
  explicit Variant(const VARIANT& value);

  Variant(const Variant& other);
  Variant(Variant&& other) noexcept;
  Variant& operator=(const Variant& other);
  Variant& operator=(Variant&& other) noexcept;
  ~Variant();

  void swap(Variant& other) noexcept;
  friend void swap(Variant& a, Variant& b) noexcept { a.swap(b); }

  // Takes over what `source` owns and leaves `source` VT_EMPTY. A VT_BYREF
  // source owns nothing; its value is copied. EConvertError for a type code
  // that cannot occur in a VARIANT; `source` is then left as it was (and
  // still owns its value).
  static Variant Attach(VARIANT& source);
  // Replaces this value with a deep copy of `value`, as Variant(value)
  // would make it; on failure (EConvertError, std::bad_alloc) the old value
  // stays. Numbers replacing numbers are copied in place, without the
  // temporary that assigning a copy would cost.
  void CopyFrom(const VARIANT& value);
  static Variant Null();
  static Variant Date(DATE value);
  static Variant Currency(CY value);
  // Rounded to four decimals as COM does; EConvertError when out of range.
  static Variant Currency(double value);
  static Variant Error(SCODE code);

  // A SAFEARRAY of `elementType` (VT_VARIANT for mixed values; varString
  // makes an array of VT_BSTR, the only text a SAFEARRAY can hold), elements
  // zeroed (0, empty texts, VT_EMPTY). Dimensions are listed left to right.
  // EConvertError for an element type a SAFEARRAY cannot hold, no
  // dimensions, High < Low - 1, or more than 2^32 - 1 bytes of data.
  static Variant Array(VARTYPE elementType, LONG lowBound, LONG highBound);
  static Variant Array(VARTYPE elementType, std::initializer_list<VarArrayBound> bounds);
  static Variant Array(VARTYPE elementType, std::span<const VarArrayBound> bounds);
  // A one-dimensional array of `values` from index `lowBound` on. The element
  // type follows the scalar constructors (std::string → VT_BSTR as above,
  // Variant → VT_VARIANT).
  template <class T>
  static Variant Array(const std::vector<T>& values, LONG lowBound = 0);

  // The type code: varString for the framework's text, VT_ARRAY|x for
  // arrays, else the VARIANT's code.
  VARTYPE VarType() const noexcept { return isString_ ? varString : v_.vt; }
  bool IsEmpty() const noexcept { return v_.vt == VT_EMPTY; }
  bool IsNull() const noexcept { return v_.vt == VT_NULL; }
  bool IsArray() const noexcept { return (v_.vt & VT_ARRAY) != 0; }

  // The value as a server may receive it: always a valid VARIANT, VT_BSTR
  // for a varString. Borrowed: valid until this Variant changes.
  const VARIANT& AsVARIANT() const noexcept { return v_; }
  // Writes a deep copy into `out`, which is treated as uninitialised
  // (nothing in it is freed; clear it first if it held a value). A varString
  // becomes a VT_BSTR. On failure (std::bad_alloc) `out` is VT_EMPTY.
  void ToVARIANT(VARIANT& out) const;
  // Hands the value over to `out` (treated as uninitialised, like
  // ToVARIANT; a varString arrives as its VT_BSTR) and leaves this Variant
  // empty. The receiver clears `out`.
  void Detach(VARIANT& out) noexcept;
  // Frees the value; the Variant becomes VT_EMPTY.
  void Clear() noexcept;

  // Numeric and Boolean conversions with COM's rules (VariantChangeType):
  // integers round half to even, empty is 0 (false), Null and arrays cannot
  // be converted, a text is read as a number ("True"/"False" are accepted
  // by ToBool as well). EConvertError on failure, overflow included; an
  // unsigned value of the same width keeps its bits (a UI8 of 2^64 - 1 is
  // -1 to ToInt64, a UI4 of 2^32 - 1 is -1 to ToInt32).
  double ToDouble() const;
  std::int32_t ToInt32() const;
  std::int64_t ToInt64() const;
  bool ToBool() const;

  // A new Variant of type `vt` with COM's rules, Booleans becoming
  // "True"/"False" as text. varString as the target converts with VarToStr
  // (the framework's own text form) and VT_BSTR with COM's text form, so a
  // double becomes "0.1" in both but 1e20 becomes "1E20" and "1E+20"
  // respectively. EConvertError for a type mismatch, an overflow or a type
  // code that does not exist.
  Variant ChangeType(VARTYPE vt) const;

  // Array elements. The number of indices must equal the number of
  // dimensions (index i belongs to dimension i + 1). GetElement returns a
  // copy; a VT_VARIANT element comes back as the value it holds. SetElement
  // converts `value` to the element type as ChangeType does (a VT_VARIANT
  // array stores a copy, a varString as VT_BSTR).
  Variant GetElement(LONG index) const;
  Variant GetElement(std::initializer_list<LONG> indices) const;
  Variant GetElement(std::span<const LONG> indices) const;
  void SetElement(LONG index, const Variant& value);
  void SetElement(std::initializer_list<LONG> indices, const Variant& value);
  void SetElement(std::span<const LONG> indices, const Variant& value);

  // Value equality:
  // - Empty equals Empty, 0 of any numeric type and the empty text; Null
  //   equals only Null.
  // - Numbers (the integer types, BOOL as -1/0, R4, R8, DATE, CY, DECIMAL)
  //   compare by value: integers and CY exactly, any other pair as doubles
  //   (NaN equals nothing).
  // - Texts (varString, VT_BSTR) compare by their characters. A text
  //   compared with a number is read as a number; a text that is none
  //   raises EConvertError, as the conversion would.
  // - VT_ERROR compares by code, interfaces by pointer; arrays are equal
  //   when type, bounds and every element are. Anything else is unequal.
  friend bool operator==(const Variant& a, const Variant& b);
  // Comparison with an integer, e.g. `value == 0` for a check box.
  template <VariantInteger T>
  friend bool operator==(const Variant& a, T b) {
    return a == Variant(b);
  }

 private:
  friend std::string VarToStr(const Variant& value);
  void AssignString(std::string text);

  VARIANT v_;
  // The UTF-8 text of a varString; v_ then holds the same text as VT_BSTR.
  std::string text_;
  bool isString_ = false;
};

// The value as text: a text unchanged; empty and Null as ""; integers in
// decimal; R4 and R8 as the shortest text that reads back as the same
// number, with a '.' and without exponent from 1E-5 up to below 1E15 ("0.1",
// "1.5", "-42"), beyond that with one ("1E20", "2.5E-7"; "NAN", "INF",
// "-INF"); CY and DECIMAL exactly ("12.5"); Booleans "True"/"False"; dates
// as "YYYY-MM-DD hh:mm:ss" (only the date at midnight, only the time on day
// 0); VT_ERROR as its code in signed decimal. EConvertError for arrays,
// interfaces and dates outside the valid range.
std::string VarToStr(const Variant& value);

inline VARTYPE VarType(const Variant& value) noexcept { return value.VarType(); }
inline bool VarIsEmpty(const Variant& value) noexcept { return value.IsEmpty(); }
inline bool VarIsNull(const Variant& value) noexcept { return value.IsNull(); }
inline bool VarIsArray(const Variant& value) noexcept { return value.IsArray(); }

// 0 for a value that is not an array.
int VarArrayDimCount(const Variant& value);
// Dimensions count from 1. EConvertError for a value that is not an array,
// EListError for a dimension outside 1..VarArrayDimCount.
LONG VarArrayLowBound(const Variant& value, int dim);
LONG VarArrayHighBound(const Variant& value, int dim);

// Published variant properties (kind tkVariant, TypInfo.h). EPropertyError
// for an unknown property, one of another kind or class, a read-only one
// (Set), or a property whose accessors do not carry an xelo::Variant.
Variant GetVariantProp(const TPersistent& instance, const TPropInfo& prop);
Variant GetVariantProp(const TPersistent& instance, std::string_view name);
void SetVariantProp(TPersistent& instance, const TPropInfo& prop, const Variant& value);
void SetVariantProp(TPersistent& instance, std::string_view name, const Variant& value);

namespace detail {
// High bound of a one-dimensional array of `count` elements from
// `lowBound`; EConvertError when it does not fit a LONG.
LONG ArrayHighBound(LONG lowBound, std::size_t count);
}  // namespace detail

template <class T>
Variant Variant::Array(const std::vector<T>& values, LONG lowBound) {
  static_assert(std::is_constructible_v<Variant, const T&>, "the elements must be values a Variant can hold");
  VARTYPE elementType = VT_VARIANT;
  if constexpr (!std::same_as<T, Variant>) elementType = Variant(T{}).VarType();
  Variant result = Array(elementType, lowBound, detail::ArrayHighBound(lowBound, values.size()));
  for (std::size_t i = 0; i < values.size(); ++i) {
    // lowBound + i fits: ArrayHighBound has checked the last index.
    result.SetElement(static_cast<LONG>(lowBound + static_cast<std::int64_t>(i)), Variant(values[i]));
  }
  return result;
}

}  // namespace xelo
