// The messages the callback sinks post to a server component's hidden
// window, so that what a server reports reaches the application on its own
// thread, after the server's call has returned.
//
//   CM_OPCSHUTDOWN       wParam 0, lParam 0
//   CM_OPCDATACHANGE     wParam the group's client handle (its ID),
//                        lParam a TPostedItems*
//   CM_OPCWRITEERROR     wParam 0, lParam a TPostedItems*
//   CM_OPCWRITECOMPLETE  wParam 0, lParam a TPostedItems*
//   CM_OPCCONNECTIONLOST wParam 0, lParam 0 (the component keeps the error)
//
// The payload names the items by their client handles, not by address: an
// item destroyed between the callback and the handling of the message is
// then simply left out of the event's list instead of being handed to the
// application as freed memory. The message owns its payload: the receiving
// handler frees it, and a message that is never delivered (its window went
// away first) frees it unread.
#pragma once

#include "xelo/core/RecyclingPool.h"
#include "xelo/framework/Messages.h"
#include "xelo/opc/OpcTypes.h"

#include <vector>

namespace xelo {

inline constexpr UINT CM_OPCSHUTDOWN = WM_USER + 1;
inline constexpr UINT CM_OPCDATACHANGE = WM_USER + 2;
inline constexpr UINT CM_OPCWRITEERROR = WM_USER + 3;
inline constexpr UINT CM_OPCWRITECOMPLETE = WM_USER + 4;
inline constexpr UINT CM_OPCCONNECTIONLOST = WM_USER + 5;

// The items of one callback, in callback order.
struct TPostedItems {
  std::vector<OPCHANDLE> ClientHandles;
};
inline void ClearForReuse(TPostedItems& items) noexcept { items.ClientHandles.clear(); }

// A payload that goes back to a pool of payloads when it is done with, so
// that a steady stream of callbacks reuses their memory.
using TPostedItemsPtr = RecyclingPool<TPostedItems>::Ptr;

// An empty payload (its memory from an earlier one, when one waits).
TPostedItemsPtr NewPostedItems();
// Posts `items` to `window`; the message owns them from here on, also when
// the post fails.
void PostItems(HWND window, UINT msg, WPARAM wParam, TPostedItemsPtr items);
// The payload of a CM_OPCDATACHANGE, CM_OPCWRITEERROR or CM_OPCWRITECOMPLETE
// message, for its handler to own.
TPostedItemsPtr TakePostedItems(LPARAM lParam);

}  // namespace xelo
