// SAFEARRAY: a self-describing array of one or more dimensions with any
// lower bounds, laid out as in the SDK. Descriptor and data come from the
// task allocator. Dimensions are numbered from 1 (the left-most); the
// descriptor stores their bounds in reverse order, and elements are laid out
// with the left-most index varying fastest.
#pragma once

#include "xelo/com/Guid.h"
#include "xelo/com/WinTypes.h"

struct SAFEARRAYBOUND {
  ULONG cElements;
  LONG lLbound;
};

struct SAFEARRAY {
  USHORT cDims;
  USHORT fFeatures;
  ULONG cbElements;
  ULONG cLocks;
  void* pvData;
  SAFEARRAYBOUND rgsabound[1];
};
using LPSAFEARRAY = SAFEARRAY*;

static_assert(sizeof(SAFEARRAY) == (sizeof(void*) == 8 ? 32 : 24));

inline constexpr USHORT FADF_AUTO = 0x0001;
inline constexpr USHORT FADF_STATIC = 0x0002;
inline constexpr USHORT FADF_EMBEDDED = 0x0004;
inline constexpr USHORT FADF_FIXEDSIZE = 0x0010;
inline constexpr USHORT FADF_RECORD = 0x0020;
inline constexpr USHORT FADF_HAVEIID = 0x0040;
inline constexpr USHORT FADF_HAVEVARTYPE = 0x0080;
inline constexpr USHORT FADF_BSTR = 0x0100;
inline constexpr USHORT FADF_UNKNOWN = 0x0200;
inline constexpr USHORT FADF_DISPATCH = 0x0400;
inline constexpr USHORT FADF_VARIANT = 0x0800;

// `bounds` lists the dimensions left to right (bounds[0] = dimension 1).
// Null for an element type that cannot be stored in an array, no dimensions
// or out of memory.
SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, const SAFEARRAYBOUND* bounds);
SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lowerBound, ULONG elements);
// Frees the elements (BSTRs, VARIANTs, interfaces), the data and the
// descriptor. DISP_E_ARRAYISLOCKED while locked; null is S_OK.
HRESULT SafeArrayDestroy(SAFEARRAY* psa);
HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** copy);
UINT SafeArrayGetDim(SAFEARRAY* psa);
UINT SafeArrayGetElemsize(SAFEARRAY* psa);
HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* vt);
// nDim counts from 1; DISP_E_BADINDEX when out of range.
HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* lowerBound);
HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* upperBound);
HRESULT SafeArrayLock(SAFEARRAY* psa);
HRESULT SafeArrayUnlock(SAFEARRAY* psa);
HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** data);
HRESULT SafeArrayUnaccessData(SAFEARRAY* psa);
// indices[i] is the index in dimension i+1; DISP_E_BADINDEX when outside the
// bounds. GetElement hands out a copy (BSTR copied, VARIANT deep-copied,
// interface AddRef'd); PutElement stores a copy.
HRESULT SafeArrayGetElement(SAFEARRAY* psa, const LONG* indices, void* value);
HRESULT SafeArrayPutElement(SAFEARRAY* psa, const LONG* indices, const void* value);
HRESULT SafeArrayPtrOfIndex(SAFEARRAY* psa, const LONG* indices, void** element);
// Changes the bounds of the right-most dimension (dimension cDims, stored in
// rgsabound[0]), as COM does, keeping the elements that remain in range and
// freeing those that fall out. DISP_E_ARRAYISLOCKED while locked.
HRESULT SafeArrayRedim(SAFEARRAY* psa, const SAFEARRAYBOUND* newBound);
