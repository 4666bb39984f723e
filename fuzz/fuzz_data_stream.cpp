// Data blocks arrive from OPC DA 1.0 servers, in general from another
// process: whatever the bytes, decoding must return a block or nothing,
// never read outside them, and leave nothing allocated once the result is
// gone. A block that decodes must also survive the trip through the
// server's own writer: written back and read again, it writes the same
// bytes (the first trip may normalise, e.g. a true that was not -1).
#include "servers/simulation/StreamWriter.h"
#include "xelo/com/TaskMemory.h"
#include "xelo/core/DataStreamReader.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

// The simulation server's writer leaves out the elements of DECIMAL
// arrays, so values holding one cannot make the round trip.
bool HasDecimalArray(const VARIANT& v) {
  if (v.vt == (VT_ARRAY | VT_DECIMAL)) return true;
  if (v.vt != (VT_ARRAY | VT_VARIANT) || v.parray == nullptr) return false;
  const auto* elements = static_cast<const VARIANT*>(v.parray->pvData);
  for (ULONG i = 0; i < v.parray->rgsabound[0].cElements; ++i) {
    if (HasDecimalArray(elements[i])) return true;
  }
  return false;
}

std::vector<BYTE> Write(const xelo::StreamBlock& block, bool withTime) {
  std::vector<xelo::sim::StreamWriter::Item> items;
  for (const auto& item : block.items) {
    items.push_back({item.hClient, &item.value.AsVARIANT(), item.quality, item.timeStamp});
  }
  return xelo::sim::StreamWriter::DataBytes(withTime, block.clientGroup, block.transactionId, items);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto before = xelo::com::LiveAllocations();
  for (const bool withTime : {true, false}) {
    const auto block = xelo::ReadDataStream(data, size, withTime);
    if (!block) continue;
    bool writable = true;
    for (const auto& item : block->items) writable = writable && !HasDecimalArray(item.value.AsVARIANT());
    if (!writable) continue;
    const std::vector<BYTE> written = Write(*block, withTime);
    const auto again = xelo::ReadDataStream(written.data(), written.size(), withTime);
    if (!again || Write(*again, withTime) != written) std::abort();
  }
  if (!(xelo::com::LiveAllocations() == before)) std::abort();
  return 0;
}
