#include "ItemRows.h"

#include "DisplayText.h"

#include "Session.h"
#include "Values.h"

#include "xelo/core/Xelo.h"

#include <algorithm>

namespace xelo::cli {

std::vector<Column> ItemColumns(bool withGroup) {
  std::vector<Column> columns;
  if (withGroup) columns.push_back({"group", "group"});
  columns.push_back({"item", "item"});
  columns.push_back({"value", "value"});
  columns.push_back({"type", "type"});
  columns.push_back({"quality", "quality"});
  columns.push_back({"timestamp", "timestamp"});
  columns.push_back({"error", "error"});
  for (Column& column : ErrorCodeColumns()) columns.push_back(std::move(column));
  columns.push_back({"qualityCode", "quality code", false});
  return columns;
}

namespace {

// An item whose server was lost keeps its last value, with the bad
// quality the loss gave it: that is the row worth showing, not "not on the
// server".
bool LostWithItsServer(const TXeloItem& item) {
  const TXeloGroup* group = item.GetGroup();
  return group != nullptr && group->GetServer() != nullptr && group->GetServer()->GetConnectionLost() &&
         !FAILED(item.GetLastError());
}

}  // namespace

Row ItemRow(const TXeloItem& item, bool withGroup, StampZone zone) {
  Row row;
  if (withGroup) row.push_back(Cell::Text(item.GetGroup() != nullptr ? item.GetGroup()->GetName() : std::string()));
  row.push_back(Cell::Text(item.GetItemID()));
  if (ItemFailed(item) && !LostWithItsServer(item)) {
    row.push_back(Cell::Null());
    row.push_back(Cell::Null());
    row.push_back(Cell::Null());
    row.push_back(Cell::Null());
    // An item that never reached the server may carry no code of its own.
    row.push_back(item.GetLastError() != 0 ? ErrorCell(item.GetLastError()) : Cell::Text("not on the server"));
    AddErrorCodeCells(row, item.GetLastError());
    row.push_back(Cell::Null());
    return row;
  }
  const auto quality = static_cast<WORD>(item.GetQuality());
  row.push_back(ValueCell(item.GetValue()));
  row.push_back(item.GetValue().IsEmpty() ? Cell::Null() : Cell::Text(TypeName(item.GetValue().VarType())));
  row.push_back(QualityCell(quality));
  row.push_back(TimeStampCell(item.GetTimeStamp(), item.GetTimeStampUTC(), zone));
  // A success code other than 0 (a clamp notice, say) is worth showing.
  row.push_back(ErrorCell(item.GetLastError()));
  AddErrorCodeCells(row, item.GetLastError());
  row.push_back(Cell::Integer(quality));
  return row;
}

std::vector<std::size_t> ItemWidths(const std::vector<const TXeloItem*>& items, bool withGroup) {
  std::size_t group = 0;
  std::size_t id = 0;
  for (const TXeloItem* item : items) {
    if (item->GetGroup() != nullptr) group = std::max(group, DisplayWidth(CellText(item->GetGroup()->GetName())));
    id = std::max(id, DisplayWidth(CellText(item->GetItemID())));
  }
  // Values, types and qualities vary. The value column fits every number
  // and date the library writes ("-2.2250738585072014E-308" is the longest);
  // a longer text widens its column from that row on.
  std::vector<std::size_t> widths;
  if (withGroup) widths.push_back(group);
  widths.insert(widths.end(), {id, 24, 8, 9, 23, 0, 0, 0, 0});
  return widths;
}

}  // namespace xelo::cli
