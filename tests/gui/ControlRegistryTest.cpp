// The control registry, the generic property setter and the setter
// procedures, on real Qt widgets.
#include "xelo/gui/ControlProperty.h"
#include "xelo/gui/ControlRegistry.h"

#include "support/QtScene.h"

#include "xelo/framework/Exceptions.h"

#include <QRadioButton>
#include <QSlider>

#include <cmath>
#include <limits>

// A widget with a property of every kind the binding knows, and one it
// does not (a colour).
class KindsWidget : public QWidget {
  Q_OBJECT
  Q_PROPERTY(QChar letter MEMBER letter)
  Q_PROPERTY(short small MEMBER small)
  Q_PROPERTY(uchar byte MEMBER byte)
  Q_PROPERTY(qint64 big MEMBER big)
  Q_PROPERTY(bool flag MEMBER flag)
  Q_PROPERTY(QVariant any MEMBER any)
  Q_PROPERTY(QColor colour MEMBER colour)

 public:
  QChar letter; QVariant any; QColor colour;
  short small = 0; uchar byte = 0; qint64 big = 0; bool flag = true;
};

namespace {

using xelo::Variant;

void SetProperty(QWidget& control, const char* name, const Variant& value) {
  xelo::SetControlProperty(&control, xelo::qt::FindProperty(control, name), name, value);
}

class Derived : public QCheckBox {};
void OtherChecked(QWidget*, const Variant&) {}

// Runs first in the program: it checks the standard registrations before
// it adds some.
TEST(ControlRegistry, SevenStandardClassesInOrderTheFirstMatchWinsAndRegisteringAgainReplaces) {
  std::vector<std::string> entries;
  for (const auto& entry : xelo::GUIRegControls())
    entries.push_back(std::string(entry->ControlClass->className()) + "." + entry->PropName);
  EXPECT_EQ(entries, (std::vector<std::string>{"QLineEdit.text", "QLabel.text", "QPlainTextEdit.lines",
                                               "QPushButton.text", "QCheckBox.checked", "QRadioButton.checked",
                                               "QListWidget.items"}));
  QSlider slider;
  Derived derived;  // an instance of a registered class's descendant
  std::string name = "kept";
  EXPECT_TRUE(!xelo::GetDefaultPropName(&slider, name) && xelo::GetDefaultSetProc(&slider, "value") == nullptr);
  EXPECT_TRUE(xelo::GetDefaultPropName(&derived, name) && name == "checked") << name;
  EXPECT_EQ(xelo::GetDefaultSetProc(&derived, "CHECKED"), xelo::SetCheckBoxChecked);

  // Again for a class and name: the setter is replaced in place.
  xelo::RegisterGUIControl(&QCheckBox::staticMetaObject, "Checked", OtherChecked);
  EXPECT_EQ(xelo::GUIRegControls().size(), entries.size());
  EXPECT_EQ(xelo::GetDefaultSetProc(&derived, "checked"), OtherChecked);
  xelo::RegisterGUIControl(&QCheckBox::staticMetaObject, "checked", xelo::SetCheckBoxChecked);
}

TEST(ControlRegistry, OrdinalsAreTruncatedThenClampedAndEveryPropertyKindAndSetterSetsAsItsTypeAllows) {
  constexpr auto kMin = std::numeric_limits<std::int64_t>::min();
  const std::tuple<Variant, std::int64_t, std::int64_t, std::int64_t> ordinals[] = {
      {Variant(250.7), 0, 100, 100}, {Variant(-42.9), -100, 100, -42}, {Variant("12.9"), 0, 100, 12},
      {Variant(-1e300), kMin, 0, kMin}, {Variant(std::uint64_t{18446744073709551615u}), 0, 100, 100}};
  for (const auto& [value, low, high, expected] : ordinals)
    EXPECT_EQ(xelo::ClampOrdinal(value, low, high), expected) << xelo::VarToStr(value);
  for (const Variant& bad : {Variant("abc"), Variant(std::nan(""))})
    EXPECT_THROW(xelo::ClampOrdinal(bad, 0, 100), xelo::EConvertError) << xelo::VarToStr(bad);
  // A spin box of 0..100 takes what the clamp leaves and clamps the rest.
  QSpinBox spin;
  spin.setRange(0, 100);
  std::vector<int> shown;
  for (double value : {250.7, -3.9, 42.9}) SetProperty(spin, "value", Variant(value)), shown.push_back(spin.value());
  EXPECT_EQ(shown, (std::vector<int>{100, 0, 42}));

  // A kind the binding does not know (colour) is left alone; a Boolean is
  // the enumeration False, True: -1 clamps to False.
  KindsWidget w;
  for (const auto& [name, value] : std::initializer_list<std::pair<const char*, Variant>>{
           {"letter", Variant(65)}, {"small", Variant(100000)}, {"byte", Variant(-5)},
           {"big", Variant(std::int64_t{-9007199254740993})}, {"any", Variant(std::int16_t{7})},
           {"colour", Variant("red")}, {"FLAG", Variant(true)}})
    SetProperty(w, name, value);
  EXPECT_EQ(std::tuple(w.letter, w.small, w.byte, w.big, w.any, w.colour.isValid(), w.flag),
            std::tuple(QChar(u'A'), short{32767}, uchar{0}, qint64{-9007199254740993}, QVariant(7), false, false));
  SetProperty(w, "flag", Variant("TRUE"));
  EXPECT_TRUE(w.flag);
  QLabel label;
  EXPECT_NO_THROW(xelo::SetControlProperty(&label, std::nullopt, "nosuch", Variant(1))) << "no metadata: nothing";

  // Enumerations by name or clamped ordinal, sets by names or mask; a name
  // the type does not have changes nothing.
  QLineEdit edit;
  SetProperty(edit, "echoMode", Variant("Password"));
  EXPECT_THROW(SetProperty(edit, "echoMode", Variant("Loud")), xelo::EPropertyError);
  EXPECT_EQ(edit.echoMode(), QLineEdit::Password);
  SetProperty(edit, "echoMode", Variant(99));
  EXPECT_EQ(edit.echoMode(), QLineEdit::PasswordEchoOnEdit) << "clamped to the highest value";
  SetProperty(label, "alignment", Variant(static_cast<std::int32_t>(Qt::AlignRight)));
  EXPECT_EQ(label.alignment(), Qt::AlignRight);
  SetProperty(label, "alignment", Variant("[AlignHCenter,AlignBottom]"));
  EXPECT_THROW(SetProperty(label, "alignment", Variant("[AlignLeft,Sideways]")), xelo::EPropertyError);
  EXPECT_EQ(label.alignment(), Qt::AlignHCenter | Qt::AlignBottom);

  // The setter procedures: a check box ticks for anything but 0, a memo
  // appends, radio buttons follow the value, also when it unticks the
  // checked one of an exclusive group.
  QCheckBox box;
  xelo::SetCheckBoxChecked(&box, Variant(-1));
  const bool ticked = box.isChecked();
  xelo::SetCheckBoxChecked(&box, Variant(0));
  EXPECT_EQ(std::pair(ticked, box.isChecked()), std::pair(true, false));
  QPlainTextEdit memo;
  for (const Variant& value : {Variant("a"), Variant(), Variant::Array(std::vector<int>{1, 2, 3})})
    xelo::GetDefaultSetProc(&memo, "lines")(&memo, value);
  EXPECT_EQ(memo.toPlainText(), "a\n1\n2\n3");
  QWidget group;
  QRadioButton first(&group), second(&group);
  first.setChecked(true);
  xelo::GetDefaultSetProc(&first, "checked")(&second, Variant("2"));
  EXPECT_TRUE(second.isChecked() && !first.isChecked());
}

}  // namespace

#include "ControlRegistryTest.moc"
