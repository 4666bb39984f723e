#include "xelo/com/Activation.h"
#include "xelo/com/ClassRegistry.h"
#include "xelo/platform/Platform.h"

#include "com/ComTesting.h"

namespace {

using xelo::com::ClassRegistration, xelo::com::ClassRegistry, xelo::com::ComPtr, xelo::com::ScopedClassRegistration;

constexpr GUID TestGuid(DWORD n) { return {0x6B1E0000 + n, 0x7C2D, 0x4E3F, {0x90, 0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6, 0x07}}; }
constexpr CLSID kWidgetClass = TestGuid(1), kGadgetClass = TestGuid(2), kAbstractClass = TestGuid(3);
constexpr IID kOtherIid = TestGuid(0xF1);
constexpr CATID kRedCategory = TestGuid(0xC1), kBlueCategory = TestGuid(0xC2);

class Widget final : public xelo::com::ComObject<IClassFactory> {
 public:
  // Reuses IClassFactory as "some interface" so the test needs no new one.
  STDMETHOD(CreateInstance)(IUnknown*, REFIID, void**) override { return E_NOTIMPL; }
  STDMETHOD(LockServer)(BOOL) override { return S_OK; }
};

ClassRegistration Registration(CLSID clsid, const char* progId, std::vector<CATID> categories) {
  return {clsid, progId, std::string(progId) + " object", std::move(categories), false, xelo::com::MakeClassFactory<Widget>()};
}

TEST(ClassRegistry, LooksUpByProgIdEnumeratesByCategoryAndRefusesInvalidRegistrations) {
  ScopedClassRegistration gadget(Registration(kGadgetClass, "Test.Gadget.1", {kBlueCategory}));
  ScopedClassRegistration widget(Registration(kWidgetClass, "test.Widget.1", {kRedCategory, kBlueCategory}));
  ASSERT_EQ(std::make_pair(gadget.Result(), widget.Result()), std::make_pair(S_OK, S_OK));
  CLSID clsid{};  // ProgIDs compare case-insensitively
  EXPECT_EQ((std::tuple{xelo::com::ClassIdFromProgId(OLESTR("TEST.WIDGET.1"), &clsid), clsid}), (std::tuple{S_OK, kWidgetClass}));
  EXPECT_EQ(xelo::com::ClassIdFromProgId(OLESTR("Test.Unknown.1"), &clsid), CO_E_CLASSSTRING);
#if !XELO_COM_NATIVE  // Windows' own functions look in its registry only; a ProgID is accepted where a class text is
  EXPECT_EQ((std::tuple{CLSIDFromString(OLESTR("Test.Gadget.1"), &clsid), clsid}), (std::tuple{S_OK, kGadgetClass}));
  const auto before = xelo::com::LiveAllocations();
  LPOLESTR progId = nullptr;
  ASSERT_EQ(ProgIDFromCLSID(kWidgetClass, &progId), S_OK);
  EXPECT_EQ(xelo::com::ToUtf8(progId), "test.Widget.1");
  CoTaskMemFree(progId);
  EXPECT_EQ(ProgIDFromCLSID(kAbstractClass, &progId), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(xelo::com::LiveAllocations(), before);
#endif
  // Registry order: by ProgID, case-insensitively, whatever the registration order.
  std::vector<std::string> blue;
  for (const auto& r : ClassRegistry::Instance().WithCategory(kBlueCategory)) blue.push_back(r.progId);
  EXPECT_EQ(blue, (std::vector<std::string>{"Test.Gadget.1", "test.Widget.1"}));
  const auto red = ClassRegistry::Instance().WithCategory(kRedCategory);
  ASSERT_EQ(red.size(), 1u);
  EXPECT_EQ(red[0].userTypeName, "test.Widget.1 object");

  // A ProgID already naming another class, no class, no or a bad ProgID.
  for (auto [clsid, progId] : {std::pair{kAbstractClass, "TEST.gadget.1"}, std::pair{CLSID_NULL, "Test.Null.1"},
                               std::pair{kAbstractClass, ""}, std::pair{kAbstractClass, "Bad\\Key"}}) {
    EXPECT_EQ(ClassRegistry::Instance().Register(Registration(clsid, progId, {})), E_INVALIDARG) << progId;
  }
  EXPECT_FALSE(ClassRegistry::Instance().Find(kAbstractClass));
  // The same class registered again replaces the old registration.
  EXPECT_EQ(ClassRegistry::Instance().Register(Registration(kWidgetClass, "Test.Widget.2", {kRedCategory})), S_OK);
  EXPECT_FALSE(ClassRegistry::Instance().FindByProgId("test.Widget.1"));
  EXPECT_EQ(ClassRegistry::Instance().FindByProgId("Test.Widget.2").value_or(Registration(CLSID_NULL, "none", {})).clsid, kWidgetClass);
}

TEST(Activation, CreatesLocallyForLocalNamesAndFailsForOtherComputers) {
  ScopedClassRegistration widget(Registration(kWidgetClass, "Test.Widget.1", {}));
  auto noFactory = Registration(kAbstractClass, "Test.Abstract.1", {});
  noFactory.factory = nullptr;
  ScopedClassRegistration abstractClass(std::move(noFactory));
  ComPtr<IClassFactory> created;
  EXPECT_TRUE(CoCreateInstance(kWidgetClass, nullptr, CLSCTX_ALL, IID_IClassFactory, created.PutVoid()) == S_OK && created);
  for (CLSID missing : {kGadgetClass, kAbstractClass}) {
    EXPECT_EQ(CoCreateInstance(missing, nullptr, CLSCTX_ALL, IID_IClassFactory, created.PutVoid()), REGDB_E_CLASSNOTREG);
  }
  EXPECT_EQ(CoCreateInstance(kWidgetClass, nullptr, CLSCTX_ALL, kOtherIid, created.PutVoid()), E_NOINTERFACE);

  xelo::com::OleString hostName = xelo::com::ToUtf16(xelo::platform::HostName());
  ASSERT_FALSE(hostName.empty());
  for (auto& c : hostName) c = (c >= OLESTR('a') && c <= OLESTR('z')) ? static_cast<OLECHAR>(c - 32) : c;
  for (xelo::com::OleString name : {xelo::com::OleString(), xelo::com::OleString(OLESTR("  ")), xelo::com::OleString(OLESTR("LOCALHOST")),
                                    xelo::com::OleString(OLESTR("127.0.0.1")), xelo::com::OleString(OLESTR("::1")),
                                    hostName, OLESTR("\\\\") + hostName}) {
    COSERVERINFO server{0, name.data(), nullptr, 0};
    MULTI_QI qi[2] = {{&IID_IClassFactory, nullptr, S_OK}, {&IID_IUnknown, nullptr, S_OK}};
    EXPECT_EQ(CoCreateInstanceEx(kWidgetClass, nullptr, CLSCTX_ALL, &server, 2, qi), S_OK) << xelo::com::ToUtf8(name);
    for (auto& entry : qi) {
      ASSERT_TRUE(entry.hr == S_OK && entry.pItf != nullptr) << std::hex << entry.hr;
      entry.pItf->Release();
    }
  }
  if (!xelo::test::NativeComUnderWine()) {  // Wine creates everything here, whatever the computer
    xelo::com::OleString remote = OLESTR("plant-floor-17");
    COSERVERINFO server{0, remote.data(), nullptr, 0};
    MULTI_QI qi[1] = {{&IID_IClassFactory, nullptr, S_OK}};
    const HRESULT unavailable = HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE);
    EXPECT_EQ((std::tuple{CoCreateInstanceEx(kWidgetClass, nullptr, CLSCTX_ALL, &server, 1, qi), qi[0].hr, qi[0].pItf,
                          CoGetClassObject(kWidgetClass, CLSCTX_ALL, &server, IID_IClassFactory, created.PutVoid())}),
              (std::tuple{unavailable, unavailable, static_cast<IUnknown*>(nullptr), unavailable}));
  }
  // Some interfaces obtained: the object is still handed out.
  MULTI_QI mixed[2] = {{&IID_IClassFactory, nullptr, S_OK}, {&kOtherIid, nullptr, S_OK}};
  EXPECT_EQ(CoCreateInstanceEx(kWidgetClass, nullptr, CLSCTX_ALL, nullptr, 2, mixed), CO_S_NOTALLINTERFACES);
  ASSERT_TRUE(mixed[1].hr == E_NOINTERFACE && mixed[0].pItf != nullptr);
  mixed[0].pItf->Release();
}

TEST(Activation, SecurityInitialisesOncePerProcess) {
  auto initialise = [] {
    return CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_NONE, RPC_C_IMP_LEVEL_IMPERSONATE,
                                nullptr, EOAC_NONE, nullptr);
  };
  EXPECT_EQ(initialise(), S_OK);
  if (xelo::test::NativeComUnderWine()) return;  // Wine's is a stub that always succeeds
  EXPECT_EQ(initialise(), RPC_E_TOO_LATE);
}

}  // namespace
