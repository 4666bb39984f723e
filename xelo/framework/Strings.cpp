#include "xelo/framework/Strings.h"

#include "xelo/framework/AtomicFile.h"
#include "xelo/framework/Exceptions.h"
#include "xelo/framework/Streams.h"
#include "xelo/framework/SysUtils.h"
#include "xelo/framework/TypInfo.h"

#include <algorithm>
#include <numeric>

namespace xelo {
namespace {

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }

// Keeps the update count balanced when an operation on several lines fails
// half-way.
class UpdateScope {
 public:
  explicit UpdateScope(TStrings& strings) : strings_(strings) { strings_.BeginUpdate(); }
  ~UpdateScope() { strings_.EndUpdate(); }
  UpdateScope(const UpdateScope&) = delete;
  UpdateScope& operator=(const UpdateScope&) = delete;

 private:
  TStrings& strings_;
};

constexpr std::string_view kLineBreak = "\r\n";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

}  // namespace

// ---- TStrings ----------------------------------------------------------------

TClass TStrings::StaticClass() {
  static const TMetaClass meta = TClassBuilder<TStrings>("TStrings").Build();
  return &meta;
}

void TStrings::Error(const char* message, int index) { throw EStringListError(Format(message, index)); }

void TStrings::CheckIndex(int index) const {
  if (index < 0 || index >= GetCount()) Error("List index out of bounds (%d)", index);
}

void* TStrings::GetObject(int index) const {
  CheckIndex(index);
  return nullptr;
}

void TStrings::PutObject(int index, void* /*object*/) { CheckIndex(index); }

void TStrings::Put(int index, const std::string& s) {
  CheckIndex(index);
  UpdateScope update(*this);
  void* object = GetObject(index);
  Delete(index);
  InsertObject(index, s, object);
}

int TStrings::Add(const std::string& s) {
  const int index = GetCount();
  Insert(index, s);
  return index;
}

int TStrings::AddObject(const std::string& s, void* object) {
  UpdateScope update(*this);
  const int index = Add(s);
  PutObject(index, object);
  return index;
}

void TStrings::InsertObject(int index, const std::string& s, void* object) {
  UpdateScope update(*this);
  Insert(index, s);
  PutObject(index, object);
}

void TStrings::AddStrings(const TStrings& strings) {
  UpdateScope update(*this);
  // Reading the count once lets a list add itself without looping forever.
  const int count = strings.GetCount();
  for (int i = 0; i < count; ++i) AddObject(strings.Get(i), strings.GetObject(i));
}

void TStrings::AddStrings(std::initializer_list<std::string_view> strings) {
  UpdateScope update(*this);
  for (std::string_view s : strings) Add(std::string(s));
}

void TStrings::Assign(const TStrings& source) {
  if (&source == this) return;
  UpdateScope update(*this);
  Clear();
  delimiter_ = source.delimiter_;
  quoteChar_ = source.quoteChar_;
  nameValueSeparator_ = source.nameValueSeparator_;
  strictDelimiter_ = source.strictDelimiter_;
  AddStrings(source);
}

void TStrings::Assign(const TPersistent* source) {
  if (const auto* strings = dynamic_cast<const TStrings*>(source)) {
    Assign(*strings);
  } else {
    TPersistent::Assign(source);
  }
}

void TStrings::Exchange(int index1, int index2) {
  CheckIndex(index1);
  CheckIndex(index2);
  if (index1 == index2) return;
  UpdateScope update(*this);
  const std::string s1 = Get(index1);
  void* o1 = GetObject(index1);
  Put(index1, Get(index2));
  PutObject(index1, GetObject(index2));
  Put(index2, s1);
  PutObject(index2, o1);
}

void TStrings::Move(int curIndex, int newIndex) {
  CheckIndex(curIndex);
  CheckIndex(newIndex);
  if (curIndex == newIndex) return;
  UpdateScope update(*this);
  const std::string s = Get(curIndex);
  void* object = GetObject(curIndex);
  Delete(curIndex);
  InsertObject(newIndex, s, object);
}

