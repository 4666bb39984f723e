#include "xelo/design/XeloGUIEditor.h"

#include "xelo/design/Designer.h"
#include "xelo/dialogs/XeloGUIDlg.h"
#include "xelo/gui/XeloGUI.h"

namespace xelo {

std::string TxGUIEditor::GetVerb(int index) const {
  if (index == 0) return "OPC to GUI...";
  return TComponentEditor::GetVerb(index);
}

void TxGUIEditor::ExecuteVerb(int index) {
  if (index != 0) {
    TComponentEditor::ExecuteVerb(index);
    return;
  }
  xGUISelectControls(CheckedCast<TXeloGUI>(&GetComponent()));
  GetDesigner().Modified();
}

}  // namespace xelo
