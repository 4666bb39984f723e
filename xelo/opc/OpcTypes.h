// The OPC Data Access types that cross the interfaces: handles, the
// enumerations, access rights, the quality word, the structures servers
// fill in, and the standard item property ids with their descriptions.
//
// Layouts are those a Windows server would produce (LLP64, default
// packing); the static_asserts below pin every field of the 64-bit layout
// and of the 32-bit one, so a change to a base type of xelo/com that would
// move a field fails the build instead of corrupting data.
//
// Ownership of the structures' pointer members follows COM: what a server
// returns (szAccessPath, szItemID, szVendorInfo, pBlob, the arrays
// themselves) comes from the task allocator and is freed by the client with
// CoTaskMemFree; every VARIANT member is cleared with VariantClear.
#pragma once

#include "xelo/com/Variant.h"
#include "xelo/com/WinTypes.h"

#include <cstddef>
#include <cstdint>

// A handle one side gives the other for a group or an item: the client's
// handles travel in callbacks, the server's in calls. Always 32 bits, also
// in a 64-bit process, so it can never be a pointer.
using OPCHANDLE = DWORD;

// --- Enumerations -------------------------------------------------------------
// All are 32-bit with a fixed underlying type: a value a server sends that
// has no name here (a newer server state, say) is still a valid value of the
// type, so holding it is never undefined behaviour.

enum OPCDATASOURCE : std::int32_t {
  OPC_DS_CACHE = 1,
  OPC_DS_DEVICE = 2,
};

enum OPCBROWSETYPE : std::int32_t {
  OPC_BRANCH = 1,
  OPC_LEAF = 2,
  OPC_FLAT = 3,
};

// The misspelling HIERARCHIAL is the published name; code written against
// OPC expects it.
enum OPCNAMESPACETYPE : std::int32_t {
  OPC_NS_HIERARCHIAL = 1,
  OPC_NS_FLAT = 2,
};

enum OPCBROWSEDIRECTION : std::int32_t {
  OPC_BROWSE_UP = 1,
  OPC_BROWSE_DOWN = 2,
  OPC_BROWSE_TO = 3,  // DA 2.0 and later; DA 1.0 servers refuse it
};

enum OPCEUTYPE : std::int32_t {
  OPC_NOENUM = 0,
  OPC_ANALOG = 1,
  OPC_ENUMERATED = 2,
};

enum OPCSERVERSTATE : std::int32_t {
  OPC_STATUS_RUNNING = 1,
  OPC_STATUS_FAILED = 2,
  OPC_STATUS_NOCONFIG = 3,
  OPC_STATUS_SUSPENDED = 4,
  OPC_STATUS_TEST = 5,
  OPC_STATUS_COMM_FAULT = 6,  // reported by DA 3.0 servers, also to DA 2.0 clients
};

enum OPCENUMSCOPE : std::int32_t {
  OPC_ENUM_PRIVATE_CONNECTIONS = 1,
  OPC_ENUM_PUBLIC_CONNECTIONS = 2,
  OPC_ENUM_ALL_CONNECTIONS = 3,
  OPC_ENUM_PRIVATE = 4,
  OPC_ENUM_PUBLIC = 5,
  OPC_ENUM_ALL = 6,
};

static_assert(sizeof(OPCDATASOURCE) == 4 && sizeof(OPCBROWSETYPE) == 4 && sizeof(OPCNAMESPACETYPE) == 4 &&
              sizeof(OPCBROWSEDIRECTION) == 4 && sizeof(OPCEUTYPE) == 4 && sizeof(OPCSERVERSTATE) == 4 &&
              sizeof(OPCENUMSCOPE) == 4);

// --- Access rights (bits of dwAccessRights) -------------------------------------

inline constexpr DWORD OPC_READABLE = 0x1;
inline constexpr DWORD OPC_WRITEABLE = 0x2;

// --- Quality -----------------------------------------------------------------
// The low byte of the 16-bit quality word is QQSSSSLL: quality (bits 7..6),
// substatus (5..2) and limit (1..0). The high byte belongs to the vendor,
// which is why a quality must be masked before it is compared: a test for
// "good" is (q & OPC_QUALITY_MASK) == OPC_QUALITY_GOOD.

inline constexpr WORD OPC_QUALITY_MASK = 0xC0;
inline constexpr WORD OPC_STATUS_MASK = 0xFC;  // quality and substatus
inline constexpr WORD OPC_LIMIT_MASK = 0x03;

