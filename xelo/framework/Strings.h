// TStrings, the abstract list of text lines each with an optional object
// pointer, and TStringList, its ordinary in-memory implementation.
//
// Contract: lines are UTF-8 texts. A list never owns the objects associated
// with its lines; it only keeps the pointers. Not thread-safe: a list is used
// by one thread at a time (normally the main thread).
// Errors: a bad index raises EStringListError "List index out of bounds (%d)";
// changing the order of a sorted list (Insert, Put, Exchange, Move,
// CustomSort) raises EStringListError "Operation not allowed on sorted list";
// adding a duplicate to a sorted list with dupError raises EStringListError
// "String list does not allow duplicates". File operations raise the stream
// errors of Streams.h.
//
// Comparisons (IndexOf, IndexOfName, sorting) are ASCII case-insensitive
// unless CaseSensitive is set.
#pragma once

#include "xelo/framework/Persistent.h"

#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace xelo {

class TStream;
class TStrings;

// The change events of a string list; Sender is the list that changed.
using TStringsNotifyEvent = std::function<void(TStrings* Sender)>;

// A persistent object, so that controls can publish their lines (a memo's
// Lines, a list box's Items) as object properties and Assign them.
class TStrings : public TPersistent {
  XELO_CLASS(TStrings, TPersistent)

 public:
  TStrings() = default;

  // ---- what a concrete list provides ----
  virtual int GetCount() const = 0;
  virtual std::string Get(int index) const = 0;
  // Inserts before `index`; `index` == Count appends.
  virtual void Insert(int index, const std::string& s) = 0;
  virtual void Delete(int index) = 0;
  virtual void Clear() = 0;
  // The default keeps no objects: GetObject gives null, PutObject ignores.
  virtual void* GetObject(int index) const;
  virtual void PutObject(int index, void* object);
  // The default replaces the line by Delete + Insert, keeping its object.
  virtual void Put(int index, const std::string& s);

  // ---- built on the above ----
  int Count() const { return GetCount(); }
  std::string Strings(int index) const { return Get(index); }
  void* Objects(int index) const { return GetObject(index); }

  // Appends (or, in a sorted list, inserts in order) and returns the index.
  virtual int Add(const std::string& s);
  virtual int AddObject(const std::string& s, void* object);
  void Append(const std::string& s) { Add(s); }
  void InsertObject(int index, const std::string& s, void* object);
  void AddStrings(const TStrings& strings);
  void AddStrings(std::initializer_list<std::string_view> strings);
  // Makes this list a copy of `source`: lines, objects, and the text-form
  // settings (Delimiter, QuoteChar, NameValueSeparator, StrictDelimiter).
  virtual void Assign(const TStrings& source);
  // The same for a TStrings source; other sources are TPersistent's affair
  // (EConvertError when neither side knows the other).
  void Assign(const TPersistent* source) override;
  virtual void Exchange(int index1, int index2);
  // Moves the line (with its object) at `curIndex` to `newIndex`.
  virtual void Move(int curIndex, int newIndex);

  virtual int IndexOf(std::string_view s) const;
  int IndexOfName(std::string_view name) const;
  int IndexOfObject(const void* object) const;
  // Same lines in the same order, compared exactly.
  bool Equals(const TStrings& other) const;

  // Name=value lines. GetName gives the text before the first separator, or
  // the empty text for a line without one. SetValue with an empty value
  // deletes the line; otherwise it replaces the line or appends one.
  std::string GetName(int index) const;
  std::string Names(int index) const { return GetName(index); }
  std::string GetValueFromIndex(int index) const;
  void SetValueFromIndex(int index, std::string_view value);
  std::string GetValue(std::string_view name) const;
  std::string Values(std::string_view name) const { return GetValue(name); }
  void SetValue(std::string_view name, std::string_view value);
  char GetNameValueSeparator() const { return nameValueSeparator_; }
  void SetNameValueSeparator(char separator) { nameValueSeparator_ = separator; }

  // All lines, each followed by CR LF (without one after the last line when
  // TrailingLineBreak is off). Setting splits at CR LF, LF or CR; a line
  // break at the very end does not start another line.
  std::string GetText() const;
  void SetText(std::string_view text);
  bool GetTrailingLineBreak() const { return trailingLineBreak_; }
  void SetTrailingLineBreak(bool value) { trailingLineBreak_ = value; }

  // Lines separated by commas. A line that is empty or contains a blank, a
  // control character, a comma or a double quote is written in double quotes
  // with inner quotes doubled. Reading splits at commas and, outside quotes,
  // at blanks; blanks around items are dropped; a delimiter at the very end
  // is ignored. Independent of the Delimiter and QuoteChar settings.
  std::string GetCommaText() const;
  void SetCommaText(std::string_view text);

  // The same rules with Delimiter and QuoteChar. With StrictDelimiter only
  // the delimiter separates items: blanks belong to the items, lines are
  // quoted only when empty or containing the delimiter or the quote, and a
  // delimiter at the end adds an empty item.
  std::string GetDelimitedText() const;
  void SetDelimitedText(std::string_view text);
  char GetDelimiter() const { return delimiter_; }
  void SetDelimiter(char delimiter) { delimiter_ = delimiter; }
  char GetQuoteChar() const { return quoteChar_; }
  void SetQuoteChar(char quote) { quoteChar_ = quote; }
  bool GetStrictDelimiter() const { return strictDelimiter_; }
  void SetStrictDelimiter(bool value) { strictDelimiter_ = value; }

