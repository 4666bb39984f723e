#include "xelo/com/DataTransfer.h"

#include "xelo/com/ClipboardFormats.h"

#include "com/ComTesting.h"

#include <functional>

namespace {

using xelo::com::ComPtr, xelo::com::DataAdviseHolder, xelo::com::MakeComObject, xelo::test::RefsOf;

class DataTransfer : public xelo::test::AllocationCheckedTest {};

class RecordingSink final : public xelo::com::ComObject<IAdviseSink>, xelo::test::DestroyFlag {
 public:
  explicit RecordingSink(bool* destroyed = nullptr) : DestroyFlag{destroyed} {}
  STDMETHOD_(void, OnDataChange)(FORMATETC*, STGMEDIUM*) override {
    if (onData) onData();
  }
  STDMETHOD_(void, OnViewChange)(DWORD, LONG) override {}
  STDMETHOD_(void, OnRename)(IMoniker*) override {}
  STDMETHOD_(void, OnSave)() override {}
  STDMETHOD_(void, OnClose)() override {}
  std::function<void()> onData;
};

const CLIPFORMAT kData = static_cast<CLIPFORMAT>(RegisterClipboardFormatA("Xelo Test Data"));
const CLIPFORMAT kWrite = static_cast<CLIPFORMAT>(RegisterClipboardFormatA("Xelo Test Write"));
FORMATETC Format(CLIPFORMAT cf = kData, DWORD tymed = TYMED_HGLOBAL, DWORD aspect = DVASPECT_CONTENT, DVTARGETDEVICE* ptd = nullptr) {
  return {cf, ptd, aspect, -1, tymed};
}

TEST_F(DataTransfer, DAdviseTakesOfferedFormatsOnlyDUnadviseReleasesOnceAndTheEnumeratorsHandOutReferences) {
  DataAdviseHolder holder;
  holder.SetOfferedFormats({Format(), Format(kWrite)});
  auto sink = MakeComObject<RecordingSink>();
  DVTARGETDEVICE device{sizeof(DVTARGETDEVICE), 0, 0, 0, 0, {0}};
  const std::tuple<const char*, FORMATETC, DWORD, HRESULT> cases[] = {
      {"offered", Format(), ADVF_NODATA, S_OK}, {"other format", Format(kWrite), ADVF_ONLYONCE, S_OK},
      {"any tymed that includes HGLOBAL", Format(kData, TYMED_HGLOBAL | TYMED_ISTREAM), 0, S_OK},
      {"unknown clipboard format", Format(static_cast<CLIPFORMAT>(kWrite + 1000)), 0, DV_E_FORMATETC},
      {"other aspect", Format(kData, TYMED_HGLOBAL, DVASPECT_ICON), 0, DV_E_FORMATETC},
      {"no aspect", Format(kData, TYMED_HGLOBAL, 0), 0, DV_E_FORMATETC},
      {"other medium", Format(kData, TYMED_ISTREAM), 0, DV_E_FORMATETC}, {"no medium", Format(kData, TYMED_NULL), 0, DV_E_FORMATETC},
      {"target device", Format(kData, TYMED_HGLOBAL, DVASPECT_CONTENT, &device), 0, DV_E_FORMATETC},
  };
  std::vector<DWORD> connections;
  for (const auto& [what, format, advf, expected] : cases) {
    SCOPED_TRACE(what);
    DWORD connection = 12345;
    EXPECT_EQ(std::make_pair(holder.QueryGetData(&format), holder.DAdvise(&format, advf, sink.Get(), &connection)),
              std::make_pair(expected, expected));
    EXPECT_EQ(connection != 0, expected == S_OK);
    if (expected == S_OK) connections.push_back(connection);
  }
  ASSERT_EQ(connections.size(), 3u);
  EXPECT_TRUE(connections[0] != connections[1] && connections[1] != connections[2]);
  EXPECT_EQ(std::make_pair(holder.Count(), RefsOf(sink.Get())), std::make_pair(std::size_t{3}, ULONG{4}));  // refused ones kept nothing

  // Missing arguments are refused and keep nothing either.
  const FORMATETC format = Format();
  DWORD connection = 9;
  EXPECT_EQ((std::tuple{holder.DAdvise(&format, 0, nullptr, &connection), connection}), (std::tuple{E_INVALIDARG, DWORD{0}}));
  EXPECT_EQ(std::make_tuple(holder.DAdvise(nullptr, 0, sink.Get(), &connection), holder.DAdvise(&format, 0, sink.Get(), nullptr),
                            holder.QueryGetData(nullptr), holder.EnumDAdvise(nullptr)),
            std::make_tuple(E_INVALIDARG, E_POINTER, E_INVALIDARG, E_POINTER));
  EXPECT_EQ(holder.DUnadvise(connections[2]), S_OK);
  for (DWORD unknown : {connections[2], DWORD{0}}) EXPECT_EQ(holder.DUnadvise(unknown), OLE_E_NOCONNECTION);
  EXPECT_EQ(RefsOf(sink.Get()), 3u);

  ComPtr<IEnumSTATDATA> e;
  ASSERT_EQ(holder.EnumDAdvise(e.Put()), S_OK);
  std::array<STATDATA, 3> out{};
  ULONG fetched = 0;
  ASSERT_EQ(e->Next(3, out.data(), &fetched), S_FALSE);
  ASSERT_EQ(fetched, 2u);
  using Row = std::tuple<CLIPFORMAT, DWORD, DWORD, IAdviseSink*, DVTARGETDEVICE*>;
  auto row = [](const STATDATA& s) { return Row(s.formatetc.cfFormat, s.advf, s.dwConnection, s.pAdvSink, s.formatetc.ptd); };
  EXPECT_EQ((std::vector<Row>{row(out[0]), row(out[1])}), (std::vector<Row>{{kData, ADVF_NODATA, connections[0], sink.Get(), nullptr},
                                                                            {kWrite, ADVF_ONLYONCE, connections[1], sink.Get(), nullptr}}));
  // ours, the holder's two, the snapshot's two, the two handed out
  EXPECT_EQ(RefsOf(sink.Get()), 7u);
  out[0].pAdvSink->Release(), out[1].pAdvSink->Release();
  e = nullptr;
  EXPECT_EQ(RefsOf(sink.Get()), 3u);
  // Numbers are not reused after an unadvise.
  ASSERT_EQ(holder.DAdvise(&format, ADVF_PRIMEFIRST, sink.Get(), &connection), S_OK);
  EXPECT_GT(connection, connections[2]);
  EXPECT_EQ(holder.Advises().back().connection, connection);

  ComPtr<IEnumFORMATETC> formats;
  ASSERT_EQ(holder.EnumFormatEtc(DATADIR_GET, formats.Put()), S_OK);
  std::array<FORMATETC, 2> offered{};
  ASSERT_EQ(formats->Next(2, offered.data(), &fetched), S_OK);
  EXPECT_EQ(std::make_tuple(offered[0].cfFormat, offered[1].cfFormat, offered[1].tymed), std::make_tuple(kData, kWrite, DWORD{TYMED_HGLOBAL}));
  IEnumFORMATETC* none = formats.Get();
  EXPECT_EQ((std::tuple{holder.EnumFormatEtc(DATADIR_SET, &none), none}), (std::tuple{E_NOTIMPL, static_cast<IEnumFORMATETC*>(nullptr)}));
  EXPECT_EQ(std::make_pair(holder.EnumFormatEtc(0, &none), holder.EnumFormatEtc(DATADIR_GET, nullptr)), std::make_pair(E_INVALIDARG, E_POINTER));
  holder.Clear();
  EXPECT_EQ(RefsOf(sink.Get()), 1u);
}

TEST_F(DataTransfer, AdvisesForAFormatSurviveASinkThatUnadvisesDuringOnDataChange) {
  DataAdviseHolder holder({Format(), Format(kWrite)});
  bool firstGone = false, secondGone = false;
  const FORMATETC data = Format(), write = Format(kWrite);
  DWORD c1 = 0, c2 = 0, cWrite = 0;
  {
    auto first = MakeComObject<RecordingSink>(&firstGone), second = MakeComObject<RecordingSink>(&secondGone);
    ASSERT_EQ(holder.DAdvise(&data, 0, first.Get(), &c1) | holder.DAdvise(&data, 0, second.Get(), &c2), S_OK);
    ASSERT_EQ(holder.DAdvise(&write, 0, second.Get(), &cWrite), S_OK);
    first->onData = [&] {
      EXPECT_EQ(std::make_pair(holder.DUnadvise(c1), holder.DUnadvise(c2)), std::make_pair(S_OK, S_OK));
      EXPECT_FALSE(firstGone);
    };
  }
  STGMEDIUM medium{};
  medium.tymed = TYMED_HGLOBAL, medium.hGlobal = GlobalAlloc(GHND, 16);
  int delivered = 0;
  {
    const auto advises = holder.AdvisesFor(kData);
    ASSERT_EQ(advises.size(), 2u);
    for (const auto& advise : advises) {
      FORMATETC format = advise.format;
      advise.sink->OnDataChange(&format, &medium);
      ++delivered;
    }
  }
  EXPECT_TRUE(delivered == 2 && firstGone && !secondGone) << delivered;  // the second is still advised for the write format
  EXPECT_EQ(std::make_pair(holder.Count(), holder.AdvisesFor(kData).size()), std::make_pair(std::size_t{1}, std::size_t{0}));
  ReleaseStgMedium(&medium);
  holder.Clear();
  EXPECT_TRUE(secondGone);
}

TEST_F(DataTransfer, ReleaseStgMediumFreesWhatTheMediumOwnsOrReleasesItsOwnerAndCopyFormatEtcDuplicatesTheDevice) {
  STGMEDIUM medium{};
  medium.hGlobal = GlobalAlloc(GMEM_MOVEABLE, 8);
  medium.tymed = TYMED_HGLOBAL;
  ReleaseStgMedium(&medium);  // the fixture proves the block was freed

  bool ownerGone = false, streamGone = false;
  HGLOBAL block = GlobalAlloc(GHND, 8);
  medium.tymed = TYMED_HGLOBAL, medium.hGlobal = block;
  medium.pUnkForRelease = MakeComObject<xelo::test::CountedUnknown>(&ownerGone).Detach();
  ReleaseStgMedium(&medium);
  EXPECT_TRUE(ownerGone && medium.pUnkForRelease == nullptr);
  // The data belonged to the owner, so the handle is still ours to free.
  EXPECT_EQ((std::tuple{GlobalSize(block), GlobalFree(block)}), (std::tuple{SIZE_T{8}, HGLOBAL{}}));
  // A stream is released through IUnknown's slots.
  medium.tymed = TYMED_ISTREAM;
  medium.pstm = reinterpret_cast<IStream*>(static_cast<IUnknown*>(MakeComObject<xelo::test::CountedUnknown>(&streamGone).Detach()));
  ReleaseStgMedium(&medium);
  EXPECT_TRUE(streamGone);

  std::array<BYTE, 20> device{};
  const auto size = static_cast<DWORD>(device.size());
  std::memcpy(device.data(), &size, sizeof size);
  device[19] = 0x5A;
  const FORMATETC source = Format(0xC123, TYMED_HGLOBAL, DVASPECT_CONTENT, reinterpret_cast<DVTARGETDEVICE*>(device.data()));
  FORMATETC copy{};
  ASSERT_EQ(xelo::com::CopyFormatEtc(&copy, &source), S_OK);
  ASSERT_TRUE(copy.ptd != nullptr && copy.ptd != source.ptd);
  EXPECT_EQ(std::memcmp(copy.ptd, device.data(), device.size()), 0);
  EXPECT_EQ(std::make_pair(copy.cfFormat, copy.lindex), std::make_pair(CLIPFORMAT{0xC123}, LONG{-1}));
  CoTaskMemFree(copy.ptd);
  EXPECT_EQ(std::make_pair(xelo::com::CopyFormatEtc(nullptr, &source), xelo::com::CopyFormatEtc(&copy, nullptr)), std::make_pair(E_POINTER, E_POINTER));

  // Windows' own frees and leaves the fields as they were; ours empties
  // the medium, so that releasing it twice is harmless.
  if (xelo::test::kNativeCom) return;
  EXPECT_EQ(medium.tymed, TYMED_NULL);
  ReleaseStgMedium(&medium);
  ReleaseStgMedium(nullptr);
  medium.tymed = TYMED_FILE, medium.lpszFileName = xelo::com::CoTaskMemStrDup(OLESTR("/tmp/xelo-not-a-real-file"));
  ReleaseStgMedium(&medium);  // the fixture proves the name was freed
  EXPECT_EQ(medium.lpszFileName, nullptr);
}

}  // namespace
