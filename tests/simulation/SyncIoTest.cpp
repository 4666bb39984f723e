// IOPCSyncIO: reads from cache and device, writes with per-item results.
#include "SimHelpers.h"

namespace xelo::sim::test {
namespace {

using SyncIo = SimulationTest;

// Each state's client handle, type, value as a double (an array's element count; -1 for none) and quality.
std::vector<std::vector<double>> Fields(const SyncRead& r) {
  std::vector<std::vector<double>> all;
  for (const OPCITEMSTATE& s : r.states) {
    VARIANT d;
    VariantInit(&d);
    auto* lent = const_cast<VARIANT*>(&s.vDataValue);  // MinGW declares the source non-const
    const double value = (lent->vt & VT_ARRAY) != 0 ? lent->parray->rgsabound[0].cElements
                         : lent->vt != VT_BSTR && SUCCEEDED(VariantChangeType(&d, lent, 0, VT_R8)) ? d.dblVal
                                                                                                    : -1;
    all.push_back({static_cast<double>(s.hClient), static_cast<double>(s.vDataValue.vt), value,
                   static_cast<double>(s.wQuality)});
  }
  return all;
}

// A cache read of an inactive item, or of any item of an inactive group, is out of service.
TEST_F(SyncIo, ReadsValuesQualitiesAndRights) {
  Session s(Create());
  ItemDefs defs;
  defs.Add(OLESTR("Static.Int32"), 1).Add(OLESTR("Static.String"), 2).Add(OLESTR("Behaviour.Bad"), 3);
  defs.Add(OLESTR("Behaviour.Uncertain"), 4).Add(OLESTR("Static.WriteOnly"), 5);
  defs.Add(OLESTR("Static.Double"), 6, VT_BSTR).Add(OLESTR("Channel 1.Device 1.Array"), 7);
  std::vector<OPCHANDLE> handles = s.Add(defs);
  handles.insert(handles.begin() + 5, 4711);
  auto io = s.As<IOPCSyncIO>();
  const SyncRead r(io.Get(), OPC_DS_DEVICE, handles);
  ASSERT_EQ(r.hr, S_FALSE);
  EXPECT_EQ(r.errors, (Codes{S_OK, S_OK, S_OK, S_OK, OPC_E_BADRIGHTS, OPC_E_INVALIDHANDLE, S_OK, S_OK}));
  ASSERT_EQ(r.states.size(), 8u);
  // The failed ones: no value. The double as the requested text, the array with its 3 elements.
  const auto fields = Fields(r);
  EXPECT_EQ(fields[0], (std::vector<double>{1, VT_I4, 32, OPC_QUALITY_GOOD}));
  EXPECT_EQ((std::vector<VARTYPE>{r.states[1].vDataValue.vt, r.states[6].vDataValue.vt}),
            (std::vector<VARTYPE>{VT_BSTR, VT_BSTR}));
  EXPECT_EQ((std::vector<com::OleString>{com::OleString(xelo::com::BstrView(r.states[1].vDataValue.bstrVal)),
                                         com::OleString(xelo::com::BstrView(r.states[6].vDataValue.bstrVal))}),
            (std::vector<com::OleString>{OLESTR("Hello"), OLESTR("2.25")}));
  EXPECT_EQ((std::vector<WORD>{static_cast<WORD>(r.states[2].wQuality & OPC_QUALITY_MASK),
                               static_cast<WORD>(r.states[3].wQuality & OPC_QUALITY_MASK)}),
            (std::vector<WORD>{OPC_QUALITY_BAD, OPC_QUALITY_UNCERTAIN}));
  EXPECT_EQ((std::vector<VARTYPE>{r.states[4].vDataValue.vt, r.states[5].vDataValue.vt}),
            (std::vector<VARTYPE>{VT_EMPTY, VT_EMPTY}));
  EXPECT_EQ(fields[7], (std::vector<double>{7, VT_ARRAY | VT_R8, 3, OPC_QUALITY_GOOD}));
  EXPECT_EQ(static_cast<double*>(r.states[7].vDataValue.parray->pvData)[2], 3.0);

  const SyncRead invalid(io.Get(), static_cast<OPCDATASOURCE>(7), {handles[0]});
  EXPECT_EQ((std::pair{invalid.hr, invalid.states.size()}), (std::pair{E_INVALIDARG, std::size_t{0}}));
  EXPECT_EQ(SimulationControl::LastArguments("IOPCSyncIO::Read")->dataSource, static_cast<OPCDATASOURCE>(7));
  const OPCHANDLE active = s.AddOne(OLESTR("Static.Int16"), 1);
  const OPCHANDLE inactive = s.AddOne(OLESTR("Static.Int16"), 2, VT_EMPTY, false);
  const auto qualities = [&](OPCDATASOURCE source, std::vector<OPCHANDLE> which) {
    const SyncRead read(io.Get(), source, std::move(which));
    std::vector<WORD> all;
    for (const auto& state : read.states) all.push_back(state.wQuality);
    return all;
  };
  EXPECT_EQ(qualities(OPC_DS_CACHE, {active, inactive}),
            (std::vector<WORD>{OPC_QUALITY_GOOD, OPC_QUALITY_OUT_OF_SERVICE}));
  EXPECT_EQ(qualities(OPC_DS_DEVICE, {inactive}), std::vector<WORD>{OPC_QUALITY_GOOD});  // the device does not care
  // An inactive group puts every item out of service for cache reads.
  ASSERT_EQ(SetGroupActive(s, FALSE), S_OK);
  EXPECT_EQ(qualities(OPC_DS_CACHE, {active}), std::vector<WORD>{OPC_QUALITY_OUT_OF_SERVICE});
}

TEST_F(SyncIo, WritesConvertClampAndRefuse) {
  Session s(Create());
  ItemDefs defs;
  defs.Add(OLESTR("Behaviour.Clamped"), 1).Add(OLESTR("Static.ReadOnly"), 2).Add(OLESTR("Static.Int16"), 3);
  defs.Add(OLESTR("Static.Date"), 4).Add(OLESTR("Channel 1.Device 1.Setpoint"), 5);
  defs.Add(OLESTR("Channel 1.Device 1.Array"), 6).Add(OLESTR("Static.UInt32"), 7);
  std::vector<OPCHANDLE> handles = s.Add(defs);
  handles.push_back(555);
  auto io = s.As<IOPCSyncIO>();
  const auto write = [&](std::vector<OPCHANDLE> which, std::vector<VARIANT> values) {
    HRESULT* errors = nullptr;
    const auto n = static_cast<DWORD>(which.size());
    const Codes codes = Answer(io->Write(n, which.data(), values.data(), &errors), errors, n);
    for (auto& v : values) VariantClear(&v);
    return codes;
  };
  VARIANT text;
  VariantInit(&text);
  text.vt = VT_BSTR;
  text.bstrVal = xelo::com::AllocBstr(OLESTR("not a date"));
  // Clamped to 100; read-only; does not fit an I2; no date; converted to R8; a scalar into an array; the same width:
  // the bits, 4294967295; an unknown handle.
  EXPECT_EQ(write(handles, {MakeR8(150.0), MakeI4(1), MakeI4(40000), text, MakeI4(77), MakeR8(1.0), MakeI4(-1),
                            MakeR8(1.0)}),
            (Codes{S_FALSE, OPC_S_CLAMP, OPC_E_BADRIGHTS, OPC_E_RANGE, OPC_E_BADTYPE, S_OK, OPC_E_BADTYPE, S_OK,
                   OPC_E_INVALIDHANDLE}));
  {
    const SyncRead r(io.Get(), OPC_DS_DEVICE, {handles[0], handles[2], handles[4], handles[6]});
    EXPECT_EQ(Fields(r), (std::vector<std::vector<double>>{{1, VT_R8, 100, OPC_QUALITY_GOOD},
                                                           {3, VT_I2, 16, OPC_QUALITY_GOOD},  // unchanged
                                                           {5, VT_R8, 77, OPC_QUALITY_GOOD},
                                                           {7, VT_UI4, 4294967295.0, OPC_QUALITY_GOOD}}));
  }
  EXPECT_EQ(write({handles[0]}, {MakeR8(-5.0)}), (Codes{S_FALSE, OPC_S_CLAMP}));
  EXPECT_EQ(write({handles[0]}, {MakeR8(12.5)}), (Codes{S_OK, S_OK}));
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
    EXPECT_EQ(write({ints}, {v}), (length == 3 ? Codes{S_OK, S_OK} : Codes{S_FALSE, OPC_E_RANGE})) << length;
  }
  const SyncRead back(io.Get(), OPC_DS_DEVICE, {ints});
  ASSERT_EQ(back.states[0].vDataValue.vt, VT_ARRAY | VT_R8);
  const auto* data = static_cast<double*>(back.states[0].vDataValue.parray->pvData);
  EXPECT_EQ(std::vector<double>(data, data + 3), (std::vector<double>{10, 20, 30}));
}

}  // namespace
}  // namespace xelo::sim::test
