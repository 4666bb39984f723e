// The `xelo` program as a user runs it: arguments, output formats, exit
// codes, against the embedded simulation server it links.
#include "support/NativeCom.h"
#include "XeloProcess.h"

#include "xelo/core/XeloErrors.h"
#include "xelo/opc/OpcError.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <optional>
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
  EXPECT_EQ(lines[0], "item,value,type,quality,timestamp,error,errorCode,errorName,qualityCode");
  EXPECT_EQ(lines[1].rfind("Static.String,", 0), 0u) << lines[1];

  // A field with a comma or a quote is quoted, its quotes doubled.
  result = RunXelo({"read", "say \"hi\", then", "--format", "csv", "--no-header"});
  EXPECT_EQ(result.exitCode, kItemsFailed) << result.err;
  EXPECT_EQ(result.out.rfind("\"say \"\"hi\"\", then\",,,,,", 0), 0u) << result.out;
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

// A server that dies while watched: XELO_SIM_OUTAGE kills the embedded
// simulation server a while after the tool created it, and keeps it from
// starting again for a while (or for good).
#define XELO_EMBEDDED_SERVER_ONLY()                                                                      \
  if (xelo::test::kNativeCom)                                                                            \
  GTEST_SKIP() << "the outage switch is the embedded simulation server's; on Windows' COM the tool reaches " \
                  "the server in a process of its own"

constexpr const char* kLostCode = "0x800706BA";  // RPC_S_SERVER_UNAVAILABLE as HRESULT

TEST(XeloWatch, ComesBackAfterALostServerWithEveryItem) {
  XELO_EMBEDDED_SERVER_ONLY();
  const XeloResult result =
      // A bare --reconnect takes no item for its seconds.
      RunXelo({"watch", "--reconnect", "Channel 1.Device 1.Ramp", "Static.String", "--rate", "100", "--duration",
               "6", "--format", "jsonl"},
              {"XELO_SIM_OUTAGE=0.5:0.5"});
  ASSERT_EQ(result.exitCode, kOk) << result.err;
  const std::vector<json> lines = ParseJsonLines(result.out);
  // good rows, the loss, both items bad with their last value, the
  // return, both items good again, and the ramp moving on.
  std::size_t lost = lines.size();
  std::size_t back = lines.size();
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].contains("event") && lines[i]["event"] == "connectionLost") lost = std::min(lost, i);
    if (lines[i].contains("event") && lines[i]["event"] == "reconnected") back = std::min(back, i);
  }
  ASSERT_LT(lost, back) << result.out;
  ASSERT_LT(back + 3, lines.size()) << result.out;
  EXPECT_GT(lost, 0u);
  EXPECT_EQ(lines[lost]["errorCode"], kLostCode);
  EXPECT_EQ(lines[lost]["errorName"], "RPC_S_SERVER_UNAVAILABLE");
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
}

