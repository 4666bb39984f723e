// The `xelo` program as a user runs it: arguments, output formats, exit
// codes, against the embedded simulation server it links.
#include "support/NativeCom.h"
#include "XeloProcess.h"

#include "xelo/core/XeloErrors.h"
#include "xelo/opc/OpcError.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <map>
#include <tuple>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using nlohmann::json;
using xelo::testing::RunXelo;
using xelo::testing::ScratchDirectory;
using xelo::testing::XeloProcess;
using xelo::testing::XeloResult;
using Strings = std::vector<std::string>;

constexpr int kOk = 0;
constexpr int kFailure = 1;
constexpr int kUsage = 2;
constexpr int kItemsFailed = 3;

json ParseJson(const std::string& text) {
  json parsed = json::parse(text, nullptr, false);
  EXPECT_FALSE(parsed.is_discarded()) << "not JSON:\n" << text;
  return parsed;
}

#if defined(_WIN32)
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

// The tool writes text with the system's line ends: "\r\n" on Windows
// (its standard output is in text mode there), "\n" elsewhere. Each line
// must end so; the lines come back without their ends.
Strings Lines(const std::string& text) {
  Strings lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line); lines.push_back(line)) {
    const bool carriageReturn = !line.empty() && line.back() == '\r';
    EXPECT_EQ(carriageReturn, kWindows) << "line end of: " << line;
    if (carriageReturn) line.pop_back();
  }
  return lines;
}

// `text` split at each `separator`.
Strings Words(const std::string& text, char separator = ' ') {
  Strings words;
  std::istringstream in(text);
  for (std::string word; std::getline(in, word, separator);) words.push_back(word);
  return words;
}

json ParseJsonLines(const std::string& text) {
  json rows = json::array();
  for (const std::string& line : Lines(text)) rows.push_back(ParseJson(line));
  return rows;
}

// Runs the tool and expects it to end with `exitCode`.
XeloResult Xelo(const Strings& arguments, int exitCode = kOk, const Strings& environment = {},
                const std::string& input = {}) {
  XeloResult result = RunXelo(arguments, environment, input);
  EXPECT_EQ(result.exitCode, exitCode) << ::testing::PrintToString(arguments) << "\n" << result.err;
  return result;
}

// The output of such a run as JSON; the lines of jsonl as one array.
json XeloJson(const Strings& arguments, int exitCode = kOk, const Strings& environment = {},
              const std::string& input = {}) {
  const std::string out = Xelo(arguments, exitCode, environment, input).out;
  return std::find(arguments.begin(), arguments.end(), "jsonl") != arguments.end() ? ParseJsonLines(out)
                                                                                   : ParseJson(out);
}

// The chosen members of a row as JSON texts, blank-separated, so that a
// whole row (or a whole listing) is compared in one expectation.
std::string Row(const json& row, std::initializer_list<const char*> keys) {
  std::string text;
  for (const char* key : keys) text += (text.empty() ? "" : " ") + (row.contains(key) ? row[key].dump() : "-");
  return text;
}

Strings Table(const json& rows, std::initializer_list<const char*> keys) {
  Strings lines;
  for (const json& row : rows) lines.push_back(Row(row, keys));
  return lines;
}

// A result code's text as the rows carry it.
std::string Text(HRESULT code) { return json(xelo::GetOPCErrorMessage(code)).dump(); }

// A line of shell as a user types it, "$XELO" being the built program, run
// in `dir`. A tool that hangs is ended after a minute and fails the test
// rather than the whole suite.
XeloResult RunShell([[maybe_unused]] const ScratchDirectory& dir, const std::string& line) {
#if defined(_WIN32)
  ADD_FAILURE() << "no POSIX shell to run: " << line;
  return {};
#else
  const std::string script = dir.File("script.sh");
  xelo::testing::WriteWholeFile(script, "cd '" + dir.Path() + "' || exit 99\n" + line + "\n");
  const std::string command = "XELO='" XELO_CLI "' timeout 60 bash '" + script + "' >'" + dir.File("sh.out") + "' 2>'" +
                              dir.File("sh.err") + "'";
  const int status = std::system(command.c_str());
  XeloResult result{WIFEXITED(status) ? WEXITSTATUS(status) : -1, xelo::testing::ReadWholeFile(dir.File("sh.out")),
                    xelo::testing::ReadWholeFile(dir.File("sh.err"))};
  EXPECT_EQ(result.err.find("Sanitizer"), std::string::npos) << result.err;
  return result;
#endif
}

const json* FindBy(const json& rows, const std::string& key, const std::string& value) {
  for (const json& row : rows) {
    if (row.contains(key) && row[key] == value) return &row;
  }
  return nullptr;
}

// Saves Static.Int32 as the configuration `file`, with `from` in it
// replaced by `to`.
void SaveEdited(const std::string& file, const std::string& from, const std::string& to) {
  ASSERT_EQ(RunXelo({"save", "Static.Int32", "-o", file}).exitCode, kOk);
  std::string text = xelo::testing::ReadWholeFile(file);
  const std::size_t at = text.find(from);
  ASSERT_NE(at, std::string::npos) << text;
  xelo::testing::WriteWholeFile(file, text.replace(at, from.size(), to));
}

// "YYYY-MM-DDThh:mm:ss.mmm" as minutes since some fixed day (from the
// calendar fields alone) and what follows it ("Z", "+01:00"); {0, "?"} when
// `text` is no such time stamp.
std::pair<long, std::string> IsoStamp(const std::string& text) {
  static const std::regex pattern(R"(^(\d{4})-(\d\d)-(\d\d)T(\d\d):(\d\d):\d\d\.\d{3}(.*)$)");
  std::smatch match;
  if (!std::regex_match(text, match, pattern)) return {0, "?"};
  const int month = std::stoi(match[2]);
  const int y = std::stoi(match[1]) - (month < 3 ? 1 : 0);
  const int m = (month + 9) % 12;  // March is 0
  const long days = 365L * y + y / 4 - y / 100 + y / 400 + (153 * m + 2) / 5 + std::stoi(match[3]);
  return {days * 1440 + std::stoi(match[4]) * 60 + std::stoi(match[5]), match[6].str()};
}

// ---- servers and status -----------------------------------------------------------

