#include "xelo/core/Xelo.h"

#include "support/ServerFixture.h"

#include "servers/simulation/SimulationControl.h"
#include "servers/simulation/SimulationServer.h"
#include "xelo/com/Guid.h"
#include "xelo/com/HResult.h"
#include "xelo/com/TaskMemory.h"
#include "xelo/framework/Application.h"
#include "xelo/framework/Filer.h"
#include "xelo/framework/TextForm.h"
#include "xelo/framework/TypInfo.h"

#include "support/NativeCom.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

using namespace xelo;
using xelo::sim::SimulationControl;

class XeloServerTest : public xelo::test::ServerFixture {};

TEST_F(XeloServerTest, DefaultsAfterConstruction) {
  EXPECT_FALSE(server_->GetActive());
  EXPECT_FALSE(server_->GetBatchMode());
  EXPECT_EQ(server_->GetServerName(), "");
  EXPECT_EQ(server_->GetComputerName(), "");
  EXPECT_EQ(server_->GetClientName(), "");
  EXPECT_EQ(server_->GetVersion(), "1.40");
  EXPECT_EQ(server_->GetConnectDelay(), 300);
  EXPECT_FALSE(server_->Version2());
  EXPECT_TRUE(errors_.empty());
}

TEST_F(XeloServerTest, PublishedPropertiesInDeclarationOrder) {
  std::vector<std::string> names;
  for (const TPropInfo* prop : GetPropList(*server_)) names.push_back(prop->Name());
  const std::vector<std::string> expected{
      "Name",         "Tag",          "BatchMode",    "ComputerName", "ServerName",       "OPCGroups",
      "OPCGroupDefault", "Active",    "ClientName",   "Version",      "ConnectDelay",
      // the connection watch, with declared defaults so that files without
      // it read and write as before
      "KeepAlive", "AutoReconnect", "ReconnectInterval", "ReconnectMaxInterval", "OnError",
      "OnServerShutdown", "OnConnect", "OnDisconnect", "OnDatachange", "OnWriteError",   "OnWriteComplete",
      "OnConnectionLost", "OnReconnect"};
  EXPECT_EQ(names, expected);
  const std::set<std::string> watch{"KeepAlive", "AutoReconnect", "ReconnectInterval", "ReconnectMaxInterval"};
  for (const TPropInfo* prop : GetPropList(*server_)) {
    if (prop->DeclaringClass() == TXeloServer::StaticClass()) {
      EXPECT_EQ(prop->HasDefault(), watch.count(prop->Name()) == 1) << prop->Name();
    }
  }
  EXPECT_EQ(FindClass("TXeloServer"), TXeloServer::StaticClass());
}

TEST_F(XeloServerTest, VersionIgnoresWrites) {
  SetStrProp(*server_, "Version", "2.00");
  EXPECT_EQ(server_->GetVersion(), "1.40");
}

TEST_F(XeloServerTest, ConnectByProgIdAndDisconnect) {
  ConnectSim();
  EXPECT_EQ(connects_, 1);
  EXPECT_TRUE(server_->GetOPCServer());
  EXPECT_TRUE(server_->GetCommonIF());
  EXPECT_TRUE(server_->GetItemPropIF());
  EXPECT_EQ(SimulationControl::Live().servers, liveServers_ + 1);

  server_->SetActive(true);  // already active: nothing happens
  EXPECT_EQ(connects_, 1);

  server_->Disconnect();
  EXPECT_FALSE(server_->GetActive());
  EXPECT_EQ(disconnects_, 1);
  EXPECT_EQ(SimulationControl::Live().servers, liveServers_);

  server_->SetActive(false);  // already inactive: nothing happens
  EXPECT_EQ(disconnects_, 1);
  EXPECT_TRUE(errors_.empty());
}

TEST_F(XeloServerTest, ConnectByClassIdentifierText) {
  const std::string text = com::GuidToString(sim::CLSID_XeloSim);
  ASSERT_EQ(text.front(), '{');
  server_->Connect(text, "");
  EXPECT_TRUE(server_->GetActive());
  EXPECT_EQ(connects_, 1);
  EXPECT_TRUE(server_->Version2());
}

