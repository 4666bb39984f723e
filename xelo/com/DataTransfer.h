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

#include "xelo/com/ComPtr.h"
#include "xelo/com/GlobalMemory.h"
#include "xelo/com/Unknown.h"

#include <cstddef>
#include <mutex>
#include <vector>

// Interfaces this layer never implements; they appear only as pointer types
// in the declarations below.
struct IMoniker;
struct IStream;
struct IStorage;

// Handles of the window system's graphics objects. Nothing on this platform
// creates them; they exist so that STGMEDIUM has the SDK's member names.
struct HBITMAP__;
using HBITMAP = HBITMAP__*;
struct HMETAFILEPICT__;
using HMETAFILEPICT = HMETAFILEPICT__*;
struct HENHMETAFILE__;
using HENHMETAFILE = HENHMETAFILE__*;

inline constexpr IID IID_IEnumFORMATETC{0x00000103, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IEnumSTATDATA{0x00000105, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IDataObject{0x0000010E, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IAdviseSink{0x0000010F, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

inline constexpr DWORD DVASPECT_CONTENT = 1;
inline constexpr DWORD DVASPECT_THUMBNAIL = 2;
inline constexpr DWORD DVASPECT_ICON = 4;
inline constexpr DWORD DVASPECT_DOCPRINT = 8;

inline constexpr DWORD TYMED_NULL = 0;
inline constexpr DWORD TYMED_HGLOBAL = 1;
inline constexpr DWORD TYMED_FILE = 2;
inline constexpr DWORD TYMED_ISTREAM = 4;
inline constexpr DWORD TYMED_ISTORAGE = 8;
inline constexpr DWORD TYMED_GDI = 16;
inline constexpr DWORD TYMED_MFPICT = 32;
inline constexpr DWORD TYMED_ENHMF = 64;

inline constexpr DWORD ADVF_NODATA = 1;
inline constexpr DWORD ADVF_PRIMEFIRST = 2;
inline constexpr DWORD ADVF_ONLYONCE = 4;
inline constexpr DWORD ADVF_DATAONSTOP = 64;

inline constexpr DWORD DATADIR_GET = 1;
inline constexpr DWORD DATADIR_SET = 2;

// A device description of variable size: tdSize is the size of the whole
// block. The library never interprets it; it only copies tdSize bytes.
struct DVTARGETDEVICE {
  DWORD tdSize;
  WORD tdDriverNameOffset;
  WORD tdDeviceNameOffset;
  WORD tdPortNameOffset;
  WORD tdExtDevmodeOffset;
  BYTE tdData[1];
};

struct FORMATETC {
  CLIPFORMAT cfFormat;
  DVTARGETDEVICE* ptd;  // null = device independent (always so in OPC)
  DWORD dwAspect;       // one DVASPECT_ value
  LONG lindex;          // -1 = all of the data
  DWORD tymed;          // TYMED_ bits the receiver accepts
};
using LPFORMATETC = FORMATETC*;

struct STGMEDIUM {
  DWORD tymed;  // exactly one TYMED_ value, telling which member is set
  union {
    HBITMAP hBitmap;
    HMETAFILEPICT hMetaFilePict;
    HENHMETAFILE hEnhMetaFile;
    HGLOBAL hGlobal;
    LPOLESTR lpszFileName;
    IStream* pstm;
    IStorage* pstg;
  };
  // When set, releasing the medium means releasing this object (which owns
  // the data) instead of freeing the data.
  IUnknown* pUnkForRelease;
};
using LPSTGMEDIUM = STGMEDIUM*;

struct IAdviseSink;

struct STATDATA {
  FORMATETC formatetc;
  DWORD advf;
  IAdviseSink* pAdvSink;
  DWORD dwConnection;
};
using LPSTATDATA = STATDATA*;

struct IEnumFORMATETC : public IUnknown {
  STDMETHOD(Next)(ULONG celt, FORMATETC* rgelt, ULONG* pceltFetched) PURE;
  STDMETHOD(Skip)(ULONG celt) PURE;
  STDMETHOD(Reset)() PURE;
  STDMETHOD(Clone)(IEnumFORMATETC** ppenum) PURE;
};
using LPENUMFORMATETC = IEnumFORMATETC*;

struct IEnumSTATDATA : public IUnknown {
  STDMETHOD(Next)(ULONG celt, STATDATA* rgelt, ULONG* pceltFetched) PURE;
  STDMETHOD(Skip)(ULONG celt) PURE;
  STDMETHOD(Reset)() PURE;
  STDMETHOD(Clone)(IEnumSTATDATA** ppenum) PURE;
};
using LPENUMSTATDATA = IEnumSTATDATA*;

// Notifications are fire-and-forget: every method returns void, so a sink
// has no way to report failure and a server has nothing to check.
struct IAdviseSink : public IUnknown {
  STDMETHOD_(void, OnDataChange)(FORMATETC* pFormatetc, STGMEDIUM* pStgmed) PURE;
  STDMETHOD_(void, OnViewChange)(DWORD dwAspect, LONG lindex) PURE;
  STDMETHOD_(void, OnRename)(IMoniker* pmk) PURE;
  STDMETHOD_(void, OnSave)() PURE;
  STDMETHOD_(void, OnClose)() PURE;
};
using LPADVISESINK = IAdviseSink*;

struct IDataObject : public IUnknown {
  STDMETHOD(GetData)(FORMATETC* pformatetcIn, STGMEDIUM* pmedium) PURE;
  STDMETHOD(GetDataHere)(FORMATETC* pformatetc, STGMEDIUM* pmedium) PURE;
  STDMETHOD(QueryGetData)(FORMATETC* pformatetc) PURE;
  STDMETHOD(GetCanonicalFormatEtc)(FORMATETC* pformatectIn, FORMATETC* pformatetcOut) PURE;
  STDMETHOD(SetData)(FORMATETC* pformatetc, STGMEDIUM* pmedium, BOOL fRelease) PURE;
  STDMETHOD(EnumFormatEtc)(DWORD dwDirection, IEnumFORMATETC** ppenumFormatEtc) PURE;
  STDMETHOD(DAdvise)(FORMATETC* pformatetc, DWORD advf, IAdviseSink* pAdvSink, DWORD* pdwConnection) PURE;
  STDMETHOD(DUnadvise)(DWORD dwConnection) PURE;
  STDMETHOD(EnumDAdvise)(IEnumSTATDATA** ppenumAdvise) PURE;
};
using LPDATAOBJECT = IDataObject*;

XELO_DECLARE_IID(IEnumFORMATETC);
XELO_DECLARE_IID(IEnumSTATDATA);
XELO_DECLARE_IID(IAdviseSink);
XELO_DECLARE_IID(IDataObject);

static_assert(sizeof(void*) != 8 ||
              (sizeof(FORMATETC) == 32 && offsetof(FORMATETC, dwAspect) == 16 && offsetof(FORMATETC, tymed) == 24 &&
               sizeof(STGMEDIUM) == 24 && offsetof(STGMEDIUM, pUnkForRelease) == 16 && sizeof(STATDATA) == 56 &&
               offsetof(STATDATA, advf) == 32 && offsetof(STATDATA, pAdvSink) == 40 &&
               offsetof(STATDATA, dwConnection) == 48));

// Frees what a medium holds and leaves it empty (TYMED_NULL, all members
// null), so a second call does nothing. With pUnkForRelease set, that
// object is released instead and the data itself is left alone. Otherwise:
// TYMED_HGLOBAL and TYMED_MFPICT free the handle with GlobalFree;
// TYMED_FILE frees the file name with CoTaskMemFree (the file stays);
// TYMED_ISTREAM / TYMED_ISTORAGE release the interface; TYMED_GDI and
// TYMED_ENHMF have no graphics objects to delete here. Null is ignored.
void ReleaseStgMedium(STGMEDIUM* medium);

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

 private:
  bool IsOffered(const FORMATETC& format) const;

  mutable std::mutex mutex_;
  std::vector<FORMATETC> offered_;
  std::vector<Advise> advises_;
  DWORD lastConnection_ = 0;
};

}  // namespace xelo::com
