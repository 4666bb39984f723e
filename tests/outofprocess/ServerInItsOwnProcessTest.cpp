// The core against the simulation server in a process of its own, created by
// Windows' COM from its registration (xelo_simulation_server.exe /RegServer)
// and reached through the OPC proxy/stub: values of every kind cross the
// process boundary intact, and a server that dies is reported, not waited
// for. This program does not link the simulation server, so nothing can be
// created in process by mistake.
#include "xelo/core/Xelo.h"

#include "xelo/com/TaskMemory.h"
#include "xelo/framework/Exceptions.h"
#include "xelo/framework/Application.h"
#include "xelo/framework/UserInterface.h"

#include <gtest/gtest.h>

#include <tlhelp32.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace xelo;
using namespace std::chrono_literals;

// Ends every running copy of the simulation server's program, as a crash or
// the task manager would; the number ended.
int KillServerProcesses() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  int killed = 0;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    if (_wcsicmp(entry.szExeFile, L"xelo_simulation_server.exe") != 0) continue;
    if (HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID)) {
      if (TerminateProcess(process, 99) && WaitForSingleObject(process, 10000) == WAIT_OBJECT_0) ++killed;
      CloseHandle(process);
    }
  }
  CloseHandle(snapshot);
  return killed;
}

class ServerInItsOwnProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    previousUi_ = Application().SetUserInterface(std::make_unique<THeadlessUserInterface>(false));
    server_ = std::make_unique<TXeloServer>(nullptr);
    server_->SetOnError([this](TPersistent*, const std::string& text, bool& raise) {
      errors_.push_back(text);
      raise = false;
    });
    server_->SetServer("Xelo.Sim.1");
    server_->SetActive(true);
    ASSERT_TRUE(server_->GetActive()) << ::testing::PrintToString(errors_);
    group_ = server_->GetOPCGroups()->Add("Values");
    group_->SetUpdateRate(100);
  }

  void TearDown() override {
    server_.reset();
    Application().ProcessMessages();
    Application().SetUserInterface(std::move(previousUi_));
  }

  // Pumps until every item of the group has had its first data change.
  bool WaitForValues() {
    return Application().ProcessMessagesUntil(
        [this] {
          for (int i = 0; i < group_->GetOPCItems()->GetCount(); ++i) {
            if (group_->GetOPCItems()->GetItem(i)->GetTimeStamp() == 0) return false;
          }
          return true;
        },
        20s);
  }

  std::unique_ptr<TXeloServer> server_;
  TXeloGroup* group_ = nullptr;
  std::vector<std::string> errors_;
  std::unique_ptr<IUserInterface> previousUi_;
};

TEST_F(ServerInItsOwnProcess, EveryKindOfValueCrossesIntactAndReadBuffersAreFreed) {
  // The server process outlives its clients by a few seconds, and the tool's
  // tests write these items too: each value is written before it is read.
  struct Expected {
    Variant written;  // empty: not writable, read as the server has it
    std::string text;
  };
  const std::map<std::string, Expected> expected{
      {"Static.Int16", {Variant(std::int16_t{16}), "16"}},
      {"Static.Int32", {Variant(std::int32_t{32}), "32"}},
      {"Static.UInt32", {Variant(std::uint32_t{3000000000u}), "3000000000"}},
      {"Static.Float", {Variant(1.5f), "1.5"}},
      {"Static.Double", {Variant(2.25), "2.25"}},
      {"Static.Bool", {Variant(true), "True"}},
      {"Static.String", {Variant("Hello"), "Hello"}},
      {"Static.Date", {Variant::Date(43831.5), "2020-01-01 12:00:00"}},
      {"Channel 1.Device 1.Array", {Variant::Array(std::vector<double>{1, 2, 3}), "1;2;3;"}},
      {"Behaviour.Bad", {Variant(), "0"}},
  };
  std::map<std::string, TXeloItem*> items;
  for (const auto& [id, value] : expected) items[id] = group_->GetOPCItems()->AddItem(id);
  ASSERT_TRUE(WaitForValues()) << ::testing::PrintToString(errors_);
  for (const auto& [id, value] : expected) {
    if (!value.written.IsEmpty()) items[id]->WriteSync(value.written);
  }
  ASSERT_TRUE(group_->SyncRead(nullptr, false)) << ::testing::PrintToString(errors_);
  for (const auto& [id, value] : expected) {
    EXPECT_EQ(items[id]->ValueStr(), value.text) << id;
    EXPECT_EQ(items[id]->IsGoodQuality(), id != "Behaviour.Bad") << id;
  }

  // Every buffer COM's proxies hand over for a read is freed. Wine's stubs
  // keep the arguments of each call the server makes into this process
  // (such as data changes) in blocks of their own, which are not ours to
  // free: the group is inactive meanwhile, so that no such call comes.
  group_->SetIsActive(false);
  Application().ProcessMessagesUntil([] { return false; }, 500ms);  // what was sent before
  const long blocks = com::LiveAllocations().taskMemory;
  for (int round = 0; round < 5; ++round) {
    ASSERT_TRUE(group_->SyncRead(nullptr, false)) << ::testing::PrintToString(errors_);
  }
  EXPECT_EQ(com::LiveAllocations().taskMemory, blocks) << "task-allocator blocks leaked or freed twice";
  group_->SetIsActive(true);
  EXPECT_EQ(items["Channel 1.Device 1.Array"]->ValueStr(), "1;2;3;");

  // Written texts come back as written, after a round trip through the
  // server process, and so do data changes.
  items["Static.String"]->WriteSync(Variant(std::string("grüße, 世界")));
  ASSERT_TRUE(group_->SyncRead(nullptr, false)) << ::testing::PrintToString(errors_);
  EXPECT_EQ(items["Static.String"]->ValueStr(), "grüße, 世界");
  items["Static.Int32"]->WriteSync(Variant(std::int32_t{-7}));
  // Only a data change can bring the written value into the item.
  EXPECT_TRUE(Application().ProcessMessagesUntil([&] { return items["Static.Int32"]->ValueStr() == "-7"; }, 20s));
  EXPECT_TRUE(errors_.empty()) << ::testing::PrintToString(errors_);
}

// Ending the server's process leaves Wine's class table believing it is
// still there: this test runs in a Wine session of its own
// (run-killed-server-test.sh), which sets XELO_KILL_SIMULATION_SERVER.
TEST_F(ServerInItsOwnProcess, AKilledServerIsReportedWithoutAHang) {
  if (std::getenv("XELO_KILL_SIMULATION_SERVER") == nullptr) {
    GTEST_SKIP() << "ends the simulation server's process: run by run-killed-server-test.sh";
  }
  group_->GetOPCItems()->AddItem("Static.Int32");
  ASSERT_TRUE(WaitForValues());
  ASSERT_GE(KillServerProcesses(), 1);

  // The next call finds the server gone and says so with COM's own code.
  HRESULT lost = S_OK;
  try {
    group_->SyncRead(nullptr, false);
  } catch (const EOleSysError& e) {
    lost = e.ErrorCode();
  }
  EXPECT_TRUE(lost == HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE) || lost == HRESULT_FROM_WIN32(RPC_S_CALL_FAILED) ||
              lost == RPC_E_DISCONNECTED)
      << std::hex << lost;
  // Disconnecting releases the dead proxies without waiting for anyone.
  server_->SetActive(false);
  EXPECT_FALSE(server_->GetActive());
}

}  // namespace