TEST_F(XeloServerTest, ConnectReconnectsWithNewNames) {
  ConnectSim(sim::kProgIdSimDA1);
  server_->Connect(sim::kProgIdSim, "localhost");
  EXPECT_TRUE(server_->GetActive());
  EXPECT_EQ(server_->GetServerName(), sim::kProgIdSim);
  EXPECT_EQ(server_->GetComputerName(), "localhost");
  EXPECT_EQ(disconnects_, 1);
  EXPECT_EQ(connects_, 2);
  EXPECT_TRUE(server_->Version2());
}

TEST_F(XeloServerTest, EmptyServerNameRaisesFirstDefineServername) {
  try {
    server_->SetActive(true);
    FAIL() << "no exception";
  } catch (const EOPCException& e) {
    EXPECT_EQ(e.Message(), "first define servername");
  }
  EXPECT_EQ(errors_, std::vector<std::string>{"first define servername"});
  EXPECT_FALSE(server_->GetActive());
  EXPECT_EQ(connects_, 0);
}

TEST_F(XeloServerTest, UnknownServerNameSuppressedByOnError) {
  raiseErrors_ = false;
  server_->SetServer("No.Such.Server.1");
  EXPECT_NO_THROW(server_->SetActive(true));
  EXPECT_EQ(errors_, std::vector<std::string>{"first define servername"});
  EXPECT_FALSE(server_->GetActive());
  EXPECT_FALSE(server_->GetOPCServer());
  EXPECT_EQ(connects_, 0);
}

TEST_F(XeloServerTest, ObjectWithoutOPCServerRaisesConversionErrorWithoutOnError) {
  server_->SetServer(sim::kProgIdSimAE);
  EXPECT_THROW(server_->SetActive(true), EIntfCastError);
  EXPECT_TRUE(errors_.empty());
  EXPECT_FALSE(server_->GetActive());
  EXPECT_EQ(connects_, 0);
}

TEST_F(XeloServerTest, UnknownRemoteComputerRaisesServerUnavailable) {
  if (xelo::test::NativeComUnderWine()) GTEST_SKIP() << "Wine's COM creates objects on this computer whatever computer is named";
  server_->SetServer(sim::kProgIdSim);
  server_->SetComputername("no-such-computer.invalid");
  try {
    server_->SetActive(true);
    FAIL() << "no exception";
  } catch (const EOleSysError& e) {
    EXPECT_EQ(e.ErrorCode(), HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE));
  }
  EXPECT_TRUE(errors_.empty());
  EXPECT_FALSE(server_->GetActive());
  EXPECT_FALSE(server_->Version2());
}

TEST_F(XeloServerTest, LocalComputerNameWithBlanksCreatesLocally) {
  server_->SetComputername("  ");
  ConnectSim();
  EXPECT_EQ(connects_, 1);
}

TEST_F(XeloServerTest, ClientNameSentUntrimmed) {
  server_->SetClientName("  Mixer 1\t");
  ConnectSim();
  ASSERT_EQ(SimulationControl::CallCount("IOPCCommon::SetClientName"), 1u);
  const auto args = SimulationControl::LastArguments("IOPCCommon::SetClientName");
  ASSERT_TRUE(args.has_value());
  EXPECT_EQ(args->text, OLESTR("  Mixer 1\t"));
}

TEST_F(XeloServerTest, BlankClientNameNotSent) {
  server_->SetClientName(" \t ");
  ConnectSim();
  EXPECT_EQ(SimulationControl::CallCount("IOPCCommon::SetClientName"), 0u);
  server_->Disconnect();
  server_->SetClientName("");
  ConnectSim();
  EXPECT_EQ(SimulationControl::CallCount("IOPCCommon::SetClientName"), 0u);
}

