#include "StandardInput.h"

#include "ExitCodes.h"

#include <algorithm>
#include <cstdio>
#include <iostream>

namespace xelo::cli {

namespace {

bool Blank(const std::string& line) {
  return std::all_of(line.begin(), line.end(), [](char c) { return c == ' ' || c == '\t' || c == '\r'; });
}

std::vector<std::string> StandardInputLines(const std::string& what, const LineCheck& check) {
  std::vector<std::string> lines;
  std::string line;
  for (long number = 1; std::getline(std::cin, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (Blank(line)) continue;
    try {
      if (line.find('\0') != std::string::npos) throw UsageError("holds a NUL byte");
      if (check) check(line);
    } catch (const UsageError& e) {
      throw UsageError("standard input, line " + std::to_string(number) + ": " + e.what());
    }
    lines.push_back(line);
  }
  // std::cin reads through the C library's stdin, which keeps the error.
  if (std::cin.bad() || std::ferror(stdin) != 0) throw RuntimeFailure("cannot read standard input");
  if (lines.empty()) throw UsageError("no " + what + " on standard input");
  return lines;
}

}  // namespace

ServerAndArguments CommandArguments(const CommonOptions& options, const std::vector<std::string>& arguments,
                                    const std::string& what, const LineCheck& check) {
  ServerAndArguments split = SplitServer(options, arguments);
  if (split.arguments.empty()) throw UsageError("no " + what + " given");
  if (std::count(split.arguments.begin(), split.arguments.end(), "-") > 1) {
    throw UsageError("'-' (standard input) may be given once only");
  }
  const auto dash = std::find(split.arguments.begin(), split.arguments.end(), "-");
  if (dash == split.arguments.end()) return split;
  std::vector<std::string> lines = StandardInputLines(what, check);
  const auto at = split.arguments.erase(dash);
  split.arguments.insert(at, lines.begin(), lines.end());
  return split;
}

}  // namespace xelo::cli