inline constexpr WORD OPC_QUALITY_BAD = 0x00;
inline constexpr WORD OPC_QUALITY_UNCERTAIN = 0x40;
inline constexpr WORD OPC_QUALITY_GOOD = 0xC0;

// Substatus values of BAD.
inline constexpr WORD OPC_QUALITY_CONFIG_ERROR = 0x04;
inline constexpr WORD OPC_QUALITY_NOT_CONNECTED = 0x08;
inline constexpr WORD OPC_QUALITY_DEVICE_FAILURE = 0x0C;
inline constexpr WORD OPC_QUALITY_SENSOR_FAILURE = 0x10;
inline constexpr WORD OPC_QUALITY_LAST_KNOWN = 0x14;
inline constexpr WORD OPC_QUALITY_COMM_FAILURE = 0x18;
inline constexpr WORD OPC_QUALITY_OUT_OF_SERVICE = 0x1C;
inline constexpr WORD OPC_QUALITY_WAITING_FOR_INITIAL_DATA = 0x20;  // DA 3.0

// Substatus values of UNCERTAIN.
inline constexpr WORD OPC_QUALITY_LAST_USABLE = 0x44;
inline constexpr WORD OPC_QUALITY_SENSOR_CAL = 0x50;
inline constexpr WORD OPC_QUALITY_EGU_EXCEEDED = 0x54;
inline constexpr WORD OPC_QUALITY_SUB_NORMAL = 0x58;

// Substatus value of GOOD.
inline constexpr WORD OPC_QUALITY_LOCAL_OVERRIDE = 0xD8;

inline constexpr WORD OPC_LIMIT_OK = 0x00;
inline constexpr WORD OPC_LIMIT_LOW = 0x01;
inline constexpr WORD OPC_LIMIT_HIGH = 0x02;
inline constexpr WORD OPC_LIMIT_CONST = 0x03;

// --- Structures ----------------------------------------------------------------

// One item's value as IOPCSyncIO::Read returns it.
struct OPCITEMSTATE {
  OPCHANDLE hClient;
  FILETIME ftTimeStamp;  // UTC
  WORD wQuality;
  WORD wReserved;
  VARIANT vDataValue;
};

// IOPCServer::GetStatus. The struct and szVendorInfo are separate task
// allocator blocks; the client frees both.
struct OPCSERVERSTATUS {
  FILETIME ftStartTime;
  FILETIME ftCurrentTime;
  FILETIME ftLastUpdateTime;
  OPCSERVERSTATE dwServerState;
  DWORD dwGroupCount;
  DWORD dwBandWidth;  // 0xFFFFFFFF when the server does not know
  WORD wMajorVersion;
  WORD wMinorVersion;
  WORD wBuildNumber;
  WORD wReserved;
  LPWSTR szVendorInfo;
};

// What a client asks for in AddItems / ValidateItems. Owned by the client.
struct OPCITEMDEF {
  LPWSTR szAccessPath;  // "" or null: the server chooses
  LPWSTR szItemID;
  BOOL bActive;
  OPCHANDLE hClient;
  DWORD dwBlobSize;
  BYTE* pBlob;                  // dwBlobSize bytes, or null
  VARTYPE vtRequestedDataType;  // VT_EMPTY: the item's canonical type
  WORD wReserved;
};

// An item of a group as IEnumOPCItemAttributes::Next describes it.
struct OPCITEMATTRIBUTES {
  LPWSTR szAccessPath;
  LPWSTR szItemID;
  BOOL bActive;
  OPCHANDLE hClient;
  OPCHANDLE hServer;
  DWORD dwAccessRights;
  DWORD dwBlobSize;
  BYTE* pBlob;
  VARTYPE vtRequestedDataType;
  VARTYPE vtCanonicalDataType;
  OPCEUTYPE dwEUType;
  // OPC_ANALOG: VT_ARRAY|VT_R8 {low EU, high EU}; OPC_ENUMERATED:
  // VT_ARRAY|VT_BSTR state texts (index = value); OPC_NOENUM: VT_EMPTY.
  VARIANT vEUInfo;
};

// The server's answer per item of AddItems / ValidateItems.
struct OPCITEMRESULT {
  OPCHANDLE hServer;
  VARTYPE vtCanonicalDataType;
  WORD wReserved;
  DWORD dwAccessRights;
  DWORD dwBlobSize;
  BYTE* pBlob;  // task allocator block when dwBlobSize > 0
};

namespace xelo::opc::detail {
// The layout figures below are given for both Windows ABIs; this picks the
// column of the platform we compile for.
constexpr std::size_t ByAbi(std::size_t x86, std::size_t x64) { return sizeof(void*) == 8 ? x64 : x86; }
}  // namespace xelo::opc::detail

