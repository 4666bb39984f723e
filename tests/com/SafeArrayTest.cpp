#include "com/ComTesting.h"

namespace {

using xelo::com::BstrToUtf8, xelo::com::LiveAllocations, xelo::test::PointerVariant;

class SafeArrays : public xelo::test::PortableAllocationTest {};

// Lower and upper bound of each dimension, from dimension 1 on.
using B = std::vector<std::pair<LONG, LONG>>;
B Bounds(SAFEARRAY* psa) {
  B bounds(SafeArrayGetDim(psa));
  for (UINT dim = 1; dim <= bounds.size(); ++dim) {
    EXPECT_EQ(SafeArrayGetLBound(psa, dim, &bounds[dim - 1].first) | SafeArrayGetUBound(psa, dim, &bounds[dim - 1].second), S_OK);
  }
  return bounds;
}

TEST_F(SafeArrays, VectorLayoutAndElementTypes) {
  const std::tuple<VARTYPE, ULONG, USHORT> types[] = {
      {VT_I1, 1, 0},       {VT_UI1, 1, 0},      {VT_I2, 2, 0},        {VT_UI2, 2, 0},
      {VT_I4, 4, 0},       {VT_UI4, 4, 0},      {VT_I8, 8, 0},        {VT_UI8, 8, 0},
      {VT_INT, 4, 0},      {VT_UINT, 4, 0},     {VT_R4, 4, 0},        {VT_R8, 8, 0},
      {VT_CY, 8, 0},       {VT_DATE, 8, 0},     {VT_BOOL, 2, 0},      {VT_ERROR, 4, 0},
      {VT_DECIMAL, 16, 0}, {VT_BSTR, sizeof(void*), FADF_BSTR},      {VT_VARIANT, sizeof(VARIANT), FADF_VARIANT},
      {VT_UNKNOWN, sizeof(void*), FADF_UNKNOWN},                      {VT_DISPATCH, sizeof(void*), FADF_DISPATCH},
  };
  for (const auto& [type, size, flag] : types) {
    SCOPED_TRACE(type);
    SAFEARRAY* psa = SafeArrayCreateVector(type, -2, 5);
    ASSERT_NE(psa, nullptr);
    // Descriptor and data, both from the task allocator.
    EXPECT_EQ(LiveAllocations().taskMemory, before_.taskMemory + 2);
    EXPECT_EQ(std::make_tuple(SafeArrayGetElemsize(psa), psa->fFeatures, psa->cLocks),
              std::make_tuple(size, static_cast<USHORT>(FADF_HAVEVARTYPE | flag), ULONG{0}));
    std::uint32_t stored = 0;  // the type is kept in the four bytes before the descriptor
    std::memcpy(&stored, reinterpret_cast<const unsigned char*>(psa) - 4, sizeof stored);
    VARTYPE vt = VT_EMPTY;
    EXPECT_EQ(std::make_tuple(SafeArrayGetVartype(psa, &vt), stored, vt), std::make_tuple(S_OK, std::uint32_t{type}, type));
    EXPECT_EQ(Bounds(psa), (B{{-2, 2}}));
    EXPECT_EQ(std::vector<char>(static_cast<char*>(psa->pvData), static_cast<char*>(psa->pvData) + 5 * size), std::vector<char>(5 * size));
    ASSERT_EQ(SafeArrayDestroy(psa), S_OK);
  }
}

TEST_F(SafeArrays, RefusesBadTypesArgumentsAndSizes) {
  SAFEARRAYBOUND one{1, 0};
  for (VARTYPE bad : {VARTYPE{VT_EMPTY}, VARTYPE{VT_NULL}, VARTYPE{15}, VARTYPE{VT_RECORD}, VARTYPE{VT_LPSTR},
                      VARTYPE{VT_FILETIME}, VARTYPE{VT_VOID}, VARTYPE(VT_ARRAY | VT_I4), VARTYPE(VT_BYREF | VT_I4)}) {
    EXPECT_EQ(SafeArrayCreate(bad, 1, &one), nullptr) << bad;
  }
  // Element count times size must fit the 32-bit sizes of a SAFEARRAY.
  SAFEARRAYBOUND square[2] = {{0x10000, 0}, {0x10000, 0}}, cube[3] = {{0xFFFFFFFF, 0}, {0xFFFFFFFF, 0}, {0xFFFFFFFF, 0}};
  EXPECT_EQ((std::vector<SAFEARRAY*>{SafeArrayCreate(VT_I4, 0, &one), SafeArrayCreate(VT_I4, 1, nullptr), SafeArrayCreate(VT_UI1, 2, square),
                                     SafeArrayCreate(VT_R8, 3, cube), SafeArrayCreateVector(VT_I4, 0, 0x40000000)}),
            std::vector<SAFEARRAY*>(5, nullptr));
  EXPECT_EQ(LiveAllocations(), before_);
  // An empty dimension makes the whole array empty, however large the rest.
  SAFEARRAYBOUND empty[2] = {{0xFFFFFFFF, 0}, {0, 7}};
  SAFEARRAY* psa = SafeArrayCreate(VT_VARIANT, 2, empty);
  ASSERT_NE(psa, nullptr);
  EXPECT_EQ(Bounds(psa)[1], (std::pair<LONG, LONG>{7, 6}));
  EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
}

TEST_F(SafeArrays, TwoDimensionsAreStoredReversedAndColumnMajor) {
  SAFEARRAYBOUND bounds[2] = {{3, 1}, {2, -1}};  // dimension 1: 1..3, dimension 2: -1..0
  SAFEARRAY* psa = SafeArrayCreate(VT_I4, 2, bounds);
  ASSERT_NE(psa, nullptr);
  const SAFEARRAYBOUND* stored = psa->rgsabound;
  EXPECT_EQ(std::make_tuple(stored[0].lLbound, stored[0].cElements, stored[1].lLbound, stored[1].cElements),
            std::make_tuple(LONG{-1}, ULONG{2}, LONG{1}, ULONG{3}));
  EXPECT_EQ(Bounds(psa), (B{{1, 3}, {-1, 0}}));
  LONG value = 0;
  EXPECT_EQ(std::make_pair(SafeArrayGetLBound(psa, 0, &value), SafeArrayGetUBound(psa, 3, &value)),
            std::make_pair(DISP_E_BADINDEX, DISP_E_BADINDEX));
  for (LONG i = 1; i <= 3; ++i) {
    for (LONG j = -1; j <= 0; ++j) {
      LONG index[2] = {i, j};
      value = 100 * i + (j + 2);
      ASSERT_EQ(SafeArrayPutElement(psa, index, &value), S_OK);
    }
  }
  // Dimension 1 varies fastest.
  LONG* data = nullptr;
  LONG index[2] = {2, 0};
  void* cell = nullptr;
  ASSERT_EQ(SafeArrayAccessData(psa, reinterpret_cast<void**>(&data)) | SafeArrayPtrOfIndex(psa, index, &cell), S_OK);
  EXPECT_EQ(std::vector<LONG>(data, data + 6), (std::vector<LONG>{101, 201, 301, 102, 202, 302}));
  EXPECT_EQ(cell, data + 4);
  ASSERT_EQ(SafeArrayUnaccessData(psa), S_OK);

  LONG outside[][2] = {{0, 0}, {4, 0}, {1, -2}, {1, 1}};
  for (auto& bad : outside) {
    EXPECT_EQ(std::make_tuple(SafeArrayGetElement(psa, bad, &value), SafeArrayPutElement(psa, bad, &value), SafeArrayPtrOfIndex(psa, bad, &cell)),
              std::make_tuple(DISP_E_BADINDEX, DISP_E_BADINDEX, DISP_E_BADINDEX)) << bad[0] << "," << bad[1];
  }
  EXPECT_EQ((std::vector<HRESULT>{SafeArrayGetElement(psa, nullptr, &value), SafeArrayGetElement(psa, index, nullptr),
                                   SafeArrayPutElement(psa, index, nullptr), SafeArrayPutElement(nullptr, index, &value),
                                   SafeArrayGetLBound(psa, 1, nullptr), SafeArrayGetUBound(nullptr, 1, &value)}),
            std::vector<HRESULT>(6, E_INVALIDARG));
  EXPECT_EQ((std::tuple{SafeArrayGetElement(psa, index, &value), value}), (std::tuple{S_OK, LONG{202}}));
  EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
}

TEST_F(SafeArrays, StringVariantAndInterfaceElementsAreOwnedAndCopiedDeeply) {
  SAFEARRAY* strings = SafeArrayCreateVector(VT_BSTR, 10, 3);
  BSTR text = xelo::com::AllocBstrUtf8("alpha"), out = nullptr;
  LONG first = 10, middle = 11, last = 12, zero = 0;
  ASSERT_EQ(SafeArrayPutElement(strings, &first, text) | SafeArrayPutElement(strings, &last, text), S_OK);
  SysFreeString(text);  // the array keeps its own copies
  EXPECT_EQ(LiveAllocations().bstrs, before_.bstrs + 2);
  ASSERT_EQ(SafeArrayGetElement(strings, &first, &out), S_OK);
  EXPECT_TRUE(BstrToUtf8(out) == "alpha" && out != static_cast<BSTR*>(strings->pvData)[0]) << "a copy of its own";
  SysFreeString(out);
  // An untouched element is a null BSTR.
  EXPECT_EQ((std::tuple{SafeArrayGetElement(strings, &middle, &out), out}), (std::tuple{S_OK, BSTR{}}));
  // Replacing frees the old string; a null BSTR is a legal element.
  EXPECT_EQ((std::tuple{SafeArrayPutElement(strings, &last, nullptr), LiveAllocations().bstrs}), (std::tuple{S_OK, before_.bstrs + 1}));

  // A VARIANT element holding the string array; copies of copies stay deep.
  SAFEARRAY* variants = SafeArrayCreateVector(VT_VARIANT, 0, 1);
  VARIANT inner = PointerVariant(VT_ARRAY | VT_BSTR, strings);
  ASSERT_EQ(SafeArrayPutElement(variants, &zero, &inner), S_OK);
  ASSERT_EQ(SafeArrayDestroy(strings), S_OK);
  SAFEARRAY* copy = nullptr;
  ASSERT_EQ(SafeArrayCopy(variants, &copy), S_OK);
  EXPECT_EQ(SafeArrayDestroy(variants), S_OK);
  VARIANT element;
  element.vt = 15;  // garbage: GetElement treats the target as uninitialised
  ASSERT_EQ(SafeArrayGetElement(copy, &zero, &element), S_OK);
  ASSERT_EQ(element.vt, VT_ARRAY | VT_BSTR);
  EXPECT_EQ(BstrToUtf8(static_cast<BSTR*>(element.parray->pvData)[0]), "alpha");
  VariantClear(&element);
  EXPECT_EQ(SafeArrayDestroy(copy), S_OK);

  auto a = xelo::com::MakeComObject<xelo::test::CountedUnknown>(), b = xelo::com::MakeComObject<xelo::test::CountedUnknown>();
  SAFEARRAY* objects = SafeArrayCreateVector(VT_UNKNOWN, 0, 2);
  ASSERT_EQ(SafeArrayPutElement(objects, &zero, a->GetUnknown()), S_OK);
  ASSERT_EQ(SafeArrayPutElement(objects, &zero, a->GetUnknown()), S_OK);  // same element again: still one reference
  EXPECT_EQ(a->Refs(), 2u);
  ASSERT_EQ(SafeArrayPutElement(objects, &zero, b->GetUnknown()), S_OK);
  IUnknown* got = nullptr;
  ASSERT_EQ(SafeArrayGetElement(objects, &zero, &got), S_OK);
  EXPECT_EQ(std::make_tuple(a->Refs(), got, b->Refs()), std::make_tuple(ULONG{1}, b->GetUnknown(), ULONG{3}));
  got->Release();
  ASSERT_EQ(SafeArrayCopy(objects, &copy), S_OK);
  EXPECT_EQ(b->Refs(), 3u);
  EXPECT_EQ(std::make_pair(SafeArrayDestroy(copy), SafeArrayDestroy(objects)), std::make_pair(S_OK, S_OK));
  EXPECT_EQ(b->Refs(), 1u);
}

TEST_F(SafeArrays, LocksFollowComRulesAndAreNotCopied) {
  SAFEARRAYBOUND bounds[2] = {{2, 5}, {2, -3}}, bigger{4, 0};
  SAFEARRAY* psa = SafeArrayCreate(VT_DECIMAL, 2, bounds);
  LONG index[2] = {6, -2};
  DECIMAL value = xelo::test::DecimalOf(4, DECIMAL_NEG, 1, 2), read{};
  ASSERT_EQ(SafeArrayPutElement(psa, index, &value), S_OK);
  EXPECT_EQ(SafeArrayUnlock(psa), E_UNEXPECTED);
  ASSERT_EQ(SafeArrayLock(psa) | SafeArrayLock(psa), S_OK);
  EXPECT_EQ(std::make_tuple(psa->cLocks, SafeArrayDestroy(psa), SafeArrayRedim(psa, &bigger)),
            std::make_tuple(ULONG{2}, DISP_E_ARRAYISLOCKED, DISP_E_ARRAYISLOCKED));
  EXPECT_EQ(Bounds(psa), (B{{5, 6}, {-3, -2}}));
  SAFEARRAY* copy = nullptr;
  ASSERT_EQ(SafeArrayCopy(psa, &copy), S_OK);
  ASSERT_TRUE(copy != nullptr && copy->pvData != psa->pvData);
  EXPECT_EQ(std::make_pair(copy->cLocks, copy->fFeatures), std::make_pair(ULONG{0}, psa->fFeatures));
  EXPECT_EQ(Bounds(copy), (B{{5, 6}, {-3, -2}}));
  ASSERT_TRUE(SafeArrayGetElement(copy, index, &read) == S_OK && std::memcmp(&read, &value, sizeof read) == 0);
  EXPECT_EQ(SafeArrayDestroy(copy), S_OK);
  EXPECT_EQ((std::tuple{SafeArrayCopy(nullptr, &copy), copy}), (std::tuple{S_OK, static_cast<SAFEARRAY*>(nullptr)}));
  ASSERT_EQ(SafeArrayUnlock(psa) | SafeArrayUnlock(psa), S_OK);
  void* data = nullptr;
  ASSERT_TRUE(SafeArrayAccessData(psa, &data) == S_OK && data == psa->pvData);
  EXPECT_EQ((std::tuple{SafeArrayDestroy(psa), SafeArrayUnaccessData(psa), SafeArrayUnaccessData(psa)}),
            (std::tuple{DISP_E_ARRAYISLOCKED, S_OK, E_UNEXPECTED}));

  EXPECT_EQ((std::vector<HRESULT>{SafeArrayLock(nullptr), SafeArrayUnlock(nullptr), SafeArrayAccessData(nullptr, &data),
                                   SafeArrayAccessData(psa, nullptr), SafeArrayGetVartype(nullptr, nullptr),
                                   SafeArrayRedim(psa, nullptr), SafeArrayCopy(psa, nullptr)}),
            std::vector<HRESULT>(7, E_INVALIDARG));
  EXPECT_EQ(SafeArrayGetDim(nullptr) + SafeArrayGetElemsize(nullptr), 0u);
  EXPECT_EQ(std::make_pair(SafeArrayDestroy(nullptr), SafeArrayDestroy(psa)), std::make_pair(S_OK, S_OK));
}

TEST_F(SafeArrays, RedimResizesTheLastDimension) {
  SAFEARRAY* psa = SafeArrayCreateVector(VT_BSTR, 0, 4);
  for (LONG i = 0; i < 4; ++i) {
    BSTR text = xelo::com::AllocBstrUtf8(std::to_string(i));
    ASSERT_EQ(SafeArrayPutElement(psa, &i, text), S_OK);
    SysFreeString(text);
  }
  SAFEARRAYBOUND shorter{2, 0}, moved{5, 10}, huge{0xFFFFFFFF, 0};
  ASSERT_EQ(SafeArrayRedim(psa, &shorter), S_OK);
  EXPECT_EQ(LiveAllocations().bstrs, before_.bstrs + 2);  // the two dropped strings were freed
  // Elements keep their place; the new lower bound renumbers them.
  ASSERT_EQ(SafeArrayRedim(psa, &moved), S_OK);
  std::string texts;
  for (LONG i = 10; i <= 14; ++i) {
    BSTR out = nullptr;
    ASSERT_EQ(SafeArrayGetElement(psa, &i, &out), S_OK);
    texts += BstrToUtf8(out) + ";";
    SysFreeString(out);
  }
  EXPECT_EQ(texts, "0;1;;;;");
  // A size that does not fit is refused and the array stays as it was.
  EXPECT_EQ((std::tuple{SafeArrayRedim(psa, &huge), Bounds(psa)}), (std::tuple{E_OUTOFMEMORY, B{{10, 14}}}));
  EXPECT_EQ(SafeArrayDestroy(psa), S_OK);

  // In two dimensions only the right-most one changes; the rest of the
  // data is a kept prefix.
  SAFEARRAYBOUND bounds[2] = {{2, 0}, {3, 0}}, two{2, 1};
  psa = SafeArrayCreate(VT_I2, 2, bounds);
  for (SHORT k = 0; k < 6; ++k) static_cast<SHORT*>(psa->pvData)[k] = static_cast<SHORT>(k + 1);
  ASSERT_EQ(SafeArrayRedim(psa, &two), S_OK);
  EXPECT_EQ(Bounds(psa), (B{{0, 1}, {1, 2}}));
  LONG index[2] = {1, 2};
  SHORT value = 0;
  EXPECT_EQ((std::tuple{SafeArrayGetElement(psa, index, &value), value}), (std::tuple{S_OK, SHORT{4}}));
  EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
}

}  // namespace
