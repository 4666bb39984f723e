// The component editor of TXeloGUI: its context menu in a form designer
// holds one entry, "OPC to GUI...", which opens the binding table of the
// component's form and then marks the form modified (the table changes the
// bindings when it closes).
//
// Main thread only.
#pragma once

#include "xelo/design/ComponentEditor.h"

namespace xelo {

class TxGUIEditor : public TComponentEditor {
 public:
  using TComponentEditor::TComponentEditor;

  int GetVerbCount() const override { return 1; }
  std::string GetVerb(int index) const override;
  // Verb 0: EInvalidCast when the component is not a TXeloGUI. What the
  // table refuses ("first assign property opcserver", "only possible on
  // Forms") passes on, and the form is then not reported modified.
  void ExecuteVerb(int index) override;
};

}  // namespace xelo
