// xelo: the command-line OPC Data Access client.
#include "Cli.h"

int main(int argc, char** argv) { return xelo::cli::RunCli(argc, argv); }
