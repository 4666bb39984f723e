// The portable back end's declarations for xelo/com/Variant.h, with the SDK's
// names, values and layouts; include that header, not this one.
#pragma once

#include "xelo/com/SafeArray.h"
#include "xelo/com/Unknown.h"
#include "xelo/com/WinTypes.h"

enum VARENUM : VARTYPE {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_R8 = 5,
  VT_CY = 6,
  VT_DATE = 7,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_VARIANT = 12,
  VT_UNKNOWN = 13,
  VT_DECIMAL = 14,
  VT_I1 = 16,
  VT_UI1 = 17,
  VT_UI2 = 18,
  VT_UI4 = 19,
  VT_I8 = 20,
  VT_UI8 = 21,
  VT_INT = 22,
  VT_UINT = 23,
  VT_VOID = 24,
  VT_HRESULT = 25,
  VT_PTR = 26,
  VT_SAFEARRAY = 27,
  VT_CARRAY = 28,
  VT_USERDEFINED = 29,
  VT_LPSTR = 30,
  VT_LPWSTR = 31,
  VT_RECORD = 36,
  VT_INT_PTR = 37,
  VT_UINT_PTR = 38,
  VT_FILETIME = 64,
  VT_BLOB = 65,
  VT_STREAM = 66,
  VT_STORAGE = 67,
  VT_STREAMED_OBJECT = 68,
  VT_STORED_OBJECT = 69,
  VT_BLOB_OBJECT = 70,
  VT_CF = 71,
  VT_CLSID = 72,
  VT_VECTOR = 0x1000,
  VT_ARRAY = 0x2000,
  VT_BYREF = 0x4000,
  VT_RESERVED = 0x8000,
  VT_ILLEGAL = 0xFFFF,
  VT_ILLEGALMASKED = 0x0FFF,
  VT_TYPEMASK = 0x0FFF,
};

inline constexpr IID IID_IDispatch{0x00020400, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// Automation objects. The library only holds and releases them; the
// dispatch methods are not declared.
struct IDispatch : public IUnknown {};

struct IRecordInfo;  // user-defined types are not supported by this layer

struct VARIANT {
  union {
    struct {
      VARTYPE vt;
      WORD wReserved1;
      WORD wReserved2;
      WORD wReserved3;
      union {
        LONGLONG llVal;
        LONG lVal;
        BYTE bVal;
        SHORT iVal;
        FLOAT fltVal;
        DOUBLE dblVal;
        VARIANT_BOOL boolVal;
        SCODE scode;
        CY cyVal;
        DATE date;
        BSTR bstrVal;
        IUnknown* punkVal;
        IDispatch* pdispVal;
        SAFEARRAY* parray;
        BYTE* pbVal;
        SHORT* piVal;
        LONG* plVal;
        LONGLONG* pllVal;
        FLOAT* pfltVal;
        DOUBLE* pdblVal;
        VARIANT_BOOL* pboolVal;
        SCODE* pscode;
        CY* pcyVal;
        DATE* pdate;
        BSTR* pbstrVal;
        IUnknown** ppunkVal;
        IDispatch** ppdispVal;
        SAFEARRAY** pparray;
        VARIANT* pvarVal;
        void* byref;
        CHAR cVal;
        USHORT uiVal;
        ULONG ulVal;
        ULONGLONG ullVal;
        INT intVal;
        UINT uintVal;
        DECIMAL* pdecVal;
        CHAR* pcVal;
        USHORT* puiVal;
        ULONG* pulVal;
        ULONGLONG* pullVal;
        INT* pintVal;
        UINT* puintVal;
        struct {
          void* pvRecord;
          IRecordInfo* pRecInfo;
        };
      };
    };
    DECIMAL decVal;
  };
};
using VARIANTARG = VARIANT;
using LPVARIANT = VARIANT*;

static_assert(sizeof(VARIANT) == 8 + 2 * sizeof(void*) && alignof(VARIANT) == 8);

// VariantChangeType flags.
inline constexpr USHORT VARIANT_NOVALUEPROP = 0x01;
inline constexpr USHORT VARIANT_ALPHABOOL = 0x02;  // BOOL <-> "True"/"False" instead of "-1"/"0"
inline constexpr USHORT VARIANT_NOUSEROVERRIDE = 0x04;
inline constexpr USHORT VARIANT_LOCALBOOL = 0x10;

// Sets vt to VT_EMPTY; touches nothing else.
void VariantInit(VARIANT* v);
// Frees what `v` owns (BSTR, SAFEARRAY of VT_ARRAY|x, interface reference;
// a VT_BYREF value owns nothing) and leaves it VT_EMPTY. DISP_E_BADVARTYPE
// for a type code that cannot occur in a VARIANT, DISP_E_ARRAYISLOCKED for
// a locked array; then nothing is freed and `v` is unchanged. E_INVALIDARG
// for null.
HRESULT VariantClear(VARIANT* v);
// Deep-copies `src` into `dest` (BSTRs and arrays copied, interfaces
// AddRef'd, VT_BYREF pointers copied as they are), clearing what `dest`
// held. `dest` may equal `src` (nothing happens), and `src` may be part of
// what `dest` owns: the copy is made before `dest` is cleared.
// DISP_E_BADVARTYPE for an invalid source type, with `dest` unchanged; when
// the copy itself fails (out of memory, an invalid VARIANT inside an
// array), `dest` is left VT_EMPTY.
HRESULT VariantCopy(VARIANT* dest, const VARIANT* src);
// Like VariantCopy, but a VT_BYREF source is copied as the value it points
// to. A VT_BYREF|VT_VARIANT source is followed to the VARIANT it points at,
// and once more if that one is a reference to a value; E_INVALIDARG for a
// null reference or a reference to another VT_BYREF|VT_VARIANT.
HRESULT VariantCopyInd(VARIANT* dest, const VARIANT* src);
// Converts `src` to type `vt` into `dest` (which may equal `src`). Results
// follow COM: DISP_E_TYPEMISMATCH when the types cannot be converted,
// DISP_E_OVERFLOW when the value does not fit, DISP_E_BADVARTYPE for an
// invalid type code. On failure `dest` is left unchanged; on success what it
// held before is cleared. Numbers and text use the invariant locale ('.' as
// the decimal point, no thousands separators); the rules in detail are at
// the top of VariantConvert.cpp. VariantChangeTypeEx ignores the LCID.
HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, USHORT flags, VARTYPE vt);
HRESULT VariantChangeTypeEx(VARIANT* dest, const VARIANT* src, LCID lcid, USHORT flags, VARTYPE vt);
