// The `xelo` program as a user runs it: arguments, output formats, exit
// codes, against the embedded simulation server it links.
#include "NativeCom.h"
#include "XeloProcess.h"

#include "xelo/core/XeloErrors.h"
#include "xelo/opc/OpcError.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
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

constexpr int kOk = 0;
constexpr int kFailure = 1;
constexpr int kUsage = 2;
constexpr int kItemsFailed = 3;

json ParseJson(const std::string& text) {
  json parsed = json::parse(text, nullptr, false);
  EXPECT_FALSE(parsed.is_discarded()) << "not JSON:\n" << text;
  return parsed;
}

std::vector<json> ParseJsonLines(const std::string& text) {
  std::vector<json> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(ParseJson(line));
  return lines;
}

// The tool writes text with the system's line ends: "\r\n" on Windows
// (its standard output is in text mode there), "\n" elsewhere. Each line
// must end so; the lines come back without their ends.
std::vector<std::string> Lines(const std::string& text) {
#if defined(_WIN32)
  constexpr bool kCarriageReturns = true;
#else
  constexpr bool kCarriageReturns = false;
#endif
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    const bool carriageReturn = !line.empty() && line.back() == '\r';
    EXPECT_EQ(carriageReturn, kCarriageReturns) << "line end of: " << line;
    if (carriageReturn) line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// A line of shell as a user types it, "$XELO" being the built program, run
// in `dir`. A tool that hangs is ended after a minute and fails the test
// rather than the whole suite.
XeloResult RunShell(const ScratchDirectory& dir, const std::string& line) {
#if defined(_WIN32)
  (void)dir;
  ADD_FAILURE() << "no POSIX shell to run: " << line;
  return {};
#else
  const std::string script = dir.File("script.sh");
  xelo::testing::WriteWholeFile(script, "cd '" + dir.Path() + "' || exit 99\n" + line + "\n");
  const std::string command = "XELO='" XELO_CLI "' timeout 60 bash '" + script + "' >'" + dir.File("sh.out") +
                              "' 2>'" + dir.File("sh.err") + "'";
  const int status = std::system(command.c_str());
  XeloResult result{WIFEXITED(status) ? WEXITSTATUS(status) : -1, xelo::testing::ReadWholeFile(dir.File("sh.out")),
                    xelo::testing::ReadWholeFile(dir.File("sh.err"))};
  EXPECT_EQ(result.err.find("Sanitizer"), std::string::npos) << result.err;
  return result;
#endif
}

// Skips a test of behaviour that only POSIX systems have, saying which.
#if defined(_WIN32)
#define XELO_POSIX_ONLY(reason) GTEST_SKIP() << "POSIX only: " << (reason)
#else
#define XELO_POSIX_ONLY(reason) static_cast<void>(reason)
#endif

const json* FindBy(const json& rows, const std::string& key, const std::string& value) {
  for (const json& row : rows) {
    if (row.contains(key) && row[key] == value) return &row;
  }
  return nullptr;
}

// ---- servers ------------------------------------------------------------------

TEST(XeloServers, ListsTheSimulationServersWithTheirCategories) {
  const XeloResult result = RunXelo({"servers", "--format", "json"});
  ASSERT_EQ(result.exitCode, kOk) << result.err;
  const json rows = ParseJson(result.out);
  ASSERT_TRUE(rows.is_array());
  const json* sim = FindBy(rows, "progId", "Xelo.Sim.1");
  ASSERT_NE(sim, nullptr) << result.out;
  EXPECT_EQ((*sim)["classId"], "{5C1A0001-7E10-4B8A-9C35-58454C4F5349}");
  EXPECT_EQ((*sim)["description"], "Xelo OPC DA Simulation Server");
  EXPECT_EQ((*sim)["categories"], json({"da1", "da2"}));
  ASSERT_NE(FindBy(rows, "progId", "Xelo.Sim.DA1.1"), nullptr);
  EXPECT_EQ((*FindBy(rows, "progId", "Xelo.Sim.DA1.1"))["categories"], json({"da1"}));
  ASSERT_NE(FindBy(rows, "progId", "Xelo.Sim.Flat.1"), nullptr);
  ASSERT_NE(FindBy(rows, "progId", "Xelo.Sim.AE.1"), nullptr);
  EXPECT_EQ((*FindBy(rows, "progId", "Xelo.Sim.AE.1"))["categories"], json({"ae"}));
}

TEST(XeloServers, CategoriesChooseWhatTheEnumeratorIsAskedFor) {
  const XeloResult result = RunXelo({"servers", "--categories", "ae", "--format", "jsonl"});
  ASSERT_EQ(result.exitCode, kOk) << result.err;
  const std::vector<json> rows = ParseJsonLines(result.out);
  ASSERT_FALSE(rows.empty());
  for (const json& row : rows) EXPECT_EQ(row["categories"], json({"ae"})) << row;
  EXPECT_NE(FindBy(json(rows), "progId", "Xelo.Sim.AE.1"), nullptr);
}

TEST(XeloServers, TheRegistryListsProgIdsInATable) {
  const XeloResult result = RunXelo({"servers", "--registry"});
  ASSERT_EQ(result.exitCode, kOk) << result.err;
  const std::vector<std::string> lines = Lines(result.out);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0].rfind("PROGID", 0), 0u) << lines[0];
  EXPECT_NE(result.out.find("\nXelo.Sim.1 "), std::string::npos) << result.out;
}

