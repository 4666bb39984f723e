#include "xelo/framework/ComponentStream.h"

#include "xelo/framework/Exceptions.h"
#include "xelo/framework/Streams.h"
#include "xelo/framework/SysUtils.h"

#include <bit>
#include <cstring>

namespace xelo {

namespace {

constexpr char kSignature[4] = {'X', 'C', 'F', '\x1A'};
constexpr std::uint8_t kVersion = 1;
constexpr std::uint8_t kEnd = 0x00;
constexpr std::uint8_t kPropertyTag = 'P';
constexpr std::uint8_t kObjectTag = 'O';
constexpr std::uint8_t kItemTag = 'I';

// --- Encoding --------------------------------------------------------------------

class Encoder {
 public:
  std::string out;

  void Object(const TFormObject& o, int depth) {
    CheckDepth(depth);
    if (!IsValidIdent(o.ClassName)) Fail("'" + o.ClassName + "' is not a valid class name");
    if (!o.Name.empty() && !IsValidIdent(o.Name)) Fail("'" + o.Name + "' is not a valid object name");
    Byte(static_cast<std::uint8_t>(o.Flag));
    Str(o.ClassName);
    Str(o.Name);
    Properties(o.Properties, depth);
    for (const TFormObject& child : o.Children) {
      Byte(kObjectTag);
      Object(child, depth + 1);
    }
    Byte(kEnd);
  }

 private:
  [[noreturn]] static void Fail(const std::string& why) { throw EWriteError("Cannot write component stream: " + why); }

  static void CheckDepth(int depth) {
    if (depth > kMaxFormDepth) Fail("nesting too deep");
  }

  void Properties(const std::vector<TFormProperty>& props, int depth) {
    for (const TFormProperty& p : props) {
      if (!IsValidIdent(p.Name, true)) Fail("'" + p.Name + "' is not a valid property name");
      Byte(kPropertyTag);
      Str(p.Name);
      Value(p.Value, depth);
    }
    Byte(kEnd);
  }

  void Value(const TFormValue& v, int depth) {
    Byte(static_cast<std::uint8_t>(v.Kind));
    switch (v.Kind) {
      case TFormValueKind::Integer: {
        const auto u = static_cast<std::uint64_t>(v.Int);
        VarUInt((u << 1) ^ (v.Int < 0 ? ~std::uint64_t{0} : 0));
        break;
      }
      case TFormValueKind::Single: {
        const auto bits = std::bit_cast<std::uint32_t>(static_cast<float>(v.Float));
        for (int i = 0; i < 4; ++i) Byte(static_cast<std::uint8_t>(bits >> (8 * i)));
        break;
      }
      case TFormValueKind::Double: {
        const auto bits = std::bit_cast<std::uint64_t>(v.Float);
        for (int i = 0; i < 8; ++i) Byte(static_cast<std::uint8_t>(bits >> (8 * i)));
        break;
      }
      case TFormValueKind::String:
        Str(v.Text);
        break;
      case TFormValueKind::Ident:
        if (!IsValidIdent(v.Text, true)) Fail("'" + v.Text + "' is not a valid identifier");
        Str(v.Text);
        break;
      case TFormValueKind::Set:
        VarUInt(v.Elements.size());
        for (const std::string& e : v.Elements) {
          if (!IsValidIdent(e)) Fail("'" + e + "' is not a valid set element");
          Str(e);
        }
        break;
      case TFormValueKind::Collection:
        CheckDepth(depth + 1);
        for (const TFormItem& item : v.Items) {
          Byte(kItemTag);
          Properties(item.Properties, depth + 1);
        }
        Byte(kEnd);
        break;
      default:
        Fail("unknown value kind");
    }
  }

  void Byte(std::uint8_t b) { out.push_back(static_cast<char>(b)); }

  void VarUInt(std::uint64_t v) {
    while (v >= 0x80) {
      Byte(static_cast<std::uint8_t>(v | 0x80));
      v >>= 7;
    }
    Byte(static_cast<std::uint8_t>(v));
  }

