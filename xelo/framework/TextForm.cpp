#include "xelo/framework/TextForm.h"

#include "xelo/framework/Exceptions.h"
#include "xelo/framework/Streams.h"
#include "xelo/framework/SysUtils.h"
#include "xelo/framework/TypInfo.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <system_error>

namespace xelo {

namespace {

constexpr std::size_t kPieceLength = 64;
constexpr const char* kLineEnd = "\r\n";

// --- Numbers -------------------------------------------------------------------------

// Gives the mantissa a point and the exponent the form "E-7": to_chars writes
// "1e+20" or "1000", which would read back as an integer or look foreign.
std::string NormalizeFloatText(std::string s) {
  std::string mantissa = s;
  std::string exponent;
  const std::size_t e = s.find('e');
  if (e != std::string::npos) {
    mantissa = s.substr(0, e);
    std::string digits = s.substr(e + 1);
    bool negative = false;
    if (!digits.empty() && (digits[0] == '+' || digits[0] == '-')) {
      negative = digits[0] == '-';
      digits.erase(0, 1);
    }
    while (digits.size() > 1 && digits[0] == '0') digits.erase(0, 1);
    exponent = std::string("E") + (negative ? "-" : "") + digits;
  }
  if (mantissa.find('.') == std::string::npos) mantissa += ".0";
  return mantissa + exponent;
}

template <class F>
std::optional<std::string> NonFinite(F v) {
  if (std::isnan(v)) return std::string("NAN");
  if (std::isinf(v)) return std::string(v < 0 ? "-INF" : "INF");
  return std::nullopt;
}

double ParseDouble(std::string_view s) {
  double d = 0;
  std::from_chars(s.data(), s.data() + s.size(), d);
  return d;
}

std::string FormatSingle(float v) {
  if (auto special = NonFinite(v)) return *special;
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  std::string text(buf, r.ptr);
  // The reader takes a number without a precision letter as a double and
  // narrows it to the property's precision; make sure that path gives this
  // very float, adding digits in the rare case the shortest text does not.
  for (int precision = 6; static_cast<float>(ParseDouble(text)) != v && precision <= 17; ++precision) {
    r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, precision);
    text.assign(buf, r.ptr);
  }
  return NormalizeFloatText(text);
}

std::string FormatDouble(double v) {
  if (auto special = NonFinite(v)) return *special;
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  return NormalizeFloatText(std::string(buf, r.ptr));
}

// --- Writing ---------------------------------------------------------------------------

// One character of a text: its code and its bytes, or a stray byte.
struct TextUnit {
  char32_t code;
  std::size_t start;
  std::size_t length;
  bool escape;  // written as #code whatever its value
};

// Written inside quotes as it is: a printable ASCII character other than
// the quote. Everything else goes out as #code, so that the text is ASCII
// throughout: other readers of this form take the bytes inside quotes for
// 8-bit characters of their code page, and would turn the bytes of a UTF-8
// character into as many characters of their own.
constexpr bool IsPlainAscii(char32_t c) { return c >= 32 && c < 127 && c != '\''; }

std::vector<TextUnit> SplitUnits(std::string_view s) {
  std::vector<TextUnit> units;
  units.reserve(s.size());
  std::size_t pos = 0;
  while (pos < s.size()) {
    const std::size_t start = pos;
    const auto byte = static_cast<unsigned char>(s[pos]);
    if (byte < 0x80) {
      units.push_back({byte, start, 1, false});
      ++pos;
    } else if (auto cp = detail::DecodeUtf8(s, pos)) {
      // A lone surrogate is not text a reader of UTF-8 accepts as is.
      const bool surrogate = *cp >= 0xD800 && *cp <= 0xDFFF;
      units.push_back({*cp, start, pos - start, surrogate});
    } else {
      units.push_back({byte, start, 1, true});
      ++pos;
    }
  }
  return units;
}

constexpr auto kPlainAscii = [] {
  std::array<bool, 256> table{};
  for (int c = 0; c < 256; ++c) table[static_cast<std::size_t>(c)] = IsPlainAscii(static_cast<char32_t>(c));
  return table;
}();

// A text written as one quoted run as it is.
bool IsPlainShortText(std::string_view s) {
  return s.size() <= kPieceLength &&
         std::all_of(s.begin(), s.end(), [](char c) { return kPlainAscii[static_cast<unsigned char>(c)]; });
}

// Copies `s` to `p` and returns the end of the copy.
char* Put(char* p, std::string_view s) {
  if (!s.empty()) std::memcpy(p, s.data(), s.size());
  return p + s.size();
}

bool IsPlainUnit(const TextUnit& u) { return !u.escape && IsPlainAscii(u.code); }

void Code(std::string& out, char32_t code) {
  out += '#';
  out += std::to_string(static_cast<std::uint32_t>(code));
}

// Units [first, last) of `s`: quoted runs and #codes joined directly.
void Quoted(std::string& out, std::string_view s, const std::vector<TextUnit>& units, std::size_t first,
            std::size_t last) {
  if (first == last) {
    out += "''";
    return;
  }
  std::size_t i = first;
  while (i < last) {
    const TextUnit& u = units[i];
    if (!IsPlainUnit(u)) {
      if (!u.escape && u.code > 0xFFFF) {
        // Wide texts of this form are UTF-16: a character beyond U+FFFF
        // goes out as its pair of surrogates, both codes in one piece.
        Code(out, 0xD800 + ((u.code - 0x10000) >> 10));
        Code(out, 0xDC00 + ((u.code - 0x10000) & 0x3FF));
      } else {
        Code(out, u.code);
      }
      ++i;
      continue;
    }
    // A run of characters written as they are goes out in one piece.
    std::size_t end = i + 1;
    while (end < last && IsPlainUnit(units[end])) ++end;
    out += '\'';
    out.append(s.substr(u.start, units[end - 1].start + units[end - 1].length - u.start));
    out += '\'';
    i = end;
  }
}

}  // namespace

