// A reusable implementation of COM's enumerator interfaces.
//
//   auto e = xelo::com::MakeStringEnumerator({OLESTR("a"), OLESTR("b")});        // IEnumString
//   auto g = xelo::com::MakeGuidEnumerator<IOPCEnumGUID>(clsids);   // same shape, own IID
//
// Enumerator<Interface, Policy> implements any interface of the usual shape
//   Next(ULONG celt, Element* rgelt, ULONG* pceltFetched), Skip(ULONG),
//   Reset(), Clone(Interface**)
// over an immutable snapshot of stored elements taken when the enumerator
// is made; clones share the snapshot and copy the position. A Policy says
// how a stored element becomes an out-element:
//
//   struct Policy {
//     using Element = ...;   // what Next hands out
//     using Stored = ...;    // what the snapshot keeps
//     static HRESULT Copy(const Stored& from, Element* to) noexcept;  // S_OK or E_OUTOFMEMORY
//     static void Free(Element* element) noexcept;  // undoes Copy, leaves an empty element
//   };
//
// Next follows COM's rules exactly: S_OK when celt elements were returned,
// S_FALSE when fewer (also none); pceltFetched may be null only when celt
// is 1 (else E_POINTER); a null rgelt with celt > 0 is E_POINTER. If a copy
// fails halfway, what was already handed out is freed again, the position
// does not move and the failure (E_OUTOFMEMORY) is returned. Skip past the
// end moves to the end and answers S_FALSE.
//
// One enumerator object is meant for one thread at a time (the position is
// not synchronised); clones may be used on other threads. The Make*
// functions may throw std::bad_alloc; the COM methods never throw.
#pragma once

#include "xelo/com/ComObject.h"
#include "xelo/com/ConnectionPoints.h"
#include "xelo/com/DataTransfer.h"
#include "xelo/com/Enumerators.h"
#include "xelo/com/TaskMemory.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

namespace xelo::com {

template <class Interface, class Policy>
class Enumerator final : public ComObject<Interface> {
 public:
  using Element = typename Policy::Element;
  using Stored = typename Policy::Stored;
  using Snapshot = std::shared_ptr<const std::vector<Stored>>;

  explicit Enumerator(Snapshot items, std::size_t position = 0)
      : items_(std::move(items)), position_(std::min(position, items_->size())) {}

  STDMETHOD(Next)(ULONG celt, Element* rgelt, ULONG* pceltFetched) override {
    if (pceltFetched == nullptr && celt != 1) return E_POINTER;
    if (pceltFetched != nullptr) *pceltFetched = 0;
    if (rgelt == nullptr && celt > 0) return E_POINTER;
    const std::size_t count = std::min<std::size_t>(celt, items_->size() - position_);
    for (std::size_t i = 0; i < count; ++i) {
      const HRESULT hr = Policy::Copy((*items_)[position_ + i], &rgelt[i]);
      if (FAILED(hr)) {
        // The caller must not see a partial result it would have to free.
        for (std::size_t j = 0; j < i; ++j) Policy::Free(&rgelt[j]);
        return hr;
      }
    }
    position_ += count;
    if (pceltFetched != nullptr) *pceltFetched = static_cast<ULONG>(count);
    return count == celt ? S_OK : S_FALSE;
  }

  STDMETHOD(Skip)(ULONG celt) override {
    const std::size_t count = std::min<std::size_t>(celt, items_->size() - position_);
    position_ += count;
    return count == celt ? S_OK : S_FALSE;
  }

  STDMETHOD(Reset)() override {
    position_ = 0;
    return S_OK;
  }

  STDMETHOD(Clone)(Interface** ppenum) override {
    if (ppenum == nullptr) return E_POINTER;
    *ppenum = nullptr;
    try {
      *ppenum = MakeComObject<Enumerator>(items_, position_).Detach();
      return S_OK;
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    } catch (...) {
      return E_FAIL;
    }
  }

