#include "xelo/com/SafeArray.h"

#include "xelo/com/BStr.h"
#include "xelo/com/TaskMemory.h"
#include "xelo/com/Variant.h"

#include <cstddef>
#include <cstring>
#include <limits>

namespace {

// COM reserves 16 bytes before every descriptor: room for an IID, or for the
// element VARTYPE in the last four of them.
constexpr std::size_t kPrefix = 16;
constexpr std::size_t kVartypeOffset = 4;
// Arrays whose memory belongs to their creator: we clear their elements but
// never free their storage.
constexpr USHORT kForeignStorage = FADF_AUTO | FADF_STATIC | FADF_EMBEDDED;
// COM keeps every size of an array in a ULONG; so do we, which also keeps an
// absurd request from reaching the allocator.
constexpr std::uint64_t kMaxDataBytes = std::numeric_limits<ULONG>::max();

USHORT FeaturesOf(VARTYPE vt) {
  USHORT features = FADF_HAVEVARTYPE;
  switch (vt) {
    case VT_BSTR:
      features |= FADF_BSTR;
      break;
    case VT_VARIANT:
      features |= FADF_VARIANT;
      break;
    case VT_UNKNOWN:
      features |= FADF_UNKNOWN;
      break;
    case VT_DISPATCH:
      features |= FADF_DISPATCH;
      break;
    default:
      break;
  }
  return features;
}

// The bounds as stored: [0] is the right-most dimension. Going through a
// pointer keeps the declared one-element array from getting in the way.
SAFEARRAYBOUND* StoredBounds(SAFEARRAY* psa) { return psa->rgsabound; }

unsigned char* PrefixOf(SAFEARRAY* psa) { return reinterpret_cast<unsigned char*>(psa) - kPrefix; }

SAFEARRAY* AllocateDescriptor(UINT cDims) {
  const std::size_t size = kPrefix + offsetof(SAFEARRAY, rgsabound) + std::size_t{cDims} * sizeof(SAFEARRAYBOUND);
  auto* block = static_cast<unsigned char*>(CoTaskMemAlloc(size));
  if (block == nullptr) return nullptr;
  std::memset(block, 0, size);
  return reinterpret_cast<SAFEARRAY*>(block + kPrefix);
}

void FreeDescriptor(SAFEARRAY* psa) { CoTaskMemFree(PrefixOf(psa)); }

// Number of elements for the given per-dimension counts (with bounds[0]
// replaced by `*first` when given); false when it times `elementSize`
// exceeds the size limit.
bool CountElements(const SAFEARRAYBOUND* bounds, UINT cDims, ULONG elementSize, std::uint64_t& count,
                   const SAFEARRAYBOUND* first = nullptr) {
  auto elementsOf = [&](UINT i) -> std::uint64_t {
    return i == 0 && first != nullptr ? first->cElements : bounds[i].cElements;
  };
  count = 1;
  for (UINT i = 0; i < cDims; ++i) {
    if (elementsOf(i) == 0) {
      count = 0;
      return true;
    }
  }
  for (UINT i = 0; i < cDims; ++i) {
    if (count > kMaxDataBytes / elementsOf(i)) return false;
    count *= elementsOf(i);
  }
  return elementSize == 0 || count <= kMaxDataBytes / elementSize;
}

std::uint64_t ElementCount(SAFEARRAY* psa) {
  std::uint64_t count = 1;
  for (UINT i = 0; i < psa->cDims; ++i) count *= StoredBounds(psa)[i].cElements;
  return count;
}

// Frees what `count` elements starting at `first` own and zeroes them.
void ClearElements(USHORT features, ULONG elementSize, void* first, std::uint64_t count) {
  auto* cell = static_cast<unsigned char*>(first);
  for (std::uint64_t i = 0; i < count; ++i, cell += elementSize) {
    if (features & FADF_BSTR) {
      BSTR text;
      std::memcpy(&text, cell, sizeof text);
      SysFreeString(text);
    } else if (features & FADF_VARIANT) {
      VariantClear(reinterpret_cast<VARIANT*>(cell));
    } else if (features & (FADF_UNKNOWN | FADF_DISPATCH)) {
      IUnknown* unknown;
      std::memcpy(&unknown, cell, sizeof unknown);
      if (unknown != nullptr) unknown->Release();
    }
  }
  if (features & (FADF_BSTR | FADF_VARIANT | FADF_UNKNOWN | FADF_DISPATCH)) {
    std::memset(first, 0, static_cast<std::size_t>(count * elementSize));
  }
}

BSTR CopyBstr(BSTR text) {
  return SysAllocStringByteLen(reinterpret_cast<const char*>(text), SysStringByteLen(text));
}

// Copies `count` elements into zeroed storage; on failure the elements
// copied so far stay in `to` for the caller to clear.
HRESULT CopyElements(USHORT features, ULONG elementSize, const void* from, void* to, std::uint64_t count) {
  if (!(features & (FADF_BSTR | FADF_VARIANT | FADF_UNKNOWN | FADF_DISPATCH))) {
    std::memcpy(to, from, static_cast<std::size_t>(count * elementSize));
    return S_OK;
  }
  const auto* source = static_cast<const unsigned char*>(from);
  auto* target = static_cast<unsigned char*>(to);
  for (std::uint64_t i = 0; i < count; ++i, source += elementSize, target += elementSize) {
    if (features & FADF_BSTR) {
      BSTR text;
      std::memcpy(&text, source, sizeof text);
      if (text == nullptr) continue;
      BSTR copy = CopyBstr(text);
      if (copy == nullptr) return E_OUTOFMEMORY;
      std::memcpy(target, &copy, sizeof copy);
    } else if (features & FADF_VARIANT) {
      const HRESULT hr =
          VariantCopy(reinterpret_cast<VARIANT*>(target), reinterpret_cast<const VARIANT*>(source));
      if (FAILED(hr)) return hr;
    } else {
      IUnknown* unknown;
      std::memcpy(&unknown, source, sizeof unknown);
      if (unknown != nullptr) unknown->AddRef();
      std::memcpy(target, &unknown, sizeof unknown);
    }
  }
  return S_OK;
}

// The address of the element at `indices` (indices[0] = dimension 1, which
// varies fastest in memory).
HRESULT CellOf(SAFEARRAY* psa, const LONG* indices, unsigned char*& cell) {
  if (psa == nullptr || indices == nullptr) return E_INVALIDARG;
  std::uint64_t offset = 0;
  std::uint64_t stride = 1;
  for (UINT i = 0; i < psa->cDims; ++i) {
    const SAFEARRAYBOUND& bound = StoredBounds(psa)[psa->cDims - 1 - i];
    const std::int64_t relative = static_cast<std::int64_t>(indices[i]) - bound.lLbound;
    if (relative < 0 || relative >= static_cast<std::int64_t>(bound.cElements)) return DISP_E_BADINDEX;
    offset += static_cast<std::uint64_t>(relative) * stride;
    stride *= bound.cElements;
  }
  if (psa->pvData == nullptr) return E_UNEXPECTED;
  cell = static_cast<unsigned char*>(psa->pvData) + offset * psa->cbElements;
  return S_OK;
}

// Frees the elements and the data block.
void DestroyData(SAFEARRAY* psa) {
  if (psa->pvData == nullptr) return;
  ClearElements(psa->fFeatures, psa->cbElements, psa->pvData, ElementCount(psa));
  if (!(psa->fFeatures & kForeignStorage)) {
    CoTaskMemFree(psa->pvData);
    psa->pvData = nullptr;
  }
}

}  // namespace

SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, const SAFEARRAYBOUND* bounds) {
  const ULONG elementSize = xelo::com::VarTypeSize(vt);
  if (elementSize == 0 || bounds == nullptr || cDims == 0 || cDims > std::numeric_limits<USHORT>::max()) {
    return nullptr;
  }
  std::uint64_t count = 0;
  if (!CountElements(bounds, cDims, elementSize, count)) return nullptr;
  SAFEARRAY* psa = AllocateDescriptor(cDims);
  if (psa == nullptr) return nullptr;
  const std::size_t bytes = static_cast<std::size_t>(count * elementSize);
  psa->pvData = CoTaskMemAlloc(bytes);
  if (psa->pvData == nullptr) {
    FreeDescriptor(psa);
    return nullptr;
  }
  std::memset(psa->pvData, 0, bytes);
  psa->cDims = static_cast<USHORT>(cDims);
  psa->fFeatures = FeaturesOf(vt);
  psa->cbElements = elementSize;
  psa->cLocks = 0;
  for (UINT i = 0; i < cDims; ++i) StoredBounds(psa)[cDims - 1 - i] = bounds[i];
  const std::uint32_t storedType = vt;
  std::memcpy(PrefixOf(psa) + kPrefix - kVartypeOffset, &storedType, sizeof storedType);
  return psa;
}

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lowerBound, ULONG elements) {
  const SAFEARRAYBOUND bound{elements, lowerBound};
  return SafeArrayCreate(vt, 1, &bound);
}

