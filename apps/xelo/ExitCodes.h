// What `xelo` tells the shell. Scripts branch on these, so they never
// change meaning; a server's result code is never passed through as one.
#pragma once

#include <stdexcept>
#include <string>

namespace xelo::cli {

inline constexpr int kExitOk = 0;           // everything asked for was done
inline constexpr int kExitFailure = 1;      // no server, unreadable file, shut down by the server, ...
inline constexpr int kExitUsage = 2;        // the command line itself is wrong
inline constexpr int kExitItemsFailed = 3;  // the command ran, but some items failed
inline constexpr int kExitConnectionLost = 4;  // watch, run: the server was lost (and did not come back)

// A command line that parses but asks for something impossible (no items,
// an ITEM=VALUE without "=", an unknown type name). Reported like CLI11's
// own parse errors, with exit code 2.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A failure of the run itself (exit code 1), with a text that says what
// the user tried: "cannot connect to X: ...".
class RuntimeFailure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The connection to the server was lost while watching, and did not come
// back in time (exit code 4).
class ConnectionLost : public RuntimeFailure {
 public:
  using RuntimeFailure::RuntimeFailure;
};

}  // namespace xelo::cli