  void Str(std::string_view s) {
    VarUInt(s.size());
    out.append(s);
  }
};

// --- Decoding ----------------------------------------------------------------------

class Decoder {
 public:
  explicit Decoder(std::string_view bytes) : in_(bytes) {}

  TFormObject Form() {
    if (in_.size() < 5 || std::memcmp(in_.data(), kSignature, 4) != 0) Fail("missing signature");
    pos_ = 4;
    const std::uint8_t version = Byte();
    if (version != kVersion) Fail("unsupported version " + std::to_string(version));
    const std::uint64_t length = VarUInt();
    if (length > in_.size() - pos_) Fail("truncated");
    const std::size_t end = pos_ + static_cast<std::size_t>(length);
    const std::string_view whole = in_;
    in_ = whole.substr(0, end);
    TFormObject o = Object(0);
    if (pos_ != end) Fail("the object does not fill its declared length");
    return o;
  }

  std::size_t Position() const { return pos_; }

 private:
  [[noreturn]] static void Fail(const std::string& why) { throw EReadError("Invalid component stream: " + why); }

  static void CheckDepth(int depth) {
    if (depth > kMaxFormDepth) Fail("nesting too deep");
  }

  TFormObject Object(int depth) {
    CheckDepth(depth);
    TFormObject o;
    const std::uint8_t flag = Byte();
    if (flag > 2) Fail("unknown object flag " + std::to_string(flag));
    o.Flag = static_cast<TFormObjectFlag>(flag);
    o.ClassName = Str();
    if (!IsValidIdent(o.ClassName)) Fail("invalid class name");
    o.Name = Str();
    if (!o.Name.empty() && !IsValidIdent(o.Name)) Fail("invalid object name");
    o.Properties = Properties(depth);
    while (true) {
      const std::uint8_t tag = Byte();
      if (tag == kEnd) break;
      if (tag != kObjectTag) Fail("unexpected tag " + std::to_string(tag) + " in the list of children");
      o.Children.push_back(Object(depth + 1));
    }
    return o;
  }

  std::vector<TFormProperty> Properties(int depth) {
    std::vector<TFormProperty> props;
    while (true) {
      const std::uint8_t tag = Byte();
      if (tag == kEnd) break;
      if (tag != kPropertyTag) Fail("unexpected tag " + std::to_string(tag) + " in a property list");
      TFormProperty p;
      p.Name = Str();
      if (!IsValidIdent(p.Name, true)) Fail("invalid property name");
      p.Value = Value(depth);
      props.push_back(std::move(p));
    }
    return props;
  }

  TFormValue Value(int depth) {
    TFormValue v;
    const std::uint8_t kind = Byte();
    switch (kind) {
      case 1: {
        const std::uint64_t z = VarUInt();
        v = TFormValue::Integer(static_cast<std::int64_t>((z >> 1) ^ (~(z & 1) + 1)));
        break;
      }
      case 2: {
        std::uint32_t bits = 0;
        for (int i = 0; i < 4; ++i) bits |= std::uint32_t{Byte()} << (8 * i);
        v = TFormValue::Single(std::bit_cast<float>(bits));
        break;
      }
      case 3: {
        std::uint64_t bits = 0;
        for (int i = 0; i < 8; ++i) bits |= std::uint64_t{Byte()} << (8 * i);
        v = TFormValue::Double(std::bit_cast<double>(bits));
        break;
      }
      case 4:
        v = TFormValue::String(Str());
        break;
      case 5:
        v = TFormValue::Ident(Str());
        if (!IsValidIdent(v.Text, true)) Fail("invalid identifier value");
        break;
      case 6: {
        const std::uint64_t count = VarUInt();
        if (count > in_.size() - pos_) Fail("truncated");  // each element takes at least one byte
        std::vector<std::string> elements;
        for (std::uint64_t i = 0; i < count; ++i) {
          elements.push_back(Str());
          if (!IsValidIdent(elements.back())) Fail("invalid set element");
        }
        v = TFormValue::Set(std::move(elements));
        break;
      }
      case 7: {
        CheckDepth(depth + 1);
        std::vector<TFormItem> items;
        while (true) {
          const std::uint8_t tag = Byte();
          if (tag == kEnd) break;
          if (tag != kItemTag) Fail("unexpected tag " + std::to_string(tag) + " in a collection");
          items.push_back(TFormItem{Properties(depth + 1)});
        }
        v = TFormValue::Collection(std::move(items));
        break;
      }
      default:
        Fail("unknown value kind " + std::to_string(kind));
    }
    return v;
  }

