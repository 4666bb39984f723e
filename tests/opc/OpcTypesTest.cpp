#include "xelo/opc/OpcTypes.h"

#include "xelo/com/WideText.h"

#include <gtest/gtest.h>

#include <string_view>

namespace {

TEST(OpcQuality, SubstatusesCarryTheirQualityBitsAndNoLimitBits) {
  const std::pair<WORD, WORD> rows[] = {  // substatus, the quality it belongs to
      {OPC_QUALITY_BAD, OPC_QUALITY_BAD}, {OPC_QUALITY_CONFIG_ERROR, OPC_QUALITY_BAD},
      {OPC_QUALITY_WAITING_FOR_INITIAL_DATA, OPC_QUALITY_BAD}, {OPC_QUALITY_UNCERTAIN, OPC_QUALITY_UNCERTAIN},
      {OPC_QUALITY_LAST_USABLE, OPC_QUALITY_UNCERTAIN}, {OPC_QUALITY_SUB_NORMAL, OPC_QUALITY_UNCERTAIN},
      {OPC_QUALITY_GOOD, OPC_QUALITY_GOOD}, {OPC_QUALITY_LOCAL_OVERRIDE, OPC_QUALITY_GOOD},
  };
  for (const auto& [substatus, quality] : rows) {
    EXPECT_EQ(substatus & OPC_QUALITY_MASK, quality) << substatus;
    EXPECT_EQ(substatus & OPC_LIMIT_MASK, 0) << substatus;
  }
  // The masks split the low byte into its parts without overlap.
  EXPECT_EQ(OPC_STATUS_MASK | OPC_LIMIT_MASK, 0xFF);
  EXPECT_EQ(OPC_STATUS_MASK & OPC_LIMIT_MASK, 0);
  for (WORD limit : {OPC_LIMIT_OK, OPC_LIMIT_LOW, OPC_LIMIT_HIGH, OPC_LIMIT_CONST}) {
    EXPECT_EQ(limit & ~OPC_LIMIT_MASK, 0) << limit;
  }
}

// The descriptions are a hand-written table: neighbours (the EU pairs, the
// labels, the limits) and the first and last of each block against the
// standard's texts; ids between the blocks and vendor ids have none.
TEST(OpcProperties, StandardIdsHaveTheirDescriptionsAndOthersNone) {
  const std::pair<DWORD, std::string_view> rows[] = {
      {1, "Item Canonical Data Type"}, {8, "Item EU Info"}, {100, "EU Units"},
      {101, "Item Description"}, {102, "High EU"}, {103, "Low EU"}, {104, "High Instrument Range"},
      {105, "Low Instrument Range"}, {106, "Contact Close Label"}, {107, "Contact Open Label"},
      {108, "Item Timezone"}, {200, "Default Display"}, {207, "AVI File"}, {300, "Condition Status"},
      {307, "HiHi Limit"}, {308, "Hi Limit"}, {309, "Lo Limit"}, {310, "LoLo Limit"}, {313, "Sound File"},
      {600, "Type System ID"}, {609, "Data Filter Value"},
      // The old names must still lead to the same properties.
      {OPC_PROP_HIEU, "High EU"}, {OPC_PROP_LOEU, "Low EU"}, {OPC_PROP_ALMHH, "HiHi Limit"},
      {OPC_PROP_ALMLL, "LoLo Limit"}, {OPC_PROP_SCANRATE, "Server Scan Rate"}, {OPC_PROP_OPEN, "Contact Open Label"},
  };
  for (const auto& [id, description] : rows) {
    const OLECHAR* text = xelo::opc::PropertyDescription(id);
    ASSERT_NE(text, nullptr) << id;
    EXPECT_EQ(xelo::com::ToUtf8(text), description) << id;
  }
  for (DWORD id : {0u, 9u, 99u, 109u, 199u, 208u, 299u, 314u, 400u, 599u, 610u, 4999u, 5000u, 0xFFFFFFFFu}) {
    EXPECT_EQ(xelo::opc::PropertyDescription(id), nullptr) << id;
  }
}

}  // namespace
