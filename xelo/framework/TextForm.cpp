#include "xelo/framework/TextForm.h"

#include "xelo/framework/Exceptions.h"
#include "xelo/framework/Streams.h"
#include "xelo/framework/SysUtils.h"
#include "xelo/framework/TypInfo.h"

#include <algorithm>
#include <array>
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
// the quote.
bool IsPlainAscii(unsigned char c) { return c >= 32 && c < 127 && c != '\''; }

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

// Roughly the size of the text of a tree (a little more for plain texts),
// so that the text of a large configuration is written into one buffer
// instead of being copied each time the buffer doubles.
class SizeEstimate {
 public:
  std::size_t total = 0;

  void Object(const TFormObject& o, std::size_t level) {
    total += 2 * (level * 2 + 8) + o.Name.size() + o.ClassName.size() + 12;
    Properties(o.Properties, level + 1);
    for (const TFormObject& child : o.Children) Object(child, level + 1);
  }

 private:
  void Properties(const std::vector<TFormProperty>& props, std::size_t level) {
    for (const TFormProperty& p : props) {
      total += level * 2 + p.Name.size() + 5;
      const TFormValue& v = p.Value;
      switch (v.Kind) {
        case TFormValueKind::String: total += v.Text.size() + v.Text.size() / 64 * (level * 2 + 6) + 2; break;
        case TFormValueKind::Ident: total += v.Text.size(); break;
        case TFormValueKind::Set:
          for (const std::string& e : v.Elements) total += e.size() + 2;
          break;
        case TFormValueKind::Collection:
          for (const TFormItem& item : v.Items) {
            total += 2 * (level * 2 + 8);
            Properties(item.Properties, level + 2);
          }
          break;
        default: total += 24; break;
      }
    }
  }
};

class TextWriter {
 public:
  std::string out;

  void Object(const TFormObject& o, int level) {
    Indent(level);
    switch (o.Flag) {
      case TFormObjectFlag::Inherited: out += "inherited "; break;
      case TFormObjectFlag::Inline: out += "inline "; break;
      default: out += "object "; break;
    }
    if (!o.Name.empty()) {
      out += o.Name;
      out += ": ";
    }
    out += o.ClassName;
    out += kLineEnd;
    for (const TFormProperty& p : o.Properties) Property(p, level + 1);
    for (const TFormObject& child : o.Children) Object(child, level + 1);
    Indent(level);
    out += "end";
    out += kLineEnd;
  }

 private:
  void Indent(int level) { out.append(static_cast<std::size_t>(level) * 2, ' '); }

  void Property(const TFormProperty& p, int level) {
    Indent(level);
    out += p.Name;
    out += " = ";
    Value(p.Value, level);
    out += kLineEnd;
  }

  void Value(const TFormValue& v, int level) {
    switch (v.Kind) {
      case TFormValueKind::Integer: out += std::to_string(v.Int); break;
      case TFormValueKind::Single: out += FormatSingle(static_cast<float>(v.Float)); break;
      case TFormValueKind::Double: out += FormatDouble(v.Float); break;
      case TFormValueKind::String: Text(v.Text, level); break;
      case TFormValueKind::Ident: out += v.Text; break;
      case TFormValueKind::Set:
        out += '[';
        for (std::size_t i = 0; i < v.Elements.size(); ++i) {
          if (i > 0) out += ", ";
          out += v.Elements[i];
        }
        out += ']';
        break;
      case TFormValueKind::Collection:
        out += '<';
        for (const TFormItem& item : v.Items) {
          out += kLineEnd;
          Indent(level + 1);
          out += "item";
          out += kLineEnd;
          for (const TFormProperty& p : item.Properties) Property(p, level + 2);
          Indent(level + 1);
          out += "end";
        }
        out += '>';
        break;
    }
  }

  void Text(const std::string& s, int level) {
    // Most texts (identifiers, names) are short and plain: one quoted run,
    // without looking at single characters.
    if (s.size() <= kPieceLength &&
        std::all_of(s.begin(), s.end(), [](char c) { return IsPlainAscii(static_cast<unsigned char>(c)); })) {
      if (s.empty()) {
        out += "''";
        return;
      }
      out += '\'';
      out += s;
      out += '\'';
      return;
    }
    const std::vector<TextUnit> units = SplitUnits(s);
    if (units.size() <= kPieceLength) {
      Quoted(s, units, 0, units.size());
      return;
    }
    for (std::size_t first = 0; first < units.size(); first += kPieceLength) {
      out += kLineEnd;
      Indent(level + 1);
      Quoted(s, units, first, std::min(units.size(), first + kPieceLength));
      if (first + kPieceLength < units.size()) out += " +";
    }
  }

