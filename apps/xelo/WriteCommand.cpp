// xelo write: write values given as text, each converted to its item's
// canonical type first, and report every item's result.
#include "Commands.h"
#include "ExitCodes.h"
#include "Output.h"
#include "Session.h"
#include "StandardInput.h"
#include "Values.h"

#include <CLI/CLI.hpp>

#include <iostream>
#include <memory>

namespace xelo::cli {

namespace {

struct WriteOptions {
  std::vector<std::string> arguments;  // [SERVER] ITEM=VALUE...
  bool async = false;
};

struct Assignment {
  std::string id;
  std::string text;
  TXeloItem* item = nullptr;
  VARTYPE type = VT_EMPTY;
  std::string problem;  // why nothing was written, before the server was asked
};

// One ITEM=VALUE, from the command line or a line of standard input.
Assignment ParseAssignment(const std::string& argument) {
  // The first "=" separates: values may contain "=", item ids hardly.
  const std::string::size_type equals = argument.find('=');
  if (equals == std::string::npos || equals == 0) throw UsageError("'" + argument + "' is no ITEM=VALUE");
  Assignment assignment;
  assignment.id = argument.substr(0, equals);
  assignment.text = argument.substr(equals + 1);
  return assignment;
}

std::vector<Assignment> ParseAssignments(const std::vector<std::string>& arguments) {
  std::vector<Assignment> assignments;
  for (const std::string& argument : arguments) assignments.push_back(ParseAssignment(argument));
  return assignments;
}

// The item's canonical type: as its property 1 says, else as the server
// said when the item was added.
VARTYPE CanonicalType(TXeloServer& server, const TXeloItem& item) {
  Variant property;
  if (server.GetItemProperty(item.GetItemID(), 1, property)) {
    try {
      return static_cast<VARTYPE>(property.ToInt32());
    } catch (const EConvertError&) {
      // A server with a strange property 1: the add's answer will do.
    }
  }
  return static_cast<VARTYPE>(item.GetCanonicalDatatype());
}

// Waits for the completion event of an asynchronous write.
void AwaitCompletion(Session& session) {
  bool completed = false;
  TXeloServer& server = session.Server();
  const auto done = [&completed](TPersistent*, TXeloItemList*) { completed = true; };
  server.SetOnWriteComplete(done);
  server.SetOnWriteError(done);
  if (!session.Pump([&] { return completed || session.ShutdownRequested(); }, session.Timeout())) {
    throw RuntimeFailure("the server did not complete the write in time (--timeout)");
  }
  if (session.ShutdownRequested()) throw RuntimeFailure("the server shut down before the write completed");
}

int Run(const Context& context, const WriteOptions& options) {
  const ServerAndArguments split = CommandArguments(context.options, options.arguments, "ITEM=VALUE",
                                                   [](const std::string& line) { ParseAssignment(line); });
  std::vector<Assignment> assignments = ParseAssignments(split.arguments);
  std::vector<std::string> ids;
  for (const Assignment& assignment : assignments) ids.push_back(assignment.id);

  Session session(context);
  session.Connect(split.server);
  // Inactive: a write needs no subscription.
  TXeloGroup& group = session.AddGroup("xelo", GroupSettings{1000, 0.0f, false}, ids);

  TXeloItemList writes;
  for (std::size_t i = 0; i < assignments.size(); ++i) {
    Assignment& assignment = assignments[i];
    assignment.item = group.GetOPCItems()->GetItem(static_cast<int>(i));
    if (!assignment.item->IsOnServer()) continue;
    assignment.type = CanonicalType(session.Server(), *assignment.item);
    try {
      assignment.item->SetWriteValue(AStrToVar(assignment.text, assignment.type));
    } catch (const EConvertError& e) {
      assignment.problem = "cannot convert '" + assignment.text + "' to " + TypeName(assignment.type) + ": " + e.what();
      continue;
    }
    writes.Add(assignment.item);
  }
  if (writes.GetCount() > 0) {
    if (options.async) {
      // Starting may already fail for some items; the others complete later.
      group.AsyncWrite(&writes);
      bool started = false;
      for (int i = 0; i < writes.GetCount(); ++i) started = started || SUCCEEDED(writes.GetItem(i)->GetLastError());
      if (started) AwaitCompletion(session);
    } else {
      group.SyncWrite(&writes);
    }
  }

  std::vector<Column> columns{
      {"item", "item"}, {"value", "value"}, {"type", "type"}, {"result", "result"}, {"error", "error", false}};
  for (Column& column : ErrorCodeColumns()) columns.push_back(std::move(column));
  Report report(std::move(columns));
  int failed = 0;
  for (const Assignment& assignment : assignments) {
    const TXeloItem& item = *assignment.item;
    std::string error;
    if (!assignment.problem.empty()) {
      error = assignment.problem;
    } else if (ItemFailed(item)) {
      error = item.GetLastError() != 0 ? ItemErrorText(item.GetLastError()) : "not on the server";
    }
    if (!error.empty()) ++failed;
    const bool converted = assignment.problem.empty() && item.IsOnServer();
    // A success code such as the clamp notice is no failure but worth a word.
    std::string result = error.empty() ? "ok" : error;
    if (error.empty() && item.GetLastError() != 0) result = "ok: " + ItemErrorText(item.GetLastError());
    Row row{Cell::Text(assignment.id), converted ? ValueCell(item.GetWriteValue()) : Cell::Text(assignment.text),
            item.IsOnServer() && assignment.type != VT_EMPTY ? Cell::Text(TypeName(assignment.type)) : Cell::Null(),
            Cell::Text(result), Cell::OptionalText(error)};
    // A value that did not convert never reached the server: no code.
    AddErrorCodeCells(row, assignment.problem.empty() ? std::optional(item.GetLastError()) : std::nullopt);
    report.Add(std::move(row));
  }
  report.Print(std::cout, context.options.format);
  return failed > 0 ? kExitItemsFailed : kExitOk;
}

}  // namespace

Command AddWriteCommand(CLI::App& parent, Context& context) {
  auto options = std::make_shared<WriteOptions>();
  CLI::App* app = parent.add_subcommand(
      "write", "Write values, given as text and converted to each item's canonical type; per-item results");
  AddServerArguments(*app, options->arguments, "ITEM=VALUE", "[SERVER] ITEM=VALUE...",
                     "item identifiers with the values to write (arrays as 1;2;3); - reads them from standard "
                     "input, one ITEM=VALUE per line (the value is the rest of the line, blanks included)",
                     true);
  app->add_flag("--async", options->async, "write asynchronously and wait for the server's completion");
  return {app, [&context, options] { return Run(context, *options); }};
}

}  // namespace xelo::cli
