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

const OLECHAR* const kValueItems[] = {OLESTR("Channel 1.Device 1.Text"), OLESTR("Static.String"),
                                      OLESTR("Channel 1.Device 1.Array"), OLESTR("Static.Double"),
                                      OLESTR("Static.Int32")};
using Round = std::vector<Variant>;  // one value for each of kValueItems

Round FirstRound() {
  return {Variant(OLESTR("Tank 4 level: ok")), Variant(OLESTR("")), Variant::Array(std::vector<double>{1.5, 2.5, 3.5}),
          Variant::Array(std::vector<com::OleString>{OLESTR("alpha"), OLESTR(""), OLESTR("gamma")}), Variant()};
}
Round SecondRound() {
  return {Variant(OLESTR("Tank 4 level: low")), Variant(OLESTR("x")), Variant::Array(VT_R8, 0, -1),
          Variant::Array(std::vector<com::OleString>{OLESTR(""), OLESTR("delta")}), Variant(42)};
}

class XeloValueOwnershipTest : public ServerFixture, public ::testing::WithParamInterface<const char*> {
 protected:
  // The server keeps the last values it was given; the fixture counts the
  // arrays among them, so the start values go back before it looks.
  void SetUp() override {
    ServerFixture::SetUp();
    for (const OLECHAR* id : kValueItems) {
      VARIANT v;
      ASSERT_TRUE(SimulationControl::GetItemValue(id, &v));
      original_.push_back(Variant::Attach(v));
    }
  }
  void TearDown() override {
    Publish(original_);
    original_.clear();
    ServerFixture::TearDown();
  }
  static void Publish(const Round& round) {
    for (std::size_t i = 0; i < round.size(); ++i) {
      ASSERT_TRUE(SimulationControl::SetItemValue(kValueItems[i], round[i].AsVARIANT()));
    }
  }
  // Every item holds its own copy of what the server has now: same type,
  // same text, and still there after the server has moved on.
  static void ExpectServerValues(TXeloGroup& group, const std::string& road) {
    for (int i = 0; i < group.GetOPCItems()->GetCount(); ++i) {
      const TXeloItem& item = *group.GetOPCItems()->GetItem(i);
      VARIANT raw;
      ASSERT_TRUE(SimulationControl::GetItemValue(com::ToUtf16(item.GetItemID()), &raw));
      const Variant expected = Variant::Attach(raw);
      EXPECT_EQ(std::tuple(item.GetValue().AsVARIANT().vt, VarToAStr(item.GetValue())),
                std::tuple(expected.AsVARIANT().vt, VarToAStr(expected))) << road << ": " << item.GetItemID();
    }
  }

  Round original_;
};

TEST_P(XeloValueOwnershipTest, EveryRoadDeliversOwnCopiesOfTextsArraysAndEmptyValues) {
  TXeloGroup* group = AddGroup({"Channel 1.Device 1.Text", "Static.String", "Channel 1.Device 1.Array", "Static.Double",
                                "Static.Int32"}, "Values");
  int delivered = 0;
  server_->SetOnDatachange([&](TPersistent*, TXeloItemList* list) { delivered += list->GetCount(); });
  ConnectSim(GetParam());
  Pump();
  ASSERT_TRUE(group->IsOnServer());
  // The server replaces (and frees) every value it sent before.
  for (const Round& round : {FirstRound(), SecondRound()}) {
    Publish(round);
    SimulationControl::PublishNow();
    Pump();
    ExpectServerValues(*group, "subscription");
  }

  for (const char* road : {"read completion", "refresh"}) {
    delivered = 0;
    ASSERT_TRUE(std::string(road) == "refresh" ? (group->Refresh(false), true) : group->AsyncRead(nullptr));
    Pump();
    EXPECT_EQ(delivered, 5) << road;
    ExpectServerValues(*group, road);
  }

  Publish(FirstRound());
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
