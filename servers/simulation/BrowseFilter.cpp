#include "servers/simulation/BrowseFilter.h"

namespace xelo::sim {

BrowseFilter::BrowseFilter(std::u16string_view pattern) : pattern_(pattern) {
  for (std::size_t i = 0; i < pattern_.size(); ++i) {
    if (pattern_[i] != u'[') continue;
    // A class needs at least one member before its "]" ("[]]" is not a
    // class of "]": we keep the syntax simple and unambiguous).
    const std::size_t close = pattern_.find(u']', i + 1);
    if (close == std::u16string::npos) {
      valid_ = false;
      return;
    }
    i = close;
  }
}

bool BrowseFilter::Matches(std::u16string_view text) const {
  return valid_ && (pattern_.empty() || Match(pattern_, text));
}

bool BrowseFilter::MatchClass(std::u16string_view pattern, char16_t c, std::size_t& length) {
  // pattern[0] is '['.
  std::size_t i = 1;
  bool negate = false;
  if (i < pattern.size() && pattern[i] == u'!') {
    negate = true;
    ++i;
  }
  bool found = false;
  while (i < pattern.size() && pattern[i] != u']') {
    const char16_t first = pattern[i];
    if (i + 2 < pattern.size() && pattern[i + 1] == u'-' && pattern[i + 2] != u']') {
      const char16_t last = pattern[i + 2];
      if (first <= c && c <= last) found = true;
      i += 3;
    } else {
      if (first == c) found = true;
      ++i;
    }
  }
  length = i + 1;  // including the ']'
  return found != negate;
}

bool BrowseFilter::Match(std::u16string_view pattern, std::u16string_view text) {
  // Iterative matching with one backtrack point for the last '*': linear
  // enough for names, and no recursion depth to worry about.
  std::size_t p = 0;
  std::size_t t = 0;
  std::size_t starP = std::u16string_view::npos;
  std::size_t starT = 0;
  while (t < text.size()) {
    bool step = false;
    std::size_t length = 1;
    if (p < pattern.size()) {
      const char16_t pc = pattern[p];
      if (pc == u'*') {
        starP = p++;
        starT = t;
        continue;
      }
      if (pc == u'?') {
        step = true;
      } else if (pc == u'#') {
        step = text[t] >= u'0' && text[t] <= u'9';
      } else if (pc == u'[') {
        step = MatchClass(pattern.substr(p), text[t], length);
      } else {
        step = pc == text[t];
      }
    }
    if (step) {
      p += length;
      ++t;
    } else if (starP != std::u16string_view::npos) {
      p = starP + 1;
      t = ++starT;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == u'*') ++p;
  return p == pattern.size();
}

}  // namespace xelo::sim
