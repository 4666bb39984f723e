#include "xelo/com/DataTransfer.h"

#include "xelo/com/ClipboardFormats.h"
#include "xelo/com/ComObject.h"
#include "xelo/com/TaskMemory.h"

#include "support/AllocationCheckedTest.h"

#include "support/NativeCom.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>
#include <vector>

namespace {

using xelo::com::ComPtr;
using xelo::com::DataAdviseHolder;
using xelo::com::MakeComObject;
using xelo::test::RefsOf;

class DataTransfer : public xelo::test::AllocationCheckedTest {};

class RecordingSink final : public xelo::com::ComObject<IAdviseSink> {
 public:
  explicit RecordingSink(bool* destroyed = nullptr) : destroyed_(destroyed) {}
  ~RecordingSink() override {
    if (destroyed_ != nullptr) *destroyed_ = true;
  }
  STDMETHOD_(void, OnDataChange)(FORMATETC* format, STGMEDIUM*) override {
    formats.push_back(format->cfFormat);
    if (onData) onData();
  }
  STDMETHOD_(void, OnViewChange)(DWORD, LONG) override {}
  STDMETHOD_(void, OnRename)(IMoniker*) override {}
  STDMETHOD_(void, OnSave)() override {}
  STDMETHOD_(void, OnClose)() override {}
  std::vector<CLIPFORMAT> formats;
  std::function<void()> onData;