TEST(XeloServers, AnUnreachableComputerIsARuntimeFailure) {
  const XeloResult result = RunXelo({"servers", "--computer", "no-such-host"});
  EXPECT_EQ(result.exitCode, kFailure);
  EXPECT_TRUE(result.out.empty());
  EXPECT_NE(result.err.find("no-such-host"), std::string::npos) << result.err;
}

// ---- status --------------------------------------------------------------------

TEST(XeloStatus, ShowsTheServersState) {
  const XeloResult result = RunXelo({"status", "Xelo.Sim.1", "--format", "json"});
  ASSERT_EQ(result.exitCode, kOk) << result.err;
  const json status = ParseJson(result.out);
  EXPECT_EQ(status["server"], "Xelo.Sim.1");
  EXPECT_EQ(status["state"], "running");
  EXPECT_EQ(status["stateCode"], 1);
  EXPECT_EQ(status["vendor"], "Xelo OPC DA Simulation Server");
  EXPECT_TRUE(status["startTime"].is_string());
  EXPECT_TRUE(status["version"].is_string());
}

TEST(XeloStatus, AnUnknownServerIsARuntimeFailure) {
  const XeloResult result = RunXelo({"status", "No.Such.Server"});
  EXPECT_EQ(result.exitCode, kFailure);
  EXPECT_NE(result.err.find("No.Such.Server"), std::string::npos) << result.err;
  // Through the environment as well.
  EXPECT_EQ(RunXelo({"status"}, {"XELO_SERVER=No.Such.Server"}).exitCode, kFailure);
  if (!xelo::test::NativeComUnderWine()) {  // Wine creates everything here, whatever the computer
    EXPECT_EQ(RunXelo({"status"}, {"XELO_COMPUTER=no-such-host"}).exitCode, kFailure);
  }
}

// ---- browse --------------------------------------------------------------------

TEST(XeloBrowse, ShowsTheChannelTree) {
  const XeloResult result = RunXelo({"browse"});
  ASSERT_EQ(result.exitCode, kOk) << result.err;
  const std::vector<std::string> lines = Lines(result.out);
  const std::vector<std::string> expected{"Channel 1/", "  Device 1/", "    Ramp",     "    Random",
                                          "    Sine",   "    Counter", "    Setpoint", "    Switch",
                                          "    Text",   "    Array",   "  Device 2/"};
  ASSERT_GE(lines.size(), expected.size());
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + static_cast<long>(expected.size())), expected);
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Static/"), lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Behaviour/"), lines.end());
}

TEST(XeloBrowse, JsonNamesEveryNodeWithItsIdentifier) {
  const XeloResult result = RunXelo({"browse", "Channel 1", "--format", "json"});
  ASSERT_EQ(result.exitCode, kOk) << result.err;
  const json rows = ParseJson(result.out);
  ASSERT_TRUE(rows.is_array());
  ASSERT_EQ(rows.size(), 18u);  // two devices of eight items
  EXPECT_EQ(rows[0], json({{"type", "branch"}, {"depth", 0}, {"name", "Device 1"}, {"id", "Channel 1.Device 1"}}));
  EXPECT_EQ(rows[1], json({{"type", "item"}, {"depth", 1}, {"name", "Ramp"}, {"id", "Channel 1.Device 1.Ramp"}}));
  EXPECT_EQ(rows[10], json({{"type", "item"}, {"depth", 1}, {"name", "Ramp"}, {"id", "Channel 1.Device 2.Ramp"}}));
}

