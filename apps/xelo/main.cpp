// xelo: the command-line OPC Data Access client.
#include "Cli.h"

#include "xelo/com/ClassRegistry.h"
#include "xelo/platform/Platform.h"

#include <string>
#include <vector>

int main(int argc, char** argv) {
  // The main thread joins COM before anything is created.
  const xelo::com::ComApartment apartment;
  // The tool works in UTF-8 throughout; Windows hands main its arguments
  // in the ANSI code page.
  std::vector<std::string> arguments = xelo::platform::CommandLineArguments(argc, argv);
  std::vector<char*> pointers;
  for (std::string& argument : arguments) pointers.push_back(argument.data());
  pointers.push_back(nullptr);
  return xelo::cli::RunCli(static_cast<int>(arguments.size()), pointers.data());
}
