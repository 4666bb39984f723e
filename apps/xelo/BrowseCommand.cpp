// xelo browse: the server's address space as a tree of branches and items.
#include "Commands.h"
#include "DisplayText.h"
#include "ExitCodes.h"
#include "Output.h"
#include "Session.h"
#include "Values.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <iostream>
#include <memory>

namespace xelo::cli {

namespace {

struct BrowseOptions {
  std::vector<std::string> arguments;  // [SERVER] [PATH]
  bool flat = false;
  std::string filter;
  std::string type;
  std::string rights;
  int depth = 0;  // 0: all levels
  bool ids = false;
};

// The leaf filters of a listing; branches are always listed whole, so that
// a filter on item names does not hide the branches that hold them.
struct LeafFilter {
  std::string name;
  OPCADatatype type = vtEMPTY;
  OPCAcesstype rights;
  bool Active() const { return !name.empty() || type != vtEMPTY || !rights.Empty(); }
};

constexpr std::size_t kType = 0, kDepth = 1, kName = 2, kId = 3;

class TreeWalk {
 public:
  TreeWalk(TXeloBrowser& browser, const LeafFilter& filter, int maxDepth)
      : browser_(browser), filter_(filter), maxDepth_(maxDepth) {}

  // The rows of everything below the browser's position, branches first.
  std::vector<Row> Collect(int depth) {
    std::vector<Row> rows;
    SetFilter(LeafFilter());
    browser_.ShowBranches();
    const std::vector<std::string> branches = Names();
    SetFilter(filter_);
    browser_.ShowLeafs(false);
    const std::vector<std::string> leaves = Names();

    for (const std::string& branch : branches) {
      std::vector<Row> below;
      bool descended = false;
      std::string path;
      if (maxDepth_ <= 0 || depth + 1 < maxDepth_) {
        if (browser_.MoveDown(branch)) {
          path = browser_.GetCurrentPosition();
          below = Collect(depth + 1);
          descended = true;
          browser_.Moveup();
        }
      }
      if (path.empty()) path = Join(browser_.GetCurrentPosition(), branch);
      // With a filter, a branch without a matching item below is noise.
      if (filter_.Active() && descended && below.empty()) continue;
      rows.push_back(BranchRow(depth, branch, path));
      rows.insert(rows.end(), std::make_move_iterator(below.begin()), std::make_move_iterator(below.end()));
    }
    // In a flat space the names are the item identifiers already.
    const bool hierarchical = browser_.GetOrganization() == OPC_NS_HIERARCHIAL;
    for (const std::string& leaf : leaves) {
      std::string id = hierarchical ? browser_.GetItemId(leaf) : leaf;
      rows.push_back(ItemRow(depth, leaf, id.empty() ? leaf : id));
    }
    return rows;
  }

  std::vector<Row> CollectFlat() {
    SetFilter(filter_);
    browser_.ShowLeafs(true);
    std::vector<Row> rows;
    for (const std::string& id : Names()) rows.push_back(ItemRow(0, id, id));
    return rows;
  }

 private:
  static std::string Join(const std::string& path, const std::string& name) {
    return path.empty() ? name : path + "." + name;
  }
  static Row BranchRow(int depth, const std::string& name, const std::string& path) {
    return {Cell::Text("branch"), Cell::Integer(depth), Cell::Text(name), Cell::Text(path)};
  }
  static Row ItemRow(int depth, const std::string& name, const std::string& id) {
    return {Cell::Text("item"), Cell::Integer(depth), Cell::Text(name), Cell::Text(id)};
  }

  void SetFilter(const LeafFilter& filter) {
    browser_.SetFilter(filter.name);
    browser_.SetDatatype(filter.type);
    browser_.SetAccessRights(filter.rights);
  }

  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    const TStringList& items = browser_.GetItems();
    for (int i = 0; i < items.GetCount(); ++i) names.push_back(items.Get(i));
    return names;
  }

