#include "xelo/com/HResult.h"

#if XELO_COM_NATIVE
#include "xelo/com/WideText.h"
#endif

#include <array>
#include <cstdio>
#include <utility>

namespace xelo::com {
namespace {

struct MessageEntry {
  std::uint32_t code;
  const char* text;
};

// The message tables this platform knows: the COM and Win32 codes that COM
// calls return, and the OPC Data Access codes (as an installed OPC core
// component would register them). Texts are the current English wording.
constexpr std::array kMessages{
    MessageEntry{0x00000000, "The operation completed successfully."},
    MessageEntry{0x00000001, "Incorrect function."},
    MessageEntry{0x8000FFFF, "Catastrophic failure"},
    MessageEntry{0x80004001, "Not implemented"},
    MessageEntry{0x80004002, "No such interface supported"},
    MessageEntry{0x80004003, "Invalid pointer"},
    MessageEntry{0x80004004, "Operation aborted"},
    MessageEntry{0x80004005, "Unspecified error"},
    MessageEntry{0x80070005, "Access is denied."},
    MessageEntry{0x80070006, "The handle is invalid."},
    MessageEntry{0x8007000E,
                 "Not enough memory resources are available to complete this operation."},
    MessageEntry{0x80070057, "The parameter is incorrect."},
    MessageEntry{0x800706BA, "The RPC server is unavailable."},
    MessageEntry{0x800706BE, "The remote procedure call failed."},
    MessageEntry{0x80040003, "This implementation doesn't take advises"},
    MessageEntry{0x80040004, "There is no connection for this connection ID"},
    MessageEntry{0x80040064, "Invalid FORMATETC structure"},
    MessageEntry{0x80040069, "Invalid tymed"},
    MessageEntry{0x80040110, "Class does not support aggregation (or class object is remote)"},
    MessageEntry{0x80040111, "ClassFactory cannot supply requested class"},
    MessageEntry{0x80040154, "Class not registered"},
    MessageEntry{0x800401F0, "CoInitialize has not been called."},
    MessageEntry{0x800401F3, "Invalid class string"},
    MessageEntry{0x80040200, "There is no connection for this connection ID"},
    MessageEntry{0x80040201, "This implementation's limit for advisory connections has been reached"},
    MessageEntry{0x80040202, "Connection attempt failed"},
    MessageEntry{0x80040203, "Must use a derived interface to connect"},
    MessageEntry{0x80020005, "Type mismatch."},
    MessageEntry{0x80020008, "Bad variable type."},
    MessageEntry{0x8002000A, "Out of present range."},
    MessageEntry{0x8002000B, "Invalid index."},
    MessageEntry{0x8002000D, "Memory is locked."},
    MessageEntry{0x80010001, "Call was rejected by callee."},
    MessageEntry{0x80010105, "The server threw an exception."},
    MessageEntry{0x80010106, "Cannot change thread mode after it is set."},
    MessageEntry{0x80010108, "The object invoked has disconnected from its clients."},
    MessageEntry{0x80010119,
                 "Security must be initialized before any interfaces are marshalled or "
                 "unmarshalled. It cannot be changed once initialized."},
    MessageEntry{0x80080005, "Server execution failed"},
    // OPC Data Access
    MessageEntry{0xC0040001, "The value of the handle is invalid."},
    MessageEntry{0xC0040004,
                 "The server cannot convert the data between the specified format and/or "
                 "requested data type and the canonical data type."},
    MessageEntry{0xC0040005, "The requested operation cannot be done on a public group."},
    MessageEntry{0xC0040006, "The item's access rights do not allow the operation."},
    MessageEntry{0xC0040007,
                 "The item ID is not defined in the server address space or no longer exists "
                 "in the server address space."},
    MessageEntry{0xC0040008, "The item ID does not conform to the server's syntax."},
    MessageEntry{0xC0040009, "The filter string was not valid."},
    MessageEntry{0xC004000A, "The item's access path is not known to the server."},
    MessageEntry{0xC004000B, "The value was out of range."},
    MessageEntry{0xC004000C, "Duplicate name not allowed."},
    MessageEntry{0x0004000D,
                 "The server does not support the requested data rate but will use the "
                 "closest available rate."},
    MessageEntry{0x0004000E, "A value passed to write was accepted but the output was clamped."},
    MessageEntry{0x0004000F,
                 "The operation cannot be performed because the object is being referenced."},
    MessageEntry{0xC0040010, "The server's configuration file is an invalid format."},
    MessageEntry{0xC0040011, "The requested object (e.g. a public group) was not found."},
    MessageEntry{0xC0040203, "The specified property ID is not valid for the item."},
};

#if XELO_COM_NATIVE
// The system's own text, without the line end FormatMessage appends; empty
// when the system has none.
std::string FormatSystemMessage(HRESULT hr) {
  LPWSTR buffer = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      static_cast<DWORD>(hr), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPWSTR>(&buffer), 0,
      nullptr);
  if (length == 0 || buffer == nullptr) return {};
  std::wstring_view text(buffer, length);
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ')) {
    text.remove_suffix(1);
  }
  std::string utf8 = ToUtf8(text);
  LocalFree(buffer);
  return utf8;
}
#endif

}  // namespace

std::string KnownSystemMessageText(HRESULT hr) {
#if XELO_COM_NATIVE
  // Windows knows its own codes in the user's language; the table still
  // answers for the OPC codes, which only an installed OPC runtime's
  // message file would give.
  if (std::string text = FormatSystemMessage(hr); !text.empty()) return text;
#endif
  const auto code = static_cast<std::uint32_t>(hr);
  for (const auto& entry : kMessages) {
    if (entry.code == code) return entry.text;
  }
  return {};
}

std::string SystemMessageText(HRESULT hr) {
  std::string text = KnownSystemMessageText(hr);
  if (!text.empty()) return text;
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "Unknown error 0x%08X",
                static_cast<unsigned>(static_cast<std::uint32_t>(hr)));
  return buffer;
}

}  // namespace xelo::com
