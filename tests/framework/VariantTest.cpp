#include "xelo/framework/Variant.h"

#include "xelo/com/BStr.h"
#include "xelo/com/TaskMemory.h"
#include "xelo/framework/Exceptions.h"
#include "StringLines.h"
#include "xelo/framework/Persistent.h"
#include "xelo/framework/TypInfo.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace xelo::test {
namespace {

const auto ConvertErrorOf = [](auto call) { return xelo::testing::MessageOf<EConvertError>(call); };

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
      {Variant(), VT_EMPTY, ""},
      {Variant::Null(), VT_NULL, ""},
      {Variant("abc"), varString, "abc"},
      {Variant(com::OleString(OLESTR("Gr\u00fc\u00dfe"))), VT_BSTR, "Gr\u00fc\u00dfe"},
      {Variant(true), VT_BOOL, "True"},
      {Variant(std::uint8_t{200}), VT_UI1, "200"},
      {Variant(std::int16_t{-32768}), VT_I2, "-32768"},
      {Variant(std::numeric_limits<std::int32_t>::min()), VT_I4, "-2147483648"},
      {Variant(std::uint32_t{4294967295u}), VT_UI4, "4294967295"},
      {Variant(std::numeric_limits<std::int64_t>::min()), VT_I8, "-9223372036854775808"},
      {Variant(std::numeric_limits<std::uint64_t>::max()), VT_UI8, "18446744073709551615"},
      {FromVariant(VT_INT, [](VARIANT& v) { v.intVal = -7; }), VT_INT, "-7"},
      {Variant(0.1f), VT_R4, "0.1"},
      {Variant(0.1), VT_R8, "0.1"},
      {Variant(-42.0), VT_R8, "-42"},
      {Variant(123456.789), VT_R8, "123456.789"},
      {Variant(1e20), VT_R8, "1E20"},
      {Variant::Currency(12.5), VT_CY, "12.5"},
      {Variant::Currency(cy), VT_CY, "-0.0001"},
      {Variant(dec), VT_DECIMAL, "-123.45"},
      {Variant::Date(45000.5), VT_DATE, "2023-03-15 12:00:00"},
      {Variant::Date(45000.0), VT_DATE, "2023-03-15"},
      {Variant::Date(0.75), VT_DATE, "18:00:00"},
      {Variant::Error(DISP_E_TYPEMISMATCH), VT_ERROR, "-2147352571"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(row.value.VarType(), row.type) << row.text;
    EXPECT_EQ(VarToStr(row.value), row.text) << "type " << row.type;
  }
  EXPECT_NE(ConvertErrorOf([] { VarToStr(Variant::Array(VT_I4, 0, 2)); }).find("Array of I4"), std::string::npos);
  EXPECT_THROW(VarToStr(Variant::Date(1e9)), EConvertError);
  EXPECT_THROW(VarToStr(FromVariant(VT_UNKNOWN, [](VARIANT& v) { v.punkVal = nullptr; })), EConvertError);
}

TEST(FrameworkVariantConvert, TextToNumbersAndNumbersFollowCom) {
  EXPECT_EQ(Variant(" 2.5e3 ").ToDouble(), 2500.0);
  EXPECT_EQ(Variant(OLESTR("-3")).ToInt32(), -3);
  EXPECT_EQ(Variant("12.5").ToInt32(), 12);  // half to even
  const std::string message = ConvertErrorOf([] { Variant("abc").ToDouble(); });
  EXPECT_NE(message.find("'abc'"), std::string::npos) << message;
  EXPECT_THROW(Variant("").ToDouble(), EConvertError);
  EXPECT_THROW(Variant(OLESTR("1,5")).ToInt64(), EConvertError);
  EXPECT_THROW(Variant("yes").ToBool(), EConvertError);
  EXPECT_TRUE(Variant("True").ToBool());
  EXPECT_FALSE(Variant("false").ToBool());
  EXPECT_EQ(Variant(3.5).ToInt32(), 4);
  EXPECT_EQ(Variant(-2.5).ToInt64(), -2);
  EXPECT_EQ(Variant(true).ToDouble(), -1.0);
  EXPECT_EQ(Variant().ToInt32(), 0);
  EXPECT_EQ(Variant::Currency(12.5).ToDouble(), 12.5);
  EXPECT_NE(ConvertErrorOf([] { Variant(3e10).ToInt32(); }).find("Overflow"), std::string::npos);
  EXPECT_THROW(Variant(std::numeric_limits<std::uint64_t>::max()).ToInt32(), EConvertError);
  EXPECT_EQ(Variant(std::numeric_limits<std::uint64_t>::max()).ToInt64(), -1);  // same width: the bits
  EXPECT_THROW(Variant::Null().ToInt32(), EConvertError);
  EXPECT_THROW(Variant::Currency(1e300), EConvertError);
}