static_assert(sizeof(OPCITEMSTATE) == xelo::opc::detail::ByAbi(32, 40));
static_assert(offsetof(OPCITEMSTATE, hClient) == 0);
static_assert(offsetof(OPCITEMSTATE, ftTimeStamp) == 4);
static_assert(offsetof(OPCITEMSTATE, wQuality) == 12);
static_assert(offsetof(OPCITEMSTATE, wReserved) == 14);
static_assert(offsetof(OPCITEMSTATE, vDataValue) == 16);

static_assert(sizeof(OPCSERVERSTATUS) == xelo::opc::detail::ByAbi(48, 56));
static_assert(offsetof(OPCSERVERSTATUS, ftStartTime) == 0);
static_assert(offsetof(OPCSERVERSTATUS, ftCurrentTime) == 8);
static_assert(offsetof(OPCSERVERSTATUS, ftLastUpdateTime) == 16);
static_assert(offsetof(OPCSERVERSTATUS, dwServerState) == 24);
static_assert(offsetof(OPCSERVERSTATUS, dwGroupCount) == 28);
static_assert(offsetof(OPCSERVERSTATUS, dwBandWidth) == 32);
static_assert(offsetof(OPCSERVERSTATUS, wMajorVersion) == 36);
static_assert(offsetof(OPCSERVERSTATUS, wMinorVersion) == 38);
static_assert(offsetof(OPCSERVERSTATUS, wBuildNumber) == 40);
static_assert(offsetof(OPCSERVERSTATUS, wReserved) == 42);
static_assert(offsetof(OPCSERVERSTATUS, szVendorInfo) == xelo::opc::detail::ByAbi(44, 48));

static_assert(sizeof(OPCITEMDEF) == xelo::opc::detail::ByAbi(28, 48));
static_assert(offsetof(OPCITEMDEF, szAccessPath) == 0);
static_assert(offsetof(OPCITEMDEF, szItemID) == xelo::opc::detail::ByAbi(4, 8));
static_assert(offsetof(OPCITEMDEF, bActive) == xelo::opc::detail::ByAbi(8, 16));
static_assert(offsetof(OPCITEMDEF, hClient) == xelo::opc::detail::ByAbi(12, 20));
static_assert(offsetof(OPCITEMDEF, dwBlobSize) == xelo::opc::detail::ByAbi(16, 24));
static_assert(offsetof(OPCITEMDEF, pBlob) == xelo::opc::detail::ByAbi(20, 32));
static_assert(offsetof(OPCITEMDEF, vtRequestedDataType) == xelo::opc::detail::ByAbi(24, 40));
static_assert(offsetof(OPCITEMDEF, wReserved) == xelo::opc::detail::ByAbi(26, 42));

static_assert(sizeof(OPCITEMATTRIBUTES) == xelo::opc::detail::ByAbi(56, 80));
static_assert(offsetof(OPCITEMATTRIBUTES, szAccessPath) == 0);
static_assert(offsetof(OPCITEMATTRIBUTES, szItemID) == xelo::opc::detail::ByAbi(4, 8));
static_assert(offsetof(OPCITEMATTRIBUTES, bActive) == xelo::opc::detail::ByAbi(8, 16));
static_assert(offsetof(OPCITEMATTRIBUTES, hClient) == xelo::opc::detail::ByAbi(12, 20));
static_assert(offsetof(OPCITEMATTRIBUTES, hServer) == xelo::opc::detail::ByAbi(16, 24));
static_assert(offsetof(OPCITEMATTRIBUTES, dwAccessRights) == xelo::opc::detail::ByAbi(20, 28));
static_assert(offsetof(OPCITEMATTRIBUTES, dwBlobSize) == xelo::opc::detail::ByAbi(24, 32));
static_assert(offsetof(OPCITEMATTRIBUTES, pBlob) == xelo::opc::detail::ByAbi(28, 40));
static_assert(offsetof(OPCITEMATTRIBUTES, vtRequestedDataType) == xelo::opc::detail::ByAbi(32, 48));
static_assert(offsetof(OPCITEMATTRIBUTES, vtCanonicalDataType) == xelo::opc::detail::ByAbi(34, 50));
static_assert(offsetof(OPCITEMATTRIBUTES, dwEUType) == xelo::opc::detail::ByAbi(36, 52));
static_assert(offsetof(OPCITEMATTRIBUTES, vEUInfo) == xelo::opc::detail::ByAbi(40, 56));