  std::uint8_t Byte() {
    if (pos_ >= in_.size()) Fail("truncated");
    return static_cast<std::uint8_t>(in_[pos_++]);
  }

  std::uint64_t VarUInt() {
    std::uint64_t v = 0;
    for (int shift = 0; shift < 64; shift += 7) {
      const std::uint8_t b = Byte();
      if (shift == 63 && b > 1) Fail("integer too large");
      v |= std::uint64_t{b & 0x7Fu} << shift;
      if ((b & 0x80) == 0) return v;
    }
    Fail("integer too long");
  }

  std::string Str() {
    const std::uint64_t length = VarUInt();
    if (length > in_.size() - pos_) Fail("truncated");
    std::string s(in_.substr(pos_, static_cast<std::size_t>(length)));
    pos_ += static_cast<std::size_t>(length);
    return s;
  }

  std::string_view in_;
  std::size_t pos_ = 0;
};

}  // namespace

// --- Values ----------------------------------------------------------------------

TFormValue TFormValue::Integer(std::int64_t v) {
  TFormValue r;
  r.Kind = TFormValueKind::Integer;
  r.Int = v;
  return r;
}

TFormValue TFormValue::Single(float v) {
  TFormValue r;
  r.Kind = TFormValueKind::Single;
  r.Float = static_cast<double>(v);
  return r;
}

TFormValue TFormValue::Double(double v) {
  TFormValue r;
  r.Kind = TFormValueKind::Double;
  r.Float = v;
  return r;
}

TFormValue TFormValue::String(std::string v) {
  TFormValue r;
  r.Kind = TFormValueKind::String;
  r.Text = std::move(v);
  return r;
}

TFormValue TFormValue::Ident(std::string v) {
  TFormValue r;
  r.Kind = TFormValueKind::Ident;
  r.Text = std::move(v);
  return r;
}

TFormValue TFormValue::Set(std::vector<std::string> elements) {
  TFormValue r;
  r.Kind = TFormValueKind::Set;
  r.Elements = std::move(elements);
  return r;
}

TFormValue TFormValue::Collection(std::vector<TFormItem> items) {
  TFormValue r;
  r.Kind = TFormValueKind::Collection;
  r.Items = std::move(items);
  return r;
}

bool operator==(const TFormValue& a, const TFormValue& b) {
  if (a.Kind != b.Kind) return false;
  switch (a.Kind) {
    case TFormValueKind::Integer: return a.Int == b.Int;
    // Bitwise, so that a NaN equals itself and -0 differs from 0.
    case TFormValueKind::Single:
    case TFormValueKind::Double: return std::bit_cast<std::uint64_t>(a.Float) == std::bit_cast<std::uint64_t>(b.Float);
    case TFormValueKind::String:
    case TFormValueKind::Ident: return a.Text == b.Text;
    case TFormValueKind::Set: return a.Elements == b.Elements;
    case TFormValueKind::Collection:
      if (a.Items.size() != b.Items.size()) return false;
      for (std::size_t i = 0; i < a.Items.size(); ++i) {
        if (!(a.Items[i].Properties == b.Items[i].Properties)) return false;
      }
      return true;
  }
  return false;
}

// --- Streaming ---------------------------------------------------------------------

std::string TFormName::Joined() const {
  std::string joined;
  joined.reserve(Path.size() + Name.size());
  joined.append(Path);
  joined.append(Name);
  return joined;
}

TFormScalar TFormScalar::Integer(std::int64_t v) {
  TFormScalar r;
  r.Kind = TFormValueKind::Integer;
  r.Int = v;
  return r;
}

TFormScalar TFormScalar::Single(float v) {
  TFormScalar r;
  r.Kind = TFormValueKind::Single;
  r.Float = static_cast<double>(v);
  return r;
}

TFormScalar TFormScalar::Double(double v) {
  TFormScalar r;
  r.Kind = TFormValueKind::Double;
  r.Float = v;
  return r;
}

TFormScalar TFormScalar::String(std::string_view v) {
  TFormScalar r;
  r.Kind = TFormValueKind::String;
  r.Text = v;
  return r;
}

TFormScalar TFormScalar::Ident(std::string_view v) {
  TFormScalar r;
  r.Kind = TFormValueKind::Ident;
  r.Text = v;
  return r;
}

TFormScalar TFormScalar::Set(const std::string_view* elements, std::size_t count) {
  TFormScalar r;
  r.Kind = TFormValueKind::Set;
  r.Elements = elements;
  r.ElementCount = count;
  return r;
}

void TFormTreeBuilder::BeginObject(TFormObjectFlag flag, std::string_view className, std::string_view name) {
  TFormObject* o = &root_;
  if (started_) {
    o = &objects_.back()->Children.emplace_back();
  }
  started_ = true;
  o->Flag = flag;
  o->ClassName.assign(className);
  o->Name.assign(name);
  objects_.push_back(o);
  properties_.push_back(&o->Properties);
}

void TFormTreeBuilder::EndObject() {
  objects_.pop_back();
  properties_.pop_back();
}

void TFormTreeBuilder::Value(const TFormName& name, const TFormScalar& value) {
  TFormProperty& p = properties_.back()->emplace_back();
  p.Name = name.Joined();
  TFormValue& v = p.Value;
  v.Kind = value.Kind;
  switch (value.Kind) {
    case TFormValueKind::Integer: v.Int = value.Int; break;
    case TFormValueKind::Single:
    case TFormValueKind::Double: v.Float = value.Float; break;
    case TFormValueKind::String:
    case TFormValueKind::Ident: v.Text.assign(value.Text); break;
    case TFormValueKind::Set: v.Elements.assign(value.Elements, value.Elements + value.ElementCount); break;
    case TFormValueKind::Collection: break;
  }
}

void TFormTreeBuilder::BeginCollection(const TFormName& name) {
  TFormProperty& p = properties_.back()->emplace_back();
  p.Name = name.Joined();
  p.Value.Kind = TFormValueKind::Collection;
  collections_.push_back(&p.Value.Items);
}

void TFormTreeBuilder::BeginItem() { properties_.push_back(&collections_.back()->emplace_back().Properties); }

void TFormTreeBuilder::EndItem() { properties_.pop_back(); }

void TFormTreeBuilder::EndCollection() { collections_.pop_back(); }

namespace {

void SendProperties(const std::vector<TFormProperty>& props, TFormSink& sink) {
  std::vector<std::string_view> elements;
  for (const TFormProperty& p : props) {
    const TFormName name{{}, p.Name};
    const TFormValue& v = p.Value;
    switch (v.Kind) {
      case TFormValueKind::Integer: sink.Value(name, TFormScalar::Integer(v.Int)); break;
      case TFormValueKind::Single: sink.Value(name, TFormScalar::Single(static_cast<float>(v.Float))); break;
      case TFormValueKind::Double: sink.Value(name, TFormScalar::Double(v.Float)); break;
      case TFormValueKind::String: sink.Value(name, TFormScalar::String(v.Text)); break;
      case TFormValueKind::Ident: sink.Value(name, TFormScalar::Ident(v.Text)); break;
      case TFormValueKind::Set:
        elements.assign(v.Elements.begin(), v.Elements.end());
        sink.Value(name, TFormScalar::Set(elements.data(), elements.size()));
        break;
      case TFormValueKind::Collection:
        sink.BeginCollection(name);
        for (const TFormItem& item : v.Items) {
          sink.BeginItem();
          SendProperties(item.Properties, sink);
          sink.EndItem();
        }
        sink.EndCollection();
        break;
    }
  }
}

class Flattener {
 public:
  TFlatForm out;

