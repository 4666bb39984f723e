#include "servers/simulation/OwnershipLedger.h"

#include "xelo/com/TaskMemory.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace xelo::sim {
namespace {

bool StrictFromEnvironment() {
  const char* value = std::getenv("XELO_SIM_STRICT");
  return value != nullptr && std::strcmp(value, "1") == 0;
}

}  // namespace

OwnershipLedger& OwnershipLedger::Instance() {
  // Never destroyed: clients may still free or be handed blocks while the
  // process exits.
  static auto* ledger = new OwnershipLedger();
  return *ledger;
}

OwnershipLedger::OwnershipLedger() {
  if (!StrictFromEnvironment()) return;
  strict_ = true;
  abortOnViolation_ = true;
  xelo::com::SetTaskBlockTracking(true);
}

void OwnershipLedger::SetStrict(bool on) {
  strict_ = on;
  abortOnViolation_ = false;
  xelo::com::SetTaskBlockTracking(on);
  if (!on) handedOver_.clear();
}

void OwnershipLedger::HandedOver(const void* block, std::string_view method, std::string argument) {
  if (!strict_ || block == nullptr) return;
  const auto tracked = xelo::com::FindTaskBlock(block);
  if (!tracked) return;
  handedOver_.push_back(Record{block, tracked->serial, std::string(method), std::move(argument)});
}

void OwnershipLedger::Checkpoint() {
  if (handedOver_.empty()) return;
  std::vector<Record> records = std::exchange(handedOver_, {});
  for (const Record& record : records) {
    if (!xelo::com::IsLiveTaskBlock(record.block, record.serial)) continue;
    Report(record.method + ": the client kept " + record.argument + ", an [out] buffer, past the checkpoint");
    if (const auto tracked = xelo::com::FindTaskBlock(record.block)) {
      std::memset(const_cast<void*>(tracked->start), kKeptBlockByte, tracked->size);
    }
  }
}

void OwnershipLedger::Report(std::string text) {
  std::fprintf(stderr, "xelo simulation server: ownership violation: %s\n", text.c_str());
  std::fflush(stderr);
  if (abortOnViolation_) std::abort();
  violations_.push_back(std::move(text));
}

void OwnershipLedger::Reset() {
  violations_.clear();
  handedOver_.clear();
}

}  // namespace xelo::sim