TEST_F(XeloServerTest, ClientNameRefusalNotReported) {
  SimulationControl::FailMethod("IOPCCommon::SetClientName", E_FAIL);
  server_->SetClientName("Me");
  ConnectSim();
  EXPECT_TRUE(errors_.empty());
  EXPECT_EQ(connects_, 1);
}

TEST_F(XeloServerTest, ChangingServerNameWhileActiveDeactivates) {
  ConnectSim();
  server_->SetServer(sim::kProgIdSim);  // same text: nothing happens
  EXPECT_TRUE(server_->GetActive());
  EXPECT_EQ(disconnects_, 0);

  server_->SetServer(sim::kProgIdSimFlat);
  EXPECT_FALSE(server_->GetActive());
  EXPECT_EQ(disconnects_, 1);
  EXPECT_EQ(server_->GetServerName(), sim::kProgIdSimFlat);
  EXPECT_EQ(SimulationControl::Live().servers, liveServers_);
}

TEST_F(XeloServerTest, ChangingComputerNameWhileActiveDeactivates) {
  ConnectSim();
  server_->SetComputername("");  // unchanged
  EXPECT_TRUE(server_->GetActive());
  server_->SetComputername("localhost");
  EXPECT_FALSE(server_->GetActive());
  EXPECT_EQ(disconnects_, 1);
  EXPECT_EQ(server_->GetComputerName(), "localhost");
}

TEST_F(XeloServerTest, ServerNameComparisonIsCaseSensitive) {
  ConnectSim();
  server_->SetServer("xelo.sim.1");
  EXPECT_FALSE(server_->GetActive());
  EXPECT_EQ(disconnects_, 1);
}

TEST_F(XeloServerTest, DestroyingActiveComponentFiresNoDisconnect) {
  ConnectSim();
  (void)server_->GetState();
  EXPECT_EQ(SimulationControl::Live().servers, liveServers_ + 1);
  server_.reset();
  EXPECT_EQ(disconnects_, 0);
  EXPECT_EQ(SimulationControl::Live().servers, liveServers_);
  EXPECT_EQ(com::LiveAllocations().taskMemory, liveBlocks_);
}

TEST_F(XeloServerTest, OwnedComponentDiesWithItsOwner) {
  auto owner = std::make_unique<TComponent>(nullptr);
  auto* owned = new TXeloServer(owner.get());
  int disconnects = 0;
  owned->SetOnDisconnect([&](TPersistent*) { ++disconnects; });
  owned->SetServer(sim::kProgIdSim);
  owned->SetActive(true);
  ASSERT_TRUE(owned->GetActive());
  owner.reset();
  EXPECT_EQ(disconnects, 0);
  EXPECT_EQ(SimulationControl::Live().servers, liveServers_);
}

TEST_F(XeloServerTest, Version2DistinguishesDataAccessGenerations) {
  EXPECT_FALSE(server_->Version2());
  EXPECT_TRUE(errors_.empty());
  ConnectSim(sim::kProgIdSim);
  EXPECT_TRUE(server_->Version2());
  server_->SetServer(sim::kProgIdSimDA1);
  ConnectSim(sim::kProgIdSimDA1);
  EXPECT_FALSE(server_->Version2());
}

TEST_F(XeloServerTest, CheckServerWithoutConnection) {
  EXPECT_THROW(server_->CheckServer(), EOPCException);
  raiseErrors_ = false;
  EXPECT_FALSE(server_->CheckServer());
  EXPECT_FALSE(server_->GetOPCServer());
  EXPECT_FALSE(server_->GetCommonIF());
  EXPECT_FALSE(server_->GetItemPropIF());
  EXPECT_EQ(server_->GetErrorString(E_FAIL), "");
  EXPECT_EQ(errors_.size(), 6u);
  for (const std::string& text : errors_) EXPECT_EQ(text, "not connected to server");
}