 private:
  const Snapshot items_;
  std::size_t position_;
};

// Creates an enumerator over `items` (moved into the snapshot).
template <class Interface, class Policy>
ComPtr<Interface> MakeEnumerator(std::vector<typename Policy::Stored> items) {
  auto snapshot = std::make_shared<const std::vector<typename Policy::Stored>>(std::move(items));
  return ComPtr<Interface>(MakeComObject<Enumerator<Interface, Policy>>(std::move(snapshot)));
}

// ---- Element policies -------------------------------------------------------

// Strings: each one a fresh copy from the task allocator.
struct StringCopyPolicy {
  using Element = LPOLESTR;
  using Stored = OleString;
  static HRESULT Copy(const Stored& from, Element* to) noexcept {
    *to = CoTaskMemStrDup(from);
    return *to != nullptr ? S_OK : E_OUTOFMEMORY;
  }
  static void Free(Element* element) noexcept {
    CoTaskMemFree(*element);
    *element = nullptr;
  }
};

// Plain values (GUIDs and the like): copied as they are.
template <class Value>
struct ValueCopyPolicy {
  using Element = Value;
  using Stored = Value;
  static HRESULT Copy(const Stored& from, Element* to) noexcept {
    *to = from;
    return S_OK;
  }
  static void Free(Element* element) noexcept { *element = Value{}; }
};

// Interfaces: each handed-out pointer carries its own reference.
template <class Item>
struct InterfaceCopyPolicy {
  using Element = Item*;
  using Stored = ComPtr<Item>;
  static HRESULT Copy(const Stored& from, Element* to) noexcept {
    *to = from.Get();
    if (*to != nullptr) (*to)->AddRef();
    return S_OK;
  }
  static void Free(Element* element) noexcept {
    if (Item* item = std::exchange(*element, nullptr)) item->Release();
  }
};

// A connection as IEnumConnections reports it.
struct StoredConnection {
  ComPtr<IUnknown> sink;
  DWORD cookie = 0;
};

struct ConnectionCopyPolicy {
  using Element = CONNECTDATA;
  using Stored = StoredConnection;
  static HRESULT Copy(const Stored& from, Element* to) noexcept {
    to->pUnk = from.sink.Get();
    if (to->pUnk != nullptr) to->pUnk->AddRef();
    to->dwCookie = from.cookie;
    return S_OK;
  }
  static void Free(Element* element) noexcept {
    if (IUnknown* sink = std::exchange(element->pUnk, nullptr)) sink->Release();
    element->dwCookie = 0;
  }
};

// A FORMATETC kept by value, its target device (if any) as owned bytes so
// that the snapshot itself holds no task-allocator blocks.
struct StoredFormatEtc {
  FORMATETC format{};  // ptd always null here
  std::vector<BYTE> targetDevice;

  StoredFormatEtc() = default;
  explicit StoredFormatEtc(const FORMATETC& from) : format(from) {
    format.ptd = nullptr;
    if (from.ptd != nullptr) {
      // tdSize counts the whole block; never read less than the size field
      // itself, which we have read already.
      const std::size_t bytes = std::max<std::size_t>(from.ptd->tdSize, sizeof(DWORD));
      const auto* raw = reinterpret_cast<const BYTE*>(from.ptd);
      targetDevice.assign(raw, raw + bytes);
    }
  }

  HRESULT CopyTo(FORMATETC* to) const noexcept {
    *to = format;
    if (targetDevice.empty()) return S_OK;
    void* device = CoTaskMemAlloc(targetDevice.size());
    if (device == nullptr) return E_OUTOFMEMORY;
    std::memcpy(device, targetDevice.data(), targetDevice.size());
    to->ptd = static_cast<DVTARGETDEVICE*>(device);
    return S_OK;
  }
};

struct FormatEtcCopyPolicy {
  using Element = FORMATETC;
  using Stored = StoredFormatEtc;
  static HRESULT Copy(const Stored& from, Element* to) noexcept {
    const HRESULT hr = from.CopyTo(to);
    if (FAILED(hr)) *to = FORMATETC{};
    return hr;
  }
  static void Free(Element* element) noexcept {
    CoTaskMemFree(element->ptd);
    *element = FORMATETC{};
  }
};

struct StoredStatData {
  StoredFormatEtc format;
  DWORD advf = 0;
  ComPtr<IAdviseSink> sink;
  DWORD connection = 0;

