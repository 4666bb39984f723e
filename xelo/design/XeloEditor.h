// The component editor of TXeloServer: its context menu in a form designer
// holds one entry, "OPC Inspector...", which opens the inspector on the
// component and then marks the form modified (the inspector changes the
// component itself: server name, groups, items).
//
// Main thread only.
#pragma once

#include "xelo/design/ComponentEditor.h"

namespace xelo {

class TXeloEditor : public TComponentEditor {
 public:
  using TComponentEditor::TComponentEditor;

  int GetVerbCount() const override { return 1; }
  std::string GetVerb(int index) const override;
  // Verb 0: EInvalidCast (nothing opened, nothing reported) when the
  // component is not a TXeloServer.
  void ExecuteVerb(int index) override;
};

}  // namespace xelo
