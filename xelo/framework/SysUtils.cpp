#include "xelo/framework/SysUtils.h"

#include "xelo/framework/Exceptions.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <optional>

namespace xelo {
namespace {

bool IsBlankOrControl(char c) { return static_cast<unsigned char>(c) <= 32; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
char ToUpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
char ToLowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Widths and precisions count what a reader sees as characters; a UTF-8
// continuation byte is part of the character before it.
bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

std::size_t CodePointCount(std::string_view s) {
  return static_cast<std::size_t>(std::count_if(s.begin(), s.end(), [](char c) { return !IsContinuationByte(c); }));
}

std::string_view FirstCodePoints(std::string_view s, std::size_t count) {
  std::size_t seen = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (!IsContinuationByte(s[i])) {
      if (seen == count) return s.substr(0, i);
      ++seen;
    }
  }
  return s;
}

std::uint64_t MaskToBits(std::uint64_t value, int bits) {
  return bits >= 64 ? value : value & ((std::uint64_t{1} << bits) - 1);
}

std::string SpecialFloatText(double value) {
  if (std::isnan(value)) return "NAN";
  return value < 0 ? "-INF" : "INF";
}

// Formatting of one directive, kept apart from the parsing loop so that the
// rules per type read in one place.
class DirectiveFormatter {
 public:
  DirectiveFormatter(std::string_view format, std::initializer_list<FormatArg> args)
      : format_(format), args_(args.begin()), argCount_(args.size()) {}

  std::string Run() {
    std::string out;
    out.reserve(format_.size() + 16);
    std::size_t i = 0;
    while (i < format_.size()) {
      const std::size_t percent = format_.find('%', i);
      if (percent == std::string_view::npos) {
        out.append(format_.substr(i));
        break;
      }
      out.append(format_.substr(i, percent - i));
      i = FormatDirective(percent, out);
    }
    return out;
  }

 private:
  // Formats the directive starting at `start` (a '%') into `out` and returns
  // the position after it.
  std::size_t FormatDirective(std::size_t start, std::string& out) {
    start_ = start;
    std::size_t i = start + 1;
    if (i < format_.size() && format_[i] == '%') {
      out.push_back('%');
      return i + 1;
    }
    // An index ("%1:s") looks like a width until the colon shows up.
    {
      std::size_t j = i;
      const auto number = ReadNumber(j);
      if (number && j < format_.size() && format_[j] == ':') {
        nextArg_ = *number;
        i = j + 1;
      }
    }
    bool leftAlign = false;
    if (i < format_.size() && format_[i] == '-') {
      leftAlign = true;
      ++i;
    }
    long long width = -1;
    if (i < format_.size() && format_[i] == '*') {
      end_ = i + 1;
      width = StarArgument();
      if (width < 0) {
        leftAlign = true;
        width = -width;
      }
      ++i;
    } else if (const auto number = ReadNumber(i)) {
      width = static_cast<long long>(*number);
    }
    long long precision = -1;
    if (i < format_.size() && format_[i] == '.') {
      ++i;
      if (i < format_.size() && format_[i] == '*') {
        end_ = i + 1;
        precision = StarArgument();
        ++i;
      } else {
        const auto number = ReadNumber(i);
        precision = number ? static_cast<long long>(*number) : 0;
      }
    }
    if (i >= format_.size()) {
      end_ = format_.size();
      Invalid();
    }
    const char type = format_[i];
    end_ = i + 1;

    std::string piece;
    switch (type) {
      case 's': case 'S': piece = FormatText(NextArgument(), precision); break;
      case 'd': case 'D': piece = FormatDecimal(NextArgument(), precision, true); break;
      case 'u': case 'U': piece = FormatDecimal(NextArgument(), precision, false); break;
      case 'x': piece = FormatHex(NextArgument(), precision, false); break;
      case 'X': piece = FormatHex(NextArgument(), precision, true); break;
      case 'f': case 'F': piece = FormatFixed(NextArgument(), precision); break;
      default: Invalid();
    }
    const std::size_t length = CodePointCount(piece);
    if (width > 0 && static_cast<std::size_t>(width) > length) {
      const std::string padding(static_cast<std::size_t>(width) - length, ' ');
      piece = leftAlign ? piece + padding : padding + piece;
    }
    out.append(piece);
    return end_;
  }

