// xelo props: the properties of items, with their values.
#include "Commands.h"
#include "ExitCodes.h"
#include "Output.h"
#include "ResultCodes.h"
#include "Session.h"
#include "StandardInput.h"
#include "Values.h"

#include <CLI/CLI.hpp>

#include <iostream>
#include <memory>

namespace xelo::cli {

namespace {

struct PropsOptions {
  std::vector<std::string> arguments;  // [SERVER] ITEM...
};

// The value as the library shows it; for the standard properties that are
// codes, with the words the code stands for.
Cell PropertyValueCell(const TXeloItemProperty& property) {
  Cell cell = ValueCell(property.Value);
  if (property.Value.IsEmpty()) return cell;
  try {
    switch (property.PropertyID) {
      case 1:  // Item Canonical Data Type
        cell.text += " (" + TypeName(static_cast<VARTYPE>(property.Value.ToInt32())) + ")";
        break;
      case 3:  // Item Quality
        cell.text += " (" + QualityToStr(static_cast<WORD>(property.Value.ToInt32())) + ")";
        break;
      case 5: {  // Item Access Rights
        const std::int32_t rights = property.Value.ToInt32();
        std::string words;
        if ((rights & OPC_READABLE) != 0) words += "read";
        if ((rights & OPC_WRITEABLE) != 0) words += words.empty() ? "write" : "/write";
        if (!words.empty()) cell.text += " (" + words + ")";
        break;
      }
      default:
        break;
    }
  } catch (const EConvertError&) {
    // A server with an odd value for a standard property: show it as it is.
  }
  return cell;
}

int Run(const Context& context, const PropsOptions& options) {
  const ServerAndArguments split = CommandArguments(context.options, options.arguments, "ITEM");

  Session session(context);
  session.Connect(split.server);
  std::vector<Column> columns{{"item", "item"},   {"id", "id"},       {"description", "description"},
                              {"type", "type"},   {"value", "value"}, {"error", "error"}};
  for (Column& column : ErrorCodeColumns()) columns.push_back(std::move(column));
  Report report(std::move(columns));
  int failed = 0;
  for (const std::string& id : split.arguments) {
    const auto fail = [&](const char* message, std::optional<HRESULT> code) {
      ++failed;
      Row row{Cell::Text(id), Cell::Null(), Cell::Null(), Cell::Null(), Cell::Null(), Cell::Text(message)};
      AddErrorCodeCells(row, code);
      report.Add(std::move(row));
    };
    // One list per item: an item the server does not know fails alone.
    try {
      TXeloItemProperties properties(&session.Server(), id);
      if (properties.GetCount() == 0) context.log.Warning("item " + id + ": the server reports no properties");
      for (int i = 0; i < properties.GetCount(); ++i) {
        const TXeloItemProperty& property = *properties.GetItem(i);
        report.Add({Cell::Text(id), Cell::Integer(property.PropertyID), Cell::Text(property.Description),
                    Cell::Text(TypeName(static_cast<VARTYPE>(property.DataType))), PropertyValueCell(property),
                    Cell::Null(), Cell::Null(), Cell::Null()});
      }
    } catch (const EOPCException& e) {
      // The library's exception carries the text of an OPC code only.
      fail(e.what(), ResultCodeOfMessage(e.what()));
    } catch (const EOleSysError& e) {
      fail(e.what(), e.ErrorCode());
    }
  }
  report.Print(std::cout, context.options.format);
  return failed > 0 ? kExitItemsFailed : kExitOk;
}

}  // namespace

Command AddPropsCommand(CLI::App& parent, Context& context) {
  auto options = std::make_shared<PropsOptions>();
  CLI::App* app = parent.add_subcommand("props", "Show the properties of items: id, description, type, value");
  AddServerArguments(*app, options->arguments, "ITEM", "[SERVER] ITEM...",
                     "the items; - reads them from standard input, one per line", true);
  return {app, [&context, options] { return Run(context, *options); }};
}

}  // namespace xelo::cli
