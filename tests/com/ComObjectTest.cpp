#include "xelo/com/ComObject.h"
#include "xelo/com/HResult.h"

#include <gtest/gtest.h>

namespace {

constexpr IID CounterIid(DWORD n) { return {0x1D0B8C10 + n, 0x2A3B, 0x4C5D, {0x8E, 0x9F, 0x10, 0x21, 0x32, 0x43, 0x54, 0x65}}; }
inline constexpr IID IID_ICounter = CounterIid(1), IID_INamed = CounterIid(2), IID_IAlias = CounterIid(3), IID_IMissing = CounterIid(4);

struct ICounter : IUnknown {
  STDMETHOD(Increment)(LONG by) PURE;
  STDMETHOD_(LONG, Value)() PURE;
};
struct INamed : IUnknown {
  STDMETHOD_(int, Id)() PURE;
};
struct IMissing : IUnknown {};

}  // namespace

XELO_DECLARE_IID(ICounter);
XELO_DECLARE_IID(INamed);
XELO_DECLARE_IID(IMissing);

namespace {

int gDestroyed = 0;

class Counter final : public xelo::com::ComObject<ICounter, INamed> {
 public:
  explicit Counter(int id) : id_(id) {}
  ~Counter() override { ++gDestroyed; }
  STDMETHOD(Increment)(LONG by) override { return value_ += by, S_OK; }
  STDMETHOD_(LONG, Value)() override { return value_; }
  STDMETHOD_(int, Id)() override { return id_; }
  ULONG Refs() const { return RefCount(); }

 protected:
  // Answers an extra IID with an interface it already implements.
  void* QueryExtraInterface(REFIID riid) override { return riid == IID_IAlias ? static_cast<INamed*>(this) : nullptr; }

 private:
  int id_;
  LONG value_ = 0;
};

TEST(ComObject, QueryInterfaceFollowsTheTableAndKeepsIdentity) {
  gDestroyed = 0;
  {
    auto counter = xelo::com::MakeComObject<Counter>(7);
    xelo::com::ComPtr<ICounter> asCounter = counter;
    xelo::com::ComPtr<INamed> named;
    ASSERT_EQ(asCounter.As(named), S_OK);
    EXPECT_EQ(std::make_pair(named->Id(), counter->Refs()), std::make_pair(7, ULONG{3}));
    // Every route to IUnknown gives the same pointer: COM's identity rule.
    EXPECT_EQ(xelo::com::IdentityOf(asCounter.Get()), xelo::com::IdentityOf(named.Get()));
    EXPECT_EQ(xelo::com::IdentityOf(named.Get()).Get(), counter->GetUnknown());

    xelo::com::ComPtr<IMissing> missing;
    void* raw = reinterpret_cast<void*>(0x1);  // a refused query clears the out-parameter
    EXPECT_EQ((std::tuple{asCounter.As(missing), asCounter->QueryInterface(IID_IMissing, &raw), raw, asCounter->QueryInterface(IID_ICounter, nullptr)}),
              (std::tuple{E_NOINTERFACE, E_NOINTERFACE, static_cast<void*>(nullptr), E_POINTER}));
    ASSERT_EQ(asCounter->QueryInterface(IID_IAlias, &raw), S_OK);
    EXPECT_EQ(static_cast<INamed*>(raw)->Id(), 7);
    static_cast<INamed*>(raw)->Release();

    // Calls go through the vtable of the interface pointer.
    asCounter->Increment(5), named.As<ICounter>()->Increment(2);
    EXPECT_EQ(counter->Value(), 7);

    // Attach, Detach, Put and moves keep the count balanced.
    xelo::com::ComPtr<ICounter> moved(std::move(asCounter));
    EXPECT_FALSE(asCounter);
    auto attached = xelo::com::ComPtr<ICounter>::Attach(moved.Detach());
    EXPECT_EQ(counter->Refs(), 3u);
    named->QueryInterface(IID_INamed, named.PutVoid());  // Put releases the old reference first
    attached = attached;                                  // self-assignment keeps the reference
    EXPECT_EQ(counter->Refs(), 3u);
    EXPECT_EQ(gDestroyed, 0);
  }
  EXPECT_EQ(gDestroyed, 1) << "the last release destroys the object exactly once";
}

TEST(SystemMessage, KnownCodesHaveTheirTextAndUnknownOnesNameTheCode) {
#if !XELO_COM_NATIVE  // Windows' texts are the system's, in its language
  EXPECT_EQ(xelo::com::SystemMessageText(E_FAIL), "Unspecified error");
  EXPECT_EQ(xelo::com::SystemMessageText(HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE)), "The RPC server is unavailable.");
#endif
  // The OPC codes are the library's own, on every system.
  EXPECT_EQ(xelo::com::SystemMessageText(XELO_HR(0xC0040007)),
            "The item ID is not defined in the server address space or no longer exists in the server "
            "address space.");
  EXPECT_EQ(xelo::com::SystemMessageText(XELO_HR(0x8BADF00D)), "Unknown error 0x8BADF00D");
  EXPECT_EQ(xelo::com::KnownSystemMessageText(XELO_HR(0x8BADF00D)), "");
  // The RPC names are Win32 numbers, as in the SDK.
  EXPECT_EQ(std::make_pair(HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE), HRESULT_FROM_WIN32(RPC_S_CALL_FAILED)),
            std::make_pair(XELO_HR(0x800706BA), XELO_HR(0x800706BE)));
}

}  // namespace
