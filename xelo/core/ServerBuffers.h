// Who owns what crosses an interface between a server and this library.
//
// COM's rule, and the only way values may enter the library:
//
// - Lent ([in] of a callback): the values, arrays and strings a server
//   passes to one of our sinks stay the server's. The sink reads them,
//   copies what it keeps with CopyLentValue, and never frees, moves or
//   changes them: an in-process server may hand out views of its own cache
//   and free them itself when the call returns.
// - Handed over ([out] of a call): the arrays and strings a server returns
//   belong to us from the moment the call returns, and every one of them is
//   freed exactly once with the task allocator, right after use. A value we
//   keep is taken over with TakeReturnedValue (which empties the slot, so
//   the array's own clean-up frees nothing twice); a text is converted and
//   freed by ReturnedText.
// - Ours, lent to the server ([in] of a call, the values of a write): we
//   allocate them, the server only reads them, and we free them after the
//   call returns, also when it fails.
//
// Thread: the main thread, like every caller.
#pragma once

#include "xelo/com/Variant.h"
#include "xelo/com/WinTypes.h"
#include "xelo/framework/Variant.h"

#include <string>

namespace xelo {

// Replaces `into` with a deep copy of a value the server lent us; the
// server's VARIANT is not touched. A by-reference value is copied as what
// it refers to. Raises EConvertError for a VARIANT no value can be made of
// and std::bad_alloc when out of memory; `into` then keeps its old value.
void CopyLentValue(const VARIANT& lent, Variant& into);

// Takes over a value the server handed out: the result owns what the
// VARIANT owned, and `returned` is left VT_EMPTY. Raises EConvertError for
// an invalid VARIANT, which then stays as it was (the array's clean-up
// clears it).
Variant TakeReturnedValue(VARIANT& returned);

// An [out] string of a server call: pass Put() to the call; the text is
// freed with the task allocator when the holder goes, whichever way the
// caller leaves, also when the call failed but left a string behind.
class ReturnedText {
 public:
  ReturnedText() = default;
  ~ReturnedText() { Reset(); }
  ReturnedText(const ReturnedText&) = delete;
  ReturnedText& operator=(const ReturnedText&) = delete;

  // Frees what is held and hands out the slot for the out-parameter.
  LPWSTR* Put();
  void Reset();
  bool IsNull() const { return text_ == nullptr; }
  // The text as UTF-8; empty for none.
  std::string Text() const;

 private:
  LPWSTR text_ = nullptr;
};

// Frees the strings of an [out] array of `count` strings and then the
// array itself; null arrays and null entries are skipped.
void FreeReturnedTexts(LPWSTR* texts, std::size_t count);

}  // namespace xelo
