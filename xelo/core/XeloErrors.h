// OPC result codes as texts and as exceptions.
//
// Contract: pure functions without state; callable from any thread.
#pragma once

#include "xelo/framework/Exceptions.h"

#include <cstdint>
#include <string>

namespace xelo {

// The library's own error: carries only its message text, never a result
// code. Constructed from the finished message, e.g.
//   throw EOPCException(Format(_STR_GROUPEXITS, name));
class EOPCException : public Exception {
 public:
  using Exception::Exception;
};

// The English text of an OPC Data Access or Alarms & Events result code, or
// the empty text for a code this library has no text for (success and
// failure codes alike, 0 included). Codes are compared as exact 32-bit
// values. Two-line texts are joined by "\r\n". Never raises (except
// std::bad_alloc).
std::string GetOPCErrorMessage(std::int32_t code);

// Returns for every success code (code >= 0), including those with a text
// such as the clamp notice. For a failure code it does not return:
//   - a code with a text of GetOPCErrorMessage raises EOPCException with
//     exactly that text;
//   - any other code raises EOleSysError (OleError) carrying the code, with
//     the platform's message text for it.
void OPCCheck(std::int32_t code);

// True for the codes with which a call tells that the server cannot be
// reached any more: its process died, the call could not be delivered, or
// the object was disconnected (RPC_S_SERVER_UNAVAILABLE,
// RPC_S_CALL_FAILED, RPC_E_DISCONNECTED, RPC_E_SERVER_DIED,
// RPC_E_SERVER_DIED_DNE). A server that answers with any other failure is
// still there.
bool IsConnectionFailure(std::int32_t code) noexcept;

}  // namespace xelo
