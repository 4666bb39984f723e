#include "xelo/com/EnumeratorImpl.h"

#include "support/AllocationCheckedTest.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

// An interface with IEnumGUID's shape and an IID of its own, as OPC's
// server-list enumerator has.
inline constexpr IID IID_ITestEnumGuid{0x7E1A0C31, 0x55AA, 0x4F00, {0x9B, 0x10, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06}};
struct ITestEnumGuid : public IUnknown {
  STDMETHOD(Next)(ULONG celt, GUID* rgelt, ULONG* pceltFetched) PURE;
  STDMETHOD(Skip)(ULONG celt) PURE;
  STDMETHOD(Reset)() PURE;
  STDMETHOD(Clone)(ITestEnumGuid** ppenum) PURE;
};
XELO_DECLARE_IID(ITestEnumGuid);

namespace {

using xelo::com::ComPtr;
using xelo::test::RefsOf;

class EnumeratorImpl : public xelo::test::AllocationCheckedTest {};

xelo::com::OleString Take(LPOLESTR text) {
  xelo::com::OleString copy(text);
  CoTaskMemFree(text);
  return copy;
}

constexpr GUID Guid(std::uint32_t n) { return GUID{n, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 8}}; }

TEST_F(EnumeratorImpl, NextReturnsSOkForAFullBatchAndSFalseForAShortOne) {
  auto e = xelo::com::MakeStringEnumerator({OLESTR("alpha"), OLESTR("beta"), OLESTR("gamma")});
  std::array<LPOLESTR, 5> out{};
  ULONG fetched = 99;

  ASSERT_EQ(e->Next(2, out.data(), &fetched), S_OK);
  ASSERT_EQ(fetched, 2u);
  EXPECT_EQ(Take(out[0]), OLESTR("alpha"));
  EXPECT_EQ(Take(out[1]), OLESTR("beta"));

  ASSERT_EQ(e->Next(5, out.data(), &fetched), S_FALSE);
  ASSERT_EQ(fetched, 1u);
  EXPECT_EQ(Take(out[0]), OLESTR("gamma"));

  // At the end: nothing, S_FALSE, for a counted and an uncounted request.
  EXPECT_EQ(e->Next(3, out.data(), &fetched), S_FALSE);
  EXPECT_EQ(fetched, 0u);
  out[0] = nullptr;
  EXPECT_EQ(e->Next(1, out.data(), nullptr), S_FALSE);
  EXPECT_EQ(out[0], nullptr);
}

TEST_F(EnumeratorImpl, NextValidatesItsPointersBeforeHandingAnythingOut) {
  auto e = xelo::com::MakeStringEnumerator({OLESTR("one"), OLESTR("two"), OLESTR("three")});
  std::array<LPOLESTR, 3> out{};
  const auto before = xelo::com::LiveAllocations();

  // Only a request for exactly one element may omit the count.
  EXPECT_EQ(e->Next(2, out.data(), nullptr), E_POINTER);
  EXPECT_EQ(e->Next(0, out.data(), nullptr), E_POINTER);
  ULONG fetched = 7;
  EXPECT_EQ(e->Next(1, nullptr, &fetched), E_POINTER);
  EXPECT_EQ(fetched, 0u);
  EXPECT_EQ(xelo::com::LiveAllocations(), before);

  // The refusals did not move the position.
  ASSERT_EQ(e->Next(1, out.data(), nullptr), S_OK);
  EXPECT_EQ(Take(out[0]), OLESTR("one"));
  // Zero elements asked, zero returned: a full batch.
  EXPECT_EQ(e->Next(0, nullptr, &fetched), S_OK);
  EXPECT_EQ(fetched, 0u);
}

TEST_F(EnumeratorImpl, SkipResetAndCloneKeepIndependentPositions) {
  auto e = xelo::com::MakeGuidEnumerator({Guid(1), Guid(2), Guid(3), Guid(4)});
  GUID g{};
  ULONG fetched = 0;

  EXPECT_EQ(e->Skip(1), S_OK);
  ComPtr<IEnumGUID> clone;
  ASSERT_EQ(e->Clone(clone.Put()), S_OK);
  ASSERT_TRUE(clone);
  EXPECT_NE(clone.Get(), e.Get());

  // Skipping past the end stops at the end.
  EXPECT_EQ(e->Skip(10), S_FALSE);
  EXPECT_EQ(e->Next(1, &g, &fetched), S_FALSE);
  EXPECT_EQ(fetched, 0u);

  // The clone kept the position of the moment it was made and shares the
  // snapshot even when the original is gone.
  e = nullptr;
  ASSERT_EQ(clone->Next(1, &g, nullptr), S_OK);
  EXPECT_EQ(g, Guid(2));
  EXPECT_EQ(clone->Skip(2), S_OK);
  EXPECT_EQ(clone->Skip(1), S_FALSE);
  EXPECT_EQ(clone->Reset(), S_OK);
  std::array<GUID, 4> all{};
  ASSERT_EQ(clone->Next(4, all.data(), &fetched), S_OK);
  EXPECT_EQ(fetched, 4u);
  EXPECT_EQ(all[0], Guid(1));
  EXPECT_EQ(all[3], Guid(4));

  EXPECT_EQ(clone->Clone(nullptr), E_POINTER);
}

