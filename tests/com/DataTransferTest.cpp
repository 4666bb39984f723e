#include "xelo/com/DataTransfer.h"

#include "xelo/com/ClipboardFormats.h"
#include "xelo/com/ComObject.h"
#include "xelo/com/TaskMemory.h"

#include "com/CountedObjects.h"
#include "support/AllocationCheckedTest.h"

#include "support/NativeCom.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>
#include <tuple>
#include <utility>
#include <vector>

namespace {

using xelo::com::ComPtr;
using xelo::com::DataAdviseHolder;
using xelo::com::MakeComObject;
using xelo::test::RefsOf;

class DataTransfer : public xelo::test::AllocationCheckedTest {};

class RecordingSink final : public xelo::com::ComObject<IAdviseSink> {
 public:
  explicit RecordingSink(bool* destroyed = nullptr) : gone_{destroyed} {}
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
  xelo::test::DestroyFlag gone_;
};

struct Formats {
  CLIPFORMAT data = static_cast<CLIPFORMAT>(RegisterClipboardFormatA("Xelo Test Data"));
  CLIPFORMAT write = static_cast<CLIPFORMAT>(RegisterClipboardFormatA("Xelo Test Write"));
  FORMATETC Data(DWORD tymed = TYMED_HGLOBAL) const { return {data, nullptr, DVASPECT_CONTENT, -1, tymed}; }
  FORMATETC Write() const { return {write, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL}; }
};

TEST_F(DataTransfer, DAdviseTakesOfferedFormatsOnlyAndDUnadviseReleasesOnce) {
  const Formats f;
  DataAdviseHolder holder({f.Data(), f.Write()});
  auto sink = MakeComObject<RecordingSink>();
  DVTARGETDEVICE device{sizeof(DVTARGETDEVICE), 0, 0, 0, 0, {0}};
  const struct {
    const char* what;
    FORMATETC format;
    HRESULT expected;
  } cases[] = {
      {"offered", f.Data(), S_OK}, {"any tymed that includes HGLOBAL", f.Data(TYMED_HGLOBAL | TYMED_ISTREAM), S_OK},
      {"unknown clipboard format", {static_cast<CLIPFORMAT>(f.write + 1000), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL}, DV_E_FORMATETC},
      {"other aspect", {f.data, nullptr, DVASPECT_ICON, -1, TYMED_HGLOBAL}, DV_E_FORMATETC},
      {"no aspect", {f.data, nullptr, 0, -1, TYMED_HGLOBAL}, DV_E_FORMATETC},
      {"other medium", f.Data(TYMED_ISTREAM), DV_E_FORMATETC}, {"no medium", f.Data(TYMED_NULL), DV_E_FORMATETC},
      {"target device", {f.data, &device, DVASPECT_CONTENT, -1, TYMED_HGLOBAL}, DV_E_FORMATETC},
  };
  std::vector<DWORD> connections;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    DWORD connection = 12345;
    EXPECT_EQ(holder.QueryGetData(&c.format), c.expected);
    EXPECT_EQ(holder.DAdvise(&c.format, 0, sink.Get(), &connection), c.expected);
    EXPECT_EQ(connection != 0, c.expected == S_OK);
    if (c.expected == S_OK) connections.push_back(connection);
  }
  ASSERT_EQ(connections.size(), 2u);
  EXPECT_NE(connections[0], connections[1]);
  EXPECT_EQ(holder.Count(), 2u);
  EXPECT_EQ(RefsOf(sink.Get()), 3u);  // refused advises kept nothing

  // Missing arguments are refused and keep nothing either.
  const FORMATETC format = f.Data();
  DWORD connection = 9;
  EXPECT_EQ(holder.DAdvise(&format, 0, nullptr, &connection), E_INVALIDARG);
  EXPECT_EQ(connection, 0u);
  EXPECT_EQ(std::make_tuple(holder.DAdvise(nullptr, 0, sink.Get(), &connection), holder.DAdvise(&format, 0, sink.Get(), nullptr),
                            holder.QueryGetData(nullptr)),
            std::make_tuple(E_INVALIDARG, E_POINTER, E_INVALIDARG));
  EXPECT_EQ(RefsOf(sink.Get()), 3u);