TEST_F(XeloServerTest, FaultWithoutHandlerRaises) {
  server_->SetOnError(nullptr);
  try {
    server_->Fault("boom");
    FAIL() << "no exception";
  } catch (const EOPCException& e) {
    EXPECT_EQ(e.Message(), "boom");
  }
}

TEST_F(XeloServerTest, GetErrorStringAsksTheServer) {
  ConnectSim();
  const std::string text = server_->GetErrorString(OPC_E_INVALIDHANDLE);
  EXPECT_FALSE(text.empty());
  const auto args = SimulationControl::LastArguments("IOPCServer::GetErrorString");
  ASSERT_TRUE(args.has_value());
  EXPECT_EQ(args->code, OPC_E_INVALIDHANDLE);
  EXPECT_EQ(args->locale, LCID{0});
  SimulationControl::FailMethod("IOPCServer::GetErrorString", E_FAIL, true);
  EXPECT_EQ(server_->GetErrorString(OPC_E_INVALIDHANDLE), "");
  EXPECT_TRUE(errors_.empty());
}

TEST_F(XeloServerTest, LocaleIdWithoutConnectionRaisesDirectly) {
  try {
    (void)server_->GetLocaleId();
    FAIL() << "no exception";
  } catch (const EOPCException& e) {
    EXPECT_EQ(e.Message(), "not connected to server");
  }
  EXPECT_TRUE(errors_.empty());
  EXPECT_NO_THROW(server_->SetLocaleId(0x409));
  EXPECT_EQ(SimulationControl::CallCount("IOPCCommon::SetLocaleID"), 0u);
}

TEST_F(XeloServerTest, LocaleIdGoesToTheServer) {
  ConnectSim();
  server_->SetLocaleId(0x409);
  const auto args = SimulationControl::LastArguments("IOPCCommon::SetLocaleID");
  ASSERT_TRUE(args.has_value());
  EXPECT_EQ(args->locale, LCID{0x409});
  EXPECT_EQ(server_->GetLocaleId(), LCID{0x409});
  SimulationControl::FailMethod("IOPCCommon::GetLocaleID", E_FAIL, true);
  EXPECT_THROW((void)server_->GetLocaleId(), EOleSysError);
  EXPECT_TRUE(errors_.empty());
}

TEST_F(XeloServerTest, StatusVersionsAndBuild65535) {
  SimulationControl::SetVersion(5, 10, 65535);
  SimulationControl::SetVendorInfo(OLESTR("Xelo tests \u00e4"));
  ConnectSim();
  EXPECT_EQ(server_->GetMajorVersion(), 5);
  EXPECT_EQ(server_->GetMinorVersion(), 10);
  EXPECT_EQ(server_->GetBuildNumber(), 65535);
  EXPECT_EQ(server_->GetState().BuildNumber, 65535);
  EXPECT_EQ(server_->GetStatus().wBuildNumber, 65535);
  EXPECT_EQ(server_->GetStatus().szVendorInfo, nullptr);
  EXPECT_EQ(server_->GetVendorInfo(), "Xelo tests \xc3\xa4");
  EXPECT_EQ(com::LiveAllocations().taskMemory, liveBlocks_);
}

TEST_F(XeloServerTest, StatusStateFailed) {
  ConnectSim();
  EXPECT_EQ(server_->GetServerStateStr(), "running");
  SimulationControl::SetServerState(OPC_STATUS_FAILED);
  EXPECT_EQ(server_->GetServerState(), 2);
  EXPECT_EQ(server_->GetServerStateStr(), "failed");
}

TEST_F(XeloServerTest, StatusBandWidthAndTimes) {
  SimulationControl::SetBandWidth(0xFFFFFFFF);
  ConnectSim();
  EXPECT_EQ(server_->GetBandWidth(), -1);
  const tServerStateRec state = server_->GetState();
  EXPECT_GT(state.StartTime, 0.0);
  EXPECT_GE(state.CurrentTime, state.StartTime);
}

