#include "com/ComTesting.h"

#include <cmath>
#include <cstdio>
#include <limits>

namespace {

using xelo::com::AllocBstrUtf8, xelo::com::BstrToUtf8, xelo::test::Dec, xelo::test::PointerVariant, xelo::test::Str;

class VariantConvert : public xelo::test::PortableAllocationTest {};

// Every value member of a VARIANT starts where the union starts.
template <VARTYPE Vt, class T>
VARIANT Of(T x) {
  VARIANT v{};
  std::memcpy(&v.bVal, &x, sizeof x);
  v.vt = Vt;
  return v;
}
VARIANT I1(signed char x) { return Of<VT_I1>(x); }
VARIANT UI1(BYTE x) { return Of<VT_UI1>(x); }
VARIANT I2(SHORT x) { return Of<VT_I2>(x); }
VARIANT UI2(USHORT x) { return Of<VT_UI2>(x); }
VARIANT I4(LONG x) { return Of<VT_I4>(x); }
VARIANT UI4(ULONG x) { return Of<VT_UI4>(x); }
VARIANT Int(INT x) { return Of<VT_INT>(x); }
VARIANT UInt(UINT x) { return Of<VT_UINT>(x); }
VARIANT I8(LONGLONG x) { return Of<VT_I8>(x); }
VARIANT UI8(ULONGLONG x) { return Of<VT_UI8>(x); }
VARIANT R4(float x) { return Of<VT_R4>(x); }
VARIANT R8(double x) { return Of<VT_R8>(x); }
VARIANT Cy(LONGLONG x) { return Of<VT_CY>(x); }  // raw units of 1/10000
VARIANT Date(double x) { return Of<VT_DATE>(x); }
VARIANT Err(SCODE x) { return Of<VT_ERROR>(x); }
VARIANT Bool(bool x) { return Of<VT_BOOL>(static_cast<VARIANT_BOOL>(x ? VARIANT_TRUE : VARIANT_FALSE)); }
VARIANT Empty() { return VARIANT{}; }
VARIANT Null() { return PointerVariant(VT_NULL, nullptr); }

// The type and the bytes it owns, for comparing results. A BSTR must not be
// null: EMPTY -> BSTR has to give a real empty string.
std::string Describe(const VARIANT& v) {
  std::string text = "vt " + std::to_string(v.vt) + " ";
  if (v.vt == VT_BSTR) return text + (v.bstrVal == nullptr ? "null" : "\"" + BstrToUtf8(v.bstrVal) + "\"");
  const bool wide = v.vt == VT_I8 || v.vt == VT_UI8 || v.vt == VT_CY || v.vt == VT_R8 || v.vt == VT_DATE;
  const std::size_t size = v.vt == VT_DECIMAL ? sizeof(DECIMAL) - sizeof(USHORT)
                           : v.vt == VT_EMPTY || v.vt == VT_NULL ? 0
                           : v.vt == VT_I1 || v.vt == VT_UI1      ? 1
                           : v.vt == VT_I2 || v.vt == VT_UI2 || v.vt == VT_BOOL ? 2
                                                                  : (wide ? 8 : 4);
  const auto* bytes = v.vt == VT_DECIMAL ? &v.decVal.scale : reinterpret_cast<const BYTE*>(&v.bVal);
  char hex[4];
  for (std::size_t i = size; i-- > 0;) text += (std::snprintf(hex, sizeof hex, "%02X", bytes[i]), hex);
  return text;
}

struct Row {
  VARIANT from;
  VARTYPE to;
  HRESULT hr;
  VARIANT expected;
  USHORT flags = 0;
};

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN(), kInf = std::numeric_limits<double>::infinity();
constexpr LONGLONG kI8Min = std::numeric_limits<LONGLONG>::min();
constexpr ULONGLONG kUI8Max = std::numeric_limits<ULONGLONG>::max();
constexpr HRESULT kOk = S_OK, kOverflow = DISP_E_OVERFLOW, kMismatch = DISP_E_TYPEMISMATCH;

TEST_F(VariantConvert, ValuesConvertIntoFreshAndSameVariantsAndAFailureChangesNothing) {
  BSTR referenced = AllocBstrUtf8("7");
  VARIANT inner = Str("2.5");
  std::vector<Row> rows = {
      // Integers and reals keep their value or their bits, or overflow; reals round half to even.
      {I4(70000), VT_I2, kOverflow, {}}, {I4(-1), VT_UI2, kOverflow, {}}, {I4(256), VT_UI1, kOverflow, {}},
      {I4(255), VT_UI1, kOk, UI1(255)}, {I4(-128), VT_I1, kOk, I1(-128)}, {I4(-129), VT_I1, kOverflow, {}},
      {I4(128), VT_I1, kOverflow, {}}, {I2(-32768), VT_I4, kOk, I4(-32768)}, {I1(-1), VT_UI8, kOverflow, {}},
      {UI4(0xFFFFFFFF), VT_I8, kOk, I8(0xFFFFFFFFLL)}, {UI8(kUI8Max), VT_I4, kOverflow, {}},
      {UI8(kUI8Max), VT_R8, kOk, R8(18446744073709551616.0)}, {I8(kI8Min), VT_R8, kOk, R8(-9223372036854775808.0)},
      {UInt(0x80000000), VT_INT, kOk, Int(-2147483647 - 1)}, {I8(kI8Min), VT_UI8, kOk, UI8(9223372036854775808ULL)},
      {I4(16777217), VT_R4, kOk, R4(16777216.0f)}, {R8(2.5), VT_I4, kOk, I4(2)}, {R8(3.5), VT_I4, kOk, I4(4)},
      {R8(-2.5), VT_I4, kOk, I4(-2)}, {R8(2147483647.4), VT_I4, kOk, I4(2147483647)},
      {R8(2147483647.5), VT_I4, kOverflow, {}}, {R8(-0.4), VT_UI4, kOk, UI4(0)}, {R8(-0.6), VT_UI4, kOverflow, {}},
      {R4(255.5f), VT_UI1, kOverflow, {}}, {R8(9223372036854775808.0), VT_I8, kOverflow, {}},
      {R8(-9223372036854775808.0), VT_I8, kOk, I8(kI8Min)}, {R8(-kInf), VT_UI8, kOverflow, {}},
      {R8(kNaN), VT_CY, kOverflow, {}}, {R8(kNaN), VT_DECIMAL, kOverflow, {}},
      {R4(0.1f), VT_R8, kOk, R8(static_cast<double>(0.1f))}, {Date(3.5), VT_UI2, kOk, UI2(4)},
      // Dates stay inside the valid range.
      {R8(2958466.0), VT_DATE, kOverflow, {}}, {R8(2958465.5), VT_DATE, kOk, Date(2958465.5)},
      {R8(-657435.0), VT_DATE, kOverflow, {}}, {R8(-657434.5), VT_DATE, kOk, Date(-657434.5)},
      {I4(3000000), VT_DATE, kOverflow, {}}, {R8(kNaN), VT_DATE, kOverflow, {}},
      // Booleans are -1 and 0, but true is a decimal 1.
      {Bool(true), VT_I2, kOk, I2(-1)}, {Bool(true), VT_UI1, kOk, UI1(0xFF)}, {Bool(true), VT_UI8, kOk, UI8(kUI8Max)},
      {Bool(true), VT_R8, kOk, R8(-1.0)}, {Bool(true), VT_CY, kOk, Cy(-10000)}, {Bool(false), VT_UI4, kOk, UI4(0)},
      {Bool(true), VT_DECIMAL, kOk, Dec(0, false, 0, 1)}, {Bool(true), VT_BSTR, kOk, Str("-1")},
      {Bool(true), VT_BSTR, kOk, Str("True"), VARIANT_ALPHABOOL}, {Bool(false), VT_BSTR, kOk, Str("False"), VARIANT_ALPHABOOL},
      {I4(5), VT_BOOL, kOk, Bool(true)}, {I4(0), VT_BOOL, kOk, Bool(false)}, {R8(0.1), VT_BOOL, kOk, Bool(true)},
      {Str("-0.0"), VT_BOOL, kOk, Bool(false)}, {Str("2"), VT_BOOL, kOk, Bool(true)}, {Str("yes"), VT_BOOL, kMismatch, {}},
      {Str(""), VT_BOOL, kMismatch, {}},
      // Numbers become invariant text.
      {I4(-123), VT_BSTR, kOk, Str("-123")}, {UI8(kUI8Max), VT_BSTR, kOk, Str("18446744073709551615")},
      {I8(kI8Min), VT_BSTR, kOk, Str("-9223372036854775808")}, {R8(0.1), VT_BSTR, kOk, Str("0.1")},
      {R8(123456789012345678.0), VT_BSTR, kOk, Str("1.23456789012346E+17")}, {R8(1e-5), VT_BSTR, kOk, Str("1E-05")},
      {R8(-0.0), VT_BSTR, kOk, Str("0")}, {R4(0.1f), VT_BSTR, kOk, Str("0.1")}, {R4(1.0f / 3), VT_BSTR, kOk, Str("0.3333333")},
      {R4(16777216.0f), VT_BSTR, kOk, Str("1.677722E+07")}, {Dec(3, true, 0, 1500), VT_BSTR, kOk, Str("-1.5")},
      {Dec(0, false, 0, 0), VT_BSTR, kOk, Str("0")},
      {Dec(0, false, 0xFFFFFFFF, kUI8Max), VT_BSTR, kOk, Str("79228162514264337593543950335")},
      {Date(45000.5), VT_BSTR, kOk, Str("2023-03-15 12:00:00")}, {Date(45000), VT_BSTR, kOk, Str("2023-03-15")},
      {Date(3e6), VT_BSTR, E_INVALIDARG, {}}, {Err(E_FAIL), VT_BSTR, kMismatch, {}}, {Empty(), VT_BSTR, kOk, Str("")},
      {Null(), VT_BSTR, kMismatch, {}},
      // Text becomes numbers or is refused.
      {Str("  42  "), VT_I4, kOk, I4(42)}, {Str("\t-7\t"), VT_I2, kOk, I2(-7)}, {Str("+5"), VT_UI1, kOk, UI1(5)},
      {Str("1.5"), VT_I4, kOk, I4(2)}, {Str("2.5"), VT_I4, kOk, I4(2)}, {Str("1.5E+2"), VT_I2, kOk, I2(150)},
      {Str("18446744073709551615"), VT_UI8, kOk, UI8(kUI8Max)}, {Str("18446744073709551616"), VT_UI8, kOverflow, {}},
      {Str("-9223372036854775808"), VT_I8, kOk, I8(kI8Min)}, {Str("-1"), VT_UI4, kOverflow, {}},
      {Str("   "), VT_I4, kMismatch, {}}, {Str("1x"), VT_I4, kMismatch, {}}, {Str("1 2"), VT_I4, kMismatch, {}},
      {Str("0x10"), VT_I4, kMismatch, {}}, {Str("&H10"), VT_I4, kMismatch, {}}, {Str("5"), VT_ERROR, kMismatch, {}},
      {Str("03/15/2023"), VT_DATE, kMismatch, {}}, {Str(" 2023-03-15T12:00:00 "), VT_DATE, kOk, Date(45000.5)},
      {Str("06:00"), VT_DATE, kOk, Date(0.25)}, {Str("2023-02-29"), VT_DATE, kMismatch, {}},
      // Currency is scaled by ten thousand; it and decimals convert exactly, rounding half to even.
      {R8(1.23456), VT_CY, kOk, Cy(12346)}, {R8(0.03125), VT_CY, kOk, Cy(312)}, {R8(0.09375), VT_CY, kOk, Cy(938)},
      {R8(1e15), VT_CY, kOverflow, {}}, {Cy(25000), VT_I4, kOk, I4(2)}, {Cy(35000), VT_I4, kOk, I4(4)},
      {I8(922337203685477), VT_CY, kOk, Cy(9223372036854770000)}, {I8(922337203685478), VT_CY, kOverflow, {}},
      {Str("0.00005"), VT_CY, kOk, Cy(0)}, {Str("0.00015"), VT_CY, kOk, Cy(2)},
      {Str("922337203685477.5807"), VT_CY, kOk, Cy(9223372036854775807)}, {Str("922337203685477.5808"), VT_CY, kOverflow, {}},
      {Dec(5, false, 0, 123456), VT_CY, kOk, Cy(12346)}, {Cy(15000), VT_DECIMAL, kOk, Dec(1, false, 0, 15)},
      {I8(kI8Min), VT_DECIMAL, kOk, Dec(0, true, 0, 9223372036854775808ULL)}, {Dec(1, false, 0, 25), VT_I4, kOk, I4(2)},
      {Dec(1, true, 0, 35), VT_I4, kOk, I4(-4)}, {Dec(0, false, 1, 0), VT_BSTR, kOk, Str("18446744073709551616")},
      {R8(0.1), VT_DECIMAL, kOk, Dec(1, false, 0, 1)}, {R4(0.1f), VT_DECIMAL, kOk, Dec(1, false, 0, 1)},
      {R8(1.0 / 3), VT_DECIMAL, kOk, Dec(15, false, 0, 333333333333333)},
      {Str("-79228162514264337593543950335"), VT_DECIMAL, kOk, Dec(0, true, 0xFFFFFFFF, kUI8Max)},
      {Str("79228162514264337593543950336"), VT_DECIMAL, kOverflow, {}}, {Dec(29, false, 0, 1), VT_I4, E_INVALIDARG, {}},
      // Errors become only NULL, EMPTY is zero, NULL becomes nothing else.
      {Err(DISP_E_OVERFLOW), VT_I4, kMismatch, {}}, {Err(DISP_E_OVERFLOW), VT_R8, kMismatch, {}},
      {Err(DISP_E_OVERFLOW), VT_EMPTY, kMismatch, {}}, {Err(DISP_E_OVERFLOW), VT_NULL, kOk, Null()},
      {I4(5), VT_ERROR, kMismatch, {}}, {Empty(), VT_ERROR, kMismatch, {}}, {Empty(), VT_I4, kOk, I4(0)},
      {Empty(), VT_NULL, kOk, Null()}, {Str("x"), VT_EMPTY, kOk, Empty()}, {Null(), VT_I4, kMismatch, {}},
      {Null(), VT_EMPTY, kMismatch, {}}, {Null(), VT_NULL, kOk, Null()}, {Date(3e6), VT_NULL, kOk, Null()},
      // References are followed; replacing one in place frees nothing it points at.
      {PointerVariant(VT_BYREF | VT_BSTR, &referenced), VT_R8, kOk, R8(7.0)},
      {PointerVariant(VT_BYREF | VT_VARIANT, &inner), VT_I2, kOk, I2(2)},
  };
  for (std::size_t i = 0; i < rows.size(); ++i) {
    Row& row = rows[i];
    SCOPED_TRACE("row " + std::to_string(i) + ": " + Describe(row.from) + " -> vt " + std::to_string(row.to));
    VARIANT dest = I4(0x5EED), inPlace{};
    EXPECT_EQ(VariantChangeType(&dest, &row.from, row.flags, row.to), row.hr);
    EXPECT_EQ(Describe(dest), Describe(SUCCEEDED(row.hr) ? row.expected : I4(0x5EED)));
    ASSERT_EQ(VariantCopy(&inPlace, &row.from), S_OK);
    EXPECT_EQ(VariantChangeType(&inPlace, &inPlace, row.flags, row.to), row.hr);
    EXPECT_EQ(Describe(inPlace), Describe(SUCCEEDED(row.hr) ? row.expected : row.from)) << "in place";
    VariantClear(&dest), VariantClear(&inPlace), VariantClear(&row.from), VariantClear(&row.expected);
  }
  EXPECT_EQ(BstrToUtf8(referenced) + BstrToUtf8(inner.bstrVal), "72.5");
  SysFreeString(referenced), VariantClear(&inner);
}

TEST_F(VariantConvert, TextRoundTripsPreserveValuesInTheInvariantLocale) {
  // Values with at most 15 significant digits survive R8 -> text -> R8, and
  // the exact types survive whatever their magnitude.
  for (double value : {0.1, -1234.5678, 1e-10, 6.02214076e23, 299792458.0, 1.5e300, 123456789012345.0}) {
    VARIANT v = R8(value);
    ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_BSTR), S_OK);
    ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_R8), S_OK) << BstrToUtf8(v.bstrVal);
    EXPECT_EQ(v.dblVal, value);
  }
  for (const VARIANT& original : {Dec(28, true, 0, 1), Dec(7, false, 0xFFFFFFFF, kUI8Max), Dec(0, false, 5, 7)}) {
    VARIANT v = original;
    ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_BSTR), S_OK);
    ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_DECIMAL), S_OK) << BstrToUtf8(v.bstrVal);
    EXPECT_EQ(Describe(v), Describe(original));
  }
  // A German LCID would want a decimal comma.
  VARIANT number = Str("1.5");
  ASSERT_EQ(VariantChangeTypeEx(&number, &number, 0x0407, 0, VT_R8), S_OK);
  EXPECT_EQ(Describe(number), Describe(R8(1.5)));
  ASSERT_EQ(VariantChangeTypeEx(&number, &number, 0x0407, 0, VT_BSTR), S_OK);
  EXPECT_EQ(BstrToUtf8(number.bstrVal), "1.5");
  VariantClear(&number);
}

