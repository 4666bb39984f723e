#include "xelo/com/ConnectionPoint.h"

#include "support/AllocationCheckedTest.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <vector>

// Two outgoing interfaces of a made-up server.
inline constexpr IID IID_ITestEvents{0x4C0FFEE1, 0x1234, 0x4321, {0x80, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07}};
struct ITestEvents : public IUnknown {
  STDMETHOD(OnEvent)(LONG value) PURE;
};
XELO_DECLARE_IID(ITestEvents);

inline constexpr IID IID_ITestShutdown{0x4C0FFEE2, 0x1234, 0x4321, {0x80, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07}};
struct ITestShutdown : public IUnknown {
  STDMETHOD(OnShutdown)() PURE;
};
XELO_DECLARE_IID(ITestShutdown);

namespace {

using xelo::com::ComPtr;
using xelo::com::ConnectionPoint;
using xelo::com::ConnectionPointList;
using xelo::com::MakeComObject;
using xelo::test::RefsOf;

class ConnectionPoints : public xelo::test::AllocationCheckedTest {};

class EventSink final : public xelo::com::ComObject<ITestEvents> {
 public:
  explicit EventSink(bool* destroyed = nullptr) : destroyed_(destroyed) {}
  ~EventSink() override {
    if (destroyed_ != nullptr) *destroyed_ = true;
  }
  STDMETHOD(OnEvent)(LONG value) override {
    received.push_back(value);
    if (onEvent) onEvent();
    return S_OK;
  }
  std::vector<LONG> received;
  std::function<void()> onEvent;

 private:
  bool* destroyed_;
};

// Answers IUnknown only.
class PlainObject final : public xelo::com::ComObject<IUnknown> {};

class Server final : public xelo::com::ComObject<IConnectionPointContainer> {
 public:
  explicit Server(bool* destroyed = nullptr) : destroyed_(destroyed) {
    events = points_.Add(IID_ITestEvents, 1).Get();
    shutdown = points_.Add(IID_ITestShutdown).Get();
  }
  ~Server() override {
    if (destroyed_ != nullptr) *destroyed_ = true;
  }
  STDMETHOD(EnumConnectionPoints)(IEnumConnectionPoints** ppEnum) override {
    return points_.EnumConnectionPoints(ppEnum);
  }
  STDMETHOD(FindConnectionPoint)(REFIID riid, IConnectionPoint** ppCP) override {
    return points_.FindConnectionPoint(riid, ppCP);
  }
  ConnectionPoint* events = nullptr;  // owned by points_
  ConnectionPoint* shutdown = nullptr;

