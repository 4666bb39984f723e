// Scripted sessions of xelo-inspector: a file of commands that drive the
// window as a user would (the same buttons, menus and dialogs), for tests,
// demonstrations and screenshots.
//
//   connect [SERVER]          types the server name (if given), clicks Connect
//   disconnect                clicks Disconnect
//   add-group NAME [RATE]     "Add Group..." with that name and update rate
//   select-group NAME         selects the group in the tree
//   add-item ITEM-ID          "Add Item.." choosing the leaf in its branch
//   wait-values [SECONDS]     until every listed item has a value (default 10 s)
//   print-values              one line per listed item: id, value, quality
//   screenshot FILE           saves a PNG of the window
//   save FILE                 saves the component's configuration
//   quit                      closes the window
//
// Blank lines and lines starting with "#" are skipped. A command that fails
// ends the session with a message on stderr and exit code 1.
#pragma once

#include <string>
#include <vector>

namespace xelo {
class TXeloDlgExplorer;
}

namespace xelo::inspector {

// The commands of `path`, or a message in `error`.
bool ReadScript(const std::string& path, std::vector<std::string>& commands, std::string& error);

// Runs the commands on the shown window from Qt's loop; the window closes
// after the last one (or the first failure). `exitCode` gets 0 or 1.
void RunScript(TXeloDlgExplorer& window, std::vector<std::string> commands, int& exitCode);

}  // namespace xelo::inspector
