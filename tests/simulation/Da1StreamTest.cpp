// DA 1.0: IDataObject advises, IOPCAsyncIO and the stream layout, byte by
// byte.
#include "support/RecordingSinks.h"

namespace xelo::sim::test {
namespace {

// The stream's 32-bit words from `from` on (to its end by default).
std::vector<DWORD> Dwords(const std::vector<BYTE>& bytes, std::size_t from, std::size_t to = SIZE_MAX) {
  std::vector<DWORD> words;
  for (std::size_t at = from; at + 4 <= std::min(to, bytes.size()); at += 4) {
    words.push_back(DWORD{bytes[at]} | DWORD{bytes[at + 1]} << 8 | DWORD{bytes[at + 2]} << 16 |
                    DWORD{bytes[at + 3]} << 24);
  }
  return words;
}

class Da1Stream : public SimulationTest {
 protected:
  void Open(const OLECHAR* progId = OLESTR("Xelo.Sim.DA1.1")) {
    session_ = std::make_unique<Session>(Create(progId), 100000, true, 0.0f, 0x4711);
    data_ = session_->As<IDataObject>();
    ASSERT_TRUE(data_);
    sink_ = xelo::com::MakeComObject<StreamSink>();
  }
  DWORD Advise(CLIPFORMAT format, HRESULT expected = S_OK, DWORD tymed = TYMED_HGLOBAL) {
    FORMATETC f{format, nullptr, DVASPECT_CONTENT, -1, tymed};
    DWORD connection = 0;
    EXPECT_EQ(data_->DAdvise(&f, 0, sink_.Get(), &connection), expected);
    return connection;
  }
  void TearDown() override {
    data_ = nullptr;
    session_.reset();
    SimulationTest::TearDown();
  }
  // The number of events once the clock moved `by` and what is due ran.
  std::size_t After(std::chrono::milliseconds by = {}) {
    Advance(by);
    return sink_->events.size();
  }
  std::unique_ptr<Session> session_;
  ComPtr<IDataObject> data_;
  ComPtr<StreamSink> sink_;
};

TEST_F(Da1Stream, AdviseFormatsMediaAndNoStreamAfterDUnadvise) {
  Open(OLESTR("Xelo.Sim.1"));  // the DA 2.0 server speaks DA 1.0 as well
  const DWORD others[] = {Advise(OPCSTMFORMATDATA), Advise(OPCSTMFORMATWRITECOMPLETE)};
  Advise(0xC0FE, DV_E_FORMATETC);
  Advise(OPCSTMFORMATDATA, DV_E_TYMED, TYMED_ISTREAM);
  EXPECT_EQ(data_->DUnadvise(12345), OLE_E_NOCONNECTION);

  const OPCHANDLE item = session_->AddOne(OLESTR("Static.Int32"), 1);
  const DWORD data = Advise(OPCSTMFORMATDATATIME);
  EXPECT_TRUE(others[0] != 0 && others[1] != 0 && data != 0);
  DWORD transaction = 0;
  HRESULT* errors = nullptr;
  ASSERT_EQ(
      session_->As<IOPCAsyncIO>()->Read(data, OPC_DS_CACHE, 1, const_cast<OPCHANDLE*>(&item), &transaction, &errors),
      S_OK);
  CoTaskMemFree(errors);
  for (const DWORD connection : {others[0], others[1], data}) EXPECT_EQ(data_->DUnadvise(connection), S_OK);
  Pump();
  SimulationControl::PublishNow();
  EXPECT_TRUE(sink_->events.empty());
}

TEST_F(Da1Stream, DataTimeStreamLayout) {
  Open();
  const OPCHANDLE i2 = session_->AddOne(OLESTR("Static.Int16"), 11);
  const OPCHANDLE text = session_->AddOne(OLESTR("Static.String"), 12);
  const OPCHANDLE array = session_->AddOne(OLESTR("Channel 1.Device 1.Array"), 13);
  const OPCHANDLE bad = session_->AddOne(OLESTR("Behaviour.Bad"), 14);
  const FILETIME stamp{0x11223344, 0x01D60000};
  ASSERT_TRUE(SimulationControl::SetItemTimeStamp(OLESTR("Static.Int16"), stamp));
  const DWORD connection = Advise(OPCSTMFORMATDATATIME);
  auto io = session_->As<IOPCAsyncIO>();
  OPCHANDLE handles[] = {i2, text, array, bad};
  DWORD transaction = 0;
  HRESULT* errors = nullptr;
  gInsideCall = true;
  ASSERT_EQ(io->Read(connection, OPC_DS_DEVICE, 4, handles, &transaction, &errors), S_OK);
  gInsideCall = false;
  CoTaskMemFree(errors);
  EXPECT_NE(transaction, 0u);
  ASSERT_EQ(After(), 1u);
  const auto& e = sink_->events[0];
  EXPECT_EQ((std::pair{e.duringCall, e.format}), (std::pair{false, CLIPFORMAT{OPCSTMFORMATDATATIME}}));
  const auto& b = e.bytes;

  const DWORD values = 20 + 4 * 20;
  // Int16: 16. String: 16 + 4 + 10 + 2 = 32. Array: 16 + 24 + 3 * 8 = 64. Bad (I4): 16.
  const DWORD total = values + 16 + 32 + 64 + 16;
  ASSERT_EQ(b.size(), total);
  // The group header: size, item count, client group handle, transaction, master quality (Bad is not good). Then
  // each item's 20 bytes: client handle, value offset, quality with a zero word above it, time stamp.
  const DWORD offsets[] = {values, values + 16, values + 48, values + 112};
  std::vector<DWORD> headers = Dwords(b, 0, 20);
  for (std::size_t h = 20; h < values; h += 20) {
    for (const DWORD word : Dwords(b, h, h + 12)) headers.push_back(word);
  }
  EXPECT_EQ(headers, (std::vector<DWORD>{total, 4, 0x4711, transaction, S_FALSE, 11, offsets[0], OPC_QUALITY_GOOD, 12,
                                         offsets[1], OPC_QUALITY_GOOD, 13, offsets[2], OPC_QUALITY_GOOD, 14,
                                         offsets[3], OPC_QUALITY_BAD | OPC_QUALITY_DEVICE_FAILURE}));
  EXPECT_EQ(Dwords(b, 32, 40), (std::vector<DWORD>{stamp.dwLowDateTime, stamp.dwHighDateTime}));
  // The values as VARIANTs with zero reserved words and no pointer. Int16 = 16. "Hello": its byte count, the
  // characters, a NUL. 3 R8: a descriptor (cDims, fFeatures, cbElements, cLocks, pvData, cElements, lLbound) and the
  // elements. Bad: an I4 of 0.
  EXPECT_EQ(Dwords(b, values), (std::vector<DWORD>{VT_I2, 0, 16, 0,
                                                   VT_BSTR, 0, 0, 0, 10, 'H' | 'e' << 16, 'l' | 'l' << 16, 'o',
                                                   VT_ARRAY | VT_R8, 0, 0, 0, 1 | 0 << 16, 8, 0, 0, 3, 0,
                                                   0, 0x3FF00000, 0, 0x40000000, 0, 0x40080000,
                                                   VT_I4, 0, 0, 0}));
}

TEST_F(Da1Stream, DataStreamWithoutTimeAndSubscriptions) {
  Open();
  session_->AddOne(OLESTR("Static.Double"), 21);
  session_->AddOne(OLESTR("Static.Bool"), 22);
  Advise(OPCSTMFORMATDATA);
  SimulationControl::PublishNow();
  ASSERT_EQ(sink_->events.size(), 1u);
  const auto& b = sink_->events[0].bytes;
  const DWORD values = 20 + 2 * 12;
  // Size, item count, group, transaction 0 (a subscription update), master quality; then client handle, value
  // offset, quality; then the values: 2.25 and VARIANT_TRUE, the rest of its 8 bytes zero.
  EXPECT_EQ(Dwords(b, 0), (std::vector<DWORD>{values + 32, 2, 0x4711, 0, S_OK, 21, values, OPC_QUALITY_GOOD, 22,
                                              values + 16, OPC_QUALITY_GOOD, VT_R8, 0, 0, 0x40020000, VT_BOOL, 0,
                                              0xFFFF, 0}));

  // Only changes afterwards.
  VARIANT v = MakeR8(-1);
  SimulationControl::SetItemValue(OLESTR("Static.Double"), v);
  SimulationControl::PublishNow();
  ASSERT_EQ(sink_->events.size(), 2u);
  EXPECT_EQ(Dwords(sink_->events[1].bytes, 4, 8), std::vector<DWORD>{1});
}

TEST_F(Da1Stream, WriteCompleteStreamAndCancel) {
  Open();
  const OPCHANDLE clamped = session_->AddOne(OLESTR("Behaviour.Clamped"), 31);
  const OPCHANDLE readOnly = session_->AddOne(OLESTR("Static.ReadOnly"), 32);
  const OPCHANDLE slow = session_->AddOne(OLESTR("Behaviour.Slow"), 33);
  const DWORD data = Advise(OPCSTMFORMATDATA);
  const DWORD write = Advise(OPCSTMFORMATWRITECOMPLETE);
  auto io = session_->As<IOPCAsyncIO>();
  OPCHANDLE handles[] = {clamped, readOnly};
  VARIANT values[] = {MakeR8(-3), MakeI4(1)};
  DWORD transaction = 0;
  HRESULT* errors = nullptr;
  EXPECT_EQ(io->Write(data, 2, handles, values, &transaction, &errors), CONNECT_E_NOCONNECTION);
  ASSERT_EQ(io->Write(write, 2, handles, values, &transaction, &errors), S_FALSE);
  EXPECT_EQ(errors[1], OPC_E_BADRIGHTS);
  CoTaskMemFree(errors);
  ASSERT_EQ(After(), 1u);
  const auto& b = sink_->events[0].bytes;
  // Count, group, transaction, master error (the clamp is not S_OK), then the client handle and result of the only
  // item that did not fail at once.
  EXPECT_EQ(Dwords(b, 0), (std::vector<DWORD>{1, 0x4711, transaction, S_FALSE, 31, static_cast<DWORD>(OPC_S_CLAMP)}));

  DWORD slowTransaction = 0;
  ASSERT_EQ(io->Read(data, OPC_DS_DEVICE, 1, const_cast<OPCHANDLE*>(&slow), &slowTransaction, &errors), S_OK);
  CoTaskMemFree(errors);
  EXPECT_EQ(io->Cancel(slowTransaction), S_OK);
  EXPECT_EQ(io->Cancel(slowTransaction), E_FAIL);
  EXPECT_EQ(After(std::chrono::milliseconds(1000)), 1u);

  ASSERT_EQ(io->Refresh(data, OPC_DS_CACHE, &transaction), S_OK);
  ASSERT_EQ(After(), 1u) << "the refresh includes the slow item";
  ASSERT_EQ(After(std::chrono::milliseconds(1000)), 2u);
  EXPECT_EQ(Dwords(sink_->events[1].bytes, 4, 16), (std::vector<DWORD>{3, 0x4711, transaction}));
  EXPECT_EQ(SimulationControl::LastArguments("IOPCAsyncIO::Refresh")->connection, data);
}

}  // namespace
}  // namespace xelo::sim::test