static_assert(sizeof(OPCITEMRESULT) == xelo::opc::detail::ByAbi(20, 24));
static_assert(offsetof(OPCITEMRESULT, hServer) == 0);
static_assert(offsetof(OPCITEMRESULT, vtCanonicalDataType) == 4);
static_assert(offsetof(OPCITEMRESULT, wReserved) == 6);
static_assert(offsetof(OPCITEMRESULT, dwAccessRights) == 8);
static_assert(offsetof(OPCITEMRESULT, dwBlobSize) == 12);
static_assert(offsetof(OPCITEMRESULT, pBlob) == 16);

// --- Item properties -----------------------------------------------------------
// Ids as IOPCItemProperties reports them. 1-99 are OPC's own (9-99
// reserved), 100-4999 recommended or reserved, 5000 and above belong to the
// vendor. The descriptions are the standard texts a server returns from
// QueryAvailableProperties.

// Set 1: every item has these.
inline constexpr DWORD OPC_PROPERTY_DATATYPE = 1;       // VT_I2: the canonical VARTYPE
inline constexpr DWORD OPC_PROPERTY_VALUE = 2;          // the value, read as from the device
inline constexpr DWORD OPC_PROPERTY_QUALITY = 3;        // VT_I2
inline constexpr DWORD OPC_PROPERTY_TIMESTAMP = 4;      // VT_DATE
inline constexpr DWORD OPC_PROPERTY_ACCESS_RIGHTS = 5;  // VT_I4: OPC_READABLE | OPC_WRITEABLE
inline constexpr DWORD OPC_PROPERTY_SCAN_RATE = 6;      // VT_R4, milliseconds
inline constexpr DWORD OPC_PROPERTY_EU_TYPE = 7;        // VT_I4: OPCEUTYPE
inline constexpr DWORD OPC_PROPERTY_EU_INFO = 8;        // VT_ARRAY|VT_BSTR

// Set 2: the item's value.
inline constexpr DWORD OPC_PROPERTY_EU_UNITS = 100;
inline constexpr DWORD OPC_PROPERTY_DESCRIPTION = 101;
inline constexpr DWORD OPC_PROPERTY_HIGH_EU = 102;  // VT_R8; with LOW_EU the range for percent deadband
inline constexpr DWORD OPC_PROPERTY_LOW_EU = 103;
inline constexpr DWORD OPC_PROPERTY_HIGH_IR = 104;
inline constexpr DWORD OPC_PROPERTY_LOW_IR = 105;
inline constexpr DWORD OPC_PROPERTY_CLOSE_LABEL = 106;
inline constexpr DWORD OPC_PROPERTY_OPEN_LABEL = 107;
inline constexpr DWORD OPC_PROPERTY_TIMEZONE = 108;  // VT_I4, minutes

// Set 2: operator display.
inline constexpr DWORD OPC_PROPERTY_DEFAULT_DISPLAY = 200;
inline constexpr DWORD OPC_PROPERTY_FOREGROUND_COLOR = 201;  // VT_I4 COLORREF
inline constexpr DWORD OPC_PROPERTY_BACKGROUND_COLOR = 202;  // VT_I4 COLORREF
inline constexpr DWORD OPC_PROPERTY_BLINK = 203;             // VT_BOOL
inline constexpr DWORD OPC_PROPERTY_BMP_FILE = 204;
// Named apart from the alarm block's OPC_PROPERTY_SOUND_FILE (313): both
// blocks have a sound file, and both ids stay addressable.
inline constexpr DWORD OPC_PROPERTY_DISPLAY_SOUND_FILE = 205;
inline constexpr DWORD OPC_PROPERTY_HTML_FILE = 206;
inline constexpr DWORD OPC_PROPERTY_AVI_FILE = 207;

// Set 2: alarms and conditions.
inline constexpr DWORD OPC_PROPERTY_CONDITION_STATUS = 300;
inline constexpr DWORD OPC_PROPERTY_ALARM_QUICK_HELP = 301;
inline constexpr DWORD OPC_PROPERTY_ALARM_AREA_LIST = 302;
inline constexpr DWORD OPC_PROPERTY_PRIMARY_ALARM_AREA = 303;
inline constexpr DWORD OPC_PROPERTY_CONDITION_LOGIC = 304;
inline constexpr DWORD OPC_PROPERTY_LIMIT_EXCEEDED = 305;
inline constexpr DWORD OPC_PROPERTY_DEADBAND = 306;
inline constexpr DWORD OPC_PROPERTY_HIHI_LIMIT = 307;
inline constexpr DWORD OPC_PROPERTY_HI_LIMIT = 308;
inline constexpr DWORD OPC_PROPERTY_LO_LIMIT = 309;
inline constexpr DWORD OPC_PROPERTY_LOLO_LIMIT = 310;
inline constexpr DWORD OPC_PROPERTY_CHANGE_RATE_LIMIT = 311;
inline constexpr DWORD OPC_PROPERTY_DEVIATION_LIMIT = 312;
inline constexpr DWORD OPC_PROPERTY_SOUND_FILE = 313;