TEST(XeloServers, CategoriesRegistryAndStatusWithUtcTimes) {
  const json rows = XeloJson({"servers", "--format", "json"});
  std::set<std::string> ours;  // a Windows computer may list other servers too
  for (const json& row : rows) {
    if (row["progId"].get<std::string>().starts_with("Xelo.Sim.")) ours.insert(Row(row, {"progId", "categories"}));
  }
  EXPECT_EQ(ours, (std::set<std::string>{R"("Xelo.Sim.1" ["da1","da2"])", R"("Xelo.Sim.DA1.1" ["da1"])",
                                         R"("Xelo.Sim.Flat.1" ["da2"])", R"("Xelo.Sim.AE.1" ["ae"])"}));
  ASSERT_NE(FindBy(rows, "progId", "Xelo.Sim.1"), nullptr);
  EXPECT_EQ(Row(*FindBy(rows, "progId", "Xelo.Sim.1"), {"classId", "description"}),
            R"("{5C1A0001-7E10-4B8A-9C35-58454C4F5349}" "Xelo OPC DA Simulation Server")");

  // The categories choose what the enumerator is asked for.
  const json ae = XeloJson({"servers", "--categories", "ae", "--format", "jsonl"});
  for (const json& row : ae) EXPECT_EQ(row["categories"], json({"ae"})) << row;
  EXPECT_NE(FindBy(ae, "progId", "Xelo.Sim.AE.1"), nullptr);

  const std::string registry = Xelo({"servers", "--registry"}).out;
  EXPECT_TRUE(Lines(registry).at(0).starts_with("PROGID")) << registry;
  EXPECT_NE(registry.find("\nXelo.Sim.1 "), std::string::npos) << registry;

  const json status = XeloJson({"status", "Xelo.Sim.1", "--format", "json"});
  EXPECT_EQ(Row(status, {"server", "state", "stateCode", "vendor", "lastUpdateTime"}),
            R"("Xelo.Sim.1" "running" 1 "Xelo OPC DA Simulation Server" null)");
  EXPECT_TRUE(status["version"].is_string());
  for (const char* key : {"startTime", "currentTime"}) EXPECT_EQ(IsoStamp(status.value(key, "")).second, "Z") << status;
}

// What the tool cannot do for lack of a server, a branch or a file: exit 1,
// nothing on stdout, a message that names the culprit.
TEST(XeloFailures, ExitOneAndNameTheCulprit) {
  ScratchDirectory scratch;
  xelo::testing::WriteWholeFile(scratch.File("notes.txt"), "shopping list\r\n");
  const std::tuple<Strings, Strings, std::string> cases[]{
      {{"servers", "--computer", "no-such-host"}, {}, "no-such-host"},
      {{"status", "No.Such.Server"}, {}, "No.Such.Server"},
      {{"status"}, {"XELO_SERVER=No.Such.Server"}, "No.Such.Server"},
      {{"status"}, {"XELO_COMPUTER=no-such-host"}, "no-such-host"},
      {{"browse", "No Such Branch"}, {}, "No Such Branch"},
      {{"run", scratch.File("notes.txt")}, {}, "wrong fileformat"},
      {{"run", scratch.File("missing.xelo")}, {}, "missing.xelo"},
  };
  for (const auto& [arguments, environment, message] : cases) {
    SCOPED_TRACE(arguments[0] + " " + message);
    // Wine creates everything here, whatever the computer.
    if (environment == Strings{"XELO_COMPUTER=no-such-host"} && xelo::test::NativeComUnderWine()) continue;
    const XeloResult result = Xelo(arguments, kFailure, environment);
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find(message), std::string::npos) << result.err;
  }
}

// ---- browse and props ---------------------------------------------------------------

TEST(XeloBrowse, TreeFiltersDepthIdsAndFlatListings) {
  Strings lines = Lines(Xelo({"browse"}).out);
  const Strings expected{"Channel 1/",   "  Device 1/", "    Ramp", "    Random", "    Sine",   "    Counter",
                         "    Setpoint", "    Switch",  "    Text", "    Array",  "  Device 2/"};
  for (const char* top : {"Static/", "Behaviour/"}) EXPECT_NE(std::find(lines.begin(), lines.end(), top), lines.end());
  lines.resize(expected.size());
  EXPECT_EQ(lines, expected);

  // A name filter keeps the branches that lead to matching items only.
  const std::pair<Strings, Strings> listings[]{
      {{"browse", "--filter", "Ra*", "--format", "csv"},
       {"type,depth,name,id", "branch,0,Channel 1,Channel 1", "branch,1,Device 1,Channel 1.Device 1",
        "item,2,Ramp,Channel 1.Device 1.Ramp", "item,2,Random,Channel 1.Device 1.Random",
        "branch,1,Device 2,Channel 1.Device 2", "item,2,Ramp,Channel 1.Device 2.Ramp",
        "item,2,Random,Channel 1.Device 2.Random"}},
      {{"browse", "--depth", "1"}, {"Channel 1/", "Static/", "Behaviour/"}},
      {{"browse", "Channel 1.Device 1", "--ids", "--filter", "Ramp"}, {"Ramp  Channel 1.Device 1.Ramp"}},
  };
  for (const auto& [arguments, output] : listings) {
    SCOPED_TRACE(arguments[1]);
    EXPECT_EQ(Lines(Xelo(arguments).out), output);
  }

  json rows = XeloJson({"browse", "Channel 1", "--format", "json"});
  ASSERT_EQ(rows.size(), 18u);  // two devices of eight items
  EXPECT_EQ(Table({rows[0], rows[1], rows[10]}, {"type", "depth", "name", "id"}),
            (Strings{R"("branch" 0 "Device 1" "Channel 1.Device 1")", R"("item" 1 "Ramp" "Channel 1.Device 1.Ramp")",
                     R"("item" 1 "Ramp" "Channel 1.Device 2.Ramp")"}));

  rows = XeloJson({"browse", "Static", "--flat", "--format", "jsonl"});
  ASSERT_EQ(rows.size(), 10u);
  for (const json& row : rows) {
    EXPECT_TRUE(row["type"] == "item" && row["id"].get<std::string>().starts_with("Static.")) << row;
  }

  // A flat server, chosen through the environment.
  rows = XeloJson({"browse", "--format", "json"}, kOk, {"XELO_SERVER=Xelo.Sim.Flat.1"});
  ASSERT_FALSE(rows.empty());
  for (const json& row : rows) EXPECT_EQ(row["type"], "item") << row;
  EXPECT_NE(FindBy(rows, "id", "Channel 1.Device 1.Ramp"), nullptr);
}

