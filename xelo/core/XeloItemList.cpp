#include "xelo/core/XeloItemList.h"

#include "xelo/core/XeloErrors.h"
#include "xelo/core/XeloItem.h"
#include "xelo/core/XeloItems.h"
#include "xelo/core/XeloStrings.h"
#include "xelo/framework/Application.h"
#include "xelo/framework/SysUtils.h"

namespace xelo {

namespace {
// A report of thousands of failed items would be unreadable in a message
// box; the first ones tell the story.
constexpr int kMaxListedFailures = 26;
constexpr char kLineBreak[] = "\r\n";
}  // namespace

std::string ItemErrorText(HRESULT code) {
  if (code == 0) return {};
  std::string text = GetOPCErrorMessage(code);
  if (Trim(text).empty()) text = Format(_STR_UNKNOWN, code);
  return text;
}

TXeloItemList::TXeloItemList(const TXeloItems& items) {
  SetCapacity(items.GetCount());
  for (int i = 0; i < items.GetCount(); ++i) Add(items.GetItem(i));
}

TXeloItemList::TXeloItemList(TXeloItem* item) { Add(item); }

void TXeloItemList::CheckOPCErrors(const std::string& Msg, bool RaiseIt) const {
  std::string text = Msg + kLineBreak;
  int failed = 0;
  for (int i = 0; i < GetCount(); ++i) {
    const TXeloItem* item = GetItem(i);
    if (item->GetLastError() == 0) continue;
    if (failed < kMaxListedFailures) {
      text += item->GetItemID();
      text += "- ";
      text += ItemErrorText(item->GetLastError());
      text += kLineBreak;
    }
    ++failed;
  }
  if (failed == 0) return;
  if (RaiseIt) throw EOPCException(text);
  ShowMessage(text);
}

void TXeloItemList::CheckAllActiveOnServer() const {
  for (int i = 0; i < GetCount(); ++i) {
    const TXeloItem* item = GetItem(i);
    if (!item->IsOnServer()) throw EOPCException(Format(_STR_NOSERVERHANDLE, item->GetItemID()));
  }
}

}  // namespace xelo
