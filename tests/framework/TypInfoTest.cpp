#include "StreamTestClasses.h"
#include "support/Expectations.h"

#include "xelo/framework/TypInfo.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace xelo::test {
namespace {

using xelo::testing::ExpectEachRaises;
using xelo::testing::MessageOf;

std::vector<std::string> Names(std::span<const TPropInfo* const> props) {
  std::vector<std::string> names;
  for (const TPropInfo* p : props) names.push_back(p->Name());
  return names;
}

TEST(MetaClass, ChainNamesInheritanceAndPropertiesInDeclarationOrderBaseFirst) {
  TClass cls = TTestChild::StaticClass();
  std::vector<TClass> chain;
  for (TClass c = cls; c != nullptr; c = c->ClassParent()) chain.push_back(c);
  EXPECT_EQ(chain, (std::vector<TClass>{cls, TTestComponent::StaticClass(), TComponent::StaticClass(),
                                        TPersistent::StaticClass()}));
  EXPECT_EQ((std::vector<bool>{cls->InheritsFrom(TPersistent::StaticClass()),
                               TTestComponent::StaticClass()->InheritsFrom(cls), cls->InheritsFrom(nullptr)}),
            (std::vector<bool>{true, false, false}));
  TTestChild child(nullptr);
  const TPersistent& asBase = child;
  EXPECT_EQ(asBase.ClassType(), cls);
  EXPECT_EQ(asBase.ClassName(), "TTestChild");
  EXPECT_FALSE(asBase.InheritsFrom(TCollection::StaticClass()));

  // Properties in declaration order, the base's first.
  EXPECT_EQ(Names(GetPropList(TComponent::StaticClass())), (std::vector<std::string>{"Name", "Tag"}));
  const std::vector<std::string> expected{"Name",     "Tag",      "Count",    "Small",   "Byte",
                                          "Flag",     "Color",    "Colors",   "Letter",  "Wide",
                                          "Ratio",    "Precise",  "Text",     "Big",     "Settings",
                                          "Entries",  "Buddy",    "ReadOnlyCount", "Hidden", "Maybe",
                                          "OnChange", "Data",     "Extra"};
  EXPECT_EQ(Names(GetPropList(TTestChild::StaticClass())), expected);
  const TPropInfo* extra = GetPropInfo(TTestChild::StaticClass(), "Extra");
  ASSERT_NE(extra, nullptr);
  EXPECT_EQ(extra->Index(), 22);
  EXPECT_EQ(extra->DeclaringClass(), cls);
  EXPECT_EQ(GetPropInfo(TTestChild::StaticClass(), "Tag")->DeclaringClass(), TComponent::StaticClass());
}

TEST(MetaClass, KindsBoundsDefaultsAndCaseInsensitiveLookup) {
  TTestComponent c(nullptr);
  struct Row {
    const char* name;
    TTypeKind kind;
  };
  const Row rows[] = {{"Tag", tkInteger},      {"Count", tkInteger},  {"Flag", tkEnumeration}, {"Color", tkEnumeration},
                      {"Colors", tkSet},       {"Letter", tkChar},    {"Wide", tkWChar},       {"Ratio", tkFloat},
                      {"Precise", tkFloat},    {"Text", tkString},    {"Big", tkInt64},        {"Settings", tkClass},
                      {"Entries", tkClass},    {"Buddy", tkClass},    {"OnChange", tkMethod},
                      {"Data", tkVariant}};
  for (const Row& r : rows) EXPECT_EQ(PropType(c, r.name), r.kind) << r.name;

  // The bounds and defaults the builder derives from the property's type.
  const TPropInfo& small = *GetPropInfo(c, "Small");
  EXPECT_EQ((std::vector<std::int64_t>{small.PropType().MinValue, small.PropType().MaxValue, small.DefaultValue()}),
            (std::vector<std::int64_t>{-32768, 32767, 5}));
  EXPECT_FALSE(GetPropInfo(c, "Byte")->HasDefault());
  EXPECT_EQ(GetPropInfo(c, "Wide")->PropType().MaxValue, 65535);
  EXPECT_EQ(GetPropInfo(c, "Ratio")->PropType().Float, FloatType::Single);
  EXPECT_EQ(GetPropInfo(c, "Entries")->PropType().ClassType(), TTestEntries::StaticClass());
  EXPECT_TRUE(GetPropInfo(c, "ReadOnlyCount")->IsReadOnly());
  EXPECT_TRUE(GetPropInfo(c, "Settings")->IsReadOnly());
  EXPECT_EQ(GetPropInfo(c, "uPdAtE"), nullptr);
  EXPECT_EQ(GetPropInfo(c, "settings"), GetPropInfo(c, "Settings"));
  EXPECT_TRUE(IsPublishedProp(c, "COUNT"));
  EXPECT_FALSE(IsPublishedProp(c, "Cont"));
  EXPECT_THROW(PropType(c, "Nope"), EPropertyError);
}

TEST(PropertyAccess, OrdinalsWithBoundsAndEnumerationsByName) {
  TTestComponent c(nullptr);
  SetOrdProp(c, "Count", -17);
  EXPECT_EQ(GetOrdProp(c, "Count"), -17);
  // Each end of the ranges goes in; a value past one is refused and changes nothing.
  SetOrdProp(c, "Byte", 255);
  SetOrdProp(c, "Small", -32768);
  SetOrdProp(c, "Letter", 0xE9);
  SetOrdProp(c, "Wide", 0x20AC);
  SetInt64Prop(c, "Big", std::numeric_limits<std::int64_t>::min());
  SetEnumProp(c, "Color", "TCGREEN");
  SetEnumProp(c, "Flag", "true");
  ExpectEachRaises<EPropertyError>({[&] { SetOrdProp(c, "Byte", 256); }, [&] { SetOrdProp(c, "Byte", -1); },
                                    [&] { SetOrdProp(c, "Small", 32768); },
                                    [&] { SetOrdProp(c, "Count", std::int64_t{1} << 31); },
                                    [&] { SetOrdProp(c, "Wide", 0x10000); }, [&] { GetOrdProp(c, "Text"); },
                                    [&] { SetOrdProp(c, "Ratio", 1); }, [&] { SetEnumProp(c, "Color", "tcPurple"); },
                                    [&] { SetOrdProp(c, "Color", 3); }, [&] { SetEnumProp(c, "Flag", "yes"); },
                                    [&] { SetEnumProp(c, "Count", "tcRed"); }});
  EXPECT_EQ(MessageOf<EPropertyError>([&] { SetOrdProp(c, "Byte", 300); }),
            "Value 300 is out of range for property Byte (0..255)");
  EXPECT_EQ((std::vector<int>{c.GetByte(), c.GetSmall(), static_cast<unsigned char>(c.GetLetter()), c.GetWide(), c.GetColor(), c.GetFlag()}),
            (std::vector<int>{255, -32768, 0xE9, 0x20AC, tcGreen, 1}));
  EXPECT_EQ(GetOrdProp(c, "Letter"), 0xE9);  // a char is 0..255, never negative
  EXPECT_EQ(GetInt64Prop(c, "Big"), std::numeric_limits<std::int64_t>::min());
  EXPECT_EQ(GetEnumProp(c, "Color") + GetEnumProp(c, "Flag"), "tcGreenTrue");
  EXPECT_EQ(GetEnumName(*TestColorType(), 3), "");
  EXPECT_EQ(GetEnumValue(*TestColorType(), "tcred"), 0);
  EXPECT_FALSE(GetEnumValue(*TestColorType(), "x").has_value());
}

TEST(PropertyAccess, SetsFloatsStringsAndReadOnly) {
  TTestComponent c(nullptr);
  SetSetProp(c, "Colors", "[tcRed, tcBlue]");
  EXPECT_EQ(c.GetColors(), (TTestColors{tcRed, tcBlue}));
  EXPECT_EQ(GetSetProp(c, "Colors"), "tcRed,tcBlue");
  EXPECT_EQ(GetSetProp(c, "Colors", true), "[tcRed,tcBlue]");
  SetSetProp(c, "Colors", "tcGreen");
  EXPECT_EQ(c.GetColors(), TTestColors{tcGreen});
  SetSetProp(c, "Colors", " tcblue , tcRed ");
  EXPECT_EQ(c.GetColors(), (TTestColors{tcRed, tcBlue}));
  SetSetProp(c, "Colors", "[]");
  EXPECT_TRUE(c.GetColors().Empty());
  SetFloatProp(c, "Ratio", 0.1);
  SetFloatProp(c, "Precise", 1e300);
  SetStrProp(c, "Text", "h\xC3\xA9llo");
  ExpectEachRaises<EPropertyError>({[&] { SetSetProp(c, "Colors", "[tcRed, tcPink]"); },
                                    [&] { SetSetProp(c, "Colors", "[tcRed"); },
                                    [&] { SetOrdProp(c, "Colors", 8); },  // bit 3 is no element
                                    [&] { SetFloatProp(c, "Ratio", 1e300); }, [&] { GetFloatProp(c, "Count"); },
                                    [&] { SetStrProp(c, "Count", "1"); }});
  EXPECT_TRUE(c.GetColors().Empty());
  EXPECT_EQ(c.GetRatio(), 0.1f);
  EXPECT_EQ(GetFloatProp(c, "Ratio"), static_cast<double>(0.1f));
  EXPECT_EQ(c.GetPrecise(), 1e300);
  EXPECT_EQ(GetStrProp(c, "text"), "h\xC3\xA9llo");

  EXPECT_EQ(GetOrdProp(c, "ReadOnlyCount"), 42);
  EXPECT_EQ(MessageOf<EPropertyError>([&] { SetOrdProp(c, "ReadOnlyCount", 1); }), "Property ReadOnlyCount is read-only");
  EXPECT_EQ(MessageOf<EPropertyError>([&] { SetOrdProp(c, "Nope", 1); }), "Property Nope does not exist");
}

TEST(PropertyAccess, ObjectsEventsAndForeignInstances) {
  TTestComponent c(nullptr);
  TTestComponent other(nullptr);
  EXPECT_EQ((std::vector<TPersistent*>{GetObjectProp(c, "Entries"), GetObjectProp(c, "Buddy")}),
            (std::vector<TPersistent*>{c.GetEntries(), nullptr}));
  SetObjectProp(c, "Buddy", &other);
  EXPECT_THROW(SetObjectProp(c, "Buddy", c.GetSettings()), EPropertyError);
  EXPECT_EQ(c.GetBuddy(), &other);
  SetObjectProp(c, "Buddy", nullptr);
  EXPECT_EQ(c.GetBuddy(), nullptr);
  EXPECT_THROW(SetObjectProp(c, "Settings", nullptr), EPropertyError);

  int calls = 0;
  std::function<void(TComponent*)> handler = [&](TComponent* sender) { calls += sender == &c ? 1 : 100; };
  const TPropInfo& onChange = *GetPropInfo(c, "OnChange");
  EXPECT_FALSE(IsMethodAssigned(c, onChange));
  SetMethodProp(c, onChange, handler);
  EXPECT_TRUE(IsMethodAssigned(c, onChange));
  c.GetOnChange()(&c);
  EXPECT_EQ(calls, 1);
  // Save, replace and restore the handler, as the GUI binding does.
  std::any saved = GetMethodProp(c, "OnChange");
  SetMethodProp(c, "OnChange", std::function<void(TComponent*)>([&](TComponent*) { calls += 10; }));
  c.GetOnChange()(&c);
  SetMethodProp(c, "OnChange", saved);
  c.GetOnChange()(&c);
  EXPECT_EQ(calls, 12);
  EXPECT_THROW(SetMethodProp(c, "OnChange", std::any(42)), EPropertyError);
  SetMethodProp(c, "OnChange", std::any());
  EXPECT_FALSE(IsMethodAssigned(c, onChange));

  // A property of TTestComponent used on an object of another class; the
  // default Assign names both classes.
  TTestSettings settings;
  TTestEntry entry(nullptr);
  EXPECT_EQ(MessageOf<EConvertError>([&] { settings.Assign(&entry); }), "Cannot assign a TTestEntry to a TTestSettings");
  EXPECT_EQ(MessageOf<EConvertError>([&] { settings.Assign(nullptr); }), "Cannot assign a nil to a TTestSettings");
  ExpectEachRaises<EPropertyError>({[&] { GetOrdProp(settings, *GetPropInfo(c, "Count")); },
                                    [&] { SetOrdProp(settings, *GetPropInfo(c, "Count"), 1); }});
  // ... but a derived instance is fine.
  TTestChild child(nullptr);
  SetOrdProp(child, *GetPropInfo(c, "Count"), 9);
  EXPECT_EQ(child.GetCount(), 9);
}

// A class that redeclares an inherited property with a new default.
class TTestRedeclared : public TTestComponent {
  XELO_CLASS(TTestRedeclared, TTestComponent)
 public:
  explicit TTestRedeclared(TComponent* owner) : TTestComponent(owner) {}
};
TClass TTestRedeclared::StaticClass() {
  static const TMetaClass meta = TClassBuilder<TTestRedeclared>("TTestRedeclared")
                                     .Integer("Count", &TTestRedeclared::GetCount, &TTestRedeclared::SetCount, Default(3))
                                     .Build();
  return &meta;
}

// A class whose declared default lies outside its enumeration.
class TTestBadDefault : public TPersistent {
  XELO_CLASS(TTestBadDefault, TPersistent)
 public:
  TTestColor GetColor() const { return tcRed; }
  void SetColor(TTestColor) {}
};
TClass TTestBadDefault::StaticClass() {
  static const TMetaClass meta = TClassBuilder<TTestBadDefault>("TTestBadDefault")
                                     .Enum("Color", &TTestBadDefault::GetColor, &TTestBadDefault::SetColor,
                                           TestColorType(), Default(static_cast<TTestColor>(3)))
                                     .Build();
  return &meta;
}

TEST(MetaClass, RedeclaredPropertyKeepsItsPlaceAndBuilderMistakesAreReported) {
  TClass cls = TTestRedeclared::StaticClass();
  const TPropInfo* count = GetPropInfo(cls, "Count");
  ASSERT_NE(count, nullptr);
  EXPECT_EQ(count->DeclaringClass(), cls);
  EXPECT_EQ(cls->Properties()[2], count);
  EXPECT_EQ((std::vector<std::int64_t>{count->Index(), static_cast<std::int64_t>(cls->Properties().size()), count->DefaultValue()}),
            (std::vector<std::int64_t>{2, static_cast<std::int64_t>(TTestComponent::StaticClass()->Properties().size()), 3}));
  ExpectEachRaises<std::invalid_argument>({[] { TTestBadDefault::StaticClass(); },
                                           [] { MakeEnumType("Dup", std::vector<std::string>{"a", "A"}); },
                                           [] { MakeEnumType("Bad", std::vector<std::string>{"1x"}); }});
}

// A different class that claims the name of a registered one.
class TTestImpostor : public TComponent {
  XELO_CLASS(TTestImpostor, TComponent)
 public:
  explicit TTestImpostor(TComponent* owner) : TComponent(owner) {}
};
TClass TTestImpostor::StaticClass() {
  static const TMetaClass meta = TClassBuilder<TTestImpostor>("TTestComponent").Build();
  return &meta;
}

TEST(ClassRegistry, FindCreateAndConflicts) {
  RegisterTestClasses();
  RegisterTestClasses();  // again: nothing happens
  EXPECT_EQ(MessageOf<EClassNotFound>([&] { FindClass("TNoSuchClass"); }), "Class TNoSuchClass not found");
  EXPECT_THROW(RegisterClass(TTestImpostor::StaticClass()), EInvalidOperation);  // the name is taken
  EXPECT_EQ((std::vector<TClass>{FindClass("ttestcomponent"), GetClass("TTestChild"), GetClass("TNoSuchClass")}),
            (std::vector<TClass>{TTestComponent::StaticClass(), TTestChild::StaticClass(), nullptr}));

  TTestComponent owner(nullptr);
  TComponent* made = FindClass("TTestChild")->CreateComponent(owner);
  EXPECT_EQ(made->ClassName(), "TTestChild");
  EXPECT_EQ(owner.GetComponent(0), made);
  EXPECT_EQ(TTestComponent::StaticClass()->CreateComponent()->GetOwner(), nullptr);
  EXPECT_THROW(TComponent::StaticClass()->CreateItem(*owner.GetEntries()), EInvalidOperation);
  TCollectionItem* item = TTestEntry::StaticClass()->CreateItem(*owner.GetEntries());
  EXPECT_EQ(owner.GetEntries()->GetItem(0), item);

  UnRegisterClass(TTestChild::StaticClass());
  EXPECT_EQ(GetClass("TTestChild"), nullptr);
  RegisterTestClasses();
}

}  // namespace
}  // namespace xelo::test
