// The boundary between our C++ code and a COM method: no exception may
// cross an interface, so every method body runs inside Guarded(), which
// answers E_OUTOFMEMORY for an allocation failure and E_FAIL for anything
// else that was thrown.
#pragma once

#include "xelo/com/HResult.h"

#include <new>

namespace xelo::sim {

template <class Body>
HRESULT Guarded(Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_FAIL;
  }
}

}  // namespace xelo::sim
