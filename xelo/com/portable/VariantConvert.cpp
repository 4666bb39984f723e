// VariantChangeType: conversion between the types a VARIANT can hold, with
// COM's results, in the invariant locale.
//
// How values travel. Every numeric source is read as one of four kinds of
// number: a signed or unsigned 64-bit integer (the integer types, BOOL as
// -1/0, EMPTY as 0), a double (R4, R8, DATE), or an exact decimal (CY,
// DECIMAL and text). Exact decimals are rounded exactly, half to even, so
// that "2.5", a CY of 2.5 and a DECIMAL of 2.5 all give 2; doubles are
// rounded half to even by their binary value, as COM does. Conversions to
// doubles are correctly rounded from the exact decimal digits.
//
// Where we answer as Windows does although it is irregular:
// - BOOL true is -1; for an unsigned target it is the all-ones value of
//   that type (255, 65535, 0xFFFFFFFF, ...), as the bits of -1 would be.
//   A DECIMAL alone gets +1. Any non-zero VARIANT_BOOL counts as true.
// - Between a signed and an unsigned integer type of the same width (I1
//   and UI1, I2 and UI2, I4/INT and UI4/UINT, I8 and UI8) the bits are
//   kept, so I4 -1 is UI4 4294967295 and back; across widths the value
//   must fit (I4 -1 to UI2 is DISP_E_OVERFLOW).
// - Every value becomes NULL, but NULL and ERROR do not become EMPTY.
//   ERROR converts into nothing else, not even into the 32-bit integers
//   that could hold its code.
//
// Choices where COM leaves room:
// - VARIANT_ALPHABOOL and VARIANT_LOCALBOOL both give "True"/"False"; our
//   locale's names are the English ones. Text to BOOL accepts "True" and
//   "False" in any case, or any number (non-zero is true).
// - Number text: blanks around, an optional sign, digits with an optional
//   '.' fraction (".5" and "5." included), an optional exponent. No
//   thousands separators, currency signs or hexadecimal forms.
// - Text to DATE accepts only the date text of OleDate.h, whatever the
//   locale. A DATE outside the valid range is DISP_E_OVERFLOW as a target
//   and E_INVALIDARG when it is to become text.
// - Doubles become text with 15 significant digits (7 for R4), like "%G":
//   "0.1", "1E+20", "1E-05"; zero is "0" whatever its sign; NaN and the
//   infinities are "NAN", "INF" and "-INF". CY and DECIMAL become exact
//   text without trailing zeros.
// - DECIMAL results carry the smallest scale that holds the value; a
//   double becomes a DECIMAL through 15 significant digits (7 for R4).
//   A DECIMAL with a scale above 28 or a sign other than 0 or 0x80 is
//   refused with E_INVALIDARG. Zero is never negative.
// - VT_UNKNOWN and VT_DISPATCH convert into each other by QueryInterface (a
//   refusal is DISP_E_TYPEMISMATCH, a null pointer stays null) and into
//   nothing else: we never call a default property.
// - An array converts only into a copy of itself, as in Windows; arrays of
//   other element types are xelo/com/VariantConversion.h's business. Array
//   and scalar never convert into each other.
// - Target codes that exist but that a VARIANT conversion cannot produce
//   (VT_VARIANT on its own, VT_RECORD, VT_INT_PTR, VT_UINT_PTR,
//   VT_BLOB..VT_CLSID, any VT_BYREF type) are DISP_E_TYPEMISMATCH; codes
//   that do not exist, and VT_FILETIME, are DISP_E_BADVARTYPE.
#include "xelo/com/BStr.h"
#include "xelo/com/OleDate.h"
#include "xelo/com/Variant.h"
#include "xelo/com/WideText.h"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <type_traits>

namespace {

__extension__ typedef unsigned __int128 Wide;

constexpr Wide kMaxDecimalMagnitude = (Wide{1} << 96) - 1;
constexpr long long kMaxDecimalScale = 28;
// 10^38 - 1 is below 2^127, which leaves room for a rounding carry.
constexpr long long kMaxWideDigits = 38;

// ---------------------------------------------------------------------------
// Exact decimal numbers

// digits × 10^exponent; the digits have no leading or trailing zeros, so
// zero is the empty digit string (never negative).
struct Exact {
  bool negative = false;
  std::string digits;
  long long exponent = 0;

