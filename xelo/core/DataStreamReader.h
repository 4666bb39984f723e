// Decoding of the data blocks an OPC DA 1.0 group hands to
// IAdviseSink::OnDataChange in the formats "OPCSTMFORMATDATATIME" (item
// headers with time stamps) and "OPCSTMFORMATDATA" (without).
//
// Block layout, little-endian, offsets from the start of the block:
//   0   group header, 20 bytes: dwSize, dwItemCount, hClientGroup,
//       dwTransactionID, hrStatus
//   20  dwItemCount item headers back to back, 20 bytes each with time
//       stamps (hClient, dwValueOffset, wQuality, wReserved, FILETIME),
//       12 bytes each without
//   at each dwValueOffset: a VARIANT in the 16-byte layout of 32-bit COM,
//       followed, for a string, by a DWORD byte count, the UTF-16 characters
//       and a 2-byte NUL, and for an array, by a 24-byte one-dimensional
//       SAFEARRAY descriptor (32-bit layout) and the elements: fixed-size
//       ones packed, strings each as count + characters + NUL, VARIANT
//       elements each as a complete value of this layout.
//
// The block comes from the server, in general another process, and is
// treated as untrusted input: every count, offset and length is checked
// against the block before anything is read, and a block that contradicts
// itself is rejected as a whole. Nothing pointer-valued in the block (the
// VARIANT's string or array pointer, pvData) is ever followed or freed;
// strings and arrays are rebuilt from the bytes stored after their VARIANT.
//
// Contract: a pure function without state; any thread. The result owns its
// values (xelo::Variant clears each exactly once). The block is only read.
#pragma once

#include "xelo/com/Variant.h"
#include "xelo/com/WinTypes.h"
#include "xelo/framework/Variant.h"
#include "xelo/opc/OpcTypes.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace xelo {

// One item of a data block, as the server sent it.
struct StreamItem {
  OPCHANDLE hClient = 0;
  // The full quality word; masking is up to the receiver.
  WORD quality = 0;
  // Only set when the block has time stamps (hasTimeStamp); zero otherwise.
  FILETIME timeStamp{0, 0};
  bool hasTimeStamp = false;
  // The rebuilt value: scalars as sent (a VT_BOOL other than 0 becomes
  // VARIANT_TRUE), strings as new BSTRs, arrays as new one-dimensional
  // SAFEARRAYs with the sent lower bound. A value that only a pointer into
  // the server's memory could carry (VT_UNKNOWN, VT_DISPATCH, any VT_BYREF)
  // arrives as VT_EMPTY: it cannot cross a process boundary, and the rest
  // of the block is still good.
  Variant value;
};

// The decoded block.
struct StreamBlock {
  OPCHANDLE clientGroup = 0;
  DWORD transactionId = 0;  // 0 for subscription updates
  HRESULT status = 0;
  // Empty when `status` is a failure code: such a block says the server
  // could not deliver values, so only its header is read (the transaction id
  // still completes an outstanding request). Otherwise one entry per item
  // header, in block order.
  std::vector<StreamItem> items;
};

// How many array levels a value may nest (an array of VARIANTs holding
// arrays of VARIANTs ...). The top-level array is level 1. Deeper nesting
// rejects the block: it only costs stack and no server needs it.
inline constexpr int kMaxStreamArrayNesting = 8;

// Decodes the block of `size` bytes at `data` (`withTimeStamps`: the format
// is "OPCSTMFORMATDATATIME"). nullopt for a block that cannot be read
// soundly:
// - shorter than its 20-byte header, or a dwSize below 20 (a dwSize above
//   `size` is not believed: only `size` bytes are read; bytes beyond a
//   smaller dwSize are not part of the block);
// - a negative item count (the count is a signed 32-bit number), or item
//   headers reaching past the end;
// - a value offset inside the headers, or a value, string or array reaching
//   past the end; a string with an odd byte count or without its NUL;
// - a type code that cannot stand in a VARIANT; an array with other than one
//   dimension, an element size that does not match its type, a bound beyond
//   32 bits, elements of interface type or more than
//   kMaxStreamArrayNesting levels; a DECIMAL with a scale above 28 or an
//   invalid sign;
// - items sharing stored string or array data so that the decoded data
//   would exceed the size of the block (a small block must not be able to
//   make us allocate without bound).
// With a failure hrStatus only the header must be sound (see StreamBlock).
// Raises nothing but std::bad_alloc; a rejected block leaves nothing
// allocated.
std::optional<StreamBlock> ReadDataStream(const std::uint8_t* data, std::size_t size, bool withTimeStamps);

}  // namespace xelo
