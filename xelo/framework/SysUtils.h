// Text and number helpers used throughout the library: formatting with
// printf-like directives, trimming, ASCII case handling, and conversions
// between numbers and their text.
//
// Contract: all functions are pure (no global state, no locale), so they may be
// called from any thread. Conversions always use '.' as the decimal separator.
// Failures raise EConvertError (xelo/framework/Exceptions.h) with the text that
// could not be converted; the Try... variants report failure by their result.
#pragma once

#include <concepts>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <type_traits>

namespace xelo {

// One argument of Format: a text, a signed or unsigned integer, or a
// floating-point number. Integers remember the width of their type so that
// %u and %x show negative values as the two's complement of that width (an
// HRESULT 0x80004005 prints -2147467259 with %d and 80004005 with %x).
class FormatArg {
 public:
  enum class Kind { Text, Signed, Unsigned, Float };

  FormatArg(std::string_view text) : kind_(Kind::Text), text_(text) {}
  FormatArg(const std::string& text) : kind_(Kind::Text), text_(text) {}
  FormatArg(const char* text) : kind_(Kind::Text), text_(text != nullptr ? text : "") {}
  FormatArg(char c) : kind_(Kind::Text), char_(c), isChar_(true) {}
  template <std::integral T>
    requires(!std::same_as<T, bool> && !std::same_as<T, char>)
  FormatArg(T value) : bits_(static_cast<int>(sizeof(T) * 8)) {
    if constexpr (std::is_signed_v<T>) {
      kind_ = Kind::Signed;
      signed_ = value;
    } else {
      kind_ = Kind::Unsigned;
      unsigned_ = value;
    }
  }
  template <std::floating_point T>
  FormatArg(T value) : kind_(Kind::Float), float_(static_cast<double>(value)) {}
  // A Boolean has no directive of its own; refusing it at compile time beats
  // printing 0 or 1 by accident.
  FormatArg(bool) = delete;

  Kind GetKind() const { return kind_; }
  // Refers to the argument's text (or, for a char, to this object's copy).
  std::string_view Text() const { return isChar_ ? std::string_view(&char_, 1) : text_; }
  std::int64_t Signed() const { return signed_; }
  std::uint64_t Unsigned() const { return unsigned_; }
  double Float() const { return float_; }
  int Bits() const { return bits_; }