  std::uint32_t Object(const TFormObject& o) {
    const auto index = static_cast<std::uint32_t>(out.Objects.size());
    TFlatObject& flat = out.Objects.emplace_back();
    flat.Flag = o.Flag;
    flat.ClassName = o.ClassName;
    flat.Name = o.Name;
    out.Objects[index].FirstProperty = Properties(o.Properties);
    std::uint32_t last = kFormNone;
    for (const TFormObject& child : o.Children) {
      const std::uint32_t c = Object(child);
      AppendToChain(out.Objects, out.Objects[index].FirstChild, last, c);
    }
    return index;
  }

 private:
  std::uint32_t Properties(const std::vector<TFormProperty>& props) {
    std::uint32_t first = kFormNone;
    std::uint32_t last = kFormNone;
    for (const TFormProperty& p : props) {
      const auto index = static_cast<std::uint32_t>(out.Properties.size());
      out.Properties.push_back({p.Name, {}, kFormNone});
      const TFlatValue v = Value(p.Value);
      out.Properties[index].Value = v;
      AppendToChain(out.Properties, first, last, index);
    }
    return first;
  }

  TFlatValue Value(const TFormValue& v) {
    TFlatValue flat;
    flat.Kind = v.Kind;
    switch (v.Kind) {
      case TFormValueKind::Integer: flat.Int = v.Int; break;
      case TFormValueKind::Single:
      case TFormValueKind::Double: flat.Float = v.Float; break;
      case TFormValueKind::String:
      case TFormValueKind::Ident: flat.Text = v.Text; break;
      case TFormValueKind::Set:
        flat.First = static_cast<std::uint32_t>(out.Elements.size());
        flat.Count = static_cast<std::uint32_t>(v.Elements.size());
        out.Elements.insert(out.Elements.end(), v.Elements.begin(), v.Elements.end());
        break;
      case TFormValueKind::Collection: {
        std::uint32_t last = kFormNone;
        flat.Count = static_cast<std::uint32_t>(v.Items.size());
        for (const TFormItem& item : v.Items) {
          const auto index = static_cast<std::uint32_t>(out.Items.size());
          out.Items.emplace_back();
          const std::uint32_t firstProperty = Properties(item.Properties);
          out.Items[index].FirstProperty = firstProperty;
          AppendToChain(out.Items, flat.First, last, index);
        }
        break;
      }
    }
    return flat;
  }
};

class Unflattener {
 public:
  explicit Unflattener(const TFlatForm& form) : form_(form) {}

