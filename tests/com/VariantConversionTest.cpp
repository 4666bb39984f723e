#include "xelo/com/BStr.h"
#include "xelo/com/SafeArray.h"
#include "xelo/com/VariantConversion.h"

#include "support/AllocationCheckedTest.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

namespace {

using xelo::com::BstrToUtf8;
using xelo::com::ChangeVariantType;

class VariantConversion : public xelo::test::AllocationCheckedTest {};

SAFEARRAY* Matrix(VARTYPE vt) {
  SAFEARRAYBOUND bounds[2] = {{2, -1}, {3, 5}};  // dimension 1: -1..0, dimension 2: 5..7
  return SafeArrayCreate(vt, 2, bounds);
}

VARIANT Texts(std::initializer_list<const char*> texts) {
  VARIANT v;
  VariantInit(&v);
  v.parray = SafeArrayCreateVector(VT_BSTR, 0, static_cast<ULONG>(texts.size()));
  v.vt = VT_ARRAY | VT_BSTR;
  LONG index = 0;
  for (const char* text : texts) {
    BSTR value = xelo::com::AllocBstrUtf8(text);
    SafeArrayPutElement(v.parray, &index, value);
    SysFreeString(value);
    ++index;
  }
  return v;
}

TEST_F(VariantConversion, ArraysConvertElementByElementWhereTheSystemRefuses) {
  VARIANT numbers;
  VariantInit(&numbers);
  numbers.parray = Matrix(VT_I4);
  numbers.vt = VT_ARRAY | VT_I4;
  for (LONG i = -1; i <= 0; ++i) {
    for (LONG j = 5; j <= 7; ++j) {
      LONG index[2] = {i, j};
      LONG value = 10 * i + j;
      ASSERT_EQ(SafeArrayPutElement(numbers.parray, index, &value), S_OK);
    }
  }
  VARIANT texts;
  VariantInit(&texts);
  // The system's conversion (and the portable one, which behaves the same)
  // copies an array but does not change its element type.
  EXPECT_EQ(VariantChangeType(&texts, &numbers, 0, VT_ARRAY | VT_BSTR), DISP_E_TYPEMISMATCH);
  ASSERT_EQ(ChangeVariantType(&texts, &numbers, 0, VT_ARRAY | VT_BSTR), S_OK);
  ASSERT_EQ(texts.vt, VT_ARRAY | VT_BSTR);
  ASSERT_EQ(SafeArrayGetDim(texts.parray), 2u);
  LONG bound = 0;
  EXPECT_EQ((SafeArrayGetLBound(texts.parray, 1, &bound), bound), -1);
  EXPECT_EQ((SafeArrayGetUBound(texts.parray, 2, &bound), bound), 7);
  for (LONG i = -1; i <= 0; ++i) {
    for (LONG j = 5; j <= 7; ++j) {
      LONG index[2] = {i, j};
      BSTR element = nullptr;
      ASSERT_EQ(SafeArrayGetElement(texts.parray, index, &element), S_OK);
      EXPECT_EQ(BstrToUtf8(element), std::to_string(10 * i + j));
      SysFreeString(element);
    }
  }
  // And back through VARIANT elements into doubles, in place.
  ASSERT_EQ(ChangeVariantType(&texts, &texts, 0, VT_ARRAY | VT_VARIANT), S_OK);
  ASSERT_EQ(ChangeVariantType(&texts, &texts, 0, VT_ARRAY | VT_R8), S_OK);
  LONG last[2] = {0, 7};
  double element = 0;
  ASSERT_EQ(SafeArrayGetElement(texts.parray, last, &element), S_OK);
  EXPECT_EQ(element, 7.0);

  // A reference to an array converts as the array; scalars and arrays
  // never turn into each other.
  VARIANT reference;
  VariantInit(&reference);
  reference.vt = VT_BYREF | VT_ARRAY | VT_I4;
  reference.pparray = &numbers.parray;
  VARIANT reals;
  VariantInit(&reals);
  ASSERT_EQ(ChangeVariantType(&reals, &reference, 0, VT_ARRAY | VT_R4), S_OK);
  LONG first[2] = {-1, 5};
  float real = 0;
  ASSERT_EQ(SafeArrayGetElement(reals.parray, first, &real), S_OK);
  EXPECT_EQ(real, -5.0f);
  EXPECT_EQ(ChangeVariantType(&texts, &numbers, 0, VT_I4), DISP_E_TYPEMISMATCH);
  VARIANT scalar;
  VariantInit(&scalar);
  scalar.vt = VT_I4;
  scalar.lVal = 1;
  EXPECT_EQ(ChangeVariantType(&scalar, &scalar, 0, VT_ARRAY | VT_I4), DISP_E_TYPEMISMATCH);
  VariantClear(&reals);
  VariantClear(&texts);
  VariantClear(&numbers);
}

TEST_F(VariantConversion, AFailingElementLeavesNothingBehind) {
  VARIANT texts = Texts({"1", "x", "99999999999"});
  VARIANT dest;
  dest.vt = VT_BSTR;
  dest.bstrVal = xelo::com::AllocBstrUtf8("keep");
  // The first failing element decides the code; the elements converted
  // before it are freed again (the fixture counts them).
  EXPECT_EQ(ChangeVariantType(&dest, &texts, 0, VT_ARRAY | VT_I4), DISP_E_TYPEMISMATCH);
  VariantClear(&texts);
  texts = Texts({"1", "2", "99999999999"});
  EXPECT_EQ(ChangeVariantType(&dest, &texts, 0, VT_ARRAY | VT_I4), DISP_E_OVERFLOW);
  EXPECT_EQ(BstrToUtf8(dest.bstrVal), "keep");

  VARIANT variants;
  VariantInit(&variants);
  ASSERT_EQ(ChangeVariantType(&variants, &texts, 0, VT_ARRAY | VT_VARIANT), S_OK);
  EXPECT_EQ(ChangeVariantType(&dest, &variants, 0, VT_ARRAY | VT_I2), DISP_E_OVERFLOW);
  VariantClear(&texts);
  texts = Texts({"1", "2", "3"});
  ASSERT_EQ(ChangeVariantType(&variants, &texts, 0, VT_ARRAY | VT_VARIANT), S_OK);
  ASSERT_EQ(ChangeVariantType(&dest, &variants, 0, VT_ARRAY | VT_I2), S_OK);
  SHORT* data = nullptr;
  ASSERT_EQ(SafeArrayAccessData(dest.parray, reinterpret_cast<void**>(&data)), S_OK);
  EXPECT_EQ(data[0] * 100 + data[1] * 10 + data[2], 123);
  SafeArrayUnaccessData(dest.parray);

  VARIANT none;
  VariantInit(&none);
  none.vt = VT_ARRAY | VT_I4;  // a null array stays null
  none.parray = nullptr;
  ASSERT_EQ(ChangeVariantType(&none, &none, 0, VT_ARRAY | VT_R8), S_OK);
  EXPECT_EQ(none.vt, VT_ARRAY | VT_R8);
  EXPECT_EQ(none.parray, nullptr);
  VariantClear(&variants);
  VariantClear(&texts);
  VariantClear(&dest);
}

TEST_F(VariantConversion, TextIsReadWithAPointAndNeverWithACommaWhateverTheUsersSettings) {
  VARIANT text;
  text.vt = VT_BSTR;
  text.bstrVal = SysAllocString(OLESTR("1.5"));
  VARIANT number;
  VariantInit(&number);
  ASSERT_EQ(ChangeVariantType(&number, &text, 0, VT_R8), S_OK);
  EXPECT_EQ(number.dblVal, 1.5);
  // A decimal comma must not become a thousands separator (15, or 1500).
  for (const OLECHAR* comma : {OLESTR("1,5"), OLESTR("1,500")}) {
    SysReAllocString(&text.bstrVal, comma);
    for (const VARTYPE vt : {VARTYPE{VT_R8}, VARTYPE{VT_I4}, VARTYPE{VT_CY}}) {
      EXPECT_EQ(ChangeVariantType(&number, &text, 0, vt), DISP_E_TYPEMISMATCH) << vt;
    }
  }
  EXPECT_EQ(number.vt, VT_R8) << "left as it was";
  VARIANT texts = Texts({"2.5", "1,5"});
  EXPECT_EQ(ChangeVariantType(&number, &texts, 0, VT_ARRAY | VT_R8), DISP_E_TYPEMISMATCH);
  // As text, a comma stays what it is.
  VARIANT copy;
  VariantInit(&copy);
  ASSERT_EQ(ChangeVariantType(&copy, &text, 0, VT_BSTR), S_OK);
  EXPECT_EQ(BstrToUtf8(copy.bstrVal), "1,500");
  VariantClear(&copy);
  VariantClear(&texts);
  VariantClear(&text);
}

}  // namespace