 private:
  bool* destroyed_;
};

struct Formats {
  CLIPFORMAT data = static_cast<CLIPFORMAT>(RegisterClipboardFormatA("Xelo Test Data"));
  CLIPFORMAT write = static_cast<CLIPFORMAT>(RegisterClipboardFormatA("Xelo Test Write"));
  FORMATETC Data(DWORD tymed = TYMED_HGLOBAL) const { return {data, nullptr, DVASPECT_CONTENT, -1, tymed}; }
  FORMATETC Write() const { return {write, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL}; }
};

TEST_F(DataTransfer, DAdviseAcceptsOnlyOfferedFormats) {
  const Formats f;
  DataAdviseHolder holder({f.Data(), f.Write()});
  auto sink = MakeComObject<RecordingSink>();

  struct Case {
    const char* what;
    FORMATETC format;
    HRESULT expected;
  };
  DVTARGETDEVICE device{sizeof(DVTARGETDEVICE), 0, 0, 0, 0, {0}};
  const Case cases[] = {
      {"offered", f.Data(), S_OK},
      {"any tymed that includes HGLOBAL", f.Data(TYMED_HGLOBAL | TYMED_ISTREAM), S_OK},
      {"unknown clipboard format", {static_cast<CLIPFORMAT>(f.write + 1000), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL},
       DV_E_FORMATETC},
      {"other aspect", {f.data, nullptr, DVASPECT_ICON, -1, TYMED_HGLOBAL}, DV_E_FORMATETC},
      {"no aspect", {f.data, nullptr, 0, -1, TYMED_HGLOBAL}, DV_E_FORMATETC},
      {"other medium", f.Data(TYMED_ISTREAM), DV_E_FORMATETC},
      {"no medium", f.Data(TYMED_NULL), DV_E_FORMATETC},
      {"target device", {f.data, &device, DVASPECT_CONTENT, -1, TYMED_HGLOBAL}, DV_E_FORMATETC},
  };
  std::vector<DWORD> connections;
  for (const Case& c : cases) {
    DWORD connection = 12345;
    EXPECT_EQ(holder.QueryGetData(&c.format), c.expected) << c.what;
    EXPECT_EQ(holder.DAdvise(&c.format, 0, sink.Get(), &connection), c.expected) << c.what;
    if (c.expected == S_OK) {
      EXPECT_NE(connection, 0u) << c.what;
      connections.push_back(connection);
    } else {
      EXPECT_EQ(connection, 0u) << c.what;
    }
  }
  ASSERT_EQ(connections.size(), 2u);
  EXPECT_NE(connections[0], connections[1]);
  EXPECT_EQ(holder.Count(), 2u);
  EXPECT_EQ(RefsOf(sink.Get()), 3u);  // refused advises kept nothing
  holder.Clear();
  EXPECT_EQ(RefsOf(sink.Get()), 1u);
}

TEST_F(DataTransfer, DAdviseRefusesMissingArguments) {
  const Formats f;
  DataAdviseHolder holder({f.Data()});
  auto sink = MakeComObject<RecordingSink>();
  const FORMATETC format = f.Data();
  DWORD connection = 9;
  EXPECT_EQ(holder.DAdvise(&format, 0, nullptr, &connection), E_INVALIDARG);
  EXPECT_EQ(connection, 0u);
  EXPECT_EQ(holder.DAdvise(nullptr, 0, sink.Get(), &connection), E_INVALIDARG);
  EXPECT_EQ(holder.DAdvise(&format, 0, sink.Get(), nullptr), E_POINTER);
  EXPECT_EQ(holder.QueryGetData(nullptr), E_INVALIDARG);
  EXPECT_EQ(holder.Count(), 0u);
  EXPECT_EQ(RefsOf(sink.Get()), 1u);
}

TEST_F(DataTransfer, DUnadviseReleasesTheSinkOnceAndRefusesUnknownNumbers) {
  const Formats f;
  DataAdviseHolder holder({f.Data()});
  auto sink = MakeComObject<RecordingSink>();
  const FORMATETC format = f.Data();
  DWORD first = 0, second = 0;
  ASSERT_EQ(holder.DAdvise(&format, ADVF_PRIMEFIRST, sink.Get(), &first), S_OK);
  ASSERT_EQ(holder.DAdvise(&format, 0, sink.Get(), &second), S_OK);
  EXPECT_EQ(RefsOf(sink.Get()), 3u);

  EXPECT_EQ(holder.DUnadvise(first), S_OK);
  EXPECT_EQ(RefsOf(sink.Get()), 2u);
  EXPECT_EQ(holder.DUnadvise(first), OLE_E_NOCONNECTION);
  EXPECT_EQ(holder.DUnadvise(0), OLE_E_NOCONNECTION);
  EXPECT_EQ(RefsOf(sink.Get()), 2u);

  // Numbers are not reused after an unadvise.
  DWORD third = 0;
  ASSERT_EQ(holder.DAdvise(&format, 0, sink.Get(), &third), S_OK);
  EXPECT_NE(third, first);
  EXPECT_NE(third, second);
  const auto advises = holder.Advises();
  ASSERT_EQ(advises.size(), 2u);
  EXPECT_EQ(advises[0].connection, second);
  EXPECT_EQ(advises[1].connection, third);
}

TEST_F(DataTransfer, EnumDAdviseHandsOutStatDataWithReferencedSinks) {
  const Formats f;
  DataAdviseHolder holder({f.Data(), f.Write()});
  auto sink = MakeComObject<RecordingSink>();
  const FORMATETC data = f.Data(), write = f.Write();
  DWORD cData = 0, cWrite = 0;
  ASSERT_EQ(holder.DAdvise(&data, ADVF_NODATA, sink.Get(), &cData), S_OK);
  ASSERT_EQ(holder.DAdvise(&write, ADVF_ONLYONCE, sink.Get(), &cWrite), S_OK);

  ComPtr<IEnumSTATDATA> e;
  ASSERT_EQ(holder.EnumDAdvise(e.Put()), S_OK);
  std::array<STATDATA, 3> out{};
  ULONG fetched = 0;
  ASSERT_EQ(e->Next(3, out.data(), &fetched), S_FALSE);
  ASSERT_EQ(fetched, 2u);
  EXPECT_EQ(out[0].formatetc.cfFormat, f.data);
  EXPECT_EQ(out[0].advf, ADVF_NODATA);
  EXPECT_EQ(out[0].dwConnection, cData);
  EXPECT_EQ(out[1].formatetc.cfFormat, f.write);
  EXPECT_EQ(out[1].advf, ADVF_ONLYONCE);
  EXPECT_EQ(out[1].dwConnection, cWrite);
  EXPECT_EQ(out[0].pAdvSink, static_cast<IAdviseSink*>(sink.Get()));
  EXPECT_EQ(out[0].formatetc.ptd, nullptr);
  // ours, the holder's two, the snapshot's two, the two handed out
  EXPECT_EQ(RefsOf(sink.Get()), 7u);
  out[0].pAdvSink->Release();
  out[1].pAdvSink->Release();
  e = nullptr;
  EXPECT_EQ(RefsOf(sink.Get()), 3u);
  EXPECT_EQ(holder.EnumDAdvise(nullptr), E_POINTER);
}

TEST_F(DataTransfer, EnumFormatEtcListsTheOfferedFormatsForGettingOnly) {
  const Formats f;
  DataAdviseHolder holder;
  holder.SetOfferedFormats({f.Data(), f.Write()});
  ComPtr<IEnumFORMATETC> e;
  ASSERT_EQ(holder.EnumFormatEtc(DATADIR_GET, e.Put()), S_OK);
  std::array<FORMATETC, 2> out{};
  ASSERT_EQ(e->Next(2, out.data(), nullptr), E_POINTER);
  ULONG fetched = 0;
  ASSERT_EQ(e->Next(2, out.data(), &fetched), S_OK);
  EXPECT_EQ(out[0].cfFormat, f.data);
  EXPECT_EQ(out[1].cfFormat, f.write);
  EXPECT_EQ(out[1].tymed, TYMED_HGLOBAL);

  IEnumFORMATETC* none = e.Get();
  EXPECT_EQ(holder.EnumFormatEtc(DATADIR_SET, &none), E_NOTIMPL);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(holder.EnumFormatEtc(0, &none), E_INVALIDARG);
  EXPECT_EQ(holder.EnumFormatEtc(DATADIR_GET, nullptr), E_POINTER);
}

TEST_F(DataTransfer, AdvisesForAFormatSurviveASinkThatUnadvisesDuringOnDataChange) {
  const Formats f;
  DataAdviseHolder holder({f.Data(), f.Write()});
  bool firstGone = false, secondGone = false;
  const FORMATETC data = f.Data(), write = f.Write();
  DWORD c1 = 0, c2 = 0, cWrite = 0;
  {
    auto first = MakeComObject<RecordingSink>(&firstGone);
    auto second = MakeComObject<RecordingSink>(&secondGone);
    ASSERT_EQ(holder.DAdvise(&data, 0, first.Get(), &c1), S_OK);
    ASSERT_EQ(holder.DAdvise(&data, 0, second.Get(), &c2), S_OK);
    ASSERT_EQ(holder.DAdvise(&write, 0, second.Get(), &cWrite), S_OK);
    first->onData = [&] {
      EXPECT_EQ(holder.DUnadvise(c1), S_OK);
      EXPECT_EQ(holder.DUnadvise(c2), S_OK);
      EXPECT_FALSE(firstGone);
    };
  }

  HGLOBAL block = GlobalAlloc(GHND, 16);
  ASSERT_NE(block, nullptr);
  STGMEDIUM medium{};
  medium.tymed = TYMED_HGLOBAL;
  medium.hGlobal = block;
  int delivered = 0;
  {
    const auto advises = holder.AdvisesFor(f.data);
    ASSERT_EQ(advises.size(), 2u);
    for (const auto& advise : advises) {
      FORMATETC format = advise.format;
      advise.sink->OnDataChange(&format, &medium);
      ++delivered;
    }
  }
  EXPECT_EQ(delivered, 2);
  EXPECT_TRUE(firstGone);
  EXPECT_FALSE(secondGone);  // still advised for the write format
  EXPECT_EQ(holder.Count(), 1u);
  EXPECT_TRUE(holder.AdvisesFor(f.data).empty());
  ReleaseStgMedium(&medium);
  holder.Clear();
  EXPECT_TRUE(secondGone);
}

class CountingUnknown final : public xelo::com::ComObject<IUnknown> {
 public:
  explicit CountingUnknown(bool* destroyed) : destroyed_(destroyed) {}
  ~CountingUnknown() override { *destroyed_ = true; }

