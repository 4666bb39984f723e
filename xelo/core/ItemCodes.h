// Internal to the core: how the per-item result codes of one server call
// land in the items of the list the call was made for.
#pragma once

#include "xelo/core/XeloItem.h"
#include "xelo/core/XeloItemList.h"

#include <cstddef>

namespace xelo::detail {

// For each entry i: a success code runs succeeded(item, i) and sets
// LastError 0; a failure code runs failed(item) and sets LastError to the
// code. A server that answered without its error array gives every entry
// the code of the call itself. True when no entry failed.
template <class OnSuccess, class OnFailure>
bool ApplyItemCodes(const TXeloItemList& list, const HRESULT* errors, HRESULT callResult, OnSuccess succeeded,
                    OnFailure failed) {
  int failures = 0;
  std::size_t i = 0;
  for (TXeloItem* entry : list.Entries()) {
    TXeloItem& item = *entry;
    const HRESULT code = errors != nullptr ? errors[i] : callResult;
    if (SUCCEEDED(code)) {
      succeeded(item, i);
      item.SetLastError(0);
    } else {
      failed(item);
      item.SetLastError(code);
      ++failures;
    }
    ++i;
  }
  return failures == 0;
}

template <class OnSuccess>
bool ApplyItemCodes(const TXeloItemList& list, const HRESULT* errors, HRESULT callResult, OnSuccess succeeded) {
  return ApplyItemCodes(list, errors, callResult, succeeded, [](TXeloItem&) {});
}

}  // namespace xelo::detail
