#include "xelo/com/Guid.h"

#include "com/ComTesting.h"

#include <unordered_set>

namespace {

constexpr GUID kOpcServer{0x39C13A4D, 0x011E, 0x11D0, {0x96, 0x75, 0x00, 0x20, 0xAF, 0xD8, 0xAD, 0xB3}};
using Guid = xelo::test::AllocationCheckedTest;

TEST_F(Guid, FormatsUpperCaseWithBracesParsesEitherCaseRejectsMalformedTextAndHashesEveryField) {
  EXPECT_EQ(xelo::com::GuidToString(kOpcServer), "{39C13A4D-011E-11D0-9675-0020AFD8ADB3}");
  EXPECT_EQ(xelo::com::ParseGuid(std::string_view("{39C13a4D-011E-11d0-9675-0020AFD8ADB3}")), kOpcServer);
  for (const char* bad : {"", "{}", "39C13A4D-011E-11D0-9675-0020AFD8ADB3", "{39C13A4D-011E-11D0-9675-0020AFD8ADB3",
                          "{39C13A4D-011E-11D0-9675-0020AFD8ADB3} ", " {39C13A4D-011E-11D0-9675-0020AFD8ADB3}",
                          "{39C13A4D011E-11D0-9675-0020AFD8ADB3-}", "{39C13A4G-011E-11D0-9675-0020AFD8ADB3}",
                          "{39C13A4D-011E-11D0-9675-0020AFD8ADB}"}) {
    EXPECT_FALSE(xelo::com::ParseGuid(std::string_view(bad)).has_value()) << bad;
  }

  LPOLESTR text = nullptr;
  ASSERT_EQ(StringFromCLSID(kOpcServer, &text), S_OK);
  CLSID back{};
  EXPECT_EQ((std::tuple{CLSIDFromString(text, &back), back}), (std::tuple{S_OK, kOpcServer}));
  CoTaskMemFree(text);
  OLECHAR exact[39];
  EXPECT_EQ(StringFromGUID2(kOpcServer, exact, 38), 0) << "no room for the terminator";
  EXPECT_EQ(StringFromGUID2(kOpcServer, exact, 39), 39);
  EXPECT_EQ(xelo::com::ToUtf8(exact), "{39C13A4D-011E-11D0-9675-0020AFD8ADB3}");

  // Equality and hashing tell every field apart.
  std::unordered_set<GUID> set{kOpcServer};
  GUID lastByte = kOpcServer, second = kOpcServer;
  lastByte.Data4[7] ^= 1;
  second.Data2 = 0;
  EXPECT_EQ((std::vector<bool>{set.contains(kOpcServer), set.contains(lastByte), static_cast<bool>(IsEqualGUID(second, kOpcServer))}),
            (std::vector<bool>{true, false, false}));

  if (xelo::test::kNativeCom) return;  // the rest are the system's own functions there
  CLSID clsid = kOpcServer;
  EXPECT_EQ((std::tuple{CLSIDFromString(OLESTR("{39C13A4D-011E-11D0-9675-0020AFD8ADBX}"), &clsid), clsid, CLSIDFromString(OLESTR("No.Such.ProgId"), &clsid),
                        CLSIDFromString(nullptr, &clsid), IIDFromString(OLESTR("Not a guid"), &clsid)}),
            (std::tuple{CO_E_CLASSSTRING, CLSID_NULL, CO_E_CLASSSTRING, E_INVALIDARG, E_INVALIDARG}));
}

}  // namespace
