#include "xelo/com/BStr.h"
#include "xelo/com/ComObject.h"
#include "xelo/com/TaskMemory.h"
#include "xelo/com/Variant.h"

#include "com/CountedObjects.h"
#include "com/DecimalValue.h"

#include "support/NativeCom.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <utility>
#include <vector>

namespace {

using xelo::com::BstrToUtf8;

// Every test ends with the allocators where it found them.
class VariantConvert : public ::testing::Test {
 protected:
  void SetUp() override { XELO_ONLY_ON_PORTABLE_COM(); }
  void TearDown() override { EXPECT_EQ(xelo::com::LiveAllocations(), before_); }
  xelo::com::AllocationCounts before_ = xelo::com::LiveAllocations();
};

#define XELO_MAKER(Name, Type, Vt, Member) \
  VARIANT Name(Type x) {                   \
    VARIANT v{};                           \
    v.Member = x;                          \
    v.vt = Vt;                             \
    return v;                              \
  }
XELO_MAKER(I1, signed char, VT_I1, cVal)
XELO_MAKER(UI1, BYTE, VT_UI1, bVal)
XELO_MAKER(I2, SHORT, VT_I2, iVal)
XELO_MAKER(UI2, USHORT, VT_UI2, uiVal)
XELO_MAKER(I4, LONG, VT_I4, lVal)
XELO_MAKER(UI4, ULONG, VT_UI4, ulVal)
XELO_MAKER(Int, INT, VT_INT, intVal)
XELO_MAKER(UInt, UINT, VT_UINT, uintVal)
XELO_MAKER(I8, LONGLONG, VT_I8, llVal)
XELO_MAKER(UI8, ULONGLONG, VT_UI8, ullVal)
XELO_MAKER(R4, float, VT_R4, fltVal)
XELO_MAKER(R8, double, VT_R8, dblVal)
XELO_MAKER(Cy, LONGLONG, VT_CY, cyVal.int64)  // raw units of 1/10000
XELO_MAKER(Date, double, VT_DATE, date)
XELO_MAKER(Err, SCODE, VT_ERROR, scode)

XELO_MAKER(BoolBits, VARIANT_BOOL, VT_BOOL, boolVal)
XELO_MAKER(StrOf, BSTR, VT_BSTR, bstrVal)
XELO_MAKER(DecOf, DECIMAL, VT_DECIMAL, decVal)
#undef XELO_MAKER

VARIANT Bool(bool x) { return BoolBits(x ? VARIANT_TRUE : VARIANT_FALSE); }
VARIANT Str(const char* utf8) { return StrOf(xelo::com::AllocBstrUtf8(utf8)); }
VARIANT Dec(BYTE scale, bool negative, ULONG hi, ULONGLONG lo) {
  return DecOf(xelo::test::DecimalOf(scale, negative ? DECIMAL_NEG : BYTE{0}, hi, lo));
}
VARIANT Empty() { return VARIANT{}; }
VARIANT Null() { return xelo::test::PointerVariant(VT_NULL, nullptr); }

std::string Describe(const VARIANT& v) {
  if (v.vt == VT_BSTR) return "BSTR \"" + BstrToUtf8(v.bstrVal) + "\"";
  char text[96];
  std::snprintf(text, sizeof text, "vt %u bits 0x%llX real %.17g", v.vt, static_cast<unsigned long long>(v.ullVal),
                v.vt == VT_R4 ? v.fltVal : v.dblVal);
  return text;
}

template <class Real>
bool SameReal(Real a, Real b) {
  return (a == b && std::signbit(a) == std::signbit(b)) || (std::isnan(a) && std::isnan(b));
}

// Same type and value; each type compares only the bytes it owns. A BSTR
// must not be null: EMPTY -> BSTR has to give a real empty string.
bool Same(const VARIANT& a, const VARIANT& b) {
  if (a.vt != b.vt) return false;
  switch (a.vt) {
    case VT_EMPTY: case VT_NULL: return true;
    case VT_I1: case VT_UI1: return a.bVal == b.bVal;
    case VT_I2: case VT_UI2: case VT_BOOL: return a.uiVal == b.uiVal;
    case VT_R4: return SameReal(a.fltVal, b.fltVal);
    case VT_R8: case VT_DATE: return SameReal(a.dblVal, b.dblVal);
    case VT_BSTR:
      return a.bstrVal != nullptr && b.bstrVal != nullptr && xelo::com::BstrView(a.bstrVal) == xelo::com::BstrView(b.bstrVal);
    case VT_DECIMAL: return std::memcmp(&a.decVal.scale, &b.decVal.scale, sizeof(DECIMAL) - sizeof(USHORT)) == 0;
    default:  // 32-bit integers and ERROR, and the 64-bit ones
      return a.vt == VT_I8 || a.vt == VT_UI8 || a.vt == VT_CY ? a.ullVal == b.ullVal : a.ulVal == b.ulVal;
  }
}

struct Row {
  VARIANT from;
  VARTYPE to;
  HRESULT hr;
  VARIANT expected;
  USHORT flags = 0;
};

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr LONGLONG kI8Min = std::numeric_limits<LONGLONG>::min();
constexpr ULONGLONG kUI8Max = std::numeric_limits<ULONGLONG>::max();
constexpr HRESULT kOk = S_OK;
constexpr HRESULT kOverflow = DISP_E_OVERFLOW;
constexpr HRESULT kMismatch = DISP_E_TYPEMISMATCH;

// Converts each row into a fresh destination and in place; a failure must
// leave the destination exactly as it was.
void Check(std::vector<Row>& rows) {
  for (std::size_t i = 0; i < rows.size(); ++i) {
    Row& row = rows[i];
    SCOPED_TRACE("row " + std::to_string(i) + ": " + Describe(row.from) + " -> vt " + std::to_string(row.to));
    VARIANT dest = I4(0x5EED);
    EXPECT_EQ(VariantChangeType(&dest, &row.from, row.flags, row.to), row.hr);
    const VARIANT& want = SUCCEEDED(row.hr) ? row.expected : I4(0x5EED);
    EXPECT_TRUE(Same(dest, want)) << "got " << Describe(dest) << ", want " << Describe(want);
    VARIANT inPlace{};
    ASSERT_EQ(VariantCopy(&inPlace, &row.from), S_OK);
    EXPECT_EQ(VariantChangeType(&inPlace, &inPlace, row.flags, row.to), row.hr);
    EXPECT_TRUE(Same(inPlace, SUCCEEDED(row.hr) ? row.expected : row.from)) << "in place: " << Describe(inPlace);
    VariantClear(&dest), VariantClear(&inPlace);
  }
  for (Row& row : rows) VariantClear(&row.from), VariantClear(&row.expected);
}

TEST_F(VariantConvert, IntegersAndFloatsKeepTheirValueOrTheirBitsOrOverflowAndRoundHalfToEven) {
  std::vector<Row> rows = {
      {I4(70000), VT_I2, kOverflow, {}}, {I4(-1), VT_UI2, kOverflow, {}}, {I4(256), VT_UI1, kOverflow, {}},
      {I4(255), VT_UI1, kOk, UI1(255)}, {I4(-128), VT_I1, kOk, I1(-128)}, {I4(-129), VT_I1, kOverflow, {}},
      {I4(128), VT_I1, kOverflow, {}}, {I2(-32768), VT_I4, kOk, I4(-32768)}, {I1(-1), VT_UI8, kOverflow, {}},
      {UI4(0xFFFFFFFF), VT_I8, kOk, I8(0xFFFFFFFFLL)}, {UI8(kUI8Max), VT_I4, kOverflow, {}},
      {UI8(kUI8Max), VT_R8, kOk, R8(18446744073709551616.0)}, {I8(kI8Min), VT_R8, kOk, R8(-9223372036854775808.0)},
      // Same width, other signedness: the bits are kept.
      {UInt(0x80000000), VT_INT, kOk, Int(-2147483647 - 1)}, {I8(kI8Min), VT_UI8, kOk, UI8(9223372036854775808ULL)},
      {I4(16777217), VT_R4, kOk, R4(16777216.0f)},  // nearest float
      {R8(2.5), VT_I4, kOk, I4(2)}, {R8(3.5), VT_I4, kOk, I4(4)}, {R8(-2.5), VT_I4, kOk, I4(-2)},
      {R8(2147483647.4), VT_I4, kOk, I4(2147483647)},
      {R8(2147483647.5), VT_I4, kOverflow, {}},  // rounds to 2^31
      {R8(-0.4), VT_UI4, kOk, UI4(0)}, {R8(-0.6), VT_UI4, kOverflow, {}}, {R4(255.5f), VT_UI1, kOverflow, {}},
      {R8(9223372036854775808.0), VT_I8, kOverflow, {}}, {R8(-9223372036854775808.0), VT_I8, kOk, I8(kI8Min)},
      {R8(-kInf), VT_UI8, kOverflow, {}}, {R8(kNaN), VT_CY, kOverflow, {}}, {R8(kNaN), VT_DECIMAL, kOverflow, {}},
      {R4(0.1f), VT_R8, kOk, R8(static_cast<double>(0.1f))}, {Date(3.5), VT_UI2, kOk, UI2(4)},
      // Dates stay inside the valid range.
      {R8(2958466.0), VT_DATE, kOverflow, {}}, {R8(2958465.5), VT_DATE, kOk, Date(2958465.5)},
      {R8(-657435.0), VT_DATE, kOverflow, {}}, {R8(-657434.5), VT_DATE, kOk, Date(-657434.5)},
      {I4(3000000), VT_DATE, kOverflow, {}}, {R8(kNaN), VT_DATE, kOverflow, {}},
  };
  Check(rows);
}

TEST_F(VariantConvert, BooleansAreMinusOneAndZeroButTrueIsADecimalOne) {
  std::vector<Row> rows = {
      {Bool(true), VT_I2, kOk, I2(-1)}, {Bool(true), VT_UI1, kOk, UI1(0xFF)}, {Bool(true), VT_UI8, kOk, UI8(kUI8Max)},
      {Bool(true), VT_R8, kOk, R8(-1.0)}, {Bool(true), VT_CY, kOk, Cy(-10000)}, {Bool(false), VT_UI4, kOk, UI4(0)},
      {Bool(true), VT_DECIMAL, kOk, Dec(0, false, 0, 1)}, {Bool(true), VT_BSTR, kOk, Str("-1")},
      {Bool(true), VT_BSTR, kOk, Str("True"), VARIANT_ALPHABOOL}, {Bool(false), VT_BSTR, kOk, Str("False"), VARIANT_ALPHABOOL},
      {I4(5), VT_BOOL, kOk, Bool(true)}, {I4(0), VT_BOOL, kOk, Bool(false)}, {R8(0.1), VT_BOOL, kOk, Bool(true)},
      {Str("-0.0"), VT_BOOL, kOk, Bool(false)}, {Str("2"), VT_BOOL, kOk, Bool(true)}, {Str("yes"), VT_BOOL, kMismatch, {}},
      {Str(""), VT_BOOL, kMismatch, {}},
  };
  Check(rows);
}

TEST_F(VariantConvert, NumbersBecomeInvariantText) {
  std::vector<Row> rows = {
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
  };
  Check(rows);
}

TEST_F(VariantConvert, TextBecomesNumbersOrIsRefused) {
  std::vector<Row> rows = {
      {Str("  42  "), VT_I4, kOk, I4(42)}, {Str("\t-7\t"), VT_I2, kOk, I2(-7)}, {Str("+5"), VT_UI1, kOk, UI1(5)},
      {Str("1.5"), VT_I4, kOk, I4(2)}, {Str("2.5"), VT_I4, kOk, I4(2)}, {Str("1.5E+2"), VT_I2, kOk, I2(150)},
      {Str("18446744073709551615"), VT_UI8, kOk, UI8(kUI8Max)}, {Str("18446744073709551616"), VT_UI8, kOverflow, {}},
      {Str("-9223372036854775808"), VT_I8, kOk, I8(kI8Min)}, {Str("-1"), VT_UI4, kOverflow, {}},
      {Str("   "), VT_I4, kMismatch, {}}, {Str("1x"), VT_I4, kMismatch, {}}, {Str("1 2"), VT_I4, kMismatch, {}},
      {Str("0x10"), VT_I4, kMismatch, {}}, {Str("&H10"), VT_I4, kMismatch, {}}, {Str("5"), VT_ERROR, kMismatch, {}},
      {Str("03/15/2023"), VT_DATE, kMismatch, {}}, {Str(" 2023-03-15T12:00:00 "), VT_DATE, kOk, Date(45000.5)},
      {Str("06:00"), VT_DATE, kOk, Date(0.25)}, {Str("2023-02-29"), VT_DATE, kMismatch, {}},
  };
  Check(rows);
}

TEST_F(VariantConvert, CurrencyAndDecimalsConvertExactly) {
  std::vector<Row> rows = {
      // Currency is scaled by ten thousand and rounds half to even.
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
  };
  Check(rows);
}

TEST_F(VariantConvert, ErrorsBecomeOnlyNullEmptyIsZeroAndNullBecomesNothingElse) {
  std::vector<Row> rows = {
      {Err(DISP_E_OVERFLOW), VT_I4, kMismatch, {}}, {Err(DISP_E_OVERFLOW), VT_R8, kMismatch, {}},
      {Err(DISP_E_OVERFLOW), VT_EMPTY, kMismatch, {}}, {Err(DISP_E_OVERFLOW), VT_NULL, kOk, Null()},
      {I4(5), VT_ERROR, kMismatch, {}}, {Empty(), VT_ERROR, kMismatch, {}}, {Empty(), VT_I4, kOk, I4(0)},
      {Empty(), VT_NULL, kOk, Null()}, {Str("x"), VT_EMPTY, kOk, Empty()}, {Null(), VT_I4, kMismatch, {}},
      {Null(), VT_EMPTY, kMismatch, {}}, {Null(), VT_NULL, kOk, Null()}, {Date(3e6), VT_NULL, kOk, Null()},
  };
  Check(rows);
}

TEST_F(VariantConvert, TextRoundTripsPreserveValues) {
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
    EXPECT_TRUE(Same(v, original)) << Describe(v);
  }
  // The locale is always the invariant one: a German LCID would want a decimal comma.
  VARIANT number = Str("1.5");
  ASSERT_EQ(VariantChangeTypeEx(&number, &number, 0x0407, 0, VT_R8), S_OK);
  EXPECT_TRUE(Same(number, R8(1.5))) << Describe(number);
  ASSERT_EQ(VariantChangeTypeEx(&number, &number, 0x0407, 0, VT_BSTR), S_OK);
  EXPECT_EQ(BstrToUtf8(number.bstrVal), "1.5");
  VariantClear(&number);
}