// --- TFormTextWriter ---------------------------------------------------------------------

void TFormTextWriter::BeginObject(TFormObjectFlag flag, std::string_view className, std::string_view name) {
  Indent(depth_);
  switch (flag) {
    case TFormObjectFlag::Inherited: out_ += "inherited "; break;
    case TFormObjectFlag::Inline: out_ += "inline "; break;
    default: out_ += "object "; break;
  }
  if (!name.empty()) {
    out_ += name;
    out_ += ": ";
  }
  out_ += className;
  out_ += kLineEnd;
  ++depth_;
}

void TFormTextWriter::EndObject() {
  --depth_;
  Indent(depth_);
  out_ += "end";
  out_ += kLineEnd;
}

void TFormTextWriter::Value(const TFormName& name, const TFormScalar& v) {
  // Nearly every line is a number, an identifier or a short plain text:
  // such a line is written in one piece.
  char digits[24];
  switch (v.Kind) {
    case TFormValueKind::Integer: {
      const auto r = std::to_chars(digits, digits + sizeof digits, v.Int);
      return Line(name, std::string_view(digits, static_cast<std::size_t>(r.ptr - digits)), false);
    }
    case TFormValueKind::Ident: return Line(name, v.Text, false);
    case TFormValueKind::String:
      if (IsPlainShortText(v.Text)) return Line(name, v.Text, true);
      break;
    default: break;
  }
  Head(name);
  switch (v.Kind) {
    case TFormValueKind::Single: out_ += FormatSingle(static_cast<float>(v.Float)); break;
    case TFormValueKind::Double: out_ += FormatDouble(v.Float); break;
    case TFormValueKind::String: Text(v.Text); break;
    case TFormValueKind::Set:
      out_ += '[';
      for (std::size_t i = 0; i < v.ElementCount; ++i) {
        if (i > 0) out_ += ", ";
        out_ += v.Elements[i];
      }
      out_ += ']';
      break;
    default: break;  // written above; a collection is never a scalar
  }
  out_ += kLineEnd;
}

void TFormTextWriter::Line(const TFormName& name, std::string_view value, bool quoted) {
  const std::size_t indent = static_cast<std::size_t>(depth_) * 2;
  const std::size_t length =
      indent + name.Path.size() + name.Name.size() + 3 + value.size() + (quoted ? 2 : 0) + std::strlen(kLineEnd);
  const std::size_t start = out_.size();
  // Blanks first: the indentation and the blanks around '=' are then in
  // place, and the line grows the text once.
  out_.append(length, ' ');
  char* p = out_.data() + start + indent;
  p = Put(p, name.Path);
  p = Put(p, name.Name);
  p[1] = '=';
  p += 3;
  if (quoted) *p++ = '\'';
  p = Put(p, value);
  if (quoted) *p++ = '\'';
  Put(p, kLineEnd);
}

void TFormTextWriter::BeginCollection(const TFormName& name) {
  Head(name);
  out_ += '<';
  ++depth_;
}

void TFormTextWriter::BeginItem() {
  out_ += kLineEnd;
  Indent(depth_);
  out_ += "item";
  out_ += kLineEnd;
  ++depth_;
}

void TFormTextWriter::EndItem() {
  --depth_;
  Indent(depth_);
  out_ += "end";
}

void TFormTextWriter::EndCollection() {
  --depth_;
  out_ += '>';
  out_ += kLineEnd;
}

void TFormTextWriter::Indent(int level) { out_.append(static_cast<std::size_t>(level) * 2, ' '); }

void TFormTextWriter::Head(const TFormName& name) {
  Indent(depth_);
  out_ += name.Path;
  out_ += name.Name;
  out_ += " = ";
}

