#include "StreamTestClasses.h"
#include "support/Expectations.h"

#include "xelo/framework/Filer.h"
#include "xelo/framework/Streams.h"
#include "xelo/framework/TextForm.h"

#include <gtest/gtest.h>

namespace xelo::test {
namespace {

using xelo::testing::MessageOf;

class FilerTest : public ::testing::Test {
 protected:
  void SetUp() override { RegisterTestClasses(); }

  // The message of the EReadError that loading `text` raises.
  static std::string ReadErrorOf(TComponent& c, const std::string& text) {
    return MessageOf<EReadError>([&] { LoadFromText(c, text); });
  }

  // Text and value of each entry.
  static std::vector<std::pair<std::string, int>> Entries(const TTestComponent& c) {
    std::vector<std::pair<std::string, int>> out;
    for (int i = 0; i < c.GetEntries()->GetCount(); ++i) out.emplace_back(c.GetEntries()->GetItem(i)->GetText(), c.GetEntries()->GetItem(i)->GetValue());
    return out;
  }

  static bool InLoadingState(const TComponent& c) {
    return c.GetComponentState().Contains(csLoading) || c.GetComponentState().Contains(csReading);
  }
};

TEST_F(FilerTest, ValuesOfTheWrongKindRaiseReadErrors) {
  struct Row {
    const char* line;
    const char* expected;
  };
  const Row rows[] = {
      {"Nope = 1", "Nope: Property Nope does not exist"}, {"Count = 'x'", "Count: An integer value expected"},
      {"Count = 2147483648", "Count: Value 2147483648 is out of range for property Count (-2147483648..2147483647)"},
      {"Byte = 256", "Byte: Value 256 is out of range for property Byte (0..255)"},
      {"Text = 5", "Text: A text expected"}, {"Color = tcPurple", "Color: Invalid enumeration value 'tcPurple'"},
      {"Color = 'tcRed'", "Color: An enumeration value expected"},
      {"Flag = Maybe", "Flag: Invalid enumeration value 'Maybe'"},
      {"Colors = [tcRed, tcPink]", "Colors: Invalid set element 'tcPink'"},
      {"Colors = tcRed", "Colors: A set expected"},
      {"Letter = 'ab'", "Letter: A text of exactly one character expected"},
      {"Letter = '\xE2\x82\xAC'", "Letter: Value 8364 is out of range for property Letter (0..255)"},
      {"Ratio = 'x'", "Ratio: A number expected"},
      {"Ratio = 1E39", "Ratio: Value 1E39 is out of range for property Ratio"},
      {"ReadOnlyCount = 1", "ReadOnlyCount: Property ReadOnlyCount is read-only"},
      {"OnChange = Main1Change", "OnChange: Event handlers are not read from a component stream"},
      {"Entries = 5", "Entries: A collection or a component name expected"},
      {"Settings = <>", "Settings: Property Settings is not a collection"},
      {"Settings = Main", "Settings: Property Settings is read-only"},
      {"Count.Rate = 1", "Count.Rate: Property Count is not an object"},
      {"Buddy.Count = 1", "Buddy.Count: Property Buddy holds no object"},
      {"Big = 1.5", "Big: An integer value expected"},
      {"Settings.Nope = 1", "Settings.Nope: Property Nope does not exist"},
      {"Nope.Rate = 1", "Nope.Rate: Property Nope does not exist"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.line);
    TTestComponent c(nullptr);
    EXPECT_EQ(ReadErrorOf(c, Lines({"object Main: TTestComponent", "  Count = 9", std::string("  ") + r.line, "  Byte = 3", "end"})),
              std::string("Error reading TTestComponent.") + r.expected);
    // Read before the error, not after it; no Loaded.
    EXPECT_EQ((std::vector<int>{c.GetCount(), c.GetByte(), c.loadedCount}), (std::vector<int>{9, 0, 0}));
    EXPECT_FALSE(InLoadingState(c));
  }
  // Dotted names do not reach into referenced components either.
  TTestComponent c(nullptr);
  TTestComponent other(nullptr);
  c.SetBuddy(&other);
  EXPECT_EQ(ReadErrorOf(c, Lines({"object Main: TTestComponent", "  Buddy.Count = 1", "end"})),
            "Error reading TTestComponent.Buddy.Count: Property Buddy refers to a component");
  EXPECT_EQ(other.GetCount(), 0);
}

TEST_F(FilerTest, CollectionWrittenWithItemsReplacesWrittenEmptyKeeps) {
  TTestComponent c(nullptr);
  for (int i = 0; i < 5; ++i) c.GetEntries()->Add()->SetValue(i);
  TTestEntry* kept = c.GetEntries()->GetItem(4);
  LoadFromText(c, Lines({"object Main: TTestComponent", "  Entries = <>", "end"}));
  ASSERT_EQ(c.GetEntries()->GetCount(), 5);
  EXPECT_EQ(c.GetEntries()->GetItem(4), kept);

  c.GetEntries()->updates.clear();
  LoadFromText(c, Lines({"object Main: TTestComponent", "  Entries = <", "    item", "      Text = 'a'", "    end",
                         "    item", "      Value = 7", "    end>", "end"}));
  EXPECT_EQ(Entries(c), (std::vector<std::pair<std::string, int>>{{"a", 0}, {"", 7}}));
  // New items, new IDs; the whole replacement was one update.
  EXPECT_EQ(c.GetEntries()->GetItem(0)->GetID(), 5);
  EXPECT_EQ(c.GetEntries()->updates, std::vector<TCollectionItem*>{nullptr});

  // Items list their properties as they like: in any order, in any case,
  // some with and some without. Each value lands in its own item's property.
  LoadFromText(c, Lines({"object Main: TTestComponent", "  Entries = <", "    item", "      Text = 'a'",
                         "      Value = 1", "    end", "    item", "      Value = 2", "      Text = 'b'", "    end",
                         "    item", "      VALUE = 3", "    end", "    item", "      text = 'd'", "      value = 4",
                         "    end", "    item", "      Text = 'e'", "    end>", "end"}));
  EXPECT_EQ(Entries(c), (std::vector<std::pair<std::string, int>>{{"a", 1}, {"b", 2}, {"", 3}, {"d", 4}, {"e", 0}}));
  EXPECT_EQ(ReadErrorOf(c, Lines({"object Main: TTestComponent", "  Entries = <", "    item", "      Value = 1",
                                  "    end", "    item", "      Valeu = 2", "    end>", "end"})),
            "Error reading TTestEntry.Valeu: Property Valeu does not exist");
}

TEST_F(FilerTest, LoadedRunsOncePerComponentRootLastWithTheStateVisibleInSetters) {
  std::vector<std::string> log;
  TTestComponent root(nullptr);
  root.loadedLog = &log;
  auto* existing = new TTestComponent(&root);  // owned by root; not in the text
  existing->SetName("Existing");
  existing->loadedLog = &log;
  LoadFromText(root, Lines({"object Main: TTestComponent", "  Count = 1", "  object New1: TTestChild", "    Count = 2",
                            "    object Deep: TTestComponent", "      Count = 3", "    end", "  end", "end"}));
  auto* new1 = dynamic_cast<TTestChild*>(root.FindComponent("New1"));
  ASSERT_NE(new1, nullptr);
  auto* deep = dynamic_cast<TTestComponent*>(new1->FindComponent("Deep"));  // owned by New1
  ASSERT_NE(deep, nullptr);
  EXPECT_EQ(deep->GetCount(), 3);
  const auto loadedCounts = [&] {
    return std::vector<int>{root.loadedCount, existing->loadedCount, new1->loadedCount, deep->loadedCount};
  };
  EXPECT_EQ(loadedCounts(), (std::vector<int>{1, 1, 1, 1}));
  // Reading order, the root last (the created ones have no log: they were
  // made by the reader; their counts above say they ran).
  EXPECT_EQ(log, (std::vector<std::string>{"Existing", "Main"}));
  for (TTestComponent* c : {&root, static_cast<TTestComponent*>(new1), deep}) {
    EXPECT_EQ((std::vector<bool>{c->loadingSeenInSetter, c->readingSeenInSetter, InLoadingState(*c)}),
              (std::vector<bool>{true, true, false})) << c->GetName();
  }
  EXPECT_FALSE(InLoadingState(*existing));
  // Outside a reading the setters see no loading state.
  root.SetCount(5);
  EXPECT_FALSE(root.loadingSeenInSetter);
  // A second reading matches the children by name and loads each once more.
  LoadFromText(root, Lines({"object Main: TTestComponent", "  object New1: TTestChild", "    Extra = 4", "  end", "end"}));
  EXPECT_EQ(root.FindComponent("New1"), new1);
  EXPECT_EQ((std::vector<int>{new1->GetExtra(), root.GetComponentCount()}), (std::vector<int>{4, 2}));
  EXPECT_EQ(loadedCounts(), (std::vector<int>{2, 2, 2, 2}));
}

TEST_F(FilerTest, ReadingComponentsIntoAFormLeavesTheRootAndTheOtherComponentsAlone) {
  TTestComponent root(nullptr);
  root.SetName("Main");
  root.SetCount(7);
  auto* other = new TTestComponent(&root);
  other->SetName("Other");
  auto* target = new TTestComponent(&root);
  target->SetName("Target");
  TFormObject form = ParseFormText(Lines({"object Ignored: TTestComponent", "  Count = 99", "  object Target: TTestComponent",
                                          "    Count = 3", "    Buddy = Other", "  end", "  object Made: TTestChild",
                                          "    Buddy = Target", "  end", "end"}));
  ReadComponentsIntoForm(form, root);
  EXPECT_EQ(root.GetName(), "Main");
  EXPECT_EQ((std::vector<int>{root.GetCount(), root.loadedCount, other->loadedCount, target->loadedCount, target->GetCount()}),
            (std::vector<int>{7, 0, 0, 1, 3}));
  EXPECT_EQ(target->GetBuddy(), other);  // references still resolve among all of the root's components
  auto* made = dynamic_cast<TTestChild*>(root.FindComponent("Made"));
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(made->loadedCount, 1);
  EXPECT_EQ(made->GetBuddy(), target);
  EXPECT_FALSE(InLoadingState(root));
  for (const TComponent* c : root.Components()) EXPECT_FALSE(InLoadingState(*c)) << c->GetName();
}

TEST_F(FilerTest, RootNameFollowsTheStreamOutsideTheDesigner) {
  TTestComponent c(nullptr);
  c.SetName("Before");
  LoadFromText(c, Lines({"object After: TTestComponent", "end"}));
  EXPECT_EQ(c.GetName(), "After");
  c.SetDesigning(true);
  LoadFromText(c, Lines({"object Other: TTestComponent", "  Count = 4", "end"}));
  EXPECT_EQ(c.GetName(), "After");
  EXPECT_EQ((std::vector<int>{c.GetCount(), c.loadedCount}), (std::vector<int>{4, 2}));

  // The naming rules apply: a name taken in the root's owner.
  TTestComponent owner(nullptr);
  auto* taken = new TTestComponent(&owner);  // owned by owner
  taken->SetName("Taken");
  auto* root = new TTestComponent(&owner);  // owned by owner
  root->SetName("Root");
  EXPECT_THROW(LoadFromText(*root, Lines({"object Taken: TTestComponent", "  Count = 1", "end"})), EComponentError);
  EXPECT_EQ(root->GetName(), "Root");
  EXPECT_FALSE(root->GetCount() != 0 || InLoadingState(*root));
}

TEST_F(FilerTest, ReferencesResolveAfterTheWholeText) {
  TTestComponent root(nullptr);
  // Buddy names a component defined further down.
  LoadFromText(root, Lines({"object Main: TTestComponent", "  Entries = <", "    item", "      Link = Child1.Grand", "    end",
                            "    item", "      Link = Main", "    end>", "  Buddy = Child1", "  object Child1: TTestChild",
                            "    Buddy = Main", "    object Grand: TTestComponent", "    end", "  end", "end"}));
  auto* child = dynamic_cast<TTestComponent*>(root.FindComponent("Child1"));
  ASSERT_NE(child, nullptr);
  EXPECT_EQ(root.GetBuddy(), child);
  EXPECT_EQ(child->GetBuddy(), &root);
  EXPECT_NE(child->FindComponent("Grand"), nullptr);
  EXPECT_EQ((std::vector<TComponent*>{root.GetEntries()->GetItem(0)->GetLink(), root.GetEntries()->GetItem(1)->GetLink()}),
            (std::vector<TComponent*>{child->FindComponent("Grand"), &root}));

  // Writing gives the same names back.
  const std::string text = SaveToText(root);
  for (const char* line : {"      Link = Child1.Grand\r\n", "  Buddy = Child1\r\n", "    Buddy = Main\r\n"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line << text;
  }

  LoadFromText(root, Lines({"object Main: TTestComponent", "  Buddy = nil", "end"}));
  EXPECT_EQ(root.GetBuddy(), nullptr);
  // The second Entries line clears the items of the first, one of which
  // waits for its Link: the pending reference goes with it.
  LoadFromText(root, Lines({"object Main: TTestComponent", "  Entries = <", "    item", "      Link = Child1", "    end>",
                            "  Entries = <", "    item", "      Value = 3", "    end>", "end"}));
  EXPECT_EQ(Entries(root), (std::vector<std::pair<std::string, int>>{{"", 3}}));
  EXPECT_EQ(root.GetEntries()->GetItem(0)->GetLink(), nullptr);

  const int loadedBefore = root.loadedCount;
  EXPECT_EQ(ReadErrorOf(root, Lines({"object Main: TTestComponent", "  Count = 8", "  Buddy = Ghost", "end"})),
            "Error reading TTestComponent.Buddy: Component 'Ghost' not found");
  EXPECT_EQ((std::vector<int>{root.GetCount(), root.loadedCount}), (std::vector<int>{8, loadedBefore}));
  EXPECT_FALSE(InLoadingState(root) || InLoadingState(*child));
}

TEST_F(FilerTest, ChildObjectsMatchByNameOrAreCreated) {
  TTestComponent root(nullptr);
  auto* plain = new TTestComponent(&root);  // owned by root
  plain->SetName("Plain");
  // An existing component of another class than the text says.
  EXPECT_EQ(ReadErrorOf(root, Lines({"object Main: TTestComponent", "  object Plain: TTestChild", "  end", "end"})),
            "Error reading TTestChild Plain: Component Plain is a TTestComponent, not a TTestChild");
  // An existing derived component matches a base class name.
  auto* derived = new TTestChild(&root);  // owned by root
  derived->SetName("Derived");
  LoadFromText(root, Lines({"object Main: TTestComponent", "  object Derived: TTestComponent", "    Count = 6", "  end",
                            "end"}));
  EXPECT_EQ((std::vector<int>{derived->GetCount(), root.GetComponentCount()}), (std::vector<int>{6, 2}));

  EXPECT_EQ(MessageOf<EClassNotFound>([&] {
              LoadFromText(root, Lines({"object Main: TTestComponent", "  object X: TUnknownThing", "  end", "end"}));
            }),
            "Error reading TUnknownThing X: Class TUnknownThing not found");
  // A child that fails is taken away again; a sibling read before it stays.
  EXPECT_THROW(LoadFromText(root, Lines({"object Main: TTestComponent", "  object Ok1: TTestChild", "  end",
                                         "  object Bad1: TTestChild", "    Nope = 1", "  end", "end"})),
               EReadError);
  EXPECT_TRUE(root.FindComponent("Ok1") != nullptr && root.FindComponent("Bad1") == nullptr);
  EXPECT_EQ(root.GetComponentCount(), 3);
  for (TComponent* c : root.Components()) EXPECT_FALSE(InLoadingState(*c)) << c->GetName();
}

TEST_F(FilerTest, BinaryRoundTripWithoutText) {
  TTestComponent src(nullptr);
  src.SetName("Src");
  src.SetColors({tcGreen});
  src.SetWide(OLESTR('\xD800'));  // a lone surrogate survives as a code
  src.SetLetter('\xFF');
  src.GetEntries()->Add()->SetText("x");
  TMemoryStream stream;
  WriteComponent(stream, src);
  WriteComponent(stream, src);  // two forms one after the other
  stream.SetPosition(0);
  for (int i = 0; i < 2; ++i) {
    TTestComponent read(nullptr);
    ReadComponent(stream, read);
    EXPECT_EQ(SaveToText(read), SaveToText(src));
  }
  EXPECT_EQ(stream.GetPosition(), stream.GetSize());
  // The text form carries them too.
  const std::string text = SaveToText(src);
  EXPECT_NE(text.find("  Letter = #255\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("  Wide = #55296\r\n"), std::string::npos) << text;
  TTestComponent third(nullptr);
  LoadFromText(third, text);
  EXPECT_EQ((std::vector<int>{third.GetWide(), static_cast<unsigned char>(third.GetLetter())}), (std::vector<int>{0xD800, 0xFF}));
}

}  // namespace
}  // namespace xelo::test
