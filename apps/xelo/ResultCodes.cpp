#include "ResultCodes.h"

#include "xelo/core/XeloErrors.h"
#include "xelo/opc/OpcError.h"

#include <array>
#include <cstdio>

namespace xelo::cli {

namespace {

struct NamedCode {
  HRESULT code;
  std::string_view name;
};

// The name is the constant's own spelling, so the table cannot misname a
// code. The texts stay where they are (the library's and the platform's
// message tables); this table only names.
#define XELO_NAMED(code) NamedCode{code, #code}

constexpr std::array kNamedCodes{
    // OPC Data Access
    XELO_NAMED(OPC_E_INVALIDHANDLE),
    XELO_NAMED(OPC_E_BADTYPE),
    XELO_NAMED(OPC_E_PUBLIC),
    XELO_NAMED(OPC_E_BADRIGHTS),
    XELO_NAMED(OPC_E_UNKNOWNITEMID),
    XELO_NAMED(OPC_E_INVALIDITEMID),
    XELO_NAMED(OPC_E_INVALIDFILTER),
    XELO_NAMED(OPC_E_UNKNOWNPATH),
    XELO_NAMED(OPC_E_RANGE),
    XELO_NAMED(OPC_E_DUPLICATENAME),
    XELO_NAMED(OPC_S_UNSUPPORTEDRATE),
    XELO_NAMED(OPC_S_CLAMP),
    XELO_NAMED(OPC_S_INUSE),
    XELO_NAMED(OPC_E_INVALIDCONFIGFILE),
    XELO_NAMED(OPC_E_NOTFOUND),
    XELO_NAMED(OPC_E_INVALID_PID),
    XELO_NAMED(OPC_E_DEADBANDNOTSET),
    XELO_NAMED(OPC_E_DEADBANDNOTSUPPORTED),
    XELO_NAMED(OPC_E_NOBUFFERING),
    XELO_NAMED(OPC_E_INVALIDCONTINUATIONPOINT),
    XELO_NAMED(OPC_S_DATAQUEUEOVERFLOW),
    XELO_NAMED(OPC_E_RATENOTSET),
    XELO_NAMED(OPC_E_NOTSUPPORTED),
    XELO_NAMED(OPCCPX_E_TYPE_CHANGED),
    XELO_NAMED(OPCCPX_E_FILTER_DUPLICATE),
    XELO_NAMED(OPCCPX_E_FILTER_INVALID),
    XELO_NAMED(OPCCPX_E_FILTER_ERROR),
    XELO_NAMED(OPCCPX_S_FILTER_NO_DATA),
    // OPC Alarms & Events, which share the numbers' space
    XELO_NAMED(OPC_S_ALREADYACKED),
    XELO_NAMED(OPC_S_INVALIDBUFFERTIME),
    XELO_NAMED(OPC_S_INVALIDMAXSIZE),
    XELO_NAMED(OPC_E_INVALIDTIME),
    XELO_NAMED(OPC_E_BUSY),
    XELO_NAMED(OPC_E_NOINFO),
    // COM
    XELO_NAMED(S_FALSE),
    XELO_NAMED(E_UNEXPECTED),
    XELO_NAMED(E_NOTIMPL),
    XELO_NAMED(E_NOINTERFACE),
    XELO_NAMED(E_POINTER),
    XELO_NAMED(E_ABORT),
    XELO_NAMED(E_FAIL),
    XELO_NAMED(E_ACCESSDENIED),
    XELO_NAMED(E_HANDLE),
    XELO_NAMED(E_OUTOFMEMORY),
    XELO_NAMED(E_INVALIDARG),
    XELO_NAMED(OLE_E_ADVISENOTSUPPORTED),
    XELO_NAMED(OLE_E_NOCONNECTION),
    XELO_NAMED(DV_E_FORMATETC),
    XELO_NAMED(DV_E_TYMED),
    XELO_NAMED(CLASS_E_NOAGGREGATION),
    XELO_NAMED(CLASS_E_CLASSNOTAVAILABLE),
    XELO_NAMED(REGDB_E_CLASSNOTREG),
    XELO_NAMED(CO_E_NOTINITIALIZED),
    XELO_NAMED(CO_E_CLASSSTRING),
    XELO_NAMED(CONNECT_E_NOCONNECTION),
    XELO_NAMED(CONNECT_E_ADVISELIMIT),
    XELO_NAMED(CONNECT_E_CANNOTCONNECT),
    XELO_NAMED(CONNECT_E_OVERRIDDEN),
    XELO_NAMED(DISP_E_TYPEMISMATCH),
    XELO_NAMED(DISP_E_BADVARTYPE),
    XELO_NAMED(DISP_E_OVERFLOW),
    XELO_NAMED(DISP_E_BADINDEX),
    XELO_NAMED(DISP_E_ARRAYISLOCKED),
    XELO_NAMED(RPC_E_CALL_REJECTED),
    XELO_NAMED(RPC_E_SERVERFAULT),
    XELO_NAMED(RPC_E_CHANGED_MODE),
    XELO_NAMED(RPC_E_DISCONNECTED),
    XELO_NAMED(RPC_E_TOO_LATE),
    XELO_NAMED(CO_E_SERVER_EXEC_FAILURE),
    // Win32 errors of remote calls, as the HRESULTs COM makes of them
    NamedCode{HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE), "RPC_S_SERVER_UNAVAILABLE"},
    NamedCode{HRESULT_FROM_WIN32(RPC_S_CALL_FAILED), "RPC_S_CALL_FAILED"},
};

#undef XELO_NAMED

}  // namespace

std::string ResultCodeHex(HRESULT code) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(static_cast<std::uint32_t>(code)));
  return text;
}

std::string_view ResultCodeName(HRESULT code) {
  for (const NamedCode& entry : kNamedCodes) {
    if (entry.code == code) return entry.name;
  }
  return {};
}

std::optional<HRESULT> ResultCodeOfMessage(std::string_view text) {
  if (text.empty()) return std::nullopt;
  for (const NamedCode& entry : kNamedCodes) {
    if (GetOPCErrorMessage(entry.code) == text) return entry.code;
  }
  return std::nullopt;
}

}  // namespace xelo::cli