int TStrings::IndexOf(std::string_view s) const {
  const int count = GetCount();
  for (int i = 0; i < count; ++i) {
    if (CompareStrings(Get(i), s) == 0) return i;
  }
  return -1;
}

int TStrings::IndexOfName(std::string_view name) const {
  const int count = GetCount();
  for (int i = 0; i < count; ++i) {
    const std::string line = Get(i);
    const auto separator = line.find(nameValueSeparator_);
    if (separator != std::string::npos && CompareStrings(std::string_view(line).substr(0, separator), name) == 0) {
      return i;
    }
  }
  return -1;
}

int TStrings::IndexOfObject(const void* object) const {
  const int count = GetCount();
  for (int i = 0; i < count; ++i) {
    if (GetObject(i) == object) return i;
  }
  return -1;
}

bool TStrings::Equals(const TStrings& other) const {
  const int count = GetCount();
  if (count != other.GetCount()) return false;
  for (int i = 0; i < count; ++i) {
    if (Get(i) != other.Get(i)) return false;
  }
  return true;
}

std::string TStrings::GetName(int index) const {
  const std::string line = Get(index);
  const auto separator = line.find(nameValueSeparator_);
  return separator == std::string::npos ? std::string() : line.substr(0, separator);
}

std::string TStrings::GetValueFromIndex(int index) const {
  const std::string line = Get(index);
  const auto separator = line.find(nameValueSeparator_);
  return separator == std::string::npos ? std::string() : line.substr(separator + 1);
}

void TStrings::SetValueFromIndex(int index, std::string_view value) {
  const std::string name = GetName(index);
  if (value.empty()) {
    Delete(index);
  } else {
    Put(index, name + nameValueSeparator_ + std::string(value));
  }
}

std::string TStrings::GetValue(std::string_view name) const {
  const int index = IndexOfName(name);
  return index < 0 ? std::string() : GetValueFromIndex(index);
}

void TStrings::SetValue(std::string_view name, std::string_view value) {
  const int index = IndexOfName(name);
  if (value.empty()) {
    if (index >= 0) Delete(index);
    return;
  }
  std::string line = std::string(name) + nameValueSeparator_ + std::string(value);
  if (index < 0) {
    Add(line);
  } else {
    Put(index, line);
  }
}

std::string TStrings::GetText() const {
  std::string text;
  const int count = GetCount();
  for (int i = 0; i < count; ++i) {
    text += Get(i);
    if (trailingLineBreak_ || i + 1 < count) text += kLineBreak;
  }
  return text;
}

void TStrings::SetText(std::string_view text) {
  UpdateScope update(*this);
  Clear();
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) {
      Add(std::string(text.substr(start)));
      break;
    }
    Add(std::string(text.substr(start, end - start)));
    start = end + 1;
    if (text[end] == '\r' && start < text.size() && text[start] == '\n') ++start;
  }
}

std::string TStrings::JoinDelimited(char delimiter, char quote, bool strict) const {
  std::string text;
  const int count = GetCount();
  for (int i = 0; i < count; ++i) {
    const std::string item = Get(i);
    // Empty items are quoted too: otherwise an empty last item (or a single
    // empty item) would vanish when the text is read back.
    const bool needsQuotes = item.empty() || std::any_of(item.begin(), item.end(), [&](char c) {
                               return c == delimiter || c == quote || (!strict && IsBlank(c));
                             });
    if (i > 0) text += delimiter;
    text += needsQuotes ? QuotedStr(item, quote) : item;
  }
  return text;
}

