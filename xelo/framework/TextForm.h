// The text form of the component stream, and its conversion from and to the
// binary form (ComponentStream.h).
//
//   object OPCServer1: TXeloServer
//     BatchMode = False
//     OPCGroups = <
//       item
//         Name = 'Group1'
//         OPCItems = <>
//       end>
//     OPCGroupDefault.UpdateRate = 1000
//     object Child1: TChildClass
//       Tag = 3
//     end
//   end
//
// Writing:
//   - lines end with CR LF; each nesting level indents by two blanks;
//   - the header is `object Name: TClass` (`object TClass` without a name;
//     `inherited` / `inline` instead of `object` for such objects), closed
//     by `end` at the header's indentation; child objects follow the
//     properties, one level deeper;
//   - a property is `Name = value`;
//   - a collection is `Name = <`, then per item `item` one level deeper, its
//     properties one level deeper still and `end`, the closing `>` right
//     after the last item's `end` (`end>`); an empty one is `Name = <>`;
//   - integers in decimal; identifiers (enumeration values, Booleans,
//     component names) as they are; sets as `[]` or `[a, b]`;
//   - floats as the shortest decimal that reads back as the same value of
//     the written precision (single or double), always with a point:
//     `0.1`, `1000.0`, `2.5E-7`; non-finite values as NAN, INF, -INF;
//   - texts in single quotes; a quote and every character that is not
//     printable ASCII (below code 32, 127 and above) go outside the quotes
//     as `#` and the decimal code point, joined directly to the quoted parts
//     (`'It'#39's'`, `'Line1'#13#10'Line2'`, `#220'mlaut'`); a character
//     beyond U+FFFF as its UTF-16 surrogate pair (`#55357#56832`); bytes
//     that are not UTF-8 as `#` and the byte's value; the empty text is
//     `''`. The whole text is thus printable ASCII and line ends, which
//     other readers of this form take as it is meant whatever 8-bit code
//     page they assume for bytes inside quotes;
//   - a text of more than 64 characters starts on a new line one level
//     deeper (the property line then ends in `= `) and is cut into pieces
//     of at most 64 characters, each line but the last ending in ` +`.
// Reading accepts all of the above and also: LF line ends, a UTF-8 byte
// order mark, any blanks between tokens, keywords in any case, `''` inside
// quotes as a quote, `#nnn` and `#$hh` for any code point (a UTF-16
// surrogate pair given as two codes is joined, also when a `+` between two
// pieces of a text separates its halves), `$hex` integers, exponents
// and a trailing precision letter after a number (`1.5E3`, `0.1s` for
// single precision, `d`, `c`, `f` taken as double). Lists `( )` and binary
// data `{ }` are not part of this form. Inside quotes the text must be
// UTF-8 (a byte sequence that is not is a syntax error), as files written
// before texts went out as codes have it. A code is always a Unicode code
// point: #220 is U+00DC whether the text holds wider characters or not.
//
// Reading is all or nothing: the whole text is parsed before anything is
// produced. A text that does not parse raises EParserError
// "Syntax error on line N: <what was expected and found>".
// Thread: free functions without shared state.
#pragma once

#include "xelo/framework/ComponentStream.h"

#include <string>
#include <string_view>

namespace xelo {

class TStream;

// Appends the text of the form events it receives to a string, as they
// come: a component is written as text without a tree in between.
class TFormTextWriter final : public TFormSink {
 public:
  explicit TFormTextWriter(std::string& out) : out_(out) {}

  void BeginObject(TFormObjectFlag flag, std::string_view className, std::string_view name) override;
  void EndObject() override;
  void Value(const TFormName& name, const TFormScalar& value) override;
  void BeginCollection(const TFormName& name) override;
  void BeginItem() override;
  void EndItem() override;
  void EndCollection() override;

 private:
  void Indent(int level);
  void Head(const TFormName& name);
  // A whole property line whose value text is known: `value`, in quotes
  // when `quoted`.
  void Line(const TFormName& name, std::string_view value, bool quoted);
  void Text(std::string_view s);

  std::string& out_;
  int depth_ = 0;  // the indentation of the next property line, in levels
};

// The text form of a tree.
std::string FormToText(const TFormObject& form);
// Parses a whole text (one object, then nothing but blanks).
TFormObject ParseFormText(std::string_view text);
// The same, into the flat form, whose views point into `text`.
TFlatForm ParseFlatFormText(std::string_view text);

// Reads one binary form from `binary`'s position and writes its text at
// `text`'s position. EReadError for a corrupt binary form; nothing is
// written then.
void ObjectBinaryToText(TStream& binary, TStream& text);
// Reads the text from `text`'s position to its end and writes the binary
// form at `binary`'s position. EParserError for a text that does not parse;
// nothing is written then.
void ObjectTextToBinary(TStream& text, TStream& binary);

}  // namespace xelo