  // Digits at `i`, advancing past them; none when there are no digits.
  // Absurdly long numbers saturate rather than overflow.
  std::optional<std::size_t> ReadNumber(std::size_t& i) const {
    if (i >= format_.size() || !IsDigit(format_[i])) return std::nullopt;
    std::size_t value = 0;
    while (i < format_.size() && IsDigit(format_[i])) {
      value = std::min<std::size_t>(value * 10 + static_cast<std::size_t>(format_[i] - '0'), 1u << 20);
      ++i;
    }
    return value;
  }

  std::string_view Directive() const { return format_.substr(start_, end_ - start_); }

  [[noreturn]] void Invalid() const {
    throw EConvertError("Format '" + std::string(Directive()) + "' invalid or incompatible with argument");
  }

  const FormatArg& NextArgument() {
    if (nextArg_ >= argCount_) {
      throw EConvertError("No argument for format '" + std::string(Directive()) + "'");
    }
    return args_[nextArg_++];
  }

  long long StarArgument() {
    const FormatArg& arg = NextArgument();
    if (arg.GetKind() == FormatArg::Kind::Signed) return std::clamp<long long>(arg.Signed(), -(1 << 20), 1 << 20);
    if (arg.GetKind() == FormatArg::Kind::Unsigned) return static_cast<long long>(std::min<std::uint64_t>(arg.Unsigned(), 1 << 20));
    Invalid();
  }

  std::string FormatText(const FormatArg& arg, long long precision) const {
    if (arg.GetKind() != FormatArg::Kind::Text) Invalid();
    std::string_view text = arg.Text();
    if (precision >= 0) text = FirstCodePoints(text, static_cast<std::size_t>(precision));
    return std::string(text);
  }

  // The magnitude of an integer argument as the directive reads it: %d keeps
  // the sign, %u and %x see the bits of the argument's own width.
  std::uint64_t Magnitude(const FormatArg& arg, bool keepSign, bool& negative) const {
    negative = false;
    switch (arg.GetKind()) {
      case FormatArg::Kind::Signed:
        if (arg.Signed() < 0) {
          if (keepSign) {
            negative = true;
            return 0 - static_cast<std::uint64_t>(arg.Signed());
          }
          return MaskToBits(static_cast<std::uint64_t>(arg.Signed()), arg.Bits());
        }
        return static_cast<std::uint64_t>(arg.Signed());
      case FormatArg::Kind::Unsigned:
        return arg.Unsigned();
      default:
        Invalid();
    }
  }

  static std::string WithMinimumDigits(std::string digits, long long precision, bool negative) {
    if (precision > 0 && digits.size() < static_cast<std::size_t>(precision)) {
      digits.insert(0, static_cast<std::size_t>(precision) - digits.size(), '0');
    }
    return negative ? "-" + digits : digits;
  }

  std::string FormatDecimal(const FormatArg& arg, long long precision, bool keepSign) const {
    bool negative = false;
    const std::uint64_t magnitude = Magnitude(arg, keepSign, negative);
    return WithMinimumDigits(detail::UnsignedToStr(magnitude, false), precision, negative);
  }

  std::string FormatHex(const FormatArg& arg, long long precision, bool upper) const {
    bool negative = false;
    std::string digits = detail::UnsignedToHex(Magnitude(arg, false, negative), 0);
    if (!upper) std::transform(digits.begin(), digits.end(), digits.begin(), ToLowerAscii);
    return WithMinimumDigits(std::move(digits), precision, false);
  }

  std::string FormatFixed(const FormatArg& arg, long long precision) const {
    if (arg.GetKind() != FormatArg::Kind::Float) Invalid();
    const double value = arg.Float();
    if (!std::isfinite(value)) return SpecialFloatText(value);
    // More digits than a double can hold only pad with zeros; the cap keeps
    // the buffer bounded for hostile precisions.
    const int digits = precision < 0 ? 2 : static_cast<int>(std::min<long long>(precision, 1100));
    std::string buffer(static_cast<std::size_t>(digits) + 330, '\0');
    const auto result =
        std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, std::chars_format::fixed, digits);
    buffer.resize(static_cast<std::size_t>(result.ptr - buffer.data()));
    return buffer;
  }

