#include "xelo/core/XeloBrowser.h"

#include "xelo/com/WideText.h"
#include "xelo/core/ServerBuffers.h"
#include "xelo/core/XeloServer.h"
#include "xelo/core/XeloStrings.h"
#include "xelo/framework/SysUtils.h"

#include <exception>
#include <string>
#include <vector>

namespace xelo {

namespace {

// Moves every name of `names` into `list`, one fetch at a time, until the
// enumerator answers anything but S_OK (the end, or a failure: either way
// the list holds what came before).
void EnumStringsToList(IEnumString& names, TStrings& list) {
  list.Clear();
  for (;;) {
    ReturnedText name;
    ULONG fetched = 0;
    if (names.Next(1, name.Put(), &fetched) != S_OK) break;
    list.Add(name.Text());
  }
}

}  // namespace

const TTypeInfoPtr& OPCAccessRightInfo() {
  static const TTypeInfoPtr type =
      MakeEnumType("OPCAccessRight", std::vector<std::string>{"opcReadable", "opcWritable"});
  return type;
}

// ---- construction ------------------------------------------------------------

TXeloBrowser::TXeloBrowser(TComponent* owner) : TComponent(owner) {}

// The browse interface goes with the members; the server component's
// bookkeeping of this browser is undone by the component destructor.
TXeloBrowser::~TXeloBrowser() = default;

TClass TXeloBrowser::StaticClass() {
  using T = TXeloBrowser;
  static const TMetaClass meta = TClassBuilder<T>("TXeloBrowser")
                                     .Object("OPCServer", &T::GetOPCServer, &T::SetOPCServer)
                                     .String("Filter", &T::GetFilter, &T::SetFilter)
                                     .Enum("Datatype", &T::GetDatatype, &T::SetDatatype, OPCADatatypeInfo())
                                     .Set("AccessRights", &T::GetAccessRights, &T::SetAccessRights,
                                          OPCAccessRightInfo())
                                     .Build();
  return &meta;
}

namespace {
// Forms that place their own browser create it by class name.
const bool registered = [] {
  RegisterClass(TXeloBrowser::StaticClass());
  return true;
}();
}  // namespace

// ---- binding -----------------------------------------------------------------

void TXeloBrowser::SetOPCServer(TXeloServer* Server) {
  if (server_ != nullptr && server_ != Server) RemoveFreeNotification(server_);
  server_ = Server;
  // A server component may live under another owner; it still has to tell
  // us when it dies, or server_ would dangle.
  if (server_ != nullptr) FreeNotification(server_);
  organization_ = -1;
  items_.Clear();
  positionList_.Clear();
  browser_ = nullptr;
}

void TXeloBrowser::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  // The server component may be half destroyed already: compare, never call.
  if (operation == opRemove && component != nullptr && component == server_) SetOPCServer(nullptr);
}

com::ComPtr<IOPCBrowseServerAddressSpace> TXeloBrowser::GetBrowser() {
  if (server_ == nullptr) throw EOPCException(kTextNoServerObject);
  if (!browser_) {
    items_.Clear();
    positionList_.Clear();
    organization_ = -1;
    // Without a connection the server component has reported that already;
    // "no browser interface" on top of it would only mislead.
    const com::ComPtr<IOPCServer> server = server_->GetOPCServer();
    if (server) {
      server.As(browser_);
      if (!browser_) server_->Fault(_STR_NOBROWSER);
    }
  }
  return browser_;
}

std::int32_t TXeloBrowser::GetOrganization() {
  if (organization_ == -1) {
    const com::ComPtr<IOPCBrowseServerAddressSpace> browser = GetBrowser();
    if (browser) {
      OPCNAMESPACETYPE organization{};
      if (Check(browser->QueryOrganization(&organization))) organization_ = organization;
    }
  }
  return organization_;
}

bool TXeloBrowser::Check(HRESULT Code) {
  if (SUCCEEDED(Code)) return true;
  if (server_ == nullptr) throw EOPCException(kTextNoServerObject);
  // The server knows its own codes best; our table and the system's texts
  // are the fallback for servers that stay silent.
  std::string text = server_->GetErrorString(Code);
  if (Trim(text).empty()) {
    try {
      OPCCheck(Code);
    } catch (const Exception& e) {
      text = e.Message();
    }
  }
  server_->Fault(kTextBrowserPrefix + text);
  return false;
}

// ---- moves -------------------------------------------------------------------