// DA 3.0 complex data; a newer server may list them.
inline constexpr DWORD OPC_PROPERTY_TYPE_SYSTEM_ID = 600;
inline constexpr DWORD OPC_PROPERTY_DICTIONARY_ID = 601;
inline constexpr DWORD OPC_PROPERTY_TYPE_ID = 602;
inline constexpr DWORD OPC_PROPERTY_DICTIONARY = 603;
inline constexpr DWORD OPC_PROPERTY_TYPE_DESCRIPTION = 604;
inline constexpr DWORD OPC_PROPERTY_CONSISTENCY_WINDOW = 605;
inline constexpr DWORD OPC_PROPERTY_WRITE_BEHAVIOR = 606;
inline constexpr DWORD OPC_PROPERTY_UNCONVERTED_ITEM_ID = 607;
inline constexpr DWORD OPC_PROPERTY_UNFILTERED_ITEM_ID = 608;
inline constexpr DWORD OPC_PROPERTY_DATA_FILTER_VALUE = 609;

inline constexpr OLECHAR OPC_PROPERTY_DESC_DATATYPE[] = OLESTR("Item Canonical Data Type");
inline constexpr OLECHAR OPC_PROPERTY_DESC_VALUE[] = OLESTR("Item Value");
inline constexpr OLECHAR OPC_PROPERTY_DESC_QUALITY[] = OLESTR("Item Quality");
inline constexpr OLECHAR OPC_PROPERTY_DESC_TIMESTAMP[] = OLESTR("Item Timestamp");
inline constexpr OLECHAR OPC_PROPERTY_DESC_ACCESS_RIGHTS[] = OLESTR("Item Access Rights");
inline constexpr OLECHAR OPC_PROPERTY_DESC_SCAN_RATE[] = OLESTR("Server Scan Rate");
inline constexpr OLECHAR OPC_PROPERTY_DESC_EU_TYPE[] = OLESTR("Item EU Type");
inline constexpr OLECHAR OPC_PROPERTY_DESC_EU_INFO[] = OLESTR("Item EU Info");
inline constexpr OLECHAR OPC_PROPERTY_DESC_EU_UNITS[] = OLESTR("EU Units");
inline constexpr OLECHAR OPC_PROPERTY_DESC_DESCRIPTION[] = OLESTR("Item Description");
inline constexpr OLECHAR OPC_PROPERTY_DESC_HIGH_EU[] = OLESTR("High EU");
inline constexpr OLECHAR OPC_PROPERTY_DESC_LOW_EU[] = OLESTR("Low EU");
inline constexpr OLECHAR OPC_PROPERTY_DESC_HIGH_IR[] = OLESTR("High Instrument Range");
inline constexpr OLECHAR OPC_PROPERTY_DESC_LOW_IR[] = OLESTR("Low Instrument Range");
inline constexpr OLECHAR OPC_PROPERTY_DESC_CLOSE_LABEL[] = OLESTR("Contact Close Label");
inline constexpr OLECHAR OPC_PROPERTY_DESC_OPEN_LABEL[] = OLESTR("Contact Open Label");
inline constexpr OLECHAR OPC_PROPERTY_DESC_TIMEZONE[] = OLESTR("Item Timezone");
inline constexpr OLECHAR OPC_PROPERTY_DESC_DEFAULT_DISPLAY[] = OLESTR("Default Display");
inline constexpr OLECHAR OPC_PROPERTY_DESC_FOREGROUND_COLOR[] = OLESTR("Current Foreground Color");
inline constexpr OLECHAR OPC_PROPERTY_DESC_BACKGROUND_COLOR[] = OLESTR("Current Background Color");
inline constexpr OLECHAR OPC_PROPERTY_DESC_BLINK[] = OLESTR("Current Blink");
inline constexpr OLECHAR OPC_PROPERTY_DESC_BMP_FILE[] = OLESTR("BMP File");
inline constexpr OLECHAR OPC_PROPERTY_DESC_DISPLAY_SOUND_FILE[] = OLESTR("Sound File");
inline constexpr OLECHAR OPC_PROPERTY_DESC_HTML_FILE[] = OLESTR("HTML File");
inline constexpr OLECHAR OPC_PROPERTY_DESC_AVI_FILE[] = OLESTR("AVI File");
inline constexpr OLECHAR OPC_PROPERTY_DESC_CONDITION_STATUS[] = OLESTR("Condition Status");
inline constexpr OLECHAR OPC_PROPERTY_DESC_ALARM_QUICK_HELP[] = OLESTR("Alarm Quick Help");
inline constexpr OLECHAR OPC_PROPERTY_DESC_ALARM_AREA_LIST[] = OLESTR("Alarm Area List");
inline constexpr OLECHAR OPC_PROPERTY_DESC_PRIMARY_ALARM_AREA[] = OLESTR("Primary Alarm Area");
inline constexpr OLECHAR OPC_PROPERTY_DESC_CONDITION_LOGIC[] = OLESTR("Condition Logic");
inline constexpr OLECHAR OPC_PROPERTY_DESC_LIMIT_EXCEEDED[] = OLESTR("Limit Exceeded");
inline constexpr OLECHAR OPC_PROPERTY_DESC_DEADBAND[] = OLESTR("Deadband");
inline constexpr OLECHAR OPC_PROPERTY_DESC_HIHI_LIMIT[] = OLESTR("HiHi Limit");
inline constexpr OLECHAR OPC_PROPERTY_DESC_HI_LIMIT[] = OLESTR("Hi Limit");
inline constexpr OLECHAR OPC_PROPERTY_DESC_LO_LIMIT[] = OLESTR("Lo Limit");
inline constexpr OLECHAR OPC_PROPERTY_DESC_LOLO_LIMIT[] = OLESTR("LoLo Limit");
inline constexpr OLECHAR OPC_PROPERTY_DESC_CHANGE_RATE_LIMIT[] = OLESTR("Rate of Change Limit");
inline constexpr OLECHAR OPC_PROPERTY_DESC_DEVIATION_LIMIT[] = OLESTR("Deviation Limit");
inline constexpr OLECHAR OPC_PROPERTY_DESC_SOUND_FILE[] = OLESTR("Sound File");
inline constexpr OLECHAR OPC_PROPERTY_DESC_TYPE_SYSTEM_ID[] = OLESTR("Type System ID");
inline constexpr OLECHAR OPC_PROPERTY_DESC_DICTIONARY_ID[] = OLESTR("Dictionary ID");
inline constexpr OLECHAR OPC_PROPERTY_DESC_TYPE_ID[] = OLESTR("Type ID");
inline constexpr OLECHAR OPC_PROPERTY_DESC_DICTIONARY[] = OLESTR("Dictionary");
inline constexpr OLECHAR OPC_PROPERTY_DESC_TYPE_DESCRIPTION[] = OLESTR("Type Description");
inline constexpr OLECHAR OPC_PROPERTY_DESC_CONSISTENCY_WINDOW[] = OLESTR("Consistency Window");
inline constexpr OLECHAR OPC_PROPERTY_DESC_WRITE_BEHAVIOR[] = OLESTR("Write Behavior");
inline constexpr OLECHAR OPC_PROPERTY_DESC_UNCONVERTED_ITEM_ID[] = OLESTR("Unconverted Item ID");
inline constexpr OLECHAR OPC_PROPERTY_DESC_UNFILTERED_ITEM_ID[] = OLESTR("Unfiltered Item ID");
inline constexpr OLECHAR OPC_PROPERTY_DESC_DATA_FILTER_VALUE[] = OLESTR("Data Filter Value");

