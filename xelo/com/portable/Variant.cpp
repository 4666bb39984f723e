// The portable back end's VARIANT functions.
#include "xelo/com/Variant.h"

#include "xelo/com/BStr.h"

#include <cstring>

namespace {

// A non-owning view of the value a valid VT_BYREF VARIANT refers to.
HRESULT Dereference(const VARIANT& src, VARIANT& view) {
  std::memset(&view, 0, sizeof view);
  if (src.byref == nullptr) return E_INVALIDARG;
  const auto target = static_cast<VARTYPE>(src.vt & ~VT_BYREF);
  if (target & VT_ARRAY) {
    view.parray = *src.pparray;
    view.vt = target;
    return S_OK;
  }
  switch (target) {
    case VT_VARIANT: {
      const VARIANT& inner = *src.pvarVal;
      if (!xelo::com::IsValidVariantType(inner.vt)) return DISP_E_BADVARTYPE;
      if (inner.vt & VT_BYREF) {
        // One more step for a reference to a value; a chain of variant
        // references is refused, as COM does.
        if ((inner.vt & VT_TYPEMASK) == VT_VARIANT) return E_INVALIDARG;
        return Dereference(inner, view);
      }
      std::memcpy(&view, &inner, sizeof view);
      return S_OK;
    }
    case VT_DECIMAL:
      view.decVal = *src.pdecVal;
      view.vt = VT_DECIMAL;  // after the value: the DECIMAL overlays the type field
      return S_OK;
    default:
      std::memcpy(&view.llVal, src.byref, xelo::com::VarTypeSize(target));
      view.vt = target;
      return S_OK;
  }
}

// A deep copy of a valid VARIANT into uninitialised `out`; VT_EMPTY on failure.
HRESULT CopyValue(const VARIANT& src, VARIANT& out) {
  std::memcpy(&out, &src, sizeof out);
  if (src.vt & VT_BYREF) return S_OK;
  if (src.vt & VT_ARRAY) {
    out.parray = nullptr;
    const HRESULT hr = SafeArrayCopy(src.parray, &out.parray);
    if (FAILED(hr)) VariantInit(&out);
    return hr;
  }
  switch (src.vt) {
    case VT_BSTR:
      if (src.bstrVal != nullptr) {
        // By bytes, so that odd lengths and embedded NULs survive.
        out.bstrVal = SysAllocStringByteLen(reinterpret_cast<const char*>(src.bstrVal), SysStringByteLen(src.bstrVal));
        if (out.bstrVal == nullptr) {
          VariantInit(&out);
          return E_OUTOFMEMORY;
        }
      }
      return S_OK;
    case VT_UNKNOWN:
    case VT_DISPATCH:
      if (src.punkVal != nullptr) src.punkVal->AddRef();
      return S_OK;
    default:
      return S_OK;
  }
}

// Puts a finished copy into `dest`. The copy is made first so that a source
// living inside `dest` (an element of its array, say) is still intact
// while it is read.
HRESULT StoreCopy(VARIANT* dest, VARIANT& copy, HRESULT copyResult) {
  if (FAILED(copyResult)) {
    VariantClear(dest);
    return copyResult;
  }
  const HRESULT hr = VariantClear(dest);
  if (FAILED(hr)) {
    VariantClear(&copy);
    return hr;
  }
  std::memcpy(dest, &copy, sizeof copy);
  return S_OK;
}

}  // namespace

void VariantInit(VARIANT* v) {
  if (v != nullptr) v->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANT* v) {
  if (v == nullptr) return E_INVALIDARG;
  if (!xelo::com::IsValidVariantType(v->vt)) return DISP_E_BADVARTYPE;
  if (!(v->vt & VT_BYREF)) {
    if (v->vt & VT_ARRAY) {
      const HRESULT hr = SafeArrayDestroy(v->parray);
      if (FAILED(hr)) return hr;
    } else if (v->vt == VT_BSTR) {
      SysFreeString(v->bstrVal);
    } else if (v->vt == VT_UNKNOWN || v->vt == VT_DISPATCH) {
      if (v->punkVal != nullptr) v->punkVal->Release();
    }
  }
  v->vt = VT_EMPTY;
  return S_OK;
}

HRESULT VariantCopy(VARIANT* dest, const VARIANT* src) {
  if (dest == nullptr || src == nullptr) return E_INVALIDARG;
  if (!xelo::com::IsValidVariantType(src->vt)) return DISP_E_BADVARTYPE;
  if (dest == src) return S_OK;
  VARIANT copy;
  const HRESULT hr = CopyValue(*src, copy);
  return StoreCopy(dest, copy, hr);
}

HRESULT VariantCopyInd(VARIANT* dest, const VARIANT* src) {
  if (dest == nullptr || src == nullptr) return E_INVALIDARG;
  if (!xelo::com::IsValidVariantType(src->vt)) return DISP_E_BADVARTYPE;
  if (!(src->vt & VT_BYREF)) return VariantCopy(dest, src);
  VARIANT view;
  HRESULT hr = Dereference(*src, view);
  if (FAILED(hr)) return hr;
  VARIANT copy;
  hr = CopyValue(view, copy);
  return StoreCopy(dest, copy, hr);
}
