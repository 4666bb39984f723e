// The registry of control classes: for each Qt widget class, the property
// that receives an item's value by default and, optionally, a setter
// procedure that puts a value into the control in a way of its own
// (appending lines, ticking a box) instead of setting a property.
//
// Seven classes are registered before any binding exists, in this order:
//   QLineEdit "text", QLabel "text", QPlainTextEdit "lines" (SetMemoLines),
//   QPushButton "text", QCheckBox "checked" (SetCheckBoxChecked),
//   QRadioButton "checked" (SetRadioButtonChecked),
//   QListWidget "items" (SetListBoxItems).
// Applications register further classes or replace a setter with
// RegisterGUIControl. Main thread only; no lock.
#pragma once

#include "xelo/framework/Variant.h"

#include <QMetaObject>
#include <QWidget>

#include <memory>
#include <string>
#include <vector>

namespace xelo {

class TXeloServer;
class TXeloItem;

// Puts `Value` into `Control`; may throw (a value it cannot take).
using TGUISetProc = void (*)(QWidget* Control, const Variant& Value);

// One registration. A class is its QMetaObject (identity: the same class;
// "an instance of" it: QMetaObject::inherits).
struct tGUIRegControl {
  const QMetaObject* ControlClass = nullptr;
  std::string PropName;  // always lower case
  TGUISetProc SetProc = nullptr;
};

// The registrations in registration order.
const std::vector<std::unique_ptr<tGUIRegControl>>& GUIRegControls();

// Registers `ControlClass` with the lower-cased `PropName`: an existing
// entry of the same class (identity, not inheritance) and name gets the new
// setter in its place; otherwise a new entry is appended.
void RegisterGUIControl(const QMetaObject* ControlClass, const std::string& PropName, TGUISetProc SetProc);

// The setter of the first entry, in registration order, whose class the
// control is an instance of (or of a class derived from it) and whose name
// is `PropName` lower-cased; none without one (an entry's own setter may be
// none too).
TGUISetProc GetDefaultSetProc(const QWidget* Control, const std::string& PropName);

// The property name of the first entry whose class the control is an
// instance of: stored in `PropName`, true. False, `PropName` unchanged,
// when there is none. An entry for a base class registered earlier shadows
// one for a derived class registered later.
bool GetDefaultPropName(const QWidget* Control, std::string& PropName);

// The item `ItemID` of the group `GroupName` of `Server`, or null (no
// server, no such group, no such item).
TXeloItem* FindXeloItem(const TXeloServer* Server, const std::string& GroupName, const std::string& ItemID);

}  // namespace xelo
