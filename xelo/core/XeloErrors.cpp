#include "xelo/core/XeloErrors.h"

#include "xelo/opc/OpcError.h"

#include <array>
#include <string_view>

namespace xelo {

namespace {

struct CodeText {
  HRESULT code;
  std::string_view text;
};

// The texts are English sentences of our own, not the platform's message
// table: applications compare and show them, so they must not change with
// the platform. Where a text has two lines, the break is CR LF, as message
// boxes on the original platform expect. Full stops are deliberate, also
// where they are missing.
constexpr std::array<CodeText, 22> kCodeTexts{{
    {OPC_E_INVALIDHANDLE, "The value of the handle is invalid."},
    {OPC_E_BADTYPE,
     "The server cannot convert the data between the\r\n"
     "requested data type and the canonical data"},
    {OPC_E_PUBLIC, "The requested operation cannot be done on a public group."},
    {OPC_E_BADRIGHTS, "The Items AccessRights do not allow the operation."},
    {OPC_E_UNKNOWNITEMID, "The item is no longer available in the server address space."},
    {OPC_E_INVALIDITEMID, "The item definition doesn't conform to the server's syntax."},
    {OPC_E_INVALIDFILTER, "The filter string was not valid"},
    {OPC_E_UNKNOWNPATH, "The item's access path is not known to the server."},
    {OPC_E_RANGE, "The value was out of range."},
    {OPC_E_DUPLICATENAME, "Duplicate name not allowed."},
    {OPC_S_UNSUPPORTEDRATE,
     "The server does not support the requested data rate\r\n"
     "but will use the closest available rate."},
    {OPC_S_CLAMP, "A value passed to WRITE was accepted but the output was clamped."},
    {OPC_S_INUSE,
     "The operation cannot be completed because the\r\n"
     "object still has references that exist."},
    {OPC_E_INVALIDCONFIGFILE, "The server's configuration file is an invalid format."},
    {OPC_E_NOTFOUND, "The server could not locate the requested object."},
    {OPC_E_INVALID_PID, "The server does not recognise the passed property ID."},
    {OPC_S_ALREADYACKED, "The condition has already been acknowleged"},
    {OPC_S_INVALIDBUFFERTIME, "The buffer time parameter was invalid"},
    {OPC_S_INVALIDMAXSIZE, "The max size parameter was invalid"},
    // Both Alarms & Events codes get the busy text: servers in the field
    // hand back either for a refresh that is still running.
    {OPC_E_INVALIDTIME, "A refresh is currently in progress"},
    {OPC_E_BUSY, "A refresh is currently in progress"},
    {OPC_E_NOINFO, "Information is not available"},
}};

}  // namespace

std::string GetOPCErrorMessage(std::int32_t code) {
  for (const CodeText& entry : kCodeTexts) {
    if (entry.code == code) return std::string(entry.text);
  }
  return std::string();
}

void OPCCheck(std::int32_t code) {
  if (code >= 0) return;
  std::string text = GetOPCErrorMessage(code);
  if (!text.empty()) throw EOPCException(std::move(text));
  // A code we have no text for still has to reach the caller with the code
  // itself, so that it can be told apart (and looked up) programmatically.
  OleError(code);
}

bool IsConnectionFailure(std::int32_t code) noexcept {
  // As 32-bit patterns: the SDK spells some as Win32 numbers, some as
  // HRESULTs, and not every SDK has the last two.
  switch (static_cast<std::uint32_t>(code)) {
    case 0x800706BAu:  // HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE)
    case 0x800706BEu:  // HRESULT_FROM_WIN32(RPC_S_CALL_FAILED)
    case 0x80010108u:  // RPC_E_DISCONNECTED
    case 0x80010007u:  // RPC_E_SERVER_DIED
    case 0x80010012u:  // RPC_E_SERVER_DIED_DNE
      return true;
    default:
      return false;
  }
}

}  // namespace xelo