TEST(XeloWatch, AServerThatStaysLostEndsTheRunWithExitFour) {
  XELO_EMBEDDED_SERVER_ONLY();
  constexpr int kConnectionLost = 4;
  // Without --reconnect at once, as CSV (the loss only on stderr).
  XeloResult result = RunXelo({"watch", "Static.Int32", "--duration", "60", "--format", "csv"}, {"XELO_SIM_OUTAGE=0.2"});
  EXPECT_EQ(result.exitCode, kConnectionLost) << result.err;
  std::vector<std::string> lines = Lines(result.out);
  ASSERT_EQ(lines.size(), 3u) << result.out;
  EXPECT_TRUE(lines[2].starts_with("Static.Int32,32,vtI4,bad: communication failure,")) << lines[2];
  EXPECT_NE(result.err.find("connection to Xelo.Sim.1 lost: "), std::string::npos) << result.err;

  // With --reconnect=1, after a second of trying; the JSON still whole.
  result = RunXelo({"watch", "Static.Int32", "--reconnect=1", "--duration", "60", "--format", "json"},
                   {"XELO_SIM_OUTAGE=0.2"});
  EXPECT_EQ(result.exitCode, kConnectionLost) << result.err;
  const json rows = ParseJson(result.out);
  ASSERT_EQ(rows.size(), 3u) << result.out;
  EXPECT_EQ(rows[1]["event"], "connectionLost");
  EXPECT_EQ(rows[2]["qualityCode"], 24);
  EXPECT_NE(result.err.find("not back after"), std::string::npos) << result.err;

  // A configuration that asks for reconnection itself (with its own
  // keep-alive) is waited for by `run` without --reconnect.
  ScratchDirectory scratch;
  const std::string file = scratch.File("lost.xelo");
  ASSERT_EQ(RunXelo({"save", "Static.Int32", "-o", file}).exitCode, kOk);
  std::string text = xelo::testing::ReadWholeFile(file);
  const std::size_t active = text.find("  Active = False");
  ASSERT_NE(active, std::string::npos) << text;
  text.insert(active, "  KeepAlive = 200\n  AutoReconnect = True\n  ReconnectInterval = 300\n");
  xelo::testing::WriteWholeFile(file, text);
  result = RunXelo({"run", file, "--duration", "4", "--format", "jsonl"}, {"XELO_SIM_OUTAGE=0.3:0.3"});
  EXPECT_EQ(result.exitCode, kOk) << result.err;
  std::vector<std::string> events;
  for (const json& line : ParseJsonLines(result.out)) {
    if (line.contains("event")) events.push_back(line["event"]);
  }
  EXPECT_EQ(events, (std::vector<std::string>{"connectionLost", "reconnected"})) << result.out;

  // A value of the switch that makes no sense is said and ignored.
  result = RunXelo({"watch", "Static.Int32", "--count", "1", "--duration", "60"}, {"XELO_SIM_OUTAGE=soon"});
  EXPECT_EQ(result.exitCode, kOk) << result.err;
  EXPECT_NE(result.err.find("XELO_SIM_OUTAGE: expected AFTER[:DOWN] in seconds, not 'soon'"), std::string::npos)
      << result.err;
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

// ---- time stamps ---------------------------------------------------------------

// "YYYY-MM-DDThh:mm:ss.mmm" and what follows it ("Z", "+01:00"), or
// nothing when `text` is no such time stamp.
std::optional<std::pair<std::tm, std::string>> IsoStamp(const std::string& text) {
  static const std::regex pattern(R"(^(\d{4})-(\d\d)-(\d\d)T(\d\d):(\d\d):(\d\d)\.\d{3}(.*)$)");
  std::smatch match;
  if (!std::regex_match(text, match, pattern)) return std::nullopt;
  std::tm parts{};
  parts.tm_year = std::stoi(match[1]) - 1900;
  parts.tm_mon = std::stoi(match[2]) - 1;
  parts.tm_mday = std::stoi(match[3]);
  parts.tm_hour = std::stoi(match[4]);
  parts.tm_min = std::stoi(match[5]);
  parts.tm_sec = std::stoi(match[6]);
  return std::pair(parts, match[7].str());
}

// Minutes since some fixed day, from the calendar fields alone.
long Minutes(const std::tm& parts) {
  const int y = parts.tm_year + 1900 - (parts.tm_mon < 2 ? 1 : 0);
  const int m = (parts.tm_mon + 10) % 12;  // March is 0
  const long days = 365L * y + y / 4 - y / 100 + y / 400 + (153 * m + 2) / 5 + parts.tm_mday;
  return days * 1440 + parts.tm_hour * 60 + parts.tm_min;
}

// A zone west of UTC and one east of it with a half hour in its offset:
// JSON and CSV give UTC with "Z", --local-time the zone's time with its
// offset, the table the local time.
TEST(XeloTimeStamps, UtcForProgramsLocalTimeForPeople) {
  struct Zone {
    std::string tz;
    long offset;  // minutes
    std::string suffix;
  };
  for (const auto& [zone, offset, suffix] : {Zone{"EST5", -300, "-05:00"}, Zone{"IST-5:30", 330, "+05:30"}}) {
    SCOPED_TRACE(zone);
    const std::vector<std::string> environment{"TZ=" + zone};
    XeloResult utc = RunXelo({"read", "Static.Int32", "--format", "jsonl"}, environment);
    ASSERT_EQ(utc.exitCode, kOk) << utc.err;
    const auto utcStamp = IsoStamp(ParseJson(utc.out)["timestamp"].get<std::string>());
    ASSERT_TRUE(utcStamp) << utc.out;
    EXPECT_EQ(utcStamp->second, "Z");

    XeloResult local = RunXelo({"read", "Static.Int32", "--format", "csv", "--local-time"}, environment);
    ASSERT_EQ(local.exitCode, kOk) << local.err;
    const std::vector<std::string> lines = Lines(local.out);
    ASSERT_EQ(lines.size(), 2u);
    const std::string field = lines[1].substr(lines[1].find(",vtI4,good,") + 11, 29);
    const auto localStamp = IsoStamp(field);
    ASSERT_TRUE(localStamp) << lines[1];
    EXPECT_EQ(localStamp->second, suffix);
    // Two runs a moment apart: the same minute but for the offset (or the
    // minute after).
    const long difference = Minutes(localStamp->first) - Minutes(utcStamp->first) - offset;
    EXPECT_TRUE(difference == 0 || difference == 1) << field << " vs " << utc.out;

    // The table: local time with a blank, never the ISO form.
    const XeloResult table = RunXelo({"read", "Static.Int32"}, environment);
    ASSERT_EQ(table.exitCode, kOk) << table.err;
    EXPECT_TRUE(std::regex_search(table.out, std::regex(R"(good +\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}\r?\n)")))
        << table.out;
    EXPECT_EQ(table.out.find('T', table.out.find("good")), std::string::npos) << table.out;
  }
  // The server's own times too.
  const XeloResult status = RunXelo({"status", "--format", "json"});
  ASSERT_EQ(status.exitCode, kOk) << status.err;
  const json record = ParseJson(status.out);
  for (const char* key : {"startTime", "currentTime"}) {
    const auto stamp = IsoStamp(record[key].get<std::string>());
    ASSERT_TRUE(stamp) << record;
    EXPECT_EQ(stamp->second, "Z");
  }
  EXPECT_TRUE(record["lastUpdateTime"].is_null());
}

// ---- result codes --------------------------------------------------------------

std::string Hex(HRESULT code) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(code));
  return text;
}

