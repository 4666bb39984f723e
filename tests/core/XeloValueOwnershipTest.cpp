// Values of every kind on every road into the items: subscriptions, read
// completions, refreshes (the server lends them) and synchronous reads (the
// server hands them over), against OPC DA 2.0 callbacks and OPC DA 1.0
// streams. The server frees what it lent as soon as the callback returns
// and runs in its strict ownership mode, so a sink that keeps, frees or
// changes a lent value fails here (under AddressSanitizer as a
// use-after-free, otherwise as an ownership violation of the fixture).
#include "support/ServerFixture.h"

#include "xelo/com/WideText.h"

namespace xelo::test {
namespace {

const char* const kValueItems[] = {"Channel 1.Device 1.Text", "Static.String", "Channel 1.Device 1.Array",
                                   "Static.Double", "Static.Int32"};
using Round = std::vector<Variant>;  // one value for each of kValueItems

// The type and text of each value.
Lines Shown(const Round& values) {
  Lines shown;
  for (const Variant& value : values) shown.push_back(std::to_string(value.AsVARIANT().vt) + ":" + VarToAStr(value));
  return shown;
}

class XeloValueOwnershipTest : public ServerFixture, public ::testing::WithParamInterface<const char*> {
 protected:
  // The server keeps the last values it was given; the fixture counts the
  // arrays among them, so the start values go back before it looks.
  void SetUp() override { ServerFixture::SetUp(), original_ = ServerValues(); }
  void TearDown() override { Publish(original_), original_.clear(), ServerFixture::TearDown(); }
  static Round ServerValues() {
    Round values;
    for (const char* id : kValueItems) {
      VARIANT v;
      EXPECT_TRUE(SimulationControl::GetItemValue(com::ToUtf16(id), &v));
      values.push_back(Variant::Attach(v));
    }
    return values;
  }
  static void Publish(const Round& round) {
    for (std::size_t i = 0; i < round.size(); ++i)
      ASSERT_TRUE(SimulationControl::SetItemValue(com::ToUtf16(kValueItems[i]), round[i].AsVARIANT()));
  }
  // Every item holds its own copy of what the server has now, still there
  // after the server has moved on.
  static void ExpectServerValues(TXeloGroup& group, const std::string& road) {
    Round held;
    for (int i = 0; i < group.GetOPCItems()->GetCount(); ++i) held.push_back(group.GetOPCItems()->GetItem(i)->GetValue());
    EXPECT_EQ(Shown(held), Shown(ServerValues())) << road;
  }

  Round original_;
};

TEST_P(XeloValueOwnershipTest, EveryRoadDeliversOwnCopiesOfTextsArraysAndEmptyValues) {
  TXeloGroup* group = AddGroup({}, "Values");
  for (const char* id : kValueItems) group->GetOPCItems()->AddItem(id);
  int delivered = 0;
  server_->SetOnDatachange([&](TPersistent*, TXeloItemList* list) { delivered += list->GetCount(); });
  ConnectSim(GetParam()), Pump();
  ASSERT_TRUE(group->IsOnServer());
  // The server replaces (and frees) every value it sent before.
  const Round rounds[] = {
      {Variant(OLESTR("Tank 4 level: ok")), Variant(OLESTR("")), Variant::Array(std::vector<double>{1.5, 2.5, 3.5}),
       Variant::Array(std::vector<com::OleString>{OLESTR("alpha"), OLESTR(""), OLESTR("gamma")}), Variant()},
      {Variant(OLESTR("Tank 4 level: low")), Variant(OLESTR("x")), Variant::Array(VT_R8, 0, -1),
       Variant::Array(std::vector<com::OleString>{OLESTR(""), OLESTR("delta")}), Variant(42)}};
  for (const Round& round : rounds) {
    Publish(round), SimulationControl::PublishNow(), Pump();
    ExpectServerValues(*group, "subscription");
  }
  for (const char* road : {"read completion", "refresh"}) {
    delivered = 0;
    ASSERT_TRUE(std::string(road) == "refresh" ? (group->Refresh(false), true) : group->AsyncRead(nullptr));
    Pump();
    EXPECT_EQ(delivered, 5) << road;
    ExpectServerValues(*group, road);
  }
  Publish(rounds[0]);
  ASSERT_TRUE(group->SyncRead(nullptr, false));
  ExpectServerValues(*group, "synchronous read");
  // Every buffer the reads handed over went back to the allocator (checked
  // by the fixture), and the values live on without the server.
  server_->SetActive(false);
  EXPECT_EQ(VarToAStr(group->GetOPCItems()->GetItem(0)->GetValue()), "Tank 4 level: ok");
}

INSTANTIATE_TEST_SUITE_P(BothKindsOfServer, XeloValueOwnershipTest,
                         ::testing::Values(sim::kProgIdSim, sim::kProgIdSimDA1));

}  // namespace
}  // namespace xelo::test