TEST(XeloProps, ListsIdDescriptionTypeAndValueAndSaysWhatCodesMean) {
  // The items from standard input here, from the arguments below.
  const json rows =
      XeloJson({"props", "-", "--format", "json"}, kItemsFailed, {}, "Channel 1.Device 1.Ramp\nNo.Such.Item\n");
  const json* canonical = FindBy(rows, "description", "Item Canonical Data Type");
  const json* units = FindBy(rows, "description", "EU Units");
  // The property list's failure reaches the tool as text; the code is found.
  const json* unknown = FindBy(rows, "item", "No.Such.Item");
  ASSERT_TRUE(canonical && units && unknown) << rows;
  EXPECT_EQ(Row(*canonical, {"item", "id", "type", "value"}), R"("Channel 1.Device 1.Ramp" 1 "vtI2" 5)");  // VT_R8
  EXPECT_EQ((*units)["value"], "%");
  EXPECT_EQ(Row(*unknown, {"value", "error", "errorCode", "errorName"}),
            "null " + Text(OPC_E_UNKNOWNITEMID) + R"( "0xC0040007" "OPC_E_UNKNOWNITEMID")");

  const std::string out = Xelo({"props", "Static.ReadOnly"}).out;
  for (std::string text : {"3 (vtI4)", "192 (good)", "1 (read)"}) EXPECT_NE(out.find(text), text.npos) << text;
}

// ---- read ----------------------------------------------------------------------

// A known and an unknown item give exit 3 and whole rows in every format.
TEST(XeloRead, JsonTableCsvAndRepeatedReads) {
  // A byte that is no UTF-8 comes back as U+FFFD, the output still valid.
  for (const char* format : {"json", "jsonl"}) {
    SCOPED_TRACE(format);
    // Static.ReadOnly, as no other test writes it: under Windows the server
    // process is shared by the test programs running at the same time.
    const json rows = XeloJson({"read", "Static.ReadOnly", "No.Such.Item\xff", "--format", format}, kItemsFailed);
    ASSERT_EQ(rows.size(), 2u) << rows;
    EXPECT_EQ(Table(rows, {"item", "value", "type", "quality", "qualityCode", "error", "errorCode", "errorName"}),
              (Strings{R"("Static.ReadOnly" 42 "vtI4" "good" 192 null null null)",
                       json("No.Such.Item\uFFFD").dump() + " null null null null " + Text(OPC_E_UNKNOWNITEMID) +
                           R"( "0xC0040007" "OPC_E_UNKNOWNITEMID")"}));
    EXPECT_TRUE(rows[0]["timestamp"].is_string() && rows[1]["timestamp"].is_null()) << rows;
  }

  // Items from standard input come one a line, in the place of the "-";
  // blank lines and CR LF line ends are no items.
  EXPECT_EQ(Table(XeloJson({"read", "Static.Double", "-", "Static.Bool", "--format", "jsonl"}, kItemsFailed, {},
                           "Static.Int32\r\n\n  \nStatic.String\nNo.Such.Item"),
                  {"item"}),
            (Strings{R"("Static.Double")", R"("Static.Int32")", R"("Static.String")", R"("No.Such.Item")",
                     R"("Static.Bool")"}));

  EXPECT_EQ(
      Table(XeloJson({"read", "Behaviour.Bad", "Behaviour.Uncertain", "Static.Double", "--device", "--format", "json"}),
            {"quality"}),
      (Strings{R"("bad: device failure")", R"("uncertain: last usable value")", R"("good")"}));

  // The first argument may name the server; the table leaves the codes out.
  Strings lines = Lines(Xelo({"read", "Xelo.Sim.DA1.1", "Channel 1.Device 1.Array", "No.Such.Item"}, kItemsFailed).out);
  ASSERT_EQ(lines.size(), 3u) << ::testing::PrintToString(lines);
  EXPECT_TRUE(lines[0].starts_with("ITEM")) << lines[0];
  EXPECT_NE(lines[1].find("vtR8[]"), std::string::npos) << lines[1];
  EXPECT_EQ(lines[2].find("OPC_E_UNKNOWNITEMID"), std::string::npos) << lines[2];

  // CSV has the codes as columns; a field with a comma or a quote is
  // quoted, its quotes doubled.
  lines =
      Lines(Xelo({"read", "Static.String", "No.Such.Item", "say \"hi\", then", "--format", "csv"}, kItemsFailed).out);
  ASSERT_EQ(lines.size(), 4u) << ::testing::PrintToString(lines);
  EXPECT_EQ(lines[0], "item,value,type,quality,timestamp,error,errorCode,errorName,qualityCode");
  EXPECT_TRUE(lines[1].starts_with("Static.String,")) << lines[1];
  EXPECT_EQ(lines[2],
            "No.Such.Item,,,,," + xelo::GetOPCErrorMessage(OPC_E_UNKNOWNITEMID) + ",0xC0040007,OPC_E_UNKNOWNITEMID,");
  EXPECT_TRUE(lines[3].starts_with("\"say \"\"hi\"\", then\",,,,,")) << lines[3];

  // Repeated reads poll the counted times into one document.
  const json rows = XeloJson(
      {"read", "Channel 1.Device 1.Ramp", "No.Such.Item", "--repeat", "0.25", "--count", "3", "--format", "json"},
      kItemsFailed);
  ASSERT_EQ(rows.size(), 6u) << rows;
  double previous = -1;
  for (std::size_t i = 0; i < rows.size(); i += 2) {
    EXPECT_EQ(Table({rows[i], rows[i + 1]}, {"item", "errorName"}),
              (Strings{R"("Channel 1.Device 1.Ramp" null)", R"("No.Such.Item" "OPC_E_UNKNOWNITEMID")"}));
    // A new value each time: the ramp climbs between the reads.
    ASSERT_TRUE(rows[i]["value"].is_number()) << rows[i];
    EXPECT_GT(rows[i]["value"].get<double>(), previous) << rows;
    previous = rows[i]["value"].get<double>();
  }

  // Without headers, table and CSV are rows only, one per read.
  for (const std::string options :
       {"--repeat 0.1 --count 2 --format csv", "--repeat 0.1 --count 2 --format table", "--format csv"}) {
    SCOPED_TRACE(options);
    lines = Lines(Xelo(Words("read Static.Int32 --no-header " + options)).out);
    EXPECT_EQ(lines.size(), options.starts_with("--repeat") ? 2u : 1u);
    for (const std::string& line : lines) EXPECT_TRUE(line.starts_with("Static.Int32")) << line;
  }
}

