#include "xelo/design/XeloDesign.h"

#include "xelo/core/Xelo.h"
#include "xelo/design/DesignRegistry.h"
#include "xelo/design/XeloEditor.h"
#include "xelo/design/XeloGUIEditor.h"
#include "xelo/design/XeloProperty.h"
#include "xelo/gui/XeloGUI.h"

namespace xelo {
namespace {

void RegisterCore() { RegisterComponents("OPC", {TXeloServer::StaticClass(), TxeloServerBrowser::StaticClass()}); }

void RegisterGui() { RegisterComponents("OPC", {TXeloGUI::StaticClass()}); }

void RegisterInspectorEditors() {
  RegisterPropertyEditor(TXeloServer::StaticClass(), "ServerName",
                         [](std::vector<TPersistent*> components, const TPropInfo& prop, IDesigner& designer) {
                           return std::make_unique<TXeloProperty>(std::move(components), prop, designer);
                         });
  RegisterComponentEditor(TXeloServer::StaticClass(), [](TComponent& component, IDesigner& designer) {
    return std::make_unique<TXeloEditor>(component, designer);
  });
}

void RegisterBindingEditors() {
  RegisterComponentEditor(TXeloGUI::StaticClass(), [](TComponent& component, IDesigner& designer) {
    return std::make_unique<TxGUIEditor>(component, designer);
  });
}

}  // namespace

void RegisterXeloDesign() {
  // Components first, then the editors that serve them; a function-local
  // static, so that every design host may call this and it runs once.
  static const bool registered = [] {
    RegisterCore();
    RegisterGui();
    RegisterInspectorEditors();
    RegisterBindingEditors();
    return true;
  }();
  (void)registered;
}

}  // namespace xelo