  StoredStatData() = default;
  explicit StoredStatData(const STATDATA& from)
      : format(from.formatetc), advf(from.advf), sink(from.pAdvSink), connection(from.dwConnection) {}
};

struct StatDataCopyPolicy {
  using Element = STATDATA;
  using Stored = StoredStatData;
  static HRESULT Copy(const Stored& from, Element* to) noexcept {
    *to = STATDATA{};
    const HRESULT hr = from.format.CopyTo(&to->formatetc);
    if (FAILED(hr)) {
      to->formatetc = FORMATETC{};
      return hr;
    }
    to->advf = from.advf;
    to->pAdvSink = from.sink.Get();
    if (to->pAdvSink != nullptr) to->pAdvSink->AddRef();
    to->dwConnection = from.connection;
    return S_OK;
  }
  static void Free(Element* element) noexcept {
    CoTaskMemFree(element->formatetc.ptd);
    if (IAdviseSink* sink = element->pAdvSink) sink->Release();
    *element = STATDATA{};
  }
};

// ---- Makers -----------------------------------------------------------------

template <class Interface = IEnumString>
ComPtr<Interface> MakeStringEnumerator(std::vector<OleString> items) {
  return MakeEnumerator<Interface, StringCopyPolicy>(std::move(items));
}

// Also serves interfaces of IEnumGUID's shape with an IID of their own
// (IOPCEnumGUID): MakeGuidEnumerator<IOPCEnumGUID>(clsids).
template <class Interface = IEnumGUID>
ComPtr<Interface> MakeGuidEnumerator(std::vector<GUID> items) {
  return MakeEnumerator<Interface, ValueCopyPolicy<GUID>>(std::move(items));
}

inline ComPtr<IEnumUnknown> MakeUnknownEnumerator(std::vector<ComPtr<IUnknown>> items) {
  return MakeEnumerator<IEnumUnknown, InterfaceCopyPolicy<IUnknown>>(std::move(items));
}

inline ComPtr<IEnumConnectionPoints> MakeConnectionPointEnumerator(std::vector<ComPtr<IConnectionPoint>> items) {
  return MakeEnumerator<IEnumConnectionPoints, InterfaceCopyPolicy<IConnectionPoint>>(std::move(items));
}

inline ComPtr<IEnumConnections> MakeConnectionEnumerator(std::vector<StoredConnection> items) {
  return MakeEnumerator<IEnumConnections, ConnectionCopyPolicy>(std::move(items));
}

// The formats are copied (target devices included); the caller keeps its own.
inline ComPtr<IEnumFORMATETC> MakeFormatEtcEnumerator(const std::vector<FORMATETC>& items) {
  std::vector<StoredFormatEtc> stored;
  stored.reserve(items.size());
  for (const auto& item : items) stored.emplace_back(item);
  return MakeEnumerator<IEnumFORMATETC, FormatEtcCopyPolicy>(std::move(stored));
}

// The entries are copied and their sinks AddRef'd; the caller keeps its own.
inline ComPtr<IEnumSTATDATA> MakeStatDataEnumerator(const std::vector<STATDATA>& items) {
  std::vector<StoredStatData> stored;
  stored.reserve(items.size());
  for (const auto& item : items) stored.emplace_back(item);
  return MakeEnumerator<IEnumSTATDATA, StatDataCopyPolicy>(std::move(stored));
}

}  // namespace xelo::com
