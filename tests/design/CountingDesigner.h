// A design host for editor tests: counts what the editors report.
#pragma once

#include "xelo/design/Designer.h"

namespace xelo::test {

struct CountingDesigner : IDesigner {
  void Modified() override { ++modified; }
  int modified = 0;
};

}  // namespace xelo::test
