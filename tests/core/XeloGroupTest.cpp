#include "support/ServerFixture.h"

#include "xelo/framework/TypInfo.h"

#include <gtest/gtest.h>

namespace {

using namespace xelo;
using xelo::sim::SimulationControl;
using xelo::test::OPCMessageOf;

class XeloGroupTest : public xelo::test::ServerFixture {};

TEST_F(XeloGroupTest, NamesAreExactAndUnique) {
  TXeloGroup* line1 = Groups().Add("Line1");
  Groups().Add("line1");  // differs in case only: another group
  EXPECT_EQ(Groups().GetOPCGroup("Line1"), line1);
  EXPECT_NE(Groups().GetOPCGroup("line1"), line1);
  EXPECT_EQ(Groups().GetOPCGroup("LINE1"), nullptr);
  EXPECT_EQ(Groups().Exists(" Line1"), -1);

  EXPECT_EQ(OPCMessageOf([&] { Groups().Add("Line1"); }), "group Line1 already exists");
  EXPECT_EQ(OPCMessageOf([&] { Groups().Add("  "); }), "group    already exists");
  EXPECT_EQ(OPCMessageOf([&] { Groups().Add(""); }), "group  already exists");
  EXPECT_EQ(Groups().GetCount(), 2);
  EXPECT_EQ(server_->GetGroupCount(), 2);

  EXPECT_EQ(OPCMessageOf([&] { Groups().Remove("LINE1"); }), "group not found");
  Groups().Remove("line1");
  EXPECT_EQ(Groups().GetCount(), 1);
  EXPECT_EQ(Groups().GetItem(0), line1);
}

TEST_F(XeloGroupTest, DefaultNamesCountTheCollection) {
  auto* first = static_cast<TXeloGroup*>(Groups().TCollection::Add());
  EXPECT_EQ(first->GetName(), "TXeloGroup0");
  Groups().TCollection::Add();
  Groups().TCollection::Add();
  Groups().Delete(0);
  // Not unique by design: the name only says where the group started.
  auto* fourth = static_cast<TXeloGroup*>(Groups().TCollection::Add());
  EXPECT_EQ(fourth->GetName(), "TXeloGroup2");
  EXPECT_EQ(Groups().GetItem(1)->GetName(), "TXeloGroup2");

  fourth->SetName("  ");
  EXPECT_EQ(fourth->GetDisplayName(), "TXeloGroup");
  fourth->SetName(" Mixer ");
  EXPECT_EQ(fourth->GetDisplayName(), " Mixer ");
}

TEST_F(XeloGroupTest, NewGroupsTakeTheServerDefaults) {
  TxDefaultGroup& defaults = *server_->GetOPCGroupDefault();
  EXPECT_TRUE(defaults.GetIsActive());
  EXPECT_EQ(defaults.GetUpdateRate(), 1000);
  defaults.SetIsActive(false);
  defaults.SetUpdateRate(250);
  defaults.SetDeadBand(2.5f);
  defaults.SetLocaleId(1031);
  defaults.SetTimeBias(-60);
  TXeloGroup* group = Groups().Add("G");
  EXPECT_FALSE(group->GetIsActive());
  EXPECT_EQ(group->GetUpdateRate(), 250);
  EXPECT_EQ(group->GetDeadBand(), 2.5f);
  EXPECT_EQ(group->GetLocaleId(), 1031);
  EXPECT_EQ(group->GetTimeBias(), -60);
  EXPECT_FALSE(group->IsOnServer());
  EXPECT_EQ(group->GetServerHandle(), kNoServerHandle);

  std::vector<std::string> names;
  for (const TPropInfo* prop : GetPropList(*group)) names.push_back(prop->Name());
  EXPECT_EQ(names, (std::vector<std::string>{"Name", "IsActive", "UpdateRate", "DeadBand", "LocaleId", "TimeBias",
                                             "DefaultItem", "OPCItems"}));
}

TEST_F(XeloGroupTest, OfflineSettersOnlyStore) {
  TXeloGroup* group = Groups().Add("G");
  group->SetUpdateRate(15);
  group->SetIsActive(false);
  group->SetDeadBand(0.1f);
  group->SetName("H");
  EXPECT_EQ(group->GetUpdateRate(), 15);  // exactly as set: nobody revised it
  EXPECT_EQ(SimulationControl::CallCount("IOPCGroupStateMgt::SetState"), 0u);
  EXPECT_EQ(SimulationControl::CallCount("IOPCGroupStateMgt::SetName"), 0u);
}

TEST_F(XeloGroupTest, AddWhileConnectedPutsTheGroupOnTheServer) {
  ConnectSim();
  TXeloGroup* group = Groups().Add("Fast");
  ASSERT_TRUE(group->IsOnServer());
  EXPECT_NE(group->GetServerHandle(), kNoServerHandle);
  EXPECT_NE(group->GetGroupStateMgt(), nullptr);
  EXPECT_NE(group->GetSyncIO(), nullptr);
  EXPECT_NE(group->GetAsyncIO2(), nullptr);
  EXPECT_EQ(group->GetAsyncIO(), nullptr);  // only asked for without IOPCAsyncIO2
  const auto args = SimulationControl::LastArguments("IOPCServer::AddGroup");
  ASSERT_TRUE(args);
  EXPECT_EQ(args->text, OLESTR("Fast"));
  EXPECT_EQ(args->requestedRate, 1000u);

  tGroupStateRec state;
  group->GetState(state);
  EXPECT_EQ(state.Name, "Fast");
  EXPECT_EQ(state.UpdateRate, 1000u);
  EXPECT_TRUE(state.Active);
  EXPECT_EQ(state.ClientHandle, group->GetClientHandle());
  EXPECT_EQ(state.ServerHandle, group->GetServerHandle());
}

TEST_F(XeloGroupTest, RevisedRateSurvivesLaterSetters) {
  ConnectSim();
  TXeloGroup* group = Groups().Add("G");
  group->SetUpdateRate(15);
  EXPECT_EQ(group->GetUpdateRate(), 100);
  group->SetIsActive(false);
  EXPECT_EQ(group->GetUpdateRate(), 100);
  EXPECT_EQ(SimulationControl::LastArguments("IOPCGroupStateMgt::SetState")->requestedRate, 100u);

  const unsigned calls = SimulationControl::CallCount("IOPCGroupStateMgt::SetState");
  group->SetIsActive(false);
  group->SetUpdateRate(100);
  group->SetDeadBand(group->GetDeadBand());
  group->SetLocaleId(group->GetLocaleId());
  group->SetTimeBias(group->GetTimeBias());
  group->SetName("G");
  EXPECT_EQ(SimulationControl::CallCount("IOPCGroupStateMgt::SetState"), calls);
  EXPECT_EQ(SimulationControl::CallCount("IOPCGroupStateMgt::SetName"), 0u);

  // A rate the server takes as given at the start of a connection.
  Groups().Add("Slow")->SetUpdateRate(15);
  server_->SetActive(false);
  server_->SetActive(true);
  EXPECT_EQ(Groups().GetOPCGroup("Slow")->GetUpdateRate(), 100);
}

TEST_F(XeloGroupTest, RefusedSettingsKeepTheOldValues) {
  ConnectSim();
  TXeloGroup* group = Groups().Add("G");
  Groups().Add("Taken");
  EXPECT_EQ(OPCMessageOf([&] { group->SetName("Taken"); }).empty(), false);
  EXPECT_EQ(group->GetName(), "G");

  SimulationControl::FailMethod("IOPCGroupStateMgt::SetState", E_FAIL, true);
  EXPECT_ANY_THROW(group->SetDeadBand(5.0f));
  EXPECT_EQ(group->GetDeadBand(), 0.0f);
  group->SetDeadBand(5.0f);
  EXPECT_EQ(group->GetDeadBand(), 5.0f);
}

TEST_F(XeloGroupTest, ReconnectRebuildsEveryGroupWithItsSettings) {
  TXeloGroup* a = Groups().Add("A");
  TXeloGroup* b = Groups().Add("B");
  a->SetIsActive(false);
  b->SetUpdateRate(500);
  b->SetDeadBand(0.5f);
  a->GetOPCItems()->AddItem("Static.Int32");
  ConnectSim();
  EXPECT_EQ(waits_, std::vector<std::int32_t>{300});
  ASSERT_TRUE(a->IsOnServer());
  ASSERT_TRUE(b->IsOnServer());
  EXPECT_TRUE(a->GetOPCItems()->GetItem(0)->IsOnServer());
  EXPECT_EQ(SimulationControl::Live().groups, liveGroups_ + 2);

  server_->SetActive(false);
  EXPECT_FALSE(a->IsOnServer());
  EXPECT_FALSE(a->GetOPCItems()->GetItem(0)->IsOnServer());
  EXPECT_EQ(SimulationControl::Live().groups, liveGroups_);
  EXPECT_EQ(Groups().GetCount(), 2);

  server_->SetActive(true);
  tGroupStateRec state;
  b->GetState(state);
  EXPECT_EQ(state.UpdateRate, 500u);
  EXPECT_EQ(state.DeadBand, 0.5f);
  a->GetState(state);
  EXPECT_FALSE(state.Active);
  EXPECT_TRUE(a->GetOPCItems()->GetItem(0)->IsOnServer());
}

TEST_F(XeloGroupTest, FailedAddGroupStopsTheRebuild) {
  Groups().Add("A");
  Groups().Add("B");
  Groups().Add("C");
  Groups().GetItem(1)->SetName("A");  // the server refuses a second "A"
  server_->SetServer(sim::kProgIdSim);
  EXPECT_FALSE(OPCMessageOf([&] { server_->SetActive(true); }).empty());
  // Still connected: the groups before the failure are on the server.
  EXPECT_TRUE(server_->Connected());
  EXPECT_EQ(connects_, 0);
  EXPECT_TRUE(Groups().GetItem(0)->IsOnServer());
  EXPECT_FALSE(Groups().GetItem(1)->IsOnServer());
  EXPECT_FALSE(Groups().GetItem(2)->IsOnServer());
  EXPECT_EQ(Groups().GetItem(1)->GetServerHandle(), kNoServerHandle);
  server_->SetActive(false);
}

TEST_F(XeloGroupTest, RemovingGroupsTakesThemOffTheServer) {
  ConnectSim();
  Groups().Add("A")->GetOPCItems()->AddItem("Static.Int32");
  Groups().Add("B");
  EXPECT_EQ(SimulationControl::Live().groups, liveGroups_ + 2);
  Groups().Remove("A");
  EXPECT_EQ(SimulationControl::Live().groups, liveGroups_ + 1);
  EXPECT_EQ(SimulationControl::CallCount("IOPCItemMgt::RemoveItems"), 1u);
  Groups().RemoveAll();
  EXPECT_EQ(Groups().GetCount(), 0);
  EXPECT_EQ(SimulationControl::Live().groups, liveGroups_);
}

TEST_F(XeloGroupTest, GroupStateOffTheServerGoesThroughFault) {
  TXeloGroup* group = Groups().Add("G");
  tGroupStateRec state;
  state.Name = "untouched";
  EXPECT_EQ(OPCMessageOf([&] { group->GetState(state); }), "not connected to server");
  raiseErrors_ = false;
  group->GetState(state);
  EXPECT_EQ(state.Name, "untouched");
  EXPECT_EQ(errors_.size(), 2u);
}

TEST_F(XeloGroupTest, ServerWithoutAsyncIO2OffersTheOldInterface) {
  ConnectSim(sim::kProgIdSimDA1);
  TXeloGroup* group = Groups().Add("G");
  ASSERT_TRUE(group->IsOnServer());
  EXPECT_EQ(group->GetAsyncIO2(), nullptr);
  EXPECT_NE(group->GetAsyncIO(), nullptr);
}

TEST_F(XeloGroupTest, DesignerPutsNewGroupsOnTheServerAtOnce) {
  ConnectSim();
  server_->SetDesigning(true);
  TXeloGroup* group = Groups().Add("Designed");
  ASSERT_TRUE(group->IsOnServer());
  // Created under its default name, renamed on the server afterwards.
  EXPECT_EQ(SimulationControl::LastArguments("IOPCServer::AddGroup")->text, OLESTR("TXeloGroup0"));
  EXPECT_EQ(SimulationControl::LastArguments("IOPCGroupStateMgt::SetName")->text, OLESTR("Designed"));
}

TEST_F(XeloGroupTest, ConnectDelayOnlyWithItems) {
  Groups().Add("Empty");
  ConnectSim();
  EXPECT_TRUE(waits_.empty());
  server_->SetActive(false);
  Groups().GetItem(0)->GetOPCItems()->AddItem("Static.Int32");
  server_->SetConnectDelay(0);
  server_->SetActive(true);
  EXPECT_TRUE(waits_.empty());
  server_->SetActive(false);
  server_->SetConnectDelay(750);
  server_->SetActive(true);
  EXPECT_EQ(waits_, std::vector<std::int32_t>{750});
}

}  // namespace
