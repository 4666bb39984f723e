#include "xelo/core/XeloMessages.h"

#include "xelo/framework/MessageWindow.h"

namespace xelo {

namespace {

RecyclingPool<TPostedItems>& Pool() { return RecyclingPool<TPostedItems>::Instance(); }

}  // namespace

TPostedItemsPtr NewPostedItems() { return Pool().Take(); }

void PostItems(HWND window, UINT msg, WPARAM wParam, TPostedItemsPtr items) {
  TPostedItems* raw = items.release();
  // Exactly one of the window procedure and the discard action owns it.
  PostMessage(window, msg, wParam, reinterpret_cast<LPARAM>(raw), [raw] { Pool().Give(raw); });
}

TPostedItemsPtr TakePostedItems(LPARAM lParam) {
  return TPostedItemsPtr(reinterpret_cast<TPostedItems*>(lParam), RecyclingPool<TPostedItems>::GiveBack{&Pool()});
}

}  // namespace xelo
