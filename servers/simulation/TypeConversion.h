// Whether values of one VARTYPE can be converted to another, as the
// server's answer to requested data types (AddItems, SetDatatypes) and to
// the data type filter of browsing. A type pair is convertible when
// VariantChangeType converts a representative value of the source type
// (zero, or the texts "0" and "2000-01-01" for strings) into the target
// type; VT_EMPTY as the target means "the canonical type" and always
// converts.
#pragma once

#include "xelo/com/Variant.h"

namespace xelo::sim {

class TypeConversion {
 public:
  static bool Convertible(VARTYPE from, VARTYPE to);
};

}  // namespace xelo::sim
