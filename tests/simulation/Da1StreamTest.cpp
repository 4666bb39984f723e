// DA 1.0: IDataObject advises, IOPCAsyncIO and the stream layout, byte by
// byte.
#include "support/RecordingSinks.h"

namespace xelo::sim::test {
namespace {

template <class T>
T At(const std::vector<BYTE>& bytes, std::size_t offset) {
  T value{};
  EXPECT_LE(offset + sizeof(T), bytes.size());
  if (offset + sizeof(T) <= bytes.size()) std::memcpy(&value, bytes.data() + offset, sizeof(T));
  return value;
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
  std::unique_ptr<Session> session_;
  ComPtr<IDataObject> data_;
  ComPtr<StreamSink> sink_;
};

TEST_F(Da1Stream, AdviseFormatsMediaAndNoStreamAfterDUnadvise) {
  Open(OLESTR("Xelo.Sim.1"));  // the DA 2.0 server speaks DA 1.0 as well
  const DWORD others[] = {Advise(OPCSTMFORMATDATA), Advise(OPCSTMFORMATWRITECOMPLETE)};
  EXPECT_TRUE(others[0] != 0 && others[1] != 0);
  Advise(0xC0FE, DV_E_FORMATETC);
  Advise(OPCSTMFORMATDATA, DV_E_TYMED, TYMED_ISTREAM);
  EXPECT_EQ(data_->DUnadvise(12345), OLE_E_NOCONNECTION);

  const OPCHANDLE item = session_->AddOne(OLESTR("Static.Int32"), 1);
  const DWORD data = Advise(OPCSTMFORMATDATATIME);
  ASSERT_NE(data, 0u);
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
  EXPECT_TRUE(sink_->events.empty());
  Pump();
  ASSERT_EQ(sink_->events.size(), 1u);
  const auto& e = sink_->events[0];
  EXPECT_FALSE(e.duringCall);
  EXPECT_EQ(e.format, OPCSTMFORMATDATATIME);
  const auto& b = e.bytes;

  // Group header.
  const std::size_t values = 20 + 4 * 20;
  // Int16: 16. String: 16 + 4 + 10 + 2 = 32. Array: 16 + 24 + 3 * 8 = 64. Bad (I4): 16.
  const std::size_t total = values + 16 + 32 + 64 + 16;
  ASSERT_EQ(b.size(), total);
  // Size, item count, client group handle, transaction, master quality (Bad is not good).
  EXPECT_EQ((std::vector<DWORD>{At<DWORD>(b, 0), At<DWORD>(b, 4), At<DWORD>(b, 8), At<DWORD>(b, 12), At<DWORD>(b, 16)}),
            (std::vector<DWORD>{static_cast<DWORD>(total), 4, 0x4711, transaction, S_FALSE}));

  // Item headers (20 bytes each).
  const DWORD offsets[] = {static_cast<DWORD>(values), static_cast<DWORD>(values + 16),
                           static_cast<DWORD>(values + 48), static_cast<DWORD>(values + 112)};
  const OPCHANDLE clients[] = {11, 12, 13, 14};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(At<DWORD>(b, 20 + 20 * i), clients[i]);
    EXPECT_EQ(At<DWORD>(b, 20 + 20 * i + 4), offsets[i]);
    EXPECT_EQ(At<WORD>(b, 20 + 20 * i + 10), 0u);
  }
  EXPECT_EQ(At<WORD>(b, 20 + 8), OPC_QUALITY_GOOD);
  EXPECT_EQ(At<DWORD>(b, 20 + 12), stamp.dwLowDateTime);
  EXPECT_EQ(At<DWORD>(b, 20 + 16), stamp.dwHighDateTime);
  EXPECT_EQ(At<WORD>(b, 20 + 60 + 8), OPC_QUALITY_BAD | OPC_QUALITY_DEVICE_FAILURE);

  // Int16 = 16: vt, three zero words, the value in the first two of 8 bytes, the rest zero.
  std::size_t v = offsets[0];
  EXPECT_EQ(At<ULONGLONG>(b, v), VT_I2);
  EXPECT_EQ(At<ULONGLONG>(b, v + 8), 16u);

  // "Hello": VARIANT, byte count 10, the characters, a NUL.
  v = offsets[1];
  EXPECT_EQ(At<WORD>(b, v), VT_BSTR);
  EXPECT_EQ(At<ULONGLONG>(b, v + 8), 0u);  // no pointer leaks into the stream
  EXPECT_EQ(At<DWORD>(b, v + 16), 10u);
  const OLECHAR hello[] = OLESTR("Hello");
  for (int i = 0; i < 6; ++i) EXPECT_EQ(At<OLECHAR>(b, v + 20 + 2 * i), hello[i]);