TEST(XeloResultCodes, FailedItemsCarryTheirCodeAndName) {
  XeloResult result = RunXelo({"read", "No.Such.Item", "Static.Int32", "--format", "json"});
  EXPECT_EQ(result.exitCode, kItemsFailed);
  json rows = ParseJson(result.out);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0]["errorCode"], Hex(OPC_E_UNKNOWNITEMID));
  EXPECT_EQ(rows[0]["errorCode"], "0xC0040007");
  EXPECT_EQ(rows[0]["errorName"], "OPC_E_UNKNOWNITEMID");
  EXPECT_EQ(rows[0]["error"], xelo::GetOPCErrorMessage(OPC_E_UNKNOWNITEMID));
  EXPECT_TRUE(rows[1]["errorCode"].is_null());
  EXPECT_TRUE(rows[1]["errorName"].is_null());

  // A refused write, a clamped one (a success with news) and a value that
  // never reached the server, which has no code.
  result = RunXelo(
      {"write", "--async", "Static.ReadOnly=1", "Behaviour.Clamped=150", "Static.Int32=abc", "--format", "jsonl"});
  EXPECT_EQ(result.exitCode, kItemsFailed);
  const std::vector<json> written = ParseJsonLines(result.out);
  ASSERT_EQ(written.size(), 3u) << result.out;
  EXPECT_EQ(written[0]["errorCode"], Hex(OPC_E_BADRIGHTS));
  EXPECT_EQ(written[0]["errorName"], "OPC_E_BADRIGHTS");
  EXPECT_TRUE(written[1]["error"].is_null());
  EXPECT_EQ(written[1]["errorCode"], Hex(OPC_S_CLAMP));
  EXPECT_EQ(written[1]["errorName"], "OPC_S_CLAMP");
  EXPECT_FALSE(written[2]["error"].is_null());
  EXPECT_TRUE(written[2]["errorCode"].is_null());

  // The property list's failure reaches the tool as text; the code is found.
  result = RunXelo({"props", "No.Such.Item", "--format", "json"});
  EXPECT_EQ(result.exitCode, kItemsFailed);
  rows = ParseJson(result.out);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0]["errorCode"], Hex(OPC_E_UNKNOWNITEMID));
  EXPECT_EQ(rows[0]["errorName"], "OPC_E_UNKNOWNITEMID");

  // CSV has them as columns; the table leaves them out.
  result = RunXelo({"read", "No.Such.Item", "--format", "csv"});
  const std::vector<std::string> lines = Lines(result.out);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[1].find(",0xC0040007,OPC_E_UNKNOWNITEMID,"), std::string::npos) << lines[1];
  result = RunXelo({"read", "No.Such.Item"});
  EXPECT_EQ(result.out.find("OPC_E_UNKNOWNITEMID"), std::string::npos) << result.out;
}

