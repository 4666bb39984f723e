#include "xelo/framework/Exceptions.h"

#include "xelo/com/HResult.h"

#include <gtest/gtest.h>

#include <string>

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
    const std::string text = xelo::com::SystemMessageText(HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE));
    EXPECT_NE(text.find("RPC server"), std::string::npos) << text;
    EXPECT_EQ(e.Message(), text);
    EXPECT_EQ(e.what(), text);
  }
  // Caught as the base class too, as application handlers do.
  EXPECT_THROW(xelo::OleError(E_FAIL), xelo::Exception);
}

}  // namespace