// ---- write ---------------------------------------------------------------------

// Writes, some item failing each time, and gives each row's result and
// codes; a text that does not convert fails alone, with the platform's own
// words after the tool's.
Strings WriteRows(const Strings& arguments) {
  json rows = XeloJson(arguments, kItemsFailed);
  for (json& row : rows) {
    const std::string text = row["result"].get<std::string>();
    EXPECT_EQ(row["error"], text.starts_with("ok") ? json() : json(text)) << row;
    if (text.starts_with("cannot convert 'abc' to vtI4: ")) row["result"] = "cannot convert 'abc' to vtI4";
  }
  return Table(rows, {"item", "type", "value", "result", "errorCode", "errorName"});
}

TEST(XeloWrite, TextBecomesTheCanonicalTypeAndEveryItemHasItsResult) {
  const std::string badRights = Text(OPC_E_BADRIGHTS) + R"( "0xC0040006" "OPC_E_BADRIGHTS")";
  const std::string unconverted = R"("Static.Int32" "vtI4" "abc" "cannot convert 'abc' to vtI4" null null)";
  EXPECT_EQ(WriteRows({"write", "Static.ReadOnly=5", "Static.Int32=abc", "Channel 1.Device 1.Array=4;5.5;6",
                       "Static.Bool=True", "Static.Int16=-7", "Static.String=12", "--format", "json"}),
            (Strings{R"("Static.ReadOnly" "vtI4" 5 )" + badRights, unconverted,
                     R"("Channel 1.Device 1.Array" "vtR8[]" [4.0,5.5,6.0] "ok" null null)",
                     R"("Static.Bool" "vtBOOL" true "ok" null null)", R"("Static.Int16" "vtI2" -7 "ok" null null)",
                     R"("Static.String" "vtBSTR" "12" "ok" null null)"}));

  // Asynchronous writes wait for their completion, the slow one too; the
  // clamp notice is a success, reported with its text and code.
  EXPECT_EQ(WriteRows({"write", "--async", "Static.ReadOnly=1", "Behaviour.Clamped=150", "Static.Int32=abc",
                       "Behaviour.Slow=3", "Static.Int32=7", "--format", "json"}),
            (Strings{R"("Static.ReadOnly" "vtI4" 1 )" + badRights,
                     R"("Behaviour.Clamped" "vtR8" 150.0 )" +
                         json("ok: " + xelo::GetOPCErrorMessage(OPC_S_CLAMP)).dump() + R"( "0x0004000E" "OPC_S_CLAMP")",
                     unconverted, R"("Behaviour.Slow" "vtI4" 3 "ok" null null)",
                     R"("Static.Int32" "vtI4" 7 "ok" null null)"}));

  // From standard input ITEM=VALUE a line, the value the rest of the line.
  EXPECT_EQ(
      Table(XeloJson({"write", "-", "--format", "json"}, kOk, {}, "Static.String= two words = \nStatic.Int16=-3\n"),
            {"item", "value", "result"}),
      (Strings{R"("Static.String" " two words = " "ok")", R"("Static.Int16" -3 "ok")"}));
}

// ---- watch ---------------------------------------------------------------------

// --count 5 prints five changes in order after an unknown item's error: the
// static item once (the refresh at the start and the server's first update
// both carry it), the ramp on every change.
TEST(XeloWatch, CountedChangesEveryItemAndNoRepeatedSample) {
  // --duration only bounds a broken run; the count ends a healthy one.
  const json rows = XeloJson({"watch", "No.Such.Item", "Static.Int32", "Channel 1.Device 1.Ramp", "--rate", "100",
                              "--count", "5", "--duration", "120", "--format", "jsonl"},
                             kItemsFailed);
  ASSERT_EQ(rows.size(), 6u) << rows;
  EXPECT_EQ(Row(rows[0], {"item", "error"}), R"("No.Such.Item" )" + Text(OPC_E_UNKNOWNITEMID));
  int statics = 0;
  double previous = -1;
  for (std::size_t i = 1; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i]["quality"], "good") << rows[i];
    if (rows[i]["item"] == "Static.Int32") {
      ++statics;
      continue;
    }
    EXPECT_EQ(rows[i]["item"], "Channel 1.Device 1.Ramp");
    ASSERT_TRUE(rows[i]["value"].is_number()) << rows[i];
    // The ramp rises by one per update cycle; a fresh server starts at 0,
    // far from its wrap at 100.
    EXPECT_GT(rows[i]["value"].get<double>(), previous) << rows[i];
    previous = rows[i]["value"].get<double>();
  }
  EXPECT_EQ(statics, 1) << rows;

  // Every item the server lists, texts and arrays among them, given on
  // standard input, for a few update cycles, with the server checking that
  // the client never keeps, frees or changes what it lends (it aborts the
  // process on a violation).
  const std::string items = Xelo({"browse", "--flat", "--ids"}).out;
  const Strings listed = Lines(items);
  std::set<std::string> readable(listed.begin(), listed.end());
  ASSERT_EQ(readable.erase("Static.WriteOnly"), 1u) << items;
  const XeloResult result =
      Xelo({"watch", "-", "--rate", "100", "--duration", "1", "--format", "jsonl"}, kOk, {"XELO_SIM_STRICT=1"}, items);
  EXPECT_EQ(result.err.find("ownership violation"), std::string::npos) << result.err;
  std::set<std::string> seen;
  for (const json& row : ParseJsonLines(result.out)) {
    seen.insert(row["item"].get<std::string>());
    EXPECT_TRUE(row["type"] != "vtBSTR" || row["value"].is_string()) << row;
    EXPECT_EQ(row["value"].is_array(), row["type"] == "vtR8[]") << row;
  }
  EXPECT_EQ(seen, readable);

  // A minute between updates: only the refresh at the start can print.
  Strings refreshed = Table(XeloJson({"watch", "Static.Int32", "Channel 1.Device 1.Ramp", "Behaviour.Bad",
                                      "Static.String", "--rate", "60000", "--duration", "1", "--format", "jsonl"}),
                            {"item", "quality"});
  std::sort(refreshed.begin(), refreshed.end());
  EXPECT_EQ(refreshed, (Strings{R"("Behaviour.Bad" "bad: device failure")", R"("Channel 1.Device 1.Ramp" "good")",
                                R"("Static.Int32" "good")", R"("Static.String" "good")"}));
}

