// Reference-counted objects for the tests that hand interfaces to variants
// and arrays and check that each reference is taken and given back.
#pragma once

#include "xelo/com/ComObject.h"
#include "xelo/com/Variant.h"

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
  STDMETHOD(Invoke)(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }
#endif
};

// A VARIANT of type vt whose pointer member (string, array, interface or
// reference: they share one slot) is p.
inline VARIANT PointerVariant(VARTYPE vt, void* p) {
  VARIANT v{};
  v.byref = p;
  v.vt = vt;
  return v;
}

class CountedUnknown : public xelo::com::ComObject<IUnknown> {
 public:
  ULONG Refs() const { return RefCount(); }
};

// A member that tells the test when its object was destroyed.
struct DestroyFlag {
  bool* flag = nullptr;
  ~DestroyFlag() {
    if (flag != nullptr) *flag = true;
  }
};

// An object that answers IUnknown only and tells when it is gone.
class FlaggedUnknown final : public xelo::com::ComObject<IUnknown> {
 public:
  explicit FlaggedUnknown(bool* destroyed) : gone_{destroyed} {}

 private:
  DestroyFlag gone_;
};

}  // namespace xelo::test
