// Configuration files: the server component with its groups and items saved
// as text and loaded back, against the embedded simulation server.
#include "xelo/core/Xelo.h"

#include "support/ServerFixture.h"
#include "support/ScratchDirectory.h"

#include "servers/simulation/SimulationControl.h"
#include "servers/simulation/SimulationServer.h"
#include "xelo/framework/AtomicFile.h"
#include "xelo/framework/Exceptions.h"
#include "xelo/framework/Streams.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <limits>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#if !defined(_WIN32)
#include <unistd.h>
#endif

namespace {

using namespace xelo;
using xelo::sim::SimulationControl;
using xelo::testing::ReadWholeFile;
using xelo::testing::ScratchDirectory;
using xelo::testing::WriteWholeFile;

// The lines joined with CR LF, the last one ended too.
std::string Crlf(std::initializer_list<std::string_view> lines) {
  std::string text;
  for (std::string_view line : lines) {
    text += line;
    text += "\r\n";
  }
  return text;
}

class XeloConfigurationTest : public xelo::test::ServerFixture {
 protected:
  void TearDown() override {
    SetAtomicWriteHookForTesting(nullptr);
    ServerFixture::TearDown();
  }

  std::string Save() { return Save(*server_); }
  static std::string Save(TXeloServer& server) {
    TStringStream out;
    server.SaveToStream(out);
    return out.DataString();
  }
  void Load(std::string_view text) { Load(*server_, text); }
  static void Load(TXeloServer& server, std::string_view text) {
    TStringStream in(text);
    server.LoadFromStream(in);
  }

