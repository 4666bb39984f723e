// How read, watch and run show an item: its value, type, quality, time
// stamp and error, optionally with its group.
#pragma once

#include "Output.h"
#include "Values.h"

#include <string>
#include <vector>

namespace xelo {
class TXeloItem;
}

namespace xelo::cli {

std::vector<Column> ItemColumns(bool withGroup);
// The item's state as the library holds it; a failed item shows its error
// (text, code and name) and no value. `zone` chooses the time stamp of
// JSON and CSV.
Row ItemRow(const TXeloItem& item, bool withGroup, StampZone zone);
// Minimum table widths for a stream of rows of these items.
std::vector<std::size_t> ItemWidths(const std::vector<const TXeloItem*>& items, bool withGroup);

}  // namespace xelo::cli
