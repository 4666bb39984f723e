// IOPCItemProperties: the standard properties and those with item ids.
#include "SimHelpers.h"

#include "xelo/com/OleDate.h"

namespace xelo::sim::test {
namespace {

struct Available {
  std::vector<DWORD> ids;
  std::vector<VARTYPE> types;
  std::vector<com::OleString> descriptions;
};

Available AvailableFor(IOPCItemProperties* p, const OLECHAR* item) {
  Available a;
  DWORD count = 0;
  DWORD* ids = nullptr;
  LPWSTR* descriptions = nullptr;
  VARTYPE* types = nullptr;
  EXPECT_EQ(p->QueryAvailableProperties(const_cast<LPWSTR>(item), &count, &ids, &descriptions, &types), S_OK);
  for (DWORD i = 0; i < count; ++i) a.descriptions.push_back(Take(descriptions[i]));
  if (count > 0) a.ids.assign(ids, ids + count), a.types.assign(types, types + count);
  CoTaskMemFree(descriptions);
  CoTaskMemFree(ids);
  CoTaskMemFree(types);
  return a;
}

using ItemProperties = SimulationTest;

TEST_F(ItemProperties, AvailablePropertiesDependOnTheItem) {
  auto p = Create<IOPCItemProperties>();
  const Available ramp = AvailableFor(p.Get(), OLESTR("Channel 1.Device 1.Ramp"));
  EXPECT_EQ(ramp.ids, (std::vector<DWORD>{1, 2, 3, 4, 5, 6, 100, 101, 102, 103}));
  EXPECT_EQ(ramp.types,
            (std::vector<VARTYPE>{VT_I2, VT_R8, VT_I2, VT_DATE, VT_I4, VT_R4, VT_BSTR, VT_BSTR, VT_R8, VT_R8}));
  ASSERT_EQ(ramp.descriptions.size(), 10u);
  EXPECT_EQ(ramp.descriptions[0], OLESTR("Item Canonical Data Type"));
  EXPECT_EQ(ramp.descriptions[8], OLESTR("High EU"));
  // 1-6 and the description; no engineering units.
  EXPECT_EQ(AvailableFor(p.Get(), OLESTR("Static.String")).ids, (std::vector<DWORD>{1, 2, 3, 4, 5, 6, 101}));

  DWORD count = 0;
  DWORD* ids = nullptr;
  LPWSTR* descriptions = nullptr;
  VARTYPE* types = nullptr;
  EXPECT_EQ(p->QueryAvailableProperties(const_cast<LPWSTR>(OLESTR("Static.Nothing")), &count, &ids, &descriptions, &types),
            OPC_E_UNKNOWNITEMID);
  EXPECT_EQ(p->QueryAvailableProperties(const_cast<LPWSTR>(OLESTR("Static.?")), &count, &ids, &descriptions, &types),
            OPC_E_INVALIDITEMID);
  EXPECT_EQ(ids, nullptr);
}

TEST_F(ItemProperties, ValuesPerProperty) {
  auto p = Create<IOPCItemProperties>();
  FILETIME stamp{0x5A8B6000, 0x01D5C03A};  // a fixed UTC time
  ASSERT_TRUE(SimulationControl::SetItemTimeStamp(OLESTR("Channel 1.Device 1.Setpoint"), stamp));
  ASSERT_TRUE(SimulationControl::SetItemQuality(OLESTR("Channel 1.Device 1.Setpoint"), OPC_QUALITY_LOCAL_OVERRIDE));
  DWORD ids[] = {1, 2, 3, 4, 5, 6, 102, 103, 100, 999};
  VARIANT* values = nullptr;
  HRESULT* errors = nullptr;
  ASSERT_EQ(p->GetItemProperties(const_cast<LPWSTR>(OLESTR("Channel 1.Device 1.Setpoint")), 10, ids, &values, &errors),
            S_FALSE);
  EXPECT_EQ(values[0].vt, VT_I2);
  EXPECT_EQ(values[0].iVal, VT_R8);
  EXPECT_EQ(values[1].vt, VT_R8);
  EXPECT_EQ(values[1].dblVal, 50.0);
  EXPECT_EQ(values[2].iVal, static_cast<SHORT>(OPC_QUALITY_LOCAL_OVERRIDE));
  EXPECT_EQ(values[3].vt, VT_DATE);
  EXPECT_DOUBLE_EQ(values[3].date, xelo::com::FileTimeToDate(stamp));
  EXPECT_EQ(values[4].lVal, static_cast<LONG>(OPC_READABLE | OPC_WRITEABLE));
  EXPECT_EQ(values[5].vt, VT_R4);
  EXPECT_EQ(values[5].fltVal, 100.0f);
  EXPECT_EQ(values[6].dblVal, 100.0);
  EXPECT_EQ(values[7].dblVal, 0.0);
  EXPECT_EQ(xelo::com::BstrView(values[8].bstrVal), OLESTR("%"));
  EXPECT_EQ(values[9].vt, VT_EMPTY);
  EXPECT_EQ(Take(errors, 10), (Codes{S_OK, S_OK, S_OK, S_OK, S_OK, S_OK, S_OK, S_OK, S_OK, OPC_E_INVALID_PID}));
  for (int i = 0; i < 10; ++i) VariantClear(&values[i]);
  CoTaskMemFree(values);

  // A non-analog item has no EU properties; a write-only one has no value.
  DWORD some[] = {2, 102};
  ASSERT_EQ(p->GetItemProperties(const_cast<LPWSTR>(OLESTR("Static.WriteOnly")), 2, some, &values, &errors), S_FALSE);
  EXPECT_EQ(Take(errors, 2), (Codes{OPC_E_BADRIGHTS, OPC_E_INVALID_PID}));
  CoTaskMemFree(values);
  EXPECT_EQ(p->GetItemProperties(const_cast<LPWSTR>(OLESTR("Nope")), 2, some, &values, &errors), OPC_E_UNKNOWNITEMID);
  EXPECT_EQ(values, nullptr);
}

TEST_F(ItemProperties, PropertyItemIdsResolveToReadableItems) {
  auto server = Create();
  ComPtr<IOPCItemProperties> p;
  ASSERT_EQ(server.As(p), S_OK);
  DWORD ids[] = {102, 103, 1, 101, 4242};
  LPWSTR* itemIds = nullptr;
  HRESULT* errors = nullptr;
  ASSERT_EQ(p->LookupItemIDs(const_cast<LPWSTR>(OLESTR("Behaviour.Clamped")), 5, ids, &itemIds, &errors), S_FALSE);
  EXPECT_EQ(Take(itemIds[0]), OLESTR("Behaviour.Clamped.HighEU"));
  EXPECT_EQ(Take(itemIds[1]), OLESTR("Behaviour.Clamped.LowEU"));
  for (int i = 2; i < 5; ++i) {
    EXPECT_EQ(errors[i], OPC_E_INVALID_PID) << i;
    EXPECT_EQ(itemIds[i], nullptr);
  }
  CoTaskMemFree(itemIds);
  CoTaskMemFree(errors);

  // The property item reads the property's value.
  Session s(server);
  const OPCHANDLE high = s.AddOne(OLESTR("Behaviour.Clamped.HighEU"), 1);
  ASSERT_NE(high, 0u);
  auto io = s.As<IOPCSyncIO>();
  OPCHANDLE handles[] = {high};
  OPCITEMSTATE* states = nullptr;
  ASSERT_EQ(io->Read(OPC_DS_DEVICE, 1, handles, &states, &errors), S_OK);
  EXPECT_EQ(states[0].vDataValue.vt, VT_R8);
  EXPECT_EQ(states[0].vDataValue.dblVal, 100.0);
  CoTaskMemFree(states);
  CoTaskMemFree(errors);
}

}  // namespace
}  // namespace xelo::sim::test
