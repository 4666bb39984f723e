#include "servers/simulation/BrowseFilter.h"

namespace xelo::sim {

BrowseFilter::BrowseFilter(com::OleStringView pattern) : pattern_(pattern) {
  for (std::size_t i = 0; i < pattern_.size(); ++i) {
    if (pattern_[i] != OLESTR('[')) continue;
    // A class needs at least one member before its "]" ("[]]" is not a
    // class of "]": we keep the syntax simple and unambiguous).
    const std::size_t close = pattern_.find(OLESTR(']'), i + 1);
    if (close == com::OleString::npos) {
      valid_ = false;
      return;
    }
    i = close;
  }
}

bool BrowseFilter::Matches(com::OleStringView text) const {
  return valid_ && (pattern_.empty() || Match(pattern_, text));
}

bool BrowseFilter::MatchClass(com::OleStringView pattern, OLECHAR c, std::size_t& length) {
  // pattern[0] is '['.
  std::size_t i = 1;
  bool negate = false;
  if (i < pattern.size() && pattern[i] == OLESTR('!')) {
    negate = true;
    ++i;
  }
  bool found = false;
  while (i < pattern.size() && pattern[i] != OLESTR(']')) {
    const OLECHAR first = pattern[i];
    if (i + 2 < pattern.size() && pattern[i + 1] == OLESTR('-') && pattern[i + 2] != OLESTR(']')) {
      const OLECHAR last = pattern[i + 2];
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

bool BrowseFilter::Match(com::OleStringView pattern, com::OleStringView text) {
  // Iterative matching with one backtrack point for the last '*': linear
  // enough for names, and no recursion depth to worry about.
  std::size_t p = 0;
  std::size_t t = 0;
  std::size_t starP = com::OleStringView::npos;
  std::size_t starT = 0;
  while (t < text.size()) {
    bool step = false;
    std::size_t length = 1;
    if (p < pattern.size()) {
      const OLECHAR pc = pattern[p];
      if (pc == OLESTR('*')) {
        starP = p++;
        starT = t;
        continue;
      }
      if (pc == OLESTR('?')) {
        step = true;
      } else if (pc == OLESTR('#')) {
        step = text[t] >= OLESTR('0') && text[t] <= OLESTR('9');
      } else if (pc == OLESTR('[')) {
        step = MatchClass(pattern.substr(p), text[t], length);
      } else {
        step = pc == text[t];
      }
    }
    if (step) {
      p += length;
      ++t;
    } else if (starP != com::OleStringView::npos) {
      p = starP + 1;
      t = ++starT;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == OLESTR('*')) ++p;
  return p == pattern.size();
}

}  // namespace xelo::sim
