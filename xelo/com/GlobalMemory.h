// Global memory handles (HGLOBAL), the medium of clipboard-style data
// transfer: OPC DA 1.0 servers hand their data and write-complete blocks to
// IAdviseSink::OnDataChange as an HGLOBAL inside a STGMEDIUM.
//
// As on Win32, a fixed block's handle is the address of its data (GlobalLock
// returns the handle itself and keeps no lock count), while a moveable
// block's handle is a token that only GlobalLock turns into an address.
// Unlike Win32, every handle is looked up in a table of live handles, so a
// stale, foreign or already-freed handle is refused with the documented
// failure value instead of corrupting the heap. Live handles are counted in
// xelo::com::LiveAllocations().globalMemory.
//
// Thread-safe. A pointer from GlobalLock stays valid until the block is
// freed or moved by GlobalReAlloc with GMEM_MOVEABLE.
#pragma once

#include "xelo/com/ComBackEnd.h"

#if XELO_COM_NATIVE
#include "xelo/com/WinTypes.h"  // Windows SDK
#else
#include "xelo/com/portable/GlobalMemory.h"
#endif