  TXeloBrowser& browser_;
  LeafFilter filter_;
  int maxDepth_;
};

// The tree for people: two blanks per level, branches marked with "/",
// item identifiers in a column of their own on request.
void PrintTree(std::ostream& out, const std::vector<Row>& rows, bool ids) {
  std::vector<std::string> names;
  std::size_t width = 0;
  for (const Row& row : rows) {
    const auto depth = static_cast<std::size_t>(row[kDepth].json.get<long long>());
    std::string name = std::string(2 * depth, ' ') + CellText(row[kName].text);
    if (row[kType].text == "branch") name += '/';
    width = std::max(width, DisplayWidth(name));
    names.push_back(std::move(name));
  }
  for (std::size_t i = 0; i < rows.size(); ++i) {
    out << names[i];
    if (ids && rows[i][kType].text == "item" && rows[i][kName].text != rows[i][kId].text)
      out << std::string(width - DisplayWidth(names[i]) + 2, ' ') << CellText(rows[i][kId].text);
    out << '\n';
  }
}

LeafFilter ParseFilter(const BrowseOptions& options) {
  LeafFilter filter;
  filter.name = options.filter;
  if (!options.type.empty()) {
    const std::optional<VARTYPE> type = ParseTypeName(options.type);
    if (!type || (*type & VT_ARRAY) != 0) {
      throw UsageError("--type: '" + options.type + "' is no type name (vtI4, vtR8, vtBSTR, ...)");
    }
    filter.type = static_cast<OPCADatatype>(*type);
  }
  if (options.rights.find('r') != std::string::npos) filter.rights.Include(opcReadable);
  if (options.rights.find('w') != std::string::npos) filter.rights.Include(opcWritable);
  return filter;
}

int Run(const Context& context, const BrowseOptions& options) {
  const LeafFilter filter = ParseFilter(options);
  const ServerAndArguments split = SplitServer(context.options, options.arguments);
  if (split.arguments.size() > 1) throw UsageError("one PATH at most (a branch name joined with \".\")");
  const std::string path = split.arguments.empty() ? std::string() : split.arguments.front();

  Session session(context);
  session.Connect(split.server);
  TXeloBrowser& browser = *session.Server().GetOPCBrowser();
  if (!path.empty() && !browser.Moveto(path)) {
    const std::string why = session.LastFault().empty() ? "" : " (" + session.LastFault() + ")";
    throw RuntimeFailure("no branch '" + path + "' on " + split.server + why);
  }
  TreeWalk walk(browser, filter, options.depth);
  Report report({{"type", "type"}, {"depth", "depth"}, {"name", "name"}, {"id", "id"}});
  for (Row& row : options.flat ? walk.CollectFlat() : walk.Collect(0)) report.Add(std::move(row));
  report.SetTableRenderer(
      [&options](std::ostream& out, const std::vector<Row>& rows) { PrintTree(out, rows, options.ids); });
  report.Print(std::cout, context.options.format);
  return kExitOk;
}

}  // namespace

Command AddBrowseCommand(CLI::App& parent, Context& context) {
  auto options = std::make_shared<BrowseOptions>();
  CLI::App* app = parent.add_subcommand("browse", "Show the server's address space as a tree");
  AddServerArguments(*app, options->arguments, "PATH", "[SERVER] [PATH]",
                     "the branch to start at, its names joined with \".\"", false);
  app->add_flag("--flat", options->flat, "list every item below PATH by its item identifier, without branches");
  app->add_option("--filter", options->filter, "item name pattern in the server's syntax, e.g. 'R*'");
  app->add_option("--type", options->type, "only items of this data type, e.g. vtR8");
  app->add_option("--rights", options->rights, "only items with these access rights: r, w or rw")
      ->check(CLI::IsMember({"r", "w", "rw", "wr"}));
  CheckPositive(*app->add_option("--depth", options->depth, "levels to show (default: all)"));
  app->add_flag("--ids", options->ids, "show the full item identifiers in the tree");
  return {app, [&context, options] { return Run(context, *options); }};
}

}  // namespace xelo::cli
