#include "xelo/design/XeloProperty.h"

#include "xelo/dialogs/XeloInspectorDlg.h"

namespace xelo {

void TXeloProperty::Edit() {
  OPCExplorer(CheckedCast<TXeloServer>(GetComponent(0)));
  Modified();
}

}  // namespace xelo
