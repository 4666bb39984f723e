// Diagnostics of `xelo`: everything that is not data goes to stderr, with
// the program's name in front, so that stdout stays clean for pipes.
#pragma once

#include <iosfwd>
#include <string_view>

namespace xelo::cli {

enum class LogLevel { Error, Warning, Info, Debug };

class Log {
 public:
  explicit Log(std::ostream& out);

  void SetLevel(LogLevel level) { level_ = level; }
  LogLevel Level() const { return level_; }
  bool Enabled(LogLevel level) const { return level <= level_; }

  // One line per line of `text` (the library's multi-line texts end their
  // lines with CR LF), each as "xelo: <level>: <line>". Errors are always
  // written.
  void Write(LogLevel level, std::string_view text) const;
  void Error(std::string_view text) const { Write(LogLevel::Error, text); }
  void Warning(std::string_view text) const { Write(LogLevel::Warning, text); }
  void Info(std::string_view text) const { Write(LogLevel::Info, text); }
  void Debug(std::string_view text) const { Write(LogLevel::Debug, text); }

 private:
  std::ostream& out_;
  LogLevel level_ = LogLevel::Warning;
};

}  // namespace xelo::cli
