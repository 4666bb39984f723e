#include "xelo/com/EnumeratorImpl.h"

#include "com/ComTesting.h"

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

using xelo::com::ComPtr, xelo::test::RefsOf;

class EnumeratorImpl : public xelo::test::AllocationCheckedTest {};

// Takes the strings a Next handed out, freeing them; joined by ",".
std::string Take(LPOLESTR* texts, ULONG count) {
  std::string joined;
  for (ULONG i = 0; i < count; ++i) joined += (i ? "," : "") + xelo::com::ToUtf8(texts[i]), CoTaskMemFree(texts[i]);
  return joined;
}

constexpr GUID NumberedGuid(std::uint32_t n) { return GUID{n, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 8}}; }

TEST_F(EnumeratorImpl, NextGivesSOkForAFullBatchSFalseForAShortOneAndChecksItsPointersFirst) {
  auto e = xelo::com::MakeStringEnumerator({OLESTR("alpha"), OLESTR("beta"), OLESTR("gamma")});
  std::array<LPOLESTR, 5> out{};
  ULONG fetched = 7;
  // Only a request for exactly one element may omit the count; refusals
  // hand out nothing (the fixture counts) and do not move the position.
  EXPECT_EQ(std::make_tuple(e->Next(2, out.data(), nullptr), e->Next(0, out.data(), nullptr), e->Next(1, nullptr, &fetched)),
            std::make_tuple(E_POINTER, E_POINTER, E_POINTER));
  EXPECT_EQ(fetched, 0u);
  EXPECT_EQ(e->Next(0, nullptr, &fetched), S_OK);  // zero asked, zero given: a full batch

  EXPECT_EQ((std::tuple{e->Next(1, out.data(), nullptr), Take(out.data(), 1)}), (std::tuple{S_OK, std::string("alpha")}));
  ASSERT_EQ(e->Next(5, out.data(), &fetched), S_FALSE);
  EXPECT_EQ(Take(out.data(), fetched), "beta,gamma");
  // At the end: nothing, S_FALSE, for a counted and an uncounted request.
  out[0] = nullptr;
  EXPECT_EQ(std::make_pair(e->Next(3, out.data(), &fetched), e->Next(1, out.data(), nullptr)), std::make_pair(S_FALSE, S_FALSE));
  EXPECT_EQ(std::make_pair(fetched, out[0]), std::make_pair(ULONG{0}, LPOLESTR{}));
}

TEST_F(EnumeratorImpl, SkipResetAndCloneKeepIndependentPositions) {
  auto e = xelo::com::MakeGuidEnumerator({NumberedGuid(1), NumberedGuid(2), NumberedGuid(3), NumberedGuid(4)});
  GUID g{};
  ULONG fetched = 0;
  EXPECT_EQ(e->Skip(1), S_OK);
  ComPtr<IEnumGUID> clone;
  ASSERT_EQ(e->Clone(clone.Put()), S_OK);
  ASSERT_TRUE(clone && clone.Get() != e.Get());
  // Skipping past the end stops at the end.
  EXPECT_EQ((std::tuple{e->Skip(10), e->Next(1, &g, &fetched), fetched}), (std::tuple{S_FALSE, S_FALSE, ULONG{0}}));

  // The clone kept the position of the moment it was made and shares the
  // snapshot even when the original is gone.
  e = nullptr;
  ASSERT_EQ(clone->Next(1, &g, nullptr), S_OK);
  EXPECT_EQ(g, NumberedGuid(2));
  EXPECT_EQ((std::vector<HRESULT>{clone->Skip(2), clone->Skip(1)}), (std::vector<HRESULT>{S_OK, S_FALSE}));
  ASSERT_EQ(clone->Reset(), S_OK);
  std::array<GUID, 4> all{};
  ASSERT_EQ(clone->Next(4, all.data(), &fetched), S_OK);
  EXPECT_EQ(all, (std::array<GUID, 4>{NumberedGuid(1), NumberedGuid(2), NumberedGuid(3), NumberedGuid(4)}));
  EXPECT_EQ(clone->Clone(nullptr), E_POINTER);

  // An interface of the same shape is served under its own IID only.
  ComPtr<ITestEnumGuid> own = xelo::com::MakeGuidEnumerator<ITestEnumGuid>({NumberedGuid(7), NumberedGuid(8)});
  void* other = &other;
  EXPECT_EQ((std::tuple{own->QueryInterface(IID_IEnumGUID, &other), other}), (std::tuple{E_NOINTERFACE, static_cast<void*>(nullptr)}));
  ComPtr<ITestEnumGuid> ownClone;
  ASSERT_EQ(own->Clone(ownClone.Put()), S_OK);
  ASSERT_EQ(ownClone->QueryInterface(IID_ITestEnumGuid, &other), S_OK);
  EXPECT_EQ(other, ownClone.Get());
  ownClone->Release();
  std::array<GUID, 3> out{};
  EXPECT_EQ(ownClone->Next(3, out.data(), &fetched), S_FALSE);
  EXPECT_EQ(std::make_pair(fetched, out[1]), std::make_pair(ULONG{2}, NumberedGuid(8)));
}