// The DA 2.0 names of the same ids, still used by older code. That
// generation numbered the operator-display block without "Default Display"
// (colours from 200), which no current server follows, so those names are
// not carried over: an old name with a wrong number is worse than none.
inline constexpr DWORD OPC_PROP_CDT = OPC_PROPERTY_DATATYPE;
inline constexpr DWORD OPC_PROP_VALUE = OPC_PROPERTY_VALUE;
inline constexpr DWORD OPC_PROP_QUALITY = OPC_PROPERTY_QUALITY;
inline constexpr DWORD OPC_PROP_TIME = OPC_PROPERTY_TIMESTAMP;
inline constexpr DWORD OPC_PROP_RIGHTS = OPC_PROPERTY_ACCESS_RIGHTS;
inline constexpr DWORD OPC_PROP_SCANRATE = OPC_PROPERTY_SCAN_RATE;
inline constexpr DWORD OPC_PROP_UNIT = OPC_PROPERTY_EU_UNITS;
inline constexpr DWORD OPC_PROP_DESC = OPC_PROPERTY_DESCRIPTION;
inline constexpr DWORD OPC_PROP_HIEU = OPC_PROPERTY_HIGH_EU;
inline constexpr DWORD OPC_PROP_LOEU = OPC_PROPERTY_LOW_EU;
inline constexpr DWORD OPC_PROP_HIRANGE = OPC_PROPERTY_HIGH_IR;
inline constexpr DWORD OPC_PROP_LORANGE = OPC_PROPERTY_LOW_IR;
inline constexpr DWORD OPC_PROP_CLOSE = OPC_PROPERTY_CLOSE_LABEL;
inline constexpr DWORD OPC_PROP_OPEN = OPC_PROPERTY_OPEN_LABEL;
inline constexpr DWORD OPC_PROP_TIMEZONE = OPC_PROPERTY_TIMEZONE;
inline constexpr DWORD OPC_PROP_ALMSTAT = OPC_PROPERTY_CONDITION_STATUS;
inline constexpr DWORD OPC_PROP_ALMHELP = OPC_PROPERTY_ALARM_QUICK_HELP;
inline constexpr DWORD OPC_PROP_ALMAREAS = OPC_PROPERTY_ALARM_AREA_LIST;
inline constexpr DWORD OPC_PROP_ALMPRIMARYAREA = OPC_PROPERTY_PRIMARY_ALARM_AREA;
inline constexpr DWORD OPC_PROP_ALMCONDITION = OPC_PROPERTY_CONDITION_LOGIC;
inline constexpr DWORD OPC_PROP_ALMLIMIT = OPC_PROPERTY_LIMIT_EXCEEDED;
inline constexpr DWORD OPC_PROP_ALMDB = OPC_PROPERTY_DEADBAND;
inline constexpr DWORD OPC_PROP_ALMHH = OPC_PROPERTY_HIHI_LIMIT;
inline constexpr DWORD OPC_PROP_ALMH = OPC_PROPERTY_HI_LIMIT;
inline constexpr DWORD OPC_PROP_ALML = OPC_PROPERTY_LO_LIMIT;
inline constexpr DWORD OPC_PROP_ALMLL = OPC_PROPERTY_LOLO_LIMIT;
inline constexpr DWORD OPC_PROP_ALMROC = OPC_PROPERTY_CHANGE_RATE_LIMIT;
inline constexpr DWORD OPC_PROP_ALMDEV = OPC_PROPERTY_DEVIATION_LIMIT;

