#include "xelo/core/XeloConnections.h"

#include "xelo/com/ComPtr.h"
#include "xelo/com/ConnectionPoints.h"
#include "xelo/com/DataTransfer.h"
#include "xelo/opc/OpcStreams.h"


namespace xelo {

namespace {

com::ComPtr<IConnectionPoint> FindPoint(IUnknown* source, REFIID iid) {
  if (source == nullptr) return nullptr;
  com::ComPtr<IConnectionPointContainer> container;
  if (FAILED(source->QueryInterface(IID_IConnectionPointContainer, container.PutVoid())) || !container) {
    return nullptr;
  }
  com::ComPtr<IConnectionPoint> point;
  if (FAILED(container->FindConnectionPoint(iid, point.Put()))) return nullptr;
  return point;
}

com::ComPtr<IDataObject> AsDataObject(IUnknown* source) {
  com::ComPtr<IDataObject> data;
  if (source == nullptr || FAILED(source->QueryInterface(IID_IDataObject, data.PutVoid()))) return nullptr;
  return data;
}

}  // namespace

HRESULT ConnectAdvise(IUnknown* source, REFIID iid, IUnknown* sink, DWORD& cookie) {
  const com::ComPtr<IConnectionPoint> point = FindPoint(source, iid);
  return point ? point->Advise(sink, &cookie) : E_FAIL;
}

HRESULT ConnectUnadvise(IUnknown* source, REFIID iid, DWORD cookie) {
  const com::ComPtr<IConnectionPoint> point = FindPoint(source, iid);
  return point ? point->Unadvise(cookie) : E_FAIL;
}

HRESULT DataAdvise(IUnknown* source, IAdviseSink* sink, DWORD& cookie) {
  const com::ComPtr<IDataObject> data = AsDataObject(source);
  if (!data) return E_FAIL;
  FORMATETC format{OPCSTMFORMATDATATIME, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
  cookie = 0;
  const HRESULT hr = data->DAdvise(&format, ADVF_PRIMEFIRST, sink, &cookie);
  if (FAILED(hr)) cookie = 0;
  return hr;
}

HRESULT DataUnadvise(IUnknown* source, DWORD cookie) {
  const com::ComPtr<IDataObject> data = AsDataObject(source);
  return data ? data->DUnadvise(cookie) : E_FAIL;
}

}  // namespace xelo
