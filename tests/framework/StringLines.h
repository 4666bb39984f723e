// Small helpers of the framework tests: the lines of a string list as a
// vector, for comparing in one expectation.
#pragma once

#include "xelo/framework/Strings.h"
#include "support/ExpectedError.h"

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

// Expects each call to raise E (the failure names the call's index).
template <class E>
void ExpectEachRaises(const std::vector<std::function<void()>>& calls) {
  for (std::size_t i = 0; i < calls.size(); ++i) EXPECT_THROW(calls[i](), E) << "call " << i;
}

}  // namespace xelo::testing
