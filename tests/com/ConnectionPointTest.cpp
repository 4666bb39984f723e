#include "xelo/com/ConnectionPoint.h"

#include "com/ComTesting.h"

#include <functional>

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

using xelo::com::ComPtr, xelo::com::ConnectionPoint, xelo::com::ConnectionPointList, xelo::com::MakeComObject, xelo::test::RefsOf;

class ConnectionPoints : public xelo::test::AllocationCheckedTest {};

class EventSink final : public xelo::com::ComObject<ITestEvents>, xelo::test::DestroyFlag {
 public:
  explicit EventSink(bool* destroyed = nullptr) : DestroyFlag{destroyed} {}
  STDMETHOD(OnEvent)(LONG value) override {
    received.push_back(value);
    if (onEvent) onEvent();
    return S_OK;
  }
  std::vector<LONG> received;
  std::function<void()> onEvent;
};

class Server final : public xelo::com::ComObject<IConnectionPointContainer>, xelo::test::DestroyFlag {
 public:
  explicit Server(bool* destroyed) : DestroyFlag{destroyed} {
    events = points_.Add(IID_ITestEvents, 1).Get();
    points_.Add(IID_ITestShutdown);
  }
  STDMETHOD(EnumConnectionPoints)(IEnumConnectionPoints** ppEnum) override { return points_.EnumConnectionPoints(ppEnum); }
  STDMETHOD(FindConnectionPoint)(REFIID riid, IConnectionPoint** ppCP) override { return points_.FindConnectionPoint(riid, ppCP); }
  ConnectionPoint* events = nullptr;  // owned by points_

 private:
  ConnectionPointList points_{this};
};

IID InterfaceOf(IConnectionPoint* point) {
  IID iid{};
  EXPECT_EQ(point->GetConnectionInterface(&iid), S_OK);
  return iid;
}

ComPtr<ConnectionPoint> NewPoint(ULONG limit = ConnectionPoint::kNoLimit) {
  return MakeComObject<ConnectionPoint>(IID_ITestEvents, nullptr, limit);
}