  std::string_view format_;
  const FormatArg* args_;
  std::size_t argCount_;
  std::size_t nextArg_ = 0;
  std::size_t start_ = 0;  // of the directive being formatted, for messages
  std::size_t end_ = 0;
};

// Splits the shortest scientific text of a number into its significant
// digits and the decimal exponent of the first digit.
template <typename Float>
std::string ShortestFloatText(Float value) {
  if (!std::isfinite(value)) return SpecialFloatText(static_cast<double>(value));
  if (value == 0) return "0";
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
  const std::string_view text(buffer, static_cast<std::size_t>(result.ptr - buffer));
  const bool negative = text.front() == '-';
  const std::size_t ePos = text.find('e');
  std::string digits;
  for (char c : text.substr(negative ? 1 : 0, ePos - (negative ? 1 : 0))) {
    if (c != '.') digits.push_back(c);
  }
  int exponent = 0;
  std::string_view expText = text.substr(ePos + 1);
  if (!expText.empty() && expText.front() == '+') expText.remove_prefix(1);
  std::from_chars(expText.data(), expText.data() + expText.size(), exponent);

  std::string out = negative ? "-" : "";
  if (exponent >= -5 && exponent < 15) {
    if (exponent >= 0) {
      const auto intDigits = static_cast<std::size_t>(exponent) + 1;
      if (digits.size() <= intDigits) {
        out += digits;
        out.append(intDigits - digits.size(), '0');
      } else {
        out += digits.substr(0, intDigits);
        out += '.';
        out += digits.substr(intDigits);
      }
    } else {
      out += "0.";
      out.append(static_cast<std::size_t>(-exponent - 1), '0');
      out += digits;
    }
  } else {
    out += digits.front();
    if (digits.size() > 1) {
      out += '.';
      out += digits.substr(1);
    }
    out += 'E';
    out += std::to_string(exponent);
  }
  return out;
}

// A number's text without the blanks around it and without its sign, which
// goes to `negative`.
std::string_view TrimmedUnsigned(std::string_view text, bool& negative) {
  while (!text.empty() && IsBlankOrControl(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlankOrControl(text.back())) text.remove_suffix(1);
  negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  return text;
}

// Integer parsing shared by the 32- and 64-bit variants; `bits` is 32 or 64.
bool ParseInteger(std::string_view s, int bits, std::int64_t& value) {
  bool negative = false;
  std::string_view text = TrimmedUnsigned(s, negative);
  int base = 10;
  if (!text.empty() && text.front() == '$') {
    base = 16;
    text.remove_prefix(1);
  } else if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return false;

  // Hexadecimal texts name a bit pattern and may use the full unsigned range;
  // decimal texts name a number and must fit the signed range.
  const std::uint64_t unsignedMax = bits >= 64 ? std::numeric_limits<std::uint64_t>::max()
                                               : (std::uint64_t{1} << bits) - 1;
  const std::uint64_t limit = base == 16 ? unsignedMax : (std::uint64_t{1} << (bits - 1)) - (negative ? 0 : 1);
  std::uint64_t magnitude = 0;
  for (char c : text) {
    const int digit = base == 16 ? HexDigitValue(c) : (IsDigit(c) ? c - '0' : -1);
    if (digit < 0) return false;
    const auto d = static_cast<std::uint64_t>(digit);
    if (magnitude > (limit - d) / static_cast<std::uint64_t>(base)) return false;
    magnitude = magnitude * static_cast<std::uint64_t>(base) + d;
  }
  std::uint64_t bitsValue = negative ? 0 - magnitude : magnitude;
  if (bits < 64) {
    bitsValue = MaskToBits(bitsValue, bits);
    value = static_cast<std::int32_t>(static_cast<std::uint32_t>(bitsValue));
  } else {
    value = static_cast<std::int64_t>(bitsValue);
  }
  return true;
}

[[noreturn]] void InvalidInteger(std::string_view s) {
  throw EConvertError("'" + std::string(s) + "' is not a valid integer value");
}

bool EqualsNoCase(std::string_view a, std::string_view b) { return CompareText(a, b) == 0; }

}  // namespace

std::string Format(std::string_view format, std::initializer_list<FormatArg> args) {
  return DirectiveFormatter(format, args).Run();
}

std::string Trim(std::string_view s) { return TrimRight(TrimLeft(s)); }

std::string TrimLeft(std::string_view s) {
  const auto first = std::find_if_not(s.begin(), s.end(), IsBlankOrControl);
  return std::string(first, s.end());
}

std::string TrimRight(std::string_view s) {
  const auto last = std::find_if_not(s.rbegin(), s.rend(), IsBlankOrControl);
  return std::string(s.begin(), last.base());
}

std::string UpperCase(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(), ToUpperAscii);
  return out;
}