  bool IsZero() const { return digits.empty(); }

  void Normalize() {
    const std::size_t first = digits.find_first_not_of('0');
    if (first == std::string::npos) {
      digits.clear();
      exponent = 0;
      negative = false;
      return;
    }
    digits.erase(0, first);
    const std::size_t last = digits.find_last_not_of('0');
    exponent += static_cast<long long>(digits.size() - 1 - last);
    digits.erase(last + 1);
  }
};

Exact ExactFromWide(bool negative, Wide magnitude, long long exponent) {
  char buffer[48];
  std::size_t length = 0;
  do {
    buffer[length++] = static_cast<char>('0' + static_cast<int>(magnitude % 10));
    magnitude /= 10;
  } while (magnitude != 0);
  Exact result;
  result.negative = negative;
  for (std::size_t i = length; i > 0; --i) result.digits.push_back(buffer[i - 1]);
  result.exponent = exponent;
  result.Normalize();
  return result;
}

template <class Char>
bool IsBlank(Char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

template <class Char>
std::basic_string_view<Char> TrimBlanks(std::basic_string_view<Char> text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

template <class Char>
bool IsDigit(Char c) {
  return c >= '0' && c <= '9';
}

// [blanks] [sign] digits [. digits] [(e|E) [sign] digits] [blanks], with at
// least one digit before the exponent.
template <class Char>
std::optional<Exact> ParseNumber(std::basic_string_view<Char> text) {
  text = TrimBlanks(text);
  std::size_t i = 0;
  Exact result;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) result.negative = text[i++] == '-';
  std::size_t mantissaDigits = 0;
  long long fractionDigits = 0;
  for (; i < text.size() && IsDigit(text[i]); ++i, ++mantissaDigits) {
    result.digits.push_back(static_cast<char>(text[i]));
  }
  if (i < text.size() && text[i] == '.') {
    for (++i; i < text.size() && IsDigit(text[i]); ++i, ++mantissaDigits, ++fractionDigits) {
      result.digits.push_back(static_cast<char>(text[i]));
    }
  }
  if (mantissaDigits == 0) return std::nullopt;
  long long exponent = 0;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    bool negativeExponent = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negativeExponent = text[i++] == '-';
    if (i == text.size() || !IsDigit(text[i])) return std::nullopt;
    for (; i < text.size() && IsDigit(text[i]); ++i) {
      // Far beyond any range we convert to; capping keeps the sum finite.
      if (exponent < 1'000'000'000) exponent = exponent * 10 + (text[i] - '0');
    }
    if (negativeExponent) exponent = -exponent;
  }
  if (i != text.size()) return std::nullopt;
  result.exponent = exponent - fractionDigits;
  result.Normalize();
  return result;
}

// round(value × 10^scale) half to even, as a magnitude; false when it has
// more than 38 digits.
bool RoundScaled(const Exact& value, long long scale, Wide& magnitude) {
  magnitude = 0;
  if (value.IsZero()) return true;
  const auto size = static_cast<long long>(value.digits.size());
  // Digits of the result before the decimal point.
  const long long whole = size + value.exponent + scale;
  if (whole > kMaxWideDigits) return false;
  if (whole < 0) return true;  // below 0.1: rounds to zero
  const long long taken = whole < size ? whole : size;
  for (long long i = 0; i < taken; ++i) magnitude = magnitude * 10 + static_cast<unsigned>(value.digits[i] - '0');
  for (long long i = taken; i < whole; ++i) magnitude *= 10;
  if (whole < size) {
    // Trailing zeros are gone, so any digit after the first dropped one
    // makes the remainder more than a half.
    const int dropped = value.digits[whole] - '0';
    const bool moreAfter = whole + 1 < size;
    if (dropped > 5 || (dropped == 5 && (moreAfter || (magnitude & 1) != 0))) ++magnitude;
  }
  return true;
}

// Correctly rounded binary value; false on overflow (tiny values become 0).
template <class Real>
bool ExactToReal(const Exact& value, Real& out) {
  if (value.IsZero()) {
    out = 0;
    return true;
  }
  // The value lies in [10^(order-1), 10^order).
  const long long order = static_cast<long long>(value.digits.size()) + value.exponent;
  if (order > 400) return false;
  Real magnitude = 0;
  if (order >= -400) {
    const std::string text = value.digits + "e" + std::to_string(value.exponent);
    const auto result = std::from_chars(text.data(), text.data() + text.size(), magnitude);
    if (result.ec == std::errc::result_out_of_range) {
      if (order > 0) return false;
      magnitude = 0;
    } else if (result.ec != std::errc() || std::isinf(magnitude)) {
      return false;
    }
  }
  out = value.negative ? -magnitude : magnitude;
  return true;
}

std::string ExactToText(const Exact& value) {
  if (value.IsZero()) return "0";
  std::string text = value.negative ? "-" : "";
  const auto size = static_cast<long long>(value.digits.size());
  if (value.exponent >= 0) {
    text += value.digits;
    text.append(static_cast<std::size_t>(value.exponent), '0');
  } else if (-value.exponent < size) {
    const auto point = static_cast<std::size_t>(size + value.exponent);
    text += value.digits.substr(0, point);
    text += '.';
    text += value.digits.substr(point);
  } else {
    text += "0.";
    text.append(static_cast<std::size_t>(-value.exponent - size), '0');
    text += value.digits;
  }
  return text;
}

HRESULT ExactFromDecimal(const DECIMAL& decimal, Exact& out) {
  if (decimal.scale > kMaxDecimalScale || (decimal.sign & ~DECIMAL_NEG) != 0) return E_INVALIDARG;
  const Wide magnitude = (Wide{decimal.Hi32} << 64) | decimal.Lo64;
  out = ExactFromWide(decimal.sign == DECIMAL_NEG, magnitude, -static_cast<long long>(decimal.scale));
  return S_OK;
}

HRESULT DecimalFromWide(bool negative, Wide magnitude, long long scale, DECIMAL& out) {
  // Drop trailing zeros of the fraction: the smallest scale that holds the value.
  while (scale > 0 && magnitude % 10 == 0) {
    magnitude /= 10;
    --scale;
  }
  if (magnitude > kMaxDecimalMagnitude) return DISP_E_OVERFLOW;
  out.wReserved = 0;
  out.scale = static_cast<BYTE>(magnitude == 0 ? 0 : scale);
  out.sign = negative && magnitude != 0 ? DECIMAL_NEG : 0;
  out.Hi32 = static_cast<ULONG>(magnitude >> 64);
  out.Lo64 = static_cast<ULONGLONG>(magnitude);
  return S_OK;
}

// As many fraction digits as the value has and 96 bits allow (at most 28),
// rounding half to even what does not fit.
HRESULT DecimalFromExact(const Exact& value, DECIMAL& out) {
  long long scale = value.exponent < 0 ? -value.exponent : 0;
  if (scale > kMaxDecimalScale) scale = kMaxDecimalScale;
  for (;; --scale) {
    Wide magnitude = 0;
    if (RoundScaled(value, scale, magnitude) && magnitude <= kMaxDecimalMagnitude) {
      return DecimalFromWide(value.negative, magnitude, scale, out);
    }
    if (scale == 0) return DISP_E_OVERFLOW;
  }
}

// ---------------------------------------------------------------------------
// Doubles

// Half to even on the binary value. d - floor(d) is exact for every double.
double RoundHalfEven(double value) {
  const double below = std::floor(value);
  const double fraction = value - below;
  if (fraction > 0.5) return below + 1;
  if (fraction < 0.5) return below;
  return std::fmod(below, 2.0) == 0 ? below : below + 1;
}

template <class Real>
std::string FormatReal(Real value, int precision) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
  if (value == 0) return "0";
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, precision);
  std::string text(buffer, result.ptr);
  for (char& c : text) {
    if (c == 'e') c = 'E';
  }
  return text;
}

