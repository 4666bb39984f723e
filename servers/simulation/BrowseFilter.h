// The filter of IOPCBrowseServerAddressSpace::BrowseOPCItemIDs, in the
// usual pattern syntax:
//   *        any run of characters (also none)
//   ?        any one character
//   #        one decimal digit
//   [abc]    one of the listed characters; [a-z] a range; [!abc] none of them
//   other    itself
// Matching is case-sensitive, like our item identifiers. An empty (or
// null) filter matches everything. A "[" without its "]" makes the filter
// invalid (OPC_E_INVALIDFILTER).
#pragma once

#include "xelo/com/WinTypes.h"

#include <string>
#include <string_view>

namespace xelo::sim {

class BrowseFilter {
 public:
  explicit BrowseFilter(com::OleStringView pattern);

  bool Valid() const { return valid_; }
  bool Matches(com::OleStringView text) const;

 private:
  static bool Match(com::OleStringView pattern, com::OleStringView text);
  // Matches one bracket class at the start of `pattern` against `c`;
  // `length` receives the size of the class in the pattern.
  static bool MatchClass(com::OleStringView pattern, OLECHAR c, std::size_t& length);

  com::OleString pattern_;
  bool valid_ = true;
};

}  // namespace xelo::sim
