#include "xelo/core/XeloServerBrowser.h"

#include "xelo/com/Activation.h"
#include "xelo/com/ComPtr.h"
#include "xelo/com/Guid.h"
#include "xelo/com/TaskMemory.h"
#include "xelo/com/WideText.h"
#include "xelo/core/RegistryServerList.h"
#include "xelo/core/ServerBuffers.h"
#include "xelo/core/XeloFormat.h"
#include "xelo/framework/Exceptions.h"
#include "xelo/framework/Registry.h"
#include "xelo/framework/Strings.h"
#include "xelo/framework/SysUtils.h"

#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

namespace xelo {

namespace {

// Frees a block of the task allocator whichever way the caller leaves.
struct TaskFree {
  void operator()(void* block) const { ::CoTaskMemFree(block); }
};

}  // namespace

const TTypeInfoPtr& tXeloServerTypeInfo() {
  static const TTypeInfoPtr type =
      MakeEnumType("tXeloServerType", std::vector<std::string>{"svr_DA20", "svr_DA10", "svr_AE10"});
  return type;
}

// ---- GetOPCServers -------------------------------------------------------------

void GetOPCServers(TStrings& List) {
  List.Clear();
  try {
    std::string name;
    for (int index = 0; EnumKey(HKEY_CLASSES_ROOT, index, name); ++index) {
      TRegistry key(HKEY_CLASSES_ROOT);
      // Root-relative, so that a key name is never read as a path below the
      // previous one.
      if (!key.OpenKeyReadOnly("\\" + name)) continue;
      if (key.KeyExists("OPC")) List.Add(name);
    }
  } catch (const Exception&) {
    // A registry that cannot be read any further ends the list; what was
    // found so far is the answer.
  }
}

// ---- TxeloServerBrowser: construction -----------------------------------------

TxeloServerBrowser::TxeloServerBrowser(TComponent* owner) : TComponent(owner) {}

TxeloServerBrowser::~TxeloServerBrowser() { Clear(); }

TClass TxeloServerBrowser::StaticClass() {
  using T = TxeloServerBrowser;
  static const TMetaClass meta =
      TClassBuilder<T>("TxeloServerBrowser")
          .String("ComputerName", &T::GetComputerName, &T::SetComputerName)
          // The set is one byte; published as its bit mask.
          .Set(
              "Servertype", [](const T& browser) { return browser.GetServertype().Bits(); },
              [](T& browser, std::uint8_t bits) { browser.SetServertype(tXeloServerSet::FromBits(bits)); },
              tXeloServerTypeInfo())
          .Build();
  return &meta;
}

namespace {
// Forms that hold a server browser create it by class name.
const bool registered = [] {
  RegisterClass(TxeloServerBrowser::StaticClass());
  return true;
}();
}  // namespace

// ---- enumeration ---------------------------------------------------------------

void TxeloServerBrowser::Execute() {
  Clear();
  com::ComPtr<IOPCServerList> serverList;
  if (computerName_.empty()) {
    HRESULT hr = CoCreateInstance(CLSID_OPCServerList, nullptr, CLSCTX_ALL, IID_IOPCServerList, serverList.PutVoid());
#if XELO_COM_NATIVE
    // Without an installed enumerator this computer's registry still knows
    // its servers.
    if (hr == REGDB_E_CLASSNOTREG) hr = CreateRegistryServerList(serverList);
#endif
    OleCheck(hr);
  } else {
    com::OleString computer = StringToWide(computerName_);
    COSERVERINFO serverInfo{0, computer.data(), nullptr, 0};
    MULTI_QI query{&IID_IOPCServerList, nullptr, S_OK};
    const HRESULT hr = CoCreateInstanceEx(CLSID_OPCServerList, nullptr, CLSCTX_ALL, &serverInfo, 1, &query);
    serverList = com::ComPtr<IOPCServerList>::Attach(static_cast<IOPCServerList*>(query.pItf));
    OleCheck(hr);
    OleCheck(query.hr);
  }
  if (!serverList) OleError(E_NOINTERFACE);
  // DA 1.0 first: a server in both DA categories keeps the place of its
  // DA 1.0 finding, as the server dialog has always shown it.
  if (servertype_.Contains(svr_DA10)) GetServers(*serverList, CATID_OPCDAServer10, {svr_DA10});
  if (servertype_.Contains(svr_DA20)) GetServers(*serverList, CATID_OPCDAServer20, {svr_DA20});
  if (servertype_.Contains(svr_AE10)) GetServers(*serverList, CATID_OPCAEServer10, {svr_AE10});
}

void TxeloServerBrowser::GetOPCServers(const std::string& Computer) {
  computerName_ = Computer;
  Execute();
}

void TxeloServerBrowser::GetServers(IOPCServerList& ServerList, REFGUID Category, tXeloServerSet Types) {
  // The category array goes out on the task allocator, as enumerators on
  // other computers expect of marshalled arrays.
  const std::unique_ptr<CATID, TaskFree> categories(static_cast<CATID*>(::CoTaskMemAlloc(sizeof(CATID))));
  if (!categories) throw std::bad_alloc();
  categories.get()[0] = Category;

  com::ComPtr<IEnumGUID> classes;
  OleCheck(ServerList.EnumClassesOfCategories(1, categories.get(), 0, nullptr, classes.Put()));
  if (!classes) return;  // a success without an enumerator lists nothing
  CLSID clsid{};
  ULONG fetched = 0;
  while (classes->Next(1, &clsid, &fetched) == S_OK) {
    ReturnedText progId;
    ReturnedText userType;
    OleCheck(ServerList.GetClassDetails(clsid, progId.Put(), userType.Put()));
    ReturnedText classIdText;
    std::string classId;
    if (SUCCEEDED(StringFromCLSID(clsid, classIdText.Put()))) classId = classIdText.Text();
    AddServer(userType.Text(), progId.Text(), classId, Types);
  }
}

// ---- entries -------------------------------------------------------------------

void TxeloServerBrowser::AddServer(const std::string& UserType, const std::string& ProgID,
                                   const std::string& ClassID, tXeloServerSet Types) {
  TxeloServerItem* entry = GetServer(ClassID);
  if (entry == nullptr) {
    items_.push_back(std::make_unique<TxeloServerItem>(computerName_, UserType, ProgID, ClassID));
    entry = items_.back().get();
  }
  entry->ServerTypes = entry->ServerTypes | Types;
}

TxeloServerItem* TxeloServerBrowser::GetServer(const std::string& ClassID) const {
  for (auto it = items_.rbegin(); it != items_.rend(); ++it) {
    if ((*it)->ClassID == ClassID) return it->get();
  }
  return nullptr;
}

void TxeloServerBrowser::Clear() {
  while (!items_.empty()) items_.pop_back();
}

void TxeloServerBrowser::CheckIndex(int index) const {
  if (index < 0 || index >= GetCount()) throw EListError(Format("List index out of bounds (%d)", index));
}

TxeloServerItem* TxeloServerBrowser::GetItems(int Index) const {
  CheckIndex(Index);
  return items_[static_cast<std::size_t>(Index)].get();
}

std::unique_ptr<TxeloServerItem> TxeloServerBrowser::SetItems(int Index, std::unique_ptr<TxeloServerItem> Entry) {
  CheckIndex(Index);
  if (!Entry) throw std::invalid_argument("TxeloServerBrowser::SetItems: no entry");
  items_[static_cast<std::size_t>(Index)].swap(Entry);
  return Entry;
}

}  // namespace xelo
