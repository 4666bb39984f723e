#include "xelo/com/Activation.h"

#include "xelo/com/WideText.h"
#include "xelo/platform/Platform.h"

#include <algorithm>
#include <climits>

namespace xelo::com {
namespace {

OleString Lower(OleStringView text) {
  OleString lower(text);
  for (auto& c : lower) {
    if (c >= OLESTR('A') && c <= OLESTR('Z')) c = static_cast<OLECHAR>(c - OLESTR('A') + OLESTR('a'));
  }
  return lower;
}

OleStringView TrimBlanks(OleStringView text) {
  while (!text.empty() && text.front() <= OLESTR(' ')) text.remove_prefix(1);
  while (!text.empty() && text.back() <= OLESTR(' ')) text.remove_suffix(1);
  return text;
}

}  // namespace

bool IsLocalComputerName(OleStringView name) {
  name = TrimBlanks(name);
  if (name.starts_with(OLESTR("\\\\"))) name.remove_prefix(2);
  if (name.empty()) return true;
  const OleString lower = Lower(name);
  if (lower == OLESTR("localhost") || lower == OLESTR("127.0.0.1") || lower == OLESTR("::1")) return true;
  const std::string host = platform::HostName();
  if (host.empty()) return false;
  const OleString hostName = Lower(ToUtf16(host));
  if (lower == hostName) return true;
  // The short name of a fully qualified host name names this computer too.
  const auto dot = hostName.find(OLESTR('.'));
  return dot != OleString::npos && lower == hostName.substr(0, dot);
}

}  // namespace xelo::com
