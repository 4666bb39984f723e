// The component categories OPC servers register under, so that a client
// (or the server browser) can find the servers of a kind without creating
// them. A server lists every category it serves: a DA 2.0 server that still
// speaks DA 1.0 registers both.
#pragma once

#include "xelo/com/Guid.h"
#include "xelo/com/WinTypes.h"

inline constexpr CATID CATID_OPCDAServer10{0x63D5F430, 0xCFE4, 0x11D1,
                                           {0xB2, 0xC8, 0x00, 0x60, 0x08, 0x3B, 0xA1, 0xFB}};
inline constexpr CATID CATID_OPCDAServer20{0x63D5F432, 0xCFE4, 0x11D1,
                                           {0xB2, 0xC8, 0x00, 0x60, 0x08, 0x3B, 0xA1, 0xFB}};
inline constexpr CATID CATID_OPCDAServer30{0xCC603642, 0x66D7, 0x48F1,
                                           {0xB6, 0x9A, 0xB6, 0x25, 0xE7, 0x36, 0x52, 0xD7}};
inline constexpr CATID CATID_XMLDAServer10{0x3098EDA4, 0xA006, 0x48B2,
                                           {0xA2, 0x7F, 0x24, 0x74, 0x53, 0x95, 0x94, 0x08}};
inline constexpr CATID CATID_OPCAEServer10{0x58E13251, 0xAC87, 0x11D1,
                                           {0x84, 0xD5, 0x00, 0x60, 0x8C, 0xB8, 0xA7, 0xE9}};
inline constexpr CATID CATID_OPCHDAServer10{0x7DE5B060, 0xE089, 0x11D2,
                                            {0xA5, 0xE6, 0x00, 0x00, 0x86, 0x33, 0x93, 0x99}};

// The texts the categories are registered with.
inline constexpr OLECHAR OPC_CATEGORY_DESCRIPTION_DA10[] = OLESTR("OPC Data Access Servers Version 1.0");
inline constexpr OLECHAR OPC_CATEGORY_DESCRIPTION_DA20[] = OLESTR("OPC Data Access Servers Version 2.0");
inline constexpr OLECHAR OPC_CATEGORY_DESCRIPTION_DA30[] = OLESTR("OPC Data Access Servers Version 3.0");
inline constexpr OLECHAR OPC_CATEGORY_DESCRIPTION_XMLDA10[] = OLESTR("OPC XML Data Access Servers Version 1.0");
inline constexpr OLECHAR OPC_CATEGORY_DESCRIPTION_AE10[] = OLESTR("OPC Alarm & Event Server Version 1.0");