TEST_F(VariantConvert, InvalidTypesAndArgumentsAreRefused) {
  VARIANT src = I4(1), dest = Str("keep");
  for (VARTYPE bad : {VARTYPE{15}, VARTYPE{VT_VOID}, VARTYPE{VT_FILETIME}, VARTYPE{0xFFF}, VARTYPE(VT_VECTOR | VT_I4),
                      VARTYPE(VT_ARRAY | VT_EMPTY), VARTYPE(VT_BYREF | VT_NULL), VARTYPE(VT_RESERVED | VT_I4)}) {
    EXPECT_EQ(VariantChangeType(&dest, &src, 0, bad), DISP_E_BADVARTYPE) << "target " << bad;
  }
  for (VARTYPE foreign : {VARTYPE{VT_RECORD}, VARTYPE{VT_VARIANT}, VARTYPE{VT_INT_PTR}, VARTYPE(VT_BYREF | VT_I4)}) {
    EXPECT_EQ(VariantChangeType(&dest, &src, 0, foreign), DISP_E_TYPEMISMATCH) << "target " << foreign;
  }
  VARIANT odd = I4(1);
  odd.vt = VT_VARIANT;
  EXPECT_EQ(VariantChangeType(&dest, &odd, 0, VT_I4), DISP_E_BADVARTYPE) << "source";
  EXPECT_EQ(std::make_pair(VariantChangeType(nullptr, &src, 0, VT_I4), VariantChangeType(&dest, nullptr, 0, VT_I4)),
            std::make_pair(E_INVALIDARG, E_INVALIDARG));
  EXPECT_EQ(BstrToUtf8(dest.bstrVal), "keep");
  VariantClear(&dest);
}

