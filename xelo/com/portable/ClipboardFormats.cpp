#include "xelo/com/ClipboardFormats.h"

#include "xelo/com/WideText.h"

#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace {

constexpr UINT kFirstFormat = 0xC000;
constexpr UINT kLastFormat = 0xFFFF;

// The window system compares atom names without regard to case. We fold
// ASCII and the Latin-1 letters, which covers every format name that OPC
// and the data-transfer world actually use, without pulling in a Unicode
// case table.
OLECHAR FoldCase(OLECHAR c) {
  if (c >= OLESTR('A') && c <= OLESTR('Z')) return static_cast<OLECHAR>(c + 0x20);
  if (c >= 0x00C0 && c <= 0x00DE && c != 0x00D7) return static_cast<OLECHAR>(c + 0x20);
  return c;
}

xelo::com::OleString Folded(xelo::com::OleStringView name) {
  xelo::com::OleString key(name);
  for (auto& c : key) c = FoldCase(c);
  return key;
}

class FormatTable {
 public:
  // 0 when the name is empty or the range is used up.
  UINT Register(xelo::com::OleStringView name) {
    if (name.empty()) return 0;
    xelo::com::OleString key = Folded(name);
    std::lock_guard lock(mutex_);
    if (auto it = numbers_.find(key); it != numbers_.end()) return it->second;
    if (names_.size() > kLastFormat - kFirstFormat) return 0;
    const UINT number = kFirstFormat + static_cast<UINT>(names_.size());
    // The first spelling wins, as with atoms: later registrations that
    // differ only in case get the number but do not rename the format.
    names_.emplace_back(ToUtf8Name(name));
    numbers_.emplace(std::move(key), number);
    return number;
  }

  // Empty when the number was never handed out.
  std::string Name(UINT format) {
    std::lock_guard lock(mutex_);
    if (format < kFirstFormat || format - kFirstFormat >= names_.size()) return {};
    return names_[format - kFirstFormat];
  }

 private:
  static std::string ToUtf8Name(xelo::com::OleStringView name) { return xelo::com::ToUtf8(name); }

  std::mutex mutex_;
  std::unordered_map<xelo::com::OleString, UINT> numbers_;
  std::vector<std::string> names_;  // index = number - kFirstFormat
};

FormatTable& Table() {
  // Built on first use, so that formats registered from static initialisers
  // of other translation units find the table ready.
  static FormatTable table;
  return table;
}

}  // namespace

UINT RegisterClipboardFormatA(LPCSTR name) {
  if (name == nullptr) return 0;
  try {
    return Table().Register(xelo::com::ToUtf16(name));
  } catch (...) {
    return 0;  // out of memory: the caller sees "no format", as on Win32
  }
}

UINT RegisterClipboardFormatW(LPCWSTR name) {
  if (name == nullptr) return 0;
  try {
    return Table().Register(xelo::com::OleStringView(name));
  } catch (...) {
    return 0;
  }
}

INT GetClipboardFormatNameA(UINT format, LPSTR buffer, INT maxCount) {
  if (buffer == nullptr || maxCount <= 0) return 0;
  std::string name;
  try {
    name = Table().Name(format);
  } catch (...) {
    name.clear();
  }
  std::size_t count = name.size();
  const auto room = static_cast<std::size_t>(maxCount - 1);
  if (count > room) {
    count = room;
    // Never cut a UTF-8 sequence in half: back up over continuation bytes
    // and the lead byte they belong to.
    while (count > 0 && (static_cast<unsigned char>(name[count]) & 0xC0) == 0x80) --count;
  }
  if (count > 0) std::memcpy(buffer, name.data(), count);
  buffer[count] = '\0';
  return static_cast<INT>(count);
}