  void Quoted(const std::string& s, const std::vector<TextUnit>& units, std::size_t first, std::size_t last) {
    if (first == last) {
      out += "''";
      return;
    }
    std::size_t i = first;
    while (i < last) {
      const TextUnit& u = units[i];
      if (u.escape || u.code < 32 || u.code == '\'') {
        out += '#';
        out += std::to_string(static_cast<std::uint32_t>(u.code));
        ++i;
        continue;
      }
      // A run of characters written as they are goes out in one piece.
      std::size_t end = i + 1;
      while (end < last && !units[end].escape && units[end].code >= 32 && units[end].code != '\'') ++end;
      out += '\'';
      out.append(s, u.start, units[end - 1].start + units[end - 1].length - u.start);
      out += '\'';
      i = end;
    }
  }
};

// --- Reading -----------------------------------------------------------------------------

enum class Tok { End, Ident, Integer, Float, String, Symbol };

struct Token {
  Tok kind = Tok::End;
  std::string_view text;   // identifier, symbol, number text: a slice of the source
  std::string value;       // String: the decoded text
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
bool IsIdentStart(char c) { return CharClass(c) == kIdentStart; }
bool IsDigit(char c) { return CharClass(c) == kDigit; }
bool IsIdentChar(char c) { return (CharClass(c) & (kIdentStart | kDigit)) != 0; }
int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
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

  Token Take() {
    Token t = std::move(next_);
    Scan(next_);
    return t;
  }

  // Consumes the text token at Peek() and hands over its value.
  std::string TakeString() {
    std::string value = std::move(next_.value);
    Scan(next_);
    return value;
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
    for (; pos < n; ++pos) {
      // Indentation is most of the blanks: take it eight at a time.
      while (n - pos >= 8 && std::memcmp(p + pos, "        ", 8) == 0) pos += 8;
      if (pos >= n) break;
      const char c = p[pos];
      if (CharClass(c) == kBlank) continue;
      if (c == '\n') {
        ++line;
      } else if (c == '\r') {
        if (pos + 1 >= n || p[pos + 1] != '\n') ++line;  // a lone CR ends a line too
      } else {
        break;
      }
    }
    pos_ = pos;
    line_ = line;
  }

  void Scan(Token& t) {
    SkipBlanks();
    t.kind = Tok::End;
    t.text = {};
    t.value.clear();
    t.magnitude = 0;
    t.number = 0;
    t.single = false;
    t.line = line_;
    if (pos_ >= s_.size()) return;
    const char c = s_[pos_];
    if (IsIdentStart(c)) {
      const std::size_t start = pos_;
      std::size_t pos = pos_ + 1;
      while (pos < s_.size() && IsIdentChar(s_[pos])) ++pos;
      pos_ = pos;
      t.kind = Tok::Ident;
      t.text = s_.substr(start, pos - start);
      return;
    }
    if (IsDigit(c)) return Number(t);
    if (c == '$') return Hex(t);
    if (c == '\'' || c == '#') return String(t);
    if (std::string_view("=:<>[],.+-(){}").find(c) != std::string_view::npos) {
      ++pos_;
      t.kind = Tok::Symbol;
      t.text = s_.substr(pos_ - 1, 1);
      return;
    }
    SyntaxError(line_, "invalid character (code " + std::to_string(static_cast<unsigned char>(c)) + ")");
  }

