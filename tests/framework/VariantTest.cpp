#include "xelo/framework/Variant.h"

#include "xelo/com/BStr.h"
#include "xelo/com/TaskMemory.h"
#include "xelo/framework/Exceptions.h"
#include "support/Expectations.h"
#include "xelo/framework/Persistent.h"
#include "xelo/framework/TypInfo.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace xelo::test {
namespace {

const auto ConvertErrorOf = [](auto call) { return xelo::testing::MessageOf<EConvertError>(call); };

using xelo::testing::ExpectEachRaises;

Variant FromVariant(VARTYPE vt, void (*fill)(VARIANT&)) {
  VARIANT v;
  VariantInit(&v);
  fill(v);
  v.vt = vt;
  return Variant::Attach(v);
}

// An interface whose references we can count; it lives on the stack.
struct CountedUnknown : IUnknown {
  ULONG refs = 1;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    *out = this;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
};

TEST(VarToStr, EveryScalarTypeAndNothingElse) {
  VARIANT dec;
  std::memset(&dec, 0, sizeof dec);
  dec.decVal.scale = 2;
  dec.decVal.sign = DECIMAL_NEG;
  dec.decVal.Lo64 = 12345;
  dec.vt = VT_DECIMAL;
  CY cy;
  cy.int64 = -1;
  struct Row {
    Variant value;
    VARTYPE type;
    std::string text;
  } rows[] = {
      {Variant(), VT_EMPTY, ""}, {Variant::Null(), VT_NULL, ""}, {Variant("abc"), varString, "abc"},
      {Variant(com::OleString(OLESTR("Gr\u00fc\u00dfe"))), VT_BSTR, "Gr\u00fc\u00dfe"},
      {Variant(true), VT_BOOL, "True"}, {Variant(std::uint8_t{200}), VT_UI1, "200"},
      {Variant(std::int16_t{-32768}), VT_I2, "-32768"},
      {Variant(std::numeric_limits<std::int32_t>::min()), VT_I4, "-2147483648"},
      {Variant(std::uint32_t{4294967295u}), VT_UI4, "4294967295"},
      {Variant(std::numeric_limits<std::int64_t>::min()), VT_I8, "-9223372036854775808"},
      {Variant(std::numeric_limits<std::uint64_t>::max()), VT_UI8, "18446744073709551615"},
      {FromVariant(VT_INT, [](VARIANT& v) { v.intVal = -7; }), VT_INT, "-7"}, {Variant(0.1f), VT_R4, "0.1"},
      {Variant(0.1), VT_R8, "0.1"}, {Variant(-42.0), VT_R8, "-42"}, {Variant(123456.789), VT_R8, "123456.789"},
      {Variant(1e20), VT_R8, "1E20"}, {Variant::Currency(12.5), VT_CY, "12.5"},
      {Variant::Currency(cy), VT_CY, "-0.0001"}, {Variant(dec), VT_DECIMAL, "-123.45"},
      {Variant::Date(45000.5), VT_DATE, "2023-03-15 12:00:00"}, {Variant::Date(45000.0), VT_DATE, "2023-03-15"},
      {Variant::Date(0.75), VT_DATE, "18:00:00"}, {Variant::Error(DISP_E_TYPEMISMATCH), VT_ERROR, "-2147352571"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(row.value.VarType(), row.type) << row.text;
    EXPECT_EQ(VarToStr(row.value), row.text) << "type " << row.type;
  }
  EXPECT_NE(ConvertErrorOf([] { VarToStr(Variant::Array(VT_I4, 0, 2)); }).find("Array of I4"), std::string::npos);
  EXPECT_THROW(VarToStr(Variant::Date(1e9)), EConvertError);
  EXPECT_THROW(VarToStr(FromVariant(VT_UNKNOWN, [](VARIANT& v) { v.punkVal = nullptr; })), EConvertError);
}

TEST(FrameworkVariantConvert, TextToNumbersNumbersAndChangeTypeFollowCom) {
  // Texts with blanks and exponents; rounding half to even.
  EXPECT_EQ((std::vector<double>{Variant(" 2.5e3 ").ToDouble(), Variant(true).ToDouble(), Variant::Currency(12.5).ToDouble()}),
            (std::vector<double>{2500.0, -1.0, 12.5}));
  EXPECT_EQ((std::vector<std::int64_t>{Variant(OLESTR("-3")).ToInt32(), Variant("12.5").ToInt32(), Variant(3.5).ToInt32(),
                                       Variant(-2.5).ToInt64(), Variant().ToInt32(),
                                       Variant(std::numeric_limits<std::uint64_t>::max()).ToInt64()}),  // same width: the bits
            (std::vector<std::int64_t>{-3, 12, 4, -2, 0, -1}));
  EXPECT_NE(ConvertErrorOf([] { Variant("abc").ToDouble(); }).find("'abc'"), std::string::npos);
  EXPECT_NE(ConvertErrorOf([] { Variant(3e10).ToInt32(); }).find("Overflow"), std::string::npos);
  EXPECT_TRUE(Variant("True").ToBool());
  EXPECT_FALSE(Variant("false").ToBool());
  ExpectEachRaises<EConvertError>({[] { Variant("").ToDouble(); }, [] { Variant(OLESTR("1,5")).ToInt64(); },
                                   [] { Variant("yes").ToBool(); }, [] { Variant::Null().ToInt32(); },
                                   [] { Variant(std::numeric_limits<std::uint64_t>::max()).ToInt32(); },
                                   [] { Variant::Currency(1e300); }});

  // ChangeType
  const Variant text = Variant(42).ChangeType(VT_BSTR);
  EXPECT_EQ(com::BstrView(text.AsVARIANT().bstrVal), OLESTR("42"));
  EXPECT_EQ((std::vector<std::string>{VarToStr(Variant(true).ChangeType(VT_BSTR)), VarToStr(Variant(1e20).ChangeType(VT_BSTR)),
                                      VarToStr(Variant(1e20).ChangeType(varString))}),
            (std::vector<std::string>{"True", "1E+20", "1E20"}));
  const Variant small = Variant("12").ChangeType(VT_I2);
  EXPECT_TRUE(small.VarType() == VT_I2 && small.AsVARIANT().iVal == 12);
  ExpectEachRaises<EConvertError>({[] { Variant(300).ChangeType(VT_UI1); }, [] { Variant("abc").ChangeType(VT_I4); },
                                   [] { Variant(1).ChangeType(0x7FF); }});
  const Variant reals = Variant::Array(std::vector<int>{1, 2}).ChangeType(VT_ARRAY | VT_R8);
  EXPECT_TRUE(reals.VarType() == (VT_ARRAY | VT_R8) && reals.GetElement(1).AsVARIANT().dblVal == 2.0);
}

TEST(FrameworkVariantCompare, Equality) {
  const Variant a = Variant::Array(std::vector<int>{1, 2, 3});
  const struct {
    Variant left, right;
    bool equal;
  } rows[] = {
      {Variant(), 0, true},  {Variant(), Variant(""), true},  {Variant::Null(), 0, false},
      {Variant::Null(), Variant::Null(), true},  {1, 1.0, true},  {true, -1, true},
      {std::numeric_limits<std::uint64_t>::max(), -1, false},
      {std::numeric_limits<std::int64_t>::max(), 0x1p63, false},
      {0.5, 0, false},  // no truncation to an integer
      {"0", 0, true},  {" 1.5", 1.5, true},  {Variant::Currency(12.5), 12.5, true},  {"a", OLESTR("a"), true},
      {"a", "A", false},  {std::nan(""), std::nan(""), false},  {Variant::Error(5), Variant::Error(5), true},
      {Variant::Error(5), 5, false},  {a, Variant::Array(std::vector<int>{1, 2, 3}), true},
      {a, Variant::Array(std::vector<int>{1, 2, 4}), false},  {a, Variant::Array(std::vector<int>{1, 2, 3}, 1), false},
      {a, 1, false},
  };
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    EXPECT_EQ(rows[i].left == rows[i].right, rows[i].equal) << "row " << i;
    EXPECT_EQ(rows[i].left != rows[i].right, !rows[i].equal) << "row " << i;
  }
  EXPECT_THROW((void)(Variant("abc") == 0), EConvertError);
}

TEST(FrameworkVariantArray, BoundsTwoDimensionsAndElementAccessErrors) {
  Variant one = Variant::Array(VT_I4, 5, 7);
  EXPECT_EQ(one.VarType(), VT_ARRAY | VT_I4);
  EXPECT_EQ((std::vector<long>{VarArrayDimCount(one), VarArrayLowBound(one, 1), VarArrayHighBound(one, 1)}),
            (std::vector<long>{1, 5, 7}));
  EXPECT_EQ(VarArrayHighBound(Variant::Array(VT_BSTR, 0, -1), 1), -1);

  Variant two = Variant::Array(VT_I4, {{1, 2}, {-1, 3}});
  EXPECT_EQ((std::vector<long>{VarArrayDimCount(two), VarArrayLowBound(two, 2), VarArrayHighBound(two, 2)}),
            (std::vector<long>{2, -1, 3}));
  for (LONG i = 1; i <= 2; ++i) {
    for (LONG j = -1; j <= 3; ++j) two.SetElement({i, j}, Variant(i * 10 + j));
  }
  for (LONG i = 1; i <= 2; ++i) {
    for (LONG j = -1; j <= 3; ++j) EXPECT_EQ(two.GetElement({i, j}).ToInt32(), i * 10 + j) << i << "," << j;
  }

  EXPECT_EQ(VarArrayDimCount(Variant(1)), 0);
  ExpectEachRaises<EListError>({[&] { VarArrayLowBound(two, 0); }, [&] { VarArrayHighBound(two, 3); }});
  ExpectEachRaises<EConvertError>({[] { VarArrayLowBound(Variant(1), 1); }, [] { Variant::Array(VT_I4, 3, 1); },
                                   [] { Variant::Array(VT_NULL, 0, 1); },
                                   [] { Variant::Array(VT_I4, std::span<const VarArrayBound>()); },
                                   [] { Variant::Array(VT_R8, 0, 0x7FFFFFFF); }});  // the last: 16 GiB of data

  one.SetElement(6, Variant("12"));
  EXPECT_EQ(one.GetElement(6).VarType(), VT_I4);
  ExpectEachRaises<EListError>({[&] { one.GetElement(4); }, [&] { one.GetElement(8); },
                                [&] { one.SetElement(8, Variant(1)); }});
  ExpectEachRaises<EConvertError>({[&] { one.SetElement(6, Variant("abc")); }, [&] { one.GetElement({5, 0}); },
                                   [] { Variant::Array(VT_I4, {{0, 1}, {0, 1}}).GetElement(0); },
                                   [] { Variant(3).GetElement(0); }, [] { Variant().SetElement(0, Variant(1)); }});
  EXPECT_EQ(one.GetElement(6).ToInt32(), 12);  // the failed conversion left it

  // A VARIANT whose type claims wider elements than its array holds must not
  // be read past its data.
  SAFEARRAY* ints = SafeArrayCreateVector(VT_I4, 0, 1);
  VARIANT foreign;
  VariantInit(&foreign);
  foreign.vt = VT_ARRAY | VT_R8;
  foreign.parray = ints;
  const Variant lying = Variant::Attach(foreign);
  EXPECT_THROW(lying.GetElement(0), EConvertError);
}

TEST(FrameworkVariantArray, FromVectorsAndMixedElements) {
  const Variant reals = Variant::Array(std::vector<double>{1.5, 2, 3}, 1);
  const Variant texts = Variant::Array(std::vector<std::string>{"a", "b"});
  const Variant flags = Variant::Array(std::vector<bool>{true, false});
  Variant mixed = Variant::Array(std::vector<Variant>{Variant("x"), Variant(2), Variant::Null()});
  EXPECT_EQ((std::vector<VARTYPE>{reals.VarType(), texts.VarType(), flags.VarType(), mixed.VarType()}),
            (std::vector<VARTYPE>{VT_ARRAY | VT_R8, VT_ARRAY | VT_BSTR, VT_ARRAY | VT_BOOL, VT_ARRAY | VT_VARIANT}));
  EXPECT_EQ(VarArrayLowBound(reals, 1), 1);
  EXPECT_EQ((std::vector<std::string>{VarToStr(reals.GetElement(3)), VarToStr(texts.GetElement(1))}),
            (std::vector<std::string>{"3", "b"}));
  EXPECT_EQ(flags.GetElement(0).AsVARIANT().boolVal, VARIANT_TRUE);
  // Elements keep their own types (a VARIANT cannot carry the framework's text: BSTR).
  EXPECT_EQ((std::vector<VARTYPE>{mixed.GetElement(0).VarType(), mixed.GetElement(1).VarType(), mixed.GetElement(2).VarType()}),
            (std::vector<VARTYPE>{VT_BSTR, VT_I4, VT_NULL}));
  mixed.SetElement(1, Variant(2.5));
  EXPECT_EQ(mixed.GetElement(1).VarType(), VT_R8);
}

TEST(FrameworkVariantLifetime, CopyMoveAttachDetachFreeEverything) {
  const com::AllocationCounts start = com::LiveAllocations();
  CountedUnknown object;
  {
    Variant text("Gr\u00fc\u00dfe");
    using Counts = std::vector<decltype(start.Total())>;
    const auto one = com::LiveAllocations().Total();  // its BSTR exists from the start
    Variant copy = text;
    EXPECT_EQ((Counts{one, com::LiveAllocations().Total()}), (Counts{start.Total() + 1, start.Total() + 2}));
    EXPECT_NE(copy.AsVARIANT().bstrVal, text.AsVARIANT().bstrVal);
    EXPECT_EQ(copy.VarType(), varString);

    Variant moved = std::move(copy);
    EXPECT_TRUE(copy.IsEmpty());  // NOLINT(bugprone-use-after-move): the promise under test
    EXPECT_EQ(VarToStr(moved), "Gr\u00fc\u00dfe");
    EXPECT_EQ(com::LiveAllocations().Total(), start.Total() + 2);

    Variant array = Variant::Array(std::vector<Variant>{text, Variant(OLESTR("w")), Variant::Array(VT_BSTR, 0, 1)});
    Variant arrayCopy;
    arrayCopy = array;
    arrayCopy = arrayCopy;  // self-assignment keeps the value
    EXPECT_TRUE(arrayCopy == array);
    moved = array;  // replaces a text, frees it
    array = std::move(arrayCopy);

    VARIANT unknown;
    VariantInit(&unknown);
    unknown.vt = VT_UNKNOWN;
    unknown.punkVal = &object;
    object.AddRef();
    Variant held = Variant::Attach(unknown);
    EXPECT_EQ(unknown.vt, VT_EMPTY);
    const ULONG attached = object.refs;
    Variant heldCopy = held;
    EXPECT_EQ((std::vector<ULONG>{attached, object.refs}), (std::vector<ULONG>{2, 3}));
    EXPECT_TRUE(heldCopy == held);

    VARIANT out;
    text.Detach(out);
    EXPECT_TRUE(text.IsEmpty() && out.vt == VT_BSTR);
    Variant back = Variant::Attach(out);
    EXPECT_EQ(back.VarType(), VT_BSTR);  // as a server would hand it back

    VARIANT bad;
    VariantInit(&bad);
    bad.vt = 0x7FF;
    EXPECT_THROW(Variant::Attach(bad), EConvertError);
    EXPECT_EQ(bad.vt, 0x7FF);  // still the caller's
  }
  EXPECT_EQ(object.refs, 1u);
  EXPECT_EQ(com::LiveAllocations(), start);

  // References are copied as values.
  LONG number = 7;
  VARIANT ref;
  VariantInit(&ref);
  ref.vt = VT_BYREF | VT_I4;
  ref.plVal = &number;
  const Variant copied(ref);
  const Variant attached = Variant::Attach(ref);
  EXPECT_EQ(ref.vt, VT_EMPTY);
  number = 8;
  EXPECT_EQ(copied.VarType(), VT_I4);
  EXPECT_EQ((std::vector<int>{copied.ToInt32(), attached.ToInt32()}), (std::vector<int>{7, 7}));
}

TEST(FrameworkVariantServer, StringBecomesBstrForTheServer) {
  const com::AllocationCounts start = com::LiveAllocations();
  {
    const Variant value("Sollwert \u00fc");
    EXPECT_EQ((std::vector<VARTYPE>{value.VarType(), value.AsVARIANT().vt}), (std::vector<VARTYPE>{varString, VT_BSTR}));
    EXPECT_EQ(com::BstrView(value.AsVARIANT().bstrVal), OLESTR("Sollwert \u00fc"));

    // The write path: values copied into uninitialised task memory, cleared
    // by the receiver before the block is freed.
    auto* values = static_cast<VARIANT*>(CoTaskMemAlloc(2 * sizeof(VARIANT)));
    ASSERT_NE(values, nullptr);
    std::memset(values, 0xCD, 2 * sizeof(VARIANT));
    value.ToVARIANT(values[0]);
    Variant(1.5).ToVARIANT(values[1]);
    EXPECT_EQ((std::vector<VARTYPE>{values[0].vt, values[1].vt}), (std::vector<VARTYPE>{VT_BSTR, VT_R8}));
    EXPECT_NE(values[0].bstrVal, value.AsVARIANT().bstrVal);  // a copy of its own
    EXPECT_EQ(com::BstrToUtf8(values[0].bstrVal), "Sollwert \u00fc");
    for (int i = 0; i < 2; ++i) EXPECT_EQ(VariantClear(&values[i]), S_OK);
    CoTaskMemFree(values);
  }
  EXPECT_EQ(com::LiveAllocations(), start);
}

class TVariantHolder : public TPersistent {
  XELO_CLASS(TVariantHolder, TPersistent)
 public:
  const Variant& GetValue() const { return value_; }
  void SetValue(const Variant& value) { value_ = value; }
  int GetCount() const { return 0; }
  void SetCount(int) {}

 private:
  Variant value_;
};

TClass TVariantHolder::StaticClass() {
  static const TMetaClass meta = TClassBuilder<TVariantHolder>("TVariantHolder")
                                     .Variant("Value", &TVariantHolder::GetValue, &TVariantHolder::SetValue)
                                     .Variant("Fixed", &TVariantHolder::GetValue)
                                     .Integer("Count", &TVariantHolder::GetCount, &TVariantHolder::SetCount)
                                     .Build();
  return &meta;
}

TEST(FrameworkVariantProperty, GetAndSetThroughMetadata) {
  TVariantHolder holder;
  SetVariantProp(holder, "value", Variant("on"));
  EXPECT_EQ(holder.GetValue().VarType(), varString);
  EXPECT_EQ(VarToStr(GetVariantProp(holder, "Value")), "on");
  EXPECT_EQ(VarToStr(GetVariantProp(holder, "Fixed")), "on");
  ExpectEachRaises<EPropertyError>({[&] { SetVariantProp(holder, "Fixed", Variant(1)); },
                                    [&] { SetVariantProp(holder, "Count", Variant(1)); },
                                    [&] { GetVariantProp(holder, "Missing"); }});
}

}  // namespace
}  // namespace xelo::test
