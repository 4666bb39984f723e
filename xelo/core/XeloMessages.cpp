#include "xelo/core/XeloMessages.h"

#include "xelo/framework/MessageWindow.h"

#include <memory>

namespace xelo {

void PostItems(HWND window, UINT msg, WPARAM wParam, TPostedItems items) {
  auto payload = std::make_unique<TPostedItems>(std::move(items));
  TPostedItems* raw = payload.release();
  // Exactly one of the window procedure and the discard action frees it.
  PostMessage(window, msg, wParam, reinterpret_cast<LPARAM>(raw), [raw] { delete raw; });
}

}  // namespace xelo
