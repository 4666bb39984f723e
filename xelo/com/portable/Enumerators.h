// The portable back end's declarations for xelo/com/Enumerators.h, with the SDK's
// names, values and layouts; include that header, not this one.
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
