#include "xelo/com/VariantConversion.h"

#include "com/ComTesting.h"

#include <initializer_list>

namespace {

using xelo::com::BstrToUtf8, xelo::com::ChangeVariantType, xelo::test::PointerVariant;

class VariantConversion : public xelo::test::AllocationCheckedTest {};

VARIANT Texts(std::initializer_list<const char*> texts) {
  VARIANT v = PointerVariant(VT_ARRAY | VT_BSTR, SafeArrayCreateVector(VT_BSTR, 0, static_cast<ULONG>(texts.size())));
  LONG index = 0;
  for (const char* text : texts) {
    BSTR value = xelo::com::AllocBstrUtf8(text);
    SafeArrayPutElement(v.parray, &index, value);
    SysFreeString(value), ++index;
  }
  return v;
}

TEST_F(VariantConversion, ArraysConvertElementByElementWhereTheSystemRefuses) {
  SAFEARRAYBOUND bounds[2] = {{2, -1}, {3, 5}};  // dimension 1: -1..0, dimension 2: 5..7
  VARIANT numbers = PointerVariant(VT_ARRAY | VT_I4, SafeArrayCreate(VT_I4, 2, bounds));
  LONG* cells = static_cast<LONG*>(numbers.parray->pvData);  // dimension 1 varies fastest
  for (LONG j = 5; j <= 7; ++j) {
    for (LONG i = -1; i <= 0; ++i) *cells++ = 10 * i + j;
  }
  VARIANT texts{};
  // The system's conversion (and the portable one, which behaves the same)
  // copies an array but does not change its element type.
  EXPECT_EQ(VariantChangeType(&texts, &numbers, 0, VT_ARRAY | VT_BSTR), DISP_E_TYPEMISMATCH);
  ASSERT_EQ(ChangeVariantType(&texts, &numbers, 0, VT_ARRAY | VT_BSTR), S_OK);
  ASSERT_EQ(texts.vt, VT_ARRAY | VT_BSTR);
  LONG low = 0, high = 0;
  EXPECT_EQ((SafeArrayGetLBound(texts.parray, 1, &low), SafeArrayGetUBound(texts.parray, 2, &high), std::make_pair(low, high)),
            std::make_pair(LONG{-1}, LONG{7}));
  std::string joined;  // in storage order, dimension 1 fastest
  for (int k = 0; k < 6; ++k) joined += BstrToUtf8(static_cast<BSTR*>(texts.parray->pvData)[k]) + " ";
  EXPECT_EQ(joined, "-5 5 -4 6 -3 7 ");
  // And back through VARIANT elements into doubles, in place.
  ASSERT_EQ(ChangeVariantType(&texts, &texts, 0, VT_ARRAY | VT_VARIANT), S_OK);
  ASSERT_EQ(ChangeVariantType(&texts, &texts, 0, VT_ARRAY | VT_R8), S_OK);
  LONG last[2] = {0, 7};
  double element = 0;
  ASSERT_TRUE(SafeArrayGetElement(texts.parray, last, &element) == S_OK && element == 7.0);

  // A reference to an array converts as the array; scalars and arrays
  // never turn into each other.
  VARIANT reference = PointerVariant(VT_BYREF | VT_ARRAY | VT_I4, &numbers.parray), reals{};
  ASSERT_EQ(ChangeVariantType(&reals, &reference, 0, VT_ARRAY | VT_R4), S_OK);
  LONG first[2] = {-1, 5};
  float real = 0;
  ASSERT_TRUE(SafeArrayGetElement(reals.parray, first, &real) == S_OK && real == -5.0f);
  EXPECT_EQ(ChangeVariantType(&texts, &numbers, 0, VT_I4), DISP_E_TYPEMISMATCH);
  VARIANT scalar = PointerVariant(VT_I4, nullptr);
  EXPECT_EQ(ChangeVariantType(&scalar, &scalar, 0, VT_ARRAY | VT_I4), DISP_E_TYPEMISMATCH);
  VariantClear(&reals), VariantClear(&texts), VariantClear(&numbers);
}

TEST_F(VariantConversion, AFailingElementLeavesNothingBehindAndACommaIsNoDecimalPoint) {
  VARIANT dest = PointerVariant(VT_BSTR, xelo::com::AllocBstrUtf8("keep"));
  // The first failing element decides the code; the elements converted
  // before it are freed again (the fixture counts them). A decimal comma
  // must not become a thousands separator (15, or 1500).
  for (auto [texts, vt, expected] : {std::tuple{Texts({"1", "x", "99999999999"}), VT_I4, DISP_E_TYPEMISMATCH},
                                     std::tuple{Texts({"1", "2", "99999999999"}), VT_I4, DISP_E_OVERFLOW},
                                     std::tuple{Texts({"2.5", "1,5"}), VT_R8, DISP_E_TYPEMISMATCH},
                                     std::tuple{Texts({"1,500"}), VT_I4, DISP_E_TYPEMISMATCH},
                                     std::tuple{Texts({"1,500"}), VT_CY, DISP_E_TYPEMISMATCH}}) {
    EXPECT_EQ(ChangeVariantType(&dest, &texts, 0, VT_ARRAY | vt), expected);
    VARIANT variants{};
    ASSERT_EQ(ChangeVariantType(&variants, &texts, 0, VT_ARRAY | VT_VARIANT), S_OK);
    EXPECT_EQ(ChangeVariantType(&dest, &variants, 0, VT_ARRAY | vt), expected) << "through VARIANT elements";
    VariantClear(&variants), VariantClear(&texts);
  }
  EXPECT_EQ(BstrToUtf8(dest.bstrVal), "keep");
  SysReAllocString(&dest.bstrVal, OLESTR("1,5"));
  VARIANT number{};
  for (VARTYPE vt : {VT_R8, VT_I4, VT_CY}) EXPECT_EQ(ChangeVariantType(&number, &dest, 0, vt), DISP_E_TYPEMISMATCH) << vt;
  // As text, a comma stays what it is.
  VARIANT texts = Texts({"1", "2", "1,5"});
  ASSERT_EQ(ChangeVariantType(&dest, &texts, 0, VT_ARRAY | VT_BSTR), S_OK);
  BSTR* data = nullptr;
  ASSERT_EQ(SafeArrayAccessData(dest.parray, reinterpret_cast<void**>(&data)), S_OK);
  EXPECT_EQ(BstrToUtf8(data[0]) + BstrToUtf8(data[1]) + BstrToUtf8(data[2]), "121,5");
  SafeArrayUnaccessData(dest.parray);

  VARIANT none = PointerVariant(VT_ARRAY | VT_I4, nullptr);  // a null array stays null
  ASSERT_EQ(ChangeVariantType(&none, &none, 0, VT_ARRAY | VT_R8), S_OK);
  EXPECT_EQ(std::make_pair(none.vt, none.parray), std::make_pair(VARTYPE(VT_ARRAY | VT_R8), static_cast<SAFEARRAY*>(nullptr)));
  VariantClear(&texts), VariantClear(&dest);
}

}  // namespace
