#include "xelo/core/XeloGroups.h"

#include "xelo/core/XeloErrors.h"
#include "xelo/core/XeloServer.h"
#include "xelo/core/XeloStrings.h"
#include "xelo/framework/SysUtils.h"

namespace xelo {

TXeloGroups::TXeloGroups(TXeloServer* server) : TCollection(server, TXeloGroup::StaticClass()), server_(server) {}

TClass TXeloGroups::StaticClass() {
  static const TMetaClass meta = TClassBuilder<TXeloGroups>("TXeloGroups").Build();
  return &meta;
}

void TXeloGroups::SetItem(int index, TXeloGroup* group) { GetItem(index)->Assign(group); }

TXeloGroup* TXeloGroups::Add(const std::string& Name) {
  if (Exists(Name) != -1 || Trim(Name).empty()) throw EOPCException(Format(_STR_GROUPEXITS, Name));
  auto* group = static_cast<TXeloGroup*>(TCollection::Add());
  group->SetName(Name);
  if (server_ != nullptr && server_->Connected() &&
      !server_->GetComponentState().Contains(csDesigning)) {
    group->OPCAddGroup();
  }
  return group;
}

int TXeloGroups::Exists(const std::string& Name) const {
  for (int i = 0; i < GetCount(); ++i) {
    if (GetItem(i)->GetName() == Name) return i;
  }
  return -1;
}

TXeloGroup* TXeloGroups::GetOPCGroup(const std::string& Name) const {
  const int index = Exists(Name);
  return index >= 0 ? GetItem(index) : nullptr;
}

void TXeloGroups::Remove(const std::string& Name) {
  const int index = Exists(Name);
  if (index < 0) throw EOPCException(_STR_GROUPNOTFOUND);
  Delete(index);
}

void TXeloGroups::RemoveAllOPCGroups() {
  for (int i = 0; i < GetCount(); ++i) GetItem(i)->OPCRemoveGroup();
}

void TXeloGroups::AbandonAllOPCGroups() {
  for (int i = 0; i < GetCount(); ++i) GetItem(i)->OPCAbandonGroup();
}

void TXeloGroups::RemoveAll() {
  RemoveAllOPCGroups();
  Clear();
}

void TXeloGroups::CreateAllOPCGroups() {
  for (int i = 0; i < GetCount(); ++i) {
    if (!GetItem(i)->IsOnServer()) GetItem(i)->OPCAddGroup();
  }
}

}  // namespace xelo