namespace xelo::opc {

// The standard description of a property id, or null for an id OPC does
// not define (reserved and vendor ids). Servers hand this text out; clients
// use it for properties whose server gave no description.
constexpr const OLECHAR* PropertyDescription(DWORD propertyId) {
  switch (propertyId) {
    case OPC_PROPERTY_DATATYPE: return OPC_PROPERTY_DESC_DATATYPE;
    case OPC_PROPERTY_VALUE: return OPC_PROPERTY_DESC_VALUE;
    case OPC_PROPERTY_QUALITY: return OPC_PROPERTY_DESC_QUALITY;
    case OPC_PROPERTY_TIMESTAMP: return OPC_PROPERTY_DESC_TIMESTAMP;
    case OPC_PROPERTY_ACCESS_RIGHTS: return OPC_PROPERTY_DESC_ACCESS_RIGHTS;
    case OPC_PROPERTY_SCAN_RATE: return OPC_PROPERTY_DESC_SCAN_RATE;
    case OPC_PROPERTY_EU_TYPE: return OPC_PROPERTY_DESC_EU_TYPE;
    case OPC_PROPERTY_EU_INFO: return OPC_PROPERTY_DESC_EU_INFO;
    case OPC_PROPERTY_EU_UNITS: return OPC_PROPERTY_DESC_EU_UNITS;
    case OPC_PROPERTY_DESCRIPTION: return OPC_PROPERTY_DESC_DESCRIPTION;
    case OPC_PROPERTY_HIGH_EU: return OPC_PROPERTY_DESC_HIGH_EU;
    case OPC_PROPERTY_LOW_EU: return OPC_PROPERTY_DESC_LOW_EU;
    case OPC_PROPERTY_HIGH_IR: return OPC_PROPERTY_DESC_HIGH_IR;
    case OPC_PROPERTY_LOW_IR: return OPC_PROPERTY_DESC_LOW_IR;
    case OPC_PROPERTY_CLOSE_LABEL: return OPC_PROPERTY_DESC_CLOSE_LABEL;
    case OPC_PROPERTY_OPEN_LABEL: return OPC_PROPERTY_DESC_OPEN_LABEL;
    case OPC_PROPERTY_TIMEZONE: return OPC_PROPERTY_DESC_TIMEZONE;
    case OPC_PROPERTY_DEFAULT_DISPLAY: return OPC_PROPERTY_DESC_DEFAULT_DISPLAY;
    case OPC_PROPERTY_FOREGROUND_COLOR: return OPC_PROPERTY_DESC_FOREGROUND_COLOR;
    case OPC_PROPERTY_BACKGROUND_COLOR: return OPC_PROPERTY_DESC_BACKGROUND_COLOR;
    case OPC_PROPERTY_BLINK: return OPC_PROPERTY_DESC_BLINK;
    case OPC_PROPERTY_BMP_FILE: return OPC_PROPERTY_DESC_BMP_FILE;
    case OPC_PROPERTY_DISPLAY_SOUND_FILE: return OPC_PROPERTY_DESC_DISPLAY_SOUND_FILE;
    case OPC_PROPERTY_HTML_FILE: return OPC_PROPERTY_DESC_HTML_FILE;
    case OPC_PROPERTY_AVI_FILE: return OPC_PROPERTY_DESC_AVI_FILE;
    case OPC_PROPERTY_CONDITION_STATUS: return OPC_PROPERTY_DESC_CONDITION_STATUS;
    case OPC_PROPERTY_ALARM_QUICK_HELP: return OPC_PROPERTY_DESC_ALARM_QUICK_HELP;
    case OPC_PROPERTY_ALARM_AREA_LIST: return OPC_PROPERTY_DESC_ALARM_AREA_LIST;
    case OPC_PROPERTY_PRIMARY_ALARM_AREA: return OPC_PROPERTY_DESC_PRIMARY_ALARM_AREA;
    case OPC_PROPERTY_CONDITION_LOGIC: return OPC_PROPERTY_DESC_CONDITION_LOGIC;
    case OPC_PROPERTY_LIMIT_EXCEEDED: return OPC_PROPERTY_DESC_LIMIT_EXCEEDED;
    case OPC_PROPERTY_DEADBAND: return OPC_PROPERTY_DESC_DEADBAND;
    case OPC_PROPERTY_HIHI_LIMIT: return OPC_PROPERTY_DESC_HIHI_LIMIT;
    case OPC_PROPERTY_HI_LIMIT: return OPC_PROPERTY_DESC_HI_LIMIT;
    case OPC_PROPERTY_LO_LIMIT: return OPC_PROPERTY_DESC_LO_LIMIT;
    case OPC_PROPERTY_LOLO_LIMIT: return OPC_PROPERTY_DESC_LOLO_LIMIT;
    case OPC_PROPERTY_CHANGE_RATE_LIMIT: return OPC_PROPERTY_DESC_CHANGE_RATE_LIMIT;
    case OPC_PROPERTY_DEVIATION_LIMIT: return OPC_PROPERTY_DESC_DEVIATION_LIMIT;
    case OPC_PROPERTY_SOUND_FILE: return OPC_PROPERTY_DESC_SOUND_FILE;
    case OPC_PROPERTY_TYPE_SYSTEM_ID: return OPC_PROPERTY_DESC_TYPE_SYSTEM_ID;
    case OPC_PROPERTY_DICTIONARY_ID: return OPC_PROPERTY_DESC_DICTIONARY_ID;
    case OPC_PROPERTY_TYPE_ID: return OPC_PROPERTY_DESC_TYPE_ID;
    case OPC_PROPERTY_DICTIONARY: return OPC_PROPERTY_DESC_DICTIONARY;
    case OPC_PROPERTY_TYPE_DESCRIPTION: return OPC_PROPERTY_DESC_TYPE_DESCRIPTION;
    case OPC_PROPERTY_CONSISTENCY_WINDOW: return OPC_PROPERTY_DESC_CONSISTENCY_WINDOW;
    case OPC_PROPERTY_WRITE_BEHAVIOR: return OPC_PROPERTY_DESC_WRITE_BEHAVIOR;
    case OPC_PROPERTY_UNCONVERTED_ITEM_ID: return OPC_PROPERTY_DESC_UNCONVERTED_ITEM_ID;
    case OPC_PROPERTY_UNFILTERED_ITEM_ID: return OPC_PROPERTY_DESC_UNFILTERED_ITEM_ID;
    case OPC_PROPERTY_DATA_FILTER_VALUE: return OPC_PROPERTY_DESC_DATA_FILTER_VALUE;
    default: return nullptr;
  }
}

}  // namespace xelo::opc
