// The portable back end's declarations for xelo/com/Unknown.h, with the SDK's
// names, values and layouts; include that header, not this one.
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
