// IUnknown and the way interfaces are declared in this library.
//
// Interfaces are abstract structs whose virtual functions are declared in
// the order of the published vtable; every interface derives directly from
// IUnknown, so slot 0..2 are QueryInterface, AddRef, Release and the
// interface's own methods follow from slot 3. Each interface is tied to its
// IID with XELO_DECLARE_IID so that templates can ask for it (IidOf<I>()).
#pragma once

#include "xelo/com/ComBackEnd.h"

#if XELO_COM_NATIVE
#include "xelo/com/WinTypes.h"  // Windows SDK
#else
#include "xelo/com/portable/Unknown.h"
#endif

// Ties an interface type to its IID constant (IID_<name>); use at global scope.
#define XELO_DECLARE_IID(Interface)                                   \
  template <>                                                          \
  struct xelo::com::InterfaceId<Interface> {                          \
    static constexpr const IID& value = IID_##Interface;               \
  }

namespace xelo::com {

template <class Interface>
struct InterfaceId;  // specialised by XELO_DECLARE_IID

template <class Interface>
constexpr const IID& IidOf() {
  return InterfaceId<Interface>::value;
}

}  // namespace xelo::com

XELO_DECLARE_IID(IUnknown);
