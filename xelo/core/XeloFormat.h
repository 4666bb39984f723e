// Values, time stamps, server states and variant types as the application
// shows them, and the text conversion for everything that goes to a server.
//
// Contract: pure functions without state of their own; callable from any
// thread (FileTimeToDateTime reads the C library's time-zone rules, see
// there). None of them raises, except where noted.
#pragma once

#include "xelo/com/WinTypes.h"
#include "xelo/framework/TypInfo.h"
#include "xelo/framework/Variant.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace xelo {

// A variant type as the library names it in properties: the ordinal IS the
// 16-bit type code (VARTYPE) passed to servers, as a requested data type or
// a browse filter, so `static_cast<VARTYPE>(t)` is all the conversion there
// is. Code 15 has no automation type and is called vtundef. vtEMPTY asks a
// server for the item's own type (and lets every type pass a browse
// filter). The array flag has no value here.
enum OPCADatatype : VARTYPE {
  vtEMPTY,
  vtNULL,
  vtI2,
  vtI4,
  vtR4,
  vtR8,
  vtCY,
  vtDATE,
  vtBSTR,
  vtDISPATCH,
  vtERROR,
  vtBOOL,
  vtVARIANT,
  vtUNKNOWN,
  vtDECIMAL,
  vtundef,
  vtI1,
  vtUI1,
  vtUI2,
  vtUI4,
  vtI8,
  vtUI8,
  vtINT,
  vtUINT,
  vtVOID,
  vtHRESULT,
  vtPTR,
  vtSAFEARRAY,
  vtCARRAY,
  vtUSERDEFINED,
  vtLPSTR,
  vtLPWSTR,
};

// The names of OPCADatatype, indexed by ordinal.
inline constexpr std::array<std::string_view, 32> OPCADatatypeNames{
    /*  0 */ "vtEMPTY", "vtNULL", "vtI2", "vtI4", "vtR4", "vtR8", "vtCY", "vtDATE",
    /*  8 */ "vtBSTR", "vtDISPATCH", "vtERROR", "vtBOOL", "vtVARIANT", "vtUNKNOWN", "vtDECIMAL", "vtundef",
    /* 16 */ "vtI1", "vtUI1", "vtUI2", "vtUI4", "vtI8", "vtUI8", "vtINT", "vtUINT",
    /* 24 */ "vtVOID", "vtHRESULT", "vtPTR", "vtSAFEARRAY", "vtCARRAY", "vtUSERDEFINED", "vtLPSTR", "vtLPWSTR",
};
static_assert(OPCADatatypeNames.size() == vtLPWSTR + 1);

// The name of `type`, or the empty text for a value outside the enumeration.
std::string_view OPCADatatypeName(OPCADatatype type) noexcept;

// The enumeration type "OPCADatatype" for published properties
// (TClassBuilder::Enum(..., OPCADatatypeInfo())), so that streams and
// property editors show and read the names above. One shared instance.
const TTypeInfoPtr& OPCADatatypeInfo();

// OPC server states as short words, indexed by state number; index 0 is a
// placeholder for "no state" and never returned by ServerStateToStr.
inline constexpr std::array<std::string_view, 6> OPCStateStr{
    "none", "running", "failed", "no config", "suspended", "test",
};

// OPCStateStr[state] for the states 1..5 (running to test); the empty text
// for anything else, 0 and states of newer servers included.
std::string ServerStateToStr(std::int32_t state);

// A value as text. Empty gives ""; a single value is converted by VarToStr.
// An array gives its elements from index 0 up to the upper bound of its
// first dimension, each followed by ";" ("1;2;3;"). Never raises: whatever
// cannot be converted (an array that does not start at 0 or has more than
// one dimension, an element or value without text) gives "" as a whole,
// never a partial list.
std::string VarToAStr(const Variant& value) noexcept;

// The reverse of VarToAStr: a text as a value of type `type`, ready to be
// written to an item whose canonical type that is. A single type converts
// the text as Variant::ChangeType does (so "True", "1.5", "2024-06-01
// 12:00:00"); VT_EMPTY keeps the text as it is and leaves the conversion to
// the server. An array type (VT_ARRAY | element type) gives a
// one-dimensional array from index 0 of the parts between ";", each
// converted to the element type; one ";" at the end closes the list, as
// VarToAStr writes it, so "1;2;3;" and "1;2;3" both give three elements
// and "" gives none. Raises EConvertError naming the text when a part
// cannot be converted.
Variant AStrToVar(std::string_view text, VARTYPE type);

// A server time stamp (UTC) as a local date-time value: days since
// 1899-12-30 with the time of day as the fraction, to the millisecond.
// Converted by the time-zone rules valid on that date (TZ, else the
// system's zone; after changing TZ call tzset()). On Windows TZ counts in
// its POSIX form with Mm.w.d rules, which Windows' zones can express; any
// other TZ leaves the system's zone in force.
// Gives 0 (no time) when either half of `fileTime` is zero and when the
// time cannot be represented (outside the years 100..9999). Never raises.
DATE FileTimeToDateTime(const FILETIME& fileTime) noexcept;

// The same time stamp as a UTC date-time value, straight from the FILETIME
// by calendar arithmetic: no time-zone rules are read, so an instant in the
// hour a summer-time change repeats keeps its own value. Same resolution
// and the same 0 cases (a zero half, beyond the year 9999) as
// FileTimeToDateTime. Never raises.
DATE FileTimeToDateTimeUTC(const FILETIME& fileTime) noexcept;

// The library's UTF-8 text as the UTF-16 text servers receive (names, item
// identifiers, access paths, filters). Invalid UTF-8 is not an error: each
// bad sequence becomes U+FFFD.
com::OleString StringToWide(std::string_view text);

}  // namespace xelo
