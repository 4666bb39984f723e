#include "StreamTestClasses.h"

#include "xelo/framework/Filer.h"
#include "xelo/framework/Streams.h"
#include "xelo/framework/TextForm.h"

namespace xelo::test {

int TTestEntry::liveCount = 0;
int TTestComponent::liveCount = 0;
std::vector<std::string>* TTestComponent::destroyLog = nullptr;

const TTypeInfoPtr& TestColorType() {
  static const TTypeInfoPtr type = MakeEnumType("TTestColor", std::vector<std::string>{"tcRed", "tcGreen", "tcBlue"});
  return type;
}

TClass TTestSettings::StaticClass() {
  using T = TTestSettings;
  static const TMetaClass meta = TClassBuilder<T>("TTestSettings")
                                     .Integer("Rate", &T::GetRate, &T::SetRate)
                                     .Boolean("Enabled", &T::GetEnabled, &T::SetEnabled, Default(true))
                                     .String("Caption", &T::GetCaption, &T::SetCaption)
                                     .Build();
  return &meta;
}

TTestEntry::TTestEntry(TCollection* collection) : TCollectionItem(collection) { ++liveCount; }
TTestEntry::~TTestEntry() { --liveCount; }

std::string TTestEntry::GetDisplayName() const { return text_.empty() ? TCollectionItem::GetDisplayName() : text_; }

void TTestEntry::Assign(const TPersistent* source) {
  const auto* e = dynamic_cast<const TTestEntry*>(source);
  if (e == nullptr) return TCollectionItem::Assign(source);
  text_ = e->text_;
  value_ = e->value_;
  link_ = e->link_;
}

TClass TTestEntry::StaticClass() {
  static const TMetaClass meta = TClassBuilder<TTestEntry>("TTestEntry")
                                     .String("Text", &TTestEntry::GetText, &TTestEntry::SetText)
                                     .Integer("Value", &TTestEntry::GetValue, &TTestEntry::SetValue)
                                     .Object("Link", &TTestEntry::GetLink, &TTestEntry::SetLink)
                                     .Build();
  return &meta;
}

TClass TTestEntries::StaticClass() {
  static const TMetaClass meta = TClassBuilder<TTestEntries>("TTestEntries").Build();
  return &meta;
}

TTestComponent::TTestComponent(TComponent* owner)
    : TComponent(owner),
      settings_(std::make_unique<TTestSettings>()),
      entries_(std::make_unique<TTestEntries>(this)) {
  ++liveCount;
}

TTestComponent::~TTestComponent() {
  --liveCount;
  if (destroyLog != nullptr) destroyLog->push_back(GetName());
}

void TTestComponent::SetBuddy(TTestComponent* v) {
  if (buddy_ == v) return;
  if (buddy_ != nullptr) buddy_->RemoveFreeNotification(this);
  buddy_ = v;
  if (buddy_ != nullptr) buddy_->FreeNotification(this);
}

void TTestComponent::Loaded() {
  TComponent::Loaded();
  ++loadedCount;
  if (loadedLog != nullptr) loadedLog->push_back(GetName());
}

void TTestComponent::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  notifications.push_back((operation == opInsert ? "+" : "-") + component->GetName());
  if (operation == opRemove && component == buddy_) buddy_ = nullptr;
}

TClass TTestComponent::StaticClass() {
  using T = TTestComponent;
  static const TMetaClass meta =
      TClassBuilder<T>("TTestComponent")
          .Integer("Count", &T::GetCount, &T::SetCount)
          .Integer("Small", &T::GetSmall, &T::SetSmall, Default(5))
          .Integer("Byte", &T::GetByte, &T::SetByte)
          .Boolean("Flag", &T::GetFlag, &T::SetFlag)
          .Enum("Color", &T::GetColor, &T::SetColor, TestColorType(), Default(tcRed))
          .Set("Colors", &T::GetColors, &T::SetColors, TestColorType())
          .Char("Letter", &T::GetLetter, &T::SetLetter)
          .WideChar("Wide", &T::GetWide, &T::SetWide)
          .Float("Ratio", &T::GetRatio, &T::SetRatio)
          .Float("Precise", &T::GetPrecise, &T::SetPrecise)
          .String("Text", &T::GetText, &T::SetText)
          .Int64("Big", &T::GetBig, &T::SetBig)
          .Object("Settings", &T::GetSettings)
          .Object("Entries", &T::GetEntries)
          .Object("Buddy", &T::GetBuddy, &T::SetBuddy)
          .Integer("ReadOnlyCount", &T::GetReadOnlyCount)
          .Integer("Hidden", &T::GetHidden, &T::SetHidden, Stored(false))
          .Integer("Maybe", &T::GetMaybe, &T::SetMaybe, Stored(&T::IsMaybeStored))
          .Event("OnChange", &T::GetOnChange, &T::SetOnChange)
          .Variant("Data", &T::GetData, &T::SetData)
          .Build();
  return &meta;
}

TClass TTestChild::StaticClass() {
  static const TMetaClass meta =
      TClassBuilder<TTestChild>("TTestChild").Integer("Extra", &TTestChild::GetExtra, &TTestChild::SetExtra).Build();
  return &meta;
}

std::string SaveToText(TComponent& component) {
  TMemoryStream binary;
  WriteComponent(binary, component);
  binary.SetPosition(0);
  TStringStream text;
  ObjectBinaryToText(binary, text);
  return text.DataString();
}

void LoadFromText(TComponent& component, std::string_view text) {
  TStringStream source(text);
  TMemoryStream binary;
  ObjectTextToBinary(source, binary);
  binary.SetPosition(0);
  ReadComponent(binary, component);
}

TClass TTestHost::StaticClass() {
  static const TMetaClass meta = TClassBuilder<TTestHost>("TTestHost").Object("Inner", &TTestHost::GetInner).Build();
  return &meta;
}

void RegisterTestClasses() {
  RegisterClasses({TTestComponent::StaticClass(), TTestChild::StaticClass(), TTestHost::StaticClass()});
}

}  // namespace xelo::test
