#include "com/ComTesting.h"

namespace {

using xelo::com::BstrToUtf8, xelo::com::LiveAllocations, xelo::test::PointerVariant, xelo::test::Str;

class VariantLifetime : public xelo::test::PortableAllocationTest {};

using Counted = xelo::test::CountedDispatch;

VARIANT Vector(VARTYPE vt, ULONG count) { return PointerVariant(VT_ARRAY | vt, SafeArrayCreateVector(vt, 0, count)); }

TEST_F(VariantLifetime, ClearFreesWhatTheVariantOwnsAndRefusesInvalidTypesAndLockedArrays) {
  VARIANT text = Str("owned"), array = Vector(VT_BSTR, 2);
  VariantInit(&text);  // touches only the type: the string is still there
  EXPECT_EQ(text.vt, VT_EMPTY);
  text.vt = VT_BSTR;
  LONG index = 1;
  ASSERT_EQ(SafeArrayPutElement(array.parray, &index, text.bstrVal), S_OK);
  ASSERT_EQ(VariantClear(&array), S_OK);
  EXPECT_EQ(LiveAllocations().bstrs, before_.bstrs + 1);
  auto object = xelo::com::MakeComObject<Counted>();
  VARIANT unknown = PointerVariant(VT_UNKNOWN, object->GetUnknown());
  object->GetUnknown()->AddRef();
  ASSERT_EQ(VariantClear(&unknown), S_OK);
  EXPECT_EQ(object->Refs(), 1u);
  // A reference owns nothing: the string it points at survives.
  VARIANT ref = PointerVariant(VT_BYREF | VT_BSTR, &text.bstrVal);
  ASSERT_EQ(VariantClear(&ref), S_OK);
  EXPECT_EQ(BstrToUtf8(text.bstrVal), "owned");

  for (VARTYPE bad : {VARTYPE{15}, VARTYPE{VT_VARIANT}, VARTYPE{VT_VOID}, VARTYPE{VT_RECORD}, VARTYPE{73},
                      VARTYPE{0xFFF}, VARTYPE(VT_VECTOR | VT_BSTR), VARTYPE(VT_RESERVED | VT_BSTR),
                      VARTYPE(VT_ARRAY | VT_EMPTY), VARTYPE(VT_BYREF | VT_NULL)}) {
    text.vt = bad;
    EXPECT_EQ((std::tuple{VariantClear(&text), text.vt}), (std::tuple{DISP_E_BADVARTYPE, bad}));
  }
  text.vt = VT_BSTR;
  EXPECT_EQ(BstrToUtf8(text.bstrVal), "owned");
  ASSERT_EQ(VariantClear(&text), S_OK);
  EXPECT_EQ(text.vt, VT_EMPTY);
  EXPECT_EQ(VariantClear(nullptr), E_INVALIDARG);
  array = Vector(VT_I4, 1);
  ASSERT_EQ(SafeArrayLock(array.parray), S_OK);
  EXPECT_EQ((std::tuple{VariantClear(&array), array.vt}), (std::tuple{DISP_E_ARRAYISLOCKED, VARTYPE(VT_ARRAY | VT_I4)}));
  ASSERT_EQ(SafeArrayUnlock(array.parray), S_OK);
  EXPECT_EQ(VariantClear(&array), S_OK);
}

TEST_F(VariantLifetime, CopyIsDeepEvenFromInsideTheDestinationAndAFailedCopyLeaksNothing) {
  // Odd byte length and an embedded NUL must survive the copy.
  VARIANT text = PointerVariant(VT_BSTR, SysAllocStringByteLen("a\0bcd", 5));
  VARIANT copy = Str("replaced");  // the copy frees what it overwrites
  ASSERT_EQ(VariantCopy(&copy, &text), S_OK);
  ASSERT_TRUE(copy.vt == VT_BSTR && copy.bstrVal != text.bstrVal) << "a copy of its own";
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(copy.bstrVal), SysStringByteLen(copy.bstrVal)), std::string("a\0bcd", 5));
  EXPECT_EQ(LiveAllocations().bstrs, before_.bstrs + 2);

  VARIANT decimal = xelo::test::Dec(3, true, 7, 11);
  ASSERT_EQ(VariantCopy(&copy, &decimal), S_OK);
  EXPECT_EQ(std::tuple(copy.vt, std::memcmp(&copy.decVal.scale, &decimal.decVal.scale, sizeof(DECIMAL) - sizeof(USHORT))),
            std::tuple(VARTYPE{VT_DECIMAL}, 0));

  VARIANT array = Vector(VT_R8, 3);
  LONG index = 2;
  double value = 2.5, read = 0;
  ASSERT_EQ(SafeArrayPutElement(array.parray, &index, &value), S_OK);
  ASSERT_EQ(VariantCopy(&copy, &array), S_OK);
  ASSERT_NE(copy.parray, array.parray);
  ASSERT_TRUE(SafeArrayGetElement(copy.parray, &index, &read) == S_OK && read == 2.5);

  auto object = xelo::com::MakeComObject<Counted>();
  VARIANT dispatch = PointerVariant(VT_DISPATCH, object.Get());
  ASSERT_EQ(VariantCopy(&copy, &dispatch), S_OK);
  EXPECT_EQ(object->Refs(), 2u);
  ASSERT_EQ(VariantCopy(&copy, &copy), S_OK);  // copying onto itself changes nothing
  EXPECT_EQ(object->Refs(), 2u);
  // A reference is copied as a reference.
  LONG target = 9;
  VARIANT ref = PointerVariant(VT_BYREF | VT_I4, &target);
  ASSERT_EQ(VariantCopy(&copy, &ref), S_OK);
  EXPECT_EQ(std::make_pair(object->Refs(), copy.plVal), std::make_pair(ULONG{1}, &target));
  VariantClear(&array), VariantClear(&text);

  // The source is an element of the destination's own array.
  VARIANT holder = Vector(VT_VARIANT, 1), odd = PointerVariant(15, nullptr), mixed = Vector(VT_VARIANT, 3);
  VARIANT* element = nullptr;
  index = 0;
  ASSERT_EQ(SafeArrayPtrOfIndex(holder.parray, &index, reinterpret_cast<void**>(&element)), S_OK);
  *element = Str("inner");
  ASSERT_EQ(VariantCopy(&holder, element), S_OK);
  ASSERT_TRUE(holder.vt == VT_BSTR && BstrToUtf8(holder.bstrVal) == "inner");
  // An invalid source type leaves the destination alone ...
  EXPECT_EQ(std::make_tuple(VariantCopy(&holder, &odd), VariantCopy(nullptr, &odd), VariantCopy(&holder, nullptr)),
            std::make_tuple(DISP_E_BADVARTYPE, E_INVALIDARG, E_INVALIDARG));
  EXPECT_EQ(BstrToUtf8(holder.bstrVal), "inner");
  // ... but a copy that fails half-way leaves it empty, and nothing leaks.
  ASSERT_EQ(SafeArrayPtrOfIndex(mixed.parray, &index, reinterpret_cast<void**>(&element)), S_OK);
  element[0] = Str("first");
  element[1].vt = 15;
  EXPECT_EQ((std::tuple{VariantCopy(&holder, &mixed), holder.vt}), (std::tuple{DISP_E_BADVARTYPE, VARTYPE{VT_EMPTY}}));
  element[1].vt = VT_EMPTY;
  VariantClear(&mixed);
}

