// TXeloBrowser: walks the address space of the server a TXeloServer is
// connected to.
//
// The browser keeps a browse position on the server (moved with MoveDown,
// Moveup, MovetoRoot, Moveto) and mirrors it on the client in PositionList,
// the branch names from the root down. Listings (ShowBranches, ShowLeafs)
// put the names the server delivers into Items, filtered by Filter (the
// server's name pattern syntax), Datatype and AccessRights. Flat address
// spaces have leaves only: there the moves refuse without asking the server
// and every leaf listing is the flat one.
//
// Binding: OPCServer is a reference, not ownership. The browser asks the
// server component to tell it when it goes away and then unbinds itself, so
// destroying the server component first is safe. Every (re)binding starts
// afresh: lists empty, organisation unknown, browse interface released.
//
// Errors:
//   - no server component bound: EOPCException "first define server object",
//     raised directly (GetBrowser, so every operation that needs the server);
//   - server component not connected, or a server without the browsing
//     interface: reported through the server component's Fault;
//   - a browse call that fails: "Browser: " and the server's text for the
//     code (or the library's text when the server has none) through Fault.
//     Moves swallow whatever Fault raises and return false; listings let it
//     through. After a Fault that OnError suppressed, operations give their
//     neutral result (false, empty list, empty text).
//
// Thread: the main thread, like every component.
#pragma once

#include "xelo/com/ComPtr.h"
#include "xelo/core/XeloFormat.h"
#include "xelo/framework/Component.h"
#include "xelo/framework/Strings.h"
#include "xelo/opc/Opc.h"

#include <cstdint>
#include <string>

namespace xelo {

class TXeloServer;

// The access rights a leaf listing asks for.
enum OPCAccessRight { opcReadable, opcWritable };
using OPCAcesstype = TEnumSet<OPCAccessRight>;

// The enumeration type "OPCAccessRight" of the AccessRights property.
const TTypeInfoPtr& OPCAccessRightInfo();

class TXeloBrowser : public TComponent {
  XELO_CLASS(TXeloBrowser, TComponent)

 public:
  explicit TXeloBrowser(TComponent* owner);
  ~TXeloBrowser() override;

  // ---- published properties ----
  TXeloServer* GetOPCServer() const { return server_; }
  // Binds to `Server` (none unbinds); always starts afresh, also when it is
  // the component already bound.
  void SetOPCServer(TXeloServer* Server);
  // The filter, data type and access rights only take effect with the next
  // listing.
  const std::string& GetFilter() const { return filter_; }
  void SetFilter(const std::string& value) { filter_ = value; }
  OPCADatatype GetDatatype() const { return datatype_; }
  void SetDatatype(OPCADatatype value) { datatype_ = value; }
  OPCAcesstype GetAccessRights() const { return accessRights_; }
  void SetAccessRights(OPCAcesstype value) { accessRights_ = value; }

  // ---- the server's browsing interface ----
  // Obtained on first use; none when the server component is not connected
  // or its server cannot browse (after a Fault that OnError suppressed).
  com::ComPtr<IOPCBrowseServerAddressSpace> GetBrowser();
  // OPC_NS_HIERARCHIAL (1), OPC_NS_FLAT (2), or -1 while unknown (no
  // browsing interface, or the query failed). Asked once per binding.
  std::int32_t GetOrganization();
  // True for a success code. A failure is reported through Fault as
  // "Browser: " and its text; false when OnError suppressed the exception.
  bool Check(HRESULT Code);

  // ---- moves: true when the server moved; never raise past the
  // organisation query (a refused move was reported through Fault) ----
  bool MoveDown(const std::string& Name);
  bool Moveup();
  bool MovetoRoot();
  // `Path` is a full branch name; PositionList becomes its parts at ".".
  bool Moveto(const std::string& Path);

  // ---- listings into Items ----
  void GetOPCTags(OPCBROWSETYPE BrowseType);
  void ShowBranches();
  // The leaves at the position, or with Flat (and always in a flat space)
  // every leaf of the space by its full item identifier.
  void ShowLeafs(bool Flat);
  int GetCount() const { return items_.GetCount(); }
  // PositionList joined with "."; empty at the root.
  std::string GetCurrentPosition() const;
  // The full item identifier of the leaf `Name` at the position; empty
  // after a reported failure.
  std::string GetItemId(const std::string& Name);
  // The access paths of `ItemID` into `Strings` (cleared first).
  void GetAccessPath(const std::string& ItemID, TStrings& Strings);

  // The names of the last listing and the branch path of the position; both
  // owned by the browser.
  TStringList& GetItems() { return items_; }
  const TStringList& GetItems() const { return items_; }
  TStringList& Items() { return items_; }
  TStringList& GetPositionList() { return positionList_; }
  const TStringList& GetPositionList() const { return positionList_; }
  TStringList& PositionList() { return positionList_; }

  void Notification(TComponent* component, TOperation operation) override;

 private:
  // One ChangeBrowsePosition after the organisation check; true when the
  // server accepted it. Whatever is raised after the check is swallowed.
  bool Move(OPCBROWSEDIRECTION direction, const std::string& text);
  // The listing itself, once the organisation is known; Items is cleared
  // already.
  void List(OPCBROWSETYPE browseType, std::int32_t organization);

  // Field order follows the component's data model.
  OPCAcesstype accessRights_;
  OPCADatatype datatype_ = vtEMPTY;
  std::string filter_;
  TXeloServer* server_ = nullptr;
  com::ComPtr<IOPCBrowseServerAddressSpace> browser_;
  TStringList items_;
  TStringList positionList_;
  std::int32_t organization_ = -1;
};

}  // namespace xelo
