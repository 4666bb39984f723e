// Uniform data transfer: FORMATETC, STGMEDIUM, STATDATA, IDataObject,
// IAdviseSink and their enumerators, with the SDK's IIDs, vtable order,
// layouts and constants; ReleaseStgMedium; and DataAdviseHolder, the
// advise bookkeeping that a server's IDataObject delegates to.
//
// OPC DA 1.0 groups deliver their data through this: the client advises an
// IAdviseSink for a registered clipboard format with TYMED_HGLOBAL, and the
// server calls OnDataChange with a medium it owns (the sink copies, never
// releases).
#pragma once

#include "xelo/com/ComBackEnd.h"

#if XELO_COM_NATIVE
#include "xelo/com/WinTypes.h"  // Windows SDK
#else
#include "xelo/com/portable/DataTransfer.h"
#endif

#include "xelo/com/Unknown.h"

#include "xelo/com/ComPtr.h"

#include <cstddef>
#include <mutex>
#include <vector>

namespace xelo::com {

// Deep copy of a FORMATETC for an out-parameter: a target device is
// duplicated with CoTaskMemAlloc (the receiver frees it with CoTaskMemFree).
// E_POINTER for null arguments, E_OUTOFMEMORY (with dest->ptd null).
HRESULT CopyFormatEtc(FORMATETC* dest, const FORMATETC* source) noexcept;

// The advise bookkeeping of an IDataObject: which sinks want which format.
//
// A server object owns one and forwards DAdvise, DUnadvise, EnumDAdvise
// (and, if it likes, QueryGetData and EnumFormatEtc) to it. When its data
// changes it asks for a snapshot of the advises of that format and calls
// each sink from the snapshot: the snapshot holds its own references, so a
// sink that unadvises (itself or others) inside OnDataChange is safe.
//
// Connection numbers start at 1 and are never reused during the holder's
// life. Thread-safe; no lock is held while a sink is released.
class DataAdviseHolder {
 public:
  struct Advise {
    FORMATETC format;  // as advised; ptd is always null
    DWORD advf;
    ComPtr<IAdviseSink> sink;
    DWORD connection;
  };

  // `offered` lists what the object can render: each entry's cfFormat, its
  // aspect bits and its TYMED_ bits. Target devices are ignored.
  explicit DataAdviseHolder(std::vector<FORMATETC> offered = {});
  ~DataAdviseHolder();
  DataAdviseHolder(const DataAdviseHolder&) = delete;
  DataAdviseHolder& operator=(const DataAdviseHolder&) = delete;

  void SetOfferedFormats(std::vector<FORMATETC> offered);

  // S_OK when some offered entry has the format's cfFormat, contains its
  // aspect and shares a TYMED_ bit with it; DV_E_FORMATETC when none does
  // or when a target device is given (we render device-independently
  // only); E_INVALIDARG for null. lindex is not checked: no format of ours
  // is split into pieces.
  HRESULT QueryGetData(const FORMATETC* format) const noexcept;

  // IDataObject::DAdvise. E_POINTER for a null out-parameter (which is set
  // to 0 first), E_INVALIDARG for a null format or sink, DV_E_FORMATETC as
  // QueryGetData. The sink is kept (AddRef) until DUnadvise or Clear.
  HRESULT DAdvise(const FORMATETC* format, DWORD advf, IAdviseSink* sink, DWORD* connection) noexcept;
  // OLE_E_NOCONNECTION for a number that is not advised.
  HRESULT DUnadvise(DWORD connection) noexcept;
  // An enumerator over a snapshot of the advises (STATDATA with AddRef'd
  // sinks). E_POINTER, E_OUTOFMEMORY.
  HRESULT EnumDAdvise(IEnumSTATDATA** enumerator) const noexcept;
  // DATADIR_GET: the offered formats; DATADIR_SET: E_NOTIMPL (our objects
  // take no data); other directions E_INVALIDARG.
  HRESULT EnumFormatEtc(DWORD direction, IEnumFORMATETC** enumerator) const noexcept;

  // Snapshots for calling sinks. May throw std::bad_alloc.
  std::vector<Advise> Advises() const;
  std::vector<Advise> AdvisesFor(CLIPFORMAT format) const;
  std::size_t Count() const;

  // Drops every advise (releasing the sinks), e.g. when the object closes.
  void Clear() noexcept;
  // Drops every advise without releasing its sink: the references go to
  // the caller (ConnectionPoint::TakeSinks says why).
  std::vector<ComPtr<IAdviseSink>> TakeSinks();

 private:
  bool IsOffered(const FORMATETC& format) const;

  mutable std::mutex mutex_;
  std::vector<FORMATETC> offered_;
  std::vector<Advise> advises_;
  DWORD lastConnection_ = 0;
};

}  // namespace xelo::com

XELO_DECLARE_IID(IEnumFORMATETC);
XELO_DECLARE_IID(IEnumSTATDATA);
XELO_DECLARE_IID(IAdviseSink);
XELO_DECLARE_IID(IDataObject);
