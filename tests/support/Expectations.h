// Helpers that turn a result into one value, for comparing the whole of it
// in one expectation: the lines of a string list, the message of an
// expected exception.
#pragma once

#include "xelo/framework/Strings.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace xelo::testing {

inline std::vector<std::string> LinesOf(const TStrings& strings) {
  std::vector<std::string> out;
  for (int i = 0; i < strings.GetCount(); ++i) out.push_back(strings.Get(i));
  return out;
}

// The message of the exception E that `call` raises; "" when it raises
// none (any other exception type goes through to the test). The library's
// exceptions give their whole Message(): what() ends at a NUL the text may
// hold.
template <class E, class Call>
std::string MessageOf(Call call) {
  try {
    call();
  } catch (const E& e) {
    if constexpr (requires { e.Message(); }) {
      return std::string(e.Message());
    } else {
      return e.what();
    }
  }
  return {};
}

// Expects each call to raise E (the failure names the call's index).
template <class E>
void ExpectEachRaises(const std::vector<std::function<void()>>& calls) {
  for (std::size_t i = 0; i < calls.size(); ++i) EXPECT_THROW(calls[i](), E) << "call " << i;
}

}  // namespace xelo::testing