TEST_F(EnumeratorImpl, ServesAnInterfaceOfTheSameShapeWithItsOwnIid) {
  ComPtr<ITestEnumGuid> e = xelo::com::MakeGuidEnumerator<ITestEnumGuid>({Guid(7), Guid(8)});
  ComPtr<ITestEnumGuid> again;
  EXPECT_EQ(e->QueryInterface(IID_ITestEnumGuid, again.PutVoid()), S_OK);
  EXPECT_EQ(again.Get(), e.Get());

  // It is not an IEnumGUID, even though the methods look the same.
  void* other = &other;
  EXPECT_EQ(e->QueryInterface(IID_IEnumGUID, &other), E_NOINTERFACE);
  EXPECT_EQ(other, nullptr);

  ComPtr<ITestEnumGuid> clone;
  ASSERT_EQ(e->Clone(clone.Put()), S_OK);
  std::array<GUID, 3> out{};
  ULONG fetched = 0;
  EXPECT_EQ(clone->Next(3, out.data(), &fetched), S_FALSE);
  EXPECT_EQ(fetched, 2u);
  EXPECT_EQ(out[1], Guid(8));
}

class Counted final : public xelo::com::ComObject<IUnknown> {};

TEST_F(EnumeratorImpl, InterfacesAreHandedOutWithAReferenceOfTheirOwn) {
  auto a = xelo::com::MakeComObject<Counted>();
  auto b = xelo::com::MakeComObject<Counted>();
  auto e = xelo::com::MakeUnknownEnumerator({ComPtr<IUnknown>(a.Get()), ComPtr<IUnknown>(b.Get())});
  EXPECT_EQ(RefsOf(a.Get()), 2u);  // ours and the snapshot's

  std::array<IUnknown*, 2> out{};
  ULONG fetched = 0;
  ASSERT_EQ(e->Next(2, out.data(), &fetched), S_OK);
  EXPECT_EQ(out[0], a.Get());
  EXPECT_EQ(out[1], b.Get());
  EXPECT_EQ(RefsOf(a.Get()), 3u);
  out[0]->Release();
  out[1]->Release();
  e = nullptr;
  EXPECT_EQ(RefsOf(a.Get()), 1u);
  EXPECT_EQ(RefsOf(b.Get()), 1u);
}

// Copies strings like the string policy but refuses the element "fail",
// standing in for the task allocator running dry halfway through a batch.
struct FailingStringPolicy : xelo::com::StringCopyPolicy {
  static HRESULT Copy(const Stored& from, Element* to) noexcept {
    if (from == OLESTR("fail")) {
      *to = nullptr;
      return E_OUTOFMEMORY;
    }
    return StringCopyPolicy::Copy(from, to);
  }
};

TEST_F(EnumeratorImpl, AFailureHalfwayThroughNextFreesWhatWasHandedOut) {
  auto e = xelo::com::MakeEnumerator<IEnumString, FailingStringPolicy>({OLESTR("a"), OLESTR("b"), OLESTR("fail"), OLESTR("d")});
  std::array<LPOLESTR, 4> out{};
  ULONG fetched = 5;
  const auto before = xelo::com::LiveAllocations();

  EXPECT_EQ(e->Next(4, out.data(), &fetched), E_OUTOFMEMORY);
  EXPECT_EQ(fetched, 0u);
  EXPECT_EQ(xelo::com::LiveAllocations(), before);
  EXPECT_EQ(out[0], nullptr);
  EXPECT_EQ(out[1], nullptr);

  // The position did not move: the same batch minus the bad element works.
  ASSERT_EQ(e->Next(2, out.data(), &fetched), S_OK);
  EXPECT_EQ(Take(out[0]), OLESTR("a"));
  EXPECT_EQ(Take(out[1]), OLESTR("b"));
}

TEST_F(EnumeratorImpl, FormatsAreCopiedWithTheirTargetDevice) {
  // A device description of 24 bytes, recognisable byte by byte.
  std::array<BYTE, 24> device{};
  for (std::size_t i = 0; i < device.size(); ++i) device[i] = static_cast<BYTE>(0xA0 + i);
  const auto size = static_cast<DWORD>(device.size());
  std::memcpy(device.data(), &size, sizeof size);
  auto* ptd = reinterpret_cast<DVTARGETDEVICE*>(device.data());

  const std::vector<FORMATETC> formats{
      {0xC001, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL},
      {0xC002, ptd, DVASPECT_ICON, 0, TYMED_ISTREAM},
  };
  auto e = xelo::com::MakeFormatEtcEnumerator(formats);
  device[5] = 0;  // the enumerator must have taken its own copy

  std::array<FORMATETC, 2> out{};
  ULONG fetched = 0;
  ASSERT_EQ(e->Next(2, out.data(), &fetched), S_OK);
  EXPECT_EQ(out[0].cfFormat, 0xC001);
  EXPECT_EQ(out[0].ptd, nullptr);
  EXPECT_EQ(out[0].tymed, TYMED_HGLOBAL);
  EXPECT_EQ(out[1].cfFormat, 0xC002);
  EXPECT_EQ(out[1].dwAspect, DVASPECT_ICON);
  EXPECT_EQ(out[1].lindex, 0);
  ASSERT_NE(out[1].ptd, nullptr);
  EXPECT_NE(out[1].ptd, ptd);
  EXPECT_EQ(out[1].ptd->tdSize, 24u);
  EXPECT_EQ(reinterpret_cast<const BYTE*>(out[1].ptd)[5], 0xA5);
  EXPECT_EQ(reinterpret_cast<const BYTE*>(out[1].ptd)[23], 0xB7);
  CoTaskMemFree(out[1].ptd);  // the receiver's to free, like any out-data
}

}  // namespace