TEST(XeloBrowse, FiltersDepthAndFlatListings) {
  // A name filter keeps the branches that lead to matching items only.
  XeloResult result = RunXelo({"browse", "--filter", "Ra*", "--format", "csv"});
  ASSERT_EQ(result.exitCode, kOk) << result.err;
  EXPECT_EQ(Lines(result.out), (std::vector<std::string>{
                                   "type,depth,name,id", "branch,0,Channel 1,Channel 1",
                                   "branch,1,Device 1,Channel 1.Device 1", "item,2,Ramp,Channel 1.Device 1.Ramp",
                                   "item,2,Random,Channel 1.Device 1.Random", "branch,1,Device 2,Channel 1.Device 2",
                                   "item,2,Ramp,Channel 1.Device 2.Ramp", "item,2,Random,Channel 1.Device 2.Random"}));

  result = RunXelo({"browse", "--depth", "1"});
  ASSERT_EQ(result.exitCode, kOk) << result.err;
  EXPECT_EQ(Lines(result.out), (std::vector<std::string>{"Channel 1/", "Static/", "Behaviour/"}));

  result = RunXelo({"browse", "Static", "--flat", "--format", "jsonl"});
  ASSERT_EQ(result.exitCode, kOk) << result.err;
  const std::vector<json> rows = ParseJsonLines(result.out);
  ASSERT_EQ(rows.size(), 10u);
  for (const json& row : rows) {
    EXPECT_EQ(row["type"], "item");
    EXPECT_EQ(row["id"].get<std::string>().rfind("Static.", 0), 0u) << row;
  }

  result = RunXelo({"browse", "Channel 1.Device 1", "--ids", "--filter", "Ramp"});
  ASSERT_EQ(result.exitCode, kOk) << result.err;
  EXPECT_EQ(Lines(result.out), (std::vector<std::string>{"Ramp  Channel 1.Device 1.Ramp"}));
}

TEST(XeloBrowse, AFlatServerFromTheEnvironment) {
  const XeloResult result = RunXelo({"browse", "--format", "json"}, {"XELO_SERVER=Xelo.Sim.Flat.1"});
  ASSERT_EQ(result.exitCode, kOk) << result.err;
  const json rows = ParseJson(result.out);
  ASSERT_FALSE(rows.empty());
  for (const json& row : rows) EXPECT_EQ(row["type"], "item") << row;
  EXPECT_NE(FindBy(rows, "id", "Channel 1.Device 1.Ramp"), nullptr);
}

TEST(XeloBrowse, AnUnknownBranchIsARuntimeFailure) {
  const XeloResult result = RunXelo({"browse", "No Such Branch"});
  EXPECT_EQ(result.exitCode, kFailure);
  EXPECT_TRUE(result.out.empty());
  EXPECT_NE(result.err.find("No Such Branch"), std::string::npos) << result.err;
}

// ---- props ---------------------------------------------------------------------

TEST(XeloProps, ListsIdDescriptionTypeAndValue) {
  const XeloResult result = RunXelo({"props", "Channel 1.Device 1.Ramp", "No.Such.Item", "--format", "json"});
  EXPECT_EQ(result.exitCode, kItemsFailed);
  const json rows = ParseJson(result.out);
  ASSERT_TRUE(rows.is_array());
  const json* canonical = FindBy(rows, "description", "Item Canonical Data Type");
  ASSERT_NE(canonical, nullptr) << result.out;
  EXPECT_EQ((*canonical)["item"], "Channel 1.Device 1.Ramp");
  EXPECT_EQ((*canonical)["id"], 1);
  EXPECT_EQ((*canonical)["type"], "vtI2");
  EXPECT_EQ((*canonical)["value"], 5);  // VT_R8
  const json* units = FindBy(rows, "description", "EU Units");
  ASSERT_NE(units, nullptr);
  EXPECT_EQ((*units)["value"], "%");
  const json* unknown = FindBy(rows, "item", "No.Such.Item");
  ASSERT_NE(unknown, nullptr);
  EXPECT_EQ((*unknown)["error"], xelo::GetOPCErrorMessage(OPC_E_UNKNOWNITEMID));
  EXPECT_TRUE((*unknown)["value"].is_null());
}

