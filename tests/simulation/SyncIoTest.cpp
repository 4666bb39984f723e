// IOPCSyncIO: reads from cache and device, writes with per-item results.
#include "SimHelpers.h"

namespace xelo::sim::test {
namespace {

using SyncIo = SimulationTest;

struct ReadResult {
  HRESULT hr;
  std::vector<OPCITEMSTATE> states;  // values owned: cleared by the destructor
  std::vector<HRESULT> errors;
  ~ReadResult() {
    for (auto& s : states) VariantClear(&s.vDataValue);
  }
};

void Read(IOPCSyncIO* io, OPCDATASOURCE source, std::vector<OPCHANDLE> handles, ReadResult& r) {
  OPCITEMSTATE* states = nullptr;
  HRESULT* errors = nullptr;
  r.hr = io->Read(source, static_cast<DWORD>(handles.size()), handles.data(), &states, &errors);
  if (states != nullptr) r.states.assign(states, states + handles.size());
  if (errors != nullptr) r.errors.assign(errors, errors + handles.size());
  CoTaskMemFree(states);
  CoTaskMemFree(errors);
}

// A cache read of an inactive item, or of any item of an inactive group, is out of service.
TEST_F(SyncIo, ReadsValuesQualitiesAndRights) {
  Session s(Create());
  const OPCHANDLE i32 = s.AddOne(OLESTR("Static.Int32"), 1);
  const OPCHANDLE text = s.AddOne(OLESTR("Static.String"), 2);
  const OPCHANDLE bad = s.AddOne(OLESTR("Behaviour.Bad"), 3);
  const OPCHANDLE uncertain = s.AddOne(OLESTR("Behaviour.Uncertain"), 4);
  const OPCHANDLE writeOnly = s.AddOne(OLESTR("Static.WriteOnly"), 5);
  const OPCHANDLE asText = s.AddOne(OLESTR("Static.Double"), 6, VT_BSTR);
  const OPCHANDLE array = s.AddOne(OLESTR("Channel 1.Device 1.Array"), 7);
  auto io = s.As<IOPCSyncIO>();
  ReadResult r;
  Read(io.Get(), OPC_DS_DEVICE, {i32, text, bad, uncertain, writeOnly, 4711, asText, array}, r);
  ASSERT_EQ(r.hr, S_FALSE);
  EXPECT_EQ(r.errors, (Codes{S_OK, S_OK, S_OK, S_OK, OPC_E_BADRIGHTS, OPC_E_INVALIDHANDLE, S_OK, S_OK}));
  EXPECT_EQ((std::vector<long>{static_cast<long>(r.states[0].hClient), r.states[0].vDataValue.vt,
                               r.states[0].vDataValue.lVal, r.states[0].wQuality}),
            (std::vector<long>{1, VT_I4, 32, OPC_QUALITY_GOOD}));
  ASSERT_EQ(r.states[1].vDataValue.vt, VT_BSTR);
  EXPECT_EQ(xelo::com::BstrView(r.states[1].vDataValue.bstrVal), OLESTR("Hello"));
  EXPECT_EQ(r.states[2].wQuality & OPC_QUALITY_MASK, OPC_QUALITY_BAD);
  EXPECT_EQ(r.states[3].wQuality & OPC_QUALITY_MASK, OPC_QUALITY_UNCERTAIN);
  EXPECT_EQ(r.states[4].vDataValue.vt, VT_EMPTY);
  ASSERT_EQ(r.states[6].vDataValue.vt, VT_BSTR);  // converted to the requested type
  EXPECT_EQ(xelo::com::BstrView(r.states[6].vDataValue.bstrVal), OLESTR("2.25"));
  ASSERT_EQ(r.states[7].vDataValue.vt, VT_ARRAY | VT_R8);
  EXPECT_EQ(r.states[7].vDataValue.parray->rgsabound[0].cElements, 3u);
  EXPECT_EQ(static_cast<double*>(r.states[7].vDataValue.parray->pvData)[2], 3.0);

  ReadResult invalid;
  Read(io.Get(), static_cast<OPCDATASOURCE>(7), {i32}, invalid);
  EXPECT_EQ(invalid.hr, E_INVALIDARG);
  EXPECT_TRUE(invalid.states.empty());
  EXPECT_EQ(SimulationControl::LastArguments("IOPCSyncIO::Read")->dataSource, static_cast<OPCDATASOURCE>(7));
  const OPCHANDLE active = s.AddOne(OLESTR("Static.Int16"), 1);
  const OPCHANDLE inactive = s.AddOne(OLESTR("Static.Int16"), 2, VT_EMPTY, false);
  ReadResult cache;
  Read(io.Get(), OPC_DS_CACHE, {active, inactive}, cache);
  ASSERT_EQ(cache.hr, S_OK);
  EXPECT_EQ(cache.states[0].wQuality, OPC_QUALITY_GOOD);
  EXPECT_EQ(cache.states[1].wQuality, OPC_QUALITY_OUT_OF_SERVICE);
  ReadResult device;
  Read(io.Get(), OPC_DS_DEVICE, {inactive}, device);
  EXPECT_EQ(device.states[0].wQuality, OPC_QUALITY_GOOD);  // the device does not care

  // An inactive group puts every item out of service for cache reads.
  BOOL off = FALSE;
  DWORD revised;
  ASSERT_EQ(s.As<IOPCGroupStateMgt>()->SetState(nullptr, &revised, &off, nullptr, nullptr, nullptr, nullptr), S_OK);
  ReadResult groupOff;
  Read(io.Get(), OPC_DS_CACHE, {active}, groupOff);
  EXPECT_EQ(groupOff.states[0].wQuality, OPC_QUALITY_OUT_OF_SERVICE);
}

TEST_F(SyncIo, WritesConvertClampAndRefuse) {
  Session s(Create());
  const OPCHANDLE clamped = s.AddOne(OLESTR("Behaviour.Clamped"), 1);
  const OPCHANDLE readOnly = s.AddOne(OLESTR("Static.ReadOnly"), 2);
  const OPCHANDLE int16 = s.AddOne(OLESTR("Static.Int16"), 3);
  const OPCHANDLE date = s.AddOne(OLESTR("Static.Date"), 4);
  const OPCHANDLE setpoint = s.AddOne(OLESTR("Channel 1.Device 1.Setpoint"), 5);
  const OPCHANDLE array = s.AddOne(OLESTR("Channel 1.Device 1.Array"), 6);
  const OPCHANDLE uint32 = s.AddOne(OLESTR("Static.UInt32"), 7);
  auto io = s.As<IOPCSyncIO>();

  VARIANT values[8];
  values[0] = MakeR8(150.0);            // clamped to 100
  values[1] = MakeI4(1);                // read-only
  values[2] = MakeI4(40000);            // does not fit an I2
  VariantInit(&values[3]);
  values[3].vt = VT_BSTR;
  values[3].bstrVal = xelo::com::AllocBstr(OLESTR("not a date"));
  values[4] = MakeI4(77);               // converted to R8
  values[5] = MakeR8(1.0);              // scalar into an array
  values[6] = MakeI4(-1);               // same width: the bits, 4294967295
  values[7] = MakeR8(1.0);              // unknown handle
  OPCHANDLE handles[] = {clamped, readOnly, int16, date, setpoint, array, uint32, 555};
  HRESULT* errors = nullptr;
  ASSERT_EQ(io->Write(8, handles, values, &errors), S_FALSE);
  EXPECT_EQ(Take(errors, 8), (Codes{OPC_S_CLAMP, OPC_E_BADRIGHTS, OPC_E_RANGE, OPC_E_BADTYPE, S_OK, OPC_E_BADTYPE, S_OK,
                                     OPC_E_INVALIDHANDLE}));
  for (auto& v : values) VariantClear(&v);

  ReadResult r;
  Read(io.Get(), OPC_DS_DEVICE, {clamped, int16, setpoint, uint32}, r);
  EXPECT_EQ(r.states[0].vDataValue.dblVal, 100.0);
  EXPECT_EQ(r.states[1].vDataValue.iVal, 16);  // unchanged after the failed write
  EXPECT_EQ(r.states[2].vDataValue.vt, VT_R8);
  EXPECT_EQ(r.states[2].vDataValue.dblVal, 77.0);
  EXPECT_EQ(r.states[3].vDataValue.ulVal, 4294967295u);

  VARIANT below = MakeR8(-5.0);
  ASSERT_EQ(io->Write(1, handles, &below, &errors), S_FALSE);
  EXPECT_EQ(Take(errors, 1), Codes{OPC_S_CLAMP});
  VARIANT inside = MakeR8(12.5);
  ASSERT_EQ(io->Write(1, handles, &inside, &errors), S_OK);
  EXPECT_EQ(Take(errors, 1), Codes{S_OK});
  VARIANT got;
  ASSERT_TRUE(SimulationControl::GetItemValue(OLESTR("Behaviour.Clamped"), &got));
  EXPECT_EQ(got.dblVal, 12.5);

  // An array takes exactly as many elements as it has.
  OPCHANDLE ints = s.AddOne(OLESTR("Channel 1.Device 2.Array"), 8);
  for (ULONG length : {2u, 3u, 4u}) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_ARRAY | VT_I4;
    v.parray = SafeArrayCreateVector(VT_I4, 0, length);
    for (ULONG i = 0; i < length; ++i) static_cast<LONG*>(v.parray->pvData)[i] = static_cast<LONG>(10 * (i + 1));
    EXPECT_EQ(io->Write(1, &ints, &v, &errors), length == 3 ? S_OK : S_FALSE);
    EXPECT_EQ(Take(errors, 1), Codes{length == 3 ? S_OK : OPC_E_RANGE}) << length;
    VariantClear(&v);
  }
  ReadResult back;
  Read(io.Get(), OPC_DS_DEVICE, {ints}, back);
  ASSERT_EQ(back.states[0].vDataValue.vt, VT_ARRAY | VT_R8);
  const auto* data = static_cast<double*>(back.states[0].vDataValue.parray->pvData);
  EXPECT_EQ(std::vector<double>(data, data + 3), (std::vector<double>{10, 20, 30}));
}

}  // namespace
}  // namespace xelo::sim::test
