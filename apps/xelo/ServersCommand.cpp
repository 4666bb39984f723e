// xelo servers: the OPC servers of a computer, as its OPC server enumerator
// sees them, or as this computer's class registrations list them.
#include "Commands.h"
#include "ExitCodes.h"
#include "Output.h"

#include "xelo/com/ClassRegistry.h"
#include "xelo/com/Guid.h"
#include "xelo/com/TaskMemory.h"
#include "xelo/com/WideText.h"
#include "xelo/core/Xelo.h"
#include "xelo/framework/Strings.h"

#include <CLI/CLI.hpp>

#include <iostream>
#include <map>
#include <memory>

namespace xelo::cli {

namespace {

struct ServersOptions {
  std::vector<std::string> categories{"da1", "da2", "ae"};
  bool registry = false;
};

const std::vector<Column>& ServerColumns() {
  static const std::vector<Column> columns{
      {"progId", "ProgID"}, {"classId", "class id"}, {"description", "description"}, {"categories", "categories"}};
  return columns;
}

Cell CategoriesCell(tXeloServerSet types) {
  // In the order the enumerator is asked.
  Json json = Json::array();
  std::string text;
  const std::pair<tXeloServerType, const char*> names[] = {{svr_DA10, "da1"}, {svr_DA20, "da2"}, {svr_AE10, "ae"}};
  for (const auto& [type, name] : names) {
    if (!types.Contains(type)) continue;
    json.push_back(name);
    if (!text.empty()) text += ',';
    text += name;
  }
  return {json, text};
}

std::string ClassIdOf(const std::string& progId) {
  const com::OleString wide = StringToWide(progId);
  CLSID clsid{};
  if (FAILED(com::ClassIdFromProgId(wide.c_str(), &clsid))) return {};
  LPOLESTR text = nullptr;
  if (FAILED(StringFromCLSID(clsid, &text))) return {};
  std::string result = com::ToUtf8(text);
  CoTaskMemFree(text);
  return result;
}

int Run(const Context& context, const ServersOptions& options) {
  if (options.registry) {
    // The registrations name the servers only; the enumerator knows more.
    Report report({{"progId", "ProgID"}, {"classId", "class id"}});
    if (!context.options.computer.empty()) throw UsageError("--registry lists this computer's servers only");
    TStringList progIds;
    GetOPCServers(progIds);
    for (int i = 0; i < progIds.GetCount(); ++i) {
      const std::string progId = progIds.Get(i);
      report.Add({Cell::Text(progId), Cell::OptionalText(ClassIdOf(progId))});
    }
    report.Print(std::cout, context.options.format);
    return kExitOk;
  }
  Report report(ServerColumns());
  {
    tXeloServerSet types;
    for (const std::string& category : options.categories) {
      if (category == "da1") types.Include(svr_DA10);
      if (category == "da2") types.Include(svr_DA20);
      if (category == "ae") types.Include(svr_AE10);
    }
    TxeloServerBrowser browser(nullptr);
    browser.SetComputerName(context.options.computer);
    browser.SetServertype(types);
    try {
      browser.Execute();
    } catch (const std::exception& e) {
      const std::string where = context.options.computer.empty() ? "this computer" : context.options.computer;
      throw RuntimeFailure("cannot list the servers of " + where + ": " + e.what());
    }
    for (int i = 0; i < browser.GetCount(); ++i) {
      const TxeloServerItem& server = *browser.GetItems(i);
      report.Add({Cell::Text(server.ProgID), Cell::OptionalText(server.ClassID), Cell::OptionalText(server.UserType),
                  CategoriesCell(server.ServerTypes)});
    }
  }
  report.Print(std::cout, context.options.format);
  return kExitOk;
}

}  // namespace

Command AddServersCommand(CLI::App& parent, Context& context) {
  auto options = std::make_shared<ServersOptions>();
  CLI::App* app = parent.add_subcommand("servers", "List the OPC servers of this or another computer");
  app->add_option("--categories", options->categories, "server categories to list: da1, da2, ae")
      ->delimiter(',')
      ->check(CLI::IsMember({"da1", "da2", "ae"}, CLI::ignore_case))
      ->default_str("da1,da2,ae");
  app->add_flag("--registry", options->registry,
                "list this computer's class registrations of OPC servers instead of asking its enumerator");
  return {app, [&context, options] { return Run(context, *options); }};
}

}  // namespace xelo::cli
