// The server component's hidden window: where the callback sinks' posts
// become the application's events.
#include "xelo/core/XeloGroups.h"
#include "xelo/core/XeloItemList.h"
#include "xelo/core/XeloMessages.h"
#include "xelo/core/XeloServer.h"
#include "xelo/core/XeloStrings.h"
#include "xelo/framework/Application.h"
#include "xelo/framework/MessageWindow.h"

#include <memory>

namespace xelo {

namespace {

// Takes the message's items over and lists those that still exist.
std::unique_ptr<TPostedItems> TakeItems(const TMessage& message) {
  return std::unique_ptr<TPostedItems>(reinterpret_cast<TPostedItems*>(message.LParam));
}

void ListLiveItems(const TPostedItems* posted, TXeloItemList& list) {
  if (posted == nullptr) return;
  list.SetCapacity(static_cast<int>(posted->ClientHandles.size()));
  for (OPCHANDLE handle : posted->ClientHandles) {
    if (TXeloItem* item = FindItemByClientHandle(handle)) list.Add(item);
  }
}

}  // namespace

HWND TXeloServer::GetHandle() {
  if (window_ == nullptr) window_ = AllocateHWnd([this](TMessage& message) { WndProc(message); });
  return window_;
}

void TXeloServer::WndProc(TMessage& Message) {
  try {
    if (Message.Msg == WM_QUERYENDSESSION) Message.Result = 1;  // never object to the session ending
    switch (Message.Msg) {
      case CM_OPCSHUTDOWN:
        CMOPCShutDown(Message);
        break;
      case CM_OPCDATACHANGE:
        CMOPCDatachange(Message);
        break;
      case CM_OPCWRITEERROR:
        CMOPCWriteError(Message);
        break;
      case CM_OPCWRITECOMPLETE:
        CMOPCWriteComplete(Message);
        break;
      default:
        break;
    }
  } catch (const std::exception& e) {
    Application().HandleException(e);
  } catch (...) {
    Application().HandleException(Exception("Unknown exception in an OPC event handler"));
  }
}

void TXeloServer::CMOPCShutDown(TMessage& /*Message*/) {
  if (onServerShutdown_) onServerShutdown_(this, "");
  SetActive(false);
}

void TXeloServer::CMOPCDatachange(TMessage& Message) {
  const std::unique_ptr<TPostedItems> posted = TakeItems(Message);
  TXeloItemList list;
  ListLiveItems(posted.get(), list);
  // A group removed after the post gets no event.
  if (opcGroups_->FindItemID(static_cast<int>(Message.WParam)) == nullptr) return;
  if (list.GetCount() > 0 && onDatachange_) onDatachange_(this, &list);
}

void TXeloServer::CMOPCWriteError(TMessage& Message) {
  const std::unique_ptr<TPostedItems> posted = TakeItems(Message);
  TXeloItemList list;
  ListLiveItems(posted.get(), list);
  if (onWriteError_) {
    onWriteError_(this, &list);
  } else {
    list.CheckOPCErrors(_STR_WRITERROR, true);
  }
}

void TXeloServer::CMOPCWriteComplete(TMessage& Message) {
  const std::unique_ptr<TPostedItems> posted = TakeItems(Message);
  TXeloItemList list;
  ListLiveItems(posted.get(), list);
  if (onWriteComplete_) onWriteComplete_(this, &list);
}

}  // namespace xelo