// A finite double as an exact decimal of `precision` significant digits.
template <class Real>
Exact ExactFromReal(Real value, int precision) {
  char buffer[64];
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific, precision - 1);
  // to_chars writes exactly the grammar ParseNumber reads.
  return *ParseNumber(std::string_view(buffer, static_cast<std::size_t>(result.ptr - buffer)));
}

// ---------------------------------------------------------------------------
// Numbers read from a VARIANT

struct Number {
  enum class Kind { Signed, Unsigned, Real, Exact };
  Kind kind = Kind::Signed;
  long long signedValue = 0;
  unsigned long long unsignedValue = 0;
  double real = 0;
  bool single = false;  // the double came from an R4 (7 significant digits)
  Exact exact;
};

Number Signed(long long value) {
  Number n;
  n.kind = Number::Kind::Signed;
  n.signedValue = value;
  return n;
}

Number Unsigned(unsigned long long value) {
  Number n;
  n.kind = Number::Kind::Unsigned;
  n.unsignedValue = value;
  return n;
}

Number Real(double value, bool single) {
  Number n;
  n.kind = Number::Kind::Real;
  n.real = value;
  n.single = single;
  return n;
}

Number FromExact(Exact value) {
  Number n;
  n.kind = Number::Kind::Exact;
  n.exact = std::move(value);
  return n;
}

