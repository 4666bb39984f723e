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

#include <string>
#include <string_view>

namespace xelo::sim {

class BrowseFilter {
 public:
  explicit BrowseFilter(std::u16string_view pattern);

  bool Valid() const { return valid_; }
  bool Matches(std::u16string_view text) const;

 private:
  static bool Match(std::u16string_view pattern, std::u16string_view text);
  // Matches one bracket class at the start of `pattern` against `c`;
  // `length` receives the size of the class in the pattern.
  static bool MatchClass(std::u16string_view pattern, char16_t c, std::size_t& length);

  std::u16string pattern_;
  bool valid_ = true;
};

}  // namespace xelo::sim
