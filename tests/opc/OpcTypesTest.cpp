#include "xelo/opc/OpcTypes.h"

#include "xelo/com/WideText.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace {

struct QualityRow {
  const char* name;
  WORD value;
  WORD quality;  // the quality bits the substatus belongs to
};

#define XELO_QUALITY_ROW(symbol, quality) QualityRow{#symbol, symbol, quality}

TEST(OpcQuality, SubstatusesCarryTheirQualityBitsAndNoLimitBits) {
  const QualityRow rows[] = {
      XELO_QUALITY_ROW(OPC_QUALITY_BAD, OPC_QUALITY_BAD),
      XELO_QUALITY_ROW(OPC_QUALITY_CONFIG_ERROR, OPC_QUALITY_BAD),
      XELO_QUALITY_ROW(OPC_QUALITY_NOT_CONNECTED, OPC_QUALITY_BAD),
      XELO_QUALITY_ROW(OPC_QUALITY_DEVICE_FAILURE, OPC_QUALITY_BAD),
      XELO_QUALITY_ROW(OPC_QUALITY_SENSOR_FAILURE, OPC_QUALITY_BAD),
      XELO_QUALITY_ROW(OPC_QUALITY_LAST_KNOWN, OPC_QUALITY_BAD),
      XELO_QUALITY_ROW(OPC_QUALITY_COMM_FAILURE, OPC_QUALITY_BAD),
      XELO_QUALITY_ROW(OPC_QUALITY_OUT_OF_SERVICE, OPC_QUALITY_BAD),
      XELO_QUALITY_ROW(OPC_QUALITY_WAITING_FOR_INITIAL_DATA, OPC_QUALITY_BAD),
      XELO_QUALITY_ROW(OPC_QUALITY_UNCERTAIN, OPC_QUALITY_UNCERTAIN),
      XELO_QUALITY_ROW(OPC_QUALITY_LAST_USABLE, OPC_QUALITY_UNCERTAIN),
      XELO_QUALITY_ROW(OPC_QUALITY_SENSOR_CAL, OPC_QUALITY_UNCERTAIN),
      XELO_QUALITY_ROW(OPC_QUALITY_EGU_EXCEEDED, OPC_QUALITY_UNCERTAIN),
      XELO_QUALITY_ROW(OPC_QUALITY_SUB_NORMAL, OPC_QUALITY_UNCERTAIN),
      XELO_QUALITY_ROW(OPC_QUALITY_GOOD, OPC_QUALITY_GOOD),
      XELO_QUALITY_ROW(OPC_QUALITY_LOCAL_OVERRIDE, OPC_QUALITY_GOOD),
  };
  for (const QualityRow& row : rows) {
    EXPECT_EQ(row.value & OPC_QUALITY_MASK, row.quality) << row.name;
    EXPECT_EQ(row.value & OPC_LIMIT_MASK, 0) << row.name;
  }
  // The masks split the low byte into its three parts without overlap.
  EXPECT_EQ(OPC_STATUS_MASK | OPC_LIMIT_MASK, 0xFF);
  EXPECT_EQ(OPC_STATUS_MASK & OPC_LIMIT_MASK, 0);
  for (WORD limit : {OPC_LIMIT_OK, OPC_LIMIT_LOW, OPC_LIMIT_HIGH, OPC_LIMIT_CONST}) {
    EXPECT_EQ(limit & ~OPC_LIMIT_MASK, 0) << limit;
  }
}

struct PropertyRow {
  DWORD id;
  std::string_view description;
};