TEST_F(VariantConvert, InvalidTypesAndArgumentsAreRefused) {
  VARIANT src = I4(1), dest = Str("keep"), odd = Of<VT_VARIANT>(LONG{1});
  for (VARTYPE bad : {VARTYPE{15}, VARTYPE{VT_VOID}, VARTYPE{VT_FILETIME}, VARTYPE{0xFFF}, VARTYPE(VT_VECTOR | VT_I4),
                      VARTYPE(VT_ARRAY | VT_EMPTY), VARTYPE(VT_BYREF | VT_NULL), VARTYPE(VT_RESERVED | VT_I4)}) {
    EXPECT_EQ(VariantChangeType(&dest, &src, 0, bad), DISP_E_BADVARTYPE) << "target " << bad;
  }
  for (VARTYPE foreign : {VARTYPE{VT_RECORD}, VARTYPE{VT_VARIANT}, VARTYPE{VT_INT_PTR}, VARTYPE(VT_BYREF | VT_I4)}) {
    EXPECT_EQ(VariantChangeType(&dest, &src, 0, foreign), DISP_E_TYPEMISMATCH) << "target " << foreign;
  }
  EXPECT_EQ(std::make_tuple(VariantChangeType(&dest, &odd, 0, VT_I4), VariantChangeType(nullptr, &src, 0, VT_I4),
                            VariantChangeType(&dest, nullptr, 0, VT_I4)),
            std::make_tuple(DISP_E_BADVARTYPE, E_INVALIDARG, E_INVALIDARG));
  EXPECT_EQ(BstrToUtf8(dest.bstrVal), "keep");
  VariantClear(&dest);
}

