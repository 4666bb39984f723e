// Small helpers of the framework tests: the lines of a string list as a
// vector, for comparing in one expectation.
#pragma once

#include "xelo/framework/Strings.h"
#include "support/ExpectedError.h"

#include <string>
#include <vector>

namespace xelo::testing {

inline std::vector<std::string> LinesOf(const TStrings& strings) {
  std::vector<std::string> out;
  for (int i = 0; i < strings.GetCount(); ++i) out.push_back(strings.Get(i));
  return out;
}

}  // namespace xelo::testing
