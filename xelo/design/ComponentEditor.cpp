#include "xelo/design/ComponentEditor.h"

namespace xelo {

std::string TComponentEditor::GetVerb(int index) const {
  (void)index;
  return {};
}

void TComponentEditor::ExecuteVerb(int index) { (void)index; }

void TComponentEditor::Edit() {
  if (GetVerbCount() > 0) ExecuteVerb(0);
}

}  // namespace xelo
