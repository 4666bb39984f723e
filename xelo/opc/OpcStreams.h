// The data streams of OPC DA 1.0: what a group sends through
// IAdviseSink::OnDataChange in a global memory block, in one of three
// registered clipboard formats.
//
//   OPCSTMFORMATDATATIME      OPCGROUPHEADER, dwItemCount x OPCITEMHEADER1
//                             (with time stamps), then the values
//   OPCSTMFORMATDATA          OPCGROUPHEADER, dwItemCount x OPCITEMHEADER2
//                             (without), then the values
//   OPCSTMFORMATWRITECOMPLETE OPCGROUPHEADERWRITE, dwItemCount x
//                             OPCITEMHEADERWRITE
//
// Headers follow each other without gaps; an item's dwValueOffset counts
// from the start of the block. The values are VARIANTs in their 32-bit
// (16-byte) layout with the string or array data after them, so the value
// area is never read through this platform's VARIANT: a reader decodes it
// field by field. The headers themselves contain no pointers and have the
// same layout on every platform.
#pragma once

#include "xelo/com/WinTypes.h"
#include "xelo/opc/OpcTypes.h"

#include <cstddef>

struct OPCGROUPHEADER {
  DWORD dwSize;  // bytes of the whole block
  DWORD dwItemCount;
  OPCHANDLE hClientGroup;
  DWORD dwTransactionID;  // 0 for subscription updates
  HRESULT hrStatus;       // S_OK when every item is good, S_FALSE otherwise
};

struct OPCITEMHEADER1 {
  OPCHANDLE hClient;
  DWORD dwValueOffset;
  WORD wQuality;
  WORD wReserved;
  FILETIME ftTimeStampItem;
};

struct OPCITEMHEADER2 {
  OPCHANDLE hClient;
  DWORD dwValueOffset;
  WORD wQuality;
  WORD wReserved;
};

struct OPCGROUPHEADERWRITE {
  DWORD dwItemCount;
  OPCHANDLE hClientGroup;
  DWORD dwTransactionID;
  HRESULT hrStatus;
};

struct OPCITEMHEADERWRITE {
  OPCHANDLE hClient;
  HRESULT dwError;
};

static_assert(sizeof(OPCGROUPHEADER) == 20 && alignof(OPCGROUPHEADER) == 4);
static_assert(offsetof(OPCGROUPHEADER, dwSize) == 0);
static_assert(offsetof(OPCGROUPHEADER, dwItemCount) == 4);
static_assert(offsetof(OPCGROUPHEADER, hClientGroup) == 8);
static_assert(offsetof(OPCGROUPHEADER, dwTransactionID) == 12);
static_assert(offsetof(OPCGROUPHEADER, hrStatus) == 16);

static_assert(sizeof(OPCITEMHEADER1) == 20 && alignof(OPCITEMHEADER1) == 4);
static_assert(offsetof(OPCITEMHEADER1, hClient) == 0);
static_assert(offsetof(OPCITEMHEADER1, dwValueOffset) == 4);
static_assert(offsetof(OPCITEMHEADER1, wQuality) == 8);
static_assert(offsetof(OPCITEMHEADER1, wReserved) == 10);
static_assert(offsetof(OPCITEMHEADER1, ftTimeStampItem) == 12);

static_assert(sizeof(OPCITEMHEADER2) == 12 && alignof(OPCITEMHEADER2) == 4);
static_assert(offsetof(OPCITEMHEADER2, hClient) == 0);
static_assert(offsetof(OPCITEMHEADER2, dwValueOffset) == 4);
static_assert(offsetof(OPCITEMHEADER2, wQuality) == 8);
static_assert(offsetof(OPCITEMHEADER2, wReserved) == 10);

static_assert(sizeof(OPCGROUPHEADERWRITE) == 16 && alignof(OPCGROUPHEADERWRITE) == 4);
static_assert(offsetof(OPCGROUPHEADERWRITE, dwItemCount) == 0);
static_assert(offsetof(OPCGROUPHEADERWRITE, hClientGroup) == 4);
static_assert(offsetof(OPCGROUPHEADERWRITE, dwTransactionID) == 8);
static_assert(offsetof(OPCGROUPHEADERWRITE, hrStatus) == 12);

static_assert(sizeof(OPCITEMHEADERWRITE) == 8 && alignof(OPCITEMHEADERWRITE) == 4);
static_assert(offsetof(OPCITEMHEADERWRITE, hClient) == 0);
static_assert(offsetof(OPCITEMHEADERWRITE, dwError) == 4);

// The registered numbers of the three stream formats, for
// FORMATETC::cfFormat. They are set while the program's static objects are
// initialised, before main() runs, whenever the program refers to any of
// them. Code that runs during static initialisation itself must call
// OPCDARegisterClipboardFormats() before reading them, because the order of
// initialisation between files is not defined. Read-only after that.
extern CLIPFORMAT OPCSTMFORMATDATA;
extern CLIPFORMAT OPCSTMFORMATDATATIME;
extern CLIPFORMAT OPCSTMFORMATWRITECOMPLETE;

// Registers the names "OPCSTMFORMATDATA", "OPCSTMFORMATDATATIME" and
// "OPCSTMFORMATWRITECOMPLETE" and stores their numbers in the variables
// above. Only the first call does anything; any thread may call it, and
// every caller returns only once the numbers are stored.
void OPCDARegisterClipboardFormats();