 private:
  bool* destroyed_;
};

TEST_F(DataTransfer, ReleaseStgMediumFreesWhatTheMediumOwns) {
  const long globalsBefore = xelo::com::LiveAllocations().globalMemory;

  STGMEDIUM medium{};
  medium.tymed = TYMED_HGLOBAL;
  medium.hGlobal = GlobalAlloc(GMEM_MOVEABLE, 8);
  ASSERT_NE(medium.hGlobal, nullptr);
  const HGLOBAL freed = medium.hGlobal;
  ReleaseStgMedium(&medium);
  EXPECT_EQ(xelo::com::LiveAllocations().globalMemory, globalsBefore);
  EXPECT_EQ(GlobalLock(freed), nullptr);
  // Windows' own frees and leaves the fields as they were; ours empties
  // the medium, so that releasing it twice is harmless.
  if (xelo::test::kNativeCom) return;
  EXPECT_EQ(medium.tymed, TYMED_NULL);
  EXPECT_EQ(medium.hGlobal, nullptr);
  ReleaseStgMedium(&medium);  // emptied: a second call does nothing
  ReleaseStgMedium(nullptr);

  medium.tymed = TYMED_FILE;
  medium.lpszFileName = xelo::com::CoTaskMemStrDup(OLESTR("/tmp/xelo-not-a-real-file"));
  ASSERT_NE(medium.lpszFileName, nullptr);
  ReleaseStgMedium(&medium);  // the fixture proves the name was freed
  EXPECT_EQ(medium.lpszFileName, nullptr);
}

TEST_F(DataTransfer, ReleaseStgMediumReleasesTheOwnerInsteadOfTheData) {
  bool ownerGone = false;
  HGLOBAL block = GlobalAlloc(GHND, 8);
  ASSERT_NE(block, nullptr);
  STGMEDIUM medium{};
  medium.tymed = TYMED_HGLOBAL;
  medium.hGlobal = block;
  medium.pUnkForRelease = MakeComObject<CountingUnknown>(&ownerGone).Detach();
  ReleaseStgMedium(&medium);
  EXPECT_TRUE(ownerGone);
  EXPECT_EQ(medium.pUnkForRelease, nullptr);
  // The data belonged to the owner, so the handle is still ours to free.
  EXPECT_EQ(GlobalSize(block), 8u);
  EXPECT_EQ(GlobalFree(block), nullptr);

  // A stream is released through IUnknown's slots.
  bool streamGone = false;
  medium.tymed = TYMED_ISTREAM;
  medium.pstm = reinterpret_cast<IStream*>(
      static_cast<IUnknown*>(MakeComObject<CountingUnknown>(&streamGone).Detach()));
  ReleaseStgMedium(&medium);
  EXPECT_TRUE(streamGone);
}

TEST_F(DataTransfer, CopyFormatEtcDuplicatesTheTargetDevice) {
  std::array<BYTE, 20> device{};
  const auto size = static_cast<DWORD>(device.size());
  std::memcpy(device.data(), &size, sizeof size);
  device[19] = 0x5A;
  const FORMATETC source{0xC123, reinterpret_cast<DVTARGETDEVICE*>(device.data()), DVASPECT_CONTENT, -1,
                         TYMED_HGLOBAL};
  FORMATETC copy{};
  ASSERT_EQ(xelo::com::CopyFormatEtc(&copy, &source), S_OK);
  ASSERT_NE(copy.ptd, nullptr);
  EXPECT_NE(copy.ptd, source.ptd);
  EXPECT_EQ(std::memcmp(copy.ptd, device.data(), device.size()), 0);
  EXPECT_EQ(copy.cfFormat, 0xC123);
  EXPECT_EQ(copy.lindex, -1);
  CoTaskMemFree(copy.ptd);
  EXPECT_EQ(xelo::com::CopyFormatEtc(nullptr, &source), E_POINTER);
  EXPECT_EQ(xelo::com::CopyFormatEtc(&copy, nullptr), E_POINTER);
}

}  // namespace