void TFormTextWriter::Text(std::string_view s) {
  // Most texts (identifiers, names) are short and plain: one quoted run,
  // without looking at single characters.
  if (IsPlainShortText(s)) {
    out_ += '\'';
    out_ += s;
    out_ += '\'';
    return;
  }
  const std::vector<TextUnit> units = SplitUnits(s);
  if (units.size() <= kPieceLength) {
    Quoted(out_, s, units, 0, units.size());
    return;
  }
  for (std::size_t first = 0; first < units.size(); first += kPieceLength) {
    out_ += kLineEnd;
    Indent(depth_ + 1);
    Quoted(out_, s, units, first, std::min(units.size(), first + kPieceLength));
    if (first + kPieceLength < units.size()) out_ += " +";
  }
}

namespace {

// --- Reading -----------------------------------------------------------------------------

enum class Tok { End, Ident, Integer, Float, String, Symbol };

struct Token {
  Tok kind = Tok::End;
  std::string_view text;   // identifier, symbol, number text: a slice of the source
  std::string value;       // String: the decoded text, unless plain
  bool plain = false;      // String: one quoted run without escapes, its text the slice inside the quotes
  std::uint64_t magnitude = 0;  // Integer
  double number = 0;       // Float
  bool single = false;     // Float with the single-precision letter
  int line = 1;
};

[[noreturn]] void SyntaxError(int line, const std::string& what) {
  throw EParserError("Syntax error on line " + std::to_string(line) + ": " + what);
}

// Character classes by table: the lexer looks at every byte of texts that
// run to megabytes.
constexpr std::uint8_t kIdentStart = 1;
constexpr std::uint8_t kDigit = 2;
constexpr std::uint8_t kBlank = 4;  // blank and tab; line ends are counted apart
constexpr auto kCharClass = [] {
  std::array<std::uint8_t, 256> table{};
  for (int c = 'A'; c <= 'Z'; ++c) table[static_cast<std::size_t>(c)] = kIdentStart;
  for (int c = 'a'; c <= 'z'; ++c) table[static_cast<std::size_t>(c)] = kIdentStart;
  table['_'] = kIdentStart;
  for (int c = '0'; c <= '9'; ++c) table[static_cast<std::size_t>(c)] = kDigit;
  table[' '] = kBlank;
  table['\t'] = kBlank;
  return table;
}();
std::uint8_t CharClass(char c) { return kCharClass[static_cast<unsigned char>(c)]; }
bool IsSymbolChar(char c) { return std::string_view("=:<>[],.+-(){}").find(c) != std::string_view::npos; }
// Where a run of plain characters inside quotes ends: the quote, a line
// end, or a byte above 127.
constexpr auto kTextStop = [] {
  std::array<bool, 256> table{};
  table['\''] = true;
  table['\r'] = true;
  table['\n'] = true;
  for (int c = 0x80; c < 256; ++c) table[static_cast<std::size_t>(c)] = true;
  return table;
}();
bool IsTextStop(char c) { return kTextStop[static_cast<unsigned char>(c)]; }
bool IsIdentStart(char c) { return CharClass(c) == kIdentStart; }
bool IsDigit(char c) { return CharClass(c) == kDigit; }
bool IsIdentChar(char c) { return (CharClass(c) & (kIdentStart | kDigit)) != 0; }
int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The end of the run of spaces from `pos`. Indentation is most of the
// blanks of a text: eight bytes at a time, the first one that is not a
// space found by its bit position.
std::size_t SkipSpaces(const char* p, std::size_t pos, std::size_t n) {
  if constexpr (std::endian::native == std::endian::little) {
    constexpr std::uint64_t kSpaces = 0x2020202020202020u;
    while (n - pos >= 8) {
      std::uint64_t word = 0;
      std::memcpy(&word, p + pos, 8);
      const std::uint64_t differs = word ^ kSpaces;
      if (differs != 0) return pos + static_cast<std::size_t>(std::countr_zero(differs)) / 8;
      pos += 8;
    }
  }
  while (pos < n && p[pos] == ' ') ++pos;
  return pos;
}

class Lexer {
 public:
  explicit Lexer(std::string_view text) : s_(text) {
    if (s_.substr(0, 3) == "\xEF\xBB\xBF") pos_ = 3;
    Scan(next_);
  }

  const Token& Peek() const { return next_; }

  // Consumes the token at Peek(). The next one is scanned into the same
  // token, so that its text keeps the memory it already has.
  void Skip() { Scan(next_); }

