// Changing a VARIANT's type, arrays included.
//
// VariantChangeType of Windows (and of the portable back end, which behaves
// the same) turns an array only into a copy of itself: VT_ARRAY|VT_I4 to
// VT_ARRAY|VT_R8 is a type mismatch. OPC clients write arrays in whatever
// element type they hold and read them in the type they ask for, so both
// sides of the library convert arrays element by element through this.
#pragma once

#include "xelo/com/Variant.h"

namespace xelo::com {

// VariantChangeType's contract (`dest` may be `src`; on failure `dest` is
// left as it was) in the invariant locale, so that a text means the same
// number on every computer whatever its user's settings ('.' as the decimal
// point, and a text with a comma is no number); and an array of one element type becomes an array of
// another of the same dimensions and bounds. The first element that does
// not convert decides the code; the elements converted before it are
// freed. A null array stays null with the new type. An array whose
// descriptor does not fit its element type (element size) is E_INVALIDARG.
HRESULT ChangeVariantType(VARIANT* dest, const VARIANT* src, USHORT flags, VARTYPE vt);

}  // namespace xelo::com