  EXPECT_EQ(holder.DUnadvise(connections[0]), S_OK);
  EXPECT_EQ(RefsOf(sink.Get()), 2u);
  for (DWORD unknown : {connections[0], DWORD{0}}) EXPECT_EQ(holder.DUnadvise(unknown), OLE_E_NOCONNECTION);
  EXPECT_EQ(RefsOf(sink.Get()), 2u);
  // Numbers are not reused after an unadvise.
  DWORD third = 0;
  ASSERT_EQ(holder.DAdvise(&format, ADVF_PRIMEFIRST, sink.Get(), &third), S_OK);
  EXPECT_NE(third, connections[0]);
  {
    const auto advises = holder.Advises();
    ASSERT_EQ(advises.size(), 2u);
    EXPECT_EQ(std::make_pair(advises[0].connection, advises[1].connection), std::make_pair(connections[1], third));
  }
  holder.Clear();
  EXPECT_EQ(RefsOf(sink.Get()), 1u);
}

TEST_F(DataTransfer, EnumeratorsHandOutReferencedSinksAndTheOfferedFormatsForGettingOnly) {
  const Formats f;
  DataAdviseHolder holder;
  holder.SetOfferedFormats({f.Data(), f.Write()});
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
  using Row = std::tuple<CLIPFORMAT, DWORD, DWORD, IAdviseSink*, DVTARGETDEVICE*>;
  auto row = [](const STATDATA& s) { return Row(s.formatetc.cfFormat, s.advf, s.dwConnection, s.pAdvSink, s.formatetc.ptd); };
  EXPECT_EQ((std::vector<Row>{row(out[0]), row(out[1])}),
            (std::vector<Row>{{f.data, ADVF_NODATA, cData, sink.Get(), nullptr}, {f.write, ADVF_ONLYONCE, cWrite, sink.Get(), nullptr}}));
  // ours, the holder's two, the snapshot's two, the two handed out
  EXPECT_EQ(RefsOf(sink.Get()), 7u);
  out[0].pAdvSink->Release(), out[1].pAdvSink->Release();
  e = nullptr;
  EXPECT_EQ(RefsOf(sink.Get()), 3u);
  EXPECT_EQ(holder.EnumDAdvise(nullptr), E_POINTER);

  ComPtr<IEnumFORMATETC> formats;
  ASSERT_EQ(holder.EnumFormatEtc(DATADIR_GET, formats.Put()), S_OK);
  std::array<FORMATETC, 2> offered{};
  ASSERT_EQ(formats->Next(2, offered.data(), nullptr), E_POINTER);
  ASSERT_EQ(formats->Next(2, offered.data(), &fetched), S_OK);
  EXPECT_EQ(std::make_tuple(offered[0].cfFormat, offered[1].cfFormat, offered[1].tymed),
            std::make_tuple(f.data, f.write, DWORD{TYMED_HGLOBAL}));
  IEnumFORMATETC* none = formats.Get();
  EXPECT_EQ(holder.EnumFormatEtc(DATADIR_SET, &none), E_NOTIMPL);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(std::make_pair(holder.EnumFormatEtc(0, &none), holder.EnumFormatEtc(DATADIR_GET, nullptr)),
            std::make_pair(E_INVALIDARG, E_POINTER));
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

  STGMEDIUM medium{};
  medium.tymed = TYMED_HGLOBAL;
  medium.hGlobal = GlobalAlloc(GHND, 16);
  ASSERT_NE(medium.hGlobal, nullptr);
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
  EXPECT_TRUE(delivered == 2 && firstGone) << delivered;
  EXPECT_FALSE(secondGone);  // still advised for the write format
  EXPECT_EQ(holder.Count(), 1u);
  EXPECT_TRUE(holder.AdvisesFor(f.data).empty());
  ReleaseStgMedium(&medium);
  holder.Clear();
  EXPECT_TRUE(secondGone);
}