TEST_F(XeloServerTest, EveryStatusReadIsOneServerCall) {
  ConnectSim();
  const unsigned before = SimulationControl::CallCount("IOPCServer::GetStatus");
  (void)server_->GetServerState();
  (void)server_->GetMajorVersion();
  (void)server_->GetBuildNumber();
  (void)server_->GetVendorInfo();
  EXPECT_EQ(SimulationControl::CallCount("IOPCServer::GetStatus"), before + 4);
}

TEST_F(XeloServerTest, StatusFailureRaisesThroughOPCCheckWithoutOnError) {
  ConnectSim();
  SimulationControl::FailMethod("IOPCServer::GetStatus", E_FAIL);
  EXPECT_THROW((void)server_->GetState(), EOleSysError);
  EXPECT_THROW((void)server_->GetStatus(), EOleSysError);
  EXPECT_TRUE(errors_.empty());
}

TEST_F(XeloServerTest, StatusWithoutConnection) {
  EXPECT_THROW((void)server_->GetServerState(), EOPCException);
  raiseErrors_ = false;
  errors_.clear();
  EXPECT_EQ(server_->GetServerState(), 0);
  EXPECT_EQ(server_->GetServerStateStr(), "");
  EXPECT_EQ(server_->GetBuildNumber(), 0);
  EXPECT_EQ(server_->GetVendorInfo(), "");
  EXPECT_EQ(server_->GetLastUpdateTime(), 0.0);
  EXPECT_EQ(errors_.size(), 5u);
  for (const std::string& text : errors_) EXPECT_EQ(text, "not connected to server");
}

// A stream that stored Active = True connects once, after everything was
// read, whatever order the properties came in.
TEST_F(XeloServerTest, LoadingConnectsOnceAfterReading) {
  const TFormObject form = ParseFormText(
      "object OPCServer1: TXeloServer\n"
      "  Active = True\n"
      "  BatchMode = True\n"
      "  ServerName = 'Xelo.Sim.1'\n"
      "  ClientName = ' Loaded '\n"
      "end\n");
  ReadComponentForm(form, *server_);
  EXPECT_TRUE(server_->GetActive());
  EXPECT_TRUE(server_->GetBatchMode());
  EXPECT_EQ(connects_, 1);
  EXPECT_EQ(disconnects_, 0);
  EXPECT_EQ(SimulationControl::CallCount("IOPCCommon::SetClientName"), 1u);
  EXPECT_EQ(SimulationControl::Live().servers, liveServers_ + 1);
}

TEST_F(XeloServerTest, LoadingInDesignerClearsBatchModeAndStillConnects) {
  server_->SetDesigning(true);
  const TFormObject form = ParseFormText(
      "object OPCServer1: TXeloServer\n"
      "  BatchMode = True\n"
      "  ServerName = 'Xelo.Sim.1'\n"
      "  Active = True\n"
      "end\n");
  ReadComponentForm(form, *server_);
  EXPECT_FALSE(server_->GetBatchMode());
  EXPECT_TRUE(server_->GetActive());
  EXPECT_EQ(connects_, 1);
}

// The component's own browser follows the connection.
TEST_F(XeloServerTest, OwnBrowserIsBoundWhileConnected) {
  TXeloBrowser& browser = *server_->GetOPCBrowser();
  EXPECT_EQ(browser.GetOPCServer(), nullptr);
  ConnectSim();
  EXPECT_EQ(browser.GetOPCServer(), server_.get());
  browser.ShowBranches();
  std::vector<std::string> branches;
  for (int i = 0; i < browser.GetCount(); ++i) branches.push_back(browser.Items().Get(i));
  EXPECT_NE(std::find(branches.begin(), branches.end(), "Channel 1"), branches.end());
  server_->SetActive(false);
  EXPECT_EQ(browser.GetOPCServer(), nullptr);
  EXPECT_EQ(browser.GetCount(), 0);
  try {
    browser.ShowBranches();
    FAIL() << "no exception";
  } catch (const EOPCException& e) {
    EXPECT_STREQ(e.what(), "first define server object");
  }
}

}  // namespace
