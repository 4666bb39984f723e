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

enum TTestColor { tcRed, tcGreen, tcBlue };
using TTestColors = TEnumSet<TTestColor>;
const TTypeInfoPtr& TestColorType();

// A nested persistent object published by TTestComponent as "Settings".
class TTestSettings : public TPersistent {
  XELO_CLASS(TTestSettings, TPersistent)

 public:
  int GetRate() const { return rate_; }
  void SetRate(int v) { rate_ = v; }
  bool GetEnabled() const { return enabled_; }
  void SetEnabled(bool v) { enabled_ = v; }
  const std::string& GetCaption() const { return caption_; }
  void SetCaption(const std::string& v) { caption_ = v; }

 private:
  int rate_ = 1000;
  bool enabled_ = true;  // declared default True
  std::string caption_;
};

class TTestComponent;

class TTestEntry : public TCollectionItem {
  XELO_CLASS(TTestEntry, TCollectionItem)

 public:
  explicit TTestEntry(TCollection* collection);
  ~TTestEntry() override;

  const std::string& GetText() const { return text_; }
  void SetText(const std::string& v) { text_ = v; }
  int GetValue() const { return value_; }
  void SetValue(int v) {
    value_ = v;
    Changed(false);
  }
  TTestComponent* GetLink() const { return link_; }
  void SetLink(TTestComponent* v) { link_ = v; }
  std::string GetDisplayName() const override;
  void Assign(const TPersistent* source) override;

  static int liveCount;

 private:
  std::string text_;
  int value_ = 0;
  TTestComponent* link_ = nullptr;
};

// Records every Update call.
class TTestEntries : public TCollection {
  XELO_CLASS(TTestEntries, TCollection)

 public:
  explicit TTestEntries(TPersistent* owner) : TCollection(owner, TTestEntry::StaticClass()) {}
  TTestEntry* GetItem(int index) const { return static_cast<TTestEntry*>(TCollection::GetItem(index)); }
  TTestEntry* Add() { return static_cast<TTestEntry*>(TCollection::Add()); }
  using TCollection::Changed;
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
  std::int16_t GetSmall() const { return small_; }
  void SetSmall(std::int16_t v) { small_ = v; }
  std::uint8_t GetByte() const { return byte_; }
  void SetByte(std::uint8_t v) { byte_ = v; }
  bool GetFlag() const { return flag_; }
  void SetFlag(bool v) { flag_ = v; }
  TTestColor GetColor() const { return color_; }
  void SetColor(TTestColor v) { color_ = v; }
  TTestColors GetColors() const { return colors_; }
  void SetColors(TTestColors v) { colors_ = v; }
  char GetLetter() const { return letter_; }
  void SetLetter(char v) { letter_ = v; }
  OLECHAR GetWide() const { return wide_; }
  void SetWide(OLECHAR v) { wide_ = v; }
  float GetRatio() const { return ratio_; }
  void SetRatio(float v) { ratio_ = v; }
  double GetPrecise() const { return precise_; }
  void SetPrecise(double v) { precise_ = v; }
  const std::string& GetText() const { return text_; }
  void SetText(const std::string& v) { text_ = v; }
  std::int64_t GetBig() const { return big_; }
  void SetBig(std::int64_t v) { big_ = v; }
  TTestSettings* GetSettings() const { return settings_.get(); }
  TTestEntries* GetEntries() const { return entries_.get(); }
  TTestComponent* GetBuddy() const { return buddy_; }
  void SetBuddy(TTestComponent* v);
  int GetReadOnlyCount() const { return 42; }
  int GetHidden() const { return hidden_; }
  void SetHidden(int v) { hidden_ = v; }
  int GetMaybe() const { return maybe_; }
  void SetMaybe(int v) { maybe_ = v; }
  bool IsMaybeStored() const { return maybe_ != 7; }
  const std::function<void(TComponent*)>& GetOnChange() const { return onChange_; }
  void SetOnChange(const std::function<void(TComponent*)>& v) { onChange_ = v; }
  const Variant& GetData() const { return data_; }
  void SetData(const Variant& v) { data_ = v; }

  void Loaded() override;
  void Notification(TComponent* component, TOperation operation) override;

  int loadedCount = 0;
  bool loadingSeenInSetter = false;
  bool readingSeenInSetter = false;
  bool loadingSeenInLoaded = false;
  std::vector<std::string>* loadedLog = nullptr;  // names, in Loaded order
  std::vector<std::string> notifications;         // "+Name" / "-Name"
  static int liveCount;
  static std::vector<std::string>* destroyLog;  // names, in destruction order

 private:
  int count_ = 0;
  std::int16_t small_ = 5;  // declared default 5
  std::uint8_t byte_ = 0;
  bool flag_ = false;
  TTestColor color_ = tcRed;  // declared default tcRed
  TTestColors colors_;
  char letter_ = 'A';
  OLECHAR wide_ = OLESTR('W');
  float ratio_ = 0;
  double precise_ = 0;
  std::string text_;
  std::int64_t big_ = 0;
  std::unique_ptr<TTestSettings> settings_;
  std::unique_ptr<TTestEntries> entries_;
  TTestComponent* buddy_ = nullptr;
  int hidden_ = 0;
  int maybe_ = 0;
  std::function<void(TComponent*)> onChange_;
  Variant data_;
};

// A second component class, for child blocks of another class.
class TTestChild : public TTestComponent {
  XELO_CLASS(TTestChild, TTestComponent)

 public:
  explicit TTestChild(TComponent* owner) : TTestComponent(owner) {}
  int GetExtra() const { return extra_; }
  void SetExtra(int v) { extra_ = v; }

 private:
  int extra_ = 0;
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
