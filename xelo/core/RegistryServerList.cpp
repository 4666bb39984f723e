#include "xelo/core/RegistryServerList.h"

#if XELO_COM_NATIVE
#include "xelo/com/ComObject.h"

namespace xelo {
namespace {

class RegistryServerList final : public com::ComObject<IOPCServerList> {
 public:
  explicit RegistryServerList(com::ComPtr<ICatInformation> categories) : categories_(std::move(categories)) {}

  STDMETHOD(EnumClassesOfCategories)(ULONG cImplemented, CATID rgcatidImpl[], ULONG cRequired, CATID rgcatidReq[],
                                     IEnumGUID** ppenumClsid) override {
    // To the enumerator no required categories means "whatever they
    // require"; to the categories manager that is (ULONG)-1, and 0 would
    // leave out every class that requires one.
    if (cRequired == 0) cRequired = static_cast<ULONG>(-1);
    return categories_->EnumClassesOfCategories(cImplemented, rgcatidImpl, cRequired, rgcatidReq, ppenumClsid);
  }

  STDMETHOD(GetClassDetails)(REFCLSID clsid, LPOLESTR* ppszProgID, LPOLESTR* ppszUserType) override {
    if (ppszProgID == nullptr || ppszUserType == nullptr) return E_INVALIDARG;
    *ppszProgID = nullptr;
    *ppszUserType = nullptr;
    HRESULT hr = ProgIDFromCLSID(clsid, ppszProgID);
    if (SUCCEEDED(hr)) hr = OleRegGetUserType(clsid, USERCLASSTYPE_FULL, ppszUserType);
    if (FAILED(hr)) {
      CoTaskMemFree(*ppszProgID);
      *ppszProgID = nullptr;
    }
    return hr;
  }

  STDMETHOD(CLSIDFromProgID)(LPCOLESTR szProgId, LPCLSID clsid) override {
    return ::CLSIDFromProgID(szProgId, clsid);
  }

 private:
  com::ComPtr<ICatInformation> categories_;
};

}  // namespace

HRESULT CreateRegistryServerList(com::ComPtr<IOPCServerList>& list) {
  com::ComPtr<ICatInformation> categories;
  const HRESULT hr = CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_ICatInformation, categories.PutVoid());
  if (FAILED(hr)) return hr;
  list = com::MakeComObject<RegistryServerList>(std::move(categories));
  return S_OK;
}

}  // namespace xelo
#endif
