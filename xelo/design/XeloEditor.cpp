#include "xelo/design/XeloEditor.h"

#include "xelo/design/Designer.h"
#include "xelo/dialogs/XeloInspectorDlg.h"

namespace xelo {

std::string TXeloEditor::GetVerb(int index) const {
  if (index == 0) return "OPC Inspector...";
  return TComponentEditor::GetVerb(index);
}

void TXeloEditor::ExecuteVerb(int index) {
  if (index != 0) {
    TComponentEditor::ExecuteVerb(index);
    return;
  }
  OPCExplorer(CheckedCast<TXeloServer>(&GetComponent()));
  GetDesigner().Modified();
}

}  // namespace xelo
