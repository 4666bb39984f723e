// IClassFactory and a class factory built from a creation function.
#pragma once

#include "xelo/com/ComBackEnd.h"

#if XELO_COM_NATIVE
#include "xelo/com/WinTypes.h"  // Windows SDK
#else
#include "xelo/com/portable/ClassFactory.h"
#endif

#include "xelo/com/ComObject.h"

#include <functional>

namespace xelo::com {

// A factory whose CreateInstance calls `create` with the requested IID and
// the out-parameter (already cleared). Aggregation is refused with
// CLASS_E_NOAGGREGATION; an exception escaping `create` is answered with
// E_FAIL (or E_OUTOFMEMORY), never passed through the interface.
class FunctionClassFactory final : public ComObject<IClassFactory> {
 public:
  using CreateFunction = std::function<HRESULT(REFIID riid, void** ppvObject)>;
  explicit FunctionClassFactory(CreateFunction create);

  STDMETHOD(CreateInstance)(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) override;
  STDMETHOD(LockServer)(BOOL fLock) override;

  long LockCount() const { return locks_; }

 private:
  CreateFunction create_;
  long locks_ = 0;
};

// Creates an object of type Object (a ComObject) and hands out `riid`.
template <class Object>
ComPtr<IClassFactory> MakeClassFactory() {
  return MakeComObject<FunctionClassFactory>([](REFIID riid, void** out) {
    auto object = MakeComObject<Object>();
    return object->QueryInterface(riid, out);
  });
}

}  // namespace xelo::com

XELO_DECLARE_IID(IClassFactory);