HRESULT NumberOf(const VARIANT& v, Number& n) {
  switch (v.vt) {
    case VT_EMPTY:
      n = Signed(0);
      return S_OK;
    case VT_BOOL:
      n = Signed(v.boolVal != 0 ? -1 : 0);
      return S_OK;
    case VT_I1:
      n = Signed(static_cast<signed char>(v.cVal));
      return S_OK;
    case VT_I2:
      n = Signed(v.iVal);
      return S_OK;
    case VT_I4:
      n = Signed(v.lVal);
      return S_OK;
    case VT_INT:
      n = Signed(v.intVal);
      return S_OK;
    case VT_I8:
      n = Signed(v.llVal);
      return S_OK;
    case VT_UI1:
      n = Unsigned(v.bVal);
      return S_OK;
    case VT_UI2:
      n = Unsigned(v.uiVal);
      return S_OK;
    case VT_UI4:
      n = Unsigned(v.ulVal);
      return S_OK;
    case VT_UINT:
      n = Unsigned(v.uintVal);
      return S_OK;
    case VT_UI8:
      n = Unsigned(v.ullVal);
      return S_OK;
    case VT_R4:
      n = Real(v.fltVal, true);
      return S_OK;
    case VT_R8:
      n = Real(v.dblVal, false);
      return S_OK;
    case VT_DATE:
      n = Real(v.date, false);
      return S_OK;
    case VT_CY: {
      const bool negative = v.cyVal.int64 < 0;
      const auto bits = static_cast<unsigned long long>(v.cyVal.int64);
      n = FromExact(ExactFromWide(negative, negative ? 0 - bits : bits, -4));
      return S_OK;
    }
    case VT_DECIMAL: {
      Exact value;
      const HRESULT hr = ExactFromDecimal(v.decVal, value);
      if (FAILED(hr)) return hr;
      n = FromExact(std::move(value));
      return S_OK;
    }
    case VT_BSTR: {
      std::optional<Exact> value = ParseNumber(xelo::com::BstrView(v.bstrVal));
      if (!value) return DISP_E_TYPEMISMATCH;
      n = FromExact(std::move(*value));
      return S_OK;
    }
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

bool IsNonZero(const Number& n) {
  switch (n.kind) {
    case Number::Kind::Signed:
      return n.signedValue != 0;
    case Number::Kind::Unsigned:
      return n.unsignedValue != 0;
    case Number::Kind::Real:
      return n.real != 0;  // NaN counts as non-zero
    case Number::Kind::Exact:
      return !n.exact.IsZero();
  }
  return false;
}

Wide PowerOfTen(long long exponent) {
  Wide result = 1;
  for (long long i = 0; i < exponent; ++i) result *= 10;
  return result;
}

// round(n × 10^scale) half to even, as sign and magnitude (below 10^38).
HRESULT ScaledMagnitude(const Number& n, long long scale, bool& negative, Wide& magnitude) {
  switch (n.kind) {
    case Number::Kind::Signed: {
      negative = n.signedValue < 0;
      const auto bits = static_cast<unsigned long long>(n.signedValue);
      magnitude = Wide{negative ? 0 - bits : bits} * PowerOfTen(scale);
      return S_OK;
    }
    case Number::Kind::Unsigned:
      negative = false;
      magnitude = Wide{n.unsignedValue} * PowerOfTen(scale);
      return S_OK;
    case Number::Kind::Real: {
      if (!std::isfinite(n.real)) return DISP_E_OVERFLOW;
      const double rounded = RoundHalfEven(n.real * static_cast<double>(PowerOfTen(scale)));
      if (std::fabs(rounded) >= 1e38) return DISP_E_OVERFLOW;
      negative = rounded < 0;
      magnitude = static_cast<Wide>(std::fabs(rounded));
      return S_OK;
    }
    case Number::Kind::Exact:
      if (!RoundScaled(n.exact, scale, magnitude)) return DISP_E_OVERFLOW;
      negative = n.exact.negative && magnitude != 0;
      return S_OK;
  }
  return E_UNEXPECTED;
}

struct IntegerRange {
  Wide maxPositive;
  Wide maxNegative;  // magnitude of the most negative value
};

IntegerRange RangeOf(VARTYPE vt) {
  switch (vt) {
    case VT_I1:
      return {127, 128};
    case VT_UI1:
      return {255, 0};
    case VT_I2:
      return {32767, 32768};
    case VT_UI2:
      return {65535, 0};
    case VT_I4:
    case VT_INT:
      return {0x7FFFFFFF, 0x80000000};
    case VT_UI4:
    case VT_UINT:
      return {0xFFFFFFFF, 0};
    case VT_I8:
    case VT_CY:
      return {0x7FFFFFFFFFFFFFFFULL, 0x8000000000000000ULL};
    default:  // VT_UI8
      return {0xFFFFFFFFFFFFFFFFULL, 0};
  }
}

bool IsUnsignedInteger(VARTYPE vt) {
  return vt == VT_UI1 || vt == VT_UI2 || vt == VT_UI4 || vt == VT_UINT || vt == VT_UI8;
}

// Bytes of an integer type; 0 for every other type.
int IntegerWidth(VARTYPE vt) {
  switch (vt) {
    case VT_I1:
    case VT_UI1:
      return 1;
    case VT_I2:
    case VT_UI2:
      return 2;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
      return 4;
    case VT_I8:
    case VT_UI8:
      return 8;
    default:
      return 0;
  }
}

// Stores the low bits of a two's-complement value in the member of `vt`.
void StoreBits(VARTYPE vt, unsigned long long bits, VARIANT& out) {
  switch (vt) {
    case VT_I1:
      out.cVal = static_cast<CHAR>(static_cast<signed char>(bits));
      break;
    case VT_UI1:
      out.bVal = static_cast<BYTE>(bits);
      break;
    case VT_I2:
      out.iVal = static_cast<SHORT>(bits);
      break;
    case VT_UI2:
      out.uiVal = static_cast<USHORT>(bits);
      break;
    case VT_I4:
      out.lVal = static_cast<LONG>(bits);
      break;
    case VT_UI4:
      out.ulVal = static_cast<ULONG>(bits);
      break;
    case VT_INT:
      out.intVal = static_cast<INT>(bits);
      break;
    case VT_UINT:
      out.uintVal = static_cast<UINT>(bits);
      break;
    case VT_I8:
      out.llVal = static_cast<LONGLONG>(bits);
      break;
    case VT_CY:
      out.cyVal.int64 = static_cast<LONGLONG>(bits);
      break;
    default:  // VT_UI8
      out.ullVal = bits;
      break;
  }
  out.vt = vt;
}

HRESULT StoreInteger(VARTYPE vt, bool negative, Wide magnitude, VARIANT& out) {
  const IntegerRange range = RangeOf(vt);
  if (magnitude > (negative ? range.maxNegative : range.maxPositive)) return DISP_E_OVERFLOW;
  const auto bits = static_cast<unsigned long long>(magnitude);
  StoreBits(vt, negative ? 0 - bits : bits, out);
  return S_OK;
}

template <class Target>
HRESULT RealOf(const Number& n, Target& out) {
  switch (n.kind) {
    case Number::Kind::Signed:
      out = static_cast<Target>(n.signedValue);
      return S_OK;
    case Number::Kind::Unsigned:
      out = static_cast<Target>(n.unsignedValue);
      return S_OK;
    case Number::Kind::Real:
      if constexpr (std::is_same_v<Target, float>) {
        // Infinity overflows too; NaN passes as NaN.
        if (n.real > FLT_MAX || n.real < -FLT_MAX) return DISP_E_OVERFLOW;
      }
      out = static_cast<Target>(n.real);
      return S_OK;
    case Number::Kind::Exact:
      return ExactToReal(n.exact, out) ? S_OK : DISP_E_OVERFLOW;
  }
  return E_UNEXPECTED;
}

HRESULT DecimalOf(const Number& n, DECIMAL& out) {
  switch (n.kind) {
    case Number::Kind::Signed:
    case Number::Kind::Unsigned: {
      bool negative = false;
      Wide magnitude = 0;
      ScaledMagnitude(n, 0, negative, magnitude);
      return DecimalFromWide(negative, magnitude, 0, out);
    }
    case Number::Kind::Real:
      if (!std::isfinite(n.real)) return DISP_E_OVERFLOW;
      return DecimalFromExact(n.single ? ExactFromReal(static_cast<float>(n.real), 7) : ExactFromReal(n.real, 15),
                              out);
    case Number::Kind::Exact:
      return DecimalFromExact(n.exact, out);
  }
  return E_UNEXPECTED;
}

// ---------------------------------------------------------------------------
// Text

template <class Integer>
std::string IntegerText(Integer value) {
  char buffer[24];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

HRESULT TextOf(const VARIANT& v, USHORT flags, std::string& text) {
  switch (v.vt) {
    case VT_EMPTY:
      text.clear();
      return S_OK;
    case VT_I1:
      text = IntegerText(static_cast<int>(static_cast<signed char>(v.cVal)));
      return S_OK;
    case VT_UI1:
      text = IntegerText(static_cast<unsigned>(v.bVal));
      return S_OK;
    case VT_I2:
      text = IntegerText(static_cast<int>(v.iVal));
      return S_OK;
    case VT_UI2:
      text = IntegerText(static_cast<unsigned>(v.uiVal));
      return S_OK;
    case VT_I4:
      text = IntegerText(v.lVal);
      return S_OK;
    case VT_UI4:
      text = IntegerText(v.ulVal);
      return S_OK;
    case VT_INT:
      text = IntegerText(v.intVal);
      return S_OK;
    case VT_UINT:
      text = IntegerText(v.uintVal);
      return S_OK;
    case VT_I8:
      text = IntegerText(v.llVal);
      return S_OK;
    case VT_UI8:
      text = IntegerText(v.ullVal);
      return S_OK;
    case VT_R4:
      text = FormatReal(v.fltVal, 7);
      return S_OK;
    case VT_R8:
      text = FormatReal(v.dblVal, 15);
      return S_OK;
    case VT_BOOL:
      if (flags & (VARIANT_ALPHABOOL | VARIANT_LOCALBOOL)) {
        text = v.boolVal != 0 ? "True" : "False";
      } else {
        text = v.boolVal != 0 ? "-1" : "0";
      }
      return S_OK;
    case VT_DATE:
      if (!xelo::com::IsValidDate(v.date)) return E_INVALIDARG;
      text = xelo::com::DateToText(v.date);
      return S_OK;
    case VT_CY:
    case VT_DECIMAL: {
      Number n;
      const HRESULT hr = NumberOf(v, n);
      if (FAILED(hr)) return hr;
      text = ExactToText(n.exact);
      return S_OK;
    }
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

bool EqualsIgnoringCase(xelo::com::OleStringView text, std::string_view word) {
  if (text.size() != word.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    OLECHAR c = text[i];
    if (c >= OLESTR('A') && c <= OLESTR('Z')) c = static_cast<OLECHAR>(c - OLESTR('A') + OLESTR('a'));
    if (c != static_cast<OLECHAR>(word[i])) return false;
  }
  return true;
}

// "True" or "False" in any case, blanks around allowed; false for other text.
bool BoolWord(BSTR text, VARIANT_BOOL& value) {
  const xelo::com::OleStringView word = TrimBlanks(xelo::com::BstrView(text));
  if (EqualsIgnoringCase(word, "true")) {
    value = VARIANT_TRUE;
    return true;
  }
  if (EqualsIgnoringCase(word, "false")) {
    value = VARIANT_FALSE;
    return true;
  }
  return false;
}

// ---------------------------------------------------------------------------
// Conversions

bool IsInterface(VARTYPE vt) { return vt == VT_UNKNOWN || vt == VT_DISPATCH; }

HRESULT ConvertInterface(const VARIANT& src, VARTYPE vt, VARIANT& out) {
  out.vt = vt;
  out.punkVal = nullptr;
  if (src.punkVal == nullptr) return S_OK;
  void* result = nullptr;
  const HRESULT hr = src.punkVal->QueryInterface(vt == VT_DISPATCH ? IID_IDispatch : IID_IUnknown, &result);
  if (FAILED(hr) || result == nullptr) {
    out.vt = VT_EMPTY;
    return DISP_E_TYPEMISMATCH;
  }
  if (vt == VT_DISPATCH) {
    out.pdispVal = static_cast<IDispatch*>(result);
  } else {
    out.punkVal = static_cast<IUnknown*>(result);
  }
  return S_OK;
}

// Scalar to scalar of a different type; `out` is written only on success.
HRESULT ConvertScalar(const VARIANT& src, VARTYPE vt, USHORT flags, VARIANT& out) {
  VARIANT result;
  std::memset(&result, 0, sizeof result);
  const VARTYPE from = src.vt;
  HRESULT hr = S_OK;
  if (vt == VT_NULL) {
    // Nothing of the value is kept, so nothing can fail.
    result.vt = VT_NULL;
  } else if (from == VT_NULL || from == VT_ERROR || vt == VT_ERROR) {
    // NULL has no value, and an error code is not a number.
    return DISP_E_TYPEMISMATCH;
  } else if (IsInterface(from) || IsInterface(vt)) {
    if (!IsInterface(from) || !IsInterface(vt)) return DISP_E_TYPEMISMATCH;
    hr = ConvertInterface(src, vt, result);
  } else if (vt == VT_BSTR) {
    std::string text;
    hr = TextOf(src, flags, text);
    if (SUCCEEDED(hr)) {
      // Never null, even when empty: EMPTY becomes a real empty string.
      result.bstrVal = xelo::com::AllocBstrUtf8(text);
      if (result.bstrVal == nullptr) return E_OUTOFMEMORY;
      result.vt = VT_BSTR;
    }
  } else if (from == VT_BSTR && vt == VT_DATE) {
    const std::optional<DATE> date = xelo::com::DateFromText(xelo::com::BstrToUtf8(src.bstrVal));
    if (!date) return DISP_E_TYPEMISMATCH;
    result.date = *date;
    result.vt = VT_DATE;
  } else if (from == VT_BSTR && vt == VT_BOOL && BoolWord(src.bstrVal, result.boolVal)) {
    result.vt = VT_BOOL;
  } else {
    Number n;
    hr = NumberOf(src, n);
    if (FAILED(hr)) return hr;
    // Windows makes true a DECIMAL of +1, though -1 for every other number.
    if (from == VT_BOOL && vt == VT_DECIMAL && IsNonZero(n)) n = Signed(1);
    if (vt == VT_BOOL) {
      result.boolVal = IsNonZero(n) ? VARIANT_TRUE : VARIANT_FALSE;
      result.vt = VT_BOOL;
    } else if (from == VT_BOOL && src.boolVal != 0 && IsUnsignedInteger(vt)) {
      StoreBits(vt, ~0ULL, result);
    } else if (IntegerWidth(from) != 0 && IntegerWidth(from) == IntegerWidth(vt)) {
      // Same width, so the bits fit whatever the signedness says.
      StoreBits(vt, n.kind == Number::Kind::Signed ? static_cast<unsigned long long>(n.signedValue) : n.unsignedValue,
                result);
    } else {
      switch (vt) {
        case VT_I1:
        case VT_UI1:
        case VT_I2:
        case VT_UI2:
        case VT_I4:
        case VT_UI4:
        case VT_INT:
        case VT_UINT:
        case VT_I8:
        case VT_UI8:
        case VT_CY: {
          bool negative = false;
          Wide magnitude = 0;
          hr = ScaledMagnitude(n, vt == VT_CY ? 4 : 0, negative, magnitude);
          if (SUCCEEDED(hr)) hr = StoreInteger(vt, negative, magnitude, result);
          break;
        }
        case VT_R4:
          hr = RealOf(n, result.fltVal);
          result.vt = VT_R4;
          break;
        case VT_R8:
          hr = RealOf(n, result.dblVal);
          result.vt = VT_R8;
          break;
        case VT_DATE:
          hr = RealOf(n, result.date);
          if (SUCCEEDED(hr) && !xelo::com::IsValidDate(result.date)) hr = DISP_E_OVERFLOW;
          result.vt = VT_DATE;
          break;
        case VT_DECIMAL:
          hr = DecimalOf(n, result.decVal);
          result.vt = VT_DECIMAL;  // after the value: the DECIMAL overlays the type field
          break;
        default:
          hr = DISP_E_TYPEMISMATCH;
          break;
      }
    }
  }
  if (FAILED(hr)) return hr;
  std::memcpy(&out, &result, sizeof result);
  return S_OK;
}

// Any valid VARIANT to a valid target type; `out` receives an owned value
// and is written only on success.
HRESULT Convert(const VARIANT& source, VARTYPE vt, USHORT flags, VARIANT& out) {
  if (!xelo::com::IsValidVariantType(source.vt)) return DISP_E_BADVARTYPE;
  if (source.vt & VT_BYREF) {
    VARIANT value;
    VariantInit(&value);
    HRESULT hr = VariantCopyInd(&value, &source);
    if (FAILED(hr)) return hr;
    hr = Convert(value, vt, flags, out);
    VariantClear(&value);
    return hr;
  }
  if (vt == VT_EMPTY) {
    // Any other value may be dropped, but NULL and an error code are not
    // values to Windows and so cannot become none either.
    if (source.vt == VT_NULL || source.vt == VT_ERROR) return DISP_E_TYPEMISMATCH;
    std::memset(&out, 0, sizeof out);
    return S_OK;
  }
  if (source.vt == vt) {
    VARIANT copy;
    VariantInit(&copy);
    const HRESULT hr = VariantCopy(&copy, &source);
    if (SUCCEEDED(hr)) std::memcpy(&out, &copy, sizeof copy);
    return hr;
  }
  // As Windows: an array converts only into a copy of itself (see
  // xelo/com/VariantConversion.h for arrays of other element types).
  if ((source.vt & VT_ARRAY) != 0 || (vt & VT_ARRAY) != 0) return DISP_E_TYPEMISMATCH;
  return ConvertScalar(source, vt, flags, out);
}

HRESULT CheckTarget(VARTYPE vt) {
  if (vt & (VT_VECTOR | VT_RESERVED)) return DISP_E_BADVARTYPE;
  const auto base = static_cast<VARTYPE>(vt & VT_TYPEMASK);
  const bool convertible = base <= VT_DECIMAL || (base >= VT_I1 && base <= VT_UINT);
  // VT_FILETIME counts as not existing, as in Windows, unlike its neighbours.
  const bool foreign = (base >= VT_RECORD && base <= VT_UINT_PTR) || (base >= VT_BLOB && base <= VT_CLSID);
  if (!convertible && !foreign) return DISP_E_BADVARTYPE;
  const bool wrapped = (vt & (VT_ARRAY | VT_BYREF)) != 0;
  if (wrapped && (base == VT_EMPTY || base == VT_NULL)) return DISP_E_BADVARTYPE;
  // Real codes, but nothing we can produce: a reference needs storage the
  // caller owns, a VARIANT on its own is no value, and the rest are not
  // VARIANT types of this layer.
  if (foreign || (vt & VT_BYREF) || (base == VT_VARIANT && !wrapped)) return DISP_E_TYPEMISMATCH;
  return S_OK;
}

}  // namespace

HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, USHORT flags, VARTYPE vt) {
  return VariantChangeTypeEx(dest, src, 0, flags, vt);
}

HRESULT VariantChangeTypeEx(VARIANT* dest, const VARIANT* src, LCID, USHORT flags, VARTYPE vt) {
  if (dest == nullptr || src == nullptr) return E_INVALIDARG;
  if (!xelo::com::IsValidVariantType(src->vt)) return DISP_E_BADVARTYPE;
  HRESULT hr = CheckTarget(vt);
  if (FAILED(hr)) return hr;
  VARIANT result;
  hr = Convert(*src, vt, flags, result);
  if (FAILED(hr)) return hr;
  return xelo::com::ReplaceVariant(dest, result);
}
