#include "xelo/com/VariantConversion.h"

#include "xelo/com/BStr.h"
#include "xelo/com/SafeArray.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace xelo::com {
namespace {

// A non-owning VARIANT view of one array element.
void LoadElement(VARTYPE vt, const unsigned char* cell, ULONG size, VARIANT& view) {
  std::memset(&view, 0, sizeof view);
  if (vt == VT_VARIANT) {
    std::memcpy(&view, cell, sizeof view);
  } else if (vt == VT_DECIMAL) {
    std::memcpy(&view.decVal, cell, sizeof(DECIMAL));
    view.vt = VT_DECIMAL;  // after the value: the DECIMAL overlays the type field
  } else {
    std::memcpy(&view.llVal, cell, size);
    view.vt = vt;
  }
}

// Moves an owned VARIANT of type `vt` into a zeroed element.
void StoreElement(VARTYPE vt, VARIANT& value, unsigned char* cell, ULONG size) {
  if (vt == VT_VARIANT) {
    std::memcpy(cell, &value, sizeof value);
  } else if (vt == VT_DECIMAL) {
    DECIMAL decimal = value.decVal;
    decimal.wReserved = 0;
    std::memcpy(cell, &decimal, sizeof decimal);
  } else {
    std::memcpy(cell, &value.llVal, size);
  }
}

bool IsNumber(VARTYPE vt) {
  switch (vt) {
    case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_I4: case VT_UI4: case VT_I8: case VT_UI8:
    case VT_INT: case VT_UINT: case VT_R4: case VT_R8: case VT_CY: case VT_DECIMAL: case VT_BOOL:
      return true;
    default:
      return false;
  }
}

// One value (not an array) in the invariant locale. Windows reads a ',' in
// a number as a thousands separator wherever it stands, so "1,5" typed with
// a decimal comma would become 15: a text with a comma is no number here.
HRESULT ConvertValue(VARIANT* dest, const VARIANT* src, USHORT flags, VARTYPE vt) {
  const BSTR* text = src->vt == VT_BSTR ? &src->bstrVal : src->vt == (VT_BYREF | VT_BSTR) ? src->pbstrVal : nullptr;
  if (text != nullptr && *text != nullptr && IsNumber(vt) && BstrView(*text).find(OLESTR(',')) != OleStringView::npos) {
    return DISP_E_TYPEMISMATCH;
  }
  return VariantChangeTypeEx(dest, Lent(src), LOCALE_INVARIANT, flags, vt);
}

// A new array of element type `to` with the shape of `input`, or null.
SAFEARRAY* CreateLike(SAFEARRAY* input, VARTYPE to) {
  const UINT dims = SafeArrayGetDim(input);
  std::vector<SAFEARRAYBOUND> bounds(dims);
  for (UINT d = 0; d < dims; ++d) {
    LONG lower = 0;
    LONG upper = 0;
    if (FAILED(SafeArrayGetLBound(input, d + 1, &lower)) || FAILED(SafeArrayGetUBound(input, d + 1, &upper))) {
      return nullptr;
    }
    bounds[d].lLbound = lower;
    bounds[d].cElements = static_cast<ULONG>(static_cast<std::int64_t>(upper) - lower + 1);
  }
  return SafeArrayCreate(to, dims, bounds.data());
}

std::uint64_t ElementCount(SAFEARRAY* array) {
  std::uint64_t count = 1;
  for (UINT d = 0; d < array->cDims; ++d) count *= array->rgsabound[d].cElements;
  return count;
}

// `src` holds an array of another element type than `vt`'s; `out` receives
// an owned value and is written only on success.
HRESULT ConvertArray(const VARIANT& src, VARTYPE vt, USHORT flags, VARIANT& out) {
  const auto from = static_cast<VARTYPE>(src.vt & VT_TYPEMASK);
  const auto to = static_cast<VARTYPE>(vt & VT_TYPEMASK);
  SAFEARRAY* input = src.parray;
  if (input == nullptr) {
    VariantInit(&out);
    out.vt = vt;
    out.parray = nullptr;
    return S_OK;
  }
  if (input->cDims == 0 || input->cbElements != VarTypeSize(from)) return E_INVALIDARG;
  SAFEARRAY* output = CreateLike(input, to);
  if (output == nullptr) return E_OUTOFMEMORY;
  void* inData = nullptr;
  void* outData = nullptr;
  HRESULT hr = SafeArrayAccessData(input, &inData);
  if (FAILED(hr)) {
    SafeArrayDestroy(output);
    return hr;
  }
  SafeArrayAccessData(output, &outData);  // new, so never locked
  const auto* inCell = static_cast<const unsigned char*>(inData);
  auto* outCell = static_cast<unsigned char*>(outData);
  const std::uint64_t count = ElementCount(input);
  for (std::uint64_t i = 0; i < count && SUCCEEDED(hr);
       ++i, inCell += input->cbElements, outCell += output->cbElements) {
    VARIANT view;
    LoadElement(from, inCell, input->cbElements, view);
    VARIANT converted;
    VariantInit(&converted);
    hr = to == VT_VARIANT ? VariantCopy(&converted, &view) : ConvertValue(&converted, &view, flags, to);
    if (SUCCEEDED(hr)) StoreElement(to, converted, outCell, output->cbElements);
  }
  SafeArrayUnaccessData(output);
  SafeArrayUnaccessData(input);
  if (FAILED(hr)) {
    SafeArrayDestroy(output);  // frees the elements converted so far
    return hr;
  }
  VariantInit(&out);
  out.vt = vt;
  out.parray = output;
  return S_OK;
}

}  // namespace

HRESULT ChangeVariantType(VARIANT* dest, const VARIANT* src, USHORT flags, VARTYPE vt) {
  if (dest == nullptr || src == nullptr) return E_INVALIDARG;
  const bool arrays = (src->vt & VT_ARRAY) != 0 && (vt & VT_ARRAY) != 0 && (vt & VT_BYREF) == 0;
  if (!arrays || (src->vt & ~VT_BYREF) == vt) return ConvertValue(dest, src, flags, vt);
  if (!IsValidVariantType(src->vt) || !IsValidVariantType(vt)) return DISP_E_BADVARTYPE;
  VARIANT result;
  HRESULT hr;
  if ((src->vt & VT_BYREF) != 0) {
    VARIANT value;
    VariantInit(&value);
    hr = VariantCopyInd(&value, Lent(src));
    if (FAILED(hr)) return hr;
    hr = ConvertArray(value, vt, flags, result);
    VariantClear(&value);
  } else {
    hr = ConvertArray(*src, vt, flags, result);
  }
  if (FAILED(hr)) return hr;
  return ReplaceVariant(dest, result);
}

}  // namespace xelo::com
