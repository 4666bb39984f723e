// Builds the OPC DA 1.0 data streams a group hands to
// IAdviseSink::OnDataChange, as one global memory block (HGLOBAL from
// GlobalAlloc; the caller frees it with GlobalFree after the sink returned).
//
// Data block ("OPCSTMFORMATDATATIME" / "OPCSTMFORMATDATA"), all integers
// little-endian, no padding anywhere:
//
//   offset 0   OPCGROUPHEADER (20 bytes)
//                dwSize          total bytes of the block
//                dwItemCount     number of items
//                hClientGroup    the client's group handle
//                dwTransactionID 0 for subscription updates, else the id
//                                IOPCAsyncIO handed out
//                hrStatus        S_OK when every item's quality is GOOD,
//                                else S_FALSE
//   offset 20  dwItemCount item headers, back to back:
//                OPCITEMHEADER1 (20 bytes, DATATIME): hClient,
//                  dwValueOffset, wQuality, wReserved = 0, ftTimeStampItem
//                OPCITEMHEADER2 (12 bytes, DATA): the same without the
//                  time stamp
//   then       the values, in item order, each starting exactly where the
//              previous one ended; dwValueOffset counts from the start of
//              the block. A value is
//                VARIANT in the 16-byte layout of 32-bit COM:
//                  +0 vt (WORD), +2 three reserved WORDs (0),
//                  +8 eight value bytes: the scalar in its natural size
//                     (1, 2, 4 or 8 bytes), the rest zero; for VT_BSTR and
//                     arrays (where it would be a pointer) all zero
//                VT_BSTR: then DWORD byte count (without terminator), the
//                  UTF-16 characters, a 2-byte NUL
//                VT_ARRAY|x: then a 24-byte one-dimensional SAFEARRAY
//                  descriptor in the 32-bit layout:
//                    +0 cDims (WORD) = 1, +2 fFeatures (WORD) = FADF_BSTR
//                    (0x100) for string arrays, FADF_VARIANT (0x800) for
//                    VARIANT arrays, else 0, +4 cbElements (DWORD, the
//                    element size in 32-bit COM: 4 for a BSTR, 16 for a
//                    VARIANT), +8 cLocks = 0, +12 pvData = 0 (4 bytes),
//                    +16 cElements, +20 lLbound
//                  then the elements: fixed-size types as cElements x
//                  cbElements bytes; BSTR elements each as DWORD byte count
//                  + characters + 2-byte NUL; VARIANT elements each as a
//                  complete value as described here (recursively)
//
// Write-complete block ("OPCSTMFORMATWRITECOMPLETE"): OPCGROUPHEADERWRITE
// (16 bytes: dwItemCount, hClientGroup, dwTransactionID, hrStatus = S_OK
// when every dwError is S_OK, else S_FALSE) and dwItemCount
// OPCITEMHEADERWRITE (8 bytes: hClient, dwError).
#pragma once

#include "xelo/com/GlobalMemory.h"
#include "xelo/com/Variant.h"
#include "xelo/opc/OpcTypes.h"

#include <utility>
#include <vector>

namespace xelo::sim {

class StreamWriter {
 public:
  struct Item {
    OPCHANDLE clientHandle;
    const VARIANT* value;  // not owned
    WORD quality;
    FILETIME timestamp;
  };

  // The block bytes; DataBlock/WriteCompleteBlock copy them into an HGLOBAL
  // (null when out of memory).
  static std::vector<BYTE> DataBytes(bool withTime, OPCHANDLE clientGroup, DWORD transactionId,
                                     const std::vector<Item>& items);
  static std::vector<BYTE> WriteCompleteBytes(OPCHANDLE clientGroup, DWORD transactionId,
                                              const std::vector<std::pair<OPCHANDLE, HRESULT>>& results);
  static HGLOBAL ToGlobal(const std::vector<BYTE>& bytes);

  // One value in the layout above, appended to `out`.
  static void AppendValue(std::vector<BYTE>& out, const VARIANT& value);
};

}  // namespace xelo::sim
