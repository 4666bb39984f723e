// The portable back end's declarations for xelo/com/SafeArray.h, with the SDK's
// names, values and layouts; include that header, not this one.
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
// Element types: VT_I1, VT_UI1, VT_I2, VT_UI2, VT_I4, VT_UI4, VT_I8, VT_UI8,
// VT_INT, VT_UINT, VT_R4, VT_R8, VT_CY, VT_DATE, VT_BSTR, VT_BOOL, VT_ERROR,
// VT_VARIANT, VT_UNKNOWN, VT_DISPATCH, VT_DECIMAL. The elements start zeroed
// (null BSTRs and interfaces, VT_EMPTY variants). The element type is kept
// in the four bytes before the descriptor (FADF_HAVEVARTYPE). Null for
// another element type, no dimensions, a null `bounds`, a data size beyond
// 32 bits (the sizes of a SAFEARRAY are ULONGs) or out of memory.
SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, const SAFEARRAYBOUND* bounds);
SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lowerBound, ULONG elements);
// Frees the elements (BSTRs, VARIANTs, interfaces), the data and the
// descriptor. DISP_E_ARRAYISLOCKED while locked; null is S_OK.
HRESULT SafeArrayDestroy(SAFEARRAY* psa);
// A deep copy with the same element type and bounds, unlocked. A null
// `psa` gives a null copy and S_OK; a null `copy` is E_INVALIDARG.
HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** copy);
// 0 for a null array.
UINT SafeArrayGetDim(SAFEARRAY* psa);
UINT SafeArrayGetElemsize(SAFEARRAY* psa);
// E_INVALIDARG for null arguments or an array that does not record its
// element type.
HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* vt);
// nDim counts from 1; DISP_E_BADINDEX when out of range.
HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* lowerBound);
HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* upperBound);
// A locked array can be neither destroyed nor resized. Unlock of an
// unlocked array is E_UNEXPECTED; null arrays are E_INVALIDARG.
HRESULT SafeArrayLock(SAFEARRAY* psa);
HRESULT SafeArrayUnlock(SAFEARRAY* psa);
// Locks the array and hands out its data; undo with SafeArrayUnaccessData.
HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** data);
HRESULT SafeArrayUnaccessData(SAFEARRAY* psa);
// indices[i] is the index in dimension i+1; DISP_E_BADINDEX when outside the
// bounds, E_INVALIDARG for null arguments. GetElement hands out a copy (BSTR
// copied, VARIANT deep-copied, interface AddRef'd) into `value`, which is
// treated as uninitialised: nothing in it is freed. PutElement stores a
// copy and frees the element it replaces. As in COM, `value` of PutElement
// is the BSTR or interface pointer itself for arrays of VT_BSTR, VT_UNKNOWN
// and VT_DISPATCH, and a pointer to the value (a VARIANT* for VT_VARIANT)
// for every other element type.
HRESULT SafeArrayGetElement(SAFEARRAY* psa, const LONG* indices, void* value);
HRESULT SafeArrayPutElement(SAFEARRAY* psa, const LONG* indices, const void* value);
// The address of an element inside the data, without locking or copying.
HRESULT SafeArrayPtrOfIndex(SAFEARRAY* psa, const LONG* indices, void** element);
// Changes the bounds of the right-most dimension (dimension cDims, stored in
// rgsabound[0]), as COM does, keeping the elements that remain in range and
// freeing those that fall out; new elements start zeroed. Elements keep
// their place in memory, so a new lower bound renumbers them. On failure the
// array is unchanged. DISP_E_ARRAYISLOCKED while locked, E_INVALIDARG for
// null arguments or a fixed-size array, E_OUTOFMEMORY when the new size
// does not fit.
HRESULT SafeArrayRedim(SAFEARRAY* psa, const SAFEARRAYBOUND* newBound);