// A watch and a repeated read, stopped as a user stops them: each ends
// cleanly, its JSON whole.
class XeloStopSignal : public ::testing::TestWithParam<int> {};

TEST_P(XeloStopSignal, EndsWatchAndRepeatedReadCleanlyWithValidJson) {
#if defined(_WIN32)
  if (!xelo::testing::win32::HasConsole()) GTEST_SKIP() << "Ctrl-Break needs a console (none under Wine alone)";
#endif
  for (const char* command : {"watch|Channel 1.Device 1.Counter|--rate|100", "read|Static.Int32|--repeat|0.1"}) {
    SCOPED_TRACE(command);
    XeloProcess process(Words(std::string(command) + "|--format|json|--log-level|info", '|'));
    ASSERT_TRUE(process.Started());
    // "[" and a first row are out: the subscription or the polling runs.
    ASSERT_TRUE(process.WaitForLines(2));
    process.Signal(GetParam());
    const XeloResult result = process.Wait();
    EXPECT_EQ(result.exitCode, kOk) << result.err;
    const json rows = ParseJson(result.out);
    EXPECT_TRUE(rows.is_array() && !rows.empty()) << result.out;
    EXPECT_NE(result.err.find("disconnected"), std::string::npos) << result.err;
  }
}

#if defined(_WIN32)
INSTANTIATE_TEST_SUITE_P(StopSignals, XeloStopSignal, ::testing::Values(SIGBREAK));
#else
INSTANTIATE_TEST_SUITE_P(StopSignals, XeloStopSignal, ::testing::Values(SIGINT, SIGTERM, SIGHUP));
#endif

// ---- output --------------------------------------------------------------------

// Wide text keeps the table's columns; a failed write ends the tool with
// exit 1. (Bad bytes: see XeloRead.)
TEST(XeloOutput, WideTextAndFailedWrites) {
  // "Größe.漢字" is 14 bytes but 10 columns wide; the sine passes through
  // 1.2246467991473532E-16, the longest of its texts, once in each period of
  // 40 changes (a server in a process of its own may be anywhere in it).
  XeloResult result =
      Xelo({"watch", "Channel 1.Device 1.Sine", "Größe.漢字", "--rate", "100", "--count", "41"}, kItemsFailed);
  const Strings lines = Lines(result.out);
  ASSERT_EQ(lines.size(), 43u) << result.out;
  EXPECT_EQ(lines[1].find(xelo::GetOPCErrorMessage(OPC_E_UNKNOWNITEMID)), lines[0].find("ERROR") + 4) << result.out;
  bool longValue = false;
  for (std::size_t i = 2; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i].find("vtR8"), lines[0].find("TYPE")) << lines[i];
    longValue = longValue || lines[i].find("E-16") != std::string::npos;
  }
  EXPECT_TRUE(longValue) << result.out;

  if (kWindows) return;  // /dev/full, SIGPIPE and a shell pipeline are POSIX's
  ScratchDirectory scratch;
  result = RunShell(scratch, R"("$XELO" read Static.Int32 >/dev/full; echo "rc=$?")");
  EXPECT_EQ(result.out, "rc=1\n");
  EXPECT_NE(result.err.find("cannot write to standard output: No space left on device"), std::string::npos)
      << result.err;
  // As services run it: SIGPIPE ignored, so only the failed write tells
  // the watch that nobody reads any more.
  result = RunShell(scratch, R"(trap '' PIPE
"$XELO" watch "Channel 1.Device 1.Counter" --rate 100 | head -n 1 >/dev/null; echo "rc=${PIPESTATUS[0]}")");
  EXPECT_EQ(result.out, "rc=1\n");
  EXPECT_NE(result.err.find("cannot write to standard output: Broken pipe"), std::string::npos) << result.err;
}

// ---- save and run --------------------------------------------------------------

// The group and item of each row a run prints.
std::multiset<std::string> GroupsAndItems(const json& rows) {
  std::multiset<std::string> seen;
  for (const json& row : rows) {
    EXPECT_EQ(row["quality"], "good") << row;
    seen.insert(Row(row, {"group", "item"}));
  }
  return seen;
}

