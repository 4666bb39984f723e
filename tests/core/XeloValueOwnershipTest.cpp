// Values of every kind on every road into the items: subscriptions, read
// completions, refreshes (the server lends them) and synchronous reads (the
// server hands them over), against OPC DA 2.0 callbacks and OPC DA 1.0
// streams. The server frees what it lent as soon as the callback returns
// and runs in its strict ownership mode, so a sink that keeps, frees or
// changes a lent value fails here (under AddressSanitizer as a
// use-after-free, otherwise as an ownership violation of the fixture).
#include "support/ServerFixture.h"

#include "xelo/com/BStr.h"
#include "xelo/com/SafeArray.h"
#include "xelo/com/WideText.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace xelo;
using xelo::sim::SimulationControl;

VARIANT Text(const OLECHAR* text) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(text);
  return v;
}

VARIANT Numbers(std::initializer_list<double> values) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_ARRAY | VT_R8;
  v.parray = SafeArrayCreateVector(VT_R8, 0, static_cast<ULONG>(values.size()));
  LONG i = 0;
  for (double value : values) {
    SafeArrayPutElement(v.parray, &i, &value);
    ++i;
  }
  return v;
}

VARIANT Texts(std::initializer_list<const OLECHAR*> values) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_ARRAY | VT_BSTR;
  v.parray = SafeArrayCreateVector(VT_BSTR, 0, static_cast<ULONG>(values.size()));
  LONG i = 0;
  for (const OLECHAR* value : values) {
    BSTR text = SysAllocString(value);
    SafeArrayPutElement(v.parray, &i, text);  // copies the string
    SysFreeString(text);
    ++i;
  }
  return v;
}

// One round of values for the five items below, one of each kind.
struct Round {
  std::vector<VARIANT> values;
  ~Round() {
    for (VARIANT& v : values) VariantClear(&v);
  }
};

const OLECHAR* const kItems[] = {OLESTR("Channel 1.Device 1.Text"), OLESTR("Static.String"), OLESTR("Channel 1.Device 1.Array"),
                                  OLESTR("Static.Double"), OLESTR("Static.Int32")};

void FirstRound(Round& round) {
  VARIANT empty;
  VariantInit(&empty);
  round.values = {Text(OLESTR("Tank 4 level: ok")), Text(OLESTR("")), Numbers({1.5, 2.5, 3.5}), Texts({OLESTR("alpha"), OLESTR(""), OLESTR("gamma")}),
                  empty};
}

void SecondRound(Round& round) {
  VARIANT number;
  VariantInit(&number);
  number.vt = VT_I4;
  number.lVal = 42;
  round.values = {Text(OLESTR("Tank 4 level: low")), Text(OLESTR("x")), Numbers({}), Texts({OLESTR(""), OLESTR("delta")}), number};
}

class XeloValueOwnershipTest : public xelo::test::ServerFixture, public ::testing::WithParamInterface<const char*> {
 protected:
  // The server keeps the last values it was given; the fixture counts the
  // arrays among them, so the start values go back before it looks.
  void SetUp() override {
    ServerFixture::SetUp();
    for (const OLECHAR* id : kItems) {
      VARIANT v;
      ASSERT_TRUE(SimulationControl::GetItemValue(id, &v));
      original_.values.push_back(v);
    }
  }
  void TearDown() override {
    Publish(original_);
    for (VARIANT& v : original_.values) VariantClear(&v);
    ServerFixture::TearDown();
  }

  TXeloGroup* Connect() {
    TXeloGroup* group = Groups().Add("Values");
    for (const OLECHAR* id : kItems) group->GetOPCItems()->AddItem(com::ToUtf8(id));
    server_->SetOnDatachange([this](TPersistent*, TXeloItemList* list) { delivered_ += list->GetCount(); });
    ConnectSim(GetParam());
    Pump();
    return group;
  }

  static void Publish(const Round& round) {
    for (std::size_t i = 0; i < round.values.size(); ++i) {
      ASSERT_TRUE(SimulationControl::SetItemValue(kItems[i], round.values[i]));
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
      EXPECT_EQ(item.GetValue().AsVARIANT().vt, expected.AsVARIANT().vt) << road << ": " << item.GetItemID();
      EXPECT_EQ(VarToAStr(item.GetValue()), VarToAStr(expected)) << road << ": " << item.GetItemID();
    }
  }

  int delivered_ = 0;
  Round original_;
};

TEST_P(XeloValueOwnershipTest, EveryRoadDeliversOwnCopiesOfTextsArraysAndEmptyValues) {
  TXeloGroup* group = Connect();
  ASSERT_TRUE(group->IsOnServer());
  {
    Round first;
    FirstRound(first);
    Publish(first);
  }
  SimulationControl::PublishNow();
  Pump();
  ExpectServerValues(*group, "subscription");

  // The server replaces (and frees) every value it sent before.
  {
    Round second;
    SecondRound(second);
    Publish(second);
  }
  SimulationControl::PublishNow();
  Pump();
  ExpectServerValues(*group, "second subscription");

  delivered_ = 0;
  ASSERT_TRUE(group->AsyncRead(nullptr));
  Pump();
  EXPECT_EQ(delivered_, 5);
  ExpectServerValues(*group, "read completion");

  delivered_ = 0;
  group->Refresh(false);
  Pump();
  EXPECT_EQ(delivered_, 5);
  ExpectServerValues(*group, "refresh");

  {
    Round first;
    FirstRound(first);
    Publish(first);
  }
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