// ---- standard input ------------------------------------------------------------

TEST(XeloStandardInput, ItemsComeOneALineInTheirPlace) {
  // Blank lines and CR LF line ends are no items; "-" stands where it is.
  XeloResult result = RunXelo({"read", "Static.Double", "-", "Static.Bool", "--format", "jsonl"}, {},
                              "Static.Int32\r\n\n  \nStatic.String\nNo.Such.Item");
  EXPECT_EQ(result.exitCode, kItemsFailed) << result.err;
  std::vector<std::string> items;
  for (const json& row : ParseJsonLines(result.out)) items.push_back(row["item"].get<std::string>());
  EXPECT_EQ(items, (std::vector<std::string>{"Static.Double", "Static.Int32", "Static.String", "No.Such.Item",
                                             "Static.Bool"}));

  // write: ITEM=VALUE a line, the value the rest of the line.
  result = RunXelo({"write", "-", "--format", "json"}, {}, "Static.String= two words = \nStatic.Int16=-3\n");
  ASSERT_EQ(result.exitCode, kOk) << result.err << result.out;
  const json rows = ParseJson(result.out);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0]["item"], "Static.String");
  EXPECT_EQ(rows[0]["value"], " two words = ");
  EXPECT_EQ(rows[1]["value"], -3);
  EXPECT_EQ(rows[1]["result"], "ok");

  result = RunXelo({"props", "-", "--format", "json"}, {}, "Static.Int32\n");
  ASSERT_EQ(result.exitCode, kOk) << result.err;
  EXPECT_NE(FindBy(ParseJson(result.out), "description", "Item Canonical Data Type"), nullptr);

  result = RunXelo({"watch", "-", "--rate", "100", "--count", "2", "--duration", "120", "--format", "jsonl"}, {},
                   "Static.Int32\nStatic.String\n");
  ASSERT_EQ(result.exitCode, kOk) << result.err;
  EXPECT_EQ(ParseJsonLines(result.out).size(), 2u);
}

TEST(XeloStandardInput, BadInputIsAUsageError) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
      {{"read", "-"}, "\n \r\n"},
      {{"write", "-"}, "Static.Int32=1\nStatic.Int32\n"},
      {{"write", "-"}, "=5\n"},
      {{"read", "-"}, std::string("Static.Int32\nStatic\0Int32\n", 26)},
  };
  const std::vector<std::string> messages{"no ITEM on standard input", "standard input, line 2: 'Static.Int32' is no "
                                          "ITEM=VALUE", "standard input, line 1: '=5' is no ITEM=VALUE",
                                          "standard input, line 2: holds a NUL byte"};
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(messages[i]);
    const XeloResult result = RunXelo(cases[i].first, {}, cases[i].second);
    EXPECT_EQ(result.exitCode, kUsage);
    EXPECT_TRUE(result.out.empty()) << result.out;
    EXPECT_NE(result.err.find(messages[i]), std::string::npos) << result.err;
  }
}

// ---- watch: the current values first -------------------------------------------

