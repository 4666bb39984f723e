// The portable back end's declarations for xelo/com/GlobalMemory.h, with the SDK's
// names, values and layouts; include that header, not this one.
#pragma once

#include "xelo/com/WinTypes.h"

struct HGLOBAL__;
using HGLOBAL = HGLOBAL__*;

inline constexpr UINT GMEM_FIXED = 0x0000;
inline constexpr UINT GMEM_MOVEABLE = 0x0002;
inline constexpr UINT GMEM_ZEROINIT = 0x0040;
inline constexpr UINT GHND = GMEM_MOVEABLE | GMEM_ZEROINIT;
inline constexpr UINT GPTR = GMEM_FIXED | GMEM_ZEROINIT;

// A block of `bytes` bytes (0 is allowed and gives a distinct block); null
// when out of memory. Flag bits other than GMEM_MOVEABLE and GMEM_ZEROINIT
// (the DDE-share and discardable bits of old clipboard code) are accepted
// and ignored.
HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes);

// Resizes a block; GMEM_ZEROINIT zeroes the bytes gained. A block is moved
// only when it must grow beyond its capacity, and then only if that is safe
// or asked for: a moveable block keeps its handle and may move while
// unlocked (or when `flags` has GMEM_MOVEABLE); a fixed block moves only when
// `flags` has GMEM_MOVEABLE and then gets a new handle (the old one becomes
// invalid). Returns the (possibly new) handle, or null on failure, in which
// case the block is unchanged.
HGLOBAL GlobalReAlloc(HGLOBAL handle, SIZE_T bytes, UINT flags);

// The address of the block's data; null for an invalid handle. Each call on
// a moveable block adds one lock.
LPVOID GlobalLock(HGLOBAL handle);

// Removes one lock of a moveable block. Returns TRUE while the block is
// still locked afterwards, FALSE when this was the last lock, when it was
// not locked, for a fixed block, or for an invalid handle.
BOOL GlobalUnlock(HGLOBAL handle);

// The size last asked for; 0 for an invalid handle.
SIZE_T GlobalSize(HGLOBAL handle);

// Frees the block even while locked (outstanding pointers dangle, as on
// Win32). Returns null on success (also for a null handle) and the handle
// itself when it is not a live handle.
HGLOBAL GlobalFree(HGLOBAL handle);
