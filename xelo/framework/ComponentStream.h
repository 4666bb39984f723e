// The component stream: a component's stored data as a tree of values
// (TFormObject), and its binary form.
//
// The tree is what the writer makes of a component (Filer.h), what the
// reader applies to one, and what the binary and the text form (TextForm.h)
// encode. It knows nothing of classes: property names are texts (dotted for
// the properties of nested objects, "OPCGroupDefault.UpdateRate"), values
// are self-describing, so that the binary and the text form convert into
// each other without any metadata.
//
// Binary form, version 1 (all integers little-endian):
//
//   Form        := Signature Version PayloadLength Object
//   Signature   := 'X' 'C' 'F' 0x1A
//   Version     := u8, 1
//   PayloadLength := VarUInt, the byte count of the Object that follows
//   Object      := Flags:u8 ClassName:Str ObjectName:Str Properties Children
//                  Flags: 0 = object, 1 = inherited, 2 = inline
//   Properties  := { 'P' Name:Str Value } 0x00
//   Children    := { 'O' Object } 0x00
//   Value       := 0x01 VarInt        integer (64-bit)
//                | 0x02 4 bytes       single (IEEE 754)
//                | 0x03 8 bytes       double (IEEE 754)
//                | 0x04 Str           text (UTF-8)
//                | 0x05 Str           identifier (enumeration value, Boolean,
//                                     component reference; may be dotted)
//                | 0x06 Count:VarUInt { Str }   set (element identifiers)
//                | 0x07 { 'I' Properties } 0x00 collection (items)
//   Str         := Length:VarUInt bytes
//   VarUInt     := unsigned LEB128, at most 10 bytes; VarInt := zig-zag VarUInt
//
// Every length and count is checked against the bytes that remain, names
// must be identifiers (class and object names plain, property names and
// identifier values possibly dotted), nesting is limited to kMaxFormDepth
// levels of objects and collections, and the object must end exactly at the
// end of the payload. Anything else raises EReadError "Invalid component
// stream: <reason>". A component stream is decoded completely before a
// reader uses any of it.
//
// Thread: free functions without shared state.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace xelo {

class TStream;

inline constexpr int kMaxFormDepth = 200;

enum class TFormValueKind : std::uint8_t {
  Integer = 1,
  Single = 2,
  Double = 3,
  String = 4,
  Ident = 5,
  Set = 6,
  Collection = 7,
};

struct TFormProperty;

struct TFormItem {
  std::vector<TFormProperty> Properties;
};

struct TFormValue {
  TFormValueKind Kind = TFormValueKind::Integer;
  std::int64_t Int = 0;   // Integer
  double Float = 0;       // Single (held exactly) and Double
  std::string Text;       // String (UTF-8) and Ident
  std::vector<std::string> Elements;  // Set
  std::vector<TFormItem> Items;       // Collection

  static TFormValue Integer(std::int64_t v);
  static TFormValue Single(float v);
  static TFormValue Double(double v);
  static TFormValue String(std::string v);
  static TFormValue Ident(std::string v);
  static TFormValue Set(std::vector<std::string> elements);
  static TFormValue Collection(std::vector<TFormItem> items);

  friend bool operator==(const TFormValue&, const TFormValue&);
};

struct TFormProperty {
  std::string Name;
  TFormValue Value;
  friend bool operator==(const TFormProperty&, const TFormProperty&) = default;
};

enum class TFormObjectFlag : std::uint8_t { Object = 0, Inherited = 1, Inline = 2 };

struct TFormObject {
  TFormObjectFlag Flag = TFormObjectFlag::Object;
  std::string ClassName;
  std::string Name;  // may be empty
  std::vector<TFormProperty> Properties;
  std::vector<TFormObject> Children;
  friend bool operator==(const TFormObject&, const TFormObject&) = default;
};

// The binary form of `form`. EWriteError when the tree breaks the rules
// above (a name that is not an identifier, too deep a nesting).
std::string EncodeForm(const TFormObject& form);
// Decodes one form from `bytes`; `consumed` receives the bytes it took.
TFormObject DecodeForm(std::string_view bytes, std::size_t* consumed = nullptr);

// Writes the binary form at the stream's position.
void WriteForm(TStream& stream, const TFormObject& form);
// Reads one binary form from the stream's position; the position is then
// after it. EReadError when it is not a valid form.
TFormObject ReadForm(TStream& stream);

namespace detail {
// UTF-8 of a code point (surrogate code points encoded like any other, so
// that a lone UTF-16 unit survives a round trip).
void AppendUtf8(std::string& out, char32_t codePoint);
// Decodes the code point at `pos` and advances past it; nothing (and `pos`
// unchanged) when the bytes there are not such an encoding.
std::optional<char32_t> DecodeUtf8(std::string_view text, std::size_t& pos);
}  // namespace detail

}  // namespace xelo
