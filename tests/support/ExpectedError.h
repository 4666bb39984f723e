// The message of the exception a call is expected to raise, for comparing
// the whole text in one expectation.
#pragma once

#include <string>

namespace xelo::testing {

// The what() of the exception E that `call` raises; "" when it raises none
// (any other exception type goes through to the test).
template <class E, class Call>
std::string MessageOf(Call call) {
  try {
    call();
  } catch (const E& e) {
    return e.what();
  }
  return {};
}

}  // namespace xelo::testing