HRESULT SafeArrayDestroy(SAFEARRAY* psa) {
  if (psa == nullptr) return S_OK;
  if (psa->cLocks > 0) return DISP_E_ARRAYISLOCKED;
  DestroyData(psa);
  if (!(psa->fFeatures & kForeignStorage)) FreeDescriptor(psa);
  return S_OK;
}

HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** copy) {
  if (copy == nullptr) return E_INVALIDARG;
  *copy = nullptr;
  if (psa == nullptr) return S_OK;
  SAFEARRAY* result = AllocateDescriptor(psa->cDims);
  if (result == nullptr) return E_OUTOFMEMORY;
  // The prefix carries the element type (or an IID); it belongs to the copy too.
  std::memcpy(PrefixOf(result), PrefixOf(psa), kPrefix);
  result->cDims = psa->cDims;
  result->fFeatures = static_cast<USHORT>(psa->fFeatures & ~kForeignStorage);
  result->cbElements = psa->cbElements;
  result->cLocks = 0;
  for (UINT i = 0; i < psa->cDims; ++i) StoredBounds(result)[i] = StoredBounds(psa)[i];
  if (psa->pvData != nullptr) {
    const std::uint64_t count = ElementCount(psa);
    const std::size_t bytes = static_cast<std::size_t>(count * psa->cbElements);
    result->pvData = CoTaskMemAlloc(bytes);
    if (result->pvData == nullptr) {
      FreeDescriptor(result);
      return E_OUTOFMEMORY;
    }
    std::memset(result->pvData, 0, bytes);
    const HRESULT hr = CopyElements(psa->fFeatures, psa->cbElements, psa->pvData, result->pvData, count);
    if (FAILED(hr)) {
      SafeArrayDestroy(result);
      return hr;
    }
  }
  *copy = result;
  return S_OK;
}

UINT SafeArrayGetDim(SAFEARRAY* psa) { return psa == nullptr ? 0 : psa->cDims; }

UINT SafeArrayGetElemsize(SAFEARRAY* psa) { return psa == nullptr ? 0 : psa->cbElements; }

HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* vt) {
  if (psa == nullptr || vt == nullptr) return E_INVALIDARG;
  const USHORT features = psa->fFeatures;
  if (features & FADF_HAVEVARTYPE) {
    std::uint32_t storedType;
    std::memcpy(&storedType, PrefixOf(psa) + kPrefix - kVartypeOffset, sizeof storedType);
    *vt = static_cast<VARTYPE>(storedType);
  } else if (features & FADF_RECORD) {
    *vt = VT_RECORD;
  } else if (features & FADF_BSTR) {
    *vt = VT_BSTR;
  } else if (features & FADF_VARIANT) {
    *vt = VT_VARIANT;
  } else if (features & FADF_DISPATCH) {
    *vt = VT_DISPATCH;
  } else if (features & (FADF_UNKNOWN | FADF_HAVEIID)) {
    *vt = VT_UNKNOWN;
  } else {
    return E_INVALIDARG;
  }
  return S_OK;
}

HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* lowerBound) {
  if (psa == nullptr || lowerBound == nullptr) return E_INVALIDARG;
  if (nDim == 0 || nDim > psa->cDims) return DISP_E_BADINDEX;
  *lowerBound = StoredBounds(psa)[psa->cDims - nDim].lLbound;
  return S_OK;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* upperBound) {
  if (psa == nullptr || upperBound == nullptr) return E_INVALIDARG;
  if (nDim == 0 || nDim > psa->cDims) return DISP_E_BADINDEX;
  const SAFEARRAYBOUND& bound = StoredBounds(psa)[psa->cDims - nDim];
  // Computed wide: lower bound + count - 1 may leave the LONG range, and an
  // empty dimension has its upper bound one below the lower.
  *upperBound = static_cast<LONG>(static_cast<std::int64_t>(bound.lLbound) + bound.cElements - 1);
  return S_OK;
}

HRESULT SafeArrayLock(SAFEARRAY* psa) {
  if (psa == nullptr) return E_INVALIDARG;
  if (psa->cLocks == std::numeric_limits<ULONG>::max()) return E_UNEXPECTED;
  ++psa->cLocks;
  return S_OK;
}

HRESULT SafeArrayUnlock(SAFEARRAY* psa) {
  if (psa == nullptr) return E_INVALIDARG;
  if (psa->cLocks == 0) return E_UNEXPECTED;
  --psa->cLocks;
  return S_OK;
}

HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** data) {
  if (psa == nullptr || data == nullptr) return E_INVALIDARG;
  const HRESULT hr = SafeArrayLock(psa);
  if (FAILED(hr)) return hr;
  *data = psa->pvData;
  return S_OK;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* psa) { return SafeArrayUnlock(psa); }

HRESULT SafeArrayGetElement(SAFEARRAY* psa, const LONG* indices, void* value) {
  if (value == nullptr) return E_INVALIDARG;
  unsigned char* cell = nullptr;
  HRESULT hr = CellOf(psa, indices, cell);
  if (FAILED(hr)) return hr;
  // Locked while we copy, so that a callback (an AddRef, say) cannot
  // destroy the array under our feet.
  SafeArrayLock(psa);
  const USHORT features = psa->fFeatures;
  if (features & FADF_BSTR) {
    BSTR text;
    std::memcpy(&text, cell, sizeof text);
    BSTR copy = nullptr;
    if (text != nullptr) {
      copy = CopyBstr(text);
      if (copy == nullptr) hr = E_OUTOFMEMORY;
    }
    if (SUCCEEDED(hr)) std::memcpy(value, &copy, sizeof copy);
  } else if (features & FADF_VARIANT) {
    auto* target = static_cast<VARIANT*>(value);
    VariantInit(target);
    hr = VariantCopy(target, reinterpret_cast<const VARIANT*>(cell));
  } else if (features & (FADF_UNKNOWN | FADF_DISPATCH)) {
    IUnknown* unknown;
    std::memcpy(&unknown, cell, sizeof unknown);
    if (unknown != nullptr) unknown->AddRef();
    std::memcpy(value, &unknown, sizeof unknown);
  } else {
    std::memcpy(value, cell, psa->cbElements);
  }
  SafeArrayUnlock(psa);
  return hr;
}