// Save then run round trips one group or several; save checks the items of
// every group; run prefers the server of the command line.
TEST(XeloConfiguration, SaveThenRunChecksItemsAndServer) {
  ScratchDirectory scratch;
  const std::string one = scratch.File("demo.xelo");
  EXPECT_EQ(Row(XeloJson({"save", "Static.Int32", "Channel 1.Device 1.Ramp", "-o", one, "--group", "Plant", "--rate",
                          "100", "--format", "json"}),
                {"file", "group", "items"}),
            json(one).dump() + R"( "Plant" ["Static.Int32","Channel 1.Device 1.Ramp"])");
  // The static item changes once (its first value), the ramp goes on.
  const std::string ramp = R"("Channel 1.Device 1.Ramp")";
  EXPECT_EQ(GroupsAndItems(XeloJson({"run", one, "--count", "4", "--duration", "120", "--format", "jsonl"})),
            (std::multiset<std::string>{R"("Plant" "Static.Int32")", R"("Plant" )" + ramp, R"("Plant" )" + ramp,
                                        R"("Plant" )" + ramp}));

  // Each group with its own settings; those before the first --group are
  // the defaults of a group that sets none.
  const std::string two = scratch.File("two.xelo");
  const json saved =
      XeloJson({"save", "Xelo.Sim.1", "--rate", "500", "--group", "Fast", "Channel 1.Device 1.Ramp", "--rate", "100",
                "--group", "Plant", "Static.Int32", "Static.String", "--deadband", "5", "-o", two, "--format", "json"});
  EXPECT_EQ(Row(saved, {"group", "items"}), R"(null ["Channel 1.Device 1.Ramp","Static.Int32","Static.String"])");
  EXPECT_EQ(saved["groups"], json::parse(R"([
      {"name":"Fast","updateRate":100,"deadBand":0.0,"items":["Channel 1.Device 1.Ramp"]},
      {"name":"Plant","updateRate":500,"deadBand":5.0,"items":["Static.Int32","Static.String"]}])"));
  const std::string text = xelo::testing::ReadWholeFile(two);
  EXPECT_TRUE(text.starts_with("object ")) << text;
  for (const char* key : {"TXeloServer", "UpdateRate = 100", "DeadBand = 5"})
    EXPECT_NE(text.find(key), text.npos) << text;
  // Running it shows each item in its own group, the current values first.
  EXPECT_EQ(GroupsAndItems(XeloJson({"run", two, "--count", "5", "--duration", "120", "--format", "jsonl"})),
            (std::multiset<std::string>{R"("Fast" )" + ramp, R"("Fast" )" + ramp, R"("Fast" )" + ramp,
                                        R"("Plant" "Static.Int32")", R"("Plant" "Static.String")"}));

  ScratchDirectory empty;
  const std::string file = empty.File("plant.xelo");
  for (const Strings& arguments :
       {Strings{"save", "Static.Int32", "No.Such.Item", "-o", file},
        Strings{"save", "--group", "A", "Static.Int32", "--group", "B", "No.Such.Item", "-o", file}}) {
    SCOPED_TRACE(arguments[1]);
    EXPECT_NE(Xelo(arguments, kItemsFailed).err.find("No.Such.Item"), std::string::npos);
    EXPECT_TRUE(empty.Entries().empty());
  }
  Xelo({"save", "Static.Int32", "No.Such.Item", "-o", file, "--force"}, kItemsFailed);
  EXPECT_NE(xelo::testing::ReadWholeFile(file).find("No.Such.Item"), std::string::npos);

  const std::string elsewhere = scratch.File("elsewhere.xelo");
  SaveEdited(elsewhere, "'Xelo.Sim.1'", "'Other.Server.9'");
  EXPECT_NE(Xelo({"run", elsewhere, "--count", "1"}, kFailure).err.find("Other.Server.9"), std::string::npos);
  EXPECT_EQ(XeloJson({"run", elsewhere, "--count", "1", "--server", "Xelo.Sim.1", "--format", "jsonl"}).size(), 1u);

  if (kWindows) return;  // symbolic links, FIFOs and ulimit need a POSIX shell
  // Through a symbolic link to its target; a FIFO is written, not replaced.
  XeloResult result = RunShell(scratch, R"(mkdir real && echo old >real/target.xelo && ln -s real/target.xelo link.xelo
"$XELO" save Static.Int32 -o link.xelo >/dev/null && test -L link.xelo && grep -c TXeloServer real/target.xelo
mkfifo pipe && { cat pipe >from-pipe & } && "$XELO" save Static.Int32 -o pipe >/dev/null; wait
test -p pipe && grep -c Static.Int32 from-pipe)");
  EXPECT_EQ(result.out, "1\n1\n") << result.err;

  // Past the file size limit: a message, exit 1, no temporary file left.
  result = RunShell(scratch, R"(ulimit -f 1; "$XELO" save $(yes Static.Int32 | head -n 40) -o big.xelo >/dev/null
echo "rc=$?")");
  EXPECT_EQ(result.out, "rc=1\n");
  EXPECT_NE(result.err.find("File too large"), std::string::npos) << result.err;
  for (const std::string& name : scratch.Entries()) EXPECT_EQ(name.find("big.xelo"), std::string::npos) << name;
}

// ---- time stamps ---------------------------------------------------------------

// A zone west of UTC and one east of it with a half hour in its offset:
// JSON and CSV give UTC with "Z", --local-time the zone's time with its
// offset, the table the local time.
TEST(XeloTimeStamps, UtcForProgramsLocalTimeForPeople) {
  // Each zone with its offset in minutes.
  const std::tuple<std::string, long, std::string> zones[]{{"EST5", -300, "-05:00"}, {"IST-5:30", 330, "+05:30"}};
  for (const auto& [zone, offset, suffix] : zones) {
    SCOPED_TRACE(zone);
    const Strings environment{"TZ=" + zone};
    const json utc = XeloJson({"read", "Static.Int32", "--format", "jsonl"}, kOk, environment);
    const auto utcStamp = IsoStamp(utc.at(0).value("timestamp", ""));
    EXPECT_EQ(utcStamp.second, "Z") << utc;

    const Strings lines =
        Lines(Xelo({"read", "Static.Int32", "--format", "csv", "--local-time"}, kOk, environment).out);
    ASSERT_EQ(lines.size(), 2u);
    const std::string field = lines[1].substr(lines[1].find(",vtI4,good,") + 11, 29);
    const auto localStamp = IsoStamp(field);
    EXPECT_EQ(localStamp.second, suffix) << lines[1];
    // Two runs a moment apart: the same minute but for the offset (or the
    // minute after).
    const long difference = localStamp.first - utcStamp.first - offset;
    EXPECT_TRUE(difference == 0 || difference == 1) << field << " vs " << utc;

    // The table: local time with a blank, never the ISO form.
    const std::string table = Xelo({"read", "Static.Int32"}, kOk, environment).out;
    EXPECT_TRUE(std::regex_search(table, std::regex(R"(good +\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}\r?\n)"))) << table;
    EXPECT_EQ(table.find('T', table.find("good")), std::string::npos) << table;
  }
}

// ---- the README's JSON members ---------------------------------------------------

