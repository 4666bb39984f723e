// The portable back end's declarations for xelo/com/DataTransfer.h, with the SDK's
// names, values and layouts; include that header, not this one.
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
