// The fixture of the core component tests: a TXeloServer against the
// embedded simulation server in its strict ownership mode, with its events
// recorded, the ConnectDelay wait counted instead of slept, message boxes
// and error reports captured by a quiet headless user interface (ui_), and
// after each test the proof that nothing was left behind (no live server or
// group objects, task allocator back to where it started) and that the
// library kept COM's ownership rule (no ownership violation).
#pragma once

#include "xelo/core/Xelo.h"

#include "servers/simulation/SimulationControl.h"
#include "servers/simulation/SimulationServer.h"
#include "xelo/com/TaskMemory.h"
#include "xelo/framework/Application.h"
#include "xelo/framework/UserInterface.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace xelo::test {

using xelo::sim::SimulationControl;

class ServerFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    auto ui = std::make_unique<THeadlessUserInterface>(false);
    ui_ = ui.get();
    previousUi_ = Application().SetUserInterface(std::move(ui));
    SimulationControl::Reset();
    SimulationControl::SetStrictOwnership(true);
    liveServers_ = SimulationControl::Live().servers;
    liveGroups_ = SimulationControl::Live().groups;
    liveBlocks_ = com::LiveAllocations().taskMemory;
    server_ = std::make_unique<TXeloServer>(nullptr);
    server_->SetOnError([this](TPersistent* sender, const std::string& text, bool& raise) {
      EXPECT_EQ(sender, server_.get());
      errors_.push_back(text);
      raise = raiseErrors_;
    });
    server_->SetOnConnect([this](TPersistent* sender) {
      EXPECT_EQ(sender, server_.get());
      ++connects_;
    });
    server_->SetOnDisconnect([this](TPersistent* sender) {
      EXPECT_EQ(sender, server_.get());
      ++disconnects_;
    });
    server_->SetConnectWait([this](std::int32_t ms) { waits_.push_back(ms); });
  }

  void TearDown() override {
    server_.reset();
    EXPECT_EQ(SimulationControl::Live().servers, liveServers_) << "server objects still alive";
    EXPECT_EQ(SimulationControl::Live().groups, liveGroups_) << "group objects still alive";
    EXPECT_EQ(com::LiveAllocations().taskMemory, liveBlocks_) << "task-allocator blocks leaked or freed twice";
    Pump();
    SimulationControl::CheckOwnership();
    const auto violations = SimulationControl::OwnershipViolations();
    EXPECT_TRUE(violations.empty()) << ::testing::PrintToString(violations);
    Application().SetUserInterface(std::move(previousUi_));
  }

  // Runs whatever the server and the sinks have queued (and what that
  // queues in turn).
  static void Pump() {
    for (int i = 0; i < 20 && Application().ProcessMessages() > 0; ++i) {
    }
  }

  void ConnectSim(const std::string& name = sim::kProgIdSim) {
    server_->SetServer(name);
    server_->SetActive(true);
    ASSERT_TRUE(server_->GetActive());
  }

  TXeloGroups& Groups() { return *server_->GetOPCGroups(); }

  std::unique_ptr<TXeloServer> server_;
  std::vector<std::string> errors_;
  std::vector<std::int32_t> waits_;
  bool raiseErrors_ = true;
  int connects_ = 0;
  int disconnects_ = 0;
  std::size_t liveServers_ = 0;
  std::size_t liveGroups_ = 0;
  long liveBlocks_ = 0;
  THeadlessUserInterface* ui_ = nullptr;

 private:
  std::unique_ptr<IUserInterface> previousUi_;
};

// The message the call raises as EOPCException, or "" when it raises none.
template <class Call>
std::string OPCMessageOf(Call call) {
  try {
    call();
  } catch (const EOPCException& e) {
    return e.what();
  }
  return {};
}

}  // namespace xelo::test