TEST_F(VariantLifetime, CopyIndFollowsReferences) {
  LONG number = 42;
  BSTR text = xelo::com::AllocBstrUtf8("text");
  VARIANT ref = PointerVariant(VT_BYREF | VT_I4, &number), copy{};
  ASSERT_EQ(VariantCopyInd(&copy, &ref), S_OK);
  EXPECT_EQ(std::make_pair(copy.vt, copy.lVal), std::make_pair(VARTYPE{VT_I4}, LONG{42}));
  // In place: the reference becomes an owned copy; the original stays.
  ref = PointerVariant(VT_BYREF | VT_BSTR, &text);
  ASSERT_EQ(VariantCopyInd(&ref, &ref), S_OK);
  EXPECT_TRUE(ref.vt == VT_BSTR && ref.bstrVal != text && BstrToUtf8(ref.bstrVal) == "text");
  VariantClear(&ref);
  DECIMAL decimal = xelo::test::DecimalOf(2, 0, 0, 314);
  ref = PointerVariant(VT_BYREF | VT_DECIMAL, &decimal);
  ASSERT_EQ(VariantCopyInd(&copy, &ref), S_OK);
  EXPECT_EQ(std::make_tuple(copy.vt, copy.decVal.Lo64, copy.decVal.scale), std::make_tuple(VARTYPE{VT_DECIMAL}, ULONGLONG{314}, BYTE{2}));
  SAFEARRAY* array = SafeArrayCreateVector(VT_I2, 0, 4);
  ref = PointerVariant(VT_BYREF | VT_ARRAY | VT_I2, &array);
  ASSERT_EQ(VariantCopyInd(&copy, &ref), S_OK);
  ASSERT_TRUE(copy.vt == (VT_ARRAY | VT_I2) && copy.parray != array);
  EXPECT_EQ(copy.parray->rgsabound[0].cElements, 4u);

  // Through a VARIANT, once more through a value reference, never through
  // a second VARIANT reference.
  VARIANT inner = PointerVariant(VT_BYREF | VT_I4, &number), outer = PointerVariant(VT_BYREF | VT_VARIANT, &inner);
  VARIANT chain = PointerVariant(VT_BYREF | VT_VARIANT, &outer);
  ASSERT_EQ(VariantCopyInd(&copy, &outer), S_OK);
  EXPECT_EQ(std::make_pair(copy.vt, copy.lVal), std::make_pair(VARTYPE{VT_I4}, LONG{42}));
  EXPECT_EQ(VariantCopyInd(&copy, &chain), E_INVALIDARG);
  outer.pvarVal = nullptr;
  EXPECT_EQ(VariantCopyInd(&copy, &outer), E_INVALIDARG);
  EXPECT_EQ(copy.lVal, 42);
  SafeArrayDestroy(array), SysFreeString(text);
}

}  // namespace
