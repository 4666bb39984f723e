// VARIANT, the self-describing value of COM, with the SDK's layout: a type
// code, three reserved words and a 16-byte value union (24 bytes on a 64-bit
// platform). A DECIMAL overlays the whole VARIANT.
//
// Ownership: VariantClear frees what a VARIANT owns (BSTR, SAFEARRAY,
// interface reference); VariantCopy makes a deep copy. Values handed out
// through interfaces are cleared by the receiver.
#pragma once

#include "xelo/com/ComBackEnd.h"

#if XELO_COM_NATIVE
#include "xelo/com/WinTypes.h"  // Windows SDK
#else
#include "xelo/com/portable/Variant.h"
#endif

#include "xelo/com/Unknown.h"

namespace xelo::com {

// True when `vt` can stand in a VARIANT: the scalar types VT_EMPTY..VT_UINT
// (not VT_VARIANT on its own), VT_ARRAY| and VT_BYREF| of the same types
// except VT_EMPTY and VT_NULL, and VT_BYREF|VT_VARIANT, VT_ARRAY|VT_VARIANT.
// VT_RECORD is not supported by this layer; VT_VECTOR and VT_RESERVED are
// never valid.
bool IsValidVariantType(VARTYPE vt);

// Bytes one value of the scalar type `vt` occupies in memory (an array
// element, or what a VT_BYREF reference points at): 1, 2, 4 or 8 for the
// numbers, BOOL, ERROR, CY and DATE, a pointer for BSTR and interfaces,
// sizeof(VARIANT) and sizeof(DECIMAL); 0 for every other type code.
ULONG VarTypeSize(VARTYPE vt);

// Ends a conversion into `dest`: clears `dest`, then moves `result` into
// it. Converters call it only once the result is complete, so a failure
// leaves `dest` as it was, and a `dest` that is the source was read
// completely before it is cleared. When clearing fails, `result` is
// cleared instead and the code returned.
HRESULT ReplaceVariant(VARIANT* dest, VARIANT& result);

// Windows' SDK declares some arguments it only reads without const
// (VariantCopy's and VariantChangeType's source, the indices and value of
// the SAFEARRAY element functions); a const value is lent to them through
// this.
template <class T>
T* Lent(const T* value) {
  return const_cast<T*>(value);
}

}  // namespace xelo::com

XELO_DECLARE_IID(IDispatch);
