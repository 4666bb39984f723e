// The server component's hidden window: where the callback sinks' posts
// become the application's events.
#include "xelo/core/XeloGroups.h"
#include "xelo/core/XeloItemList.h"
#include "xelo/core/RecyclingPool.h"
#include "xelo/core/XeloMessages.h"
#include "xelo/core/XeloServer.h"
#include "xelo/core/XeloStrings.h"
#include "xelo/framework/Application.h"
#include "xelo/framework/MessageWindow.h"

#include <memory>

namespace xelo {

// Empties a list for the pool and keeps its memory.
static void ClearForReuse(TXeloItemList& list) noexcept { list.SetCount(0); }

namespace {

// The event's list of a message's items that still exist; the list goes
// back to a pool when the handler is done with it, so that a steady stream
// of data changes allocates no lists.
using ItemListPtr = RecyclingPool<TXeloItemList>::Ptr;

RecyclingPool<TXeloItemList>& ListPool() { return RecyclingPool<TXeloItemList>::Instance(); }

ItemListPtr LiveItems(const TMessage& message) {
  const TPostedItemsPtr posted = TakePostedItems(message.LParam);
  ItemListPtr list = ListPool().Take();
  if (!posted) return list;
  const auto needed = static_cast<int>(posted->ClientHandles.size());
  if (needed > list->GetCapacity()) list->SetCapacity(needed);
  for (OPCHANDLE handle : posted->ClientHandles) {
    if (TXeloItem* item = FindItemByClientHandle(handle)) list->Add(item);
  }
  return list;
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
      case CM_OPCCONNECTIONLOST:
        CMOPCConnectionLost(Message);
        break;
      case WM_TIMER:
        OnWatchTimer(static_cast<UINT_PTR>(Message.WParam));
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

void TXeloServer::CMOPCShutDown(TMessage& Message) {
  if (onServerShutdown_) onServerShutdown_(this, "");
  if (autoReconnect_ && active_ && server_ && !connectionLost_) {
    // Handled here and now: this message is already off any call of the
    // server.
    connectionLost_ = true;
    lostError_ = RPC_E_DISCONNECTED;
    CMOPCConnectionLost(Message);
    return;
  }
  SetActive(false);
}

void TXeloServer::CMOPCDatachange(TMessage& Message) {
  const ItemListPtr list = LiveItems(Message);
  // A group removed after the post gets no event.
  if (opcGroups_->FindItemID(static_cast<int>(Message.WParam)) == nullptr) return;
  if (list->GetCount() > 0 && onDatachange_) onDatachange_(this, list.get());
}

void TXeloServer::CMOPCWriteError(TMessage& Message) {
  const ItemListPtr list = LiveItems(Message);
  if (onWriteError_) {
    onWriteError_(this, list.get());
  } else {
    list->CheckOPCErrors(_STR_WRITERROR, true);
  }
}

void TXeloServer::CMOPCWriteComplete(TMessage& Message) {
  const ItemListPtr list = LiveItems(Message);
  if (onWriteComplete_) onWriteComplete_(this, list.get());
}

}  // namespace xelo