  // The first character of the token after Peek() when that character
  // alone says what the token is and scanning it cannot fail: the symbol
  // itself, or 'a' for an identifier. 0 otherwise; PeekSecond tells then.
  // Keywords are told from property names this way without scanning the
  // next token twice.
  char SecondStart() const {
    std::size_t pos = pos_;
    while (pos < s_.size() && (CharClass(s_[pos]) == kBlank || s_[pos] == '\r' || s_[pos] == '\n')) ++pos;
    if (pos >= s_.size()) return 0;
    const char c = s_[pos];
    if (IsIdentStart(c)) return 'a';
    if (IsSymbolChar(c)) return c;
    return 0;
  }

  // The token after Peek(), without consuming anything.
  Token PeekSecond() {
    const std::size_t pos = pos_;
    const int line = line_;
    Token t;
    Scan(t);
    pos_ = pos;
    line_ = line;
    return t;
  }

 private:
  void SkipBlanks() {
    const char* p = s_.data();
    const std::size_t n = s_.size();
    std::size_t pos = pos_;
    int line = line_;
    while (pos < n) {
      const char c = p[pos];
      if (c == ' ') {
        pos = SkipSpaces(p, pos + 1, n);
        continue;
      }
      if (c == '\n') {
        ++line;
      } else if (c == '\r') {
        if (pos + 1 >= n || p[pos + 1] != '\n') ++line;  // a lone CR ends a line too
      } else if (c != '\t') {
        break;
      }
      ++pos;
    }
    pos_ = pos;
    line_ = line;
  }

  void Scan(Token& t) {
    SkipBlanks();
    // Only what every token has is reset here; the fields of numbers and
    // texts are set by the scanner of their kind.
    t.kind = Tok::End;
    t.text = {};
    t.line = line_;
    if (pos_ >= s_.size()) return;
    const char c = s_[pos_];
    if (IsIdentStart(c)) {
      const std::size_t start = pos_;
      std::size_t pos = pos_ + 1;
      while (pos < s_.size() && IsIdentChar(s_[pos])) ++pos;
      pos_ = pos;
      t.kind = Tok::Ident;
      t.text = std::string_view(s_.data() + start, pos - start);
      return;
    }
    if (IsDigit(c)) return Number(t);
    if (c == '$') return Hex(t);
    if (c == '\'' || c == '#') return String(t);
    if (IsSymbolChar(c)) {
      ++pos_;
      t.kind = Tok::Symbol;
      t.text = std::string_view(s_.data() + pos_ - 1, 1);
      return;
    }
    SyntaxError(line_, "invalid character (code " + std::to_string(static_cast<unsigned char>(c)) + ")");
  }

  [[gnu::noinline]] void Number(Token& t) {
    t.magnitude = 0;
    t.number = 0;
    t.single = false;
    const std::size_t start = pos_;
    while (pos_ < s_.size() && IsDigit(s_[pos_])) ++pos_;
    bool isFloat = false;
    if (pos_ + 1 < s_.size() && s_[pos_] == '.' && IsDigit(s_[pos_ + 1])) {
      isFloat = true;
      ++pos_;
      while (pos_ < s_.size() && IsDigit(s_[pos_])) ++pos_;
    }
    if (pos_ < s_.size() && (s_[pos_] == 'e' || s_[pos_] == 'E')) {
      std::size_t p = pos_ + 1;
      if (p < s_.size() && (s_[p] == '+' || s_[p] == '-')) ++p;
      if (p < s_.size() && IsDigit(s_[p])) {
        isFloat = true;
        pos_ = p;
        while (pos_ < s_.size() && IsDigit(s_[pos_])) ++pos_;
      }
    }
    const std::string_view digits = s_.substr(start, pos_ - start);
    char suffix = 0;
    if (pos_ < s_.size() && std::string_view("sSdDcCfF").find(s_[pos_]) != std::string_view::npos &&
        (pos_ + 1 >= s_.size() || !IsIdentChar(s_[pos_ + 1]))) {
      suffix = static_cast<char>(s_[pos_] | 0x20);
      isFloat = true;
      ++pos_;
    }
    if (pos_ < s_.size() && IsIdentChar(s_[pos_])) SyntaxError(line_, "invalid number");
    t.text = digits;
    if (!isFloat) {
      t.kind = Tok::Integer;
      auto r = std::from_chars(digits.data(), digits.data() + digits.size(), t.magnitude);
      if (r.ec != std::errc()) SyntaxError(line_, "integer " + std::string(t.text) + " is too large");
      return;
    }
    t.kind = Tok::Float;
    t.single = suffix == 's';
    auto r = std::from_chars(digits.data(), digits.data() + digits.size(), t.number);
    if (r.ec == std::errc::result_out_of_range) {
      // Too small to represent is zero; too large is an error.
      const std::size_t e = digits.find_first_of("eE");
      if (e == std::string_view::npos || e + 1 >= digits.size() || digits[e + 1] != '-') {
        SyntaxError(line_, "number " + std::string(t.text) + " is out of range");
      }
      t.number = 0;
    } else if (r.ec != std::errc()) {
      SyntaxError(line_, "invalid number");
    }
    if (t.single && std::fabs(t.number) >= detail::kSingleOverflow) {
      SyntaxError(line_, "number " + std::string(t.text) + " is out of the single-precision range");
    }
  }

