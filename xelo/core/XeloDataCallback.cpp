#include "xelo/core/XeloDataCallback.h"

#include "xelo/core/ServerBuffers.h"
#include "xelo/core/XeloConnections.h"
#include "xelo/core/XeloFormat.h"
#include "xelo/core/XeloGroup.h"
#include "xelo/core/XeloItem.h"
#include "xelo/core/XeloMessages.h"
#include "xelo/core/XeloServer.h"

#include <new>

namespace xelo {

com::ComPtr<TXeloDataCallback> TXeloDataCallback::Create(TXeloGroup* group) {
  // Subscribed only once the object holds its own reference: a connection
  // point that takes and drops one must not destroy it half-built.
  com::ComPtr<TXeloDataCallback> sink = com::MakeComObject<TXeloDataCallback>(group);
  sink->adviseResult_ = ConnectAdvise(group->GetItemMgt(), IID_IOPCDataCallback,
                                      static_cast<IOPCDataCallback*>(sink.Get()), sink->cookie_);
  return sink;
}

void TXeloDataCallback::ClearTaskId(DWORD transactionId) {
  if (group_ != nullptr) group_->TransactionCompleted(transactionId);
}

bool TXeloDataCallback::IsOurGroup(OPCHANDLE hGroup) const {
  return group_ != nullptr && group_->IsOnServer() && hGroup == group_->GetClientHandle();
}

TXeloItem* TXeloDataCallback::ItemOf(OPCHANDLE handle) const {
  TXeloItem* item = FindItemByClientHandle(handle);
  return item != nullptr && item->GetGroup() == group_ ? item : nullptr;
}

HRESULT TXeloDataCallback::OnDataChange(DWORD dwTransid, OPCHANDLE hGroup, HRESULT /*hrMasterquality*/,
                                        HRESULT /*hrMastererror*/, DWORD dwCount, OPCHANDLE* phClientItems,
                                        VARIANT* pvValues, WORD* pwQualities, FILETIME* pftTimeStamps,
                                        HRESULT* pErrors) {
  if (!IsOurGroup(hGroup)) return S_OK;
  ClearTaskId(dwTransid);
  if (dwCount == 0 || phClientItems == nullptr || pvValues == nullptr || pwQualities == nullptr ||
      pftTimeStamps == nullptr || pErrors == nullptr) {
    return S_OK;
  }
  try {
    TPostedItemsPtr posted = NewPostedItems();
    posted->ClientHandles.reserve(dwCount);
    // The items of one callback mostly share their time stamp: converted
    // once, not once per value.
    FILETIME lastStamp{};
    Stamp lastTime;
    for (DWORD i = 0; i < dwCount; ++i) {
      TXeloItem* item = ItemOf(phClientItems[i]);
      if (item == nullptr) continue;
      posted->ClientHandles.push_back(phClientItems[i]);
      const FILETIME& stamp = pftTimeStamps[i];
      if (i == 0 || stamp.dwLowDateTime != lastStamp.dwLowDateTime ||
          stamp.dwHighDateTime != lastStamp.dwHighDateTime) {
        lastStamp = stamp;
        lastTime = {FileTimeToDateTime(stamp), FileTimeToDateTimeUTC(stamp)};
      }
      StoreValue(*item, pvValues[i], pwQualities[i], lastTime, pErrors[i]);
    }
    if (!posted->ClientHandles.empty()) {
      PostItems(group_->GetServer()->GetHandle(), CM_OPCDATACHANGE, group_->GetClientHandle(), std::move(posted));
    }
  } catch (...) {
    // Out of memory: the server hears success all the same.
  }
  return S_OK;
}

void TXeloDataCallback::StoreValue(TXeloItem& item, const VARIANT& value, WORD quality, Stamp timeStamp,
                                   HRESULT error) {
  try {
    // Lent, not given: the server frees its values when we return.
    CopyLentValue(value, item.ValueRef());
    item.StoreQuality(quality);
    item.StoreTimeStamp(timeStamp.local, timeStamp.utc);
    item.SetLastError(error);
  } catch (const std::bad_alloc&) {
    MarkUnreadable(item, E_OUTOFMEMORY, timeStamp);
  } catch (...) {
    // A value no VARIANT can hold: the item must not go on showing its old
    // value as if it were the new one.
    MarkUnreadable(item, DISP_E_BADVARTYPE, timeStamp);
  }
}

void TXeloDataCallback::MarkUnreadable(TXeloItem& item, HRESULT error, Stamp timeStamp) noexcept {
  item.StoreQuality(OPC_QUALITY_BAD);
  item.StoreTimeStamp(timeStamp.local, timeStamp.utc);
  item.SetLastError(error);
}

HRESULT TXeloDataCallback::OnReadComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                                          HRESULT hrMastererror, DWORD dwCount, OPCHANDLE* phClientItems,
                                          VARIANT* pvValues, WORD* pwQualities, FILETIME* pftTimeStamps,
                                          HRESULT* pErrors) {
  // The read is over whatever group the server names.
  ClearTaskId(dwTransid);
  return OnDataChange(dwTransid, hGroup, hrMasterquality, hrMastererror, dwCount, phClientItems, pvValues,
                      pwQualities, pftTimeStamps, pErrors);
}

HRESULT TXeloDataCallback::OnWriteComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT /*hrMastererr*/,
                                           DWORD dwCount, OPCHANDLE* pClienthandles, HRESULT* pErrors) {
  if (!IsOurGroup(hGroup)) return S_OK;
  ClearTaskId(dwTransid);
  if (dwCount == 0 || pClienthandles == nullptr || pErrors == nullptr) return S_OK;
  try {
    TPostedItemsPtr posted = NewPostedItems();
    posted->ClientHandles.reserve(dwCount);
    int failed = 0;
    for (DWORD i = 0; i < dwCount; ++i) {
      TXeloItem* item = ItemOf(pClienthandles[i]);
      if (item == nullptr) continue;
      item->SetLastError(pErrors[i]);
      // Any code but S_OK counts, the clamp notice included: the value on
      // the server is not the one written.
      if (pErrors[i] != S_OK) {
        item->StoreQuality(0);
        ++failed;
      }
      posted->ClientHandles.push_back(pClienthandles[i]);
    }
    if (!posted->ClientHandles.empty()) {
      PostItems(group_->GetServer()->GetHandle(), failed > 0 ? CM_OPCWRITEERROR : CM_OPCWRITECOMPLETE, 0,
                std::move(posted));
    }
  } catch (...) {
  }
  return S_OK;
}

HRESULT TXeloDataCallback::OnCancelComplete(DWORD dwTransid, OPCHANDLE /*hGroup*/) {
  ClearTaskId(dwTransid);
  return S_OK;
}

}  // namespace xelo