 private:
  Kind kind_ = Kind::Text;
  std::string_view text_;
  char char_ = '\0';
  bool isChar_ = false;
  std::int64_t signed_ = 0;
  std::uint64_t unsigned_ = 0;
  double float_ = 0.0;
  int bits_ = 0;
};

// Builds a text from `format`, replacing each directive by the next argument.
// A directive is  % [index:] [-] [width] [.precision] type  where
//   type  s  text (precision = at most that many characters)
//         d  signed decimal integer (precision = at least that many digits)
//         u  unsigned decimal integer
//         x  hexadecimal, lower case; X upper case (precision as for d)
//         f  fixed-point number, precision digits after the point (default 2)
//   width pads with blanks to at least that many characters, on the left, or
//         on the right with '-'; "*" takes the width (or precision) from the
//         next argument. A leading 0 in the width is just a digit: zero-padding
//         is what the precision of d/u/x is for.
//   index "%1:s" picks argument 1 (counted from 0); later directives continue
//         after it.
// "%%" writes one percent sign. Widths and precisions count characters
// (UTF-8 code points), not bytes.
// Raises EConvertError "No argument for format '%d'" when the arguments run
// out, and "Format '%d' invalid or incompatible with argument" for an unknown
// directive or an argument of the wrong kind (integers for s, texts for d, …).
std::string Format(std::string_view format, std::initializer_list<FormatArg> args);

template <typename... Args>
std::string Format(std::string_view format, const Args&... args) {
  return Format(format, {FormatArg(args)...});
}

// Removes leading and/or trailing characters with a code <= 32 (blanks and
// control characters). Bytes of UTF-8 sequences are never removed.
std::string Trim(std::string_view s);
std::string TrimLeft(std::string_view s);
std::string TrimRight(std::string_view s);

// ASCII-only case conversion; other bytes are kept.
std::string UpperCase(std::string_view s);
std::string LowerCase(std::string_view s);

// Comparisons: < 0, 0, > 0. CompareStr compares bytes; CompareText compares
// after folding ASCII letters to upper case (so '_' sorts after letters).
int CompareStr(std::string_view a, std::string_view b);
int CompareText(std::string_view a, std::string_view b);
bool SameText(std::string_view a, std::string_view b);
bool SameStr(std::string_view a, std::string_view b);

template <std::integral T>
  requires(!std::same_as<T, bool>)
std::string IntToStr(T value);

// Upper-case hexadecimal digits, at least `digits` of them (zero-padded).
// Negative values show the two's complement of the argument's type:
// IntToHex(-1, 2) with an int gives "FFFFFFFF".
template <std::integral T>
  requires(!std::same_as<T, bool>)
std::string IntToHex(T value, int digits = 0);

// Integer parsing. Accepts surrounding blanks, an optional sign, and decimal
// digits or hexadecimal digits after "$" or "0x"/"0X". A hexadecimal text may
// use the full unsigned range of the type ("$FFFFFFFF" is -1 for StrToInt);
// a decimal text must fit the signed range.
// StrToInt/StrToInt64 raise EConvertError "'abc' is not a valid integer value".
int StrToInt(std::string_view s);
std::int64_t StrToInt64(std::string_view s);
int StrToIntDef(std::string_view s, int defaultValue);
std::int64_t StrToInt64Def(std::string_view s, std::int64_t defaultValue);
bool TryStrToInt(std::string_view s, int& value);
bool TryStrToInt64(std::string_view s, std::int64_t& value);

// The shortest text that reads back (StrToFloat) as the same number, with '.'
// as separator. Numbers from 1E-5 up to below 1E15 are written without an
// exponent, others as mantissa, "E" and exponent ("1E20", "2.5E-7").
// NaN and infinities are "NAN", "INF" and "-INF"; negative zero is "0".
// The float overload finds the shortest text of the single-precision value
// (0.1f gives "0.1", not the digits of its double widening).
std::string FloatToStr(double value);
std::string FloatToStr(float value);
template <std::integral T>
  requires(!std::same_as<T, bool>)
std::string FloatToStr(T value) {
  return FloatToStr(static_cast<double>(value));
}

// Parses a decimal floating-point number: surrounding blanks, optional sign,
// digits with an optional '.', an optional exponent (e/E), or NAN/INF
// (either case). Out-of-range texts are not valid.
// StrToFloat raises EConvertError "'x' is not a valid floating point value".
double StrToFloat(std::string_view s);
bool TryStrToFloat(std::string_view s, double& value);
double StrToFloatDef(std::string_view s, double defaultValue);

// A letter or underscore, then letters, digits or underscores (ASCII). With
// `allowDots`, dot-separated identifiers ("Unit.Name") are accepted too.
bool IsValidIdent(std::string_view s, bool allowDots = false);

// `s` in single quotes (or `quote`), each quote inside doubled.
std::string QuotedStr(std::string_view s, char quote = '\'');

namespace detail {
std::string UnsignedToStr(std::uint64_t magnitude, bool negative);
std::string UnsignedToHex(std::uint64_t value, int digits);
}  // namespace detail

template <std::integral T>
  requires(!std::same_as<T, bool>)
std::string IntToStr(T value) {
  if constexpr (std::is_signed_v<T>) {
    // Negating in unsigned arithmetic keeps the minimum value exact.
    const bool negative = value < 0;
    const auto magnitude = negative ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    return detail::UnsignedToStr(magnitude, negative);
  } else {
    return detail::UnsignedToStr(value, false);
  }
}

template <std::integral T>
  requires(!std::same_as<T, bool>)
std::string IntToHex(T value, int digits) {
  return detail::UnsignedToHex(static_cast<std::make_unsigned_t<T>>(value), digits);
}

}  // namespace xelo