// Copies strings like the string policy but refuses the element "fail",
// standing in for the task allocator running dry halfway through a batch.
struct FailingStringPolicy : xelo::com::StringCopyPolicy {
  static HRESULT Copy(const Stored& from, Element* to) noexcept {
    if (from != OLESTR("fail")) return StringCopyPolicy::Copy(from, to);
    *to = nullptr;
    return E_OUTOFMEMORY;
  }
};

TEST_F(EnumeratorImpl, AFailureHalfwayThroughNextFreesWhatWasHandedOut) {
  auto e = xelo::com::MakeEnumerator<IEnumString, FailingStringPolicy>({OLESTR("a"), OLESTR("b"), OLESTR("fail")});
  std::array<LPOLESTR, 3> out{};
  ULONG fetched = 5;
  const auto before = xelo::com::LiveAllocations();
  EXPECT_EQ(e->Next(3, out.data(), &fetched), E_OUTOFMEMORY);
  EXPECT_EQ(std::make_pair(fetched, xelo::com::LiveAllocations()), std::make_pair(ULONG{0}, before));
  EXPECT_EQ(out, (std::array<LPOLESTR, 3>{}));
  // The position did not move: the same batch minus the bad element works.
  ASSERT_EQ(e->Next(2, out.data(), &fetched), S_OK);
  EXPECT_EQ(Take(out.data(), fetched), "a,b");
}

TEST_F(EnumeratorImpl, InterfacesAndFormatsAreHandedOutWithReferencesAndDevicesOfTheirOwn) {
  auto a = xelo::com::MakeComObject<xelo::test::CountedUnknown>(), b = xelo::com::MakeComObject<xelo::test::CountedUnknown>();
  auto e = xelo::com::MakeUnknownEnumerator({ComPtr<IUnknown>(a.Get()), ComPtr<IUnknown>(b.Get())});
  EXPECT_EQ(RefsOf(a.Get()), 2u);  // ours and the snapshot's
  std::array<IUnknown*, 2> out{};
  ULONG fetched = 0;
  ASSERT_EQ(e->Next(2, out.data(), &fetched), S_OK);
  EXPECT_EQ(out, (std::array<IUnknown*, 2>{a.Get(), b.Get()}));
  EXPECT_EQ(RefsOf(a.Get()), 3u);
  out[0]->Release(), out[1]->Release();
  e = nullptr;
  EXPECT_EQ(RefsOf(a.Get()) + RefsOf(b.Get()), 2u);

  // A device description of 24 bytes, recognisable byte by byte.
  std::array<BYTE, 24> device{};
  for (std::size_t i = 0; i < device.size(); ++i) device[i] = static_cast<BYTE>(0xA0 + i);
  const auto size = static_cast<DWORD>(device.size());
  std::memcpy(device.data(), &size, sizeof size);
  auto* ptd = reinterpret_cast<DVTARGETDEVICE*>(device.data());
  auto formats = xelo::com::MakeFormatEtcEnumerator({{0xC001, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL}, {0xC002, ptd, DVASPECT_ICON, 0, TYMED_ISTREAM}});
  device[5] = 0;  // the enumerator must have taken its own copy

  std::array<FORMATETC, 2> copies{};
  ASSERT_EQ(formats->Next(2, copies.data(), &fetched), S_OK);
  EXPECT_EQ(std::make_tuple(copies[0].cfFormat, copies[0].ptd, copies[0].tymed), std::make_tuple(0xC001, nullptr, TYMED_HGLOBAL));
  EXPECT_EQ(std::make_tuple(copies[1].cfFormat, copies[1].dwAspect, copies[1].lindex), std::make_tuple(0xC002, DVASPECT_ICON, 0));
  ASSERT_TRUE(copies[1].ptd != nullptr && copies[1].ptd != ptd);
  device[5] = 0xA5;
  EXPECT_EQ(std::memcmp(copies[1].ptd, device.data(), device.size()), 0);
  CoTaskMemFree(copies[1].ptd);  // the receiver's to free, like any out-data
}

}  // namespace
