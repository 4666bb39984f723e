// Classes with every kind of published property, shared by the tests of the
// metadata, the components, the collections and the component stream.
#pragma once

#include "xelo/framework/Collection.h"
#include "xelo/framework/Component.h"
#include "xelo/framework/TypInfo.h"
#include "xelo/framework/Variant.h"

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string_view>
#include <string>
#include <vector>

namespace xelo::test {

// A text of CR LF terminated lines, as the text form writes them.
inline std::string Lines(std::initializer_list<std::string_view> lines) {
  std::string text;
  for (std::string_view l : lines) {
    text += l;
    text += "\r\n";
  }
  return text;
}

// A plain property: its getter, its setter and its field with the start value.
#define XELO_TEST_PROPERTY(Type, Name, field, start) \
  Type Get##Name() const { return field; }           \
  void Set##Name(Type v) { field = v; }              \
  Type field = start;
// The same for a type passed by reference.
#define XELO_TEST_REF_PROPERTY(Type, Name, field)        \
  const Type& Get##Name() const { return field; }        \
  void Set##Name(const Type& v) { field = v; }           \
  Type field;

enum TTestColor { tcRed, tcGreen, tcBlue };
using TTestColors = TEnumSet<TTestColor>;
const TTypeInfoPtr& TestColorType();

// A nested persistent object published by TTestComponent as "Settings".
class TTestSettings : public TPersistent {
  XELO_CLASS(TTestSettings, TPersistent)

 public:
  XELO_TEST_PROPERTY(int, Rate, rate_, 1000)
  XELO_TEST_PROPERTY(bool, Enabled, enabled_, true)  // declared default True
  XELO_TEST_REF_PROPERTY(std::string, Caption, caption_)
};

class TTestComponent;

class TTestEntry : public TCollectionItem {
  XELO_CLASS(TTestEntry, TCollectionItem)

 public:
  explicit TTestEntry(TCollection* collection);
  ~TTestEntry() override;

  XELO_TEST_REF_PROPERTY(std::string, Text, text_)
  int GetValue() const { return value_; }
  void SetValue(int v) {
    value_ = v;
    Changed(false);
  }
  XELO_TEST_PROPERTY(TTestComponent*, Link, link_, nullptr)
  std::string GetDisplayName() const override;
  void Assign(const TPersistent* source) override;

  static int liveCount;

 private:
  int value_ = 0;
};

// Records every Update call.
class TTestEntries : public TCollection {
  XELO_CLASS(TTestEntries, TCollection)

 public:
  explicit TTestEntries(TPersistent* owner) : TCollection(owner, TTestEntry::StaticClass()) {}
  TTestEntry* GetItem(int index) const { return static_cast<TTestEntry*>(TCollection::GetItem(index)); }
  TTestEntry* Add() { return static_cast<TTestEntry*>(TCollection::Add()); }
  std::vector<TCollectionItem*> updates;

 protected:
  void Update(TCollectionItem* item) override { updates.push_back(item); }
};

// A component with one published property of every kind.
class TTestComponent : public TComponent {
  XELO_CLASS(TTestComponent, TComponent)

 public:
  explicit TTestComponent(TComponent* owner);
  ~TTestComponent() override;

  int GetCount() const { return count_; }
  void SetCount(int v) {
    count_ = v;
    loadingSeenInSetter = GetComponentState().Contains(csLoading);
    readingSeenInSetter = GetComponentState().Contains(csReading);
  }
  XELO_TEST_PROPERTY(std::int16_t, Small, small_, 5)  // declared default 5
  XELO_TEST_PROPERTY(std::uint8_t, Byte, byte_, 0)
  XELO_TEST_PROPERTY(bool, Flag, flag_, false)
  XELO_TEST_PROPERTY(TTestColor, Color, color_, tcRed)  // declared default tcRed
  XELO_TEST_PROPERTY(TTestColors, Colors, colors_, {})
  XELO_TEST_PROPERTY(char, Letter, letter_, 'A')
  XELO_TEST_PROPERTY(OLECHAR, Wide, wide_, OLESTR('W'))
  XELO_TEST_PROPERTY(float, Ratio, ratio_, 0)
  XELO_TEST_PROPERTY(double, Precise, precise_, 0)
  XELO_TEST_PROPERTY(std::int64_t, Big, big_, 0)
  XELO_TEST_PROPERTY(int, Hidden, hidden_, 0)
  XELO_TEST_PROPERTY(int, Maybe, maybe_, 0)
  XELO_TEST_REF_PROPERTY(std::string, Text, text_)
  XELO_TEST_REF_PROPERTY(std::function<void(TComponent*)>, OnChange, onChange_)
  XELO_TEST_REF_PROPERTY(Variant, Data, data_)
  TTestSettings* GetSettings() const { return settings_.get(); }
  TTestEntries* GetEntries() const { return entries_.get(); }
  TTestComponent* GetBuddy() const { return buddy_; }
  void SetBuddy(TTestComponent* v);
  int GetReadOnlyCount() const { return 42; }
  bool IsMaybeStored() const { return maybe_ != 7; }

  void Loaded() override;
  void Notification(TComponent* component, TOperation operation) override;

  int loadedCount = 0;
  bool loadingSeenInSetter = false;
  bool readingSeenInSetter = false;
  std::vector<std::string>* loadedLog = nullptr;  // names, in Loaded order
  std::vector<std::string> notifications;         // "+Name" / "-Name"
  static int liveCount;
  static std::vector<std::string>* destroyLog;  // names, in destruction order

 private:
  int count_ = 0;
  std::unique_ptr<TTestSettings> settings_;
  std::unique_ptr<TTestEntries> entries_;
  TTestComponent* buddy_ = nullptr;
};

// A second component class, for child blocks of another class.
class TTestChild : public TTestComponent {
  XELO_CLASS(TTestChild, TTestComponent)

 public:
  explicit TTestChild(TComponent* owner) : TTestComponent(owner) {}
  XELO_TEST_PROPERTY(int, Extra, extra_, 0)
};

// A component that publishes a subcomponent: streamed as dotted lines of
// the property, never as a child block.
class TTestHost : public TComponent {
  XELO_CLASS(TTestHost, TComponent)

 public:
  explicit TTestHost(TComponent* owner) : TComponent(owner), inner_(new TComponent(this)) {  // owned by this
    inner_->SetName("Inner");
    inner_->SetSubComponent(true);
  }
  TComponent* GetInner() const { return inner_; }

 private:
  TComponent* inner_;
};

// Registers the test classes for creation by name (idempotent).
void RegisterTestClasses();

// Component -> binary -> text, and text -> binary -> component, through the
// streams as the library's configuration files do it.
std::string SaveToText(TComponent& component);
void LoadFromText(TComponent& component, std::string_view text);

}  // namespace xelo::test