  void Number(Token& t) {
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

  void Hex(Token& t) {
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
    char32_t pendingHigh = 0;  // a high surrogate waiting for its low half
    auto flushHigh = [&] {
      if (pendingHigh != 0) detail::AppendUtf8(t.value, pendingHigh);
      pendingHigh = 0;
    };
    while (pos_ < s_.size() && (s_[pos_] == '\'' || s_[pos_] == '#')) {
      if (s_[pos_] == '\'') {
        flushHigh();
        ++pos_;
        while (true) {
          if (pos_ >= s_.size() || s_[pos_] == '\r' || s_[pos_] == '\n') SyntaxError(line_, "unterminated string");
          if (s_[pos_] == '\'') {
            if (pos_ + 1 < s_.size() && s_[pos_ + 1] == '\'') {
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
            t.value.append(s_.substr(start, pos_ - start));
            continue;
          }
          // Texts are UTF-8; anything else would not come back as it was.
          std::size_t next = pos_;
          const auto cp = detail::DecodeUtf8(s_, next);
          if (!cp || (*cp >= 0xD800 && *cp <= 0xDFFF)) SyntaxError(line_, "invalid UTF-8 in a text");
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

bool IsKeyword(const Token& t, std::string_view word) { return t.kind == Tok::Ident && SameText(t.text, word); }
bool IsSymbol(const Token& t, char c) { return t.kind == Tok::Symbol && t.text.size() == 1 && t.text[0] == c; }

class Parser {
 public:
  explicit Parser(std::string_view text) : lex_(text) {}

  TFormObject Parse() {
    TFormObject o = Object(0);
    if (lex_.Peek().kind != Tok::End) Unexpected("end of text");
    return o;
  }

 private:
  [[noreturn]] void Unexpected(const std::string& expected) {
    SyntaxError(lex_.Peek().line, expected + " expected but " + Describe(lex_.Peek()) + " found");
  }

  void CheckDepth(int depth) {
    if (depth > kMaxFormDepth) SyntaxError(lex_.Peek().line, "nesting too deep");
  }

  std::string Ident(const char* what) {
    if (lex_.Peek().kind != Tok::Ident) Unexpected(what);
    std::string name(lex_.Peek().text);
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
    const Token second = lex_.PeekSecond();
    return !IsSymbol(second, '=') && !IsSymbol(second, '.');
  }

  TFormObject Object(int depth) {
    CheckDepth(depth);
    TFormObject o;
    if (IsKeyword(lex_.Peek(), "object")) {
      o.Flag = TFormObjectFlag::Object;
    } else if (IsKeyword(lex_.Peek(), "inherited")) {
      o.Flag = TFormObjectFlag::Inherited;
    } else if (IsKeyword(lex_.Peek(), "inline")) {
      o.Flag = TFormObjectFlag::Inline;
    } else {
      Unexpected("'object'");
    }
    lex_.Skip();
    std::string first = Ident("an object name or class name");
    if (IsSymbol(lex_.Peek(), ':')) {
      lex_.Skip();
      o.Name = std::move(first);
      o.ClassName = Ident("a class name");
    } else {
      o.ClassName = std::move(first);
    }
    while (true) {
      if (lex_.Peek().kind != Tok::Ident) Unexpected("a property, an object or 'end'");
      if (AtKeyword("end")) {
        lex_.Skip();
        break;
      }
      if (AtKeyword("object") || AtKeyword("inherited") || AtKeyword("inline")) {
        o.Children.push_back(Object(depth + 1));
        continue;
      }
      Property(depth, o.Properties.emplace_back());
    }
    return o;
  }

  // Fills a property in place: the tree of a large text holds millions of
  // values, and moving each one into its place costs more than reading it.
  void Property(int depth, TFormProperty& p) {
    if (lex_.Peek().kind != Tok::Ident) Unexpected("a property name");
    p.Name.assign(lex_.Peek().text);
    lex_.Skip();
    while (IsSymbol(lex_.Peek(), '.')) {
      lex_.Skip();
      if (lex_.Peek().kind != Tok::Ident) Unexpected("a property name after '.'");
      p.Name += '.';
      p.Name += lex_.Peek().text;
      lex_.Skip();
    }
    Expect('=');
    if (lex_.Peek().kind == Tok::String) {
      p.Value.Kind = TFormValueKind::String;
      p.Value.Text = lex_.TakeString();
      while (IsSymbol(lex_.Peek(), '+')) {
        lex_.Skip();
        if (lex_.Peek().kind != Tok::String) Unexpected("a text after '+'");
        p.Value.Text += lex_.Peek().value;
        lex_.Skip();
      }
      return;
    }
    if (lex_.Peek().kind == Tok::Ident && !SameText(lex_.Peek().text, "NAN") && !SameText(lex_.Peek().text, "INF")) {
      p.Value.Kind = TFormValueKind::Ident;
      p.Value.Text.assign(lex_.Peek().text);
      lex_.Skip();
      while (IsSymbol(lex_.Peek(), '.')) {
        lex_.Skip();
        if (lex_.Peek().kind != Tok::Ident) Unexpected("an identifier after '.'");
        p.Value.Text += '.';
        p.Value.Text += lex_.Peek().text;
        lex_.Skip();
      }
      return;
    }
    p.Value = Value(depth);
  }

  TFormValue Value(int depth) {
    const Token& t = lex_.Peek();
    if (IsSymbol(t, '-')) {
      lex_.Skip();
      return Negative();
    }
    switch (t.kind) {
      case Tok::Integer: {
        const Token n = lex_.Take();
        if (n.text[0] == '$') return TFormValue::Integer(static_cast<std::int64_t>(n.magnitude));
        if (n.magnitude > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
          SyntaxError(n.line, "integer " + std::string(n.text) + " is too large");
        }
        return TFormValue::Integer(static_cast<std::int64_t>(n.magnitude));
      }
      case Tok::Float: {
        const Token n = lex_.Take();
        return n.single ? TFormValue::Single(static_cast<float>(n.number)) : TFormValue::Double(n.number);
      }
      case Tok::String: {
        std::string text = lex_.TakeString();
        while (IsSymbol(lex_.Peek(), '+')) {
          lex_.Skip();
          if (lex_.Peek().kind != Tok::String) Unexpected("a text after '+'");
          text += lex_.TakeString();
        }
        return TFormValue::String(std::move(text));
      }
      case Tok::Ident: {
        std::string name(lex_.Peek().text);
        lex_.Skip();
        if (SameText(name, "NAN") && !IsSymbol(lex_.Peek(), '.')) return TFormValue::Double(std::nan(""));
        if (SameText(name, "INF") && !IsSymbol(lex_.Peek(), '.')) {
          return TFormValue::Double(std::numeric_limits<double>::infinity());
        }
        while (IsSymbol(lex_.Peek(), '.')) {
          lex_.Skip();
          name += '.';
          name += Ident("an identifier after '.'");
        }
        return TFormValue::Ident(std::move(name));
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

  TFormValue Negative() {
    const Token& t = lex_.Peek();
    if (t.kind == Tok::Integer) {
      const Token n = lex_.Take();
      if (n.magnitude > std::uint64_t{1} << 63) SyntaxError(n.line, "integer -" + std::string(n.text) + " is too small");
      return TFormValue::Integer(static_cast<std::int64_t>(~n.magnitude + 1));
    }
    if (t.kind == Tok::Float) {
      const Token n = lex_.Take();
      return n.single ? TFormValue::Single(-static_cast<float>(n.number)) : TFormValue::Double(-n.number);
    }
    if (IsKeyword(t, "INF")) {
      lex_.Skip();
      return TFormValue::Double(-std::numeric_limits<double>::infinity());
    }
    Unexpected("a number after '-'");
  }

  TFormValue Set() {
    lex_.Skip();  // '['
    std::vector<std::string> elements;
    if (!IsSymbol(lex_.Peek(), ']')) {
      elements.push_back(Ident("a set element"));
      while (IsSymbol(lex_.Peek(), ',')) {
        lex_.Skip();
        elements.push_back(Ident("a set element"));
      }
    }
    Expect(']');
    return TFormValue::Set(std::move(elements));
  }

  TFormValue Collection(int depth) {
    CheckDepth(depth + 1);
    lex_.Skip();  // '<'
    std::vector<TFormItem> items;
    std::size_t mostProperties = 0;
    while (!IsSymbol(lex_.Peek(), '>')) {
      if (!IsKeyword(lex_.Peek(), "item")) Unexpected("'item' or '>'");
      lex_.Skip();
      TFormItem item;
      // The items of a collection are alike: room for as many properties
      // as the largest one before saves growing each item's list step by
      // step.
      item.Properties.reserve(mostProperties);
      while (true) {
        if (lex_.Peek().kind != Tok::Ident) Unexpected("a property or 'end'");
        if (AtKeyword("end")) {
          lex_.Skip();
          break;
        }
        Property(depth + 1, item.Properties.emplace_back());
      }
      mostProperties = std::max(mostProperties, item.Properties.size());
      items.push_back(std::move(item));
    }
    lex_.Skip();  // '>'
    return TFormValue::Collection(std::move(items));
  }

  Lexer lex_;
};

}  // namespace

std::string FormToText(const TFormObject& form) {
  SizeEstimate estimate;
  estimate.Object(form, 0);
  TextWriter w;
  w.out.reserve(estimate.total);
  w.Object(form, 0);
  return std::move(w.out);
}

TFormObject ParseFormText(std::string_view text) { return Parser(text).Parse(); }

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
