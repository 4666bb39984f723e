// A server built by another compiler calls our sinks, and we call its
// objects, by vtable slot. These tests pin the slot of every method and
// prove that calls through the interfaces reach the right method with the
// arguments intact.
#include "xelo/opc/Opc.h"

#include "xelo/com/ComObject.h"
#include "xelo/com/ComPtr.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

namespace {

// The vtable slot a pointer to a virtual member function refers to. In the
// Itanium C++ ABI (GCC, Clang) such a pointer holds 1 + the byte offset of
// the slot, and an adjustment of `this` that is 0 for single inheritance.
template <class MemberFunction>
long SlotOf(MemberFunction method) {
  static_assert(sizeof(MemberFunction) == 2 * sizeof(std::ptrdiff_t));
  std::ptrdiff_t raw[2];
  std::memcpy(raw, &method, sizeof raw);
  if ((raw[0] & 1) == 0 || raw[1] != 0) return -1;  // not a virtual function of a single base
  return static_cast<long>((raw[0] - 1) / static_cast<std::ptrdiff_t>(sizeof(void*)));
}

struct SlotRow {
  const char* method;
  long slot;
  long expected;
};

#define XELO_SLOT(Interface, Method, expected) SlotRow{#Interface "::" #Method, SlotOf(&Interface::Method), expected}

TEST(OpcVtable, EveryMethodSitsInItsPublishedSlot) {
#if !defined(__GXX_ABI_VERSION)
  GTEST_SKIP() << "reads member function pointers as the Itanium C++ ABI lays them out";
#endif
  const SlotRow rows[] = {
      // The SDK overloads QueryInterface with a template: the COM method is
      // named by its type.
      SlotRow{"IOPCServer::QueryInterface",
              SlotOf(static_cast<HRESULT (STDMETHODCALLTYPE IOPCServer::*)(REFIID, void**)>(&IOPCServer::QueryInterface)), 0},
      XELO_SLOT(IOPCServer, AddRef, 1),
      XELO_SLOT(IOPCServer, Release, 2),
      XELO_SLOT(IOPCServer, AddGroup, 3),
      XELO_SLOT(IOPCServer, GetErrorString, 4),
      XELO_SLOT(IOPCServer, GetGroupByName, 5),
      XELO_SLOT(IOPCServer, GetStatus, 6),
      XELO_SLOT(IOPCServer, RemoveGroup, 7),
      XELO_SLOT(IOPCServer, CreateGroupEnumerator, 8),
      XELO_SLOT(IOPCServerPublicGroups, GetPublicGroupByName, 3),
      XELO_SLOT(IOPCServerPublicGroups, RemovePublicGroup, 4),
      XELO_SLOT(IOPCBrowseServerAddressSpace, QueryOrganization, 3),
      XELO_SLOT(IOPCBrowseServerAddressSpace, ChangeBrowsePosition, 4),
      XELO_SLOT(IOPCBrowseServerAddressSpace, BrowseOPCItemIDs, 5),
      XELO_SLOT(IOPCBrowseServerAddressSpace, GetItemID, 6),
      XELO_SLOT(IOPCBrowseServerAddressSpace, BrowseAccessPaths, 7),
      XELO_SLOT(IOPCGroupStateMgt, GetState, 3),
      XELO_SLOT(IOPCGroupStateMgt, SetState, 4),
      XELO_SLOT(IOPCGroupStateMgt, SetName, 5),
      XELO_SLOT(IOPCGroupStateMgt, CloneGroup, 6),
      XELO_SLOT(IOPCPublicGroupStateMgt, GetState, 3),
      XELO_SLOT(IOPCPublicGroupStateMgt, MoveToPublic, 4),
      XELO_SLOT(IOPCSyncIO, Read, 3),
      XELO_SLOT(IOPCSyncIO, Write, 4),
      XELO_SLOT(IOPCAsyncIO, Read, 3),
      XELO_SLOT(IOPCAsyncIO, Write, 4),
      XELO_SLOT(IOPCAsyncIO, Refresh, 5),
      XELO_SLOT(IOPCAsyncIO, Cancel, 6),
      XELO_SLOT(IOPCItemMgt, AddItems, 3),
      XELO_SLOT(IOPCItemMgt, ValidateItems, 4),
      XELO_SLOT(IOPCItemMgt, RemoveItems, 5),
      XELO_SLOT(IOPCItemMgt, SetActiveState, 6),
      XELO_SLOT(IOPCItemMgt, SetClientHandles, 7),
      XELO_SLOT(IOPCItemMgt, SetDatatypes, 8),
      XELO_SLOT(IOPCItemMgt, CreateEnumerator, 9),
      XELO_SLOT(IEnumOPCItemAttributes, Next, 3),
      XELO_SLOT(IEnumOPCItemAttributes, Skip, 4),
      XELO_SLOT(IEnumOPCItemAttributes, Reset, 5),
      XELO_SLOT(IEnumOPCItemAttributes, Clone, 6),
      XELO_SLOT(IOPCDataCallback, OnDataChange, 3),
      XELO_SLOT(IOPCDataCallback, OnReadComplete, 4),
      XELO_SLOT(IOPCDataCallback, OnWriteComplete, 5),
      XELO_SLOT(IOPCDataCallback, OnCancelComplete, 6),
      XELO_SLOT(IOPCAsyncIO2, Read, 3),
      XELO_SLOT(IOPCAsyncIO2, Write, 4),
      XELO_SLOT(IOPCAsyncIO2, Refresh2, 5),
      XELO_SLOT(IOPCAsyncIO2, Cancel2, 6),
      XELO_SLOT(IOPCAsyncIO2, SetEnable, 7),
      XELO_SLOT(IOPCAsyncIO2, GetEnable, 8),
      XELO_SLOT(IOPCItemProperties, QueryAvailableProperties, 3),
      XELO_SLOT(IOPCItemProperties, GetItemProperties, 4),
      XELO_SLOT(IOPCItemProperties, LookupItemIDs, 5),
      XELO_SLOT(IOPCShutdown, ShutdownRequest, 3),
      XELO_SLOT(IOPCCommon, SetLocaleID, 3),
      XELO_SLOT(IOPCCommon, GetLocaleID, 4),
      XELO_SLOT(IOPCCommon, QueryAvailableLocaleIDs, 5),
      XELO_SLOT(IOPCCommon, GetErrorString, 6),
      XELO_SLOT(IOPCCommon, SetClientName, 7),
      XELO_SLOT(IOPCServerList, EnumClassesOfCategories, 3),
      XELO_SLOT(IOPCServerList, GetClassDetails, 4),
      XELO_SLOT(IOPCServerList, CLSIDFromProgID, 5),
      XELO_SLOT(IOPCServerList2, EnumClassesOfCategories, 3),
      XELO_SLOT(IOPCServerList2, GetClassDetails, 4),
      XELO_SLOT(IOPCServerList2, CLSIDFromProgID, 5),
      XELO_SLOT(IOPCEnumGUID, Next, 3),
      XELO_SLOT(IOPCEnumGUID, Skip, 4),
      XELO_SLOT(IOPCEnumGUID, Reset, 5),
      XELO_SLOT(IOPCEnumGUID, Clone, 6),
  };
  for (const SlotRow& row : rows) EXPECT_EQ(row.slot, row.expected) << row.method;
}

// What one callback received. Pointers are compared, not copied: a sink
// gets the caller's arrays themselves.
struct Received {
  std::string method;
  DWORD transid = 0;
  OPCHANDLE group = 0;
  HRESULT quality = 0;
  HRESULT error = 0;
  DWORD count = 0;
  OPCHANDLE* items = nullptr;
  VARIANT* values = nullptr;
  WORD* qualities = nullptr;
  FILETIME* times = nullptr;
  HRESULT* errors = nullptr;
  friend bool operator==(const Received&, const Received&) = default;
};

void PrintTo(const Received& r, std::ostream* out) {
  *out << r.method << "(transid " << r.transid << ", group " << r.group << ", quality " << r.quality
       << ", error " << r.error << ", count " << r.count << ", items " << r.items << ", values " << r.values
       << ", qualities " << r.qualities << ", times " << r.times << ", errors " << r.errors << ")";
}

class RecordingDataCallback : public xelo::com::ComObject<IOPCDataCallback> {
 public:
  std::vector<Received> calls;