TEST_F(ConnectionPoints, AdviseKeepsTheSinkUntilUnadviseAndRefusesWhatItCannotKeepOrIsOverTheLimit) {
  auto point = NewPoint();
  auto a = MakeComObject<EventSink>(), b = MakeComObject<EventSink>();
  auto plain = MakeComObject<xelo::test::CountedUnknown>();
  DWORD cookie = 77, refusedSink = 77, first = 0, second = 0;
  EXPECT_EQ(std::make_tuple(point->Advise(nullptr, &cookie), point->Advise(a.Get(), nullptr), point->Advise(plain.Get(), &refusedSink)),
            std::make_tuple(E_POINTER, E_POINTER, CONNECT_E_CANNOTCONNECT));
  EXPECT_EQ(std::make_tuple(cookie, refusedSink, RefsOf(plain.Get()) + RefsOf(a.Get())), std::make_tuple(DWORD{0}, DWORD{0}, ULONG{2}));

  ASSERT_EQ(point->Advise(a.Get(), &first), S_OK);
  ASSERT_EQ(point->Advise(b.Get(), &second), S_OK);
  EXPECT_TRUE(first != 0 && second != 0 && first != second) << first << " " << second;
  EXPECT_EQ(std::make_pair(point->ConnectionCount(), RefsOf(a.Get())), std::make_pair(std::size_t{2}, ULONG{2}));
  EXPECT_EQ(point->Sinks<ITestEvents>()[1]->OnEvent(5), S_OK);  // typed by the point's interface
  EXPECT_EQ(b->received, std::vector<LONG>{5});
  EXPECT_EQ((std::tuple{point->Unadvise(first), RefsOf(a.Get())}), (std::tuple{S_OK, ULONG{1}}));
  for (DWORD unknown : {first, DWORD{0}, second + 1000}) EXPECT_EQ(point->Unadvise(unknown), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(std::make_pair(point->ConnectionCount(), RefsOf(b.Get())), std::make_pair(std::size_t{1}, ULONG{2}));

  // A point is no container and no sink.
  void* out = &out;
  EXPECT_EQ((std::tuple{point->GetConnectionInterface(nullptr), point->QueryInterface(IID_IConnectionPointContainer, &out),
                        point->QueryInterface(IID_ITestEvents, &out), out}),
            (std::tuple{E_POINTER, E_NOINTERFACE, E_NOINTERFACE, static_cast<void*>(nullptr)}));
  // The point's own destruction lets go of the remaining sink.
  point = nullptr;
  EXPECT_EQ(RefsOf(b.Get()), 1u);

  // A limit refuses further sinks; cookies are never reused.
  point = NewPoint(1);
  ASSERT_EQ(point->Advise(a.Get(), &first), S_OK);
  cookie = 55;
  EXPECT_EQ((std::tuple{point->Advise(b.Get(), &cookie), cookie, RefsOf(b.Get())}), (std::tuple{CONNECT_E_ADVISELIMIT, DWORD{0}, ULONG{1}}));
  ASSERT_EQ(point->Unadvise(first), S_OK);
  ASSERT_EQ(point->Advise(b.Get(), &second), S_OK);
  EXPECT_NE(second, first);
  EXPECT_EQ(point->Unadvise(first), CONNECT_E_NOCONNECTION) << "the old cookie does not reach the new connection";
  EXPECT_EQ((std::tuple{point->DisconnectAll(), RefsOf(b.Get())}), (std::tuple{std::size_t{1}, ULONG{1}}));
}

TEST_F(ConnectionPoints, SinksUnadvisingDuringTheCallbackAndEnumeratedOnesStayAliveUntilTheyAreDone) {
  auto point = NewPoint();
  bool aGone = false, bGone = false;
  DWORD ca = 0, cb = 0;
  IUnknown *aIdentity = nullptr, *bIdentity = nullptr;
  {
    auto a = MakeComObject<EventSink>(&aGone), b = MakeComObject<EventSink>(&bGone);
    ASSERT_EQ(point->Advise(a.Get(), &ca) | point->Advise(b.Get(), &cb), S_OK);
    aIdentity = a->GetUnknown(), bIdentity = b->GetUnknown();
    // The first sink disconnects both itself and the second one.
    a->onEvent = [&] {
      EXPECT_EQ(std::make_pair(point->Unadvise(ca), point->Unadvise(cb)), std::make_pair(S_OK, S_OK));
      EXPECT_EQ(RefsOf(aIdentity) + RefsOf(bIdentity), 4u) << "the loop's and the enumerator's snapshots";
    };
  }  // from here on the point holds the only references

  // Asking for the wrong interface gives nothing rather than a bad cast.
  EXPECT_EQ(std::make_pair(point->Sinks<ITestShutdown>().size(), point->Sinks<IUnknown>().size()), std::make_pair(std::size_t{0}, std::size_t{2}));
  ComPtr<IEnumConnections> connections;  // a snapshot: unadvising later does not change what is enumerated
  ASSERT_EQ(point->EnumConnections(connections.Put()), S_OK);
  EXPECT_EQ(point->EnumConnections(nullptr), E_POINTER);
  std::size_t called = 0;
  {
    auto sinks = point->Sinks<ITestEvents>();
    ASSERT_EQ(sinks.size(), 2u);
    for (auto& sink : sinks) {
      EXPECT_EQ(sink->OnEvent(42), S_OK);
      ++called;
    }
  }
  EXPECT_EQ(std::make_pair(called, RefsOf(aIdentity) + RefsOf(bIdentity)), std::make_pair(std::size_t{2}, ULONG{2}));
  EXPECT_EQ(point->ConnectionCount() + point->Sinks<ITestEvents>().size(), 0u);
  std::array<CONNECTDATA, 3> data{};
  ULONG fetched = 0;
  ASSERT_EQ(connections->Next(3, data.data(), &fetched), S_FALSE);
  ASSERT_EQ(fetched, 2u);
  EXPECT_EQ(std::make_tuple(data[0].dwCookie, data[1].dwCookie, data[0].pUnk, data[1].pUnk), std::make_tuple(ca, cb, aIdentity, bIdentity));
  data[0].pUnk->Release(), data[1].pUnk->Release();
  EXPECT_FALSE(aGone || bGone) << "the snapshot still holds its own references";
  connections = nullptr;
  EXPECT_TRUE(aGone && bGone);
}

TEST_F(ConnectionPoints, TheContainerFindsItsPointsWhichOutliveItWithoutACycle) {
  bool serverGone = false, sinkGone = false;
  auto server = MakeComObject<Server>(&serverGone);
  ComPtr<IConnectionPoint> point;
  ASSERT_EQ(server->FindConnectionPoint(IID_ITestEvents, point.Put()), S_OK);
  EXPECT_EQ(point.Get(), static_cast<IConnectionPoint*>(server->events));
  ComPtr<IConnectionPointContainer> back;
  ASSERT_EQ(point->GetConnectionPointContainer(back.Put()), S_OK);
  EXPECT_EQ(xelo::com::IdentityOf(back.Get()), xelo::com::IdentityOf(server.Get()));
  back = nullptr;
  IConnectionPoint* none = point.Get();
  EXPECT_EQ((std::tuple{point->GetConnectionPointContainer(nullptr), server->FindConnectionPoint(IID_IUnknown, &none), none,
                        server->FindConnectionPoint(IID_ITestEvents, nullptr), server->EnumConnectionPoints(nullptr)}),
            (std::tuple{E_POINTER, CONNECT_E_NOCONNECTION, static_cast<IConnectionPoint*>(nullptr), E_POINTER, E_POINTER}));

  ComPtr<IEnumConnectionPoints> points;
  ASSERT_EQ(server->EnumConnectionPoints(points.Put()), S_OK);
  std::array<IConnectionPoint*, 3> out{};
  ULONG fetched = 0;
  ASSERT_EQ(points->Next(3, out.data(), &fetched), S_FALSE);
  ASSERT_EQ(fetched, 2u);
  EXPECT_EQ((std::array<IID, 2>{InterfaceOf(out[0]), InterfaceOf(out[1])}), (std::array<IID, 2>{IID_ITestEvents, IID_ITestShutdown}));
  out[0]->Release(), out[1]->Release();
  points = nullptr;

  DWORD cookie = 0;
  ASSERT_EQ(point->Advise(MakeComObject<EventSink>(&sinkGone).Get(), &cookie), S_OK);
  // Holding the point (with a sink on it) must not keep the server alive.
  server = nullptr;
  EXPECT_TRUE(serverGone && sinkGone);  // the dying container let go of its sinks
  // A non-null value that the call must overwrite; never dereferenced.
  auto* container = reinterpret_cast<IConnectionPointContainer*>(&cookie);
  EXPECT_EQ((std::tuple{point->GetConnectionPointContainer(&container), container, point->Unadvise(cookie), InterfaceOf(point.Get())}),
            (std::tuple{E_UNEXPECTED, static_cast<IConnectionPointContainer*>(nullptr), CONNECT_E_NOCONNECTION, IID_ITestEvents}));
}

}  // namespace
