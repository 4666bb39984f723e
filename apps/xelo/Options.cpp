#include "Options.h"

#include <CLI/CLI.hpp>

#include <cmath>
#include <cstdlib>
#include <map>

namespace xelo::cli {

namespace {

const std::map<std::string, Format>& Formats() {
  static const std::map<std::string, Format> formats{
      {"table", Format::Table}, {"csv", Format::Csv}, {"json", Format::Json}, {"jsonl", Format::Jsonl}};
  return formats;
}

const std::map<std::string, LogLevel>& Levels() {
  static const std::map<std::string, LogLevel> levels{
      {"error", LogLevel::Error}, {"warning", LogLevel::Warning}, {"info", LogLevel::Info}, {"debug", LogLevel::Debug}};
  return levels;
}

// One of `words`, in any case; the option keeps the word in lower case.
template <class Map>
CLI::Validator OneOf(const Map& words) {
  std::string list;
  for (const auto& [word, value] : words) list += (list.empty() ? "" : ", ") + word;
  return CLI::Validator(
      [&words, list](std::string& text) -> std::string {
        std::string lower = text;
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (words.count(lower) == 0) return "'" + text + "' is none of " + list;
        text = lower;
        return {};
      },
      "");
}

// A finite number in [low, high] (high unbounded when not given), or a
// message. strtod reads "nan" and "inf" as numbers; no option means them.
CLI::Validator Number(const char* what, double low, bool lowIncluded, std::optional<double> high = std::nullopt) {
  return CLI::Validator(
      [=](std::string& text) -> std::string {
        char* end = nullptr;
        const double value = std::strtod(text.c_str(), &end);
        const bool number = end != text.c_str() && *end == '\0' && std::isfinite(value);
        if (!number || value < low || (!lowIncluded && value == low) || (high && value > *high)) {
          return "'" + text + "' is not " + what;
        }
        return {};
      },
      "");
}

}  // namespace

void CommonOptionWords::Apply(CommonOptions& options) const {
  options.format = Formats().at(format);
  options.logLevel = Levels().at(logLevel);
  options.stampZone = localTime ? StampZone::Local : StampZone::Utc;
}

void CheckPositive(CLI::Option& option) { option.check(Number("a number greater than 0", 0, false)); }

void CheckSeconds(CLI::Option& option) {
  // The steady clock counts nanoseconds in 64 bits, about 292 years from
  // its start; a bound well inside that keeps every deadline computable.
  option.check(Number("a number of seconds greater than 0 and at most 1000000000", 0, false, kMaxSeconds));
}

void CheckSecondsOrZero(CLI::Option& option) {
  option.check(Number("a number of seconds from 0 (no limit) to 1000000000", 0, true, kMaxSeconds));
}

void CheckPercent(CLI::Option& option) { option.check(Number("a percentage from 0 to 100", 0, true, 100.0)); }

void AddServerArguments(CLI::App& app, std::vector<std::string>& arguments, const std::string& name,
                        const std::string& synopsis, const std::string& what, bool required) {
  CLI::Option* option =
      app.add_option(name, arguments,
                     synopsis + ": " + what +
                         "; a first argument that names a server of this computer (a ProgID or a class id in "
                         "braces) chooses the server instead of --server")
          ->type_name("");
  if (required) option->required();
}

void AddCommonOptions(CLI::App& app, CommonOptions& options, CommonOptionWords& words) {
  app.add_option("--server", options.server, "OPC server: a ProgID or a class id in braces")
      ->envname("XELO_SERVER")
      ->capture_default_str()
      ->group("Common options");
  app.add_option("--computer", options.computer, "computer that runs the server (default: this one)")
      ->envname("XELO_COMPUTER")
      ->group("Common options");
  app.add_option("--format", words.format, "output format: table, csv, json or jsonl")
      ->transform(OneOf(Formats()))
      ->capture_default_str()
      ->group("Common options");
  CLI::Option* timeout = app.add_option("--timeout", options.timeout, "seconds to wait for the server's answers")
                             ->capture_default_str()
                             ->group("Common options");
  CheckSeconds(*timeout);
  app.add_flag("--local-time", words.localTime,
               "time stamps in JSON and CSV in local time with its UTC offset instead of UTC (tables always show "
               "local time)")
      ->group("Common options");
  app.add_option("--log-level", words.logLevel, "diagnostics on stderr: error, warning, info or debug")
      ->transform(OneOf(Levels()))
      ->capture_default_str()
      ->group("Common options");
}

}  // namespace xelo::cli
