// The reads, writes and refreshes of a group on the server.
#include "xelo/com/TaskPtr.h"
#include "xelo/core/ItemCodes.h"
#include "xelo/core/ServerBuffers.h"
#include "xelo/core/XeloErrors.h"
#include "xelo/core/XeloGroup.h"
#include "xelo/core/XeloItemList.h"
#include "xelo/core/XeloItems.h"
#include "xelo/core/XeloServer.h"
#include "xelo/core/XeloStrings.h"

#include <functional>
#include <vector>

namespace xelo {

namespace {

// One counter for every asynchronous call of the process, so that a
// transaction id names one call whichever group made it.
DWORD transactionCounter = 0;

OPCDATASOURCE DataSource(bool fromCache) { return fromCache ? OPC_DS_CACHE : OPC_DS_DEVICE; }

// The server handles of a list, and for writes copies of the items'
// WriteValue, cleared when the request goes out of scope.
class IORequest {
 public:
  IORequest(const TXeloItemList& list, bool withValues) {
    const auto count = static_cast<std::size_t>(list.GetCount());
    handles_.reserve(count);
    for (int i = 0; i < list.GetCount(); ++i) handles_.push_back(list.GetItem(i)->GetServerHandle());
    if (!withValues) return;
    values_.reserve(count);
    for (int i = 0; i < list.GetCount(); ++i) {
      values_.emplace_back();
      list.GetItem(i)->GetWriteValue().ToVARIANT(values_.back());
    }
  }
  ~IORequest() {
    for (VARIANT& value : values_) VariantClear(&value);
  }
  IORequest(const IORequest&) = delete;
  IORequest& operator=(const IORequest&) = delete;

  DWORD Count() const { return static_cast<DWORD>(handles_.size()); }
  OPCHANDLE* Handles() { return handles_.data(); }
  VARIANT* Values() { return values_.data(); }

 private:
  std::vector<OPCHANDLE> handles_;
  std::vector<VARIANT> values_;
};

// The item states of a synchronous read, values cleared with the array.
class ItemStates {
 public:
  explicit ItemStates(DWORD count) : count_(count) {}
  ~ItemStates() {
    for (DWORD i = 0; states_ && i < count_; ++i) VariantClear(&states_[i].vDataValue);
  }
  ItemStates(const ItemStates&) = delete;
  ItemStates& operator=(const ItemStates&) = delete;
  OPCITEMSTATE** Put() { return states_.Put(); }
  OPCITEMSTATE* Get() const { return states_.Get(); }