std::string LowerCase(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(), ToLowerAscii);
  return out;
}

int CompareStr(std::string_view a, std::string_view b) {
  const int c = a.compare(b);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

int CompareText(std::string_view a, std::string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const auto x = static_cast<unsigned char>(ToUpperAscii(a[i]));
    const auto y = static_cast<unsigned char>(ToUpperAscii(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

// Names are mostly compared with themselves in the same spelling (property
// and value names read from a stream): the plain comparison settles those.
bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && (a == b || CompareText(a, b) == 0);
}

bool SameStr(std::string_view a, std::string_view b) { return a == b; }

int StrToInt(std::string_view s) {
  int value = 0;
  if (!TryStrToInt(s, value)) InvalidInteger(s);
  return value;
}

std::int64_t StrToInt64(std::string_view s) {
  std::int64_t value = 0;
  if (!TryStrToInt64(s, value)) InvalidInteger(s);
  return value;
}

int StrToIntDef(std::string_view s, int defaultValue) {
  int value = 0;
  return TryStrToInt(s, value) ? value : defaultValue;
}

std::int64_t StrToInt64Def(std::string_view s, std::int64_t defaultValue) {
  std::int64_t value = 0;
  return TryStrToInt64(s, value) ? value : defaultValue;
}

bool TryStrToInt(std::string_view s, int& value) {
  std::int64_t wide = 0;
  if (!ParseInteger(s, 32, wide)) return false;
  value = static_cast<int>(wide);
  return true;
}

bool TryStrToInt64(std::string_view s, std::int64_t& value) { return ParseInteger(s, 64, value); }

std::string FloatToStr(double value) { return ShortestFloatText(value); }
std::string FloatToStr(float value) { return ShortestFloatText(value); }

bool TryStrToFloat(std::string_view s, double& value) {
  bool negative = false;
  std::string_view text = TrimmedUnsigned(s, negative);
  if (EqualsNoCase(text, "NAN")) {
    value = std::numeric_limits<double>::quiet_NaN();
    return true;
  }
  if (EqualsNoCase(text, "INF")) {
    value = negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
    return true;
  }
  // from_chars would also take "infinity" and "nan(...)"; a number must start
  // with a digit or the point.
  if (text.empty() || !(IsDigit(text.front()) || text.front() == '.')) return false;
  double parsed = 0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), parsed, std::chars_format::general);
  if (result.ec != std::errc() || result.ptr != text.data() + text.size()) return false;
  value = negative ? -parsed : parsed;
  return true;
}

double StrToFloat(std::string_view s) {
  double value = 0;
  if (!TryStrToFloat(s, value)) {
    throw EConvertError("'" + std::string(s) + "' is not a valid floating point value");
  }
  return value;
}

double StrToFloatDef(std::string_view s, double defaultValue) {
  double value = 0;
  return TryStrToFloat(s, value) ? value : defaultValue;
}

bool IsValidIdent(std::string_view s, bool allowDots) {
  if (s.empty()) return false;
  bool atStart = true;
  for (char c : s) {
    if (c == '.' && allowDots) {
      if (atStart) return false;
      atStart = true;
      continue;
    }
    const bool ok = IsAsciiLetter(c) || c == '_' || (!atStart && IsDigit(c));
    if (!ok) return false;
    atStart = false;
  }
  return !atStart;
}

std::string QuotedStr(std::string_view s, char quote) {
  std::string out;
  out.reserve(s.size() + 2);
  out.push_back(quote);
  for (char c : s) {
    out.push_back(c);
    if (c == quote) out.push_back(c);
  }
  out.push_back(quote);
  return out;
}

namespace detail {

std::string UnsignedToStr(std::uint64_t magnitude, bool negative) {
  char buffer[24];
  char* p = buffer;
  if (negative) *p++ = '-';
  const auto result = std::to_chars(p, buffer + sizeof buffer, magnitude);
  return std::string(buffer, result.ptr);
}

std::string UnsignedToHex(std::uint64_t value, int digits) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  do {
    out.push_back(kDigits[value & 0xF]);
    value >>= 4;
  } while (value != 0);
  if (digits > 0 && out.size() < static_cast<std::size_t>(digits)) {
    out.append(static_cast<std::size_t>(std::min(digits, 64)) - out.size(), '0');
  }
  std::reverse(out.begin(), out.end());
  return out;
}

}  // namespace detail
}  // namespace xelo