TEST_F(VariantConvert, InterfacesConvertOnlyIntoEachOtherAndNull) {
  auto object = xelo::com::MakeComObject<xelo::test::CountedDispatch>();
  VARIANT unknown = PointerVariant(VT_UNKNOWN, object->GetUnknown()), dispatch{}, back{}, number = I4(3);
  object->GetUnknown()->AddRef();
  ASSERT_EQ(VariantChangeType(&dispatch, &unknown, 0, VT_DISPATCH), S_OK);
  ASSERT_EQ(VariantChangeType(&back, &dispatch, 0, VT_UNKNOWN), S_OK);
  EXPECT_EQ(std::make_tuple(dispatch.vt, dispatch.pdispVal, back.vt, back.punkVal, object->Refs()),
            std::make_tuple(VARTYPE{VT_DISPATCH}, static_cast<IDispatch*>(object.Get()), VARTYPE{VT_UNKNOWN}, object->GetUnknown(), ULONG{4}));
  EXPECT_EQ(std::make_tuple(VariantChangeType(&number, &unknown, 0, VT_I4), VariantChangeType(&number, &number, 0, VT_UNKNOWN),
                            VariantChangeType(&number, &unknown, 0, VT_BSTR)),
            std::make_tuple(DISP_E_TYPEMISMATCH, DISP_E_TYPEMISMATCH, DISP_E_TYPEMISMATCH));
  EXPECT_EQ(number.lVal, 3);
  VariantClear(&back), VariantClear(&dispatch);

  // An object without IDispatch is refused and keeps its count; a null one converts.
  auto plain = xelo::com::MakeComObject<xelo::test::CountedUnknown>();
  VARIANT plainUnknown = PointerVariant(VT_UNKNOWN, plain.Get());
  EXPECT_EQ(VariantChangeType(&dispatch, &plainUnknown, 0, VT_DISPATCH), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(std::make_pair(dispatch.vt, plain->Refs()), std::make_pair(VARTYPE{VT_EMPTY}, ULONG{1}));
  plainUnknown.punkVal = nullptr;
  ASSERT_EQ(VariantChangeType(&dispatch, &plainUnknown, 0, VT_DISPATCH), S_OK);
  EXPECT_EQ(dispatch.pdispVal, nullptr);

  // In place, the old reference goes and the new one stays: no net change.
  ASSERT_EQ(VariantChangeType(&unknown, &unknown, 0, VT_DISPATCH), S_OK);
  EXPECT_EQ(object->Refs(), 2u);
  ASSERT_EQ(VariantChangeType(&unknown, &unknown, 0, VT_NULL), S_OK);
  EXPECT_EQ(std::make_pair(unknown.vt, object->Refs()), std::make_pair(VARTYPE{VT_NULL}, ULONG{1}));
}

}  // namespace
