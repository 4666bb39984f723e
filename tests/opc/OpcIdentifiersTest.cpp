// Every identifier is written by hand as the field form in our headers; a
// few are checked against their registry text form, and all of them for
// repeats (a copied line whose digits were not changed).
#include "xelo/opc/Opc.h"

#include "xelo/com/Guid.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

TEST(OpcIdentifiers, MatchTheirRegistryTextAndAreDistinct) {
  const std::pair<GUID, const char*> known[] = {
      {IID_IOPCServer, "{39C13A4D-011E-11D0-9675-0020AFD8ADB3}"},
      {IID_IOPCDataCallback, "{39C13A70-011E-11D0-9675-0020AFD8ADB3}"},
      {IID_IOPCShutdown, "{F31DFDE1-07B6-11D2-B2D8-0060083BA1FB}"},
      {IID_IOPCServerList2, "{9DD0B56C-AD9E-43EE-8305-487F3188BF7A}"},
      {CATID_OPCDAServer20, "{63D5F432-CFE4-11D1-B2C8-0060083BA1FB}"},
      {IID_IOPCGroupStateMgt2, "{8E368666-D72E-4F78-87ED-647611C61C9F}"},
  };
  for (const auto& [guid, text] : known) EXPECT_EQ(xelo::com::GuidToString(guid), text);

  const GUID all[] = {
      IID_IOPCServer, IID_IOPCServerPublicGroups, IID_IOPCBrowseServerAddressSpace, IID_IOPCGroupStateMgt,
      IID_IOPCPublicGroupStateMgt, IID_IOPCSyncIO, IID_IOPCAsyncIO, IID_IOPCItemMgt, IID_IEnumOPCItemAttributes,
      IID_IOPCDataCallback, IID_IOPCAsyncIO2, IID_IOPCItemProperties, IID_IOPCShutdown, IID_IOPCCommon,
      IID_IOPCServerList, IID_IOPCServerList2, IID_IOPCEnumGUID, CLSID_OPCServerList, LIBID_OPCCOMN,
      CATID_OPCDAServer10, CATID_OPCDAServer20, CATID_OPCDAServer30, CATID_XMLDAServer10, CATID_OPCAEServer10,
      CATID_OPCHDAServer10, IID_IOPCItemDeadbandMgt, IID_IOPCItemSamplingMgt, IID_IOPCBrowse, IID_IOPCItemIO,
      IID_IOPCSyncIO2, IID_IOPCAsyncIO3, IID_IOPCGroupStateMgt2,
  };
  std::set<std::string> seen;
  for (const GUID& guid : all) {
    EXPECT_TRUE(seen.insert(xelo::com::GuidToString(guid)).second) << xelo::com::GuidToString(guid) << " repeats";
  }
}

}  // namespace