bool TXeloBrowser::Move(OPCBROWSEDIRECTION direction, const std::string& text) {
  // A flat space has no position to move; the server is not bothered.
  if (GetOrganization() == OPC_NS_FLAT) return false;
  try {
    // GetOrganization has just settled the browse interface: when there is
    // none, its absence has been reported once and that is enough.
    if (!browser_) return false;
    const com::OleString wide = StringToWide(text);
    return Check(browser_->ChangeBrowsePosition(direction, wide.c_str()));
  } catch (const std::exception&) {
    // OnError has seen the failure; a move answers with false, it does not
    // raise (dialogs walk the tree and simply stay where they are).
    return false;
  }
}

bool TXeloBrowser::MoveDown(const std::string& Name) {
  if (!Move(OPC_BROWSE_DOWN, Name)) return false;
  positionList_.Add(Name);
  return true;
}

bool TXeloBrowser::Moveup() {
  if (!Move(OPC_BROWSE_UP, std::string())) return false;
  if (positionList_.GetCount() > 0) positionList_.Delete(positionList_.GetCount() - 1);
  return true;
}

bool TXeloBrowser::MovetoRoot() {
  if (!Move(OPC_BROWSE_TO, std::string())) return false;
  positionList_.Clear();
  return true;
}

bool TXeloBrowser::Moveto(const std::string& Path) {
  if (!Move(OPC_BROWSE_TO, Path)) return false;
  positionList_.Clear();
  if (Path.empty()) return true;  // the root has no parts
  // Only "." separates branch names; blanks are part of them.
  std::string::size_type start = 0;
  for (;;) {
    const std::string::size_type dot = Path.find('.', start);
    if (dot == std::string::npos) {
      positionList_.Add(Path.substr(start));
      break;
    }
    positionList_.Add(Path.substr(start, dot - start));
    start = dot + 1;
  }
  return true;
}

// ---- listings ----------------------------------------------------------------

void TXeloBrowser::GetOPCTags(OPCBROWSETYPE BrowseType) {
  items_.Clear();
  List(BrowseType, GetOrganization());
}

void TXeloBrowser::ShowBranches() { GetOPCTags(OPC_BRANCH); }

void TXeloBrowser::ShowLeafs(bool Flat) {
  items_.Clear();
  // Asked once here and handed on, so that a failure is reported once.
  const std::int32_t organization = GetOrganization();
  List(Flat || organization == OPC_NS_FLAT ? OPC_FLAT : OPC_LEAF, organization);
}

void TXeloBrowser::List(OPCBROWSETYPE browseType, std::int32_t organization) {
  if (organization == OPC_NS_FLAT && browseType == OPC_BRANCH) return;  // no branches there
  if (!browser_) return;  // reported by GetOrganization already
  DWORD accessMask = 0;
  if (accessRights_.Contains(opcReadable)) accessMask |= OPC_READABLE;
  if (accessRights_.Contains(opcWritable)) accessMask |= OPC_WRITEABLE;
  const com::OleString filter = StringToWide(filter_);
  com::ComPtr<IEnumString> names;
  Check(browser_->BrowseOPCItemIDs(browseType, filter.c_str(), static_cast<VARTYPE>(datatype_), accessMask,
                                   names.Put()));
  if (names) EnumStringsToList(*names, items_);
}

std::string TXeloBrowser::GetCurrentPosition() const {
  std::string position;
  for (int i = 0; i < positionList_.GetCount(); ++i) {
    if (i > 0) position += '.';
    position += positionList_.Get(i);
  }
  return position;
}

std::string TXeloBrowser::GetItemId(const std::string& Name) {
  const com::ComPtr<IOPCBrowseServerAddressSpace> browser = GetBrowser();
  if (!browser) return {};
  com::OleString name = StringToWide(Name);  // the interface takes a mutable string
  ReturnedText itemId;
  if (!Check(browser->GetItemID(name.data(), itemId.Put()))) return {};
  return itemId.Text();
}

void TXeloBrowser::GetAccessPath(const std::string& ItemID, TStrings& Strings) {
  Strings.Clear();
  const com::ComPtr<IOPCBrowseServerAddressSpace> browser = GetBrowser();
  if (!browser) return;
  const com::OleString itemId = StringToWide(ItemID);
  com::ComPtr<IEnumString> paths;
  Check(browser->BrowseAccessPaths(itemId.c_str(), paths.Put()));
  if (paths) EnumStringsToList(*paths, Strings);
}

}  // namespace xelo
