#include "xelo/com/ConnectionPoint.h"

#include "xelo/com/EnumeratorImpl.h"

#include <algorithm>
#include <new>
#include <utility>

namespace xelo::com {

ConnectionPoint::ConnectionPoint(REFIID iid, IConnectionPointContainer* container, ULONG maxConnections)
    : iid_(iid), maxConnections_(maxConnections), container_(container) {}

ConnectionPoint::~ConnectionPoint() {
  for (const Connection& connection : connections_) connection.sink->Release();
}

HRESULT ConnectionPoint::GetConnectionInterface(IID* pIID) {
  if (pIID == nullptr) return E_POINTER;
  *pIID = iid_;
  return S_OK;
}

HRESULT ConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** ppCPC) {
  if (ppCPC == nullptr) return E_POINTER;
  *ppCPC = nullptr;
  std::lock_guard lock(mutex_);
  if (container_ == nullptr) return E_UNEXPECTED;
  // AddRef under the lock: the container detaches us under the same lock
  // before it is destroyed, so it is still alive here.
  container_->AddRef();
  *ppCPC = container_;
  return S_OK;
}

HRESULT ConnectionPoint::Advise(IUnknown* pUnkSink, DWORD* pdwCookie) {
  if (pdwCookie == nullptr) return E_POINTER;
  *pdwCookie = 0;
  if (pUnkSink == nullptr) return E_POINTER;

  // Ask the sink before taking the lock: QueryInterface is foreign code and
  // may call back into this point.
  void* raw = nullptr;
  if (FAILED(pUnkSink->QueryInterface(iid_, &raw)) || raw == nullptr) return CONNECT_E_CANNOTCONNECT;
  auto* sink = static_cast<IUnknown*>(raw);

  HRESULT hr = S_OK;
  {
    std::lock_guard lock(mutex_);
    if (connections_.size() >= maxConnections_ || lastCookie_ == 0xFFFFFFFFu) {
      hr = CONNECT_E_ADVISELIMIT;
    } else {
      try {
        connections_.push_back(Connection{sink, lastCookie_ + 1});
        *pdwCookie = ++lastCookie_;
      } catch (const std::bad_alloc&) {
        hr = E_OUTOFMEMORY;
      }
    }
  }
  if (FAILED(hr)) sink->Release();
  return hr;
}

HRESULT ConnectionPoint::Unadvise(DWORD dwCookie) {
  IUnknown* sink = nullptr;
  {
    std::lock_guard lock(mutex_);
    auto it = std::find_if(connections_.begin(), connections_.end(),
                           [dwCookie](const Connection& c) { return c.cookie == dwCookie; });
    if (it == connections_.end()) return CONNECT_E_NOCONNECTION;
    sink = it->sink;
    connections_.erase(it);
  }
  sink->Release();
  return S_OK;
}

HRESULT ConnectionPoint::EnumConnections(IEnumConnections** ppEnum) {
  if (ppEnum == nullptr) return E_POINTER;
  *ppEnum = nullptr;
  try {
    std::vector<StoredConnection> snapshot;
    {
      std::lock_guard lock(mutex_);
      snapshot.reserve(connections_.size());
      for (const Connection& c : connections_) snapshot.push_back(StoredConnection{ComPtr<IUnknown>(c.sink), c.cookie});
    }
    *ppEnum = MakeConnectionEnumerator(std::move(snapshot)).Detach();
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_FAIL;
  }
}

std::size_t ConnectionPoint::ConnectionCount() const {
  std::lock_guard lock(mutex_);
  return connections_.size();
}

std::vector<IUnknown*> ConnectionPoint::SinkSnapshot() const {
  std::vector<IUnknown*> sinks;
  std::lock_guard lock(mutex_);
  sinks.reserve(connections_.size());  // the only step that may throw
  for (const Connection& c : connections_) {
    c.sink->AddRef();
    sinks.push_back(c.sink);
  }
  return sinks;
}

std::size_t ConnectionPoint::DisconnectAll() noexcept {
  std::vector<Connection> gone;
  {
    std::lock_guard lock(mutex_);
    gone.swap(connections_);
  }
  for (const Connection& c : gone) c.sink->Release();
  return gone.size();
}

std::vector<ComPtr<IUnknown>> ConnectionPoint::TakeSinks() {
  std::vector<ComPtr<IUnknown>> taken;
  std::lock_guard lock(mutex_);
  taken.reserve(connections_.size());
  for (const Connection& c : connections_) taken.push_back(ComPtr<IUnknown>::Attach(c.sink));
  connections_.clear();
  return taken;
}

void ConnectionPoint::DetachContainer() noexcept {
  std::lock_guard lock(mutex_);
  container_ = nullptr;
}

// ---- ConnectionPointList ----------------------------------------------------

ConnectionPointList::ConnectionPointList(IConnectionPointContainer* container) : container_(container) {}

ConnectionPointList::~ConnectionPointList() { DetachAll(); }

ComPtr<ConnectionPoint> ConnectionPointList::Add(REFIID iid, ULONG maxConnections) {
  std::lock_guard lock(mutex_);
  for (const auto& point : points_) {
    if (point->Iid() == iid) return point;
  }
  auto point = MakeComObject<ConnectionPoint>(iid, container_, maxConnections);
  points_.push_back(point);
  return point;
}

ComPtr<ConnectionPoint> ConnectionPointList::Find(REFIID iid) const {
  std::lock_guard lock(mutex_);
  for (const auto& point : points_) {
    if (point->Iid() == iid) return point;
  }
  return nullptr;
}

HRESULT ConnectionPointList::FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) const noexcept {
  if (ppCP == nullptr) return E_POINTER;
  *ppCP = nullptr;
  ComPtr<ConnectionPoint> point = Find(riid);
  if (!point) return CONNECT_E_NOCONNECTION;
  *ppCP = ComPtr<IConnectionPoint>(point).Detach();
  return S_OK;
}

HRESULT ConnectionPointList::EnumConnectionPoints(IEnumConnectionPoints** ppEnum) const noexcept {
  if (ppEnum == nullptr) return E_POINTER;
  *ppEnum = nullptr;
  try {
    std::vector<ComPtr<IConnectionPoint>> snapshot;
    {
      std::lock_guard lock(mutex_);
      snapshot.assign(points_.begin(), points_.end());
    }
    *ppEnum = MakeConnectionPointEnumerator(std::move(snapshot)).Detach();
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_FAIL;
  }
}

void ConnectionPointList::DetachAll() noexcept {
  std::vector<ComPtr<ConnectionPoint>> points;
  {
    std::lock_guard lock(mutex_);
    points.swap(points_);
  }
  // Detach all before disconnecting any: a sink released below may call
  // back into a point and must not reach the dying container.
  for (const auto& point : points) point->DetachContainer();
  for (const auto& point : points) point->DisconnectAll();
}

}  // namespace xelo::com