// The table of members in the README's "JSON output" section, by command:
// "read" -> its members, "save groups" -> the members of each element of
// save's "groups". Also every member there must be explained in a list
// item of the section.
std::map<std::string, Strings> DocumentedMembers(std::set<std::string>& explained) {
  const std::string readme = xelo::testing::ReadWholeFile(XELO_README);
  const std::size_t start = readme.find("### JSON output");
  EXPECT_NE(start, std::string::npos);
  const std::string section = readme.substr(start, readme.find("\n#", start + 1) - start);
  const auto codes = [](const std::string& text) {
    static const std::regex code("`([^`]+)`");
    Strings names;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), code); it != std::sregex_iterator(); ++it) {
      names.push_back((*it)[1]);
    }
    return names;
  };
  std::map<std::string, Strings> members;
  std::istringstream in(section);
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with("| `")) {
      const std::size_t split = line.find('|', 1);
      std::string command;
      for (const std::string& word : codes(line.substr(0, split))) command += (command.empty() ? "" : " ") + word;
      members[command] = codes(line.substr(split));
    } else if (line.starts_with("- `")) {
      for (const std::string& name : codes(line.substr(0, line.find(':')))) explained.insert(name);
    }
  }
  return members;
}

// The members of a JSON object in the order of the text.
Strings Names(const nlohmann::ordered_json& object) {
  Strings names;
  for (const auto& [key, value] : object.items()) names.push_back(key);
  return names;
}

// The members of each JSON line of `text` that has (or, with `events`
// false, has not) an "event".
std::vector<Strings> Keys(const std::string& text, bool events = false) {
  std::vector<Strings> keys;
  for (const std::string& line : Lines(text)) {
    const auto object = nlohmann::ordered_json::parse(line);
    if (object.contains("event") == events) keys.push_back(Names(object));
  }
  return keys;
}

TEST(XeloDocumentation, TheReadmeNamesEveryJsonMemberInOrder) {
  std::set<std::string> explained;
  const std::map<std::string, Strings> documented = DocumentedMembers(explained);
  ScratchDirectory scratch;
  const std::string file = scratch.File("doc.xelo");
  // Every command, run so that its output has at least one object (save
  // before run, which loads what it saved).
  const std::vector<std::pair<std::string, Strings>> runs{
      {"servers", {"servers"}},
      {"servers --registry", {"servers", "--registry"}},
      {"status", {"status"}},
      {"browse", {"browse", "Static"}},
      {"props", {"props", "Static.Int32"}},
      {"read", {"read", "Static.Int32"}},
      {"watch", {"watch", "Static.Int32", "--count", "1", "--duration", "120"}},
      {"write", {"write", "Static.Int32=5"}},
      {"save", {"save", "Static.Int32", "-o", file}},
      {"run", {"run", file, "--count", "1", "--duration", "120"}},
  };
  // "watch run": the events among the rows, which a lost server makes (below).
  std::set<std::string> commands{"save groups", "watch run"};
  for (const auto& [command, arguments] : runs) commands.insert(command);
  std::set<std::string> listed;
  for (const auto& [command, members] : documented) {
    listed.insert(command);
    for (const std::string& member : members) EXPECT_TRUE(explained.contains(member)) << member;
  }
  ASSERT_EQ(listed, commands);

  for (auto [command, arguments] : runs) {
    SCOPED_TRACE(command);
    arguments.insert(arguments.end(), {"--format", "jsonl"});
    const XeloResult result = Xelo(arguments);
    const std::vector<Strings> keys = Keys(result.out);
    ASSERT_FALSE(keys.empty()) << result.out;
    for (const Strings& object : keys) EXPECT_EQ(object, documented.at(command)) << result.out;
    if (command == "save") {
      const auto document = nlohmann::ordered_json::parse(result.out);  // the loop reads into it
      for (const auto& group : document["groups"]) EXPECT_EQ(Names(group), documented.at("save groups"));
    }
  }
}

// ---- a lost server ----------------------------------------------------------------

// The position of the first event `name`, or the number of lines.
std::size_t EventAt(const json& lines, const char* name) {
  std::size_t i = 0;
  while (i < lines.size() && !(lines[i].contains("event") && lines[i]["event"] == name)) ++i;
  return i;
}

