// The OPC DA 1.0 stream sink fed with blocks made by hand, as a server in
// another process might send them.
#include "support/ServerFixture.h"

#include "xelo/com/GlobalMemory.h"
#include "xelo/com/OleDate.h"
#include "xelo/core/XeloAdviseSink.h"
#include "xelo/opc/OpcStreams.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using namespace xelo;

// A data block under construction: header, item headers, I4 values.
class Block {
 public:
  Block(bool withTimeStamps, DWORD transactionId, HRESULT status) : withTime_(withTimeStamps) {
    bytes_.resize(20);
    Put(12, transactionId);
    Put(16, static_cast<DWORD>(status));
  }
  Block& Item(OPCHANDLE client, WORD quality, LONG value, FILETIME stamp = {}) {
    items_.push_back({client, quality, value, stamp});
    return *this;
  }
  // The finished block in global memory; the caller frees it.
  HGLOBAL Build() {
    const std::size_t headerSize = withTime_ ? 20 : 12;
    std::size_t valueAt = 20 + headerSize * items_.size();
    bytes_.resize(valueAt + 16 * items_.size());
    Put(0, static_cast<DWORD>(bytes_.size()));
    Put(4, static_cast<DWORD>(items_.size()));
    for (std::size_t i = 0; i < items_.size(); ++i) {
      const std::size_t at = 20 + headerSize * i;
      Put(at, items_[i].client);
      Put(at + 4, static_cast<DWORD>(valueAt));
      std::memcpy(&bytes_[at + 8], &items_[i].quality, 2);
      if (withTime_) std::memcpy(&bytes_[at + 12], &items_[i].stamp, 8);
      const WORD vt = VT_I4;
      std::memcpy(&bytes_[valueAt], &vt, 2);
      std::memcpy(&bytes_[valueAt + 8], &items_[i].value, 4);
      valueAt += 16;
    }
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes_.size());
    std::memcpy(GlobalLock(memory), bytes_.data(), bytes_.size());
    GlobalUnlock(memory);
    return memory;
  }

 private:
  struct Entry {
    OPCHANDLE client;
    WORD quality;
    LONG value;
    FILETIME stamp;
  };
  void Put(std::size_t at, DWORD value) { std::memcpy(&bytes_[at], &value, 4); }

  bool withTime_;
  std::vector<std::uint8_t> bytes_;
  std::vector<Entry> items_;
};

