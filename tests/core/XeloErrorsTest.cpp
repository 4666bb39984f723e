#include "xelo/core/XeloErrors.h"
#include "xelo/core/XeloStrings.h"

#include "xelo/com/HResult.h"
#include "xelo/framework/SysUtils.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

namespace {

using namespace xelo;

constexpr std::int32_t Code(std::uint32_t bits) { return static_cast<std::int32_t>(bits); }

struct CodeText {
  std::uint32_t code;
  const char* text;
};

// Typed in from the published code list, one by one; it must not be derived
// from the library's own table, or the test could not catch a typo there.
constexpr CodeText kExpected[] = {
    {0xC0040001, "The value of the handle is invalid."},
    {0xC0040004, "The server cannot convert the data between the\r\nrequested data type and the canonical data"},
    {0xC0040005, "The requested operation cannot be done on a public group."},
    {0xC0040006, "The Items AccessRights do not allow the operation."},
    {0xC0040007, "The item is no longer available in the server address space."},
    {0xC0040008, "The item definition doesn't conform to the server's syntax."},
    {0xC0040009, "The filter string was not valid"},
    {0xC004000A, "The item's access path is not known to the server."},
    {0xC004000B, "The value was out of range."},
    {0xC004000C, "Duplicate name not allowed."},
    {0x0004000D, "The server does not support the requested data rate\r\nbut will use the closest available rate."},
    {0x0004000E, "A value passed to WRITE was accepted but the output was clamped."},
    {0x0004000F, "The operation cannot be completed because the\r\nobject still has references that exist."},
    {0xC0040010, "The server's configuration file is an invalid format."},
    {0xC0040011, "The server could not locate the requested object."},
    {0xC0040203, "The server does not recognise the passed property ID."},
    {0x00040200, "The condition has already been acknowleged"},
    {0x00040201, "The buffer time parameter was invalid"},
    {0x00040202, "The max size parameter was invalid"},
    {0xC0040204, "A refresh is currently in progress"},
    {0xC0040205, "A refresh is currently in progress"},
    {0xC0040206, "Information is not available"},
};

TEST(GetOPCErrorMessage, GivesTheTextOfEveryCodeInTheTable) {
  ASSERT_EQ(std::size(kExpected), 22u);
  for (const CodeText& entry : kExpected) {
    SCOPED_TRACE(testing::Message() << "code 0x" << std::hex << entry.code);
    EXPECT_EQ(GetOPCErrorMessage(Code(entry.code)), entry.text);
  }
}

TEST(GetOPCErrorMessage, IsEmptyForCodesWithoutAnEntry) {
  // Unassigned DA codes, the gap between DA and A&E, DA 3.0 codes, the
  // success twins of table codes and plain COM codes.
  for (std::uint32_t code : {0x00000000u, 0x00000001u, 0xC0040002u, 0xC0040003u, 0xC004000Du, 0xC004000Eu,
                             0xC004000Fu, 0xC0040012u, 0xC0040200u, 0xC0040207u, 0xC0040400u, 0x00040001u,
                             0x0004000Cu, 0x00040010u, 0x00040203u, 0x80004005u, 0x80070057u, 0xFFFFFFFFu,
                             0x7FFFFFFFu}) {
    SCOPED_TRACE(testing::Message() << "code 0x" << std::hex << code);
    EXPECT_EQ(GetOPCErrorMessage(Code(code)), "");
  }
}

TEST(GetOPCErrorMessage, BothBusyCodesShareOneText) {
  EXPECT_EQ(GetOPCErrorMessage(Code(0xC0040204)), GetOPCErrorMessage(Code(0xC0040205)));
  EXPECT_EQ(GetOPCErrorMessage(Code(0xC0040205)), "A refresh is currently in progress");
}

TEST(OPCCheck, ReturnsForEverySuccessCode) {
  // 0x0004000D..F and 0x00040200..2 have texts but are still successes.
  for (std::uint32_t code : {0x00000000u, 0x00000001u, 0x0004000Du, 0x0004000Eu, 0x0004000Fu, 0x00040200u,
                             0x00040201u, 0x00040202u, 0x7FFFFFFFu}) {
    SCOPED_TRACE(testing::Message() << "code 0x" << std::hex << code);
    EXPECT_NO_THROW(OPCCheck(Code(code)));
  }
}

TEST(OPCCheck, RaisesTheTableTextAndNothingElse) {
  try {
    OPCCheck(Code(0xC0040007));
    FAIL() << "no exception";
  } catch (const EOPCException& e) {
    EXPECT_EQ(e.Message(), "The item is no longer available in the server address space.");
    EXPECT_STREQ(e.what(), "The item is no longer available in the server address space.");
  }
}

TEST(OPCCheck, RaisesEOPCExceptionForEveryFailureCodeOfTheTable) {
  int failures = 0;
  for (const CodeText& entry : kExpected) {
    if (Code(entry.code) >= 0) continue;
    ++failures;
    SCOPED_TRACE(testing::Message() << "code 0x" << std::hex << entry.code);
    try {
      OPCCheck(Code(entry.code));
      ADD_FAILURE() << "no exception";
    } catch (const EOPCException& e) {
      EXPECT_EQ(e.Message(), entry.text);
    }
  }
  EXPECT_EQ(failures, 16);
}

TEST(OPCCheck, KeepsTheTwoLinesOfATwoLineText) {
  try {
    OPCCheck(Code(0xC0040004));
    FAIL() << "no exception";
  } catch (const EOPCException& e) {
    EXPECT_EQ(e.Message(),
              "The server cannot convert the data between the\r\nrequested data type and the canonical data");
  }
}

TEST(OPCCheck, RaisesTheComErrorWithTheCodeForCodesWithoutText) {
  // 0xC0040002 lies amid the OPC codes but has no text: it must not turn
  // into an EOPCException with an empty message.
  for (std::uint32_t code : {0x80004005u, 0x80070057u, 0xC0040002u, 0x80000000u}) {
    SCOPED_TRACE(testing::Message() << "code 0x" << std::hex << code);
    bool caught = false;
    try {
      OPCCheck(Code(code));
    } catch (const EOPCException& e) {
      ADD_FAILURE() << "EOPCException: " << e.Message();
    } catch (const EOleSysError& e) {
      caught = true;
      EXPECT_EQ(e.ErrorCode(), Code(code));
      EXPECT_FALSE(e.Message().empty());
      EXPECT_EQ(e.Message(), com::SystemMessageText(Code(code)));
    }
    EXPECT_TRUE(caught);
  }
}

TEST(EOPCException, IsALibraryExceptionCarryingOnlyItsText) {
  static_assert(std::is_base_of_v<Exception, EOPCException>);
  static_assert(!std::is_base_of_v<EOleSysError, EOPCException>);
  try {
    throw EOPCException(_STR_GROUPNOTFOUND);
  } catch (const Exception& e) {
    EXPECT_NE(dynamic_cast<const EOPCException*>(&e), nullptr);
    EXPECT_EQ(e.Message(), "group not found");
  }
}

TEST(XeloStrings, MessageConstantsHaveTheirTexts) {
  EXPECT_STREQ(_STR_NOTACTIVE, "not connected to server");
  EXPECT_STREQ(_STR_NODCOM, "Failed to initialize DCOM security");
  EXPECT_STREQ(_STR_NOServer, "first define servername");
  EXPECT_STREQ(_STR_NOREGISTER, "OPC Server %s not found on computer %s");
  EXPECT_STREQ(_STR_NOCONNECT, "Unable to connect to OPC server %s");
  EXPECT_STREQ(_STR_NOBROWSER, "Browser interface not found");
  EXPECT_STREQ(_STR_UNKNOWN, "unknown error : %d");
  EXPECT_STREQ(_STR_GROUPNOTFOUND, "group not found");
  EXPECT_STREQ(_STR_GROUPEXITS, "group %s already exists");
  EXPECT_STREQ(_STR_NOSERVERHANDLE, "item %s not exists on OPCServer");
  EXPECT_STREQ(_STR_HASSERVERHANDLE, "item %s already exists on OPCServer");
  EXPECT_STREQ(_STR_NOTPOSSIBLE, "not possible if connected to OPC Server");
  EXPECT_STREQ(_STR_WRITERROR, "cannot write Items:");
  EXPECT_STREQ(_STR_ADDITEMSERROR, "cannot add Items:");
  EXPECT_STREQ(_STR_WRONGFILE, "wrong fileformat");
}

TEST(XeloStrings, FixedTextsHaveTheirTexts) {
  EXPECT_STREQ(kTextNoServerObject, "first define server object");
  EXPECT_STREQ(kTextBrowserPrefix, "Browser: ");
  EXPECT_STREQ(kTextOPCCommand, "OPC Command:");
}

TEST(XeloStrings, UnknownErrorShowsTheCodeAsSignedNumber) {
  EXPECT_EQ(Format(_STR_UNKNOWN, Code(0x80004005)), "unknown error : -2147467259");
  EXPECT_EQ(Format(_STR_UNKNOWN, Code(0xC0040002)), "unknown error : -1073479678");
}

}  // namespace
