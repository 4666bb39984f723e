// The control API: shutdown notices, injected failures, counters, signals,
// and a full client session that leaves nothing behind.
#include "support/RecordingSinks.h"
#include "SimHelpers.h"

#include "servers/simulation/SimulationRuntime.h"

#include <stdexcept>

namespace xelo::sim::test {
namespace {

using Control = SimulationTest;

TEST_F(Control, ShutdownRequestsArePostedAndFailuresInjectedOnceOrAlways) {
  auto server = Create();
  auto sink = xelo::com::MakeComObject<ShutdownSink>();
  ShutdownAdvice advice(server.Get(), sink->GetUnknown());
  SimulationControl::RequestShutdown(OLESTR("Maintenance"));
  EXPECT_TRUE(sink->reasons.empty());  // posted, not called
  Pump();
  EXPECT_EQ(sink->reasons, std::vector<com::OleString>{OLESTR("Maintenance")});
  SimulationControl::RequestShutdown(OLESTR("Again"));
  ASSERT_EQ(advice.Unadvise(), S_OK);
  Pump();
  EXPECT_EQ(sink->reasons.size(), 1u) << "unadvised before delivery";
  SimulationControl::FailMethod("IOPCServer::AddGroup", E_OUTOFMEMORY, true);
  OPCHANDLE handle = 0;
  DWORD revised = 0;
  ComPtr<IUnknown> group;
  EXPECT_EQ(server->AddGroup(OLESTR("A"), TRUE, 50, 1, nullptr, nullptr, 0, &handle, &revised, IID_IUnknown, group.Put()),
            E_OUTOFMEMORY);
  EXPECT_FALSE(group);
  EXPECT_EQ(server->AddGroup(OLESTR("A"), TRUE, 50, 1, nullptr, nullptr, 0x407, &handle, &revised, IID_IUnknown,
                             group.Put()),
            OPC_S_UNSUPPORTEDRATE);
  const auto args = SimulationControl::LastArguments("IOPCServer::AddGroup");
  ASSERT_TRUE(args);
  EXPECT_EQ((std::tuple{args->requestedRate.value_or(0), args->locale.value_or(0), args->text}),
            (std::tuple{DWORD{50}, LCID{0x407}, com::OleString(OLESTR("A"))}));
  EXPECT_EQ(SimulationControl::CallCount("IOPCServer::AddGroup"), 2u);

  const HRESULT unavailable = HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE);
  SimulationControl::FailMethod("IOPCServer::GetStatus", unavailable);
  EXPECT_EQ((Codes{StatusOf(server.Get()).hr, StatusOf(server.Get()).hr}), (Codes{unavailable, unavailable}));
  SimulationControl::ClearMethodFailures();
  EXPECT_EQ(StatusOf(server.Get()).hr, S_OK);
  EXPECT_EQ(SimulationControl::CallCount("IOPCServer::GetStatus"), 3u);
  EXPECT_EQ(SimulationControl::CallCount("IOPCServer::RemoveGroup"), 0u);
  group = nullptr;
  server->RemoveGroup(handle, FALSE);
}

// Only a failure code refuses an item; a success code is no refusal and
// changes nothing. The server answers for items with a success code in its
// switches as if they were not there.
TEST_F(Control, ItemsAreRefusedWithFailureCodesOnly) {
  Session s(Create());
  SimulationControl::RefuseItem(OLESTR("Static.Bool"), E_ACCESSDENIED);
  for (const HRESULT code : {S_OK, S_FALSE, OPC_S_UNSUPPORTEDRATE}) {
    EXPECT_THROW(SimulationControl::RefuseItem(OLESTR("Static.Int32"), code), std::invalid_argument);
    EXPECT_THROW(SimulationControl::RefuseItem(OLESTR("Static.Bool"), code), std::invalid_argument);
  }
  SimulationRuntime::Instance().Behaviour().refusedItems[OLESTR("Static.Double")] = S_FALSE;  // past the control API
  ItemDefs defs;
  defs.Add(OLESTR("Static.Int32"), 1).Add(OLESTR("Static.Bool"), 2).Add(OLESTR("Static.Double"), 3);
  for (const bool add : {false, true}) {
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    const HRESULT hr = add ? s.items->AddItems(defs.Count(), defs.Data(), &results, &errors)
                           : s.items->ValidateItems(defs.Count(), defs.Data(), FALSE, &results, &errors);
    EXPECT_EQ(Answer(hr, errors, 3), (Codes{S_FALSE, S_OK, E_ACCESSDENIED, S_OK})) << add;
    EXPECT_EQ((std::tuple{results[0].vtCanonicalDataType, results[2].vtCanonicalDataType, results[2].hServer != 0}),
              (std::tuple{VARTYPE{VT_I4}, VARTYPE{VT_R8}, add}));
    FreeResults(results, defs.Count());
  }
}

TEST_F(Control, SignalsMovePerCycleAndRandomIsSeeded) {
  auto read = [](const OLECHAR* id) {
    VARIANT v;
    EXPECT_TRUE(SimulationControl::GetItemValue(id, &v));
    VARIANT r8;
    VariantInit(&r8);
    VariantChangeType(&r8, &v, 0, VT_R8);
    VariantClear(&v);
    return r8.dblVal;
  };
  EXPECT_EQ(read(OLESTR("Channel 1.Device 1.Ramp")), 0.0);
  for (int i = 0; i < 99; ++i) SimulationControl::RunUpdateCycle();
  EXPECT_EQ(read(OLESTR("Channel 1.Device 1.Ramp")), 99.0);
  EXPECT_EQ(read(OLESTR("Channel 1.Device 2.Counter")), 99.0);
  SimulationControl::RunUpdateCycle();
  EXPECT_EQ(read(OLESTR("Channel 1.Device 1.Ramp")), 0.0);  // wraps at 100
  EXPECT_EQ(read(OLESTR("Channel 1.Device 1.Counter")), 100.0);
  EXPECT_NEAR(read(OLESTR("Channel 1.Device 1.Sine")), 0.0, 1e-9);  // 100 cycles = 2.5 periods of 40
  SimulationControl::RunUpdateCycle();
  EXPECT_NEAR(read(OLESTR("Channel 1.Device 1.Sine")), std::sin(2 * 3.14159265358979 * 21 / 40), 1e-9);

  const auto randoms = [&] {
    std::vector<double> values;
    SimulationControl::SetRandomSeed(7);
    for (int i = 0; i < 5; ++i, SimulationControl::RunUpdateCycle())
      values.push_back(read(OLESTR("Channel 1.Device 1.Random")));
    return values;
  };
  const auto first = randoms();
  EXPECT_EQ(randoms(), first);
  for (const double r : first) EXPECT_TRUE(r >= 0.0 && r <= 999.0) << r;
  EXPECT_FALSE(SimulationControl::SetItemQuality(OLESTR("No.Such.Item"), 0));
}

// Released without unadvising or removing anything first: the fixture
// proves that nothing stays allocated or alive.
TEST_F(Control, FullSessionReleasedWithoutCleaningUpLeavesNothingBehind) {
  Session s(Create(), 100);
  auto sink = xelo::com::MakeComObject<DataSink>();
  Connect(s.items.Get(), sink->GetUnknown());
  auto streams = xelo::com::MakeComObject<StreamSink>();
  FORMATETC f{OPCSTMFORMATDATATIME, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
  DWORD connection = 0;
  ASSERT_EQ(s.As<IDataObject>()->DAdvise(&f, 0, streams.Get(), &connection), S_OK);
  ItemDefs defs;
  defs.Add(OLESTR("Channel 1.Device 1.Text"), 1).Add(OLESTR("Channel 1.Device 1.Array"), 2).Add(OLESTR("Bogus"), 3);
  const auto handles = s.Add(defs);
  for (int i = 0; i < 3; ++i) Advance(std::chrono::milliseconds(100));
  EXPECT_FALSE(sink->events.empty());
  EXPECT_FALSE(streams->events.empty());
  ASSERT_EQ(ReadAsync(s.As<IOPCAsyncIO2>().Get(), {handles[0], handles[1]}, 5), (Codes{S_OK, S_OK, S_OK}));
}

}  // namespace
}  // namespace xelo::sim::test
