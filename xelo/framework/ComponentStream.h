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
#include <deque>
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

// --- Streaming ---------------------------------------------------------------------
//
// A form can also travel as a sequence of events, in the order its text
// lists them, without a tree in between: the component writer (Filer.h)
// produces them, the text writer (TextForm.h) and the tree builder below
// consume them. A large configuration is written this way without making a
// string and a vector for each of its hundreds of thousands of values.
//
// Order: BeginObject, the object's properties (each a Value, or
// BeginCollection, per item BeginItem, the item's properties, EndItem, then
// EndCollection), then its children (each BeginObject ... EndObject), then
// EndObject.

// A property name in two parts: the dotted path of the nested object it
// belongs to ("OPCGroupDefault.", or nothing) and its own name. The writer
// has both at hand; joining them would only be undone by writing them out.
struct TFormName {
  std::string_view Path;
  std::string_view Name;
  std::string Joined() const;
};

// A value other than a collection, as views into texts its producer keeps
// alive for the duration of the call.
struct TFormScalar {
  TFormValueKind Kind = TFormValueKind::Integer;
  std::int64_t Int = 0;
  double Float = 0;  // Single (held exactly) and Double
  std::string_view Text;  // String and Ident
  const std::string_view* Elements = nullptr;  // Set
  std::size_t ElementCount = 0;

  static TFormScalar Integer(std::int64_t v);
  static TFormScalar Single(float v);
  static TFormScalar Double(double v);
  static TFormScalar String(std::string_view v);
  static TFormScalar Ident(std::string_view v);
  static TFormScalar Set(const std::string_view* elements, std::size_t count);
};

class TFormSink {
 public:
  TFormSink() = default;
  virtual ~TFormSink() = default;
  TFormSink(const TFormSink&) = delete;
  TFormSink& operator=(const TFormSink&) = delete;

  virtual void BeginObject(TFormObjectFlag flag, std::string_view className, std::string_view name) = 0;
  virtual void EndObject() = 0;
  virtual void Value(const TFormName& name, const TFormScalar& value) = 0;
  virtual void BeginCollection(const TFormName& name) = 0;
  virtual void BeginItem() = 0;
  virtual void EndItem() = 0;
  virtual void EndCollection() = 0;
};

// Builds the tree of the events it receives (one object).
class TFormTreeBuilder final : public TFormSink {
 public:
  TFormTreeBuilder() = default;
  // The tree; complete once the root's EndObject has arrived.
  TFormObject& Result() { return root_; }

  void BeginObject(TFormObjectFlag flag, std::string_view className, std::string_view name) override;
  void EndObject() override;
  void Value(const TFormName& name, const TFormScalar& value) override;
  void BeginCollection(const TFormName& name) override;
  void BeginItem() override;
  void EndItem() override;
  void EndCollection() override;

 private:
  TFormObject root_;
  bool started_ = false;
  // Where properties go: the open object's or the open item's list.
  std::vector<std::vector<TFormProperty>*> properties_;
  std::vector<TFormObject*> objects_;
  std::vector<std::vector<TFormItem>*> collections_;
};

// Sends a tree to a sink as its events.
void SendForm(const TFormObject& form, TFormSink& sink);

// --- Flat form ---------------------------------------------------------------------
//
// A form laid out in a few arrays instead of a tree of owned texts: what the
// text reader makes of a configuration and what the component reader walks.
// Reading a large text so costs a handful of growing arrays rather than
// an allocation per value. Texts are views: into the text the form was
// parsed from (which must outlive the form), or into the form's own store
// for those that had to be decoded or joined. Lists are chained by index;
// kFormNone ends a chain.

inline constexpr std::uint32_t kFormNone = 0xFFFFFFFFu;

// Appends record `index` to the chain whose last link is `last` (kFormNone:
// the chain is empty and `first` starts it).
template <class Records>
void AppendToChain(Records& records, std::uint32_t& first, std::uint32_t& last, std::uint32_t index) {
  if (last == kFormNone) {
    first = index;
  } else {
    records[last].Next = index;
  }
  last = index;
}

struct TFlatValue {
  TFormValueKind Kind = TFormValueKind::Integer;
  std::int64_t Int = 0;
  double Float = 0;
  std::string_view Text;
  // Set: the elements are Elements[First, First + Count). Collection: First
  // is the first item, Count the number of items.
  std::uint32_t First = kFormNone;
  std::uint32_t Count = 0;
};

struct TFlatProperty {
  std::string_view Name;
  TFlatValue Value;
  std::uint32_t Next = kFormNone;
};

struct TFlatItem {
  std::uint32_t FirstProperty = kFormNone;
  std::uint32_t Next = kFormNone;
};

struct TFlatObject {
  TFormObjectFlag Flag = TFormObjectFlag::Object;
  std::string_view ClassName;
  std::string_view Name;
  std::uint32_t FirstProperty = kFormNone;
  std::uint32_t FirstChild = kFormNone;
  std::uint32_t Next = kFormNone;
};

class TFlatForm {
 public:
  TFlatForm() = default;
  TFlatForm(TFlatForm&&) = default;
  TFlatForm& operator=(TFlatForm&&) = default;

  std::vector<TFlatObject> Objects;  // [0] is the root
  std::vector<TFlatProperty> Properties;
  std::vector<TFlatItem> Items;
  std::vector<std::string_view> Elements;

  // Keeps a text for the form's lifetime and returns a view of it.
  std::string_view Keep(std::string_view text);

  // The tree of the same form (texts copied).
  TFormObject ToTree() const;

 private:
  // A deque: its elements stay where they are as it grows, and so do the
  // characters of short texts held inside them.
  std::deque<std::string> store_;
};

// The flat form of a tree; its texts are views into `form`.
TFlatForm FlattenForm(const TFormObject& form);

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