TEST(XeloWatch, PrintsEveryCurrentValueAtOnceAndRepeatsNoSample) {
  // A minute between updates: only the refresh at the start can print.
  XeloResult result = RunXelo({"watch", "Static.Int32", "Channel 1.Device 1.Ramp", "Behaviour.Bad", "Static.String",
                               "--rate", "60000", "--duration", "1", "--format", "jsonl"});
  ASSERT_EQ(result.exitCode, kOk) << result.err;
  std::vector<json> rows = ParseJsonLines(result.out);
  std::multiset<std::string> items;
  for (const json& row : rows) items.insert(row["item"].get<std::string>());
  EXPECT_EQ(items, (std::multiset<std::string>{"Static.Int32", "Channel 1.Device 1.Ramp", "Behaviour.Bad",
                                               "Static.String"}))
      << result.out;
  EXPECT_EQ(FindBy(json(rows), "item", "Behaviour.Bad")->at("quality"), "bad: device failure");

  // Fast updates: the refresh and the server's first update both carry the
  // static item; it is printed once, the ramp on every change.
  result = RunXelo({"watch", "Static.Int32", "Channel 1.Device 1.Ramp", "--rate", "100", "--duration", "1", "--format",
                    "jsonl"});
  ASSERT_EQ(result.exitCode, kOk) << result.err;
  rows = ParseJsonLines(result.out);
  int statics = 0;
  int ramps = 0;
  for (const json& row : rows) (row["item"] == "Static.Int32" ? statics : ramps)++;
  EXPECT_EQ(statics, 1) << result.out;
  EXPECT_GE(ramps, 3) << result.out;
}

// ---- read --repeat ---------------------------------------------------------------

TEST(XeloRead, RepeatPollsCountedTimesInOneDocument) {
  XeloResult result = RunXelo({"read", "Channel 1.Device 1.Ramp", "No.Such.Item", "--repeat", "0.25", "--count", "3",
                               "--format", "json"});
  EXPECT_EQ(result.exitCode, kItemsFailed) << result.err;
  const json rows = ParseJson(result.out);
  ASSERT_EQ(rows.size(), 6u) << result.out;
  double previous = -1;
  for (std::size_t i = 0; i < rows.size(); i += 2) {
    EXPECT_EQ(rows[i]["item"], "Channel 1.Device 1.Ramp");
    EXPECT_EQ(rows[i + 1]["errorName"], "OPC_E_UNKNOWNITEMID");
    // A new value each time: the ramp climbs between the reads.
    ASSERT_TRUE(rows[i]["value"].is_number()) << rows[i];
    EXPECT_GT(rows[i]["value"].get<double>(), previous) << result.out;
    previous = rows[i]["value"].get<double>();
  }

  // Without headers, table and CSV are rows only, one per read.
  for (const char* format : {"csv", "table"}) {
    SCOPED_TRACE(format);
    result = RunXelo({"read", "Static.Int32", "--repeat", "0.1", "--count", "2", "--no-header", "--format", format});
    ASSERT_EQ(result.exitCode, kOk) << result.err;
    const std::vector<std::string> lines = Lines(result.out);
    ASSERT_EQ(lines.size(), 2u) << result.out;
    for (const std::string& line : lines) EXPECT_EQ(line.rfind("Static.Int32", 0), 0u) << line;
  }
  result = RunXelo({"read", "Static.Int32", "--no-header", "--format", "csv"});
  EXPECT_EQ(Lines(result.out).size(), 1u) << result.out;
}

TEST(XeloRead, RepeatEndsCleanlyOnASignal) {
#if defined(_WIN32)
  if (!xelo::testing::win32::HasConsole()) GTEST_SKIP() << "Ctrl-Break needs a console to travel through";
  constexpr int kStop = SIGBREAK;
#else
  constexpr int kStop = SIGINT;
#endif
  XeloProcess read({"read", "Static.Int32", "--repeat", "0.1", "--format", "json"});
  ASSERT_TRUE(read.Started());
  ASSERT_TRUE(read.WaitForLines(3));
  read.Signal(kStop);
  const XeloResult result = read.Wait();
  EXPECT_EQ(result.exitCode, kOk) << result.err;
  const json rows = ParseJson(result.out);
  ASSERT_TRUE(rows.is_array());
  EXPECT_GE(rows.size(), 2u);
}

// ---- save: several groups --------------------------------------------------------

