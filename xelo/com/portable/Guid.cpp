// The portable back end's GUID texts: the SDK functions over the library's
// own formatting and parsing.
#include "xelo/com/Guid.h"

#include "xelo/com/ClassRegistry.h"
#include "xelo/com/TaskMemory.h"
#include "xelo/com/WideText.h"

namespace {

HRESULT AllocGuidString(REFGUID guid, LPOLESTR* text) {
  if (text == nullptr) return E_POINTER;
  *text = xelo::com::CoTaskMemStrDup(xelo::com::ToUtf16(xelo::com::GuidToString(guid)));
  return *text != nullptr ? S_OK : E_OUTOFMEMORY;
}

}  // namespace

int StringFromGUID2(REFGUID guid, LPOLESTR buffer, int cchMax) {
  if (buffer == nullptr || cchMax < 39) return 0;
  const std::string text = xelo::com::GuidToString(guid);
  for (std::size_t i = 0; i < text.size(); ++i) buffer[i] = static_cast<OLECHAR>(text[i]);
  buffer[text.size()] = 0;
  return 39;
}

HRESULT StringFromCLSID(REFCLSID clsid, LPOLESTR* text) {
  return AllocGuidString(clsid, text);
}

HRESULT StringFromIID(REFIID iid, LPOLESTR* text) { return AllocGuidString(iid, text); }

HRESULT CLSIDFromString(LPCOLESTR text, LPCLSID clsid) {
  if (clsid == nullptr) return E_POINTER;
  *clsid = CLSID_NULL;
  if (text == nullptr) return E_INVALIDARG;
  const xelo::com::OleStringView view(text);
  if (const auto guid = xelo::com::ParseGuid(view)) {
    *clsid = *guid;
    return S_OK;
  }
  if (!view.empty() && view.front() == OLESTR('{')) return CO_E_CLASSSTRING;
  return CLSIDFromProgID(text, clsid) == S_OK ? S_OK : CO_E_CLASSSTRING;
}

HRESULT IIDFromString(LPCOLESTR text, IID* iid) {
  if (iid == nullptr) return E_POINTER;
  *iid = IID_NULL;
  if (text == nullptr) return E_INVALIDARG;
  const auto guid = xelo::com::ParseGuid(xelo::com::OleStringView(text));
  if (!guid) return E_INVALIDARG;
  *iid = *guid;
  return S_OK;
}