TEST(OpcProperties, EveryStandardIdHasItsDescription) {
  const PropertyRow rows[] = {
      {1, "Item Canonical Data Type"}, {2, "Item Value"}, {3, "Item Quality"}, {4, "Item Timestamp"},
      {5, "Item Access Rights"}, {6, "Server Scan Rate"}, {7, "Item EU Type"}, {8, "Item EU Info"},
      {100, "EU Units"}, {101, "Item Description"}, {102, "High EU"}, {103, "Low EU"},
      {104, "High Instrument Range"}, {105, "Low Instrument Range"}, {106, "Contact Close Label"},
      {107, "Contact Open Label"}, {108, "Item Timezone"}, {200, "Default Display"},
      {201, "Current Foreground Color"}, {202, "Current Background Color"}, {203, "Current Blink"},
      {204, "BMP File"}, {205, "Sound File"}, {206, "HTML File"}, {207, "AVI File"},
      {300, "Condition Status"}, {301, "Alarm Quick Help"}, {302, "Alarm Area List"},
      {303, "Primary Alarm Area"}, {304, "Condition Logic"}, {305, "Limit Exceeded"}, {306, "Deadband"},
      {307, "HiHi Limit"}, {308, "Hi Limit"}, {309, "Lo Limit"}, {310, "LoLo Limit"},
      {311, "Rate of Change Limit"}, {312, "Deviation Limit"}, {313, "Sound File"},
      {600, "Type System ID"}, {601, "Dictionary ID"}, {602, "Type ID"}, {603, "Dictionary"},
      {604, "Type Description"}, {605, "Consistency Window"}, {606, "Write Behavior"},
      {607, "Unconverted Item ID"}, {608, "Unfiltered Item ID"}, {609, "Data Filter Value"},
  };
  for (const PropertyRow& row : rows) {
    const OLECHAR* text = xelo::opc::PropertyDescription(row.id);
    ASSERT_NE(text, nullptr) << row.id;
    EXPECT_EQ(xelo::com::ToUtf8(text), row.description) << row.id;
  }
}

TEST(OpcProperties, ReservedAndVendorIdsHaveNoStandardDescription) {
  for (DWORD id : {0u, 9u, 99u, 109u, 199u, 208u, 299u, 314u, 400u, 599u, 610u, 4999u, 5000u, 0xFFFFFFFFu}) {
    EXPECT_EQ(xelo::opc::PropertyDescription(id), nullptr) << id;
  }
}

struct OldNameRow {
  const char* name;
  DWORD id;
  DWORD expected;
};

#define XELO_OLD_NAME_ROW(symbol, expected) OldNameRow{#symbol, symbol, expected}

TEST(OpcProperties, OldNamesKeepTheirNumbers) {
  const OldNameRow rows[] = {
      XELO_OLD_NAME_ROW(OPC_PROP_CDT, 1),          XELO_OLD_NAME_ROW(OPC_PROP_VALUE, 2),
      XELO_OLD_NAME_ROW(OPC_PROP_QUALITY, 3),      XELO_OLD_NAME_ROW(OPC_PROP_TIME, 4),
      XELO_OLD_NAME_ROW(OPC_PROP_RIGHTS, 5),       XELO_OLD_NAME_ROW(OPC_PROP_SCANRATE, 6),
      XELO_OLD_NAME_ROW(OPC_PROP_UNIT, 100),       XELO_OLD_NAME_ROW(OPC_PROP_DESC, 101),
      XELO_OLD_NAME_ROW(OPC_PROP_HIEU, 102),       XELO_OLD_NAME_ROW(OPC_PROP_LOEU, 103),
      XELO_OLD_NAME_ROW(OPC_PROP_HIRANGE, 104),    XELO_OLD_NAME_ROW(OPC_PROP_LORANGE, 105),
      XELO_OLD_NAME_ROW(OPC_PROP_CLOSE, 106),      XELO_OLD_NAME_ROW(OPC_PROP_OPEN, 107),
      XELO_OLD_NAME_ROW(OPC_PROP_TIMEZONE, 108),   XELO_OLD_NAME_ROW(OPC_PROP_ALMSTAT, 300),
      XELO_OLD_NAME_ROW(OPC_PROP_ALMHELP, 301),    XELO_OLD_NAME_ROW(OPC_PROP_ALMAREAS, 302),
      XELO_OLD_NAME_ROW(OPC_PROP_ALMPRIMARYAREA, 303), XELO_OLD_NAME_ROW(OPC_PROP_ALMCONDITION, 304),
      XELO_OLD_NAME_ROW(OPC_PROP_ALMLIMIT, 305),   XELO_OLD_NAME_ROW(OPC_PROP_ALMDB, 306),
      XELO_OLD_NAME_ROW(OPC_PROP_ALMHH, 307),      XELO_OLD_NAME_ROW(OPC_PROP_ALMH, 308),
      XELO_OLD_NAME_ROW(OPC_PROP_ALML, 309),       XELO_OLD_NAME_ROW(OPC_PROP_ALMLL, 310),
      XELO_OLD_NAME_ROW(OPC_PROP_ALMROC, 311),     XELO_OLD_NAME_ROW(OPC_PROP_ALMDEV, 312),
  };
  for (const OldNameRow& row : rows) EXPECT_EQ(row.id, row.expected) << row.name;
}

}  // namespace
