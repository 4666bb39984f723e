// The server side of connectable objects.
//
// ConnectionPoint is the COM object for one outgoing interface: it keeps the
// advised sinks and gives the server a snapshot of them to call.
// ConnectionPointList is a plain member of the container object that makes
// the points, answers FindConnectionPoint / EnumConnectionPoints for it and
// detaches them when the container goes away, so that
//
//   class Group : public ComObject<IOPCItemMgt, IConnectionPointContainer> {
//     ConnectionPointList points_{this};
//     ComPtr<ConnectionPoint> dataCallback_ = points_.Add(IID_IOPCDataCallback, 1);
//     STDMETHOD(FindConnectionPoint)(REFIID riid, IConnectionPoint** pp) override {
//       return points_.FindConnectionPoint(riid, pp);
//     }
//     ...
//     for (auto& sink : dataCallback_->Sinks<IOPCDataCallback>()) sink->OnDataChange(...);
//   };
//
// Lifetime: a point refers to its container without a reference (the
// container owns the points, the points do not own the container), so there
// is no cycle. When the container is destroyed the list detaches every
// point (GetConnectionPointContainer then answers E_UNEXPECTED) and lets go
// of their sinks; a client that still holds a point can call it safely.
//
// Thread-safe: the sink table is guarded by a mutex that is never held
// while a sink is called, queried or released.
#pragma once

#include "xelo/com/ComObject.h"
#include "xelo/com/ConnectionPoints.h"

#include <cstddef>
#include <mutex>
#include <type_traits>
#include <vector>

namespace xelo::com {

class ConnectionPoint final : public ComObject<IConnectionPoint> {
 public:
  static constexpr ULONG kNoLimit = 0xFFFFFFFFu;

  // Made with MakeComObject<ConnectionPoint>(iid, container, limit).
  // `container` is not AddRef'd and may be null (then the point answers
  // E_UNEXPECTED for its container); `maxConnections` caps the number of
  // sinks (1 for an OPC group's data callback).
  ConnectionPoint(REFIID iid, IConnectionPointContainer* container, ULONG maxConnections = kNoLimit);
  ~ConnectionPoint() override;

  // IConnectionPoint. E_POINTER for null out-parameters.
  STDMETHOD(GetConnectionInterface)(IID* pIID) override;
  // E_UNEXPECTED once the container has gone.
  STDMETHOD(GetConnectionPointContainer)(IConnectionPointContainer** ppCPC) override;
  // E_POINTER for a null sink or cookie (the cookie is set to 0 first);
  // CONNECT_E_CANNOTCONNECT when the sink does not answer the point's IID;
  // CONNECT_E_ADVISELIMIT when the point is full (or, after four billion
  // advises, out of cookies: a cookie is never 0 and never handed out
  // twice). The sink is kept as the interface the IID names.
  STDMETHOD(Advise)(IUnknown* pUnkSink, DWORD* pdwCookie) override;
  // CONNECT_E_NOCONNECTION for a cookie that is not connected; otherwise
  // the sink is released (after the table is updated, so the sink may
  // re-enter the point from its Release).
  STDMETHOD(Unadvise)(DWORD dwCookie) override;
  // A snapshot of the connections; CONNECTDATA.pUnk is the sink as advised.
  STDMETHOD(EnumConnections)(IEnumConnections** ppEnum) override;

  // ---- for the server ----
  const IID& Iid() const { return iid_; }
  ULONG MaxConnections() const { return maxConnections_; }
  std::size_t ConnectionCount() const;

  // The connected sinks, in the order they were advised, each with its own
  // reference: call them from the returned vector, never from the point,
  // so that a sink which unadvises during its callback stays alive until
  // the loop is done. `Sink` must be the interface of Iid() (or IUnknown);
  // asking for any other gives an empty vector. May throw std::bad_alloc.
  template <class Sink>
  std::vector<ComPtr<Sink>> Sinks() const {
    static_assert(std::is_base_of_v<IUnknown, Sink>);
    std::vector<ComPtr<Sink>> result;
    if (!std::is_same_v<Sink, IUnknown> && !(IidOf<Sink>() == iid_)) return result;
    for (IUnknown* sink : SinkSnapshot()) {
      // Each stored pointer came out of QueryInterface for iid_, i.e. it is
      // a Sink* seen through void*; convert back the same way.
      result.push_back(ComPtr<Sink>::Attach(static_cast<Sink*>(static_cast<void*>(sink))));
    }
    return result;
  }

  // Lets go of every sink (releasing them outside the lock); returns how
  // many there were.
  std::size_t DisconnectAll() noexcept;
  // Forgets every connection without releasing its sink: the references
  // go to the caller, who decides when (or whether) they are released. A
  // server process that dies never releases its clients' sinks; the
  // simulation server shows that with this.
  std::vector<ComPtr<IUnknown>> TakeSinks();

  // Forgets the container; called by the container's ConnectionPointList.
  void DetachContainer() noexcept;

 private:
  struct Connection {
    IUnknown* sink;  // owned reference, obtained by QueryInterface(iid_)
    DWORD cookie;
  };

  // AddRef'd raw pointers, adopted by the caller.
  std::vector<IUnknown*> SinkSnapshot() const;

  const IID iid_;
  const ULONG maxConnections_;
  mutable std::mutex mutex_;
  IConnectionPointContainer* container_;  // not owned
  std::vector<Connection> connections_;
  DWORD lastCookie_ = 0;
};

// The connection points of one container object. Not a COM object: the
// container holds it by value and delegates its IConnectionPointContainer
// methods to it. Adding points is meant for the container's construction;
// the lookups are thread-safe.
class ConnectionPointList {
 public:
  // `container` is the owning object's IConnectionPointContainer (not
  // AddRef'd: it owns us).
  explicit ConnectionPointList(IConnectionPointContainer* container);
  // Detaches every point and disconnects its sinks.
  ~ConnectionPointList();
  ConnectionPointList(const ConnectionPointList&) = delete;
  ConnectionPointList& operator=(const ConnectionPointList&) = delete;

  // Adds a point for `iid`, or returns the existing one for that IID. May
  // throw std::bad_alloc.
  ComPtr<ConnectionPoint> Add(REFIID iid, ULONG maxConnections = ConnectionPoint::kNoLimit);
  // The point for `iid`, or null.
  ComPtr<ConnectionPoint> Find(REFIID iid) const;

  // IConnectionPointContainer::FindConnectionPoint: E_POINTER for a null
  // out-parameter, CONNECT_E_NOCONNECTION for an IID without a point.
  HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) const noexcept;
  // IConnectionPointContainer::EnumConnectionPoints: the points in the
  // order they were added. E_POINTER, E_OUTOFMEMORY.
  HRESULT EnumConnectionPoints(IEnumConnectionPoints** ppEnum) const noexcept;

  // What the destructor does; call it first thing in the container's
  // destructor when sinks could call back into the container while being
  // released. Idempotent.
  void DetachAll() noexcept;

 private:
  IConnectionPointContainer* container_;
  mutable std::mutex mutex_;
  std::vector<ComPtr<ConnectionPoint>> points_;
};

}  // namespace xelo::com