  STDMETHOD(OnDataChange)(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality, HRESULT hrMastererror,
                          DWORD dwCount, OPCHANDLE* phClientItems, VARIANT* pvValues, WORD* pwQualities,
                          FILETIME* pftTimeStamps, HRESULT* pErrors) override {
    calls.push_back({"OnDataChange", dwTransid, hGroup, hrMasterquality, hrMastererror, dwCount, phClientItems,
                     pvValues, pwQualities, pftTimeStamps, pErrors});
    return S_OK;
  }
  STDMETHOD(OnReadComplete)(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality, HRESULT hrMastererror,
                            DWORD dwCount, OPCHANDLE* phClientItems, VARIANT* pvValues, WORD* pwQualities,
                            FILETIME* pftTimeStamps, HRESULT* pErrors) override {
    calls.push_back({"OnReadComplete", dwTransid, hGroup, hrMasterquality, hrMastererror, dwCount,
                     phClientItems, pvValues, pwQualities, pftTimeStamps, pErrors});
    return S_OK;
  }
  STDMETHOD(OnWriteComplete)(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMastererr, DWORD dwCount,
                             OPCHANDLE* pClienthandles, HRESULT* pErrors) override {
    calls.push_back({"OnWriteComplete", dwTransid, hGroup, 0, hrMastererr, dwCount, pClienthandles, nullptr,
                     nullptr, nullptr, pErrors});
    return S_OK;
  }
  STDMETHOD(OnCancelComplete)(DWORD dwTransid, OPCHANDLE hGroup) override {
    calls.push_back({"OnCancelComplete", dwTransid, hGroup});
    return S_OK;
  }
};

TEST(OpcVtable, DataCallbackCallsReachTheirMethodWithTheirArguments) {
  auto object = xelo::com::MakeComObject<RecordingDataCallback>();
  // Reached the way a server reaches it: by IID through QueryInterface.
  xelo::com::ComPtr<IOPCDataCallback> sink;
  ASSERT_EQ(object->QueryInterface(IID_IOPCDataCallback, sink.PutVoid()), S_OK);

  OPCHANDLE items[2] = {11, 12};
  VARIANT values[2] = {};  // zero is VT_EMPTY
  WORD qualities[2] = {OPC_QUALITY_GOOD, OPC_QUALITY_BAD};
  FILETIME times[2] = {{1, 2}, {3, 4}};
  HRESULT errors[2] = {S_OK, OPC_E_BADRIGHTS};

  EXPECT_EQ(sink->OnDataChange(0, 7, S_FALSE, S_OK, 2, items, values, qualities, times, errors), S_OK);
  EXPECT_EQ(sink->OnReadComplete(101, 8, S_OK, S_FALSE, 1, items + 1, values + 1, qualities + 1, times + 1,
                                 errors + 1),
            S_OK);
  EXPECT_EQ(sink->OnWriteComplete(102, 9, S_FALSE, 2, items, errors), S_OK);
  EXPECT_EQ(sink->OnCancelComplete(103, 10), S_OK);

  const std::vector<Received> expected{
      {"OnDataChange", 0, 7, S_FALSE, S_OK, 2, items, values, qualities, times, errors},
      {"OnReadComplete", 101, 8, S_OK, S_FALSE, 1, items + 1, values + 1, qualities + 1, times + 1, errors + 1},
      {"OnWriteComplete", 102, 9, 0, S_FALSE, 2, items, nullptr, nullptr, nullptr, errors},
      {"OnCancelComplete", 103, 10},
  };
  EXPECT_EQ(object->calls, expected);
}

class RecordingShutdown : public xelo::com::ComObject<IOPCShutdown> {
 public:
  std::vector<LPCWSTR> reasons;
  STDMETHOD(ShutdownRequest)(LPCWSTR szReason) override {
    reasons.push_back(szReason);
    return S_OK;
  }
};

TEST(OpcVtable, ShutdownRequestReachesTheSinkWithTheReason) {
  auto object = xelo::com::MakeComObject<RecordingShutdown>();
  xelo::com::ComPtr<IOPCShutdown> sink;
  ASSERT_EQ(object->QueryInterface(IID_IOPCShutdown, sink.PutVoid()), S_OK);

  const OLECHAR reason[] = OLESTR("Server going down for maintenance");
  EXPECT_EQ(sink->ShutdownRequest(reason), S_OK);
  EXPECT_EQ(sink->ShutdownRequest(nullptr), S_OK);
  ASSERT_EQ(object->reasons.size(), 2u);
  EXPECT_EQ(object->reasons[0], reason);
  EXPECT_EQ(object->reasons[1], nullptr);
}

}  // namespace