  TXeloGroup& AddGroup(const std::string& name, std::initializer_list<const char*> itemIds = {}) {
    TXeloGroup* group = Groups().Add(name);
    for (const char* id : itemIds) group->GetOPCItems()->AddItem(id);
    return *group;
  }
  TXeloItem& ItemAt(int group, int item) { return *Groups().GetItem(group)->GetOPCItems()->GetItem(item); }
};

// Handlers are assigned by the fixture: events are never part of the text.
TEST_F(XeloConfigurationTest, DefaultComponentSavesByteForByte) {
  server_->SetName("OPCServer1");
  EXPECT_EQ(Save(), Crlf({"object OPCServer1: TXeloServer",
                          "  BatchMode = False",
                          "  OPCGroups = <>",
                          "  OPCGroupDefault.IsActive = True",
                          "  OPCGroupDefault.UpdateRate = 1000",
                          "  OPCGroupDefault.LocaleId = 0",
                          "  OPCGroupDefault.TimeBias = 0",
                          "  Active = False",
                          "  Version = '1.40'",
                          "  ConnectDelay = 300",
                          "end"}));
}

// Every written property away from its default, in the order the text has.
TEST_F(XeloConfigurationTest, EveryConfigurationPropertyIsWrittenInOrderAndReadBack) {
  server_->SetName("Plant");
  server_->SetTag(-4);
  server_->SetBatchMode(true);
  server_->SetComputername("localhost");
  server_->SetServer(sim::kProgIdSim);
  TxDefaultGroup& defaults = *server_->GetOPCGroupDefault();
  defaults.SetIsActive(false);
  defaults.SetUpdateRate(250);
  defaults.SetDeadBand(0.5f);
  defaults.SetLocaleId(1033);
  defaults.SetTimeBias(-60);
  server_->SetClientName("Line 4");
  server_->SetConnectDelay(0);
  TXeloGroup& group = AddGroup("Fast");
  group.GetDefaultItem()->SetIsActive(false);
  group.GetDefaultItem()->SetAccessPath("Path");
  group.GetDefaultItem()->SetRequestDataType(vtI4);
  group.GetOPCItems()->AddItem("Static.Int32");
  TXeloItem* plain = group.GetOPCItems()->AddItem("Static.Double");
  plain->SetAccessPath("");
  plain->SetIsActive(true);
  plain->SetRequestDatatype(vtEMPTY);
  const std::string text = Crlf({"object Plant: TXeloServer",
                                 "  Tag = -4",
                                 "  BatchMode = True",
                                 "  ComputerName = 'localhost'",
                                 "  ServerName = 'Xelo.Sim.1'",
                                 "  OPCGroups = <",
                                 "    item",
                                 "      Name = 'Fast'",
                                 "      IsActive = False",
                                 "      UpdateRate = 250",
                                 "      DeadBand = 0.5",
                                 "      LocaleId = 1033",
                                 "      TimeBias = -60",
                                 "      DefaultItem.IsActive = False",
                                 "      DefaultItem.AccessPath = 'Path'",
                                 "      DefaultItem.RequestDataType = vtI4",
                                 "      OPCItems = <",
                                 "        item",
                                 "          ItemID = 'Static.Int32'",
                                 "          AccessPath = 'Path'",
                                 "          IsActive = False",
                                 "          RequestDatatype = vtI4",
                                 "        end",
                                 "        item",
                                 "          ItemID = 'Static.Double'",
                                 "          IsActive = True",
                                 "          RequestDatatype = vtEMPTY",
                                 "        end>",
                                 "    end>",
                                 "  OPCGroupDefault.IsActive = False",
                                 "  OPCGroupDefault.UpdateRate = 250",
                                 "  OPCGroupDefault.DeadBand = 0.5",
                                 "  OPCGroupDefault.LocaleId = 1033",
                                 "  OPCGroupDefault.TimeBias = -60",
                                 "  Active = False",
                                 "  ClientName = 'Line 4'",
                                 "  Version = '1.40'",
                                 "  ConnectDelay = 0",
                                 "end"});
  EXPECT_EQ(Save(), text);

  TXeloServer copy(nullptr);
  Load(copy, text);
  EXPECT_EQ(copy.GetName(), "Plant");
  EXPECT_EQ(copy.GetTag(), -4);
  EXPECT_EQ(copy.GetComputerName(), "localhost");
  ASSERT_EQ(copy.GetGroupCount(), 1);
  const TXeloGroup& loaded = *copy.GetOPCGroups()->GetItem(0);
  EXPECT_EQ(loaded.GetDefaultItem()->GetRequestDataType(), vtI4);
  EXPECT_EQ(loaded.GetOPCItems()->GetItem(0)->GetAccessPath(), "Path");
  EXPECT_EQ(loaded.GetOPCItems()->GetItem(1)->GetRequestDatatype(), vtEMPTY);
  // An empty access path is not written, so the item read back starts from
  // its group's template like any new item and keeps the template's path.
  EXPECT_EQ(loaded.GetOPCItems()->GetItem(1)->GetAccessPath(), "Path");
}

// The example configuration (with the simulation server's names) connects
// and is written back exactly as it was read.
TEST_F(XeloConfigurationTest, ExampleFileReadsAndWritesBackUnchanged) {
  const std::string text = Crlf({"object OPCServer1: TXeloServer",
                                 "  BatchMode = False",
                                 "  ServerName = 'Xelo.Sim.1'",
                                 "  OPCGroups = <",
                                 "    item",
                                 "      Name = 'Group1'",
                                 "      IsActive = True",
                                 "      UpdateRate = 1000",
                                 "      LocaleId = 0",
                                 "      TimeBias = 0",
                                 "      DefaultItem.RequestDataType = vtEMPTY",
                                 "      OPCItems = <",
                                 "        item",
                                 "          ItemID = 'Channel 1.Device 1.Ramp'",
                                 "          IsActive = True",
                                 "          RequestDatatype = vtR8",
                                 "        end>",
                                 "    end>",
                                 "  OPCGroupDefault.IsActive = True",
                                 "  OPCGroupDefault.UpdateRate = 1000",
                                 "  OPCGroupDefault.LocaleId = 0",
                                 "  OPCGroupDefault.TimeBias = 0",
                                 "  Active = True",
                                 "  Version = '1.40'",
                                 "  ConnectDelay = 300",
                                 "end"});
  Load(text);
  EXPECT_TRUE(server_->GetActive());
  EXPECT_EQ(connects_, 1);
  EXPECT_NE(ItemAt(0, 0).GetServerHandle(), kNoServerHandle);
  EXPECT_EQ(ItemAt(0, 0).GetRequestDatatype(), vtR8);
  EXPECT_EQ(Save(), text);
}

TEST_F(XeloConfigurationTest, AwkwardItemIdentifiersRoundTrip) {
  TXeloGroup& group = AddGroup("G");
  const std::string quote = "It's";
  const std::string control = "Line1\r\nLine2\tEnd\x01";
  const std::string longId = std::string(64, 'a') + "'" + std::string(70, 'b');
  const std::string utf8 = "Temp \xC2\xB0" "C";
  for (const std::string& id : {quote, control, longId, utf8}) group.GetOPCItems()->AddItem(id);
  const std::string text = Save();
  EXPECT_NE(text.find("ItemID = 'It'#39's'\r\n"), std::string::npos);
  EXPECT_NE(text.find("ItemID = 'Line1'#13#10'Line2'#9'End'#1\r\n"), std::string::npos);
  // Longer than 64 characters: on its own lines, one level deeper, cut
  // every 64 characters of the text.
  EXPECT_NE(text.find("          ItemID = \r\n"
                      "            '" + std::string(64, 'a') + "' +\r\n"
                      "            #39'" + std::string(63, 'b') + "' +\r\n"
                      "            'bbbbbbb'\r\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("ItemID = 'Temp '#176'C'\r\n"), std::string::npos);

  TXeloServer copy(nullptr);
  Load(copy, text);
  TXeloItems& items = *copy.GetOPCGroups()->GetItem(0)->GetOPCItems();
  ASSERT_EQ(items.GetCount(), 4);
  EXPECT_EQ(items.GetItem(0)->GetItemID(), quote);
  EXPECT_EQ(items.GetItem(1)->GetItemID(), control);
  EXPECT_EQ(items.GetItem(2)->GetItemID(), longId);
  EXPECT_EQ(items.GetItem(3)->GetItemID(), utf8);
}

// What a reader of the text form makes of it that takes every byte inside
// quotes for one 8-bit character and writes it back as #byte, the codes
// standing as they are.
std::string RewrittenByByteReader(std::string_view text) {
  std::string out;
  bool quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (quoted && c > 127) {
      out += "'#" + std::to_string(c) + "'";  // ends the quoted run and starts another
      continue;
    }
    if (c == '\'') quoted = !quoted;  // a doubled quote toggles twice
    out += text[i];
  }
  return out;
}

// Names, identifiers and texts of any script go out as printable ASCII, so
// that such a reader leaves them alone; files of earlier versions, with
// UTF-8 inside quotes, still read.
TEST_F(XeloConfigurationTest, TextsOfAnyScriptSurviveReadersOfBytes) {
  const std::string umlaut = "\xC3\x9Cmlaut";
  const std::string greek = "\xCE\xA9\xCE\xBC\xCE\xAD\xCE\xB3\xCE\xB1";
  const std::string cjk = "\xE6\xB8\xA9\xE5\xBA\xA6";
  const std::string emoji = "Tap \xF0\x9F\x9A\xB0";
  const std::string control = greek + "\x01\t\x7F" + cjk;
  std::string longId;  // cut into pieces
  for (int i = 0; i < 20; ++i) longId += cjk + emoji;
  const std::vector<std::string> ids = {umlaut, greek, cjk, emoji, control, longId};
  server_->SetClientName(umlaut + " " + emoji);
  TXeloGroup& group = AddGroup(greek);
  for (const std::string& id : ids) group.GetOPCItems()->AddItem(id);
  const std::string text = Save();
  for (const char* line : {"  ClientName = #220'mlaut Tap '#55357#57008\r\n", "      Name = #937#956#941#947#945\r\n",
                           "          ItemID = #28201#24230\r\n",
                           "          ItemID = #937#956#941#947#945#1#9#127#28201#24230\r\n"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line << text;
  }
  const auto printable = [](char c) { return (c >= 32 && c < 127) || c == '\r' || c == '\n'; };
  EXPECT_TRUE(std::all_of(text.begin(), text.end(), printable)) << text;

  const auto expectLoaded = [&](const TXeloServer& copy) {
    EXPECT_EQ(copy.GetClientName(), umlaut + " " + emoji);
    ASSERT_EQ(copy.GetGroupCount(), 1);
    EXPECT_EQ(copy.GetOPCGroups()->GetItem(0)->GetName(), greek);
    const TXeloItems& items = *copy.GetOPCGroups()->GetItem(0)->GetOPCItems();
    ASSERT_EQ(items.GetCount(), static_cast<int>(ids.size()));
    for (std::size_t i = 0; i < ids.size(); ++i) EXPECT_EQ(items.GetItem(static_cast<int>(i))->GetItemID(), ids[i]);
  };
  const std::string rewritten = RewrittenByByteReader(text);
  EXPECT_EQ(rewritten, text);
  TXeloServer copy(nullptr);
  Load(copy, rewritten);
  expectLoaded(copy);

  std::string old = Crlf({"object S: TXeloServer", "  ClientName = '" + umlaut + " " + emoji + "'", "  OPCGroups = <",
                          "    item", "      Name = '" + greek + "'", "      OPCItems = <"});
  for (const std::string& id : {umlaut, greek, cjk, emoji, greek + "'#1#9#127'" + cjk, longId}) {
    old += Crlf({"        item", "          ItemID = '" + id + "'", "        end"});
  }
  old += Crlf({"      >", "    end>", "end"});
  TXeloServer fromOld(nullptr);
  Load(fromOld, old);
  expectLoaded(fromOld);
}

// Single-precision dead bands come back as the very same float: values
// without a short decimal form, the smallest and the largest ones too.
TEST_F(XeloConfigurationTest, DeadBandsReadBackEqualInSinglePrecision) {
  const float values[] = {0.1f, 0.3f, 1.0f / 3.0f, 99.99f, 1e-7f, 7.006492e-45f, 100.0f, 99.999992f, 16.777217f};
  for (float v : values) AddGroup("G" + std::to_string(Groups().GetCount())).SetDeadBand(v);
  server_->GetOPCGroupDefault()->SetDeadBand(0.1f);
  const std::string text = Save();
  EXPECT_NE(text.find("      DeadBand = 0.1\r\n"), std::string::npos);
  EXPECT_NE(text.find("  OPCGroupDefault.DeadBand = 0.1\r\n"), std::string::npos);

  TXeloServer copy(nullptr);
  Load(copy, text);
  EXPECT_EQ(copy.GetOPCGroupDefault()->GetDeadBand(), 0.1f);
  ASSERT_EQ(copy.GetGroupCount(), static_cast<int>(std::size(values)));
  for (std::size_t i = 0; i < std::size(values); ++i) {
    EXPECT_EQ(copy.GetOPCGroups()->GetItem(static_cast<int>(i))->GetDeadBand(), values[i]) << values[i];
  }
  // Texts of other writers: exponents and the single-precision letter.
  Load(copy, "object X: TXeloServer\r\n  OPCGroupDefault.DeadBand = 1.5E-3s\r\nend\r\n");
  EXPECT_EQ(copy.GetOPCGroupDefault()->GetDeadBand(), 1.5e-3f);
}

TEST_F(XeloConfigurationTest, FilesAreCheckedForTheClassNameInTheirFirst299Bytes) {
  ScratchDirectory dir;
  const std::string body = "  ClientName = 'From file'\r\nend\r\n";
  const auto accepts = [&](const std::string& file) {
    WriteWholeFile(dir.File("c.txt"), file);
    server_->SetClientName("before");
    try {
      server_->LoadFromFile(dir.File("c.txt"));
    } catch (const EOPCException&) {
      ADD_FAILURE() << "the check raises the base exception class";
      return false;
    } catch (const Exception& e) {
      EXPECT_STREQ(e.what(), _STR_WRONGFILE);
      EXPECT_EQ(server_->GetClientName(), "before");
      return false;
    }
    EXPECT_EQ(server_->GetClientName(), "From file");
    return true;
  };
  EXPECT_TRUE(accepts("OBJECT OPCSERVER1: TXELOSERVER\r\n" + body));
  EXPECT_TRUE(accepts("object OPCServer1: TXeloServer\n" + body));
  // The name must end within the first 299 bytes.
  const std::string header = "object A: TXeloServer\r\n";
  EXPECT_TRUE(accepts(std::string(299 - header.size() + 2, ' ') + header + body));
  EXPECT_FALSE(accepts(std::string(299 - header.size() + 3, ' ') + header + body));
  std::string blankLines;
  for (int i = 0; i < 299; ++i) blankLines += "\r\n";
  EXPECT_FALSE(accepts(blankLines + header + body));
  // The check stops at the first zero byte.
  EXPECT_FALSE(accepts(std::string("\0", 1) + header + body));
  EXPECT_FALSE(accepts("object A: TOtherServer\r\n" + body));

  // A file that cannot be opened is the framework's file error.
  EXPECT_THROW(server_->LoadFromFile(dir.File("missing.txt")), EFOpenError);
}

// Streams are read as they are: whatever the header names, the reader
// decides, and it reads into this component.
TEST_F(XeloConfigurationTest, LoadFromStreamChecksNoHeaderAndStartsAtThePosition) {
  TStringStream in("garbage object X: TSomethingElse\r\n  ClientName = 'Other'\r\nend\r\n");
  in.SetPosition(8);
  server_->LoadFromStream(in);
  EXPECT_EQ(server_->GetClientName(), "Other");
  EXPECT_EQ(server_->GetName(), "X");

  TStringStream out("prefix:");
  out.SetPosition(7);
  server_->SaveToStream(out);
  EXPECT_EQ(out.DataString().substr(0, 17), "prefix:object X: ");
}

TEST_F(XeloConfigurationTest, CollectionsWithItemsReplaceEmptyOnesLeaveAlone) {
  for (const char* name : {"A", "B", "C", "D", "E"}) AddGroup(name, {"Static.Int32"});
  Load(Crlf({"object S: TXeloServer", "  OPCGroups = <>", "end"}));
  EXPECT_EQ(Groups().GetCount(), 5);

  Load(Crlf({"object S: TXeloServer", "  OPCGroups = <", "    item", "      Name = 'One'",
             "      OPCItems = <", "        item", "          ItemID = 'Static.Bool'", "        end",
             "        item", "          ItemID = 'Static.Float'", "        end>", "    end",
             "    item", "      Name = 'Two'", "      OPCItems = <>", "    end>", "end"}));
  ASSERT_EQ(Groups().GetCount(), 2);
  EXPECT_EQ(Groups().GetItem(0)->GetName(), "One");
  EXPECT_EQ(Groups().GetItem(1)->GetName(), "Two");
  ASSERT_EQ(Groups().GetItem(0)->GetOPCItems()->GetCount(), 2);
  EXPECT_EQ(ItemAt(0, 1).GetItemID(), "Static.Float");
  EXPECT_EQ(Groups().GetItem(1)->GetOPCItems()->GetCount(), 0);
}

// Properties the text leaves out keep their values; Version is the
// library's; the header's name becomes the component's, except in a
// designer.
TEST_F(XeloConfigurationTest, LoadingKeepsWhatTheTextLeavesOut) {
  server_->SetName("Mine");
  server_->SetComputername("localhost");
  server_->SetServer(sim::kProgIdSim);
  server_->SetConnectDelay(42);
  AddGroup("Kept");
  Load(Crlf({"object Theirs: TXeloServer", "  ClientName = 'Loaded'", "  Version = '9.99'", "end"}));
  EXPECT_EQ(server_->GetName(), "Theirs");
  EXPECT_EQ(server_->GetComputerName(), "localhost");
  EXPECT_EQ(server_->GetServerName(), sim::kProgIdSim);
  EXPECT_EQ(server_->GetConnectDelay(), 42);
  EXPECT_EQ(server_->GetClientName(), "Loaded");
  EXPECT_EQ(server_->GetVersion(), "1.40");
  EXPECT_EQ(Groups().GetCount(), 1);

  server_->SetDesigning(true);
  Load(Crlf({"object Other: TXeloServer", "end"}));
  EXPECT_EQ(server_->GetName(), "Theirs");
}

// Active comes first here, yet the connection is made once, when every
// group and item has been read: each group reaches the server with all its
// items in one batch.
TEST_F(XeloConfigurationTest, ActiveTrueConnectsOnceAfterEverythingWasRead) {
  int groupsAtConnect = -1;
  bool allItemsOnServer = false;
  server_->SetOnConnect([&](TPersistent*) {
    ++connects_;
    groupsAtConnect = Groups().GetCount();
    allItemsOnServer = true;
    for (int g = 0; g < Groups().GetCount(); ++g) {
      TXeloItems& items = *Groups().GetItem(g)->GetOPCItems();
      allItemsOnServer = allItemsOnServer && items.GetCount() == 2;
      for (int i = 0; i < items.GetCount(); ++i) {
        allItemsOnServer = allItemsOnServer && items.GetItem(i)->GetServerHandle() != kNoServerHandle;
      }
    }
  });
  std::string text = "object S: TXeloServer\r\n  Active = True\r\n  ServerName = 'Xelo.Sim.1'\r\n  OPCGroups = <";
  for (int g = 0; g < 3; ++g) {
    text += "\r\n    item\r\n      Name = 'G" + std::to_string(g) + "'\r\n      OPCItems = <";
    for (const char* id : {"Static.Int32", "Static.String"}) {
      text += std::string("\r\n        item\r\n          ItemID = '") + id + "'\r\n        end";
    }
    text += ">\r\n    end";
  }
  text += ">\r\nend\r\n";
  Load(text);
  EXPECT_TRUE(server_->GetActive());
  EXPECT_EQ(connects_, 1);
  EXPECT_EQ(groupsAtConnect, 3);
  EXPECT_TRUE(allItemsOnServer);
  EXPECT_EQ(SimulationControl::CallCount("IOPCServer::AddGroup"), 3u);
  EXPECT_EQ(SimulationControl::CallCount("IOPCItemMgt::AddItems"), 3u);
  EXPECT_EQ(SimulationControl::CallCount("IOPCItemMgt::SetActiveState"), 0u);
  EXPECT_EQ(waits_, std::vector<std::int32_t>{300});
}

// A connected component that loads Active = False ends its connection once
// loading is over, rather than staying connected while Active reads false.
TEST_F(XeloConfigurationTest, ActiveFalseDisconnectsAConnectedComponent) {
  AddGroup("G", {"Static.Int32"});
  server_->SetServer(sim::kProgIdSim);
  server_->SetActive(true);
  ASSERT_TRUE(server_->Connected());
  Load("object S: TXeloServer\r\n  Active = False\r\nend\r\n");
  EXPECT_FALSE(server_->GetActive());
  EXPECT_FALSE(server_->Connected());
  EXPECT_EQ(disconnects_, 1);
  EXPECT_EQ(SimulationControl::Live().servers, liveServers_);
  server_->SetActive(true);  // and it can connect again
  EXPECT_TRUE(Groups().GetItem(0)->GetOPCItems()->GetItem(0)->IsOnServer());
}

// A text that does not parse is refused before anything is touched; an
// error found while applying it leaves what was read before it.
TEST_F(XeloConfigurationTest, MalformedTextsRaiseTheReadingErrors) {
  server_->SetName("S");
  AddGroup("Before", {"Static.Int32"});
  server_->SetClientName("old");
  const std::string before = Save();
  for (const char* broken : {"object S: TXeloServer\r\n  ClientName = 'new'\r\n  OPCGroups = <\r\n",
                             "object S: TXeloServer\r\n  ClientName = 'new\r\nend\r\n",
                             "object S: TXeloServer\r\n  ClientName = 'new'\r\nend\r\nend\r\n",
                             "ClientName = 'new'\r\n"}) {
    EXPECT_THROW(Load(broken), EParserError) << broken;
    EXPECT_EQ(Save(), before);
  }

  const auto readError = [&](const std::string& line) -> std::string {
    try {
      Load("object S: TXeloServer\r\n  ClientName = 'new'\r\n" + line + "\r\nend\r\n");
    } catch (const EReadError& e) {
      return e.what();
    }
    return "no error";
  };
  EXPECT_EQ(readError("  Colour = 3"), "Error reading TXeloServer.Colour: Property Colour does not exist");
  EXPECT_EQ(server_->GetClientName(), "new");
  EXPECT_EQ(readError("  ConnectDelay = 'soon'"), "Error reading TXeloServer.ConnectDelay: An integer value expected");
  EXPECT_EQ(readError("  OPCGroups = <\r\n    item\r\n      OPCItems = <\r\n        item\r\n"
                      "          RequestDatatype = vtR16\r\n        end>\r\n    end>"),
            "Error reading TXeloItem.RequestDatatype: Invalid enumeration value 'vtR16'");
  EXPECT_EQ(readError("  OnConnect = Handler"),
            "Error reading TXeloServer.OnConnect: Event handlers are not read from a component stream");
  EXPECT_FALSE(server_->GetComponentState().Contains(csLoading));
}

// Settings with bounds: a file with a value out of them is refused with the
// reader's error before anything is changed, and a setter called with it
// raises the same error from code.
TEST_F(XeloConfigurationTest, SettingsOutOfBoundsAreRefusedAndChangeNothing) {
  server_->SetName("S");
  server_->SetClientName("old");
  server_->SetConnectDelay(42);
  AddGroup("Before", {"Static.Int32"});
  const std::string before = Save();
  TXeloGroup& group = *Groups().GetItem(0);
  TxDefaultGroup& defaults = *server_->GetOPCGroupDefault();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  struct Row {
    const char* line;  // a line of the server, or "G:" and one of a group
    const char* error;
    std::function<void()> set;
  };
  const Row rows[] = {
      {"ConnectDelay = 2000000000",
       "TXeloServer.ConnectDelay: Value 2000000000 is out of range for property ConnectDelay (0..60000 milliseconds)",
       [&] { server_->SetConnectDelay(2000000000); }},
      {"ConnectDelay = -1",
       "TXeloServer.ConnectDelay: Value -1 is out of range for property ConnectDelay (0..60000 milliseconds)",
       [&] { server_->SetConnectDelay(-1); }},
      {"OPCGroupDefault.UpdateRate = -5",
       "TXeloServer.OPCGroupDefault.UpdateRate: Value -5 is out of range for property UpdateRate (0..2147483647 "
       "milliseconds)",
       [&] { defaults.SetUpdateRate(-5); }},
      {"OPCGroupDefault.DeadBand = 100.1",
       "TXeloServer.OPCGroupDefault.DeadBand: Value 100.1 is out of range for property DeadBand (0..100 percent)",
       [&] { defaults.SetDeadBand(100.1f); }},
      {"OPCGroupDefault.TimeBias = 1441",
       "TXeloServer.OPCGroupDefault.TimeBias: Value 1441 is out of range for property TimeBias (-1440..1440 minutes)",
       [&] { defaults.SetTimeBias(1441); }},
      {"G:UpdateRate = -5",
       "TXeloGroup.UpdateRate: Value -5 is out of range for property UpdateRate (0..2147483647 milliseconds)",
       [&] { group.SetUpdateRate(-5); }},
      {"G:UpdateRate = 3000000000",
       "TXeloGroup.UpdateRate: Value 3000000000 is out of range for property UpdateRate (0..2147483647 milliseconds)",
       [&] { TXeloGroup::CheckUpdateRate(3000000000); }},
      {"G:DeadBand = -0.5", "TXeloGroup.DeadBand: Value -0.5 is out of range for property DeadBand (0..100 percent)",
       [&] { group.SetDeadBand(-0.5f); }},
      {"G:DeadBand = NAN", "TXeloGroup.DeadBand: Value NAN is out of range for property DeadBand (0..100 percent)",
       [&] { group.SetDeadBand(nan); }},
      {"G:DeadBand = INF", "TXeloGroup.DeadBand: Value INF is out of range for property DeadBand (0..100 percent)",
       [&] { group.SetDeadBand(inf); }},
      {"G:TimeBias = -1441",
       "TXeloGroup.TimeBias: Value -1441 is out of range for property TimeBias (-1440..1440 minutes)",
       [&] { group.SetTimeBias(-1441); }},
      {"G:TimeBias = -1441",
       "TXeloGroup.TimeBias: Value -1441 is out of range for property TimeBias (-1440..1440 minutes)",
       [&] {
         std::int32_t rate = 100;
         group.SetState(rate, true, -1441, 0.0f, 0, 0);
       }},
  };
  const auto file = [](std::string_view line) {
    const bool inGroup = line.substr(0, 2) == "G:";
    return Crlf({"object S: TXeloServer", "  ClientName = 'new'", "  OPCGroups = <", "    item", "      Name = 'New'",
                 inGroup ? "      " + std::string(line.substr(2)) : "      IsActive = True", "    end>",
                 inGroup ? "  Tag = 1" : "  " + std::string(line), "end"});
  };
  for (const Row& r : rows) {
    try {
      Load(file(r.line));
      ADD_FAILURE() << "no error for " << r.line;
    } catch (const EReadError& e) {
      EXPECT_EQ(e.what(), "Error reading " + std::string(r.error)) << r.line;
    }
    EXPECT_EQ(Save(), before) << r.line;
    EXPECT_FALSE(server_->GetComponentState().Contains(csLoading));
    try {
      r.set();
      ADD_FAILURE() << "no error from the setter for " << r.line;
    } catch (const EPropertyError& e) {
      EXPECT_EQ(e.what(), std::string(r.error).substr(std::string(r.error).find(": ") + 2)) << r.line;
    }
    EXPECT_EQ(Save(), before) << r.line;
  }

  // The bounds themselves are fine.
  Load(Crlf({"object S: TXeloServer", "  OPCGroups = <", "    item", "      UpdateRate = 0", "      DeadBand = 100",
             "      TimeBias = -1440", "    end>", "  OPCGroupDefault.TimeBias = 1440", "  ConnectDelay = 60000", "end"}));
  EXPECT_EQ(Groups().GetItem(0)->GetUpdateRate(), 0);
  EXPECT_EQ(Groups().GetItem(0)->GetDeadBand(), kMaxDeadBand);
  EXPECT_EQ(Groups().GetItem(0)->GetTimeBias(), -kMaxTimeBias);
  EXPECT_EQ(defaults.GetTimeBias(), kMaxTimeBias);
  EXPECT_EQ(server_->GetConnectDelay(), kMaxConnectDelay);
}

TEST_F(XeloConfigurationTest, FilesAreSavedWholeOrNotAtAll) {
  ScratchDirectory dir;
  const std::string path = dir.File("plant.cfg");
  server_->SetName("S");
  AddGroup("One", {"Static.Int32"});
  server_->SaveToFile(path);
  const std::string saved = ReadWholeFile(path);
  EXPECT_EQ(saved, Save());

  TXeloServer copy(nullptr);
  copy.LoadFromFile(path);
  EXPECT_EQ(Save(copy), saved);

  AddGroup("Two", {"Static.Bool"});
  SetAtomicWriteHookForTesting([](AtomicWriteStep step) {
    if (step == AtomicWriteStep::kPartWritten) throw EFCreateError("simulated: disk full");
  });
  EXPECT_THROW(server_->SaveToFile(path), EFCreateError);
  SetAtomicWriteHookForTesting(nullptr);
  EXPECT_EQ(ReadWholeFile(path), saved);
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"plant.cfg"});

  // A directory that does not exist: the file error, and nothing appears.
  EXPECT_THROW(server_->SaveToFile(dir.File("no/such/dir.cfg")), EFCreateError);
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"plant.cfg"});

  // A directory the user may not write to (root may write anywhere). Not
  // on Windows, where a directory's read-only attribute does not stop
  // files from being created in it.
#if !defined(_WIN32)
  if (::geteuid() != 0) {
    std::filesystem::permissions(dir.Path(), std::filesystem::perms::owner_write, std::filesystem::perm_options::remove);
    EXPECT_THROW(server_->SaveToFile(path), EFCreateError);
    std::filesystem::permissions(dir.Path(), std::filesystem::perms::owner_write, std::filesystem::perm_options::add);
    EXPECT_EQ(ReadWholeFile(path), saved);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"plant.cfg"});
  }
#endif
}

}  // namespace