// A server that dies while watched: XELO_SIM_OUTAGE kills the embedded
// simulation server a while after the tool created it, and keeps it from
// starting again for a while (or for good).
TEST(XeloWatch, ComesBackAfterALostServerOrEndsTheRunWithExitFour) {
  // On Windows' COM the tool reaches the server in a process of its own.
  if (xelo::test::kNativeCom) GTEST_SKIP() << "the outage switch is the embedded simulation server's";
  // A bare --reconnect takes no item for its seconds.
  XeloResult result = Xelo({"watch", "--reconnect", "Channel 1.Device 1.Ramp", "Static.String", "--rate", "100",
                            "--duration", "6", "--format", "jsonl"},
                           kOk, {"XELO_SIM_OUTAGE=0.5:0.5"});
  const json lines = ParseJsonLines(result.out);
  std::set<std::string> explained;  // both events with the README's members
  EXPECT_EQ(Keys(result.out, true), std::vector<Strings>(2, DocumentedMembers(explained).at("watch run")));
  // good rows, the loss, both items bad with their last value, the
  // return, both items good again, and the ramp moving on.
  const std::size_t lost = EventAt(lines, "connectionLost");
  const std::size_t back = EventAt(lines, "reconnected");
  ASSERT_LT(lost, back) << result.out;
  ASSERT_LT(back + 3, lines.size()) << result.out;
  EXPECT_GT(lost, 0u);
  // RPC_S_SERVER_UNAVAILABLE as HRESULT
  EXPECT_EQ(Row(lines[lost], {"errorCode", "errorName"}), R"("0x800706BA" "RPC_S_SERVER_UNAVAILABLE")");
  EXPECT_TRUE(lines[lost]["time"].get<std::string>().ends_with("Z"));
  std::set<std::string> bad;
  for (std::size_t i = lost + 1; i < back; ++i) {
    EXPECT_EQ(lines[i]["qualityCode"], 24) << lines[i];  // bad, communication failure
    EXPECT_FALSE(lines[i]["value"].is_null()) << lines[i];
    bad.insert(lines[i]["item"].get<std::string>());
  }
  EXPECT_EQ(bad.size(), 2u) << result.out;
  std::set<std::string> good;
  for (std::size_t i = back + 1; i < lines.size(); ++i) {
    EXPECT_FALSE(lines[i].contains("event")) << lines[i];
    EXPECT_EQ(lines[i]["qualityCode"], 192) << lines[i];
    good.insert(lines[i]["item"].get<std::string>());
  }
  EXPECT_EQ(good.size(), 2u) << result.out;
  EXPECT_NE(result.err.find("reconnecting"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("reconnected to Xelo.Sim.1"), std::string::npos) << result.err;

  // A server that stays lost ends the run with exit 4. Without --reconnect
  // at once, as CSV (the loss only on stderr).
  constexpr int kConnectionLost = 4;
  result =
      Xelo({"watch", "Static.Int32", "--duration", "60", "--format", "csv"}, kConnectionLost, {"XELO_SIM_OUTAGE=0.2"});
  const Strings csv = Lines(result.out);
  ASSERT_EQ(csv.size(), 3u) << result.out;
  EXPECT_TRUE(csv[2].starts_with("Static.Int32,32,vtI4,bad: communication failure,")) << csv[2];
  EXPECT_NE(result.err.find("connection to Xelo.Sim.1 lost: "), std::string::npos) << result.err;

  // With --reconnect=1, after a second of trying; the JSON still whole.
  result = Xelo({"watch", "Static.Int32", "--reconnect=1", "--duration", "60", "--format", "json"}, kConnectionLost,
                {"XELO_SIM_OUTAGE=0.2"});
  const json rows = ParseJson(result.out);
  ASSERT_EQ(rows.size(), 3u) << result.out;
  EXPECT_EQ(rows[1]["event"], "connectionLost");
  EXPECT_EQ(rows[2]["qualityCode"], 24);
  EXPECT_NE(result.err.find("not back after"), std::string::npos) << result.err;

  // A configuration that asks for reconnection itself (with its own
  // keep-alive) is waited for by `run` without --reconnect.
  ScratchDirectory scratch;
  const std::string file = scratch.File("lost.xelo");
  SaveEdited(file, "  Active = False",
             "  KeepAlive = 200\n  AutoReconnect = True\n  ReconnectInterval = 300\n  Active = False");
  Strings events;
  for (const json& line :
       XeloJson({"run", file, "--duration", "4", "--format", "jsonl"}, kOk, {"XELO_SIM_OUTAGE=0.3:0.3"})) {
    if (line.contains("event")) events.push_back(line["event"]);
  }
  EXPECT_EQ(events, (Strings{"connectionLost", "reconnected"}));

  // A value of the switch that makes no sense is said and ignored.
  result = Xelo({"watch", "Static.Int32", "--count", "1", "--duration", "60"}, kOk, {"XELO_SIM_OUTAGE=soon"});
  EXPECT_NE(result.err.find("XELO_SIM_OUTAGE: expected AFTER[:DOWN] in seconds, not 'soon'"), std::string::npos)
      << result.err;
}

// ---- usage ---------------------------------------------------------------------

// Every command, as the usage texts list them.
constexpr char kCommands[] = "servers status browse props read write watch save run";

// Exit 2, nothing on stdout, a message that starts with "xelo", points to
// --help and holds the case's words (without a command: every command).
TEST(XeloUsage, BadUsageGivesExitTwoAndAHelpfulMessage) {
  // Each case's arguments, standard input and words; below, the cases
  // without either, blank-separated.
  std::vector<std::tuple<Strings, std::string, Strings>> cases{
      {{}, "", Words(kCommands)},
      {{"save", "Static.Int32", "-o", "unwritten.xelo", "--group", " "}, "", {}},
      {{"read", "-"}, "\n \r\n", {"no ITEM on standard input"}},
      {{"write", "-"}, "Static.Int32=1\nStatic.Int32\n", {"standard input, line 2: 'Static.Int32' is no ITEM=VALUE"}},
      {{"write", "-"}, "=5\n", {"standard input, line 1: '=5' is no ITEM=VALUE"}},
      {{"read", "-"}, std::string("Static.Int32\nStatic\0Int32\n", 26), {"standard input, line 2: holds a NUL byte"}},
  };
  // clang-format off
  for (const char* line : {
      "no-such-command", "read", "read Xelo.Sim.1", "read Static.Int32 --no-such-option", "write Static.Int32",
      "watch Static.Int32 --count 0", "watch Static.Int32 --deadband 150", "watch Static.Int32 --deadband nan",
      "watch Static.Int32 --duration nan", "watch Static.Int32 --duration inf", "watch Static.Int32 --duration 1e10",
      "watch Static.Int32 --reconnect=soon", "run plant.xelo --reconnect=-1", "read Static.Int32 --timeout nan",
      "browse --type vtNothing", "browse --rights x", "--format xml servers", "save Static.Int32",
      "read Static.Int32 --count 2", "read Static.Int32 --repeat 0", "read - Static.Int32 -", "props -",
      "save Static.Int32 --group A --group B Static.String -o unwritten.xelo",
      "save --group A Static.Int32 --group A Static.String -o unwritten.xelo",
      "save --group A Static.Int32 --group B -o unwritten.xelo",
      "save --group A Static.Int32 --rate 1 --rate 2 --group B Static.String -o unwritten.xelo",
      "save Static.Int32 --rate 100 --rate 200 -o unwritten.xelo"}) cases.push_back({Words(line), "", {}});
  // clang-format on
  for (const auto& [arguments, input, words] : cases) {
    SCOPED_TRACE(::testing::PrintToString(arguments));
    const XeloResult result = Xelo(arguments, kUsage, {}, input);
    EXPECT_EQ(result.out, "");
    EXPECT_TRUE(result.err.starts_with("xelo") && result.err.find("--help") != std::string::npos) << result.err;
    for (const std::string& word : words) EXPECT_NE(result.err.find(word), std::string::npos) << result.err;
  }
}

// --help on stdout, with the common options.
TEST(XeloUsage, HelpListsCommandsAndOptionsAndVersionSucceeds) {
  const std::pair<Strings, Strings> cases[]{
      {{"--help"}, Words(std::string(kCommands) + " --server --computer --format --timeout --log-level")},
      {{"watch", "--help"}, {"--count", "--duration"}}};
  for (const auto& [arguments, words] : cases) {
    SCOPED_TRACE(arguments.front());
    const std::string out = Xelo(arguments).out;
    for (const std::string& word : words) EXPECT_NE(out.find(word), std::string::npos) << word << "\n" << out;
  }
  EXPECT_TRUE(Xelo({"--version"}).out.starts_with("xelo "));
}

}  // namespace