 private:
  DWORD count_;
  com::TaskPtr<OPCITEMSTATE> states_;
};

// A failed item of a write or asynchronous read: its value is no good.
void MarkBad(TXeloItem& item) { item.StoreQuality(0); }

}  // namespace

TXeloItemList* TXeloGroup::PrepareIO(TXeloItemList* list, bool hasInterface,
                                     std::unique_ptr<TXeloItemList>& built) const {
  // While the connection is lost the group is off the server: say so
  // rather than doing nothing.
  if (server_ != nullptr && server_->GetConnectionLost()) {
    server_->Fault(_STR_CONNECTIONLOST);
    return nullptr;
  }
  if (!hasInterface) return nullptr;
  TXeloItemList* items = ListOrAllItems(list, *opcItems_, built);
  items->CheckAllActiveOnServer();
  return items->GetCount() > 0 ? items : nullptr;
}

DWORD TXeloGroup::StartTransaction() {
  if (++transactionCounter == 0) ++transactionCounter;  // 0 means "none pending"
  return transactionCounter;
}

HRESULT TXeloGroup::StartDA2Call(DWORD transaction, bool forgetPending,
                                 const std::function<HRESULT(DWORD* cancelId)>& call) {
  const DWORD previousTask = taskId_;
  const DWORD previousTransaction = transactionId_;
  if (forgetPending) taskId_ = 0;
  // Pending before the call: a server may complete it before it returns.
  transactionId_ = transaction;
  DWORD cancelId = 0;
  const HRESULT hr = call(&cancelId);
  if (FAILED(hr)) {
    taskId_ = forgetPending ? 0 : previousTask;
    transactionId_ = forgetPending ? 0 : previousTransaction;
  } else if (transactionId_ == transaction) {
    taskId_ = cancelId;  // still open: this is what a cancellation needs
  }
  return hr;
}

void TXeloGroup::TransactionCompleted(DWORD id) {
  const DWORD pending = transactionId_ != 0 ? transactionId_ : taskId_;
  if (pending == 0 || id != pending) return;
  taskId_ = 0;
  transactionId_ = 0;
}

bool TXeloGroup::SyncWrite(TXeloItemList* List) {
  std::unique_ptr<TXeloItemList> built;
  TXeloItemList* list = PrepareIO(List, static_cast<bool>(syncIO_), built);
  if (list == nullptr) return false;
  IORequest request(*list, true);
  com::TaskPtr<HRESULT> errors;
  const HRESULT hr = syncIO_->Write(request.Count(), request.Handles(), request.Values(), errors.Put());
  CheckResult(hr);
  return detail::ApplyItemCodes(*list, errors.Get(), hr, [](TXeloItem&, std::size_t) {}, MarkBad);
}

bool TXeloGroup::AsyncWrite(TXeloItemList* List) {
  std::unique_ptr<TXeloItemList> built;
  TXeloItemList* list = PrepareIO(List, asyncIO2_ || asyncIO_, built);
  if (list == nullptr) return false;
  const DWORD transaction = StartTransaction();
  IORequest request(*list, true);
  com::TaskPtr<HRESULT> errors;
  HRESULT hr;
  if (asyncIO2_) {
    hr = StartDA2Call(transaction, true, [&](DWORD* cancelId) {
      return asyncIO2_->Write(request.Count(), request.Handles(), request.Values(), transaction, cancelId,
                              errors.Put());
    });
  } else {
    taskId_ = 0;
    hr = asyncIO_->Write(AdviseConnection(), request.Count(), request.Handles(), request.Values(), &taskId_,
                         errors.Put());
  }
  CheckResult(hr);
  return detail::ApplyItemCodes(*list, errors.Get(), hr, [](TXeloItem&, std::size_t) {}, MarkBad);
}

bool TXeloGroup::SyncRead(TXeloItemList* List, bool FromCache) {
  std::unique_ptr<TXeloItemList> built;
  TXeloItemList* list = PrepareIO(List, static_cast<bool>(syncIO_), built);
  if (list == nullptr) return false;
  IORequest request(*list, false);
  ItemStates states(request.Count());
  com::TaskPtr<HRESULT> errors;
  const HRESULT hr = syncIO_->Read(DataSource(FromCache), request.Count(), request.Handles(), states.Put(),
                                   errors.Put());
  CheckResult(hr);
  OPCITEMSTATE* state = states.Get();
  // Without its states a server has read nothing, whatever it claims.
  const HRESULT missing = state == nullptr ? E_FAIL : hr;
  return detail::ApplyItemCodes(
      *list, state != nullptr ? errors.Get() : nullptr, missing,
      [state](TXeloItem& item, std::size_t i) {
        // Matched by position: the client handle in the state is the
        // server's word, the position is ours.
        item.StoreQuality(state[i].wQuality);
        item.ValueRef() = TakeReturnedValue(state[i].vDataValue);
        item.StoreTimeStamp(state[i].ftTimeStamp);
      },
      MarkBad);
}

bool TXeloGroup::AsyncRead(TXeloItemList* List) {
  std::unique_ptr<TXeloItemList> built;
  TXeloItemList* list = PrepareIO(List, asyncIO2_ || asyncIO_, built);
  if (list == nullptr) return false;
  const DWORD transaction = StartTransaction();
  IORequest request(*list, false);
  com::TaskPtr<HRESULT> errors;
  HRESULT hr;
  if (asyncIO2_) {
    hr = StartDA2Call(transaction, true, [&](DWORD* cancelId) {
      return asyncIO2_->Read(request.Count(), request.Handles(), transaction, cancelId, errors.Put());
    });
  } else {
    taskId_ = 0;
    hr = asyncIO_->Read(AdviseConnection(), OPC_DS_DEVICE, request.Count(), request.Handles(), &taskId_,
                        errors.Put());
  }
  CheckResult(hr);
  return detail::ApplyItemCodes(*list, errors.Get(), hr, [](TXeloItem&, std::size_t) {}, MarkBad);
}

void TXeloGroup::Refresh(bool FromCache) {
  if (server_ != nullptr && server_->GetConnectionLost()) {
    server_->Fault(_STR_CONNECTIONLOST);
    return;
  }
  if (!asyncIO2_ && !asyncIO_) return;
  const DWORD transaction = StartTransaction();
  HRESULT hr;
  if (asyncIO2_) {
    hr = StartDA2Call(transaction, false, [&](DWORD* cancelId) {
      return asyncIO2_->Refresh2(DataSource(FromCache), transaction, cancelId);
    });
  } else {
    hr = asyncIO_->Refresh(AdviseConnection(), DataSource(FromCache), &taskId_);
  }
  CheckResult(hr);
}

void TXeloGroup::CancelLastAsyncCall() {
  const DWORD pending = taskId_;
  // Nothing stays pending, whether the server accepts the cancellation or
  // not.
  taskId_ = 0;
  transactionId_ = 0;
  if (pending == 0) return;
  if (asyncIO2_) {
    CheckResult(asyncIO2_->Cancel2(pending));
  } else if (asyncIO_) {
    CheckResult(asyncIO_->Cancel(pending));
  }
}

}  // namespace xelo
