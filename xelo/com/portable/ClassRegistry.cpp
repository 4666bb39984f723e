// The portable back end's ProgID lookups, answered from the classes
// registered in this process.
#include "xelo/com/ClassRegistry.h"

#include "xelo/com/TaskMemory.h"
#include "xelo/com/WideText.h"

HRESULT CLSIDFromProgID(LPCOLESTR progId, LPCLSID clsid) {
  if (clsid == nullptr) return E_POINTER;
  *clsid = CLSID_NULL;
  if (progId == nullptr) return E_INVALIDARG;
  const auto found = xelo::com::ClassRegistry::Instance().FindByProgId(xelo::com::ToUtf8(progId));
  if (!found) return CO_E_CLASSSTRING;
  *clsid = found->clsid;
  return S_OK;
}

HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* progId) {
  if (progId == nullptr) return E_POINTER;
  *progId = nullptr;
  const auto found = xelo::com::ClassRegistry::Instance().Find(clsid);
  if (!found) return REGDB_E_CLASSNOTREG;
  *progId = xelo::com::CoTaskMemStrDup(xelo::com::ToUtf16(found->progId));
  return *progId != nullptr ? S_OK : E_OUTOFMEMORY;
}
