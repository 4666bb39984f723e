// Subscribing a sink to an OPC object: connection points (the OPC DA 2.0
// data callback, the shutdown notice) and OLE data advises (the OPC DA 1.0
// data stream).
//
// Each returns the HRESULT of the subscription call, or E_FAIL when the
// source is null or does not offer what is needed. None raises.
// Thread: the main thread.
#pragma once

#include "xelo/com/Unknown.h"
#include "xelo/com/WinTypes.h"

struct IAdviseSink;

namespace xelo {

// Advise of `sink` at the connection point `iid` of `source`; `cookie`
// receives the connection number.
HRESULT ConnectAdvise(IUnknown* source, REFIID iid, IUnknown* sink, DWORD& cookie);
// Unadvise of `cookie` at the connection point `iid` of `source`.
HRESULT ConnectUnadvise(IUnknown* source, REFIID iid, DWORD cookie);

// DAdvise of `sink` for the time-stamped OPC DA 1.0 data stream of `source`
// (an IDataObject), asking for the current values first; `cookie` is 0 when
// the advise failed.
HRESULT DataAdvise(IUnknown* source, IAdviseSink* sink, DWORD& cookie);
HRESULT DataUnadvise(IUnknown* source, DWORD cookie);

}  // namespace xelo
