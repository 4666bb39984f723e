// What the simulation server remembers of the last call of a method, for
// tests that check what a client passed. Only the fields that the method
// has are set; the rest stay empty.
#pragma once

#include "xelo/com/WinTypes.h"
#include "xelo/opc/OpcTypes.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace xelo::sim {

struct CallArguments {
  std::optional<DWORD> transactionId;          // async calls (client's id; DA 1.0: the id handed out)
  std::optional<DWORD> cancelId;               // Cancel2 / Cancel
  std::optional<DWORD> connection;             // DA 1.0 connection token
  std::optional<OPCDATASOURCE> dataSource;     // sync Read, Refresh2, DA 1.0 Read/Refresh
  std::optional<OPCBROWSETYPE> browseType;     // BrowseOPCItemIDs
  std::optional<OPCBROWSEDIRECTION> browseDirection;  // ChangeBrowsePosition
  std::optional<VARTYPE> dataTypeFilter;       // BrowseOPCItemIDs
  std::optional<DWORD> accessMask;             // BrowseOPCItemIDs
  std::optional<DWORD> requestedRate;          // AddGroup, SetState
  std::optional<LCID> locale;                  // AddGroup, SetState, SetLocaleID, GetErrorString
  std::optional<BOOL> flag;                    // bActive / bForce / bEnable / bBlobUpdate
  std::optional<HRESULT> code;                 // GetErrorString
  std::optional<DWORD> handle;                 // RemoveGroup
  std::optional<DWORD> count;                  // per-item calls: dwCount
  std::u16string text;                         // group name, filter, browse string, item id, client name
  std::vector<std::u16string> itemIds;         // AddItems / ValidateItems
  std::vector<DWORD> propertyIds;              // item property calls
  std::vector<VARTYPE> requestedTypes;         // AddItems / ValidateItems / SetDatatypes

  // Fluent filling: CallArguments().Set(&CallArguments::locale, lcid).
  template <class Field, class Value>
  CallArguments& Set(Field CallArguments::*field, Value&& value) {
    this->*field = std::forward<Value>(value);
    return *this;
  }
};

}  // namespace xelo::sim