TEST(XeloProps, TableShowsWhatCodesMean) {
  const XeloResult result = RunXelo({"props", "Static.ReadOnly"});
  ASSERT_EQ(result.exitCode, kOk) << result.err;
  EXPECT_NE(result.out.find("3 (vtI4)"), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("192 (good)"), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("1 (read)"), std::string::npos) << result.out;
}

// ---- read ----------------------------------------------------------------------

TEST(XeloRead, AKnownAndAnUnknownItemGiveExitThreeAndValidJson) {
  for (const char* format : {"json", "jsonl"}) {
    SCOPED_TRACE(format);
    const XeloResult result = RunXelo({"read", "Static.Int32", "No.Such.Item", "--format", format});
    EXPECT_EQ(result.exitCode, kItemsFailed);
    json rows = std::string(format) == "json" ? ParseJson(result.out) : json(ParseJsonLines(result.out));
    ASSERT_TRUE(rows.is_array());
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0]["item"], "Static.Int32");
    EXPECT_TRUE(rows[0]["value"].is_number_integer());
    EXPECT_EQ(rows[0]["type"], "vtI4");
    EXPECT_EQ(rows[0]["quality"], "good");
    EXPECT_EQ(rows[0]["qualityCode"], 192);
    EXPECT_TRUE(rows[0]["timestamp"].is_string());
    EXPECT_TRUE(rows[0]["error"].is_null());
    EXPECT_EQ(rows[1]["item"], "No.Such.Item");
    EXPECT_TRUE(rows[1]["value"].is_null());
    EXPECT_EQ(rows[1]["error"], xelo::GetOPCErrorMessage(OPC_E_UNKNOWNITEMID));
  }
}

TEST(XeloRead, QualitiesInWords) {
  const XeloResult result =
      RunXelo({"read", "Behaviour.Bad", "Behaviour.Uncertain", "Static.Double", "--device", "--format", "json"});
  ASSERT_EQ(result.exitCode, kOk) << result.err;
  const json rows = ParseJson(result.out);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0]["quality"], "bad: device failure");
  EXPECT_EQ(rows[1]["quality"], "uncertain: last usable value");
  EXPECT_EQ(rows[2]["quality"], "good");
}

TEST(XeloRead, TableAndCsv) {
  XeloResult result = RunXelo({"read", "Channel 1.Device 1.Array"});
  ASSERT_EQ(result.exitCode, kOk) << result.err;
  std::vector<std::string> lines = Lines(result.out);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].rfind("ITEM", 0), 0u) << lines[0];
  EXPECT_NE(lines[1].find("vtR8[]"), std::string::npos) << lines[1];

  result = RunXelo({"read", "Static.String", "--format", "csv"});
  ASSERT_EQ(result.exitCode, kOk) << result.err;
  lines = Lines(result.out);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "item,value,type,quality,timestamp,error,qualityCode");
  EXPECT_EQ(lines[1].rfind("Static.String,", 0), 0u) << lines[1];
}

TEST(XeloRead, TheFirstArgumentMayNameTheServer) {
  const XeloResult result = RunXelo({"read", "Xelo.Sim.DA1.1", "Static.Int32", "--format", "json"});
  ASSERT_EQ(result.exitCode, kOk) << result.err;
  EXPECT_EQ(ParseJson(result.out).size(), 1u);
}

// ---- write ---------------------------------------------------------------------

TEST(XeloWrite, AReadOnlyItemReportsTheAccessRightsError) {
  const XeloResult result = RunXelo({"write", "Static.ReadOnly=5", "Static.Int32=5", "--format", "json"});
  EXPECT_EQ(result.exitCode, kItemsFailed);
  const json rows = ParseJson(result.out);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0]["item"], "Static.ReadOnly");
  EXPECT_EQ(rows[0]["error"], xelo::GetOPCErrorMessage(OPC_E_BADRIGHTS));
  EXPECT_EQ(rows[1]["item"], "Static.Int32");
  EXPECT_EQ(rows[1]["result"], "ok");
  EXPECT_TRUE(rows[1]["error"].is_null());
}