  [[gnu::noinline]] void Hex(Token& t) {
    t.magnitude = 0;
    ++pos_;
    const std::size_t start = pos_;
    while (pos_ < s_.size() && HexValue(s_[pos_]) >= 0) ++pos_;
    if (pos_ == start || (pos_ < s_.size() && IsIdentChar(s_[pos_]))) SyntaxError(line_, "invalid hexadecimal number");
    if (pos_ - start > 16) SyntaxError(line_, "hexadecimal number too large");
    for (std::size_t i = start; i < pos_; ++i) t.magnitude = (t.magnitude << 4) | static_cast<unsigned>(HexValue(s_[i]));
    t.kind = Tok::Integer;
    t.text = s_.substr(start - 1, pos_ - start + 1);  // with the '$'
  }

  // Quoted parts and #codes joined directly form one text.
  void String(Token& t) {
    t.kind = Tok::String;
    t.value.clear();
    t.plain = false;
    if (!PlainString(t)) DecodeString(t);
  }

  // Kept out of Scan, which runs for every token: inlined there, the rare
  // paths would make each call save and restore registers only they need.
  [[gnu::noinline]] void DecodeString(Token& t) {
    char32_t pendingHigh = 0;  // a high surrogate waiting for its low half
    auto flushHigh = [&] {
      if (pendingHigh != 0) detail::AppendUtf8(t.value, pendingHigh);
      pendingHigh = 0;
    };
    while (pos_ < s_.size() && (s_[pos_] == '\'' || s_[pos_] == '#')) {
      if (s_[pos_] == '\'') {
        // The pending half goes out with the first character of the run:
        // an empty run ('') between the halves of a pair keeps them one.
        ++pos_;
        while (true) {
          if (pos_ >= s_.size() || s_[pos_] == '\r' || s_[pos_] == '\n') SyntaxError(line_, "unterminated string");
          if (s_[pos_] == '\'') {
            if (pos_ + 1 < s_.size() && s_[pos_ + 1] == '\'') {
              flushHigh();
              t.value += '\'';
              pos_ += 2;
              continue;
            }
            ++pos_;
            break;
          }
          if (static_cast<unsigned char>(s_[pos_]) < 0x80) {
            // The run up to the next quote, line end or non-ASCII byte in
            // one piece.
            const std::size_t start = pos_;
            while (pos_ < s_.size()) {
              const auto c = static_cast<unsigned char>(s_[pos_]);
              if (c == '\'' || c == '\r' || c == '\n' || c >= 0x80) break;
              ++pos_;
            }
            flushHigh();
            t.value.append(s_.substr(start, pos_ - start));
            continue;
          }
          // Texts are UTF-8; anything else would not come back as it was.
          std::size_t next = pos_;
          const auto cp = detail::DecodeUtf8(s_, next);
          if (!cp || (*cp >= 0xD800 && *cp <= 0xDFFF)) SyntaxError(line_, "invalid UTF-8 in a text");
          flushHigh();
          t.value.append(s_.substr(pos_, next - pos_));
          pos_ = next;
        }
        continue;
      }
      ++pos_;  // '#'
      std::uint32_t code = 0;
      const bool hex = pos_ < s_.size() && s_[pos_] == '$';
      if (hex) ++pos_;
      const std::size_t start = pos_;
      while (pos_ < s_.size() && (hex ? HexValue(s_[pos_]) >= 0 : IsDigit(s_[pos_]))) {
        code = code * (hex ? 16 : 10) + static_cast<std::uint32_t>(hex ? HexValue(s_[pos_]) : s_[pos_] - '0');
        if (code > 0x10FFFF) SyntaxError(line_, "character code out of range");
        ++pos_;
      }
      if (pos_ == start) SyntaxError(line_, "character code expected after '#'");
      const auto cp = static_cast<char32_t>(code);
      if (cp >= 0xDC00 && cp <= 0xDFFF && pendingHigh != 0) {
        detail::AppendUtf8(t.value, 0x10000 + ((pendingHigh - 0xD800) << 10) + (cp - 0xDC00));
        pendingHigh = 0;
      } else {
        flushHigh();
        if (cp >= 0xD800 && cp <= 0xDBFF) {
          pendingHigh = cp;
        } else {
          detail::AppendUtf8(t.value, cp);
        }
      }
    }
    flushHigh();
  }

