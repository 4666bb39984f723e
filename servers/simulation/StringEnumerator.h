// The IEnumString the server hands out (browsing, group names): the COM
// layer's string enumerator, except that every string Next() hands over is
// recorded for the strict ownership check (see OwnershipLedger.h).
#pragma once

#include "servers/simulation/OwnershipLedger.h"
#include "xelo/com/EnumeratorImpl.h"

#include <new>
#include <string>
#include <utility>
#include <vector>

namespace xelo::sim {

struct HandedOverStringPolicy : xelo::com::StringCopyPolicy {
  static HRESULT Copy(const Stored& from, Element* to) noexcept {
    const HRESULT hr = StringCopyPolicy::Copy(from, to);
    if (FAILED(hr)) return hr;
    try {
      OwnershipLedger::Instance().HandedOver(*to, "IEnumString::Next", "a string of rgelt");
    } catch (const std::bad_alloc&) {
      Free(to);
      return E_OUTOFMEMORY;
    }
    return S_OK;
  }
};

inline xelo::com::ComPtr<IEnumString> MakeStringEnumerator(std::vector<com::OleString> items) {
  return xelo::com::MakeEnumerator<IEnumString, HandedOverStringPolicy>(std::move(items));
}

}  // namespace xelo::sim
