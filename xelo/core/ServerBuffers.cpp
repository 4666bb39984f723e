#include "xelo/core/ServerBuffers.h"

#include "xelo/com/TaskMemory.h"
#include "xelo/com/WideText.h"

namespace xelo {

void CopyLentValue(const VARIANT& lent, Variant& into) { into.CopyFrom(lent); }

Variant TakeReturnedValue(VARIANT& returned) { return Variant::Attach(returned); }

LPWSTR* ReturnedText::Put() {
  Reset();
  return &text_;
}

void ReturnedText::Reset() {
  ::CoTaskMemFree(text_);
  text_ = nullptr;
}

std::string ReturnedText::Text() const { return text_ != nullptr ? com::ToUtf8(text_) : std::string(); }

void FreeReturnedTexts(LPWSTR* texts, std::size_t count) {
  if (texts == nullptr) return;
  for (std::size_t i = 0; i < count; ++i) ::CoTaskMemFree(texts[i]);
  ::CoTaskMemFree(texts);
}

}  // namespace xelo