void TStrings::SplitDelimited(std::string_view text, char delimiter, char quote, bool strict) {
  UpdateScope update(*this);
  Clear();
  const std::size_t n = text.size();
  std::size_t i = 0;
  auto skipBlanks = [&] {
    if (strict) return;
    while (i < n && IsBlank(text[i]) && text[i] != delimiter) ++i;
  };
  skipBlanks();
  while (i < n) {
    std::string item;
    if (text[i] == quote) {
      // A quoted item runs to the next single quote character; a doubled
      // one stands for itself. An unterminated item runs to the end.
      ++i;
      while (i < n) {
        if (text[i] == quote) {
          if (i + 1 < n && text[i + 1] == quote) {
            item += quote;
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        item += text[i++];
      }
    } else {
      const std::size_t start = i;
      while (i < n && text[i] != delimiter && (strict || !IsBlank(text[i]))) ++i;
      item.assign(text.substr(start, i - start));
    }
    Add(item);
    skipBlanks();
    if (i < n && text[i] == delimiter) {
      ++i;
      skipBlanks();
      if (strict && i == n) Add(std::string());
    }
  }
}

std::string TStrings::GetCommaText() const { return JoinDelimited(',', '"', false); }

void TStrings::SetCommaText(std::string_view text) { SplitDelimited(text, ',', '"', false); }

std::string TStrings::GetDelimitedText() const { return JoinDelimited(delimiter_, quoteChar_, strictDelimiter_); }

void TStrings::SetDelimitedText(std::string_view text) {
  SplitDelimited(text, delimiter_, quoteChar_, strictDelimiter_);
}

void TStrings::BeginUpdate() {
  if (updateCount_++ == 0) SetUpdateState(true);
}

void TStrings::EndUpdate() {
  if (updateCount_ <= 0) return;
  if (--updateCount_ == 0) SetUpdateState(false);
}

void TStrings::SetUpdateState(bool /*updating*/) {}

int TStrings::CompareStrings(std::string_view a, std::string_view b) const {
  return caseSensitive_ ? CompareStr(a, b) : CompareText(a, b);
}

void TStrings::LoadFromStream(TStream& stream) {
  std::string text = stream.ReadRemaining();
  std::string_view view(text);
  if (view.starts_with(kUtf8Bom)) view.remove_prefix(kUtf8Bom.size());
  SetText(view);
}

void TStrings::SaveToStream(TStream& stream) const { stream.WriteBuffer(GetText()); }

void TStrings::LoadFromFile(const std::string& fileName) {
  TFileStream file(fileName, fmOpenRead);
  LoadFromStream(file);
}

void TStrings::SaveToFile(const std::string& fileName) const { WriteFileAtomically(fileName, GetText()); }

// ---- TStringList -------------------------------------------------------------

TClass TStringList::StaticClass() {
  static const TMetaClass meta = TClassBuilder<TStringList>("TStringList").Build();
  return &meta;
}

TStringList::TStringList(std::initializer_list<std::string_view> lines) {
  items_.reserve(lines.size());
  for (std::string_view line : lines) items_.push_back({std::string(line), nullptr});
}

std::string TStringList::Get(int index) const {
  CheckIndex(index);
  return items_[static_cast<std::size_t>(index)].text;
}

void TStringList::CheckNotSorted() const {
  if (sorted_) throw EStringListError("Operation not allowed on sorted list");
}

void TStringList::Put(int index, const std::string& s) {
  CheckNotSorted();
  CheckIndex(index);
  Changing();
  items_[static_cast<std::size_t>(index)].text = s;
  Changed();
}

void* TStringList::GetObject(int index) const {
  CheckIndex(index);
  return items_[static_cast<std::size_t>(index)].object;
}

void TStringList::PutObject(int index, void* object) {
  CheckIndex(index);
  Changing();
  items_[static_cast<std::size_t>(index)].object = object;
  Changed();
}

void TStringList::InsertItem(int index, const std::string& s, void* object) {
  Changing();
  items_.insert(items_.begin() + index, Item{s, object});
  Changed();
}

void TStringList::Insert(int index, const std::string& s) {
  CheckNotSorted();
  if (index < 0 || index > GetCount()) Error("List index out of bounds (%d)", index);
  InsertItem(index, s, nullptr);
}

void TStringList::Delete(int index) {
  CheckIndex(index);
  Changing();
  items_.erase(items_.begin() + index);
  Changed();
}

void TStringList::Clear() {
  if (items_.empty()) return;
  Changing();
  items_.clear();
  items_.shrink_to_fit();
  Changed();
}

int TStringList::Add(const std::string& s) { return AddObject(s, nullptr); }

int TStringList::AddObject(const std::string& s, void* object) {
  int index = GetCount();
  if (sorted_) {
    if (Find(s, index)) {
      switch (duplicates_) {
        case TDuplicates::dupIgnore:
          return index;
        case TDuplicates::dupError:
          throw EStringListError("String list does not allow duplicates");
        case TDuplicates::dupAccept:
          // After the equal lines, so equal lines keep the order they came in.
          while (index < GetCount() && CompareStrings(items_[static_cast<std::size_t>(index)].text, s) == 0) ++index;
          break;
      }
    }
  }
  InsertItem(index, s, object);
  return index;
}

void TStringList::Exchange(int index1, int index2) {
  CheckNotSorted();
  CheckIndex(index1);
  CheckIndex(index2);
  Changing();
  std::swap(items_[static_cast<std::size_t>(index1)], items_[static_cast<std::size_t>(index2)]);
  Changed();
}

void TStringList::Move(int curIndex, int newIndex) {
  CheckNotSorted();
  CheckIndex(curIndex);
  CheckIndex(newIndex);
  if (curIndex == newIndex) return;
  Changing();
  const auto first = items_.begin();
  if (curIndex < newIndex) {
    std::rotate(first + curIndex, first + curIndex + 1, first + newIndex + 1);
  } else {
    std::rotate(first + newIndex, first + curIndex, first + curIndex + 1);
  }
  Changed();
}

int TStringList::IndexOf(std::string_view s) const {
  if (!sorted_) return TStrings::IndexOf(s);
  int index = 0;
  return Find(s, index) ? index : -1;
}

void TStringList::SetCaseSensitive(bool value) {
  if (value == GetCaseSensitive()) return;
  TStrings::SetCaseSensitive(value);
  // The order of a sorted list depends on the comparison.
  if (sorted_) {
    SortItems([this](int a, int b) {
      return CompareStrings(items_[static_cast<std::size_t>(a)].text, items_[static_cast<std::size_t>(b)].text) < 0;
    });
  }
}

bool TStringList::Find(std::string_view s, int& index) const {
  const auto it = std::lower_bound(items_.begin(), items_.end(), s,
                                   [this](const Item& item, std::string_view key) { return CompareStrings(item.text, key) < 0; });
  index = static_cast<int>(it - items_.begin());
  return it != items_.end() && CompareStrings(it->text, s) == 0;
}

void TStringList::SortItems(const std::function<bool(int, int)>& less) {
  if (items_.size() < 2) return;
  // Sorting a permutation first lets a comparison see the list unchanged,
  // as CustomSort's callback reads lines by index.
  std::vector<int> order(items_.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), less);
  if (std::is_sorted(order.begin(), order.end())) return;
  Changing();
  std::vector<Item> sorted;
  sorted.reserve(items_.size());
  for (int i : order) sorted.push_back(std::move(items_[static_cast<std::size_t>(i)]));
  items_ = std::move(sorted);
  Changed();
}

void TStringList::Sort() {
  if (sorted_) return;
  SortItems([this](int a, int b) {
    return CompareStrings(items_[static_cast<std::size_t>(a)].text, items_[static_cast<std::size_t>(b)].text) < 0;
  });
}

void TStringList::CustomSort(const TStringListSortCompare& compare) {
  CheckNotSorted();
  SortItems([&](int a, int b) { return compare(*this, a, b) < 0; });
}

void TStringList::SetSorted(bool value) {
  if (value == sorted_) return;
  if (value) Sort();
  sorted_ = value;
}

void TStringList::SetUpdateState(bool updating) {
  if (updating) {
    changingFired_ = false;
    changedPending_ = false;
    return;
  }
  const bool fire = changedPending_;
  changingFired_ = false;
  changedPending_ = false;
  if (fire && onChange_) onChange_(this);
}

void TStringList::Changing() {
  if (GetUpdateCount() > 0) {
    if (changingFired_) return;
    changingFired_ = true;
  }
  if (onChanging_) onChanging_(this);
}

void TStringList::Changed() {
  if (GetUpdateCount() > 0) {
    changedPending_ = true;
    return;
  }
  if (onChange_) onChange_(this);
}

}  // namespace xelo