TEST(XeloConfiguration, SaveWritesEveryGroupWithItsOwnSettings) {
  ScratchDirectory scratch;
  const std::string file = scratch.File("two.xelo");
  XeloResult result = RunXelo({"save", "Xelo.Sim.1", "--rate", "500", "--group", "Fast", "Channel 1.Device 1.Ramp",
                               "--rate", "100", "--group", "Plant", "Static.Int32", "Static.String", "--deadband", "5",
                               "-o", file, "--format", "json"});
  ASSERT_EQ(result.exitCode, kOk) << result.err;
  const json saved = ParseJson(result.out);
  EXPECT_TRUE(saved["group"].is_null());
  EXPECT_EQ(saved["items"], json({"Channel 1.Device 1.Ramp", "Static.Int32", "Static.String"}));
  ASSERT_EQ(saved["groups"].size(), 2u);
  EXPECT_EQ(saved["groups"][0], json::parse(R"({"name":"Fast","updateRate":100,"deadBand":0.0,
                                                "items":["Channel 1.Device 1.Ramp"]})"));
  EXPECT_EQ(saved["groups"][1], json::parse(R"({"name":"Plant","updateRate":500,"deadBand":5.0,
                                                "items":["Static.Int32","Static.String"]})"));
  const std::string text = xelo::testing::ReadWholeFile(file);
  EXPECT_NE(text.find("UpdateRate = 100"), std::string::npos) << text;
  EXPECT_NE(text.find("DeadBand = 5"), std::string::npos) << text;

  // Running it shows each item in its own group, the current values first.
  result = RunXelo({"run", file, "--count", "5", "--duration", "120", "--format", "jsonl"});
  ASSERT_EQ(result.exitCode, kOk) << result.err;
  std::set<std::pair<std::string, std::string>> seen;
  for (const json& row : ParseJsonLines(result.out)) {
    seen.insert({row["group"].get<std::string>(), row["item"].get<std::string>()});
  }
  EXPECT_EQ(seen, (std::set<std::pair<std::string, std::string>>{
                      {"Fast", "Channel 1.Device 1.Ramp"}, {"Plant", "Static.Int32"}, {"Plant", "Static.String"}}));

  // A refused item of the second group keeps the whole file unwritten.
  result = RunXelo({"save", "--group", "A", "Static.Int32", "--group", "B", "No.Such.Item", "-o",
                    scratch.File("refused.xelo")});
  EXPECT_EQ(result.exitCode, kItemsFailed);
  EXPECT_NE(result.err.find("No.Such.Item"), std::string::npos) << result.err;
  EXPECT_EQ(xelo::testing::ReadWholeFile(scratch.File("refused.xelo")), "");
}

// ---- the README's JSON members ---------------------------------------------------

// The table of members in the README's "JSON output" section, by command:
// "read" -> its members, "save groups" -> the members of each element of
// save's "groups". Also every member there must be explained in a list
// item of the section.
std::map<std::string, std::vector<std::string>> DocumentedMembers(std::set<std::string>& explained) {
  const std::string readme = xelo::testing::ReadWholeFile(XELO_README);
  const std::size_t start = readme.find("### JSON output");
  EXPECT_NE(start, std::string::npos);
  const std::string section = readme.substr(start, readme.find("\n#", start + 1) - start);
  std::map<std::string, std::vector<std::string>> members;
  std::istringstream in(section);
  std::string line;
  const std::regex code("`([^`]+)`");
  while (std::getline(in, line)) {
    if (line.rfind("| `", 0) == 0) {
      const std::size_t split = line.find('|', 1);
      std::string command;
      const std::string left = line.substr(0, split);
      for (auto it = std::sregex_iterator(left.begin(), left.end(), code); it != std::sregex_iterator(); ++it) {
        command += (command.empty() ? "" : " ") + (*it)[1].str();
      }
      const std::string right = line.substr(split);
      std::vector<std::string>& names = members[command];
      for (auto it = std::sregex_iterator(right.begin(), right.end(), code); it != std::sregex_iterator(); ++it) {
        names.push_back((*it)[1]);
      }
    } else if (line.rfind("- `", 0) == 0) {
      const std::string head = line.substr(0, line.find(':'));
      for (auto it = std::sregex_iterator(head.begin(), head.end(), code); it != std::sregex_iterator(); ++it) {
        explained.insert((*it)[1]);
      }
    }
  }
  return members;
}

