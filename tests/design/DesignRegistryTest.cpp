// The design-time registry on classes of its own: palette pages and their
// order, creation for design, editor lookup through base classes, and the
// editor bases' defaults.
#include "xelo/design/DesignRegistry.h"

#include "support/QtScene.h"

#include "xelo/design/Designer.h"
#include "xelo/framework/Component.h"
#include "xelo/framework/Exceptions.h"

#include "design/CountingDesigner.h"

#include <algorithm>

namespace xelo::test {

class TDesignWidget : public TComponent {
  XELO_CLASS(TDesignWidget, TComponent)

 public:
  explicit TDesignWidget(TComponent* owner) : TComponent(owner) {}
  std::string Caption;
  int Count = 0;
};

class TDesignGadget : public TDesignWidget {
  XELO_CLASS(TDesignGadget, TDesignWidget)

 public:
  explicit TDesignGadget(TComponent* owner) : TDesignWidget(owner) {}
};

TClass TDesignWidget::StaticClass() {
  static const TMetaClass meta = TClassBuilder<TDesignWidget>("TDesignWidget")
                                     .String("Caption", &TDesignWidget::Caption)
                                     .Integer("Count", &TDesignWidget::Count)
                                     .Build();
  return &meta;
}

TClass TDesignGadget::StaticClass() {
  static const TMetaClass meta = TClassBuilder<TDesignGadget>("TDesignGadget").Build();
  return &meta;
}

namespace {

class TwoVerbEditor : public TComponentEditor {
 public:
  using TComponentEditor::TComponentEditor;
  int GetVerbCount() const override { return 2; }
  std::string GetVerb(int index) const override { return index < 2 ? "Verb " + std::to_string(index) : ""; }
  void ExecuteVerb(int index) override { executed.push_back(index); GetDesigner().Modified(); }
  std::vector<int> executed;
};

TEST(DesignRegistryTest, PagesKeepTheirOrderCreatedComponentsAreNumberedAndTheNearestEditorWinsAndWritesEverySelection) {
  RegisterComponents("Test A", {TDesignWidget::StaticClass()});
  RegisterComponents("Test B", {TDesignGadget::StaticClass()});
  RegisterComponents("Test A", {TDesignGadget::StaticClass(), TDesignWidget::StaticClass()});

  const std::vector<std::string> pages = GetPalettePages();
  const auto a = std::find(pages.begin(), pages.end(), "Test A");
  EXPECT_TRUE(a != pages.end() && std::find(a, pages.end(), "Test B") != pages.end()) << "A before B";
  EXPECT_EQ(std::pair(GetPaletteClasses("Test A"), GetPaletteClasses("Test B")),
            std::pair(std::vector<TClass>{TDesignWidget::StaticClass()}, std::vector<TClass>{TDesignGadget::StaticClass()}));
  EXPECT_THROW(RegisterComponents("Test A", {TPersistent::StaticClass()}), EInvalidOperation);

  // Created for design: by name too, designing, named after the class.
  TComponent form(nullptr);
  TComponent* first = CreateForDesign("TDesignWidget", form);
  TComponent* second = CreateForDesign(TDesignWidget::StaticClass(), form);
  EXPECT_TRUE(first->ClassType() == TDesignWidget::StaticClass() && first->Owner() == &form &&
              first->GetComponentState().Contains(csDesigning));
  EXPECT_EQ(first->GetName() + " " + second->GetName(), "DesignWidget1 DesignWidget2");
  EXPECT_THROW(CreateForDesign("TNoSuchClass", form), EClassNotFound);

  // Editors serve derived classes, the nearest one wins, and string editors
  // write every selected component.
  CountingDesigner designer;
  TDesignGadget gadget(nullptr);

  RegisterComponentEditor(TDesignWidget::StaticClass(),
                          [](TComponent& c, IDesigner& d) { return std::make_unique<TwoVerbEditor>(c, d); });
  std::unique_ptr<TComponentEditor> editor = GetComponentEditor(gadget, designer);
  ASSERT_NE(editor, nullptr) << "registered for the base class";
  editor->Edit();  // a double-click: the first verb
  EXPECT_EQ(std::pair(static_cast<TwoVerbEditor&>(*editor).executed, designer.modified), std::pair(std::vector<int>{0}, 1));

  // One for the class itself comes before the base's.
  RegisterComponentEditor(TDesignGadget::StaticClass(),
                          [](TComponent& c, IDesigner& d) { return std::make_unique<TComponentEditor>(c, d); });
  editor = GetComponentEditor(gadget, designer);
  EXPECT_EQ(editor->GetVerbCount(), 0);
  editor->ExecuteVerb(0);
  editor->Edit();
  EXPECT_EQ(designer.modified, 1) << "the base's verbs do nothing";
  EXPECT_EQ(FindComponentEditor(TDesignWidget::StaticClass())(gadget, designer)->GetVerbCount(), 2);

  // A string property editor reads and writes every selected component.
  EXPECT_THROW(RegisterPropertyEditor(TDesignWidget::StaticClass(), "Count", {}), EPropertyError);
  RegisterPropertyEditor(TDesignWidget::StaticClass(), "Caption",
                         [](std::vector<TPersistent*> components, const TPropInfo& prop, IDesigner& designer) {
                           return std::make_unique<TStringProperty>(std::move(components), prop, designer);
                         });
  TDesignWidget widget(nullptr);
  TComponent plain(nullptr);
  widget.Caption = "first";
  EXPECT_TRUE(FindPropertyEditor(TDesignGadget::StaticClass(), "caption"));
  EXPECT_EQ(GetPropertyEditor({&widget, &plain}, "Caption", designer), nullptr) << "one cannot have it";

  std::unique_ptr<TStringProperty> property = GetPropertyEditor({&widget, &gadget}, "Caption", designer);
  ASSERT_NE(property, nullptr);
  EXPECT_EQ(std::pair(property->GetAttributes(), property->GetValue()),
            std::pair(TPropertyAttributes{paMultiSelect, paRevertable}, std::string("first")));
  property->SetValue("both");
  EXPECT_EQ(std::tuple(widget.Caption + gadget.Caption, designer.modified), std::tuple("bothboth", 2));
  EXPECT_THROW(property->GetComponent(2), EListError);
}

}  // namespace
}  // namespace xelo::test
