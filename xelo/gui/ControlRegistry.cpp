#include "xelo/gui/ControlRegistry.h"

#include "xelo/core/Xelo.h"
#include "xelo/framework/SysUtils.h"
#include "xelo/gui/ControlProperty.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>

namespace xelo {
namespace {

std::vector<std::unique_ptr<tGUIRegControl>>& Registry() {
  // The standard registrations exist before the first use of the registry,
  // that is, before any binding can ask.
  static std::vector<std::unique_ptr<tGUIRegControl>> registry = [] {
    std::vector<std::unique_ptr<tGUIRegControl>> standard;
    const tGUIRegControl entries[] = {
        {&QLineEdit::staticMetaObject, "text", nullptr},
        {&QLabel::staticMetaObject, "text", nullptr},
        {&QPlainTextEdit::staticMetaObject, "lines", SetMemoLines},
        {&QPushButton::staticMetaObject, "text", nullptr},
        {&QCheckBox::staticMetaObject, "checked", SetCheckBoxChecked},
        {&QRadioButton::staticMetaObject, "checked", SetRadioButtonChecked},
        {&QListWidget::staticMetaObject, "items", SetListBoxItems},
    };
    for (const tGUIRegControl& entry : entries) standard.push_back(std::make_unique<tGUIRegControl>(entry));
    return standard;
  }();
  return registry;
}

bool IsInstance(const QWidget* control, const QMetaObject* controlClass) {
  return control != nullptr && controlClass != nullptr && control->metaObject()->inherits(controlClass);
}

}  // namespace

const std::vector<std::unique_ptr<tGUIRegControl>>& GUIRegControls() { return Registry(); }

void RegisterGUIControl(const QMetaObject* ControlClass, const std::string& PropName, TGUISetProc SetProc) {
  const std::string name = LowerCase(PropName);
  auto& registry = Registry();
  tGUIRegControl* target = nullptr;
  for (const auto& entry : registry) {
    if (entry->ControlClass == ControlClass && entry->PropName == name) {
      target = entry.get();
      break;
    }
  }
  if (target == nullptr) target = registry.emplace_back(std::make_unique<tGUIRegControl>()).get();
  target->ControlClass = ControlClass;
  target->PropName = name;
  target->SetProc = SetProc;
}

TGUISetProc GetDefaultSetProc(const QWidget* Control, const std::string& PropName) {
  const std::string name = LowerCase(PropName);
  for (const auto& entry : Registry()) {
    if (IsInstance(Control, entry->ControlClass) && entry->PropName == name) return entry->SetProc;
  }
  return nullptr;
}

bool GetDefaultPropName(const QWidget* Control, std::string& PropName) {
  for (const auto& entry : Registry()) {
    if (IsInstance(Control, entry->ControlClass)) {
      PropName = entry->PropName;
      return true;
    }
  }
  return false;
}

TXeloItem* FindXeloItem(const TXeloServer* Server, const std::string& GroupName, const std::string& ItemID) {
  if (Server == nullptr) return nullptr;
  const TXeloGroup* group = Server->GetOPCGroups()->GetOPCGroup(GroupName);
  return group == nullptr ? nullptr : group->GetOPCItems()->LocateOPCItem(ItemID);
}

}  // namespace xelo
