// The whole command-line program: parses the arguments, runs the chosen
// subcommand and turns every outcome into one of the exit codes.
#pragma once

namespace xelo::cli {

int RunCli(int argc, char** argv);

}  // namespace xelo::cli