TEST(FrameworkVariantConvert, ChangeType) {
  const Variant text = Variant(42).ChangeType(VT_BSTR);
  EXPECT_EQ(com::BstrView(text.AsVARIANT().bstrVal), OLESTR("42"));
  EXPECT_EQ(VarToStr(Variant(true).ChangeType(VT_BSTR)), "True");
  EXPECT_EQ(VarToStr(Variant(1e20).ChangeType(VT_BSTR)), "1E+20");
  EXPECT_EQ(VarToStr(Variant(1e20).ChangeType(varString)), "1E20");
  const Variant small = Variant("12").ChangeType(VT_I2);
  EXPECT_EQ(small.VarType(), VT_I2);
  EXPECT_EQ(small.AsVARIANT().iVal, 12);
  EXPECT_THROW(Variant(300).ChangeType(VT_UI1), EConvertError);
  EXPECT_THROW(Variant("abc").ChangeType(VT_I4), EConvertError);
  EXPECT_THROW(Variant(1).ChangeType(0x7FF), EConvertError);
  const Variant reals = Variant::Array(std::vector<int>{1, 2}).ChangeType(VT_ARRAY | VT_R8);
  EXPECT_EQ(reals.VarType(), VT_ARRAY | VT_R8);
  EXPECT_EQ(reals.GetElement(1).AsVARIANT().dblVal, 2.0);
}

TEST(FrameworkVariantCompare, Equality) {
  EXPECT_TRUE(Variant() == 0);
  EXPECT_TRUE(Variant() == Variant(""));
  EXPECT_FALSE(Variant::Null() == 0);
  EXPECT_TRUE(Variant::Null() == Variant::Null());
  EXPECT_TRUE(Variant(1) == Variant(1.0));
  EXPECT_TRUE(Variant(true) == -1);
  EXPECT_FALSE(Variant(std::numeric_limits<std::uint64_t>::max()) == -1);
  EXPECT_FALSE(Variant(std::numeric_limits<std::int64_t>::max()) == Variant(0x1p63));
  EXPECT_TRUE(Variant(0.5) != 0);  // no truncation to an integer
  EXPECT_TRUE(Variant("0") == 0);
  EXPECT_TRUE(Variant(" 1.5") == Variant(1.5));
  EXPECT_THROW((void)(Variant("abc") == 0), EConvertError);
  EXPECT_TRUE(Variant::Currency(12.5) == Variant(12.5));
  EXPECT_TRUE(Variant("a") == Variant(OLESTR("a")));
  EXPECT_FALSE(Variant("a") == Variant("A"));
  EXPECT_FALSE(Variant(std::nan("")) == Variant(std::nan("")));
  EXPECT_TRUE(Variant::Error(5) == Variant::Error(5));
  EXPECT_FALSE(Variant::Error(5) == 5);
  const Variant a = Variant::Array(std::vector<int>{1, 2, 3});
  EXPECT_TRUE(a == Variant::Array(std::vector<int>{1, 2, 3}));
  EXPECT_FALSE(a == Variant::Array(std::vector<int>{1, 2, 4}));
  EXPECT_FALSE(a == Variant::Array(std::vector<int>{1, 2, 3}, 1));
  EXPECT_FALSE(a == 1);
}

TEST(FrameworkVariantArray, BoundsAndTwoDimensions) {
  const Variant one = Variant::Array(VT_I4, 5, 7);
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
  EXPECT_THROW(VarArrayLowBound(Variant(1), 1), EConvertError);
  EXPECT_THROW(VarArrayLowBound(two, 0), EListError);
  EXPECT_THROW(VarArrayHighBound(two, 3), EListError);
  EXPECT_THROW(Variant::Array(VT_I4, 3, 1), EConvertError);
  EXPECT_THROW(Variant::Array(VT_NULL, 0, 1), EConvertError);
  EXPECT_THROW(Variant::Array(VT_I4, std::span<const VarArrayBound>()), EConvertError);
  EXPECT_THROW(Variant::Array(VT_R8, 0, 0x7FFFFFFF), EConvertError);  // 16 GiB of data
}

