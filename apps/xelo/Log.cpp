#include "Log.h"

#include <ostream>
#include <string>

namespace xelo::cli {

namespace {

std::string_view LevelWord(LogLevel level) {
  switch (level) {
    case LogLevel::Error:
      return "error";
    case LogLevel::Warning:
      return "warning";
    case LogLevel::Info:
      return "info";
    case LogLevel::Debug:
      return "debug";
  }
  return "";
}

}  // namespace

Log::Log(std::ostream& out) : out_(out) {}

void Log::Write(LogLevel level, std::string_view text) const {
  if (!Enabled(level)) return;
  std::string_view rest = text;
  // Trailing line breaks would only add empty lines.
  while (!rest.empty() && (rest.back() == '\n' || rest.back() == '\r')) rest.remove_suffix(1);
  do {
    const std::string_view::size_type end = rest.find_first_of("\r\n");
    const std::string_view line = rest.substr(0, end);
    out_ << "xelo: " << LevelWord(level) << ": " << line << '\n';
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end);
    // CR LF is one break, not two.
    if (rest.size() >= 2 && rest[0] == '\r' && rest[1] == '\n') {
      rest.remove_prefix(2);
    } else {
      rest.remove_prefix(1);
    }
  } while (!rest.empty());
  out_.flush();
}

}  // namespace xelo::cli
