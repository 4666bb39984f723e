// The strict ownership mode of the simulation server: catching a client
// that breaks COM's ownership rule. A callee never frees or changes what
// it was lent (the [in] arguments of our callbacks, checked by LoanCheck)
// and frees, right after use, what it was handed (the [out] arrays and
// strings of our methods, recorded here).
//
// The [out] side: in strict mode every top-level block a method hands over
// (arrays, strings, and the strings those arrays own; not the BSTRs and
// SAFEARRAYs inside VARIANTs, which a client may keep) is recorded with
// the task allocator's serial number. At the next checkpoint (the start of
// a scheduled update cycle or asynchronous completion, which run from the
// message pump after the client's call has returned, or an explicit
// Checkpoint()) a recorded block that is still live was kept: a violation,
// and the block is filled with kKeptBlockByte so that a client that keeps
// reading it reads garbage.
//
// A violation is recorded, written to stderr at once, and (when the mode
// was switched on by the environment variable XELO_SIM_STRICT=1, for whole
// processes such as the xelo tool) aborts the process after printing.
// Switched on through SetStrict() it is only recorded, so that a test can
// look at it.
//
// Strict mode keeps the task allocator's block tracking on. Main thread
// only, like the rest of the server.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace xelo::sim {

class OwnershipLedger {
 public:
  static constexpr unsigned char kKeptBlockByte = 0xDD;

  static OwnershipLedger& Instance();

  bool Strict() const { return strict_; }
  // Switches strict mode (and the allocator's tracking) on or off;
  // violations are recorded, never fatal. Off forgets the [out] records.
  void SetStrict(bool on);

  // The COM method a client called last: the one whose [out] blocks
  // HandedOver() records next.
  void Calling(std::string_view method) { method_ = method; }
  const std::string& CurrentMethod() const { return method_; }
  // Records a task block that `method` hands over as `argument` ("*ppErrors",
  // "(*ppDescriptions)[2]"). Nothing happens outside strict mode or for a
  // block the allocator does not track.
  void HandedOver(const void* block, std::string_view method, std::string argument);
  // Every recorded block still live is reported and poisoned; the records
  // are forgotten either way.
  void Checkpoint();

  // Records `text` ("<method>: the client ..."), prints it, and aborts when
  // the environment asked for that.
  void Report(std::string text);
  const std::vector<std::string>& Violations() const { return violations_; }
  // Forgets the violations and the [out] records; the mode stays.
  void Reset();

 private:
  OwnershipLedger();

  struct Record {
    const void* block;
    std::uint64_t serial;
    std::string method;
    std::string argument;
  };

  bool strict_ = false;
  bool abortOnViolation_ = false;
  std::string method_;
  std::vector<Record> handedOver_;
  std::vector<std::string> violations_;
};

}  // namespace xelo::sim
