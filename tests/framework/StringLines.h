// Small helpers of the framework tests: the lines of a string list as a
// vector, and the message of an expected exception, each for comparing in
// one expectation.
#pragma once

#include "xelo/framework/Strings.h"

#include <string>
#include <vector>

namespace xelo::testing {

inline std::vector<std::string> LinesOf(const TStrings& strings) {
  std::vector<std::string> out;
  for (int i = 0; i < strings.GetCount(); ++i) out.push_back(strings.Get(i));
  return out;
}

// The message of the exception of type E that `call` raises, or a marker
// when it raises none.
template <class E, class F>
std::string ErrorOf(F call) {
  try {
    call();
  } catch (const E& e) {
    return e.Message();
  }
  return "<not raised>";
}

}  // namespace xelo::testing
