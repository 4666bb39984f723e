// TXeloGroups: the groups of a server component (its OPCGroups).
//
// Names: Add refuses a name that is in use or blank; lookups compare names
// exactly (case-sensitive). Groups keep their definitions when they leave
// the server; RemoveAll also destroys them.
//
// Thread: the main thread.
#pragma once

#include "xelo/core/XeloGroup.h"
#include "xelo/framework/Collection.h"

#include <string>

namespace xelo {

class TXeloServer;

class TXeloGroups : public TCollection {
  XELO_CLASS(TXeloGroups, TCollection)

 public:
  explicit TXeloGroups(TXeloServer* server);

  TXeloServer* GetServer() const { return server_; }
  TXeloGroup* GetItem(int index) const { return static_cast<TXeloGroup*>(TCollection::GetItem(index)); }
  // The collection's item assignment.
  void SetItem(int index, TXeloGroup* group);

  // A new group named `Name` (as given, untrimmed), created on the server
  // when the server component is connected (and not in a designer).
  // EOPCException "group %s already exists" for a name in use or blank.
  TXeloGroup* Add(const std::string& Name);
  // Index of the first group named exactly `Name`, or -1.
  int Exists(const std::string& Name) const;
  TXeloGroup* GetOPCGroup(const std::string& Name) const;
  // Destroys the group (which leaves the server first). EOPCException
  // "group not found" for an unknown name.
  void Remove(const std::string& Name);
  // Takes every group off the server, in index order; definitions stay.
  void RemoveAllOPCGroups();
  // The server died: every group is off it, without asking it anything
  // (TXeloGroup::OPCAbandonGroup).
  void AbandonAllOPCGroups();
  // Takes every group off the server, then destroys them all.
  void RemoveAll();
  // Puts every group that is not on the server there, in index order. The
  // first failure raises and leaves the later groups defined.
  void CreateAllOPCGroups();

 private:
  TXeloServer* server_;
};

}  // namespace xelo
