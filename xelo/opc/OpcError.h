// Result codes defined by OPC, with their published names and values.
//
// All of them live in the interface facility (FACILITY_ITF): 0xC004xxxx are
// failures, 0x0004xxxx successes that still carry news (a revised rate, a
// clamped write). Because FACILITY_ITF codes are only unique per interface,
// the same number can mean different things to different OPC interfaces;
// see the Alarms & Events block at the end.
//
// The message texts that go with these codes come from
// xelo::com::SystemMessageText (the platform's message table), so that a
// client shows the same text whether the server or the platform formats it.
#pragma once

#include "xelo/com/HResult.h"

// --- Data Access 2.05a ------------------------------------------------------
// 0xC0040002 and 0xC0040003 were never assigned.

inline constexpr HRESULT OPC_E_INVALIDHANDLE = XELO_HR(0xC0040001);
inline constexpr HRESULT OPC_E_BADTYPE = XELO_HR(0xC0040004);
inline constexpr HRESULT OPC_E_PUBLIC = XELO_HR(0xC0040005);
inline constexpr HRESULT OPC_E_BADRIGHTS = XELO_HR(0xC0040006);
inline constexpr HRESULT OPC_E_UNKNOWNITEMID = XELO_HR(0xC0040007);
inline constexpr HRESULT OPC_E_INVALIDITEMID = XELO_HR(0xC0040008);
inline constexpr HRESULT OPC_E_INVALIDFILTER = XELO_HR(0xC0040009);
inline constexpr HRESULT OPC_E_UNKNOWNPATH = XELO_HR(0xC004000A);
inline constexpr HRESULT OPC_E_RANGE = XELO_HR(0xC004000B);
inline constexpr HRESULT OPC_E_DUPLICATENAME = XELO_HR(0xC004000C);
// The server uses the closest rate it supports (AddGroup, SetState).
inline constexpr HRESULT OPC_S_UNSUPPORTEDRATE = XELO_HR(0x0004000D);
// A written value was accepted but the output was clamped.
inline constexpr HRESULT OPC_S_CLAMP = XELO_HR(0x0004000E);
// RemoveGroup: the group is gone from the server's books but still
// referenced, so the object lives on until the last release.
inline constexpr HRESULT OPC_S_INUSE = XELO_HR(0x0004000F);
inline constexpr HRESULT OPC_E_INVALIDCONFIGFILE = XELO_HR(0xC0040010);
inline constexpr HRESULT OPC_E_NOTFOUND = XELO_HR(0xC0040011);
inline constexpr HRESULT OPC_E_INVALID_PID = XELO_HR(0xC0040203);

// --- Data Access 3.0 and complex data ----------------------------------------
// Not produced by DA 2.0 servers, but a newer server may answer a DA 2.0
// call with one of them, and the client should be able to name it.

inline constexpr HRESULT OPC_E_DEADBANDNOTSET = XELO_HR(0xC0040400);
inline constexpr HRESULT OPC_E_DEADBANDNOTSUPPORTED = XELO_HR(0xC0040401);
inline constexpr HRESULT OPC_E_NOBUFFERING = XELO_HR(0xC0040402);
inline constexpr HRESULT OPC_E_INVALIDCONTINUATIONPOINT = XELO_HR(0xC0040403);
inline constexpr HRESULT OPC_S_DATAQUEUEOVERFLOW = XELO_HR(0x00040404);
inline constexpr HRESULT OPC_E_RATENOTSET = XELO_HR(0xC0040405);
inline constexpr HRESULT OPC_E_NOTSUPPORTED = XELO_HR(0xC0040406);
inline constexpr HRESULT OPCCPX_E_TYPE_CHANGED = XELO_HR(0xC0040407);
inline constexpr HRESULT OPCCPX_E_FILTER_DUPLICATE = XELO_HR(0xC0040408);
inline constexpr HRESULT OPCCPX_E_FILTER_INVALID = XELO_HR(0xC0040409);
inline constexpr HRESULT OPCCPX_E_FILTER_ERROR = XELO_HR(0xC004040A);
inline constexpr HRESULT OPCCPX_S_FILTER_NO_DATA = XELO_HR(0x0004040B);

// --- Alarms & Events -----------------------------------------------------------
// We do not talk to A&E servers, but they share the facility and the
// numbering space with DA, so a server that serves both may hand one of
// these back. The A&E header also gives 0xC0040203 a name of its own (an
// invalid area name); it is the same number as OPC_E_INVALID_PID, so it is
// deliberately left out here: every DA code keeps exactly one name.

inline constexpr HRESULT OPC_S_ALREADYACKED = XELO_HR(0x00040200);
inline constexpr HRESULT OPC_S_INVALIDBUFFERTIME = XELO_HR(0x00040201);
inline constexpr HRESULT OPC_S_INVALIDMAXSIZE = XELO_HR(0x00040202);
// The time given does not match the condition's latest active time.
inline constexpr HRESULT OPC_E_INVALIDTIME = XELO_HR(0xC0040204);
// A refresh is already in progress.
inline constexpr HRESULT OPC_E_BUSY = XELO_HR(0xC0040205);
// The requested information is not available.
inline constexpr HRESULT OPC_E_NOINFO = XELO_HR(0xC0040206);
