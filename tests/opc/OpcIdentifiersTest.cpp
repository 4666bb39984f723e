// Every identifier is written twice by hand: as the field form in our
// headers and as the registry text form here. A digit mistyped in either
// place makes the two disagree.
#include "xelo/opc/Opc.h"

#include "xelo/com/Guid.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

struct IdRow {
  const char* name;
  GUID guid;
  const char* text;
};

#define XELO_ID_ROW(symbol, text) IdRow{#symbol, symbol, text}

const IdRow kIdentifiers[] = {
    XELO_ID_ROW(IID_IOPCServer, "{39C13A4D-011E-11D0-9675-0020AFD8ADB3}"),
    XELO_ID_ROW(IID_IOPCServerPublicGroups, "{39C13A4E-011E-11D0-9675-0020AFD8ADB3}"),
    XELO_ID_ROW(IID_IOPCBrowseServerAddressSpace, "{39C13A4F-011E-11D0-9675-0020AFD8ADB3}"),
    XELO_ID_ROW(IID_IOPCGroupStateMgt, "{39C13A50-011E-11D0-9675-0020AFD8ADB3}"),
    XELO_ID_ROW(IID_IOPCPublicGroupStateMgt, "{39C13A51-011E-11D0-9675-0020AFD8ADB3}"),
    XELO_ID_ROW(IID_IOPCSyncIO, "{39C13A52-011E-11D0-9675-0020AFD8ADB3}"),
    XELO_ID_ROW(IID_IOPCAsyncIO, "{39C13A53-011E-11D0-9675-0020AFD8ADB3}"),
    XELO_ID_ROW(IID_IOPCItemMgt, "{39C13A54-011E-11D0-9675-0020AFD8ADB3}"),
    XELO_ID_ROW(IID_IEnumOPCItemAttributes, "{39C13A55-011E-11D0-9675-0020AFD8ADB3}"),
    XELO_ID_ROW(IID_IOPCDataCallback, "{39C13A70-011E-11D0-9675-0020AFD8ADB3}"),
    XELO_ID_ROW(IID_IOPCAsyncIO2, "{39C13A71-011E-11D0-9675-0020AFD8ADB3}"),
    XELO_ID_ROW(IID_IOPCItemProperties, "{39C13A72-011E-11D0-9675-0020AFD8ADB3}"),
    XELO_ID_ROW(IID_IOPCShutdown, "{F31DFDE1-07B6-11D2-B2D8-0060083BA1FB}"),
    XELO_ID_ROW(IID_IOPCCommon, "{F31DFDE2-07B6-11D2-B2D8-0060083BA1FB}"),
    XELO_ID_ROW(IID_IOPCServerList, "{13486D50-4821-11D2-A494-3CB306C10000}"),
    XELO_ID_ROW(IID_IOPCServerList2, "{9DD0B56C-AD9E-43EE-8305-487F3188BF7A}"),
    XELO_ID_ROW(IID_IOPCEnumGUID, "{55C382C8-21C7-4E88-96C1-BECFB1E3F483}"),
    XELO_ID_ROW(CLSID_OPCServerList, "{13486D51-4821-11D2-A494-3CB306C10000}"),
    XELO_ID_ROW(LIBID_OPCCOMN, "{B28EEDB1-AC6F-11D1-84D5-00608CB8A7E9}"),
    XELO_ID_ROW(CATID_OPCDAServer10, "{63D5F430-CFE4-11D1-B2C8-0060083BA1FB}"),
    XELO_ID_ROW(CATID_OPCDAServer20, "{63D5F432-CFE4-11D1-B2C8-0060083BA1FB}"),
    XELO_ID_ROW(CATID_OPCDAServer30, "{CC603642-66D7-48F1-B69A-B625E73652D7}"),
    XELO_ID_ROW(CATID_XMLDAServer10, "{3098EDA4-A006-48B2-A27F-247453959408}"),
    XELO_ID_ROW(CATID_OPCAEServer10, "{58E13251-AC87-11D1-84D5-00608CB8A7E9}"),
    XELO_ID_ROW(CATID_OPCHDAServer10, "{7DE5B060-E089-11D2-A5E6-000086339399}"),
    XELO_ID_ROW(IID_IOPCItemDeadbandMgt, "{5946DA93-8B39-4EC8-AB3D-AA73DF5BC86F}"),
    XELO_ID_ROW(IID_IOPCItemSamplingMgt, "{3E22D313-F08B-41A5-86C8-95E95CB49FFC}"),
    XELO_ID_ROW(IID_IOPCBrowse, "{39227004-A18F-4B57-8B0A-5235670F4468}"),
    XELO_ID_ROW(IID_IOPCItemIO, "{85C0B427-2893-4CBC-BD78-E5FC5146F08F}"),
    XELO_ID_ROW(IID_IOPCSyncIO2, "{730F5F0F-55B1-4C81-9E18-FF8A0904E1FA}"),
    XELO_ID_ROW(IID_IOPCAsyncIO3, "{0967B97B-36EF-423E-B6F8-6BFF1E40D39D}"),
    XELO_ID_ROW(IID_IOPCGroupStateMgt2, "{8E368666-D72E-4F78-87ED-647611C61C9F}"),
};

TEST(OpcIdentifiers, FieldFormMatchesRegistryText) {
  for (const IdRow& row : kIdentifiers) {
    EXPECT_EQ(xelo::com::GuidToString(row.guid), row.text) << row.name;
  }
}

TEST(OpcIdentifiers, AreDistinct) {
  std::set<std::string> seen;
  for (const IdRow& row : kIdentifiers) {
    EXPECT_TRUE(seen.insert(xelo::com::GuidToString(row.guid)).second) << row.name << " repeats an identifier";
  }
}

}  // namespace
