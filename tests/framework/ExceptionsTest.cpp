#include "xelo/framework/Exceptions.h"

#include <gtest/gtest.h>

namespace {

TEST(OleCheck, PassesSuccessCodesAndRaisesTheCodeWithItsSystemText) {
  EXPECT_NO_THROW(xelo::OleCheck(S_OK));
  EXPECT_NO_THROW(xelo::OleCheck(S_FALSE));
  EXPECT_NO_THROW(xelo::OleCheck(0x0004000E));
  try {
    xelo::OleCheck(HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE));
    FAIL() << "a failure code must raise";
  } catch (const xelo::EOleSysError& e) {
    EXPECT_EQ(e.ErrorCode(), HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE));
    EXPECT_EQ(e.Message(), "The RPC server is unavailable.");
    EXPECT_STREQ(e.what(), "The RPC server is unavailable.");
  }
  // Caught as the base class too, as application handlers do.
  EXPECT_THROW(xelo::OleError(E_FAIL), xelo::Exception);
}

}  // namespace
