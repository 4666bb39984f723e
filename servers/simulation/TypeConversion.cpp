#include "servers/simulation/TypeConversion.h"

#include "servers/simulation/OwnedVariant.h"
#include "xelo/com/BStr.h"

#include <cstring>
#include <initializer_list>

namespace xelo::sim {
namespace {

// A sample of type `vt` holding zero or `text`; VT_EMPTY when `vt` cannot
// be sampled.
OwnedVariant Sample(VARTYPE vt, com::OleStringView text) {
  if ((vt & VT_ARRAY) != 0) {
    const VARTYPE element = vt & VT_TYPEMASK;
    SAFEARRAY* array = SafeArrayCreateVector(element, 0, 1);
    if (array == nullptr) return {};
    if (element == VT_BSTR) {
      static_cast<BSTR*>(array->pvData)[0] = xelo::com::AllocBstr(text);
    }
    VARIANT v;
    VariantInit(&v);
    v.vt = vt;
    v.parray = array;
    OwnedVariant sample(v);
    VariantClear(&v);
    return sample;
  }
  if (vt == VT_BSTR) return OwnedVariant::Text(text);
  if (!xelo::com::IsValidVariantType(vt) || (vt & VT_BYREF) != 0 || vt == VT_DISPATCH || vt == VT_UNKNOWN ||
      vt == VT_VARIANT) {
    return {};
  }
  VARIANT v;
  std::memset(&v, 0, sizeof v);
  v.vt = vt;
  return OwnedVariant(v);
}

}  // namespace

bool TypeConversion::Convertible(VARTYPE from, VARTYPE to) {
  if (to == VT_EMPTY || to == from) return true;
  if (!xelo::com::IsValidVariantType(to)) return false;
  for (const com::OleStringView text : {OLESTR("0"), OLESTR("2000-01-01")}) {
    const OwnedVariant sample = Sample(from, text);
    if (sample.Type() == VT_EMPTY) return false;
    OwnedVariant converted;
    if (SUCCEEDED(sample.ConvertTo(to, converted))) return true;
    if ((from & VT_TYPEMASK) != VT_BSTR) break;
  }
  return false;
}

}  // namespace xelo::sim
