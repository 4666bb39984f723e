#include "xelo/opc/OpcError.h"

#include "xelo/com/HResult.h"

#include <gtest/gtest.h>

#include <set>
#include <string_view>
#include <tuple>

namespace {

using CodeRow = std::tuple<std::string_view, HRESULT, bool>;  // true: a DA 2 code, in the platform's table
#define XELO_DA(symbol) CodeRow{#symbol, symbol, true}
#define XELO_LATER(symbol) CodeRow{#symbol, symbol, false}

const CodeRow kCodes[] = {
    XELO_DA(OPC_E_INVALIDHANDLE), XELO_DA(OPC_E_BADTYPE), XELO_DA(OPC_E_PUBLIC), XELO_DA(OPC_E_BADRIGHTS),
    XELO_DA(OPC_E_UNKNOWNITEMID), XELO_DA(OPC_E_INVALIDITEMID), XELO_DA(OPC_E_INVALIDFILTER),
    XELO_DA(OPC_E_UNKNOWNPATH), XELO_DA(OPC_E_RANGE), XELO_DA(OPC_E_DUPLICATENAME), XELO_DA(OPC_S_UNSUPPORTEDRATE),
    XELO_DA(OPC_S_CLAMP), XELO_DA(OPC_S_INUSE), XELO_DA(OPC_E_INVALIDCONFIGFILE), XELO_DA(OPC_E_NOTFOUND),
    XELO_DA(OPC_E_INVALID_PID), XELO_LATER(OPC_E_DEADBANDNOTSET), XELO_LATER(OPC_E_DEADBANDNOTSUPPORTED),
    XELO_LATER(OPC_E_NOBUFFERING), XELO_LATER(OPC_E_INVALIDCONTINUATIONPOINT), XELO_LATER(OPC_S_DATAQUEUEOVERFLOW),
    XELO_LATER(OPC_E_RATENOTSET), XELO_LATER(OPC_E_NOTSUPPORTED), XELO_LATER(OPCCPX_E_TYPE_CHANGED),
    XELO_LATER(OPCCPX_E_FILTER_DUPLICATE), XELO_LATER(OPCCPX_E_FILTER_INVALID), XELO_LATER(OPCCPX_E_FILTER_ERROR),
    XELO_LATER(OPCCPX_S_FILTER_NO_DATA), XELO_LATER(OPC_S_ALREADYACKED), XELO_LATER(OPC_S_INVALIDBUFFERTIME),
    XELO_LATER(OPC_S_INVALIDMAXSIZE), XELO_LATER(OPC_E_INVALIDTIME), XELO_LATER(OPC_E_BUSY), XELO_LATER(OPC_E_NOINFO),
};

// The name says what the code must be: _E_ a failure (0xC004xxxx), _S_ a
// success (0x0004xxxx); no two names share a number (a copied line whose
// number was not changed); and the platform's message table, written
// separately from these constants, knows every DA code.
TEST(OpcError, CodesAreDistinctShapedAsNamedAndKnownToThePlatform) {
  std::set<HRESULT> seen;
  for (const auto& [name, code, dataAccess] : kCodes) {
    SCOPED_TRACE(name);
    const bool namedError = name.find("_E_") != std::string_view::npos;
    ASSERT_NE(namedError, name.find("_S_") != std::string_view::npos);
    EXPECT_EQ(FAILED(code), namedError);
    EXPECT_EQ(HRESULT_FACILITY(code), FACILITY_ITF);
    EXPECT_EQ(static_cast<std::uint32_t>(code) >> 16, namedError ? 0xC004u : 0x0004u);
    EXPECT_TRUE(seen.insert(code).second) << "shares its number";
    if (dataAccess) {
      EXPECT_FALSE(xelo::com::KnownSystemMessageText(code).empty());
    }
  }
  // A few numbers as servers send them.
  EXPECT_EQ(static_cast<std::uint32_t>(OPC_E_UNKNOWNITEMID), 0xC0040007u);
  EXPECT_EQ(static_cast<std::uint32_t>(OPC_S_CLAMP), 0x0004000Eu);
  EXPECT_EQ(static_cast<std::uint32_t>(OPC_E_INVALID_PID), 0xC0040203u);
  EXPECT_NE(xelo::com::KnownSystemMessageText(OPC_E_UNKNOWNITEMID).find("item ID"), std::string::npos);
  EXPECT_NE(xelo::com::KnownSystemMessageText(OPC_S_CLAMP).find("clamped"), std::string::npos);
}

}  // namespace
