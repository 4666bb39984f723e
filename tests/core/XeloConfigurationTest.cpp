// Configuration files: the server component with its groups and items saved
// as text and loaded back, against the embedded simulation server.
#include "support/ScratchDirectory.h"
#include "support/ServerFixture.h"

#include "xelo/framework/AtomicFile.h"
#include "xelo/framework/Exceptions.h"
#include "xelo/framework/Streams.h"

#include <algorithm>
#include <functional>
#include <limits>
#include <string_view>

namespace xelo::test {
namespace {

using xelo::testing::ReadWholeFile;
using xelo::testing::ScratchDirectory;

class XeloConfigurationTest : public ServerFixture {
 protected:
  std::string Save() { return SaveText(*server_); }
  void Load(std::string_view text) { LoadText(*server_, text); }
};

// Every written property away from its default, in the order the text has;
// events are never part of the text.
TEST_F(XeloConfigurationTest, EveryConfigurationPropertyIsWrittenInOrderAndReadBackDeadBandsExactly) {
  server_->SetName("Plant"), server_->SetTag(-4), server_->SetBatchMode(true), server_->SetComputername("localhost");
  server_->SetServer(sim::kProgIdSim), server_->SetClientName("Line 4"), server_->SetConnectDelay(0);
  TxDefaultGroup& defaults = *server_->GetOPCGroupDefault();
  defaults.SetIsActive(false), defaults.SetUpdateRate(250), defaults.SetDeadBand(0.5f), defaults.SetLocaleId(1033);
  defaults.SetTimeBias(-60);
  TXeloGroup& group = *Groups().Add("Fast");
  TxDefaultItem& itemDefaults = *group.GetDefaultItem();
  itemDefaults.SetIsActive(false), itemDefaults.SetAccessPath("Path"), itemDefaults.SetRequestDataType(vtI4);
  group.GetOPCItems()->AddItem("Static.Int32");
  TXeloItem* plain = group.GetOPCItems()->AddItem("Static.Double");
  plain->SetAccessPath(""), plain->SetIsActive(true), plain->SetRequestDatatype(vtEMPTY);
  const std::string text = Crlf(
      {"object Plant: TXeloServer", "  Tag = -4", "  BatchMode = True", "  ComputerName = 'localhost'",
       "  ServerName = 'Xelo.Sim.1'", "  OPCGroups = <", "    item", "      Name = 'Fast'", "      IsActive = False",
       "      UpdateRate = 250", "      DeadBand = 0.5", "      LocaleId = 1033", "      TimeBias = -60",
       "      DefaultItem.IsActive = False", "      DefaultItem.AccessPath = 'Path'",
       "      DefaultItem.RequestDataType = vtI4", "      OPCItems = <", "        item",
       "          ItemID = 'Static.Int32'", "          AccessPath = 'Path'", "          IsActive = False",
       "          RequestDatatype = vtI4", "        end", "        item", "          ItemID = 'Static.Double'",
       "          IsActive = True", "          RequestDatatype = vtEMPTY", "        end>", "    end>",
       "  OPCGroupDefault.IsActive = False", "  OPCGroupDefault.UpdateRate = 250", "  OPCGroupDefault.DeadBand = 0.5",
       "  OPCGroupDefault.LocaleId = 1033", "  OPCGroupDefault.TimeBias = -60", "  Active = False",
       "  ClientName = 'Line 4'", "  Version = '1.40'", "  ConnectDelay = 0", "end"});
  EXPECT_EQ(Save(), text);
  TXeloServer copy(nullptr);
  LoadText(copy, text);
  EXPECT_EQ(std::tuple(copy.GetName(), copy.GetTag(), copy.GetBatchMode(), copy.GetComputerName()),
            std::tuple("Plant", -4, true, "localhost"));
  // An empty access path is not written, so the item read back starts from
  // its group's template like any new item and keeps the template's path.
  EXPECT_EQ(std::tuple(copy.GetOPCGroups()->GetItem(0)->GetDefaultItem()->GetRequestDataType(),
                       ItemsOf(copy, 0).GetItem(1)->GetRequestDatatype(), ItemsOf(copy, 0).GetItem(1)->GetAccessPath()),
            std::tuple(vtI4, vtEMPTY, "Path"));

  // Single-precision dead bands come back as the very same float: values
  // without a short decimal form, the smallest and the largest ones too.
  const float values[] = {0.1f, 1.0f / 3.0f, 99.99f, 1e-7f, 7.006492e-45f, 100.0f, 99.999992f, 16.777217f};
  for (float v : values) Groups().Add("G" + std::to_string(Groups().GetCount()))->SetDeadBand(v);
  EXPECT_NE(Save().find("      DeadBand = 0.1\r\n"), std::string::npos);
  TXeloServer again(nullptr);
  LoadText(again, Save());
  for (int i = 0; i < int(std::size(values)); ++i) EXPECT_EQ(again.GetOPCGroups()->GetItem(i + 1)->GetDeadBand(), values[i]);
  // Texts of other writers: exponents and the single-precision letter.
  LoadText(again, "object X: TXeloServer\r\n  OPCGroupDefault.DeadBand = 1.5E-3s\r\nend\r\n");
  EXPECT_EQ(again.GetOPCGroupDefault()->GetDeadBand(), 1.5e-3f);
}

// The example configuration connects once, after every group and item was
// read whatever the order (each group reaches the server with all its items
// in one batch), and is written back exactly as read.
TEST_F(XeloConfigurationTest, ExampleFileConnectsOnceAfterReadingAndWritesBackUnchanged) {
  unsigned batchesAtConnect = 0;
  server_->SetOnConnect(
      [&](TPersistent*) { ++connects_, batchesAtConnect = SimulationControl::CallCount("IOPCItemMgt::AddItems"); });
  std::string text = Crlf({"object OPCServer1: TXeloServer", "  BatchMode = False", "  ServerName = 'Xelo.Sim.1'",
                           "  OPCGroups = <"});
  for (const std::string name : {"Group1", "Group2"}) {
    text += Crlf({"    item", "      Name = '" + name + "'", "      IsActive = True", "      UpdateRate = 1000",
                  "      LocaleId = 0", "      TimeBias = 0", "      DefaultItem.RequestDataType = vtEMPTY",
                  "      OPCItems = <", "        item", "          ItemID = 'Channel 1.Device 1.Ramp'",
                  "          IsActive = True", "          RequestDatatype = vtR8", "        end", "        item",
                  "          ItemID = 'Static.String'", "          IsActive = True", "          RequestDatatype = vtEMPTY",
                  "        end>", name == "Group1" ? "    end" : "    end>"});
  }
  text += Crlf({"  OPCGroupDefault.IsActive = True", "  OPCGroupDefault.UpdateRate = 1000", "  OPCGroupDefault.LocaleId = 0",
                "  OPCGroupDefault.TimeBias = 0", "  Active = True", "  Version = '1.40'", "  ConnectDelay = 300", "end"});
  std::string activeFirst = text;
  activeFirst.erase(activeFirst.find("  Active = True\r\n"), 17);
  activeFirst.insert(activeFirst.find("\r\n") + 2, "  Active = True\r\n");
  Load(activeFirst);
  EXPECT_EQ(std::tuple(connects_, batchesAtConnect, SimulationControl::CallCount("IOPCItemMgt::AddItems"),
                       SimulationControl::CallCount("IOPCItemMgt::SetActiveState"), waits_,
                       ItemsOf(*server_, 1).GetItem(1)->IsOnServer()),
            std::tuple(1, 2u, 2u, 0u, std::vector<std::int32_t>{300}, true));
  EXPECT_EQ(Save(), text);
  // A connected component that loads Active = False ends its connection
  // once loading is over, and can connect again.
  Load("object S: TXeloServer\r\n  Active = False\r\nend\r\n");
  EXPECT_EQ(std::tuple(server_->GetActive(), server_->Connected(), disconnects_), std::tuple(false, false, 1));
  server_->SetActive(true);
  EXPECT_TRUE(ItemsOf(*server_, 0).GetItem(0)->IsOnServer());
}

// Quotes, control characters and texts of any script go out as printable
// ASCII (a reader taking each byte inside quotes for a character leaves
// them alone); long identifiers are cut into pieces; files of earlier
// versions, with UTF-8 inside quotes, still read.
TEST_F(XeloConfigurationTest, AwkwardTextsRoundTrip) {
  const std::string greek = "\xCE\xA9\xCE\xBC\xCE\xAD\xCE\xB3\xCE\xB1";
  const std::string emoji = "Tap \xF0\x9F\x9A\xB0";
  std::string longCjk;
  for (int i = 0; i < 20; ++i) longCjk += "\xE6\xB8\xA9\xE5\xBA\xA6" + emoji;
  const std::vector<std::string> ids = {"It's", "Line1\r\nLine2\tEnd\x01", std::string(64, 'a') + "'" + std::string(70, 'b'),
                                        "Temp \xC2\xB0" "C", greek + "\x01\t\x7F", longCjk};
  server_->SetClientName(emoji);
  TXeloGroup& group = *Groups().Add(greek);
  for (const std::string& id : ids) group.GetOPCItems()->AddItem(id);
  const std::string text = Save();
  for (const std::string& line :
       Lines{"ItemID = 'It'#39's'\r\n", "ItemID = 'Line1'#13#10'Line2'#9'End'#1\r\n",
             "ItemID = \r\n            '" + std::string(64, 'a') + "' +\r\n            #39'" + std::string(63, 'b') +
                 "' +\r\n            'bbbbbbb'\r\n",
             "ItemID = 'Temp '#176'C'\r\n", "ClientName = 'Tap '#55357#57008\r\n", "Name = #937#956#941#947#945\r\n",
             "ItemID = #937#956#941#947#945#1#9#127\r\n"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line << text;
  }
  EXPECT_TRUE(std::all_of(text.begin(), text.end(), [](char c) { return (c >= 32 && c < 127) || c == '\r' || c == '\n'; }));
  const std::string old = Crlf({"object S: TXeloServer", "  ClientName = '" + emoji + "'", "  OPCGroups = <", "    item",
                                "      Name = '" + greek + "'", "      OPCItems = <", "        item",
                                "          ItemID = '" + greek + "'#1#9#127", "        end", "        item",
                                "          ItemID = '" + longCjk + "'", "        end>", "    end>", "end"});
  for (const bool fromOld : {false, true}) {
    TXeloServer copy(nullptr);
    LoadText(copy, fromOld ? old : text);
    EXPECT_EQ(std::tuple(copy.GetClientName(), copy.GetOPCGroups()->GetItem(0)->GetName()), std::tuple(emoji, greek));
    const std::size_t first = fromOld ? 4 : 0;
    ASSERT_EQ(static_cast<std::size_t>(ItemsOf(copy, 0).GetCount()), ids.size() - first);
    for (std::size_t i = first; i < ids.size(); ++i) EXPECT_EQ(ItemsOf(copy, 0).GetItem(int(i - first))->GetItemID(), ids[i]);
  }
}

// Files are saved whole or not at all. Files read are checked for the class
// name in their first 299 bytes; streams are read as they are, from their
// position. Properties the text leaves out keep their values, and so do
// empty collections; Version is the library's; the header's name becomes
// the component's, except in a designer.
TEST_F(XeloConfigurationTest, FilesAreSavedWholeOrNotAtAllAndWhatIsReadFromFilesAndStreams) {
  ScratchDirectory dir;
  const std::string path = dir.File("plant.cfg");
  AddGroup({"Static.Int32"}, "One");
  server_->SaveToFile(path);
  const std::string saved = ReadWholeFile(path);
  TXeloServer copy(nullptr);
  copy.LoadFromFile(path);
  EXPECT_EQ(std::tuple(Save(), SaveText(copy)), std::tuple(saved, saved));
  AddGroup({"Static.Bool"}, "Two");
  SetAtomicWriteHookForTesting([](AtomicWriteStep step) {
    if (step == AtomicWriteStep::kPartWritten) throw EFCreateError("simulated: disk full");
  });
  EXPECT_THROW(server_->SaveToFile(path), EFCreateError);
  SetAtomicWriteHookForTesting(nullptr);
  // A directory that takes no new file (here: none at all) fails where the
  // temporary file is created, before the old file is touched.
  EXPECT_THROW(server_->SaveToFile(dir.File("no/such/dir.cfg")), EFCreateError);
  EXPECT_EQ(std::tuple(ReadWholeFile(path), dir.Entries()), std::tuple(saved, Lines{"plant.cfg"}));

  // The client name read, or the error and the name left.
  const auto load = [&](const std::string& head, const std::string& header = "object A: TXeloServer\r\n") {
    xelo::testing::WriteWholeFile(dir.File("c.txt"), head + header + "  ClientName = 'From file'\r\nend\r\n");
    server_->SetClientName("before");
    // The check raises the base exception class.
    const std::string error = MessageOf<Exception>([&] {
      EXPECT_EQ(MessageOf<EOPCException>([&] { server_->LoadFromFile(dir.File("c.txt")); }), "");
    });
    return error + server_->GetClientName();
  };
  const std::size_t room = 299 - std::string("object A: TXeloServer\r\n").size();
  const std::string refused = _STR_WRONGFILE + std::string("before");
  // The check stops at a zero byte.
  EXPECT_EQ(Lines({load(std::string(room + 2, ' ')), load(std::string(room + 3, ' ')), load(std::string("\0", 1)),
                   load("", "OBJECT OPCSERVER1: TXELOSERVER\r\n"), load("", "object OPCServer1: TXeloServer\n"),
                   load("", "object A: TOtherServer\r\n")}),
            Lines({"From file", refused, refused, "From file", "From file", refused}));
  EXPECT_THROW(server_->LoadFromFile(dir.File("missing.txt")), EFOpenError);

  server_->SetComputername("localhost"), server_->SetServer(sim::kProgIdSim), server_->SetConnectDelay(42);
  AddGroup({"Static.Int32"}, "Kept");
  TStringStream in("garbage object Theirs: TSomethingElse\r\n  ClientName = 'Other'\r\n  Version = '9.99'\r\n"
                   "  OPCGroups = <>\r\nend\r\n");
  in.SetPosition(8);
  server_->LoadFromStream(in);
  EXPECT_EQ(std::tuple(server_->GetName(), server_->GetClientName(), server_->GetVersion(), server_->GetComputerName(),
                       server_->GetServerName(), server_->GetConnectDelay(), Groups().GetCount()),
            std::tuple("Theirs", "Other", "1.40", "localhost", sim::kProgIdSim, 42, 3));
  TStringStream out("prefix:");
  out.SetPosition(7);
  server_->SaveToStream(out);
  EXPECT_EQ(out.DataString().substr(0, 22), "prefix:object Theirs: ");
  server_->SetDesigning(true);
  Load(Crlf({"object Other: TXeloServer", "  OPCGroups = <", "    item", "      Name = 'One'", "      OPCItems = <",
             "        item", "          ItemID = 'Static.Bool'", "        end>", "    end", "    item",
             "      Name = 'Two'", "    end>", "end"}));
  ASSERT_EQ(std::tuple(server_->GetName(), Groups().GetCount()), std::tuple("Theirs", 2));
  EXPECT_EQ(std::tuple(ItemsOf(*server_, 0).GetItem(0)->GetItemID(), ItemsOf(*server_, 1).GetCount()),
            std::tuple("Static.Bool", 0));
}

// A text that does not parse, and settings out of their bounds, are
// refused with the reader's error before anything is touched (a setter
// called with such a value raises the same error from code); an error found
// while applying a text leaves what was read before it.
TEST_F(XeloConfigurationTest, BadTextsAndSettingsOutOfBoundsRaiseTheReadingErrors) {
  server_->SetName("S"), server_->SetConnectDelay(42);
  TXeloGroup& group = *AddGroup({"Static.Int32"}, "Before");
  const std::string before = Save();
  for (const char* broken : {"object S: TXeloServer\r\n  ClientName = 'new'\r\n  OPCGroups = <\r\n",
                             "object S: TXeloServer\r\n  ClientName = 'new\r\nend\r\n",
                             "object S: TXeloServer\r\n  ClientName = 'new'\r\nend\r\nend\r\n", "ClientName = 'new'\r\n"}) {
    EXPECT_THROW(Load(broken), EParserError) << broken;
    EXPECT_EQ(Save(), before);
  }
  TxDefaultGroup& defaults = *server_->GetOPCGroupDefault();
  const std::string rate = " is out of range for property UpdateRate (0..2147483647 milliseconds)";
  const std::string band = " is out of range for property DeadBand (0..100 percent)";
  const std::string bias = " is out of range for property TimeBias (-1440..1440 minutes)";
  const std::tuple<std::string, std::string, std::function<void()>> rows[] = {
      {"ConnectDelay = -1", "TXeloServer.ConnectDelay: Value -1 is out of range for property ConnectDelay (0..60000 "
                            "milliseconds)", [&] { server_->SetConnectDelay(-1); }},
      {"OPCGroupDefault.DeadBand = 100.1", "TXeloServer.OPCGroupDefault.DeadBand: Value 100.1" + band,
       [&] { defaults.SetDeadBand(100.1f); }},
      {"OPCGroupDefault.TimeBias = 1441", "TXeloServer.OPCGroupDefault.TimeBias: Value 1441" + bias,
       [&] { defaults.SetTimeBias(1441); }},
      {"G:UpdateRate = -5", "TXeloGroup.UpdateRate: Value -5" + rate, [&] { group.SetUpdateRate(-5); }},
      {"G:UpdateRate = 3000000000", "TXeloGroup.UpdateRate: Value 3000000000" + rate,
       [&] { TXeloGroup::CheckUpdateRate(3000000000); }},
      {"G:DeadBand = NAN", "TXeloGroup.DeadBand: Value NAN" + band,
       [&] { group.SetDeadBand(std::numeric_limits<float>::quiet_NaN()); }},
      {"G:TimeBias = -1441", "TXeloGroup.TimeBias: Value -1441" + bias, [&] {
         std::int32_t updateRate = 100;
         group.SetState(updateRate, true, -1441, 0.0f, 0, 0);
       }},
  };
  for (const auto& [line, error, set] : rows) {
    SCOPED_TRACE(line);
    const bool inGroup = line.starts_with("G:");
    EXPECT_EQ(MessageOf<EReadError>([&] {
                Load(Crlf({"object S: TXeloServer", "  ClientName = 'new'", "  OPCGroups = <", "    item",
                           "      Name = 'New'", inGroup ? "      " + line.substr(2) : "      IsActive = True",
                           "    end>", inGroup ? "  Tag = 1" : "  " + line, "end"}));
              }),
              "Error reading " + error);
    EXPECT_EQ(std::tuple(Save(), server_->GetComponentState().Contains(csLoading)), std::tuple(before, false));
    EXPECT_EQ(MessageOf<EPropertyError>(set), error.substr(error.find(": ") + 2));
    EXPECT_EQ(Save(), before);
  }
  const std::pair<const char*, const char*> errors[] = {
      {"  Colour = 3", "TXeloServer.Colour: Property Colour does not exist"},
      {"  ConnectDelay = 'soon'", "TXeloServer.ConnectDelay: An integer value expected"},
      {"  OPCGroups = <\r\n    item\r\n      OPCItems = <\r\n        item\r\n          RequestDatatype = vtR16\r\n"
       "        end>\r\n    end>", "TXeloItem.RequestDatatype: Invalid enumeration value 'vtR16'"},
      {"  OnConnect = Handler", "TXeloServer.OnConnect: Event handlers are not read from a component stream"},
  };
  for (const auto& [line, error] : errors) {
    server_->SetClientName("old");
    EXPECT_EQ(MessageOf<EReadError>([&] {
                Load(std::string("object S: TXeloServer\r\n  ClientName = 'new'\r\n") + line + "\r\nend\r\n");
              }),
              "Error reading " + std::string(error));
    EXPECT_EQ(std::tuple(server_->GetClientName(), server_->GetComponentState().Contains(csLoading)),
              std::tuple("new", false));
  }
  // The bounds themselves are fine.
  Load(Crlf({"object S: TXeloServer", "  OPCGroups = <", "    item", "      UpdateRate = 0", "      DeadBand = 100",
             "      TimeBias = -1440", "    end>", "  OPCGroupDefault.TimeBias = 1440", "  ConnectDelay = 60000", "end"}));
  EXPECT_EQ(std::tuple(Groups().GetItem(0)->GetUpdateRate(), Groups().GetItem(0)->GetDeadBand(),
                       Groups().GetItem(0)->GetTimeBias(), defaults.GetTimeBias(), server_->GetConnectDelay()),
            std::tuple(0, kMaxDeadBand, -kMaxTimeBias, kMaxTimeBias, kMaxConnectDelay));
}

}  // namespace
}  // namespace xelo::test