  void Object(std::uint32_t index, TFormObject& o) const {
    const TFlatObject& flat = form_.Objects[index];
    o.Flag = flat.Flag;
    o.ClassName.assign(flat.ClassName);
    o.Name.assign(flat.Name);
    Properties(flat.FirstProperty, o.Properties);
    for (std::uint32_t c = flat.FirstChild; c != kFormNone; c = form_.Objects[c].Next) {
      Object(c, o.Children.emplace_back());
    }
  }

 private:
  void Properties(std::uint32_t first, std::vector<TFormProperty>& out) const {
    for (std::uint32_t i = first; i != kFormNone; i = form_.Properties[i].Next) {
      const TFlatProperty& flat = form_.Properties[i];
      TFormProperty& p = out.emplace_back();
      p.Name.assign(flat.Name);
      const TFlatValue& fv = flat.Value;
      TFormValue& v = p.Value;
      v.Kind = fv.Kind;
      switch (fv.Kind) {
        case TFormValueKind::Integer: v.Int = fv.Int; break;
        case TFormValueKind::Single:
        case TFormValueKind::Double: v.Float = fv.Float; break;
        case TFormValueKind::String:
        case TFormValueKind::Ident: v.Text.assign(fv.Text); break;
        case TFormValueKind::Set:
          v.Elements.reserve(fv.Count);
          for (std::uint32_t e = 0; e < fv.Count; ++e) v.Elements.emplace_back(form_.Elements[fv.First + e]);
          break;
        case TFormValueKind::Collection:
          v.Items.reserve(fv.Count);
          for (std::uint32_t item = fv.First; item != kFormNone; item = form_.Items[item].Next) {
            Properties(form_.Items[item].FirstProperty, v.Items.emplace_back().Properties);
          }
          break;
      }
    }
  }

