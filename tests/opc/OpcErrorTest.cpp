#include "xelo/opc/OpcError.h"

#include "xelo/com/HResult.h"

#include <gtest/gtest.h>

#include <set>
#include <string_view>

namespace {

struct CodeRow {
  std::string_view name;
  HRESULT code;
};

#define XELO_CODE_ROW(symbol) CodeRow{#symbol, symbol}

const CodeRow kDa2Codes[] = {
    XELO_CODE_ROW(OPC_E_INVALIDHANDLE),   XELO_CODE_ROW(OPC_E_BADTYPE),
    XELO_CODE_ROW(OPC_E_PUBLIC),          XELO_CODE_ROW(OPC_E_BADRIGHTS),
    XELO_CODE_ROW(OPC_E_UNKNOWNITEMID),   XELO_CODE_ROW(OPC_E_INVALIDITEMID),
    XELO_CODE_ROW(OPC_E_INVALIDFILTER),   XELO_CODE_ROW(OPC_E_UNKNOWNPATH),
    XELO_CODE_ROW(OPC_E_RANGE),           XELO_CODE_ROW(OPC_E_DUPLICATENAME),
    XELO_CODE_ROW(OPC_S_UNSUPPORTEDRATE), XELO_CODE_ROW(OPC_S_CLAMP),
    XELO_CODE_ROW(OPC_S_INUSE),           XELO_CODE_ROW(OPC_E_INVALIDCONFIGFILE),
    XELO_CODE_ROW(OPC_E_NOTFOUND),        XELO_CODE_ROW(OPC_E_INVALID_PID),
};

const CodeRow kLaterCodes[] = {
    XELO_CODE_ROW(OPC_E_DEADBANDNOTSET),   XELO_CODE_ROW(OPC_E_DEADBANDNOTSUPPORTED),
    XELO_CODE_ROW(OPC_E_NOBUFFERING),      XELO_CODE_ROW(OPC_E_INVALIDCONTINUATIONPOINT),
    XELO_CODE_ROW(OPC_S_DATAQUEUEOVERFLOW), XELO_CODE_ROW(OPC_E_RATENOTSET),
    XELO_CODE_ROW(OPC_E_NOTSUPPORTED),     XELO_CODE_ROW(OPCCPX_E_TYPE_CHANGED),
    XELO_CODE_ROW(OPCCPX_E_FILTER_DUPLICATE), XELO_CODE_ROW(OPCCPX_E_FILTER_INVALID),
    XELO_CODE_ROW(OPCCPX_E_FILTER_ERROR),  XELO_CODE_ROW(OPCCPX_S_FILTER_NO_DATA),
    XELO_CODE_ROW(OPC_S_ALREADYACKED),     XELO_CODE_ROW(OPC_S_INVALIDBUFFERTIME),
    XELO_CODE_ROW(OPC_S_INVALIDMAXSIZE),   XELO_CODE_ROW(OPC_E_INVALIDTIME),
    XELO_CODE_ROW(OPC_E_BUSY),             XELO_CODE_ROW(OPC_E_NOINFO),
};

// The name says what the code must be: _E_ a failure (0xC004xxxx), _S_ a
// success (0x0004xxxx), both in the interface facility.
void ExpectShapeMatchesName(const CodeRow& row) {
  const bool namedError = row.name.find("_E_") != std::string_view::npos;
  const bool namedSuccess = row.name.find("_S_") != std::string_view::npos;
  ASSERT_NE(namedError, namedSuccess) << row.name;
  EXPECT_EQ(FAILED(row.code), namedError) << row.name;
  EXPECT_EQ(HRESULT_FACILITY(row.code), FACILITY_ITF) << row.name;
  EXPECT_EQ(static_cast<std::uint32_t>(row.code) >> 16, namedError ? 0xC004u : 0x0004u) << row.name;
}

TEST(OpcError, EveryCodeHasTheSeverityAndFacilityItsNameSays) {
  for (const CodeRow& row : kDa2Codes) ExpectShapeMatchesName(row);
  for (const CodeRow& row : kLaterCodes) ExpectShapeMatchesName(row);
}

TEST(OpcError, NoTwoNamesShareANumber) {
  std::set<HRESULT> seen;
  for (const CodeRow& row : kDa2Codes) EXPECT_TRUE(seen.insert(row.code).second) << row.name;
  for (const CodeRow& row : kLaterCodes) EXPECT_TRUE(seen.insert(row.code).second) << row.name;
}

// The platform's message table was written separately from these
// constants; a DA code it does not know is a wrong number on one side.
TEST(OpcError, PlatformHasATextForEveryDataAccessCode) {
  for (const CodeRow& row : kDa2Codes) {
    EXPECT_FALSE(xelo::com::KnownSystemMessageText(row.code).empty()) << row.name;
  }
  EXPECT_NE(xelo::com::KnownSystemMessageText(OPC_E_UNKNOWNITEMID).find("item ID"), std::string::npos);
  EXPECT_NE(xelo::com::KnownSystemMessageText(OPC_S_CLAMP).find("clamped"), std::string::npos);
  EXPECT_NE(xelo::com::KnownSystemMessageText(OPC_E_INVALID_PID).find("property ID"), std::string::npos);
}

}  // namespace
