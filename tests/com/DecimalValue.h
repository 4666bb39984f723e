// A DECIMAL built field by field: the SDK and the portable layer order the
// members of its unions differently, so brace initialisation would fill
// different fields on each.
#pragma once

#include "xelo/com/Variant.h"

namespace xelo::test {

inline DECIMAL DecimalOf(BYTE scale, BYTE sign, ULONG hi, ULONGLONG lo) {
  DECIMAL value{};
  value.scale = scale;
  value.sign = sign;
  value.Hi32 = hi;
  value.Lo64 = lo;
  return value;
}

}  // namespace xelo::test