HRESULT SafeArrayPutElement(SAFEARRAY* psa, const LONG* indices, const void* value) {
  unsigned char* cell = nullptr;
  HRESULT hr = CellOf(psa, indices, cell);
  if (FAILED(hr)) return hr;
  const USHORT features = psa->fFeatures;
  // A null BSTR or interface is a legal element; every other kind needs a value.
  if (value == nullptr && !(features & (FADF_BSTR | FADF_UNKNOWN | FADF_DISPATCH))) return E_INVALIDARG;
  SafeArrayLock(psa);
  if (features & FADF_BSTR) {
    // The value is the BSTR itself.
    BSTR text = static_cast<BSTR>(const_cast<void*>(value));
    BSTR copy = nullptr;
    if (text != nullptr) {
      copy = CopyBstr(text);
      if (copy == nullptr) hr = E_OUTOFMEMORY;
    }
    if (SUCCEEDED(hr)) {
      BSTR old;
      std::memcpy(&old, cell, sizeof old);
      std::memcpy(cell, &copy, sizeof copy);
      SysFreeString(old);
    }
  } else if (features & FADF_VARIANT) {
    hr = VariantCopy(reinterpret_cast<VARIANT*>(cell), static_cast<const VARIANT*>(value));
  } else if (features & (FADF_UNKNOWN | FADF_DISPATCH)) {
    // The value is the interface pointer itself. AddRef before Release, so
    // that storing the element it already holds is harmless.
    auto* unknown = static_cast<IUnknown*>(const_cast<void*>(value));
    if (unknown != nullptr) unknown->AddRef();
    IUnknown* old;
    std::memcpy(&old, cell, sizeof old);
    std::memcpy(cell, &unknown, sizeof unknown);
    if (old != nullptr) old->Release();
  } else {
    std::memmove(cell, value, psa->cbElements);
  }
  SafeArrayUnlock(psa);
  return hr;
}

HRESULT SafeArrayPtrOfIndex(SAFEARRAY* psa, const LONG* indices, void** element) {
  if (element == nullptr) return E_INVALIDARG;
  unsigned char* cell = nullptr;
  const HRESULT hr = CellOf(psa, indices, cell);
  if (FAILED(hr)) return hr;
  *element = cell;
  return S_OK;
}

HRESULT SafeArrayRedim(SAFEARRAY* psa, const SAFEARRAYBOUND* newBound) {
  if (psa == nullptr || newBound == nullptr || psa->cDims == 0) return E_INVALIDARG;
  if (psa->cLocks > 0) return DISP_E_ARRAYISLOCKED;
  if (psa->fFeatures & (FADF_FIXEDSIZE | kForeignStorage)) return E_INVALIDARG;

  const std::uint64_t oldCount = ElementCount(psa);
  // The right-most dimension varies slowest, so the elements that stay are
  // a prefix of the data.
  std::uint64_t newCount = 0;
  if (!CountElements(StoredBounds(psa), psa->cDims, psa->cbElements, newCount, newBound)) return E_OUTOFMEMORY;
  if (newCount != oldCount) {
    const std::size_t newBytes = static_cast<std::size_t>(newCount * psa->cbElements);
    void* data = CoTaskMemAlloc(newBytes);
    if (data == nullptr) return E_OUTOFMEMORY;
    const std::uint64_t kept = newCount < oldCount ? newCount : oldCount;
    const std::size_t keptBytes = static_cast<std::size_t>(kept * psa->cbElements);
    if (keptBytes != 0) std::memcpy(data, psa->pvData, keptBytes);
    std::memset(static_cast<unsigned char*>(data) + keptBytes, 0, newBytes - keptBytes);
    if (newCount < oldCount) {
      ClearElements(psa->fFeatures, psa->cbElements,
                    static_cast<unsigned char*>(psa->pvData) + keptBytes, oldCount - newCount);
    }
    CoTaskMemFree(psa->pvData);
    psa->pvData = data;
  }
  StoredBounds(psa)[0] = *newBound;
  return S_OK;
}