TEST_F(VariantConvert, ReferencesAreFollowedAndNeverFreed) {
  BSTR owned = xelo::com::AllocBstrUtf8("7");
  VARIANT ref = xelo::test::PointerVariant(VT_BYREF | VT_BSTR, &owned);
  VARIANT number{};
  ASSERT_EQ(VariantChangeType(&number, &ref, 0, VT_I4), S_OK);
  EXPECT_TRUE(Same(number, I4(7)));
  // In place: the reference is replaced, the string it pointed at lives on.
  ASSERT_EQ(VariantChangeType(&ref, &ref, 0, VT_R8), S_OK);
  EXPECT_TRUE(Same(ref, R8(7.0)));
  EXPECT_EQ(BstrToUtf8(owned), "7");
  SysFreeString(owned);
  VARIANT inner = Str("2.5");
  ref = xelo::test::PointerVariant(VT_BYREF | VT_VARIANT, &inner);
  ASSERT_EQ(VariantChangeType(&number, &ref, 0, VT_I2), S_OK);
  EXPECT_TRUE(Same(number, I2(2)));
  VariantClear(&inner);
}

TEST_F(VariantConvert, InterfacesConvertOnlyIntoEachOtherAndNull) {
  auto object = xelo::com::MakeComObject<xelo::test::CountedDispatch>();
  VARIANT unknown = xelo::test::PointerVariant(VT_UNKNOWN, object->GetUnknown());
  object->GetUnknown()->AddRef();
  VARIANT dispatch{}, back{};
  ASSERT_EQ(VariantChangeType(&dispatch, &unknown, 0, VT_DISPATCH), S_OK);
  EXPECT_EQ(std::make_pair(dispatch.vt, dispatch.pdispVal), std::make_pair(VARTYPE{VT_DISPATCH}, static_cast<IDispatch*>(object.Get())));
  ASSERT_EQ(VariantChangeType(&back, &dispatch, 0, VT_UNKNOWN), S_OK);
  EXPECT_EQ(std::make_pair(back.vt, back.punkVal), std::make_pair(VARTYPE{VT_UNKNOWN}, object->GetUnknown()));
  EXPECT_EQ(object->Refs(), 4u);
  VARIANT number = I4(3);
  EXPECT_EQ(VariantChangeType(&number, &unknown, 0, VT_I4), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(VariantChangeType(&number, &number, 0, VT_UNKNOWN), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(VariantChangeType(&number, &unknown, 0, VT_BSTR), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(number.lVal, 3);
  VariantClear(&back), VariantClear(&dispatch);

  // An object without IDispatch is refused and keeps its count; a null one converts.
  auto plain = xelo::com::MakeComObject<xelo::test::CountedUnknown>();
  VARIANT plainUnknown = xelo::test::PointerVariant(VT_UNKNOWN, plain.Get());
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
