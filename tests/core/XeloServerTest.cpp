// The server component: its properties, connecting and disconnecting, the
// server's status and locale, and what it does without a connection.
#include "support/NativeCom.h"
#include "support/ServerFixture.h"

#include "xelo/com/Guid.h"
#include "xelo/com/HResult.h"
#include "xelo/framework/Filer.h"
#include "xelo/framework/TextForm.h"

namespace xelo::test {
namespace {

class XeloServerTest : public ServerFixture {};

TEST_F(XeloServerTest, ConnectReconnectDisconnectTheClientNameAndNoDisconnectOnDestruction) {
  ConnectSim(sim::kProgIdSimDA1);
  server_->SetActive(true);  // already active: nothing happens
  EXPECT_EQ(std::tuple(connects_, server_->Version2(), SimulationControl::Live().servers),
            std::tuple(1, false, liveServers_ + 1));
  EXPECT_TRUE(server_->GetOPCServer() && server_->GetCommonIF() && server_->GetItemPropIF());
  server_->Connect(sim::kProgIdSim, "localhost");
  EXPECT_EQ(std::tuple(server_->GetServerName(), server_->GetComputerName(), disconnects_, connects_, server_->Version2()),
            std::tuple(sim::kProgIdSim, "localhost", 1, 2, true));
  server_->Disconnect();
  server_->SetActive(false);  // already inactive: nothing happens
  EXPECT_EQ(std::tuple(server_->GetActive(), disconnects_, SimulationControl::Live().servers),
            std::tuple(false, 2, liveServers_));
  server_->SetComputername("  ");  // blanks: this computer
  server_->Connect(com::GuidToString(sim::CLSID_XeloSim), "  ");
  EXPECT_TRUE(server_->GetActive() && server_->Version2() && errors_.empty());
  // The client name goes out untrimmed, unless blank.
  for (const char* name : {"  Mixer 1\t", " \t ", ""}) {
    server_->Disconnect();
    server_->SetClientName(name);
    ConnectSim();
    EXPECT_EQ(std::tuple(SimulationControl::CallCount("IOPCCommon::SetClientName"),
                         SimulationControl::LastArguments("IOPCCommon::SetClientName")->text),
              std::tuple(1u, com::OleString(OLESTR("  Mixer 1\t")))) << '"' << name << '"';
  }
  server_->Disconnect();
  SimulationControl::FailMethod("IOPCCommon::SetClientName", E_FAIL);
  server_->SetClientName("Me");
  ConnectSim();  // a refusal is not reported
  EXPECT_TRUE(errors_.empty());
  // Destroyed while active: no OnDisconnect beyond the six above (the
  // fixture sees the server object go).
  server_.reset();
  EXPECT_EQ(disconnects_, 6);
}

// The same text leaves the connection alone; case matters.
TEST_F(XeloServerTest, ChangingTheNamesWhileActiveDeactivates) {
  const std::tuple<bool, const char*, bool> steps[] = {  // server or computer name, the new name, stays active
      {true, sim::kProgIdSim, true}, {false, "", true}, {true, "xelo.sim.1", false}, {true, sim::kProgIdSimFlat, false},
      {false, "localhost", false}};
  int expectedDisconnects = 0;
  for (const auto& [serverName, name, staysActive] : steps) {
    server_->SetServer(sim::kProgIdSim), server_->SetComputername("");
    ConnectSim();
    serverName ? server_->SetServer(name) : server_->SetComputername(name);
    expectedDisconnects += staysActive ? 0 : 1;
    EXPECT_EQ(std::tuple(server_->GetActive(), disconnects_), std::tuple(staysActive, expectedDisconnects));
    EXPECT_TRUE(staysActive || SimulationControl::Live().servers == liveServers_);
  }
  EXPECT_EQ(server_->GetComputerName(), "localhost");
}

// The class and its published properties; failed connections leave the
// component inactive; without a connection every query reports through
// OnError, which may let it go.
TEST_F(XeloServerTest, PublishedPropertiesAndWithoutConnectionEveryQueryReports) {
  EXPECT_EQ(PropNames(*server_),
            (Lines{"Name", "Tag", "BatchMode", "ComputerName", "ServerName", "OPCGroups", "OPCGroupDefault", "Active",
                   "ClientName", "Version", "ConnectDelay", "KeepAlive", "AutoReconnect", "ReconnectInterval",
                   "ReconnectMaxInterval", "OnError", "OnServerShutdown", "OnConnect", "OnDisconnect", "OnDatachange",
                   "OnWriteError", "OnWriteComplete", "OnConnectionLost", "OnReconnect"}));
  EXPECT_EQ(FindClass("TXeloServer"), TXeloServer::StaticClass());
  EXPECT_EQ(MessageOf<EOPCException>([&] { server_->SetActive(true); }), "first define servername");
  EXPECT_THROW(server_->CheckServer(), EOPCException);
  EXPECT_THROW((void)server_->GetServerState(), EOPCException);
  // The locale is the only query that raises without OnError.
  EXPECT_EQ(MessageOf<EOPCException>([&] { (void)server_->GetLocaleId(); }), "not connected to server");
  EXPECT_EQ(errors_, (Lines{"first define servername", "not connected to server", "not connected to server"}));
  EXPECT_NO_THROW(server_->SetLocaleId(0x409));
  EXPECT_EQ(SimulationControl::CallCount("IOPCCommon::SetLocaleID"), 0u);
  raiseErrors_ = false;
  errors_.clear();
  server_->SetServer("No.Such.Server.1");
  EXPECT_NO_THROW(server_->SetActive(true));
  EXPECT_FALSE(server_->CheckServer() || server_->GetOPCServer() || server_->GetCommonIF() || server_->GetItemPropIF());
  EXPECT_EQ(server_->GetErrorString(E_FAIL), "");
  EXPECT_EQ(std::tuple(server_->GetServerState(), server_->GetServerStateStr() + server_->GetVendorInfo(),
                       server_->GetBuildNumber(), server_->GetLastUpdateTime()), std::tuple(0, "", 0, 0.0));
  // No OnError for an object without IOPCServer: the conversion error.
  raiseErrors_ = true;
  server_->SetServer(sim::kProgIdSimAE);
  EXPECT_THROW(server_->SetActive(true), EIntfCastError);
  if (!NativeComUnderWine()) {  // Wine's COM creates objects here whatever computer is named
    server_->SetServer(sim::kProgIdSim);
    server_->SetComputername("no-such-computer.invalid");
    EXPECT_EQ(OleErrorOf([&] { server_->SetActive(true); }), HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE));
  }
  Lines expected(11, "not connected to server");
  expected[0] = "first define servername";
  EXPECT_EQ(errors_, expected);
  EXPECT_EQ(std::tuple(server_->GetActive(), server_->Version2(), connects_), std::tuple(false, false, 0));
  server_->SetOnError(nullptr);
  EXPECT_EQ(MessageOf<EOPCException>([&] { server_->Fault("boom"); }), "boom");
}

// The component's own browser follows the connection.
TEST_F(XeloServerTest, StatusLocaleErrorTextsAndTheOwnBrowserComeFromTheServer) {
  SimulationControl::SetVersion(5, 10, 65535), SimulationControl::SetBandWidth(0xFFFFFFFF);
  SimulationControl::SetVendorInfo(OLESTR("Xelo tests \u00e4"));
  TXeloBrowser& browser = *server_->GetOPCBrowser();
  EXPECT_EQ(browser.GetOPCServer(), nullptr);
  ConnectSim();
  browser.ShowBranches();
  EXPECT_TRUE(browser.GetOPCServer() == server_.get() && browser.Items().IndexOf("Channel 1") >= 0);
  EXPECT_EQ(server_->GetServerStateStr(), "running");
  const unsigned reads = SimulationControl::CallCount("IOPCServer::GetStatus");
  EXPECT_EQ(std::tuple(server_->GetMajorVersion(), server_->GetMinorVersion(), server_->GetBuildNumber(),
                       server_->GetVendorInfo()), std::tuple(5, 10, 65535, "Xelo tests \xc3\xa4"));
  EXPECT_EQ(SimulationControl::CallCount("IOPCServer::GetStatus"), reads + 4) << "every read is one call";
  EXPECT_EQ(std::tuple(server_->GetState().BuildNumber, server_->GetStatus().wBuildNumber,
                       server_->GetStatus().szVendorInfo, server_->GetBandWidth()), std::tuple(65535, 65535, nullptr, -1));
  const tServerStateRec state = server_->GetState();
  EXPECT_TRUE(state.StartTime > 0.0 && state.CurrentTime >= state.StartTime);
  SimulationControl::SetServerState(OPC_STATUS_FAILED);
  EXPECT_EQ(std::tuple(server_->GetServerState(), server_->GetServerStateStr()), std::tuple(2, "failed"));
  SimulationControl::FailMethod("IOPCServer::GetStatus", E_FAIL);
  EXPECT_THROW((void)server_->GetState(), EOleSysError);
  EXPECT_THROW((void)server_->GetStatus(), EOleSysError);

  EXPECT_FALSE(server_->GetErrorString(OPC_E_INVALIDHANDLE).empty());
  const auto asked = SimulationControl::LastArguments("IOPCServer::GetErrorString");
  EXPECT_EQ(std::tuple(asked->code, asked->locale), std::tuple(OPC_E_INVALIDHANDLE, LCID{0}));
  SimulationControl::FailMethod("IOPCServer::GetErrorString", E_FAIL, true);
  EXPECT_EQ(server_->GetErrorString(OPC_E_INVALIDHANDLE), "");

  server_->SetLocaleId(0x409);
  EXPECT_EQ(std::tuple(SimulationControl::LastArguments("IOPCCommon::SetLocaleID")->locale, server_->GetLocaleId()),
            std::tuple(LCID{0x409}, LCID{0x409}));
  SimulationControl::FailMethod("IOPCCommon::GetLocaleID", E_FAIL, true);
  EXPECT_THROW((void)server_->GetLocaleId(), EOleSysError);
  EXPECT_EQ(std::tuple(errors_.size(), com::LiveAllocations().taskMemory), std::tuple(0u, liveBlocks_));
  server_->SetActive(false);
  EXPECT_EQ(std::tuple(browser.GetOPCServer(), browser.GetCount()), std::tuple(nullptr, 0));
}

// A stream that stored Active = True connects once, after everything was
// read (whatever the order: see the configuration tests); a designer clears
// BatchMode.
TEST_F(XeloServerTest, LoadingConnectsOnceAfterReading) {
  server_->SetDesigning(true);
  ReadComponentForm(ParseFormText("object OPCServer1: TXeloServer\n  Active = True\n  BatchMode = True\n"
                                  "  ServerName = 'Xelo.Sim.1'\n  ClientName = ' Loaded '\nend\n"), *server_);
  EXPECT_EQ(std::tuple(server_->GetActive(), server_->GetBatchMode(), connects_, disconnects_,
                       SimulationControl::CallCount("IOPCCommon::SetClientName")),
            std::tuple(true, false, 1, 0, 1u));
}

}  // namespace
}  // namespace xelo::test