  const TFlatForm& form_;
};

}  // namespace

void SendForm(const TFormObject& form, TFormSink& sink) {
  sink.BeginObject(form.Flag, form.ClassName, form.Name);
  SendProperties(form.Properties, sink);
  for (const TFormObject& child : form.Children) SendForm(child, sink);
  sink.EndObject();
}

// --- Flat form ---------------------------------------------------------------------

std::string_view TFlatForm::Keep(std::string_view text) { return store_.emplace_back(text); }

TFormObject TFlatForm::ToTree() const {
  TFormObject root;
  if (!Objects.empty()) Unflattener(*this).Object(0, root);
  return root;
}

TFlatForm FlattenForm(const TFormObject& form) {
  Flattener f;
  f.Object(form);
  return std::move(f.out);
}

// --- Binary form -------------------------------------------------------------------

std::string EncodeForm(const TFormObject& form) {
  Encoder body;
  body.Object(form, 0);
  std::string out(kSignature, 4);
  out.push_back(static_cast<char>(kVersion));
  std::uint64_t length = body.out.size();
  while (length >= 0x80) {
    out.push_back(static_cast<char>(static_cast<std::uint8_t>(length | 0x80)));
    length >>= 7;
  }
  out.push_back(static_cast<char>(length));
  out += body.out;
  return out;
}

TFormObject DecodeForm(std::string_view bytes, std::size_t* consumed) {
  Decoder d(bytes);
  TFormObject o = d.Form();
  if (consumed != nullptr) *consumed = d.Position();
  return o;
}

void WriteForm(TStream& stream, const TFormObject& form) { stream.WriteBuffer(EncodeForm(form)); }

TFormObject ReadForm(TStream& stream) {
  // Signature, version and the length prefix first, so that only the bytes
  // of this form are taken from the stream.
  std::string head(5, '\0');
  if (stream.Read(head.data(), 5) != 5 || std::memcmp(head.data(), kSignature, 4) != 0) {
    throw EReadError("Invalid component stream: missing signature");
  }
  std::uint64_t length = 0;
  for (int shift = 0;; shift += 7) {
    char c = 0;
    if (shift > 63 || stream.Read(&c, 1) != 1) throw EReadError("Invalid component stream: truncated");
    head.push_back(c);
    const auto b = static_cast<std::uint8_t>(c);
    length |= std::uint64_t{b & 0x7Fu} << shift;
    if ((b & 0x80) == 0) break;
  }
  const std::int64_t available = stream.GetSize() - stream.GetPosition();
  if (available < 0 || length > static_cast<std::uint64_t>(available)) {
    throw EReadError("Invalid component stream: truncated");
  }
  std::string bytes = std::move(head);
  const std::size_t headSize = bytes.size();
  bytes.resize(headSize + static_cast<std::size_t>(length));
  stream.ReadBuffer(bytes.data() + headSize, static_cast<std::int64_t>(length));
  return DecodeForm(bytes);
}

// --- UTF-8 -------------------------------------------------------------------------

namespace detail {

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

std::optional<char32_t> DecodeUtf8(std::string_view s, std::size_t& pos) {
  if (pos >= s.size()) return std::nullopt;
  const auto b0 = static_cast<std::uint8_t>(s[pos]);
  if (b0 < 0x80) {
    ++pos;
    return b0;
  }
  int extra = 0;
  char32_t cp = 0;
  char32_t minimum = 0;
  if ((b0 & 0xE0) == 0xC0) {
    extra = 1;
    cp = b0 & 0x1F;
    minimum = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    extra = 2;
    cp = b0 & 0x0F;
    minimum = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    extra = 3;
    cp = b0 & 0x07;
    minimum = 0x10000;
  } else {
    return std::nullopt;
  }
  if (s.size() - pos <= static_cast<std::size_t>(extra)) return std::nullopt;
  for (int i = 1; i <= extra; ++i) {
    const auto b = static_cast<std::uint8_t>(s[pos + static_cast<std::size_t>(i)]);
    if ((b & 0xC0) != 0x80) return std::nullopt;
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < minimum || cp > 0x10FFFF) return std::nullopt;  // overlong or beyond Unicode
  pos += static_cast<std::size_t>(extra) + 1;
  return cp;
}

}  // namespace detail

}  // namespace xelo