  bool GetCaseSensitive() const { return caseSensitive_; }
  virtual void SetCaseSensitive(bool value) { caseSensitive_ = value; }

  // Holds back change notifications until the matching EndUpdate; nests.
  void BeginUpdate();
  void EndUpdate();
  int GetUpdateCount() const { return updateCount_; }

  // UTF-8 text (a leading byte order mark is skipped when reading). Loading
  // reads from the stream's position to its end; saving writes GetText().
  // SaveToFile replaces the file atomically.
  void LoadFromStream(TStream& stream);
  void SaveToStream(TStream& stream) const;
  void LoadFromFile(const std::string& fileName);
  void SaveToFile(const std::string& fileName) const;

 protected:
  // Called with true by the outermost BeginUpdate, with false by the
  // outermost EndUpdate.
  virtual void SetUpdateState(bool updating);
  // < 0, 0, > 0; honours CaseSensitive.
  virtual int CompareStrings(std::string_view a, std::string_view b) const;
  [[noreturn]] static void Error(const char* message, int index);
  void CheckIndex(int index) const;

 private:
  std::string JoinDelimited(char delimiter, char quote, bool strict) const;
  void SplitDelimited(std::string_view text, char delimiter, char quote, bool strict);

  int updateCount_ = 0;
  bool caseSensitive_ = false;
  bool trailingLineBreak_ = true;
  bool strictDelimiter_ = false;
  char delimiter_ = ',';
  char quoteChar_ = '"';
  char nameValueSeparator_ = '=';
};

enum class TDuplicates { dupIgnore, dupAccept, dupError };
inline constexpr TDuplicates dupIgnore = TDuplicates::dupIgnore;
inline constexpr TDuplicates dupAccept = TDuplicates::dupAccept;
inline constexpr TDuplicates dupError = TDuplicates::dupError;

class TStringList;
// Compares the lines at two indexes of `list`: < 0, 0, > 0.
using TStringListSortCompare = std::function<int(const TStringList& list, int index1, int index2)>;

class TStringList : public TStrings {
  XELO_CLASS(TStringList, TStrings)

 public:
  TStringList() = default;
  TStringList(std::initializer_list<std::string_view> lines);

  int GetCount() const override { return static_cast<int>(items_.size()); }
  std::string Get(int index) const override;
  void Put(int index, const std::string& s) override;
  void* GetObject(int index) const override;
  void PutObject(int index, void* object) override;
  void Insert(int index, const std::string& s) override;
  void Delete(int index) override;
  void Clear() override;
  int Add(const std::string& s) override;
  // In a sorted list with dupIgnore, a line already present keeps its object.
  int AddObject(const std::string& s, void* object) override;
  void Exchange(int index1, int index2) override;
  void Move(int curIndex, int newIndex) override;
  int IndexOf(std::string_view s) const override;
  void SetCaseSensitive(bool value) override;

  // Binary search in a sorted list: true when `s` is present, `index` being
  // its first occurrence; otherwise `index` is where it would be inserted.
  bool Find(std::string_view s, int& index) const;
  // Stable sort by CompareStrings (nothing to do when Sorted).
  void Sort();
  // Stable sort by `compare`; not allowed on a sorted list.
  void CustomSort(const TStringListSortCompare& compare);

  bool GetSorted() const { return sorted_; }
  // Switching on sorts the list.
  void SetSorted(bool value);
  // Applies to Add on a sorted list only: dupIgnore returns the index of the
  // line already present, dupError raises, dupAccept inserts after equal
  // lines.
  TDuplicates GetDuplicates() const { return duplicates_; }
  void SetDuplicates(TDuplicates value) { duplicates_ = value; }

  // OnChanging fires before and OnChange after a change. Within
  // BeginUpdate/EndUpdate, OnChanging fires at the first change only and
  // OnChange once at the outermost EndUpdate, and only when something changed.
  const TStringsNotifyEvent& GetOnChange() const { return onChange_; }
  void SetOnChange(TStringsNotifyEvent handler) { onChange_ = std::move(handler); }
  const TStringsNotifyEvent& GetOnChanging() const { return onChanging_; }
  void SetOnChanging(TStringsNotifyEvent handler) { onChanging_ = std::move(handler); }

 protected:
  void SetUpdateState(bool updating) override;
  virtual void Changing();
  virtual void Changed();

 private:
  struct Item {
    std::string text;
    void* object = nullptr;
  };
  void InsertItem(int index, const std::string& s, void* object);
  void SortItems(const std::function<bool(int, int)>& less);
  void CheckNotSorted() const;

  std::vector<Item> items_;
  bool sorted_ = false;
  TDuplicates duplicates_ = dupIgnore;
  bool changingFired_ = false;  // within an update: OnChanging already fired
  bool changedPending_ = false;  // within an update: something changed
  TStringsNotifyEvent onChange_;
  TStringsNotifyEvent onChanging_;
};

}  // namespace xelo