TEST(XeloWrite, TextBecomesTheCanonicalType) {
  const XeloResult result = RunXelo({"write", "Channel 1.Device 1.Array=4;5.5;6", "Static.Bool=True", "Static.Int16=-7",
                                     "Static.String=12", "--format", "json"});
  ASSERT_EQ(result.exitCode, kOk) << result.err << result.out;
  const json rows = ParseJson(result.out);
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0]["type"], "vtR8[]");
  EXPECT_EQ(rows[0]["value"], json({4.0, 5.5, 6.0}));
  EXPECT_EQ(rows[1]["type"], "vtBOOL");
  EXPECT_EQ(rows[1]["value"], true);
  EXPECT_EQ(rows[2]["type"], "vtI2");
  EXPECT_EQ(rows[2]["value"], -7);
  EXPECT_EQ(rows[3]["type"], "vtBSTR");
  EXPECT_EQ(rows[3]["value"], "12");
}

TEST(XeloWrite, TextThatDoesNotConvertFailsAlone) {
  const XeloResult result = RunXelo({"write", "Static.Int32=abc", "Static.Double=1.5", "--format", "json"});
  EXPECT_EQ(result.exitCode, kItemsFailed);
  const json rows = ParseJson(result.out);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_NE(rows[0]["error"].get<std::string>().find("cannot convert 'abc' to vtI4"), std::string::npos) << rows[0];
  EXPECT_EQ(rows[1]["result"], "ok");
}

TEST(XeloWrite, AsynchronousWritesWaitForTheirCompletion) {
  const XeloResult result =
      RunXelo({"write", "--async", "Static.Int32=7", "Behaviour.Clamped=150", "Behaviour.Slow=3", "--format", "json"});
  ASSERT_EQ(result.exitCode, kOk) << result.err;
  const json rows = ParseJson(result.out);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0]["result"], "ok");
  // The clamp notice is a success, reported with its text.
  EXPECT_EQ(rows[1]["result"], "ok: " + xelo::GetOPCErrorMessage(OPC_S_CLAMP));
  EXPECT_EQ(rows[2]["result"], "ok");
}

// ---- watch ---------------------------------------------------------------------

TEST(XeloWatch, CountFivePrintsFiveRampChangesInOrder) {
  // --duration only bounds a broken run; the count ends a healthy one.
  const XeloResult result = RunXelo(
      {"watch", "Channel 1.Device 1.Ramp", "--rate", "100", "--count", "5", "--duration", "120", "--format", "jsonl"});
  ASSERT_EQ(result.exitCode, kOk) << result.err;
  const std::vector<json> rows = ParseJsonLines(result.out);
  ASSERT_EQ(rows.size(), 5u) << result.out;
  double previous = -1;
  for (const json& row : rows) {
    EXPECT_EQ(row["item"], "Channel 1.Device 1.Ramp");
    EXPECT_EQ(row["quality"], "good");
    ASSERT_TRUE(row["value"].is_number()) << row;
    // The ramp rises by one per update cycle; a fresh server starts at 0,
    // far from its wrap at 100.
    EXPECT_GT(row["value"].get<double>(), previous) << row;
    previous = row["value"].get<double>();
  }
}

// Every item of the server, texts and arrays among them, for a few update
// cycles, with the server checking that the client never keeps, frees or
// changes what it lends (it aborts the process on a violation).
TEST(XeloWatch, EveryItemOfTheServerForSeveralCycles) {
  std::vector<std::string> arguments{"watch"};
  for (const char* device : {"Channel 1.Device 1.", "Channel 1.Device 2."}) {
    for (const char* name : {"Ramp", "Random", "Sine", "Counter", "Setpoint", "Switch", "Text", "Array"}) {
      arguments.push_back(std::string(device) + name);
    }
  }
  for (const char* name : {"Int16", "Int32", "UInt32", "Float", "Double", "Bool", "String", "Date", "ReadOnly",
                           "WriteOnly"}) {
    arguments.push_back(std::string("Static.") + name);
  }
  for (const char* name : {"Clamped", "Bad", "Uncertain", "Slow"}) arguments.push_back(std::string("Behaviour.") + name);
  const std::size_t readable = arguments.size() - 2;  // not the command, not Static.WriteOnly
  for (const char* option : {"--rate", "100", "--duration", "1", "--format", "jsonl"}) arguments.push_back(option);

  const XeloResult result = RunXelo(arguments, {"XELO_SIM_STRICT=1"});
  ASSERT_EQ(result.exitCode, kOk) << result.err;
  EXPECT_EQ(result.err.find("ownership violation"), std::string::npos) << result.err;
  std::set<std::string> seen;
  int texts = 0;
  int arrays = 0;
  for (const json& row : ParseJsonLines(result.out)) {
    seen.insert(row["item"].get<std::string>());
    if (row["type"] == "vtBSTR") {
      ASSERT_TRUE(row["value"].is_string()) << row;
      ++texts;
    }
    if (row["value"].is_array()) ++arrays;
  }
  EXPECT_EQ(seen.size(), readable) << result.out;
  EXPECT_FALSE(seen.contains("Static.WriteOnly"));
  EXPECT_GE(texts, 3);
  EXPECT_GE(arrays, 2);
}