  // Nearly every text of a configuration is one quoted run of plain
  // characters; such a text is the slice between its quotes, not a copy.
  // Anything else (a doubled quote, a #code joined on, a byte above 127, a
  // line end or the end of the source) leaves it to the decoding above.
  bool PlainString(Token& t) {
    if (s_[pos_] != '\'') return false;
    std::size_t end = pos_ + 1;
    while (end < s_.size() && !IsTextStop(s_[end])) ++end;
    if (end >= s_.size() || s_[end] != '\'') return false;
    if (end + 1 < s_.size() && (s_[end + 1] == '\'' || s_[end + 1] == '#')) return false;
    t.text = std::string_view(s_.data() + pos_ + 1, end - pos_ - 1);
    t.plain = true;
    pos_ = end + 1;
    return true;
  }

  std::string_view s_;
  std::size_t pos_ = 0;
  int line_ = 1;
  Token next_;
};

std::string Describe(const Token& t) {
  switch (t.kind) {
    case Tok::End: return "end of text";
    case Tok::String: return "a text";
    case Tok::Integer:
    case Tok::Float: return "number " + std::string(t.text);
    default: return "'" + std::string(t.text) + "'";
  }
}

// The length first: most identifiers are no keyword, and that settles it
// without a call.
bool IsKeyword(const Token& t, std::string_view word) {
  return t.kind == Tok::Ident && t.text.size() == word.size() && SameText(t.text, word);
}
bool IsWord(std::string_view text, std::string_view word) { return text.size() == word.size() && SameText(text, word); }
bool IsSymbol(const Token& t, char c) { return t.kind == Tok::Symbol && t.text.size() == 1 && t.text[0] == c; }

std::uint32_t IndexOf(std::size_t size) {
  if (size >= kFormNone) throw EParserError("Syntax error: text too large");
  return static_cast<std::uint32_t>(size);
}

// Builds the flat form of a text. Names and texts stay slices of the source
// where the source spells them as they are; only the others are copied into
// the form.
class Parser {
 public:
  Parser(std::string_view text, TFlatForm& out) : lex_(text), out_(out) {}

  void Parse() {
    Object(0);
    if (lex_.Peek().kind != Tok::End) Unexpected("end of text");
  }

 private:
  [[noreturn]] void Unexpected(const std::string& expected) {
    SyntaxError(lex_.Peek().line, expected + " expected but " + Describe(lex_.Peek()) + " found");
  }

  void CheckDepth(int depth) {
    if (depth > kMaxFormDepth) SyntaxError(lex_.Peek().line, "nesting too deep");
  }

  std::string_view Ident(const char* what) {
    if (lex_.Peek().kind != Tok::Ident) Unexpected(what);
    const std::string_view name = lex_.Peek().text;
    lex_.Skip();
    return name;
  }

  void Expect(char symbol) {
    if (!IsSymbol(lex_.Peek(), symbol)) Unexpected(std::string("'") + symbol + "'");
    lex_.Skip();
  }

  // Whether the identifier at Peek() is the keyword `word` in its role, not
  // the start of a property of that name ("End = 3").
  bool AtKeyword(std::string_view word) {
    if (!IsKeyword(lex_.Peek(), word)) return false;
    if (const char start = lex_.SecondStart(); start != 0) return start != '=' && start != '.';
    const Token second = lex_.PeekSecond();
    return !IsSymbol(second, '=') && !IsSymbol(second, '.');
  }

  // The rest of a dotted name whose first part, already consumed, is
  // `first`: "A.B.C" as one name.
  std::string_view DottedFrom(std::string_view first, const char* afterDot) {
    if (!IsSymbol(lex_.Peek(), '.')) return first;
    scratch_.assign(first);
    const char* end = first.data() + first.size();
    while (IsSymbol(lex_.Peek(), '.')) {
      lex_.Skip();
      if (lex_.Peek().kind != Tok::Ident) Unexpected(afterDot);
      const std::string_view part = lex_.Peek().text;
      scratch_ += '.';
      scratch_ += part;
      end = part.data() + part.size();
      lex_.Skip();
    }
    // Written without blanks around the dots, the name stands in the
    // source as it is.
    if (static_cast<std::size_t>(end - first.data()) == scratch_.size()) return {first.data(), scratch_.size()};
    return out_.Keep(scratch_);
  }

  // The text at Peek() and any further ones joined with '+'.
  std::string_view Text() {
    const Token& t = lex_.Peek();
    if (t.plain) {
      const std::string_view text = t.text;  // a slice of the source: it stays
      lex_.Skip();
      if (!IsSymbol(lex_.Peek(), '+')) return text;
      scratch_.assign(text);
    } else {
      scratch_.assign(t.value);
      lex_.Skip();
    }
    while (IsSymbol(lex_.Peek(), '+')) {
      lex_.Skip();
      const Token& more = lex_.Peek();
      if (more.kind != Tok::String) Unexpected("a text after '+'");
      if (more.plain) {
        scratch_ += more.text;
      } else {
        AppendJoiningSurrogates(scratch_, more.value);
      }
      lex_.Skip();
    }
    return out_.Keep(scratch_);
  }

