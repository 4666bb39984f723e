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
#include <initializer_list>
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

// The interface's own methods, in their published order, follow IUnknown's
// three (whose own order every call in these tests relies on).
void ExpectSlots(const char* name, std::initializer_list<long> slots) {
  long expected = 3;
  for (long slot : slots) EXPECT_EQ(slot, expected++) << name << ", method " << expected - 4;
}

#define XELO_SLOTS(Interface, ...) { using I = Interface; ExpectSlots(#Interface, {__VA_ARGS__}); }
#define S(Method) SlotOf(&I::Method)

TEST(OpcVtable, EveryMethodSitsInItsPublishedSlot) {
#if !defined(__GXX_ABI_VERSION)
  GTEST_SKIP() << "reads member function pointers as the Itanium C++ ABI lays them out";
#endif
  XELO_SLOTS(IOPCServer, S(AddGroup), S(GetErrorString), S(GetGroupByName), S(GetStatus), S(RemoveGroup),
             S(CreateGroupEnumerator));
  XELO_SLOTS(IOPCServerPublicGroups, S(GetPublicGroupByName), S(RemovePublicGroup));
  XELO_SLOTS(IOPCBrowseServerAddressSpace, S(QueryOrganization), S(ChangeBrowsePosition), S(BrowseOPCItemIDs),
             S(GetItemID), S(BrowseAccessPaths));
  XELO_SLOTS(IOPCGroupStateMgt, S(GetState), S(SetState), S(SetName), S(CloneGroup));
  XELO_SLOTS(IOPCPublicGroupStateMgt, S(GetState), S(MoveToPublic));
  XELO_SLOTS(IOPCSyncIO, S(Read), S(Write));
  XELO_SLOTS(IOPCAsyncIO, S(Read), S(Write), S(Refresh), S(Cancel));
  XELO_SLOTS(IOPCItemMgt, S(AddItems), S(ValidateItems), S(RemoveItems), S(SetActiveState), S(SetClientHandles),
             S(SetDatatypes), S(CreateEnumerator));
  XELO_SLOTS(IEnumOPCItemAttributes, S(Next), S(Skip), S(Reset), S(Clone));
  XELO_SLOTS(IOPCDataCallback, S(OnDataChange), S(OnReadComplete), S(OnWriteComplete), S(OnCancelComplete));
  XELO_SLOTS(IOPCAsyncIO2, S(Read), S(Write), S(Refresh2), S(Cancel2), S(SetEnable), S(GetEnable));
  XELO_SLOTS(IOPCItemProperties, S(QueryAvailableProperties), S(GetItemProperties), S(LookupItemIDs));
  XELO_SLOTS(IOPCShutdown, S(ShutdownRequest));
  XELO_SLOTS(IOPCCommon, S(SetLocaleID), S(GetLocaleID), S(QueryAvailableLocaleIDs), S(GetErrorString),
             S(SetClientName));
  XELO_SLOTS(IOPCServerList, S(EnumClassesOfCategories), S(GetClassDetails), S(CLSIDFromProgID));
  XELO_SLOTS(IOPCServerList2, S(EnumClassesOfCategories), S(GetClassDetails), S(CLSIDFromProgID));
  XELO_SLOTS(IOPCEnumGUID, S(Next), S(Skip), S(Reset), S(Clone));
}

#undef S
#undef XELO_SLOTS

// What one callback received. Pointers are compared, not copied: a sink
// gets the caller's arrays themselves.
struct Received {
  std::string method;
  DWORD transid = 0;
  OPCHANDLE group = 0;
  HRESULT quality = 0, error = 0;
  DWORD count = 0;
  const void *items = nullptr, *values = nullptr, *qualities = nullptr, *times = nullptr, *errors = nullptr;
  friend bool operator==(const Received&, const Received&) = default;
};

struct RecordingSinks : xelo::com::ComObject<IOPCDataCallback, IOPCShutdown> {
  std::vector<Received> calls;
  std::vector<LPCWSTR> reasons;

  STDMETHOD(OnDataChange)(DWORD transid, OPCHANDLE group, HRESULT quality, HRESULT error, DWORD count,
                          OPCHANDLE* items, VARIANT* values, WORD* qualities, FILETIME* times,
                          HRESULT* errors) override {
    calls.push_back({"OnDataChange", transid, group, quality, error, count, items, values, qualities, times, errors});
    return S_OK;
  }
  STDMETHOD(OnReadComplete)(DWORD transid, OPCHANDLE group, HRESULT quality, HRESULT error, DWORD count,
                            OPCHANDLE* items, VARIANT* values, WORD* qualities, FILETIME* times,
                            HRESULT* errors) override {
    calls.push_back({"OnReadComplete", transid, group, quality, error, count, items, values, qualities, times, errors});
    return S_OK;
  }
  STDMETHOD(OnWriteComplete)(DWORD transid, OPCHANDLE group, HRESULT error, DWORD count, OPCHANDLE* items,
                             HRESULT* errors) override {
    calls.push_back({"OnWriteComplete", transid, group, 0, error, count, items, nullptr, nullptr, nullptr, errors});
    return S_OK;
  }
  STDMETHOD(OnCancelComplete)(DWORD transid, OPCHANDLE group) override {
    calls.push_back({"OnCancelComplete", transid, group});
    return S_OK;
  }
  STDMETHOD(ShutdownRequest)(LPCWSTR reason) override {
    reasons.push_back(reason);
    return S_OK;
  }
};

TEST(OpcVtable, SinkCallsReachTheirMethodWithTheirArguments) {
  auto object = xelo::com::MakeComObject<RecordingSinks>();
  // Reached the way a server reaches them: by IID through QueryInterface.
  xelo::com::ComPtr<IOPCDataCallback> sink;
  xelo::com::ComPtr<IOPCShutdown> shutdown;
  ASSERT_EQ(object->QueryInterface(IID_IOPCDataCallback, sink.PutVoid()), S_OK);
  ASSERT_EQ(object->QueryInterface(IID_IOPCShutdown, shutdown.PutVoid()), S_OK);

  OPCHANDLE items[2] = {11, 12};
  VARIANT values[2] = {};  // zero is VT_EMPTY
  WORD qualities[2] = {OPC_QUALITY_GOOD, OPC_QUALITY_BAD};
  FILETIME times[2] = {{1, 2}, {3, 4}};
  HRESULT errors[2] = {S_OK, OPC_E_BADRIGHTS};
  sink->OnDataChange(0, 7, S_FALSE, S_OK, 2, items, values, qualities, times, errors);
  sink->OnReadComplete(101, 8, S_OK, S_FALSE, 1, items + 1, values + 1, qualities + 1, times + 1, errors + 1);
  sink->OnWriteComplete(102, 9, S_FALSE, 2, items, errors);
  sink->OnCancelComplete(103, 10);
  const std::vector<Received> expected{
      {"OnDataChange", 0, 7, S_FALSE, S_OK, 2, items, values, qualities, times, errors},
      {"OnReadComplete", 101, 8, S_OK, S_FALSE, 1, items + 1, values + 1, qualities + 1, times + 1, errors + 1},
      {"OnWriteComplete", 102, 9, 0, S_FALSE, 2, items, nullptr, nullptr, nullptr, errors},
      {"OnCancelComplete", 103, 10},
  };
  EXPECT_EQ(object->calls, expected);

  const OLECHAR reason[] = OLESTR("Server going down for maintenance");
  shutdown->ShutdownRequest(reason);
  shutdown->ShutdownRequest(nullptr);
  EXPECT_EQ(object->reasons, (std::vector<LPCWSTR>{reason, nullptr}));
}

}  // namespace