TEST(XeloWatch, AnUnknownItemIsReportedAndTheOthersWatched) {
  const XeloResult result = RunXelo({"watch", "No.Such.Item", "Channel 1.Device 1.Counter", "--rate", "100", "--count",
                                     "2", "--duration", "120", "--format", "json"});
  EXPECT_EQ(result.exitCode, kItemsFailed);
  const json rows = ParseJson(result.out);
  ASSERT_EQ(rows.size(), 3u) << result.out;
  EXPECT_EQ(rows[0]["item"], "No.Such.Item");
  EXPECT_EQ(rows[0]["error"], xelo::GetOPCErrorMessage(OPC_E_UNKNOWNITEMID));
  EXPECT_EQ(rows[1]["item"], "Channel 1.Device 1.Counter");
  EXPECT_EQ(rows[2]["item"], "Channel 1.Device 1.Counter");
}

class XeloWatchSignal : public ::testing::TestWithParam<int> {};

TEST_P(XeloWatchSignal, EndsCleanlyWithValidJson) {
#if defined(_WIN32)
  if (!xelo::testing::win32::HasConsole()) {
    GTEST_SKIP() << "Ctrl-Break needs a console to travel through, and this test program has none (as under "
                    "Wine without a terminal)";
  }
#endif
  XeloProcess watch(
      {"watch", "Channel 1.Device 1.Counter", "--rate", "100", "--format", "json", "--log-level", "info"});
  ASSERT_TRUE(watch.Started());
  // "[" and the first change are out: the subscription runs.
  ASSERT_TRUE(watch.WaitForLines(2));
  watch.Signal(GetParam());
  const XeloResult result = watch.Wait();
  EXPECT_EQ(result.exitCode, kOk) << result.err;
  const json rows = ParseJson(result.out);
  ASSERT_TRUE(rows.is_array());
  EXPECT_GE(rows.size(), 1u);
  EXPECT_NE(result.err.find("disconnected"), std::string::npos) << result.err;
}

#if defined(_WIN32)
INSTANTIATE_TEST_SUITE_P(StopSignals, XeloWatchSignal, ::testing::Values(SIGBREAK));
#else
INSTANTIATE_TEST_SUITE_P(StopSignals, XeloWatchSignal, ::testing::Values(SIGINT, SIGTERM, SIGHUP));
#endif

// ---- output --------------------------------------------------------------------

TEST(XeloOutput, AFailedWriteEndsTheToolWithExitOne) {
  XELO_POSIX_ONLY("/dev/full, SIGPIPE and a shell pipeline");
  ScratchDirectory scratch;
  XeloResult result = RunShell(scratch, R"("$XELO" read Static.Int32 >/dev/full; echo "rc=$?")");
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

TEST(XeloOutput, BadBytesAndWideTextKeepTheOutputWhole) {
  XeloResult result = RunXelo({"read", "Static.Int32", "x\xff", "--format", "json"});
  EXPECT_EQ(result.exitCode, kItemsFailed) << result.err;
  const json rows = ParseJson(result.out);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1]["item"], "x\uFFFD");

  // "Größe.漢字" is 14 bytes but 10 columns wide; the sine passes through
  // 1.2246467991473532E-16, the longest of its texts, once in each period of
  // 40 changes (a server in a process of its own may be anywhere in it).
  result = RunXelo({"watch", "Channel 1.Device 1.Sine", "Größe.漢字", "--rate", "100", "--count", "41"});
  EXPECT_EQ(result.exitCode, kItemsFailed) << result.err;
  const std::vector<std::string> lines = Lines(result.out);
  ASSERT_EQ(lines.size(), 43u) << result.out;
  EXPECT_EQ(lines[1].find(xelo::GetOPCErrorMessage(OPC_E_UNKNOWNITEMID)), lines[0].find("ERROR") + 4) << result.out;
  bool longValue = false;
  for (std::size_t i = 2; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i].find("vtR8"), lines[0].find("TYPE")) << lines[i];
    longValue = longValue || lines[i].find("E-16") != std::string::npos;
  }
  EXPECT_TRUE(longValue) << result.out;
}

