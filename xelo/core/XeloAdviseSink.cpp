#include "xelo/core/XeloAdviseSink.h"

#include "xelo/com/GlobalMemory.h"
#include "xelo/core/DataStreamReader.h"
#include "xelo/core/XeloConnections.h"
#include "xelo/core/XeloFormat.h"
#include "xelo/core/XeloGroup.h"
#include "xelo/core/XeloItem.h"
#include "xelo/core/XeloMessages.h"
#include "xelo/core/XeloServer.h"
#include "xelo/framework/Application.h"
#include "xelo/opc/OpcStreams.h"

namespace xelo {

com::ComPtr<TXeloAdviseSink> TXeloAdviseSink::Create(TXeloGroup* group) {
  // Advised only once the object holds its own reference (see the data
  // callback); the server may call back from inside DAdvise.
  com::ComPtr<TXeloAdviseSink> sink = com::MakeComObject<TXeloAdviseSink>(group);
  sink->adviseResult_ = DataAdvise(group->GetItemMgt(), static_cast<IAdviseSink*>(sink.Get()), sink->cookie_);
  return sink;
}

void TXeloAdviseSink::UnAdvise() {
  // The data object drops its reference inside DUnadvise; ours keeps the
  // sink alive until this returns.
  const com::ComPtr<TXeloAdviseSink> keepAlive(this);
  if (adviseResult_ == S_OK && group_ != nullptr) DataUnadvise(group_->GetItemMgt(), cookie_);
  adviseResult_ = E_FAIL;
}

void TXeloAdviseSink::OnDataChange(FORMATETC* pFormatetc, STGMEDIUM* pStgmed) {
  try {
    if (group_ == nullptr || !group_->IsOnServer()) {
      Application().Beep();
      return;
    }
    if (pFormatetc == nullptr || pStgmed == nullptr) return;
    const bool withTimeStamps = pFormatetc->cfFormat == OPCSTMFORMATDATATIME;
    if (!withTimeStamps && pFormatetc->cfFormat != OPCSTMFORMATDATA) return;
    if (pStgmed->tymed != TYMED_HGLOBAL) return;
    const HGLOBAL block = pStgmed->hGlobal;
    const auto* data = static_cast<const std::uint8_t*>(GlobalLock(block));
    if (data == nullptr) return;
    try {
      Receive(data, GlobalSize(block), withTimeStamps);
    } catch (...) {
      GlobalUnlock(block);
      throw;
    }
    GlobalUnlock(block);
  } catch (...) {
    // Out of memory: nothing reaches the server.
  }
}

void TXeloAdviseSink::Receive(const std::uint8_t* data, std::size_t size, bool withTimeStamps) {
  std::optional<StreamBlock> block = ReadDataStream(data, size, withTimeStamps);
  if (!block) return;  // a block that lies about its sizes is not read at all
  group_->TransactionCompleted(block->transactionId);
  if (FAILED(block->status)) return;
  TPostedItemsPtr posted = NewPostedItems();
  posted->ClientHandles.reserve(block->items.size());
  for (StreamItem& entry : block->items) {
    TXeloItem* item = FindItemByClientHandle(entry.hClient);
    if (item == nullptr || item->GetGroup() != group_) continue;
    // The stream's quality carries only the major class for this library.
    item->StoreQuality(entry.quality & OPC_QUALITY_MASK);
    item->ValueRef() = std::move(entry.value);
    if (entry.hasTimeStamp) item->StoreTimeStamp(entry.timeStamp);
    posted->ClientHandles.push_back(entry.hClient);
  }
  if (!posted->ClientHandles.empty()) {
    PostItems(group_->GetServer()->GetHandle(), CM_OPCDATACHANGE, group_->GetClientHandle(), std::move(posted));
  }
}

}  // namespace xelo
