// The control registry, the generic property setter and the setter
// procedures, on real Qt widgets.
#include "xelo/gui/ControlProperty.h"
#include "xelo/gui/ControlRegistry.h"

#include "xelo/core/Xelo.h"
#include "xelo/framework/Exceptions.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

// A widget with a property of every kind the binding knows, and one it
// does not (a colour).
class KindsWidget : public QWidget {
  Q_OBJECT
  Q_PROPERTY(QChar letter MEMBER letter)
  Q_PROPERTY(short small MEMBER small)
  Q_PROPERTY(uchar byte MEMBER byte)
  Q_PROPERTY(qint64 big MEMBER big)
  Q_PROPERTY(bool flag MEMBER flag)
  Q_PROPERTY(double real MEMBER real)
  Q_PROPERTY(QVariant any MEMBER any)
  Q_PROPERTY(QColor colour MEMBER colour)

 public:
  QChar letter;
  short small = 0;
  uchar byte = 0;
  qint64 big = 0;
  bool flag = true;
  double real = 0;
  QVariant any;
  QColor colour;
};

namespace {

using xelo::SetControlProperty;
using xelo::Variant;

void SetProperty(QWidget& control, const char* name, const Variant& value) {
  SetControlProperty(&control, xelo::qt::FindProperty(control, name), name, value);
}

class Derived : public QCheckBox {};

// Runs first in the program: later tests add registrations.
TEST(ControlRegistry, SevenStandardClassesInOrderAndTheFirstMatchWins) {
  const std::vector<std::pair<const QMetaObject*, std::string>> expected{
      {&QLineEdit::staticMetaObject, "text"},    {&QLabel::staticMetaObject, "text"},
      {&QPlainTextEdit::staticMetaObject, "lines"}, {&QPushButton::staticMetaObject, "text"},
      {&QCheckBox::staticMetaObject, "checked"}, {&QRadioButton::staticMetaObject, "checked"},
      {&QListWidget::staticMetaObject, "items"}};
  const auto& entries = xelo::GUIRegControls();
  ASSERT_EQ(entries.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(entries[i]->ControlClass, expected[i].first) << i;
    EXPECT_EQ(entries[i]->PropName, expected[i].second) << i;
  }
  QLineEdit edit;
  std::string name = "kept";
  EXPECT_TRUE(xelo::GetDefaultPropName(&edit, name));
  EXPECT_EQ(name, "text");
  QSlider slider;
  name = "kept";
  EXPECT_FALSE(xelo::GetDefaultPropName(&slider, name));
  EXPECT_EQ(name, "kept");
  Derived derived;  // an instance of a registered class's descendant
  EXPECT_TRUE(xelo::GetDefaultPropName(&derived, name));
  EXPECT_EQ(name, "checked");
  EXPECT_EQ(xelo::GetDefaultSetProc(&derived, "CHECKED"), xelo::SetCheckBoxChecked);
  EXPECT_EQ(xelo::GetDefaultSetProc(&edit, "text"), nullptr);
  EXPECT_EQ(xelo::GetDefaultSetProc(&slider, "value"), nullptr);
}

void OtherChecked(QWidget*, const Variant&) {}

TEST(ControlRegistry, RegisteringAgainReplacesTheSetterInPlaceAndANewNameAppends) {
  const std::size_t before = xelo::GUIRegControls().size();
  xelo::RegisterGUIControl(&QCheckBox::staticMetaObject, "Checked", OtherChecked);
  EXPECT_EQ(xelo::GUIRegControls().size(), before);
  EXPECT_EQ(xelo::GUIRegControls()[4]->SetProc, OtherChecked);
  QCheckBox box;
  EXPECT_EQ(xelo::GetDefaultSetProc(&box, "CHECKED"), OtherChecked);
  xelo::RegisterGUIControl(&QCheckBox::staticMetaObject, "checked", xelo::SetCheckBoxChecked);

  xelo::RegisterGUIControl(&QLineEdit::staticMetaObject, "PlaceholderText", nullptr);
  ASSERT_EQ(xelo::GUIRegControls().size(), before + 1);
  EXPECT_EQ(xelo::GUIRegControls().back()->PropName, "placeholdertext");
  QLineEdit edit;
  std::string name;
  EXPECT_TRUE(xelo::GetDefaultPropName(&edit, name));
  EXPECT_EQ(name, "text") << "the first registration of a class stays its default";
}

TEST(ControlRegistry, OrdinalsAreTruncatedThenClamped) {
  EXPECT_EQ(xelo::ClampOrdinal(Variant(250.7), 0, 100), 100);
  EXPECT_EQ(xelo::ClampOrdinal(Variant(-3.9), 0, 100), 0);
  EXPECT_EQ(xelo::ClampOrdinal(Variant(42.9), 0, 100), 42);
  EXPECT_EQ(xelo::ClampOrdinal(Variant(-42.9), -100, 100), -42);
  EXPECT_EQ(xelo::ClampOrdinal(Variant("12.9"), 0, 100), 12);
  EXPECT_EQ(xelo::ClampOrdinal(Variant(1e300), 0, 100), 100);
  EXPECT_EQ(xelo::ClampOrdinal(Variant(-1e300), std::numeric_limits<std::int64_t>::min(), 0),
            std::numeric_limits<std::int64_t>::min());
  EXPECT_EQ(xelo::ClampOrdinal(Variant(std::uint64_t{18446744073709551615u}), 0, 100), 100);
  EXPECT_THROW(xelo::ClampOrdinal(Variant("abc"), 0, 100), xelo::EConvertError);
  EXPECT_THROW(xelo::ClampOrdinal(Variant(std::nan("")), 0, 100), xelo::EConvertError);

  // A spin box of 0..100 takes what the clamp leaves and clamps the rest.
  QSpinBox spin;
  spin.setRange(0, 100);
  for (const auto& [value, shown] : {std::pair{250.7, 100}, {-3.9, 0}, {42.9, 42}}) {
    SetProperty(spin, "value", Variant(value));
    EXPECT_EQ(spin.value(), shown) << value;
  }
}

TEST(ControlRegistry, EveryPropertyKindIsSetAsItsTypeAllows) {
  KindsWidget w;
  SetProperty(w, "letter", Variant(65));
  EXPECT_EQ(w.letter, QChar(u'A'));
  SetProperty(w, "small", Variant(100000));
  EXPECT_EQ(w.small, 32767);
  SetProperty(w, "byte", Variant(-5));
  EXPECT_EQ(w.byte, 0);
  SetProperty(w, "big", Variant(std::int64_t{-9007199254740993}));
  EXPECT_EQ(w.big, -9007199254740993);
  SetProperty(w, "real", Variant("2.5"));
  EXPECT_EQ(w.real, 2.5);
  SetProperty(w, "any", Variant(std::int16_t{7}));
  EXPECT_EQ(w.any, QVariant(7));
  SetProperty(w, "colour", Variant("red"));
  EXPECT_FALSE(w.colour.isValid()) << "a kind the binding does not know is left alone";

  // A Boolean is the enumeration False, True: -1 (COM's true) clamps to False.
  SetProperty(w, "flag", Variant(true));
  EXPECT_FALSE(w.flag);
  SetProperty(w, "FLAG", Variant("TRUE"));  // names compare without regard to case
  EXPECT_TRUE(w.flag);
  QCheckBox box;
  SetProperty(box, "checked", Variant(-1));
  EXPECT_FALSE(box.isChecked());
  xelo::GetDefaultSetProc(&box, "checked")(&box, Variant(-1));
  EXPECT_TRUE(box.isChecked()) << "the check box's setter ticks for anything but 0";

  // Text for a label, also from a number.
  QLabel label;
  SetProperty(label, "text", Variant(2.5));
  EXPECT_EQ(label.text(), "2.5");

  // No metadata: nothing happens, nothing is raised.
  EXPECT_NO_THROW(SetControlProperty(&label, std::nullopt, "nosuch", Variant(1)));
  EXPECT_FALSE(xelo::qt::FindProperty(label, "nosuch"));
}

TEST(ControlRegistry, EnumerationsBySetNameAndOrdinalAndSetsByNamesOrMask) {
  QLineEdit edit;
  SetProperty(edit, "echoMode", Variant("Password"));
  EXPECT_EQ(edit.echoMode(), QLineEdit::Password);
  EXPECT_THROW(SetProperty(edit, "echoMode", Variant(OLESTR("NoEcho"))), xelo::EConvertError)
      << "an OLE string is read as a number";
  EXPECT_EQ(edit.echoMode(), QLineEdit::Password);
  SetProperty(edit, "echoMode", Variant(99));
  EXPECT_EQ(edit.echoMode(), QLineEdit::PasswordEchoOnEdit) << "clamped to the highest value";
  EXPECT_THROW(SetProperty(edit, "echoMode", Variant("Loud")), xelo::EPropertyError);

  QLabel label;
  SetProperty(label, "alignment", Variant(static_cast<std::int32_t>(Qt::AlignRight)));
  EXPECT_EQ(label.alignment(), Qt::AlignRight);
  SetProperty(label, "alignment", Variant("[AlignLeft,AlignTop]"));
  EXPECT_EQ(label.alignment(), Qt::AlignLeft | Qt::AlignTop);
  SetProperty(label, "alignment", Variant("AlignHCenter|AlignBottom"));
  EXPECT_EQ(label.alignment(), Qt::AlignHCenter | Qt::AlignBottom);
  EXPECT_THROW(SetProperty(label, "alignment", Variant("[AlignLeft,Sideways]")), xelo::EPropertyError);
  EXPECT_EQ(label.alignment(), Qt::AlignHCenter | Qt::AlignBottom);
}

TEST(ControlRegistry, MemoLinesListEntriesAndCheckedStatesFromTheirSetters) {
  QPlainTextEdit memo;
  const auto memoSetter = xelo::GetDefaultSetProc(&memo, "lines");
  ASSERT_EQ(memoSetter, xelo::SetMemoLines);
  for (const char* line : {"a", "b", "c"}) memoSetter(&memo, Variant(line));
  memoSetter(&memo, Variant());
  EXPECT_EQ(memo.toPlainText(), "a\nb\nc");
  memoSetter(&memo, Variant::Array(std::vector<int>{1, 2, 3}));
  EXPECT_EQ(memo.blockCount(), 6);
  EXPECT_EQ(memo.toPlainText(), "a\nb\nc\n1\n2\n3");

  QListWidget list;
  const auto listSetter = xelo::GetDefaultSetProc(&list, "items");
  listSetter(&list, Variant());
  listSetter(&list, Variant(3.5));
  ASSERT_EQ(list.count(), 2);
  EXPECT_EQ(list.item(0)->text(), "");
  EXPECT_EQ(list.item(1)->text(), "3.5");
  EXPECT_THROW(listSetter(&list, Variant::Array(std::vector<int>{1})), xelo::EConvertError);
  EXPECT_EQ(list.count(), 2);

  // Radio buttons follow the value, also when it unticks the checked one of
  // an exclusive group.
  QWidget group;
  QRadioButton first(&group);
  QRadioButton second(&group);
  const auto radioSetter = xelo::GetDefaultSetProc(&first, "checked");
  radioSetter(&first, Variant(1));
  EXPECT_TRUE(first.isChecked());
  radioSetter(&second, Variant("2"));
  EXPECT_TRUE(second.isChecked());
  EXPECT_FALSE(first.isChecked());
  radioSetter(&second, Variant(0));
  EXPECT_FALSE(second.isChecked());
  EXPECT_TRUE(second.autoExclusive());
}

TEST(ControlRegistry, FindXeloItemNeedsServerGroupAndItem) {
  xelo::TXeloServer server(nullptr);
  xelo::TXeloGroup* group = server.GetOPCGroups()->Add("Line 1");
  xelo::TXeloItem* item = group->GetOPCItems()->AddItem("Channel 1.Device 1.Ramp");
  EXPECT_EQ(xelo::FindXeloItem(nullptr, "Line 1", "Channel 1.Device 1.Ramp"), nullptr);
  EXPECT_EQ(xelo::FindXeloItem(&server, "Line 2", "Channel 1.Device 1.Ramp"), nullptr);
  EXPECT_EQ(xelo::FindXeloItem(&server, "Line 1", "Channel 1.Device 1.Sine"), nullptr);
  EXPECT_EQ(xelo::FindXeloItem(&server, "Line 1", "Channel 1.Device 1.Ramp"), item);
}

}  // namespace

#include "ControlRegistryTest.moc"
