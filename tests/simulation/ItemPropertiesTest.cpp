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

TEST_F(ItemProperties, AvailablePropertiesAndTheirValuesDependOnTheItem) {
  auto p = Create<IOPCItemProperties>();
  const Available ramp = AvailableFor(p.Get(), OLESTR("Channel 1.Device 1.Ramp"));
  EXPECT_EQ(ramp.ids, (std::vector<DWORD>{1, 2, 3, 4, 5, 6, 100, 101, 102, 103}));
  EXPECT_EQ(ramp.types,
            (std::vector<VARTYPE>{VT_I2, VT_R8, VT_I2, VT_DATE, VT_I4, VT_R4, VT_BSTR, VT_BSTR, VT_R8, VT_R8}));
  ASSERT_EQ(ramp.descriptions.size(), 10u);
  EXPECT_EQ((std::pair{ramp.descriptions[0], ramp.descriptions[8]}),
            (std::pair{com::OleString(OLESTR("Item Canonical Data Type")), com::OleString(OLESTR("High EU"))}));
  // 1-6 and the description; no engineering units.
  EXPECT_EQ(AvailableFor(p.Get(), OLESTR("Static.String")).ids, (std::vector<DWORD>{1, 2, 3, 4, 5, 6, 101}));

  DWORD count = 0;
  DWORD* ids = nullptr;
  LPWSTR* descriptions = nullptr;
  VARTYPE* types = nullptr;
  for (const auto& [item, hr] : {std::pair{OLESTR("Static.Nothing"), OPC_E_UNKNOWNITEMID},
                                 std::pair{OLESTR("Static.?"), OPC_E_INVALIDITEMID}}) {
    EXPECT_EQ(p->QueryAvailableProperties(const_cast<LPWSTR>(item), &count, &ids, &descriptions, &types), hr);
    EXPECT_TRUE(ids == nullptr && descriptions == nullptr && types == nullptr);
  }

  // The values, per property.
  FILETIME stamp{0x5A8B6000, 0x01D5C03A};  // a fixed UTC time
  ASSERT_TRUE(SimulationControl::SetItemTimeStamp(OLESTR("Channel 1.Device 1.Setpoint"), stamp));
  ASSERT_TRUE(SimulationControl::SetItemQuality(OLESTR("Channel 1.Device 1.Setpoint"), OPC_QUALITY_LOCAL_OVERRIDE));
  DWORD propertyIds[] = {1, 2, 3, 4, 5, 6, 102, 103, 100, 999};
  VARIANT* values = nullptr;
  HRESULT* errors = nullptr;
  ASSERT_EQ(p->GetItemProperties(const_cast<LPWSTR>(OLESTR("Channel 1.Device 1.Setpoint")), 10, propertyIds, &values,
                                 &errors),
            S_FALSE);
  // Types and values: the canonical type, the value, the quality, the time stamp as a date, the rights, the rate,
  // the high and low EU, the unit (a text), none for the unknown id.
  std::vector<VARTYPE> valueTypes;
  std::vector<double> numbers;
  for (int i = 0; i < 10; ++i) {
    valueTypes.push_back(values[i].vt);
    VARIANT r8;
    VariantInit(&r8);
    if (i < 8 && SUCCEEDED(VariantChangeType(&r8, &values[i], 0, VT_R8))) numbers.push_back(r8.dblVal);
  }
  EXPECT_EQ(valueTypes,
            (std::vector<VARTYPE>{VT_I2, VT_R8, VT_I2, VT_DATE, VT_I4, VT_R4, VT_R8, VT_R8, VT_BSTR, VT_EMPTY}));
  EXPECT_EQ(numbers, (std::vector<double>{VT_R8, 50, OPC_QUALITY_LOCAL_OVERRIDE, xelo::com::FileTimeToDate(stamp),
                                          OPC_READABLE | OPC_WRITEABLE, 100, 100, 0}));
  EXPECT_EQ(xelo::com::BstrView(values[8].bstrVal), OLESTR("%"));
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
  Session s(Create());
  DWORD ids[] = {102, 103, 1, 101, 4242};
  LPWSTR* itemIds = nullptr;
  HRESULT* errors = nullptr;
  EXPECT_EQ(Answer(s.server.As<IOPCItemProperties>()->LookupItemIDs(const_cast<LPWSTR>(OLESTR("Behaviour.Clamped")), 5,
                                                                     ids, &itemIds, &errors),
                   errors, 5),
            (Codes{S_FALSE, S_OK, S_OK, OPC_E_INVALID_PID, OPC_E_INVALID_PID, OPC_E_INVALID_PID}));
  std::vector<com::OleString> found;
  for (int i = 0; i < 5; ++i) found.push_back(itemIds[i] != nullptr ? Take(itemIds[i]) : OLESTR("(none)"));
  CoTaskMemFree(itemIds);
  EXPECT_EQ(found, (std::vector<com::OleString>{OLESTR("Behaviour.Clamped.HighEU"), OLESTR("Behaviour.Clamped.LowEU"),
                                                OLESTR("(none)"), OLESTR("(none)"), OLESTR("(none)")}));
  // The property item reads the property's value.
  const SyncRead high(s.As<IOPCSyncIO>().Get(), OPC_DS_DEVICE, {s.AddOne(OLESTR("Behaviour.Clamped.HighEU"), 1)});
  ASSERT_EQ((std::pair{high.hr, high.states.at(0).vDataValue.vt}), (std::pair{S_OK, VARTYPE{VT_R8}}));
  EXPECT_EQ(high.states[0].vDataValue.dblVal, 100.0);
}

}  // namespace
}  // namespace xelo::sim::test