 private:
  bool* destroyed_;
  ConnectionPointList points_{this};
};

ComPtr<ConnectionPoint> NewPoint(ULONG limit = ConnectionPoint::kNoLimit) {
  return MakeComObject<ConnectionPoint>(IID_ITestEvents, nullptr, limit);
}

TEST_F(ConnectionPoints, AdviseKeepsTheSinkUntilUnadvise) {
  auto point = NewPoint();
  auto a = MakeComObject<EventSink>();
  auto b = MakeComObject<EventSink>();

  DWORD first = 0, second = 0;
  ASSERT_EQ(point->Advise(a.Get(), &first), S_OK);
  ASSERT_EQ(point->Advise(b.Get(), &second), S_OK);
  EXPECT_NE(first, 0u);
  EXPECT_NE(second, 0u);
  EXPECT_NE(first, second);
  EXPECT_EQ(point->ConnectionCount(), 2u);
  EXPECT_EQ(RefsOf(a.Get()), 2u);

  EXPECT_EQ(point->Unadvise(first), S_OK);
  EXPECT_EQ(RefsOf(a.Get()), 1u);
  EXPECT_EQ(point->Unadvise(first), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(point->Unadvise(0), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(point->Unadvise(second + 1000), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(point->ConnectionCount(), 1u);
  EXPECT_EQ(RefsOf(b.Get()), 2u);

  IID iid{};
  EXPECT_EQ(point->GetConnectionInterface(&iid), S_OK);
  EXPECT_EQ(iid, IID_ITestEvents);
  EXPECT_EQ(point->GetConnectionInterface(nullptr), E_POINTER);
  // The point's own destruction lets go of the remaining sink.
  point = nullptr;
  EXPECT_EQ(RefsOf(b.Get()), 1u);
}

TEST_F(ConnectionPoints, AdviseRefusesBadArgumentsAndForeignSinks) {
  auto point = NewPoint();
  auto sink = MakeComObject<EventSink>();
  auto plain = MakeComObject<PlainObject>();
  DWORD cookie = 77;

  EXPECT_EQ(point->Advise(nullptr, &cookie), E_POINTER);
  EXPECT_EQ(cookie, 0u);
  EXPECT_EQ(point->Advise(sink.Get(), nullptr), E_POINTER);
  cookie = 77;
  EXPECT_EQ(point->Advise(plain.Get(), &cookie), CONNECT_E_CANNOTCONNECT);
  EXPECT_EQ(cookie, 0u);
  EXPECT_EQ(RefsOf(plain.Get()), 1u);
  EXPECT_EQ(RefsOf(sink.Get()), 1u);
  EXPECT_EQ(point->ConnectionCount(), 0u);
}

TEST_F(ConnectionPoints, TheLimitRefusesFurtherSinksAndCookiesAreNeverReused) {
  auto point = NewPoint(1);
  auto a = MakeComObject<EventSink>();
  auto b = MakeComObject<EventSink>();
  DWORD first = 0, refused = 55;
  ASSERT_EQ(point->Advise(a.Get(), &first), S_OK);
  EXPECT_EQ(point->Advise(b.Get(), &refused), CONNECT_E_ADVISELIMIT);
  EXPECT_EQ(refused, 0u);
  EXPECT_EQ(RefsOf(b.Get()), 1u);

  ASSERT_EQ(point->Unadvise(first), S_OK);
  DWORD next = 0;
  ASSERT_EQ(point->Advise(b.Get(), &next), S_OK);
  EXPECT_NE(next, first);
  EXPECT_EQ(point->MaxConnections(), 1u);
  // The old cookie does not reach the new connection.
  EXPECT_EQ(point->Unadvise(first), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(point->DisconnectAll(), 1u);
  EXPECT_EQ(RefsOf(b.Get()), 1u);
}

TEST_F(ConnectionPoints, PointsRefuseOtherInterfaces) {
  auto point = NewPoint();
  void* out = &out;
  EXPECT_EQ(point->QueryInterface(IID_IConnectionPointContainer, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(point->QueryInterface(IID_ITestEvents, &out), E_NOINTERFACE);
  EXPECT_EQ(point->QueryInterface(IID_IConnectionPoint, nullptr), E_POINTER);

  ComPtr<IConnectionPoint> asPoint;
  ASSERT_EQ(point->QueryInterface(IID_IConnectionPoint, asPoint.PutVoid()), S_OK);
  EXPECT_EQ(xelo::com::IdentityOf(asPoint.Get()), xelo::com::IdentityOf(point.Get()));
}

TEST_F(ConnectionPoints, EnumConnectionsReportsSinksWithReferencesAndCookies) {
  auto point = NewPoint();
  auto a = MakeComObject<EventSink>();
  auto b = MakeComObject<EventSink>();
  DWORD ca = 0, cb = 0;
  ASSERT_EQ(point->Advise(a.Get(), &ca), S_OK);
  ASSERT_EQ(point->Advise(b.Get(), &cb), S_OK);

  ComPtr<IEnumConnections> connections;
  ASSERT_EQ(point->EnumConnections(connections.Put()), S_OK);
  // A snapshot: unadvising now does not change what is enumerated.
  ASSERT_EQ(point->Unadvise(ca), S_OK);

  std::array<CONNECTDATA, 3> data{};
  ULONG fetched = 0;
  ASSERT_EQ(connections->Next(3, data.data(), &fetched), S_FALSE);
  ASSERT_EQ(fetched, 2u);
  EXPECT_EQ(data[0].dwCookie, ca);
  EXPECT_EQ(data[1].dwCookie, cb);
  EXPECT_EQ(xelo::com::IdentityOf(data[0].pUnk), xelo::com::IdentityOf(a.Get()));
  EXPECT_EQ(xelo::com::IdentityOf(data[1].pUnk), xelo::com::IdentityOf(b.Get()));
  EXPECT_EQ(RefsOf(a.Get()), 3u);  // ours, the snapshot's, the handed-out one
  data[0].pUnk->Release();
  data[1].pUnk->Release();
  connections = nullptr;
  EXPECT_EQ(RefsOf(a.Get()), 1u);
  EXPECT_EQ(point->EnumConnections(nullptr), E_POINTER);
}

TEST_F(ConnectionPoints, SinksUnadvisingDuringTheCallbackStayAliveUntilTheLoopIsDone) {
  auto point = NewPoint();
  bool aGone = false, bGone = false;
  DWORD ca = 0, cb = 0;
  {
    auto a = MakeComObject<EventSink>(&aGone);
    auto b = MakeComObject<EventSink>(&bGone);
    ASSERT_EQ(point->Advise(a.Get(), &ca), S_OK);
    ASSERT_EQ(point->Advise(b.Get(), &cb), S_OK);
    // The first sink disconnects both itself and the second one.
    a->onEvent = [&] {
      EXPECT_EQ(point->Unadvise(ca), S_OK);
      EXPECT_EQ(point->Unadvise(cb), S_OK);
      EXPECT_FALSE(aGone);
      EXPECT_FALSE(bGone);
    };
  }  // from here on the point holds the only references

  std::size_t called = 0;
  {
    auto sinks = point->Sinks<ITestEvents>();
    ASSERT_EQ(sinks.size(), 2u);
    for (auto& sink : sinks) {
      EXPECT_EQ(sink->OnEvent(42), S_OK);
      ++called;
    }
    EXPECT_FALSE(bGone);
  }
  EXPECT_EQ(called, 2u);
  EXPECT_TRUE(aGone);
  EXPECT_TRUE(bGone);
  EXPECT_EQ(point->ConnectionCount(), 0u);
  EXPECT_TRUE(point->Sinks<ITestEvents>().empty());
}

TEST_F(ConnectionPoints, SinksSnapshotIsTypedByThePointsInterface) {
  auto point = NewPoint();
  auto sink = MakeComObject<EventSink>();
  DWORD cookie = 0;
  ASSERT_EQ(point->Advise(sink.Get(), &cookie), S_OK);

  auto typed = point->Sinks<ITestEvents>();
  ASSERT_EQ(typed.size(), 1u);
  EXPECT_EQ(typed[0].Get(), static_cast<ITestEvents*>(sink.Get()));
  typed[0]->OnEvent(5);
  EXPECT_EQ(sink->received, std::vector<LONG>{5});
  EXPECT_EQ(point->Sinks<IUnknown>().size(), 1u);
  // Asking for the wrong interface gives nothing rather than a bad cast.
  EXPECT_TRUE(point->Sinks<ITestShutdown>().empty());
}

TEST_F(ConnectionPoints, TheContainerFindsAndEnumeratesItsPoints) {
  auto server = MakeComObject<Server>();
  ComPtr<IConnectionPoint> found;
  ASSERT_EQ(server->FindConnectionPoint(IID_ITestEvents, found.Put()), S_OK);
  EXPECT_EQ(found.Get(), static_cast<IConnectionPoint*>(server->events));

  ComPtr<IConnectionPointContainer> back;
  ASSERT_EQ(found->GetConnectionPointContainer(back.Put()), S_OK);
  EXPECT_EQ(xelo::com::IdentityOf(back.Get()), xelo::com::IdentityOf(server.Get()));
  EXPECT_EQ(found->GetConnectionPointContainer(nullptr), E_POINTER);
  back = nullptr;

  IConnectionPoint* none = found.Get();
  EXPECT_EQ(server->FindConnectionPoint(IID_IUnknown, &none), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(server->FindConnectionPoint(IID_ITestEvents, nullptr), E_POINTER);

  ComPtr<IEnumConnectionPoints> points;
  ASSERT_EQ(server->EnumConnectionPoints(points.Put()), S_OK);
  std::array<IConnectionPoint*, 3> out{};
  ULONG fetched = 0;
  ASSERT_EQ(points->Next(3, out.data(), &fetched), S_FALSE);
  ASSERT_EQ(fetched, 2u);
  std::array<IID, 2> iids{};
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(out[i]->GetConnectionInterface(&iids[i]), S_OK);
    out[i]->Release();
  }
  EXPECT_EQ(iids[0], IID_ITestEvents);
  EXPECT_EQ(iids[1], IID_ITestShutdown);
  EXPECT_EQ(server->EnumConnectionPoints(nullptr), E_POINTER);
}

TEST_F(ConnectionPoints, APointOutlivingItsContainerIsDetachedWithoutACycle) {
  bool serverGone = false, sinkGone = false;
  auto server = MakeComObject<Server>(&serverGone);
  ComPtr<IConnectionPoint> point;
  ASSERT_EQ(server->FindConnectionPoint(IID_ITestEvents, point.Put()), S_OK);
  DWORD cookie = 0;
  {
    auto sink = MakeComObject<EventSink>(&sinkGone);
    ASSERT_EQ(point->Advise(sink.Get(), &cookie), S_OK);
  }
  // Holding the point (with a sink on it) must not keep the server alive.
  server = nullptr;
  EXPECT_TRUE(serverGone);
  EXPECT_TRUE(sinkGone);  // the dying container let go of its sinks

  // A non-null value that the call must overwrite; never dereferenced.
  auto* container = reinterpret_cast<IConnectionPointContainer*>(&cookie);
  EXPECT_EQ(point->GetConnectionPointContainer(&container), E_UNEXPECTED);
  EXPECT_EQ(container, nullptr);
  EXPECT_EQ(point->Unadvise(cookie), CONNECT_E_NOCONNECTION);
  IID iid{};
  EXPECT_EQ(point->GetConnectionInterface(&iid), S_OK);
  EXPECT_EQ(iid, IID_ITestEvents);
}

}  // namespace
