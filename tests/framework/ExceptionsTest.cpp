#include "xelo/framework/Exceptions.h"

#include "xelo/com/HResult.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(OleCheck, PassesSuccessCodesAndRaisesTheCodeWithItsSystemText) {
  for (HRESULT success : {S_OK, S_FALSE, static_cast<HRESULT>(0x0004000E)}) EXPECT_NO_THROW(xelo::OleCheck(success));
  const HRESULT unavailable = HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE);
  const std::string text = xelo::com::SystemMessageText(unavailable);
  EXPECT_NE(text.find("RPC server"), std::string::npos) << text;
  try {
    xelo::OleCheck(unavailable);
    FAIL() << "a failure code must raise";
  } catch (const xelo::EOleSysError& e) {
    EXPECT_EQ(e.ErrorCode(), unavailable);
    EXPECT_EQ(e.what(), text);
  }
  // Caught as the base class too, as application handlers do.
  EXPECT_THROW(xelo::OleError(E_FAIL), xelo::Exception);
}

}  // namespace