TEST_F(DataTransfer, ReleaseStgMediumFreesWhatTheMediumOwnsOrReleasesItsOwner) {
  STGMEDIUM medium{};
  medium.tymed = TYMED_HGLOBAL;
  medium.hGlobal = GlobalAlloc(GMEM_MOVEABLE, 8);
  ASSERT_NE(medium.hGlobal, nullptr);
  const HGLOBAL freed = medium.hGlobal;
  ReleaseStgMedium(&medium);  // the fixture proves the block was freed
  EXPECT_EQ(GlobalLock(freed), nullptr);

  bool ownerGone = false;
  HGLOBAL block = GlobalAlloc(GHND, 8);
  ASSERT_NE(block, nullptr);
  medium.tymed = TYMED_HGLOBAL;
  medium.hGlobal = block;
  medium.pUnkForRelease = MakeComObject<xelo::test::FlaggedUnknown>(&ownerGone).Detach();
  ReleaseStgMedium(&medium);
  EXPECT_TRUE(ownerGone && medium.pUnkForRelease == nullptr);
  // The data belonged to the owner, so the handle is still ours to free.
  EXPECT_EQ(GlobalSize(block), 8u);
  EXPECT_EQ(GlobalFree(block), nullptr);

  // A stream is released through IUnknown's slots.
  bool streamGone = false;
  medium.tymed = TYMED_ISTREAM;
  medium.pstm = reinterpret_cast<IStream*>(static_cast<IUnknown*>(MakeComObject<xelo::test::FlaggedUnknown>(&streamGone).Detach()));
  ReleaseStgMedium(&medium);
  EXPECT_TRUE(streamGone);

  // Windows' own frees and leaves the fields as they were; ours empties
  // the medium, so that releasing it twice is harmless.
  if (xelo::test::kNativeCom) return;
  EXPECT_EQ(medium.tymed, TYMED_NULL);
  ReleaseStgMedium(&medium);
  ReleaseStgMedium(nullptr);
  medium.tymed = TYMED_FILE;
  medium.lpszFileName = xelo::com::CoTaskMemStrDup(OLESTR("/tmp/xelo-not-a-real-file"));
  ASSERT_NE(medium.lpszFileName, nullptr);
  ReleaseStgMedium(&medium);  // the fixture proves the name was freed
  EXPECT_EQ(medium.lpszFileName, nullptr);
}

TEST_F(DataTransfer, CopyFormatEtcDuplicatesTheTargetDevice) {
  std::array<BYTE, 20> device{};
  const auto size = static_cast<DWORD>(device.size());
  std::memcpy(device.data(), &size, sizeof size);
  device[19] = 0x5A;
  const FORMATETC source{0xC123, reinterpret_cast<DVTARGETDEVICE*>(device.data()), DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
  FORMATETC copy{};
  ASSERT_EQ(xelo::com::CopyFormatEtc(&copy, &source), S_OK);
  ASSERT_TRUE(copy.ptd != nullptr && copy.ptd != source.ptd);
  EXPECT_EQ(std::memcmp(copy.ptd, device.data(), device.size()), 0);
  EXPECT_EQ(std::make_pair(copy.cfFormat, copy.lindex), std::make_pair(CLIPFORMAT{0xC123}, LONG{-1}));
  CoTaskMemFree(copy.ptd);
  EXPECT_EQ(std::make_pair(xelo::com::CopyFormatEtc(nullptr, &source), xelo::com::CopyFormatEtc(&copy, nullptr)),
            std::make_pair(E_POINTER, E_POINTER));
}

}  // namespace
