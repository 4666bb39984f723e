// What the com tests share: the headers they all use, reference-counted
// objects for checking that each reference is taken and given back, and
// VARIANT/DECIMAL builders.
#pragma once

#include "xelo/com/BStr.h"
#include "xelo/com/ComObject.h"
#include "xelo/com/SafeArray.h"
#include "xelo/com/TaskMemory.h"
#include "xelo/com/Variant.h"
#include "xelo/com/WideText.h"

#include "support/AllocationCheckedTest.h"
#include "support/NativeCom.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace xelo::test {

// An IDispatch that answers nothing but its reference count. Windows
// declares IDispatch's methods pure; they are never called here.
class CountedDispatch : public xelo::com::ComObject<IDispatch> {
 public:
  ULONG Refs() const { return RefCount(); }
#if XELO_COM_NATIVE
  STDMETHOD(GetTypeInfoCount)(UINT*) override { return E_NOTIMPL; }
  STDMETHOD(GetTypeInfo)(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHOD(GetIDsOfNames)(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHOD(Invoke)(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return E_NOTIMPL; }
#endif
};

// A base that tells the test when its object was destroyed.
struct DestroyFlag {
  bool* flag = nullptr;
  ~DestroyFlag() {
    if (flag != nullptr) *flag = true;
  }
};

// An object that answers IUnknown only, tells its count and when it is gone.
class CountedUnknown final : public xelo::com::ComObject<IUnknown>, DestroyFlag {
 public:
  explicit CountedUnknown(bool* destroyed = nullptr) : DestroyFlag{destroyed} {}
  ULONG Refs() const { return RefCount(); }
};

// A VARIANT of type vt whose pointer member (string, array, interface or
// reference: they share one slot) is p.
inline VARIANT PointerVariant(VARTYPE vt, void* p) {
  VARIANT v{};
  v.byref = p, v.vt = vt;
  return v;
}

// A DECIMAL built field by field: the SDK and the portable layer order the
// members of its unions differently, so brace initialisation would fill
// different fields on each.
inline DECIMAL DecimalOf(BYTE scale, BYTE sign, ULONG hi, ULONGLONG lo) {
  DECIMAL value{};
  value.scale = scale, value.sign = sign, value.Hi32 = hi, value.Lo64 = lo;
  return value;
}
// VARIANTs of a new string and of a DECIMAL.
inline VARIANT Str(const char* utf8) { return PointerVariant(VT_BSTR, xelo::com::AllocBstrUtf8(utf8)); }
inline VARIANT Dec(BYTE scale, bool negative, ULONG hi, ULONGLONG lo) {
  VARIANT v{};
  v.decVal = DecimalOf(scale, negative ? DECIMAL_NEG : BYTE{0}, hi, lo);
  v.vt = VT_DECIMAL;  // shares its bytes with the DECIMAL's reserved field
  return v;
}

// For the portable runtime's own versions of system functions.
class PortableAllocationTest : public AllocationCheckedTest {
 protected:
  void SetUp() override { XELO_ONLY_ON_PORTABLE_COM(); }
};

}  // namespace xelo::test
