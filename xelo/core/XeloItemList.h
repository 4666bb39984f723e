// TXeloItemList: an ordered list of items that a batch operation, a read or
// a write works on, and that the server component hands to its data-change
// and write events.
//
// Ownership: the list never owns its items; freeing it leaves them alone.
// Whoever creates a list frees it; a list given to an event handler is
// freed by the server component when the handler returns, so a handler must
// not keep it. The same item may appear more than once.
// Thread: the main thread.
#pragma once

#include "xelo/com/WinTypes.h"
#include "xelo/framework/List.h"

#include <string>
#include <vector>

namespace xelo {

class TXeloItem;
class TXeloItems;

class TXeloItemList : public TList {
 public:
  // An empty list, filled with Add.
  TXeloItemList() = default;
  // Every item of the collection, in collection order.
  explicit TXeloItemList(const TXeloItems& items);
  // The one item.
  explicit TXeloItemList(TXeloItem* item);

  int Add(TXeloItem* item) { return TList::Add(item); }
  TXeloItem* GetItem(int index) const { return static_cast<TXeloItem*>(Get(index)); }
  void PutItem(int index, TXeloItem* item) { Put(index, item); }
  TXeloItem* operator[](int index) const { return GetItem(index); }
  // The entries in list order, for range-for over large lists:
  //   for (TXeloItem* item : list.Entries()) ...
  class EntryIterator {
   public:
    explicit EntryIterator(std::vector<void*>::const_iterator at) : at_(at) {}
    TXeloItem* operator*() const { return static_cast<TXeloItem*>(*at_); }
    EntryIterator& operator++() {
      ++at_;
      return *this;
    }
    bool operator!=(const EntryIterator& other) const { return at_ != other.at_; }

   private:
    std::vector<void*>::const_iterator at_;
  };
  struct EntryRange {
    EntryIterator first;
    EntryIterator last;
    EntryIterator begin() const { return first; }
    EntryIterator end() const { return last; }
  };
  EntryRange Entries() const { return {EntryIterator(begin()), EntryIterator(end())}; }

  // Reports every entry whose LastError is not 0: Msg on the first line,
  // then "<ItemID>- <error text>" for each of the first 26 failed entries,
  // each line ended by CR LF. With RaiseIt the text is raised as
  // EOPCException, otherwise shown in a message box. Nothing happens when
  // no entry failed.
  void CheckOPCErrors(const std::string& Msg, bool RaiseIt) const;
  // Raises EOPCException "item %s not exists on OPCServer" for the first
  // entry that is not on the server.
  void CheckAllActiveOnServer() const;
};

// The text of an item's error code: the OPC text, or "unknown error : %d"
// for a code without one. Empty for 0.
std::string ItemErrorText(HRESULT code);

}  // namespace xelo
