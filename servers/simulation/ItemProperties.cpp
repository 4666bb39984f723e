#include "servers/simulation/ItemProperties.h"

#include "servers/simulation/SimulationRuntime.h"
#include "xelo/com/OleDate.h"
#include "xelo/opc/OpcError.h"

#include <string_view>

namespace xelo::sim {
namespace {

constexpr float kScanRate = static_cast<float>(SimulationRuntime::kUpdatePeriod.count());

}  // namespace

HRESULT ItemProperties::Resolve(AddressSpace& space, const OLECHAR* itemId, SimulatedItem*& item) {
  item = nullptr;
  const com::OleStringView id = itemId != nullptr ? com::OleStringView(itemId) : com::OleStringView();
  if (FAILED(AddressSpace::CheckSyntax(id))) return OPC_E_INVALIDITEMID;
  item = space.Find(id);
  return item != nullptr ? S_OK : OPC_E_UNKNOWNITEMID;
}

std::vector<ItemProperties::Available> ItemProperties::List(const SimulatedItem& item) {
  std::vector<Available> list{
      {OPC_PROPERTY_DATATYPE, OPC_PROPERTY_DESC_DATATYPE, VT_I2},
      {OPC_PROPERTY_VALUE, OPC_PROPERTY_DESC_VALUE, item.def.type},
      {OPC_PROPERTY_QUALITY, OPC_PROPERTY_DESC_QUALITY, VT_I2},
      {OPC_PROPERTY_TIMESTAMP, OPC_PROPERTY_DESC_TIMESTAMP, VT_DATE},
      {OPC_PROPERTY_ACCESS_RIGHTS, OPC_PROPERTY_DESC_ACCESS_RIGHTS, VT_I4},
      {OPC_PROPERTY_SCAN_RATE, OPC_PROPERTY_DESC_SCAN_RATE, VT_R4},
  };
  if (item.def.analog) list.push_back({OPC_PROPERTY_EU_UNITS, OPC_PROPERTY_DESC_EU_UNITS, VT_BSTR});
  list.push_back({OPC_PROPERTY_DESCRIPTION, OPC_PROPERTY_DESC_DESCRIPTION, VT_BSTR});
  if (item.def.analog) {
    list.push_back({OPC_PROPERTY_HIGH_EU, OPC_PROPERTY_DESC_HIGH_EU, VT_R8});
    list.push_back({OPC_PROPERTY_LOW_EU, OPC_PROPERTY_DESC_LOW_EU, VT_R8});
  }
  return list;
}

HRESULT ItemProperties::Value(const SimulatedItem& item, DWORD id, OwnedVariant& value) {
  const ItemDefinition& def = item.def;
  switch (id) {
    case OPC_PROPERTY_DATATYPE:
      value = OwnedVariant::I2(static_cast<SHORT>(def.type));
      return S_OK;
    case OPC_PROPERTY_VALUE:
      if ((def.access & OPC_READABLE) == 0) return OPC_E_BADRIGHTS;
      value = item.value;
      return S_OK;
    case OPC_PROPERTY_QUALITY:
      value = OwnedVariant::I2(static_cast<SHORT>(item.quality));
      return S_OK;
    case OPC_PROPERTY_TIMESTAMP:
      value = OwnedVariant::Date(xelo::com::FileTimeToDate(item.timestamp));
      return S_OK;
    case OPC_PROPERTY_ACCESS_RIGHTS:
      value = OwnedVariant::I4(static_cast<LONG>(def.access));
      return S_OK;
    case OPC_PROPERTY_SCAN_RATE:
      value = OwnedVariant::R4(kScanRate);
      return S_OK;
    case OPC_PROPERTY_DESCRIPTION:
      value = OwnedVariant::Text(def.description);
      return S_OK;
    default:
      break;
  }
  if (!def.analog) return OPC_E_INVALID_PID;
  switch (id) {
    case OPC_PROPERTY_EU_UNITS:
      value = OwnedVariant::Text(def.units);
      return S_OK;
    case OPC_PROPERTY_HIGH_EU:
      value = OwnedVariant::R8(def.highEU);
      return S_OK;
    case OPC_PROPERTY_LOW_EU:
      value = OwnedVariant::R8(def.lowEU);
      return S_OK;
    default:
      return OPC_E_INVALID_PID;
  }
}

HRESULT ItemProperties::ItemIdOf(const SimulatedItem& item, DWORD id, com::OleString& itemId) {
  if (!item.def.analog) return OPC_E_INVALID_PID;
  if (id == OPC_PROPERTY_HIGH_EU) {
    itemId = item.def.id + OLESTR(".HighEU");
    return S_OK;
  }
  if (id == OPC_PROPERTY_LOW_EU) {
    itemId = item.def.id + OLESTR(".LowEU");
    return S_OK;
  }
  return OPC_E_INVALID_PID;
}

}  // namespace xelo::sim