class XeloAdviseSinkTest : public xelo::test::ServerFixture {
 protected:
  void SetUp() override {
    ServerFixture::SetUp();
    group_ = Groups().Add("G");
    for (const char* id : {"Static.Int32", "Static.Int16"}) group_->GetOPCItems()->AddItem(id);
    server_->SetOnDatachange([this](TPersistent*, TXeloItemList* list) {
      std::vector<TXeloItem*> items;
      for (int i = 0; i < list->GetCount(); ++i) items.push_back(list->GetItem(i));
      events_.push_back(items);
    });
    ConnectSim(sim::kProgIdSimDA1);
    Pump();
    events_.clear();
  }
  void Send(Block& block, CLIPFORMAT format) {
    FORMATETC description{format, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    STGMEDIUM medium{};
    medium.tymed = TYMED_HGLOBAL;
    medium.hGlobal = block.Build();
    group_->GetAdviseSink()->OnDataChange(&description, &medium);
    GlobalFree(medium.hGlobal);  // the caller's, not the sink's
    Pump();
  }
  TXeloItem& Item(int i) { return *group_->GetOPCItems()->GetItem(i); }

  TXeloGroup* group_ = nullptr;
  std::vector<std::vector<TXeloItem*>> events_;
};

TEST_F(XeloAdviseSinkTest, TimeStampedBlockKeepsOnlyTheMajorQuality) {
  const FILETIME first = com::DateToFileTime(45000.5);
  const FILETIME second = com::DateToFileTime(45000.75);
  Block block(true, 0, S_OK);
  block.Item(Item(1).GetClientHandle(), 0xD8, 16, first).Item(Item(0).GetClientHandle(), 0x14, 32, second);
  Send(block, OPCSTMFORMATDATATIME);
  EXPECT_EQ(Item(1).GetQuality(), 0xC0);
  EXPECT_EQ(Item(0).GetQuality(), 0x00);
  EXPECT_EQ(Item(1).GetValue().AsVARIANT().lVal, 16);
  EXPECT_EQ(Item(1).GetTimeStamp(), FileTimeToDateTime(first));
  EXPECT_EQ(Item(0).GetTimeStamp(), FileTimeToDateTime(second));
  EXPECT_EQ(Item(1).GetTimeStampUTC(), 45000.5);
  EXPECT_EQ(Item(0).GetTimeStampUTC(), 45000.75);
  ASSERT_EQ(events_.size(), 1u);
  EXPECT_EQ(events_[0], (std::vector<TXeloItem*>{&Item(1), &Item(0)}));
}

TEST_F(XeloAdviseSinkTest, BlockWithoutTimeStampsLeavesThemAlone) {
  const double before = Item(0).GetTimeStamp();
  const double beforeUTC = Item(0).GetTimeStampUTC();
  Block block(false, 0, S_OK);
  block.Item(Item(0).GetClientHandle(), 0xC0, 7, com::DateToFileTime(1.0)).Item(Item(1).GetClientHandle(), 0xC0, 8);
  Send(block, OPCSTMFORMATDATA);
  EXPECT_EQ(Item(0).GetValue().AsVARIANT().lVal, 7);
  EXPECT_EQ(Item(1).GetValue().AsVARIANT().lVal, 8);
  EXPECT_EQ(Item(0).GetTimeStamp(), before);
  EXPECT_EQ(Item(0).GetTimeStampUTC(), beforeUTC);
  EXPECT_EQ(events_.size(), 1u);
}

TEST_F(XeloAdviseSinkTest, FailureStatusOnlyCompletesTheTransaction) {
  group_->SetTaskId(4242);  // an asynchronous call of ours is pending
  Block other(true, 4241, E_FAIL);
  Send(other, OPCSTMFORMATDATATIME);
  EXPECT_EQ(group_->GetTaskId(), 4242u);
  Block failed(true, 4242, E_FAIL);
  failed.Item(Item(0).GetClientHandle(), 0xC0, 555);
  Send(failed, OPCSTMFORMATDATATIME);
  EXPECT_EQ(group_->GetTaskId(), 0u);
  EXPECT_NE(Item(0).GetValue().AsVARIANT().lVal, 555);
  EXPECT_TRUE(events_.empty());
}

TEST_F(XeloAdviseSinkTest, ForeignAndLyingBlocksAreIgnored) {
  const LONG before = Item(0).GetValue().AsVARIANT().lVal;
  Block foreign(true, 0, S_OK);
  foreign.Item(0xABCDEF, 0xC0, 1);  // no item of ours
  Send(foreign, OPCSTMFORMATDATATIME);
  Block other(true, 0, S_OK);
  other.Item(Item(0).GetClientHandle(), 0xC0, 2);
  Send(other, OPCSTMFORMATWRITECOMPLETE);  // registered, never read
  EXPECT_EQ(Item(0).GetValue().AsVARIANT().lVal, before);
  EXPECT_TRUE(events_.empty());

  // Once the group has left the server the sink only beeps.
  const com::ComPtr<TXeloAdviseSink> sink(group_->GetAdviseSink());
  group_->OPCRemoveGroup();
  Block late(true, 0, S_OK);
  late.Item(Item(0).GetClientHandle(), 0xC0, 3);
  FORMATETC description{OPCSTMFORMATDATATIME, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
  STGMEDIUM medium{};
  medium.tymed = TYMED_HGLOBAL;
  medium.hGlobal = late.Build();
  sink->OnDataChange(&description, &medium);
  GlobalFree(medium.hGlobal);
  Pump();
  EXPECT_EQ(Item(0).GetValue().AsVARIANT().lVal, before);
  EXPECT_TRUE(events_.empty());
}

TEST_F(XeloAdviseSinkTest, UnAdviseOnlyOnce) {
  TXeloAdviseSink* sink = group_->GetAdviseSink();
  sink->UnAdvise();
  sink->UnAdvise();
  server_->SetActive(false);
  EXPECT_EQ(xelo::sim::SimulationControl::CallCount("IDataObject::DUnadvise"), 1u);
}

}  // namespace
