// The standard enumerator interfaces (IEnumString, IEnumUnknown, IEnumGUID).
//
// Next returns S_OK when `celt` elements were returned and S_FALSE when
// fewer (also none); `pceltFetched` may be null only when celt is 1.
// Strings returned by IEnumString::Next come from the task allocator and are
// freed by the caller; interfaces returned by IEnumUnknown::Next carry a
// reference the caller releases.
#pragma once

#include "xelo/com/Unknown.h"

inline constexpr IID IID_IEnumUnknown{0x00000100, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IEnumString{0x00000101, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IEnumGUID{0x0002E000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IEnumCLSID = IID_IEnumGUID;

struct IEnumString : public IUnknown {
  STDMETHOD(Next)(ULONG celt, LPOLESTR* rgelt, ULONG* pceltFetched) PURE;
  STDMETHOD(Skip)(ULONG celt) PURE;
  STDMETHOD(Reset)() PURE;
  STDMETHOD(Clone)(IEnumString** ppenum) PURE;
};
using LPENUMSTRING = IEnumString*;

struct IEnumUnknown : public IUnknown {
  STDMETHOD(Next)(ULONG celt, IUnknown** rgelt, ULONG* pceltFetched) PURE;
  STDMETHOD(Skip)(ULONG celt) PURE;
  STDMETHOD(Reset)() PURE;
  STDMETHOD(Clone)(IEnumUnknown** ppenum) PURE;
};

struct IEnumGUID : public IUnknown {
  STDMETHOD(Next)(ULONG celt, GUID* rgelt, ULONG* pceltFetched) PURE;
  STDMETHOD(Skip)(ULONG celt) PURE;
  STDMETHOD(Reset)() PURE;
  STDMETHOD(Clone)(IEnumGUID** ppenum) PURE;
};
using IEnumCLSID = IEnumGUID;

XELO_DECLARE_IID(IEnumString);
XELO_DECLARE_IID(IEnumUnknown);
XELO_DECLARE_IID(IEnumGUID);