// ---- save and run --------------------------------------------------------------

TEST(XeloConfiguration, SaveThenRunRoundTrips) {
  ScratchDirectory scratch;
  const std::string file = scratch.File("demo.xelo");
  XeloResult result = RunXelo({"save", "Static.Int32", "Channel 1.Device 1.Ramp", "-o", file, "--group", "Plant",
                               "--rate", "100", "--format", "json"});
  ASSERT_EQ(result.exitCode, kOk) << result.err;
  const json saved = ParseJson(result.out);
  EXPECT_EQ(saved["file"], file);
  EXPECT_EQ(saved["items"], json({"Static.Int32", "Channel 1.Device 1.Ramp"}));
  const std::string text = xelo::testing::ReadWholeFile(file);
  EXPECT_EQ(text.rfind("object ", 0), 0u) << text;
  EXPECT_NE(text.find("TXeloServer"), std::string::npos);

  result = RunXelo({"run", file, "--count", "4", "--duration", "120", "--format", "jsonl"});
  ASSERT_EQ(result.exitCode, kOk) << result.err;
  const std::vector<json> rows = ParseJsonLines(result.out);
  ASSERT_EQ(rows.size(), 4u) << result.out;
  std::set<std::string> items;
  for (const json& row : rows) {
    EXPECT_EQ(row["group"], "Plant");
    EXPECT_EQ(row["quality"], "good");
    items.insert(row["item"].get<std::string>());
  }
  // The static item changes once (its first value), the ramp goes on.
  EXPECT_EQ(items, (std::set<std::string>{"Static.Int32", "Channel 1.Device 1.Ramp"}));
}

TEST(XeloConfiguration, SaveChecksTheItems) {
  ScratchDirectory scratch;
  const std::string file = scratch.File("plant.xelo");
  XeloResult result = RunXelo({"save", "Static.Int32", "No.Such.Item", "-o", file});
  EXPECT_EQ(result.exitCode, kItemsFailed);
  EXPECT_NE(result.err.find("No.Such.Item"), std::string::npos) << result.err;
  EXPECT_TRUE(scratch.Entries().empty());
  result = RunXelo({"save", "Static.Int32", "No.Such.Item", "-o", file, "--force"});
  EXPECT_EQ(result.exitCode, kItemsFailed);
  EXPECT_NE(xelo::testing::ReadWholeFile(file).find("No.Such.Item"), std::string::npos);
}

TEST(XeloConfiguration, SaveKeepsLinksAndFifosAndStopsAtTheSizeLimit) {
  XELO_POSIX_ONLY("symbolic links, FIFOs and ulimit in a shell");
  ScratchDirectory scratch;
  // Through a symbolic link to its target; a FIFO is written, not replaced.
  XeloResult result = RunShell(scratch, R"(mkdir real && echo old >real/target.xelo && ln -s real/target.xelo link.xelo
"$XELO" save Static.Int32 -o link.xelo >/dev/null && test -L link.xelo && grep -c TXeloServer real/target.xelo
mkfifo pipe && { cat pipe >from-pipe & } && "$XELO" save Static.Int32 -o pipe >/dev/null; wait
test -p pipe && grep -c Static.Int32 from-pipe)");
  EXPECT_EQ(result.out, "1\n1\n") << result.err;

  // Past the file size limit: a message, exit 1, no temporary file left.
  std::string items;
  for (int i = 0; i < 40; ++i) items += " Static.Int32";
  result = RunShell(scratch, "ulimit -f 1; \"$XELO\" save" + items + " -o big.xelo >/dev/null; echo \"rc=$?\"");
  EXPECT_EQ(result.out, "rc=1\n");
  EXPECT_NE(result.err.find("File too large"), std::string::npos) << result.err;
  for (const std::string& name : scratch.Entries()) EXPECT_EQ(name.find("big.xelo"), std::string::npos) << name;
}

