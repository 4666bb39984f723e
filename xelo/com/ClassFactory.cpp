#include "xelo/com/ClassFactory.h"

#include <new>

namespace xelo::com {

FunctionClassFactory::FunctionClassFactory(CreateFunction create) : create_(std::move(create)) {}

HRESULT FunctionClassFactory::CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) {
  if (ppvObject == nullptr) return E_POINTER;
  *ppvObject = nullptr;
  if (pUnkOuter != nullptr) return CLASS_E_NOAGGREGATION;
  try {
    return create_(riid, ppvObject);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_FAIL;
  }
}

HRESULT FunctionClassFactory::LockServer(BOOL fLock) {
  locks_ += fLock ? 1 : -1;
  return S_OK;
}

}  // namespace xelo::com
