// IUnknown and the way interfaces are declared in this library.
//
// Interfaces are abstract structs whose virtual functions are declared in
// the order of the published vtable; every interface derives directly from
// IUnknown, so slot 0..2 are QueryInterface, AddRef, Release and the
// interface's own methods follow from slot 3. Each interface is tied to its
// IID with XELO_DECLARE_IID so that templates can ask for it (IidOf<I>()).
#pragma once

#include "xelo/com/Guid.h"
#include "xelo/com/HResult.h"

// No calling-convention keyword is needed on this platform; the macros keep
// declarations readable for anyone who knows the SDK.
#define STDMETHODCALLTYPE
#define STDMETHOD(method) virtual HRESULT STDMETHODCALLTYPE method
#define STDMETHOD_(type, method) virtual type STDMETHODCALLTYPE method
#define PURE = 0

inline constexpr IID IID_IUnknown{0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

struct IUnknown {
  STDMETHOD(QueryInterface)(REFIID riid, void** ppvObject) PURE;
  STDMETHOD_(ULONG, AddRef)() PURE;
  STDMETHOD_(ULONG, Release)() PURE;

 protected:
  // Objects are destroyed through Release, never through an interface.
  ~IUnknown() = default;
};
using LPUNKNOWN = IUnknown*;

namespace xelo::com {

template <class Interface>
struct InterfaceId;  // specialised by XELO_DECLARE_IID

template <class Interface>
constexpr const IID& IidOf() {
  return InterfaceId<Interface>::value;
}

}  // namespace xelo::com

// Ties an interface type to its IID constant (IID_<name>); use at global scope.
#define XELO_DECLARE_IID(Interface)                                   \
  template <>                                                          \
  struct xelo::com::InterfaceId<Interface> {                          \
    static constexpr const IID& value = IID_##Interface;               \
  }

XELO_DECLARE_IID(IUnknown);
