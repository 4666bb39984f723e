// Item arguments from standard input: a "-" among a command's arguments
// stands for the lines a pipe or a file gives it, one argument per line,
// so that a list of thousands of items needs no command line that long.
#pragma once

#include "Session.h"

#include <functional>
#include <string>
#include <vector>

namespace xelo::cli {

// Checks one line; throws UsageError saying what is wrong with it.
using LineCheck = std::function<void(const std::string& line)>;

// The server and the arguments of a command that takes `what` ("ITEM",
// "ITEM=VALUE"): SplitServer's, with a "-" replaced by the lines of
// standard input in their place. A line ending in CR LF loses the CR;
// blank lines are skipped; everything else of a line is kept, blanks
// included (an identifier may have them).
// UsageError: no argument at all, "-" given twice, standard input with no
// line but blank ones, a line with a NUL byte or one `check` refuses
// ("standard input, line 3: ..."). RuntimeFailure when standard input
// cannot be read.
ServerAndArguments CommandArguments(const CommonOptions& options, const std::vector<std::string>& arguments,
                                    const std::string& what, const LineCheck& check = {});

}  // namespace xelo::cli