  // Writers that cut a long text by UTF-16 units may put the two halves of
  // a pair on two lines: a high surrogate ending one piece and a low one
  // starting the next are one character. Raw surrogates never pass the
  // reader, so these three-byte forms can only have come from #codes.
  static void AppendJoiningSurrogates(std::string& text, std::string_view more) {
    const auto surrogate = [](std::string_view s, std::size_t at, unsigned char low, unsigned char high) {
      return s.size() >= at + 3 && static_cast<unsigned char>(s[at]) == 0xED &&
             static_cast<unsigned char>(s[at + 1]) >= low && static_cast<unsigned char>(s[at + 1]) <= high;
    };
    if (text.size() >= 3 && surrogate(text, text.size() - 3, 0xA0, 0xAF) && surrogate(more, 0, 0xB0, 0xBF)) {
      // The ten bits a surrogate carries: the low four of its second byte
      // and the low six of its third.
      const auto bits = [](std::string_view s) {
        return static_cast<char32_t>(((static_cast<unsigned char>(s[1]) & 0x0F) << 6) |
                                     (static_cast<unsigned char>(s[2]) & 0x3F));
      };
      const char32_t high = bits(std::string_view(text).substr(text.size() - 3));
      const char32_t low = bits(more);
      text.resize(text.size() - 3);
      detail::AppendUtf8(text, 0x10000 + (high << 10) + low);
      more.remove_prefix(3);
    }
    text += more;
  }

  std::uint32_t Object(int depth) {
    CheckDepth(depth);
    TFormObjectFlag flag = TFormObjectFlag::Object;
    if (IsKeyword(lex_.Peek(), "object")) {
      flag = TFormObjectFlag::Object;
    } else if (IsKeyword(lex_.Peek(), "inherited")) {
      flag = TFormObjectFlag::Inherited;
    } else if (IsKeyword(lex_.Peek(), "inline")) {
      flag = TFormObjectFlag::Inline;
    } else {
      Unexpected("'object'");
    }
    lex_.Skip();
    const std::uint32_t index = IndexOf(out_.Objects.size());
    {
      TFlatObject& o = out_.Objects.emplace_back();
      o.Flag = flag;
      const std::string_view first = Ident("an object name or class name");
      if (IsSymbol(lex_.Peek(), ':')) {
        lex_.Skip();
        o.Name = first;
        o.ClassName = Ident("a class name");
      } else {
        o.ClassName = first;
      }
    }
    std::uint32_t lastProperty = kFormNone;
    std::uint32_t lastChild = kFormNone;
    while (true) {
      if (lex_.Peek().kind != Tok::Ident) Unexpected("a property, an object or 'end'");
      if (AtKeyword("end")) {
        lex_.Skip();
        break;
      }
      if (AtKeyword("object") || AtKeyword("inherited") || AtKeyword("inline")) {
        const std::uint32_t child = Object(depth + 1);
        AppendToChain(out_.Objects, out_.Objects[index].FirstChild, lastChild, child);
        continue;
      }
      const std::uint32_t property = Property(depth);
      AppendToChain(out_.Properties, out_.Objects[index].FirstProperty, lastProperty, property);
    }
    return index;
  }

  std::uint32_t Property(int depth) {
    if (lex_.Peek().kind != Tok::Ident) Unexpected("a property name");
    const std::string_view first = lex_.Peek().text;
    lex_.Skip();
    const std::string_view name = DottedFrom(first, "a property name after '.'");
    Expect('=');
    const TFlatValue value = Value(depth);
    const std::uint32_t index = IndexOf(out_.Properties.size());
    out_.Properties.push_back({name, value, kFormNone});
    return index;
  }