TEST(XeloConfiguration, RunPrefersTheServerOfTheCommandLine) {
  ScratchDirectory scratch;
  const std::string file = scratch.File("elsewhere.xelo");
  ASSERT_EQ(RunXelo({"save", "Static.Int32", "-o", file}).exitCode, kOk);
  std::string text = xelo::testing::ReadWholeFile(file);
  const std::size_t name = text.find("'Xelo.Sim.1'");
  ASSERT_NE(name, std::string::npos) << text;
  xelo::testing::WriteWholeFile(file, text.replace(name, 12, "'Other.Server.9'"));

  XeloResult result = RunXelo({"run", file, "--count", "1"});
  EXPECT_EQ(result.exitCode, kFailure);
  EXPECT_NE(result.err.find("Other.Server.9"), std::string::npos) << result.err;
  result = RunXelo({"run", file, "--count", "1", "--server", "Xelo.Sim.1", "--format", "jsonl"});
  EXPECT_EQ(result.exitCode, kOk) << result.err;
  EXPECT_EQ(ParseJsonLines(result.out).size(), 1u) << result.out;
}

TEST(XeloConfiguration, RunRefusesAFileThatIsNoConfiguration) {
  ScratchDirectory scratch;
  const std::string file = scratch.File("notes.txt");
  xelo::testing::WriteWholeFile(file, "shopping list\r\n");
  XeloResult result = RunXelo({"run", file});
  EXPECT_EQ(result.exitCode, kFailure);
  EXPECT_TRUE(result.out.empty());
  EXPECT_NE(result.err.find("wrong fileformat"), std::string::npos) << result.err;

  result = RunXelo({"run", scratch.File("missing.xelo")});
  EXPECT_EQ(result.exitCode, kFailure);
}

// ---- usage ---------------------------------------------------------------------

TEST(XeloUsage, BadUsageGivesExitTwoAndAHelpfulMessage) {
  const std::vector<std::vector<std::string>> cases{
      {},
      {"no-such-command"},
      {"read"},
      {"read", "Xelo.Sim.1"},
      {"read", "Static.Int32", "--no-such-option"},
      {"write", "Static.Int32"},
      {"watch", "Static.Int32", "--count", "0"},
      {"watch", "Static.Int32", "--deadband", "150"},
      {"watch", "Static.Int32", "--deadband", "nan"},
      {"watch", "Static.Int32", "--duration", "nan"},
      {"watch", "Static.Int32", "--duration", "inf"},
      {"watch", "Static.Int32", "--duration", "1e10"},
      {"read", "Static.Int32", "--timeout", "nan"},
      {"save", "Static.Int32", "-o", "unwritten.xelo", "--group", " "},
      {"browse", "--type", "vtNothing"},
      {"browse", "--rights", "x"},
      {"--format", "xml", "servers"},
      {"save", "Static.Int32"},
  };
  for (const std::vector<std::string>& arguments : cases) {
    std::string line;
    for (const std::string& argument : arguments) line += argument + " ";
    SCOPED_TRACE(line);
    const XeloResult result = RunXelo(arguments);
    EXPECT_EQ(result.exitCode, kUsage);
    EXPECT_TRUE(result.out.empty()) << result.out;
    EXPECT_EQ(result.err.rfind("xelo", 0), 0u) << result.err;
    EXPECT_NE(result.err.find("--help"), std::string::npos) << result.err;
  }
}

TEST(XeloUsage, UnknownCommandsAreListed) {
  const XeloResult result = RunXelo({});
  EXPECT_EQ(result.exitCode, kUsage);
  for (const char* command : {"servers", "status", "browse", "props", "read", "write", "watch", "save", "run"}) {
    EXPECT_NE(result.err.find(command), std::string::npos) << command;
  }
}

TEST(XeloUsage, HelpAndVersionSucceed) {
  XeloResult result = RunXelo({"--help"});
  EXPECT_EQ(result.exitCode, kOk);
  for (const char* command : {"servers", "status", "browse", "props", "read", "write", "watch", "save", "run"}) {
    EXPECT_NE(result.out.find(command), std::string::npos) << command;
  }
  for (const char* option : {"--server", "--computer", "--format", "--timeout", "--log-level"}) {
    EXPECT_NE(result.out.find(option), std::string::npos) << option;
  }
  result = RunXelo({"watch", "--help"});
  EXPECT_EQ(result.exitCode, kOk);
  EXPECT_NE(result.out.find("--count"), std::string::npos);
  EXPECT_NE(result.out.find("--duration"), std::string::npos);
  result = RunXelo({"--version"});
  EXPECT_EQ(result.exitCode, kOk);
  EXPECT_EQ(result.out.rfind("xelo ", 0), 0u) << result.out;
}

}  // namespace