  // Array of 3 R8: VARIANT, 24-byte descriptor, the elements.
  v = offsets[2];
  EXPECT_EQ(At<WORD>(b, v), VT_ARRAY | VT_R8);
  const std::size_t sa = v + 16;
  // cDims, fFeatures, cbElements, cLocks, pvData, cElements, lLbound.
  EXPECT_EQ((std::vector<DWORD>{At<WORD>(b, sa), At<WORD>(b, sa + 2), At<DWORD>(b, sa + 4), At<DWORD>(b, sa + 8),
                                At<DWORD>(b, sa + 12), At<DWORD>(b, sa + 16), At<DWORD>(b, sa + 20)}),
            (std::vector<DWORD>{1, 0, 8, 0, 0, 3, 0}));
  EXPECT_EQ((std::vector<double>{At<double>(b, sa + 24), At<double>(b, sa + 32), At<double>(b, sa + 40)}),
            (std::vector<double>{1, 2, 3}));

  v = offsets[3];
  EXPECT_EQ(At<WORD>(b, v), VT_I4);
  EXPECT_EQ(At<LONG>(b, v + 8), 0);
}

TEST_F(Da1Stream, DataStreamWithoutTimeAndSubscriptions) {
  Open();
  session_->AddOne(OLESTR("Static.Double"), 21);
  session_->AddOne(OLESTR("Static.Bool"), 22);
  Advise(OPCSTMFORMATDATA);
  SimulationControl::PublishNow();
  ASSERT_EQ(sink_->events.size(), 1u);
  const auto& b = sink_->events[0].bytes;
  const std::size_t values = 20 + 2 * 12;
  ASSERT_EQ(b.size(), values + 16 + 16);
  // Size, transaction 0 (a subscription update), master quality; then client handle, value offset, quality.
  EXPECT_EQ((std::vector<DWORD>{At<DWORD>(b, 0), At<DWORD>(b, 12), At<DWORD>(b, 16), At<DWORD>(b, 20), At<DWORD>(b, 24),
                                At<WORD>(b, 28), At<DWORD>(b, 32), At<DWORD>(b, 36)}),
            (std::vector<DWORD>{static_cast<DWORD>(b.size()), 0, S_OK, 21, values, OPC_QUALITY_GOOD, 22, values + 16}));
  EXPECT_EQ(At<WORD>(b, values), VT_R8);
  EXPECT_EQ(At<double>(b, values + 8), 2.25);
  EXPECT_EQ(At<WORD>(b, values + 16), VT_BOOL);
  EXPECT_EQ(At<SHORT>(b, values + 24), VARIANT_TRUE);
  EXPECT_EQ(At<ULONGLONG>(b, values + 24), 0xFFFFu);

  // Only changes afterwards.
  VARIANT v = MakeR8(-1);
  SimulationControl::SetItemValue(OLESTR("Static.Double"), v);
  SimulationControl::PublishNow();
  ASSERT_EQ(sink_->events.size(), 2u);
  EXPECT_EQ(At<DWORD>(sink_->events[1].bytes, 4), 1u);
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
  Pump();
  ASSERT_EQ(sink_->events.size(), 1u);
  const auto& b = sink_->events[0].bytes;
  ASSERT_EQ(b.size(), 16u + 8u);  // only the item that did not fail at once
  // Count, group, transaction, master error (the clamp is not S_OK), then the item's client handle and result.
  EXPECT_EQ((std::vector<DWORD>{At<DWORD>(b, 0), At<DWORD>(b, 4), At<DWORD>(b, 8), At<DWORD>(b, 12), At<DWORD>(b, 16),
                                At<DWORD>(b, 20)}),
            (std::vector<DWORD>{1, 0x4711, transaction, S_FALSE, 31, static_cast<DWORD>(OPC_S_CLAMP)}));

  DWORD slowTransaction = 0;
  ASSERT_EQ(io->Read(data, OPC_DS_DEVICE, 1, const_cast<OPCHANDLE*>(&slow), &slowTransaction, &errors), S_OK);
  CoTaskMemFree(errors);
  EXPECT_EQ(io->Cancel(slowTransaction), S_OK);
  EXPECT_EQ(io->Cancel(slowTransaction), E_FAIL);
  Advance(std::chrono::milliseconds(1000));
  EXPECT_EQ(sink_->events.size(), 1u);

  ASSERT_EQ(io->Refresh(data, OPC_DS_CACHE, &transaction), S_OK);
  Pump();
  ASSERT_EQ(sink_->events.size(), 1u) << "the refresh includes the slow item";
  Advance(std::chrono::milliseconds(1000));
  ASSERT_EQ(sink_->events.size(), 2u);
  EXPECT_EQ(At<DWORD>(sink_->events[1].bytes, 4), 3u);
  EXPECT_EQ(At<DWORD>(sink_->events[1].bytes, 12), transaction);
  EXPECT_EQ(SimulationControl::LastArguments("IOPCAsyncIO::Refresh")->connection, data);
}

}  // namespace
}  // namespace xelo::sim::test
