#include "xelo/com/Variant.h"

#include <cstring>

namespace xelo::com {
namespace {

bool IsScalarBase(VARTYPE base) {
  return (base <= VT_DECIMAL && base != VT_VARIANT) || (base >= VT_I1 && base <= VT_UINT);
}

}  // namespace

HRESULT ReplaceVariant(VARIANT* dest, VARIANT& result) {
  const HRESULT hr = VariantClear(dest);
  if (FAILED(hr)) {
    VariantClear(&result);
    return hr;
  }
  std::memcpy(dest, &result, sizeof result);
  return S_OK;
}

bool IsValidVariantType(VARTYPE vt) {
  if (vt & (VT_VECTOR | VT_RESERVED)) return false;
  const auto base = static_cast<VARTYPE>(vt & VT_TYPEMASK);
  if (vt & (VT_ARRAY | VT_BYREF)) {
    return base != VT_EMPTY && base != VT_NULL && (base == VT_VARIANT || IsScalarBase(base));
  }
  return IsScalarBase(base);
}

ULONG VarTypeSize(VARTYPE vt) {
  switch (vt) {
    case VT_I1:
    case VT_UI1:
      return 1;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
      return 2;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_R4:
    case VT_ERROR:
      return 4;
    case VT_I8:
    case VT_UI8:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
      return 8;
    case VT_BSTR:
    case VT_UNKNOWN:
    case VT_DISPATCH:
      return sizeof(void*);
    case VT_VARIANT:
      return sizeof(VARIANT);
    case VT_DECIMAL:
      return sizeof(DECIMAL);
    default:
      return 0;
  }
}

}  // namespace xelo::com
