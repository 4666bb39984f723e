#include "servers/simulation/OwnedVariant.h"

#include "xelo/com/BStr.h"
#include "xelo/com/VariantConversion.h"

#include <cstring>
#include <new>
#include <utility>

namespace xelo::sim {
namespace {

void CopyOrThrow(VARIANT* dest, const VARIANT* src) {
  if (FAILED(VariantCopy(dest, com::Lent(src)))) throw std::bad_alloc();
}

}  // namespace

OwnedVariant::OwnedVariant(const VARIANT& value) {
  VariantInit(&v_);
  CopyOrThrow(&v_, &value);
}

OwnedVariant::OwnedVariant(const OwnedVariant& other) : OwnedVariant(other.v_) {}

OwnedVariant::OwnedVariant(OwnedVariant&& other) noexcept : v_(other.v_) { VariantInit(&other.v_); }

OwnedVariant& OwnedVariant::operator=(const OwnedVariant& other) {
  if (this != &other) CopyOrThrow(&v_, &other.v_);
  return *this;
}

OwnedVariant& OwnedVariant::operator=(OwnedVariant&& other) noexcept {
  if (this != &other) {
    VariantClear(&v_);
    v_ = other.v_;
    VariantInit(&other.v_);
  }
  return *this;
}

template <class Store>
OwnedVariant OwnedVariant::Scalar(VARTYPE vt, Store store) {
  OwnedVariant v;
  store(v.v_);
  v.v_.vt = vt;
  return v;
}

OwnedVariant OwnedVariant::I2(SHORT value) {
  return Scalar(VT_I2, [&](VARIANT& v) { v.iVal = value; });
}
OwnedVariant OwnedVariant::I4(LONG value) {
  return Scalar(VT_I4, [&](VARIANT& v) { v.lVal = value; });
}
OwnedVariant OwnedVariant::UI4(ULONG value) {
  return Scalar(VT_UI4, [&](VARIANT& v) { v.ulVal = value; });
}
OwnedVariant OwnedVariant::R4(FLOAT value) {
  return Scalar(VT_R4, [&](VARIANT& v) { v.fltVal = value; });
}
OwnedVariant OwnedVariant::R8(DOUBLE value) {
  return Scalar(VT_R8, [&](VARIANT& v) { v.dblVal = value; });
}
OwnedVariant OwnedVariant::Bool(bool value) {
  return Scalar(VT_BOOL, [&](VARIANT& v) { v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE; });
}
OwnedVariant OwnedVariant::Date(DATE value) {
  return Scalar(VT_DATE, [&](VARIANT& v) { v.date = value; });
}

OwnedVariant OwnedVariant::Text(com::OleStringView value) {
  OwnedVariant v;
  BSTR text = xelo::com::AllocBstr(value);
  if (text == nullptr) throw std::bad_alloc();
  v.v_.vt = VT_BSTR;
  v.v_.bstrVal = text;
  return v;
}

OwnedVariant OwnedVariant::R8Array(const std::vector<double>& values) {
  OwnedVariant v;
  SAFEARRAY* array = SafeArrayCreateVector(VT_R8, 0, static_cast<ULONG>(values.size()));
  if (array == nullptr) throw std::bad_alloc();
  if (!values.empty()) std::memcpy(array->pvData, values.data(), values.size() * sizeof(double));
  v.v_.vt = VT_ARRAY | VT_R8;
  v.v_.parray = array;
  return v;
}

HRESULT OwnedVariant::CopyTo(VARIANT* out) const noexcept {
  VariantInit(out);
  return VariantCopy(out, com::Lent(&v_));
}

HRESULT OwnedVariant::ConvertTo(VARTYPE vt, OwnedVariant& out) const {
  if (vt == VT_EMPTY || vt == v_.vt) {
    out = *this;
    return S_OK;
  }
  OwnedVariant converted;
  const HRESULT hr = com::ChangeVariantType(&converted.v_, &v_, 0, vt);
  if (FAILED(hr)) return hr;
  out = std::move(converted);
  return S_OK;
}

bool OwnedVariant::Equals(const OwnedVariant& other) const {
  const VARIANT& a = v_;
  const VARIANT& b = other.v_;
  if (a.vt != b.vt) return false;
  if (a.vt == VT_BSTR) return xelo::com::BstrView(a.bstrVal) == xelo::com::BstrView(b.bstrVal);
  if ((a.vt & VT_ARRAY) != 0) {
    SAFEARRAY* x = a.parray;
    SAFEARRAY* y = b.parray;
    if (x == nullptr || y == nullptr) return x == y;
    if (x->cDims != 1 || y->cDims != 1) return false;
    if (x->rgsabound[0].cElements != y->rgsabound[0].cElements ||
        x->rgsabound[0].lLbound != y->rgsabound[0].lLbound || x->cbElements != y->cbElements) {
      return false;
    }
    const ULONG count = x->rgsabound[0].cElements;
    if ((a.vt & VT_TYPEMASK) == VT_BSTR) {
      auto* xs = static_cast<BSTR*>(x->pvData);
      auto* ys = static_cast<BSTR*>(y->pvData);
      for (ULONG i = 0; i < count; ++i) {
        if (xelo::com::BstrView(xs[i]) != xelo::com::BstrView(ys[i])) return false;
      }
      return true;
    }
    if ((a.vt & VT_TYPEMASK) == VT_VARIANT) {
      auto* xs = static_cast<VARIANT*>(x->pvData);
      auto* ys = static_cast<VARIANT*>(y->pvData);
      for (ULONG i = 0; i < count; ++i) {
        if (!OwnedVariant(xs[i]).Equals(OwnedVariant(ys[i]))) return false;
      }
      return true;
    }
    return std::memcmp(x->pvData, y->pvData, static_cast<std::size_t>(count) * x->cbElements) == 0;
  }
  switch (a.vt) {
    case VT_EMPTY:
    case VT_NULL:
      return true;
    case VT_I1:
    case VT_UI1:
      return a.bVal == b.bVal;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
      return a.iVal == b.iVal;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_ERROR:
      return a.lVal == b.lVal;
    case VT_R4:
      return a.fltVal == b.fltVal;
    case VT_R8:
    case VT_DATE:
      return a.dblVal == b.dblVal;
    default:
      return a.llVal == b.llVal;
  }
}

std::optional<double> OwnedVariant::AsDouble() const {
  if ((v_.vt & VT_ARRAY) != 0 || v_.vt == VT_BSTR || v_.vt == VT_EMPTY) return std::nullopt;
  VARIANT converted;
  VariantInit(&converted);
  if (FAILED(VariantChangeType(&converted, com::Lent(&v_), 0, VT_R8))) return std::nullopt;
  return converted.dblVal;
}

}  // namespace xelo::sim
