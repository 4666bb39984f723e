// The object behind Xelo.Sim.AE.1: registered under the Alarms & Events
// category so that server browsers list it, but it speaks no Data Access.
// It answers IOPCCommon only (and IUnknown); a DA client asking it for
// IOPCServer gets E_NOINTERFACE, which is what such a client must cope
// with. Main thread only.
#pragma once

#include "xelo/com/ComObject.h"
#include "xelo/opc/OpcComn.h"

#include <string>

namespace xelo::sim {

class AlarmsEventsServer final : public xelo::com::ComObject<IOPCCommon> {
 public:
  STDMETHOD(SetLocaleID)(LCID dwLcid) override;
  STDMETHOD(GetLocaleID)(LCID* pdwLcid) override;
  STDMETHOD(QueryAvailableLocaleIDs)(DWORD* pdwCount, LCID** pdwLcid) override;
  STDMETHOD(GetErrorString)(HRESULT dwError, LPWSTR* ppString) override;
  STDMETHOD(SetClientName)(LPCWSTR szName) override;

 private:
  LCID locale_ = 0x0800;
  com::OleString clientName_;
};

}  // namespace xelo::sim