TEST(FrameworkVariantArray, ElementAccessErrors) {
  Variant one = Variant::Array(VT_I4, 5, 7);
  one.SetElement(6, Variant("12"));
  EXPECT_EQ(one.GetElement(6).VarType(), VT_I4);
  EXPECT_EQ(one.GetElement(6).ToInt32(), 12);
  EXPECT_THROW(one.GetElement(4), EListError);
  EXPECT_THROW(one.GetElement(8), EListError);
  EXPECT_THROW(one.SetElement(8, Variant(1)), EListError);
  EXPECT_THROW(one.SetElement(6, Variant("abc")), EConvertError);
  EXPECT_EQ(one.GetElement(6).ToInt32(), 12);
  EXPECT_THROW(one.GetElement({5, 0}), EConvertError);
  EXPECT_THROW(Variant::Array(VT_I4, {{0, 1}, {0, 1}}).GetElement(0), EConvertError);
  EXPECT_THROW(Variant(3).GetElement(0), EConvertError);
  EXPECT_THROW(Variant().SetElement(0, Variant(1)), EConvertError);

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
  EXPECT_EQ(reals.VarType(), VT_ARRAY | VT_R8);
  EXPECT_EQ(VarArrayLowBound(reals, 1), 1);
  EXPECT_EQ(VarToStr(reals.GetElement(3)), "3");
  const Variant texts = Variant::Array(std::vector<std::string>{"a", "b"});
  EXPECT_EQ(texts.VarType(), VT_ARRAY | VT_BSTR);
  EXPECT_EQ(VarToStr(texts.GetElement(1)), "b");
  const Variant flags = Variant::Array(std::vector<bool>{true, false});
  EXPECT_EQ(flags.VarType(), VT_ARRAY | VT_BOOL);
  EXPECT_EQ(flags.GetElement(0).AsVARIANT().boolVal, VARIANT_TRUE);

  Variant mixed = Variant::Array(std::vector<Variant>{Variant("x"), Variant(2), Variant::Null()});
  EXPECT_EQ(mixed.VarType(), VT_ARRAY | VT_VARIANT);
  EXPECT_EQ(mixed.GetElement(0).VarType(), VT_BSTR);  // a VARIANT cannot carry the framework's text
  EXPECT_EQ(mixed.GetElement(1).VarType(), VT_I4);
  EXPECT_TRUE(mixed.GetElement(2).IsNull());
  mixed.SetElement(1, Variant(2.5));
  EXPECT_EQ(mixed.GetElement(1).VarType(), VT_R8);
}

TEST(FrameworkVariantLifetime, CopyMoveAttachDetachFreeEverything) {
  const com::AllocationCounts start = com::LiveAllocations();
  CountedUnknown object;
  {
    Variant text("Gr\u00fc\u00dfe");
    EXPECT_EQ(com::LiveAllocations().Total(), start.Total() + 1);  // its BSTR exists from the start
    Variant copy = text;
    EXPECT_EQ(com::LiveAllocations().Total(), start.Total() + 2);
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
    EXPECT_EQ(object.refs, 2u);
    Variant heldCopy = held;
    EXPECT_EQ(object.refs, 3u);
    EXPECT_TRUE(heldCopy == held);

    VARIANT out;
    text.Detach(out);
    EXPECT_TRUE(text.IsEmpty());
    EXPECT_EQ(out.vt, VT_BSTR);
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
}

TEST(FrameworkVariantLifetime, ReferencesAreCopiedAsValues) {
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
  EXPECT_EQ(copied.ToInt32(), 7);
  EXPECT_EQ(attached.ToInt32(), 7);
}

TEST(FrameworkVariantServer, StringBecomesBstrForTheServer) {
  const com::AllocationCounts start = com::LiveAllocations();
  {
    const Variant value("Sollwert \u00fc");
    EXPECT_EQ(value.VarType(), varString);
    EXPECT_EQ(value.AsVARIANT().vt, VT_BSTR);
    EXPECT_EQ(com::BstrView(value.AsVARIANT().bstrVal), OLESTR("Sollwert \u00fc"));

    // The write path: values copied into uninitialised task memory, cleared
    // by the receiver before the block is freed.
    auto* values = static_cast<VARIANT*>(CoTaskMemAlloc(2 * sizeof(VARIANT)));
    ASSERT_NE(values, nullptr);
    std::memset(values, 0xCD, 2 * sizeof(VARIANT));
    value.ToVARIANT(values[0]);
    Variant(1.5).ToVARIANT(values[1]);
    EXPECT_EQ(values[0].vt, VT_BSTR);
    EXPECT_NE(values[0].bstrVal, value.AsVARIANT().bstrVal);
    EXPECT_EQ(com::BstrToUtf8(values[0].bstrVal), "Sollwert \u00fc");
    EXPECT_EQ(values[1].vt, VT_R8);
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
  EXPECT_THROW(SetVariantProp(holder, "Fixed", Variant(1)), EPropertyError);
  EXPECT_THROW(SetVariantProp(holder, "Count", Variant(1)), EPropertyError);
  EXPECT_THROW(GetVariantProp(holder, "Missing"), EPropertyError);
}

}  // namespace
}  // namespace xelo::test
