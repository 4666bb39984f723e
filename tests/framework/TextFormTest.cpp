#include "StreamTestClasses.h"
#include "support/Expectations.h"

#include "xelo/framework/Filer.h"
#include "xelo/framework/Streams.h"
#include "xelo/framework/TextForm.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

namespace xelo::test {
namespace {

using xelo::testing::MessageOf;

// The text of a TTestComponent named Comp1 whose listed lines follow the
// header; used for one-property checks.
std::string SavedWith(const std::function<void(TTestComponent&)>& setUp) {
  TTestComponent c(nullptr);
  c.SetName("Comp1");
  setUp(c);
  return SaveToText(c);
}

// The line of property `name` in `text` (without the line end), or "".
std::string LineOf(const std::string& text, const std::string& name) {
  const std::string key = "  " + name + " = ";
  const std::size_t at = text.find("\r\n" + key);
  if (at == std::string::npos) return {};
  const std::size_t end = text.find("\r\n", at + 2);
  return text.substr(at + 2, end - at - 2);
}

void BuildRich(TTestComponent& main) {
  main.SetName("Main");
  main.SetTag(7);
  main.SetCount(-3);
  main.SetSmall(-32768);
  main.SetByte(200);
  main.SetFlag(true);
  main.SetColor(tcBlue);
  main.SetColors({tcRed, tcBlue});
  main.SetLetter('\t');
  main.SetWide(OLESTR('\u00E9'));
  main.SetRatio(0.1f);
  main.SetPrecise(-2.5);
  main.SetText("It's");
  main.SetBig(-9000000000);
  main.GetSettings()->SetRate(250);
  main.GetSettings()->SetEnabled(false);
  main.GetSettings()->SetCaption("Line1\r\nLine2");
  main.SetHidden(5);  // never stored
  main.SetMaybe(7);   // its stored predicate says no
  main.SetOnChange([](TComponent*) {});  // events are not written
  auto* child = new TTestChild(&main);  // owned by main
  child->SetName("Child1");
  child->SetCount(4);
  child->SetExtra(9);
  TTestEntry* first = main.GetEntries()->Add();
  first->SetText("first");
  first->SetValue(1);
  first->SetLink(child);
  main.GetEntries()->Add()->SetValue(-2);
  main.SetBuddy(child);
  main.SetData(Variant(42));
}

const std::string kRichText = Lines({
    "object Main: TTestComponent", "  Tag = 7", "  Count = -3", "  Small = -32768", "  Byte = 200", "  Flag = True",
    "  Color = tcBlue", "  Colors = [tcRed, tcBlue]", "  Letter = #9", "  Wide = #233", "  Ratio = 0.1",
    "  Precise = -2.5", "  Text = 'It'#39's'", "  Big = -9000000000", "  Settings.Rate = 250",
    "  Settings.Enabled = False", "  Settings.Caption = 'Line1'#13#10'Line2'", "  Entries = <", "    item",
    "      Text = 'first'", "      Value = 1", "      Link = Child1", "    end", "    item", "      Value = -2",
    "    end>", "  Buddy = Child1", "  Data = 42", "  object Child1: TTestChild", "    Count = 4", "    Byte = 0",
    "    Flag = False", "    Colors = []", "    Letter = 'A'", "    Wide = 'W'", "    Big = 0",
    "    Settings.Rate = 1000", "    Entries = <>", "    Maybe = 0", "    Extra = 9", "  end", "end",
});

// Child1 shows what a component with default values writes (no Name,
// Tag, Small, Color, Settings.Enabled, ReadOnlyCount, ...). The component
// written straight into text, without a tree on the way, gives the very text
// of the tree; the tree builder fed the same events gives the very tree.
TEST(TextFormWrite, EveryKindNestedObjectCollectionAndChildByteExactAlsoStraightIntoTextAndBack) {
  TTestComponent main(nullptr);
  BuildRich(main);
  EXPECT_EQ(SaveToText(main), kRichText);
  EXPECT_FALSE(main.GetComponentState().Contains(csWriting));
  std::string direct = "kept ";
  TFormTextWriter writer(direct);
  WriteComponentForm(main, writer);
  EXPECT_EQ(direct, "kept " + kRichText);  // appended, not replaced
  const TFormObject tree = ComponentToForm(main);
  EXPECT_EQ(FormToText(tree), kRichText);
  TFormTreeBuilder rebuilt;
  SendForm(tree, rebuilt);
  EXPECT_EQ(rebuilt.Result(), tree);

  // Read back: what the text does not show (unstored properties, where the
  // references point, the variant's type), then everything else.
  RegisterTestClasses();
  TTestComponent copy(nullptr);
  LoadFromText(copy, kRichText);
  EXPECT_EQ((std::vector<int>{copy.GetHidden(), copy.GetMaybe(), copy.GetComponentCount()}), (std::vector<int>{0, 0, 1}));
  auto* child = dynamic_cast<TTestChild*>(copy.GetComponent(0));
  ASSERT_NE(child, nullptr);
  EXPECT_EQ(copy.GetEntries()->GetItem(0)->GetLink(), child);
  EXPECT_EQ(copy.GetBuddy(), child);
  EXPECT_EQ(copy.GetData().VarType(), VT_I4);
  copy.SetMaybe(7);  // not stored: the copy kept its own value
  EXPECT_EQ(SaveToText(copy), kRichText);

  // A subcomponent is written as dotted lines.
  TTestHost host(nullptr);
  host.SetName("Host");
  host.GetInner()->SetTag(5);
  EXPECT_EQ(SaveToText(host), Lines({"object Host: TTestHost", "  Inner.Tag = 5", "end"}));
  TTestHost other(nullptr);
  LoadFromText(other, Lines({"object Host2: TTestHost", "  Inner.Tag = 8", "end"}));
  EXPECT_EQ(other.GetInner()->GetTag(), 8);
  EXPECT_EQ(other.GetComponentCount(), 1);  // no second Inner appeared
}

// Only printable ASCII stays inside quotes: everything else is a code
// point, a character beyond U+FFFF its UTF-16 surrogate pair.
TEST(TextFormStrings, QuotesControlCharactersAndUtf8) {
  struct Row {
    std::string value;
    std::string written;
  };
  const Row rows[] = {
      {"It's", "'It'#39's'"}, {"''", "#39#39"}, {"'a'", "#39'a'#39"}, {"Line1\r\nLine2", "'Line1'#13#10'Line2'"},
      {"a\tb", "'a'#9'b'"}, {std::string("x\0y", 3), "'x'#0'y'"}, {"\x1F \x7F", "#31' '#127"},
      {"Gr\xC3\xBC\xC3\x9F\xE2\x82\xAC", "'Gr'#252#223#8364"},
      {"\xC2\x85\xC2\xA0", "#133#160"},  // a C1 control and the no-break space
      {"\xC3\x9Cmlaut", "#220'mlaut'"}, {"a\xF0\x9F\x98\x80" "b", "'a'#55357#56832'b'"},
      {"\xF4\x8F\xBF\xBF", "#56319#57343"},  // the last code point
      {"\xFF", "#255"},  // not UTF-8: the byte's value
  };
  TTestComponent copy(nullptr);
  for (const Row& r : rows) {
    SCOPED_TRACE(r.written);
    const std::string text = SavedWith([&](TTestComponent& c) { c.SetText(r.value); });
    EXPECT_EQ(LineOf(text, "Text"), "  Text = " + r.written);
    LoadFromText(copy, text);
    // All read back unchanged but the stray byte: #255 is the character U+00FF.
    EXPECT_EQ(copy.GetText(), r.value == "\xFF" ? "\xC3\xBF" : r.value);
  }
  // Codes are code points in any text; a surrogate pair is one character,
  // also split over two pieces; UTF-8 inside quotes, as earlier versions
  // wrote it, reads as it did. The empty literal reads as empty.
  const Row readOnly[] = {
      {"a\xF0\x9F\x98\x80" "b", "'a'#55357 +\r\n    #56832'b'"},
      {"\xF0\x9F\x98\x80", "#55357'' + ''#56832''"},  // empty runs between the halves
      {"\xF0\x9F\x98\x80", "#128512"}, {"\xC3\x83\xC2\x9C", "#195#156"},  // two characters, never the bytes of one
      {"\xC3\x9Cmlaut \xE6\xB8\xA9 \xF0\x9F\x98\x80", "'\xC3\x9Cmlaut \xE6\xB8\xA9 \xF0\x9F\x98\x80'"},
      {"\xED\xA0\xBDx\xED\xB8\x80", "#55357'x'#56832"},  // lone halves stay apart
      {"", "''"},
  };
  for (const Row& r : readOnly) {
    copy.SetText("x");
    LoadFromText(copy, "object X: TTestComponent\r\n  Text = " + r.written + "\r\nend");
    EXPECT_EQ(copy.GetText(), r.value) << r.written;
  }
  // An empty text is not written.
  EXPECT_EQ(LineOf(SavedWith([](TTestComponent& c) { c.SetText(""); }), "Text"), "");
}

TEST(TextFormStrings, TextsLongerThan64CharactersAreCutIntoPieces) {
  // The text as it is written: its own line when short, else one line per piece.
  const auto written = [](const std::string& value) {
    const std::string text = SavedWith([&](TTestComponent& c) { c.SetText(value); });
    const std::size_t at = text.find("  Text = ");
    return at == std::string::npos ? std::string() : text.substr(at, text.find("  Big = ", at) - at);
  };
  const std::string s64(64, 'a');
  const std::string s65 = s64 + "b";
  // 130 characters: 64 + 64 + 2; a quote in a piece is escaped in it.
  const std::string s130 = std::string(63, 'c') + "'" + std::string(64, 'd') + "ee";
  // Characters, not bytes or codes, are counted: 65 two-byte characters,
  // and a pair of surrogates is never cut.
  std::string wide;
  std::string codes;
  for (int i = 0; i < 63; ++i) wide += "\xC3\xA9", codes += "#233";
  wide += "\xF0\x9F\x98\x80\xC3\xA9";
  EXPECT_EQ((std::vector<std::string>{written(s64), written(s65), written(s130), written(wide)}),
            (std::vector<std::string>{"  Text = '" + s64 + "'\r\n", "  Text = \r\n    '" + s64 + "' +\r\n    'b'\r\n",
                                      "  Text = \r\n    '" + std::string(63, 'c') + "'#39 +\r\n    '" + std::string(64, 'd') +
                                          "' +\r\n    'ee'\r\n",
                                      "  Text = \r\n    " + codes + "#55357#56832 +\r\n    #233\r\n"}));

  // In a collection item the pieces go one level deeper than the item's lines.
  TTestComponent c(nullptr);
  c.GetEntries()->Add()->SetText(s65);
  const std::string text = SaveToText(c);
  EXPECT_NE(text.find("    item\r\n      Text = \r\n        '" + s64 + "' +\r\n        'b'\r\n      Value = 0\r\n"),
            std::string::npos)
      << text;
}

TEST(TextFormNumbers, FloatsAreShortestAndReadBackExactly) {
  struct Row {
    float ratio;
    const char* written;
  };
  const Row singles[] = {{0.1f, "0.1"},         {0.5f, "0.5"},          {-0.75f, "-0.75"},
                         {1000.0f, "1000.0"},   {1e20f, "1.0E20"},      {2.5e-7f, "2.5E-7"},
                         {123456.7f, "123456.7"}, {3.4028235e38f, "3.4028235E38"}};
  for (const Row& r : singles) {
    const std::string text = SavedWith([&](TTestComponent& c) { c.SetRatio(r.ratio); });
    EXPECT_EQ(LineOf(text, "Ratio"), std::string("  Ratio = ") + r.written);
    TTestComponent copy(nullptr);
    LoadFromText(copy, text);
    EXPECT_EQ(copy.GetRatio(), r.ratio) << r.written;
  }
  // Read only: exponents, precision letters and integers.
  const Row read[] = {{1500.0f, "1.5E3"}, {1500.0f, "1.5e+3"}, {2.5f, "25E-1"}, {0.1f, "0.1s"}, {0.1f, "0.1S"},
                      {2.5f, "2.5d"},     {4.0f, "4c"},        {-0.75f, "-0.75"}, {7.0f, "7"},  {0.0f, "1e-400"}};
  for (const Row& r : read) {
    TTestComponent c(nullptr);
    LoadFromText(c, Lines({"object X: TTestComponent", std::string("  Ratio = ") + r.written, "end"}));
    EXPECT_EQ(c.GetRatio(), r.ratio) << r.written;
  }
  const auto precise = [](double d) { return LineOf(SavedWith([d](TTestComponent& c) { c.SetPrecise(d); }), "Precise"); };
  EXPECT_EQ(precise(0.1) + "|" + precise(1e300) + "|" + precise(0), "  Precise = 0.1|  Precise = 1.0E300|");  // 0: not written

  // Random bit patterns of both precisions survive the round trip exactly.
  std::mt19937 rng(20240611);
  for (int i = 0; i < 2000; ++i) {
    auto f = std::bit_cast<float>(static_cast<std::uint32_t>(rng()));
    auto d = std::bit_cast<double>((std::uint64_t{rng()} << 32) | rng());
    if (!std::isfinite(f) || !std::isfinite(d)) continue;
    TTestComponent c(nullptr);
    c.SetRatio(f);
    c.SetPrecise(d);
    TTestComponent copy(nullptr);
    LoadFromText(copy, SaveToText(c));
    ASSERT_EQ(std::bit_cast<std::uint32_t>(copy.GetRatio()), std::bit_cast<std::uint32_t>(f == 0 ? 0.0f : f)) << f;
    ASSERT_EQ(std::bit_cast<std::uint64_t>(copy.GetPrecise()), std::bit_cast<std::uint64_t>(d == 0 ? 0.0 : d)) << d;
  }
}

TEST(TextFormNumbers, NonFiniteAndExtremeNumbers) {
  TTestComponent c(nullptr);
  LoadFromText(c, Lines({"object X: TTestComponent", "  Precise = NAN", "  Ratio = -INF", "end"}));
  EXPECT_TRUE(std::isnan(c.GetPrecise()));
  EXPECT_EQ(c.GetRatio(), -std::numeric_limits<float>::infinity());
  EXPECT_EQ(LineOf(SaveToText(c), "Ratio") + LineOf(SaveToText(c), "Precise"), "  Ratio = -INF  Precise = NAN");
  c.SetCount(std::numeric_limits<int>::min());
  c.SetBig(std::numeric_limits<std::int64_t>::min());
  const std::string text = SaveToText(c);
  EXPECT_EQ(LineOf(text, "Count") + LineOf(text, "Big"), "  Count = -2147483648  Big = -9223372036854775808");
  TTestComponent copy(nullptr);
  LoadFromText(copy, text);
  EXPECT_EQ(SaveToText(copy), text);
  LoadFromText(copy, Lines({"object X: TTestComponent", "  Big = 9223372036854775807", "  Count = $7F", "end"}));
  EXPECT_EQ(copy.GetBig(), std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(copy.GetCount(), 127);
}

TEST(TextFormRead, LenientInputsGiveTheSameComponentAndKeywordsMayBePropertyNames) {
  TTestComponent c(nullptr);
  LoadFromText(c,
               "\xEF\xBB\xBFOBJECT Lenient: TTestComponent\n"
               "Count=5 Text = 'It''s' + #$41\n"
               "  Settings . Rate = 3\n"
               "\tWide = #$20AC\n"
               "END\n");
  EXPECT_EQ((std::vector<std::string>{c.GetName(), c.GetText()}), (std::vector<std::string>{"Lenient", "It'sA"}));
  EXPECT_EQ((std::vector<int>{c.GetCount(), c.GetSettings()->GetRate(), c.GetWide()}), (std::vector<int>{5, 3, 0x20AC}));
  const TFormObject form =
      ParseFormText(Lines({"object End: TFoo", "  end = 1", "  Object.Item = item", "  item = <", "    item", "      end = end",
                           "    end>", "end"}));
  EXPECT_EQ(form.Name, "End");
  ASSERT_EQ(form.Properties.size(), 3u);
  EXPECT_EQ(form.Properties[0], (TFormProperty{"end", TFormValue::Integer(1)}));
  EXPECT_EQ(form.Properties[1], (TFormProperty{"Object.Item", TFormValue::Ident("item")}));
  EXPECT_EQ(form.Properties[2].Value.Items.at(0).Properties.at(0), (TFormProperty{"end", TFormValue::Ident("end")}));
  EXPECT_EQ(ParseFormText(std::string(40, ' ') + "object A: TFoo\r\n" + std::string(33, ' ') + "end").ClassName, "TFoo");
}

TEST(TextFormVariants, NumbersTextsBooleansAndNullRoundTrip) {
  struct Row {
    Variant value;
    const char* written;
    VARTYPE readType;
    Variant readValue;
  };
  const Row rows[] = {
      {Variant(42), "42", VT_I4, Variant(42)},
      {Variant(std::int64_t{1} << 40), "1099511627776", VT_I8, Variant(std::int64_t{1} << 40)},
      {Variant(std::uint8_t{200}), "200", VT_I4, Variant(200)}, {Variant(-0.5), "-0.5", VT_R8, Variant(-0.5)},
      {Variant(0.1f), "0.1", VT_R8, Variant(0.1)},  // no precision letter: a double comes back
      {Variant("a'b"), "'a'#39'b'", varString, Variant("a'b")},
      {Variant(OLESTR("wide")), "'wide'", varString, Variant("wide")},
      {Variant(true), "True", VT_BOOL, Variant(true)}, {Variant(false), "False", VT_BOOL, Variant(false)},
      {Variant::Null(), "Null", VT_NULL, Variant::Null()},
  };
  for (const Row& r : rows) {
    const std::string text = SavedWith([&](TTestComponent& c) { c.SetData(r.value); });
    EXPECT_EQ(LineOf(text, "Data"), std::string("  Data = ") + r.written);
    TTestComponent copy(nullptr);
    LoadFromText(copy, text);
    EXPECT_EQ(copy.GetData().VarType(), r.readType) << r.written;
    EXPECT_TRUE(copy.GetData() == r.readValue) << r.written;
  }
  // Empty is not written; a read leaves an unmentioned variant alone.
  const std::string text = SavedWith([](TTestComponent& c) { c.SetData(Variant()); });
  EXPECT_EQ(text.find("Data"), std::string::npos);
  TTestComponent c(nullptr);
  c.SetData(Variant(7));
  LoadFromText(c, text);
  EXPECT_TRUE(c.GetData() == 7);
  // Types the stream has no form for, and values that are no variant.
  c.SetData(Variant::Error(5));
  EXPECT_THROW(SaveToText(c), EWriteError);
  EXPECT_THROW(LoadFromText(c, Lines({"object X: TTestComponent", "  Data = tcRed", "end"})), EReadError);
  EXPECT_THROW(LoadFromText(c, Lines({"object X: TTestComponent", "  Data = []", "end"})), EReadError);
}

TEST(TextFormRead, MalformedTextsRaiseParserErrorsNamingTheLine) {
  const std::string h = "object A: TTestComponent\r\n";
  const std::pair<std::string, std::string> rows[] = {
      {h + "  Count = 1\r\n", "3: a property, an object or 'end' expected but end of text found"},
      {h + "  Count = @\r\nend\r\n", "2: invalid character (code 64)"},
      {h + "  Text = 'abc\r\nend\r\n", "2: unterminated string"},
      {h + "  Count 5\r\nend\r\n", "2: '=' expected but number 5 found"},
      {h + "  Entries = <\r\n    item\r\n    end\r\nend\r\n", "5: 'item' or '>' expected but 'end' found"},
      {h + "end\r\nrest\r\n", "3: end of text expected but 'rest' found"},
      {"", "1: 'object' expected but end of text found"},
      {h + "  Count = 99999999999999999999\r\nend\r\n", "2: integer 99999999999999999999 is too large"},
      {h + "  Text = 'a' +\r\nend\r\n", "3: a text after '+' expected but 'end' found"},
      {h + "  Colors = [tcRed\r\nend\r\n", "3: ']' expected but 'end' found"},
      {h + "  Settings. = 1\r\nend\r\n", "2: a property name after '.' expected but '=' found"},
      {"object A TTestComponent\r\nend\r\n", "2: '=' expected but 'end' found"},
      {h + "  Count = 12abc\r\nend\r\n", "2: invalid number"},
      {h + "  Count = -x\r\nend\r\n", "2: a number after '-' expected but 'x' found"},
      {h + "  Text = #1114112\r\nend\r\n", "2: character code out of range"},
      {h + "  Text = 'a\xC3'\r\nend\r\n", "2: invalid UTF-8 in a text"},
      {h + "  Data = {00}\r\nend\r\n", "2: binary data is not supported in this form"},
      // Lines are counted through long indentation and every kind of line end.
      {h + std::string(17, ' ') + "B = 1\n" + std::string(8, ' ') + "\t  C = 2\r" + std::string(16, ' ') + "\r\n" +
           std::string(9, ' ') + "D = 3\r\n\t\t" + std::string(24, ' ') + "E = @\r\nend\r\n",
       "6: invalid character (code 64)"},
  };
  for (const auto& [text, expected] : rows) {
    EXPECT_EQ(MessageOf<EParserError>([&] { ParseFormText(text); }), "Syntax error on line " + expected) << text;
  }
}

TEST(TextFormConvert, BinaryAndTextConvertBothWays) {
  const TFormObject child{.Flag = TFormObjectFlag::Inherited, .ClassName = "TBar", .Name = "Bar", .Properties = {}, .Children = {}};
  const TFormObject form{.ClassName = "TFoo", .Name = "",
                         .Properties = {{"A", TFormValue::Integer(-5)}, {"B.C", TFormValue::Ident("x.y")},
                                        {"D", TFormValue::Set({"p", "q"})}, {"E", TFormValue::Single(0.25f)},
                                        {"F", TFormValue::Collection({TFormItem{}, TFormItem{{{"G", TFormValue::String("")}}}})}},
                         .Children = {child}};
  const std::string expected = Lines({"object TFoo", "  A = -5", "  B.C = x.y", "  D = [p, q]", "  E = 0.25", "  F = <",
                                      "    item", "    end", "    item", "      G = ''", "    end>",
                                      "  inherited Bar: TBar", "  end", "end"});
  EXPECT_EQ(FormToText(form), expected);

  TMemoryStream binary;
  WriteForm(binary, form);
  binary.SetPosition(0);
  TStringStream text;
  ObjectBinaryToText(binary, text);
  EXPECT_EQ(text.DataString(), expected);
  EXPECT_EQ(binary.GetPosition(), binary.GetSize());

  TStringStream source(expected);
  TMemoryStream back;
  ObjectTextToBinary(source, back);
  back.SetPosition(0);
  TFormObject read = ReadForm(back);
  // The text has no precision letter: the single comes back as a double of
  // the same value.
  EXPECT_EQ(read.Properties[3].Value, TFormValue::Double(0.25));
  read.Properties[3].Value = TFormValue::Single(0.25f);
  EXPECT_EQ(read, form);
}

TEST(TextFormConvert, CorruptBinaryFormsAndMalformedTextsRaiseAndChangeNothing) {
  TTestComponent c(nullptr);
  c.SetName("Comp1");
  TStringStream binary;
  WriteComponent(binary, c);
  const std::string bytes = binary.DataString();
  EXPECT_EQ(bytes.substr(0, 5), std::string("XCF\x1A\x01", 5));

  auto convert = [](const std::string& b) {
    TStringStream in(b);
    TStringStream out;
    const std::string message = MessageOf<EReadError>([&] { ObjectBinaryToText(in, out); });
    return message.empty() ? out.DataString().substr(0, 6) : message + (out.GetSize() == 0 ? "" : " (with output)");
  };
  EXPECT_EQ(convert(bytes), "object");
  EXPECT_EQ(convert(std::string(bytes).replace(0, 1, "Y")), "Invalid component stream: missing signature");
  EXPECT_EQ(convert(std::string(bytes).replace(4, 1, "\x02")), "Invalid component stream: unsupported version 2");
  EXPECT_EQ(convert(bytes.substr(0, bytes.size() - 1)), "Invalid component stream: truncated");
  // The last byte is the final end tag of the children.
  EXPECT_EQ(convert(std::string(bytes).replace(bytes.size() - 1, 1, "O")).substr(0, 26), "Invalid component stream: ");

  // Reading a corrupt stream or a malformed text into a component changes nothing.
  TTestComponent target(nullptr);
  target.SetName("Target");
  target.SetCount(3);
  target.GetEntries()->Add();
  TStringStream corrupt(bytes.substr(0, bytes.size() - 3));
  EXPECT_THROW(ReadComponent(corrupt, target), EReadError);
  TStringStream text(Lines({"object Other: TTestComponent", "  Count = 9", "  Entries = <>", "  Text = 'open"}));
  TMemoryStream none;
  EXPECT_THROW(ObjectTextToBinary(text, none), EParserError);
  EXPECT_EQ(none.GetSize(), 0);
  EXPECT_THROW(LoadFromText(target, Lines({"object Other: TTestComponent", "  Count = 9", "  Bad = <"})), EParserError);
  EXPECT_EQ(target.GetName(), "Target");
  EXPECT_EQ((std::vector<int>{target.GetCount(), target.GetEntries()->GetCount(), target.loadedCount}), (std::vector<int>{3, 1, 0}));
  EXPECT_FALSE(target.GetComponentState().Contains(csLoading));
}

// What `convert` (text to binary or back) makes of `input`.
std::string Converted(const std::string& input, void (*convert)(TStream&, TStream&)) {
  TStringStream in(input);
  TStringStream out;
  convert(in, out);
  return out.DataString();
}

// Texts made of every kind of character the writer treats differently
// (plain, quote, control, DEL, multi-byte) at every position: each reads
// back unchanged through the binary form, the text written is printable
// ASCII and line ends, and a text is cut into one line per 64 characters.
TEST(TextFormStrings, MixedTextsRoundTripAndAreCutByCharacters) {
  const std::vector<std::string> alphabet = {"a", " ", "'", "\x01", "\r", "\x7F", "\xC3\xA9", "\xE2\x82\xAC",
                                             "\xF0\x9F\x98\x80"};
  std::mt19937 rng(64);
  for (int round = 0; round < 2000; ++round) {
    const std::size_t characters = rng() % 150;
    std::string value;
    for (std::size_t i = 0; i < characters; ++i) value += alphabet[rng() % alphabet.size()];
    TFormObject form{.ClassName = "TFoo", .Name = "", .Properties = {{"T", TFormValue::String(value)}}, .Children = {}};
    const std::string text = FormToText(form);
    TStringStream binary(Converted(text, ObjectTextToBinary));
    ASSERT_EQ(ReadForm(binary).Properties.at(0).Value.Text, value) << text;
    const auto printable = [](char c) { return (c >= 32 && c < 127) || c == '\r' || c == '\n'; };
    ASSERT_TRUE(std::all_of(text.begin(), text.end(), printable)) << text;
    // Header, one line for a short text or the property line plus one per
    // piece for a long one, end.
    const std::size_t pieces = characters <= 64 ? 0 : (characters + 63) / 64;
    ASSERT_EQ(static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')), 3 + pieces) << text;
  }
}

// Values that share their first letters with the special words, joined
// texts and dotted names, each read into its own kind.
TEST(TextFormRead, LookalikeValuesKeepTheirKinds) {
  const TFormObject form = ParseFormText(Lines({"object A: TFoo", "  A = NAN", "  B = nan.x", "  C = Nanny", "  D = INF",
                                                "  E = -inf", "  F = Info.Sub.Last", "  G = 'a' +", "    #39 +",
                                                "    'b'#10", "  H = '' + ''", "end"}));
  ASSERT_EQ(form.Properties.size(), 8u);
  EXPECT_EQ(form.Properties[0].Value.Kind, TFormValueKind::Double);
  EXPECT_TRUE(std::isnan(form.Properties[0].Value.Float));
  const double inf = std::numeric_limits<double>::infinity();
  std::vector<TFormValue> rest;
  for (std::size_t i = 1; i < 8; ++i) rest.push_back(form.Properties[i].Value);
  EXPECT_EQ(rest,
            (std::vector<TFormValue>{TFormValue::Ident("nan.x"), TFormValue::Ident("Nanny"), TFormValue::Double(inf),
                                     TFormValue::Double(-inf), TFormValue::Ident("Info.Sub.Last"),
                                     TFormValue::String("a'b\n"), TFormValue::String("")}));
}

// The flat form chains properties, items and children by index and keeps
// texts as slices of the source where they stand there as they are, else
// in its own store. Checked through the chains themselves, after moving the
// form (its own texts must move with it), and by the trip tree -> flat ->
// tree.
TEST(TextFormFlat, ChainsSlicesAndOwnTextsSurviveAMove) {
  const std::string text =
      Lines({"object Main: TFoo", "  Plain = 'Channel 1.Device 1.Ramp.12345'", "  Quoted = 'It''s'",
             "  Joined = 'a' + 'b'", "  Coded = 'x'#10", "  Settings.Rate = 3", "  Settings . Caption = 'c'",
             "  Kind = A.B", "  Other = A . B", "  Set = [a, b]", "  L = <", "    item", "      X = 1",
             "      M = <", "        item", "          Y = 2", "        end>", "    end", "    item", "      X = 3",
             "    end>", "  Empty = <>", "  object C1: TChild", "    Z = 4", "  end", "  object C2: TChild", "  end",
             "end"});
  const auto inSource = [&text](std::string_view v) {
    return v.data() >= text.data() && v.data() + v.size() <= text.data() + text.size();
  };
  TFlatForm parsed = ParseFlatFormText(text);
  const TFlatForm form = std::move(parsed);
  std::vector<const TFlatProperty*> props;
  for (std::uint32_t i = form.Objects.at(0).FirstProperty; i != kFormNone; i = form.Properties[i].Next) {
    props.push_back(&form.Properties[i]);
  }
  ASSERT_EQ(props.size(), 11u);
  std::vector<std::pair<std::string, bool>> texts;  // and whether they are slices of the source
  for (int i : {0, 1, 2, 3, 4, 5, 6, 7}) {
    const std::string_view v = (i == 4 || i == 5) ? props[i]->Name : props[i]->Value.Text;
    texts.emplace_back(v, inSource(v));
  }
  EXPECT_EQ(texts, (std::vector<std::pair<std::string, bool>>{{"Channel 1.Device 1.Ramp.12345", true}, {"It's", false},
                                                              {"ab", false}, {"x\n", false}, {"Settings.Rate", true},
                                                              {"Settings.Caption", false}, {"A.B", true}, {"A.B", false}}));
  ASSERT_EQ(props[8]->Value.Count, 2u);
  EXPECT_EQ(form.Elements.at(props[8]->Value.First + 1), "b");

  const TFlatValue& list = props[9]->Value;
  ASSERT_EQ(list.Kind, TFormValueKind::Collection);
  ASSERT_EQ(list.Count, 2u);
  const TFlatItem& first = form.Items.at(list.First);
  const TFlatProperty& x = form.Properties.at(first.FirstProperty);
  const TFlatProperty& nested = form.Properties.at(x.Next);
  EXPECT_EQ((std::vector<std::string_view>{x.Name, nested.Name}), (std::vector<std::string_view>{"X", "M"}));
  EXPECT_EQ((std::vector<std::uint32_t>{nested.Value.Count, nested.Next, form.Items.at(first.Next).Next, props[10]->Value.First}),
            (std::vector<std::uint32_t>{1, kFormNone, kFormNone, kFormNone}));  // the last: Empty
  EXPECT_EQ(form.Properties.at(form.Items.at(first.Next).FirstProperty).Value.Int, 3);
  const TFlatObject& c1 = form.Objects.at(form.Objects[0].FirstChild);
  EXPECT_EQ(form.Properties.at(c1.FirstProperty).Value.Int, 4);
  const TFlatObject& c2 = form.Objects.at(c1.Next);
  EXPECT_EQ(c2.Name, "C2");
  EXPECT_EQ(c2.Next, kFormNone);

  // The tree has every value; written out it is the text with the blanks
  // around the dots and the joins normalised.
  const TFormObject tree = form.ToTree();
  EXPECT_EQ(tree, ParseFormText(text));
  EXPECT_EQ(FlattenForm(tree).ToTree(), tree);

  TTestComponent main(nullptr);
  BuildRich(main);
  const TFormObject rich = ComponentToForm(main);
  EXPECT_EQ(FlattenForm(rich).ToTree(), rich);
  EXPECT_EQ(FormToText(ParseFlatFormText(kRichText).ToTree()), kRichText);
}

// Garbled texts either parse or raise EParserError, and whatever parses
// converts to a binary form that converts back to an equivalent text.
TEST(TextFormFuzz, GarbledTextsParseOrFailCleanly) {
  TTestComponent main(nullptr);
  BuildRich(main);
  const std::string seed = SaveToText(main);
  const std::string alphabet = "objectend=<>[],.+-#$'0123456789eEsxyz \r\n\t:";
  std::mt19937 rng(7);
  int parsed = 0;
  for (int round = 0; round < 3000; ++round) {
    std::string text = seed;
    const int edits = 1 + static_cast<int>(rng() % 4);
    for (int e = 0; e < edits && !text.empty(); ++e) {
      const std::size_t at = rng() % text.size();
      const char c = (rng() % 4 == 0) ? static_cast<char>(rng() % 256) : alphabet[rng() % alphabet.size()];
      switch (rng() % 3) {
        case 0: text[at] = c; break;
        case 1: text.insert(at, 1, c); break;
        default: text.erase(at, 1 + rng() % 8); break;
      }
    }
    if (round % 10 == 0) text = text.substr(0, rng() % (text.size() + 1));
    std::string binary;
    if (!MessageOf<EParserError>([&] { binary = Converted(text, ObjectTextToBinary); }).empty()) continue;
    ++parsed;
    ASSERT_EQ(Converted(Converted(binary, ObjectBinaryToText), ObjectTextToBinary), binary) << text;
  }
  EXPECT_GT(parsed, 50);  // the mutations leave many texts valid
}

}  // namespace
}  // namespace xelo::test