// The members of a JSON object in the order of the text.
std::vector<std::string> Keys(const nlohmann::ordered_json& object) {
  std::vector<std::string> keys;
  for (const auto& [key, value] : object.items()) keys.push_back(key);
  return keys;
}

TEST(XeloDocumentation, TheReadmeNamesEveryJsonMemberInOrder) {
  std::set<std::string> explained;
  const std::map<std::string, std::vector<std::string>> documented = DocumentedMembers(explained);
  ScratchDirectory scratch;
  const std::string file = scratch.File("doc.xelo");
  // Every command, run so that its output has at least one object (save
  // before run, which loads what it saved).
  const std::vector<std::pair<std::string, std::vector<std::string>>> runs{
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
  std::set<std::string> commands;
  for (const auto& [command, members] : documented) commands.insert(command);
  std::set<std::string> expected{"save groups"};
  for (const auto& [command, arguments] : runs) expected.insert(command);
  expected.insert("watch run");  // the events among the rows
  EXPECT_EQ(commands, expected);

  for (const auto& [command, arguments] : runs) {
    SCOPED_TRACE(command);
    std::vector<std::string> withFormat = arguments;
    withFormat.insert(withFormat.end(), {"--format", "jsonl"});
    const XeloResult result = RunXelo(withFormat);
    ASSERT_EQ(result.exitCode, kOk) << result.err;
    std::vector<nlohmann::ordered_json> objects;
    for (const std::string& line : Lines(result.out)) objects.push_back(nlohmann::ordered_json::parse(line));
    ASSERT_FALSE(objects.empty()) << result.out;
    ASSERT_TRUE(documented.contains(command));
    for (const auto& object : objects) EXPECT_EQ(Keys(object), documented.at(command)) << object;
    for (const std::string& member : documented.at(command)) EXPECT_TRUE(explained.contains(member)) << member;
    if (command == "save") {
      for (const auto& group : objects.front()["groups"]) EXPECT_EQ(Keys(group), documented.at("save groups"));
      for (const std::string& member : documented.at("save groups")) EXPECT_TRUE(explained.contains(member));
    }
  }

  if (xelo::test::kNativeCom) return;  // the outage switch is the embedded server's
  const XeloResult lost = RunXelo({"watch", "Static.Int32", "--reconnect=0.5", "--format", "jsonl"},
                                  {"XELO_SIM_OUTAGE=0.1"});
  std::size_t events = 0;
  for (const std::string& line : Lines(lost.out)) {
    const auto object = nlohmann::ordered_json::parse(line);
    if (!object.contains("event")) continue;
    ++events;
    EXPECT_EQ(Keys(object), documented.at("watch run")) << object;
  }
  EXPECT_EQ(events, 1u) << lost.out;
  for (const std::string& member : documented.at("watch run")) EXPECT_TRUE(explained.contains(member)) << member;
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
      {"watch", "Static.Int32", "--reconnect=soon"},
      {"run", "plant.xelo", "--reconnect=-1"},
      {"read", "Static.Int32", "--timeout", "nan"},
      {"save", "Static.Int32", "-o", "unwritten.xelo", "--group", " "},
      {"browse", "--type", "vtNothing"},
      {"browse", "--rights", "x"},
      {"--format", "xml", "servers"},
      {"save", "Static.Int32"},
      {"read", "Static.Int32", "--count", "2"},
      {"read", "Static.Int32", "--repeat", "0"},
      {"read", "-", "Static.Int32", "-"},
      {"read", "-"},
      {"props", "-"},
      {"save", "Static.Int32", "--group", "A", "--group", "B", "Static.String", "-o", "unwritten.xelo"},
      {"save", "--group", "A", "Static.Int32", "--group", "A", "Static.String", "-o", "unwritten.xelo"},
      {"save", "--group", "A", "Static.Int32", "--group", "B", "-o", "unwritten.xelo"},
      {"save", "--group", "A", "Static.Int32", "--rate", "1", "--rate", "2", "--group", "B", "Static.String", "-o",
       "unwritten.xelo"},
      {"save", "Static.Int32", "--rate", "100", "--rate", "200", "-o", "unwritten.xelo"},
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