  TFlatValue Value(int depth) {
    const Token& t = lex_.Peek();
    TFlatValue v;
    if (IsSymbol(t, '-')) {
      lex_.Skip();
      return Negative();
    }
    switch (t.kind) {
      case Tok::Integer: {
        if (t.text[0] != '$' && t.magnitude > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
          SyntaxError(t.line, "integer " + std::string(t.text) + " is too large");
        }
        v.Kind = TFormValueKind::Integer;
        v.Int = static_cast<std::int64_t>(t.magnitude);
        lex_.Skip();
        return v;
      }
      case Tok::Float:
        v.Kind = t.single ? TFormValueKind::Single : TFormValueKind::Double;
        v.Float = t.single ? static_cast<double>(static_cast<float>(t.number)) : t.number;
        lex_.Skip();
        return v;
      case Tok::String:
        v.Kind = TFormValueKind::String;
        v.Text = Text();
        return v;
      case Tok::Ident: {
        const std::string_view first = t.text;
        lex_.Skip();
        if (IsWord(first, "NAN") && !IsSymbol(lex_.Peek(), '.')) {
          v.Kind = TFormValueKind::Double;
          v.Float = std::nan("");
          return v;
        }
        if (IsWord(first, "INF") && !IsSymbol(lex_.Peek(), '.')) {
          v.Kind = TFormValueKind::Double;
          v.Float = std::numeric_limits<double>::infinity();
          return v;
        }
        v.Kind = TFormValueKind::Ident;
        v.Text = DottedFrom(first, "an identifier after '.'");
        return v;
      }
      default:
        break;
    }
    if (IsSymbol(t, '[')) return Set();
    if (IsSymbol(t, '<')) return Collection(depth);
    if (IsSymbol(t, '(')) SyntaxError(t.line, "lists are not supported in this form");
    if (IsSymbol(t, '{')) SyntaxError(t.line, "binary data is not supported in this form");
    Unexpected("a value");
  }

  TFlatValue Negative() {
    const Token& t = lex_.Peek();
    TFlatValue v;
    if (t.kind == Tok::Integer) {
      if (t.magnitude > std::uint64_t{1} << 63) SyntaxError(t.line, "integer -" + std::string(t.text) + " is too small");
      v.Kind = TFormValueKind::Integer;
      v.Int = static_cast<std::int64_t>(~t.magnitude + 1);
      lex_.Skip();
      return v;
    }
    if (t.kind == Tok::Float) {
      v.Kind = t.single ? TFormValueKind::Single : TFormValueKind::Double;
      v.Float = t.single ? -static_cast<double>(static_cast<float>(t.number)) : -t.number;
      lex_.Skip();
      return v;
    }
    if (IsKeyword(t, "INF")) {
      lex_.Skip();
      v.Kind = TFormValueKind::Double;
      v.Float = -std::numeric_limits<double>::infinity();
      return v;
    }
    Unexpected("a number after '-'");
  }

  TFlatValue Set() {
    lex_.Skip();  // '['
    TFlatValue v;
    v.Kind = TFormValueKind::Set;
    v.First = IndexOf(out_.Elements.size());
    if (!IsSymbol(lex_.Peek(), ']')) {
      out_.Elements.push_back(Ident("a set element"));
      while (IsSymbol(lex_.Peek(), ',')) {
        lex_.Skip();
        out_.Elements.push_back(Ident("a set element"));
      }
    }
    Expect(']');
    v.Count = IndexOf(out_.Elements.size()) - v.First;
    return v;
  }

  TFlatValue Collection(int depth) {
    CheckDepth(depth + 1);
    lex_.Skip();  // '<'
    TFlatValue v;
    v.Kind = TFormValueKind::Collection;
    std::uint32_t lastItem = kFormNone;
    while (!IsSymbol(lex_.Peek(), '>')) {
      if (!IsKeyword(lex_.Peek(), "item")) Unexpected("'item' or '>'");
      lex_.Skip();
      const std::uint32_t item = IndexOf(out_.Items.size());
      out_.Items.emplace_back();
      std::uint32_t lastProperty = kFormNone;
      while (true) {
        if (lex_.Peek().kind != Tok::Ident) Unexpected("a property or 'end'");
        if (AtKeyword("end")) {
          lex_.Skip();
          break;
        }
        const std::uint32_t property = Property(depth + 1);
        AppendToChain(out_.Properties, out_.Items[item].FirstProperty, lastProperty, property);
      }
      AppendToChain(out_.Items, v.First, lastItem, item);
      ++v.Count;
    }
    lex_.Skip();  // '>'
    return v;
  }

  Lexer lex_;
  TFlatForm& out_;
  std::string scratch_;  // names and texts being joined
};

}  // namespace

std::string FormToText(const TFormObject& form) {
  std::string text;
  TFormTextWriter writer(text);
  SendForm(form, writer);
  return text;
}

TFlatForm ParseFlatFormText(std::string_view text) {
  TFlatForm form;
  // A property line takes some 30 bytes or more of text: room for the
  // lines of a large text at once instead of copying the records each time
  // the array doubles. Room never written costs no memory.
  form.Properties.reserve(text.size() / 32);
  Parser(text, form).Parse();
  return form;
}

TFormObject ParseFormText(std::string_view text) { return ParseFlatFormText(text).ToTree(); }

void ObjectBinaryToText(TStream& binary, TStream& text) {
  const TFormObject form = ReadForm(binary);
  text.WriteBuffer(FormToText(form));
}

void ObjectTextToBinary(TStream& text, TStream& binary) {
  const std::string source = text.ReadRemaining();
  const TFormObject form = ParseFormText(source);
  binary.WriteBuffer(EncodeForm(form));
}

}  // namespace xelo
